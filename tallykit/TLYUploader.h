#pragma once

#include "platform/core/Completion.h"
#include "platform/core/Error.h"
#include "platform/core/Operation.h"
#include "platform/net/HttpRequest.h"
#include "platform/net/ServerTrust.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvex {

class BBXURLSession;
class BBXURLSessionConfiguration;
class BBXURLSessionTask;
class LOMCertificatePinner;
class OperationQueue;
class TLYUploader;

// What the uploader asks of its owner (the analytics controller).
class TLYUploaderDelegate
{
public:
    // (retry, error): answered once per completed request.
    using RetryHandler = Completion<bool, const Error&>;
    virtual ~TLYUploaderDelegate();
    virtual QString uploaderFilePathForUniqueName(TLYUploader& uploader, const QString& uniqueName) = 0;
    virtual void uploaderDidFinishUpload(TLYUploader& uploader, const QString& uniqueName,
                                         const Error& error) = 0;
    virtual void uploaderCompletedRequest(TLYUploader& uploader, const HttpRequest& request,
                                          const std::optional<HttpResponse>& response,
                                          const QString& uniqueName, const Error& error,
                                          RetryHandler handler) = 0;
    // Nothing: default handling.
    virtual std::optional<TrustDisposition> uploaderDidReceiveChallenge(const ServerTrust&)
    {
        return std::nullopt;
    }
};

// Sends packaged files, at most one task per unique name (the live tasks of the
// work-alike session are asked), on its operation queue.
class TLYUploader : public std::enable_shared_from_this<TLYUploader>
{
public:
    static const QString UniqueNameKey; // "TLYUploaderUniqueName"
    enum ErrorCode
    {
        InvalidArguments = -2,
        UnreadableFile = -8,
    };

    static std::shared_ptr<TLYUploader> create(std::shared_ptr<OperationQueue> queue,
                                               std::weak_ptr<TLYUploaderDelegate> delegate);

    void startUploadRequest(const HttpRequest& request, const QString& filePath, const QString& uniqueName);
    void restartTask(const std::shared_ptr<BBXURLSessionTask>& task);
    // No background sessions here: the block is answered once the operation queue's work
    // queued before it has run.
    void attemptToReconnectBackgroundSessionWithCompletionBlock(Completion<> block);
    void setDefaultUploadTimeout(double seconds);
    void setLowPowerUploadTimeout(double seconds);
    double defaultUploadTimeout() const;
    double lowPowerUploadTimeout() const;
    // The thermal state is always nominal here.
    static bool lowPowerMode() { return false; }
    static bool supportsThermalNotifications() { return false; }
    static bool supportsBackgroundRequests();
    static bool shouldUseBackgroundRequests() { return false; }

    // Tests give sessions a trust store of theirs.
    void setSessionConfiguration(std::shared_ptr<BBXURLSessionConfiguration> configuration);

private:
    TLYUploader() = default;
    std::shared_ptr<BBXURLSession> session();
    void startNewUploadRequest(const HttpRequest& request, const QString& filePath,
                               const QString& uniqueName);
    void reportFinished(const QString& uniqueName, const Error& error);
    void taskCompleted(const std::shared_ptr<BBXURLSessionTask>& task, const Error& error);
    void dropSession();

    std::shared_ptr<OperationQueue> mQueue;
    std::weak_ptr<TLYUploaderDelegate> mDelegate;
    mutable std::mutex mMutex; // guards what follows
    std::shared_ptr<BBXURLSession> mSession;
    std::shared_ptr<BBXURLSessionConfiguration> mConfiguration;
    double mDefaultUploadTimeout = 3600.0;
    double mLowPowerUploadTimeout = 21600.0;
};

// Builds the events request for one package and hands it to the uploader.
class TLYUploadOperation : public Operation
{
public:
    static const QByteArray DeveloperToken;

    TLYUploadOperation(std::shared_ptr<TLYUploader> uploader, QUrl tallyURL, QString apiKey,
                       QString multipartURL, QString multipartMimeBoundary);
    void main() override;
    const QString& multipartURL() const { return mMultipartURL; }

private:
    std::shared_ptr<TLYUploader> mUploader;
    QUrl mTallyURL;
    QString mApiKey;
    QString mMultipartURL;
    QString mBoundary;
};

// Retries with exponential back-off and jitter; delays run on the current scheduler and
// are clamped to a day.
class TLYBackoffTimer
{
public:
    static constexpr double MaximumDelaySeconds = 24.0 * 60.0 * 60.0;

    explicit TLYBackoffTimer(double initialValue = 0.0, double jitterCoefficient = double(0.1f));
    static bool jitterCoefficientIsValid(double coefficient)
    {
        return coefficient >= 0.0 && coefficient < 1.0;
    }

    // Counts the retry and runs the block on the main queue after the next delay.
    void executeBlockAfterNextInterval(UniqueFunction<void()> block);
    double computeDelayForInitialValue(double initialValue, quint64 retryCount) const;
    double generateRandomJitter() const;
    quint64 retryCount() const;

private:
    mutable std::mutex mMutex;
    quint64 mRetryCount = 0;
    double mInitialValue;
    double mJitterCoefficient;
};

// Turns each finished request into a final outcome or a later retry, and answers
// server-trust challenges with the pinner. The outcome is always answered on a later turn.
class TLYNetworkRetryHandler
{
public:
    static const QString IdentifierKey; // "TLYNetworkRetryHandlerIdentifier"
    static constexpr int DefaultMaximumRetries = 10;
    enum ErrorCode
    {
        NoTimer = -7,
    };

    explicit TLYNetworkRetryHandler(std::function<bool()> debugSwitch,
                                    std::optional<QList<QByteArray>> pinnedCertificates = std::nullopt);
    ~TLYNetworkRetryHandler();

    void handleCompletedRequest(const HttpRequest& request, const std::optional<HttpResponse>& response,
                                const QString& identifier, const Error& error, int maxRetries,
                                TLYUploaderDelegate::RetryHandler completion);
    TrustDisposition handleChallenge(const ServerTrust& trust) const;
    std::shared_ptr<TLYBackoffTimer> timerForIdentifier(const QString& identifier, double initialRetryValue);

private:
    std::function<bool()> mDebug;
    std::unique_ptr<LOMCertificatePinner> mPinner;
    std::mutex mMutex;
    QHash<QString, std::shared_ptr<TLYBackoffTimer>> mRetryTimerMap;
};

} // namespace corvex
