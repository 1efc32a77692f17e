#include "storage/IdeaDocument.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "storage/IdeaFilePresenter.h"
#include "storage/StorageQueues.h"
#include "tests/storage/IdeaDocumentTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QRegularExpression>
#include <QUuid>
#include <gtest/gtest.h>
#include <thread>

using namespace corvex;
using corvex::test::CompletionRecorder;
using corvex::test::FaultShim;
using corvex::test::ScopedWallClock;

namespace {

std::shared_ptr<IdeaDocument> documentWithTree(const QString& rootText, StorageLocation location = 0)
{
    auto document = IdeaDocument::initWithFileName(QString(), location);
    document->setIdea(test::smallTree(rootText));
    return document;
}

// A document file on disk holding smallTree(rootText); answers its path.
QString storedDocument(const QString& name, const QString& rootText)
{
    const QString path = test::documentPath(name);
    test::writeDocumentFile(path, test::smallTree(rootText));
    return path;
}

bool isCompressed(const QByteArray& bytes)
{
    return bytes.size() > 2 && quint8(bytes[0]) == 0x78 && quint8(bytes[1]) == 0x9C;
}

QImage sampleImage(QColor color)
{
    QImage image(8, 6, QImage::Format_RGBA8888);
    image.fill(color);
    return image;
}

QByteArray encodedImage(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

} // namespace

// ---- Identifiers, names and tokens

TEST(IdeaDocumentIdentifiers, LocationsComeFromThePrefixAndEverythingElseIsTheTemporaryLocation)
{
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(QStringLiteral("temp:/id1_1.crvx")), 0u);
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(QStringLiteral("id1_1.crvx")), 0u) << "no known prefix";
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(QString()), 0u);
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(QStringLiteral("file:///home/u/map.crvx")), 1u);
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(QStringLiteral("iCloud:/id1_1.crvx")), 2u);
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(QStringLiteral("dropbox:/id1_1.crvx")), 3u);
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(QStringLiteral("icloud:/id1_1.crvx")), 0u)
        << "case counts";

    EXPECT_EQ(IdeaDocument::pathFromIdentifier(QStringLiteral("temp:/id1_1.crvx")),
              QStringLiteral("id1_1.crvx"));
    EXPECT_EQ(IdeaDocument::pathFromIdentifier(QStringLiteral("file:///home/u/map.crvx")),
              QStringLiteral("/home/u/map.crvx"));
    EXPECT_EQ(IdeaDocument::pathFromIdentifier(QStringLiteral("iCloud:/a/b.crvx")),
              QStringLiteral("a/b.crvx"));
    EXPECT_EQ(IdeaDocument::pathFromIdentifier(QStringLiteral("dropbox:/b.crvx")), QStringLiteral("b.crvx"));
    EXPECT_TRUE(IdeaDocument::pathFromIdentifier(QStringLiteral("id1_1.crvx")).isNull())
        << "no known prefix: nil";
    EXPECT_TRUE(IdeaDocument::pathFromIdentifier(QString()).isNull());
    // Only the first prefix found is taken off.
    EXPECT_EQ(IdeaDocument::pathFromIdentifier(QStringLiteral("iCloud:/temp:/x")), QStringLiteral("temp:/x"));
}

