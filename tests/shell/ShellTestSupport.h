#pragma once

#include "cloud/container/CloudLocations.h"
#include "cloud/dropbox/DropboxFolderManager.h"
#include "formats/DocumentFormats.h"
#include "mindmap/SolarSystemViewController.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Runners.h"
#include "platform/ui/ScreenFacade.h"
#include "platform/ui/UrlOpener.h"
#include "shell/AppDelegate.h"
#include "shell/MainWindowController.h"
#include "shell/MyWindow.h"
#include "shell/TopBarView.h"
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

// The home screen as the shell sees it before the home screen exists: a screen that keeps the
// arguments it was made with and gives a small state back.
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

// One installed AppDelegate on virtual time, a 1600 x 1000 screen (menu-free visible frame),
// scripted alerts and panels, and a home-screen double registered as "HomeViewController".
class ShellRig
{
public:
    explicit ShellRig(bool registerHome = true)
        : screen({ScreenInfo{Rect(0, 0, 1600, 1000), Rect(0, 0, 1600, 1000), 1.0}})
    {
        alerts = std::make_shared<ScriptedAlertRunner>();
        panels = std::make_shared<ScriptedFilePanelRunner>();
        Runners::setAlertRunner(alerts);
        Runners::setFilePanelRunner(panels);
        urls = std::make_shared<RecordingUrlOpener>();
        previousOpener = UrlOpener::setCurrent(urls);
        if (registerHome) {
            ScreenFactory::registerScreen(
                QStringLiteral("HomeViewController"),
                [this](const ValueDictionary& arguments) -> std::shared_ptr<BaseViewController> {
                    auto home = std::make_shared<ShellHomeDouble>();
                    home->arguments = arguments;
                    homes.push_back(home);
                    return home;
                });
        }
        app = AppDelegate::install();
        // What the application's assembly plugs in as the launch begins, as far as the shell
        // needs it.
        app->setScreenRegistration([] {
            registerDocumentFormats();
            registerCloudLocations();
            registerDropboxLocation();
            registerTopBar();
            SolarSystemViewController::registerWithScreenFactory();
        });
        app->applicationWillFinishLaunching();
    }
    ~ShellRig()
    {
        app.reset();
        AppDelegate::uninstall();
        ScreenFactory::registerScreen(QStringLiteral("HomeViewController"), {});
        UrlOpener::setCurrent(previousOpener);
        Runners::setAlertRunner(nullptr);
        Runners::setFilePanelRunner(nullptr);
    }

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
