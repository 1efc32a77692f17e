#pragma once

// Crash-time file (except BBXSignalInitialize and BBXSignalCheckHandlers, run after set-up).
// Rules: no Qt; no allocation after installation; no locks; no stdio; only async-signal-safe
// calls; a pointer below 4096 is invalid.
//
// Fatal signals: one "signal" line into "signal.bbxrecord", then the threads and process
// state (BBXHandler), then the actions that were there before are put back and a signal that
// would not come again is sent again, so that the process ends by it. Our handlers stay
// installed until the report is closed: a second crashing thread meets them, waits a bounded
// time for the first report and then dies by its own signal.

#include "crash/capture/BBXContext.h"

#include <csignal>
#include <cstddef>
#include <cstdint>

namespace corvex {

// Set-up: removes an old record, puts `stack` (`size` bytes) under the calling thread as its
// alternate stack and installs the handler for every handled signal, keeping the previous
// stack and actions in `context`.
void BBXSignalInitialize(BBXSignalContext* context, void* stack, std::size_t size);
void BBXSignalHandler(int signal, siginfo_t* info, void* userContext);
// The default action for every handled signal; false when one could not be set (the others
// are set all the same).
bool BBXSignalSafeRemoveHandlers();
// Default actions, then the previous alternate stack and the previous actions; false when any
// of them could not be put in place, or for an invalid context.
bool BBXSignalSafeInstallPreexistingHandlers(const BBXSignalContext* context);
// A signal that was sent (si_code <= 0), or SIGTRAP and SIGSYS, does not come again when the
// thread goes on: those are sent again after the previous actions are back.
bool BBXSignalWillNotRecur(int signal, const siginfo_t* info);
// The "address" of the signal line: the fault address the kernel gave, 0 for a signal a
// process sent (si_code <= 0: kill, sigqueue, tgkill, raise, abort), whose information holds
// the sender's pid and uid in that place.
std::uint64_t BBXSignalFaultAddress(const siginfo_t* info);
// After set-up: each handled signal whose action is not ours is reported on stderr with the
// handler's symbol name. Nothing is reported without a set-up, or when the set-up installed
// no handlers because a debugger was attached.
void BBXSignalCheckHandlers();

// The bound a second crashing thread waits for the first report.
constexpr std::uint32_t BBXSignalSecondCrashWaitMilliseconds = 5000;

} // namespace corvex
