#include "tests/cloud/CloudTestSupport.h"

#include "cloud/container/CloudLocations.h"
#include "cloud/container/SyncFileNames.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SerialQueue.h"
#include "storage/IndexDocument.h"
#include "storage/PersistenceController.h"
#include "storage/PersistenceStateDelegate.h"
#include "storage/PersistenceStateFactory.h"
#include "storage/StorageQueues.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"

#include <QProcess>
#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <utime.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// Records what a mode tells its delegate, one line per call.
class RecordingStateDelegate final : public PersistenceStateDelegate
{
public:
    void statusChange(PersistenceStateStatus status, PersistenceState*) override
    {
        events.append(QStringLiteral("status %1").arg(status));
    }
    void observeIdeaProxy(const IdeaProxyPtr& proxy, PersistenceState*) override
    {
        events.append(QStringLiteral("proxy ") + proxy->docIdentifier());
        proxies.push_back(proxy);
    }
    void observeProxyList(const std::vector<IdeaProxyPtr>& list, PersistenceState*) override
    {
        events.append(QStringLiteral("list ") + identifiersOf(list).join(QLatin1Char(',')));
    }
    void ideaDocumentDeleted(const QString& id, PersistenceState*) override
    {
        events.append(QStringLiteral("deleted ") + id);
    }
    void foundIdeaDocument(const QString& id, PersistenceState*) override
    {
        events.append(QStringLiteral("found ") + id);
        if (onFound)
            onFound(id);
    }
    void detectedDocumentConflict(const QString& id, PersistenceState*) override
    {
        events.append(QStringLiteral("conflict ") + id);
    }

    QStringList events;
    std::vector<IdeaProxyPtr> proxies;
    std::function<void(const QString&)> onFound;
};

// A mode over a container with a recording delegate (no workspace).
struct BareMode
{
    explicit BareMode(const QString& container, bool makesFolder = false)
        : delegate(std::make_shared<RecordingStateDelegate>())
    {
        mode = CloudMode::create(CloudServices::forFolder(container, makesFolder));
        mode->setDelegate(delegate);
    }
    ~BareMode() { mode->leaveState(); }
    std::shared_ptr<RecordingStateDelegate> delegate;
    std::shared_ptr<CloudMode> mode;
};

template <class T>
T runToAnswer(ScopedVirtualTime& time, const std::function<void(std::function<void(T)>)>& start,
              T initial = T())
{
    bool done = false;
    T answer = initial;
    start([&](T value) {
        answer = value;
        done = true;
    });
    EXPECT_TRUE(pumpCloud(time, [&] { return done; }));
    return answer;
}

bool deleteDoc(ScopedVirtualTime& time, Workspace& workspace, const QString& id)
{
    return runToAnswer<bool>(time,
                             [&](std::function<void(bool)> done) { workspace.deleteDocument(id, done); });
}

void setModified(const QString& path, qint64 seconds)
{
    struct utimbuf times
    {
        time_t(seconds), time_t(seconds)
    };
    ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &times), 0);
}

bool startInSync(ScopedVirtualTime& time, CloudFixture& fixture)
{
    fixture.start();
    return pumpCloud(time, [&] { return fixture.sawStatus(WorkspaceStatus::InSync); });
}

} // namespace

// ---- Start

TEST(CloudModeStart, AnEmptyContainerGetsItsFoldersAndANewIndexThenIsInSync)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    int changes = 0;
    const auto observer = NotificationCenter::defaultCenter().addObserver(
        PersistenceController::StateChangeNotification, nullptr,
        [&](const NotificationCenter::Notification&) { ++changes; });
    ASSERT_TRUE(startInSync(time, fixture));
    NotificationCenter::defaultCenter().removeObserver(observer);
    EXPECT_EQ(fixture.statuses(), (QStringList{QStringLiteral("status 3"), QStringLiteral("status 4")}));
    EXPECT_TRUE(QFileInfo(fixture.documents() + QStringLiteral("/attachments")).isDir());
    EXPECT_TRUE(QFile::exists(fixture.indexPath()));
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(fixture.workspace->hasCompleteProxyList());
}

TEST(CloudModeStart, TheDefaultContainerIsMadeAnOverriddenOneNever)
{
    ScopedVirtualTime time;
    const QString overridden = testDir() + QStringLiteral("/elsewhere");
    ASSERT_EQ(::setenv(FolderCloudAccount::OverrideVariable, QFile::encodeName(overridden).constData(), 1),
              0);
    {
        BareMode bare(FolderCloudAccount::standardFolder(), false);
        auto mode = CloudMode::create();
        mode->setDelegate(bare.delegate);
        ASSERT_TRUE(
            pumpCloud(time, [&] { return bare.delegate->events.contains(QStringLiteral("status 2")); }));
        EXPECT_FALSE(QFile::exists(overridden));
        mode->leaveState();
    }
    ::unsetenv(FolderCloudAccount::OverrideVariable);
    const QString standard = FolderCloudAccount::standardFolder();
    EXPECT_TRUE(standard.endsWith(QStringLiteral("/com.tallowfen.corvex/iCloud")));
    EXPECT_FALSE(QFile::exists(standard));
    auto delegate = std::make_shared<RecordingStateDelegate>();
    auto mode = CloudMode::create();
    mode->setDelegate(delegate);
    ASSERT_TRUE(pumpCloud(time, [&] { return delegate->events.contains(QStringLiteral("status 5")); }));
    EXPECT_TRUE(QFileInfo(standard + QStringLiteral("/Documents/attachments")).isDir());
    EXPECT_FALSE(delegate->events.contains(QStringLiteral("status 2")));
    mode->leaveState();
}

