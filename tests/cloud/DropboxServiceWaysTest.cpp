// How the Dropbox client reads what the service answers when the request was malformed, and
// what it does when the service does what it only sometimes does: stalls, expiring cursors,
// changes between listing pages, listings in any order, another writer at once, a full
// account, access tokens that expire with time.

#include "platform/net/UrlError.h"
#include "tests/cloud/DropboxTestSupport.h"
#include "tests/support/TestFiles.h"

#include <QDir>

namespace corvex::test {

namespace {

QStringList pathsOf(const ListFolderResponse& listing)
{
    QStringList paths;
    for (const FileMetadata& entry : listing.entries.value_or(std::vector<FileMetadata>()))
        paths << entry.path;
    return paths;
}

} // namespace

using DropboxServiceWaysTest = DropboxFixture;

// An answer that stalls past the client's time-out ends on the client's side: the emulator
// holds it until the client hangs up. The peek fails with the failure noted; a download leaves
// its target alone.
TEST_F(DropboxServiceWaysTest, AStalledAnswerEndsWithTheClientsTimeout)
{
    user = makeUser(QStringLiteral("good"), 0.3);
    client = std::make_unique<QVDropboxClient>(user);
    emulator.putFile(QStringLiteral("/a.crvx"), "remote");

    emulator.injectFault("files/get_metadata", DropboxEmulator::Fault::Stall);
    std::optional<DropboxRequestAnswer> raw;
    user->rpc(QStringLiteral("files/get_metadata"), R"({"path":"/a.crvx"})",
              [&raw](const DropboxRequestAnswer& answer) { raw = answer; });
    ASSERT_TRUE(runUntil([&] { return emulator.stalledAnswers() == 1; }));
    ASSERT_TRUE(runUntil([&] { return raw.has_value(); }));
    EXPECT_EQ(raw->transportError.domain(), UrlError::Domain);
    EXPECT_EQ(raw->transportError.code(), int(UrlError::TimedOut));
    // The emulator saw the client go; it did not end the answer itself.
    EXPECT_TRUE(runUntil([&] { return emulator.stalledAnswers() == 0; }));

    emulator.injectFault("files/get_metadata", DropboxEmulator::Fault::Stall);
    auto peeks = responses<PeekFileResponse>();
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks));
    EXPECT_FALSE(peeks->front().success);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("note:NoConnection"), QStringLiteral("done")}));

    const QString target = localFile(QStringLiteral("a.crvx"), "local");
    emulator.injectFault("files/download", DropboxEmulator::Fault::Stall);
    auto downloads = responses<DownloadResponse>();
    client->downloadFile(QStringLiteral("/a.crvx"), target, log.completion(downloads));
    ASSERT_TRUE(settle(downloads));
    EXPECT_EQ(downloads->front().result, DropboxResult::Failed);
    EXPECT_EQ(readFile(target), QByteArray("local"));
    EXPECT_EQ(
        QDir(testDir()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".download")).size(), 0);
    EXPECT_TRUE(runUntil([&] { return emulator.stalledAnswers() == 0; }));
}

