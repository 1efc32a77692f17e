#include "model/JSONEncoder.h"
#include "platform/core/JsonText.h"
#include "tests/model/CodingTestClasses.h"
#include "tests/support/LogCapture.h"

#include <QSet>
#include <QTimeZone>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <type_traits>

using namespace corvex;
using corvex::test::TestNode;
using corvex::test::TestNodePtr;

namespace {

// The encoder's text parsed back, so that assertions compare values, not spellings.
Value encodeToValue(const CodablePtr& object, bool wrapped = true)
{
    JSONEncoder encoder;
    const bool ok = wrapped ? encoder.encodeObject(object) : encoder.encodeTopObject(object);
    EXPECT_TRUE(ok) << encoder.errorString().toStdString();
    const auto data = encoder.data();
    if (!data)
        return Value();
    auto parsed = JsonText::parse(*data);
    EXPECT_TRUE(parsed.ok()) << data->toStdString();
    return parsed.ok() ? parsed.value() : Value();
}

QString text(const Value& value)
{
    return QString::fromUtf8(JsonText::serialize(value));
}

} // namespace

TEST(JSONEncoderTopLevel, WrapsTheTopObjectUnderItsCamelCaseClassName)
{
    const Value value = encodeToValue(TestNode::make(QStringLiteral("root")));
    ASSERT_EQ(value.size(), 1) << text(value).toStdString();
    const Value& body = value.value(QStringLiteral("testNode"));
    ASSERT_TRUE(body.isDictionary()) << text(value).toStdString();
    EXPECT_EQ(body.value(QStringLiteral("name")), Value(QStringLiteral("root")));
}

TEST(JSONEncoderTopLevel, EncodeTopObjectWritesNoWrapper)
{
    const Value value = encodeToValue(TestNode::make(QStringLiteral("root")), false);
    EXPECT_EQ(value, Value(ValueDictionary{{QStringLiteral("name"), Value(QStringLiteral("root"))}}))
        << text(value).toStdString();
}

TEST(JSONEncoderTopLevel, NestedObjectsArePlainDictionariesWithoutWrapper)
{
    auto root = TestNode::make(QStringLiteral("root"));
    root->child = TestNode::make(QStringLiteral("single"));
    root->children = {TestNode::make(QStringLiteral("a")), TestNode::make(QStringLiteral("b"))};
    const Value body = encodeToValue(root).value(QStringLiteral("testNode"));
    EXPECT_EQ(body.value(QStringLiteral("child")),
              Value(ValueDictionary{{QStringLiteral("name"), Value(QStringLiteral("single"))}}));
    const Value& children = body.value(QStringLiteral("children"));
    ASSERT_EQ(children.size(), 2) << text(body).toStdString();
    EXPECT_EQ(children.at(0).value(QStringLiteral("name")), Value(QStringLiteral("a")));
    EXPECT_EQ(children.at(1).value(QStringLiteral("name")), Value(QStringLiteral("b")));
}

TEST(JSONEncoderTopLevel, DataIsCompactUtf8AndJsonIsTheSameText)
{
    auto root = TestNode::make(QStringLiteral("Zürich \U0001F600 \"quoted\""));
    JSONEncoder encoder;
    ASSERT_TRUE(encoder.encodeObject(root));
    const auto data = encoder.data();
    const auto json = encoder.json();
    ASSERT_TRUE(data && json);
    EXPECT_EQ(json->toUtf8(), *data);
    EXPECT_FALSE(data->contains('\n')) << "compact text";
    EXPECT_TRUE(data->contains("Zürich")) << "UTF-8, not escaped: " << data->toStdString();
    EXPECT_TRUE(encoder.allowsKeyedCoding());
}

TEST(JSONEncoderTopLevel, NothingToEncodeGivesNoText)
{
    JSONEncoder encoder;
    EXPECT_FALSE(encoder.encodeObject(CodablePtr()));
    EXPECT_EQ(encoder.error().code(), JSONEncoder::NothingToEncode);
    EXPECT_EQ(encoder.data(), std::nullopt);
    EXPECT_EQ(encoder.json(), std::nullopt);
}

