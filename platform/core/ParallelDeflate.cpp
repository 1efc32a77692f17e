#include "platform/core/ParallelDeflate.h"

#include "platform/core/GlobalQueue.h"
#include "platform/core/HostInfo.h"
#include "platform/core/Zlib.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>
#include <zlib.h>

namespace corvex {
namespace {

constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;

Error deflateOutOfMemory()
{
    return Error(Zlib::ErrorDomain, Zlib::OutOfMemory, QStringLiteral("zlib could not compress the data"));
}

// The shared state of one compression: whoever takes piece i deflates it.
struct DeflateJob
{
    QByteArray data;
    qsizetype pieceSize = ParallelDeflate::PieceSize;
    int pieceCount = 0;
    std::vector<QByteArray> outputs;
    std::vector<uLong> checksums;
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0; // guarded by mutex

    // Raw deflate of piece i: primed with the bytes before it, ended with a sync flush (byte
    // aligned, not final) unless it is the last, which finishes the stream.
    bool deflatePiece(int i)
    {
        const qsizetype begin = qsizetype(i) * pieceSize;
        const qsizetype length = std::min(pieceSize, data.size() - begin);
        const auto* input = reinterpret_cast<const Bytef*>(data.constData());
        checksums[std::size_t(i)] = adler32(adler32(0L, Z_NULL, 0), input + begin, uInt(length));

        z_stream stream{};
        if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kRawWindowBits, kMemLevel,
                         Z_DEFAULT_STRATEGY) != Z_OK)
            return false;
        bool ok = true;
        if (begin > 0) {
            const qsizetype dictionary = std::min(ParallelDeflate::DictionarySize, begin);
            ok = deflateSetDictionary(&stream, input + begin - dictionary, uInt(dictionary)) == Z_OK;
        }
        QByteArray& output = outputs[std::size_t(i)];
        // Room for the worst case and the flush marker; grown if ever short.
        output.resize(qsizetype(deflateBound(&stream, uLong(length))) + 16);
        stream.next_in = const_cast<Bytef*>(input + begin);
        stream.avail_in = uInt(length);
        const bool last = i == pieceCount - 1;
        const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
        qsizetype produced = 0;
        while (ok) {
            stream.next_out = reinterpret_cast<Bytef*>(output.data()) + produced;
            stream.avail_out = uInt(output.size() - produced);
            const int rc = deflate(&stream, flush);
            produced = output.size() - qsizetype(stream.avail_out);
            if (rc == Z_STREAM_END || (!last && rc == Z_OK && stream.avail_in == 0 && stream.avail_out > 0))
                break;
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                ok = false;
                break;
            }
            output.resize(output.size() * 2);
        }
        deflateEnd(&stream);
        output.resize(ok ? produced : 0);
        return ok;
    }

    // Takes pieces until none is left.
    void work()
    {
        for (;;) {
            const int i = next.fetch_add(1);
            if (i >= pieceCount)
                return;
            if (!deflatePiece(i))
                failed.store(true);
            std::lock_guard lock(mutex);
            if (++done == pieceCount)
                finished.notify_all();
        }
    }
};

} // namespace

Result<QByteArray> ParallelDeflate::compress(const QByteArray& data, int maxThreads)
{
    if (data.isEmpty())
        return data;
    const bool small = data.size() < 2 * PieceSize;
    const int usable = maxThreads > 0 ? maxThreads : HostInfo::usableCores();
    // On one thread, one pass of the whole-buffer deflate saves faster than zlib's pieces.
    if (!small && usable == 1)
        return Zlib::compress(data);
    auto job = std::make_shared<DeflateJob>();
    job->data = data;
    // Small data is one piece, one pass: the very bytes zlib's own deflate writes.
    job->pieceSize = small ? data.size() : PieceSize;
    job->pieceCount = int((data.size() + job->pieceSize - 1) / job->pieceSize);
    const int threads = std::min(job->pieceCount, usable);
    job->outputs.resize(std::size_t(job->pieceCount));
    job->checksums.resize(std::size_t(job->pieceCount));
    for (int helper = 1; helper < threads; ++helper)
        GlobalQueue::async([job] { job->work(); });
    job->work();
    {
        std::unique_lock lock(job->mutex);
        job->finished.wait(lock, [&] { return job->done == job->pieceCount; });
    }
    if (job->failed.load())
        return deflateOutOfMemory();

    qsizetype total = 2 + 4;
    for (const QByteArray& piece : job->outputs)
        total += piece.size();
    QByteArray stream;
    stream.reserve(total);
    // The header of the default level: CMF 78 (deflate, 32 KiB window), FLG 9C.
    stream.append(char(0x78));
    stream.append(char(0x9C));
    uLong checksum = job->checksums[0];
    for (int i = 0; i < job->pieceCount; ++i) {
        stream.append(job->outputs[std::size_t(i)]);
        if (i > 0) {
            const qsizetype length = std::min(job->pieceSize, data.size() - qsizetype(i) * job->pieceSize);
            checksum = adler32_combine(checksum, job->checksums[std::size_t(i)], z_off_t(length));
        }
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        stream.append(char((checksum >> shift) & 0xFF));
    return stream;
}

} // namespace corvex
