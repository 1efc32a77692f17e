#include "tallykit/TLYSettings.h"

#include "kit/core/Loom.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/core/WholeFileReader.h"

#include <cmath>
#include <limits>
#include <unistd.h>

namespace corvex {

namespace {

// The platform's number reading of a value: numbers as they are, strings by their leading
// number (a string "0" is 0 and false). A number that is not finite counts as absent: no
// interval, time-out or count can be one.
double settingsNumber(const Value& value, double fallback)
{
    double number = fallback;
    if (value.isNumber() || value.isBool()) {
        number = value.toReal();
    } else if (value.isString()) {
        const QString text = value.toString().trimmed();
        qsizetype end = 0;
        while (end < text.size() && (text[end].isDigit() || text[end] == u'.' ||
                                     ((text[end] == u'-' || text[end] == u'+') && end == 0)))
            ++end;
        bool ok = false;
        number = text.left(end).toDouble(&ok);
        if (!ok)
            number = 0.0;
    }
    return std::isfinite(number) ? number : fallback;
}

// The same as a whole number, cut to the range of one (the settings are outside bytes).
qint64 settingsInteger(const Value& value, qint64 fallback)
{
    const double number = settingsNumber(value, double(fallback));
    if (number >= double(std::numeric_limits<qint64>::max()))
        return std::numeric_limits<qint64>::max();
    if (number <= double(std::numeric_limits<qint64>::min()))
        return std::numeric_limits<qint64>::min();
    return qint64(number);
}

bool settingsBool(const Value& value, bool fallback)
{
    if (value.isNull())
        return fallback;
    if (value.isString()) {
        const QString text = value.toString().trimmed();
        if (text.startsWith(u'Y', Qt::CaseInsensitive) || text.startsWith(u'T', Qt::CaseInsensitive))
            return true;
        return settingsNumber(value, 0.0) != 0.0;
    }
    if (value.isNumber() || value.isBool())
        return value.toBool();
    return fallback;
}

} // namespace

const QString TLYSettings::DefaultEventsURL = QStringLiteral("https://events.tally.invalid/spi/v2/events");

TLYSettings::TLYSettings(std::optional<Value> settingsDictionary) : mDictionary(std::move(settingsDictionary))
{}

const Value& TLYSettings::at(const char* section, const char* key) const
{
    if (!mDictionary)
        return Value::null();
    return mDictionary->value(QString::fromLatin1(section)).value(QString::fromLatin1(key));
}

QUrl TLYSettings::tallyURL() const
{
    const Value& url = at("analytics", "url");
    if (url.isString() && !url.toString().isEmpty())
        return QUrl(url.toString());
    return QUrl(DefaultEventsURL);
}

bool TLYSettings::shouldCollectAnalytics() const
{
    return settingsBool(at("features", "collect_analytics"), true);
}

bool TLYSettings::shouldCollectCustomEvents() const
{
    return settingsBool(at("analytics", "track_custom_events"), true);
}

bool TLYSettings::shouldCollectPredefinedEvents() const
{
    return settingsBool(at("analytics", "track_predefined_events"), true);
}

qint64 TLYSettings::maximumPayloadSize() const
{
    return settingsInteger(at("analytics", "max_byte_size_per_file"), 8000);
}

qint64 TLYSettings::maxPendingSendFiles() const
{
    return settingsInteger(at("analytics", "max_pending_send_file_count"), 100);
}

double TLYSettings::flushInterval() const
{
    return settingsNumber(at("analytics", "flush_interval_secs"), 0.0);
}

qint64 TLYSettings::samplingRate() const
{
    return settingsInteger(at("analytics", "sampling_rate"), 1);
}

double TLYSettings::defaultUploadTimeout() const
{
    return settingsNumber(at("analytics", "upload_timeout_secs"), 21600.0);
}

double TLYSettings::lowPowerUploadTimeout() const
{
    return settingsNumber(at("analytics", "low_power_upload_timeout_secs"), 3600.0);
}

TLYMetadataSerializable::~TLYMetadataSerializable() = default;

const QString TLYMetadata::Generator = QStringLiteral("Tally Mac SDK/1.3.5");

TLYMetadata::TLYMetadata(Loom& loom, const std::optional<QString>& token)
{
    APIKey = loom.APIKey();
    betaToken = unwrapBetaToken(token);
    buildVersion = LOMBundleVersion();
    bundleIdentifier = LOMEscapedBundleIdentifier();
    displayVersion = LOMBundleShortVersionString();
    executionIdentifier = loom.executionIdentifier();
    hostModel = LOMHostModel();
    installationId = loom.installID();
    instanceIdentifier = loom.instanceIdentifier();
    locale = LOMHostLocaleIdentifier();
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    numberOfCores = cores > 0 ? quint32(cores) : 1u;
    OSBuildVersion = LOMHostOSBuildVersion();
    OSDisplayVersion = LOMHostOSDisplayVersion();
}

std::optional<QString> TLYMetadata::unwrapBetaToken(const std::optional<QString>& token)
{
    if (!token)
        return std::nullopt;
    const QStringList parts = token->split(u':');
    if (parts.size() == 2 && parts.front() == QLatin1String("2"))
        return parts.back();
    return std::nullopt;
}

Value TLYMetadata::dictionaryRepresentationWithStartTime(quint64 startTime) const
{
    ValueDictionary record;
    auto set = [&record](const char* key, const QString& value) {
        if (!value.isNull())
            record.insert(QString::fromLatin1(key), Value(value));
    };
    set("generator", Generator);
    set("api_key", APIKey);
    set("session_id", executionIdentifier);
    record.insert(QStringLiteral("started_at"), Value(startTime));
    if (betaToken)
        set("beta_tester_token", *betaToken);
    record.insert(QStringLiteral("links_ad_support"), Value(advertisingSupportFrameworkLinked()));
    record.insert(QStringLiteral("advertising_tracking_enabled"), Value(trackingForAdvertisingEnabled()));
    set("install_id", installationId);
    // An unknown model (no DMI) is nil: both keys are left out.
    if (!hostModel.isEmpty()) {
        set("model", hostModel);
        set("machine", hostModel);
    }
    set("locale", locale);
    set("os_build", OSBuildVersion);
    set("os_version", OSDisplayVersion);
    set("platform", platform);
    record.insert(QStringLiteral("platform_code"), Value(platformCode()));
    record.insert(QStringLiteral("cores"), Value(numberOfCores));
    record.insert(QStringLiteral("jailbroken"), Value(isJailbroken));
    set("bundle_id", bundleIdentifier);
    set("bundle_version", buildVersion);
    set("bundle_short_version", displayVersion);
    set("instance_id", instanceIdentifier);
    return Value(std::move(record));
}

std::optional<Value> TLYCrashMetadata::readSerializedDictionaryFromURL(const QString& path)
{
    Result<QByteArray> bytes = WholeFileReader::read(path, MaximumFileBytes);
    if (!bytes) {
        Log::warning(QStringLiteral("[Tally] Unable to read crash metadata at %1: %2")
                         .arg(path, bytes.error().localizedDescription()));
        return std::nullopt;
    }
    return readSerializedDictionaryFromData(bytes.value(), path);
}

std::optional<Value> TLYCrashMetadata::readSerializedDictionaryFromData(const QByteArray& bytes,
                                                                        const QString& path)
{
    // Metadata is one flat object; a deeper text is no metadata of ours.
    Result<Value> parsed = JsonText::parse(bytes, 16);
    if (!parsed) {
        Log::warning(QStringLiteral("[Tally] Crash metadata at %1 is no JSON: %2")
                         .arg(path, parsed.error().localizedDescription()));
        return std::nullopt;
    }
    if (!parsed.value().isDictionary()) {
        Log::warning(QStringLiteral("[Tally] Crash metadata at %1 is no JSON object").arg(path));
        return std::nullopt;
    }
    return parsed.value();
}

bool TLYCrashMetadata::writeSerializedDictionary(const Value& dictionary, const QString& path)
{
    const Status written = SaveFile::writeAtomically(path, JsonText::serialize(dictionary));
    if (!written.ok()) {
        Log::warning(QStringLiteral("[Tally] Unable to write crash metadata at %1: %2")
                         .arg(path, written.error().localizedDescription()));
        return false;
    }
    return true;
}

} // namespace corvex
