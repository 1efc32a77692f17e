#include "toolkit/TapPanSwipeDetector.h"

#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/GestureTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

struct PanFixture
{
    ScopedVirtualTime time{kGestureStart};
    std::shared_ptr<TapPanSwipeDetector> detector = TapPanSwipeDetector::create();
    std::shared_ptr<RecordingPanDelegate> delegate = std::make_shared<RecordingPanDelegate>();

    PanFixture() { detector->setDelegate(delegate); }
    const Lines& lines() const { return delegate->log.lines; }
};

} // namespace

// ---- Taps ----

TEST(TapPanSwipeDetector, AClickIsASingleTapAtTheReleasePointAndIsForgottenAfterThreeTenths)
{
    PanFixture f;
    f.detector->mouseDown(down(10, 20));
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Pressed);
    EXPECT_TRUE(f.lines().empty()) << "a press alone reports nothing";
    f.time.advance(0.1);
    f.detector->mouseUp(up(10, 20));
    EXPECT_EQ(f.lines(), (Lines{"singleTap (10, 20)"})) << "reported at once, on the release";
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Tapped);
    ASSERT_TRUE(f.detector->lastEvent().has_value());
    EXPECT_EQ(f.detector->lastEvent()->type(), Event::Type::LeftMouseUp);

    f.time.advance(0.299);
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Tapped)
        << "the check comes 300 ms after the tap";
    f.time.advance(0.002);
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Idle);
    EXPECT_FALSE(f.detector->lastEvent().has_value()) << "the check resets";
    EXPECT_EQ(f.lines().size(), 1u);
}

TEST(TapPanSwipeDetector, ADoubleClickIsASingleTapThenADoubleTapFromTheClickCount)
{
    PanFixture f;
    f.detector->mouseDown(down(5, 5, 1));
    f.detector->mouseUp(up(5, 5, 1));
    f.time.advance(0.15);
    f.detector->mouseDown(down(6, 5, 2));
    f.detector->mouseUp(up(6, 5, 2));
    EXPECT_EQ(f.lines(), (Lines{"singleTap (5, 5)", "doubleTap (6, 5)"})) << "the first tap is not withdrawn";
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Idle);
    f.time.advance(1);
    EXPECT_EQ(f.lines().size(), 2u);
}

TEST(TapPanSwipeDetector, ATripleClickEndsWithASingleTap)
{
    PanFixture f;
    for (int clicks = 1; clicks <= 3; ++clicks) {
        f.detector->mouseDown(down(7, 8, clicks));
        f.detector->mouseUp(up(7, 8, clicks));
        f.time.advance(0.1);
    }
    EXPECT_EQ(f.lines(), (Lines{"singleTap (7, 8)", "doubleTap (7, 8)", "singleTap (7, 8)"}));
}

TEST(TapPanSwipeDetector, AReleaseWithoutAPressSoonAfterASingleTapIsADoubleTap)
{
    PanFixture f;
    f.detector->mouseDown(at(down(1, 1), 1.0));
    f.detector->mouseUp(at(up(1, 1), 1.0));
    f.detector->mouseUp(at(up(2, 2), 1.29));
    EXPECT_EQ(f.lines(), (Lines{"singleTap (1, 1)", "doubleTap (2, 2)"}));
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Idle);
}

TEST(TapPanSwipeDetector, AReleaseThreeTenthsOrMoreAfterASingleTapSendsNothingAndResets)
{
    for (const double later : {1.3, 1.5}) {
        PanFixture f;
        f.detector->mouseDown(at(down(1, 1), 1.0));
        f.detector->mouseUp(at(up(1, 1), 1.0));
        ASSERT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Tapped);
        const std::int64_t counter = f.detector->operationCount();
        f.detector->mouseUp(at(up(2, 2), later)); // the 300 ms check has not run: virtual time stands still
        EXPECT_EQ(f.lines(), (Lines{"singleTap (1, 1)"})) << "release at " << later;
        EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Idle);
        EXPECT_EQ(f.detector->operationCount(), counter + 1);
    }
}

TEST(TapPanSwipeDetector, AReleaseWithClickCountTwoAfterAPressIsADoubleTapAtOnce)
{
    PanFixture f;
    f.detector->mouseDown(down(3, 4, 2));
    f.detector->mouseUp(up(3, 4, 2));
    EXPECT_EQ(f.lines(), (Lines{"doubleTap (3, 4)"}));
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Idle);
    EXPECT_FALSE(f.detector->lastEvent().has_value());
}

