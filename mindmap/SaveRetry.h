#pragma once

#include "platform/core/Scheduler.h"

#include <QString>
#include <functional>
#include <memory>

namespace corvex {

// A document's save that failed, kept until one succeeds: why it failed, and the next
// attempt on the scheduler's clock. Each failure in a row waits twice as long as the one
// before (FirstDelay, then doubling up to LongestDelay), so that a full disk is not asked
// every moment while a passing hiccup is soon over. Main thread only.
class SaveRetry
{
public:
    static constexpr double FirstDelay = 2.0;
    static constexpr double LongestDelay = 64.0;

    // `attempt` saves again; it runs on the main thread and reports back through failed or
    // succeeded.
    explicit SaveRetry(std::function<void()> attempt);
    ~SaveRetry();
    SaveRetry(const SaveRetry&) = delete;
    SaveRetry& operator=(const SaveRetry&) = delete;

    // A save failed (the reason may be empty): the next attempt is scheduled, replacing one
    // still waiting. True for the first failure since the last success: the one to tell the
    // user of.
    bool failed(const QString& reason);
    // A save succeeded: the failure is forgotten and the waiting attempt dropped. True when
    // a failure was pending.
    bool succeeded();
    // The user saves: a pending failure is attempted again at once.
    void attemptNow();

    bool pending() const { return mPending; }
    const QString& reason() const { return mReason; }
    // What the next failure in a row waits.
    double nextDelay() const { return mDelay; }

private:
    void cancelWaiting();

    std::function<void()> mAttempt;
    bool mPending = false;
    QString mReason;
    double mDelay = FirstDelay;
    Scheduler::TaskId mWaiting = 0;
    // The waiting task runs only while this object lives.
    std::shared_ptr<SaveRetry*> mSelf;
};

} // namespace corvex
