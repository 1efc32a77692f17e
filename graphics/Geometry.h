#pragma once

#include "platform/gfx/Point.h"
#include "platform/gfx/Rect.h"
#include "platform/gfx/Size.h"
#include "platform/gfx/Transform3D.h"

namespace corvex {

// Plane geometry for the mind-map view and the animations. Stateless.
//
// Precision is part of the contract: angles, distances and progress values are floats,
// points and rectangles doubles, and each operation narrows to float at fixed steps.
// Results near a decision point (isAngle for an angle on the arc) depend on that rounding,
// so the intermediate precision must not be "improved".
class Geometry
{
public:
    Geometry() = delete;

    // sqrt in float of (p - q)^2 summed in double.
    static float distanceFrom(Point p, Point q);
    static float length(Point vector);
    // q - p.
    static Point translationFrom(Point p, Point q);
    static Point addVectors(Point a, Point b);
    static Point multiply(Point vector, float factor);
    // atan2 in float; in the flipped views a growing angle turns clockwise on screen.
    static float angleFrom(Point p, Point q);

    // Into [0, 2pi) with the float nearest to 2pi, for any finite angle.
    static float normalizedAngleFrom(float angle);
    // The signed shortest turn from a to b, in [-pi, pi]; half a circle keeps the sign the
    // subtraction gave.
    static float minimumAngleFrom(float a, float b);
    // Whether `angle` lies on the shorter arc between b1 and b2; a NaN anywhere answers false.
    static bool isAngle(float angle, float b1, float b2);
    // From a towards a + the shortest turn to b; not normalised (6.0 -> 0.2 ends at 6.483).
    static float interpolateAngleFrom(float a, float b, float progress);
    static float radiansToDegrees(float angle);

    // a + clamp(progress, 0, 1) * (b - a).
    static float interpolateLinearlyFrom(float a, float b, float progress);
    static double interpolateLinearlyFromDouble(double a, double b, double progress);
    static Point interpolatePointFrom(Point p, Point q, float progress);

    // Origin rounded (halves away from zero), size rounded up, each through float and each on
    // its own: the far edges are not themselves rounded.
    static Rect makeIntegralCGRect(const Rect& r);
    // Scales by `scale` about the centre of a box of the given size.
    static Transform3D makeCentralTransformWithScale(double scale, Size size);
};

} // namespace corvex
