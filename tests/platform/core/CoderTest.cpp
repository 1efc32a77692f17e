#include "platform/core/Coder.h"

#include <QHash>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;

namespace {

// The two halves of a coder over one in-memory dictionary: enough to drive the base
// classes' helpers.
class DictionaryEncoder : public Encoder
{
public:
    ValueDictionary written;

    void encodeObject(const CodablePtr& object, const QString& key) override
    {
        if (object)
            written.insert(key, Value(object->className()));
    }
    void encodeObjects(const std::vector<CodablePtr>& objects, const QString& key) override
    {
        written.insert(key, Value(qint64(objects.size())));
    }
    void encodeValue(const Value& value, const QString& key) override { written.insert(key, value); }
    void encodeData(const QByteArray& data, const QString& key) override { written.insert(key, Value(data)); }
    void encodeDate(const QDateTime& date, const QString& key) override { written.insert(key, Value(date)); }
    void encodeDataObject(const QByteArray&) override {}
};

class DictionaryDecoder : public Decoder
{
public:
    QHash<QString, CodedValue> toRead;

    bool containsValueForKey(const QString& key) const override { return toRead.contains(key); }
    CodedValue decodeObjectForKey(const QString& key) override { return toRead.value(key); }
    QByteArray decodeDataForKey(const QString&) override { return QByteArray(); }
    std::optional<QDateTime> decodeDateForKey(const QString&) override { return std::nullopt; }
    QByteArray decodeDataObject() override { return QByteArray(); }
    bool decodeBoolForKey(const QString&) override { return false; }
    qint32 decodeIntForKey(const QString&) override { return 0; }
    qint64 decodeInt64ForKey(const QString&) override { return 0; }
    float decodeFloatForKey(const QString&) override { return 0; }
    double decodeDoubleForKey(const QString&) override { return 0; }
};

class Leaf : public Codable
{
public:
    explicit Leaf(QString name = {}) : mName(std::move(name)) {}
    QString className() const override { return QStringLiteral("CoderTestLeaf"); }
    void encodeWithCoder(Encoder& coder) const override { coder.encodeString(mName, QStringLiteral("name")); }
    QString mName;
};

class Other : public Codable
{
public:
    QString className() const override { return QStringLiteral("CoderTestOther"); }
    void encodeWithCoder(Encoder&) const override {}
};

} // namespace

TEST(CodedValue, NullValuesAndNullPointersAreNone)
{
    EXPECT_TRUE(CodedValue().isNone());
    EXPECT_TRUE(CodedValue(Value()).isNone());
    EXPECT_TRUE(CodedValue(CodablePtr()).isNone());
    EXPECT_EQ(CodedValue(std::vector<CodedValue>()).kind(), CodedValue::Kind::List)
        << "an empty list is still a list (a stored empty array)";
}

TEST(CodedValue, AccessorsOfAnotherKindAnswerEmptyValues)
{
    const CodedValue plain(Value(QStringLiteral("text")));
    EXPECT_TRUE(plain.isPlain());
    EXPECT_EQ(plain.plain().toString(), QStringLiteral("text"));
    EXPECT_EQ(plain.object(), nullptr);
    EXPECT_TRUE(plain.list().empty());

    const CodedValue object(std::make_shared<Leaf>(QStringLiteral("a")));
    EXPECT_TRUE(object.isObject());
    EXPECT_TRUE(object.plain().isNull());
    ASSERT_NE(object.objectAs<Leaf>(), nullptr);
    EXPECT_EQ(object.objectAs<Leaf>()->mName, QStringLiteral("a"));
    EXPECT_EQ(object.objectAs<Other>(), nullptr) << "a cast to another class answers nullptr";

    const CodedValue list(std::vector<CodedValue>{plain, object});
    EXPECT_TRUE(list.isList());
    EXPECT_EQ(list.list().size(), 2u);
    EXPECT_EQ(list.object(), nullptr);
}

