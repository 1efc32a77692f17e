#pragma once

#include "crash/BBXCrashReportingController.h"
#include "crash/BBXSettings.h"
#include "platform/core/Value.h"

#include <QString>
#include <QVariantMap>

namespace corvex::test {

// The controller's delegate in a test: settings pointing at the stand-in, with the kit
// settings dictionary given (null: every value takes its default).
class TestControllerDelegate : public BBXCrashReportingControllerDelegate
{
public:
    explicit TestControllerDelegate(QString endpoint, Value kitSettings = Value())
        : mEndpoint(std::move(endpoint)), mKitSettings(std::move(kitSettings))
    {}
    bool shouldInstallCrashCallback() override { return false; }
    void detectedCrash() override {}
    bool reportingControllerCanUseBackgroundSessions() override { return true; }
    bool reportingControllerMustInformDelegateOfReports() override { return false; }
    void reportingControllerDidDetectReportForLastExecution(const std::shared_ptr<BBXInternalReport>&,
                                                            SubmitHandler handler) override
    {
        handler(true);
    }
    void reportingControllerInternalDidDetectReportForLastExecution(
        const std::shared_ptr<BBXInternalReport>&) override
    {}
    bool reportingControllerEnsureDeliveryOfUnixSignal(int) override { return false; }
    QString APIKeyForCrashReportingController() override { return QStringLiteral("key"); }
    QString installIDForCrashReportingController() override { return QStringLiteral("install"); }
    bool isFirstInstallForCrashReportingController() override { return false; }
    BBXSettings settingsForCrashReportingController() override
    {
        return BBXSettings(mKitSettings,
                           QVariantMap{{QStringLiteral("Blackbox"),
                                        QVariantMap{{QStringLiteral("ReportsEndpoint"), mEndpoint}}}});
    }

private:
    QString mEndpoint;
    Value mKitSettings;
};

} // namespace corvex::test
