#include "storage/IdeaProxy.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/PortableImage.h"
#include "platform/core/JsonText.h"
#include "platform/core/KeyedArchive.h"
#include "platform/core/KeyedArchiver.h"
#include "platform/core/KeyedUnarchiver.h"
#include "storage/IdeaDocument.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestDates.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::dumpKeyedArchiveScript;
using corvex::test::utc;

namespace {

// An opaque picture, so that PNG gives back the very pixels.
QVImage picture(int width = 6, int height = 4)
{
    QImage image(width, height, QImage::Format_RGBA8888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor(40 * x, 60 * y, 200, 255));
    }
    return QVImage(image);
}

ColorPtr color(const char* name)
{
    return ColorTheme::colorByName(QString::fromLatin1(name));
}

// A document of the temporary location with a root of three ideas, a note, an icon and
// both dates.
std::shared_ptr<IdeaDocument> makeDocument(const QString& fileName = QStringLiteral("id1796638500_1.crvx"))
{
    auto doc = IdeaDocument::initWithFileName(fileName, IdeaDocument::TemporaryLocation);
    IdeaPtr root =
        Idea::initWithText(QStringLiteral("Plans for the garden"), QStringLiteral("id1796638500_1"));
    root->setColor(color("green0"));
    root->setNote(QStringLiteral("water daily"));
    root->setIconImage(IconImage::initWithName(QStringLiteral("grinning face"), QStringLiteral("Smileys"),
                                               QStringLiteral("\U0001F600")));
    IdeaPtr child = Idea::initWithText(QStringLiteral("Tomatoes"));
    EXPECT_TRUE(root->addIdea(child));
    EXPECT_TRUE(child->addIdea(Idea::initWithText(QStringLiteral("Seeds"))));
    doc->setIdea(root);
    doc->setDateCreated(utc(2026, 12, 1, 9, 30));
    doc->setDateModified(utc(2026, 12, 7, 10, 15));
    return doc;
}

IdeaProxyPtr fullProxy()
{
    IdeaProxyPtr proxy = IdeaProxy::initWithDoc(makeDocument());
    proxy->setImage(picture());
    return proxy;
}

CodedValue readJson(const QByteArray& json)
{
    IdeaProxy::registerCodable();
    return JSONDecoder::decodeWithData(json);
}

// What plistlib finds in an archive: "$top" with every reference resolved (see the script).
Value plistlibView(const QByteArray& archive)
{
    const QString path = test::testDir() + QStringLiteral("/proxies.archive");
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(archive);
    file.close();
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), {dumpKeyedArchiveScript(), path});
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    const auto parsed = JsonText::parse(process.readAllStandardOutput());
    EXPECT_TRUE(parsed.ok()) << parsed.error().toString().toStdString();
    return parsed.ok() ? parsed->value(QStringLiteral("$top")) : Value();
}

} // namespace

// --- Summaries of documents ----------------------------------------------------------------------

TEST(IdeaProxySummary, MadeFromADocumentItHoldsTheRootsSummary)
{
    auto doc = makeDocument();
    IdeaProxyPtr proxy = IdeaProxy::initWithDoc(doc);
    EXPECT_EQ(proxy->doc(), doc);
    EXPECT_EQ(proxy->docIdentifier(), QStringLiteral("temp:/id1796638500_1.crvx"));
    EXPECT_EQ(proxy->ideaIdentifier(), QStringLiteral("id1796638500_1"));
    EXPECT_EQ(proxy->text(), QStringLiteral("Plans for the garden"));
    ASSERT_TRUE(proxy->color());
    EXPECT_EQ(proxy->color()->name(), QStringLiteral("green0"));
    EXPECT_EQ(proxy->itemCount(), 3);
    EXPECT_TRUE(proxy->hasNote());
    EXPECT_FALSE(proxy->hasWebLink());
    EXPECT_EQ(proxy->ideaType(), IdeaTypeText);
    ASSERT_TRUE(proxy->iconImage());
    EXPECT_EQ(proxy->iconImage()->name(), QStringLiteral("grinning face"));
    EXPECT_EQ(proxy->dateCreated(), utc(2026, 12, 1, 9, 30));
    EXPECT_EQ(proxy->dateModified(), utc(2026, 12, 7, 10, 15));
    EXPECT_EQ(proxy->location(), IdeaDocument::TemporaryLocation);
    EXPECT_EQ(proxy->fileURL(), proxy->docIdentifier());
}

