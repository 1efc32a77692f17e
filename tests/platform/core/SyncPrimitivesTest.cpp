#include "platform/core/DispatchGroup.h"
#include "platform/core/MainQueue.h"
#include "platform/core/OnceGuard.h"
#include "platform/core/Semaphore.h"
#include "platform/core/SerialQueue.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace corvex;
using corvex::test::runUntil;
using corvex::test::ScopedVirtualTime;

TEST(Semaphore, WaitWithTimeoutReturnsFalseWhenNothingIsSignalled)
{
    Semaphore semaphore;
    EXPECT_FALSE(semaphore.wait(0.02));
    EXPECT_FALSE(semaphore.wait(0.0));
    EXPECT_FALSE(semaphore.wait(-1.0));
}

TEST(Semaphore, CountsSignalsAndInitialValue)
{
    Semaphore semaphore(2);
    EXPECT_TRUE(semaphore.wait(0.0));
    EXPECT_TRUE(semaphore.wait(0.0));
    EXPECT_FALSE(semaphore.wait(0.0)) << "the initial value is used up";
    semaphore.signal();
    semaphore.signal();
    semaphore.signal();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(semaphore.wait(0.0)) << "signal " << i;
    EXPECT_FALSE(semaphore.wait(0.0));
}

TEST(Semaphore, SignalFromAnotherThreadWakesAWaiter)
{
    Semaphore semaphore;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (semaphore.wait(30.0))
                ++woken;
        });
    std::thread signaller([&] {
        for (int i = 0; i < 4; ++i)
            semaphore.signal();
    });
    signaller.join();
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_EQ(woken.load(), 4);
}

TEST(OnceGuard, RunsExactlyOnceAcrossThreadsAndLateCallersSeeItDone)
{
    OnceGuard guard;
    std::atomic<int> runs{0};
    std::atomic<int> sawUnfinished{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i) {
        threads.emplace_back([&] {
            guard.run([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(5)); // others arrive meanwhile
                ++runs;
            });
            if (runs.load() != 1)
                ++sawUnfinished;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    guard.run([&] { ++runs; });
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(sawUnfinished.load(), 0) << "run returned before the function had finished";
}

TEST(OnceGuard, ThrowingFunctionLetsTheNextCallTryAgain)
{
    OnceGuard guard;
    EXPECT_THROW(guard.run([] { throw std::runtime_error("first attempt"); }), std::runtime_error);
    int runs = 0;
    guard.run([&] { ++runs; });
    guard.run([&] { ++runs; });
    EXPECT_EQ(runs, 1);
}

TEST(DispatchGroup, WaitReturnsFalseWhileEnteredAndTrueOnceLeft)
{
    DispatchGroup group;
    EXPECT_TRUE(group.wait(0.0)) << "an empty group";
    group.enter();
    group.enter();
    EXPECT_FALSE(group.wait(0.02));
    group.leave();
    EXPECT_FALSE(group.wait(0.0));
    std::thread leaver([&] { group.leave(); });
    EXPECT_TRUE(group.wait(30.0));
    leaver.join();
}

TEST(DispatchGroup, WaitCoversBlocksOnSerialAndGlobalQueues)
{
    DispatchGroup group;
    SerialQueue queue("com.tallowfen.corvex.test.group");
    std::atomic<int> ran{0};
    for (int i = 0; i < 100; ++i) {
        group.async(queue, [&] { ++ran; });
        group.async([&] { ++ran; }, i % 2 ? GlobalQueue::Priority::Low : GlobalQueue::Priority::High);
    }
    ASSERT_TRUE(group.wait(30.0));
    EXPECT_EQ(ran.load(), 200);
}

TEST(DispatchGroup, NotifyIsPostedToTheMainQueueWhenTheCountReachesZero)
{
    ScopedVirtualTime time;
    DispatchGroup group;
    int notified = 0;
    bool onMain = false;
    group.enter();
    group.enter();
    group.notify([&] {
        ++notified;
        onMain = MainQueue::isMainThread();
    });
    time.scheduler().runDue();
    EXPECT_EQ(notified, 0);
    group.leave();
    time.scheduler().runDue();
    EXPECT_EQ(notified, 0) << "one member is still in the group";

    std::thread leaver([&] { group.leave(); });
    leaver.join();
    EXPECT_EQ(notified, 0) << "posted, never run inline on the leaving thread";
    time.scheduler().runDue();
    EXPECT_EQ(notified, 1);
    EXPECT_TRUE(onMain);

    // Each notify block is posted once: a later round does not repeat it.
    group.enter();
    group.leave();
    time.scheduler().runDue();
    EXPECT_EQ(notified, 1);
}

TEST(DispatchGroup, NotifyOnAnEmptyGroupIsPostedAtOnce)
{
    ScopedVirtualTime time;
    DispatchGroup group;
    int notified = 0;
    group.notify([&] { ++notified; });
    EXPECT_EQ(notified, 0) << "not inline";
    time.scheduler().runDue();
    EXPECT_EQ(notified, 1);
}

TEST(DispatchGroup, LeaveWithoutEnterIsReportedAndIgnored)
{
    ScopedVirtualTime time;
    corvex::test::LogCapture log;
    DispatchGroup group;
    group.leave();
    EXPECT_EQ(log.count(QStringLiteral("Assertion failure: leave of a dispatch group that was not entered")),
              1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    // The count stayed at zero rather than going below it.
    group.enter();
    EXPECT_FALSE(group.wait(0.0));
    int notified = 0;
    group.notify([&] { ++notified; });
    group.leave();
    time.scheduler().runDue();
    EXPECT_EQ(notified, 1);
    EXPECT_TRUE(group.wait(0.0));
}
