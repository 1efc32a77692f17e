#include "toolkit/Animator.h"

#include "platform/core/Scheduler.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace corvex;
using corvex::test::ScopedVirtualTime;

namespace {

constexpr double kAnimatorFrame = double(1.0f / 60.0f);

// One block call as the block saw it.
struct Call
{
    double at = 0;      // media seconds since play
    float progress = 0; // what updateProgress answered
};

// Plays `animator` with a block that records every call; the block reads the progress the
// way real users do, through updateProgress.
std::shared_ptr<std::vector<Call>> playRecording(const std::shared_ptr<Animator>& animator,
                                                 std::function<void(Animator&, std::size_t)> extra = {})
{
    auto calls = std::make_shared<std::vector<Call>>();
    const double start = MediaClock::now();
    animator->play([calls, start, extra](Animator& running) {
        calls->push_back({MediaClock::now() - start, running.updateProgress()});
        if (extra)
            extra(running, calls->size());
    });
    return calls;
}

} // namespace

TEST(Animator, RunsTwentyFourFramesForFourTenthsOfASecondAtSixtyFramesPerSecond)
{
    ScopedVirtualTime time;
    auto animator = Animator::create(0.4f, 60);
    EXPECT_TRUE(animator->isActive()) << "active before play";
    int finishingWork = 0;
    auto calls = playRecording(animator, [&](Animator& running, std::size_t) {
        if (running.updateProgress() >= 1.0f)
            ++finishingWork;
    });
    EXPECT_TRUE(calls->empty()) << "play never calls the block itself";

    time.advance(2);
    ASSERT_EQ(calls->size(), 24u);
    EXPECT_NEAR(calls->front().at, 1.0 / 60, 1e-6) << "the first call comes about one frame after play";
    EXPECT_NEAR(calls->front().progress, 1.0 / 24, 1e-6) << "and sees one frame's worth, not 0";
    EXPECT_NEAR(calls->back().at, 0.4, 1e-6);
    EXPECT_EQ(calls->back().progress, 1.0f) << "the last call sees exactly 1.0";
    EXPECT_EQ(finishingWork, 1) << "a block that tests for 1.0 finishes exactly once";
    for (std::size_t i = 0; i + 1 < calls->size(); ++i)
        EXPECT_LT((*calls)[i].progress, 1.0f) << "call " << i << " at " << (*calls)[i].at;
    EXPECT_FALSE(animator->isActive()) << "inactive after the call with 1.0";
    EXPECT_EQ(animator->updateProgress(), 1.0f);

    time.advance(2);
    EXPECT_EQ(calls->size(), 24u) << "never called again after 1.0";
}

TEST(Animator, FramesFallOnWholeMultiplesOfTheFrameSpanFromTheStart)
{
    ScopedVirtualTime time;
    time.advance(0.0123); // a start off any round number
    auto animator = Animator::create(0.35f, 60);
    auto calls = playRecording(animator);
    time.advance(1);
    ASSERT_EQ(calls->size(), 21u) << "0.35 s at 60 fps is 21 frames";
    for (std::size_t i = 0; i < calls->size(); ++i) {
        const double k = double(i + 1);
        EXPECT_NEAR((*calls)[i].at, k * kAnimatorFrame, 1e-6) << "call " << i;
        EXPECT_NEAR((*calls)[i].progress, std::min(1.0, k / 21), 1e-5) << "call " << i;
    }
    EXPECT_EQ(time.scheduler().pendingCount(), 0u) << "nothing left scheduled";
}

TEST(Animator, ADurationShorterThanOneFrameFinishesOnTheFirstFrameAtOnce)
{
    ScopedVirtualTime time;
    auto animator = Animator::create(0.01f, 60);
    auto calls = playRecording(animator);
    EXPECT_TRUE(calls->empty()) << "not called from play";
    EXPECT_EQ(time.scheduler().nextDeadline(), std::optional<double>(time.now()))
        << "the deadline is immediate";

    time.advance(0);
    ASSERT_EQ(calls->size(), 1u);
    EXPECT_EQ(calls->front().at, 0.0);
    EXPECT_EQ(calls->front().progress, 1.0f);
    EXPECT_FALSE(animator->isActive());
    time.advance(1);
    EXPECT_EQ(calls->size(), 1u);
}

// A zero duration is a division by zero in the progress; the block must still see 1.0, at
// the very instant of the start.
TEST(Animator, AZeroDurationShowsProgressOneNotNaN)
{
    ScopedVirtualTime time;
    for (const float duration : {0.0f, -0.2f}) {
        auto animator = Animator::create(duration, 60);
        std::vector<float> seen;
        animator->play([&](Animator& running) { seen.push_back(running.updateProgress()); });
        time.advance(0);
        ASSERT_EQ(seen.size(), 1u) << "duration " << duration;
        EXPECT_FALSE(std::isnan(seen.front())) << "duration " << duration;
        EXPECT_EQ(seen.front(), 1.0f) << "duration " << duration;
        EXPECT_FALSE(animator->isActive());
    }
}

