// The DWARF expression machine on arbitrary programs, read through bounded fake memory
// (call-frame rules of loaded images carry these programs). Input: a byte choosing the
// initial value, then the program with its ULEB128 length; its own bytes are also the
// memory that DW_OP_deref reads and the registers point into.

#include "crash/unwind/BBXDwarfExpression.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using namespace corvex;

constexpr std::uint64_t kProgramAt = 0x20000;

struct FuzzExpressionInput
{
    const std::uint8_t* data;
    std::size_t size;
};

bool fuzzExpressionRead(const BBXUnwindMemory* memory, std::uint64_t address, void* out, std::size_t length)
{
    const auto* input = static_cast<const FuzzExpressionInput*>(memory->context);
    if (address < kProgramAt || length > input->size || address - kProgramAt > input->size - length)
        return false;
    std::memcpy(out, input->data + (address - kProgramAt), length);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    FuzzExpressionInput input{data + 1, size - 1};
    const BBXUnwindMemory memory{fuzzExpressionRead, fuzzExpressionRead, &input};
    BBXThreadContext registers{};
    std::uint64_t* fields = &registers.rax;
    for (std::size_t i = 0; i < sizeof registers / sizeof *fields; ++i)
        fields[i] = kProgramAt + (i * 8) % (input.size + 1);
    const std::uint64_t initial = data[0] < 128 ? kProgramAt + data[0] : std::uint64_t(data[0]) << 56;
    std::uint64_t out = 0;
    BBXDwarfEvalulateExpression(&memory, kProgramAt, &registers, initial, &out);
    return 0;
}
