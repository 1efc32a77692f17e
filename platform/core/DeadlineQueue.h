#pragma once

#include "platform/core/Scheduler.h"

#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace corvex {

// Tasks ordered by (deadline, order of scheduling), shared by the real and the virtual
// scheduler so that both run work in the same order. Thread-safe.
class DeadlineQueue
{
public:
    struct Entry
    {
        Scheduler::TaskId id = 0;
        double deadline = 0;
        Scheduler::Task task;
    };

    // Returns the id and whether the new task is now the earliest.
    std::pair<Scheduler::TaskId, bool> push(double deadline, Scheduler::Task task);
    void cancel(Scheduler::TaskId id);
    // Removes and answers the earliest task whose deadline is at or before `limit`.
    std::optional<Entry> popDue(double limit);
    std::optional<double> earliestDeadline() const;
    bool empty() const;
    std::size_t size() const;

private:
    using Key = std::pair<double, Scheduler::TaskId>;
    mutable std::mutex mMutex;
    std::map<Key, Scheduler::Task> mTasks;
    std::map<Scheduler::TaskId, double> mDeadlines;
    Scheduler::TaskId mNextId = 1;
};

} // namespace corvex
