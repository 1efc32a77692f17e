#include "model/JSONDecoder.h"
#include "model/Idea.h"
#include "model/JSONEncoder.h"
#include "model/ModelCodables.h"
#include "platform/core/JsonText.h"
#include "tests/model/CodingTestClasses.h"
#include "tests/support/LogCapture.h"

#include <QTimeZone>
#include <gtest/gtest.h>
#include <limits>
#include <type_traits>

using namespace corvex;
using corvex::test::OtherNode;
using corvex::test::TestNode;
using corvex::test::TestNodePtr;

// Outside the anonymous namespace, like the test classes TEST_F derives from it: g++ warns
// about a base with internal linkage when this file shares a unity batch.
class JSONDecoderTest : public ::testing::Test
{
protected:
    void SetUp() override { test::registerTestCodables(); }

    static QByteArray json(const char* text) { return QByteArray(text); }

    // Decodes {"testNode": <body>} and answers the node (nullptr when it is not one).
    static TestNodePtr node(const QByteArray& body)
    {
        JSONDecoder decoder(QByteArray("{\"testNode\":") + body + QByteArray("}"));
        EXPECT_TRUE(decoder.isValid());
        auto result = decoder.decodeObject().objectAs<TestNode>();
        EXPECT_FALSE(decoder.failed()) << decoder.errorString().toStdString();
        return result;
    }
};

// ---- Parsing and the root

TEST_F(JSONDecoderTest, UnparsableBytesLogTheParseErrorAndDecodeNothing)
{
    for (const QByteArray& bad :
         {json("{\"testNode\":"), json("not json"), QByteArray("{\"testNode\":{\"name\":\"\xff\"}}"),
          json("{\"testNode\":{\"name\":\"\\ud800\"}}"), json("{\"testNode\":{\"number\":1e400}}"),
          QByteArray()}) {
        test::LogCapture log;
        JSONDecoder decoder(bad);
        EXPECT_FALSE(decoder.isValid()) << bad.toStdString();
        EXPECT_EQ(decoder.error().code(), JSONDecoder::ParseFailed);
        EXPECT_TRUE(log.contains(QStringLiteral("NSJSONSerialization: Error {")))
            << log.lines().join(u'\n').toStdString();
        EXPECT_TRUE(decoder.decodeObject().isNone());
        EXPECT_FALSE(decoder.containsValueForKey(QStringLiteral("testNode")));
        EXPECT_TRUE(JSONDecoder::decodeWithData(bad).isNone());
    }
}

TEST_F(JSONDecoderTest, TheRootKeyNamesTheClassOfTheDocumentObject)
{
    JSONDecoder decoder(json("{\"testNode\":{\"name\":\"root\"}}"));
    auto root = decoder.decodeObject().objectAs<TestNode>();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, QStringLiteral("root"));
    EXPECT_EQ(
        JSONDecoder::decodeWithData(json("{\"otherNode\":{\"label\":\"x\"}}")).objectAs<OtherNode>()->label,
        QStringLiteral("x"));
}

TEST_F(JSONDecoderTest, WithSeveralRootKeysTheFirstListedCounts)
{
    auto other = JSONDecoder::decodeWithData(json("{\"otherNode\":{\"label\":\"first\"},\"testNode\":{}}"));
    ASSERT_NE(other.objectAs<OtherNode>(), nullptr);
    EXPECT_EQ(other.objectAs<OtherNode>()->label, QStringLiteral("first"));
}

TEST_F(JSONDecoderTest, ARootKeyNamingNoClassYieldsNothing)
{
    for (const char* text : {"{\"unknownThing\":{\"name\":\"x\"}}", "{\"\":{\"name\":\"x\"}}", "{}",
                             "[{\"a\":1}]", "\"testNode\"", "5", "null"}) {
        JSONDecoder decoder{QByteArray(text)};
        ASSERT_TRUE(decoder.isValid()) << text;
        EXPECT_TRUE(decoder.decodeObject().isNone()) << text;
        EXPECT_EQ(decoder.error().code(), JSONDecoder::NoRootObject) << text;
    }
}

TEST_F(JSONDecoderTest, AnAliasChoosesTheClassForItsKey)
{
    JSONDecoder decoder(json("{\"document\":{\"name\":\"aliased\"}}"));
    decoder.addAlias(QStringLiteral("document"), QStringLiteral("TestNode"));
    auto root = decoder.decodeObject().objectAs<TestNode>();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, QStringLiteral("aliased"));
}

