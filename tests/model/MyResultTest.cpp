#include "model/MyResult.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;
using corvex::test::LogCapture;

TEST(MyResult, SharedInstancesAreMadeOnceAndToldApartByIdentity)
{
    const MyResultPtr ok = MyResult::OK();
    const MyResultPtr cancel = MyResult::USER_CANCEL();
    ASSERT_TRUE(ok);
    ASSERT_TRUE(cancel);
    EXPECT_EQ(MyResult::OK(), ok);
    EXPECT_EQ(MyResult::USER_CANCEL(), cancel);
    EXPECT_EQ(ok->description(), "No error");
    EXPECT_EQ(cancel->description(), "User canceled");
    EXPECT_TRUE(ok->isOK());
    EXPECT_FALSE(ok->isError());
    EXPECT_FALSE(cancel->isOK());
    EXPECT_FALSE(cancel->isError());
}

TEST(MyResult, SharedInstancesAreTheSameForThreadsThatAskFirst)
{
    std::vector<std::thread> threads;
    std::vector<const MyResult*> oks(8), cancels(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            oks[i] = MyResult::OK().get();
            cancels[i] = MyResult::USER_CANCEL().get();
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(oks[i], MyResult::OK().get());
        EXPECT_EQ(cancels[i], MyResult::USER_CANCEL().get());
    }
}

TEST(MyResult, ErrorsTakeTheTableTextElseTheDefault)
{
    LogCapture log;
    const MyResultPtr unknown = MyResult::error("mac:Error:FailedToOpenFile", "Failed to open file");
    EXPECT_EQ(unknown->description(), "Failed to open file");
    EXPECT_TRUE(unknown->isError());
    EXPECT_FALSE(unknown->isOK());

    const MyResultPtr known = MyResult::error("Choice.Cancel", "Abort");
    EXPECT_EQ(known->description(), "Cancel");
    EXPECT_NE(MyResult::error("a", "b"), MyResult::error("a", "b"));
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
}

TEST(MyResult, AnErrorReadingLikeASharedInstanceIsStillAnError)
{
    const MyResultPtr noError = MyResult::error("Test.Unknown", "No error");
    EXPECT_EQ(noError->description(), MyResult::OK()->description());
    EXPECT_TRUE(noError->isError());
    EXPECT_FALSE(noError->isOK());
    const MyResultPtr canceled = MyResult::error("Test.Unknown", "User canceled");
    EXPECT_TRUE(canceled->isError());
}

TEST(MyResult, AMissingDefaultLogsTheAssertionAndGoesOn)
{
    LogCapture log;
    const MyResultPtr result = MyResult::error("Test.Unknown", QString());
    EXPECT_EQ(log.count("ERROR: Assertion failure: +[MyResult error:desc:]"), 1)
        << log.lines().join('\n').toStdString();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->description(), "Test.Unknown");
    EXPECT_TRUE(result->isError());

    // An empty default is a text, not a missing one.
    log.clear();
    EXPECT_EQ(MyResult::error("Test.Unknown", "")->description(), "Test.Unknown");
    EXPECT_FALSE(log.contains("Assertion failure"));
}

TEST(MyResult, NothingToLookUpGivesTheGenericMessage)
{
    LogCapture log;
    EXPECT_EQ(MyResult::withKey(QString(), QString())->description(),
              "Sorry, an error occurred during operation");
    EXPECT_EQ(MyResult::error(QString(), QString())->description(),
              "Sorry, an error occurred during operation");
    EXPECT_EQ(MyResult::error(QString(), "Default only")->description(), "Default only");
    EXPECT_EQ(log.count("+[MyResult error:desc:]"), 1);
}
