#include "platform/core/KeyedArchive.h"
#include "platform/core/KeyedArchiver.h"
#include "platform/core/KeyedUnarchiver.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestDates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>

using namespace corvex;
using corvex::test::utc;

namespace {

// The picture wrapper's shape: one unkeyed data object.
class Blob : public Codable
{
public:
    explicit Blob(QByteArray bytes = {}) : mBytes(std::move(bytes)) {}
    QString className() const override { return QStringLiteral("KeyedCoderTestBlob"); }
    void encodeWithCoder(Encoder& coder) const override { coder.encodeDataObject(mBytes); }
    QByteArray mBytes;
};

class Note : public Codable
{
public:
    QString className() const override { return QStringLiteral("KeyedCoderTestNote"); }
    void encodeWithCoder(Encoder& coder) const override
    {
        coder.encodeString(mTitle, QStringLiteral("title"));
        coder.encodeInt(mCount, QStringLiteral("count"));
        coder.encodeInt64(mBig, QStringLiteral("big"));
        coder.encodeDouble(mScore, QStringLiteral("score"));
        coder.encodeBool(mStarred, QStringLiteral("starred"));
        coder.encodeDate(mModified, QStringLiteral("modified"));
        coder.encodeData(mThumbnail, QStringLiteral("thumbnail"));
        coder.encodeObject(mPicture, QStringLiteral("picture"));
        coder.encodeObjectList(mChildren, QStringLiteral("children"));
        coder.encodeValue(mTags, QStringLiteral("tags"));
        coder.encodeObject(mFriend, QStringLiteral("friend"));
    }

    static CodablePtr decode(Decoder& coder)
    {
        auto note = std::make_shared<Note>();
        note->mTitle = coder.decodeStringForKey(QStringLiteral("title")).value_or(QString());
        note->mCount = coder.decodeIntForKey(QStringLiteral("count"));
        note->mBig = coder.decodeInt64ForKey(QStringLiteral("big"));
        note->mScore = coder.decodeDoubleForKey(QStringLiteral("score"));
        note->mStarred = coder.decodeBoolForKey(QStringLiteral("starred"));
        note->mModified = coder.decodeDateForKey(QStringLiteral("modified")).value_or(QDateTime());
        note->mThumbnail = coder.decodeDataForKey(QStringLiteral("thumbnail"));
        note->mPicture = coder.decodeObjectOfClass<Blob>(QStringLiteral("picture"));
        note->mChildren = coder.decodeArrayOfClass<Note>(QStringLiteral("children"));
        note->mTags = coder.decodeObjectForKey(QStringLiteral("tags")).plain();
        note->mFriend = coder.decodeObjectOfClass<Note>(QStringLiteral("friend"));
        return note;
    }

    QString mTitle;
    qint32 mCount = 0;
    qint64 mBig = 0;
    double mScore = 0;
    bool mStarred = false;
    QDateTime mModified;
    QByteArray mThumbnail;
    std::shared_ptr<Blob> mPicture;
    std::vector<std::shared_ptr<Note>> mChildren;
    Value mTags;
    std::shared_ptr<Note> mFriend;
};

void registerTestClasses()
{
    CodableRegistry::registerClass(QStringLiteral("KeyedCoderTestBlob"), [](Decoder& coder) -> CodablePtr {
        return std::make_shared<Blob>(coder.decodeDataObject());
    });
    CodableRegistry::registerClass(QStringLiteral("KeyedCoderTestNote"), &Note::decode);
}

std::shared_ptr<Note> sampleNote()
{
    auto note = std::make_shared<Note>();
    note->mTitle = QStringLiteral("Caf\u00e9 \U0001F600");
    note->mCount = -42;
    note->mBig = -1099511627777;
    note->mScore = 0.25;
    note->mStarred = true;
    note->mModified = utc(2026, 12, 7, 10, 15, 42, 500);
    note->mThumbnail = QByteArray("\x01\x00\xff\x80", 4);
    note->mPicture = std::make_shared<Blob>(QByteArray("\x89PNG\r\n", 6));
    auto child = std::make_shared<Note>();
    child->mTitle = QStringLiteral("child");
    note->mChildren = {child, std::make_shared<Note>()};
    note->mTags = Value(ValueArray{Value(QStringLiteral("home")), Value(ValueArray{Value(1), Value(2.5)}),
                                   Value(ValueDictionary{{QStringLiteral("weight"), Value(2)}})});
    return note;
}

// What an archive reads back as, through our own reader.
std::shared_ptr<Note> codedRoundTrip(const CodablePtr& object)
{
    const auto bytes = KeyedArchiver::archivedDataWithRootObject(object);
    EXPECT_TRUE(bytes.ok()) << bytes.error().toString().toStdString();
    if (!bytes.ok())
        return nullptr;
    return KeyedUnarchiver::unarchiveObjectWithData(*bytes).objectAs<Note>();
}

} // namespace

