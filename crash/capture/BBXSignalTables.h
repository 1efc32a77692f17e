#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The fatal signals the runtime handles and their names, keyed by the platform's own
// symbols (SIGBUS is 7 and SIGSYS 31 here), so that records carry native numbers.

#include <csignal>
#include <cstddef>

namespace corvex {

// The order of every loop over them.
inline constexpr int BBXHandledSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP};
inline constexpr std::size_t BBXHandledSignalCount = sizeof BBXHandledSignals / sizeof BBXHandledSignals[0];

// "SIGABRT" ... for the handled signals, "UNKNOWN" for every other.
const char* BBXSignalName(int signal);
// "ABORT" for SIGABRT, nullptr for every other.
const char* BBXSignalCodeName(int signal);

// Calls the block with (index, signal) for each handled signal in order.
template <typename Block> void BBXSignalEnumerateSignals(Block&& block)
{
    for (std::size_t i = 0; i < BBXHandledSignalCount; ++i)
        block(i, BBXHandledSignals[i]);
}

} // namespace corvex
