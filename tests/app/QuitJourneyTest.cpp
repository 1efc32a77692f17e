// Quitting, by Ctrl+Q and by SIGTERM, with each of the journeys' screens open and while the
// emoji catalogue is still being drawn: the application runs in a child (the same runCorvex()
// as main()), so the quit ends a process for real. Every end must be clean: exit status 0, no
// crash, no crash report, nothing left behind, the windows saved for the next launch.

#include "editor/HTMLPageViewController.h"
#include "editor/IconImageCollection.h"
#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "platform/ui/ApplicationLifecycleBridge.h"
#include "platform/ui/Window.h"
#include "shell/AppDelegate.h"
#include "shell/MyWindow.h"
#include "storage/StorageQueues.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/webpage/LoopbackPageServer.h"

#include <QApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>

namespace corvex::test {

namespace {

// What is open when the user quits.
enum class Scene
{
    HomeSearch,      // the home screen, the search field being typed into
    MindMap,         // a document's mind map
    Overview,        // its overview
    ContextMenu,     // a planet's menu, open
    FileMenu,        // the File menu, open
    NotePopover,     // a note shown on hover
    WebLinkEditor,   // the web-link editor showing a loopback page
    EmojiPreload,    // the first window's home screen, the emoji catalogue still being drawn
    RestoredDropbox, // a restored Dropbox home window while Dropbox is off
    // A restored Dropbox document while Dropbox is off: its window closes at once, the launch
    // goes on to its first window.
    RestoredDropboxDocument,
    LaunchAlert, // the launch's alert that the saved windows could not be restored
    // The same alert, with a save on the storage queue that goes on until the quit has begun:
    // the quit waits for it before the process ends.
    LaunchAlertSaving
};

struct QuitCase
{
    const char* name;
    Scene scene;
    bool byKeys; // Ctrl+Q, else SIGTERM
};

const QuitCase kCases[] = {
    {"HomeSearchCtrlQ", Scene::HomeSearch, true},
    {"HomeSearchSigterm", Scene::HomeSearch, false},
    {"MindMapCtrlQ", Scene::MindMap, true},
    {"OverviewCtrlQ", Scene::Overview, true},
    {"OverviewSigterm", Scene::Overview, false},
    {"ContextMenuSigterm", Scene::ContextMenu, false},
    {"FileMenuSigterm", Scene::FileMenu, false},
    {"NotePopoverCtrlQ", Scene::NotePopover, true},
    {"NotePopoverSigterm", Scene::NotePopover, false},
    {"WebLinkEditorCtrlQ", Scene::WebLinkEditor, true},
    {"WebLinkEditorSigterm", Scene::WebLinkEditor, false},
    {"EmojiPreloadCtrlQ", Scene::EmojiPreload, true},
    {"EmojiPreloadSigterm", Scene::EmojiPreload, false},
    {"RestoredDropboxWindowSigterm", Scene::RestoredDropbox, false},
    {"RestoredDropboxDocumentCtrlQ", Scene::RestoredDropboxDocument, true},
    {"RestoredDropboxDocumentSigterm", Scene::RestoredDropboxDocument, false},
    {"LaunchAlertSigterm", Scene::LaunchAlert, false},
    {"LaunchAlertSavingSigterm", Scene::LaunchAlertSaving, false},
};

void PrintTo(const QuitCase& quit, std::ostream* out)
{
    *out << quit.name;
}

// ---- Inside the child ----

// The file the held save writes once the quit has begun.
QString heldSavePath()
{
    return testDir() + QStringLiteral("/held-save.txt");
}

// Puts a save on the storage queue that waits for the quit's notice, then writes its file as
// documents are written (coordinated, locked, through a temporary). Ended before the quit
// waited for it, the process would cut it off. Nothing here is destroyed: the process may end
// with the block still waiting.
void holdASaveUntilTheQuit()
{
    struct Gate
    {
        std::mutex mutex;
        std::condition_variable opened;
        bool open = false;
    };
    static Gate* const gate = new Gate;
    NotificationCenter::defaultCenter().addObserver(ApplicationLifecycleBridge::WillTerminateNotification,
                                                    nullptr, [](const NotificationCenter::Notification&) {
                                                        std::lock_guard lock(gate->mutex);
                                                        gate->open = true;
                                                        gate->opened.notify_all();
                                                    });
    StorageQueues::persistenceQueue().async([] {
        std::unique_lock lock(gate->mutex);
        if (!gate->opened.wait_for(lock, std::chrono::seconds(30), [] { return gate->open; }))
            return;
        lock.unlock();
        // A failure shows as the missing file.
        [[maybe_unused]] const bool coordinated = FileCoordinator().coordinateWriting(
            heldSavePath(), FileCoordinator::WritingForReplacing, [](const QString& path) {
                SaveFile file(path);
                [[maybe_unused]] const bool written =
                    file.open() && file.write(QByteArrayLiteral("saved")) >= 0 && file.commit().ok();
            });
    });
}

std::shared_ptr<SolarSystemViewController> tripShown()
{
    auto trip = MindMapJourney::mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip"));
    if (trip)
        AppJourney::activate(AppJourney::windowOf(*trip));
    return trip;
}

// Opens the scene as a user does and tells the test it is there. A scene with a pop-up menu
// tells it from inside the menu, which stays open until the application quits.
bool openScene(Scene scene)
{
    const auto ready = [] { AppChild::tell("ready"); };
    switch (scene) {
    case Scene::HomeSearch: {
        auto home = AppJourney::waitForScreen<HomeViewController>();
        if (!home || !AppJourney::activate(AppJourney::windowOf(*home)))
            return false;
        MyWindow& window = AppJourney::windowOf(*home);
        UserInput::click(window, AppJourney::seen(WhereOnScreen::homeEmptySpace(*home)));
        UserInput::pressKey(window, Qt::Key_F, Qt::ControlModifier);
        UserInput::typeText(window, QStringLiteral("plan"));
        if (!AppJourney::waitFor([&home] { return home->isSearching(); }))
            return false;
        break;
    }
    case Scene::MindMap:
        if (!tripShown())
            return false;
        break;
    case Scene::Overview: {
        auto trip = tripShown();
        if (!trip || !MindMapJourney::showOverview(*trip))
            return false;
        break;
    }
    case Scene::ContextMenu: {
        auto trip = tripShown();
        return trip &&
               UserInput::rightClick(AppJourney::windowOf(*trip),
                                     AppJourney::seen(WhereOnScreen::planet(*trip, QStringLiteral("Pack"))),
                                     QString(), ready)
                   .opened;
    }
    case Scene::FileMenu: {
        auto trip = tripShown();
        if (!trip ||
            !UserInput::openMenuBarMenu(AppJourney::windowOf(*trip), QStringLiteral("File"), true).opened)
            return false;
        break;
    }
    case Scene::NotePopover: {
        auto trip = tripShown();
        if (!trip)
            return false;
        UserInput::moveMouse(AppJourney::windowOf(*trip), AppJourney::seen(WhereOnScreen::planetNoteMark(
                                                              *trip, QStringLiteral("Tickets"))));
        if (!AppJourney::popoverShows(5.0))
            return false;
        break;
    }
    case Scene::WebLinkEditor: {
        auto trip = tripShown();
        if (!trip ||
            !UserInput::rightClick(AppJourney::windowOf(*trip),
                                   AppJourney::seen(WhereOnScreen::planet(*trip, QStringLiteral("Site"))),
                                   QStringLiteral("Edit"))
                 .chose)
            return false;
        const bool shown = AppJourney::waitFor(
            [&trip] {
                for (const auto& presented : trip->presentedViewControllers()) {
                    auto editor = std::dynamic_pointer_cast<HTMLPageViewController>(presented);
                    if (editor && editor->searchFieldState() == HTMLPageViewController::StatePageShown)
                        return true;
                }
                return false;
            },
            30.0);
        if (!shown)
            return false;
        break;
    }
    case Scene::EmojiPreload:
        if (!AppJourney::waitForScreen<HomeViewController>({}, 20.0))
            return false;
        AppChild::tell(IconImageCollection::instance()->preloadFinished() ? "preload finished"
                                                                          : "preload running");
        break;
    case Scene::RestoredDropbox:
        if (!AppJourney::waitFor([] { return !AppJourney::windows().empty(); }, 20.0))
            return false;
        break;
    case Scene::RestoredDropboxDocument:
        // The launch's own first window: a new document, its root in the editor.
        if (!AppJourney::waitForScreen<SolarSystemViewController>({}, 20.0) || !AppJourney::popoverShows() ||
            !AppJourney::closePopovers())
            return false;
        break;
    case Scene::LaunchAlert:
    case Scene::LaunchAlertSaving:
        // Shown while the launch runs, before the event loop: this runs inside the alert's own.
        if (!AppJourney::waitFor([] { return QApplication::activeModalWidget() != nullptr; }, 20.0))
            return false;
        if (scene == Scene::LaunchAlertSaving)
            holdASaveUntilTheQuit();
        break;
    }
    ready();
    return true;
}

// Arguments: the scene's number, "keys" for Ctrl+Q.
CORVEX_APP_SCRIPT(open_scene_then_quit)
{
    const auto scene = Scene(arguments.value(0).toInt());
    if (!openScene(scene)) {
        AppChild::tell("scene not shown");
        return;
    }
    if (arguments.value(1) != QLatin1String("keys"))
        return;
    for (const auto& window : AppJourney::windows()) {
        if (window->isKeyWindow()) {
            UserInput::pressKey(*window, Qt::Key_Q, Qt::ControlModifier);
            return;
        }
    }
    AppChild::tell("no key window");
}

// ---- The test ----

class QuitJourney : public AppJourney, public ::testing::WithParamInterface<QuitCase>
{
protected:
    // The user's machine for the scene; the launch files.
    QStringList prepare(Scene scene)
    {
        UserFiles::setDefault(Globals::CloudStorageChoiceKey,
                              scene == Scene::HomeSearch || scene == Scene::EmojiPreload);
        if (scene == Scene::RestoredDropbox || scene == Scene::RestoredDropboxDocument) {
            // Saved while Dropbox was on; it is off now.
            const bool home = scene == Scene::RestoredDropbox;
            const QJsonObject state =
                home ? QJsonObject{{QStringLiteral("location"), 3}}
                     : QJsonObject{{QStringLiteral("docIdentifier"), QStringLiteral("dropbox:/Garden.crvx")}};
            const QJsonObject window{
                {QStringLiteral("controllerClass"),
                 home ? QStringLiteral("HomeViewController") : QStringLiteral("SolarSystemViewController")},
                {QStringLiteral("controllerState"), state},
                {QStringLiteral("windowFrame"), QStringLiteral("{{214, 124}, {1172, 782}}")}};
            UserFiles::setDefault(QStringLiteral("CurrentState"),
                                  QJsonObject{{QStringLiteral("controllerStates"), QJsonArray{window}}});
            UserFiles::setDefault(QStringLiteral("dropboxstoragechoice"), false);
            return {};
        }
        if (scene == Scene::LaunchAlert || scene == Scene::LaunchAlertSaving) {
            UserFiles::setDefault(QStringLiteral("CurrentState"), QStringLiteral("not a dictionary"));
            return {};
        }
        if (scene == Scene::HomeSearch || scene == Scene::EmojiPreload)
            return {};
        mPages.server().Get("/", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<!DOCTYPE html><body style='background:#3050c0'></body>", "text/html");
        });
        mPages.start();
        const QString path = UserFiles::writeDocument(
            QStringLiteral("Trip.corvex"),
            text(QStringLiteral("Trip"),
                 {text(QStringLiteral("Pack"), {text(QStringLiteral("Socks"))}),
                  noted(QStringLiteral("Tickets"), QStringLiteral("Gate 4")),
                  webLink(QStringLiteral("Site"), QStringLiteral("http://") + mPages.address("/"))}));
        return {path};
    }

