#include "model/InflatingSource.h"

#include "platform/core/Zlib.h"

#include <algorithm>
#include <vector>
#include <zlib.h>

namespace corvex {

namespace {

// zlib counts in uInt; larger inputs are fed in pieces of this size.
constexpr qint64 kMaxInputPiece = qint64(1) << 30;

Error inflateError(Zlib::ErrorCode code, const QString& text)
{
    return Error(Zlib::ErrorDomain, code, text);
}

} // namespace

struct InflatingSource::Stream
{
    z_stream z{};
    bool started = false;
    ~Stream()
    {
        if (started)
            inflateEnd(&z);
    }
};

InflatingSource::InflatingSource(const QByteArray& compressed, qint64 maxOutput)
    : mInput(compressed), mMaxOutput(std::max<qint64>(0, maxOutput))
{
    rewind();
}

InflatingSource::~InflatingSource() = default;

bool InflatingSource::rewind()
{
    mStream = std::make_unique<Stream>();
    mConsumed = 0;
    mProduced = 0;
    mEnded = mInput.isEmpty(); // no stream at all reads as empty, as Zlib::inflate answers
    mError = Error();
    if (!mEnded) {
        if (inflateInit(&mStream->z) != Z_OK) {
            mError = inflateError(Zlib::OutOfMemory, QStringLiteral("Cannot start decompressing"));
            return false;
        }
        mStream->started = true;
    }
    return true;
}

Error InflatingSource::fail(Error error)
{
    if (mError.isNull())
        mError = std::move(error);
    return mError;
}

Result<qsizetype> InflatingSource::read(char* buffer, qsizetype capacity)
{
    if (!mError.isNull())
        return mError;
    if (mEnded || capacity <= 0)
        return qsizetype(0);
    z_stream& z = mStream->z;
    for (;;) {
        if (z.avail_in == 0 && mConsumed < mInput.size()) {
            const qint64 piece = std::min(kMaxInputPiece, mInput.size() - mConsumed);
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(mInput.constData() + mConsumed));
            z.avail_in = uInt(piece);
            mConsumed += piece;
        }
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = uInt(std::min<qsizetype>(capacity, qsizetype(kMaxInputPiece)));
        const uInt offered = z.avail_out;
        const int rc = ::inflate(&z, Z_NO_FLUSH);
        const qsizetype got = qsizetype(offered - z.avail_out);
        mProduced += got;
        if (mProduced > mMaxOutput)
            return fail(
                inflateError(Zlib::LimitExceeded,
                             QStringLiteral("The decompressed data is larger than the limit of %1 bytes")
                                 .arg(mMaxOutput)));
        switch (rc) {
        case Z_STREAM_END:
            if (z.avail_in > 0 || mConsumed < mInput.size())
                return fail(
                    inflateError(Zlib::TrailingData,
                                 QStringLiteral("Unexpected data after the end of the compressed stream")));
            mEnded = true;
            return got;
        case Z_OK:
        case Z_BUF_ERROR:
            if (got > 0)
                return got;
            // Output space left, all input given, and still no end: the stream is cut short.
            if (z.avail_in == 0 && mConsumed == mInput.size())
                return fail(
                    inflateError(Zlib::TruncatedData,
                                 QStringLiteral("The compressed data ends before the end of its stream")));
            break;
        case Z_NEED_DICT:
            return fail(inflateError(Zlib::CorruptData,
                                     QStringLiteral("The compressed data needs a preset dictionary")));
        case Z_MEM_ERROR:
            return fail(inflateError(Zlib::OutOfMemory, QStringLiteral("Out of memory while decompressing")));
        default:
            return fail(
                inflateError(Zlib::CorruptData,
                             QStringLiteral("Invalid compressed data: %1")
                                 .arg(QString::fromLatin1(z.msg != nullptr ? z.msg : "unknown error"))));
        }
    }
}

Result<qint64> InflatingSource::measure(const QByteArray& compressed, qint64 maxOutput)
{
    InflatingSource source(compressed, maxOutput);
    std::vector<char> scratch(64 * 1024);
    for (;;) {
        const Result<qsizetype> got = source.read(scratch.data(), qsizetype(scratch.size()));
        if (!got.ok())
            return got.error();
        if (got.value() == 0)
            return source.produced();
    }
}

} // namespace corvex
