// The URL-session work-alike and the kit's HTTP client against loopback servers: tasks that
// complete once (cancelled ones too), live task lists, challenges that reach the delegate,
// retries on virtual time and certificate pinning over HTTPS.

#include "kit/net/LOMCertificatePinner.h"
#include "kit/net/LOMNetworkClient.h"
#include "kit/urlsession/BBXURLSession.h"
#include "platform/core/OperationQueue.h"
#include "platform/net/UrlError.h"
#include "tests/kit/KitNetTestSupport.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/support/net/LoopbackServer.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::LoopbackConnection;
using corvex::test::LoopbackRequest;
using corvex::test::LoopbackServer;

namespace {

HttpRequest clientGet(const LoopbackServer& server, const QByteArray& path)
{
    return HttpRequest::get(QUrl::fromEncoded(server.url(path)));
}

LoopbackServer::Tls clientTls(const test::TestCertificate& certificate)
{
    return {certificate.chainPem, certificate.privateKeyPem};
}

std::shared_ptr<BBXURLSessionConfiguration> trustingRootB()
{
    auto configuration = BBXURLSessionConfiguration::defaultSessionConfiguration();
    configuration->trustStorePem = test::TestPki::shared().rootB.certificatePem;
    return configuration;
}

// Waits until a timed task (a retry's back-off) is pending, and answers its delay.
double clientPendingDelay(test::ScopedVirtualTime& time)
{
    double delay = -1;
    test::runUntil([&] {
        const std::optional<double> next = time.scheduler().nextDeadline();
        if (next && *next > time.now())
            delay = *next - time.now();
        return delay > 0;
    });
    return delay;
}

} // namespace

TEST(BBXURLSession, ConfigurationsAndQueuesAreWhatCallersExpect)
{
    EXPECT_EQ(BBXURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(QStringLiteral("id")),
              nullptr);
    EXPECT_EQ(BBXURLSession::sessionWithConfiguration(nullptr), nullptr);
    auto session = BBXURLSession::sessionWithConfiguration(
        BBXURLSessionConfiguration::defaultSessionConfiguration(), std::make_shared<BBXURLSessionDelegate>());
    ASSERT_NE(session, nullptr);
    ASSERT_NE(session->delegateQueue(), nullptr);
    EXPECT_TRUE(session->delegateQueue()->name().startsWith(QStringLiteral("BBXURLSession 0x")));
    EXPECT_EQ(session->delegateQueue()->maxConcurrentOperationCount(), 1);
}

TEST(BBXURLSession, TasksAddHeadersBesideAndCompleteOnceThroughTheirHandler)
{
    LoopbackServer server;
    server.route("/echo", [](const LoopbackRequest& request, LoopbackConnection& connection) {
        QByteArray seen;
        for (const auto& field : request.headers)
            if (field.first.compare("X-A", Qt::CaseInsensitive) == 0)
                seen += field.second + ",";
        connection.respond(200, seen + request.body);
    });
    server.route("/empty",
                 [](const LoopbackRequest&, LoopbackConnection& connection) { connection.respond(204, {}); });
    ASSERT_TRUE(server.start());

    auto configuration = BBXURLSessionConfiguration::defaultSessionConfiguration();
    configuration->HTTPAdditionalHeaders.add("X-A", "configured");
    std::atomic<int> delegateCompletions{0};
    auto delegate = std::make_shared<BBXURLSessionDelegate>();
    delegate->didCompleteWithError = [&](BBXURLSession&, BBXURLSessionTask&, const Error&) {
        ++delegateCompletions;
    };
    auto session = BBXURLSession::sessionWithConfiguration(configuration, delegate);

    HttpRequest request = clientGet(server, "/echo");
    request.headers.add("X-A", "own");
    test::KitOutcome outcome;
    auto task = session->dataTaskWithRequest(request, outcome.recorder());
    task->resume();
    task->resume();
    ASSERT_TRUE(test::runUntil([&] { return outcome.callCount() == 1; }));
    EXPECT_EQ(outcome.data.value_or(QByteArray()), QByteArray("own,configured,"));
    ASSERT_TRUE(test::runUntil([&] { return session->liveTaskCount() == 0; }));
    EXPECT_EQ(server.requestsServed(), 1);
    EXPECT_EQ(delegateCompletions.load(), 0);

    test::KitOutcome empty;
    session->dataTaskWithRequest(clientGet(server, "/empty"), empty.recorder())->resume();
    ASSERT_TRUE(test::runUntil([&] { return empty.callCount() == 1; }));
    EXPECT_FALSE(empty.data.has_value());

    // An upload sends the file and drops the request's own body.
    const QString file = test::testDir() + QStringLiteral("/upload.bin");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("file bytes");
    out.close();
    HttpRequest upload = clientGet(server, "/echo");
    upload.method = "POST";
    upload.bodySource = HttpRequest::BodySource::Memory;
    upload.body = "memory bytes";
    test::KitOutcome uploaded;
    session->uploadTaskWithRequest(upload, file, uploaded.recorder())->resume();
    ASSERT_TRUE(test::runUntil([&] { return uploaded.callCount() == 1; }));
    EXPECT_EQ(uploaded.data.value_or(QByteArray()), QByteArray("configured,file bytes"));
}

