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