TEST(IdeaProxySummary, RefreshingFromTheUnchangedDocumentGivesNoAndAColourEditGivesYes)
{
    auto doc = makeDocument();
    IdeaProxyPtr proxy = IdeaProxy::initWithDoc(doc);
    EXPECT_FALSE(proxy->updateWithDoc(doc));

    doc->idea()->setColor(color("blue3"));
    EXPECT_TRUE(proxy->updateWithDoc(doc));
    ASSERT_TRUE(proxy->color());
    EXPECT_EQ(proxy->color()->name(), QStringLiteral("blue3"));
    EXPECT_FALSE(proxy->updateWithDoc(doc));
}

TEST(IdeaProxySummary, EachSummarisedPropertyCountsAsAChange)
{
    auto doc = makeDocument();
    IdeaProxyPtr proxy = IdeaProxy::initWithDoc(doc);
    const IdeaPtr root = doc->idea();
    const std::vector<std::pair<const char*, std::function<void()>>> edits = {
        {"text", [&] { root->setText(QStringLiteral("Plans for the orchard")); }},
        {"note", [&] { root->setNote(QString()); }},
        {"web link", [&] { root->setURL(QStringLiteral("https://example.org/")); }},
        {"icon", [&] { root->setIconImage(nullptr); }},
        {"count", [&] { EXPECT_TRUE(root->addIdea(Idea::initWithText(QStringLiteral("More")))); }},
        {"modified", [&] { doc->setDateModified(utc(2026, 12, 8, 8, 0)); }},
        {"created", [&] { doc->setDateCreated(utc(2026, 11, 30, 8, 0)); }},
    };
    for (const auto& [what, edit] : edits) {
        edit();
        EXPECT_TRUE(proxy->updateWithDoc(doc)) << what;
        EXPECT_FALSE(proxy->updateWithDoc(doc)) << what;
    }
    EXPECT_EQ(proxy->text(), QStringLiteral("Plans for the orchard"));
    EXPECT_FALSE(proxy->hasNote());
    EXPECT_TRUE(proxy->hasWebLink());
    EXPECT_FALSE(proxy->iconImage());
    EXPECT_EQ(proxy->itemCount(), 4);
    EXPECT_EQ(proxy->dateCreated(), utc(2026, 11, 30, 8, 0));
}

TEST(IdeaProxySummary, AMissingDateOnTheProxyAlwaysCountsAsAChange)
{
    auto doc = makeDocument();
    doc->setDateCreated(QDateTime());
    IdeaProxyPtr proxy = IdeaProxy::initWithDoc(doc);
    EXPECT_TRUE(proxy->updateWithDoc(doc));
    EXPECT_TRUE(proxy->updateWithDoc(doc));
}

TEST(IdeaProxySummary, ACopySharesTheDocumentHandleMadeOnTheOriginalFirst)
{
    IdeaProxyPtr original = IdeaProxy::init();
    original->setDocIdentifier(QStringLiteral("dropbox:/Maps/id7_7.crvx"));
    original->setText(QStringLiteral("Root"));
    original->setItemCount(12);
    original->setImage(picture());
    EXPECT_FALSE(original->hasDoc());
    IdeaProxyPtr copy = IdeaProxy::initWithProxy(*original);
    EXPECT_TRUE(original->hasDoc());
    EXPECT_EQ(copy->doc(), original->doc());
    EXPECT_EQ(copy->doc()->docIdentifier(), QStringLiteral("dropbox:/Maps/id7_7.crvx"));
    EXPECT_EQ(copy->doc()->location(), IdeaDocument::DropboxLocation);
    EXPECT_EQ(copy->text(), QStringLiteral("Root"));
    EXPECT_EQ(copy->itemCount(), 12);
    EXPECT_EQ(copy->image().cgImage(), original->image().cgImage());
    EXPECT_EQ(copy->location(), IdeaDocument::DropboxLocation);
}