TEST(BBXURLSession, CancelledTasksCompleteOnceAndLiveTasksAreListed)
{
    LoopbackServer server;
    server.route("/stall",
                 [](const LoopbackRequest&, LoopbackConnection& connection) { connection.waitForStop(); });
    ASSERT_TRUE(server.start());
    auto session =
        BBXURLSession::sessionWithConfiguration(BBXURLSessionConfiguration::defaultSessionConfiguration());

    test::KitOutcome running;
    auto task = session->dataTaskWithRequest(clientGet(server, "/stall"), running.recorder());
    test::KitOutcome suspended;
    auto never = session->dataTaskWithRequest(clientGet(server, "/stall"), suspended.recorder());
    auto download = session->downloadTaskWithRequest(clientGet(server, "/stall"));
    task->resume();
    ASSERT_TRUE(test::runUntil([&] { return server.requestsServed() == 1; }));

    std::atomic<int> listed{-1};
    std::atomic<int> listedDownloads{-1};
    session->getTasksWithCompletionHandler([&](auto data, auto upload, auto downloads) {
        listedDownloads = int(downloads.size());
        listed = int(data.size() + upload.size());
    });
    ASSERT_TRUE(test::runUntil([&] { return listed.load() >= 0; }));
    EXPECT_EQ(listed.load(), 2);
    EXPECT_EQ(listedDownloads.load(), 1);

    task->cancel();
    never->cancel();
    ASSERT_TRUE(test::runUntil([&] { return running.callCount() == 1 && suspended.callCount() == 1; }));
    EXPECT_EQ(running.lastError().code(), UrlError::Cancelled);
    EXPECT_EQ(suspended.lastError().code(), UrlError::Cancelled);
    task->cancel();
    test::processEvents();
    EXPECT_EQ(running.callCount(), 1);

    session->invalidateAndCancel();
    ASSERT_TRUE(test::runUntil([&] { return session->liveTaskCount() == 0; }));
    EXPECT_EQ(session->dataTaskWithRequest(clientGet(server, "/stall")), nullptr);
}

TEST(BBXURLSession, DownloadsAreInPlaceDuringTheDelegateCallAndGoneAfter)
{
    LoopbackServer server;
    server.route("/file", LoopbackServer::fixed("downloaded"));
    ASSERT_TRUE(server.start());
    std::mutex mutex;
    QByteArray seen;
    QString location;
    std::atomic<bool> completed{false};
    auto delegate = std::make_shared<BBXURLSessionDelegate>();
    delegate->didFinishDownloadingToURL = [&](BBXURLSession&, BBXURLSessionTask&, const QString& path) {
        QFile file(path);
        std::lock_guard lock(mutex);
        if (file.open(QIODevice::ReadOnly))
            seen = file.readAll();
        location = path;
    };
    delegate->didCompleteWithError = [&](BBXURLSession&, BBXURLSessionTask&, const Error&) {
        completed = true;
    };
    auto session = BBXURLSession::sessionWithConfiguration(
        BBXURLSessionConfiguration::defaultSessionConfiguration(), delegate);
    session->downloadTaskWithRequest(clientGet(server, "/file"))->resume();
    ASSERT_TRUE(test::runUntil([&] { return completed.load(); }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen, QByteArray("downloaded"));
    EXPECT_FALSE(QFile::exists(location));
}

TEST(BBXURLSession, EveryHandshakeAsksTheDelegateAndARefusalCancels)
{
    const test::TestPki& pki = test::TestPki::shared();
    LoopbackServer server(clientTls(pki.leafB));
    server.route("/ok", LoopbackServer::fixed("trusted"));
    ASSERT_TRUE(server.start());
    std::atomic<int> challenges{0};
    std::atomic<bool> refuse{false};
    std::mutex mutex;
    QString host;
    auto delegate = std::make_shared<BBXURLSessionDelegate>();
    delegate->didReceiveChallenge = [&](BBXURLSession&, const ServerTrust& trust) {
        ++challenges;
        std::lock_guard lock(mutex);
        host = trust.host;
        return refuse.load() ? TrustDisposition::CancelChallenge : TrustDisposition::PerformDefaultHandling;
    };
    auto session = BBXURLSession::sessionWithConfiguration(trustingRootB(), delegate);
    test::KitOutcome accepted;
    session->dataTaskWithRequest(clientGet(server, "/ok"), accepted.recorder())->resume();
    ASSERT_TRUE(test::runUntil([&] { return accepted.callCount() == 1; }));
    EXPECT_TRUE(accepted.lastError().isNull());
    EXPECT_EQ(challenges.load(), 1);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(host, QStringLiteral("127.0.0.1"));
    }

    // A new session (no connection to reuse) whose delegate refuses: -999, nothing served.
    refuse = true;
    auto refusing = BBXURLSession::sessionWithConfiguration(trustingRootB(), delegate);
    test::KitOutcome refused;
    refusing->dataTaskWithRequest(clientGet(server, "/ok"), refused.recorder())->resume();
    ASSERT_TRUE(test::runUntil([&] { return refused.callCount() == 1; }));
    EXPECT_EQ(refused.lastError().code(), UrlError::Cancelled);
    EXPECT_EQ(challenges.load(), 2);
    EXPECT_EQ(server.requestsServed(), 1);
}

