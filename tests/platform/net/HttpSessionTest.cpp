// Transfers over plain HTTP on 127.0.0.1: bodies in memory and in files both ways,
// progress, cancellation, redirects, connection reuse and the completion contract.

#include "platform/core/SerialQueue.h"
#include "tests/platform/net/NetTestSupport.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VirtualScheduler.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <functional>

namespace corvex::test {
namespace {

class HttpSessionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.route("/hello", LoopbackServer::fixed("hello, world\n"));
        server.route("/echo", [this](const LoopbackRequest& request, LoopbackConnection& connection) {
            {
                std::lock_guard lock(mutex);
                seen.push_back(request);
            }
            connection.respond(200, request.body, {{"X-Body-Bytes", QByteArray::number(request.bodyBytes)}});
        });
        server.route("/missing-here", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.respond(404, "gone", {{"Content-Type", "text/plain"}});
        });
        server.route("/moved", [this](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.respond(302, {}, {{"Location", server.url("/hello")}});
        });
        server.route("/stall", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nsome");
            connection.waitForStop();
        });
        server.route("/big", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.respond(200, QByteArray(3 * 1024 * 1024, 'b'));
        });
        server.routeBeforeBody("/never-reads", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.waitForStop();
        });
        server.route("/cut", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\npartial");
            connection.abort();
        });
        ASSERT_TRUE(server.start());
    }

    LoopbackRequest lastSeen()
    {
        std::lock_guard lock(mutex);
        return seen.empty() ? LoopbackRequest() : seen.back();
    }

    ScopedVirtualTime time;
    LoopbackServer server;
    std::mutex mutex;
    std::vector<LoopbackRequest> seen;
    std::shared_ptr<HttpSession> session = HttpSession::create(quickConfiguration());
};

TEST_F(HttpSessionTest, GetsABodyIntoMemory)
{
    const auto result = runTransfer(*session, HttpRequest::get(serverUrl(server, "/hello")));
    ASSERT_TRUE(result.ok()) << result.error().toString().toStdString();
    EXPECT_EQ(result->statusCode, 200);
    EXPECT_EQ(result->body, QByteArray("hello, world\n"));
    EXPECT_EQ(result->bodyBytes, 13);
    EXPECT_EQ(result->headers.value("content-type"), QByteArray("text/plain"));
    EXPECT_EQ(result->httpVersion, QByteArray("1.1"));
    EXPECT_EQ(result->url, serverUrl(server, "/hello"));
}

TEST_F(HttpSessionTest, AnErrorStatusIsAResponseNotAFailure)
{
    const auto result = runTransfer(*session, HttpRequest::get(serverUrl(server, "/missing-here")));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->statusCode, 404);
    EXPECT_EQ(result->body, QByteArray("gone"));
}

TEST_F(HttpSessionTest, PostsWithoutExpectAndWithoutAFormContentType)
{
    const auto result = runTransfer(*session, HttpRequest::post(serverUrl(server, "/echo"), "payload bytes"));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->body, QByteArray("payload bytes"));
    const LoopbackRequest request = lastSeen();
    EXPECT_EQ(request.method, QByteArray("POST"));
    EXPECT_TRUE(request.header("Expect").isEmpty());
    EXPECT_TRUE(request.header("Content-Type").isEmpty());
}

TEST_F(HttpSessionTest, SendsTheCallersHeadersAndMethod)
{
    HttpRequest request = HttpRequest::post(serverUrl(server, "/echo"), "{}", "application/json");
    request.method = "PUT";
    request.headers.add("X-Blackbox-API-Key", "key");
    request.headers.add("Dropbox-API-Arg", "{\"path\":\"/x.crvx\"}");
    ASSERT_TRUE(runTransfer(*session, request).ok());
    const LoopbackRequest seenRequest = lastSeen();
    EXPECT_EQ(seenRequest.method, QByteArray("PUT"));
    EXPECT_EQ(seenRequest.header("content-type"), QByteArray("application/json"));
    EXPECT_EQ(seenRequest.header("X-Blackbox-API-Key"), QByteArray("key"));
    EXPECT_EQ(seenRequest.header("Dropbox-API-Arg"), QByteArray("{\"path\":\"/x.crvx\"}"));
}

