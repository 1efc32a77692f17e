#pragma once

// Journeys through the assembled application: the real start-up (the one assembly of app/,
// the real AppDelegate, real top-level windows on the xcb platform of the test's own Xvfb),
// driven only as a user drives it, asserting what a user sees or gets.
//
// Adding a journey:
// 1. Put `<Story>JourneyTest.cpp` into tests/app/ (the folder's CMakeLists.txt globs it);
//    one story per test, grouped by a fixture `class <Story>Journey : public AppJourney {}`.
// 2. Prepare the user's machine before the launch: UserFiles::setDefault (opting in to a
//    location...), UserFiles::writeDocument (needs only the application object, which SetUp
//    makes). Then launch(files): the assembly and the start-up, as main() runs them.
// 3. Act as a user: UserInput clicks, right-clicks (reading the real pop-up menu), moves the
//    mouse and presses keys on windows() through Qt's event delivery, drags with the X
//    server's own pointer (xdotool, tools/packages.txt: Qt's drag and drop follows only that;
//    XServerInput clicks and types with it where the window manager must see the input),
//    and chooses menu-bar items by their titles. Alerts, file panels and the browser are answered through the
//    runner seams: alerts(), filePanels(), browser(). Points on screen come from
//    MindMapPoints (where a user sees planets, note marks, overview nodes).
// 4. Wait with waitFor (the project's runUntil: real time, the application runs its own
//    clock); assert the window, menu, popover, cursor or file; screenshot("name") writes
//    test-output/app-<name>.png for a person to look at.
// 5. Quitting ends the process: quit journeys and launch loops run the application in a
//    child (AppChild), the same runCorvex() as main().
// Each test runs in its own process with fresh HOME and XDG folders (AppTestMain.cpp).

#include "platform/ui/Window.h"
#include "tests/app/WindowManager.h"
#include "tests/doubles/ui/RecordingUrlOpener.h"
#include "tests/doubles/ui/ScriptedAlertRunner.h"
#include "tests/doubles/ui/ScriptedFilePanelRunner.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

class QWidget;

// Failures show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace corvex {
class AppDelegate;
class Application;
class BaseViewController;
class MyWindow;
class UrlOpener;
} // namespace corvex

namespace corvex::test {

class AppJourney : public ::testing::Test
{
public:
    AppJourney();
    ~AppJourney() override;

    // ---- Windows as the user sees them (also usable inside a child's script) ----
    // The main windows shown, in the order they were opened.
    static std::vector<std::shared_ptr<MyWindow>> windows();
    // The first shown main window whose screen is a `Screen` and passes `accept`; waits up to
    // `seconds` for it. Null when there is none.
    template <class Screen>
    static std::shared_ptr<Screen> waitForScreen(const std::function<bool(Screen&)>& accept = {},
                                                 double seconds = 15.0)
    {
        std::shared_ptr<Screen> found;
        waitFor(
            [&] {
                found = findScreen<Screen>(accept);
                return found != nullptr;
            },
            seconds);
        return found;
    }
    template <class Screen>
    static std::shared_ptr<Screen> findScreen(const std::function<bool(Screen&)>& accept = {})
    {
        for (const auto& window : windows()) {
            auto screen = std::dynamic_pointer_cast<Screen>(screenOf(*window));
            if (screen && (!accept || accept(*screen)))
                return screen;
        }
        return nullptr;
    }
    static std::shared_ptr<BaseViewController> screenOf(const MyWindow& window);
    // The window that shows a screen.
    static MyWindow& windowOf(const BaseViewController& screen);
    // Makes the window the active one (keys go to it) and waits until it is.
    static bool activate(Window& window);
    // Top-level widgets shown now besides the main windows (popovers, dialogs, pop-ups).
    static std::vector<QWidget*> otherTopLevels();
    // Waits for a popover (or another top-level) to show over the main windows.
    static bool popoverShows(double seconds = 5.0);
    // Escape on every shown popover, as the user closes them; true once none is shown.
    static bool closePopovers();
    // The point where a user sees something (WhereOnScreen); a thing not shown ends the test.
    static Point seen(const std::optional<Point>& where);
    // runUntil: pumps the application's event loop until the condition holds.
    static bool waitFor(const std::function<bool()>& condition, double seconds = 10.0);
    // test-output/app-<name>.png: the whole virtual screen. Its path.
    static QString screenshot(const QString& name);

protected:
    // The application object, as the start-up makes it (and with it the QApplication), and
    // the scripted runners in the seams; nothing launched yet.
    void SetUp() override;
    // A screenshot when the test failed, the assembly undone, the application object gone.
    void TearDown() override;

    // The assembly and the start-up without the event loop, with the files as launch
    // arguments; waits until the launch has shown its windows. False when the start-up ended
    // the process's work (handed over, or quit during the launch). Files that are refused
    // bring no window: `windowsExpected` says how many the launch shows then.
    bool launch(const QStringList& files = {}, std::optional<std::size_t> windowsExpected = {});
    // Before the launch: the journey runs on this desktop (a window manager started for
    // Openbox, ended after the test). False when the window manager did not start.
    bool runOn(Desktop desktop);
    Application& application() { return *mApplication; }

    // ---- The runner seams ----
    ScriptedAlertRunner& alerts() { return *mAlerts; }
    ScriptedFilePanelRunner& filePanels() { return *mFilePanels; }
    RecordingUrlOpener& browser() { return *mBrowser; }

private:
    std::unique_ptr<Application> mApplication;
    std::shared_ptr<AppDelegate> mDelegate;
    std::shared_ptr<ScriptedAlertRunner> mAlerts;
    std::shared_ptr<ScriptedFilePanelRunner> mFilePanels;
    std::shared_ptr<RecordingUrlOpener> mBrowser;
    std::shared_ptr<UrlOpener> mPreviousOpener;
    std::unique_ptr<WindowManager> mWindowManager;
};

} // namespace corvex::test
