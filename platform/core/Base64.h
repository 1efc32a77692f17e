#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace corvex {

// Base64 text for binary data in JSON documents and property lists.
class Base64
{
public:
    // The standard alphabet with padding and no line breaks.
    static QString encode(const QByteArray& data);

    // The length of the Base64 text of `size` bytes (padded).
    static constexpr qsizetype encodedSize(qsizetype size) { return (size + 2) / 3 * 4; }
    // Writes the Base64 text of `size` bytes at `out` (which must hold encodedSize(size)
    // bytes) and answers the end of what was written: the same text as encode, for writers
    // that put large data straight into their output.
    static char* encodeInto(char* out, const char* data, qsizetype size);

    // Lenient on purpose: every character outside the Base64 alphabet (line breaks, spaces,
    // junk) is skipped; decoding ends at the first '='. A lone trailing character that
    // cannot complete a byte is dropped.
    static QByteArray decode(QStringView text);
    // The same for text as UTF-8 (every byte of a character beyond ASCII is skipped, as the
    // character is).
    static QByteArray decode(QByteArrayView utf8);
};

} // namespace corvex
