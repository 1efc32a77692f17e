#pragma once

#include "crash/BBXReportsController.h"
#include "crash/BBXSettings.h"
#include "crash/upload/BBXNetworkClient.h"
#include "platform/core/Completion.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace corvex {

class BBXFileManager;
class BBXInternalReport;
class OperationQueue;

// What the controller asks of the facade.
class BBXCrashReportingControllerDelegate
{
public:
    // (submit): whether the report is sent; answered once per report.
    using SubmitHandler = Completion<bool>;
    virtual ~BBXCrashReportingControllerDelegate();
    virtual bool shouldInstallCrashCallback() = 0;
    virtual void detectedCrash() = 0;
    virtual bool reportingControllerCanUseBackgroundSessions() = 0;
    virtual bool reportingControllerMustInformDelegateOfReports() = 0;
    virtual void
    reportingControllerDidDetectReportForLastExecution(const std::shared_ptr<BBXInternalReport>& report,
                                                       SubmitHandler handler) = 0;
    virtual void reportingControllerInternalDidDetectReportForLastExecution(
        const std::shared_ptr<BBXInternalReport>& report) = 0;
    virtual bool reportingControllerEnsureDeliveryOfUnixSignal(int signal) = 0;
    virtual QString APIKeyForCrashReportingController() = 0;
    virtual QString installIDForCrashReportingController() = 0;
    virtual bool isFirstInstallForCrashReportingController() = 0;
    virtual BBXSettings settingsForCrashReportingController() = 0;
};

// Crash reporting for one process: at start it prepares the report tree, opens this run's
// report directory (holding a lock file ".lock" for the run's life, so that another instance
// never takes a live run's directory), hands the start parameters to the capture, and takes
// the reports earlier runs left through processing, packaging and upload; failed uploads are
// tried again every 600 s on the current scheduler.
class BBXCrashReportingController : public BBXReportsControllerDelegate,
                                    public BBXNetworkClientDelegate,
                                    public std::enable_shared_from_this<BBXCrashReportingController>
{
public:
    enum PromptChoice : std::int64_t
    {
        PromptChoiceNone = 0,
        PromptChoiceDontSend = 1,
        PromptChoiceSend = 2,
        PromptChoiceAlwaysSend = 3,
    };
    static constexpr double RetryDelaySeconds = 600.0;
    static const QString LockFileName; // ".lock"

    static std::shared_ptr<BBXCrashReportingController>
    create(std::shared_ptr<BBXFileManager> fileManager,
           std::weak_ptr<BBXCrashReportingControllerDelegate> delegate);
    ~BBXCrashReportingController() override;

    // The start road, on the calling thread; `mark`: the facade's start, in seconds on the
    // media clock. The handlers are installed before it returns; the reports of earlier runs
    // are taken up there too after a failed launch (urgently), else once the launch's first
    // frame is drawn (AfterFirstFrame).
    bool startWithProfilingMark(double mark, const std::optional<QString>& betaToken);
    std::uint32_t machExceptionMask();

    std::shared_ptr<BBXReportsController> reportsController();
    BBXSettings settings();
    const std::shared_ptr<OperationQueue>& operationQueue() const { return mQueue; }
    const std::shared_ptr<BBXNetworkClient>& networkClient() const { return mClient; }
    const std::shared_ptr<BBXInternalReport>& currentReport() const { return mCurrentReport; }
    PromptChoice promptChoice() const { return PromptChoice(mPromptChoice.load()); }

    // BBXReportsControllerDelegate
    BBXSettings settingsForReportsController(BBXReportsController& controller) override;
    QString APIKeyForReportsController(BBXReportsController& controller) override;
    QString bundleIdentifierForReportsController(BBXReportsController& controller) override;
    void reportsControllerDidCompletePackageSubmission(BBXReportsController& controller, const QString& path,
                                                       const Error& error) override;
    // BBXNetworkClientDelegate
    bool networkClientCanUseBackgroundSessions(BBXNetworkClient& client) override;
    void networkClientDidFinishUploadWithPath(BBXNetworkClient& client, const QString& path,
                                              const Error& error) override;

private:
    BBXCrashReportingController() = default;
    bool checkForAndCreateLaunchMarker();
    bool createLaunchMarker();
    bool setUpCurrentReport();
    bool installCrashReportingHandlers(const std::optional<QString>& betaToken);
    void crashReportingSetupCompleted(double mark);
    void setupStateNotifications();
    void processExistingReportPaths(const QStringList& paths, bool urgent);
    void processExistingActiveReportPath(const QString& path, bool urgent);
    void handleDelegateCompletionForReport(const std::shared_ptr<BBXInternalReport>& report, bool submit);
    void displayPermissionAlertForReport(const std::shared_ptr<BBXInternalReport>& report);
    void handlePromptCompleteForReport(const std::shared_ptr<BBXInternalReport>& report, bool submit,
                                       bool always);
    // `taken`: the earlier reports' directories this start handles itself.
    void handleContentsInOtherReportingDirectories(const QStringList& taken);
    bool awaitsRetry(const QString& path) const;
    // `work` on the work queue, if the controller still lives when it is queued and when its
    // turn comes (it may go in between).
    static void runOnWorkQueueWhileAlive(const std::weak_ptr<BBXCrashReportingController>& weak,
                                         std::function<void(BBXCrashReportingController&)> work);
    void removeReport(const std::shared_ptr<BBXInternalReport>& report);
    void removeStalePartialPackages();
    bool canProcessUrgentReports();
    bool needsToPrompt();
    // Whether another live run holds the directory's lock.
    static bool isLockedByLiveRun(const QString& directory);

    std::shared_ptr<BBXFileManager> mFileManager;
    std::weak_ptr<BBXCrashReportingControllerDelegate> mDelegate;
    std::shared_ptr<OperationQueue> mQueue;
    std::shared_ptr<BBXNetworkClient> mClient;
    std::once_flag mReportsControllerOnce;
    std::shared_ptr<BBXReportsController> mReportsController;
    std::once_flag mSettingsOnce;
    std::optional<BBXSettings> mSettings;
    std::atomic<std::int64_t> mPromptChoice{PromptChoiceNone};
    std::shared_ptr<BBXInternalReport> mCurrentReport;
    QByteArray mContextStrings[5]; // what the capture's start parameters point at
    int mLockFd = -1;
    std::atomic<std::uint32_t> mInternalCounter{0};
    mutable std::mutex mRetryMutex; // guards what follows
    QSet<QString> mAwaitingRetry;   // packages whose upload failed, until their retry
};

} // namespace corvex
