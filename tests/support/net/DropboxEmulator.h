#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex::test {

// The Dropbox API v2 as the client uses it, on 127.0.0.1 at a free port, as strict as the
// service's public documentation and known behaviour: one application folder, paths
// compared without case, every write a fresh revision, the service's content hashes.
//
// Routes: files/list_folder and list_folder/continue (paged, see setPageSize; a cursor goes on
// with the changes made since its listing began), create_folder_v2, upload (modes add,
// overwrite and update: a missing target is always written, a folder always conflicts,
// identical content is a no-op), download (with "Dropbox-API-Result"), get_metadata,
// delete_v2 (a "parent_rev" that is not the file's answers 409 path_write/conflict/file: the
// service's tag for that case is not public, this is our assumption), auth/token/revoke,
// /oauth2/token (authorization_code with PKCE S256, refresh_token) and GET /oauth2/authorize,
// which redirects at once to its redirect URI with a code and the state.
//
// What the service always does, it does by default:
// - 400 with a plain-text body for a request it cannot take: no Authorization header or not
//   "Bearer <token>", an RPC route without JSON Content-Type (a route without argument takes an
//   empty body too), a content route with a form Content-Type, raw bytes above 0x7E in
//   "Dropbox-API-Arg", an argument that is not JSON, a field the route does not know, a wrong
//   type, a path without its leading "/" (get_metadata "" included), a malformed revision or
//   write mode, a cursor it never handed out;
// - 401 invalid_access_token or expired_access_token for a token it does not take;
// - 409 route errors with {"error_summary", "error"}: not_found, not_folder, not_file,
//   conflict, malformed_path (a trailing "/" or blank, an empty component), disallowed_name
//   (".DS_Store", "desktop.ini", ...), payload_too_large (an upload above 150 MiB), reset;
// - 429 with Retry-After and {"error": {"reason", "retry_after"}};
// - the token route checks client_id, redirect_uri and the PKCE verifier; the sign-in page
//   knows only registered applications and their redirect URIs.
// What it does only sometimes is a switch a test turns on: stalled and cut answers
// (injectFault), an outage of every route (setOutage), expiring cursors, changes landing
// between listing pages, listings in any order, too_many_write_operations, a quota, access
// tokens expiring with time, refresh tokens revoked, a file whose downloads are always damaged.
//
// Every request is logged. The destructor stops the server and ends whatever answer stalls.
class DropboxEmulator
{
public:
    enum class Fault
    {
        Status500,
        Status503,
        Status429,              // too_many_requests, with Retry-After: 1
        TooManyWriteOperations, // 429 too_many_write_operations, with Retry-After: 1
        Unauthorized,           // 401 invalid_access_token
        CursorReset,            // 409 "reset": the listing's cursor expired
        // The answer is computed (a write lands), then broken on the wire:
        Drop,     // the head, then the connection closes
        Stall,    // the head, then nothing until the client gives up (or the emulator stops)
        Truncate, // the head and half the body, then the connection closes
        HangUp,   // not a byte: the connection closes, as a server's end does after a kept-alive wait
        Reset,    // not a byte: the connection is reset
        // Half the body under a Content-Length of that half: an answer that looks whole, its
        // "Dropbox-API-Result" still the whole file's size and content hash.
        ShortBody,
    };

    struct LoggedRequest
    {
        QByteArray route;    // "files/upload", "oauth2/token", ...
        QByteArray argument; // the JSON body or the argument header
        QByteArray contentType;
        bool hasContentType = false;
        QByteArray authorization;
        int status = 0;
        QByteArray answer; // the body of an error answer
        double at = 0;     // MediaClock::now() when it arrived
        bool cut = false;  // dropped, cut or stalled on the wire
    };

    struct File
    {
        QString pathDisplay;
        QByteArray content;
        QString rev;
        QString clientModified;
    };

