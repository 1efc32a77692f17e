#include "platform/core/XmlPropertyList.h"

#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDateTime>
#include <cerrno>
#include <cmath>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

Value xmlPlistSample()
{
    ValueDictionary inner{
        {QStringLiteral("list"), Value(ValueArray{Value(1), Value(QStringLiteral("two")), Value(false)})}};
    return Value(ValueDictionary{
        {QStringLiteral("text"), Value(QStringLiteral("a < b & c > d \"q\" 'a'\r\n\ttab"))},
        {QStringLiteral("ключ 🙂"), Value(QStringLiteral("значение"))},
        {QStringLiteral("int"), Value(qint64(-9223372036854775807LL - 1))},
        {QStringLiteral("real"), Value(0.1)},
        {QStringLiteral("whole"), Value(2.0)},
        {QStringLiteral("yes"), Value(true)},
        {QStringLiteral("date"), Value(QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), Qt::UTC))},
        {QStringLiteral("data"), Value(QByteArray("\x00\x01\xFF", 3))},
        {QStringLiteral("empty"), Value(ValueDictionary{})},
        {QStringLiteral("nested"), Value(std::move(inner))},
    });
}

bool xmlPlistFailsWith(const QByteArray& text, int code)
{
    const auto read = XmlPropertyList::read(text);
    return !read.ok() && read.error().domain() == XmlPropertyList::ErrorDomain && read.error().code() == code;
}

} // namespace

TEST(XmlPropertyList, WrittenValuesReadBackEqual)
{
    const auto written = XmlPropertyList::write(xmlPlistSample());
    ASSERT_TRUE(written.ok());
    EXPECT_TRUE(written->startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist"));
    const auto read = XmlPropertyList::read(*written);
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(*read, xmlPlistSample());
    EXPECT_EQ(read->toDictionary().keys(), xmlPlistSample().toDictionary().keys());
}

TEST(XmlPropertyList, ScalarFormsOtherWritersUse)
{
    struct Case
    {
        const char* text;
        Value expected;
    };
    const Case cases[] = {
        {"<plist><integer> 42 </integer></plist>", Value(42)},
        {"<plist><integer>0x1F</integer></plist>", Value(31)},
        {"<plist><integer>18446744073709551615</integer></plist>", Value(18446744073709551615ULL)},
        {"<plist><real>1e-300</real></plist>", Value(1e-300)},
        {"<plist><real>-inf</real></plist>", Value(-INFINITY)},
        {"<plist><true/></plist>", Value(true)},
        {"<plist><string/></plist>", Value(QString())},
        {"<plist><data>\n\tAAH/\n</data></plist>", Value(QByteArray("\x00\x01\xFF", 3))},
        {"<plist><string>&#65;&#x42;&#x1F642;&lt;&amp;&apos;&quot;</string></plist>",
         Value(QStringLiteral("AB🙂<&'\""))},
        {"<plist><string><![CDATA[<raw> & text]]></string></plist>", Value(QStringLiteral("<raw> & text"))},
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- c --><plist "
         "version=\"1.0\"><dict><key/><false/></dict></plist>",
         Value(ValueDictionary{{QString(), Value(false)}})},
    };
    for (const Case& c : cases) {
        const auto read = XmlPropertyList::read(QByteArray(c.text));
        ASSERT_TRUE(read.ok()) << c.text << ": " << read.error().toString().toStdString();
        EXPECT_EQ(*read, c.expected) << c.text;
    }
    const auto nan = XmlPropertyList::read(QByteArray("<plist><real>nan</real></plist>"));
    ASSERT_TRUE(nan.ok());
    EXPECT_TRUE(std::isnan(nan->toReal()));
}

TEST(XmlPropertyList, MalformedAndHostileTextIsRefused)
{
    struct Case
    {
        QByteArray text;
        int code;
    };
    const Case cases[] = {
        {QByteArray(), XmlPropertyList::Malformed},
        {QByteArray("<dict/>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><dict><key>a</key></dict></plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><dict><string>a</string></dict></plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><integer>1.5</integer></plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><date>2024-13-01T00:00:00Z</date></plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><date>2024-01-01T00:00:00</date></plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><data>!!</data></plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><string>a</plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><string>\xC3\x28</string></plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><string>&#0;</string></plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><true/><true/></plist>"), XmlPropertyList::Malformed},
        {QByteArray("<plist><true/></plist>trailing"), XmlPropertyList::Malformed},
        {QByteArray("<plist><string>&e;</string></plist>"), XmlPropertyList::EntityRefused},
        {QByteArray("<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><string>&e;</string></plist>"),
         XmlPropertyList::EntityRefused},
        {QByteArray("<!DOCTYPE plist [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><plist/>"),
         XmlPropertyList::EntityRefused},
        {QByteArray("<plist>") + QByteArray("<array>").repeated(300) + QByteArray("</array>").repeated(300) +
             QByteArray("</plist>"),
         XmlPropertyList::TooDeep},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(xmlPlistFailsWith(c.text, c.code)) << c.text.left(80).toStdString();
    EXPECT_TRUE(
        xmlPlistFailsWith(QByteArray(XmlPropertyList::MaximumBytes + 1, ' '), XmlPropertyList::TooLarge));
}

TEST(XmlPropertyList, EveryPrefixOfAValidListFails)
{
    const QByteArray valid = *XmlPropertyList::write(xmlPlistSample());
    // Only the whole text (and the text without its final line feed) is a property list.
    for (qsizetype length = 0; length < valid.size() - 1; ++length)
        ASSERT_FALSE(XmlPropertyList::read(valid.left(length)).ok()) << length;
}

TEST(XmlPropertyList, WhatXmlCannotCarryIsNotWritten)
{
    EXPECT_FALSE(XmlPropertyList::write(Value()).ok());
    EXPECT_FALSE(XmlPropertyList::write(Value(ValueDictionary{{QStringLiteral("k"), Value()}})).ok());
    EXPECT_FALSE(XmlPropertyList::write(Value(QStringLiteral("bell \x07"))).ok());
    EXPECT_FALSE(XmlPropertyList::write(Value(ValueDictionary{{QStringLiteral("\x01"), Value(1)}})).ok());
    const QChar lone = QChar(0xD800);
    EXPECT_FALSE(XmlPropertyList::write(Value(QString(lone))).ok());
}

TEST(XmlPropertyList, AFailedFileWriteKeepsTheOldFile)
{
    const QString path = test::testDir() + QStringLiteral("/store.plist");
    ASSERT_TRUE(
        XmlPropertyList::writeFile(path, Value(ValueDictionary{{QStringLiteral("a"), Value(1)}})).ok());
    const QByteArray before = test::readFile(path);
    {
        test::FaultShim shim;
        shim.failFrom(test::FaultShim::Op::Fsync, 1, EIO);
        EXPECT_FALSE(
            XmlPropertyList::writeFile(path, Value(ValueDictionary{{QStringLiteral("a"), Value(2)}})).ok());
    }
    EXPECT_EQ(test::readFile(path), before);
    EXPECT_EQ(XmlPropertyList::readFile(path)->value(QStringLiteral("a")).toInteger(), 1);
    EXPECT_FALSE(XmlPropertyList::readFile(test::testDir() + QStringLiteral("/missing.plist")).ok());
}
