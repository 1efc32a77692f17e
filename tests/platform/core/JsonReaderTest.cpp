// JsonText::read, the reader the document payload is decoded with: it must accept exactly
// what JsonText::parse accepts and hand over the same values, from a whole text and from a
// source that gives it in pieces; its options (lone surrogates) and strings that begin with
// U+FEFF.

#include "platform/core/JsonText.h"
#include "tests/platform/core/CoreTestSupport.h"
#include "tests/support/PieceSource.h"

#include <QString>
#include <QStringDecoder>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::PieceSource;

namespace {

Result<Value> readWhole(const QByteArray& text, JsonText::ReadOptions options = {})
{
    JsonValueBuilder builder;
    const Status status = JsonText::read(text, builder, options);
    if (!status.ok())
        return status.error();
    return builder.take();
}

Result<Value> readInPieces(const QByteArray& text, qsizetype piece, JsonText::ReadOptions options = {})
{
    PieceSource source(text, piece);
    JsonValueBuilder builder;
    const Status status = JsonText::read(source, builder, options);
    if (!status.ok())
        return status.error();
    return builder.take();
}

// Texts where a reader could go wrong: every one must read as JsonText::parse reads it, as a
// value or as a failure.
const char* const kEdgeTexts[] = {
    // Scalars and containers
    "0",
    "-0",
    "7",
    "-7",
    "true",
    "false",
    "null",
    "\"\"",
    "[]",
    "{}",
    " [ 1 , 2 ] ",
    "\t\r\n{\"a\" : [ ] }\n",
    "[[[[]]]]",
    "{\"a\":{\"b\":{\"c\":[1,{\"d\":null}]}}}",
    // Numbers
    "9223372036854775807",
    "-9223372036854775808",
    "9223372036854775808",
    "-9223372036854775809",
    "18446744073709551615",
    "18446744073709551616",
    "123456789012345678901234567890",
    "1.5",
    "-0.0",
    "1e2",
    "1E+2",
    "1e-2",
    "2.5e-3",
    "1e308",
    "1.7976931348623157e308",
    "1e309",
    "-1e400",
    "1e-400",
    "4.9e-324",
    "0.1",
    "01",
    "-",
    "+1",
    ".5",
    "1.",
    "1e",
    "1e+",
    "1.e5",
    "--1",
    "0x10",
    "1 2",
    "[1,]",
    "[,1]",
    "NaN",
    "Infinity",
    "-Infinity",
    // Literals
    "tru",
    "truee",
    "nul",
    "nulls",
    "True",
    "[true false]",
    // Strings and escapes
    "\"a\\\"b\\\\c\\/d\\b\\f\\n\\r\\t\"",
    "\"\\u0041\\u00e9\\u4e2d\"",
    "\"\\ud83d\\ude00\"",
    "\"\\uD83D\\uDE00\"",
    "\"\\ud800\"",
    "\"\\udc00\"",
    "\"\\ud800\\u0041\"",
    "\"\\ud800x\"",
    "\"\\ud800\\ud800\"",
    "\"\\u12\"",
    "\"\\u12g4\"",
    "\"\\x\"",
    "\"\\",
    "\"abc",
    "\"a\tb\"",
    "\"a\x01b\"",
    "\"\x7f\"",
    // UTF-8
    "\"\xc3\xa9\"",
    "\"\xe4\xb8\xad\"",
    "\"\xf0\x9f\x98\x80\"",
    "\"\xc0\xaf\"",
    "\"\xc2\"",
    "\"\xe0\x80\xaf\"",
    "\"\xed\xa0\x80\"",
    "\"\xef\xbf\xbf\"",
    "\"\xf4\x8f\xbf\xbf\"",
    "\"\xf4\x90\x80\x80\"",
    "\"\xf5\x80\x80\x80\"",
    "\"\xff\"",
    "\"\x80\"",
    "[\xc3\xa9]",
    // Byte-order marks and what surrounds the value
    "\xef\xbb\xbf{}",
    "\xef\xbb\xbf",
    "\xef\xbb{}",
    "\xef{}",
    " \xef\xbb\xbf{}",
    "",
    "   ",
    "{} {}",
    "{}x",
    "[]]",
    "{\"a\"}",
    "{\"a\":}",
    "{\"a\" 1}",
    "{1:2}",
    "{\"a\":1,}",
    "{\"a\":1 \"b\":2}",
    "[1 2]",
    "\"\\u0000\"",
    // Duplicate keys keep the first place and the last value.
    "{\"k\":1,\"j\":2,\"k\":3}",
};

} // namespace

