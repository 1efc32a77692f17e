// The reader of ELF symbol tables on disk (.symtab, .dynsym, the build-id note): a library
// file may have been replaced or damaged since it was loaded, so its bytes are outside bytes.

#include "crash/processing/BBXElfSymbolTable.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto table =
        corvex::BBXElfSymbolTable::read(size, [&](std::uint64_t offset, void* out, std::size_t length) {
            if (offset > size || length > size - offset)
                std::abort(); // the reader must bound every read itself
            std::memcpy(out, data + offset, length);
            return true;
        });
    if (table) {
        (void)table->uuidText();
        (void)table->symbolAtOrBelow(0x1000);
        (void)table->symbolAtOrBelow(~std::uint64_t(0));
    }
    return 0;
}
