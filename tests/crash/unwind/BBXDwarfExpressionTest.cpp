// The expression machine on exact bytes in bounded fake memory: one row per operation and
// per refusal.

#include "crash/unwind/BBXDwarfExpression.h"
#include "tests/crash/CrashTestSupport.h"
#include "tests/crash/unwind/UnwindTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr std::uint64_t kExpressionAt = 0x20000;
constexpr std::uint64_t kDataAt = 0x30000;

struct ExpressionCase
{
    const char* name;
    UnwindBytes program; // without the length
    std::uint64_t initial;
    bool ok;
    std::uint64_t result; // when ok
    const char* logged;   // a line part expected in the kit log, or nullptr
};

} // namespace

TEST(BBXDwarfExpression, EachOperationAndRefusal)
{
    BBXThreadContext registers{};
    registers.rsp = 0x7000;
    registers.rip = 0x40123C; // (rip & 15) >= 11: the PLT rule adds 8
    registers.rbp = 0x9000;
    const ExpressionCase cases[] = {
        {"lit5 plus_uconst 3", {0x35, 0x23, 3}, 0, true, 8, "DW_OP_plus_uconst value 0x8"},
        {"lit0 plus keeps the initial value", {0x30, 0x22}, 7, true, 7, "DW_OP_plus"},
        {"breg7 +8", {0x77, 8}, 0, true, 0x7008, "DW_OP_breg 7 value"},
        {"breg6 -16", {0x76, 0x70}, 0, true, 0x9000 - 16, nullptr},
        {"breg16", {0x80, 0}, 0, true, 0x40123C, nullptr},
        {"breg17 refused", {0x81, 0}, 0, false, 0, "Error: DW_OP_breg invalid register number"},
        {"dup plus", {0x12, 0x22}, 21, true, 42, "DW_OP_dup value"},
        {"swap", {0x31, 0x16}, 9, true, 9, "DW_OP_swap"},
        {"and", {0x3F, 0x1A}, 0x1234, true, 0x4, "DW_OP_plus_and"},
        {"ne differ", {0x31, 0x2E}, 2, true, 1, "DW_OP_ne"},
        {"ne equal", {0x32, 0x2E}, 2, true, 0, nullptr},
        {"ge true", {0x3B, 0x2A}, 12, true, 1, "DW_OP_ge"},
        {"ge false", {0x3B, 0x2A}, 10, true, 0, nullptr},
        {"shl", {0x33, 0x24}, 1, true, 8, "DW_OP_shl"},
        {"lit31", {0x4F}, 0, true, 31, "DW_OP_lit 31"},
        // The PLT's rule: rsp + 8 + ((rip & 15) >= 11) << 3.
        {"plt", {0x77, 8, 0x80, 0, 0x3F, 0x1A, 0x3B, 0x2A, 0x33, 0x24, 0x22}, 0, true, 0x7010, nullptr},
        {"deref", {0x06}, kDataAt, true, 0x1122334455667788, "DW_OP_deref value 0x1122334455667788"},
        {"deref unreadable", {0x06}, 0x50000, false, 0, "Error: DW_OP_deref failed to read memory"},
        {"deref_size 4", {0x94, 4}, kDataAt, true, 0x55667788, "DW_OP_deref_size 0x55667788 size 4"},
        {"deref_size 1", {0x94, 1}, kDataAt, true, 0x88, nullptr},
        {"deref_size 3", {0x94, 3}, kDataAt, false, 0, "Error: unrecognized DW_OP_deref_size argument 3"},
        {"pop of empty", {0x22}, 5, false, 0, "Error: failed to execute DWARF machine opcode"},
        {"mul unknown", {0x31, 0x1E}, 5, false, 0, "Error: Unrecognized DWARF expression opcode 0x1e"},
        {"operand runs past the end", {0x23}, 5, false, 0, nullptr},
    };
    for (const ExpressionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedSdkLog log;
        FakeUnwindMemory memory;
        UnwindBytes bytes = {static_cast<std::uint8_t>(c.program.size())};
        appendBytes(bytes, c.program);
        memory.add(kExpressionAt, bytes);
        memory.addWords(kDataAt, {0x1122334455667788});
        std::uint64_t out = 0;
        EXPECT_EQ(BBXDwarfEvalulateExpression(memory.memory(), kExpressionAt, &registers, c.initial, &out),
                  c.ok);
        if (c.ok) {
            EXPECT_EQ(out, c.result);
        }
        if (c.logged != nullptr) {
            EXPECT_TRUE(log.text().contains(c.logged)) << log.text().constData();
        }
    }
}

TEST(BBXDwarfExpression, MalformedProgramsFailWithTheirMessages)
{
    BBXThreadContext registers{};
    struct Malformed
    {
        UnwindBytes bytes; // with the length
        const char* logged;
    };
    const Malformed cases[] = {
        {{0x00}, "Error: DWARF expression length is zero"},
        // The length claims three bytes; lit1 plus_uconst 300 runs one past them.
        {{0x03, 0x31, 0x23, 0xAC, 0x02}, "Error: DWARF expression hasn't completed execution"},
        {{0x05, 0x30}, nullptr}, // the length runs out of memory
    };
    for (const Malformed& c : cases) {
        ScopedSdkLog log;
        FakeUnwindMemory memory;
        memory.add(kExpressionAt, c.bytes);
        std::uint64_t out = 0;
        EXPECT_FALSE(BBXDwarfEvalulateExpression(memory.memory(), kExpressionAt, &registers, 0, &out));
        if (c.logged != nullptr) {
            EXPECT_TRUE(log.text().contains(c.logged)) << log.text().constData();
        }
    }
    std::uint64_t out = 0;
    FakeUnwindMemory memory;
    EXPECT_FALSE(BBXDwarfEvalulateExpression(memory.memory(), 8, &registers, 0, &out));
}

TEST(BBXDwarfExpression, AHundredValuesFitAndOneMoreOverflows)
{
    BBXThreadContext registers{};
    for (const std::size_t pushes : {std::size_t(99), std::size_t(100)}) {
        FakeUnwindMemory memory;
        UnwindBytes bytes = {static_cast<std::uint8_t>(pushes)};
        bytes.insert(bytes.end(), pushes, 0x31);
        memory.add(kExpressionAt, bytes);
        std::uint64_t out = 0;
        EXPECT_EQ(BBXDwarfEvalulateExpression(memory.memory(), kExpressionAt, &registers, 0, &out),
                  pushes == 99);
    }
}