TEST(CloudModeStart, AFileWhereTheContainerShouldBeIsLoggedAndLeftAlone)
{
    ScopedVirtualTime time;
    LogCapture log;
    const QString container = testDir() + QStringLiteral("/container");
    ASSERT_TRUE(SaveFile::writeAtomically(container, "not a folder").ok());
    BareMode bare(container);
    ASSERT_TRUE(pumpCloud(time, [&] { return !bare.delegate->events.isEmpty(); }));
    EXPECT_EQ(bare.delegate->events, QStringList{QStringLiteral("status 2")});
    EXPECT_TRUE(log.contains(QStringLiteral("is no folder")));
    EXPECT_EQ(readFile(container), QByteArray("not a folder"));
    // Every document operation fails without a folder.
    const auto document =
        IdeaDocument::initWithFileName(QStringLiteral("a.crvx"), IdeaDocument::ICloudLocation);
    EXPECT_EQ(runToAnswer<qint64>(
                  time, [&](std::function<void(qint64)> done) { bare.mode->openDocument(document, done); }),
              0);
    EXPECT_FALSE(runToAnswer<bool>(time, [&](std::function<void(bool)> done) {
        bare.mode->deleteDocument(iCloudId(QStringLiteral("a.crvx")), done);
    }));
}

TEST(CloudModeStart, DocumentsAreFoundOnceInNameOrderThenTheListThenStatusFive)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("b.crvx"), QStringLiteral("B"));
    fixture.writeForeign(QStringLiteral("a.crvx"), QStringLiteral("A"));
    fixture.writeForeign(QStringLiteral("c.crvx"), QStringLiteral("C"));
    fixture.writeForeign(QStringLiteral("a.sync-conflict-20261201-101010-ABCDEFG.crvx"),
                         QStringLiteral("A2"));
    fixture.writeForeign(QStringLiteral(".syncthing.d.crvx.tmp"), QStringLiteral("D"));
    ASSERT_TRUE(SaveFile::writeAtomically(fixture.documentPath(QStringLiteral("notes.txt")), "text").ok());
    // The index knows b and a vanished document.
    auto index = IndexDocument::initWithFileURL(QUrl::fromLocalFile(fixture.indexPath()));
    index->setIdeaProxyList(
        {proxyFor(iCloudId(QStringLiteral("b.crvx"))), proxyFor(iCloudId(QStringLiteral("gone.crvx")))});
    index->saveBinaryToURL(QUrl::fromLocalFile(fixture.indexPath()), {});

    BareMode bare(fixture.container);
    ASSERT_TRUE(pumpCloud(time, [&] { return bare.delegate->events.contains(QStringLiteral("status 5")); }));
    EXPECT_EQ(bare.delegate->events,
              (QStringList{QStringLiteral("status 4"), QStringLiteral("found iCloud:/a.crvx"),
                           QStringLiteral("found iCloud:/b.crvx"), QStringLiteral("found iCloud:/c.crvx"),
                           QStringLiteral("list iCloud:/b.crvx,iCloud:/gone.crvx"),
                           QStringLiteral("proxy iCloud:/a.crvx"), QStringLiteral("proxy iCloud:/c.crvx"),
                           QStringLiteral("status 5")}));
    ASSERT_EQ(bare.delegate->proxies.size(), 2u);
    EXPECT_EQ(bare.delegate->proxies[0]->text(), QStringLiteral("A"));
}

TEST(CloudModeStart, DocumentsTheIndexLacksAreListedAndSavedIntoIt)
{
    ScopedVirtualTime time;
    LogCapture log;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("kept.crvx"), QStringLiteral("Kept"),
                         {QStringLiteral("one"), QStringLiteral("two")});
    ASSERT_TRUE(
        SaveFile::writeAtomically(fixture.documentPath(QStringLiteral("broken.crvx")), "{ not a document")
            .ok());
    ASSERT_TRUE(startInSync(time, fixture));
    EXPECT_EQ(fixture.listed(), QStringList{iCloudId(QStringLiteral("kept.crvx"))});
    EXPECT_EQ(fixture.workspace->findProxy(iCloudId(QStringLiteral("kept.crvx")))->itemCount(), 3);
    EXPECT_TRUE(log.contains(QStringLiteral("broken.crvx cannot be read")));
    EXPECT_EQ(readFile(fixture.documentPath(QStringLiteral("broken.crvx"))), QByteArray("{ not a document"));

    // The index file gets them too, in the workspace's own save a second after the last one
    // was found: with no other save to come, another machine reading it would never see them.
    const auto indexed = [&] {
        auto reader = IndexDocument::initWithFileURL(QUrl::fromLocalFile(fixture.indexPath()));
        std::optional<bool> read;
        reader->readBinaryWithCompletionHandler([&](bool ok) { read = ok; });
        EXPECT_TRUE(runUntil([&] { return read.has_value(); }));
        return read.value_or(false) ? identifiersOf(reader->ideaProxyList()) : QStringList();
    };
    ASSERT_TRUE(pumpCloud(time, [&] { return !fixture.workspace->hasUnsavedAdditions(); }));
    EXPECT_EQ(indexed(), QStringList{iCloudId(QStringLiteral("kept.crvx"))});
}

