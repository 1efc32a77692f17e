// The call-frame reader on exact bytes in bounded fake memory: readers, CIE and FDE
// parsing, one row per call-frame opcode and per malformed or refused case, and the step
// that turns rules into the caller's registers.

#include "crash/unwind/BBXDwarfCFI.h"
#include "crash/unwind/BBXDwarfReaders.h"
#include "tests/crash/CrashTestSupport.h"
#include "tests/crash/unwind/UnwindTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr std::uint64_t kCFIAt = 0x10000;
constexpr std::uint64_t kFunctionAt = 0x400000;

struct LebCase
{
    UnwindBytes bytes;
    bool isSigned;
    std::uint64_t value;
    std::uint64_t consumed;
};

} // namespace

TEST(BBXDwarfReaders, LEB128AndPointerEncodings)
{
    const LebCase lebs[] = {
        {{0xE5, 0x8E, 0x26}, false, 624485, 3},
        {{0x7F}, true, ~std::uint64_t(0), 1},
        {{0x80, 0x7F}, true, std::uint64_t(-128), 2},
        {{0x02}, true, 2, 1},
        // Eight bytes at most: the ninth is not read.
        {{0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, false, 1, 8},
    };
    for (const LebCase& c : lebs) {
        FakeUnwindMemory memory;
        memory.add(kCFIAt, c.bytes);
        BBXDwarfCursor cursor{memory.memory(), kCFIAt, false};
        const std::uint64_t value =
            c.isSigned ? std::uint64_t(BBXDwarfReadSLEB128(&cursor)) : BBXDwarfReadULEB128(&cursor);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(cursor.address - kCFIAt, c.consumed);
    }

    struct EncodingCase
    {
        std::uint8_t encoding;
        UnwindBytes bytes;
        std::uint64_t value;
    };
    const EncodingCase encodings[] = {
        {0xFF, {1, 2}, 0},
        {0x00, {1, 0, 0, 0, 0, 0, 0, 0}, 1},
        {0x03, {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
        {0x0B, {0xFC, 0xFF, 0xFF, 0xFF}, std::uint64_t(-4)},
        {0x1B, {0xFC, 0xFF, 0xFF, 0xFF}, kCFIAt - 4},
        {0x1A, {0x10, 0x00}, kCFIAt + 0x10},
        {0x9B, {0x00, 0x01, 0x00, 0x00}, 0xABCDEF},   // indirect: the pointer at kCFIAt + 0x100
        {0x05, {0}, BBXDwarfInvalidAddress},          // no such value format
        {0x53, {0, 0, 0, 0}, BBXDwarfInvalidAddress}, // aligned application
    };
    for (const EncodingCase& c : encodings) {
        SCOPED_TRACE(int(c.encoding));
        FakeUnwindMemory memory;
        memory.add(kCFIAt, c.bytes);
        memory.add(kCFIAt + 0x100, {0xEF, 0xCD, 0xAB, 0, 0, 0, 0, 0});
        BBXDwarfCursor cursor{memory.memory(), kCFIAt, false};
        EXPECT_EQ(BBXParseAddressWithEncodingAndAdvance(&cursor, c.encoding), c.value);
    }
    EXPECT_EQ(BBXParseAddressWithEncodingAndAdvance(nullptr, 0x03), BBXDwarfInvalidAddress);
}

TEST(BBXDwarfCFI, ParsesZRAndZPLRRecords)
{
    // zR with 0x1B: PC begin is the field's address plus its value, the range a plain u32.
    const UnwindCFIImage image = buildUnwindCFI(kCFIAt, {0x0C, 7, 8, 0x90, 1}, {}, kFunctionAt, 0x40);
    FakeUnwindMemory memory;
    memory.add(kCFIAt, image.bytes);
    BBXDwarfFDERecord record;
    ASSERT_TRUE(BBXDwarfParseFDEAtOffset(memory.memory(), &record, kCFIAt, image.fde - kCFIAt));
    EXPECT_EQ(record.fde.pcBegin, kFunctionAt);
    EXPECT_EQ(record.fde.pcRange, 0x40u);
    EXPECT_EQ(record.cie.dataAlignmentFactor, -8);
    EXPECT_EQ(record.cie.pointerEncoding, 0x1B);
    EXPECT_EQ(record.cie.returnAddressRegister, 16u);

    // zPLR, version 3: the personality in its own encoding (udata4) before L and R; the
    // return-address register as ULEB128.
    UnwindBytes cie = {0,    0,    0,    0, 3,    'z',  'P',  'L',  'R',  0,    1,
                       0x78, 0x90, 0x00, 7, 0x03, 0x44, 0x33, 0x22, 0x11, 0x1B, 0x1B};
    UnwindBytes bytes;
    appendU32(bytes, static_cast<std::uint32_t>(cie.size()));
    appendBytes(bytes, cie);
    FakeUnwindMemory zplr;
    zplr.add(kCFIAt, bytes);
    BBXDwarfCIE parsed;
    ASSERT_TRUE(BBXDwarfParseCIERecord(zplr.memory(), &parsed, kCFIAt));
    EXPECT_EQ(parsed.personality, 0x11223344u);
    EXPECT_EQ(parsed.lsdaEncoding, 0x1B);
    EXPECT_EQ(parsed.pointerEncoding, 0x1B);
    EXPECT_EQ(parsed.returnAddressRegister, 16u);
    EXPECT_EQ(parsed.instructionsLength, 0u);
}

TEST(BBXDwarfCFI, MalformedRecordsFailWithTheirMessages)
{
    struct Malformed
    {
        const char* name;
        UnwindBytes cieBody; // after the length field
        const char* logged;
    };
    const Malformed cases[] = {
        {"augmentation eh",
         {0, 0, 0, 0, 1, 'e', 'h', 0, 1, 0x78, 16},
         "Error: Unimplemented: augmentation string eh"},
        {"version 4", {0, 0, 0, 0, 4, 'z', 'R', 0, 1, 0x78, 16, 1, 0x1B}, "Error: CIE version 4 unsupported"},
        {"unknown entry",
         {0, 0, 0, 0, 1, 'z', 'Q', 0, 1, 0x78, 16, 1, 0},
         "Error: Unhandled augmentation string entry Q"},
        {"personality in a bad encoding",
         {0, 0, 0, 0, 1, 'z', 'P', 0, 1, 0x78, 16, 2, 0x05, 0},
         "Error: Found an invalid start address"},
        {"truncated", {0, 0, 0, 0, 1, 'z'}, nullptr},
    };
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedSdkLog log;
        UnwindBytes bytes;
        appendU32(bytes, static_cast<std::uint32_t>(c.cieBody.size() +
                                                    (std::string(c.name) == "truncated" ? 9 : 0)));
        appendBytes(bytes, c.cieBody);
        FakeUnwindMemory memory;
        memory.add(kCFIAt, bytes);
        BBXDwarfCIE cie;
        EXPECT_FALSE(BBXDwarfParseCIERecord(memory.memory(), &cie, kCFIAt));
        if (c.logged != nullptr) {
            EXPECT_TRUE(log.text().contains(c.logged)) << log.text().constData();
        }
    }

    ScopedSdkLog log;
    FakeUnwindMemory memory;
    memory.add(kCFIAt, {0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    BBXDwarfFDERecord record;
    EXPECT_FALSE(BBXDwarfParseFDEAtAddress(memory.memory(), &record, kCFIAt));
    EXPECT_TRUE(log.text().contains("Error: FDE has zero length"));
    EXPECT_FALSE(BBXDwarfParseFDEAtAddress(memory.memory(), &record, kCFIAt + 8));
    EXPECT_TRUE(log.text().contains("Error: CIE offset invalid"));
    EXPECT_FALSE(BBXDwarfParseFDEAtOffset(memory.memory(), &record, kCFIAt, 0));
}

namespace {

struct OpcodeCase
{
    const char* name;
    UnwindBytes instructions; // FDE instructions after a CIE of "def_cfa rsp+8, ra at cfa-8"
    std::uint64_t pcOffset;   // exact
    std::uint64_t cfaRegister;
    std::int64_t cfaOffset;
    std::uint64_t reg; // the register whose rule is checked
    BBXDwarfRuleKind kind;
    std::uint64_t value;
};

} // namespace

TEST(BBXDwarfCFI, EachOpcodeGivesItsRule)
{
    using K = BBXDwarfRuleKind;
    const std::uint64_t ra = 16;
    const OpcodeCase cases[] = {
        {"CIE rules alone", {}, 0, 7, 8, ra, K::SavedAtCFAOffset, std::uint64_t(-8)},
        {"nop", {0x00}, 4, 7, 8, ra, K::SavedAtCFAOffset, std::uint64_t(-8)},
        {"advance_loc then def_cfa_offset",
         {0x41, 0x0E, 16},
         1,
         7,
         16,
         ra,
         K::SavedAtCFAOffset,
         std::uint64_t(-8)},
        {"row after the PC not applied",
         {0x42, 0x0E, 16},
         1,
         7,
         8,
         ra,
         K::SavedAtCFAOffset,
         std::uint64_t(-8)},
        {"advance_loc1", {0x02, 200, 0x0E, 24}, 200, 7, 24, ra, K::SavedAtCFAOffset, std::uint64_t(-8)},
        {"advance_loc2",
         {0x03, 0x00, 0x01, 0x0E, 24},
         256,
         7,
         24,
         ra,
         K::SavedAtCFAOffset,
         std::uint64_t(-8)},
        {"advance_loc4",
         {0x04, 0x00, 0x00, 0x01, 0x00, 0x0E, 24},
         0x10000,
         7,
         24,
         ra,
         K::SavedAtCFAOffset,
         std::uint64_t(-8)},
        {"offset rbp", {0x86, 2}, 0, 7, 8, 6, K::SavedAtCFAOffset, std::uint64_t(-16)},
        {"offset_extended r12", {0x05, 12, 3}, 0, 7, 8, 12, K::SavedAtCFAOffset, std::uint64_t(-24)},
        {"offset_extended_sf rbx", {0x11, 3, 0x7E}, 0, 7, 8, 3, K::SavedAtCFAOffset, 16},
        {"GNU_negative_offset_extended", {0x2F, 3, 2}, 0, 7, 8, 3, K::SavedAtCFAOffset, 16},
        {"val_offset", {0x14, 3, 1}, 0, 7, 8, 3, K::ValueCFAOffset, std::uint64_t(-8)},
        {"val_offset_sf", {0x15, 3, 0x7F}, 0, 7, 8, 3, K::ValueCFAOffset, 8},
        {"restore", {0x86, 2, 0xC6}, 0, 7, 8, 6, K::Unchanged, 0},
        {"restore_extended", {0x86, 2, 0x06, 6}, 0, 7, 8, 6, K::Unchanged, 0},
        {"undefined", {0x07, 16}, 0, 7, 8, ra, K::Undefined, 0},
        {"same_value", {0x86, 2, 0x08, 6}, 0, 7, 8, 6, K::Unchanged, 0},
        {"register", {0x09, 3, 12}, 0, 7, 8, 3, K::InRegister, 12},
        {"def_cfa", {0x0C, 6, 16}, 0, 6, 16, ra, K::SavedAtCFAOffset, std::uint64_t(-8)},
        {"def_cfa_sf", {0x12, 6, 0x7E}, 0, 6, 16, ra, K::SavedAtCFAOffset, std::uint64_t(-8)},
        {"def_cfa_register", {0x0D, 6}, 0, 6, 8, ra, K::SavedAtCFAOffset, std::uint64_t(-8)},
        {"def_cfa_offset_sf", {0x13, 0x7C}, 0, 7, 32, ra, K::SavedAtCFAOffset, std::uint64_t(-8)},
        {"expression", {0x10, 3, 2, 0x77, 0}, 0, 7, 8, 3, K::AtExpression, 0},
        {"val_expression", {0x16, 3, 2, 0x77, 0}, 0, 7, 8, 3, K::ValueOfExpression, 0},
        {"GNU_args_size", {0x2E, 16}, 0, 7, 8, ra, K::SavedAtCFAOffset, std::uint64_t(-8)},
        // remember, change, restore: the rules and the CFA come back.
        {"remember and restore state", {0x0A, 0x0E, 32, 0x86, 2, 0x0B}, 0, 7, 8, 6, K::Unchanged, 0},
    };
    for (const OpcodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const UnwindCFIImage image =
            buildUnwindCFI(kCFIAt, {0x0C, 7, 8, 0x90, 1}, c.instructions, kFunctionAt, 0x20000);
        FakeUnwindMemory memory;
        memory.add(kCFIAt, image.bytes);
        BBXDwarfFDERecord record;
        ASSERT_TRUE(BBXDwarfParseFDEAtAddress(memory.memory(), &record, image.fde));
        BBXDwarfRuleMachine machine;
        ASSERT_TRUE(
            BBXDwarfComputeRulesForPC(memory.memory(), &record, kFunctionAt + c.pcOffset, true, &machine));
        EXPECT_EQ(machine.state.cfaRegister, c.cfaRegister);
        EXPECT_EQ(machine.state.cfaOffset, c.cfaOffset);
        EXPECT_EQ(machine.state.rules[c.reg].kind, c.kind);
        if (c.kind != BBXDwarfRuleKind::AtExpression && c.kind != BBXDwarfRuleKind::ValueOfExpression) {
            EXPECT_EQ(machine.state.rules[c.reg].value, c.value);
        } else {
            EXPECT_NE(machine.state.rules[c.reg].value, 0u);
        }
    }
}

TEST(BBXDwarfCFI, ARowAtAReturnAddressAppliesOnlyPastIt)
{
    // Rows begin after instructions: a return address less one at the row's first byte still
    // belongs to the row before; the exact PC of a stopped thread does not.
    const UnwindCFIImage image =
        buildUnwindCFI(kCFIAt, {0x0C, 7, 8, 0x90, 1}, {0x41, 0x0E, 16}, kFunctionAt, 0x40);
    FakeUnwindMemory memory;
    memory.add(kCFIAt, image.bytes);
    BBXDwarfFDERecord record;
    ASSERT_TRUE(BBXDwarfParseFDEAtAddress(memory.memory(), &record, image.fde));
    BBXDwarfRuleMachine machine;
    ASSERT_TRUE(BBXDwarfComputeRulesForPC(memory.memory(), &record, kFunctionAt + 1, false, &machine));
    EXPECT_EQ(machine.state.cfaOffset, 8);
    ASSERT_TRUE(BBXDwarfComputeRulesForPC(memory.memory(), &record, kFunctionAt + 1, true, &machine));
    EXPECT_EQ(machine.state.cfaOffset, 16);
}

TEST(BBXDwarfCFI, SetLocMovesToAnAbsoluteAddress)
{
    // The operand is pc-relative (the CIE's 0x1B): it lies 18 bytes into the FDE.
    const std::uint64_t fde = buildUnwindCFI(kCFIAt, {0x0C, 7, 8, 0x90, 1}, {}, kFunctionAt, 0x40).fde;
    const auto operand = static_cast<std::uint32_t>(kFunctionAt + 0x10 - (fde + 18));
    const UnwindCFIImage image =
        buildUnwindCFI(kCFIAt, {0x0C, 7, 8, 0x90, 1},
                       {0x01, std::uint8_t(operand), std::uint8_t(operand >> 8), std::uint8_t(operand >> 16),
                        std::uint8_t(operand >> 24), 0x0E, 24},
                       kFunctionAt, 0x40);
    FakeUnwindMemory memory;
    memory.add(kCFIAt, image.bytes);
    BBXDwarfFDERecord record;
    ASSERT_TRUE(BBXDwarfParseFDEAtAddress(memory.memory(), &record, image.fde));
    BBXDwarfRuleMachine machine;
    ASSERT_TRUE(BBXDwarfComputeRulesForPC(memory.memory(), &record, kFunctionAt + 0xF, true, &machine));
    EXPECT_EQ(machine.state.cfaOffset, 8);
    ASSERT_TRUE(BBXDwarfComputeRulesForPC(memory.memory(), &record, kFunctionAt + 0x10, true, &machine));
    EXPECT_EQ(machine.state.cfaOffset, 24);
}

TEST(BBXDwarfCFI, RefusedAndMalformedInstructions)
{
    struct Refused
    {
        const char* name;
        UnwindBytes instructions;
        const char* logged;
    };
    const Refused cases[] = {
        {"GNU_window_save", {0x2D}, "Error: Unimplemented DWARF instruction 0x2d"},
        {"unknown 0x17", {0x17}, "Error: Unrecognized DWARF instruction 0x17"},
        {"unknown 0x3f", {0x3F}, "Error: Unrecognized DWARF instruction 0x3f"},
        {"offset of register 17", {0x91, 1}, "Error: Found an invalid DW_CFA_offset register number"},
        {"same_value of 17", {0x08, 17}, "Error: Found an invalid DW_CFA_same_value register number"},
        {"register from 17", {0x09, 17, 1}, "Error: Found an invalid DW_CFA_register number"},
        {"register into 17", {0x09, 1, 17}, "Error: Found an invalid DW_CFA_register value"},
        {"def_cfa of 17", {0x0C, 17, 8}, "Error: Found an invalid DW_CFA_def_cfa register number"},
        {"def_cfa_register of 17",
         {0x0D, 17},
         "Error: Found an invalid DW_CFA_def_cfa_register register number"},
        {"expression of 17",
         {0x10, 17, 1, 0x30},
         "Error: Found an invalid DW_CFA_expression register number"},
        {"val_expression of 17",
         {0x16, 17, 1, 0x30},
         "Error: Found an invalid DW_CFA_val_expression register number"},
        {"restore of 17", {0xD1}, "Error: Found an invalid DW_CFA_restore register number"},
        {"restore_state without remember", {0x0B}, "Error: DW_CFA_restore_state without a remembered state"},
        {"remember nine deep",
         {0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A},
         "Error: DW_CFA_remember_state nested too deeply"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedSdkLog log;
        const UnwindCFIImage image =
            buildUnwindCFI(kCFIAt, {0x0C, 7, 8, 0x90, 1}, c.instructions, kFunctionAt, 0x40);
        FakeUnwindMemory memory;
        memory.add(kCFIAt, image.bytes);
        BBXDwarfFDERecord record;
        ASSERT_TRUE(BBXDwarfParseFDEAtAddress(memory.memory(), &record, image.fde));
        BBXThreadContext registers{};
        registers.rip = kFunctionAt + 4;
        registers.rsp = 0x7000;
        EXPECT_FALSE(BBXDwarfUnwindComputeRegisters(memory.memory(), &record, &registers, true));
        const QByteArray text = log.text();
        EXPECT_TRUE(text.contains(c.logged)) << text.constData();
        EXPECT_TRUE(text.contains("Error: Unable to run FDE instructions")) << text.constData();
    }
}

TEST(BBXDwarfCFI, CallerRegistersFromRulesAndRefusedSteps)
{
    // rbp saved at cfa-16, CFA rsp+16, return address at cfa-8.
    const UnwindCFIImage image =
        buildUnwindCFI(kCFIAt, {0x0C, 7, 8, 0x90, 1}, {0x0E, 16, 0x86, 2}, kFunctionAt, 0x40);
    FakeUnwindMemory memory;
    memory.add(kCFIAt, image.bytes);
    memory.addWords(0x7000, {0xBB00, 0x401000});
    BBXDwarfFDERecord record;
    ASSERT_TRUE(BBXDwarfParseFDEAtAddress(memory.memory(), &record, image.fde));
    BBXThreadContext registers{};
    registers.rip = kFunctionAt + 8;
    registers.rsp = 0x7000;
    registers.rbx = 0x33;
    ASSERT_TRUE(BBXDwarfUnwindComputeRegisters(memory.memory(), &record, &registers, false));
    EXPECT_EQ(registers.rip, 0x401000u);
    EXPECT_EQ(registers.rsp, 0x7010u);
    EXPECT_EQ(registers.rbp, 0xBB00u);
    EXPECT_EQ(registers.rbx, 0x33u);

    // A stack slot that cannot be read gives 0, and a PC or SP that does not move is refused.
    struct Refusal
    {
        UnwindBytes instructions;
        const char* logged;
    };
    const Refusal refusals[] = {
        {{0x0E, 0}, "Error: Stack pointer hasn't changed"},
        {{0x09, 16, 16}, "Error: PC hasn't changed"},
        {{0x0F, 1, 0x1E}, "Error: failed to compute CFA expression"},
    };
    for (const Refusal& r : refusals) {
        ScopedSdkLog log;
        const UnwindCFIImage refused =
            buildUnwindCFI(kCFIAt, {0x0C, 7, 8, 0x90, 1}, r.instructions, kFunctionAt, 0x40);
        FakeUnwindMemory refusedMemory;
        refusedMemory.add(kCFIAt, refused.bytes);
        refusedMemory.addWords(0x7000, {0x401000});
        ASSERT_TRUE(BBXDwarfParseFDEAtAddress(refusedMemory.memory(), &record, refused.fde));
        BBXThreadContext before{};
        before.rip = kFunctionAt + 8;
        before.rsp = 0x7000;
        BBXThreadContext after = before;
        EXPECT_FALSE(BBXDwarfUnwindComputeRegisters(refusedMemory.memory(), &record, &after, false));
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
        EXPECT_TRUE(log.text().contains(r.logged)) << log.text().constData();
    }
}
