#include "tests/shell/ShellTestSupport.h"

#include "model/Globals.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/NotificationCenter.h"
#include "shell/ContainerView.h"
#include "shell/WelcomeScreenView.h"
#include "storage/IdeaDocument.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace corvex::test {

namespace {

const QByteArray kShellOpml =
    "<?xml version=\"1.0\"?><opml version=\"2.0\"><head><title>B</title></head>"
    "<body><outline text=\"B root\"><outline text=\"child\"/></outline></body></opml>";

bool hasWelcome(const MyWindow& window)
{
    for (const auto& view : window.container()->subviews()) {
        if (dynamic_cast<WelcomeScreenView*>(view.get()))
            return true;
    }
    return false;
}

// A sign-in service that calls every URL the redirect and answers as told.
class ShellSignInDouble final : public DropboxSignInService
{
public:
    Outcome outcome = Outcome::Cancel;
    int handled = 0;
    bool isRedirectURL(const QUrl&) const override { return true; }
    void handleRedirectURL(const QUrl&, Completion completion) override
    {
        ++handled;
        completion(outcome, QStringLiteral("denied"));
    }
    bool hasAuthorizedClient() const override { return false; }
    void authorizeFromControllerDesktop(std::function<void(const QUrl&)>) override {}
    void unlinkAndResetClients() override {}
};

} // namespace

TEST(ShellState, WrittenByTheFiveSecondCycleOnlyAfterAChange)
{
    ShellRig rig;
    rig.app->dispatchNextStateUpdate();
    shellDefaults().removeObjectForKey(AppDelegate::CurrentStateKey);
    rig.app->markPersistentAppStateDirty();
    rig.time.advance(4.9);
    EXPECT_FALSE(shellDefaults().containsKey(AppDelegate::CurrentStateKey));
    rig.time.advance(0.1);
    EXPECT_TRUE(shellDefaults().containsKey(AppDelegate::CurrentStateKey));
    EXPECT_FALSE(rig.app->stateIsDirty());

    shellDefaults().removeObjectForKey(AppDelegate::CurrentStateKey);
    rig.time.advance(5.0);
    EXPECT_FALSE(shellDefaults().containsKey(AppDelegate::CurrentStateKey)); // nothing changed
    rig.app->markPersistentAppStateDirty();
    rig.time.advance(5.0);
    EXPECT_TRUE(shellDefaults().containsKey(AppDelegate::CurrentStateKey)); // the cycle re-armed
}

TEST(ShellState, QuitWritesTheStateEvenWhenClean)
{
    ShellRig rig;
    ASSERT_FALSE(rig.app->stateIsDirty());
    rig.app->applicationWriteStateBeforeQuit();
    const QVariant state = shellDefaults().objectForKey(AppDelegate::CurrentStateKey);
    ASSERT_EQ(state.typeId(), QMetaType::QVariantMap);
    EXPECT_TRUE(state.toMap().contains(AppDelegate::ControllerStatesKey));
}

namespace {

struct VersionCase
{
    const char* stored; // null: never stored
    const char* running;
    bool dropboxBefore;
    bool iCloud;
    bool dropboxAfter;
    bool welcome;
    int homeWindows;
    int documentWindows;
};

} // namespace

TEST(ShellLaunch, VersionRules)
{
    const VersionCase cases[] = {
        // First launch: the stored number counts as 0, so Dropbox is switched off.
        {nullptr, "1.6.0.40", true, false, false, false, 0, 1},
        // Same version: nothing written, step 10 opens the iCloud home.
        {"1.6.0.40", "1.6.0.40", false, true, false, false, 1, 0},
        // An old version with Dropbox: switched off, no welcome, then iCloud's home.
        {"1.4.9.20", "1.6.0.40", true, true, false, false, 1, 0},
        // 1.5 or later keeps Dropbox: its home window opens.
        {"1.5.1.2", "1.6.0.40", true, false, true, false, 1, 0},
        // Another version line: the welcome document and nothing else.
        {"1.6.0.40", "1.7.0.1", false, true, false, true, 0, 1},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.running);
        UserDefaults::resetStandardUserDefaultsForTesting();
        if (c.stored)
            shellDefaults().setString(AppDelegate::CurrentVersionKey, QString::fromLatin1(c.stored));
        Globals::optForDropbox(c.dropboxBefore);
        Globals::optForICloud(c.iCloud);
        {
            ShellRig rig;
            rig.app->setRunningVersionForTesting(QString::fromLatin1(c.running));
            rig.app->applicationDidFinishLaunching();
            const std::size_t expected = std::size_t(c.homeWindows + c.documentWindows);
            ASSERT_TRUE(rig.settle([&] {
                return rig.windowCount() == expected && std::size_t(c.homeWindows) == rig.homes.size();
            }));
            rig.time.runDue();
            EXPECT_EQ(Globals::userHasOptedForDropbox(), c.dropboxAfter);
            EXPECT_EQ(shellDefaults().stringForKey(AppDelegate::CurrentVersionKey),
                      QString::fromLatin1(c.running));
            bool welcome = false;
            for (const auto& controller : rig.app->windowControllers())
                welcome = welcome || hasWelcome(*controller->myWindow());
            EXPECT_EQ(welcome, c.welcome);
        }
        Globals::optForICloud(false);
        Globals::optForDropbox(false);
    }
}

