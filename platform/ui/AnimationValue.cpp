#include "platform/ui/AnimationValue.h"

#include <QStringList>

namespace corvex {

namespace {

double lerp(double a, double b, double t)
{
    return a + (b - a) * t;
}

Transform3D combine(const Transform3D& a, const Transform3D& b, double (*op)(double, double, double),
                    double t)
{
    return {op(a.m11, b.m11, t), op(a.m12, b.m12, t), op(a.m13, b.m13, t), op(a.m14, b.m14, t),
            op(a.m21, b.m21, t), op(a.m22, b.m22, t), op(a.m23, b.m23, t), op(a.m24, b.m24, t),
            op(a.m31, b.m31, t), op(a.m32, b.m32, t), op(a.m33, b.m33, t), op(a.m34, b.m34, t),
            op(a.m41, b.m41, t), op(a.m42, b.m42, t), op(a.m43, b.m43, t), op(a.m44, b.m44, t)};
}

PlatformColor colorOf(double r, double g, double b, double a)
{
    return PlatformColor::deviceRGB(r, g, b, a);
}

QString numberText(double v)
{
    return QString::number(v, 'g', 10);
}

} // namespace

double AnimationValue::toDouble() const
{
    const double* v = std::get_if<double>(&mValue);
    return v ? *v : 0.0;
}

Point AnimationValue::toPoint() const
{
    const Point* v = std::get_if<Point>(&mValue);
    return v ? *v : Point();
}

Size AnimationValue::toSize() const
{
    const Size* v = std::get_if<Size>(&mValue);
    return v ? *v : Size();
}

Rect AnimationValue::toRect() const
{
    const Rect* v = std::get_if<Rect>(&mValue);
    return v ? *v : Rect();
}

Transform3D AnimationValue::toTransform() const
{
    const Transform3D* v = std::get_if<Transform3D>(&mValue);
    return v ? *v : Transform3D();
}

PlatformColor AnimationValue::toColor() const
{
    const PlatformColor* v = std::get_if<PlatformColor>(&mValue);
    return v ? *v : PlatformColor();
}

AnimationValue AnimationValue::interpolate(const AnimationValue& from, const AnimationValue& to, double t)
{
    if (!from.sameKind(to))
        return to;
    if (t == 1)
        return to;
    if (t == 0)
        return from;
    if (from.isDouble())
        return lerp(from.toDouble(), to.toDouble(), t);
    if (from.isPoint()) {
        const Point a = from.toPoint(), b = to.toPoint();
        return Point(lerp(a.x, b.x, t), lerp(a.y, b.y, t));
    }
    if (from.isSize()) {
        const Size a = from.toSize(), b = to.toSize();
        return Size(lerp(a.width, b.width, t), lerp(a.height, b.height, t));
    }
    if (from.isRect()) {
        const Rect a = from.toRect(), b = to.toRect();
        return Rect(lerp(a.origin.x, b.origin.x, t), lerp(a.origin.y, b.origin.y, t),
                    lerp(a.size.width, b.size.width, t), lerp(a.size.height, b.size.height, t));
    }
    if (from.isTransform())
        return combine(from.toTransform(), to.toTransform(), lerp, t);
    if (from.isColor()) {
        const PlatformColor a = from.toColor(), b = to.toColor();
        if (a.isPattern() || b.isPattern())
            return t < 1 ? from : to;
        return colorOf(
            lerp(a.redComponent(), b.redComponent(), t), lerp(a.greenComponent(), b.greenComponent(), t),
            lerp(a.blueComponent(), b.blueComponent(), t), lerp(a.alphaComponent(), b.alphaComponent(), t));
    }
    return to;
}

AnimationValue AnimationValue::plus(const AnimationValue& by) const
{
    if (!sameKind(by))
        return *this;
    if (isDouble())
        return toDouble() + by.toDouble();
    if (isPoint())
        return toPoint() + by.toPoint();
    if (isSize())
        return Size(toSize().width + by.toSize().width, toSize().height + by.toSize().height);
    if (isRect()) {
        const Rect a = toRect(), b = by.toRect();
        return Rect(a.origin.x + b.origin.x, a.origin.y + b.origin.y, a.size.width + b.size.width,
                    a.size.height + b.size.height);
    }
    if (isTransform())
        return toTransform().concat(by.toTransform());
    if (isColor()) {
        const PlatformColor a = toColor(), b = by.toColor();
        return colorOf(a.redComponent() + b.redComponent(), a.greenComponent() + b.greenComponent(),
                       a.blueComponent() + b.blueComponent(), a.alphaComponent() + b.alphaComponent());
    }
    return *this;
}

AnimationValue AnimationValue::minus(const AnimationValue& by) const
{
    if (!sameKind(by))
        return *this;
    if (isDouble())
        return toDouble() - by.toDouble();
    if (isPoint())
        return toPoint() - by.toPoint();
    if (isSize())
        return Size(toSize().width - by.toSize().width, toSize().height - by.toSize().height);
    if (isRect()) {
        const Rect a = toRect(), b = by.toRect();
        return Rect(a.origin.x - b.origin.x, a.origin.y - b.origin.y, a.size.width - b.size.width,
                    a.size.height - b.size.height);
    }
    if (isTransform())
        return toTransform().concat(by.toTransform().inverted());
    if (isColor()) {
        const PlatformColor a = toColor(), b = by.toColor();
        return colorOf(a.redComponent() - b.redComponent(), a.greenComponent() - b.greenComponent(),
                       a.blueComponent() - b.blueComponent(), a.alphaComponent() - b.alphaComponent());
    }
    return *this;
}

QString AnimationValue::toString() const
{
    if (isDouble())
        return numberText(toDouble());
    if (isPoint())
        return corvex::toString(toPoint());
    if (isSize())
        return corvex::toString(toSize());
    if (isRect())
        return corvex::toString(toRect());
    if (isTransform()) {
        const Transform3D t = toTransform();
        if (t.isAffine()) {
            return QStringLiteral("[%1 %2 %3 %4 %5 %6]")
                .arg(numberText(t.m11), numberText(t.m12), numberText(t.m21), numberText(t.m22),
                     numberText(t.m41), numberText(t.m42));
        }
        const double m[16] = {t.m11, t.m12, t.m13, t.m14, t.m21, t.m22, t.m23, t.m24,
                              t.m31, t.m32, t.m33, t.m34, t.m41, t.m42, t.m43, t.m44};
        QStringList parts;
        for (double v : m)
            parts.append(numberText(v));
        return QLatin1Char('[') + parts.join(QLatin1Char(' ')) + QLatin1Char(']');
    }
    if (isColor()) {
        const PlatformColor c = toColor();
        if (c.isPattern())
            return QStringLiteral("pattern");
        return QStringLiteral("rgba(%1, %2, %3, %4)")
            .arg(numberText(c.redComponent()), numberText(c.greenComponent()), numberText(c.blueComponent()),
                 numberText(c.alphaComponent()));
    }
    return QStringLiteral("nil");
}

} // namespace corvex
