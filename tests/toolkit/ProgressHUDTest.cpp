// The progress HUD: finding and hiding HUDs of a view, the grace and minimum-show timers on
// virtual time, tasks on threads and queues (one hudWasHidden, the HUD held by its task),
// animated showing and hiding, the indicators of each mode, layout, and property changes
// made off the main thread.

#include "toolkit/ProgressHUD.h"

#include "model/Globals.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Semaphore.h"
#include "platform/core/SerialQueue.h"
#include "platform/gfx/AttributedString.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Window.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/LaterTurn.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "toolkit/BarProgressView.h"
#include "toolkit/ProgressHUDDelegate.h"
#include "toolkit/ProgressHUDLabel.h"
#include "toolkit/RoundProgressView.h"
#include "toolkit/SpinningProgressIndicator.h"

#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using namespace corvex;
using namespace corvex::test;

namespace {

class RecordingDelegate : public ProgressHUDDelegate
{
public:
    void hudWasHidden(ProgressHUD&) override
    {
        ++hidden;
        onMain = onMain && MainQueue::isMainThread();
    }
    void hudWasHiddenAfterDelay(ProgressHUD& hud) override
    {
        ++hiddenAfterDelay;
        finishedWhenToldOfDelay = hud.isFinished();
    }
    void hudWasTapped(ProgressHUD&) override { ++tapped; }

    int hidden = 0;
    int hiddenAfterDelay = 0;
    int tapped = 0;
    bool onMain = true;
    bool finishedWhenToldOfDelay = true;
};

// A host that counts the clicks reaching it through the responder chain.
class ClickCountingView : public View
{
public:
    using View::View;
    void mouseDown(const Event&) override { ++clicks; }
    int clicks = 0;
};

// A HUD that counts its layouts and drawings.
class CountingHUD : public ProgressHUD
{
public:
    using ProgressHUD::ProgressHUD;
    void layout() override
    {
        ++layouts;
        ProgressHUD::layout();
    }
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override
    {
        ++draws;
        ProgressHUD::drawRect(dirtyRect, context);
    }
    int layouts = 0;
    int draws = 0;
};

bool isVisible(const ProgressHUD& hud)
{
    return !hud.isHidden() && hud.alphaValue() > 0;
}

std::shared_ptr<View> makeHost(Size size = Size(320, 240))
{
    return View::create(Rect(Point(), size));
}

Size textSize(const QString& text, const PlatformFont& font)
{
    return AttributedString(text, font, PlatformColor::black()).size();
}

} // namespace

// ---- HUDs of a view ----

TEST(ProgressHUD, HidingTheHUDOfAViewWithoutOneReturnsFalseAndChangesNothing)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto other = View::create(Rect(0, 0, 10, 10));
    host->addSubview(other);
    EXPECT_FALSE(ProgressHUD::hideHUDForView(*host, true));
    EXPECT_EQ(ProgressHUD::hideAllHUDsForView(*host, false), 0);
    ASSERT_EQ(host->subviews().size(), 1u);
    EXPECT_EQ(host->subviews().front(), other);
    EXPECT_EQ(ProgressHUD::HUDForView(*host), nullptr);
}

TEST(ProgressHUD, FindsTheLastHUDOfAViewAndHidesAndRemovesThem)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto first = ProgressHUD::showHUDAddedTo(*host, false);
    host->addSubview(View::create(Rect(0, 0, 10, 10)));
    auto second = ProgressHUD::showHUDAddedTo(*host, false);
    EXPECT_EQ(first->frame(), Rect(0, 0, 320, 240)) << "a HUD covers the whole view";
    EXPECT_TRUE(isVisible(*first));
    EXPECT_EQ(ProgressHUD::HUDForView(*host), second);
    EXPECT_EQ(ProgressHUD::allHUDsForView(*host), (std::vector<std::shared_ptr<ProgressHUD>>{first, second}));

    EXPECT_TRUE(ProgressHUD::hideHUDForView(*host, false));
    EXPECT_TRUE(second->isFinished());
    EXPECT_EQ(second->superview(), nullptr) << "removed from the view on hide";
    EXPECT_EQ(ProgressHUD::HUDForView(*host), first);

    auto third = ProgressHUD::showHUDAddedTo(*host, false);
    EXPECT_EQ(ProgressHUD::hideAllHUDsForView(*host, false), 2);
    EXPECT_EQ(first->superview(), nullptr);
    EXPECT_EQ(third->superview(), nullptr);
    EXPECT_EQ(host->subviews().size(), 1u) << "only the plain subview is left";
}