TEST_F(JSONDecoderTest, AnAliasToAnUnregisteredClassFallsBackToTheKeyRule)
{
    JSONDecoder decoder(json("{\"testNode\":{\"name\":\"x\"}}"));
    decoder.addAlias(QStringLiteral("testNode"), QStringLiteral("NSTask"));
    EXPECT_NE(decoder.decodeObject().objectAs<TestNode>(), nullptr);
}

// ---- Keyed reads

TEST_F(JSONDecoderTest, DecodeObjectForKeyHandsBackPlainValuesUnchanged)
{
    JSONDecoder decoder(json("{\"s\":\"text\",\"i\":5,\"r\":2.5,\"b\":true,\"n\":null,\"d\":{\"x\":1}}"));
    EXPECT_EQ(decoder.decodeObjectForKey(QStringLiteral("s")).plain(), Value(QStringLiteral("text")));
    EXPECT_EQ(decoder.decodeObjectForKey(QStringLiteral("i")).plain(), Value(5));
    EXPECT_EQ(decoder.decodeObjectForKey(QStringLiteral("r")).plain(), Value(2.5));
    EXPECT_EQ(decoder.decodeObjectForKey(QStringLiteral("b")).plain(), Value(true));
    EXPECT_TRUE(decoder.decodeObjectForKey(QStringLiteral("n")).isNone()) << "null reads as missing";
    EXPECT_TRUE(decoder.decodeObjectForKey(QStringLiteral("missing")).isNone());
    EXPECT_TRUE(decoder.decodeObjectForKey(QStringLiteral("d")).isNone())
        << "a dictionary under a key naming no class";
    EXPECT_FALSE(decoder.failed());
}

TEST_F(JSONDecoderTest, ContainsValueForKeyCountsNullAsMissing)
{
    JSONDecoder decoder(json("{\"a\":0,\"b\":null,\"c\":\"\"}"));
    EXPECT_TRUE(decoder.containsValueForKey(QStringLiteral("a")));
    EXPECT_FALSE(decoder.containsValueForKey(QStringLiteral("b")));
    EXPECT_TRUE(decoder.containsValueForKey(QStringLiteral("c")));
    EXPECT_FALSE(decoder.containsValueForKey(QStringLiteral("d")));
}

TEST_F(JSONDecoderTest, DataIsBase64WithJunkSkippedAndEmptyTextIsEmptyData)
{
    JSONDecoder decoder(
        json("{\"d\":\"AAH+\\r\\n/yBo ZWxsbw==\",\"empty\":\"\",\"number\":5,\"object\":{}}"));
    EXPECT_EQ(decoder.decodeDataForKey(QStringLiteral("d")), QByteArray("\x00\x01\xfe\xff hello", 10));
    const QByteArray empty = decoder.decodeDataForKey(QStringLiteral("empty"));
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.isNull()) << "stored empty data is data";
    EXPECT_TRUE(decoder.decodeDataForKey(QStringLiteral("missing")).isNull());
    EXPECT_TRUE(decoder.decodeDataForKey(QStringLiteral("number")).isNull()) << "a wrong type is missing";
    EXPECT_TRUE(decoder.decodeDataForKey(QStringLiteral("object")).isNull());
}

TEST_F(JSONDecoderTest, DatesReadTheMinuteTextOnly)
{
    JSONDecoder decoder(
        json("{\"ok\":\"2024-03-05 10:15:00 GMT\",\"offset\":\"2024-03-05 12:15:00 GMT+02:00\","
             "\"seconds\":\"2024-03-05 10:15:42 GMT\",\"junk\":\"yesterday\",\"number\":1709633700}"));
    const QDateTime expected(QDate(2024, 3, 5), QTime(10, 15), Qt::UTC);
    EXPECT_EQ(decoder.decodeDateForKey(QStringLiteral("ok")), std::optional<QDateTime>(expected));
    EXPECT_EQ(decoder.decodeDateForKey(QStringLiteral("offset")), std::optional<QDateTime>(expected));
    EXPECT_EQ(decoder.decodeDateForKey(QStringLiteral("seconds")), std::nullopt)
        << "the seconds are a literal 00";
    EXPECT_EQ(decoder.decodeDateForKey(QStringLiteral("junk")), std::nullopt);
    EXPECT_EQ(decoder.decodeDateForKey(QStringLiteral("number")), std::nullopt);
    EXPECT_EQ(decoder.decodeDateForKey(QStringLiteral("missing")), std::nullopt);
}

