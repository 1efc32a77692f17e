#include "platform/core/QuitHold.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <vector>

using namespace corvex;
using corvex::test::CompletionRecorder;
using corvex::test::LogCapture;
using corvex::test::ScopedVirtualTime;

namespace {

// When the last hold goes, seconds after the wait began; never, or at all.
struct QuitHoldCase
{
    const char* name;
    bool held;
    std::optional<double> releasedAfter; // on another thread
    bool answer;                         // what the waiter hears
    double answeredAfter;                // seconds after the wait began
};

const QuitHoldCase kQuitHoldCases[] = {
    {"NothingHeld", false, std::nullopt, true, 0.0},
    {"ReleasedWithinTheBound", true, 3.0, true, 3.0},
    {"ReleasedAfterTheBound", true, 12.0, false, 10.0},
    {"NeverReleased", true, std::nullopt, false, 10.0},
};

} // namespace

TEST(QuitHold, AWaiterHearsOnceOnTheMainQueueWhenTheLastHoldGoesOrTheBoundPasses)
{
    for (const QuitHoldCase& c : kQuitHoldCases) {
        SCOPED_TRACE(c.name);
        ScopedVirtualTime time;
        LogCapture log;
        std::optional<QuitHold> first;
        std::optional<QuitHold> second;
        if (c.held) {
            first.emplace(QStringLiteral("writing first"));
            second.emplace(QStringLiteral("writing second"));
            // The first goes at once: one hold still keeps the waiter waiting.
            first.reset();
        }
        EXPECT_EQ(QuitHold::held(), c.held ? 1 : 0);
        CompletionRecorder recorder;
        std::vector<std::pair<bool, double>> heard;
        const double start = time.now();
        const std::function<void(bool)> hear = [&](bool released) {
            heard.emplace_back(released, time.now() - start);
        };
        QuitHold::whenReleased(10.0, recorder.expect<bool>(QStringLiteral("released"), hear));
        for (double at = 0.5; at <= 20.0; at += 0.5) {
            time.advance(0.5);
            if (c.releasedAfter && at == *c.releasedAfter)
                std::thread([&second] { second.reset(); }).join();
        }
        second.reset();
        time.advance(1.0);
        ASSERT_EQ(heard.size(), 1u);
        EXPECT_EQ(heard.front().first, c.answer);
        EXPECT_DOUBLE_EQ(heard.front().second, c.answeredAfter);
        EXPECT_EQ(log.contains(QStringLiteral("writing second")), !c.answer);
        EXPECT_FALSE(log.contains(QStringLiteral("writing first")));
        EXPECT_EQ(QuitHold::held(), 0);
    }
}
