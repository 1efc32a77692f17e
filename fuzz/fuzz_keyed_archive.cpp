// BinaryPropertyList::read and KeyedArchive::unarchive on arbitrary bytes, with the default
// limits and with small ones. Whatever reads must write again, and reading and writing that
// output must give the same bytes (the writers are deterministic, and comparing bytes works
// for NaN too). A keyed archive that reads is free of cycles, so it must archive again.

#include "platform/core/BinaryPropertyList.h"
#include "platform/core/KeyedArchive.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what, const corvex::Error& error = corvex::Error())
{
    std::fprintf(stderr, "fuzz_keyed_archive: %s %s\n", what, error.toString().toUtf8().constData());
    std::abort();
}

void checkError(const corvex::Error& error)
{
    if (error.isNull() || error.localizedDescription().isEmpty())
        fail("an error without domain or text", error);
    if (error.domain() != corvex::BinaryPropertyList::ErrorDomain &&
        error.domain() != corvex::KeyedArchive::ErrorDomain)
        fail("an error of a foreign domain", error);
}

void checkPlist(const QByteArray& input, const corvex::BinaryPropertyList::Limits& limits)
{
    const auto read = corvex::BinaryPropertyList::read(input, limits);
    if (!read.ok()) {
        checkError(read.error());
        return;
    }
    const auto written = corvex::BinaryPropertyList::write(*read, limits.maxDepth);
    if (!written.ok())
        fail("a property list that read does not write:", written.error());
    const auto again = corvex::BinaryPropertyList::read(*written, limits);
    if (!again.ok())
        fail("written property list does not read:", again.error());
    const auto rewritten = corvex::BinaryPropertyList::write(*again, limits.maxDepth);
    if (!rewritten.ok() || *rewritten != *written)
        fail("writing what was read twice differs");
}

void checkArchive(const QByteArray& input, const corvex::KeyedArchive::Limits& limits)
{
    const auto read = corvex::KeyedArchive::unarchive(input, limits);
    if (!read.ok()) {
        checkError(read.error());
        return;
    }
    const auto written = corvex::KeyedArchive::archive(*read, limits.maxDepth);
    if (!written.ok())
        fail("an archive that read does not archive:", written.error());
    const auto again = corvex::KeyedArchive::unarchive(*written, limits);
    if (!again.ok())
        fail("written archive does not read:", again.error());
    const auto rewritten = corvex::KeyedArchive::archive(*again, limits.maxDepth);
    if (!rewritten.ok() || *rewritten != *written)
        fail("archiving what was read twice differs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));

    checkPlist(input, corvex::BinaryPropertyList::Limits());
    corvex::BinaryPropertyList::Limits small;
    small.maxDepth = 8;
    small.maxObjects = 256;
    small.maxValues = 1000;
    small.maxBytes = 4096;
    checkPlist(input, small);

    checkArchive(input, corvex::KeyedArchive::Limits());
    corvex::KeyedArchive::Limits smallArchive;
    smallArchive.maxDepth = 8;
    smallArchive.maxValues = 1000;
    smallArchive.plist = small;
    checkArchive(input, smallArchive);
    return 0;
}
