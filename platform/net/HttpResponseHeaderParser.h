#pragma once

#include "platform/net/HttpHeaders.h"

#include <QByteArray>
#include <QString>

namespace corvex {

// Reads the header block of HTTP/1.x responses line by line, as libcurl hands them over:
// a status line, "Name: value" fields, an empty line. Several blocks may follow one another
// on one transfer (interim 1xx answers, each hop of a redirect, a proxy's answer to
// CONNECT); a new status line starts afresh, so the fields kept are those of the last
// block. Lines after the last block (chunked trailers) are checked but not kept.
//
// The bytes come from the network: a line without a colon, a malformed status line, an
// oversized block or too many fields stop the parser with an error, and nothing grows
// beyond the limits.
class HttpResponseHeaderParser
{
public:
    static constexpr qsizetype MaxBlockBytes = 64 * 1024;
    static constexpr qsizetype MaxFields = 256;
    static constexpr qsizetype MaxTrailerBytes = 64 * 1024;

    // Feeds one line, with or without its CR LF. False once the input is refused; error()
    // says why, and every later line is refused too.
    bool feedLine(const char* data, qsizetype size);
    bool feedLine(const QByteArray& line) { return feedLine(line.constData(), line.size()); }

    bool failed() const { return !mError.isEmpty(); }
    const QString& error() const { return mError; }

    // True between a block's empty line and the next status line.
    bool blockComplete() const { return mState == State::Done; }
    int statusCode() const { return mStatus; }
    const QByteArray& reasonPhrase() const { return mReason; }
    // "1.1", "1.0".
    const QByteArray& httpVersion() const { return mVersion; }
    const HttpHeaders& headers() const { return mHeaders; }
    // How many status lines have been read (blocks begun).
    int blockCount() const { return mBlocks; }

private:
    enum class State
    {
        ExpectStatus,
        Fields,
        Done
    };

    bool fail(const QString& reason);
    bool readStatusLine(const QByteArray& line);

    State mState = State::ExpectStatus;
    QString mError;
    int mStatus = 0;
    int mBlocks = 0;
    QByteArray mReason;
    QByteArray mVersion;
    HttpHeaders mHeaders;
    qsizetype mBlockBytes = 0;
    qsizetype mTrailerBytes = 0;
};

} // namespace corvex
