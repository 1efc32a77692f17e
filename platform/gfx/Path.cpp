#include "platform/gfx/Path.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

} // namespace

Path::Path()
{
    mPath.setFillRule(Qt::WindingFill);
}

void Path::setCurrent(Point p)
{
    mCurrent = p;
    mHasCurrentPoint = true;
}

void Path::moveTo(Point p)
{
    mPath.moveTo(p.toQPointF());
    mSubpathStart = p;
    ++mSubpathCount;
    setCurrent(p);
}

void Path::lineTo(Point p)
{
    if (!mHasCurrentPoint)
        return;
    mPath.lineTo(p.toQPointF());
    setCurrent(p);
}

void Path::curveTo(Point control1, Point control2, Point end)
{
    if (!mHasCurrentPoint)
        return;
    mPath.cubicTo(control1.toQPointF(), control2.toQPointF(), end.toQPointF());
    setCurrent(end);
}

void Path::quadCurveTo(Point control, Point end)
{
    if (!mHasCurrentPoint)
        return;
    mPath.quadTo(control.toQPointF(), end.toQPointF());
    setCurrent(end);
}

void Path::appendArc(Point center, double rx, double ry, double startAngle, double sweep)
{
    const Point start(center.x + rx * std::cos(startAngle), center.y + ry * std::sin(startAngle));
    if (mHasCurrentPoint)
        lineTo(start);
    else
        moveTo(start);
    if (sweep == 0)
        return;
    // Cubic segments of at most a quarter turn each.
    const int segments = std::max(1, int(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9)));
    const double step = sweep / segments;
    const double k = 4.0 / 3.0 * std::tan(step / 4);
    double a0 = startAngle;
    Point p0 = start;
    for (int i = 1; i <= segments; ++i) {
        const double a1 = i == segments ? startAngle + sweep : startAngle + step * i;
        const Point p1(center.x + rx * std::cos(a1), center.y + ry * std::sin(a1));
        const Point c1(p0.x - k * rx * std::sin(a0), p0.y + k * ry * std::cos(a0));
        const Point c2(p1.x + k * rx * std::sin(a1), p1.y - k * ry * std::cos(a1));
        mPath.cubicTo(c1.toQPointF(), c2.toQPointF(), p1.toQPointF());
        a0 = a1;
        p0 = p1;
    }
    setCurrent(p0);
}

void Path::addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise)
{
    if (!std::isfinite(radius) || !std::isfinite(startAngle) || !std::isfinite(endAngle))
        return;
    // The sweep runs from the start angle in the asked direction until it first reaches the end
    // angle: at most one full turn, nothing when the two angles are equal.
    double sweep = endAngle - startAngle;
    if (clockwise) {
        if (sweep > 0) {
            sweep = std::fmod(sweep, kTwoPi);
            if (sweep > 0)
                sweep -= kTwoPi;
        }
        sweep = std::max(sweep, -kTwoPi);
    } else {
        if (sweep < 0) {
            sweep = std::fmod(sweep, kTwoPi);
            if (sweep < 0)
                sweep += kTwoPi;
        }
        sweep = std::min(sweep, kTwoPi);
    }
    radius = std::fabs(radius);
    appendArc(center, radius, radius, startAngle, sweep);
}

void Path::addArcToPoint(Point p1, Point p2, double radius)
{
    if (!mHasCurrentPoint)
        return;
    const Point p0 = mCurrent;
    const double ux = p0.x - p1.x, uy = p0.y - p1.y;
    const double vx = p2.x - p1.x, vy = p2.y - p1.y;
    const double lu = std::hypot(ux, uy);
    const double lv = std::hypot(vx, vy);
    const double cross = ux * vy - uy * vx;
    // Without a corner to round (a zero radius, coincident or collinear points), a line to p1.
    if (!(radius > 0) || lu == 0 || lv == 0 || std::fabs(cross) <= 1e-12 * lu * lv) {
        lineTo(p1);
        return;
    }
    const double cosTheta = std::clamp((ux * vx + uy * vy) / (lu * lv), -1.0, 1.0);
    const double theta = std::acos(cosTheta); // the corner's angle at p1
    const double along = radius / std::tan(theta / 2);
    const Point t1(p1.x + ux / lu * along, p1.y + uy / lu * along);
    const Point t2(p1.x + vx / lv * along, p1.y + vy / lv * along);
    double bx = ux / lu + vx / lv, by = uy / lu + vy / lv;
    const double lb = std::hypot(bx, by);
    bx /= lb;
    by /= lb;
    const double toCenter = radius / std::sin(theta / 2);
    const Point center(p1.x + bx * toCenter, p1.y + by * toCenter);
    const double a0 = std::atan2(t1.y - center.y, t1.x - center.x);
    const double a1 = std::atan2(t2.y - center.y, t2.x - center.x);
    // The arc is the short way round (less than half a turn).
    const double sweep = std::remainder(a1 - a0, kTwoPi);
    appendArc(center, radius, radius, a0, sweep);
}

