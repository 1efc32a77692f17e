#pragma once

#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>

namespace corvex {

// zlib streams (RFC 1950), raw deflate (RFC 1951, as inside zip entries) and gzip (RFC 1952).
//
// Whole buffers are compressed and inflated by libdeflate, in one pass each: at zlib's
// default level (6) its output is an ordinary stream every zlib reader takes. Whatever
// libdeflate refuses is inflated again by zlib, so that every fault is answered with zlib's
// code and words; streams zlib reads with other rules than libdeflate (a zlib header
// declaring a window below 32 KiB, a gzip header with a checksum) are left to zlib
// altogether. Differences stay only in blocks no deflater writes, which zlib refuses and
// these read on: a block declaring more codes than the format has (287 or 288 literal/length
// codes, 31 or 32 distance codes), a code of a single codeword whose missing second codeword
// the data uses (read as the one symbol), and a run of code lengths reaching past the count
// the block declares (the rest left unused). The gzip files go through zlib's gz layer.
//
// Every inflating call takes the largest output it accepts: compressed input comes from
// files and the network, and a few kilobytes can claim gigabytes. The output buffer grows
// geometrically in steps of at least InflateStep and never holds more than maxOutput +
// InflateStep bytes (a stream larger than the buffer is inflated again into a larger one);
// output beyond maxOutput fails with LimitExceeded. Empty input answers empty output for
// every format.
class Zlib
{
public:
    // The production bound for one inflated document or attachment.
    static constexpr qint64 DefaultInflateLimit = qint64(1) << 30;
    // The smallest growth of the output buffer, and the most it may hold beyond the bound.
    static constexpr qint64 InflateStep = 64 * 1024;

    static const QString ErrorDomain; // "com.tallowfen.corvex.zlib"
    enum ErrorCode
    {
        CorruptData = 1,   // not the expected format, bad checksum, invalid codes
        TruncatedData = 2, // the stream ends before its end marker
        TrailingData = 3,  // bytes after the end of the stream
        LimitExceeded = 4, // the output would be larger than maxOutput
        OutOfMemory = 5,
        NotGzip = 6,           // a file read as gzip that is not gzip
        FileError = 7,         // zlib's gz layer failed without an errno
        CompressionFailed = 8, // zlib refused to compress (never expected with valid settings)
    };

    struct InflateStats
    {
        qint64 peakBufferBytes = 0; // the largest output buffer allocated
    };

    // One zlib stream at the default level (it begins 78 9C). Fails only when zlib does (out
    // of memory, OutOfMemory). Compressing and inflating answer the same Result shape.
    static Result<QByteArray> compress(const QByteArray& data);
    // Exactly one complete zlib stream: a raw or gzip header, a truncated stream, a bad
    // checksum or bytes after the end of the stream all fail.
    static Result<QByteArray> inflate(const QByteArray& data, qint64 maxOutput = DefaultInflateLimit,
                                      InflateStats* stats = nullptr);

    // Deflate data without header or checksum; empty input answers empty.
    static Result<QByteArray> rawDeflate(const QByteArray& data);
    static Result<QByteArray> rawInflate(const QByteArray& data, qint64 maxOutput = DefaultInflateLimit,
                                         InflateStats* stats = nullptr);

    // One gzip member (even for empty input, so that the result is a valid gzip file).
    static Result<QByteArray> gzipCompress(const QByteArray& data);
    // One or more concatenated gzip members, as gzip(1) writes them; anything after the last
    // member fails.
    static Result<QByteArray> gunzip(const QByteArray& data, qint64 maxOutput = DefaultInflateLimit,
                                     InflateStats* stats = nullptr);

    // Writes through zlib's gz layer. Not atomic: on failure the partial file is removed.
    static Status writeGzipFile(const QString& path, const QByteArray& data);
    // Reads through zlib's gz layer. A file that is not gzip fails (an empty file reads as
    // empty); a truncated file fails; bytes after the last member are ignored, as gzread
    // does.
    static Result<QByteArray> readGzipFile(const QString& path, qint64 maxOutput = DefaultInflateLimit);
};

} // namespace corvex
