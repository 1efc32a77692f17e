// The Dropbox location against a service that keeps failing, each fault held for ten virtual
// minutes: the machines stay within their budget of requests (at most 6 a minute, the first
// minute included when the service itself fails, the account client's own repeats among them;
// the reachability check at most once a minute besides), every document the fault does not
// touch keeps syncing, and sync comes back within one back-off of the fault clearing. Requests
// are counted at the emulator, each machine by its own access token.

#include "tests/cloud/DropboxMachineSupport.h"

#include "cloud/dropbox/DropboxSyncNotices.h"
#include "model/JSONDecoder.h"
#include "storage/IndexJSONDocument.h"
#include "tests/support/LogCapture.h"

#include <QRegularExpression>

namespace corvex::test {

namespace {

constexpr int Budget = 6;
constexpr double HeldSeconds = 600.0;

using Request = DropboxEmulator::LoggedRequest;
using Which = std::function<bool(const Request&)>;

Which sentWith(const QString& token)
{
    return [bearer = QByteArray("Bearer ") + token.toUtf8()](const Request& request) {
        return request.authorization == bearer;
    };
}

Which naming(Which who, const QByteArray& path)
{
    return [who = std::move(who), path](const Request& request) {
        return who(request) && request.argument.contains("\"" + path + "\"");
    };
}

double now()
{
    return Scheduler::current().now();
}

// The requests `which` picks in each whole minute from `from` until `to`: the figures a
// failure's message shows.
std::string perMinute(const std::vector<Request>& requests, const Which& which, double from, double to)
{
    std::vector<int> minutes(std::size_t(std::max(0.0, std::ceil((to - from) / 60.0))), 0);
    for (const Request& request : requests)
        if (request.at >= from && request.at < to && which(request))
            ++minutes[std::size_t((request.at - from) / 60.0)];
    std::string figures = "requests per minute:";
    for (const int n : minutes)
        figures += " " + std::to_string(n);
    return figures;
}

// Each request `which` picks from `from` on, with its time from `from` and its answer: what a
// failure's message shows when the timing is off.
std::string timeline(const std::vector<Request>& requests, const Which& which, double from)
{
    std::string lines = "requests from the fault on:";
    for (const Request& request : requests)
        if (request.at >= from && which(request))
            lines += "\n  " + std::to_string(int(request.at - from)) + " s " + request.route.toStdString() +
                     " " + std::to_string(request.status) + (request.cut ? " cut" : "");
    return lines;
}

// What holdIndex left: the document edited meanwhile, the foreign index's revision, when it
// was put there.
struct HeldIndex
{
    QString edited;
    QString rev;
    double fault = 0;
};

// What the modes told the user about (DropboxSyncNotices), with the mode that told it.
class NoticesHeard
{
public:
    using DocumentNotSynced = DropboxSyncNotices::DocumentNotSynced;

    NoticesHeard()
    {
        NotificationCenter& center = NotificationCenter::defaultCenter();
        mTokens = {
            center.addObserver(
                DropboxSyncNotices::AccessLostNotification, nullptr,
                [this](const NotificationCenter::Notification& note) { accessLost.push_back(note.sender); }),
            center.addObserver(
                DropboxSyncNotices::DocumentNotSyncedNotification, nullptr,
                [this](const NotificationCenter::Notification& note) {
                    documents.push_back({note.sender, *DropboxSyncNotices::documentNotSynced(note)});
                }),
            center.addObserver(DropboxSyncNotices::DocumentSyncedNotification, nullptr,
                               [this](const NotificationCenter::Notification& note) {
                                   synced.push_back({note.sender, *DropboxSyncNotices::documentSynced(note)});
                               })};
    }
    NoticesHeard(const NoticesHeard&) = delete;
    NoticesHeard& operator=(const NoticesHeard&) = delete;
    ~NoticesHeard()
    {
        for (const auto token : mTokens)
            NotificationCenter::defaultCenter().removeObserver(token);
    }

    int accessLostBy(const DropboxMachine& machine) const
    {
        return int(std::count(accessLost.begin(), accessLost.end(), machine.mode.get()));
    }
    // The document notices the machine's mode gave about the document.
    std::vector<DocumentNotSynced> about(const DropboxMachine& machine, const QString& document) const
    {
        std::vector<DocumentNotSynced> found;
        for (const auto& [sender, notice] : documents)
            if (sender == machine.mode.get() && notice.document == document)
                found.push_back(notice);
        return found;
    }

