#pragma once

#include <QString>

namespace corvex {

class Exception;

// What the application object does with an exception that escaped an event handler: one
// swappable function, so that the crash reporter can record such exceptions and then hand
// them on to the function it replaced. The default logs the exception and lets the event
// loop go on.
class ExceptionReporter
{
public:
    using Function = void (*)(const Exception& exception);

    // Installs `replacement` (null: the default) and answers the function it replaced.
    static Function swap(Function replacement);
    static Function current();
    // Calls the current function. Any thread.
    static void report(const Exception& exception);
    static void logException(const Exception& exception);

    // The user default under which a crash reporter may take the function over.
    static QString crashOnExceptionsKey() { return QStringLiteral("NSApplicationCrashOnExceptions"); }
};

} // namespace corvex
