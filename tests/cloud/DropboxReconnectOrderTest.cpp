// After every reconnect the Dropbox location lists the folder first and then fetches what the
// listing asks for, whatever brought the connection back. A document edited offline after
// another machine deleted it on Dropbox shows why: its upload must not go out over the
// revision it started from before a listing has told of the deletion. Seeded runs vary how the
// connection goes and comes back, how long it stays away, and whether another machine also
// added a document meanwhile (which is then fetched before the edit goes up).

#include "tests/cloud/DropboxMachineSupport.h"

#include <random>

namespace corvex::test {

namespace {

enum class Road
{
    // The reachability check finds no way to Dropbox, and later finds it again.
    Check,
    // The check finds no way while a listing is on its way; the listing's answer comes after
    // the edit and is what says the connection works.
    LateAnswer,
    // Every request fails, the check too, until the service is back.
    FailedRequests,
};

struct ReconnectRun
{
    Road road;
    double offlineSeconds;
    bool anotherDocumentArrives;
};

// By Road.
const char* const RoadNames[] = {"the check", "a late answer", "failed requests"};

ReconnectRun reconnectRun(int seed)
{
    std::mt19937 random(unsigned(seed) * 7919u + 17u);
    const Road roads[] = {Road::Check, Road::LateAnswer, Road::FailedRequests};
    ReconnectRun run;
    run.road = roads[std::uniform_int_distribution<int>(0, 2)(random)];
    run.offlineSeconds = std::uniform_real_distribution<double>(0.0, 40.0)(random);
    run.anotherDocumentArrives = std::bernoulli_distribution(0.5)(random);
    return run;
}

constexpr int ReconnectSeeds = 20;

} // namespace

class DropboxReconnectOrderTest : public DropboxMachinesFixture, public ::testing::WithParamInterface<int>
{
protected:
    // Takes machine A off Dropbox the run's way.
    void goOffline(Road road)
    {
        ScriptedReachability& check = *a->reachability;
        const auto offline = [&] { return !a->mode->state().perhapsDropboxConnection; };
        switch (road) {
        case Road::Check:
            check.reachable = false;
            EXPECT_TRUE(pumpDropbox(offline, 60.0));
            break;
        case Road::FailedRequests:
            emulator.setOutage(DropboxEmulator::Fault::Drop);
            check.reachable = false;
            EXPECT_TRUE(pumpDropbox(offline, 60.0));
            break;
        case Road::LateAnswer: {
            check.holding = true;
            EXPECT_TRUE(pumpDropbox([&] { return bool(check.held); }, 60.0));
            const int listings = emulator.count("files/list_folder");
            // The poll's listing has been answered at Dropbox, and its answer is on its way.
            EXPECT_TRUE(pumpDropbox([&] { return emulator.count("files/list_folder") > listings; }, 60.0));
            check.holding = false;
            check.reachable = false;
            EXPECT_TRUE(check.answerHeld(false));
            break;
        }
        }
    }

