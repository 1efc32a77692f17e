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
        (void)table->imageStart();
        // A symbol answers only inside its extent.
        for (const std::uint64_t address :
             {std::uint64_t(0x1000), std::uint64_t(0x1028), ~std::uint64_t(0)}) {
            const corvex::BBXElfSymbolTable::Symbol* symbol = table->symbolContaining(address);
            if (symbol != nullptr && (address < symbol->value || address - symbol->value >= symbol->size))
                std::abort();
        }
    }
    return 0;
}
