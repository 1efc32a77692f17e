#include "platform/ui/ViewController.h"

#include "platform/core/Log.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewControllerPresentationAnimator.h"

#include <algorithm>

namespace corvex {

ViewController::ViewController() = default;

ViewController::~ViewController()
{
    if (mView && mView->Responder::nextResponder() == this)
        mView->setNextResponder(nullptr);
}

std::shared_ptr<ViewController> ViewController::create()
{
    return std::make_shared<ViewController>();
}

const std::shared_ptr<View>& ViewController::view()
{
    loadViewIfNeeded();
    return mView;
}

void ViewController::loadViewIfNeeded()
{
    // A loadView that asks for the view itself must not load it a second time.
    if (mView || mLoading)
        return;
    mLoading = true;
    loadView();
    mLoading = false;
    if (mView)
        viewDidLoad();
}

void ViewController::loadView()
{
    setView(View::create());
}

void ViewController::setView(const std::shared_ptr<View>& view)
{
    if (view == mView)
        return;
    if (mView && mView->Responder::nextResponder() == this)
        mView->setNextResponder(nullptr);
    mView = view;
    if (mView)
        mView->setNextResponder(this);
}

void ViewController::viewDidLoad() {}

void ViewController::viewWillAppear() {}

void ViewController::viewDidAppear() {}

void ViewController::viewWillDisappear() {}

void ViewController::viewDidDisappear() {}

Responder* ViewController::nextResponder() const
{
    if (Responder* set = Responder::nextResponder())
        return set;
    return mView ? mView->defaultNextResponder() : nullptr;
}

void ViewController::presentViewController(
    const std::shared_ptr<ViewController>& viewController,
    const std::shared_ptr<ViewControllerPresentationAnimator>& animator)
{
    if (!viewController || !animator) {
        Log::assertionFailure(QStringLiteral("presentViewController needs a controller and an animator"));
        return;
    }
    if (viewController.get() == this || viewController->mAnimator ||
        viewController->presentingViewController()) {
        Log::assertionFailure(QStringLiteral("presentViewController: the controller is presented already"));
        return;
    }
    mPresented.push_back(viewController);
    viewController->mPresenting = weak_from_this();
    viewController->mAnimator = animator;
    // Held for the call: the animator may make this controller let go of either.
    const std::shared_ptr<ViewController> presented = viewController;
    const std::shared_ptr<ViewControllerPresentationAnimator> keep = animator;
    presented->viewWillAppear();
    keep->animatePresentationOfViewController(*presented, *this);
    presented->viewDidAppear();
}

void ViewController::dismissViewController(const ViewController* viewController)
{
    const auto it =
        std::find_if(mPresented.begin(), mPresented.end(),
                     [&](const std::shared_ptr<ViewController>& c) { return c.get() == viewController; });
    if (it == mPresented.end()) {
        Log::assertionFailure(QStringLiteral("dismissViewController: the controller was not presented here"));
        return;
    }
    const std::shared_ptr<ViewController> presented = *it;
    mPresented.erase(it);
    const std::shared_ptr<ViewControllerPresentationAnimator> animator = std::move(presented->mAnimator);
    presented->mAnimator = nullptr;
    presented->mPresenting.reset();
    presented->viewWillDisappear();
    animator->animateDismissalOfViewController(*presented, *this);
    presented->viewDidDisappear();
}

void ViewController::dismissController()
{
    const std::shared_ptr<ViewController> presenting = presentingViewController();
    if (!presenting) {
        Log::assertionFailure(QStringLiteral("dismissController: the controller is not presented"));
        return;
    }
    presenting->dismissViewController(this);
}

} // namespace corvex
