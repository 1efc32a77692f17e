#include "platform/core/KeyedArchive.h"
#include "platform/core/BinaryPropertyList.h"
#include "platform/core/JsonText.h"
#include "tests/platform/core/CoreTestSupport.h"
#include "tests/support/TestDates.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <optional>

using namespace corvex;

namespace corvex {

static QString describeArchived(const ArchivedValue& value, int depth = 0)
{
    if (depth > 8)
        return QStringLiteral("...");
    switch (value.kind()) {
    case ArchivedValue::Kind::Nil:
        return QStringLiteral("nil");
    case ArchivedValue::Kind::String:
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    case ArchivedValue::Kind::Integer:
        return QString::number(value.toInteger());
    case ArchivedValue::Kind::Real:
        return QString::number(value.toReal(), 'g', 17);
    case ArchivedValue::Kind::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case ArchivedValue::Kind::Data:
        return QStringLiteral("<%1>").arg(QString::fromLatin1(value.toData().left(16).toHex()));
    case ArchivedValue::Kind::Date:
        return value.toDate().toString(Qt::ISODateWithMs);
    case ArchivedValue::Kind::Object: {
        QStringList parts;
        for (const auto& [key, element] : value.object()->values())
            parts.append(key + QStringLiteral(": ") + describeArchived(element, depth + 1));
        return value.object()->className() + QStringLiteral("{") + parts.join(QStringLiteral(", ")) +
               QLatin1Char('}');
    }
    case ArchivedValue::Kind::Array: {
        QStringList parts;
        for (const ArchivedValue& element : value.toArray())
            parts.append(describeArchived(element, depth + 1));
        return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    case ArchivedValue::Kind::Dictionary: {
        QStringList parts;
        for (const auto& [key, element] : value.toDictionary())
            parts.append(key + QStringLiteral(": ") + describeArchived(element, depth + 1));
        return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
    }
    }
    return QString();
}

static void PrintTo(const ArchivedValue& value, std::ostream* os)
{
    *os << describeArchived(value).left(600).toStdString();
}

static void PrintTo(const ArchivedDictionary& value, std::ostream* os)
{
    *os << describeArchived(ArchivedValue(value)).left(600).toStdString();
}

} // namespace corvex

namespace {

QString checkScript()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../../data/gen/check_keyed_archive.py"));
}

using corvex::test::keyedExpectations;
using corvex::test::keyedFixtureDir;
using corvex::test::readFile;
using corvex::test::utc;

using SharedObjects = std::map<QString, std::shared_ptr<ArchivedObject>>;

// The graph a tagged description of expected.json stands for; every use of one "shared" label
// is one object.
ArchivedValue archivedFromTagged(const Value& tagged, SharedObjects& shared)
{
    const QString kind = tagged.at(0).toString();
    const Value& payload = tagged.at(1);
    if (kind == QLatin1String("nil"))
        return ArchivedValue();
    if (kind == QLatin1String("bool"))
        return ArchivedValue(payload.toBool());
    if (kind == QLatin1String("int"))
        return ArchivedValue(payload.toString().toLongLong());
    if (kind == QLatin1String("real"))
        return ArchivedValue(payload.toReal());
    if (kind == QLatin1String("date"))
        return ArchivedValue(PlistValue::dateTimeFromSeconds(payload.toReal()));
    if (kind == QLatin1String("data"))
        return ArchivedValue(QByteArray::fromBase64(payload.toString().toLatin1()));
    if (kind == QLatin1String("string"))
        return ArchivedValue(payload.toString());
    if (kind == QLatin1String("array")) {
        ArchivedArray array;
        for (const Value& element : payload.toArray())
            array.push_back(archivedFromTagged(element, shared));
        return ArchivedValue(std::move(array));
    }
    if (kind == QLatin1String("dict")) {
        ArchivedDictionary dictionary;
        for (const Value& pair : payload.toArray())
            dictionary.insert(pair.at(0).toString(), archivedFromTagged(pair.at(1), shared));
        return ArchivedValue(std::move(dictionary));
    }
    if (kind == QLatin1String("object")) {
        const QString label = payload.value(QStringLiteral("shared")).toString();
        if (!label.isEmpty() && shared.count(label))
            return ArchivedValue(shared[label]);
        QStringList classes;
        for (const Value& name : payload.value(QStringLiteral("classes")).toArray())
            classes.append(name.toString());
        auto object = ArchivedObject::create(payload.value(QStringLiteral("class")).toString(), classes);
        for (const Value& pair : payload.value(QStringLiteral("values")).toArray())
            object->set(pair.at(0).toString(), archivedFromTagged(pair.at(1), shared));
        if (!label.isEmpty())
            shared[label] = object;
        return ArchivedValue(object);
    }
    ADD_FAILURE() << "unknown tagged kind " << kind.toStdString();
    return ArchivedValue();
}

ArchivedTop expectedTop(const QString& name, SharedObjects& shared)
{
    const Value pairs = keyedExpectations().value(QStringLiteral("archives")).value(name);
    EXPECT_TRUE(pairs.isArray()) << name.toStdString();
    ArchivedTop top;
    for (const Value& pair : pairs.toArray())
        top.insert(pair.at(0).toString(), archivedFromTagged(pair.at(1), shared));
    return top;
}

ArchivedTop archiveRoundTrip(const ArchivedTop& top)
{
    const auto written = KeyedArchive::archive(top);
    EXPECT_TRUE(written.ok()) << written.error().toString().toStdString();
    if (!written.ok())
        return ArchivedTop();
    const auto read = KeyedArchive::unarchive(*written);
    EXPECT_TRUE(read.ok()) << read.error().toString().toStdString();
    return read.ok() ? *read : ArchivedTop();
}

::testing::AssertionResult unarchiveFailsWith(const Result<ArchivedTop>& result, const QString& domain,
                                              int code)
{
    if (result.ok())
        return ::testing::AssertionFailure()
               << "read succeeded with " << describeArchived(ArchivedValue(*result)).left(300).toStdString();
    if (result.error().domain() != domain || result.error().code() != code)
        return ::testing::AssertionFailure() << "failed with " << result.error().toString().toStdString()
                                             << ", expected " << domain.toStdString() << " " << code;
    if (result.error().localizedDescription().isEmpty())
        return ::testing::AssertionFailure() << "the error has no text";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult unarchiveFailsWith(const Result<ArchivedTop>& result, KeyedArchive::ErrorCode code)
{
    return unarchiveFailsWith(result, KeyedArchive::ErrorDomain, code);
}

// --- Hand-laid archives (property lists in the layout, or deliberately not) -------------------

PlistValue uid(quint64 value)
{
    return PlistValue::uid(value);
}

PlistValue classDescription(const char* name)
{
    return PlistDictionary{
        {QStringLiteral("$classname"), QLatin1String(name)},
        {QStringLiteral("$classes"), PlistArray{QLatin1String(name), QLatin1String("NSObject")}}};
}

PlistDictionary archiveRoot(PlistDictionary top, PlistArray objects)
{
    return PlistDictionary{{QStringLiteral("$version"), 100000},
                           {QStringLiteral("$archiver"), QLatin1String("NSKeyedArchiver")},
                           {QStringLiteral("$top"), std::move(top)},
                           {QStringLiteral("$objects"), std::move(objects)}};
}

QByteArray bytesOf(const PlistValue& plist)
{
    const auto written = BinaryPropertyList::write(plist);
    EXPECT_TRUE(written.ok());
    return written.ok() ? *written : QByteArray();
}

Result<ArchivedTop> unarchiveRoot(PlistDictionary top, PlistArray objects)
{
    return KeyedArchive::unarchive(bytesOf(archiveRoot(std::move(top), std::move(objects))));
}

// A root with key "root" naming $objects[1].
Result<ArchivedTop> unarchiveObjects(PlistArray objects)
{
    return unarchiveRoot(PlistDictionary{{QStringLiteral("root"), uid(1)}}, std::move(objects));
}

// `depth` NSArrays, each holding the next, under the key "root".
PlistArray arrayChain(int depth)
{
    PlistArray objects{QLatin1String("$null"), classDescription("NSArray")};
    for (int k = 0; k < depth; ++k) {
        const quint64 self = objects.size();
        objects.push_back(PlistDictionary{
            {QStringLiteral("$class"), uid(1)},
            {QStringLiteral("NS.objects"), k + 1 < depth ? PlistArray{uid(self + 1)} : PlistArray{}}});
    }
    return objects;
}

int archivedNestingOf(const ArchivedValue& value)
{
    int depth = 0;
    const ArchivedValue* at = &value;
    while (at->isArray()) {
        ++depth;
        if (at->toArray().empty())
            break;
        at = &at->toArray().front();
    }
    return depth;
}

struct PythonCheck
{
    bool ran = false;
    int exitCode = -1;
    QString output;
};

PythonCheck runPythonCheck(const QByteArray& archive, const QString& name)
{
    PythonCheck check;
    const QString path = test::testDir() + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return check;
    file.write(archive);
    file.close();
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"),
                  {checkScript(), QStringLiteral("--archive"), path, name});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return check;
    check.ran = true;
    check.exitCode = process.exitCode();
    check.output = QString::fromUtf8(process.readAllStandardError());
    return check;
}

ArchivedDictionary everyArchivedPrimitive()
{
    return ArchivedDictionary{
        {QStringLiteral("text"), QStringLiteral("plain")},
        {QStringLiteral("emptyText"), QString()},
        {QStringLiteral("nonAscii"), QStringLiteral("Caf\u00e9 \u65e5\u672c \U0001F600")},
        {QStringLiteral("zero"), 0},
        {QStringLiteral("large"), std::numeric_limits<qint64>::max()},
        {QStringLiteral("negative"), std::numeric_limits<qint64>::min()},
        {QStringLiteral("minusOne"), -1},
        {QStringLiteral("real"), -2.75},
        {QStringLiteral("huge"), 1e300},
        {QStringLiteral("yes"), true},
        {QStringLiteral("no"), false},
        {QStringLiteral("data"), QByteArray("\x00\xff\x10", 3)},
        {QStringLiteral("emptyData"), QByteArray()},
        {QStringLiteral("dateBefore2001"), utc(1969, 7, 20, 20, 17, 40, 125)},
        {QStringLiteral("dateFraction"), utc(2023, 5, 17, 8, 0, 1, 999)},
        {QStringLiteral("reference"), utc(2001, 1, 1, 0, 0, 0)},
        {QStringLiteral("nothing"), ArchivedValue()},
    };
}

} // namespace

