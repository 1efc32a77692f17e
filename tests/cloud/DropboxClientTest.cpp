#include "tests/cloud/DropboxTestSupport.h"

#include "tests/support/TestFiles.h"

#include <QDir>
#include <QRandomGenerator>

namespace corvex::test {

namespace {

using Fault = DropboxEmulator::Fault;

struct Injection
{
    const char* name;
    std::optional<Fault> fault;
    int times;
};

struct RouteCase
{
    const char* name;
    QByteArray route;
};

} // namespace

class DropboxClientTest : public DropboxFixture
{
protected:
    // Runs one operation; answers its result code (a peek: 0 when answered, else 3).
    std::uint64_t run(const RouteCase& route)
    {
        const QString rev = emulator.putFile(QStringLiteral("/a.crvx"), "remote");
        const QString target = testDir() + QStringLiteral("/target.crvx");
        if (route.name == QLatin1String("list")) {
            auto into = responses<ListFolderResponse>();
            client->listFolderContents(QString(), log.completion(into));
            EXPECT_TRUE(settle(into));
            return into->empty() ? 99 : into->front().result;
        }
        if (route.name == QLatin1String("ensure")) {
            auto into = responses<EnsureFolderResponse>();
            client->ensureFolder(QStringLiteral("/attachments"), log.completion(into));
            EXPECT_TRUE(settle(into));
            return into->empty() ? 99 : into->front().result;
        }
        if (route.name == QLatin1String("upload")) {
            auto into = responses<UploadResponse>();
            client->uploadFile(localFile(QStringLiteral("up.crvx"), "local"), std::nullopt,
                               QStringLiteral("/up.crvx"), log.completion(into));
            EXPECT_TRUE(settle(into));
            return into->empty() ? 99 : into->front().result;
        }
        if (route.name == QLatin1String("download")) {
            auto into = responses<DownloadResponse>();
            client->downloadFile(QStringLiteral("/a.crvx"), target, log.completion(into));
            EXPECT_TRUE(settle(into));
            return into->empty() ? 99 : into->front().result;
        }
        if (route.name == QLatin1String("peek")) {
            auto into = responses<PeekFileResponse>();
            client->peekFile(QStringLiteral("/a.crvx"), log.completion(into));
            EXPECT_TRUE(settle(into));
            return into->empty() ? 99 : (into->front().success ? 0 : 3);
        }
        auto into = responses<DeleteResponse>();
        client->deleteFile(QStringLiteral("/a.crvx"), rev, log.completion(into));
        EXPECT_TRUE(settle(into));
        return into->empty() ? 99 : into->front().result;
    }
};

// Every route through every injected answer: the result, the notification and their order.
TEST_F(DropboxClientTest, EveryRouteThroughEveryInjectedAnswer)
{
    const RouteCase routes[] = {{"list", "files/list_folder"},  {"ensure", "files/create_folder_v2"},
                                {"upload", "files/upload"},     {"download", "files/download"},
                                {"peek", "files/get_metadata"}, {"delete", "files/delete_v2"}};
    // (The connection a hang-up or a reset meets was kept alive since the answer before.)
    const Injection injections[] = {
        {"answer", std::nullopt, 0},      {"hang up", Fault::HangUp, 1},   {"answer", std::nullopt, 0},
        {"reset", Fault::Reset, 1},       {"500", Fault::Status500, 4},    {"503", Fault::Status503, 4},
        {"429", Fault::Status429, 4},     {"401", Fault::Unauthorized, 1}, {"drop", Fault::Drop, 1},
        {"truncate", Fault::Truncate, 1}, {"stall", Fault::Stall, 1}};
    user = makeUser(QStringLiteral("good"), 0.5);
    client = std::make_unique<QVDropboxClient>(user);
    for (const RouteCase& route : routes) {
        for (const Injection& injection : injections) {
            SCOPED_TRACE(std::string(route.name) + " / " + injection.name);
            log.events.clear();
            if (injection.fault)
                emulator.injectFault(route.route, *injection.fault, injection.times);
            const int before = emulator.count(route.route);
            const std::uint64_t result = run(route);

            const bool ok = !injection.fault;
            const QString failureNote = injection.name == QLatin1String("401")
                                            ? QStringLiteral("note:InvalidAccessToken")
                                            : QStringLiteral("note:NoConnection");
            QStringList expected;
            if (route.name == QLatin1String("delete"))
                expected << QStringLiteral("note:GotSomeData"); // its peek
            if (ok)
                expected << QStringLiteral("note:GotSomeData");
            else if (route.name != QLatin1String("list") || injection.name == QLatin1String("401"))
                expected << failureNote; // a first page's failure is not noted, unless the token is refused
            expected << QStringLiteral("done");
            EXPECT_EQ(result, ok ? 0u : 3u);
            EXPECT_EQ(log.events, expected);
            // Retried answers were retried 3 times, others never.
            const int retried = injection.times == 4 ? 4 : 1;
            EXPECT_EQ(emulator.count(route.route) - before, retried) << "requests of the route";
            EXPECT_FALSE(QFileInfo::exists(testDir() + QStringLiteral("/.target.crvx.download")));
            emulator.remove(QStringLiteral("/attachments"));
            emulator.remove(QStringLiteral("/up.crvx"));
        }
    }
    EXPECT_FALSE(log.offMain);
    EXPECT_EQ(emulator.countWithStatus(400), 0);
}

// What each route tolerates: the result codes the location acts on, with no notification
// where the caller reads the answer itself.
TEST_F(DropboxClientTest, RouteOutcomesTheLocationActsOn)
{
    const QString rev = emulator.putFile(QStringLiteral("/doc.crvx"), "v1");
    emulator.makeFolder(QStringLiteral("/attachments"));

    auto lists = responses<ListFolderResponse>();
    client->listFolderContents(QStringLiteral("/missing"), log.completion(lists));
    ASSERT_TRUE(settle(lists));
    EXPECT_EQ(lists->front().result, DropboxResult::NotFound);
    EXPECT_FALSE(lists->front().entries.has_value());

    auto ensures = responses<EnsureFolderResponse>();
    client->ensureFolder(QStringLiteral("/attachments"), log.completion(ensures));
    ASSERT_TRUE(settle(ensures));
    EXPECT_EQ(ensures->front().result, DropboxResult::Done);
    client->ensureFolder(QStringLiteral("/doc.crvx"), log.completion(ensures)); // a file is in the way
    ASSERT_TRUE(settle(ensures, 2));
    EXPECT_EQ(ensures->back().result, DropboxResult::Failed);

    auto uploads = responses<UploadResponse>();
    client->uploadFile(localFile(QStringLiteral("x"), "v2"), QStringLiteral("0000000000ff"),
                       QStringLiteral("/doc.crvx"), log.completion(uploads));
    ASSERT_TRUE(settle(uploads));
    EXPECT_EQ(uploads->front().result, DropboxResult::Conflict);
    EXPECT_FALSE(uploads->front().rev.has_value());
    client->uploadFile(localFile(QStringLiteral("x"), "v2"), rev, QStringLiteral("/doc.crvx"),
                       log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 2));
    EXPECT_EQ(uploads->back().result, DropboxResult::Done);
    const QString rev2 = *uploads->back().rev;
    EXPECT_NE(rev2, rev);
    EXPECT_EQ(emulator.file(QStringLiteral("/doc.crvx"))->content, QByteArray("v2"));

