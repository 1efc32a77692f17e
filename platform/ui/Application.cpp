#include "platform/ui/Application.h"

#include "platform/core/AfterFirstFrame.h"
#include "platform/core/BackgroundDrawing.h"
#include "platform/core/InstanceMessage.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/Log.h"
#include "platform/core/NativeFileName.h"
#include "platform/core/QuitHold.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/ApplicationLifecycleBridge.h"
#include "platform/ui/ReportingApplication.h"
#include "platform/ui/SingleInstance.h"
#include "platform/ui/Window.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QSocketNotifier>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace corvex {

namespace {

Application* gApplication = nullptr;
// The self-pipe: the signal handler writes the signal's number, the main loop reads it.
int gSignalPipe[2] = {-1, -1};

void quitSignalHandler(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (gSignalPipe[1] >= 0) {
        // Nothing to do about a full pipe: a quit is already pending then.
        [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

ApplicationHandler::~ApplicationHandler()
{
    if (ActionRouter::applicationTarget() == this)
        ActionRouter::setApplicationTarget(nullptr);
    if (Application* app = Application::instance(); app && app->handler() == this)
        app->setHandler(nullptr);
}

bool ApplicationHandler::respondsToAction(const QString&) const
{
    return false;
}

void ApplicationHandler::performAction(const QString&, MenuItem&) {}

Application::Application(int& argc, char** argv, Options options) : mOptions(options)
{
    // Caught from the first moment: a quit signal that comes while the QApplication is made
    // (connecting to the display takes a while) is answered once the event loop runs.
    if (mOptions.handleSignals)
        installSignalPipe();
    if (!QCoreApplication::instance())
        mOwnedApp = std::make_unique<ReportingApplication>(argc, argv);
    gApplication = this;
    // Read from argv itself: a file name that is not UTF-8 keeps its bytes (the application's
    // own argument list turns them into U+FFFD). Qt's own options were taken out of argv by
    // QApplication; ours start with '-' and are not documents.
    for (int i = 1; i < argc; ++i) {
        const QString argument = NativeFileName::decode(QByteArrayView(argv[i]));
        if (!argument.startsWith(QLatin1Char('-')))
            mLaunchArguments.append(argument);
    }
    mSchemes = QStringList{DropboxSignInService::redirectScheme()};
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QGuiApplication::setDesktopFileName(QStringLiteral("com.tallowfen.corvex"));
        // Closing the last window is one of our quit paths, with the state written first.
        QGuiApplication::setQuitOnLastWindowClosed(false);
        connect(gui, &QGuiApplication::commitDataRequest, this, [this] { quit(QuitReason::SessionEnd); });
    }
    if (mOptions.quitOnLastWindowClosed) {
        Window::setLastWindowWillCloseHandler([](Window&) {
            if (Application* app = Application::instance(); app && app->mLaunched)
                app->quit(QuitReason::LastWindowClosed);
        });
    }
    if (mOwnsSignalPipe) {
        mSignalNotifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
        connect(mSignalNotifier, &QSocketNotifier::activated, this, [this] { signalPipeReadable(); });
    }
}

Application::~Application()
{
    BackgroundDrawing::stopAndWait();
    if (mOptions.quitOnLastWindowClosed)
        Window::setLastWindowWillCloseHandler({});
    if (mOwnsSignalPipe) {
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        delete mSignalNotifier;
        mSignalNotifier = nullptr;
        ::close(gSignalPipe[0]);
        ::close(gSignalPipe[1]);
        gSignalPipe[0] = gSignalPipe[1] = -1;
    }
    if (ActionRouter::applicationTarget() == mHandler)
        ActionRouter::setApplicationTarget(nullptr);
    mSingleInstance.reset();
    if (gApplication == this)
        gApplication = nullptr;
}

Application* Application::instance()
{
    return gApplication;
}

QApplication* Application::qApplication() const
{
    return qobject_cast<QApplication*>(QCoreApplication::instance());
}

void Application::setHandler(ApplicationHandler* handler)
{
    if (ActionRouter::applicationTarget() == mHandler)
        ActionRouter::setApplicationTarget(nullptr);
    mHandler = handler;
    if (handler)
        ActionRouter::setApplicationTarget(handler);
}

void Application::installSignalPipe()
{
    if (gSignalPipe[0] >= 0)
        return;
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        Log::error(QStringLiteral("Quit signals cannot be caught: no pipe"));
        gSignalPipe[0] = gSignalPipe[1] = -1;
        return;
    }
    mOwnsSignalPipe = true;
    struct sigaction action = {};
    action.sa_handler = quitSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

void Application::signalPipeReadable()
{
    unsigned char bytes[64];
    bool any = false;
    while (::read(gSignalPipe[0], bytes, sizeof bytes) > 0)
        any = true;
    if (any) {
        Log::info(QStringLiteral("Quit requested by signal"));
        quit(QuitReason::Signal);
    }
}

int Application::run()
{
    const std::optional<int> ended = startUp();
    // A quit while the launch ran (a signal at the launch's alert) never reaches the loop,
    // whose end tells the observers and waits for the pending writes: that happens here.
    if (ended && mQuitting) {
        if (auto* bridge = ApplicationLifecycleBridge::installed(
                qobject_cast<QGuiApplication*>(QCoreApplication::instance())))
            bridge->applicationWillQuit();
    }
    const int code = ended ? *ended : QCoreApplication::exec();
    // However the loop ended, or never ran (a quit during the launch): no drawing goes on
    // into what the application object and the static state take down.
    BackgroundDrawing::stopAndWait();
    return code;
}

std::optional<int> Application::startUp()
{
    if (mOptions.singleInstance) {
        mSingleInstance = std::make_unique<SingleInstance>(mSchemes);
        switch (mSingleInstance->claim()) {
        case SingleInstance::Role::Secondary: {
            // The running instance shows the files; this launch hands them over and ends.
            const QByteArray lines =
                InstanceMessageParser::linesForArguments(mLaunchArguments, QDir::currentPath());
            if (lines.isEmpty())
                return 0;
            return mSingleInstance->send(lines) ? 0 : 1;
        }
        case SingleInstance::Role::Failed:
            Log::error(QStringLiteral("Running without the one-instance service"));
            mSingleInstance.reset();
            break;
        case SingleInstance::Role::Primary:
            mSingleInstance->setMessageHandler(
                [this](const InstanceMessage& message) { deliverInstanceMessage(message); });
            break;
        }
    }
    // Activation and quit reach the notification centre (the reporting kit observes them).
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        ApplicationLifecycleBridge::install(gui);
    launch();
    if (mQuitting)
        return 0;
    return std::nullopt;
}

void Application::launch()
{
    if (mLaunchBegun)
        return;
    mLaunchBegun = true;
    // What the first window does not need waits for its first frame (WindowCompositor).
    AfterFirstFrame::hold();
    if (mHandler)
        mHandler->applicationWillFinishLaunching();
    // Launch files and URLs go through the same checks as a second launch's.
    InstanceMessageParser parser(mSchemes);
    std::vector<InstanceMessage> messages =
        parser.feed(InstanceMessageParser::linesForArguments(mLaunchArguments, QDir::currentPath()));
    for (InstanceMessage& message : parser.finish())
        messages.push_back(std::move(message));
    for (const InstanceMessage& message : messages)
        deliverInstanceMessage(message);
    if (mHandler)
        mHandler->applicationDidFinishLaunching();
    // A window that closes while the launch runs (a restored window whose location is off) is
    // not the user closing the last window: the launch goes on to its own first window.
    mLaunched = true;
}

void Application::deliverInstanceMessage(const InstanceMessage& message)
{
    if (!mHandler || mQuitting)
        return;
    if (message.kind == InstanceMessage::Kind::File)
        mHandler->applicationOpenFile(message.path);
    else
        mHandler->applicationOpenUrl(message.url);
}

bool Application::quit(QuitReason reason)
{
    if (mQuitting)
        return false;
    if (reason == QuitReason::Menu && mHandler && !mHandler->applicationShouldTerminate())
        return false;
    mQuitting = true;
    // A write the user asked for needs turns of the loop to end: the loop runs on until it
    // has. The quit begins with the state written after it, which then tells what it wrote.
    if (mLaunched && QuitHold::held() > 0) {
        Log::info(QStringLiteral("Quit waits for a write under way"));
        QPointer<Application> self(this);
        QuitHold::whenReleased(QuitHoldSeconds, [self](bool) {
            if (self)
                self->quitNow();
        });
        return true;
    }
    quitNow();
    return true;
}

void Application::quitNow()
{
    // The state first, while every window is still open: closing one takes it off the list.
    if (mHandler) {
        mHandler->applicationWriteStateBeforeQuit();
        mHandler->applicationWillTerminate();
    }
    const Status flushed = UserDefaults::standardUserDefaults().synchronize();
    if (!flushed.ok())
        Log::error(QStringLiteral("User defaults not written at quit: ") +
                   flushed.error().localizedDescription());
    const std::vector<std::function<void()>> observers = mQuitObservers;
    for (const auto& observer : observers)
        observer();
    QCoreApplication::exit(0);
}

void Application::addQuitObserver(std::function<void()> observer)
{
    if (observer)
        mQuitObservers.push_back(std::move(observer));
}

} // namespace corvex
