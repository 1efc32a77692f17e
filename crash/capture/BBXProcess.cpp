// Crash-time file (except BBXProcessDebuggerAttached, run at set-up). Rules: no Qt; no
// allocation after installation; no locks; no stdio; only async-signal-safe calls; a pointer
// below 4096 is invalid.

#include "crash/capture/BBXProcess.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXSDKLog.h"
#include "crash/unwind/BBXUnwind.h"
#include "platform/core/QueueLabels.h"

#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace corvex {

namespace {

constexpr std::uint32_t BBXRecursionRepeatLimit = 10;

// "/proc/self/task/<id>/comm" into `out` (64 bytes are plenty).
void processCommPath(std::int32_t thread, char (&out)[64])
{
    const char prefix[] = "/proc/self/task/";
    std::memcpy(out, prefix, sizeof prefix - 1);
    char scratch[BBXFileNumberScratchSize];
    const std::size_t start = BBXFileFormatUInt64(scratch, static_cast<std::uint64_t>(thread), false);
    const std::size_t digits = BBXFileNumberScratchSize - 1 - start;
    std::memcpy(out + sizeof prefix - 1, scratch + start, digits);
    std::memcpy(out + sizeof prefix - 1 + digits, "/comm", 6);
}

// The number after `key` at the start of a line of `text`; false when there is none.
bool processFindNumber(const char* text, const char* key, std::uint64_t* out)
{
    const std::size_t keyLength = std::strlen(key);
    for (const char* line = text; line != nullptr && *line != '\0';) {
        if (std::strncmp(line, key, keyLength) == 0) {
            const char* c = line + keyLength;
            while (*c == ' ' || *c == '\t')
                ++c;
            if (*c < '0' || *c > '9')
                return false;
            std::uint64_t value = 0;
            for (; *c >= '0' && *c <= '9'; ++c)
                value = value * 10 + std::uint64_t(*c - '0');
            *out = value;
            return true;
        }
        line = std::strchr(line, '\n');
        if (line != nullptr)
            ++line;
    }
    return false;
}

void processRecordRegisters(BBXFile* file, const BBXThreadContext& registers)
{
    BBXFileWriteHashKey(file, "registers");
    BBXFileWriteHashStart(file);
    BBXFileWriteHashEntryUint64(file, "rax", registers.rax);
    BBXFileWriteHashEntryUint64(file, "rbx", registers.rbx);
    BBXFileWriteHashEntryUint64(file, "rcx", registers.rcx);
    BBXFileWriteHashEntryUint64(file, "rdx", registers.rdx);
    BBXFileWriteHashEntryUint64(file, "rdi", registers.rdi);
    BBXFileWriteHashEntryUint64(file, "rsi", registers.rsi);
    BBXFileWriteHashEntryUint64(file, "rbp", registers.rbp);
    BBXFileWriteHashEntryUint64(file, "rsp", registers.rsp);
    BBXFileWriteHashEntryUint64(file, "r8", registers.r8);
    BBXFileWriteHashEntryUint64(file, "r9", registers.r9);
    BBXFileWriteHashEntryUint64(file, "r10", registers.r10);
    BBXFileWriteHashEntryUint64(file, "r11", registers.r11);
    BBXFileWriteHashEntryUint64(file, "r12", registers.r12);
    BBXFileWriteHashEntryUint64(file, "r13", registers.r13);
    BBXFileWriteHashEntryUint64(file, "r14", registers.r14);
    BBXFileWriteHashEntryUint64(file, "r15", registers.r15);
    BBXFileWriteHashEntryUint64(file, "rip", registers.rip);
    BBXFileWriteHashEntryUint64(file, "rflags", registers.rflags);
    BBXFileWriteHashEntryUint64(file, "cs", registers.cs);
    BBXFileWriteHashEntryUint64(file, "fs", registers.fs);
    BBXFileWriteHashEntryUint64(file, "gs", registers.gs);
    BBXFileWriteHashEnd(file);
}

// The "stacktrace" array of one thread, with the recursion rule: once a PC repeats ten
// times it is written no more and the log is quieted while it repeats.
void processRecordStack(BBXFile* file, BBXUnwindContext* unwind, bool crashed)
{
    BBXSDKLogState* log = BBXSDKLogInstalledState();
    const std::uint32_t keptLevel = log ? log->minimumLevel : 0;
    std::uint64_t repeatedPC = 0;
    std::uint32_t repeatCount = 0;
    BBXFileWriteHashKey(file, "stacktrace");
    BBXFileWriteArrayStart(file);
    while (BBXUnwindNextFrame(unwind)) {
        const std::uint64_t pc = BBXUnwindGetPC(unwind);
        const std::uint32_t repeats = BBXUnwindGetRepeatCount(unwind);
        if (repeatedPC == 0 && repeats >= BBXRecursionRepeatLimit) {
            BBX_LOG_WARN("Possible infinite recursion - suppressing logging");
            if (log)
                log->minimumLevel = BBXSDKLogLevelWarn;
            repeatedPC = pc;
            repeatCount = repeats;
            continue;
        }
        if (repeatedPC != 0 && pc == repeatedPC) {
            repeatCount = repeats;
            continue;
        }
        if (repeatedPC != 0 && log)
            log->minimumLevel = keptLevel;
        BBXFileWriteArrayEntryUint64(file, pc);
    }
    BBXFileWriteArrayEnd(file);
    if (crashed)
        BBXFileWriteHashEntryBoolean(file, "crashed", true);
    if (repeatedPC != 0) {
        BBXFileWriteHashEntryUint64(file, "repeated_pc", repeatedPC);
        BBXFileWriteHashEntryUint64(file, "repeat_count", repeatCount);
    }
    if (log)
        log->minimumLevel = keptLevel;
}

bool processValidOutputs(const std::uint64_t* a, const std::uint64_t* b, const std::uint64_t* c,
                         const std::uint64_t* d)
{
    if (BBXIsValidPointer(a) && BBXIsValidPointer(b) && BBXIsValidPointer(c) && BBXIsValidPointer(d))
        return true;
    BBX_LOG_WARN("Invalid pointers");
    return false;
}

// One line of one text per thread, in list order; "" where the thread has none.
void processRecordTextPerThread(const BBXProcess* process, BBXFile* file, const char* section,
                                void (*text)(std::int32_t thread, char* out, std::size_t size))
{
    if (!BBXIsValidPointer(process))
        return;
    BBXFileWriteSectionStart(file, section);
    BBXFileWriteArrayStart(file);
    for (std::uint32_t i = 0; i < process->threadCount; ++i) {
        char value[QueueLabels::MaxLabelLength + 1] = {};
        text(process->threads[i], value, sizeof value);
        BBXFileWriteArrayEntryString(file, value);
    }
    BBXFileWriteArrayEnd(file);
    BBXFileWriteSectionEnd(file);
}

} // namespace

