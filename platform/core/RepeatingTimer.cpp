#include "platform/core/RepeatingTimer.h"

#include "platform/core/Scheduler.h"

#include <cmath>
#include <cstdint>
#include <mutex>

namespace corvex {
namespace {

constexpr double MinimumInterval = 0.0001;

} // namespace

struct RepeatingTimer::State : std::enable_shared_from_this<RepeatingTimer::State>
{
    mutable std::mutex mutex;
    bool valid = false;
    std::uint64_t generation = 0; // a firing of an earlier start finds a newer generation
    double interval = 0;
    double origin = 0;        // clock at start
    std::uint64_t period = 0; // the firing due at origin + period * interval
    Scheduler::TaskId scheduled = 0;
    std::shared_ptr<Task> task;

    // Needs the mutex.
    void scheduleLocked()
    {
        const double delay = origin + double(period) * interval - Scheduler::current().now();
        scheduled = Scheduler::current().schedule(delay, [weak = weak_from_this(), generation = generation] {
            if (const std::shared_ptr<State> state = weak.lock())
                state->fire(generation);
        });
    }

    void fire(std::uint64_t firedGeneration)
    {
        std::shared_ptr<Task> current;
        {
            std::lock_guard lock(mutex);
            if (!valid || generation != firedGeneration)
                return;
            scheduled = 0;
            current = task;
        }
        (*current)();
        std::lock_guard lock(mutex);
        if (!valid || generation != firedGeneration)
            return; // invalidated or restarted by the task
        const double now = Scheduler::current().now();
        std::uint64_t next = period + 1;
        if (origin + double(next) * interval < now) {
            // Running late by more than a period: the missed firings are dropped.
            next = std::uint64_t(std::floor((now - origin) / interval)) + 1;
        }
        period = next;
        scheduleLocked();
    }
};

RepeatingTimer::RepeatingTimer() : mState(std::make_shared<State>()) {}

RepeatingTimer::~RepeatingTimer()
{
    invalidate();
}

void RepeatingTimer::start(double interval, Task task)
{
    std::lock_guard lock(mState->mutex);
    if (mState->scheduled != 0)
        Scheduler::current().cancel(mState->scheduled);
    ++mState->generation;
    mState->valid = static_cast<bool>(task);
    if (!mState->valid)
        return;
    mState->interval = std::isfinite(interval) && interval > MinimumInterval ? interval : MinimumInterval;
    mState->origin = Scheduler::current().now();
    mState->period = 1;
    mState->task = std::make_shared<Task>(std::move(task));
    mState->scheduleLocked();
}

void RepeatingTimer::invalidate()
{
    std::shared_ptr<Task> released; // the task's captures go away outside the lock
    std::lock_guard lock(mState->mutex);
    if (!mState->valid)
        return;
    mState->valid = false;
    ++mState->generation;
    if (mState->scheduled != 0)
        Scheduler::current().cancel(mState->scheduled);
    mState->scheduled = 0;
    released = std::move(mState->task);
}

bool RepeatingTimer::isValid() const
{
    std::lock_guard lock(mState->mutex);
    return mState->valid;
}

double RepeatingTimer::interval() const
{
    std::lock_guard lock(mState->mutex);
    return mState->interval;
}

} // namespace corvex