TEST(JsonReader, AcceptsExactlyWhatParseAcceptsAndReadsTheSameValues)
{
    for (const char* edge : kEdgeTexts) {
        const QByteArray text(edge);
        const auto expected = JsonText::parse(text);
        const auto whole = readWhole(text);
        EXPECT_EQ(whole.ok(), expected.ok())
            << "[" << edge << "] parse: " << expected.error().toString().toStdString()
            << " read: " << whole.error().toString().toStdString();
        if (expected.ok() && whole.ok()) {
            EXPECT_EQ(whole.value(), expected.value()) << edge;
            EXPECT_EQ(whole.value().type(), expected.value().type()) << edge;
        }
        if (!whole.ok()) {
            EXPECT_EQ(whole.error().domain(), JsonText::ErrorDomain) << edge;
            EXPECT_EQ(whole.error().code(), expected.error().code())
                << edge << ": " << whole.error().toString().toStdString();
        }
    }
}

TEST(JsonReader, ASourceInPiecesReadsAsTheWholeText)
{
    // Pieces cut strings, escapes, surrogate pairs, multi-byte characters, numbers and
    // literals at every place.
    const QByteArray text = "\xef\xbb\xbf{\"t\xc3\xa9xt\":\"a\\u00e9\\ud83d\\ude00\xf0\x9f\x98\x80\\n\\\"z\","
                            "\"n\":[12345678901234567890,-1.25e-3,true,false,null,9223372036854775807],"
                            "\"deep\":[[{\"k\":\"\xe4\xb8\xad\"}]],\"long\":\"" +
                            QByteArray(70000, 'x') + "\"}";
    const auto expected = JsonText::parse(text);
    ASSERT_TRUE(expected.ok()) << expected.error().toString().toStdString();
    for (const qsizetype piece : {1, 2, 3, 5, 7, 64, 4096, 1 << 20}) {
        const auto read = readInPieces(text, piece);
        ASSERT_TRUE(read.ok()) << "pieces of " << piece << ": " << read.error().toString().toStdString();
        EXPECT_EQ(read.value(), expected.value()) << "pieces of " << piece;
    }
    for (const char* edge : kEdgeTexts) {
        const QByteArray bad(edge);
        EXPECT_EQ(readInPieces(bad, 1).ok(), JsonText::parse(bad).ok()) << edge;
    }
}

TEST(JsonReader, AFailingSourceIsTheErrorNotTheTextItCutShort)
{
    PieceSource source("{\"a\":[1,2,3,4,5,6,7,8,9]}", 4, 8);
    JsonValueBuilder builder;
    const Status status = JsonText::read(source, builder);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().domain(), QStringLiteral("test.source"));
    EXPECT_EQ(status.error().code(), 7);
}

TEST(JsonReader, NestingBeyondTheBoundFailsAsParseFails)
{
    const QByteArray deep = QByteArray(11, '[') + QByteArray(11, ']');
    JsonText::ReadOptions options;
    options.maxDepth = 10;
    const auto read = readWhole(deep, options);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(read.error().code(), JsonText::TooDeep);
    EXPECT_EQ(JsonText::parse(deep, 10).error().code(), JsonText::TooDeep);
    options.maxDepth = 11;
    EXPECT_TRUE(readWhole(deep, options).ok());
}

TEST(JsonReader, AHandlerThatStopsEndsTheReading)
{
    class StopAtFirstString final : public JsonHandler
    {
    public:
        int events = 0;
        bool null() override { return ++events > 0; }
        bool boolean(bool) override { return ++events > 0; }
        bool integer(qint64) override { return ++events > 0; }
        bool real(double) override { return ++events > 0; }
        bool string(QByteArrayView) override
        {
            ++events;
            return false;
        }
        bool key(QByteArrayView) override { return ++events > 0; }
        bool startObject() override { return ++events > 0; }
        bool endObject() override { return ++events > 0; }
        bool startArray() override { return ++events > 0; }
        bool endArray() override { return ++events > 0; }
    } handler;
    const Status status = JsonText::read(QByteArray("[1,\"stop\",2,3]"), handler);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().code(), JsonText::Stopped);
    EXPECT_EQ(handler.events, 3);
}

