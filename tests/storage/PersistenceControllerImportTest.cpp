// Import through the persistence controller: document files through the installed
// DocumentImporter (here a bare payload importer), pictures and ideas stored as new
// temporary-location documents, and the attachments that come with them.

#include "tests/storage/PersistenceControllerTestSupport.h"

#include "model/IdeaDocumentDataObject.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"
#include "storage/DocumentImporter.h"
#include "storage/IdeaFilePresenter.h"
#include "storage/StorageQueues.h"

#include <QFileInfo>
#include <QImage>
#include <atomic>

using namespace corvex;
using namespace corvex::test;

namespace {

// Reads a file holding a bare payload (the stored document's JSON or compressed form), gives
// the tree fresh identifiers, and hands over the scripted attachments one after the other
// before it answers, as the archive importer does with the chunks of an archive.
class BarePayloadImporter : public DocumentImporter
{
public:
    void importDocument(const QUrl& url, AttachmentHandler attachmentHandler, Completion completion) override
    {
        ++imports;
        // The attachments' answers each go on with the one answer of the import.
        auto run = [this, url, attachmentHandler,
                    completion = std::make_shared<Completion>(std::move(completion))] {
            importerThreadWasMain = MainQueue::isMainThread();
            QFile file(url.toLocalFile());
            IdeaDocumentDataObjectPtr payload;
            if (file.open(QIODevice::ReadOnly))
                payload = IdeaDocumentDataObject::readFromSomeData(file.readAll());
            if (payload && payload->idea())
                payload->setIdea(payload->idea()->deepCopyWithNewIdentifiersNoExternalLinks());
            handOver(0, payload, attachmentHandler, completion);
        };
        if (fromWorkerThread)
            StorageQueues::persistenceQueue().async(run);
        else
            MainQueue::post(run);
    }

    std::vector<std::pair<ObjectID, QByteArray>> attachments;
    bool fromWorkerThread = false;
    int imports = 0;
    std::atomic<bool> importerThreadWasMain{false};

private:
    void handOver(std::size_t index, IdeaDocumentDataObjectPtr payload, const AttachmentHandler& handler,
                  const std::shared_ptr<Completion>& completion)
    {
        if (!payload || index == attachments.size()) {
            answer(payload, completion);
            return;
        }
        handler(attachments[index].first, attachments[index].second,
                [this, index, payload, handler, completion](bool stored) {
                    if (!stored) {
                        answer(nullptr, completion);
                        return;
                    }
                    handOver(index + 1, payload, handler, completion);
                });
    }

    void answer(const IdeaDocumentDataObjectPtr& payload, const std::shared_ptr<Completion>& completion)
    {
        const Read read = payload ? Read(payload) : Read(Error(QStringLiteral("test"), 1));
        if (fromWorkerThread)
            StorageQueues::persistenceQueue().async([read, completion] { (*completion)(read); });
        else
            (*completion)(read);
    }
};

class ScopedImporter
{
public:
    explicit ScopedImporter(std::shared_ptr<DocumentImporter> importer)
    {
        mPrevious = DocumentImporter::install(std::move(importer));
    }
    ~ScopedImporter() { DocumentImporter::install(mPrevious); }
    ScopedImporter(const ScopedImporter&) = delete;
    ScopedImporter& operator=(const ScopedImporter&) = delete;

private:
    std::shared_ptr<DocumentImporter> mPrevious;
};

QByteArray importedPictureBytes(int seed)
{
    return QByteArray("imported picture ") + QByteArray::number(seed);
}

ObjectID importedAttachmentFor(int seed)
{
    return ObjectID::createFromData(importedPictureBytes(seed), QStringLiteral("png"));
}

QVImage importedSampleImage(QColor color)
{
    QImage image(8, 6, QImage::Format_RGBA8888);
    image.fill(color);
    return QVImage(image);
}

struct Stored
{
    IdeaPtr idea;
    QString docIdentifier;
};

} // namespace

