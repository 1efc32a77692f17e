// The inflating readers (zlib, raw deflate, gzip) on arbitrary bytes with a 1 MiB bound: no
// crash, no output and no buffer beyond the bound, and what inflates compresses and inflates
// back the same. The same bytes as text go through DateText::parse and Base64::decode.

#include "platform/core/Base64.h"
#include "platform/core/DateText.h"
#include "platform/core/Zlib.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using corvex::Zlib;

constexpr qint64 kBound = 1024 * 1024;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_zlib_inflate: %s\n", what);
    std::abort();
}

void checkInflated(const corvex::Result<QByteArray>& result, const Zlib::InflateStats& stats,
                   corvex::Result<QByteArray> (*compress)(const QByteArray&),
                   corvex::Result<QByteArray> (*inflate)(const QByteArray&, qint64, Zlib::InflateStats*))
{
    if (stats.peakBufferBytes > kBound + Zlib::InflateStep)
        fail("the output buffer grew beyond the bound");
    if (!result.ok()) {
        if (result.error().domain() != Zlib::ErrorDomain)
            fail("an error outside the zlib domain");
        return;
    }
    if (result->size() > kBound)
        fail("output beyond the bound");
    const auto recompressed = compress(*result);
    if (!recompressed)
        fail("compressing inflated output failed");
    const auto back = inflate(*recompressed, kBound, nullptr);
    if (!back.ok() || *back != *result)
        fail("a round trip changed the data");
}

void checkDate(const QString& text)
{
    const auto date = corvex::DateText::parse(text);
    if (!date)
        return;
    if (date->timeSpec() != Qt::UTC || date->time().second() != 0)
        fail("a parsed date is not UTC minutes");
    const auto again = corvex::DateText::parse(corvex::DateText::format(*date));
    if (!again || *again != *date)
        fail("a parsed date does not format and parse back");
}

void checkBase64(const QString& text)
{
    const QByteArray decoded = corvex::Base64::decode(text);
    if (decoded.size() > text.size())
        fail("Base64 decoded to more bytes than characters");
    if (corvex::Base64::decode(corvex::Base64::encode(decoded)) != decoded)
        fail("Base64 round trip changed the data");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));

    Zlib::InflateStats stats;
    checkInflated(Zlib::inflate(input, kBound, &stats), stats, &Zlib::compress, &Zlib::inflate);
    checkInflated(Zlib::rawInflate(input, kBound, &stats), stats, &Zlib::rawDeflate, &Zlib::rawInflate);
    checkInflated(Zlib::gunzip(input, kBound, &stats), stats, &Zlib::gzipCompress, &Zlib::gunzip);

    const QString utf8 = QString::fromUtf8(input);
    const QString latin1 = QString::fromLatin1(input);
    checkDate(utf8);
    checkDate(latin1);
    checkBase64(utf8);
    checkBase64(latin1);
    return 0;
}
