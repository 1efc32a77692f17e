// The document archive: the Python-made archives of tests/data/archive (written by
// tests/data/gen/make_archive_fixtures.py from the layout alone) import to their expected
// trees and our writer reproduces the reference byte for byte; failures keep the user's
// file; hostile chunks and names are refused; every completion arrives once, on the main
// queue.

#include "formats/ExportImport.h"
#include "formats/ArchiveImport.h"
#include "formats/DocumentFormats.h"
#include "formats/ExportProblems.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/OPMLParserInterface.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SaveFile.h"
#include "platform/core/Zlib.h"
#include "storage/DocumentImporter.h"
#include "storage/IdeaDocument.h"
#include "storage/PersistenceController.h"
#include "storage/TempLocationManager.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/formats/OutlineTestSupport.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FailureText.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QThread>
#include <QtEndian>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/mman.h>
#include <vector>

using namespace corvex;
using test::CompletionRecorder;

namespace {

// recorder.expect with a lambda body (the recorder cannot deduce its arguments from one).
template <class... Args, class Body>
std::function<void(Args...)> expectCall(CompletionRecorder& recorder, const QString& name, Body body)
{
    return recorder.expect<Args...>(name, CompletionRecorder::OnThread::Main,
                                    std::function<void(Args...)>(std::move(body)));
}

QString archiveDir()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../data/archive"));
}

QString corpusDir()
{
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../../fuzz/corpus/fuzz_archive"));
}

using corvex::test::writeFile;
using corvex::test::outline::readBytes;

QString outPath(const QString& name)
{
    return test::testDir() + QLatin1Char('/') + name;
}

QByteArray chunk(const QByteArray& data)
{
    char length[4];
    qToBigEndian<quint32>(quint32(data.size()), length);
    return QByteArray(length, 4) + data;
}

QByteArray referencePayloadJson()
{
    return readBytes(archiveDir() + QStringLiteral("/reference.payload.json"));
}

QByteArray compressedReferencePayload()
{
    return Zlib::compress(referencePayloadJson()).value();
}

// The reference document with its root's children replaced by one picture idea for each
// name: a payload that names exactly these attachments.
QByteArray compressedPayloadNaming(const QStringList& names)
{
    QJsonObject document = QJsonDocument::fromJson(referencePayloadJson()).object();
    QJsonObject object = document.value(QStringLiteral("ideaDocumentDataObject")).toObject();
    QJsonObject root = object.value(QStringLiteral("idea")).toObject();
    QJsonArray children;
    for (qsizetype i = 0; i < names.size(); ++i)
        children.append(QJsonObject{{QStringLiteral("identifier"), QStringLiteral("idPicture%1").arg(i)},
                                    {QStringLiteral("ideaType"), 2},
                                    {QStringLiteral("att"), names.at(i)},
                                    {QStringLiteral("colorThemeType"), 0}});
    root.insert(QStringLiteral("ideas"), children);
    object.insert(QStringLiteral("idea"), root);
    document.insert(QStringLiteral("ideaDocumentDataObject"), object);
    return Zlib::compress(QJsonDocument(document).toJson(QJsonDocument::Compact)).value();
}

QString attachmentNameOf(const QByteArray& data, const QString& extension)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex()) +
           QLatin1Char('.') + extension;
}

// The list of an idea's child indices from its root.
QList<int> pathOf(const IdeaPtr& idea)
{
    QList<int> path;
    IdeaPtr current = idea;
    while (IdeaPtr parent = current->parent()) {
        const auto& children = parent->ideas();
        const auto it = std::find(children.begin(), children.end(), current);
        path.prepend(int(it - children.begin()));
        current = parent;
    }
    return path;
}

std::vector<IdeaPtr> preOrder(const IdeaPtr& root)
{
    std::vector<IdeaPtr> out;
    std::vector<IdeaPtr> stack{root};
    while (!stack.empty()) {
        IdeaPtr idea = stack.back();
        stack.pop_back();
        out.push_back(idea);
        for (auto it = idea->ideas().rbegin(); it != idea->ideas().rend(); ++it)
            stack.push_back(*it);
    }
    return out;
}

QList<int> toPath(const QJsonValue& value)
{
    QList<int> path;
    for (const QJsonValue& index : value.toArray())
        path.append(index.toInt());
    return path;
}

std::string show(const QList<int>& path)
{
    std::string out = "[";
    for (int index : path)
        out += std::to_string(index) + ",";
    return out + "]";
}

QString nullable(const QJsonValue& value)
{
    return value.isNull() || value.isUndefined() ? QString() : value.toString();
}

struct Received
{
    ObjectID attachment;
    QByteArray data;
};

// One import, waited for: the payload and the attachments the handler got.
struct ImportRun
{
    IdeaDocumentDataObjectPtr payload;
    std::vector<Received> attachments;
    bool completed = false;
};

enum class Reply
{
    Yes,
    No,
    YesThenNo,
    FromAnotherThread,
    Drop, // the continuation is dropped without being called
};

ImportRun importFile(const QString& path, Reply reply = Reply::Yes)
{
    auto run = std::make_shared<ImportRun>();
    CompletionRecorder recorder;
    auto handler = [run, reply](const ObjectID& attachment, const QByteArray& data,
                                DocumentImporter::AttachmentStored stored) {
        run->attachments.push_back({attachment, data});
        switch (reply) {
        case Reply::Yes:
            stored(true);
            break;
        case Reply::No:
            stored(false);
            break;
        case Reply::YesThenNo:
            stored(run->attachments.size() < 2);
            break;
        case Reply::FromAnotherThread:
            GlobalQueue::async([stored = std::move(stored)]() mutable { stored(true); });
            break;
        case Reply::Drop:
            break;
        }
    };
    ExportImport::importDocument(
        QUrl::fromLocalFile(path), handler,
        expectCall<const DocumentImporter::Read&>(
            recorder, QStringLiteral("import"), [run](const DocumentImporter::Read& payloadRead) {
                const IdeaDocumentDataObjectPtr payload = DocumentImporter::payloadOf(payloadRead);
                run->payload = payload;
                run->completed = true;
            }));
    EXPECT_TRUE(recorder.waitAll()) << "no completion for " << path.toStdString();
    return *run;
}

// What the storage facade's import of the file into the temporary location hands over: the
// payload, or null when the import fails (the test fails too when no completion comes). The
// document formats are registered and no cloud location is opted into.
IdeaDocumentDataObjectPtr importedThroughStorage(const QString& path)
{
    registerDocumentFormats();
    Globals::optForICloud(false);
    Globals::optForDropbox(false);
    CompletionRecorder recorder;
    IdeaDocumentDataObjectPtr payload;
    PersistenceController::singleton().importDocument(
        QUrl::fromLocalFile(path), IdeaDocument::TemporaryLocation,
        expectCall<const DocumentImporter::Read&>(
            recorder, QStringLiteral("import"),
            [&](const DocumentImporter::Read& read) { payload = DocumentImporter::payloadOf(read); }));
    EXPECT_TRUE(recorder.waitAll()) << "no completion for " << path.toStdString();
    return payload;
}