TEST_F(JSONDecoderTest, NumbersReadTheirValueAndZeroWhenMissingWrongOrOutOfRange)
{
    JSONDecoder decoder(json("{\"int\":-42,\"big\":4611686018427387905,\"min\":-9223372036854775808,"
                             "\"over32\":2147483648,\"real\":4.7,\"negreal\":-4.7,\"huge\":1e300,"
                             "\"beyond64\":18446744073709551615,\"yes\":true,\"text\":\"5\",\"list\":[1]}"));
    EXPECT_EQ(decoder.decodeIntForKey(QStringLiteral("int")), -42);
    EXPECT_EQ(decoder.decodeInt64ForKey(QStringLiteral("int")), -42);
    EXPECT_EQ(decoder.decodeInt64ForKey(QStringLiteral("big")), (qint64(1) << 62) + 1)
        << "the full 64-bit value";
    EXPECT_EQ(decoder.decodeInt64ForKey(QStringLiteral("min")), std::numeric_limits<qint64>::min());
    EXPECT_EQ(decoder.decodeIntForKey(QStringLiteral("big")), 0) << "out of the 32-bit range";
    EXPECT_EQ(decoder.decodeIntForKey(QStringLiteral("over32")), 0);
    EXPECT_EQ(decoder.decodeInt64ForKey(QStringLiteral("over32")), qint64(1) << 31);
    EXPECT_EQ(decoder.decodeIntForKey(QStringLiteral("real")), 4) << "truncated toward zero";
    EXPECT_EQ(decoder.decodeIntForKey(QStringLiteral("negreal")), -4);
    EXPECT_EQ(decoder.decodeIntForKey(QStringLiteral("huge")), 0);
    EXPECT_EQ(decoder.decodeInt64ForKey(QStringLiteral("huge")), 0);
    EXPECT_EQ(decoder.decodeInt64ForKey(QStringLiteral("beyond64")), 0);
    EXPECT_EQ(decoder.decodeFloatForKey(QStringLiteral("huge")), 0.0f) << "beyond a float";
    EXPECT_EQ(decoder.decodeDoubleForKey(QStringLiteral("huge")), 1e300);
    EXPECT_EQ(decoder.decodeFloatForKey(QStringLiteral("real")), 4.7f);
    EXPECT_EQ(decoder.decodeDoubleForKey(QStringLiteral("int")), -42.0);
    EXPECT_EQ(decoder.decodeIntForKey(QStringLiteral("yes")), 1);
    EXPECT_TRUE(decoder.decodeBoolForKey(QStringLiteral("yes")));
    EXPECT_TRUE(decoder.decodeBoolForKey(QStringLiteral("int")));
    for (const char* key : {"text", "list", "missing"}) {
        const QString k = QString::fromLatin1(key);
        EXPECT_EQ(decoder.decodeIntForKey(k), 0) << key;
        EXPECT_EQ(decoder.decodeInt64ForKey(k), 0) << key;
        EXPECT_EQ(decoder.decodeFloatForKey(k), 0.0f) << key;
        EXPECT_EQ(decoder.decodeDoubleForKey(k), 0.0) << key;
        EXPECT_FALSE(decoder.decodeBoolForKey(k)) << key;
    }
}

TEST_F(JSONDecoderTest, WrongTypesInsideAnObjectReadAsMissing)
{
    auto decoded = node(
        json("{\"name\":5,\"number\":\"7\",\"data\":[1],\"date\":17,\"children\":\"none\",\"child\":3}"));
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(decoded->name.isNull());
    EXPECT_EQ(decoded->number, std::optional<qint64>(0)) << "present, but not a number: 0";
    EXPECT_TRUE(decoded->data.isNull());
    EXPECT_FALSE(decoded->date.isValid());
    EXPECT_TRUE(decoded->children.empty());
    EXPECT_EQ(decoded->child, nullptr);
}

