#include "app/ApplicationAssembly.h"
#include "platform/core/StartupTrace.h"

// The program's first code to run: the loader has loaded and relocated every library and run
// their constructors; this program's own come next.
__attribute__((constructor(101))) static void markLibrariesLoaded()
{
    corvex::StartupTrace::mark("libraries loaded");
}

int main(int argc, char** argv)
{
    corvex::StartupTrace::mark("main");
    return corvex::runCorvex(argc, argv);
}
