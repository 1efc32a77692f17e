#pragma once

// Ordinary code that runs when the process is about to end: uncaught exceptions (the
// terminate handler) and exceptions the application object reports, recorded into
// "exception.bbxrecord" with the threads and process state (BBXHandler).

#include "crash/capture/BBXContext.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace corvex {

enum BBXExceptionType : int
{
    BBXExceptionTypePlatform = 1, // "objective-c": a platform Exception the application reported
    BBXExceptionTypeCpp = 2,
    BBXExceptionTypeJavaScript = 3,
    BBXExceptionTypeCustom = 4,
};

// One frame of a recorded exception as its caller gave it: the texts are written only when
// present (not null).
struct BBXExceptionFrame
{
    std::uint64_t pc = 0;
    QByteArray symbol;
    QByteArray library;
    QByteArray file;
    std::uint32_t line = 0;
    std::uint64_t offset = 0;
};

// "objective-c", "c++", "javascript", "custom", else "unknown".
const char* BBXExceptionTypeText(int type);
bool BBXExceptionTypeIsFatal(int type);

// Removes an old record, installs the terminate handler (keeping the previous one) and, when
// the user default "NSApplicationCrashOnExceptions" is true and the application object
// exists, takes over the application's report-exception function.
void BBXExceptionInitialize(BBXExceptionContext* context);
[[noreturn]] void BBXTerminateHandler();
// Records, then calls the function it replaced.
void BBXApplicationReportExceptionHook(const Exception& exception);
void BBXExceptionRecordPlatformException(const Exception& exception);
// The common entry. Fatal types: one "exception" line and the handler's sections, on the
// exception queue (run inline on the calling thread, which is recorded as the crashed one).
// `frames`: written as "frames", every field kept, when there is at least one.
void BBXExceptionRecord(int type, const QByteArray& name, const QByteArray& reason,
                        const BBXExceptionFrame* frames, std::size_t frameCount, bool notify);
// Writes the "exception" line.
void BBXExceptionWriteLine(BBXFile* file, int type, const QByteArray& name, const QByteArray& reason,
                           const BBXExceptionFrame* frames, std::size_t frameCount);
// Warnings after set-up about handlers that are no longer ours.
void BBXExceptionCheckHandlers();
QByteArray BBXExceptionDemangle(const char* typeName);

} // namespace corvex
