#include "platform/core/BinaryPropertyList.h"
#include "platform/core/JsonText.h"
#include "tests/platform/core/CoreTestSupport.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtEndian>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <optional>

using namespace corvex;

namespace corvex {

static QString describe(const PlistValue& value)
{
    switch (value.type()) {
    case PlistValue::Type::Null:
        return QStringLiteral("null");
    case PlistValue::Type::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case PlistValue::Type::Integer:
        return value.isLargeUnsigned() ? QString::number(value.toUnsigned())
                                       : QString::number(value.toInteger());
    case PlistValue::Type::Real:
        return QString::number(value.toReal(), 'g', 17);
    case PlistValue::Type::Date:
        return QStringLiteral("date(%1)").arg(value.dateSeconds(), 0, 'g', 17);
    case PlistValue::Type::Data:
        return QStringLiteral("<%1>").arg(QString::fromLatin1(value.toData().left(32).toHex()));
    case PlistValue::Type::String:
        return QLatin1Char('"') + value.toString() + QLatin1Char('"');
    case PlistValue::Type::Uid:
        return QStringLiteral("uid(%1)").arg(value.toUid());
    case PlistValue::Type::Array: {
        QStringList parts;
        for (const PlistValue& element : value.toArray())
            parts.append(describe(element));
        return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
    }
    case PlistValue::Type::Dictionary: {
        QStringList parts;
        for (const auto& [key, element] : value.toDictionary())
            parts.append(key + QStringLiteral(": ") + describe(element));
        return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
    }
    }
    return QString();
}

static void PrintTo(const PlistValue& value, std::ostream* os)
{
    *os << describe(value).left(400).toStdString();
}

} // namespace corvex

namespace {

QString scriptDir()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../../data/gen"));
}

using corvex::test::keyedExpectations;
using corvex::test::keyedFixtureDir;
using corvex::test::readFile;

// The value a tagged description of expected.json stands for.
PlistValue fromTagged(const Value& tagged)
{
    const QString kind = tagged.at(0).toString();
    const Value& payload = tagged.at(1);
    if (kind == QLatin1String("null"))
        return PlistValue();
    if (kind == QLatin1String("bool"))
        return PlistValue(payload.toBool());
    if (kind == QLatin1String("int")) {
        const QString text = payload.toString();
        bool ok = false;
        const qint64 value = text.toLongLong(&ok);
        if (ok)
            return PlistValue(value);
        return PlistValue(text.toULongLong());
    }
    if (kind == QLatin1String("real"))
        return PlistValue(payload.toReal());
    if (kind == QLatin1String("date"))
        return PlistValue::date(payload.toReal());
    if (kind == QLatin1String("data"))
        return PlistValue(QByteArray::fromBase64(payload.toString().toLatin1()));
    if (kind == QLatin1String("string"))
        return PlistValue(payload.toString());
    if (kind == QLatin1String("uid"))
        return PlistValue::uid(quint64(payload.toInteger()));
    if (kind == QLatin1String("array")) {
        PlistArray array;
        for (const Value& element : payload.toArray())
            array.push_back(fromTagged(element));
        return PlistValue(std::move(array));
    }
    if (kind == QLatin1String("dict")) {
        PlistDictionary dictionary;
        for (const Value& pair : payload.toArray())
            dictionary.insert(pair.at(0).toString(), fromTagged(pair.at(1)));
        return PlistValue(std::move(dictionary));
    }
    ADD_FAILURE() << "unknown tagged kind " << kind.toStdString();
    return PlistValue();
}

// --- Hand-laid property lists -------------------------------------------------------------

