#include "platform/ui/ApplicationLifecycleBridge.h"
#include "kit/core/LOMKit.h"
#include "platform/core/ProcessActivity.h"
#include "tallykit/Tally.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/tallykit/TallyTestSupport.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <csignal>

using namespace corvex;

TEST(ApplicationLifecycleBridge, PostsTheApplicationNotificationsOfEachChange)
{
    QStringList posted;
    auto token = NotificationCenter::defaultCenter().addObserver(
        QString(), nullptr, [&posted](const NotificationCenter::Notification& note) {
            if (note.name.startsWith(QLatin1String("NSApplication")))
                posted.append(note.name.mid(13).chopped(12)); // "NSApplication...Notification"
        });
    ApplicationLifecycleBridge bridge(0.0);
    struct Step
    {
        Qt::ApplicationState state;
        QStringList names;
    };
    const Step steps[] = {
        {Qt::ApplicationActive, {QStringLiteral("WillBecomeActive"), QStringLiteral("DidBecomeActive")}},
        {Qt::ApplicationActive, {}},
        {Qt::ApplicationInactive, {QStringLiteral("WillResignActive"), QStringLiteral("DidResignActive")}},
        {Qt::ApplicationHidden, {}},
        {Qt::ApplicationActive, {QStringLiteral("WillBecomeActive"), QStringLiteral("DidBecomeActive")}},
    };
    for (const Step& step : steps) {
        posted.clear();
        bridge.applicationStateChanged(step.state);
        EXPECT_EQ(posted, step.names);
    }
    posted.clear();
    {
        // An activity still open at quit: the bridge waits its bound, then says so.
        const ProcessActivity::Token open = ProcessActivity::beginActivity(0, QStringLiteral("pending"));
        test::LogCapture log;
        bridge.applicationWillQuit();
        bridge.applicationWillQuit();
        EXPECT_TRUE(log.contains(QStringLiteral("activities still open")));
        ProcessActivity::endActivity(open);
    }
    EXPECT_EQ(posted, QStringList{QStringLiteral("WillTerminate")});
    NotificationCenter::defaultCenter().removeObserver(token);

    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr);
    ApplicationLifecycleBridge* installed = ApplicationLifecycleBridge::install(application);
    EXPECT_EQ(ApplicationLifecycleBridge::install(application), installed);
}

namespace {

// The crash reporter as the kit registry finds it until it lands: a kit named "Blackbox"
// whose start starts analytics.
class StandInBlackbox final : public LOMKitClass
{
public:
    QString className() const override { return QStringLiteral("Blackbox"); }
    QString bundleIdentifier() const override { return QStringLiteral("com.loomworks.blackbox.mac"); }
    QString kitDisplayVersion() const override { return QStringLiteral("3.8.5"); }
    bool answersInitializeIfNeeded() const override { return true; }
    void initializeIfNeeded() override { Tally::startWithBetaToken(std::nullopt); }
};

} // namespace

// args[0] "drive": the application becomes active, inactive and quits, with no settings (so
// everything stays on disk); "send": starts with the settings body args[1] and runs until
// killed.
CORVEX_TEST_HELPER(tallyBridgeApplication)
{
    test::ScopedVirtualTime time(1000.0, test::VirtualScheduler::Mode::AutoAdvance);
    test::TallyRegistry registry;
    if (args.value(0) == QLatin1String("send"))
        test::tallyDeliverSettings(registry.loom, args.value(1).toUtf8());
    static StandInBlackbox blackbox;
    LOMKitClassRegistry::registerClass(&blackbox);
    Tally::registerKitClass();
    Tally::sharedInstance().setStartEnvironment(&registry.loom, test::tallyRoot());
    registry.loom.start({LOMKitArgument(&blackbox)});
    if (!Tally::sharedInstance().tallyController())
        return 2;
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    ApplicationLifecycleBridge* bridge = ApplicationLifecycleBridge::install(application);
    if (args.value(0) == QLatin1String("drive")) {
        bridge->applicationStateChanged(Qt::ApplicationActive);
        bridge->applicationStateChanged(Qt::ApplicationInactive);
        bridge->applicationWillQuit();
        // What the quit path waited for is on disk: the process may end now.
        return ProcessActivity::anyOpen() ? 3 : 0;
    }
    test::runUntil([] { return false; }, 120);
    return 0;
}

TEST(ApplicationLifecycleBridge, AQuitLeavesTheLifecycleInTheLogsAndTheNextStartSendsIt)
{
    test::VendorServiceStandIn vendor("com.tallowfen.corvex");
    ASSERT_TRUE(vendor.start());
    auto driven =
        test::HelperProcess::start(QStringLiteral("tallyBridgeApplication"), {QStringLiteral("drive")});
    ASSERT_TRUE(driven);
    driven->readAll();
    ASSERT_EQ(driven->wait(), 0);

    // Without settings nothing was sent: every stage is on disk.
    QByteArray onDisk;
    for (const QString& name : test::tallyFiles()) {
        const QByteArray bytes = test::tallyRead(test::tallyEventDir() + u'/' + name);
        if (name.endsWith(QLatin1String(".log")))
            onDisk += bytes;
        else if (name.endsWith(QLatin1String(".gz")))
            onDisk += Zlib::gunzip(bytes).value();
        else if (name.endsWith(QLatin1String(".multipartmime")))
            onDisk += test::VendorServiceStandIn::parseEventsBody(name.section(u'.', 0, 0).toLatin1(), bytes)
                          .lines.join('\n');
    }
    const QStringList lifecycle = {QStringLiteral("app_became_active"), QStringLiteral("app_became_inactive"),
                                   QStringLiteral("app_terminated")};
    for (const QString& name : lifecycle)
        EXPECT_TRUE(onDisk.contains('\t' + name.toLatin1() + '\t')) << name.toStdString();
    EXPECT_EQ(vendor.count(test::VendorServiceStandIn::Route::Events), 0);

    auto sending = test::HelperProcess::start(
        QStringLiteral("tallyBridgeApplication"),
        {QStringLiteral("send"), QString::fromUtf8(vendor.analyticsSettingsBody())});
    ASSERT_TRUE(sending);
    auto receivedAll = [&] {
        QByteArray lines;
        for (const auto& upload : vendor.eventsUploads())
            lines += upload.lines.join('\n') + '\n';
        return std::all_of(lifecycle.cbegin(), lifecycle.cend(), [&](const QString& name) {
            return lines.contains('\t' + name.toLatin1() + '\t');
        });
    };
    EXPECT_TRUE(test::runUntil(receivedAll, 60));
    sending->kill(SIGKILL);
    sending->wait();
}
