#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// Stopping every other thread of the process without a debugger: the threads are listed
// from /proc/self/task, each is sent a reserved real-time signal, and its handler copies the
// thread's registers into a slot of a block made at set-up, says it is parked and waits on a
// futex until the capturing thread lets it go. Every wait is bounded: a thread that blocks
// the signal, or does not answer in time, is simply left without registers.

#include "crash/unwind/BBXThreadContext.h"

#include <atomic>
#include <cstdint>

namespace corvex {

constexpr std::uint32_t BBXThreadCaptureMaxThreads = 512;

enum BBXThreadSlotState : std::uint32_t
{
    BBXThreadSlotIdle = 0,
    BBXThreadSlotRequested = 1, // the signal is on its way
    BBXThreadSlotParked = 2,    // registers copied; waiting to be let go
};

struct BBXThreadSlot
{
    std::atomic<std::int32_t> tid{0};
    std::atomic<std::uint32_t> state{BBXThreadSlotIdle};
    BBXThreadContext registers;
};

// The block the handshake shares; made once at set-up (the crash context's writable part).
struct BBXThreadCaptureBlock
{
    // Odd while threads are held; every capture moves it on by two. Parked threads wait on it.
    std::atomic<std::uint32_t> epoch{0};
    std::atomic<std::uint32_t> slotCount{0};
    BBXThreadSlot threadSlots[BBXThreadCaptureMaxThreads];
};

// The bounds of the handshake.
struct BBXThreadCaptureTimeouts
{
    std::uint32_t answerMilliseconds = 300; // all threads together, to park
    std::uint32_t holdMilliseconds = 10000; // a parked thread lets itself go after this
};

// Set-up: installs the handler of the reserved signal (SIGRTMIN + 7) and the block. False
// when the handler cannot be installed.
bool BBXThreadCaptureInstall(BBXThreadCaptureBlock* block);
void BBXThreadCaptureUninstall();
int BBXThreadCaptureSignal();
void BBXThreadCaptureSetTimeouts(BBXThreadCaptureTimeouts timeouts);

std::int32_t BBXCurrentThreadId();

// The thread ids of the process in /proc's order, listed with getdents64 into a stack
// buffer; answers their count (at most `capacity`), 0 when the folder cannot be read.
std::uint32_t BBXThreadCaptureListThreads(std::int32_t* tids, std::uint32_t capacity);

// Asks every listed thread but the caller to park and waits, bounded, for their answers;
// answers how many parked. Nothing is held when no block is installed.
std::uint32_t BBXThreadCaptureSuspend(const std::int32_t* tids, std::uint32_t count);
// The parked thread's registers; false for a thread that did not answer.
bool BBXThreadCaptureGetRegisters(std::int32_t tid, BBXThreadContext* out);
// Lets the parked threads go and waits, bounded, until they have left their slots.
void BBXThreadCaptureResume();

// Told (true) once the other threads have parked (or the wait for them ran out) and (false)
// right before they are let go: allocation proofs watch every thread in between. Crash-time: the observer
// must be async-signal-safe. None by default.
using BBXThreadCaptureHoldObserver = void (*)(bool held);
void BBXThreadCaptureSetHoldObserver(BBXThreadCaptureHoldObserver observer);

} // namespace corvex
