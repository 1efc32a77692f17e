// Ordinary set-up code, except BBXThreadStacksAnswer (crash-time rules: no Qt; no allocation;
// no locks; no stdio; only async-signal-safe calls).

#include "crash/capture/BBXThreadStacks.h"

#include "crash/capture/BBXThreadCapture.h"
#include "crash/runtime/BBXCrashTime.h"
#include "platform/core/AlternateSignalStack.h"

#include <atomic>
#include <csignal>
#include <ctime>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

namespace corvex {

namespace {

enum BBXStackRequestState : std::uint32_t
{
    BBXStackRequestIdle = 0,
    BBXStackRequestSent = 1,
    BBXStackRequestTaken = 2, // the handler is at it
    BBXStackRequestInstalled = 3,
    BBXStackRequestKept = 4, // the thread had one: the stack is not needed
    BBXStackRequestWithdrawn = 5,
};

struct BBXStackRequest
{
    std::atomic<std::int32_t> tid{0};
    std::atomic<std::uint32_t> state{BBXStackRequestIdle};
    void* stack = nullptr;
    std::size_t size = 0;
    void* mapping = nullptr;
    std::size_t mappingSize = 0;
};

BBXStackRequest gBBXStackRequests[BBXThreadStacksMaxRequests];

std::uint64_t stacksNowMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1000u + std::uint64_t(now.tv_nsec) / 1000000u;
}

bool stacksStillOpen(std::uint32_t state)
{
    return state == BBXStackRequestSent || state == BBXStackRequestTaken;
}

// A stack with a guard page below it, as the thread-start hook makes them.
bool stacksMake(BBXStackRequest& request)
{
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    const std::size_t size = (AlternateSignalStack::Size + page - 1) / page * page;
    void* memory =
        ::mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED)
        return false;
    ::mprotect(memory, page, PROT_NONE);
    request.mapping = memory;
    request.mappingSize = size + page;
    request.stack = static_cast<char*>(memory) + page;
    request.size = size;
    return true;
}

} // namespace

std::uint32_t BBXThreadStacksGive(std::uint32_t waitMilliseconds)
{
    std::int32_t tids[BBXThreadCaptureMaxThreads];
    const std::uint32_t count = BBXThreadCaptureListThreads(tids, BBXThreadCaptureMaxThreads);
    const std::int32_t self = BBXCurrentThreadId();
    std::uint32_t requests = 0;
    for (std::uint32_t i = 0; i < count && requests < BBXThreadStacksMaxRequests; ++i) {
        if (tids[i] == self || AlternateSignalStack::heldByThread(tids[i]))
            continue;
        BBXStackRequest& request = gBBXStackRequests[requests];
        if (request.state.load(std::memory_order_acquire) != BBXStackRequestIdle || !stacksMake(request))
            break;
        request.tid.store(tids[i], std::memory_order_relaxed);
        request.state.store(BBXStackRequestSent, std::memory_order_release);
        ++requests;
    }
    const pid_t pid = ::getpid();
    for (std::uint32_t i = 0; i < requests; ++i) {
        BBXStackRequest& request = gBBXStackRequests[i];
        if (::syscall(SYS_tgkill, pid, request.tid.load(std::memory_order_relaxed),
                      BBXThreadCaptureSignal()) != 0)
            request.state.store(BBXStackRequestWithdrawn, std::memory_order_release); // ended meanwhile
    }
    const std::uint64_t deadline = stacksNowMilliseconds() + waitMilliseconds;
    while (stacksNowMilliseconds() < deadline) {
        bool open = false;
        for (std::uint32_t i = 0; i < requests && !open; ++i)
            open = stacksStillOpen(gBBXStackRequests[i].state.load(std::memory_order_acquire));
        if (!open)
            break;
        timespec pause{0, 200000};
        nanosleep(&pause, nullptr);
    }
    std::uint32_t given = 0;
    for (std::uint32_t i = 0; i < requests; ++i) {
        BBXStackRequest& request = gBBXStackRequests[i];
        // A request not taken yet is withdrawn, so that a late signal installs nothing; one
        // taken is finished by its handler within two system calls.
        std::uint32_t sent = BBXStackRequestSent;
        request.state.compare_exchange_strong(sent, BBXStackRequestWithdrawn, std::memory_order_acq_rel);
        while (request.state.load(std::memory_order_acquire) == BBXStackRequestTaken) {
            timespec pause{0, 100000};
            nanosleep(&pause, nullptr);
        }
        if (request.state.load(std::memory_order_acquire) == BBXStackRequestInstalled) {
            ++given; // the thread's for good
        } else {
            ::munmap(request.mapping, request.mappingSize);
        }
        request.tid.store(0, std::memory_order_relaxed);
        request.mapping = request.stack = nullptr;
        request.state.store(BBXStackRequestIdle, std::memory_order_release);
    }
    return given;
}

void BBXThreadStacksAnswer(std::int32_t tid, void* userContext)
{
    if (!BBXIsValidPointer(userContext))
        return;
    // The return from the handler puts back the alternate stack its context holds, so the
    // new stack goes there, not through sigaltstack.
    stack_t& stack = static_cast<ucontext_t*>(userContext)->uc_stack;
    for (BBXStackRequest& request : gBBXStackRequests) {
        if (request.tid.load(std::memory_order_acquire) != tid)
            continue;
        std::uint32_t sent = BBXStackRequestSent;
        if (!request.state.compare_exchange_strong(sent, BBXStackRequestTaken, std::memory_order_acq_rel))
            return;
        if ((stack.ss_flags & SS_DISABLE) == 0 || AlternateSignalStack::comesOnThisThread()) {
            request.state.store(BBXStackRequestKept, std::memory_order_release);
            return;
        }
        stack.ss_sp = request.stack;
        stack.ss_size = request.size;
        stack.ss_flags = 0;
        request.state.store(BBXStackRequestInstalled, std::memory_order_release);
        return;
    }
}

} // namespace corvex
