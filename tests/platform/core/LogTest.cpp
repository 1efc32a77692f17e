#include "platform/core/Log.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(Log, AssertionLinesHaveTheirFixedShapes)
{
    test::LogCapture log;
    Log::assertionFailure(73, "-[Idea addIdea:]");
    Log::assertionFailure(1234, "m");
    Log::assertionFailure(QStringLiteral("no such child"));
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("ERROR: Assertion failure, line: 073 -[Idea addIdea:]"));
    EXPECT_EQ(lines[1], QStringLiteral("ERROR: Assertion failure, line: 1234 m"));
    EXPECT_EQ(lines[2], QStringLiteral("ERROR: Assertion failure: no such child"));
}

TEST(Log, CaptureRestoresThePreviousSink)
{
    test::LogCapture outer;
    {
        test::LogCapture inner;
        Log::info(QStringLiteral("inner"));
        EXPECT_EQ(inner.count(QStringLiteral("inner")), 1);
    }
    Log::info(QStringLiteral("outer"));
    EXPECT_EQ(outer.count(QStringLiteral("outer")), 1);
    EXPECT_EQ(outer.count(QStringLiteral("inner")), 0);
}
