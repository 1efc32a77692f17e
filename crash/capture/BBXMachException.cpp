// Crash-time file (except BBXMachExceptionInit, run at set-up). Rules: no Qt; no allocation
// after installation; no locks; no stdio; only async-signal-safe calls; a pointer below 4096
// is invalid.

#include "crash/capture/BBXMachException.h"

#include "crash/capture/BBXContext.h"
#include "crash/capture/BBXHandler.h"
#include "crash/capture/BBXSignal.h"
#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXErrnoText.h"
#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXHost.h"
#include "crash/runtime/BBXHostSetup.h"
#include "crash/runtime/BBXMemory.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace corvex {

namespace {

constexpr std::uint32_t MachExcBadAccess = 1;
constexpr std::uint32_t MachExcBadInstruction = 2;
constexpr std::uint32_t MachExcArithmetic = 3;
constexpr std::uint32_t MachExcBreakpoint = 6;
constexpr std::uint32_t MachExcGuard = 12;

// The little-endian NDR record replies carry.
constexpr std::uint8_t MachNdrRecord[8] = {0, 0, 0, 0, 1, 0, 0, 0};

std::int32_t machRefuse(void*, std::uint32_t*)
{
    return BBXMachKernNotSupported;
}

const BBXMachPort gBBXMachSystemPort = {
    machRefuse, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::uint32_t machRead32(const std::uint8_t* bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

void machWrite32(std::uint8_t* bytes, std::size_t offset, std::uint32_t value)
{
    std::memcpy(bytes + offset, &value, sizeof value);
}

const char* const MachArithmeticCodes[] = {"EXC_I386_DIV",    "EXC_I386_INTO",     "EXC_I386_NOEXT",
                                           "EXC_I386_EXTOVR", "EXC_I386_EXTERR",   "EXC_I386_EMERR",
                                           "EXC_I386_BOUND",  "EXC_I386_SSEEXTERR"};

const char* machBreakpointCodeName(std::int64_t code)
{
    switch (code) {
    case 0:
        return "EXC_I386_DIVERR";
    case 1:
        return "EXC_I386_SGLSTP";
    case 2:
        return "EXC_I386_NMIFLT";
    case 3:
        return "EXC_I386_BPTFLT";
    case 4:
        return "EXC_I386_INTOFLT";
    case 5:
        return "EXC_I386_BOUNDFLT";
    case 6:
        return "EXC_I386_INVOPFLT";
    case 7:
        return "EXC_I386_NOEXTFLT";
    case 9:
        return "EXC_I386_EXTOVRFLT";
    case 10:
        return "EXC_I386_INVTSSFLT";
    case 11:
        return "EXC_I386_SEGNPFLT";
    case 12:
        return "EXC_I386_STKFLT";
    case 13:
        return "EXC_I386_GPFLT";
    case 14:
        return "EXC_I386_PGFLT";
    case 16:
        return "EXC_I386_EXTERRFLT";
    case 17:
        return "EXC_I386_ALIGNFLT";
    case 32:
        return "EXC_I386_ENOEXTFLT";
    case 33:
        return "EXC_I386_ENDPERR";
    default:
        return nullptr;
    }
}

void machServerBody(void* context)
{
    BBXMachExceptionServer(static_cast<BBXMachExceptionContext*>(context));
}

} // namespace

const BBXMachPort* BBXMachExceptionSystemPort()
{
    return &gBBXMachSystemPort;
}

std::uint32_t BBXMachExceptionMaskForSignal(int signal)
{
    switch (signal) {
    case SIGILL:
        return 4;
    case SIGTRAP:
        return 64;
    case SIGABRT:
    case SIGSYS:
        return 1024;
    case SIGFPE:
        return 8;
    case SIGBUS:
    case SIGSEGV:
        return 2;
    default:
        return 0;
    }
}

std::uint32_t BBXMachExceptionRegisteredMask(std::uint32_t osCode, std::uint32_t leaveAlone)
{
    return (osCode > 1069 ? 0x104Eu : 0x4Eu) & ~leaveAlone;
}

const char* BBXMachExceptionName(std::int32_t exception)
{
    switch (static_cast<std::uint32_t>(exception)) {
    case MachExcBadAccess:
        return "EXC_BAD_ACCESS";
    case MachExcBadInstruction:
        return "EXC_BAD_INSTRUCTION";
    case MachExcArithmetic:
        return "EXC_ARITHMETIC";
    case MachExcBreakpoint:
        return "EXC_BREAKPOINT";
    case MachExcGuard:
        return "EXC_GUARD";
    default:
        return nullptr;
    }
}

const char* BBXMachExceptionCodeName(std::int32_t exception, std::int64_t code)
{
    switch (static_cast<std::uint32_t>(exception)) {
    case MachExcBadAccess:
        return code == 1 ? "KERN_INVALID_ADDRESS" : code == 2 ? "KERN_PROTECTION_FAILURE" : nullptr;
    case MachExcBadInstruction:
        return "EXC_I386_INVOP";
    case MachExcArithmetic:
        return code >= 1 && code <= 8 ? MachArithmeticCodes[code - 1] : nullptr;
    case MachExcBreakpoint:
        return code >= 0 && code < 34 ? machBreakpointCodeName(code) : nullptr;
    default:
        return nullptr;
    }
}

bool BBXMachExceptionParseRequest(const std::uint8_t* bytes, std::size_t length, BBXMachExceptionRequest* out)
{
    if (!BBXIsValidPointer(bytes) || !BBXIsValidPointer(out) || length < BBXMachExceptionRequestSize)
        return false;
    // Header (24 bytes), body (4), thread and task port descriptors (12 each), NDR (8),
    // exception (4), code count (4), two 64-bit codes, trailer.
    out->bits = machRead32(bytes, 0);
    out->size = machRead32(bytes, 4);
    out->remotePort = machRead32(bytes, 8);
    out->localPort = machRead32(bytes, 12);
    out->voucherPort = machRead32(bytes, 16);
    out->identifier = static_cast<std::int32_t>(machRead32(bytes, 20));
    out->descriptorCount = machRead32(bytes, 24);
    out->thread = machRead32(bytes, 28);
    out->task = machRead32(bytes, 40);
    out->exception = static_cast<std::int32_t>(machRead32(bytes, 60));
    out->codeCount = machRead32(bytes, 64);
    if (out->codeCount > 2)
        out->codeCount = 2;
    std::memcpy(out->codes, bytes + 68, sizeof out->codes);
    return true;
}

void BBXMachExceptionBuildReply(const BBXMachExceptionRequest* request, std::int32_t returnCode,
                                std::uint8_t (&out)[BBXMachExceptionReplySize])
{
    std::memset(out, 0, sizeof out);
    if (!BBXIsValidPointer(request))
        return;
    machWrite32(out, 0, request->bits & 31u);
    machWrite32(out, 4, static_cast<std::uint32_t>(BBXMachExceptionReplySize));
    machWrite32(out, 8, request->remotePort);
    // Wraps as the kernel's 32-bit field does, also for the largest identifier.
    machWrite32(out, 20, static_cast<std::uint32_t>(request->identifier) + 100u);
    std::memcpy(out + 24, MachNdrRecord, sizeof MachNdrRecord);
    machWrite32(out, 32, static_cast<std::uint32_t>(returnCode));
}

void BBXMachExceptionInit(BBXMachExceptionContext* context, const BBXMachPort* port, std::uint32_t leaveAlone)
{
    if (!BBXIsValidPointer(context) || !BBXIsValidPointer(port))
        return;
    if (!BBXUnlinkIfExists(context->path))
        BBX_LOG_WARN("Unable to reset the mach exception file %s", BBXErrnoText(errno).text());
    context->port = port;
    std::uint32_t exceptionPort = 0;
    std::int32_t result = port->allocate(port->self, &exceptionPort);
    if (result != BBXMachKernSuccess) {
        BBX_LOG_WARN("Error: mach_port_allocate failed %d", result);
        BBX_LOG_WARN("Unable to register mach exception handler");
        return;
    }
    result = port->insertSendRight(port->self, exceptionPort);
    if (result != BBXMachKernSuccess) {
        BBX_LOG_WARN("Error: mach_port_insert_right failed %d", result);
        port->release(port->self, exceptionPort);
        BBX_LOG_WARN("Unable to register mach exception handler");
        return;
    }
    context->exceptionPort = exceptionPort;
    context->registeredMask = BBXMachExceptionRegisteredMask(BBXHostGetOSCode(), leaveAlone);
    result = port->swapExceptionPorts(port->self, context->registeredMask, exceptionPort,
                                      BBXMachExceptionBehavior, BBXMachExceptionFlavor, &context->previous);
    if (result != BBXMachKernSuccess) {
        BBX_LOG_WARN("Error: task_swap_exception_ports %d", result);
        BBX_LOG_WARN("Unable to register mach exception handler");
        return;
    }
    for (std::uint32_t i = 0; i < context->previous.count && i < BBXMachExceptionMaxPorts; ++i)
        BBX_LOG_WARN("original 0x%x 0x%x 0x%x 0x%x", context->previous.ports[i], context->previous.masks[i],
                     context->previous.behaviors[i], context->previous.flavors[i]);
    if (port->startServer(port->self, machServerBody, context) != BBXMachKernSuccess) {
        BBX_LOG_WARN("Unable to start thread");
        BBXMachExceptionUnregister(context);
    }
}

bool BBXMachExceptionUnregister(BBXMachExceptionContext* context)
{
    if (!BBXIsValidPointer(context) || !BBXIsValidPointer(context->port))
        return false;
    const BBXMachPort* port = context->port;
    std::uint32_t remaining = context->registeredMask;
    for (std::uint32_t i = 0; i < context->previous.count && i < BBXMachExceptionMaxPorts; ++i) {
        if (port->setExceptionPorts(port->self, context->previous.masks[i], context->previous.ports[i],
                                    context->previous.behaviors[i],
                                    context->previous.flavors[i]) != BBXMachKernSuccess)
            BBX_LOG_WARN("unable to restore original port: %d", context->previous.ports[i]);
        remaining &= ~context->previous.masks[i];
    }
    if (remaining != 0 && port->setExceptionPorts(port->self, remaining, 0, BBXMachExceptionBehavior,
                                                  BBXMachExceptionFlavor) != BBXMachKernSuccess) {
        BBX_LOG_WARN("unable to unset unregistered mask: 0x%x", remaining);
        return false;
    }
    return true;
}

bool BBXMachExceptionRecord(BBXMachExceptionContext* context, const BBXMachExceptionRequest* request)
{
    if (BBXContextMarkHandlingCrash()) {
        BBX_LOG_WARN("Error: aborting mach exception handler because crash has already occurred");
        BBXContextWaitForReport(BBXSignalSecondCrashWaitMilliseconds);
        _exit(1);
    }
    BBXFile file;
    if (!BBXFileInitWithPathMode(&file, context->path, true, false)) {
        BBX_LOG_WARN("Unable to open mach exception file");
        return false;
    }
    BBXFileWriteSectionStart(&file, "mach_exception");
    BBXFileWriteHashStart(&file);
    BBXFileWriteHashEntryUint64(&file, "exception", static_cast<std::uint32_t>(request->exception));
    BBXFileWriteHashKey(&file, "codes");
    BBXFileWriteArrayStart(&file);
    for (std::uint32_t i = 0; i < request->codeCount; ++i)
        BBXFileWriteArrayEntryUint64(&file, static_cast<std::uint64_t>(request->codes[i]));
    BBXFileWriteArrayEnd(&file);
    const std::int64_t firstCode = request->codeCount > 0 ? request->codes[0] : 0;
    BBXFileWriteHashEntryString(&file, "name", BBXMachExceptionName(request->exception));
    BBXFileWriteHashEntryString(&file, "code_name", BBXMachExceptionCodeName(request->exception, firstCode));
    BBXFileWriteHashEntryUint64(&file, "original_ports", context->previous.count);
    BBXFileWriteHashEntryUint64(&file, "time", static_cast<std::uint64_t>(time(nullptr)));
    BBXFileWriteHashEnd(&file);
    BBXFileWriteSectionEnd(&file);
    BBXHandler(&file, static_cast<std::int32_t>(request->thread), nullptr);
    BBXFileClose(&file);
    BBXContextMarkReportClosed();
    return true;
}

void BBXMachExceptionServer(BBXMachExceptionContext* context)
{
    if (!BBXIsValidPointer(context) || !BBXIsValidPointer(context->port))
        return;
    const BBXMachPort* port = context->port;
    while (true) {
        std::uint8_t buffer[BBXMachExceptionRequestSize] = {};
        std::int32_t result = port->receive(port->self, context->exceptionPort, buffer, sizeof buffer);
        BBXMachExceptionRequest request;
        if (result != BBXMachKernSuccess || !BBXMachExceptionParseRequest(buffer, sizeof buffer, &request)) {
            BBX_LOG_WARN("Error receving mach_msg (%d)", result);
            BBX_LOG_WARN("Mach exception server thread exiting");
            return;
        }
        BBX_LOG_WARN("Accepted mach exception message");
        BBX_LOG_WARN("Mach exception: 0x%x, count: %d, code: %p %p",
                     static_cast<std::uint32_t>(request.exception), static_cast<int>(request.codeCount),
                     request.codeCount > 0 ? static_cast<std::uint64_t>(request.codes[0]) : ~std::uint64_t(0),
                     request.codeCount > 1 ? static_cast<std::uint64_t>(request.codes[1])
                                           : ~std::uint64_t(0));
        std::int32_t returnCode = BBXMachKernFailure;
        const BBXReadOnlyContext* crashContext = BBXContextReadOnly();
        if (request.task != port->taskSelf(port->self)) {
            BBX_LOG_WARN("Mach exception task mis-match, returning failure");
        } else {
            BBX_LOG_WARN("Unregistering handler");
            if (!BBXMachExceptionUnregister(context)) {
                BBX_LOG_WARN("Failed to unregister");
            } else {
                BBX_LOG_WARN("Restoring original signal handlers");
                if (crashContext != nullptr &&
                    !BBXSignalSafeInstallPreexistingHandlers(&crashContext->signal)) {
                    BBX_LOG_WARN("Failed to restore signal handlers");
                } else {
                    BBX_LOG_WARN("Recording mach exception");
                    if (BBXMachExceptionRecord(context, &request))
                        returnCode = BBXMachKernSuccess;
                    else
                        BBX_LOG_WARN("Failed to record mach exception");
                }
            }
        }
        BBX_LOG_WARN("Sending exception reply");
        std::uint8_t reply[BBXMachExceptionReplySize];
        BBXMachExceptionBuildReply(&request, returnCode, reply);
        result = port->send(port->self, reply, sizeof reply);
        if (result != BBXMachKernSuccess) {
            BBX_LOG_WARN("mach_msg reply failed (%d)", result);
            BBX_LOG_WARN("Mach exception server thread exiting");
            return;
        }
        BBX_LOG_WARN("Exception reply delivered");
    }
}

} // namespace corvex
