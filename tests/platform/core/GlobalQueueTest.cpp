#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/QueueLabels.h"
#include "platform/core/Semaphore.h"
#include "tests/platform/core/CoreTestSupport.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <exception>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace corvex;
using corvex::test::currentQueueLabel;
using corvex::test::runUntil;
using Priority = GlobalQueue::Priority;

TEST(GlobalQueue, BlocksRunWithThePriorityLabel)
{
    const std::pair<Priority, const char*> expected[] = {
        {Priority::High, "com.tallowfen.corvex.global.high"},
        {Priority::Default, "com.tallowfen.corvex.global.default"},
        {Priority::Low, "com.tallowfen.corvex.global.low"},
        {Priority::Background, "com.tallowfen.corvex.global.background"},
    };
    for (const auto& [priority, label] : expected) {
        EXPECT_STREQ(GlobalQueue::label(priority), label);
        std::mutex mutex;
        std::string seen;
        bool done = false;
        GlobalQueue::async(
            [&] {
                std::lock_guard lock(mutex);
                seen = currentQueueLabel();
                done = true;
            },
            priority);
        ASSERT_TRUE(runUntil([&] {
            std::lock_guard lock(mutex);
            return done;
        }));
        EXPECT_EQ(seen, label);
    }
}

TEST(GlobalQueue, PoolGrowsWhileEveryThreadIsBusy)
{
    // Each block waits for all the others to have started: that only ends if the pool gives
    // every block a thread of its own.
    constexpr int kBlocks = 16;
    std::mutex mutex;
    std::condition_variable allStarted;
    int started = 0;
    std::atomic<int> finished{0};
    std::atomic<int> gaveUp{0};
    for (int i = 0; i < kBlocks; ++i) {
        GlobalQueue::async([&] {
            {
                std::unique_lock lock(mutex);
                if (++started == kBlocks)
                    allStarted.notify_all();
                if (!allStarted.wait_for(lock, std::chrono::seconds(20), [&] { return started == kBlocks; }))
                    ++gaveUp;
            }
            ++finished; // last: the test's locals go away after this
        });
    }
    ASSERT_TRUE(runUntil([&] { return finished.load() == kBlocks; }, 30));
    EXPECT_EQ(gaveUp.load(), 0);
    EXPECT_GE(GlobalQueue::threadCount(), kBlocks);
}

TEST(GlobalQueue, HigherPrioritiesRunFirstAndFifoWithinAPriority)
{
    // Fill the whole pool so that queued blocks wait, then free one thread: it takes them
    // one by one in the order the queue hands them out.
    // Shared with the blocks: the last of them leave after the test body has returned.
    struct Blockers
    {
        Semaphore release;
        std::atomic<int> blocked{0};
    };
    auto blockers = std::make_shared<Blockers>();
    for (int i = 0; i < GlobalQueue::MaxThreads; ++i) {
        GlobalQueue::async([blockers] {
            ++blockers->blocked;
            blockers->release.wait();
        });
    }
    ASSERT_TRUE(runUntil([&] { return blockers->blocked.load() == GlobalQueue::MaxThreads; }, 30));
    EXPECT_EQ(GlobalQueue::threadCount(), GlobalQueue::MaxThreads);

    std::mutex mutex;
    std::vector<std::string> order;
    auto record = [&](const char* name) {
        return [&, name] {
            std::lock_guard lock(mutex);
            order.push_back(name);
        };
    };
    GlobalQueue::async(record("background 1"), Priority::Background);
    GlobalQueue::async(record("low 1"), Priority::Low);
    GlobalQueue::async(record("default 1"));
    GlobalQueue::async(record("high 1"), Priority::High);
    GlobalQueue::async(record("low 2"), Priority::Low);
    GlobalQueue::async(record("high 2"), Priority::High);
    GlobalQueue::async(record("default 2"), Priority::Default);
    GlobalQueue::async(record("background 2"), Priority::Background);
    EXPECT_EQ(GlobalQueue::threadCount(), GlobalQueue::MaxThreads) << "the pool stops at its cap";

    blockers->release.signal();
    ASSERT_TRUE(runUntil([&] {
        std::lock_guard lock(mutex);
        return order.size() == 8;
    }));
    EXPECT_EQ(order, (std::vector<std::string>{"high 1", "high 2", "default 1", "default 2", "low 1", "low 2",
                                               "background 1", "background 2"}));
    for (int i = 1; i < GlobalQueue::MaxThreads; ++i)
        blockers->release.signal();
}

TEST(GlobalQueue, BackgroundBlocksRunAtTheLowestPriorityAndTheOthersAtTheProcesssOwn)
{
    const auto niceOfThisThread = [] { return ::getpriority(PRIO_PROCESS, id_t(::gettid())); };
    const int own = niceOfThisThread();
    // In turns, so that a thread that ran a background block may take the next one.
    for (const Priority priority :
         {Priority::Background, Priority::Default, Priority::Background, Priority::High}) {
        std::atomic<int> seen{-100};
        GlobalQueue::async([&] { seen = niceOfThisThread(); }, priority);
        ASSERT_TRUE(runUntil([&] { return seen.load() != -100; }));
        EXPECT_EQ(seen.load(), priority == Priority::Background ? 19 : own) << GlobalQueue::label(priority);
    }
}

TEST(GlobalQueue, IdleThreadsEndAfterTheIdleTimeout)
{
    GlobalQueue::setIdleTimeout(0.05);
    std::atomic<int> ran{0};
    for (int i = 0; i < 8; ++i)
        GlobalQueue::async([&] { ++ran; });
    ASSERT_TRUE(runUntil([&] { return ran.load() == 8; }));
    EXPECT_GE(GlobalQueue::threadCount(), 1);
    EXPECT_TRUE(runUntil([&] { return GlobalQueue::threadCount() == 0; })) << GlobalQueue::threadCount();
    // The pool starts again on demand.
    GlobalQueue::async([&] { ++ran; });
    EXPECT_TRUE(runUntil([&] { return ran.load() == 9; }));
    GlobalQueue::setIdleTimeout(5);
}

TEST(GlobalQueue, BlocksRunWithAnAlternateSignalStack)
{
    std::atomic<bool> done{false};
    stack_t stack{};
    GlobalQueue::async([&] {
        ::sigaltstack(nullptr, &stack);
        done = true;
    });
    ASSERT_TRUE(runUntil([&] { return done.load(); }));
    EXPECT_EQ(stack.ss_flags & SS_DISABLE, 0);
    EXPECT_GE(stack.ss_size, std::size_t(32 * 1024));
}

CORVEX_TEST_HELPER(globalQueueThrows)
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
    GlobalQueue::async([] { throw 42; }, GlobalQueue::Priority::Low);
    Semaphore never;
    never.wait();
    return 0;
}

TEST(GlobalQueue, ThrowingBlockLogsAndTerminatesWithTheExceptionCurrent)
{
    auto helper = corvex::test::HelperProcess::start(QStringLiteral("globalQueueThrows"));
    ASSERT_TRUE(helper);
    const QByteArray output = helper->readAll();
    EXPECT_EQ(helper->wait(), -SIGABRT) << output.toStdString();
    EXPECT_TRUE(output.contains(
        "log: Uncaught exception on queue com.tallowfen.corvex.global.low: unknown exception\n"))
        << output.toStdString();
    EXPECT_TRUE(output.contains("terminate: exception current\n")) << output.toStdString();
}
