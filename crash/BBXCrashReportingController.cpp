#include "crash/BBXCrashReportingController.h"

#include "crash/BBXFileManager.h"
#include "crash/BBXInternalReport.h"
#include "crash/capture/BBXContext.h"
#include "crash/capture/BBXException.h"
#include "crash/capture/BBXMachException.h"
#include "crash/capture/BBXSignal.h"
#include "crash/capture/BBXUserLogging.h"
#include "crash/runtime/BBXFile.h"
#include "kit/core/Loom.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/AfterFirstFrame.h"
#include "platform/core/AlertPresenter.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/Scheduler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>    // open
#include <sys/file.h> // flock: one run per report directory
#include <unistd.h>

namespace corvex {

const QString BBXCrashReportingController::LockFileName = QStringLiteral(".lock");

BBXCrashReportingControllerDelegate::~BBXCrashReportingControllerDelegate() = default;

namespace {

bool controllerDebug()
{
    return Loom::sharedSDK().debug();
}

void crashCallback(void* target)
{
    // Crash time: the controller lives as long as the process.
    auto* controller = static_cast<BBXCrashReportingControllerDelegate*>(target);
    controller->detectedCrash();
}

QString milliseconds(double fromSeconds)
{
    return QString::number((MediaClock::now() - fromSeconds) * 1000.0, 'f', 3);
}

} // namespace

std::shared_ptr<BBXCrashReportingController>
BBXCrashReportingController::create(std::shared_ptr<BBXFileManager> fileManager,
                                    std::weak_ptr<BBXCrashReportingControllerDelegate> delegate)
{
    std::shared_ptr<BBXCrashReportingController> controller(new BBXCrashReportingController());
    controller->mFileManager = std::move(fileManager);
    controller->mDelegate = std::move(delegate);
    controller->mQueue =
        std::make_shared<OperationQueue>(QStringLiteral("com.loomworks.blackbox.mac.work-queue"));
    controller->mQueue->setMaxConcurrentOperationCount(1);
    controller->mClient = BBXNetworkClient::create(controller->mQueue, controller->mFileManager, controller);
    return controller;
}

BBXCrashReportingController::~BBXCrashReportingController()
{
    if (mLockFd >= 0)
        ::close(mLockFd);
}

BBXSettings BBXCrashReportingController::settings()
{
    std::call_once(mSettingsOnce, [this] {
        auto delegate = mDelegate.lock();
        mSettings =
            delegate ? delegate->settingsForCrashReportingController() : BBXSettings(Value(), QVariantMap());
    });
    return *mSettings;
}

std::shared_ptr<BBXReportsController> BBXCrashReportingController::reportsController()
{
    std::call_once(mReportsControllerOnce, [this] {
        mReportsController =
            std::make_shared<BBXReportsController>(mQueue, weak_from_this(), mClient, mFileManager);
    });
    return mReportsController;
}

bool BBXCrashReportingController::startWithProfilingMark(double mark, const std::optional<QString>& betaToken)
{
    if (LOMEscapedBundleIdentifier().isEmpty()) {
        Log::error(
            QStringLiteral("[Blackbox] An application must have a valid bundle idenifier in its Info.plist"));
        return false;
    }
    if (!settings().crashReportingEnabled()) {
        Log::info(QStringLiteral("[Blackbox:Crash] Reporting is disabled"));
        mFileManager->removeContentsOfAllPaths();
        return false;
    }
    // The legacy tree goes before the new one is made, never while it is in use.
    mFileManager->removeLegacyDirectories();
    if (!mFileManager->prepareForNewLaunch())
        return false;
    const bool lastLaunchFailed = checkForAndCreateLaunchMarker();
    // Oldest first, so that packages are made, and the oldest removed, in the order of the runs.
    QStringList earlier;
    for (const QString& path : BBXFileManager::oldestFirst(mFileManager->activePathContents())) {
        if (!isLockedByLiveRun(path))
            earlier.append(path);
    }
    if (!setUpCurrentReport())
        Log::error(QStringLiteral("[Blackbox:Crash] Unable to setup a new report"));
    if (mCurrentReport && installCrashReportingHandlers(betaToken)) {
        crashReportingSetupCompleted(mark);
    } else {
        Log::error(QStringLiteral("[Blackbox:Crash] Unable to start crash reporter"));
        mCurrentReport.reset();
    }
    if (lastLaunchFailed) {
        // Urgent: the earlier reports go out now, before this launch goes on and perhaps
        // fails the same way.
        processExistingReportPaths(earlier, true);
        handleContentsInOtherReportingDirectories(earlier);
    } else {
        // Nothing of the first window needs them: they wait for its first frame.
        std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
        AfterFirstFrame::post([weak, earlier] {
            if (auto self = weak.lock()) {
                self->processExistingReportPaths(earlier, false);
                self->handleContentsInOtherReportingDirectories(earlier);
            }
        });
    }
    if (mCurrentReport) {
        const QString elapsed = milliseconds(mark);
        BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.kit-start-time"), elapsed);
    }
    return mCurrentReport != nullptr;
}

bool BBXCrashReportingController::createLaunchMarker()
{
    const int fd = BBXFileOpenPrivate(QFile::encodeName(mFileManager->launchMarkerPath()).constData(),
                                      O_WRONLY | O_TRUNC | O_CLOEXEC);
    return fd >= 0 && ::close(fd) == 0;
}

bool BBXCrashReportingController::checkForAndCreateLaunchMarker()
{
    if (QFileInfo::exists(mFileManager->launchMarkerPath())) {
        if (controllerDebug())
            Log::info(QStringLiteral(
                "[Blackbox:Crash] Last launch failed: this may indicate a crash shortly after app launch."));
        return true;
    }
    createLaunchMarker();
    return false;
}

bool BBXCrashReportingController::isLockedByLiveRun(const QString& directory)
{
    const QByteArray lockPath = QFile::encodeName(directory + QLatin1Char('/') + LockFileName);
    const int fd = ::open(lockPath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // also lets go of the lock taken for the test
    return locked;
}

bool BBXCrashReportingController::setUpCurrentReport()
{
    createLaunchMarker();
    const QString identifier = Loom::sharedSDK().executionIdentifier();
    const std::optional<QString> path = mFileManager->setupNewPathForExecutionIdentifier(identifier);
    if (!path)
        return false;
    const QByteArray lockPath = QFile::encodeName(*path + QLatin1Char('/') + LockFileName);
    mLockFd = BBXFileOpenPrivate(lockPath.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (mLockFd < 0 || ::flock(mLockFd, LOCK_EX | LOCK_NB) != 0)
        Log::warning(QStringLiteral("[Blackbox:Crash] Unable to lock the report directory %1").arg(*path));
    mCurrentReport = BBXInternalReport::reportWithPath(*path, identifier);
    return mCurrentReport != nullptr;
}

std::uint32_t BBXCrashReportingController::machExceptionMask()
{
    std::uint32_t mask = 0;
    auto delegate = mDelegate.lock();
    if (!delegate)
        return 0;
    BBXSignalEnumerateSignals([&](std::size_t, int signal) {
        if (delegate->reportingControllerEnsureDeliveryOfUnixSignal(signal))
            mask |= BBXMachExceptionMaskForSignal(signal);
    });
    return mask;
}

bool BBXCrashReportingController::installCrashReportingHandlers(const std::optional<QString>& betaToken)
{
    auto delegate = mDelegate.lock();
    const BBXSettings current = settings();
    mContextStrings[0] = (delegate ? delegate->APIKeyForCrashReportingController() : QString()).toUtf8();
    mContextStrings[1] = QFile::encodeName(mCurrentReport->path());
    mContextStrings[2] = mCurrentReport->identifier().toUtf8();
    mContextStrings[3] = (delegate ? delegate->installIDForCrashReportingController() : QString()).toUtf8();
    mContextStrings[4] = betaToken.value_or(QString()).toUtf8();
    BBXContextInitParams params;
    params.apiKey = mContextStrings[0].constData();
    params.firstInstall = delegate && delegate->isFirstInstallForCrashReportingController();
    if (delegate && delegate->shouldInstallCrashCallback()) {
        params.crashCallback = crashCallback;
        params.crashCallbackTarget = delegate.get();
    }
    params.reportDirectory = mContextStrings[1].constData();
    params.reportIdentifier = mContextStrings[2].constData();
    params.installIdentifier = mContextStrings[3].constData();
    // No token is a null in the metadata, not an empty text.
    params.betaToken = betaToken ? mContextStrings[4].constData() : nullptr;
    params.machExceptionMask = machExceptionMask();
    params.errorReportingEnabled = current.errorReportingEnabled();
    params.customExceptionsEnabled = current.customExceptionsEnabled();
    params.maxCustomExceptions = current.maxCustomExceptions();
    params.errorLogBufferSize = current.errorLogBufferSize();
    params.logBufferSize = current.logBufferSize();
    params.maxCustomKeys = current.maxCustomKeys();
    if (!BBXContextInitialize(&params))
        return false;
    setupStateNotifications();
    return true;
}

void BBXCrashReportingController::crashReportingSetupCompleted(double mark)
{
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    MainQueue::postAfter(2.0, [weak] {
        auto self = weak.lock();
        if (!self)
            return;
        BBXExceptionCheckHandlers();
        BBXSignalCheckHandlers();
        auto delegate = self->mDelegate.lock();
        if (self->settings().userPromptEnabled() &&
            !(delegate && delegate->reportingControllerMustInformDelegateOfReports()))
            Log::warning(
                QStringLiteral("[Blackbox:Crash] WARNING: the user prompt feature is enabled. As of Blackbox "
                               "3.0.0, implementing a "
                               "user prompt is the application's responsibility. See Blackbox's notes about "
                               "-blackboxDidDetectReportForLastExecution:completionHandler:"));
    });
    MainQueue::post([weak, mark] {
        auto self = weak.lock();
        if (!self)
            return;
        self->mFileManager->removeItemAtPath(self->mFileManager->launchMarkerPath());
        BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.first-run-loop-time"),
                                             milliseconds(mark));
    });
}

void BBXCrashReportingController::setupStateNotifications()
{
    BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.in-background"), QStringLiteral("0"));
    NotificationCenter& center = NotificationCenter::defaultCenter();
    center.addObserver(QStringLiteral("NSApplicationWillBecomeActiveNotification"), nullptr,
                       [](const NotificationCenter::Notification&) {
                           BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.in-background"),
                                                                QStringLiteral("0"));
                       });
    center.addObserver(QStringLiteral("NSApplicationDidResignActiveNotification"), nullptr,
                       [](const NotificationCenter::Notification&) {
                           BBXUserLoggingRecordInternalKeyValue(QStringLiteral("com.blackbox.in-background"),
                                                                QStringLiteral("1"));
                       });
}

bool BBXCrashReportingController::needsToPrompt()
{
    const std::int64_t choice = mPromptChoice.load();
    if (choice == PromptChoiceSend || choice == PromptChoiceAlwaysSend)
        return false;
    return settings().userPromptEnabled();
}

bool BBXCrashReportingController::canProcessUrgentReports()
{
    auto delegate = mDelegate.lock();
    return settings().canProcessUrgentReports() && !needsToPrompt() &&
           !(delegate && delegate->reportingControllerMustInformDelegateOfReports());
}

void BBXCrashReportingController::processExistingReportPaths(const QStringList& paths, bool urgent)
{
    for (const QString& path : paths)
        processExistingActiveReportPath(path, urgent);
}

void BBXCrashReportingController::processExistingActiveReportPath(const QString& path, bool urgent)
{
    std::shared_ptr<BBXInternalReport> report = BBXInternalReport::reportWithPath(path);
    if (!report || !report->needsToBeSubmitted()) {
        // A directory a crash left without metadata, or with nothing to send.
        Log::info(
            QStringLiteral("[Blackbox:Crash] Removing report without anything to submit at %1").arg(path));
        std::shared_ptr<BBXFileManager> fileManager = mFileManager;
        mQueue->addOperationWithBlock([fileManager, path] { fileManager->removeItemAtPath(path); });
        return;
    }
    auto delegate = mDelegate.lock();
    if (delegate)
        delegate->reportingControllerInternalDidDetectReportForLastExecution(report);
    if (urgent && canProcessUrgentReports()) {
        // Sent here and now, before start returns: a step of the start, not a completion.
        reportsController()->prepareAndSubmitReport(report, true, true);
        return;
    }
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    // The decision only queues work on the work queue: it needs no main loop.
    BBXCrashReportingControllerDelegate::SubmitHandler handler(
        CompletionQueue::global(), [weak, report](bool submit) {
            if (auto self = weak.lock())
                self->handleDelegateCompletionForReport(report, submit);
        });
    if (delegate)
        delegate->reportingControllerDidDetectReportForLastExecution(report, std::move(handler));
    else
        handler(true);
}

void BBXCrashReportingController::handleDelegateCompletionForReport(
    const std::shared_ptr<BBXInternalReport>& report, bool submit)
{
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    mQueue->addOperationWithBlock([weak, report, submit] {
        auto self = weak.lock();
        if (!self)
            return;
        if (!submit) {
            if (controllerDebug())
                Log::info(QStringLiteral("[Blackbox:Crash] Removing report at request of delegate"));
            self->removeReport(report);
            return;
        }
        if (self->needsToPrompt())
            self->displayPermissionAlertForReport(report);
        else
            self->reportsController()->prepareAndSubmitReport(report, false, true);
    });
}

void BBXCrashReportingController::displayPermissionAlertForReport(
    const std::shared_ptr<BBXInternalReport>& report)
{
    const BBXSettings current = settings();
    const QString title = current.interactivePromptTitle();
    const QString message = current.interactivePromptMessage();
    const QString cancel = current.interactivePromptCancelTitle();
    const QString send = current.interactivePromptSendTitle();
    const QString always = current.interactivePromptAlwaysSendTitle();
    if (controllerDebug())
        Log::info(QStringLiteral("[Blackbox:Crash] Displaying permission alert"));
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    MainQueue::post([weak, report, title, message, cancel, send, always] {
        auto self = weak.lock();
        if (!self)
            return;
        const std::int64_t choice = self->mPromptChoice.load();
        if (choice == PromptChoiceSend || choice == PromptChoiceAlwaysSend) {
            self->handlePromptCompleteForReport(report, true, false);
            return;
        }
        if (choice == PromptChoiceDontSend) {
            self->handlePromptCompleteForReport(report, false, false);
            return;
        }
        QStringList buttons{send};
        if (!always.isNull())
            buttons.append(always);
        buttons.append(cancel);
        const int answer = AlertPresenter::present(title, message, buttons);
        if (answer == AlertPresenter::Unanswered) {
            // The application quit while the alert showed: that is no answer. The report stays
            // where it is, and the next launch asks again.
            if (controllerDebug())
                Log::info(QStringLiteral("[Blackbox:Crash] Permission alert ended unanswered"));
            return;
        }
        bool submit = true;
        bool alwaysSend = false;
        if (buttons.size() == 3) {
            submit = answer != 1002;
            alwaysSend = answer == 1001;
        } else {
            submit = answer != 1001;
        }
        self->handlePromptCompleteForReport(report, submit, alwaysSend);
    });
}

void BBXCrashReportingController::handlePromptCompleteForReport(
    const std::shared_ptr<BBXInternalReport>& report, bool submit, bool always)
{
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    mQueue->addOperationWithBlock([weak, report, submit, always] {
        auto self = weak.lock();
        if (!self)
            return;
        if (!submit) {
            self->mPromptChoice.store(PromptChoiceDontSend);
            if (controllerDebug())
                Log::info(QStringLiteral("[Blackbox:Crash] Removing report at request of user"));
            self->removeReport(report);
            return;
        }
        self->reportsController()->prepareAndSubmitReport(report, false, true);
        if (always) {
            self->mPromptChoice.store(PromptChoiceAlwaysSend);
            Log::info(QStringLiteral("should set always submit here"));
        } else {
            self->mPromptChoice.store(PromptChoiceSend);
        }
    });
}

void BBXCrashReportingController::removeReport(const std::shared_ptr<BBXInternalReport>& report)
{
    if (report)
        mFileManager->removeItemAtPath(report->path());
}

void BBXCrashReportingController::handleContentsInOtherReportingDirectories(const QStringList& taken)
{
    // Listed on the work queue, behind the operations this start queued for the earlier
    // reports: the lists then show what those operations left, never a report one of them
    // has packaged and removed meanwhile. What this start took up itself (a report its
    // packaging left in processing, a package whose upload is under way or waits for its
    // retry) is left to the road that took it.
    QSet<QString> takenNames;
    for (const QString& path : taken)
        takenNames.insert(QFileInfo(path).fileName());
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    mQueue->addOperationWithBlock([weak, takenNames] {
        auto self = weak.lock();
        if (!self)
            return;
        self->removeStalePartialPackages();
        self->reportsController()->keepWaitingReportsWithinLimit();
        for (const QString& path : self->mFileManager->processingPathContents()) {
            if (takenNames.contains(QFileInfo(path).fileName()))
                continue;
            if (std::shared_ptr<BBXInternalReport> report = BBXInternalReport::reportWithPath(path)) {
                self->reportsController()->prepareAndSubmitReport(report, false, false);
            } else {
                Log::info(QStringLiteral("[Blackbox:Crash] Removing unreadable report at %1").arg(path));
                self->mFileManager->removeItemAtPath(path);
            }
        }
        const QStringList prepared = self->mFileManager->preparedPathContents();
        // The uploads are started on the work queue.
        self->mClient->attemptToReconnectBackgroundSessionWithCompletionBlock(
            Completion<>(CompletionQueue::global(), [weak, prepared] {
                runOnWorkQueueWhileAlive(weak, [prepared](BBXCrashReportingController& onQueue) {
                    for (const QString& path : prepared) {
                        if (QFileInfo::exists(path) && !onQueue.mClient->isUploading(path) &&
                            !onQueue.awaitsRetry(path))
                            onQueue.reportsController()->uploadPackagedReportAtPath(path, false);
                    }
                });
            }));
    });
}

void BBXCrashReportingController::runOnWorkQueueWhileAlive(
    const std::weak_ptr<BBXCrashReportingController>& weak,
    std::function<void(BBXCrashReportingController&)> work)
{
    const auto self = weak.lock();
    if (!self)
        return;
    self->mQueue->addOperationWithBlock([weak, work = std::move(work)] {
        if (const auto onQueue = weak.lock())
            work(*onQueue);
    });
}

bool BBXCrashReportingController::awaitsRetry(const QString& path) const
{
    std::lock_guard lock(mRetryMutex);
    return mAwaitingRetry.contains(path);
}

void BBXCrashReportingController::removeStalePartialPackages()
{
    // A run killed while packaging leaves its hidden partial package; the report itself is
    // still in processing and is packaged again.
    const QDir prepared(mFileManager->preparedPath());
    const QStringList partial = prepared.entryList(QStringList{QStringLiteral(".*.multipartmime.partial")},
                                                   QDir::Files | QDir::Hidden);
    for (const QString& name : partial)
        mFileManager->removeItemAtPath(prepared.filePath(name));
}

BBXSettings BBXCrashReportingController::settingsForReportsController(BBXReportsController&)
{
    return settings();
}

QString BBXCrashReportingController::APIKeyForReportsController(BBXReportsController&)
{
    auto delegate = mDelegate.lock();
    return delegate ? delegate->APIKeyForCrashReportingController() : QString();
}

QString BBXCrashReportingController::bundleIdentifierForReportsController(BBXReportsController&)
{
    return LOMEscapedBundleIdentifier();
}

void BBXCrashReportingController::reportsControllerDidCompletePackageSubmission(BBXReportsController&,
                                                                                const QString& path,
                                                                                const Error& error)
{
    if (!error) {
        if (controllerDebug())
            Log::info(QStringLiteral("[Blackbox:Crash] report submission successful"));
        return;
    }
    if (controllerDebug())
        Log::info(
            QStringLiteral("[Blackbox:Crash] report submission failed with error %1").arg(error.toString()));
    Log::warning(QStringLiteral("Error: failed to submit report '%1'").arg(error.toString()));
    {
        std::lock_guard lock(mRetryMutex);
        mAwaitingRetry.insert(path);
    }
    std::weak_ptr<BBXCrashReportingController> weak = weak_from_this();
    MainQueue::postAfter(RetryDelaySeconds, [weak, path] {
        runOnWorkQueueWhileAlive(weak, [path](BBXCrashReportingController& onQueue) {
            {
                std::lock_guard lock(onQueue.mRetryMutex);
                onQueue.mAwaitingRetry.remove(path);
            }
            if (controllerDebug())
                Log::info(QStringLiteral("[Blackbox:Crash] re-attempting report submission"));
            onQueue.reportsController()->uploadPackagedReportAtPath(path, false);
        });
    });
}

bool BBXCrashReportingController::networkClientCanUseBackgroundSessions(BBXNetworkClient&)
{
    auto delegate = mDelegate.lock();
    return delegate && delegate->reportingControllerCanUseBackgroundSessions();
}

void BBXCrashReportingController::networkClientDidFinishUploadWithPath(BBXNetworkClient&, const QString& path,
                                                                       const Error& error)
{
    reportsController()->reportUploadAtPathCompletedWithError(path, error);
}

} // namespace corvex
