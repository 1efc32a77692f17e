// The persistence controller's construction and locations: the singleton published before
// its initialisation, workspaces that follow the user's storage choices and the user
// defaults' change notification, "PersistenceStateChangeNotification", statuses, attachment
// managers and the temporary location's URLs.

#include "tests/storage/PersistenceControllerTestSupport.h"

#include "platform/core/SerialQueue.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"

#include <atomic>
#include <csignal>
#include <cstdio>

using namespace corvex;
using namespace corvex::test;

namespace {

// A back end made while the controller initialises reaches the controller again, on the
// main thread and, through the work queue, from another thread. Neither may wait for the
// initialisation that is still running, nor get a second controller.
CORVEX_TEST_HELPER(controllerReentrantStart)
{
    Globals::optForICloud(true);
    Globals::optForDropbox(false);
    PersistenceController* fromMaker = nullptr;
    std::atomic<PersistenceController*> fromWorker{nullptr};
    bool workerAnsweredDuringStart = false;
    PersistenceStateFactory::registerMaker(kICloud, [&]() -> PersistenceStatePtr {
        fromMaker = &PersistenceController::singleton();
        fromMaker->workQueue().async([&fromWorker] { fromWorker = &PersistenceController::singleton(); });
        workerAnsweredDuringStart = runUntil([&fromWorker] { return fromWorker.load() != nullptr; }, 20.0);
        return TestFolderPersistenceState::create(testDir() + QStringLiteral("/icloud"), kICloud);
    });
    PersistenceController& controller = PersistenceController::singleton();
    std::printf("maker=%d worker=%d during=%d again=%d workspace=%d\n", int(fromMaker == &controller),
                int(fromWorker.load() == &controller), int(workerAnsweredDuringStart),
                int(&PersistenceController::singleton() == &controller),
                int(controller.workspaceForLocation(kICloud) != nullptr));
    std::fflush(stdout);
    return 0;
}

} // namespace

TEST(PersistenceControllerStart, TheSingletonIsPublishedBeforeItsInitialisationRuns)
{
    auto helper = HelperProcess::start(QStringLiteral("controllerReentrantStart"));
    ASSERT_TRUE(helper);
    const auto line = helper->readLine(60.0);
    if (!line)
        helper->kill(SIGKILL);
    EXPECT_EQ(helper->wait(), 0);
    ASSERT_TRUE(line.has_value()) << "the controller's start never finished (a deadlock)";
    EXPECT_EQ(*line, "maker=1 worker=1 during=1 again=1 workspace=1");
}

using PersistenceControllerLocations = ControllerTest;

TEST_F(PersistenceControllerLocations, WorkspacesExistExactlyForTheLocationsOptedIn)
{
    PersistenceController& controller = start(/*iCloud*/ true, /*dropbox*/ false);

    ASSERT_TRUE(controller.workspaceForLocation(kICloud) != nullptr);
    EXPECT_EQ(controller.workspaceForLocation(kICloud)->location(), kICloud);
    EXPECT_EQ(controller.workspaceForLocation(kDropbox), nullptr);
    EXPECT_EQ(controller.workspaceForLocation(kTemp), nullptr);
    EXPECT_EQ(controller.workspaceForLocation(kLocalFile), nullptr);
    EXPECT_EQ(backEndsMade(kICloud), 1);
    EXPECT_EQ(backEndsMade(kDropbox), 0);
    // Its back end is the workspace's and hears it as its delegate.
    EXPECT_EQ(controller.workspaceForLocation(kICloud)->currentState().get(), &backEnd(kICloud));

    EXPECT_EQ(controller.statusForLocation(kICloud), WorkspaceStatus::Starting);
    EXPECT_EQ(controller.statusForLocation(kDropbox), WorkspaceStatus::Unavailable);
    EXPECT_EQ(controller.statusForLocation(kTemp), WorkspaceStatus::Unavailable);

    // Location 0 is always ready; a cloud location once its list is complete.
    EXPECT_TRUE(controller.isLocationReadyForUse(kTemp));
    EXPECT_FALSE(controller.isLocationReadyForUse(kICloud));
    EXPECT_FALSE(controller.proxyListForLocation(kICloud).has_value());
    EXPECT_FALSE(controller.isLocationReadyForUse(kDropbox));
    EXPECT_FALSE(controller.isLocationReadyForUse(kLocalFile));

    const QStringList published = publishDocuments(kICloud, {QStringLiteral("one"), QStringLiteral("two")});
    EXPECT_TRUE(controller.isLocationReadyForUse(kICloud));
    const auto list = controller.proxyListForLocation(kICloud);
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(identifiersOf(*list), published);
    EXPECT_FALSE(controller.proxyListForLocation(kDropbox).has_value());
}

