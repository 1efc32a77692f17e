#pragma once

#include "platform/core/Result.h"
#include "platform/core/Zlib.h"

#include <QByteArray>

namespace corvex {

// The zlib forms of a stored document's bytes.
class DataExtension
{
public:
    // One zlib stream at the default level (it begins 78 9C); empty data answers itself.
    // Fails only when zlib does (out of memory).
    static Result<QByteArray> zlibDeflate(const QByteArray& data);

    // The bytes of exactly one complete, valid zlib stream; empty data answers itself. A raw
    // or gzip stream, a truncated one, a bad checksum or bytes after the stream fail, and so
    // does output beyond maxOutput: a few kilobytes must not claim gigabytes of memory. The
    // output buffer grows geometrically up to the bound.
    static Result<QByteArray> zlibInflate(const QByteArray& data,
                                          qint64 maxOutput = Zlib::DefaultInflateLimit);
};

} // namespace corvex
