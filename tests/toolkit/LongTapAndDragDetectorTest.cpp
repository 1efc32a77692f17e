#include "toolkit/LongTapAndDragDetector.h"

#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/GestureTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

struct DragFixture
{
    ScopedVirtualTime time{kGestureStart};
    std::shared_ptr<LongTapAndDragDetector> detector = LongTapAndDragDetector::create();
    std::shared_ptr<RecordingDragDelegate> delegate = std::make_shared<RecordingDragDelegate>();

    DragFixture() { detector->setDelegate(delegate); }
    const Lines& lines() const { return delegate->log.lines; }
};

} // namespace

// ---- Long presses ----

TEST(LongTapAndDragDetector, APressHeldStillStartsADragAt170MillisecondsAndNothingMore)
{
    DragFixture f;
    std::optional<Event> seenByDelegate;
    f.delegate->onStartDrag = [&] { seenByDelegate = f.detector->lastEvent(); };
    f.detector->mouseDown(down(40, 60));
    f.time.advance(0.169);
    EXPECT_TRUE(f.lines().empty()) << "not before 100 + 70 ms";
    f.time.advance(0.002);
    EXPECT_EQ(f.lines(), (Lines{"startDragGestureIfPossible (40, 60)"}));
    ASSERT_TRUE(seenByDelegate.has_value()) << "the delegate runs before the reset and can read lastEvent";
    EXPECT_EQ(seenByDelegate->type(), Event::Type::LeftMouseDown);
    EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Idle);
    EXPECT_FALSE(f.detector->lastEvent().has_value());

    // The drag is the delegate's own business from here: no tap, no further report.
    f.detector->mouseDragged(drag(80, 90));
    f.detector->mouseUp(up(80, 90));
    f.time.advance(1);
    EXPECT_EQ(f.lines().size(), 1u);
}

TEST(LongTapAndDragDetector, AnyMovementBeforeTheLongPressAbandonsThePress)
{
    DragFixture f;
    f.detector->mouseDown(down(40, 60));
    f.time.advance(0.05);
    const std::int64_t counter = f.detector->operationCount();
    f.detector->mouseDragged(drag(40.5, 60));
    EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Idle);
    EXPECT_EQ(f.detector->operationCount(), counter + 1);
    f.time.advance(0.2);
    f.detector->mouseUp(up(40.5, 60));
    f.time.advance(1);
    EXPECT_TRUE(f.lines().empty()) << "neither a tap nor a drag";
}

TEST(LongTapAndDragDetector, AStillDragEventAfterEighteenHundredthsStartsTheDragAtItsPoint)
{
    DragFixture f;
    f.detector->mouseDown(at(down(40, 60), kGestureStart));
    // Virtual time stands still, so the long-press check is still pending: only the events'
    // timestamps move.
    f.detector->mouseDragged(at(drag(40, 60), kGestureStart + 0.1));
    EXPECT_TRUE(f.lines().empty()) << "too early";
    EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Pressed);
    f.detector->mouseDragged(at(drag(40, 60), kGestureStart + 0.19));
    EXPECT_EQ(f.lines(), (Lines{"startDragGestureIfPossible (40, 60)"}));
    EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Idle);
    f.time.advance(1);
    EXPECT_EQ(f.lines().size(), 1u) << "the pending long-press check finds the counter moved";
}

TEST(LongTapAndDragDetector, APressReleasedAfter150MillisecondsIsASingleTapAndNoDrag)
{
    DragFixture f;
    f.detector->mouseDown(down(7, 9));
    f.time.advance(0.15);
    f.detector->mouseUp(up(7, 9));
    EXPECT_EQ(f.lines(), (Lines{"singleTap (7, 9)"}));
    f.time.advance(0.05); // the long-press check fires at 170 ms
    EXPECT_EQ(f.lines().size(), 1u);
    EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Tapped);
    f.time.advance(0.3);
    EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Idle) << "the 300 ms check";
    EXPECT_EQ(f.lines().size(), 1u);
}

