#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

// One frame of a crashed thread as symbolication fills it: the address as recorded, and
// the symbol, library and offset found for it (nothing found: only the address).
struct BBXStackFrame
{
    std::optional<QString> symbol;    // the display name, demangled when possible
    std::optional<QString> rawSymbol; // as the symbol lookup gave it
    std::optional<QString> library;   // the image file's name
    std::optional<QString> fileName;  // source positions: nothing fills them here
    std::uint32_t lineNumber = 0;
    std::uint64_t offset = 0;  // from the symbol's start, in the running process's addresses
    std::uint64_t address = 0; // as recorded
    // The address is where the thread was interrupted, not a return address.
    bool exactAddress = false;

    static BBXStackFrame stackFrameWithAddress(std::uint64_t address)
    {
        BBXStackFrame frame;
        frame.address = address;
        return frame;
    }
    // "{[0x%llx] file - symbol:line}" with a file name, else "{[0x%llx + line] symbol}".
    QString description() const;
};

using BBXThread = std::vector<BBXStackFrame>;
using BBXThreadArray = std::vector<BBXThread>;

} // namespace corvex
