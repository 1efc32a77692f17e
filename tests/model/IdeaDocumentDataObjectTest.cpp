#include "model/IdeaDocumentDataObject.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/NonFatalErrorRecorder.h"
#include "model/OPMLParserInterface.h"
#include "platform/core/JsonText.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/support/LogCapture.h"

#include <QImage>
#include <QTimeZone>
#include <QUrl>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <zlib.h>

using namespace corvex;

namespace {

// Records the non-fatal errors raised while installed.
class RecordingErrorRecorder : public NonFatalErrorRecorder
{
public:
    void recordError(const Error& error) override
    {
        std::lock_guard lock(mMutex);
        mErrors.push_back(error);
    }
    std::vector<Error> errors() const
    {
        std::lock_guard lock(mMutex);
        return mErrors;
    }

private:
    mutable std::mutex mMutex;
    std::vector<Error> mErrors;
};

class ScopedRecorder
{
public:
    ScopedRecorder() : recorder(std::make_shared<RecordingErrorRecorder>())
    {
        mPrevious = NonFatalErrorRecorder::install(recorder);
    }
    ~ScopedRecorder() { NonFatalErrorRecorder::install(mPrevious); }
    std::shared_ptr<RecordingErrorRecorder> recorder;

private:
    std::shared_ptr<NonFatalErrorRecorder> mPrevious;
};

// A fixed wall clock for the dates "now" stands for.
class ScopedWallClock
{
public:
    explicit ScopedWallClock(double seconds)
    {
        mPrevious = Globals::setWallClock([seconds] { return seconds; });
    }
    ~ScopedWallClock() { Globals::setWallClock(mPrevious); }

private:
    Globals::WallClock mPrevious;
};

// An OPML parser stand-in: answers a fixed tree for any bytes, or nothing.
class FakeOPMLParser : public OPMLParserInterface
{
public:
    static std::atomic<int> calls;
    static bool yieldTree;
    std::shared_ptr<Idea> parseIdeaFromOPMLData(const QByteArray& data) override
    {
        ++calls;
        if (!yieldTree)
            return nullptr;
        auto root = Idea::initWithText(QStringLiteral("Outline"), QStringLiteral("idOPML_root"));
        EXPECT_TRUE(
            root->addIdea(Idea::initWithText(QString::fromUtf8(data.left(20)), QStringLiteral("idOPML_1"))));
        return root;
    }
};
std::atomic<int> FakeOPMLParser::calls{0};
bool FakeOPMLParser::yieldTree = true;

QImage checkerboard(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, ((x / 4 + y / 4) % 2) ? qRgb(200, 30, 30) : qRgb(20, 180, 90));
    return image;
}

// A tree of every idea type, built with the model's operations.
IdeaPtr sampleTree()
{
    auto root = Idea::initWithText(QStringLiteral("Root \u00e9\U0001F600"));
    root->setNote(QStringLiteral("First line\nsecond line"));
    root->setColor(ColorTheme::colorByName(QStringLiteral("red5")));
    root->setColorThemeType(ColorThemeTypeVaryingColors);
    root->setIconImage(IconImage::initWithName(QStringLiteral("rocket"), QStringLiteral("Travel & Places"),
                                               QStringLiteral("\U0001F680")));
    auto text = Idea::initWithText(QStringLiteral("Child"));
    auto grandchild = Idea::initWithText(QStringLiteral("Grandchild"));
    EXPECT_TRUE(text->addIdea(grandchild));
    auto picture =
        Idea::initWithImageAttachment(QVImage(checkerboard(320, 200)),
                                      ObjectID::createFromData(QByteArray("picture"), QStringLiteral("png")));
    auto web =
        Idea::initWithURL(QStringLiteral("https://example.com/x?y=1"), QVImage(checkerboard(100, 300)));
    auto link = Idea::initWithLinkToIdea(grandchild->identifier());
    for (const IdeaPtr& child : {text, picture, web, link})
        EXPECT_TRUE(root->addIdea(child));
    return root;
}

IdeaPtr chainOfLevels(int levels)
{
    auto root = Idea::initWithText(QStringLiteral("Level 1"));
    IdeaPtr last = root;
    for (int level = 2; level <= levels; ++level) {
        auto next = Idea::initWithText(QStringLiteral("Level %1").arg(level));
        EXPECT_TRUE(last->addIdea(next)) << level;
        last = next;
    }
    return root;
}

