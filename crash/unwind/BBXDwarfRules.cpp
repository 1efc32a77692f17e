// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The rule machine: call-frame instructions into a register state, and the caller's
// registers from that state.

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXSDKLog.h"
#include "crash/unwind/BBXDwarfCFI.h"
#include "crash/unwind/BBXDwarfCallFrameOpcodes.h"
#include "crash/unwind/BBXDwarfErrors.h"
#include "crash/unwind/BBXDwarfExpression.h"
#include "crash/unwind/BBXDwarfReaders.h"

namespace corvex {

namespace {

// Skips an expression block (ULEB128 length, bytes) and answers its length field's address.
std::uint64_t bbxDwarfSkipBlock(BBXDwarfCursor* cursor, std::uint64_t* outLength)
{
    const std::uint64_t field = cursor->address;
    *outLength = BBXDwarfReadULEB128(cursor);
    cursor->address += *outLength;
    return field;
}

bool bbxDwarfSetRule(BBXDwarfRuleMachine* machine, std::uint64_t reg, BBXDwarfRuleKind kind,
                     std::uint64_t value, BBXDwarfError invalid)
{
    if (reg >= BBXDwarfRegisterCount)
        return BBX_DWARF_FAIL(invalid);
    machine->state.rules[reg] = BBXDwarfRule{kind, value};
    return true;
}

// Factored offsets times the alignment, wrapping as the machine does: bytes that overflow
// give a wrong rule, never undefined behaviour.
std::int64_t bbxDwarfFactored(std::int64_t factored, std::int64_t alignment)
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(factored) *
                                     static_cast<std::uint64_t>(alignment));
}

bool bbxDwarfAdvance(BBXDwarfRuleMachine* machine, const BBXDwarfCIE* cie, std::uint64_t delta)
{
    machine->location += delta * cie->codeAlignmentFactor;
    return true;
}

bool BBXDwarfParseAndExecuteInstructionWithOperand(BBXDwarfCursor* cursor, const BBXDwarfCIE* cie,
                                                   BBXDwarfRuleMachine* machine, std::uint8_t opcode)
{
    const std::uint8_t operand = opcode & BBXDwarfPrimaryOperandMask;
    switch (opcode & BBXDwarfPrimaryOpcodeMask) {
    case DW_CFA_advance_loc:
        BBX_LOG_WARN("DW_CFA_advance_loc %u", unsigned(operand));
        return bbxDwarfAdvance(machine, cie, operand);
    case DW_CFA_offset: {
        const std::uint64_t offset = BBXDwarfReadULEB128(cursor);
        const std::int64_t value =
            bbxDwarfFactored(static_cast<std::int64_t>(offset), cie->dataAlignmentFactor);
        BBX_LOG_WARN("DW_CFA_offset %u, %d", unsigned(operand), int(value));
        return bbxDwarfSetRule(machine, operand, BBXDwarfRuleKind::SavedAtCFAOffset,
                               static_cast<std::uint64_t>(value), BBXDwarfError::InvalidOffsetRegister);
    }
    default: // DW_CFA_restore
        BBX_LOG_WARN("DW_CFA_restore %u", unsigned(operand));
        if (operand >= BBXDwarfRegisterCount)
            return BBX_DWARF_FAIL(BBXDwarfError::InvalidRestoreRegister);
        machine->state.rules[operand] = machine->initial.rules[operand];
        return true;
    }
}