// The attachment store of the writer tests: bytes by identifier, delivered on the main queue
// (or inline), null bytes for an attachment it does not have.
class ScopedAttachmentStore
{
public:
    explicit ScopedAttachmentStore(bool inline_ = false)
    {
        mPrevious = IdeaDocument::setAttachmentFetcher([this,
                                                        inline_](const ObjectID& attachment, StorageLocation,
                                                                 IdeaDocument::DataCompletion completion) {
            QByteArray data;
            {
                std::lock_guard lock(mMutex);
                ++mFetches;
                const auto it = mData.find(attachment.asString());
                if (it != mData.end())
                    data = it->second;
            }
            if (inline_)
                completion(data);
            else
                MainQueue::post([completion = std::move(completion), data]() mutable { completion(data); });
        });
    }
    ~ScopedAttachmentStore() { IdeaDocument::setAttachmentFetcher(mPrevious); }
    ScopedAttachmentStore(const ScopedAttachmentStore&) = delete;
    ScopedAttachmentStore& operator=(const ScopedAttachmentStore&) = delete;

    void put(const QString& identifier, const QByteArray& data)
    {
        std::lock_guard lock(mMutex);
        mData[identifier] = data;
    }
    void loadFixtureAttachments()
    {
        const QDir folder(archiveDir() + QStringLiteral("/attachments"));
        for (const QString& name : folder.entryList(QDir::Files))
            put(name, readBytes(folder.filePath(name)));
        ASSERT_EQ(mData.size(), 2u);
    }
    int fetches() const
    {
        std::lock_guard lock(mMutex);
        return mFetches;
    }

private:
    IdeaDocument::AttachmentFetcher mPrevious;
    mutable std::mutex mMutex;
    std::map<QString, QByteArray> mData;
    int mFetches = 0;
};

std::shared_ptr<IdeaDocument> documentFor(const IdeaDocumentDataObjectPtr& payload)
{
    auto document = IdeaDocument::initWithIdentifier(QStringLiteral("temp:/export-carrier.crvx"));
    document->setIdea(payload->idea());
    document->setDateCreated(payload->dateCreated());
    document->setDateModified(payload->dateModified());
    return document;
}

// The reference tree with its identifiers (read, not imported).
std::shared_ptr<IdeaDocument> referenceDocument()
{
    const auto payload = IdeaDocumentDataObject::readFromJSONData(referencePayloadJson());
    EXPECT_TRUE(payload != nullptr);
    return payload ? documentFor(payload) : nullptr;
}

Status exportTo(const std::shared_ptr<IdeaDocument>& document, const QString& path)
{
    CompletionRecorder recorder;
    Status result(Error(QStringLiteral("test"), 0, QStringLiteral("the export never completed")));
    ExportImport::exportDocument(document, QUrl::fromLocalFile(path),
                                 expectCall<const Status&>(recorder, QStringLiteral("export"),
                                                           [&](const Status& written) { result = written; }));
    EXPECT_TRUE(recorder.waitAll());
    return result;
}

// A failed export names the file and the cause in its error, and is logged as a warning that
// names the file, never as an assertion failure.
void expectFailure(const Status& written, ExportProblems::Code code, const QString& file,
                   const QString& cause, const test::LogCapture& log)
{
    ASSERT_TRUE(test::failsNaming(written, file, cause));
    const Error& error = written.error();
    EXPECT_EQ(error.domain(), ExportProblems::ErrorDomain) << error.toString().toStdString();
    EXPECT_EQ(error.code(), code) << error.toString().toStdString();
    EXPECT_EQ(error.userInfo().value(Error::FilePathKey).toString(), file);
    EXPECT_GE(log.count(LogLevel::Warning, QStringLiteral("ExportImport: ")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(log.count(QStringLiteral("Assertion failure")), 0)
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

} // namespace

// ---- Reading the Python-made archive

TEST(ArchiveImport, APythonMadeArchiveImportsToItsExpectedTreeWithFreshIdentifiers)
{
    const QJsonObject expected =
        QJsonDocument::fromJson(readBytes(archiveDir() + QStringLiteral("/pictures.expected.json"))).object();
    const ImportRun run = importFile(archiveDir() + QStringLiteral("/pictures.corvex"));
    ASSERT_TRUE(run.payload);
    ASSERT_TRUE(run.payload->idea());

    const std::vector<IdeaPtr> ideas = preOrder(run.payload->idea());
    // The import's copy has every link resolved already: asking walks no tree.
    const quint64 walks = Idea::identifierWalks();
    for (const IdeaPtr& idea : ideas)
        EXPECT_TRUE(!idea->isLink() || idea->linkedIdea());
    EXPECT_EQ(Idea::identifierWalks(), walks);
    const QJsonArray expectedIdeas = expected.value(QStringLiteral("ideas")).toArray();
    ASSERT_EQ(ideas.size(), std::size_t(expectedIdeas.size()));
    std::set<QString> identifiers;
    for (std::size_t i = 0; i < ideas.size(); ++i) {
        const IdeaPtr& idea = ideas[i];
        const QJsonObject want = expectedIdeas.at(qsizetype(i)).toObject();
        const QList<int> path = toPath(want.value(QStringLiteral("path")));
        SCOPED_TRACE("idea at " + show(path));
        EXPECT_EQ(pathOf(idea), path);
        EXPECT_EQ(idea->ideaType(), IdeaType(want.value(QStringLiteral("ideaType")).toInt()));
        EXPECT_EQ(idea->ideas().size(), std::size_t(want.value(QStringLiteral("childCount")).toInt()));
        EXPECT_NE(idea->identifier(), want.value(QStringLiteral("originalIdentifier")).toString())
            << "imports must carry fresh identifiers";
        EXPECT_FALSE(idea->identifier().isEmpty());
        identifiers.insert(idea->identifier());
        if (idea->isLink()) {
            // Identifiers are fresh, so a link is checked by where its target sits.
            const IdeaPtr target = idea->linkedIdea();
            ASSERT_TRUE(target) << "the link lost its target";
            EXPECT_EQ(show(pathOf(target)), show(toPath(want.value(QStringLiteral("linkTargetPath")))));
            continue;
        }
        EXPECT_EQ(idea->text(), nullable(want.value(QStringLiteral("text"))));
        EXPECT_EQ(idea->URL(), nullable(want.value(QStringLiteral("URL"))));
        EXPECT_EQ(idea->note(), nullable(want.value(QStringLiteral("note"))));
        EXPECT_EQ(idea->color() ? idea->color()->name() : QString(),
                  nullable(want.value(QStringLiteral("color"))));
        EXPECT_EQ(qint64(idea->colorThemeType()), want.value(QStringLiteral("colorThemeType")).toInteger());
        EXPECT_EQ(idea->att().asString(), nullable(want.value(QStringLiteral("att"))));
        EXPECT_EQ(idea->image().hasImage(), want.value(QStringLiteral("hasImage")).toBool());
        const QJsonValue icon = want.value(QStringLiteral("icon"));
        if (icon.isNull()) {
            EXPECT_FALSE(idea->iconImage());
        } else {
            ASSERT_TRUE(idea->iconImage());
            EXPECT_EQ(idea->iconImage()->name(), icon[QStringLiteral("name")].toString());
            EXPECT_EQ(idea->iconImage()->category(), icon[QStringLiteral("category")].toString());
            EXPECT_EQ(idea->iconImage()->symbol(), icon[QStringLiteral("symbol")].toString());
        }
    }
    EXPECT_EQ(identifiers.size(), ideas.size()) << "identifiers must be unique";

    EXPECT_EQ(run.payload->dateCreated().toUTC().toString(Qt::ISODate),
              expected.value(QStringLiteral("dateCreated")).toString());
    EXPECT_EQ(run.payload->dateModified().toUTC().toString(Qt::ISODate),
              expected.value(QStringLiteral("dateModified")).toString());

    const QJsonArray expectedAttachments = expected.value(QStringLiteral("attachments")).toArray();
    ASSERT_EQ(run.attachments.size(), std::size_t(expectedAttachments.size()));
    for (std::size_t i = 0; i < run.attachments.size(); ++i) {
        const QJsonObject want = expectedAttachments.at(qsizetype(i)).toObject();
        EXPECT_EQ(run.attachments[i].attachment.asString(),
                  want.value(QStringLiteral("identifier")).toString());
        EXPECT_EQ(run.attachments[i].data.size(), want.value(QStringLiteral("size")).toInteger());
        EXPECT_EQ(QCryptographicHash::hash(run.attachments[i].data, QCryptographicHash::Sha1).toHex(),
                  want.value(QStringLiteral("sha1")).toString().toLatin1());
    }
}

TEST(ArchiveImport, ImportingTheSameArchiveTwiceGivesTreesWithDifferentIdentifiers)
{
    const ImportRun first = importFile(archiveDir() + QStringLiteral("/pictures.corvex"));
    const ImportRun second = importFile(archiveDir() + QStringLiteral("/pictures.corvex"));
    ASSERT_TRUE(first.payload && second.payload);
    std::set<QString> firstIdentifiers;
    for (const IdeaPtr& idea : preOrder(first.payload->idea()))
        firstIdentifiers.insert(idea->identifier());
    for (const IdeaPtr& idea : preOrder(second.payload->idea()))
        EXPECT_EQ(firstIdentifiers.count(idea->identifier()), 0u) << idea->identifier().toStdString();
}

TEST(ArchiveImport, TheFacadeImporterReadsArchivesOnceTheFormatsAreRegistered)
{
    registerDocumentFormats();
    ASSERT_TRUE(DocumentImporter::isInstalled());
    CompletionRecorder recorder;
    IdeaDocumentDataObjectPtr payload;
    int attachments = 0;
    DocumentImporter::import(
        QUrl::fromLocalFile(archiveDir() + QStringLiteral("/pictures.corvex")),
        [&](const ObjectID&, const QByteArray&, DocumentImporter::AttachmentStored stored) {
            ++attachments;
            stored(true);
        },
        expectCall<const DocumentImporter::Read&>(
            recorder, QStringLiteral("import"), [&](const DocumentImporter::Read& resultRead) {
                const IdeaDocumentDataObjectPtr result = DocumentImporter::payloadOf(resultRead);
                payload = result;
            }));
    ASSERT_TRUE(recorder.waitAll());
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->idea()->text(), QStringLiteral("Trip to Z\u00fcrich"));
    EXPECT_EQ(attachments, 2);
}

TEST(ArchiveImport, TheStorageFacadeImportsAnArchiveWithItsAttachmentsIntoTheTemporaryLocation)
{
    const IdeaDocumentDataObjectPtr payload =
        importedThroughStorage(archiveDir() + QStringLiteral("/pictures.corvex"));
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->idea()->text(), QStringLiteral("Trip to Z\u00fcrich"));

    PersistenceController& controller = PersistenceController::singleton();
    CompletionRecorder recorder;
    const QDir attachments(archiveDir() + QStringLiteral("/attachments"));
    for (const QString& name : attachments.entryList(QDir::Files)) {
        QByteArray stored;
        controller.fetchAttachment(
            ObjectID::parseFromString(name), IdeaDocument::TemporaryLocation,
            expectCall<const QByteArray&>(recorder, name, [&](const QByteArray& data) { stored = data; }));
        ASSERT_TRUE(recorder.waitAll());
        EXPECT_EQ(stored, readBytes(attachments.filePath(name))) << name.toStdString();
    }
}

