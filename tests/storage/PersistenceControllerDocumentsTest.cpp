// Document operations of the persistence controller: create, open with tokens, save,
// release, delete and read, in the temporary location (its own files) and in the cloud
// locations (through the workspace and the in-process back end), and the lookups.

#include "tests/storage/PersistenceControllerTestSupport.h"

#include "storage/IdeaFilePresenter.h"
#include "storage/TemporaryLocation.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

using namespace corvex;
using namespace corvex::test;

namespace {

std::shared_ptr<IdeaDocument> newDocument(StorageLocation location, const QString& rootText)
{
    auto document = IdeaDocument::initWithFileName(QString(), location);
    document->setIdea(smallTree(rootText));
    return document;
}

// A document version the test back end hands out.
class FakeVersion : public DocumentVersion
{};

} // namespace

using PersistenceControllerDocuments = ControllerTest;

// ---- The temporary location

TEST_F(PersistenceControllerDocuments, ATemporaryDocumentIsCreatedSavedReopenedAndDeleted)
{
    PersistenceController& controller = start(false, false);
    auto document = newDocument(kTemp, QStringLiteral("temporary root"));
    const QString identifier = document->docIdentifier();
    const QString path = controller.urlForLocalOrTempFileWithDocIdentifer(identifier).toLocalFile();
    ASSERT_FALSE(path.isEmpty());

    const qint64 token = create(document, 99); // the index means nothing here
    ASSERT_GT(token, 0);
    EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
    EXPECT_TRUE(controller.documentKnown(identifier));
    EXPECT_EQ(controller.findDocument(identifier), document);
    EXPECT_EQ(controller.registeredDocuments().size(), 1u);

    document->idea()->setText(QStringLiteral("renamed"));
    {
        ScopedWallClock clock(1'800'000'000.0);
        EXPECT_TRUE(save(document, token));
        EXPECT_EQ(document->dateModified(), QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC));
    }
    EXPECT_EQ(storedTree(path), dump(document->idea()));
    release(document, token);
    EXPECT_EQ(document->filePresenter(), nullptr) << "the last token did not close the document";

    // Read without opening, then opened again: the saved tree both times.
    const IdeaPtr read = fetchRoot(identifier);
    ASSERT_TRUE(read != nullptr);
    EXPECT_EQ(read->text(), QStringLiteral("renamed"));
    EXPECT_EQ(controller.registeredDocuments().size(), 1u) << "a read registered the document";
    const qint64 again = open(document);
    ASSERT_GT(again, 0);
    EXPECT_NE(again, token);
    EXPECT_EQ(document->idea()->text(), QStringLiteral("renamed"));
    release(document, again);

    EXPECT_TRUE(deleteDocument(identifier));
    EXPECT_FALSE(controller.documentKnown(identifier));
    EXPECT_TRUE(controller.registeredDocuments().empty());
    EXPECT_TRUE(QFileInfo::exists(path)) << "deleting a temporary document removes no file";
    EXPECT_FALSE(deleteDocument(identifier));
}

TEST_F(PersistenceControllerDocuments,
       CreatingARegisteredTemporaryDocumentFailsWithoutWritingAndKeepsTheHandle)
{
    PersistenceController& controller = start(false, false);
    auto first = newDocument(kTemp, QStringLiteral("first"));
    const qint64 token = create(first);
    ASSERT_GT(token, 0);

    auto twin = IdeaDocument::initWithIdentifier(first->docIdentifier());
    twin->setIdea(smallTree(QStringLiteral("twin")));
    CompletionRecorder recorder;
    qint64 answer = -1;
    controller.createDocument(twin, expectCompletion<qint64>(recorder, QStringLiteral("create twin"),
                                                             [&](qint64 t) { answer = t; }));
    // A failure found before any work answers later, like any other.
    EXPECT_EQ(recorder.callCount(QStringLiteral("create twin")), 0);
    ASSERT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("create twin")), 1);
    EXPECT_EQ(answer, 0);
    ASSERT_EQ(controller.registeredDocuments().size(), 1u);
    EXPECT_EQ(controller.registeredDocuments().front(), first);
    EXPECT_TRUE(first->goodToken(token)) << "the registered handle was disturbed";
    EXPECT_EQ(fetchRoot(first->docIdentifier())->text(), QStringLiteral("first"));
    release(first, token);
}