    // How often the machine's mode said the document synced.
    int syncedBy(const DropboxMachine& machine, const QString& document) const
    {
        return int(std::count(synced.begin(), synced.end(),
                              std::pair<const void*, QString>(machine.mode.get(), document)));
    }

    std::vector<const void*> accessLost;
    std::vector<std::pair<const void*, DocumentNotSynced>> documents;
    std::vector<std::pair<const void*, QString>> synced;

private:
    std::vector<NotificationCenter::ObserverToken> mTokens;
};

// The root text of a local copy a notice names.
QString copyText(const QString& file)
{
    QFile copy(file);
    return copy.open(QIODevice::ReadOnly) ? rootTextOf(copy.readAll()) : QString();
}

} // namespace

class DropboxLocationFailuresTest : public DropboxMachinesFixture
{
protected:
    // Machines with accounts of their own, so that the emulator's log tells them apart.
    void ownAccounts(double idleTimeout = 10.0)
    {
        for (const char* who : {"A", "B"}) {
            emulator.addAccessToken(QStringLiteral("token") + QLatin1String(who));
            emulator.addRefreshToken(QStringLiteral("refresh") + QLatin1String(who));
        }
        a = std::make_unique<DropboxMachine>(
            QStringLiteral("ownA"),
            makeUser(QStringLiteral("tokenA"), idleTimeout, QStringLiteral("refreshA")));
        b = std::make_unique<DropboxMachine>(
            QStringLiteral("ownB"),
            makeUser(QStringLiteral("tokenB"), idleTimeout, QStringLiteral("refreshB")));
    }

    // Each machine's requests `which` picks stay within the budget from a minute after the
    // fault began until it cleared, and so do the reachability checks of `probing` (both
    // machines unless given).
    void expectWithinBudget(const std::function<Which(const QString& token)>& which, double fault,
                            double cleared, std::vector<DropboxMachine*> probing = {})
    {
        for (const QString& token : {QStringLiteral("tokenA"), QStringLiteral("tokenB")}) {
            EXPECT_LE(busiestMinute(which(token), fault + 60.0, cleared), Budget) << token.toStdString();
        }
        if (probing.empty())
            probing = {a.get(), b.get()};
        for (DropboxMachine* machine : probing) {
            EXPECT_LE(busiestMinuteOf(machine->reachability->probedAt, fault + 60.0, cleared), 1)
                << machine->root.toStdString();
        }
    }

    // See below.
    HeldIndex holdIndex(const QByteArray& content);

