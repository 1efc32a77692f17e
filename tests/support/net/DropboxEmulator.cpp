#include "tests/support/net/DropboxEmulator.h"

#include "platform/core/Scheduler.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>
#include <atomic>
#include <chrono>
#include <deque>
#include <httplib.h>

namespace corvex::test {

namespace {

using Json = QJsonObject;

struct Entry
{
    bool folder = false;
    DropboxEmulator::File file;
    QString id;
};

std::string dump(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// The service's header-safe JSON: \u escapes for 0x7F and above.
std::string headerSafeDump(const QJsonObject& object)
{
    const QString text = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    std::string out;
    for (const QChar c : text) {
        if (c.unicode() < 0x7F) {
            out.push_back(char(c.unicode()));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c.unicode()));
            out += escaped;
        }
    }
    return out;
}

QString lowerPath(const QString& path)
{
    return path.toLower();
}

QString parentOf(const QString& lower)
{
    const qsizetype slash = lower.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QString() : lower.left(slash);
}

QString nameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

Json errorBody(const QString& summary, const Json& error)
{
    return Json{{QStringLiteral("error_summary"), summary}, {QStringLiteral("error"), error}};
}

Json tagged(const QString& tag)
{
    return Json{{QStringLiteral(".tag"), tag}};
}

Json tagged(const QString& tag, const QString& member, const Json& inner)
{
    return Json{{QStringLiteral(".tag"), tag}, {member, inner}};
}

} // namespace

struct DropboxEmulator::Impl
{
    httplib::Server server;
    std::thread thread;
    int port = 0;
    std::atomic<bool> listening{true}; // until listen_after_bind() returned

    mutable std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;

    std::map<QString, Entry> entries; // by lower-case path; the root "" is implied
    std::uint64_t revCounter = 0x1a2b3c000;
    std::uint64_t idCounter = 1;
    int pageSize = 2000;
    std::map<QString, std::pair<std::vector<Json>, std::size_t>> cursors;
    int cursorCounter = 0;

    std::set<QString> validTokens;
    std::set<QString> expiredTokens;
    std::set<QString> refreshTokens;
    std::vector<QString> issued;
    std::map<QString, QString> codes; // code -> PKCE challenge
    int tokenCounter = 0;

    std::map<QByteArray, std::deque<Fault>> faults;
    int rateLimit = 0;
    std::vector<LoggedRequest> log;

    QString nextRev() { return QString::number(++revCounter, 16).rightJustified(12, QLatin1Char('0')); }

    Json metadata(const QString& lower) const
    {
        const Entry& entry = entries.at(lower);
        const QString display = entry.file.pathDisplay;
        Json object{
            {QStringLiteral(".tag"), entry.folder ? QStringLiteral("folder") : QStringLiteral("file")},
            {QStringLiteral("name"), nameOf(display)},
            {QStringLiteral("path_lower"), lower},
            {QStringLiteral("path_display"), display},
            {QStringLiteral("id"), entry.id}};
        if (!entry.folder) {
            object.insert(QStringLiteral("rev"), entry.file.rev);
            object.insert(QStringLiteral("size"), double(entry.file.content.size()));
            object.insert(QStringLiteral("content_hash"), contentHash(entry.file.content));
            object.insert(QStringLiteral("client_modified"), entry.file.clientModified);
            object.insert(QStringLiteral("server_modified"), QStringLiteral("2026-01-01T12:00:00Z"));
            object.insert(QStringLiteral("is_downloadable"), true);
        }
        return object;
    }

    void ensureParents(const QString& display)
    {
        QString parent = parentOf(display);
        while (!parent.isEmpty()) {
            const QString lower = lowerPath(parent);
            if (!entries.count(lower))
                entries[lower] =
                    Entry{true, File{parent, {}, {}, {}}, QStringLiteral("id:%1").arg(idCounter++)};
            parent = parentOf(parent);
        }
    }

    QString writeFile(const QString& display, const QByteArray& content, const QString& clientModified)
    {
        ensureParents(display);
        const QString lower = lowerPath(display);
        Entry& entry = entries[lower];
        if (entry.id.isEmpty())
            entry.id = QStringLiteral("id:%1").arg(idCounter++);
        entry.folder = false;
        entry.file = File{display, content, nextRev(), clientModified};
        return entry.file.rev;
    }

    void removeTree(const QString& lower)
    {
        for (auto it = entries.begin(); it != entries.end();) {
            if (it->first == lower || it->first.startsWith(lower + QLatin1Char('/')))
                it = entries.erase(it);
            else
                ++it;
        }
    }

