#include "platform/core/AfterFirstFrame.h"
#include "tests/support/VirtualScheduler.h"

#include <QString>
#include <gtest/gtest.h>
#include <vector>

using namespace corvex;
using corvex::test::ScopedVirtualTime;

TEST(AfterFirstFrame, HeldWorkRunsInOrderAfterTheFrameOrTheTimeLimitAndNothingWaitsOutsideAHold)
{
    ScopedVirtualTime time;
    std::vector<QString> ran;
    auto work = [&ran](const char* name) {
        return [&ran, name] { ran.push_back(QString::fromLatin1(name)); };
    };

    // A process without a launch waits for nothing.
    AfterFirstFrame::post(work("unheld"));
    EXPECT_EQ(ran, std::vector<QString>{QStringLiteral("unheld")});

    // Held: nothing runs until the frame, then each in its own turn after the frame's.
    AfterFirstFrame::hold();
    AfterFirstFrame::post(work("preload"));
    AfterFirstFrame::post(work("settings"));
    time.advance(1.0);
    EXPECT_EQ(ran.size(), 1u);
    AfterFirstFrame::release();
    EXPECT_EQ(ran.size(), 1u) << "held work ran inside the frame's turn";
    time.advance(0.0);
    EXPECT_EQ(ran, (std::vector<QString>{QStringLiteral("unheld"), QStringLiteral("preload"),
                                         QStringLiteral("settings")}));
    EXPECT_FALSE(AfterFirstFrame::holding());
    // The time limit's timer went with the hold: it releases nothing later.
    time.advance(AfterFirstFrame::MaxHoldSeconds);
    EXPECT_EQ(ran.size(), 3u);

    // A launch whose first frame never comes lets its work go at the time limit, once.
    AfterFirstFrame::hold();
    AfterFirstFrame::post(work("reports"));
    time.advance(AfterFirstFrame::MaxHoldSeconds - 0.01);
    EXPECT_EQ(ran.size(), 3u);
    time.advance(0.01);
    ASSERT_EQ(ran.size(), 4u);
    EXPECT_EQ(ran.back(), QStringLiteral("reports"));
    AfterFirstFrame::release();
    time.advance(0.0);
    EXPECT_EQ(ran.size(), 4u);
}
