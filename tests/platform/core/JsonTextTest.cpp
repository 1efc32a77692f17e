#include "platform/core/JsonText.h"
#include "platform/core/Base64.h"
#include "platform/core/DateText.h"
#include "tests/platform/core/CoreTestSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace corvex;

namespace {

Value parsed(const QByteArray& text, int maxDepth = JsonText::DefaultMaxDepth)
{
    const auto result = JsonText::parse(text, maxDepth);
    EXPECT_TRUE(result.ok()) << text.left(100).toStdString() << ": "
                             << result.error().toString().toStdString();
    return result.valueOr(Value());
}

QByteArray nested(int depth, char open, char close, const QByteArray& inner = QByteArray())
{
    return QByteArray(depth, open) + inner + QByteArray(depth, close);
}

} // namespace

TEST(JsonText, KeyOrderIsPreservedBothWays)
{
    const QByteArray text = R"({"zebra":1,"apple":{"y":true,"b":null,"m":[3,2,1]},"mango":"x"})";
    const Value value = parsed(text);
    EXPECT_EQ(value.toDictionary().keys(),
              (QStringList{QStringLiteral("zebra"), QStringLiteral("apple"), QStringLiteral("mango")}));
    EXPECT_EQ(value.value(QStringLiteral("apple")).toDictionary().keys(),
              (QStringList{QStringLiteral("y"), QStringLiteral("b"), QStringLiteral("m")}));
    EXPECT_EQ(JsonText::serialize(value), text);
}

TEST(JsonText, IntegersFittingQint64AreIntegersAndOtherNumbersReal)
{
    const struct
    {
        const char* text;
        Value expected;
    } cases[] = {
        {"0", Value(0)},
        {"-0", Value(0)},
        {"42", Value(42)},
        {"-42", Value(-42)},
        {"9223372036854775807", Value(std::numeric_limits<qint64>::max())},
        {"-9223372036854775808", Value(std::numeric_limits<qint64>::min())},
        {"9223372036854775808", Value(9223372036854775808.0)},
        {"18446744073709551615", Value(18446744073709551615.0)},
        {"18446744073709551616", Value(18446744073709551616.0)},
        {"-9223372036854775809", Value(-9223372036854775809.0)},
        {"1.0", Value(1.0)},
        {"1e2", Value(100.0)},
        {"-2.5E-3", Value(-0.0025)},
        {"1.7976931348623157e308", Value(1.7976931348623157e308)},
    };
    for (const auto& c : cases) {
        const Value value = parsed(c.text);
        EXPECT_EQ(value.type(), c.expected.type()) << c.text;
        EXPECT_EQ(value, c.expected) << c.text;
    }
}

TEST(JsonText, NumbersBeyondADoubleAreRefused)
{
    for (const QByteArray& text :
         {QByteArray("1e400"), QByteArray("[-1e999]"), QByteArray("1") + QByteArray(400, '0')}) {
        const auto result = JsonText::parse(text);
        ASSERT_FALSE(result.ok()) << text.left(20).toStdString();
        EXPECT_EQ(result.error().code(), JsonText::NumberOutOfRange)
            << result.error().toString().toStdString();
    }
}

TEST(JsonText, InvalidJsonAndInvalidUtf8GiveErrorsWithTheParsersMessage)
{
    const QByteArray invalid[] = {
        "",          "   ",    "{",         "[1,]",        "{\"a\" 1}", "{\"a\":1,}",
        "tru",       "01",     "1 2",       "[1] x",       "{'a':1}",   "NaN",
        "/* c */ 1", "\"\t\"", "[\"\\x\"]", "\"\\ud800\"", "{\"a\":}",  "\"unterminated",
    };
    for (const QByteArray& text : invalid) {
        const auto result = JsonText::parse(text);
        ASSERT_FALSE(result.ok()) << "accepted: " << text.toStdString();
        EXPECT_EQ(result.error().domain(), JsonText::ErrorDomain);
        EXPECT_EQ(result.error().code(), JsonText::SyntaxError) << text.toStdString();
        EXPECT_TRUE(result.error().localizedDescription().contains(QStringLiteral("parse error")))
            << text.toStdString() << ": " << result.error().toString().toStdString();
    }
    for (const QByteArray& text : {QByteArray("\"\xff\""), QByteArray("{\"k\xc3\":1}"),
                                   QByteArray("[\"\xed\xa0\x80\"]"), QByteArray("\"\xc0\xaf\"")}) {
        const auto result = JsonText::parse(text);
        ASSERT_FALSE(result.ok()) << "accepted invalid UTF-8: " << text.toHex().toStdString();
        EXPECT_TRUE(result.error().localizedDescription().contains(QStringLiteral("UTF-8")))
            << result.error().toString().toStdString();
    }
}

