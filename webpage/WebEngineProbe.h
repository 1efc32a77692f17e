#pragma once

#include <cstring>

namespace corvex {

// Whether the web engine can start in this process's conditions. An engine that cannot start
// (its helper program missing or failing, no usable sandbox) does not report it: it ends the
// whole process. So before the first page view the engine is started once in a child, this
// program again with kProbeArgument, which shows an empty page and ends; only when that child
// ends well does this process start the engine itself. Main thread only.
class WebEngineProbe
{
public:
    static constexpr const char* kProbeArgument = "--corvex-web-engine-probe";
    // How long the child may take.
    static constexpr int kProbeMilliseconds = 20000;

    // The answer, found on the first call (the child run then) and kept for the process.
    static bool engineStarts();

    // Whether these arguments make this process the child. Header-only: the program asks
    // before it opens the module that holds the rest.
    static bool isProbeRun(int argc, char** argv)
    {
        return argc >= 2 && std::strcmp(argv[1], kProbeArgument) == 0;
    }

    // In the child: starts the engine without a display, shows an empty page and answers the
    // exit code (0: it started). Makes the application object itself.
    static int runCheck(int argc, char** argv);
};

} // namespace corvex
