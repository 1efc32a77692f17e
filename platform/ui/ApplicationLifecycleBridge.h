#pragma once

#include <QObject>
#include <QString>

class QGuiApplication;

namespace corvex {

// Tells the program's observers of the application's life through the notification centre,
// under the names the reporting kit observes: becoming active ("...WillBecomeActive...",
// then "...DidBecomeActive..."), resigning ("...WillResignActive...", then
// "...DidResignActive..."), and quitting ("NSApplicationWillTerminateNotification"). At quit
// it then waits, at most quitWaitSeconds, while a process activity is open, so that the last
// events and pending writes reach the disk before the process ends.
//
// The application installs it once on its QGuiApplication, before the event loop runs:
//     ApplicationLifecycleBridge::install(&application);
class ApplicationLifecycleBridge : public QObject
{
public:
    static const QString WillBecomeActiveNotification; // "NSApplicationWillBecomeActiveNotification"
    static const QString DidBecomeActiveNotification;  // "NSApplicationDidBecomeActiveNotification"
    static const QString WillResignActiveNotification; // "NSApplicationWillResignActiveNotification"
    static const QString DidResignActiveNotification;  // "NSApplicationDidResignActiveNotification"
    static const QString WillTerminateNotification;    // "NSApplicationWillTerminateNotification"

    // Connects to the application's state changes and aboutToQuit; the bridge is a child of
    // the application. A second install on the same application answers the first bridge.
    static ApplicationLifecycleBridge* install(QGuiApplication* application, double quitWaitSeconds = 2.0);
    // The bridge install() put on the application, or null.
    static ApplicationLifecycleBridge* installed(QGuiApplication* application);

    explicit ApplicationLifecycleBridge(double quitWaitSeconds = 2.0, QObject* parent = nullptr);

    // What the connections call; tests drive them directly.
    void applicationStateChanged(Qt::ApplicationState state);
    void applicationWillQuit();

    bool isActive() const { return mActive; }

private:
    double mQuitWaitSeconds;
    bool mActive = false;
    bool mQuitPosted = false;
};

} // namespace corvex
