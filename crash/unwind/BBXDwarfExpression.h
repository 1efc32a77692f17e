#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The DWARF expression machine: runs the small stack programs of call-frame rules against
// a frame's registers. Knows the operations x86-64 call-frame information uses (the PLT's
// DW_OP_ge and DW_OP_shl among them) and refuses every other one.

#include "crash/unwind/BBXDwarfReaders.h"
#include "crash/unwind/BBXThreadContext.h"

#include <cstdint>

namespace corvex {

constexpr std::uint32_t BBXDwarfExpressionStackSize = 100;

struct BBXDwarfExpressionMachine
{
    std::uint64_t stack[BBXDwarfExpressionStackSize];
    std::uint32_t depth;   // values on the stack
    bool stackValid;       // cleared by an overflow or a pop of an empty stack
    BBXDwarfCursor cursor; // image memory for the program, target memory for derefs
    std::uint64_t end;
    const BBXThreadContext* threadContext;
};

// `expression` is the address of the ULEB128 length that precedes the program. The initial
// value is the only stack entry at the start; the result is the top value at the end.
bool BBXDwarfEvalulateExpression(const BBXUnwindMemory* memory, std::uint64_t expression,
                                 const BBXThreadContext* threadContext, std::uint64_t initialValue,
                                 std::uint64_t* out);

bool BBXDwarfExpressionMachineInit(BBXDwarfExpressionMachine* machine, const BBXUnwindMemory* memory,
                                   std::uint64_t expression, const BBXThreadContext* threadContext,
                                   std::uint64_t initialValue);
bool BBXDwarfExpressionMachinePrepareForExecution(BBXDwarfExpressionMachine* machine);
bool BBXDwarfExpressionMachineIsFinished(BBXDwarfExpressionMachine* machine);
bool BBXDwarfExpressionMachineGetResult(BBXDwarfExpressionMachine* machine, std::uint64_t* out);
bool BBXDwarfExpressionMachineExecuteNextOpcode(BBXDwarfExpressionMachine* machine);

} // namespace corvex
