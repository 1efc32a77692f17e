#include "tests/support/net/DropboxEmulatorAccounts.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace corvex::test {

const QString DropboxEmulatorAccounts::TestAppKey = QStringLiteral("testkey");

namespace {

QString formValue(const QUrlQuery& query, const char* name)
{
    return query.queryItemValue(QLatin1String(name), QUrl::FullyDecoded);
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

DropboxEmulatorAccounts::Answer page(int status, const QString& text)
{
    return DropboxEmulatorAccounts::Answer{status, text.toUtf8(), "text/plain; charset=utf-8", {}};
}

} // namespace

DropboxEmulatorAccounts::DropboxEmulatorAccounts()
{
    registerApp(TestAppKey, {QStringLiteral("db-%1://2/token").arg(TestAppKey)});
}

void DropboxEmulatorAccounts::registerApp(const QString& appKey, const QStringList& redirectUris)
{
    mApps[appKey] = redirectUris;
}

void DropboxEmulatorAccounts::addAccessToken(const QString& token, double now)
{
    mAccess[token] = now;
    mExpired.erase(token);
}

void DropboxEmulatorAccounts::expireAccessToken(const QString& token)
{
    mAccess.erase(token);
    mExpired.insert(token);
}

void DropboxEmulatorAccounts::addRefreshToken(const QString& token, const QString& appKey)
{
    mRefresh[token] = appKey;
}

DropboxEmulatorAccounts::TokenState DropboxEmulatorAccounts::check(const QString& token, double now) const
{
    const auto found = mAccess.find(token);
    if (found != mAccess.end())
        return mLifetime > 0 && now >= found->second + mLifetime ? TokenState::Expired : TokenState::Valid;
    return mExpired.count(token) ? TokenState::Expired : TokenState::Unknown;
}

void DropboxEmulatorAccounts::revoke(const QString& token)
{
    mAccess.erase(token);
    mExpired.erase(token);
}

DropboxEmulatorAccounts::Answer DropboxEmulatorAccounts::authorize(const QUrlQuery& query)
{
    const QString appKey = formValue(query, "client_id");
    const auto app = mApps.find(appKey);
    if (app == mApps.end())
        return page(400, QStringLiteral("Invalid client_id: \"%1\".").arg(appKey));
    if (formValue(query, "response_type") != QLatin1String("code"))
        return page(400, QStringLiteral("Invalid response_type: expected \"code\"."));
    // Taken as given: QUrl would read the authority "2" as an address.
    const QString redirect = formValue(query, "redirect_uri");
    if (!redirect.isEmpty() && !app->second.contains(redirect))
        return page(400, QStringLiteral("Invalid redirect_uri: \"%1\". It must exactly match one of the "
                                        "redirect URIs you've pre-configured for your app.")
                             .arg(redirect));
    const QString method = formValue(query, "code_challenge_method");
    if (query.hasQueryItem(QStringLiteral("code_challenge")) && method != QLatin1String("S256"))
        return page(400, QStringLiteral("Invalid code_challenge_method: \"%1\".").arg(method));
    const QString code = QStringLiteral("code%1").arg(++mCounter);
    mCodes[code] = Code{appKey, redirect, formValue(query, "code_challenge"),
                        formValue(query, "token_access_type") == QLatin1String("offline")};
    if (redirect.isEmpty())
        return page(200, QStringLiteral("Enter this code into your app: ") + code);
    QUrlQuery answer;
    answer.addQueryItem(QStringLiteral("code"), code);
    answer.addQueryItem(QStringLiteral("state"), formValue(query, "state"));
    return Answer{302, {}, {}, (redirect + QLatin1Char('?') + answer.toString(QUrl::FullyEncoded)).toUtf8()};
}

DropboxEmulatorAccounts::Answer DropboxEmulatorAccounts::token(const QUrlQuery& form, double now)
{
    const QString grant = formValue(form, "grant_type");
    const QString appKey = formValue(form, "client_id");
    if (grant != QLatin1String("authorization_code") && grant != QLatin1String("refresh_token"))
        return tokenError(QStringLiteral("unsupported_grant_type"),
                          QStringLiteral("\"grant_type\" must be authorization_code or refresh_token"));
    if (!mApps.count(appKey))
        return tokenError(QStringLiteral("invalid_client"),
                          QStringLiteral("Invalid client_id or client_secret"));
    QJsonObject body;
    if (grant == QLatin1String("refresh_token")) {
        const auto refresh = mRefresh.find(formValue(form, "refresh_token"));
        if (refresh == mRefresh.end())
            return tokenError(QStringLiteral("invalid_grant"), QStringLiteral("refresh token is malformed"));
        if (refresh->second != appKey)
            return tokenError(QStringLiteral("invalid_grant"),
                              QStringLiteral("refresh token is for another app"));
    } else {
        const auto code = mCodes.find(formValue(form, "code"));
        if (code == mCodes.end())
            return tokenError(QStringLiteral("invalid_grant"),
                              QStringLiteral("code doesn't exist or has expired"));
        // A code is used up by any attempt, as the service's are.
        const Code used = code->second;
        mCodes.erase(code);
        if (used.appKey != appKey)
            return tokenError(QStringLiteral("invalid_grant"),
                              QStringLiteral("code was issued to another app"));
        if (formValue(form, "redirect_uri") != used.redirectUri)
            return tokenError(QStringLiteral("invalid_grant"), QStringLiteral("redirect_uri mismatch"));
        const QByteArray verifier = formValue(form, "code_verifier").toLatin1();
        const QString challenge = QString::fromLatin1(
            QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
        if (challenge != used.challenge)
            return tokenError(QStringLiteral("invalid_grant"), QStringLiteral("invalid code verifier"));
        if (used.offline) {
            const QString refresh = QStringLiteral("refresh-%1").arg(mCounter + 1);
            mRefresh[refresh] = appKey;
            body.insert(QStringLiteral("refresh_token"), refresh);
        }
    }
    body.insert(QStringLiteral("access_token"), issue(now));
    body.insert(QStringLiteral("token_type"), QStringLiteral("bearer"));
    body.insert(QStringLiteral("expires_in"), mLifetime > 0 ? mLifetime : 14400.0);
    return Answer{200, json(body), "application/json", {}};
}

DropboxEmulatorAccounts::Answer DropboxEmulatorAccounts::tokenError(const QString& error,
                                                                    const QString& description) const
{
    return Answer{400,
                  json(QJsonObject{{QStringLiteral("error"), error},
                                   {QStringLiteral("error_description"), description}}),
                  "application/json",
                  {}};
}

QString DropboxEmulatorAccounts::issue(double now)
{
    const QString access = QStringLiteral("access-%1").arg(++mCounter);
    mAccess[access] = now;
    mIssued.push_back(access);
    return access;
}

} // namespace corvex::test
