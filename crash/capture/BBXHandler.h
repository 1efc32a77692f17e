#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The common last step of every capture: with the capture's own line written, stop the other
// threads, record every thread and the process into the same file, let the threads go, then
// make the synchronous crash callback.

#include <cstdint>
#include <ucontext.h>

namespace corvex {

struct BBXFile;

// `userContext`: the crashed thread's registers from its signal, or none.
void BBXHandler(BBXFile* file, std::int32_t crashedThread, const ucontext_t* userContext);

} // namespace corvex
