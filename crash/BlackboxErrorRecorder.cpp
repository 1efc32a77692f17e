#include "crash/BlackboxErrorRecorder.h"

#include "crash/Blackbox.h"

namespace corvex {

void BlackboxErrorRecorder::recordError(const Error& error)
{
    Blackbox::sharedInstance()->recordError(error);
}

void BlackboxErrorRecorder::install()
{
    NonFatalErrorRecorder::install(std::make_shared<BlackboxErrorRecorder>());
}

} // namespace corvex
