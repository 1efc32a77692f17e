// View controllers: the lazily loaded view, the place after it in the responder chain,
// presentation through an animator kept until the dismissal; and the views' animator proxy.

#include "platform/ui/ViewController.h"
#include "platform/ui/AnimationContext.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/TimingFunction.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewAnimator.h"
#include "platform/ui/ViewControllerPresentationAnimator.h"
#include "platform/ui/Window.h"
#include "tests/platform/ui/ViewTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// Records its life cycle into a shared log and keeps the events that reach it.
class RecordingController : public ViewController
{
public:
    RecordingController(QString name, std::shared_ptr<QStringList> log)
        : mName(std::move(name)), mLog(std::move(log))
    {}

    void viewDidLoad() override { note(QStringLiteral("viewDidLoad")); }
    void viewWillAppear() override { note(QStringLiteral("viewWillAppear")); }
    void viewDidAppear() override { note(QStringLiteral("viewDidAppear")); }
    void viewWillDisappear() override { note(QStringLiteral("viewWillDisappear")); }
    void viewDidDisappear() override { note(QStringLiteral("viewDidDisappear")); }
    void keyDown(const Event& event) override
    {
        note(QStringLiteral("keyDown"));
        if (passKeys)
            ViewController::keyDown(event);
    }

    int loadCount = 0;
    bool passKeys = false;
    std::function<void(RecordingController&)> onLoad;

protected:
    void loadView() override
    {
        ++loadCount;
        note(QStringLiteral("loadView"));
        if (onLoad)
            onLoad(*this);
        else
            setView(plainView(Rect(0, 0, 200, 100), true));
    }

private:
    void note(const QString& what) { mLog->append(mName + QLatin1Char('.') + what); }

    QString mName;
    std::shared_ptr<QStringList> mLog;
};

// Records the calls it gets, with the controllers they name.
class RecordingAnimator : public ViewControllerPresentationAnimator
{
public:
    explicit RecordingAnimator(std::shared_ptr<QStringList> log) : mLog(std::move(log)) {}

    void animatePresentationOfViewController(ViewController& viewController, ViewController& from) override
    {
        mLog->append(QStringLiteral("animator.present"));
        presented = &viewController;
        presenting = &from;
        presentingLinkDuringCall = viewController.presentingViewController().get();
    }
    void animateDismissalOfViewController(ViewController& viewController, ViewController& from) override
    {
        mLog->append(QStringLiteral("animator.dismiss"));
        dismissed = &viewController;
        dismissedFrom = &from;
    }

    ViewController* presented = nullptr;
    ViewController* presenting = nullptr;
    ViewController* presentingLinkDuringCall = nullptr;
    ViewController* dismissed = nullptr;
    ViewController* dismissedFrom = nullptr;

private:
    std::shared_ptr<QStringList> mLog;
};

std::shared_ptr<RecordingController> controller(const QString& name, const std::shared_ptr<QStringList>& log)
{
    return std::make_shared<RecordingController>(name, log);
}

} // namespace

TEST(ViewController, LoadsItsViewOnceOnFirstRequest)
{
    auto log = std::make_shared<QStringList>();
    auto c = controller(QStringLiteral("c"), log);
    EXPECT_FALSE(c->isViewLoaded());
    EXPECT_EQ(c->viewIfLoaded(), nullptr) << "asking whether it is loaded loads nothing";
    EXPECT_EQ(c->loadCount, 0);

    const std::shared_ptr<View> view = c->view();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->frame(), Rect(0, 0, 200, 100));
    EXPECT_EQ(c->view(), view);
    c->loadViewIfNeeded();
    EXPECT_EQ(c->loadCount, 1);
    EXPECT_EQ(*log, (QStringList{QStringLiteral("c.loadView"), QStringLiteral("c.viewDidLoad")}));
}

TEST(ViewController, ALoadViewThatAsksForTheViewDoesNotLoadTwice)
{
    auto log = std::make_shared<QStringList>();
    auto c = controller(QStringLiteral("c"), log);
    c->onLoad = [](RecordingController& self) {
        EXPECT_EQ(self.view(), nullptr) << "nothing is set yet";
        self.setView(View::create(Rect(0, 0, 10, 10)));
    };
    ASSERT_NE(c->view(), nullptr);
    EXPECT_EQ(c->loadCount, 1);
}

TEST(ViewController, TheDefaultViewIsAPlainViewOfTheZeroRectangle)
{
    auto c = ViewController::create();
    ASSERT_NE(c->view(), nullptr);
    EXPECT_EQ(c->view()->frame(), Rect());
}

