#pragma once

#include <QApplication>

namespace corvex {

// The QApplication the application runs on: an Exception escaping an event handler is handed
// to ExceptionReporter (which logs it, or the crash reporter records it) and the event counts
// as not handled, so the event loop goes on. Other exceptions are left to terminate.
class ReportingApplication : public QApplication
{
public:
    ReportingApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace corvex
