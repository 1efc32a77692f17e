#include "graphics/Geometry.h"

#include <algorithm>
#include <cmath>

namespace corvex {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
// The float nearest to 2pi (6.2831855), as normalizedAngleFrom uses it.
constexpr float kTwoPiFloat = float(kTwoPi);

float clampProgress(float t)
{
    return std::max(std::min(t, 1.0f), 0.0f);
}

} // namespace

float Geometry::distanceFrom(Point p, Point q)
{
    const double dx = p.x - q.x;
    const double dy = p.y - q.y;
    return std::sqrt(float(dx * dx + dy * dy));
}

float Geometry::length(Point vector)
{
    return std::sqrt(float(vector.x * vector.x + vector.y * vector.y));
}

Point Geometry::translationFrom(Point p, Point q)
{
    return q - p;
}

Point Geometry::addVectors(Point a, Point b)
{
    return a + b;
}

Point Geometry::multiply(Point vector, float factor)
{
    const double f = factor;
    return {vector.x * f, vector.y * f};
}

float Geometry::angleFrom(Point p, Point q)
{
    return std::atan2(float(q.y - p.y), float(q.x - p.x));
}

float Geometry::normalizedAngleFrom(float angle)
{
    const float once = std::fmod(angle, kTwoPiFloat) + kTwoPiFloat;
    return std::fmod(once, kTwoPiFloat);
}

float Geometry::minimumAngleFrom(float a, float b)
{
    const float difference = normalizedAngleFrom(b) - normalizedAngleFrom(a);
    const double d = difference;
    if (d > kPi)
        return float(d - kTwoPi);
    if (d < -kPi)
        return float(d + kTwoPi);
    return float(d);
}

bool Geometry::isAngle(float angle, float b1, float b2)
{
    const float toFirst = std::fabs(minimumAngleFrom(angle, b1));
    const float toSecond = std::fabs(minimumAngleFrom(angle, b2));
    const float sum = toFirst + toSecond;
    // A NaN on either side makes the comparison false.
    return std::fabs(minimumAngleFrom(b1, b2)) >= sum;
}

float Geometry::interpolateAngleFrom(float a, float b, float progress)
{
    const float end = a + minimumAngleFrom(a, b);
    return interpolateLinearlyFrom(a, end, progress);
}

float Geometry::radiansToDegrees(float angle)
{
    const float scaled = angle * 180.0f;
    return float(double(scaled) / kPi);
}

float Geometry::interpolateLinearlyFrom(float a, float b, float progress)
{
    return a + clampProgress(progress) * (b - a);
}

double Geometry::interpolateLinearlyFromDouble(double a, double b, double progress)
{
    return a + std::max(std::min(progress, 1.0), 0.0) * (b - a);
}

Point Geometry::interpolatePointFrom(Point p, Point q, float progress)
{
    const double t = clampProgress(progress);
    return {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
}

Rect Geometry::makeIntegralCGRect(const Rect& r)
{
    // std::round rounds halves away from zero; std::ceil on the float size rounds up.
    return {double(std::round(float(r.origin.x))), double(std::round(float(r.origin.y))),
            double(std::ceil(float(r.size.width))), double(std::ceil(float(r.size.height)))};
}

Transform3D Geometry::makeCentralTransformWithScale(double scale, Size size)
{
    // Each step goes in front of the transform built so far, so a point is moved to the
    // centre's frame first, scaled, then moved back.
    return Transform3D::identity()
        .translate(size.width * 0.5, size.height * 0.5, 0)
        .scale(scale, scale, 1)
        .translate(size.width * -0.5, size.height * -0.5, 0);
}

} // namespace corvex
