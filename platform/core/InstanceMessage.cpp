#include "platform/core/InstanceMessage.h"

#include "platform/core/Log.h"
#include "platform/core/NativeFileName.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>

namespace corvex {

namespace {

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            return true;
    }
    return false;
}

// "scheme:" at the start, as RFC 3986 spells a scheme; empty when there is none.
QString leadingScheme(const QString& text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 1)
        return QString();
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = text.at(i);
        const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                            (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        const bool other = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
                           c == QLatin1Char('-') || c == QLatin1Char('.');
        if (!letter && !(i > 0 && other))
            return QString();
    }
    return text.left(colon).toLower();
}

} // namespace

InstanceMessageParser::InstanceMessageParser(QStringList urlSchemes) : mSchemes(std::move(urlSchemes)) {}

bool InstanceMessageParser::parseLine(QByteArrayView line, const QStringList& urlSchemes,
                                      InstanceMessage* message, QString* reason)
{
    auto refuse = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (line.size() > MaxLineBytes)
        return refuse(QStringLiteral("line too long"));
    if (line.isEmpty())
        return refuse(QStringLiteral("empty line"));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(line);
    if (decoder.hasError())
        return refuse(QStringLiteral("not UTF-8"));
    if (text.contains(QChar(0xfeff)) || hasControlCharacter(text))
        return refuse(QStringLiteral("control characters"));

    InstanceMessage result;
    if (text.startsWith(QLatin1Char('/'))) {
        result.kind = InstanceMessage::Kind::File;
        result.path = QDir::cleanPath(text);
    } else {
        const QString scheme = leadingScheme(text);
        if (scheme.isEmpty())
            return refuse(QStringLiteral("relative path"));
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid())
            return refuse(QStringLiteral("malformed URL"));
        if (scheme == QLatin1String("file")) {
            const QString host = url.host();
            if (!host.isEmpty() && host != QLatin1String("localhost"))
                return refuse(QStringLiteral("file URL of another host"));
            // Any name the file system holds comes this way, its bytes escaped: line breaks, and
            // bytes that are not UTF-8 (kept as NativeFileName spells them).
            const QString path = NativeFileName::decode(
                QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
            if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
                return refuse(QStringLiteral("file URL without an absolute path"));
            result.kind = InstanceMessage::Kind::File;
            result.path = QDir::cleanPath(path);
        } else {
            bool accepted = false;
            for (const QString& allowed : urlSchemes)
                accepted = accepted || allowed.compare(scheme, Qt::CaseInsensitive) == 0;
            if (!accepted)
                return refuse(QStringLiteral("scheme not accepted: ") + scheme);
            result.kind = InstanceMessage::Kind::Url;
            result.url = url;
        }
    }
    if (message)
        *message = std::move(result);
    return true;
}

void InstanceMessageParser::takeLine(QByteArrayView line, std::vector<InstanceMessage>& out)
{
    if (++mLines > MaxLines) {
        mFlooded = true;
        Log::warning(
            QStringLiteral("Instance message refused: more than %1 lines on one connection").arg(MaxLines));
        return;
    }
    if (line.endsWith('\r'))
        line.chop(1);
    InstanceMessage message;
    QString reason;
    if (parseLine(line, mSchemes, &message, &reason)) {
        out.push_back(std::move(message));
    } else {
        ++mRefused;
        Log::warning(QStringLiteral("Instance message refused: ") + reason);
    }
}

std::vector<InstanceMessage> InstanceMessageParser::feed(QByteArrayView bytes)
{
    std::vector<InstanceMessage> out;
    if (mFlooded)
        return out;
    mTotalBytes += bytes.size();
    if (mTotalBytes > MaxConnectionBytes) {
        mFlooded = true;
        mPending.clear();
        Log::warning(QStringLiteral("Instance message refused: more than %1 bytes on one connection")
                         .arg(MaxConnectionBytes));
        return out;
    }
    while (!bytes.isEmpty() && !mFlooded) {
        const qsizetype newline = bytes.indexOf('\n');
        const QByteArrayView piece = newline < 0 ? bytes : bytes.first(newline);
        if (mSkippingLongLine) {
            // The rest of a refused long line is dropped unread.
        } else if (mPending.size() + piece.size() > MaxLineBytes) {
            mPending.clear();
            mSkippingLongLine = true;
            ++mRefused;
            ++mLines;
            Log::warning(QStringLiteral("Instance message refused: line too long"));
        } else {
            mPending.append(piece.data(), piece.size());
        }
        if (newline < 0)
            break;
        if (mSkippingLongLine) {
            mSkippingLongLine = false;
        } else {
            const QByteArray line = std::exchange(mPending, QByteArray());
            takeLine(line, out);
        }
        bytes = bytes.sliced(newline + 1);
    }
    return out;
}

std::vector<InstanceMessage> InstanceMessageParser::finish()
{
    std::vector<InstanceMessage> out;
    if (!mFlooded && !mSkippingLongLine && !mPending.isEmpty()) {
        const QByteArray line = std::exchange(mPending, QByteArray());
        takeLine(line, out);
    }
    mPending.clear();
    mSkippingLongLine = false;
    return out;
}

QByteArray InstanceMessageParser::linesForArguments(const QStringList& arguments,
                                                    const QString& workingDirectory)
{
    QByteArray lines;
    for (const QString& argument : arguments) {
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-')))
            continue;
        QString line;
        const QString absolute = QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(argument));
        if (argument.startsWith(QLatin1Char('/')))
            line = QDir::cleanPath(argument);
        else if (!leadingScheme(argument).isEmpty() && !QFileInfo::exists(absolute))
            line = argument; // a URL, passed as given
        else
            line = absolute;
        // A line break would split the line, and a plain line is UTF-8 without control
        // characters: such a name goes as a file URL of its bytes, escaped.
        if (line.startsWith(QLatin1Char('/')) &&
            (hasControlCharacter(line) || NativeFileName::hasEscapes(line)))
            lines += "file://" + NativeFileName::encode(line).toPercentEncoding("/");
        else
            lines += line.toUtf8();
        lines += '\n';
    }
    return lines;
}

} // namespace corvex
