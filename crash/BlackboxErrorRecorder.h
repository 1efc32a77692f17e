#pragma once

#include "model/NonFatalErrorRecorder.h"

namespace corvex {

// Files Globals' non-fatal errors with the crash reporter (the shell installs it at launch).
class BlackboxErrorRecorder : public NonFatalErrorRecorder
{
public:
    void recordError(const Error& error) override;
    // Installs one as the shared recorder.
    static void install();
};

} // namespace corvex
