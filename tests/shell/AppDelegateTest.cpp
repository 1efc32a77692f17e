#include "tests/shell/ShellTestSupport.h"

#include "formats/ExportImport.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SerialQueue.h"
#include "shell/ContainerView.h"
#include "shell/WelcomeScreenView.h"
#include "storage/IdeaDocument.h"
#include "storage/StorageQueues.h"
#include "storage/TemporaryLocation.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/FaultShim.h"
#include "tests/support/FreeplaneOutline.h"
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

// The windows whose screen is the home screen.
int homeWindowCount(const ShellRig& rig)
{
    int count = 0;
    for (const auto& controller : rig.app->windowControllers())
        count += controller->myWindow()->controllerClassName() == MainWindowController::HomeScreenClass;
    return count;
}

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

TEST(ShellState, AQuitBeforeANewWindowShowsItsScreenKeepsTheWindow)
{
    // Quit in the same turn of the main queue as the windows opened, before either window
    // shows its screen: both are saved as they will be.
    ShellRig rig;
    rig.app->newCloudWindow(IdeaDocument::ICloudLocation);
    auto document = IdeaDocument::initWithFileName(QString(), IdeaDocument::TemporaryLocation);
    document->setRepresentativeURL(QUrl::fromLocalFile(QStringLiteral("/home/user/Trip.corvex")));
    rig.app->addAndShowNewWindowController(MainWindowController::initWithDocumentWindow(
        document, 1, QString(), MainWindowController::InitialActionNone));
    rig.app->applicationWriteStateBeforeQuit();
    const QVariantList saved = shellDefaults()
                                   .objectForKey(AppDelegate::CurrentStateKey)
                                   .toMap()
                                   .value(AppDelegate::ControllerStatesKey)
                                   .toList();
    ASSERT_EQ(saved.size(), 2);
    const QVariantMap home = saved[0].toMap();
    EXPECT_EQ(home.value(MainWindowController::ControllerClassKey).toString(),
              MainWindowController::HomeScreenClass);
    EXPECT_EQ(home.value(MainWindowController::ControllerStateKey)
                  .toMap()
                  .value(QStringLiteral("location"))
                  .toInt(),
              2);
    const QVariantMap mindMap = saved[1].toMap();
    EXPECT_EQ(mindMap.value(MainWindowController::ControllerClassKey).toString(),
              MainWindowController::MindMapScreenClass);
    const QVariantMap state = mindMap.value(MainWindowController::ControllerStateKey).toMap();
    EXPECT_EQ(state.value(QStringLiteral("docIdentifier")).toString(), document->docIdentifier());
    EXPECT_EQ(state.value(QStringLiteral("representedURL")).toString(),
              QStringLiteral("file:///home/user/Trip.corvex"));
    EXPECT_FALSE(home.value(MainWindowController::WindowFrameKey).toString().isEmpty());
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
            ASSERT_TRUE(rig.settle(
                [&] { return rig.windowCount() == expected && homeWindowCount(rig) == c.homeWindows; }));
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
        // The file's window alone: the launch file stands for step 10's first window.
        ASSERT_TRUE(
            rig.settle([&] { return rig.app->findWindowWithURL(QUrl::fromLocalFile(path)) != nullptr; }));
        rig.time.runDue();
        EXPECT_EQ(rig.windowCount(), 1u);
        EXPECT_EQ(rig.alerts->presentedCount(), 0);
    }
    ReportingKitLaunch::setHook({});
    EXPECT_FALSE(registeredAtKitStart);
}

TEST(ShellLaunch, RestoredWindowsThatCloseWhileTheLaunchsAlertShowsCountAsClosed)
{
    // One window comes back; the second entry is damaged, so the launch tells of it. While its
    // alert shows, the restored window is closed (a sync that removed its document): the close
    // waits for the alert's end, and the launch opens its first window all the same.
    ShellRig rig;
    shellDefaults().setString(AppDelegate::CurrentVersionKey, AppDelegate::versionNumberDisplayString());
    const QVariantMap home{
        {MainWindowController::ControllerClassKey, MainWindowController::HomeScreenClass},
        {MainWindowController::ControllerStateKey, QVariantMap{{QStringLiteral("location"), 2}}}};
    shellDefaults().setObject(
        AppDelegate::CurrentStateKey,
        QVariantMap{{AppDelegate::ControllerStatesKey, QVariantList{home, QStringLiteral("damaged")}}});
    std::shared_ptr<MyWindow> restored;
    int savedWhileClosing = -1;
    rig.alerts->setHandler([&](const Alert&) -> std::optional<int> {
        restored = rig.app->windowControllers().front()->myWindow();
        restored->close();
        savedWhileClosing =
            int(rig.app->createState(false).value(AppDelegate::ControllerStatesKey).toList().size());
        return std::nullopt;
    });
    rig.app->applicationDidFinishLaunching();
    ASSERT_NE(restored, nullptr) << "no alert";
    EXPECT_EQ(savedWhileClosing, 0) << "a closing window was saved for the next launch";
    ASSERT_TRUE(rig.settle([&] { return rig.windowCount() == 1 && !restored->isVisible(); }));
    EXPECT_NE(rig.app->windowControllers().front()->myWindow(), restored);
}