QByteArray chainPayload(int levels)
{
    QByteArray text = "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":4,\"idea\":";
    for (int level = 1; level <= levels; ++level) {
        text += "{\"identifier\":\"idD_" + QByteArray::number(level) + "\",\"ideaType\":1,\"text\":\"L\"";
        if (level < levels)
            text += ",\"ideas\":[";
    }
    text += "}";
    for (int level = 1; level < levels; ++level)
        text += "]}";
    return text + "}}";
}

Value parse(const QByteArray& json)
{
    auto parsed = JsonText::parse(json);
    EXPECT_TRUE(parsed.ok()) << parsed.error().toString().toStdString();
    return parsed.ok() ? parsed.value() : Value();
}

// A payload that holds itself: the encoder meets it again while encoding it.
class SelfHoldingPayload : public IdeaDocumentDataObject
{
public:
    std::weak_ptr<SelfHoldingPayload> self;
    void encodeWithCoder(Encoder& coder) const override
    {
        IdeaDocumentDataObject::encodeWithCoder(coder);
        coder.encodeObject(self.lock(), QStringLiteral("loop"));
    }
};

} // namespace

// ---- Readers

TEST(IdeaDocumentDataObjectReaders, TooShortOrUnrecognisedBytesReadAsNothing)
{
    EXPECT_EQ(IdeaDocumentDataObject::readFromSomeData(QByteArray()), nullptr);
    EXPECT_EQ(IdeaDocumentDataObject::readFromSomeData(QByteArray("{")), nullptr) << "one byte";
    EXPECT_EQ(IdeaDocumentDataObject::readFromSomeData(QByteArray("\x78\x9c", 2)), nullptr);
    EXPECT_EQ(IdeaDocumentDataObject::readFromSomeData(QByteArray("\x78\x9cgarbage after the header", 26)),
              nullptr);
    EXPECT_EQ(IdeaDocumentDataObject::readFromSomeData(QByteArray("{}")), nullptr);
}

TEST(IdeaDocumentDataObjectReaders, OnlyTheDefaultZlibHeaderSelectsTheCompressedForm)
{
    const QByteArray json = test::makePayloadJson(test::makeDocumentTree(20));
    ASSERT_NE(IdeaDocumentDataObject::readFromSomeData(json), nullptr);
    ASSERT_NE(IdeaDocumentDataObject::readFromSomeData(*Zlib::compress(json)), nullptr);
    // Streams of other levels (78 01, 78 DA) are read as JSON, and fail.
    for (const int level : {1, 9}) {
        QByteArray other(int(compressBound(uLong(json.size()))), Qt::Uninitialized);
        uLongf size = uLongf(other.size());
        ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(other.data()), &size,
                            reinterpret_cast<const Bytef*>(json.constData()), uLong(json.size()), level),
                  Z_OK);
        other.resize(qsizetype(size));
        EXPECT_NE(quint8(other[1]), 0x9C);
        EXPECT_EQ(IdeaDocumentDataObject::readFromSomeData(other), nullptr) << "level " << level;
    }
    EXPECT_EQ(IdeaDocumentDataObject::readFromCorvexData(json), nullptr) << "plain JSON is no zlib stream";
}

TEST(IdeaDocumentDataObjectReaders, OnlyVersionsOneToFourAreRead)
{
    const QByteArray json = test::makePayloadJson(test::makeDocumentTree(5));
    for (const int version : {-1, 0, 1, 2, 3, 4, 5, 100}) {
        QByteArray changed = json;
        changed.replace("\"fileFormatVersion\":4", "\"fileFormatVersion\":" + QByteArray::number(version));
        const auto payload = IdeaDocumentDataObject::readFromJSONData(changed);
        EXPECT_EQ(payload != nullptr, version >= 1 && version <= 4) << "version " << version;
        if (payload) {
            EXPECT_EQ(payload->fileFormatVersion(), version);
        }
    }
}

TEST(IdeaDocumentDataObjectReaders, APayloadWithoutARootIdeaIsNoDocument)
{
    EXPECT_EQ(IdeaDocumentDataObject::readFromJSONData("{\"ideaDocumentDataObject\":{\"fileFormatVersion\":4,"
                                                       "\"dateCreated\":\"2024-01-02 03:04:00 GMT\"}}"),
              nullptr);
    EXPECT_EQ(IdeaDocumentDataObject::readFromJSONData(
                  "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":4,\"idea\":7}}"),
              nullptr);
}

