#pragma once

#include "crash/BBXSettings.h"
#include "platform/core/Error.h"
#include "platform/net/HttpRequest.h"

#include <QString>
#include <memory>
#include <mutex>

namespace corvex {

class BBXFileManager;
class BBXInternalReport;
class BBXNetworkClient;
class BBXReportsController;
class OperationQueue;

class BBXReportsControllerDelegate
{
public:
    virtual ~BBXReportsControllerDelegate();
    virtual BBXSettings settingsForReportsController(BBXReportsController& controller) = 0;
    virtual QString APIKeyForReportsController(BBXReportsController& controller) = 0;
    virtual QString bundleIdentifierForReportsController(BBXReportsController& controller) = 0;
    virtual void reportsControllerDidCompletePackageSubmission(BBXReportsController& controller,
                                                               const QString& path, const Error& error) = 0;
};

// Takes a report through processing (active -> processing/<id>, symbolicated in place),
// packaging (prepared/<boundary>.multipartmime, the directory removed once the package is
// whole) and upload, and removes the package once the server took it. Each failing step
// logs and stops; the report stays where the last good step left it for the next launch.
// Without a configured reports endpoint nothing is uploaded: packages wait in prepared/ (one
// line says so, once). At most MaxWaitingReports packages wait there, configured or not: the
// oldest go first, never one being uploaded.
// Runs on whatever thread calls it: the starting thread for urgent reports, the work queue
// otherwise.
class BBXReportsController
{
public:
    static const QString UserAgent;      // "Blackbox Mac SDK/3.8.5"
    static const QString DeveloperToken; // "5e1c9a07b3d24f68e0a91c7d3b58f2a46c0e9d17"
    static constexpr int MaxWaitingReports = 20;

    BBXReportsController(std::shared_ptr<OperationQueue> queue,
                         std::weak_ptr<BBXReportsControllerDelegate> delegate,
                         std::shared_ptr<BBXNetworkClient> client,
                         std::shared_ptr<BBXFileManager> fileManager);

    bool prepareAndSubmitReport(const std::shared_ptr<BBXInternalReport>& report, bool urgent,
                                bool withProcessing);
    bool uploadPackagedReportAtPath(const QString& path, bool urgent);
    bool submitPackageMultipartMimeAtPath(const QString& path, bool synchronously);
    bool cleanUpSubmittedReportAtPath(const QString& path);
    // Removes the oldest packages waiting in prepared/ beyond MaxWaitingReports, but never
    // one being uploaded, nor `keep` (a package just made, about to be sent).
    void keepWaitingReportsWithinLimit(const QString& keep = QString());
    void reportUploadAtPathCompletedWithError(const QString& path, const Error& error);

    QString reportURL();
    HttpRequest mutableRequestWithURL(const QUrl& url, double timeout);
    // False when the package's size cannot be read.
    bool fillInRequestForMultipartMimeDataAtPath(HttpRequest& request, const QString& path);
    BBXSettings settings();
    bool submissionEnabled() { return settings().shouldSubmitReports(); }
    bool packagingEnabled() { return settings().shouldPackageReports(); }
    QString APIKey();
    QString appBundleIdentifier();

private:
    std::shared_ptr<OperationQueue> mQueue;
    std::weak_ptr<BBXReportsControllerDelegate> mDelegate;
    std::shared_ptr<BBXNetworkClient> mClient;
    std::shared_ptr<BBXFileManager> mFileManager;
    std::once_flag mToldUnconfigured;
};

} // namespace corvex
