#pragma once

#include "platform/ui/ViewControllerPresentationAnimator.h"

#include <memory>

namespace corvex {

class ScreenProtectorView;

// Presents a controller as a panel of fixed height lowered from the top edge of the host
// over a blurred backdrop made from a screenshot of the presenting view (a
// ScreenProtectorView covering the host, its clicks handed to the presented controller when
// that is a ScreenProtectorViewDelegate). The presenting view stays visible beneath. The
// host is the presenting view's superview, which must be a BaseView; the panel keeps the
// host's width and its height on every layout of the host.
//
// Both directions run an Animator (0.4 s at 60 frames a second) on a cubic ease-in-out: the
// presentation moves the panel's origin from (0, F.y - 370) to (0, 0) and fades the backdrop
// in; the dismissal moves it up by its height, fades the backdrop out and, at the last
// frame, takes both out of the host. The backdrop is kept from the presentation to the
// dismissal; when the host grows past its picture it pictures the presenting view again.
// Main thread only.
class PartialViewTransitionAnimation final : public ViewControllerPresentationAnimator
{
public:
    static constexpr float Duration = 0.4f; // seconds
    static constexpr float FrameRate = 60;
    static constexpr double PanelHeight = 370;

    PartialViewTransitionAnimation();
    ~PartialViewTransitionAnimation() override;

    void animatePresentationOfViewController(ViewController& viewController,
                                             ViewController& fromViewController) override;
    void animateDismissalOfViewController(ViewController& viewController,
                                          ViewController& fromViewController) override;

    // The backdrop made by the presentation; null before.
    const std::shared_ptr<ScreenProtectorView>& protector() const { return mProtector; }

private:
    std::shared_ptr<ScreenProtectorView> mProtector;
};

} // namespace corvex