TEST(IdeaDocumentDataObjectReaders, AnotherRootObjectIsNoPayload)
{
    EXPECT_EQ(IdeaDocumentDataObject::readFromJSONData("{\"idea\":{\"identifier\":\"x\",\"ideaType\":1}}"),
              nullptr);
    EXPECT_EQ(IdeaDocumentDataObject::readFromJSONData("{\"iconImage\":{\"name\":\"x\"}}"), nullptr);
}

TEST(IdeaDocumentDataObjectReaders, UnreadableJsonLogsTheParseError)
{
    test::LogCapture log;
    EXPECT_EQ(IdeaDocumentDataObject::readFromJSONData("{\"ideaDocumentDataObject\":"), nullptr);
    EXPECT_TRUE(log.contains(QStringLiteral("NSJSONSerialization: Error")))
        << log.lines().join(u'\n').toStdString();
}

TEST(IdeaDocumentDataObjectReaders, AnOpmlPayloadIsNoJson)
{
    const QByteArray opml(
        "<?xml version=\"1.0\"?><opml version=\"2.0\"><body><outline text=\"A\"/></body></opml>");
    EXPECT_EQ(IdeaDocumentDataObject::readFromJSONData(opml), nullptr);
    EXPECT_EQ(IdeaDocumentDataObject::readFromSomeData(opml), nullptr);
}

TEST(IdeaDocumentDataObjectReaders, WithoutAnInstalledParserOpmlReadsAsNothingAndIsLoggedOnce)
{
    ASSERT_FALSE(OPMLParserInterface::isInstalled());
    test::LogCapture log;
    const QByteArray json = test::makePayloadJson(test::makeDocumentTree(3));
    // The name decides, whatever the bytes hold.
    EXPECT_EQ(IdeaDocumentDataObject::readFromUnknownData(
                  json, QUrl::fromLocalFile(QStringLiteral("/d/outline.XML"))),
              nullptr);
    EXPECT_EQ(IdeaDocumentDataObject::readFromOPML(QByteArray("<opml/>")), nullptr);
    EXPECT_EQ(log.count(QStringLiteral("no OPML parser is installed")), 1);
    EXPECT_NE(IdeaDocumentDataObject::readFromUnknownData(
                  json, QUrl::fromLocalFile(QStringLiteral("/d/outline.corvex"))),
              nullptr);
}

TEST(IdeaDocumentDataObjectReaders, OpmlGoesThroughTheInstalledParserAndIsDatedNow)
{
    const ScopedWallClock clock(1700000000.75);
    FakeOPMLParser::calls = 0;
    FakeOPMLParser::yieldTree = true;
    OPMLParserInterface::installFactory([] { return std::make_unique<FakeOPMLParser>(); });
    // The bytes of a JSON document under an OPML name: the name decides.
    const QByteArray json = test::makePayloadJson(test::makeDocumentTree(3));
    const auto payload = IdeaDocumentDataObject::readFromUnknownData(
        json, QUrl::fromLocalFile(QStringLiteral("/d/Outline.Opml")));
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(FakeOPMLParser::calls.load(), 1);
    EXPECT_EQ(payload->idea()->identifier(), QStringLiteral("idOPML_root"));
    EXPECT_EQ(payload->fileFormatVersion(), 0);
    EXPECT_TRUE(payload->appInstance().isNull());
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(1700000000750, Qt::UTC);
    EXPECT_EQ(payload->dateCreated(), now);
    EXPECT_EQ(payload->dateModified(), payload->dateCreated());

    FakeOPMLParser::yieldTree = false;
    EXPECT_EQ(IdeaDocumentDataObject::readFromOPML(QByteArray("<opml/>")), nullptr) << "no tree, no payload";
    OPMLParserInterface::installFactory({});
    EXPECT_FALSE(OPMLParserInterface::isInstalled());
}

TEST(IdeaDocumentDataObjectReaders, ReadersRunOnSeveralThreadsAtOnce)
{
    const QByteArray json = test::makePayloadJson(test::makeDocumentTree(200));
    const QByteArray compressed = *Zlib::compress(json);
    const QString expected = IdeaDocumentDataObject::readFromSomeData(json)->idea()->debugDescription();
    std::atomic<int> matches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 5; ++round) {
                const auto payload = IdeaDocumentDataObject::readFromSomeData(t % 2 ? json : compressed);
                if (payload && payload->idea()->debugDescription() == expected)
                    ++matches;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(matches.load(), 6 * 5);
}

