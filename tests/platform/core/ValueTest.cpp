#include "platform/core/Value.h"
#include "platform/core/JsonText.h"
#include "tests/platform/core/CoreTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QStringList>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace corvex;

namespace {

QString key(int i)
{
    return QStringLiteral("key%1").arg(i);
}

// A chain of `depth` containers around a string: arrays at even levels counted from the
// string, dictionaries at odd ones.
Value deepValue(int depth)
{
    Value value(QStringLiteral("bottom"));
    for (int level = 0; level < depth; ++level) {
        if (level % 2 == 0)
            value = Value(ValueArray{std::move(value)});
        else
            value = Value(ValueDictionary{{QStringLiteral("child"), std::move(value)}});
    }
    return value;
}

} // namespace

TEST(Value, EachConstructorMakesItsType)
{
    EXPECT_EQ(Value().type(), Value::Type::Null);
    EXPECT_EQ(Value(nullptr).type(), Value::Type::Null);
    EXPECT_EQ(Value(true).type(), Value::Type::Bool);
    EXPECT_EQ(Value(42).type(), Value::Type::Integer);
    EXPECT_EQ(Value(qint64(1) << 40).type(), Value::Type::Integer);
    EXPECT_EQ(Value(7u).type(), Value::Type::Integer);
    EXPECT_EQ(Value(std::numeric_limits<quint64>::max()).type(), Value::Type::Real)
        << "unsigned values beyond qint64 become Real";
    EXPECT_EQ(Value(quint64(std::numeric_limits<qint64>::max())).type(), Value::Type::Integer);
    EXPECT_EQ(Value(1.5).type(), Value::Type::Real);
    EXPECT_EQ(Value(1.5f).type(), Value::Type::Real);
    EXPECT_EQ(Value(QStringLiteral("text")).type(), Value::Type::String);
    EXPECT_EQ(Value(QLatin1String("text")).type(), Value::Type::String);
    EXPECT_EQ(Value(QByteArray("bytes")).type(), Value::Type::Data);
    EXPECT_EQ(Value(QDateTime::currentDateTimeUtc()).type(), Value::Type::Date);
    EXPECT_EQ(Value(ValueArray{}).type(), Value::Type::Array);
    EXPECT_EQ(Value(ValueDictionary{}).type(), Value::Type::Dictionary);
}

TEST(Value, AccessorsOfOtherTypesAnswerEmptyValuesWithoutFailing)
{
    const QDateTime date(QDate(2024, 1, 2), QTime(3, 4), Qt::UTC);
    const std::vector<Value> values = {
        Value(),     Value(QStringLiteral("text")), Value(QByteArray("bytes")),
        Value(date), Value(ValueArray{Value(1)}),   Value(ValueDictionary{{QStringLiteral("a"), 1}})};
    for (const Value& value : values) {
        SCOPED_TRACE(Value::typeName(value.type()).toStdString());
        EXPECT_FALSE(value.toBool());
        EXPECT_TRUE(value.toBool(true)) << "the default comes back";
        EXPECT_EQ(value.toInteger(), 0);
        EXPECT_EQ(value.toInteger(-5), -5);
        EXPECT_EQ(value.toReal(), 0.0);
        EXPECT_EQ(value.toString().isEmpty(), !value.isString());
        EXPECT_EQ(value.toData().isEmpty(), !value.isData());
        EXPECT_EQ(value.toDate().isValid(), value.isDate());
        EXPECT_EQ(value.toArray().empty(), !value.isArray());
        EXPECT_EQ(value.toDictionary().isEmpty(), !value.isDictionary());
        EXPECT_TRUE(value.value(QStringLiteral("missing")).isNull());
        EXPECT_TRUE(value.at(5).isNull());
        EXPECT_TRUE(value.at(-1).isNull());
    }
    EXPECT_EQ(Value(QStringLiteral("text")).toString(), QStringLiteral("text"));
    EXPECT_EQ(Value(date).toDate(), date);
    EXPECT_EQ(Value(QStringLiteral("12")).toInteger(), 0) << "text is not a number";
    Value text(QStringLiteral("text"));
    EXPECT_EQ(text.editArray(), nullptr);
    EXPECT_EQ(text.editDictionary(), nullptr);
}

