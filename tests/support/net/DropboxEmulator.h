#pragma once

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace corvex::test {

// The Dropbox API v2 as the client uses it, on 127.0.0.1 at a free port (cpp-httplib): one
// application folder, paths compared without case, every write a fresh revision, SHA-256
// content hashes as the service computes them (of the 4 MiB blocks' hashes).
//
// Routes: files/list_folder (paged: setPageSize; cursors; an unknown cursor is 409 "reset"),
// list_folder/continue, create_folder_v2, upload (modes add, overwrite and update: a missing
// target is always written, a folder always conflicts, identical content is a no-op that
// answers the existing metadata), download (with "Dropbox-API-Result"), get_metadata,
// delete_v2 (a "parent_rev" that is not the file's answers 409 path_write/conflict/file: the
// service's tag for that case is not public, this is our assumption), auth/token/revoke,
// /oauth2/token (authorization_code with PKCE S256, refresh_token) and GET /oauth2/authorize,
// which redirects at once to its redirect_uri with a code and the state.
//
// Requests are checked as the service does: 401 invalid_access_token or expired_access_token;
// 400 with a text body for an RPC route without JSON Content-Type, a content route with a form
// Content-Type, or an argument header holding raw bytes above 0x7E. Faults can be injected per
// route; a rate limit answers every request 429 with Retry-After until lifted. Every request is
// logged. The destructor stops the server; a stalled answer ends then.
class DropboxEmulator
{
public:
    enum class Fault
    {
        Status500,
        Status503,
        Status429, // with Retry-After: 1
        Unauthorized,
        CursorReset, // 409 "reset": the listing's cursor expired
        Drop,        // the head, then the connection closes
        Stall,       // the head, then nothing for 3 s (or until the server stops)
        Truncate,    // the head and half the body
    };

    struct LoggedRequest
    {
        QByteArray route;    // "files/upload", "oauth2/token", ...
        QByteArray argument; // the JSON body or the argument header
        QByteArray contentType;
        bool hasContentType = false;
        QByteArray authorization;
        int status = 0;
        double at = 0; // MediaClock::now() when it arrived
    };

    struct File
    {
        QString pathDisplay;
        QByteArray content;
        QString rev;
        QString clientModified;
    };

    DropboxEmulator();
    ~DropboxEmulator();
    DropboxEmulator(const DropboxEmulator&) = delete;
    DropboxEmulator& operator=(const DropboxEmulator&) = delete;

    bool start();
    // "http://127.0.0.1:<port>"
    QString baseUrl() const;

    // Accounts: an access token that works, one that has expired, a refresh token that gives
    // a new access token.
    void addAccessToken(const QString& token);
    void expireAccessToken(const QString& token);
    void addRefreshToken(const QString& token);
    bool isValidAccessToken(const QString& token) const;
    // The access tokens handed out by /oauth2/token, in order.
    std::vector<QString> issuedAccessTokens() const;

    // What a browser shown the sign-in page ends at: GETs the page and answers the address
    // it redirects to (no redirect is followed); empty when the page did not redirect.
    QString openInBrowser(const QString& pageUrl) const;

    void setPageSize(int entries);
    void injectFault(const QByteArray& route, Fault fault, int times = 1);
    // 0 lifts the limit.
    void setRateLimit(int retryAfterSeconds);

    // The "second machine": writes and deletes that do not go through the API.
    QString putFile(const QString& path, const QByteArray& content);
    void makeFolder(const QString& path);
    bool remove(const QString& path);
    std::optional<File> file(const QString& path) const;

    std::vector<LoggedRequest> requests() const;
    std::vector<LoggedRequest> requests(const QByteArray& route) const;
    int count(const QByteArray& route) const { return int(requests(route).size()); }
    int countWithStatus(int status) const;

    // The service's content hash of some bytes.
    static QString contentHash(const QByteArray& content);

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace corvex::test
