// The JSON decoder reading while it parses (the TextOptions constructors) must decode every
// text exactly as the decoder over parsed Values does: the same objects, the same failures,
// also where a failure lies in a member no factory reads, and for the old wrapped forms.

#include "model/JSONDecoder.h"
#include "platform/core/JsonText.h"
#include "tests/model/CodingTestClasses.h"

#include <QStringList>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::OtherNode;
using corvex::test::TestNode;

namespace {

// Everything a decoded value shows, as text.
QString describeCoded(const CodedValue& value);

QString describeNode(const CodablePtr& object)
{
    if (const auto node = std::dynamic_pointer_cast<TestNode>(object)) {
        QStringList children;
        for (const auto& child : node->children)
            children << describeNode(child);
        return QStringLiteral("TestNode{name=%1 number=%2 data=%3 date=%4 values=%5 child=%6 children=[%7]}")
            .arg(node->name.isNull() ? QStringLiteral("(null)") : node->name,
                 node->number ? QString::number(*node->number) : QStringLiteral("-"),
                 QString::fromLatin1(node->data.toHex()) +
                     (node->data.isNull() ? QStringLiteral("(null)") : QString()),
                 node->date.toString(Qt::ISODate), QString::fromUtf8(JsonText::serialize(node->values)),
                 node->child ? describeNode(node->child) : QStringLiteral("-"),
                 children.join(QLatin1Char(',')));
    }
    if (const auto other = std::dynamic_pointer_cast<OtherNode>(object))
        return QStringLiteral("OtherNode{%1}").arg(other->label);
    return object ? object->className() : QStringLiteral("null");
}

QString describeCoded(const CodedValue& value)
{
    switch (value.kind()) {
    case CodedValue::Kind::None:
        return QStringLiteral("none");
    case CodedValue::Kind::Plain:
        return QStringLiteral("plain ") + QString::fromUtf8(JsonText::serialize(value.plain()));
    case CodedValue::Kind::Object:
        return describeNode(value.object());
    case CodedValue::Kind::List: {
        QStringList elements;
        for (const CodedValue& element : value.list())
            elements << describeCoded(element);
        return QLatin1Char('[') + elements.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    }
    return QString();
}

// What a decoding gives: the object (or the failure) and the reads at the root.
QString outcome(JSONDecoder& decoder)
{
    if (!decoder.isValid())
        return QStringLiteral("invalid %1").arg(decoder.error().code());
    const CodedValue root = decoder.decodeObject();
    if (decoder.failed())
        return QStringLiteral("failed %1: %2").arg(decoder.error().code()).arg(decoder.errorString());
    return describeCoded(root);
}

const JSONDecoder::Aliases kAliases = {{QStringLiteral("children"), QStringLiteral("TestNode")},
                                       {QStringLiteral("child"), QStringLiteral("TestNode")}};

QString fromValues(const QByteArray& text)
{
    JSONDecoder decoder(text);
    for (const auto& [key, className] : kAliases)
        decoder.addAlias(key, className);
    return outcome(decoder);
}

QString whileReading(const QByteArray& text)
{
    JSONDecoder::TextOptions options;
    options.aliases = kAliases;
    JSONDecoder decoder(text, options);
    return outcome(decoder);
}

class PiecewiseSource final : public JsonSource
{
public:
    PiecewiseSource(QByteArray text, qsizetype piece) : mText(std::move(text)), mPiece(piece) {}
    Result<qsizetype> read(char* buffer, qsizetype capacity) override
    {
        const qsizetype count = std::min({capacity, mPiece, mText.size() - mOffset});
        std::memcpy(buffer, mText.constData() + mOffset, std::size_t(count));
        mOffset += count;
        return count;
    }
    bool rewind() override
    {
        ++rewinds;
        mOffset = 0;
        return true;
    }
    int rewinds = 0;

private:
    QByteArray mText;
    qsizetype mPiece;
    qsizetype mOffset = 0;
};

QString whileReadingPieces(const QByteArray& text, qsizetype piece, int* rewinds = nullptr)
{
    JSONDecoder::TextOptions options;
    options.aliases = kAliases;
    PiecewiseSource source(text, piece);
    JSONDecoder decoder(source, options);
    if (rewinds)
        *rewinds = source.rewinds;
    return outcome(decoder);
}

// A chain of `nodes` TestNodes, each the one before's "child" or, every `keptEvery` nodes,
// its "values" (a key that names no class: those dictionaries name their class with
// "@class", are kept as Values while the text is read and decoded on request).
QByteArray chain(int nodes, int keptEvery = 0)
{
    const auto byValues = [keptEvery](int node) {
        return keptEvery > 0 && node > 1 && node % keptEvery == 0;
    };
    QByteArray text = "{\"testNode\":";
    for (int node = 1; node <= nodes; ++node) {
        text += '{';
        if (byValues(node))
            text += "\"@class\":\"TestNode\",";
        text += "\"name\":\"" + QByteArray::number(node) + '"';
        if (node < nodes)
            text += byValues(node + 1) ? ",\"values\":" : ",\"child\":";
    }
    return text + QByteArray(nodes, '}') + '}';
}

} // namespace

class JSONTextDecodingTest : public ::testing::TestWithParam<const char*>
{
protected:
    void SetUp() override { test::registerTestCodables(); }
};

TEST_P(JSONTextDecodingTest, DecodesAsTheDecoderOverParsedValues)
{
    const QByteArray text(GetParam());
    const QString expected = fromValues(text);
    EXPECT_EQ(whileReading(text).toStdString(), expected.toStdString()) << text.toStdString();
    EXPECT_EQ(whileReadingPieces(text, 3).toStdString(), expected.toStdString()) << text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JSONTextDecodingTest,
    ::testing::Values(
        // Plain objects, wrong types, nulls, repeated keys.
        R"({"testNode":{"name":"root","number":7,"data":"AAH+","date":"2024-03-05 10:15:00 GMT"}})",
        R"({"testNode":{"name":5,"number":"7","data":[1],"date":17,"children":"none","child":3}})",
        R"({"testNode":{"name":null,"children":null,"child":null,"values":null}})",
        R"({"testNode":{"name":"first","name":"last","child":{"name":"a"},"child":{"name":"b"}}})",
        R"({"testNode":{"values":{"x":[1,"a",{"y":null}],"z":true}}})", R"({"testNode":{"values":[]}})",
        R"({"testNode":{"values":["a",1,{"x":1},null,true,[2],2.5]}})", R"({"testNode":null})",
        R"({"testNode":"just text"})", R"({"testNode":5})", R"({"testNode":[{"name":"in a list"}]})",
        R"({"testNode":{}})", R"({})", R"([{"a":1}])", R"("testNode")", R"(null)",
        R"({"unknownThing":{"name":"x"}})", R"({"otherNode":{"label":"first"},"testNode":{}})",
        R"({"object":{"@class":"TestNode","name":"named"}})",
        // Lists of children: objects, malformed elements, nested lists, plain lists.
        R"({"testNode":{"children":[{"name":"a","number":1},{"name":"b","number":2}]}})",
        R"({"testNode":{"children":[{"name":"a","number":1},5,"x",null,[1],{"name":"b","number":2}]}})",
        R"({"testNode":{"children":["x",{"name":"a"},1,true]}})",
        R"({"testNode":{"children":[[{"name":"n","number":3}],[{"name":"m"}]]}})",
        R"({"testNode":{"children":[{}]}})", R"({"testNode":{"children":[]}})",
        R"({"testNode":{"children":[{"name":"a"},{"name":"b"},{"name":"c"}]}})",
        // The old wrapped form, and single elements of one key.
        R"({"testNode":{"children":[{"name":"grandchild"}]}})",
        R"({"testNode":{"children":[{"name":null}]}})", R"({"testNode":{"children":[{"number":5}]}})",
        R"({"testNode":{"children":[{"testNode":[{"name":"a"},{"name":"b"}]}]}})",
        R"({"testNode":{"children":[{"testNode":{"name":"only"}}]}})",
        R"({"testNode":{"children":[{"string":["x","y"]}]}})",
        R"({"testNode":{"children":[{"unknown":{"a":1}}]}})",
        R"({"testNode":{"children":[{"child":{"name":"wrapped"}}]}})",
        R"({"testNode":{"children":[{"child":[{"name":"w1"},{"name":"w2"}]}]}})",
        R"({"testNode":{"children":[[{"testNode":[{"name":"deep"}]}]]}})",
        R"({"testNode":{"values":[{"string":["x","y"]}],"children":[{"":[{"name":"y"}]}]}})",
        R"({"testNode":{"children":[{"name":"a"}],"child":{"children":[{"name":"b"}]}}})",
        // Classes named by "@class", first or last, known or not, read or not.
        R"({"testNode":{"child":{"@class":"OtherNode","label":"other"}}})",
        R"({"testNode":{"child":{"label":"late","@class":"OtherNode"}}})",
        R"({"testNode":{"children":[{"@class":"OtherNode","label":"o"},{"@class":"TestNode","name":"t"}]}})",
        R"({"testNode":{"@class":"OtherNode","label":"x"}})",
        R"({"testNode":{"child":{"@class":"NSTask","launchPath":"/bin/sh"}}})",
        R"({"testNode":{"children":[{"@class":"QProcess","a":1}]}})",
        R"({"testNode":{"child":{"@class":5}}})", R"({"testNode":{"child":{"@class":""}}})",
        R"({"testNode":{"child":{"@class":null}}})", R"({"testNode":{"child":{"@class":{"a":1}}}})",
        R"({"testNode":{"unread":{"@class":"NSTask"},"name":"an unknown class nobody reads"}})",
        R"({"testNode":{"unreadList":[{"@class":"NSTask"}],"name":"also unread"}})",
        R"({"testNode":{"values":{"@class":"TestNode","name":"a class where a plain value is read"}}})",
        R"({"testNode":{"values":{"@class":"NSTask"}}})",
        // Factories that throw: read or not.
        R"({"testNode":{"child":{"@class":"ThrowingNode"}}})",
        R"({"testNode":{"unread":{"child":{"@class":"ThrowingNode"}},"name":"fine"}})",
        R"({"testNode":{"children":[{"name":"a"},{"@class":"ThrowingNode"}]}})",
        // Empty keys, odd keys, the root's own key.
        R"({"testNode":{"":{"name":"x"},"children":[{"":[{"name":"y"}]}]}})",
        R"({"testNode":{"root":{"name":"r"},"object":{"name":"o"},"@class":"TestNode"}})",
        // Texts that do not parse.
        R"({"testNode":)", R"({"testNode":{"name":"\ud800"}})", R"({"testNode":{"number":1e400}})", ""));

TEST(JSONTextDecoding, ClassNestingIsBoundedAlsoAcrossMembersDecodedOnRequest)
{
    test::registerTestCodables();
    for (const int keptEvery : {0, 7}) {
        for (const int nodes : {JSONDecoder::DefaultMaxClassNesting - 1, JSONDecoder::DefaultMaxClassNesting,
                                JSONDecoder::DefaultMaxClassNesting + 1}) {
            const QByteArray text = chain(nodes, keptEvery);
            EXPECT_EQ(whileReading(text), fromValues(text)) << nodes << " nodes, kept every " << keptEvery;
        }
    }
    // The bound itself, in the mode that reads while parsing.
    EXPECT_TRUE(
        whileReading(chain(JSONDecoder::DefaultMaxClassNesting)).startsWith(QStringLiteral("TestNode")));
    EXPECT_TRUE(whileReading(chain(JSONDecoder::DefaultMaxClassNesting + 1))
                    .startsWith(QStringLiteral("failed %1").arg(JSONDecoder::TooDeep)));
    JSONDecoder::TextOptions small;
    small.aliases = kAliases;
    small.maxClassNesting = 3;
    JSONDecoder shallow(chain(4), small);
    EXPECT_TRUE(shallow.decodeObject().isNone());
    EXPECT_EQ(shallow.error().code(), JSONDecoder::TooDeep);
}

TEST(JSONTextDecoding, TheWrappedFormAroundAContainerIsDecodedFromValuesReadAgain)
{
    test::registerTestCodables();
    const QByteArray wrapped = R"({"testNode":{"children":[{"testNode":[{"name":"a"},{"name":"b"}]}]}})";
    int rewinds = 0;
    EXPECT_EQ(whileReadingPieces(wrapped, 5, &rewinds), fromValues(wrapped));
    EXPECT_EQ(rewinds, 1) << "the text is read once more";
    const QByteArray plain = R"({"testNode":{"children":[{"name":"a"},{"name":"b"}]}})";
    EXPECT_EQ(whileReadingPieces(plain, 5, &rewinds), fromValues(plain));
    EXPECT_EQ(rewinds, 0);
}

TEST(JSONTextDecoding, RootReadsWorkAsWithParsedValues)
{
    test::registerTestCodables();
    const QByteArray text = R"({"version":3,"title":"t","items":[{"name":"a"},{"name":"b"}],"nothing":null})";
    JSONDecoder::TextOptions options;
    options.aliases = {{QStringLiteral("items"), QStringLiteral("TestNode")}};
    JSONDecoder decoder(text, options);
    ASSERT_TRUE(decoder.isValid());
    EXPECT_EQ(decoder.decodeInt64ForKey(QStringLiteral("version")), 3);
    EXPECT_EQ(decoder.decodeStringForKey(QStringLiteral("title")),
              std::optional<QString>(QStringLiteral("t")));
    EXPECT_TRUE(decoder.containsValueForKey(QStringLiteral("items")));
    EXPECT_FALSE(decoder.containsValueForKey(QStringLiteral("nothing")));
    const auto items = decoder.decodeArrayOfClass<TestNode>(QStringLiteral("items"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1]->name, QStringLiteral("b"));
    EXPECT_EQ(decoder.decodeIntForKey(QStringLiteral("items")), 0) << "a list is no number";
}

TEST(JSONTextDecoding, LoneSurrogatesReadAsReplacementCharactersWhenAsked)
{
    test::registerTestCodables();
    JSONDecoder::TextOptions options;
    options.replaceLoneSurrogates = true;
    JSONDecoder decoder(QByteArray(R"({"testNode":{"name":"a\ud800b","child":{"name":"\udc00"}}})"), options);
    ASSERT_TRUE(decoder.isValid()) << decoder.errorString().toStdString();
    decoder.addAlias(QStringLiteral("child"), QStringLiteral("TestNode")); // too late: no effect
    const auto root = decoder.decodeObject().objectAs<TestNode>();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->name, QStringLiteral("a\uFFFDb"));
    EXPECT_EQ(root->child, nullptr) << "aliases go into the options of a decoder that reads while parsing";
}