TEST(CloudModeStart, AnUnreadableIndexIsReadAgainEveryThreeSecondsUntilAGoodOneArrives)
{
    ScopedVirtualTime time;
    LogCapture log;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("a.crvx"), QStringLiteral("A"));
    ASSERT_TRUE(SaveFile::writeAtomically(fixture.indexPath(), "bplist00 but not really").ok());
    fixture.start();
    ASSERT_TRUE(pumpCloud(time, [&] { return fixture.mode->indexReadCount() == 1; }));
    for (int i = 0; i < 5; ++i)
        time.runDue();
    EXPECT_EQ(fixture.mode->indexReadCount(), 1);
    time.advance(CloudMode::IndexRetrySeconds - 0.01);
    EXPECT_EQ(fixture.mode->indexReadCount(), 1) << "not before 3 s";
    time.advance(0.01);
    EXPECT_EQ(fixture.mode->indexReadCount(), 2);
    time.advance(CloudMode::IndexRetrySeconds);
    EXPECT_EQ(fixture.mode->indexReadCount(), 3);
    EXPECT_FALSE(fixture.sawStatus(WorkspaceStatus::InSync));
    EXPECT_EQ(readFile(fixture.indexPath()), QByteArray("bplist00 but not really")) << "nothing is deleted";
    EXPECT_EQ(log.lines().filter(QStringLiteral("cannot be read; it is read again")).size(), 1)
        << "logged once";

    auto good = IndexDocument::initWithFileURL(QUrl());
    good->setIdeaProxyList({proxyFor(iCloudId(QStringLiteral("a.crvx")))});
    ASSERT_TRUE(
        SaveFile::writeAtomically(fixture.indexPath(), good->contentsAsBinaryData().valueOr(QByteArray()))
            .ok());
    time.advance(CloudMode::IndexRetrySeconds);
    ASSERT_TRUE(pumpCloud(time, [&] { return fixture.sawStatus(WorkspaceStatus::InSync); }));
    EXPECT_EQ(fixture.listed(), QStringList{iCloudId(QStringLiteral("a.crvx"))});
}

// ---- Documents

TEST(CloudModeDocuments, CreateEditAndReadGoThroughTheContainersFiles)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    ASSERT_TRUE(startInSync(time, fixture));
    const auto document =
        IdeaDocument::initWithFileName(QStringLiteral("new.crvx"), IdeaDocument::ICloudLocation);
    document->setIdea(Idea::initWithText(QStringLiteral("First")));
    const qint64 token = runToAnswer<qint64>(time, [&](std::function<void(qint64)> done) {
        fixture.workspace->createDocument(document, 0, done);
    });
    ASSERT_GT(token, 0);
    document->idea()->setText(QStringLiteral("Second"));
    EXPECT_TRUE(runToAnswer<bool>(time, [&](std::function<void(bool)> done) {
        fixture.workspace->updateDocument(document, token, done);
    }));
    fixture.workspace->closeDocument(document, token, {});
    EXPECT_EQ(storedRootText(fixture.documentPath(QStringLiteral("new.crvx"))), QStringLiteral("Second"));
    EXPECT_TRUE(readFile(fixture.documentPath(QStringLiteral("new.crvx"))).startsWith('{'))
        << "plain JSON in the container";
    const IdeaPtr fetched = runToAnswer<IdeaPtr>(time, [&](std::function<void(IdeaPtr)> done) {
        fixture.mode->fetchIdea(document->docIdentifier(), done);
    });
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->text(), QStringLiteral("Second"));
    // The search reads the file itself, on whatever thread runs the read.
    const PersistenceState::SearchRead read = fixture.mode->searchRead(document->docIdentifier());
    ASSERT_TRUE(read);
    const Result<QByteArray> bytes = read();
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(bytes.value(), readFile(fixture.documentPath(QStringLiteral("new.crvx"))));
}

TEST(CloudModeDocuments, IdentifiersThatNameNoPlainFileAreRefusedAndLogged)
{
    ScopedVirtualTime time;
    LogCapture log;
    CloudFixture fixture;
    ASSERT_TRUE(startInSync(time, fixture));
    const QString outside = testDir() + QStringLiteral("/outside.crvx");
    ASSERT_TRUE(SaveFile::writeAtomically(
                    outside, cloudDocumentBytes(Idea::initWithText(QStringLiteral("x")), QStringLiteral("M")))
                    .ok());
    for (const QString& path : {QStringLiteral("../../outside.crvx"), QStringLiteral("sub/a.crvx"),
                                QStringLiteral(".hidden.crvx"), QString()}) {
        const auto document = IdeaDocument::initWithIdentifier(QStringLiteral("iCloud:/") + path);
        EXPECT_EQ(
            runToAnswer<qint64>(
                time, [&](std::function<void(qint64)> done) { fixture.mode->openDocument(document, done); }),
            0)
            << path.toStdString();
        EXPECT_FALSE(runToAnswer<bool>(time, [&](std::function<void(bool)> done) {
            fixture.mode->deleteDocument(document->docIdentifier(), done);
        })) << path.toStdString();
        EXPECT_FALSE(fixture.mode->searchRead(document->docIdentifier())) << path.toStdString();
    }
    EXPECT_TRUE(QFile::exists(outside));
    EXPECT_TRUE(log.contains(QStringLiteral("names no file of the container")));
}