TEST_F(JSONDecoderTest, JsonNullWhereAnObjectIsExpectedReadsAsMissing)
{
    auto decoded = node(json("{\"name\":null,\"children\":null,\"child\":null}"));
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(decoded->name.isNull());
    EXPECT_TRUE(decoded->children.empty());
    EXPECT_EQ(decoded->child, nullptr);
    EXPECT_EQ(JSONDecoder::decodeWithData(json("{\"testNode\":null}")).objectAs<TestNode>(), nullptr);
}

// ---- Arrays

TEST_F(JSONDecoderTest, AnEmptyArrayIsAnEmptyList)
{
    JSONDecoder decoder(json("{\"list\":[]}"));
    const CodedValue list = decoder.decodeObjectForKey(QStringLiteral("list"));
    EXPECT_TRUE(list.isList());
    EXPECT_TRUE(list.list().empty());
}

TEST_F(JSONDecoderTest, AnArrayNotStartingWithADictionaryKeepsItsStringsAndNumbers)
{
    JSONDecoder decoder(json("{\"list\":[\"a\",1,{\"x\":1},null,true,[2],2.5]}"));
    EXPECT_EQ(decoder.decodeObjectForKey(QStringLiteral("list")).plain(),
              Value(ValueArray{Value(QStringLiteral("a")), Value(1), Value(true), Value(2.5)}));
}

TEST_F(JSONDecoderTest, WithAnAliasAnArrayOfDictionariesDecodesIntoObjectsWithoutItIntoDictionaries)
{
    const QByteArray text =
        json("{\"testNode\":{\"children\":[{\"name\":\"a\",\"number\":1},{\"name\":\"b\",\"number\":2}]}}");
    {
        JSONDecoder decoder(text);
        decoder.addAlias(QStringLiteral("children"), QStringLiteral("TestNode"));
        auto root = decoder.decodeObject().objectAs<TestNode>();
        ASSERT_NE(root, nullptr);
        ASSERT_EQ(root->children.size(), 2u);
        EXPECT_EQ(root->children[0]->name, QStringLiteral("a"));
        EXPECT_EQ(root->children[1]->number, std::optional<qint64>(2));
    }
    {
        // Without the alias the elements stay plain dictionaries ("children" names no class).
        JSONDecoder plain(
            json("{\"children\":[{\"name\":\"a\",\"number\":1},{\"name\":\"b\",\"number\":2}]}"));
        const CodedValue list = plain.decodeObjectForKey(QStringLiteral("children"));
        ASSERT_TRUE(list.isList());
        ASSERT_EQ(list.list().size(), 2u);
        EXPECT_TRUE(list.list()[0].isPlain());
        EXPECT_EQ(list.list()[0].plain().value(QStringLiteral("name")), Value(QStringLiteral("a")));
    }
}

TEST_F(JSONDecoderTest, TheWrappedFormOfASingleElementIsUnwrapped)
{
    // [{"testNode": [..., ...]}]: the key names a class, so its value is the element list.
    JSONDecoder decoder(json("{\"items\":[{\"testNode\":[{\"name\":\"a\"},{\"name\":\"b\"}]}]}"));
    const auto items = decoder.decodeArrayOfClass<TestNode>(QStringLiteral("items"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->name, QStringLiteral("a"));
    EXPECT_EQ(items[1]->name, QStringLiteral("b"));

    // A wrapped value that is not an array is a list of that one value.
    JSONDecoder single(json("{\"items\":[{\"testNode\":{\"name\":\"only\"}}]}"));
    const auto one = single.decodeArrayOfClass<TestNode>(QStringLiteral("items"));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0]->name, QStringLiteral("only"));

    // "string" wraps plain texts.
    JSONDecoder strings(json("{\"items\":[{\"string\":[\"x\",\"y\"]}]}"));
    const CodedValue texts = strings.decodeObjectForKey(QStringLiteral("items"));
    ASSERT_EQ(texts.list().size(), 2u);
    EXPECT_EQ(texts.list()[1].plain(), Value(QStringLiteral("y")));

    JSONDecoder nothing(json("{\"items\":[{\"testNode\":null}]}"));
    EXPECT_TRUE(nothing.decodeObjectForKey(QStringLiteral("items")).isNone());
}

