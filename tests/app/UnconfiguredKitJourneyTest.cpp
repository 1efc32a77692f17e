// The shipped build, launched with no service configured for the reporting kit: it asks
// nothing of any server, logs no failure, says once that it has nothing to ask, and what the
// crash reporter and analytics keep on disk is the user's alone.

#include "platform/core/Paths.h"
#include "tests/app/AppChild.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace corvex::test {

namespace {

TEST(UnconfiguredKitJourney, ALaunchAsksNothingLogsNoFailureAndKeepsItsRecordsToTheUser)
{
    for (const char* variable :
         {"SettingsEndpoint", "ConfigureEndpoint", "BlackboxReportsEndpoint", "BlackboxBetaEndpoint"})
        qunsetenv(variable);
    const ScopedUmask umask(022);
    auto child = AppChild::startBinary();
    ASSERT_NE(child, nullptr);
    const QString logPath = testDir() + QStringLiteral("/corvex.log");
    const QByteArray said = "[Loom] No settings endpoint is configured: the kit makes no requests";
    // The kit turns to its settings once the first window is drawn; the child's log is looked
    // at until it says so.
    QDeadlineTimer deadline(60000);
    while (!readFile(logPath).contains(said) && !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_TRUE(readFile(logPath).contains(said)) << readFile(logPath).constData();
    ASSERT_TRUE(child->signal(SIGTERM));
    const AppEnding ending = child->waitForEnd(20.0);
    EXPECT_TRUE(ending.clean()) << ending.describe().toStdString();
    const QByteArray log = readFile(logPath);
    EXPECT_EQ(log.count(said), 1) << log.constData();
    for (const char* failure : {"failed to download settings", "failed to submit report", "reserved name",
                                "non-Blackbox handler", "Unable to"})
        EXPECT_FALSE(log.contains(failure)) << failure << "\n" << log.constData();
    const QString records = Paths::caches() + QStringLiteral("/com.blackbox.data");
    ASSERT_TRUE(QFileInfo(records).isDir()) << records.toStdString();
    EXPECT_EQ(widerThanTheUsers(records), QStringList());
}

} // namespace

} // namespace corvex::test
