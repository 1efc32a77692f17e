// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/unwind/BBXCompactUnwind.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXSDKLog.h"
#include "crash/unwind/BBXDwarfCFI.h"

namespace corvex {

namespace {

const BBXUnwindMemory* bbxCompactMemory(const BBXCompactUnwindContext* context)
{
    return context->memory != nullptr ? context->memory : BBXUnwindLiveMemory();
}

template <typename T>
bool bbxCompactReadImage(const BBXCompactUnwindContext* context, std::uint64_t address, T* out)
{
    return BBXUnwindReadImage(bbxCompactMemory(context), address, out, sizeof(T));
}

bool BBXCompactUnwindLookupFirstLevel(BBXCompactUnwindContext* context, std::uint64_t pc)
{
    if (context->indexCount < 2 || pc < context->loadAddress)
        return false;
    const std::uint64_t target = pc - context->loadAddress;
    const std::uint64_t index = context->unwindInfo + context->indexSectionOffset;
    for (std::uint32_t i = 0; i + 1 < context->indexCount; ++i) {
        std::uint32_t entry[3] = {};
        std::uint32_t next = 0;
        if (!bbxCompactReadImage(context, index + i * 12ull, &entry) ||
            !bbxCompactReadImage(context, index + (i + 1) * 12ull, &next))
            return false;
        if (entry[0] <= target && target < next) {
            context->firstLevelFunctionOffset = entry[0];
            context->firstLevelSecondLevelPageOffset = entry[1];
            context->firstLevelLsdaIndexOffset = entry[2];
            context->firstLevelNextFunctionOffset = next;
            BBX_LOG_DEBUG("Found first level (second => %u)", entry[1]);
            return true;
        }
    }
    BBX_LOG_WARN("Unable to find pc in first level");
    return false;
}

std::uint64_t BBXCompactUnwindGetTargetAddress(std::uint64_t pc, std::uint64_t base)
{
    if (pc <= base) {
        BBX_LOG_WARN("Error: PC is invalid");
        return 0;
    }
    return pc - base;
}

bool BBXCompactUnwindSearchCompressedEntries(const BBXCompactUnwindContext* context, std::uint64_t entries,
                                             std::uint32_t count, std::uint64_t target,
                                             std::uint32_t* outIndex)
{
    if (target == 0 || count == 0)
        return false;
    std::uint32_t low = 0;
    std::uint32_t high = count;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        std::uint32_t word = 0;
        if (!bbxCompactReadImage(context, entries + middle * 4ull, &word))
            return false;
        if ((word & 0xFFFFFF) <= target)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == 0)
        return false;
    *outIndex = low - 1;
    return true;
}

bool BBXCompactUnwindLookupSecondLevelCompressed(BBXCompactUnwindContext* context, std::uint64_t pc,
                                                 std::uint64_t page, BBXCompactUnwindResult* result)
{
    std::uint16_t header[4] = {}; // entry page offset, entry count, encodings page offset, encodings count
    if (!bbxCompactReadImage(context, page + 4, &header))
        return false;
    const std::uint64_t base = context->loadAddress + context->firstLevelFunctionOffset;
    const std::uint64_t target = BBXCompactUnwindGetTargetAddress(pc, base);
    const std::uint64_t entries = page + header[0];
    std::uint32_t index = 0;
    if (!BBXCompactUnwindSearchCompressedEntries(context, entries, header[1], target, &index)) {
        BBX_LOG_INFO("Unable to find PC in second level");
        return false;
    }
    std::uint32_t word = 0;
    if (!bbxCompactReadImage(context, entries + index * 4ull, &word))
        return false;
    const std::uint64_t start = base + (word & 0xFFFFFF);
    std::uint64_t end = context->loadAddress + context->firstLevelNextFunctionOffset;
    if (index + 1u < header[1]) {
        std::uint32_t next = 0;
        if (!bbxCompactReadImage(context, entries + (index + 1) * 4ull, &next))
            return false;
        end = base + (next & 0xFFFFFF);
    }
    if (start > pc || end <= pc) {
        BBX_LOG_WARN("PC does not match computed function range");
        return false;
    }
    const std::uint32_t encodingIndex = word >> 24;
    std::uint32_t encoding = 0;
    const std::uint64_t encodingAddress =
        encodingIndex < context->commonEncodingsArrayCount
            ? context->unwindInfo + context->commonEncodingsArraySectionOffset + encodingIndex * 4ull
            : page + header[2] + (encodingIndex - context->commonEncodingsArrayCount) * 4ull;
    if (!bbxCompactReadImage(context, encodingAddress, &encoding))
        return false;
    if (encoding == 0) {
        BBX_LOG_INFO("Entry has has no unwind info");
        return false;
    }
    result->encoding = encoding;
    result->functionStart = start;
    result->functionEnd = end;
    return true;
}

bool BBXCompactUnwindLookupSecondLevel(BBXCompactUnwindContext* context, std::uint64_t pc,
                                       BBXCompactUnwindResult* result)
{
    const std::uint64_t page = context->unwindInfo + context->firstLevelSecondLevelPageOffset;
    std::uint32_t kind = 0;
    if (!bbxCompactReadImage(context, page, &kind))
        return false;
    switch (kind) {
    case 3:
        BBX_LOG_INFO("Found a second level compressed header");
        return BBXCompactUnwindLookupSecondLevelCompressed(context, pc, page, result);
    case 2:
        BBX_LOG_INFO("Found a second level regular header");
        BBX_LOG_WARN("Encountered a regular second-level page");
        return false;
    default:
        BBX_LOG_ERROR("Unrecognized header kind - unable to continue");
        return false;
    }
}

bool BBXCompactUnwindComputeStackSize(const BBXUnwindMemory* memory, std::uint32_t encoding,
                                      std::uint64_t functionStart, bool indirect, std::uint64_t* out)
{
    const std::uint32_t size = (encoding >> 16) & 0xFF;
    if (!indirect) {
        *out = size * 8ull;
        return true;
    }
    std::uint32_t immediate = 0;
    if (!BBXUnwindReadTarget(memory, functionStart + size, &immediate, sizeof immediate)) {
        BBX_LOG_WARN("Error: unable to read subl value");
        return false;
    }
    *out = immediate + ((encoding >> 13) & 0x7) * 8ull;
    return true;
}

bool BBXCompactUnwindRestoreRegisters(const BBXUnwindMemory* memory, BBXThreadContext* threadContext,
                                      const std::uint32_t* registers, std::uint32_t count,
                                      std::uint64_t stackSize, std::uint64_t* outAddress)
{
    std::uint64_t address = threadContext->rsp + stackSize - 8 - 8ull * count;
    for (std::uint32_t i = 0; i < count; ++i, address += 8) {
        if (registers[i] != 6) {
            BBX_LOG_WARN("Error: skipping a restore of register %d at %p", int(registers[i]), address);
            continue;
        }
        std::uint64_t value = 0;
        if (!BBXUnwindReadTarget(memory, address, &value, sizeof value)) {
            BBX_LOG_WARN("Error: unable to read memory to set register");
            return false;
        }
        if (!BBXThreadContextSetFP(threadContext, value)) {
            BBX_LOG_WARN("Error: unable to set FP");
            return false;
        }
    }
    *outAddress = address;
    return true;
}

} // namespace

