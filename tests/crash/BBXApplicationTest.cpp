#include "crash/runtime/BBXApplication.h"
#include "crash/runtime/BBXWebView.h"
#include "platform/core/OperationQueue.h"
#include "tests/crash/CrashTestSupport.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <tuple>

using namespace corvex;
using namespace corvex::test;

TEST(BBXApplication, ActivitiesAreRecordedWhileTheyLast)
{
    const int sudden = BBXApplicationSuddenTerminationDisableCount();
    const int automatic = BBXApplicationAutomaticTerminationDisableCount();
    const QVariantMap token = BBXApplicationBeginActivity(BBXActivitySuddenTerminationDisabled |
                                                              BBXActivityAutomaticTerminationDisabled,
                                                          QStringLiteral("Sending"));
    EXPECT_EQ(token.value(QStringLiteral("reason")).toString(), QStringLiteral("Sending"));
    EXPECT_EQ(BBXApplicationSuddenTerminationDisableCount(), sudden + 1);
    EXPECT_EQ(BBXApplicationAutomaticTerminationDisableCount(), automatic + 1);
    BBXApplicationActivity(BBXActivitySuddenTerminationDisabled, QStringLiteral("inner"),
                           [&] { EXPECT_EQ(BBXApplicationSuddenTerminationDisableCount(), sudden + 2); });
    BBXApplicationEndActivity(token);
    EXPECT_EQ(BBXApplicationSuddenTerminationDisableCount(), sudden);
    EXPECT_EQ(BBXApplicationAutomaticTerminationDisableCount(), automatic);
    EXPECT_FALSE(BBXApplicationIsExtension());
}

TEST(BBXApplication, DelayedOperationsAndProfilingRunOnTheMediaClock)
{
    ScopedVirtualTime time;
    auto queue = std::make_shared<OperationQueue>(QStringLiteral("com.loomworks.blackbox.mac.work-queue"));
    std::atomic<int> ran{0};
    const std::uint64_t mark = BBXProfileMarkStart();
    BBXAddOperationAfterDelay(
        queue, [&ran] { ++ran; }, 600);
    auto gone = std::make_shared<OperationQueue>();
    BBXAddOperationAfterDelay(
        gone, [&ran] { ran += 100; }, 1);
    gone.reset();
    time.advance(599);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_DOUBLE_EQ(BBXProfileEnd(mark), 599000.0);
    time.advance(1);
    EXPECT_TRUE(runUntil([&] { return ran.load() == 1; }));
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 1);
}

TEST(BBXWebView, ScriptMessagesBecomeJavascriptExceptions)
{
    EXPECT_FALSE(BBXWKWebViewInstallUserScript(nullptr));
    EXPECT_TRUE(QByteArray(BBXWKWebViewUserScriptSource()).contains("messageHandlers.blackbox.postMessage"));
    const QVariantMap body{{QStringLiteral("msg"), QStringLiteral("ReferenceError: x")},
                           {QStringLiteral("line"), 3}};
    EXPECT_FALSE(BBXWKWebViewRecordScriptMessage(body)) << "no recorder yet";

    QList<std::tuple<int, QByteArray, QByteArray>> recorded;
    BBXWKWebViewSetExceptionRecorder([&](int type, const QByteArray& name, const QByteArray& reason) {
        recorded.append({type, name, reason});
        return true;
    });
    EXPECT_TRUE(BBXWKWebViewRecordScriptMessage(body));
    EXPECT_FALSE(BBXWKWebViewRecordScriptMessage(QStringLiteral("a text body")));
    BBXWKWebViewSetExceptionRecorder({});
    ASSERT_EQ(recorded.size(), 1);
    EXPECT_EQ(recorded[0], std::make_tuple(3, QByteArray("exception"), QByteArray("ReferenceError: x")));
}