    // The windows the quit saved for the next launch.
    static int savedWindows()
    {
        return UserFiles::defaults()
            .value(QStringLiteral("CurrentState"))
            .toObject()
            .value(QStringLiteral("controllerStates"))
            .toArray()
            .size();
    }

    LoopbackPageServer mPages;
};

} // namespace

TEST_P(QuitJourney, EndsCleanly)
{
    const QuitCase& quit = GetParam();
    const QStringList files = prepare(quit.scene);
    // With the web engine started, what the launch printed is kept to be read.
    const bool engine = quit.scene == Scene::WebLinkEditor;
    auto child = AppChild::startScript(
        QStringLiteral("open_scene_then_quit"),
        {QString::number(int(quit.scene)), quit.byKeys ? QStringLiteral("keys") : QString()}, files,
        engine ? QStringLiteral("corvex.log") : QString());
    ASSERT_NE(child, nullptr);
    bool ready = false;
    while (const auto line = child->readLine(60.0)) {
        if (*line == "scene not shown" || *line == "no key window") {
            FAIL() << line->constData();
        }
        if (line->startsWith("preload")) {
            EXPECT_EQ(*line, QByteArray("preload running"))
                << "the catalogue was drawn before the first window";
        }
        if (*line == "ready") {
            ready = true;
            break;
        }
    }
    ASSERT_TRUE(ready) << "the scene never showed; the application "
                       << child->waitForEnd(1.0).describe().toStdString();
    if (!quit.byKeys) {
        ASSERT_TRUE(child->signal(SIGTERM));
    }
    const AppEnding ending = child->waitForEnd(20.0);
    EXPECT_TRUE(ending.clean()) << ending.describe().toStdString();
    // What was open comes back at the next launch (the launch's alert comes before any window).
    if (quit.scene != Scene::LaunchAlert && quit.scene != Scene::LaunchAlertSaving) {
        EXPECT_GE(savedWindows(), 1) << "the quit saved no window";
    }
    if (engine) {
        // The engine's start-up chatter is silenced: nothing but Corvex's own log lines.
        static const QRegularExpression ownLine(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\S+\\[\\d+\\] "));
        const QString printed = QString::fromUtf8(readFile(testDir() + QStringLiteral("/corvex.log")));
        for (const QString& line : printed.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            EXPECT_TRUE(ownLine.match(line).hasMatch()) << "not a log line of Corvex: " << line.toStdString();
        }
    }
    if (quit.scene == Scene::LaunchAlertSaving) {
        EXPECT_TRUE(QFileInfo::exists(heldSavePath())) << "the process ended before the save it held";
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, QuitJourney, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<QuitCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace corvex::test
