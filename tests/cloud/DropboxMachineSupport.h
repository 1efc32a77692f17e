#pragma once

// Machines of the Dropbox location in one test process: each a workspace over its own
// DropboxFolderManager with its own folder roots, client and scripted reachability, all
// against one emulator; and Dropbox's own documents as root texts.

#include "cloud/dropbox/DropboxFolderManager.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/ProcessActivity.h"
#include "platform/core/Scheduler.h"
#include "platform/net/HttpSession.h"
#include "storage/IndexJSONDocument.h"
#include "storage/Workspace.h"
#include "tests/cloud/DropboxTestSupport.h"
#include "tests/storage/WorkspaceTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <thread>
#include <utility>

namespace corvex::test {

// Replies as the test says, through the main queue; or, while holding, keeps the check
// unanswered until the test answers it (answerHeld).
class ScriptedReachability final : public DropboxReachability
{
public:
    void probe(Answer answer) override
    {
        ++probes;
        probedAt.push_back(Scheduler::current().now());
        if (holding) {
            held = std::move(answer);
            return;
        }
        answer(reachable);
    }
    // Answers the held check (heard on the next turn); false when none is held.
    bool answerHeld(bool reachableNow)
    {
        if (!held)
            return false;
        std::exchange(held, nullptr)(reachableNow);
        return true;
    }
    bool reachable = true;
    bool holding = false;
    Answer held;
    int probes = 0;
    std::vector<double> probedAt; // scheduler time of each check
};

using DocumentDump = std::map<QString, QString>; // identifier -> root text

// While this answers true, virtual time only creeps (VirtualCreepSeconds per idle round)
// instead of jumping to the next deadline: a test whose answers stall for a real time-out sets
// it, so that a stalled request lasts seconds of virtual time, not minutes.
inline std::function<bool()>& virtualTimeCreeps()
{
    static std::function<bool()> creeps;
    return creeps;
}
inline constexpr double VirtualCreepSeconds = 0.01;
// The most real time the clock waits for a request in flight before it moves on.
inline constexpr double HeldForTransferSeconds = 2.0;

// Sets virtualTimeCreeps() for its own lifetime.
class ScopedVirtualCreep
{
public:
    explicit ScopedVirtualCreep(std::function<bool()> creeps) { virtualTimeCreeps() = std::move(creeps); }
    ~ScopedVirtualCreep() { virtualTimeCreeps() = nullptr; }
    ScopedVirtualCreep(const ScopedVirtualCreep&) = delete;
    ScopedVirtualCreep& operator=(const ScopedVirtualCreep&) = delete;
};

// Pumps the main loop and virtual time until the predicate holds: what is due runs at once;
// when nothing is, other threads (transfers) get a moment, then the clock moves to the next
// deadline. The clock never moves while the persistence queue has work, nor, for up to
// HeldForTransferSeconds of real time, while a request is in flight: a save, a status write or
// a request to the emulator takes no virtual time however long a busy machine makes it in real
// time (else the clock would run ahead of the loop's own work, a request would seem to take a
// minute, and a test of its pace would pass only on a quiet machine). A request that stalls for
// longer lets the clock go on, as a stalled server does. False after `timeoutSeconds` of real
// time.
inline bool pumpDropbox(const std::function<bool()>& predicate, double timeoutSeconds = 30.0)
{
    auto* time = dynamic_cast<VirtualScheduler*>(&Scheduler::current());
    QDeadlineTimer deadline(qint64(timeoutSeconds * 1000.0));
    int idleSpins = 0;
    std::optional<QDeadlineTimer> heldForTransfer;
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents();
        if (time && time->runDue() > 0) {
            idleSpins = 0;
            continue;
        }
        if (++idleSpins < 4 || ProcessActivity::anyOpen()) {
            std::this_thread::sleep_for(std::chrono::microseconds(250));
            continue;
        }
        const bool creeping = virtualTimeCreeps() && virtualTimeCreeps()();
        if (!creeping && HttpSession::transfersActiveInProcess() > 0) {
            if (!heldForTransfer)
                heldForTransfer.emplace(qint64(HeldForTransferSeconds * 1000.0));
            if (!heldForTransfer->hasExpired()) {
                std::this_thread::sleep_for(std::chrono::microseconds(250));
                continue;
            }
        }
        heldForTransfer.reset();
        idleSpins = 0;
        if (time && creeping)
            time->advance(VirtualCreepSeconds);
        else if (time)
            time->step();
    }
    return true;
}