// A request the service refuses as malformed (400) is a failure: never a conflict (which the
// location would turn into a conflict copy) and never "not found" (which it would take for a
// deletion on Dropbox). The same for malformed paths, names the service will not store and
// uploads above its limit (409s that are none of the two).
TEST_F(DropboxServiceWaysTest, RefusedRequestsAreFailuresNotConflictsOrAbsences)
{
    const QString rev = emulator.putFile(QStringLiteral("/a.crvx"), "remote");
    emulator.makeFolder(QStringLiteral("/attachments"));
    emulator.setUploadLimit(1000);
    const QString upload = localFile(QStringLiteral("up"), "local");

    auto uploads = responses<UploadResponse>();
    for (const auto& [badRev, path] :
         std::vector<std::pair<QString, QString>>{{QStringLiteral("not-a-rev"), QStringLiteral("/a.crvx")},
                                                  {rev.toUpper(), QStringLiteral("/a.crvx")},
                                                  {rev, QStringLiteral("a.crvx")}}) {
        client->uploadFile(upload, badRev, path, log.completion(uploads));
        ASSERT_TRUE(settle(uploads, uploads->size() + 1));
    }
    client->uploadFile(upload, std::nullopt, QStringLiteral("/attachments/"), log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 4));
    client->uploadFile(upload, std::nullopt, QStringLiteral("/attachments/.DS_Store"),
                       log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 5));
    client->uploadFile(localFile(QStringLiteral("big"), QByteArray(2000, 'b')), std::nullopt,
                       QStringLiteral("/big.bin"), log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 6));
    for (const UploadResponse& response : *uploads) {
        EXPECT_EQ(response.result, DropboxResult::Failed);
        EXPECT_FALSE(response.rev.has_value());
    }
    // Refusals the service answered: the connection is not in doubt.
    EXPECT_EQ(log.events.count(QStringLiteral("note:NoConnection")), 0);
    EXPECT_EQ(log.events.count(QStringLiteral("done")), 6);

    auto peeks = responses<PeekFileResponse>();
    client->peekFile(QStringLiteral("a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks));
    client->peekFile(QStringLiteral("/a.crvx/"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 2));
    for (const PeekFileResponse& peek : *peeks)
        EXPECT_FALSE(peek.success); // (YES, null) would say the file is gone

    auto downloads = responses<DownloadResponse>();
    client->downloadFile(QStringLiteral("a.crvx"), testDir() + QStringLiteral("/t"),
                         log.completion(downloads));
    ASSERT_TRUE(settle(downloads));
    client->downloadFile(QStringLiteral("/a.crvx/"), testDir() + QStringLiteral("/t"),
                         log.completion(downloads));
    ASSERT_TRUE(settle(downloads, 2));
    for (const DownloadResponse& download : *downloads)
        EXPECT_EQ(download.result, DropboxResult::Failed);

    auto lists = responses<ListFolderResponse>();
    client->listFolderContents(QStringLiteral("attachments"), log.completion(lists));
    ASSERT_TRUE(settle(lists));
    EXPECT_EQ(lists->front().result, DropboxResult::Failed);

    EXPECT_EQ(emulator.file(QStringLiteral("/a.crvx"))->rev, rev);
    EXPECT_FALSE(emulator.file(QStringLiteral("/attachments/.DS_Store")).has_value());
    EXPECT_FALSE(emulator.file(QStringLiteral("/big.bin")).has_value());
    EXPECT_EQ(emulator.countWithStatus(400), 6);
}

// Cursors the service forgets: one expiring while the listing is paged, and one that ages
// past its lifetime while the client waits out a server error. Either listing fails (an
// answered refusal, so the connection is not in doubt); the next listing goes through.
TEST_F(DropboxServiceWaysTest, ACursorThatExpiresMidListingFailsTheListing)
{
    emulator.setPageSize(1);
    for (const char* name : {"/a.crvx", "/b.crvx", "/c.crvx"})
        emulator.putFile(QString::fromLatin1(name), name);
    bool expired = false;
    emulator.setBetweenPages([&] {
        if (!std::exchange(expired, true))
            emulator.expireCursors();
    });
    auto lists = responses<ListFolderResponse>();
    client->listFolderContents(QString(), log.completion(lists));
    ASSERT_TRUE(settle(lists));
    EXPECT_EQ(lists->back().result, DropboxResult::Failed);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("done")}));
    const auto continued = emulator.requests("files/list_folder/continue");
    ASSERT_EQ(continued.size(), 1u);
    EXPECT_EQ(continued.front().status, 409);
    EXPECT_TRUE(continued.front().answer.contains(R"("reset")"));

    emulator.setBetweenPages(nullptr);
    emulator.setCursorLifetime(1.0);
    emulator.injectFault("files/list_folder/continue", DropboxEmulator::Fault::Status503);
    client->listFolderContents(QString(), log.completion(lists));
    ASSERT_TRUE(settle(lists, 2));
    EXPECT_EQ(lists->back().result, DropboxResult::Failed);
    EXPECT_EQ(emulator.requests("files/list_folder/continue").back().status, 409);

    emulator.setCursorLifetime(0);
    client->listFolderContents(QString(), log.completion(lists));
    ASSERT_TRUE(settle(lists, 3));
    EXPECT_EQ(pathsOf(lists->back()),
              QStringList({QStringLiteral("/a.crvx"), QStringLiteral("/b.crvx"), QStringLiteral("/c.crvx")}));
}