QByteArray bigEndian(quint64 value, int size)
{
    QByteArray out;
    for (int i = size - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
    return out;
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray container(int high, const std::vector<quint64>& refs, int refSize = 1, bool dictionary = false)
{
    const quint64 count = dictionary ? refs.size() / 2 : refs.size();
    QByteArray out;
    if (count < 15) {
        out.append(char((high << 4) | int(count)));
    } else {
        out.append(char((high << 4) | 0x0F));
        out.append(char(0x13));
        out.append(bigEndian(count, 8));
    }
    for (quint64 ref : refs)
        out.append(bigEndian(ref, refSize));
    return out;
}

QByteArray arrayObject(const std::vector<quint64>& refs, int refSize = 1)
{
    return container(0xA, refs, refSize);
}

QByteArray dictObject(const std::vector<quint64>& keysThenValues, int refSize = 1)
{
    return container(0xD, keysThenValues, refSize, true);
}

QByteArray intObject(quint8 value)
{
    return bytes({0x10, value});
}

QByteArray asciiObject(const char* text)
{
    const QByteArray raw(text);
    return char(0x50 | raw.size()) + raw;
}

struct Layout
{
    int refSize = 1;
    int offsetSize = 0; // 0: the smallest that fits
    std::optional<quint64> count;
    quint64 top = 0;
    std::optional<quint64> tableOffset;
    std::optional<int> trailerOffsetSize;
    std::optional<int> trailerRefSize;
    std::vector<quint64> offsets; // empty: the real ones
};

QByteArray rawPlist(const std::vector<QByteArray>& objects, const Layout& layout = Layout())
{
    QByteArray out("bplist00");
    std::vector<quint64> offsets;
    for (const QByteArray& object : objects) {
        offsets.push_back(quint64(out.size()));
        out.append(object);
    }
    if (!layout.offsets.empty())
        offsets = layout.offsets;
    int offsetSize = layout.offsetSize;
    if (offsetSize == 0) {
        const quint64 largest = *std::max_element(offsets.begin(), offsets.end());
        offsetSize = largest <= 0xFF ? 1 : largest <= 0xFFFF ? 2 : largest <= 0xFFFFFFFFULL ? 4 : 8;
    }
    const quint64 table = quint64(out.size());
    for (quint64 offset : offsets)
        out.append(bigEndian(offset, offsetSize));
    out.append(QByteArray(6, '\0'));
    out.append(char(layout.trailerOffsetSize.value_or(offsetSize)));
    out.append(char(layout.trailerRefSize.value_or(layout.refSize)));
    out.append(bigEndian(layout.count.value_or(objects.size()), 8));
    out.append(bigEndian(layout.top, 8));
    out.append(bigEndian(layout.tableOffset.value_or(table), 8));
    return out;
}

// `depth` arrays, each holding the next; the innermost is empty.
QByteArray nestedArrays(int depth)
{
    std::vector<QByteArray> objects;
    for (int k = 0; k + 1 < depth; ++k)
        objects.push_back(arrayObject({quint64(k + 1)}, 4));
    objects.push_back(arrayObject({}, 4));
    Layout layout;
    layout.refSize = 4;
    return rawPlist(objects, layout);
}

int nestingOf(const PlistValue& value)
{
    int depth = 0;
    const PlistValue* at = &value;
    while (at->isArray()) {
        ++depth;
        if (at->size() == 0)
            break;
        at = &at->at(0);
    }
    return depth;
}

::testing::AssertionResult failsWith(const Result<PlistValue>& result, BinaryPropertyList::ErrorCode code)
{
    if (result.ok())
        return ::testing::AssertionFailure()
               << "read succeeded with " << describe(*result).left(200).toStdString();
    if (result.error().domain() != BinaryPropertyList::ErrorDomain || result.error().code() != code)
        return ::testing::AssertionFailure() << "failed with " << result.error().toString().toStdString()
                                             << ", expected code " << int(code);
    if (result.error().localizedDescription().isEmpty())
        return ::testing::AssertionFailure() << "the error has no text";
    return ::testing::AssertionSuccess();
}

PlistValue roundTrip(const PlistValue& value)
{
    const auto written = BinaryPropertyList::write(value);
    EXPECT_TRUE(written.ok()) << written.error().toString().toStdString();
    if (!written.ok())
        return PlistValue();
    const auto read = BinaryPropertyList::read(*written);
    EXPECT_TRUE(read.ok()) << read.error().toString().toStdString();
    return read.ok() ? *read : PlistValue();
}

// The trailer of written bytes: offset size, reference size, object count.
struct Trailer
{
    int offsetSize;
    int refSize;
    quint64 count;
};

Trailer trailerOf(const QByteArray& data)
{
    const uchar* t = reinterpret_cast<const uchar*>(data.constData()) + data.size() - 32;
    return {t[6], t[7], qFromBigEndian<quint64>(t + 8)};
}

// The first object of written bytes (the top object sits right after the header).
QByteArray topObjectBytes(const PlistValue& value, int size)
{
    const auto written = BinaryPropertyList::write(value);
    EXPECT_TRUE(written.ok());
    return written.ok() ? written->mid(8, size) : QByteArray();
}

PlistValue everyPrimitive()
{
    return PlistValue(PlistDictionary{
        {QStringLiteral("null"), PlistValue()},
        {QStringLiteral("true"), true},
        {QStringLiteral("false"), false},
        {QStringLiteral("zero"), 0},
        {QStringLiteral("byte"), 255},
        {QStringLiteral("twoBytes"), 256},
        {QStringLiteral("fourBytes"), 65536},
        {QStringLiteral("fourBytesMax"), 0xFFFFFFFFLL},
        {QStringLiteral("eightBytes"), 0x100000000LL},
        {QStringLiteral("int64Max"), std::numeric_limits<qint64>::max()},
        {QStringLiteral("minusOne"), -1},
        {QStringLiteral("int64Min"), std::numeric_limits<qint64>::min()},
        {QStringLiteral("uint64Max"), std::numeric_limits<quint64>::max()},
        {QStringLiteral("uint64AboveInt64"), quint64(1) << 63},
        {QStringLiteral("real"), 1.5},
        {QStringLiteral("negativeZero"), -0.0},
        {QStringLiteral("huge"), 1e300},
        {QStringLiteral("denormal"), 5e-324},
        {QStringLiteral("infinity"), std::numeric_limits<double>::infinity()},
        {QStringLiteral("dateBefore2001"), PlistValue::date(-978307200.25)},
        {QStringLiteral("dateFraction"), PlistValue::date(694224000.123456)},
        {QStringLiteral("dateReference"), PlistValue::date(0.0)},
        {QStringLiteral("emptyData"), QByteArray()},
        {QStringLiteral("data"), QByteArray("\x00\x01\xff\x80", 4)},
        {QStringLiteral("emptyString"), QString()},
        {QStringLiteral("ascii"), QStringLiteral("plain text longer than fourteen characters")},
        {QStringLiteral("latin"), QStringLiteral("caf\u00e9")},
        {QStringLiteral("astral"), QStringLiteral("a\U0001F600b")},
        {QStringLiteral("uidZero"), PlistValue::uid(0)},
        {QStringLiteral("uidTwoBytes"), PlistValue::uid(256)},
        {QStringLiteral("uidLarge"), PlistValue::uid(quint64(1) << 40)},
        {QStringLiteral("emptyArray"), PlistArray{}},
        {QStringLiteral("emptyDictionary"), PlistDictionary{}},
    });
}

} // namespace

// --- Round trips -------------------------------------------------------------------------

TEST(BinaryPropertyList, EveryPrimitiveKindRoundTrips)
{
    const PlistValue original = everyPrimitive();
    const PlistValue read = roundTrip(original);
    EXPECT_EQ(read, original);
    EXPECT_EQ(read.toDictionary().keys(), original.toDictionary().keys()) << "key order is kept";
    EXPECT_TRUE(std::signbit(read.value(QStringLiteral("negativeZero")).toReal()));
    EXPECT_TRUE(read.value(QStringLiteral("uint64Max")).isLargeUnsigned());
    EXPECT_EQ(read.value(QStringLiteral("uint64Max")).toUnsigned(), std::numeric_limits<quint64>::max());
    EXPECT_EQ(read.value(QStringLiteral("int64Min")).toInteger(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(read.value(QStringLiteral("dateFraction")).dateSeconds(), 694224000.123456);
    EXPECT_EQ(read.value(QStringLiteral("astral")).toString().size(), 4) << "UTF-16 units";
}

TEST(BinaryPropertyList, NotANumberRoundTripsAsNotANumber)
{
    const PlistValue read = roundTrip(PlistValue(PlistArray{std::numeric_limits<double>::quiet_NaN()}));
    ASSERT_TRUE(read.at(0).isReal());
    EXPECT_TRUE(std::isnan(read.at(0).toReal()));
}

TEST(BinaryPropertyList, NestedContainersAndLongCountsRoundTrip)
{
    PlistArray longArray;
    for (int i = 0; i < 40; ++i)
        longArray.push_back(PlistValue(QStringLiteral("element %1").arg(i)));
    PlistDictionary manyKeys;
    for (int i = 0; i < 30; ++i)
        manyKeys.insert(QStringLiteral("key%1").arg(i), i * 1000);
    const PlistValue original(PlistArray{
        PlistValue(std::move(longArray)),
        PlistValue(std::move(manyKeys)),
        PlistValue(PlistArray{PlistValue(PlistArray{PlistValue(PlistArray{QStringLiteral("deep")})}),
                              PlistDictionary{}}),
        PlistValue(QString(300, QLatin1Char('x'))),
        PlistValue(QByteArray(70000, 'y')),
    });
    const PlistValue read = roundTrip(original);
    EXPECT_EQ(read, original);
    EXPECT_EQ(read.at(1).toDictionary().keys(), original.at(1).toDictionary().keys());
}

TEST(BinaryPropertyList, ManyObjectsUseWiderReferencesAndOffsets)
{
    PlistArray values;
    const int count = 70000; // more objects than two-byte references address
    for (int i = 0; i < count; ++i)
        values.push_back(PlistValue(qint64(i) * 3 + 1000000));
    const PlistValue original(std::move(values));
    const auto written = BinaryPropertyList::write(original);
    ASSERT_TRUE(written.ok());
    const Trailer trailer = trailerOf(*written);
    EXPECT_EQ(trailer.count, quint64(count + 1));
    EXPECT_EQ(trailer.refSize, 4);
    EXPECT_EQ(trailer.offsetSize, 4);
    const auto read = BinaryPropertyList::read(*written);
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(*read, original);
}

TEST(BinaryPropertyList, IntegersUseTheSmallestFormThatReadsBackTheSame)
{
    EXPECT_EQ(topObjectBytes(PlistValue(0), 2), bytes({0x10, 0x00}));
    EXPECT_EQ(topObjectBytes(PlistValue(255), 2), bytes({0x10, 0xFF}));
    EXPECT_EQ(topObjectBytes(PlistValue(256), 3), bytes({0x11, 0x01, 0x00}));
    EXPECT_EQ(topObjectBytes(PlistValue(65536), 5), bytes({0x12, 0x00, 0x01, 0x00, 0x00}));
    // 1, 2 and 4 byte integers are unsigned; negative values need the signed 8-byte form.
    EXPECT_EQ(topObjectBytes(PlistValue(-1), 9),
              bytes({0x13, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(topObjectBytes(PlistValue(std::numeric_limits<quint64>::max()), 17),
              QByteArray(1, char(0x14)) + QByteArray(8, '\0') + QByteArray(8, char(0xFF)));
}

TEST(BinaryPropertyList, StringsAreAsciiWhenTheyCanBeAndUtf16CountedInUnitsOtherwise)
{
    EXPECT_EQ(topObjectBytes(PlistValue(QStringLiteral("abc")), 4), bytes({0x53, 'a', 'b', 'c'}));
    EXPECT_EQ(topObjectBytes(PlistValue(QString()), 1), bytes({0x50}));
    EXPECT_EQ(topObjectBytes(PlistValue(QStringLiteral("\u00e9")), 3), bytes({0x61, 0x00, 0xE9}));
    EXPECT_EQ(topObjectBytes(PlistValue(QStringLiteral("\U0001F600")), 5),
              bytes({0x62, 0xD8, 0x3D, 0xDE, 0x00}));
    const QString longText(20, QChar(0x263A));
    EXPECT_EQ(topObjectBytes(PlistValue(longText), 3), bytes({0x6F, 0x10, 20}));
}

TEST(BinaryPropertyList, EqualLeavesAreWrittenOnce)
{
    PlistArray values;
    for (int i = 0; i < 100; ++i)
        values.push_back(PlistValue(QStringLiteral("same text")));
    values.push_back(PlistValue(QByteArray("same")));
    values.push_back(PlistValue(QByteArray("same")));
    values.push_back(PlistValue(1));
    values.push_back(PlistValue(true)); // not the integer 1
    values.push_back(PlistValue(1.0));  // nor this
    const PlistValue original(std::move(values));
    const auto written = BinaryPropertyList::write(original);
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(trailerOf(*written).count, 6u) << "the array, one string, one data, 1, true, 1.0";
    const auto read = BinaryPropertyList::read(*written);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(*read, original);
}

TEST(BinaryPropertyList, ASharedContainerIsWrittenOnceAndItsDepthCountsAtEveryUse)
{
    const PlistValue shared(PlistArray{QStringLiteral("a"), QStringLiteral("b")});
    const PlistValue top(PlistArray{shared, PlistValue(PlistArray{shared}), shared});
    const auto written = BinaryPropertyList::write(top);
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(trailerOf(*written).count, 5u) << "the top, the inner array, the shared array, a, b";
    const auto read = BinaryPropertyList::read(*written);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(*read, top);

    // 300 arrays used at the top, and again under 250 more: 551 levels at the deeper use.
    PlistValue chain(PlistArray{});
    for (int i = 1; i < 300; ++i)
        chain = PlistValue(PlistArray{chain});
    PlistValue outer = chain;
    for (int i = 0; i < 250; ++i)
        outer = PlistValue(PlistArray{outer});
    const PlistValue both(PlistArray{chain, outer});
    EXPECT_TRUE(
        failsWith(Result<PlistValue>(BinaryPropertyList::write(both).error()), BinaryPropertyList::TooDeep));
    const auto deep = BinaryPropertyList::write(both, 551);
    ASSERT_TRUE(deep.ok());
    EXPECT_LT(trailerOf(*deep).count, 560u) << "the chain is written once";
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(*deep), BinaryPropertyList::TooDeep));
    BinaryPropertyList::Limits limits;
    limits.maxDepth = 551;
    const auto deepRead = BinaryPropertyList::read(*deep, limits);
    ASSERT_TRUE(deepRead.ok());
    EXPECT_EQ(nestingOf(deepRead->at(1)), 550);
}

TEST(BinaryPropertyList, DatesConvertToQDateTimeAtMillisecondPrecision)
{
    const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_EQ(PlistValue::dateTimeFromSeconds(0.0), reference);
    EXPECT_EQ(PlistValue::dateTimeFromSeconds(-86400.25), reference.addMSecs(-86400250));
    EXPECT_EQ(PlistValue::dateTimeFromSeconds(1.0004), reference.addMSecs(1000));
    EXPECT_EQ(PlistValue::secondsFromDateTime(reference.addMSecs(-978307200250)), -978307200.25);
    EXPECT_EQ(PlistValue::secondsFromDateTime(reference.addMSecs(1001)), 1.001);
    EXPECT_FALSE(PlistValue::dateTimeFromSeconds(std::nan("")).isValid());
    EXPECT_FALSE(PlistValue::dateTimeFromSeconds(1e300).isValid());
    EXPECT_TRUE(PlistValue::date(QDateTime()).isNull()) << "an invalid date has no property list form";

    const QDateTime before2001(QDate(1969, 7, 20), QTime(20, 17, 40, 125), Qt::UTC);
    EXPECT_EQ(PlistValue::date(before2001).toDateTime(), before2001);
}

TEST(BinaryPropertyList, ValuesConvertBothWaysAndUidsHaveNoValueForm)
{
    const QDateTime when(QDate(2024, 2, 29), QTime(12, 30, 15, 500), Qt::UTC);
    ValueDictionary inner{{QStringLiteral("b"), true}, {QStringLiteral("a"), QByteArray("x")}};
    const Value original(ValueArray{Value(), Value(7), Value(2.5), Value(QStringLiteral("t")), Value(when),
                                    Value(std::move(inner))});
    const auto back = PlistValue::fromValue(original).toValue();
    ASSERT_TRUE(back.ok()) << back.error().toString().toStdString();
    EXPECT_EQ(*back, original);

    const auto fromRead = roundTrip(PlistValue::fromValue(original)).toValue();
    ASSERT_TRUE(fromRead.ok());
    EXPECT_EQ(*fromRead, original);

    const auto uid = PlistValue(PlistArray{PlistValue::uid(3)}).toValue();
    ASSERT_FALSE(uid.ok());
    EXPECT_EQ(uid.error().domain(), BinaryPropertyList::ErrorDomain);
    // A large unsigned integer becomes Real, as Value's own constructor makes it.
    const auto large = PlistValue(std::numeric_limits<quint64>::max()).toValue();
    ASSERT_TRUE(large.ok());
    EXPECT_TRUE(large->isReal());
}

TEST(BinaryPropertyList, WritingRefusesNestingBeyondTheBound)
{
    PlistValue value(QStringLiteral("bottom"));
    for (int i = 0; i < 20; ++i)
        value = PlistValue(PlistArray{std::move(value)});
    EXPECT_TRUE(BinaryPropertyList::write(value, 20).ok());
    EXPECT_TRUE(failsWith(Result<PlistValue>(BinaryPropertyList::write(value, 19).error()),
                          BinaryPropertyList::TooDeep));
}

// --- Fixtures --------------------------------------------------------------------------------

TEST(BinaryPropertyListFixtures, ThePlistlibFileOfEveryPrimitiveReadsAsExpected)
{
    const Value expected =
        keyedExpectations().value(QStringLiteral("plists")).value(QStringLiteral("primitives.bplist"));
    ASSERT_FALSE(expected.isNull());
    const auto read =
        BinaryPropertyList::read(readFile(keyedFixtureDir() + QStringLiteral("/primitives.bplist")));
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(*read, fromTagged(expected));
    EXPECT_EQ(read->value(QStringLiteral("dateBefore2001")).toDateTime(),
              QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 750), Qt::UTC));
}

TEST(BinaryPropertyListFixtures, FormsPlistlibNeverWritesReadAsExpected)
{
    const Value expected =
        keyedExpectations().value(QStringLiteral("plists")).value(QStringLiteral("handmade.bplist"));
    ASSERT_FALSE(expected.isNull());
    const auto read =
        BinaryPropertyList::read(readFile(keyedFixtureDir() + QStringLiteral("/handmade.bplist")));
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(*read, fromTagged(expected));
}

TEST(BinaryPropertyListFixtures, OurOutputLoadsInPlistlibAsExpected)
{
    const QString python = QStringLiteral("/usr/bin/python3");
    if (!QFileInfo::exists(python))
        GTEST_SKIP() << "no " << python.toStdString();
    const Value expected =
        keyedExpectations().value(QStringLiteral("plists")).value(QStringLiteral("primitives.bplist"));
    const auto written = BinaryPropertyList::write(fromTagged(expected));
    ASSERT_TRUE(written.ok());
    const QString path = test::testDir() + QStringLiteral("/primitives.bplist");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(*written);
    file.close();

    QProcess process;
    process.start(python, {scriptDir() + QStringLiteral("/check_keyed_archive.py"), QStringLiteral("--plist"),
                           path, QStringLiteral("primitives.bplist")});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();

    // The check is not blind: a changed value fails it.
    PlistDictionary changed = fromTagged(expected).toDictionary();
    changed.insert(QStringLiteral("int64Max"), 5);
    QFile again(path);
    ASSERT_TRUE(again.open(QIODevice::WriteOnly | QIODevice::Truncate));
    again.write(*BinaryPropertyList::write(PlistValue(std::move(changed))));
    again.close();
    process.start(python, {scriptDir() + QStringLiteral("/check_keyed_archive.py"), QStringLiteral("--plist"),
                           path, QStringLiteral("primitives.bplist")});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
}

// --- Malformed input: every class fails with its error ----------------------------------------

TEST(BinaryPropertyListMalformed, ShortOrForeignBytesAreNotAPropertyList)
{
    const QByteArray valid = *BinaryPropertyList::write(everyPrimitive());
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(QByteArray()), BinaryPropertyList::NotBinaryPropertyList));
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(QByteArray("bplist00")),
                          BinaryPropertyList::NotBinaryPropertyList));
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(valid.left(39)), BinaryPropertyList::NotBinaryPropertyList));
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(QByteArray("bplist01") + valid.mid(8)),
                          BinaryPropertyList::NotBinaryPropertyList));
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(QByteArray("<?xml version=\"1.0\"?><plist><dict/></plist>")),
                  BinaryPropertyList::NotBinaryPropertyList));
    EXPECT_FALSE(BinaryPropertyList::hasHeader(QByteArray("bplist0")));
    EXPECT_TRUE(BinaryPropertyList::hasHeader(valid));
}

