#pragma once

#include "kit/urlsession/BBXDownloadLocation.h"
#include "platform/core/Completion.h"
#include "platform/core/Error.h"
#include "platform/core/Result.h"
#include "platform/net/HttpRequest.h"
#include "platform/net/ServerTrust.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvex {

class BBXURLSession;
class BBXURLSessionTask;
class OperationQueue;

// The settings of a work-alike session. Only the additional headers change requests; the
// transport settings below are this program's own (the trust store default handling
// verifies against, which tests replace with a root of theirs, and the connect time-out).
class BBXURLSessionConfiguration
{
public:
    static std::shared_ptr<BBXURLSessionConfiguration> defaultSessionConfiguration();
    static std::shared_ptr<BBXURLSessionConfiguration> ephemeralSessionConfiguration();
    // There are no background sessions here: nullptr, and callers fall back to the default.
    static std::shared_ptr<BBXURLSessionConfiguration>
    backgroundSessionConfigurationWithIdentifier(const QString& identifier);
    static std::shared_ptr<BBXURLSessionConfiguration>
    backgroundSessionConfiguration(const QString& identifier);
    // Carries the additional headers and the transport settings, nothing else.
    std::shared_ptr<BBXURLSessionConfiguration> copy() const;

    HttpHeaders HTTPAdditionalHeaders;
    quint64 HTTPCookieAcceptPolicy = 0;
    bool allowsCellularAccess = false;
    double timeoutIntervalForRequest = 0;
    double timeoutIntervalForResource = 0;
    bool sessionSendsLaunchEvents() const { return false; }

    std::optional<QByteArray> trustStorePem;
    double connectTimeout = 15.0;
};

// The session delegate: each callback that is set is one the delegate answers. The
// challenge runs at once on the transfer thread during the handshake (nothing set: default
// handling); every other call runs on the session's delegate queue.
struct BBXURLSessionDelegate
{
    std::function<TrustDisposition(BBXURLSession& session, const ServerTrust& trust)> didReceiveChallenge;
    std::function<void(BBXURLSession& session, BBXURLSessionTask& task, const HttpResponse& response)>
        didReceiveResponse;
    std::function<void(BBXURLSession& session, BBXURLSessionTask& task, const QByteArray& data)>
        didReceiveData;
    // The file is deleted when this returns.
    std::function<void(BBXURLSession& session, BBXURLSessionTask& task, const QString& location)>
        didFinishDownloadingToURL;
    std::function<void(BBXURLSession& session, BBXURLSessionTask& task, const Error& error)>
        didCompleteWithError;
};

// One request of a session: made suspended, running after the first resume(), completed
// exactly once (a cancelled task too, with the cancelled error -999). A task's completion is
// answered on the queue it was made for (the main queue unless its maker chose another).
class BBXURLSessionTask : public std::enable_shared_from_this<BBXURLSessionTask>
{
public:
    enum class Kind
    {
        Data,
        Upload,
        Download
    };
    // (data, response, error)
    using DataCompletion =
        Completion<const std::optional<QByteArray>&, const std::optional<HttpResponse>&, const Error&>;
    // (location, response, error): the file at `location` is deleted right after the
    // completion has run on its queue.
    using DownloadCompletion =
        Completion<const BBXDownloadLocation&, const std::optional<HttpResponse>&, const Error&>;
    // (data tasks, upload tasks, download tasks)
    using TasksCompletion = Completion<std::vector<std::shared_ptr<BBXURLSessionTask>>,
                                       std::vector<std::shared_ptr<BBXURLSessionTask>>,
                                       std::vector<std::shared_ptr<BBXURLSessionTask>>>;

    static const QString DownloadErrorDomain; // "BBXURLSessionDownloadTaskError"

    ~BBXURLSessionTask();
    BBXURLSessionTask(const BBXURLSessionTask&) = delete;
    BBXURLSessionTask& operator=(const BBXURLSessionTask&) = delete;

    Kind kind() const { return mKind; }
    quint64 taskIdentifier() const { return mIdentifier; }
    const HttpRequest& originalRequest() const { return mOriginalRequest; }
    std::optional<HttpResponse> response() const;
    Error error() const;
    bool invokesDelegate() const { return mInvokesDelegate; }
    QString taskDescription() const;
    void setTaskDescription(const QString& description);
    // The download's file: in the temporary folder, named by a fresh unique string.
    const QString& downloadLocation() const { return mDownloadLocation; }

