#include "tallykit/TLYTallyController.h"

#include "kit/core/LOMSettingsOnboardingManager.h"
#include "kit/core/Loom.h"
#include "kit/net/LOMNetworkResponseHandler.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/BlockOperation.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/Paths.h"
#include "platform/net/UrlError.h"
#include "tallykit/TLYActivity.h"
#include "tallykit/TLYEvent.h"
#include "tallykit/TLYFileOperations.h"
#include "tallykit/TLYLogger.h"
#include "tallykit/TLYSettings.h"
#include "tallykit/TLYTimer.h"

namespace corvex {

namespace {

constexpr quint64 RecordOptions = 0xC000;
constexpr quint64 RotateOptions = 0xC0FF;

void tallyLog(const QString& message)
{
    TLYLogger::sharedLogger().log(message);
}

bool hasFramingCharacter(const QString& name)
{
    return name.contains(u'\t') || name.contains(u'\r') || name.contains(u'\n');
}

} // namespace

const QString TLYTallyController::EventQueueName = QStringLiteral("io.tally.EventQueue");

const QStringList& TLYTallyController::lifecycleNotificationNames()
{
    static const QStringList names = {QStringLiteral("NSApplicationWillTerminateNotification"),
                                      QStringLiteral("NSApplicationWillResignActiveNotification"),
                                      QStringLiteral("NSApplicationDidBecomeActiveNotification")};
    return names;
}

QString TLYTallyController::rootDirectory()
{
    return Paths::caches() + QStringLiteral("/com.blackbox.data/") + LOMEscapedBundleIdentifier() +
           QStringLiteral("/analytics/v2");
}

QString TLYTallyController::eventDirectoryForRootDirectory(const QString& root)
{
    return root + QStringLiteral("/events");
}

QString TLYTallyController::crashMetadataPathForRootDirectory(const QString& root)
{
    return root + QStringLiteral("/crash_metadata");
}

TLYTallyController::TLYTallyController(Loom& loom, QString rootDirectory, Options options)
    : mLoom(loom), mRoot(std::move(rootDirectory)), mOptions(std::move(options)),
      mEventQueue(std::make_shared<OperationQueue>(EventQueueName))
{
    mEventQueue->setMaxConcurrentOperationCount(1);
}

TLYTallyController::~TLYTallyController() = default;

std::shared_ptr<TLYTallyController> TLYTallyController::create(const std::optional<QString>& betaToken,
                                                               Loom& loom, const QString& rootDirectory,
                                                               Options options)
{
    std::shared_ptr<TLYTallyController> controller(
        new TLYTallyController(loom, rootDirectory, std::move(options)));
    controller->startUp(betaToken);
    return controller;
}

void TLYTallyController::startUp(const std::optional<QString>& betaToken)
{
    std::shared_ptr<TLYTallyController> self = shared_from_this();
    mEventQueue->addOperationWithBlock([self, betaToken] {
        self->mRootEventDirectory = eventDirectoryForRootDirectory(self->mRoot);
        const Status made = Paths::makePrivatePath(self->mRootEventDirectory);
        if (!made.ok())
            Log::warning(QStringLiteral("[Tally] Unable to make %1: %2")
                             .arg(self->mRootEventDirectory, made.error().localizedDescription()));
        self->mCurrentLogURL = self->generateNewLogPath();
        self->mSettings = std::make_shared<TLYSettings>();
        self->mMetadata = std::make_shared<TLYMetadata>(self->mLoom, betaToken);
        TLYRotateCrashMetadataOperation rotate(crashMetadataPathForRootDirectory(self->mRoot),
                                               *self->mMetadata);
        rotate.main();
        self->mPreviousExecutionMetadata = rotate.crashMetadata();
        self->mEventFilter = std::make_shared<TLYEventFilter>();
        Loom* loom = &self->mLoom;
        self->mNetworkRetryHandler = std::make_shared<TLYNetworkRetryHandler>(
            [loom] { return loom->debug(); }, self->mOptions.pinnedCertificates);
        self->mUploader = TLYUploader::create(self->mEventQueue, self);
        if (self->mOptions.sessionConfiguration)
            self->mUploader->setSessionConfiguration(self->mOptions.sessionConfiguration);
        self->cleanupAndProcessExistingFiles();
    });

    // Observers tied to this controller: they go with it.
    std::weak_ptr<void> target = self;
    std::weak_ptr<TLYTallyController> weak = self;
    for (const QString& name : lifecycleNotificationNames()) {
        NotificationCenter::defaultCenter().addObserver(
            name, target, nullptr, [weak](const NotificationCenter::Notification& note) {
                if (auto controller = weak.lock())
                    controller->applicationLifecycleEvent(note.name);
            });
    }
    NotificationCenter::defaultCenter().addObserver(
        LOMSettingsOnboardingManager::SettingsAvailableNotification, target, nullptr,
        [weak](const NotificationCenter::Notification&) {
            if (auto controller = weak.lock())
                controller->loomSettingsDidBecomeAvailable();
        });
    if (mLoom.isFirstInstall())
        enqueueEvent(TLYLifecycleEvent::installEvent());
    enqueueEvent(TLYLifecycleEvent::appLaunchedEvent());
    initializeSettingsIfNeededWithLoomSettings(mLoom.settings());
    mLoom.setAdvertisingToken(TLYMetadata::identifierForAdvertising().value_or(QString()));
}

void TLYTallyController::setWriteObserver(WriteObserver observer)
{
    std::lock_guard lock(mObserverMutex);
    mWriteObserver = std::move(observer);
}

QString TLYTallyController::rootEventDirectory() const
{
    return eventDirectoryForRootDirectory(mRoot);
}

void TLYTallyController::waitUntilIdle()
{
    mEventQueue->waitUntilAllOperationsAreFinished();
}

void TLYTallyController::logEvent(std::shared_ptr<TLYEvent> event)
{
    if (!event)
        return;
    tallyLog(QStringLiteral("Logging Tally event: %1").arg(event->description()));
    enqueueEvent(std::move(event));
}

void TLYTallyController::addOperations(const std::vector<std::shared_ptr<Operation>>& operations)
{
    for (const std::shared_ptr<Operation>& operation : operations)
        mEventQueue->addOperation(operation);
}

void TLYTallyController::enqueueEvent(std::shared_ptr<TLYEvent> event)
{
    if (!event)
        return;
    // A tab or line break in the name would break the framing of every later log line.
    if (hasFramingCharacter(event->name())) {
        Log::warning(QStringLiteral("[Tally] Refusing an event whose name holds a tab or line break: %1")
                         .arg(event->identifier()));
        return;
    }
    if (auto* custom = dynamic_cast<TLYCustomEvent*>(event.get());
        custom != nullptr &&
        (!custom->customEventName() || hasFramingCharacter(*custom->customEventName()))) {
        Log::warning(QStringLiteral("[Tally] Refusing a custom event without a name or with a tab or line "
                                    "break in it: %1")
                         .arg(event->identifier()));
        return;
    }
    auto activity = TLYActivityOperation::operationByStartingActivityName(
        QStringLiteral("io.tally.RecordEvent"), RecordOptions);
    std::shared_ptr<TLYTallyController> self = shared_from_this();
    std::weak_ptr<TLYActivityOperation> weakActivity = activity;
    auto record = std::make_shared<BlockOperation>([self, event, weakActivity] {
        if (!self->shouldLogEvent())
            return;
        if (self->mEventFilter->shouldDiscardEvent(event.get(), self->mMetadata->betaToken,
                                                   self->mMetadata->installationId,
                                                   self->mSettings->samplingRate())) {
            tallyLog(
                QStringLiteral("Application is enabled for sampling, skipping %1").arg(event->description()));
            return;
        }
        std::shared_ptr<Operation> write = self->writeOperation(event, self->mMetadata);
        if (auto activityOperation = weakActivity.lock())
            activityOperation->addDependency(write);
        self->mEventQueue->addOperation(write);
        if (self->shouldSubmitLogAtURL(self->mCurrentLogURL) || event->triggersFlush())
            self->rotateAndSubmitCurrentLog();
    });
    activity->addDependency(record);
    mEventQueue->addOperation(record);
    mEventQueue->addOperation(activity);
}

std::shared_ptr<Operation>
TLYTallyController::writeOperation(const std::shared_ptr<TLYEvent>& event,
                                   std::shared_ptr<const TLYMetadataSerializable> metadata)
{
    auto write = std::make_shared<TLYWriteEventOperation>(event, std::move(metadata), mCurrentLogURL);
    std::weak_ptr<TLYTallyController> weak = weak_from_this();
    TLYWriteEventOperation* raw = write.get();
    write->setCompletionBlock([weak, raw] {
        std::shared_ptr<TLYTallyController> self = weak.lock();
        if (!self)
            return;
        WriteObserver observer;
        {
            std::lock_guard lock(self->mObserverMutex);
            observer = self->mWriteObserver;
        }
        if (observer && raw->event())
            observer(*raw->event(), raw->success());
    });
    return write;
}

void TLYTallyController::logCrashEvent(std::shared_ptr<TLYCrashEvent> event)
{
    if (!event)
        return;
    auto activity = TLYActivityOperation::operationByStartingActivityName(
        QStringLiteral("io.tally.RecordCrashEvent"), RecordOptions);
    std::shared_ptr<TLYTallyController> self = shared_from_this();
    std::weak_ptr<TLYActivityOperation> weakActivity = activity;
    auto record = std::make_shared<BlockOperation>([self, event, weakActivity] {
        tallyLog(QStringLiteral("Attempting to log %1").arg(event->name()));
        if (!self->shouldLogEvent())
            return;
        if (self->mEventFilter->shouldDiscardEvent(event.get(), self->mMetadata->betaToken,
                                                   self->mMetadata->installationId,
                                                   self->mSettings->samplingRate())) {
            tallyLog(
                QStringLiteral("Application is enabled for sampling, skipping %1").arg(event->description()));
            return;
        }
        if (TLYFileUtils::fileExists(self->mCurrentLogURL))
            self->rotateAndSubmitCurrentLog();
        std::shared_ptr<Operation> write = self->writeOperation(event, self->mPreviousExecutionMetadata);
        if (auto activityOperation = weakActivity.lock())
            activityOperation->addDependency(write);
        self->mEventQueue->addOperation(write);
        self->rotateAndSubmitCurrentLog();
    });
    activity->addDependency(record);
    mEventQueue->addOperation(record);
    mEventQueue->addOperation(activity);
}

void TLYTallyController::applicationLifecycleEvent(const QString& notificationName)
{
    enqueueEvent(TLYLifecycleEvent::eventWithNotification(notificationName));
}

void TLYTallyController::loomSettingsDidBecomeAvailable()
{
    initializeSettingsIfNeededWithLoomSettings(mLoom.settings());
}

void TLYTallyController::initializeSettingsIfNeededWithLoomSettings(const Value& loomSettings)
{
    std::shared_ptr<TLYTallyController> self = shared_from_this();
    mEventQueue->addOperationWithBlock([self, loomSettings] {
        if (loomSettings.isNull() || self->mSettings->valid())
            return;
        self->mSettings = std::make_shared<TLYSettings>(loomSettings);
        if (self->mSettings->shouldCollectAnalytics()) {
            tallyLog(QStringLiteral("Tally enabled with settings: %1")
                         .arg(QString::fromUtf8(
                             JsonText::serialize(loomSettings.value(QStringLiteral("analytics"))))));
            tallyLog(QStringLiteral("Logging events to %1").arg(self->mRootEventDirectory));
            self->setupFlushTimer();
            self->mUploader->setDefaultUploadTimeout(self->mSettings->defaultUploadTimeout());
            self->mUploader->setLowPowerUploadTimeout(self->mSettings->lowPowerUploadTimeout());
            self->uploadAllMultipartFiles();
        } else {
            tallyLog(QStringLiteral("Tally is disabled. Cleaning up."));
            self->removeAllLogs();
        }
    });
}

bool TLYTallyController::shouldLogEvent() const
{
    if (!mSettings)
        return false;
    if (!mSettings->valid())
        return true;
    return mSettings->shouldCollectAnalytics();
}

bool TLYTallyController::shouldSubmitLogAtURL(const QString& path) const
{
    return TLYFileUtils::fileSizeAtURL(path) > mSettings->maximumPayloadSize();
}

QString TLYTallyController::generateNewLogPath() const
{
    return mRootEventDirectory + u'/' + LOMCreateUUIDString() + QStringLiteral(".log");
}

QString TLYTallyController::multipartMimeURLWithBoundary(const QString& boundary) const
{
    return mRootEventDirectory + u'/' + boundary + QStringLiteral(".multipartmime");
}

void TLYTallyController::rotateAndSubmitCurrentLog()
{
    auto activity = TLYActivityOperation::operationByStartingActivityName(
        QStringLiteral("io.tally.RotateAndSubmit"), RotateOptions);
    const QString log = std::exchange(mCurrentLogURL, generateNewLogPath());
    const std::vector<std::shared_ptr<Operation>> operations = operationsForUncompressedLog(log);
    for (const std::shared_ptr<Operation>& operation : operations)
        activity->addDependency(operation);
    addOperations(operations);
    mEventQueue->addOperation(activity);
}

std::vector<std::shared_ptr<Operation>> TLYTallyController::operationsForUncompressedLog(const QString& log)
{
    const QString extension = TLYFileUtils::pathExtension(log);
    if (extension != QLatin1String("log"))
        tallyLog(QStringLiteral("Error: attempted to submit file with invalid extension %1, should be %2")
                     .arg(extension, QStringLiteral("log")));
    const QString compressed = TLYCompressLogOperation::compressedURLForUncompressedURL(log);
    // The log's own name is its package's boundary (see the class comment).
    const QString boundary = TLYFileUtils::baseName(log);
    const QString package = multipartMimeURLWithBoundary(boundary);
    auto compress = std::make_shared<TLYCompressLogOperation>(log, compressed);
    TLYCompressLogOperation* compressRaw = compress.get();
    compress->setCompletionBlock([compressRaw, log] {
        if (compressRaw->success())
            TLYFileUtils::removeFile(log, QStringLiteral("CompressOperation"));
    });
    std::vector<std::shared_ptr<Operation>> operations = operationsForCompressedLog(compressed);
    operations.front()->addDependency(compress);
    operations.insert(operations.begin(), compress);
    Q_UNUSED(package);
    return operations;
}

std::vector<std::shared_ptr<Operation>>
TLYTallyController::operationsForCompressedLog(const QString& compressed)
{
    const QString extension = TLYFileUtils::pathExtension(compressed);
    if (extension != QLatin1String("gz"))
        tallyLog(QStringLiteral("Error: attempted to submit file with invalid extension %1, should be %2")
                     .arg(extension, QStringLiteral("gz")));
    const QString boundary = TLYFileUtils::baseName(compressed);
    const QString packageURL = multipartMimeURLWithBoundary(boundary);
    auto package = std::make_shared<TLYPackageLogOperation>(compressed, packageURL, boundary,
                                                            mSettings->maxPendingSendFiles());
    TLYPackageLogOperation* packageRaw = package.get();
    package->setCompletionBlock([packageRaw, compressed] {
        if (packageRaw->success())
            TLYFileUtils::removeFile(compressed, QStringLiteral("PackageOperation"));
    });
    std::shared_ptr<Operation> upload = uploadOperationForFileAtURL(packageURL, boundary);
    upload->addDependency(package);
    return {package, upload};
}

std::shared_ptr<Operation> TLYTallyController::uploadOperationForFileAtURL(const QString& package,
                                                                           const QString& boundary)
{
    auto upload = std::make_shared<TLYUploadOperation>(mUploader, mSettings->tallyURL(), mMetadata->APIKey,
                                                       package, boundary);
    // Until settings arrive nothing is sent: the package waits on disk.
    if (!mSettings->valid()) {
        upload->cancel();
        return upload;
    }
    std::lock_guard lock(mUploadsMutex);
    mUploadingPackages.insert(TLYFileUtils::baseName(package));
    return upload;
}

void TLYTallyController::cleanupAndProcessExistingFiles()
{
    auto cleanup =
        std::make_shared<TLYCleanupFilesOperation>(mRootEventDirectory, mSettings->maxPendingSendFiles());
    std::weak_ptr<TLYTallyController> weak = weak_from_this();
    cleanup->setSuccessBlock(
        [weak](const QStringList& logs, const QStringList& compressed, const QStringList& packages) {
            std::shared_ptr<TLYTallyController> self = weak.lock();
            if (!self)
                return;
            for (const QString& log : logs)
                self->addOperations(self->operationsForUncompressedLog(log));
            for (const QString& gz : compressed)
                self->addOperations(self->operationsForCompressedLog(gz));
            self->mUploader->attemptToReconnectBackgroundSessionWithCompletionBlock(
                Completion<>(CompletionQueue::global(), [weak, packages] {
                    if (std::shared_ptr<TLYTallyController> controller = weak.lock())
                        controller->uploadMultipartFiles(packages);
                }));
        });
    mEventQueue->addOperation(cleanup);
}

void TLYTallyController::uploadAllMultipartFiles()
{
    uploadMultipartFiles(
        TLYFileUtils::filesWithExtension(QStringLiteral("multipartmime"), mRootEventDirectory));
}

void TLYTallyController::uploadMultipartFiles(const QStringList& packages)
{
    for (const QString& package : packages) {
        // The start-up's leftovers and the settings' arrival both name the packages waiting
        // then; whichever comes second must not send one again before its first upload ends.
        {
            std::lock_guard lock(mUploadsMutex);
            if (mUploadingPackages.contains(TLYFileUtils::baseName(package)))
                continue;
        }
        const QString boundary = TLYFileUtils::pathExtension(package) == QLatin1String("multipartmime")
                                     ? TLYFileUtils::baseName(package)
                                     : QString();
        mEventQueue->addOperation(uploadOperationForFileAtURL(package, boundary));
    }
}

void TLYTallyController::removeAllLogs()
{
    for (const QString& file : TLYFileUtils::allFilesInDirectory(mRootEventDirectory))
        TLYFileUtils::removeFile(file, QStringLiteral("Controller"));
}

void TLYTallyController::checkOnEventQueue(const char* method) const
{
    OperationQueue* current = OperationQueue::currentQueue();
    if (current != mEventQueue.get())
        tallyLog(QStringLiteral("queuing bug in %1: %2 != %3")
                     .arg(QLatin1String(method), mEventQueue->name(),
                          current ? current->name() : QStringLiteral("(null)")));
}

void TLYTallyController::setupFlushTimer()
{
    checkOnEventQueue("-[TLYTallyController setupFlushTimer]");
    const double interval = mSettings->flushInterval();
    if (!(interval > 0.0)) {
        mFlushTimer.reset();
        return;
    }
    std::weak_ptr<TLYTallyController> weak = weak_from_this();
    mFlushTimer = std::make_unique<TLYTimer>(interval, mEventQueue,
                                             QStringLiteral("io.tally.TimedEventsFlush"), [weak] {
                                                 if (std::shared_ptr<TLYTallyController> self = weak.lock())
                                                     self->flushTimerFired();
                                             });
}

void TLYTallyController::flushTimerFired()
{
    checkOnEventQueue("-[TLYTallyController flushTimerFired]");
    if (!(mSettings->flushInterval() > 0.0)) {
        mFlushTimer.reset();
        return;
    }
    if (shouldSubmitLogAtURL(mCurrentLogURL))
        rotateAndSubmitCurrentLog();
}

QString TLYTallyController::uploaderFilePathForUniqueName(TLYUploader&, const QString& uniqueName)
{
    return multipartMimeURLWithBoundary(uniqueName);
}

bool TLYTallyController::isTransientUploadError(const Error& error)
{
    if (error.isNull())
        return false;
    if (error.domain() == UrlError::Domain)
        return true;
    return error.domain() == LOMNetworkResponseHandler::ErrorDomain &&
           (error.code() == LOMNetworkResponseHandler::RetryableResponse ||
            error.code() == LOMNetworkResponseHandler::RetryLimitReached ||
            error.code() == TLYNetworkRetryHandler::NoTimer);
}

void TLYTallyController::uploaderDidFinishUpload(TLYUploader&, const QString& uniqueName, const Error& error)
{
    if (!error.isNull())
        tallyLog(QStringLiteral("Failed to upload '%1': %2").arg(uniqueName, error.localizedDescription()));
    tallyLog(QStringLiteral("Finished transmission of '%1'.").arg(uniqueName));
    {
        std::lock_guard lock(mUploadsMutex);
        mUploadingPackages.remove(uniqueName);
    }
    if (isTransientUploadError(error)) {
        Log::warning(QStringLiteral("[Tally] Keeping '%1' for a later start: %2")
                         .arg(uniqueName, error.localizedDescription()));
        return;
    }
    TLYFileUtils::removeFile(multipartMimeURLWithBoundary(uniqueName), QStringLiteral("Controller"));
}

void TLYTallyController::uploaderCompletedRequest(TLYUploader&, const HttpRequest& request,
                                                  const std::optional<HttpResponse>& response,
                                                  const QString& uniqueName, const Error& error,
                                                  RetryHandler handler)
{
    mNetworkRetryHandler->handleCompletedRequest(
        request, response, uniqueName, error, TLYNetworkRetryHandler::DefaultMaximumRetries,
        RetryHandler(CompletionQueue::global(), [uniqueName, error, handler = std::move(handler)](
                                                    bool retry, const Error& outcome) mutable {
            if (!error.isNull())
                tallyLog(QStringLiteral("Error transmitting '%1': %2")
                             .arg(uniqueName, error.localizedDescription()));
            if (retry)
                tallyLog(QStringLiteral("Scheduling retry for '%1'.").arg(uniqueName));
            handler(retry, outcome);
        }));
}

std::optional<TrustDisposition> TLYTallyController::uploaderDidReceiveChallenge(const ServerTrust& trust)
{
    if (!mNetworkRetryHandler)
        return std::nullopt;
    return mNetworkRetryHandler->handleChallenge(trust);
}

} // namespace corvex
