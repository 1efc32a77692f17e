// The unwinder's walk on fake images and stacks: the first frame, refusals, repeats, the
// frame limit, the .eh_frame_hdr search; and on this process's own code, the step out of
// a stopped thread's first frame (its PC is exact, not a return address).

#include "crash/unwind/BBXUnwind.h"
#include "tests/crash/CrashTestSupport.h"
#include "tests/crash/unwind/UnwindTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr std::uint64_t kWalkImage = 0x400000;
constexpr std::uint64_t kWalkEhFrame = 0x480000;
constexpr std::uint64_t kWalkHdr = 0x490000;

// A fake image with one FDE (def_cfa rsp+8, ra at cfa-8) over [+0x1000, +0x1100), found
// through an .eh_frame_hdr of two entries (the second a function without an FDE range
// covering the PC).
class FakeWalkImage
{
public:
    FakeWalkImage() : mTable(std::make_unique<BBXBinaryImageTable>())
    {
        const UnwindCFIImage cfi =
            buildUnwindCFI(kWalkEhFrame, {0x0C, 7, 8, 0x90, 1}, {}, kWalkImage + 0x1000, 0x100);
        memory.add(kWalkEhFrame, cfi.bytes);
        UnwindBytes hdr = {1, 0x1B, 0x03, 0x3B};
        appendU32(hdr, static_cast<std::uint32_t>(kWalkEhFrame - (kWalkHdr + 4)));
        appendU32(hdr, 2);
        for (const std::uint64_t start : {kWalkImage + 0x1000, kWalkImage + 0x2000}) {
            appendU32(hdr, static_cast<std::uint32_t>(start - kWalkHdr));
            appendU32(hdr, static_cast<std::uint32_t>(cfi.fde - kWalkHdr));
        }
        memory.add(kWalkHdr, hdr);
        BBXBinaryImageTableClear(mTable.get());
        BBXBinaryImageRuntimeNode node;
        node.baseAddress = kWalkImage;
        node.size = 0x10000;
        node.ehFrame = kWalkEhFrame;
        node.ehFrameHdr = kWalkHdr;
        BBXBinaryImageTableAdd(mTable.get(), node);
        BBXBinaryImageInstallTable(mTable.get());
    }
    ~FakeWalkImage() { BBXBinaryImageInstallTable(nullptr); }

    FakeUnwindMemory memory;

private:
    std::unique_ptr<BBXBinaryImageTable> mTable;
};

std::vector<std::uint64_t> walkPCs(BBXUnwindContext* context, std::size_t limit = 64)
{
    std::vector<std::uint64_t> pcs;
    while (pcs.size() < limit && BBXUnwindNextFrame(context))
        pcs.push_back(BBXUnwindGetPC(context));
    return pcs;
}

} // namespace

TEST(BBXUnwind, WalksFDEsThenFramePointersAndStopsAtFPZero)
{
    ScopedSdkLog log;
    FakeWalkImage image;
    // Frame 0 at +0x1010 (a return address there: the FDE applies); its caller +0x5000 has no
    // FDE and unwinds by frame pointer to 0x403000, which has no FDE and FP 0.
    image.memory.addWords(0x7000, {kWalkImage + 0x5000, 0x7100, 0, 0, kWalkImage + 0x3000});
    BBXThreadContext registers{};
    registers.rip = kWalkImage + 0x1010;
    registers.rsp = 0x7000;
    registers.rbp = 0x7018;
    BBXUnwindContext context;
    ASSERT_TRUE(BBXUnwindInit(&context, &registers));
    BBXUnwindSetMemory(&context, image.memory.memory());
    EXPECT_EQ(walkPCs(&context),
              (std::vector<std::uint64_t>{kWalkImage + 0x1010, kWalkImage + 0x5000, kWalkImage + 0x3000}));
    EXPECT_TRUE(log.text().contains("FP is zero, aborting unwind"));
}

TEST(BBXUnwind, EhFrameHdrSearchChecksTheFDERange)
{
    FakeWalkImage image;
    const BBXUnwindMemory* memory = image.memory.memory();
    EXPECT_EQ(BBXUnwindFindFDEInEhFrameHdr(memory, kWalkHdr, kWalkImage + 0x0FFF), 0u);
    EXPECT_NE(BBXUnwindFindFDEInEhFrameHdr(memory, kWalkHdr, kWalkImage + 0x1000), 0u);
    // Past the first FDE's range but before the next entry: the search finds the FDE, the
    // range check in the step refuses it and the frame pointer takes over.
    ScopedSdkLog log;
    image.memory.addWords(0x7000, {0x7100, kWalkImage + 0x9000});
    BBXThreadContext registers{};
    registers.rip = kWalkImage + 0x1800;
    registers.rsp = 0x6000;
    registers.rbp = 0x7000;
    BBXUnwindContext context;
    BBXUnwindInit(&context, &registers);
    BBXUnwindSetMemory(&context, memory);
    ASSERT_TRUE(BBXUnwindNextFrame(&context));
    ASSERT_TRUE(BBXUnwindNextFrame(&context));
    EXPECT_EQ(BBXUnwindGetPC(&context), kWalkImage + 0x9000);
    EXPECT_TRUE(log.text().contains("lies outside the FDE at")) << log.text().constData();
}