// ---- Writing

TEST(IdeaDocumentDataObjectWriting, APayloadForWritingIsVersionFourWithTheDateRules)
{
    const ScopedWallClock clock(1600000000.0);
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1600000000, Qt::UTC);
    const QDateTime created(QDate(2020, 1, 2), QTime(3, 4, 5), Qt::UTC);
    const QDateTime modified(QDate(2020, 5, 6), QTime(7, 8, 9), Qt::UTC);
    auto root = Idea::initWithText(QStringLiteral("Root"));

    auto both = IdeaDocumentDataObject::payloadForWriting(root, created, modified);
    EXPECT_EQ(both->fileFormatVersion(), 4);
    EXPECT_EQ(both->idea(), root);
    EXPECT_EQ(both->dateCreated(), created);
    EXPECT_EQ(both->dateModified(), modified);

    auto noCreation = IdeaDocumentDataObject::payloadForWriting(root, QDateTime(), modified);
    EXPECT_EQ(noCreation->dateCreated(), modified) << "the creation date falls back to the modification date";

    auto none = IdeaDocumentDataObject::payloadForWriting(root, QDateTime(), QDateTime());
    EXPECT_EQ(none->dateModified(), now);
    EXPECT_EQ(none->dateCreated(), now);
}

TEST(IdeaDocumentDataObjectWriting, ThePlainFormHasTheDocumentShape)
{
    auto payload = IdeaDocumentDataObject::payloadForWriting(
        sampleTree(), QDateTime(QDate(2026, 12, 7), QTime(10, 15, 42), Qt::UTC),
        QDateTime(QDate(2026, 12, 7), QTime(11, 16, 59), QTimeZone(3600)));
    payload->setAppInstance(QStringLiteral("MAC_1.000000")); // the writer names the running instance
    const auto json = payload->jsonData();
    ASSERT_TRUE(json.ok()) << json.error().toString().toStdString();
    const Value top = parse(json.value());
    ASSERT_EQ(top.size(), 1);
    const Value& body = top.value(QStringLiteral("ideaDocumentDataObject"));
    EXPECT_EQ(body.value(QStringLiteral("fileFormatVersion")), Value(4));
    EXPECT_EQ(body.value(QStringLiteral("dateCreated")), Value(QStringLiteral("2026-12-07 10:15:00 GMT")));
    EXPECT_EQ(body.value(QStringLiteral("dateModified")), Value(QStringLiteral("2026-12-07 10:16:00 GMT")));
    EXPECT_EQ(body.value(QStringLiteral("appInstance")), Value(Globals::appInstance()));
    EXPECT_TRUE(Globals::appInstance().startsWith(QStringLiteral("MAC_")));
    const Value& idea = body.value(QStringLiteral("idea"));
    EXPECT_EQ(idea.value(QStringLiteral("ideaType")), Value(1));
    EXPECT_EQ(idea.value(QStringLiteral("color")), Value(QStringLiteral("red5")));
    EXPECT_EQ(idea.value(QStringLiteral("colorThemeType")), Value(2));
    EXPECT_EQ(idea.value(QStringLiteral("iconImage")).value(QStringLiteral("symbol")),
              Value(QStringLiteral("\U0001F680")));
    ASSERT_EQ(idea.value(QStringLiteral("ideas")).size(), 4);
    const Value& link = idea.value(QStringLiteral("ideas")).at(3);
    EXPECT_EQ(link.size(), 3) << "a link idea writes only identifier, type and target: "
                              << JsonText::serialize(link).toStdString();
    EXPECT_EQ(link.value(QStringLiteral("ideaType")), Value(4));
    const Value& leaf = idea.value(QStringLiteral("ideas")).at(1);
    EXPECT_FALSE(leaf.toDictionary().contains(QStringLiteral("ideas"))) << "no children, no key";
    EXPECT_TRUE(leaf.value(QStringLiteral("image")).isString());
}

