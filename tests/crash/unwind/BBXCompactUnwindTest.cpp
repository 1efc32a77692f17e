// The compact-unwind decoder on an "__unwind_info" blob built here: first and second level
// lookups, and the frame-pointer, frameless and DWARF encodings.

#include "crash/unwind/BBXCompactUnwind.h"
#include "tests/crash/CrashTestSupport.h"
#include "tests/crash/unwind/UnwindTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr std::uint64_t kCompactLoad = 0x400000;
constexpr std::uint64_t kCompactInfo = 0x500000;
constexpr std::uint32_t kFramelessRbxRbp = 0x02000000 | (4 << 16) | (2 << 10) | 4; // 32 bytes; rbx, rbp

// One first-level entry (functions from +0x1000 to +0x3000) over one page of kind `kind`:
// +0x1000 with the common encoding, +0x1100 (the last entry) with the page's own.
UnwindBytes compactUnwindBlob(std::uint32_t kind, std::uint32_t common, std::uint32_t own)
{
    UnwindBytes b;
    for (std::uint32_t word : {1u, 28u, 1u, 0u, 0u, 32u, 2u, common})
        appendU32(b, word);
    for (std::uint32_t word : {0x1000u, 64u, 0u, 0x3000u, 0u, 0u})
        appendU32(b, word);
    while (b.size() < 64)
        b.push_back(0);
    appendU32(b, kind);
    for (std::uint16_t half : {std::uint16_t(12), std::uint16_t(2), std::uint16_t(20), std::uint16_t(1)}) {
        b.push_back(static_cast<std::uint8_t>(half));
        b.push_back(static_cast<std::uint8_t>(half >> 8));
    }
    appendU32(b, 0x000000);
    appendU32(b, 0x01000100);
    appendU32(b, own);
    return b;
}

} // namespace

TEST(BBXCompactUnwind, LookupFindsTheLastEntryOfACompressedPage)
{
    FakeUnwindMemory memory;
    memory.add(kCompactInfo, compactUnwindBlob(3, 0x01000000, kFramelessRbxRbp));
    BBXCompactUnwindContext context;
    ASSERT_TRUE(BBXCompactUnwindInit(&context, kCompactInfo, 0, kCompactLoad, memory.memory()));
    BBXCompactUnwindResult result{};
    ASSERT_TRUE(BBXCompactUnwindLookup(&context, kCompactLoad + 0x2000, &result));
    EXPECT_EQ(result.functionStart, kCompactLoad + 0x1100);
    EXPECT_EQ(result.functionEnd, kCompactLoad + 0x3000);
    EXPECT_EQ(result.encoding, kFramelessRbxRbp);
    ASSERT_TRUE(BBXCompactUnwindLookup(&context, kCompactLoad + 0x1080, &result));
    EXPECT_EQ(result.functionEnd, kCompactLoad + 0x1100);
    EXPECT_EQ(result.encoding, 0x01000000u);
    EXPECT_FALSE(BBXCompactUnwindLookup(&context, kCompactLoad + 0x3000, &result));
}

TEST(BBXCompactUnwind, RefusedPagesEncodingsAndHeaders)
{
    struct Refusal
    {
        UnwindBytes blob;
        const char* logged;
    };
    const Refusal cases[] = {
        {compactUnwindBlob(2, 0x01000000, 0), "Encountered a regular second-level page"},
        {compactUnwindBlob(3, 0, 0), "Entry has has no unwind info"},
        {compactUnwindBlob(9, 0, 0), "Unrecognized header kind - unable to continue"},
    };
    for (const Refusal& c : cases) {
        ScopedSdkLog log;
        FakeUnwindMemory memory;
        memory.add(kCompactInfo, c.blob);
        BBXCompactUnwindContext context;
        ASSERT_TRUE(BBXCompactUnwindInit(&context, kCompactInfo, 0, kCompactLoad, memory.memory()));
        BBXThreadContext registers{};
        registers.rip = kCompactLoad + 0x1010;
        EXPECT_FALSE(BBXCompactUnwindLookupAndCompute(&context, &registers));
        EXPECT_TRUE(log.text().contains(c.logged)) << log.text().constData();
    }
    ScopedSdkLog log;
    FakeUnwindMemory memory;
    memory.add(kCompactInfo, {2, 0, 0, 0});
    BBXCompactUnwindContext context;
    EXPECT_FALSE(BBXCompactUnwindInit(&context, kCompactInfo, 0, kCompactLoad, memory.memory()));
    EXPECT_FALSE(BBXCompactUnwindInit(&context, 8, 0, kCompactLoad, memory.memory()));
    EXPECT_TRUE(log.text().contains("Error: could not read memory contents of unwindInfo"));
    EXPECT_TRUE(log.text().contains("Error: invalid unwind info passed to compact unwind init"));
}

