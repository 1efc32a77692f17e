#include "kit/net/LOMMultipartMimeStreamEncoder.h"

#include "kit/sys/HostFunctions.h"
#include "platform/core/Log.h"
#include "platform/core/SysCalls.h"
#include "platform/core/WholeFileReader.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>

namespace corvex {

namespace {

// Names go into a part's Content-Disposition header between quotes.
bool multipartNameIsSafe(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('"')) && !name.contains(QLatin1Char('\r')) &&
           !name.contains(QLatin1Char('\n'));
}

// The largest file a file part reads into memory.
constexpr qint64 MultipartMaxFileBytes = qint64(1) << 31;

} // namespace

LOMOutputStream::~LOMOutputStream() = default;

qint64 LOMMemoryOutputStream::write(const char* bytes, qint64 length)
{
    mData.append(bytes, length);
    return length;
}

LOMFileOutputStream::~LOMFileOutputStream()
{
    close();
}

bool LOMFileOutputStream::open()
{
    if (mFd >= 0)
        return true;
    mFd =
        SysCalls::open(QFile::encodeName(mPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    return mFd >= 0;
}

qint64 LOMFileOutputStream::write(const char* bytes, qint64 length)
{
    if (mFd < 0)
        return -1;
    qint64 written = 0;
    while (written < length) {
        const ssize_t n = SysCalls::write(mFd, bytes + written, std::size_t(length - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    return written;
}

void LOMFileOutputStream::close()
{
    if (mFd >= 0)
        SysCalls::close(mFd);
    mFd = -1;
}

LOMMultipartMimeStreamEncoder::LOMMultipartMimeStreamEncoder(std::shared_ptr<LOMOutputStream> stream,
                                                             QString boundary)
    : mStream(std::move(stream)), mBoundary(boundary.isEmpty() ? generateBoundary() : std::move(boundary))
{}

std::unique_ptr<LOMMultipartMimeStreamEncoder>
LOMMultipartMimeStreamEncoder::encoderWithStream(std::shared_ptr<LOMOutputStream> stream, QString boundary)
{
    if (!stream)
        return nullptr;
    return std::make_unique<LOMMultipartMimeStreamEncoder>(std::move(stream), std::move(boundary));
}

QString LOMMultipartMimeStreamEncoder::generateBoundary()
{
    return LOMCreateUUIDString();
}

QString LOMMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(const QString& boundary)
{
    return QStringLiteral("multipart/form-data; boundary=%1").arg(boundary);
}

QByteArray LOMMultipartMimeStreamEncoder::headerData() const
{
    return QByteArrayLiteral("MIME-Version: 1.0\r\n");
}

QByteArray LOMMultipartMimeStreamEncoder::footerData() const
{
    return "--" + mBoundary.toUtf8() + "--\r\n";
}

bool LOMMultipartMimeStreamEncoder::encode(const EncodeBlock& block)
{
    beginEncoding();
    if (block)
        block(*this);
    return endEncoding();
}

void LOMMultipartMimeStreamEncoder::beginEncoding()
{
    mLength = 0;
    mWriteFailed = false;
    if (!mStream->open()) {
        Log::error(QStringLiteral("[Loom] Failed to open the stream for the multipart body"));
        mWriteFailed = true;
    }
    writeData(headerData());
}

bool LOMMultipartMimeStreamEncoder::endEncoding()
{
    writeData(footerData());
    mStream->close();
    return !mWriteFailed;
}

void LOMMultipartMimeStreamEncoder::addValue(const QVariant& value, const QString& fieldName)
{
    if (!value.isValid() || value.isNull() || !multipartNameIsSafe(fieldName)) {
        Log::error(
            QStringLiteral("[Loom] name (%1) or value (%2) is invalid")
                .arg(fieldName.isNull() ? QStringLiteral("(null)") : fieldName,
                     value.isValid() && !value.isNull() ? value.toString() : QStringLiteral("(null)")));
        return;
    }
    const QString part = QStringLiteral("--%1\r\nContent-Disposition: form-data; name=\"%2\"\r\n"
                                        "Content-Type: text/plain\r\n\r\n%3\r\n")
                             .arg(mBoundary, fieldName, value.toString());
    writeData(part.toUtf8());
}

void LOMMultipartMimeStreamEncoder::addFileData(const QByteArray& data, const QString& fileName,
                                                const QString& mimeType, const QString& fieldName)
{
    if (data.isEmpty()) {
        Log::error(QStringLiteral("[Loom] Unable to MIME encode data with zero length (%1)").arg(fieldName));
        return;
    }
    if (!multipartNameIsSafe(fieldName) || !multipartNameIsSafe(fileName)) {
        Log::error(QStringLiteral("[Loom] name (%1) or fieldname (%2) is invalid").arg(fieldName, fileName));
        return;
    }
    QString head = QStringLiteral("--%1\r\nContent-Disposition: form-data; name=\"%2\"; filename=\"%3\"\r\n")
                       .arg(mBoundary, fieldName, fileName);
    if (!mimeType.isEmpty())
        head += QStringLiteral("Content-Type: %1\r\nContent-Transfer-Encoding: binary\r\n\r\n").arg(mimeType);
    else
        head += QStringLiteral("Content-Type: application/octet-stream\r\n\r\n");
    writeData(head.toUtf8());
    writeData(data);
    writeData(QByteArrayLiteral("\r\n"));
}

void LOMMultipartMimeStreamEncoder::addFile(const QString& path, const QString& fileName,
                                            const QString& mimeType, const QString& fieldName)
{
    const Result<QByteArray> bytes = WholeFileReader::read(path, MultipartMaxFileBytes);
    if (!bytes.ok()) {
        Log::error(QStringLiteral("[Loom] Unable to read %1 for the multipart body: %2")
                       .arg(path, bytes.error().localizedDescription()));
        mWriteFailed = true;
        return;
    }
    addFileData(bytes.value(), fileName, mimeType, fieldName);
}

bool LOMMultipartMimeStreamEncoder::writeData(const QByteArray& data)
{
    bool allWritten = true;
    LOMEnumerateByteRangesOfData(data, [&](const char* bytes, LOMByteRange range, bool* stop) {
        const qint64 taken = mStream->write(bytes, qint64(range.length));
        if (taken != qint64(range.length)) {
            Log::error(QStringLiteral("[Loom] Failed to write data to stream"));
            allWritten = false;
            mWriteFailed = true;
            if (taken > 0)
                mLength += quint64(taken);
            *stop = true;
            return;
        }
        mLength += range.length;
    });
    return allWritten;
}

bool LOMMultipartMimeStreamEncoder::writeBytes(const char* bytes, qint64 length)
{
    const qint64 taken = mStream->write(bytes, length);
    if (taken != length) {
        Log::error(QStringLiteral("[Loom] Failed to write bytes to stream"));
        mWriteFailed = true;
        if (taken > 0)
            mLength += quint64(taken);
        return false;
    }
    mLength += quint64(length);
    return true;
}

bool LOMMultipartMimeStreamEncoder::populateRequest(HttpRequest& request, const EncodeBlock& block)
{
    auto stream = std::make_shared<LOMMemoryOutputStream>();
    LOMMultipartMimeStreamEncoder encoder(stream, generateBoundary());
    if (!encoder.encode([&](LOMMultipartMimeStreamEncoder& e) {
            if (block)
                block(e);
        }))
        return false;
    request.headers.set("Content-Type", encoder.contentTypeHTTPHeaderValue().toUtf8());
    request.headers.set("Content-Length", encoder.contentLengthHTTPHeaderValue().toUtf8());
    request.bodySource = HttpRequest::BodySource::Memory;
    request.body = stream->takeData();
    return true;
}

} // namespace corvex