bool BBXProcessInit(BBXProcess* process, std::int32_t crashedThread, const ucontext_t* userContext)
{
    if (!BBXIsValidPointer(process))
        return false;
    process->currentThread = BBXCurrentThreadId();
    process->crashedThread = crashedThread;
    process->userContext = BBXIsValidPointer(userContext) ? userContext : nullptr;
    process->threadCount = BBXThreadCaptureListThreads(process->threads, BBXThreadCaptureMaxThreads);
    if (process->threadCount == 0) {
        BBX_LOG_WARN("Error: unable to get task threads");
        return false;
    }
    return true;
}

bool BBXProcessSuspendThreads(BBXProcess* process)
{
    if (!BBXIsValidPointer(process))
        return false;
    const std::uint32_t others = process->threadCount > 0 ? process->threadCount - 1 : 0;
    const std::uint32_t parked = BBXThreadCaptureSuspend(process->threads, process->threadCount);
    if (parked < others)
        BBX_LOG_WARN("%u of %u threads did not stop", others - parked, others);
    return parked == others;
}

bool BBXProcessResumeThreads(BBXProcess* process)
{
    if (!BBXIsValidPointer(process))
        return false;
    BBXThreadCaptureResume();
    return true;
}

bool BBXProcessGetThreadState(const BBXProcess* process, std::int32_t thread, BBXThreadContext* out)
{
    if (!BBXIsValidPointer(out)) {
        BBX_LOG_ERROR("invalid context supplied");
        return false;
    }
    if (!BBXIsValidPointer(process))
        return false;
    if (thread == process->crashedThread && process->userContext != nullptr)
        return BBXThreadContextFromUcontext(process->userContext, out);
    if (!BBXThreadCaptureGetRegisters(thread, out)) {
        BBX_LOG_ERROR("failed to get thread state");
        return false;
    }
    return true;
}

