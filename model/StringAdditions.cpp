#include "model/StringAdditions.h"

namespace corvex {

QString StringAdditions::camelcaseString(const QString& text)
{
    if (text.isEmpty())
        return text;
    // A string conversion, not QChar's: a lower-case mapping may be longer than one unit.
    QString result = QString(text.front()).toLower();
    result.append(QStringView(text).mid(1));
    return result;
}

QString StringAdditions::capitalizeFirstLetterString(const QString& text)
{
    if (text.isEmpty())
        return text;
    // Title case, as the platform's capitalisation of a single character gives.
    QString result(QChar(char16_t(QChar::toTitleCase(char32_t(text.front().unicode())))));
    result.append(QStringView(text).mid(1));
    return result;
}

} // namespace corvex
