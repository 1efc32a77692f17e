#include "platform/core/AlternateSignalStack.h"

#include <algorithm>
#include <atomic>
#include <sys/mman.h>
#include <unistd.h>

namespace corvex {

namespace {

constexpr int HolderSlots = 1024;
std::atomic<int> gHolders[HolderSlots];
thread_local volatile bool tComing = false; // read from signal handlers

int registerHolder()
{
    const int tid = ::gettid();
    for (int i = 0; i < HolderSlots; ++i) {
        int empty = 0;
        if (gHolders[i].load(std::memory_order_relaxed) == 0 &&
            gHolders[i].compare_exchange_strong(empty, tid, std::memory_order_acq_rel))
            return i;
    }
    return -1;
}

} // namespace

void AlternateSignalStack::comingOnThisThread()
{
    tComing = true;
}

bool AlternateSignalStack::comesOnThisThread()
{
    return tComing;
}

bool AlternateSignalStack::heldByThread(int tid)
{
    for (int i = 0; i < HolderSlots; ++i) {
        if (gHolders[i].load(std::memory_order_acquire) == tid)
            return true;
    }
    return false;
}

AlternateSignalStack::AlternateSignalStack()
{
    std::size_t size = Size;
#ifdef _SC_SIGSTKSZ
    const long minimum = ::sysconf(_SC_SIGSTKSZ);
    if (minimum > 0)
        size = std::max(size, std::size_t(minimum) * 4);
#endif
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 &&
        current.ss_size >= Size) {
        mSlot = registerHolder();
        return;
    }
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
    mSlot = registerHolder();
}

AlternateSignalStack::~AlternateSignalStack()
{
    if (mSlot >= 0)
        gHolders[mSlot].store(0, std::memory_order_release);
    if (!mInstalled)
        return;
    // Restores whatever the thread had before (a sanitizer runtime gives threads its own
    // stack and frees the one in place when the thread ends).
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

} // namespace corvex