TEST(ViewController, SitsAfterItsViewInTheResponderChain)
{
    auto log = std::make_shared<QStringList>();
    auto window = Window::create(Size(300, 200));
    auto content = RecordingView::make(QStringLiteral("content"), Rect(0, 0, 300, 200), false, log);
    window->setContentView(content);
    auto c = controller(QStringLiteral("c"), log);
    auto inner = RecordingView::make(QStringLiteral("inner"), Rect(10, 10, 100, 50), false, log);
    inner->acceptsFirst = true;
    c->setView(inner);
    content->addSubview(inner);

    EXPECT_EQ(inner->nextResponder(), c.get());
    EXPECT_EQ(c->nextResponder(), content.get()) << "after the controller: the view's superview";
    ASSERT_TRUE(window->makeFirstResponder(inner.get()));
    log->clear();

    window->sendEvent(Event::keyDown(QStringLiteral("a")));
    EXPECT_EQ(*log, (QStringList{QStringLiteral("inner.keyDown"), QStringLiteral("c.keyDown")}))
        << "the controller keeps the key";

    c->passKeys = true;
    log->clear();
    window->sendEvent(Event::keyDown(QStringLiteral("b")));
    EXPECT_EQ(*log, (QStringList{QStringLiteral("inner.keyDown"), QStringLiteral("c.keyDown"),
                                 QStringLiteral("content.keyDown")}));
}

TEST(ViewController, ANewViewOrTheControllersEndTakesItOutOfTheChain)
{
    auto log = std::make_shared<QStringList>();
    auto superview = plainView(Rect(0, 0, 300, 200), true);
    auto first = plainView(Rect(0, 0, 10, 10), true);
    auto second = plainView(Rect(0, 0, 10, 10), true);
    superview->addSubview(first);
    superview->addSubview(second);
    auto c = controller(QStringLiteral("c"), log);
    c->setView(first);
    c->setView(second);
    EXPECT_EQ(first->nextResponder(), superview.get()) << "the old view goes back to its superview";
    EXPECT_EQ(second->nextResponder(), c.get());
    c.reset();
    EXPECT_EQ(second->nextResponder(), superview.get());
}

TEST(ViewController, PresentationKeepsTheLinkAndTheAnimatorUntilTheDismissal)
{
    auto log = std::make_shared<QStringList>();
    auto presenting = controller(QStringLiteral("presenting"), log);
    auto presented = controller(QStringLiteral("presented"), log);
    auto animator = std::make_shared<RecordingAnimator>(log);
    std::weak_ptr<RecordingAnimator> weakAnimator = animator;

    presenting->presentViewController(presented, animator);
    EXPECT_EQ(animator->presented, presented.get());
    EXPECT_EQ(animator->presenting, presenting.get());
    EXPECT_EQ(animator->presentingLinkDuringCall, presenting.get());
    EXPECT_EQ(presented->presentingViewController(), presenting);
    ASSERT_EQ(presenting->presentedViewControllers().size(), 1u);
    EXPECT_EQ(presenting->presentedViewControllers()[0], presented);
    EXPECT_EQ(presented->presentationAnimator(), animator);

    animator.reset();
    ASSERT_FALSE(weakAnimator.expired()) << "the presentation keeps the animator";
    std::weak_ptr<RecordingController> weakPresented = presented;
    presented.reset();
    ASSERT_FALSE(weakPresented.expired()) << "the presenting controller keeps the presented one";

    presenting->dismissViewController(weakPresented.lock().get());
    EXPECT_TRUE(weakAnimator.expired()) << "let go after the dismissal";
    EXPECT_TRUE(weakPresented.expired());
    EXPECT_TRUE(presenting->presentedViewControllers().empty());
    EXPECT_EQ(
        *log,
        (QStringList{QStringLiteral("presented.viewWillAppear"), QStringLiteral("animator.present"),
                     QStringLiteral("presented.viewDidAppear"), QStringLiteral("presented.viewWillDisappear"),
                     QStringLiteral("animator.dismiss"), QStringLiteral("presented.viewDidDisappear")}));
}