// The most of `times` (scheduler time) in any minute that starts between `from` and `to - 60`.
inline int busiestMinuteOf(std::vector<double> times, double from, double to)
{
    std::erase_if(times, [&](double at) { return at < from || at >= to; });
    std::sort(times.begin(), times.end());
    int most = 0;
    for (auto first = times.begin(); first != times.end() && *first <= to - 60.0; ++first)
        most = std::max(most, int(std::lower_bound(first, times.end(), *first + 60.0) - first));
    return most;
}

// The document identifiers an index file's bytes list, sorted; empty when they do not parse.
inline QStringList indexedIdentifiers(const QByteArray& bytes)
{
    QStringList identifiers;
    const auto decoder = IndexJSONDocument::makeDecoder(bytes);
    if (const auto proxies = decoder ? IndexJSONDocument::decodeProxies(*decoder, nullptr) : std::nullopt)
        for (const IdeaProxyPtr& proxy : *proxies)
            identifiers.append(proxy->docIdentifier());
    identifiers.sort();
    return identifiers;
}

// The root text of stored document bytes; null when they do not parse.
inline QString rootTextOf(const QByteArray& bytes)
{
    const auto payload = IdeaDocumentDataObject::readFromSomeData(bytes);
    return payload && payload->idea() ? payload->idea()->text() : QString();
}

// Pumps for `seconds` of virtual time.
inline void passVirtual(double seconds)
{
    bool passed = false;
    MainQueue::postAfter(seconds, [&passed] { passed = true; });
    pumpDropbox([&] { return passed; }, 30.0);
}

// A signed-in client of the emulator at `baseUrl` (for helper processes, which have no
// fixture).
inline std::shared_ptr<DropboxUserClient> emulatorUser(const QString& baseUrl, const QString& access)
{
    DropboxUserClient::Options options;
    options.appKey = QStringLiteral("testkey");
    options.endpoints = DropboxEndpoints::atServer(baseUrl);
    options.tokenStore = DropboxTokenStore(testDir() + QStringLiteral("/credentials.json"));
    options.session = HttpSession::create(HttpSessionConfiguration());
    return DropboxUserClient::create(DropboxCredentials{access, QStringLiteral("refresh")},
                                     std::move(options));
}

// The documents' root texts, sorted.
inline QStringList textsOf(const DocumentDump& dump)
{
    QStringList texts;
    for (const auto& entry : dump)
        texts.append(entry.second);
    texts.sort();
    return texts;
}

class DropboxMachine
{
public:
    DropboxMachine(const QString& name, std::shared_ptr<DropboxUserClient> user)
        : root(testDir() + QLatin1Char('/') + name), mUser(std::move(user))
    {
        reachability = std::make_shared<ScriptedReachability>();
    }
    ~DropboxMachine() { stop(); }
    DropboxMachine(const DropboxMachine&) = delete;
    DropboxMachine& operator=(const DropboxMachine&) = delete;

    DropboxModeServices services()
    {
        // The machine's account as it is when the client asks (see signIn).
        client = std::make_shared<QVDropboxClient>(QVDropboxClient::AccountSource([this] { return mUser; }));
        return DropboxModeServices{root + QStringLiteral("/support"), root + QStringLiteral("/Documents"),
                                   client, reachability};
    }

    // The user signs in again: the new account's client, and the sign-in's notification.
    void signIn(std::shared_ptr<DropboxUserClient> user)
    {
        mUser = std::move(user);
        NotificationCenter::defaultCenter().post(DropboxNotifications::SignedIn);
    }

    void start()
    {
        mode = DropboxFolderManager::create(services());
        workspace = Workspace::initForLocation(IdeaDocument::DropboxLocation, mode, &delegate);
    }
    void stop()
    {
        if (workspace) {
            workspace->setDelegate(nullptr);
            workspace->closeWorkspace();
        }
        std::weak_ptr<DropboxFolderManager> gone = mode;
        workspace.reset();
        mode.reset();
        EXPECT_TRUE(gone.expired()) << "the mode outlived its workspace";
    }

    QString managedFolder() const { return mode->localManagedFolder(); }