TEST_F(HttpSessionTest, StreamsARequestBodyFromAFile)
{
    QByteArray content(3 * 1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char(i * 7);
    const QString path = testDir() + QStringLiteral("/upload.bin");
    writeFile(path, content);
    HttpRequest request;
    request.url = serverUrl(server, "/echo");
    request.method = "POST";
    request.bodySource = HttpRequest::BodySource::File;
    request.bodyFilePath = path;
    const auto result = runTransfer(*session, request);
    ASSERT_TRUE(result.ok()) << result.error().toString().toStdString();
    EXPECT_EQ(result->headers.value("X-Body-Bytes"), QByteArray::number(content.size()));
    EXPECT_EQ(lastSeen().body, content.left(LoopbackServer::KeptBodyBytes));
    // libcurl would ask for "100 Continue" before a body this large, then wait for it.
    EXPECT_TRUE(lastSeen().header("Expect").isEmpty());
}

TEST_F(HttpSessionTest, AMissingBodyFileFailsWithFileDoesNotExist)
{
    HttpRequest request;
    request.url = serverUrl(server, "/echo");
    request.method = "POST";
    request.bodySource = HttpRequest::BodySource::File;
    request.bodyFilePath = testDir() + QStringLiteral("/absent.bin");
    const auto result = runTransfer(*session, request);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::FileDoesNotExist);
    EXPECT_EQ(session->socketsOpened(), 0);
}

TEST_F(HttpSessionTest, AReadFailureOfTheBodyFileFailsWithFileDoesNotExist)
{
    const QString path = testDir() + QStringLiteral("/upload.bin");
    writeFile(path, QByteArray(256 * 1024, 'u'));
    HttpRequest request;
    request.url = serverUrl(server, "/echo");
    request.method = "POST";
    request.bodySource = HttpRequest::BodySource::File;
    request.bodyFilePath = path;
    FaultShim shim;
    shim.failFrom(FaultShim::Op::Read, 2, EIO);
    const auto result = runTransfer(*session, request);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::FileDoesNotExist);
    EXPECT_TRUE(result.error().localizedDescription().contains(QStringLiteral("upload.bin")));
}

TEST_F(HttpSessionTest, DownloadsToAFile)
{
    const QString path = testDir() + QStringLiteral("/download.bin");
    HttpRequest request = HttpRequest::get(serverUrl(server, "/big"));
    request.downloadFilePath = path;
    const auto result = runTransfer(*session, request);
    ASSERT_TRUE(result.ok()) << result.error().toString().toStdString();
    EXPECT_EQ(result->bodyFilePath, path);
    EXPECT_TRUE(result->body.isEmpty());
    EXPECT_EQ(result->bodyBytes, 3 * 1024 * 1024);
    EXPECT_EQ(readFile(path), QByteArray(3 * 1024 * 1024, 'b'));
}

TEST_F(HttpSessionTest, AFailedDownloadKeepsTheOldFileAndLeavesNoTemporary)
{
    for (const bool sync : {true, false}) {
        const QString path = testDir() + QStringLiteral("/kept.bin");
        writeFile(path, "old content");
        HttpRequest request = HttpRequest::get(serverUrl(server, "/cut"));
        request.downloadFilePath = path;
        request.syncDownload = sync;
        const auto result = runTransfer(*session, request);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(readFile(path), QByteArray("old content"));
        EXPECT_EQ(QDir(testDir()).entryList(QDir::Files), QStringList{QStringLiteral("kept.bin")});
    }
}

TEST_F(HttpSessionTest, AnErrorAnswerToADownloadLeavesTheFileAndComesInMemory)
{
    const QString path = testDir() + QStringLiteral("/kept.bin");
    writeFile(path, "old content");
    HttpRequest request = HttpRequest::get(serverUrl(server, "/missing-here"));
    request.downloadFilePath = path;
    const auto result = runTransfer(*session, request);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->statusCode, 404);
    EXPECT_EQ(result->body, QByteArray("gone"));
    EXPECT_TRUE(result->bodyFilePath.isEmpty());
    EXPECT_EQ(readFile(path), QByteArray("old content"));
    EXPECT_EQ(QDir(testDir()).entryList(QDir::Files), QStringList{QStringLiteral("kept.bin")});
}

TEST_F(HttpSessionTest, ADownloadIntoAMissingFolderFailsBeforeConnecting)
{
    HttpRequest request = HttpRequest::get(serverUrl(server, "/big"));
    request.downloadFilePath = testDir() + QStringLiteral("/no/such/folder/file.bin");
    const auto result = runTransfer(*session, request);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::CannotCreateFile);
    EXPECT_EQ(session->socketsOpened(), 0);
}

