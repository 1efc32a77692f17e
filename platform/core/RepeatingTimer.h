#pragma once

#include <functional>
#include <memory>

namespace corvex {

// Runs a task on the main thread every `interval` seconds of the media clock, through the
// current scheduler. Firings keep to the grid start + n * interval however long the task
// takes; a firing that could not run in its period is skipped, not made up. Destroying the
// timer invalidates it. start and invalidate may be called from any thread, also from the
// task itself.
class RepeatingTimer
{
public:
    using Task = std::function<void()>;

    RepeatingTimer();
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    // (Re)starts the timer: the first firing is `interval` from now. Intervals below 0.1 ms
    // are raised to it.
    void start(double interval, Task task);
    void invalidate();
    bool isValid() const;
    double interval() const;

private:
    struct State;
    std::shared_ptr<State> mState;
};

} // namespace corvex
