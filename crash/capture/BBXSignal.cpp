// Crash-time file (except BBXSignalInitialize and BBXSignalCheckHandlers, run after set-up).
// Rules: no Qt; no allocation after installation; no locks; no stdio; only async-signal-safe
// calls; a pointer below 4096 is invalid.

#include "crash/capture/BBXSignal.h"

#include "crash/capture/BBXHandler.h"
#include "crash/capture/BBXThreadCapture.h"
#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXErrnoText.h"
#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXMemory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvex {

namespace {

// Puts the default action back on every handled signal; false when one could not be set.
bool signalInstallDefaultHandlers()
{
    bool installed = true;
    for (const int signal : BBXHandledSignals) {
        struct sigaction action
        {};
        sigemptyset(&action.sa_mask);
        action.sa_handler = SIG_DFL;
        if (sigaction(signal, &action, nullptr) != 0) {
            BBX_LOG_WARN("Unable to set default handler for %s (%d): %s", BBXSignalName(signal), signal,
                         BBXErrnoText(errno).text());
            installed = false;
        }
    }
    return installed;
}

void signalWriteLine(BBXFile* file, int signal, const siginfo_t* info, int savedErrno)
{
    BBXFileWriteSectionStart(file, "signal");
    BBXFileWriteHashStart(file);
    if (BBXIsValidPointer(info)) {
        BBXFileWriteHashEntryUint64(file, "number",
                                    static_cast<std::uint64_t>(static_cast<std::int64_t>(signal)));
        BBXFileWriteHashEntryUint64(file, "code",
                                    static_cast<std::uint64_t>(static_cast<std::int64_t>(info->si_code)));
        BBXFileWriteHashEntryUint64(file, "address", BBXSignalFaultAddress(info));
        BBXFileWriteHashEntryString(file, "name", BBXSignalName(signal));
        BBXFileWriteHashEntryString(file, "code_name", BBXSignalCodeName(signal));
    }
    BBXFileWriteHashEntryInt64(file, "errno", savedErrno);
    BBXFileWriteHashEntryUint64(file, "time", static_cast<std::uint64_t>(time(nullptr)));
    BBXFileWriteHashEnd(file);
    BBXFileWriteSectionEnd(file);
}

// Puts the previous actions back and, for a signal that would not come again, sends it again
// (it reaches the restored action once the handler returns, or at once while unblocked).
void signalHandOver(int signal, const siginfo_t* info)
{
    const BBXReadOnlyContext* context = BBXContextReadOnly();
    const bool handedOver = context != nullptr ? BBXSignalSafeInstallPreexistingHandlers(&context->signal)
                                               : BBXSignalSafeRemoveHandlers();
    // Sent again all the same: the process must still end by it.
    if (!handedOver)
        BBX_LOG_WARN("Unable to hand signal %s over to the previous actions", BBXSignalName(signal));
    if (BBXSignalWillNotRecur(signal, info))
        syscall(SYS_tgkill, getpid(), BBXCurrentThreadId(), signal);
}

} // namespace

void BBXSignalInitialize(BBXSignalContext* context, void* stack, std::size_t size)
{
    if (!BBXIsValidPointer(context))
        return;
    if (!BBXUnlinkIfExists(context->path))
        BBX_LOG_WARN("Unable to reset the signal log file %s", BBXErrnoText(errno).text());
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = size;
    alternate.ss_flags = 0;
    if (!BBXIsValidPointer(stack) || sigaltstack(&alternate, &context->previousStack) != 0)
        BBX_LOG_WARN("Unable to setup stack %s", BBXErrnoText(errno).text());
    else
        context->hasPreviousStack = true;
    for (std::size_t i = 0; i < BBXHandledSignalCount; ++i) {
        struct sigaction action
        {};
        action.sa_sigaction = BBXSignalHandler;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        struct sigaction previous
        {};
        if (sigaction(BBXHandledSignals[i], &action, &previous) != 0) {
            BBX_LOG_WARN("Unable to install handler for %s (%d): %s", BBXSignalName(BBXHandledSignals[i]),
                         BBXHandledSignals[i], BBXErrnoText(errno).text());
            continue;
        }
        const bool hadHandler = (previous.sa_flags & SA_SIGINFO) ? previous.sa_sigaction != nullptr
                                                                 : previous.sa_handler != SIG_DFL;
        if (hadHandler) {
            context->previous[i] = previous;
            context->hasPrevious[i] = true;
        }
    }
}