    auto downloads = responses<DownloadResponse>();
    client->downloadFile(QStringLiteral("/gone.crvx"), testDir() + QStringLiteral("/t"),
                         log.completion(downloads));
    ASSERT_TRUE(settle(downloads));
    EXPECT_EQ(downloads->front().result, DropboxResult::NotFound);

    auto peeks = responses<PeekFileResponse>();
    client->peekFile(QStringLiteral("/gone.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks));
    client->peekFile(QStringLiteral("/attachments"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 2));
    EXPECT_TRUE(peeks->at(0).success);
    EXPECT_FALSE(peeks->at(0).rev.has_value());
    EXPECT_FALSE(peeks->at(1).success); // a folder is no file

    const QStringList expected = {QStringLiteral("done"), // missing folder
                                  QStringLiteral("note:GotSomeData"),
                                  QStringLiteral("done"), // folder there
                                  QStringLiteral("done"), // a file there: refused, the connection works
                                  QStringLiteral("done"), // upload conflict
                                  QStringLiteral("note:GotSomeData"),
                                  QStringLiteral("done"), // upload
                                  QStringLiteral("done"), // download missing
                                  QStringLiteral("done"),
                                  QStringLiteral("note:GotSomeData"),
                                  QStringLiteral("done")}; // peeks
    EXPECT_EQ(log.events, expected);

    // The write modes: a missing target is written even over a revision, identical content is
    // a no-op that answers the existing revision, a folder always conflicts.
    client->uploadFile(localFile(QStringLiteral("x"), "new"), QStringLiteral("0000000000ff"),
                       QStringLiteral("/id1_2.crvx"), log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 3));
    EXPECT_EQ(uploads->back().result, DropboxResult::Done);
    client->uploadFile(localFile(QStringLiteral("x"), "v2"), QStringLiteral("0000000000ff"),
                       QStringLiteral("/doc.crvx"), log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 4));
    EXPECT_EQ(uploads->back().result, DropboxResult::Done);
    EXPECT_EQ(uploads->back().rev, rev2);
    client->uploadFile(localFile(QStringLiteral("x"), "v2"), std::nullopt, QStringLiteral("/attachments"),
                       log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 5));
    EXPECT_EQ(uploads->back().result, DropboxResult::Conflict);
    // A download where a folder stands says so, without a word about the connection.
    log.events.clear();
    client->downloadFile(QStringLiteral("/attachments"), testDir() + QStringLiteral("/t"),
                         log.completion(downloads));
    ASSERT_TRUE(settle(downloads, 2));
    EXPECT_EQ(downloads->back().result, DropboxResult::Failed);
    EXPECT_TRUE(downloads->back().folderAtPath);
    EXPECT_FALSE(downloads->front().folderAtPath);
    EXPECT_EQ(log.events, QStringList{QStringLiteral("done")});

    // Deletion: a missing file is gone after one peek; a wrong or absent revision refuses.
    auto deletes = responses<DeleteResponse>();
    client->deleteFile(QStringLiteral("/gone.crvx"), QStringLiteral("abc"), log.completion(deletes));
    ASSERT_TRUE(settle(deletes, 1));
    client->deleteFile(QStringLiteral("/doc.crvx"), rev, log.completion(deletes));
    ASSERT_TRUE(settle(deletes, 2));
    client->deleteFile(QStringLiteral("/doc.crvx"), std::nullopt, log.completion(deletes));
    ASSERT_TRUE(settle(deletes, 3));
    EXPECT_EQ(deletes->at(0).result, DropboxResult::Done);
    EXPECT_EQ(deletes->at(1).result, DropboxResult::Conflict);
    EXPECT_EQ(deletes->at(2).result, DropboxResult::Conflict);
    EXPECT_EQ(emulator.count("files/delete_v2"), 0);

    // Another machine's change landing between the peek and the deletion is refused, not lost.
    const auto token = NotificationCenter::defaultCenter().addObserver(
        QVDropboxClient::GotSomeDataNotification, nullptr, [this](const NotificationCenter::Notification&) {
            emulator.putFile(QStringLiteral("/doc.crvx"), "v3");
        });
    client->deleteFile(QStringLiteral("/doc.crvx"), rev2, log.completion(deletes));
    ASSERT_TRUE(settle(deletes, 4));
    NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_EQ(deletes->at(3).result, DropboxResult::Conflict);
    ASSERT_TRUE(emulator.file(QStringLiteral("/doc.crvx")).has_value());
    EXPECT_EQ(emulator.file(QStringLiteral("/doc.crvx"))->content, QByteArray("v3"));
    const auto sent = emulator.requests("files/delete_v2");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent.front().argument.contains("\"parent_rev\":\"" + rev2.toUtf8() + "\""));

    const QString rev3 = emulator.file(QStringLiteral("/doc.crvx"))->rev;
    client->deleteFile(QStringLiteral("/doc.crvx"), rev3, log.completion(deletes));
    ASSERT_TRUE(settle(deletes, 5));
    EXPECT_EQ(deletes->at(4).result, DropboxResult::Done);
    EXPECT_FALSE(emulator.file(QStringLiteral("/doc.crvx")).has_value());
    EXPECT_EQ(emulator.countWithStatus(400), 0);
}

