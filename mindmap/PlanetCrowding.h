#pragma once

#include "platform/gfx/Point.h"

#include <cstdint>
#include <vector>

namespace corvex {

// How each planet of an orbit is drawn, from where the planets lie: an orbit of thousands of
// children presses most of them together, and a cached drawing of each would cost tens of
// kilobytes a child for planets nobody can tell apart. Planets the layout spreads out keep a
// cached drawing; a planet that shows only a sliver beside the planet above it is drawn when
// it is composited; a planet the nearest drawn planet above it covers (less than half a
// device pixel apart) is not drawn at all. Stateless; any thread.
class PlanetCrowding
{
public:
    enum class Drawing : std::uint8_t
    {
        Cached,
        OnDemand,
        Covered
    };

    // `centres` in stacking order, bottom first; every planet of radius `radius` points on a
    // device of `devicePixelsPerPoint`. A planet is spread out when the nearest drawn planet
    // above it lies at least a quarter of its radius away; the top planet always is.
    static std::vector<Drawing> drawings(const std::vector<Point>& centres, double radius,
                                         double devicePixelsPerPoint);
};

} // namespace corvex
