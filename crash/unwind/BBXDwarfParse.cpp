// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The CIE and FDE parser.

#include "crash/runtime/BBXCrashTime.h"
#include "crash/unwind/BBXDwarfCFI.h"
#include "crash/unwind/BBXDwarfErrors.h"
#include "crash/unwind/BBXDwarfReaders.h"

namespace corvex {

namespace {

bool BBXDwarfParseAndProcessAugmentation(BBXDwarfCursor* cursor, BBXDwarfCIE* cie)
{
    const char* augmentation = cie->augmentation;
    if (augmentation[0] == '\0')
        return true;
    if (augmentation[0] != 'z')
        return BBX_DWARF_FAIL(BBXDwarfError::UnimplementedAugmentation,
                              reinterpret_cast<std::uintptr_t>(augmentation));
    const std::uint64_t dataLength = BBXDwarfReadULEB128(cursor);
    const std::uint64_t dataEnd = cursor->address + dataLength;
    if (cursor->failed)
        return false;
    for (const char* entry = augmentation + 1; *entry != '\0'; ++entry) {
        switch (*entry) {
        case 'L':
            cie->lsdaEncoding = BBXDwarfReadUInt8(cursor);
            break;
        case 'P':
            cie->personalityEncoding = BBXDwarfReadUInt8(cursor);
            cie->personality = BBXParseAddressWithEncodingAndAdvance(cursor, cie->personalityEncoding);
            if (cie->personality == BBXDwarfInvalidAddress)
                return BBX_DWARF_FAIL(BBXDwarfError::InvalidStartAddress);
            break;
        case 'R':
            cie->pointerEncoding = BBXDwarfReadUInt8(cursor);
            break;
        case 'S':
            cie->signalFrame = true;
            break;
        default:
            return BBX_DWARF_FAIL(BBXDwarfError::UnhandledAugmentationEntry,
                                  static_cast<unsigned char>(*entry));
        }
        if (cursor->failed || cursor->address > dataEnd)
            return false;
    }
    // Data this reader does not know about may follow; the instructions start after it.
    cursor->address = dataEnd;
    return true;
}

} // namespace

bool BBXDwarfCIEIsValid(const BBXDwarfCIE* cie)
{
    return cie != nullptr && (cie->version == 1 || cie->version == 3);
}

bool BBXDwarfCIEHasAugmentationData(const BBXDwarfCIE* cie)
{
    return cie != nullptr && cie->augmentation[0] == 'z';
}

bool BBXDwarfParseCIERecord(const BBXUnwindMemory* memory, BBXDwarfCIE* cie, std::uint64_t address)
{
    if (cie == nullptr || memory == nullptr)
        return false;
    *cie = BBXDwarfCIE{};
    BBXDwarfCursor cursor{memory, address, false};
    cie->length = BBXDwarfReadInitialLength(&cursor);
    if (cursor.failed)
        return BBX_DWARF_FAIL(BBXDwarfError::ReadFailed, address);
    if (cie->length == 0)
        return BBX_DWARF_FAIL(BBXDwarfError::CieLengthInvalid);
    const std::uint64_t end = cursor.address + cie->length;
    if (end < cursor.address)
        return BBX_DWARF_FAIL(BBXDwarfError::CieLengthInvalid);
    if (BBXDwarfReadUInt32(&cursor) != 0)
        BBX_DWARF_FAIL(BBXDwarfError::CieFlagNotFound);
    cie->version = BBXDwarfReadUInt8(&cursor);
    if (cie->version != 1 && cie->version != 3)
        BBX_DWARF_FAIL(BBXDwarfError::CieVersionUnsupported, cie->version);
    BBXDwarfReadString(&cursor, cie->augmentation, sizeof cie->augmentation);
    cie->codeAlignmentFactor = BBXDwarfReadULEB128(&cursor);
    cie->dataAlignmentFactor = BBXDwarfReadSLEB128(&cursor);
    if (cie->version == 1)
        cie->returnAddressRegister = BBXDwarfReadUInt8(&cursor);
    else if (cie->version == 3)
        cie->returnAddressRegister = BBXDwarfReadULEB128(&cursor);
    else
        return BBX_DWARF_FAIL(BBXDwarfError::CieVersionUnsupported, cie->version);
    if (cursor.failed)
        return BBX_DWARF_FAIL(BBXDwarfError::ReadFailed, address);
    if (!BBXDwarfParseAndProcessAugmentation(&cursor, cie))
        return false;
    if (cursor.address > end || end - cursor.address > 0xFFFFFFFFu)
        return BBX_DWARF_FAIL(BBXDwarfError::CieLengthInvalid);
    cie->instructions = cursor.address;
    cie->instructionsLength = static_cast<std::uint32_t>(end - cursor.address);
    return true;
}

bool BBXDwarfParseFDERecord(const BBXUnwindMemory* memory, BBXDwarfFDE* fde, bool parseCIE, BBXDwarfCIE* cie,
                            std::uint64_t address)
{
    if (fde == nullptr || cie == nullptr || memory == nullptr)
        return false;
    *fde = BBXDwarfFDE{};
    BBXDwarfCursor cursor{memory, address, false};
    fde->length = BBXDwarfReadInitialLength(&cursor);
    if (cursor.failed)
        return BBX_DWARF_FAIL(BBXDwarfError::ReadFailed, address);
    if (fde->length == 0)
        return BBX_DWARF_FAIL(BBXDwarfError::FdeZeroLength);
    const std::uint64_t end = cursor.address + fde->length;
    if (end < cursor.address)
        return BBX_DWARF_FAIL(BBXDwarfError::FdeZeroLength);
    const std::uint64_t pointerField = cursor.address;
    fde->ciePointer = BBXDwarfReadUInt32(&cursor);
    if (fde->ciePointer == 0)
        return BBX_DWARF_FAIL(BBXDwarfError::CieOffsetInvalid);
    if (parseCIE && !BBXDwarfParseCIERecord(memory, cie, pointerField - fde->ciePointer))
        return BBX_DWARF_FAIL(BBXDwarfError::UnableToParseCie);
    if (!BBXDwarfCIEIsValid(cie))
        return BBX_DWARF_FAIL(BBXDwarfError::CieInvalid);
    fde->pcBegin = BBXParseAddressWithEncodingAndAdvance(&cursor, cie->pointerEncoding);
    if (fde->pcBegin == BBXDwarfInvalidAddress)
        return BBX_DWARF_FAIL(BBXDwarfError::InvalidStartAddress);
    fde->pcRange = BBXParseAddressWithEncodingAndAdvance(&cursor, cie->pointerEncoding & 0x0F);
    if (fde->pcRange == BBXDwarfInvalidAddress)
        return BBX_DWARF_FAIL(BBXDwarfError::InvalidAddressRange);
    if (BBXDwarfCIEHasAugmentationData(cie)) {
        const std::uint64_t skip = BBXDwarfReadULEB128(&cursor);
        cursor.address += skip;
    }
    if (cursor.failed)
        return BBX_DWARF_FAIL(BBXDwarfError::ReadFailed, address);
    if (cursor.address > end || end - cursor.address > 0xFFFFFFFFu)
        return BBX_DWARF_FAIL(BBXDwarfError::FdeZeroLength);
    fde->instructions = cursor.address;
    fde->instructionsLength = static_cast<std::uint32_t>(end - cursor.address);
    return true;
}

bool BBXDwarfParseFDEAtAddress(const BBXUnwindMemory* memory, BBXDwarfFDERecord* record,
                               std::uint64_t address)
{
    if (!BBXIsValidPointer(record) || !BBXIsValidAddress(address))
        return false;
    return BBXDwarfParseFDERecord(memory, &record->fde, true, &record->cie, address);
}

bool BBXDwarfParseFDEAtOffset(const BBXUnwindMemory* memory, BBXDwarfFDERecord* record, std::uint64_t ehFrame,
                              std::uint64_t offset)
{
    if (record == nullptr || ehFrame == 0 || offset == 0)
        return false;
    return BBXDwarfParseFDEAtAddress(memory, record, ehFrame + offset);
}

} // namespace corvex