TEST(BinaryPropertyListMalformed, TruncatedDataFailsAtEveryLength)
{
    const QByteArray valid = *BinaryPropertyList::write(everyPrimitive());
    for (qsizetype length = 0; length < valid.size(); ++length) {
        const auto read = BinaryPropertyList::read(valid.left(length));
        ASSERT_FALSE(read.ok()) << "length " << length;
        EXPECT_EQ(read.error().domain(), BinaryPropertyList::ErrorDomain);
    }
}

TEST(BinaryPropertyListMalformed, TrailerFieldsOutOfRangeAreRefused)
{
    const std::vector<QByteArray> objects{arrayObject({1, 2}), intObject(7), asciiObject("x")};
    ASSERT_TRUE(BinaryPropertyList::read(rawPlist(objects)).ok());
    for (int size : {0, 9, 255}) {
        Layout offsets;
        offsets.trailerOffsetSize = size;
        EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist(objects, offsets)),
                              BinaryPropertyList::CorruptTrailer))
            << "offset size " << size;
        Layout refs;
        refs.trailerRefSize = size;
        EXPECT_TRUE(
            failsWith(BinaryPropertyList::read(rawPlist(objects, refs)), BinaryPropertyList::CorruptTrailer))
            << "reference size " << size;
    }
    Layout none;
    none.count = 0;
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist(objects, none)), BinaryPropertyList::CorruptTrailer));
    Layout top;
    top.top = 3;
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist(objects, top)), BinaryPropertyList::CorruptTrailer));
    top.top = ~quint64(0);
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist(objects, top)), BinaryPropertyList::CorruptTrailer));
}

