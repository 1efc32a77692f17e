#pragma once

#include "platform/gfx/Rect.h"

#include <memory>

namespace corvex {

class View;

// The animator proxy of a view: each setter changes the view at once, as its plain setter
// would, and animates the view's layer from the values presented now to the new ones
// through the layer's animator proxy (LayerAnimator), so that duration, timing function and
// the completion of the surrounding transaction or AnimationContext group apply. Views laid
// out again because of the change (subviews of a resized view) take the transaction's
// implicit animations as usual. A proxy of no view does nothing. Main thread only.
class ViewAnimator
{
public:
    explicit ViewAnimator(std::shared_ptr<View> view) : mView(std::move(view)) {}

    const std::shared_ptr<View>& view() const { return mView; }

    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin);
    void setFrameSize(Size size);
    void setAlphaValue(double alpha);

private:
    std::shared_ptr<View> mView;
};

} // namespace corvex