// A listing of three pages is one completion with every file in order and one notification;
// a continuation that fails answers 3, with the failure noted when no answer came.
TEST_F(DropboxClientTest, PagedListingAndFailedContinuation)
{
    emulator.setPageSize(2);
    for (const char* name : {"/e.crvx", "/a.crvx", "/D.crvx", "/b.crvx", "/c.crvx"})
        emulator.putFile(QString::fromLatin1(name), name);
    emulator.makeFolder(QStringLiteral("/attachments"));

    auto lists = responses<ListFolderResponse>();
    client->listFolderContents(QString(), log.completion(lists));
    ASSERT_TRUE(settle(lists));
    ASSERT_EQ(lists->front().result, DropboxResult::Done);
    QStringList paths;
    for (const FileMetadata& entry : *lists->front().entries)
        paths << entry.path;
    EXPECT_EQ(paths,
              QStringList({QStringLiteral("/a.crvx"), QStringLiteral("/b.crvx"), QStringLiteral("/c.crvx"),
                           QStringLiteral("/d.crvx"), QStringLiteral("/e.crvx")}));
    EXPECT_EQ(emulator.count("files/list_folder/continue"), 2);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("note:GotSomeData"), QStringLiteral("done")}));
    EXPECT_EQ(lists->front().description(), QStringLiteral("{ListFolderResponse: result=0 entries=5}"));

    log.events.clear();
    emulator.injectFault("files/list_folder/continue", Fault::Drop);
    client->listFolderContents(QString(), log.completion(lists));
    ASSERT_TRUE(settle(lists, 2));
    EXPECT_EQ(lists->back().result, DropboxResult::Failed);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("note:NoConnection"), QStringLiteral("done")}));

    // A cursor the service no longer knows ends the listing too; the service answered, so the
    // connection is not in doubt.
    log.events.clear();
    emulator.injectFault("files/list_folder/continue", Fault::CursorReset);
    client->listFolderContents(QString(), log.completion(lists));
    ASSERT_TRUE(settle(lists, 3));
    EXPECT_EQ(lists->back().result, DropboxResult::Failed);
    EXPECT_FALSE(lists->back().entries.has_value());
    EXPECT_EQ(log.events, QStringList({QStringLiteral("done")}));
}