TEST_F(PersistenceControllerDocuments, ANewTemporaryDocumentTakesTheNextNameWhenAnotherProcessMadeItsFile)
{
    PersistenceController& controller = start(false, false);
    const ScopedWallClock clock(1'800'000'000.0);
    // Another launch within the same second made the next two names of the counter.
    const QRegularExpression shape(QStringLiteral("^id1800000000_(\\d+)\\.crvx$"));
    const auto probe = shape.match(IdeaDocument::createNewDocFileName());
    ASSERT_TRUE(probe.hasMatch());
    const int counter = probe.captured(1).toInt();
    const auto nameAt = [](int n) { return QStringLiteral("id1800000000_%1.crvx").arg(n); };
    const auto pathOf = [&](const QString& name) {
        return controller.urlForLocalOrTempFileWithDocIdentifer(QStringLiteral("temp:/") + name)
            .toLocalFile();
    };
    const QByteArray theirs = "another process's document";
    for (int n : {counter + 1, counter + 2}) {
        QFile file(pathOf(nameAt(n)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << file.fileName().toStdString();
        file.write(theirs);
    }

    auto mine = newDocument(kTemp, QStringLiteral("mine"));
    ASSERT_EQ(mine->docIdentifier(), QStringLiteral("temp:/") + nameAt(counter + 1));
    const qint64 token = create(mine);
    ASSERT_GT(token, 0) << "a name taken by another process failed the create";
    EXPECT_EQ(mine->docIdentifier(), QStringLiteral("temp:/") + nameAt(counter + 3));
    EXPECT_EQ(mine->filePath(), nameAt(counter + 3));
    EXPECT_EQ(mine->representativeURL(), QUrl(mine->docIdentifier()));
    EXPECT_EQ(controller.findDocument(mine->docIdentifier()), mine);
    release(mine, token);
    EXPECT_EQ(fetchRoot(mine->docIdentifier())->text(), QStringLiteral("mine"));
    for (int n : {counter + 1, counter + 2}) {
        QFile file(pathOf(nameAt(n)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), theirs) << "another process's file was touched";
    }

    // A name the caller chose is never changed: its file there refuses the create.
    const QString chosen = QStringLiteral("chosen.crvx");
    {
        QFile file(pathOf(chosen));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(theirs);
    }
    auto named = IdeaDocument::initWithFileName(chosen, kTemp);
    named->setIdea(smallTree(QStringLiteral("named")));
    EXPECT_FALSE(named->takeNextGeneratedFileName());
    EXPECT_EQ(create(named), 0);
    EXPECT_EQ(named->docIdentifier(), QStringLiteral("temp:/chosen.crvx"));
}

TEST_F(PersistenceControllerDocuments, ANewTemporaryDocumentStepsOverTheNameOfOneOpenHere)
{
    PersistenceController& controller = start(false, false);
    const ScopedWallClock clock(1'800'000'000.0);
    const QRegularExpression shape(QStringLiteral("^id1800000000_(\\d+)\\.crvx$"));
    for (const bool openingFirst : {false, true}) {
        SCOPED_TRACE(openingFirst ? "created opening first" : "created");
        // Another launch within the same second made the next name of the counter, and this
        // one opened its document again (a restored window).
        const auto probe = shape.match(IdeaDocument::createNewDocFileName());
        ASSERT_TRUE(probe.hasMatch());
        const QString taken = QStringLiteral("id1800000000_%1.crvx").arg(probe.captured(1).toInt() + 1);
        {
            auto theirs = IdeaDocument::initWithFileName(taken, kTemp);
            theirs->setIdea(smallTree(QStringLiteral("theirs")));
            release(theirs, create(theirs));
        }
        auto reopened = IdeaDocument::initWithIdentifier(QStringLiteral("temp:/") + taken);
        const qint64 held = open(reopened);
        ASSERT_GT(held, 0);

        auto mine = newDocument(kTemp, QStringLiteral("mine"));
        ASSERT_EQ(mine->docIdentifier(), reopened->docIdentifier());
        qint64 token = -1;
        if (openingFirst) {
            CompletionRecorder recorder;
            controller.createDocumentOpeningFirst(
                mine,
                expectCompletion<qint64>(recorder, QStringLiteral("opened"), [&](qint64 t) { token = t; }),
                expectCompletion<bool>(recorder, QStringLiteral("stored"), [](bool ok) { EXPECT_TRUE(ok); }));
            ASSERT_TRUE(recorder.waitAll());
        } else {
            token = create(mine);
        }
        ASSERT_GT(token, 0) << "a name held by a reopened document failed the create";
        EXPECT_NE(mine->docIdentifier(), reopened->docIdentifier());
        release(mine, token);
        release(reopened, held);
        EXPECT_EQ(fetchRoot(mine->docIdentifier())->text(), QStringLiteral("mine"));
        EXPECT_EQ(fetchRoot(reopened->docIdentifier())->text(), QStringLiteral("theirs"))
            << "the reopened document was touched";
    }
}

// A window opened while the data folder is full shows its tree, but its file cannot be made:
// once there is room, its next save makes it and the document is known again. A file that
// someone else made at that name meanwhile is never written over.
TEST_F(PersistenceControllerDocuments, ADocumentWhoseFileCouldNotBeMadeIsMadeByALaterSave)
{
    PersistenceController& controller = start(false, false);
    for (const bool takenMeanwhile : {false, true}) {
        SCOPED_TRACE(takenMeanwhile ? "taken meanwhile" : "room again");
        auto document = newDocument(kTemp, QStringLiteral("opened on a full disk"));
        const QString path = TemporaryLocation::documentURL(document->docIdentifier()).toLocalFile();
        qint64 token = -1;
        {
            FaultShim shim;
            shim.failWritesUnder(QFileInfo(path).absolutePath().toStdString(), ENOSPC);
            CompletionRecorder recorder;
            controller.createDocumentOpeningFirst(
                document,
                expectCompletion<qint64>(recorder, QStringLiteral("opened"), [&](qint64 t) { token = t; }),
                expectCompletion<bool>(recorder, QStringLiteral("stored"),
                                       [](bool ok) { EXPECT_FALSE(ok); }));
            ASSERT_TRUE(recorder.waitAll());
            ASSERT_GT(token, 0);
            EXPECT_FALSE(save(document, token)) << "while the folder is full";
        }
        EXPECT_FALSE(QFile::exists(path));
        if (takenMeanwhile) {
            QFile theirs(path);
            ASSERT_TRUE(theirs.open(QIODevice::WriteOnly));
            theirs.write("theirs");
        }
        document->idea()->setText(QStringLiteral("edited once there was room"));
        const std::size_t known = controller.registeredDocuments().size();
        EXPECT_EQ(save(document, token), !takenMeanwhile);
        EXPECT_EQ(controller.registeredDocuments().size(), known + (takenMeanwhile ? 0 : 1));
        if (takenMeanwhile) {
            QFile theirs(path);
            ASSERT_TRUE(theirs.open(QIODevice::ReadOnly));
            EXPECT_EQ(theirs.readAll(), QByteArray("theirs"));
        } else {
            document->idea()->setText(QStringLiteral("and saved again"));
            EXPECT_TRUE(save(document, token));
        }
        release(document, token);
        if (!takenMeanwhile) {
            EXPECT_EQ(fetchRoot(document->docIdentifier())->text(), QStringLiteral("and saved again"));
        }
    }
}

TEST_F(PersistenceControllerDocuments, OpeningTwiceRegistersTwiceAndOneDeleteUnregistersBoth)
{
    PersistenceController& controller = start(false, false);
    auto document = storedTemporaryDocument(QStringLiteral("twice"));
    ASSERT_EQ(controller.registeredDocuments().size(), 1u);

    const qint64 first = open(document);
    const qint64 second = open(document);
    EXPECT_GT(first, 0);
    EXPECT_GT(second, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(controller.registeredDocuments().size(), 3u);
    release(document, first);
    release(document, second);
    EXPECT_EQ(controller.registeredDocuments().size(), 3u) << "a release unregistered the handle";

    // Another handle of the same document opened on its own registers too; the delete takes
    // every handle of the identifier, so that the identifier is free again.
    auto other = IdeaDocument::initWithIdentifier(document->docIdentifier());
    const qint64 third = open(other);
    ASSERT_GT(third, 0);
    release(other, third);
    EXPECT_EQ(controller.registeredDocuments().size(), 4u);

    EXPECT_TRUE(deleteDocument(document->docIdentifier()));
    EXPECT_TRUE(controller.registeredDocuments().empty());
    EXPECT_FALSE(deleteDocument(document->docIdentifier()));
}

TEST_F(PersistenceControllerDocuments, SavingWithABadTokenStampsTheDateAndFails)
{
    start(false, false);
    auto document = storedTemporaryDocument(QStringLiteral("stamped"));
    const qint64 token = open(document);
    ASSERT_GT(token, 0);
    const QDateTime before = document->dateModified();
    {
        ScopedWallClock clock(1'900'000'000.0);
        EXPECT_FALSE(save(document, token + 1000));
        EXPECT_EQ(document->dateModified(), QDateTime::fromSecsSinceEpoch(1'900'000'000, Qt::UTC))
            << "before: " << before.toString(Qt::ISODate).toStdString();
    }
    release(document, token);
}

TEST_F(PersistenceControllerDocuments, LocalFileDocumentsAreServedByNothingAndFail)
{
    PersistenceController& controller = start(true, true);
    auto document = IdeaDocument::initWithIdentifier(QStringLiteral("file:///tmp/somewhere/id1_1.crvx"));
    document->setIdea(smallTree(QStringLiteral("local")));
    ASSERT_EQ(document->location(), kLocalFile);

    CompletionRecorder recorder;
    controller.createDocument(document, expectCompletion<qint64>(recorder, QStringLiteral("create"),
                                                                 [](qint64 t) { EXPECT_EQ(t, 0); }));
    controller.openDocument(document, expectCompletion<qint64>(recorder, QStringLiteral("open"),
                                                               [](qint64 t) { EXPECT_EQ(t, 0); }));
    controller.saveDocument(
        document, 1,
        expectCompletion<bool>(recorder, QStringLiteral("save"), [](bool ok) { EXPECT_FALSE(ok); }));
    controller.releaseDocument(document, 1, recorder.expect<>(QStringLiteral("release")));
    controller.deleteDocument(
        document->docIdentifier(),
        expectCompletion<bool>(recorder, QStringLiteral("delete"), [](bool ok) { EXPECT_FALSE(ok); }));
    controller.fetchRootIdea(
        document->docIdentifier(),
        expectCompletion<const IdeaPtr&>(recorder, QStringLiteral("fetch"),
                                         [](const IdeaPtr& root) { EXPECT_EQ(root, nullptr); }));
    EXPECT_TRUE(recorder.waitAll()) << "a location-1 failure was not answered";
    EXPECT_TRUE(controller.registeredDocuments().empty());
    EXPECT_EQ(controller.findDocument(document->docIdentifier()), nullptr);
}

TEST_F(PersistenceControllerDocuments, ReadingAMissingOrUnsafeTemporaryDocumentGivesNothing)
{
    start(false, false);
    EXPECT_EQ(fetchRoot(QStringLiteral("temp:/id404_1.crvx")), nullptr);
    EXPECT_EQ(fetchRoot(QStringLiteral("temp:/../id404_1.crvx")), nullptr);
    EXPECT_EQ(open(IdeaDocument::initWithIdentifier(QStringLiteral("temp:/id404_1.crvx"))), 0);
}

// ---- Cloud locations

TEST_F(PersistenceControllerDocuments, ACloudDocumentGoesThroughItsWorkspaceAndItsListeners)
{
    PersistenceController& controller = start(true, false);
    const QStringList existing = publishDocuments(kICloud, {QStringLiteral("existing")});
    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    listener().events.clear();

    auto document = newDocument(kICloud, QStringLiteral("cloud root"));
    const QString identifier = document->docIdentifier();
    ASSERT_TRUE(identifier.startsWith(QStringLiteral("iCloud:/")));
    // An index beyond the list goes to its end; the answer still comes.
    const qint64 token = create(document, 7);
    ASSERT_GT(token, 0);
    EXPECT_EQ(listener().events, QStringList{QStringLiteral("added %1 at 1").arg(identifier)});
    EXPECT_EQ(identifiersOf(*controller.proxyListForLocation(kICloud)),
              (QStringList{existing[0], identifier}));
    EXPECT_TRUE(iCloud.storedDocuments().contains(identifier));
    EXPECT_EQ(iCloud.lastSavedProxyList(), (QStringList{existing[0], identifier}));
    EXPECT_FALSE(controller.documentKnown(identifier)) << "cloud documents are not registered";
    ASSERT_TRUE(controller.findProxy(identifier) != nullptr);
    EXPECT_EQ(controller.findDocument(identifier), controller.findProxy(identifier)->doc());

    document->idea()->setText(QStringLiteral("cloud renamed"));
    listener().events.clear();
    {
        ScopedWallClock clock(1'850'000'000.0);
        EXPECT_TRUE(save(document, token));
        EXPECT_EQ(document->dateModified(), QDateTime::fromSecsSinceEpoch(1'850'000'000, Qt::UTC));
    }
    EXPECT_EQ(listener().events, QStringList{QStringLiteral("updated ") + identifier});
    EXPECT_EQ(controller.findProxy(identifier)->text(), QStringLiteral("cloud renamed"));
    const int closesBefore = iCloud.callCount(TestFolderPersistenceState::Operation::Close);
    release(document, token);
    EXPECT_EQ(iCloud.callCount(TestFolderPersistenceState::Operation::Close), closesBefore + 1);

    EXPECT_EQ(fetchRoot(identifier)->text(), QStringLiteral("cloud renamed"));
    const qint64 reopened = open(controller.findDocument(identifier));
    EXPECT_GT(reopened, 0);
    release(controller.findDocument(identifier), reopened);

    listener().events.clear();
    EXPECT_TRUE(deleteDocument(identifier));
    EXPECT_EQ(listener().events, QStringList{QStringLiteral("deleted ") + identifier});
    EXPECT_FALSE(iCloud.storedDocuments().contains(identifier));
    EXPECT_EQ(controller.findProxy(identifier), nullptr);
    EXPECT_EQ(identifiersOf(*controller.proxyListForLocation(kICloud)), existing);
}

TEST_F(PersistenceControllerDocuments, ANegativeIndexCreatesAtTheFront)
{
    PersistenceController& controller = start(false, true);
    const QStringList existing = publishDocuments(kDropbox, {QStringLiteral("a"), QStringLiteral("b")});
    auto document = newDocument(kDropbox, QStringLiteral("front"));
    const qint64 token = create(document, -5);
    ASSERT_GT(token, 0);
    EXPECT_EQ(identifiersOf(*controller.proxyListForLocation(kDropbox)),
              (QStringList{document->docIdentifier(), existing[0], existing[1]}));
    EXPECT_TRUE(listener().events.contains(QStringLiteral("added %1 at 0").arg(document->docIdentifier())));
    release(document, token);
}

TEST_F(PersistenceControllerDocuments, CloudOperationsWithoutAWorkspaceFailOnALaterTurn)
{
    PersistenceController& controller = start(true, false);
    auto document = newDocument(kDropbox, QStringLiteral("nowhere"));

    CompletionRecorder recorder;
    controller.createDocument(
        document, 0,
        expectCompletion<qint64>(recorder, QStringLiteral("create"), [](qint64 t) { EXPECT_EQ(t, 0); }));
    controller.openDocument(document, expectCompletion<qint64>(recorder, QStringLiteral("open"),
                                                               [](qint64 t) { EXPECT_EQ(t, 0); }));
    controller.saveDocument(
        document, 3,
        expectCompletion<bool>(recorder, QStringLiteral("save"), [](bool ok) { EXPECT_FALSE(ok); }));
    controller.releaseDocument(document, 3, recorder.expect<>(QStringLiteral("release")));
    controller.releaseDocument(document, 3); // no completion at all is fine too
    controller.deleteDocument(
        document->docIdentifier(),
        expectCompletion<bool>(recorder, QStringLiteral("delete"), [](bool ok) { EXPECT_FALSE(ok); }));
    controller.fetchRootIdea(
        document->docIdentifier(),
        expectCompletion<const IdeaPtr&>(recorder, QStringLiteral("fetch"),
                                         [](const IdeaPtr& root) { EXPECT_EQ(root, nullptr); }));
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(controller.findDocument(document->docIdentifier()), nullptr);
    EXPECT_EQ(controller.documentForIdentifier(document->docIdentifier()), nullptr);
}

TEST_F(PersistenceControllerDocuments, TokensOfASlowBackEndArriveWhenItReplies)
{
    PersistenceController& controller = start(true, false);
    publishDocuments(kICloud, {});
    TestFolderPersistenceState& iCloud = backEnd(kICloud);
    iCloud.setDelay(TestFolderPersistenceState::Operation::Create, 2.0);

    auto document = newDocument(kICloud, QStringLiteral("slow"));
    CompletionRecorder recorder;
    qint64 token = -1;
    controller.createDocument(
        document, expectCompletion<qint64>(recorder, QStringLiteral("create"), [&](qint64 t) { token = t; }));
    // The document is written and opened at once; the answer waits for the back end's delay.
    settle([&] { return document->filePresenter() != nullptr; });
    EXPECT_TRUE(iCloud.storedDocuments().contains(document->docIdentifier()));
    time().advance(1.9);
    EXPECT_EQ(recorder.callCount(QStringLiteral("create")), 0);
    EXPECT_TRUE(listener().linesStartingWith(QStringLiteral("added")).isEmpty());
    time().advance(0.2);
    EXPECT_EQ(recorder.callCount(QStringLiteral("create")), 1);
    EXPECT_GT(token, 0);
    EXPECT_EQ(listener().linesStartingWith(QStringLiteral("added")).size(), 1);
    release(document, token);

    // A failing create answers 0 and lists nothing.
    iCloud.setDelay(TestFolderPersistenceState::Operation::Create, 0);
    iCloud.failNext(TestFolderPersistenceState::Operation::Create);
    auto failing = newDocument(kICloud, QStringLiteral("failing"));
    EXPECT_EQ(create(failing), 0);
    EXPECT_EQ(controller.findProxy(failing->docIdentifier()), nullptr);
    EXPECT_EQ(listener().linesStartingWith(QStringLiteral("added")).size(), 1);

    // Opening with a slow back end: the token comes after the delay.
    iCloud.setDelay(TestFolderPersistenceState::Operation::Open, 1.0);
    CompletionRecorder openRecorder;
    qint64 opened = -1;
    controller.openDocument(
        controller.findDocument(document->docIdentifier()),
        expectCompletion<qint64>(openRecorder, QStringLiteral("open"), [&](qint64 t) { opened = t; }));
    settle([&] { return controller.findDocument(document->docIdentifier())->filePresenter() != nullptr; });
    EXPECT_EQ(openRecorder.callCount(QStringLiteral("open")), 0);
    time().advance(1.0);
    EXPECT_TRUE(openRecorder.waitAll());
    EXPECT_GT(opened, 0);
    release(controller.findDocument(document->docIdentifier()), opened);
}

TEST_F(PersistenceControllerDocuments, ConflictsAreHandledByTheProxysWorkspace)
{
    PersistenceController& controller = start(true, true);
    const QStringList iCloudDocuments = publishDocuments(kICloud, {QStringLiteral("in conflict")});
    const QStringList dropboxDocuments = publishDocuments(kDropbox, {QStringLiteral("no versions")});
    auto version = std::make_shared<FakeVersion>();
    backEnd(kICloud).setKeepsConflictingVersions(true, version);

    const IdeaProxyPtr iCloudProxy = controller.findProxy(iCloudDocuments[0]);
    const IdeaProxyPtr dropboxProxy = controller.findProxy(dropboxDocuments[0]);
    ASSERT_TRUE(iCloudProxy && dropboxProxy);
    EXPECT_EQ(controller.findConflictingVersion(iCloudProxy), version);
    EXPECT_EQ(controller.findConflictingVersion(dropboxProxy), nullptr);
    EXPECT_EQ(controller.findConflictingVersion(nullptr), nullptr);

    CompletionRecorder recorder;
    controller.handleConflictForProxy(iCloudProxy, expectCompletion<bool>(recorder, QStringLiteral("iCloud"),
                                                                          [](bool ok) { EXPECT_TRUE(ok); }));
    controller.handleConflictForProxy(
        dropboxProxy,
        expectCompletion<bool>(recorder, QStringLiteral("Dropbox"), [](bool ok) { EXPECT_FALSE(ok); }));
    // A proxy of a location without a workspace: NO, without asking anything.
    auto temporary = IdeaProxy::init();
    temporary->setDocIdentifier(QStringLiteral("temp:/id1_1.crvx"));
    controller.handleConflictForProxy(temporary, expectCompletion<bool>(recorder, QStringLiteral("temporary"),
                                                                        [](bool ok) { EXPECT_FALSE(ok); }));
    EXPECT_EQ(controller.findConflictingVersion(temporary), nullptr);
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("temporary")), 1);
}

TEST_F(PersistenceControllerDocuments, LookupsFollowTheLocationOfTheIdentifier)
{
    PersistenceController& controller = start(true, false);
    const QString cloudIdentifier = QStringLiteral("iCloud:/doc2_1.crvx");
    // Before the list is complete nothing of the location is found.
    EXPECT_EQ(controller.findProxy(cloudIdentifier), nullptr);
    EXPECT_EQ(controller.findDocument(cloudIdentifier), nullptr);
    EXPECT_EQ(controller.documentForIdentifier(cloudIdentifier), nullptr);
    const QStringList published = publishDocuments(kICloud, {QStringLiteral("listed")});
    ASSERT_EQ(published, QStringList{cloudIdentifier});
    ASSERT_TRUE(controller.findProxy(cloudIdentifier) != nullptr);
    EXPECT_EQ(controller.findDocument(cloudIdentifier), controller.findProxy(cloudIdentifier)->doc());
    EXPECT_EQ(controller.documentForIdentifier(cloudIdentifier),
              controller.findProxy(cloudIdentifier)->doc());
    EXPECT_EQ(controller.documentForIdentifier(QStringLiteral("iCloud:/unlisted.crvx")), nullptr);

    // Temporary documents: the registered handle, else (only documentForIdentifier) a new one.
    auto stored = storedTemporaryDocument(QStringLiteral("registered"));
    EXPECT_EQ(controller.findDocument(stored->docIdentifier()), stored);
    EXPECT_EQ(controller.documentForIdentifier(stored->docIdentifier()), stored);
    const QString unknown = QStringLiteral("temp:/id77_7.crvx");
    EXPECT_EQ(controller.findDocument(unknown), nullptr);
    auto made = controller.documentForIdentifier(unknown);
    ASSERT_TRUE(made != nullptr);
    EXPECT_EQ(made->docIdentifier(), unknown);
    EXPECT_FALSE(controller.documentKnown(unknown)) << "documentForIdentifier registered its new handle";
    EXPECT_EQ(controller.findProxy(stored->docIdentifier()), nullptr);
}
