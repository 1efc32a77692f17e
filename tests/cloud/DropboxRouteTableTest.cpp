// Every route the Dropbox client uses, as the service documents it, against the emulator:
// each request the client can send, and each malformed one, with the status and the body the
// service answers. Requests go out as bytes on HTTP, not through the client, so that the
// emulator is checked on its own.

#include "platform/net/HttpSession.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/support/net/DropboxEmulator.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvex::test {

namespace {

enum class Transport
{
    Rpc,      // POST, Content-Type application/json, the argument as the body
    Upload,   // POST, Content-Type application/octet-stream, the argument in Dropbox-API-Arg
    Download, // POST, no Content-Type, no body, the argument in Dropbox-API-Arg
    Token,    // POST /oauth2/token, a form
    Page,     // GET /oauth2/authorize?<argument>
};

// What a row changes of the well-formed request, or of the emulator before it.
enum class Tweak
{
    None,
    NoAuthorization,
    NotBearer,
    EmptyBearer,
    UnknownToken,
    ExpiredToken,
    NoContentType,
    PlainText,
    FormType,
    RawByteInArgument,
    NoArgumentHeader,
    LargeBody,    // 2 KiB against a 1 KiB upload limit
    Quota,        // 2 bytes of space left
    RateLimited,  // Retry-After 7
    WriteOps,     // one injected too_many_write_operations
    CursorsGone,  // every cursor expired
    TokenExpires, // tokens live 60 s, and 61 s pass
    SecondApp,    // "otherkey" is registered too
};

struct Row
{
    const char* name;
    QByteArray route;
    Transport transport;
    QByteArray argument; // $REV: the rev of /a.crvx; $CURSOR: a cursor of "" with more to come; $CODE: a
                         // sign-in code
    int status;
    // 200: the members the result must have ("!m": must not have); for a download, of its
    // Dropbox-API-Result. 4xx with a JSON body: the start of its "error_summary". 400 with text:
    // a piece of the text.
    const char* expect;
    // A JSON answer's "error" ("*" stands for any string); empty for none.
    QByteArray error = {};
    Tweak tweak = Tweak::None;
};

const QByteArray Verifier(43, 'v');

QByteArray challenge()
{
    return QCryptographicHash::hash(Verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray signInQuery()
{
    return "client_id=testkey&response_type=code&code_challenge=" + challenge() +
           "&code_challenge_method=S256&token_access_type=offline&redirect_uri=db-testkey%3A%2F%2F2%2Ftoken&"
           "state=s";
}

// `expected` with "*" for any string value.
bool matches(const QJsonValue& expected, const QJsonValue& actual)
{
    if (expected.isString() && expected.toString() == QLatin1String("*"))
        return actual.isString();
    if (expected.isObject() && actual.isObject()) {
        const QJsonObject want = expected.toObject();
        const QJsonObject got = actual.toObject();
        if (want.keys() != got.keys())
            return false;
        for (auto it = want.begin(); it != want.end(); ++it)
            if (!matches(it.value(), got.value(it.key())))
                return false;
        return true;
    }
    return expected == actual;
}

// A request written by hand on a socket: a POST without Content-Length, as curl sends one
// for a download without -d.
QByteArray rawExchange(quint16 port, const QByteArray& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL) == request.size()) {
        // Nothing more comes: the server closes once it has answered.
        ::shutdown(fd, SHUT_WR);
        char chunk[4096];
        ssize_t got = 0;
        while ((got = ::recv(fd, chunk, sizeof chunk, 0)) > 0)
            answer.append(chunk, qsizetype(got));
    }
    ::close(fd);
    return answer;
}

// The sign-in page's answer as a browser gets it (no redirect followed).
HttpResponse rawGet(quint16 port, const QByteArray& target)
{
    const QByteArray answer =
        rawExchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    HttpResponse response;
    const qsizetype end = answer.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = answer.left(end).split('\n');
    response.statusCode = lines.value(0).split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            response.headers.set(lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed());
    }
    response.body = end < 0 ? QByteArray() : answer.mid(end + 4);
    return response;
}

} // namespace

