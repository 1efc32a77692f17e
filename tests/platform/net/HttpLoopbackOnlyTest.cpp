// The loopback-only switch the test main sets: every host but 127.0.0.1 fails at once,
// redirects included, without a socket.

#include "tests/platform/net/NetTestSupport.h"
#include "tests/support/VirtualScheduler.h"

#include <cstdlib>

namespace corvex::test {
namespace {

TEST(HttpLoopbackOnly, TheTestMainSetsTheSwitch)
{
    EXPECT_EQ(qgetenv(HttpSession::LoopbackOnlyVariable), QByteArray("1"));
    EXPECT_TRUE(HttpSession::create()->loopbackOnly());
}

struct OutsideHost
{
    const char* name;
    const char* url;
};

// Table rows print as their names in test output.
void PrintTo(const OutsideHost& value, std::ostream* os)
{
    *os << value.name;
}

class HttpLoopbackOnlyRefuses : public ::testing::TestWithParam<OutsideHost>
{};

TEST_P(HttpLoopbackOnlyRefuses, AtOnceAndWithoutASocket)
{
    ScopedVirtualTime time;
    auto session = HttpSession::create();
    auto transfer = session->makeTransfer(HttpRequest::get(QUrl(QString::fromLatin1(GetParam().url))));
    auto record = startRecorded(*transfer);
    // At once: the next turn of the main loop, on virtual time that never moves.
    processEvents();
    ASSERT_TRUE(record->done());
    expectSingleCompletion(*record);
    EXPECT_EQ(record->result().error().code(), UrlError::CannotConnectToHost);
    EXPECT_EQ(session->socketsOpened(), 0);
    EXPECT_EQ(session->activeTransfers(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpLoopbackOnlyRefuses,
    ::testing::Values(OutsideHost{"NamedHost", "https://api.dropboxapi.com/2/files/list_folder"},
                      OutsideHost{"Localhost", "http://localhost:80/"},
                      OutsideHost{"OtherAddress", "http://10.0.0.1/"},
                      OutsideHost{"OtherLoopbackAddress", "http://127.0.0.2/"},
                      OutsideHost{"Ipv6Loopback", "http://[::1]:80/"}),
    [](const ::testing::TestParamInfo<OutsideHost>& info) { return std::string(info.param.name); });

TEST(HttpLoopbackOnly, ARedirectAwayFromLoopbackIsRefusedBeforeItIsFollowed)
{
    ScopedVirtualTime time;
    LoopbackServer server;
    server.route("/away", [](const LoopbackRequest&, LoopbackConnection& connection) {
        connection.respond(302, {}, {{"Location", "http://corvex-outside.example/next"}});
    });
    ASSERT_TRUE(server.start());
    auto session = HttpSession::create(quickConfiguration());
    const auto result = runTransfer(*session, HttpRequest::get(serverUrl(server, "/away")));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), UrlError::CannotConnectToHost);
    EXPECT_EQ(session->socketsOpened(), 1);
    EXPECT_TRUE(result.error().localizedDescription().contains(QStringLiteral("corvex-outside.example")));
}

// Even where every host may be reached, a name in the reserved ".invalid" domain (where an
// unconfigured build's reporting hosts lie) fails at once, before any lookup, also as the
// target of a redirect.
TEST(HttpLoopbackOnly, ReservedInvalidNamesFailWithoutALookupWhereverTheyCome)
{
    ScopedVirtualTime time;
    LoopbackServer server;
    server.route("/away", [](const LoopbackRequest&, LoopbackConnection& connection) {
        connection.respond(302, {}, {{"Location", "https://Events.Tally.INVALID./next"}});
    });
    ASSERT_TRUE(server.start());
    ::setenv(HttpSession::LoopbackOnlyVariable, "0", 1);
    auto session = HttpSession::create(quickConfiguration());
    ::setenv(HttpSession::LoopbackOnlyVariable, "1", 1);
    ASSERT_FALSE(session->loopbackOnly());

    auto transfer =
        session->makeTransfer(HttpRequest::get(QUrl(QStringLiteral("https://settings.loom.invalid/x"))));
    auto record = startRecorded(*transfer);
    processEvents();
    ASSERT_TRUE(record->done());
    EXPECT_EQ(record->result().error().code(), UrlError::CannotFindHost);
    EXPECT_EQ(session->socketsOpened(), 0);

    const auto redirected = runTransfer(*session, HttpRequest::get(serverUrl(server, "/away")));
    ASSERT_FALSE(redirected.ok());
    EXPECT_EQ(redirected.error().code(), UrlError::CannotFindHost);
    EXPECT_EQ(session->socketsOpened(), 1);

    // A loopback-only process gives the same reason.
    auto closed = HttpSession::create(quickConfiguration());
    ASSERT_TRUE(closed->loopbackOnly());
    const auto reserved =
        runTransfer(*closed, HttpRequest::get(QUrl(QStringLiteral("https://settings.loom.invalid/x"))));
    ASSERT_FALSE(reserved.ok());
    EXPECT_EQ(reserved.error().code(), UrlError::CannotFindHost);
    EXPECT_EQ(reserved.error().localizedDescription(),
              QStringLiteral("settings.loom.invalid is a reserved name that never resolves"));
}

TEST(HttpLoopbackOnly, TheSwitchIsReadWhenASessionIsMade)
{
    ::setenv(HttpSession::LoopbackOnlyVariable, "0", 1);
    auto open = HttpSession::create();
    ::setenv(HttpSession::LoopbackOnlyVariable, "1", 1);
    auto closed = HttpSession::create();
    EXPECT_FALSE(open->loopbackOnly());
    EXPECT_TRUE(closed->loopbackOnly());
}

} // namespace
} // namespace corvex::test