bool bbxDwarfExecute(BBXDwarfCursor* cursor, const BBXDwarfCIE* cie, BBXDwarfRuleMachine* machine,
                     std::uint8_t opcode)
{
    BBXDwarfRegisterState& state = machine->state;
    const std::int64_t dataAlignment = cie->dataAlignmentFactor;
    if ((opcode & BBXDwarfPrimaryOpcodeMask) != 0)
        return BBXDwarfParseAndExecuteInstructionWithOperand(cursor, cie, machine, opcode);
    switch (opcode) {
    case DW_CFA_nop:
        BBX_LOG_WARN("DW_CFA_nop");
        return true;
    case DW_CFA_set_loc: {
        const std::uint64_t address = BBXParseAddressWithEncodingAndAdvance(cursor, cie->pointerEncoding);
        BBX_LOG_WARN("DW_CFA_set_loc %p", address);
        if (address == BBXDwarfInvalidAddress || address < machine->pcBegin)
            return false;
        machine->location = address - machine->pcBegin;
        return true;
    }
    case DW_CFA_advance_loc1: {
        const std::uint64_t delta = BBXDwarfReadUInt8(cursor);
        BBX_LOG_WARN("DW_CFA_advance_loc1 %u", unsigned(delta));
        return bbxDwarfAdvance(machine, cie, delta);
    }
    case DW_CFA_advance_loc2: {
        const std::uint64_t delta = BBXDwarfReadUInt16(cursor);
        BBX_LOG_WARN("DW_CFA_advance_loc2 %u", unsigned(delta));
        return bbxDwarfAdvance(machine, cie, delta);
    }
    case DW_CFA_advance_loc4: {
        const std::uint64_t delta = BBXDwarfReadUInt32(cursor);
        BBX_LOG_WARN("DW_CFA_advance_loc4 %u", unsigned(delta));
        return bbxDwarfAdvance(machine, cie, delta);
    }
    case DW_CFA_offset_extended:
    case DW_CFA_offset_extended_sf:
    case DW_CFA_val_offset:
    case DW_CFA_val_offset_sf:
    case DW_CFA_GNU_negative_offset_extended: {
        const std::uint64_t reg = BBXDwarfReadULEB128(cursor);
        const bool isSigned = opcode == DW_CFA_offset_extended_sf || opcode == DW_CFA_val_offset_sf;
        std::int64_t factored =
            isSigned ? BBXDwarfReadSLEB128(cursor) : static_cast<std::int64_t>(BBXDwarfReadULEB128(cursor));
        if (opcode == DW_CFA_GNU_negative_offset_extended)
            factored = static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(factored));
        const std::int64_t value = bbxDwarfFactored(factored, dataAlignment);
        BBX_LOG_WARN("DW_CFA_offset_extended 0x%x %u, %d", unsigned(opcode), unsigned(reg), int(value));
        const BBXDwarfRuleKind kind = opcode == DW_CFA_val_offset || opcode == DW_CFA_val_offset_sf
                                          ? BBXDwarfRuleKind::ValueCFAOffset
                                          : BBXDwarfRuleKind::SavedAtCFAOffset;
        return bbxDwarfSetRule(machine, reg, kind, static_cast<std::uint64_t>(value),
                               BBXDwarfError::InvalidOffsetRegister);
    }
    case DW_CFA_restore_extended: {
        const std::uint64_t reg = BBXDwarfReadULEB128(cursor);
        BBX_LOG_WARN("DW_CFA_restore_extended %u", unsigned(reg));
        if (reg >= BBXDwarfRegisterCount)
            return BBX_DWARF_FAIL(BBXDwarfError::InvalidRestoreRegister);
        state.rules[reg] = machine->initial.rules[reg];
        return true;
    }
    case DW_CFA_undefined: {
        const std::uint64_t reg = BBXDwarfReadULEB128(cursor);
        BBX_LOG_WARN("DW_CFA_undefined %u", unsigned(reg));
        return bbxDwarfSetRule(machine, reg, BBXDwarfRuleKind::Undefined, 0,
                               BBXDwarfError::InvalidSameValueRegister);
    }
    case DW_CFA_same_value: {
        const std::uint64_t reg = BBXDwarfReadULEB128(cursor);
        BBX_LOG_WARN("DW_CFA_same_value %u", unsigned(reg));
        return bbxDwarfSetRule(machine, reg, BBXDwarfRuleKind::Unchanged, 0,
                               BBXDwarfError::InvalidSameValueRegister);
    }
    case DW_CFA_register: {
        const std::uint64_t reg = BBXDwarfReadULEB128(cursor);
        const std::uint64_t other = BBXDwarfReadULEB128(cursor);
        BBX_LOG_WARN("DW_CFA_register %u %u", unsigned(reg), unsigned(other));
        if (reg >= BBXDwarfRegisterCount)
            return BBX_DWARF_FAIL(BBXDwarfError::InvalidRegisterNumber);
        if (other >= BBXDwarfRegisterCount)
            return BBX_DWARF_FAIL(BBXDwarfError::InvalidRegisterValue);
        state.rules[reg] = BBXDwarfRule{BBXDwarfRuleKind::InRegister, other};
        return true;
    }
    case DW_CFA_remember_state:
        BBX_LOG_WARN("DW_CFA_remember_state");
        if (machine->rememberedCount >= BBXDwarfRememberDepth)
            return BBX_DWARF_FAIL(BBXDwarfError::RememberStackFull);
        machine->remembered[machine->rememberedCount++] = state;
        return true;
    case DW_CFA_restore_state: { // the rules and the CFA come back
        BBX_LOG_WARN("DW_CFA_restore_state");
        if (machine->rememberedCount == 0)
            return BBX_DWARF_FAIL(BBXDwarfError::RememberStackEmpty);
        const BBXDwarfRegisterState& saved = machine->remembered[--machine->rememberedCount];
        for (std::uint64_t i = 0; i < BBXDwarfRegisterCount; ++i)
            state.rules[i] = saved.rules[i];
        state.cfaRegister = saved.cfaRegister;
        state.cfaOffset = saved.cfaOffset;
        state.cfaExpression = saved.cfaExpression;
        return true;
    }
    case DW_CFA_def_cfa:
    case DW_CFA_def_cfa_sf: {
        const std::uint64_t reg = BBXDwarfReadULEB128(cursor);
        const std::int64_t offset = opcode == DW_CFA_def_cfa
                                        ? static_cast<std::int64_t>(BBXDwarfReadULEB128(cursor))
                                        : bbxDwarfFactored(BBXDwarfReadSLEB128(cursor), dataAlignment);
        BBX_LOG_WARN("DW_CFA_def_cfa %u, %d", unsigned(reg), int(offset));
        if (reg >= BBXDwarfRegisterCount)
            return BBX_DWARF_FAIL(BBXDwarfError::InvalidDefCfaRegister);
        state.cfaRegister = reg;
        state.cfaOffset = offset;
        state.cfaExpression = 0;
        return true;
    }
    case DW_CFA_def_cfa_register: {
        const std::uint64_t reg = BBXDwarfReadULEB128(cursor);
        BBX_LOG_WARN("DW_CFA_def_cfa_register %u", unsigned(reg));
        if (reg >= BBXDwarfRegisterCount)
            return BBX_DWARF_FAIL(BBXDwarfError::InvalidDefCfaRegisterRegister);
        state.cfaRegister = reg;
        state.cfaExpression = 0;
        return true;
    }
    case DW_CFA_def_cfa_offset:
    case DW_CFA_def_cfa_offset_sf: {
        const std::int64_t offset = opcode == DW_CFA_def_cfa_offset
                                        ? static_cast<std::int64_t>(BBXDwarfReadULEB128(cursor))
                                        : bbxDwarfFactored(BBXDwarfReadSLEB128(cursor), dataAlignment);
        BBX_LOG_WARN("DW_CFA_def_cfa_offset %d", int(offset));
        state.cfaOffset = offset;
        return true;
    }
    case DW_CFA_def_cfa_expression: {
        std::uint64_t length = 0;
        const std::uint64_t field = bbxDwarfSkipBlock(cursor, &length);
        BBX_LOG_WARN("DW_CFA_def_cfa_expression %u", unsigned(length));
        state.cfaRegister = BBXDwarfCFAExpressionRegister;
        state.cfaExpression = field;
        return true;
    }
    case DW_CFA_expression:
    case DW_CFA_val_expression: {
        const std::uint64_t reg = BBXDwarfReadULEB128(cursor);
        std::uint64_t length = 0;
        const std::uint64_t field = bbxDwarfSkipBlock(cursor, &length);
        if (opcode == DW_CFA_expression) {
            BBX_LOG_WARN("DW_CFA_expression %u %u", unsigned(reg), unsigned(length));
            return bbxDwarfSetRule(machine, reg, BBXDwarfRuleKind::AtExpression, field,
                                   BBXDwarfError::InvalidExpressionRegister);
        }
        BBX_LOG_WARN("DW_CFA_val_expression %u %u", unsigned(reg), unsigned(length));
        return bbxDwarfSetRule(machine, reg, BBXDwarfRuleKind::ValueOfExpression, field,
                               BBXDwarfError::InvalidValExpressionRegister);
    }
    case DW_CFA_GNU_args_size: { // only landing pads care
        const std::uint64_t size = BBXDwarfReadULEB128(cursor);
        BBX_LOG_WARN("DW_CFA_GNU_args_size %u", unsigned(size));
        return true;
    }
    case DW_CFA_GNU_window_save:
        return BBX_DWARF_FAIL(BBXDwarfError::UnimplementedInstruction, opcode);
    default:
        return BBX_DWARF_FAIL(BBXDwarfError::UnrecognizedInstruction, opcode);
    }
}

} // namespace

