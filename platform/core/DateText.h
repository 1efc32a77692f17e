#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>
#include <optional>

namespace corvex {

// The date text of stored documents, "yyyy-MM-dd HH:mm:00 GMT" (for example
// "2024-03-05 14:07:00 GMT"): UTC, minute precision, independent of the locale and the
// local time zone.
class DateText
{
public:
    // Seconds are always written as "00"; an invalid date answers an empty string.
    static QString format(const QDateTime& dateTime);

    // Strict: exactly the shape above with seconds "00", the zone "GMT" or an offset
    // "GMT+hh:mm", "GMT-hh:mm", "GMT+h" (hours up to 18, minutes below 60). Out-of-range
    // fields (month 13, 25:00, February 30), other seconds, missing parts or extra text
    // answer nullopt. The result is in UTC (Qt::UTC).
    static std::optional<QDateTime> parse(QStringView text);
};

} // namespace corvex
