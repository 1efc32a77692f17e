// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/unwind/BBXDwarfErrors.h"

#include "crash/runtime/BBXSDKLog.h"

namespace corvex {

namespace {

struct BBXDwarfErrorText
{
    std::uint32_t level;
    const char* text; // the kit log's conversions: %u, %x, %p, %c is written as %s of one byte
};

BBXDwarfErrorText bbxDwarfErrorText(BBXDwarfError error)
{
    constexpr std::uint32_t W = BBXSDKLogLevelWarn;
    constexpr std::uint32_t E = BBXSDKLogLevelError;
    switch (error) {
    case BBXDwarfError::UnhandledEncoding:
        return {W, "Unhandled: encoding 0x%x"};
    case BBXDwarfError::UnhandledRelativeEncoding:
        return {W, "Unhandled: relative encoding 0x%x"};
    case BBXDwarfError::CieLengthInvalid:
        return {W, "Error: CIE length invalid"};
    case BBXDwarfError::CieFlagNotFound:
        return {W, "Error: CIE flag not found"};
    case BBXDwarfError::CieVersionUnsupported:
        return {W, "Error: CIE version %u unsupported"};
    case BBXDwarfError::UnimplementedAugmentation:
        return {W, "Error: Unimplemented: augmentation string %s"};
    case BBXDwarfError::UnhandledAugmentationEntry:
        return {W, "Error: Unhandled augmentation string entry %s"};
    case BBXDwarfError::InvalidStartAddress:
        return {W, "Error: Found an invalid start address"};
    case BBXDwarfError::InvalidAddressRange:
        return {W, "Error: Found an invalid address range"};
    case BBXDwarfError::FdeZeroLength:
        return {W, "Error: FDE has zero length"};
    case BBXDwarfError::CieOffsetInvalid:
        return {W, "Error: CIE offset invalid"};
    case BBXDwarfError::UnableToParseCie:
        return {W, "Error: Unable to parse CIE record"};
    case BBXDwarfError::CieInvalid:
        return {W, "Error: CIE invalid"};
    case BBXDwarfError::ReadFailed:
        return {W, "Error: unable to read call-frame bytes at %p"};
    case BBXDwarfError::InstructionInputsInvalid:
        return {W, "Error: inputs invalid"};
    case BBXDwarfError::InvalidSameValueRegister:
        return {W, "Error: Found an invalid DW_CFA_same_value register number"};
    case BBXDwarfError::InvalidRegisterNumber:
        return {W, "Error: Found an invalid DW_CFA_register number"};
    case BBXDwarfError::InvalidRegisterValue:
        return {W, "Error: Found an invalid DW_CFA_register value"};
    case BBXDwarfError::InvalidDefCfaRegister:
        return {W, "Error: Found an invalid DW_CFA_def_cfa register number"};
    case BBXDwarfError::InvalidDefCfaRegisterRegister:
        return {W, "Error: Found an invalid DW_CFA_def_cfa_register register number"};
    case BBXDwarfError::InvalidExpressionRegister:
        return {W, "Error: Found an invalid DW_CFA_expression register number"};
    case BBXDwarfError::InvalidValExpressionRegister:
        return {W, "Error: Found an invalid DW_CFA_val_expression register number"};
    case BBXDwarfError::InvalidOffsetRegister:
        return {W, "Error: Found an invalid DW_CFA_offset register number"};
    case BBXDwarfError::InvalidRestoreRegister:
        return {W, "Error: Found an invalid DW_CFA_restore register number"};
    case BBXDwarfError::UnimplementedInstruction:
        return {W, "Error: Unimplemented DWARF instruction 0x%x"};
    case BBXDwarfError::UnrecognizedInstruction:
        return {W, "Error: Unrecognized DWARF instruction 0x%x"};
    case BBXDwarfError::AdvanceWithoutCie:
        return {W, "Error: invalid inputs"};
    case BBXDwarfError::RememberStackFull:
        return {W, "Error: DW_CFA_remember_state nested too deeply"};
    case BBXDwarfError::RememberStackEmpty:
        return {W, "Error: DW_CFA_restore_state without a remembered state"};
    case BBXDwarfError::FailedToExecuteInstruction:
        return {W, "Error: Failed to execute dwarf instruction 0x%x"};
    case BBXDwarfError::UnableToRunCieInstructions:
        return {W, "Error: Unable to run CIE instructions"};
    case BBXDwarfError::NegativePcOffset:
        return {W, "Error: The FDE pcOffset value cannot be negative"};
    case BBXDwarfError::UnableToRunFdeInstructions:
        return {W, "Error: Unable to run FDE instructions"};
    case BBXDwarfError::CfaInputInvalid:
        return {W, "Error: invalid input"};
    case BBXDwarfError::CfaExpressionFailed:
        return {W, "Error: failed to compute CFA expression"};
    case BBXDwarfError::FailedToGetCfa:
        return {W, "Error: failed to get CFA"};
    case BBXDwarfError::AssignInputInvalid:
        return {E, "Error: input invalid"};
    case BBXDwarfError::UnableToRestoreRegister:
        return {W, "Error: Unable to restore register value"};
    case BBXDwarfError::UnableToRestoreSp:
        return {W, "Error: Unable to restore SP value"};
    case BBXDwarfError::StackPointerUnchanged:
        return {W, "Error: Stack pointer hasn't changed"};
    case BBXDwarfError::PcUnchanged:
        return {W, "Error: PC hasn't changed"};
    case BBXDwarfError::UnableToAssignRegisters:
        return {E, "Error: Unable to assign DWARF registers"};
    case BBXDwarfError::UnableToReadCfaValue:
        return {W, "Error: Unable to read CFA value"};
    case BBXDwarfError::UnableToEvaluateExpression:
        return {W, "Error: unable to evaluate expression"};
    case BBXDwarfError::UnableToReadExpressionMemory:
        return {W, "Error: Unable to read memory computed from expression"};
    case BBXDwarfError::UnrecognizedSaveLocation:
        return {W, "Error: Unrecognized register save location 0x%x"};
    case BBXDwarfError::ExpressionInputsInvalid:
        return {W, "Error: inputs invalid"};
    case BBXDwarfError::ExpressionInitFailed:
        return {W, "Error: unable to init DWARF expression machine"};
    case BBXDwarfError::ExpressionLengthZero:
        return {W, "Error: DWARF expression length is zero"};
    case BBXDwarfError::ExpressionPrepareFailed:
        return {W, "Error: unable to prepare for execution"};
    case BBXDwarfError::ExpressionPointersInvalid:
        return {W, "Error: DWARF machine pointers invalid"};
    case BBXDwarfError::ExpressionStackInvalid:
        return {W, "Error: DWARF machine stack invalid"};
    case BBXDwarfError::ExpressionNotCompleted:
        return {W, "Error: DWARF expression hasn't completed execution"};
    case BBXDwarfError::ExpressionResultFailed:
        return {W, "Error: failed to get DWARF expression result"};
    case BBXDwarfError::ExpressionOpcodeFailed:
        return {W, "Error: failed to execute DWARF machine opcode"};
    case BBXDwarfError::DerefReadFailed:
        return {W, "Error: DW_OP_deref failed to read memory"};
    case BBXDwarfError::BregInvalidRegister:
        return {W, "Error: DW_OP_breg invalid register number"};
    case BBXDwarfError::DerefSizeInvalid:
        return {W, "Error: unrecognized DW_OP_deref_size argument %x"};
    case BBXDwarfError::UnrecognizedExpressionOpcode:
        return {W, "Error: Unrecognized DWARF expression opcode 0x%x"};
    }
    return {W, "Error: unknown DWARF error"};
}

const char* const kBBXDwarfLevelFormats[] = {
    "DEBUG [%s:%d] ",
    "INFO  [%s:%d] ",
    "WARN  [%s:%d] ",
    "ERROR [%s:%d] ",
};

} // namespace

bool BBXDwarfReportError(BBXDwarfError error, const char* function, int line, std::uint64_t argument)
{
    if (BBXSDKLogInstalledState() == nullptr)
        return false;
    const BBXDwarfErrorText text = bbxDwarfErrorText(error);
    // One line, written whole: the prefix and the text go through one format.
    char format[160];
    std::size_t length = 0;
    const auto append = [&](const char* part) {
        for (; *part != '\0' && length + 2 < sizeof format; ++part)
            format[length++] = *part;
    };
    append(kBBXDwarfLevelFormats[text.level - 1]);
    append(text.text);
    format[length++] = '\n';
    format[length] = '\0';
    if (error == BBXDwarfError::UnhandledAugmentationEntry ||
        error == BBXDwarfError::UnimplementedAugmentation) {
        char one[2] = {static_cast<char>(argument), '\0'};
        const char* string = error == BBXDwarfError::UnhandledAugmentationEntry
                                 ? one
                                 : reinterpret_cast<const char*>(static_cast<std::uintptr_t>(argument));
        BBXSDKLog(text.level, format, function, line, string);
    } else if (error == BBXDwarfError::ReadFailed) {
        BBXSDKLog(text.level, format, function, line, argument);
    } else {
        BBXSDKLog(text.level, format, function, line, static_cast<unsigned>(argument));
    }
    return false;
}

} // namespace corvex
