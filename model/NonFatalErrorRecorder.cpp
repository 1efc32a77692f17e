#include "model/NonFatalErrorRecorder.h"

#include "platform/core/Log.h"

#include <mutex>

namespace corvex {

namespace {

struct Installed
{
    std::mutex mutex;
    std::shared_ptr<NonFatalErrorRecorder> recorder;
};

// Never destroyed: errors may be raised from other statics' destructors at exit.
Installed& installed()
{
    static Installed* const state = new Installed();
    return *state;
}

} // namespace

NonFatalErrorRecorder::~NonFatalErrorRecorder() = default;

void NonFatalErrorRecorder::recordError(const Error& error)
{
    Log::error(QStringLiteral("Non-fatal error (not recorded): ") + error.toString());
}

std::shared_ptr<NonFatalErrorRecorder> NonFatalErrorRecorder::sharedInstance()
{
    static const std::shared_ptr<NonFatalErrorRecorder>* const fallback =
        new std::shared_ptr<NonFatalErrorRecorder>(std::make_shared<NonFatalErrorRecorder>());
    Installed& state = installed();
    std::lock_guard lock(state.mutex);
    return state.recorder ? state.recorder : *fallback;
}

std::shared_ptr<NonFatalErrorRecorder>
NonFatalErrorRecorder::install(std::shared_ptr<NonFatalErrorRecorder> recorder)
{
    Installed& state = installed();
    std::lock_guard lock(state.mutex);
    std::swap(state.recorder, recorder);
    return recorder;
}

} // namespace corvex