class DropboxRouteTableTest : public ::testing::Test
{
protected:
    // A fresh emulator per row: a file, a folder with a picture, one entry a listing page.
    void prepare()
    {
        emulator = std::make_unique<DropboxEmulator>();
        ASSERT_TRUE(emulator->start());
        emulator->addAccessToken(QStringLiteral("good"));
        emulator->addAccessToken(QStringLiteral("old"));
        emulator->expireAccessToken(QStringLiteral("old"));
        emulator->addRefreshToken(QStringLiteral("refresh"));
        emulator->putFile(QStringLiteral("/a.crvx"), "a");
        emulator->putFile(QStringLiteral("/attachments/p.png"), "p");
        emulator->setPageSize(1);
    }

    HttpResponse send(HttpRequest request)
    {
        std::optional<Result<HttpResponse>> result;
        auto transfer = session->makeTransfer(std::move(request));
        transfer->start([&result](const Result<HttpResponse>& r) { result = r; });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        return result ? result->valueOr(HttpResponse{}) : HttpResponse{};
    }

    HttpResponse rpc(const QByteArray& route, const QByteArray& body)
    {
        HttpRequest request = HttpRequest::post(
            QUrl(emulator->baseUrl() + "/2/" + QString::fromLatin1(route)), body, "application/json");
        request.headers.set("Authorization", "Bearer good");
        return send(std::move(request));
    }

    QByteArray substitute(QByteArray argument)
    {
        if (argument.contains("$REV"))
            argument.replace("$REV", emulator->file(QStringLiteral("/a.crvx"))->rev.toUtf8());
        if (argument.contains("$CURSOR")) {
            const QJsonObject page =
                QJsonDocument::fromJson(rpc("files/list_folder", R"({"path":""})").body).object();
            EXPECT_TRUE(page.value(QStringLiteral("has_more")).toBool());
            argument.replace("$CURSOR", page.value(QStringLiteral("cursor")).toString().toUtf8());
        }
        if (argument.contains("$CODE")) {
            const QString redirect = emulator->openInBrowser(emulator->baseUrl() + "/oauth2/authorize?" +
                                                             QString::fromLatin1(signInQuery()));
            const QUrlQuery answer(redirect.section(QLatin1Char('?'), 1));
            argument.replace("$CODE", answer.queryItemValue(QStringLiteral("code")).toUtf8());
        }
        return argument;
    }

    void apply(Tweak tweak)
    {
        switch (tweak) {
        case Tweak::LargeBody:
            emulator->setUploadLimit(1024);
            break;
        case Tweak::Quota:
            emulator->setQuota(emulator->usedBytes() + 2);
            break;
        case Tweak::RateLimited:
            emulator->setRateLimit(7);
            break;
        case Tweak::WriteOps:
            emulator->injectFault("files/upload", DropboxEmulator::Fault::TooManyWriteOperations);
            break;
        case Tweak::CursorsGone:
            emulator->expireCursors();
            break;
        case Tweak::TokenExpires:
            emulator->setAccessTokenLifetime(60.0);
            time.advance(61.0);
            break;
        case Tweak::SecondApp:
            emulator->registerApp(QStringLiteral("otherkey"), {QStringLiteral("db-otherkey://2/token")});
            break;
        default:
            break;
        }
    }

    HttpResponse exchange(const Row& row, const QByteArray& argument)
    {
        if (row.transport == Transport::Page)
            return rawGet(quint16(QUrl(emulator->baseUrl()).port()), "/oauth2/authorize?" + argument);
        return send(request(row, argument));
    }

