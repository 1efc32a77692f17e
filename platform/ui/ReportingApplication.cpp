#include "platform/ui/ReportingApplication.h"

#include "platform/core/Error.h"
#include "platform/core/ExceptionReporter.h"
#include "platform/ui/FrameTrace.h"

namespace corvex {

ReportingApplication::ReportingApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool ReportingApplication::notify(QObject* receiver, QEvent* event)
{
    const FrameTrace::Scope tracing(FrameTrace::phaseOfEvent(*event));
    try {
        return QApplication::notify(receiver, event);
    } catch (const Exception& exception) {
        ExceptionReporter::report(exception);
        return false;
    }
}

} // namespace corvex