bool BBXCompactUnwindDecompressPermutation(std::uint32_t p, std::uint32_t count, std::uint32_t* digits)
{
    switch (count) {
    case 0:
        return true;
    case 1:
        digits[0] = p;
        return true;
    case 2:
        digits[0] = p / 5;
        digits[1] = p % 5;
        return true;
    case 3:
        digits[0] = p / 20;
        digits[1] = (p % 20) / 4;
        digits[2] = p % 4;
        return true;
    case 4:
        digits[0] = p / 60;
        digits[1] = (p % 60) / 12;
        digits[2] = (p % 12) / 3;
        digits[3] = p % 3;
        return true;
    case 5:
    case 6:
        digits[0] = p / 120;
        digits[1] = (p % 120) / 24;
        digits[2] = (p % 24) / 6;
        digits[3] = (p % 6) / 2;
        digits[4] = p % 2;
        if (count == 6)
            digits[5] = 0;
        return true;
    default:
        return false;
    }
}

bool BBXCompactUnwindRemapRegisters(const std::uint32_t* digits, std::uint32_t count,
                                    std::uint32_t* registers)
{
    if (count > 6) {
        BBX_LOG_WARN("Error: invalid register number count %d", int(count));
        return false;
    }
    bool used[7] = {};
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t remaining = digits[i];
        std::uint32_t chosen = 0;
        for (std::uint32_t number = 1; number <= 6; ++number) {
            if (used[number])
                continue;
            if (remaining == 0) {
                chosen = number;
                break;
            }
            --remaining;
        }
        if (chosen == 0)
            return false;
        used[chosen] = true;
        registers[i] = chosen;
    }
    return true;
}

