#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Rect.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/AnimationValue.h"

#include <QString>
#include <QTransform>

namespace corvex {

// The animatable values of a layer, as one plain value: a layer keeps its model values in
// one, and the compositor works on a copy with the running animations applied (the
// presentation values). Key paths name the values and their parts ("position.x",
// "bounds.size"), as the animations do.
struct LayerProperties
{
    Rect bounds;
    Point position;
    Point anchorPoint{0.5, 0.5};
    Transform3D transform;
    float opacity = 1;
    PlatformColor backgroundColor; // clear: no background
    PlatformColor borderColor = PlatformColor::black();
    double borderWidth = 0;
    double cornerRadius = 0;

    // bounds, bounds.origin, bounds.size, bounds.size.width, bounds.size.height, position,
    // position.x, position.y, anchorPoint, transform, opacity, backgroundColor, borderColor,
    // borderWidth, cornerRadius.
    static bool isKeyPath(const QString& keyPath);
    // The value at the key path; nothing for an unknown path.
    AnimationValue value(const QString& keyPath) const;
    // Sets the value at the key path; false (and nothing changed) for an unknown path or a
    // value of the wrong kind.
    bool setValue(const QString& keyPath, const AnimationValue& value);

    // Maps the layer's bounds space into its superlayer's space:
    // position + T * (p - bounds.origin - anchorPoint * bounds.size), T the 2D part of the
    // transform (m11, m12, m21, m22, m41, m42), row vectors as QTransform.
    QTransform toSuperlayer() const;
    // The bounding box of the transformed bounds in the superlayer's space.
    Rect frame() const;

    friend bool operator==(const LayerProperties&, const LayerProperties&) = default;
};

} // namespace corvex
