#include "crash/BBXReportsController.h"

#include "crash/BBXFileManager.h"
#include "crash/BBXInternalReport.h"
#include "crash/processing/BBXPackageReportOperation.h"
#include "crash/processing/BBXProcessReportOperation.h"
#include "crash/processing/BBXReportFileWriter.h"
#include "crash/processing/BBXSymbolResolver.h"
#include "crash/upload/BBXNetworkClient.h"
#include "kit/core/Loom.h"
#include "kit/net/LOMMultipartMimeStreamEncoder.h"
#include "kit/net/LOMURLBuilder.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/Log.h"
#include "platform/core/ProcessActivity.h"

#include <QFileInfo>

namespace corvex {

const QString BBXReportsController::UserAgent = QStringLiteral("Blackbox Mac SDK/3.8.5");
const QString BBXReportsController::DeveloperToken =
    QStringLiteral("5e1c9a07b3d24f68e0a91c7d3b58f2a46c0e9d17");

BBXReportsControllerDelegate::~BBXReportsControllerDelegate() = default;

namespace {

bool reportsDebug()
{
    return Loom::sharedSDK().debug();
}

// Sudden and automatic termination stay off while a report is being prepared.
class ReportProcessingActivity
{
public:
    ReportProcessingActivity()
        : mToken(ProcessActivity::beginActivity(49152, QStringLiteral("Blackbox Crash Report Processing")))
    {}
    ~ReportProcessingActivity() { ProcessActivity::endActivity(mToken); }
    ReportProcessingActivity(const ReportProcessingActivity&) = delete;
    ReportProcessingActivity& operator=(const ReportProcessingActivity&) = delete;

private:
    ProcessActivity::Token mToken;
};

} // namespace

BBXReportsController::BBXReportsController(std::shared_ptr<OperationQueue> queue,
                                           std::weak_ptr<BBXReportsControllerDelegate> delegate,
                                           std::shared_ptr<BBXNetworkClient> client,
                                           std::shared_ptr<BBXFileManager> fileManager)
    : mQueue(std::move(queue)), mDelegate(std::move(delegate)), mClient(std::move(client)),
      mFileManager(std::move(fileManager))
{}

BBXSettings BBXReportsController::settings()
{
    if (auto delegate = mDelegate.lock())
        return delegate->settingsForReportsController(*this);
    return BBXSettings(Value(), QVariantMap());
}

QString BBXReportsController::APIKey()
{
    auto delegate = mDelegate.lock();
    return delegate ? delegate->APIKeyForReportsController(*this) : QString();
}

QString BBXReportsController::appBundleIdentifier()
{
    auto delegate = mDelegate.lock();
    return delegate ? delegate->bundleIdentifierForReportsController(*this) : QString();
}

bool BBXReportsController::prepareAndSubmitReport(const std::shared_ptr<BBXInternalReport>& report,
                                                  bool urgent, bool withProcessing)
{
    if (!report || !mFileManager)
        return false;
    // The report's age, before processing writes into it: its package carries it, so that the
    // oldest waiting reports are the first to go.
    const std::optional<qint64> age = BBXFileManager::modificationTime(report->path());
    ReportProcessingActivity activity;
    if (withProcessing) {
        if (!mFileManager->moveItemAtPath(report->path(), mFileManager->processingPath())) {
            Log::error(QStringLiteral("[Blackbox:Crash:Reports] Unable to move report for processing"));
            return false;
        }
        report->setPath(mFileManager->processingPath() + QLatin1Char('/') + report->directoryName());
        std::make_shared<BBXProcessReportOperation>(report, std::make_shared<BBXSymbolResolver>())->start();
    } else {
        // Taken up again: names a launch could not write (a full disk) are made now.
        std::make_shared<BBXProcessReportOperation>(report, std::make_shared<BBXSymbolResolver>(),
                                                    BBXProcessReportOperation::Scope::MissingRecords)
            ->start();
    }
    if (!packagingEnabled()) {
        Log::info(QStringLiteral("[Blackbox:Crash:Reports] Report packaging disabled"));
        return false;
    }
    auto package = std::make_shared<BBXPackageReportOperation>(report, mFileManager);
    package->start();
    if (!package->finalPath()) {
        Log::error(QStringLiteral("[Blackbox:Crash:Reports] Unable to package report"));
        return false;
    }
    if (age)
        BBXFileManager::setModificationTime(*package->finalPath(), *age);
    if (!mFileManager->removeItemAtPath(report->path()))
        Log::error(QStringLiteral("[Blackbox:Crash:Reports] Unable to remove a processing item"));
    Log::info(QStringLiteral("[Blackbox:Crash:Reports] Packaged report with id '%1' for submission")
                  .arg(report->identifier()));
    keepWaitingReportsWithinLimit(*package->finalPath());
    return uploadPackagedReportAtPath(*package->finalPath(), urgent);
}

bool BBXReportsController::uploadPackagedReportAtPath(const QString& path, bool urgent)
{
    if (!submissionEnabled()) {
        Log::info(QStringLiteral("[Blackbox:Crash:Reports] Submission disabled"));
        return false;
    }
    if (!settings().isReportsEndpointConfigured()) {
        std::call_once(mToldUnconfigured, [this] {
            Log::info(
                QStringLiteral("[Blackbox:Crash:Reports] No reports endpoint is configured: reports are "
                               "kept in %1, the newest %2 of them")
                    .arg(mFileManager ? mFileManager->preparedPath() : QString())
                    .arg(MaxWaitingReports));
        });
        return false;
    }
    if (reportsDebug())
        Log::info(QStringLiteral("[Blackbox:Crash:Reports] Submitting report%1")
                      .arg(urgent ? QStringLiteral(" as urgent") : QString()));
    return submitPackageMultipartMimeAtPath(path, urgent);
}

bool BBXReportsController::submitPackageMultipartMimeAtPath(const QString& path, bool synchronously)
{
    if (reportsDebug())
        Log::info(QStringLiteral("[Blackbox:Crash:Reports] Submitting %1 %2")
                      .arg(synchronously ? QStringLiteral("sync") : QStringLiteral("async"), path));
    const QFileInfo file(path);
    // Only a package this reporter made is sent: a link placed among them would upload
    // whatever file it names.
    if (file.isSymLink() || (file.exists() && !file.isFile())) {
        Log::error(
            QStringLiteral("Error: %1 is not sent: it is no package but a link or another kind of file")
                .arg(file.fileName()));
        (void)BBXReportFileWriter::clearName(path);
        return false;
    }
    if (!file.isFile() || file.size() == 0) {
        if (reportsDebug())
            Log::info(QStringLiteral("[Blackbox:Crash:Reports] Already-submitted report being ignored"));
        // An empty package holds nothing: it would be considered again at every attempt.
        if (file.isFile() && mFileManager)
            mFileManager->removeItemAtPath(path);
        return false;
    }
    if (!mClient)
        return false;
    const double timeout = !synchronously || BBXNetworkClient::supportsBackgroundRequests() ? 10.0 : 2.0;
    const std::optional<QUrl> url = LOMURLBuilder::URLWithBase(reportURL()).URL();
    HttpRequest request = mutableRequestWithURL(url.value_or(QUrl()), timeout);
    if (!fillInRequestForMultipartMimeDataAtPath(request, path)) {
        Log::error(
            QStringLiteral("[Blackbox:Crash:Reports] Could not determine size of multipart mime file"));
        return false;
    }
    mClient->startUploadRequest(request, path, synchronously);
    return true;
}

void BBXReportsController::keepWaitingReportsWithinLimit(const QString& keep)
{
    if (!mFileManager)
        return;
    const QStringList waiting = mFileManager->waitingReportsOldestFirst();
    qsizetype excess = waiting.size() - MaxWaitingReports;
    for (qsizetype i = 0; i < waiting.size() && excess > 0; ++i) {
        if (waiting[i] == keep || (mClient && mClient->isUploading(waiting[i])))
            continue;
        if (!mFileManager->removeItemAtPath(waiting[i]))
            continue;
        --excess;
        Log::info(
            QStringLiteral("[Blackbox:Crash:Reports] Removed the oldest waiting report %1: at most %2 are "
                           "kept")
                .arg(waiting[i])
                .arg(MaxWaitingReports));
    }
}

bool BBXReportsController::cleanUpSubmittedReportAtPath(const QString& path)
{
    return mFileManager && mFileManager->removeItemAtPath(path);
}

void BBXReportsController::reportUploadAtPathCompletedWithError(const QString& path, const Error& error)
{
    if (reportsDebug())
        Log::info(QStringLiteral("[Blackbox:Crash:Reports] completed submission of %1").arg(path));
    if (!error && !cleanUpSubmittedReportAtPath(path))
        Log::error(QStringLiteral("[Blackbox:Crash:Reports] Unable to remove packaged submission"));
    if (auto delegate = mDelegate.lock())
        delegate->reportsControllerDidCompletePackageSubmission(*this, path, error);
}

QString BBXReportsController::reportURL()
{
    LOMURLBuilder builder = LOMURLBuilder::URLWithBase(settings().reportsEndpoint());
    builder.appendComponent(QStringLiteral("/sdk-api/v1/platforms/"));
    builder.appendComponent(QStringLiteral("mac"));
    builder.appendComponent(QStringLiteral("/apps/"));
    builder.escapeAndAppendComponent(appBundleIdentifier());
    builder.appendComponent(QStringLiteral("/reports"));
    return builder.URLString();
}

HttpRequest BBXReportsController::mutableRequestWithURL(const QUrl& url, double timeout)
{
    HttpRequest request;
    request.url = url;
    request.method = "POST";
    request.overallTimeout = timeout;
    const QByteArray locale = LOMHostLocaleIdentifier().toUtf8();
    request.headers.set("User-Agent", UserAgent.toUtf8());
    request.headers.set("Accept", "application/json");
    request.headers.set("Accept-Charset", "utf-8");
    request.headers.set("Accept-Language", locale);
    request.headers.set("Content-Language", locale);
    request.headers.set("X-Blackbox-Developer-Token", DeveloperToken.toUtf8());
    request.headers.set("X-Blackbox-API-Client-Id", "com.loomworks.blackbox.mac");
    request.headers.set("X-Blackbox-API-Client-Display-Version", "3.8.5");
    request.headers.set("X-Blackbox-API-Client-Build-Version", "123");
    request.headers.set("X-Blackbox-API-Key", APIKey().toUtf8());
    return request;
}

bool BBXReportsController::fillInRequestForMultipartMimeDataAtPath(HttpRequest& request, const QString& path)
{
    const QString boundary = QFileInfo(path).completeBaseName();
    request.headers.set(
        "Content-Type",
        LOMMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(boundary).toUtf8());
    const std::optional<qint64> size = mFileManager ? mFileManager->fileSizeAtPath(path) : std::nullopt;
    if (!size)
        return false;
    request.headers.set("Content-Length", QByteArray::number(*size));
    request.bodySource = HttpRequest::BodySource::File;
    request.bodyFilePath = path;
    return true;
}

} // namespace corvex
