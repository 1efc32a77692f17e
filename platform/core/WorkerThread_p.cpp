#include "platform/core/WorkerThread_p.h"

#include "platform/core/Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

namespace corvex::detail {

// A crash handler is installed later with SA_ONSTACK, and on a stack overflow the thread's
// own stack is unusable: the handler can only run if the thread already owns a separate
// stack, and sigaltstack can only be set up by the thread itself. So every thread we start
// gets one before it runs any block.
AlternateSignalStack::AlternateSignalStack()
{
    std::size_t size = Size;
#ifdef _SC_SIGSTKSZ
    const long minimum = ::sysconf(_SC_SIGSTKSZ);
    if (minimum > 0)
        size = std::max(size, std::size_t(minimum) * 4);
#endif
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    size = (size + page - 1) / page * page;
    // One guard page below the stack turns an overflow of the handler into a clean fault.
    void* memory =
        ::mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED)
        return;
    ::mprotect(memory, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(memory) + page;
    stack.ss_size = size;
    stack.ss_flags = 0;
    if (::sigaltstack(&stack, &mPrevious) != 0) {
        ::munmap(memory, size + page);
        return;
    }
    mMemory = memory;
    mMappedSize = size + page;
    mInstalled = true;
}

AlternateSignalStack::~AlternateSignalStack()
{
    if (!mInstalled)
        return;
    // Restores whatever the thread had before (a sanitizer runtime gives threads its own
    // stack and frees it itself when the thread ends).
    if ((mPrevious.ss_flags & SS_DISABLE) != 0) {
        stack_t disable{};
        disable.ss_flags = SS_DISABLE;
        ::sigaltstack(&disable, nullptr);
    } else {
        mPrevious.ss_flags = 0;
        ::sigaltstack(&mPrevious, nullptr);
    }
    ::munmap(mMemory, mMappedSize);
}

void runQueueBlock(const std::function<void()>& block, const char* label)
{
    try {
        block();
    } catch (const std::exception& e) {
        Log::error(QStringLiteral("Uncaught exception on queue %1: %2")
                       .arg(QString::fromUtf8(label), QString::fromUtf8(e.what())));
        std::terminate();
    } catch (...) {
        Log::error(QStringLiteral("Uncaught exception on queue %1: unknown exception")
                       .arg(QString::fromUtf8(label)));
        std::terminate();
    }
}

void nameCurrentThread(const char* name)
{
    char shortName[16];
    std::strncpy(shortName, name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = '\0';
    ::pthread_setname_np(::pthread_self(), shortName);
}

void makeCurrentThreadBackground(int niceIncrement)
{
    static std::atomic<bool> logged{false};
    const auto refused = [](const char* what) {
        if (!logged.exchange(true))
            Log::warning(QStringLiteral("Cannot make a background thread yield to the interface (%1): %2")
                             .arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno))));
    };
    // A thread id in place of a process id addresses that one thread on Linux; both calls
    // keep what the other set (SCHED_BATCH keeps the nice value).
    const auto thread = ::gettid();
    const sched_param parameters{};
    if (::sched_setscheduler(thread, SCHED_BATCH, &parameters) != 0)
        refused("SCHED_BATCH");
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, id_t(thread));
    if (current == -1 && errno != 0)
        return refused("getpriority");
    const int wanted = std::min(current + niceIncrement, 19);
    if (wanted != current && ::setpriority(PRIO_PROCESS, id_t(thread), wanted) != 0)
        refused("setpriority");
}

} // namespace corvex::detail