    void install();
    void handle(const QByteArray& route, bool content, const httplib::Request& request,
                httplib::Response& response);
    bool rejectRequest(const QByteArray& route, bool content, const httplib::Request& request,
                       httplib::Response& response, QByteArray& argument);
    void answer(const QByteArray& route, const QJsonObject& argument, const httplib::Request& request,
                httplib::Response& response);
    void applyFault(Fault fault, httplib::Response& response);
    void servePage(const QString& cursor, httplib::Response& response);
    void oauthToken(const httplib::Request& request, httplib::Response& response);
};

void DropboxEmulator::Impl::install()
{
    const char* rpcRoutes[] = {"files/list_folder",      "files/list_folder/continue",
                               "files/create_folder_v2", "files/get_metadata",
                               "files/delete_v2",        "auth/token/revoke"};
    for (const char* route : rpcRoutes) {
        const QByteArray name(route);
        server.Post(
            ("/2/" + name).toStdString(),
            [this, name](const httplib::Request& q, httplib::Response& r) { handle(name, false, q, r); });
    }
    for (const char* route : {"files/upload", "files/download"}) {
        const QByteArray name(route);
        server.Post(
            ("/2/" + name).toStdString(),
            [this, name](const httplib::Request& q, httplib::Response& r) { handle(name, true, q, r); });
    }
    server.Post("/oauth2/token",
                [this](const httplib::Request& q, httplib::Response& r) { oauthToken(q, r); });
    server.Get("/oauth2/authorize", [this](const httplib::Request& q, httplib::Response& r) {
        const QUrlQuery query(QString::fromStdString(q.target).section(QLatin1Char('?'), 1));
        const QString code = QStringLiteral("code%1").arg(++tokenCounter);
        {
            std::lock_guard lock(mutex);
            codes[code] = query.queryItemValue(QStringLiteral("code_challenge"), QUrl::FullyDecoded);
            log.push_back(LoggedRequest{"oauth2/authorize",
                                        QByteArray::fromStdString(q.target),
                                        {},
                                        false,
                                        {},
                                        302,
                                        MediaClock::now()});
        }
        // Taken as given: QUrl would read the authority "2" as an address.
        const QString redirect = query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded);
        QUrlQuery answer;
        answer.addQueryItem(QStringLiteral("code"), code);
        answer.addQueryItem(QStringLiteral("state"),
                            query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded));
        r.set_redirect((redirect + QLatin1Char('?') + answer.toString(QUrl::FullyEncoded)).toStdString(),
                       302);
    });
}

bool DropboxEmulator::Impl::rejectRequest(const QByteArray& route, bool content,
                                          const httplib::Request& request, httplib::Response& response,
                                          QByteArray& argument)
{
    const std::string type = request.get_header_value("Content-Type");
    if (content) {
        argument = QByteArray::fromStdString(request.get_header_value("Dropbox-API-Arg"));
        for (const char byte : argument) {
            if (static_cast<unsigned char>(byte) >= 0x7F) {
                response.status = 400;
                response.set_content(
                    "Error in call to API function \"" + route.toStdString() +
                        "\": HTTP header \"Dropbox-API-Arg\": could not decode input as JSON",
                    "text/plain; charset=utf-8");
                return true;
            }
        }
        const bool upload = route == "files/upload";
        const bool typeOk =
            upload ? type == "application/octet-stream" : (type.empty() || type == "text/plain");
        if (!typeOk) {
            response.status = 400;
            response.set_content("Error in call to API function \"" + route.toStdString() +
                                     "\": Bad HTTP \"Content-Type\" header: \"" + type + "\"",
                                 "text/plain; charset=utf-8");
            return true;
        }
    } else {
        argument = QByteArray::fromStdString(request.body);
        if (type.rfind("application/json", 0) != 0) {
            response.status = 400;
            response.set_content(
                "Error in call to API function \"" + route.toStdString() +
                    "\": Bad HTTP \"Content-Type\" header: \"" + type +
                    "\".  Expecting one of \"application/json\", \"text/plain; charset=dropbox-cors-hack\".",
                "text/plain; charset=utf-8");
            return true;
        }
    }
    const std::string authorization = request.get_header_value("Authorization");
    const QString token =
        QString::fromStdString(authorization.rfind("Bearer ", 0) == 0 ? authorization.substr(7) : "");
    if (!validTokens.count(token)) {
        const bool expired = expiredTokens.count(token) != 0;
        const QString tag =
            expired ? QStringLiteral("expired_access_token") : QStringLiteral("invalid_access_token");
        response.status = 401;
        response.set_content(dump(errorBody(tag + QStringLiteral("/.."), tagged(tag))), "application/json");
        return true;
    }
    return false;
}