TEST(IdeaDocumentDataObjectWriting, TheCompressedFormIsTheDeflatedPlainForm)
{
    auto payload = IdeaDocumentDataObject::payloadForWriting(sampleTree(), QDateTime(), QDateTime());
    const auto plain = payload->jsonData();
    const auto compressed = payload->corvexData();
    ASSERT_TRUE(plain.ok() && compressed.ok());
    EXPECT_EQ(quint8(compressed.value()[0]), 0x78);
    EXPECT_EQ(quint8(compressed.value()[1]), 0x9C);
    EXPECT_EQ(Zlib::inflate(compressed.value()).value(), plain.value());
}

TEST(IdeaDocumentDataObjectWriting, ACircularReferenceFailsTheWriteVisiblyWithoutAnException)
{
    const ScopedRecorder recorder;
    test::LogCapture log;
    auto payload = std::make_shared<SelfHoldingPayload>();
    payload->self = payload;
    payload->setFileFormatVersion(4);
    payload->setIdea(Idea::initWithText(QStringLiteral("Root")));

    Result<QByteArray> plain = QByteArray();
    EXPECT_NO_THROW(plain = payload->jsonData());
    ASSERT_FALSE(plain.ok());
    EXPECT_EQ(plain.error().domain(), JSONEncoder::ErrorDomain);
    EXPECT_EQ(plain.error().code(), JSONEncoder::CircularReference);
    EXPECT_FALSE(payload->corvexData().ok());

    const auto errors = recorder.recorder->errors();
    ASSERT_EQ(errors.size(), 2u) << "one non-fatal error per failed write";
    EXPECT_EQ(errors[0].domain(), Globals::ErrorDomain);
    EXPECT_EQ(errors[0].code(), Globals::MessageErrorCode);
    EXPECT_TRUE(errors[0].localizedDescription().contains(QStringLiteral("Circular Reference Not Allowed")))
        << errors[0].localizedDescription().toStdString();
    EXPECT_EQ(log.count(QStringLiteral("the payload cannot be written")), 2);
}

// ---- Both ways

TEST(IdeaDocumentDataObjectRoundTrip, KeepsTheTreeIdentifiersAndDatesToTheMinute)
{
    const auto root = sampleTree();
    const QDateTime created(QDate(2026, 12, 7), QTime(10, 15, 42), Qt::UTC);
    const QDateTime modified(QDate(2026, 12, 8), QTime(23, 59, 59, 999), QTimeZone(-7200));
    const auto written = IdeaDocumentDataObject::payloadForWriting(root, created, modified)->corvexData();
    ASSERT_TRUE(written.ok());
    const auto read = IdeaDocumentDataObject::readFromSomeData(written.value());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->idea()->debugDescription(), root->debugDescription());
    EXPECT_EQ(read->dateCreated(), QDateTime(QDate(2026, 12, 7), QTime(10, 15), Qt::UTC));
    EXPECT_EQ(read->dateModified(), QDateTime(QDate(2026, 12, 9), QTime(1, 59), Qt::UTC));
    EXPECT_EQ(read->appInstance(), Globals::appInstance()) << "the writer's instance identifier";
    EXPECT_EQ(read->fileFormatVersion(), 4);

    const auto& children = read->idea()->ideas();
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(read->idea()->note(), root->note());
    EXPECT_EQ(read->idea()->color(), root->color()) << "colours are the table's shared objects";
    EXPECT_EQ(read->idea()->iconImage()->name(), QStringLiteral("rocket"));
    EXPECT_EQ(children[1]->att(), root->ideas()[1]->att());
    EXPECT_EQ(children[1]->image().cgImage().size(), QSize(160, 160));
    EXPECT_EQ(children[2]->URL(), QStringLiteral("https://example.com/x?y=1"));
    EXPECT_EQ(children[3]->linkedIdea(), children[0]->ideas()[0])
        << "the link finds its target in the read tree";
}

TEST(IdeaDocumentDataObjectRoundTrip, AFactoryDocumentOfAThousandIdeasKeepsItsTree)
{
    const QByteArray json = test::makePayloadJson(test::makeDocumentTree(1000));
    const auto read = IdeaDocumentDataObject::readFromJSONData(json);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->idea()->calculateWholeTreeSize(), 1000);
    EXPECT_EQ(read->dateCreated(), QDateTime(QDate(2024, 1, 2), QTime(3, 4), Qt::UTC));
    EXPECT_EQ(read->appInstance(), QStringLiteral("MAC_1704164640.000000"));

    const auto written = read->jsonData();
    ASSERT_TRUE(written.ok());
    const auto again = IdeaDocumentDataObject::readFromJSONData(written.value());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->idea()->debugDescription(), read->idea()->debugDescription());
    EXPECT_EQ(again->dateCreated(), read->dateCreated());
    EXPECT_EQ(again->dateModified(), read->dateModified());

    // Our writer writes the factory's JSON objects again, but for the instance identifier.
    Value ours = parse(written.value());
    Value factory = parse(json);
    factory.editDictionary()
        ->find(QStringLiteral("ideaDocumentDataObject"))
        ->editDictionary()
        ->insert(QStringLiteral("appInstance"), Value(Globals::appInstance()));
    EXPECT_TRUE(ours == factory);
}