// ---- Grace and minimum show time ----

TEST(ProgressHUD, ABlockTaskEndingWithinTheGraceTimeNeverShowsTheHUDAndCompletesOnce)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::createWithView(*host);
    host->addSubview(hud);
    hud->setGraceTime(0.5f);
    Semaphore gate;
    CompletionRecorder recorder;
    hud->showAnimatedWhileExecutingBlock(
        true, [&gate] { gate.wait(); }, recorder.expect<>(QStringLiteral("completion")));
    EXPECT_TRUE(hud->taskInProgress());
    EXPECT_TRUE(hud->hasGraceTimer());
    EXPECT_FALSE(isVisible(*hud));

    time.advance(0.2);
    EXPECT_FALSE(isVisible(*hud));
    gate.signal();
    ASSERT_TRUE(runUntil([&] { return hud->isFinished(); }));
    EXPECT_FALSE(hud->taskInProgress());
    EXPECT_EQ(recorder.callCount(QStringLiteral("completion")), 1);

    time.advance(0.5);
    EXPECT_FALSE(isVisible(*hud)) << "the grace time passed after the task: the HUD never showed";
    EXPECT_FALSE(hud->showStarted().has_value());
    EXPECT_TRUE(recorder.verify());
}

TEST(ProgressHUD, ATaskStillRunningAfterTheGraceTimeShowsTheHUD)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::createWithView(*host);
    host->addSubview(hud);
    hud->setGraceTime(0.5f);
    Semaphore gate;
    hud->showWhileExecuting([&gate] { gate.wait(); }, false);
    time.advance(0.49);
    EXPECT_FALSE(isVisible(*hud));
    time.advance(0.02);
    EXPECT_TRUE(isVisible(*hud));
    EXPECT_EQ(hud->showStarted(), std::optional<double>(time.now() - 0.01));
    gate.signal();
    ASSERT_TRUE(runUntil([&] { return hud->isFinished(); }));
    EXPECT_FALSE(isVisible(*hud));

    // Without a task the grace timer never shows the HUD.
    hud->show(false);
    time.advance(1.0);
    EXPECT_FALSE(isVisible(*hud));
}

TEST(ProgressHUD, AHideSoonAfterAppearingKeepsTheHUDUpForTheMinimumShowTime)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::createWithView(*host);
    host->addSubview(hud);
    auto delegate = std::make_shared<RecordingDelegate>();
    hud->setDelegate(delegate);
    hud->setMinShowTime(1.0f);
    hud->show(false);
    time.advance(0.3);
    hud->hide(false);
    EXPECT_TRUE(hud->hasMinShowTimer());
    EXPECT_TRUE(isVisible(*hud));
    time.advance(0.69);
    EXPECT_TRUE(isVisible(*hud)) << "0.7 s more on screen";
    EXPECT_EQ(delegate->hidden, 0);
    time.advance(0.02);
    EXPECT_FALSE(isVisible(*hud));
    EXPECT_TRUE(hud->isFinished());
    EXPECT_EQ(delegate->hidden, 1);

    // Shown long enough: a hide acts at once.
    hud->show(false);
    time.advance(1.5);
    hud->hide(false);
    EXPECT_TRUE(hud->isFinished());
    EXPECT_EQ(delegate->hidden, 2);
}

TEST(ProgressHUD, AnAnimatedHideAfterTheMinimumShowTimeFadesThenFinishes)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::createWithView(*host);
    host->addSubview(hud);
    hud->setMinShowTime(1.0f);
    hud->show(true);
    time.advance(0.3);
    hud->hide(true);
    time.advance(0.8);
    EXPECT_FALSE(hud->isFinished()) << "the fade runs from 1.0 s to 1.3 s";
    EXPECT_LT(hud->layer()->presentationProperties().opacity, 0.99f);
    time.advance(0.3);
    EXPECT_TRUE(hud->isFinished());
    EXPECT_TRUE(hud->isHidden());
}

// ---- Tasks and dismissal ----

