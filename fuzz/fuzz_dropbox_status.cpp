// The reader of the Dropbox status file "corvex.local.status" on arbitrary bytes. Whatever it
// reads must write back to a file that reads to the same text again (the written form is a
// fixed point), and nothing it reads may hold a null record.

#include "cloud/dropbox/DropboxStatusCoding.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using corvex::DropboxStatusCoding;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto persisted = DropboxStatusCoding::decode(bytes);
    if (!persisted)
        return 0;
    for (const auto& [key, record] : persisted->docs) {
        if (!record) {
            std::fprintf(stderr, "fuzz_dropbox_status: null record\n");
            std::abort();
        }
    }
    const QByteArray written = DropboxStatusCoding::encode(*persisted);
    const auto again = DropboxStatusCoding::decode(written);
    if (!again || DropboxStatusCoding::encode(*again) != written) {
        std::fprintf(stderr, "fuzz_dropbox_status: written form does not read back\n");
        std::abort();
    }
    return 0;
}