// A download cut mid-body, or cut short under a Content-Length that agrees with what came,
// leaves the old target bytes and no temporary file; a complete one replaces them and answers
// the revision.
TEST_F(DropboxClientTest, CutDownloadKeepsTheOldFile)
{
    const QString rev = emulator.putFile(QStringLiteral("/pic.png"), QByteArray(100000, 'n'));
    const QString target = testDir() + QStringLiteral("/pic.png");
    writeFile(target, "old bytes");

    auto downloads = responses<DownloadResponse>();
    int asked = 0;
    for (const Fault fault : {Fault::Truncate, Fault::ShortBody}) {
        log.events.clear();
        emulator.injectFault("files/download", fault);
        client->downloadFile(QStringLiteral("/pic.png"), target, log.completion(downloads));
        ASSERT_TRUE(settle(downloads, ++asked));
        EXPECT_EQ(downloads->back().result, DropboxResult::Failed);
        // A body that came whole on the wire and does not match is the download's failure: the
        // connection is not in question.
        EXPECT_EQ(downloads->back().damaged, fault == Fault::ShortBody);
        EXPECT_EQ(log.events.contains(QStringLiteral("note:NoConnection")), fault != Fault::ShortBody);
        EXPECT_EQ(readFile(target), QByteArray("old bytes"));
        EXPECT_EQ(QDir(testDir()).entryList(QDir::Files | QDir::Hidden),
                  QStringList({QStringLiteral("pic.png")}));
    }

    client->downloadFile(QStringLiteral("/pic.png"), target, log.completion(downloads));
    ASSERT_TRUE(settle(downloads, ++asked));
    EXPECT_EQ(downloads->back().result, DropboxResult::Done);
    EXPECT_EQ(downloads->back().rev, rev);
    EXPECT_EQ(readFile(target), QByteArray(100000, 'n'));
    EXPECT_EQ(QDir(testDir()).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("pic.png")}));
    const auto sent = emulator.requests("files/download");
    ASSERT_FALSE(sent.empty());
    EXPECT_FALSE(sent.back().hasContentType) << sent.back().contentType.constData();
}

