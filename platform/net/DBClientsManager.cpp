#include "platform/net/DBClientsManager.h"

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/net/DropboxAccountAnswers.h"
#include "platform/net/DropboxRedirect.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QUrlQuery>
#include <array>

namespace corvex {

namespace {

// Sign-ins whose pages may still answer; an older one is forgotten when more are started.
constexpr std::size_t MaxPendingSignIns = 4;

QString randomUrlSafeText(int bytes)
{
    QByteArray random(bytes, '\0');
    for (char& byte : random)
        byte = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(
        random.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString pkceChallenge(const QString& verifier)
{
    const QByteArray digest = QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256);
    return QString::fromLatin1(
        digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

DBClientsManager::DBClientsManager() : DBClientsManager(Options()) {}

DBClientsManager::DBClientsManager(Options options)
    : mOptions(std::move(options)), mSession(HttpSession::create(mOptions.session))
{}

DBClientsManager::~DBClientsManager() = default;

std::shared_ptr<DBClientsManager> DBClientsManager::setupWithAppKeyDesktop(const QString& appKey)
{
    Options options;
    options.appKey = appKey;
    auto manager = std::make_shared<DBClientsManager>(std::move(options));
    DropboxSignInService::setRegistered(manager);
    return manager;
}

std::shared_ptr<DBClientsManager> DBClientsManager::shared()
{
    return std::dynamic_pointer_cast<DBClientsManager>(DropboxSignInService::registered());
}

std::shared_ptr<DropboxUserClient> DBClientsManager::authorizedClient()
{
    if (mClient)
        return mClient;
    const std::optional<DropboxCredentials> credentials = mOptions.tokenStore.load();
    if (!credentials)
        return nullptr;
    DropboxUserClient::Options clientOptions;
    clientOptions.appKey = mOptions.appKey;
    clientOptions.endpoints = mOptions.endpoints;
    clientOptions.tokenStore = mOptions.tokenStore;
    clientOptions.session = mSession;
    mClient = DropboxUserClient::create(*credentials, std::move(clientOptions));
    return mClient;
}

bool DBClientsManager::hasAuthorizedClient() const
{
    return mClient || mOptions.tokenStore.load().has_value();
}

void DBClientsManager::authorizeFromControllerDesktop(OpenURL openURL)
{
    const QString state = randomUrlSafeText(16);
    const QString verifier = randomUrlSafeText(32);
    if (mPending.size() >= MaxPendingSignIns)
        mPending.erase(mPending.begin());
    mPending[state] = verifier;

    QUrl page(mOptions.endpoints.authorizePage);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("client_id"), mOptions.appKey);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("code_challenge"), pkceChallenge(verifier));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    query.addQueryItem(QStringLiteral("token_access_type"), QStringLiteral("offline"));
    query.addQueryItem(QStringLiteral("redirect_uri"),
                       DropboxRedirect::redirectUri(QStringLiteral("db-") + mOptions.appKey));
    query.addQueryItem(QStringLiteral("state"), state);
    page.setQuery(query);
    if (openURL)
        openURL(page);
    else
        Log::warning(QStringLiteral("Dropbox sign-in: no way to open the sign-in page"));
}

bool DBClientsManager::isRedirectURL(const QUrl& url) const
{
    const auto redirect = DropboxRedirect::parse(url, QStringLiteral("db-") + mOptions.appKey);
    return redirect && mPending.count(redirect->state) != 0;
}

void DBClientsManager::handleRedirectURL(const QUrl& url, Completion completion)
{
    const auto redirect = DropboxRedirect::parse(url, QStringLiteral("db-") + mOptions.appKey);
    const auto pending = redirect ? mPending.find(redirect->state) : mPending.end();
    if (pending == mPending.end()) {
        completion(Outcome::NotRedirect, QString());
        return;
    }
    const QString verifier = pending->second;
    mPending.erase(pending);
    if (!redirect->error.isEmpty()) {
        completion(redirect->isCancel() ? Outcome::Cancel : Outcome::Error,
                   redirect->errorDescription.isEmpty() ? redirect->error : redirect->errorDescription);
        return;
    }
    exchange(redirect->code, verifier, std::move(completion));
}

void DBClientsManager::exchange(const QString& code, const QString& verifier, Completion completion)
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("authorization_code"));
    form.addQueryItem(QStringLiteral("code"), code);
    form.addQueryItem(QStringLiteral("client_id"), mOptions.appKey);
    form.addQueryItem(QStringLiteral("code_verifier"), verifier);
    form.addQueryItem(QStringLiteral("redirect_uri"),
                      DropboxRedirect::redirectUri(QStringLiteral("db-") + mOptions.appKey));
    auto transfer = mSession->makeTransfer(HttpRequest::post(mOptions.endpoints.tokenUrl(),
                                                             form.toString(QUrl::FullyEncoded).toUtf8(),
                                                             "application/x-www-form-urlencoded"));
    mExchange = transfer;
    std::weak_ptr<int> alive = mLifetime;
    transfer->start([this, alive, transfer,
                     completion = std::move(completion)](const Result<HttpResponse>& result) mutable {
        if (alive.expired()) {
            completion(Outcome::Error, QStringLiteral("Dropbox sign-in ended"));
            return;
        }
        if (mExchange == transfer)
            mExchange.reset();
        if (!result) {
            completion(Outcome::Error, result.error().localizedDescription());
            return;
        }
        const DropboxCredentials credentials = DropboxAccountAnswers::signInTokens(result->body);
        if (result->statusCode != 200 || credentials.accessToken.isEmpty()) {
            completion(Outcome::Error,
                       QStringLiteral("The sign-in code was refused (HTTP %1)").arg(result->statusCode));
            return;
        }
        if (const Status saved = mOptions.tokenStore.save(credentials); !saved) {
            completion(Outcome::Error, saved.error().localizedDescription());
            return;
        }
        mClient.reset();
        // A back end that stopped for a refused token takes up the new account.
        NotificationCenter::defaultCenter().post(DropboxNotifications::SignedIn);
        completion(Outcome::Success, QString());
    });
}

void DBClientsManager::unlinkAndResetClients(corvex::Completion<> done)
{
    std::shared_ptr<DropboxUserClient> client = authorizedClient();
    mClient.reset();
    if (const Status removed = mOptions.tokenStore.remove(); !removed)
        Log::warning(QStringLiteral("Dropbox: the token file could not be removed: ") +
                     removed.error().localizedDescription());
    if (!client) {
        done();
        return;
    }
    client->revoke([client, done = std::move(done)](const DropboxRequestAnswer& answer) mutable {
        if (!answer.isSuccess())
            Log::info(QStringLiteral("Dropbox: the token was not revoked at the service (HTTP %1)")
                          .arg(answer.status));
        done();
    });
}

} // namespace corvex
