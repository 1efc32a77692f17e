#pragma once

#include <condition_variable>
#include <mutex>

namespace corvex {

// A counting semaphore. Waits with a timeout measure real time: they bound how long a
// thread blocks, they do not schedule work.
class Semaphore
{
public:
    explicit Semaphore(long value = 0);
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Adds one to the count, waking one waiter.
    void signal();
    // Waits until the count is positive and takes one.
    void wait();
    // As wait(), giving up after `timeoutSeconds`: false when it gave up (the count is then
    // unchanged). A timeout of 0 or less only tries.
    [[nodiscard]] bool wait(double timeoutSeconds);

private:
    std::mutex mMutex;
    std::condition_variable mCondition;
    long mValue;
};

} // namespace corvex