TEST(JSONEncoderValues, ScalarsKeepTheirJsonTypes)
{
    auto node = TestNode::make(QStringLiteral("n"));
    node->number = (qint64(1) << 53) + 1;
    node->values = Value(ValueDictionary{{QStringLiteral("flag"), Value(true)},
                                         {QStringLiteral("off"), Value(false)},
                                         {QStringLiteral("real"), Value(2.5)},
                                         {QStringLiteral("int"), Value(-3)}});
    const Value body = encodeToValue(node).value(QStringLiteral("testNode"));
    EXPECT_EQ(body.value(QStringLiteral("number")).type(), Value::Type::Integer);
    EXPECT_EQ(body.value(QStringLiteral("number")).toInteger(), (qint64(1) << 53) + 1)
        << "full 64-bit precision";
    const Value& values = body.value(QStringLiteral("values"));
    EXPECT_EQ(values.value(QStringLiteral("flag")), Value(true));
    EXPECT_EQ(values.value(QStringLiteral("off")), Value(false));
    EXPECT_EQ(values.value(QStringLiteral("real")), Value(2.5));
    EXPECT_EQ(values.value(QStringLiteral("int")), Value(-3));
}

TEST(JSONEncoderValues, DataIsBase64AndEmptyDataIsAnEmptyText)
{
    auto withData = TestNode::make();
    withData->data = QByteArray("\x00\x01\xfe\xff hello", 10);
    EXPECT_EQ(encodeToValue(withData).value(QStringLiteral("testNode")).value(QStringLiteral("data")),
              Value(QStringLiteral("AAH+/yBoZWxsbw==")));

    auto empty = TestNode::make();
    empty->data = QByteArray("", 0);
    ASSERT_FALSE(empty->data.isNull());
    const Value emptyBody = encodeToValue(empty).value(QStringLiteral("testNode"));
    ASSERT_TRUE(emptyBody.toDictionary().contains(QStringLiteral("data"))) << text(emptyBody).toStdString();
    EXPECT_EQ(emptyBody.value(QStringLiteral("data")), Value(QStringLiteral("")));

    auto none = TestNode::make();
    EXPECT_FALSE(
        encodeToValue(none).value(QStringLiteral("testNode")).toDictionary().contains(QStringLiteral("data")))
        << "null data writes nothing";
}

TEST(JSONEncoderValues, DatesAreMinuteTextsInGmtWhateverTheZone)
{
    auto node = TestNode::make();
    // 10:15:42 in a zone two hours east of GMT.
    node->date = QDateTime(QDate(2024, 7, 5), QTime(12, 15, 42), QTimeZone(7200));
    EXPECT_EQ(encodeToValue(node).value(QStringLiteral("testNode")).value(QStringLiteral("date")),
              Value(QStringLiteral("2024-07-05 10:15:00 GMT")));

    auto invalid = TestNode::make();
    invalid->date = QDateTime();
    EXPECT_FALSE(encodeToValue(invalid)
                     .value(QStringLiteral("testNode"))
                     .toDictionary()
                     .contains(QStringLiteral("date")));
}

TEST(JSONEncoderValues, NilValuesEmptyListsAndEmptyArraysLeaveTheKeyOut)
{
    auto node = TestNode::make(); // null name, no children, no child, Null values
    node->values = Value(ValueArray());
    const Value body = encodeToValue(node).value(QStringLiteral("testNode"));
    EXPECT_EQ(body, Value(ValueDictionary())) << text(body).toStdString();
}

TEST(JSONEncoderValues, AnObjectThatWritesNoKeysIsAnEmptyDictionary)
{
    auto node = TestNode::make();
    node->child = TestNode::make();
    const Value body = encodeToValue(node).value(QStringLiteral("testNode"));
    ASSERT_TRUE(body.toDictionary().contains(QStringLiteral("child")));
    EXPECT_EQ(body.value(QStringLiteral("child")), Value(ValueDictionary()));
}