TEST_F(PersistenceControllerLocations, TheUserDefaultsChangeNotificationOpensAndClosesWorkspaces)
{
    PersistenceController& controller = start(true, true);
    const auto iCloud = controller.workspaceForLocation(kICloud);
    const auto dropbox = controller.workspaceForLocation(kDropbox);
    ASSERT_TRUE(iCloud && dropbox);
    auto dropboxBackEnd = dropbox->currentState();
    StateChangeCounter notifications;
    // Screens showing a location's documents hear that it is no longer used.
    auto listener = std::make_shared<RecordingListener>();
    controller.addListener(listener);

    // Opting out of Dropbox while iCloud stays: only Dropbox's workspace goes, once.
    Globals::optForDropbox(false);
    settle([&] { return notifications.count > 0; });
    time().runDue();
    EXPECT_EQ(notifications.count, 1);
    EXPECT_EQ(listener->linesStartingWith(QStringLiteral("stop")), QStringList{QStringLiteral("stop 3")});
    EXPECT_EQ(notifications.withSender, 0) << "posted with a sender";
    EXPECT_EQ(controller.workspaceForLocation(kDropbox), nullptr);
    EXPECT_TRUE(dropboxBackEnd->isDead()) << "the closed workspace's back end did not leave its state";
    EXPECT_EQ(dropbox->currentState(), nullptr);
    EXPECT_EQ(controller.workspaceForLocation(kICloud), iCloud);
    EXPECT_EQ(controller.statusForLocation(kDropbox), WorkspaceStatus::Unavailable);

    // A change that alters neither choice posts nothing and keeps both as they are.
    UserDefaults::standardUserDefaults().setString(QStringLiteral("someOtherKey"), QStringLiteral("x"));
    time().advance(1.0);
    processEvents();
    EXPECT_EQ(notifications.count, 1);
    EXPECT_EQ(controller.workspaceForLocation(kICloud), iCloud);
    EXPECT_EQ(backEndsMade(kDropbox), 1);

    // Opting in again makes a new workspace with a new back end.
    Globals::optForDropbox(true);
    settle([&] { return notifications.count > 1; });
    time().runDue();
    EXPECT_EQ(notifications.count, 2);
    EXPECT_EQ(backEndsMade(kDropbox), 2);
    ASSERT_TRUE(controller.workspaceForLocation(kDropbox) != nullptr);
    EXPECT_NE(controller.workspaceForLocation(kDropbox), dropbox);
    EXPECT_EQ(controller.statusForLocation(kDropbox), WorkspaceStatus::Starting);

    // Opting out of both closes both, 2 before 3, one notification each.
    Globals::optForICloud(false);
    Globals::optForDropbox(false);
    settle([&] { return notifications.count > 3; });
    time().runDue();
    EXPECT_EQ(notifications.count, 4);
    EXPECT_EQ(controller.workspaceForLocation(kICloud), nullptr);
    EXPECT_EQ(controller.workspaceForLocation(kDropbox), nullptr);
    // Opting in said nothing to the listeners.
    EXPECT_EQ(listener->linesStartingWith(QStringLiteral("stop")),
              (QStringList{QStringLiteral("stop 3"), QStringLiteral("stop 2"), QStringLiteral("stop 3")}));
    controller.removeListener(listener.get());
}

TEST_F(PersistenceControllerLocations, BackEndStatusCodesBecomeStatusesAndPostTheNotification)
{
    PersistenceController& controller = start(true, true);
    StateChangeCounter notifications;
    TestFolderPersistenceState& iCloud = backEnd(kICloud);

    const struct
    {
        PersistenceStateStatus code;
        WorkspaceStatus expected;
    } steps[] = {{PersistenceStateStatusSyncing, WorkspaceStatus::Synchronising},
                 {PersistenceStateStatusAllFound, WorkspaceStatus::InSync},
                 {PersistenceStateStatusError, WorkspaceStatus::Error},
                 {PersistenceStateStatusDataReceived, WorkspaceStatus::InSync},
                 {PersistenceStateStatusNoAccount, WorkspaceStatus::Unavailable}};
    int expectedNotifications = 0;
    for (const auto& step : steps) {
        iCloud.reportStatus(step.code);
        time().runDue();
        ++expectedNotifications;
        EXPECT_EQ(controller.statusForLocation(kICloud), step.expected) << "code " << step.code;
        EXPECT_EQ(notifications.count, expectedNotifications) << "code " << step.code;
    }
    EXPECT_EQ(controller.statusForLocation(kDropbox), WorkspaceStatus::Starting)
        << "another location changed";

    // A code the workspaces do not know changes nothing and tells nobody.
    iCloud.reportStatus(6);
    time().runDue();
    EXPECT_EQ(notifications.count, expectedNotifications);
    EXPECT_EQ(controller.statusForLocation(kICloud), WorkspaceStatus::Unavailable);

    // A delayed report arrives when its time has come.
    backEnd(kDropbox).reportStatus(PersistenceStateStatusAllFound, 3.0);
    time().advance(2.9);
    EXPECT_EQ(controller.statusForLocation(kDropbox), WorkspaceStatus::Starting);
    time().advance(0.2);
    EXPECT_EQ(controller.statusForLocation(kDropbox), WorkspaceStatus::InSync);
    EXPECT_EQ(notifications.count, expectedNotifications + 1);
}

