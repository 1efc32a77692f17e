// The start road of a launch after crashes, in a helper process each: the reports earlier
// runs left are sent without one error line about them, the permission prompt keeps a report
// it was not answered for, and a launch that holds its work for the first frame takes them up
// only then, unless the launch before it failed.

#include "crash/BBXCrashReportingController.h"
#include "crash/BBXFileManager.h"
#include "kit/core/Loom.h"
#include "kit/sys/HostFunctions.h"
#include "platform/core/AfterFirstFrame.h"
#include "platform/core/AlertPresenter.h"
#include "platform/core/Log.h"
#include "platform/core/OperationQueue.h"
#include "platform/core/Paths.h"
#include "platform/core/Scheduler.h"
#include "tests/crash/reports/ControllerTestSupport.h"
#include "tests/crash/reports/ReportTestSupport.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/RunUntil.h"
#include "tests/support/net/VendorServiceStandIn.h"

#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>

namespace corvex {
namespace {

QString startRoadRoot()
{
    return Paths::caches() + QStringLiteral("/com.blackbox.data/") + LOMEscapedBundleIdentifier();
}

// Replies to the prompt as told: "send" presses Send, "dont" Don't Send (or Escape), "quit"
// leaves it unanswered as a quit does.
class ScriptedPromptPresenter : public AlertPresenter
{
public:
    explicit ScriptedPromptPresenter(int answer) : mAnswer(answer) {}
    int runModal(const QString&, const QString&, const QStringList& buttons) override
    {
        std::printf("alert: %s\n", buttons.join(QLatin1Char('|')).toUtf8().constData());
        ++shown;
        return mAnswer;
    }
    std::atomic<int> shown{0};

private:
    int mAnswer;
};

// Listed in the order reports move on (active, processing, prepared), so that one moved by
// the work queue between two listings is met again in the later one.
bool startRoadTreeIsClean(const BBXFileManager& tree, const QString& own)
{
    const QStringList active = tree.activePathContents();
    if (active.size() != 1 || !active.front().endsWith(own))
        return false;
    return tree.processingPathContents().isEmpty() && tree.preparedPathContents().isEmpty();
}

// Whether the tree holds no report but this run's own.
bool onlyOwnReportLeft(const BBXFileManager& tree)
{
    return startRoadTreeIsClean(tree, Loom::sharedSDK().executionIdentifier());
}

// args: mode ("quiet", "prompt-quit", "prompt-send", "prompt-dont"; "held-quit", "held-release":
// the launch holds its work for the first frame, which never comes before the quit or comes
// after the start), the stand-in's address.
CORVEX_TEST_HELPER(start_road)
{
    Log::setSink([](LogLevel, const QString& message) {
        std::printf("log: %s\n", message.toUtf8().constData());
        std::fflush(stdout);
    });
    const QString mode = args.value(0);
    const bool prompt = mode.startsWith(QLatin1String("prompt"));
    const int answer = mode == QLatin1String("prompt-quit")   ? AlertPresenter::Unanswered
                       : mode == QLatin1String("prompt-dont") ? AlertPresenter::FirstButtonReturn + 2
                                                              : AlertPresenter::FirstButtonReturn;
    auto presenter = std::make_shared<ScriptedPromptPresenter>(answer);
    AlertPresenter::setRegistered(presenter);
    const Value kitSettings =
        prompt ? Value::fromVariant(QVariantMap{
                     {QStringLiteral("features"), QVariantMap{{QStringLiteral("prompt_enabled"), true}}}})
               : Value();
    auto tree = std::make_shared<BBXFileManager>(startRoadRoot());
    auto delegate = std::make_shared<test::TestControllerDelegate>(args.value(1), kitSettings);
    auto controller = BBXCrashReportingController::create(tree, delegate);
    const bool held = mode.startsWith(QLatin1String("held"));
    if (held)
        AfterFirstFrame::hold();
    if (!controller->startWithProfilingMark(MediaClock::now(), std::nullopt))
        return 2;
    const QString own = Loom::sharedSDK().executionIdentifier();
    bool settled = false;
    if (held) {
        // What the start left on the work queue is done: had it taken the reports up, they
        // would be on their way out of the active directory now.
        controller->operationQueue()->waitUntilAllOperationsAreFinished();
        std::printf("%s\n", onlyOwnReportLeft(*tree) ? "taken up at the start" : "kept for the first frame");
        std::fflush(stdout);
        if (mode == QLatin1String("held-release"))
            AfterFirstFrame::release();
    }
    if (mode == QLatin1String("prompt-quit")) {
        // The quit ends the process once the alert has ended.
        settled = test::runUntil([&] { return presenter->shown > 0; }, 20);
        controller->operationQueue()->waitUntilAllOperationsAreFinished();
    } else if (mode == QLatin1String("held-quit")) {
        // The quit comes through the main loop, after its first turn took the launch marker
        // away, before any frame was drawn.
        settled = test::runUntil([&] { return !QFile::exists(tree->launchMarkerPath()); }, 20) &&
                  AfterFirstFrame::holding();
    } else {
        settled = test::runUntil([&] { return startRoadTreeIsClean(*tree, own); }, 20);
    }
    std::printf("%s\n", settled ? "settled" : "unsettled");
    std::fflush(stdout);
    AlertPresenter::setRegistered(nullptr);
    return 0;
}

class StartRoadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mService.start());
        ASSERT_TRUE(mTree.prepareForNewLaunch());
    }

    // The helper's output: its log lines, alerts and verdict.
    QByteArray launch(const QString& mode)
    {
        auto run = test::HelperProcess::start(QStringLiteral("start_road"),
                                              {mode, QString::fromUtf8(mService.baseUrl())});
        EXPECT_TRUE(run);
        if (!run)
            return QByteArray();
        const QByteArray output = run->readAll();
        EXPECT_EQ(run->wait(), 0) << output.constData();
        EXPECT_TRUE(output.contains("\nsettled\n")) << output.constData();
        return output;
    }

    QList<QByteArray> reportIdsSent() const
    {
        QList<QByteArray> ids;
        for (const test::LoopbackRequest& upload :
             mService.requests(test::VendorServiceStandIn::Route::Reports)) {
            const QByteArray type = upload.header("Content-Type");
            auto parts = test::reportParts(upload.body, type.mid(type.indexOf("boundary=") + 9));
            ids.append(parts.count("report_id") ? parts["report_id"] : QByteArray("<unreadable>"));
        }
        return ids;
    }

    bool inActive(const QString& name) const { return QFileInfo::exists(mTree.activePath() + '/' + name); }

    test::VendorServiceStandIn mService{LOMEscapedBundleIdentifier().toUtf8()};
    BBXFileManager mTree{startRoadRoot()};
};