TEST(IdeaProxySummary, TheDocumentHandleIsMadeOnceFromTheIdentifier)
{
    IdeaProxyPtr proxy = IdeaProxy::init();
    proxy->setDocIdentifier(QStringLiteral("iCloud:/id1_1.crvx"));
    auto doc = proxy->doc();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->docIdentifier(), QStringLiteral("iCloud:/id1_1.crvx"));
    EXPECT_EQ(proxy->doc(), doc);
}

TEST(IdeaProxySummary, ChangingTheLocationRebuildsTheIdentifierAndComplainsAboutAHandle)
{
    IdeaProxyPtr proxy = IdeaProxy::init();
    proxy->setDocIdentifier(QStringLiteral("dropbox:/Maps/id3_3.crvx"));
    proxy->changeLocation(IdeaDocument::ICloudLocation);
    EXPECT_EQ(proxy->docIdentifier(), QStringLiteral("iCloud:/id3_3.crvx"));

    proxy->doc();
    test::LogCapture log;
    proxy->changeLocation(IdeaDocument::TemporaryLocation);
    EXPECT_EQ(proxy->docIdentifier(), QStringLiteral("temp:/id3_3.crvx")) << "it goes on";
    EXPECT_EQ(log.count(QStringLiteral("-[IdeaProxy changeLocation:]")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Assertion failure, line: ")));
}

TEST(IdeaProxySummary, FileNamesComeFromTheTextAfterTheFirstLocationSeparator)
{
    EXPECT_EQ(IdeaProxy::fileNameFromURLLikeString(QStringLiteral("iCloud:/Documents/Maps/id1_1.crvx")),
              QStringLiteral("id1_1.crvx"));
    EXPECT_EQ(IdeaProxy::fileNameFromURLLikeString(QStringLiteral("temp:/id1_1.crvx")),
              QStringLiteral("id1_1.crvx"));
    EXPECT_EQ(IdeaProxy::fileNameFromURLLikeString(QStringLiteral("file:///home/u/maps/a.crvx")),
              QStringLiteral("a.crvx"));
    EXPECT_EQ(IdeaProxy::fileNameFromURLLikeString(QStringLiteral("plain.crvx")),
              QStringLiteral("plain.crvx"));
    EXPECT_EQ(IdeaProxy::fileNameFromURLLikeString(QStringLiteral("dir/sub/")), QStringLiteral("sub"));
    EXPECT_EQ(IdeaProxy::fileNameFromURLLikeString(QStringLiteral("a:/b:/c")), QStringLiteral("c"));
    EXPECT_TRUE(IdeaProxy::fileNameFromURLLikeString(QString()).isNull());
}

TEST(IdeaProxySummary, StringEqualityTellsNullFromEmpty)
{
    EXPECT_TRUE(IdeaProxy::stringEquality(QString(), QString()));
    EXPECT_TRUE(IdeaProxy::stringEquality(QStringLiteral("a"), QStringLiteral("a")));
    EXPECT_FALSE(IdeaProxy::stringEquality(QString(), QStringLiteral("")));
    EXPECT_FALSE(IdeaProxy::stringEquality(QStringLiteral(""), QString()));
    EXPECT_FALSE(IdeaProxy::stringEquality(QStringLiteral("a"), QStringLiteral("b")));
}

TEST(IdeaProxySummary, FindingAProxyByItsDocumentIdentifier)
{
    IdeaProxyPtr a = IdeaProxy::init();
    a->setDocIdentifier(QStringLiteral("temp:/a.crvx"));
    IdeaProxyPtr b = IdeaProxy::init();
    b->setDocIdentifier(QStringLiteral("temp:/b.crvx"));
    IdeaProxyPtr b2 = IdeaProxy::init();
    b2->setDocIdentifier(QStringLiteral("temp:/b.crvx"));
    const std::vector<IdeaProxyPtr> list{IdeaProxy::init(), a, nullptr, b, b2};
    EXPECT_EQ(IdeaProxy::findProxyInArray(list, QStringLiteral("temp:/b.crvx")), b);
    EXPECT_EQ(IdeaProxy::findProxyInArray(list, QStringLiteral("temp:/c.crvx")), nullptr);
    EXPECT_EQ(IdeaProxy::findProxyInArray(list, QString()), nullptr);
}

TEST(IdeaProxySummary, TheDescriptionNamesTheDocumentAndTheTextOrTheType)
{
    IdeaProxyPtr proxy = IdeaProxy::init();
    proxy->setDocIdentifier(QStringLiteral("temp:/a.crvx"));
    proxy->setIdeaType(IdeaTypeImage);
    EXPECT_EQ(proxy->description(),
              QStringLiteral("<IdeaProxy (NO DOC) id=temp:/a.crvx desc=(type=IdeaTypeImage)>"));
    proxy->setText(QStringLiteral("Root"));
    proxy->doc();
    EXPECT_EQ(proxy->description(), QStringLiteral("<IdeaProxy id=temp:/a.crvx desc=(Root)>"));
    EXPECT_EQ(IdeaProxy::init()->description(),
              QStringLiteral("<IdeaProxy (NO DOC) id=(null) desc=(type=IdeaTypeUndefined)>"));
}

// --- Coding -------------------------------------------------------------------------------------

TEST(IdeaProxyCoding, TheJsonCoderWritesTheKeysWithThePictureAsImage)
{
    IdeaProxyPtr proxy = fullProxy();
    JSONEncoder encoder;
    ASSERT_TRUE(encoder.encodeTopObject(proxy)) << encoder.errorString().toStdString();
    const Value& json = encoder.finalJSONObject();
    EXPECT_EQ(
        json.toDictionary().keys(),
        (QStringList{QStringLiteral("filename"), QStringLiteral("identifier"), QStringLiteral("text"),
                     QStringLiteral("color"), QStringLiteral("image"), QStringLiteral("dateCreated"),
                     QStringLiteral("dateModified"), QStringLiteral("itemCount"), QStringLiteral("iconImage"),
                     QStringLiteral("hasNote"), QStringLiteral("hasWebLink"), QStringLiteral("ideaType")}));
    EXPECT_EQ(json.value(QStringLiteral("filename")).toString(), QStringLiteral("id1796638500_1.crvx"));
    EXPECT_EQ(json.value(QStringLiteral("color")).toString(), QStringLiteral("green0"));
    EXPECT_EQ(QByteArray::fromBase64(json.value(QStringLiteral("image")).toString().toLatin1()),
              proxy->image().pngData());
    EXPECT_EQ(json.value(QStringLiteral("dateCreated")).toString(),
              QStringLiteral("2026-12-01 09:30:00 GMT"));
    EXPECT_TRUE(json.value(QStringLiteral("hasNote")).isBool());
    EXPECT_EQ(json.value(QStringLiteral("itemCount")).toInteger(), 3);
    EXPECT_EQ(json.value(QStringLiteral("ideaType")).toInteger(), 1);
    EXPECT_EQ(json.value(QStringLiteral("iconImage")).value(QStringLiteral("name")).toString(),
              QStringLiteral("grinning face"));
}

TEST(IdeaProxyCoding, AJsonRoundTripGivesTheSummaryBackWithItsPicture)
{
    IdeaProxyPtr proxy = fullProxy();
    JSONEncoder encoder;
    ASSERT_TRUE(encoder.encodeObject(proxy));
    const auto read = readJson(*encoder.data()).objectAs<IdeaProxy>();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->docIdentifier(), QStringLiteral("id1796638500_1.crvx"));
    EXPECT_EQ(read->ideaIdentifier(), proxy->ideaIdentifier());
    EXPECT_EQ(read->text(), proxy->text());
    ASSERT_TRUE(read->color());
    EXPECT_EQ(read->color(), proxy->color()) << "colours are resolved to the table's";
    EXPECT_EQ(read->itemCount(), 3);
    EXPECT_TRUE(read->hasNote());
    EXPECT_FALSE(read->hasWebLink());
    EXPECT_EQ(read->ideaType(), IdeaTypeText);
    ASSERT_TRUE(read->iconImage());
    EXPECT_EQ(read->iconImage()->symbol(), QStringLiteral("\U0001F600"));
    EXPECT_EQ(read->dateCreated(), utc(2026, 12, 1, 9, 30));
    EXPECT_EQ(read->dateModified(), utc(2026, 12, 7, 10, 15));
    ASSERT_TRUE(read->image().hasImage());
    EXPECT_EQ(read->image().cgImage(), proxy->image().cgImage());
    EXPECT_FALSE(read->hasDoc());
}

TEST(IdeaProxyCoding, TheKeyedArchiverWritesThePictureAsAPortableImageUnderImage2)
{
    IdeaProxyPtr proxy = fullProxy();
    KeyedArchiver archiver;
    archiver.encodeObject(proxy, QStringLiteral("proxy"));
    ASSERT_FALSE(archiver.failed()) << archiver.errorString().toStdString();
    const auto archived = archiver.top().value(QStringLiteral("proxy")).object();
    ASSERT_TRUE(archived);
    EXPECT_EQ(archived->className(), QStringLiteral("IdeaProxy"));
    EXPECT_FALSE(archived->contains(QStringLiteral("image")));
    const auto image2 = archived->value(QStringLiteral("image2")).object();
    ASSERT_TRUE(image2);
    EXPECT_EQ(image2->className(), QStringLiteral("PortableImage"));
    EXPECT_EQ(image2->value(KeyedArchiver::DataObjectKey).toData(), proxy->image().pngData());
    EXPECT_EQ(archived->value(QStringLiteral("dateModified")).kind(), ArchivedValue::Kind::Date);
    EXPECT_EQ(archived->value(QStringLiteral("filename")).toString(), QStringLiteral("id1796638500_1.crvx"));
}

TEST(IdeaProxyCoding, AKeyedRoundTripGivesTheSummaryBackWithExactDates)
{
    IdeaProxyPtr proxy = fullProxy();
    proxy->setDateModified(QDateTime(QDate(2026, 12, 7), QTime(10, 15, 42, 250), Qt::UTC));
    IdeaProxy::registerCodable();
    const auto bytes = KeyedArchiver::archivedDataWithRootObject(proxy);
    ASSERT_TRUE(bytes.ok()) << bytes.error().toString().toStdString();
    const auto read = KeyedUnarchiver::unarchiveObjectWithData(*bytes).objectAs<IdeaProxy>();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->text(), proxy->text());
    EXPECT_EQ(read->docIdentifier(), QStringLiteral("id1796638500_1.crvx"));
    EXPECT_EQ(read->dateModified(), proxy->dateModified());
    EXPECT_EQ(read->dateCreated(), proxy->dateCreated());
    EXPECT_EQ(read->itemCount(), 3);
    ASSERT_TRUE(read->iconImage());
    EXPECT_EQ(read->iconImage()->name(), QStringLiteral("grinning face"));
    ASSERT_TRUE(read->image().hasImage());
    EXPECT_EQ(read->image().cgImage(), proxy->image().cgImage());
}