TEST_F(JSONDecoderTest, ALoneElementWithOneKeyIsTakenForTheWrappedForm)
{
    // The old format's rule, kept for the files that use it: with a known class, a list of one
    // dictionary of one key is that key's value.
    JSONDecoder decoder(json("{\"children\":[{\"name\":\"grandchild\"}]}"));
    decoder.addAlias(QStringLiteral("children"), QStringLiteral("TestNode"));
    const CodedValue children = decoder.decodeObjectForKey(QStringLiteral("children"));
    ASSERT_EQ(children.list().size(), 1u);
    EXPECT_EQ(children.list()[0].plain(), Value(QStringLiteral("grandchild")));
}

TEST_F(JSONDecoderTest, ALongerArrayWhoseFirstElementHasOneKeyKeepsEveryElement)
{
    // The old rule read only the first element's value and dropped the rest.
    JSONDecoder decoder(
        json("{\"children\":[{\"name\":\"a\"},{\"name\":\"b\",\"number\":2},{\"name\":\"c\"}]}"));
    decoder.addAlias(QStringLiteral("children"), QStringLiteral("TestNode"));
    const auto children = decoder.decodeArrayOfClass<TestNode>(QStringLiteral("children"));
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0]->name, QStringLiteral("a"));
    EXPECT_EQ(children[2]->name, QStringLiteral("c"));
}

TEST_F(JSONDecoderTest, MalformedArraysDecodeWhatTheyCanWithoutCrashing)
{
    JSONDecoder decoder(
        json("{\"children\":[{\"name\":\"a\",\"number\":1},5,\"x\",null,[1],{\"name\":\"b\",\"number\":2}],"
             "\"empties\":[{}],\"nested\":[[{\"name\":\"n\",\"number\":3}]]}"));
    decoder.addAlias(QStringLiteral("children"), QStringLiteral("TestNode"));
    decoder.addAlias(QStringLiteral("empties"), QStringLiteral("TestNode"));
    const CodedValue children = decoder.decodeObjectForKey(QStringLiteral("children"));
    ASSERT_TRUE(children.isList());
    // The two dictionaries, the text and the plain array survive; the number and null give
    // nothing.
    ASSERT_EQ(children.list().size(), 4u);
    EXPECT_NE(children.list()[0].objectAs<TestNode>(), nullptr);
    EXPECT_EQ(children.list()[1].plain(), Value(QStringLiteral("x")));
    EXPECT_EQ(children.list()[2].plain(), Value(ValueArray{Value(1)}));
    EXPECT_NE(children.list()[3].objectAs<TestNode>(), nullptr);
    const auto empties = decoder.decodeArrayOfClass<TestNode>(QStringLiteral("empties"));
    ASSERT_EQ(empties.size(), 1u) << "an empty first dictionary is an element like any other";
    EXPECT_TRUE(empties[0]->name.isNull());
    EXPECT_TRUE(decoder.decodeArrayOfClass<TestNode>(QStringLiteral("nested")).empty());
    EXPECT_FALSE(decoder.failed());
}

// ---- Classes

TEST_F(JSONDecoderTest, AnAtClassEntryWinsOverTheClassOfTheKey)
{
    auto root = node(json("{\"child\":{\"@class\":\"OtherNode\",\"label\":\"other\"},"
                          "\"children\":[{\"@class\":\"OtherNode\",\"label\":\"o\"},{\"@class\":\"TestNode\","
                          "\"name\":\"t\"}]}"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->child, nullptr) << "decoded as OtherNode, so no TestNode child";
    ASSERT_EQ(root->children.size(), 1u);
    EXPECT_EQ(root->children[0]->name, QStringLiteral("t"));

    JSONDecoder direct(json("{\"testNode\":{\"@class\":\"OtherNode\",\"label\":\"x\"}}"));
    auto other = direct.decodeObject().objectAs<OtherNode>();
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->label, QStringLiteral("x"));
}

TEST_F(JSONDecoderTest, AnAtClassNamingNoRegisteredClassFailsTheWholeDecoding)
{
    for (const char* body : {"{\"child\":{\"@class\":\"NSTask\",\"launchPath\":\"/bin/sh\"}}",
                             "{\"children\":[{\"@class\":\"QProcess\",\"a\":1}]}",
                             "{\"child\":{\"@class\":5}}", "{\"child\":{\"@class\":\"\"}}"}) {
        JSONDecoder decoder(QByteArray("{\"testNode\":") + body + QByteArray("}"));
        decoder.addAlias(QStringLiteral("children"), QStringLiteral("TestNode"));
        EXPECT_TRUE(decoder.decodeObject().isNone()) << body;
        EXPECT_EQ(decoder.error().code(), JSONDecoder::UnknownClass) << body;
        EXPECT_TRUE(decoder.decodeObjectForKey(QStringLiteral("name")).isNone())
            << "a failed decoder reads nothing";
    }
}