// Outside the anonymous namespace, like the test classes TEST_F derives from it: g++ warns
// about a base with internal linkage when this file shares a unity batch.
class PersistenceControllerImport : public ControllerTest
{
protected:
    // A payload file with smallTree(rootText) and fixed dates.
    QUrl payloadFile(const QString& rootText)
    {
        auto payload =
            IdeaDocumentDataObject::payloadForWriting(smallTree(rootText), payloadCreated, payloadModified);
        const auto json = payload->jsonData();
        EXPECT_TRUE(json.ok());
        const QString path = testDir() + QStringLiteral("/import-%1.json").arg(++mFiles);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json.value());
        return QUrl::fromLocalFile(path);
    }

    Stored importAndStoreDocument(const QUrl& url)
    {
        CompletionRecorder recorder;
        Stored stored;
        using Imported = Result<PersistenceController::ImportedDocument>;
        controller().importAndStoreDocument(
            url, expectCompletion<const Imported&>(
                     recorder, QStringLiteral("import and store"), [&](const Imported& imported) {
                         if (imported.ok())
                             stored = {imported.value().idea, imported.value().docIdentifier};
                     }));
        EXPECT_TRUE(recorder.waitAll());
        return stored;
    }

    IdeaDocumentDataObjectPtr importDocument(const QUrl& url, StorageLocation location)
    {
        CompletionRecorder recorder;
        IdeaDocumentDataObjectPtr payload;
        controller().importDocument(
            url, location,
            expectCompletion<const DocumentImporter::Read&>(
                recorder, QStringLiteral("import"),
                [&](const DocumentImporter::Read& read) { payload = DocumentImporter::payloadOf(read); }));
        EXPECT_TRUE(recorder.waitAll());
        return payload;
    }

    Stored storeImage(const QVImage& image, bool throughImportIdea = false)
    {
        CompletionRecorder recorder;
        Stored stored;
        auto completion = expectCompletion<const IdeaPtr&, const QString&>(
            recorder, QStringLiteral("image"), [&](const IdeaPtr& idea, const QString& identifier) {
                stored = {idea, identifier};
            });
        if (throughImportIdea)
            controller().importIdea(image, completion);
        else
            controller().importAndStoreImage(image, completion);
        EXPECT_TRUE(recorder.waitAll());
        return stored;
    }

    Stored storeIdea(const IdeaPtr& idea, const QString& from)
    {
        CompletionRecorder recorder;
        Stored stored;
        controller().importAndStoreIdea(
            idea, from,
            expectCompletion<const IdeaPtr&, const QString&>(
                recorder, QStringLiteral("idea"), [&](const IdeaPtr& i, const QString& identifier) {
                    stored = {i, identifier};
                }));
        EXPECT_TRUE(recorder.waitAll());
        return stored;
    }

    // Whole minutes: stored documents keep minutes.
    const QDateTime payloadCreated = QDateTime::fromSecsSinceEpoch(1'699'999'980, Qt::UTC);
    const QDateTime payloadModified = QDateTime::fromSecsSinceEpoch(1'700'003'580, Qt::UTC);

private:
    int mFiles = 0;
};

TEST_F(PersistenceControllerImport, ADocumentFileBecomesATemporaryDocumentWithItsAttachments)
{
    PersistenceController& controller = start(false, false);
    auto importer = std::make_shared<BarePayloadImporter>();
    importer->attachments = {{importedAttachmentFor(1), importedPictureBytes(1)},
                             {importedAttachmentFor(2), importedPictureBytes(2)}};
    ScopedImporter installed(importer);

    const Stored stored = importAndStoreDocument(payloadFile(QStringLiteral("imported root")));
    ASSERT_TRUE(stored.idea != nullptr);
    EXPECT_EQ(stored.idea->text(), QStringLiteral("imported root"));
    EXPECT_NE(stored.idea->identifier(), QStringLiteral("idroot_1"))
        << "the import kept the file's identifiers";
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(stored.docIdentifier), kTemp);
    EXPECT_TRUE(stored.docIdentifier.startsWith(QStringLiteral("temp:/")));
    EXPECT_TRUE(controller.documentKnown(stored.docIdentifier));
    EXPECT_EQ(importer->imports, 1);

    // Stored with the payload's dates, closed again, and readable.
    auto document = controller.findDocument(stored.docIdentifier);
    ASSERT_TRUE(document != nullptr);
    EXPECT_EQ(document->filePresenter(), nullptr);
    EXPECT_EQ(dump(fetchRoot(stored.docIdentifier)), dump(stored.idea));
    const qint64 token = open(document);
    ASSERT_GT(token, 0);
    EXPECT_EQ(document->dateCreated(), payloadCreated);
    EXPECT_EQ(document->dateModified(), payloadModified);
    release(document, token);

    for (int seed : {1, 2})
        EXPECT_EQ(fileBytes(TempLocationManager::attachmentURL(importedAttachmentFor(seed)).toLocalFile()),
                  importedPictureBytes(seed))
            << "attachment " << seed;
}

