// The thread-start hook this program links as the application does: every thread, whoever
// makes it, runs its code on an alternate signal stack of its own and gives it back when it
// ends, however it ends. Runs under the sanitizers too, whose runtime gives each thread a
// stack of its own first.

#include "platform/core/AlternateSignalStack.h"

#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace corvex {
namespace {

struct SeenStack
{
    int flags = SS_DISABLE;
    std::size_t size = 0;
    void* base = nullptr;
    int tid = 0;
    bool held = false;
};

SeenStack seeThisThread()
{
    SeenStack seen;
    stack_t stack{};
    if (::sigaltstack(nullptr, &stack) == 0) {
        seen.flags = stack.ss_flags;
        seen.size = stack.ss_size;
        seen.base = stack.ss_sp;
    }
    seen.tid = ::gettid();
    seen.held = AlternateSignalStack::heldByThread(seen.tid);
    return seen;
}

void expectOwnStack(const SeenStack& seen, const char* kind)
{
    EXPECT_EQ(seen.flags & SS_DISABLE, 0) << kind;
    EXPECT_GE(seen.size, AlternateSignalStack::Size) << kind;
    EXPECT_TRUE(seen.held) << kind;
}

// After the thread ended: its stack is unmapped and it is no longer listed. (A QThread counts
// as finished a moment before its start routine returns into the hook.)
void expectGivenBack(const SeenStack& seen, const char* kind)
{
    for (int wait = 0; wait < 2000 && AlternateSignalStack::heldByThread(seen.tid); ++wait)
        ::usleep(1000);
    EXPECT_FALSE(AlternateSignalStack::heldByThread(seen.tid)) << kind;
    const long page = ::sysconf(_SC_PAGESIZE);
    unsigned char resident = 0;
    void* first =
        reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(seen.base) & ~std::uintptr_t(page - 1));
    EXPECT_EQ(::mincore(first, std::size_t(page), &resident), -1) << kind;
    EXPECT_EQ(errno, ENOMEM) << kind;
}

void* seeAndReturn(void* out)
{
    *static_cast<SeenStack*>(out) = seeThisThread();
    return out;
}

void* seeAndExit(void* out)
{
    *static_cast<SeenStack*>(out) = seeThisThread();
    ::pthread_exit(out);
}

std::atomic<bool> gCancelSeen{false};

void* seeAndWaitForCancel(void* out)
{
    *static_cast<SeenStack*>(out) = seeThisThread();
    gCancelSeen.store(true);
    while (true)
        ::pause(); // a cancellation point
}

TEST(BBXThreadHooks, EveryKindOfThreadRunsOnAnAlternateStackOfItsOwnAndGivesItBackAtItsEnd)
{
    SeenStack seen;
    std::thread([&] { seen = seeThisThread(); }).join();
    expectOwnStack(seen, "std::thread");
    expectGivenBack(seen, "std::thread");

    QThread* qthread = QThread::create([&] { seen = seeThisThread(); });
    qthread->start();
    ASSERT_TRUE(qthread->wait(10000));
    delete qthread;
    expectOwnStack(seen, "QThread");
    expectGivenBack(seen, "QThread");

    // A pool thread stays for the next task; only what it runs on is seen.
    SeenStack pooled;
    QThreadPool pool;
    pool.start([&] { pooled = seeThisThread(); });
    ASSERT_TRUE(pool.waitForDone(10000));
    expectOwnStack(pooled, "QThreadPool");

    for (void* (*routine)(void*) : {seeAndReturn, seeAndExit}) {
        pthread_t thread;
        SeenStack raw;
        ASSERT_EQ(::pthread_create(&thread, nullptr, routine, &raw), 0);
        void* result = nullptr;
        ASSERT_EQ(::pthread_join(thread, &result), 0);
        EXPECT_EQ(result, &raw) << "the routine's result passes through";
        expectOwnStack(raw, "pthread_create");
        expectGivenBack(raw, "pthread_create");
    }

    pthread_t cancelled;
    SeenStack waiting;
    ASSERT_EQ(::pthread_create(&cancelled, nullptr, seeAndWaitForCancel, &waiting), 0);
    while (!gCancelSeen.load())
        ::usleep(1000);
    ASSERT_EQ(::pthread_cancel(cancelled), 0);
    void* result = nullptr;
    ASSERT_EQ(::pthread_join(cancelled, &result), 0);
    EXPECT_EQ(result, PTHREAD_CANCELED);
    expectOwnStack(waiting, "cancelled");
    expectGivenBack(waiting, "cancelled");
}

TEST(BBXThreadHooks, AStackAlreadyInPlaceIsKeptAndNotReplaced)
{
    SeenStack outer;
    SeenStack inner;
    std::thread([&] {
        outer = seeThisThread();
        {
            AlternateSignalStack nested;
            EXPECT_FALSE(nested.installed());
            inner = seeThisThread();
        }
        // The nested object's end leaves the thread's stack as it was.
        const SeenStack after = seeThisThread();
        EXPECT_EQ(after.base, outer.base);
        EXPECT_TRUE(after.held);
    }).join();
    EXPECT_EQ(inner.base, outer.base);
    EXPECT_EQ(inner.size, outer.size);
}

} // namespace
} // namespace corvex