// --- Round trips -----------------------------------------------------------------------------

TEST(KeyedArchive, EveryPrimitiveRoundTripsAtTheTopInObjectsArraysAndDictionaries)
{
    const ArchivedDictionary primitives = everyArchivedPrimitive();
    auto object = ArchivedObject::create(QStringLiteral("IdeaProxy"));
    ArchivedArray elements;
    for (const auto& [key, value] : primitives) {
        object->set(key, value);
        elements.push_back(value);
    }
    ArchivedTop top = primitives;
    top.insert(QStringLiteral("object"), object);
    top.insert(QStringLiteral("array"), elements);
    top.insert(QStringLiteral("dictionary"), primitives);

    const ArchivedTop read = archiveRoundTrip(top);
    EXPECT_EQ(read, top);
    EXPECT_EQ(read.keys(), top.keys()) << "top-level keys keep their order";
    ASSERT_TRUE(read.value(QStringLiteral("object")).isObject());
    EXPECT_EQ(read.value(QStringLiteral("object")).object()->keys(), object->keys())
        << "object keys keep their order";
    EXPECT_EQ(read.value(QStringLiteral("dateBefore2001")).toDate(), utc(1969, 7, 20, 20, 17, 40, 125));
    EXPECT_EQ(read.value(QStringLiteral("dateFraction")).toDate().time().msec(), 999);
    EXPECT_EQ(read.value(QStringLiteral("nonAscii")).toString(),
              QStringLiteral("Caf\u00e9 \u65e5\u672c \U0001F600"));
    EXPECT_EQ(read.value(QStringLiteral("array")).toArray().size(), primitives.size())
        << "nil elements are kept";
}

