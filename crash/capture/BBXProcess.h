#pragma once

// Crash-time file (except BBXProcessDebuggerAttached, run at set-up). Rules: no Qt; no
// allocation after installation; no locks; no stdio; only async-signal-safe calls; a pointer
// below 4096 is invalid.
//
// The state of every thread and of the process, written into the open crash record: the
// "threads", "runtime", "dispatch_queue_names", "thread_names" and "process_stats" lines.
// Threads are known by their kernel ids and compared exactly.

#include "crash/capture/BBXThreadCapture.h"

#include <cstdint>
#include <ucontext.h>

namespace corvex {

struct BBXFile;

// On the crash handler's stack.
struct BBXProcess
{
    std::int32_t currentThread = 0;
    std::int32_t crashedThread = 0;
    const ucontext_t* userContext = nullptr; // the crashed thread's, from its signal; may be none
    std::uint32_t threadCount = 0;
    std::int32_t threads[BBXThreadCaptureMaxThreads];
};

// Fills the record and lists the threads; false (count 0) when they cannot be listed.
bool BBXProcessInit(BBXProcess* process, std::int32_t crashedThread, const ucontext_t* userContext);
bool BBXProcessSuspendThreads(BBXProcess* process);
bool BBXProcessResumeThreads(BBXProcess* process);

// A thread's registers: the crashed thread's from its signal when given, a parked thread's
// from its slot; `exactPC` tells whether rip is where the thread stopped (not a return
// address). The current thread is not read here: BBXProcessRecordAllThreads takes its own.
bool BBXProcessGetThreadState(const BBXProcess* process, std::int32_t thread, BBXThreadContext* out);

// One hash per thread in list order; a thread whose registers cannot be read gets an empty
// "stacktrace" and no "registers", and the line is always closed.
bool BBXProcessRecordAllThreads(const BBXProcess* process, BBXFile* file);
// {"objc_selector":"","crash_info_entries":[]}: nothing of the kind exists here.
void BBXProcessRecordRuntimeInfo(const BBXProcess* process, BBXFile* file);
// The label of the queue each thread runs (QueueLabels), "" for none.
void BBXProcessRecordDispatchQueueNames(const BBXProcess* process, BBXFile* file);
// Each thread's /proc/self/task/<id>/comm, "" when unnamed or unreadable.
void BBXProcessRecordThreadNames(const BBXProcess* process, BBXFile* file);
// Memory of the host (/proc/meminfo) and of the process (/proc/self/statm), and its times
// (getrusage).
void BBXProcessRecordStats(const BBXProcess* process, BBXFile* file);

// Host memory in bytes: Active, Inactive, Unevictable (for wired) and MemFree of /proc/meminfo.
bool BBXProcessGetMemoryUsage(std::uint64_t* active, std::uint64_t* inactive, std::uint64_t* wired,
                              std::uint64_t* free);
bool BBXProcessGetInfo(std::uint64_t* virtualSize, std::uint64_t* residentSize, std::uint64_t* userTime,
                       std::uint64_t* systemTime);

// A tracer (gdb, strace, rr) is attached: /proc/self/status "TracerPid:" not 0.
bool BBXProcessDebuggerAttached();

// Reads at most `capacity - 1` bytes of a small /proc file into `buffer` and terminates it;
// answers the count (0 on failure).
std::size_t BBXProcessReadSmallFile(const char* path, char* buffer, std::size_t capacity);

} // namespace corvex
