#pragma once

// Crash-time accessors (BBXContextIsInitialized, BBXContextMarkHandlingCrash and the context
// getters); BBXContextInitialize and BBXContextAppendPathComponent are ordinary code, run
// once at start-up. Rules for the crash-time part: no Qt; no allocation after installation;
// no locks; no stdio; only async-signal-safe calls; a pointer below 4096 is invalid.
//
// The process-wide crash context every capture path reads: the paths of the current
// report's record files, the saved handlers, the host facts, the kit log, the image table
// and the thread-capture block, all in the guarded allocator's regions. Once set-up is over
// the read-only part is made read-only.

#include "crash/capture/BBXMachException.h"
#include "crash/capture/BBXSignalTables.h"
#include "crash/capture/BBXThreadCapture.h"
#include "crash/capture/BBXUserLoggingStores.h"
#include "crash/runtime/BBXBinaryImages.h"
#include "crash/runtime/BBXHost.h"
#include "crash/runtime/BBXSDKLog.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <exception>

namespace corvex {

struct BBXAllocator;
class Exception;

// The application object's report-exception function (platform/core's ExceptionReporter).
using BBXReportExceptionFunction = void (*)(const Exception& exception);

// The synchronous crash callback: runs on the crashing thread after the others are let go.
using BBXCrashCallback = void (*)(void* target);

struct BBXContextInitParams
{
    const char* apiKey = nullptr;
    bool firstInstall = false;
    BBXCrashCallback crashCallback = nullptr; // none: no callback and no log line
    void* crashCallbackTarget = nullptr;
    const char* reportDirectory = nullptr;
    const char* reportIdentifier = nullptr;
    const char* installIdentifier = nullptr;
    const char* betaToken = nullptr;
    std::uint32_t machExceptionMask = 0; // the exceptions left to signals
    bool errorReportingEnabled = false;
    bool customExceptionsEnabled = false;
    std::uint32_t maxCustomExceptions = 0;
    std::uint32_t errorLogBufferSize = 0;
    std::uint32_t logBufferSize = 0;
    std::uint32_t maxCustomKeys = 0;
};

struct BBXSignalContext
{
    const char* path = nullptr; // "signal.bbxrecord"
    struct sigaction previous[BBXHandledSignalCount];
    bool hasPrevious[BBXHandledSignalCount] = {};
    stack_t previousStack{};
    bool hasPreviousStack = false;
};

struct BBXExceptionContext
{
    const char* path = nullptr; // "exception.bbxrecord"
    std::terminate_handler previousTerminate = nullptr;
    BBXReportExceptionFunction replacedReport = nullptr; // none: the hook is not installed
    std::uint32_t customExceptionLimit = 0;
};

constexpr std::size_t BBXContextSignalStackSize = 256 * 1024;

// Written only during set-up, then protected.
struct BBXReadOnlyContext
{
    std::atomic<bool> initialized{false};
    bool debuggerAttached = false;
    bool firstInstall = false;
    BBXCrashCallback crashCallback = nullptr;
    void* crashCallbackTarget = nullptr;
    const char* reportDirectory = nullptr;
    const char* sdkLogPath = nullptr;
    const char* metadataPath = nullptr;
    const char* binaryImagesPath = nullptr;
    void* signalStack = nullptr; // BBXContextSignalStackSize bytes, writable region
    BBXSignalContext signal;
    BBXExceptionContext exception;
    BBXMachExceptionContext mach;
    BBXUserLoggingStores logging;
    BBXHostContext host;
};

// Zeroed at creation; what the crash paths change.
struct BBXWritableContext
{
    BBXSDKLogState log;
    std::atomic<bool> crashOccurred{false};
    std::atomic<std::int32_t> crashingThread{0};
    std::atomic<bool> reportClosed{false};
    BBXBinaryImageState images;
    BBXUserLoggingState logging;
    BBXThreadCaptureBlock capture;
};

// Set-up, on the thread that will own the 256 KiB alternate stack (the main thread). False
// only for missing start-up data or report path; a second call answers true and changes
// nothing.
bool BBXContextInitialize(const BBXContextInitParams* params);
bool BBXContextIsInitialized();
// One atomic exchange: false when the context is not initialized or this is the first crash
// path (which is then marked, with the calling thread as the crashing one); true when a crash
// is already being handled.
bool BBXContextMarkHandlingCrash();
// The first crash path's report is complete: a second path waiting for it may go on.
void BBXContextMarkReportClosed();
// Waits (bounded by `milliseconds`) until the first crash path closed its report.
bool BBXContextWaitForReport(std::uint32_t milliseconds);

const BBXReadOnlyContext* BBXContextReadOnly();
BBXWritableContext* BBXContextWritable();
BBXAllocator* BBXContextAllocator();

// "<directory>/<name>" copied into the allocator's read-only region.
const char* BBXContextAppendPathComponent(const char* directory, const char* name);

} // namespace corvex