TEST(IdeaDocumentIdentifiers, IdentifiersAreBuiltPerLocationAndUnknownLocationsAreRefused)
{
    EXPECT_EQ(IdeaDocument::docIdentifierFromPath(QStringLiteral("a.crvx"), 0),
              QStringLiteral("temp:/a.crvx"));
    EXPECT_EQ(IdeaDocument::docIdentifierFromPath(QStringLiteral("/x/a.crvx"), 1),
              QStringLiteral("file:///x/a.crvx"));
    EXPECT_EQ(IdeaDocument::docIdentifierFromPath(QStringLiteral("a.crvx"), 2),
              QStringLiteral("iCloud:/a.crvx"));
    EXPECT_EQ(IdeaDocument::docIdentifierFromPath(QStringLiteral("a.crvx"), 3),
              QStringLiteral("dropbox:/a.crvx"));

    test::LogCapture log;
    EXPECT_TRUE(IdeaDocument::docIdentifierFromPath(QStringLiteral("a.crvx"), 4).isNull());
    EXPECT_TRUE(log.contains(QStringLiteral(
        "ERROR: Assertion failure, line: 613 +[IdeaDocument docIdentifierFromPath:inLocation:]")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(IdeaDocumentIdentifiers, NewFileNamesWithinOneSecondDifferInTheCounter)
{
    const ScopedWallClock clock(1796638500.4);
    const QString first = IdeaDocument::createNewDocFileName();
    const QString second = IdeaDocument::createNewDocFileName();
    ASSERT_NE(first, second);
    const QRegularExpression shape(QStringLiteral("^id1796638500_(\\d+)\\.crvx$"));
    const auto a = shape.match(first);
    const auto b = shape.match(second);
    ASSERT_TRUE(a.hasMatch()) << first.toStdString();
    ASSERT_TRUE(b.hasMatch()) << second.toStdString();
    EXPECT_EQ(b.captured(1).toInt(), a.captured(1).toInt() + 1);
    EXPECT_TRUE(IdeaDocument::fileNamingSchemeMatches(first));

    // Seconds are rounded to the nearest whole second, not cut.
    const ScopedWallClock later(1796638500.6);
    EXPECT_TRUE(IdeaDocument::createNewDocFileName().startsWith(QStringLiteral("id1796638501_")));
}

TEST(IdeaDocumentIdentifiers, OnlyNamesEndingInCrvxFollowTheNamingScheme)
{
    EXPECT_TRUE(IdeaDocument::fileNamingSchemeMatches(QStringLiteral("id1_1.crvx")));
    EXPECT_TRUE(IdeaDocument::fileNamingSchemeMatches(QStringLiteral(".crvx")));
    EXPECT_FALSE(IdeaDocument::fileNamingSchemeMatches(QStringLiteral("id1_1.CRVX"))) << "case-sensitive";
    EXPECT_FALSE(IdeaDocument::fileNamingSchemeMatches(QStringLiteral("crvx")));
    EXPECT_FALSE(IdeaDocument::fileNamingSchemeMatches(QStringLiteral("id1_1.crvx.bak")));
    EXPECT_FALSE(IdeaDocument::fileNamingSchemeMatches(QString()));
}

TEST(IdeaDocumentIdentifiers, TokensArePositiveIncreasingAndSharedByAllDocuments)
{
    const qint64 first = IdeaDocument::nextToken();
    EXPECT_GE(first, 1);
    EXPECT_EQ(IdeaDocument::nextToken(), first + 1);

    // Documents of different locations draw from the same counter.
    auto temporary = documentWithTree(QStringLiteral("A"), 0);
    auto dropbox = documentWithTree(QStringLiteral("B"), 3);
    const qint64 a =
        test::createDocument(*temporary, test::fileUrl(test::documentPath(QStringLiteral("a.crvx"))));
    const qint64 b =
        test::createDocument(*dropbox, test::fileUrl(test::documentPath(QStringLiteral("b.crvx"))));
    EXPECT_EQ(a, first + 2);
    EXPECT_EQ(b, first + 3);
}

// ---- Construction and properties

TEST(IdeaDocumentProperties, ConstructionTakesLocationPathAndURLFromTheIdentifier)
{
    auto fromIdentifier = IdeaDocument::initWithIdentifier(QStringLiteral("iCloud:/maps/id5_5.crvx"));
    EXPECT_EQ(fromIdentifier->docIdentifier(), QStringLiteral("iCloud:/maps/id5_5.crvx"));
    EXPECT_EQ(fromIdentifier->location(), 2u);
    EXPECT_EQ(fromIdentifier->filePath(), QStringLiteral("maps/id5_5.crvx"));
    EXPECT_TRUE(fromIdentifier->isCloudDocument());
    EXPECT_EQ(fromIdentifier->representativeURL(), QUrl(QStringLiteral("iCloud:/maps/id5_5.crvx")));
    EXPECT_TRUE(fromIdentifier->refersToURL(QUrl(QStringLiteral("iCloud:/maps/id5_5.crvx"))));
    EXPECT_FALSE(fromIdentifier->refersToURL(QUrl(QStringLiteral("iCloud:/maps/other.crvx"))));
    EXPECT_EQ(fromIdentifier->idea(), nullptr);
    EXPECT_FALSE(fromIdentifier->goodToken(1));

    const ScopedWallClock clock(1796638500);
    auto fresh = IdeaDocument::initWithFileName(QString(), 0);
    EXPECT_TRUE(fresh->docIdentifier().startsWith(QStringLiteral("temp:/id1796638500_")))
        << fresh->docIdentifier().toStdString();
    EXPECT_EQ(fresh->location(), 0u);
    EXPECT_EQ(IdeaDocument::docIdentifierFromPath(fresh->filePath(), 0), fresh->docIdentifier());
    EXPECT_FALSE(fresh->isCloudDocument());

    auto named = IdeaDocument::initWithFileName(QStringLiteral("id7_7.crvx"), 3);
    EXPECT_EQ(named->docIdentifier(), QStringLiteral("dropbox:/id7_7.crvx"));
    EXPECT_EQ(named->location(), 3u);
    EXPECT_TRUE(named->isCloudDocument());
    EXPECT_EQ(IdeaDocument::initWithFileName(QStringLiteral("x.crvx"), 1)->isCloudDocument(), false);
}

TEST(IdeaDocumentProperties, NamesDescriptionAndTheInertConflictAndErrorProperties)
{
    auto temporary = IdeaDocument::initWithFileName(QStringLiteral("id1_2.crvx"), 0);
    temporary->setIdea(
        Idea::initWithText(QStringLiteral("A rather long title for the map"), QStringLiteral("r")));
    EXPECT_EQ(temporary->exportFileName(), QStringLiteral("id1_2.crvx"))
        << "location 0: the URL's last component";
    EXPECT_EQ(temporary->documentWindowName(), QStringLiteral("id1_2.crvx"));
    temporary->setRepresentativeURL(QUrl::fromLocalFile(QStringLiteral("/home/u/Trip plans.corvex")));
    EXPECT_EQ(temporary->exportFileName(), QStringLiteral("Trip plans.corvex"));
    EXPECT_EQ(temporary->documentWindowName(), QStringLiteral("Trip plans.corvex"));
    temporary->setRepresentativeURL(QUrl());
    EXPECT_EQ(temporary->documentWindowName(), QStringLiteral("untitled.corvex"));
    EXPECT_EQ(temporary->exportFileName(),
              temporary->idea()->exportFileNameForType(QStringLiteral("corvex")));

    auto cloud = IdeaDocument::initWithFileName(QStringLiteral("id1_3.crvx"), 2);
    cloud->setIdea(
        Idea::initWithText(QStringLiteral("A rather long title for the map indeed"), QStringLiteral("r")));
    EXPECT_EQ(cloud->exportFileName(), cloud->idea()->exportFileNameForType(QStringLiteral("corvex")));
    EXPECT_EQ(cloud->documentWindowName(), QStringLiteral("A rather long title for the ma"))
        << "30 characters";

    EXPECT_FALSE(cloud->inConflict());
    cloud->resolvePotentialConflict();
    EXPECT_FALSE(cloud->inConflict());
    EXPECT_TRUE(cloud->lastUserFriendlyError().isNull());

    cloud->setDateCreated(QDateTime(QDate(2026, 12, 7), QTime(10, 15), Qt::UTC));
    EXPECT_EQ(cloud->description(),
              QStringLiteral("<IdeaDocument file=id1_3.crvx, idea=%1, created=2026-12-07 10:15:00 +0000, "
                             "modified=(null)")
                  .arg(cloud->idea()->description()));
}

// ---- Opening and closing

TEST(IdeaDocumentTokens, ASecondOpenAddsATokenWithoutReadingAndTheLastCloseReleasesTheTree)
{
    const QString path = storedDocument(QStringLiteral("map.crvx"), QStringLiteral("Stored"));
    auto document = IdeaDocument::initWithFileName(QStringLiteral("map.crvx"), 1);
    test::ReadCounter reads;

    const qint64 first = test::openDocument(*document, test::fileUrl(path));
    ASSERT_GT(first, 0);
    ASSERT_NE(document->idea(), nullptr);
    EXPECT_EQ(document->idea()->text(), QStringLiteral("Stored"));
    EXPECT_EQ(document->appInstance(), Globals::appInstance());
    EXPECT_EQ(reads.reads(path), 1);

    // The second open of an open document answers without reading, in a later turn.
    qint64 second = -1;
    CompletionRecorder recorder;
    document->openFromURL(test::fileUrl(path), recorder.expect<qint64>(QStringLiteral("second open"),
                                                                       std::function<void(qint64)>(
                                                                           [&](qint64 t) { second = t; })));
    EXPECT_EQ(second, -1) << "never inside the call";
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_GT(second, first);
    EXPECT_EQ(reads.reads(path), 1) << "an open document is not read again";
    EXPECT_TRUE(document->goodToken(first));
    EXPECT_TRUE(document->goodToken(second));

    const IdeaPtr tree = document->idea();
    test::closeDocument(*document, first);
    EXPECT_EQ(document->idea(), tree) << "one token is still out: the document stays open";
    EXPECT_NE(document->filePresenter(), nullptr);
    EXPECT_FALSE(document->goodToken(first)) << "a released token stays invalid";
    EXPECT_TRUE(document->goodToken(second));

    test::closeDocument(*document, second);
    EXPECT_EQ(document->idea(), nullptr);
    EXPECT_EQ(document->filePresenter(), nullptr);
    EXPECT_FALSE(document->goodToken(second));
    EXPECT_TRUE(FileCoordinator::filePresenters().empty()) << "the presenter is unregistered";
}

TEST(IdeaDocumentTokens, OpensWhileTheFirstReadIsUnderWayWaitForItAndReadOnce)
{
    const QString path = storedDocument(QStringLiteral("map.crvx"), QStringLiteral("Stored"));
    auto document = IdeaDocument::initWithFileName(QStringLiteral("map.crvx"), 1);
    test::ReadCounter reads;

    CompletionRecorder recorder;
    std::vector<qint64> tokens;
    std::vector<IdeaPtr> treesSeen;
    auto collect = [&](qint64 token) {
        tokens.push_back(token);
        treesSeen.push_back(document->idea());
    };
    for (int i = 0; i < 3; ++i) {
        document->openFromURL(
            test::fileUrl(path),
            recorder.expect<qint64>(QStringLiteral("open %1").arg(i), std::function<void(qint64)>(collect)));
    }
    EXPECT_TRUE(document->isOpening());
    EXPECT_TRUE(tokens.empty()) << "nothing answers before the read";
    ASSERT_TRUE(recorder.waitAll());

    EXPECT_EQ(reads.reads(path), 1);
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_GT(tokens[0], 0);
    EXPECT_LT(tokens[0], tokens[1]);
    EXPECT_LT(tokens[1], tokens[2]);
    for (qint64 token : tokens)
        EXPECT_TRUE(document->goodToken(token)) << token;
    // Every caller saw the same tree: none was replaced under an earlier holder.
    ASSERT_NE(treesSeen[0], nullptr);
    EXPECT_EQ(treesSeen[1], treesSeen[0]);
    EXPECT_EQ(treesSeen[2], treesSeen[0]);
    EXPECT_EQ(document->idea(), treesSeen[0]);
    EXPECT_EQ(FileCoordinator::filePresenters().size(), 1u) << "one presenter, none orphaned";
}

TEST(IdeaDocumentTokens, OpensOfAnUnreadableFileAllAnswerZeroAndLeaveTheDocumentClosed)
{
    const QString path = test::documentPath(QStringLiteral("broken.crvx"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("\x78\x9C not really a zlib stream");
    }
    auto document = IdeaDocument::initWithFileName(QStringLiteral("broken.crvx"), 1);
    const IdeaPtr before = test::smallTree(QStringLiteral("Before"));
    document->setIdea(before);

    CompletionRecorder recorder;
    std::vector<qint64> tokens;
    for (int i = 0; i < 2; ++i) {
        document->openFromURL(
            test::fileUrl(path),
            recorder.expect<qint64>(QStringLiteral("open %1").arg(i),
                                    std::function<void(qint64)>([&](qint64 t) { tokens.push_back(t); })));
    }
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(tokens, (std::vector<qint64>{0, 0}));
    EXPECT_EQ(document->filePresenter(), nullptr);
    EXPECT_FALSE(document->isOpening());
    EXPECT_EQ(document->idea(), before) << "a failed read leaves the document as it was";
    EXPECT_TRUE(FileCoordinator::filePresenters().empty());

    EXPECT_EQ(
        test::openDocument(*document, test::fileUrl(test::documentPath(QStringLiteral("missing.crvx")))), 0);
}

TEST(IdeaDocumentTokens, UpdatesWithTokensThatAreNotGoodAnswerNoAndWriteNothing)
{
    const QString path = storedDocument(QStringLiteral("map.crvx"), QStringLiteral("Stored"));
    const QByteArray before = test::fileBytes(path);
    auto document = IdeaDocument::initWithFileName(QStringLiteral("map.crvx"), 1);
    const qint64 token = test::openDocument(*document, test::fileUrl(path));
    ASSERT_GT(token, 0);
    const qint64 other = test::openDocument(*document, test::fileUrl(path));
    test::closeDocument(*document, other);
    document->idea()->setText(QStringLiteral("Edited"));

    for (const qint64 bad : {qint64(0), qint64(-1), other, token + 1000}) {
        bool answer = true;
        CompletionRecorder recorder;
        document->updateWithToken(
            bad, recorder.expect<bool>(QStringLiteral("update"),
                                       std::function<void(bool)>([&](bool ok) { answer = ok; })));
        EXPECT_TRUE(recorder.waitAll()) << "answered for " << bad;
        EXPECT_EQ(recorder.callCount(QStringLiteral("update")), 1) << bad;
        EXPECT_FALSE(answer) << bad;
    }
    StorageQueues::persistenceQueue().sync([] {});
    EXPECT_EQ(test::fileBytes(path), before);
}

TEST(IdeaDocumentTokens, CloseWithATokenNeverIssuedStillCompletesAndChangesNothing)
{
    const QString path = storedDocument(QStringLiteral("map.crvx"), QStringLiteral("Stored"));
    auto document = IdeaDocument::initWithFileName(QStringLiteral("map.crvx"), 1);
    const qint64 token = test::openDocument(*document, test::fileUrl(path));
    ASSERT_GT(token, 0);
    const IdeaPtr tree = document->idea();

    for (const qint64 bad : {qint64(0), qint64(-5), token + 1000}) {
        CompletionRecorder recorder;
        document->closeWithToken(bad, recorder.expect<>(QStringLiteral("close")));
        EXPECT_TRUE(recorder.waitAll()) << "answered for " << bad;
        EXPECT_EQ(recorder.callCount(QStringLiteral("close")), 1) << bad;
    }
    document->closeWithToken(token + 2000); // no completion at all is allowed
    EXPECT_TRUE(document->goodToken(token));
    EXPECT_EQ(document->idea(), tree);
    EXPECT_NE(document->filePresenter(), nullptr);
    EXPECT_TRUE(test::updateDocument(*document, token));
}

TEST(IdeaDocumentTokens, NilURLsAreRaisedAndFailWithoutTrying)
{
    const test::ScopedErrorRecorder errors;
    auto document = documentWithTree(QStringLiteral("Root"));
    const IdeaPtr tree = document->idea();
    CompletionRecorder recorder;
    qint64 opened = -1;
    qint64 created = -1;
    bool read = true;
    bool written = true;
    document->openFromURL(
        QUrl(), recorder.expect<qint64>(QStringLiteral("open"),
                                        std::function<void(qint64)>([&](qint64 t) { opened = t; })));
    document->readFromURL(QUrl(),
                          recorder.expect<bool>(QStringLiteral("read"),
                                                std::function<void(bool)>([&](bool ok) { read = ok; })));
    document->createAtURL(
        QUrl(QStringLiteral("https://example.org/map.crvx")),
        recorder.expect<qint64>(QStringLiteral("create"),
                                std::function<void(qint64)>([&](qint64 t) { created = t; })));
    document->writeToLocalFileAt(
        QUrl(), recorder.expect<bool>(QStringLiteral("write"),
                                      std::function<void(bool)>([&](bool ok) { written = ok; })));
    EXPECT_TRUE(recorder.waitAll()) << "every nil-URL failure answers";
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(created, 0);
    EXPECT_FALSE(read);
    EXPECT_FALSE(written);
    EXPECT_EQ(document->idea(), tree);
    EXPECT_EQ(document->filePresenter(), nullptr);

    EXPECT_EQ(errors.recorder->descriptions(),
              (QStringList{QStringLiteral("Null URL in operation IdeaDocument:openFromURL"),
                           QStringLiteral("Null URL in operation IdeaDocument:readFromURL"),
                           QStringLiteral("Null URL in operation IdeaDocument:createAtURL"),
                           QStringLiteral("Null URL in operation IdeaDocument:writeToLocalFileAt")}));
    for (const Error& error : errors.recorder->errors())
        EXPECT_EQ(error.code(), Globals::NullURLErrorCode);
}

TEST(IdeaDocumentTokens, ReadFromURLTakesTreeAndDatesWithoutOpening)
{
    auto source = documentWithTree(QStringLiteral("On disk"));
    source->setDateCreated(QDateTime(QDate(2026, 12, 7), QTime(10, 15), Qt::UTC));
    source->setDateModified(QDateTime(QDate(2026, 12, 8), QTime(11, 30), Qt::UTC));
    const QString path = test::documentPath(QStringLiteral("map.crvx"));
    ASSERT_GT(test::createDocument(*source, test::fileUrl(path)), 0);

    auto document = IdeaDocument::initWithIdentifier(QStringLiteral("temp:/other.crvx"));
    EXPECT_TRUE(test::readDocument(*document, test::fileUrl(path)));
    ASSERT_NE(document->idea(), nullptr);
    EXPECT_EQ(document->idea()->debugDescription(), source->idea()->debugDescription());
    EXPECT_EQ(document->dateCreated(), source->dateCreated());
    EXPECT_EQ(document->dateModified(), source->dateModified());
    EXPECT_EQ(document->filePresenter(), nullptr) << "reading does not open";
    EXPECT_EQ(FileCoordinator::filePresenters().size(), 1u) << "only the source's presenter is left";

    const IdeaPtr tree = document->idea();
    EXPECT_FALSE(
        test::readDocument(*document, test::fileUrl(test::documentPath(QStringLiteral("none.crvx")))));
    EXPECT_EQ(document->idea(), tree) << "a failed read changes nothing";
}

// ---- Creating

TEST(IdeaDocumentCreate, CreateWritesTheFileOpensTheDocumentAndStoresThisInstance)
{
    auto document = documentWithTree(QStringLiteral("New map"));
    const QString path = test::documentPath(QStringLiteral("new.crvx"));
    const qint64 token = test::createDocument(*document, test::fileUrl(path));
    ASSERT_GT(token, 0);
    EXPECT_TRUE(document->goodToken(token));
    EXPECT_NE(document->filePresenter(), nullptr);
    EXPECT_FALSE(document->isOpening());

    const QByteArray bytes = test::fileBytes(path);
    EXPECT_TRUE(isCompressed(bytes));
    auto stored = IdeaDocumentDataObject::readFromSomeData(bytes);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->idea()->debugDescription(), document->idea()->debugDescription());
    EXPECT_EQ(stored->appInstance(), Globals::appInstance());
    EXPECT_EQ(stored->fileFormatVersion(), 4);
    EXPECT_TRUE(stored->dateModified().isValid()) << "a document without dates is stamped now";
    EXPECT_EQ(stored->dateCreated(), stored->dateModified());
    EXPECT_EQ(test::otherFiles(test::documentsFolder(), QStringLiteral("new.crvx")), QStringList());
}

TEST(IdeaDocumentCreate, CreateNeverReplacesAnExistingFile)
{
    const QString path = storedDocument(QStringLiteral("taken.crvx"), QStringLiteral("Somebody else's"));
    const QByteArray before = test::fileBytes(path);
    auto document = documentWithTree(QStringLiteral("Mine"));
    EXPECT_EQ(test::createDocument(*document, test::fileUrl(path)), 0);
    EXPECT_EQ(test::fileBytes(path), before);
    EXPECT_EQ(document->filePresenter(), nullptr);
    EXPECT_TRUE(FileCoordinator::filePresenters().empty());
    EXPECT_EQ(document->idea()->text(), QStringLiteral("Mine"));

    // Under another name it works.
    EXPECT_GT(test::createDocument(*document, test::fileUrl(test::documentPath(QStringLiteral("free.crvx")))),
              0);
}

TEST(IdeaDocumentCreate, AFailedCreateLeavesNoHandleOpenAndMayBeRetried)
{
    auto document = documentWithTree(QStringLiteral("Retry me"));
    const QString path = test::documentPath(QStringLiteral("retry.crvx"));
    {
        FaultShim shim;
        shim.failAt(FaultShim::Op::Rename, 1, ENOSPC);
        EXPECT_EQ(test::createDocument(*document, test::fileUrl(path)), 0);
    }
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(document->filePresenter(), nullptr);
    EXPECT_TRUE(FileCoordinator::filePresenters().empty()) << "the presenter was closed and dropped";
    EXPECT_EQ(test::otherFiles(test::documentsFolder(), QString()), QStringList()) << "no temporary left";
    // No token for a file that does not exist.
    EXPECT_EQ(test::openDocument(*document, test::fileUrl(path)), 0);

    const qint64 token = test::createDocument(*document, test::fileUrl(path));
    EXPECT_GT(token, 0);
    EXPECT_EQ(test::storedTree(path), document->idea()->debugDescription());
}

TEST(IdeaDocumentCreate, CreateOfAnOpenDocumentGivesZeroWithoutWritingAndOpensDuringACreateWaitForIt)
{
    auto document = documentWithTree(QStringLiteral("Busy"));
    const QString path = test::documentPath(QStringLiteral("busy.crvx"));

    CompletionRecorder recorder;
    qint64 created = -1;
    qint64 secondCreate = -1;
    qint64 opened = -1;
    // Held until every call is made: the file does not exist before the create's write runs.
    StorageQueues::persistenceQueue().suspend();
    document->createAtURL(
        test::fileUrl(path),
        recorder.expect<qint64>(QStringLiteral("create"), std::function<void(qint64)>([&](qint64 t) {
                                    created = t;
                                    EXPECT_EQ(opened, -1) << "the creator first";
                                })));
    document->createAtURL(
        test::fileUrl(path),
        recorder.expect<qint64>(QStringLiteral("second create"),
                                std::function<void(qint64)>([&](qint64 t) { secondCreate = t; })));
    EXPECT_EQ(secondCreate, -1) << "never inside the call";
    document->openFromURL(test::fileUrl(path), recorder.expect<qint64>(QStringLiteral("open"),
                                                                       std::function<void(qint64)>(
                                                                           [&](qint64 t) { opened = t; })));
    test::runUntil([] { return false; }, 0.1);
    EXPECT_EQ(opened, -1) << "the open waits for the create";
    EXPECT_FALSE(QFile::exists(path));
    StorageQueues::persistenceQueue().resume();
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(secondCreate, 0) << "without writing";
    EXPECT_GT(created, 0);
    EXPECT_GT(opened, created);
    EXPECT_TRUE(document->goodToken(created));
    EXPECT_TRUE(document->goodToken(opened));

    qint64 third = -1;
    CompletionRecorder later;
    document->createAtURL(test::fileUrl(path),
                          later.expect<qint64>(QStringLiteral("create on open"),
                                               std::function<void(qint64)>([&](qint64 t) { third = t; })));
    ASSERT_TRUE(later.waitAll());
    EXPECT_EQ(third, 0);
}

TEST(IdeaDocumentCreate, OpeningFirstAnswersTheTokenBeforeTheWriteAndLaterSavesFollowIt)
{
    // A free name: the file is made, then the save asked for before the write ran replaces
    // it. A taken name: nothing is written over the other file, the save fails too, and the
    // tree and its token stay.
    for (const bool taken : {false, true}) {
        SCOPED_TRACE(taken ? "taken" : "free");
        const QString name = taken ? QStringLiteral("taken-first.crvx") : QStringLiteral("first.crvx");
        const QString path =
            taken ? storedDocument(name, QStringLiteral("Somebody else's")) : test::documentPath(name);
        const QByteArray before = taken ? test::fileBytes(path) : QByteArray();
        auto document = documentWithTree(QStringLiteral("Imported"));

        CompletionRecorder recorder;
        qint64 token = -1;
        std::vector<QString> answers;
        StorageQueues::persistenceQueue().suspend();
        document->createAtURLOpeningFirst(
            test::fileUrl(path),
            recorder.expect<qint64>(QStringLiteral("opened"),
                                    std::function<void(qint64)>([&](qint64 t) { token = t; })),
            recorder.expect<bool>(QStringLiteral("stored"), std::function<void(bool)>([&](bool ok) {
                                      answers.push_back(ok ? QStringLiteral("stored")
                                                           : QStringLiteral("not stored"));
                                  })));
        document->idea()->setText(QStringLiteral("Edited at once"));
        EXPECT_EQ(token, -1) << "never inside the call";
        ASSERT_TRUE(test::runUntil([&] { return token != -1; }));
        EXPECT_GT(token, 0) << "while the write is held";
        EXPECT_TRUE(document->goodToken(token));
        document->updateWithToken(
            token, recorder.expect<bool>(QStringLiteral("update"), std::function<void(bool)>([&](bool ok) {
                                             answers.push_back(ok ? QStringLiteral("saved")
                                                                  : QStringLiteral("not saved"));
                                         })));
        StorageQueues::persistenceQueue().resume();
        ASSERT_TRUE(recorder.waitAll());
        if (taken) {
            EXPECT_EQ(answers,
                      (std::vector<QString>{QStringLiteral("not stored"), QStringLiteral("not saved")}));
            EXPECT_EQ(test::fileBytes(path), before);
            EXPECT_TRUE(document->goodToken(token));
            EXPECT_EQ(document->idea()->text(), QStringLiteral("Edited at once"));
            EXPECT_EQ(document->filePresenter(), nullptr);
        } else {
            EXPECT_EQ(answers, (std::vector<QString>{QStringLiteral("stored"), QStringLiteral("saved")}));
            EXPECT_EQ(test::readBack(path)->idea()->text(), QStringLiteral("Edited at once"));
        }
        document->closeWithToken(token);
    }
}

TEST(IdeaDocumentCreate, ADocumentWithoutATreeCannotBeCreated)
{
    auto document = IdeaDocument::initWithFileName(QString(), 0);
    const QString path = test::documentPath(QStringLiteral("empty.crvx"));
    EXPECT_EQ(test::createDocument(*document, test::fileUrl(path)), 0);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(document->filePresenter(), nullptr);
}

// ---- Saving

TEST(IdeaDocumentSave, TheTreeIsEncodedWhenTheSaveIsAskedForAndWrittenOnTheWorkQueue)
{
    const QString path = storedDocument(QStringLiteral("map.crvx"), QStringLiteral("Stored"));
    auto document = IdeaDocument::initWithFileName(QStringLiteral("map.crvx"), 1);
    const qint64 token = test::openDocument(*document, test::fileUrl(path));
    ASSERT_GT(token, 0);
    const QByteArray before = test::fileBytes(path);

    SerialQueue& queue = StorageQueues::persistenceQueue();
    EXPECT_EQ(queue.label(), QStringLiteral("corvex.persistence"));
    queue.suspend();
    document->idea()->setText(QStringLiteral("Saved text"));
    CompletionRecorder recorder;
    bool answer = false;
    document->updateWithToken(
        token, recorder.expect<bool>(QStringLiteral("update"),
                                     std::function<void(bool)>([&](bool ok) { answer = ok; })));
    // The main thread goes on at once and may edit the tree: the save has its bytes.
    document->idea()->setText(QStringLiteral("Edited after the save"));
    test::processEvents();
    EXPECT_EQ(recorder.callCount(QStringLiteral("update")), 0);
    EXPECT_EQ(test::fileBytes(path), before) << "nothing is written while the work queue is held";
    queue.resume();
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_TRUE(answer);
    auto stored = test::readBack(path);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->idea()->text(), QStringLiteral("Saved text"));
    EXPECT_EQ(document->idea()->text(), QStringLiteral("Edited after the save"));
}

TEST(IdeaDocumentSave, SuccessiveSavesAreWrittenAndAnsweredInTheirOrder)
{
    auto document = documentWithTree(QStringLiteral("v0"));
    const QString path = test::documentPath(QStringLiteral("order.crvx"));
    const qint64 token = test::createDocument(*document, test::fileUrl(path));
    ASSERT_GT(token, 0);

    CompletionRecorder recorder;
    std::vector<int> answered;
    for (int i = 1; i <= 5; ++i) {
        document->idea()->setText(QStringLiteral("v%1").arg(i));
        document->updateWithToken(token, recorder.expect<bool>(QStringLiteral("update %1").arg(i),
                                                               std::function<void(bool)>([&, i](bool ok) {
                                                                   EXPECT_TRUE(ok) << i;
                                                                   answered.push_back(i);
                                                               })));
    }
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(answered, (std::vector<int>{1, 2, 3, 4, 5}));
    auto stored = test::readBack(path);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->idea()->text(), QStringLiteral("v5"));
}

TEST(IdeaDocumentSave, StoredFormFollowsTheFileNameAndTheLocation)
{
    const auto url = [](const char* name) {
        return QUrl::fromLocalFile(QStringLiteral("/x/") + QLatin1String(name));
    };
    EXPECT_TRUE(IdeaFilePresenter::writesPlainJSON(url("map.CRVX"), 2));
    EXPECT_TRUE(IdeaFilePresenter::writesPlainJSON(url("map.crvx"), 2));
    EXPECT_FALSE(IdeaFilePresenter::writesPlainJSON(url("map.crvx"), 0));
    EXPECT_FALSE(IdeaFilePresenter::writesPlainJSON(url("map.crvx"), 1));
    EXPECT_FALSE(IdeaFilePresenter::writesPlainJSON(url("map.crvx"), 3));
    EXPECT_FALSE(IdeaFilePresenter::writesPlainJSON(url("map.corvex"), 2));
    EXPECT_FALSE(IdeaFilePresenter::writesPlainJSON(url("map.crvx.json"), 2));

    struct Case
    {
        const char* name;
        StorageLocation location;
        bool plain;
    };
    for (const Case& c : {Case{"UPPER.CRVX", 2, true}, Case{"lower.crvx", 0, false},
                          Case{"drop.crvx", 3, false}, Case{"other.json", 2, false}}) {
        SCOPED_TRACE(c.name);
        auto document = documentWithTree(QStringLiteral("Form"), c.location);
        const QString path = test::documentPath(QLatin1String(c.name));
        const qint64 token = test::createDocument(*document, test::fileUrl(path));
        ASSERT_GT(token, 0);
        document->idea()->setText(QStringLiteral("Form, updated"));
        ASSERT_TRUE(test::updateDocument(*document, token));
        const QByteArray bytes = test::fileBytes(path);
        EXPECT_EQ(bytes.startsWith("{\"ideaDocumentDataObject\""), c.plain);
        EXPECT_EQ(isCompressed(bytes), !c.plain);
        auto stored = IdeaDocumentDataObject::readFromSomeData(bytes);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->idea()->text(), QStringLiteral("Form, updated"));
    }
}