TEST(LongTapAndDragDetector, WithoutADelegateTheLongPressCheckDoesNothing)
{
    ScopedVirtualTime time;
    auto detector = LongTapAndDragDetector::create();
    detector->mouseDown(down(1, 2));
    time.advance(0.5);
    EXPECT_EQ(detector->detectorStatus(), LongTapAndDragDetector::Pressed) << "the press is still on";
    // A delegate that arrives now sees the release as a tap.
    auto delegate = std::make_shared<RecordingDragDelegate>();
    detector->setDelegate(delegate);
    detector->mouseUp(up(1, 2));
    EXPECT_EQ(delegate->log.lines, (Lines{"singleTap (1, 2)"}));
}

TEST(LongTapAndDragDetector, ADelegateGoneBeforeTheLongPressIsNotCalled)
{
    DragFixture f;
    f.detector->mouseDown(down(1, 2));
    f.delegate.reset();
    f.time.advance(0.5);
    EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Pressed);
    EXPECT_EQ(f.detector->delegate(), nullptr);
}

TEST(LongTapAndDragDetector, ALaterPressVoidsTheEarlierPressesLongPressCheck)
{
    DragFixture f;
    f.detector->mouseDown(down(1, 1));
    f.time.advance(0.1);
    f.detector->mouseDown(down(2, 2)); // a second press 100 ms in
    f.time.advance(0.1);
    EXPECT_TRUE(f.lines().empty()) << "the first press's check (at 170 ms) does nothing";
    f.time.advance(0.07);
    EXPECT_EQ(f.lines(), (Lines{"startDragGestureIfPossible (2, 2)"}))
        << "the second press's check, at 270 ms";
}

// ---- Taps ----

TEST(LongTapAndDragDetector, DoubleAndTripleClicksAreToldApartByTheClickCount)
{
    DragFixture f;
    for (int clicks = 1; clicks <= 3; ++clicks) {
        f.detector->mouseDown(down(5, 6, clicks));
        f.time.advance(0.05);
        f.detector->mouseUp(up(5, 6, clicks));
        f.time.advance(0.05);
    }
    f.time.advance(1);
    EXPECT_EQ(f.lines(), (Lines{"singleTap (5, 6)", "doubleTap (5, 6)", "singleTap (5, 6)"}));
}

TEST(LongTapAndDragDetector, ASecondReleaseWithoutAPressIsADoubleTapOnlyWithinThreeTenths)
{
    {
        DragFixture f;
        f.detector->mouseDown(at(down(1, 1), 1.0));
        f.detector->mouseUp(at(up(1, 1), 1.0));
        f.detector->mouseUp(at(up(3, 3), 1.25));
        EXPECT_EQ(f.lines(), (Lines{"singleTap (1, 1)", "doubleTap (3, 3)"}));
        EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Idle);
    }
    for (const double later : {1.3, 2.0}) {
        DragFixture f;
        f.detector->mouseDown(at(down(1, 1), 1.0));
        f.detector->mouseUp(at(up(1, 1), 1.0));
        f.detector->mouseUp(at(up(3, 3), later));
        EXPECT_EQ(f.lines(), (Lines{"singleTap (1, 1)"})) << "release at " << later;
        EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Idle);
    }
}

TEST(LongTapAndDragDetector, ReleasesAndDragsThatFollowNoForwardedPressReportNothing)
{
    // A view forwards a press only over a draggable item, but every drag and release.
    DragFixture f;
    f.detector->mouseDragged(drag(1, 1));
    f.detector->mouseUp(up(1, 1));
    f.time.advance(1);
    EXPECT_TRUE(f.lines().empty());
    EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Idle);
}

TEST(LongTapAndDragDetector, StartDragReportsIgnoresTheAnswerAndResets)
{
    DragFixture f;
    const std::int64_t counter = f.detector->operationCount();
    f.detector->startDrag(Point(8, 9));
    EXPECT_EQ(f.lines(), (Lines{"startDragGestureIfPossible (8, 9)"}));
    EXPECT_EQ(f.detector->operationCount(), counter + 1);
    EXPECT_EQ(f.detector->detectorStatus(), LongTapAndDragDetector::Idle);
}

