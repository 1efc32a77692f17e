#include "platform/core/SerialQueue.h"
#include "platform/core/Log.h"
#include "platform/core/ProcessActivity.h"
#include "platform/core/QueueLabels.h"
#include "platform/core/Semaphore.h"
#include "tests/platform/core/CoreTestSupport.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <gtest/gtest.h>
#include <memory>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace corvex;
using corvex::test::currentQueueLabel;
using corvex::test::InFlight;
using corvex::test::runUntil;

namespace {

constexpr const char* kLabel = "com.tallowfen.corvex.test.serial";

int currentTid()
{
    return int(::syscall(SYS_gettid));
}

std::string labelOf(int tid)
{
    char buffer[QueueLabels::MaxLabelLength + 1];
    QueueLabels::read(tid, buffer, sizeof buffer);
    return buffer;
}

} // namespace

TEST(SerialQueue, EightProducersKeepTheirOrderEveryBlockRunsOnceAndNeverTwoAtOnce)
{
    constexpr int kProducers = 8;
    constexpr int kBlocksEach = 10000;
    SerialQueue queue(kLabel);
    InFlight inFlight;
    std::vector<int> lastSeen(kProducers, -1); // touched only inside blocks of the queue
    std::atomic<int> outOfOrder{0};
    std::atomic<int> wrongLabel{0};
    std::atomic<int> ran{0};
    std::vector<std::vector<int>> runs(kProducers, std::vector<int>(kBlocksEach, 0));

    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kBlocksEach; ++i) {
                queue.async([&, p, i] {
                    inFlight.enter();
                    if (lastSeen[p] != i - 1)
                        ++outOfOrder;
                    lastSeen[p] = i;
                    ++runs[p][i];
                    if (currentQueueLabel() != kLabel)
                        ++wrongLabel;
                    inFlight.leave();
                    ++ran;
                });
            }
        });
    }
    for (std::thread& producer : producers)
        producer.join();

    ASSERT_TRUE(runUntil([&] { return ran.load() == kProducers * kBlocksEach; }, 60)) << "ran " << ran.load();
    EXPECT_EQ(outOfOrder.load(), 0);
    EXPECT_EQ(wrongLabel.load(), 0);
    EXPECT_EQ(inFlight.most.load(), 1);
    int notOnce = 0;
    for (const auto& producer : runs)
        for (int count : producer)
            notOnce += count != 1;
    EXPECT_EQ(notOnce, 0) << "blocks that did not run exactly once";
}

TEST(SerialQueue, WorkerLabelIsReadableFromAnotherThreadAndReleasedWhenTheQueueEnds)
{
    auto queue = std::make_unique<SerialQueue>(kLabel);
    std::atomic<int> workerTid{0};
    Semaphore release;
    queue->async([&] {
        workerTid = currentTid();
        release.wait();
    });
    ASSERT_TRUE(runUntil([&] { return workerTid.load() != 0; }));
    EXPECT_NE(workerTid.load(), currentTid());
    EXPECT_EQ(labelOf(workerTid), kLabel) << "read while the block is blocked";
    release.signal();
    queue.reset(); // joins the worker
    EXPECT_EQ(labelOf(workerTid), "") << "the ended worker's slot is released";
}

TEST(SerialQueue, LabelIsCopiedAndTruncatedWithoutSplittingACharacter)
{
    std::string label(QueueLabels::MaxLabelLength - 1, 'a');
    label += "\xC3\xA9\xC3\xA9"; // two two-byte characters: the first straddles the limit
    SerialQueue narrow(label.c_str());
    EXPECT_EQ(std::strlen(narrow.labelData()), QueueLabels::MaxLabelLength - 1);
    EXPECT_EQ(narrow.label(), QString(QueueLabels::MaxLabelLength - 1, QLatin1Char('a')));

    std::string temporary = "com.tallowfen.corvex.temporary";
    SerialQueue copied(temporary.c_str());
    temporary.assign(temporary.size(), 'x');
    EXPECT_STREQ(copied.labelData(), "com.tallowfen.corvex.temporary");

    SerialQueue wide(QStringLiteral("com.tallowfen.corvex.\u00e9t\u00e9"));
    EXPECT_EQ(wide.label(), QStringLiteral("com.tallowfen.corvex.\u00e9t\u00e9"));
}

