// Reads the input as an XML property list; what reads is written and read again, and must
// come back equal (NaN aside, which never equals itself).

#include "platform/core/XmlPropertyList.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto read = corvex::XmlPropertyList::read(text);
    if (!read.ok())
        return 0;
    const auto written = corvex::XmlPropertyList::write(*read);
    if (!written.ok())
        return 0; // e.g. a string holding a character only a reference could bring in
    const auto again = corvex::XmlPropertyList::read(*written);
    if (!again.ok())
        std::abort();
    const auto rewritten = corvex::XmlPropertyList::write(*again);
    if (!rewritten.ok() || *rewritten != *written)
        std::abort();
    return 0;
}