TEST(ProgressHUD, DismissedWhileItsThreadTaskRunsTheDelegateHearsHudWasHiddenOnce)
{
    ScopedVirtualTime time;
    auto host = std::make_shared<ClickCountingView>(Rect(0, 0, 320, 240));
    auto delegate = std::make_shared<RecordingDelegate>();
    Semaphore gate;
    std::atomic<bool> taskEnded{false};
    std::atomic<bool> taskOnMain{true};
    std::weak_ptr<ProgressHUD> weak;
    {
        auto hud = ProgressHUD::createWithView(*host);
        host->addSubview(hud);
        hud->setDelegate(delegate);
        hud->setDismissible(true);
        hud->setRemoveFromSuperViewOnHide(true);
        hud->showWhileExecuting(
            [&] {
                taskOnMain = MainQueue::isMainThread();
                gate.wait();
                taskEnded = true;
            },
            false);
        EXPECT_TRUE(isVisible(*hud));
        weak = hud;

        hud->mouseDown(Event::mouseDown(Point(160, 120)));
        EXPECT_EQ(delegate->tapped, 1);
        EXPECT_EQ(delegate->hidden, 1);
        EXPECT_TRUE(hud->isFinished());
        EXPECT_FALSE(hud->taskInProgress());
        EXPECT_EQ(hud->superview(), nullptr);
        EXPECT_EQ(host->clicks, 0) << "the click ends at the HUD";
    }
    EXPECT_FALSE(weak.expired()) << "the running task holds the HUD";
    gate.signal();
    ASSERT_TRUE(runUntil([&] { return weak.expired(); })) << "let go once the task's clean-up ran";
    EXPECT_TRUE(taskEnded);
    EXPECT_FALSE(taskOnMain) << "the task ran on its own thread";
    EXPECT_EQ(delegate->hidden, 1) << "the task's clean-up found the HUD finished";
    EXPECT_EQ(delegate->tapped, 1);
    EXPECT_TRUE(delegate->onMain);
}

TEST(ProgressHUD, DismissedWhileItsBlockRunsOnAQueueTheCompletionRunsOnce)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto delegate = std::make_shared<RecordingDelegate>();
    SerialQueue queue("com.tallowfen.corvex.test.hud");
    Semaphore gate;
    std::atomic<bool> onQueue{false};
    CompletionRecorder recorder;
    std::weak_ptr<ProgressHUD> weak;
    {
        auto hud = ProgressHUD::createWithView(*host);
        host->addSubview(hud);
        hud->setDelegate(delegate);
        hud->setDismissible(true);
        hud->showAnimatedWhileExecutingBlock(
            false,
            [&] {
                onQueue = queue.isCurrent();
                gate.wait();
            },
            queue, recorder.expect<>(QStringLiteral("completion")));
        weak = hud;
        {
            // The click is delivered straight from the test: a later turn, as an event is.
            const LaterTurn turn;
            hud->mouseDown(Event::mouseDown(Point(10, 10)));
        }
        time.runDue(); // the completion is heard on the turn after the click
        EXPECT_EQ(recorder.callCount(QStringLiteral("completion")), 1);
        host.reset();
    }
    EXPECT_FALSE(weak.expired());
    gate.signal();
    ASSERT_TRUE(runUntil([&] { return weak.expired(); }));
    EXPECT_TRUE(onQueue) << "the block ran on the given queue";
    EXPECT_EQ(delegate->hidden, 1);
    EXPECT_TRUE(recorder.verify());
}

TEST(ProgressHUD, AThreadTaskHidesTheHUDWhenItEnds)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::showHUDAddedTo(*host, false);
    hud->setRemoveFromSuperViewOnHide(true);
    std::atomic<int> runs{0};
    hud->showWhileExecuting([&runs] { ++runs; }, false);
    EXPECT_TRUE(hud->taskInProgress());
    ASSERT_TRUE(runUntil([&] { return hud->isFinished(); }));
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(hud->taskInProgress());
    EXPECT_EQ(hud->superview(), nullptr);
}

TEST(ProgressHUD, AClickOnANonDismissibleHUDIsSwallowedAndOnAFinishedOneGoesOn)
{
    ScopedVirtualTime time;
    auto host = std::make_shared<ClickCountingView>(Rect(0, 0, 320, 240));
    auto hud = ProgressHUD::showHUDAddedTo(*host, false);
    auto delegate = std::make_shared<RecordingDelegate>();
    hud->setDelegate(delegate);
    hud->mouseDown(Event::mouseDown(Point(5, 5)));
    EXPECT_FALSE(hud->isFinished());
    EXPECT_EQ(host->clicks, 0);
    EXPECT_EQ(delegate->tapped, 0);
    hud->hide(false);
    hud->mouseDown(Event::mouseDown(Point(5, 5)));
    EXPECT_EQ(host->clicks, 1) << "a finished HUD passes clicks up the chain";
}