bool BBXCompactUnwindInit(BBXCompactUnwindContext* context, std::uint64_t unwindInfo, std::uint64_t ehFrame,
                          std::uint64_t loadAddress, const BBXUnwindMemory* memory)
{
    if (!BBXIsValidPointer(context)) {
        BBX_LOG_WARN("Error: invalid context passed to compact unwind init");
        return false;
    }
    if (!BBXIsValidAddress(unwindInfo)) {
        BBX_LOG_WARN("Error: invalid unwind info passed to compact unwind init");
        return false;
    }
    if (!BBXIsValidAddress(loadAddress)) {
        BBX_LOG_WARN("Error: invalid load address passed to compact unwind init");
        return false;
    }
    *context = BBXCompactUnwindContext{};
    context->memory = memory;
    std::uint32_t header[7] = {};
    if (!BBXUnwindReadTarget(bbxCompactMemory(context), unwindInfo, header, sizeof header)) {
        BBX_LOG_WARN("Error: could not read memory contents of unwindInfo");
        return false;
    }
    if (header[0] != 1) {
        BBX_LOG_WARN("Error: bad unwind_info structure version (%d != %d)", int(header[0]), 1);
        return false;
    }
    context->version = header[0];
    context->commonEncodingsArraySectionOffset = header[1];
    context->commonEncodingsArrayCount = header[2];
    context->personalityArraySectionOffset = header[3];
    context->personalityArrayCount = header[4];
    context->indexSectionOffset = header[5];
    context->indexCount = header[6];
    context->unwindInfo = unwindInfo;
    context->ehFrame = ehFrame;
    context->loadAddress = loadAddress;
    return true;
}

bool BBXCompactUnwindLookup(BBXCompactUnwindContext* context, std::uint64_t pc,
                            BBXCompactUnwindResult* result)
{
    if (!BBXIsValidPointer(context) || !BBXIsValidPointer(result))
        return false;
    if (!BBXCompactUnwindLookupFirstLevel(context, pc))
        return false;
    if (!BBXCompactUnwindLookupSecondLevel(context, pc, result)) {
        BBX_LOG_INFO("Second-level PC lookup failed");
        return false;
    }
    return true;
}

bool BBXCompactUnwindLookupAndCompute(BBXCompactUnwindContext* context, BBXThreadContext* threadContext)
{
    if (!BBXIsValidPointer(context) || !BBXIsValidPointer(threadContext))
        return false;
    const std::uint64_t pc = threadContext->rip;
    if (pc < context->loadAddress)
        return false;
    BBXCompactUnwindResult result{};
    if (!BBXCompactUnwindLookup(context, pc, &result)) {
        BBX_LOG_INFO("Unable to lookup compact unwind for pc %p", pc);
        return false;
    }
    if (!BBXCompactUnwindComputeRegisters(context, &result, threadContext)) {
        BBX_LOG_ERROR("Failed to compute registers");
        return false;
    }
    return true;
}

bool BBXCompactUnwindComputeRegisters(BBXCompactUnwindContext* context, const BBXCompactUnwindResult* result,
                                      BBXThreadContext* threadContext)
{
    if (!BBXIsValidPointer(context) || !BBXIsValidPointer(result) || !BBXIsValidPointer(threadContext)) {
        BBX_LOG_ERROR("invalid inputs");
        return false;
    }
    const std::uint32_t encoding = result->encoding;
    BBX_LOG_DEBUG("Computing registers for encoding %x", encoding);
    const BBXUnwindMemory* memory = bbxCompactMemory(context);
    switch (encoding & BBXCompactUnwindModeMask) {
    case BBXCompactUnwindModeFramePointer:
        return BBXCompactUnwindBPFrame(memory, threadContext);
    case BBXCompactUnwindModeFramelessImmediate:
        return BBXCompactUnwindFrameless(memory, encoding, threadContext, result->functionStart, false);
    case BBXCompactUnwindModeFramelessIndirect:
        return BBXCompactUnwindFrameless(memory, encoding, threadContext, result->functionStart, true);
    case BBXCompactUnwindModeDwarf:
        return BBXCompactUnwindDwarfFrame(context, encoding & 0xFFFFFF, threadContext);
    default:
        BBX_LOG_ERROR("Invalid encoding %x", encoding);
        return false;
    }
}

