#include "kit/core/LOMAsyncOperation.h"

#include <utility>

namespace corvex {

namespace {
const char* const AsyncExecutingKey = "isExecuting";
const char* const AsyncFinishedKey = "isFinished";
} // namespace

LOMAsyncOperation::LOMAsyncOperation() = default;

LOMAsyncOperation::~LOMAsyncOperation() = default;

QString LOMAsyncOperation::className() const
{
    return QStringLiteral("LOMAsyncOperation");
}

QString LOMAsyncOperation::lockName() const
{
    return QStringLiteral("com.loomworks.%1-lock").arg(className());
}

bool LOMAsyncOperation::isAsynchronous() const
{
    return true;
}

bool LOMAsyncOperation::isExecuting() const
{
    std::lock_guard guard(mLock);
    return mInternalExecuting;
}

bool LOMAsyncOperation::isFinished() const
{
    std::lock_guard guard(mLock);
    return mInternalFinished;
}

void LOMAsyncOperation::start()
{
    if (checkForCancellation())
        return;
    markStarted();
    main();
}

void LOMAsyncOperation::setAsyncCompletion(FinishStep step)
{
    std::lock_guard guard(mCompletionMutex);
    mAsyncCompletion = std::move(step);
}

bool LOMAsyncOperation::checkForCancellation()
{
    if (!isCancelled())
        return false;
    markDone();
    return true;
}

void LOMAsyncOperation::markStarted()
{
    lock([this] { unlockedMarkStarted(); });
}

void LOMAsyncOperation::markDone()
{
    lock([this] {
        // An operation runs at most once: a second finish announces nothing.
        if (mInternalFinished)
            return;
        unlockedMarkComplete();
        unlockedMarkFinished();
    });
}

void LOMAsyncOperation::finishWithError(const Error& error)
{
    FinishStep step;
    {
        std::lock_guard guard(mCompletionMutex);
        // Taken out so that the block runs once even when finish is called twice.
        step = std::exchange(mAsyncCompletion, FinishStep());
    }
    if (step && !isFinished())
        step(error);
    markDone();
}

void LOMAsyncOperation::lock(const std::function<void()>& block)
{
    std::lock_guard guard(mLock);
    block();
}

void LOMAsyncOperation::changeValueForKey(const char* key, const std::function<void()>& block)
{
    willChangeValueForKey(key);
    block();
    didChangeValueForKey(key);
}

void LOMAsyncOperation::unlockedMarkStarted()
{
    changeValueForKey(AsyncExecutingKey, [this] { mInternalExecuting = true; });
}

void LOMAsyncOperation::unlockedMarkComplete()
{
    changeValueForKey(AsyncExecutingKey, [this] { mInternalExecuting = false; });
}

void LOMAsyncOperation::unlockedMarkFinished()
{
    changeValueForKey(AsyncFinishedKey, [this] { mInternalFinished = true; });
}

} // namespace corvex
