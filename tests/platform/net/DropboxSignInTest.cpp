#include "platform/net/DBClientsManager.h"
#include "platform/net/DropboxApiArg.h"
#include "platform/net/DropboxRedirect.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/net/DropboxEmulator.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>

CORVEX_TEST_HELPER(printDropboxAccessToken)
{
    const auto credentials = corvex::DropboxTokenStore().load();
    std::printf("%s\n", credentials ? qPrintable(credentials->accessToken) : "none");
    std::fflush(stdout);
    return 0;
}

namespace corvex::test {

namespace {

using Outcome = DropboxSignInService::Outcome;

struct SignInAnswer
{
    std::optional<Outcome> outcome;
    QString description;
    int calls = 0;
};

} // namespace

class DropboxSignInTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(emulator.start());
        DBClientsManager::Options options;
        options.appKey = QStringLiteral("testkey");
        options.endpoints = DropboxEndpoints::atServer(emulator.baseUrl());
        manager = std::make_shared<DBClientsManager>(std::move(options));
    }

    QString startSignIn()
    {
        QUrl page;
        manager->authorizeFromControllerDesktop([&page](const QUrl& url) { page = url; });
        return page.toString();
    }

    SignInAnswer handle(const QString& url)
    {
        auto answer = std::make_shared<SignInAnswer>();
        manager->handleRedirectURL(QUrl(url), [answer](Outcome outcome, const QString& description) {
            answer->outcome = outcome;
            answer->description = description;
            ++answer->calls;
        });
        EXPECT_TRUE(runUntil([&] { return answer->calls > 0; }));
        processEvents();
        EXPECT_EQ(answer->calls, 1);
        return *answer;
    }

    static QString withState(const QString& url, const QString& state)
    {
        QUrl changed(url);
        QUrlQuery query(changed);
        query.removeAllQueryItems(QStringLiteral("state"));
        query.addQueryItem(QStringLiteral("state"), state);
        changed.setQuery(query);
        return changed.toString();
    }

    DropboxEmulator emulator;
    std::shared_ptr<DBClientsManager> manager;
};

// A redirect with a wrong state is not ours and writes nothing; the right one signs in,
// leaving a 0600 token file another process reads; the same answer a second time is not ours.
TEST_F(DropboxSignInTest, CodeFlowWithStateAndPrivateTokenFile)
{
    const QString page = startSignIn();
    const QUrlQuery query{QUrl(page)};
    EXPECT_TRUE(page.startsWith(emulator.baseUrl() + QStringLiteral("/oauth2/authorize?")));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("code_challenge_method")), QStringLiteral("S256"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("client_id")), QStringLiteral("testkey"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("token_access_type")), QStringLiteral("offline"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
              QStringLiteral("db-testkey://2/token"));

    const QString redirect = emulator.openInBrowser(page);
    ASSERT_TRUE(redirect.startsWith(QStringLiteral("db-testkey://2/token?"))) << qPrintable(redirect);
    const QString forged = withState(redirect, QStringLiteral("someone-elses"));
    EXPECT_FALSE(manager->isRedirectURL(QUrl(forged)));
    EXPECT_EQ(handle(forged).outcome, Outcome::NotRedirect);
    EXPECT_EQ(handle(QStringLiteral("https://example.invalid/?code=1&state=2")).outcome,
              Outcome::NotRedirect);
    EXPECT_FALSE(QFileInfo::exists(DropboxTokenStore::defaultPath()));
    EXPECT_EQ(emulator.count("oauth2/token"), 0);

    EXPECT_TRUE(manager->isRedirectURL(QUrl(redirect)));
    EXPECT_EQ(handle(redirect).outcome, Outcome::Success);
    ASSERT_TRUE(QFileInfo::exists(DropboxTokenStore::defaultPath()));
    struct stat info = {};
    ASSERT_EQ(::stat(qPrintable(DropboxTokenStore::defaultPath()), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(manager->hasAuthorizedClient());
    ASSERT_TRUE(manager->authorizedClient());
    ASSERT_EQ(emulator.issuedAccessTokens().size(), 1u);
    EXPECT_EQ(manager->authorizedClient()->credentials().accessToken, emulator.issuedAccessTokens().front());

    auto reader = HelperProcess::start(QStringLiteral("printDropboxAccessToken"));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->readLine(), emulator.issuedAccessTokens().front().toUtf8());
    EXPECT_EQ(reader->wait(), 0);

    EXPECT_EQ(handle(redirect).outcome, Outcome::NotRedirect); // the state was used up
    EXPECT_EQ(manager->pendingSignIns(), 0u);
}

