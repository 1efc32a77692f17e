#include "platform/core/DateText.h"
#include "tests/support/TestDates.h"

#include <QTimeZone>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::utc;

namespace {

std::string show(const std::optional<QDateTime>& date)
{
    return date ? date->toString(Qt::ISODate).toStdString() : std::string("nullopt");
}

} // namespace

TEST(DateText, FormatsUtcMinutesWithSecondsAlwaysZero)
{
    EXPECT_EQ(DateText::format(utc(2024, 3, 5, 10, 15, 42)), QStringLiteral("2024-03-05 10:15:00 GMT"));
    EXPECT_EQ(DateText::format(utc(2024, 3, 5, 14, 7)), QStringLiteral("2024-03-05 14:07:00 GMT"));
    EXPECT_EQ(DateText::format(utc(987, 1, 2, 3, 4)), QStringLiteral("0987-01-02 03:04:00 GMT"));
    EXPECT_EQ(DateText::format(utc(2023, 12, 31, 23, 59, 59)), QStringLiteral("2023-12-31 23:59:00 GMT"));
    EXPECT_TRUE(DateText::format(QDateTime()).isEmpty());
}

TEST(DateText, FormatsLocalTimesAsUtc)
{
    // The test main runs in Central European time: UTC+1 in winter, UTC+2 in summer.
    const QDateTime winter(QDate(2024, 3, 5), QTime(15, 7, 30), Qt::LocalTime);
    const QDateTime summer(QDate(2024, 7, 1), QTime(0, 30), Qt::LocalTime);
    EXPECT_EQ(DateText::format(winter), QStringLiteral("2024-03-05 14:07:00 GMT"));
    EXPECT_EQ(DateText::format(summer), QStringLiteral("2024-06-30 22:30:00 GMT"));
    const QDateTime offset(QDate(2024, 3, 5), QTime(9, 7), QTimeZone(-5 * 3600));
    EXPECT_EQ(DateText::format(offset), QStringLiteral("2024-03-05 14:07:00 GMT"));
}

TEST(DateText, ParsesTheGmtShapeAsUtcWhateverTheLocalZone)
{
    ASSERT_NE(QDateTime::currentDateTime().offsetFromUtc(), 0) << "the test main sets a non-UTC zone";
    const auto parsed = DateText::parse(u"2024-03-05 14:07:00 GMT");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->timeSpec(), Qt::UTC);
    EXPECT_EQ(parsed->toSecsSinceEpoch(), 1709647620);
    EXPECT_EQ(parsed->time(), QTime(14, 7));
    EXPECT_EQ(*parsed, utc(2024, 3, 5, 14, 7));
    EXPECT_EQ(DateText::parse(u"2024-02-29 00:00:00 GMT"), utc(2024, 2, 29, 0, 0)) << "a leap day";
    EXPECT_EQ(DateText::parse(u"0001-01-01 00:00:00 GMT"), utc(1, 1, 1, 0, 0));
}

TEST(DateText, ParsesOffsetsIntoUtc)
{
    const struct
    {
        const char16_t* text;
        QDateTime expected;
    } cases[] = {
        {u"2024-03-05 15:07:00 GMT+01:00", utc(2024, 3, 5, 14, 7)},
        {u"2024-03-05 15:07:00 GMT+1", utc(2024, 3, 5, 14, 7)},
        {u"2024-03-05 08:37:00 GMT-05:30", utc(2024, 3, 5, 14, 7)},
        {u"2024-03-05 14:07:00 GMT+00:00", utc(2024, 3, 5, 14, 7)},
        {u"2024-03-06 01:07:00 GMT+11", utc(2024, 3, 5, 14, 7)},
        {u"2024-03-05 14:07:00 GMT-0", utc(2024, 3, 5, 14, 7)},
        {u"2024-01-01 00:30:00 GMT+01:00", utc(2023, 12, 31, 23, 30)},
        {u"2024-03-05 14:07:00 GMT+18:00", utc(2024, 3, 4, 20, 7)},
    };
    for (const auto& c : cases) {
        const auto parsed = DateText::parse(c.text);
        EXPECT_EQ(parsed, std::optional<QDateTime>(c.expected))
            << QString::fromUtf16(c.text).toStdString() << " -> " << show(parsed);
        if (parsed) {
            EXPECT_EQ(parsed->timeSpec(), Qt::UTC);
        }
    }
}

TEST(DateText, ParseRejectsEverythingButTheExactShape)
{
    const char16_t* rejected[] = {
        u"",
        u"2024-03-05 14:07:30 GMT", // seconds other than 00
        u"2024-03-05 14:07:59 GMT",
        u"2024-03-05 14:07 GMT", // missing seconds
        u"2024-03-05 14:07:00",  // missing zone
        u"2024-03-05 14:07:00 UTC",
        u"2024-03-05 14:07:00 gmt",
        u"2024-03-05 14:07:00 GMT ", // extra text
        u" 2024-03-05 14:07:00 GMT",
        u"2024-03-05 14:07:00 GMTx",
        u"2024-03-05T14:07:00 GMT",
        u"2024-3-05 14:07:00 GMT",
        u"24-03-05 14:07:00 GMT",
        u"2024-03-05 4:07:00 GMT",
        u"2024-13-05 14:07:00 GMT", // out-of-range fields
        u"2024-00-05 14:07:00 GMT",
        u"2024-03-00 14:07:00 GMT",
        u"2024-03-32 14:07:00 GMT",
        u"2024-02-30 14:07:00 GMT",
        u"2023-02-29 14:07:00 GMT",
        u"2024-04-31 14:07:00 GMT",
        u"2024-03-05 24:00:00 GMT",
        u"2024-03-05 25:00:00 GMT",
        u"2024-03-05 14:60:00 GMT",
        u"0000-03-05 14:07:00 GMT",
        u"2024-03-05 14:07:00 GMT+", // malformed offsets
        u"2024-03-05 14:07:00 GMT+1:",
        u"2024-03-05 14:07:00 GMT+01:0",
        u"2024-03-05 14:07:00 GMT+123",
        u"2024-03-05 14:07:00 GMT+0100",
        u"2024-03-05 14:07:00 GMT+19",
        u"2024-03-05 14:07:00 GMT+01:60",
        u"2024-03-05 14:07:00 GMT+01:00:00",
        u"2024-03-05 14:07:00 GMT 01:00",
        u"\u0662\u0660\u0662\u0664-03-05 14:07:00 GMT", // digits of another script
    };
    for (const char16_t* text : rejected) {
        const auto parsed = DateText::parse(QStringView(text, std::char_traits<char16_t>::length(text)));
        EXPECT_FALSE(parsed.has_value())
            << "accepted: \"" << QString::fromUtf16(text).toStdString() << "\" as " << show(parsed);
    }
    const QString withNul = QStringLiteral("2024-03-05 14:07:00 GMT") + QChar(u'\0');
    EXPECT_FALSE(DateText::parse(withNul).has_value());
}

TEST(DateText, FormattedTextParsesBackToTheMinute)
{
    for (const QDateTime& date :
         {utc(2024, 3, 5, 10, 15, 42), utc(1999, 12, 31, 23, 59, 1), utc(2038, 1, 19, 3, 14, 7)}) {
        const auto parsed = DateText::parse(DateText::format(date));
        ASSERT_TRUE(parsed.has_value()) << DateText::format(date).toStdString();
        EXPECT_EQ(*parsed, date.addSecs(-date.time().second()));
    }
}
