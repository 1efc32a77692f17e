#pragma once

#include "platform/core/Value.h"

#include <QString>
#include <QUrl>
#include <optional>

namespace corvex {

class Loom;

// A typed, read-only view of the kit settings dictionary, with the defaults that apply
// where the dictionary lacks a value.
class TLYSettings
{
public:
    static const QString DefaultEventsURL; // under the reserved ".invalid" domain

    // nullopt: no dictionary yet (not valid, every default).
    explicit TLYSettings(std::optional<Value> settingsDictionary = std::nullopt);

    bool valid() const { return mDictionary.has_value(); }
    const std::optional<Value>& settingsDictionary() const { return mDictionary; }

    QUrl tallyURL() const;
    bool shouldCollectAnalytics() const;
    bool shouldCollectCustomEvents() const;
    bool shouldCollectPredefinedEvents() const;
    qint64 maximumPayloadSize() const;
    qint64 maxPendingSendFiles() const;
    double flushInterval() const;
    qint64 samplingRate() const;
    double defaultUploadTimeout() const;
    double lowPowerUploadTimeout() const;

private:
    const Value& at(const char* section, const char* key) const;

    std::optional<Value> mDictionary;
};

// What heads an event log: the name of its line and its payload.
class TLYMetadataSerializable
{
public:
    virtual ~TLYMetadataSerializable();
    virtual QString eventName() const { return QStringLiteral("metadata"); }
    virtual Value dictionaryRepresentationWithStartTime(quint64 startTime) const = 0;
};

// The facts of the running process, taken once.
class TLYMetadata : public TLYMetadataSerializable
{
public:
    static const QString Generator; // "Tally Mac SDK/1.3.5"

    TLYMetadata(Loom& loom, const std::optional<QString>& betaToken);

    static std::optional<QString> unwrapBetaToken(const std::optional<QString>& token);
    Value dictionaryRepresentationWithStartTime(quint64 startTime) const override;

    QString APIKey;
    std::optional<QString> betaToken;
    QString buildVersion;
    QString bundleIdentifier;
    QString displayVersion;
    QString executionIdentifier;
    QString hostModel; // empty when unknown
    QString installationId;
    QString instanceIdentifier;
    bool isJailbroken = false;
    QString locale;
    quint32 numberOfCores = 0;
    QString OSBuildVersion;
    QString OSDisplayVersion;
    QString platform = QStringLiteral("Mac");
    quint32 platformCode() const { return 0; }

    // No advertising identifier exists here.
    static bool advertisingSupportFrameworkLinked() { return false; }
    static bool trackingForAdvertisingEnabled() { return false; }
    static std::optional<QString> identifierForAdvertising() { return std::nullopt; }
};

// The stored metadata of an earlier run, handed back unchanged.
class TLYCrashMetadata : public TLYMetadataSerializable
{
public:
    explicit TLYCrashMetadata(Value rawMetadataDictionary = Value(ValueDictionary()))
        : mRaw(std::move(rawMetadataDictionary))
    {}

    const Value& rawMetadataDictionary() const { return mRaw; }
    Value dictionaryRepresentationWithStartTime(quint64) const override { return mRaw; }

    // The JSON object of the file; nullopt (logged) when it cannot be read or is no object.
    static std::optional<Value> readSerializedDictionaryFromURL(const QString& path);
    // The same for bytes already read: the fuzzed reader.
    static std::optional<Value> readSerializedDictionaryFromData(const QByteArray& bytes,
                                                                 const QString& path);
    // Compact JSON, replaced atomically; false (logged) on failure, the old file kept.
    static bool writeSerializedDictionary(const Value& dictionary, const QString& path);

    static constexpr qint64 MaximumFileBytes = 1024 * 1024;

private:
    Value mRaw;
};

} // namespace corvex
