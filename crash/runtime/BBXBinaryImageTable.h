#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The lock-free table of loaded images the unwinder finds code addresses in at crash time,
// without the dynamic linker (whose lock a crashed thread may hold). Rescans of the loaded
// images (BBXBinaryImages.h) write it; any thread reads it.
//
// Each slot carries a sequence number, odd while its writer changes it; a reader copies a
// slot and keeps the copy only when the number was even and unchanged around it, so a
// lookup answers a whole entry or nothing, never one torn by a concurrent load or unload.
// A reader gives a slot a few tries only: at crash time its writer may be frozen mid-change.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corvex {

constexpr std::size_t BBXBinaryImageSlotCount = 512;

// A consistent copy of one slot.
struct BBXBinaryImageRuntimeNode
{
    std::uint64_t baseAddress = 0; // the ELF header in memory
    std::uint64_t size = 0;        // to the end of the last executable segment
    std::uint64_t ehFrame = 0;     // .eh_frame, 0 when absent
    std::uint64_t ehFrameHdr = 0;  // .eh_frame_hdr (its binary-search table), 0 when absent
    std::uint64_t unwindInfo = 0;  // compact unwind: none in ELF
    std::uint64_t crashInfo = 0;   // none in ELF
    std::uint8_t uuid[16] = {};    // the first 16 bytes of the build-id note
    bool hasUuid = false;
};

struct BBXBinaryImageSlot
{
    std::atomic<std::uint32_t> sequence{0};
    std::atomic<std::uint64_t> baseAddress{0}; // 0: free
    std::atomic<std::uint64_t> size{0};
    std::atomic<std::uint64_t> ehFrame{0};
    std::atomic<std::uint64_t> ehFrameHdr{0};
    std::atomic<std::uint64_t> unwindInfo{0};
    std::atomic<std::uint64_t> crashInfo{0};
    std::atomic<std::uint64_t> uuidHigh{0};
    std::atomic<std::uint64_t> uuidLow{0};
    std::atomic<std::uint32_t> hasUuid{0};
};

// Lives in a block the caller hands in (the crash context's writable part).
struct BBXBinaryImageTable
{
    BBXBinaryImageSlot entries[BBXBinaryImageSlotCount];
};

// Empties every slot; only while nobody else uses the table.
void BBXBinaryImageTableClear(BBXBinaryImageTable* table);
// Writers (one at a time; the rescan serialises them). Adding takes the first free slot;
// removing frees the slot of that base for later loads. False when no slot took the change.
bool BBXBinaryImageTableAdd(BBXBinaryImageTable* table, const BBXBinaryImageRuntimeNode& node);
bool BBXBinaryImageTableRemove(BBXBinaryImageTable* table, std::uint64_t baseAddress);
// The first image with base <= address < base + size.
bool BBXBinaryImageTableFind(const BBXBinaryImageTable* table, std::uint64_t address,
                             BBXBinaryImageRuntimeNode* outNode);

// The table crash-time lookups read (installed by the image tracking; nullptr: none).
void BBXBinaryImageInstallTable(BBXBinaryImageTable* table);
BBXBinaryImageTable* BBXBinaryImageInstalledTable();
// Only with an installed table and a valid out pointer.
bool BBXBinaryImageSafeFindImageForAddress(std::uint64_t address, BBXBinaryImageRuntimeNode* outNode);
// Its unwind info address is at least 4096 (never, for ELF images).
bool BBXBinaryImageNodeHasUnwindInfo(const BBXBinaryImageRuntimeNode* node);

} // namespace corvex
