#pragma once

#include "platform/core/FilePresenter.h"
#include "platform/core/NotificationCenter.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace corvex {

// What stands for the user's iCloud identity here: the container folder itself. The token
// is the folder's device and inode, so that a folder moved away, deleted or replaced by
// another one reads as another account (or none).
struct CloudIdentityToken
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend bool operator==(const CloudIdentityToken&, const CloudIdentityToken&) = default;
};

// The account of the iCloud location: where its container folder is and which identity it
// has now. Tests replace it with one they script.
//
// Any thread.
class CloudAccount
{
public:
    // Posted (no sender) when the identity may have changed; the modes look again.
    static const QString IdentityDidChangeNotification; // "NSUbiquityIdentityDidChangeNotification"
    // The shell posts it when the application becomes active; the identity is looked at
    // again then.
    static const QString ApplicationDidBecomeActiveNotification; // "NSApplicationDidBecomeActiveNotification"
    // The ubiquity container's identifier (kept for the interface texts; the folder is
    // found by the rules below).
    static const QString ContainerIdentifier; // "KR7M2QW9TZ.com.tallowfen.corvex"

    virtual ~CloudAccount();

    // The container folder; it may be missing. Empty when there is none at all.
    virtual QString containerFolder() const = 0;
    // The identity now: the folder's device and inode; nothing while the folder is missing
    // or is not a folder.
    virtual std::optional<CloudIdentityToken> currentToken() const;
    // Called when a mode starts: the default folder is made then, an overridden one never.
    virtual void prepare() {}

    // The identity of a folder (see currentToken).
    static std::optional<CloudIdentityToken> tokenOfFolder(const QString& folder);
};

// The container the user has: $CORVEX_CLOUD_CONTAINER when set (an absolute path), else
// $XDG_DATA_HOME/com.tallowfen.corvex/iCloud, which is made when a mode starts. The
// environment is read when the account is made.
class FolderCloudAccount final : public CloudAccount
{
public:
    static constexpr const char* OverrideVariable = "CORVEX_CLOUD_CONTAINER";

    FolderCloudAccount();
    // A given folder (`makesFolder`: made when a mode starts).
    FolderCloudAccount(QString folder, bool makesFolder);

    QString containerFolder() const override { return mFolder; }
    void prepare() override;
    bool makesFolder() const { return mMakesFolder; }

    // The folder the environment names.
    static QString standardFolder();

private:
    QString mFolder;
    bool mMakesFolder;
};

// Notices when the account's identity changes and posts IdentityDidChangeNotification: a
// presenter of the container folder, so that the change watcher reports the folder moved
// away, deleted, replaced or made; and an observer of the application's activation, which
// looks again. Only a token that differs from the last one seen is posted.
//
// Main thread.
class CloudIdentityMonitor final : public FilePresenter,
                                   public std::enable_shared_from_this<CloudIdentityMonitor>
{
public:
    static std::shared_ptr<CloudIdentityMonitor> create(std::shared_ptr<CloudAccount> account);
    ~CloudIdentityMonitor() override;

    // Looks at the identity now and posts when it changed.
    void check();
    const std::optional<CloudIdentityToken>& lastToken() const { return mLastToken; }

    // FilePresenter (main queue)
    QString presentedItemPath() const override { return mFolder; }
    void presentedItemDidChange() override;

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    CloudIdentityMonitor(Private, std::shared_ptr<CloudAccount> account);

private:
    std::shared_ptr<CloudAccount> mAccount;
    QString mFolder;
    std::optional<CloudIdentityToken> mLastToken;
    NotificationCenter::ObserverToken mActivation;
};

} // namespace corvex
