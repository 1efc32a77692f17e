#include "kit/core/LOMSettings.h"

#include "kit/core/Loom.h"
#include "kit/net/LOMNetworkClient.h"
#include "kit/net/LOMNetworkResponseHandler.h"
#include "kit/net/LOMURLBuilder.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SysCalls.h"
#include "platform/core/WholeFileReader.h"

#include <QFile>
#include <cerrno>
#include <sys/stat.h>

namespace corvex {

const QString LOMDownloadAndSaveSettingsOperation::ErrorDomain = QStringLiteral("LOMSettingsErrorDomain");

Result<Value> LOMSettings::parseSettings(const QByteArray& bytes)
{
    Result<Value> parsed = JsonText::parse(bytes, 512);
    if (!parsed.ok())
        return parsed.error();
    if (!parsed->isDictionary())
        return Error(LOMDownloadAndSaveSettingsOperation::ErrorDomain, 1,
                     QStringLiteral("The settings are not a JSON object"));
    return parsed;
}

Value LOMSettings::settingsDictionary()
{
    std::lock_guard lock(mMutex);
    if (mCached)
        return *mCached;
    struct stat info;
    if (SysCalls::stat(QFile::encodeName(mSettingsPath).constData(), &info) != 0)
        return Value();
    Result<QByteArray> bytes = WholeFileReader::read(mSettingsPath, MaxSettingsBytes);
    Result<Value> parsed = bytes.ok() ? parseSettings(bytes.value()) : Result<Value>(bytes.error());
    if (!parsed.ok()) {
        Log::error(QStringLiteral("[Loom] Could not load settings with error: %1")
                       .arg(parsed.error().localizedDescription()));
        SysCalls::unlink(QFile::encodeName(mSettingsPath).constData());
        return Value();
    }
    mCached = std::make_shared<const Value>(std::move(parsed).value());
    return *mCached;
}

void LOMSettings::clearSettingsDictionary()
{
    std::lock_guard lock(mMutex);
    mCached.reset();
}

Value LOMSettings::appSettings()
{
    const Value& app = settingsDictionary().value(QStringLiteral("app"));
    return app;
}

QString LOMSettings::appStatus()
{
    const Value app = appSettings();
    const Value& status = app.value(QStringLiteral("status"));
    return status.isString() ? status.toString() : QString();
}

bool LOMSettings::appNeedsOnboarding()
{
    return appStatus() == QLatin1String("new");
}

bool LOMSettings::appUpdateRequired()
{
    const Value app = appSettings();
    const Value& required = app.value(QStringLiteral("update_required"));
    return (required.isBool() || required.isNumber()) && required.toBool();
}

std::optional<QUrl> LOMSettings::settingsURLForEndpoint(const QString& endpoint,
                                                        const QString& appInstanceIdentifer,
                                                        const QString& appIconHash, const QVariantMap& info)
{
    LOMURLBuilder builder = LOMURLBuilder::URLWithBase(endpoint);
    builder.appendComponent(QStringLiteral("/spi/v2/platforms/"));
    builder.escapeAndAppendComponent(Loom::Platform);
    builder.appendComponent(QStringLiteral("/apps/"));
    builder.escapeAndAppendComponent(LOMEscapedBundleIdentifier(info));
    builder.appendComponent(QStringLiteral("/settings"));
    auto text = [](const QString& value) { return value.isEmpty() ? QVariant() : QVariant(value); };
    builder.appendValue(text(LOMBundleVersion(info)), QStringLiteral("build_version"));
    builder.appendValue(text(LOMBundleShortVersionString(info)), QStringLiteral("display_version"));
    builder.appendValue(text(appInstanceIdentifer), QStringLiteral("instance"));
    builder.appendValue(text(appIconHash), QStringLiteral("icon_hash"));
    builder.appendValue(LOMInstallSource(info), QStringLiteral("source"));
    return builder.URL();
}

LOMDownloadAndSaveSettingsOperation::LOMDownloadAndSaveSettingsOperation(
    const QString& APIKey, Callback callback, QUrl settingsURL, QString settingsDirectoryPath,
    QString settingsFilePath, QString installIdentifier, QString advertisingToken,
    std::weak_ptr<LOMNetworkClient> networkClient, bool collectDeviceIdentifiers, bool debug)
    : LOMNetworkOperation(APIKey), mCallback(std::move(callback)), mSettingsURL(std::move(settingsURL)),
      mDirectory(std::move(settingsDirectoryPath)), mFile(std::move(settingsFilePath)),
      mInstallIdentifier(std::move(installIdentifier)), mClient(std::move(networkClient))
{
    if (collectDeviceIdentifiers)
        mAdvertisingToken = std::move(advertisingToken);
    else if (debug)
        Log::info(QStringLiteral("[Loom] Suppressing device identifier reporting"));
}

Error LOMDownloadAndSaveSettingsOperation::error() const
{
    std::lock_guard lock(mErrorMutex);
    return mError;
}

HttpRequest LOMDownloadAndSaveSettingsOperation::settingsRequest() const
{
    HttpRequest request = mutableRequestWithDefaultHTTPHeaderFieldsAndTimeoutForURL(mSettingsURL);
    request.method = "GET";
    request.headers.add("Accept", "application/json");
    if (!mInstallIdentifier.isEmpty())
        request.headers.add("X-Blackbox-Installation-ID", mInstallIdentifier.toUtf8());
    if (const QString model = LOMHostModel(); !model.isEmpty())
        request.headers.add("X-Blackbox-Device-Model", model.toUtf8());
    request.headers.add("X-Blackbox-OS-Build-Version", LOMHostOSBuildVersion().toUtf8());
    request.headers.add("X-Blackbox-OS-Display-Version", LOMHostOSDisplayVersion().toUtf8());
    request.headers.add("X-Blackbox-API-Client-Version", Loom::KitCoreVersion.toUtf8());
    if (!mAdvertisingToken.isEmpty())
        request.headers.add("X-Blackbox-Advertising-Token", mAdvertisingToken.toUtf8());
    return request;
}

void LOMDownloadAndSaveSettingsOperation::main()
{
    if (checkForCancellation()) {
        mCallback.drop();
        return;
    }
    std::shared_ptr<LOMNetworkClient> client = mClient.lock();
    if (!client) {
        finishWith(LOMNetworkResponseHandler::errorForCode(LOMNetworkResponseHandler::NoTask));
        return;
    }
    std::shared_ptr<LOMDownloadAndSaveSettingsOperation> self =
        std::static_pointer_cast<LOMDownloadAndSaveSettingsOperation>(shared_from_this());
    // The answer is read and stored off the main thread.
    client->startDownloadTask(
        settingsRequest(), 1,
        LOMNetworkClient::DownloadCompletion(
            CompletionQueue::global(),
            [self](const QString& location, const std::optional<HttpResponse>&, const Error& error) {
                if (!error.isNull()) {
                    self->finishWith(error);
                    return;
                }
                self->store(location);
            }));
}

void LOMDownloadAndSaveSettingsOperation::store(const QString& location)
{
    Result<QByteArray> bytes = WholeFileReader::read(location, LOMSettings::MaxSettingsBytes);
    Error failure;
    if (!bytes.ok()) {
        failure = bytes.error();
    } else if (Result<Value> parsed = LOMSettings::parseSettings(bytes.value()); !parsed.ok()) {
        failure = parsed.error();
    } else if (const Status made = Paths::makePath(mDirectory); !made.ok()) {
        failure = made.error();
    } else if (const Status saved = SaveFile::writeAtomically(mFile, bytes.value()); !saved.ok()) {
        failure = saved.error();
    }
    if (!failure.isNull())
        Log::error(QStringLiteral("[Loom] Unable to complete settings download %1")
                       .arg(failure.localizedDescription()));
    finishWith(failure);
}

void LOMDownloadAndSaveSettingsOperation::finishWith(const Error& error)
{
    {
        std::lock_guard lock(mErrorMutex);
        mError = error;
    }
    mCallback(error);
    finishWithError(error);
}

} // namespace corvex