TEST(ShellLaunch, KitStartsFirstAndALaunchFileSurvivesTheCleanUp)
{
    const QString path = testDir() + QStringLiteral("/B.opml");
    writeFile(path, kShellOpml);
    bool registeredAtKitStart = true;
    ReportingKitLaunch::setHook([&] {
        registeredAtKitStart = shellDefaults().objectForKey(AppDelegate::RecentLocalFilesKey).isValid();
    });
    {
        ShellRig rig;
        shellDefaults().setString(AppDelegate::CurrentVersionKey, AppDelegate::versionNumberDisplayString());
        rig.app->applicationOpenFile(path); // before did-finish, as a launch file arrives
        rig.app->applicationDidFinishLaunching();
        // The file's window and the default new document (a launch file does not stop it).
        ASSERT_TRUE(rig.settle([&] { return rig.windowCount() == 2; }));
        ASSERT_TRUE(
            rig.settle([&] { return rig.app->findWindowWithURL(QUrl::fromLocalFile(path)) != nullptr; }));
        EXPECT_EQ(rig.alerts->presentedCount(), 0);
    }
    ReportingKitLaunch::setHook({});
    EXPECT_FALSE(registeredAtKitStart);
}

TEST(ShellLaunch, UnreadableSavedStateRestoresWhatItCanAndAlerts)
{
    const QVariantMap good{{QStringLiteral("controllerClass"), QStringLiteral("HomeViewController")},
                           {QStringLiteral("controllerState"), QVariantMap{{QStringLiteral("a"), 1}}},
                           {QStringLiteral("windowFrame"), QStringLiteral("{{5000, 80}, {800, 600}}")}};
    const QVariantMap unknown{{QStringLiteral("controllerClass"), QStringLiteral("NoSuchScreen")}};
    shellDefaults().setObject(AppDelegate::CurrentStateKey,
                              QVariantMap{{AppDelegate::ControllerStatesKey,
                                           QVariantList{good, QStringLiteral("not a window"), unknown}}});
    ShellRig rig;
    shellDefaults().setString(AppDelegate::CurrentVersionKey, AppDelegate::versionNumberDisplayString());
    rig.alerts->answerIndex(0);
    rig.app->applicationDidFinishLaunching();
    ASSERT_TRUE(rig.settle([&] { return rig.homes.size() == 1; }));
    ASSERT_EQ(rig.windowCount(), 2u); // the good one and the unknown one (empty); step 10 opens nothing
    EXPECT_EQ(rig.alerts->presentedCount(), 1);
    EXPECT_EQ(rig.homes.front()->restoredState.value(QStringLiteral("a")).toInteger(), 1);
    // A saved frame on no screen keeps the prepared one.
    EXPECT_EQ(rig.app->windowControllers().front()->windowFrame().size.width, 1172);
    EXPECT_EQ(rig.app->windowControllers().front()->windowFrame().origin.x, 214);
    EXPECT_EQ(rig.app->windowControllers().back()->myWindow()->controller(), nullptr);

    shellDefaults().setObject(AppDelegate::CurrentStateKey, QStringLiteral("garbage"));
    EXPECT_FALSE(rig.app->restoreFromStoredState());
}

TEST(ShellFiles, RecentListKeepsTenLocalPathsNewestFirst)
{
    ShellRig rig;
    for (int i = 0; i < 11; ++i)
        rig.app->addNewRecentDocumentURL(QUrl::fromLocalFile(QStringLiteral("/docs/%1.corvex").arg(i)));
    QStringList paths = rig.app->recentLocalFiles();
    ASSERT_EQ(paths.size(), 10);
    EXPECT_EQ(paths.front(), QStringLiteral("/docs/10.corvex"));
    EXPECT_EQ(paths.back(), QStringLiteral("/docs/1.corvex"));

    rig.app->addNewRecentDocumentURL(QUrl::fromLocalFile(QStringLiteral("/docs/5.corvex")));
    rig.app->addNewRecentDocumentURL(QUrl(QStringLiteral("https://example.com/x.corvex")));
    paths = rig.app->recentLocalFiles();
    EXPECT_EQ(paths.size(), 10);
    EXPECT_EQ(paths.front(), QStringLiteral("/docs/5.corvex"));
    EXPECT_EQ(paths.count(QStringLiteral("/docs/5.corvex")), 1);
    EXPECT_EQ(rig.app->recentDocumentsMenu().paths(), paths);
}

