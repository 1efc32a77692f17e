#pragma once

#include "kit/core/LOMApplicationIdentiferModel.h"
#include "kit/core/LOMSettings.h"
#include "platform/core/Value.h"

#include <QString>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace corvex {

class LOMNetworkClient;
class LOMOnboardingOperation;
class LOMDownloadAndSaveSettingsOperation;

// Drives the kit's start-up requests: the settings download, then an app create (and a
// second download) when the service does not know the application, or an app update when
// it asks for one; at most one create or update per run. When new settings are stored it
// publishes them (to the registry) and posts "LOMSettingsAvailableNotification".
class LOMSettingsOnboardingManager : public std::enable_shared_from_this<LOMSettingsOnboardingManager>
{
public:
    static const QString SettingsAvailableNotification; // "LOMSettingsAvailableNotification"
    static const QString DefaultSettingsEndpoint;       // under the reserved ".invalid" domain
    static const QString DefaultConfigureEndpoint;

    struct Environment
    {
        // The information dictionary (the main bundle's).
        std::function<QVariantMap()> info;
        // The registry's debug switch and advertising token.
        std::function<bool()> debug;
        std::function<QString()> advertisingToken;
        // Receives every dictionary read from the stored file (null: none usable).
        std::function<void(const Value& settings)> publish;
        // The pinned roots; the compiled-in set when empty.
        std::optional<QList<QByteArray>> pinnedCertificates;
        // The session configuration (tests replace the default trust store).
        std::shared_ptr<class BBXURLSessionConfiguration> sessionConfiguration;
    };

    static std::shared_ptr<LOMSettingsOnboardingManager>
    create(std::shared_ptr<LOMApplicationIdentiferModel> appIdentifierModel, Environment environment);
    ~LOMSettingsOnboardingManager();

    void beginSettingsAndOnboardingOperationsWithAPIKey(const QString& APIKey,
                                                        const QVariantMap& kitVersions);
    void beginSettingsDownload();
    void beginOnboarding(bool create, const QString& endpointString);

    // First present wins: the environment variable of that name, the information
    // dictionary's "Blackbox" entry, the default configuration.
    QString valueForConfigurationKey(const QString& key) const;
    // Whether the endpoint of `key` ("SettingsEndpoint", "ConfigureEndpoint") was configured:
    // by the environment or the information dictionary, with a value other than the
    // shipped default (which names a host that never resolves). Without one the kit makes no
    // request.
    bool isEndpointConfigured(const QString& key) const;
    static bool isConfiguredEndpoint(const QString& endpoint);
    std::optional<QUrl> settingsURL() const;
    // Caches/io.loom.sdk.mac.data/<bundle identifier as given>; empty when the identifier
    // has an empty, "." or ".." component (it would leave the kit's folder).
    QString settingsDirectoryPath() const;
    QString settingsPath() const;
    QString appIconHash() const;
    LOMSettings& settingsModel() { return *mSettings; }
    bool hasAttemptedAppConfigure() const { return mHasAttemptedAppConfigure.load(); }
    // Publishes what the stored file holds now (at start-up, before any download); nothing
    // (null) without a configured settings endpoint.
    void publishStoredSettings();
    void postSettingsDownloadCompletedNotification();
    void finishNetworkingSession();
    std::shared_ptr<LOMNetworkClient> networkClient() const { return mClient; }

    void operationDidDownloadAndSaveSettings(const Error& error);
    void onboardingDidCompleteAppCreation(const Error& error);
    void onboardingDidCompleteAppUpdate(const Error& error);

private:
    LOMSettingsOnboardingManager() = default;
    bool debug() const { return mEnvironment.debug && mEnvironment.debug(); }
    void progress(const QString& line) const;

    std::shared_ptr<LOMApplicationIdentiferModel> mModel;
    Environment mEnvironment;
    std::unique_ptr<LOMSettings> mSettings;
    std::shared_ptr<LOMNetworkClient> mClient;
    std::atomic<bool> mHasAttemptedAppConfigure{false};

    mutable std::mutex mMutex; // guards what follows
    QString mAPIKey;
    QVariantMap mKitVersions;
    std::shared_ptr<LOMOnboardingOperation> mOnboarding;
    std::shared_ptr<LOMDownloadAndSaveSettingsOperation> mDownload;
};

class Loom;

// Fills the registry's start-up seam with the real settings download and onboarding (the
// identity from the running executable), and publishes the stored settings at once. The
// registry must outlive the manager (the shared one lives for the process).
std::shared_ptr<LOMSettingsOnboardingManager>
LOMInstallSettingsAndOnboarding(Loom& loom, std::function<QVariantMap()> info,
                                std::optional<QList<QByteArray>> pinnedCertificates = std::nullopt,
                                std::shared_ptr<BBXURLSessionConfiguration> sessionConfiguration = nullptr);

} // namespace corvex
