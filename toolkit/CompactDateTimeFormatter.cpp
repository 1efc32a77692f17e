#include "toolkit/CompactDateTimeFormatter.h"

#include "model/Globals.h"
#include "toolkit/DateFormatter.h"

#include <cmath>

namespace corvex {

const QString CompactDateTimeFormatter::YearMonthDayTemplate = QStringLiteral("yyyyMMdd");
const QString CompactDateTimeFormatter::MonthDayTemplate = QStringLiteral("MMMdd");
const QString CompactDateTimeFormatter::TimeTemplate = QStringLiteral("HH:mm");
const QString CompactDateTimeFormatter::YearMonthDayTimeTemplate = QStringLiteral("yyyyMMdd HHmm");
const QString CompactDateTimeFormatter::MonthDayTimeTemplate = QStringLiteral("MMMdd HHmm");

namespace {

QDateTime now()
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::floor(Globals::secondsSince1970() * 1000.0)));
}

bool sameYear(const DateFormatter::Components& a, const DateFormatter::Components& b)
{
    return a.era == b.era && a.year == b.year;
}

bool sameDay(const DateFormatter::Components& a, const DateFormatter::Components& b)
{
    return sameYear(a, b) && a.month == b.month && a.day == b.day;
}

} // namespace

CompactDateTimeFormatter::CompactDateTimeFormatter(const QString& localeName)
    : mLocaleName(localeName.isEmpty() ? DateFormatter::currentLocaleName() : localeName),
      mDateFormatterYearMonthDay(createFormatterFromTemplate(YearMonthDayTemplate, mLocaleName)),
      mDateFormatterMonthDay(createFormatterFromTemplate(MonthDayTemplate, mLocaleName)),
      mDateFormatterTime(createFormatterFromTemplate(TimeTemplate, mLocaleName)),
      mDateFormatterYearMonthDayTime(createFormatterFromTemplate(YearMonthDayTimeTemplate, mLocaleName)),
      mDateFormatterMonthDayTime(createFormatterFromTemplate(MonthDayTimeTemplate, mLocaleName))
{}

CompactDateTimeFormatter::~CompactDateTimeFormatter() = default;

CompactDateTimeFormatter& CompactDateTimeFormatter::singleton()
{
    static CompactDateTimeFormatter shared;
    return shared;
}

std::unique_ptr<DateFormatter>
CompactDateTimeFormatter::createFormatterFromTemplate(const QString& dateTemplate, const QString& localeName)
{
    const QString locale = localeName.isEmpty() ? DateFormatter::currentLocaleName() : localeName;
    return std::make_unique<DateFormatter>(DateFormatter::dateFormatFromTemplate(dateTemplate, 0, locale),
                                           locale);
}

QString CompactDateTimeFormatter::formatDateTime(const QDateTime& date, bool showAlwaysTime) const
{
    if (!date.isValid())
        return QString();
    const DateFormatter::Components when = DateFormatter::components(date, mLocaleName);
    const DateFormatter::Components today = DateFormatter::components(now(), mLocaleName);
    if (sameDay(when, today))
        return mDateFormatterTime->stringFromDate(date);
    if (sameYear(when, today))
        return (showAlwaysTime ? mDateFormatterMonthDayTime : mDateFormatterMonthDay)->stringFromDate(date);
    return (showAlwaysTime ? mDateFormatterYearMonthDayTime : mDateFormatterYearMonthDay)
        ->stringFromDate(date);
}

QString CompactDateTimeFormatter::formatDateOnly(const QDateTime& date) const
{
    if (!date.isValid())
        return QString();
    const DateFormatter::Components when = DateFormatter::components(date, mLocaleName);
    const DateFormatter::Components today = DateFormatter::components(now(), mLocaleName);
    return (sameYear(when, today) ? mDateFormatterMonthDay : mDateFormatterYearMonthDay)
        ->stringFromDate(date);
}

} // namespace corvex
