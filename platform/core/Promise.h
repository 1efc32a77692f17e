#pragma once

#include "platform/core/Error.h"

#include <QVariant>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvex {

class SerialQueue;
class Promise;
using PromisePtr = std::shared_ptr<Promise>;

// What a promise handler hands to the next promise of its chain: a value fulfils it, a
// rejection (the reason may be null) rejects it, and a promise is waited for and its outcome
// taken over.
class PromiseOutcome
{
public:
    // Fulfilled with a null value.
    PromiseOutcome() = default;
    static PromiseOutcome value(const QVariant& value);
    static PromiseOutcome rejection(const Error& reason = Error());
    static PromiseOutcome waitFor(const PromisePtr& promise);

private:
    friend class Promise;
    enum class Kind
    {
        Value,
        Rejection,
        Promise
    };
    Kind mKind = Kind::Value;
    QVariant mValue;
    Error mReason;
    PromisePtr mPromise;
};

// A value that arrives later, settled once: fulfilled with a value or rejected with a
// reason. Handlers chained with thenOn, then and thenOnMain run after it settled, each
// chaining call answering the promise of the handler's outcome. A success handler runs on
// fulfilment; a rejection skips every later success handler up to the first failure
// handler, whose outcome may fulfil the chain again.
//
// Ownership: a promise is shared state held strongly by whoever may still settle it or wait
// for it: a pending promise handed to a callback stays alive until that callback is gone,
// and the chain's promises live until their handlers have run.
//
// Threads: any thread may settle a promise or chain on it. A handler runs on its own
// context (a serial queue, the default global queue or the main queue), never inside the
// call that chained or settled it.
class Promise : public std::enable_shared_from_this<Promise>
{
public:
    using SuccessHandler = std::function<PromiseOutcome(const QVariant& value)>;
    using FailureHandler = std::function<PromiseOutcome(const Error& reason)>;
    using Context = std::function<void(std::function<void()> task)>;

    enum class State
    {
        Pending,
        Fulfilled,
        Rejected
    };

    // A pending promise.
    static PromisePtr create();
    // A promise already fulfilled with the value.
    static PromisePtr promiseWithResult(const QVariant& value);

    // Settling a promise that is already settled changes nothing (and is logged).
    void fulfillWithValue(const QVariant& value);
    void rejectWithReason(const Error& reason = Error());

    State state() const;
    QVariant value() const;
    Error reason() const;

    // The handlers on the queue (held until they ran); on the default global queue; on
    // the main queue. An empty success handler passes the value on; an empty failure
    // handler passes the rejection on.
    PromisePtr thenOn(const std::shared_ptr<SerialQueue>& queue, SuccessHandler onSuccess,
                      FailureHandler onFailure = {});
    PromisePtr then(SuccessHandler onSuccess, FailureHandler onFailure = {});
    PromisePtr thenOnMain(SuccessHandler onSuccess, FailureHandler onFailure = {});

    // Use create(); public only for std::make_shared.
    Promise() = default;
    Promise(const Promise&) = delete;
    Promise& operator=(const Promise&) = delete;

private:
    PromisePtr chain(Context context, SuccessHandler onSuccess, FailureHandler onFailure);
    // Runs the block inline once the promise has settled: at once when it has.
    void whenSettled(std::function<void()> block);
    void settle(State state, const QVariant& value, const Error& reason);
    // Settles this promise from a handler's outcome.
    void takeOutcome(const PromiseOutcome& outcome);

    mutable std::mutex mMutex;
    State mState = State::Pending;
    QVariant mValue;
    Error mReason;
    std::vector<std::function<void()>> mWaiting;
};

} // namespace corvex
