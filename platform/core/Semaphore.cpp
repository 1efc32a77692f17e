#include "platform/core/Semaphore.h"

#include <chrono>
#include <cmath>

namespace corvex {

Semaphore::Semaphore(long value) : mValue(value) {}

void Semaphore::signal()
{
    {
        std::lock_guard lock(mMutex);
        ++mValue;
    }
    mCondition.notify_one();
}

void Semaphore::wait()
{
    std::unique_lock lock(mMutex);
    mCondition.wait(lock, [this] { return mValue > 0; });
    --mValue;
}

bool Semaphore::wait(double timeoutSeconds)
{
    if (std::isnan(timeoutSeconds))
        timeoutSeconds = 0;
    // Beyond a year counts as forever (and keeps the time point arithmetic in range).
    if (timeoutSeconds > 365.0 * 86400.0) {
        wait();
        return true;
    }
    std::unique_lock lock(mMutex);
    const auto available = [this] { return mValue > 0; };
    if (timeoutSeconds > 0) {
        const auto timeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(timeoutSeconds));
        if (!mCondition.wait_for(lock, timeout, available))
            return false;
    } else if (!available()) {
        return false;
    }
    --mValue;
    return true;
}

} // namespace corvex