TEST(CloudModeDocuments, DeleteAnswersWhatIsOnDisk)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("a.crvx"), QStringLiteral("A"));
    fixture.writeForeign(QStringLiteral("b.crvx"), QStringLiteral("B"));
    ASSERT_TRUE(startInSync(time, fixture));
    ASSERT_EQ(fixture.listed().size(), 2);

    EXPECT_TRUE(deleteDoc(time, *fixture.workspace, iCloudId(QStringLiteral("a.crvx"))));
    EXPECT_FALSE(QFile::exists(fixture.documentPath(QStringLiteral("a.crvx"))));
    EXPECT_TRUE(deleteDoc(time, *fixture.workspace, iCloudId(QStringLiteral("never.crvx"))))
        << "absent counts as gone";

    {
        FaultShim shim;
        shim.failFrom(FaultShim::Op::Unlink, 1, EIO);
        EXPECT_FALSE(deleteDoc(time, *fixture.workspace, iCloudId(QStringLiteral("b.crvx"))));
    }
    EXPECT_TRUE(QFile::exists(fixture.documentPath(QStringLiteral("b.crvx"))));
    EXPECT_EQ(fixture.listed(), QStringList{iCloudId(QStringLiteral("b.crvx"))}) << "the summary stays";
}

// ---- Attachments

TEST(CloudModeAttachments, StoredTwiceAnswersYesBothTimesAndIsProvided)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    ASSERT_TRUE(startInSync(time, fixture));
    const ObjectID attachment = ObjectID::createFromData(QByteArray("picture bytes"), QStringLiteral("png"));
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(runToAnswer<bool>(time,
                                      [&](std::function<void(bool)> done) {
                                          fixture.workspace->storeAttachment(
                                              attachment, QByteArray("picture bytes"), done);
                                      }))
            << "store " << i;
    EXPECT_EQ(readFile(fixture.documents() + QStringLiteral("/attachments/") + attachment.asString()),
              QByteArray("picture bytes"));
    EXPECT_EQ(runToAnswer<QByteArray>(time,
                                      [&](std::function<void(QByteArray)> done) {
                                          fixture.workspace->provideAttachment(
                                              attachment, [done](const QByteArray& d) { done(d); });
                                      }),
              QByteArray("picture bytes"));
}

TEST(CloudModeAttachments, WithoutTheFolderOrWithAFailingMoveTheAnswersFail)
{
    ScopedVirtualTime time;
    LogCapture log;
    const ObjectID attachment = ObjectID::createFromData(QByteArray("x"), QStringLiteral("png"));
    BareMode missing(testDir() + QStringLiteral("/missing"));
    EXPECT_TRUE(runToAnswer<QByteArray>(time, [&](std::function<void(QByteArray)> done) {
                    missing.mode->provideAttachment(attachment, [done](const QByteArray& d) { done(d); });
                }).isNull());
    EXPECT_FALSE(runToAnswer<bool>(time, [&](std::function<void(bool)> done) {
        missing.mode->storeAttachment(attachment, QByteArray("x"), done);
    }));
    EXPECT_TRUE(log.contains(QStringLiteral("line: 273")));

    struct RefusingMover final : UbiquitousMover
    {
        Status moveNoReplace(const QString&, const QString& to) override
        {
            return Error::posix(ENOSPC, QStringLiteral("move"), to);
        }
    };
    CloudFixture fixture;
    CloudServices services = CloudServices::forFolder(fixture.container, false);
    services.mover = std::make_shared<RefusingMover>();
    fixture.start(services);
    ASSERT_TRUE(pumpCloud(time, [&] { return fixture.sawStatus(WorkspaceStatus::InSync); }));
    EXPECT_FALSE(runToAnswer<bool>(time, [&](std::function<void(bool)> done) {
        fixture.workspace->storeAttachment(attachment, QByteArray("x"), done);
    }));
    EXPECT_TRUE(log.contains(QStringLiteral("line: 249")));
}

TEST(CloudModeAttachments, TheMoveNeverReplacesAndAnswers516)
{
    const QString folder = testDir();
    ASSERT_TRUE(SaveFile::writeAtomically(folder + QStringLiteral("/from"), "new").ok());
    ASSERT_TRUE(SaveFile::writeAtomically(folder + QStringLiteral("/to"), "old").ok());
    FileUbiquitousMover mover;
    const Status moved =
        mover.moveNoReplace(folder + QStringLiteral("/from"), folder + QStringLiteral("/to"));
    ASSERT_FALSE(moved.ok());
    EXPECT_EQ(moved.error().code(), UbiquitousMover::FileExistsErrorCode);
    EXPECT_EQ(readFile(folder + QStringLiteral("/to")), QByteArray("old"));
    EXPECT_TRUE(
        mover.moveNoReplace(folder + QStringLiteral("/from"), folder + QStringLiteral("/fresh")).ok());
    EXPECT_EQ(readFile(folder + QStringLiteral("/fresh")), QByteArray("new"));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/from")));
}

// ---- Conflicts