    // The documents the machine's newest copy of the index lists, sorted.
    QStringList indexedLocally() const
    {
        const DocumentInfo::Ref& record = mode->state().indexDocumentInfo;
        const QVFileInfo::Ref newest =
            record ? QVFileInfo::firstNonNull(record->output(), record->current()) : nullptr;
        if (!QVFileInfo::hasFile(newest))
            return {};
        return indexedIdentifiers(readFile(mode->localManagedFile(*newest->name())));
    }

    // Creates a document with that root text: its identifier, empty on failure.
    QString create(const QString& text)
    {
        auto document = IdeaDocument::initWithFileName(QString(), IdeaDocument::DropboxLocation);
        document->setIdea(Idea::initWithText(text));
        std::optional<qint64> token;
        workspace->createDocument(document, 0, [&](qint64 t) { token = t; });
        if (!pumpDropbox([&] { return token.has_value(); }, 30.0) || *token < 1)
            return QString();
        workspace->closeDocument(document, *token, {});
        return document->docIdentifier();
    }

    // An opened handle and its token (0 on failure).
    std::pair<std::shared_ptr<IdeaDocument>, qint64> open(const QString& identifier)
    {
        auto document = IdeaDocument::initWithIdentifier(identifier);
        std::optional<qint64> token;
        workspace->openDocument(document, [&](qint64 t) { token = t; });
        pumpDropbox([&] { return token.has_value(); }, 30.0);
        return {document, document->idea() ? token.value_or(0) : 0};
    }

    bool save(const std::shared_ptr<IdeaDocument>& document, qint64 token, const QString& text)
    {
        document->idea()->setText(text);
        std::optional<bool> saved;
        workspace->updateDocument(document, token, [&](bool ok) { saved = ok; });
        pumpDropbox([&] { return saved.has_value(); }, 30.0);
        return saved.value_or(false);
    }

    // Opens, sets the root text, saves and closes.
    bool edit(const QString& identifier, const QString& text)
    {
        const auto [document, token] = open(identifier);
        if (token < 1)
            return false;
        const bool saved = save(document, token, text);
        workspace->closeDocument(document, token, {});
        return saved;
    }

    bool remove(const QString& identifier)
    {
        std::optional<bool> done;
        workspace->deleteDocument(identifier, [&](bool ok) { done = ok; });
        return pumpDropbox([&] { return done.has_value(); }, 30.0) && *done;
    }

    // The root text read through the mode; null when it cannot be read.
    QString text(const QString& identifier)
    {
        std::optional<QString> text;
        mode->fetchDocument(identifier, [&](const std::shared_ptr<IdeaDocument>& document) {
            text = document && document->idea() ? document->idea()->text() : QString();
        });
        pumpDropbox([&] { return text.has_value(); }, 30.0);
        return text.value_or(QString());
    }

    // The workspace's documents with their root texts.
    DocumentDump dump()
    {
        DocumentDump texts;
        // A copy: reading a document pumps the loop, which may change the workspace's list.
        const std::vector<IdeaProxyPtr> proxies = workspace->ideaProxies();
        for (const IdeaProxyPtr& proxy : proxies)
            texts[proxy->docIdentifier()] = text(proxy->docIdentifier());
        return texts;
    }

    QByteArray attachment(const ObjectID& name)
    {
        std::optional<QByteArray> bytes;
        mode->provideAttachment(name, [&](const QByteArray& data) { bytes = data; });
        pumpDropbox([&] { return bytes.has_value(); }, 30.0);
        return bytes.value_or(QByteArray());
    }

    bool store(const ObjectID& name, const QByteArray& data)
    {
        std::optional<bool> done;
        mode->storeAttachment(name, data, [&](bool ok) { done = ok; });
        return pumpDropbox([&] { return done.has_value(); }, 30.0) && *done;
    }

    QString root;
    std::shared_ptr<ScriptedReachability> reachability;
    std::shared_ptr<QVDropboxClient> client; // the last mode's
    RecordingWorkspaceDelegate delegate;
    std::shared_ptr<DropboxFolderManager> mode;
    std::shared_ptr<Workspace> workspace;

private:
    std::shared_ptr<DropboxUserClient> mUser;
};

