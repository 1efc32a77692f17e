#include "tallykit/TLYUploader.h"

#include "kit/net/LOMCertificatePinner.h"
#include "kit/net/LOMMultipartMimeStreamEncoder.h"
#include "kit/net/LOMNetworkClient.h"
#include "kit/net/LOMNetworkResponseHandler.h"
#include "kit/urlsession/BBXURLSession.h"
#include "platform/core/CalendarClock.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/RegularFile.h"
#include "platform/net/UrlError.h"
#include "tallykit/TLYActivity.h"
#include "tallykit/TLYFileOperations.h"
#include "tallykit/TLYLogger.h"

#include <cmath>
#include <limits>

namespace corvex {

TLYUploaderDelegate::~TLYUploaderDelegate() = default;

const QString TLYUploader::UniqueNameKey = QStringLiteral("TLYUploaderUniqueName");

std::shared_ptr<TLYUploader> TLYUploader::create(std::shared_ptr<OperationQueue> queue,
                                                 std::weak_ptr<TLYUploaderDelegate> delegate)
{
    std::shared_ptr<TLYUploader> uploader(new TLYUploader);
    uploader->mQueue = std::move(queue);
    uploader->mDelegate = std::move(delegate);
    return uploader;
}

bool TLYUploader::supportsBackgroundRequests()
{
    if (TLYApplication::hostApplication().isExtension())
        return false;
    return shouldUseBackgroundRequests();
}

void TLYUploader::setSessionConfiguration(std::shared_ptr<BBXURLSessionConfiguration> configuration)
{
    std::lock_guard lock(mMutex);
    mConfiguration = std::move(configuration);
    mSession.reset();
}

std::shared_ptr<BBXURLSession> TLYUploader::session()
{
    std::lock_guard lock(mMutex);
    if (mSession)
        return mSession;
    // No background sessions exist here: always a default session.
    std::shared_ptr<BBXURLSessionConfiguration> configuration =
        mConfiguration ? mConfiguration->copy() : BBXURLSessionConfiguration::defaultSessionConfiguration();
    configuration->allowsCellularAccess = !lowPowerMode();
    configuration->timeoutIntervalForResource =
        lowPowerMode() ? mLowPowerUploadTimeout : mDefaultUploadTimeout;
    auto delegate = std::make_shared<BBXURLSessionDelegate>();
    std::weak_ptr<TLYUploader> weak = weak_from_this();
    delegate->didReceiveChallenge = [weak](BBXURLSession&, const ServerTrust& trust) {
        std::shared_ptr<TLYUploader> self = weak.lock();
        std::shared_ptr<TLYUploaderDelegate> owner = self ? self->mDelegate.lock() : nullptr;
        if (owner) {
            if (std::optional<TrustDisposition> answer = owner->uploaderDidReceiveChallenge(trust))
                return *answer;
        }
        return TrustDisposition::PerformDefaultHandling;
    };
    delegate->didCompleteWithError = [weak](BBXURLSession&, BBXURLSessionTask& task, const Error& error) {
        if (std::shared_ptr<TLYUploader> self = weak.lock())
            self->taskCompleted(task.shared_from_this(), error);
    };
    mSession = BBXURLSession::sessionWithConfiguration(configuration, delegate, mQueue);
    return mSession;
}

void TLYUploader::dropSession()
{
    std::lock_guard lock(mMutex);
    mSession.reset();
}

void TLYUploader::startUploadRequest(const HttpRequest& request, const QString& filePath,
                                     const QString& uniqueName)
{
    std::shared_ptr<BBXURLSession> current;
    {
        std::lock_guard lock(mMutex);
        current = mSession;
    }
    if (!current) {
        startNewUploadRequest(request, filePath, uniqueName);
        return;
    }
    std::shared_ptr<TLYUploader> self = shared_from_this();
    // The list is judged on the operation queue, where all of the uploader's work runs.
    current->getTasksWithCompletionHandler(BBXURLSessionTask::TasksCompletion(
        CompletionQueue::global(),
        [self, request, filePath, uniqueName](std::vector<std::shared_ptr<BBXURLSessionTask>> dataTasks,
                                              std::vector<std::shared_ptr<BBXURLSessionTask>> uploadTasks,
                                              std::vector<std::shared_ptr<BBXURLSessionTask>> downloadTasks) {
            self->mQueue->addOperationWithBlock([self, request, filePath, uniqueName, dataTasks, uploadTasks,
                                                 downloadTasks] {
                for (const auto* tasks : {&uploadTasks, &dataTasks, &downloadTasks}) {
                    for (const std::shared_ptr<BBXURLSessionTask>& task : *tasks) {
                        if (task && !task->isCompleted() && task->taskDescription() == uniqueName) {
                            TLYLogger::sharedLogger().logWithLabel(
                                QStringLiteral("TLYUploader"),
                                QStringLiteral("A task currently exists for '%1', skipping").arg(uniqueName));
                            return;
                        }
                    }
                }
                self->startNewUploadRequest(request, filePath, uniqueName);
            });
        }));
}

void TLYUploader::startNewUploadRequest(const HttpRequest& request, const QString& filePath,
                                        const QString& uniqueName)
{
    auto failure = [&](int code) {
        QVariantMap info;
        info.insert(Error::FilePathKey, filePath.isNull() ? QStringLiteral("(null)") : filePath);
        info.insert(UniqueNameKey, uniqueName.isNull() ? QStringLiteral("(null)") : uniqueName);
        return LOMNetworkResponseHandler::errorForCode(code, info);
    };
    if (request.url.isEmpty() || filePath.isEmpty() || uniqueName.isEmpty()) {
        reportFinished(uniqueName, failure(InvalidArguments));
        return;
    }
    // A package left in the folder is sent only as a regular file: anything else (a named
    // pipe would block the open) is refused as unreadable.
    if (!RegularFile::open(filePath, std::numeric_limits<qint64>::max()).ok()) {
        reportFinished(uniqueName, failure(UnreadableFile));
        return;
    }
    std::shared_ptr<BBXURLSession> current = session();
    std::shared_ptr<BBXURLSessionTask> task =
        current ? current->uploadTaskWithRequest(request, filePath) : nullptr;
    if (!task) {
        reportFinished(uniqueName, failure(UnreadableFile));
        return;
    }
    task->setTaskDescription(uniqueName);
    task->resume();
}

void TLYUploader::reportFinished(const QString& uniqueName, const Error& error)
{
    std::shared_ptr<TLYUploader> self = shared_from_this();
    mQueue->addOperationWithBlock([self, uniqueName, error] {
        if (std::shared_ptr<TLYUploaderDelegate> owner = self->mDelegate.lock())
            owner->uploaderDidFinishUpload(*self, uniqueName, error);
    });
}

void TLYUploader::taskCompleted(const std::shared_ptr<BBXURLSessionTask>& task, const Error& error)
{
    std::shared_ptr<TLYUploaderDelegate> owner = mDelegate.lock();
    if (!owner)
        return;
    const QString uniqueName = task->taskDescription();
    std::weak_ptr<TLYUploader> weak = weak_from_this();
    // The outcome only queues work on the operation queue: it needs no main loop.
    owner->uploaderCompletedRequest(
        *this, task->originalRequest(), task->response(), uniqueName, error,
        TLYUploaderDelegate::RetryHandler(CompletionQueue::global(), [weak, task, uniqueName](
                                                                         bool retry, const Error& outcome) {
            std::shared_ptr<TLYUploader> self = weak.lock();
            if (!self)
                return;
            if (!retry) {
                self->reportFinished(uniqueName, outcome);
                return;
            }
            TLYLogger::sharedLogger().logWithLabel(
                QStringLiteral("TLYUploader"), QStringLiteral("Retrying task with name %1").arg(uniqueName));
            self->restartTask(task);
        }));
}

void TLYUploader::restartTask(const std::shared_ptr<BBXURLSessionTask>& task)
{
    std::shared_ptr<TLYUploader> self = shared_from_this();
    mQueue->addOperationWithBlock([self, task] {
        std::shared_ptr<TLYUploaderDelegate> owner = self->mDelegate.lock();
        if (!owner)
            return;
        const QString uniqueName = task->taskDescription();
        HttpRequest request = task->originalRequest();
        self->startUploadRequest(request, owner->uploaderFilePathForUniqueName(*self, uniqueName),
                                 uniqueName);
    });
}

void TLYUploader::attemptToReconnectBackgroundSessionWithCompletionBlock(Completion<> block)
{
    if (!block)
        return;
    auto pending = std::make_shared<Completion<>>(std::move(block));
    mQueue->addOperationWithBlock([pending] { (*pending)(); });
}

void TLYUploader::setDefaultUploadTimeout(double seconds)
{
    {
        std::lock_guard lock(mMutex);
        if (mDefaultUploadTimeout == seconds)
            return;
        mDefaultUploadTimeout = seconds;
    }
    std::weak_ptr<TLYUploader> weak = weak_from_this();
    mQueue->addOperationWithBlock([weak] {
        if (std::shared_ptr<TLYUploader> self = weak.lock())
            self->dropSession();
    });
}

void TLYUploader::setLowPowerUploadTimeout(double seconds)
{
    {
        std::lock_guard lock(mMutex);
        if (mLowPowerUploadTimeout == seconds)
            return;
        mLowPowerUploadTimeout = seconds;
    }
    std::weak_ptr<TLYUploader> weak = weak_from_this();
    mQueue->addOperationWithBlock([weak] {
        if (std::shared_ptr<TLYUploader> self = weak.lock())
            self->dropSession();
    });
}

double TLYUploader::defaultUploadTimeout() const
{
    std::lock_guard lock(mMutex);
    return mDefaultUploadTimeout;
}

double TLYUploader::lowPowerUploadTimeout() const
{
    std::lock_guard lock(mMutex);
    return mLowPowerUploadTimeout;
}

const QByteArray TLYUploadOperation::DeveloperToken =
    QByteArrayLiteral("5e1c9a07b3d24f68e0a91c7d3b58f2a46c0e9d17");

TLYUploadOperation::TLYUploadOperation(std::shared_ptr<TLYUploader> uploader, QUrl tallyURL, QString apiKey,
                                       QString multipartURL, QString multipartMimeBoundary)
    : mUploader(std::move(uploader)), mTallyURL(std::move(tallyURL)), mApiKey(std::move(apiKey)),
      mMultipartURL(std::move(multipartURL)), mBoundary(std::move(multipartMimeBoundary))
{}

void TLYUploadOperation::main()
{
    if (!mUploader)
        return;
    HttpRequest request;
    request.url = mTallyURL;
    request.method = "POST";
    request.headers.set(
        "Content-Type",
        LOMMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(mBoundary).toUtf8());
    request.headers.set("Content-Length", QByteArray::number(TLYFileUtils::fileSizeAtURL(mMultipartURL)));
    request.headers.set("User-Agent", "Tally Mac SDK/1.3.5");
    request.headers.set("User-Agent", "Tally Mac SDK/1.3.5");
    request.headers.set("X-BLACKBOX-DEVELOPER-TOKEN", DeveloperToken);
    request.headers.set("X-BLACKBOX-API-CLIENT-TYPE", "Tally Mac SDK");
    request.headers.set("X-BLACKBOX-API-CLIENT-VERSION", "28");
    request.headers.set("X-BLACKBOX-API-CLIENT-DISPLAY-VERSION", "1.3.5");
    request.headers.set("X-BLACKBOX-API-CLIENT-BUILD-VERSION", "28");
    request.headers.set("X-BLACKBOX-API-KEY", mApiKey.toUtf8());
    request.headers.set("X-Blackbox-Api-Client-Packaged-Timestamp",
                        QByteArray::number(CalendarClock::now().toSecsSinceEpoch()));
    const QString uniqueName = TLYFileUtils::baseName(mMultipartURL);
    TLYLogger::sharedLogger().log(QStringLiteral("Transmitting packaged events for '%1'.").arg(uniqueName));
    mUploader->startUploadRequest(request, mMultipartURL, uniqueName);
}

TLYBackoffTimer::TLYBackoffTimer(double initialValue, double jitterCoefficient)
    : mInitialValue(initialValue), mJitterCoefficient(jitterCoefficient)
{
    if (!jitterCoefficientIsValid(jitterCoefficient))
        Log::assertionFailure(
            QStringLiteral("Invalid parameter not satisfying: %1")
                .arg(QStringLiteral("[TLYBackoffTimer jitterCoefficientIsValid:jitterCoefficient]")));
}

quint64 TLYBackoffTimer::retryCount() const
{
    std::lock_guard lock(mMutex);
    return mRetryCount;
}

void TLYBackoffTimer::executeBlockAfterNextInterval(UniqueFunction<void()> block)
{
    quint64 count = 0;
    {
        std::lock_guard lock(mMutex);
        count = ++mRetryCount;
    }
    MainQueue::postAfter(computeDelayForInitialValue(mInitialValue, count), std::move(block));
}

double TLYBackoffTimer::computeDelayForInitialValue(double initialValue, quint64 retryCount) const
{
    const double base = std::max(2.0, initialValue);
    const double delay = std::pow(base, double(retryCount == 0 ? 1 : retryCount)) * generateRandomJitter();
    // A large Retry-After raised to a power is no delay anyone waits; nor is infinity.
    if (!std::isfinite(delay) || delay > MaximumDelaySeconds)
        return MaximumDelaySeconds;
    return std::max(0.0, delay);
}

double TLYBackoffTimer::generateRandomJitter() const
{
    const double jitter = jitterCoefficientIsValid(mJitterCoefficient) ? mJitterCoefficient : double(0.1f);
    return LOMNetworkClient::randomDoubleWithMin(1.0 - jitter, 1.0 + jitter);
}

const QString TLYNetworkRetryHandler::IdentifierKey = QStringLiteral("TLYNetworkRetryHandlerIdentifier");

TLYNetworkRetryHandler::TLYNetworkRetryHandler(std::function<bool()> debugSwitch,
                                               std::optional<QList<QByteArray>> pinnedCertificates)
    : mDebug(std::move(debugSwitch)),
      mPinner(std::make_unique<LOMCertificatePinner>(pinnedCertificates.value_or(LOMPinnedCertificates())))
{}

TLYNetworkRetryHandler::~TLYNetworkRetryHandler() = default;

std::shared_ptr<TLYBackoffTimer> TLYNetworkRetryHandler::timerForIdentifier(const QString& identifier,
                                                                            double initialRetryValue)
{
    if (identifier.isEmpty())
        return nullptr;
    std::lock_guard lock(mMutex);
    std::shared_ptr<TLYBackoffTimer>& timer = mRetryTimerMap[identifier];
    if (!timer)
        timer = std::make_shared<TLYBackoffTimer>(initialRetryValue);
    return timer;
}

void TLYNetworkRetryHandler::handleCompletedRequest(const HttpRequest& request,
                                                    const std::optional<HttpResponse>& response,
                                                    const QString& identifier, const Error& error,
                                                    int maxRetries,
                                                    TLYUploaderDelegate::RetryHandler completion)
{
    // Every road answers through the completion, so never inside this call.
    const LOMNetworkResponseHandler::Outcome outcome =
        LOMNetworkResponseHandler::handleCompletedResponse(response, request, error);
    if (!outcome.retry) {
        completion(false, outcome.error);
        return;
    }
    // The retries end with the handler's own code whatever the last attempt met, which its
    // description keeps.
    auto errorWithCode = [&](int code, const QString& ending) {
        QVariantMap info;
        info.insert(IdentifierKey, identifier.isNull() ? QStringLiteral("(null)") : identifier);
        if (!request.url.isEmpty())
            info.insert(UrlError::FailingURLKey, request.url);
        return LOMNetworkResponseHandler::errorEndingRetries(code, info, ending, outcome.error);
    };
    std::shared_ptr<TLYBackoffTimer> timer =
        timerForIdentifier(identifier, LOMNetworkResponseHandler::retryValueForResponse(response));
    if (!timer) {
        completion(false, errorWithCode(NoTimer, QStringLiteral("No retry without an identifier")));
        return;
    }
    if (timer->retryCount() <= quint64(std::max(0, maxRetries))) {
        const Error retryError = outcome.error;
        timer->executeBlockAfterNextInterval(
            [completion = std::move(completion), retryError]() mutable { completion(true, retryError); });
        return;
    }
    completion(false, errorWithCode(LOMNetworkResponseHandler::RetryLimitReached,
                                    QStringLiteral("Gave up after %1 retries").arg(timer->retryCount())));
}

TrustDisposition TLYNetworkRetryHandler::handleChallenge(const ServerTrust& trust) const
{
    if ((mDebug && mDebug()) || !mPinner)
        return TrustDisposition::PerformDefaultHandling;
    TrustDisposition disposition = TrustDisposition::CancelChallenge;
    mPinner->handleChallenge(trust, &disposition);
    return disposition;
}

} // namespace corvex
