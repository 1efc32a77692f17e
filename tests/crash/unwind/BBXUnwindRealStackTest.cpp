// Real stacks of this process, unwound from the context a signal to the own thread gives,
// against glibc's backtrace() taken in the same probe: inside a qsort comparator, a
// std::thread body and a Qt slot called through QMetaObject::invokeMethod. And, where the
// malloc family can be replaced (the g++ tree), a 10,000-frame walk from a signal handler
// that allocates nothing.

#include "crash/unwind/BBXUnwind.h"
#include "tests/crash/AllocationMarks.h"
#include "tests/crash/CrashTestSupport.h"
#include "tests/crash/unwind/UnwindTestSupport.h"

#include <QMetaObject>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <execinfo.h>
#include <string>
#include <thread>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr std::size_t kRealStackMaximum = 512;

struct RealStackCapture
{
    std::uint64_t ours[kRealStackMaximum];
    std::size_t ourCount;
    void* glibc[kRealStackMaximum];
    int glibcCount;
    std::size_t unwoundFrames; // the deep walk counts without keeping
    bool keep;
};

RealStackCapture gRealStack;

void realStackUnwindFromSignal(void* ucontext)
{
    BBXThreadContext registers;
    if (!BBXThreadContextFromUcontext(static_cast<const ucontext_t*>(ucontext), &registers))
        return;
    BBXUnwindContext context;
    BBXUnwindInitFromSignal(&context, &registers);
    gRealStack.ourCount = 0;
    gRealStack.unwoundFrames = 0;
    while (BBXUnwindNextFrame(&context)) {
        if (gRealStack.keep && gRealStack.ourCount < kRealStackMaximum)
            gRealStack.ours[gRealStack.ourCount++] = BBXUnwindGetPC(&context);
        ++gRealStack.unwoundFrames;
    }
}

void realStackHandler(int, siginfo_t*, void* ucontext)
{
    realStackUnwindFromSignal(ucontext);
}

class ScopedUnwindSignal
{
public:
    ScopedUnwindSignal(int signal, void (*handler)(int, siginfo_t*, void*)) : mSignal(signal)
    {
        struct sigaction action = {};
        action.sa_sigaction = handler;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, &mPrevious);
    }
    ~ScopedUnwindSignal() { ::sigaction(mSignal, &mPrevious, nullptr); }
    ScopedUnwindSignal(const ScopedUnwindSignal&) = delete;
    ScopedUnwindSignal& operator=(const ScopedUnwindSignal&) = delete;

private:
    int mSignal;
    struct sigaction mPrevious = {};
};

__attribute__((noinline)) void realStackProbe()
{
    gRealStack.keep = true;
    gRealStack.glibcCount = backtrace(gRealStack.glibc, int(kRealStackMaximum));
    ::raise(SIGUSR1);
    asm volatile("" ::: "memory");
}

// Ours, from the probe's caller down, equal glibc's. The probe's own entries (the return
// from backtrace() in theirs, from raise() in ours) lie close together; under the
// sanitizers backtrace() is intercepted and theirs starts one frame further up.
void expectRealStackMatches()
{
    ASSERT_GE(gRealStack.glibcCount, 3);
    std::vector<std::uint64_t> theirs;
    for (int i = 0; i < gRealStack.glibcCount; ++i)
        theirs.push_back(reinterpret_cast<std::uint64_t>(gRealStack.glibc[i]));
    const std::vector<std::uint64_t> ours(gRealStack.ours, gRealStack.ours + gRealStack.ourCount);
    const auto close = [](std::uint64_t a, std::uint64_t b) { return (a > b ? a - b : b - a) < 256; };
    for (std::size_t i = 0; i < 2 && i + 1 < theirs.size(); ++i) {
        for (std::size_t j = 0; j + 1 < ours.size(); ++j) {
            if (!close(ours[j], theirs[i]) || ours[j + 1] != theirs[i + 1])
                continue;
            const std::vector<std::uint64_t> ourTail(ours.begin() + std::ptrdiff_t(j + 1), ours.end());
            const std::vector<std::uint64_t> theirTail(theirs.begin() + std::ptrdiff_t(i + 1), theirs.end());
            EXPECT_EQ(ourTail, theirTail);
            return;
        }
    }
    std::string lists = "ours:";
    for (const std::uint64_t pc : ours)
        lists += " " + std::to_string(pc);
    lists += "\nglibc:";
    for (const std::uint64_t pc : theirs)
        lists += " " + std::to_string(pc);
    FAIL() << "the probe's caller is not among our frames\n" << lists;
}

