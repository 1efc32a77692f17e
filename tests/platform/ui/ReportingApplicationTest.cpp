// An Exception escaping an event handler reaches ExceptionReporter and the event loop goes
// on; the application object is made in a child, which has none of its own yet.

#include "platform/ui/ReportingApplication.h"
#include "platform/core/Error.h"
#include "platform/core/ExceptionReporter.h"
#include "tests/support/HelperProcess.h"

#include <QEvent>
#include <QObject>
#include <cstdio>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

class ThrowingObject : public QObject
{
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User)
            throw Exception(QStringLiteral("HandlerException"), QStringLiteral("escaped"));
        return QObject::event(event);
    }
};

void printReported(const Exception& exception)
{
    std::printf("reported %s %s\n", qPrintable(exception.name()), qPrintable(exception.reason()));
}

} // namespace
} // namespace corvex::test

CORVEX_TEST_HELPER_WITHOUT_APPLICATION(reporting_application)
{
    int argc = 1;
    char name[] = "reporting_application";
    char* argv[] = {name, nullptr};
    corvex::ReportingApplication application(argc, argv);
    corvex::ExceptionReporter::swap(corvex::test::printReported);
    corvex::test::ThrowingObject object;
    QEvent event(QEvent::User);
    const bool handled = QCoreApplication::sendEvent(&object, &event);
    std::printf("handled %d\n", handled ? 1 : 0);
    return 0;
}

namespace corvex::test {
namespace {

TEST(ReportingApplication, anExceptionEscapingAHandlerIsReportedAndTheEventCountsAsUnhandled)
{
    std::unique_ptr<HelperProcess> child = HelperProcess::start(QStringLiteral("reporting_application"));
    ASSERT_TRUE(child);
    EXPECT_EQ(child->readAll(), QByteArray("reported HandlerException escaped\nhandled 0\n"));
    EXPECT_EQ(child->wait(), 0);
}

} // namespace
} // namespace corvex::test
