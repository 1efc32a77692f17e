#include "platform/core/DispatchGroup.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace corvex {

struct DispatchGroup::State
{
    std::mutex mutex;
    std::condition_variable condition;
    long count = 0;
    std::vector<Task> notifyBlocks;

    void enter()
    {
        std::lock_guard lock(mutex);
        ++count;
    }

    void leave()
    {
        std::vector<Task> ready;
        {
            std::unique_lock lock(mutex);
            if (count == 0) {
                lock.unlock(); // a log sink may do anything
                Log::assertionFailure(QStringLiteral("leave of a dispatch group that was not entered"));
                return;
            }
            if (--count == 0) {
                ready.swap(notifyBlocks);
                condition.notify_all();
            }
        }
        for (Task& block : ready)
            MainQueue::post(std::move(block));
    }
};

DispatchGroup::DispatchGroup() : mState(std::make_shared<State>()) {}

void DispatchGroup::enter()
{
    mState->enter();
}

void DispatchGroup::leave()
{
    mState->leave();
}

void DispatchGroup::async(SerialQueue& queue, Task block)
{
    mState->enter();
    queue.async([state = mState, block = std::move(block)] {
        block();
        state->leave();
    });
}

void DispatchGroup::async(Task block, GlobalQueue::Priority priority)
{
    mState->enter();
    GlobalQueue::async(
        [state = mState, block = std::move(block)] {
            block();
            state->leave();
        },
        priority);
}

bool DispatchGroup::wait(double timeoutSeconds)
{
    if (std::isnan(timeoutSeconds))
        timeoutSeconds = 0;
    if (timeoutSeconds > 365.0 * 86400.0) {
        wait();
        return true;
    }
    std::unique_lock lock(mState->mutex);
    const auto empty = [this] { return mState->count == 0; };
    if (timeoutSeconds <= 0)
        return empty();
    return mState->condition.wait_for(lock,
                                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                          std::chrono::duration<double>(timeoutSeconds)),
                                      empty);
}

void DispatchGroup::wait()
{
    std::unique_lock lock(mState->mutex);
    mState->condition.wait(lock, [this] { return mState->count == 0; });
}

void DispatchGroup::notify(Task block)
{
    {
        std::lock_guard lock(mState->mutex);
        if (mState->count > 0) {
            mState->notifyBlocks.push_back(std::move(block));
            return;
        }
    }
    MainQueue::post(std::move(block));
}

} // namespace corvex