TEST(BBXCompactUnwind, FramelessRestoresOnlyRbpAndReadsThePCAfterBothSlots)
{
    ScopedSdkLog log;
    FakeUnwindMemory memory;
    memory.add(kCompactInfo, compactUnwindBlob(3, 0x01000000, kFramelessRbxRbp));
    memory.addWords(0x7000, {0, 0xB0B0, 0xF0F0, 0x401234});
    BBXCompactUnwindContext context;
    ASSERT_TRUE(BBXCompactUnwindInit(&context, kCompactInfo, 0, kCompactLoad, memory.memory()));
    BBXThreadContext registers{};
    registers.rip = kCompactLoad + 0x1200;
    registers.rsp = 0x7000;
    registers.rbx = 0x77;
    ASSERT_TRUE(BBXCompactUnwindLookupAndCompute(&context, &registers));
    EXPECT_EQ(registers.rip, 0x401234u);
    EXPECT_EQ(registers.rsp, 0x7020u);
    EXPECT_EQ(registers.rbp, 0xF0F0u);
    EXPECT_EQ(registers.rbx, 0x77u);
    EXPECT_TRUE(log.text().contains("Error: skipping a restore of register 1 at 0x7008"));

    // Mode 1 (frame pointer) from the common encoding.
    registers = BBXThreadContext{};
    registers.rip = kCompactLoad + 0x1010;
    registers.rsp = 0x6000;
    registers.rbp = 0x7010;
    ASSERT_TRUE(BBXCompactUnwindLookupAndCompute(&context, &registers));
    EXPECT_EQ(registers.rip, 0x401234u);
    EXPECT_EQ(registers.rbp, 0xF0F0u);
    EXPECT_EQ(registers.rsp, 0x7020u);
}

TEST(BBXCompactUnwind, PermutationDigitsAndRemapping)
{
    struct Case
    {
        std::uint32_t permutation;
        std::uint32_t count;
        std::vector<std::uint32_t> registers;
    };
    const Case cases[] = {
        {0, 0, {}},
        {5, 1, {6}},
        {4, 2, {1, 6}},
        {0, 3, {1, 2, 3}},
        {119, 5, {1, 6, 5, 4, 3}},
        {0, 6, {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        std::uint32_t digits[6] = {};
        std::uint32_t registers[6] = {};
        ASSERT_TRUE(BBXCompactUnwindDecompressPermutation(c.permutation, c.count, digits));
        ASSERT_TRUE(BBXCompactUnwindRemapRegisters(digits, c.count, registers));
        EXPECT_EQ(std::vector<std::uint32_t>(registers, registers + c.count), c.registers);
    }
    std::uint32_t digits[7] = {};
    EXPECT_FALSE(BBXCompactUnwindDecompressPermutation(0, 7, digits));
    std::uint32_t registers[7] = {};
    EXPECT_FALSE(BBXCompactUnwindRemapRegisters(digits, 7, registers));
}

TEST(BBXCompactUnwind, DwarfModeRunsTheFDEAtItsOffset)
{
    constexpr std::uint64_t ehFrame = 0x600000;
    const UnwindCFIImage cfi =
        buildUnwindCFI(ehFrame, {0x0C, 7, 8, 0x90, 1}, {}, kCompactLoad + 0x1000, 0x100);
    FakeUnwindMemory memory;
    memory.add(kCompactInfo,
               compactUnwindBlob(3, BBXCompactUnwindModeDwarf | std::uint32_t(cfi.fde - ehFrame), 0));
    memory.add(ehFrame, cfi.bytes);
    memory.addWords(0x7000, {0x402222});
    BBXCompactUnwindContext context;
    ASSERT_TRUE(BBXCompactUnwindInit(&context, kCompactInfo, ehFrame, kCompactLoad, memory.memory()));
    BBXThreadContext registers{};
    registers.rip = kCompactLoad + 0x1010;
    registers.rsp = 0x7000;
    ASSERT_TRUE(BBXCompactUnwindLookupAndCompute(&context, &registers));
    EXPECT_EQ(registers.rip, 0x402222u);
    EXPECT_EQ(registers.rsp, 0x7008u);
}