TEST(IdeaProxyCoding, EachKindOfDecoderReadsThePictureOnlyUnderItsOwnKey)
{
    IdeaProxy::registerCodable();
    const QByteArray png = picture().pngData();
    // JSON holding only "image2": no picture for the JSON decoder.
    const QByteArray json =
        "{\"ideaProxy\":{\"text\":\"t\",\"ideaType\":2,\"image2\":\"" + png.toBase64() + "\"}}";
    const auto fromJson = readJson(json).objectAs<IdeaProxy>();
    ASSERT_TRUE(fromJson);
    EXPECT_FALSE(fromJson->image().hasImage());

    // An archive holding plain data under "image": no picture for the keyed decoder.
    auto object = ArchivedObject::create(QStringLiteral("IdeaProxy"));
    object->set(QStringLiteral("ideaType"), 2);
    object->set(QStringLiteral("image"), png);
    KeyedUnarchiver wrongKey(ArchivedTop{{QStringLiteral("root"), object}});
    const auto fromArchive = wrongKey.decodeObjectOfClass<IdeaProxy>(QStringLiteral("root"));
    ASSERT_TRUE(fromArchive);
    EXPECT_FALSE(fromArchive->image().hasImage());

    // Under "image2" the keyed decoder takes plain data as well as a PortableImage.
    auto plain = ArchivedObject::create(QStringLiteral("IdeaProxy"));
    plain->set(QStringLiteral("image2"), png);
    KeyedUnarchiver plainData(ArchivedTop{{QStringLiteral("root"), plain}});
    const auto fromPlain = plainData.decodeObjectOfClass<IdeaProxy>(QStringLiteral("root"));
    ASSERT_TRUE(fromPlain);
    EXPECT_EQ(fromPlain->image().pixelSize(), picture().pixelSize());

    // JPEG bytes are recognised as well.
    const QByteArray jpeg = picture(8, 8).jpegData();
    const auto fromJpeg =
        readJson("{\"ideaProxy\":{\"image\":\"" + jpeg.toBase64() + "\"}}").objectAs<IdeaProxy>();
    ASSERT_TRUE(fromJpeg);
    EXPECT_EQ(fromJpeg->image().pixelSize(), picture(8, 8).pixelSize());
}

