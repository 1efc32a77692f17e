#pragma once

#include "platform/core/Error.h"

#include <memory>

namespace corvex {

// Where non-fatal errors go: Globals::raiseCorvexError() and raiseCorvexURLError() hand
// their errors to the shared recorder. The crash reporter installs its own subclass, which
// files them as non-fatal error reports; until then this class only writes them to the error
// log (it records nothing).
//
// Safe from any thread: the shared recorder is swapped and read under a lock, and a call in
// progress keeps its recorder alive.
class NonFatalErrorRecorder
{
public:
    NonFatalErrorRecorder() = default;
    virtual ~NonFatalErrorRecorder();
    NonFatalErrorRecorder(const NonFatalErrorRecorder&) = delete;
    NonFatalErrorRecorder& operator=(const NonFatalErrorRecorder&) = delete;

    // Logs "Non-fatal error (not recorded): <domain> <code>: <description>" at error level.
    virtual void recordError(const Error& error);

    // The installed recorder, else the logging default. Never nullptr.
    static std::shared_ptr<NonFatalErrorRecorder> sharedInstance();
    // Installs a recorder (nullptr goes back to the logging default) and answers the
    // previous one (nullptr when it was the default).
    static std::shared_ptr<NonFatalErrorRecorder> install(std::shared_ptr<NonFatalErrorRecorder> recorder);
};

} // namespace corvex
