// Walks the input as a Mach-O file: every slice, every load command and every accessor, on a
// buffer of exactly the input's size so that any read past it is caught.

#include "kit/sys/MachO.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    corvex::LOMMachOEnumerateSlices(bytes.data(), bytes.size(), [](corvex::BBXMachOSlice* slice) {
        (void)corvex::LOMMachOSliceArchitectureName(slice);
        corvex::LOMMachOEnumerateLoadCommands(
            slice, [](std::uint32_t, std::uint32_t commandSize, const void* command) {
                (void)corvex::LOMMachOUUIDBytes(command, commandSize);
                (void)corvex::LOMMachOLoadCommandString(command, commandSize);
                (void)corvex::LOMMachOIsEncrypted(command, commandSize);
                (void)corvex::LOMMachOMinimumOSVersion(command, commandSize);
                (void)corvex::LOMMachOSDKVersion(command, commandSize);
                (void)corvex::LOMMachOSegmentInfo(command, commandSize);
            });
        corvex::LOMMachOSectionRecord record;
        (void)corvex::LOMMachOSectionInfo(slice, "__TEXT", "__text", &record);
        std::uintptr_t address = 0;
        (void)corvex::LOMMachOSectionAddress(slice, "__TEXT", "__unwind_info", &address);
    });
    return 0;
}