TEST(DocumentFormatsRegistration, RegisteringInstallsTheOPMLParserBehindThePayloadsReadFromOPML)
{
    const QByteArray opml =
        readBytes(test::outline::opmlDataDir() + QStringLiteral("/import/outliner_nested.opml"));
    const QJsonObject expected =
        test::outline::readJson(test::outline::opmlDataDir() +
                                QStringLiteral("/import/outliner_nested.expected.json"))
            .toObject();
    ASSERT_FALSE(OPMLParserInterface::isInstalled()) << "each test runs in a fresh process";
    {
        test::LogCapture quiet;
        EXPECT_EQ(IdeaDocumentDataObject::readFromOPML(opml), nullptr) << "no parser before the registration";
    }

    registerDocumentFormats();
    ASSERT_TRUE(OPMLParserInterface::isInstalled());
    const auto payload = IdeaDocumentDataObject::readFromOPML(opml);
    ASSERT_NE(payload, nullptr);
    ASSERT_NE(payload->idea(), nullptr);
    EXPECT_EQ(test::outline::importDump(payload->idea()).toStdString(),
              test::outline::expectedImportDump(expected).toStdString());

    // A second registration changes nothing.
    registerDocumentFormats();
    const auto again = IdeaDocumentDataObject::readFromOPML(opml);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(test::outline::importDump(again->idea()), test::outline::importDump(payload->idea()));
}

TEST(ArchiveImport, TheStorageFacadeImportsAnOPMLFileThroughTheRegisteredParserWithFreshIdentifiers)
{
    registerDocumentFormats();
    const QString source = test::outline::opmlDataDir() + QStringLiteral("/import/outliner_nested.opml");
    const QJsonObject expected =
        test::outline::readJson(test::outline::opmlDataDir() +
                                QStringLiteral("/import/outliner_nested.expected.json"))
            .toObject();
    // Read directly once, to tell that the import hands out other identifiers.
    const auto direct = IdeaDocumentDataObject::readFromOPML(readBytes(source));
    ASSERT_TRUE(direct && direct->idea());
    std::set<QString> directIdentifiers;
    for (const IdeaPtr& idea : preOrder(direct->idea()))
        directIdentifiers.insert(idea->identifier());

    for (const QString& name : {QStringLiteral("trip.opml"), QStringLiteral("TRIP.XML")}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = outPath(name);
        writeFile(path, readBytes(source));
        const IdeaDocumentDataObjectPtr payload = importedThroughStorage(path);
        ASSERT_TRUE(payload);
        ASSERT_TRUE(payload->idea());
        EXPECT_EQ(test::outline::importDump(payload->idea()).toStdString(),
                  test::outline::expectedImportDump(expected).toStdString());
        std::set<QString> identifiers;
        for (const IdeaPtr& idea : preOrder(payload->idea())) {
            EXPECT_EQ(directIdentifiers.count(idea->identifier()), 0u) << idea->identifier().toStdString();
            identifiers.insert(idea->identifier());
        }
        EXPECT_EQ(identifiers.size(), preOrder(payload->idea()).size()) << "identifiers must be unique";
    }

    // A file named like OPML that is none imports as nothing, through the same path.
    const QString broken = outPath(QStringLiteral("broken.opml"));
    writeFile(broken, QByteArrayLiteral("not an outline"));
    EXPECT_FALSE(importedThroughStorage(broken));
}

