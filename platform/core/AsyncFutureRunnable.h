#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace corvex {

// A one-shot unit of work: execute runs the work block on the main queue, in a later turn,
// unless the runnable is cancelled before that turn comes; the work calls postResponse when
// it is over, which calls the end block set with whenReady. cancel silences the runnable for
// good: a pending run never starts and the end block is dropped. markRetry makes a runnable
// that was executed executable again.
//
// Misuse is logged, not refused: execute on a runnable that is not executable logs
// "ERROR: Assertion failure, line: 080 -[AsyncFutureRunnable execute]" and still dispatches
// the work again; a second whenReady logs the line 073 form and replaces the first block.
//
// The flags are guarded by the runnable's own lock, so any thread may execute, cancel or
// ask; the work block always runs on the main thread, and the end block on the thread that
// calls postResponse. A dispatched run keeps the runnable alive until it has run. Use
// create().
class AsyncFutureRunnable : public std::enable_shared_from_this<AsyncFutureRunnable>
{
public:
    using Ptr = std::shared_ptr<AsyncFutureRunnable>;
    using RunBlock = std::function<void(const Ptr& runnable)>;
    using WhenReadyBlock = std::function<void()>;

    static constexpr int ExecuteAssertionLine = 80;
    static constexpr int WhenReadyAssertionLine = 73;

    // Executable, holding the work block.
    static Ptr create(RunBlock block);

    AsyncFutureRunnable(const AsyncFutureRunnable&) = delete;
    AsyncFutureRunnable& operator=(const AsyncFutureRunnable&) = delete;
    ~AsyncFutureRunnable();

    // Clears the executable flag and posts the run to the main queue; returns the runnable.
    Ptr execute();
    // Calls the work block with the runnable, now.
    void run();
    // Stores the end block in place of any other; returns the runnable.
    Ptr whenReady(WhenReadyBlock block);
    // Calls the end block, if there is one.
    void postResponse();
    void cancel();
    bool isCanceled() const;
    bool canExecute() const;
    void markRetry();

private:
    struct Private
    {};

public:
    // Use create(); public only for std::make_shared.
    AsyncFutureRunnable(Private, RunBlock block);

private:
    mutable std::recursive_mutex mMutex;
    RunBlock mRunBlock;
    WhenReadyBlock mWhenReady;
    bool mCanExecute = true;
    bool mCanceled = false;
};

} // namespace corvex