    void comeBack()
    {
        emulator.setOutage(std::nullopt);
        a->reachability->reachable = true;
    }
};

TEST_P(DropboxReconnectOrderTest, TheListingComesBeforeTheOfflineEdit)
{
    const ReconnectRun run = reconnectRun(GetParam());
    SCOPED_TRACE(QStringLiteral("offline by %1 for %2 s, %3")
                     .arg(QLatin1String(RoadNames[int(run.road)]))
                     .arg(run.offlineSeconds, 0, 'f', 1)
                     .arg(run.anotherDocumentArrives ? QStringLiteral("another document arrives")
                                                     : QStringLiteral("nothing else changes"))
                     .toStdString());
    a->start();
    const QString id = a->create(QStringLiteral("start"));
    ASSERT_FALSE(id.isEmpty());
    ASSERT_TRUE(converge());
    const QString path = id.mid(QStringLiteral("dropbox:").size());

    const QByteArray bytes = emulator.file(path)->content;
    // A window holds the document while the connection goes; its save is queued before the
    // main loop runs again, so before a late answer is taken in.
    const auto [document, token] = a->open(id);
    ASSERT_GE(token, 1);

    goOffline(run.road);
    // Requests logged from here on were answered after the deletion.
    const std::size_t deletedAtRequest = emulator.requests().size();
    ASSERT_TRUE(emulator.remove(path));
    const QString arrived = QStringLiteral("/arrived.crvx");
    if (run.anotherDocumentArrives)
        emulator.putFile(arrived, bytes);
    ASSERT_TRUE(a->save(document, token, QStringLiteral("edited offline")));
    a->workspace->closeDocument(document, token, {});
    pass(run.offlineSeconds);
    comeBack();
    pass(600.0);
    ASSERT_TRUE(converge());

    // Counted at Dropbox, in the order it answered: after the deletion, a listing comes first,
    // then the download of what arrived, then the edit, uploaded as a new file.
    const std::vector<DropboxEmulator::LoggedRequest> requests = emulator.requests();
    std::optional<std::size_t> listing, download, upload;
    for (std::size_t i = deletedAtRequest; i < requests.size(); ++i) {
        const DropboxEmulator::LoggedRequest& request = requests[i];
        if (request.route == "files/list_folder" && request.status == 200 && !listing)
            listing = i;
        if (request.route == "files/download" && request.argument.contains(arrived.toUtf8()) && !download)
            download = i;
        if (request.route == "files/upload" && request.argument.contains(path.toUtf8()) && !upload)
            upload = i;
    }
    ASSERT_TRUE(upload.has_value()) << "the offline edit never went up";
    ASSERT_TRUE(listing.has_value()) << "no listing after the reconnect";
    EXPECT_LT(*listing, *upload) << "the edit went up before the listing";
    if (run.anotherDocumentArrives) {
        ASSERT_TRUE(download.has_value());
        EXPECT_LT(*download, *upload) << "the edit went up before what the listing asked for";
    }
    EXPECT_FALSE(requests[*upload].argument.contains("update"))
        << "uploaded over a stale revision: " << requests[*upload].argument.toStdString();
    DocumentDump expected{{id, QStringLiteral("edited offline")}};
    if (run.anotherDocumentArrives)
        expected.emplace(QStringLiteral("dropbox:") + arrived, QStringLiteral("start"));
    EXPECT_EQ(remoteDump(), expected);
    EXPECT_EQ(a->dump(), expected);
}

INSTANTIATE_TEST_SUITE_P(Seeds, DropboxReconnectOrderTest, ::testing::Range(0, ReconnectSeeds));

} // namespace corvex::test

