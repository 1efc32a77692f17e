#pragma once

#include "platform/core/Operation.h"

#include <functional>
#include <vector>

namespace corvex {

// An operation whose work is one or more blocks, run one after the other in the order they
// were added.
class BlockOperation : public Operation
{
public:
    BlockOperation();
    explicit BlockOperation(Task block);

    // Adding a block once the operation has started is an assertion failure and ignored.
    void addExecutionBlock(Task block);
    std::vector<Task> executionBlocks() const;

    void main() override;

private:
    mutable std::mutex mBlocksMutex;
    std::vector<Task> mBlocks;
};

} // namespace corvex