TEST(IdeaDocumentDataObjectDepth, AThousandLevelDocumentReadsAndWritesOnAWorkerThread)
{
    // A worker thread's stack under the sanitizers: decoding and encoding recurse per level.
    bool readOk = false;
    bool writeOk = false;
    bool rereadOk = false;
    std::thread worker([&] {
        const auto read = IdeaDocumentDataObject::readFromJSONData(chainPayload(Idea::MaxDepth));
        readOk = read && read->idea()->subtreeDepth() == Idea::MaxDepth;
        if (!read)
            return;
        const auto written = read->corvexData();
        writeOk = written.ok();
        if (writeOk) {
            const auto again = IdeaDocumentDataObject::readFromSomeData(written.value());
            rereadOk = again && again->idea()->subtreeDepth() == Idea::MaxDepth;
        }
    });
    worker.join();
    EXPECT_TRUE(readOk);
    EXPECT_TRUE(writeOk);
    EXPECT_TRUE(rereadOk);
}

TEST(IdeaDocumentDataObjectDepth, OneLevelBeyondTheMaximumFailsCleanly)
{
    test::LogCapture log;
    EXPECT_EQ(IdeaDocumentDataObject::readFromJSONData(chainPayload(Idea::MaxDepth + 1)), nullptr);
    EXPECT_TRUE(log.contains(QStringLiteral("nested deeper than 1000 levels")))
        << log.lines().join(u'\n').toStdString();
    // Far deeper text does not even parse.
    EXPECT_EQ(IdeaDocumentDataObject::readFromJSONData(chainPayload(5000)), nullptr);
}

TEST(IdeaDocumentDataObjectDepth, ATreeBuiltToTheMaximumIsWrittenAndReadBack)
{
    const auto root = chainOfLevels(Idea::MaxDepth);
    ASSERT_EQ(root->subtreeDepth(), Idea::MaxDepth);
    const auto written =
        IdeaDocumentDataObject::payloadForWriting(root, QDateTime(), QDateTime())->jsonData();
    ASSERT_TRUE(written.ok()) << written.error().toString().toStdString();
    const auto read = IdeaDocumentDataObject::readFromJSONData(written.value());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->idea()->calculateWholeTreeSize(), Idea::MaxDepth);
    EXPECT_EQ(read->idea()->debugDescription(), root->debugDescription());
}

TEST(IdeaDocumentDataObjectCoding, AppInstanceIsReadOnlyWhenPresent)
{
    const auto without =
        IdeaDocumentDataObject::readFromJSONData("{\"ideaDocumentDataObject\":{\"fileFormatVersion\":4,"
                                                 "\"idea\":{\"identifier\":\"a\",\"ideaType\":1}}}");
    ASSERT_NE(without, nullptr);
    EXPECT_TRUE(without->appInstance().isNull());
    EXPECT_FALSE(without->dateCreated().isValid());
    EXPECT_FALSE(without->dateModified().isValid());
    const auto with = IdeaDocumentDataObject::readFromJSONData(
        "{\"ideaDocumentDataObject\":{\"fileFormatVersion\":4,\"appInstance\":\"MAC_5.000000\","
        "\"idea\":{\"identifier\":\"a\",\"ideaType\":1}}}");
    ASSERT_NE(with, nullptr);
    EXPECT_EQ(with->appInstance(), QStringLiteral("MAC_5.000000"));
}

TEST(IdeaDocumentDataObjectCoding, ThePayloadClassIsRegisteredWithTheModelClasses)
{
    IdeaDocumentDataObject::registerCodables();
    for (const char* name : {"IdeaDocumentDataObject", "Idea", "IconImage", "PortableImage"})
        EXPECT_TRUE(CodableRegistry::isRegistered(QString::fromLatin1(name))) << name;
}