TEST_F(PersistenceControllerImport, ImportingIntoACloudLocationStoresTheAttachmentsThere)
{
    PersistenceController& controller = start(true, false);
    publishDocuments(kICloud, {});
    auto importer = std::make_shared<BarePayloadImporter>();
    importer->attachments = {{importedAttachmentFor(3), importedPictureBytes(3)}};
    ScopedImporter installed(importer);

    const auto payload = importDocument(payloadFile(QStringLiteral("for iCloud")), kICloud);
    ASSERT_TRUE(payload != nullptr);
    EXPECT_EQ(payload->idea()->text(), QStringLiteral("for iCloud"));
    EXPECT_EQ(fileBytes(backEnd(kICloud).attachmentsFolder() + QLatin1Char('/') +
                        importedAttachmentFor(3).asString()),
              importedPictureBytes(3));
    EXPECT_FALSE(
        QFileInfo::exists(TempLocationManager::attachmentURL(importedAttachmentFor(3)).toLocalFile()));
    // Importing stores no document by itself.
    EXPECT_TRUE(controller.proxyListForLocation(kICloud)->empty());
}

TEST_F(PersistenceControllerImport, FailedImportsGiveNothing)
{
    PersistenceController& controller = start(true, false);
    const QUrl url = payloadFile(QStringLiteral("never stored"));

    // No importer installed: nothing, through the main queue.
    {
        ScopedImporter none(nullptr);
        const Stored stored = importAndStoreDocument(url);
        EXPECT_EQ(stored.idea, nullptr);
        EXPECT_TRUE(stored.docIdentifier.isNull());
    }

    auto importer = std::make_shared<BarePayloadImporter>();
    ScopedImporter installed(importer);
    // Locations that keep no attachments: nothing, at once, and the importer is not asked.
    CompletionRecorder recorder;
    for (StorageLocation location : {kLocalFile, kDropbox}) {
        controller.importDocument(url, location,
                                  expectCompletion<const DocumentImporter::Read&>(
                                      recorder, QStringLiteral("location %1").arg(location),
                                      [](const DocumentImporter::Read& read) { EXPECT_FALSE(read.ok()); }));
    }
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(importer->imports, 0);

    // A file that holds no payload.
    const QString garbage = testDir() + QStringLiteral("/garbage.json");
    QFile file(garbage);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a document");
    file.close();
    EXPECT_EQ(importAndStoreDocument(QUrl::fromLocalFile(garbage)).idea, nullptr);

    // An attachment the location refuses (not an attachment name): the import fails.
    importer->attachments = {
        {ObjectID(QStringLiteral("../../escape"), QStringLiteral("png")), importedPictureBytes(4)}};
    const Stored refused = importAndStoreDocument(url);
    EXPECT_EQ(refused.idea, nullptr);
    EXPECT_TRUE(refused.docIdentifier.isNull());
    EXPECT_TRUE(controller.registeredDocuments().empty());
}

TEST_F(PersistenceControllerImport, AnImporterWorkingOnAnotherThreadIsAnsweredOnTheMainThread)
{
    PersistenceController& controller = start(true, false);
    publishDocuments(kICloud, {});
    auto importer = std::make_shared<BarePayloadImporter>();
    importer->fromWorkerThread = true;
    importer->attachments = {{importedAttachmentFor(5), importedPictureBytes(5)},
                             {importedAttachmentFor(6), importedPictureBytes(6)}};
    ScopedImporter installed(importer);

    // The recorder fails a completion off the main thread.
    const auto payload = importDocument(payloadFile(QStringLiteral("threaded")), kICloud);
    EXPECT_FALSE(importer->importerThreadWasMain.load());
    ASSERT_TRUE(payload != nullptr);
    for (int seed : {5, 6})
        EXPECT_EQ(fileBytes(backEnd(kICloud).attachmentsFolder() + QLatin1Char('/') +
                            importedAttachmentFor(seed).asString()),
                  importedPictureBytes(seed));
    const Stored stored = importAndStoreDocument(payloadFile(QStringLiteral("threaded, stored")));
    ASSERT_TRUE(stored.idea != nullptr);
    EXPECT_TRUE(controller.documentKnown(stored.docIdentifier));
}

