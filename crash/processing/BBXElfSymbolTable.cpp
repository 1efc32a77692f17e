#include "crash/processing/BBXElfSymbolTable.h"

#include "platform/core/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <elf.h> // the ELF record layouts
#include <limits>
#include <unistd.h> // pread

namespace corvex {

namespace {

constexpr std::uint32_t MaximumSections = 65535;
constexpr std::uint32_t MaximumProgramHeaders = 65535;
constexpr std::uint64_t MaximumNoteBytes = 64 * 1024;

bool readRecord(const BBXElfSymbolTable::ReadAt& readAt, std::uint64_t fileSize, std::uint64_t offset,
                void* out, std::size_t length)
{
    if (offset > fileSize || length > fileSize - offset)
        return false;
    return readAt(offset, out, length);
}

QByteArray buildIdFromNotes(const QByteArray& notes)
{
    qsizetype at = 0;
    while (at + qsizetype(sizeof(Elf64_Nhdr)) <= notes.size()) {
        Elf64_Nhdr header;
        std::memcpy(&header, notes.constData() + at, sizeof header);
        at += qsizetype(sizeof header);
        const qsizetype nameSpan = qsizetype((quint64(header.n_namesz) + 3) & ~quint64(3));
        const qsizetype descSpan = qsizetype((quint64(header.n_descsz) + 3) & ~quint64(3));
        if (nameSpan > notes.size() - at || descSpan > notes.size() - at - nameSpan)
            return QByteArray();
        const QByteArray name = notes.mid(at, qsizetype(header.n_namesz));
        if (header.n_type == NT_GNU_BUILD_ID && name == QByteArray("GNU", 4))
            return notes.mid(at + nameSpan, qsizetype(header.n_descsz));
        at += nameSpan + descSpan;
    }
    return QByteArray();
}

} // namespace

std::optional<BBXElfSymbolTable> BBXElfSymbolTable::readFile(const QString& path)
{
    // A report names the image paths of another run: whatever is there now, a named pipe
    // included, is opened without blocking and read only as a regular file. Every read below
    // is bounded by fixed limits, so the file's size needs none.
    const Result<RegularFile> file = RegularFile::open(path, std::numeric_limits<qint64>::max());
    if (!file.ok())
        return std::nullopt;
    const int fd = file->descriptor();
    return read(std::uint64_t(file->size()), [fd](std::uint64_t offset, void* out, std::size_t length) {
        std::size_t done = 0;
        while (done < length) {
            const ssize_t got =
                ::pread(fd, static_cast<char*>(out) + done, length - done, off_t(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            done += std::size_t(got);
        }
        return true;
    });
}

std::optional<BBXElfSymbolTable> BBXElfSymbolTable::read(std::uint64_t fileSize, const ReadAt& readAt)
{
    Elf64_Ehdr header;
    if (!readRecord(readAt, fileSize, 0, &header, sizeof header))
        return std::nullopt;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_ident[EI_DATA] != ELFDATA2LSB || header.e_shentsize != sizeof(Elf64_Shdr) ||
        header.e_shnum == 0 || header.e_shnum > MaximumSections)
        return std::nullopt;
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (!readRecord(readAt, fileSize, header.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr)))
        return std::nullopt;

    BBXElfSymbolTable table;
    // The image tables count an image from its lowest load segment less that segment's
    // offset (BBXBinaryImageFillInSections); the same here maps their offsets into the file.
    if (header.e_phnum != 0 && header.e_phentsize == sizeof(Elf64_Phdr) &&
        header.e_phnum <= MaximumProgramHeaders) {
        std::vector<Elf64_Phdr> segments(header.e_phnum);
        if (readRecord(readAt, fileSize, header.e_phoff, segments.data(),
                       segments.size() * sizeof(Elf64_Phdr))) {
            for (const Elf64_Phdr& segment : segments) {
                if (segment.p_type != PT_LOAD || segment.p_offset > segment.p_vaddr)
                    continue;
                const std::uint64_t start = segment.p_vaddr - segment.p_offset;
                if (!table.mImageStart || start < *table.mImageStart)
                    table.mImageStart = start;
            }
        }
    }
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_NOTE || section.sh_size > MaximumNoteBytes || !table.mBuildId.isEmpty())
            continue;
        QByteArray notes(qsizetype(section.sh_size), Qt::Uninitialized);
        if (readRecord(readAt, fileSize, section.sh_offset, notes.data(), std::size_t(notes.size())))
            table.mBuildId = buildIdFromNotes(notes);
    }

    // The static table when there is one, else the dynamic one (a stripped file).
    const auto hasType = [&](std::uint32_t type) {
        return std::any_of(sections.begin(), sections.end(),
                           [type](const Elf64_Shdr& s) { return s.sh_type == type; });
    };
    const std::uint32_t wanted = hasType(SHT_SYMTAB) ? SHT_SYMTAB : SHT_DYNSYM;
    std::uint64_t total = 0;
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != wanted || section.sh_entsize != sizeof(Elf64_Sym) ||
            section.sh_link >= sections.size())
            continue;
        const Elf64_Shdr& strings = sections[section.sh_link];
        const std::uint64_t count = section.sh_size / sizeof(Elf64_Sym);
        if (count == 0 || total + count > MaximumSymbols || strings.sh_size > MaximumStringTableBytes)
            return std::nullopt;
        total += count;
        std::vector<Elf64_Sym> symbols(count);
        QByteArray names(qsizetype(strings.sh_size), Qt::Uninitialized);
        if (!readRecord(readAt, fileSize, section.sh_offset, symbols.data(), count * sizeof(Elf64_Sym)) ||
            !readRecord(readAt, fileSize, strings.sh_offset, names.data(), std::size_t(names.size())))
            return std::nullopt;
        for (const Elf64_Sym& symbol : symbols) {
            const unsigned type = ELF64_ST_TYPE(symbol.st_info);
            if (type != STT_FUNC && type != STT_GNU_IFUNC && type != STT_NOTYPE)
                continue;
            if (symbol.st_shndx == SHN_UNDEF || symbol.st_shndx >= sections.size() || symbol.st_name == 0 ||
                symbol.st_name >= std::uint64_t(names.size()))
                continue;
            // What nm calls t, T and W: symbols of executable sections.
            if ((sections[symbol.st_shndx].sh_flags & SHF_EXECINSTR) == 0)
                continue;
            const char* start = names.constData() + symbol.st_name;
            const std::size_t room = std::size_t(names.size()) - symbol.st_name;
            const std::size_t length = strnlen(start, room);
            if (length == 0 || length == room)
                continue;
            table.mSymbols.push_back(
                Symbol{symbol.st_value, symbol.st_size, QByteArray(start, qsizetype(length))});
        }
    }
    std::stable_sort(table.mSymbols.begin(), table.mSymbols.end(),
                     [](const Symbol& a, const Symbol& b) { return a.value < b.value; });
    return table;
}

QByteArray BBXElfSymbolTable::uuidText() const
{
    if (mBuildId.isEmpty())
        return QByteArray();
    QByteArray uuid = mBuildId.left(16);
    uuid.append(QByteArray(16 - uuid.size(), '\0'));
    return uuid.toHex();
}

const BBXElfSymbolTable::Symbol* BBXElfSymbolTable::symbolContaining(std::uint64_t address) const
{
    auto after =
        std::upper_bound(mSymbols.begin(), mSymbols.end(), address,
                         [](std::uint64_t value, const Symbol& symbol) { return value < symbol.value; });
    // Down past the labels to the nearest sized symbol; of several at its address (aliases),
    // the last one listed whose extent holds the address.
    while (after != mSymbols.begin() && (after - 1)->size == 0)
        --after;
    if (after == mSymbols.begin())
        return nullptr;
    const std::uint64_t start = (after - 1)->value;
    for (auto at = after; at != mSymbols.begin() && (at - 1)->value == start; --at) {
        const Symbol& symbol = *(at - 1);
        if (symbol.size != 0 && address - start < symbol.size)
            return &symbol;
    }
    return nullptr;
}

} // namespace corvex