TEST(ShellLaunch, TheFirstWindowOpensOnlyWhenEveryLaunchFileFailed)
{
    const QString good = testDir() + QStringLiteral("/Good.opml");
    writeFile(good, kShellOpml);
    const QString missing = testDir() + QStringLiteral("/Missing.corvex");
    const QString broken = testDir() + QStringLiteral("/Broken.opml");
    writeFile(broken, QByteArray("<opml><body><outline text="));
    struct LaunchCase
    {
        QStringList files;
        int alerts;
        bool firstWindow; // else the good file's
    };
    const LaunchCase cases[] = {
        {{missing, good}, 1, false},
        {{missing}, 1, true},
        {{broken, missing}, 2, true},
    };
    for (const LaunchCase& c : cases) {
        SCOPED_TRACE(c.files.join(QLatin1Char(' ')).toStdString());
        ShellRig rig;
        shellDefaults().setString(AppDelegate::CurrentVersionKey, AppDelegate::versionNumberDisplayString());
        std::vector<std::size_t> windowsAtAlerts;
        rig.alerts->setHandler([&](const Alert&) -> std::optional<int> {
            windowsAtAlerts.push_back(rig.windowCount());
            return std::nullopt;
        });
        for (const QString& file : c.files)
            rig.app->applicationOpenFile(file);
        rig.app->applicationDidFinishLaunching();
        ASSERT_TRUE(rig.settle([&] { return rig.windowCount() == 1; }));
        rig.time.runDue();
        ASSERT_EQ(rig.windowCount(), 1u);
        EXPECT_EQ(rig.alerts->presentedCount(), c.alerts);
        const QUrl shown = rig.app->windowControllers().front()->myWindow()->docURL();
        if (c.firstWindow) {
            // The new document step 10 would have opened, after the failures were told.
            EXPECT_TRUE(shown.isEmpty()) << shown.toString().toStdString();
            EXPECT_EQ(windowsAtAlerts, std::vector<std::size_t>(std::size_t(c.alerts), 0u));
        } else {
            EXPECT_EQ(shown, QUrl::fromLocalFile(good));
        }
    }
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
    // The double keeps the state it was restored with.
    ShellRig rig(ShellRig::Home::Double);
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
    CompletionRecorder opens;
    const std::function<void(const MyResultPtr&)> count = [&](const MyResultPtr& result) {
        answers += result->isOK() ? 1 : 100;
    };
    rig.app->doOpenLocalFile(path, opens.expect<const MyResultPtr&>(QStringLiteral("open"), count));
    ASSERT_TRUE(rig.settle([&] { return rig.app->findWindowWithURL(QUrl::fromLocalFile(path)) != nullptr; }));
    rig.app->doOpenLocalFile(link, opens.expect<const MyResultPtr&>(QStringLiteral("open again"), count));
    rig.app->doOpenLocalFile(testDir() + QStringLiteral("/./B.opml"), {});
    rig.settle([&] { return answers == 2; });
    EXPECT_EQ(answers, 2);
    EXPECT_EQ(rig.windowCount(), 1u);
    EXPECT_TRUE(rig.app->isFileCurrentlyOpen(QUrl::fromLocalFile(link)));

    CompletionRecorder recorder;
    rig.app->doOpenLocalFile(
        testDir() + QStringLiteral("/missing.opml"),
        recorder.expect<const MyResultPtr&>(
            QStringLiteral("missing"), std::function<void(const MyResultPtr&)>([](const MyResultPtr& result) {
                EXPECT_TRUE(result->isError());
                EXPECT_EQ(result->description(),
                          QStringLiteral("Failed to open file\n\nThe file does not exist."));
            })));
    EXPECT_TRUE(rig.settle([&] { return recorder.allCalled(); }));
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(rig.windowCount(), 1u);
}

