#include "platform/core/OnceGuard.h"

namespace corvex {

void OnceGuard::run(const std::function<void()>& function)
{
    if (mDone.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(mMutex);
    if (mDone.load(std::memory_order_relaxed))
        return;
    function();
    mDone.store(true, std::memory_order_release);
}

} // namespace corvex