TEST(ArchiveImport, AHandlerReplyingFromAnotherThreadGetsTheNextPairAndTheCompletionComesOnTheMainQueue)
{
    const ImportRun run =
        importFile(archiveDir() + QStringLiteral("/pictures.corvex"), Reply::FromAnotherThread);
    ASSERT_TRUE(run.payload);
    EXPECT_EQ(run.attachments.size(), 2u);
}

TEST(ArchiveImport, AHandlerReportingNoEndsTheImportWithNothingAndKeepsWhatWasStored)
{
    const ImportRun refused = importFile(archiveDir() + QStringLiteral("/pictures.corvex"), Reply::No);
    EXPECT_FALSE(refused.payload);
    EXPECT_EQ(refused.attachments.size(), 1u) << "no pair may follow a NO";

    const ImportRun secondRefused =
        importFile(archiveDir() + QStringLiteral("/pictures.corvex"), Reply::YesThenNo);
    EXPECT_FALSE(secondRefused.payload);
    EXPECT_EQ(secondRefused.attachments.size(), 2u);
}

TEST(ArchiveImport, AHandlerThatDropsItsContinuationEndsTheImportWithNothing)
{
    const ImportRun dropped = importFile(archiveDir() + QStringLiteral("/pictures.corvex"), Reply::Drop);
    EXPECT_TRUE(dropped.completed);
    EXPECT_FALSE(dropped.payload);
    EXPECT_EQ(dropped.attachments.size(), 1u) << "no pair may follow a dropped continuation";
}

TEST(ArchiveImport, AnArchiveWithAttachmentsAndNoHandlerFailsButOneWithoutAttachmentsNeedsNone)
{
    const QString withPairs = archiveDir() + QStringLiteral("/pictures.corvex");
    const QString withoutPairs = outPath(QStringLiteral("plain.corvex"));
    writeFile(withoutPairs, ExportImport::Magic + chunk(compressedReferencePayload()));
    for (const auto& [path, succeeds] : {std::pair{withPairs, false}, std::pair{withoutPairs, true}}) {
        CompletionRecorder recorder;
        bool gotPayload = false;
        ExportImport::importDocument(
            QUrl::fromLocalFile(path), {},
            expectCall<const DocumentImporter::Read&>(
                recorder, QStringLiteral("import"), [&](const DocumentImporter::Read& resultRead) {
                    const IdeaDocumentDataObjectPtr result = DocumentImporter::payloadOf(resultRead);
                    gotPayload = bool(result);
                }));
        ASSERT_TRUE(recorder.waitAll());
        EXPECT_EQ(gotPayload, succeeds) << path.toStdString();
    }
}

TEST(ArchiveImport, AZeroLengthAttachmentReachesTheHandlerAsEmptyData)
{
    const QString name = attachmentNameOf(QByteArray(), QStringLiteral("png"));
    const QString path = outPath(QStringLiteral("empty-attachment.corvex"));
    writeFile(path, ExportImport::Magic + chunk(compressedPayloadNaming({name})) + chunk(name.toUtf8()) +
                        chunk(""));
    const ImportRun run = importFile(path);
    ASSERT_TRUE(run.payload);
    ASSERT_EQ(run.attachments.size(), 1u);
    EXPECT_EQ(run.attachments[0].attachment.asString(), name);
    EXPECT_TRUE(run.attachments[0].data.isEmpty());
    EXPECT_FALSE(run.attachments[0].data.isNull()) << "empty data, not missing data";
}

// ---- Damaged and hostile archives (truncation, lengths, names)

TEST(ArchiveImport, DamagedArchivesAreRefusedThoughTheirPayloadIsSound)
{
    const QByteArray payload = compressedReferencePayload();
    const QByteArray identifier = QByteArrayLiteral("3c770baf6b7270062fdda7ea09bdd3949f4f6216.png");
    const QByteArray whole =
        ExportImport::Magic + chunk(payload) + chunk(identifier) + chunk("picture bytes");
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"only the magic", ExportImport::Magic},
        {"three bytes", ExportImport::Magic.left(3)},
        {"empty file", QByteArray("")},
        {"payload length cut", ExportImport::Magic + chunk(payload).left(2)},
        {"payload cut", ExportImport::Magic + chunk(payload).left(payload.size() / 2)},
        {"identifier without data", ExportImport::Magic + chunk(payload) + chunk(identifier)},
        {"data cut", whole.left(whole.size() - 3)},
        {"one stray byte", whole + QByteArray(1, '\0')},
        {"two stray bytes", whole + QByteArray(2, '\0')},
        {"three stray bytes", whole + QByteArray(3, '\0')},
        {"payload that is no zlib stream", ExportImport::Magic + chunk(referencePayloadJson())},
        {"empty payload", ExportImport::Magic + chunk("")},
    };
    for (const auto& [label, bytes] : cases) {
        const QString path = outPath(QStringLiteral("damaged.corvex"));
        writeFile(path, bytes);
        const ImportRun run = importFile(path);
        EXPECT_FALSE(run.payload) << label;
    }
}

TEST(ArchiveImport, ALengthClaimingMoreThanTheFileHoldsIsRefusedWithoutReadingOrAllocatingIt)
{
    const QByteArray payload = compressedReferencePayload();
    const QByteArray identifier = QByteArrayLiteral("3c770baf6b7270062fdda7ea09bdd3949f4f6216.png");
    const std::vector<std::pair<const char*, QByteArray>> cases = {
        {"payload 0xFFFFFFFF", ExportImport::Magic + QByteArray::fromHex("ffffffff") + payload},
        {"payload one byte more", ExportImport::Magic + QByteArray::fromHex("00000000") + payload},
        {"identifier 0xFFFFFFFF",
         ExportImport::Magic + chunk(payload) + QByteArray::fromHex("ffffffff") + identifier},
        {"data 0x80000000", ExportImport::Magic + chunk(payload) + chunk(identifier) +
                                QByteArray::fromHex("80000000") + QByteArray(5000, 'x')},
    };
    for (const auto& [label, original] : cases) {
        QByteArray bytes = original;
        if (std::string(label) == "payload one byte more")
            qToBigEndian<quint32>(quint32(payload.size() + 1), bytes.data() + 4);
        const QString path = outPath(QStringLiteral("oversized.corvex"));
        writeFile(path, bytes);
        const ImportRun run = importFile(path);
        EXPECT_FALSE(run.payload) << label;
        EXPECT_TRUE(run.attachments.empty()) << label;
    }

    // The chunk reader itself: the claimed length is checked before anything is read.
    QByteArray huge = QByteArray::fromHex("ffffffff") + QByteArray(100, 'x');
    QBuffer buffer(&huge);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    bool noMore = true;
    EXPECT_FALSE(ExportImport::readDataChunk(buffer, noMore));
    EXPECT_FALSE(noMore) << "a damaged chunk is not the end of the file";
    EXPECT_EQ(buffer.pos(), 4) << "nothing past the length field was read";
}