    // Pumps until Dropbox holds `text` at `path`: the scheduler time then, or nothing.
    std::optional<double> untilRemote(const QString& path, const QString& text)
    {
        const bool arrived = pumpDropbox(
            [&] {
                const auto file = emulator.file(path);
                return file && rootTextOf(file->content) == text;
            },
            30.0);
        return arrived ? std::optional<double>(now()) : std::nullopt;
    }
};

// A running machine with two documents, then another program's index on Dropbox, then a
// second machine starting; ten minutes in which a document is edited on the first and one is
// made on the second. The index requests stay within the budget, and both machines end with
// every document as Dropbox holds it.
HeldIndex DropboxLocationFailuresTest::holdIndex(const QByteArray& content)
{
    ownAccounts();
    a->start();
    HeldIndex held;
    held.edited = a->create(QStringLiteral("one"));
    a->create(QStringLiteral("two"));
    EXPECT_TRUE(converge());
    held.rev = emulator.putFile(QStringLiteral("/corvex.index"), content);
    held.fault = now();
    b->start();
    pass(120.0);
    EXPECT_TRUE(a->edit(held.edited, QStringLiteral("one, edited on A")));
    EXPECT_FALSE(b->create(QStringLiteral("three, from B")).isEmpty());
    pass(HeldSeconds - 120.0);
    expectWithinBudget([](const QString& token) { return naming(sentWith(token), "/corvex.index"); },
                       held.fault, now());
    EXPECT_TRUE(converge());
    const DocumentDump remote = remoteDump();
    EXPECT_EQ(remote.size(), 3u);
    EXPECT_EQ(remote.count(held.edited) ? remote.at(held.edited) : QString(),
              QStringLiteral("one, edited on A"));
    EXPECT_EQ(a->dump(), remote);
    EXPECT_EQ(b->dump(), remote);
    return held;
}

// A damaged index (another program wrote half of it), found by a machine already running and
// by one that starts afterwards: the local index replaces it, uploaded over the damaged
// revision, never as a new file into a conflict.
TEST_F(DropboxLocationFailuresTest, ADamagedIndexIsReplacedAndDocumentsKeepSyncing)
{
    const HeldIndex held = holdIndex(R"({"fileFormatVersion":1,"proxies":[{"filen)");
    int asNewFile = 0;
    for (const Request& request : emulator.requests("files/upload"))
        asNewFile += request.at >= held.fault && request.argument.contains("/corvex.index") &&
                             request.argument.contains(R"("mode":"add")")
                         ? 1
                         : 0;
    EXPECT_EQ(asNewFile, 0);
    const auto index = emulator.file(QStringLiteral("/corvex.index"));
    ASSERT_TRUE(index.has_value());
    EXPECT_NE(index->rev, held.rev);
    Error error;
    const auto proxies =
        IndexJSONDocument::decodeProxies(*IndexJSONDocument::makeDecoder(index->content), &error);
    ASSERT_TRUE(proxies.has_value()) << error.toString().toStdString();
    EXPECT_FALSE(proxies->empty());
}

// An index written by a newer program (format 2) is read with error 150: neither machine
// replaces it or fetches it again while it stays, and the documents sync without it.
TEST_F(DropboxLocationFailuresTest, ANewerIndexIsLeftAloneAndDocumentsSyncWithoutIt)
{
    const HeldIndex held = holdIndex(R"({"fileFormatVersion":2,"appInstance":"LATER_1","proxies":[]})");
    EXPECT_EQ(emulator.file(QStringLiteral("/corvex.index"))->rev, held.rev);
    for (const QString& token : {QStringLiteral("tokenA"), QStringLiteral("tokenB")}) {
        int downloads = 0;
        int uploads = 0;
        for (const Request& request : emulator.requests()) {
            if (request.at < held.fault || !naming(sentWith(token), "/corvex.index")(request))
                continue;
            downloads += request.route == "files/download" ? 1 : 0;
            uploads += request.route == "files/upload" ? 1 : 0;
        }
        EXPECT_EQ(downloads, 1) << token.toStdString();
        EXPECT_EQ(uploads, 0) << token.toStdString();
    }
}

// Another program leaves a folder where a document was: its download keeps failing on both
// machines, within the budget, and holds back only that document, which stays readable here;
// edits of the others travel both ways, one of them made offline.
TEST_F(DropboxLocationFailuresTest, AFolderAtADocumentsPathHoldsBackOnlyThatDocument)
{
    ownAccounts();
    a->start();
    b->start();
    const QString blocked = a->create(QStringLiteral("blocked"));
    const QString mine = a->create(QStringLiteral("A's"));
    const QString theirs = a->create(QStringLiteral("B's"));
    ASSERT_TRUE(converge());
    const QByteArray path = blocked.mid(8).toUtf8();
    ASSERT_TRUE(emulator.remove(blocked.mid(8)));
    emulator.makeFolder(blocked.mid(8));
    const NoticesHeard heard;
    const double fault = now();
    const qsizetype eventsB = b->delegate.events.size();
    pass(90.0);
    // A edits while offline: once back, it lists and fetches again before uploading, and the
    // download that fails must not hold its upload back.
    a->reachability->reachable = false;
    ASSERT_TRUE(pumpDropbox([&] { return !a->mode->state().perhapsDropboxConnection; }, 30.0));
    ASSERT_TRUE(a->edit(mine, QStringLiteral("A's, edited")));
    a->reachability->reachable = true;
    ASSERT_TRUE(b->edit(theirs, QStringLiteral("B's, edited")));
    pass(HeldSeconds - (now() - fault));
    // (A's checks while it was offline are another fault's.)
    expectWithinBudget([path](const QString& token) { return naming(sentWith(token), path); }, fault, now(),
                       {b.get()});
    EXPECT_GE(emulator.count("files/download"), 2); // it was tried, and failed

    const DocumentDump remote = remoteDump();
    EXPECT_EQ(remote.at(mine), QStringLiteral("A's, edited"));
    EXPECT_EQ(remote.at(theirs), QStringLiteral("B's, edited"));
    for (DropboxMachine* machine : {a.get(), b.get()}) {
        const DocumentDump shown = machine->dump();
        EXPECT_EQ(shown.at(mine), QStringLiteral("A's, edited")) << machine->root.toStdString();
        EXPECT_EQ(shown.at(theirs), QStringLiteral("B's, edited")) << machine->root.toStdString();
        EXPECT_EQ(shown.at(blocked), QStringLiteral("blocked")) << machine->root.toStdString();
    }
    // The refusals are that document's, not the connection's: no error status came and went
    // on the machine that stayed online.
    EXPECT_FALSE(b->delegate.events.mid(eventsB).contains(QStringLiteral("status 2")));
    // Each machine told once in ten minutes which document stays unsynced and where its copy is.
    for (DropboxMachine* machine : {a.get(), b.get()}) {
        const auto told = heard.about(*machine, blocked);
        ASSERT_EQ(told.size(), 1u) << machine->root.toStdString();
        EXPECT_EQ(told.front().reason, NoticesHeard::DocumentNotSynced::Reason::FolderAtPath);
        EXPECT_EQ(told.front().remotePath, blocked.mid(8));
        EXPECT_EQ(told.front().copyDocument, blocked);
        EXPECT_EQ(copyText(told.front().copyFile), QStringLiteral("blocked")) << machine->root.toStdString();
        EXPECT_EQ(heard.syncedBy(*machine, blocked), 0) << machine->root.toStdString();
    }

    // The cause changes: a file again where the folder was, then a folder once more. Told again.
    ASSERT_TRUE(emulator.remove(blocked.mid(8)));
    emulator.putFile(blocked.mid(8), emulator.file(theirs.mid(8))->content);
    ASSERT_TRUE(converge());
    EXPECT_EQ(heard.about(*a, blocked).size(), 1u) << "a file there is no news";
    // But that it syncs again is: both machines fetch the file.
    for (DropboxMachine* machine : {a.get(), b.get()})
        EXPECT_GE(heard.syncedBy(*machine, blocked), 1) << machine->root.toStdString();
    ASSERT_TRUE(emulator.remove(blocked.mid(8)));
    emulator.makeFolder(blocked.mid(8));
    pass(90.0);
    for (DropboxMachine* machine : {a.get(), b.get()})
        EXPECT_EQ(heard.about(*machine, blocked).size(), 2u) << machine->root.toStdString();
}

// Every connection dropped for ten minutes, the network itself still there: a save made
// meanwhile stays here, each machine stays within the budget, and once the service is back
// the save reaches Dropbox within one back-off, and the other machine.
TEST_F(DropboxLocationFailuresTest, ADroppedConnectionStaysWithinBudgetAndSyncResumes)
{
    ownAccounts();
    a->start();
    b->start();
    const QString id = a->create(QStringLiteral("before"));
    ASSERT_TRUE(converge());
    emulator.setOutage(DropboxEmulator::Fault::Drop);
    const double fault = now();
    ASSERT_TRUE(a->edit(id, QStringLiteral("saved while Dropbox was away")));
    pass(HeldSeconds);
    const double cleared = now();
    emulator.setOutage(std::nullopt);
    expectWithinBudget(sentWith, fault, cleared);
    EXPECT_GT(emulator.requests().size(), 10u); // they did keep trying

    const std::optional<double> arrived =
        untilRemote(id.mid(8), QStringLiteral("saved while Dropbox was away"));
    ASSERT_TRUE(arrived.has_value());
    EXPECT_LE(*arrived - cleared, DropboxBackoff::LongestWaitSeconds + 10.0);
    ASSERT_TRUE(converge());
    EXPECT_EQ(b->dump(), remoteDump());
    EXPECT_GE(b->mode->lastCommunicatedStatus(), PersistenceStateStatusDataReceived);
}

// Every answer stalled until the client gives up (after 0.3 s of real time; virtual time
// creeps while an answer stalls, so that each lasts seconds of it): within the budget, and
// sync back within one back-off once the last stalled answer has ended. The other machine
// starts afterwards and finds the save.
TEST_F(DropboxLocationFailuresTest, AStalledServerStaysWithinBudgetAndSyncResumes)
{
    ownAccounts(0.3);
    a->start();
    const QString id = a->create(QStringLiteral("before"));
    ASSERT_TRUE(converge());
    emulator.setOutage(DropboxEmulator::Fault::Stall);
    const ScopedVirtualCreep creep([this] { return emulator.stalledAnswers() > 0; });
    const double fault = now();
    ASSERT_TRUE(a->edit(id, QStringLiteral("saved while Dropbox stalled")));
    pass(HeldSeconds);
    emulator.setOutage(std::nullopt);
    ASSERT_TRUE(pumpDropbox([&] { return emulator.stalledAnswers() == 0; }, 30.0));
    const double cleared = now();
    expectWithinBudget(sentWith, fault, cleared, {a.get()});
    int stalled = 0;
    for (const Request& request : emulator.requests())
        stalled += request.at >= fault && request.cut ? 1 : 0;
    EXPECT_GE(stalled, 10); // it did keep trying

    const std::optional<double> arrived =
        untilRemote(id.mid(8), QStringLiteral("saved while Dropbox stalled"));
    ASSERT_TRUE(arrived.has_value());
    EXPECT_LE(*arrived - cleared, DropboxBackoff::LongestWaitSeconds + 10.0);
    b->start();
    ASSERT_TRUE(converge());
    EXPECT_EQ(a->dump(), remoteDump());
    EXPECT_EQ(b->dump(), remoteDump());
}

// A full account refusing every new document: the refusals are this machine's uploads, not its
// connection (no error status), and eight documents waiting for space together stay within
// the budget; once there is space they all arrive.
TEST_F(DropboxLocationFailuresTest, AFullAccountIsAskedWithinTheBudget)
{
    ownAccounts();
    a->start();
    b->start();
    ASSERT_TRUE(converge());
    emulator.setQuota(emulator.usedBytes() + 16);
    const double fault = now();
    QStringList ids;
    for (int i = 0; i < 8; ++i)
        ids.append(a->create(QStringLiteral("waiting %1").arg(i)));
    const int statusesBefore = int(a->delegate.events.filter(QStringLiteral("status ")).size());
    pass(HeldSeconds);
    expectWithinBudget([](const QString& token) { return sentWith(token); }, fault, now());
    const QStringList statuses = a->delegate.events.filter(QStringLiteral("status ")).mid(statusesBefore);
    EXPECT_FALSE(statuses.contains(QStringLiteral("status 2")))
        << statuses.join(QLatin1Char(',')).toStdString();

    emulator.setQuota(0);
    ASSERT_TRUE(converge());
    EXPECT_EQ(remoteDump().size(), 8u);
    EXPECT_EQ(b->dump(), remoteDump());
}

// The user took the application's access away on Dropbox: the access token expires, its
// refresh is refused, and from then on that machine sends nothing and says status 2 once,
// while its saves go on here and the other machine syncs as before; after a new sign-in the
// saves travel both ways.
TEST_F(DropboxLocationFailuresTest, ARevokedTokenStopsRequestsUntilANewSignIn)
{
    ownAccounts();
    a->start();
    b->start();
    const QString id = a->create(QStringLiteral("shared"));
    ASSERT_TRUE(converge());
    const int errorsBefore = int(a->delegate.events.count(QStringLiteral("status 2")));
    const NoticesHeard heard;
    emulator.revokeRefreshToken(QStringLiteral("refreshA"));
    emulator.expireAccessToken(QStringLiteral("tokenA"));
    ASSERT_TRUE(pumpDropbox([&] { return a->mode->isStoppedForAuthorization(); }, 30.0));
    const auto fromA = [](const Request& request) {
        return sentWith(QStringLiteral("tokenA"))(request) || request.argument.contains("refreshA");
    };
    const auto refusedRefresh = [&] {
        const std::vector<Request> all = emulator.requests();
        for (std::size_t i = all.size(); i-- > 0;)
            if (all[i].route == "oauth2/token" && fromA(all[i]))
                return i;
        return all.size();
    };
    const std::size_t refused = refusedRefresh();
    ASSERT_LT(refused, emulator.requests().size());
    EXPECT_EQ(emulator.requests().at(refused).status, 400);

    ASSERT_TRUE(a->edit(id, QStringLiteral("saved while signed out")));
    ASSERT_TRUE(b->edit(id, QStringLiteral("saved by B")));
    pass(HeldSeconds);
    const std::vector<Request> all = emulator.requests();
    EXPECT_EQ(std::count_if(all.begin() + std::ptrdiff_t(refused) + 1, all.end(), fromA), 0);
    // The location shows an error, and the user was told once, by A alone.
    EXPECT_EQ(a->delegate.events.count(QStringLiteral("status 2")) - errorsBefore, 1);
    EXPECT_EQ(a->mode->lastCommunicatedStatus(), PersistenceStateStatusNoAccount);
    EXPECT_EQ(heard.accessLostBy(*a), 1);
    EXPECT_EQ(heard.accessLost.size(), 1u);
    EXPECT_EQ(a->text(id), QStringLiteral("saved while signed out"));
    EXPECT_EQ(rootTextOf(emulator.file(id.mid(8))->content), QStringLiteral("saved by B"));
    EXPECT_EQ(b->mode->lastCommunicatedStatus(), PersistenceStateStatusAllFound);

    emulator.addAccessToken(QStringLiteral("tokenA2"));
    emulator.addRefreshToken(QStringLiteral("refreshA2"));
    a->signIn(makeUser(QStringLiteral("tokenA2"), 10.0, QStringLiteral("refreshA2")));
    ASSERT_TRUE(converge());
    EXPECT_FALSE(a->mode->isStoppedForAuthorization());
    const DocumentDump remote = remoteDump();
    QStringList texts;
    for (const auto& entry : remote)
        texts.append(entry.second);
    texts.sort();
    // Both saves were made on one revision: one keeps the name, the other is a conflict copy.
    EXPECT_EQ(texts, (QStringList{QStringLiteral("saved by B"), QStringLiteral("saved while signed out")}));
    EXPECT_EQ(a->dump(), remote);
    EXPECT_EQ(b->dump(), remote);

    // The new sign-in changed the cause: the new account's access taken away is told again.
    EXPECT_EQ(heard.accessLostBy(*a), 1);
    emulator.revokeRefreshToken(QStringLiteral("refreshA2"));
    emulator.expireAccessToken(QStringLiteral("tokenA2"));
    ASSERT_TRUE(a->edit(id, QStringLiteral("saved after the second revocation")));
    ASSERT_TRUE(pumpDropbox([&] { return a->mode->isStoppedForAuthorization(); }, 60.0));
    EXPECT_EQ(heard.accessLostBy(*a), 2);
}

// A document edited offline whose path on Dropbox became a folder meanwhile: the edit goes up
// under a conflict copy's name, the index names the copy, one log line says where it
// went, and for ten minutes the path is asked about at most twice after the move. A document
// without an edit there stays here as it was, and its path is asked about once.
TEST_F(DropboxLocationFailuresTest, AnEditWhosePathBecameAFolderMovesToAConflictName)
{
    ownAccounts();
    a->start();
    b->start();
    const QString edited = a->create(QStringLiteral("edited"));
    const QString untouched = a->create(QStringLiteral("untouched"));
    ASSERT_TRUE(converge());
    a->reachability->reachable = false;
    ASSERT_TRUE(pumpDropbox([&] { return !a->mode->state().perhapsDropboxConnection; }, 30.0));
    ASSERT_TRUE(a->edit(edited, QStringLiteral("edited offline")));
    for (const QString& id : {edited, untouched}) {
        ASSERT_TRUE(emulator.remove(id.mid(8)));
        emulator.makeFolder(id.mid(8));
    }
    const LogCapture captured;
    const NoticesHeard heard;
    const double fault = now();
    a->reachability->reachable = true;
    pass(HeldSeconds);
    const std::vector<Request> all = emulator.requests();

    const DocumentDump remote = remoteDump();
    QString moved;
    for (const auto& [id, text] : remote)
        if (text == QStringLiteral("edited offline"))
            moved = id;
    ASSERT_TRUE(QRegularExpression(QStringLiteral("^dropbox:/id\\d+_\\d+\\.crvx$")).match(moved).hasMatch())
        << moved.toStdString();
    EXPECT_EQ(remote.size(), 1u);
    const auto index = emulator.file(QStringLiteral("/corvex.index"));
    ASSERT_TRUE(index.has_value());
    Error error;
    const auto proxies =
        IndexJSONDocument::decodeProxies(*IndexJSONDocument::makeDecoder(index->content), &error);
    ASSERT_TRUE(proxies.has_value()) << error.toString().toStdString();
    QStringList indexed;
    for (const IdeaProxyPtr& proxy : *proxies)
        indexed.append(proxy->docIdentifier());
    // (The other machine, which had no edit there, keeps showing the document as it was, so
    // the index it saves may name the old path beside the copy.)
    EXPECT_TRUE(indexed.contains(moved)) << indexed.join(QLatin1Char(' ')).toStdString();

    double movedAt = now();
    for (const Request& request : all)
        if (request.route == "files/upload" &&
            naming(sentWith(QStringLiteral("tokenA")), moved.mid(8).toUtf8())(request)) {
            movedAt = request.at;
            break;
        }
    for (const QString& token : {QStringLiteral("tokenA"), QStringLiteral("tokenB")}) {
        int afterMove = 0;
        int untouchedAsked = 0;
        for (const Request& request : all) {
            afterMove += request.at >= movedAt && naming(sentWith(token), edited.mid(8).toUtf8())(request);
            untouchedAsked +=
                request.at >= fault && naming(sentWith(token), untouched.mid(8).toUtf8())(request);
        }
        EXPECT_LE(afterMove, 2) << token.toStdString() << " "
                                << perMinute(all, naming(sentWith(token), edited.mid(8).toUtf8()), fault,
                                             now());
        EXPECT_LE(untouchedAsked, 1) << token.toStdString() << " "
                                     << perMinute(all, naming(sentWith(token), untouched.mid(8).toUtf8()),
                                                  fault, now());
    }
    const QStringList told = captured.lines().filter(moved.mid(9));
    ASSERT_EQ(told.size(), 1) << captured.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(told.front().contains(edited.mid(9))) << told.front().toStdString();
    // The user heard once of each document: the edit went to the copy, the other stayed here.
    const auto editedNotices = heard.about(*a, edited);
    ASSERT_EQ(editedNotices.size(), 1u);
    EXPECT_EQ(editedNotices.front().copyDocument, moved);
    EXPECT_EQ(copyText(editedNotices.front().copyFile), QStringLiteral("edited offline"));
    const auto untouchedNotices = heard.about(*a, untouched);
    ASSERT_EQ(untouchedNotices.size(), 1u);
    EXPECT_EQ(untouchedNotices.front().copyDocument, untouched);
    EXPECT_EQ(copyText(untouchedNotices.front().copyFile), QStringLiteral("untouched"));

    ASSERT_TRUE(converge());
    for (DropboxMachine* machine : {a.get(), b.get()}) {
        const DocumentDump shown = machine->dump();
        EXPECT_EQ(shown.count(moved) ? shown.at(moved) : QString(), QStringLiteral("edited offline"))
            << machine->root.toStdString();
        EXPECT_EQ(shown.count(untouched) ? shown.at(untouched) : QString(), QStringLiteral("untouched"))
            << machine->root.toStdString();
    }
    EXPECT_EQ(a->dump().count(edited), 0u);
}

// Another machine's change whose every download comes damaged (its content hash never
// matches): that download backs off as any failed step (its waits doubling up to a minute, at
// most five in any minute), the machine stays within the budget after the first minute, the
// log says so once, and no error status comes: the connection works. Another document's change
// arrives meanwhile, and once the downloads come whole, the change arrives too.
TEST_F(DropboxLocationFailuresTest, AHashThatNeverMatchesBacksOffAndIsLoggedOnce)
{
    ownAccounts();
    a->start();
    b->start();
    const QString damaged = a->create(QStringLiteral("damaged"));
    const QString other = a->create(QStringLiteral("other"));
    ASSERT_TRUE(converge());
    const LogCapture captured;
    const NoticesHeard heard;
    emulator.damageDownloads(damaged.mid(8));
    const double fault = now();
    const qsizetype eventsA = a->delegate.events.size();
    ASSERT_TRUE(b->edit(damaged, QStringLiteral("changed on B")));
    pass(HeldSeconds / 2);
    ASSERT_TRUE(b->edit(other, QStringLiteral("other, changed on B")));
    pass(HeldSeconds - (now() - fault));
    const double cleared = now();
    const std::vector<Request> all = emulator.requests();

    const Which fromA = sentWith(QStringLiteral("tokenA"));
    const Which downloading = [path = damaged.mid(8).toUtf8(), fromA](const Request& request) {
        return request.route == "files/download" && naming(fromA, path)(request);
    };
    const std::string figures = perMinute(all, downloading, fault, cleared);
    EXPECT_LE(busiestMinute(fromA, fault + 60.0, cleared), Budget) << perMinute(all, fromA, fault, cleared);
    EXPECT_LE(busiestMinute(downloading, fault, cleared), 5) << figures;
    std::vector<double> downloads;
    for (const Request& request : all)
        if (request.at >= fault && downloading(request))
            downloads.push_back(request.at);
    ASSERT_GE(downloads.size(), 6u) << figures; // it did keep trying
    for (std::size_t i = downloads.size() - 3; i < downloads.size(); ++i)
        EXPECT_GE(downloads[i] - downloads[i - 1], DropboxBackoff::MaxDelaySeconds - 1e-6) << figures;
    EXPECT_EQ(captured.count(QStringLiteral("content hash")), 1)
        << captured.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(a->delegate.events.mid(eventsA).contains(
        QStringLiteral("status %1").arg(static_cast<unsigned>(WorkspaceStatus::Error))));
    EXPECT_EQ(a->text(other), QStringLiteral("other, changed on B"));
    EXPECT_EQ(a->text(damaged), QStringLiteral("damaged"));
    // Told once, with the copy kept here; the other document, which syncs, is not named.
    const auto told = heard.about(*a, damaged);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told.front().reason, NoticesHeard::DocumentNotSynced::Reason::DamagedContent);
    EXPECT_EQ(copyText(told.front().copyFile), QStringLiteral("damaged"));
    EXPECT_TRUE(heard.about(*a, other).empty());
    EXPECT_EQ(heard.syncedBy(*a, damaged), 0);
    EXPECT_GE(heard.syncedBy(*a, other), 1);

