#pragma once

#include <QString>

namespace corvex {

// The class-name helpers of the JSON coders. Only the first UTF-16 unit changes; the empty
// string (a key read from a damaged file may be one) answers the empty string.
class StringAdditions
{
public:
    // "Idea" -> "idea".
    static QString camelcaseString(const QString& text);
    // "idea" -> "Idea", "jSON" -> "JSON".
    static QString capitalizeFirstLetterString(const QString& text);
};

} // namespace corvex
