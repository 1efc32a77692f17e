#include "platform/net/HttpResponseHeaderParser.h"

namespace corvex {

namespace {

bool isFieldNameByte(char c)
{
    // RFC 9110 token characters.
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

QByteArray withoutLineEnd(const char* data, qsizetype size)
{
    if (size > 0 && data[size - 1] == '\n')
        --size;
    if (size > 0 && data[size - 1] == '\r')
        --size;
    return QByteArray(data, size);
}

} // namespace

bool HttpResponseHeaderParser::fail(const QString& reason)
{
    if (mError.isEmpty())
        mError = reason;
    return false;
}

bool HttpResponseHeaderParser::readStatusLine(const QByteArray& line)
{
    // "HTTP/1.1 200 OK", "HTTP/1.0 404", "HTTP/2 200".
    if (!line.startsWith("HTTP/"))
        return fail(QStringLiteral("The server's answer does not begin with a status line"));
    qsizetype at = 5;
    const qsizetype versionStart = at;
    while (at < line.size() && (isDigit(line[at]) || line[at] == '.'))
        ++at;
    if (at == versionStart || at - versionStart > 3 || at >= line.size() || line[at] != ' ')
        return fail(QStringLiteral("The server's status line has no valid version"));
    QByteArray version = line.mid(versionStart, at - versionStart);
    ++at;
    if (at + 3 > line.size() || !isDigit(line[at]) || !isDigit(line[at + 1]) || !isDigit(line[at + 2]))
        return fail(QStringLiteral("The server's status line has no valid status code"));
    const int status = (line[at] - '0') * 100 + (line[at + 1] - '0') * 10 + (line[at + 2] - '0');
    at += 3;
    if (status < 100)
        return fail(QStringLiteral("The server's status code is out of range"));
    if (at < line.size() && line[at] != ' ')
        return fail(QStringLiteral("The server's status line has no valid status code"));
    mVersion = std::move(version);
    mStatus = status;
    mReason = at < line.size() ? line.mid(at + 1) : QByteArray();
    mHeaders.clear();
    mBlockBytes = line.size();
    mTrailerBytes = 0;
    ++mBlocks;
    mState = State::Fields;
    return true;
}

bool HttpResponseHeaderParser::feedLine(const char* data, qsizetype size)
{
    if (failed())
        return false;
    if (data == nullptr || size < 0)
        return fail(QStringLiteral("No header line"));
    const QByteArray line = withoutLineEnd(data, size);

    if (mState == State::ExpectStatus || (mState == State::Done && line.startsWith("HTTP/")))
        return readStatusLine(line);

    if (mState == State::Done) {
        // Trailers after a chunked body (or the empty line that ends them): checked, bounded,
        // not kept.
        mTrailerBytes += size;
        if (mTrailerBytes > MaxTrailerBytes)
            return fail(QStringLiteral("The server's trailer fields are too large"));
        if (line.isEmpty())
            return true;
        if (!line.contains(':'))
            return fail(QStringLiteral("The server sent a trailer line without a colon"));
        return true;
    }

    mBlockBytes += size;
    if (mBlockBytes > MaxBlockBytes)
        return fail(QStringLiteral("The server's header block is larger than %1 bytes").arg(MaxBlockBytes));
    if (line.isEmpty()) {
        mState = State::Done;
        return true;
    }
    if (line[0] == ' ' || line[0] == '\t') {
        // An obsolete folded continuation of the previous field's value.
        if (mHeaders.isEmpty())
            return fail(QStringLiteral("The server sent a continuation line before any header field"));
        HttpHeaders folded;
        const auto& fields = mHeaders.fields();
        for (qsizetype i = 0; i + 1 < fields.size(); ++i)
            folded.add(fields[i].first, fields[i].second);
        folded.add(fields.last().first, fields.last().second + ' ' + line.trimmed());
        mHeaders = std::move(folded);
        return true;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return fail(QStringLiteral("The server sent a header line without a colon"));
    if (colon == 0)
        return fail(QStringLiteral("The server sent a header field without a name"));
    for (qsizetype i = 0; i < colon; ++i) {
        if (!isFieldNameByte(line[i]))
            return fail(QStringLiteral("The server sent a header field name with invalid characters"));
    }
    if (mHeaders.size() >= MaxFields)
        return fail(QStringLiteral("The server sent more than %1 header fields").arg(MaxFields));
    mHeaders.add(line.left(colon), line.mid(colon + 1).trimmed());
    return true;
}

} // namespace corvex
