#include "kit/urlsession/BBXURLSession.h"

#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/SerialQueue.h"
#include "platform/net/HttpSession.h"
#include "platform/net/UrlError.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <set>

namespace corvex {

const QString BBXURLSessionTask::DownloadErrorDomain = QStringLiteral("BBXURLSessionDownloadTaskError");

namespace {

std::atomic<quint64> nextTaskIdentifier{1};

QString urlSessionTemporaryFolder()
{
    const QByteArray tmp = qgetenv("TMPDIR");
    return tmp.isEmpty() ? QStringLiteral("/tmp") : QFile::decodeName(tmp);
}

} // namespace

// What tasks share with their session: the transfer session, the delegate and its queue,
// the live task set and the queue task callbacks run on. Tasks keep it alive while they
// run, so a session released by its owner still lets its tasks finish.
struct BBXURLSessionTask::SessionState
{
    std::shared_ptr<BBXURLSessionConfiguration> configuration;
    std::shared_ptr<HttpSession> http;
    // Shared with the transfers, which post their completions to it from their own thread:
    // they must not hold the session itself, whose last release there would end the
    // transfer thread from inside it.
    const std::shared_ptr<SerialQueue> taskQueue =
        std::make_shared<SerialQueue>("com.blackbox.URLSessionTask");
    std::weak_ptr<BBXURLSession> owner;

    mutable std::mutex mutex; // the session queue: guards what follows
    std::shared_ptr<BBXURLSessionDelegate> delegate;
    std::shared_ptr<OperationQueue> delegateQueue;
    std::set<std::shared_ptr<BBXURLSessionTask>> tasks;
    bool invalidated = false;
    QString description;

    std::shared_ptr<BBXURLSessionDelegate> currentDelegate() const
    {
        std::lock_guard lock(mutex);
        return delegate;
    }

    // Runs `call` with the session and the delegate on the delegate queue when the task
    // reports to the delegate and it answers (`answers`); else runs `otherwise` at once.
    void invokeDelegate(const std::shared_ptr<BBXURLSessionTask>& task,
                        const std::function<bool(const BBXURLSessionDelegate&)>& answers,
                        std::function<void(BBXURLSession&, BBXURLSessionDelegate&)> call,
                        const std::function<void()>& otherwise)
    {
        std::shared_ptr<BBXURLSessionDelegate> current;
        std::shared_ptr<OperationQueue> queue;
        {
            std::lock_guard lock(mutex);
            current = delegate;
            queue = delegateQueue;
        }
        std::shared_ptr<BBXURLSession> session = owner.lock();
        if (!task->invokesDelegate() || !current || !queue || !session || !answers(*current)) {
            if (otherwise)
                otherwise();
            return;
        }
        queue->addOperationWithBlock([session, current, call = std::move(call), otherwise] {
            call(*session, *current);
            if (otherwise)
                otherwise();
        });
    }