TEST(BinaryPropertyListMalformed, AnOffsetTableOutsideTheDataIsRefused)
{
    const std::vector<QByteArray> objects{arrayObject({1, 2}), intObject(7), asciiObject("x")};
    for (quint64 tableOffset : {quint64(1000000), quint64(0), quint64(8), ~quint64(0), quint64(1) << 63}) {
        Layout layout;
        layout.tableOffset = tableOffset;
        EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist(objects, layout)),
                              BinaryPropertyList::CorruptOffsetTable))
            << "table at " << tableOffset;
    }
    // More objects than the table has room for before the trailer, including counts whose
    // table size overflows 64 bits.
    for (quint64 count : {quint64(4), quint64(200), quint64(1) << 61, ~quint64(0)}) {
        Layout layout;
        layout.count = count;
        EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist(objects, layout)),
                              BinaryPropertyList::CorruptOffsetTable))
            << "count " << count;
    }
}

TEST(BinaryPropertyListMalformed, AnObjectOffsetOutsideTheObjectAreaIsRefused)
{
    const std::vector<QByteArray> objects{arrayObject({1, 2}), intObject(7), asciiObject("x")};
    for (quint64 bad : {quint64(0), quint64(7), quint64(16) /* the table itself */, quint64(5000)}) {
        Layout layout;
        layout.offsets = {8, 11, bad};
        EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist(objects, layout)),
                              BinaryPropertyList::CorruptOffsetTable))
            << "offset " << bad;
    }
}