TEST(TapPanSwipeDetector, AStaleTapCheckLeavesANewPressAlone)
{
    PanFixture f;
    f.detector->mouseDown(down(0, 0));
    f.detector->mouseUp(up(0, 0));
    f.time.advance(0.2);
    f.detector->mouseDown(down(0, 0)); // held across the first tap's check
    f.time.advance(0.2);
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Pressed);
    ASSERT_TRUE(f.detector->lastEvent().has_value());
    EXPECT_EQ(f.detector->lastEvent()->type(), Event::Type::LeftMouseDown);
    f.detector->mouseDragged(drag(4, 0));
    EXPECT_TRUE(f.detector->panning());
}

TEST(TapPanSwipeDetector, AReleaseInTheIdleStateOnlyResets)
{
    PanFixture f;
    const std::int64_t counter = f.detector->operationCount();
    f.detector->mouseUp(up(1, 1));
    EXPECT_TRUE(f.lines().empty());
    EXPECT_EQ(f.detector->operationCount(), counter + 1);
    EXPECT_FALSE(f.detector->lastEvent().has_value());
}

// ---- Pans and swipes ----

TEST(TapPanSwipeDetector, AnyMovementAfterAPressStartsAPanWithAnUpdateInTheSameEvent)
{
    PanFixture f;
    f.detector->mouseDown(at(down(10, 10), kGestureStart));
    f.detector->mouseDragged(at(drag(10, 10), kGestureStart + 0.0625));
    EXPECT_TRUE(f.lines().empty()) << "a drag that does not move does nothing";
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Pressed);

    f.detector->mouseDragged(at(drag(10.25, 10), kGestureStart + 0.125));
    EXPECT_EQ(f.lines(), (Lines{"panGestureStarted (10.25, 10)", "panGestureUpdate (0.25, 0)"}));
    EXPECT_TRUE(f.detector->panning());
    EXPECT_EQ(f.detector->lastUpdateVelocity(), Point()) << "the first step computes no velocity";

    f.detector->mouseDragged(at(drag(20.25, 5), kGestureStart + 0.1875));
    EXPECT_EQ(f.lines().back(), "panGestureUpdate (10, -5)");
    EXPECT_EQ(f.detector->lastUpdateVelocity(), Point(160, -80)) << "movement / 0.0625 s";

    f.detector->mouseUp(at(up(22.25, 5), kGestureStart + 0.25));
    EXPECT_EQ(f.lines().back(), "panGestureDone (2, 0) (160, -80)")
        << "a release within 0.1 s carries the last step's velocity";
    EXPECT_EQ(f.lines().size(), 4u);
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Idle);
    EXPECT_EQ(f.detector->lastUpdateVelocity(), Point(160, -80)) << "reset keeps the velocity";
    EXPECT_FALSE(f.detector->lastEvent().has_value());

    f.detector->mouseDown(at(down(0, 0), kGestureStart + 1));
    EXPECT_EQ(f.detector->lastUpdateVelocity(), Point()) << "the next press clears it";
}

TEST(TapPanSwipeDetector, APanThatRestedBeforeTheReleaseEndsWithoutASwipe)
{
    PanFixture f;
    f.detector->mouseDown(at(down(0, 0), kGestureStart));
    f.detector->mouseDragged(at(drag(4, 0), kGestureStart + 0.0625));
    f.detector->mouseDragged(at(drag(8, 0), kGestureStart + 0.125));
    ASSERT_EQ(f.detector->lastUpdateVelocity(), Point(64, 0));
    f.detector->mouseUp(at(up(8, 0), kGestureStart + 0.25)); // 0.125 s after the last step
    EXPECT_EQ(f.lines().back(), "panGestureDone (0, 0) (0, 0)");
}

TEST(TapPanSwipeDetector, APanOfOneStepEndsWithoutASwipe)
{
    PanFixture f;
    f.detector->mouseDown(at(down(0, 0), kGestureStart));
    f.detector->mouseDragged(at(drag(30, 40), kGestureStart + 0.0625));
    f.detector->mouseUp(at(up(31, 40), kGestureStart + 0.09375));
    EXPECT_EQ(f.lines(), (Lines{"panGestureStarted (30, 40)", "panGestureUpdate (30, 40)",
                                "panGestureDone (1, 0) (0, 0)"}));
}

TEST(TapPanSwipeDetector, AStepWithTheTimestampOfThePreviousOneZeroesTheVelocity)
{
    PanFixture f;
    f.detector->mouseDown(at(down(0, 0), kGestureStart));
    f.detector->mouseDragged(at(drag(1, 0), kGestureStart + 0.0625));
    f.detector->mouseDragged(at(drag(5, 0), kGestureStart + 0.125));
    ASSERT_EQ(f.detector->lastUpdateVelocity(), Point(64, 0));
    f.detector->mouseDragged(at(drag(9, 0), kGestureStart + 0.125));
    EXPECT_EQ(f.detector->lastUpdateVelocity(), Point(0, 0));
    EXPECT_EQ(f.lines().back(), "panGestureUpdate (4, 0)") << "the movement is still reported";
    f.detector->mouseUp(at(up(9, 0), kGestureStart + 0.125));
    EXPECT_EQ(f.lines().back(), "panGestureDone (0, 0) (0, 0)");
}