TEST(BBXUnwind, RefusesInvalidStartsCountsRepeatsAndStopsAtTheFrameLimit)
{
    FakeUnwindMemory memory;
    struct Start
    {
        std::uint64_t pc, sp;
    };
    for (const Start s : {Start{0x10, 0x7000}, Start{0x401000, 0x10}}) {
        ScopedSdkLog log;
        BBXThreadContext registers{};
        registers.rip = s.pc;
        registers.rsp = s.sp;
        BBXUnwindContext context;
        BBXUnwindInit(&context, &registers);
        EXPECT_FALSE(BBXUnwindNextFrame(&context));
        EXPECT_TRUE(log.text().contains("Cancelling unwind for thread with invalid PC/SP"));
    }
    EXPECT_FALSE(BBXUnwindNextFrame(nullptr));

    // A frame record that points at itself: the same PC again and again.
    memory.addWords(0x7000, {0x7000, 0x401000});
    BBXThreadContext registers{};
    registers.rip = 0x401000;
    registers.rsp = 0x6000;
    registers.rbp = 0x7000;
    BBXUnwindContext context;
    BBXUnwindInit(&context, &registers);
    BBXUnwindSetMemory(&context, memory.memory());
    ASSERT_TRUE(BBXUnwindNextFrame(&context));
    EXPECT_EQ(BBXUnwindGetRepeatCount(&context), 0u);
    ASSERT_TRUE(BBXUnwindNextFrame(&context));
    EXPECT_EQ(BBXUnwindGetRepeatCount(&context), 1u);
    std::uint32_t frames = 2;
    while (BBXUnwindNextFrame(&context))
        ++frames;
    EXPECT_EQ(frames, BBXUnwindMaximumFrames);
}

namespace {

__attribute__((noinline)) int unwindFirstInstructionProbe(int value)
{
    volatile int local = value * 3;
    return local + 1;
}

// The probe's push %rbp: after an endbr64, or past the short jump over the signature the
// sanitizers' function checks put in front, where there is one.
std::uint64_t unwindProbeEntry()
{
    auto start = reinterpret_cast<std::uint64_t>(&unwindFirstInstructionProbe);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(start);
    if (bytes[0] == 0xEB)
        start += 2 + bytes[1];
    bytes = reinterpret_cast<const std::uint8_t*>(start);
    return bytes[0] == 0xF3 && bytes[1] == 0x0F && bytes[2] == 0x1E && bytes[3] == 0xFA ? start + 4 : start;
}

} // namespace

TEST(BBXUnwind, AStoppedThreadsFirstFrameLooksUpItsExactPC)
{
    ScopedLiveImageTable table;
    const std::uint64_t entry = unwindProbeEntry();
    ASSERT_EQ(*reinterpret_cast<const std::uint8_t*>(entry), 0x55) << "the probe starts with push %rbp";
    const std::uint64_t caller = reinterpret_cast<std::uint64_t>(&unwindProbeEntry) + 16;

    // At the first instruction: the return address is on top of the stack.
    std::uint64_t stack[4] = {caller, 0, 0, 0};
    BBXThreadContext registers{};
    registers.rip = reinterpret_cast<std::uint64_t>(&unwindFirstInstructionProbe);
    registers.rsp = reinterpret_cast<std::uint64_t>(&stack[0]);
    registers.rbp = reinterpret_cast<std::uint64_t>(&stack[2]);
    BBXUnwindContext context;
    BBXUnwindInitFromSignal(&context, &registers);
    ASSERT_TRUE(BBXUnwindNextFrame(&context));
    ASSERT_TRUE(BBXUnwindNextFrame(&context));
    EXPECT_EQ(BBXUnwindGetPC(&context), caller);
    EXPECT_EQ(BBXUnwindGetStackPointer(&context), registers.rsp + 8);

    // Just after push %rbp: the return address is the word above the pushed one.
    std::uint64_t pushed[4] = {0x1234, caller, 0, 0};
    registers.rip = entry + 1;
    registers.rsp = reinterpret_cast<std::uint64_t>(&pushed[0]);
    BBXUnwindInitFromSignal(&context, &registers);
    ASSERT_TRUE(BBXUnwindNextFrame(&context));
    ASSERT_TRUE(BBXUnwindNextFrame(&context));
    EXPECT_EQ(BBXUnwindGetPC(&context), caller);
    EXPECT_EQ(BBXUnwindGetStackPointer(&context), registers.rsp + 16);
    EXPECT_EQ(unwindFirstInstructionProbe(1), 4);
}