TEST(SerialQueue, SyncRunsInlineOnTheCallerAfterEarlierBlocksWithTheQueueLabel)
{
    SerialQueue queue(kLabel);
    std::vector<int> order; // written only by blocks of the queue
    for (int i = 0; i < 5; ++i) {
        queue.async([&order, i] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2)); // let sync arrive early
            order.push_back(i);
        });
    }
    QueueLabels::Scope callerLabel("com.tallowfen.corvex.test.caller");
    const std::thread::id caller = std::this_thread::get_id();
    std::thread::id ranOn;
    std::string labelInside;
    bool currentInside = false;
    std::size_t earlierDone = 0;
    queue.sync([&] {
        ranOn = std::this_thread::get_id();
        labelInside = currentQueueLabel();
        currentInside = queue.isCurrent();
        earlierDone = order.size();
        order.push_back(99);
    });
    EXPECT_EQ(ranOn, caller);
    EXPECT_EQ(labelInside, kLabel);
    EXPECT_TRUE(currentInside);
    EXPECT_EQ(earlierDone, 5u) << "blocks submitted before sync run first";
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 99}));
    EXPECT_EQ(currentQueueLabel(), "com.tallowfen.corvex.test.caller") << "the caller's label comes back";
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, SyncAndAsyncFromManyThreadsNeverOverlap)
{
    SerialQueue queue(kLabel);
    InFlight inFlight;
    std::atomic<int> ran{0};
    const int rounds = corvex::test::heavyScale(200, 50);
    auto body = [&] {
        inFlight.enter();
        std::this_thread::sleep_for(std::chrono::microseconds(50)); // widens any overlap
        inFlight.leave();
        ++ran;
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) {
                if ((i + t) % 2 == 0)
                    queue.sync(body);
                else
                    queue.async(body);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(runUntil([&] { return ran.load() == 6 * rounds; }, 60)) << "ran " << ran.load();
    EXPECT_EQ(inFlight.most.load(), 1);
}

TEST(SerialQueue, SyncFromABlockOfTheSameQueueIsReportedAndRunsInline)
{
    corvex::test::LogCapture log;
    SerialQueue queue(kLabel);
    std::atomic<bool> innerRan{false};
    std::atomic<bool> done{false};
    queue.async([&] {
        queue.sync([&] { innerRan = true; });
        done = true;
    });
    ASSERT_TRUE(runUntil([&] { return done.load(); })) << "sync on the current queue must not deadlock";
    EXPECT_TRUE(innerRan.load());
    EXPECT_TRUE(log.contains(QStringLiteral("sync on the current queue ") + QLatin1String(kLabel)))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(SerialQueue, SuspendedQueueStartsNothingUntilEverySuspendIsResumed)
{
    corvex::test::LogCapture log;
    SerialQueue queue(kLabel);
    std::atomic<int> ran{0};
    queue.suspend();
    queue.suspend();
    for (int i = 0; i < 3; ++i)
        queue.async([&] { ++ran; });
    // A negative can only be observed for a while; a fault shows as a flaky pass, never as
    // a false failure.
    EXPECT_FALSE(runUntil([&] { return ran.load() > 0; }, 0.05));
    queue.resume();
    EXPECT_FALSE(runUntil([&] { return ran.load() > 0; }, 0.05)) << "one suspend is still open";

    // sync waits for the resume and runs after the earlier blocks.
    std::atomic<int> seenBySync{-1};
    std::thread syncCaller([&] { queue.sync([&] { seenBySync = ran.load(); }); });
    EXPECT_FALSE(runUntil([&] { return seenBySync.load() >= 0; }, 0.05));
    queue.resume();
    syncCaller.join();
    EXPECT_EQ(seenBySync.load(), 3);
    EXPECT_EQ(ran.load(), 3);

    EXPECT_FALSE(log.contains(QStringLiteral("not suspended")));
    queue.resume(); // one too many
    EXPECT_EQ(log.count(QStringLiteral("resume of queue ") + QLatin1String(kLabel) +
                        QStringLiteral(" that is not suspended")),
              1);
    // The extra resume is ignored: one suspend still holds the queue.
    queue.suspend();
    queue.async([&] { ++ran; });
    EXPECT_FALSE(runUntil([&] { return ran.load() > 3; }, 0.05));
    queue.resume();
    EXPECT_TRUE(runUntil([&] { return ran.load() == 4; }));
}

TEST(SerialQueue, AQueueTheQuitWaitsForHoldsAnActivityWhileABlockIsQueuedOrRunning)
{
    ASSERT_FALSE(ProcessActivity::anyOpen());
    SerialQueue plain(kLabel);
    plain.suspend();
    plain.async([] {});
    EXPECT_FALSE(ProcessActivity::anyOpen()) << "a queue holds no activity unless asked";
    plain.resume();

    std::atomic<int> ran{0}; // outlives the queue, which runs its last block as it goes
    SerialQueue queue(kLabel);
    queue.setQuitWaitsForBlocks(true);
    queue.sync([] {});
    EXPECT_FALSE(ProcessActivity::anyOpen()) << "a sync block leaves nothing open";
    queue.suspend();
    queue.async([&] { ++ran; });
    queue.async([&] { ++ran; });
    EXPECT_EQ(ProcessActivity::openActivities(), 1) << "one activity for the whole queue";
    queue.resume();
    EXPECT_TRUE(ProcessActivity::waitWhileOpen(10.0));
    EXPECT_EQ(ran.load(), 2) << "the activity ended before the last block ran";

    // Switched off with blocks queued, the queue lets the quit go.
    queue.suspend();
    queue.async([&] { ++ran; });
    EXPECT_TRUE(ProcessActivity::anyOpen());
    queue.setQuitWaitsForBlocks(false);
    EXPECT_FALSE(ProcessActivity::anyOpen());
    queue.resume();
}

TEST(SerialQueue, SuspendWhileABlockRunsLetsItFinishButStartsNoOther)
{
    SerialQueue queue(kLabel);
    Semaphore entered;
    Semaphore release;
    std::atomic<int> ran{0};
    queue.async([&] {
        entered.signal();
        release.wait();
        ++ran;
    });
    queue.async([&] { ++ran; });
    entered.wait();
    queue.suspend();
    release.signal();
    EXPECT_TRUE(runUntil([&] { return ran.load() == 1; }));
    EXPECT_FALSE(runUntil([&] { return ran.load() > 1; }, 0.05));
    queue.resume();
    EXPECT_TRUE(runUntil([&] { return ran.load() == 2; }));
}

TEST(SerialQueue, AfterSubmitsAtItsDeadlineOnVirtualTime)
{
    corvex::test::ScopedVirtualTime time;
    const double start = time.now();
    SerialQueue queue(kLabel);
    std::atomic<int> ran{0};
    std::vector<int> order; // written by blocks of the queue
    std::atomic<double> clockInFirst{0};
    queue.after(0.5, [&] {
        clockInFirst = MediaClock::now();
        order.push_back(2);
        ++ran;
    });
    queue.after(0.25, [&] {
        order.push_back(1);
        ++ran;
    });

    // Steps that add up exactly in binary, so deadlines are met exactly, not by rounding.
    time.advance(0.1875);
    queue.sync([] {}); // anything submitted so far has run
    EXPECT_EQ(ran.load(), 0);
    time.advance(0.0625);
    queue.sync([] {});
    EXPECT_EQ(ran.load(), 1);
    time.advance(0.1875);
    queue.sync([] {});
    EXPECT_EQ(ran.load(), 1) << "nothing runs before its deadline";
    time.advance(0.0625);
    queue.sync([] {});
    ASSERT_EQ(ran.load(), 2);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_DOUBLE_EQ(clockInFirst.load(), start + 0.5);
}

TEST(SerialQueue, AfterStillRunsWhenTheQueueIsDestroyedBeforeTheDeadline)
{
    corvex::test::ScopedVirtualTime time;
    std::atomic<bool> ran{false};
    {
        SerialQueue queue(kLabel);
        queue.after(1.0, [&] { ran = true; });
    }
    time.advance(1.0);
    EXPECT_TRUE(runUntil([&] { return ran.load(); }));
}

TEST(SerialQueue, DestroyedWithPendingBlocksRunsThemAllFirst)
{
    const int blocks = corvex::test::heavyScale(5000, 1000);
    auto queue = std::make_unique<SerialQueue>(kLabel);
    Semaphore gate;
    int ran = 0; // written only by blocks of the queue, read after the join
    queue->async([&] { gate.wait(); });
    for (int i = 0; i < blocks; ++i)
        queue->async([&ran] { ++ran; });
    gate.signal();
    queue.reset();
    EXPECT_EQ(ran, blocks);
}

TEST(SerialQueue, DestroyedSuspendedIsReportedAndStillRunsItsBlocks)
{
    corvex::test::LogCapture log;
    int ran = 0;
    {
        SerialQueue queue(kLabel);
        queue.suspend();
        queue.async([&ran] { ++ran; });
    }
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("destroying suspended queue")));
}