bool BBXCompactUnwindBPFrame(const BBXUnwindMemory* memory, BBXThreadContext* threadContext)
{
    if (memory == nullptr || !BBXIsValidPointer(threadContext))
        return false;
    const std::uint64_t fp = threadContext->rbp;
    std::uint64_t record[2] = {};
    if (!BBXUnwindReadTarget(memory, fp, record, sizeof record)) {
        BBX_LOG_WARN("Error: failed to read memory at address %p", fp);
        return false;
    }
    threadContext->rip = record[1];
    threadContext->rbp = record[0];
    threadContext->rsp = BBXUnwindStackPointerForFramePointer(fp);
    return true;
}

bool BBXCompactUnwindFrameless(const BBXUnwindMemory* memory, std::uint32_t encoding,
                               BBXThreadContext* threadContext, std::uint64_t functionStart, bool indirect)
{
    BBX_LOG_WARN("Frameless unwind encountered with encoding %x", encoding);
    std::uint64_t stackSize = 0;
    if (!BBXCompactUnwindComputeStackSize(memory, encoding, functionStart, indirect, &stackSize)) {
        BBX_LOG_WARN("Error: unable to compute stack size for encoding %x", encoding);
        return false;
    }
    const std::uint32_t count = (encoding >> 10) & 0x7;
    std::uint32_t digits[6] = {};
    if (count == 7) {
        BBX_LOG_WARN("Error: unhandled number of register permutations for encoding %x", encoding);
        BBX_LOG_WARN("Error: unable to decompress registers %x", encoding);
        return false;
    }
    if (!BBXCompactUnwindDecompressPermutation(encoding & 0x3FF, count, digits)) {
        BBX_LOG_WARN("Error: unable to decompress registers %x", encoding);
        return false;
    }
    std::uint32_t registers[6] = {};
    if (!BBXCompactUnwindRemapRegisters(digits, count, registers)) {
        BBX_LOG_WARN("Error: unable to remap registers %x", encoding);
        return false;
    }
    std::uint64_t address = 0;
    if (!BBXCompactUnwindRestoreRegisters(memory, threadContext, registers, count, stackSize, &address)) {
        BBX_LOG_WARN("Error: unable to restore registers");
        return false;
    }
    BBX_LOG_WARN("SP is %p and we are reading %p", threadContext->rsp, address);
    std::uint64_t pc = 0;
    if (!BBXUnwindReadTarget(memory, address, &pc, sizeof pc)) {
        BBX_LOG_WARN("Error: unable to read memory to set register");
        return false;
    }
    BBX_LOG_WARN("Read PC to be %p", pc);
    if (!BBXIsValidAddress(pc)) {
        BBX_LOG_WARN("Error: computed PC is invalid");
        return false;
    }
    threadContext->rip = pc;
    threadContext->rsp = address + 8;
    return true;
}

bool BBXCompactUnwindDwarfFrame(BBXCompactUnwindContext* context, std::uint64_t fdeOffset,
                                BBXThreadContext* threadContext)
{
    if (!BBXIsValidPointer(context) || !BBXIsValidPointer(threadContext))
        return false;
    BBX_LOG_INFO("Trying to read dwarf data with offset %p", fdeOffset);
    const BBXUnwindMemory* memory = bbxCompactMemory(context);
    BBXDwarfFDERecord record;
    if (!BBXDwarfParseFDEAtOffset(memory, &record, context->ehFrame, fdeOffset)) {
        BBX_LOG_ERROR("Unable to init FDE");
        return false;
    }
    const std::uint64_t pc = threadContext->rip;
    if (context->checkFDERange &&
        (pc < record.fde.pcBegin || pc - record.fde.pcBegin >= record.fde.pcRange)) {
        BBX_LOG_INFO("PC %p lies outside the FDE at %p", pc, context->ehFrame + fdeOffset);
        return false;
    }
    if (!BBXDwarfUnwindComputeRegisters(memory, &record, threadContext, context->exactPC)) {
        BBX_LOG_ERROR("Failed to compute DWARF registers");
        return false;
    }
    return true;
}

} // namespace corvex
