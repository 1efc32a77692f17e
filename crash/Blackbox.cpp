#include "crash/Blackbox.h"

#include "crash/BBXFileManager.h"
#include "crash/BBXInternalReport.h"
#include "crash/capture/BBXContext.h"
#include "crash/capture/BBXException.h"
#include "crash/capture/BBXUserLogging.h"
#include "kit/core/LOMKit.h"
#include "kit/core/Loom.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/Bundle.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Paths.h"
#include "platform/core/Scheduler.h"
#include "platform/core/StartupTrace.h"
#include "platform/core/XmlPropertyList.h"
#include "tallykit/Tally.h"

#include <QFileInfo>

namespace corvex {

const QString Blackbox::BundleIdentifier = QStringLiteral("com.loomworks.blackbox.mac");
const QString Blackbox::KitDisplayVersion = QStringLiteral("3.8.5");
const QString Blackbox::KitBuildVersion = QStringLiteral("123");

namespace {

class BlackboxKitClass final : public LOMKitClass
{
public:
    QString className() const override { return QStringLiteral("Blackbox"); }
    QString bundleIdentifier() const override { return Blackbox::BundleIdentifier; }
    QString kitDisplayVersion() const override { return Blackbox::KitDisplayVersion; }
    std::optional<QString> kitBuildVersion() const override { return Blackbox::KitBuildVersion; }
    bool answersInitializeIfNeeded() const override { return true; }
    void initializeIfNeeded() override { Blackbox::initializeIfNeeded(); }
};

} // namespace

std::shared_ptr<Blackbox> Blackbox::sharedInstance()
{
    // Lives as long as the process: crash-time code may reach it.
    static const std::shared_ptr<Blackbox>* const shared = new std::shared_ptr<Blackbox>(new Blackbox());
    return *shared;
}

LOMKitClass* Blackbox::kitClass()
{
    static LOMKitClass* const made = new BlackboxKitClass; // registered objects outlive their registration
    return made;
}

void Blackbox::registerKitClass()
{
    static const bool registered = [] {
        LOMKitClassRegistry::registerClass(kitClass());
        return true;
    }();
    Q_UNUSED(registered);
}

void Blackbox::initializeIfNeeded()
{
    sharedInstance()->start();
}

std::shared_ptr<BBXCrashReportingController> Blackbox::crashReportingController() const
{
    std::lock_guard lock(mMutex);
    return mController;
}

void Blackbox::start()
{
    std::call_once(mStartOnce, [this] {
        const double mark = MediaClock::now();
        Log::info(QStringLiteral("[Blackbox] Version %1 (%2)").arg(KitDisplayVersion, KitBuildVersion));
        if (Loom::sharedSDK().debug())
            Log::info(QStringLiteral("[Blackbox] Running on %1, %2 (%3)")
                          .arg(LOMHostModel(), LOMHostOSDisplayVersion(), LOMHostOSBuildVersion()));
        auto fileManager = std::make_shared<BBXFileManager>(BBXFileManager::defaultRootPath());
        std::shared_ptr<BBXBetaController> beta;
        std::optional<QString> betaToken;
        if (BBXBetaController::isBetaSupported()) {
            // No beta token exists in this program: the controller never starts.
            beta = BBXBetaController::create(weak_from_this(), [] { return std::optional<QString>(); });
            if (!beta->start())
                Log::info(QStringLiteral("[Blackbox] Beta could not be initialized"));
            betaToken = beta->betaToken();
        }
        auto controller = BBXCrashReportingController::create(fileManager, weak_from_this());
        {
            std::lock_guard lock(mMutex);
            mController = controller;
            mBetaController = beta;
        }
        mStarted.store(true);
        StartupTrace::mark("crash reporter starting");
        if (!controller->startWithProfilingMark(mark, betaToken))
            Log::error(QStringLiteral("[Blackbox] Crash reporting could not be initialized"));
        StartupTrace::mark("crash reporter started");
        Tally::startWithBetaToken(betaToken);
        StartupTrace::mark("analytics started");
    });
}

std::shared_ptr<BBXBetaController> Blackbox::betaController() const
{
    std::lock_guard lock(mMutex);
    return mBetaController;
}

QString Blackbox::APIKey() const
{
    return Loom::sharedSDK().APIKey();
}

std::optional<QString> Blackbox::historicInstallID(const QString& path)
{
    const QFileInfo file(path);
    if (!file.exists() || file.isDir())
        return std::nullopt;
    const Result<Value> read = XmlPropertyList::readFile(path);
    if (!read || !read.value().isDictionary())
        return std::nullopt;
    const Value& identifier = read.value().value(Loom::InstallIdentifierKey);
    if (!identifier.isString() || identifier.toString().isEmpty())
        return std::nullopt;
    return identifier.toString();
}

QString Blackbox::installID() const
{
    const std::optional<QString> historic = historicInstallID(
        Paths::applicationSupport() + QStringLiteral("/com.blackbox/BBXUserDefaults.plist"));
    return historic ? *historic : Loom::sharedSDK().installID();
}

bool Blackbox::isFirstInstall() const
{
    return Loom::sharedSDK().isFirstInstall();
}

void Blackbox::setDebugMode(bool debug)
{
    Loom::sharedSDK().setDebug(debug);
    if (isBlackboxStarted())
        Log::warning(
            QStringLiteral("[Blackbox] Warning, consider enabling debug mode before starting Blackbox"));
}

bool Blackbox::debugMode() const
{
    return Loom::sharedSDK().debug();
}

void Blackbox::setUserIdentifier(const QString& identifier)
{
    BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.user-id"), identifier);
}
void Blackbox::setUserName(const QString& name)
{
    BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.user-name"), name);
}
void Blackbox::setUserEmail(const QString& email)
{
    BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.user-email"), email);
}
void Blackbox::setObjectValue(const QVariant& value, const QString& key)
{
    BBXUserLoggingRecordUserKeyValue(key, value);
}

void Blackbox::recordError(const Error& error, const QVariantMap& additionalUserInfo)
{
    if (error.isNull() || !BBXContextIsInitialized())
        return;
    BBXUserLoggingRecordError(error, additionalUserInfo);
}

void Blackbox::logEvent(const QString& name, const Value& attributes)
{
    Tally::logCustomEventWithName(name, attributes);
}

void Blackbox::recordCustomExceptionName(const QString& name, const QString& reason,
                                         const std::vector<BBXStackFrame>& frames)
{
    // A text given empty is still given: only a missing one is left out of the line.
    const auto utf8 = [](const std::optional<QString>& text) {
        return !text ? QByteArray() : text->isEmpty() ? QByteArray("") : text->toUtf8();
    };
    std::vector<BBXExceptionFrame> recorded;
    recorded.reserve(frames.size());
    for (const BBXStackFrame& frame : frames)
        recorded.push_back(BBXExceptionFrame{frame.address, utf8(frame.symbol), utf8(frame.library),
                                             utf8(frame.fileName), frame.lineNumber, frame.offset});
    BBXExceptionRecord(BBXExceptionTypeCustom, name.toUtf8(), reason.toUtf8(), recorded.data(),
                       recorded.size(), false);
}

void Blackbox::setDevelopmentPlatformName(const QString& name)
{
    BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.development-platform-name"), name);
}

void Blackbox::setDevelopmentPlatformVersion(const QString& version)
{
    BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.development-platform-version"),
                                         version);
}