void DropboxEmulator::Impl::handle(const QByteArray& route, bool content, const httplib::Request& request,
                                   httplib::Response& response)
{
    std::unique_lock lock(mutex);
    LoggedRequest entry{route,
                        {},
                        QByteArray::fromStdString(request.get_header_value("Content-Type")),
                        request.has_header("Content-Type"),
                        QByteArray::fromStdString(request.get_header_value("Authorization")),
                        0,
                        MediaClock::now()};
    std::optional<Fault> fault;
    if (rateLimit > 0) {
        fault = Fault::Status429;
    } else if (auto queued = faults.find(route); queued != faults.end() && !queued->second.empty()) {
        fault = queued->second.front();
        queued->second.pop_front();
    }
    QByteArray argument;
    if (fault && *fault != Fault::Drop && *fault != Fault::Stall && *fault != Fault::Truncate) {
        entry.argument = content ? QByteArray::fromStdString(request.get_header_value("Dropbox-API-Arg"))
                                 : QByteArray::fromStdString(request.body);
        applyFault(*fault, response);
    } else if (!rejectRequest(route, content, request, response, argument)) {
        entry.argument = argument;
        const QJsonDocument parsed = QJsonDocument::fromJson(argument);
        if (route == "auth/token/revoke") {
            const std::string authorization = request.get_header_value("Authorization");
            validTokens.erase(QString::fromStdString(authorization.substr(7)));
            response.status = 200;
            response.set_content("null", "application/json");
        } else if (!parsed.isObject()) {
            response.status = 400;
            response.set_content(
                "Error in call to API function: request body: could not decode input as JSON",
                "text/plain; charset=utf-8");
        } else {
            answer(route, parsed.object(), request, response);
        }
        if (fault) {
            // The answer as computed, then broken on the wire.
            const std::string body = response.body;
            const Fault kind = *fault;
            response.body.clear();
            const std::size_t sent = kind == Fault::Truncate ? body.size() / 2 : 0;
            response.set_content_provider(
                body.size() + 1, "application/octet-stream",
                [this, body, sent, kind](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset == 0 && sent > 0)
                        sink.write(body.data(), sent);
                    if (kind == Fault::Stall) {
                        std::unique_lock wait(mutex);
                        // Long past any client's idle limit, short enough not to hold a thread for good.
                        stopped.wait_for(wait, std::chrono::seconds(3), [this] { return stopping; });
                    }
                    return false;
                });
        }
    } else {
        entry.argument = argument;
    }
    entry.status = response.status;
    log.push_back(entry);
}

void DropboxEmulator::Impl::servePage(const QString& cursor, httplib::Response& response)
{
    auto& [all, offset] = cursors.at(cursor);
    QJsonArray pageEntries;
    const std::size_t end = std::min(all.size(), offset + std::size_t(pageSize));
    for (std::size_t i = offset; i < end; ++i)
        pageEntries.append(all[i]);
    offset = end;
    response.status = 200;
    response.set_content(dump(Json{{QStringLiteral("entries"), pageEntries},
                                   {QStringLiteral("cursor"), cursor},
                                   {QStringLiteral("has_more"), end < all.size()}}),
                         "application/json");
}

void DropboxEmulator::Impl::applyFault(Fault fault, httplib::Response& response)
{
    switch (fault) {
    case Fault::Status500:
        response.status = 500;
        response.set_content("Internal Server Error", "text/plain");
        break;
    case Fault::Status503:
        response.status = 503;
        response.set_content("Service Unavailable", "text/plain");
        break;
    case Fault::Status429:
        response.status = 429;
        response.set_header("Retry-After", std::to_string(rateLimit > 0 ? rateLimit : 1));
        response.set_content(dump(errorBody(QStringLiteral("too_many_requests/.."),
                                            tagged(QStringLiteral("too_many_requests")))),
                             "application/json");
        break;
    case Fault::Unauthorized:
        response.status = 401;
        response.set_content(dump(errorBody(QStringLiteral("invalid_access_token/.."),
                                            tagged(QStringLiteral("invalid_access_token")))),
                             "application/json");
        break;
    case Fault::CursorReset:
        response.status = 409;
        response.set_content(dump(errorBody(QStringLiteral("reset/"), tagged(QStringLiteral("reset")))),
                             "application/json");
        break;
    default:
        break;
    }
}