// A declined page is a cancel, a page error an error; neither writes a token. Unlinking
// revokes the token at the service and deletes the file.
TEST_F(DropboxSignInTest, CancelErrorAndUnlink)
{
    const QString declined = emulator.openInBrowser(startSignIn());
    QUrl url(declined);
    QUrlQuery query(url);
    const QString state = query.queryItemValue(QStringLiteral("state"));
    const SignInAnswer cancel =
        handle(QStringLiteral("db-testkey://2/token?error=access_denied&state=") + state);
    EXPECT_EQ(cancel.outcome, Outcome::Cancel);
    const QString other =
        QUrlQuery(QUrl(emulator.openInBrowser(startSignIn()))).queryItemValue(QStringLiteral("state"));
    const SignInAnswer error = handle(
        QStringLiteral("db-testkey://2/token?error=server_error&error_description=down&state=") + other);
    EXPECT_EQ(error.outcome, Outcome::Error);
    EXPECT_EQ(error.description, QStringLiteral("down"));
    EXPECT_FALSE(QFileInfo::exists(DropboxTokenStore::defaultPath()));
    EXPECT_FALSE(manager->hasAuthorizedClient());

    ASSERT_EQ(handle(emulator.openInBrowser(startSignIn())).outcome, Outcome::Success);
    const QString token = manager->authorizedClient()->credentials().accessToken;
    EXPECT_TRUE(emulator.isValidAccessToken(token));
    bool done = false;
    manager->unlinkAndResetClients([&done] { done = true; });
    EXPECT_FALSE(QFileInfo::exists(DropboxTokenStore::defaultPath()));
    ASSERT_TRUE(runUntil([&] { return done; }));
    EXPECT_FALSE(emulator.isValidAccessToken(token));
    EXPECT_FALSE(manager->authorizedClient());
    EXPECT_EQ(emulator.count("auth/token/revoke"), 1);
}

// The argument header carries escapes for 0x7F and every non-ASCII character, and any JSON
// reader gets the same text back.
TEST(DropboxApiArgTest, HeaderSafeEscapesAndRoundTrips)
{
    const QString path = QStringLiteral("/é\u007f😀\u00a0x\"\\.crvx");
    const QByteArray json =
        QJsonDocument(QJsonObject{{QStringLiteral("path"), path}}).toJson(QJsonDocument::Compact);
    const QByteArray safe = DropboxApiArg::headerSafe(json);
    for (const char byte : safe)
        EXPECT_LT(static_cast<unsigned char>(byte), 0x7F) << safe.constData();
    EXPECT_TRUE(safe.contains("\\u007f"));
    EXPECT_TRUE(safe.contains("\\ud83d\\ude00"));
    EXPECT_EQ(QJsonDocument::fromJson(safe).object().value(QStringLiteral("path")).toString(), path);
}