std::optional<QString> Blackbox::developmentPlatformName() const
{
    Log::info(QStringLiteral("[Blackbox] developmentPlatformName is write-only"));
    return std::nullopt;
}

std::optional<QString> Blackbox::developmentPlatformVersion() const
{
    Log::info(QStringLiteral("[Blackbox] developmentPlatformVersion is write-only"));
    return std::nullopt;
}

void Blackbox::crash()
{
    __builtin_trap();
}

void Blackbox::throwException()
{
    throw Exception(QStringLiteral("BlackboxTestException"),
                    QStringLiteral("This is an Objective-C exception using for testing."));
}

void Blackbox::reportingControllerDidDetectReportForLastExecution(const std::shared_ptr<BBXInternalReport>&,
                                                                  SubmitHandler handler)
{
    // No application delegate decides: the report is sent (the answer, as every answer,
    // comes on a later turn).
    handler(true);
}

void Blackbox::reportingControllerInternalDidDetectReportForLastExecution(
    const std::shared_ptr<BBXInternalReport>& report)
{
    if (!report || !report->isCrash())
        return;
    const std::optional<QDateTime> started = report->dateCreated();
    MainQueue::post([started] { Tally::logPreviousSessionCrashedOnDate(started); });
}

BBXSettings Blackbox::settingsForCrashReportingController()
{
    return BBXSettings(Loom::sharedSDK().settings(), Bundle::mainBundle().infoDictionary());
}

} // namespace corvex