TEST(ArchiveImport, TheChunkReaderTellsTheEndOfTheFileFromAPartialLengthField)
{
    for (int extra = 0; extra <= 3; ++extra) {
        QByteArray bytes = chunk(QByteArray(3000, 'a')) + QByteArray(extra, '\x01');
        QBuffer buffer(&bytes);
        ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
        bool noMore = true;
        const auto first = ExportImport::readDataChunk(buffer, noMore);
        ASSERT_TRUE(first);
        EXPECT_EQ(*first, QByteArray(3000, 'a')) << "a chunk larger than one read piece comes back whole";
        EXPECT_FALSE(noMore);
        const auto second = ExportImport::readDataChunk(buffer, noMore);
        EXPECT_FALSE(second);
        EXPECT_EQ(noMore, extra == 0) << extra << " stray bytes";
    }
}

TEST(ArchiveImport, AttachmentNamesThatAreNoAttachmentNamesEndTheImportBeforeTheHandlerSeesThem)
{
    const QDir corpus(corpusDir());
    const QStringList files = corpus.entryList({QStringLiteral("bad_name_*.corvex")}, QDir::Files);
    ASSERT_GE(files.size(), 14) << "the fuzz corpus holds the hostile names";
    test::LogCapture log;
    for (const QString& name : files) {
        const ImportRun run = importFile(corpus.filePath(name));
        EXPECT_FALSE(run.payload) << name.toStdString();
        EXPECT_TRUE(run.attachments.empty()) << name.toStdString() << " reached the handler";
    }
    EXPECT_GE(log.count(QStringLiteral("refused the attachment name")), 14);
}

TEST(ArchiveImport, ABadNameAfterAGoodPairEndsTheImportBeforeAnyPairIsHandedOver)
{
    const QByteArray payload = compressedReferencePayload();
    const QByteArray good =
        readBytes(archiveDir() + QStringLiteral("/attachments/f8cd368b9efef0332fc984055586cfa1be7ec3f3.png"));
    const QString path = outPath(QStringLiteral("good-then-bad.corvex"));
    writeFile(path, ExportImport::Magic + chunk(payload) +
                        chunk("f8cd368b9efef0332fc984055586cfa1be7ec3f3.png") + chunk(good) +
                        chunk("../../f8cd368b9efef0332fc984055586cfa1be7ec3f3.png") + chunk(good));
    const ImportRun run = importFile(path);
    EXPECT_FALSE(run.payload);
    EXPECT_TRUE(run.attachments.empty()) << "the good pair would stay stored after the failed import";
}

TEST(ArchiveImport, AnArchiveCutShortAnywhereAmongItsPairsHandsNoAttachmentOver)
{
    // Every cut between the end of the payload and the last byte: inside a length field, an
    // identifier or the bytes of the first or of the second attachment.
    const QByteArray whole = readBytes(archiveDir() + QStringLiteral("/pictures.corvex"));
    const qint64 payloadEnd = ExportImport::Magic.size() + 4 + qFromBigEndian<quint32>(whole.constData() + 4);
    std::vector<qint64> cuts;
    for (qint64 at = payloadEnd + 1; at < whole.size();
         at += std::max<qint64>(1, (whole.size() - payloadEnd) / 97))
        cuts.push_back(at);
    for (qint64 near : {payloadEnd, qint64(whole.size())})
        for (qint64 delta = 1; delta <= 6; ++delta)
            cuts.push_back(near == payloadEnd ? near + delta : near - delta);
    const QString path = outPath(QStringLiteral("cut.corvex"));
    for (const qint64 cut : cuts) {
        writeFile(path, whole.left(cut));
        const ImportRun run = importFile(path);
        EXPECT_FALSE(run.payload) << "cut at " << cut;
        EXPECT_TRUE(run.attachments.empty()) << "cut at " << cut << ": an attachment was handed over";
    }
}

TEST(ArchiveImport, AnArchiveTruncatedInItsSecondAttachmentLeavesNoAttachmentInTheTemporaryLocation)
{
    EXPECT_FALSE(
        importedThroughStorage(archiveDir() + QStringLiteral("/truncated_second_attachment.corvex")));

    const QDir attachments(archiveDir() + QStringLiteral("/attachments"));
    ASSERT_EQ(attachments.entryList(QDir::Files).size(), 2);
    for (const QString& name : attachments.entryList(QDir::Files)) {
        EXPECT_FALSE(QFileInfo::exists(
            TempLocationManager::attachmentURL(ObjectID::parseFromString(name)).toLocalFile()))
            << name.toStdString() << " was stored by the failed import";
    }
    const QString folder = TempLocationManager::baseAttURL().toLocalFile();
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty()) << folder.toStdString();
}

