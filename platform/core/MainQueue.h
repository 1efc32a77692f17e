#pragma once

#include "platform/core/Scheduler.h"

namespace corvex {

// The main queue: work for the main thread, which owns the interface, the model and every
// completion of the storage layer. Goes through the current Scheduler, so a test on
// virtual time sees exactly what the application would do.
class MainQueue
{
public:
    using Task = Scheduler::Task;
    using TaskId = Scheduler::TaskId;

    static constexpr const char* Label = "com.tallowfen.corvex.main";

    // Runs the task on the main thread in a later turn (never inside this call). Any thread.
    static TaskId post(Task task);
    // Runs the task on the main thread after `seconds` on the media clock. Any thread.
    static TaskId postAfter(double seconds, Task task);
    // Drops a posted task that has not started. Any thread.
    static void cancel(TaskId id);

    // The main thread is the process's first thread (its thread id is the process id).
    static bool isMainThread();
};

} // namespace corvex