TEST(LOMNetworkClient, ServerErrorsRetryOnVirtualTimeToTheLimit)
{
    test::ScopedVirtualTime time;
    LOMNetworkClient::setRandomSource([] { return 0.5; });
    LoopbackServer server;
    server.route("/fail", [](const LoopbackRequest&, LoopbackConnection& connection) {
        connection.respond(500, "no");
    });
    ASSERT_TRUE(server.start());
    auto client = LOMNetworkClient::create();
    test::KitOutcome outcome;
    client->startDataTask(clientGet(server, "/fail"), 1, outcome.recorder());
    ASSERT_TRUE(test::runUntil([&] { return server.requestsServed() == 1; }));
    // tries 0 waits 2^1 x 1.0 (the pinned jitter's middle).
    const double jitter = double(0.9f) + (double(1.1f) - double(0.9f)) * 0.5;
    EXPECT_DOUBLE_EQ(clientPendingDelay(time), 2.0 * jitter);
    time.advance(2.0 * jitter);
    ASSERT_TRUE(test::runUntil([&] { return outcome.callCount() == 1; }));
    EXPECT_EQ(server.requestsServed(), 2);
    EXPECT_EQ(outcome.lastError().code(), -6);
    EXPECT_EQ(outcome.lastError().userInfo().value(QStringLiteral("retryLimit")).toULongLong(), 1u);
    LOMNetworkClient::setRandomSource({});
}

TEST(LOMNetworkClient, AHugeRetryAfterWaitsTwentyFourHoursAndNoLess)
{
    test::ScopedVirtualTime time;
    LoopbackServer server;
    server.route("/busy", [](const LoopbackRequest&, LoopbackConnection& connection) {
        connection.respond(503, "busy", {{"Retry-After", "999999"}});
    });
    ASSERT_TRUE(server.start());
    auto client = LOMNetworkClient::create();
    test::KitOutcome outcome;
    client->startDataTask(clientGet(server, "/busy"), 2, outcome.recorder());
    for (int attempt = 1; attempt <= 2; ++attempt) {
        ASSERT_TRUE(test::runUntil([&] { return server.requestsServed() == attempt; }));
        EXPECT_DOUBLE_EQ(clientPendingDelay(time), LOMNetworkClient::MaxRetryDelaySeconds);
        time.advance(LOMNetworkClient::MaxRetryDelaySeconds - 1.0);
        test::processEvents();
        EXPECT_EQ(server.requestsServed(), attempt);
        time.advance(1.0);
    }
    ASSERT_TRUE(test::runUntil([&] { return outcome.callCount() == 1; }));
    EXPECT_EQ(server.requestsServed(), 3);
    EXPECT_EQ(outcome.lastError().code(), -6);
}

