#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace corvex {

// Reading Mach-O images from bytes: the slices of a fat or thin file, load commands, UUIDs,
// encryption flags, version-min commands, segments and sections. The running executable is
// ELF here (see ElfImage); these functions read Mach-O files the kit is handed or that
// tests make.
//
// Every walk is bounded: a slice carries the number of bytes readable from its start, fat
// entries outside the file are skipped, and the load-command walk stops at a command shorter
// than 8 bytes, one whose size is not a multiple of 4, or one that would pass the end of the
// commands (sizeofcmds) or of the slice. An image in the other byte order is recognised by
// its magic and named by its (swapped) cpu type, but walked as having no commands: its fields
// would otherwise be read with the wrong order. Nothing here raises; an unusable input gives
// the empty result.

struct BBXMachOSlice
{
    const void* startAddress = nullptr; // the slice's Mach-O header
    std::int32_t cpuType = 0;
    std::int32_t cpuSubtype = 0;
    std::size_t size = 0; // bytes readable from startAddress; 0 when unknown (nothing is read)
};

struct LOMMachOMappedFile
{
    int fileDescriptor = -1;
    std::int64_t size = 0;
    const void* startAddress = nullptr;
};

struct LOMMachOSectionRecord
{
    std::uint64_t address = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
};

struct LOMMachOSegmentRecord
{
    char segname[16] = {};
    std::uint64_t vmaddr = 0;
    std::uint64_t vmsize = 0;
};

struct LOMMachOVersion
{
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;
};

constexpr std::uint32_t LOMMachOLoadCommandSegment = 1;    // LC_SEGMENT
constexpr std::uint32_t LOMMachOLoadCommandSegment64 = 25; // LC_SEGMENT_64
constexpr std::uint32_t LOMMachOLoadCommandUUID = 27;      // LC_UUID
constexpr std::uint32_t LOMMachOLoadCommandVersionMinMacOSX = 36;
constexpr std::uint32_t LOMMachOLoadCommandVersionMinIPhoneOS = 37;
constexpr std::uint32_t LOMMachOLoadCommandEncryptionInfo = 0x21;
constexpr std::uint32_t LOMMachOLoadCommandEncryptionInfo64 = 0x2C;

using LOMMachOSliceBlock = std::function<void(BBXMachOSlice* slice)>;
// The command's type, its size and its bytes (size of them readable).
using LOMMachOLoadCommandBlock =
    std::function<void(std::uint32_t type, std::uint32_t size, const void* command)>;

bool LOMMachOMapFile(LOMMachOMappedFile* file, const char* path);
void LOMMachOUnmapFile(LOMMachOMappedFile* file);

// The running executable's header (its ELF header here), with the host's cpu type; its size
// is unknown, so no Mach-O walk reads it.
BBXMachOSlice LOMMachOCurrentSlice();
bool LOMMachOMapCurrentExecutable(LOMMachOMappedFile* file);
// The file of the loaded image holding the slice's start; null when none does.
const char* LOMMachOSlicePath(const BBXMachOSlice* slice);

void LOMMachOEnumerateSlicesInFile(const LOMMachOMappedFile* file, const LOMMachOSliceBlock& block);
void LOMMachOEnumerateSlices(const void* header, std::size_t size, const LOMMachOSliceBlock& block);
BBXMachOSlice LOMMachOFindSliceNamed(const LOMMachOMappedFile* file, const char* architectureName);
const char* LOMMachOSliceArchitectureName(const BBXMachOSlice* slice);
void LOMMachOEnumerateLoadCommands(BBXMachOSlice* slice, const LOMMachOLoadCommandBlock& block);
BBXMachOSlice LOMMachOSliceFromHeader(const void* header, std::size_t size);
bool LOMMachOSliceIs64Bit(const BBXMachOSlice* slice);
bool LOMMachOSectionInfo(const BBXMachOSlice* slice, const char* segmentName, const char* sectionName,
                         LOMMachOSectionRecord* record);
bool LOMMachOSectionAddress(const BBXMachOSlice* slice, const char* segmentName, const char* sectionName,
                            std::uintptr_t* address);
// ELF images have no compact unwind and no Mach-O eh_frame lookup: the outs stay unchanged.
void LOMMachOUnwindSections(const BBXMachOSlice* slice, std::uintptr_t* ehFrame, std::uintptr_t* unwindInfo);

// Accessors of one load command (its bytes and size, as the walk hands them): null or zero
// when the command is too short for the field.
const std::uint8_t* LOMMachOUUIDBytes(const void* command, std::uint32_t size);
const char* LOMMachOLoadCommandString(const void* command, std::uint32_t size);
bool LOMMachOIsEncrypted(const void* command, std::uint32_t size);
LOMMachOVersion LOMMachOMinimumOSVersion(const void* command, std::uint32_t size);
LOMMachOVersion LOMMachOSDKVersion(const void* command, std::uint32_t size);
LOMMachOSegmentRecord LOMMachOSegmentInfo(const void* command, std::uint32_t size);

QString LOMUUIDStringFromBytes(const std::uint8_t* bytes);
QString LOMVersionTripleString(const LOMMachOVersion* version);

} // namespace corvex
