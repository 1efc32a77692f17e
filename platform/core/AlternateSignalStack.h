#pragma once

// No Qt here: the crash runtime's thread-start hook uses this class on threads it knows
// nothing about.

#include <cstddef>
#include <signal.h> // stack_t

namespace corvex {

// Gives the calling thread an alternate signal stack for the lifetime of the object and puts
// the previous one back afterwards. A crash handler runs with SA_ONSTACK, and after a stack
// overflow the thread's own stack is unusable: the handler can only run on a stack the
// thread owns beforehand, and only the thread itself can set one up. A thread that already
// has one at least Size bytes large keeps it, and nothing is made.
class AlternateSignalStack
{
public:
    static constexpr std::size_t Size = 64 * 1024;

    AlternateSignalStack();
    ~AlternateSignalStack();
    AlternateSignalStack(const AlternateSignalStack&) = delete;
    AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

    // Whether this object installed a stack (false when one was there already or none could
    // be made).
    bool installed() const { return mInstalled; }

    // Whether the thread `tid` holds a stack through a live object of this class. Lock-free;
    // a thread beyond the table's room (1024 at once) answers false.
    static bool heldByThread(int tid);
    // Said by a thread that makes one of its own before it runs any other code (the
    // thread-start hook), and asked from a signal handler on that thread: a thread that says
    // so needs no stack from anyone else, even in the moment before it has made its own.
    static void comingOnThisThread();
    static bool comesOnThisThread();

private:
    void* mMemory = nullptr;
    std::size_t mMappedSize = 0;
    stack_t mPrevious{};
    bool mInstalled = false;
    int mSlot = -1; // in the table of threads holding one
};

} // namespace corvex
