#include "platform/gfx/AffineTransform.h"

#include <algorithm>
#include <cmath>

namespace corvex {

AffineTransform AffineTransform::makeTranslation(double x, double y)
{
    return {1, 0, 0, 1, x, y};
}

AffineTransform AffineTransform::makeScale(double sx, double sy)
{
    return {sx, 0, 0, sy, 0, 0};
}

AffineTransform AffineTransform::makeRotation(double radians)
{
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    return {c, s, -s, c, 0, 0};
}

AffineTransform AffineTransform::translated(double x, double y) const
{
    return makeTranslation(x, y).concat(*this);
}

AffineTransform AffineTransform::scaled(double sx, double sy) const
{
    return makeScale(sx, sy).concat(*this);
}

AffineTransform AffineTransform::rotated(double radians) const
{
    return makeRotation(radians).concat(*this);
}

AffineTransform AffineTransform::concat(const AffineTransform& t) const
{
    return {a * t.a + b * t.c, a * t.b + b * t.d,          c * t.a + d * t.c,
            c * t.b + d * t.d, tx * t.a + ty * t.c + t.tx, tx * t.b + ty * t.d + t.ty};
}

AffineTransform AffineTransform::inverted() const
{
    const double det = a * d - b * c;
    if (det == 0 || !std::isfinite(det))
        return *this;
    return {d / det, -b / det, -c / det, a / det, (c * ty - d * tx) / det, (b * tx - a * ty) / det};
}

bool AffineTransform::isIdentity() const
{
    return *this == AffineTransform();
}

Point AffineTransform::apply(Point p) const
{
    return {p.x * a + p.y * c + tx, p.x * b + p.y * d + ty};
}

Size AffineTransform::applyToSize(Size s) const
{
    return {s.width * a + s.height * c, s.width * b + s.height * d};
}

Rect AffineTransform::applyToRect(const Rect& r) const
{
    if (r.isNull())
        return r;
    const Rect s = r.standardized();
    const Point corners[4] = {apply({s.minX(), s.minY()}), apply({s.maxX(), s.minY()}),
                              apply({s.minX(), s.maxY()}), apply({s.maxX(), s.maxY()})};
    double x0 = corners[0].x, x1 = corners[0].x, y0 = corners[0].y, y1 = corners[0].y;
    for (const Point& p : corners) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return Rect(x0, y0, x1 - x0, y1 - y0);
}

AffineTransform AffineTransform::fromQTransform(const QTransform& t)
{
    return {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()};
}

} // namespace corvex