TEST_F(JSONDecoderTest, AClassNestedDeeperThanTheLimitFails)
{
    const auto chain = [](int levels) {
        QByteArray text = "{\"testNode\":";
        for (int level = 1; level < levels; ++level)
            text += "{\"name\":\"" + QByteArray::number(level) + "\",\"child\":";
        text += "{\"name\":\"leaf\"}";
        for (int level = 1; level < levels; ++level)
            text += "}";
        return text + "}";
    };
    JSONDecoder atLimit(chain(JSONDecoder::DefaultMaxClassNesting));
    atLimit.addAlias(QStringLiteral("child"), QStringLiteral("TestNode"));
    auto root = atLimit.decodeObject().objectAs<TestNode>();
    ASSERT_NE(root, nullptr) << atLimit.errorString().toStdString();
    int depth = 0;
    for (const TestNode* n = root.get(); n != nullptr; n = n->child.get())
        ++depth;
    EXPECT_EQ(depth, JSONDecoder::DefaultMaxClassNesting);

    JSONDecoder beyond(chain(JSONDecoder::DefaultMaxClassNesting + 1));
    beyond.addAlias(QStringLiteral("child"), QStringLiteral("TestNode"));
    EXPECT_TRUE(beyond.decodeObject().isNone());
    EXPECT_EQ(beyond.error().code(), JSONDecoder::TooDeep) << beyond.errorString().toStdString();

    JSONDecoder small(chain(4));
    small.addAlias(QStringLiteral("child"), QStringLiteral("TestNode"));
    small.setMaxClassNesting(3);
    EXPECT_TRUE(small.decodeObject().isNone());
    EXPECT_EQ(small.error().code(), JSONDecoder::TooDeep);
}

TEST_F(JSONDecoderTest, ParsedValuesNestedBeyondTheBoundFailInsteadOfRecursing)
{
    // A value built in memory, not parsed: the decoder's own bound holds. Wrapped lists
    // ([{"string": [...]}]) are the one form that recurses without any class.
    Value deep(ValueArray{Value(QStringLiteral("leaf"))});
    for (int level = 0; level < JsonText::DefaultMaxDepth + 10; ++level)
        deep = Value(ValueArray{Value(ValueDictionary{{QStringLiteral("string"), Value(ValueArray{deep})}})});
    JSONDecoder decoder(Value(ValueDictionary{{QStringLiteral("list"), deep}}));
    EXPECT_TRUE(decoder.decodeObjectForKey(QStringLiteral("list")).isNone());
    EXPECT_EQ(decoder.error().code(), JSONDecoder::TooDeep);
}

TEST_F(JSONDecoderTest, AnExceptionFromAFactoryNeverLeavesTheDecoder)
{
    JSONDecoder decoder(json("{\"testNode\":{\"child\":{\"@class\":\"ThrowingNode\"}}}"));
    CodedValue result;
    EXPECT_NO_THROW(result = decoder.decodeObject());
    EXPECT_TRUE(result.isNone());
    EXPECT_EQ(decoder.error().code(), JSONDecoder::DecodingFailed);
    EXPECT_TRUE(decoder.errorString().contains(QStringLiteral("on purpose")));
}

TEST_F(JSONDecoderTest, EmptyKeysNameNoClass)
{
    JSONDecoder decoder(
        json("{\"testNode\":{\"\":{\"name\":\"x\"},\"children\":[{\"\":[{\"name\":\"y\"}]}]}}"));
    auto root = decoder.decodeObject().objectAs<TestNode>();
    ASSERT_NE(root, nullptr) << decoder.errorString().toStdString();
    EXPECT_TRUE(root->children.empty());
    EXPECT_TRUE(decoder.decodeObjectForKey(QString()).isNone());
}