TEST(SerialQueue, DestroyedFromInsideItsOwnBlockNeitherCrashesNorDeadlocks)
{
    auto queue = std::make_unique<SerialQueue>(kLabel);
    std::atomic<int> workerTid{0};
    std::atomic<bool> destroyed{false};
    std::atomic<bool> laterRan{false};
    Semaphore gate; // holds the block until the test no longer touches `queue`
    queue->async([&] {
        workerTid = currentTid();
        gate.wait();
        queue.reset();
        destroyed = true;
    });
    queue->async([&] { laterRan = true; }); // queued before the destruction: still runs
    gate.signal();
    ASSERT_TRUE(runUntil([&] { return destroyed.load() && laterRan.load(); }));
    // The detached worker drains and ends, giving its label slot back.
    EXPECT_TRUE(runUntil([&] { return labelOf(workerTid).empty(); }));
}

TEST(SerialQueue, DestroyedFromInsideItsOwnSyncBlockDoesNotDeadlock)
{
    auto queue = std::make_unique<SerialQueue>(kLabel);
    std::atomic<bool> ran{false};
    queue->async([] {}); // makes the worker thread
    queue->sync([&] { queue.reset(); });
    queue = std::make_unique<SerialQueue>(kLabel);
    queue->async([&] { ran = true; });
    EXPECT_TRUE(runUntil([&] { return ran.load(); }));
}