TEST(CoderHelpers, ScalarWritesGoThroughEncodeValueWithTheirTypes)
{
    DictionaryEncoder coder;
    coder.encodeString(QStringLiteral("x"), QStringLiteral("s"));
    coder.encodeString(QString(), QStringLiteral("null string"));
    coder.encodeString(QStringLiteral(""), QStringLiteral("empty string"));
    coder.encodeBool(true, QStringLiteral("b"));
    coder.encodeInt(-7, QStringLiteral("i"));
    coder.encodeInt64(qint64(1) << 62, QStringLiteral("i64"));
    coder.encodeFloat(0.5f, QStringLiteral("f"));
    coder.encodeDouble(2.25, QStringLiteral("d"));

    EXPECT_EQ(coder.written.value(QStringLiteral("s")), Value(QStringLiteral("x")));
    EXPECT_FALSE(coder.written.contains(QStringLiteral("null string"))) << "a null string writes nothing";
    EXPECT_TRUE(coder.written.contains(QStringLiteral("empty string"))) << "an empty string is a value";
    EXPECT_EQ(coder.written.value(QStringLiteral("b")), Value(true));
    EXPECT_EQ(coder.written.value(QStringLiteral("i")), Value(-7));
    EXPECT_EQ(coder.written.value(QStringLiteral("i64")).toInteger(), qint64(1) << 62);
    EXPECT_EQ(coder.written.value(QStringLiteral("f")), Value(0.5));
    EXPECT_EQ(coder.written.value(QStringLiteral("d")), Value(2.25));
}

TEST(CoderHelpers, ObjectListsAreHandedOverAsCodables)
{
    DictionaryEncoder coder;
    const std::vector<std::shared_ptr<Leaf>> leaves{std::make_shared<Leaf>(), std::make_shared<Leaf>()};
    coder.encodeObjectList(leaves, QStringLiteral("leaves"));
    EXPECT_EQ(coder.written.value(QStringLiteral("leaves")).toInteger(), 2);
}

TEST(CoderHelpers, TypedReadsTreatOtherKindsAsMissing)
{
    DictionaryDecoder coder;
    auto leaf = std::make_shared<Leaf>(QStringLiteral("one"));
    coder.toRead.insert(QStringLiteral("text"), CodedValue(Value(QStringLiteral("hello"))));
    coder.toRead.insert(QStringLiteral("number"), CodedValue(Value(5)));
    coder.toRead.insert(QStringLiteral("leaf"), CodedValue(leaf));
    coder.toRead.insert(QStringLiteral("mixed"),
                        CodedValue(std::vector<CodedValue>{
                            CodedValue(leaf), CodedValue(Value(1)), CodedValue(std::make_shared<Other>()),
                            CodedValue(std::make_shared<Leaf>(QStringLiteral("two")))}));

    EXPECT_EQ(coder.decodeStringForKey(QStringLiteral("text")),
              std::optional<QString>(QStringLiteral("hello")));
    EXPECT_EQ(coder.decodeStringForKey(QStringLiteral("number")), std::nullopt) << "a number is no text";
    EXPECT_EQ(coder.decodeStringForKey(QStringLiteral("leaf")), std::nullopt);
    EXPECT_EQ(coder.decodeStringForKey(QStringLiteral("missing")), std::nullopt);

    EXPECT_EQ(coder.decodeObjectOfClass<Leaf>(QStringLiteral("leaf")), leaf);
    EXPECT_EQ(coder.decodeObjectOfClass<Other>(QStringLiteral("leaf")), nullptr);
    EXPECT_EQ(coder.decodeObjectOfClass<Leaf>(QStringLiteral("text")), nullptr);

    const auto single = coder.decodeArrayOfClass<Leaf>(QStringLiteral("leaf"));
    ASSERT_EQ(single.size(), 1u) << "a single object reads as a list of one";
    const auto mixed = coder.decodeArrayOfClass<Leaf>(QStringLiteral("mixed"));
    ASSERT_EQ(mixed.size(), 2u) << "elements of other kinds are skipped";
    EXPECT_EQ(mixed[0]->mName, QStringLiteral("one"));
    EXPECT_EQ(mixed[1]->mName, QStringLiteral("two"));
    EXPECT_TRUE(coder.decodeArrayOfClass<Leaf>(QStringLiteral("number")).empty());
}

TEST(Codable, DefaultCodingDescriptionNamesTheClassAndTheObject)
{
    const Leaf leaf;
    const QString description = leaf.codingDescription();
    EXPECT_TRUE(description.startsWith(QStringLiteral("<CoderTestLeaf 0x"))) << description.toStdString();
    EXPECT_NE(description, Leaf().codingDescription()) << "two objects are told apart";
}

