#pragma once

#include <memory>

namespace corvex {

class AppDelegate;
class Application;

// How the running application is put together, in one place for main(), the application
// tests and the shell's tests alike. Before the event loop: the reporting kit's start hook, the
// alert presenter, the views' context-menu presenter, the one AppDelegate as the application's
// handler and Globals::app(), and what its launch plugs in as it begins (never in a launch that
// only hands its files to the running instance): the document formats and storage back ends,
// the top bar, the screens, the editors and the web page view, the overview graph, printing,
// export and the Dropbox sign-in service with its key. A seam the screens use is filled here
// and nowhere else.
//
// The program starts the reporting kit at launch; the shell's tests assemble without its start
// hook, so that no kit starts in them (a hook set beforehand stays as it was).
enum class ReportingKitAtLaunch
{
    Start,
    LeaveOut
};
std::shared_ptr<AppDelegate> assembleApplication(Application& application,
                                                 ReportingKitAtLaunch kit = ReportingKitAtLaunch::Start);

// After the event loop, by whichever road it ended: the handler taken off, the delegate
// uninstalled (its windows close).
void disassembleApplication(Application& application);

// The whole program: the application object, the assembly, the start-up and the event loop,
// then the teardown (or, started as the web engine's check, only that). Returns the exit code.
int runCorvex(int argc, char** argv);

} // namespace corvex