TEST(KeyedArchive, NestedArraysAndDictionariesRoundTrip)
{
    const ArchivedTop top{
        {QStringLiteral("nested"),
         ArchivedArray{ArchivedValue(ArchivedArray{ArchivedValue(ArchivedArray{}), 1, QStringLiteral("x")}),
                       ArchivedValue(ArchivedDictionary{
                           {QStringLiteral("inner"), ArchivedArray{ArchivedValue(ArchivedDictionary{})}}})}},
        {QStringLiteral("fromValue"),
         ArchivedValue(Value(ValueArray{Value(1), Value(QStringLiteral("two")),
                                        Value(ValueDictionary{{QStringLiteral("k"), Value(3.5)}})}))},
    };
    EXPECT_EQ(archiveRoundTrip(top), top);
}

TEST(KeyedArchive, ASharedObjectIsArchivedOnceAndReadBackShared)
{
    auto icon = ArchivedObject::create(QStringLiteral("IconImage"));
    icon->set(QStringLiteral("symbol"), QStringLiteral("\U0001F600"));
    auto first = ArchivedObject::create(QStringLiteral("IdeaProxy"));
    first->set(QStringLiteral("iconImage"), icon);
    auto second = ArchivedObject::create(QStringLiteral("IdeaProxy"));
    second->set(QStringLiteral("iconImage"), icon);
    const ArchivedTop top{{QStringLiteral("proxies"), ArchivedArray{first, second, first}}};

    const auto written = KeyedArchive::archive(top);
    ASSERT_TRUE(written.ok());
    const auto plist = BinaryPropertyList::read(*written);
    ASSERT_TRUE(plist.ok());
    int iconEntries = 0;
    int proxyEntries = 0;
    for (const PlistValue& entry : plist->value(QStringLiteral("$objects")).toArray()) {
        iconEntries += entry.value(QStringLiteral("symbol")).isUid() ? 1 : 0;
        proxyEntries += entry.value(QStringLiteral("iconImage")).isUid() ? 1 : 0;
    }
    EXPECT_EQ(iconEntries, 1);
    EXPECT_EQ(proxyEntries, 2);

    const auto read = KeyedArchive::unarchive(*written);
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    const ArchivedArray& proxies = read->value(QStringLiteral("proxies")).toArray();
    ASSERT_EQ(proxies.size(), 3u);
    EXPECT_EQ(proxies[0].object(), proxies[2].object()) << "one object used twice reads as one object";
    EXPECT_NE(proxies[0].object(), proxies[1].object());
    EXPECT_EQ(proxies[0].object()->value(QStringLiteral("iconImage")).object(),
              proxies[1].object()->value(QStringLiteral("iconImage")).object());
    EXPECT_EQ(ArchivedValue(*read), ArchivedValue(top));
}

TEST(KeyedArchive, SharedContainersAreWrittenOnceAndCountTheirDepthAtEveryUse)
{
    const ArchivedValue shared(ArchivedArray{QStringLiteral("x"), 1});
    const ArchivedTop top{{QStringLiteral("a"), shared},
                          {QStringLiteral("b"), ArchivedArray{shared, shared}}};
    const auto written = KeyedArchive::archive(top);
    ASSERT_TRUE(written.ok());
    const auto plist = BinaryPropertyList::read(*written);
    ASSERT_TRUE(plist.ok());
    int arrays = 0;
    for (const PlistValue& entry : plist->value(QStringLiteral("$objects")).toArray())
        arrays += entry.toDictionary().contains(QStringLiteral("NS.objects")) ? 1 : 0;
    EXPECT_EQ(arrays, 2);
    EXPECT_EQ(archiveRoundTrip(top), top);

    // 300 arrays used at the top, and again under 250 more: 550 levels at the deeper use.
    ArchivedValue chain{ArchivedArray{}};
    for (int i = 1; i < 300; ++i)
        chain = ArchivedValue(ArchivedArray{chain});
    ArchivedValue outer = chain;
    for (int i = 0; i < 250; ++i)
        outer = ArchivedValue(ArchivedArray{outer});
    const ArchivedTop deep{{QStringLiteral("a"), chain}, {QStringLiteral("b"), outer}};
    const auto refused = KeyedArchive::archive(deep);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code(), KeyedArchive::TooDeep);
    const auto written550 = KeyedArchive::archive(deep, 550);
    ASSERT_TRUE(written550.ok()) << written550.error().toString().toStdString();
    EXPECT_TRUE(unarchiveFailsWith(KeyedArchive::unarchive(*written550), KeyedArchive::TooDeep));
    KeyedArchive::Limits limits;
    limits.maxDepth = 550;
    const auto read = KeyedArchive::unarchive(*written550, limits);
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(archivedNestingOf(read->value(QStringLiteral("b"))), 550);
    EXPECT_EQ(*read, deep);
}