TEST(LOMCertificatePinner, PinnedRootsAreTheOnlyAnchors)
{
    const test::TestPki& pki = test::TestPki::shared();
    auto chainOf = [](const test::TestCertificate& leaf, const QList<QByteArray>& intermediates) {
        ServerTrust trust;
        trust.host = QStringLiteral("127.0.0.1");
        trust.chainDer = QList<QByteArray>{leaf.der} + intermediates;
        return trust;
    };
    const LOMCertificatePinner pinner(test::kitPinnedRootA());
    const struct
    {
        const char* name;
        ServerTrust trust;
        bool accepted;
    } cases[] = {
        {"leaf A with its intermediate", chainOf(pki.leafA, {pki.intermediateA.der}), true},
        {"replaced leaf and intermediate", chainOf(pki.leafA2, {pki.intermediateA2.der}), true},
        {"leaf A without its intermediate", chainOf(pki.leafA, {}), false},
        {"leaf B", chainOf(pki.leafB, {}), false},
        {"wrong host", chainOf(pki.wrongHostA, {pki.intermediateA.der}), false},
        {"expired", chainOf(pki.expiredA, {pki.intermediateA.der}), false},
        {"no chain", ServerTrust{QStringLiteral("127.0.0.1"), 0, {}}, false},
    };
    for (const auto& c : cases) {
        TrustDisposition disposition = TrustDisposition::PerformDefaultHandling;
        EXPECT_EQ(pinner.handleChallenge(c.trust, &disposition), c.accepted) << c.name;
        EXPECT_EQ(disposition,
                  c.accepted ? TrustDisposition::UseCredential : TrustDisposition::CancelChallenge)
            << c.name;
    }
    EXPECT_EQ(LOMCertificatePinner({}).evaluateTrust(chainOf(pki.leafA, {pki.intermediateA.der})).result, 0);
    EXPECT_FALSE(LOMCertificatePinner::createCertificationWithData("not a certificate").has_value());
    EXPECT_GE(LOMPinnedCertificates().size(), 1);
}

TEST(LOMNetworkClient, PinningOverHttpsAcceptsRootAAndRefusesRootBToTheRetryLimit)
{
    test::ScopedVirtualTime time(1000.0, test::VirtualScheduler::Mode::AutoAdvance);
    const test::TestPki& pki = test::TestPki::shared();
    for (const test::TestCertificate* leaf : {&pki.leafA, &pki.leafA2}) {
        LoopbackServer server(clientTls(*leaf));
        server.route("/ok", LoopbackServer::fixed("pinned"));
        ASSERT_TRUE(server.start());
        // Root B is the default store: only the pinner can accept a chain of root A.
        auto client = LOMNetworkClient::create(nullptr, test::kitPinnedRootA(), trustingRootB());
        test::KitOutcome outcome;
        client->startDataTask(clientGet(server, "/ok"), 0, outcome.recorder());
        ASSERT_TRUE(test::runUntil([&] { return outcome.callCount() == 1; }));
        EXPECT_TRUE(outcome.lastError().isNull()) << outcome.lastError().toString().toStdString();
        EXPECT_EQ(outcome.data.value_or(QByteArray()), QByteArray("pinned"));
    }

    LoopbackServer serverB(clientTls(pki.leafB));
    serverB.route("/ok", LoopbackServer::fixed("not pinned"));
    ASSERT_TRUE(serverB.start());
    auto client = LOMNetworkClient::create(nullptr, test::kitPinnedRootA(), trustingRootB());
    test::KitOutcome refused;
    client->startDataTask(clientGet(serverB, "/ok"), 2, refused.recorder());
    ASSERT_TRUE(test::runUntil([&] { return refused.callCount() == 1; }, 30));
    EXPECT_EQ(refused.lastError().code(), -6);
    EXPECT_EQ(serverB.requestsServed(), 0);
    // The server counts a refused handshake on its own thread, after the client has let go.
    const auto handshakes = [&] { return serverB.tlsHandshakes() + serverB.tlsHandshakeFailures(); };
    test::runUntil([&] { return handshakes() >= 3; }, 5);
    EXPECT_EQ(handshakes(), 3);

    // With the kit's debug switch on, default handling trusts the store (root B).
    auto debugClient =
        LOMNetworkClient::create(nullptr, test::kitPinnedRootA(), trustingRootB(), [] { return true; });
    test::KitOutcome debugged;
    debugClient->startDataTask(clientGet(serverB, "/ok"), 0, debugged.recorder());
    ASSERT_TRUE(test::runUntil([&] { return debugged.callCount() == 1; }));
    EXPECT_TRUE(debugged.lastError().isNull());
}