TEST(BinaryPropertyListMalformed, AnObjectReferenceNotBelowTheCountIsRefused)
{
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist({arrayObject({1, 3}), intObject(7), intObject(8)})),
                  BinaryPropertyList::InvalidReference));
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist({dictObject({1, 200}), asciiObject("k")})),
                          BinaryPropertyList::InvalidReference));
    Layout wide;
    wide.refSize = 8;
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist({arrayObject({~quint64(0)}, 8)}, wide)),
                          BinaryPropertyList::InvalidReference));
}

TEST(BinaryPropertyListMalformed, HugeCountsAreRefusedBeforeAnythingIsAllocated)
{
    const QByteArray huge63 = bigEndian(quint64(std::numeric_limits<qint64>::max()), 8);
    // Arrays, dictionaries, sets, strings and data claiming more than the file holds.
    for (int high : {0x4, 0x5, 0x6, 0xA, 0xC, 0xD}) {
        const QByteArray object =
            char((high << 4) | 0x0F) + QByteArray(1, char(0x13)) + huge63 + QByteArray(4, '\0');
        EXPECT_TRUE(
            failsWith(BinaryPropertyList::read(rawPlist({object})), BinaryPropertyList::CorruptObject))
            << "marker " << std::hex << high;
    }
    // An 8-byte count with the sign bit set reads as negative.
    const QByteArray negative = bytes({0xAF, 0x13}) + QByteArray(8, char(0xFF)) + QByteArray(1, '\0');
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist({negative})), BinaryPropertyList::CorruptObject));
    const QByteArray data32 = bytes({0x4F, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'});
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist({data32})), BinaryPropertyList::CorruptObject));
    // A count spelled as something other than a 1-8 byte integer.
    const QByteArray realCount = bytes({0x5F, 0x23}) + QByteArray(8, '\0');
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist({realCount})), BinaryPropertyList::CorruptObject));
    const QByteArray int16Count = bytes({0x5F, 0x14}) + QByteArray(16, '\0');
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist({int16Count})), BinaryPropertyList::CorruptObject));
}