// --- Writing and reading back -----------------------------------------------------------------

TEST(KeyedCoderRoundTrip, EveryKindOfValueReadsBackAsWritten)
{
    registerTestClasses();
    const auto written = sampleNote();
    const auto read = codedRoundTrip(written);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->mTitle, written->mTitle);
    EXPECT_EQ(read->mCount, -42);
    EXPECT_EQ(read->mBig, -1099511627777);
    EXPECT_EQ(read->mScore, 0.25);
    EXPECT_TRUE(read->mStarred);
    // Dates keep their milliseconds in a keyed archive (seconds as a real number).
    EXPECT_EQ(read->mModified, written->mModified)
        << read->mModified.toString(Qt::ISODateWithMs).toStdString();
    EXPECT_EQ(read->mThumbnail, written->mThumbnail);
    ASSERT_TRUE(read->mPicture);
    EXPECT_EQ(read->mPicture->mBytes, written->mPicture->mBytes);
    ASSERT_EQ(read->mChildren.size(), 2u);
    EXPECT_EQ(read->mChildren[0]->mTitle, QStringLiteral("child"));
    EXPECT_TRUE(read->mChildren[1]->mTitle.isNull());
    EXPECT_EQ(read->mTags, written->mTags);
    EXPECT_FALSE(read->mFriend);
}

TEST(KeyedCoderRoundTrip, ObjectsAreInstancesOfTheirClassBelowNSObjectAndTheDataObjectIsUnderDollarZero)
{
    registerTestClasses();
    KeyedArchiver archiver;
    archiver.encodeObject(sampleNote(), QStringLiteral("note"));
    ASSERT_FALSE(archiver.failed());
    const auto bytes = archiver.encodedData();
    ASSERT_TRUE(bytes.ok());
    const auto top = KeyedArchive::unarchive(*bytes);
    ASSERT_TRUE(top.ok()) << top.error().toString().toStdString();
    const auto note = top->value(QStringLiteral("note")).object();
    ASSERT_TRUE(note);
    EXPECT_EQ(note->className(), QStringLiteral("KeyedCoderTestNote"));
    EXPECT_EQ(note->classes(),
              (QStringList{QStringLiteral("KeyedCoderTestNote"), QStringLiteral("NSObject")}));
    EXPECT_EQ(note->value(QStringLiteral("modified")).kind(), ArchivedValue::Kind::Date);
    EXPECT_EQ(note->value(QStringLiteral("thumbnail")).kind(), ArchivedValue::Kind::Data);
    EXPECT_EQ(note->value(QStringLiteral("starred")).kind(), ArchivedValue::Kind::Bool);
    EXPECT_EQ(note->value(QStringLiteral("children")).kind(), ArchivedValue::Kind::Array);
    const auto picture = note->value(QStringLiteral("picture")).object();
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->keys(), QStringList{QStringLiteral("$0")});
    EXPECT_EQ(picture->value(QStringLiteral("$0")).toData(), QByteArray("\x89PNG\r\n", 6));
}

