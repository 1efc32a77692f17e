// Dates in the shortest unambiguous form next to today, with the locale's own field order
// from ICU's pattern generator; checked against ICU directly and against literal texts.

#include "toolkit/CompactDateTimeFormatter.h"

#include "model/Globals.h"
#include "toolkit/DateFormatter.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <gtest/gtest.h>
#include <memory>
#include <unicode/dtptngen.h>
#include <unicode/locid.h>

using namespace corvex;

namespace {

// ICU's best pattern for a template, asked directly.
QString icuBestPattern(const char* locale, const QString& skeleton)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(
        icu::DateTimePatternGenerator::createInstance(icu::Locale(locale), status));
    EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    if (!generator)
        return QString();
    const icu::UnicodeString pattern = generator->getBestPattern(
        icu::UnicodeString(reinterpret_cast<const UChar*>(skeleton.utf16()), int32_t(skeleton.size())),
        status);
    EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    return QString(reinterpret_cast<const QChar*>(pattern.getBuffer()), pattern.length());
}

QDateTime local(int year, int month, int day, int hour, int minute)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute));
}

// Pins "now" (the test environment's time zone is Central European time).
class PinnedNow
{
public:
    explicit PinnedNow(const QDateTime& now)
    {
        const double seconds = double(now.toMSecsSinceEpoch()) / 1000.0;
        mPrevious = Globals::setWallClock([seconds] { return seconds; });
    }
    ~PinnedNow() { Globals::setWallClock(mPrevious); }

private:
    Globals::WallClock mPrevious;
};

// In the order of the formatter's accessors below.
const char* const kTemplates[] = {"yyyyMMdd", "MMMdd", "HH:mm", "yyyyMMdd HHmm", "MMMdd HHmm"};

} // namespace

TEST(CompactDateTimeFormatter, TheYearMonthDayTemplateTakesEachLocalesOrder)
{
    auto us = CompactDateTimeFormatter::createFormatterFromTemplate(QStringLiteral("yyyyMMdd"),
                                                                    QStringLiteral("en_US"));
    auto de = CompactDateTimeFormatter::createFormatterFromTemplate(QStringLiteral("yyyyMMdd"),
                                                                    QStringLiteral("de_DE"));
    EXPECT_EQ(us->dateFormat(), QStringLiteral("MM/dd/yyyy"));
    EXPECT_EQ(de->dateFormat(), QStringLiteral("dd.MM.yyyy"));
    const QDateTime date = local(2024, 3, 7, 9, 5);
    EXPECT_EQ(us->stringFromDate(date), QStringLiteral("03/07/2024"));
    EXPECT_EQ(de->stringFromDate(date), QStringLiteral("07.03.2024"));
}

TEST(CompactDateTimeFormatter, EveryTemplateFollowsIcuInBothLocales)
{
    for (const char* locale : {"en_US", "de_DE"}) {
        CompactDateTimeFormatter formatter{QString::fromLatin1(locale)};
        const DateFormatter* formatters[] = {
            &formatter.yearMonthDayFormatter(), &formatter.monthDayFormatter(),
            &formatter.timeFormatter(),         &formatter.yearMonthDayTimeFormatter(),
            &formatter.monthDayTimeFormatter(),
        };
        for (int i = 0; i < 5; ++i) {
            const QString dateTemplate = QString::fromLatin1(kTemplates[i]);
            const QString expected = icuBestPattern(locale, dateTemplate);
            EXPECT_FALSE(expected.isEmpty());
            EXPECT_EQ(formatters[i]->dateFormat().toStdString(), expected.toStdString())
                << locale << " " << kTemplates[i];
            EXPECT_EQ(DateFormatter::dateFormatFromTemplate(dateTemplate, 0, QString::fromLatin1(locale))
                          .toStdString(),
                      expected.toStdString());
        }
    }
}

TEST(CompactDateTimeFormatter, TheUsersLocaleComesFromTheEnvironment)
{
    // The test main sets LANG=en_US.UTF-8 and clears the LC_ variables.
    EXPECT_EQ(DateFormatter::currentLocaleName(), QStringLiteral("en_US"));
    EXPECT_EQ(CompactDateTimeFormatter::singleton().localeName(), QStringLiteral("en_US"));
    EXPECT_EQ(CompactDateTimeFormatter::singleton().yearMonthDayFormatter().dateFormat(),
              QStringLiteral("MM/dd/yyyy"));
    EXPECT_EQ(&CompactDateTimeFormatter::singleton(), &CompactDateTimeFormatter::singleton());
    // A time locale of its own wins over LANG; "C" is the POSIX locale.
    ::setenv("LC_TIME", "de_DE.UTF-8", 1);
    EXPECT_EQ(DateFormatter::currentLocaleName(), QStringLiteral("de_DE"));
    ::setenv("LC_ALL", "C", 1);
    EXPECT_EQ(DateFormatter::currentLocaleName(), QStringLiteral("en_US_POSIX"));
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_TIME");
    auto plain = CompactDateTimeFormatter::createFormatterFromTemplate(QStringLiteral("yyyyMMdd"));
    EXPECT_EQ(plain->localeName(), QStringLiteral("en_US"));
}

TEST(CompactDateTimeFormatter, TodayShowsTheTimeOnly)
{
    PinnedNow now(local(2024, 6, 15, 14, 30));
    CompactDateTimeFormatter us{QStringLiteral("en_US")};
    CompactDateTimeFormatter de{QStringLiteral("de_DE")};
    for (bool showAlwaysTime : {false, true}) {
        EXPECT_EQ(us.formatDateTime(local(2024, 6, 15, 8, 5), showAlwaysTime), QStringLiteral("08:05"));
        EXPECT_EQ(us.formatDateTime(local(2024, 6, 15, 23, 59), showAlwaysTime), QStringLiteral("23:59"));
        EXPECT_EQ(de.formatDateTime(local(2024, 6, 15, 0, 0), showAlwaysTime), QStringLiteral("00:00"));
    }
}

