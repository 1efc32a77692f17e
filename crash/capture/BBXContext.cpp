// Crash-time accessors (BBXContextIsInitialized, BBXContextMarkHandlingCrash, the report
// flags and the getters); BBXContextInitialize and BBXContextAppendPathComponent are ordinary
// code, run once at start-up.

#include "crash/capture/BBXContext.h"

#include "crash/capture/BBXException.h"
#include "crash/capture/BBXMachException.h"
#include "crash/capture/BBXMetadata.h"
#include "crash/capture/BBXProcess.h"
#include "crash/capture/BBXSignal.h"
#include "crash/capture/BBXThreadStacks.h"
#include "crash/capture/BBXUserLogging.h"
#include "crash/runtime/BBXAllocator.h"
#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXHostSetup.h"
#include "crash/runtime/BBXMemory.h"
#include "crash/runtime/BBXWebView.h"
#include "platform/core/Log.h"
#include "platform/core/SerialQueue.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

namespace corvex {

namespace {

std::atomic<BBXReadOnlyContext*> gBBXReadOnlyContext{nullptr};
std::atomic<BBXWritableContext*> gBBXWritableContext{nullptr};
std::atomic<BBXAllocator*> gBBXContextAllocator{nullptr};

// The runtime's queues live as long as the process.
SerialQueue& contextBinaryImagesQueue()
{
    static SerialQueue* queue = new SerialQueue("com.loomworks.blackbox.mac.binary-images");
    return *queue;
}

// Room for the contexts and the copied paths; the 16-byte rounding of every allocation
// included.
constexpr std::size_t BBXContextPathRoom = 24 * 4096;

// How long set-up waits for the threads asked to take an alternate stack.
constexpr std::uint32_t BBXContextStackWaitMilliseconds = 200;

void contextSetUpUserLogging(BBXReadOnlyContext* context, const BBXContextInitParams* params)
{
    BBXWritableContext* writable = gBBXWritableContext.load();
    const char* directory = params->reportDirectory;
    BBXUserLoggingStores& stores = context->logging;
    stores.logBufferSize = params->logBufferSize;
    stores.log.pathA = BBXContextAppendPathComponent(directory, "log_a.bbxrecord");
    stores.log.pathB = BBXContextAppendPathComponent(directory, "log_b.bbxrecord");
    stores.log.maxSize = params->logBufferSize;
    stores.log.restrictedBySize = true;
    stores.errors.pathA = BBXContextAppendPathComponent(directory, "errors_a.bbxrecord");
    stores.errors.pathB = BBXContextAppendPathComponent(directory, "errors_b.bbxrecord");
    stores.errors.maxEntries = params->errorReportingEnabled ? params->maxCustomExceptions : 0;
    stores.errors.entryCounter = &writable->logging.errorCount;
    stores.customExceptions.pathA = BBXContextAppendPathComponent(directory, "custom_exception_a.bbxrecord");
    stores.customExceptions.pathB = BBXContextAppendPathComponent(directory, "custom_exception_b.bbxrecord");
    // The store keeps what the exception recorder may write: nothing while they are off.
    stores.customExceptions.maxEntries = params->customExceptionsEnabled ? params->maxCustomExceptions : 0;
    stores.customExceptions.entryCounter = &writable->logging.customExceptionCount;
    stores.userKV.incrementalPath = BBXContextAppendPathComponent(directory, "user_incremental_kv.bbxrecord");
    stores.userKV.compactedPath = BBXContextAppendPathComponent(directory, "user_compacted_kv.bbxrecord");
    stores.userKV.maxEntries = params->maxCustomKeys;
    stores.internalKV.incrementalPath =
        BBXContextAppendPathComponent(directory, "internal_incremental_kv.bbxrecord");
    stores.internalKV.compactedPath =
        BBXContextAppendPathComponent(directory, "internal_compacted_kv.bbxrecord");
    stores.internalKV.maxEntries = 32;
}

} // namespace

const char* BBXContextAppendPathComponent(const char* directory, const char* name)
{
    if (!BBXIsValidPointer(directory) || !BBXIsValidPointer(name))
        return nullptr;
    const std::size_t directoryLength = std::strlen(directory);
    const std::size_t nameLength = std::strlen(name);
    char* path = static_cast<char*>(BBXAllocatorSafeAllocate(
        gBBXContextAllocator.load(), directoryLength + nameLength + 2, BBXAllocationReadOnly));
    if (path == nullptr)
        return nullptr;
    std::memcpy(path, directory, directoryLength);
    path[directoryLength] = '/';
    std::memcpy(path + directoryLength + 1, name, nameLength + 1);
    return path;
}

bool BBXContextInitialize(const BBXContextInitParams* params)
{
    if (gBBXReadOnlyContext.load() != nullptr)
        return true;
    BBXAllocator* allocator =
        BBXAllocatorCreate(BBXContextSignalStackSize + sizeof(BBXWritableContext) + 4096,
                           sizeof(BBXReadOnlyContext) + BBXContextPathRoom);
    gBBXContextAllocator.store(allocator);
    auto* context =
        new (BBXAllocatorSafeAllocate(allocator, sizeof(BBXReadOnlyContext), BBXAllocationReadOnly))
            BBXReadOnlyContext;
    context->signalStack =
        BBXAllocatorSafeAllocate(allocator, BBXContextSignalStackSize, BBXAllocationWritable);
    auto* writable =
        new (BBXAllocatorSafeAllocate(allocator, sizeof(BBXWritableContext), BBXAllocationWritable))
            BBXWritableContext;
    std::memset(context->signalStack, 0, BBXContextSignalStackSize);
    gBBXWritableContext.store(writable);
    gBBXReadOnlyContext.store(context);
    std::atomic_thread_fence(std::memory_order_seq_cst);

    if (!BBXIsValidPointer(params) || !BBXIsValidPointer(params->reportDirectory))
        return false;
    context->reportDirectory = BBXDuplicateString(allocator, params->reportDirectory);
    context->sdkLogPath = BBXContextAppendPathComponent(params->reportDirectory, "sdk.log");
    if (!BBXUnlinkIfExists(context->sdkLogPath))
        Log::warning(QStringLiteral("[Blackbox:Crash] Unable to write initialize SDK write paths %1")
                         .arg(QString::fromUtf8(::strerrordesc_np(errno))));
    writable->log.path = context->sdkLogPath;
    BBXSDKLogInstall(&writable->log);

    context->debuggerAttached = BBXProcessDebuggerAttached();
    context->crashCallback = params->crashCallback;
    context->crashCallbackTarget = params->crashCallbackTarget;
    context->firstInstall = params->firstInstall;

    BBXHostSetup(&context->host);
    context->binaryImagesPath =
        BBXContextAppendPathComponent(params->reportDirectory, "binary_images.bbxrecord");
    BBXBinaryImageInit(&writable->images, context->binaryImagesPath, &contextBinaryImagesQueue());
    if (!context->debuggerAttached) {
        BBXThreadCaptureInstall(&writable->capture);
        context->signal.path = BBXContextAppendPathComponent(params->reportDirectory, "signal.bbxrecord");
        BBXSignalInitialize(&context->signal, context->signalStack, BBXContextSignalStackSize);
        if (const std::uint32_t given = BBXThreadStacksGive(BBXContextStackWaitMilliseconds))
            BBX_LOG_INFO("Gave %u threads an alternate signal stack", given);
        context->mach.path =
            BBXContextAppendPathComponent(params->reportDirectory, "mach_exception.bbxrecord");
        BBXMachExceptionInit(&context->mach, BBXMachExceptionSystemPort(), params->machExceptionMask);
        context->exception.path =
            BBXContextAppendPathComponent(params->reportDirectory, "exception.bbxrecord");
        context->exception.customExceptionLimit =
            params->customExceptionsEnabled ? params->maxCustomExceptions : 0;
        BBXExceptionInitialize(&context->exception);
    } else {
        BBX_LOG_WARN("Debugger present - not installing handlers");
    }

    contextSetUpUserLogging(context, params);
    context->metadataPath = BBXContextAppendPathComponent(params->reportDirectory, "metadata.bbxrecord");
    BBXContextRecordMetadata(context->metadataPath, params, &context->host);
    BBXWKWebViewSetExceptionRecorder([](int type, const QByteArray& name, const QByteArray& reason) {
        BBXExceptionRecord(type, name, reason, nullptr, 0, false);
        return BBXContextIsInitialized();
    });

    context->initialized.store(true, std::memory_order_seq_cst);
    BBXUserLoggingInit(&context->logging, &writable->logging);
    if (!BBXAllocatorProtect(allocator))
        BBX_LOG_WARN("Error: Memory protection failed");
    return true;
}

bool BBXContextIsInitialized()
{
    std::atomic_thread_fence(std::memory_order_seq_cst);
    const BBXReadOnlyContext* context = gBBXReadOnlyContext.load(std::memory_order_acquire);
    return context != nullptr && context->initialized.load(std::memory_order_seq_cst);
}

bool BBXContextMarkHandlingCrash()
{
    BBXWritableContext* writable = gBBXWritableContext.load(std::memory_order_acquire);
    if (!BBXContextIsInitialized() || writable == nullptr)
        return false;
    if (writable->crashOccurred.exchange(true, std::memory_order_seq_cst))
        return true;
    writable->crashingThread.store(BBXCurrentThreadId(), std::memory_order_release);
    return false;
}

void BBXContextMarkReportClosed()
{
    BBXWritableContext* writable = gBBXWritableContext.load(std::memory_order_acquire);
    if (writable != nullptr)
        writable->reportClosed.store(true, std::memory_order_release);
}

bool BBXContextWaitForReport(std::uint32_t milliseconds)
{
    BBXWritableContext* writable = gBBXWritableContext.load(std::memory_order_acquire);
    if (writable == nullptr)
        return false;
    for (std::uint32_t waited = 0; waited < milliseconds; ++waited) {
        if (writable->reportClosed.load(std::memory_order_acquire))
            return true;
        timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
    return writable->reportClosed.load(std::memory_order_acquire);
}

const BBXReadOnlyContext* BBXContextReadOnly()
{
    return gBBXReadOnlyContext.load(std::memory_order_acquire);
}

BBXWritableContext* BBXContextWritable()
{
    return gBBXWritableContext.load(std::memory_order_acquire);
}

BBXAllocator* BBXContextAllocator()
{
    return gBBXContextAllocator.load(std::memory_order_acquire);
}

} // namespace corvex