TEST(IdeaProxyCoding, AnICloudIdentifierTravelsAsItsFileNameUntilTheLocationIsGivenBack)
{
    IdeaProxyPtr proxy = fullProxy();
    proxy->setDocIdentifier(QStringLiteral("iCloud:/Documents/id1796638500_1.crvx"));
    JSONEncoder encoder;
    ASSERT_TRUE(encoder.encodeObject(proxy));
    EXPECT_EQ(encoder.finalJSONObject()
                  .value(QStringLiteral("ideaProxy"))
                  .value(QStringLiteral("filename"))
                  .toString(),
              QStringLiteral("id1796638500_1.crvx"));
    const auto read = readJson(*encoder.data()).objectAs<IdeaProxy>();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->docIdentifier(), QStringLiteral("id1796638500_1.crvx"));
    EXPECT_EQ(read->location(), IdeaDocument::TemporaryLocation);
    read->changeLocation(IdeaDocument::ICloudLocation);
    EXPECT_EQ(read->docIdentifier(), QStringLiteral("iCloud:/id1796638500_1.crvx"));
    EXPECT_EQ(read->location(), IdeaDocument::ICloudLocation);
}

TEST(IdeaProxyCoding, AProxyReadWithoutDatesHasBothAtTheTimeOfReading)
{
    const QDateTime reading(QDate(2026, 12, 7), QTime(11, 0, 30, 500), Qt::UTC);
    const auto previous = Globals::setWallClock([reading] { return reading.toMSecsSinceEpoch() / 1000.0; });
    const auto read = readJson("{\"ideaProxy\":{\"text\":\"t\",\"color\":\"red5\"}}").objectAs<IdeaProxy>();
    Globals::setWallClock(previous);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->dateModified(), reading);
    EXPECT_EQ(read->dateCreated(), reading);
}

