#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// Error reporting of the call-frame reader and the expression machine, kept apart from
// both: they name what went wrong by code; the text and level of each code live here.

#include <cstdint>

namespace corvex {

enum class BBXDwarfError : std::uint8_t
{
    // Readers and pointer encodings
    UnhandledEncoding,         // a
    UnhandledRelativeEncoding, // a
                               // CIE and FDE
    CieLengthInvalid,
    CieFlagNotFound,
    CieVersionUnsupported, // a
    UnimplementedAugmentation,
    UnhandledAugmentationEntry, // a (character)
    InvalidStartAddress,
    InvalidAddressRange,
    FdeZeroLength,
    CieOffsetInvalid,
    UnableToParseCie,
    CieInvalid,
    ReadFailed, // a (address)
                // Rule machine
    InstructionInputsInvalid,
    InvalidSameValueRegister,
    InvalidRegisterNumber,
    InvalidRegisterValue,
    InvalidDefCfaRegister,
    InvalidDefCfaRegisterRegister,
    InvalidExpressionRegister,
    InvalidValExpressionRegister,
    InvalidOffsetRegister,
    InvalidRestoreRegister,
    UnimplementedInstruction, // a
    UnrecognizedInstruction,  // a
    AdvanceWithoutCie,
    RememberStackFull,
    RememberStackEmpty,
    FailedToExecuteInstruction, // a
    UnableToRunCieInstructions,
    NegativePcOffset,
    UnableToRunFdeInstructions,
    CfaInputInvalid,
    CfaExpressionFailed,
    FailedToGetCfa,
    AssignInputInvalid,
    UnableToRestoreRegister,
    UnableToRestoreSp,
    StackPointerUnchanged,
    PcUnchanged,
    UnableToAssignRegisters,
    UnableToReadCfaValue,
    UnableToEvaluateExpression,
    UnableToReadExpressionMemory,
    UnrecognizedSaveLocation, // a
                              // Expression machine
    ExpressionInputsInvalid,
    ExpressionInitFailed,
    ExpressionLengthZero,
    ExpressionPrepareFailed,
    ExpressionPointersInvalid,
    ExpressionStackInvalid,
    ExpressionNotCompleted,
    ExpressionResultFailed,
    ExpressionOpcodeFailed,
    DerefReadFailed,
    BregInvalidRegister,
    DerefSizeInvalid,             // a
    UnrecognizedExpressionOpcode, // a
};

// Writes the error's line to the kit log with the reporting function's name and line;
// always answers false, so that callers can `return BBX_DWARF_FAIL(...)`.
bool BBXDwarfReportError(BBXDwarfError error, const char* function, int line, std::uint64_t argument);

} // namespace corvex

#define BBX_DWARF_FAIL(error, ...)                                                                           \
    ::corvex::BBXDwarfReportError((error), __func__, __LINE__,                                               \
                                  std::uint64_t(0) __VA_OPT__(+static_cast<std::uint64_t>(__VA_ARGS__)))
