#include "platform/core/Promise.h"

#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"

namespace corvex {

PromiseOutcome PromiseOutcome::value(const QVariant& value)
{
    PromiseOutcome outcome;
    outcome.mValue = value;
    return outcome;
}

PromiseOutcome PromiseOutcome::rejection(const Error& reason)
{
    PromiseOutcome outcome;
    outcome.mKind = Kind::Rejection;
    outcome.mReason = reason;
    return outcome;
}

PromiseOutcome PromiseOutcome::waitFor(const PromisePtr& promise)
{
    PromiseOutcome outcome;
    outcome.mKind = Kind::Promise;
    outcome.mPromise = promise;
    return outcome;
}

PromisePtr Promise::create()
{
    return std::make_shared<Promise>();
}

PromisePtr Promise::promiseWithResult(const QVariant& value)
{
    PromisePtr promise = create();
    promise->fulfillWithValue(value);
    return promise;
}

void Promise::fulfillWithValue(const QVariant& value)
{
    settle(State::Fulfilled, value, Error());
}

void Promise::rejectWithReason(const Error& reason)
{
    settle(State::Rejected, QVariant(), reason);
}

Promise::State Promise::state() const
{
    const std::lock_guard lock(mMutex);
    return mState;
}

QVariant Promise::value() const
{
    const std::lock_guard lock(mMutex);
    return mValue;
}

Error Promise::reason() const
{
    const std::lock_guard lock(mMutex);
    return mReason;
}

void Promise::settle(State state, const QVariant& value, const Error& reason)
{
    std::vector<std::function<void()>> waiting;
    {
        const std::lock_guard lock(mMutex);
        if (mState != State::Pending) {
            Log::warning(QStringLiteral("Promise: settled twice; the second outcome is ignored"));
            return;
        }
        mState = state;
        mValue = value;
        mReason = reason;
        waiting.swap(mWaiting);
    }
    // Outside the lock: a waiting block may chain on this promise again.
    for (auto& block : waiting)
        block();
}

void Promise::whenSettled(std::function<void()> block)
{
    {
        const std::lock_guard lock(mMutex);
        if (mState == State::Pending) {
            mWaiting.push_back(std::move(block));
            return;
        }
    }
    block();
}

void Promise::takeOutcome(const PromiseOutcome& outcome)
{
    switch (outcome.mKind) {
    case PromiseOutcome::Kind::Value:
        fulfillWithValue(outcome.mValue);
        return;
    case PromiseOutcome::Kind::Rejection:
        rejectWithReason(outcome.mReason);
        return;
    case PromiseOutcome::Kind::Promise:
        break;
    }
    const PromisePtr awaited = outcome.mPromise;
    if (!awaited) {
        // Nothing to wait for reads as a value that is not there.
        fulfillWithValue(QVariant());
        return;
    }
    PromisePtr self = shared_from_this();
    awaited->whenSettled([self, awaited] {
        if (awaited->state() == State::Fulfilled)
            self->fulfillWithValue(awaited->value());
        else
            self->rejectWithReason(awaited->reason());
    });
}

PromisePtr Promise::chain(Context context, SuccessHandler onSuccess, FailureHandler onFailure)
{
    PromisePtr next = create();
    PromisePtr self = shared_from_this();
    whenSettled([self, next, context = std::move(context), onSuccess = std::move(onSuccess),
                 onFailure = std::move(onFailure)]() mutable {
        const bool fulfilled = self->state() == State::Fulfilled;
        if (!fulfilled && !onFailure) {
            // No failure handler here: the rejection skips to the next one.
            next->rejectWithReason(self->reason());
            return;
        }
        context([self, next, fulfilled, onSuccess = std::move(onSuccess), onFailure = std::move(onFailure)] {
            if (fulfilled) {
                next->takeOutcome(onSuccess ? onSuccess(self->value())
                                            : PromiseOutcome::value(self->value()));
            } else {
                next->takeOutcome(onFailure(self->reason()));
            }
        });
    });
    return next;
}

PromisePtr Promise::thenOn(const std::shared_ptr<SerialQueue>& queue, SuccessHandler onSuccess,
                           FailureHandler onFailure)
{
    if (!queue) {
        Log::assertionFailure(QStringLiteral("Promise::thenOn without a queue"));
        return then(std::move(onSuccess), std::move(onFailure));
    }
    return chain([queue](std::function<void()> task) { queue->async(std::move(task)); }, std::move(onSuccess),
                 std::move(onFailure));
}

PromisePtr Promise::then(SuccessHandler onSuccess, FailureHandler onFailure)
{
    return chain([](std::function<void()> task) { GlobalQueue::async(std::move(task)); },
                 std::move(onSuccess), std::move(onFailure));
}

PromisePtr Promise::thenOnMain(SuccessHandler onSuccess, FailureHandler onFailure)
{
    return chain([](std::function<void()> task) { MainQueue::post(std::move(task)); }, std::move(onSuccess),
                 std::move(onFailure));
}

} // namespace corvex