TEST(ViewController, TheDismissalGoesToTheSameAnimatorObject)
{
    auto log = std::make_shared<QStringList>();
    auto presenting = controller(QStringLiteral("presenting"), log);
    auto first = controller(QStringLiteral("first"), log);
    auto second = controller(QStringLiteral("second"), log);
    auto firstAnimator = std::make_shared<RecordingAnimator>(log);
    auto secondAnimator = std::make_shared<RecordingAnimator>(log);
    presenting->presentViewController(first, firstAnimator);
    presenting->presentViewController(second, secondAnimator);
    ASSERT_EQ(presenting->presentedViewControllers().size(), 2u);

    first->dismissController();
    EXPECT_EQ(firstAnimator->dismissed, first.get());
    EXPECT_EQ(firstAnimator->dismissedFrom, presenting.get());
    EXPECT_EQ(secondAnimator->dismissed, nullptr);
    EXPECT_EQ(first->presentingViewController(), nullptr);
    EXPECT_EQ(first->presentationAnimator(), nullptr);
    ASSERT_EQ(presenting->presentedViewControllers().size(), 1u);
    EXPECT_EQ(presenting->presentedViewControllers()[0], second);

    presenting->dismissViewController(second.get());
    EXPECT_EQ(secondAnimator->dismissed, second.get());
}

TEST(ViewController, MistakenPresentationsAndDismissalsAreLoggedAndIgnored)
{
    LogCapture capture;
    auto log = std::make_shared<QStringList>();
    auto a = controller(QStringLiteral("a"), log);
    auto b = controller(QStringLiteral("b"), log);
    auto c = controller(QStringLiteral("c"), log);
    auto animator = std::make_shared<RecordingAnimator>(log);

    a->presentViewController(b, nullptr);
    a->presentViewController(nullptr, animator);
    a->presentViewController(a, animator);
    EXPECT_EQ(capture.count(QStringLiteral("ERROR: Assertion failure: presentViewController")), 3)
        << capture.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(a->presentedViewControllers().empty());

    a->presentViewController(b, animator);
    c->presentViewController(b, std::make_shared<RecordingAnimator>(log));
    EXPECT_TRUE(capture.contains(QStringLiteral(
        "ERROR: Assertion failure: presentViewController: the controller is presented already")));
    EXPECT_TRUE(c->presentedViewControllers().empty());
    EXPECT_EQ(b->presentingViewController(), a);

    c->dismissViewController(b.get());
    EXPECT_TRUE(capture.contains(QStringLiteral(
        "ERROR: Assertion failure: dismissViewController: the controller was not presented here")));
    EXPECT_EQ(b->presentingViewController(), a) << "still presented";
    a->dismissController();
    EXPECT_TRUE(capture.contains(
        QStringLiteral("ERROR: Assertion failure: dismissController: the controller is not presented")));
    EXPECT_EQ(animator->dismissed, nullptr);
}

TEST(ViewAnimator, SetsTheFrameAtOnceAndAnimatesTheLayerFromWhereItIsShown)
{
    ScopedVirtualTime time;
    auto superview = plainView(Rect(0, 0, 400, 400), true);
    auto view = plainView(Rect(0, 100, 50, 50), true);
    superview->addSubview(view);
    time.advance(0);
    bool completed = false;

    AnimationContext::runAnimationGroup(
        1.0, TimingFunction::linear(), [&] { ViewAnimator(view).setFrame(Rect(0, 300, 50, 150)); },
        [&] { completed = true; });
    EXPECT_EQ(view->frame(), Rect(0, 300, 50, 150)) << "the model at once";
    EXPECT_EQ(view->layer()->position(), Point(0, 300));
    time.advance(0.5);
    EXPECT_NEAR(view->layer()->presentationValue(QStringLiteral("position")).toPoint().y, 200, 1e-6)
        << "half way on a linear curve: a plain view animates through its proxy";
    EXPECT_NEAR(view->layer()->presentationValue(QStringLiteral("bounds")).toRect().size.height, 100, 1e-6);
    EXPECT_FALSE(completed);
    time.advance(0.51);
    EXPECT_TRUE(completed);
    EXPECT_FALSE(view->layer()->hasAnimations());
    EXPECT_EQ(view->layer()->presentationValue(QStringLiteral("position")).toPoint(), Point(0, 300));
}

TEST(ViewAnimator, AlphaAnimatesTheLayersOpacity)
{
    ScopedVirtualTime time;
    auto view = plainView(Rect(0, 0, 50, 50), true);
    time.advance(0);
    AnimationContext::runAnimationGroup(0.4, TimingFunction::linear(),
                                        [&] { ViewAnimator(view).setAlphaValue(0); });
    EXPECT_EQ(view->alphaValue(), 0.0);
    EXPECT_EQ(view->layer()->opacity(), 0.0f);
    time.advance(0.1);
    EXPECT_NEAR(view->layer()->presentationValue(QStringLiteral("opacity")).toDouble(), 0.75, 1e-6);
    ViewAnimator(nullptr).setFrame(Rect(0, 0, 1, 1)); // a proxy of no view does nothing
}