// Without an account nothing is sent: every operation answers 3 (a peek: no success) with no
// notification beyond the one that says there is no valid token.
TEST_F(DropboxClientTest, WithoutAnAccountEveryOperationFailsQuietly)
{
    log.events.clear();
    QVDropboxClient signedOut{std::shared_ptr<DropboxUserClient>()};
    auto lists = responses<ListFolderResponse>();
    auto ensures = responses<EnsureFolderResponse>();
    auto uploads = responses<UploadResponse>();
    auto downloads = responses<DownloadResponse>();
    auto peeks = responses<PeekFileResponse>();
    auto deletes = responses<DeleteResponse>();
    signedOut.listFolderContents(QString(), log.completion(lists));
    signedOut.ensureFolder(QStringLiteral("/attachments"), log.completion(ensures));
    signedOut.uploadFile(localFile(QStringLiteral("u"), "u"), std::nullopt, QStringLiteral("/u"),
                         log.completion(uploads));
    signedOut.downloadFile(QStringLiteral("/u"), testDir() + QStringLiteral("/d"), log.completion(downloads));
    signedOut.peekFile(QStringLiteral("/u"), log.completion(peeks));
    signedOut.deleteFile(QStringLiteral("/u"), QStringLiteral("r"), log.completion(deletes));
    ASSERT_TRUE(settle(deletes));
    EXPECT_EQ(lists->front().result, 3u);
    EXPECT_EQ(ensures->front().result, 3u);
    EXPECT_EQ(uploads->front().result, 3u);
    EXPECT_EQ(downloads->front().result, 3u);
    EXPECT_FALSE(peeks->front().success);
    EXPECT_EQ(deletes->front().result, 3u);
    EXPECT_EQ(log.events.count(QStringLiteral("note:InvalidAccessToken")), 1);
    EXPECT_EQ(log.events.size(), 7);
    EXPECT_TRUE(emulator.requests().empty());
}

// An expired token is refreshed once (the new one saved) and the call goes through.
TEST_F(DropboxClientTest, ExpiredTokenIsRefreshedOnce)
{
    emulator.putFile(QStringLiteral("/a.crvx"), "a");
    emulator.expireAccessToken(QStringLiteral("good"));
    auto peeks = responses<PeekFileResponse>();
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 2));
    EXPECT_TRUE(peeks->at(0).success);
    EXPECT_TRUE(peeks->at(1).success);
    EXPECT_EQ(emulator.count("oauth2/token"), 1);
    ASSERT_EQ(emulator.issuedAccessTokens().size(), 1u);
    const QString fresh = emulator.issuedAccessTokens().front();
    EXPECT_EQ(user->credentials().accessToken, fresh);
    EXPECT_EQ(DropboxTokenStore(testDir() + QStringLiteral("/credentials.json")).load()->accessToken, fresh);

    // A refresh that meets a server error (or no answer) says nothing of the token: the call
    // fails as the connection's failure, and the next call refreshes.
    emulator.expireAccessToken(fresh);
    emulator.injectFault("oauth2/token", Fault::Status503);
    log.events.clear();
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 3));
    EXPECT_FALSE(peeks->back().success);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("note:NoConnection"), QStringLiteral("done")}));
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 4));
    EXPECT_TRUE(peeks->back().success);
    EXPECT_EQ(emulator.count("oauth2/token"), 3);

    // A token that is invalid (not expired) is not refreshed: the failure is the caller's.
    auto stranger = std::make_unique<QVDropboxClient>(makeUser(QStringLiteral("stranger")));
    log.events.clear();
    stranger->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 5));
    EXPECT_FALSE(peeks->back().success);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("note:InvalidAccessToken"), QStringLiteral("done")}));
    EXPECT_EQ(emulator.count("oauth2/token"), 3);
}

// The rate limit held for 10 virtual minutes with Retry-After 30: the waiting call makes at
// most 4 requests, none sooner than 30 s after the one before, then answers 3; once the
// limit lifts the next call succeeds. Server errors wait 2, 4, 8 s, and the next call waits
// on from there.
TEST_F(DropboxClientTest, RateLimitIsWaitedOutThenReported)
{
    emulator.putFile(QStringLiteral("/a.crvx"), "a");
    emulator.setRateLimit(30);
    const double start = time.now();
    auto peeks = responses<PeekFileResponse>();
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks));
    EXPECT_FALSE(peeks->front().success);
    const auto sent = emulator.requests("files/get_metadata");
    ASSERT_EQ(sent.size(), 4u);
    for (std::size_t i = 1; i < sent.size(); ++i)
        EXPECT_GE(sent[i].at - sent[i - 1].at, 30.0 - 1e-6) << "request " << i;
    time.advance(std::max(0.0, start + 600.0 - time.now()));
    EXPECT_EQ(emulator.requests("files/get_metadata").size(), sent.size());

    emulator.setRateLimit(0);
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 2));
    EXPECT_TRUE(peeks->back().success);

    // 5xx answers wait 2, 4 and 8 s before the call gives up.
    emulator.injectFault("files/get_metadata", Fault::Status503, 4);
    const std::size_t before = emulator.requests("files/get_metadata").size();
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 3));
    const auto retried = emulator.requests("files/get_metadata");
    ASSERT_EQ(retried.size(), before + 4);
    EXPECT_NEAR(retried[before + 1].at - retried[before].at, 2.0, 1e-6);
    EXPECT_NEAR(retried[before + 2].at - retried[before + 1].at, 4.0, 1e-6);
    EXPECT_NEAR(retried[before + 3].at - retried[before + 2].at, 8.0, 1e-6);

    // Its repeats and the next call count against one budget: the fourth failure in a row holds
    // every request of the account 16 s, the next call's too.
    emulator.injectFault("files/get_metadata", Fault::Status503);
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 4));
    const auto next = emulator.requests("files/get_metadata");
    ASSERT_EQ(next.size(), before + 6);
    EXPECT_NEAR(next[before + 4].at - next[before + 3].at, 16.0, 1e-6);
    EXPECT_NEAR(next[before + 5].at - next[before + 4].at, 32.0, 1e-6);
    EXPECT_TRUE(peeks->back().success);
}

