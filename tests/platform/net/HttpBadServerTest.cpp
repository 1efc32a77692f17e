// Servers that misbehave: each answers its own clear error within the configured limits,
// and nothing the client keeps grows without bound.

#include "tests/platform/net/NetTestSupport.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VirtualScheduler.h"

#include <QDir>
#include <curl/curl.h>

namespace corvex::test {
namespace {

constexpr qint64 kTenGigabytes = qint64(10) * 1024 * 1024 * 1024;

// Streams zeros until the client goes away or the server stops.
bool streamZeros(LoopbackConnection& connection, bool chunked)
{
    const QByteArray block(64 * 1024, '\0');
    const QByteArray chunk = QByteArray::number(block.size(), 16) + "\r\n" + block + "\r\n";
    while (connection.send(chunked ? chunk : block)) {
    }
    return false;
}

class HttpBadServerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.route("/no-colon", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nThisLineHasNoColon\r\n\r\nok");
        });
        server.route("/stall-after-headers", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n");
            connection.waitForStop();
        });
        server.route("/close-mid-body", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nhalf a ch");
            connection.abort();
        });
        server.route("/lying-length", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nonly this much");
            connection.close();
        });
        server.route("/loop", [this](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.respond(302, {}, {{"Location", server.url("/loop")}});
        });
        server.route("/ten-gigabytes", [](const LoopbackRequest&, LoopbackConnection& connection) {
            if (connection.send("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(kTenGigabytes) +
                                "\r\n\r\n"))
                streamZeros(connection, false);
        });
        server.route("/endless-chunks", [](const LoopbackRequest&, LoopbackConnection& connection) {
            if (connection.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"))
                streamZeros(connection, true);
        });
        server.route("/header-flood", [](const LoopbackRequest&, LoopbackConnection& connection) {
            if (!connection.send("HTTP/1.1 200 OK\r\n"))
                return;
            for (int i = 0; i < 100000 && connection.send("X-Flood: " + QByteArray(100, 'f') + "\r\n"); ++i) {
            }
        });
        server.route("/silent", [](const LoopbackRequest&, LoopbackConnection& connection) {
            connection.waitForStop();
        });
        ASSERT_TRUE(server.start());
    }

    Result<HttpResponse> fetch(const QByteArray& path,
                               HttpSessionConfiguration configuration = quickConfiguration(),
                               const std::function<void(HttpRequest&)>& adjust = {})
    {
        auto session = HttpSession::create(std::move(configuration));
        HttpRequest request = HttpRequest::get(serverUrl(server, path));
        if (adjust)
            adjust(request);
        return runTransfer(*session, request);
    }

    ScopedVirtualTime time;
    LoopbackServer server;
};

struct BadServerCase
{
    const char* name;
    const char* path;
    int code;
    int curlCode; // 0: not checked
};

// Table rows print as their names in test output.
void PrintTo(const BadServerCase& value, std::ostream* os)
{
    *os << value.name;
}

class HttpBadServer : public HttpBadServerTest, public ::testing::WithParamInterface<BadServerCase>
{};

TEST_P(HttpBadServer, AnswersItsOwnError)
{
    HttpSessionConfiguration configuration = quickConfiguration();
    // Short only where the idle time-out is the point, so that a busy machine's pauses
    // never end the others early.
    if (GetParam().code == UrlError::TimedOut)
        configuration.idleTimeout = 0.3;
    configuration.maxMemoryBodyBytes = 4 * 1024 * 1024;
    const auto result = fetch(GetParam().path, configuration);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().domain(), UrlError::Domain);
    EXPECT_EQ(result.error().code(), GetParam().code) << result.error().toString().toStdString();
    if (GetParam().curlCode != 0) {
        EXPECT_EQ(curlCodeOf(result.error()), GetParam().curlCode) << result.error().toString().toStdString();
    }
    EXPECT_FALSE(result.error().localizedDescription().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpBadServer,
    ::testing::Values(
        BadServerCase{"HeaderWithoutColon", "/no-colon", UrlError::BadServerResponse, 0},
        BadServerCase{"StallAfterHeaders", "/stall-after-headers", UrlError::TimedOut, 0},
        BadServerCase{"NoAnswerAtAll", "/silent", UrlError::TimedOut, 0},
        BadServerCase{"ClosesMidBody", "/close-mid-body", UrlError::NetworkConnectionLost,
                      int(CURLE_RECV_ERROR)},
        BadServerCase{"LyingContentLength", "/lying-length", UrlError::NetworkConnectionLost,
                      int(CURLE_PARTIAL_FILE)},
        BadServerCase{"RedirectLoop", "/loop", UrlError::HTTPTooManyRedirects, int(CURLE_TOO_MANY_REDIRECTS)},
        BadServerCase{"TenGigabyteBody", "/ten-gigabytes", UrlError::DataLengthExceedsMaximum,
                      int(CURLE_FILESIZE_EXCEEDED)},
        BadServerCase{"EndlessChunkedBody", "/endless-chunks", UrlError::DataLengthExceedsMaximum, 0},
        BadServerCase{"HeaderFlood", "/header-flood", UrlError::BadServerResponse, 0}),
    [](const ::testing::TestParamInfo<BadServerCase>& info) { return std::string(info.param.name); });

TEST_F(HttpBadServerTest, TheRedirectBoundIsTheSessions)
{
    HttpSessionConfiguration configuration = quickConfiguration();
    configuration.maxRedirects = 3;
    const auto result = fetch("/loop", configuration);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::HTTPTooManyRedirects);
    // The first request and three redirects were followed.
    EXPECT_EQ(server.requestsServed(), 4);
}

TEST_F(HttpBadServerTest, AnEndlessBodyToAFileStopsAtTheOverallTimeOut)
{
    HttpSessionConfiguration configuration = quickConfiguration();
    configuration.overallTimeout = 0.3;
    const QString path = testDir() + QStringLiteral("/endless.bin");
    const auto result = fetch("/endless-chunks", configuration,
                              [&](HttpRequest& request) { request.downloadFilePath = path; });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::TimedOut);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QDir(testDir()).entryList(QDir::Files).isEmpty());
}

TEST_F(HttpBadServerTest, ATenGigabyteDownloadStopsAtTheFileLimitAndLeavesNothing)
{
    const QString path = testDir() + QStringLiteral("/huge.bin");
    const auto result = fetch("/ten-gigabytes", quickConfiguration(), [&](HttpRequest& request) {
        request.downloadFilePath = path;
        request.maxBodyBytes = 2 * 1024 * 1024;
    });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::DataLengthExceedsMaximum);
    EXPECT_TRUE(QDir(testDir()).entryList(QDir::Files).isEmpty());
}

TEST_F(HttpBadServerTest, AStreamedBodyBeyondTheLimitStopsThere)
{
    const auto result = fetch("/endless-chunks", quickConfiguration(),
                              [](HttpRequest& request) { request.maxBodyBytes = 256 * 1024; });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::DataLengthExceedsMaximum);
    EXPECT_TRUE(result.error().localizedDescription().contains(QStringLiteral("262144")));
}

TEST_F(HttpBadServerTest, ARequestTimeOutOverridesTheSessions)
{
    const auto result = fetch("/stall-after-headers", quickConfiguration(),
                              [](HttpRequest& request) { request.idleTimeout = 0.2; });
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::TimedOut);
}

} // namespace
} // namespace corvex::test
