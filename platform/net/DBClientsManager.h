#pragma once

#include "platform/core/LaunchSeams.h"
#include "platform/net/DropboxEndpoints.h"
#include "platform/net/DropboxTokenStore.h"
#include "platform/net/DropboxUserClient.h"
#include "platform/net/HttpSession.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>

namespace corvex {

// The Dropbox account of this user: desktop sign-in, the authorised client and unlinking.
//
// Sign-in is the OAuth code flow with PKCE: authorizeFromControllerDesktop() makes a
// verifier and a state, builds the sign-in page's URL and hands it to the caller's block
// (the interface opens it in the browser). The page answers through the redirect URL
// "db-<app key>://2/token?code=...&state=..." that reaches handleRedirectURL(); a URL that is
// not of that form, or whose state is not one we sent, is not ours and changes nothing.
// Otherwise the code is exchanged for tokens, which are saved (DropboxTokenStore) before
// the sign-in answers success. Main thread only.
class DBClientsManager : public DropboxSignInService
{
public:
    struct Options
    {
        QString appKey = DropboxSignInService::appKey();
        DropboxEndpoints endpoints = DropboxEndpoints::fromEnvironment();
        DropboxTokenStore tokenStore;
        HttpSessionConfiguration session;
    };
    using OpenURL = std::function<void(const QUrl&)>;

    DBClientsManager();
    explicit DBClientsManager(Options options);
    ~DBClientsManager() override;

    // Makes the manager for the application's key and registers it as the sign-in service.
    static std::shared_ptr<DBClientsManager> setupWithAppKeyDesktop(const QString& appKey);
    // The registered service when it is a DBClientsManager; null otherwise.
    static std::shared_ptr<DBClientsManager> shared();

    // The client of the signed-in account (from the token file, once read); null when no
    // account is signed in.
    std::shared_ptr<DropboxUserClient> authorizedClient();
    bool hasAuthorizedClient() const override;

    void authorizeFromControllerDesktop(OpenURL openURL) override;

    bool isRedirectURL(const QUrl& url) const override;
    void handleRedirectURL(const QUrl& url, Completion completion) override;

    // Revokes the token at the service and deletes it here; `done` runs on the main queue
    // once the revocation answered. The file is gone before the call returns.
    void unlinkAndResetClients(corvex::Completion<> done);
    void unlinkAndResetClients() override { unlinkAndResetClients(nullptr); }

    const Options& options() const { return mOptions; }
    // Sign-ins started and not yet answered (their states).
    std::size_t pendingSignIns() const { return mPending.size(); }

private:
    void exchange(const QString& code, const QString& verifier, Completion completion);

    Options mOptions;
    std::shared_ptr<HttpSession> mSession;
    std::shared_ptr<DropboxUserClient> mClient;
    std::map<QString, QString> mPending; // state -> code verifier
    std::shared_ptr<HttpTransfer> mExchange;
    // Expires with the manager: a token exchange answering later must not touch it.
    std::shared_ptr<int> mLifetime = std::make_shared<int>(0);
};

} // namespace corvex
