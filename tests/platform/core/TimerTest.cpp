#include "platform/core/Debouncer.h"
#include "platform/core/MainQueue.h"
#include "platform/core/RepeatingTimer.h"
#include "platform/core/Scheduler.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <cstdio>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

using namespace corvex;
using corvex::test::ScopedVirtualTime;

namespace {

// A scheduler the test drives by hand: it records each schedule and lets the test run a
// task at a chosen (possibly late) time.
class ManualScheduler final : public Scheduler
{
public:
    struct Scheduled
    {
        TaskId id;
        double deadline;
        Task task;
    };

    double now() const override { return mNow; }
    TaskId schedule(double delaySeconds, Task task) override
    {
        mScheduled.push_back({++mLastId, mNow + delaySeconds, std::move(task)});
        return mLastId;
    }
    void cancel(TaskId id) override
    {
        std::erase_if(mScheduled, [id](const Scheduled& s) { return s.id == id; });
    }

    // Runs the oldest scheduled task with the clock at `at`.
    double runNextAt(double at)
    {
        Scheduled next = std::move(mScheduled.front());
        mScheduled.pop_front();
        mNow = at;
        next.task();
        return next.deadline;
    }

    double mNow = 100.0;
    std::deque<Scheduled> mScheduled;

private:
    TaskId mLastId = 0;
};

class ScopedManualScheduler
{
public:
    ScopedManualScheduler() : mPrevious(Scheduler::install(&scheduler)) {}
    ~ScopedManualScheduler() { Scheduler::install(mPrevious); }
    ManualScheduler scheduler;

private:
    Scheduler* mPrevious;
};

} // namespace

TEST(RepeatingTimer, FiresEveryIntervalAtExactTimes)
{
    ScopedVirtualTime time;
    const double start = time.now();
    RepeatingTimer timer;
    EXPECT_FALSE(timer.isValid());
    std::vector<double> firings;
    bool onMain = true;
    timer.start(0.25, [&] {
        firings.push_back(MediaClock::now() - start);
        onMain = onMain && MainQueue::isMainThread();
    });
    EXPECT_TRUE(timer.isValid());
    EXPECT_DOUBLE_EQ(timer.interval(), 0.25);

    time.advance(0.2);
    EXPECT_TRUE(firings.empty());
    time.advance(0.85); // to 1.05
    ASSERT_EQ(firings.size(), 4u);
    for (std::size_t i = 0; i < firings.size(); ++i)
        EXPECT_NEAR(firings[i], 0.25 * double(i + 1), 1e-9) << "firing " << i;
    time.advance(10.0);
    EXPECT_EQ(firings.size(), 44u);
    EXPECT_TRUE(onMain);
}

TEST(RepeatingTimer, KeepsToItsGridWhenAFiringRunsLateAndSkipsMissedOnes)
{
    ScopedManualScheduler manual;
    ManualScheduler& scheduler = manual.scheduler;
    RepeatingTimer timer;
    int firings = 0;
    timer.start(1.0, [&] { ++firings; });
    ASSERT_EQ(scheduler.mScheduled.size(), 1u);
    EXPECT_DOUBLE_EQ(scheduler.mScheduled.front().deadline, 101.0);

    // Fired 0.3 late: the next firing is one interval after the previous deadline.
    EXPECT_DOUBLE_EQ(scheduler.runNextAt(101.3), 101.0);
    ASSERT_EQ(scheduler.mScheduled.size(), 1u);
    EXPECT_DOUBLE_EQ(scheduler.mScheduled.front().deadline, 102.0);

    // Fired 2.5 late: the firings at 103 and 104 are gone, the grid goes on at 105.
    scheduler.runNextAt(104.5);
    ASSERT_EQ(scheduler.mScheduled.size(), 1u);
    EXPECT_DOUBLE_EQ(scheduler.mScheduled.front().deadline, 105.0);
    EXPECT_EQ(firings, 2);
}

TEST(RepeatingTimer, InvalidateStopsItAlsoFromInsideTheTask)
{
    ScopedVirtualTime time;
    RepeatingTimer timer;
    int firings = 0;
    timer.start(1.0, [&] {
        if (++firings == 3)
            timer.invalidate();
    });
    time.advance(10);
    EXPECT_EQ(firings, 3);
    EXPECT_FALSE(timer.isValid());

    timer.start(1.0, [&] { ++firings; });
    time.advance(0.5);
    timer.invalidate();
    time.advance(10);
    EXPECT_EQ(firings, 3);
    EXPECT_EQ(time.scheduler().pendingCount(), 0u) << "the pending firing was cancelled";
}

TEST(RepeatingTimer, RestartReplacesTheScheduleAndTheTask)
{
    ScopedVirtualTime time;
    const double start = time.now();
    RepeatingTimer timer;
    std::vector<std::pair<int, double>> firings;
    timer.start(1.0, [&] { firings.emplace_back(1, MediaClock::now() - start); });
    time.advance(1.5);
    timer.start(2.0, [&] { firings.emplace_back(2, MediaClock::now() - start); });
    time.advance(4.5); // to 6.0
    ASSERT_EQ(firings.size(), 3u);
    EXPECT_EQ(firings[0].first, 1);
    EXPECT_NEAR(firings[0].second, 1.0, 1e-9);
    EXPECT_EQ(firings[1].first, 2);
    EXPECT_NEAR(firings[1].second, 3.5, 1e-9);
    EXPECT_EQ(firings[2].first, 2);
    EXPECT_NEAR(firings[2].second, 5.5, 1e-9);
}