TEST(ProgressHUD, ASecondHideAfterFinishingCallsNothingAgain)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::showHUDAddedTo(*host, true);
    auto delegate = std::make_shared<RecordingDelegate>();
    hud->setDelegate(delegate);
    int completions = 0;
    CompletionRecorder recorder;
    hud->setCompletionBlock(recorder.expect<>(QStringLiteral("hidden"), [&completions] { ++completions; }));
    time.advance(0.5);
    hud->hide(true);
    time.advance(0.5);
    ASSERT_TRUE(hud->isFinished());
    EXPECT_EQ(completions, 1);
    EXPECT_FALSE(static_cast<bool>(hud->completionBlock())) << "cleared once called";
    hud->hide(true);
    hud->hide(false);
    time.advance(0.5);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(delegate->hidden, 1);
}

TEST(ProgressHUD, ADelayedHideTellsTheDelegateAndAnEarlierHideCancelsIt)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::showHUDAddedTo(*host, false);
    auto delegate = std::make_shared<RecordingDelegate>();
    hud->setDelegate(delegate);
    hud->hide(false, 1.1);
    time.advance(1.0);
    EXPECT_TRUE(isVisible(*hud));
    time.advance(0.2);
    EXPECT_EQ(delegate->hiddenAfterDelay, 1);
    EXPECT_FALSE(delegate->finishedWhenToldOfDelay) << "told before the hide";
    EXPECT_TRUE(hud->isFinished());

    hud->show(false);
    hud->hide(false, 1.1);
    hud->hide(false);
    EXPECT_TRUE(hud->isFinished());
    time.advance(2.0);
    EXPECT_EQ(delegate->hiddenAfterDelay, 1) << "the delayed hide was cancelled";
    EXPECT_EQ(delegate->hidden, 2);
}

// ---- Animation ----

TEST(ProgressHUD, AnAnimatedShowFadesInOverThreeTenthsAndZoomsAboutTheCentre)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::createWithView(*host);
    host->addSubview(hud);
    hud->setAnimationType(ProgressHUD::AnimationShrink);
    hud->show(true);
    EXPECT_DOUBLE_EQ(hud->alphaValue(), 1.0) << "the model value at once";
    const LayerProperties start = hud->layer()->presentationProperties();
    EXPECT_FLOAT_EQ(start.opacity, 0.0f);
    // Scale 1.5 about the centre (160, 120): the centre stays, a corner moves out.
    const Point center = start.transform.apply(Point(160, 120));
    EXPECT_NEAR(center.x, 160, 1e-9);
    EXPECT_NEAR(center.y, 120, 1e-9);
    const Point corner = start.transform.apply(Point(0, 0));
    EXPECT_NEAR(corner.x, -80, 1e-9);
    EXPECT_NEAR(corner.y, -60, 1e-9);

    time.advance(0.15);
    const LayerProperties middle = hud->layer()->presentationProperties();
    EXPECT_GT(middle.opacity, 0.1f);
    EXPECT_LT(middle.opacity, 0.9f);
    time.advance(0.2);
    const LayerProperties end = hud->layer()->presentationProperties();
    EXPECT_FLOAT_EQ(end.opacity, 1.0f);
    EXPECT_TRUE(end.transform.isIdentity());

    // Hiding shrinks it towards 0.5 while it fades towards 0.2.
    hud->hide(true);
    time.advance(0.15);
    const LayerProperties hiding = hud->layer()->presentationProperties();
    EXPECT_LT(hiding.opacity, 0.99f);
    EXPECT_GT(hiding.opacity, 0.2f);
    const Point shrinking = hiding.transform.apply(Point(0, 0));
    EXPECT_GT(shrinking.x, 0) << "the corner moves in";
    EXPECT_FALSE(hud->isFinished()) << "done runs when the animation ends";
    time.advance(0.2);
    EXPECT_TRUE(hud->isFinished());
    EXPECT_TRUE(hud->isHidden());
    EXPECT_DOUBLE_EQ(hud->alphaValue(), 0.0);
    EXPECT_TRUE(hud->layer()->transform().isIdentity()) << "no zoom is left behind";
}