TEST(BinaryPropertyListMalformed, ObjectsBeyondTheLimitsAreRefused)
{
    std::vector<QByteArray> objects{arrayObject({1, 2, 3, 4, 5, 6})};
    for (int i = 1; i <= 6; ++i)
        objects.push_back(intObject(quint8(i)));
    BinaryPropertyList::Limits limits;
    limits.maxObjects = 6;
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist(objects), limits), BinaryPropertyList::LimitExceeded));
    limits.maxObjects = 7;
    EXPECT_TRUE(BinaryPropertyList::read(rawPlist(objects), limits).ok());
    limits.maxValues = 5;
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist(objects), limits), BinaryPropertyList::LimitExceeded));

    BinaryPropertyList::Limits bytesLimit;
    bytesLimit.maxBytes = 100;
    const PlistValue big(PlistArray{QByteArray(60, 'a'), QByteArray(60, 'b')});
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(*BinaryPropertyList::write(big), bytesLimit),
                          BinaryPropertyList::LimitExceeded));
    bytesLimit.maxBytes = 120;
    EXPECT_TRUE(BinaryPropertyList::read(*BinaryPropertyList::write(big), bytesLimit).ok());
}

TEST(BinaryPropertyListMalformed, ContainersThatContainThemselvesAreRefused)
{
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist({arrayObject({0})})),
                          BinaryPropertyList::ReferenceCycle));
    // Through a dictionary value, two levels down.
    EXPECT_TRUE(failsWith(
        BinaryPropertyList::read(rawPlist({arrayObject({1}), dictObject({2, 0}), asciiObject("k")})),
        BinaryPropertyList::ReferenceCycle));
    // A set holding itself.
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist({container(0xC, {1}), container(0xC, {0})})),
                          BinaryPropertyList::ReferenceCycle));
}

