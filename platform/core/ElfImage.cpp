#include "platform/core/ElfImage.h"

#include "platform/core/Sha1.h"
#include "platform/core/SysCalls.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {

const QString ElfImage::ErrorDomain = QStringLiteral("ElfImageErrorDomain");

namespace {

constexpr std::uint32_t ElfNoteSegment = 4; // PT_NOTE
constexpr std::uint32_t GnuBuildIdNote = 3; // NT_GNU_BUILD_ID

Error elfError(const QString& reason)
{
    return Error(ElfImage::ErrorDomain, 1, reason);
}

// Reads fields of either byte order, every read checked against the image's size.
class ElfBytes
{
public:
    ElfBytes(const unsigned char* bytes, std::size_t size, bool bigEndian)
        : mBytes(bytes), mSize(size), mBigEndian(bigEndian)
    {}

    bool has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= mSize && length <= mSize - offset;
    }

    std::uint64_t read(std::uint64_t offset, int width) const
    {
        std::uint64_t value = 0;
        for (int i = 0; i < width; ++i) {
            const std::uint64_t byte = mBytes[offset + std::uint64_t(mBigEndian ? i : width - 1 - i)];
            value = (value << 8) | byte;
        }
        return value;
    }

    const unsigned char* at(std::uint64_t offset) const { return mBytes + offset; }

private:
    const unsigned char* mBytes;
    std::size_t mSize;
    bool mBigEndian;
};

QByteArray findBuildId(const ElfBytes& elf, bool is64)
{
    const std::uint64_t phoff = is64 ? elf.read(32, 8) : elf.read(28, 4);
    const std::uint64_t phentsize = elf.read(is64 ? 54 : 42, 2);
    const std::uint64_t phnum = elf.read(is64 ? 56 : 44, 2);
    if (phentsize < (is64 ? 56u : 32u))
        return {};
    for (std::uint64_t i = 0; i < phnum; ++i) {
        const std::uint64_t header = phoff + i * phentsize;
        if (!elf.has(header, phentsize))
            return {};
        if (elf.read(header, 4) != ElfNoteSegment)
            continue;
        const std::uint64_t offset = is64 ? elf.read(header + 8, 8) : elf.read(header + 4, 4);
        const std::uint64_t size = is64 ? elf.read(header + 32, 8) : elf.read(header + 16, 4);
        if (!elf.has(offset, size))
            continue;
        std::uint64_t note = offset;
        const std::uint64_t end = offset + size;
        while (end - note >= 12) {
            const std::uint64_t nameSize = elf.read(note, 4);
            const std::uint64_t descSize = elf.read(note + 4, 4);
            const std::uint64_t type = elf.read(note + 8, 4);
            const std::uint64_t name = note + 12;
            const std::uint64_t desc = name + ((nameSize + 3) & ~std::uint64_t(3));
            const std::uint64_t next = desc + ((descSize + 3) & ~std::uint64_t(3));
            if (nameSize > size || descSize > size || next > end)
                break;
            if (type == GnuBuildIdNote && nameSize == 4 && std::memcmp(elf.at(name), "GNU", 4) == 0 &&
                descSize > 0)
                return QByteArray(reinterpret_cast<const char*>(elf.at(desc)), qsizetype(descSize));
            note = next;
        }
    }
    return {};
}

} // namespace

QString ElfImage::architectureName(std::uint16_t machine)
{
    switch (machine) {
    case 62: // EM_X86_64
        return QStringLiteral("x86_64");
    case 183: // EM_AARCH64
        return QStringLiteral("arm64");
    case 3: // EM_386
        return QStringLiteral("i386");
    case 40: // EM_ARM
        return QStringLiteral("armv7");
    default:
        return QStringLiteral("unknown");
    }
}

Result<ElfImageInfo> ElfImage::readBytes(const void* bytes, std::size_t size)
{
    const auto* data = static_cast<const unsigned char*>(bytes);
    if (data == nullptr || size < 52 ||
        std::memcmp(data,
                    "\x7F"
                    "ELF",
                    4) != 0)
        return elfError(QStringLiteral("not an ELF image"));
    const unsigned char elfClass = data[4];
    const unsigned char elfData = data[5];
    if ((elfClass != 1 && elfClass != 2) || (elfData != 1 && elfData != 2))
        return elfError(QStringLiteral("an ELF image of unknown class or byte order"));
    const bool is64 = elfClass == 2;
    if (is64 && size < 64)
        return elfError(QStringLiteral("a truncated ELF header"));
    const ElfBytes elf(data, size, elfData == 2);
    ElfImageInfo info;
    info.is64Bit = is64;
    info.machine = std::uint16_t(elf.read(18, 2));
    info.architecture = architectureName(info.machine);
    info.buildId = findBuildId(elf, is64);
    if (!info.buildId.isEmpty()) {
        info.uuid = info.buildId.left(16);
        info.uuid.append(QByteArray(16 - info.uuid.size(), '\0'));
    } else {
        Sha1 sha;
        sha.update(reinterpret_cast<const char*>(data), qsizetype(size));
        info.uuid = sha.digest().left(16);
    }
    return info;
}

Result<ElfImageInfo> ElfImage::readFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = SysCalls::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Error::posix(errno, QStringLiteral("open"), path);
    struct stat info
    {};
    if (SysCalls::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        const int saved = errno;
        SysCalls::close(fd);
        return S_ISREG(info.st_mode) ? Error::posix(saved, QStringLiteral("fstat"), path)
                                     : elfError(QStringLiteral("not a regular file: %1").arg(path));
    }
    const std::size_t size = std::size_t(info.st_size);
    void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    SysCalls::close(fd);
    if (mapping == MAP_FAILED)
        return Error::posix(errno, QStringLiteral("mmap"), path);
    auto result = readBytes(mapping, size);
    ::munmap(mapping, size);
    if (!result)
        return result;
    ElfImageInfo image = std::move(result).value();
    image.path = path;
    return image;
}

const Result<ElfImageInfo>& ElfImage::currentExecutable()
{
    static const Result<ElfImageInfo> current = [] {
        const QString path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        if (path.isEmpty())
            return Result<ElfImageInfo>(elfError(QStringLiteral("the running executable cannot be found")));
        return readFile(path);
    }();
    return current;
}

} // namespace corvex
