#include "toolkit/RepeatedActionTimer.h"

#include "tests/support/VirtualScheduler.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace corvex;
using corvex::test::ScopedVirtualTime;

namespace {

constexpr float kTimerFrame = 1.0f / 60.0f;

} // namespace

TEST(RepeatedActionTimer, FrameRateCutsTheRunToWholeFramesInSinglePrecision)
{
    const RepeatedActionTimer fortyHundredths = RepeatedActionTimer::withFrameRate(60, 0.4f);
    EXPECT_EQ(fortyHundredths.repetitions(), 24);
    EXPECT_EQ(fortyHundredths.delta(), kTimerFrame);
    EXPECT_EQ(fortyHundredths.totalDuration(), 24.0f * kTimerFrame);

    // 0.35f x 60 is 20.99999964 in double but rounds to 21 in single precision.
    EXPECT_EQ(RepeatedActionTimer::withFrameRate(60, 0.35f).repetitions(), 21);
    // Truncated toward zero: a part frame is no frame.
    EXPECT_EQ(RepeatedActionTimer::withFrameRate(60, 0.1f + 0.5f * kTimerFrame).repetitions(), 6);
    EXPECT_EQ(RepeatedActionTimer::withFrameRate(60, 0.01f).repetitions(), 0);
    EXPECT_EQ(RepeatedActionTimer::withFrameRate(60, -0.1f).repetitions(), -6);

    const RepeatedActionTimer direct(7, 0.25f);
    EXPECT_EQ(direct.repetitions(), 7);
    EXPECT_EQ(direct.delta(), 0.25f);
    EXPECT_FALSE(direct.isStarted());
    EXPECT_EQ(direct.startTime(), 0.0);
}

TEST(RepeatedActionTimer, FrameRatesThatAreNotPositiveNumbersGiveNoFramesAndNoOverflow)
{
    for (const float rate :
         {0.0f, -60.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        const RepeatedActionTimer timer = RepeatedActionTimer::withFrameRate(rate, 0.4f);
        EXPECT_EQ(timer.repetitions(), 0) << "frame rate " << rate;
    }
    // A count beyond the 64-bit range is clamped, not converted with undefined behaviour.
    EXPECT_EQ(RepeatedActionTimer::withFrameRate(60, 1e30f).repetitions(),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(RepeatedActionTimer::withFrameRate(60, -1e30f).repetitions(),
              std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(RepeatedActionTimer::withFrameRate(60, std::numeric_limits<float>::quiet_NaN()).repetitions(),
              0);
}

TEST(RepeatedActionTimer, ProgressIsZeroBeforeStartThenFollowsTheMediaClockUpToOne)
{
    ScopedVirtualTime time;
    RepeatedActionTimer timer = RepeatedActionTimer::withFrameRate(60, 0.4f);
    time.advance(5);
    EXPECT_EQ(timer.progress(), 0.0f) << "not started";

    timer.start();
    EXPECT_EQ(timer.startTime(), time.now());
    EXPECT_EQ(timer.progress(), 0.0f);
    time.advance(0.1);
    EXPECT_NEAR(timer.progress(), 0.25, 1e-6);
    time.advance(0.2);
    EXPECT_NEAR(timer.progress(), 0.75, 1e-6);
    time.advance(0.1);
    EXPECT_EQ(timer.progress(), 1.0f) << "at the end";
    time.advance(10);
    EXPECT_EQ(timer.progress(), 1.0f) << "long after the end";
}

TEST(RepeatedActionTimer, StartingAgainRestartsTheRun)
{
    ScopedVirtualTime time;
    RepeatedActionTimer timer(10, 0.1f);
    timer.start();
    time.advance(0.5);
    EXPECT_NEAR(timer.progress(), 0.5, 1e-6);
    timer.start();
    EXPECT_EQ(timer.progress(), 0.0f);
    time.advance(0.25);
    EXPECT_NEAR(timer.progress(), 0.25, 1e-6);
}

// A run without duration must answer 1.0 once started: with zero frames the share of the
// total is 0/0, which would be NaN at the very moment of the start.
TEST(RepeatedActionTimer, ZeroOrNegativeDurationIsCompleteOnceStartedAndNeverNaN)
{
    ScopedVirtualTime time;
    const RepeatedActionTimer timers[] = {
        RepeatedActionTimer(0, kTimerFrame),
        RepeatedActionTimer(-3, kTimerFrame),
        RepeatedActionTimer(5, 0.0f),
        RepeatedActionTimer(5, -kTimerFrame),
        RepeatedActionTimer(5, std::numeric_limits<float>::quiet_NaN()),
        RepeatedActionTimer::withFrameRate(60, 0.0f),
        RepeatedActionTimer::withFrameRate(0, 0.4f),
    };
    int index = 0;
    for (RepeatedActionTimer timer : timers) {
        SCOPED_TRACE(testing::Message()
                     << "timer " << index++ << ": " << timer.repetitions() << " x " << timer.delta());
        EXPECT_EQ(timer.progress(), 0.0f) << "before start";
        timer.start();
        const float atStart = timer.progress();
        EXPECT_FALSE(std::isnan(atStart));
        EXPECT_EQ(atStart, 1.0f) << "at the start instant";
        EXPECT_EQ(timer.timeToNextAction(), 0.0f);
        time.advance(0.05);
        EXPECT_EQ(timer.progress(), 1.0f) << "later";
        EXPECT_EQ(timer.timeToNextAction(), 0.0f);
    }
}

TEST(RepeatedActionTimer, TimeToNextActionPointsAtTheNextBoundaryOfTheGridFromTheStart)
{
    ScopedVirtualTime time;
    RepeatedActionTimer timer(4, 0.25f);
    EXPECT_FLOAT_EQ(timer.timeToNextAction(), 0.25f) << "before start: the first frame's span";
    timer.start();
    EXPECT_FLOAT_EQ(timer.timeToNextAction(), 0.25f) << "at the start";
    time.advance(0.05);
    EXPECT_NEAR(timer.timeToNextAction(), 0.20, 1e-6);
    time.advance(0.5); // 0.55: between the second and third boundary
    EXPECT_NEAR(timer.timeToNextAction(), 0.20, 1e-6);
    time.advance(0.2); // exactly on the third boundary: the next is the fourth, not this one
    EXPECT_NEAR(timer.timeToNextAction(), 0.25, 1e-6);
    time.advance(0.2499); // just before the end
    EXPECT_NEAR(timer.timeToNextAction(), 0.0001, 1e-6);
    time.advance(0.0001);
    EXPECT_EQ(timer.timeToNextAction(), 0.0f) << "the total duration has passed";
    time.advance(3);
    EXPECT_EQ(timer.timeToNextAction(), 0.0f);
}

// A frame dispatched for a boundary may run a rounding error before it (the delay passes
// through single precision). It must count as on the boundary: otherwise the next frame
// would be a few nanoseconds later, a second call for the same frame.
TEST(RepeatedActionTimer, AClockAHairBeforeABoundaryCountsAsOnIt)
{
    ScopedVirtualTime time;
    RepeatedActionTimer timer = RepeatedActionTimer::withFrameRate(60, 0.4f);
    timer.start();
    time.advance(3 * double(kTimerFrame) - 2e-9);
    EXPECT_NEAR(timer.timeToNextAction(), kTimerFrame, 1e-8);
    EXPECT_NEAR(timer.progress(), 3.0 / 24.0, 1e-6);

    time.advance(21 * double(kTimerFrame)); // a hair before the end
    EXPECT_EQ(timer.progress(), 1.0f);
    EXPECT_EQ(timer.timeToNextAction(), 0.0f);
}