void BBXSignalHandler(int signal, siginfo_t* info, void* userContext)
{
    const int savedErrno = errno;
    errno = 0;
    const std::int32_t self = BBXCurrentThreadId();
    if (!BBXContextIsInitialized()) {
        signalHandOver(signal, info);
        errno = savedErrno;
        return;
    }
    // The exchange comes first: exactly one crash path records.
    if (BBXContextMarkHandlingCrash()) {
        BBX_LOG_WARN("Error: aborting signal handler because crash has already occurred");
        BBXWritableContext* writable = BBXContextWritable();
        if (writable != nullptr && writable->crashingThread.load(std::memory_order_acquire) != self)
            BBXContextWaitForReport(BBXSignalSecondCrashWaitMilliseconds);
        signalHandOver(signal, info);
        errno = savedErrno;
        return;
    }
    BBX_LOG_WARN("Signal: %d", signal);
    sigset_t all;
    sigemptyset(&all);
    if (pthread_sigmask(SIG_SETMASK, &all, nullptr) != 0)
        BBX_LOG_WARN("Unable to unmask signals - we risk infinite recursion here");
    const BBXReadOnlyContext* context = BBXContextReadOnly();
    BBXFile file;
    if (!BBXFileInitWithPathMode(&file, context->signal.path, true, false)) {
        BBX_LOG_WARN("Unable to open signal file");
    } else {
        signalWriteLine(&file, signal, info, savedErrno);
        BBXHandler(&file, self,
                   BBXIsValidPointer(userContext) ? static_cast<const ucontext_t*>(userContext) : nullptr);
        BBXFileClose(&file);
    }
    BBXContextMarkReportClosed();
    signalHandOver(signal, info);
    errno = savedErrno;
}

bool BBXSignalSafeRemoveHandlers()
{
    return signalInstallDefaultHandlers();
}

bool BBXSignalSafeInstallPreexistingHandlers(const BBXSignalContext* context)
{
    // A default that could not be set does not stop the rest: each previous action put back
    // still takes its signal away from our handler.
    const bool removed = BBXSignalSafeRemoveHandlers();
    if (!BBXIsValidPointer(context))
        return false;
    if (context->hasPreviousStack && sigaltstack(&context->previousStack, nullptr) != 0) {
        // Only the thread that owns the stack can put the old one back; on any other thread
        // (a queue thread's crash) its own stays, which is what it should keep anyway.
        if (errno != EPERM) {
            BBX_LOG_WARN("Unable to setup stack %s", BBXErrnoText(errno).text());
            return false;
        }
    }
    bool restored = removed;
    for (std::size_t i = 0; i < BBXHandledSignalCount; ++i) {
        if (context->hasPrevious[i] && sigaction(BBXHandledSignals[i], &context->previous[i], nullptr) != 0) {
            BBX_LOG_WARN("Unable to install handler for %s (%d): %s", BBXSignalName(BBXHandledSignals[i]),
                         BBXHandledSignals[i], BBXErrnoText(errno).text());
            restored = false;
        }
    }
    return restored;
}

std::uint64_t BBXSignalFaultAddress(const siginfo_t* info)
{
    if (!BBXIsValidPointer(info) || info->si_code <= 0)
        return 0;
    return reinterpret_cast<std::uint64_t>(info->si_addr);
}

bool BBXSignalWillNotRecur(int signal, const siginfo_t* info)
{
    if (signal == SIGTRAP || signal == SIGSYS)
        return true;
    return !BBXIsValidPointer(info) || info->si_code <= 0;
}

void BBXSignalCheckHandlers()
{
    // Under a debugger the kit installs no handlers: the ones in place are the expected ones.
    const BBXReadOnlyContext* context = BBXContextReadOnly();
    if (context == nullptr || context->debuggerAttached)
        return;
    for (std::size_t i = 0; i < BBXHandledSignalCount; ++i) {
        struct sigaction current
        {};
        if (sigaction(BBXHandledSignals[i], nullptr, &current) != 0) {
            std::fputs("Unable to read signal handler\n", stderr);
            continue;
        }
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == BBXSignalHandler)
            continue;
        Dl_info symbol{};
        const void* address = (current.sa_flags & SA_SIGINFO)
                                  ? reinterpret_cast<const void*>(current.sa_sigaction)
                                  : reinterpret_cast<const void*>(current.sa_handler);
        const char* name = dladdr(address, &symbol) != 0 ? symbol.dli_sname : nullptr;
        std::fprintf(stderr,
                     "[Blackbox] The signal %s has a non-Blackbox handler (%s).  This will interfere with "
                     "reporting.\n",
                     BBXSignalName(BBXHandledSignals[i]), name ? name : "(null)");
    }
}

} // namespace corvex