TEST(JSONEncoderValues, ASetOfStringsWritesAnArrayOfThoseStrings)
{
    const QSet<QString> set{QStringLiteral("red"), QStringLiteral("green"), QStringLiteral("blue")};
    ValueArray elements;
    for (const QString& element : set) // the set's enumeration order
        elements.push_back(Value(element));
    auto node = TestNode::make();
    node->values = Value(elements);
    const Value written =
        encodeToValue(node).value(QStringLiteral("testNode")).value(QStringLiteral("values"));
    EXPECT_EQ(written, Value(elements)) << text(written).toStdString();
}

TEST(JSONEncoderValues, ArraysHoldingDataOrDatesTakeTheirFormsAndDropEmptyElements)
{
    auto node = TestNode::make();
    node->values = Value(ValueArray{Value(QByteArray("hi")),
                                    Value(QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC)),
                                    Value(ValueArray()), Value(QStringLiteral("text")), Value(7)});
    const Value written =
        encodeToValue(node).value(QStringLiteral("testNode")).value(QStringLiteral("values"));
    EXPECT_EQ(written, Value(ValueArray{Value(QStringLiteral("aGk=")),
                                        Value(QStringLiteral("2020-01-02 03:04:00 GMT")),
                                        Value(QStringLiteral("text")), Value(7)}))
        << text(written).toStdString();
}

TEST(JSONEncoderValues, ArraysThatAreAlreadyJsonStayAsTheyAre)
{
    auto node = TestNode::make();
    const Value json(ValueArray{Value(), Value(ValueArray()), Value(ValueDictionary()), Value(1)});
    node->values = json;
    EXPECT_EQ(encodeToValue(node).value(QStringLiteral("testNode")).value(QStringLiteral("values")), json);
}

TEST(JSONEncoderValues, NumbersThatAreNotFiniteFailTheWholeEncoding)
{
    for (const double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
        auto node = TestNode::make();
        node->values = Value(ValueArray{Value(1), Value(bad)});
        JSONEncoder encoder;
        EXPECT_FALSE(encoder.encodeObject(node));
        EXPECT_EQ(encoder.error().code(), JSONEncoder::InvalidNumber);
        EXPECT_EQ(encoder.data(), std::nullopt);
        EXPECT_EQ(encoder.json(), std::nullopt);
    }
}

TEST(JSONEncoderCircularReference, AnObjectInsideItselfFailsWithTheNamedException)
{
    auto a = TestNode::make(QStringLiteral("a"));
    auto b = TestNode::make(QStringLiteral("b"));
    a->children = {b};
    b->child = a; // a -> b -> a
    JSONEncoder encoder;
    EXPECT_FALSE(encoder.encodeObject(a));
    EXPECT_EQ(encoder.error().domain(), JSONEncoder::ErrorDomain);
    EXPECT_EQ(encoder.error().code(), JSONEncoder::CircularReference);
    EXPECT_EQ(encoder.error().userInfo().value(JSONEncoder::ExceptionNameKey).toString(),
              QStringLiteral("Circular Reference Not Allowed"));
    const QString reason = encoder.error().userInfo().value(JSONEncoder::ExceptionReasonKey).toString();
    EXPECT_EQ(reason, QStringLiteral("Found circular reference for %1 ").arg(a->codingDescription()));
    EXPECT_TRUE(encoder.errorString().contains(QStringLiteral("Circular Reference Not Allowed")));
    EXPECT_EQ(encoder.data(), std::nullopt) << "the public entry points answer nothing";
    EXPECT_EQ(encoder.json(), std::nullopt);
    EXPECT_TRUE(encoder.finalJSONObject().isNull());
    b->child.reset(); // break the cycle so that the nodes are freed
}

TEST(JSONEncoderCircularReference, AnObjectHoldingItselfIsCaught)
{
    auto a = TestNode::make(QStringLiteral("self"));
    a->child = a;
    JSONEncoder encoder;
    EXPECT_FALSE(encoder.encodeTopObject(a));
    EXPECT_EQ(encoder.error().code(), JSONEncoder::CircularReference);
    a->child.reset();
}

