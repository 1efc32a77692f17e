#pragma once

// BBXThreadStacksGive is ordinary code, run once at set-up; BBXThreadStacksAnswer is
// crash-time code (it runs inside the parking signal's handler). Rules for it: no Qt; no
// allocation; no locks; no stdio; only async-signal-safe calls.
//
// Alternate signal stacks for the threads that run without one when the reporter starts.
// The thread-start hook gives one to every thread made through pthread_create after the
// executable was loaded; what is left are threads a library made through calls that pass
// the hook by (the C library's own helpers). Only the thread itself can install its stack,
// so each thread not known to hold one (AlternateSignalStack::heldByThread) is sent the
// parking signal with a stack made for it, and its handler installs it when the thread has
// none. No other thread is signalled. A stack given so is never freed: nothing tells us when
// such a thread ends. (A thread the hook is starting that takes the signal before the hook's
// trampoline runs takes a stack too, and keeps it in place of its own.)

#include <cstdint>

namespace corvex {

constexpr std::uint32_t BBXThreadStacksMaxRequests = 64;

// Returns how many threads were given a stack; waits at most `waitMilliseconds` for the
// answers. Needs the parking signal's handler (BBXThreadCaptureInstall).
std::uint32_t BBXThreadStacksGive(std::uint32_t waitMilliseconds);

// Inside the parking signal's handler, on thread `tid`, with the handler's user context:
// gives the thread the stack requested for it, if any and if it had none, from the
// handler's return on.
void BBXThreadStacksAnswer(std::int32_t tid, void* userContext);

} // namespace corvex
