#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrlQuery>
#include <map>
#include <set>
#include <vector>

namespace corvex::test {

// Who may call the Dropbox emulator, and its sign-in routes: registered applications with
// the redirect URIs they may use, sign-in codes (single use, bound to their application,
// redirect URI and PKCE challenge), access tokens (each can expire a set time after it was
// issued) and refresh tokens (bound to their application). Times are the caller's clock.
// Not thread-safe: the emulator holds its lock around every call.
class DropboxEmulatorAccounts
{
public:
    // The application every emulator knows, with "db-testkey://2/token" as its redirect URI.
    static const QString TestAppKey;

    struct Answer
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType;
        QByteArray location; // a redirect's target
    };

    enum class TokenState
    {
        Valid,
        Expired,
        Unknown,
    };

    DropboxEmulatorAccounts();

    void registerApp(const QString& appKey, const QStringList& redirectUris);
    void addAccessToken(const QString& token, double now);
    void expireAccessToken(const QString& token);
    void addRefreshToken(const QString& token, const QString& appKey);
    void revokeRefreshToken(const QString& token) { mRefresh.erase(token); }
    // The user took every application's access away: no token works any more.
    void revokeAll()
    {
        mAccess.clear();
        mExpired.clear();
        mRefresh.clear();
    }
    // 0: tokens never expire with time.
    void setAccessTokenLifetime(double seconds) { mLifetime = seconds; }
    TokenState check(const QString& token, double now) const;
    void revoke(const QString& token);
    const std::vector<QString>& issued() const { return mIssued; }

    // GET /oauth2/authorize: a redirect to the redirect URI with a code and the state, or a
    // 400 page when the application or its redirect URI is unknown.
    Answer authorize(const QUrlQuery& query);
    // POST /oauth2/token (form): a code or a refresh token exchanged for tokens.
    Answer token(const QUrlQuery& form, double now);

private:
    struct Code
    {
        QString appKey;
        QString redirectUri;
        QString challenge;
        bool offline = false;
    };

    Answer tokenError(const QString& error, const QString& description) const;
    QString issue(double now);

    std::map<QString, QStringList> mApps;
    std::map<QString, Code> mCodes;
    std::map<QString, double> mAccess; // token -> when it was issued
    std::set<QString> mExpired;
    std::map<QString, QString> mRefresh; // refresh token -> application
    std::vector<QString> mIssued;
    double mLifetime = 0;
    int mCounter = 0;
};

} // namespace corvex::test