TEST(TapPanSwipeDetector, APanIsNeverATapAndAPressDuringAPanStartsOver)
{
    PanFixture f;
    f.detector->mouseDown(down(0, 0));
    f.detector->mouseDragged(drag(0, 1));
    f.time.advance(0.05);
    f.detector->mouseDown(down(50, 50)); // a press in any state starts over
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Pressed);
    f.detector->mouseUp(up(50, 50));
    EXPECT_EQ(f.lines(), (Lines{"panGestureStarted (0, 1)", "panGestureUpdate (0, 1)", "singleTap (50, 50)"}))
        << "no panGestureDone for the abandoned pan";
}

TEST(TapPanSwipeDetector, DragsOutsideAPressReportNothing)
{
    PanFixture f;
    f.detector->mouseDragged(drag(5, 5));
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Idle);
    ASSERT_TRUE(f.detector->lastEvent().has_value()) << "the event is kept in every state";
    f.detector->mouseDown(down(0, 0));
    f.detector->mouseUp(up(0, 0));
    f.detector->mouseDragged(drag(9, 9));
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Tapped);
    EXPECT_EQ(f.lines(), (Lines{"singleTap (0, 0)"}));
}

TEST(TapPanSwipeDetector, StartPanEntersThePanningStateAndReportsThePoint)
{
    PanFixture f;
    f.detector->startPan(Point(3, 4));
    EXPECT_TRUE(f.detector->panning());
    EXPECT_EQ(f.lines(), (Lines{"panGestureStarted (3, 4)"}));
}

// ---- Reset, ownership, delegate ----

TEST(TapPanSwipeDetector, ResetZeroesTheStateAndMovesTheCounter)
{
    PanFixture f;
    EXPECT_EQ(f.detector->operationCount(), 0);
    f.detector->mouseDown(down(5, 5));
    EXPECT_EQ(f.detector->operationCount(), 1) << "every press moves the counter";
    f.detector->reset();
    EXPECT_EQ(f.detector->operationCount(), 2);
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Idle);
    EXPECT_FALSE(f.detector->lastEvent().has_value());
    f.detector->mouseDragged(drag(5, 5));
    EXPECT_TRUE(f.lines().empty()) << "the press was dropped: no pan";
}

TEST(TapPanSwipeDetector, APendingCheckKeepsTheDetectorUntilItRuns)
{
    ScopedVirtualTime time;
    auto delegate = std::make_shared<RecordingPanDelegate>();
    auto detector = TapPanSwipeDetector::create();
    detector->setDelegate(delegate);
    std::weak_ptr<TapPanSwipeDetector> watch = detector;
    detector->mouseDown(down(0, 0));
    detector->mouseUp(up(0, 0));
    detector.reset();
    EXPECT_FALSE(watch.expired()) << "the 300 ms check holds it";
    time.advance(0.3);
    EXPECT_TRUE(watch.expired());
}

TEST(TapPanSwipeDetector, TheDelegateIsHeldWeaklyAndMayBeAbsent)
{
    PanFixture f;
    std::weak_ptr<RecordingPanDelegate> watch = f.delegate;
    f.delegate.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(f.detector->delegate(), nullptr);
    // Every path runs without anyone to tell.
    f.detector->mouseDown(down(0, 0));
    f.detector->mouseDragged(drag(3, 0));
    f.detector->mouseDragged(drag(6, 0));
    f.detector->mouseUp(up(6, 0));
    f.detector->mouseDown(down(0, 0));
    f.detector->mouseUp(up(0, 0));
    f.detector->mouseUp(up(0, 0));
    f.time.advance(1);
    EXPECT_EQ(f.detector->detectorStatus(), TapPanSwipeDetector::Idle);
}

TEST(TapPanSwipeDetector, ADelegateThatDropsTheDetectorDuringATapDoesNotPullItAway)
{
    ScopedVirtualTime time;
    auto detector = TapPanSwipeDetector::create();
    struct Dropping : RecordingPanDelegate
    {
        std::shared_ptr<TapPanSwipeDetector>* owner = nullptr;
        void singleTap(Point p) override
        {
            RecordingPanDelegate::singleTap(p);
            owner->reset();
        }
    };
    auto delegate = std::make_shared<Dropping>();
    delegate->owner = &detector;
    detector->setDelegate(delegate);
    auto raw = detector.get();
    raw->mouseDown(down(1, 1));
    raw->mouseUp(up(1, 1));
    EXPECT_EQ(detector, nullptr);
    time.advance(1);
    EXPECT_EQ(delegate->log.lines, (Lines{"singleTap (1, 1)"}));
}
