// Ordinary code that runs when the process is about to end (the terminate handler) or when
// the application reports an exception.

#include "crash/capture/BBXException.h"

#include "crash/capture/BBXHandler.h"
#include "crash/capture/BBXUserLogging.h"
#include "crash/runtime/BBXApplication.h"
#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXMemory.h"
#include "platform/core/Error.h"
#include "platform/core/ExceptionReporter.h"
#include "platform/core/Log.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/UserDefaults.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cxxabi.h>
#include <new>
#include <string>
#include <typeinfo>

namespace corvex {

namespace {

SerialQueue& exceptionQueue()
{
    static SerialQueue* queue = new SerialQueue("com.loomworks.blackbox.mac.exception");
    return *queue;
}

void exceptionRecordCpp(const QByteArray& name, const QByteArray& reason)
{
    BBXExceptionRecord(BBXExceptionTypeCpp, name, reason, nullptr, 0, true);
}

void exceptionCatchAndRecordActive()
{
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type == nullptr) {
        BBX_LOG_WARN("no active exception");
        return;
    }
    BBX_LOG_WARN("Recording exception of type '%s'", type->name());
    try {
        throw;
    } catch (const Exception&) {
        // The application object reports these through its report-exception function.
        BBX_LOG_WARN("Skipping ObjC exception at this point");
    } catch (const char* text) {
        exceptionRecordCpp("const char *", text);
    } catch (const std::string& text) {
        exceptionRecordCpp("std::string", QByteArray(text.data(), qsizetype(text.size())));
    } catch (const std::bad_alloc& error) {
        exceptionRecordCpp("std::bad_alloc", error.what());
    } catch (const std::exception& error) {
        exceptionRecordCpp(BBXExceptionDemangle(typeid(error).name()), error.what());
    } catch (const std::exception* error) {
        if (error != nullptr)
            exceptionRecordCpp(BBXExceptionDemangle(typeid(*error).name()), error->what());
        else
            exceptionRecordCpp(BBXExceptionDemangle(type->name()), QByteArray());
    } catch (...) {
        exceptionRecordCpp(BBXExceptionDemangle(type->name()), QByteArray());
    }
}

} // namespace

const char* BBXExceptionTypeText(int type)
{
    switch (type) {
    case BBXExceptionTypePlatform:
        return "objective-c";
    case BBXExceptionTypeCpp:
        return "c++";
    case BBXExceptionTypeJavaScript:
        return "javascript";
    case BBXExceptionTypeCustom:
        return "custom";
    default:
        return "unknown";
    }
}

bool BBXExceptionTypeIsFatal(int type)
{
    return type == BBXExceptionTypePlatform || type == BBXExceptionTypeCpp;
}

QByteArray BBXExceptionDemangle(const char* typeName)
{
    if (typeName == nullptr)
        return QByteArray();
    int status = 0;
    char* demangled = abi::__cxa_demangle(typeName, nullptr, nullptr, &status);
    const QByteArray result =
        (status == 0 && demangled != nullptr) ? QByteArray(demangled) : QByteArray(typeName);
    std::free(demangled);
    return result;
}

void BBXExceptionInitialize(BBXExceptionContext* context)
{
    if (!BBXIsValidPointer(context))
        return;
    if (!BBXUnlinkIfExists(context->path))
        BBX_LOG_WARN("Unable to reset the exception file %s", ::strerrordesc_np(errno));
    context->previousTerminate = std::set_terminate(BBXTerminateHandler);
    if (BBXApplicationSharedApplication() != nullptr &&
        UserDefaults::standardUserDefaults().boolForKey(ExceptionReporter::crashOnExceptionsKey()))
        context->replacedReport = ExceptionReporter::swap(BBXApplicationReportExceptionHook);
}

void BBXTerminateHandler()
{
    BBX_LOG_WARN("C++ terminate handler invoked");
    const BBXReadOnlyContext* context = BBXContextReadOnly();
    const std::terminate_handler previous = context ? context->exception.previousTerminate : nullptr;
    bool chain = false;
    if (previous == BBXTerminateHandler) {
        BBX_LOG_WARN("Error: original handler was set recursively");
    } else if (previous != nullptr) {
        BBX_LOG_WARN("restoring pre-existing handler");
        if (std::set_terminate(previous) == previous) {
            BBX_LOG_WARN("handler has already been restored, aborting");
            std::abort();
        }
        chain = true;
    }
    exceptionCatchAndRecordActive();
    if (chain) {
        BBX_LOG_WARN("invoking pre-existing handler");
        previous();
    }
    BBX_LOG_WARN("aborting");
    std::abort();
}

void BBXApplicationReportExceptionHook(const Exception& exception)
{
    BBXExceptionRecordPlatformException(exception);
    const BBXReadOnlyContext* context = BBXContextReadOnly();
    if (context != nullptr && context->exception.replacedReport != nullptr)
        context->exception.replacedReport(exception);
}