TEST(ProgressHUD, TheGrowingTypeAppearsFromHalfSizeAndAnUnanimatedShowDoesNotZoom)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::createWithView(*host);
    host->addSubview(hud);
    hud->setAnimationType(ProgressHUD::AnimationGrow);
    hud->show(true);
    const Point corner = hud->layer()->presentationProperties().transform.apply(Point(0, 0));
    EXPECT_NEAR(corner.x, 80, 1e-9);
    EXPECT_NEAR(corner.y, 60, 1e-9);
    time.advance(0.5);
    hud->hide(false);
    hud->show(false);
    EXPECT_TRUE(hud->layer()->presentationProperties().transform.isIdentity());
    EXPECT_FLOAT_EQ(hud->layer()->presentationProperties().opacity, 1.0f);
}

// ---- Indicators ----

TEST(ProgressHUD, EachModeHasItsIndicator)
{
    ScopedVirtualTime time;
    // In a window, where a spinner's timer runs.
    auto window = Window::create(Size(320, 240));
    auto host = makeHost();
    window->setContentView(host);
    auto hud = ProgressHUD::showHUDAddedTo(*host, false);

    auto spinner = std::dynamic_pointer_cast<SpinningProgressIndicator>(hud->indicator());
    ASSERT_NE(spinner, nullptr) << "mode 0: a spinner";
    EXPECT_EQ(spinner->bounds().size, Size(60, 60));
    EXPECT_EQ(spinner->color(), PlatformColor::white());
    EXPECT_FALSE(spinner->usesThreadedAnimation());
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_TRUE(spinner->hasAnimationTimer()) << "started at once, on the main thread's timer";
    EXPECT_FALSE(spinner->hasAnimationThread());
    EXPECT_EQ(spinner->superview(), hud.get());
    time.advance(0.075);
    EXPECT_EQ(spinner->position(), 0) << "it steps";
    hud->show(false);
    EXPECT_EQ(hud->indicator(), spinner) << "a spinner is kept";

    hud->setMode(ProgressHUD::ModeRoundProgress);
    auto round = std::dynamic_pointer_cast<RoundProgressView>(hud->indicator());
    ASSERT_NE(round, nullptr);
    EXPECT_FALSE(round->isAnnular());
    EXPECT_EQ(round->bounds().size, Size(60, 60));
    EXPECT_EQ(spinner->superview(), nullptr) << "the old indicator is removed";
    EXPECT_FALSE(spinner->isAnimating()) << "and stops with it, as it leaves the window";
    EXPECT_FALSE(spinner->hasAnimationTimer());
    hud->setMode(ProgressHUD::ModeAnnularProgress);
    EXPECT_EQ(hud->indicator(), round) << "a round view is kept";
    EXPECT_TRUE(round->isAnnular());

    hud->setMode(ProgressHUD::ModeBarProgress);
    auto bar = std::dynamic_pointer_cast<BarProgressView>(hud->indicator());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->bounds().size, Size(120, 20));
    hud->show(false);
    EXPECT_NE(hud->indicator(), bar) << "a bar is made anew on every update";

    auto custom = View::create(Rect(0, 0, 30, 40));
    hud->setCustomView(custom);
    EXPECT_NE(hud->indicator(), custom) << "the custom view serves only in its mode";
    hud->setMode(ProgressHUD::ModeCustomView);
    EXPECT_EQ(hud->indicator(), custom);
    EXPECT_EQ(custom->superview(), hud.get());

    hud->setMode(ProgressHUD::ModeText);
    EXPECT_EQ(hud->indicator(), nullptr);
    EXPECT_EQ(custom->superview(), nullptr);
}

