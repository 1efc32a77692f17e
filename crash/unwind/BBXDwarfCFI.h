#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// DWARF call-frame information of .eh_frame: the parser of CIEs and FDEs
// (BBXDwarfParse.cpp), the rule machine that runs their instructions up to a PC and gives
// the caller's registers (BBXDwarfRules.cpp); their errors are reported by BBXDwarfErrors.
// Besides the opcodes of the portable subset the machine runs those the system's libraries
// use: remember and restore state, restore, offset_extended, undefined, GNU_args_size.

#include "crash/unwind/BBXThreadContext.h"

#include <cstdint>

namespace corvex {

struct BBXDwarfCIE
{
    std::uint64_t length;
    std::uint8_t version; // 1 or 3
    char augmentation[16];
    std::uint64_t codeAlignmentFactor;
    std::int64_t dataAlignmentFactor;
    std::uint64_t returnAddressRegister; // parsed, not consulted: register 16's rule gives the PC
    std::uint8_t pointerEncoding;
    std::uint8_t lsdaEncoding;
    std::uint8_t personalityEncoding;
    std::uint64_t personality;
    bool signalFrame;
    std::uint64_t instructions;
    std::uint32_t instructionsLength;
};

struct BBXDwarfFDE
{
    std::uint64_t length;
    std::uint32_t ciePointer;
    std::uint64_t pcBegin;
    std::uint64_t pcRange;
    std::uint64_t instructions;
    std::uint32_t instructionsLength;
};

struct BBXDwarfFDERecord
{
    BBXDwarfFDE fde;
    BBXDwarfCIE cie;
};

bool BBXDwarfParseCIERecord(const BBXUnwindMemory* memory, BBXDwarfCIE* cie, std::uint64_t address);
bool BBXDwarfParseFDERecord(const BBXUnwindMemory* memory, BBXDwarfFDE* fde, bool parseCIE, BBXDwarfCIE* cie,
                            std::uint64_t address);
bool BBXDwarfParseFDEAtOffset(const BBXUnwindMemory* memory, BBXDwarfFDERecord* record, std::uint64_t ehFrame,
                              std::uint64_t offset);
bool BBXDwarfParseFDEAtAddress(const BBXUnwindMemory* memory, BBXDwarfFDERecord* record,
                               std::uint64_t address);
bool BBXDwarfCIEIsValid(const BBXDwarfCIE* cie);
bool BBXDwarfCIEHasAugmentationData(const BBXDwarfCIE* cie);

enum class BBXDwarfRuleKind : std::uint8_t
{
    Unchanged,         // no rule: the register keeps its value (same_value too)
    Undefined,         // no value; for the return address: the outermost frame
    SavedAtCFAOffset,  // at CFA + value
    ValueCFAOffset,    // CFA + value itself (val_offset)
    InRegister,        // the value of register `value`
    AtExpression,      // at the address the expression at `value` computes from the CFA
    ValueOfExpression, // the value of that expression
};

struct BBXDwarfRule
{
    BBXDwarfRuleKind kind;
    std::uint64_t value;
};

// The CFA register number that marks a CFA given by an expression.
constexpr std::uint64_t BBXDwarfCFAExpressionRegister = 17;

struct BBXDwarfRegisterState
{
    std::uint64_t cfaRegister;
    std::int64_t cfaOffset;
    std::uint64_t cfaExpression; // the expression's length field; 0: none
    BBXDwarfRule rules[BBXDwarfRegisterCount];
};

// remember_state nests this deep at most (the libraries here nest once).
constexpr std::uint32_t BBXDwarfRememberDepth = 8;

struct BBXDwarfRuleMachine
{
    BBXDwarfRegisterState state;
    BBXDwarfRegisterState initial; // after the CIE's instructions: what restore goes back to
    BBXDwarfRegisterState remembered[BBXDwarfRememberDepth];
    std::uint32_t rememberedCount;
    std::uint64_t location; // from the FDE's PC begin
    std::uint64_t pcBegin;  // what set_loc's absolute addresses are taken from
};

// Runs instructions [start, start + length) into the machine's state until the location
// reaches `limit` (a PC offset from the FDE's begin). Fails on an opcode it does not run.
bool BBXDwarfInstructionsEnumerate(const BBXUnwindMemory* memory, std::uint64_t start, std::uint32_t length,
                                   const BBXDwarfCIE* cie, BBXDwarfRuleMachine* machine, std::uint64_t limit);
// The CIE's and the FDE's instructions up to `pc`: rows at locations below `pc` (a return
// address already decreased by one), or at or below it for an exact PC (frame 0 of a
// context from a signal).
bool BBXDwarfComputeRulesForPC(const BBXUnwindMemory* memory, const BBXDwarfFDERecord* record,
                               std::uint64_t pc, bool exactPC, BBXDwarfRuleMachine* machine);
bool BBXDwarfGetCFA(const BBXUnwindMemory* memory, const BBXDwarfRegisterState* state,
                    const BBXThreadContext* threadContext, std::uint64_t* out);
std::uint64_t BBXDwarfGetSavedRegister(const BBXUnwindMemory* memory, const BBXThreadContext* threadContext,
                                       std::uint64_t cfa, BBXDwarfRule rule);
bool BBXDwarfUnwindAssignRegisters(const BBXUnwindMemory* memory, const BBXDwarfRegisterState* state,
                                   const BBXThreadContext* threadContext, std::uint64_t cfa,
                                   BBXThreadContext* outContext);
// Replaces the thread context by the caller's registers.
bool BBXDwarfUnwindComputeRegisters(const BBXUnwindMemory* memory, const BBXDwarfFDERecord* record,
                                    BBXThreadContext* threadContext, bool exactPC);
bool BBXDwarfRegisterUnchanged(const BBXThreadContext* a, const BBXThreadContext* b, std::uint64_t number);

} // namespace corvex
