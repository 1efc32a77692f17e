#pragma once

#include "platform/core/GlobalQueue.h"
#include "platform/core/UniqueFunction.h"

#include <functional>
#include <memory>

namespace corvex {

class SerialQueue;

// Tracks a set of pending pieces of work: enter() before each, leave() after it. Waiters
// and notify blocks learn when the count drops to zero. Copies share one group.
class DispatchGroup
{
public:
    using Task = UniqueFunction<void()>;

    DispatchGroup();

    void enter();
    // A leave without a matching enter is an assertion failure and is ignored.
    void leave();

    // Runs the block on the queue as a member of the group.
    void async(SerialQueue& queue, Task block);
    void async(Task block, GlobalQueue::Priority priority = GlobalQueue::Priority::Default);

    // Waits until the count is zero; false when `timeoutSeconds` of real time pass first.
    [[nodiscard]] bool wait(double timeoutSeconds);
    void wait();

    // Posts the block to the main queue once the count reaches zero (at once when it is
    // zero now). Each block is posted once.
    void notify(Task block);

private:
    struct State;
    std::shared_ptr<State> mState;
};

} // namespace corvex