TEST(IdeaProxyCoding, AMissingCreationDateIsTheModificationDateOnBothSides)
{
    IdeaProxyPtr proxy = IdeaProxy::init();
    proxy->setDateModified(utc(2026, 12, 7, 10, 15));
    JSONEncoder encoder;
    ASSERT_TRUE(encoder.encodeObject(proxy));
    EXPECT_EQ(encoder.finalJSONObject()
                  .value(QStringLiteral("ideaProxy"))
                  .value(QStringLiteral("dateCreated"))
                  .toString(),
              QStringLiteral("2026-12-07 10:15:00 GMT"));
    const auto read =
        readJson("{\"ideaProxy\":{\"dateModified\":\"2026-12-07 10:15:00 GMT\"}}").objectAs<IdeaProxy>();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->dateCreated(), utc(2026, 12, 7, 10, 15));
}

TEST(IdeaProxyCoding, TheTypeOfOldDataIsInferredFromWhatTheSummaryHolds)
{
    const QByteArray png = picture().pngData().toBase64();
    struct Case
    {
        QByteArray json;
        IdeaType type;
        bool logs;
    };
    const Case cases[] = {
        {"{\"ideaProxy\":{\"hasWebLink\":true,\"text\":\"t\"}}", IdeaTypeURL, false},
        {"{\"ideaProxy\":{\"image\":\"" + png + "\"}}", IdeaTypeImage, false},
        {"{\"ideaProxy\":{\"image\":\"" + png + "\",\"text\":\"t\",\"ideaType\":0}}", IdeaTypeImage, true},
        {"{\"ideaProxy\":{\"text\":\"t\",\"color\":\"red5\"}}", IdeaTypeText, false},
        {"{\"ideaProxy\":{\"text\":\"t\"}}", IdeaTypeText, true},
        {"{\"ideaProxy\":{\"text\":\"t\",\"color\":\"no such colour\"}}", IdeaTypeText, true},
        {"{\"ideaProxy\":{\"text\":\"t\",\"ideaType\":4,\"hasWebLink\":true}}", IdeaTypeLink, false},
    };
    for (const Case& c : cases) {
        test::LogCapture log;
        const auto read = readJson(c.json).objectAs<IdeaProxy>();
        ASSERT_TRUE(read) << c.json.constData();
        EXPECT_EQ(read->ideaType(), c.type) << c.json.constData();
        EXPECT_EQ(log.contains(QStringLiteral("-[IdeaProxy initWithCoder:]")), c.logs) << c.json.constData();
    }
}