TEST(CloudModeConflicts, TheNewestVersionWinsAndAmongEqualDatesTheFirstListed)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("doc.crvx"), QStringLiteral("Mine"));
    const QString older = QStringLiteral("doc.sync-conflict-20261201-100000-AAAAAAA.crvx");
    const QString first = QStringLiteral("doc (conflicted copy 2026-12-02 101010).crvx");
    const QString second = QStringLiteral("doc.sync-conflict-20261202-101010-BBBBBBB.crvx");
    for (const QString& name : {older, first, second})
        fixture.writeForeign(name, name);
    setModified(fixture.documentPath(older), 1796000000);
    setModified(fixture.documentPath(first), 1796100000);
    setModified(fixture.documentPath(second), 1796100000);
    ASSERT_TRUE(startInSync(time, fixture));
    EXPECT_EQ(fixture.listed(), QStringList{iCloudId(QStringLiteral("doc.crvx"))})
        << "copies are never listed";

    const auto version =
        std::dynamic_pointer_cast<CloudFileVersion>(fixture.workspace->findConflictingVersion(
            fixture.workspace->findProxy(iCloudId(QStringLiteral("doc.crvx")))));
    ASSERT_TRUE(version);
    EXPECT_EQ(QFileInfo(version->path()).fileName(), first) << "listed by name, the first of the equal dates";
    EXPECT_EQ(version->localizedNameOfSavingComputer(), QString());
}

TEST(CloudModeConflicts, ResolvingKeepsBothContentsAndLeavesNoVersion)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("doc.crvx"), QStringLiteral("Mine"));
    fixture.writeForeign(QStringLiteral("doc.sync-conflict-20261201-100000-AAAAAAA.crvx"),
                         QStringLiteral("Older"));
    fixture.writeForeign(QStringLiteral("doc.sync-conflict-20261202-100000-BBBBBBB.crvx"),
                         QStringLiteral("Theirs"));
    setModified(fixture.documentPath(QStringLiteral("doc.sync-conflict-20261201-100000-AAAAAAA.crvx")),
                1796000000);
    setModified(fixture.documentPath(QStringLiteral("doc.sync-conflict-20261202-100000-BBBBBBB.crvx")),
                1796100000);
    ASSERT_TRUE(startInSync(time, fixture));
    const IdeaProxyPtr proxy = fixture.workspace->findProxy(iCloudId(QStringLiteral("doc.crvx")));
    ASSERT_TRUE(runToAnswer<bool>(time, [&](std::function<void(bool)> done) {
        fixture.workspace->handleConflictForProxy(proxy, done);
    }));

    EXPECT_EQ(storedRootText(fixture.documentPath(QStringLiteral("doc.crvx"))), QStringLiteral("Theirs"));
    QStringList others;
    for (const QString& name : filesIn(fixture.documents())) {
        EXPECT_FALSE(SyncFileNames::isConflictCopy(name)) << name.toStdString();
        if (name.endsWith(QLatin1String(".crvx")) && name != QLatin1String("doc.crvx"))
            others.append(storedRootText(fixture.documentPath(name)));
    }
    EXPECT_EQ(others, QStringList{QStringLiteral("Mine")}) << "the former content is a new document";
    EXPECT_FALSE(fixture.workspace->findConflictingVersion(proxy));
    EXPECT_EQ(fixture.listed().size(), 2) << "the new document is listed";
    EXPECT_EQ(fixture.workspace->findProxy(iCloudId(QStringLiteral("doc.crvx")))->text(),
              QStringLiteral("Theirs"));

    // Nothing left to resolve: NO, and nothing changes.
    const QStringList before = filesIn(fixture.documents());
    EXPECT_FALSE(runToAnswer<bool>(time, [&](std::function<void(bool)> done) {
        fixture.workspace->handleConflictForProxy(proxy, done);
    }));
    EXPECT_EQ(filesIn(fixture.documents()), before);
}

TEST(CloudModeConflicts, AFailedReplaceAnswersNoAndKeepsEveryVersion)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("doc.crvx"), QStringLiteral("Mine"));
    fixture.writeForeign(QStringLiteral("doc.sync-conflict-20261201-100000-AAAAAAA.crvx"),
                         QStringLiteral("Older"));
    fixture.writeForeign(QStringLiteral("doc_conflict-20261202-100000.crvx"), QStringLiteral("Theirs"));
    ASSERT_TRUE(startInSync(time, fixture));
    // The index the start-up found lacking the document is written first: its rename is not
    // one of those counted below.
    ASSERT_TRUE(pumpCloud(time, [&] { return !fixture.workspace->hasUnsavedAdditions(); }));
    const IdeaProxyPtr proxy = fixture.workspace->findProxy(iCloudId(QStringLiteral("doc.crvx")));
    bool answer = true;
    {
        // The first rename keeps the former content as a new document; the second is the
        // version's taking the document's place.
        FaultShim shim;
        shim.failAt(FaultShim::Op::Rename, 2, EIO);
        answer = runToAnswer<bool>(
            time,
            [&](std::function<void(bool)> done) { fixture.workspace->handleConflictForProxy(proxy, done); },
            true);
        EXPECT_EQ(shim.callCount(FaultShim::Op::Rename), 2);
    }
    EXPECT_FALSE(answer);
    EXPECT_EQ(storedRootText(fixture.documentPath(QStringLiteral("doc.crvx"))), QStringLiteral("Mine"));
    EXPECT_EQ(storedRootText(
                  fixture.documentPath(QStringLiteral("doc.sync-conflict-20261201-100000-AAAAAAA.crvx"))),
              QStringLiteral("Older"));
    EXPECT_EQ(storedRootText(fixture.documentPath(QStringLiteral("doc_conflict-20261202-100000.crvx"))),
              QStringLiteral("Theirs"));
}