// Only a well-formed answer of the sign-in page is read; the token file is read only whole.
TEST(DropboxRedirectTest, ParsesOnlyWellFormedRedirectsAndTokenFiles)
{
    const QString scheme = QStringLiteral("db-k");
    const auto good =
        DropboxRedirect::parse(QUrl(QStringLiteral("db-k://2/token?code=c%2B1&state=s")), scheme);
    ASSERT_TRUE(good);
    EXPECT_EQ(good->code, QStringLiteral("c+1"));
    EXPECT_EQ(good->state, QStringLiteral("s"));
    for (const char* bad :
         {"db-other://2/token?code=c&state=s", "db-k://2/elsewhere?code=c&state=s", "db-k://2/token?code=c",
          "db-k://2/token?state=s", "db-k://2/token?code=c&error=e&state=s",
          "db-k://2/token?code=c&state=s&state=t", "not a url"})
        EXPECT_FALSE(DropboxRedirect::parse(QUrl(QString::fromLatin1(bad)), scheme)) << bad;

    EXPECT_EQ(
        DropboxTokenStore::decode(DropboxTokenStore::encode({QStringLiteral("a"), QStringLiteral("r")})),
        (DropboxCredentials{QStringLiteral("a"), QStringLiteral("r")}));
    for (const char* bad : {"", "{", "[]", "{\"access_token\":1}", "{\"access_token\":\"\"}",
                            "{\"access_token\":\"a\",\"refresh_token\":[]}"})
        EXPECT_FALSE(DropboxTokenStore::decode(QByteArray(bad))) << bad;
    writeFile(DropboxTokenStore::defaultPath(), "{garbage");
    EXPECT_FALSE(DropboxTokenStore().load());
}

} // namespace corvex::test

namespace corvex::test {

// The emulator refuses what the service refuses, so that the client's tests would catch a
// form Content-Type, a raw byte in the argument header, a listing cursor that was never one
// (400) or one that expired (409 reset).
TEST(DropboxEmulatorTest, RefusesWhatTheServiceRefuses)
{
    DropboxEmulator emulator;
    ASSERT_TRUE(emulator.start());
    emulator.addAccessToken(QStringLiteral("t"));
    auto session = HttpSession::create();
    const auto send = [&](const QByteArray& route, const QByteArray& type, const QByteArray& arg,
                          const QByteArray& body) {
        HttpRequest request = HttpRequest::post(
            QUrl(emulator.baseUrl() + QStringLiteral("/2/") + QString::fromLatin1(route)), body, type);
        request.headers.set("Authorization", "Bearer t");
        if (!arg.isEmpty())
            request.headers.set("Dropbox-API-Arg", arg);
        auto transfer = session->makeTransfer(request);
        std::optional<Result<HttpResponse>> result;
        transfer->start([&result](const Result<HttpResponse>& r) { result = r; });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        return result ? result->valueOr(HttpResponse{}) : HttpResponse{};
    };
    const HttpResponse form =
        send("files/upload", "application/x-www-form-urlencoded", R"({"path":"/a"})", "x");
    EXPECT_EQ(form.statusCode, 400);
    EXPECT_TRUE(form.body.contains("Content-Type")) << form.body.constData();
    const HttpResponse raw =
        send("files/upload", "application/octet-stream", "{\"path\":\"/\xc3\xa9\"}", "x");
    EXPECT_EQ(raw.statusCode, 400);
    EXPECT_EQ(send("files/list_folder", "text/plain", R"({"path":""})", R"({"path":""})").statusCode, 400);
    const HttpResponse never =
        send("files/list_folder/continue", "application/json", {}, R"({"cursor":"nope"})");
    EXPECT_EQ(never.statusCode, 400);
    EXPECT_TRUE(never.body.contains("cursor")) << never.body.constData();
    const QByteArray cursor =
        QJsonDocument::fromJson(send("files/list_folder", "application/json", {}, R"({"path":""})").body)
            .object()
            .value(QStringLiteral("cursor"))
            .toString()
            .toUtf8();
    emulator.expireCursors();
    const HttpResponse reset =
        send("files/list_folder/continue", "application/json", {}, R"({"cursor":")" + cursor + R"("})");
    EXPECT_EQ(reset.statusCode, 409);
    EXPECT_TRUE(reset.body.contains(R"({".tag":"reset"})")) << reset.body.constData();
    const HttpResponse safe =
        send("files/upload", "application/octet-stream",
             DropboxApiArg::headerSafe(QStringLiteral("{\"path\":\"/é\"}").toUtf8()), "x");
    EXPECT_EQ(safe.statusCode, 200) << safe.body.constData();
    EXPECT_EQ(emulator.file(QStringLiteral("/É"))->content, QByteArray("x"));
}

} // namespace corvex::test
