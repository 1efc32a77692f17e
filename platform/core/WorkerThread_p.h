#pragma once

// Private to platform/core: what every thread made by the dispatch classes shares.

namespace corvex::detail {

// Logs the exception being handled and calls std::terminate() inside the handler, so a
// terminate handler still finds it through std::current_exception().
[[noreturn]] void endForUncaughtException(const char* label);

// Runs one block of the queue `label`. A block that throws ends the process.
template <class Block> void runQueueBlock(Block&& block, const char* label)
{
    try {
        block();
    } catch (...) {
        endForUncaughtException(label);
    }
}

// Names the calling thread for debuggers and `top` (at most 15 bytes are kept).
void nameCurrentThread(const char* name);

// Schedules the calling thread as background work that must not take the interface
// thread's time: SCHED_BATCH (a thread woken never preempts the running one; it waits for
// the running thread's turn to end) with its nice value raised by `niceIncrement` (at most
// to 19). A refusal is logged once and leaves the thread as it was.
void makeCurrentThreadBackground(int niceIncrement);

} // namespace corvex::detail
