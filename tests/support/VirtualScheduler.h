#pragma once

#include "platform/core/DeadlineQueue.h"
#include "platform/core/Scheduler.h"

#include <atomic>

namespace corvex::test {

// Virtual time for tests: nothing runs until the test advances the clock, and then every
// due task runs on the calling thread in deadline order, with now() equal to the task's
// deadline while it runs. Worker threads may schedule into it.
class VirtualScheduler final : public Scheduler
{
public:
    explicit VirtualScheduler(double start = 1000.0);

    double now() const override;
    TaskId schedule(double delaySeconds, Task task) override;
    void cancel(TaskId id) override;

    // Moves the clock forward by `seconds`, running every task due on the way (including
    // tasks those tasks schedule, when they fall inside the window). Returns the number run.
    int advance(double seconds);
    // Runs what is due at the current time.
    int runDue() { return advance(0); }
    std::size_t pendingCount() const { return mQueue.size(); }
    std::optional<double> nextDeadline() const { return mQueue.earliestDeadline(); }

private:
    DeadlineQueue mQueue;
    std::atomic<double> mNow;
};

// Installs a VirtualScheduler for the lifetime of the scope.
class ScopedVirtualTime
{
public:
    explicit ScopedVirtualTime(double start = 1000.0);
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
};

} // namespace corvex::test
