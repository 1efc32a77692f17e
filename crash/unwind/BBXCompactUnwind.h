#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The compact-unwind decoder (the published "__unwind_info" format, x86-64 encodings). ELF
// images carry none, so in the live walk only its DWARF entry point runs, reached from the
// .eh_frame_hdr lookup of BBXUnwind.cpp; the rest is exercised on bytes tests construct.

#include "crash/unwind/BBXThreadContext.h"

#include <cstdint>

namespace corvex {

struct BBXCompactUnwindContext
{
    std::uint64_t unwindInfo;
    std::uint64_t ehFrame;
    std::uint64_t loadAddress;
    // The unwind-info header, in its order.
    std::uint32_t version;
    std::uint32_t commonEncodingsArraySectionOffset;
    std::uint32_t commonEncodingsArrayCount;
    std::uint32_t personalityArraySectionOffset;
    std::uint32_t personalityArrayCount;
    std::uint32_t indexSectionOffset;
    std::uint32_t indexCount;
    // The first-level entry of the last lookup.
    std::uint32_t firstLevelFunctionOffset;
    std::uint32_t firstLevelSecondLevelPageOffset;
    std::uint32_t firstLevelLsdaIndexOffset;
    std::uint32_t firstLevelNextFunctionOffset;
    // Not part of the format: how the DWARF step reads and which rows it applies.
    const BBXUnwindMemory* memory;
    bool exactPC;       // the PC is not a return address (frame 0 of a signal context)
    bool checkFDERange; // refuse an FDE whose range misses the PC (the .eh_frame_hdr route)
};

struct BBXCompactUnwindResult
{
    std::uint32_t encoding;
    std::uint64_t functionStart;
    std::uint64_t functionEnd;
    std::uint64_t lsda;
    std::uint64_t personality;
};

constexpr std::uint32_t BBXCompactUnwindModeMask = 0x0F000000;
constexpr std::uint32_t BBXCompactUnwindModeFramePointer = 0x01000000;
constexpr std::uint32_t BBXCompactUnwindModeFramelessImmediate = 0x02000000;
constexpr std::uint32_t BBXCompactUnwindModeFramelessIndirect = 0x03000000;
constexpr std::uint32_t BBXCompactUnwindModeDwarf = 0x04000000;

// `memory` nullptr: the live process.
bool BBXCompactUnwindInit(BBXCompactUnwindContext* context, std::uint64_t unwindInfo, std::uint64_t ehFrame,
                          std::uint64_t loadAddress, const BBXUnwindMemory* memory = nullptr);
bool BBXCompactUnwindLookup(BBXCompactUnwindContext* context, std::uint64_t pc,
                            BBXCompactUnwindResult* result);
bool BBXCompactUnwindLookupAndCompute(BBXCompactUnwindContext* context, BBXThreadContext* threadContext);
bool BBXCompactUnwindComputeRegisters(BBXCompactUnwindContext* context, const BBXCompactUnwindResult* result,
                                      BBXThreadContext* threadContext);
bool BBXCompactUnwindDwarfFrame(BBXCompactUnwindContext* context, std::uint64_t fdeOffset,
                                BBXThreadContext* threadContext);
// The frame-pointer step (also mode 1): PC and FP from the frame record at FP.
bool BBXCompactUnwindBPFrame(const BBXUnwindMemory* memory, BBXThreadContext* threadContext);
bool BBXCompactUnwindFrameless(const BBXUnwindMemory* memory, std::uint32_t encoding,
                               BBXThreadContext* threadContext, std::uint64_t functionStart, bool indirect);
// Digits of the register permutation; false for a count of 7 (or more).
bool BBXCompactUnwindDecompressPermutation(std::uint32_t permutation, std::uint32_t count,
                                           std::uint32_t* digits);
// Digits to compact register numbers (1 rbx, 2 r12, 3 r13, 4 r14, 5 r15, 6 rbp).
bool BBXCompactUnwindRemapRegisters(const std::uint32_t* digits, std::uint32_t count,
                                    std::uint32_t* registers);

} // namespace corvex
