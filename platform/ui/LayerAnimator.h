#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Rect.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/AnimationValue.h"

#include <QString>
#include <memory>

namespace corvex {

class Layer;

// The animator proxy of a layer (layer.animator().setPosition(p)): each setter changes the
// model value at once, without running the action lookup, and adds an explicit animation
// from the value presented now to the new one under the property's key (replacing a running
// one, so a moving layer turns smoothly). Duration and timing come from the current
// transaction (AnimationContext::runAnimationGroup sets them; default 0.25 s on the default
// curve), and the transaction's completion waits for these animations too. It animates even
// a layer that was never committed and one whose delegate gives the null action. Main
// thread only; a proxy of no layer does nothing.
class LayerAnimator
{
public:
    explicit LayerAnimator(std::shared_ptr<Layer> layer) : mLayer(std::move(layer)) {}

    const std::shared_ptr<Layer>& layer() const { return mLayer; }

    void setPosition(Point position);
    void setBounds(const Rect& bounds);
    // Position and bounds, each animated.
    void setFrame(const Rect& frame);
    void setAnchorPoint(Point anchorPoint);
    void setTransform(const Transform3D& transform);
    void setOpacity(float opacity);
    void setBackgroundColor(const PlatformColor& color);
    void setBorderColor(const PlatformColor& color);
    void setBorderWidth(double width);
    void setCornerRadius(double radius);
    // Any animatable key path (see LayerProperties); other paths are ignored.
    void setValue(const QString& keyPath, const AnimationValue& value);

private:
    std::shared_ptr<Layer> mLayer;
};

} // namespace corvex
