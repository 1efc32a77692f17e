#pragma once

#include "crash/processing/BBXStackFrame.h"
#include "platform/core/Operation.h"

#include <functional>
#include <memory>

namespace corvex {

// An operation over the threads of one crash file, shared by the steps that fill, demangle
// and write its frames; the caller runs each synchronously with start().
class BBXThreadArrayOperation : public Operation
{
public:
    explicit BBXThreadArrayOperation(std::shared_ptr<BBXThreadArray> threads) : mThreads(std::move(threads))
    {}
    const std::shared_ptr<BBXThreadArray>& threadArray() const { return mThreads; }
    // Threads in order, frames in order; once cancelled, the rest of a thread is skipped.
    void enumerateFramesWithBlock(const std::function<void(BBXStackFrame& frame)>& block);

private:
    std::shared_ptr<BBXThreadArray> mThreads;
};

} // namespace corvex