// Every property change of the round and bar indicators redraws them.
TEST(ProgressHUD, TheRoundAndBarIndicatorsRedrawOnEveryPropertyChange)
{
    auto round = RoundProgressView::create();
    EXPECT_EQ(round->progressTintColor(), PlatformColor::deviceWhite(1.0, 1.0));
    EXPECT_EQ(round->backgroundTintColor(), PlatformColor::deviceWhite(1.0, 0.1));
    const std::vector<std::function<void()>> roundChanges = {
        [&] { round->setProgress(0.5f); },
        [&] { round->setProgressTintColor(PlatformColor::black()); },
        [&] { round->setBackgroundTintColor(PlatformColor::black()); },
        [&] { round->setAnnular(true); },
    };
    for (std::size_t i = 0; i < roundChanges.size(); ++i) {
        View::runUpdateCycle();
        ASSERT_FALSE(round->needsDisplay());
        roundChanges[i]();
        EXPECT_TRUE(round->needsDisplay()) << "round view change " << i;
    }

    auto bar = BarProgressView::create();
    EXPECT_EQ(bar->lineColor(), PlatformColor::red());
    EXPECT_EQ(bar->progressRemainingColor(), PlatformColor::clear());
    EXPECT_EQ(bar->progressColor(), PlatformColor::white());
    const std::vector<std::function<void()>> barChanges = {
        [&] { bar->setProgress(0.5f); },
        [&] { bar->setLineColor(PlatformColor::black()); },
        [&] { bar->setProgressRemainingColor(PlatformColor::black()); },
        [&] { bar->setProgressColor(PlatformColor::black()); },
    };
    for (std::size_t i = 0; i < barChanges.size(); ++i) {
        View::runUpdateCycle();
        ASSERT_FALSE(bar->needsDisplay());
        barChanges[i]();
        EXPECT_TRUE(bar->needsDisplay()) << "bar view change " << i;
    }
}

TEST(ProgressHUD, ProgressFromABackgroundThreadReachesTheIndicatorOnTheMainThreadWithoutALayout)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = std::make_shared<CountingHUD>(Rect(0, 0, 320, 240));
    host->addSubview(hud);
    hud->setMode(ProgressHUD::ModeRoundProgress);
    hud->setLabelText(QStringLiteral("Loading"));
    hud->show(false);
    auto round = std::dynamic_pointer_cast<RoundProgressView>(hud->indicator());
    ASSERT_NE(round, nullptr);
    View::runUpdateCycle();
    const int layouts = hud->layouts;
    const int draws = hud->draws;
    ASSERT_GT(draws, 0);

    std::thread worker([&hud] { hud->setProgress(0.6f); });
    worker.join();
    EXPECT_FLOAT_EQ(hud->progress(), 0.6f) << "the property at once";
    EXPECT_FLOAT_EQ(round->progress(), 0.0f) << "the view only on the main thread";
    time.runDue();
    EXPECT_FLOAT_EQ(round->progress(), 0.6f);
    View::runUpdateCycle();
    EXPECT_EQ(hud->layouts, layouts) << "no layout of the HUD";
    EXPECT_EQ(hud->draws, draws) << "no redraw of the HUD";

    // A text from another thread changes the label there too, and relays out the HUD.
    std::thread texts([&hud] { hud->setDetailsLabelText(QStringLiteral("3 of 5")); });
    texts.join();
    EXPECT_TRUE(hud->detailsLabel()->text().isEmpty());
    time.runDue();
    EXPECT_EQ(hud->detailsLabel()->text(), QStringLiteral("3 of 5"));
    View::runUpdateCycle();
    EXPECT_GT(hud->layouts, layouts);
}

// ---- Layout ----

TEST(ProgressHUD, TextOnlyModeLaysOutTheLabelAlone)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::showHUDAddedTo(*host, false);
    hud->setMode(ProgressHUD::ModeText);
    hud->setLabelText(QStringLiteral("Saved"));
    hud->layoutSubviews();
    const Size text = textSize(QStringLiteral("Saved"), hud->labelFont());
    ASSERT_GT(text.width, 0);
    EXPECT_EQ(hud->indicator(), nullptr);
    EXPECT_DOUBLE_EQ(hud->size().width, text.width + 10 + 2 * 20);
    EXPECT_DOUBLE_EQ(hud->size().height, text.height + 2 * 20);
    const Rect label = hud->label()->frame();
    EXPECT_DOUBLE_EQ(label.size.width, text.width + 10);
    EXPECT_DOUBLE_EQ(label.size.height, text.height);
    EXPECT_DOUBLE_EQ(label.origin.x, std::round((320 - label.size.width) / 2));
    EXPECT_DOUBLE_EQ(label.origin.y, std::round((240 - hud->size().height) / 2) + 20);
    EXPECT_EQ(hud->detailsLabel()->frame().size, Size()) << "no details text";
}

