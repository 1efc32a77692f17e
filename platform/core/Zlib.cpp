#include "platform/core/Zlib.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <zlib.h>

namespace corvex {

const QString Zlib::ErrorDomain = QStringLiteral("com.tallowfen.corvex.zlib");

namespace {

// zlib counts in uInt; larger buffers are fed in pieces of this size.
constexpr qint64 kMaxChunk = qint64(1) << 30;

constexpr int kZlibWindow = MAX_WBITS;      // zlib header and Adler-32 trailer
constexpr int kRawWindow = -MAX_WBITS;      // no header, no trailer
constexpr int kGzipWindow = MAX_WBITS + 16; // gzip header only (no automatic detection)

// zlib's default level, which libdeflate's level 6 matches (its zlib header is 78 9C too).
constexpr int kLevel = 6;

enum class Format
{
    Zlib,
    Raw,
    Gzip,
};

Error zlibError(Zlib::ErrorCode code, const QString& text)
{
    return Error(Zlib::ErrorDomain, code, text);
}

QString messageOf(const z_stream& stream, const char* fallback)
{
    return QString::fromLatin1(stream.msg != nullptr ? stream.msg : fallback);
}

// The inflating side's output: grows geometrically from a first guess, never beyond
// maxOutput + InflateStep bytes, and remembers its largest allocation.
class BoundedBuffer
{
public:
    BoundedBuffer(qint64 maxOutput, qint64 inputSize, Zlib::InflateStats* stats)
        : mMaxOutput(std::clamp<qint64>(maxOutput, 0, kMaxBound)), mStats(stats)
    {
        // Eight times the input holds most texts at once (a document's JSON inflates about
        // sevenfold): the whole-buffer road then inflates once. Pages not written are never
        // touched.
        const qint64 guess = std::clamp<qint64>(inputSize > kMaxBound / 8 ? kMaxBound : inputSize * 8,
                                                Zlib::InflateStep, kMaxBound);
        allocate(std::min(guess, limit()));
    }

    qint64 size() const { return mSize; }
    bool exceeded() const { return mSize > mMaxOutput; }
    char* writePointer() { return mBuffer.data() + mSize; }
    qint64 room() const { return std::min(space(), kMaxChunk); }
    qint64 space() const { return qint64(mBuffer.size()) - mSize; }
    void advance(qint64 count) { mSize += count; }

    // Makes room; false when the buffer is already at its bound.
    bool grow()
    {
        const qint64 capacity = mBuffer.size();
        if (capacity >= limit())
            return false;
        const qint64 next = std::min(limit(), std::max(capacity * 2, capacity + Zlib::InflateStep));
        QByteArray bigger(next, Qt::Uninitialized);
        std::memcpy(bigger.data(), mBuffer.constData(), std::size_t(mSize));
        mBuffer.swap(bigger);
        notePeak();
        return true;
    }

    QByteArray take()
    {
        mBuffer.truncate(mSize);
        // Geometric growth can leave much unused capacity on a result that lives on.
        if (mBuffer.capacity() - mSize > std::max(Zlib::InflateStep, mSize / 4))
            mBuffer.squeeze();
        return std::move(mBuffer);
    }

    Error limitError() const
    {
        return zlibError(
            Zlib::LimitExceeded,
            QStringLiteral("The decompressed data is larger than the limit of %1 bytes").arg(mMaxOutput));
    }

private:
    // Leaves room for QByteArray's own header and terminator.
    static constexpr qint64 kMaxBound = (qint64(1) << 62);

    qint64 limit() const { return mMaxOutput + Zlib::InflateStep; }

    void allocate(qint64 capacity)
    {
        mBuffer = QByteArray(capacity, Qt::Uninitialized);
        notePeak();
    }

    void notePeak()
    {
        if (mStats != nullptr)
            mStats->peakBufferBytes = std::max(mStats->peakBufferBytes, qint64(mBuffer.size()));
    }