bool gRealStackComparatorProbed = false;

int realStackComparator(const void* a, const void* b)
{
    if (!gRealStackComparatorProbed) {
        gRealStackComparatorProbed = true;
        realStackProbe();
    }
    const int x = *static_cast<const int*>(a);
    const int y = *static_cast<const int*>(b);
    return (x > y) - (x < y);
}

} // namespace

TEST(BBXUnwindRealStack, InsideAQsortComparator)
{
    ScopedLiveImageTable table;
    ScopedUnwindSignal signal(SIGUSR1, realStackHandler);
    gRealStack = RealStackCapture{};
    gRealStackComparatorProbed = false;
    int values[] = {5, 3, 9, 1, 7, 2};
    std::qsort(values, 6, sizeof(int), realStackComparator);
    ASSERT_TRUE(gRealStackComparatorProbed);
    expectRealStackMatches();
}

TEST(BBXUnwindRealStack, InsideAStdThreadBody)
{
    ScopedLiveImageTable table;
    ScopedUnwindSignal signal(SIGUSR1, realStackHandler);
    gRealStack = RealStackCapture{};
    std::thread worker([] { realStackProbe(); });
    worker.join();
    expectRealStackMatches();
}

TEST(BBXUnwindRealStack, InsideAQtSlotCalledThroughInvokeMethod)
{
    ScopedLiveImageTable table;
    ScopedUnwindSignal signal(SIGUSR1, realStackHandler);
    gRealStack = RealStackCapture{};
    UnwindSlotProbe probe;
    probe.body = [] { realStackProbe(); };
    ASSERT_TRUE(QMetaObject::invokeMethod(&probe, "probe", Qt::DirectConnection));
    expectRealStackMatches();
}

#if CORVEX_TEST_OWN_MALLOC

namespace {

void unwindWatchedHandler(int, siginfo_t*, void* ucontext)
{
    test::watchAllocationsOnThisThread(true);
    realStackUnwindFromSignal(ucontext);
    test::watchAllocationsOnThisThread(false);
}

__attribute__((noinline)) int unwindDeepRecursion(int depth)
{
    if (depth == 0) {
        ::raise(SIGUSR2);
        return 0;
    }
    return unwindDeepRecursion(depth - 1) + 1;
}

} // namespace
#endif

TEST(BBXUnwindSignalSafety, TenThousandFramesFromASignalHandlerAllocateNothing)
{
#if !CORVEX_TEST_OWN_MALLOC
    GTEST_SKIP() << "the sanitizers own the malloc family here";
#else
    ScopedLiveImageTable table;
    ScopedSdkLog log; // the kit log's lines are written too
    test::resetAllocationMarks();
    test::watchAllocationsOnThisThread(true);
    void* volatile probe = std::malloc(16);
    std::free(probe);
    test::watchAllocationsOnThisThread(false);
    ASSERT_EQ(test::allocationMarks(), 2);

    ScopedUnwindSignal signal(SIGUSR2, unwindWatchedHandler);
    gRealStack = RealStackCapture{};
    test::resetAllocationMarks();
    EXPECT_EQ(unwindDeepRecursion(10000), 10000);
    EXPECT_GE(gRealStack.unwoundFrames, 10000u);
    EXPECT_EQ(test::allocationMarks(), 0);
#endif
}
