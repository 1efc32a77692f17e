#include "tests/support/net/DropboxEmulator.h"

#include "platform/core/Scheduler.h"
#include "tests/support/net/DropboxEmulatorAccounts.h"
#include "tests/support/net/DropboxEmulatorArguments.h"
#include "tests/support/net/DropboxEmulatorCursors.h"
#include "tests/support/net/DropboxEmulatorTree.h"
#include "tests/support/net/LoopbackServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <atomic>
#include <deque>
#include <httplib.h>
#include <map>
#include <mutex>

namespace corvex::test {

namespace {

using Json = QJsonObject;
using Headers = QList<QPair<QByteArray, QByteArray>>;
using Fault = DropboxEmulator::Fault;

struct Answer
{
    int status = 200;
    QByteArray body;
    Headers headers;
};

QByteArray dump(const Json& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The service's header-safe JSON: \u escapes for 0x7F and above.
QByteArray headerSafeDump(const Json& object)
{
    const QString text = QString::fromUtf8(dump(object));
    QByteArray out;
    for (const QChar c : text) {
        if (c.unicode() < 0x7F) {
            out.append(char(c.unicode()));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(c.unicode()));
            out += escaped;
        }
    }
    return out;
}

Json tagged(const QString& tag)
{
    return Json{{QStringLiteral(".tag"), tag}};
}

Json tagged(const QString& tag, const QString& member, const Json& inner)
{
    return Json{{QStringLiteral(".tag"), tag}, {member, inner}};
}

Answer json(int status, const Json& body)
{
    return Answer{status, dump(body), {{"Content-Type", "application/json"}}};
}

// A 400: the service's plain-text account of what it could not take.
Answer badRequest(const QByteArray& route, const QString& text)
{
    return Answer{400,
                  "Error in call to API function \"" + route + "\": " + text.toUtf8(),
                  {{"Content-Type", "text/plain; charset=utf-8"}}};
}

// A 409 route error: the tags down the union, then the error itself.
Answer routeError(const QStringList& tags, const Json& error)
{
    return json(409,
                Json{{QStringLiteral("error_summary"), tags.join(QLatin1Char('/')) + QStringLiteral("/..")},
                     {QStringLiteral("error"), error}});
}

// {".tag": outer, outer: {".tag": inner}}: a lookup or write error of one path member.
Answer pathError(const QString& outer, const QString& inner)
{
    return routeError({outer, inner}, tagged(outer, outer, tagged(inner)));
}

// An upload's write failure: {".tag": "path", "reason": {...}, "upload_session_id": ...}.
Answer uploadFailure(const QStringList& reasonTags, const Json& reason)
{
    return routeError(QStringList{QStringLiteral("path")} + reasonTags,
                      Json{{QStringLiteral(".tag"), QStringLiteral("path")},
                           {QStringLiteral("reason"), reason},
                           {QStringLiteral("upload_session_id"), QStringLiteral("pid_upload_session:AAAA")}});
}

Answer writeConflict(const QString& outer, const QString& kind)
{
    const Json conflict = tagged(QStringLiteral("conflict"), QStringLiteral("conflict"), tagged(kind));
    if (outer == QLatin1String("upload"))
        return uploadFailure({QStringLiteral("conflict"), kind}, conflict);
    return routeError({outer, QStringLiteral("conflict"), kind}, tagged(outer, outer, conflict));
}

Answer rateLimited(const QString& reason, int retryAfter)
{
    Answer answer =
        json(429, Json{{QStringLiteral("error_summary"), reason + QStringLiteral("/..")},
                       {QStringLiteral("error"), Json{{QStringLiteral("reason"), tagged(reason)},
                                                      {QStringLiteral("retry_after"), retryAfter}}}});
    answer.headers.append({"Retry-After", QByteArray::number(retryAfter)});
    return answer;
}

bool brokenOnTheWire(Fault fault)
{
    return fault == Fault::Drop || fault == Fault::Stall || fault == Fault::Truncate ||
           fault == Fault::ShortBody || fault == Fault::HangUp || fault == Fault::Reset;
}

DropboxEmulator::File fileOf(const DropboxEmulatorTree::Entry& entry)
{
    return DropboxEmulator::File{entry.pathDisplay, entry.content, entry.rev, entry.clientModified};
}

} // namespace

struct DropboxEmulator::Impl
{
    LoopbackServer server;
    mutable std::mutex mutex;
    DropboxEmulatorTree tree;
    DropboxEmulatorCursors cursors;
    DropboxEmulatorAccounts accounts;