    HttpRequest request(const Row& row, const QByteArray& argument)
    {
        const QString base = emulator->baseUrl();
        HttpRequest request;
        switch (row.transport) {
        case Transport::Token:
            return HttpRequest::post(QUrl(base + "/oauth2/token"), argument,
                                     "application/x-www-form-urlencoded");
        case Transport::Page:
        case Transport::Rpc:
            request = HttpRequest::post(QUrl(base + "/2/" + QString::fromLatin1(row.route)), argument,
                                        "application/json");
            break;
        case Transport::Upload:
            request =
                HttpRequest::post(QUrl(base + "/2/" + QString::fromLatin1(row.route)),
                                  row.tweak == Tweak::LargeBody ? QByteArray(2048, 'x') : QByteArray("new"),
                                  "application/octet-stream");
            request.headers.set("Dropbox-API-Arg", argument);
            break;
        case Transport::Download:
            request = HttpRequest::post(QUrl(base + "/2/" + QString::fromLatin1(row.route)), QByteArray());
            request.headers.set("Dropbox-API-Arg", argument);
            break;
        }
        const QByteArray token = row.tweak == Tweak::UnknownToken   ? "stranger"
                                 : row.tweak == Tweak::ExpiredToken ? "old"
                                                                    : "good";
        if (row.tweak == Tweak::NotBearer)
            request.headers.set("Authorization", "Basic Z29vZA==");
        else if (row.tweak == Tweak::EmptyBearer)
            request.headers.set("Authorization", "Bearer ");
        else if (row.tweak != Tweak::NoAuthorization)
            request.headers.set("Authorization", "Bearer " + token);
        if (row.tweak == Tweak::NoContentType)
            request.headers.remove("Content-Type");
        if (row.tweak == Tweak::PlainText)
            request.headers.set("Content-Type", "text/plain");
        if (row.tweak == Tweak::FormType)
            request.headers.set("Content-Type", "application/x-www-form-urlencoded");
        if (row.tweak == Tweak::RawByteInArgument)
            request.headers.set("Dropbox-API-Arg", R"({"path":"/)" + QByteArray("\xc3\xa9") + R"(.crvx"})");
        if (row.tweak == Tweak::NoArgumentHeader)
            request.headers.remove("Dropbox-API-Arg");
        return request;
    }

    void check(const Row& row, const HttpResponse& response)
    {
        ASSERT_EQ(response.statusCode, row.status) << response.body.constData();
        const QString expect = QString::fromLatin1(row.expect);
        if (row.status == 200 || row.status == 302) {
            const QByteArray result = row.transport == Transport::Download
                                          ? response.headers.value("Dropbox-API-Result")
                                      : row.transport == Transport::Page ? response.headers.value("Location")
                                                                         : response.body;
            if (row.transport == Transport::Page) {
                EXPECT_TRUE(result.startsWith(row.expect)) << result.constData();
                return;
            }
            const QJsonObject object = QJsonDocument::fromJson(result).object();
            for (const QString& member : expect.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                if (member.startsWith(QLatin1Char('!')))
                    EXPECT_FALSE(object.contains(member.mid(1)))
                        << member.toStdString() << " in " << result.constData();
                else
                    EXPECT_TRUE(object.contains(member))
                        << member.toStdString() << " not in " << result.constData();
            }
            return;
        }
        if (row.error.isEmpty()) {
            EXPECT_TRUE(response.body.contains(row.expect)) << response.body.constData();
            EXPECT_TRUE(response.headers.value("Content-Type").startsWith("text/plain"));
            return;
        }
        const QJsonObject body = QJsonDocument::fromJson(response.body).object();
        EXPECT_TRUE(body.value(QStringLiteral("error_summary")).toString().startsWith(expect))
            << response.body.constData();
        EXPECT_TRUE(matches(QJsonDocument::fromJson(row.error).object(), body.value(QStringLiteral("error"))))
            << response.body.constData();
    }

    ScopedVirtualTime time{1000.0, VirtualScheduler::Mode::AutoAdvance};
    std::shared_ptr<HttpSession> session = HttpSession::create();
    std::unique_ptr<DropboxEmulator> emulator;
};

