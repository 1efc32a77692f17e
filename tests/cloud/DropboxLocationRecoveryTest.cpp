// The Dropbox location where what it reads is broken: a damaged status file, a download cut
// short under a Content-Length that agrees, an upload whose answer never came. No edit is lost
// and no copy is made twice.

#include "tests/cloud/DropboxMachineSupport.h"

#include "cloud/dropbox/DropboxContentHash.h"
#include "cloud/dropbox/DropboxSetAside.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Scheduler.h"
#include "platform/core/SerialQueue.h"
#include "storage/StorageQueues.h"
#include "tests/cloud/CloudTestSupport.h"
#include "tests/support/FaultShim.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <optional>
#include <tuple>

namespace corvex::test {

namespace {

void cutStatusFile(const QString& folder, qint64 at = -1)
{
    QFile file(folder + QLatin1Char('/') + DropboxFolderManager::StatusFileName);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.resize(at < 0 ? file.size() / 2 : at);
}

} // namespace

class DropboxLocationRecoveryTest : public DropboxMachinesFixture
{
protected:
    // The machine stops talking to Dropbox (and knows it) before the next step. Dropbox stays
    // out of reach until comeBack(): the loop still tries now and then while offline, and a
    // try that got through would land the edit the test means to keep local.
    void goOffline(DropboxMachine& machine)
    {
        machine.reachability->reachable = false;
        emulator.setRateLimit(1);
        ASSERT_TRUE(pumpDropbox([&] { return !machine.mode->state().perhapsDropboxConnection; }));
    }
    void comeBack(DropboxMachine& machine)
    {
        emulator.setRateLimit(0);
        machine.reachability->reachable = true;
    }
    // A and B share a document "base" (its identifier into `id`); A changes it to "from A"
    // offline and stops with the change not uploaded; then B's change "from B" reaches Dropbox,
    // its upload meeting `fault` if one is given.
    void changeOnBWhileAWaitsWithAnOfflineChange(QString& id,
                                                 std::optional<DropboxEmulator::Fault> fault = std::nullopt)
    {
        a->start();
        b->start();
        id = a->create(QStringLiteral("base"));
        ASSERT_TRUE(converge());
        goOffline(*a);
        ASSERT_TRUE(a->edit(id, QStringLiteral("from A")));
        a->stop();
        comeBack(*a);
        if (fault)
            emulator.injectFault("files/upload", *fault);
        ASSERT_TRUE(b->edit(id, QStringLiteral("from B")));
        ASSERT_TRUE(pumpDropbox([&] { return rootTextOf(emulator.file(id.mid(8))->content) == "from B"; }));
    }
};

// Dropbox's content hash over several 4 MiB blocks, from memory and from a file, agrees with
// the emulator's own.
TEST_F(DropboxLocationRecoveryTest, ContentHashOverBlocks)
{
    QByteArray content(int(2 * DropboxContentHash::BlockSize + 77), 'x');
    content[int(DropboxContentHash::BlockSize)] = 'y';
    const QString path = testDir() + QStringLiteral("/blocks");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    EXPECT_EQ(DropboxContentHash::ofBytes(content), DropboxEmulator::contentHash(content));
    EXPECT_EQ(DropboxContentHash::ofFile(path), DropboxEmulator::contentHash(content));
    EXPECT_NE(DropboxContentHash::ofBytes(content.left(content.size() / 2)),
              DropboxEmulator::contentHash(content));
    EXPECT_FALSE(DropboxContentHash::ofFile(path + QStringLiteral(".missing")).has_value());
}

// An edit made offline whose record is lost with a damaged status file: the copy holding it
// is set aside, not removed, and reaches Dropbox as a document of its own; the copy Dropbox
// holds already is dropped, and a second start removes nothing that holds the edit.
TEST_F(DropboxLocationRecoveryTest, DamagedStatusFileKeepsAnOfflineEdit)
{
    a->start();
    const QString id = a->create(QStringLiteral("old text"));
    ASSERT_TRUE(converge());
    goOffline(*a);
    ASSERT_TRUE(a->edit(id, QStringLiteral("offline edit")));
    const QString folder = a->managedFolder();
    a->stop();
    cutStatusFile(folder);
    comeBack(*a);

    a->start();
    ASSERT_TRUE(converge());
    const DocumentDump remote = remoteDump();
    EXPECT_EQ(textsOf(remote), (QStringList{QStringLiteral("offline edit"), QStringLiteral("old text")}));
    EXPECT_EQ(a->dump(), remote);
    EXPECT_TRUE(DropboxSetAside::waitingCopies(folder).isEmpty());
    // The older copies of the document stay set aside.
    const QDir aside(DropboxSetAside::folder(folder));
    const QStringList stamps = aside.entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                   .filter(QRegularExpression(QStringLiteral("^\\d+$")));
    ASSERT_EQ(stamps.size(), 1);

    a->stop();
    a->start();
    ASSERT_TRUE(converge());
    EXPECT_EQ(a->dump(), remote);
    EXPECT_EQ(remoteDump(), remote);
}

// A's upload of a new document lands but its answer is lost, and A edits the document within
// the same minute (a payload keeps its save time in minutes). After a restart, whose clean-up
// removes the first copy, the listing brings the landed version back as the newest local copy,
// and the status file is lost before the edit is uploaded: the edit, not the older version
// that came back, waits for adoption and reaches Dropbox.
TEST_F(DropboxLocationRecoveryTest, DamagedStatusFileKeepsAnEditOverAnOlderVersionDownloadedLater)
{
    a->start();
    ASSERT_TRUE(converge());
    // The wall clock stands still while A saves twice: both saves fall in one minute.
    const double now = Globals::currentTimeMillis() / 1000.0;
    Globals::WallClock running = Globals::setWallClock([now] { return now; });
    // The first upload lands unanswered; every later one is refused until the status file is lost.
    emulator.injectFault("files/upload", DropboxEmulator::Fault::Drop);
    emulator.injectFault("files/upload", DropboxEmulator::Fault::Status503, 1000);
    const QString id = a->create(QStringLiteral("landed"));
    ASSERT_TRUE(pumpDropbox([&] { return emulator.file(id.mid(8)).has_value(); }));
    const QString firstCopy = a->mode->localManagedFile(*a->mode->state().docs.at(id)->output()->name());
    ASSERT_TRUE(a->edit(id, QStringLiteral("edited")));
    Globals::setWallClock(std::move(running));
    a->stop();
    a->start();
    ASSERT_TRUE(pumpDropbox([&] {
        const auto found = a->mode->state().docs.find(id);
        return !QFileInfo::exists(firstCopy) && found != a->mode->state().docs.end() &&
               QVFileInfo::hasFile(found->second->current());
    }));
    const QString folder = a->managedFolder();
    a->stop();
    // The status save the stop leaves behind is written before the file is damaged.
    StorageQueues::persistenceQueue().sync([] {});
    cutStatusFile(folder);
    emulator.clearFaults();

    a->start();
    ASSERT_TRUE(converge());
    const DocumentDump remote = remoteDump();
    EXPECT_EQ(textsOf(remote), (QStringList{QStringLiteral("edited"), QStringLiteral("landed")}));
    EXPECT_EQ(a->dump(), remote);
}

// The copies of one document set aside after the status file was lost: the one that waits
// for adoption is the one with the latest save, even when a download of an older version came
// to the machine after an edit that never reached Dropbox. Copies without a readable save time
// go by their names.
TEST(DropboxSetAsideTest, TheCopyWithTheLatestSaveWaits)
{
    const QString folder = testDir() + QStringLiteral("/managed");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QDateTime start(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
    // Name, root idea, text, and the hour after `start` it was saved (-1: no save time).
    const std::tuple<const char*, const char*, const char*, int> copies[] = {
        {"file1000_2.crvx", "idA", "edited", 1},
        {"file2000_3.crvx", "idA", "downloaded", 0},
        {"file1000_4.crvx", "idB", "older", -1},
        {"file2000_5.crvx", "idB", "newer", -1}};
    for (const auto& [name, root, text, hour] : copies) {
        const auto payload = IdeaDocumentDataObject::payloadForWriting(
            Idea::initWithText(QString::fromLatin1(text), QString::fromLatin1(root)), start,
            start.addSecs(3600 * hour));
        if (hour < 0)
            payload->setDateModified(QDateTime());
        QFile file(folder + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(payload->corvexData().valueOr(QByteArray()));
    }

    ASSERT_TRUE(DropboxSetAside::setAsideCopies(folder, 7));
    QStringList waiting;
    for (const QString& path : DropboxSetAside::waitingCopies(folder))
        waiting.append(storedRootText(path));
    EXPECT_EQ(waiting, (QStringList{QStringLiteral("edited"), QStringLiteral("newer")}));
    EXPECT_EQ(filesIn(DropboxSetAside::folder(folder) + QStringLiteral("/7")),
              (QStringList{QStringLiteral("file1000_4.crvx"), QStringLiteral("file2000_3.crvx")}));
}

// Half a document under a Content-Length of that half, its metadata the whole file's: the old
// copy stays in use, and the document is fetched again whole.
TEST_F(DropboxLocationRecoveryTest, ShortDownloadKeepsTheOldCopyAndFetchesAgain)
{
    a->start();
    b->start();
    const QString id = a->create(QStringLiteral("first"));
    ASSERT_TRUE(converge());
    emulator.injectFault("files/download", DropboxEmulator::Fault::ShortBody);
    const auto shortAnswers = [&] {
        int n = 0;
        for (const auto& request : emulator.requests("files/download"))
            n += request.cut ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(a->edit(id, QStringLiteral("second")));
    ASSERT_TRUE(pumpDropbox([&] { return shortAnswers() == 1; }));
    EXPECT_EQ(b->text(id), QStringLiteral("first"));
    ASSERT_TRUE(converge());
    EXPECT_EQ(b->text(id), QStringLiteral("second"));
    EXPECT_EQ(b->dump(), remoteDump());
    EXPECT_EQ(shortAnswers(), 1);
}

// An upload that landed while its answer was lost, then a restart: the listing shows Dropbox
// holds the content already, so no conflict copy is made.
TEST_F(DropboxLocationRecoveryTest, LostUploadAnswerMakesNoCopyAfterRestart)
{
    a->start();
    ASSERT_TRUE(converge());
    emulator.injectFault("files/upload", DropboxEmulator::Fault::Drop);
    const QString id = a->create(QStringLiteral("landed"));
    ASSERT_TRUE(pumpDropbox([&] { return emulator.file(id.mid(8)).has_value(); }));
    pass(1.0);
    a->stop();
    a->start();
    ASSERT_TRUE(converge());
    EXPECT_EQ(remoteDump(), (DocumentDump{{id, QStringLiteral("landed")}}));
    EXPECT_EQ(a->dump(), remoteDump());
}

// A local change waiting for upload meets a new revision of the content it started from:
// the change replaces it, and no conflict copy is made.
TEST_F(DropboxLocationRecoveryTest, SameContentUnderANewRevisionMakesNoCopy)
{
    a->start();
    const QString id = a->create(QStringLiteral("base"));
    ASSERT_TRUE(converge());
    goOffline(*a);
    ASSERT_TRUE(a->edit(id, QStringLiteral("changed offline")));
    const QString rev = emulator.file(id.mid(8))->rev;
    ASSERT_NE(emulator.putFile(id.mid(8), emulator.file(id.mid(8))->content), rev);
    comeBack(*a);
    ASSERT_TRUE(converge());
    EXPECT_EQ(remoteDump(), (DocumentDump{{id, QStringLiteral("changed offline")}}));
    EXPECT_EQ(a->dump(), remoteDump());
}

// A change made offline meets another machine's change: the remote version is kept as a
// copy. Another program then touches the file (a new revision of the same content) before the
// change is uploaded: that content is kept already, so no second copy is made.
TEST_F(DropboxLocationRecoveryTest, ATouchAfterAConflictMakesNoSecondCopy)
{
    QString id;
    ASSERT_NO_FATAL_FAILURE(changeOnBWhileAWaitsWithAnOfflineChange(id));
    // A's uploads are refused for a while, so that the touch comes before any of them lands.
    emulator.injectFault("files/upload", DropboxEmulator::Fault::Status503, 4);
    a->start();
    ASSERT_TRUE(pumpDropbox([&] { return a->mode->state().docs.size() == 2; }));
    const QString rev = emulator.file(id.mid(8))->rev;
    ASSERT_NE(emulator.putFile(id.mid(8), emulator.file(id.mid(8))->content), rev);
    ASSERT_TRUE(converge());
    expectConflictKept(id, QStringLiteral("from A"), QStringLiteral("from B"));
}

// A window open on A misses B's change, which A takes in; the window's save keeps B's
// version as a copy. Another program then touches the file (a new revision of the same
// content) before the save is uploaded: that content is kept already, so no second copy is made.
TEST_F(DropboxLocationRecoveryTest, ATouchAfterASaveOverAMissedChangeMakesNoSecondCopy)
{
    a->start();
    b->start();
    const QString id = a->create(QStringLiteral("base"));
    ASSERT_TRUE(converge());
    const auto [document, token] = a->open(id);
    ASSERT_GE(token, 1);
    ASSERT_TRUE(b->edit(id, QStringLiteral("from B")));
    ASSERT_TRUE(converge());
    // A's uploads are refused for a while, so that the touch comes before any of them lands.
    emulator.injectFault("files/upload", DropboxEmulator::Fault::Status503, 4);
    ASSERT_TRUE(a->save(document, token, QStringLiteral("from A")));
    a->workspace->closeDocument(document, token, {});
    const QString rev = emulator.file(id.mid(8))->rev;
    ASSERT_NE(emulator.putFile(id.mid(8), emulator.file(id.mid(8))->content), rev);
    ASSERT_TRUE(converge());
    expectConflictKept(id, QStringLiteral("from A"), QStringLiteral("from B"));
}

// A change made offline meets another machine's change, and A keeps that version as a copy
// while its change replaces it on Dropbox. A's status writes never land, as if A were killed
// before each: when A starts again, the version the change replaced is still kept.
TEST_F(DropboxLocationRecoveryTest, AConflictCopyReachesTheStatusFileBeforeItsVersionIsReplaced)
{
    QString id;
    ASSERT_NO_FATAL_FAILURE(changeOnBWhileAWaitsWithAnOfflineChange(id));
    a->start();
    {
        // No status write of A's lands, as if A were killed before each.
        StorageQueues::persistenceQueue().sync([] {});
        FaultShim lost;
        lost.failRenamesOnto(
            QFile::encodeName(a->managedFolder() + QLatin1Char('/') + DropboxFolderManager::StatusFileName)
                .toStdString(),
            EIO);
        ASSERT_TRUE(pumpDropbox([&] { return a->mode->state().docs.size() == 2; }));
        // Stopped as soon as the change replaces B's version on Dropbox, or after 10 s.
        const double until = Scheduler::current().now() + 10.0;
        ASSERT_TRUE(pumpDropbox([&] {
            return rootTextOf(emulator.file(id.mid(8))->content) == QStringLiteral("from A") ||
                   Scheduler::current().now() > until;
        }));
        a->stop();
        StorageQueues::persistenceQueue().sync([] {});
    }
    a->start();
    ASSERT_TRUE(converge());
    expectConflictKept(id, QStringLiteral("from A"), QStringLiteral("from B"));
}

// B's edit lands on Dropbox but B stops before its answer is recorded. A, with a change made
// offline, keeps B's version as a copy and replaces the document. When B starts again, its
// edit is on Dropbox already (in A's copy): B takes A's version and uploads nothing, so that
// no second copy of its edit is made.
TEST_F(DropboxLocationRecoveryTest, LostUploadAnswerKeptAsACopyElsewhereIsNotUploadedAgain)
{
    QString id;
    ASSERT_NO_FATAL_FAILURE(changeOnBWhileAWaitsWithAnOfflineChange(id, DropboxEmulator::Fault::Drop));
    b->stop();
    a->start();
    ASSERT_TRUE(pumpDropbox([&] { return quiet(*a); }, 30.0));
    ASSERT_EQ(textsOf(remoteDump()), (QStringList{QStringLiteral("from A"), QStringLiteral("from B")}));
    b->start();
    ASSERT_TRUE(converge());
    expectConflictKept(id, QStringLiteral("from A"), QStringLiteral("from B"));
}

// A and B each kept the same remote version as a copy while their own changes replace the
// document. B stops before its copy is uploaded; A uploads its own. When B starts again, the
// listing shows that version under A's copy already: B's copy goes, so that it is on Dropbox
// once.
TEST_F(DropboxLocationRecoveryTest, ACopyAnotherMachineUploadedIsNotUploadedAgain)
{
    a->start();
    b->start();
    const QString id = a->create(QStringLiteral("base"));
    ASSERT_TRUE(converge());
    const QString path = id.mid(8);
    const QByteArray base = emulator.file(path)->content;
    ASSERT_TRUE(b->edit(id, QStringLiteral("from elsewhere")));
    ASSERT_TRUE(converge());
    const QByteArray elsewhere = emulator.file(path)->content;
    emulator.putFile(path, base);
    ASSERT_TRUE(converge());
    for (DropboxMachine* machine : {a.get(), b.get()}) {
        goOffline(*machine);
        ASSERT_TRUE(
            machine->edit(id, machine == a.get() ? QStringLiteral("from A") : QStringLiteral("from B")));
        machine->stop();
        comeBack(*machine);
    }
    emulator.putFile(path, elsewhere);
    // B keeps "from elsewhere" as a copy, and every upload of its fails until it stops.
    emulator.injectFault("files/upload", DropboxEmulator::Fault::Status503, 1000);
    b->start();
    ASSERT_TRUE(pumpDropbox([&] { return b->mode->state().docs.size() == 2; }));
    b->stop();
    emulator.clearFaults();
    a->start();
    ASSERT_TRUE(converge());
    ASSERT_EQ(textsOf(remoteDump()),
              (QStringList{QStringLiteral("from A"), QStringLiteral("from elsewhere")}));
    b->start();
    ASSERT_TRUE(converge());
    const DocumentDump remote = remoteDump();
    EXPECT_EQ(textsOf(remote), (QStringList{QStringLiteral("from A"), QStringLiteral("from B"),
                                            QStringLiteral("from elsewhere")}));
    EXPECT_EQ(remote.at(id), QStringLiteral("from B"));
    EXPECT_EQ(a->dump(), remote);
    EXPECT_EQ(b->dump(), remote);
}

} // namespace corvex::test