bool BBXDwarfInstructionsEnumerate(const BBXUnwindMemory* memory, std::uint64_t start, std::uint32_t length,
                                   const BBXDwarfCIE* cie, BBXDwarfRuleMachine* machine, std::uint64_t limit)
{
    if (start == 0 || cie == nullptr || machine == nullptr || memory == nullptr)
        return BBX_DWARF_FAIL(BBXDwarfError::InstructionInputsInvalid);
    machine->location = 0;
    const std::uint64_t end = start + length;
    BBX_LOG_WARN("Running instructions from %p to %p", start, end);
    if (start >= end || limit < 1)
        return true;
    BBXDwarfCursor cursor{memory, start, false};
    while (true) {
        const std::uint8_t opcode = BBXDwarfReadUInt8(&cursor);
        if (cursor.failed)
            return BBX_DWARF_FAIL(BBXDwarfError::ReadFailed, cursor.address);
        if (!bbxDwarfExecute(&cursor, cie, machine, opcode) || cursor.failed)
            return BBX_DWARF_FAIL(BBXDwarfError::FailedToExecuteInstruction, opcode);
        if (cursor.address >= end || machine->location >= limit)
            return true;
    }
}

bool BBXDwarfComputeRulesForPC(const BBXUnwindMemory* memory, const BBXDwarfFDERecord* record,
                               std::uint64_t pc, bool exactPC, BBXDwarfRuleMachine* machine)
{
    if (record == nullptr || machine == nullptr)
        return false;
    machine->state = BBXDwarfRegisterState{};
    machine->rememberedCount = 0;
    machine->pcBegin = 0;
    machine->initial = machine->state;
    if (!BBXDwarfInstructionsEnumerate(memory, record->cie.instructions, record->cie.instructionsLength,
                                       &record->cie, machine, 0x7FFFFFFFFFFFFFFFull))
        return BBX_DWARF_FAIL(BBXDwarfError::UnableToRunCieInstructions);
    machine->initial = machine->state;
    machine->rememberedCount = 0;
    machine->pcBegin = record->fde.pcBegin;
    if (pc < record->fde.pcBegin)
        return BBX_DWARF_FAIL(BBXDwarfError::NegativePcOffset);
    // A return address (already less one) lies inside its call: rows that begin at it do
    // not apply yet. An exact PC has executed nothing at its own location: rows there do.
    const std::uint64_t limit = pc - record->fde.pcBegin + (exactPC ? 1 : 0);
    if (!BBXDwarfInstructionsEnumerate(memory, record->fde.instructions, record->fde.instructionsLength,
                                       &record->cie, machine, limit))
        return BBX_DWARF_FAIL(BBXDwarfError::UnableToRunFdeInstructions);
    return true;
}