// Two machines over the fixture's emulator, on auto-advancing virtual time with the wall
// clock tied to it.
class DropboxMachinesFixture : public DropboxFixture
{
protected:
    void SetUp() override
    {
        DropboxFixture::SetUp();
        mOldClock = Globals::setWallClock([] { return 1796638500.0 + Scheduler::current().now(); });
        a = std::make_unique<DropboxMachine>(QStringLiteral("machineA"), makeUser(QStringLiteral("good")));
        b = std::make_unique<DropboxMachine>(QStringLiteral("machineB"), makeUser(QStringLiteral("good")));
    }
    void TearDown() override
    {
        a.reset();
        b.reset();
        // Replies still on their way and waits still queued hold their sessions (and so
        // their connections, which the emulator waits for when it stops).
        pumpDropbox([] { return false; }, 0.1);
        for (int i = 0; i < 50 && time.advance(60.0) > 0; ++i)
            QCoreApplication::processEvents();
        Globals::setWallClock(mOldClock);
    }

    // Pumps for `seconds` of virtual time.
    void pass(double seconds) { passVirtual(seconds); }

    static bool quiet(DropboxMachine& machine) { return !machine.mode || machine.mode->isQuiet(); }

    // Both machines lose the connection (each hears it from a refused request), so that
    // neither can fetch what the other does until the test makes them reachable again.
    void bothOffline()
    {
        a->reachability->reachable = false;
        b->reachability->reachable = false;
        emulator.setRateLimit(1);
        ASSERT_TRUE(pumpDropbox([&] {
            return !a->mode->state().perhapsDropboxConnection && !b->mode->state().perhapsDropboxConnection;
        }));
        emulator.setRateLimit(0);
    }

    // Replies the client may still be repeating or waiting out when the window closes. (A
    // listing that failed is not one: the mode owes a new one and is not quiet meanwhile.)
    int setbacks() const
    {
        int n = 0;
        for (const DropboxEmulator::LoggedRequest& request : emulator.requests())
            n += request.cut || request.status == 401 || request.status == 429 || request.status >= 500 ? 1
                                                                                                        : 0;
        return n;
    }

    // Both machines quiet through a whole poll interval, with no write reaching Dropbox and no
    // setback meanwhile.
    bool converge(int rounds = 8)
    {
        for (int round = 0; round < rounds; ++round) {
            if (!pumpDropbox([&] { return quiet(*a) && quiet(*b); }, 30.0))
                return false;
            const int writes = emulator.count("files/upload") + emulator.count("files/delete_v2");
            const int before = setbacks();
            pass(35.0);
            if (pumpDropbox([&] { return quiet(*a) && quiet(*b); }, 30.0) &&
                writes == emulator.count("files/upload") + emulator.count("files/delete_v2") &&
                before == setbacks())
                return true;
        }
        return false;
    }

    // The most requests `which` picks in any minute that starts between `from` and `to - 60`
    // (scheduler time).
    int busiestMinute(const std::function<bool(const DropboxEmulator::LoggedRequest&)>& which, double from,
                      double to) const
    {
        std::vector<double> times;
        for (const DropboxEmulator::LoggedRequest& request : emulator.requests())
            if (which(request))
                times.push_back(request.at);
        return busiestMinuteOf(std::move(times), from, to);
    }

    // Dropbox's documents with their root texts.
    DocumentDump remoteDump()
    {
        auto listed = responses<ListFolderResponse>();
        client->listFolderContents(QString(), log.completion(listed));
        DocumentDump texts;
        if (!settle(listed) || listed->front().result != 0)
            return texts;
        for (const FileMetadata& entry : *listed->front().entries)
            if (entry.path.endsWith(QStringLiteral(".crvx")))
                if (const auto file = emulator.file(entry.path))
                    texts[QStringLiteral("dropbox:") + entry.path] = rootTextOf(file->content);
        return texts;
    }

    // After a conflict over `id`: Dropbox holds `kept` under its name and `copy` as a document
    // of its own, nothing else, and both machines show the same.
    void expectConflictKept(const QString& id, const QString& kept, const QString& copy)
    {
        const DocumentDump remote = remoteDump();
        EXPECT_EQ(textsOf(remote), (QStringList{kept, copy}));
        EXPECT_EQ(remote.count(id) ? remote.at(id) : QString(), kept);
        EXPECT_EQ(a->dump(), remote);
        EXPECT_EQ(b->dump(), remote);
    }

    std::unique_ptr<DropboxMachine> a;
    std::unique_ptr<DropboxMachine> b;

private:
    Globals::WallClock mOldClock;
};

} // namespace corvex::test
