#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// Readers of call-frame bytes: each reads at a cursor through the image memory and
// advances it. A failed read marks the cursor failed and gives 0; callers check the mark
// where a value matters.

#include "crash/unwind/BBXThreadContext.h"

#include <cstdint>

namespace corvex {

struct BBXDwarfCursor
{
    const BBXUnwindMemory* memory = nullptr;
    std::uint64_t address = 0;
    bool failed = false;
};

// The all-ones value the pointer reader answers for failure.
constexpr std::uint64_t BBXDwarfInvalidAddress = ~std::uint64_t(0);

std::uint8_t BBXDwarfReadUInt8(BBXDwarfCursor* cursor);
std::uint16_t BBXDwarfReadUInt16(BBXDwarfCursor* cursor);
std::int16_t BBXDwarfReadSInt16(BBXDwarfCursor* cursor);
std::uint32_t BBXDwarfReadUInt32(BBXDwarfCursor* cursor);
std::int32_t BBXDwarfReadSInt32(BBXDwarfCursor* cursor);
std::uint64_t BBXDwarfReadUInt64(BBXDwarfCursor* cursor);
std::int64_t BBXDwarfReadSInt64(BBXDwarfCursor* cursor);
std::uint64_t BBXDwarfReadPointer(BBXDwarfCursor* cursor);
// At most eight bytes: a longer run stops after the eighth.
std::uint64_t BBXDwarfReadULEB128(BBXDwarfCursor* cursor);
std::int64_t BBXDwarfReadSLEB128(BBXDwarfCursor* cursor);
// Copies the NUL-terminated string into `out` (capacity bytes, terminated); a longer string
// is skipped and marks the cursor failed.
void BBXDwarfReadString(BBXDwarfCursor* cursor, char* out, std::uint32_t capacity);
// A u32 below 0xFFFFFFFF, else the u64 after it.
std::uint64_t BBXDwarfReadInitialLength(BBXDwarfCursor* cursor);

// An exception-handling pointer in a DW_EH_PE encoding: 0 for omit (0xFF), all ones for a
// missing cursor, an unknown format or application, a failed read or indirection through 0.
// `dataBase` serves the data-relative application (0x30) of lookup tables; 0 refuses it.
std::uint64_t BBXParseAddressWithEncodingAndAdvance(BBXDwarfCursor* cursor, std::uint8_t encoding,
                                                    std::uint64_t dataBase = 0);

} // namespace corvex
