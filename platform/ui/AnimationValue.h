#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Rect.h"
#include "platform/gfx/Transform3D.h"

#include <QString>
#include <variant>

namespace corvex {

// The value of an animatable layer property: a number, point, size, rectangle, 4x4 transform
// or colour, or nothing (an animation's unset from/to/by). Interpolation and the by-value
// sums work element-wise on values of one kind; a mismatch gives the target unchanged.
class AnimationValue
{
public:
    AnimationValue() = default; // nothing
    AnimationValue(double value) : mValue(value) {}
    AnimationValue(Point value) : mValue(value) {}
    AnimationValue(Size value) : mValue(value) {}
    AnimationValue(const Rect& value) : mValue(value) {}
    AnimationValue(const Transform3D& value) : mValue(value) {}
    AnimationValue(const PlatformColor& value) : mValue(value) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(mValue); }
    bool isDouble() const { return std::holds_alternative<double>(mValue); }
    bool isPoint() const { return std::holds_alternative<Point>(mValue); }
    bool isSize() const { return std::holds_alternative<Size>(mValue); }
    bool isRect() const { return std::holds_alternative<Rect>(mValue); }
    bool isTransform() const { return std::holds_alternative<Transform3D>(mValue); }
    bool isColor() const { return std::holds_alternative<PlatformColor>(mValue); }
    bool sameKind(const AnimationValue& other) const { return mValue.index() == other.mValue.index(); }

    // The value, or the kind's zero when the value is of another kind.
    double toDouble() const;
    Point toPoint() const;
    Size toSize() const;
    Rect toRect() const;
    Transform3D toTransform() const;
    PlatformColor toColor() const;

    // from + (to - from) * t. Transforms interpolate their 16 elements, colours their
    // components (pattern colours jump to `to` at the end).
    static AnimationValue interpolate(const AnimationValue& from, const AnimationValue& to, double t);
    // Element-wise sum and difference (transforms: the by-transform is applied after this
    // one, as the platform's additive transforms are).
    AnimationValue plus(const AnimationValue& by) const;
    AnimationValue minus(const AnimationValue& by) const;

    // A short form for dumps and assertion messages.
    QString toString() const;

    friend bool operator==(const AnimationValue& a, const AnimationValue& b) { return a.mValue == b.mValue; }

private:
    std::variant<std::monostate, double, Point, Size, Rect, Transform3D, PlatformColor> mValue;
};

} // namespace corvex
