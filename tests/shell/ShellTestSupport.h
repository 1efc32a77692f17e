#pragma once

#include "app/ApplicationAssembly.h"
#include "platform/core/AlertPresenter.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Runners.h"
#include "platform/ui/ScreenFacade.h"
#include "platform/ui/UrlOpener.h"
#include "platform/ui/View.h"
#include "shell/AppDelegate.h"
#include "shell/MainWindowController.h"
#include "shell/MyWindow.h"
#include "tests/doubles/ui/RecordingUrlOpener.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/BaseViewController.h"
#include "toolkit/ScreenFactory.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace corvex::test {

// A home screen that keeps the arguments it was made with and the state it was restored from,
// and gives a small state back.
class ShellHomeDouble final : public BaseViewController
{
public:
    ValueDictionary arguments;
    ValueDictionary restoredState;
    ValueDictionary createState() override
    {
        ValueDictionary state;
        state.insert(QStringLiteral("location"), Value(qint64(2)));
        return state;
    }
    bool restoreFromState(const ValueDictionary& state) override
    {
        restoredState = state;
        return true;
    }
};

// The process's one application object (its end stops the background drawing for good), over
// the test's QApplication: made at the first rig and never taken down; the test main stops the
// drawing before the QApplication goes. No instance claim, no signal handlers, no quit when the
// last window closes.
inline Application& shellApplication()
{
    static int argumentCount = 1;
    static char programName[] = "corvex";
    static char* argumentVector[] = {programName, nullptr};
    static Application* application = new Application(argumentCount, argumentVector, {false, false, false});
    return *application;
}

// The assembled application (without the reporting kit) on virtual time, its launch begun:
// a 1600 x 1000 screen (menu-free visible frame), scripted alerts and panels, a recording
// browser, and the real home screen, the home-screen double or none as "HomeViewController".
class ShellRig
{
public:
    enum class Home
    {
        Real,
        Double,
        None
    };

    explicit ShellRig(Home homeScreen = Home::Real)
        : screen({ScreenInfo{Rect(0, 0, 1600, 1000), Rect(0, 0, 1600, 1000), 1.0}}),
          application(shellApplication()), previousAlertPresenter(AlertPresenter::registered()),
          hadContextMenuPresenter(View::hasContextMenuPresenter())
    {
        application.setLaunchArguments({});
        app = assembleApplication(application, ReportingKitAtLaunch::LeaveOut);
        // What the assembly installs routes to the runners in use, so these still win.
        alerts = std::make_shared<ScriptedAlertRunner>();
        panels = std::make_shared<ScriptedFilePanelRunner>();
        Runners::setAlertRunner(alerts);
        Runners::setFilePanelRunner(panels);
        urls = std::make_shared<RecordingUrlOpener>();
        previousOpener = UrlOpener::setCurrent(urls);
        // The screens are registered as the launch begins; the home screen is replaced after.
        app->applicationWillFinishLaunching();
        if (homeScreen == Home::Double) {
            ScreenFactory::registerScreen(
                QStringLiteral("HomeViewController"),
                [this](const ValueDictionary& arguments) -> std::shared_ptr<BaseViewController> {
                    auto home = std::make_shared<ShellHomeDouble>();
                    home->arguments = arguments;
                    homes.push_back(home);
                    return home;
                });
        } else if (homeScreen == Home::None) {
            ScreenFactory::registerScreen(QStringLiteral("HomeViewController"), {});
        }
    }
    ~ShellRig()
    {
        disassembleApplication(application);
        app.reset();
        ScreenFactory::registerScreen(QStringLiteral("HomeViewController"), {});
        UrlOpener::setCurrent(previousOpener);
        Runners::setAlertRunner(nullptr);
        Runners::setFilePanelRunner(nullptr);
        // The next test of the process finds the presenters as this one did.
        AlertPresenter::setRegistered(previousAlertPresenter);
        if (!hadContextMenuPresenter)
            View::setContextMenuPresenter(nullptr);
    }
    ShellRig(const ShellRig&) = delete;
    ShellRig& operator=(const ShellRig&) = delete;

    // Pumps Qt and virtual time in small steps until the predicate holds (storage answers on
    // the main queue from its own threads).
    bool settle(const std::function<bool()>& predicate)
    {
        for (int i = 0; i < 200; ++i) {
            if (runUntil(predicate, 0.02)) {
                time.runDue();
                if (predicate())
                    return true;
            }
            time.runDue();
        }
        return predicate();
    }
    std::size_t windowCount() const { return app->windowControllers().size(); }

    ScopedVirtualTime time;
    ScreenFacade::ScopedOverride screen;
    Application& application;
    std::shared_ptr<AlertPresenter> previousAlertPresenter;
    bool hadContextMenuPresenter;
    std::shared_ptr<ScriptedAlertRunner> alerts;
    std::shared_ptr<ScriptedFilePanelRunner> panels;
    std::shared_ptr<RecordingUrlOpener> urls;
    std::shared_ptr<UrlOpener> previousOpener;
    std::vector<std::shared_ptr<ShellHomeDouble>> homes;
    std::shared_ptr<AppDelegate> app;
};

inline UserDefaults& shellDefaults()
{
    return UserDefaults::standardUserDefaults();
}

} // namespace corvex::test