TEST(BinaryPropertyListMalformed, NestingIsBoundedWithoutRecursion)
{
    const auto atLimit = BinaryPropertyList::read(nestedArrays(BinaryPropertyList::DefaultMaxDepth));
    ASSERT_TRUE(atLimit.ok()) << atLimit.error().toString().toStdString();
    EXPECT_EQ(nestingOf(*atLimit), BinaryPropertyList::DefaultMaxDepth);
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(nestedArrays(BinaryPropertyList::DefaultMaxDepth + 1)),
                          BinaryPropertyList::TooDeep));
    // Far deeper than any stack would take recursively, with the bound raised.
    BinaryPropertyList::Limits deep;
    deep.maxDepth = 200000;
    const int levels = test::heavyScale(200000, 50000);
    const auto read = BinaryPropertyList::read(nestedArrays(levels), deep);
    ASSERT_TRUE(read.ok()) << read.error().toString().toStdString();
    EXPECT_EQ(nestingOf(*read), levels);
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(nestedArrays(levels)), BinaryPropertyList::TooDeep));
}

TEST(BinaryPropertyListMalformed, ASharedSubtreeCountsItsDepthAtEveryUse)
{
    // Object 1 is a chain of 300 arrays, first read right under the top array (depth 301);
    // object 301 starts a chain of 250 arrays whose innermost holds object 1 again (depth 551).
    std::vector<QByteArray> objects{arrayObject({1, 301}, 2)};
    for (int k = 0; k < 300; ++k)
        objects.push_back(k < 299 ? arrayObject({quint64(k + 2)}, 2) : arrayObject({}, 2));
    for (int k = 0; k < 250; ++k)
        objects.push_back(arrayObject({k < 249 ? quint64(302 + k) : quint64(1)}, 2));
    Layout layout;
    layout.refSize = 2;
    const QByteArray data = rawPlist(objects, layout);
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(data), BinaryPropertyList::TooDeep));
    BinaryPropertyList::Limits roomy;
    roomy.maxDepth = 551;
    EXPECT_TRUE(BinaryPropertyList::read(data, roomy).ok());
}

TEST(BinaryPropertyListMalformed, ExponentialSharingIsRefusedQuickly)
{
    // 60 levels of [x, x]: 2^60 values once expanded, in 61 objects.
    std::vector<QByteArray> objects;
    for (int k = 0; k < 60; ++k)
        objects.push_back(arrayObject({quint64(k + 1), quint64(k + 1)}));
    objects.push_back(asciiObject("lol"));
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist(objects)), BinaryPropertyList::LimitExceeded));

    // Sharing within the limits stays legal.
    objects.erase(objects.begin(), objects.begin() + 50); // 10 levels: 2^11 - 1 values
    const auto read = BinaryPropertyList::read(rawPlist([&] {
        std::vector<QByteArray> renumbered;
        for (int k = 0; k < 10; ++k)
            renumbered.push_back(arrayObject({quint64(k + 1), quint64(k + 1)}));
        renumbered.push_back(asciiObject("ok"));
        return renumbered;
    }()));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(nestingOf(*read), 10);
}

TEST(BinaryPropertyListMalformed, SixteenByteIntegersMustFit64Bits)
{
    auto int16 = [](quint64 high, quint64 low) {
        return rawPlist({QByteArray(1, char(0x14)) + bigEndian(high, 8) + bigEndian(low, 8)});
    };
    auto seven = BinaryPropertyList::read(int16(0, 7));
    ASSERT_TRUE(seven.ok());
    EXPECT_EQ(*seven, PlistValue(7));
    auto negative = BinaryPropertyList::read(int16(~quint64(0), quint64(-2)));
    ASSERT_TRUE(negative.ok());
    EXPECT_EQ(*negative, PlistValue(-2));
    auto unsignedMax = BinaryPropertyList::read(int16(0, ~quint64(0)));
    ASSERT_TRUE(unsignedMax.ok());
    EXPECT_EQ(unsignedMax->toUnsigned(), ~quint64(0));

    EXPECT_TRUE(failsWith(BinaryPropertyList::read(int16(1, 0)), BinaryPropertyList::CorruptObject));
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(int16(~quint64(0), 5)), BinaryPropertyList::CorruptObject))
        << "a sign extension over a positive low half";
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist({QByteArray(1, char(0x15)) + QByteArray(32, '\0')})),
                  BinaryPropertyList::CorruptObject))
        << "32-byte integers do not exist";
}