TEST(IdeaProxyCoding, AnUnknownColourNameOrUnreadablePictureBytesLeaveNothing)
{
    const auto read =
        readJson("{\"ideaProxy\":{\"text\":\"t\",\"color\":\"mauve\",\"image\":\"bm90IGEgcGljdHVyZQ==\"}}")
            .objectAs<IdeaProxy>();
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->color());
    EXPECT_FALSE(read->image().hasImage());
    EXPECT_EQ(read->text(), QStringLiteral("t"));
}

TEST(IdeaProxyCoding, AKeyedArchiveOfProxiesLoadsInPlistlibWithTheExpectedKeys)
{
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        GTEST_SKIP() << "no /usr/bin/python3";
    IdeaProxyPtr first = fullProxy();
    first->setDocIdentifier(QStringLiteral("iCloud:/id1796638500_1.crvx"));
    IdeaProxyPtr second = IdeaProxy::initWithDoc(makeDocument(QStringLiteral("id1796638500_2.crvx")));
    second->setIconImage(first->iconImage());
    second->setText(QString());
    KeyedArchiver archiver;
    archiver.encodeInt(1, QStringLiteral("fileFormatVersion"));
    archiver.encodeObjectList(std::vector<IdeaProxyPtr>{first, second}, QStringLiteral("proxyList"));
    const auto bytes = archiver.encodedData();
    ASSERT_TRUE(bytes.ok()) << bytes.error().toString().toStdString();

    const Value top = plistlibView(*bytes);
    EXPECT_EQ(top.value(QStringLiteral("fileFormatVersion")).toInteger(), 1);
    const Value& list = top.value(QStringLiteral("proxyList"));
    ASSERT_EQ(list.size(), 2);
    const Value& p = list.at(0);
    EXPECT_EQ(p.value(QStringLiteral("$class")).toString(), QStringLiteral("IdeaProxy"));
    EXPECT_EQ(p.value(QStringLiteral("$classes")),
              Value(ValueArray{Value(QStringLiteral("IdeaProxy")), Value(QStringLiteral("NSObject"))}));
    QStringList keys = p.toDictionary().keys();
    keys.sort();
    EXPECT_EQ(
        keys,
        (QStringList{QStringLiteral("$class"), QStringLiteral("$classes"), QStringLiteral("$uid"),
                     QStringLiteral("color"), QStringLiteral("dateCreated"), QStringLiteral("dateModified"),
                     QStringLiteral("filename"), QStringLiteral("hasNote"), QStringLiteral("hasWebLink"),
                     QStringLiteral("iconImage"), QStringLiteral("ideaType"), QStringLiteral("identifier"),
                     QStringLiteral("image2"), QStringLiteral("itemCount"), QStringLiteral("text")}));
    EXPECT_EQ(p.value(QStringLiteral("filename")).toString(), QStringLiteral("id1796638500_1.crvx"));
    EXPECT_EQ(p.value(QStringLiteral("text")).toString(), QStringLiteral("Plans for the garden"));
    EXPECT_EQ(p.value(QStringLiteral("color")).toString(), QStringLiteral("green0"));
    EXPECT_EQ(p.value(QStringLiteral("itemCount")), Value(3));
    EXPECT_EQ(p.value(QStringLiteral("ideaType")), Value(1));
    EXPECT_EQ(p.value(QStringLiteral("hasNote")), Value(true));
    EXPECT_EQ(p.value(QStringLiteral("hasWebLink")), Value(false));
    // NSDate: seconds since 2001-01-01 00:00 UTC.
    const double created = utc(2001, 1, 1, 0, 0).secsTo(utc(2026, 12, 1, 9, 30));
    EXPECT_EQ(p.value(QStringLiteral("dateCreated")).value(QStringLiteral("$date")).toReal(), created);
    const Value& image2 = p.value(QStringLiteral("image2"));
    EXPECT_EQ(image2.value(QStringLiteral("$class")).toString(), QStringLiteral("PortableImage"));
    EXPECT_EQ(QByteArray::fromBase64(
                  image2.value(QStringLiteral("$0")).value(QStringLiteral("$data")).toString().toLatin1()),
              first->image().pngData());
    EXPECT_EQ(p.value(QStringLiteral("iconImage")).value(QStringLiteral("$class")).toString(),
              QStringLiteral("IconImage"));
    EXPECT_EQ(p.value(QStringLiteral("iconImage")).value(QStringLiteral("name")).toString(),
              QStringLiteral("grinning face"));

    const Value& q = list.at(1);
    EXPECT_FALSE(q.toDictionary().contains(QStringLiteral("text")));
    EXPECT_FALSE(q.toDictionary().contains(QStringLiteral("image2")));
    EXPECT_EQ(q.value(QStringLiteral("iconImage")).value(QStringLiteral("$uid")),
              p.value(QStringLiteral("iconImage")).value(QStringLiteral("$uid")))
        << "one icon shared by two proxies is stored once";
}
