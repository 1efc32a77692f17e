#include "platform/core/Log.h"
#include "tests/support/LogCapture.h"

#include <QDateTime>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

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

// Without a sink a line goes to stderr, stamped with the local time (the tests run in a zone
// away from UTC) to the millisecond, then the program's name and process.
TEST(Log, AStderrLineIsStampedWithTheLocalTime)
{
    const Log::Sink previous = Log::setSink(nullptr);
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    std::FILE* captured = std::tmpfile();
    ASSERT_NE(captured, nullptr);
    ::dup2(::fileno(captured), STDERR_FILENO);
    const QDateTime before = QDateTime::currentDateTime();
    Log::info(QStringLiteral("stamped"));
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    Log::setSink(previous);

    std::rewind(captured);
    char buffer[256] = {};
    const std::size_t read = std::fread(buffer, 1, sizeof buffer - 1, captured);
    std::fclose(captured);
    const QString line = QString::fromUtf8(buffer, qsizetype(read));
    const QDateTime stamp = QDateTime::fromString(line.left(23), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    ASSERT_TRUE(stamp.isValid()) << line.toStdString();
    EXPECT_LE(std::abs(before.msecsTo(stamp)), 1000) << line.toStdString();
    EXPECT_TRUE(line.endsWith(QStringLiteral("[%1] stamped\n").arg(::getpid()))) << line.toStdString();
}
