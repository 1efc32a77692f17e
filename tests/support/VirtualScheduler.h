#pragma once

#include "platform/core/DeadlineQueue.h"
#include "platform/core/Scheduler.h"

#include <atomic>

namespace corvex::test {

// Virtual time for tests: nothing runs until the test advances the clock, and then every
// due task runs on the calling thread in deadline order, with now() equal to the task's
// deadline while it runs. Worker threads may schedule into it.
//
// An auto-advancing scheduler is for helper processes and loops that only need timed work
// to happen, not to happen at a given moment: whenever the main loop finds nothing due
// (runUntil, processEvents, step), the clock jumps to the next deadline, so that a timer of
// an hour fires at once and no loop waits on real time.
class VirtualScheduler final : public Scheduler
{
public:
    enum class Mode
    {
        Manual,
        AutoAdvance
    };

    explicit VirtualScheduler(double start = 1000.0, Mode mode = Mode::Manual);

    double now() const override;
    TaskId schedule(double delaySeconds, Task task) override;
    void cancel(TaskId id) override;

    // Moves the clock forward by `seconds`, running every task due on the way (including
    // tasks those tasks schedule, when they fall inside the window). Returns the number run.
    int advance(double seconds);
    // Runs what is due at the current time.
    int runDue() { return advance(0); }
    // Runs what is due; when nothing is and the scheduler auto-advances, first moves the
    // clock to the next deadline. Returns the number of tasks run.
    int step();
    Mode mode() const { return mMode; }
    std::size_t pendingCount() const { return mQueue.size(); }
    std::optional<double> nextDeadline() const { return mQueue.earliestDeadline(); }

private:
    DeadlineQueue mQueue;
    std::atomic<double> mNow;
    const Mode mMode;
};

// Installs a VirtualScheduler for the lifetime of the scope.
class ScopedVirtualTime
{
public:
    explicit ScopedVirtualTime(double start = 1000.0,
                               VirtualScheduler::Mode mode = VirtualScheduler::Mode::Manual);
    ~ScopedVirtualTime();
    ScopedVirtualTime(const ScopedVirtualTime&) = delete;
    ScopedVirtualTime& operator=(const ScopedVirtualTime&) = delete;

    VirtualScheduler& scheduler() { return mScheduler; }
    int advance(double seconds) { return mScheduler.advance(seconds); }
    int runDue() { return mScheduler.runDue(); }
    double now() const { return mScheduler.now(); }

private:
    VirtualScheduler mScheduler;
    Scheduler* mPrevious;
    bool mTiedCalendar = false;
};

} // namespace corvex::test
