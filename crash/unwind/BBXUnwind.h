#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The stack unwinder: from a thread's registers, one frame at a time, to the return address
// of every frame. Each step tries the image's unwind information (compact unwind where an
// image has it; for ELF the FDE found by a binary search of .eh_frame_hdr and its DWARF
// rules), then, out of frame 0 only, a stack scan, then the frame-pointer chain.

#include "crash/runtime/BBXBinaryImageTable.h"
#include "crash/unwind/BBXCompactUnwind.h"
#include "crash/unwind/BBXDwarfCFI.h"
#include "crash/unwind/BBXThreadContext.h"

#include <cstdint>

namespace corvex {

constexpr std::uint32_t BBXUnwindMaximumFrames = 600000;

// Stack words of the live process, read a block at a time: a safe read is a system call, and
// consecutive frames lie next to each other. Blocks never cross a page, so a block at the
// top of a stack reads as well as its words would.
constexpr std::uint32_t BBXUnwindStackBlockSize = 2048;
constexpr std::uint32_t BBXUnwindStackBlockCount = 2;

struct BBXUnwindStackCache
{
    std::uint64_t blockAddress[BBXUnwindStackBlockCount]; // 0: empty
    std::uint8_t blocks[BBXUnwindStackBlockCount][BBXUnwindStackBlockSize];
};

// The rules of the last PC the DWARF step ran for (a recursion repeats PC after PC), and
// the last FDE parsed.
struct BBXUnwindRuleCache
{
    std::uint64_t fde; // 0: none
    BBXDwarfFDERecord record;
    std::uint64_t rulesPC; // 0: none
    bool rulesExact;
    BBXDwarfRegisterState rules;
};

struct BBXUnwindContext
{
    BBXThreadContext threadContext;
    std::uint32_t frameCount;
    BBXCompactUnwindContext compactUnwindContext;
    std::uint64_t lastPC;
    std::uint32_t repeatCount;
    // Frame 0's PC is where the thread stopped (a signal or a suspension), not a return
    // address: the step out of it looks up the PC itself.
    bool firstPCIsExact;
    const BBXUnwindMemory* memory;
    // The image of the last step: consecutive frames mostly share one.
    BBXBinaryImageRuntimeNode lastImage;
    BBXUnwindStackCache stackCache;
    BBXUnwindRuleCache ruleCache;
};

// Zeroes the context and copies the registers. The PC is taken for a return address (the
// context a thread builds of itself); BBXUnwindInitFromSignal for a stopped thread's.
bool BBXUnwindInit(BBXUnwindContext* context, const BBXThreadContext* threadContext);
bool BBXUnwindInitFromSignal(BBXUnwindContext* context, const BBXThreadContext* threadContext);
// Reads through `memory` instead of the live process (tests, fuzzing).
void BBXUnwindSetMemory(BBXUnwindContext* context, const BBXUnwindMemory* memory);

bool BBXUnwindNextFrame(BBXUnwindContext* context);
std::uint64_t BBXUnwindGetPC(const BBXUnwindContext* context);
std::uint64_t BBXUnwindGetStackPointer(const BBXUnwindContext* context);
std::uint32_t BBXUnwindGetRepeatCount(const BBXUnwindContext* context);
bool BBXUnwindContextHasValidPCAndSP(const BBXUnwindContext* context);
bool BBXUnwindIsAddressExecutable(std::uint64_t address);
bool BBXUnwindFirstExecutableAddress(const BBXUnwindMemory* memory, std::uint64_t start, std::uint64_t end,
                                     std::uint64_t* out);
bool BBXUnwindWithFramePointer(BBXUnwindContext* context, bool tryStackScan);

// The FDE of `pc` by a binary search of an .eh_frame_hdr table: its address, 0 when none.
std::uint64_t BBXUnwindFindFDEInEhFrameHdr(const BBXUnwindMemory* memory, std::uint64_t ehFrameHdr,
                                           std::uint64_t pc);

} // namespace corvex
