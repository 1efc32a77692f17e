#include "crash/processing/BBXThreadArrayOperation.h"

namespace corvex {

void BBXThreadArrayOperation::enumerateFramesWithBlock(const std::function<void(BBXStackFrame& frame)>& block)
{
    if (!mThreads)
        return;
    for (BBXThread& thread : *mThreads) {
        for (BBXStackFrame& frame : thread) {
            block(frame);
            if (isCancelled())
                break;
        }
    }
}

} // namespace corvex