TEST(ArchiveImport, AFileChangedBetweenTheTwoReadingsEndsTheImport)
{
    // The pairs are read a second time, one by one, as they are handed over: a file cut in
    // between fails at the pair it no longer holds.
    auto buffer = std::make_shared<QBuffer>();
    buffer->setData(
        readBytes(archiveDir() + QStringLiteral("/pictures.corvex")).mid(ExportImport::Magic.size()));
    ASSERT_TRUE(buffer->open(QIODevice::ReadOnly));
    int handed = 0;
    std::atomic<int> finishes{0};
    IdeaDocumentDataObjectPtr result = IdeaDocumentDataObject::create();
    test::LogCapture log;
    ArchiveImport::run(
        buffer,
        [&](const ObjectID&, const QByteArray&, DocumentImporter::AttachmentStored stored) {
            ++handed;
            buffer->buffer().chop(10);
            stored(true);
        },
        [&](const DocumentImporter::Read& payloadRead) {
            const IdeaDocumentDataObjectPtr payload = DocumentImporter::payloadOf(payloadRead);
            result = payload;
            ++finishes;
        });
    // The stored answer goes on with the next pair on a later turn, on a global queue.
    ASSERT_TRUE(test::runUntil([&] { return finishes.load() > 0; }));
    EXPECT_EQ(finishes.load(), 1);
    EXPECT_FALSE(result);
    EXPECT_EQ(handed, 1);
    EXPECT_TRUE(log.contains(QStringLiteral("changed while it was imported")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(ArchiveImport, AStreamThatCannotBeReadTwiceIsRefused)
{
    // A device that reads only forwards, as a pipe does.
    class ForwardOnly : public QBuffer
    {
    public:
        bool isSequential() const override { return true; }
    };
    auto stream = std::make_shared<ForwardOnly>();
    stream->setData(
        readBytes(archiveDir() + QStringLiteral("/pictures.corvex")).mid(ExportImport::Magic.size()));
    ASSERT_TRUE(stream->open(QIODevice::ReadOnly));
    int handed = 0;
    IdeaDocumentDataObjectPtr result = IdeaDocumentDataObject::create();
    test::LogCapture log;
    ArchiveImport::run(
        stream,
        [&](const ObjectID&, const QByteArray&, DocumentImporter::AttachmentStored stored) {
            ++handed;
            stored(true);
        },
        [&](const DocumentImporter::Read& payloadRead) {
            const IdeaDocumentDataObjectPtr payload = DocumentImporter::payloadOf(payloadRead);
            result = payload;
        });
    EXPECT_FALSE(result);
    EXPECT_EQ(handed, 0);
    EXPECT_FALSE(stream->isOpen());
}

TEST(ArchiveImport, ManyPairsAreReadOneAfterAnotherWithoutNesting)
{
    QStringList names;
    QByteArray pairs;
    for (int i = 0; i < 3000; ++i) {
        const QByteArray data{char(i % 256), char(i / 256)};
        names.append(attachmentNameOf(data, QStringLiteral("bin")));
        pairs += chunk(names.last().toUtf8()) + chunk(data);
    }
    const QString path = outPath(QStringLiteral("many-pairs.corvex"));
    writeFile(path, ExportImport::Magic + chunk(compressedPayloadNaming(names)) + pairs);
    const ImportRun run = importFile(path);
    ASSERT_TRUE(run.payload);
    EXPECT_EQ(run.attachments.size(), 3000u);
}

TEST(ArchiveImport, OnlyTheAttachmentsItsTreeNamesAreHandedOverAndStored)
{
    // Pairs nobody names before, between and after the named ones: each is checked and left
    // out, never stored, whatever its place.
    const QByteArray named = "a picture an idea shows", other = "another one", unused = "nobody's";
    const QString a = attachmentNameOf(named, QStringLiteral("png"));
    const QString b = attachmentNameOf(other, QStringLiteral("jpg"));
    const QString u1 = attachmentNameOf(unused, QStringLiteral("png"));
    const QString u2 = attachmentNameOf(unused + unused, QStringLiteral("png"));
    const QString path = outPath(QStringLiteral("unused-attachments.corvex"));
    writeFile(path, ExportImport::Magic + chunk(compressedPayloadNaming({a, b})) + chunk(u1.toUtf8()) +
                        chunk(unused) + chunk(a.toUtf8()) + chunk(named) + chunk(u2.toUtf8()) +
                        chunk(unused + unused) + chunk(b.toUtf8()) + chunk(other));

    test::LogCapture log;
    const ImportRun run = importFile(path);
    ASSERT_TRUE(run.payload);
    ASSERT_EQ(run.attachments.size(), 2u);
    EXPECT_EQ(run.attachments[0].attachment.asString(), a);
    EXPECT_EQ(run.attachments[0].data, named);
    EXPECT_EQ(run.attachments[1].attachment.asString(), b);
    EXPECT_EQ(
        log.count(
            QStringLiteral("left out 2 attachments that no idea names (%1 bytes)").arg(3 * unused.size())),
        1)
        << log.lines().join(QLatin1Char('\n')).toStdString();

    ASSERT_TRUE(importedThroughStorage(path));
    for (const auto& [name, stored] :
         {std::pair{a, true}, std::pair{b, true}, std::pair{u1, false}, std::pair{u2, false}})
        EXPECT_EQ(QFileInfo::exists(
                      TempLocationManager::attachmentURL(ObjectID::parseFromString(name)).toLocalFile()),
                  stored)
            << name.toStdString();
}

// ---- Other files the importer recognises

TEST(ArchiveImport, AFileWithoutTheMagicIsAnOlderDocumentWithoutAttachments)
{
    const QString path = outPath(QStringLiteral("older.corvex"));
    writeFile(path, compressedReferencePayload());
    const ImportRun run = importFile(path);
    ASSERT_TRUE(run.payload);
    EXPECT_TRUE(run.attachments.empty());
    EXPECT_EQ(run.payload->idea()->text(), QStringLiteral("Trip to Z\u00fcrich"));
    EXPECT_NE(run.payload->idea()->identifier(), QStringLiteral("idA_root"));

    writeFile(path, QByteArrayLiteral("\x78\x9c not a stream"));
    EXPECT_FALSE(importFile(path).payload);
}

TEST(ArchiveImport, ANameEndingInOpmlOrXmlInAnyCaseIsReadAsOpmlWhateverItHolds)
{
    struct FakeParser : OPMLParserInterface
    {
        std::shared_ptr<Idea> parseIdeaFromOPMLData(const QByteArray& data) override
        {
            auto root = Idea::initWithText(QStringLiteral("from OPML"), QStringLiteral("idOPML_root"));
            auto child = Idea::initWithText(QString::number(data.size()), QStringLiteral("idOPML_child"));
            EXPECT_TRUE(root->addIdea(child));
            return root;
        }
    };
    const auto previous = OPMLParserInterface::installFactory([] { return std::make_unique<FakeParser>(); });
    const QByteArray archive = readBytes(archiveDir() + QStringLiteral("/pictures.corvex"));
    for (const QString& name :
         {QStringLiteral("outline.XML"), QStringLiteral("outline.opml"), QStringLiteral("OUTLINE.OpMl")}) {
        const QString path = outPath(name);
        writeFile(path, archive);
        const ImportRun run = importFile(path);
        ASSERT_TRUE(run.payload) << name.toStdString();
        EXPECT_TRUE(run.attachments.empty()) << "OPML has no attachments";
        EXPECT_EQ(run.payload->idea()->text(), QStringLiteral("from OPML"));
        ASSERT_EQ(run.payload->idea()->ideas().size(), 1u);
        EXPECT_EQ(run.payload->idea()->ideas()[0]->text(), QString::number(archive.size()));
        EXPECT_NE(run.payload->idea()->identifier(), QStringLiteral("idOPML_root"));
    }
    OPMLParserInterface::installFactory(previous);
}

TEST(ArchiveImport, AnOPMLBillionLaughsFileIsRefusedWithAnErrorAndMakesNoDocument)
{
    registerDocumentFormats();
    Globals::optForICloud(false);
    Globals::optForDropbox(false);
    const QString path = outPath(QStringLiteral("laughs.opml"));
    writeFile(path, readBytes(QFileInfo(QStringLiteral(__FILE__))
                                  .absoluteDir()
                                  .absoluteFilePath(QStringLiteral(
                                      "../../fuzz/corpus/fuzz_opml/entity_billion_laughs.opml"))));
    test::LogCapture log;
    const ImportRun run = importFile(path);
    EXPECT_FALSE(run.payload) << "an empty, untitled document was made of it";
    EXPECT_TRUE(log.contains(QStringLiteral("OPMLParser: the document is refused")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("entity expansion limit")))
        << log.lines().join(QLatin1Char('\n')).toStdString();

    // Through the storage facade: nothing is stored.
    PersistenceController& controller = PersistenceController::singleton();
    CompletionRecorder recorder;
    using Imported = Result<PersistenceController::ImportedDocument>;
    std::optional<Imported> stored;
    controller.importAndStoreDocument(
        QUrl::fromLocalFile(path),
        expectCall<const Imported&>(recorder, QStringLiteral("import and store"),
                                    [&](const Imported& imported) { stored = imported; }));
    ASSERT_TRUE(recorder.waitAll());
    ASSERT_TRUE(stored.has_value());
    EXPECT_FALSE(stored->ok());
    EXPECT_TRUE(stored->error().localizedFailureReason().contains(QStringLiteral("entity expansion limit")))
        << stored->error().localizedFailureReason().toStdString();
    const QString documents = TempLocationManager::baseDocURL().toLocalFile();
    EXPECT_TRUE(QDir(documents).entryList(QDir::Files).isEmpty()) << documents.toStdString();
}

// A file that cannot be read is an ordinary failure: logged as a warning naming it, never as
// an assertion failure.
TEST(ArchiveImport, EveryFailureIsReportedLaterOnTheMainQueueNeverInsideTheCall)
{
    const QString shortFile = outPath(QStringLiteral("short.corvex"));
    writeFile(shortFile, QByteArrayLiteral("\x9c\x78"));
    const QString noPayload = outPath(QStringLiteral("magic.corvex"));
    writeFile(noPayload, ExportImport::Magic);
    for (const QString& path : {outPath(QStringLiteral("missing.corvex")), shortFile, noPayload}) {
        const test::LogCapture log;
        CompletionRecorder recorder;
        bool called = false;
        bool gotPayload = true;
        ExportImport::importDocument(
            QUrl::fromLocalFile(path), {},
            expectCall<const DocumentImporter::Read&>(
                recorder, QStringLiteral("import"), [&](const DocumentImporter::Read& payloadRead) {
                    const IdeaDocumentDataObjectPtr payload = DocumentImporter::payloadOf(payloadRead);
                    called = true;
                    gotPayload = bool(payload);
                }));
        EXPECT_FALSE(called) << path.toStdString() << " reported inside the call";
        ASSERT_TRUE(recorder.waitAll());
        EXPECT_FALSE(gotPayload);
        EXPECT_EQ(log.count(QStringLiteral("Assertion failure")), 0)
            << log.lines().join(QLatin1Char('\n')).toStdString();
        if (path != noPayload) {
            EXPECT_GE(log.count(LogLevel::Warning, path), 1)
                << log.lines().join(QLatin1Char('\n')).toStdString();
        }
    }
    // A URL that names no file.
    CompletionRecorder recorder;
    bool called = false;
    ExportImport::importDocument(
        QUrl(QStringLiteral("https://example.com/x.corvex")), {},
        expectCall<const DocumentImporter::Read&>(recorder, QStringLiteral("import"),
                                                  [&](const DocumentImporter::Read&) { called = true; }));
    EXPECT_FALSE(called);
    ASSERT_TRUE(recorder.waitAll());
}

TEST(ArchiveImport, TheWindowsTakeInputWhileTheReaderIsHeldAndNoPairIsReadOnTheMainThread)
{
    // The reader waits at the gate; the main queue must go on running blocks meanwhile.
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    std::atomic<bool> held{false};
    ExportImport::setReadingGate([&] {
        held = true;
        std::unique_lock lock(mutex);
        opened.wait(lock, [&] { return open; });
    });
    const auto removeGate = qScopeGuard([] { ExportImport::setReadingGate(nullptr); });

    // The attachment store answers on the main thread, as the storage facade's does.
    std::atomic<int> pairsOnTheMainThread{0};
    std::atomic<int> pairs{0};
    auto handler = [&](const ObjectID&, const QByteArray&, DocumentImporter::AttachmentStored stored) {
        ++pairs;
        if (MainQueue::isMainThread())
            ++pairsOnTheMainThread;
        MainQueue::post([stored = std::move(stored)]() mutable { stored(true); });
    };
    CompletionRecorder recorder;
    IdeaDocumentDataObjectPtr payload;
    ExportImport::importDocument(
        QUrl::fromLocalFile(archiveDir() + QStringLiteral("/pictures.corvex")), handler,
        expectCall<const DocumentImporter::Read&>(
            recorder, QStringLiteral("import"),
            [&](const DocumentImporter::Read& read) { payload = DocumentImporter::payloadOf(read); }));
    ASSERT_TRUE(test::runUntil([&] { return held.load(); })) << "the reader never reached the gate";
    bool ran = false;
    MainQueue::post([&] { ran = true; });
    EXPECT_TRUE(test::runUntil([&] { return ran; })) << "the main queue stood still while the file was read";
    EXPECT_EQ(pairs.load(), 0);
    EXPECT_FALSE(payload);

    {
        std::lock_guard lock(mutex);
        open = true;
    }
    opened.notify_all();
    ASSERT_TRUE(recorder.waitAll());
    ASSERT_TRUE(payload);
    EXPECT_EQ(pairs.load(), 2);
    EXPECT_EQ(pairsOnTheMainThread.load(), 0);
}

// ---- Writing

TEST(ArchiveExport, OurArchiveOfTheReferenceTreeEqualsThePythonArchiveByteForByte)
{
    // The payload names the writing instance, made from the wall clock on first use.
    const auto previousClock = Globals::setWallClock([] { return 1614834360.123456; });
    ASSERT_EQ(Globals::appInstance(), QStringLiteral("MAC_1614834360.123456"))
        << "the instance name was made before this test could fix the clock";
    const QByteArray reference = readBytes(archiveDir() + QStringLiteral("/reference.corvex"));
    for (const bool inlineFetch : {false, true}) {
        ScopedAttachmentStore store(inlineFetch);
        store.loadFixtureAttachments();
        const auto document = referenceDocument();
        ASSERT_TRUE(document);
        const QString path = outPath(QStringLiteral("reference.corvex"));
        ASSERT_TRUE(exportTo(document, path));
        const QByteArray written = readBytes(path);
        EXPECT_EQ(written.size(), reference.size()) << (inlineFetch ? "inline fetch" : "queued fetch");
        EXPECT_TRUE(written == reference)
            << "first difference at byte "
            << std::mismatch(written.begin(), written.end(), reference.begin(), reference.end()).first -
                   written.begin();
        if (written != reference)
            writeFile(test::testOutputDir() + QStringLiteral("/archive-reference-written.corvex"), written);
        EXPECT_EQ(store.fetches(), 2) << "an attachment shared by two ideas is fetched and written once";
    }
    Globals::setWallClock(previousClock);
}

TEST(ArchiveExport, ADocumentWithoutAttachmentsIsTheMagicOneLengthAndThePayload)
{
    auto document = IdeaDocument::initWithIdentifier(QStringLiteral("temp:/plain.crvx"));
    auto root = Idea::initWithText(QStringLiteral("Just text"), QStringLiteral("idP_root"));
    ASSERT_TRUE(root->addIdea(Idea::initWithText(QStringLiteral("child"), QStringLiteral("idP_1"))));
    document->setIdea(root);
    const QString path = outPath(QStringLiteral("plain.corvex"));
    ASSERT_TRUE(exportTo(document, path));
    const QByteArray written = readBytes(path);
    ASSERT_GE(written.size(), 8);
    EXPECT_EQ(written.left(4), ExportImport::Magic);
    const quint32 length = qFromBigEndian<quint32>(written.constData() + 4);
    EXPECT_EQ(qint64(written.size()), 8 + qint64(length));
    EXPECT_EQ(written.mid(8, 2), QByteArrayLiteral("\x78\x9c"));
}

TEST(ArchiveExport, AWrittenDocumentWithAttachmentsImportsBackWithTheSameTreeAndBytes)
{
    ScopedAttachmentStore store;
    const auto source = test::makeDocumentTree(300, 6, 7);
    auto payload = IdeaDocumentDataObject::readFromJSONData(test::makePayloadJson(source));
    ASSERT_TRUE(payload);
    // Pictures on a few ideas: one attachment per picture, a large one among them.
    std::map<QString, QByteArray> pictures;
    int index = 0;
    for (const IdeaPtr& idea : preOrder(payload->idea())) {
        if (index++ % 37 != 5)
            continue;
        QByteArray bytes(index * 101 + (index == 6 ? 300000 : 0), char(index));
        const ObjectID attachment = ObjectID::createFromData(bytes, QStringLiteral("png"));
        idea->setAtt(attachment);
        store.put(attachment.asString(), bytes);
        pictures[attachment.asString()] = bytes;
    }
    ASSERT_GE(pictures.size(), 5u);
    const QString path = outPath(QStringLiteral("round-trip.corvex"));
    ASSERT_TRUE(exportTo(documentFor(payload), path));

    const ImportRun run = importFile(path);
    ASSERT_TRUE(run.payload);
    const std::vector<IdeaPtr> before = preOrder(payload->idea());
    const std::vector<IdeaPtr> after = preOrder(run.payload->idea());
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i]->text(), before[i]->text());
        EXPECT_EQ(after[i]->note(), before[i]->note());
        EXPECT_EQ(after[i]->att(), before[i]->att());
    }
    std::map<QString, QByteArray> received;
    for (const Received& item : run.attachments)
        received[item.attachment.asString()] = item.data;
    EXPECT_EQ(received.size(), run.attachments.size()) << "each attachment is written once";
    EXPECT_TRUE(received == pictures);
}

