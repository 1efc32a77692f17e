// HTTPS on 127.0.0.1 with certificates the test PKI makes: the system store, a test trust
// store, the trust decider in the handshake, wrong-host and expired leaves, and sessions
// with different trust policies that never share a connection.

#include "tests/platform/net/NetTestSupport.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/support/net/TestPki.h"

#include <QMutex>
#include <curl/curl.h>

namespace corvex::test {
namespace {

LoopbackServer::Tls tlsFor(const TestCertificate& certificate)
{
    return {certificate.chainPem, certificate.privateKeyPem};
}

// What a decider saw, from the transfer thread.
struct SeenTrust
{
    QMutex mutex;
    QList<ServerTrust> calls;

    TrustDecider decider(TrustDisposition answer)
    {
        return [this, answer](const ServerTrust& trust) {
            QMutexLocker lock(&mutex);
            calls.append(trust);
            return answer;
        };
    }
    int count()
    {
        QMutexLocker lock(&mutex);
        return int(calls.size());
    }
};

class HttpTlsTest : public ::testing::Test
{
protected:
    void start(const TestCertificate& certificate)
    {
        server = std::make_unique<LoopbackServer>(tlsFor(certificate));
        server->route("/hello", LoopbackServer::fixed("secure hello"));
        ASSERT_TRUE(server->start());
    }

    Result<HttpResponse> fetch(HttpSession& session)
    {
        return runTransfer(session, HttpRequest::get(serverUrl(*server, "/hello")));
    }

    static HttpSessionConfiguration trusting(const QByteArray& rootPem)
    {
        HttpSessionConfiguration configuration = quickConfiguration();
        configuration.trustStorePem = rootPem;
        return configuration;
    }

    ScopedVirtualTime time;
    const TestPki& pki = TestPki::shared();
    std::unique_ptr<LoopbackServer> server;
};

TEST_F(HttpTlsTest, TheSystemStoreRefusesTheTestServer)
{
    start(pki.leafA);
    auto session = HttpSession::create(quickConfiguration());
    const auto result = fetch(*session);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::ServerCertificateUntrusted)
        << result.error().toString().toStdString();
}

TEST_F(HttpTlsTest, TheTestRootAsTrustStoreAcceptsIt)
{
    start(pki.leafA);
    auto session = HttpSession::create(trusting(pki.rootA.certificatePem));
    const auto result = fetch(*session);
    ASSERT_TRUE(result.ok()) << result.error().toString().toStdString();
    EXPECT_EQ(result->body, QByteArray("secure hello"));
    EXPECT_EQ(server->tlsHandshakes(), 1);
}

TEST_F(HttpTlsTest, AnotherRootAsTrustStoreRefusesIt)
{
    start(pki.leafA);
    auto session = HttpSession::create(trusting(pki.rootB.certificatePem));
    const auto result = fetch(*session);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::ServerCertificateUntrusted);
}

TEST_F(HttpTlsTest, TheDeciderSeesTheLeafThenTheIntermediateAndTheHost)
{
    start(pki.leafA);
    SeenTrust seen;
    HttpSessionConfiguration configuration = trusting(pki.rootA.certificatePem);
    configuration.trustDecider = seen.decider(TrustDisposition::PerformDefaultHandling);
    auto session = HttpSession::create(configuration);
    ASSERT_TRUE(fetch(*session).ok());
    ASSERT_EQ(seen.count(), 1);
    const ServerTrust& trust = seen.calls.first();
    EXPECT_EQ(trust.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(trust.port, server->port());
    ASSERT_EQ(trust.chainDer.size(), 2);
    EXPECT_EQ(trust.chainDer[0], pki.leafA.der);
    EXPECT_EQ(trust.chainDer[1], pki.intermediateA.der);
}

TEST_F(HttpTlsTest, TheDecidersRefusalFailsWithCancelled)
{
    start(pki.leafA);
    SeenTrust seen;
    HttpSessionConfiguration configuration = trusting(pki.rootA.certificatePem);
    configuration.trustDecider = seen.decider(TrustDisposition::CancelChallenge);
    auto session = HttpSession::create(configuration);
    const auto result = fetch(*session);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::Cancelled);
    EXPECT_EQ(result.error().domain(), UrlError::Domain);
    EXPECT_EQ(seen.count(), 1);
    EXPECT_EQ(server->requestsServed(), 0);
}