TEST(KeyedCoderRoundTrip, AbsentValuesAndEmptyListsWriteNoKey)
{
    registerTestClasses();
    KeyedArchiver archiver;
    archiver.encodeObject(std::make_shared<Note>(), QStringLiteral("note"));
    archiver.encodeString(QString(), QStringLiteral("nullText"));
    archiver.encodeData(QByteArray(), QStringLiteral("nullData"));
    archiver.encodeDate(QDateTime(), QStringLiteral("noDate"));
    archiver.encodeObjects({nullptr, nullptr}, QStringLiteral("onlyNulls"));
    archiver.encodeValue(Value(), QStringLiteral("null"));
    archiver.encodeData(QByteArray(""), QStringLiteral("emptyData"));
    EXPECT_EQ(archiver.top().keys(), (QStringList{QStringLiteral("note"), QStringLiteral("emptyData")}));
    const auto note = archiver.top().value(QStringLiteral("note")).object();
    ASSERT_TRUE(note);
    // Numbers and booleans are always written; nothing else of an empty note is.
    EXPECT_EQ(note->keys(), (QStringList{QStringLiteral("count"), QStringLiteral("big"),
                                         QStringLiteral("score"), QStringLiteral("starred")}));

    KeyedUnarchiver reader(*archiver.encodedData());
    ASSERT_TRUE(reader.isValid());
    const QByteArray empty = reader.decodeDataForKey(QStringLiteral("emptyData"));
    EXPECT_FALSE(empty.isNull()) << "stored empty data reads as empty, not as missing";
    EXPECT_TRUE(empty.isEmpty());
}

TEST(KeyedCoderRoundTrip, AnObjectUsedTwiceIsArchivedOnceAndReadBackAsOneObject)
{
    registerTestClasses();
    auto shared = std::make_shared<Note>();
    shared->mTitle = QStringLiteral("shared");
    auto first = std::make_shared<Note>();
    first->mFriend = shared;
    auto second = std::make_shared<Note>();
    second->mFriend = shared;
    auto root = std::make_shared<Note>();
    root->mChildren = {first, second};

    KeyedArchiver archiver;
    archiver.encodeObject(root, KeyedArchiver::RootKey);
    const auto archivedRoot = archiver.top().value(KeyedArchiver::RootKey).object();
    ASSERT_TRUE(archivedRoot);
    const ArchivedArray& children = archivedRoot->value(QStringLiteral("children")).toArray();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0].object()->value(QStringLiteral("friend")).object(),
              children[1].object()->value(QStringLiteral("friend")).object());

    const auto read = codedRoundTrip(root);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->mChildren.size(), 2u);
    ASSERT_TRUE(read->mChildren[0]->mFriend);
    EXPECT_EQ(read->mChildren[0]->mFriend, read->mChildren[1]->mFriend);
    EXPECT_EQ(read->mChildren[0]->mFriend->mTitle, QStringLiteral("shared"));
}

TEST(KeyedCoderRoundTrip, TemporaryObjectsAtARecycledAddressAreNotTakenForOneAnother)
{
    registerTestClasses();
    // Objects made inside encodeWithCoder and dropped at once may reuse one address.
    class Maker : public Codable
    {
    public:
        QString className() const override { return QStringLiteral("KeyedCoderTestNote"); }
        void encodeWithCoder(Encoder& coder) const override
        {
            for (int index = 0; index < 8; ++index)
                coder.encodeObject(std::make_shared<Blob>(QByteArray::number(index)),
                                   QStringLiteral("blob%1").arg(index));
        }
    };
    KeyedArchiver archiver;
    archiver.encodeObject(std::make_shared<Maker>(), QStringLiteral("maker"));
    const auto maker = archiver.top().value(QStringLiteral("maker")).object();
    ASSERT_TRUE(maker);
    for (int index = 0; index < 8; ++index) {
        const auto blob = maker->value(QStringLiteral("blob%1").arg(index)).object();
        ASSERT_TRUE(blob) << index;
        EXPECT_EQ(blob->value(KeyedArchiver::DataObjectKey).toData(), QByteArray::number(index)) << index;
    }
}

// --- Failures while writing --------------------------------------------------------------------