void DropboxEmulator::Impl::answer(const QByteArray& route, const QJsonObject& argument,
                                   const httplib::Request& request, httplib::Response& response)
{
    const auto conflict = [&response](const QString& summary, const Json& error) {
        response.status = 409;
        response.set_content(dump(errorBody(summary, error)), "application/json");
    };
    const auto ok = [&response](const Json& body) {
        response.status = 200;
        response.set_content(dump(body), "application/json");
    };
    const QString path = argument.value(QStringLiteral("path")).toString();
    const QString lower = lowerPath(path);
    const bool exists = lower.isEmpty() || entries.count(lower);
    const bool isFolder = lower.isEmpty() || (exists && entries.at(lower).folder);
    const Json notFound = tagged(QStringLiteral("not_found"));

    if (route == "files/list_folder") {
        if (path == QLatin1String("/")) {
            response.status = 400;
            response.set_content("Error in call to API function \"files/list_folder\": request body: path: "
                                 "Specify the root folder as an empty string rather than as \"/\".",
                                 "text/plain; charset=utf-8");
        } else if (!exists) {
            conflict(QStringLiteral("path/not_found/"),
                     tagged(QStringLiteral("path"), QStringLiteral("path"), notFound));
        } else if (!isFolder) {
            conflict(
                QStringLiteral("path/not_folder/"),
                tagged(QStringLiteral("path"), QStringLiteral("path"), tagged(QStringLiteral("not_folder"))));
        } else {
            std::vector<Json> listed;
            for (const auto& [key, entry] : entries)
                if (parentOf(key) == lower && !key.isEmpty())
                    listed.push_back(metadata(key));
            const QString cursor = QStringLiteral("cursor-%1").arg(++cursorCounter);
            cursors[cursor] = {std::move(listed), 0};
            servePage(cursor, response);
        }
        return;
    }
    if (route == "files/list_folder/continue") {
        const QString cursor = argument.value(QStringLiteral("cursor")).toString();
        const auto found = cursors.find(cursor);
        if (found == cursors.end()) {
            conflict(QStringLiteral("reset/"), tagged(QStringLiteral("reset")));
            return;
        }
        servePage(cursor, response);
        return;
    }
    if (route == "files/create_folder_v2") {
        if (exists) {
            const QString kind = isFolder ? QStringLiteral("folder") : QStringLiteral("file");
            conflict(QStringLiteral("path/conflict/") + kind + QStringLiteral("/"),
                     tagged(QStringLiteral("path"), QStringLiteral("path"),
                            tagged(QStringLiteral("conflict"), QStringLiteral("conflict"), tagged(kind))));
            return;
        }
        ensureParents(path + QStringLiteral("/x"));
        ok(Json{{QStringLiteral("metadata"), metadata(lower)}});
        return;
    }
    if (route == "files/get_metadata") {
        if (!exists || lower.isEmpty()) {
            conflict(QStringLiteral("path/not_found/"),
                     tagged(QStringLiteral("path"), QStringLiteral("path"), notFound));
            return;
        }
        ok(metadata(lower));
        return;
    }
    if (route == "files/delete_v2") {
        if (!exists || lower.isEmpty()) {
            conflict(QStringLiteral("path_lookup/not_found/"),
                     tagged(QStringLiteral("path_lookup"), QStringLiteral("path_lookup"), notFound));
            return;
        }
        const QJsonValue parentRev = argument.value(QStringLiteral("parent_rev"));
        if (parentRev.isString() && (isFolder || entries.at(lower).file.rev != parentRev.toString())) {
            conflict(QStringLiteral("path_write/conflict/file/"),
                     tagged(QStringLiteral("path_write"), QStringLiteral("path_write"),
                            tagged(QStringLiteral("conflict"), QStringLiteral("conflict"),
                                   tagged(QStringLiteral("file")))));
            return;
        }
        const Json gone = metadata(lower);
        removeTree(lower);
        ok(Json{{QStringLiteral("metadata"), gone}});
        return;
    }
    if (route == "files/upload") {
        const QByteArray content = QByteArray::fromStdString(request.body);
        const QJsonValue mode = argument.value(QStringLiteral("mode"));
        const QString modeTag =
            mode.isString() ? mode.toString() : mode.toObject().value(QStringLiteral(".tag")).toString();
        const auto writeConflict = [&](const QString& kind) {
            conflict(
                QStringLiteral("path/conflict/") + kind + QStringLiteral("/"),
                Json{{QStringLiteral(".tag"), QStringLiteral("path")},
                     {QStringLiteral("reason"),
                      tagged(QStringLiteral("conflict"), QStringLiteral("conflict"), tagged(kind))},
                     {QStringLiteral("upload_session_id"), QStringLiteral("session-%1").arg(revCounter)}});
        };
        if (path.isEmpty() || !path.startsWith(QLatin1Char('/'))) {
            response.status = 400;
            response.set_content(
                "Error in call to API function \"files/upload\": request body: path: bad path",
                "text/plain; charset=utf-8");
            return;
        }
        if (exists && isFolder) {
            writeConflict(QStringLiteral("folder"));
            return;
        }
        if (exists) {
            const File& current = entries.at(lower).file;
            if (current.content == content) {
                ok(metadata(lower));
                return;
            }
            const bool allowed = modeTag == QLatin1String("overwrite") ||
                                 (modeTag == QLatin1String("update") &&
                                  mode.toObject().value(QStringLiteral("update")).toString() == current.rev);
            if (!allowed) {
                writeConflict(QStringLiteral("file"));
                return;
            }
        }
        writeFile(path, content, argument.value(QStringLiteral("client_modified")).toString());
        ok(metadata(lower));
        return;
    }
    if (route == "files/download") {
        if (!exists || lower.isEmpty()) {
            conflict(QStringLiteral("path/not_found/"),
                     tagged(QStringLiteral("path"), QStringLiteral("path"), notFound));
            return;
        }
        if (isFolder) {
            conflict(QStringLiteral("path/not_file/"), tagged(QStringLiteral("path"), QStringLiteral("path"),
                                                              tagged(QStringLiteral("not_file"))));
            return;
        }
        response.status = 200;
        response.set_header("Dropbox-API-Result", headerSafeDump(metadata(lower)));
        const QByteArray& bytes = entries.at(lower).file.content;
        response.set_content(std::string(bytes.constData(), std::size_t(bytes.size())),
                             "application/octet-stream");
    }
}