TEST(KeyedArchive, TheLayoutIsThePlatformArchivers)
{
    auto proxy = ArchivedObject::create(QStringLiteral("IdeaProxy"));
    proxy->set(QStringLiteral("title"), QStringLiteral("Plans"));
    proxy->set(QStringLiteral("count"), 3);
    proxy->set(QStringLiteral("modified"), utc(2001, 1, 1, 0, 0, 1, 500));
    proxy->set(QStringLiteral("note"), ArchivedValue());
    const ArchivedTop top{{QStringLiteral("fileFormatVersion"), 1},
                          {QStringLiteral("appInstance"), QStringLiteral("Plans")},
                          {QStringLiteral("proxyList"), ArchivedArray{proxy}},
                          {QStringLiteral("attributes"), ArchivedDictionary{{QStringLiteral("k"), true}}}};
    const auto written = KeyedArchive::archive(top);
    ASSERT_TRUE(written.ok());
    const auto read = BinaryPropertyList::read(*written);
    ASSERT_TRUE(read.ok());
    const PlistValue& root = *read;
    EXPECT_EQ(root.value(QStringLiteral("$archiver")), PlistValue(QStringLiteral("NSKeyedArchiver")));
    EXPECT_EQ(root.value(QStringLiteral("$version")), PlistValue(100000));
    const PlistArray& objects = root.value(QStringLiteral("$objects")).toArray();
    ASSERT_FALSE(objects.empty());
    EXPECT_EQ(objects[0], PlistValue(QStringLiteral("$null")));
    auto entry = [&](const PlistValue& ref) -> const PlistValue& {
        EXPECT_TRUE(ref.isUid()) << "expected a UID";
        EXPECT_LT(ref.toUid(), objects.size());
        return ref.toUid() < objects.size() ? objects[ref.toUid()] : PlistValue::null();
    };
    auto className = [&](const PlistValue& object) {
        return entry(object.value(QStringLiteral("$class"))).value(QStringLiteral("$classname")).toString();
    };

    const PlistValue& topEntries = root.value(QStringLiteral("$top"));
    EXPECT_EQ(topEntries.value(QStringLiteral("fileFormatVersion")), PlistValue(1)) << "numbers are inline";
    const PlistValue& appInstance = topEntries.value(QStringLiteral("appInstance"));
    EXPECT_EQ(entry(appInstance), PlistValue(QStringLiteral("Plans")));

    const PlistValue& list = entry(topEntries.value(QStringLiteral("proxyList")));
    EXPECT_EQ(className(list), QStringLiteral("NSArray"));
    const PlistValue& proxyEntry = entry(list.value(QStringLiteral("NS.objects")).at(0));
    EXPECT_EQ(className(proxyEntry), QStringLiteral("IdeaProxy"));
    EXPECT_EQ(entry(proxyEntry.value(QStringLiteral("$class"))).value(QStringLiteral("$classes")),
              PlistValue(PlistArray{QStringLiteral("IdeaProxy"), QStringLiteral("NSObject")}));
    EXPECT_EQ(proxyEntry.value(QStringLiteral("title")), appInstance) << "equal strings are one entry";
    EXPECT_EQ(proxyEntry.value(QStringLiteral("count")), PlistValue(3));
    EXPECT_EQ(proxyEntry.value(QStringLiteral("note")), uid(0)) << "nil refers to $null";
    const PlistValue& date = entry(proxyEntry.value(QStringLiteral("modified")));
    EXPECT_EQ(className(date), QStringLiteral("NSDate"));
    EXPECT_EQ(date.value(QStringLiteral("NS.time")), PlistValue(1.5));

    const PlistValue& attributes = entry(topEntries.value(QStringLiteral("attributes")));
    EXPECT_EQ(className(attributes), QStringLiteral("NSDictionary"));
    EXPECT_EQ(entry(attributes.value(QStringLiteral("NS.keys")).at(0)), PlistValue(QStringLiteral("k")));
    EXPECT_EQ(entry(attributes.value(QStringLiteral("NS.objects")).at(0)), PlistValue(true));
}

TEST(KeyedArchive, ObjectsOfAnyClassKeepTheirNameAndHierarchyAsText)
{
    auto object = ArchivedObject::create(QStringLiteral("NSURL"),
                                         {QStringLiteral("NSURL"), QStringLiteral("NSObject")});
    object->set(QStringLiteral("NS.relative"), QStringLiteral("file:///etc/passwd"));
    auto custom = ArchivedObject::create(
        QStringLiteral("DerivedThing"),
        {QStringLiteral("DerivedThing"), QStringLiteral("BaseThing"), QStringLiteral("NSObject")});
    custom->set(QStringLiteral("$0"), QByteArray("unkeyed"));
    const ArchivedTop read =
        archiveRoundTrip({{QStringLiteral("url"), object}, {QStringLiteral("custom"), custom}});
    const auto& url = read.value(QStringLiteral("url")).object();
    ASSERT_TRUE(url);
    EXPECT_EQ(url->className(), QStringLiteral("NSURL"));
    EXPECT_EQ(url->value(QStringLiteral("NS.relative")).toString(), QStringLiteral("file:///etc/passwd"));
    const auto& derived = read.value(QStringLiteral("custom")).object();
    ASSERT_TRUE(derived);
    EXPECT_EQ(derived->classes(), (QStringList{QStringLiteral("DerivedThing"), QStringLiteral("BaseThing"),
                                               QStringLiteral("NSObject")}));
    EXPECT_EQ(derived->value(QStringLiteral("$0")).toData(), QByteArray("unkeyed"));
}

