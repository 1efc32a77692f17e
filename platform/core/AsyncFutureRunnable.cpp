#include "platform/core/AsyncFutureRunnable.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"

#include <utility>

namespace corvex {

namespace {

constexpr const char* kExecuteMethod = "-[AsyncFutureRunnable execute]";
constexpr const char* kWhenReadyMethod = "-[AsyncFutureRunnable whenReady:]";

} // namespace

AsyncFutureRunnable::AsyncFutureRunnable(Private, RunBlock block) : mRunBlock(std::move(block)) {}

AsyncFutureRunnable::~AsyncFutureRunnable() = default;

AsyncFutureRunnable::Ptr AsyncFutureRunnable::create(RunBlock block)
{
    return std::make_shared<AsyncFutureRunnable>(Private{}, std::move(block));
}

AsyncFutureRunnable::Ptr AsyncFutureRunnable::execute()
{
    {
        std::lock_guard lock(mMutex);
        if (!mCanExecute)
            Log::assertionFailure(ExecuteAssertionLine, kExecuteMethod);
        mCanExecute = false;
    }
    Ptr self = shared_from_this();
    MainQueue::post([self] {
        if (!self->isCanceled())
            self->run();
    });
    return self;
}

void AsyncFutureRunnable::run()
{
    RunBlock block;
    {
        std::lock_guard lock(mMutex);
        block = mRunBlock;
    }
    if (block)
        block(shared_from_this());
}

AsyncFutureRunnable::Ptr AsyncFutureRunnable::whenReady(WhenReadyBlock block)
{
    {
        std::lock_guard lock(mMutex);
        if (mWhenReady)
            Log::assertionFailure(WhenReadyAssertionLine, kWhenReadyMethod);
        mWhenReady = std::move(block);
    }
    return shared_from_this();
}

void AsyncFutureRunnable::postResponse()
{
    WhenReadyBlock block;
    {
        std::lock_guard lock(mMutex);
        block = mWhenReady;
    }
    // Outside the lock: the end block may cancel or retry the runnable from another thread.
    if (block)
        block();
}

void AsyncFutureRunnable::cancel()
{
    WhenReadyBlock dropped;
    std::lock_guard lock(mMutex);
    mCanceled = true;
    // Released after the lock: the block's captures may own this runnable.
    dropped = std::move(mWhenReady);
    mWhenReady = nullptr;
}

bool AsyncFutureRunnable::isCanceled() const
{
    std::lock_guard lock(mMutex);
    return mCanceled;
}

bool AsyncFutureRunnable::canExecute() const
{
    std::lock_guard lock(mMutex);
    return mCanExecute;
}

void AsyncFutureRunnable::markRetry()
{
    std::lock_guard lock(mMutex);
    mCanExecute = true;
}

} // namespace corvex
