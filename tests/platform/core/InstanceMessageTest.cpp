#include "platform/core/InstanceMessage.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/NativeFileName.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::LogCapture;
using corvex::test::testDir;

namespace {

const QStringList kRedirectSchemes{QStringLiteral("db-k3rt9wq0zvm5lhx")};

struct InstanceLineCase
{
    QByteArray line;
    bool accepted;
    InstanceMessage::Kind kind;
    QString expected; // the path, or the URL's scheme and query as "scheme|query"
};

} // namespace

TEST(InstanceMessageParser, AcceptsAbsolutePathsFileUrlsAndTheRedirectOnly)
{
    using Kind = InstanceMessage::Kind;
    const InstanceLineCase cases[] = {
        {"/home/u/Map.corvex", true, Kind::File, QStringLiteral("/home/u/Map.corvex")},
        {"/home/u/./docs/../B.opml", true, Kind::File, QStringLiteral("/home/u/B.opml")},
        {"file:///home/u/B%20c.opml", true, Kind::File, QStringLiteral("/home/u/B c.opml")},
        {"file://localhost/tmp/a.corvex", true, Kind::File, QStringLiteral("/tmp/a.corvex")},
        {"DB-K3RT9WQ0ZVM5LHX://1/connect?state=s", true, Kind::Url,
         QStringLiteral("db-k3rt9wq0zvm5lhx|state=s")},
        {"file://elsewhere/tmp/a.corvex", false, Kind::File, {}},
        {"https://example.invalid/", false, Kind::File, {}},
        {"db-otherkey://1/connect", false, Kind::File, {}},
        {"docs/a.corvex", false, Kind::File, {}},
        {"", false, Kind::File, {}},
        {"/tmp/\xff\xfe.corvex", false, Kind::File, {}},
        {QByteArray("/tmp/a\x01"
                    "b"),
         false,
         Kind::File,
         {}},
        {"file:///tmp/a%0Ab%09c", true, Kind::File, QStringLiteral("/tmp/a\nb\tc")},
        {"file:///tmp/a%00b", false, Kind::File, {}},
        {"/" + QByteArray(InstanceMessageParser::MaxLineBytes, 'a'), false, Kind::File, {}},
    };
    for (const InstanceLineCase& c : cases) {
        InstanceMessage message;
        QString reason;
        const bool accepted = InstanceMessageParser::parseLine(c.line, kRedirectSchemes, &message, &reason);
        EXPECT_EQ(accepted, c.accepted) << c.line.left(80).toStdString() << " " << reason.toStdString();
        if (!accepted || !c.accepted)
            continue;
        EXPECT_EQ(message.kind, c.kind) << c.line.toStdString();
        EXPECT_EQ(c.kind == Kind::File ? message.path
                                       : message.url.scheme() + QLatin1Char('|') + message.url.query(),
                  c.expected)
            << c.line.toStdString();
    }
}

TEST(InstanceMessageParser, JoinsLinesAcrossPiecesAndSkipsALongLineWhole)
{
    LogCapture log;
    InstanceMessageParser parser(kRedirectSchemes);
    EXPECT_TRUE(parser.feed("/a/one").empty());
    auto messages = parser.feed(".corvex\r\n/" + QByteArray(InstanceMessageParser::MaxLineBytes, 'x'));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].path, QStringLiteral("/a/one.corvex"));
    // The rest of the long line is dropped; the line after it counts.
    messages = parser.feed(QByteArray(100, 'x') + "\n/b\n/c");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].path, QStringLiteral("/b"));
    messages = parser.finish();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].path, QStringLiteral("/c"));
    EXPECT_EQ(parser.refusedLines(), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("line too long")));
}

TEST(InstanceMessageParser, AFloodClosesTheConnection)
{
    LogCapture log;
    InstanceMessageParser byLines(kRedirectSchemes);
    QByteArray many;
    for (int i = 0; i < InstanceMessageParser::MaxLines + 5; ++i)
        many += "/f\n";
    EXPECT_EQ(byLines.feed(many).size(), size_t(InstanceMessageParser::MaxLines));
    EXPECT_TRUE(byLines.shouldClose());
    EXPECT_TRUE(byLines.feed("/later\n").empty());

    InstanceMessageParser byBytes(kRedirectSchemes);
    const QByteArray noNewline(InstanceMessageParser::MaxConnectionBytes + 1, '/');
    EXPECT_TRUE(byBytes.feed(noNewline).empty());
    EXPECT_TRUE(byBytes.shouldClose());
    EXPECT_TRUE(log.contains(QStringLiteral("more than")));
}