void BBXExceptionRecordPlatformException(const Exception& exception)
{
    BBX_LOG_WARN("Recording an NSException");
    BBXExceptionRecord(BBXExceptionTypePlatform, exception.name().toUtf8(), exception.reason().toUtf8(),
                       nullptr, 0, true);
}

void BBXExceptionWriteLine(BBXFile* file, int type, const QByteArray& name, const QByteArray& reason,
                           const BBXExceptionFrame* frames, std::size_t frameCount)
{
    BBXFileWriteSectionStart(file, "exception");
    BBXFileWriteHashStart(file);
    BBXFileWriteHashEntryString(file, "type", BBXExceptionTypeText(type));
    BBXFileWriteHashEntryHexEncodedString(file, "name", name.isNull() ? nullptr : name.constData());
    BBXFileWriteHashEntryHexEncodedString(file, "reason", reason.isNull() ? nullptr : reason.constData());
    BBXFileWriteHashEntryUint64(file, "time", static_cast<std::uint64_t>(time(nullptr)));
    if (frames != nullptr && frameCount > 0) {
        BBXFileWriteHashKey(file, "frames");
        BBXFileWriteArrayStart(file);
        const auto writeText = [file](const char* key, const QByteArray& text) {
            if (!text.isNull())
                BBXFileWriteHashEntryHexEncodedString(file, key, text.constData());
        };
        for (std::size_t i = 0; i < frameCount; ++i) {
            const BBXExceptionFrame& frame = frames[i];
            BBXFileWriteHashStart(file);
            BBXFileWriteHashEntryUint64(file, "pc", frame.pc);
            writeText("symbol", frame.symbol);
            BBXFileWriteHashEntryUint64(file, "offset", frame.offset);
            writeText("library", frame.library);
            writeText("file", frame.file);
            BBXFileWriteHashEntryUint64(file, "line", frame.line);
            BBXFileWriteHashEnd(file);
        }
        BBXFileWriteArrayEnd(file);
    }
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
}

void BBXExceptionRecord(int type, const QByteArray& name, const QByteArray& reason,
                        const BBXExceptionFrame* frames, std::size_t frameCount, bool notify)
{
    if (!BBXContextIsInitialized())
        return;
    const bool fatal = BBXExceptionTypeIsFatal(type);
    BBX_LOG_WARN("Recording an exception structure (%d, %d)", notify ? 1 : 0, fatal ? 1 : 0);
    if (!fatal) {
        const BBXUserLoggingStores* stores = BBXUserLoggingInstalledStores();
        BBXUserLoggingState* state = BBXUserLoggingInstalledState();
        if (stores != nullptr && state != nullptr)
            BBXUserLoggingWriteAndCheckABFiles(
                &stores->customExceptions, &state->currentCustomExceptions,
                [&](BBXFile* file) { BBXExceptionWriteLine(file, type, name, reason, frames, frameCount); });
    } else {
        const BBXReadOnlyContext* context = BBXContextReadOnly();
        exceptionQueue().sync([&] {
            BBXFile file;
            if (context == nullptr || !BBXFileInitWithPathMode(&file, context->exception.path, true, false)) {
                BBX_LOG_WARN("Unable to open exception file");
                return;
            }
            BBXExceptionWriteLine(&file, type, name, reason, frames, frameCount);
            BBXHandler(&file, BBXCurrentThreadId(), nullptr);
            BBXFileClose(&file);
        });
    }
    BBX_LOG_WARN("Finished recording an exception structure");
}

void BBXExceptionCheckHandlers()
{
    const BBXReadOnlyContext* context = BBXContextReadOnly();
    if (context == nullptr)
        return;
    const bool crashOnExceptions =
        UserDefaults::standardUserDefaults().boolForKey(ExceptionReporter::crashOnExceptionsKey());
    if (BBXApplicationSharedApplication() != nullptr && !crashOnExceptions)
        Log::warning(
            QStringLiteral("[Blackbox:Crash] Warning: NSApplicationCrashOnExceptions is not set. This will "
                           "result in poor top-level uncaught exception reporting."));
    if (context->debuggerAttached)
        return;
    const std::terminate_handler current = std::get_terminate();
    if (current != BBXTerminateHandler) {
        BBXDladdrSymbolLookup(
            reinterpret_cast<std::uint64_t>(current), [](const char* symbol, const char* path) {
                Log::warning(QStringLiteral("[Blackbox:Crash] Warning: std::get_terminate is '%1' in '%2'")
                                 .arg(QString::fromUtf8(symbol ? symbol : "(null)"),
                                      QString::fromUtf8(path ? path : "(null)")));
            });
    }
    if (BBXApplicationSharedApplication() != nullptr && crashOnExceptions &&
        ExceptionReporter::current() != BBXApplicationReportExceptionHook)
        Log::warning(QStringLiteral(
            "[Blackbox:Crash] Warning: top-level NSApplication-reported exceptions cannot be intercepted"));
}

} // namespace corvex