namespace corvex::test {

namespace {

struct WaitedOutage
{
    const char* name;
    DropboxEmulator::Fault fault;
    double seconds; // how long the service stays away: always longer than a reconnect's 5 s
};

const WaitedOutage WaitedOutages[] = {
    {"503 for 6 s", DropboxEmulator::Fault::Status503, 6.0},
    {"500 for 13 s", DropboxEmulator::Fault::Status500, 13.0},
    {"429 for 9 s", DropboxEmulator::Fault::Status429, 9.0},
};

void PrintTo(const WaitedOutage& outage, std::ostream* out)
{
    *out << outage.name;
}

} // namespace

// The service fails while A's offline edit is on its way, in a way the account client would
// wait out (server errors, rate limits), and comes back after more than 5 s without data; B
// changes a document and adds one meanwhile. A lists and downloads both before anything of
// its own goes up: the upload is not repeated behind the loop's back once the connection is
// back.
class DropboxWaitedOutageOrderTest : public DropboxMachinesFixture,
                                     public ::testing::WithParamInterface<WaitedOutage>
{};

TEST_P(DropboxWaitedOutageOrderTest, NothingGoesUpBeforeTheListingAndItsDownloads)
{
    const WaitedOutage outage = GetParam();
    emulator.addAccessToken(QStringLiteral("tokenA"));
    a = std::make_unique<DropboxMachine>(QStringLiteral("ownA"), makeUser(QStringLiteral("tokenA")));
    a->start();
    b->start();
    const QString mine = a->create(QStringLiteral("mine"));
    const QString theirs = a->create(QStringLiteral("theirs"));
    ASSERT_TRUE(converge());

    emulator.setOutage(outage.fault);
    const std::size_t from = emulator.requests().size();
    ASSERT_TRUE(a->edit(mine, QStringLiteral("mine, edited offline")));
    // Another machine's changes land while A cannot reach the service.
    const QString added = QStringLiteral("/added.crvx");
    emulator.putFile(added, emulator.file(theirs.mid(8))->content);
    emulator.putFile(theirs.mid(8), emulator.file(mine.mid(8))->content);
    pass(outage.seconds);
    emulator.setOutage(std::nullopt);
    ASSERT_TRUE(converge());

    // A's requests the service took, in the order it took them.
    std::vector<DropboxEmulator::LoggedRequest> taken;
    const std::vector<DropboxEmulator::LoggedRequest> requests = emulator.requests();
    for (std::size_t i = from; i < requests.size(); ++i)
        if (requests[i].authorization == "Bearer tokenA" && requests[i].status == 200 && !requests[i].cut)
            taken.push_back(requests[i]);
    const auto first = [&](const QByteArray& route, const QString& path) {
        const auto found = std::find_if(taken.begin(), taken.end(), [&](const auto& request) {
            return request.route == route && (path.isEmpty() || request.argument.contains(path.toUtf8()));
        });
        return std::size_t(found - taken.begin());
    };
    const std::size_t listing = first("files/list_folder", QString());
    const std::size_t upload = first("files/upload", QString());
    ASSERT_LT(upload, taken.size()) << "the offline edit never went up";
    ASSERT_LT(listing, upload) << "went up before the listing: " << taken[upload].argument.toStdString();
    EXPECT_LT(first("files/download", added), upload) << "went up before the new document came";
    EXPECT_LT(first("files/download", theirs.mid(8)), upload) << "went up before the change came";
    const DocumentDump expected{{mine, QStringLiteral("mine, edited offline")},
                                {theirs, QStringLiteral("mine")},
                                {QStringLiteral("dropbox:") + added, QStringLiteral("theirs")}};
    EXPECT_EQ(remoteDump(), expected);
    EXPECT_EQ(a->dump(), expected);
    EXPECT_EQ(b->dump(), expected);
}

// The same road, the document deleted on Dropbox meanwhile: once the listing has told of the
// deletion, the offline edit goes up as a new file ("add"), never over its old revision.
TEST_P(DropboxWaitedOutageOrderTest, ADocumentDeletedMeanwhileGoesUpAsANewFile)
{
    const WaitedOutage outage = GetParam();
    a->start();
    const QString id = a->create(QStringLiteral("start"));
    ASSERT_TRUE(converge());
    const int uploads = emulator.count("files/upload");

    emulator.setOutage(outage.fault);
    ASSERT_TRUE(a->edit(id, QStringLiteral("edited offline")));
    ASSERT_TRUE(emulator.remove(id.mid(8)));
    pass(outage.seconds);
    emulator.setOutage(std::nullopt);
    ASSERT_TRUE(converge());

    bool wentUp = false;
    const auto sent = emulator.requests("files/upload");
    for (std::size_t i = std::size_t(uploads); i < sent.size(); ++i) {
        if (sent[i].status != 200 || !sent[i].argument.contains(id.mid(8).toUtf8()))
            continue;
        wentUp = true;
        EXPECT_TRUE(sent[i].argument.contains("\"mode\":\"add\"")) << sent[i].argument.toStdString();
    }
    EXPECT_TRUE(wentUp);
    const DocumentDump expected{{id, QStringLiteral("edited offline")}};
    EXPECT_EQ(remoteDump(), expected);
    EXPECT_EQ(a->dump(), expected);
}

INSTANTIATE_TEST_SUITE_P(Outages, DropboxWaitedOutageOrderTest, ::testing::ValuesIn(WaitedOutages),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

} // namespace corvex::test
