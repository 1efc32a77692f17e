// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/unwind/BBXDwarfExpression.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXSDKLog.h"
#include "crash/unwind/BBXDwarfErrors.h"

namespace corvex {

namespace {

bool bbxExpressionPush(BBXDwarfExpressionMachine* machine, std::uint64_t value)
{
    if (!machine->stackValid || machine->depth >= BBXDwarfExpressionStackSize) {
        machine->stackValid = false;
        return false;
    }
    machine->stack[machine->depth++] = value;
    return true;
}

std::uint64_t bbxExpressionPop(BBXDwarfExpressionMachine* machine)
{
    if (machine->depth == 0) {
        machine->stackValid = false;
        return 0;
    }
    return machine->stack[--machine->depth];
}

std::uint64_t bbxExpressionPeek(BBXDwarfExpressionMachine* machine)
{
    if (machine->depth == 0) {
        machine->stackValid = false;
        return 0;
    }
    return machine->stack[machine->depth - 1];
}

bool BBXDwarfExpressionMachineExecute_deref(BBXDwarfExpressionMachine* machine)
{
    const std::uint64_t address = bbxExpressionPop(machine);
    std::uint64_t value = 0;
    if (!BBXUnwindReadTarget(machine->cursor.memory, address, &value, sizeof value))
        return BBX_DWARF_FAIL(BBXDwarfError::DerefReadFailed);
    BBX_LOG_WARN("DW_OP_deref value %p", value);
    return bbxExpressionPush(machine, value);
}

bool BBXDwarfExpressionMachineExecute_deref_size(BBXDwarfExpressionMachine* machine)
{
    const std::uint64_t address = bbxExpressionPop(machine);
    const std::uint8_t size = BBXDwarfReadUInt8(&machine->cursor);
    if (size != 1 && size != 2 && size != 4 && size != 8)
        return BBX_DWARF_FAIL(BBXDwarfError::DerefSizeInvalid, size);
    std::uint64_t value = 0; // little-endian: the low bytes take the read, the rest stay zero
    if (!BBXUnwindReadTarget(machine->cursor.memory, address, &value, size))
        return BBX_DWARF_FAIL(BBXDwarfError::DerefReadFailed);
    BBX_LOG_WARN("DW_OP_deref_size %p size %u", value, unsigned(size));
    return bbxExpressionPush(machine, value);
}

bool BBXDwarfExpressionMachineExecute_binary(BBXDwarfExpressionMachine* machine, std::uint8_t opcode)
{
    const std::uint64_t a = bbxExpressionPop(machine);
    const std::uint64_t b = bbxExpressionPop(machine);
    std::uint64_t result = 0;
    switch (opcode) {
    case 0x1A:
        BBX_LOG_WARN("DW_OP_plus_and");
        result = b & a;
        break;
    case 0x22:
        BBX_LOG_WARN("DW_OP_plus");
        result = a + b;
        break;
    case 0x24:
        BBX_LOG_WARN("DW_OP_shl");
        result = a >= 64 ? 0 : b << a;
        break;
    case 0x2A:
        BBX_LOG_WARN("DW_OP_ge");
        result = static_cast<std::int64_t>(b) >= static_cast<std::int64_t>(a) ? 1 : 0;
        break;
    default:
        BBX_LOG_WARN("DW_OP_ne");
        result = a != b ? 1 : 0;
        break;
    }
    return bbxExpressionPush(machine, result);
}

} // namespace

bool BBXDwarfExpressionMachineInit(BBXDwarfExpressionMachine* machine, const BBXUnwindMemory* memory,
                                   std::uint64_t expression, const BBXThreadContext* threadContext,
                                   std::uint64_t initialValue)
{
    if (machine == nullptr)
        return false;
    machine->depth = 0;
    machine->stackValid = true;
    machine->end = 0;
    machine->threadContext = threadContext;
    machine->cursor = BBXDwarfCursor{memory, expression, false};
    if (!BBXIsValidAddress(expression))
        return BBX_DWARF_FAIL(BBXDwarfError::ExpressionInitFailed);
    return bbxExpressionPush(machine, initialValue);
}

bool BBXDwarfExpressionMachinePrepareForExecution(BBXDwarfExpressionMachine* machine)
{
    const std::uint64_t length = BBXDwarfReadULEB128(&machine->cursor);
    if (machine->cursor.failed)
        return false;
    if (length == 0)
        return BBX_DWARF_FAIL(BBXDwarfError::ExpressionLengthZero);
    machine->end = machine->cursor.address + length;
    return machine->end > machine->cursor.address;
}

bool BBXDwarfExpressionMachineIsFinished(BBXDwarfExpressionMachine* machine)
{
    if (!BBXIsValidAddress(machine->cursor.address) || !BBXIsValidAddress(machine->end)) {
        BBX_DWARF_FAIL(BBXDwarfError::ExpressionPointersInvalid);
        return true;
    }
    if (!machine->stackValid || machine->depth > BBXDwarfExpressionStackSize) {
        BBX_DWARF_FAIL(BBXDwarfError::ExpressionStackInvalid);
        return true;
    }
    return machine->cursor.failed || machine->cursor.address >= machine->end;
}

bool BBXDwarfExpressionMachineGetResult(BBXDwarfExpressionMachine* machine, std::uint64_t* out)
{
    if (machine->cursor.failed || machine->cursor.address != machine->end)
        return BBX_DWARF_FAIL(BBXDwarfError::ExpressionNotCompleted);
    if (!machine->stackValid || machine->depth == 0)
        return false;
    *out = machine->stack[machine->depth - 1];
    return true;
}

bool BBXDwarfExpressionMachineExecuteNextOpcode(BBXDwarfExpressionMachine* machine)
{
    const std::uint8_t opcode = BBXDwarfReadUInt8(&machine->cursor);
    if (machine->cursor.failed)
        return false;
    bool ok = true;
    switch (opcode) {
    case 0x06:
        ok = BBXDwarfExpressionMachineExecute_deref(machine);
        break;
    case 0x12: {
        const std::uint64_t top = bbxExpressionPeek(machine);
        BBX_LOG_WARN("DW_OP_dup value %p", top);
        ok = bbxExpressionPush(machine, top);
        break;
    }
    case 0x16: {
        BBX_LOG_WARN("DW_OP_swap");
        const std::uint64_t a = bbxExpressionPop(machine);
        const std::uint64_t b = bbxExpressionPop(machine);
        ok = bbxExpressionPush(machine, a) && bbxExpressionPush(machine, b);
        break;
    }
    case 0x1A:
    case 0x22:
    case 0x24:
    case 0x2A:
    case 0x2E:
        ok = BBXDwarfExpressionMachineExecute_binary(machine, opcode);
        break;
    case 0x23: {
        const std::uint64_t a = bbxExpressionPop(machine);
        const std::uint64_t sum = a + BBXDwarfReadULEB128(&machine->cursor);
        BBX_LOG_WARN("DW_OP_plus_uconst value %p", sum);
        ok = bbxExpressionPush(machine, sum);
        break;
    }
    case 0x94:
        ok = BBXDwarfExpressionMachineExecute_deref_size(machine);
        break;
    default:
        if (opcode >= 0x30 && opcode <= 0x4F) {
            BBX_LOG_WARN("DW_OP_lit %u", unsigned(opcode - 0x30));
            ok = bbxExpressionPush(machine, opcode - 0x30u);
        } else if (opcode >= 0x70 && opcode <= 0x80) {
            const std::int64_t offset = BBXDwarfReadSLEB128(&machine->cursor);
            const std::uint64_t value =
                BBXDwarfUnwindGetRegisterValue(machine->threadContext, opcode - 0x70u) +
                static_cast<std::uint64_t>(offset);
            BBX_LOG_WARN("DW_OP_breg %d value %p", int(opcode - 0x70), value);
            ok = bbxExpressionPush(machine, value);
        } else if (opcode >= 0x81 && opcode <= 0x8F) {
            return BBX_DWARF_FAIL(BBXDwarfError::BregInvalidRegister);
        } else {
            return BBX_DWARF_FAIL(BBXDwarfError::UnrecognizedExpressionOpcode, opcode);
        }
    }
    return ok && machine->stackValid && !machine->cursor.failed;
}

bool BBXDwarfEvalulateExpression(const BBXUnwindMemory* memory, std::uint64_t expression,
                                 const BBXThreadContext* threadContext, std::uint64_t initialValue,
                                 std::uint64_t* out)
{
    BBX_LOG_WARN("starting at %p with initial value %p", expression, initialValue);
    if (!BBXIsValidAddress(expression) || !BBXIsValidPointer(out) || memory == nullptr)
        return BBX_DWARF_FAIL(BBXDwarfError::ExpressionInputsInvalid);
    BBXDwarfExpressionMachine machine;
    if (!BBXDwarfExpressionMachineInit(&machine, memory, expression, threadContext, initialValue))
        return false;
    if (!BBXDwarfExpressionMachinePrepareForExecution(&machine))
        return BBX_DWARF_FAIL(BBXDwarfError::ExpressionPrepareFailed);
    while (!BBXDwarfExpressionMachineIsFinished(&machine)) {
        if (!BBXDwarfExpressionMachineExecuteNextOpcode(&machine))
            return BBX_DWARF_FAIL(BBXDwarfError::ExpressionOpcodeFailed);
    }
    if (!BBXDwarfExpressionMachineGetResult(&machine, out))
        return BBX_DWARF_FAIL(BBXDwarfError::ExpressionResultFailed);
    BBX_LOG_WARN("successfully computed expression result");
    return true;
}

} // namespace corvex
