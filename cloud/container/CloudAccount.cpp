#include "cloud/container/CloudAccount.h"

#include "platform/core/FileCoordinator.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/SysCalls.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <sys/stat.h>

namespace corvex {

const QString CloudAccount::IdentityDidChangeNotification =
    QStringLiteral("NSUbiquityIdentityDidChangeNotification");
const QString CloudAccount::ApplicationDidBecomeActiveNotification =
    QStringLiteral("NSApplicationDidBecomeActiveNotification");
const QString CloudAccount::ContainerIdentifier = QStringLiteral("KR7M2QW9TZ.com.tallowfen.corvex");

CloudAccount::~CloudAccount() = default;

std::optional<CloudIdentityToken> CloudAccount::currentToken() const
{
    return tokenOfFolder(containerFolder());
}

std::optional<CloudIdentityToken> CloudAccount::tokenOfFolder(const QString& folder)
{
    if (folder.isEmpty())
        return std::nullopt;
    struct stat info;
    if (SysCalls::stat(QFile::encodeName(folder).constData(), &info) != 0)
        return std::nullopt;
    if (!S_ISDIR(info.st_mode)) {
        Log::warning(
            QStringLiteral("CloudMode: %1 is no folder; the iCloud location has no account").arg(folder));
        return std::nullopt;
    }
    return CloudIdentityToken{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino)};
}

// ---- FolderCloudAccount

QString FolderCloudAccount::standardFolder()
{
    const QString override = qEnvironmentVariable(OverrideVariable);
    if (!override.isEmpty() && QDir::isAbsolutePath(override))
        return QDir::cleanPath(override);
    return Paths::applicationSupport() + QLatin1Char('/') + Paths::appFolderName() +
           QStringLiteral("/iCloud");
}

FolderCloudAccount::FolderCloudAccount()
    : mFolder(standardFolder()), mMakesFolder(qEnvironmentVariable(OverrideVariable).isEmpty() ||
                                              !QDir::isAbsolutePath(qEnvironmentVariable(OverrideVariable)))
{}

FolderCloudAccount::FolderCloudAccount(QString folder, bool makesFolder)
    : mFolder(QDir::cleanPath(folder)), mMakesFolder(makesFolder)
{}

void FolderCloudAccount::prepare()
{
    if (!mMakesFolder || mFolder.isEmpty())
        return;
    if (Status made = Paths::makePath(mFolder); !made)
        Log::warning(QStringLiteral("CloudMode: cannot make the container %1: %2")
                         .arg(mFolder, made.error().toString()));
}

// ---- CloudIdentityMonitor

CloudIdentityMonitor::CloudIdentityMonitor(Private, std::shared_ptr<CloudAccount> account)
    : mAccount(std::move(account)), mFolder(mAccount ? mAccount->containerFolder() : QString())
{}

std::shared_ptr<CloudIdentityMonitor> CloudIdentityMonitor::create(std::shared_ptr<CloudAccount> account)
{
    auto monitor = std::make_shared<CloudIdentityMonitor>(Private(), std::move(account));
    monitor->mLastToken = monitor->mAccount ? monitor->mAccount->currentToken() : std::nullopt;
    if (!monitor->mFolder.isEmpty())
        FileCoordinator::addFilePresenter(monitor);
    std::weak_ptr<CloudIdentityMonitor> weak = monitor;
    monitor->mActivation = NotificationCenter::defaultCenter().addObserver(
        CloudAccount::ApplicationDidBecomeActiveNotification, nullptr,
        [weak](const NotificationCenter::Notification&) {
            if (const auto self = weak.lock())
                self->check();
        });
    return monitor;
}

CloudIdentityMonitor::~CloudIdentityMonitor()
{
    NotificationCenter::defaultCenter().removeObserver(mActivation);
    FileCoordinator::removeFilePresenter(this);
}

void CloudIdentityMonitor::check()
{
    const std::optional<CloudIdentityToken> token = mAccount ? mAccount->currentToken() : std::nullopt;
    if (token == mLastToken)
        return;
    mLastToken = token;
    Log::info(QStringLiteral("CloudMode: the container %1 %2")
                  .arg(mFolder, token ? QStringLiteral("is there") : QStringLiteral("is gone")));
    NotificationCenter::defaultCenter().post(CloudAccount::IdentityDidChangeNotification);
}

void CloudIdentityMonitor::presentedItemDidChange()
{
    check();
}

} // namespace corvex
