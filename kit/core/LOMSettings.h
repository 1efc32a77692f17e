#pragma once

#include "kit/core/LOMNetworkOperation.h"
#include "platform/core/Completion.h"
#include "platform/core/Result.h"
#include "platform/core/Value.h"

#include <QString>
#include <QUrl>
#include <memory>
#include <mutex>
#include <optional>

namespace corvex {

class LOMNetworkClient;

// The stored settings ("settings.json"): read on first use and kept until cleared. A file
// that is no JSON object is logged and deleted (the download only ever stores objects, so
// such a file was damaged). Readers on any thread get the whole old or the whole new
// dictionary.
class LOMSettings
{
public:
    static constexpr qint64 MaxSettingsBytes = 8 * 1024 * 1024;

    explicit LOMSettings(QString settingsPath) : mSettingsPath(std::move(settingsPath)) {}

    // Null when there is no usable file.
    Value settingsDictionary();
    void clearSettingsDictionary();

    Value appSettings();
    QString appStatus();
    bool appNeedsOnboarding();
    bool appUpdateRequired();

    // The settings request's URL for the endpoint; nothing when it makes no valid URL.
    static std::optional<QUrl> settingsURLForEndpoint(const QString& endpoint,
                                                      const QString& appInstanceIdentifer,
                                                      const QString& appIconHash, const QVariantMap& info);

    // Reads a settings file's bytes: the dictionary, or why not.
    static Result<Value> parseSettings(const QByteArray& bytes);

private:
    QString mSettingsPath;
    std::mutex mMutex;
    std::shared_ptr<const Value> mCached;
};

// Downloads the settings (retry limit 1) and stores the answer as "settings.json": only a
// body that parses as a JSON object replaces the file, by an atomic rename over it, so the
// previous file stays byte for byte on every failure and a killed process leaves the old
// or the complete new file.
class LOMDownloadAndSaveSettingsOperation : public LOMNetworkOperation
{
public:
    static const QString ErrorDomain; // "LOMSettingsErrorDomain": a body that is no settings
    // Answered once with the download's error (null on success); a cancelled operation
    // answers nothing.
    using Callback = Completion<const Error&>;

    LOMDownloadAndSaveSettingsOperation(const QString& APIKey, Callback callback, QUrl settingsURL,
                                        QString settingsDirectoryPath, QString settingsFilePath,
                                        QString installIdentifier, QString advertisingToken,
                                        std::weak_ptr<LOMNetworkClient> networkClient,
                                        bool collectDeviceIdentifiers, bool debug);

    QString className() const override { return QStringLiteral("LOMDownloadAndSaveSettingsOperation"); }
    void main() override;
    Error error() const;
    HttpRequest settingsRequest() const;

private:
    void store(const QString& location);
    void finishWith(const Error& error);

    Callback mCallback;
    QUrl mSettingsURL;
    QString mDirectory;
    QString mFile;
    QString mInstallIdentifier;
    QString mAdvertisingToken;
    std::weak_ptr<LOMNetworkClient> mClient;
    mutable std::mutex mErrorMutex;
    Error mError;
};

} // namespace corvex
