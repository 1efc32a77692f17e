#pragma once

#include "platform/core/Completion.h"
#include "platform/core/Error.h"
#include "platform/net/HttpRequest.h"

#include <QSet>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>

namespace corvex {

class BBXFileManager;
class BBXNetworkClient;
class BBXURLSessionConfiguration;
class LOMNetworkClient;
class OperationQueue;

class BBXNetworkClientDelegate
{
public:
    virtual ~BBXNetworkClientDelegate();
    virtual bool networkClientCanUseBackgroundSessions(BBXNetworkClient& client) = 0;
    virtual void networkClientDidFinishUploadWithPath(BBXNetworkClient& client, const QString& path,
                                                      const Error& error) = 0;
};

// Uploads packaged reports, streaming the package file as the body. There are no background
// sessions here: an upload that must go now is sent synchronously on the calling thread
// (one attempt within the request's time-out); the others go through the kit's client, which
// restarts a failed upload up to its limit of 10 with growing delays on the current
// scheduler and answers challenges with the pinned roots (default handling in debug mode).
// A package whose upload is under way is not started again. Completions reach the delegate
// on the work queue.
class BBXNetworkClient : public std::enable_shared_from_this<BBXNetworkClient>
{
public:
    static const QString ErrorDomain; // "BBXNetworkError"
    static constexpr int UnreadableFileCode = -2;

    static std::shared_ptr<BBXNetworkClient> create(std::shared_ptr<OperationQueue> queue,
                                                    std::shared_ptr<BBXFileManager> fileManager,
                                                    std::weak_ptr<BBXNetworkClientDelegate> delegate);
    // Tests give the session a trust store of theirs.
    void setSessionConfiguration(std::shared_ptr<BBXURLSessionConfiguration> configuration);

    static bool supportsBackgroundRequests() { return false; }
    void startUploadRequest(const HttpRequest& request, const QString& filePath, bool immediately);
    // No background session to reconnect: the block is answered once the work queue's work
    // queued before it has run.
    void attemptToReconnectBackgroundSessionWithCompletionBlock(Completion<> block);

    QString rootPath() const;
    // The path below the root ("v3/prepared/<file>"); nothing (logged) outside the root.
    QString relativeTaskPathForAbsolutePath(const QString& path) const;
    QString absolutePathForRelativeTaskPath(const QString& relative) const;
    bool isUploading(const QString& path) const;

private:
    BBXNetworkClient() = default;
    std::shared_ptr<LOMNetworkClient> client();
    void startImmediateUploadRequest(const HttpRequest& request, const QString& filePath);
    void startNewUploadRequest(const HttpRequest& request, const QString& filePath);
    void finish(const QString& path, const Error& error);

    std::shared_ptr<OperationQueue> mQueue;
    std::shared_ptr<BBXFileManager> mFileManager;
    std::weak_ptr<BBXNetworkClientDelegate> mDelegate;
    mutable std::mutex mMutex; // guards what follows
    std::shared_ptr<BBXURLSessionConfiguration> mConfiguration;
    std::shared_ptr<LOMNetworkClient> mClient;
    QSet<QString> mInFlight; // task descriptions
};

} // namespace corvex
