#pragma once

#include "platform/gfx/Point.h"

#include <QString>

namespace corvex {

// A timing function: the cubic Bézier from (0, 0) to (1, 1) with two control points, mapping
// an animation's elapsed fraction (x) to its progress (y). x outside 0..1 is clamped; the
// answer is never NaN.
class TimingFunction
{
public:
    // Linear.
    TimingFunction() = default;
    // Control point x values are clamped to 0..1 (the curve must stay a function of x).
    TimingFunction(double c1x, double c1y, double c2x, double c2y);

    static TimingFunction linear();
    static TimingFunction easeIn();        // (0.42, 0, 1, 1)
    static TimingFunction easeOut();       // (0, 0, 0.58, 1)
    static TimingFunction easeInEaseOut(); // (0.42, 0, 0.58, 1)
    // The curve of implicit animations when a transaction names none: (0.25, 0.1, 0.25, 1).
    static TimingFunction defaultFunction();

    double valueAt(double fraction) const;
    // Index 0 is (0, 0), 1 and 2 the control points, 3 is (1, 1).
    Point controlPoint(int index) const;
    bool isLinear() const;
    // "linear", "easeIn", ... for the named curves, else "bezier(c1x, c1y, c2x, c2y)".
    QString toString() const;

    friend bool operator==(const TimingFunction&, const TimingFunction&) = default;

private:
    double mC1x = 0, mC1y = 0, mC2x = 1, mC2y = 1;
};

} // namespace corvex
