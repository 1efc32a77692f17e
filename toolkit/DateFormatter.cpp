#include "toolkit/DateFormatter.h"

#include "platform/core/Log.h"

#include <QByteArray>
#include <unicode/calendar.h>
#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cstdlib>

namespace corvex {

namespace {

icu::UnicodeString toUnicode(const QString& text)
{
    return icu::UnicodeString(reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()));
}

QString fromUnicode(const icu::UnicodeString& text)
{
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

// "en_US.UTF-8" -> "en_US"; "C", "POSIX" and nothing -> "en_US_POSIX".
QString normalizedLocaleName(const QString& name)
{
    QString result = name;
    for (const QChar mark : {QLatin1Char('.'), QLatin1Char('@')}) {
        const qsizetype at = result.indexOf(mark);
        if (at >= 0)
            result.truncate(at);
    }
    if (result.isEmpty() || result == QLatin1String("C") || result == QLatin1String("POSIX"))
        return QStringLiteral("en_US_POSIX");
    return result;
}

QString localeNameOrCurrent(const QString& name)
{
    return name.isEmpty() ? DateFormatter::currentLocaleName() : normalizedLocaleName(name);
}

icu::Locale icuLocale(const QString& name)
{
    return icu::Locale(name.toUtf8().constData());
}

// The local date and time of day of `date` as milliseconds of a zone-free (GMT) clock.
UDate wallClockMillis(const QDateTime& date)
{
    const QDateTime local = date.toLocalTime();
    return UDate(double(local.toMSecsSinceEpoch()) + 1000.0 * double(local.offsetFromUtc()));
}

void logFailure(const char* what, UErrorCode status)
{
    Log::warning(QStringLiteral("DateFormatter: %1 failed: %2")
                     .arg(QLatin1String(what), QLatin1String(u_errorName(status))));
}

} // namespace

struct DateFormatter::Private
{
    QString pattern;
    QString localeName;
    std::unique_ptr<icu::SimpleDateFormat> format;

    void rebuild()
    {
        UErrorCode status = U_ZERO_ERROR;
        format = std::make_unique<icu::SimpleDateFormat>(toUnicode(pattern), icuLocale(localeName), status);
        if (U_FAILURE(status)) {
            logFailure("making a date format", status);
            format.reset();
            return;
        }
        // Wall-clock values come in as GMT (wallClockMillis).
        format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString(u"GMT")));
    }
};

DateFormatter::DateFormatter(const QString& pattern, const QString& localeName)
    : d(std::make_unique<Private>())
{
    d->pattern = pattern;
    d->localeName = localeNameOrCurrent(localeName);
    d->rebuild();
}

DateFormatter::~DateFormatter() = default;

QString DateFormatter::currentLocaleName()
{
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return normalizedLocaleName(QString::fromLocal8Bit(value));
    }
    return normalizedLocaleName(QString());
}

QString DateFormatter::dateFormatFromTemplate(const QString& dateTemplate, unsigned,
                                              const QString& localeName)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(icuLocale(localeNameOrCurrent(localeName)), status));
    if (U_FAILURE(status) || !generator) {
        logFailure("making a pattern generator", status);
        return dateTemplate;
    }
    const icu::UnicodeString pattern = generator->getBestPattern(toUnicode(dateTemplate), status);
    if (U_FAILURE(status)) {
        logFailure("finding a pattern", status);
        return dateTemplate;
    }
    return fromUnicode(pattern);
}

QString DateFormatter::dateFormat() const
{
    return d->pattern;
}

void DateFormatter::setDateFormat(const QString& pattern)
{
    d->pattern = pattern;
    d->rebuild();
}

QString DateFormatter::localeName() const
{
    return d->localeName;
}

QString DateFormatter::stringFromDate(const QDateTime& date) const
{
    if (!date.isValid() || !d->format)
        return QString();
    icu::UnicodeString text;
    d->format->format(wallClockMillis(date), text);
    return fromUnicode(text);
}

DateFormatter::Components DateFormatter::components(const QDateTime& date, const QString& localeName)
{
    Components result;
    if (!date.isValid())
        return result;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(
        icu::Calendar::createInstance(icu::TimeZone::createTimeZone(icu::UnicodeString(u"GMT")),
                                      icuLocale(localeNameOrCurrent(localeName)), status));
    if (U_FAILURE(status) || !calendar) {
        logFailure("making a calendar", status);
        return result;
    }
    calendar->setTime(wallClockMillis(date), status);
    result.era = calendar->get(UCAL_ERA, status);
    result.year = calendar->get(UCAL_YEAR, status);
    result.month = calendar->get(UCAL_MONTH, status) + 1;
    result.day = calendar->get(UCAL_DATE, status);
    result.weekOfYear = calendar->get(UCAL_WEEK_OF_YEAR, status);
    if (U_FAILURE(status)) {
        logFailure("reading a calendar", status);
        return Components();
    }
    return result;
}

} // namespace corvex