TEST(ArchiveExport, AMissingAttachmentFailsTheExportAndLeavesTheOldFile)
{
    ScopedAttachmentStore store; // holds nothing
    const auto document = referenceDocument();
    ASSERT_TRUE(document);
    const QString path = outPath(QStringLiteral("keep.corvex"));
    writeFile(path, QByteArrayLiteral("the user's old file"));
    test::LogCapture log;
    expectFailure(exportTo(document, path), ExportProblems::MissingAttachment, path,
                  QStringLiteral("is missing"), log);
    EXPECT_EQ(readBytes(path), QByteArrayLiteral("the user's old file"));
    EXPECT_EQ(folderEntries(test::testDir()).filter(QStringLiteral("corvex-tmp")), QStringList());
}

TEST(ArchiveExport, AFailingWriteSyncOrRenameLeavesTheOldFileAndSaysWhichFileAndWhy)
{
    struct Fault
    {
        const char* label;
        test::FaultShim::Op op;
        int errnoValue;
    };
    for (const Fault& fault :
         {Fault{"write", test::FaultShim::Op::Write, ENOSPC}, Fault{"fsync", test::FaultShim::Op::Fsync, EIO},
          Fault{"rename", test::FaultShim::Op::Rename, EXDEV}}) {
        ScopedAttachmentStore store;
        store.loadFixtureAttachments();
        const auto document = referenceDocument();
        ASSERT_TRUE(document);
        const QString path = outPath(QStringLiteral("keep.corvex"));
        writeFile(path, QByteArrayLiteral("the user's old file"));
        test::LogCapture log;
        Status result;
        {
            test::FaultShim shim;
            shim.failFrom(fault.op, 1, fault.errnoValue);
            result = exportTo(document, path);
            EXPECT_GE(shim.callCount(fault.op), 1) << fault.label << " was never reached";
        }
        SCOPED_TRACE(fault.label);
        expectFailure(result, ExportProblems::NotWritten, path, test::errnoText(fault.errnoValue), log);
        EXPECT_EQ(readBytes(path), QByteArrayLiteral("the user's old file")) << fault.label;
        EXPECT_EQ(folderEntries(test::testDir()).filter(QStringLiteral("corvex-tmp")), QStringList())
            << fault.label;
    }
}

