#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace corvex {

// The function symbols of an ELF file on disk (.symtab, and .dynsym for stripped files), so
// that static and hidden functions get names that dladdr cannot give, and the images a
// crashed run loaded that this process has not get names at all. A symbol names only the
// addresses inside its extent (its size). Ordinary code, run at the next launch. Every read
// is bounded by the file's size and by fixed limits; a damaged file answers nothing rather
// than a wrong table.
class BBXElfSymbolTable
{
public:
    struct Symbol
    {
        std::uint64_t value = 0; // the file's virtual address
        std::uint64_t size = 0;
        QByteArray name;
    };
    // Reads `length` bytes at `offset` into `out`; false when it cannot.
    using ReadAt = std::function<bool(std::uint64_t offset, void* out, std::size_t length)>;

    static constexpr std::uint64_t MaximumSymbols = 4 * 1024 * 1024;
    static constexpr std::uint64_t MaximumStringTableBytes = 64 * 1024 * 1024;

    // A regular file only, opened read-only without blocking (RegularFile); nothing when it is
    // anything else or damaged.
    static std::optional<BBXElfSymbolTable> readFile(const QString& path);
    // The same over any byte source of `fileSize` bytes (the fuzz target's entry).
    static std::optional<BBXElfSymbolTable> read(std::uint64_t fileSize, const ReadAt& readAt);

    // The GNU build-id note's bytes; empty when there is none.
    const QByteArray& buildId() const { return mBuildId; }
    // The first 16 bytes of the build id as 32 lower-case hex digits (the image tables' uuid).
    QByteArray uuidText() const;
    // The file's address of its first byte once loaded: the lowest load segment's address less
    // its file offset, as the image tables count an image's base. Nothing without one.
    std::optional<std::uint64_t> imageStart() const { return mImageStart; }
    // The function symbol whose extent holds `address`; nullptr when none does. Symbols
    // without a size hold nothing (labels inside code are skipped on the way down), and the
    // nearest sized symbol below decides: an address past its end lies between functions.
    const Symbol* symbolContaining(std::uint64_t address) const;
    std::size_t size() const { return mSymbols.size(); }

private:
    QByteArray mBuildId;
    std::optional<std::uint64_t> mImageStart;
    std::vector<Symbol> mSymbols; // sorted by value
};

} // namespace corvex