TEST(SerialQueue, BlocksRunWithAnAlternateSignalStack)
{
    SerialQueue queue(kLabel);
    std::atomic<bool> done{false};
    stack_t stack{};
    queue.async([&] {
        ::sigaltstack(nullptr, &stack);
        done = true;
    });
    ASSERT_TRUE(runUntil([&] { return done.load(); }));
    EXPECT_EQ(stack.ss_flags & SS_DISABLE, 0);
    EXPECT_GE(stack.ss_size, std::size_t(32 * 1024));
}

// A block that throws: the process ends through std::terminate with the exception still
// current, after the exception is logged.
CORVEX_TEST_HELPER(serialQueueThrows)
{
    Log::setSink([](LogLevel, const QString& message) {
        std::printf("log: %s\n", message.toUtf8().constData());
        std::fflush(stdout);
    });
    std::set_terminate([] {
        std::printf("terminate: exception %s\n", std::current_exception() ? "current" : "missing");
        std::fflush(stdout);
        std::abort();
    });
    SerialQueue queue("com.tallowfen.corvex.test.thrower");
    queue.async([] { throw std::runtime_error("broken block"); });
    queue.async([] { std::printf("after: a later block ran\n"); });
    Semaphore never;
    never.wait();
    return 0;
}

TEST(SerialQueue, ThrowingBlockLogsAndTerminatesWithTheExceptionCurrent)
{
    auto helper = corvex::test::HelperProcess::start(QStringLiteral("serialQueueThrows"));
    ASSERT_TRUE(helper);
    const QByteArray output = helper->readAll();
    EXPECT_EQ(helper->wait(), -SIGABRT) << output.toStdString();
    EXPECT_TRUE(
        output.contains("log: Uncaught exception on queue com.tallowfen.corvex.test.thrower: broken block\n"))
        << output.toStdString();
    EXPECT_TRUE(output.contains("terminate: exception current\n")) << output.toStdString();
    EXPECT_FALSE(output.contains("after:")) << output.toStdString();
}

// A background queue's thread runs as SCHED_BATCH at a higher nice value than the thread that
// made it, so that it does not take the interface thread's time; a normal queue's thread
// keeps the caller's scheduling.
TEST(SerialQueue, ABackgroundQueueRunsItsBlocksAsBatchWorkAtAHigherNiceValue)
{
    const auto niceOfThisThread = [] { return ::getpriority(PRIO_PROCESS, id_t(::gettid())); };
    const int callerNice = niceOfThisThread();
    const struct
    {
        SerialQueue::ThreadPriority priority;
        int expectedNice;
        int expectedPolicy;
    } cases[] = {
        {SerialQueue::ThreadPriority::Normal, callerNice, ::sched_getscheduler(0)},
        {SerialQueue::ThreadPriority::Background,
         std::min(callerNice + SerialQueue::BackgroundNiceIncrement, 19), SCHED_BATCH},
    };
    for (const auto& entry : cases) {
        std::atomic<int> seenNice{-100};
        std::atomic<int> seenPolicy{-1};
        {
            SerialQueue queue("corvex.test.priority", entry.priority);
            queue.async([&] {
                seenNice = niceOfThisThread();
                seenPolicy = ::sched_getscheduler(0);
            });
        } // destroying the queue runs the block and joins its thread
        EXPECT_EQ(seenNice.load(), entry.expectedNice) << "priority " << int(entry.priority);
        EXPECT_EQ(seenPolicy.load(), entry.expectedPolicy) << "priority " << int(entry.priority);
    }
    EXPECT_EQ(niceOfThisThread(), callerNice) << "the caller's own priority is untouched";
}