TEST_F(HttpSessionTest, ReportsProgressBeforeTheCompletion)
{
    auto transfer = session->makeTransfer(HttpRequest::get(serverUrl(server, "/big")));
    auto record = startRecorded(*transfer);
    ASSERT_TRUE(runUntil([&] { return record->done(); }));
    processEvents();
    expectSingleCompletion(*record);
    ASSERT_FALSE(record->progress.empty());
    EXPECT_EQ(record->progress.back().bytesExpectedToReceive, 3 * 1024 * 1024);
    EXPECT_GT(record->progress.back().bytesReceived, 0);
    EXPECT_EQ(transfer->progress().bytesReceived, 3 * 1024 * 1024);
    EXPECT_TRUE(transfer->isFinished());
}

// A caller on a queue of its own gets progress and the completion there, never on the main
// thread, and in that order.
TEST_F(HttpSessionTest, DeliversOnTheQueueTheCallerNames)
{
    SerialQueue callerQueue("com.tallowfen.corvex.test.net-caller");
    auto transfer = session->makeTransfer(HttpRequest::get(serverUrl(server, "/big")));
    std::atomic<int> progressOnQueue{0};
    std::atomic<int> elsewhere{0};
    std::atomic<int> completions{0};
    std::atomic<bool> progressAfterCompletion{false};
    transfer->setProgressHandler([&](const TransferProgress&) {
        (callerQueue.isCurrent() ? progressOnQueue : elsewhere).fetch_add(1);
        if (completions.load() > 0)
            progressAfterCompletion.store(true);
    });
    // The caller names its queue when it makes the completion; progress follows it there.
    transfer->start(HttpTransfer::Completion(
        CompletionQueue::serial(callerQueue), [&](const Result<HttpResponse>& result) {
            (callerQueue.isCurrent() ? completions : elsewhere).fetch_add(1);
            EXPECT_TRUE(result.ok());
        }));
    ASSERT_TRUE(runUntil([&] { return completions.load() + elsewhere.load() > 0; }));
    callerQueue.sync([] {});
    processEvents();
    EXPECT_EQ(completions.load(), 1);
    EXPECT_EQ(elsewhere.load(), 0);
    EXPECT_GT(progressOnQueue.load(), 0);
    EXPECT_FALSE(progressAfterCompletion.load());
}

TEST_F(HttpSessionTest, FollowsARedirect)
{
    const auto result = runTransfer(*session, HttpRequest::get(serverUrl(server, "/moved")));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->statusCode, 200);
    EXPECT_EQ(result->body, QByteArray("hello, world\n"));
    EXPECT_EQ(result->url, serverUrl(server, "/hello"));
    EXPECT_EQ(result->redirectCount, 1);
    EXPECT_FALSE(result->headers.contains("Location"));
}

TEST_F(HttpSessionTest, ReusesItsConnection)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(runTransfer(*session, HttpRequest::get(serverUrl(server, "/hello"))).ok());
    EXPECT_EQ(server.connectionsAccepted(), 1);
    EXPECT_EQ(session->socketsOpened(), 1);
}