TEST(Value, NumbersConvertAmongThemselves)
{
    EXPECT_EQ(Value(true).toInteger(), 1);
    EXPECT_EQ(Value(3).toReal(), 3.0);
    EXPECT_TRUE(Value(3).toBool());
    EXPECT_FALSE(Value(0.0).toBool());
    EXPECT_EQ(Value(-2.9).toInteger(), -2);
    EXPECT_EQ(Value(1e30).toInteger(7), 7) << "a Real out of range answers the default";
    EXPECT_EQ(Value(std::nan("")).toInteger(7), 7);
    EXPECT_EQ(Value(-9223372036854775808.0).toInteger(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(Value(9223372036854775808.0).toInteger(7), 7);
}

TEST(Value, DictionaryKeepsInsertionOrderAndReplacesInPlace)
{
    ValueDictionary dictionary;
    dictionary.insert(QStringLiteral("zebra"), 1);
    dictionary.insert(QStringLiteral("apple"), 2);
    dictionary.insert(QStringLiteral("mango"), 3);
    dictionary.insert(QStringLiteral("apple"), QStringLiteral("two"));
    EXPECT_EQ(dictionary.keys(),
              (QStringList{QStringLiteral("zebra"), QStringLiteral("apple"), QStringLiteral("mango")}));
    EXPECT_EQ(dictionary.value(QStringLiteral("apple")), Value(QStringLiteral("two")));
    EXPECT_EQ(dictionary.firstKey(), QStringLiteral("zebra"));
    EXPECT_EQ(dictionary.size(), 3);
    EXPECT_TRUE(dictionary.contains(QStringLiteral("mango")));
    EXPECT_FALSE(dictionary.contains(QStringLiteral("Mango")));
    EXPECT_TRUE(dictionary.value(QStringLiteral("missing")).isNull());

    EXPECT_TRUE(dictionary.remove(QStringLiteral("zebra")));
    EXPECT_FALSE(dictionary.remove(QStringLiteral("zebra")));
    EXPECT_EQ(dictionary.firstKey(), QStringLiteral("apple"));
    EXPECT_EQ(dictionary.take(QStringLiteral("mango")), Value(3));
    EXPECT_EQ(dictionary.keys(), QStringList{QStringLiteral("apple")});

    QStringList iterated;
    const ValueDictionary ordered{
        {QStringLiteral("b"), 1}, {QStringLiteral("a"), 2}, {QStringLiteral("b"), 3}};
    for (const auto& [name, value] : ordered)
        iterated << name + QLatin1Char('=') + QString::number(value.toInteger());
    EXPECT_EQ(iterated, (QStringList{QStringLiteral("b=3"), QStringLiteral("a=2")}))
        << "a repeated key keeps its first position and its last value";
    EXPECT_TRUE(ValueDictionary().firstKey().isEmpty());
}

TEST(Value, LargeDictionariesFindEveryKeyAfterInsertsAndRemovals)
{
    ValueDictionary dictionary;
    for (int i = 0; i < 200; ++i)
        dictionary.insert(key(i), i);
    for (int i = 0; i < 200; i += 3)
        ASSERT_TRUE(dictionary.remove(key(i)));
    dictionary.insert(key(1), QStringLiteral("replaced"));
    dictionary.insert(key(500), 500);
    int expectedPosition = 0;
    for (int i = 0; i < 200; ++i) {
        if (i % 3 == 0) {
            EXPECT_FALSE(dictionary.contains(key(i))) << i;
            continue;
        }
        ASSERT_EQ(dictionary.entryAt(expectedPosition).first, key(i));
        ++expectedPosition;
        if (i != 1) {
            EXPECT_EQ(dictionary.value(key(i)).toInteger(), i);
        }
    }
    EXPECT_EQ(dictionary.value(key(1)).toString(), QStringLiteral("replaced"));
    EXPECT_EQ(dictionary.value(key(500)).toInteger(), 500);
    EXPECT_EQ(dictionary.entryAt(dictionary.size() - 1).first, key(500));
    while (dictionary.size() > 3)
        dictionary.remove(dictionary.firstKey());
    EXPECT_EQ(dictionary.value(key(500)).toInteger(), 500) << "lookups work again below the index threshold";
}

TEST(Value, CopiesShareUntilOneIsEdited)
{
    Value original(ValueDictionary{{QStringLiteral("list"), ValueArray{1, 2, 3}},
                                   {QStringLiteral("name"), QStringLiteral("x")}});
    Value copy = original;
    EXPECT_EQ(&copy.toDictionary(), &original.toDictionary()) << "a copy shares the container";

    ValueDictionary* edited = copy.editDictionary();
    ASSERT_NE(edited, nullptr);
    Value* list = edited->find(QStringLiteral("list"));
    ASSERT_NE(list, nullptr);
    list->editArray()->push_back(4);
    edited->insert(QStringLiteral("name"), QStringLiteral("y"));

    EXPECT_EQ(original.value(QStringLiteral("list")).size(), 3) << "the original keeps its nested array";
    EXPECT_EQ(original.value(QStringLiteral("name")).toString(), QStringLiteral("x"));
    EXPECT_EQ(copy.value(QStringLiteral("list")).size(), 4);
    EXPECT_EQ(copy.value(QStringLiteral("list")).at(3), Value(4));

    Value moved = std::move(copy);
    EXPECT_TRUE(copy.isNull()) << "a moved-from value is null";
    EXPECT_EQ(moved.value(QStringLiteral("name")).toString(), QStringLiteral("y"));
    Value self = moved;
    const Value& alias = self;
    self = alias;
    EXPECT_EQ(self, moved);
}

TEST(Value, EqualityIsDeepTypedAndIgnoresDictionaryOrder)
{
    const Value a(ValueDictionary{{QStringLiteral("x"), 1},
                                  {QStringLiteral("y"), ValueArray{true, 2.5, QStringLiteral("s")}}});
    const Value b(ValueDictionary{{QStringLiteral("y"), ValueArray{true, 2.5, QStringLiteral("s")}},
                                  {QStringLiteral("x"), 1}});
    const Value c(ValueDictionary{{QStringLiteral("x"), 1},
                                  {QStringLiteral("y"), ValueArray{true, 2.5, QStringLiteral("t")}}});
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_NE(Value(1), Value(1.0)) << "Integer and Real differ";
    EXPECT_NE(Value(1), Value(true));
    EXPECT_NE(Value(std::nan("")), Value(std::nan("")));
    EXPECT_EQ(Value(0.0), Value(-0.0));
    EXPECT_NE(Value(ValueArray{1, 2}), Value(ValueArray{2, 1}));
    EXPECT_NE(Value(ValueArray{1}), Value(ValueArray{1, 1}));
    EXPECT_NE(Value(QString()), Value());
    EXPECT_NE(Value(QByteArray("a")), Value(QStringLiteral("a")));
    EXPECT_EQ(Value(QDateTime(QDate(2024, 1, 1), QTime(1, 0), Qt::UTC)),
              Value(QDateTime(QDate(2024, 1, 1), QTime(2, 0), Qt::LocalTime)))
        << "dates compare as instants";
    EXPECT_TRUE(a.toDictionary() == b.toDictionary());
}

TEST(Value, VariantBridgeKeepsTypesButNotDictionaryOrder)
{
    const QDateTime date(QDate(2024, 5, 6), QTime(7, 8), Qt::UTC);
    const Value value(
        ValueDictionary{{QStringLiteral("z"), 1},
                        {QStringLiteral("a"), ValueArray{true, 2.5, QStringLiteral("s"), Value()}},
                        {QStringLiteral("d"), QByteArray("\x01\x02")},
                        {QStringLiteral("t"), date}});
    const QVariant variant = value.toVariant();
    ASSERT_EQ(variant.typeId(), QMetaType::QVariantMap);
    const QVariantMap map = variant.toMap();
    EXPECT_EQ(map.value(QStringLiteral("z")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(map.value(QStringLiteral("d")).toByteArray(), QByteArray("\x01\x02"));
    EXPECT_EQ(map.value(QStringLiteral("t")).toDateTime(), date);
    EXPECT_FALSE(map.value(QStringLiteral("a")).toList().at(3).isValid()) << "null is an invalid QVariant";

    const Value back = Value::fromVariant(variant);
    EXPECT_EQ(back, value);
    EXPECT_EQ(back.toDictionary().keys(), (QStringList{QStringLiteral("a"), QStringLiteral("d"),
                                                       QStringLiteral("t"), QStringLiteral("z")}))
        << "QVariantMap sorts its keys";

    EXPECT_EQ(Value::fromVariant(QVariant(QStringList{QStringLiteral("p"), QStringLiteral("q")})),
              Value(ValueArray{QStringLiteral("p"), QStringLiteral("q")}));
    EXPECT_EQ(Value::fromVariant(QVariant(int(5))), Value(5));
    EXPECT_EQ(Value::fromVariant(QVariant(qulonglong(std::numeric_limits<quint64>::max()))).type(),
              Value::Type::Real);
    EXPECT_EQ(Value::fromVariant(QVariant(float(0.5f))), Value(0.5));
    EXPECT_TRUE(Value::fromVariant(QVariant()).isNull());
    EXPECT_TRUE(Value::fromVariant(QVariant::fromValue(nullptr)).isNull());
    QVariantHash hash;
    hash.insert(QStringLiteral("k2"), 2);
    hash.insert(QStringLiteral("k1"), 1);
    EXPECT_EQ(Value::fromVariant(hash).toDictionary().keys(),
              (QStringList{QStringLiteral("k1"), QStringLiteral("k2")}));
}

TEST(Value, DeepTreesAreComparedWrittenAndDestroyedWithoutRecursion)
{
    // Far deeper than any parse limit: each of these would need tens of megabytes of stack if
    // it recursed.
    const int depth = test::heavyScale(200000, 50000); // even: the outermost is a dictionary
    {
        Value deep = deepValue(depth);
        const Value copy = deep;
        EXPECT_TRUE(deep == copy);
        const Value other = deepValue(depth);
        EXPECT_TRUE(deep == other) << "equal content in separate containers";
        const QByteArray text = JsonText::serialize(deep);
        EXPECT_TRUE(text.startsWith("{\"child\":[{\"child\":[")) << text.left(40).toStdString();
        EXPECT_TRUE(text.endsWith("]}]}")) << text.right(40).toStdString();
        EXPECT_EQ(text.indexOf("[\"bottom\"]}"), qsizetype(depth / 2) * 10 - 1);
        EXPECT_EQ(text.size(), qsizetype(depth / 2) * qsizetype(sizeof("{\"child\":[]}") - 1) + 8);
        deep = Value(); // the copies still hold the tree
        EXPECT_EQ(copy.value(QStringLiteral("child")).toArray().size(), 1u);
    }
    // The 2,500 levels the model may meet, written and read back.
    const Value moderate = deepValue(2500);
    const auto parsed = JsonText::parse(JsonText::serialize(moderate), 2500);
    ASSERT_TRUE(parsed.ok()) << parsed.error().toString().toStdString();
    EXPECT_EQ(*parsed, moderate);
    EXPECT_EQ(JsonText::parse(JsonText::serializePretty(moderate), 2500).valueOr(Value()), moderate);
}
