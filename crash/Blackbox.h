#pragma once

#include "crash/BBXCrashReportingController.h"
#include "crash/beta/BBXBetaController.h"
#include "crash/processing/BBXStackFrame.h"
#include "platform/core/Value.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvex {

class Error;
class LOMKitClass;

// The crash reporter as the application and the kit registry see it: a kit ("Blackbox")
// whose one-time start builds the report tree and the controller, starts crash reporting and
// then usage analytics; afterwards the door for user information, custom keys, non-fatal
// errors and analytics events. No application delegate is set in this program, so every
// delegate question gets the answer for a missing delegate: reports are sent, and analytics
// hears of each earlier crash with the crashed run's start time.
class Blackbox : public BBXCrashReportingControllerDelegate,
                 public BBXBetaControllerDelegate,
                 public std::enable_shared_from_this<Blackbox>
{
public:
    static const QString BundleIdentifier;  // "com.loomworks.blackbox.mac"
    static const QString KitDisplayVersion; // "3.8.5"
    static const QString KitBuildVersion;   // "123"

    static std::shared_ptr<Blackbox> sharedInstance();
    // The kit class "Blackbox" for the registry (registered once).
    static LOMKitClass* kitClass();
    static void registerKitClass();
    static void initializeIfNeeded();

    // The start road; runs once per process.
    void start();
    bool isBlackboxStarted() const { return mStarted.load(); }
    std::shared_ptr<BBXCrashReportingController> crashReportingController() const;

    QString APIKey() const;
    // The historic store's identifier when it holds one, else the registry's.
    QString installID() const;
    // The installation identifier a historic defaults file (an XML property list) holds: a
    // non-empty string under "com.blackbox.iuuid"; nothing for anything else.
    static std::optional<QString> historicInstallID(const QString& path);
    bool isFirstInstall() const;
    // Sets the registry's debug switch to `debug` (debug mode skips certificate pinning, so
    // "off" must mean off).
    void setDebugMode(bool debug);
    bool debugMode() const;

    void setUserIdentifier(const QString& identifier);
    void setUserName(const QString& name);
    void setUserEmail(const QString& email);
    void setObjectValue(const QVariant& value, const QString& key);
    void setIntValue(int value, const QString& key) { setObjectValue(value, key); }
    void setBoolValue(bool value, const QString& key) { setObjectValue(value, key); }
    void setFloatValue(float value, const QString& key) { setObjectValue(value, key); }

    // A non-fatal error of the current run; dropped before crash reporting started.
    void recordError(const Error& error, const QVariantMap& additionalUserInfo = {});
    void logEvent(const QString& name, const Value& attributes = Value());
    // A custom exception (type 4) with its frames as given (address, symbol, library, file,
    // line and offset); no crash-time delivery.
    void recordCustomExceptionName(const QString& name, const QString& reason,
                                   const std::vector<BBXStackFrame>& frames);
    void setDevelopmentPlatformName(const QString& name);
    void setDevelopmentPlatformVersion(const QString& version);
    // Write-only: logs that it is and answers nothing.
    std::optional<QString> developmentPlatformName() const;
    std::optional<QString> developmentPlatformVersion() const;
    // Stops the process at once with an illegal instruction (for trying the reporter).
    [[noreturn]] static void crash();
    // Raises Exception "BlackboxTestException".
    [[noreturn]] static void throwException();

    // BBXCrashReportingControllerDelegate
    bool shouldInstallCrashCallback() override { return false; }
    void detectedCrash() override {}
    bool reportingControllerCanUseBackgroundSessions() override { return true; }
    bool reportingControllerMustInformDelegateOfReports() override { return false; }
    void reportingControllerDidDetectReportForLastExecution(const std::shared_ptr<BBXInternalReport>& report,
                                                            SubmitHandler handler) override;
    void reportingControllerInternalDidDetectReportForLastExecution(
        const std::shared_ptr<BBXInternalReport>& report) override;
    bool reportingControllerEnsureDeliveryOfUnixSignal(int) override { return false; }
    QString APIKeyForCrashReportingController() override { return APIKey(); }
    QString installIDForCrashReportingController() override { return installID(); }
    bool isFirstInstallForCrashReportingController() override { return isFirstInstall(); }
    BBXSettings settingsForCrashReportingController() override;
    // BBXBetaControllerDelegate
    QString APIKeyForBetaController() override { return APIKey(); }
    BBXSettings settingsForBetaController() override { return settingsForCrashReportingController(); }
    // Made at start only when beta checks apply; nullptr otherwise.
    std::shared_ptr<BBXBetaController> betaController() const;

private:
    Blackbox() = default;

    std::once_flag mStartOnce;
    std::atomic<bool> mStarted{false};
    mutable std::mutex mMutex; // guards the controller
    std::shared_ptr<BBXCrashReportingController> mController;
    std::shared_ptr<BBXBetaController> mBetaController;
};

} // namespace corvex