TEST(LongTapAndDragDetector, APendingCheckKeepsTheDetectorUntilItRuns)
{
    ScopedVirtualTime time;
    auto detector = LongTapAndDragDetector::create();
    std::weak_ptr<LongTapAndDragDetector> watch = detector;
    detector->mouseDown(down(0, 0));
    detector.reset();
    EXPECT_FALSE(watch.expired());
    time.advance(0.1);
    EXPECT_FALSE(watch.expired()) << "the first step schedules the second, which holds it";
    time.advance(0.07);
    EXPECT_TRUE(watch.expired());
}

// ---- Both detectors on the same input ----

namespace {

// A scripted gesture: events at offsets (seconds) from the start, on virtual time.
struct Step
{
    double at;
    Event::Type type;
    Point point;
    int clicks;
};

struct Script
{
    const char* name;
    std::vector<Step> steps;
    Lines panDetector;  // what TapPanSwipeDetector reports
    Lines dragDetector; // what LongTapAndDragDetector reports
};

void play(const std::vector<Step>& steps, const std::function<void(const Event&)>& send)
{
    ScopedVirtualTime time{kGestureStart};
    double now = 0;
    for (const Step& step : steps) {
        time.advance(step.at - now);
        now = step.at;
        send(Event::mouseEvent(step.type, step.point, step.clicks));
    }
    time.advance(2);
}

} // namespace

TEST(GestureDetectors, TellATapALongPressAPanAndADoubleClickApartOnVirtualTime)
{
    using T = Event::Type;
    const std::vector<Script> scripts = {
        {"tap",
         {{0, T::LeftMouseDown, {10, 10}, 1}, {0.08, T::LeftMouseUp, {10, 10}, 1}},
         {"singleTap (10, 10)"},
         {"singleTap (10, 10)"}},
        {"long press",
         {{0, T::LeftMouseDown, {10, 10}, 1}, {0.4, T::LeftMouseUp, {10, 10}, 1}},
         {"singleTap (10, 10)"},
         {"startDragGestureIfPossible (10, 10)"}},
        {"pan",
         {{0, T::LeftMouseDown, {10, 10}, 1},
          {0.05, T::LeftMouseDragged, {14, 10}, 0},
          {0.1, T::LeftMouseDragged, {24, 10}, 0},
          {0.15, T::LeftMouseUp, {25, 10}, 1}},
         {"panGestureStarted (14, 10)", "panGestureUpdate (4, 0)", "panGestureUpdate (10, 0)",
          "panGestureDone (1, 0) (200, 0)"},
         {}},
        {"double click",
         {{0, T::LeftMouseDown, {10, 10}, 1},
          {0.05, T::LeftMouseUp, {10, 10}, 1},
          {0.15, T::LeftMouseDown, {10, 10}, 2},
          {0.2, T::LeftMouseUp, {10, 10}, 2}},
         {"singleTap (10, 10)", "doubleTap (10, 10)"},
         {"singleTap (10, 10)", "doubleTap (10, 10)"}},
    };
    for (const Script& script : scripts) {
        auto panDelegate = std::make_shared<RecordingPanDelegate>();
        auto pan = TapPanSwipeDetector::create();
        pan->setDelegate(panDelegate);
        auto dragDelegate = std::make_shared<RecordingDragDelegate>();
        auto longTap = LongTapAndDragDetector::create();
        longTap->setDelegate(dragDelegate);
        auto send = [](auto& detector) {
            return [&detector](const Event& e) {
                if (e.type() == Event::Type::LeftMouseDown)
                    detector->mouseDown(e);
                else if (e.type() == Event::Type::LeftMouseDragged)
                    detector->mouseDragged(e);
                else
                    detector->mouseUp(e);
            };
        };
        play(script.steps, send(pan));
        play(script.steps, send(longTap));
        EXPECT_EQ(panDelegate->log.lines, script.panDetector) << script.name;
        EXPECT_EQ(dragDelegate->log.lines, script.dragDetector) << script.name;
    }
}
