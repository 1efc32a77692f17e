#include "toolkit/CodeOptimizationTimer.h"

#include "tests/support/VirtualScheduler.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(CodeOptimizationTimer, IsSwitchedOffCreationAnswersNothingAndMeasurementsYieldZero)
{
    corvex::test::ScopedVirtualTime time;
    auto unnamed = CodeOptimizationTimer::create();
    auto named = CodeOptimizationTimer::create(QStringLiteral("layout"));
    EXPECT_EQ(unnamed, nullptr);
    EXPECT_EQ(named, nullptr);

    time.advance(2.5);
    EXPECT_EQ(CodeOptimizationTimer::lapOf(named.get(), QStringLiteral("first")), 0.0);
    EXPECT_EQ(CodeOptimizationTimer::totalOf(named.get(), QStringLiteral("all")), 0.0);
}
