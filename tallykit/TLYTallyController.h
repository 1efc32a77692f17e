#pragma once

#include "platform/core/Value.h"
#include "tallykit/TLYUploader.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvex {

class BBXURLSessionConfiguration;
class Loom;
class OperationQueue;
class Operation;
class TLYCrashEvent;
class TLYCrashMetadata;
class TLYEvent;
class TLYEventFilter;
class TLYMetadata;
class TLYSettings;
class TLYTimer;

// The engine of usage analytics: one serial queue ("io.tally.EventQueue") on which events
// become log lines, logs rotate, and every rotated or left-over log is compressed,
// packaged and uploaded; it applies the downloaded settings and records the application's
// lifecycle by itself.
//
// Files of the event directory move on only when the next stage is complete: a ".log" is
// deleted once its ".gz" is written whole, a ".gz" once its package is. A package is named
// by its log (its boundary is the log's name), so a stage made again after a kill has the
// same name and an upload made twice carries the same boundary. A package is deleted when
// the service took it or refused it for good; after a transient failure (retries spent,
// transport errors) it waits for the next start.
class TLYTallyController : public TLYUploaderDelegate, public std::enable_shared_from_this<TLYTallyController>
{
public:
    static const QString EventQueueName; // "io.tally.EventQueue"

    struct Options
    {
        // Tests: the trust store of upload sessions, the pinned roots.
        std::shared_ptr<BBXURLSessionConfiguration> sessionConfiguration;
        std::optional<QList<QByteArray>> pinnedCertificates;
    };
    // Called on the event queue after each write with the event and whether its line reached
    // the log (tests and the soak helper report written events with it).
    using WriteObserver = std::function<void(const TLYEvent& event, bool written)>;

    // Starts at once: the start-up block is the first work of the queue. `loom` outlives
    // the controller.
    static std::shared_ptr<TLYTallyController> create(const std::optional<QString>& betaToken, Loom& loom,
                                                      const QString& rootDirectory, Options options = {});
    ~TLYTallyController() override;

    // Caches/com.blackbox.data/<escaped bundle identifier>/analytics/v2.
    static QString rootDirectory();
    static QString eventDirectoryForRootDirectory(const QString& root);
    static QString crashMetadataPathForRootDirectory(const QString& root);
    // "NSApplicationWillTerminateNotification" and the two activation notifications.
    static const QStringList& lifecycleNotificationNames();

    void logEvent(std::shared_ptr<TLYEvent> event);
    void logCrashEvent(std::shared_ptr<TLYCrashEvent> event);
    void enqueueEvent(std::shared_ptr<TLYEvent> event);
    void applicationLifecycleEvent(const QString& notificationName);
    void loomSettingsDidBecomeAvailable();
    // A null value is no settings.
    void initializeSettingsIfNeededWithLoomSettings(const Value& loomSettings);

    void setWriteObserver(WriteObserver observer);
    const std::shared_ptr<OperationQueue>& eventQueue() const { return mEventQueue; }
    QString rootEventDirectory() const;
    // Blocks until the event queue has nothing left (not from the queue).
    void waitUntilIdle();

    // TLYUploaderDelegate
    QString uploaderFilePathForUniqueName(TLYUploader& uploader, const QString& uniqueName) override;
    void uploaderDidFinishUpload(TLYUploader& uploader, const QString& uniqueName,
                                 const Error& error) override;
    void uploaderCompletedRequest(TLYUploader& uploader, const HttpRequest& request,
                                  const std::optional<HttpResponse>& response, const QString& uniqueName,
                                  const Error& error, RetryHandler handler) override;
    std::optional<TrustDisposition> uploaderDidReceiveChallenge(const ServerTrust& trust) override;

    // Whether an upload's outcome leaves the package for a later run.
    static bool isTransientUploadError(const Error& error);

private:
    TLYTallyController(Loom& loom, QString rootDirectory, Options options);
    void startUp(const std::optional<QString>& betaToken);
    bool shouldLogEvent() const;
    bool shouldSubmitLogAtURL(const QString& path) const;
    QString generateNewLogPath() const;
    QString multipartMimeURLWithBoundary(const QString& boundary) const;
    void rotateAndSubmitCurrentLog();
    std::vector<std::shared_ptr<Operation>> operationsForUncompressedLog(const QString& log);
    std::vector<std::shared_ptr<Operation>> operationsForCompressedLog(const QString& compressed);
    std::shared_ptr<Operation> uploadOperationForFileAtURL(const QString& package, const QString& boundary);
    std::shared_ptr<Operation> writeOperation(const std::shared_ptr<TLYEvent>& event,
                                              std::shared_ptr<const class TLYMetadataSerializable> metadata);
    void cleanupAndProcessExistingFiles();
    void uploadAllMultipartFiles();
    void uploadMultipartFiles(const QStringList& packages);
    void removeAllLogs();
    void setupFlushTimer();
    void flushTimerFired();
    void checkOnEventQueue(const char* method) const;
    void addOperations(const std::vector<std::shared_ptr<Operation>>& operations);

    Loom& mLoom;
    const QString mRoot;
    const Options mOptions;
    std::shared_ptr<OperationQueue> mEventQueue;
    // Touched only on the event queue after start-up.
    QString mRootEventDirectory;
    QString mCurrentLogURL;
    std::shared_ptr<TLYMetadata> mMetadata;
    std::shared_ptr<TLYCrashMetadata> mPreviousExecutionMetadata;
    std::shared_ptr<TLYEventFilter> mEventFilter;
    std::shared_ptr<TLYNetworkRetryHandler> mNetworkRetryHandler;
    std::shared_ptr<TLYUploader> mUploader;
    std::shared_ptr<TLYSettings> mSettings;
    std::unique_ptr<TLYTimer> mFlushTimer;
    // The names of the packages with an upload queued or under way, so that none is queued
    // twice.
    std::mutex mUploadsMutex;
    QSet<QString> mUploadingPackages;
    std::mutex mObserverMutex;
    WriteObserver mWriteObserver;
};

} // namespace corvex