    emulator.damageDownloads(damaged.mid(8), false);
    ASSERT_TRUE(converge());
    EXPECT_EQ(a->text(damaged), QStringLiteral("changed on B"));
    EXPECT_EQ(a->dump(), remoteDump());
    // The whole download is said too: what was told about the document is over.
    EXPECT_EQ(heard.syncedBy(*a, damaged), 1);

    // A whole download changed the cause: damaged again, it is told again.
    emulator.damageDownloads(damaged.mid(8));
    ASSERT_TRUE(b->edit(damaged, QStringLiteral("changed on B again")));
    pass(120.0);
    EXPECT_EQ(heard.about(*a, damaged).size(), 2u);
}

struct Outage
{
    const char* name;
    DropboxEmulator::Fault fault;
    bool atStart; // met by a machine starting during it, else by a running one with an edit
};

class DropboxLocationOutageTest : public DropboxLocationFailuresTest,
                                  public ::testing::WithParamInterface<Outage>
{};

// Every request meets one fault for ten minutes (a 500, a 503, a 429 with Retry-After 1, a
// dropped connection, a connection closed or reset before any answer, the first one kept
// alive since the last answer), met by a running machine as it uploads an edit or by a machine that
// starts during it: the first minute holds at most five HTTP requests of the machine and every
// later one at most two, the account client's own repeats among them, and the save made
// meanwhile reaches Dropbox within one back-off of the service coming back.
TEST_P(DropboxLocationOutageTest, EveryMinuteStaysWithinTheBudget)
{
    constexpr int FirstMinute = 5;
    constexpr int LaterMinutes = 2;
    ownAccounts();
    a->start();
    const QString id = a->create(QStringLiteral("before"));
    ASSERT_TRUE(converge());
    if (GetParam().atStart)
        a->stop();
    emulator.setOutage(GetParam().fault);
    const double fault = now();
    if (GetParam().atStart)
        a->start();
    ASSERT_TRUE(a->edit(id, QStringLiteral("saved during the outage")));
    pass(HeldSeconds);
    const double cleared = now();
    emulator.setOutage(std::nullopt);
    const Which fromA = sentWith(QStringLiteral("tokenA"));
    const std::vector<Request> all = emulator.requests();
    EXPECT_LE(
        std::count_if(all.begin(), all.end(),
                      [&](const Request& r) { return r.at >= fault && r.at < fault + 60.0 && fromA(r); }),
        FirstMinute)
        << perMinute(all, fromA, fault, cleared);
    EXPECT_LE(busiestMinute(fromA, fault + 60.0, cleared), LaterMinutes)
        << perMinute(all, fromA, fault, cleared);
    EXPECT_GE(
        std::count_if(all.begin(), all.end(), [&](const Request& r) { return r.at >= fault && fromA(r); }),
        10); // it did keep trying

    const std::optional<double> arrived = untilRemote(id.mid(8), QStringLiteral("saved during the outage"));
    ASSERT_TRUE(arrived.has_value());
    // A machine that started during the outage has its start's own steps (the folder made, the
    // listing) to take again before the upload, each within the budget's spacing.
    EXPECT_LE(*arrived - cleared, DropboxBackoff::LongestWaitSeconds + (GetParam().atStart ? 30.0 : 10.0))
        << "cleared at " << int(cleared - fault) << " s; " << timeline(emulator.requests(), fromA, fault);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DropboxLocationOutageTest,
    ::testing::Values(Outage{"Status500", DropboxEmulator::Fault::Status500, false},
                      Outage{"Status503", DropboxEmulator::Fault::Status503, false},
                      Outage{"Status429", DropboxEmulator::Fault::Status429, false},
                      Outage{"Drop", DropboxEmulator::Fault::Drop, false},
                      Outage{"HangUp", DropboxEmulator::Fault::HangUp, false},
                      Outage{"Reset", DropboxEmulator::Fault::Reset, false},
                      Outage{"Status503AtStart", DropboxEmulator::Fault::Status503, true},
                      Outage{"Status429AtStart", DropboxEmulator::Fault::Status429, true},
                      Outage{"DropAtStart", DropboxEmulator::Fault::Drop, true}),
    [](const ::testing::TestParamInfo<Outage>& info) { return std::string(info.param.name); });

} // namespace corvex::test