TEST(CompactDateTimeFormatter, TodayIsTheLocalDayNotTheUtcOne)
{
    // 00:30 summer time is 22:30 UTC of the day before.
    PinnedNow now(local(2024, 6, 15, 0, 30));
    CompactDateTimeFormatter us{QStringLiteral("en_US")};
    EXPECT_EQ(us.formatDateTime(local(2024, 6, 15, 1, 15), false), QStringLiteral("01:15"));
    EXPECT_EQ(us.formatDateTime(local(2024, 6, 14, 23, 45), false), QStringLiteral("Jun 14"));
    // The same instant given in UTC is shown in local time.
    const QDateTime utc = local(2024, 6, 15, 1, 15).toUTC();
    ASSERT_EQ(utc.date(), QDate(2024, 6, 14));
    EXPECT_EQ(us.formatDateTime(utc, false), QStringLiteral("01:15"));
}

TEST(CompactDateTimeFormatter, ThisYearShowsMonthAndDayWithTheTimeOnlyWhenAsked)
{
    PinnedNow now(local(2024, 6, 15, 14, 30));
    CompactDateTimeFormatter us{QStringLiteral("en_US")};
    CompactDateTimeFormatter de{QStringLiteral("de_DE")};
    const QDateTime march = local(2024, 3, 2, 9, 7);
    EXPECT_EQ(us.formatDateTime(march, false), QStringLiteral("Mar 02"));
    EXPECT_EQ(us.formatDateTime(march, true), QStringLiteral("Mar 02, 09:07"));
    EXPECT_EQ(de.formatDateTime(march, false), QString::fromUtf8("02. März"));
    EXPECT_EQ(de.formatDateTime(march, true), QString::fromUtf8("02. März, 09:07"));
    // Tomorrow, later this year, is not today either.
    EXPECT_EQ(us.formatDateTime(local(2024, 6, 16, 14, 30), false), QStringLiteral("Jun 16"));
    EXPECT_EQ(us.formatDateTime(local(2024, 12, 31, 23, 59), true), QStringLiteral("Dec 31, 23:59"));
}

TEST(CompactDateTimeFormatter, AnotherYearShowsTheWholeDate)
{
    PinnedNow now(local(2025, 1, 1, 0, 10));
    CompactDateTimeFormatter us{QStringLiteral("en_US")};
    CompactDateTimeFormatter de{QStringLiteral("de_DE")};
    // Twenty minutes ago, but last year.
    const QDateTime newYearsEve = local(2024, 12, 31, 23, 50);
    EXPECT_EQ(us.formatDateTime(newYearsEve, false), QStringLiteral("12/31/2024"));
    EXPECT_EQ(us.formatDateTime(newYearsEve, true), QStringLiteral("12/31/2024, 23:50"));
    EXPECT_EQ(de.formatDateTime(newYearsEve, false), QStringLiteral("31.12.2024"));
    EXPECT_EQ(de.formatDateTime(newYearsEve, true), QStringLiteral("31.12.2024, 23:50"));
    EXPECT_EQ(us.formatDateOnly(local(2026, 1, 1, 12, 0)), QStringLiteral("01/01/2026"));
}

TEST(CompactDateTimeFormatter, DateOnlyNeverShowsTheTime)
{
    PinnedNow now(local(2024, 6, 15, 14, 30));
    CompactDateTimeFormatter us{QStringLiteral("en_US")};
    CompactDateTimeFormatter de{QStringLiteral("de_DE")};
    EXPECT_EQ(us.formatDateOnly(local(2024, 6, 15, 9, 0)), QStringLiteral("Jun 15"));
    EXPECT_EQ(us.formatDateOnly(local(2024, 1, 1, 0, 0)), QStringLiteral("Jan 01"));
    EXPECT_EQ(us.formatDateOnly(local(2023, 6, 15, 9, 0)), QStringLiteral("06/15/2023"));
    EXPECT_EQ(de.formatDateOnly(local(2024, 6, 15, 9, 0)), QStringLiteral("15. Juni"));
    EXPECT_EQ(de.formatDateOnly(local(2023, 6, 15, 9, 0)), QStringLiteral("15.06.2023"));
}

TEST(CompactDateTimeFormatter, NoDateGivesTheEmptyText)
{
    CompactDateTimeFormatter us{QStringLiteral("en_US")};
    EXPECT_EQ(us.formatDateTime(QDateTime(), true), QString());
    EXPECT_EQ(us.formatDateTime(QDateTime(), false), QString());
    EXPECT_EQ(us.formatDateOnly(QDateTime()), QString());
    EXPECT_EQ(us.timeFormatter().stringFromDate(QDateTime()), QString());
}

TEST(CompactDateTimeFormatter, CalendarComponentsAreLocal)
{
    const DateFormatter::Components c =
        DateFormatter::components(local(2024, 12, 30, 0, 30), QStringLiteral("de_DE"));
    EXPECT_EQ(c.era, 1);
    EXPECT_EQ(c.year, 2024);
    EXPECT_EQ(c.month, 12);
    EXPECT_EQ(c.day, 30);
    // ISO weeks in Germany: 30 December 2024 is in week 1 of 2025.
    EXPECT_EQ(c.weekOfYear, 1);
    EXPECT_EQ(DateFormatter::components(QDateTime()), DateFormatter::Components());
}
