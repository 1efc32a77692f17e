#pragma once

#include "platform/core/Error.h"
#include "platform/core/Operation.h"

#include <QString>
#include <functional>
#include <mutex>

namespace corvex {

// The base of the kit's asynchronous operations: work that main() starts finishes later, on
// whatever thread it completes, with finishWithError() or markDone(). The executing and
// finished flags change only under a recursive lock, and every change is announced while it
// is held; the queue reads the flags back through isExecuting()/isFinished(), which take the
// same lock again on the same thread.
class LOMAsyncOperation : public Operation
{
public:
    // A step of finishing, not a request's answer: finishWithError() runs it at once, before
    // the finished flag turns on (the queue's slot is held until it has run); an operation
    // cancelled before it starts never runs it.
    using FinishStep = std::function<void(const Error& error)>;

    LOMAsyncOperation();
    ~LOMAsyncOperation() override;

    bool isConcurrent() const { return true; }
    bool isAsynchronous() const override;
    bool isExecuting() const override;
    bool isFinished() const override;

    // A cancelled operation becomes finished without running main(); otherwise it is marked
    // executing and main() runs. Never the base class's start().
    void start() override;

    // Run once by finishWithError(), before the state changes and outside the lock.
    void setAsyncCompletion(FinishStep step);

    // When cancelled: markDone() and true.
    bool checkForCancellation();
    void markStarted();
    void markDone();
    // The completion (when set) with `error` (null: success), then markDone().
    void finishWithError(const Error& error);

    void lock(const std::function<void()>& block);
    // "com.loomworks.<class name>-lock".
    QString lockName() const;

    // The concrete class's name, for the lock's name.
    virtual QString className() const;

protected:
    void changeValueForKey(const char* key, const std::function<void()>& block);
    // The caller holds the lock.
    void unlockedMarkStarted();
    void unlockedMarkComplete();
    void unlockedMarkFinished();

private:
    mutable std::recursive_mutex mLock;
    bool mInternalExecuting = false;
    bool mInternalFinished = false;
    FinishStep mAsyncCompletion;
    std::mutex mCompletionMutex;
};

} // namespace corvex