TEST_F(PersistenceControllerImport, APictureBecomesATemporaryDocumentWithAPictureRoot)
{
    PersistenceController& controller = start(false, false);
    const QVImage image = importedSampleImage(Qt::red);
    const ObjectID expected = ObjectID::createFromData(image.pngData(), QStringLiteral("png"));

    const Stored stored = storeImage(image);
    ASSERT_TRUE(stored.idea != nullptr);
    EXPECT_EQ(stored.idea->ideaType(), IdeaTypeImage);
    EXPECT_EQ(stored.idea->att(), expected);
    EXPECT_TRUE(stored.idea->image().hasImage());
    EXPECT_TRUE(controller.documentKnown(stored.docIdentifier));
    EXPECT_EQ(fileBytes(TempLocationManager::attachmentURL(expected).toLocalFile()), image.pngData());
    const IdeaPtr read = fetchRoot(stored.docIdentifier);
    ASSERT_TRUE(read != nullptr);
    EXPECT_EQ(read->att(), expected);

    // importIdea does the same, as a new document each time.
    const Stored again = storeImage(image, /*throughImportIdea*/ true);
    ASSERT_TRUE(again.idea != nullptr);
    EXPECT_NE(again.docIdentifier, stored.docIdentifier);
    EXPECT_EQ(again.idea->att(), expected);

    // A picture without pixels stores nothing.
    const Stored empty = storeImage(QVImage());
    EXPECT_EQ(empty.idea, nullptr);
    EXPECT_TRUE(empty.docIdentifier.isNull());
    EXPECT_EQ(controller.registeredDocuments().size(), 2u);
}

TEST_F(PersistenceControllerImport, AnIdeaOfACloudDocumentIsStoredAsATemporaryDocumentWithItsAttachments)
{
    PersistenceController& controller = start(true, false);
    const QStringList documents = publishDocuments(kICloud, {QStringLiteral("cloud source")});
    CompletionRecorder recorder;
    controller.storeAttachment(
        importedAttachmentFor(7), importedPictureBytes(7), kICloud,
        expectCompletion<bool>(recorder, QStringLiteral("store"), [](bool ok) { EXPECT_TRUE(ok); }));
    ASSERT_TRUE(recorder.waitAll());

    IdeaPtr idea = fetchIdea(QStringLiteral("idb_1"), documents[0]);
    ASSERT_TRUE(idea != nullptr);
    idea->setAtt(importedAttachmentFor(7));
    const Stored stored = storeIdea(idea, documents[0]);
    ASSERT_TRUE(stored.idea != nullptr);
    EXPECT_EQ(stored.idea->text(), QStringLiteral("second child"));
    EXPECT_NE(stored.idea->identifier(), QStringLiteral("idb_1"));
    EXPECT_EQ(childTexts(stored.idea), QStringList{QStringLiteral("grandchild")});
    EXPECT_TRUE(stored.docIdentifier.startsWith(QStringLiteral("temp:/")));
    EXPECT_EQ(fileBytes(TempLocationManager::attachmentURL(importedAttachmentFor(7)).toLocalFile()),
              importedPictureBytes(7));
    EXPECT_EQ(fetchRoot(stored.docIdentifier)->text(), QStringLiteral("second child"));

    // An attachment the source cannot give: nothing is stored.
    idea->setAtt(importedAttachmentFor(8));
    const Stored failed = storeIdea(idea, documents[0]);
    EXPECT_EQ(failed.idea, nullptr);
    EXPECT_TRUE(failed.docIdentifier.isNull());
    EXPECT_EQ(controller.registeredDocuments().size(), 1u);

    // No idea, no document.
    EXPECT_EQ(storeIdea(nullptr, documents[0]).idea, nullptr);
}
