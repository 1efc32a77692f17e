// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/unwind/BBXUnwind.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXMemory.h"
#include "crash/runtime/BBXSDKLog.h"
#include "crash/unwind/BBXDwarfReaders.h"

#include <cstring>

namespace corvex {

namespace {

bool bbxUnwindReadImageLive(const BBXUnwindMemory*, std::uint64_t address, void* out, std::size_t length)
{
    return BBXUnwindLiveMemory()->readImage(BBXUnwindLiveMemory(), address, out, length);
}

bool bbxUnwindReadStackCached(const BBXUnwindMemory* memory, std::uint64_t address, void* out,
                              std::size_t length)
{
    auto* cache = static_cast<BBXUnwindStackCache*>(memory->context);
    const std::uint64_t block = address & ~std::uint64_t(BBXUnwindStackBlockSize - 1);
    if (!BBXIsValidAddress(address) || length > BBXUnwindStackBlockSize || address + length < address ||
        address + length > block + BBXUnwindStackBlockSize)
        return BBXReadMemory(address, out, length);
    const std::uint32_t slot = (block / BBXUnwindStackBlockSize) % BBXUnwindStackBlockCount;
    if (cache->blockAddress[slot] != block) {
        if (!BBXReadMemory(block, cache->blocks[slot], BBXUnwindStackBlockSize)) {
            cache->blockAddress[slot] = 0;
            return BBXReadMemory(address, out, length);
        }
        cache->blockAddress[slot] = block;
    }
    std::memcpy(out, cache->blocks[slot] + (address - block), length);
    return true;
}

// The memory a step reads through: the caller's, or the live process with the context's
// stack cache.
BBXUnwindMemory bbxUnwindMemoryFor(BBXUnwindContext* context)
{
    if (context->memory != nullptr)
        return *context->memory;
    return BBXUnwindMemory{bbxUnwindReadImageLive, bbxUnwindReadStackCached, &context->stackCache};
}

bool bbxUnwindFindImage(BBXUnwindContext* context, std::uint64_t pc, BBXBinaryImageRuntimeNode* out)
{
    const BBXBinaryImageRuntimeNode& last = context->lastImage;
    if (last.baseAddress != 0 && last.baseAddress <= pc && pc - last.baseAddress < last.size) {
        *out = last;
        return true;
    }
    if (!BBXBinaryImageSafeFindImageForAddress(pc, out))
        return false;
    context->lastImage = *out;
    return true;
}

// ELF's stand-in for compact unwind: the FDE from the image's lookup table, then its rules.
bool BBXUnwindWithEhFrameHdr(BBXUnwindContext* context, const BBXUnwindMemory* memory,
                             const BBXBinaryImageRuntimeNode& image, bool exactPC)
{
    BBXThreadContext* registers = &context->threadContext;
    const std::uint64_t pc = registers->rip;
    BBXUnwindRuleCache& cache = context->ruleCache;
    if (cache.rulesPC != pc || cache.rulesExact != exactPC || cache.fde == 0) {
        cache.rulesPC = 0;
        const std::uint64_t fde = BBXUnwindFindFDEInEhFrameHdr(memory, image.ehFrameHdr, pc);
        if (fde == 0 || fde <= image.ehFrame) {
            BBX_LOG_INFO("No FDE for %p in the image at %p", pc, image.baseAddress);
            return false;
        }
        if (fde != cache.fde) {
            cache.fde = 0;
            BBX_LOG_INFO("Trying to read dwarf data with offset %p", fde - image.ehFrame);
            if (!BBXDwarfParseFDEAtAddress(memory, &cache.record, fde)) {
                BBX_LOG_ERROR("Unable to init FDE");
                return false;
            }
            cache.fde = fde;
        }
        const BBXDwarfFDE& parsed = cache.record.fde;
        if (pc < parsed.pcBegin || pc - parsed.pcBegin >= parsed.pcRange) {
            BBX_LOG_INFO("PC %p lies outside the FDE at %p", pc, fde);
            return false;
        }
        BBXDwarfRuleMachine machine;
        if (!BBXDwarfComputeRulesForPC(memory, &cache.record, pc, exactPC, &machine)) {
            BBX_LOG_ERROR("Failed to compute DWARF registers");
            return false;
        }
        cache.rules = machine.state;
        cache.rulesPC = pc;
        cache.rulesExact = exactPC;
    }
    std::uint64_t cfa = 0;
    if (!BBXDwarfGetCFA(memory, &cache.rules, registers, &cfa) ||
        !BBXDwarfUnwindAssignRegisters(memory, &cache.rules, registers, cfa, registers)) {
        BBX_LOG_ERROR("Failed to compute DWARF registers");
        return false;
    }
    return true;
}

bool BBXUnwindWithStackScan(BBXUnwindContext* context, const BBXUnwindMemory* memory);

bool BBXUnwindWithFramePointerThrough(BBXUnwindContext* context, const BBXUnwindMemory* memory,
                                      bool tryStackScan)
{
    if (tryStackScan) {
        BBX_LOG_INFO("Attempting stack scan");
        if (BBXUnwindWithStackScan(context, memory)) {
            BBX_LOG_INFO("Stack scan successful");
            return true;
        }
    }
    return BBXCompactUnwindBPFrame(memory, &context->threadContext);
}

bool BBXUnwindNextFrameUsingAllStrategies(BBXUnwindContext* context, const BBXUnwindMemory* memory,
                                          bool exactPC)
{
    const std::uint64_t pc = context->threadContext.rip;
    BBXBinaryImageRuntimeNode image;
    if (!bbxUnwindFindImage(context, pc, &image)) {
        BBX_LOG_WARN("Unable to find binary for %p", pc);
    } else {
        BBX_LOG_DEBUG("Binary image for %p at %p", pc, image.baseAddress);
        if (BBXBinaryImageNodeHasUnwindInfo(&image)) {
            if (!BBXCompactUnwindInit(&context->compactUnwindContext, image.unwindInfo, image.ehFrame,
                                      image.baseAddress, context->memory)) {
                BBX_LOG_ERROR("Unable to read unwind info");
            } else {
                context->compactUnwindContext.exactPC = exactPC;
                if (BBXCompactUnwindLookupAndCompute(&context->compactUnwindContext, &context->threadContext))
                    return true;
            }
        } else if (BBXIsValidAddress(image.ehFrameHdr) && BBXIsValidAddress(image.ehFrame)) {
            if (BBXUnwindWithEhFrameHdr(context, memory, image, exactPC))
                return true;
        } else {
            BBX_LOG_INFO("Binary image at %p has no unwind info", image.baseAddress);
        }
    }
    if (context->threadContext.rbp == 0) {
        BBX_LOG_WARN("FP is zero, aborting unwind");
        context->threadContext.rip = 0;
        return true;
    }
    if (!BBXUnwindWithFramePointerThrough(context, memory, context->frameCount == 1)) {
        BBX_LOG_ERROR("Unable to use frame pointer");
        return false;
    }
    return true;
}

bool BBXUnwindWithStackScan(BBXUnwindContext* context, const BBXUnwindMemory* memory)
{
    std::uint64_t address = 0;
    if (!BBXUnwindFirstExecutableAddress(memory, context->threadContext.rsp, context->threadContext.rbp,
                                         &address))
        return false;
    context->threadContext.rip = address;
    return true;
}

} // namespace

bool BBXUnwindInit(BBXUnwindContext* context, const BBXThreadContext* threadContext)
{
    if (context == nullptr || threadContext == nullptr)
        return false;
    *context = BBXUnwindContext{};
    context->threadContext = *threadContext;
    return true;
}

bool BBXUnwindInitFromSignal(BBXUnwindContext* context, const BBXThreadContext* threadContext)
{
    if (!BBXUnwindInit(context, threadContext))
        return false;
    context->firstPCIsExact = true;
    return true;
}

void BBXUnwindSetMemory(BBXUnwindContext* context, const BBXUnwindMemory* memory)
{
    if (context != nullptr)
        context->memory = memory;
}

std::uint64_t BBXUnwindGetPC(const BBXUnwindContext* context)
{
    return BBXIsValidPointer(context) ? BBXThreadContextGetPC(&context->threadContext) : 0;
}

std::uint64_t BBXUnwindGetStackPointer(const BBXUnwindContext* context)
{
    return BBXIsValidPointer(context) ? BBXThreadContextGetSP(&context->threadContext) : 0;
}

std::uint32_t BBXUnwindGetRepeatCount(const BBXUnwindContext* context)
{
    return BBXIsValidPointer(context) ? context->repeatCount : 0;
}

bool BBXUnwindContextHasValidPCAndSP(const BBXUnwindContext* context)
{
    return BBXIsValidPointer(context) && BBXIsValidAddress(context->threadContext.rip) &&
           BBXIsValidAddress(context->threadContext.rsp);
}

bool BBXUnwindIsAddressExecutable(std::uint64_t address)
{
    BBXBinaryImageRuntimeNode node;
    return BBXBinaryImageSafeFindImageForAddress(address, &node);
}

bool BBXUnwindFirstExecutableAddress(const BBXUnwindMemory* memory, std::uint64_t start, std::uint64_t end,
                                     std::uint64_t* out)
{
    if (out == nullptr || memory == nullptr)
        return false;
    *out = 0;
    for (std::uint64_t address = start;; address += 8) {
        std::uint64_t value = 0;
        if (BBXIsValidAddress(address)) {
            if (!BBXUnwindReadTarget(memory, address, &value, sizeof value))
                return false;
            BBX_LOG_DEBUG("Checking address %p => %p", address, value);
            BBX_LOG_DEBUG("Checking for executable %p", value);
            if (BBXUnwindIsAddressExecutable(value)) {
                *out = value;
                return true;
            }
        }
        if (address + 8 >= end || address + 8 < address)
            return false;
    }
}

bool BBXUnwindWithFramePointer(BBXUnwindContext* context, bool tryStackScan)
{
    if (!BBXIsValidPointer(context))
        return false;
    const BBXUnwindMemory memory = bbxUnwindMemoryFor(context);
    return BBXUnwindWithFramePointerThrough(context, &memory, tryStackScan);
}

bool BBXUnwindNextFrame(BBXUnwindContext* context)
{
    if (!BBXIsValidPointer(context)) {
        BBX_LOG_WARN("Error: invalid inputs");
        return false;
    }
    if (!BBXUnwindContextHasValidPCAndSP(context)) {
        if (context->frameCount != 0)
            BBX_LOG_WARN("Error: thread PC/SP invalid before unwind");
        else
            BBX_LOG_WARN("Cancelling unwind for thread with invalid PC/SP");
        return false;
    }
    bool advanced = true;
    if (context->frameCount >= BBXUnwindMaximumFrames) {
        BBX_LOG_WARN("Exceeded maximum number of frames");
        advanced = false;
    }
    if (advanced && context->frameCount != 0) {
        // Out of frame 0 of a stopped thread the PC is exact; everywhere else it is a return
        // address, which lies just past its call.
        const bool exactPC = context->frameCount == 1 && context->firstPCIsExact;
        std::uint64_t pc = context->threadContext.rip;
        if (!exactPC && !BBXThreadContextSetPC(&context->threadContext, --pc)) {
            BBX_LOG_ERROR("Unable to set PC");
            advanced = false;
        } else if (!BBXIsValidAddress(pc)) {
            BBX_LOG_ERROR("PC is invalid");
            advanced = false;
        } else {
            const BBXUnwindMemory memory = bbxUnwindMemoryFor(context);
            advanced = BBXUnwindNextFrameUsingAllStrategies(context, &memory, exactPC);
        }
    }
    if (!advanced) {
        BBX_LOG_ERROR("Failed to advance to the next frame");
        return false;
    }
    const std::uint64_t pc = context->threadContext.rip;
    const std::uint64_t sp = context->threadContext.rsp;
    if (!BBXIsValidAddress(pc))
        return false;
    if (!BBXIsValidAddress(sp)) {
        BBX_LOG_WARN("Error: SP (%p) isn't a valid pointer", sp);
        return false;
    }
    context->repeatCount = context->frameCount != 0 && pc == context->lastPC ? context->repeatCount + 1 : 0;
    context->frameCount += 1;
    context->lastPC = pc;
    return true;
}

std::uint64_t BBXUnwindFindFDEInEhFrameHdr(const BBXUnwindMemory* memory, std::uint64_t ehFrameHdr,
                                           std::uint64_t pc)
{
    if (memory == nullptr || !BBXIsValidAddress(ehFrameHdr))
        return 0;
    BBXDwarfCursor cursor{memory, ehFrameHdr, false};
    const std::uint8_t version = BBXDwarfReadUInt8(&cursor);
    const std::uint8_t ehFramePointerEncoding = BBXDwarfReadUInt8(&cursor);
    const std::uint8_t countEncoding = BBXDwarfReadUInt8(&cursor);
    const std::uint8_t tableEncoding = BBXDwarfReadUInt8(&cursor);
    if (cursor.failed || version != 1 || tableEncoding != 0x3B) // datarel | sdata4: what linkers write
        return 0;
    BBXParseAddressWithEncodingAndAdvance(&cursor, ehFramePointerEncoding, ehFrameHdr);
    const std::uint64_t count = BBXParseAddressWithEncodingAndAdvance(&cursor, countEncoding, ehFrameHdr);
    if (cursor.failed || count == 0 || count == BBXDwarfInvalidAddress || count > 0x10000000)
        return 0;
    const std::uint64_t table = cursor.address;
    const auto entry = [&](std::uint64_t index, std::uint32_t field, std::uint64_t* out) {
        std::int32_t value = 0;
        if (!BBXUnwindReadImage(memory, table + index * 8 + field * 4, &value, sizeof value))
            return false;
        *out = ehFrameHdr + static_cast<std::uint64_t>(std::int64_t(value));
        return true;
    };
    std::uint64_t low = 0;
    std::uint64_t high = count;
    while (low < high) {
        const std::uint64_t middle = low + (high - low) / 2;
        std::uint64_t start = 0;
        if (!entry(middle, 0, &start))
            return 0;
        if (start <= pc)
            low = middle + 1;
        else
            high = middle;
    }
    std::uint64_t fde = 0;
    if (low == 0 || !entry(low - 1, 1, &fde))
        return 0;
    return fde;
}

} // namespace corvex