TEST(ShellFiles, WrongTypedRecentListKeepsItsPathsInStoredOrder)
{
    shellDefaults().setObject(
        AppDelegate::RecentLocalFilesKey,
        QVariantList{QStringLiteral("/new.corvex"), 7, QVariantMap(), QStringLiteral("/old.opml")});
    shellDefaults().setString(AppDelegate::CurrentVersionKey, AppDelegate::versionNumberDisplayString());
    ShellRig rig;
    LogCapture log;
    rig.app->applicationDidFinishLaunching();
    EXPECT_EQ(rig.app->recentDocumentsMenu().paths(),
              (QStringList{QStringLiteral("/new.corvex"), QStringLiteral("/old.opml")}));
    EXPECT_EQ(log.count(QStringLiteral("RecentLocalFiles")), 2);
    rig.settle([&] { return rig.windowCount() == 1; });
}

TEST(ShellFiles, TheSameFileThroughALinkOpensNoSecondWindow)
{
    const QString path = testDir() + QStringLiteral("/B.opml");
    const QString link = testDir() + QStringLiteral("/link-to-B.opml");
    writeFile(path, kShellOpml);
    ASSERT_TRUE(QFile::link(path, link));
    ShellRig rig;
    int answers = 0;
    rig.app->doOpenLocalFile(path, [&](const MyResultPtr& result) { answers += result->isOK() ? 1 : 100; });
    ASSERT_TRUE(rig.settle([&] { return rig.app->findWindowWithURL(QUrl::fromLocalFile(path)) != nullptr; }));
    rig.app->doOpenLocalFile(link, [&](const MyResultPtr& result) { answers += result->isOK() ? 1 : 100; });
    rig.app->doOpenLocalFile(testDir() + QStringLiteral("/./B.opml"), {});
    rig.settle([&] { return answers == 2; });
    EXPECT_EQ(answers, 2);
    EXPECT_EQ(rig.windowCount(), 1u);
    EXPECT_TRUE(rig.app->isFileCurrentlyOpen(QUrl::fromLocalFile(link)));

    int failures = 0;
    rig.app->doOpenLocalFile(testDir() + QStringLiteral("/missing.opml"), [&](const MyResultPtr& result) {
        failures += result->isError() && result->description() == QStringLiteral("Failed to open file");
    });
    EXPECT_TRUE(rig.settle([&] { return failures == 1; }));
    EXPECT_EQ(rig.windowCount(), 1u);
}

TEST(ShellUrls, OnlyTheRedirectSchemeReachesSignIn)
{
    auto service = std::make_shared<ShellSignInDouble>();
    DropboxSignInService::setRegistered(service);
    ShellRig rig;
    Globals::optForDropbox(true);
    int posted = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        DropboxNotifications::InvalidAccessToken, nullptr,
        [&](const NotificationCenter::Notification&) { ++posted; });
    rig.app->applicationOpenUrl(QUrl(QStringLiteral("https://evil.example/?code=1")));
    rig.app->applicationOpenUrl(QUrl(QStringLiteral("db-other://1/connect")));
    rig.settle([] { return true; });
    EXPECT_EQ(service->handled, 0);
    EXPECT_TRUE(Globals::userHasOptedForDropbox());

    rig.alerts->answerIndex(0);
    rig.app->applicationOpenUrl(
        QUrl(DropboxSignInService::redirectScheme() + QStringLiteral("://1/connect")));
    rig.settle([&] { return posted == 1; });
    EXPECT_EQ(service->handled, 1);
    EXPECT_EQ(posted, 1);
    EXPECT_FALSE(Globals::userHasOptedForDropbox());
    ASSERT_EQ(rig.alerts->presentedCount(), 1);
    DropboxSignInService::setRegistered(nullptr);
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(ShellWindows, WithoutAHomeScreenACloudWindowShowsAnEmptyOneAndSaysSo)
{
    ShellRig rig(false);
    LogCapture log;
    rig.app->newCloudWindow(IdeaDocument::ICloudLocation);
    ASSERT_EQ(rig.windowCount(), 1u);
    auto window = rig.app->windowControllers().front()->myWindow();
    ASSERT_TRUE(rig.settle([&] { return window->controller() != nullptr; }));
    EXPECT_EQ(window->controllerClassName(), QStringLiteral("BaseViewController"));
    EXPECT_EQ(log.count(QStringLiteral("No home screen")), 1);
}

TEST(ShellFiles, OpenPanelOffersDocumentsAndCancelDoesNothing)
{
    ShellRig rig;
    rig.panels->answerCancel();
    rig.app->qvOpenLocalFile();
    ASSERT_EQ(rig.panels->presentedCount(), 1);
    EXPECT_EQ(rig.panels->presented().front().panel.allowedFileTypes,
              (QStringList{QStringLiteral("corvex"), QStringLiteral("opml")}));
    rig.settle([&] { return rig.panels->pendingAnswers() == 0; });
    EXPECT_EQ(rig.windowCount(), 0u);
    EXPECT_EQ(rig.alerts->presentedCount(), 0);
}

TEST(ShellWindows, NoWindowsAllowDeletion)
{
    ShellRig rig;
    EXPECT_TRUE(rig.app->canWeSafelyDeleteIdea(QStringLiteral("id"), QStringLiteral("temp:/x.crvx")));
    EXPECT_EQ(Globals::app(), rig.app);
}

} // namespace corvex::test