TEST(CodableRegistry, MakesOnlyRegisteredClassesThroughTheirFactories)
{
    DictionaryDecoder coder;
    coder.toRead.insert(QStringLiteral("name"), CodedValue(Value(QStringLiteral("from coder"))));
    EXPECT_FALSE(CodableRegistry::isRegistered(QStringLiteral("CoderTestLeaf")));
    EXPECT_EQ(CodableRegistry::make(QStringLiteral("CoderTestLeaf"), coder), nullptr);

    CodableRegistry::registerClass(QStringLiteral("CoderTestLeaf"), [](Decoder& c) -> CodablePtr {
        return std::make_shared<Leaf>(c.decodeStringForKey(QStringLiteral("name")).value_or(QString()));
    });
    EXPECT_TRUE(CodableRegistry::isRegistered(QStringLiteral("CoderTestLeaf")));
    EXPECT_FALSE(CodableRegistry::isRegistered(QStringLiteral("coderTestLeaf"))) << "names are exact";
    const auto made =
        std::dynamic_pointer_cast<Leaf>(CodableRegistry::make(QStringLiteral("CoderTestLeaf"), coder));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->mName, QStringLiteral("from coder"));
    EXPECT_TRUE(CodableRegistry::registeredClassNames().contains(QStringLiteral("CoderTestLeaf")));
}

TEST(CodableRegistry, EmptyNamesAndEmptyFactoriesAreNotRegistered)
{
    CodableRegistry::registerClass(QString(),
                                   [](Decoder&) -> CodablePtr { return std::make_shared<Other>(); });
    CodableRegistry::registerClass(QStringLiteral("CoderTestNoFactory"), {});
    EXPECT_FALSE(CodableRegistry::isRegistered(QString()));
    EXPECT_FALSE(CodableRegistry::isRegistered(QStringLiteral("CoderTestNoFactory")));
    DictionaryDecoder coder;
    EXPECT_EQ(CodableRegistry::make(QString(), coder), nullptr);
}

TEST(CodableRegistry, ASecondRegistrationReplacesTheFirst)
{
    DictionaryDecoder coder;
    CodableRegistry::registerClass(QStringLiteral("CoderTestTwice"), [](Decoder&) -> CodablePtr {
        return std::make_shared<Leaf>(QStringLiteral("first"));
    });
    CodableRegistry::registerClass(QStringLiteral("CoderTestTwice"), [](Decoder&) -> CodablePtr {
        return std::make_shared<Leaf>(QStringLiteral("second"));
    });
    const auto made =
        std::dynamic_pointer_cast<Leaf>(CodableRegistry::make(QStringLiteral("CoderTestTwice"), coder));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->mName, QStringLiteral("second"));
}

TEST(CodableRegistry, FactoriesMayMakeNestedObjectsWhileOtherThreadsRegister)
{
    // A factory that makes another object through the registry (as a decoder's nested reads
    // do) must not deadlock, also while registrations happen on other threads.
    CodableRegistry::registerClass(QStringLiteral("CoderTestInner"), [](Decoder&) -> CodablePtr {
        return std::make_shared<Leaf>(QStringLiteral("inner"));
    });
    CodableRegistry::registerClass(QStringLiteral("CoderTestOuter"), [](Decoder& c) -> CodablePtr {
        return CodableRegistry::make(QStringLiteral("CoderTestInner"), c);
    });
    std::atomic<bool> stop{false};
    std::thread registrar([&] {
        int round = 0;
        while (!stop.load()) {
            CodableRegistry::registerClass(QStringLiteral("CoderTestChurn%1").arg(round++ % 50),
                                           [](Decoder&) -> CodablePtr { return std::make_shared<Other>(); });
        }
    });
    std::vector<std::thread> makers;
    std::atomic<int> made{0};
    for (int t = 0; t < 4; ++t) {
        makers.emplace_back([&] {
            DictionaryDecoder coder;
            for (int i = 0; i < 2000; ++i) {
                auto leaf = std::dynamic_pointer_cast<Leaf>(
                    CodableRegistry::make(QStringLiteral("CoderTestOuter"), coder));
                if (leaf && leaf->mName == QStringLiteral("inner"))
                    made.fetch_add(1);
            }
        });
    }
    for (auto& maker : makers)
        maker.join();
    stop.store(true);
    registrar.join();
    EXPECT_EQ(made.load(), 4 * 2000);
}
