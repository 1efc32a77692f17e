#include "platform/ui/ViewAnimator.h"

#include "platform/ui/Layer.h"
#include "platform/ui/LayerAnimator.h"
#include "platform/ui/View.h"

namespace corvex {

// The layer's model values are set (and animated) first; the view's own setter then finds
// its layer already there and changes nothing on it, so no second, implicit animation
// replaces the explicit one.

void ViewAnimator::setFrame(const Rect& frame)
{
    if (!mView)
        return;
    mView->layer()->animator().setFrame(frame);
    mView->setFrame(frame);
}

void ViewAnimator::setFrameOrigin(Point origin)
{
    if (mView)
        setFrame(Rect(origin, mView->frame().size));
}

void ViewAnimator::setFrameSize(Size size)
{
    if (mView)
        setFrame(Rect(mView->frame().origin, size));
}

void ViewAnimator::setAlphaValue(double alpha)
{
    if (!mView)
        return;
    mView->layer()->animator().setOpacity(float(alpha));
    mView->setAlphaValue(alpha);
}

} // namespace corvex