TEST(ArchiveExport, DataBeyondTheLengthFieldIsRefusedAndNeverCut)
{
    // Four gebibytes and one byte of address space that is never touched: the writer must
    // refuse by the size alone.
    const qint64 size = ExportImport::MaxChunkLength + 1;
    void* region =
        ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED)
        GTEST_SKIP() << "no address space for the large region";
    {
        ScopedAttachmentStore store;
        const auto document = referenceDocument();
        ASSERT_TRUE(document);
        store.loadFixtureAttachments();
        store.put(QStringLiteral("3c770baf6b7270062fdda7ea09bdd3949f4f6216.png"),
                  QByteArray::fromRawData(static_cast<const char*>(region), size));
        const QString path = outPath(QStringLiteral("keep.corvex"));
        writeFile(path, QByteArrayLiteral("the user's old file"));
        test::LogCapture log;
        expectFailure(exportTo(document, path), ExportProblems::TooLarge, path, QString::number(size), log);
        EXPECT_EQ(readBytes(path), QByteArrayLiteral("the user's old file"));
        EXPECT_TRUE(log.contains(QStringLiteral("do not fit one chunk")))
            << log.lines().join(QLatin1Char('\n')).toStdString();
    }
    ::munmap(region, std::size_t(size));
}

TEST(ArchiveExport, ExportingWithoutAFileNameWritesIntoAFreshTemporaryFolder)
{
    ScopedAttachmentStore store;
    store.loadFixtureAttachments();
    const auto document = referenceDocument();
    ASSERT_TRUE(document);
    CompletionRecorder recorder;
    QUrl written;
    ExportImport::exportDocument(document, expectCall<const QUrl&>(recorder, QStringLiteral("export"),
                                                                   [&](const QUrl& url) { written = url; }));
    ASSERT_TRUE(recorder.waitAll());
    ASSERT_TRUE(written.isLocalFile());
    EXPECT_EQ(written.fileName(), document->idea()->exportFileNameForType(QStringLiteral("corvex")));
    EXPECT_TRUE(written.fileName().endsWith(QStringLiteral(".corvex")));
    const ImportRun run = importFile(written.toLocalFile());
    ASSERT_TRUE(run.payload);
    EXPECT_EQ(run.attachments.size(), 2u);
}

TEST(ArchiveExport, NothingToExportOrNoFileToWriteFailsOnTheMainQueueNamingTheFileAndWhy)
{
    // Tests run as root, whom permissions do not stop: the folders that cannot be written
    // into are missing or a regular file.
    const QString plainFile = outPath(QStringLiteral("plain-file"));
    writeFile(plainFile, QByteArrayLiteral("not a folder"));
    struct Row
    {
        const char* name;
        std::shared_ptr<IdeaDocument> document;
        QUrl url;
        ExportProblems::Code code;
        QString cause;
    };
    const std::vector<Row> rows = {
        {"no tree", IdeaDocument::initWithIdentifier(QStringLiteral("temp:/empty.crvx")),
         QUrl::fromLocalFile(outPath(QStringLiteral("x.corvex"))), ExportProblems::NothingToExport,
         QStringLiteral("no ideas")},
        {"no file", referenceDocument(), QUrl(QStringLiteral("https://example.com/x.corvex")),
         ExportProblems::NotALocalFile, QStringLiteral("not a file on this computer")},
        {"no folder", referenceDocument(),
         QUrl::fromLocalFile(outPath(QStringLiteral("missing-folder/x.corvex"))), ExportProblems::NotWritten,
         test::errnoText(ENOENT)},
        {"under a file", referenceDocument(), QUrl::fromLocalFile(plainFile + QStringLiteral("/x.corvex")),
         ExportProblems::NotWritten, test::errnoText(ENOTDIR)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::LogCapture log;
        CompletionRecorder recorder;
        std::optional<Status> result;
        ExportImport::exportDocument(
            row.document, row.url,
            expectCall<const Status&>(recorder, QString::fromLatin1(row.name),
                                      [&](const Status& written) { result = written; }));
        EXPECT_FALSE(result) << "reported inside the call";
        ASSERT_TRUE(recorder.waitAll());
        ASSERT_TRUE(result);
        expectFailure(*result, row.code, row.url.isLocalFile() ? row.url.toLocalFile() : row.url.toString(),
                      row.cause, log);
    }
    EXPECT_EQ(readBytes(plainFile), QByteArrayLiteral("not a folder"));
}