TEST(KeyedArchive, CyclesAreRefusedWhenWriting)
{
    auto a = ArchivedObject::create(QStringLiteral("Idea"));
    auto b = ArchivedObject::create(QStringLiteral("Idea"));
    a->set(QStringLiteral("child"), ArchivedArray{b});
    b->set(QStringLiteral("parent"), a);
    const auto written = KeyedArchive::archive({{QStringLiteral("root"), a}});
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().domain(), KeyedArchive::ErrorDomain);
    EXPECT_EQ(written.error().code(), KeyedArchive::CircularReference);
    EXPECT_TRUE(written.error().localizedDescription().contains(QStringLiteral("Idea")));

    auto self = ArchivedObject::create(QStringLiteral("Idea"));
    self->set(QStringLiteral("me"), self);
    const auto selfWritten = KeyedArchive::archive({{QStringLiteral("root"), self}});
    ASSERT_FALSE(selfWritten.ok());
    EXPECT_EQ(selfWritten.error().code(), KeyedArchive::CircularReference);

    // Break the cycles so the objects are freed.
    b->set(QStringLiteral("parent"), ArchivedValue());
    self->set(QStringLiteral("me"), ArchivedValue());
}

TEST(KeyedArchive, WritingRefusesBadObjectsAndNestingBeyondTheBound)
{
    const auto unnamed = KeyedArchive::archive({{QStringLiteral("x"), ArchivedObject::create(QString())}});
    ASSERT_FALSE(unnamed.ok());
    EXPECT_EQ(unnamed.error().code(), KeyedArchive::InvalidValue);
    auto reserved = ArchivedObject::create(QStringLiteral("Idea"));
    reserved->set(QStringLiteral("$class"), 1);
    const auto reservedWritten = KeyedArchive::archive({{QStringLiteral("x"), reserved}});
    ASSERT_FALSE(reservedWritten.ok());
    EXPECT_EQ(reservedWritten.error().code(), KeyedArchive::InvalidValue);

    ArchivedValue value(QStringLiteral("bottom"));
    for (int i = 0; i < 30; ++i)
        value = ArchivedValue(ArchivedArray{value});
    EXPECT_TRUE(KeyedArchive::archive({{QStringLiteral("x"), value}}, 30).ok());
    const auto deep = KeyedArchive::archive({{QStringLiteral("x"), value}}, 29);
    ASSERT_FALSE(deep.ok());
    EXPECT_EQ(deep.error().code(), KeyedArchive::TooDeep);
}

// --- Fixtures -----------------------------------------------------------------------------------

TEST(KeyedArchiveFixtures, TheIndexArchiveReadsAsExpectedWithItsSharedObject)
{
    SharedObjects shared;
    const ArchivedTop expected = expectedTop(QStringLiteral("index.archive"), shared);
    const auto read = KeyedArchive::unarchive(readFile(keyedFixtureDir() + QStringLiteral("/index.archive")));
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(*read, expected);

    const ArchivedArray& proxies = read->value(QStringLiteral("proxyList")).toArray();
    ASSERT_EQ(proxies.size(), 2u);
    const auto& icon = proxies[0].object()->value(QStringLiteral("iconImage")).object();
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon, proxies[1].object()->value(QStringLiteral("iconImage")).object());
    EXPECT_EQ(proxies[1].object()->value(QStringLiteral("modified")).toDate(),
              utc(2000, 12, 31, 0, 0, 0).addMSecs(-250));
    const auto& image = proxies[0].object()->value(QStringLiteral("image")).object();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->className(), QStringLiteral("PortableImage"));
    EXPECT_EQ(image->keys(), QStringList{QStringLiteral("$0")});
    EXPECT_TRUE(image->value(QStringLiteral("$0")).toData().startsWith("\x89PNG"));
}

TEST(KeyedArchiveFixtures, TheOtherClassFormsReadAsTheirPrimitiveKinds)
{
    SharedObjects shared;
    const ArchivedTop expected = expectedTop(QStringLiteral("forms.archive"), shared);
    const auto read = KeyedArchive::unarchive(readFile(keyedFixtureDir() + QStringLiteral("/forms.archive")));
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(*read, expected);
    EXPECT_TRUE(read->value(QStringLiteral("null")).isNil()) << "NSNull reads as nil";
    EXPECT_EQ(read->value(QStringLiteral("mutableText")).kind(), ArchivedValue::Kind::String);
    EXPECT_EQ(read->value(QStringLiteral("set")).kind(), ArchivedValue::Kind::Array);
}

TEST(KeyedArchiveFixtures, OurArchivesLoadInPlistlibAsExpected)
{
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        GTEST_SKIP() << "no /usr/bin/python3";
    for (const QString& name : {QStringLiteral("index.archive"), QStringLiteral("forms.archive")}) {
        SharedObjects shared;
        const auto written = KeyedArchive::archive(expectedTop(name, shared));
        ASSERT_TRUE(written.ok()) << written.error().toString().toStdString();
        const PythonCheck check = runPythonCheck(*written, name);
        ASSERT_TRUE(check.ran) << name.toStdString();
        EXPECT_EQ(check.exitCode, 0) << name.toStdString() << ": " << check.output.toStdString();
    }
}

TEST(KeyedArchiveFixtures, ThePlistlibCheckNoticesACopiedSharedObject)
{
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        GTEST_SKIP() << "no /usr/bin/python3";
    // The same graph with the icon copied instead of shared: equal values, wrong layout.
    SharedObjects shared;
    ArchivedTop top = expectedTop(QStringLiteral("index.archive"), shared);
    ArchivedArray proxies = top.value(QStringLiteral("proxyList")).toArray();
    auto second = std::make_shared<ArchivedObject>(*proxies[1].object());
    second->set(QStringLiteral("iconImage"),
                std::make_shared<ArchivedObject>(*second->value(QStringLiteral("iconImage")).object()));
    proxies[1] = second;
    top.insert(QStringLiteral("proxyList"), proxies);
    const auto written = KeyedArchive::archive(top);
    ASSERT_TRUE(written.ok());
    const PythonCheck check = runPythonCheck(*written, QStringLiteral("index.archive"));
    ASSERT_TRUE(check.ran);
    EXPECT_EQ(check.exitCode, 1) << check.output.toStdString();
    EXPECT_TRUE(check.output.contains(QStringLiteral("stored twice"))) << check.output.toStdString();
}

