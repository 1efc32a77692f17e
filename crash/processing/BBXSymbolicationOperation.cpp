#include "crash/processing/BBXSymbolicationOperation.h"

#include "crash/processing/BBXSymbolResolver.h"

namespace corvex {

void BBXSymbolicationOperation::main()
{
    if (!mResolver)
        return;
    enumerateFramesWithBlock([this](BBXStackFrame& frame) { mResolver->updateStackFrame(frame); });
}

} // namespace corvex
