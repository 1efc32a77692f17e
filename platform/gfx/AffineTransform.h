#pragma once

#include "platform/gfx/Point.h"
#include "platform/gfx/Rect.h"

#include <QTransform>

namespace corvex {

// A 2D affine transform laid out as (a b c d tx ty), with row vectors: a point maps to
// (x*a + y*c + tx, x*b + y*d + ty). The operations that take a transform and add a step
// (translated, scaled, rotated) put the new step first, as QTransform does:
// t.translated(x, y) applies the translation, then t.
struct AffineTransform
{
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static AffineTransform identity() { return {}; }
    static AffineTransform makeTranslation(double x, double y);
    static AffineTransform makeScale(double sx, double sy);
    static AffineTransform makeRotation(double radians);

    AffineTransform translated(double x, double y) const;
    AffineTransform scaled(double sx, double sy) const;
    AffineTransform rotated(double radians) const;
    // This transform, then `then`.
    AffineTransform concat(const AffineTransform& then) const;
    // The inverse; the transform itself when it cannot be inverted.
    AffineTransform inverted() const;
    bool isIdentity() const;

    Point apply(Point p) const;
    Size applyToSize(Size s) const;        // the linear part only
    Rect applyToRect(const Rect& r) const; // the bounding box of the transformed corners

    QTransform toQTransform() const { return QTransform(a, b, c, d, tx, ty); }
    static AffineTransform fromQTransform(const QTransform& t);

    friend bool operator==(const AffineTransform&, const AffineTransform&) = default;
};

} // namespace corvex