// The mind-map screen of the first window once it shows its document.
std::shared_ptr<SolarSystemViewController> shownDocument(ShellRig& rig, std::size_t window = 0)
{
    std::shared_ptr<SolarSystemViewController> screen;
    rig.settle([&] {
        if (rig.windowCount() <= window)
            return false;
        screen = std::dynamic_pointer_cast<SolarSystemViewController>(
            rig.app->windowControllers()[window]->myWindow()->controller());
        return screen && screen->rootIdea() != nullptr;
    });
    return screen;
}

TEST(ShellFiles, AnOpenedOutlineIsNeverWrittenOverItsEditsAreSavedIntoACorvexFileBesideIt)
{
    const QString folder = testDir() + QStringLiteral("/maps");
    const QString opml = folder + QStringLiteral("/Trip.opml");
    const QString corvex = folder + QStringLiteral("/Trip.corvex");
    writeFile(opml, kFreeplaneOpml);
    ShellRig rig;
    rig.app->doOpenLocalFile(opml, {});
    auto screen = shownDocument(rig);
    ASSERT_TRUE(screen);
    EXPECT_EQ(rig.app->windowControllers().front()->myWindow()->title(), QStringLiteral("Trip.opml"));

    // Opening it again brings its window forward: the outline's path still names the window.
    // The answer, known at once, still comes on a later turn.
    CompletionRecorder recorder;
    rig.app->doOpenLocalFile(opml, recorder.expect<const MyResultPtr&>(
                                       QStringLiteral("open again"),
                                       std::function<void(const MyResultPtr&)>(
                                           [](const MyResultPtr& result) { EXPECT_TRUE(result->isOK()); })));
    EXPECT_EQ(recorder.callCount(QStringLiteral("open again")), 0);
    ASSERT_TRUE(rig.settle([&] { return recorder.allCalled(); }));
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(rig.windowCount(), 1u);

    screen->addNewIdeaAfterIndex(screen->ownIdea()->ideas().size() - 1,
                                 Idea::initWithText(QStringLiteral("Come back")));
    ASSERT_TRUE(rig.settle([&] { return !screen->updatingDocument(); }));
    rig.panels->answerOK({QUrl::fromLocalFile(corvex)});
    screen->qvSaveLocalFile();
    ASSERT_TRUE(rig.settle([&] {
        return QFile::exists(corvex) && screen->document()->refersToURL(QUrl::fromLocalFile(corvex));
    }));
    ASSERT_EQ(rig.panels->presentedSaves().size(), 1u);
    EXPECT_EQ(rig.panels->presentedSaves()[0].panel.directory, folder);
    EXPECT_EQ(rig.panels->presentedSaves()[0].panel.nameFieldStringValue, QStringLiteral("Trip.corvex"));
    EXPECT_EQ(readFile(opml), kFreeplaneOpml) << "the outline stays byte for byte";
    EXPECT_EQ(rig.app->windowControllers().front()->myWindow()->title(), QStringLiteral("Trip.corvex"));

    // The Corvex file reopens with the edit once its window is gone.
    {
        // Held while it closes: closing takes the controller out of the list.
        const auto controller = rig.app->windowControllers().front();
        const auto window = controller->myWindow();
        window->performClose();
    }
    ASSERT_TRUE(rig.settle([&] { return rig.windowCount() == 0; }));
    rig.app->doOpenLocalFile(corvex, {});
    auto reopened = shownDocument(rig);
    ASSERT_TRUE(reopened);
    QStringList titles;
    for (const auto& child : reopened->rootIdea()->ideas())
        titles.append(child->text());
    EXPECT_EQ(reopened->rootIdea()->text(), QStringLiteral("Trip"));
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Trip"), QStringLiteral("Come back")}));
}

TEST(ShellFiles, AnOpenedFileShowsItsWindowBeforeItsFirstSaveAndAFailedOneKeepsTheWindow)
{
    const QString opml = testDir() + QStringLiteral("/First.opml");
    writeFile(opml, kFreeplaneOpml);
    ShellRig rig;
    // Held: the first save cannot end before the window shows.
    StorageQueues::persistenceQueue().suspend();
    rig.app->doOpenLocalFile(opml, {});
    auto screen = shownDocument(rig);
    ASSERT_TRUE(screen);
    const QString stored = TemporaryLocation::documentURL(screen->document()->docIdentifier()).toLocalFile();
    EXPECT_FALSE(QFile::exists(stored)) << "shown before its file is made";
    StorageQueues::persistenceQueue().resume();
    ASSERT_TRUE(rig.settle([&] { return QFile::exists(stored); }));
    EXPECT_EQ(IdeaDocumentDataObject::readFromSomeData(readFile(stored))->idea()->debugDescription(),
              screen->rootIdea()->debugDescription());

    // A first save that fails: the window keeps the tree, the person is told, the outline
    // stays as it was.
    const QString second = testDir() + QStringLiteral("/Second.opml");
    writeFile(second, kShellOpml);
    {
        FaultShim shim;
        shim.failFrom(FaultShim::Op::Rename, 1, ENOSPC);
        rig.app->doOpenLocalFile(second, {});
        ASSERT_TRUE(rig.settle([&] { return rig.alerts->presentedCount() == 1; }));
    }
    EXPECT_EQ(rig.alerts->presented()[0].informativeText, QStringLiteral("Could not create document"));
    auto kept = shownDocument(rig, 1);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->rootIdea()->calculateWholeTreeSize(), 3);
    EXPECT_EQ(readFile(second), kShellOpml);
}

