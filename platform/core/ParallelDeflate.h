#pragma once

#include "platform/core/Result.h"

#include <QByteArray>

namespace corvex {

// Deflates a large payload into ONE zlib stream at the default level (it begins 78 9C, as
// stored documents must), using several cores: the data is cut into pieces that zlib
// deflates at the same time, each primed with the 32 KiB before it (a preset dictionary,
// which only zlib offers) so that the ratio stays that of a single pass, and joined with
// byte-aligned flush points; the checksum covers the whole. Every zlib reader takes the
// result as one ordinary stream.
//
// The calling thread deflates pieces too and takes over any piece no worker has started, so
// the call finishes even when the global queues are busy. Data below two pieces is deflated
// by zlib in one pass on the calling thread: the bytes zlib's own deflate writes, so that
// small documents and archives stay byte for byte what they were (and the time at stake is
// a few milliseconds at most). Larger data with one thread to use is Zlib::compress: one
// pass of the whole-buffer deflate, which there saves faster than zlib's pieces. Any
// thread.
class ParallelDeflate
{
public:
    static constexpr qsizetype PieceSize = 256 * 1024;
    static constexpr qsizetype DictionarySize = 32 * 1024;

    // Empty data answers empty. Fails only when zlib does (out of memory). `maxThreads` below
    // 1 means the cores this process may run on.
    static Result<QByteArray> compress(const QByteArray& data, int maxThreads = 0);
};

} // namespace corvex
