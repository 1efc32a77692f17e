#pragma once

#include "platform/core/UniqueFunction.h"
#include <cstdint>
#include <functional>

namespace corvex {

// The one source of time and of delayed work for the whole program. The main queue, the
// serial queues' `after`, repeating timers, the animation driver and every debounce go
// through the current scheduler, and logic reads time only through now(). The application
// runs QtScheduler on Qt's event loop; a test that controls time installs a virtual one.
class Scheduler
{
public:
    using Task = UniqueFunction<void()>;
    using TaskId = std::uint64_t;

    virtual ~Scheduler();

    // The media clock: monotonic seconds, never 0.
    virtual double now() const = 0;
    // Runs the task on the main thread once its deadline (now() + delay) has come; a delay
    // of 0 means the next turn of the main loop. Tasks with equal deadlines run in the order
    // they were scheduled. Callable from any thread.
    virtual TaskId schedule(double delaySeconds, Task task) = 0;
    // Drops a task that has not started. Callable from any thread; unknown ids are ignored.
    virtual void cancel(TaskId id) = 0;

    // The scheduler in use. Without an installed one, a QtScheduler made on first use.
    static Scheduler& current();
    // Installs a scheduler (nullptr goes back to the default) and answers the previous one.
    // The caller keeps ownership and installs before any work is scheduled.
    static Scheduler* install(Scheduler* scheduler);
};

// Seconds on the media clock of the current scheduler.
class MediaClock
{
public:
    static double now();
};

} // namespace corvex
