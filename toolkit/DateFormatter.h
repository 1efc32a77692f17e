#pragma once

#include <QDateTime>
#include <QString>
#include <memory>

namespace corvex {

// The platform date formatter stand-in, over ICU: a date format pattern (ICU's, the same
// letters as the platform's) in a locale.
//
// Dates are shown in local time as the C library sees it (TZ), the time Qt's local
// QDateTime uses: the local date and time of day are handed to ICU as a zone-free value, so
// a TZ that ICU cannot read itself (a POSIX rule) changes nothing. Not thread-safe: one
// formatter is used by one thread at a time.
class DateFormatter
{
public:
    // `localeName` as "en_US" or "de_DE" (an encoding or modifier suffix is ignored); empty
    // for the current locale.
    explicit DateFormatter(const QString& pattern = QString(), const QString& localeName = QString());
    ~DateFormatter();
    DateFormatter(const DateFormatter&) = delete;
    DateFormatter& operator=(const DateFormatter&) = delete;

    // The user's locale for dates: LC_ALL, else LC_TIME, else LANG, without its encoding
    // ("en_US.UTF-8" -> "en_US"); "en_US_POSIX" for none, "C" or "POSIX".
    static QString currentLocaleName();

    // The pattern that fits the template best in the locale (ICU's pattern generator, which
    // orders the fields the locale's way: "yyyyMMdd" gives "MM/dd/yyyy" in en_US and
    // "dd.MM.yyyy" in de_DE). Options 0 are the only ones the system uses; the value is kept
    // for the platform's signature. The template itself when ICU fails.
    static QString dateFormatFromTemplate(const QString& dateTemplate, unsigned options,
                                          const QString& localeName);

    QString dateFormat() const;
    void setDateFormat(const QString& pattern);
    // The locale in use, as given or found ("en_US").
    QString localeName() const;

    // The empty text for an invalid date.
    QString stringFromDate(const QDateTime& date) const;

    // The calendar fields of a date in local time, in the locale's calendar.
    struct Components
    {
        int era = 0;
        int year = 0;
        int month = 0; // 1 to 12 (13 in calendars with a leap month)
        int day = 0;
        int weekOfYear = 0;
        friend bool operator==(const Components&, const Components&) = default;
    };
    // All zero for an invalid date.
    static Components components(const QDateTime& date, const QString& localeName = QString());

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace corvex