    int pageSize = 2000;
    std::optional<QRandomGenerator> shuffler;
    std::function<void()> betweenPages;
    double writeContention = 0;
    double lockedUntil = 0;
    quint16 lockHolder = 0;
    qint64 quota = 0;
    qint64 uploadLimit = DropboxEmulator::ServiceUploadLimit;
    std::map<QByteArray, std::deque<Fault>> faults;
    std::optional<Fault> outage;
    int rateLimit = 0;
    QSet<QString> damagedDownloads; // lower-case paths
    std::vector<LoggedRequest> log;
    std::atomic<int> stalled{0};

    void install();
    void api(const QByteArray& route, bool content, const LoopbackRequest& request,
             LoopbackConnection& connection);
    void send(LoopbackConnection& connection, const Answer& answer, std::optional<Fault> wire);
    std::optional<Fault> takeFault(const QByteArray& route);
    Answer faultAnswer(Fault fault) const;

    Answer respond(const QByteArray& route, bool content, const LoopbackRequest& request, double now);
    std::optional<Answer> refuseTransport(const QByteArray& route, bool content,
                                          const LoopbackRequest& request, QByteArray& argument) const;
    std::optional<Answer> refuseAuthorization(const QByteArray& route, const LoopbackRequest& request,
                                              double now) const;
    // The lower-case path an argument's path names; nothing for an identifier that names nothing.
    std::optional<QString> resolve(const QString& path) const;
    // Sets `lower` to what the argument's "path" names (the root counts), or answers the lookup
    // error under `outer`: malformed_path or not_found.
    std::optional<Answer> lookUp(const Json& argument, const QString& outer, QString& lower) const;
    bool collides(quint16 writer, double now);
    bool fileInTheWay(const QString& lower) const;