TEST(JSONEncoderCircularReference, IdentityNotEqualityDecides)
{
    // Equal content nested inside itself is no cycle, and one object used twice side by side
    // is written twice.
    auto outer = TestNode::make(QStringLiteral("same"));
    outer->child = TestNode::make(QStringLiteral("same"));
    auto shared = TestNode::make(QStringLiteral("shared"));
    outer->children = {shared, shared};
    const Value body = encodeToValue(outer).value(QStringLiteral("testNode"));
    EXPECT_EQ(body.value(QStringLiteral("child")).value(QStringLiteral("name")),
              Value(QStringLiteral("same")));
    EXPECT_EQ(body.value(QStringLiteral("children")).size(), 2);
}

TEST(JSONEncoderCircularReference, TheEncoderWorksAgainAfterAFailure)
{
    auto a = TestNode::make(QStringLiteral("a"));
    a->child = a;
    JSONEncoder encoder;
    EXPECT_FALSE(encoder.encodeObject(a));
    a->child.reset();
    EXPECT_TRUE(encoder.encodeObject(a));
    EXPECT_FALSE(encoder.failed());
    EXPECT_EQ(encoder.json(), std::optional<QString>(QStringLiteral("{\"testNode\":{\"name\":\"a\"}}")));
}

TEST(JSONEncoderLimits, NestingAClassDeeperThanTheModelMaximumFails)
{
    const auto chain = [](int levels) {
        auto root = TestNode::make(QStringLiteral("1"));
        TestNode* last = root.get();
        for (int level = 2; level <= levels; ++level) {
            last->children = {TestNode::make(QString::number(level))};
            last = last->children.front().get();
        }
        return root;
    };
    JSONEncoder atLimit;
    EXPECT_TRUE(atLimit.encodeObject(chain(JSONEncoder::MaxClassNesting)))
        << atLimit.errorString().toStdString();
    EXPECT_TRUE(atLimit.data().has_value());

    JSONEncoder beyond;
    EXPECT_FALSE(beyond.encodeObject(chain(JSONEncoder::MaxClassNesting + 1)));
    EXPECT_EQ(beyond.error().code(), JSONEncoder::TooDeep) << beyond.errorString().toStdString();
    EXPECT_EQ(beyond.data(), std::nullopt);
}

TEST(JSONEncoderLimits, AnExceptionFromEncodeWithCoderIsCaughtAndReported)
{
    auto root = TestNode::make(QStringLiteral("root"));
    root->child = TestNode::make(QStringLiteral("bad"));
    root->child->throwWhileEncoding = true;
    JSONEncoder encoder;
    EXPECT_FALSE(encoder.encodeObject(root));
    EXPECT_EQ(encoder.error().code(), JSONEncoder::EncodingFailed);
    EXPECT_TRUE(encoder.errorString().contains(QStringLiteral("on purpose")))
        << encoder.errorString().toStdString();
    EXPECT_EQ(encoder.data(), std::nullopt);
}

TEST(JSONEncoderMisuse, KeyedWritesOutsideAnObjectWriteNothingAndLog)
{
    test::LogCapture log;
    JSONEncoder encoder;
    encoder.encodeString(QStringLiteral("x"), QStringLiteral("key"));
    encoder.encodeObject(TestNode::make(), QStringLiteral("key"));
    EXPECT_EQ(log.count(QStringLiteral("a keyed write outside encodeWithCoder")), 2)
        << log.lines().join(u'\n').toStdString();
    EXPECT_EQ(encoder.data(), std::nullopt);
}

TEST(JSONEncoderMisuse, UnkeyedDataObjectsAreNotJsonAndLoggedOnce)
{
    test::LogCapture log;
    JSONEncoder encoder;
    encoder.encodeDataObject(QByteArray("x"));
    encoder.encodeDataObject(QByteArray("y"));
    EXPECT_EQ(log.count(QStringLiteral("no unkeyed data object")), 1);
    static_assert(!std::is_base_of_v<Decoder, JSONEncoder>, "an encoder has no reading half");
}
