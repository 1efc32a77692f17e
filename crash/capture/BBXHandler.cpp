// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/capture/BBXHandler.h"

#include "crash/capture/BBXContext.h"
#include "crash/capture/BBXProcess.h"
#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXFile.h"

namespace corvex {

void BBXHandler(BBXFile* file, std::int32_t crashedThread, const ucontext_t* userContext)
{
    if (!BBXFileIsOpen(file))
        return;
    BBXProcess process;
    BBXProcessInit(&process, crashedThread, userContext);
    BBXProcessSuspendThreads(&process);
    BBXProcessRecordAllThreads(&process, file);
    BBXProcessRecordRuntimeInfo(&process, file);
    BBXProcessRecordDispatchQueueNames(&process, file);
    BBXProcessRecordThreadNames(&process, file);
    BBXProcessRecordStats(&process, file);
    const BBXReadOnlyContext* context = BBXContextReadOnly();
    BBXHostRecordDiskSpace(file, context != nullptr ? &context->host : nullptr);
    BBXProcessResumeThreads(&process);
    if (context != nullptr && context->crashCallback != nullptr) {
        BBX_LOG_WARN("Performing syncrhonous crash callback - hold onto your butts");
        context->crashCallback(context->crashCallbackTarget);
    }
}

} // namespace corvex
