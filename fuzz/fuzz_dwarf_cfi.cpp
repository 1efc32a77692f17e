// The call-frame reader and its rule machine on arbitrary bytes, read through bounded fake
// memory. Call-frame information comes from the images a process loaded, so a damaged or
// hostile library hands the crash handler these bytes. Input: a two-byte FDE offset, a
// two-byte PC offset, a flag byte (bit 0: exact PC), then the section; the same bytes also
// stand in for the stack and for an .eh_frame_hdr table.

#include "crash/unwind/BBXDwarfCFI.h"
#include "crash/unwind/BBXUnwind.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using namespace corvex;

constexpr std::uint64_t kSectionAt = 0x10000;
constexpr std::uint64_t kStackAt = 0x70000;

struct FuzzCFIInput
{
    const std::uint8_t* data;
    std::size_t size;
};

bool fuzzCFIRead(const BBXUnwindMemory* memory, std::uint64_t address, void* out, std::size_t length)
{
    const auto* input = static_cast<const FuzzCFIInput*>(memory->context);
    for (const std::uint64_t base : {kSectionAt, kStackAt}) {
        if (address >= base && length <= input->size && address - base <= input->size - length) {
            std::memcpy(out, input->data + (address - base), length);
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    const std::uint16_t fdeOffset = static_cast<std::uint16_t>(data[0] | (data[1] << 8));
    const std::uint16_t pcOffset = static_cast<std::uint16_t>(data[2] | (data[3] << 8));
    const bool exact = (data[4] & 1) != 0;
    FuzzCFIInput input{data + 5, size - 5};
    const BBXUnwindMemory memory{fuzzCFIRead, fuzzCFIRead, &input};

    BBXDwarfCIE cie;
    BBXDwarfParseCIERecord(&memory, &cie, kSectionAt);
    BBXDwarfFDERecord record;
    if (BBXDwarfParseFDEAtAddress(&memory, &record, kSectionAt + fdeOffset)) {
        BBXThreadContext registers{};
        registers.rip = record.fde.pcBegin + pcOffset;
        registers.rsp = kStackAt + 64;
        registers.rbp = kStackAt + 128;
        BBXDwarfUnwindComputeRegisters(&memory, &record, &registers, exact);
    }
    BBXUnwindFindFDEInEhFrameHdr(&memory, kSectionAt, kSectionAt + pcOffset);
    return 0;
}
