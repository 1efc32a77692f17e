#pragma once

// Helpers shared by the unwinder's test files: bounded fake memory, call-frame bytes laid
// out at fake addresses, the live image table, and the probes of the real-stack tests.

#include "crash/runtime/BBXBinaryImages.h"
#include "crash/unwind/BBXThreadContext.h"

#include <QObject>

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <link.h>
#include <memory>
#include <vector>

namespace corvex::test {

using UnwindBytes = std::vector<std::uint8_t>;

// Regions of bytes at fake addresses; a read succeeds only inside one region. Image and
// target reads see the same regions unless `targetOnly` marks a region as stack.
class FakeUnwindMemory
{
public:
    FakeUnwindMemory()
    {
        mMemory = BBXUnwindMemory{&FakeUnwindMemory::readImage, &FakeUnwindMemory::readTarget, this};
    }
    FakeUnwindMemory(const FakeUnwindMemory&) = delete;
    FakeUnwindMemory& operator=(const FakeUnwindMemory&) = delete;

    void add(std::uint64_t address, UnwindBytes bytes, bool targetOnly = false)
    {
        mRegions.push_back(Region{address, std::move(bytes), targetOnly});
    }
    void addWords(std::uint64_t address, std::initializer_list<std::uint64_t> words)
    {
        UnwindBytes bytes(words.size() * 8);
        std::size_t i = 0;
        for (const std::uint64_t word : words)
            std::memcpy(bytes.data() + 8 * i++, &word, 8);
        add(address, std::move(bytes), true);
    }
    const BBXUnwindMemory* memory() const { return &mMemory; }

private:
    struct Region
    {
        std::uint64_t address;
        UnwindBytes bytes;
        bool targetOnly;
    };
    static bool read(const BBXUnwindMemory* memory, std::uint64_t address, void* out, std::size_t length,
                     bool image)
    {
        const auto* self = static_cast<const FakeUnwindMemory*>(memory->context);
        for (const Region& region : self->mRegions) {
            if (image && region.targetOnly)
                continue;
            if (address >= region.address && length <= region.bytes.size() &&
                address - region.address <= region.bytes.size() - length) {
                std::memcpy(out, region.bytes.data() + (address - region.address), length);
                return true;
            }
        }
        return false;
    }
    static bool readImage(const BBXUnwindMemory* m, std::uint64_t a, void* o, std::size_t l)
    {
        return read(m, a, o, l, true);
    }
    static bool readTarget(const BBXUnwindMemory* m, std::uint64_t a, void* o, std::size_t l)
    {
        return read(m, a, o, l, false);
    }

    BBXUnwindMemory mMemory;
    std::vector<Region> mRegions;
};

inline void appendU32(UnwindBytes& bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

inline void appendBytes(UnwindBytes& bytes, const UnwindBytes& more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
}

// A CIE ("zR", FDE pointers pc-relative sdata4, code alignment 1, data alignment -8, return
// address register 16) and one FDE after it, laid out at `base`.
struct UnwindCFIImage
{
    std::uint64_t base = 0;
    std::uint64_t fde = 0; // the FDE's address
    UnwindBytes bytes;
};

inline UnwindCFIImage buildUnwindCFI(std::uint64_t base, const UnwindBytes& cieInstructions,
                                     const UnwindBytes& fdeInstructions, std::uint64_t pcBegin,
                                     std::uint32_t pcRange)
{
    UnwindCFIImage image;
    image.base = base;
    UnwindBytes cie = {0, 0, 0, 0, 1, 'z', 'R', 0, 1, 0x78, 16, 1, 0x1B};
    appendBytes(cie, cieInstructions);
    while ((cie.size() + 4) % 8 != 0)
        cie.push_back(0); // DW_CFA_nop padding
    appendU32(image.bytes, static_cast<std::uint32_t>(cie.size()));
    appendBytes(image.bytes, cie);
    image.fde = base + image.bytes.size();
    UnwindBytes fde;
    appendU32(fde, static_cast<std::uint32_t>(image.bytes.size() + 4)); // back to the CIE
    const std::uint64_t pcField = image.fde + 8;
    appendU32(fde, static_cast<std::uint32_t>(pcBegin - pcField));
    appendU32(fde, pcRange);
    fde.push_back(0); // augmentation data length
    appendBytes(fde, fdeInstructions);
    appendU32(image.bytes, static_cast<std::uint32_t>(fde.size()));
    appendBytes(image.bytes, fde);
    return image;
}

// The image table of this process, installed for a scope.
class ScopedLiveImageTable
{
public:
    ScopedLiveImageTable() : mTable(std::make_unique<BBXBinaryImageTable>())
    {
        BBXBinaryImageTableClear(mTable.get());
        dl_iterate_phdr(
            [](dl_phdr_info* info, std::size_t, void* data) {
                BBXBinaryImageDetails details;
                if (BBXBinaryImageFillInSections(&details, info))
                    BBXBinaryImageTableAdd(static_cast<BBXBinaryImageTable*>(data), details.node);
                return 0;
            },
            mTable.get());
        BBXBinaryImageInstallTable(mTable.get());
    }
    ~ScopedLiveImageTable() { BBXBinaryImageInstallTable(nullptr); }
    ScopedLiveImageTable(const ScopedLiveImageTable&) = delete;
    ScopedLiveImageTable& operator=(const ScopedLiveImageTable&) = delete;
    BBXBinaryImageTable* table() { return mTable.get(); }

private:
    std::unique_ptr<BBXBinaryImageTable> mTable;
};

// Whose slot the real-stack test calls through QMetaObject::invokeMethod.
class UnwindSlotProbe : public QObject
{
    Q_OBJECT
public:
    std::function<void()> body;
public slots:
    void probe()
    {
        if (body)
            body();
    }
};

} // namespace corvex::test
