#include "platform/core/BlockOperation.h"

#include "platform/core/Log.h"

namespace corvex {

BlockOperation::BlockOperation() = default;

BlockOperation::BlockOperation(Task block)
{
    if (block)
        mBlocks.push_back(std::move(block));
}

void BlockOperation::addExecutionBlock(Task block)
{
    if (isExecuting() || isFinished()) {
        Log::assertionFailure(QStringLiteral("block added to operation %1 after it started").arg(name()));
        return;
    }
    if (!block)
        return;
    std::lock_guard lock(mBlocksMutex);
    mBlocks.push_back(std::move(block));
}

std::vector<Operation::Task> BlockOperation::executionBlocks() const
{
    std::lock_guard lock(mBlocksMutex);
    return mBlocks;
}

void BlockOperation::main()
{
    std::vector<Task> blocks;
    {
        std::lock_guard lock(mBlocksMutex);
        blocks.swap(mBlocks);
    }
    for (const Task& block : blocks)
        block();
}

} // namespace corvex
