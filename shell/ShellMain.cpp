#include "shell/ShellMain.h"

#include "kit/core/Loom.h"
#include "platform/core/LaunchSeams.h"
#include "platform/ui/Application.h"
#include "shell/AppDelegate.h"
#include "tallykit/Tally.h"

namespace corvex {

int applicationMain(int argc, char** argv)
{
    // Qt keeps references to argc and argv for the application's life.
    static int argumentCount = argc;
    Application application(argumentCount, argv);
    // Launch step 1 starts the reporting kit with the kits the information dictionary lists;
    // a misconfigured dictionary is logged there and Corvex runs on without the kit.
    ReportingKitLaunch::setHook([] {
        Tally::registerKitClass();
        Loom::startAtLaunch({});
    });
    auto delegate = AppDelegate::install();
    application.setHandler(delegate.get());
    const int code = application.run();
    application.setHandler(nullptr);
    AppDelegate::uninstall();
    return code;
}

} // namespace corvex
