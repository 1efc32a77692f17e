#include "platform/ui/TimingFunction.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

double clamp01(double v)
{
    return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0);
}

// One coordinate of the curve at parameter t, with end points 0 and 1.
double bezier(double c1, double c2, double t)
{
    const double u = 1 - t;
    return 3 * u * u * t * c1 + 3 * u * t * t * c2 + t * t * t;
}

double bezierSlope(double c1, double c2, double t)
{
    const double u = 1 - t;
    return 3 * u * u * c1 + 6 * u * t * (c2 - c1) + 3 * t * t * (1 - c2);
}

} // namespace

TimingFunction::TimingFunction(double c1x, double c1y, double c2x, double c2y)
    : mC1x(clamp01(c1x)), mC1y(std::isfinite(c1y) ? c1y : 0.0), mC2x(clamp01(c2x)),
      mC2y(std::isfinite(c2y) ? c2y : 1.0)
{}

TimingFunction TimingFunction::linear()
{
    return {};
}

TimingFunction TimingFunction::easeIn()
{
    return {0.42, 0, 1, 1};
}

TimingFunction TimingFunction::easeOut()
{
    return {0, 0, 0.58, 1};
}

TimingFunction TimingFunction::easeInEaseOut()
{
    return {0.42, 0, 0.58, 1};
}

TimingFunction TimingFunction::defaultFunction()
{
    return {0.25, 0.1, 0.25, 1};
}

double TimingFunction::valueAt(double fraction) const
{
    const double x = clamp01(fraction);
    if (x == 0 || x == 1)
        return x;
    if (isLinear())
        return x;
    // x(t) rises monotonically for control x values in 0..1: Newton steps from t = x, with
    // bisection as the fallback where the slope vanishes.
    double t = x;
    for (int i = 0; i < 8; ++i) {
        const double error = bezier(mC1x, mC2x, t) - x;
        if (std::fabs(error) < 1e-12)
            return bezier(mC1y, mC2y, t);
        const double slope = bezierSlope(mC1x, mC2x, t);
        if (std::fabs(slope) < 1e-6)
            break;
        t = std::clamp(t - error / slope, 0.0, 1.0);
    }
    double lo = 0, hi = 1;
    t = x;
    for (int i = 0; i < 60; ++i) {
        const double value = bezier(mC1x, mC2x, t);
        if (std::fabs(value - x) < 1e-12)
            break;
        (value < x ? lo : hi) = t;
        t = (lo + hi) / 2;
    }
    return bezier(mC1y, mC2y, t);
}

Point TimingFunction::controlPoint(int index) const
{
    switch (index) {
    case 1:
        return {mC1x, mC1y};
    case 2:
        return {mC2x, mC2y};
    case 3:
        return {1, 1};
    default:
        return {0, 0};
    }
}

bool TimingFunction::isLinear() const
{
    // Control points on the diagonal give the identity curve.
    return mC1x == mC1y && mC2x == mC2y;
}

QString TimingFunction::toString() const
{
    if (isLinear())
        return QStringLiteral("linear");
    if (*this == easeIn())
        return QStringLiteral("easeIn");
    if (*this == easeOut())
        return QStringLiteral("easeOut");
    if (*this == easeInEaseOut())
        return QStringLiteral("easeInEaseOut");
    if (*this == defaultFunction())
        return QStringLiteral("default");
    return QStringLiteral("bezier(%1, %2, %3, %4)").arg(mC1x).arg(mC1y).arg(mC2x).arg(mC2y);
}

} // namespace corvex
