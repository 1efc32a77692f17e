#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace corvex {

// Base64 text for binary data in JSON documents and property lists.
class Base64
{
public:
    // The standard alphabet with padding and no line breaks.
    static QString encode(const QByteArray& data);

    // Lenient on purpose: every character outside the Base64 alphabet (line breaks, spaces,
    // junk) is skipped; decoding ends at the first '='. A lone trailing character that
    // cannot complete a byte is dropped.
    static QByteArray decode(QStringView text);
};

} // namespace corvex
