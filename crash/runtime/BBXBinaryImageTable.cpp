// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/runtime/BBXBinaryImageTable.h"

#include "crash/runtime/BBXCrashTime.h"

#include <cstring>

namespace corvex {

namespace {

constexpr int BBXBinaryImageReadTries = 4;

std::atomic<BBXBinaryImageTable*> gBBXBinaryImageTable{nullptr};

std::uint64_t bbxUuidHalf(const std::uint8_t* bytes)
{
    std::uint64_t half = 0;
    for (int i = 0; i < 8; ++i)
        half = (half << 8) | bytes[i];
    return half;
}

void bbxUuidBytes(std::uint64_t half, std::uint8_t* bytes)
{
    for (int i = 7; i >= 0; --i) {
        bytes[i] = std::uint8_t(half);
        half >>= 8;
    }
}

// Makes the slot's sequence odd if it is even now: the writer's claim.
bool bbxBeginSlotWrite(BBXBinaryImageSlot& slot)
{
    std::uint32_t sequence = slot.sequence.load(std::memory_order_relaxed);
    if ((sequence & 1) != 0)
        return false;
    if (!slot.sequence.compare_exchange_strong(sequence, sequence + 1, std::memory_order_acq_rel))
        return false;
    std::atomic_thread_fence(std::memory_order_release);
    return true;
}

void bbxEndSlotWrite(BBXBinaryImageSlot& slot)
{
    slot.sequence.fetch_add(1, std::memory_order_release);
}

void bbxStoreSlot(BBXBinaryImageSlot& slot, const BBXBinaryImageRuntimeNode& node)
{
    slot.size.store(node.size, std::memory_order_relaxed);
    slot.ehFrame.store(node.ehFrame, std::memory_order_relaxed);
    slot.ehFrameHdr.store(node.ehFrameHdr, std::memory_order_relaxed);
    slot.unwindInfo.store(node.unwindInfo, std::memory_order_relaxed);
    slot.crashInfo.store(node.crashInfo, std::memory_order_relaxed);
    slot.uuidHigh.store(bbxUuidHalf(node.uuid), std::memory_order_relaxed);
    slot.uuidLow.store(bbxUuidHalf(node.uuid + 8), std::memory_order_relaxed);
    slot.hasUuid.store(node.hasUuid ? 1 : 0, std::memory_order_relaxed);
    slot.baseAddress.store(node.baseAddress, std::memory_order_relaxed);
}

// A consistent copy, or false when the slot kept changing (or its writer stopped mid-way).
bool bbxReadSlot(const BBXBinaryImageSlot& slot, BBXBinaryImageRuntimeNode* node)
{
    for (int attempt = 0; attempt < BBXBinaryImageReadTries; ++attempt) {
        const std::uint32_t before = slot.sequence.load(std::memory_order_acquire);
        if ((before & 1) != 0)
            continue;
        node->baseAddress = slot.baseAddress.load(std::memory_order_relaxed);
        node->size = slot.size.load(std::memory_order_relaxed);
        node->ehFrame = slot.ehFrame.load(std::memory_order_relaxed);
        node->ehFrameHdr = slot.ehFrameHdr.load(std::memory_order_relaxed);
        node->unwindInfo = slot.unwindInfo.load(std::memory_order_relaxed);
        node->crashInfo = slot.crashInfo.load(std::memory_order_relaxed);
        bbxUuidBytes(slot.uuidHigh.load(std::memory_order_relaxed), node->uuid);
        bbxUuidBytes(slot.uuidLow.load(std::memory_order_relaxed), node->uuid + 8);
        node->hasUuid = slot.hasUuid.load(std::memory_order_relaxed) != 0;
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.sequence.load(std::memory_order_relaxed) == before)
            return true;
    }
    return false;
}

} // namespace

void BBXBinaryImageTableClear(BBXBinaryImageTable* table)
{
    if (!BBXIsValidPointer(table))
        return;
    for (BBXBinaryImageSlot& slot : table->entries) {
        slot.sequence.store(0, std::memory_order_relaxed);
        bbxStoreSlot(slot, BBXBinaryImageRuntimeNode());
    }
    std::atomic_thread_fence(std::memory_order_seq_cst);
}

bool BBXBinaryImageTableAdd(BBXBinaryImageTable* table, const BBXBinaryImageRuntimeNode& node)
{
    if (!BBXIsValidPointer(table) || node.baseAddress == 0)
        return false;
    for (BBXBinaryImageSlot& slot : table->entries) {
        if (slot.baseAddress.load(std::memory_order_acquire) != 0 || !bbxBeginSlotWrite(slot))
            continue;
        if (slot.baseAddress.load(std::memory_order_relaxed) != 0) {
            bbxEndSlotWrite(slot);
            continue;
        }
        bbxStoreSlot(slot, node);
        bbxEndSlotWrite(slot);
        return true;
    }
    return false;
}

bool BBXBinaryImageTableRemove(BBXBinaryImageTable* table, std::uint64_t baseAddress)
{
    if (!BBXIsValidPointer(table) || baseAddress == 0)
        return false;
    for (BBXBinaryImageSlot& slot : table->entries) {
        if (slot.baseAddress.load(std::memory_order_acquire) != baseAddress)
            continue;
        if (!bbxBeginSlotWrite(slot))
            return false;
        bbxStoreSlot(slot, BBXBinaryImageRuntimeNode());
        bbxEndSlotWrite(slot);
        return true;
    }
    return false;
}

bool BBXBinaryImageTableFind(const BBXBinaryImageTable* table, std::uint64_t address,
                             BBXBinaryImageRuntimeNode* outNode)
{
    if (!BBXIsValidPointer(table) || !BBXIsValidPointer(outNode))
        return false;
    for (const BBXBinaryImageSlot& slot : table->entries) {
        const std::uint64_t base = slot.baseAddress.load(std::memory_order_relaxed);
        if (base == 0 || address < base)
            continue;
        BBXBinaryImageRuntimeNode node;
        if (!bbxReadSlot(slot, &node) || node.baseAddress == 0)
            continue;
        if (node.baseAddress <= address && address - node.baseAddress < node.size) {
            *outNode = node;
            return true;
        }
    }
    return false;
}

void BBXBinaryImageInstallTable(BBXBinaryImageTable* table)
{
    gBBXBinaryImageTable.store(table, std::memory_order_release);
}

BBXBinaryImageTable* BBXBinaryImageInstalledTable()
{
    return gBBXBinaryImageTable.load(std::memory_order_acquire);
}

bool BBXBinaryImageSafeFindImageForAddress(std::uint64_t address, BBXBinaryImageRuntimeNode* outNode)
{
    const BBXBinaryImageTable* table = BBXBinaryImageInstalledTable();
    if (!BBXIsValidPointer(table) || !BBXIsValidPointer(outNode))
        return false;
    return BBXBinaryImageTableFind(table, address, outNode);
}

bool BBXBinaryImageNodeHasUnwindInfo(const BBXBinaryImageRuntimeNode* node)
{
    return BBXIsValidPointer(node) && BBXIsValidAddress(node->unwindInfo);
}

} // namespace corvex