    qint64 mMaxOutput;
    Zlib::InflateStats* mStats;
    QByteArray mBuffer;
    qint64 mSize = 0;
};

struct CompressorFree
{
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};
struct DecompressorFree
{
    void operator()(libdeflate_decompressor* decompressor) const
    {
        libdeflate_free_decompressor(decompressor);
    }
};

// The whole input in one pass at the default level.
Result<QByteArray> deflateWhole(const QByteArray& input, Format format)
{
    const std::unique_ptr<libdeflate_compressor, CompressorFree> compressor(
        libdeflate_alloc_compressor(kLevel));
    if (!compressor)
        return zlibError(Zlib::OutOfMemory, QStringLiteral("Cannot start compressing"));
    const auto size = std::size_t(input.size());
    const std::size_t bound = format == Format::Zlib ? libdeflate_zlib_compress_bound(compressor.get(), size)
                              : format == Format::Raw
                                  ? libdeflate_deflate_compress_bound(compressor.get(), size)
                                  : libdeflate_gzip_compress_bound(compressor.get(), size);
    QByteArray out;
    try {
        out = QByteArray(qsizetype(bound), Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        return zlibError(Zlib::OutOfMemory, QStringLiteral("Out of memory while compressing"));
    }
    const auto compress = format == Format::Zlib  ? &libdeflate_zlib_compress
                          : format == Format::Raw ? &libdeflate_deflate_compress
                                                  : &libdeflate_gzip_compress;
    const std::size_t produced = compress(compressor.get(), input.constData(), size, out.data(), bound);
    if (produced == 0)
        return zlibError(Zlib::CompressionFailed, QStringLiteral("Compressing failed"));
    out.truncate(qsizetype(produced));
    out.squeeze();
    return out;
}

// Inflates the whole input as one stream (or, for gzip, a series of members) of the format
// chosen by windowBits, piece by piece: slower than inflateWhole, but it names every fault.
Result<QByteArray> inflateWith(const QByteArray& input, int windowBits, qint64 maxOutput,
                               Zlib::InflateStats* stats)
{
    if (stats != nullptr)
        *stats = Zlib::InflateStats{};
    if (input.isEmpty())
        return QByteArray();

    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK)
        return zlibError(Zlib::OutOfMemory, QStringLiteral("Cannot start decompressing"));
    struct End
    {
        z_stream* stream;
        ~End() { inflateEnd(stream); }
    } end{&stream};

    try {
        BoundedBuffer out(maxOutput, input.size(), stats);
        qint64 consumed = 0;
        for (;;) {
            if (stream.avail_in == 0 && consumed < input.size()) {
                const qint64 chunk = std::min(kMaxChunk, input.size() - consumed);
                stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData() + consumed));
                stream.avail_in = uInt(chunk);
                consumed += chunk;
            }
            if (out.room() == 0 && !out.grow())
                return out.limitError();
            stream.next_out = reinterpret_cast<Bytef*>(out.writePointer());
            stream.avail_out = uInt(out.room());
            const uInt offered = stream.avail_out;
            const int rc = ::inflate(&stream, Z_NO_FLUSH);
            out.advance(offered - stream.avail_out);
            if (out.exceeded())
                return out.limitError();

            switch (rc) {
            case Z_STREAM_END: {
                const bool moreInput = stream.avail_in > 0 || consumed < input.size();
                if (!moreInput)
                    return out.take();
                if (windowBits == kGzipWindow) {
                    // Another member must follow directly.
                    const qint64 next = input.size() - consumed + qint64(stream.avail_in);
                    const char* at = input.constData() + (input.size() - next);
                    if (next >= 2 && quint8(at[0]) == 0x1f && quint8(at[1]) == 0x8b) {
                        if (inflateReset(&stream) != Z_OK)
                            return zlibError(Zlib::CorruptData,
                                             QStringLiteral("Cannot restart decompressing"));
                        continue;
                    }
                }
                return zlibError(Zlib::TrailingData,
                                 QStringLiteral("Unexpected data after the end of the compressed stream"));
            }
            case Z_OK:
            case Z_BUF_ERROR:
                // Output space left, all input given, and still no end: the stream is cut short.
                if (stream.avail_in == 0 && consumed == input.size() && stream.avail_out > 0)
                    return zlibError(Zlib::TruncatedData,
                                     QStringLiteral("The compressed data ends before the end of its stream"));
                break;
            case Z_NEED_DICT:
                return zlibError(Zlib::CorruptData,
                                 QStringLiteral("The compressed data needs a preset dictionary"));
            case Z_MEM_ERROR:
                return zlibError(Zlib::OutOfMemory, QStringLiteral("Out of memory while decompressing"));
            default:
                return zlibError(
                    Zlib::CorruptData,
                    QStringLiteral("Invalid compressed data: %1").arg(messageOf(stream, "unknown error")));
            }
        }
    } catch (const std::bad_alloc&) {
        return zlibError(Zlib::OutOfMemory, QStringLiteral("Out of memory while decompressing"));
    }
}

int windowBitsOf(Format format)
{
    return format == Format::Zlib ? kZlibWindow : format == Format::Raw ? kRawWindow : kGzipWindow;
}

// Streams libdeflate reads exactly as zlib does. A zlib header other than 78 (a window
// smaller than 32 KiB) and a gzip header checksum (which libdeflate skips unchecked) go to
// zlib, whose window and checks then apply.
bool wholeReadable(Format format, const char* at, qint64 remaining)
{
    if (format == Format::Zlib)
        return remaining >= 2 && quint8(at[0]) == 0x78;
    if (format == Format::Gzip)
        return remaining >= 4 && (quint8(at[3]) & 0x02) == 0;
    return true;
}