TEST_F(StartRoadTest, ALaunchAfterCrashesSendsEachReportWithoutAnErrorLineAndLogsAnUnreadableOneOnce)
{
    // Enough reports that the work queue moves some into processing while the start road
    // still reads the rest.
    const int earlier = 24;
    for (int i = 0; i < earlier; ++i) {
        const QByteArray id = "r" + QByteArray::number(i);
        test::writeMinimalReport(mTree.activePath() + '/' + QString::fromLatin1(id), id, true);
    }
    test::writeReportFile(mTree.processingPath() + QStringLiteral("/cut/signal.bbxrecord"),
                          "{\"signal\":{}}\n");
    const QByteArray output = launch(QStringLiteral("quiet"));
    QList<QByteArray> sent = reportIdsSent();
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent.size(), earlier);
    EXPECT_EQ(std::unique(sent.begin(), sent.end()), sent.end()) << "a report sent twice";
    // The one real error, once; nothing about the reports the start road took up itself.
    EXPECT_EQ(output.count("Unable to read identifier at path"), 1) << output.constData();
    EXPECT_TRUE(output.contains("Unable to read identifier at path " +
                                QFile::encodeName(mTree.processingPath()) + "/cut\n"));
    EXPECT_EQ(output.count("Removing unreadable report"), 1) << output.constData();
    for (const char* quiet : {"Failed to remove", "Failed to move", "Unable to package", "Unable to remove",
                              "Unable to move", "failed to submit"})
        EXPECT_FALSE(output.contains(quiet)) << quiet << "\n" << output.constData();
}

TEST_F(StartRoadTest, APromptEndedByTheQuitKeepsTheReportTheNextLaunchAsksAgainAndSendsIt)
{
    test::writeMinimalReport(mTree.activePath() + QStringLiteral("/p1"), "p1", true);
    const QByteArray quit = launch(QStringLiteral("prompt-quit"));
    EXPECT_EQ(quit.count("alert: Send|Always Send|Don't Send\n"), 1) << quit.constData();
    EXPECT_TRUE(inActive(QStringLiteral("p1")));
    EXPECT_TRUE(reportIdsSent().isEmpty());

    const QByteArray send = launch(QStringLiteral("prompt-send"));
    EXPECT_EQ(send.count("alert: "), 1) << send.constData();
    EXPECT_FALSE(inActive(QStringLiteral("p1")));
    EXPECT_EQ(reportIdsSent(), QList<QByteArray>{"p1"});

    // Don't Send (Escape stands for it) is an answer: the report goes, unsent.
    test::writeMinimalReport(mTree.activePath() + QStringLiteral("/p2"), "p2", true);
    const QByteArray dont = launch(QStringLiteral("prompt-dont"));
    EXPECT_EQ(dont.count("alert: "), 1) << dont.constData();
    EXPECT_FALSE(inActive(QStringLiteral("p2")));
    EXPECT_EQ(reportIdsSent(), QList<QByteArray>{"p1"});
}

TEST_F(StartRoadTest, EarlierReportsWaitForTheFirstFrameAreKeptByAQuitBeforeItAndGoUrgentlyAfterAFailedLaunch)
{
    for (const char* id : {"h1", "h2"})
        test::writeMinimalReport(mTree.activePath() + '/' + QString::fromLatin1(id), id, true);
    // Quit before the first frame: nothing was taken up, nothing is lost.
    const QByteArray quit = launch(QStringLiteral("held-quit"));
    EXPECT_TRUE(quit.contains("kept for the first frame\n")) << quit.constData();
    EXPECT_TRUE(inActive(QStringLiteral("h1")) && inActive(QStringLiteral("h2")));
    EXPECT_TRUE(reportIdsSent().isEmpty());

    // The next launch's first frame lets them go, each once.
    const QByteArray framed = launch(QStringLiteral("held-release"));
    EXPECT_TRUE(framed.contains("kept for the first frame\n")) << framed.constData();
    QList<QByteArray> sent = reportIdsSent();
    std::sort(sent.begin(), sent.end());
    EXPECT_EQ(sent, (QList<QByteArray>{"h1", "h2"}));

    // After a launch that failed, the earlier reports go inside the start, frame or not.
    test::writeMinimalReport(mTree.activePath() + QStringLiteral("/h3"), "h3", true);
    ASSERT_TRUE(test::writeReportFile(mTree.launchMarkerPath(), QByteArray()));
    const QByteArray urgent = launch(QStringLiteral("held-quit"));
    EXPECT_TRUE(urgent.contains("taken up at the start\n")) << urgent.constData();
    EXPECT_FALSE(inActive(QStringLiteral("h3")));
    EXPECT_EQ(reportIdsSent().count("h3"), 1);
}

} // namespace
} // namespace corvex