void DropboxEmulator::Impl::oauthToken(const httplib::Request& request, httplib::Response& response)
{
    std::lock_guard lock(mutex);
    const QUrlQuery form(QString::fromStdString(request.body));
    const QString grant = form.queryItemValue(QStringLiteral("grant_type"));
    QString access;
    QString refresh;
    if (grant == QLatin1String("refresh_token") &&
        refreshTokens.count(form.queryItemValue(QStringLiteral("refresh_token"), QUrl::FullyDecoded))) {
        access = QStringLiteral("access-%1").arg(++tokenCounter);
    } else if (grant == QLatin1String("authorization_code")) {
        const auto code = codes.find(form.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded));
        const QByteArray verifier =
            form.queryItemValue(QStringLiteral("code_verifier"), QUrl::FullyDecoded).toLatin1();
        const QString challenge = QString::fromLatin1(
            QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        if (code != codes.end() && code->second == challenge) {
            codes.erase(code);
            access = QStringLiteral("access-%1").arg(++tokenCounter);
            refresh = QStringLiteral("refresh-%1").arg(tokenCounter);
            refreshTokens.insert(refresh);
        }
    }
    LoggedRequest entry{"oauth2/token",
                        QByteArray::fromStdString(request.body),
                        QByteArray::fromStdString(request.get_header_value("Content-Type")),
                        request.has_header("Content-Type"),
                        {},
                        0,
                        MediaClock::now()};
    if (access.isEmpty()) {
        response.status = 400;
        response.set_content(dump(Json{{QStringLiteral("error"), QStringLiteral("invalid_grant")}}),
                             "application/json");
    } else {
        validTokens.insert(access);
        issued.push_back(access);
        Json body{{QStringLiteral("access_token"), access},
                  {QStringLiteral("token_type"), QStringLiteral("bearer")},
                  {QStringLiteral("expires_in"), 14400}};
        if (!refresh.isEmpty())
            body.insert(QStringLiteral("refresh_token"), refresh);
        response.status = 200;
        response.set_content(dump(body), "application/json");
    }
    entry.status = response.status;
    log.push_back(entry);
}

DropboxEmulator::DropboxEmulator() : d(std::make_unique<Impl>())
{
    // Stalled answers and kept-alive connections each hold a thread.
    d->server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    // A head and a body written apart would otherwise wait for the peer's delayed ACK.
    d->server.set_tcp_nodelay(true);
    d->install();
}

