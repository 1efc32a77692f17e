#pragma once

#include "platform/ui/Responder.h"

#include <QString>
#include <memory>
#include <vector>

namespace corvex {

class View;
class ViewControllerPresentationAnimator;

// A view controller: it owns one view, made on first need by loadView, sits after that view
// in the responder chain, and presents other controllers in the same window through a
// presentation animator.
//
// The view. view() loads it (loadView, then viewDidLoad) the first time it is asked for;
// setView replaces it. While the controller has a view, the view's next responder is the
// controller, and the controller's is the view's own (its superview, else its window).
//
// Presentation. presentViewController keeps the presented controller (strongly) and, with
// it, the animator, and asks the animator to bring the view on screen; dismissViewController
// asks the same animator object to take it away and then lets both go. A controller is
// presented by one controller at a time. The appearance hooks run around the animator's
// calls (not at the end of its animations): viewWillAppear before the presentation,
// viewDidAppear after it, viewWillDisappear before the dismissal, viewDidDisappear after it.
// Whoever shows a controller's view otherwise (a window's top-level controller) calls the
// hooks itself.
//
// Controllers live in std::shared_ptr (presentation and animators rely on it). Main thread
// only.
class ViewController : public Responder, public std::enable_shared_from_this<ViewController>
{
public:
    ViewController();
    ~ViewController() override;
    static std::shared_ptr<ViewController> create();

    // ---- The view ----
    // Loads the view when it has none yet.
    const std::shared_ptr<View>& view();
    // Null when the view has not been loaded (or was set to null).
    const std::shared_ptr<View>& viewIfLoaded() const { return mView; }
    bool isViewLoaded() const { return mView != nullptr; }
    void loadViewIfNeeded();
    // Replaces the view; the old one no longer leads to this controller in the chain.
    void setView(const std::shared_ptr<View>& view);

    QString title() const { return mTitle; }
    void setTitle(const QString& title) { mTitle = title; }

    // ---- Life cycle hooks (default: nothing) ----
    virtual void viewDidLoad();
    virtual void viewWillAppear();
    virtual void viewDidAppear();
    virtual void viewWillDisappear();
    virtual void viewDidDisappear();

    // ---- Responder ----
    // The responder set by hand, else the one after the view, else none.
    Responder* nextResponder() const override;

    // ---- Presentation ----
    // Presents `viewController` from this controller through `animator`. A null controller
    // or animator, this controller itself, or one that is presented already logs the
    // assertion line and presents nothing.
    void presentViewController(const std::shared_ptr<ViewController>& viewController,
                               const std::shared_ptr<ViewControllerPresentationAnimator>& animator);
    // Dismisses a controller this one presented, through the animator it was presented with.
    // One it did not present logs the assertion line and nothing happens.
    void dismissViewController(const ViewController* viewController);
    // Asks the presenting controller to dismiss this one; logs when nothing presented it.
    void dismissController();

    // The controller that presented this one, while it is presented.
    std::shared_ptr<ViewController> presentingViewController() const { return mPresenting.lock(); }
    // The controllers presented by this one, in the order presented.
    const std::vector<std::shared_ptr<ViewController>>& presentedViewControllers() const
    {
        return mPresented;
    }
    // The animator this controller was presented with, while it is presented.
    const std::shared_ptr<ViewControllerPresentationAnimator>& presentationAnimator() const
    {
        return mAnimator;
    }

protected:
    // Makes the view. The default makes a plain view of the zero rectangle; overrides call
    // setView.
    virtual void loadView();

private:
    std::shared_ptr<View> mView;
    QString mTitle;
    std::vector<std::shared_ptr<ViewController>> mPresented;
    std::weak_ptr<ViewController> mPresenting;
    std::shared_ptr<ViewControllerPresentationAnimator> mAnimator;
    bool mLoading = false;
};

} // namespace corvex
