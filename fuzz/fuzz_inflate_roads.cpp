// The whole-buffer inflating readers (Zlib::inflate, rawInflate, gunzip: libdeflate, with zlib
// taking over whatever libdeflate refuses) against zlib's own streaming inflate of the same
// bytes under the same 1 MiB bound: both read the same output, or both refuse with the same
// code (beyond the bound, bytes after the end, or any other fault). Known differences are
// allowed, all in blocks no deflater writes, which zlib refuses where libdeflate reads on (into
// the rest of the stream, the bound or bytes after it): a block declaring more literal/length
// or distance codes than the format has (287 or 288, 31 or 32), a code of one codeword whose
// missing other codeword the data uses (read as the one symbol), and a run of code lengths
// reaching past the count the block declares (the rest left unused). No buffer grows beyond
// the bound. Whatever inflates must deflate into a stream zlib reads back the same.

#include "platform/core/Zlib.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <zlib.h>

namespace {

using corvex::Zlib;

constexpr qint64 kBound = 1024 * 1024;

[[noreturn]] void fail(const char* what, int windowBits)
{
    std::fprintf(stderr, "fuzz_inflate_roads (window bits %d): %s\n", windowBits, what);
    std::abort();
}

// What zlib makes of the bytes: the output, or Zlib's code for why there is none (0 when the
// output is whole). Bytes after a gzip member may be another member.
struct Reading
{
    int code = 0;
    QByteArray output;
    QByteArray message; // zlib's, for a fault
};

Reading zlibReading(const QByteArray& input, int windowBits)
{
    Reading reading;
    if (input.isEmpty())
        return reading;
    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK)
        std::abort();
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
    stream.avail_in = uInt(input.size());
    char buffer[16384];
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        const int rc = ::inflate(&stream, Z_NO_FLUSH);
        reading.output.append(buffer, qsizetype(sizeof buffer - stream.avail_out));
        if (reading.output.size() > kBound) {
            reading.code = Zlib::LimitExceeded;
            break;
        }
        if (rc == Z_STREAM_END) {
            if (stream.avail_in == 0)
                break;
            const bool member = windowBits > MAX_WBITS && stream.avail_in >= 2 && stream.next_in[0] == 0x1f &&
                                stream.next_in[1] == 0x8b;
            if (member && inflateReset(&stream) == Z_OK)
                continue;
            reading.code = Zlib::TrailingData;
            break;
        }
        if (rc == Z_OK && stream.avail_out == 0)
            continue;
        if (rc == Z_OK || rc == Z_BUF_ERROR) {
            if (stream.avail_in == 0 && stream.avail_out > 0) {
                reading.code = Zlib::TruncatedData;
                break;
            }
            continue;
        }
        reading.code = Zlib::CorruptData;
        reading.message = stream.msg != nullptr ? QByteArray(stream.msg) : QByteArray();
        break;
    }
    inflateEnd(&stream);
    if (reading.code != 0)
        reading.output.clear();
    return reading;
}

void compare(const QByteArray& input, int windowBits,
             corvex::Result<QByteArray> (*inflate)(const QByteArray&, qint64, Zlib::InflateStats*),
             corvex::Result<QByteArray> (*compress)(const QByteArray&))
{
    Zlib::InflateStats stats;
    const auto ours = inflate(input, kBound, &stats);
    if (stats.peakBufferBytes > kBound + Zlib::InflateStep)
        fail("the output buffer grew beyond the bound", windowBits);
    const Reading theirs = zlibReading(input, windowBits);
    // Where zlib stops at one of the known differences, libdeflate reads on.
    for (const char* known : {"too many length or distance symbols", "invalid distance code",
                              "invalid literal/length code", "invalid bit length repeat"}) {
        if (theirs.message == known)
            return;
    }
    if (ours.ok() != (theirs.code == 0))
        fail(ours.ok() ? "read what zlib refuses" : "refused what zlib reads", windowBits);
    if (!ours.ok()) {
        if (ours.error().domain() != Zlib::ErrorDomain)
            fail("an error outside the zlib domain", windowBits);
        // Truncation and corruption are told apart by zlib on both roads; the bound and
        // trailing bytes by the whole-buffer road itself.
        const int code = ours.error().code();
        const bool same =
            code == theirs.code || ((code == Zlib::TruncatedData || code == Zlib::CorruptData) &&
                                    (theirs.code == Zlib::TruncatedData || theirs.code == Zlib::CorruptData));
        if (!same)
            fail("refused for another reason than zlib", windowBits);
        return;
    }
    if (*ours != theirs.output)
        fail("read other bytes than zlib", windowBits);
    const auto again = compress(*ours);
    if (!again.ok())
        fail("what was read does not compress", windowBits);
    const Reading back = zlibReading(*again, windowBits);
    if (back.code != 0 || back.output != *ours)
        fail("zlib does not read back what was compressed", windowBits);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    compare(input, MAX_WBITS, &Zlib::inflate, &Zlib::compress);
    compare(input, -MAX_WBITS, &Zlib::rawInflate, &Zlib::rawDeflate);
    compare(input, MAX_WBITS + 16, &Zlib::gunzip, &Zlib::gzipCompress);
    return 0;
}
