#pragma once

#include <functional>
#include <memory>

namespace corvex {

// Collapses bursts of triggers: the task runs once on the main queue `delay` seconds (media
// clock) after the last trigger. Destroying the debouncer cancels it, also while a check is
// scheduled.
class Debouncer
{
public:
    using Task = std::function<void()>;

    Debouncer(double delay, Task task);
    ~Debouncer();
    Debouncer(const Debouncer&) = delete;
    Debouncer& operator=(const Debouncer&) = delete;

    // Any thread.
    void trigger();
    // Forgets a pending run. Any thread.
    void cancel();
    bool isPending() const;

private:
    struct State;
    std::shared_ptr<State> mState;
};

} // namespace corvex
