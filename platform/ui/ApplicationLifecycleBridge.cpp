#include "platform/ui/ApplicationLifecycleBridge.h"

#include "platform/core/Log.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/ProcessActivity.h"

#include <QGuiApplication>

namespace corvex {

const QString ApplicationLifecycleBridge::WillBecomeActiveNotification =
    QStringLiteral("NSApplicationWillBecomeActiveNotification");
const QString ApplicationLifecycleBridge::DidBecomeActiveNotification =
    QStringLiteral("NSApplicationDidBecomeActiveNotification");
const QString ApplicationLifecycleBridge::WillResignActiveNotification =
    QStringLiteral("NSApplicationWillResignActiveNotification");
const QString ApplicationLifecycleBridge::DidResignActiveNotification =
    QStringLiteral("NSApplicationDidResignActiveNotification");
const QString ApplicationLifecycleBridge::WillTerminateNotification =
    QStringLiteral("NSApplicationWillTerminateNotification");

namespace {

// The bridge is found again through a property: it has no meta-object of its own to search
// children by.
const char* const BridgeProperty = "corvexLifecycleBridge";

} // namespace

ApplicationLifecycleBridge* ApplicationLifecycleBridge::installed(QGuiApplication* application)
{
    if (application == nullptr)
        return nullptr;
    return static_cast<ApplicationLifecycleBridge*>(
        qvariant_cast<QObject*>(application->property(BridgeProperty)));
}

ApplicationLifecycleBridge* ApplicationLifecycleBridge::install(QGuiApplication* application,
                                                                double quitWaitSeconds)
{
    if (application == nullptr)
        return nullptr;
    if (ApplicationLifecycleBridge* existing = installed(application))
        return existing;
    auto* bridge = new ApplicationLifecycleBridge(quitWaitSeconds, application);
    application->setProperty(BridgeProperty, QVariant::fromValue(static_cast<QObject*>(bridge)));
    QObject::connect(application, &QGuiApplication::applicationStateChanged, bridge,
                     [bridge](Qt::ApplicationState state) { bridge->applicationStateChanged(state); });
    QObject::connect(application, &QCoreApplication::aboutToQuit, bridge,
                     [bridge] { bridge->applicationWillQuit(); });
    // An application already active before the install is announced as such.
    if (QGuiApplication::applicationState() == Qt::ApplicationActive)
        bridge->applicationStateChanged(Qt::ApplicationActive);
    return bridge;
}

ApplicationLifecycleBridge::ApplicationLifecycleBridge(double quitWaitSeconds, QObject* parent)
    : QObject(parent), mQuitWaitSeconds(quitWaitSeconds)
{}

void ApplicationLifecycleBridge::applicationStateChanged(Qt::ApplicationState state)
{
    const bool active = state == Qt::ApplicationActive;
    if (active == mActive)
        return;
    mActive = active;
    NotificationCenter& center = NotificationCenter::defaultCenter();
    if (active) {
        center.post(WillBecomeActiveNotification, this);
        center.post(DidBecomeActiveNotification, this);
    } else {
        center.post(WillResignActiveNotification, this);
        center.post(DidResignActiveNotification, this);
    }
}

void ApplicationLifecycleBridge::applicationWillQuit()
{
    if (mQuitPosted)
        return;
    mQuitPosted = true;
    NotificationCenter::defaultCenter().post(WillTerminateNotification, this);
    if (!ProcessActivity::waitWhileOpen(mQuitWaitSeconds))
        Log::warning(
            QStringLiteral("Quitting with %1 activities still open").arg(ProcessActivity::openActivities()));
}

} // namespace corvex
