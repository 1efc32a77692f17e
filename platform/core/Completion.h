#pragma once

#include "platform/core/CompletionCheck.h"
#include "platform/core/CompletionQueue.h"
#include "platform/core/UniqueFunction.h"

#include "platform/core/SourceLocation.h"
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>

namespace corvex {

// The answer to a request, given exactly once and never inside the call that took it.
//
// Made from a callable for a queue (the main queue unless the maker names another); calling
// it posts the callable with the arguments to that queue, so whoever answers may do so
// anywhere, even before returning, and the maker still hears on a later turn. It can only be
// moved, so one request has one answer. A second call is a programming error, as is letting
// an answer go unsaid: both go to CompletionCheck with the place the completion was made at.
// Where saying nothing is the answer (a panel cancelled), drop() says so.
//
// A completion made from nothing, or from an empty callable, wants no answer: calling it does
// nothing. Arguments are copied (or moved) into the posted call; references are not kept.
template <class... Args> class Completion
{
public:
    Completion() noexcept = default;
    Completion(std::nullptr_t) noexcept {}

    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, Completion> &&
             std::is_invocable_v<std::decay_t<F>&, Args...>)
        Completion(F&& body, SourceLocation made = SourceLocation::current())
        : Completion(CompletionQueue::main(), std::forward<F>(body), made)
    {}

    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, Completion> &&
             std::is_invocable_v<std::decay_t<F>&, Args...>)
        Completion(CompletionQueue queue, F&& body, SourceLocation made = SourceLocation::current())
        : mQueue(queue), mMade(made)
    {
        // A callable that wants to hear of its own faults (a test's recorded completion).
        if constexpr (requires(const std::decay_t<F>& held) { held.faultHook(); })
            mFaultHook = body.faultHook();
        mBody = UniqueFunction<void(Args...)>(std::forward<F>(body));
    }

    Completion(Completion&& other) noexcept
        : mBody(std::move(other.mBody)), mQueue(other.mQueue), mMade(other.mMade),
          mFaultHook(std::move(other.mFaultHook)), mAnswered(std::exchange(other.mAnswered, false))
    {}

    Completion& operator=(Completion&& other) noexcept
    {
        if (this != &other) {
            letGo();
            mBody = std::move(other.mBody);
            mQueue = other.mQueue;
            mMade = other.mMade;
            mFaultHook = std::move(other.mFaultHook);
            mAnswered = std::exchange(other.mAnswered, false);
        }
        return *this;
    }

    Completion(const Completion&) = delete;
    Completion& operator=(const Completion&) = delete;

    ~Completion() { letGo(); }

    // Whether an answer is still wanted.
    explicit operator bool() const noexcept { return static_cast<bool>(mBody); }

    // Answers: the body runs on the completion's queue in a later turn.
    void operator()(Args... args)
    {
        if (mAnswered) {
            fault(CompletionFault::AnsweredTwice);
            return;
        }
        mAnswered = true;
        if (!mBody)
            return;
        mQueue.post([body = std::move(mBody),
                     values = std::tuple<std::decay_t<Args>...>(std::forward<Args>(args)...)]() mutable {
            std::apply(body, std::move(values));
        });
    }

    // Gives no answer, on purpose: the request ended without one being wanted.
    void drop()
    {
        mAnswered = true;
        mBody = nullptr;
    }

    // Where the completion was made (for a log line).
    const SourceLocation& madeAt() const { return mMade; }
    // The queue it answers on: a request that reports on the way (progress) reports there too,
    // so that what it says before the answer is heard before it.
    const CompletionQueue& queue() const { return mQueue; }

private:
    void letGo()
    {
        if (mBody && !mAnswered)
            fault(CompletionFault::LetGoUnanswered);
        mBody = nullptr;
    }

    void fault(CompletionFault kind) const
    {
        if (mFaultHook)
            mFaultHook(kind, mMade);
        CompletionCheck::report(kind, mMade);
    }

    UniqueFunction<void(Args...)> mBody;
    CompletionQueue mQueue = CompletionQueue::main();
    SourceLocation mMade;
    std::function<void(CompletionFault, const SourceLocation&)> mFaultHook;
    bool mAnswered = false;
};

} // namespace corvex
