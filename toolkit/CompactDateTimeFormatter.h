#pragma once

#include <QDateTime>
#include <QString>
#include <memory>

namespace corvex {

class DateFormatter;

// Turns a date into the shortest text that is unambiguous next to today, in the user's
// locale: the time for a date of today, month and day (with the time when asked) within the
// current year, the full date otherwise. The home screen labels its documents with it.
//
// Five formatters are made once, from templates through the locale's best patterns
// (DateFormatter::dateFormatFromTemplate): "yyyyMMdd", "MMMdd", "HH:mm", "yyyyMMdd HHmm"
// and "MMMdd HHmm". "Today" and "this year" compare the era, year, month and day of the
// date and of now (Globals::secondsSince1970) in local time and the locale's calendar.
// Main thread only.
class CompactDateTimeFormatter
{
public:
    static const QString YearMonthDayTemplate;     // "yyyyMMdd"
    static const QString MonthDayTemplate;         // "MMMdd"
    static const QString TimeTemplate;             // "HH:mm"
    static const QString YearMonthDayTimeTemplate; // "yyyyMMdd HHmm"
    static const QString MonthDayTimeTemplate;     // "MMMdd HHmm"

    // For the locale ("en_US"; empty: the current locale).
    explicit CompactDateTimeFormatter(const QString& localeName = QString());
    ~CompactDateTimeFormatter();
    CompactDateTimeFormatter(const CompactDateTimeFormatter&) = delete;
    CompactDateTimeFormatter& operator=(const CompactDateTimeFormatter&) = delete;

    // The shared formatter of the current locale, made on first use.
    static CompactDateTimeFormatter& singleton();
    // A new formatter with the template's best pattern in the locale (empty: the current
    // locale), with options 0.
    static std::unique_ptr<DateFormatter> createFormatterFromTemplate(const QString& dateTemplate,
                                                                      const QString& localeName = QString());

    // An invalid date gives "". Same day as now: the time; same year: month and day, with
    // the time when showAlwaysTime is set; otherwise year, month and day, with the time when
    // showAlwaysTime is set.
    QString formatDateTime(const QDateTime& date, bool showAlwaysTime) const;
    // An invalid date gives "". Same year as now: month and day; otherwise year, month and day.
    QString formatDateOnly(const QDateTime& date) const;

    QString localeName() const { return mLocaleName; }
    const DateFormatter& yearMonthDayFormatter() const { return *mDateFormatterYearMonthDay; }
    const DateFormatter& monthDayFormatter() const { return *mDateFormatterMonthDay; }
    const DateFormatter& timeFormatter() const { return *mDateFormatterTime; }
    const DateFormatter& yearMonthDayTimeFormatter() const { return *mDateFormatterYearMonthDayTime; }
    const DateFormatter& monthDayTimeFormatter() const { return *mDateFormatterMonthDayTime; }

private:
    QString mLocaleName;
    std::unique_ptr<DateFormatter> mDateFormatterYearMonthDay;
    std::unique_ptr<DateFormatter> mDateFormatterMonthDay;
    std::unique_ptr<DateFormatter> mDateFormatterTime;
    std::unique_ptr<DateFormatter> mDateFormatterYearMonthDayTime;
    std::unique_ptr<DateFormatter> mDateFormatterMonthDayTime;
};

} // namespace corvex