bool BBXDwarfGetCFA(const BBXUnwindMemory* memory, const BBXDwarfRegisterState* state,
                    const BBXThreadContext* threadContext, std::uint64_t* out)
{
    if (state == nullptr || threadContext == nullptr || out == nullptr)
        return BBX_DWARF_FAIL(BBXDwarfError::CfaInputInvalid);
    if (state->cfaExpression == 0) {
        if (state->cfaRegister >= BBXDwarfRegisterCount)
            return false;
        *out = BBXDwarfUnwindGetRegisterValue(threadContext, state->cfaRegister) +
               static_cast<std::uint64_t>(state->cfaOffset);
        return true;
    }
    if (!BBXDwarfEvalulateExpression(memory, state->cfaExpression, threadContext, 0, out))
        return BBX_DWARF_FAIL(BBXDwarfError::CfaExpressionFailed);
    return true;
}

std::uint64_t BBXDwarfGetSavedRegister(const BBXUnwindMemory* memory, const BBXThreadContext* threadContext,
                                       std::uint64_t cfa, BBXDwarfRule rule)
{
    BBX_LOG_WARN("Getting register %x", unsigned(rule.kind));
    std::uint64_t value = 0;
    switch (rule.kind) {
    case BBXDwarfRuleKind::SavedAtCFAOffset:
        if (!BBXUnwindReadTarget(memory, cfa + rule.value, &value, sizeof value))
            return BBX_DWARF_FAIL(BBXDwarfError::UnableToReadCfaValue), 0;
        return value;
    case BBXDwarfRuleKind::ValueCFAOffset:
        return cfa + rule.value;
    case BBXDwarfRuleKind::InRegister:
        return BBXDwarfUnwindGetRegisterValue(threadContext, rule.value);
    case BBXDwarfRuleKind::AtExpression: {
        std::uint64_t address = 0;
        if (!BBXDwarfEvalulateExpression(memory, rule.value, threadContext, cfa, &address))
            return BBX_DWARF_FAIL(BBXDwarfError::UnableToEvaluateExpression), 0;
        if (!BBXUnwindReadTarget(memory, address, &value, sizeof value))
            return BBX_DWARF_FAIL(BBXDwarfError::UnableToReadExpressionMemory), 0;
        return value;
    }
    case BBXDwarfRuleKind::ValueOfExpression:
        if (!BBXDwarfEvalulateExpression(memory, rule.value, threadContext, cfa, &value))
            return BBX_DWARF_FAIL(BBXDwarfError::UnableToEvaluateExpression), 0;
        return value;
    case BBXDwarfRuleKind::Undefined:
        return 0;
    default:
        return BBX_DWARF_FAIL(BBXDwarfError::UnrecognizedSaveLocation, unsigned(rule.kind)), 0;
    }
}

