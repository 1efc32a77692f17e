#include "platform/core/Debouncer.h"

#include "platform/core/Scheduler.h"

#include <cmath>
#include <cstdint>
#include <mutex>

namespace corvex {
namespace {

// Rounding of now() + delay may leave a check a hair before the deadline it was set for.
constexpr double Tolerance = 1e-9;

} // namespace

struct Debouncer::State : std::enable_shared_from_this<Debouncer::State>
{
    mutable std::mutex mutex;
    double delay = 0;
    Task task;
    bool pending = false;
    double lastTrigger = 0;
    std::uint64_t generation = 0; // bumped by cancel: older checks do nothing
    bool checkScheduled = false;
    Scheduler::TaskId checkId = 0;

    // Needs the mutex. One check at a time; it moves itself on when triggers came meanwhile,
    // so a burst of triggers schedules one task, not one per trigger.
    void scheduleCheckLocked(double after)
    {
        checkScheduled = true;
        checkId = Scheduler::current().schedule(after, [weak = weak_from_this(), generation = generation] {
            if (const std::shared_ptr<State> state = weak.lock())
                state->check(generation);
        });
    }

    void check(std::uint64_t checkGeneration)
    {
        {
            std::lock_guard lock(mutex);
            if (checkGeneration != generation)
                return;
            checkScheduled = false;
            checkId = 0;
            if (!pending)
                return;
            const double due = lastTrigger + delay;
            const double now = Scheduler::current().now();
            if (now + Tolerance < due) {
                scheduleCheckLocked(due - now);
                return;
            }
            pending = false;
        }
        if (task)
            task();
    }
};

Debouncer::Debouncer(double delay, Task task) : mState(std::make_shared<State>())
{
    mState->delay = std::isfinite(delay) && delay > 0 ? delay : 0;
    mState->task = std::move(task);
}

Debouncer::~Debouncer()
{
    cancel();
}

void Debouncer::trigger()
{
    std::lock_guard lock(mState->mutex);
    mState->pending = true;
    mState->lastTrigger = Scheduler::current().now();
    if (!mState->checkScheduled)
        mState->scheduleCheckLocked(mState->delay);
}

void Debouncer::cancel()
{
    std::lock_guard lock(mState->mutex);
    mState->pending = false;
    ++mState->generation;
    if (mState->checkScheduled)
        Scheduler::current().cancel(mState->checkId);
    mState->checkScheduled = false;
    mState->checkId = 0;
}

bool Debouncer::isPending() const
{
    std::lock_guard lock(mState->mutex);
    return mState->pending;
}

} // namespace corvex