// Seeded uploads of 0 B to 1 MiB under names with non-ASCII and 0x7F come back byte for byte;
// no request is refused as malformed and the content hashes match Python's.
TEST_F(DropboxClientTest, UploadsComeBackByteForByte)
{
    const int count = heavyScale(500, 60);
    QRandomGenerator random(31);
    const QString folder = testDir() + QStringLiteral("/uploads");
    QDir().mkpath(folder);
    std::vector<QByteArray> contents;
    std::vector<QString> names;
    for (int i = 0; i < count; ++i) {
        const int size = i == 0 ? 0 : (i % 50 == 0 ? 1024 * 1024 : int(random.bounded(64 * 1024)));
        std::vector<quint32> words(std::size_t(size / 4 + 1));
        random.fillRange(words.data(), qsizetype(words.size()));
        const QByteArray bytes(reinterpret_cast<const char*>(words.data()), size);
        contents.push_back(bytes);
        names.push_back(QStringLiteral("/n%1 é\u007f😀ß.bin").arg(i));
        writeFile(folder + QStringLiteral("/%1.bin").arg(i), bytes);
    }
    // In batches: the session runs a batch's transfers side by side.
    std::vector<UploadResponse> uploaded(static_cast<std::size_t>(count));
    std::vector<DownloadResponse> downloaded(static_cast<std::size_t>(count));
    int answered = 0;
    constexpr int Batch = 8;
    for (int first = 0; first < count; first += Batch) {
        const int last = std::min(count, first + Batch);
        for (int i = first; i < last; ++i)
            client->uploadFile(folder + QStringLiteral("/%1.bin").arg(i), std::nullopt, names[std::size_t(i)],
                               [&, i](const UploadResponse& r) { uploaded[std::size_t(i)] = r, ++answered; });
        ASSERT_TRUE(runUntil([&] { return answered == first + last; }, 60.0));
        for (int i = first; i < last; ++i)
            client->downloadFile(
                names[std::size_t(i)], folder + QStringLiteral("/%1.back").arg(i),
                [&, i](const DownloadResponse& r) { downloaded[std::size_t(i)] = r, ++answered; });
        ASSERT_TRUE(runUntil([&] { return answered == last * 2; }, 60.0));
    }
    QStringList hashes;
    for (int i = 0; i < count; ++i) {
        const std::size_t at = std::size_t(i);
        ASSERT_EQ(uploaded[at].result, DropboxResult::Done) << i;
        ASSERT_EQ(downloaded[at].result, DropboxResult::Done) << i;
        ASSERT_EQ(downloaded[at].rev, uploaded[at].rev) << i;
        ASSERT_EQ(readFile(folder + QStringLiteral("/%1.back").arg(i)), contents[at]) << i;
        const auto stored = emulator.file(names[at]);
        ASSERT_TRUE(stored.has_value()) << i;
        EXPECT_EQ(stored->pathDisplay, names[at]);
        hashes << folder + QStringLiteral("/%1.bin ").arg(i) + DropboxEmulator::contentHash(stored->content);
    }
    EXPECT_EQ(emulator.countWithStatus(400), 0);

    // Python computes the service's hash of every uploaded file.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {dropboxScript(QStringLiteral("dropbox_content_hash.py"))});
    ASSERT_TRUE(python.waitForStarted());
    for (const QString& line : hashes)
        python.write(line.section(QLatin1Char(' '), 0, 0).toUtf8() + '\n');
    python.closeWriteChannel();
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
    const QStringList computed =
        QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(computed, hashes);
}

} // namespace corvex::test