TEST_F(JSONDecoderTest, TheDecoderHasNoWritingHalfAndNoUnkeyedValue)
{
    static_assert(!std::is_base_of_v<Encoder, JSONDecoder>, "a decoder has no writing half");
    JSONDecoder decoder(json("{\"a\":1}"));
    EXPECT_EQ(decoder.decodeIntForKey(QStringLiteral("a")), 1);
    EXPECT_TRUE(decoder.decodeDataObject().isNull());
}

// ---- Both ways

TEST_F(JSONDecoderTest, WhatTheEncoderWritesReadsBack)
{
    auto root = TestNode::make(QStringLiteral("root \u00e9\U0001F600"));
    root->number = std::numeric_limits<qint64>::min();
    root->data = QByteArray("\x00\xff", 2);
    root->date = QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59), QTimeZone(-3600));
    root->values = Value(ValueArray{Value(QStringLiteral("x")), Value(3)});
    root->child = TestNode::make(QStringLiteral("single"));
    for (int i = 0; i < 3; ++i)
        root->children.push_back(TestNode::make(QString::number(i)));
    // Two keys: a lone element with a single key would read as the old wrapped form.
    root->children[1]->children = {TestNode::make(QStringLiteral("grandchild"))};
    root->children[1]->children[0]->number = 1;

    JSONEncoder encoder;
    ASSERT_TRUE(encoder.encodeObject(root));
    JSONDecoder decoder(*encoder.data());
    decoder.addAlias(QStringLiteral("children"), QStringLiteral("TestNode"));
    decoder.addAlias(QStringLiteral("child"), QStringLiteral("TestNode"));
    auto back = decoder.decodeObject().objectAs<TestNode>();
    ASSERT_NE(back, nullptr) << decoder.errorString().toStdString();
    EXPECT_EQ(back->name, root->name);
    EXPECT_EQ(back->number, root->number);
    EXPECT_EQ(back->data, root->data);
    EXPECT_EQ(back->date, QDateTime(QDate(2024, 1, 1), QTime(0, 59), Qt::UTC)) << "to the minute, in GMT";
    EXPECT_EQ(back->values, root->values);
    ASSERT_NE(back->child, nullptr);
    EXPECT_EQ(back->child->name, QStringLiteral("single"));
    ASSERT_EQ(back->children.size(), 3u);
    ASSERT_EQ(back->children[1]->children.size(), 1u);
    EXPECT_EQ(back->children[1]->children[0]->name, QStringLiteral("grandchild"));
    EXPECT_TRUE(back->children[0]->children.empty()) << "an empty child list was left out and reads as none";
}

TEST(JSONDecoderModelClasses, WithTheIdeasAliasIdeaDictionariesBecomeIdeasWithoutItPlainDictionaries)
{
    registerModelCodables();
    const QByteArray text("{\"ideas\":[{\"identifier\":\"a\",\"ideaType\":1,\"text\":\"A\"},"
                          "{\"identifier\":\"b\",\"ideaType\":1,\"text\":\"B\"}]}");
    JSONDecoder aliased(text);
    aliased.addAlias(QStringLiteral("ideas"), QStringLiteral("Idea"));
    const auto ideas = aliased.decodeArrayOfClass<Idea>(QStringLiteral("ideas"));
    ASSERT_EQ(ideas.size(), 2u);
    EXPECT_EQ(ideas[0]->text(), QStringLiteral("A"));
    EXPECT_EQ(ideas[1]->identifier(), QStringLiteral("b"));

    // "ideas" capitalised is "Ideas", which names no class.
    JSONDecoder plain(text);
    const CodedValue list = plain.decodeObjectForKey(QStringLiteral("ideas"));
    ASSERT_EQ(list.list().size(), 2u);
    EXPECT_TRUE(list.list()[0].isPlain());
    EXPECT_EQ(list.list()[0].plain().value(QStringLiteral("text")), Value(QStringLiteral("A")));
    EXPECT_TRUE(plain.decodeArrayOfClass<Idea>(QStringLiteral("ideas")).empty());
}

TEST(JSONDecoderModelClasses, TheKeyIdeaNamesTheIdeaClassWithoutAnAlias)
{
    registerModelCodables();
    auto idea = JSONDecoder::decodeWithData("{\"idea\":{\"identifier\":\"x\",\"ideaType\":1,\"text\":\"T\"}}")
                    .objectAs<Idea>();
    ASSERT_NE(idea, nullptr);
    EXPECT_EQ(idea->text(), QStringLiteral("T"));
}
