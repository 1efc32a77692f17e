#include "platform/core/LaunchSeams.h"

#include <QRegularExpression>

namespace corvex {

namespace {

ReportingKitLaunch::Hook& launchHookSlot()
{
    static ReportingKitLaunch::Hook hook;
    return hook;
}

std::shared_ptr<DropboxSignInService>& signInSlot()
{
    static std::shared_ptr<DropboxSignInService> service;
    return service;
}

} // namespace

void ReportingKitLaunch::setHook(Hook hook)
{
    launchHookSlot() = std::move(hook);
}

bool ReportingKitLaunch::hasHook()
{
    return bool(launchHookSlot());
}

bool ReportingKitLaunch::start()
{
    // A copy: the hook may replace itself.
    const Hook hook = launchHookSlot();
    if (!hook)
        return false;
    hook();
    return true;
}

DropboxSignInService::~DropboxSignInService() = default;

std::shared_ptr<DropboxSignInService> DropboxSignInService::registered()
{
    return signInSlot();
}

void DropboxSignInService::setRegistered(std::shared_ptr<DropboxSignInService> service)
{
    signInSlot() = std::move(service);
}

QString DropboxSignInService::appKey()
{
    // Letters and digits only: the key becomes a URL scheme and a MIME type name.
    const QString fromEnvironment = qEnvironmentVariable("CORVEX_DROPBOX_APP_KEY").trimmed();
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9]{1,64}$"));
    if (plain.match(fromEnvironment).hasMatch())
        return fromEnvironment.toLower();
    return QStringLiteral("k3rt9wq0zvm5lhx");
}

QString DropboxSignInService::redirectScheme()
{
    return QStringLiteral("db-") + appKey();
}

bool DropboxSignInService::isRedirect(const QUrl& url)
{
    if (url.scheme().compare(redirectScheme(), Qt::CaseInsensitive) != 0)
        return false;
    const std::shared_ptr<DropboxSignInService> service = registered();
    return service && service->isRedirectURL(url);
}

} // namespace corvex