TEST(BinaryPropertyListMalformed, Utf16StringsEndingInsideAUnitAreRefused)
{
    // Three units announced, five bytes present before the table.
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist({bytes({0x63, 0x00, 0x41, 0x00, 0x42, 0x00})})),
                          BinaryPropertyList::CorruptObject));
    // A lone surrogate is kept as the unit it is.
    const auto lone = BinaryPropertyList::read(rawPlist({bytes({0x61, 0xD8, 0x00})}));
    ASSERT_TRUE(lone.ok());
    EXPECT_EQ(lone->toString(), QString(QChar(0xD800)));
    // ASCII strings with high bytes read as Latin-1 rather than failing.
    const auto high = BinaryPropertyList::read(rawPlist({bytes({0x52, 0xE9, 0xFF})}));
    ASSERT_TRUE(high.ok());
    EXPECT_EQ(high->toString(), QStringLiteral("\u00e9\u00ff"));
}

TEST(BinaryPropertyListMalformed, UnknownMarkersTruncatedObjectsAndBadKeysAreRefused)
{
    for (const QByteArray& object :
         {bytes({0x70, 0x00}), bytes({0x0F}), bytes({0x01}), bytes({0x21, 0x00, 0x00}), bytes({0x24}),
          bytes({0x34}), bytes({0x90}), bytes({0xE0}), bytes({0xF0})}) {
        EXPECT_TRUE(
            failsWith(BinaryPropertyList::read(rawPlist({object})), BinaryPropertyList::CorruptObject))
            << "object " << object.toHex().toStdString();
    }
    for (const QByteArray& truncated :
         {bytes({0x13, 0x00, 0x00}), bytes({0x23, 0x00}), bytes({0x33}), bytes({0x22, 0x00}),
          bytes({0x14, 0x00}), bytes({0x83, 0x00}), bytes({0x45, 'a'}), bytes({0x4F, 0x11, 0x00})}) {
        EXPECT_TRUE(
            failsWith(BinaryPropertyList::read(rawPlist({truncated})), BinaryPropertyList::CorruptObject))
            << "object " << truncated.toHex().toStdString();
    }
    // Keys must be strings: an integer, a container.
    EXPECT_TRUE(failsWith(BinaryPropertyList::read(rawPlist({dictObject({1, 1}), intObject(3)})),
                          BinaryPropertyList::CorruptObject));
    EXPECT_TRUE(
        failsWith(BinaryPropertyList::read(rawPlist({dictObject({1, 2}), arrayObject({}), intObject(3)})),
                  BinaryPropertyList::CorruptObject));
    // UIDs take up to 16 bytes; values beyond 64 bits are refused.
    EXPECT_TRUE(failsWith(
        BinaryPropertyList::read(rawPlist({QByteArray(1, char(0x8F)) + bytes({1}) + QByteArray(15, '\0')})),
        BinaryPropertyList::CorruptObject));
    const auto wideUid = BinaryPropertyList::read(
        rawPlist({QByteArray(1, char(0x8F)) + QByteArray(14, '\0') + bytes({1, 2})}));
    ASSERT_TRUE(wideUid.ok());
    EXPECT_EQ(*wideUid, PlistValue::uid(258));
}

TEST(BinaryPropertyListMalformed, RepeatedKeysKeepTheFirstPositionAndTheLastValue)
{
    const auto read =
        BinaryPropertyList::read(rawPlist({dictObject({1, 2, 1, 3, 4, 5}), asciiObject("a"), asciiObject("b"),
                                           intObject(1), intObject(2), intObject(3)}));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->toDictionary().keys(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(read->value(QStringLiteral("a")), PlistValue(3));
    EXPECT_EQ(read->value(QStringLiteral("b")), PlistValue(2));
}

TEST(BinaryPropertyListMalformed, EverySingleByteChangeReadsOrFailsCleanly)
{
    const QByteArray valid = readFile(keyedFixtureDir() + QStringLiteral("/primitives.bplist"));
    ASSERT_FALSE(valid.isEmpty());
    const std::vector<int> replacements =
        test::isSanitized() ? std::vector<int>{0x00, 0xFF} : std::vector<int>{0x00, 0x7F, 0xFF};
    int failures = 0;
    for (qsizetype at = 0; at < valid.size(); ++at) {
        for (int replacement : replacements) {
            QByteArray changed = valid;
            changed[at] = char(replacement);
            const auto read = BinaryPropertyList::read(changed);
            if (!read.ok()) {
                ++failures;
                ASSERT_EQ(read.error().domain(), BinaryPropertyList::ErrorDomain);
                continue;
            }
            // Whatever reads must write and read back the same.
            const auto written = BinaryPropertyList::write(*read);
            ASSERT_TRUE(written.ok()) << "at " << at;
            const auto again = BinaryPropertyList::read(*written);
            ASSERT_TRUE(again.ok()) << "at " << at;
            if (!(*again == *read)) {
                // NaN differs from itself; anything else must compare equal.
                EXPECT_TRUE(describe(*again) == describe(*read)) << "at " << at;
            }
        }
    }
    EXPECT_GT(failures, 0);
}