TEST(JsonText, NestingIsAllowedUpToTheLimitAndRefusedOneBeyond)
{
    for (const int limit : {1, 16, 500}) {
        EXPECT_TRUE(JsonText::parse(nested(limit, '[', ']'), limit).ok()) << limit;
        const auto arrays = JsonText::parse(nested(limit + 1, '[', ']'), limit);
        ASSERT_FALSE(arrays.ok()) << limit;
        EXPECT_EQ(arrays.error().code(), JsonText::TooDeep);
        EXPECT_TRUE(arrays.error().localizedDescription().contains(QString::number(limit)))
            << arrays.error().toString().toStdString();
    }
    QByteArray objects = "1";
    for (int i = 0; i < 10; ++i)
        objects = "{\"k\":" + objects + "}";
    EXPECT_TRUE(JsonText::parse(objects, 10).ok());
    EXPECT_EQ(JsonText::parse(objects, 9).error().code(), JsonText::TooDeep);
    EXPECT_TRUE(JsonText::parse("7", 0).ok()) << "a scalar has no depth";
    EXPECT_FALSE(JsonText::parse("[]", 0).ok());
}

TEST(JsonText, DefaultDepthAdmitsTheDeepestDocumentAndStopsEarlyBeyond)
{
    const int limit = JsonText::DefaultMaxDepth;
    EXPECT_GE(limit, 2 * 1000 + 3) << "1,000 idea levels of two JSON levels each, under the wrappers";
    EXPECT_TRUE(JsonText::parse(nested(limit, '[', ']')).ok());
    EXPECT_EQ(JsonText::parse(nested(limit + 1, '[', ']')).error().code(), JsonText::TooDeep);
    // Millions of open brackets: refused at the limit, long before the end of the text.
    EXPECT_EQ(JsonText::parse(QByteArray(4 * 1024 * 1024, '[')).error().code(), JsonText::TooDeep);
}

