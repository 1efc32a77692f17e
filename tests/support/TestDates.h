#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

namespace corvex::test {

// A moment in UTC, down to the millisecond; the tests of dates, archives and indexes write
// their instants this way.
inline QDateTime utc(int year, int month, int day, int hour, int minute, int second = 0, int msec = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), Qt::UTC);
}

} // namespace corvex::test