// Changes landing between pages come in later pages, a file again with its new revision, a
// removal as a deleted entry: the listing answers the folder as it was at its last page, each
// file once.
TEST_F(DropboxServiceWaysTest, ChangesBetweenPagesEndAsTheFolderIsAfterTheLastPage)
{
    emulator.setPageSize(2);
    for (const char* name : {"/a.crvx", "/b.crvx", "/c.crvx", "/d.crvx", "/e.crvx"})
        emulator.putFile(QString::fromLatin1(name), name);
    bool changed = false;
    QString newRev;
    emulator.setBetweenPages([&] {
        if (std::exchange(changed, true))
            return;
        emulator.remove(QStringLiteral("/a.crvx")); // listed already
        newRev = emulator.putFile(QStringLiteral("/b.crvx"), "b again");
        emulator.remove(QStringLiteral("/e.crvx")); // not listed yet
        emulator.putFile(QStringLiteral("/f.crvx"), "f");
    });
    auto lists = responses<ListFolderResponse>();
    client->listFolderContents(QString(), log.completion(lists));
    ASSERT_TRUE(settle(lists));
    ASSERT_EQ(lists->front().result, DropboxResult::Done);
    QStringList paths = pathsOf(lists->front());
    paths.sort();
    EXPECT_EQ(paths, QStringList({QStringLiteral("/b.crvx"), QStringLiteral("/c.crvx"),
                                  QStringLiteral("/d.crvx"), QStringLiteral("/f.crvx")}));
    for (const FileMetadata& entry : *lists->front().entries) {
        const auto stored = emulator.file(entry.path);
        ASSERT_TRUE(stored.has_value()) << entry.path.toStdString();
        EXPECT_EQ(entry.rev, stored->rev) << entry.path.toStdString();
    }
    EXPECT_EQ(emulator.file(QStringLiteral("/b.crvx"))->rev, newRev);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("note:GotSomeData"), QStringLiteral("done")}));
}

// Listings in an order of the service's own give the same files.
TEST_F(DropboxServiceWaysTest, ListingsInAnyOrderGiveTheSameFiles)
{
    emulator.setPageSize(4);
    QStringList names;
    for (int i = 0; i < 9; ++i) {
        names << QStringLiteral("/n%1.crvx").arg(i);
        emulator.putFile(names.back(), "x");
    }
    emulator.shuffleListings(7);
    auto lists = responses<ListFolderResponse>();
    client->listFolderContents(QString(), log.completion(lists));
    ASSERT_TRUE(settle(lists));
    const QStringList listed = pathsOf(lists->front());
    EXPECT_NE(listed, names) << "the switch should have shuffled this listing";
    QStringList sorted = listed;
    sorted.sort();
    EXPECT_EQ(sorted, names);
}

