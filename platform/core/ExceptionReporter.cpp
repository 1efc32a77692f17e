#include "platform/core/ExceptionReporter.h"

#include "platform/core/Error.h"
#include "platform/core/Log.h"

#include <atomic>

namespace corvex {

namespace {

std::atomic<ExceptionReporter::Function> gExceptionReporterFunction{&ExceptionReporter::logException};

} // namespace

ExceptionReporter::Function ExceptionReporter::swap(Function replacement)
{
    return gExceptionReporterFunction.exchange(replacement ? replacement : &ExceptionReporter::logException);
}

ExceptionReporter::Function ExceptionReporter::current()
{
    return gExceptionReporterFunction.load();
}

void ExceptionReporter::report(const Exception& exception)
{
    current()(exception);
}

void ExceptionReporter::logException(const Exception& exception)
{
    Log::error(QStringLiteral("Exception escaped an event handler: %1: %2")
                   .arg(exception.name(), exception.reason()));
}

} // namespace corvex