TEST_F(DropboxRouteTableTest, EveryRouteAnswersAsTheServiceDocumentsIt)
{
    const QByteArray pathNotFound = R"({".tag":"path","path":{".tag":"not_found"}})";
    const QByteArray uploadConflictFile =
        R"({".tag":"path","reason":{".tag":"conflict","conflict":{".tag":"file"}},"upload_session_id":"*"})";
    const Row rows[] = {
        // What the client sends.
        {"list the root", "files/list_folder", Transport::Rpc, R"({"path":""})", 200,
         "entries,cursor,has_more"},
        {"list the attachments", "files/list_folder", Transport::Rpc, R"({"path":"/attachments"})", 200,
         "entries,cursor,has_more"},
        {"continue", "files/list_folder/continue", Transport::Rpc, R"({"cursor":"$CURSOR"})", 200,
         "entries,cursor,has_more"},
        {"ensure a new folder", "files/create_folder_v2", Transport::Rpc,
         R"({"path":"/pictures","autorename":false})", 200, "metadata"},
        {"add a new file", "files/upload", Transport::Upload,
         R"({"path":"/b.crvx","autorename":false,"mute":true,"client_modified":"2026-01-02T03:04:05Z","mode":"add"})",
         200, "name,path_lower,path_display,id,rev,size,content_hash,client_modified,server_modified,!.tag"},
        {"update a file at its revision", "files/upload", Transport::Upload,
         R"({"path":"/a.crvx","autorename":false,"mute":true,"client_modified":"2026-01-02T03:04:05Z","mode":{".tag":"update","update":"$REV"}})",
         200, "rev,size,!.tag"},
        {"update a missing file writes it", "files/upload", Transport::Upload,
         R"({"path":"/c.crvx","mode":{".tag":"update","update":"0000000000ff"}})", 200, "rev"},
        {"download", "files/download", Transport::Download, R"({"path":"/a.crvx"})", 200,
         "rev,path_lower,!.tag"},
        {"download by another casing", "files/download", Transport::Download, R"({"path":"/A.CRVX"})", 200,
         "rev"},
        {"peek at a file", "files/get_metadata", Transport::Rpc, R"({"path":"/a.crvx"})", 200,
         ".tag,rev,path_lower"},
        {"peek at a folder", "files/get_metadata", Transport::Rpc, R"({"path":"/attachments"})", 200,
         ".tag,!rev"},
        {"delete at its revision", "files/delete_v2", Transport::Rpc,
         R"({"path":"/a.crvx","parent_rev":"$REV"})", 200, "metadata"},
        {"revoke", "auth/token/revoke", Transport::Rpc, "null", 200, ""},
        {"revoke with no body", "auth/token/revoke", Transport::Rpc, "", 200, "", {}, Tweak::NoContentType},
        {"refresh", "oauth2/token", Transport::Token,
         "grant_type=refresh_token&refresh_token=refresh&client_id=testkey", 200,
         "access_token,token_type,expires_in"},
        {"sign-in page", "oauth2/authorize", Transport::Page, signInQuery(), 302,
         "db-testkey://2/token?code="},
        {"code exchange", "oauth2/token", Transport::Token,
         "grant_type=authorization_code&code=$CODE&client_id=testkey&code_verifier=" + Verifier +
             "&redirect_uri=db-testkey%3A%2F%2F2%2Ftoken",
         200, "access_token,refresh_token,expires_in"},

        // Replies the client reads (409), and the refusals of a write it can meet.
        {"list a missing folder", "files/list_folder", Transport::Rpc, R"({"path":"/gone"})", 409,
         "path/not_found/", pathNotFound},
        {"list a file", "files/list_folder", Transport::Rpc, R"({"path":"/a.crvx"})", 409, "path/not_folder/",
         R"({".tag":"path","path":{".tag":"not_folder"}})"},
        {"list with a trailing slash", "files/list_folder", Transport::Rpc, R"({"path":"/attachments/"})",
         409, "path/malformed_path/", R"({".tag":"path","path":{".tag":"malformed_path"}})"},
        {"continue an expired cursor", "files/list_folder/continue", Transport::Rpc,
         R"({"cursor":"$CURSOR"})", 409, "reset/", R"({".tag":"reset"})", Tweak::CursorsGone},
        {"ensure an existing folder", "files/create_folder_v2", Transport::Rpc, R"({"path":"/Attachments"})",
         409, "path/conflict/folder/",
         R"({".tag":"path","path":{".tag":"conflict","conflict":{".tag":"folder"}}})"},
        {"ensure where a file is", "files/create_folder_v2", Transport::Rpc, R"({"path":"/a.crvx"})", 409,
         "path/conflict/file/", R"({".tag":"path","path":{".tag":"conflict","conflict":{".tag":"file"}}})"},
        {"ensure below a file", "files/create_folder_v2", Transport::Rpc, R"({"path":"/a.crvx/x"})", 409,
         "path/conflict/file_ancestor/",
         R"({".tag":"path","path":{".tag":"conflict","conflict":{".tag":"file_ancestor"}}})"},
        {"add over another file", "files/upload", Transport::Upload, R"({"path":"/a.crvx","mode":"add"})",
         409, "path/conflict/file/", uploadConflictFile},
        {"update at a stale revision", "files/upload", Transport::Upload,
         R"({"path":"/a.crvx","mode":{".tag":"update","update":"0000000000ff"}})", 409, "path/conflict/file/",
         uploadConflictFile},
        {"strict update of a missing file", "files/upload", Transport::Upload,
         R"({"path":"/c.crvx","mode":{".tag":"update","update":"0000000000ff"},"strict_conflict":true})", 409,
         "path/conflict/file/", uploadConflictFile},
        {"upload over a folder", "files/upload", Transport::Upload,
         R"({"path":"/attachments","mode":"overwrite"})", 409, "path/conflict/folder/",
         R"({".tag":"path","reason":{".tag":"conflict","conflict":{".tag":"folder"}},"upload_session_id":"*"})"},
        {"upload to a folder's path", "files/upload", Transport::Upload, R"({"path":"/attachments/"})", 409,
         "path/malformed_path/",
         R"({".tag":"path","reason":{".tag":"malformed_path"},"upload_session_id":"*"})"},
        {"upload a name ending in a blank", "files/upload", Transport::Upload, R"({"path":"/b.crvx "})", 409,
         "path/malformed_path/",
         R"({".tag":"path","reason":{".tag":"malformed_path"},"upload_session_id":"*"})"},
        {"upload .DS_Store", "files/upload", Transport::Upload, R"({"path":"/attachments/.DS_Store"})", 409,
         "path/disallowed_name/",
         R"({".tag":"path","reason":{".tag":"disallowed_name"},"upload_session_id":"*"})"},
        {"upload desktop.ini", "files/upload", Transport::Upload, R"({"path":"/Desktop.INI"})", 409,
         "path/disallowed_name/",
         R"({".tag":"path","reason":{".tag":"disallowed_name"},"upload_session_id":"*"})"},
        {"upload above the limit", "files/upload", Transport::Upload, R"({"path":"/big.bin"})", 409,
         "payload_too_large/", R"({".tag":"payload_too_large"})", Tweak::LargeBody},
        {"upload without space", "files/upload", Transport::Upload, R"({"path":"/more.bin"})", 409,
         "path/insufficient_space/",
         R"({".tag":"path","reason":{".tag":"insufficient_space"},"upload_session_id":"*"})", Tweak::Quota},
        {"download a missing file", "files/download", Transport::Download, R"({"path":"/gone.crvx"})", 409,
         "path/not_found/", pathNotFound},
        {"download a folder", "files/download", Transport::Download, R"({"path":"/attachments"})", 409,
         "path/not_file/", R"({".tag":"path","path":{".tag":"not_file"}})"},
        {"peek at a missing file", "files/get_metadata", Transport::Rpc, R"({"path":"/gone.crvx"})", 409,
         "path/not_found/", pathNotFound},
        {"peek with a trailing slash", "files/get_metadata", Transport::Rpc, R"({"path":"/a.crvx/"})", 409,
         "path/malformed_path/", R"({".tag":"path","path":{".tag":"malformed_path"}})"},
        {"delete a missing file", "files/delete_v2", Transport::Rpc, R"({"path":"/gone.crvx"})", 409,
         "path_lookup/not_found/", R"({".tag":"path_lookup","path_lookup":{".tag":"not_found"}})"},
        {"delete at a stale revision", "files/delete_v2", Transport::Rpc,
         R"({"path":"/a.crvx","parent_rev":"0000000000ff"})", 409, "path_write/conflict/file/",
         R"({".tag":"path_write","path_write":{".tag":"conflict","conflict":{".tag":"file"}}})"},

        // Authorisation and rate limits.
        {"no Authorization",
         "files/list_folder",
         Transport::Rpc,
         R"({"path":""})",
         400,
         "Must provide HTTP header \"Authorization\"",
         {},
         Tweak::NoAuthorization},
        {"not a bearer",
         "files/get_metadata",
         Transport::Rpc,
         R"({"path":"/a.crvx"})",
         400,
         "Invalid authorization value",
         {},
         Tweak::NotBearer},
        {"an empty bearer",
         "files/upload",
         Transport::Upload,
         R"({"path":"/b.crvx"})",
         400,
         "Invalid authorization value",
         {},
         Tweak::EmptyBearer},
        {"an unknown token", "files/download", Transport::Download, R"({"path":"/a.crvx"})", 401,
         "invalid_access_token/", R"({".tag":"invalid_access_token"})", Tweak::UnknownToken},
        {"an expired token", "files/delete_v2", Transport::Rpc, R"({"path":"/a.crvx"})", 401,
         "expired_access_token/", R"({".tag":"expired_access_token"})", Tweak::ExpiredToken},
        {"a token past its lifetime", "files/list_folder", Transport::Rpc, R"({"path":""})", 401,
         "expired_access_token/", R"({".tag":"expired_access_token"})", Tweak::TokenExpires},
        {"rate limited", "files/get_metadata", Transport::Rpc, R"({"path":"/a.crvx"})", 429,
         "too_many_requests/", R"({"reason":{".tag":"too_many_requests"},"retry_after":7})",
         Tweak::RateLimited},
        {"another writer", "files/upload", Transport::Upload, R"({"path":"/b.crvx"})", 429,
         "too_many_write_operations/", R"({"reason":{".tag":"too_many_write_operations"},"retry_after":1})",
         Tweak::WriteOps},

        // Malformed requests: 400 with the service's text.
        {"RPC without Content-Type",
         "files/list_folder",
         Transport::Rpc,
         R"({"path":""})",
         400,
         "Bad HTTP \"Content-Type\" header",
         {},
         Tweak::NoContentType},
        {"RPC as plain text",
         "files/get_metadata",
         Transport::Rpc,
         R"({"path":"/a.crvx"})",
         400,
         "Bad HTTP \"Content-Type\" header",
         {},
         Tweak::PlainText},
        {"revoke with a text body",
         "auth/token/revoke",
         Transport::Rpc,
         "x",
         400,
         "Bad HTTP \"Content-Type\"",
         {},
         Tweak::PlainText},
        {"upload as a form",
         "files/upload",
         Transport::Upload,
         R"({"path":"/b.crvx"})",
         400,
         "Bad HTTP \"Content-Type\" header",
         {},
         Tweak::FormType},
        {"download as a form",
         "files/download",
         Transport::Download,
         R"({"path":"/a.crvx"})",
         400,
         "Bad HTTP \"Content-Type\" header",
         {},
         Tweak::FormType},
        {"upload without its argument",
         "files/upload",
         Transport::Upload,
         "",
         400,
         "Must provide HTTP header \"Dropbox-API-Arg\"",
         {},
         Tweak::NoArgumentHeader},
        {"a raw byte in the argument",
         "files/upload",
         Transport::Upload,
         "",
         400,
         "could not decode input as JSON",
         {},
         Tweak::RawByteInArgument},
        {"an argument that is no JSON", "files/list_folder", Transport::Rpc, R"({"path":)", 400,
         "could not decode input as JSON"},
        {"list \"/\"", "files/list_folder", Transport::Rpc, R"({"path":"/"})", 400,
         "Specify the root folder as an empty string"},
        {"list without the leading slash", "files/list_folder", Transport::Rpc, R"({"path":"attachments"})",
         400, "request body: path: 'attachments' did not match pattern"},
        {"list with an unknown field", "files/list_folder", Transport::Rpc, R"({"path":"","recursiv":true})",
         400, "unknown field 'recursiv'"},
        {"list with a string for a flag", "files/list_folder", Transport::Rpc,
         R"({"path":"","recursive":"no"})", 400, "recursive: expected boolean"},
        {"list with a limit of 0", "files/list_folder", Transport::Rpc, R"({"path":"","limit":0})", 400,
         "limit"},
        {"list without a path", "files/list_folder", Transport::Rpc, R"({})", 400,
         "missing required field 'path'"},
        {"continue with no cursor", "files/list_folder/continue", Transport::Rpc, R"({"cursor":""})", 400,
         "cursor"},
        {"continue with a cursor never handed out", "files/list_folder/continue", Transport::Rpc,
         R"({"cursor":"nope"})", 400, "Invalid \"cursor\" parameter"},
        {"ensure without the leading slash", "files/create_folder_v2", Transport::Rpc,
         R"({"path":"attachments"})", 400, "did not match pattern"},
        {"ensure the root", "files/create_folder_v2", Transport::Rpc, R"({"path":""})", 400,
         "did not match pattern"},
        {"peek at the root", "files/get_metadata", Transport::Rpc, R"({"path":""})", 400,
         "The root folder is unsupported"},
        {"peek without the leading slash", "files/get_metadata", Transport::Rpc, R"({"path":"a.crvx"})", 400,
         "did not match pattern"},
        {"delete without the leading slash", "files/delete_v2", Transport::Rpc, R"({"path":"a.crvx"})", 400,
         "did not match pattern"},
        {"delete at a malformed revision", "files/delete_v2", Transport::Rpc,
         R"({"path":"/a.crvx","parent_rev":"abc"})", 400, "parent_rev"},
        {"upload without the leading slash", "files/upload", Transport::Upload, R"({"path":"b.crvx"})", 400,
         "HTTP header \"Dropbox-API-Arg\": path: 'b.crvx' did not match pattern"},
        {"upload in an unknown mode", "files/upload", Transport::Upload,
         R"({"path":"/b.crvx","mode":"replace"})", 400, "mode: unknown tag 'replace'"},
        {"upload in mode update without revision", "files/upload", Transport::Upload,
         R"({"path":"/b.crvx","mode":"update"})", 400, "mode"},
        {"upload at a short revision", "files/upload", Transport::Upload,
         R"({"path":"/a.crvx","mode":{".tag":"update","update":"abc"}})", 400, "mode.update"},
        {"upload at an upper-case revision", "files/upload", Transport::Upload,
         R"({"path":"/a.crvx","mode":{".tag":"update","update":"0000000000FF"}})", 400, "mode.update"},
        {"upload with a loose date", "files/upload", Transport::Upload,
         R"({"path":"/b.crvx","client_modified":"2026-01-02 03:04"})", 400, "client_modified"},
        {"upload with autorename as text", "files/upload", Transport::Upload,
         R"({"path":"/b.crvx","autorename":"false"})", 400, "autorename: expected boolean"},
        {"download the root", "files/download", Transport::Download, R"({"path":""})", 400,
         "did not match pattern"},
        {"download without the leading slash", "files/download", Transport::Download, R"({"path":"a.crvx"})",
         400, "did not match pattern"},

        // The sign-in page and the token route check the application.
        {"sign-in page of an unknown app", "oauth2/authorize", Transport::Page,
         "client_id=other&response_type=code&redirect_uri=db-other%3A%2F%2F2%2Ftoken", 400,
         "Invalid client_id"},
        {"sign-in page with a foreign redirect", "oauth2/authorize", Transport::Page,
         "client_id=testkey&response_type=code&redirect_uri=https%3A%2F%2Fexample.invalid%2F", 400,
         "Invalid redirect_uri"},
        {"refresh without client_id", "oauth2/token", Transport::Token,
         "grant_type=refresh_token&refresh_token=refresh", 400, "", R"({"error":"invalid_client"})"},
        {"refresh for an unknown app", "oauth2/token", Transport::Token,
         "grant_type=refresh_token&refresh_token=refresh&client_id=otherkey", 400, "",
         R"({"error":"invalid_client"})"},
        {"refresh of another app", "oauth2/token", Transport::Token,
         "grant_type=refresh_token&refresh_token=refresh&client_id=otherkey", 400, "",
         R"({"error":"invalid_grant"})", Tweak::SecondApp},
        {"refresh with an unknown token", "oauth2/token", Transport::Token,
         "grant_type=refresh_token&refresh_token=nope&client_id=testkey", 400, "",
         R"({"error":"invalid_grant"})"},
        {"code with another redirect", "oauth2/token", Transport::Token,
         "grant_type=authorization_code&code=$CODE&client_id=testkey&code_verifier=" + Verifier +
             "&redirect_uri=db-testkey%3A%2F%2F2%2Fother",
         400, "", R"({"error":"invalid_grant","error_description":"redirect_uri mismatch"})"},
        {"code without its redirect", "oauth2/token", Transport::Token,
         "grant_type=authorization_code&code=$CODE&client_id=testkey&code_verifier=" + Verifier, 400, "",
         R"({"error":"invalid_grant","error_description":"redirect_uri mismatch"})"},
        {"code with a wrong verifier", "oauth2/token", Transport::Token,
         "grant_type=authorization_code&code=$CODE&client_id=testkey&code_verifier=wrong&redirect_uri=db-"
         "testkey%3A%"
         "2F%2F2%2Ftoken",
         400, "", R"({"error":"invalid_grant"})"},
        {"an unknown grant", "oauth2/token", Transport::Token, "grant_type=password&client_id=testkey", 400,
         "", R"({"error":"unsupported_grant_type"})"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        prepare();
        if (HasFatalFailure())
            return;
        const QByteArray argument = substitute(row.argument);
        apply(row.tweak);
        const HttpResponse response = exchange(row, argument);
        if (row.transport == Transport::Token && row.status == 400) {
            // The token route's errors are OAuth's, not the API's.
            ASSERT_EQ(response.statusCode, 400) << response.body.constData();
            const QJsonObject want = QJsonDocument::fromJson(row.error).object();
            const QJsonObject got = QJsonDocument::fromJson(response.body).object();
            for (auto it = want.begin(); it != want.end(); ++it)
                EXPECT_EQ(got.value(it.key()), it.value()) << response.body.constData();
            continue;
        }
        check(row, response);
        if (row.status != 200 && row.transport != Transport::Token && row.transport != Transport::Page) {
            const auto logged = emulator->requests(row.route);
            ASSERT_FALSE(logged.empty());
            EXPECT_EQ(logged.back().status, row.status);
        }
    }
}

// A code is single use, and the second try does not sign in.
TEST_F(DropboxRouteTableTest, ASignInCodeServesOnce)
{
    prepare();
    const QByteArray form =
        substitute("grant_type=authorization_code&code=$CODE&client_id=testkey&code_verifier=" + Verifier +
                   "&redirect_uri=db-testkey%3A%2F%2F2%2Ftoken");
    const auto exchange = [&] {
        return send(HttpRequest::post(QUrl(emulator->baseUrl() + "/oauth2/token"), form,
                                      "application/x-www-form-urlencoded"));
    };
    EXPECT_EQ(exchange().statusCode, 200);
    const HttpResponse again = exchange();
    EXPECT_EQ(again.statusCode, 400);
    EXPECT_EQ(QJsonDocument::fromJson(again.body).object().value(QStringLiteral("error")).toString(),
              QStringLiteral("invalid_grant"));
    EXPECT_EQ(emulator->issuedAccessTokens().size(), 1u);
}

// A download POST with no Content-Length at all (no body), as curl sends it without -d: the
// service takes it, and so does the emulator.
TEST_F(DropboxRouteTableTest, APostWithoutContentLengthIsTaken)
{
    prepare();
    const QByteArray answer =
        rawExchange(quint16(QUrl(emulator->baseUrl()).port()),
                    "POST /2/files/download HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer good\r\n"
                    "Dropbox-API-Arg: {\"path\":\"/a.crvx\"}\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200")) << answer.constData();
    EXPECT_TRUE(answer.endsWith("\r\n\r\na")) << answer.constData();
}

} // namespace corvex::test