TEST(KeyedCoderWriting, ACircularReferenceFailsTheArchiveAndWritesNothingMore)
{
    registerTestClasses();
    auto a = std::make_shared<Note>();
    auto b = std::make_shared<Note>();
    a->mFriend = b;
    b->mFriend = a;
    KeyedArchiver archiver;
    archiver.encodeObject(a, QStringLiteral("a"));
    archiver.encodeString(QStringLiteral("late"), QStringLiteral("late"));
    EXPECT_TRUE(archiver.failed());
    EXPECT_EQ(archiver.error().domain(), KeyedArchiver::ErrorDomain);
    EXPECT_EQ(archiver.error().code(), KeyedArchiver::CircularReference);
    EXPECT_TRUE(
        archiver.errorString().startsWith(QStringLiteral("Found circular reference for <KeyedCoderTestNote")))
        << archiver.errorString().toStdString();
    EXPECT_FALSE(archiver.top().contains(QStringLiteral("late")));
    const auto bytes = archiver.encodedData();
    ASSERT_FALSE(bytes.ok());
    EXPECT_EQ(bytes.error().code(), KeyedArchiver::CircularReference);
    a->mFriend.reset(); // break the cycle so the test leaks nothing
}

TEST(KeyedCoderWriting, NestingBeyondTheArchiveLimitFailsWithoutExhaustingTheStack)
{
    registerTestClasses();
    auto root = std::make_shared<Note>();
    auto current = root;
    for (int level = 0; level < KeyedArchive::DefaultMaxDepth + 10; ++level) {
        auto next = std::make_shared<Note>();
        current->mFriend = next;
        current = next;
    }
    const auto bytes = KeyedArchiver::archivedDataWithRootObject(root);
    ASSERT_FALSE(bytes.ok());
    EXPECT_EQ(bytes.error().domain(), KeyedArchiver::ErrorDomain);
    EXPECT_EQ(bytes.error().code(), KeyedArchiver::TooDeep);
    // Unlink iteratively: the chain's destructor would otherwise recurse once per level.
    while (root) {
        auto next = std::move(root->mFriend);
        root = std::move(next);
    }
}

TEST(KeyedCoderWriting, AnExceptionLeavingEncodeWithCoderFailsTheArchive)
{
    class Throwing : public Codable
    {
    public:
        QString className() const override { return QStringLiteral("Throwing"); }
        void encodeWithCoder(Encoder&) const override { throw std::runtime_error("no"); }
    };
    KeyedArchiver archiver;
    archiver.encodeObject(std::make_shared<Throwing>(), QStringLiteral("thrower"));
    EXPECT_TRUE(archiver.failed());
    EXPECT_EQ(archiver.error().code(), KeyedArchiver::EncodingFailed);
    EXPECT_FALSE(archiver.encodedData().ok());
}

// --- Reading ---------------------------------------------------------------------------------

