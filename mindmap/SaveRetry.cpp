#include "mindmap/SaveRetry.h"

#include <algorithm>
#include <utility>

namespace corvex {

SaveRetry::SaveRetry(std::function<void()> attempt)
    : mAttempt(std::move(attempt)), mSelf(std::make_shared<SaveRetry*>(this))
{}

SaveRetry::~SaveRetry()
{
    cancelWaiting();
}

bool SaveRetry::failed(const QString& reason)
{
    const bool first = !mPending;
    mPending = true;
    mReason = reason;
    cancelWaiting();
    const std::weak_ptr<SaveRetry*> weak = mSelf;
    mWaiting = Scheduler::current().schedule(mDelay, [weak] {
        const auto alive = weak.lock();
        if (!alive)
            return;
        SaveRetry& self = **alive;
        self.mWaiting = 0;
        if (self.mPending && self.mAttempt)
            self.mAttempt();
    });
    mDelay = std::min(mDelay * 2, LongestDelay);
    return first;
}

bool SaveRetry::succeeded()
{
    const bool was = mPending;
    mPending = false;
    mReason.clear();
    mDelay = FirstDelay;
    cancelWaiting();
    return was;
}

void SaveRetry::attemptNow()
{
    if (!mPending)
        return;
    cancelWaiting();
    if (mAttempt)
        mAttempt();
}

void SaveRetry::cancelWaiting()
{
    if (mWaiting != 0)
        Scheduler::current().cancel(mWaiting);
    mWaiting = 0;
}

} // namespace corvex
