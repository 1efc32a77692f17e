#include "tallykit/TLYLogger.h"
#include "tallykit/Tally.h"
#include "tests/support/LogCapture.h"
#include "tests/tallykit/TallyTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(TallyFacade, LogsOnlyInDebugModeAndStartsOnce)
{
    {
        test::LogCapture log;
        TLYLogger::sharedLogger().setDebugMode(false);
        TLYLogger::sharedLogger().log(QStringLiteral("Initialized"));
        EXPECT_TRUE(log.lines().isEmpty());
        TLYLogger::sharedLogger().setDebugMode(true);
        TLYLogger::sharedLogger().log(QStringLiteral("Initialized"));
        TLYLogger::sharedLogger().logWithLabel(
            QStringLiteral("CleanupOperation"),
            QStringLiteral("Failed to remove %1: %2").arg(QStringLiteral("a"), QStringLiteral("b")));
        EXPECT_TRUE(log.contains(QStringLiteral("[Tally] Initialized")));
        EXPECT_TRUE(log.contains(QStringLiteral("[Tally:CleanupOperation] Failed to remove a: b")));
        TLYLogger::sharedLogger().setDebugMode(false);
    }
    // Before any start nothing is recorded and nothing raised.
    Tally::logCustomEventWithName(QStringLiteral("early"), Value());
    Tally::logPreviousSessionCrashedOnDate(std::nullopt);
    EXPECT_FALSE(Tally::sharedInstance().tallyController());

    // The registry outlives the process's one controller.
    static test::TallyRegistry* const registry = new test::TallyRegistry;
    Tally::sharedInstance().setStartEnvironment(&registry->loom, test::tallyRoot());
    Tally::startWithBetaToken(QStringLiteral("2:first"));
    const std::shared_ptr<TLYTallyController> first = Tally::sharedInstance().tallyController();
    ASSERT_TRUE(first);
    Tally::startWithBetaToken(QStringLiteral("2:second"));
    EXPECT_EQ(Tally::sharedInstance().tallyController(), first);
    Tally::logPreviousSessionCrashedOnDate(std::nullopt);
    first->waitUntilIdle();
    // The first token is the one the logs carry.
    QByteArray logs;
    for (const QString& name : test::tallyFiles(QStringLiteral("log")))
        logs += test::tallyRead(test::tallyEventDir() + u'/' + name);
    EXPECT_TRUE(logs.contains("\"beta_tester_token\":\"first\""));
    EXPECT_FALSE(logs.contains("second"));
    EXPECT_FALSE(logs.contains("app_crashed"));
}