void Path::addRect(const Rect& r)
{
    if (r.isNull())
        return;
    const Rect s = r.standardized();
    moveTo({s.minX(), s.minY()});
    lineTo({s.maxX(), s.minY()});
    lineTo({s.maxX(), s.maxY()});
    lineTo({s.minX(), s.maxY()});
    closeSubpath();
}

void Path::addEllipseInRect(const Rect& r)
{
    if (r.isNull())
        return;
    const Rect s = r.standardized();
    // A subpath of its own, starting at the right-hand end and turning towards +y.
    mHasCurrentPoint = false;
    appendArc({s.midX(), s.midY()}, s.width() / 2, s.height() / 2, 0, kTwoPi);
    closeSubpath();
}

void Path::addRoundedRect(const Rect& r, double cornerWidth, double cornerHeight)
{
    if (r.isNull())
        return;
    const Rect s = r.standardized();
    const double cw = std::min(std::max(cornerWidth, 0.0), s.width() / 2);
    const double ch = std::min(std::max(cornerHeight, 0.0), s.height() / 2);
    if (cw == 0 || ch == 0) {
        addRect(s);
        return;
    }
    moveTo({s.minX() + cw, s.minY()});
    appendArc({s.maxX() - cw, s.minY() + ch}, cw, ch, -kPi / 2, kPi / 2);
    appendArc({s.maxX() - cw, s.maxY() - ch}, cw, ch, 0, kPi / 2);
    appendArc({s.minX() + cw, s.maxY() - ch}, cw, ch, kPi / 2, kPi / 2);
    appendArc({s.minX() + cw, s.minY() + ch}, cw, ch, kPi, kPi / 2);
    closeSubpath();
}

void Path::addLines(const Point* points, int count)
{
    if (points == nullptr || count <= 0)
        return;
    moveTo(points[0]);
    for (int i = 1; i < count; ++i)
        lineTo(points[i]);
}

void Path::addPath(const Path& other, const AffineTransform& transform)
{
    if (other.isEmpty())
        return;
    const QTransform t = transform.toQTransform();
    mPath.addPath(t.map(other.mPath));
    mPath.setFillRule(Qt::WindingFill);
    mSubpathCount += other.mSubpathCount;
    if (other.mHasCurrentPoint) {
        mSubpathStart = transform.apply(other.mSubpathStart);
        setCurrent(transform.apply(other.mCurrent));
    }
}

void Path::connectPath(const Path& other, const AffineTransform& transform)
{
    if (!mHasCurrentPoint || isEmpty()) {
        addPath(other, transform);
        return;
    }
    if (other.isEmpty())
        return;
    // QPainterPath::connectPath drops a trailing move (a subpath that is only a current
    // point), so the elements are copied one by one.
    const QPainterPath source = transform.toQTransform().map(other.mPath);
    for (int i = 0; i < source.elementCount(); ++i) {
        const QPainterPath::Element e = source.elementAt(i);
        switch (e.type) {
        case QPainterPath::MoveToElement:
            if (i == 0)
                mPath.lineTo(e.x, e.y);
            else
                mPath.moveTo(e.x, e.y);
            break;
        case QPainterPath::LineToElement:
            mPath.lineTo(e.x, e.y);
            break;
        case QPainterPath::CurveToElement:
            if (i + 2 < source.elementCount()) {
                const QPainterPath::Element c2 = source.elementAt(i + 1);
                const QPainterPath::Element end = source.elementAt(i + 2);
                mPath.cubicTo(e.x, e.y, c2.x, c2.y, end.x, end.y);
            }
            i += 2;
            break;
        case QPainterPath::CurveToDataElement:
            break;
        }
    }
    if (other.mHasCurrentPoint) {
        // A continued subpath keeps its start unless `other` started new ones of its own.
        if (other.mSubpathCount > 1)
            mSubpathStart = transform.apply(other.mSubpathStart);
        setCurrent(transform.apply(other.mCurrent));
    }
}

void Path::closeSubpath()
{
    if (!mHasCurrentPoint)
        return;
    mPath.closeSubpath();
    setCurrent(mSubpathStart);
}

Rect Path::boundingBox() const
{
    if (isEmpty())
        return Rect::null();
    return Rect::fromQRectF(mPath.controlPointRect());
}

bool Path::contains(Point p, bool evenOdd) const
{
    QPainterPath path = mPath;
    path.setFillRule(evenOdd ? Qt::OddEvenFill : Qt::WindingFill);
    return path.contains(p.toQPointF());
}

} // namespace corvex
