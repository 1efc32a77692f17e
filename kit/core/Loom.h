#pragma once

#include "kit/core/LOMKit.h"
#include "platform/core/Value.h"

#include <QString>
#include <QVariantMap>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvex {

class BBXUserDefaults;

// One element of the kit list handed to Loom::with: a kit class or a kit object.
class LOMKitArgument
{
public:
    LOMKitArgument(LOMKitClass* kitClass) : mClass(kitClass) {}
    LOMKitArgument(const LOMKitObject& object) : mClass(&object.kitClass()) {}
    LOMKitClass* kitClass() const { return mClass; }

private:
    LOMKitClass* mClass;
};

// Where start-up goes on once the kits are initialised: the settings download and the
// application onboarding, built with the kit's network client. Until that is installed,
// start-up ends after the kits' initialisation and there are no downloaded settings.
struct LOMSettingsAndOnboardingSeam
{
    // Hands over the API key and the kit versions (bundle identifier -> display version).
    std::function<void(const QString& apiKey, const QVariantMap& kitVersionsByKitBundleIdentifier)> begin;
    // The application's instance identifier (from its executable); empty when unknown.
    std::function<QString()> instanceIdentifier;
};

// The reporting kit's registry: the kits running in the application, the kit configuration
// from the information dictionary ("Loom": "APIKey", "Kits"), the installation, instance and
// execution identifiers, the debug switch and the downloaded settings for every kit.
//
// Misconfiguration of the information dictionary raises Exception "LOMException" out of
// with(); the application's launch calls startAtLaunch(), which catches it, logs it, and
// runs on without the kit.
class Loom
{
public:
    static const QString KitCoreVersion;          // "1.6.12"
    static const QString KitCoreBuild;            // "62"
    static const QString Platform;                // "mac"
    static const QString KitCoreBundleIdentifier; // "io.loom.sdk.mac"
    static const QString ExceptionName;           // "LOMException"
    static const QString InstallIdentifierKey;    // "com.blackbox.iuuid"

    // The information dictionary: nullopt when there is none.
    using InfoDictionarySource = std::function<std::optional<QVariantMap>()>;

    // The one shared object (the standard defaults store, the main bundle), made on first use.
    static Loom& sharedSDK();
    // Starts the kit core once with the kits and answers the shared object; later calls log.
    static Loom& with(const std::vector<LOMKitArgument>& kits);
    // with(), catching "LOMException": logged, and false; the application runs on.
    static bool startAtLaunch(const std::vector<LOMKitArgument>& kits);

    // An instance for tests and for sharedSDK(): reads or makes the installation identifier.
    Loom(BBXUserDefaults& defaults, InfoDictionarySource info);
    ~Loom();
    Loom(const Loom&) = delete;
    Loom& operator=(const Loom&) = delete;

    // The instance's start (what with() does for the shared object). Its last step, the
    // settings download, waits for the first frame of a launch under way (AfterFirstFrame):
    // an instance that is started then must live until that frame.
    void start(const std::vector<LOMKitArgument>& kits);

    QString APIKey();
    void setAPIKey(const QString& key);
    QString installID() const { return mInstallID; }
    bool isFirstInstall() const { return mFirstInstall; }
    QString executionIdentifier() const { return mExecutionIdentifier; }
    QString instanceIdentifier() const;
    // The downloaded settings (a dictionary); null before a usable settings file exists.
    Value settings() const;
    bool debug() const { return mDebug.load(); }
    void setDebug(bool debug) { mDebug.store(debug); }
    QString advertisingToken() const;
    void setAdvertisingToken(const QString& token);
    std::vector<LOMKitClass*> kitClasses() const;

    // The validated "Loom" dictionary; raises "LOMException" on misconfiguration.
    QVariantMap loomConfig();
    QVariantMap kitVersionsByKitBundleIdentifier() const;
    // The "KitInfo" of the kit's "Kits" entry: nothing without an entry, empty without info.
    std::optional<QVariantMap> configurationDictionaryForKit(const LOMKitObject& kit);
    std::optional<QVariantMap> configurationDictionaryForKitClass(const LOMKitClass& kitClass);
    void initializeKit(LOMKitClass& kitClass);
    void onboardAppAndDownloadSettings();

    // Installs the next start-up steps (see LOMSettingsAndOnboardingSeam).
    void setSettingsAndOnboarding(LOMSettingsAndOnboardingSeam seam);
    // Replaces the settings every kit reads, all at once (readers see old or new, whole).
    void publishSettings(Value settings);

    // A progress line, only while the debug switch is on.
    void logProgress(const QString& message) const;

private:
    std::vector<LOMKitClass*> completeKitList(std::vector<LOMKitClass*> classes) const;

    InfoDictionarySource mInfo;
    QString mInstallID;
    bool mFirstInstall = false;
    QString mExecutionIdentifier;
    std::atomic<bool> mDebug{false};
    std::atomic<bool> mStarted{false};

    mutable std::mutex mMutex; // guards what follows
    QString mAPIKey;
    QString mAdvertisingToken;
    std::optional<QVariantMap> mLoomConfig;
    std::vector<LOMKitClass*> mKitClasses;
    LOMSettingsAndOnboardingSeam mSeam;
    std::shared_ptr<const Value> mSettings;
};

} // namespace corvex
