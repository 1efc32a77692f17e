#pragma once

#include "platform/gfx/AffineTransform.h"

#include <QTransform>

namespace corvex {

// A 4x4 transform laid out as m11 .. m44, with row vectors; the translation is m41 m42 m43.
// translate/scale/rotate put the new step first (the result applies the step, then this
// transform), as QTransform does in 2D.
struct Transform3D
{
    double m11 = 1, m12 = 0, m13 = 0, m14 = 0;
    double m21 = 0, m22 = 1, m23 = 0, m24 = 0;
    double m31 = 0, m32 = 0, m33 = 1, m34 = 0;
    double m41 = 0, m42 = 0, m43 = 0, m44 = 1;

    static Transform3D identity() { return {}; }
    static Transform3D makeTranslation(double tx, double ty, double tz);
    static Transform3D makeScale(double sx, double sy, double sz);
    // Rotation by `radians` about the axis (x, y, z); a zero axis gives the identity.
    static Transform3D makeRotation(double radians, double x, double y, double z);
    static Transform3D makeAffine(const AffineTransform& t);

    Transform3D translate(double tx, double ty, double tz) const;
    Transform3D scale(double sx, double sy, double sz) const;
    Transform3D rotate(double radians, double x, double y, double z) const;
    // This transform, then `then`.
    Transform3D concat(const Transform3D& then) const;
    Transform3D inverted() const; // itself when not invertible
    bool isIdentity() const;
    bool isAffine() const;
    AffineTransform affine() const; // the 2D part (x, y only)

    // The 2D projection (x, y; z dropped, perspective kept through m14, m24, m44).
    QTransform toQTransform() const;
    Point apply(Point p) const;

    friend bool operator==(const Transform3D&, const Transform3D&) = default;
};

} // namespace corvex