    Answer listFolder(const Json& argument, double now);
    Answer continueListing(const QByteArray& route, const Json& argument, double now);
    Answer createFolder(const Json& argument, quint16 writer, double now);
    Answer getMetadata(const Json& argument) const;
    Answer deleteFile(const Json& argument, quint16 writer, double now);
    Answer upload(const Json& argument, const LoopbackRequest& request, double now);
    Answer download(const Json& argument) const;
};

void DropboxEmulator::Impl::install()
{
    for (const char* route : {"files/list_folder", "files/list_folder/continue", "files/create_folder_v2",
                              "files/get_metadata", "files/delete_v2", "auth/token/revoke"}) {
        const QByteArray name(route);
        server.route("/2/" + name, [this, name](const LoopbackRequest& q, LoopbackConnection& c) {
            api(name, false, q, c);
        });
    }
    for (const char* route : {"files/upload", "files/download"}) {
        const QByteArray name(route);
        server.route("/2/" + name, [this, name](const LoopbackRequest& q, LoopbackConnection& c) {
            api(name, true, q, c);
        });
    }
    server.route("/oauth2/token", [this](const LoopbackRequest& q, LoopbackConnection& c) {
        Answer answer;
        std::optional<Fault> wire;
        {
            std::lock_guard lock(mutex);
            // An outage, or a fault injected for "oauth2/token" (the rate limit is the API's).
            std::optional<Fault> fault = outage;
            if (const auto queued = faults.find("oauth2/token");
                !fault && queued != faults.end() && !queued->second.empty()) {
                fault = queued->second.front();
                queued->second.pop_front();
            }
            if (fault && !brokenOnTheWire(*fault)) {
                answer = faultAnswer(*fault);
            } else {
                const DropboxEmulatorAccounts::Answer given =
                    accounts.token(QUrlQuery(QString::fromUtf8(q.body)), MediaClock::now());
                answer = Answer{given.status, given.body, {{"Content-Type", given.contentType}}};
                wire = fault;
            }
            log.push_back(LoggedRequest{"oauth2/token",
                                        q.body,
                                        q.header("Content-Type"),
                                        q.hasHeader("Content-Type"),
                                        {},
                                        answer.status,
                                        answer.status == 200 ? QByteArray() : answer.body,
                                        MediaClock::now(),
                                        wire.has_value()});
        }
        send(c, answer, wire);
    });
    server.route("/oauth2/authorize", [this](const LoopbackRequest& q, LoopbackConnection& c) {
        Answer answer;
        {
            std::lock_guard lock(mutex);
            const DropboxEmulatorAccounts::Answer given =
                accounts.authorize(QUrlQuery(QString::fromUtf8(q.target).section(QLatin1Char('?'), 1)));
            answer = Answer{given.status, given.body, {}};
            if (!given.contentType.isEmpty())
                answer.headers.append({"Content-Type", given.contentType});
            if (!given.location.isEmpty())
                answer.headers.append({"Location", given.location});
            log.push_back(LoggedRequest{"oauth2/authorize",
                                        q.target,
                                        {},
                                        false,
                                        {},
                                        answer.status,
                                        answer.status / 100 == 4 ? answer.body : QByteArray(),
                                        MediaClock::now()});
        }
        send(c, answer, std::nullopt);
    });
}

void DropboxEmulator::Impl::api(const QByteArray& route, bool content, const LoopbackRequest& request,
                                LoopbackConnection& connection)
{
    if (route == "files/list_folder/continue") {
        std::function<void()> change;
        {
            std::lock_guard lock(mutex);
            change = betweenPages;
        }
        if (change)
            change();
    }
    Answer answer;
    std::optional<Fault> wire;
    {
        std::lock_guard lock(mutex);
        const double now = MediaClock::now();
        LoggedRequest entry{route,
                            content ? request.header("Dropbox-API-Arg") : request.body,
                            request.header("Content-Type"),
                            request.hasHeader("Content-Type"),
                            request.header("Authorization"),
                            0,
                            {},
                            now,
                            false};
        const std::optional<Fault> fault = takeFault(route);
        if (fault && !brokenOnTheWire(*fault)) {
            answer = faultAnswer(*fault);
        } else {
            answer = respond(route, content, request, now);
            wire = fault;
            entry.cut = fault.has_value();
        }
        entry.status = answer.status;
        if (answer.status != 200)
            entry.answer = answer.body;
        log.push_back(entry);
    }
    send(connection, answer, wire);
}

void DropboxEmulator::Impl::send(LoopbackConnection& connection, const Answer& answer,
                                 std::optional<Fault> wire)
{
    if (!wire || *wire == Fault::ShortBody) {
        connection.respond(answer.status, wire ? answer.body.left(answer.body.size() / 2) : answer.body,
                           answer.headers);
        return;
    }
    const QByteArray head =
        LoopbackConnection::responseHead(answer.status, answer.body.size(), answer.headers, true);
    switch (*wire) {
    case Fault::Truncate:
        connection.send(head + answer.body.left(answer.body.size() / 2));
        break;
    case Fault::Stall:
        connection.send(head);
        ++stalled;
        connection.waitForPeerToLeave();
        --stalled;
        break;
    case Fault::HangUp:
        break;
    case Fault::Reset:
        connection.abort();
        return;
    default:
        connection.send(head);
        break;
    }
    connection.close();
}

std::optional<Fault> DropboxEmulator::Impl::takeFault(const QByteArray& route)
{
    if (outage)
        return outage;
    if (rateLimit > 0)
        return Fault::Status429;
    const auto queued = faults.find(route);
    if (queued == faults.end() || queued->second.empty())
        return std::nullopt;
    const Fault fault = queued->second.front();
    queued->second.pop_front();
    return fault;
}

Answer DropboxEmulator::Impl::faultAnswer(Fault fault) const
{
    switch (fault) {
    case Fault::Status500:
        return Answer{500, "Internal Server Error", {{"Content-Type", "text/plain"}}};
    case Fault::Status503:
        return Answer{503, "Service Unavailable", {{"Content-Type", "text/plain"}}};
    case Fault::Status429:
        return rateLimited(QStringLiteral("too_many_requests"), rateLimit > 0 ? rateLimit : 1);
    case Fault::TooManyWriteOperations:
        return rateLimited(QStringLiteral("too_many_write_operations"), 1);
    case Fault::Unauthorized:
        return json(401, Json{{QStringLiteral("error_summary"), QStringLiteral("invalid_access_token/..")},
                              {QStringLiteral("error"), tagged(QStringLiteral("invalid_access_token"))}});
    case Fault::CursorReset:
        return routeError({QStringLiteral("reset")}, tagged(QStringLiteral("reset")));
    default:
        return Answer{};
    }
}

Answer DropboxEmulator::Impl::respond(const QByteArray& route, bool content, const LoopbackRequest& request,
                                      double now)
{
    QByteArray argument;
    if (auto refused = refuseTransport(route, content, request, argument))
        return *refused;
    if (auto refused = refuseAuthorization(route, request, now))
        return *refused;
    if (route == "auth/token/revoke") {
        accounts.revoke(QString::fromUtf8(request.header("Authorization").mid(7)));
        return Answer{200, "null", {{"Content-Type", "application/json"}}};
    }
    const QString where =
        content ? QStringLiteral("HTTP header \"Dropbox-API-Arg\"") : QStringLiteral("request body");
    const QJsonDocument parsed = QJsonDocument::fromJson(argument);
    if (!parsed.isObject())
        return badRequest(route, where + QStringLiteral(": could not decode input as JSON"));
    const Json object = parsed.object();
    if (auto problem = DropboxEmulatorArguments::problem(route, object))
        return badRequest(route, where + QStringLiteral(": ") + *problem);

    if (route == "files/list_folder")
        return listFolder(object, now);
    if (route == "files/list_folder/continue")
        return continueListing(route, object, now);
    if (route == "files/create_folder_v2")
        return createFolder(object, request.peerPort, now);
    if (route == "files/get_metadata")
        return getMetadata(object);
    if (route == "files/delete_v2")
        return deleteFile(object, request.peerPort, now);
    if (route == "files/upload")
        return upload(object, request, now);
    return download(object);
}

std::optional<Answer> DropboxEmulator::Impl::refuseTransport(const QByteArray& route, bool content,
                                                             const LoopbackRequest& request,
                                                             QByteArray& argument) const
{
    const QByteArray type = request.header("Content-Type");
    const auto badType = [&](const char* expecting) {
        return badRequest(route,
                          QStringLiteral("Bad HTTP \"Content-Type\" header: \"%1\".  Expecting one of %2.")
                              .arg(QString::fromUtf8(type), QLatin1String(expecting)));
    };
    if (!content) {
        argument = request.body;
        // A route without argument takes an empty body with any Content-Type, or none.
        if (route == "auth/token/revoke" && argument.isEmpty()) {
            argument = "null";
            return std::nullopt;
        }
        if (!type.startsWith("application/json") && type != "text/plain; charset=dropbox-cors-hack")
            return badType(R"("application/json", "text/plain; charset=dropbox-cors-hack")");
        return std::nullopt;
    }
    if (!request.hasHeader("Dropbox-API-Arg"))
        return badRequest(
            route, QStringLiteral("Must provide HTTP header \"Dropbox-API-Arg\" or URL parameter \"arg\"."));
    argument = request.header("Dropbox-API-Arg");
    for (const char byte : argument)
        if (static_cast<unsigned char>(byte) >= 0x7F)
            return badRequest(
                route, QStringLiteral("HTTP header \"Dropbox-API-Arg\": could not decode input as JSON"));
    if (route == "files/upload") {
        if (type != "application/octet-stream" && type != "text/plain; charset=dropbox-cors-hack")
            return badType(R"("application/octet-stream", "text/plain; charset=dropbox-cors-hack")");
    } else if (!type.isEmpty() && type != "text/plain" && type != "text/plain; charset=dropbox-cors-hack") {
        return badType(R"("text/plain", "text/plain; charset=dropbox-cors-hack")");
    }
    return std::nullopt;
}

std::optional<Answer> DropboxEmulator::Impl::refuseAuthorization(const QByteArray& route,
                                                                 const LoopbackRequest& request,
                                                                 double now) const
{
    if (!request.hasHeader("Authorization"))
        return badRequest(
            route,
            QStringLiteral("Must provide HTTP header \"Authorization\" or URL parameter \"authorization\"."));
    const QByteArray value = request.header("Authorization");
    if (!value.startsWith("Bearer ") || value.size() <= 7)
        return badRequest(route,
                          QStringLiteral("Invalid authorization value in HTTP header \"Authorization\": "
                                         "\"%1\".  Expecting \"Bearer <oauth2-access-token>\".")
                              .arg(QString::fromUtf8(value)));
    const DropboxEmulatorAccounts::TokenState state = accounts.check(QString::fromUtf8(value.mid(7)), now);
    if (state == DropboxEmulatorAccounts::TokenState::Valid)
        return std::nullopt;
    const QString tag = state == DropboxEmulatorAccounts::TokenState::Expired
                            ? QStringLiteral("expired_access_token")
                            : QStringLiteral("invalid_access_token");
    return json(401, Json{{QStringLiteral("error_summary"), tag + QStringLiteral("/..")},
                          {QStringLiteral("error"), tagged(tag)}});
}

std::optional<QString> DropboxEmulator::Impl::resolve(const QString& path) const
{
    if (path.startsWith(QLatin1String("id:"))) {
        const QString lower = tree.pathOfId(path);
        return lower.isEmpty() ? std::nullopt : std::optional<QString>(lower);
    }
    if (!path.isEmpty() && !path.startsWith(QLatin1Char('/')))
        return std::nullopt; // "ns:" and "rev:" forms name nothing here
    return DropboxEmulatorTree::lowerPath(path);
}

std::optional<Answer> DropboxEmulator::Impl::lookUp(const Json& argument, const QString& outer,
                                                    QString& lower) const
{
    const QString path = argument.value(QStringLiteral("path")).toString();
    if (DropboxEmulatorArguments::isMalformedPath(path))
        return pathError(outer, QStringLiteral("malformed_path"));
    const std::optional<QString> resolved = resolve(path);
    if (!resolved || (!resolved->isEmpty() && !tree.find(*resolved)))
        return pathError(outer, QStringLiteral("not_found"));
    lower = *resolved;
    return std::nullopt;
}

bool DropboxEmulator::Impl::collides(quint16 writer, double now)
{
    if (!(writeContention > 0))
        return false;
    if (now < lockedUntil && writer != lockHolder)
        return true;
    lockHolder = writer;
    lockedUntil = now + writeContention;
    return false;
}

bool DropboxEmulator::Impl::fileInTheWay(const QString& lower) const
{
    for (QString parent = DropboxEmulatorTree::parentOf(lower); !parent.isEmpty();
         parent = DropboxEmulatorTree::parentOf(parent))
        if (tree.find(parent) && !tree.find(parent)->folder)
            return true;
    return false;
}

Answer DropboxEmulator::Impl::listFolder(const Json& argument, double now)
{
    QString folder;
    if (auto refused = lookUp(argument, QStringLiteral("path"), folder))
        return *refused;
    if (!tree.isFolder(folder))
        return pathError(QStringLiteral("path"), QStringLiteral("not_folder"));
    std::vector<QJsonObject> snapshot;
    for (const QString& child : tree.children(folder))
        snapshot.push_back(tree.metadata(child, true));
    if (shuffler)
        std::shuffle(snapshot.begin(), snapshot.end(), *shuffler);
    const DropboxEmulatorCursors::Page page = cursors.start(folder, std::move(snapshot), tree, pageSize, now);
    return json(200, Json{{QStringLiteral("entries"), page.entries},
                          {QStringLiteral("cursor"), page.cursor},
                          {QStringLiteral("has_more"), page.hasMore}});
}

Answer DropboxEmulator::Impl::continueListing(const QByteArray& route, const Json& argument, double now)
{
    const QString cursor = argument.value(QStringLiteral("cursor")).toString();
    switch (cursors.lookup(cursor, now)) {
    case DropboxEmulatorCursors::Lookup::Unknown:
        return badRequest(route, QStringLiteral("Invalid \"cursor\" parameter: \"%1\"").arg(cursor));
    case DropboxEmulatorCursors::Lookup::Expired:
        return routeError({QStringLiteral("reset")}, tagged(QStringLiteral("reset")));
    case DropboxEmulatorCursors::Lookup::Known:
        break;
    }
    const DropboxEmulatorCursors::Page page = cursors.next(cursor, tree, pageSize);
    return json(200, Json{{QStringLiteral("entries"), page.entries},
                          {QStringLiteral("cursor"), page.cursor},
                          {QStringLiteral("has_more"), page.hasMore}});
}

Answer DropboxEmulator::Impl::createFolder(const Json& argument, quint16 writer, double now)
{
    const QString path = argument.value(QStringLiteral("path")).toString();
    const std::optional<QString> lower = resolve(path);
    if (DropboxEmulatorArguments::isMalformedPath(path) || !lower)
        return pathError(QStringLiteral("path"), QStringLiteral("malformed_path"));
    if (DropboxEmulatorArguments::isDisallowedName(DropboxEmulatorTree::nameOf(path)))
        return pathError(QStringLiteral("path"), QStringLiteral("disallowed_name"));
    if (const DropboxEmulatorTree::Entry* existing = tree.find(*lower))
        return writeConflict(QStringLiteral("path"),
                             existing->folder ? QStringLiteral("folder") : QStringLiteral("file"));
    if (fileInTheWay(*lower))
        return writeConflict(QStringLiteral("path"), QStringLiteral("file_ancestor"));
    if (collides(writer, now))
        return rateLimited(QStringLiteral("too_many_write_operations"), 1);
    tree.makeFolders(path);
    return json(200, Json{{QStringLiteral("metadata"), tree.metadata(*lower, false)}});
}

Answer DropboxEmulator::Impl::getMetadata(const Json& argument) const
{
    // The argument check has refused the root already.
    QString lower;
    if (auto refused = lookUp(argument, QStringLiteral("path"), lower))
        return *refused;
    return json(200, tree.metadata(lower, true));
}

Answer DropboxEmulator::Impl::deleteFile(const Json& argument, quint16 writer, double now)
{
    QString lower;
    if (auto refused = lookUp(argument, QStringLiteral("path_lookup"), lower))
        return *refused;
    if (lower.isEmpty())
        return pathError(QStringLiteral("path_lookup"), QStringLiteral("not_found"));
    const DropboxEmulatorTree::Entry& entry = *tree.find(lower);
    const QJsonValue parentRev = argument.value(QStringLiteral("parent_rev"));
    if (parentRev.isString() && (entry.folder || entry.rev != parentRev.toString()))
        return writeConflict(QStringLiteral("path_write"), QStringLiteral("file"));
    if (collides(writer, now))
        return rateLimited(QStringLiteral("too_many_write_operations"), 1);
    const Json gone = tree.metadata(lower, true);
    tree.remove(lower);
    return json(200, Json{{QStringLiteral("metadata"), gone}});
}

Answer DropboxEmulator::Impl::upload(const Json& argument, const LoopbackRequest& request, double now)
{
    if (request.bodyBytes > uploadLimit || request.bodyBytes > request.body.size())
        return routeError({QStringLiteral("payload_too_large")}, tagged(QStringLiteral("payload_too_large")));
    const QString path = argument.value(QStringLiteral("path")).toString();
    const std::optional<QString> lower = resolve(path);
    if (DropboxEmulatorArguments::isMalformedPath(path) || !lower || lower->isEmpty())
        return uploadFailure({QStringLiteral("malformed_path")}, tagged(QStringLiteral("malformed_path")));
    if (DropboxEmulatorArguments::isDisallowedName(DropboxEmulatorTree::nameOf(path)))
        return uploadFailure({QStringLiteral("disallowed_name")}, tagged(QStringLiteral("disallowed_name")));
    if (fileInTheWay(*lower))
        return writeConflict(QStringLiteral("upload"), QStringLiteral("file_ancestor"));
    const QByteArray& content = request.body;
    const DropboxEmulatorTree::Entry* existing = tree.find(*lower);
    if (existing && existing->folder)
        return writeConflict(QStringLiteral("upload"), QStringLiteral("folder"));
    const QJsonValue mode = argument.value(QStringLiteral("mode"));
    const QString modeTag =
        mode.isString() ? mode.toString()
                        : mode.toObject().value(QStringLiteral(".tag")).toString(QStringLiteral("add"));
    const QString baseRev = mode.toObject().value(QStringLiteral("update")).toString();
    if (existing && existing->content == content)
        return json(200, tree.metadata(*lower, false));
    if (existing) {
        const bool allowed = modeTag == QLatin1String("overwrite") ||
                             (modeTag == QLatin1String("update") && baseRev == existing->rev);
        if (!allowed)
            return writeConflict(QStringLiteral("upload"), QStringLiteral("file"));
    } else if (modeTag == QLatin1String("update") &&
               argument.value(QStringLiteral("strict_conflict")).toBool()) {
        return writeConflict(QStringLiteral("upload"), QStringLiteral("file"));
    }
    if (quota > 0 && tree.usedBytes() - (existing ? existing->content.size() : 0) + content.size() > quota)
        return uploadFailure({QStringLiteral("insufficient_space")},
                             tagged(QStringLiteral("insufficient_space")));
    if (collides(request.peerPort, now))
        return rateLimited(QStringLiteral("too_many_write_operations"), 1);
    const QString clientModified = argument.value(QStringLiteral("client_modified")).toString();
    tree.writeFile(path, content,
                   clientModified.isEmpty() ? QStringLiteral("2026-01-01T12:00:00Z") : clientModified);
    return json(200, tree.metadata(*lower, false));
}

Answer DropboxEmulator::Impl::download(const Json& argument) const
{
    QString lower;
    if (auto refused = lookUp(argument, QStringLiteral("path"), lower))
        return *refused;
    if (lower.isEmpty() || tree.find(lower)->folder)
        return pathError(QStringLiteral("path"), QStringLiteral("not_file"));
    QByteArray content = tree.find(lower)->content;
    if (damagedDownloads.contains(lower) && !content.isEmpty())
        content[content.size() - 1] = char(content.back() ^ 0x20);
    return Answer{200,
                  content,
                  {{"Content-Type", "application/octet-stream"},
                   {"Dropbox-API-Result", headerSafeDump(tree.metadata(lower, false))}}};
}

DropboxEmulator::DropboxEmulator() : d(std::make_unique<Impl>())
{
    // The whole of any upload the service would take, and one byte more to see a larger one.
    d->server.setKeptBodyBytes(ServiceUploadLimit + 1);
    d->install();
}

DropboxEmulator::~DropboxEmulator()
{
    d->server.stop();
}

bool DropboxEmulator::start()
{
    return d->server.start();
}

QString DropboxEmulator::baseUrl() const
{
    return QString::fromLatin1(d->server.baseUrl());
}

void DropboxEmulator::registerApp(const QString& appKey, const QStringList& redirectUris)
{
    std::lock_guard lock(d->mutex);
    d->accounts.registerApp(appKey, redirectUris);
}

void DropboxEmulator::addAccessToken(const QString& token)
{
    std::lock_guard lock(d->mutex);
    d->accounts.addAccessToken(token, MediaClock::now());
}

void DropboxEmulator::expireAccessToken(const QString& token)
{
    std::lock_guard lock(d->mutex);
    d->accounts.expireAccessToken(token);
}

void DropboxEmulator::addRefreshToken(const QString& token, const QString& appKey)
{
    std::lock_guard lock(d->mutex);
    d->accounts.addRefreshToken(token, appKey);
}

void DropboxEmulator::revokeRefreshToken(const QString& token)
{
    std::lock_guard lock(d->mutex);
    d->accounts.revokeRefreshToken(token);
}

void DropboxEmulator::revokeAllTokens()
{
    std::lock_guard lock(d->mutex);
    d->accounts.revokeAll();
}

bool DropboxEmulator::isValidAccessToken(const QString& token) const
{
    std::lock_guard lock(d->mutex);
    return d->accounts.check(token, MediaClock::now()) == DropboxEmulatorAccounts::TokenState::Valid;
}

std::vector<QString> DropboxEmulator::issuedAccessTokens() const
{
    std::lock_guard lock(d->mutex);
    return d->accounts.issued();
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

void DropboxEmulator::clearFaults()
{
    std::lock_guard lock(d->mutex);
    d->faults.clear();
}

void DropboxEmulator::setRateLimit(int retryAfterSeconds)
{
    std::lock_guard lock(d->mutex);
    d->rateLimit = retryAfterSeconds;
}

void DropboxEmulator::setOutage(std::optional<Fault> fault)
{
    std::lock_guard lock(d->mutex);
    d->outage = fault;
}

int DropboxEmulator::stalledAnswers() const
{
    return d->stalled.load();
}

void DropboxEmulator::shuffleListings(unsigned seed)
{
    std::lock_guard lock(d->mutex);
    if (seed == 0)
        d->shuffler.reset();
    else
        d->shuffler.emplace(seed);
}

void DropboxEmulator::setCursorLifetime(double seconds)
{
    std::lock_guard lock(d->mutex);
    d->cursors.setLifetime(seconds);
}

void DropboxEmulator::expireCursors()
{
    std::lock_guard lock(d->mutex);
    d->cursors.expireAll();
}

void DropboxEmulator::setBetweenPages(std::function<void()> change)
{
    std::lock_guard lock(d->mutex);
    d->betweenPages = std::move(change);
}

void DropboxEmulator::setWriteContention(double seconds)
{
    std::lock_guard lock(d->mutex);
    d->writeContention = seconds;
    d->lockedUntil = 0;
}

void DropboxEmulator::setQuota(qint64 bytes)
{
    std::lock_guard lock(d->mutex);
    d->quota = bytes;
}

void DropboxEmulator::setAccessTokenLifetime(double seconds)
{
    std::lock_guard lock(d->mutex);
    d->accounts.setAccessTokenLifetime(seconds);
}

void DropboxEmulator::setUploadLimit(qint64 bytes)
{
    std::lock_guard lock(d->mutex);
    d->uploadLimit = std::min(bytes, ServiceUploadLimit);
}

void DropboxEmulator::damageDownloads(const QString& path, bool damaged)
{
    std::lock_guard lock(d->mutex);
    if (damaged)
        d->damagedDownloads.insert(path.toLower());
    else
        d->damagedDownloads.remove(path.toLower());
}

QString DropboxEmulator::putFile(const QString& path, const QByteArray& content)
{
    std::lock_guard lock(d->mutex);
    return d->tree.writeFile(path, content, QStringLiteral("2026-01-01T12:00:00Z"));
}

void DropboxEmulator::makeFolder(const QString& path)
{
    std::lock_guard lock(d->mutex);
    d->tree.makeFolders(path);
}

bool DropboxEmulator::remove(const QString& path)
{
    std::lock_guard lock(d->mutex);
    const QString lower = DropboxEmulatorTree::lowerPath(path);
    if (!d->tree.find(lower))
        return false;
    d->tree.remove(lower);
    return true;
}

std::optional<DropboxEmulator::File> DropboxEmulator::file(const QString& path) const
{
    std::lock_guard lock(d->mutex);
    const DropboxEmulatorTree::Entry* entry = d->tree.find(DropboxEmulatorTree::lowerPath(path));
    if (!entry || entry->folder)
        return std::nullopt;
    return fileOf(*entry);
}

std::vector<DropboxEmulator::File> DropboxEmulator::topLevelFiles() const
{
    std::lock_guard lock(d->mutex);
    std::vector<File> files;
    for (const QString& lower : d->tree.children(QString())) {
        const DropboxEmulatorTree::Entry* entry = d->tree.find(lower);
        if (entry && !entry->folder)
            files.push_back(fileOf(*entry));
    }
    return files;
}

qint64 DropboxEmulator::usedBytes() const
{
    std::lock_guard lock(d->mutex);
    return d->tree.usedBytes();
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
    return DropboxEmulatorTree::contentHash(content);
}

} // namespace corvex::test
