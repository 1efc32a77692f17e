#pragma once

#include "platform/core/Completion.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

namespace corvex {

// Seams the application's launch calls into layers that may or may not be linked in. Each is
// filled at start-up by the layer that implements it; with none registered the launch goes
// on without it and nothing pretends to run. Main thread only.

// The reporting kit's start (launch step 1: the kit started once with the crash reporter).
class ReportingKitLaunch
{
public:
    using Hook = std::function<void()>;
    // Replaces the hook; an empty one removes it.
    static void setHook(Hook hook);
    static bool hasHook();
    // Runs the hook; answers whether one ran.
    static bool start();
};

// Notification names the shell and the sign-in service post for the cloud back ends.
namespace DropboxNotifications {
// Posted with no object when the sign-in service reports an access token no longer valid.
inline const QString InvalidAccessToken = QStringLiteral("DropboxInvalidAccessTokenNotification");
// Posted with no object once a sign-in has saved the account's new tokens.
inline const QString SignedIn = QStringLiteral("DropboxSignedInNotification");
} // namespace DropboxNotifications

// The Dropbox sign-in service ("Dropbox client" implements it over platform/net). Only a URL
// the service recognises as the answer to a sign-in this process started is the redirect; with
// no service registered no URL is.
class DropboxSignInService
{
public:
    enum class Outcome
    {
        NotRedirect, // not an answer to a sign-in of ours: nothing changed
        Success,
        Cancel,
        Error
    };
    using Completion = corvex::Completion<Outcome, const QString&>;

    virtual ~DropboxSignInService();

    virtual bool isRedirectURL(const QUrl& url) const = 0;
    // Completes once, on the completion's queue (the token exchange is a network call).
    virtual void handleRedirectURL(const QUrl& url, Completion completion) = 0;
    // Whether a signed-in client exists already (a stored token).
    virtual bool hasAuthorizedClient() const = 0;
    // Starts the desktop sign-in: the sign-in page's address goes to `openURL` (the caller
    // shows it in the browser); the answer comes back later as the redirect.
    virtual void authorizeFromControllerDesktop(std::function<void(const QUrl& url)> openURL) = 0;
    // Signs out: the stored token is forgotten (and revoked where possible).
    virtual void unlinkAndResetClients() = 0;

    // The registered service; null when none.
    static std::shared_ptr<DropboxSignInService> registered();
    static void setRegistered(std::shared_ptr<DropboxSignInService> service);

    // "k3rt9wq0zvm5lhx", or $CORVEX_DROPBOX_APP_KEY when set to letters and digits.
    static QString appKey();
    // "db-" + appKey(): the only scheme a launch URL may have to reach sign-in.
    static QString redirectScheme();
    // Whether the URL has the redirect scheme and the registered service calls it the
    // redirect; false with no service.
    static bool isRedirect(const QUrl& url);
};

} // namespace corvex