// ---- Identity

TEST(CloudModeIdentity, MovingTheContainerAwayAndBackStopsAndRestartsTheLocation)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("a.crvx"), QStringLiteral("A"));
    ASSERT_TRUE(startInSync(time, fixture));
    ASSERT_EQ(fixture.listed().size(), 1);
    fixture.delegate.events.clear();

    const QString away = testDir() + QStringLiteral("/away");
    ASSERT_TRUE(QDir().rename(fixture.container, away));
    ASSERT_TRUE(pumpCloud(
        time, [&] { return fixture.statuses().size() >= 2; }, FileChangeWatcher::DebounceSeconds));
    EXPECT_EQ(fixture.statuses(), (QStringList{QStringLiteral("status 2"), QStringLiteral("status 0")}));
    const auto document = IdeaDocument::initWithIdentifier(iCloudId(QStringLiteral("a.crvx")));
    EXPECT_EQ(
        runToAnswer<qint64>(
            time, [&](std::function<void(qint64)> done) { fixture.workspace->openDocument(document, done); }),
        0);
    EXPECT_FALSE(deleteDoc(time, *fixture.workspace, iCloudId(QStringLiteral("a.crvx"))));
    EXPECT_TRUE(QFile::exists(away + QStringLiteral("/Documents/a.crvx")));

    fixture.delegate.events.clear();
    ASSERT_TRUE(QDir().rename(away, fixture.container));
    ASSERT_TRUE(pumpCloud(
        time, [&] { return fixture.sawStatus(WorkspaceStatus::InSync); },
        FileChangeWatcher::DebounceSeconds));
    EXPECT_EQ(fixture.statuses(), (QStringList{QStringLiteral("status 3"), QStringLiteral("status 4")}));
    EXPECT_EQ(fixture.listed(), QStringList{iCloudId(QStringLiteral("a.crvx"))});
}

TEST(CloudModeIdentity, ActivationLooksAgainAndAReplacedFolderIsAnotherAccount)
{
    auto account = std::make_shared<FolderCloudAccount>(testDir() + QStringLiteral("/container"), false);
    ASSERT_TRUE(QDir().mkpath(account->containerFolder()));
    const auto monitor = CloudIdentityMonitor::create(account);
    int posted = 0;
    const auto observer = NotificationCenter::defaultCenter().addObserver(
        CloudAccount::IdentityDidChangeNotification, nullptr,
        [&](const NotificationCenter::Notification&) { ++posted; });
    NotificationCenter::defaultCenter().post(CloudAccount::ApplicationDidBecomeActiveNotification);
    EXPECT_EQ(posted, 0) << "same folder, same identity";

    // Another folder (made while the first still exists: another inode) takes its place.
    const QString other = testDir() + QStringLiteral("/other");
    ASSERT_TRUE(QDir().mkpath(other));
    const std::optional<CloudIdentityToken> before = account->currentToken();
    ASSERT_TRUE(QDir(account->containerFolder()).removeRecursively());
    ASSERT_TRUE(QDir().rename(other, account->containerFolder()));
    ASSERT_NE(account->currentToken(), before);
    NotificationCenter::defaultCenter().post(CloudAccount::ApplicationDidBecomeActiveNotification);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(monitor->lastToken(), account->currentToken());
    NotificationCenter::defaultCenter().post(CloudAccount::ApplicationDidBecomeActiveNotification);
    EXPECT_EQ(posted, 1) << "posted once per change";
    NotificationCenter::defaultCenter().removeObserver(observer);
}

// ---- The index file's format

TEST(CloudModeIndexFormat, OurIndexLoadsInPlistlibToTheExpectedObjects)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("a.crvx"), QStringLiteral("Alpha"), {QStringLiteral("x")});
    ASSERT_TRUE(startInSync(time, fixture));
    fixture.workspace->saveIdeaProxyList();

    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"),
                  {cloudScript(QStringLiteral("dump_keyed_archive.py")), fixture.indexPath()});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    const auto parsed = JsonText::parse(process.readAllStandardOutput());
    ASSERT_TRUE(parsed.ok());
    const Value top = parsed->value(QStringLiteral("$top"));
    EXPECT_EQ(top.value(QStringLiteral("fileFormatVersion")).toInteger(), 1);
    EXPECT_EQ(top.value(QStringLiteral("appInstance")).toString(), Globals::appInstance());
    const Value& list = top.value(QStringLiteral("proxyList"));
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list.at(0).value(QStringLiteral("$class")).toString(), QStringLiteral("IdeaProxy"));
    EXPECT_EQ(list.at(0).value(QStringLiteral("filename")).toString(), QStringLiteral("a.crvx"));
    EXPECT_EQ(list.at(0).value(QStringLiteral("text")).toString(), QStringLiteral("Alpha"));
    EXPECT_EQ(list.at(0).value(QStringLiteral("itemCount")).toInteger(), 2);
}

