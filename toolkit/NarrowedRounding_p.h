#pragma once

// Rounding of frame values after narrowing them to float: frames made integral this way
// land on the same pixels as the layout that computed them in single precision.

#include <cmath>

namespace corvex {

// Halves away from zero.
inline double roundNarrowed(double value)
{
    return double(std::round(float(value)));
}

inline double ceilNarrowed(double value)
{
    return double(std::ceil(float(value)));
}

} // namespace corvex