TEST(ShellFiles, AFileReadInPartOpensWithAnAlertSayingHowMuchAndARefusalSaysWhy)
{
    // Cut off inside its fourth outline: three ideas and the head's root are read.
    const QString cut = testDir() + QStringLiteral("/cut.opml");
    writeFile(cut, kFreeplaneOpml.left(kFreeplaneOpml.indexOf("<outline text=\"Go\"") + 10));
    ShellRig rig;
    rig.app->doOpenLocalFile(cut, [](const MyResultPtr& result) { EXPECT_TRUE(result->isOK()); });
    ASSERT_TRUE(shownDocument(rig));
    ASSERT_TRUE(rig.settle([&] { return rig.alerts->presentedCount() == 1; }));
    const QString partly = rig.alerts->presented()[0].informativeText;
    EXPECT_TRUE(partly.startsWith(QStringLiteral(
        "Only part of \u201ccut.opml\u201d could be read: the 4 ideas before the damage are open.\n\n")))
        << partly.toStdString();
    EXPECT_TRUE(partly.contains(QStringLiteral("as if it were cut off"))) << partly.toStdString();

    // A lone surrogate in the first outline: only the root is read, and the alert says so.
    const QString surrogate = testDir() + QStringLiteral("/surrogate.opml");
    writeFile(surrogate, QByteArray(kFreeplaneOpml).replace("text=\"Trip\">", "text=\"Tr&#xD800;ip\">"));
    rig.app->doOpenLocalFile(surrogate, {});
    ASSERT_TRUE(rig.settle([&] { return rig.alerts->presentedCount() == 2; }));
    EXPECT_TRUE(rig.alerts->presented()[1].informativeText.contains(
        QStringLiteral("the one idea before the damage is open.\n\nThe file is damaged at line 7")))
        << rig.alerts->presented()[1].informativeText.toStdString();

    // Refused files keep the alert's words and add why.
    const QString unsafe = testDir() + QStringLiteral("/unsafe.corvex");
    const auto payload =
        IdeaDocumentDataObject::payloadForWriting(Idea::initWithText(QStringLiteral("R")), {}, {});
    const QByteArray name = "../../evil.png";
    auto chunk = [](const QByteArray& data) {
        QByteArray length(4, '\0');
        for (int i = 0; i < 4; ++i)
            length[i] = char((quint32(data.size()) >> (24 - 8 * i)) & 0xFF);
        return length + data;
    };
    writeFile(unsafe,
              ExportImport::Magic + chunk(payload->corvexData().value()) + chunk(name) + chunk("png"));
    // Files are read side by side on background threads: each answer is awaited in turn.
    QStringList refusals;
    for (const QString& path : {unsafe, testDir() + QStringLiteral("/missing.corvex")}) {
        const qsizetype answered = refusals.size();
        rig.app->doOpenLocalFile(path,
                                 [&](const MyResultPtr& result) { refusals.append(result->description()); });
        ASSERT_TRUE(rig.settle([&] { return refusals.size() == answered + 1; }));
    }
    EXPECT_TRUE(
        refusals[0].startsWith(QStringLiteral("Failed to open file\n\nThe file names a picture it holds "
                                              "\u201c../../evil.png\u201d")))
        << refusals[0].toStdString();
    EXPECT_EQ(refusals[1], QStringLiteral("Failed to open file\n\nThe file does not exist."));
}

TEST(ShellUrls, OnlyTheRedirectSchemeReachesSignIn)
{
    ShellRig rig;
    // In place of the service the assembly registered as the launch began.
    auto service = std::make_shared<ShellSignInDouble>();
    DropboxSignInService::setRegistered(service);
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
    ShellRig rig(ShellRig::Home::None);
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
