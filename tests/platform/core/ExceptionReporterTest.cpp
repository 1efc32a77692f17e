#include "platform/core/ExceptionReporter.h"
#include "platform/core/Error.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

namespace corvex::test {
namespace {

QString gExceptionReporterSeen;

void recordingReporter(const Exception& exception)
{
    gExceptionReporterSeen = exception.name() + QLatin1Char('/') + exception.reason();
}

TEST(ExceptionReporter, aSwappedFunctionGetsTheExceptionAndHandsBackTheOneItReplaced)
{
    LogCapture log;
    const Exception exception(QStringLiteral("ProbeException"), QStringLiteral("escaped a handler"));
    ExceptionReporter::report(exception);
    EXPECT_TRUE(log.contains(QStringLiteral("ProbeException: escaped a handler")));

    const ExceptionReporter::Function previous = ExceptionReporter::swap(recordingReporter);
    EXPECT_EQ(previous, &ExceptionReporter::logException);
    ExceptionReporter::report(exception);
    EXPECT_EQ(gExceptionReporterSeen, QStringLiteral("ProbeException/escaped a handler"));
    // Swapping in none puts the default back.
    EXPECT_EQ(ExceptionReporter::swap(nullptr), &recordingReporter);
    EXPECT_EQ(ExceptionReporter::current(), &ExceptionReporter::logException);
}

} // namespace
} // namespace corvex::test
