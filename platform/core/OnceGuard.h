#pragma once

#include <atomic>
#include <functional>
#include <mutex>

namespace corvex {

// Runs a function once for the lifetime of the guard, whichever threads ask and however
// often. Callers that arrive while it runs wait for it to end. If the function throws, the
// exception reaches its caller and the next call tries again.
class OnceGuard
{
public:
    OnceGuard() = default;
    OnceGuard(const OnceGuard&) = delete;
    OnceGuard& operator=(const OnceGuard&) = delete;

    void run(const std::function<void()>& function);

private:
    // Not std::call_once: its retry after an exception rests on pthread_once unwinding,
    // which thread sanitizers do not support.
    std::atomic<bool> mDone{false};
    std::mutex mMutex;
};

} // namespace corvex