// Inflates the whole input in one pass per stream (libdeflate), into a buffer bounded as
// inflateWith's: a stream larger than the buffer is inflated again into a larger one, up to
// the bound. Whatever libdeflate refuses or reads beyond the bound, zlib reads again, so
// that each fault keeps zlib's code and wording and a damaged stream is never called too
// large.
Result<QByteArray> inflateWhole(const QByteArray& input, Format format, qint64 maxOutput,
                                Zlib::InflateStats* stats)
{
    if (stats != nullptr)
        *stats = Zlib::InflateStats{};
    if (input.isEmpty())
        return QByteArray();
    const auto streamed = [&] {
        const qint64 peak = stats != nullptr ? stats->peakBufferBytes : 0;
        Result<QByteArray> result = inflateWith(input, windowBitsOf(format), maxOutput, stats);
        if (stats != nullptr)
            stats->peakBufferBytes = std::max(stats->peakBufferBytes, peak);
        return result;
    };
    if (!wholeReadable(format, input.constData(), input.size()))
        return streamed();
    // One decompressor per thread, kept: making one clears some ten kilobytes, which costs
    // as much as inflating a small document's first pages. It holds nothing between calls.
    thread_local std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor;
    if (!decompressor)
        decompressor.reset(libdeflate_alloc_decompressor());
    if (!decompressor)
        return zlibError(Zlib::OutOfMemory, QStringLiteral("Cannot start decompressing"));
    const auto decompress = format == Format::Zlib  ? &libdeflate_zlib_decompress_ex
                            : format == Format::Raw ? &libdeflate_deflate_decompress_ex
                                                    : &libdeflate_gzip_decompress_ex;
    try {
        BoundedBuffer out(maxOutput, input.size(), stats);
        qint64 consumed = 0;
        for (;;) {
            std::size_t read = 0;
            std::size_t written = 0;
            const libdeflate_result rc = decompress(decompressor.get(), input.constData() + consumed,
                                                    std::size_t(input.size() - consumed), out.writePointer(),
                                                    std::size_t(out.space()), &read, &written);
            // libdeflate reads on where zlib finds the stream damaged (a block without its end
            // reads into the next bytes): only zlib, which stops at the fault, tells a
            // damaged stream from one truly larger than the bound.
            if (rc == LIBDEFLATE_INSUFFICIENT_SPACE) {
                if (!out.grow())
                    return streamed();
                continue;
            }
            if (rc != LIBDEFLATE_SUCCESS)
                return streamed();
            out.advance(qint64(written));
            if (out.exceeded())
                return streamed();
            consumed += qint64(read);
            if (consumed == input.size())
                return out.take();
            // Only gzip takes another stream, a member that follows directly.
            const char* next = input.constData() + consumed;
            const qint64 left = input.size() - consumed;
            if (format != Format::Gzip || left < 2 || quint8(next[0]) != 0x1f || quint8(next[1]) != 0x8b)
                return zlibError(Zlib::TrailingData,
                                 QStringLiteral("Unexpected data after the end of the compressed stream"));
            if (!wholeReadable(format, next, left))
                return streamed();
        }
    } catch (const std::bad_alloc&) {
        return zlibError(Zlib::OutOfMemory, QStringLiteral("Out of memory while decompressing"));
    }
}

QByteArray encodedPath(const QString& path)
{
    return QFile::encodeName(path);
}

// An Error for the last failure of a gz file: the errno when the gz layer reports one.
Error gzFileError(gzFile file, const QString& operation, const QString& path, int savedErrno)
{
    int errnum = Z_OK;
    const char* text = file != nullptr ? gzerror(file, &errnum) : nullptr;
    if (errnum == Z_ERRNO || (file == nullptr && savedErrno != 0))
        return Error::posix(savedErrno != 0 ? savedErrno : EIO, operation, path);
    const QString message = QString::fromLatin1(text != nullptr && *text != '\0' ? text : "unknown error");
    const Zlib::ErrorCode code = errnum == Z_BUF_ERROR    ? Zlib::TruncatedData
                                 : errnum == Z_DATA_ERROR ? Zlib::CorruptData
                                 : errnum == Z_MEM_ERROR  ? Zlib::OutOfMemory
                                                          : Zlib::FileError;
    return zlibError(code, QStringLiteral("%1 %2: %3").arg(operation, path, message));
}

} // namespace

Result<QByteArray> Zlib::compress(const QByteArray& data)
{
    if (data.isEmpty())
        return QByteArray();
    return deflateWhole(data, Format::Zlib);
}