DropboxEmulator::~DropboxEmulator()
{
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->stopped.notify_all();
    if (d->thread.joinable()) {
        while (d->listening) {
            d->server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        d->thread.join();
    }
}

bool DropboxEmulator::start()
{
    d->port = d->server.bind_to_any_port("127.0.0.1");
    if (d->port <= 0)
        return false;
    d->thread = std::thread([this] {
        d->server.listen_after_bind();
        d->listening = false;
    });
    // A stop before the loop runs would be lost (and the join would wait for good).
    while (!d->server.is_running() && d->listening)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

QString DropboxEmulator::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(d->port);
}

void DropboxEmulator::addAccessToken(const QString& token)
{
    std::lock_guard lock(d->mutex);
    d->validTokens.insert(token);
}

void DropboxEmulator::expireAccessToken(const QString& token)
{
    std::lock_guard lock(d->mutex);
    d->validTokens.erase(token);
    d->expiredTokens.insert(token);
}

void DropboxEmulator::addRefreshToken(const QString& token)
{
    std::lock_guard lock(d->mutex);
    d->refreshTokens.insert(token);
}

bool DropboxEmulator::isValidAccessToken(const QString& token) const
{
    std::lock_guard lock(d->mutex);
    return d->validTokens.count(token) != 0;
}

std::vector<QString> DropboxEmulator::issuedAccessTokens() const
{
    std::lock_guard lock(d->mutex);
    return d->issued;
}

QString DropboxEmulator::openInBrowser(const QString& pageUrl) const
{
    const QUrl url(pageUrl);
    httplib::Client browser("127.0.0.1", url.port());
    browser.set_follow_location(false);
    const httplib::Result result =
        browser.Get(url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority).toStdString());
    if (!result || result->status / 100 != 3)
        return QString();
    return QString::fromStdString(result->get_header_value("Location"));
}

void DropboxEmulator::setPageSize(int entries)
{
    std::lock_guard lock(d->mutex);
    d->pageSize = std::max(1, entries);
}

void DropboxEmulator::injectFault(const QByteArray& route, Fault fault, int times)
{
    std::lock_guard lock(d->mutex);
    for (int i = 0; i < times; ++i)
        d->faults[route].push_back(fault);
}

void DropboxEmulator::setRateLimit(int retryAfterSeconds)
{
    std::lock_guard lock(d->mutex);
    d->rateLimit = retryAfterSeconds;
}

QString DropboxEmulator::putFile(const QString& path, const QByteArray& content)
{
    std::lock_guard lock(d->mutex);
    return d->writeFile(path, content, QStringLiteral("2026-01-01T12:00:00Z"));
}

void DropboxEmulator::makeFolder(const QString& path)
{
    std::lock_guard lock(d->mutex);
    d->ensureParents(path + QStringLiteral("/x"));
}

bool DropboxEmulator::remove(const QString& path)
{
    std::lock_guard lock(d->mutex);
    const QString lower = lowerPath(path);
    if (!d->entries.count(lower))
        return false;
    d->removeTree(lower);
    return true;
}

std::optional<DropboxEmulator::File> DropboxEmulator::file(const QString& path) const
{
    std::lock_guard lock(d->mutex);
    const auto found = d->entries.find(lowerPath(path));
    if (found == d->entries.end() || found->second.folder)
        return std::nullopt;
    return found->second.file;
}

std::vector<DropboxEmulator::LoggedRequest> DropboxEmulator::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->log;
}

std::vector<DropboxEmulator::LoggedRequest> DropboxEmulator::requests(const QByteArray& route) const
{
    std::vector<LoggedRequest> matching;
    for (LoggedRequest& request : requests())
        if (request.route == route)
            matching.push_back(std::move(request));
    return matching;
}

int DropboxEmulator::countWithStatus(int status) const
{
    int n = 0;
    for (const LoggedRequest& request : requests())
        n += request.status == status ? 1 : 0;
    return n;
}

QString DropboxEmulator::contentHash(const QByteArray& content)
{
    constexpr qsizetype Block = 4 * 1024 * 1024;
    QCryptographicHash whole(QCryptographicHash::Sha256);
    for (qsizetype at = 0; at < content.size(); at += Block)
        whole.addData(QCryptographicHash::hash(content.mid(at, Block), QCryptographicHash::Sha256));
    return QString::fromLatin1(whole.result().toHex());
}

} // namespace corvex::test