bool BBXDwarfUnwindAssignRegisters(const BBXUnwindMemory* memory, const BBXDwarfRegisterState* state,
                                   const BBXThreadContext* threadContext, std::uint64_t cfa,
                                   BBXThreadContext* outContext)
{
    if (state == nullptr || threadContext == nullptr || outContext == nullptr)
        return BBX_DWARF_FAIL(BBXDwarfError::AssignInputInvalid);
    BBXThreadContext copy = *threadContext;
    for (std::uint64_t i = 0; i < BBXDwarfRegisterCount; ++i) {
        const BBXDwarfRule rule = state->rules[i];
        // The return address has no "same value": without a rule the caller cannot be found.
        if (rule.kind == BBXDwarfRuleKind::Unchanged)
            continue;
        const std::uint64_t value = BBXDwarfGetSavedRegister(memory, threadContext, cfa, rule);
        if (!BBXDwarfUnwindSetRegisterValue(&copy, i, value))
            return BBX_DWARF_FAIL(BBXDwarfError::UnableToRestoreRegister);
    }
    if (!BBXDwarfUnwindSetRegisterValue(&copy, BBXDwarfRegisterSP, cfa))
        return BBX_DWARF_FAIL(BBXDwarfError::UnableToRestoreSp);
    if (copy.rsp == threadContext->rsp)
        return BBX_DWARF_FAIL(BBXDwarfError::StackPointerUnchanged);
    if (copy.rip == threadContext->rip)
        return BBX_DWARF_FAIL(BBXDwarfError::PcUnchanged);
    *outContext = copy;
    return true;
}

bool BBXDwarfUnwindComputeRegisters(const BBXUnwindMemory* memory, const BBXDwarfFDERecord* record,
                                    BBXThreadContext* threadContext, bool exactPC)
{
    if (record == nullptr || threadContext == nullptr)
        return false;
    BBXDwarfRuleMachine machine;
    if (!BBXDwarfComputeRulesForPC(memory, record, threadContext->rip, exactPC, &machine))
        return false;
    std::uint64_t cfa = 0;
    if (!BBXDwarfGetCFA(memory, &machine.state, threadContext, &cfa))
        return BBX_DWARF_FAIL(BBXDwarfError::FailedToGetCfa);
    if (!BBXDwarfUnwindAssignRegisters(memory, &machine.state, threadContext, cfa, threadContext))
        return BBX_DWARF_FAIL(BBXDwarfError::UnableToAssignRegisters);
    return true;
}

bool BBXDwarfRegisterUnchanged(const BBXThreadContext* a, const BBXThreadContext* b, std::uint64_t number)
{
    return BBXDwarfUnwindGetRegisterValue(a, number) == BBXDwarfUnwindGetRegisterValue(b, number);
}

} // namespace corvex