TEST(JsonReader, LoneSurrogateEscapesReadAsReplacementCharactersWhenAsked)
{
    JsonText::ReadOptions lenient;
    lenient.replaceLoneSurrogates = true;
    const struct
    {
        const char* text;
        QString expected;
    } cases[] = {
        {"\"a\\ud800b\"", QStringLiteral("a\uFFFDb")},
        {"\"a\\uDBFF\"", QStringLiteral("a\uFFFD")},
        {"\"\\udc00x\"", QStringLiteral("\uFFFDx")},
        {"\"\\ud800\\ud800\\udc00\"", QStringLiteral("\uFFFD\U00010000")},
        {"\"\\ud800\\u0041\"", QStringLiteral("\uFFFDA")},
        {"\"\\ud83d\\ude00\"", QStringLiteral("\U0001F600")},
        // A backslash escaped before "ud800" is a backslash and text.
        {"\"\\\\ud800\"", QStringLiteral("\\ud800")},
    };
    for (const auto& c : cases) {
        const QByteArray text(c.text);
        for (const qsizetype piece : {qsizetype(1), qsizetype(1) << 20}) {
            const auto read = readInPieces(text, piece, lenient);
            ASSERT_TRUE(read.ok()) << c.text << ": " << read.error().toString().toStdString();
            EXPECT_EQ(read.value().toString(), c.expected) << c.text;
        }
        EXPECT_EQ(readWhole(text, lenient).valueOr(Value()).toString(), c.expected) << c.text;
        // Without the option a lone surrogate fails, as parse does.
        EXPECT_EQ(readWhole(text).ok(), JsonText::parse(text).ok()) << c.text;
    }
    EXPECT_FALSE(readWhole("\"\\ud800\"").ok());
}

TEST(JsonReader, TextsThatBeginWithFeffKeepIt)
{
    // QString::fromUtf8 takes a leading EF BB BF for a byte-order mark and drops it; in a
    // JSON string it is a character, written raw or escaped, in values and in keys.
    const QByteArray text =
        "{\"\xef\xbb\xbfkey\":[\"\xef\xbb\xbfraw\",\"\\ufeffescaped\",\"\\uFEFF\\uFEFFtwo\"]}";
    const QString feff(QChar(0xFEFF));
    for (const auto& read : {JsonText::parse(text), readWhole(text), readInPieces(text, 2)}) {
        ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
        const Value& list = read.value().value(feff + QStringLiteral("key"));
        ASSERT_EQ(list.size(), 3) << JsonText::serialize(read.value()).toStdString();
        EXPECT_EQ(list.at(0).toString(), feff + QStringLiteral("raw"));
        EXPECT_EQ(list.at(1).toString(), feff + QStringLiteral("escaped"));
        EXPECT_EQ(list.at(2).toString(), feff + feff + QStringLiteral("two"));
    }
    EXPECT_EQ(JsonText::stringFromUtf8("\xef\xbb\xbf"), feff);
    EXPECT_EQ(JsonText::stringFromUtf8("x\xef\xbb\xbf"), QStringLiteral("x") + feff);
    // What is written reads back the same.
    const Value written(feff + QStringLiteral("title"));
    EXPECT_EQ(JsonText::parse(JsonText::serialize(written)).valueOr(Value()), written);
}

TEST(JsonReader, StringsFromUtf8TakeExactlyTheirLength)
{
    const QString ascii = JsonText::stringFromUtf8("plain ascii");
    EXPECT_EQ(ascii, QStringLiteral("plain ascii"));
    // Short and long texts (beyond a kilobyte), with runs of ASCII longer than sixteen bytes
    // between characters of two, three and four bytes.
    const QString words =
        QStringLiteral("Z\u00fcrich \U0001F600 a run of plain ascii text \u043f\u043b\u0430\u043d "
                       "\u8ba1\u5212 ");
    for (const QString& text : {words, words.repeated(40)}) {
        const QString read = JsonText::stringFromUtf8(text.toUtf8());
        EXPECT_EQ(read, text);
        EXPECT_EQ(read.capacity(), read.size()) << "a tree keeps its texts; no unused room";
    }
}