bool BBXProcessRecordAllThreads(const BBXProcess* process, BBXFile* file)
{
    if (!BBXIsValidPointer(process) || !BBXIsValidPointer(file))
        return false;
    // The current thread's own registers, taken in this frame so that the stack they describe
    // stays as it is while it is walked.
    BBXThreadContext current{};
    __asm__ volatile("leaq 0(%%rip), %0\n\tmovq %%rsp, %1\n\tmovq %%rbp, %2"
                     : "=r"(current.rip), "=r"(current.rsp), "=r"(current.rbp));
    BBXFileWriteSectionStart(file, "threads");
    BBXFileWriteArrayStart(file);
    BBXUnwindContext unwind;
    for (std::uint32_t i = 0; i < process->threadCount; ++i) {
        const std::int32_t thread = process->threads[i];
        BBX_LOG_INFO("recording thread %d data", static_cast<int>(i));
        const bool crashed = thread == process->crashedThread;
        BBXThreadContext registers{};
        bool known = false;
        if (thread == process->currentThread && !(crashed && process->userContext != nullptr)) {
            BBX_LOG_WARN("Faking current thread");
            registers = current;
            known = true;
        } else {
            known = BBXProcessGetThreadState(process, thread, &registers);
            if (!known)
                BBX_LOG_ERROR("unable to get thread state");
        }
        BBXFileWriteHashStart(file);
        if (known && BBXUnwindInitFromSignal(&unwind, &registers)) {
            processRecordRegisters(file, registers);
            processRecordStack(file, &unwind, crashed);
        } else {
            if (known)
                BBX_LOG_WARN("unable to init unwind context");
            BBXFileWriteHashKey(file, "stacktrace");
            BBXFileWriteArrayStart(file);
            BBXFileWriteArrayEnd(file);
            if (crashed)
                BBXFileWriteHashEntryBoolean(file, "crashed", true);
        }
        BBXFileWriteHashEnd(file);
    }
    BBXFileWriteArrayEnd(file);
    BBXFileWriteSectionEnd(file);
    BBX_LOG_INFO("completed recording all thread data");
    return true;
}

void BBXProcessRecordRuntimeInfo(const BBXProcess*, BBXFile* file)
{
    BBXFileWriteSectionStart(file, "runtime");
    BBXFileWriteHashStart(file);
    BBXFileWriteHashEntryString(file, "objc_selector", "");
    BBXFileWriteHashKey(file, "crash_info_entries");
    BBXFileWriteArrayStart(file);
    BBXFileWriteArrayEnd(file);
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
}

void BBXProcessRecordDispatchQueueNames(const BBXProcess* process, BBXFile* file)
{
    processRecordTextPerThread(
        process, file, "dispatch_queue_names",
        [](std::int32_t thread, char* out, std::size_t size) { QueueLabels::read(thread, out, size); });
}

void BBXProcessRecordThreadNames(const BBXProcess* process, BBXFile* file)
{
    processRecordTextPerThread(process, file, "thread_names",
                               [](std::int32_t thread, char* out, std::size_t size) {
                                   char path[64];
                                   processCommPath(thread, path);
                                   const std::size_t length = BBXProcessReadSmallFile(path, out, size);
                                   if (length > 0 && out[length - 1] == '\n')
                                       out[length - 1] = '\0';
                               });
}

