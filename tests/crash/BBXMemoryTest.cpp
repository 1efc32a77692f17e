#include "crash/runtime/BBXMemory.h"
#include "tests/crash/CrashTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>
#include <vector>

using namespace corvex;
using namespace corvex::test;

namespace {

// Two pages: the first readable and filled, the second as the case wants it.
struct CrashTestPages
{
    char* base = nullptr;
    CrashTestPages()
    {
        base = static_cast<char*>(
            ::mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        std::memset(base, 'v', 4096);
    }
    ~CrashTestPages() { ::munmap(base, 8192); }
};

} // namespace

TEST(BBXMemory, SafeReadsAnswerFailureWithoutASignalThroughBothMechanisms)
{
    for (const auto mechanism : {BBXSafeReadMechanism::ProcessVmReadv, BBXSafeReadMechanism::Pipe}) {
        SCOPED_TRACE(crashMechanismName(mechanism));
        ScopedSafeReadMechanism scoped(mechanism);
        if (!scoped.ok() && mechanism == BBXSafeReadMechanism::ProcessVmReadv)
            continue; // refused by the sandbox: the pipe serves instead
        ASSERT_TRUE(scoped.ok());

        CrashTestPages pages;
        char out[16] = {};
        const auto first = reinterpret_cast<std::uint64_t>(pages.base);
        const std::uint64_t second = first + 4096;
        EXPECT_TRUE(BBXReadMemory(first + 100, out, sizeof out));
        EXPECT_EQ(std::memcmp(out, pages.base, sizeof out), 0);

        ASSERT_EQ(::mprotect(pages.base + 4096, 4096, PROT_NONE), 0);
        EXPECT_FALSE(BBXReadMemory(second, out, sizeof out)) << "PROT_NONE";
        EXPECT_FALSE(BBXReadMemory(first + 4096 - 8, out, sizeof out)) << "into PROT_NONE";
        ASSERT_EQ(::munmap(pages.base + 4096, 4096), 0);
        EXPECT_FALSE(BBXReadMemory(second, out, sizeof out)) << "unmapped";
        EXPECT_FALSE(BBXReadMemory(first + 4096 - 8, out, sizeof out)) << "into unmapped";
        EXPECT_FALSE(BBXReadMemory(8, out, sizeof out)) << "below 4096";
        EXPECT_TRUE(BBXReadMemory(first + 4096 - 8, out, 8)) << "up to the edge";

        // Longer than the pipe takes at once.
        std::vector<char> source(10000), copy(10000);
        for (std::size_t i = 0; i < source.size(); ++i)
            source[i] = char(i * 7);
        EXPECT_TRUE(BBXReadMemory(reinterpret_cast<std::uint64_t>(source.data()), copy.data(), copy.size()));
        EXPECT_EQ(source, copy);

        // A failed read leaves nothing behind for the next one.
        EXPECT_TRUE(BBXReadMemory(first, out, sizeof out));
        EXPECT_EQ(out[0], 'v');
    }
}

TEST(BBXMemory, ReadStringSafelyChecksEveryByteAndNeverTrustsAWrappingRange)
{
    CrashTestPages pages;
    const auto first = reinterpret_cast<std::uint64_t>(pages.base);
    ASSERT_EQ(::munmap(pages.base + 4096, 4096), 0);
    std::memcpy(pages.base, "hello", 6);
    std::uint64_t out = 0;
    EXPECT_TRUE(BBXReadStringSafely(first, &out, 100));
    EXPECT_EQ(out, first);
    EXPECT_TRUE(BBXReadStringSafely(first, &out, SIZE_MAX)) << "wraps, but the string ends first";
    out = 0;
    EXPECT_TRUE(BBXReadStringSafely(8, &out, 0)) << "maximum 0";
    EXPECT_EQ(out, 8u);
    EXPECT_FALSE(BBXReadStringSafely(first + 4096 - 4, &out, 100)) << "runs into unmapped memory";
    EXPECT_TRUE(BBXReadStringSafely(first + 4096 - 4, &out, 4)) << "stops at the maximum";
    EXPECT_FALSE(BBXReadStringSafely(UINT64_MAX - 10, &out, 100)) << "wrapping range";
    EXPECT_FALSE(BBXReadStringSafely(8, &out, 100));
}

TEST(BBXMemory, HexDigits)
{
    const struct
    {
        char c;
        std::uint8_t value;
    } digits[] = {{'0', 0},  {'9', 9},   {'a', 10},  {'f', 15}, {'F', 15},
                  {'A', 10}, {'G', 255}, {'g', 255}, {' ', 255}};
    for (const auto& d : digits)
        EXPECT_EQ(BBXHexDigitValue(d.c), d.value) << d.c;
    char out[8];
    std::memset(out, 'x', sizeof out);
    const std::uint8_t bytes[] = {0x00, 0xab, 0xff};
    BBXHexEncodeBytes(bytes, sizeof bytes, out);
    EXPECT_STREQ(out, "00abff");
    EXPECT_EQ(out[7], 'x');
}

namespace {
// Every test of the program reads memory through the mechanism set-up chooses.
[[maybe_unused]] const bool gCrashSafeReadsReady = BBXSafeReadSetup(false);
} // namespace