TEST(RepeatingTimer, DestroyedWhileAFiringIsPendingIsSafe)
{
    ScopedVirtualTime time;
    int firings = 0;
    auto timer = std::make_unique<RepeatingTimer>();
    timer->start(1.0, [&] { ++firings; });
    time.advance(1.0);
    timer.reset();
    time.advance(5.0);
    EXPECT_EQ(firings, 1);

    // Destroyed by its own task.
    timer = std::make_unique<RepeatingTimer>();
    timer->start(1.0, [&] {
        ++firings;
        timer.reset();
    });
    time.advance(5.0);
    EXPECT_EQ(firings, 2);
}

TEST(Debouncer, RunsOnceDelayAfterTheLastTrigger)
{
    ScopedVirtualTime time;
    const double start = time.now();
    std::vector<double> runs;
    Debouncer debouncer(0.5, [&] { runs.push_back(MediaClock::now() - start); });
    debouncer.trigger();
    time.advance(0.25);
    debouncer.trigger();
    time.advance(0.125);
    debouncer.trigger(); // at 0.375: the run is due at 0.875
    EXPECT_TRUE(debouncer.isPending());
    time.advance(0.4375); // to 0.8125
    EXPECT_TRUE(runs.empty());
    time.advance(0.0625); // to 0.875
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_DOUBLE_EQ(runs[0], 0.875);
    EXPECT_FALSE(debouncer.isPending());
    time.advance(5);
    EXPECT_EQ(runs.size(), 1u);

    debouncer.trigger(); // a new burst, a new run
    time.advance(0.5);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_DOUBLE_EQ(runs[1], 5.875 + 0.5);
}

TEST(Debouncer, TriggersFromOtherThreadsRunTheTaskOnceOnTheMainThread)
{
    ScopedVirtualTime time;
    int runs = 0;
    bool onMain = false;
    Debouncer debouncer(1.0, [&] {
        ++runs;
        onMain = MainQueue::isMainThread();
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                debouncer.trigger();
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_LE(time.scheduler().pendingCount(), 1u) << "a burst schedules one check";
    time.advance(0.999);
    EXPECT_EQ(runs, 0);
    time.advance(0.001);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(onMain);
}

TEST(Debouncer, CancelForgetsThePendingRun)
{
    ScopedVirtualTime time;
    int runs = 0;
    Debouncer debouncer(0.5, [&] { ++runs; });
    debouncer.trigger();
    time.advance(0.25);
    debouncer.cancel();
    EXPECT_FALSE(debouncer.isPending());
    time.advance(5);
    EXPECT_EQ(runs, 0);
    debouncer.trigger();
    time.advance(0.5);
    EXPECT_EQ(runs, 1) << "usable after cancel";
}

TEST(Debouncer, DestroyedWhileACheckIsScheduledNeverRunsTheTask)
{
    ScopedVirtualTime time;
    int runs = 0;
    {
        Debouncer debouncer(0.5, [&] { ++runs; });
        debouncer.trigger();
        time.advance(0.25);
        debouncer.trigger(); // the first check is still pending and will move itself on
    }
    time.advance(5);
    EXPECT_EQ(runs, 0);

    // Destroyed by its own task.
    std::unique_ptr<Debouncer> owned;
    owned = std::make_unique<Debouncer>(0.5, [&] {
        ++runs;
        owned.reset();
    });
    owned->trigger();
    time.advance(1);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(owned, nullptr);
}

// ---- Auto-advancing virtual time

TEST(VirtualTime, OnlyAnAutoAdvancingSchedulerJumpsToTheNextDeadlineWhenNothingIsDue)
{
    for (const auto mode :
         {test::VirtualScheduler::Mode::Manual, test::VirtualScheduler::Mode::AutoAdvance}) {
        const bool autoAdvances = mode == test::VirtualScheduler::Mode::AutoAdvance;
        ScopedVirtualTime time(1000.0, mode);
        std::vector<double> ranAt;
        MainQueue::postAfter(3600, [&] { ranAt.push_back(MediaClock::now()); });
        MainQueue::postAfter(7200, [&] { ranAt.push_back(MediaClock::now()); });
        EXPECT_EQ(time.scheduler().step(), autoAdvances ? 1 : 0);
        EXPECT_EQ(time.now(), autoAdvances ? 4600.0 : 1000.0)
            << "one deadline per idle step, never beyond it";
        EXPECT_EQ(ranAt, autoAdvances ? std::vector<double>{4600.0} : std::vector<double>{});
    }
}

namespace {

// Arms an hourly timer and a ten-minute repeating one under auto-advancing virtual time, and
// reports the virtual time at which each had fired: a loop of the helper never waits on the
// wall clock.
int runTimersInVirtualTime()
{
    ScopedVirtualTime time(1000.0, test::VirtualScheduler::Mode::AutoAdvance);
    double hourly = 0;
    int repeats = 0;
    MainQueue::postAfter(3600, [&] { hourly = MediaClock::now(); });
    RepeatingTimer timer;
    timer.start(600, [&] { ++repeats; });
    if (!test::runUntil([&] { return hourly > 0 && repeats >= 6; }, 30))
        return 1;
    const QByteArray line =
        "hourly " + QByteArray::number(hourly) + " repeats " + QByteArray::number(repeats) + '\n';
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace

CORVEX_TEST_HELPER(virtualTimeTimers)
{
    return runTimersInVirtualTime();
}

TEST(VirtualTime, AHelperProcessWithAutoAdvancingTimeRunsAnHourOfTimersWithoutWaiting)
{
    auto helper = test::HelperProcess::start(QStringLiteral("virtualTimeTimers"));
    ASSERT_TRUE(helper);
    const auto line = helper->readLine(30);
    ASSERT_TRUE(line.has_value()) << "exit " << helper->wait();
    EXPECT_EQ(*line, QByteArray("hourly 4600 repeats 6"));
    EXPECT_EQ(helper->wait(), 0);
}