TEST_F(HttpTlsTest, TheDeciderMayTrustAChainTheStoreDoesNot)
{
    // A pinner that verified the chain itself answers "use credential".
    start(pki.leafB);
    SeenTrust seen;
    HttpSessionConfiguration configuration = trusting(pki.rootA.certificatePem);
    configuration.trustDecider = seen.decider(TrustDisposition::UseCredential);
    auto session = HttpSession::create(configuration);
    const auto result = fetch(*session);
    ASSERT_TRUE(result.ok()) << result.error().toString().toStdString();
    ASSERT_EQ(seen.count(), 1);
    EXPECT_EQ(seen.calls.first().chainDer, QList<QByteArray>{pki.leafB.der});
}

TEST_F(HttpTlsTest, DefaultHandlingStillVerifiesAgainstTheStore)
{
    start(pki.leafB);
    SeenTrust seen;
    HttpSessionConfiguration configuration = trusting(pki.rootA.certificatePem);
    configuration.trustDecider = seen.decider(TrustDisposition::PerformDefaultHandling);
    auto session = HttpSession::create(configuration);
    const auto result = fetch(*session);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::ServerCertificateUntrusted);
}

struct RefusedLeaf
{
    const char* name;
    const TestCertificate& (*certificate)(const TestPki&);
};

// Table rows print as their names in test output.
void PrintTo(const RefusedLeaf& value, std::ostream* os)
{
    *os << value.name;
}

class HttpTlsRefusesLeaf : public HttpTlsTest, public ::testing::WithParamInterface<RefusedLeaf>
{};

TEST_P(HttpTlsRefusesLeaf, EvenUnderItsOwnRoot)
{
    start(GetParam().certificate(pki));
    auto session = HttpSession::create(trusting(pki.rootA.certificatePem));
    const auto result = fetch(*session);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::ServerCertificateUntrusted)
        << result.error().toString().toStdString();
    EXPECT_EQ(curlCodeOf(result.error()), int(CURLE_PEER_FAILED_VERIFICATION));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpTlsRefusesLeaf,
    ::testing::Values(
        RefusedLeaf{"WrongHost", [](const TestPki& p) -> const TestCertificate& { return p.wrongHostA; }},
        RefusedLeaf{"Expired", [](const TestPki& p) -> const TestCertificate& { return p.expiredA; }}),
    [](const ::testing::TestParamInfo<RefusedLeaf>& info) { return std::string(info.param.name); });

TEST_F(HttpTlsTest, SessionsWithDifferentTrustPoliciesNeverShareAConnection)
{
    start(pki.leafA);
    SeenTrust refusing;
    SeenTrust trustingDecider;
    HttpSessionConfiguration storeOnly = trusting(pki.rootA.certificatePem);
    HttpSessionConfiguration withDecider = quickConfiguration();
    withDecider.trustDecider = trustingDecider.decider(TrustDisposition::UseCredential);
    auto first = HttpSession::create(storeOnly);
    auto second = HttpSession::create(withDecider);

    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(fetch(*first).ok());
        ASSERT_TRUE(fetch(*second).ok());
    }
    // One handshake per session, each reused by that session only.
    EXPECT_EQ(server->tlsHandshakes(), 2);
    EXPECT_EQ(server->connectionsAccepted(), 2);
    EXPECT_EQ(trustingDecider.count(), 1);

    // A third policy that refuses is asked afresh and refused, whatever the others hold open.
    HttpSessionConfiguration refusingConfiguration = trusting(pki.rootA.certificatePem);
    refusingConfiguration.trustDecider = refusing.decider(TrustDisposition::CancelChallenge);
    auto third = HttpSession::create(refusingConfiguration);
    const auto refused = fetch(*third);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code(), UrlError::Cancelled);
    EXPECT_EQ(refusing.count(), 1);
    // The server notes the failed handshake on its own thread, maybe after the client gave up.
    EXPECT_TRUE(runUntil([&] { return server->tlsHandshakeFailures() == 1; }, 5.0));
    EXPECT_EQ(server->tlsHandshakes(), 2);
}

} // namespace
} // namespace corvex::test
