#pragma once

#include "platform/ui/MenuBar.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QApplication;
class QSocketNotifier;

namespace corvex {

class SingleInstance;
struct InstanceMessage;

// What the application object tells the application's delegate. At launch, in this order:
// applicationWillFinishLaunching, applicationOpenFile for each launch file, applicationOpenUrl
// for each launch URL, applicationDidFinishLaunching. Later, files and URLs a second launch
// hands over arrive through the same two calls. Every quit path ends in Application::quit,
// which asks applicationShouldTerminate (a menu quit only), then calls
// applicationWriteStateBeforeQuit before any window closes, applicationWillTerminate, and
// flushes the user defaults. It is also the application's action target (the end of the
// responder chain).
class ApplicationHandler : public ActionTarget
{
public:
    ~ApplicationHandler() override;

    virtual void applicationWillFinishLaunching() {}
    // An absolute, cleaned local path (not resolved through symbolic links).
    virtual void applicationOpenFile(const QString& path) { (void)path; }
    // A URL of an accepted scheme (the sign-in redirect).
    virtual void applicationOpenUrl(const QUrl& url) { (void)url; }
    virtual void applicationDidFinishLaunching() {}
    // Asked for a quit from the menu only: false keeps the application running.
    virtual bool applicationShouldTerminate() { return true; }
    // Writes the saved state ("CurrentState") while every window is still open.
    virtual void applicationWriteStateBeforeQuit() {}
    virtual void applicationWillTerminate() {}

    // ActionTarget: nothing by default.
    bool respondsToAction(const QString& actionId) const override;
    void performAction(const QString& actionId, MenuItem& item) override;
};

// The application object: the QApplication underneath, launch, the one instance per user
// and the one quit function. One per process, made on the main thread before any window.
class Application : public QObject
{
public:
    enum class QuitReason
    {
        Menu,             // the Quit item (asks the delegate first)
        Signal,           // SIGTERM or SIGINT
        SessionEnd,       // the session manager's logout
        LastWindowClosed, // no visible window left
        Programmatic
    };

    struct Options
    {
        // Claim the per-user instance; a second launch hands its arguments over and exits 0.
        bool singleInstance = true;
        // Install the SIGTERM/SIGINT self-pipe.
        bool handleSignals = true;
        // Quit when the last visible window closed.
        bool quitOnLastWindowClosed = true;
    };

    // Makes the QApplication (unless one exists, as in tests); argc and argv must outlive it.
    Application(int& argc, char** argv, Options options);
    Application(int& argc, char** argv) : Application(argc, argv, Options()) {}
    ~Application() override;

    static Application* instance();

    // Not owned; set before run().
    void setHandler(ApplicationHandler* handler);
    ApplicationHandler* handler() const { return mHandler; }

    // The launch arguments without options and the program name.
    QStringList launchArguments() const { return mLaunchArguments; }
    // Replaces them (tests, and a shell that takes options of its own out first).
    void setLaunchArguments(QStringList arguments) { mLaunchArguments = std::move(arguments); }
    // The URL schemes a launch or a second launch may hand over ("file" aside); by default
    // the sign-in redirect scheme (DropboxSignInService::redirectScheme()).
    void setAcceptedUrlSchemes(QStringList schemes) { mSchemes = std::move(schemes); }
    QStringList acceptedUrlSchemes() const { return mSchemes; }

    // Claims the instance (when asked), then either hands the arguments to the running
    // instance and answers 0 without launching, or launches: will-finish, launch files and
    // URLs, did-finish, then Qt's event loop until quit. Then, whichever way it ended, every
    // background drawing job is stopped and waited for (BackgroundDrawing), as it is again
    // when the application object goes. Returns the exit code.
    int run();
    // run() without the event loop: the exit code when the process is to end without one
    // (the arguments were handed over, or a quit came during the launch), else nothing.
    // The application tests start the real application this way and pump the loop themselves.
    std::optional<int> startUp();

    // The launch steps alone, without the instance claim and without the event loop (tests).
    // Work posted to AfterFirstFrame from here on waits for the first window's first frame.
    void launch();

    // The one quit function. Returns false when the delegate refused (menu) or a quit is
    // already under way. The exit code is 0. Once launched, a quit while a write the user
    // asked for holds it (QuitHold) lets the event loop run on until the write has ended, at
    // most QuitHoldSeconds, and then quits.
    bool quit(QuitReason reason = QuitReason::Programmatic);
    // A large document's save on a slow disk may take seconds; a disk that hangs keeps Corvex
    // no longer, well within the time a session's end leaves a process after SIGTERM.
    static constexpr double QuitHoldSeconds = 10.0;
    bool isQuitting() const { return mQuitting; }

    // Called once on quit, after the delegate's calls and the defaults flush, before the
    // event loop ends (the lifecycle bridge and other observers hook in here).
    void addQuitObserver(std::function<void()> observer);

    // A message from a second launch (the instance service calls this).
    void deliverInstanceMessage(const InstanceMessage& message);

    SingleInstance* singleInstance() const { return mSingleInstance.get(); }
    QApplication* qApplication() const;

private:
    // The quit's steps, from the state to the loop's end.
    void quitNow();
    void installSignalPipe();
    void signalPipeReadable();

    ApplicationHandler* mHandler = nullptr;
    Options mOptions;
    QStringList mLaunchArguments;
    QStringList mSchemes;
    std::unique_ptr<QApplication> mOwnedApp;
    std::unique_ptr<SingleInstance> mSingleInstance;
    std::vector<std::function<void()>> mQuitObservers;
    QSocketNotifier* mSignalNotifier = nullptr;
    bool mOwnsSignalPipe = false;
    bool mQuitting = false;
    bool mLaunchBegun = false;
    // The launch is over: from now on the last window closing quits.
    bool mLaunched = false;
};

} // namespace corvex