// --- Not a keyed archive --------------------------------------------------------------------------

TEST(KeyedArchiveMalformed, BytesThatAreNoPropertyListFailWithThePropertyListError)
{
    EXPECT_TRUE(unarchiveFailsWith(KeyedArchive::unarchive(QByteArray()), BinaryPropertyList::ErrorDomain,
                                   BinaryPropertyList::NotBinaryPropertyList));
    EXPECT_TRUE(
        unarchiveFailsWith(KeyedArchive::unarchive(QByteArray("{\"$archiver\": \"NSKeyedArchiver\"}")),
                           BinaryPropertyList::ErrorDomain, BinaryPropertyList::NotBinaryPropertyList));
    const QByteArray valid = readFile(keyedFixtureDir() + QStringLiteral("/index.archive"));
    ASSERT_FALSE(valid.isEmpty());
    const auto truncated = KeyedArchive::unarchive(valid.left(valid.size() - 5));
    ASSERT_FALSE(truncated.ok());
    EXPECT_EQ(truncated.error().domain(), BinaryPropertyList::ErrorDomain);
}

TEST(KeyedArchiveMalformed, PropertyListsWithoutTheLayoutAreNoKeyedArchive)
{
    const PlistDictionary base = archiveRoot(PlistDictionary{{QStringLiteral("x"), uid(1)}},
                                             PlistArray{QLatin1String("$null"), QLatin1String("text")});
    ASSERT_TRUE(KeyedArchive::unarchive(bytesOf(base)).ok());
    auto changed = [&](const QString& key, std::optional<PlistValue> value) {
        PlistDictionary root;
        for (const auto& [k, v] : base) {
            if (k != key)
                root.insert(k, v);
            else if (value)
                root.insert(k, *value);
        }
        return KeyedArchive::unarchive(bytesOf(root));
    };
    EXPECT_TRUE(unarchiveFailsWith(changed(QStringLiteral("$archiver"), std::nullopt),
                                   KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(
        unarchiveFailsWith(changed(QStringLiteral("$archiver"), PlistValue(QStringLiteral("OtherArchiver"))),
                           KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(unarchiveFailsWith(changed(QStringLiteral("$archiver"), PlistValue(7)),
                                   KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(
        unarchiveFailsWith(changed(QStringLiteral("$version"), std::nullopt), KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(unarchiveFailsWith(changed(QStringLiteral("$version"), PlistValue(QStringLiteral("100000"))),
                                   KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(unarchiveFailsWith(changed(QStringLiteral("$version"), PlistValue(100000.0)),
                                   KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(unarchiveFailsWith(changed(QStringLiteral("$version"), PlistValue(99)),
                                   KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(
        unarchiveFailsWith(changed(QStringLiteral("$top"), std::nullopt), KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(unarchiveFailsWith(changed(QStringLiteral("$top"), PlistValue(PlistArray{uid(1)})),
                                   KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(
        unarchiveFailsWith(changed(QStringLiteral("$objects"), std::nullopt), KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(
        unarchiveFailsWith(changed(QStringLiteral("$objects"), PlistValue(PlistArray{QLatin1String("text")})),
                           KeyedArchive::NotKeyedArchive));
    EXPECT_TRUE(unarchiveFailsWith(KeyedArchive::unarchive(bytesOf(PlistArray{QLatin1String("$null")})),
                                   KeyedArchive::NotKeyedArchive));
}

// --- Broken archives ------------------------------------------------------------------------------

TEST(KeyedArchiveMalformed, UidsOutOfRangeAreRefused)
{
    EXPECT_TRUE(unarchiveFailsWith(unarchiveRoot(PlistDictionary{{QStringLiteral("x"), uid(2)}},
                                                 PlistArray{QLatin1String("$null"), QLatin1String("text")}),
                                   KeyedArchive::CorruptArchive));
    EXPECT_TRUE(
        unarchiveFailsWith(unarchiveObjects(PlistArray{
                               QLatin1String("$null"),
                               PlistDictionary{{QStringLiteral("$class"), uid(2)},
                                               {QStringLiteral("NS.objects"), PlistArray{uid(~quint64(0))}}},
                               classDescription("NSArray")}),
                           KeyedArchive::CorruptArchive));
    EXPECT_TRUE(
        unarchiveFailsWith(unarchiveObjects(PlistArray{QLatin1String("$null"),
                                                       PlistDictionary{{QStringLiteral("$class"), uid(9)}}}),
                           KeyedArchive::CorruptArchive))
        << "a $class UID out of range";
}

TEST(KeyedArchiveMalformed, UidCyclesAreRefused)
{
    // An array holding itself.
    EXPECT_TRUE(unarchiveFailsWith(
        unarchiveObjects(PlistArray{QLatin1String("$null"),
                                    PlistDictionary{{QStringLiteral("$class"), uid(2)},
                                                    {QStringLiteral("NS.objects"), PlistArray{uid(1)}}},
                                    classDescription("NSArray")}),
        KeyedArchive::CircularReference));
    // Two objects referring to each other.
    EXPECT_TRUE(unarchiveFailsWith(
        unarchiveObjects(
            PlistArray{QLatin1String("$null"),
                       PlistDictionary{{QStringLiteral("$class"), uid(3)}, {QStringLiteral("next"), uid(2)}},
                       PlistDictionary{{QStringLiteral("$class"), uid(3)}, {QStringLiteral("next"), uid(1)}},
                       classDescription("Node")}),
        KeyedArchive::CircularReference));
    // Through a dictionary's values.
    EXPECT_TRUE(unarchiveFailsWith(
        unarchiveObjects(PlistArray{QLatin1String("$null"),
                                    PlistDictionary{{QStringLiteral("$class"), uid(2)},
                                                    {QStringLiteral("NS.keys"), PlistArray{uid(3)}},
                                                    {QStringLiteral("NS.objects"), PlistArray{uid(1)}}},
                                    classDescription("NSDictionary"), QLatin1String("k")}),
        KeyedArchive::CircularReference));
}

TEST(KeyedArchiveMalformed, BadClassDescriptionsAreRefused)
{
    const PlistValue plainObject = PlistDictionary{{QStringLiteral("$class"), uid(2)}};
    int index = 0;
    for (const PlistValue& description :
         {PlistValue(QLatin1String("NSArray")), PlistValue(PlistDictionary{}),
          PlistValue(PlistDictionary{{QStringLiteral("$classname"), 5}}),
          PlistValue(PlistDictionary{{QStringLiteral("$classname"), QString()}}),
          PlistValue(PlistDictionary{{QStringLiteral("$classname"), QLatin1String("X")},
                                     {QStringLiteral("$classes"), QLatin1String("X")}}),
          PlistValue(PlistDictionary{{QStringLiteral("$classname"), QLatin1String("X")},
                                     {QStringLiteral("$classes"), PlistArray{1}}})}) {
        EXPECT_TRUE(
            unarchiveFailsWith(unarchiveObjects(PlistArray{QLatin1String("$null"), plainObject, description}),
                               KeyedArchive::CorruptArchive))
            << "description " << index;
        ++index;
    }
    // An object without $class, and a $class that is no UID or refers to $null.
    EXPECT_TRUE(unarchiveFailsWith(
        unarchiveObjects(PlistArray{QLatin1String("$null"), PlistDictionary{{QStringLiteral("k"), 1}}}),
        KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(
        unarchiveObjects(PlistArray{QLatin1String("$null"), PlistDictionary{{QStringLiteral("$class"), 2}},
                                    classDescription("X")}),
        KeyedArchive::CorruptArchive));
    EXPECT_TRUE(
        unarchiveFailsWith(unarchiveObjects(PlistArray{QLatin1String("$null"),
                                                       PlistDictionary{{QStringLiteral("$class"), uid(0)}}}),
                           KeyedArchive::CorruptArchive));
}

TEST(KeyedArchiveMalformed, BrokenFoundationFormsAreRefused)
{
    auto single = [](const char* className, PlistDictionary entry, PlistValue extra = PlistValue()) {
        entry.insert(QStringLiteral("$class"), uid(2));
        PlistArray objects{QLatin1String("$null"), std::move(entry), classDescription(className)};
        if (!extra.isNull())
            objects.push_back(std::move(extra));
        return unarchiveObjects(std::move(objects));
    };
    EXPECT_TRUE(unarchiveFailsWith(single("NSArray", {}), KeyedArchive::CorruptArchive)) << "no NS.objects";
    EXPECT_TRUE(unarchiveFailsWith(single("NSArray", {{QStringLiteral("NS.objects"), uid(0)}}),
                                   KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(single("NSDictionary",
                                          {{QStringLiteral("NS.keys"), PlistArray{uid(3)}},
                                           {QStringLiteral("NS.objects"), PlistArray{}}},
                                          QLatin1String("k")),
                                   KeyedArchive::CorruptArchive))
        << "unmatched keys and objects";
    EXPECT_TRUE(unarchiveFailsWith(single("NSDictionary",
                                          {{QStringLiteral("NS.keys"), PlistArray{uid(3)}},
                                           {QStringLiteral("NS.objects"), PlistArray{uid(3)}}},
                                          PlistValue(5)),
                                   KeyedArchive::CorruptArchive))
        << "a key that is no string";
    EXPECT_TRUE(unarchiveFailsWith(single("NSDate", {}), KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(single("NSDate", {{QStringLiteral("NS.time"), QLatin1String("now")}}),
                                   KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(single("NSDate", {{QStringLiteral("NS.time"), 1e300}}),
                                   KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(single("NSString", {}), KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(single("NSString", {{QStringLiteral("NS.string"), 5}}),
                                   KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(single("NSData", {}), KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(single("NSData", {{QStringLiteral("NS.data"), QLatin1String("text")}}),
                                   KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(single("NSNumber", {}), KeyedArchive::CorruptArchive));
    EXPECT_TRUE(unarchiveFailsWith(single("NSNumber", {{QStringLiteral("a"), 1}, {QStringLiteral("b"), 2}}),
                                   KeyedArchive::CorruptArchive));
    // A UID whose entry is another UID, or whose entry is a class description.
    EXPECT_TRUE(unarchiveFailsWith(unarchiveObjects(PlistArray{QLatin1String("$null"), uid(0)}),
                                   KeyedArchive::CorruptArchive));
    EXPECT_TRUE(
        unarchiveFailsWith(unarchiveObjects(PlistArray{QLatin1String("$null"), classDescription("X")}),
                           KeyedArchive::CorruptArchive));

    // The accepted variants of the same forms.
    const auto bytesString = single("NSString", {{QStringLiteral("NS.bytes"), QByteArray("caf\xc3\xa9")}});
    ASSERT_TRUE(bytesString.ok());
    EXPECT_EQ(bytesString->value(QStringLiteral("root")).toString(), QStringLiteral("caf\u00e9"));
    const auto number = single("NSNumber", {{QStringLiteral("NS.intval"), 42}});
    ASSERT_TRUE(number.ok());
    EXPECT_EQ(number->value(QStringLiteral("root")), ArchivedValue(42));
    const auto integerTime = single("NSDate", {{QStringLiteral("NS.time"), 86400}});
    ASSERT_TRUE(integerTime.ok());
    EXPECT_EQ(integerTime->value(QStringLiteral("root")).toDate(), utc(2001, 1, 2, 0, 0, 0));
}

TEST(KeyedArchiveMalformed, NestingThroughUidsIsBounded)
{
    const auto atLimit = unarchiveRoot(PlistDictionary{{QStringLiteral("root"), uid(2)}},
                                       arrayChain(KeyedArchive::DefaultMaxDepth));
    ASSERT_TRUE(atLimit.ok()) << atLimit.error().toString().toStdString();
    EXPECT_EQ(archivedNestingOf(atLimit->value(QStringLiteral("root"))), KeyedArchive::DefaultMaxDepth);
    EXPECT_TRUE(unarchiveFailsWith(unarchiveRoot(PlistDictionary{{QStringLiteral("root"), uid(2)}},
                                                 arrayChain(KeyedArchive::DefaultMaxDepth + 1)),
                                   KeyedArchive::TooDeep));
    EXPECT_TRUE(unarchiveFailsWith(unarchiveRoot(PlistDictionary{{QStringLiteral("root"), uid(2)}},
                                                 arrayChain(test::heavyScale(10000, 3000))),
                                   KeyedArchive::TooDeep));

    // An object decoded once counts its depth again wherever it is used.
    PlistArray objects = arrayChain(300);  // UIDs 2..301
    const quint64 second = objects.size(); // 250 more, the last holding UID 2
    for (int k = 0; k < 250; ++k) {
        objects.push_back(PlistDictionary{
            {QStringLiteral("$class"), uid(1)},
            {QStringLiteral("NS.objects"), PlistArray{k + 1 < 250 ? uid(second + quint64(k) + 1) : uid(2)}}});
    }
    EXPECT_TRUE(unarchiveFailsWith(
        unarchiveRoot(PlistDictionary{{QStringLiteral("a"), uid(2)}, {QStringLiteral("b"), uid(second)}},
                      objects),
        KeyedArchive::TooDeep));
}

TEST(KeyedArchiveMalformed, PlainDateEntriesTakeALevelAsTheirWrittenFormDoes)
{
    // Another writer may store a date as a plain property list date; it is written back as an
    // NSDate object, so reading counts it as one level, keeping every read graph writable.
    const QByteArray data =
        bytesOf(archiveRoot(PlistDictionary{{QStringLiteral("root"), uid(1)}},
                            PlistArray{QLatin1String("$null"),
                                       PlistDictionary{{QStringLiteral("$class"), uid(2)},
                                                       {QStringLiteral("NS.objects"), PlistArray{uid(3)}}},
                                       classDescription("NSArray"), PlistValue::date(86400.5)}));
    KeyedArchive::Limits two;
    two.maxDepth = 2;
    const auto read = KeyedArchive::unarchive(data, two);
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(read->value(QStringLiteral("root")).toArray().at(0).toDate(), utc(2001, 1, 2, 0, 0, 0, 500));
    EXPECT_TRUE(KeyedArchive::archive(*read, 2).ok());
    KeyedArchive::Limits one;
    one.maxDepth = 1;
    EXPECT_TRUE(unarchiveFailsWith(KeyedArchive::unarchive(data, one), KeyedArchive::TooDeep));
    EXPECT_FALSE(KeyedArchive::archive(*read, 1).ok());
}

TEST(KeyedArchiveMalformed, ExponentialSharingIsRefusedQuickly)
{
    PlistArray objects{QLatin1String("$null"), classDescription("NSArray")};
    for (int k = 0; k < 60; ++k) {
        const quint64 next = objects.size() + 1;
        objects.push_back(PlistDictionary{{QStringLiteral("$class"), uid(1)},
                                          {QStringLiteral("NS.objects"), PlistArray{uid(next), uid(next)}}});
    }
    objects.push_back(QLatin1String("lol"));
    EXPECT_TRUE(unarchiveFailsWith(unarchiveRoot(PlistDictionary{{QStringLiteral("root"), uid(2)}}, objects),
                                   KeyedArchive::LimitExceeded));
}

TEST(KeyedArchiveMalformed, EverySingleByteChangeReadsOrFailsCleanly)
{
    const QByteArray valid = readFile(keyedFixtureDir() + QStringLiteral("/index.archive"));
    ASSERT_FALSE(valid.isEmpty());
    const std::vector<int> replacements =
        test::isSanitized() ? std::vector<int>{0x00, 0xFF} : std::vector<int>{0x00, 0x7F, 0xFF};
    int failures = 0;
    int successes = 0;
    for (qsizetype at = 0; at < valid.size(); ++at) {
        for (int replacement : replacements) {
            QByteArray changed = valid;
            changed[at] = char(replacement);
            const auto read = KeyedArchive::unarchive(changed);
            if (!read.ok()) {
                ++failures;
                ASSERT_TRUE(read.error().domain() == KeyedArchive::ErrorDomain ||
                            read.error().domain() == BinaryPropertyList::ErrorDomain)
                    << read.error().toString().toStdString();
                continue;
            }
            ++successes;
            // Whatever reads is a graph without cycles that archives again.
            ASSERT_TRUE(KeyedArchive::archive(*read).ok()) << "at " << at;
        }
    }
    EXPECT_GT(failures, 0);
    EXPECT_GT(successes, 0);
}
