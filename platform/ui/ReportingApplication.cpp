#include "platform/ui/ReportingApplication.h"

#include "platform/core/Error.h"
#include "platform/core/ExceptionReporter.h"
#include "platform/ui/FrameTrace.h"
#include "platform/ui/WindowTeardown.h"

#include <optional>

namespace corvex {

ReportingApplication::ReportingApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool ReportingApplication::notify(QObject* receiver, QEvent* event)
{
    const FrameTrace::Scope tracing(FrameTrace::phaseOfEvent(*event));
    // Windows close and hosts die only once Qt is through with every window it holds.
    std::optional<WindowTeardown::Delivery> delivery;
    if (receiver && (receiver->isWidgetType() || receiver->isWindowType()))
        delivery.emplace();
    try {
        return QApplication::notify(receiver, event);
    } catch (const Exception& exception) {
        ExceptionReporter::report(exception);
        return false;
    }
}

} // namespace corvex
