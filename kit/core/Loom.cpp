#include "kit/core/Loom.h"

#include "kit/core/BBXUserDefaults.h"
#include "kit/core/LOMSettingsOnboardingManager.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/AfterFirstFrame.h"
#include "platform/core/Bundle.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"

#include <QUuid>
#include <algorithm>

namespace corvex {

const QString Loom::KitCoreVersion = QStringLiteral("1.6.12");
const QString Loom::KitCoreBuild = QStringLiteral("62");
const QString Loom::Platform = QStringLiteral("mac");
const QString Loom::KitCoreBundleIdentifier = QStringLiteral("io.loom.sdk.mac");
const QString Loom::ExceptionName = QStringLiteral("LOMException");
const QString Loom::InstallIdentifierKey = QStringLiteral("com.blackbox.iuuid");

namespace {

const QString LoomName = QStringLiteral("Loom");
const QString LoomAPIKeyEntry = QStringLiteral("APIKey");
const QString LoomKitsEntry = QStringLiteral("Kits");
const QString LoomKitNameEntry = QStringLiteral("KitName");
const QString LoomKitInfoEntry = QStringLiteral("KitInfo");

[[noreturn]] void raiseLoomException(const QString& reason)
{
    throw Exception(Loom::ExceptionName, reason);
}

bool containsKit(const std::vector<LOMKitClass*>& classes, const LOMKitClass* kitClass)
{
    return std::find(classes.begin(), classes.end(), kitClass) != classes.end();
}

} // namespace

Loom& Loom::sharedSDK()
{
    static Loom* const shared = [] {
        auto* made = new Loom(BBXUserDefaults::standardUserDefaults(), []() -> std::optional<QVariantMap> {
            const Bundle& bundle = Bundle::mainBundle();
            if (!bundle.hasInfoDictionary())
                return std::nullopt;
            return bundle.infoDictionary();
        });
        // The settings download and onboarding run in every start; the manager lives for
        // the process, as the registry does.
        static const std::shared_ptr<LOMSettingsOnboardingManager> manager =
            LOMInstallSettingsAndOnboarding(*made, [] { return Bundle::mainBundle().infoDictionary(); });
        return made;
    }();
    return *shared;
}

Loom& Loom::with(const std::vector<LOMKitArgument>& kits)
{
    Loom& loom = sharedSDK();
    loom.start(kits);
    return loom;
}

bool Loom::startAtLaunch(const std::vector<LOMKitArgument>& kits)
{
    try {
        with(kits);
        return true;
    } catch (const Exception& exception) {
        if (exception.name() != ExceptionName)
            throw;
        Log::error(QStringLiteral("[Loom] The reporting kit is not running: %1").arg(exception.reason()));
        return false;
    }
}

Loom::Loom(BBXUserDefaults& defaults, InfoDictionarySource info) : mInfo(std::move(info))
{
    const Value stored = defaults.objectForKeyByMigratingFromNSUserDefaults(InstallIdentifierKey);
    if (stored.isString() && !stored.toString().isEmpty()) {
        mInstallID = stored.toString();
    } else {
        if (!stored.isNull())
            Log::error(QStringLiteral(
                "[Loom] The stored installation identifier is not a string; making a new one"));
        mFirstInstall = true;
        mInstallID = LOMCreateUUIDString();
        defaults.setObject(Value(mInstallID), InstallIdentifierKey);
        defaults.synchronize();
    }
    mExecutionIdentifier = LOMCreateUUIDString().remove(QLatin1Char('-')).toLower();
}

Loom::~Loom() = default;

void Loom::logProgress(const QString& message) const
{
    if (debug())
        Log::info(message);
}

void Loom::start(const std::vector<LOMKitArgument>& kits)
{
    if (mStarted.exchange(true)) {
        Log::warning(
            QStringLiteral("[Loom] [Loom +with] called multiple times. Only the first call is honored, "
                           "please pass all kits you wish to initialize"));
        return;
    }
    if (APIKey().isNull())
        return;

    std::vector<LOMKitClass*> classes;
    for (const LOMKitArgument& kit : kits)
        if (kit.kitClass() != nullptr)
            classes.push_back(kit.kitClass());

    for (LOMKitClass* kitClass : classes) {
        if (kitClass->conformsToLOMKit())
            continue;
        LOMLegacyKit* legacy = kitClass->sharedInstance();
        if (legacy != nullptr) {
            Log::warning(QStringLiteral("[%1] Please upgrade to the latest version of \"%2\"")
                             .arg(LoomName, kitClass->className()));
            if (legacy->answersKitMessages())
                continue;
        }
        raiseLoomException(
            QStringLiteral("[%1] It appears that \"%2\" is not a valid Loom Kit. Please make sure you "
                           "only pass Loom Kits to [Loom with:].")
                .arg(LoomName, kitClass->className()));
    }

    classes = completeKitList(std::move(classes));
    {
        std::lock_guard lock(mMutex);
        mKitClasses = classes;
    }
    for (LOMKitClass* kitClass : classes)
        initializeKit(*kitClass);
    // The kits run with the settings they find until the download's answer; the first window
    // needs none of it, so in a launch it waits for that window's first frame.
    AfterFirstFrame::post([this] { onboardAppAndDownloadSettings(); });
}

std::vector<LOMKitClass*> Loom::completeKitList(std::vector<LOMKitClass*> classes) const
{
    if (LOMKitClass* phoneauth = LOMKitClassRegistry::classNamed(QStringLiteral("Phoneauth"));
        phoneauth != nullptr && !containsKit(classes, phoneauth))
        classes.push_back(phoneauth);
    LOMKitClass* blackbox = LOMKitClassRegistry::classNamed(QStringLiteral("Blackbox"));
    LOMKitClass* tally = LOMKitClassRegistry::classNamed(QStringLiteral("Tally"));
    if (blackbox != nullptr && tally != nullptr && containsKit(classes, blackbox) &&
        tally->conformsToLOMKit() && !containsKit(classes, tally))
        classes.push_back(tally);
    if (LOMKitClass* screenlens = LOMKitClassRegistry::classNamed(QStringLiteral("Screenlens"));
        screenlens != nullptr && containsKit(classes, screenlens)) {
        classes.erase(std::find(classes.begin(), classes.end(), screenlens));
        classes.insert(classes.begin(), screenlens);
    }
    if (LOMKitClassRegistry::classNamed(QStringLiteral("AdsMobileSDK")) != nullptr) {
        if (LOMKitClass* adsKit = LOMKitClassRegistry::classNamed(QStringLiteral("AdsKit"));
            adsKit != nullptr)
            classes.push_back(adsKit);
    }
    return classes;
}

void Loom::initializeKit(LOMKitClass& kitClass)
{
    if (!kitClass.conformsToLOMKit()) {
        if (LOMLegacyKit* legacy = kitClass.sharedInstance(); legacy != nullptr)
            legacy->start();
        return;
    }
    if (kitClass.answersInitializeIfNeeded())
        kitClass.initializeIfNeeded();
}

void Loom::onboardAppAndDownloadSettings()
{
    const QString key = APIKey();
    const QVariantMap versions = kitVersionsByKitBundleIdentifier();
    std::function<void(const QString&, const QVariantMap&)> begin;
    {
        std::lock_guard lock(mMutex);
        begin = mSeam.begin;
    }
    if (!begin) {
        logProgress(
            QStringLiteral("[Loom] No settings download in this build; the kits run with the settings "
                           "they find"));
        return;
    }
    begin(key, versions);
}

QVariantMap Loom::loomConfig()
{
    {
        std::lock_guard lock(mMutex);
        if (mLoomConfig)
            return *mLoomConfig;
    }
    const std::optional<QVariantMap> info = mInfo ? mInfo() : std::nullopt;
    if (!info)
        raiseLoomException(QStringLiteral("[%1] Cannot find Info.plist.").arg(LoomName));
    const QVariant loom = info->value(LoomName);
    if (loom.typeId() != QMetaType::QVariantMap)
        raiseLoomException(QStringLiteral("[%1] Value of Info.plist key \"%2\" must be a NSDictionary.")
                               .arg(LoomName, LoomName));
    const QVariantMap config = loom.toMap();
    const QVariant kits = config.value(LoomKitsEntry);
    if (kits.typeId() != QMetaType::QVariantList && kits.typeId() != QMetaType::QStringList)
        Log::warning(QStringLiteral("[Loom] [%1] Value of Info.plist[%2][%3] should be a NSArray.")
                         .arg(LoomName, LoomName, LoomKitsEntry));
    if (config.value(LoomAPIKeyEntry).typeId() != QMetaType::QString)
        raiseLoomException(QStringLiteral("[%1] Value of Info.plist[%2][%3] must contain your %4 API Key.")
                               .arg(LoomName, LoomName, LoomAPIKeyEntry, LoomName));
    std::lock_guard lock(mMutex);
    mLoomConfig = config;
    return config;
}

QString Loom::APIKey()
{
    {
        std::lock_guard lock(mMutex);
        if (!mAPIKey.isNull())
            return mAPIKey;
    }
    const QString configured = loomConfig().value(LoomAPIKeyEntry).toString();
    std::lock_guard lock(mMutex);
    if (mAPIKey.isNull() && !configured.isNull())
        mAPIKey = configured;
    if (mAPIKey.isNull())
        Log::error(QStringLiteral("[Loom] Loom API Key is nil! Loom won't work unless there is a valid API "
                                  "Key setup in Info.plist"));
    return mAPIKey;
}

void Loom::setAPIKey(const QString& key)
{
    std::lock_guard lock(mMutex);
    mAPIKey = key;
}

QString Loom::instanceIdentifier() const
{
    std::function<QString()> source;
    {
        std::lock_guard lock(mMutex);
        source = mSeam.instanceIdentifier;
    }
    return source ? source() : QString();
}

Value Loom::settings() const
{
    std::shared_ptr<const Value> settings;
    {
        std::lock_guard lock(mMutex);
        settings = mSettings;
    }
    return settings ? *settings : Value();
}

void Loom::publishSettings(Value settings)
{
    auto published = settings.isDictionary() ? std::make_shared<const Value>(std::move(settings)) : nullptr;
    std::lock_guard lock(mMutex);
    mSettings = std::move(published);
}

QString Loom::advertisingToken() const
{
    std::lock_guard lock(mMutex);
    return mAdvertisingToken;
}

void Loom::setAdvertisingToken(const QString& token)
{
    std::lock_guard lock(mMutex);
    mAdvertisingToken = token;
}

std::vector<LOMKitClass*> Loom::kitClasses() const
{
    std::lock_guard lock(mMutex);
    return mKitClasses;
}

void Loom::setSettingsAndOnboarding(LOMSettingsAndOnboardingSeam seam)
{
    std::lock_guard lock(mMutex);
    mSeam = std::move(seam);
}

QVariantMap Loom::kitVersionsByKitBundleIdentifier() const
{
    QVariantMap versions;
    for (LOMKitClass* kitClass : kitClasses()) {
        if (kitClass->conformsToLOMKit()) {
            versions.insert(kitClass->bundleIdentifier(), kitClass->kitDisplayVersion());
        } else if (LOMLegacyKit* legacy = kitClass->sharedInstance(); legacy != nullptr) {
            versions.insert(legacy->bundleIdentifier(), legacy->version());
        }
    }
    versions.insert(KitCoreBundleIdentifier, KitCoreVersion);
    if (debug()) {
        QStringList pairs;
        for (auto it = versions.cbegin(); it != versions.cend(); ++it)
            pairs.append(QStringLiteral("%1 = %2").arg(it.key(), it.value().toString()));
        logProgress(QStringLiteral("[Loom] Initialized with kit versions: {%1}")
                        .arg(pairs.join(QStringLiteral("; "))));
    }
    return versions;
}

std::optional<QVariantMap> Loom::configurationDictionaryForKit(const LOMKitObject& kit)
{
    return configurationDictionaryForKitClass(kit.kitClass());
}

std::optional<QVariantMap> Loom::configurationDictionaryForKitClass(const LOMKitClass& kitClass)
{
    const QVariantList kits = loomConfig().value(LoomKitsEntry).toList();
    for (const QVariant& entry : kits) {
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap map = entry.toMap();
        if (map.value(LoomKitNameEntry) != QVariant(kitClass.className()))
            continue;
        const QVariant info = map.value(LoomKitInfoEntry);
        return info.typeId() == QMetaType::QVariantMap ? info.toMap() : QVariantMap();
    }
    return std::nullopt;
}

} // namespace corvex
