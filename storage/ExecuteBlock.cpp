#include "storage/ExecuteBlock.h"

#include "platform/core/MainQueue.h"

#include <cmath>

namespace corvex {

std::shared_ptr<ExecuteBlock> ExecuteBlock::create()
{
    return std::make_shared<ExecuteBlock>(Private());
}

void ExecuteBlock::executeBlock(Block block)
{
    if (mDone)
        return;
    mBlock = std::move(block);
    if (mBlock) {
        // A copy: the block may replace itself or call markDone() while it runs.
        const Block running = mBlock;
        running();
    }
}

bool ExecuteBlock::checkRepeatState() const
{
    return !mDone && static_cast<bool>(mBlock);
}

std::function<void()> ExecuteBlock::round()
{
    return [self = shared_from_this(), block = mBlock] {
        if (!self->mDone)
            block();
    };
}

void ExecuteBlock::repeatAsync()
{
    if (checkRepeatState())
        MainQueue::post(round());
}

void ExecuteBlock::repeatAsyncAfterDelay(double seconds)
{
    if (!checkRepeatState())
        return;
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    MainQueue::postAfter(seconds, round());
}

void ExecuteBlock::markDone()
{
    mDone = true;
    // Moved out first: releasing the block may release this object.
    Block released = std::move(mBlock);
    mBlock = nullptr;
}

} // namespace corvex
