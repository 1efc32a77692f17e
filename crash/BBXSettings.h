#pragma once

#include "platform/core/Value.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <cstdint>

namespace corvex {

// The crash reporter's typed view of the kit settings (feature switches, "session" limits,
// beta and prompt values) and of its local configuration (endpoints and processing
// switches: the environment variable "Blackbox<key>", then the information dictionary's
// "Blackbox" entry, then the default). Every value is computed afresh on each call.
class BBXSettings
{
public:
    // An unconfigured build sends nothing: these hosts never resolve.
    static const QString DefaultReportsEndpoint; // "https://reports.blackbox.invalid"
    static const QString DefaultBetaEndpoint;    // "https://api.blackbox.invalid"

    // `settings`: the kit settings dictionary (null: every value takes its default);
    // `info`: the information dictionary.
    BBXSettings(Value settings, QVariantMap info);

    QVariant valueForConfigurationKey(const QString& key) const;
    QVariantMap configuration() const;
    static QVariantMap defaultConfiguration();

    QString reportsEndpoint() const;
    // Whether reports have somewhere to go: an endpoint configured by the environment or the
    // information dictionary, other than the shipped default. Without one nothing is sent.
    bool isReportsEndpointConfigured() const;
    QString betaEndpoint() const;
    bool shouldPackageReports() const;
    bool shouldSubmitReports() const;
    bool canProcessUrgentReports() const;

    bool crashReportingEnabled() const;
    bool errorReportingEnabled() const;
    bool customExceptionsEnabled() const { return errorReportingEnabled(); }
    bool userPromptEnabled() const;
    std::uint32_t logBufferSize() const;
    std::uint32_t errorLogBufferSize() const { return logBufferSize(); }
    std::uint32_t maxCustomExceptions() const;
    std::uint32_t maxCustomKeys() const;
    double betaSuspendDuration() const;

    QString interactivePromptTitle() const;
    QString interactivePromptMessage() const;
    QString interactivePromptCancelTitle() const;
    QString interactivePromptSendTitle() const;
    QString interactivePromptAlwaysSendTitle() const;
    // The settings' "prompt" value for the key (else the default), looked up as the value of
    // the localisation key in the "Blackbox" strings table; no table is shipped, so the
    // value itself is the answer.
    QString promptValueForSettingsKey(const QString& key, const QString& localizedKey,
                                      const QString& defaultValue) const;

private:
    const Value& settingsValue(const QString& group, const QString& key) const;
    bool switchValue(const QString& key) const;

    Value mSettings;
    QVariantMap mInfo;
};

} // namespace corvex