Result<QByteArray> Zlib::inflate(const QByteArray& data, qint64 maxOutput, InflateStats* stats)
{
    return inflateWhole(data, Format::Zlib, maxOutput, stats);
}

Result<QByteArray> Zlib::rawDeflate(const QByteArray& data)
{
    if (data.isEmpty())
        return QByteArray();
    return deflateWhole(data, Format::Raw);
}

Result<QByteArray> Zlib::rawInflate(const QByteArray& data, qint64 maxOutput, InflateStats* stats)
{
    return inflateWhole(data, Format::Raw, maxOutput, stats);
}

Result<QByteArray> Zlib::gzipCompress(const QByteArray& data)
{
    return deflateWhole(data, Format::Gzip);
}

Result<QByteArray> Zlib::gunzip(const QByteArray& data, qint64 maxOutput, InflateStats* stats)
{
    return inflateWhole(data, Format::Gzip, maxOutput, stats);
}

Status Zlib::writeGzipFile(const QString& path, const QByteArray& data)
{
    errno = 0;
    // "e": close on exec, so that helper processes never inherit the descriptor.
    gzFile file = gzopen(encodedPath(path).constData(), "wbe");
    if (file == nullptr)
        return Status(gzFileError(nullptr, QStringLiteral("Cannot create the gzip file"), path,
                                  errno != 0 ? errno : ENOMEM));
    Error failure;
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 chunk = std::min(kMaxChunk, data.size() - written);
        errno = 0;
        const int n = gzwrite(file, data.constData() + written, unsigned(chunk));
        if (n <= 0) {
            failure = gzFileError(file, QStringLiteral("Cannot write the gzip file"), path, errno);
            break;
        }
        written += n;
    }
    errno = 0;
    const int closed = gzclose(file);
    if (failure.isNull() && closed != Z_OK) {
        failure =
            closed == Z_ERRNO
                ? Error::posix(errno != 0 ? errno : EIO, QStringLiteral("Cannot finish the gzip file"), path)
                : zlibError(FileError,
                            QStringLiteral("Cannot finish the gzip file %1 (%2)").arg(path).arg(closed));
    }
    if (!failure.isNull()) {
        QFile::remove(path);
        return Status(failure);
    }
    return Status::success();
}

Result<QByteArray> Zlib::readGzipFile(const QString& path, qint64 maxOutput)
{
    errno = 0;
    gzFile file = gzopen(encodedPath(path).constData(), "rbe");
    if (file == nullptr)
        return gzFileError(nullptr, QStringLiteral("Cannot open the gzip file"), path,
                           errno != 0 ? errno : ENOMEM);
    struct Close
    {
        gzFile file;
        ~Close()
        {
            if (file != nullptr)
                gzclose(file);
        }
    } closer{file};
    gzbuffer(file, 64 * 1024);

    try {
        if (gzdirect(file) != 0) {
            // The gz layer would copy a plain file through unchanged; only an empty file is
            // accepted, as empty.
            char probe = 0;
            errno = 0;
            const int n = gzread(file, &probe, 1);
            if (n < 0)
                return gzFileError(file, QStringLiteral("Cannot read the gzip file"), path, errno);
            if (n == 0)
                return QByteArray();
            return zlibError(NotGzip, QStringLiteral("Not a gzip file: %1").arg(path));
        }

        QFile sizeProbe(path);
        BoundedBuffer out(maxOutput, sizeProbe.size(), nullptr);
        for (;;) {
            if (out.room() == 0 && !out.grow())
                return out.limitError();
            errno = 0;
            const int n = gzread(file, out.writePointer(), unsigned(std::min<qint64>(out.room(), INT_MAX)));
            if (n < 0)
                return gzFileError(file, QStringLiteral("Cannot read the gzip file"), path, errno);
            if (n == 0)
                break;
            out.advance(n);
            if (out.exceeded())
                return out.limitError();
        }
        int errnum = Z_OK;
        gzerror(file, &errnum);
        if (errnum != Z_OK)
            return gzFileError(file, QStringLiteral("Cannot read the gzip file"), path, errno);
        closer.file = nullptr;
        errno = 0;
        const int closed = gzclose(file);
        if (closed != Z_OK)
            return closed == Z_ERRNO
                       ? Error::posix(errno != 0 ? errno : EIO, QStringLiteral("Cannot close the gzip file"),
                                      path)
                       : zlibError(TruncatedData, QStringLiteral("The gzip file %1 is incomplete").arg(path));
        return out.take();
    } catch (const std::bad_alloc&) {
        return zlibError(OutOfMemory, QStringLiteral("Out of memory while reading %1").arg(path));
    }
}

} // namespace corvex