TEST(Animator, PlayOnAFinishedDeactivatedOrPlayedToEndAnimatorCallsNothing)
{
    ScopedVirtualTime time;
    auto finished = Animator::create(0.1f, 60);
    (void)playRecording(finished);
    time.advance(1);
    ASSERT_FALSE(finished->isActive());

    auto deactivated = Animator::create(0.1f, 60);
    deactivated->deactivate();

    auto playedToEnd = Animator::create(0.1f, 60);
    playedToEnd->playToEndImmediately([](Animator&) {});

    for (const auto& animator : {finished, deactivated, playedToEnd}) {
        auto calls = playRecording(animator);
        time.advance(1);
        EXPECT_TRUE(calls->empty());
        EXPECT_FALSE(animator->isActive());
    }
    EXPECT_EQ(time.scheduler().pendingCount(), 0u) << "no frame was even scheduled";
}

TEST(Animator, DeactivateBetweenFramesStopsWithoutAFinalCall)
{
    ScopedVirtualTime time;
    auto animator = Animator::create(0.4f, 60);
    auto calls = playRecording(animator);
    time.advance(5.5 * kAnimatorFrame);
    ASSERT_EQ(calls->size(), 5u);
    animator->deactivate();
    EXPECT_FALSE(animator->isActive());
    EXPECT_EQ(animator->updateProgress(), 1.0f) << "inactive answers 1.0";

    time.advance(1);
    EXPECT_EQ(calls->size(), 5u) << "not called again, not even with 1.0";
    EXPECT_LT(calls->back().progress, 1.0f);
}

TEST(Animator, ABlockThatDeactivatesIsNotCalledAgain)
{
    ScopedVirtualTime time;
    auto animator = Animator::create(0.4f, 60);
    auto calls = playRecording(animator, [](Animator& running, std::size_t count) {
        if (count == 3)
            running.deactivate();
    });
    time.advance(1);
    EXPECT_EQ(calls->size(), 3u);
    EXPECT_EQ(time.scheduler().pendingCount(), 0u);
}

TEST(Animator, PlayToEndImmediatelyCallsOnceBeforeReturningWithProgressOne)
{
    ScopedVirtualTime time;
    auto animator = Animator::create(0.4f, 60);
    auto frames = playRecording(animator);
    time.advance(2.5 * kAnimatorFrame);
    ASSERT_EQ(frames->size(), 2u);

    std::vector<float> endCalls;
    animator->playToEndImmediately([&](Animator& running) {
        EXPECT_FALSE(running.isActive()) << "the clock is dropped before the call";
        endCalls.push_back(running.updateProgress());
    });
    ASSERT_EQ(endCalls.size(), 1u) << "called once, before playToEndImmediately returned";
    EXPECT_EQ(endCalls.front(), 1.0f);

    time.advance(1);
    EXPECT_EQ(frames->size(), 2u) << "the frame already scheduled ends without a call";
    EXPECT_EQ(endCalls.size(), 1u);
}

TEST(Animator, PlayToEndImmediatelySurvivesABlockThatDropsTheLastReference)
{
    ScopedVirtualTime time;
    auto owner = Animator::create(0.4f, 60);
    std::weak_ptr<Animator> weak = owner;
    float seen = 0;
    Animator* raw = owner.get();
    raw->playToEndImmediately([&](Animator& running) {
        owner.reset();
        seen = running.updateProgress();
    });
    EXPECT_EQ(seen, 1.0f);
    EXPECT_TRUE(weak.expired()) << "released once the call returned";
}

// The time a block takes is absorbed: after a call that holds the main thread for three
// frame spans, the next call falls on the fourth boundary after its own, and the frames
// whose boundaries passed meanwhile are skipped.
TEST(Animator, ABlockHoldingTheMainThreadForThreeFramesIsFollowedAtTheFourthBoundary)
{
    ScopedVirtualTime time;
    auto animator = Animator::create(0.4f, 60);
    auto calls = playRecording(animator, [&](Animator&, std::size_t count) {
        if (count == 5)
            time.advance(3 * kAnimatorFrame); // the block runs for three frame spans
    });
    time.advance(2); // wider than the nested advance, so the clock never steps back

    ASSERT_GE(calls->size(), 6u);
    EXPECT_NEAR((*calls)[4].at, 5 * kAnimatorFrame, 1e-6);
    EXPECT_NEAR((*calls)[5].at, 9 * kAnimatorFrame, 1e-6) << "the fourth boundary after the held call";
    EXPECT_NEAR((*calls)[5].progress, 9.0 / 24, 1e-5) << "with the progress the clock gives then";
    ASSERT_EQ(calls->size(), 21u) << "frames 6, 7 and 8 were skipped";
    EXPECT_NEAR(calls->back().at, 0.4, 1e-6) << "and the run still ends on time";
    EXPECT_EQ(calls->back().progress, 1.0f);
}