// Kept easy handles are not reset between plain GETs: whatever another method set on the
// handle must not reach the next request on it.
TEST_F(HttpSessionTest, AKeptHandleCarriesNothingOfTheRequestBefore)
{
    struct Step
    {
        QByteArray method;
        QByteArray body;
        bool withHeader;
    };
    const Step steps[] = {
        {"HEAD", {}, false},   {"GET", {}, false}, {"PUT", "put body", true}, {"GET", {}, false},
        {"DELETE", {}, false}, {"GET", {}, true},  {"POST", "posted", false}, {"GET", {}, false},
    };
    for (const Step& step : steps) {
        HttpRequest request = HttpRequest::get(serverUrl(server, "/echo"));
        request.method = step.method;
        if (!step.body.isEmpty()) {
            request.bodySource = HttpRequest::BodySource::Memory;
            request.body = step.body;
        }
        if (step.withHeader)
            request.headers.add("X-Step", step.method);
        const auto result = runTransfer(*session, request);
        ASSERT_TRUE(result.ok()) << step.method.constData() << ": "
                                 << result.error().toString().toStdString();
        const LoopbackRequest seenRequest = lastSeen();
        EXPECT_EQ(seenRequest.method, step.method);
        EXPECT_EQ(seenRequest.bodyBytes, step.body.size()) << step.method.constData();
        EXPECT_EQ(seenRequest.header("X-Step"), step.withHeader ? step.method : QByteArray())
            << step.method.constData();
        EXPECT_TRUE(seenRequest.header("Expect").isEmpty()) << step.method.constData();
        EXPECT_EQ(result->body, step.body) << step.method.constData();
    }
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

// A transfer started from the previous one's completion mostly finds the transfer thread
// asleep: it must be woken, not left to its next idle poll (a second each, which would take
// this chain past the wait).
TEST_F(HttpSessionTest, TransfersStartedFromCompletionsAreTakenUpAtOnce)
{
    constexpr int Count = 30;
    int finished = 0;
    bool failed = false;
    std::vector<std::shared_ptr<HttpTransfer>> transfers;
    std::function<void()> startNext = [&] {
        transfers.push_back(session->makeTransfer(HttpRequest::get(serverUrl(server, "/hello"))));
        transfers.back()->start([&](const Result<HttpResponse>& result) {
            failed = failed || !result.ok();
            if (++finished < Count)
                startNext();
        });
    };
    startNext();
    ASSERT_TRUE(runUntil([&] { return finished == Count; }, 15.0)) << finished << " of " << Count;
    EXPECT_FALSE(failed);
    EXPECT_EQ(server.connectionsAccepted(), 1);
}

TEST_F(HttpSessionTest, RunsTransfersSideBySide)
{
    std::vector<std::shared_ptr<HttpTransfer>> transfers;
    std::vector<std::shared_ptr<TransferRecord>> records;
    for (int i = 0; i < 8; ++i) {
        transfers.push_back(
            session->makeTransfer(HttpRequest::get(serverUrl(server, i % 2 ? "/big" : "/hello"))));
        records.push_back(startRecorded(*transfers.back()));
    }
    ASSERT_TRUE(runUntil(
        [&] { return std::all_of(records.begin(), records.end(), [](auto& r) { return r->done(); }); }));
    processEvents();
    for (const auto& record : records) {
        expectSingleCompletion(*record);
        ASSERT_TRUE(record->result().ok());
    }
    for (std::size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i]->result()->bodyBytes, i % 2 ? 3 * 1024 * 1024 : 13) << i;
    EXPECT_EQ(session->activeTransfers(), 0);
}

TEST_F(HttpSessionTest, ACancelledTransferCompletesOnceWithCancelled)
{
    auto transfer = session->makeTransfer(HttpRequest::get(serverUrl(server, "/stall")));
    auto record = startRecorded(*transfer);
    ASSERT_TRUE(runUntil([&] { return transfer->progress().bytesReceived > 0; }));
    transfer->cancel();
    transfer->cancel();
    ASSERT_TRUE(runUntil([&] { return record->done(); }));
    processEvents();
    expectSingleCompletion(*record);
    ASSERT_FALSE(record->result().ok());
    EXPECT_EQ(record->result().error().code(), UrlError::Cancelled);
    EXPECT_EQ(record->result().error().domain(), UrlError::Domain);
}

TEST_F(HttpSessionTest, ATransferCancelledBeforeItStartsNeverConnects)
{
    auto transfer = session->makeTransfer(HttpRequest::get(serverUrl(server, "/hello")));
    transfer->cancel();
    auto record = startRecorded(*transfer);
    ASSERT_TRUE(runUntil([&] { return record->done(); }));
    processEvents();
    expectSingleCompletion(*record);
    EXPECT_EQ(record->result().error().code(), UrlError::Cancelled);
    EXPECT_EQ(session->socketsOpened(), 0);
}

TEST_F(HttpSessionTest, ACancelledUploadOfALargeFileCompletesOnceWithCancelled)
{
    const qint64 size = qint64(heavyScale(50, 20)) * 1024 * 1024;
    const QString path = testDir() + QStringLiteral("/large.bin");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
    }
    HttpRequest request;
    // The server never reads the body, so the upload stays under way until it is cancelled.
    request.url = serverUrl(server, "/never-reads");
    request.method = "POST";
    request.bodySource = HttpRequest::BodySource::File;
    request.bodyFilePath = path;
    auto transfer = session->makeTransfer(request);
    auto record = startRecorded(*transfer);
    ASSERT_TRUE(runUntil([&] { return transfer->progress().bytesSent > 0 || record->done(); }));
    EXPECT_FALSE(record->done());
    transfer->cancel();
    ASSERT_TRUE(runUntil([&] { return record->done(); }));
    processEvents();
    expectSingleCompletion(*record);
    ASSERT_FALSE(record->result().ok());
    EXPECT_EQ(record->result().error().code(), UrlError::Cancelled);
    EXPECT_EQ(record->progress.empty() ? -1 : record->progress.back().bytesExpectedToSend, size);
    EXPECT_LT(transfer->progress().bytesSent, size);
}