// Another writer at the same moment: the service answers 429 too_many_write_operations with
// Retry-After; the client waits it out and writes. When the contention never ends, the upload
// fails after its repeats with the failure noted.
TEST_F(DropboxServiceWaysTest, AnotherWriterAtOnceIsWaitedOut)
{
    emulator.setWriteContention(0.5);
    QVDropboxClient other(makeUser(QStringLiteral("good")));
    auto uploads = responses<UploadResponse>();
    client->uploadFile(localFile(QStringLiteral("one"), "one"), std::nullopt, QStringLiteral("/one.crvx"),
                       log.completion(uploads));
    other.uploadFile(localFile(QStringLiteral("two"), "two"), std::nullopt, QStringLiteral("/two.crvx"),
                     log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 2));
    for (const UploadResponse& response : *uploads)
        EXPECT_EQ(response.result, DropboxResult::Done);
    EXPECT_EQ(emulator.file(QStringLiteral("/one.crvx"))->content, QByteArray("one"));
    EXPECT_EQ(emulator.file(QStringLiteral("/two.crvx"))->content, QByteArray("two"));
    const auto sent = emulator.requests("files/upload");
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].status, 429);
    EXPECT_TRUE(sent[1].answer.contains("too_many_write_operations")) << sent[1].answer.constData();
    EXPECT_GE(sent[2].at - sent[1].at, 1.0 - 1e-6);

    emulator.setWriteContention(0);
    log.events.clear();
    emulator.injectFault("files/upload", DropboxEmulator::Fault::TooManyWriteOperations, 4);
    client->uploadFile(localFile(QStringLiteral("three"), "three"), std::nullopt,
                       QStringLiteral("/three.crvx"), log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 3));
    EXPECT_EQ(uploads->back().result, DropboxResult::Failed);
    EXPECT_EQ(emulator.count("files/upload"), 3 + 4);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("note:NoConnection"), QStringLiteral("done")}));
}

// A full account refuses an upload (insufficient_space): a failure, not noted as a lost
// connection (the service answered), nothing stored; a smaller file still fits.
TEST_F(DropboxServiceWaysTest, AFullAccountRefusesTheUpload)
{
    emulator.putFile(QStringLiteral("/a.crvx"), QByteArray(100, 'a'));
    emulator.setQuota(emulator.usedBytes() + 10);
    auto uploads = responses<UploadResponse>();
    client->uploadFile(localFile(QStringLiteral("big"), QByteArray(50, 'b')), std::nullopt,
                       QStringLiteral("/b.crvx"), log.completion(uploads));
    ASSERT_TRUE(settle(uploads));
    EXPECT_EQ(uploads->front().result, DropboxResult::Failed);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("done")}));
    EXPECT_FALSE(emulator.file(QStringLiteral("/b.crvx")).has_value());
    EXPECT_TRUE(emulator.requests("files/upload").back().answer.contains("insufficient_space"));

    client->uploadFile(localFile(QStringLiteral("small"), "small"), std::nullopt, QStringLiteral("/c.crvx"),
                       log.completion(uploads));
    ASSERT_TRUE(settle(uploads, 2));
    EXPECT_EQ(uploads->back().result, DropboxResult::Done);
}

// Access tokens that expire a set time after they were issued: each time one has, the client
// refreshes it once and the call goes through; a client without a refresh token reports the
// expired token.
TEST_F(DropboxServiceWaysTest, TokensThatExpireWithTimeAreRefreshed)
{
    emulator.putFile(QStringLiteral("/a.crvx"), "a");
    emulator.setAccessTokenLifetime(3600.0);
    auto peeks = responses<PeekFileResponse>();
    client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks));
    for (int hour = 1; hour <= 2; ++hour) {
        time.advance(3601.0);
        client->peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
        ASSERT_TRUE(settle(peeks, std::size_t(hour + 1)));
        EXPECT_TRUE(peeks->back().success);
        EXPECT_EQ(emulator.count("oauth2/token"), hour);
    }
    ASSERT_EQ(emulator.issuedAccessTokens().size(), 2u);
    EXPECT_EQ(user->credentials().accessToken, emulator.issuedAccessTokens().back());
    EXPECT_EQ(log.events.count(QStringLiteral("note:InvalidAccessToken")), 0);

    DropboxUserClient::Options options = user->options();
    auto once = DropboxUserClient::create(DropboxCredentials{emulator.issuedAccessTokens().back(), QString()},
                                          options);
    QVDropboxClient withoutRefresh(once);
    time.advance(3601.0);
    log.events.clear();
    withoutRefresh.peekFile(QStringLiteral("/a.crvx"), log.completion(peeks));
    ASSERT_TRUE(settle(peeks, 4));
    EXPECT_FALSE(peeks->back().success);
    EXPECT_EQ(log.events, QStringList({QStringLiteral("note:InvalidAccessToken"), QStringLiteral("done")}));
}

} // namespace corvex::test