// The model never lets a tree hold itself (insertion refuses it), so the one tree its
// encoder refuses is one nested deeper than the maximum, which only an idea listed under
// two parents (a caller error) can make. It takes the same way as a circular reference:
// the payload writer logs and raises it, and the save must fail visibly.
TEST(IdeaDocumentSave, ATreeTheEncoderRefusesFailsTheSaveKeepsTheFileAndIsRaised)
{
    auto document = documentWithTree(QStringLiteral("Deep"));
    const QString path = test::documentPath(QStringLiteral("deep.crvx"));
    const qint64 token = test::createDocument(*document, test::fileUrl(path));
    ASSERT_GT(token, 0);
    const QByteArray before = test::fileBytes(path);

    // A chain reaching level 999 of the document, then an idea at level 1000 that is then
    // also listed under the shallow root (its parent pointer now says level 2), and 500
    // more levels under it: the document's nesting is 1500.
    IdeaPtr deepest = document->idea();
    for (int level = 2; level <= 999; ++level) {
        auto next = Idea::initWithText(QStringLiteral("l%1").arg(level));
        ASSERT_TRUE(deepest->addIdea(next));
        deepest = next;
    }
    auto shared = Idea::initWithText(QStringLiteral("shared"));
    ASSERT_TRUE(deepest->addIdea(shared));
    ASSERT_TRUE(document->idea()->ideas().front()->addIdea(shared));
    IdeaPtr tail = shared;
    for (int i = 0; i < 500; ++i) {
        auto next = Idea::initWithText(QStringLiteral("t%1").arg(i));
        ASSERT_TRUE(tail->addIdea(next));
        tail = next;
    }
    const QString treeBefore = document->idea()->debugDescription();

    const test::ScopedErrorRecorder errors;
    test::LogCapture log;
    EXPECT_FALSE(test::updateDocument(*document, token));
    EXPECT_EQ(test::fileBytes(path), before);
    EXPECT_EQ(document->idea()->debugDescription(), treeBefore);
    EXPECT_TRUE(document->goodToken(token));
    ASSERT_EQ(errors.recorder->errors().size(), 1u);
    EXPECT_EQ(errors.recorder->errors()[0].code(), Globals::MessageErrorCode);
    EXPECT_TRUE(log.contains(QStringLiteral("the payload cannot be written")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("cannot save")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(IdeaDocumentSave, AnInjectedFailureAtEachStepKeepsTheOldFileAndTheTree)
{
    struct Step
    {
        const char* name;
        FaultShim::Op op;
        int k;
        std::size_t writeLimit;
    };
    const Step steps[] = {
        {"first write", FaultShim::Op::Write, 1, 0},
        {"third short write", FaultShim::Op::Write, 3, 512},
        {"file sync", FaultShim::Op::Fsync, 1, 0},
        {"rename", FaultShim::Op::Rename, 1, 0},
        {"close before the rename", FaultShim::Op::Close, 1, 0},
    };
    auto document = documentWithTree(QStringLiteral("Original"));
    // Enough text that does not compress for the payload to take several short writes.
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(document->idea()->addIdea(Idea::initWithText(QUuid::createUuid().toString())));
    const QString path = test::documentPath(QStringLiteral("faults.crvx"));
    const qint64 token = test::createDocument(*document, test::fileUrl(path));
    ASSERT_GT(token, 0);
    const QByteArray before = test::fileBytes(path);
    ASSERT_GT(before.size(), 3 * 512);

    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        document->idea()->setText(QStringLiteral("Edited before: ") + QLatin1String(step.name));
        const QString tree = document->idea()->debugDescription();
        const IdeaPtr root = document->idea();
        {
            FaultShim shim;
            shim.failAt(step.op, step.k, EIO);
            if (step.writeLimit)
                shim.limitWriteSize(step.writeLimit);
            EXPECT_FALSE(test::updateDocument(*document, token));
            EXPECT_GE(shim.callCount(step.op), step.k) << "the failure was reached";
        }
        EXPECT_EQ(test::fileBytes(path), before) << "the old file, byte for byte";
        EXPECT_EQ(document->idea(), root);
        EXPECT_EQ(document->idea()->debugDescription(), tree);
        EXPECT_TRUE(document->goodToken(token));
        EXPECT_EQ(test::otherFiles(test::documentsFolder(), QStringLiteral("faults.crvx")), QStringList());
    }
    // Without faults the same document saves again.
    EXPECT_TRUE(test::updateDocument(*document, token));
    EXPECT_EQ(test::storedTree(path), document->idea()->debugDescription());
}

TEST(IdeaDocumentSave, WriteToLocalFileWritesTheCompressedFormAtomically)
{
    auto document = documentWithTree(QStringLiteral("Exported"), 2);
    const QString path = test::documentPath(QStringLiteral("export.crvx"));
    ASSERT_TRUE(SaveFile::writeAtomically(path, "old contents").ok());

    const auto write = [&]() {
        CompletionRecorder recorder;
        bool answer = false;
        document->writeToLocalFileAt(
            test::fileUrl(path),
            recorder.expect<bool>(QStringLiteral("write"),
                                  std::function<void(bool)>([&](bool ok) { answer = ok; })));
        EXPECT_TRUE(recorder.waitAll());
        return answer;
    };
    {
        FaultShim shim;
        shim.failAt(FaultShim::Op::Fsync, 1, ENOSPC);
        EXPECT_FALSE(write());
    }
    EXPECT_EQ(test::fileBytes(path), QByteArray("old contents"));

    EXPECT_TRUE(write());
    const QByteArray bytes = test::fileBytes(path);
    EXPECT_TRUE(isCompressed(bytes)) << "compressed whatever the name and location";
    EXPECT_EQ(test::storedTree(path), document->idea()->debugDescription());
    EXPECT_TRUE(FileCoordinator::filePresenters().empty()) << "outside file coordination";

    // Nothing to write: NO, and the file stays.
    auto empty = IdeaDocument::initWithFileName(QString(), 0);
    CompletionRecorder recorder;
    bool answer = true;
    empty->writeToLocalFileAt(
        test::fileUrl(path), recorder.expect<bool>(QStringLiteral("empty write"),
                                                   std::function<void(bool)>([&](bool ok) { answer = ok; })));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_FALSE(answer);
    EXPECT_EQ(test::fileBytes(path), bytes);
}

TEST(IdeaDocumentSave, ExportsCarryFormatDatesAndThisInstance)
{
    const ScopedWallClock clock(1796638500);
    auto document = documentWithTree(QStringLiteral("Export"));
    auto json = document->exportAsPureJSONData();
    ASSERT_TRUE(json.ok());
    auto payload = IdeaDocumentDataObject::readFromJSONData(json.value());
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(payload->fileFormatVersion(), 4);
    EXPECT_EQ(payload->appInstance(), Globals::appInstance());
    EXPECT_EQ(payload->dateModified(), QDateTime::fromSecsSinceEpoch(1796638500, Qt::UTC))
        << "now, to the minute";
    EXPECT_EQ(payload->dateCreated(), payload->dateModified());

    document->setDateCreated(QDateTime(QDate(2026, 1, 2), QTime(3, 4), Qt::UTC));
    document->setDateModified(QDateTime(QDate(2026, 5, 6), QTime(7, 8), Qt::UTC));
    auto compressed = document->exportAsCorvexData();
    ASSERT_TRUE(compressed.ok());
    EXPECT_TRUE(isCompressed(compressed.value()));
    payload = IdeaDocumentDataObject::readFromSomeData(compressed.value());
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(payload->dateCreated(), document->dateCreated());
    EXPECT_EQ(payload->dateModified(), document->dateModified());
    EXPECT_EQ(payload->idea()->debugDescription(), document->idea()->debugDescription());

    auto empty = IdeaDocument::initWithFileName(QString(), 0);
    EXPECT_FALSE(empty->exportAsPureJSONData().ok());
    EXPECT_FALSE(empty->exportAsCorvexData().ok());
}

TEST(IdeaDocumentSave, ApplyingAPayloadTakesTreeDatesAndInstance)
{
    auto document = IdeaDocument::initWithFileName(QString(), 0);
    auto payload = IdeaDocumentDataObject::payloadForWriting(
        test::smallTree(QStringLiteral("Applied")), QDateTime(QDate(2026, 1, 2), QTime(3, 4), Qt::UTC),
        QDateTime(QDate(2026, 5, 6), QTime(7, 8), Qt::UTC));
    payload->setAppInstance(QStringLiteral("MAC_42.000000"));
    document->applyDataObject(payload);
    EXPECT_EQ(document->idea(), payload->idea());
    EXPECT_EQ(document->dateCreated(), payload->dateCreated());
    EXPECT_EQ(document->dateModified(), payload->dateModified());
    EXPECT_EQ(document->appInstance(), QStringLiteral("MAC_42.000000"));
    document->applyDataObject(nullptr);
    EXPECT_EQ(document->idea(), payload->idea()) << "nothing to apply changes nothing";
}

// ---- The presenter

TEST(IdeaFilePresenter, RelinquishingBlocksTheFileUntilTheReacquirerRuns)
{
    auto document = documentWithTree(QStringLiteral("Root"));
    const QString path = test::documentPath(QStringLiteral("map.crvx"));
    auto presenter = IdeaFilePresenter::initWithFileURL(test::fileUrl(path), document);
    EXPECT_EQ(presenter->presentedItemURL(), test::fileUrl(path));
    EXPECT_EQ(presenter->presentedItemPath(), path);
    EXPECT_EQ(presenter->owner(), document);
    ASSERT_NE(presenter->presentedItemQueue(), nullptr);
    EXPECT_EQ(presenter->presentedItemQueue(), presenter->presentedItemQueue());
    EXPECT_FALSE(presenter->fileIsBlocked());

    for (int writer = 0; writer < 2; ++writer) {
        FilePresenter::Reacquirer reacquire;
        auto block = [&](FilePresenter::Reacquirer reacquirer) { reacquire = std::move(reacquirer); };
        if (writer)
            presenter->relinquishPresentedItemToWriter(block);
        else
            presenter->relinquishPresentedItemToReader(block);
        EXPECT_TRUE(presenter->fileIsBlocked()) << writer;
        ASSERT_TRUE(bool(reacquire)) << writer;
        reacquire();
        EXPECT_FALSE(presenter->fileIsBlocked()) << writer;
    }

    auto listed = FileCoordinator::filePresenters();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].get(), presenter.get());
    presenter->close();
    EXPECT_TRUE(presenter->isClosed());
    EXPECT_TRUE(FileCoordinator::filePresenters().empty());
    EXPECT_TRUE(presenter->presentedItemURL().isEmpty());
    EXPECT_EQ(presenter->owner(), nullptr);

    // A closed presenter has no URL to read: raised, and NO.
    const test::ScopedErrorRecorder errors;
    CompletionRecorder recorder;
    bool answer = true;
    presenter->readWithCompletionHandler(recorder.expect<bool>(
        QStringLiteral("read"), std::function<void(bool)>([&](bool ok) { answer = ok; })));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("read")), 1);
    EXPECT_FALSE(answer);
    EXPECT_EQ(errors.recorder->descriptions(),
              QStringList{QStringLiteral("Null URL in operation IdeaDocument:readWithCompletionHandler")});
}

