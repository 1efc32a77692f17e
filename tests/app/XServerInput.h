#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <optional>

namespace corvex::test {

// The X server's own pointer and keyboard, through xdotool (tools/packages.txt): input as a
// user's hand gives it, which the window manager sees too (a click on a window activates it
// there) and Qt receives as from a real device. The application runs while xdotool does.
// Points are global (Qt's global coordinates, which are the X screen's). Main thread only.
class XServerInput
{
public:
    // Runs xdotool with these arguments; false when it did not run to a successful end.
    // What it printed is in `output` when given.
    static bool run(const QStringList& arguments, QString* output = nullptr, double seconds = 30.0);

    // The pointer moves there (in steps, as a hand moves it).
    static bool moveTo(QPoint global);
    // Clicks of a button there: `count` clicks within the double-click interval.
    static bool click(QPoint global, int count = 1, int button = 1);
    // A chord of keys as xdotool names them: "ctrl+n", "alt+Tab", "Return".
    static bool key(const QString& chord);
    // The text typed key by key into whatever has the X focus.
    static bool type(const QString& text);

    // The first visible X window that `xdotool search` finds with these criteria ("--pid",
    // "1234" or "--name", "^Title$"), waited for at most `seconds`.
    static std::optional<qulonglong> findWindow(const QStringList& criteria, double seconds = 20.0);
};

} // namespace corvex::test