TEST(InstanceMessageParser, ALaunchSendsAbsolutePathsAndUrlsAsGiven)
{
    const QString cwd = testDir();
    // A file whose name looks like a URL is a file when it exists.
    QFile odd(cwd + QStringLiteral("/x:y.corvex"));
    ASSERT_TRUE(odd.open(QIODevice::WriteOnly));
    odd.close();
    const QByteArray lines = InstanceMessageParser::linesForArguments(
        {QStringLiteral("B.opml"), QStringLiteral("-session"), QStringLiteral("sub/../C.corvex"),
         QStringLiteral("file:///tmp/D.opml"), QStringLiteral("db-k3rt9wq0zvm5lhx://1/connect?code=c"),
         QStringLiteral("x:y.corvex"), QStringLiteral("/abs/./E.crvx"), QStringLiteral("two\nlines.corvex"),
         NativeFileName::decode("/tmp/caf\xE9\n.corvex")},
        cwd);
    const QByteArray expected =
        (cwd + QStringLiteral("/B.opml\n") + cwd + QStringLiteral("/C.corvex\n")).toUtf8() +
        "file:///tmp/D.opml\ndb-k3rt9wq0zvm5lhx://1/connect?code=c\n" +
        (cwd + QStringLiteral("/x:y.corvex\n")).toUtf8() + "/abs/E.crvx\n" + "file://" +
        (cwd + QStringLiteral("/two\nlines.corvex")).toUtf8().toPercentEncoding("/") + "\n" +
        "file:///tmp/caf%E9%0A.corvex\n";
    EXPECT_EQ(lines, expected);
    // Each line is taken back as it was meant, the line break in a name kept.
    InstanceMessageParser parser;
    const auto messages = parser.feed(lines);
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_EQ(messages[5].path, cwd + QStringLiteral("/two\nlines.corvex"));
    EXPECT_EQ(NativeFileName::encode(messages[6].path), "/tmp/caf\xE9\n.corvex");
}

namespace {

class ScriptedSignIn : public DropboxSignInService
{
public:
    bool isRedirectURL(const QUrl& url) const override
    {
        ++asked;
        return url.query().contains(QStringLiteral("state=ours"));
    }
    void handleRedirectURL(const QUrl&, Completion completion) override { completion(Outcome::Success, {}); }
    bool hasAuthorizedClient() const override { return false; }
    void authorizeFromControllerDesktop(std::function<void(const QUrl&)>) override {}
    void unlinkAndResetClients() override {}
    mutable int asked = 0;
};

} // namespace

TEST(LaunchSeams, NothingRunsOrRedirectsWithoutARegisteredService)
{
    EXPECT_FALSE(ReportingKitLaunch::start());
    int runs = 0;
    ReportingKitLaunch::setHook([&runs] { ++runs; });
    EXPECT_TRUE(ReportingKitLaunch::start());
    EXPECT_EQ(runs, 1);
    ReportingKitLaunch::setHook({});
    EXPECT_FALSE(ReportingKitLaunch::start());

    const QUrl redirect(QStringLiteral("db-k3rt9wq0zvm5lhx://1/connect?state=ours"));
    EXPECT_FALSE(DropboxSignInService::isRedirect(redirect));
    auto service = std::make_shared<ScriptedSignIn>();
    DropboxSignInService::setRegistered(service);
    EXPECT_TRUE(DropboxSignInService::isRedirect(redirect));
    // Only the redirect scheme ever reaches the service.
    EXPECT_FALSE(DropboxSignInService::isRedirect(QUrl(QStringLiteral("https://x.invalid/?state=ours"))));
    EXPECT_EQ(service->asked, 1);
    EXPECT_FALSE(DropboxSignInService::isRedirect(
        QUrl(QStringLiteral("db-k3rt9wq0zvm5lhx://1/connect?state=forged"))));
    DropboxSignInService::setRegistered(nullptr);
    EXPECT_EQ(DropboxNotifications::InvalidAccessToken,
              QStringLiteral("DropboxInvalidAccessTokenNotification"));
}

TEST(LaunchSeams, TheAppKeyComesFromTheEnvironmentWhenItIsPlain)
{
    EXPECT_EQ(DropboxSignInService::redirectScheme(), QStringLiteral("db-k3rt9wq0zvm5lhx"));
    qputenv("CORVEX_DROPBOX_APP_KEY", "Abc123");
    EXPECT_EQ(DropboxSignInService::redirectScheme(), QStringLiteral("db-abc123"));
    qputenv("CORVEX_DROPBOX_APP_KEY", "a/b;c");
    EXPECT_EQ(DropboxSignInService::redirectScheme(), QStringLiteral("db-k3rt9wq0zvm5lhx"));
    qunsetenv("CORVEX_DROPBOX_APP_KEY");
}