void BBXProcessRecordStats(const BBXProcess*, BBXFile* file)
{
    std::uint64_t active = 0, inactive = 0, wired = 0, freeMemory = 0;
    if (!BBXProcessGetMemoryUsage(&active, &inactive, &wired, &freeMemory)) {
        BBX_LOG_WARN("Unable to get process memory usage");
        return;
    }
    std::uint64_t virtualSize = 0, residentSize = 0, userTime = 0, systemTime = 0;
    if (!BBXProcessGetInfo(&virtualSize, &residentSize, &userTime, &systemTime))
        BBX_LOG_WARN("Unable to get process stats");
    BBXFileWriteSectionStart(file, "process_stats");
    BBXFileWriteHashStart(file);
    BBXFileWriteHashEntryUint64(file, "active", active);
    BBXFileWriteHashEntryUint64(file, "inactive", inactive);
    BBXFileWriteHashEntryUint64(file, "wired", wired);
    BBXFileWriteHashEntryUint64(file, "freeMem", freeMemory);
    BBXFileWriteHashEntryUint64(file, "free_mem", freeMemory);
    BBXFileWriteHashEntryUint64(file, "virtual", virtualSize);
    BBXFileWriteHashEntryUint64(file, "resident", residentSize);
    BBXFileWriteHashEntryUint64(file, "user_time", userTime);
    BBXFileWriteHashEntryUint64(file, "sys_time", systemTime);
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
}

bool BBXProcessGetMemoryUsage(std::uint64_t* active, std::uint64_t* inactive, std::uint64_t* wired,
                              std::uint64_t* free)
{
    if (!processValidOutputs(active, inactive, wired, free))
        return false;
    char text[4096];
    if (BBXProcessReadSmallFile("/proc/meminfo", text, sizeof text) == 0) {
        BBX_LOG_WARN("Failed to get vm statistics");
        return false;
    }
    std::uint64_t kib[4] = {};
    if (!processFindNumber(text, "Active:", &kib[0]) || !processFindNumber(text, "Inactive:", &kib[1]) ||
        !processFindNumber(text, "Unevictable:", &kib[2]) || !processFindNumber(text, "MemFree:", &kib[3])) {
        BBX_LOG_WARN("Failed to get vm statistics");
        return false;
    }
    *active = kib[0] * 1024;
    *inactive = kib[1] * 1024;
    *wired = kib[2] * 1024;
    *free = kib[3] * 1024;
    return true;
}

bool BBXProcessGetInfo(std::uint64_t* virtualSize, std::uint64_t* residentSize, std::uint64_t* userTime,
                       std::uint64_t* systemTime)
{
    if (!processValidOutputs(virtualSize, residentSize, userTime, systemTime))
        return false;
    char text[256];
    rusage usage{};
    if (BBXProcessReadSmallFile("/proc/self/statm", text, sizeof text) == 0 ||
        getrusage(RUSAGE_SELF, &usage) != 0) {
        BBX_LOG_WARN("Failed to get task info");
        return false;
    }
    std::uint64_t pages[2] = {};
    const char* c = text;
    for (std::uint64_t& value : pages) {
        while (*c == ' ')
            ++c;
        for (; *c >= '0' && *c <= '9'; ++c)
            value = value * 10 + std::uint64_t(*c - '0');
    }
    *virtualSize = pages[0] * 4096;
    *residentSize = pages[1] * 4096;
    *userTime = std::uint64_t(usage.ru_utime.tv_sec) * 1000000u + std::uint64_t(usage.ru_utime.tv_usec);
    *systemTime = std::uint64_t(usage.ru_stime.tv_sec) * 1000000u + std::uint64_t(usage.ru_stime.tv_usec);
    return true;
}

bool BBXProcessDebuggerAttached()
{
    char text[4096];
    if (BBXProcessReadSmallFile("/proc/self/status", text, sizeof text) == 0)
        return false;
    std::uint64_t tracer = 0;
    return processFindNumber(text, "TracerPid:", &tracer) && tracer != 0;
}

std::size_t BBXProcessReadSmallFile(const char* path, char* buffer, std::size_t capacity)
{
    if (!BBXIsValidPointer(path) || !BBXIsValidPointer(buffer) || capacity == 0)
        return 0;
    buffer[0] = '\0';
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    std::size_t filled = 0;
    while (filled + 1 < capacity) {
        const ssize_t got = read(fd, buffer + filled, capacity - 1 - filled);
        if (got <= 0)
            break;
        filled += std::size_t(got);
    }
    close(fd);
    buffer[filled] = '\0';
    return filled;
}

} // namespace corvex