TEST(IdeaFilePresenter, AReReadFinishedOffTheMainThreadIsLoggedAndCarriedOverToIt)
{
    const QString path = storedDocument(QStringLiteral("map.crvx"), QStringLiteral("Stored"));
    auto document = IdeaDocument::initWithFileName(QStringLiteral("map.crvx"), 1);
    ASSERT_GT(test::openDocument(*document, test::fileUrl(path)), 0);
    auto presenter = document->filePresenter();
    ASSERT_NE(presenter, nullptr);

    int posts = 0;
    bool postedOnMain = false;
    auto token = NotificationCenter::defaultCenter().addObserver(
        IdeaDocument::ChangedNotification, document.get(), [&](const NotificationCenter::Notification&) {
            ++posts;
            postedOnMain = MainQueue::isMainThread();
        });

    auto foreign = IdeaDocumentDataObject::payloadForWriting(test::smallTree(QStringLiteral("Foreign")),
                                                             QDateTime(), QDateTime());
    foreign->setAppInstance(QStringLiteral("MAC_1.000000"));
    test::LogCapture log;
    std::thread worker([&] { presenter->changeNoticeReadFinished(foreign); });
    worker.join();
    EXPECT_TRUE(log.contains(
        QStringLiteral("ERROR: Assertion failure, line: 214 -[IdeaFilePresenter presentedItemDidChange]")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(posts, 0) << "nothing is touched off the main thread";
    ASSERT_TRUE(test::runUntil([&] { return posts == 1; }));
    EXPECT_TRUE(postedOnMain);
    EXPECT_EQ(document->idea(), foreign->idea());
    EXPECT_EQ(document->appInstance(), QStringLiteral("MAC_1.000000"));

    // Our own instance's payload is dropped: no tree change, no notification.
    auto own = IdeaDocumentDataObject::payloadForWriting(test::smallTree(QStringLiteral("Own")), QDateTime(),
                                                         QDateTime());
    own->setAppInstance(Globals::appInstance());
    presenter->changeNoticeReadFinished(own);
    test::processEvents();
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(document->idea(), foreign->idea());
    NotificationCenter::defaultCenter().removeObserver(token);
}

// ---- Attachments

namespace {

class ScopedFetcher
{
public:
    struct Call
    {
        ObjectID attachment;
        StorageLocation location;
    };

    explicit ScopedFetcher(QByteArray answer) : mAnswer(std::move(answer))
    {
        mPrevious =
            IdeaDocument::setAttachmentFetcher([this](const ObjectID& attachment, StorageLocation location,
                                                      IdeaDocument::DataCompletion completion) {
                calls.push_back({attachment, location});
                completion(mAnswer);
            });
    }
    ~ScopedFetcher() { IdeaDocument::setAttachmentFetcher(mPrevious); }
    ScopedFetcher(const ScopedFetcher&) = delete;
    ScopedFetcher& operator=(const ScopedFetcher&) = delete;

    std::vector<Call> calls;

private:
    QByteArray mAnswer;
    IdeaDocument::AttachmentFetcher mPrevious;
};

QVImage fetchImage(const IdeaDocument& document, const IdeaPtr& idea)
{
    CompletionRecorder recorder;
    QVImage result;
    document.fetchImageForIdea(
        idea, recorder.expect<const QVImage&>(
                  QStringLiteral("image"),
                  std::function<void(const QVImage&)>([&](const QVImage& image) { result = image; })));
    EXPECT_FALSE(recorder.allCalled()) << "never inside the call";
    EXPECT_TRUE(recorder.waitAll());
    return result;
}

} // namespace

TEST(IdeaDocumentAttachments, AttachmentsAreFetchedThroughTheHookForTheDocumentsLocation)
{
    const QByteArray png = encodedImage(sampleImage(Qt::red), "png");
    ScopedFetcher fetcher(png);
    auto document = IdeaDocument::initWithFileName(QString(), 3);
    const ObjectID id = ObjectID::createFromData(png, QStringLiteral("png"));

    CompletionRecorder recorder;
    QByteArray fetched;
    document->fetchAttachment(
        id,
        recorder.expect<QByteArray>(QStringLiteral("fetch"), std::function<void(QByteArray)>(
                                                                 [&](const QByteArray& d) { fetched = d; })));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(fetched, png);
    ASSERT_EQ(fetcher.calls.size(), 1u);
    EXPECT_EQ(fetcher.calls[0].attachment, id);
    EXPECT_EQ(fetcher.calls[0].location, 3u);

    // A picture idea without big picture bytes: its attachment, read as PNG.
    auto idea = Idea::initWithText(QStringLiteral("picture"));
    idea->setAtt(id);
    const QVImage image = fetchImage(*document, idea);
    ASSERT_TRUE(image.hasImage());
    EXPECT_EQ(image.pixelSize(), Size(8, 6));
    EXPECT_EQ(fetcher.calls.size(), 2u);

    // Neither picture nor attachment: no image, without asking the hook.
    EXPECT_FALSE(fetchImage(*document, Idea::initWithText(QStringLiteral("plain"))).hasImage());
    EXPECT_EQ(fetcher.calls.size(), 2u);
    EXPECT_FALSE(fetchImage(*document, nullptr).hasImage());
    EXPECT_EQ(fetcher.calls.size(), 2u);
}

TEST(IdeaDocumentAttachments, ABigPictureComesWithoutTheHookAndMissingAttachmentDataGivesNoImage)
{
    ScopedFetcher fetcher{QByteArray()};
    auto document = IdeaDocument::initWithFileName(QString(), 0);

    // An idea with big picture bytes comes only from stored data.
    const QByteArray jpeg = encodedImage(sampleImage(Qt::blue), "jpeg");
    const QByteArray json =
        QByteArrayLiteral("{\"ideaDocumentDataObject\":{\"fileFormatVersion\":4,\"idea\":"
                          "{\"identifier\":\"id1_1\",\"ideaType\":2,\"bigImageData\":\"") +
        jpeg.toBase64() + QByteArrayLiteral("\",\"att\":\"") +
        ObjectID::createFromData(jpeg, QStringLiteral("png")).asString().toUtf8() +
        QByteArrayLiteral("\"}}}");
    auto payload = IdeaDocumentDataObject::readFromJSONData(json);
    ASSERT_NE(payload, nullptr);
    ASSERT_FALSE(payload->idea()->bigImageData().isEmpty());
    const QVImage big = fetchImage(*document, payload->idea());
    EXPECT_TRUE(big.hasImage());
    EXPECT_TRUE(fetcher.calls.empty()) << "the big picture wins over the attachment";

    auto idea = Idea::initWithText(QStringLiteral("picture"));
    idea->setAtt(ObjectID::createFromData("gone", QStringLiteral("png")));
    EXPECT_FALSE(fetchImage(*document, idea).hasImage());
    EXPECT_EQ(fetcher.calls.size(), 1u);
}

TEST(IdeaDocumentAttachments, WithoutAFetcherAttachmentsReadAsNothing)
{
    const auto previous = IdeaDocument::setAttachmentFetcher({});
    auto document = IdeaDocument::initWithFileName(QString(), 0);
    CompletionRecorder recorder;
    QByteArray fetched("not called");
    document->fetchAttachment(
        ObjectID::createFromData("x", QStringLiteral("png")),
        recorder.expect<QByteArray>(QStringLiteral("fetch"), std::function<void(QByteArray)>(
                                                                 [&](const QByteArray& d) { fetched = d; })));
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_TRUE(fetched.isNull());
    IdeaDocument::setAttachmentFetcher(previous);
}
