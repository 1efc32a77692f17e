#pragma once

#include "platform/net/HttpRequest.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

namespace corvex {

// Where an encoder writes: opened once, written in ranges, closed once. write() answers
// how many bytes were taken (fewer, or -1, is a failed write).
class LOMOutputStream
{
public:
    virtual ~LOMOutputStream();
    virtual bool open() = 0;
    virtual qint64 write(const char* bytes, qint64 length) = 0;
    virtual void close() = 0;
};

class LOMMemoryOutputStream : public LOMOutputStream
{
public:
    bool open() override { return true; }
    qint64 write(const char* bytes, qint64 length) override;
    void close() override {}
    const QByteArray& data() const { return mData; }
    QByteArray takeData() { return std::exchange(mData, QByteArray()); }

private:
    QByteArray mData;
};

// A file written through SysCalls (so tests can make writes fail), created or truncated.
class LOMFileOutputStream : public LOMOutputStream
{
public:
    explicit LOMFileOutputStream(QString path) : mPath(std::move(path)) {}
    ~LOMFileOutputStream() override;
    bool open() override;
    qint64 write(const char* bytes, qint64 length) override;
    void close() override;

private:
    QString mPath;
    int mFd = -1;
};

// Writes a multipart/form-data body part by part to a stream and counts the bytes, so that
// the caller can set Content-Type and Content-Length. The body starts with the line
// "MIME-Version: 1.0\r\n", then the parts, then "--<boundary>--\r\n".
//
// A short write is remembered: encode() and endEncoding() answer false once any write of
// the body failed, and callers treat the body as unusable. Names and file names holding
// '"', CR or LF are refused like empty ones (they would break the part's headers).
class LOMMultipartMimeStreamEncoder
{
public:
    using EncodeBlock = std::function<void(LOMMultipartMimeStreamEncoder& encoder)>;

    // A null or empty boundary is replaced by a generated one.
    LOMMultipartMimeStreamEncoder(std::shared_ptr<LOMOutputStream> stream, QString boundary = QString());
    static std::unique_ptr<LOMMultipartMimeStreamEncoder>
    encoderWithStream(std::shared_ptr<LOMOutputStream> stream, QString boundary = QString());

    // A new UUID string (36 characters, upper-case hex with dashes).
    static QString generateBoundary();
    static QString contentTypeHTTPHeaderValueWithBoundary(const QString& boundary);
    QString contentTypeHTTPHeaderValue() const { return contentTypeHTTPHeaderValueWithBoundary(mBoundary); }
    QString contentLengthHTTPHeaderValue() const { return QString::number(mLength); }
    const QString& boundary() const { return mBoundary; }
    quint64 length() const { return mLength; }
    QByteArray headerData() const;
    QByteArray footerData() const;

    // beginEncoding, the block, endEncoding; false when any write failed.
    bool encode(const EncodeBlock& block);
    void beginEncoding();
    bool endEncoding();

    void addValue(const QVariant& value, const QString& fieldName);
    void addFileData(const QByteArray& data, const QString& fileName, const QString& mimeType,
                     const QString& fieldName);
    // Reads the whole file and adds it as addFileData does; an unreadable file is logged
    // and counts as a failed write.
    void addFile(const QString& path, const QString& fileName, const QString& mimeType,
                 const QString& fieldName);

    bool writeData(const QByteArray& data);
    bool writeBytes(const char* bytes, qint64 length);
    // True once any write of this body failed.
    bool hasWriteFailure() const { return mWriteFailed; }

    // Encodes into memory with a fresh boundary and sets the request's Content-Type,
    // Content-Length and body. False (the request untouched) when a write failed.
    static bool populateRequest(HttpRequest& request, const EncodeBlock& block);

private:
    std::shared_ptr<LOMOutputStream> mStream;
    QString mBoundary;
    quint64 mLength = 0;
    bool mWriteFailed = false;
};

} // namespace corvex