    // The single-upload limit of the service.
    static constexpr qint64 ServiceUploadLimit = qint64(150) * 1024 * 1024;

    DropboxEmulator();
    ~DropboxEmulator();
    DropboxEmulator(const DropboxEmulator&) = delete;
    DropboxEmulator& operator=(const DropboxEmulator&) = delete;

    bool start();
    // "http://127.0.0.1:<port>"
    QString baseUrl() const;

    // Applications: "testkey" (redirect URI "db-testkey://2/token") is always registered.
    void registerApp(const QString& appKey, const QStringList& redirectUris);
    // Accounts: an access token that works, one that has expired, a refresh token of an
    // application that gives a new access token.
    void addAccessToken(const QString& token);
    void expireAccessToken(const QString& token);
    void addRefreshToken(const QString& token, const QString& appKey = QStringLiteral("testkey"));
    // The refresh token stops working (the user took the application's access away).
    void revokeRefreshToken(const QString& token);
    // Every access and refresh token stops working: the user took the access away on the
    // service's website. Access tokens answer 401 invalid_access_token from then on.
    void revokeAllTokens();
    bool isValidAccessToken(const QString& token) const;
    // The access tokens handed out by /oauth2/token, in order.
    std::vector<QString> issuedAccessTokens() const;

    // What a browser shown the sign-in page ends at: GETs the page and answers the address
    // it redirects to (no redirect is followed); empty when the page did not redirect.
    QString openInBrowser(const QString& pageUrl) const;

    void setPageSize(int entries);
    // The next `times` requests of `route` ("oauth2/token" too) meet `fault`.
    void injectFault(const QByteArray& route, Fault fault, int times = 1);
    // Drops the faults no request has met yet, of every route.
    void clearFaults();
    // Every request answers 429 too_many_requests with this Retry-After; 0 lifts the limit.
    void setRateLimit(int retryAfterSeconds);
    // Every request (the token route too) meets this fault until the outage ends (nothing):
    // a service gone for a while, its connections dropped or stalled, or every answer an error.
    void setOutage(std::optional<Fault> fault);
    // Replies still held by a stall (they end when their client gives up).
    int stalledAnswers() const;

    // Switches for what the service does only sometimes:
    // - listings in an order of their own (a seeded shuffle); 0 lists in path order again;
    void shuffleListings(unsigned seed);
    // - cursors expire this many seconds (virtual time) after their listing began (0: never),
    //   or all at once; continuing an expired one answers 409 reset;
    void setCursorLifetime(double seconds);
    void expireCursors();
    // - `change` runs before each continuation page is served (on the emulator's thread; it may
    //   call putFile, remove, makeFolder): changes landing between pages; null ends it;
    void setBetweenPages(std::function<void()> change);
    // - a write holds the folder this many seconds (virtual time); a write arriving meanwhile on
    //   another connection answers 429 too_many_write_operations (0: writes never collide);
    void setWriteContention(double seconds);
    // - the account's space: an upload that would need more answers 409 path/insufficient_space
    //   (0: no quota);
    void setQuota(qint64 bytes);
    // - access tokens expire this many seconds (virtual time) after they were issued or added
    //   (0: never), answering 401 expired_access_token from then on.
    void setAccessTokenLifetime(double seconds);
    // The single-upload limit (ServiceUploadLimit unless a test lowers it).
    void setUploadLimit(qint64 bytes);
    // - every download of the file at `path` comes with one byte changed on the way, under the
    //   whole file's metadata: a content hash that never matches (false ends it).
    void damageDownloads(const QString& path, bool damaged = true);

    // The "second machine": writes and deletes that do not go through the API.
    QString putFile(const QString& path, const QByteArray& content);
    void makeFolder(const QString& path);
    bool remove(const QString& path);
    std::optional<File> file(const QString& path) const;
    // The files at the top of the application folder, where documents are kept, in path order.
    std::vector<File> topLevelFiles() const;
    qint64 usedBytes() const;

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