TEST(KeyedCoderReading, OnlyRegisteredClassesAreMadeAndOthersReadAsMissing)
{
    registerTestClasses();
    auto unknown = ArchivedObject::create(QStringLiteral("NotRegistered"));
    unknown->set(QStringLiteral("title"), QStringLiteral("x"));
    auto known = ArchivedObject::create(QStringLiteral("KeyedCoderTestNote"));
    known->set(QStringLiteral("title"), QStringLiteral("known"));
    known->set(QStringLiteral("friend"), unknown);
    ArchivedTop top{{QStringLiteral("unknown"), unknown},
                    {QStringLiteral("known"), known},
                    {QStringLiteral("list"), ArchivedArray{unknown, known}}};
    test::LogCapture log;
    KeyedUnarchiver reader(top);
    EXPECT_TRUE(reader.decodeObjectForKey(QStringLiteral("unknown")).isNone());
    const auto note = reader.decodeObjectOfClass<Note>(QStringLiteral("known"));
    ASSERT_TRUE(note);
    EXPECT_EQ(note->mTitle, QStringLiteral("known"));
    EXPECT_FALSE(note->mFriend);
    const CodedValue list = reader.decodeObjectForKey(QStringLiteral("list"));
    ASSERT_TRUE(list.isList());
    ASSERT_EQ(list.list().size(), 2u);
    EXPECT_TRUE(list.list()[0].isNone());
    EXPECT_EQ(list.list()[1].objectAs<Note>(), note) << "one archived object decodes to one object";
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(log.count(QStringLiteral("NotRegistered")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(KeyedCoderReading, DataAndDateReadsAnswerWhatDecodeObjectFindsWhenItIsDataOrADate)
{
    ArchivedTop top{{QStringLiteral("data"), QByteArray("bytes")},
                    {QStringLiteral("date"), utc(2001, 1, 1, 0, 0, 1)},
                    {QStringLiteral("text"), QStringLiteral("2026-12-07 10:15:00 GMT")},
                    {QStringLiteral("number"), 7}};
    KeyedUnarchiver reader(top);
    EXPECT_EQ(reader.decodeDataForKey(QStringLiteral("data")), QByteArray("bytes"));
    EXPECT_EQ(reader.decodeObjectForKey(QStringLiteral("data")).plain().toData(), QByteArray("bytes"));
    EXPECT_EQ(reader.decodeDateForKey(QStringLiteral("date")), utc(2001, 1, 1, 0, 0, 1));
    EXPECT_EQ(reader.decodeObjectForKey(QStringLiteral("date")).plain().toDate(), utc(2001, 1, 1, 0, 0, 1));
    // Other kinds are not converted: a text is no date, a date no data.
    EXPECT_FALSE(reader.decodeDateForKey(QStringLiteral("text")).has_value());
    EXPECT_TRUE(reader.decodeDataForKey(QStringLiteral("date")).isNull());
    EXPECT_TRUE(reader.decodeDataForKey(QStringLiteral("text")).isNull());
    EXPECT_TRUE(reader.decodeDataForKey(QStringLiteral("missing")).isNull());
    EXPECT_FALSE(reader.decodeDateForKey(QStringLiteral("number")).has_value());
}

TEST(KeyedCoderReading, TypedReadsTreatOtherTypesAndOutOfRangeNumbersAsMissing)
{
    ArchivedTop top{{QStringLiteral("text"), QStringLiteral("12")},
                    {QStringLiteral("huge"), std::numeric_limits<qint64>::max()},
                    {QStringLiteral("real"), 2.75},
                    {QStringLiteral("yes"), true},
                    {QStringLiteral("nil"), nullptr}};
    KeyedUnarchiver reader(top);
    EXPECT_EQ(reader.decodeIntForKey(QStringLiteral("text")), 0);
    EXPECT_FALSE(reader.decodeStringForKey(QStringLiteral("huge")).has_value());
    EXPECT_EQ(reader.decodeStringForKey(QStringLiteral("text")), QStringLiteral("12"));
    EXPECT_EQ(reader.decodeIntForKey(QStringLiteral("huge")), 0);
    EXPECT_EQ(reader.decodeInt64ForKey(QStringLiteral("huge")), std::numeric_limits<qint64>::max());
    EXPECT_EQ(reader.decodeIntForKey(QStringLiteral("real")), 2);
    EXPECT_EQ(reader.decodeDoubleForKey(QStringLiteral("real")), 2.75);
    EXPECT_EQ(reader.decodeIntForKey(QStringLiteral("yes")), 1);
    EXPECT_TRUE(reader.decodeBoolForKey(QStringLiteral("yes")));
    EXPECT_FALSE(reader.decodeBoolForKey(QStringLiteral("text")));
    EXPECT_FALSE(reader.containsValueForKey(QStringLiteral("nil")));
    EXPECT_TRUE(reader.decodeObjectForKey(QStringLiteral("nil")).isNone());
    EXPECT_TRUE(reader.containsValueForKey(QStringLiteral("text")));
    EXPECT_FALSE(reader.containsValueForKey(QStringLiteral("absent")));
}

TEST(KeyedCoderReading, BytesThatAreNoKeyedArchiveGiveAnInvalidReaderThatReadsNothing)
{
    KeyedUnarchiver reader(QByteArray("{\"root\": 1}"));
    EXPECT_FALSE(reader.isValid());
    EXPECT_FALSE(reader.error().isNull());
    EXPECT_FALSE(reader.containsValueForKey(QStringLiteral("root")));
    EXPECT_TRUE(reader.decodeObjectForKey(QStringLiteral("root")).isNone());
    EXPECT_TRUE(KeyedUnarchiver::unarchiveObjectWithData(QByteArray()).isNone());
}

TEST(KeyedCoderReading, AnExceptionLeavingAFactoryFailsTheDecodingAndLaterReadsAnswerNothing)
{
    CodableRegistry::registerClass(QStringLiteral("KeyedCoderTestThrows"),
                                   [](Decoder&) -> CodablePtr { throw std::runtime_error("bad data"); });
    ArchivedTop top{{QStringLiteral("bad"), ArchivedObject::create(QStringLiteral("KeyedCoderTestThrows"))},
                    {QStringLiteral("text"), QStringLiteral("fine")}};
    KeyedUnarchiver reader(top);
    EXPECT_EQ(reader.decodeStringForKey(QStringLiteral("text")), QStringLiteral("fine"));
    EXPECT_TRUE(reader.decodeObjectForKey(QStringLiteral("bad")).isNone());
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.error().code(), KeyedUnarchiver::DecodingFailed);
    EXPECT_TRUE(reader.errorString().contains(QStringLiteral("bad data")))
        << reader.errorString().toStdString();
    EXPECT_FALSE(reader.decodeStringForKey(QStringLiteral("text")).has_value());
}

TEST(KeyedCoderReading, AHandMadeObjectInsideItselfReadsAsMissing)
{
    registerTestClasses();
    auto loop = ArchivedObject::create(QStringLiteral("KeyedCoderTestNote"));
    loop->set(QStringLiteral("friend"), loop);
    KeyedUnarchiver reader(ArchivedTop{{QStringLiteral("loop"), loop}});
    const auto note = reader.decodeObjectOfClass<Note>(QStringLiteral("loop"));
    ASSERT_TRUE(note);
    EXPECT_FALSE(note->mFriend);
    loop->set(QStringLiteral("friend"), nullptr); // break the cycle so the test leaks nothing
}

// The plistlib-made fixture read through the coder interface, by classes written the way the
// model's classes are: keyed reads, data and dates through decodeData/DateForKey, the
// picture's bytes as the unkeyed data object.
namespace {

class FixtureImage : public Codable
{
public:
    QString className() const override { return QStringLiteral("PortableImage"); }
    void encodeWithCoder(Encoder& coder) const override { coder.encodeDataObject(mBytes); }
    QByteArray mBytes;
};

class FixtureIcon : public Codable
{
public:
    QString className() const override { return QStringLiteral("IconImage"); }
    void encodeWithCoder(Encoder&) const override {}
    QString mSymbol;
    QString mName;
};

class FixtureProxy : public Codable
{
public:
    QString className() const override { return QStringLiteral("IdeaProxy"); }
    void encodeWithCoder(Encoder&) const override {}
    QString mDocIdentifier;
    QString mTitle;
    qint32 mIdeaCount = 0;
    qint64 mBigCount = 0;
    double mScore = 0;
    bool mStarred = false;
    QDateTime mModified;
    QByteArray mThumbnail;
    std::shared_ptr<FixtureImage> mImage;
    std::shared_ptr<FixtureIcon> mIcon;
    Value mTags;
    bool mHasNote = true;
};

void registerFixtureClasses()
{
    CodableRegistry::registerClass(QStringLiteral("PortableImage"), [](Decoder& coder) -> CodablePtr {
        auto image = std::make_shared<FixtureImage>();
        image->mBytes = coder.decodeDataObject();
        return image;
    });
    CodableRegistry::registerClass(QStringLiteral("IconImage"), [](Decoder& coder) -> CodablePtr {
        auto icon = std::make_shared<FixtureIcon>();
        icon->mSymbol = coder.decodeStringForKey(QStringLiteral("symbol")).value_or(QString());
        icon->mName = coder.decodeStringForKey(QStringLiteral("name")).value_or(QString());
        return icon;
    });
    CodableRegistry::registerClass(QStringLiteral("IdeaProxy"), [](Decoder& coder) -> CodablePtr {
        auto proxy = std::make_shared<FixtureProxy>();
        proxy->mDocIdentifier = coder.decodeStringForKey(QStringLiteral("docIdentifier")).value_or(QString());
        proxy->mTitle = coder.decodeStringForKey(QStringLiteral("title")).value_or(QString());
        proxy->mIdeaCount = coder.decodeIntForKey(QStringLiteral("ideaCount"));
        proxy->mBigCount = coder.decodeInt64ForKey(QStringLiteral("bigCount"));
        proxy->mScore = coder.decodeDoubleForKey(QStringLiteral("score"));
        proxy->mStarred = coder.decodeBoolForKey(QStringLiteral("isStarred"));
        proxy->mModified = coder.decodeDateForKey(QStringLiteral("modified")).value_or(QDateTime());
        proxy->mThumbnail = coder.decodeDataForKey(QStringLiteral("thumbnail"));
        proxy->mImage = coder.decodeObjectOfClass<FixtureImage>(QStringLiteral("image"));
        proxy->mIcon = coder.decodeObjectOfClass<FixtureIcon>(QStringLiteral("iconImage"));
        proxy->mTags = coder.decodeObjectForKey(QStringLiteral("tags")).plain();
        proxy->mHasNote = coder.containsValueForKey(QStringLiteral("note"));
        return proxy;
    });
}

QByteArray readFixture(const QString& name)
{
    QFile file(QFileInfo(QStringLiteral(__FILE__))
                   .absoluteDir()
                   .absoluteFilePath(QStringLiteral("../../data/keyed/") + name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(KeyedCoderReading, ThePlistlibMadeIndexFixtureReadsThroughTheCoderInterface)
{
    registerFixtureClasses();
    const QByteArray bytes = readFixture(QStringLiteral("index.archive"));
    ASSERT_FALSE(bytes.isEmpty());
    KeyedUnarchiver reader(bytes);
    ASSERT_TRUE(reader.isValid()) << reader.errorString().toStdString();
    EXPECT_EQ(reader.decodeIntForKey(QStringLiteral("fileFormatVersion")), 1);
    EXPECT_EQ(reader.decodeStringForKey(QStringLiteral("appInstance")), QStringLiteral("9F1C2B3A-instance"));
    const auto proxies = reader.decodeArrayOfClass<FixtureProxy>(QStringLiteral("proxyList"));
    ASSERT_EQ(proxies.size(), 2u);

    const FixtureProxy& first = *proxies[0];
    EXPECT_EQ(first.mDocIdentifier, QStringLiteral("id731001_1.crvx"));
    EXPECT_EQ(first.mTitle, QStringLiteral("Plans for the garden"));
    EXPECT_EQ(first.mIdeaCount, 41);
    EXPECT_EQ(first.mBigCount, -1099511627777);
    EXPECT_EQ(first.mScore, 0.25);
    EXPECT_TRUE(first.mStarred);
    EXPECT_EQ(first.mModified, utc(2001, 1, 1, 0, 0, 0).addMSecs(694224000500));
    EXPECT_EQ(first.mThumbnail, QByteArray("\x01\x00\xff\x80", 4));
    ASSERT_TRUE(first.mImage);
    EXPECT_EQ(first.mImage->mBytes, QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgABAgMEBQYHCAkKCwwNDg8="));
    ASSERT_TRUE(first.mIcon);
    EXPECT_EQ(first.mIcon->mName, QStringLiteral("grinning face"));
    EXPECT_EQ(first.mIcon->mSymbol, QStringLiteral("\U0001F600"));
    EXPECT_FALSE(first.mHasNote) << "a stored nil is no value";
    EXPECT_EQ(first.mTags.at(0).toString(), QStringLiteral("home"));
    EXPECT_EQ(first.mTags.at(1).at(1).toReal(), 2.5);
    EXPECT_EQ(first.mTags.at(2).value(QStringLiteral("colour")).toString(), QStringLiteral("blue"));

    const FixtureProxy& second = *proxies[1];
    EXPECT_EQ(second.mTitle, QStringLiteral("Caf\u00e9 \u00fcber Stra\u00dfe \u2615"));
    EXPECT_FALSE(second.mStarred);
    EXPECT_EQ(second.mModified, utc(2001, 1, 1, 0, 0, 0).addMSecs(-86400250));
    // The icon both proxies share is one object.
    EXPECT_EQ(first.mIcon, second.mIcon);
}
