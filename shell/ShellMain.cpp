#include "shell/ShellMain.h"

#include "crash/Blackbox.h"
#include "crash/BlackboxErrorRecorder.h"
#include "kit/core/Loom.h"
#include "platform/core/LaunchSeams.h"
#include "platform/net/DBClientsManager.h"
#include "platform/ui/Application.h"
#include "platform/ui/RunnerAlertPresenter.h"
#include "shell/AppDelegate.h"
#include "tallykit/Tally.h"

namespace corvex {

int applicationMain(int argc, char** argv, const std::function<void()>& registerScreens)
{
    // Qt keeps references to argc and argv for the application's life.
    static int argumentCount = argc;
    Application application(argumentCount, argv);
    // Launch step 1 starts the reporting kit with the kits the information dictionary lists;
    // a misconfigured dictionary is logged there and Corvex runs on without the kit.
    ReportingKitLaunch::setHook([] {
        Tally::registerKitClass();
        Blackbox::registerKitClass();
        RunnerAlertPresenter::registerPresenter();
        BlackboxErrorRecorder::install();
        Loom::startAtLaunch({Blackbox::kitClass()});
    });
    auto delegate = AppDelegate::install();
    delegate->setScreenRegistration([registerScreens] {
        // The Dropbox sign-in answers the redirect links from the first launch file on.
        DBClientsManager::setupWithAppKeyDesktop(DropboxSignInService::appKey());
        if (registerScreens)
            registerScreens();
    });
    application.setHandler(delegate.get());
    const int code = application.run();
    application.setHandler(nullptr);
    AppDelegate::uninstall();
    return code;
}

} // namespace corvex
