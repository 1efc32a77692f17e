// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/unwind/BBXDwarfReaders.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/unwind/BBXDwarfErrors.h"

namespace corvex {

namespace {

template <typename T> T bbxDwarfReadValue(BBXDwarfCursor* cursor)
{
    T value{};
    if (cursor->failed || !BBXUnwindReadImage(cursor->memory, cursor->address, &value, sizeof value)) {
        cursor->failed = true;
        return T{};
    }
    cursor->address += sizeof value;
    return value;
}

} // namespace

std::uint8_t BBXDwarfReadUInt8(BBXDwarfCursor* cursor)
{
    return bbxDwarfReadValue<std::uint8_t>(cursor);
}
std::uint16_t BBXDwarfReadUInt16(BBXDwarfCursor* cursor)
{
    return bbxDwarfReadValue<std::uint16_t>(cursor);
}
std::int16_t BBXDwarfReadSInt16(BBXDwarfCursor* cursor)
{
    return bbxDwarfReadValue<std::int16_t>(cursor);
}
std::uint32_t BBXDwarfReadUInt32(BBXDwarfCursor* cursor)
{
    return bbxDwarfReadValue<std::uint32_t>(cursor);
}
std::int32_t BBXDwarfReadSInt32(BBXDwarfCursor* cursor)
{
    return bbxDwarfReadValue<std::int32_t>(cursor);
}
std::uint64_t BBXDwarfReadUInt64(BBXDwarfCursor* cursor)
{
    return bbxDwarfReadValue<std::uint64_t>(cursor);
}
std::int64_t BBXDwarfReadSInt64(BBXDwarfCursor* cursor)
{
    return bbxDwarfReadValue<std::int64_t>(cursor);
}
std::uint64_t BBXDwarfReadPointer(BBXDwarfCursor* cursor)
{
    return bbxDwarfReadValue<std::uint64_t>(cursor);
}

std::uint64_t BBXDwarfReadULEB128(BBXDwarfCursor* cursor)
{
    std::uint64_t result = 0;
    for (unsigned shift = 0, count = 0; count < 8; ++count, shift += 7) {
        const std::uint8_t byte = BBXDwarfReadUInt8(cursor);
        result |= std::uint64_t(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0)
            break;
    }
    return result;
}

std::int64_t BBXDwarfReadSLEB128(BBXDwarfCursor* cursor)
{
    std::uint64_t result = 0;
    unsigned shift = 0;
    std::uint8_t byte = 0;
    for (unsigned count = 0; count < 8; ++count) {
        byte = BBXDwarfReadUInt8(cursor);
        result |= std::uint64_t(byte & 0x7F) << shift;
        shift += 7;
        if ((byte & 0x80) == 0)
            break;
    }
    if (shift < 64 && (byte & 0x40) != 0)
        result |= ~std::uint64_t(0) << shift;
    return static_cast<std::int64_t>(result);
}

void BBXDwarfReadString(BBXDwarfCursor* cursor, char* out, std::uint32_t capacity)
{
    std::uint32_t length = 0;
    for (;;) {
        const char c = static_cast<char>(BBXDwarfReadUInt8(cursor));
        if (cursor->failed || c == '\0')
            break;
        if (length + 1 >= capacity) {
            cursor->failed = true;
            break;
        }
        out[length++] = c;
    }
    out[length] = '\0';
}

std::uint64_t BBXDwarfReadInitialLength(BBXDwarfCursor* cursor)
{
    const std::uint32_t length = BBXDwarfReadUInt32(cursor);
    return length == 0xFFFFFFFFu ? BBXDwarfReadUInt64(cursor) : length;
}

std::uint64_t BBXParseAddressWithEncodingAndAdvance(BBXDwarfCursor* cursor, std::uint8_t encoding,
                                                    std::uint64_t dataBase)
{
    if (encoding == 0xFF)
        return 0;
    if (cursor == nullptr || cursor->address == 0)
        return BBXDwarfInvalidAddress;
    const std::uint64_t start = cursor->address;
    std::uint64_t value = 0;
    switch (encoding & 0x0F) {
    case 0x0:
    case 0x4:
        value = BBXDwarfReadUInt64(cursor);
        break;
    case 0xC:
        value = static_cast<std::uint64_t>(BBXDwarfReadSInt64(cursor));
        break;
    case 0x1:
        value = BBXDwarfReadULEB128(cursor);
        break;
    case 0x2:
        value = BBXDwarfReadUInt16(cursor);
        break;
    case 0x3:
        value = BBXDwarfReadUInt32(cursor);
        break;
    case 0x9:
        value = static_cast<std::uint64_t>(BBXDwarfReadSLEB128(cursor));
        break;
    case 0xA:
        value = static_cast<std::uint64_t>(std::int64_t(BBXDwarfReadSInt16(cursor)));
        break;
    case 0xB:
        value = static_cast<std::uint64_t>(std::int64_t(BBXDwarfReadSInt32(cursor)));
        break;
    default:
        BBX_DWARF_FAIL(BBXDwarfError::UnhandledEncoding, encoding);
        return BBXDwarfInvalidAddress;
    }
    switch (encoding & 0x70) {
    case 0x00:
        break;
    case 0x10:
        value += start;
        break;
    case 0x30:
        if (dataBase != 0) {
            value += dataBase;
            break;
        }
        [[fallthrough]];
    default:
        BBX_DWARF_FAIL(BBXDwarfError::UnhandledRelativeEncoding, encoding);
        return BBXDwarfInvalidAddress;
    }
    if (cursor->failed)
        return BBXDwarfInvalidAddress;
    if ((encoding & 0x80) != 0) {
        if (value == 0)
            return BBXDwarfInvalidAddress;
        BBXDwarfCursor indirect{cursor->memory, value, false};
        value = BBXDwarfReadPointer(&indirect);
        if (indirect.failed)
            return BBXDwarfInvalidAddress;
    }
    return value;
}

} // namespace corvex
