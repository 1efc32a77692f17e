#include "tests/support/CompletionRecorder.h"
#include "platform/core/MainQueue.h"
#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

// A completion answered inside the call that took it fails the test; one answered in a
// later turn, from the event loop or from virtual time, passes.
TEST(CompletionRecorderTest, FailsAnAnswerInsideTheCallAndPassesALaterOne)
{
    EXPECT_NONFATAL_FAILURE(
        {
            CompletionRecorder recorder;
            recorder.expect<int>(QStringLiteral("synchronous"))(1);
        },
        "completion \"synchronous\" called inside the call that took it");

    CompletionRecorder recorder;
    auto fromLoop = recorder.expect<int>(QStringLiteral("from the loop"));
    MainQueue::post([fromLoop] { fromLoop(2); });
    EXPECT_TRUE(recorder.waitAll());
    EXPECT_EQ(recorder.callCount(QStringLiteral("from the loop")), 1);

    ScopedVirtualTime time;
    auto fromVirtualTime = recorder.expect<int>(QStringLiteral("from virtual time"));
    MainQueue::post([fromVirtualTime] { fromVirtualTime(3); });
    EXPECT_EQ(time.runDue(), 1);
    EXPECT_TRUE(recorder.verify());
}
