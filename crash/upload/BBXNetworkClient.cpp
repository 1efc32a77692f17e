#include "crash/upload/BBXNetworkClient.h"

#include "crash/BBXFileManager.h"
#include "kit/core/Loom.h"
#include "kit/net/LOMCertificatePinner.h"
#include "kit/net/LOMNetworkClient.h"
#include "kit/net/LOMNetworkResponseHandler.h"
#include "platform/core/Log.h"
#include "platform/core/OperationQueue.h"

#include <QFileInfo>
#include <chrono>
#include <condition_variable>

namespace corvex {

const QString BBXNetworkClient::ErrorDomain = QStringLiteral("BBXNetworkError");

BBXNetworkClientDelegate::~BBXNetworkClientDelegate() = default;

std::shared_ptr<BBXNetworkClient> BBXNetworkClient::create(std::shared_ptr<OperationQueue> queue,
                                                           std::shared_ptr<BBXFileManager> fileManager,
                                                           std::weak_ptr<BBXNetworkClientDelegate> delegate)
{
    std::shared_ptr<BBXNetworkClient> client(new BBXNetworkClient());
    client->mQueue = std::move(queue);
    client->mFileManager = std::move(fileManager);
    client->mDelegate = std::move(delegate);
    if (Loom::sharedSDK().debug())
        Log::info(
            QStringLiteral("[Blackbox:Crash:Client] Background session uploading not supported, asynchronous "
                           "uploading will be used"));
    return client;
}

void BBXNetworkClient::setSessionConfiguration(std::shared_ptr<BBXURLSessionConfiguration> configuration)
{
    std::lock_guard lock(mMutex);
    mConfiguration = std::move(configuration);
    mClient.reset();
}

std::shared_ptr<LOMNetworkClient> BBXNetworkClient::client()
{
    std::lock_guard lock(mMutex);
    if (!mClient) {
        mClient = LOMNetworkClient::create(nullptr, LOMPinnedCertificates(), mConfiguration,
                                           [] { return Loom::sharedSDK().debug(); });
        if (!mClient)
            Log::error(QStringLiteral("[Blackbox:Crash:Client] Failed to initialize"));
    }
    return mClient;
}

QString BBXNetworkClient::rootPath() const
{
    return mFileManager ? mFileManager->rootPath() : QString();
}

QString BBXNetworkClient::relativeTaskPathForAbsolutePath(const QString& path) const
{
    const QString prefix = rootPath() + QLatin1Char('/');
    if (!path.startsWith(prefix)) {
        Log::warning(QStringLiteral("Error: path '%1' is not at the root '%2'").arg(path, rootPath()));
        return QString();
    }
    return QString(path).remove(prefix);
}

QString BBXNetworkClient::absolutePathForRelativeTaskPath(const QString& relative) const
{
    return rootPath() + QLatin1Char('/') + relative;
}

bool BBXNetworkClient::isUploading(const QString& path) const
{
    std::lock_guard lock(mMutex);
    return mInFlight.contains(relativeTaskPathForAbsolutePath(path));
}

void BBXNetworkClient::attemptToReconnectBackgroundSessionWithCompletionBlock(Completion<> block)
{
    if (!block)
        return;
    if (!mQueue) {
        block.drop();
        return;
    }
    auto pending = std::make_shared<Completion<>>(std::move(block));
    mQueue->addOperationWithBlock([pending] { (*pending)(); });
}

void BBXNetworkClient::startUploadRequest(const HttpRequest& request, const QString& filePath,
                                          bool immediately)
{
    if (immediately) {
        startImmediateUploadRequest(request, filePath);
        return;
    }
    const QString description = relativeTaskPathForAbsolutePath(filePath);
    {
        std::lock_guard lock(mMutex);
        if (!description.isEmpty() && mInFlight.contains(description)) {
            if (Loom::sharedSDK().debug())
                Log::info(QStringLiteral(
                    "[Blackbox:Crash:Client] A task currently exists for this upload, skipping"));
            return;
        }
        if (!description.isEmpty())
            mInFlight.insert(description);
    }
    startNewUploadRequest(request, filePath);
}

void BBXNetworkClient::startImmediateUploadRequest(const HttpRequest& request, const QString& filePath)
{
    if (!QFileInfo(filePath).isReadable()) {
        Log::warning(QStringLiteral("Error: file unreadable"));
        return;
    }
    std::shared_ptr<LOMNetworkClient> session = client();
    if (!session)
        return;
    HttpRequest upload = request;
    upload.bodySource = HttpRequest::BodySource::File;
    upload.bodyFilePath = filePath;
    struct Wait
    {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool success = false;
    };
    auto wait = std::make_shared<Wait>();
    // This thread (the main thread at start) waits for the answer below: it must come on
    // another thread.
    session->startDataTask(
        upload, 0,
        LOMNetworkClient::DataCompletion(
            CompletionQueue::global(),
            [wait](const std::optional<QByteArray>&, const std::optional<HttpResponse>& response,
                   const Error& error) {
                std::lock_guard lock(wait->mutex);
                wait->success = !error && LOMNetworkResponseHandler::clientResponseType(response).type ==
                                              LOMNetworkResponseHandler::Success;
                wait->finished = true;
                wait->done.notify_all();
            }));
    // The request's own time-out bounds the transfer; the margin covers its completion.
    const double seconds = request.overallTimeout.value_or(10.0) + 1.0;
    std::unique_lock lock(wait->mutex);
    wait->done.wait_for(lock, std::chrono::milliseconds(qint64(seconds * 1000)),
                        [&] { return wait->finished; });
    if (wait->success) {
        lock.unlock();
        if (auto delegate = mDelegate.lock())
            delegate->networkClientDidFinishUploadWithPath(*this, filePath, Error());
    }
}

void BBXNetworkClient::startNewUploadRequest(const HttpRequest& request, const QString& filePath)
{
    std::weak_ptr<BBXNetworkClient> weak = shared_from_this();
    std::shared_ptr<LOMNetworkClient> session = QFileInfo(filePath).isReadable() ? client() : nullptr;
    if (!session) {
        QVariantMap info{{QStringLiteral("path"), filePath}};
        const Error unreadable(ErrorDomain, UnreadableFileCode, QString(), info);
        if (mQueue)
            mQueue->addOperationWithBlock([weak, filePath, unreadable] {
                if (auto self = weak.lock())
                    self->finish(filePath, unreadable);
            });
        return;
    }
    HttpRequest upload = request;
    upload.bodySource = HttpRequest::BodySource::File;
    upload.bodyFilePath = filePath;
    // The answer only queues the outcome on the work queue: it needs no main loop.
    session->startDataTask(upload, LOMNetworkClient::DefaultRetryLimit,
                           LOMNetworkClient::DataCompletion(
                               CompletionQueue::global(),
                               [weak, filePath](const std::optional<QByteArray>&,
                                                const std::optional<HttpResponse>&, const Error& error) {
                                   auto self = weak.lock();
                                   if (!self || !self->mQueue)
                                       return;
                                   self->mQueue->addOperationWithBlock([weak, filePath, error] {
                                       if (auto strong = weak.lock())
                                           strong->finish(filePath, error);
                                   });
                               }));
}

void BBXNetworkClient::finish(const QString& path, const Error& error)
{
    {
        std::lock_guard lock(mMutex);
        mInFlight.remove(relativeTaskPathForAbsolutePath(path));
    }
    if (auto delegate = mDelegate.lock())
        delegate->networkClientDidFinishUploadWithPath(*this, path, error);
}

} // namespace corvex