TEST(Animator, AFrameInFlightKeepsTheAnimatorAliveUntilTheRunEnds)
{
    ScopedVirtualTime time;
    auto animator = Animator::create(0.2f, 60);
    std::weak_ptr<Animator> weak = animator;
    auto calls = playRecording(animator);
    animator.reset();
    EXPECT_FALSE(weak.expired()) << "held by the scheduled frame";

    time.advance(1);
    EXPECT_EQ(calls->size(), 12u) << "the run finished without its owner";
    EXPECT_EQ(calls->back().progress, 1.0f);
    EXPECT_TRUE(weak.expired()) << "released after the last frame";
}

TEST(Animator, ADeactivatedAnimatorIsReleasedWhenItsScheduledFrameHasRun)
{
    ScopedVirtualTime time;
    auto animator = Animator::create(0.4f, 60);
    std::weak_ptr<Animator> weak = animator;
    auto calls = playRecording(animator);
    time.advance(1.5 * kAnimatorFrame);
    animator->deactivate();
    animator.reset();
    time.advance(kAnimatorFrame);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(calls->size(), 1u);
}

TEST(Animator, ASecondPlayWhilePlayingIsIgnored)
{
    ScopedVirtualTime time;
    auto animator = Animator::create(0.1f, 60);
    auto first = playRecording(animator);
    time.advance(2 * kAnimatorFrame);
    auto second = playRecording(animator);
    time.advance(1);
    EXPECT_EQ(first->size(), 6u) << "the first run goes on undisturbed, on its own clock";
    EXPECT_EQ(first->back().progress, 1.0f);
    EXPECT_NEAR(first->back().at, 0.1, 1e-6);
    EXPECT_TRUE(second->empty());
}

TEST(Animator, EaseCurvesHaveTheirCubicShapesAndStayInsideZeroToOne)
{
    EXPECT_DOUBLE_EQ(Animator::cubicEaseIn(0.5), 0.125);
    EXPECT_DOUBLE_EQ(Animator::cubicEaseIn(0.2), 0.008);
    EXPECT_DOUBLE_EQ(Animator::cubicEaseOut(0.5), 0.875);
    EXPECT_DOUBLE_EQ(Animator::cubicEaseOut(0.2), 0.488);
    EXPECT_DOUBLE_EQ(Animator::cubicEaseInOut(0.25), 0.0625);
    EXPECT_DOUBLE_EQ(Animator::cubicEaseInOut(0.75), 0.9375);
    EXPECT_DOUBLE_EQ(Animator::cubicEaseInOut(0.5), 0.5) << "0.5 belongs to the second half";
    EXPECT_NEAR(Animator::cubicEaseInOut(std::nextafter(0.5, 0.0)), 0.5, 1e-12) << "both halves meet";

    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (auto curve : {&Animator::cubicEaseIn, &Animator::cubicEaseOut, &Animator::cubicEaseInOut}) {
        EXPECT_EQ(curve(-1), 0.0);
        EXPECT_EQ(curve(0), 0.0);
        EXPECT_EQ(curve(1), 1.0);
        EXPECT_EQ(curve(2), 1.0);
        EXPECT_EQ(curve(nan), 0.0) << "never NaN";
        double previous = 0;
        for (int i = 1; i <= 1000; ++i) {
            const double value = curve(i / 1000.0);
            EXPECT_GE(value, previous) << "rises at t = " << i / 1000.0;
            previous = value;
        }
        EXPECT_EQ(previous, 1.0);
    }
}

// On the application's own scheduler (Qt's event loop and the real clock) a short run also
// ends with 1.0 and never calls a frame twice; only the outcome is checked, not the timing.
TEST(AnimatorQtLoop, AShortRunFinishesOnTheRealClock)
{
    auto animator = Animator::create(0.1f, 60);
    auto calls = playRecording(animator);
    ASSERT_TRUE(corvex::test::runUntil([&] { return !animator->isActive(); }));
    ASSERT_FALSE(calls->empty());
    EXPECT_LE(calls->size(), 6u);
    EXPECT_EQ(calls->back().progress, 1.0f);
    EXPECT_GE(calls->back().at, 0.1 - 1e-6);
    for (std::size_t i = 1; i < calls->size(); ++i)
        EXPECT_GT((*calls)[i].progress, (*calls)[i - 1].progress) << "call " << i;
}