TEST_F(PersistenceControllerLocations, ALocationWithoutABackEndStaysUnavailableUntilOneIsRegistered)
{
    PersistenceStateFactory::registerMaker(kDropbox, {});
    LogCapture log;
    PersistenceController& controller = start(true, true);
    EXPECT_EQ(controller.workspaceForLocation(kDropbox), nullptr);
    EXPECT_EQ(controller.statusForLocation(kDropbox), WorkspaceStatus::Unavailable);
    EXPECT_EQ(log.count(QStringLiteral("no storage back end for location 3")), 1);

    // Later changes of the user defaults look again, without logging again.
    UserDefaults::standardUserDefaults().setString(QStringLiteral("someOtherKey"), QStringLiteral("x"));
    time().advance(1.0);
    EXPECT_EQ(log.count(QStringLiteral("no storage back end for location 3")), 1);

    StateChangeCounter notifications;
    PersistenceStateFactory::registerMaker(kDropbox, [] {
        return TestFolderPersistenceState::create(testDir() + QStringLiteral("/late"), kDropbox);
    });
    UserDefaults::standardUserDefaults().setString(QStringLiteral("someOtherKey"), QStringLiteral("y"));
    time().advance(1.0);
    EXPECT_NE(controller.workspaceForLocation(kDropbox), nullptr);
    EXPECT_EQ(notifications.count, 1);
}

TEST_F(PersistenceControllerLocations, AttachmentManagersAndTemporaryURLsFollowTheLocation)
{
    PersistenceController& controller = start(true, false);

    EXPECT_TRUE(
        std::dynamic_pointer_cast<TempLocationManager>(controller.attachmentManagerForLocation(kTemp)));
    EXPECT_EQ(controller.attachmentManagerForLocation(kICloud),
              std::static_pointer_cast<AttachmentManager>(controller.workspaceForLocation(kICloud)));
    EXPECT_EQ(controller.attachmentManagerForLocation(kDropbox), nullptr);
    EXPECT_EQ(controller.attachmentManagerForLocation(kLocalFile), nullptr);
    EXPECT_EQ(controller.attachmentManagerForLocation(7), nullptr);

    LogCapture log;
    const QUrl url = controller.urlForLocalOrTempFileWithDocIdentifer(QStringLiteral("temp:/id5_1.crvx"));
    EXPECT_EQ(url.toLocalFile(),
              TempLocationManager::baseDocURL().toLocalFile() + QStringLiteral("/id5_1.crvx"));
    EXPECT_FALSE(log.contains(QStringLiteral("Assertion failure")));

    for (const QString& other : {QStringLiteral("iCloud:/id5_1.crvx"), QStringLiteral("dropbox:/id5_1.crvx"),
                                 QStringLiteral("file:///tmp/id5_1.crvx")}) {
        log.clear();
        EXPECT_TRUE(controller.urlForLocalOrTempFileWithDocIdentifer(other).isEmpty()) << other.toStdString();
        EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 219 -[PersistenceController "
                                           "urlForLocalOrTempFileWithDocIdentifer:]")),
                  1)
            << other.toStdString() << "\n"
            << log.lines().join(QLatin1Char('\n')).toStdString();
    }
    // Paths from saved state or drag payloads never leave the temporary folder.
    for (const QString& unsafe : {QStringLiteral("temp:/../escape.crvx"), QStringLiteral("temp://etc/passwd"),
                                  QStringLiteral("temp:/"), QStringLiteral("temp:/a/b.crvx")})
        EXPECT_TRUE(controller.urlForLocalOrTempFileWithDocIdentifer(unsafe).isEmpty())
            << unsafe.toStdString();
}