TEST(CloudModeIndexFormat, IndexesOtherArchiversWriteReadToTheSameSummaries)
{
    const auto expected = JsonText::parse(readFile(cloudDataDir() + QStringLiteral("/expected.json")));
    ASSERT_TRUE(expected.ok());
    const Value& summaries = expected->value(QStringLiteral("summaries"));
    for (const QString& fixtureName : {QStringLiteral("plain.index"), QStringLiteral("mutable.index")}) {
        SCOPED_TRACE(fixtureName.toStdString());
        ScopedVirtualTime time;
        CloudFixture fixture(fixtureName);
        for (qsizetype i = 0; i < summaries.size(); ++i)
            fixture.writeForeign(summaries.at(i).value(QStringLiteral("filename")).toString(),
                                 QStringLiteral("from file"));
        ASSERT_TRUE(SaveFile::writeAtomically(fixture.indexPath(),
                                              readFile(cloudDataDir() + QLatin1Char('/') + fixtureName))
                        .ok());
        ASSERT_TRUE(startInSync(time, fixture));
        const std::vector<IdeaProxyPtr> list = fixture.workspace->ideaProxies();
        ASSERT_EQ(qsizetype(list.size()), summaries.size());
        for (qsizetype i = 0; i < summaries.size(); ++i) {
            const Value& want = summaries.at(i);
            const IdeaProxyPtr& got = list[std::size_t(i)];
            EXPECT_EQ(got->docIdentifier(), iCloudId(want.value(QStringLiteral("filename")).toString()));
            EXPECT_EQ(got->ideaIdentifier(), want.value(QStringLiteral("identifier")).toString());
            EXPECT_EQ(got->text(), want.value(QStringLiteral("text")).toString())
                << "the index, not the file";
            EXPECT_EQ(got->color() ? got->color()->name() : QString(),
                      want.value(QStringLiteral("color")).toString());
            EXPECT_EQ(got->itemCount(), want.value(QStringLiteral("itemCount")).toInteger());
            EXPECT_EQ(qint64(got->ideaType()), want.value(QStringLiteral("ideaType")).toInteger());
            EXPECT_EQ(got->hasNote(), want.value(QStringLiteral("hasNote")).toBool());
            EXPECT_EQ(got->hasWebLink(), want.value(QStringLiteral("hasWebLink")).toBool());
            EXPECT_EQ(got->dateCreated(),
                      QDateTime::fromString(want.value(QStringLiteral("created")).toString(), Qt::ISODate));
            EXPECT_EQ(got->dateModified(),
                      QDateTime::fromString(want.value(QStringLiteral("modified")).toString(), Qt::ISODate));
            const Value& icon = want.value(QStringLiteral("icon"));
            EXPECT_EQ(got->iconImage() ? got->iconImage()->name() : QString(),
                      icon.isNull() ? QString() : icon.toString());
            EXPECT_EQ(got->image().hasImage() ? got->image().pngData().size() : 0,
                      want.value(QStringLiteral("imageBytes")).toInteger());
        }
    }
}

// ---- Registration

TEST(CloudLocations, TheICloudLocationIsServedByTheContainerMode)
{
    ScopedVirtualTime time;
    const auto previous = PersistenceStateFactory::registerMaker(IdeaDocument::ICloudLocation, {});
    registerCloudLocations();
    const PersistenceStatePtr state = PersistenceStateFactory::create(IdeaDocument::ICloudLocation);
    ASSERT_TRUE(std::dynamic_pointer_cast<CloudMode>(state));
    state->leaveState();
    PersistenceStateFactory::registerMaker(IdeaDocument::ICloudLocation, previous);
}

// ---- Scripted services

namespace {

// An account whose identity the test sets.
class ScriptedAccount final : public CloudAccount
{
public:
    explicit ScriptedAccount(QString folder) : mFolder(std::move(folder)) {}
    QString containerFolder() const override { return mFolder; }
    std::optional<CloudIdentityToken> currentToken() const override { return token; }
    std::optional<CloudIdentityToken> token;

private:
    QString mFolder;
};

// A query that cannot start.
class RefusedQuery final : public CloudMetadataQuery
{
public:
    bool start(const QString&, const QString&, Gathered gathered) override
    {
        gathered.drop();
        return false;
    }
    void stop() override {}
};

} // namespace

TEST(CloudModeScripted, SigningInStartsWithoutStatusOneAndSigningOutSendsOneThenTwo)
{
    ScopedVirtualTime time;
    const QString container = testDir() + QStringLiteral("/container");
    QDir().mkpath(container);
    auto account = std::make_shared<ScriptedAccount>(container);
    CloudServices services = CloudServices::forFolder(container, false);
    services.account = account;
    auto delegate = std::make_shared<RecordingStateDelegate>();
    auto mode = CloudMode::create(services);
    mode->setDelegate(delegate);
    ASSERT_TRUE(pumpCloud(time, [&] { return !delegate->events.isEmpty(); }));
    for (int i = 0; i < 10; ++i)
        time.advance(1);
    EXPECT_EQ(delegate->events, QStringList{QStringLiteral("status 2")})
        << "no account: status 2 and nothing else";

    delegate->events.clear();
    account->token = CloudIdentityToken{1, 2};
    NotificationCenter::defaultCenter().post(CloudAccount::IdentityDidChangeNotification);
    ASSERT_TRUE(pumpCloud(time, [&] { return delegate->events.contains(QStringLiteral("status 5")); }));
    EXPECT_EQ(delegate->events.filter(QStringLiteral("status")),
              (QStringList{QStringLiteral("status 4"), QStringLiteral("status 5")}));

    delegate->events.clear();
    account->token.reset();
    NotificationCenter::defaultCenter().post(CloudAccount::IdentityDidChangeNotification);
    EXPECT_EQ(delegate->events, (QStringList{QStringLiteral("status 1"), QStringLiteral("status 2")}));
    EXPECT_TRUE(mode->cloudDocumentsFolder().isEmpty());
    mode->leaveState();
}