TEST(ProgressHUD, ALabelWiderThanTheRoomGetsExactlyTheHUDWidthLessFourMargins)
{
    ScopedVirtualTime time;
    auto host = makeHost(Size(300, 200));
    auto hud = ProgressHUD::showHUDAddedTo(*host, false);
    hud->setLabelText(QStringLiteral("A label far too long to fit into the box of this small HUD"));
    ASSERT_GT(textSize(hud->labelText(), hud->labelFont()).width, 220);
    hud->layoutSubviews();
    EXPECT_DOUBLE_EQ(hud->label()->frame().size.width, 300 - 80);
    EXPECT_DOUBLE_EQ(hud->size().width, 220 + 40);
}

TEST(ProgressHUD, StacksDetailsLabelAndIndicatorFromTheBottomAndHonoursOffsetsSquareAndMinimumSize)
{
    ScopedVirtualTime time;
    auto host = makeHost();
    auto hud = ProgressHUD::showHUDAddedTo(*host, false);
    hud->setLabelText(QStringLiteral("Load"));
    hud->setDetailsLabelText(QStringLiteral("Wait"));
    hud->layoutSubviews();
    const Rect details = hud->detailsLabel()->frame();
    const Rect label = hud->label()->frame();
    const Rect indicator = hud->indicator()->frame();
    const double boxHeight = 60 + label.size.height + details.size.height + 40;
    EXPECT_DOUBLE_EQ(hud->size().height, boxHeight);
    EXPECT_DOUBLE_EQ(hud->size().width, 100) << "the spinner is the widest item";
    EXPECT_DOUBLE_EQ(details.origin.y, std::round((240 - boxHeight) / 2) + 20) << "details at the bottom";
    EXPECT_DOUBLE_EQ(label.origin.y, details.maxY()) << "the label on the details";
    EXPECT_DOUBLE_EQ(indicator.origin.y, label.maxY()) << "the indicator on top";
    EXPECT_EQ(indicator, Rect(130, label.maxY(), 60, 60));

    // A positive y offset moves everything down (y grows upwards here).
    hud->setXOffset(7);
    hud->setYOffset(10);
    hud->layoutSubviews();
    EXPECT_EQ(hud->indicator()->frame(), indicator.offsetBy(7, -10));

    hud->setSquare(true);
    hud->layoutSubviews();
    EXPECT_DOUBLE_EQ(hud->size().width, boxHeight) << "square where it fits";
    EXPECT_DOUBLE_EQ(hud->size().height, boxHeight);

    hud->setSquare(false);
    hud->setMinSize(Size(150, 10));
    hud->layoutSubviews();
    EXPECT_EQ(hud->size(), Size(150, boxHeight)) << "raised to the minimum where smaller";

    // The HUD follows its superview's bounds.
    host->setFrameSize(Size(400, 300));
    hud->layoutSubviews();
    EXPECT_EQ(hud->frame(), Rect(0, 0, 400, 300));
}

TEST(ProgressHUD, StartsHiddenWithTheDocumentedAppearance)
{
    auto hud = ProgressHUD::create(Rect(0, 0, 100, 100));
    EXPECT_DOUBLE_EQ(hud->alphaValue(), 0.0);
    EXPECT_FALSE(hud->isFlipped());
    EXPECT_EQ(hud->mode(), ProgressHUD::ModeSpinner);
    EXPECT_FLOAT_EQ(hud->opacity(), 0.8f);
    EXPECT_EQ(hud->color(), std::optional<PlatformColor>(Globals::colorGray95()));
    EXPECT_EQ(hud->labelFont().pointSize(), 16);
    EXPECT_EQ(hud->labelFont().faceName(), QStringLiteral("Avenir Medium"));
    EXPECT_EQ(hud->detailsLabelFont(), PlatformFont::boldSystemFont(12));
    EXPECT_EQ(hud->detailsLabelColor(), PlatformColor::white());
    EXPECT_FLOAT_EQ(hud->spinsize(), 60);
    EXPECT_FLOAT_EQ(hud->margin(), 20);
    EXPECT_FLOAT_EQ(hud->cornerRadius(), 10);
    EXPECT_EQ(hud->autoresizingMask(),
              unsigned(View::MinXMargin | View::MaxXMargin | View::MinYMargin | View::MaxYMargin));
    ASSERT_EQ(hud->subviews().size(), 2u);
    EXPECT_EQ(hud->subviews()[0], hud->label()) << "the label first";
    EXPECT_EQ(hud->subviews()[1], hud->detailsLabel());
    EXPECT_EQ(hud->indicator(), nullptr) << "made by the first show";
}