TEST(JsonText, DuplicateKeysKeepTheFirstPositionAndTheLastValue)
{
    const Value value = parsed(R"({"a":1,"b":2,"a":{"x":3},"c":4,"b":5})");
    EXPECT_EQ(value.toDictionary().keys(),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_EQ(value.value(QStringLiteral("a")).value(QStringLiteral("x")), Value(3));
    EXPECT_EQ(value.value(QStringLiteral("b")), Value(5));
    EXPECT_EQ(JsonText::serialize(value), QByteArray(R"({"a":{"x":3},"b":5,"c":4})"));
}

TEST(JsonText, SerializeWritesDataAsBase64DatesAsDateTextAndNonFiniteAsNull)
{
    const QByteArray bytes("\x00\x01\xfe\xff", 4);
    const QDateTime date(QDate(2024, 3, 5), QTime(10, 15, 42), Qt::UTC);
    const Value value(ValueDictionary{{QStringLiteral("data"), bytes},
                                      {QStringLiteral("date"), date},
                                      {QStringLiteral("nan"), std::nan("")},
                                      {QStringLiteral("inf"), std::numeric_limits<double>::infinity()},
                                      {QStringLiteral("-inf"), -std::numeric_limits<double>::infinity()}});
    EXPECT_EQ(
        JsonText::serialize(value),
        QByteArray(
            R"({"data":"AAH+/w==","date":"2024-03-05 10:15:00 GMT","nan":null,"inf":null,"-inf":null})"));
    const Value back = parsed(JsonText::serialize(value));
    EXPECT_EQ(Base64::decode(back.value(QStringLiteral("data")).toString()), bytes);
    EXPECT_EQ(DateText::parse(back.value(QStringLiteral("date")).toString()), date.addSecs(-42));
}

TEST(JsonText, RealsKeepTheirTypeAndValueThroughText)
{
    const struct
    {
        double value;
        const char* text;
    } cases[] = {{1.0, "1.0"},
                 {0.1, "0.1"},
                 {-0.0, "-0.0"},
                 {1e300, "1e+300"},
                 {123456789.0, "123456789.0"},
                 {5e-324, "5e-324"},
                 {1.7976931348623157e308, "1.7976931348623157e+308"}};
    for (const auto& c : cases) {
        const QByteArray text = JsonText::serialize(Value(c.value));
        EXPECT_EQ(text, QByteArray(c.text));
        const Value back = parsed(text);
        EXPECT_TRUE(back.isReal()) << text.toStdString();
        EXPECT_EQ(back.toReal(), c.value) << text.toStdString();
        EXPECT_EQ(std::signbit(back.toReal()), std::signbit(c.value)) << text.toStdString();
    }
    EXPECT_EQ(JsonText::serialize(Value(std::numeric_limits<qint64>::min())),
              QByteArray("-9223372036854775808"));
}

TEST(JsonText, StringsAreEscapedAndRoundTrip)
{
    const QString text = QStringLiteral("quote\" backslash\\ slash/ tab\t nl\n cr\r bell\x07 nul") +
                         QChar(u'\0') + QStringLiteral(" del\x7f é 😀 \u2028");
    const QByteArray json = JsonText::serialize(Value(text));
    EXPECT_EQ(
        json,
        QByteArray("\"quote\\\" backslash\\\\ slash/ tab\\t nl\\n cr\\r bell\\u0007 nul\\u0000 del\x7f ") +
            QStringLiteral("é 😀 \u2028\"").toUtf8());
    EXPECT_EQ(parsed(json), Value(text));
    EXPECT_EQ(parsed(R"("\u00e9\ud83d\ude00\/")"), Value(QStringLiteral("é😀/")));
}

TEST(JsonText, PrettyTextIsIndentedAndReadsBackTheSame)
{
    const Value value = parsed(R"({"a":[1,{"b":null}],"e":[],"o":{},"s":"x"})");
    const QByteArray expected = "{\n"
                                "  \"a\": [\n"
                                "    1,\n"
                                "    {\n"
                                "      \"b\": null\n"
                                "    }\n"
                                "  ],\n"
                                "  \"e\": [],\n"
                                "  \"o\": {},\n"
                                "  \"s\": \"x\"\n"
                                "}";
    EXPECT_EQ(JsonText::serializePretty(value), expected);
    EXPECT_EQ(parsed(JsonText::serializePretty(value)), value);
    EXPECT_EQ(JsonText::serializePretty(Value(3)), QByteArray("3"));
}

TEST(JsonText, TopLevelScalarsAndEmptyContainersParse)
{
    EXPECT_EQ(parsed("null"), Value());
    EXPECT_EQ(parsed(" true "), Value(true));
    EXPECT_EQ(parsed("\"s\""), Value(QStringLiteral("s")));
    EXPECT_EQ(parsed("[]"), Value(ValueArray{}));
    EXPECT_EQ(parsed("{}"), Value(ValueDictionary{}));
    EXPECT_EQ(JsonText::serialize(Value(ValueArray{})), QByteArray("[]"));
    EXPECT_EQ(JsonText::serialize(Value(ValueDictionary{})), QByteArray("{}"));
    EXPECT_EQ(JsonText::serialize(Value()), QByteArray("null"));
}
