// One-shot runnables: the work runs on the main queue in a later turn unless cancelled first;
// misuse logs its assertion line and goes on.

#include "platform/core/AsyncFutureRunnable.h"

#include "platform/core/MainQueue.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <QStringList>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace corvex;
using namespace corvex::test;

namespace {

const QString kExecuteLine =
    QStringLiteral("ERROR: Assertion failure, line: 080 -[AsyncFutureRunnable execute]");
const QString kWhenReadyLine =
    QStringLiteral("ERROR: Assertion failure, line: 073 -[AsyncFutureRunnable whenReady:]");

} // namespace

TEST(AsyncFutureRunnable, RunsItsWorkOnTheMainQueueInALaterTurnAndRepliesThroughTheEndBlock)
{
    ScopedVirtualTime time;
    QStringList events;
    AsyncFutureRunnable::Ptr seen;
    auto runnable = AsyncFutureRunnable::create([&](const AsyncFutureRunnable::Ptr& self) {
        events << (MainQueue::isMainThread() ? QStringLiteral("run on main")
                                             : QStringLiteral("run elsewhere"));
        seen = self;
        self->postResponse();
    });
    EXPECT_TRUE(runnable->canExecute());
    EXPECT_FALSE(runnable->isCanceled());
    EXPECT_EQ(runnable->whenReady([&] { events << QStringLiteral("ready"); }), runnable);

    EXPECT_EQ(runnable->execute(), runnable);
    EXPECT_FALSE(runnable->canExecute()) << "executing clears the flag at once";
    EXPECT_TRUE(events.isEmpty()) << "never inside execute";
    time.runDue();
    EXPECT_EQ(events, (QStringList{"run on main", "ready"}));
    EXPECT_EQ(seen, runnable) << "the work gets the runnable itself";
}

TEST(AsyncFutureRunnable, ACancelBetweenExecuteAndTheRunStopsTheWork)
{
    ScopedVirtualTime time;
    int runs = 0;
    int replies = 0;
    auto runnable = AsyncFutureRunnable::create([&](const AsyncFutureRunnable::Ptr& self) {
        ++runs;
        self->postResponse();
    });
    runnable->whenReady([&] { ++replies; });
    runnable->execute();
    runnable->cancel();
    EXPECT_TRUE(runnable->isCanceled());
    time.runDue();
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(replies, 0);
    // Cancelling is for good: another attempt does not run either.
    runnable->markRetry();
    runnable->execute();
    time.runDue();
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(runnable->isCanceled());
}

TEST(AsyncFutureRunnable, ACancelledRunnableNeverReplies)
{
    ScopedVirtualTime time;
    int replies = 0;
    AsyncFutureRunnable::Ptr held;
    auto runnable = AsyncFutureRunnable::create([&](const AsyncFutureRunnable::Ptr& self) { held = self; });
    runnable->whenReady([&] { ++replies; });
    runnable->execute();
    time.runDue();
    ASSERT_EQ(held, runnable) << "the work ran and keeps the runnable for a later reply";
    runnable->cancel();
    held->postResponse();
    EXPECT_EQ(replies, 0) << "the end block was dropped";
}

TEST(AsyncFutureRunnable, ExecutingTwiceWithoutRetryLogsOnceAndStillRunsTwice)
{
    ScopedVirtualTime time;
    LogCapture log;
    int runs = 0;
    auto runnable = AsyncFutureRunnable::create([&](const AsyncFutureRunnable::Ptr&) { ++runs; });
    runnable->execute();
    EXPECT_EQ(log.count(kExecuteLine), 0);
    runnable->execute();
    EXPECT_EQ(log.count(kExecuteLine), 1) << log.lines().join(QLatin1Char('\n')).toStdString();
    time.runDue();
    EXPECT_EQ(runs, 2);

    // markRetry makes it executable again: no assertion line.
    runnable->markRetry();
    EXPECT_TRUE(runnable->canExecute());
    runnable->execute();
    time.runDue();
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(log.count(kExecuteLine), 1);
}

TEST(AsyncFutureRunnable, ASecondEndBlockReplacesTheFirstWithAnAssertionLine)
{
    LogCapture log;
    QStringList replies;
    auto runnable = AsyncFutureRunnable::create({});
    runnable->whenReady([&] { replies << QStringLiteral("first"); });
    EXPECT_EQ(log.count(kWhenReadyLine), 0);
    runnable->whenReady([&] { replies << QStringLiteral("second"); });
    EXPECT_EQ(log.count(kWhenReadyLine), 1);
    runnable->postResponse();
    EXPECT_EQ(replies, (QStringList{"second"}));
    // No end block: postResponse does nothing.
    auto silent = AsyncFutureRunnable::create({});
    silent->postResponse();
}

TEST(AsyncFutureRunnable, APendingRunKeepsTheRunnableAlive)
{
    ScopedVirtualTime time;
    int runs = 0;
    std::weak_ptr<AsyncFutureRunnable> weak;
    {
        auto runnable = AsyncFutureRunnable::create([&](const AsyncFutureRunnable::Ptr&) { ++runs; });
        weak = runnable;
        runnable->execute();
    }
    EXPECT_FALSE(weak.expired());
    time.runDue();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(weak.expired()) << "released once it ran";
}

TEST(AsyncFutureRunnable, OtherThreadsMayExecuteAndCancel)
{
    std::atomic<int> runs{0};
    std::atomic<bool> onMain{true};
    auto runnable = AsyncFutureRunnable::create([&](const AsyncFutureRunnable::Ptr&) {
        onMain = onMain && MainQueue::isMainThread();
        ++runs;
    });
    auto cancelled = AsyncFutureRunnable::create([&](const AsyncFutureRunnable::Ptr&) { ++runs; });
    std::thread worker([&] {
        runnable->execute();
        cancelled->execute();
        cancelled->cancel();
    });
    worker.join();
    EXPECT_TRUE(runUntil([&] { return runs.load() >= 1; }));
    processEvents();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_TRUE(onMain.load()) << "the work ran on the main thread";
    EXPECT_FALSE(runnable->canExecute());
    EXPECT_TRUE(cancelled->isCanceled());
}