TEST(CloudModeScripted, AnIndexQueryThatDoesNotStartSendsStatusOneAndItsAssertionLine)
{
    ScopedVirtualTime time;
    LogCapture log;
    CloudFixture fixture;
    CloudServices services = CloudServices::forFolder(fixture.container, false);
    services.makeQuery = [] { return CloudMetadataQueryPtr(std::make_unique<RefusedQuery>()); };
    auto delegate = std::make_shared<RecordingStateDelegate>();
    auto mode = CloudMode::create(services);
    mode->setDelegate(delegate);
    ASSERT_TRUE(pumpCloud(time, [&] { return delegate->events.contains(QStringLiteral("status 1")); }));
    EXPECT_EQ(delegate->events, (QStringList{QStringLiteral("status 4"), QStringLiteral("status 1")}));
    EXPECT_TRUE(
        log.contains(QStringLiteral("ERROR: Assertion failure, line: 228 -[CloudMode queryIndexFile]")));
    mode->leaveState();
}

TEST(CloudModeScripted, AfterLeavingTheStateNothingIsReported)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("a.crvx"), QStringLiteral("A"));
    auto delegate = std::make_shared<RecordingStateDelegate>();
    auto mode = CloudMode::create(CloudServices::forFolder(fixture.container, false));
    mode->setDelegate(delegate);
    ASSERT_TRUE(pumpCloud(time, [&] { return delegate->events.contains(QStringLiteral("status 4")); }));
    mode->leaveState();
    for (int i = 0; i < 20; ++i) {
        processEvents();
        time.advance(1);
    }
    EXPECT_EQ(delegate->events, QStringList{QStringLiteral("status 4")});
    EXPECT_TRUE(mode->isDead());
}

TEST(CloudModeConflicts, AVersionThatIsNoDocumentIsKeptAndNothingIsReplaced)
{
    ScopedVirtualTime time;
    LogCapture log;
    CloudFixture fixture;
    fixture.writeForeign(QStringLiteral("doc.crvx"), QStringLiteral("Mine"));
    const QString copy = QStringLiteral("doc.sync-conflict-20261201-100000-AAAAAAA.crvx");
    ASSERT_TRUE(SaveFile::writeAtomically(fixture.documentPath(copy), "{ half written").ok());
    ASSERT_TRUE(startInSync(time, fixture));
    const IdeaProxyPtr proxy = fixture.workspace->findProxy(iCloudId(QStringLiteral("doc.crvx")));
    EXPECT_FALSE(runToAnswer<bool>(
        time, [&](std::function<void(bool)> done) { fixture.workspace->handleConflictForProxy(proxy, done); },
        true));
    EXPECT_EQ(storedRootText(fixture.documentPath(QStringLiteral("doc.crvx"))), QStringLiteral("Mine"));
    EXPECT_EQ(readFile(fixture.documentPath(copy)), QByteArray("{ half written"));
    EXPECT_TRUE(log.contains(QStringLiteral("every version is kept")));
}

TEST(CloudModeStart, ANewerDocumentsQueryStopsTheChainOfTheOlderOne)
{
    ScopedVirtualTime time;
    CloudFixture fixture;
    for (const char* name : {"a.crvx", "b.crvx", "c.crvx"})
        fixture.writeForeign(QString::fromLatin1(name), QString::fromLatin1(name));
    BareMode bare(fixture.container);
    // The older chain is held after its first document, before it asks for the next one, so
    // that the newer query begins while it still has two to go, however the threads fall.
    bool held = false;
    bare.delegate->onFound = [&](const QString&) {
        if (!std::exchange(held, true))
            StorageQueues::persistenceQueue().suspend();
    };
    ASSERT_TRUE(pumpCloud(time, [&] { return held; }));
    // The index changed elsewhere: it is read again and the documents listed again.
    ASSERT_TRUE(bare.mode->subscribedIndexDocument());
    NotificationCenter::defaultCenter().post(IndexDocument::ChangedNotification,
                                             bare.mode->subscribedIndexDocument().get());
    time.runDue();
    StorageQueues::persistenceQueue().resume();
    ASSERT_TRUE(pumpCloud(time, [&] { return bare.delegate->events.contains(QStringLiteral("status 5")); }));
    for (int i = 0; i < 10; ++i)
        time.advance(1);
    // The older chain stopped where it was held; the newer one finds every document.
    EXPECT_EQ(bare.delegate->events.filter(QStringLiteral("found ")),
              (QStringList{QStringLiteral("found iCloud:/a.crvx"), QStringLiteral("found iCloud:/a.crvx"),
                           QStringLiteral("found iCloud:/b.crvx"), QStringLiteral("found iCloud:/c.crvx")}));
    EXPECT_EQ(bare.delegate->events.filter(QStringLiteral("list")).size(), 1);
    EXPECT_EQ(bare.delegate->events.filter(QStringLiteral("status 5")).size(), 1);
    EXPECT_EQ(bare.delegate->events.filter(QStringLiteral("proxy ")).size(), 3)
        << "each summary reported once";
}
