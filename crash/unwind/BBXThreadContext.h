#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The registers an unwind step reads and writes (x86-64 only), their DWARF numbers, and the
// memory an unwind step reads through: image bytes (call-frame information, lookup tables,
// expressions) and target memory (stacks), kept apart so that tests and fuzz targets can
// hand in bounded fake memory for both.

#include <cstddef>
#include <cstdint>
#include <ucontext.h>

namespace corvex {

// The general-purpose thread state in the order the crash records write it.
struct BBXThreadContext
{
    std::uint64_t rax, rbx, rcx, rdx, rdi, rsi, rbp, rsp;
    std::uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    std::uint64_t rip, rflags, cs, fs, gs;
};

std::uint64_t BBXThreadContextGetPC(const BBXThreadContext* context);
bool BBXThreadContextSetPC(BBXThreadContext* context, std::uint64_t value);
std::uint64_t BBXThreadContextGetSP(const BBXThreadContext* context);
bool BBXThreadContextSetSP(BBXThreadContext* context, std::uint64_t value);
std::uint64_t BBXThreadContextGetFP(const BBXThreadContext* context);
bool BBXThreadContextSetFP(BBXThreadContext* context, std::uint64_t value);
// FP + 16: the stack pointer just above a frame record (saved FP, return address).
std::uint64_t BBXUnwindStackPointerForFramePointer(std::uint64_t framePointer);
// The registers a signal handler was given; cs, gs and fs from REG_CSGSFS.
bool BBXThreadContextFromUcontext(const ucontext_t* ucontext, BBXThreadContext* out);

// x86-64 psABI numbering: 0 rax, 1 rdx, 2 rcx, 3 rbx, 4 rsi, 5 rdi, 6 rbp, 7 rsp, 8-15 r8-r15,
// 16 the return address (rip).
constexpr std::uint64_t BBXDwarfRegisterCount = 17;
constexpr std::uint64_t BBXDwarfRegisterSP = 7;
constexpr std::uint64_t BBXDwarfRegisterRA = 16;
std::uint64_t BBXDwarfUnwindGetRegisterValue(const BBXThreadContext* context, std::uint64_t number);
bool BBXDwarfUnwindSetRegisterValue(BBXThreadContext* context, std::uint64_t number, std::uint64_t value);

struct BBXUnwindMemory
{
    // Bytes of a loaded image's sections.
    bool (*readImage)(const BBXUnwindMemory* memory, std::uint64_t address, void* out, std::size_t length);
    // Stack memory and whatever else registers, rules or expressions point at.
    bool (*readTarget)(const BBXUnwindMemory* memory, std::uint64_t address, void* out, std::size_t length);
    void* context;
};

// The process itself: image sections in place (the image table vouches for them), target
// memory through the safe read.
const BBXUnwindMemory* BBXUnwindLiveMemory();

inline bool BBXUnwindReadImage(const BBXUnwindMemory* memory, std::uint64_t address, void* out,
                               std::size_t length)
{
    return memory->readImage(memory, address, out, length);
}
inline bool BBXUnwindReadTarget(const BBXUnwindMemory* memory, std::uint64_t address, void* out,
                                std::size_t length)
{
    return memory->readTarget(memory, address, out, length);
}

} // namespace corvex
