#include "crash/BBXSettings.h"

#include "kit/sys/HostFunctions.h"
#include "platform/core/Log.h"

#include <QtGlobal>

namespace corvex {

const QString BBXSettings::DefaultReportsEndpoint = QStringLiteral("https://reports.blackbox.invalid");
const QString BBXSettings::DefaultBetaEndpoint = QStringLiteral("https://api.blackbox.invalid");

BBXSettings::BBXSettings(Value settings, QVariantMap info)
    : mSettings(std::move(settings)), mInfo(std::move(info))
{}

QVariantMap BBXSettings::configuration() const
{
    const QVariant blackbox = mInfo.value(QStringLiteral("Blackbox"));
    return blackbox.typeId() == QMetaType::QVariantMap ? blackbox.toMap() : QVariantMap();
}

QVariantMap BBXSettings::defaultConfiguration()
{
    return QVariantMap{{QStringLiteral("ReportsEndpoint"), DefaultReportsEndpoint},
                       {QStringLiteral("BetaEndpoint"), DefaultBetaEndpoint},
                       {QStringLiteral("PackageReports"), true},
                       {QStringLiteral("SubmitReports"), true},
                       {QStringLiteral("UrgentReports"), true}};
}

QVariant BBXSettings::valueForConfigurationKey(const QString& key) const
{
    const QByteArray variable = QByteArrayLiteral("Blackbox") + key.toUtf8();
    if (qEnvironmentVariableIsSet(variable.constData())) {
        const QString value = qEnvironmentVariable(variable.constData());
        Log::info(QStringLiteral("[Blackbox:Crash] override: '%1' => '%2'").arg(key, value));
        return value;
    }
    const QVariantMap configured = configuration();
    if (configured.contains(key))
        return configured.value(key);
    return defaultConfiguration().value(key);
}

QString BBXSettings::reportsEndpoint() const
{
    return valueForConfigurationKey(QStringLiteral("ReportsEndpoint")).toString();
}
bool BBXSettings::isReportsEndpointConfigured() const
{
    const QString endpoint = reportsEndpoint().trimmed();
    return !endpoint.isEmpty() && endpoint != DefaultReportsEndpoint;
}
QString BBXSettings::betaEndpoint() const
{
    return valueForConfigurationKey(QStringLiteral("BetaEndpoint")).toString();
}
bool BBXSettings::switchValue(const QString& key) const
{
    return LOMBooleanValue(valueForConfigurationKey(key));
}
bool BBXSettings::shouldPackageReports() const
{
    return switchValue(QStringLiteral("PackageReports"));
}
bool BBXSettings::shouldSubmitReports() const
{
    return switchValue(QStringLiteral("SubmitReports"));
}
bool BBXSettings::canProcessUrgentReports() const
{
    return switchValue(QStringLiteral("UrgentReports"));
}

const Value& BBXSettings::settingsValue(const QString& group, const QString& key) const
{
    static const Value none;
    if (!mSettings.isDictionary())
        return none;
    const Value& inner = mSettings.value(group);
    return inner.isDictionary() ? inner.value(key) : none;
}

namespace {

bool settingsBool(const Value& value, bool fallback)
{
    if (value.isNull())
        return fallback;
    return LOMBooleanValue(value.toVariant());
}

std::uint32_t settingsUnsigned(const Value& value, std::uint32_t fallback)
{
    if (value.isNull())
        return fallback;
    if (value.isNumber())
        return std::uint32_t(quint64(value.toInteger()));
    bool ok = false;
    const qulonglong parsed = value.toString().toULongLong(&ok);
    return ok ? std::uint32_t(parsed) : 0;
}

} // namespace

bool BBXSettings::crashReportingEnabled() const
{
    return settingsBool(settingsValue(QStringLiteral("features"), QStringLiteral("collect_reports")), true);
}
bool BBXSettings::errorReportingEnabled() const
{
    return settingsBool(
        settingsValue(QStringLiteral("features"), QStringLiteral("collect_logged_exceptions")), true);
}
bool BBXSettings::userPromptEnabled() const
{
    return settingsBool(settingsValue(QStringLiteral("features"), QStringLiteral("prompt_enabled")), false);
}
std::uint32_t BBXSettings::logBufferSize() const
{
    return settingsUnsigned(settingsValue(QStringLiteral("session"), QStringLiteral("log_buffer_size")),
                            65536);
}
std::uint32_t BBXSettings::maxCustomExceptions() const
{
    return settingsUnsigned(
        settingsValue(QStringLiteral("session"), QStringLiteral("max_custom_exception_events")), 16);
}
std::uint32_t BBXSettings::maxCustomKeys() const
{
    return settingsUnsigned(
        settingsValue(QStringLiteral("session"), QStringLiteral("max_custom_key_value_pairs")), 16);
}
double BBXSettings::betaSuspendDuration() const
{
    const Value& value = settingsValue(QStringLiteral("beta"), QStringLiteral("update_suspend_duration"));
    return value.isNumber() ? value.toReal() : 3600.0;
}

QString BBXSettings::promptValueForSettingsKey(const QString& key, const QString& localizedKey,
                                               const QString& defaultValue) const
{
    Q_UNUSED(localizedKey);
    const Value& value = settingsValue(QStringLiteral("prompt"), key);
    return value.isString() ? value.toString() : defaultValue;
}

QString BBXSettings::interactivePromptTitle() const
{
    return promptValueForSettingsKey(QStringLiteral("title"),
                                     QStringLiteral("BlackboxCrashSubmissionPromptTitle"),
                                     QStringLiteral("Send Crash Report?"));
}
QString BBXSettings::interactivePromptMessage() const
{
    return promptValueForSettingsKey(
        QStringLiteral("message"), QStringLiteral("BlackboxCrashSubmissionPromptMessage"),
        QStringLiteral("Looks like we crashed! Please help us fix the problem by sending a crash report."));
}
QString BBXSettings::interactivePromptCancelTitle() const
{
    return promptValueForSettingsKey(QStringLiteral("cancel_button_title"),
                                     QStringLiteral("BlackboxCrashSubmissionCancelTitle"),
                                     QStringLiteral("Don't Send"));
}
QString BBXSettings::interactivePromptSendTitle() const
{
    return promptValueForSettingsKey(QStringLiteral("send_button_title"),
                                     QStringLiteral("BlackboxCrashSubmissionSendTitle"),
                                     QStringLiteral("Send"));
}
QString BBXSettings::interactivePromptAlwaysSendTitle() const
{
    return promptValueForSettingsKey(QStringLiteral("always_send_button_title"),
                                     QStringLiteral("BlackboxCrashSubmissionAlwaysSendTitle"),
                                     QStringLiteral("Always Send"));
}

} // namespace corvex
