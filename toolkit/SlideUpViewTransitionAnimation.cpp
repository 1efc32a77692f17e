#include "toolkit/SlideUpViewTransitionAnimation.h"

#include "platform/core/Log.h"
#include "platform/ui/AnimationContext.h"
#include "platform/ui/Layer.h"
#include "platform/ui/TimingFunction.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewAnimator.h"
#include "platform/ui/ViewController.h"
#include "toolkit/BaseView.h"

namespace corvex {

namespace {

Rect presentingFrame(const std::shared_ptr<View>& presenting)
{
    return presenting ? presenting->frame() : Rect();
}

// F moved down by its height in the host's coordinates: y grows downwards in a flipped host,
// as the system's hosts (BaseViews) are, and in an unknown one.
Rect belowFrame(const Rect& frame, const View* host)
{
    const double h = frame.size.height;
    const bool flipped = host == nullptr || host->isFlipped();
    return Rect(Point(frame.origin.x, frame.origin.y + (flipped ? h : -h)), frame.size);
}

// Whether a controller that was presented when `followed` was taken has been dismissed
// since. One that was not presented through a controller cannot be followed.
bool wasDismissed(const std::weak_ptr<ViewController>& controller, bool followed)
{
    const std::shared_ptr<ViewController> strong = controller.lock();
    return followed && (!strong || !strong->presentingViewController());
}

void setFrameWithoutAnimation(View& view, const Rect& frame)
{
    Transaction::begin();
    Transaction::setDisableActions(true);
    view.setFrame(frame);
    Transaction::commit();
}

} // namespace

void SlideUpViewTransitionAnimation::animatePresentationOfViewController(ViewController& viewController,
                                                                         ViewController& fromViewController)
{
    const std::shared_ptr<View> presenting = fromViewController.view();
    auto* host = presenting ? dynamic_cast<BaseView*>(presenting->superview()) : nullptr;
    if (!host) {
        Log::assertionFailure(
            QStringLiteral("SlideUpViewTransitionAnimation: the presenting view has no BaseView host"));
        return;
    }
    const std::shared_ptr<View> presented = viewController.view();
    const Rect frame = presentingFrame(presenting);
    host->addHostedView(presented);
    // Without animation, and without a move still running from an earlier showing (or from
    // being hosted), so that the slide starts from here.
    setFrameWithoutAnimation(*presented, belowFrame(frame, host));
    presented->layer()->removeAnimation(QStringLiteral("position"));
    presented->layer()->removeAnimation(QStringLiteral("bounds"));
    // A dismissal that begins before the slide has ended takes over: hiding the presenting
    // view afterwards would leave the window without either view.
    const std::weak_ptr<ViewController> controller = viewController.weak_from_this();
    const bool followed = viewController.presentingViewController() != nullptr;
    AnimationContext::runAnimationGroup(
        double(Duration), TimingFunction::easeInEaseOut(), [&] { ViewAnimator(presented).setFrame(frame); },
        [presented, presenting, frame, controller, followed] {
            if (wasDismissed(controller, followed))
                return;
            setFrameWithoutAnimation(*presented, frame);
            presenting->setHidden(true);
        });
}

void SlideUpViewTransitionAnimation::animateDismissalOfViewController(ViewController& viewController,
                                                                      ViewController& fromViewController)
{
    const std::shared_ptr<View> presenting = fromViewController.view();
    const std::shared_ptr<View> presented = viewController.viewIfLoaded();
    if (!presented)
        return;
    const Rect frame = presentingFrame(presenting);
    const View* host =
        presenting && presenting->superview() ? presenting->superview() : presented->superview();
    const Rect end = belowFrame(frame, host);
    if (presenting)
        presenting->setHidden(false);
    AnimationContext::runAnimationGroup(
        double(Duration), TimingFunction::easeInEaseOut(), [&] { ViewAnimator(presented).setFrame(end); },
        [presented] {
            presented->setAlphaValue(0);
            presented->removeFromSuperview();
        });
}

} // namespace corvex
