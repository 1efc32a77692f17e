#include "platform/core/NativeFileName.h"

namespace corvex {

namespace {

constexpr char32_t kEscapeBase = 0x10FF00;

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The code point of the valid UTF-8 sequence at `at` and its length; 0 as the length when
// there is none (a stray byte, an overlong form, a surrogate, a value past U+10FFFF, a cut).
char32_t sequenceAt(QByteArrayView bytes, qsizetype at, qsizetype& length)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[at + i]); };
    const unsigned char lead = byte(0);
    length = 0;
    qsizetype need = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 2;
        value = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 3;
        value = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 4;
        value = lead & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (at + need > bytes.size())
        return 0;
    for (qsizetype i = 1; i < need; ++i) {
        if (!isContinuation(byte(i)))
            return 0;
        value = (value << 6) | (byte(i) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    length = need;
    return value;
}

void append(QString& out, char32_t value)
{
    if (value < 0x10000) {
        out.append(QChar(char16_t(value)));
    } else {
        out.append(QChar::highSurrogate(value));
        out.append(QChar::lowSurrogate(value));
    }
}

} // namespace

QString NativeFileName::decode(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        qsizetype length = 0;
        const char32_t value = sequenceAt(bytes, at, length);
        if (length > 0 && value < FirstEscape) {
            append(out, value);
            at += length;
        } else {
            append(out, kEscapeBase + static_cast<unsigned char>(bytes[at]));
            ++at;
        }
    }
    return out;
}

QByteArray NativeFileName::encode(QStringView path)
{
    if (!hasEscapes(path))
        return path.toUtf8();
    QByteArray out;
    out.reserve(path.size() * 3);
    for (qsizetype at = 0; at < path.size();) {
        const qsizetype start = at;
        char32_t value = path[at].unicode();
        if (QChar::isHighSurrogate(value) && at + 1 < path.size() && path[at + 1].isLowSurrogate()) {
            value = QChar::surrogateToUcs4(path[at], path[at + 1]);
            at += 2;
        } else {
            ++at;
        }
        if (value >= FirstEscape)
            out.append(char(value - kEscapeBase));
        else
            out.append(path.sliced(start, at - start).toUtf8());
    }
    return out;
}

bool NativeFileName::hasEscapes(QStringView path)
{
    // Every escape is the high surrogate U+DBFF before a low one of U+DF80 and above.
    for (qsizetype at = 0; at + 1 < path.size(); ++at) {
        if (path[at].unicode() == 0xDBFF && path[at + 1].unicode() >= 0xDF80 &&
            path[at + 1].unicode() <= 0xDFFF)
            return true;
    }
    return false;
}

QString NativeFileName::forDisplay(const QString& path)
{
    if (!hasEscapes(path))
        return path;
    QString out;
    out.reserve(path.size());
    for (qsizetype at = 0; at < path.size(); ++at) {
        if (at + 1 < path.size() && path[at].unicode() == 0xDBFF && path[at + 1].unicode() >= 0xDF80) {
            out.append(QChar(QChar::ReplacementCharacter));
            ++at;
        } else {
            out.append(path[at]);
        }
    }
    return out;
}

} // namespace corvex