TEST(JsonReader, StringsFromIllFormedUtf8ReadAsTheDecoderReadsThem)
{
    const QByteArray words = QStringLiteral("a run of plain ascii text \u043f\u043b\u0430\u043d ").toUtf8();
    for (const QByteArray& fault : {QByteArray("\x80"), QByteArray("\xc3"), QByteArray("\xed\xa0\x80")}) {
        for (const QByteArray& utf8 : {words + fault + words, (words + fault).repeated(40)}) {
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
            const QString expected = decoder.decode(utf8);
            EXPECT_EQ(JsonText::stringFromUtf8(utf8), expected) << utf8.toHex().constData();
        }
    }
}

namespace {

// How strings were written before the writer made its UTF-8 itself: QString::toUtf8 (a
// lone surrogate becomes '?'), then the escapes.
QByteArray quotedThroughToUtf8(const QString& text)
{
    QByteArray out("\"");
    for (const char byte : text.toUtf8()) {
        const quint8 c = quint8(byte);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20)
                out += QByteArray("\\u00") + QByteArray::number(c, 16).rightJustified(2, '0');
            else
                out += byte;
        }
    }
    return out + "\"";
}

} // namespace

TEST(JsonWriting, StringsAreWrittenAsThroughToUtf8AndEscaped)
{
    QString lone = QStringLiteral("a");
    lone.append(QChar(0xD800));
    lone.append(QStringLiteral("b"));
    QString lowFirst;
    lowFirst.append(QChar(0xDC00));
    lowFirst.append(QChar(0xD800));
    const QString texts[] = {
        QStringLiteral(""),
        QStringLiteral("plain"),
        QStringLiteral("quote \" backslash \\ slash / controls \b\f\n\r\t \x01 \x1f del \x7f"),
        QStringLiteral("Z\u00fcrich \u4e2d \U0001F600 \uFEFF \uFFFF"),
        lone,
        lowFirst,
        QString(4095, QChar(0x01)) + QStringLiteral("\U0001F600"), // a pair across a block's end
    };
    for (const QString& text : texts) {
        QByteArray appended("prefix");
        JsonText::appendString(appended, text);
        EXPECT_EQ(appended, QByteArray("prefix") + quotedThroughToUtf8(text)) << text.left(40).toStdString();
    }
    // Plain runs are copied eight units at a time: every special unit at every place of
    // such a run, a pair across a run's end, and the widest ASCII and narrowest wide units.
    const QString specials[] = {QStringLiteral("\""),     QStringLiteral("\\"),
                                QStringLiteral("\x1f"),   QStringLiteral("\x7f"),
                                QString(QChar(0x80)),     QStringLiteral("\u00e9"),
                                QStringLiteral("\u4e2d"), QStringLiteral("\U0001F600"),
                                QString(QChar(0xFFFF)),   QString(QChar(0xDC00))};
    for (const QString& special : specials) {
        for (int at = 0; at <= 17; ++at) {
            const QString text = QStringLiteral("abcdefghijklmnopq").insert(at, special);
            QByteArray appended;
            JsonText::appendString(appended, text);
            EXPECT_EQ(appended, quotedThroughToUtf8(text)) << at << " " << special.toStdString();
        }
    }
    QByteArray loneText;
    JsonText::appendString(loneText, lone);
    EXPECT_EQ(loneText, QByteArray("\"a?b\""));
}

TEST(JsonWriting, KeysAreWrittenAsStringsWithTheirSeparators)
{
    QByteArray out("{");
    JsonText::appendKey(out, QStringLiteral("first"), false);
    out += '1';
    JsonText::appendKey(out, QStringLiteral("q\"\u00e9"), true);
    out += '2';
    JsonText::appendKey(out, QString(), true);
    out += "3}";
    EXPECT_EQ(out, QByteArray("{\"first\":1,\"q\\\"\xc3\xa9\":2,\"\":3}"));
    EXPECT_TRUE(JsonText::parse(out).ok());
}
