#include "kit/sys/MachO.h"

#include "platform/core/ElfImage.h"
#include "platform/core/SysCalls.h"

#include <QFile>
#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
// The linker's symbol for the running executable's ELF header.
extern const char __ehdr_start[] __attribute__((weak));
}

namespace corvex {

namespace {

constexpr std::uint32_t MachMagic32 = 0xFEEDFACE;
constexpr std::uint32_t MachMagic64 = 0xFEEDFACF;
constexpr std::uint32_t MachCigam32 = 0xCEFAEDFE;
constexpr std::uint32_t MachCigam64 = 0xCFFAEDFE;
constexpr std::uint32_t FatMagicAsRead = 0xBEBAFECA; // 0xCAFEBABE read little-endian
constexpr std::int32_t CpuArch64 = 0x01000000;
constexpr std::size_t FatArchSize = 20;

// Unaligned, host-order read: the bytes may sit anywhere in a mapping.
std::uint32_t machRead32(const void* at)
{
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

std::uint64_t machRead64(const void* at)
{
    std::uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

std::uint32_t machBigEndian32(const void* at)
{
    return __builtin_bswap32(machRead32(at));
}

const unsigned char* machBytes(const void* at)
{
    return static_cast<const unsigned char*>(at);
}

bool isMachMagic(std::uint32_t magic)
{
    return magic == MachMagic32 || magic == MachMagic64 || magic == MachCigam32 || magic == MachCigam64;
}

bool isSwappedMagic(std::uint32_t magic)
{
    return magic == MachCigam32 || magic == MachCigam64;
}

std::size_t machHeaderSize(std::uint32_t magic)
{
    return (magic == MachMagic64 || magic == MachCigam64) ? 32 : 28;
}

// The slice's cpu type and subtype from its header; swapped when the header is.
void machReadCpu(const void* header, std::uint32_t magic, std::int32_t& type, std::int32_t& subtype)
{
    std::uint32_t rawType = machRead32(machBytes(header) + 4);
    std::uint32_t rawSubtype = machRead32(machBytes(header) + 8);
    if (isSwappedMagic(magic)) {
        rawType = __builtin_bswap32(rawType);
        rawSubtype = __builtin_bswap32(rawSubtype);
    }
    type = std::int32_t(rawType);
    subtype = std::int32_t(rawSubtype);
}

// A section record of the named segment and section inside one segment command.
bool machFindSection(const unsigned char* command, std::uint32_t size, bool is64, const char* segmentName,
                     const char* sectionName, LOMMachOSectionRecord* record)
{
    const std::size_t commandHeader = is64 ? 72 : 56;
    const std::size_t sectionSize = is64 ? 80 : 68;
    if (size < commandHeader ||
        std::strncmp(reinterpret_cast<const char*>(command) + 8, segmentName, 16) != 0)
        return false;
    const std::uint32_t count = machRead32(command + (is64 ? 64 : 48));
    if (count > (size - commandHeader) / sectionSize)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* section = command + commandHeader + std::size_t(i) * sectionSize;
        if (std::strncmp(reinterpret_cast<const char*>(section), sectionName, 16) != 0)
            continue;
        if (is64) {
            record->address = machRead64(section + 32);
            record->size = machRead64(section + 40);
            record->offset = machRead32(section + 48);
        } else {
            record->address = machRead32(section + 32);
            record->size = machRead32(section + 36);
            record->offset = machRead32(section + 40);
        }
        return true;
    }
    return false;
}

LOMMachOVersion machVersionAt(const void* command, std::uint32_t size, std::size_t offset)
{
    if (command == nullptr || size < offset + 4)
        return {};
    const std::uint32_t value = machRead32(machBytes(command) + offset);
    return {value >> 16, (value >> 8) & 0xFF, value & 0xFF};
}

} // namespace

bool LOMMachOMapFile(LOMMachOMappedFile* file, const char* path)
{
    if (file == nullptr)
        return false;
    *file = LOMMachOMappedFile();
    if (path == nullptr)
        return false;
    const int fd = SysCalls::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {};
    if (SysCalls::fstat(fd, &info) != 0 || info.st_size < 16 || (info.st_mode & 0x8000) == 0 ||
        !S_ISREG(info.st_mode)) {
        SysCalls::close(fd);
        return false;
    }
    void* mapping = ::mmap(nullptr, std::size_t(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED) {
        SysCalls::close(fd);
        return false;
    }
    file->fileDescriptor = fd;
    file->size = info.st_size;
    file->startAddress = mapping;
    return true;
}

void LOMMachOUnmapFile(LOMMachOMappedFile* file)
{
    if (file == nullptr)
        return;
    if (file->startAddress != nullptr && file->size > 0)
        ::munmap(const_cast<void*>(file->startAddress), std::size_t(file->size));
    if (file->fileDescriptor >= 0)
        SysCalls::close(file->fileDescriptor);
    *file = LOMMachOMappedFile();
}

BBXMachOSlice LOMMachOCurrentSlice()
{
    BBXMachOSlice slice;
    slice.startAddress = __ehdr_start;
#if defined(__x86_64__)
    slice.cpuType = CpuArch64 | 7;
    slice.cpuSubtype = 3;
#elif defined(__aarch64__)
    slice.cpuType = CpuArch64 | 12;
    slice.cpuSubtype = 0;
#elif defined(__i386__)
    slice.cpuType = 7;
    slice.cpuSubtype = 3;
#endif
    return slice;
}

bool LOMMachOMapCurrentExecutable(LOMMachOMappedFile* file)
{
    const auto& executable = ElfImage::currentExecutable();
    if (!executable)
        return LOMMachOMapFile(file, nullptr);
    return LOMMachOMapFile(file, QFile::encodeName(executable->path).constData());
}

const char* LOMMachOSlicePath(const BBXMachOSlice* slice)
{
    if (slice == nullptr || slice->startAddress == nullptr)
        return nullptr;
    Dl_info info{};
    if (::dladdr(slice->startAddress, &info) == 0)
        return nullptr;
    return info.dli_fname;
}

void LOMMachOEnumerateSlicesInFile(const LOMMachOMappedFile* file, const LOMMachOSliceBlock& block)
{
    if (file == nullptr || file->size <= 0)
        return;
    LOMMachOEnumerateSlices(file->startAddress, std::size_t(file->size), block);
}

void LOMMachOEnumerateSlices(const void* header, std::size_t size, const LOMMachOSliceBlock& block)
{
    if (header == nullptr || !block || size < 8)
        return;
    const std::uint32_t magic = machRead32(header);
    if (magic == FatMagicAsRead) {
        const std::uint32_t count = machBigEndian32(machBytes(header) + 4);
        if (count > (size - 8) / FatArchSize)
            return; // more entries than the file holds
        for (std::uint32_t i = 0; i < count; ++i) {
            const unsigned char* entry = machBytes(header) + 8 + std::size_t(i) * FatArchSize;
            const std::uint32_t offset = machBigEndian32(entry + 8);
            const std::uint32_t length = machBigEndian32(entry + 12);
            if (offset > size || length > size - offset)
                continue;
            BBXMachOSlice slice;
            slice.startAddress = machBytes(header) + offset;
            slice.cpuType = std::int32_t(machBigEndian32(entry));
            slice.cpuSubtype = std::int32_t(machBigEndian32(entry + 4));
            slice.size = length;
            block(&slice);
        }
        return;
    }
    BBXMachOSlice slice;
    slice.startAddress = header;
    slice.size = size;
    if (isMachMagic(magic) && size >= 12)
        machReadCpu(header, magic, slice.cpuType, slice.cpuSubtype);
    block(&slice);
}

BBXMachOSlice LOMMachOFindSliceNamed(const LOMMachOMappedFile* file, const char* architectureName)
{
    BBXMachOSlice found;
    if (architectureName == nullptr)
        return found;
    LOMMachOEnumerateSlicesInFile(file, [&](BBXMachOSlice* slice) {
        if (std::strcmp(LOMMachOSliceArchitectureName(slice), architectureName) == 0)
            found = *slice;
    });
    return found;
}

const char* LOMMachOSliceArchitectureName(const BBXMachOSlice* slice)
{
    if (slice == nullptr)
        return "unknown";
    const std::int32_t type = slice->cpuType;
    const std::int32_t subtype = slice->cpuSubtype & 0x00FFFFFF; // without the capability bits
    switch (type) {
    case 7:
        return "i386";
    case CpuArch64 | 7:
        return subtype == 8 ? "x86_64h" : "x86_64";
    case 12:
        switch (subtype) {
        case 6:
            return "armv6";
        case 9:
            return "armv7";
        case 11:
            return "armv7s";
        case 12:
            return "armv7k";
        default:
            return "arm";
        }
    case CpuArch64 | 12:
        return subtype == 2 ? "arm64e" : "arm64";
    case 18:
        return "ppc";
    case CpuArch64 | 18:
        return "ppc64";
    default:
        return "unknown";
    }
}

void LOMMachOEnumerateLoadCommands(BBXMachOSlice* slice, const LOMMachOLoadCommandBlock& block)
{
    if (slice == nullptr || !block || slice->startAddress == nullptr || slice->size < 28)
        return;
    const std::uint32_t magic = machRead32(slice->startAddress);
    if (!isMachMagic(magic))
        return;
    const std::size_t headerSize = machHeaderSize(magic);
    if (slice->size < headerSize)
        return;
    machReadCpu(slice->startAddress, magic, slice->cpuType, slice->cpuSubtype);
    if (isSwappedMagic(magic))
        return;
    const unsigned char* base = machBytes(slice->startAddress);
    const std::uint32_t count = machRead32(base + 16);
    const std::uint64_t commandsSize = machRead32(base + 20);
    const std::uint64_t bound = std::min<std::uint64_t>(slice->size, headerSize + commandsSize);
    std::uint64_t offset = headerSize;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (bound < 8 || offset > bound - 8)
            return;
        const std::uint32_t type = machRead32(base + offset);
        const std::uint32_t size = machRead32(base + offset + 4);
        if (size < 8 || size % 4 != 0 || size > bound - offset)
            return;
        block(type, size, base + offset);
        offset += size;
    }
}

BBXMachOSlice LOMMachOSliceFromHeader(const void* header, std::size_t size)
{
    BBXMachOSlice slice;
    slice.startAddress = header;
    slice.size = header != nullptr ? size : 0;
    return slice;
}

bool LOMMachOSliceIs64Bit(const BBXMachOSlice* slice)
{
    return slice != nullptr && (slice->cpuType & CpuArch64) != 0;
}

bool LOMMachOSectionInfo(const BBXMachOSlice* slice, const char* segmentName, const char* sectionName,
                         LOMMachOSectionRecord* record)
{
    if (record == nullptr)
        return false;
    *record = LOMMachOSectionRecord();
    if (slice == nullptr || slice->startAddress == nullptr || segmentName == nullptr ||
        sectionName == nullptr)
        return false;
    BBXMachOSlice walked = *slice;
    bool found = false;
    LOMMachOEnumerateLoadCommands(&walked, [&](std::uint32_t type, std::uint32_t size, const void* command) {
        if (found)
            return;
        if (type == LOMMachOLoadCommandSegment64 && LOMMachOSliceIs64Bit(&walked))
            found = machFindSection(machBytes(command), size, true, segmentName, sectionName, record);
        else if (type == LOMMachOLoadCommandSegment && !LOMMachOSliceIs64Bit(&walked))
            found = machFindSection(machBytes(command), size, false, segmentName, sectionName, record);
    });
    if (!found)
        *record = LOMMachOSectionRecord();
    return found;
}

bool LOMMachOSectionAddress(const BBXMachOSlice* slice, const char* segmentName, const char* sectionName,
                            std::uintptr_t* address)
{
    if (address == nullptr)
        return false;
    *address = 0;
    LOMMachOSectionRecord record;
    if (!LOMMachOSectionInfo(slice, segmentName, sectionName, &record) || record.offset >= slice->size)
        return false;
    *address = reinterpret_cast<std::uintptr_t>(slice->startAddress) + std::uintptr_t(record.offset);
    return true;
}

void LOMMachOUnwindSections(const BBXMachOSlice*, std::uintptr_t*, std::uintptr_t*) {}

const std::uint8_t* LOMMachOUUIDBytes(const void* command, std::uint32_t size)
{
    if (command == nullptr || size < 24)
        return nullptr;
    return machBytes(command) + 8;
}

const char* LOMMachOLoadCommandString(const void* command, std::uint32_t size)
{
    if (command == nullptr || size < 12)
        return nullptr;
    const std::uint32_t offset = machRead32(machBytes(command) + 8);
    if (offset >= size)
        return nullptr;
    const char* text = reinterpret_cast<const char*>(command) + offset;
    // The name must end inside the command.
    if (std::memchr(text, '\0', size - offset) == nullptr)
        return nullptr;
    return text;
}

bool LOMMachOIsEncrypted(const void* command, std::uint32_t size)
{
    if (command == nullptr || size < 20)
        return false;
    return machRead32(machBytes(command) + 16) != 0;
}

LOMMachOVersion LOMMachOMinimumOSVersion(const void* command, std::uint32_t size)
{
    return machVersionAt(command, size, 8);
}

LOMMachOVersion LOMMachOSDKVersion(const void* command, std::uint32_t size)
{
    return machVersionAt(command, size, 12);
}

LOMMachOSegmentRecord LOMMachOSegmentInfo(const void* command, std::uint32_t size)
{
    LOMMachOSegmentRecord record;
    if (command == nullptr || size < 8)
        return record;
    const std::uint32_t type = machRead32(command);
    const unsigned char* bytes = machBytes(command);
    if (type == LOMMachOLoadCommandSegment64 && size >= 72) {
        std::memcpy(record.segname, bytes + 8, 16);
        record.vmaddr = machRead64(bytes + 24);
        record.vmsize = machRead64(bytes + 32);
    } else if (type == LOMMachOLoadCommandSegment && size >= 56) {
        std::memcpy(record.segname, bytes + 8, 16);
        record.vmaddr = machRead32(bytes + 24);
        record.vmsize = machRead32(bytes + 28);
    }
    return record;
}

QString LOMUUIDStringFromBytes(const std::uint8_t* bytes)
{
    if (bytes == nullptr)
        return QString();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), 16).toHex());
}

QString LOMVersionTripleString(const LOMMachOVersion* version)
{
    if (version == nullptr)
        return QString();
    return QStringLiteral("%1.%2.%3").arg(version->major).arg(version->minor).arg(version->patch);
}

} // namespace corvex