TEST_F(HttpSessionTest, DestroyingTheSessionCancelsWhatRuns)
{
    auto transfer = session->makeTransfer(HttpRequest::get(serverUrl(server, "/stall")));
    auto record = startRecorded(*transfer);
    ASSERT_TRUE(runUntil([&] { return transfer->progress().bytesReceived > 0; }));
    session.reset();
    ASSERT_TRUE(runUntil([&] { return record->done(); }));
    processEvents();
    expectSingleCompletion(*record);
    EXPECT_EQ(record->result().error().code(), UrlError::Cancelled);
}

TEST_F(HttpSessionTest, AnInvalidatedSessionRefusesNewTransfers)
{
    session->invalidateAndCancel();
    const auto result = runTransfer(*session, HttpRequest::get(serverUrl(server, "/hello")));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::Cancelled);
}

TEST_F(HttpSessionTest, ASecondStartIsRefused)
{
    auto transfer = session->makeTransfer(HttpRequest::get(serverUrl(server, "/hello")));
    auto record = startRecorded(*transfer);
    bool secondCalled = false;
    LogCapture log;
    transfer->start([&](const Result<HttpResponse>&) { secondCalled = true; });
    EXPECT_TRUE(log.contains(QStringLiteral("HttpTransfer started twice")));
    ASSERT_TRUE(runUntil([&] { return record->done(); }));
    processEvents();
    expectSingleCompletion(*record);
    EXPECT_FALSE(secondCalled);
}

TEST_F(HttpSessionTest, LoopbackNeverGoesThroughAProxy)
{
    LoopbackServer proxy;
    proxy.route("/hello", LoopbackServer::fixed("from the proxy"));
    ASSERT_TRUE(proxy.start());
    const QByteArray proxyUrl = proxy.baseUrl();
    ::setenv("http_proxy", proxyUrl.constData(), 1);
    ::setenv("HTTP_PROXY", proxyUrl.constData(), 1);
    ::setenv("no_proxy", "corvex-elsewhere.invalid", 1);
    auto proxied = HttpSession::create(quickConfiguration());
    const auto result = runTransfer(*proxied, HttpRequest::get(serverUrl(server, "/hello")));
    ::unsetenv("http_proxy");
    ::unsetenv("HTTP_PROXY");
    ::unsetenv("no_proxy");
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->body, QByteArray("hello, world\n"));
    EXPECT_EQ(proxy.connectionsAccepted(), 0);
}

struct RefusedUrl
{
    const char* name;
    const char* url;
    int code;
};

// Table rows print as their names in test output.
void PrintTo(const RefusedUrl& value, std::ostream* os)
{
    *os << value.name;
}

class HttpSessionRefusesUrl : public ::testing::TestWithParam<RefusedUrl>
{};

TEST_P(HttpSessionRefusesUrl, AtOnceWithoutASocket)
{
    ScopedVirtualTime time;
    auto session = HttpSession::create();
    const auto result = runTransfer(*session, HttpRequest::get(QUrl(QString::fromLatin1(GetParam().url))));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), GetParam().code);
    EXPECT_EQ(session->socketsOpened(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpSessionRefusesUrl,
    ::testing::Values(RefusedUrl{"Empty", "", UrlError::BadURL},
                      RefusedUrl{"NoHost", "http://", UrlError::BadURL},
                      RefusedUrl{"FileScheme", "file:///etc/passwd", UrlError::BadURL},
                      RefusedUrl{"FtpScheme", "ftp://127.0.0.1/x", UrlError::UnsupportedURL}),
    [](const ::testing::TestParamInfo<RefusedUrl>& info) { return std::string(info.param.name); });

TEST(HttpSessionConnect, ARefusedConnectionFailsWithCannotConnect)
{
    ScopedVirtualTime time;
    // A port that was free a moment ago: nothing listens there.
    quint16 port = 0;
    {
        LoopbackServer probe;
        ASSERT_TRUE(probe.start());
        port = probe.port();
    }
    auto session = HttpSession::create(quickConfiguration());
    const auto result =
        runTransfer(*session, HttpRequest::get(QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(port))));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::CannotConnectToHost);
    EXPECT_EQ(session->socketsOpened(), 1);
}

} // namespace
} // namespace corvex::test