    // Starts the request once; later calls do nothing.
    void resume();
    // Stops the request; the task completes with the cancelled error unless it already has.
    void cancel();
    bool isCompleted() const { return mCompleted.load(); }
    // Deletes the download's file.
    void cleanup();

    struct SessionState;

private:
    friend class BBXURLSession;
    BBXURLSessionTask(Kind kind, std::shared_ptr<SessionState> session);
    void transferEnded(const Result<HttpResponse>& result);
    void complete();

    const Kind mKind;
    const quint64 mIdentifier;
    std::shared_ptr<SessionState> mSession;
    HttpRequest mOriginalRequest;
    bool mInvokesDelegate = true;
    DataCompletion mCompletion;
    DownloadCompletion mDownloadCompletion;
    QString mDownloadLocation;

    mutable std::mutex mMutex; // guards what follows
    std::shared_ptr<class HttpTransfer> mTransfer;
    bool mResumed = false;
    bool mCancelled = false;
    std::optional<HttpResponse> mResponse;
    std::optional<QByteArray> mData;
    Error mError;
    QString mDescription;
    std::atomic<bool> mCompleted{false};
};

// The kit's URL session: every request runs as one platform/net transfer of the session's
// own HttpSession (connections are never shared with another session, so one verified
// under this session's trust rules carries only its requests). Every server-trust
// challenge reaches the delegate, so pinning always runs. Task callbacks are serialised on
// the session's task queue ("com.blackbox.URLSessionTask"), delegate calls run on the
// delegate queue.
class BBXURLSession
{
public:
    // nullptr for a null configuration or when no transfer session could be made.
    static std::shared_ptr<BBXURLSession>
    sessionWithConfiguration(const std::shared_ptr<BBXURLSessionConfiguration>& configuration,
                             std::shared_ptr<BBXURLSessionDelegate> delegate = nullptr,
                             std::shared_ptr<OperationQueue> delegateQueue = nullptr);
    // "BBXURLSession 0x..." running one operation at a time.
    static std::shared_ptr<OperationQueue> newDefaultDelegateQueue();

    // Lets running tasks finish; tasks never resumed are dropped.
    ~BBXURLSession();
    BBXURLSession(const BBXURLSession&) = delete;
    BBXURLSession& operator=(const BBXURLSession&) = delete;

    // Each answers a suspended task, or nullptr once the session is invalidated.
    std::shared_ptr<BBXURLSessionTask> dataTaskWithRequest(const HttpRequest& request,
                                                           BBXURLSessionTask::DataCompletion completion = {});
    std::shared_ptr<BBXURLSessionTask>
    uploadTaskWithRequest(const HttpRequest& request, const QString& filePath,
                          BBXURLSessionTask::DataCompletion completion = {});
    std::shared_ptr<BBXURLSessionTask>
    downloadTaskWithRequest(const HttpRequest& request,
                            BBXURLSessionTask::DownloadCompletion completion = {});

    // Cancels every live task (each completes once with -999), drops the delegate, and
    // refuses new tasks.
    void invalidateAndCancel();
    // Drops the delegate; running tasks go on.
    void finishTasksAndInvalidate();
    // The live tasks by kind (data, upload, download), as they are at the call.
    void getTasksWithCompletionHandler(BBXURLSessionTask::TasksCompletion handler);
    // Tasks made and not yet completed.
    std::size_t liveTaskCount() const;

    std::shared_ptr<BBXURLSessionConfiguration> configuration() const;
    std::shared_ptr<OperationQueue> delegateQueue() const;
    std::shared_ptr<BBXURLSessionDelegate> delegate() const;
    QString sessionDescription() const;
    void setSessionDescription(const QString& description);
    bool isInvalidated() const;

private:
    friend class BBXURLSessionTask;
    explicit BBXURLSession(std::shared_ptr<BBXURLSessionTask::SessionState> state);
    std::shared_ptr<BBXURLSessionTask> configureTask(BBXURLSessionTask::Kind kind,
                                                     const HttpRequest& request);
    template <class C>
    static void adoptCompletion(const std::shared_ptr<BBXURLSessionTask>& task, C completion,
                                C BBXURLSessionTask::*member);
    std::shared_ptr<BBXURLSessionTask::SessionState> mState;
};

} // namespace corvex