    void removeTask(const std::shared_ptr<BBXURLSessionTask>& task)
    {
        std::lock_guard lock(mutex);
        tasks.erase(task);
    }
};

// ---- configuration

std::shared_ptr<BBXURLSessionConfiguration> BBXURLSessionConfiguration::defaultSessionConfiguration()
{
    return std::make_shared<BBXURLSessionConfiguration>();
}

std::shared_ptr<BBXURLSessionConfiguration> BBXURLSessionConfiguration::ephemeralSessionConfiguration()
{
    return std::make_shared<BBXURLSessionConfiguration>();
}

std::shared_ptr<BBXURLSessionConfiguration>
BBXURLSessionConfiguration::backgroundSessionConfigurationWithIdentifier(const QString&)
{
    return nullptr;
}

std::shared_ptr<BBXURLSessionConfiguration>
BBXURLSessionConfiguration::backgroundSessionConfiguration(const QString&)
{
    return nullptr;
}

std::shared_ptr<BBXURLSessionConfiguration> BBXURLSessionConfiguration::copy() const
{
    auto copied = std::make_shared<BBXURLSessionConfiguration>();
    copied->HTTPAdditionalHeaders = HTTPAdditionalHeaders;
    copied->trustStorePem = trustStorePem;
    copied->connectTimeout = connectTimeout;
    return copied;
}

// ---- task

BBXURLSessionTask::BBXURLSessionTask(Kind kind, std::shared_ptr<SessionState> session)
    : mKind(kind), mIdentifier(nextTaskIdentifier.fetch_add(1)), mSession(std::move(session))
{
    if (mKind == Kind::Download)
        mDownloadLocation = QDir(urlSessionTemporaryFolder())
                                .filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
}

BBXURLSessionTask::~BBXURLSessionTask() = default;

std::optional<HttpResponse> BBXURLSessionTask::response() const
{
    std::lock_guard lock(mMutex);
    return mResponse;
}

Error BBXURLSessionTask::error() const
{
    std::lock_guard lock(mMutex);
    return mError;
}

QString BBXURLSessionTask::taskDescription() const
{
    std::lock_guard lock(mMutex);
    return mDescription;
}

void BBXURLSessionTask::setTaskDescription(const QString& description)
{
    std::lock_guard lock(mMutex);
    mDescription = description;
}

void BBXURLSessionTask::resume()
{
    std::shared_ptr<HttpTransfer> transfer;
    {
        std::lock_guard lock(mMutex);
        if (mResumed || mCancelled || mCompleted.load())
            return;
        mResumed = true;
        HttpRequest request = mOriginalRequest;
        if (mKind == Kind::Download) {
            request.downloadFilePath = mDownloadLocation;
            request.syncDownload = false; // a temporary the caller reads at once
        }
        mTransfer = mSession->http->makeTransfer(std::move(request));
        transfer = mTransfer;
    }
    std::shared_ptr<BBXURLSessionTask> self = shared_from_this();
    // The transfer completes once, straight on the task queue where the task's callbacks
    // run. The task keeps itself, and so the session, alive until then.
    transfer->start(HttpTransfer::Completion(
        CompletionQueue::serial(*mSession->taskQueue),
        [self](const Result<HttpResponse>& result) { self->transferEnded(result); }));
}

void BBXURLSessionTask::cancel()
{
    std::shared_ptr<HttpTransfer> transfer;
    {
        std::lock_guard lock(mMutex);
        if (mCancelled || mCompleted.load())
            return;
        mCancelled = true;
        transfer = mTransfer;
        if (!mResumed) {
            // Never started: it completes here, once, as a started task would.
            mResumed = true;
            mError = UrlError::make(UrlError::Cancelled, QStringLiteral("cancelled"), mOriginalRequest.url);
            std::shared_ptr<BBXURLSessionTask> self = shared_from_this();
            mSession->taskQueue->async([self] { self->complete(); });
            return;
        }
    }
    if (transfer)
        transfer->cancel();
}

void BBXURLSessionTask::transferEnded(const Result<HttpResponse>& result)
{
    std::shared_ptr<BBXURLSessionTask> self = shared_from_this();
    if (!result.ok()) {
        std::lock_guard lock(mMutex);
        mError = result.error();
        mTransfer.reset();
    } else {
        const HttpResponse& response = result.value();
        mSession->invokeDelegate(
            self, [](const BBXURLSessionDelegate& d) { return bool(d.didReceiveResponse); },
            [self, response](BBXURLSession& session, BBXURLSessionDelegate& d) {
                d.didReceiveResponse(session, *self, response);
            },
            {});
        QByteArray memoryBody = response.body;
        {
            std::lock_guard lock(mMutex);
            mResponse = response;
            mResponse->body.clear();
            mTransfer.reset();
        }
        if (mKind == Kind::Download) {
            // A body that went to memory (a status other than 2xx) still becomes the file.
            if (response.bodyFilePath.isEmpty()) {
                QFile file(mDownloadLocation);
                const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                                     file.write(memoryBody) == memoryBody.size();
                file.close();
                if (!written) {
                    std::lock_guard lock(mMutex);
                    if (mError.isNull())
                        mError = Error(DownloadErrorDomain, -1);
                }
            }
        } else if (!memoryBody.isEmpty()) {
            {
                std::lock_guard lock(mMutex);
                mData = memoryBody;
            }
            mSession->invokeDelegate(
                self, [](const BBXURLSessionDelegate& d) { return bool(d.didReceiveData); },
                [self, memoryBody](BBXURLSession& session, BBXURLSessionDelegate& d) {
                    d.didReceiveData(session, *self, memoryBody);
                },
                {});
        }
    }
    complete();
}

void BBXURLSessionTask::complete()
{
    if (mCompleted.exchange(true))
        return;
    std::shared_ptr<BBXURLSessionTask> self = shared_from_this();
    std::optional<HttpResponse> response;
    std::optional<QByteArray> data;
    Error error;
    {
        std::lock_guard lock(mMutex);
        response = mResponse;
        data = mData;
        error = mError;
    }
    if (mKind == Kind::Download) {
        if (mDownloadCompletion) {
            // The completion's call holds the file until it has run, then lets it go.
            mDownloadCompletion(BBXDownloadLocation::takingFile(mDownloadLocation), response, error);
        } else if (error.isNull()) {
            const QString location = mDownloadLocation;
            mSession->invokeDelegate(
                self, [](const BBXURLSessionDelegate& d) { return bool(d.didFinishDownloadingToURL); },
                [self, location](BBXURLSession& session, BBXURLSessionDelegate& d) {
                    d.didFinishDownloadingToURL(session, *self, location);
                },
                [self] { self->cleanup(); });
        } else {
            cleanup();
        }
    } else if (mCompletion) {
        mCompletion(data, response, error);
    }
    std::shared_ptr<SessionState> session = mSession;
    session->invokeDelegate(
        self, [](const BBXURLSessionDelegate& d) { return bool(d.didCompleteWithError); },
        [self, error](BBXURLSession& s, BBXURLSessionDelegate& d) {
            d.didCompleteWithError(s, *self, error);
        },
        [session, self] { session->removeTask(self); });
}

void BBXURLSessionTask::cleanup()
{
    if (!mDownloadLocation.isEmpty())
        QFile::remove(mDownloadLocation);
}

// ---- session

// A task with a completion answers it instead of telling the delegate; without a task (an
// invalidated session) no answer is given: the caller learns it from the missing task.
template <class C>
void BBXURLSession::adoptCompletion(const std::shared_ptr<BBXURLSessionTask>& task, C completion,
                                    C BBXURLSessionTask::*member)
{
    if (!completion)
        return;
    if (!task) {
        completion.drop();
        return;
    }
    (*task).*member = std::move(completion);
    task->mInvokesDelegate = false;
}

BBXURLSession::BBXURLSession(std::shared_ptr<BBXURLSessionTask::SessionState> state)
    : mState(std::move(state))
{}

BBXURLSession::~BBXURLSession()
{
    // Tasks never resumed would hold the state for ever; running ones finish.
    std::lock_guard lock(mState->mutex);
    for (auto it = mState->tasks.begin(); it != mState->tasks.end();) {
        bool resumed = false;
        {
            std::lock_guard taskLock((*it)->mMutex);
            resumed = (*it)->mResumed;
        }
        it = resumed ? std::next(it) : mState->tasks.erase(it);
    }
}

std::shared_ptr<BBXURLSession>
BBXURLSession::sessionWithConfiguration(const std::shared_ptr<BBXURLSessionConfiguration>& configuration,
                                        std::shared_ptr<BBXURLSessionDelegate> delegate,
                                        std::shared_ptr<OperationQueue> delegateQueue)
{
    if (!configuration)
        return nullptr;
    auto state = std::make_shared<BBXURLSessionTask::SessionState>();
    state->configuration = configuration->copy();
    if (delegate && !delegateQueue)
        delegateQueue = newDefaultDelegateQueue();
    state->delegate = std::move(delegate);
    state->delegateQueue = std::move(delegateQueue);

    HttpSessionConfiguration transport;
    transport.connectTimeout = state->configuration->connectTimeout;
    transport.trustStorePem = state->configuration->trustStorePem;
    std::weak_ptr<BBXURLSessionTask::SessionState> weakState = state;
    // Every handshake asks the delegate; one that does not answer challenges gets default
    // handling, and a gone session refuses.
    transport.trustDecider = [weakState](const ServerTrust& trust) {
        std::shared_ptr<BBXURLSessionTask::SessionState> strong = weakState.lock();
        if (!strong)
            return TrustDisposition::CancelChallenge;
        std::shared_ptr<BBXURLSessionDelegate> current = strong->currentDelegate();
        std::shared_ptr<BBXURLSession> session = strong->owner.lock();
        if (!current || !current->didReceiveChallenge || !session)
            return TrustDisposition::PerformDefaultHandling;
        return current->didReceiveChallenge(*session, trust);
    };
    state->http = HttpSession::create(std::move(transport));
    if (!state->http)
        return nullptr;
    std::shared_ptr<BBXURLSession> session(new BBXURLSession(state));
    state->owner = session;
    return session;
}

std::shared_ptr<OperationQueue> BBXURLSession::newDefaultDelegateQueue()
{
    static const int classObject = 0;
    auto queue = std::make_shared<OperationQueue>(
        QStringLiteral("BBXURLSession %1").arg(QStringLiteral("0x%1").arg(quintptr(&classObject), 0, 16)));
    queue->setMaxConcurrentOperationCount(1);
    return queue;
}

std::shared_ptr<BBXURLSessionTask> BBXURLSession::configureTask(BBXURLSessionTask::Kind kind,
                                                                const HttpRequest& request)
{
    std::shared_ptr<BBXURLSessionTask> task(new BBXURLSessionTask(kind, mState));
    HttpRequest prepared = request;
    {
        std::lock_guard lock(mState->mutex);
        if (mState->invalidated)
            return nullptr;
        mState->tasks.insert(task);
        for (const HttpHeaders::Field& field : mState->configuration->HTTPAdditionalHeaders.fields())
            prepared.headers.add(field.first, field.second);
    }
    task->mOriginalRequest = std::move(prepared);
    return task;
}

std::shared_ptr<BBXURLSessionTask>
BBXURLSession::dataTaskWithRequest(const HttpRequest& request, BBXURLSessionTask::DataCompletion completion)
{
    std::shared_ptr<BBXURLSessionTask> task = configureTask(BBXURLSessionTask::Kind::Data, request);
    adoptCompletion(task, std::move(completion), &BBXURLSessionTask::mCompletion);
    return task;
}

std::shared_ptr<BBXURLSessionTask>
BBXURLSession::uploadTaskWithRequest(const HttpRequest& request, const QString& filePath,
                                     BBXURLSessionTask::DataCompletion completion)
{
    HttpRequest fromFile = request;
    fromFile.body.clear();
    fromFile.bodySource = HttpRequest::BodySource::File;
    fromFile.bodyFilePath = filePath;
    std::shared_ptr<BBXURLSessionTask> task = configureTask(BBXURLSessionTask::Kind::Upload, fromFile);
    adoptCompletion(task, std::move(completion), &BBXURLSessionTask::mCompletion);
    return task;
}

std::shared_ptr<BBXURLSessionTask>
BBXURLSession::downloadTaskWithRequest(const HttpRequest& request,
                                       BBXURLSessionTask::DownloadCompletion completion)
{
    std::shared_ptr<BBXURLSessionTask> task = configureTask(BBXURLSessionTask::Kind::Download, request);
    adoptCompletion(task, std::move(completion), &BBXURLSessionTask::mDownloadCompletion);
    return task;
}

void BBXURLSession::invalidateAndCancel()
{
    std::vector<std::shared_ptr<BBXURLSessionTask>> live;
    {
        std::lock_guard lock(mState->mutex);
        mState->invalidated = true;
        live.assign(mState->tasks.begin(), mState->tasks.end());
    }
    for (const auto& task : live)
        task->cancel();
    std::lock_guard lock(mState->mutex);
    mState->delegate.reset();
}

void BBXURLSession::finishTasksAndInvalidate()
{
    std::lock_guard lock(mState->mutex);
    mState->invalidated = true;
    mState->delegate.reset();
}

void BBXURLSession::getTasksWithCompletionHandler(BBXURLSessionTask::TasksCompletion handler)
{
    if (!handler)
        return;
    std::vector<std::shared_ptr<BBXURLSessionTask>> data, upload, download;
    {
        std::lock_guard lock(mState->mutex);
        for (const auto& task : mState->tasks) {
            if (task->isCompleted())
                continue;
            switch (task->kind()) {
            case BBXURLSessionTask::Kind::Data:
                data.push_back(task);
                break;
            case BBXURLSessionTask::Kind::Upload:
                upload.push_back(task);
                break;
            case BBXURLSessionTask::Kind::Download:
                download.push_back(task);
                break;
            }
        }
    }
    handler(std::move(data), std::move(upload), std::move(download));
}

std::size_t BBXURLSession::liveTaskCount() const
{
    std::lock_guard lock(mState->mutex);
    return mState->tasks.size();
}

std::shared_ptr<BBXURLSessionConfiguration> BBXURLSession::configuration() const
{
    return mState->configuration->copy();
}

std::shared_ptr<OperationQueue> BBXURLSession::delegateQueue() const
{
    std::lock_guard lock(mState->mutex);
    return mState->delegateQueue;
}

std::shared_ptr<BBXURLSessionDelegate> BBXURLSession::delegate() const
{
    return mState->currentDelegate();
}

QString BBXURLSession::sessionDescription() const
{
    std::lock_guard lock(mState->mutex);
    return mState->description;
}

void BBXURLSession::setSessionDescription(const QString& description)
{
    std::lock_guard lock(mState->mutex);
    mState->description = description;
}

bool BBXURLSession::isInvalidated() const
{
    std::lock_guard lock(mState->mutex);
    return mState->invalidated;
}

} // namespace corvex
