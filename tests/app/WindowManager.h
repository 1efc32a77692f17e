#pragma once

#include <QProcess>
#include <QString>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>

namespace corvex::test {

// The desktops a journey runs on: the bare X server of the test's own Xvfb (no window
// decorations, windows where the application puts them) or openbox on it, as most users run
// Corvex (title bars and borders, placement and activation by the window manager).
enum class Desktop
{
    Bare,
    Openbox,
};

// "Bare" or "Openbox", for the names of parameterized journeys.
const char* desktopName(Desktop desktop);
inline void PrintTo(Desktop desktop, std::ostream* out)
{
    *out << desktopName(desktop);
}
// Journeys run on each desktop: INSTANTIATE_TEST_SUITE_P(Desktops, <Journey>, kEachDesktop,
// desktopTestName).
inline const auto kEachDesktop = ::testing::Values(Desktop::Bare, Desktop::Openbox);
std::string desktopTestName(const ::testing::TestParamInfo<Desktop>& info);

// A window manager running on the test's display (DISPLAY) until this object goes; the
// application's children (AppChild) share it. Main thread only.
class WindowManager
{
public:
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // Openbox, started and managing the screen (its start-up command has run); null when it
    // could not start (not installed: tools/packages.txt has it). Its output goes to
    // `openbox.log` in the test's folder.
    static std::unique_ptr<WindowManager> startOpenbox();

private:
    WindowManager() = default;

    QProcess mProcess;
};

} // namespace corvex::test
