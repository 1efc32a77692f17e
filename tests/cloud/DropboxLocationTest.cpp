// The Dropbox location end to end: two machines, each a workspace over its own mode and
// folders, against the emulator on virtual time.

#include "tests/cloud/DropboxMachineSupport.h"

#include "cloud/dropbox/DropboxContentHash.h"
#include "cloud/dropbox/DropboxSetAside.h"

#include "model/ObjectID.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "storage/PersistenceStateFactory.h"
#include "storage/StorageQueues.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <cerrno>

namespace corvex::test {

namespace {

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

using DropboxLocationTest = DropboxMachinesFixture;

TEST_F(DropboxLocationTest, RegisteredForLocationThree)
{
    PersistenceStateFactory::Maker before =
        PersistenceStateFactory::registerMaker(IdeaDocument::DropboxLocation, {});
    registerDropboxLocation();
    EXPECT_TRUE(PersistenceStateFactory::hasMaker(IdeaDocument::DropboxLocation));
    PersistenceStateFactory::registerMaker(IdeaDocument::DropboxLocation, before);
}

// Create on one side, edit on the other, delete on the first: every step reaches the other
// machine, and both show what Dropbox holds.
TEST_F(DropboxLocationTest, CreateEditDeleteTravelBetweenMachines)
{
    a->start();
    b->start();
    const QString id = a->create(QStringLiteral("alpha"));
    ASSERT_FALSE(id.isEmpty());
    ASSERT_TRUE(converge());
    EXPECT_EQ(remoteDump(), (DocumentDump{{id, QStringLiteral("alpha")}}));
    EXPECT_EQ(b->dump(), remoteDump());
    EXPECT_TRUE(emulator.file(QStringLiteral("/corvex.index")).has_value());

    ASSERT_TRUE(b->edit(id, QStringLiteral("beta")));
    ASSERT_TRUE(converge());
    EXPECT_EQ(a->dump(), (DocumentDump{{id, QStringLiteral("beta")}}));
    EXPECT_EQ(remoteDump(), a->dump());

    ASSERT_TRUE(a->remove(id));
    ASSERT_TRUE(converge());
    EXPECT_TRUE(remoteDump().empty());
    EXPECT_TRUE(b->dump().empty());
    EXPECT_TRUE(b->workspace->ideaProxies().empty());
    EXPECT_EQ(a->mode->lastCommunicatedStatus(), PersistenceStateStatusAllFound);
}

// Both machines change one document before either hears of the other: both contents stay,
// one under the document's name, the other as a conflict copy both machines list.
TEST_F(DropboxLocationTest, BothEditingOneDocumentKeepsBothContents)
{
    a->start();
    b->start();
    const QString id = a->create(QStringLiteral("start"));
    ASSERT_TRUE(converge());
    // Both offline while they edit, so that neither can fetch the other's change first
    // however far virtual time moves while a machine waits for its disk.
    ASSERT_NO_FATAL_FAILURE(bothOffline());
    ASSERT_TRUE(a->edit(id, QStringLiteral("from A")));
    ASSERT_TRUE(b->edit(id, QStringLiteral("from B")));
    a->reachability->reachable = true;
    b->reachability->reachable = true;
    ASSERT_TRUE(converge());
    const DocumentDump remote = remoteDump();
    EXPECT_EQ(textsOf(remote), (QStringList{QStringLiteral("from A"), QStringLiteral("from B")}));
    EXPECT_EQ(a->dump(), remote);
    EXPECT_EQ(b->dump(), remote);
    EXPECT_TRUE(a->delegate.events.join(QLatin1Char(' ')).contains(QStringLiteral("appended")) ||
                b->delegate.events.join(QLatin1Char(' ')).contains(QStringLiteral("appended")));
}

// A document stays open on one machine while the other's change to it arrives and is taken
// in; the open window's save started from the older version, so it meets the remote change as
// a conflict: both edits stay on Dropbox and on both machines, and a later save is a plain one.
TEST_F(DropboxLocationTest, SaveOfAnOpenDocumentKeepsTheRemoteChangeItMissed)
{
    a->start();
    b->start();
    const QString id = a->create(QStringLiteral("start"));
    ASSERT_FALSE(id.isEmpty());
    ASSERT_TRUE(converge());
    const auto [document, token] = a->open(id);
    ASSERT_GE(token, 1);

    ASSERT_TRUE(b->edit(id, QStringLiteral("from B")));
    ASSERT_TRUE(converge());
    ASSERT_EQ(remoteDump(), (DocumentDump{{id, QStringLiteral("from B")}}));
    ASSERT_EQ(a->text(id), QStringLiteral("from B")) << "A took in B's change under the open window";

    ASSERT_TRUE(a->save(document, token, QStringLiteral("from A")));
    ASSERT_TRUE(converge());
    expectConflictKept(id, QStringLiteral("from A"), QStringLiteral("from B"));

    // The window's content is now what Dropbox holds under the name: saving again replaces it.
    ASSERT_TRUE(a->save(document, token, QStringLiteral("from A again")));
    a->workspace->closeDocument(document, token, {});
    ASSERT_TRUE(converge());
    EXPECT_EQ(textsOf(remoteDump()), (QStringList{QStringLiteral("from A again"), QStringLiteral("from B")}));
    EXPECT_EQ(b->dump(), remoteDump());
}

// Changes made on Dropbox by another program: a new document appears, a changed one is
// read again, a removed one leaves the list; the index both machines share lists them.
TEST_F(DropboxLocationTest, RemoteChangesAndTheIndex)
{
    a->start();
    const QString kept = a->create(QStringLiteral("kept"));
    const QString gone = a->create(QStringLiteral("gone"));
    ASSERT_TRUE(converge());
    const QByteArray keptBytes = emulator.file(kept.mid(8))->content;
    emulator.putFile(QStringLiteral("/outside.crvx"), emulator.file(gone.mid(8))->content);
    ASSERT_TRUE(emulator.remove(gone.mid(8)));
    ASSERT_TRUE(converge());
    EXPECT_EQ(textsOf(a->dump()), (QStringList{QStringLiteral("gone"), QStringLiteral("kept")}));
    EXPECT_FALSE(a->dump().count(gone));
    EXPECT_TRUE(a->dump().count(QStringLiteral("dropbox:/outside.crvx")));

    // A machine started later takes the list from the index and the documents from Dropbox.
    b->start();
    ASSERT_TRUE(converge());
    EXPECT_EQ(b->dump(), remoteDump());
    EXPECT_EQ(emulator.file(kept.mid(8))->content, keptBytes);
    EXPECT_TRUE(emulator.file(QStringLiteral("/corvex.index"))->content.contains(kept.mid(9).toUtf8()));
}

// Pictures stored on one machine reach the other; names that are no attachment names never
// travel in either direction.
TEST_F(DropboxLocationTest, AttachmentsTravelAndStrangeNamesStayPut)
{
    a->start();
    b->start();
    const QByteArray picture("picture bytes");
    const ObjectID name = ObjectID::createFromData(picture, QStringLiteral("png"));
    ASSERT_TRUE(a->store(name, picture));
    EXPECT_EQ(a->attachment(name), picture); // served from the upload folder at once
    const QString upload = a->mode->localUploadFolder();
    ASSERT_TRUE(SaveFile::writeAtomically(upload + QStringLiteral("/.directory"), "x").ok());
    ASSERT_TRUE(SaveFile::writeAtomically(upload + QStringLiteral("/notes.txt"), "x").ok());
    ASSERT_TRUE(SaveFile::writeAtomically(
                    upload + QLatin1Char('/') + name.asString() + QStringLiteral(".corvex-tmp-1"), "x")
                    .ok());
    emulator.putFile(QStringLiteral("/attachments/.hidden.png"), "x");
    emulator.putFile(QStringLiteral("/attachments/readme.txt"), "x");
    ASSERT_TRUE(converge());

    EXPECT_TRUE(emulator.file(QStringLiteral("/attachments/") + name.asString()).has_value());
    EXPECT_FALSE(emulator.file(QStringLiteral("/attachments/.directory")).has_value());
    EXPECT_FALSE(emulator.file(QStringLiteral("/attachments/notes.txt")).has_value());
    EXPECT_EQ(namesIn(upload).size(), 3); // the picture moved, the strangers stayed
    // B had finished its pass before the picture arrived: asking fetches it.
    EXPECT_EQ(b->attachment(name), picture);
    EXPECT_EQ(namesIn(b->mode->localAttachmentsFolder()), QStringList{name.asString()});
    EXPECT_EQ(namesIn(a->mode->localAttachmentsFolder()), QStringList{name.asString()});
    EXPECT_EQ(a->mode->state().attachmentSyncState, AttachmentSyncState::Done);
}

// An attachment another machine uploaded is fetched on demand before the background pass
// reaches it; without connection, or when the loop stays busy for 30 s, the answer is null.
TEST_F(DropboxLocationTest, OnDemandAttachmentDownloadAndItsLimits)
{
    a->start();
    ASSERT_TRUE(converge());
    const QByteArray picture("late picture");
    const ObjectID name = ObjectID::createFromData(picture, QStringLiteral("png"));
    emulator.putFile(QStringLiteral("/attachments/") + name.asString(), picture);
    const auto attachmentListings = [&] {
        int n = 0;
        for (const auto& request : emulator.requests("files/list_folder"))
            n += request.argument.contains("/attachments") ? 1 : 0;
        return n;
    };
    const int listings = attachmentListings();
    EXPECT_EQ(a->attachment(name), picture);
    // The background pass starts again (however far it got by now).
    EXPECT_TRUE(pumpDropbox([&] { return attachmentListings() > listings; }, 30.0));

    const ObjectID missing = ObjectID::createFromData("other", QStringLiteral("png"));
    EXPECT_TRUE(a->attachment(missing).isNull());
    a->reachability->reachable = false;
    emulator.setRateLimit(1);
    // The limit stays until the end: a request still waiting out its Retry-After must not
    // answer with data, which would give the connection back.
    ASSERT_TRUE(pumpDropbox(
        [&] {
            return !a->mode->state().perhapsDropboxConnection && !a->mode->state().hasPendingDropboxOperation;
        },
        30.0));
    const int downloads = emulator.count("files/download");
    EXPECT_TRUE(a->attachment(missing).isNull()); // no waiting and no request without connection
    EXPECT_EQ(emulator.count("files/download"), downloads);
    emulator.setRateLimit(0);
}

// A failed write of a save: the completion answers NO, Dropbox keeps its revision, and the
// next good save is uploaded.
TEST_F(DropboxLocationTest, FailedWriteIsNeverUploaded)
{
    a->start();
    const QString id = a->create(QStringLiteral("good"));
    ASSERT_TRUE(converge());
    const QString rev = emulator.file(id.mid(8))->rev;
    const auto [document, token] = a->open(id);
    ASSERT_GT(token, 0);
    ASSERT_TRUE(pumpDropbox([&] { return a->mode->isQuiet(); }, 30.0));
    {
        FaultShim shim;
        shim.failAt(FaultShim::Op::Write, 1, ENOSPC);
        EXPECT_FALSE(a->save(document, token, QStringLiteral("half written")));
    }
    a->workspace->closeDocument(document, token, {});
    ASSERT_TRUE(converge());
    EXPECT_EQ(emulator.file(id.mid(8))->rev, rev);
    EXPECT_EQ(a->text(id), QStringLiteral("good"));
    ASSERT_TRUE(a->edit(id, QStringLiteral("better")));
    ASSERT_TRUE(converge());
    EXPECT_EQ(rootTextOf(emulator.file(id.mid(8))->content), QStringLiteral("better"));
}

// A truncated status file: set aside as a ".bak", a new one written, the storage tasks
// queued meanwhile done, every document downloaded again and no local copy removed: each is
// set aside, or dropped as the newest of its document when Dropbox holds its content.
TEST_F(DropboxLocationTest, TruncatedStatusFileStartsAfreshAndKeepsCopies)
{
    a->start();
    const QString id = a->create(QStringLiteral("one"));
    ASSERT_TRUE(converge());
    const QString folder = a->managedFolder();
    a->stop();
    const QString status = folder + QLatin1Char('/') + DropboxFolderManager::StatusFileName;
    QFile file(status);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray whole = file.readAll();
    file.resize(whole.size() / 2);
    file.close();
    const QStringList before = namesIn(folder);
    std::map<QString, QString> hashes;
    for (const QString& name : before.filter(QStringLiteral(".crvx")))
        hashes[name] = DropboxContentHash::ofFile(folder + QLatin1Char('/') + name).value_or(QString());
    const int downloads = emulator.count("files/download");

    LogCapture captured;
    a->start();
    const QString created = a->create(QStringLiteral("two"));
    EXPECT_FALSE(created.isEmpty());
    ASSERT_TRUE(converge());
    EXPECT_TRUE(captured.contains(QStringLiteral("Assertion failure, line: 815")));
    const QStringList after = namesIn(folder);
    QStringList setAside;
    const QDir aside(DropboxSetAside::folder(folder));
    for (const QString& stamp : aside.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        setAside += namesIn(aside.filePath(stamp));
    for (const QString& name : before) {
        if (name == DropboxFolderManager::StatusFileName)
            continue;
        if (!name.endsWith(QStringLiteral(".crvx"))) {
            EXPECT_TRUE(after.contains(name)) << name.toStdString();
        } else if (!setAside.contains(name)) {
            const auto held = emulator.file(id.mid(8));
            EXPECT_TRUE(held && DropboxEmulator::contentHash(held->content) == hashes[name])
                << name.toStdString();
        }
    }
    EXPECT_EQ(after.filter(QStringLiteral(".bak")).size(), 1);
    EXPECT_TRUE(after.contains(DropboxFolderManager::StatusFileName));
    EXPECT_GT(emulator.count("files/download"), downloads);
    EXPECT_EQ(textsOf(a->dump()), (QStringList{QStringLiteral("one"), QStringLiteral("two")}));
    EXPECT_TRUE(DropboxFolderManagerState::readFrom(status).has_value());

    // The next start removes every copy the status file's records do not name; only those,
    // the status file and the ".bak" stay of what was there.
    a->stop();
    DropboxFolderManagerState saved = *DropboxFolderManagerState::readFrom(status);
    saved.docs = DropboxFolderManager::filterOutDeletedDocuments(saved.docs);
    const QStringList beforeRestart = namesIn(folder);
    const QStringList asideBeforeRestart =
        namesIn(aside.filePath(aside.entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0)));
    a->start();
    ASSERT_TRUE(converge());
    const QStringList afterRestart = namesIn(folder);
    for (const QString& name : beforeRestart) {
        if (afterRestart.contains(name)) {
            EXPECT_TRUE(DropboxFolderManager::shouldFileBeKept(name, saved)) << name.toStdString();
        }
    }
    // What was set aside stays set aside.
    EXPECT_EQ(namesIn(aside.filePath(aside.entryList(QDir::Dirs | QDir::NoDotAndDotDot).value(0))),
              asideBeforeRestart);
    EXPECT_EQ(a->dump().at(id), QStringLiteral("one"));
}

// Storms: rate limits, server errors, dropped answers, an expired listing cursor and a lost
// connection; once they pass, both machines end where Dropbox is.
TEST_F(DropboxLocationTest, StormsAndReconnectsConverge)
{
    emulator.setPageSize(2);
    a->start();
    b->start();
    QStringList ids;
    for (int i = 0; i < 5; ++i)
        ids.append(a->create(QStringLiteral("doc %1").arg(i)));
    emulator.injectFault("files/upload", DropboxEmulator::Fault::Status503, 3);
    emulator.injectFault("files/download", DropboxEmulator::Fault::Status500, 3);
    emulator.injectFault("files/download", DropboxEmulator::Fault::Drop, 2);
    emulator.injectFault("files/list_folder/continue", DropboxEmulator::Fault::CursorReset, 2);
    ASSERT_TRUE(converge());
    EXPECT_EQ(a->dump(), remoteDump());
    EXPECT_EQ(b->dump(), remoteDump());

    // B loses the network while A edits; when B finds it again it lists and fetches first.
    b->reachability->reachable = false;
    emulator.setRateLimit(1);
    ASSERT_TRUE(
        pumpDropbox([&] { return b->mode->lastCommunicatedStatus() == PersistenceStateStatusError; }, 30.0));
    emulator.setRateLimit(0);
    ASSERT_TRUE(a->edit(ids.at(0), QStringLiteral("edited while B was away")));
    ASSERT_TRUE(b->edit(ids.at(1), QStringLiteral("edited by B offline")));
    const int listings = emulator.count("files/list_folder");
    pass(20.0);
    b->reachability->reachable = true;
    ASSERT_TRUE(converge());
    EXPECT_GT(emulator.count("files/list_folder"), listings);
    EXPECT_EQ(a->dump(), remoteDump());
    EXPECT_EQ(b->dump(), remoteDump());
    EXPECT_EQ(b->dump().at(ids.at(0)), QStringLiteral("edited while B was away"));
    EXPECT_EQ(a->dump().at(ids.at(1)), QStringLiteral("edited by B offline"));
}

// A listing whose cursor is reset between pages is still owed: the mode does not count as
// settled until a listing has answered, and asks again within its back-off rather than a poll
// interval later. A failed listing once left a machine looking settled on its last listing,
// with none of the documents another machine had made since.
TEST_F(DropboxLocationTest, AFailedListingIsOwedUntilOneAnswers)
{
    a->start();
    const QString seed = a->create(QStringLiteral("seed"));
    ASSERT_TRUE(converge());
    const QByteArray bytes = emulator.file(seed.mid(8))->content;
    emulator.setPageSize(2);
    for (int i = 0; i < 4; ++i)
        emulator.putFile(QStringLiteral("/arrived%1.crvx").arg(i), bytes);
    emulator.injectFault("files/list_folder/continue", DropboxEmulator::Fault::CursorReset);
    const auto reset = [&]() -> std::optional<double> {
        for (const DropboxEmulator::LoggedRequest& request : emulator.requests("files/list_folder/continue"))
            if (request.status == 409)
                return request.at;
        return std::nullopt;
    };
    ASSERT_TRUE(pumpDropbox([&] { return reset().has_value(); }, 30.0));
    const double failed = *reset();
    // Settled only once a listing has answered: by then every document has arrived.
    ASSERT_TRUE(pumpDropbox([&] { return a->mode->isQuiet(); }, 30.0));
    std::optional<double> relisted;
    for (const DropboxEmulator::LoggedRequest& request : emulator.requests("files/list_folder"))
        if (request.at > failed && !relisted)
            relisted = request.at;
    ASSERT_TRUE(relisted.has_value());
    EXPECT_LT(*relisted - failed, double(DropboxFolderManager::PollIntervalMillis) / 1000.0);
    EXPECT_EQ(a->dump().size(), 5u);
    EXPECT_EQ(a->dump(), remoteDump());
}

// The status the workspace hears: 3 on data, 4 when the index upload starts, 5 after; an
// invalid token 2 once (the mode then stops asking), a lost connection 1 once.
TEST_F(DropboxLocationTest, StatusFollowsDataUploadsAndFailures)
{
    a->start();
    ASSERT_TRUE(converge());
    const QStringList statuses = a->delegate.events.filter(QStringLiteral("status "));
    ASSERT_GE(statuses.size(), 3);
    EXPECT_EQ(a->mode->lastCommunicatedStatus(), PersistenceStateStatusAllFound);
    // A refused token is an error the user must act on: the location shows it as such.
    const qsizetype errors = a->delegate.events.count(QStringLiteral("status 2"));
    NotificationCenter::defaultCenter().post(DropboxNotifications::InvalidAccessToken);
    NotificationCenter::defaultCenter().post(DropboxNotifications::InvalidAccessToken);
    EXPECT_EQ(a->mode->lastCommunicatedStatus(), PersistenceStateStatusNoAccount);
    EXPECT_EQ(a->delegate.events.count(QStringLiteral("status 2")), errors + 1);
    NotificationCenter::defaultCenter().post(QVDropboxClient::NoConnectionNotification);
    NotificationCenter::defaultCenter().post(QVDropboxClient::NoConnectionNotification);
    EXPECT_EQ(a->mode->lastCommunicatedStatus(), PersistenceStateStatusError);
    NotificationCenter::defaultCenter().post(QVDropboxClient::GotSomeDataNotification);
    EXPECT_EQ(a->mode->lastCommunicatedStatus(), PersistenceStateStatusDataReceived);
}

// What one machine's client says of its connection is news for that machine only: another
// machine's failure does not cut it off, nor does another machine's data mark it connected
// again (which once let a machine skip the listing it owed).
TEST_F(DropboxLocationTest, EachMachineHearsOnlyItsOwnClient)
{
    a->start();
    b->start();
    ASSERT_TRUE(converge());
    const PersistenceStateStatus statusOfB = b->mode->lastCommunicatedStatus();
    NotificationCenter::defaultCenter().post(QVDropboxClient::NoConnectionNotification, a->client.get());
    EXPECT_FALSE(a->mode->state().perhapsDropboxConnection);
    EXPECT_EQ(a->mode->lastCommunicatedStatus(), PersistenceStateStatusError);
    EXPECT_TRUE(b->mode->state().perhapsDropboxConnection);
    EXPECT_EQ(b->mode->lastCommunicatedStatus(), statusOfB);
    NotificationCenter::defaultCenter().post(QVDropboxClient::GotSomeDataNotification, b->client.get());
    EXPECT_FALSE(a->mode->state().perhapsDropboxConnection);
    EXPECT_EQ(a->mode->lastCommunicatedStatus(), PersistenceStateStatusError);
    // A's own check brings it back, and it lists again before it counts as settled.
    const int listings = emulator.count("files/list_folder");
    ASSERT_TRUE(converge());
    EXPECT_TRUE(a->mode->state().perhapsDropboxConnection);
    EXPECT_GT(emulator.count("files/list_folder"), listings);
}

// A change that waits for its delayed save is written at once when the mode leaves.
TEST_F(DropboxLocationTest, LeavingWritesThePendingSave)
{
    a->start();
    ASSERT_TRUE(converge());
    emulator.putFile(QStringLiteral("/arrived.crvx"), "not a document");
    const QString id = QStringLiteral("dropbox:/arrived.crvx");
    ASSERT_TRUE(pumpDropbox([&] { return a->mode->state().docs.count(id) > 0; }));
    const QString status = a->managedFolder() + QLatin1Char('/') + DropboxFolderManager::StatusFileName;
    EXPECT_FALSE(DropboxFolderManagerState::readFrom(status)->docs.count(id));
    a->mode->leaveState();
    StorageQueues::persistenceQueue().sync([] {});
    EXPECT_TRUE(DropboxFolderManagerState::readFrom(status)->docs.count(id));
}

// Leaving the state: tasks still queued answer failure, the pending save is written, and
// the loop stops.
TEST_F(DropboxLocationTest, LeavingAnswersQueuedTasksAndStops)
{
    a->start();
    ASSERT_TRUE(converge());
    auto document = IdeaDocument::initWithFileName(QString(), IdeaDocument::DropboxLocation);
    document->setIdea(Idea::initWithText(QStringLiteral("late")));
    std::optional<qint64> first, second;
    a->mode->createDocument(document, [&](qint64 t) { first = t; });
    a->mode->createDocument(document, [&](qint64 t) { second = t; });
    a->mode->leaveState();
    ASSERT_TRUE(pumpDropbox([&] { return first && second; }, 10.0));
    EXPECT_EQ(*first, 0);
    EXPECT_EQ(*second, 0);
    const int requests = int(emulator.requests().size());
    pass(40.0);
    EXPECT_EQ(int(emulator.requests().size()), requests);
}

// The reachability check is a TCP connection to the API host: the emulator answers, a port
// nobody listens on does not.
TEST_F(DropboxLocationTest, ReachabilityIsATcpConnectToTheApiHost)
{
    const QUrl base(emulator.baseUrl());
    EXPECT_TRUE(TcpDropboxReachability::connects(base.host(), base.port(), 2.0));
    EXPECT_FALSE(TcpDropboxReachability::connects(QStringLiteral("127.0.0.1"), 1, 2.0));
    EXPECT_FALSE(TcpDropboxReachability::connects(QString(), 443, 2.0));
    TcpDropboxReachability probe(base.host(), base.port());
    std::optional<bool> answer;
    probe.probe([&](bool reachable) { answer = reachable; });
    ASSERT_TRUE(pumpDropbox([&] { return answer.has_value(); }));
    EXPECT_TRUE(*answer);
}

// A status file that cannot be written at the first start: logged, and tried again at
// later turns until it can be; storage tasks wait for it and then run.
TEST_F(DropboxLocationTest, UnwritableStatusFileIsRetried)
{
    LogCapture captured;
    std::optional<QString> created;
    {
        FaultShim shim;
        shim.failFrom(FaultShim::Op::Rename, 1, EIO);
        a->start();
        auto document = IdeaDocument::initWithFileName(QString(), IdeaDocument::DropboxLocation);
        document->setIdea(Idea::initWithText(QStringLiteral("waiting")));
        a->workspace->createDocument(document, 0, [&, document](qint64 token) {
            created = token > 0 ? document->docIdentifier() : QString();
        });
        ASSERT_TRUE(pumpDropbox([&] { return captured.count(QStringLiteral("line: 856")) >= 2; }));
        EXPECT_FALSE(a->mode->state().isLocalStatusFileLoaded);
        EXPECT_FALSE(created.has_value());
    }
    ASSERT_TRUE(pumpDropbox([&] { return created.has_value(); }));
    EXPECT_FALSE(created->isEmpty());
    ASSERT_TRUE(converge());
    EXPECT_EQ(remoteDump(), (DocumentDump{{*created, QStringLiteral("waiting")}}));
}

} // namespace corvex::test
