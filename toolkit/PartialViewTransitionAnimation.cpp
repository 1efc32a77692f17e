#include "toolkit/PartialViewTransitionAnimation.h"

#include "graphics/Geometry.h"
#include "platform/core/Log.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "toolkit/Animator.h"
#include "toolkit/BaseView.h"
#include "toolkit/QVImageScreenshot.h"
#include "toolkit/ScreenProtectorView.h"
#include "toolkit/ScreenProtectorViewDelegate.h"

namespace corvex {

PartialViewTransitionAnimation::PartialViewTransitionAnimation() = default;

PartialViewTransitionAnimation::~PartialViewTransitionAnimation() = default;

void PartialViewTransitionAnimation::animatePresentationOfViewController(ViewController& viewController,
                                                                         ViewController& fromViewController)
{
    const std::shared_ptr<View> presenting = fromViewController.view();
    auto* host = presenting ? dynamic_cast<BaseView*>(presenting->superview()) : nullptr;
    if (!host) {
        Log::assertionFailure(
            QStringLiteral("PartialViewTransitionAnimation: the presenting view has no BaseView host"));
        return;
    }
    const std::shared_ptr<View> presented = viewController.view();
    const Rect frame = presenting->frame();
    const double startY = frame.origin.y - PanelHeight;

    mProtector = ScreenProtectorView::createWithScreenshot(
        QVImageScreenshot::initByCapturingScreenshot(presenting.get()));
    // The window may grow while the panel is shown: the backdrop then pictures the presenting
    // view again at its new size.
    mProtector->retakeWhenGrownPast(frame.size, [weak = std::weak_ptr<View>(presenting)] {
        const std::shared_ptr<View> view = weak.lock();
        return view ? QVImageScreenshot::initByCapturingScreenshot(view.get()) : QVImage();
    });
    mProtector->setDelegate(
        std::dynamic_pointer_cast<ScreenProtectorViewDelegate>(viewController.weak_from_this().lock()));
    host->addHostedView(mProtector);
    mProtector->layer()->setOpacity(0);
    host->addHostedView(presented, [](View& panel, const Rect& hostBounds) {
        panel.setFrame(Rect(panel.frame().origin, Size(hostBounds.size.width, PanelHeight)));
    });
    presented->setFrame(Rect(frame.origin.x, startY, frame.size.width, PanelHeight));

    // A dismissal that begins before the panel is down takes over: this run stops. Only a
    // controller presented through its presenting controller can be followed.
    const std::weak_ptr<ViewController> controller = viewController.weak_from_this();
    const bool followed = viewController.presentingViewController() != nullptr;
    const std::shared_ptr<Animator> animator = Animator::create(Duration, FrameRate);
    animator->play([presented, protector = mProtector, startY, controller, followed](Animator& running) {
        const std::shared_ptr<ViewController> strong = controller.lock();
        if (followed && (!strong || !strong->presentingViewController())) {
            running.deactivate();
            return;
        }
        const float progress = running.updateProgress();
        const float eased = float(Animator::cubicEaseInOut(progress));
        const float y = Geometry::interpolateLinearlyFrom(float(startY), 0, eased);
        presented->setFrameOrigin(Point(0, y));
        protector->layer()->setOpacity(eased);
    });
}

void PartialViewTransitionAnimation::animateDismissalOfViewController(ViewController& viewController,
                                                                      ViewController& fromViewController)
{
    const std::shared_ptr<View> presented = viewController.viewIfLoaded();
    if (const std::shared_ptr<View>& presenting = fromViewController.view())
        presenting->setHidden(false);
    if (!presented)
        return;

    const std::shared_ptr<Animator> animator = Animator::create(Duration, FrameRate);
    animator->play([presented, protector = mProtector](Animator& running) {
        const float progress = running.updateProgress();
        const float eased = float(Animator::cubicEaseInOut(progress));
        const float height = float(presented->frame().size.height);
        const float y = Geometry::interpolateLinearlyFrom(0, -height, eased);
        presented->setFrameOrigin(Point(0, y));
        if (protector)
            protector->layer()->setOpacity(1 - eased);
        if (progress >= 1) {
            presented->setAlphaValue(0);
            presented->removeFromSuperview();
            if (protector) {
                protector->setAlphaValue(0);
                protector->removeFromSuperview();
            }
        }
    });
}

} // namespace corvex
