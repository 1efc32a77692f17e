#include "app/ApplicationAssembly.h"

#include "app/ObservationChannel.h"
#include "app/WebPageModule.h"
#include "cloud/container/CloudLocations.h"
#include "cloud/dropbox/DropboxFolderManager.h"
#include "crash/Blackbox.h"
#include "crash/BlackboxErrorRecorder.h"
#include "editor/IdeaEditorFactory.h"
#include "editor/ViewerEditorFactory.h"
#include "export/ImageExporter.h"
#include "export/SharingViewController.h"
#include "formats/DocumentFormats.h"
#include "home/HomeRegistration.h"
#include "kit/core/Loom.h"
#include "mindmap/SolarSystemViewController.h"
#include "overview/OverviewRegistration.h"
#include "overview/PrintedMapPrinter.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/StartupTrace.h"
#include "platform/net/DBClientsManager.h"
#include "platform/ui/Application.h"
#include "platform/ui/RunnerAlertPresenter.h"
#include "platform/ui/Runners.h"
#include "shell/AppDelegate.h"
#include "shell/TopBarView.h"
#include "tallykit/Tally.h"

namespace corvex {

namespace {

// What the launch plugs in as it begins, with the application object made: some of it starts
// work that needs one (fonts on worker threads).
void plugInSeams()
{
    registerDocumentFormats();
    registerCloudLocations();
    registerDropboxLocation();
    // The Dropbox sign-in answers the redirect links from the first launch file on.
    DBClientsManager::setupWithAppKeyDesktop(DropboxSignInService::appKey());
    registerTopBar();
    SolarSystemViewController::registerWithScreenFactory();
    registerHomeScreen();
    registerIdeaEditors();
    registerViewerEditors();
    registerWebPageView();
    registerOverviewGraph();
    registerMapPrinter();
    registerWebExportPreview();
    registerExportScreen();
}

} // namespace

std::shared_ptr<AppDelegate> assembleApplication(Application& application, ReportingKitAtLaunch kit)
{
    // Launch step 1 starts the reporting kit with the kits the information dictionary lists;
    // a misconfigured dictionary is logged there and Corvex runs on without the kit.
    if (kit == ReportingKitAtLaunch::Start) {
        ReportingKitLaunch::setHook([] {
            StartupTrace::mark("reporting kit starting");
            Tally::registerKitClass();
            Blackbox::registerKitClass();
            BlackboxErrorRecorder::install();
            Loom::startAtLaunch({Blackbox::kitClass()});
            StartupTrace::mark("reporting kit started");
        });
    }
    RunnerAlertPresenter::registerPresenter();
    // Every view's right click shows its menu through the menu runner.
    Runners::installContextMenuPresenter();
    auto delegate = AppDelegate::install();
    delegate->setScreenRegistration(plugInSeams);
    application.setHandler(delegate.get());
    return delegate;
}

void disassembleApplication(Application& application)
{
    application.setHandler(nullptr);
    AppDelegate::uninstall();
}

int runCorvex(int argc, char** argv)
{
    // This program started again to check the web engine.
    if (const std::optional<int> probed = WebPageModule::runEngineCheckIfAsked(argc, argv))
        return *probed;
    // Qt keeps references to argc and argv for the application's life.
    static int argumentCount = argc;
    Application application(argumentCount, argv);
    StartupTrace::mark("application object");
    assembleApplication(application);
    StartupTrace::mark("assembled");
    // Only for a driver of user runs that names its socket (tests/monkey).
    const std::unique_ptr<ObservationChannel> observed = ObservationChannel::openIfAsked();
    const int code = application.run();
    disassembleApplication(application);
    return code;
}

} // namespace corvex
