#pragma once

#include "platform/core/Result.h"
#include "platform/core/Value.h"

#include <QByteArray>
#include <QString>

namespace corvex {

// XML property lists (the "<plist version="1.0">" form other programs and Python's plistlib
// write): the reporting kit's own defaults file and the crash reporter's older one.
//
// Reading is bounded: the text's size, the nesting depth and the element count are limited,
// entities are the five predefined ones and numeric character references only (a document
// type with an internal subset, which is where entity declarations live, is refused), and
// nothing outside the bytes is ever fetched. Every fault answers an Error of ErrorDomain.
//
// Values map as: dict -> Dictionary (keys in file order), array -> Array, string -> String,
// integer -> Integer (above the range of qint64: Real), real -> Real ("nan", "inf", "-inf"
// included), true/false -> Bool, date -> Date (UTC, whole seconds), data -> Data. Writing
// refuses Null and strings or keys with characters XML 1.0 cannot hold, so whatever is
// written loads again, here and in other readers.
class XmlPropertyList
{
public:
    static const QString ErrorDomain; // "XmlPropertyListErrorDomain"
    enum ErrorCode
    {
        TooLarge = 1,
        Malformed = 2,
        TooDeep = 3,
        EntityRefused = 4,
        NotWritable = 5
    };

    static constexpr qsizetype MaximumBytes = 16 * 1024 * 1024;
    static constexpr int MaximumDepth = 256;
    static constexpr qsizetype MaximumElements = 1000000;

    static Result<Value> read(const QByteArray& text);
    static Result<QByteArray> write(const Value& root);

    // The file through WholeFileReader (at most MaximumBytes) and read().
    static Result<Value> readFile(const QString& path);
    // write() and SaveFile: the old file stays on any failure.
    static Status writeFile(const QString& path, const Value& root);
};

} // namespace corvex
