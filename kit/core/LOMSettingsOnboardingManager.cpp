#include "kit/core/LOMSettingsOnboardingManager.h"

#include "kit/core/LOMOnboardingOperation.h"
#include "kit/core/Loom.h"
#include "kit/net/LOMCertificatePinner.h"
#include "kit/net/LOMNetworkClient.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Paths.h"

#include <QDir>

namespace corvex {

const QString LOMSettingsOnboardingManager::SettingsAvailableNotification =
    QStringLiteral("LOMSettingsAvailableNotification");
// An unconfigured build sends nothing: these hosts never resolve.
const QString LOMSettingsOnboardingManager::DefaultSettingsEndpoint =
    QStringLiteral("https://settings.loom.invalid");
const QString LOMSettingsOnboardingManager::DefaultConfigureEndpoint =
    QStringLiteral("https://api.loom.invalid");

std::shared_ptr<LOMSettingsOnboardingManager>
LOMSettingsOnboardingManager::create(std::shared_ptr<LOMApplicationIdentiferModel> appIdentifierModel,
                                     Environment environment)
{
    std::shared_ptr<LOMSettingsOnboardingManager> manager(new LOMSettingsOnboardingManager());
    manager->mModel = std::move(appIdentifierModel);
    manager->mEnvironment = std::move(environment);
    if (!manager->mEnvironment.info)
        manager->mEnvironment.info = [] { return QVariantMap(); };
    manager->mSettings = std::make_unique<LOMSettings>(manager->settingsPath());
    std::function<bool()> debugSwitch = manager->mEnvironment.debug;
    std::optional<QList<QByteArray>> pinned = manager->mEnvironment.pinnedCertificates;
    if (!pinned)
        pinned = LOMPinnedCertificates();
    manager->mClient = LOMNetworkClient::create(nullptr, std::move(pinned),
                                                manager->mEnvironment.sessionConfiguration, debugSwitch);
    return manager;
}

LOMSettingsOnboardingManager::~LOMSettingsOnboardingManager() = default;

void LOMSettingsOnboardingManager::progress(const QString& line) const
{
    if (debug())
        Log::info(line);
}

QString LOMSettingsOnboardingManager::valueForConfigurationKey(const QString& key) const
{
    const QByteArray fromEnvironment = qgetenv(key.toUtf8().constData());
    if (!fromEnvironment.isEmpty())
        return QString::fromUtf8(fromEnvironment);
    const QVariant blackbox = mEnvironment.info().value(QStringLiteral("Blackbox"));
    if (blackbox.typeId() == QMetaType::QVariantMap) {
        const QVariant value = blackbox.toMap().value(key);
        if (value.typeId() == QMetaType::QString)
            return value.toString();
    }
    if (key == QLatin1String("SettingsEndpoint"))
        return DefaultSettingsEndpoint;
    if (key == QLatin1String("ConfigureEndpoint"))
        return DefaultConfigureEndpoint;
    return QString();
}

bool LOMSettingsOnboardingManager::isEndpointConfigured(const QString& key) const
{
    return isConfiguredEndpoint(valueForConfigurationKey(key));
}

bool LOMSettingsOnboardingManager::isConfiguredEndpoint(const QString& endpoint)
{
    const QString value = endpoint.trimmed();
    return !value.isEmpty() && value != DefaultSettingsEndpoint && value != DefaultConfigureEndpoint;
}

QString LOMSettingsOnboardingManager::appIconHash() const
{
    return mModel && mModel->icon ? mModel->icon->dataHash : QString();
}

std::optional<QUrl> LOMSettingsOnboardingManager::settingsURL() const
{
    return LOMSettings::settingsURLForEndpoint(valueForConfigurationKey(QStringLiteral("SettingsEndpoint")),
                                               mModel ? mModel->instanceIdentifier : QString(), appIconHash(),
                                               mEnvironment.info());
}

QString LOMSettingsOnboardingManager::settingsDirectoryPath() const
{
    const QString identifier = mEnvironment.info().value(QStringLiteral("CFBundleIdentifier")).toString();
    const QStringList components = identifier.split(QLatin1Char('/'));
    for (const QString& component : components) {
        if (component.isEmpty() || component == QLatin1String(".") || component == QLatin1String(".."))
            return QString();
    }
    return QDir(Paths::caches())
        .filePath(QStringLiteral("%1.data").arg(Loom::KitCoreBundleIdentifier) + QLatin1Char('/') +
                  identifier);
}

QString LOMSettingsOnboardingManager::settingsPath() const
{
    const QString directory = settingsDirectoryPath();
    return directory.isEmpty() ? QString() : QDir(directory).filePath(QStringLiteral("settings.json"));
}

void LOMSettingsOnboardingManager::publishStoredSettings()
{
    // Settings a service gave while one was configured are not for a build without one: they
    // would send analytics to its hosts.
    const bool usable = !settingsPath().isEmpty() && isEndpointConfigured(QStringLiteral("SettingsEndpoint"));
    if (mEnvironment.publish)
        mEnvironment.publish(usable ? mSettings->settingsDictionary() : Value());
}

void LOMSettingsOnboardingManager::beginSettingsAndOnboardingOperationsWithAPIKey(
    const QString& APIKey, const QVariantMap& kitVersions)
{
    {
        std::lock_guard lock(mMutex);
        mAPIKey = APIKey;
        mKitVersions = kitVersions;
    }
    beginSettingsDownload();
}

void LOMSettingsOnboardingManager::beginSettingsDownload()
{
    if (!isEndpointConfigured(QStringLiteral("SettingsEndpoint"))) {
        // An unconfigured build: nothing to download from, and nothing wrong.
        Log::info(QStringLiteral("[Loom] No settings endpoint is configured: the kit makes no requests"));
        finishNetworkingSession();
        return;
    }
    const std::optional<QUrl> url = settingsURL();
    const QString directory = settingsDirectoryPath();
    if (!mClient || !url || directory.isEmpty()) {
        Log::error(QStringLiteral("[Loom] failed to download settings %1")
                       .arg(directory.isEmpty()
                                ? QStringLiteral("(the bundle identifier makes no settings folder)")
                                : QStringLiteral("(no valid settings URL)")));
        finishNetworkingSession();
        return;
    }
    QString key;
    {
        std::lock_guard lock(mMutex);
        key = mAPIKey;
    }
    std::weak_ptr<LOMSettingsOnboardingManager> weak = weak_from_this();
    auto operation = std::make_shared<LOMDownloadAndSaveSettingsOperation>(
        key,
        // The next step reads and writes files: it goes on off the main thread.
        LOMDownloadAndSaveSettingsOperation::Callback(
            CompletionQueue::global(),
            [weak](const Error& error) {
                if (std::shared_ptr<LOMSettingsOnboardingManager> manager = weak.lock())
                    manager->operationDidDownloadAndSaveSettings(error);
            }),
        *url, directory, settingsPath(), mModel ? mModel->installID : QString(),
        mEnvironment.advertisingToken ? mEnvironment.advertisingToken() : QString(), mClient,
        LOMShouldCollectDeviceIdentifiers(mEnvironment.info()), debug());
    {
        std::lock_guard lock(mMutex);
        mDownload = operation;
    }
    operation->start();
}

void LOMSettingsOnboardingManager::operationDidDownloadAndSaveSettings(const Error& error)
{
    if (!error.isNull()) {
        Log::error(QStringLiteral("[Loom] failed to download settings %1").arg(error.toString()));
        finishNetworkingSession();
        return;
    }
    progress(QStringLiteral("[Loom] settings downloaded successfully"));
    mSettings->clearSettingsDictionary();
    publishStoredSettings();
    if (mHasAttemptedAppConfigure.load()) {
        progress(QStringLiteral("[Loom] App already onboarded in this run of the app"));
        postSettingsDownloadCompletedNotification();
        finishNetworkingSession();
        return;
    }
    if (mSettings->appNeedsOnboarding()) {
        progress(QStringLiteral("[Loom] Starting onboarding with app create"));
        mHasAttemptedAppConfigure.store(true);
        beginOnboarding(true, valueForConfigurationKey(QStringLiteral("ConfigureEndpoint")));
        return;
    }
    postSettingsDownloadCompletedNotification();
    if (mSettings->appUpdateRequired()) {
        progress(QStringLiteral("[Loom] Starting onboarding with app update"));
        mHasAttemptedAppConfigure.store(true);
        beginOnboarding(false, valueForConfigurationKey(QStringLiteral("ConfigureEndpoint")));
        return;
    }
    finishNetworkingSession();
}

void LOMSettingsOnboardingManager::beginOnboarding(bool create, const QString& endpointString)
{
    if (!isConfiguredEndpoint(endpointString)) {
        Log::info(QStringLiteral("[Loom] No configure endpoint is configured: the application is not %1")
                      .arg(create ? QStringLiteral("created") : QStringLiteral("updated")));
        finishNetworkingSession();
        return;
    }
    std::shared_ptr<LOMOnboardingOperation> previous;
    QString key;
    QVariantMap versions;
    {
        std::lock_guard lock(mMutex);
        previous = std::move(mOnboarding);
        key = mAPIKey;
        versions = mKitVersions;
    }
    if (previous)
        previous->cancel();
    std::weak_ptr<LOMSettingsOnboardingManager> weak = weak_from_this();
    auto operation = std::make_shared<LOMOnboardingOperation>(
        LOMOnboardingOperation::Callback(CompletionQueue::global(),
                                         [weak, create](const Error& error) {
                                             std::shared_ptr<LOMSettingsOnboardingManager> manager =
                                                 weak.lock();
                                             if (!manager)
                                                 return;
                                             if (create)
                                                 manager->onboardingDidCompleteAppCreation(error);
                                             else
                                                 manager->onboardingDidCompleteAppUpdate(error);
                                         }),
        create, key, versions, mModel, endpointString, mClient, mEnvironment.info());
    {
        std::lock_guard lock(mMutex);
        mOnboarding = operation;
    }
    operation->start();
}

void LOMSettingsOnboardingManager::onboardingDidCompleteAppCreation(const Error& error)
{
    if (!error.isNull()) {
        Log::error(
            QStringLiteral("[Loom] unable to complete application configure: %1").arg(error.toString()));
        finishNetworkingSession();
        return;
    }
    {
        std::lock_guard lock(mMutex);
        mOnboarding.reset();
    }
    progress(QStringLiteral("[Loom] completed configure"));
    beginSettingsDownload();
}

void LOMSettingsOnboardingManager::onboardingDidCompleteAppUpdate(const Error& error)
{
    finishNetworkingSession();
    if (!error.isNull()) {
        Log::error(QStringLiteral("[Loom] unable to complete application update: %1").arg(error.toString()));
        return;
    }
    {
        std::lock_guard lock(mMutex);
        mOnboarding.reset();
    }
    progress(QStringLiteral("[Loom] completed application update"));
}

void LOMSettingsOnboardingManager::postSettingsDownloadCompletedNotification()
{
    progress(QStringLiteral("[Loom] Settings are available for consumption"));
    NotificationCenter::defaultCenter().post(SettingsAvailableNotification);
}

void LOMSettingsOnboardingManager::finishNetworkingSession()
{
    if (mClient)
        mClient->invalidateAndCancel();
}

std::shared_ptr<LOMSettingsOnboardingManager>
LOMInstallSettingsAndOnboarding(Loom& loom, std::function<QVariantMap()> info,
                                std::optional<QList<QByteArray>> pinnedCertificates,
                                std::shared_ptr<BBXURLSessionConfiguration> sessionConfiguration)
{
    const QVariantMap dictionary = info ? info() : QVariantMap();
    std::shared_ptr<LOMApplicationIdentiferModel> model =
        LOMApplicationIdentiferModel::initWithInstallID(loom.installID(), dictionary);
    LOMSettingsOnboardingManager::Environment environment;
    environment.info = std::move(info);
    environment.debug = [&loom] { return loom.debug(); };
    environment.advertisingToken = [&loom] { return loom.advertisingToken(); };
    environment.publish = [&loom](const Value& settings) { loom.publishSettings(settings); };
    environment.pinnedCertificates = std::move(pinnedCertificates);
    environment.sessionConfiguration = std::move(sessionConfiguration);
    std::shared_ptr<LOMSettingsOnboardingManager> manager =
        LOMSettingsOnboardingManager::create(model, std::move(environment));
    manager->publishStoredSettings();
    LOMSettingsAndOnboardingSeam seam;
    seam.begin = [manager](const QString& apiKey, const QVariantMap& versions) {
        manager->beginSettingsAndOnboardingOperationsWithAPIKey(apiKey, versions);
    };
    seam.instanceIdentifier = [model] { return model ? model->instanceIdentifier : QString(); };
    loom.setSettingsAndOnboarding(std::move(seam));
    return manager;
}

} // namespace corvex
