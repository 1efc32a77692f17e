#pragma once

#include "platform/ui/ViewControllerPresentationAnimator.h"

namespace corvex {

// Presents a controller by sliding its view up from below the presenting view until it
// covers it exactly, then hides the presenting view; dismissal slides it down again and
// takes it away. The presented view is hosted (without a layout block: it fills the host
// on later layouts) by the presenting view's superview, which must be a BaseView. Keeps
// nothing between presentation and dismissal. Main thread only.
class SlideUpViewTransitionAnimation final : public ViewControllerPresentationAnimator
{
public:
    // Seconds, ease in and out.
    static constexpr float Duration = 0.3f;

    // The presented view starts at the presenting view's frame F moved down by its height,
    // and is animated to F; at the end it is set to F and the presenting view is hidden.
    void animatePresentationOfViewController(ViewController& viewController,
                                             ViewController& fromViewController) override;
    // The presenting view is shown again, the presented one animated to F moved down by its
    // height; at the end its alpha becomes 0 and it leaves the host.
    void animateDismissalOfViewController(ViewController& viewController,
                                          ViewController& fromViewController) override;
};

} // namespace corvex
