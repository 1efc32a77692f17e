// Turning to another window while something is open in Corvex, under openbox and with the X
// server's own pointer and keyboard (xdotool), as a user does every day: for every place a
// user can be in (the idea editor, the home screen's editor, a note, the web-link editor, the
// picture viewer) and every way of turning away (a click on another Corvex window or on
// another program's, Alt+Tab, Ctrl+N, a file handed over by `corvex FILE`, a click on a second
// Corvex process's window), Corvex keeps running, what was typed is on disk after the next
// save, and the quit that follows ends cleanly without a crash record. The application runs in
// a child (the same runCorvex() as main()), so that Ctrl+Q ends a process for real.

#include "cloud/container/CloudAccount.h"
#include "editor/HTMLPageViewController.h"
#include "editor/PictureView.h"
#include "editor/PictureViewController.h"
#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "shell/MyWindow.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/app/XServerInput.h"
#include "tests/support/TestEnvironment.h"
#include "tests/webpage/LoopbackPageServer.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QWindow>
#include <csignal>
#include <cstdio>

namespace corvex::test {

namespace {
// Named apart: the journeys share unity batches.
namespace switching {

// Where the user is when turning away: the mind map's idea editor (opened by a click on the
// centre) and the home screen's editor of a document's root, both typed into; a note shown
// while the pointer rests on its mark; the web-link editor showing a page; the picture viewer.
enum class Place
{
    IdeaEditor,
    HomeEditor,
    Note,
    WebLinkEditor,
    PictureViewer,
};
const char* const kPlaces[] = {"IdeaEditor", "HomeEditor", "Note", "WebLinkEditor", "PictureViewer"};

// What the user types there, if anything.
const char* typedIn(Place place)
{
    return place == Place::IdeaEditor ? "Luggage" : place == Place::HomeEditor ? "Allotment" : nullptr;
}

// How the user turns away: a click on another window of Corvex or on another program's, the
// window manager's Alt+Tab, a new window by Ctrl+N, `corvex FILE` handing a file to the
// running Corvex, a click on a window of a second Corvex process (its own user folders).
enum class Way
{
    OtherCorvexWindow,
    OtherProgram,
    AltTab,
    CtrlN,
    CorvexFile,
    SecondProcess,
};
const char* const kWays[] = {
    "ClickOnAnotherCorvexWindow", "ClickOnAnotherProgram", "AltTab", "CtrlN", "CorvexFile",
    "ClickOnASecondCorvexProcess"};

const QString kGarden = QStringLiteral("Garden");

// Corvex's two windows side by side at the top of the screen (y up from its bottom); windows
// that come later are moved below them, where the other programs' windows are put too (in
// global coordinates, y down), so that every click finds the window it is meant for.
const Rect kMapFrame(20, 360, 760, 600);
const Rect kHomeFrame(820, 360, 760, 600);
const Rect kLaterFrame(400, -560, 1000, 700);
const QPoint kOtherProgramAt(100, 800);
const QPoint kSecondProcessAt(560, 800);

// ---- Inside the child ----

[[noreturn]] void failStep(const QByteArray& step)
{
    AppChild::fail("failed: " + step);
}

void expect(bool done, const QByteArray& step)
{
    if (!done)
        failStep(step);
}

QPoint globalOf(Window& window, Point point)
{
    return window.convertPointToGlobal(point).toPoint();
}

// A click with the X server's pointer on a point of a window; the window manager activates it.
void clickWithPointer(Window& window, const std::optional<Point>& where, const QByteArray& step)
{
    expect(where.has_value(), step + " (not on screen)");
    expect(XServerInput::click(globalOf(window, *where)), step);
}

template <class Controller> std::shared_ptr<Controller> presented(const SolarSystemViewController& screen)
{
    for (const auto& shown : screen.presentedViewControllers()) {
        if (auto found = std::dynamic_pointer_cast<Controller>(shown))
            return found;
    }
    return nullptr;
}

// The field the keys go to, when it is a line edit showing `text`.
bool focusedFieldShows(const QString& text)
{
    auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    return field && field->text() == text;
}

// Edit on the planet's menu, in the map's window.
void editPlanet(MyWindow& map, SolarSystemViewController& trip, const QString& planet)
{
    clickWithPointer(map, WhereOnScreen::emptySpace(trip), "click on the map");
    expect(UserInput::rightClickWithPointer(map, AppJourney::seen(WhereOnScreen::planet(trip, planet)),
                                            QStringLiteral("Edit"))
               .chose,
           "Edit on " + planet.toUtf8());
}

// Opens the place as a user does; the window it belongs to.
MyWindow& openPlace(Place place, SolarSystemViewController& trip, HomeViewController& home)
{
    MyWindow& map = AppJourney::windowOf(trip);
    switch (place) {
    case Place::IdeaEditor:
        clickWithPointer(map, WhereOnScreen::emptySpace(trip), "click on the map");
        clickWithPointer(map, WhereOnScreen::centre(trip), "click on the centre");
        expect(AppJourney::popoverShows() && AppJourney::waitFor([&] { return !map.isKeyWindow(); }),
               "the click on the centre opened no editor");
        return map;
    case Place::HomeEditor: {
        MyWindow& homeWindow = AppJourney::windowOf(home);
        clickWithPointer(homeWindow, WhereOnScreen::homeEmptySpace(home), "click on the home screen");
        expect(UserInput::rightClickWithPointer(homeWindow,
                                                AppJourney::seen(WhereOnScreen::homeDocument(home, kGarden)),
                                                QStringLiteral("Edit"))
                   .chose,
               "Edit on the grid");
        expect(AppJourney::popoverShows(), "Edit opened no editor");
        return homeWindow;
    }
    case Place::Note:
        clickWithPointer(map, WhereOnScreen::emptySpace(trip), "click on the map");
        expect(XServerInput::moveTo(globalOf(
                   map, AppJourney::seen(WhereOnScreen::planetNoteMark(trip, QStringLiteral("Tickets"))))),
               "rest on the note mark");
        expect(AppJourney::popoverShows(), "no note shown");
        return map;
    case Place::WebLinkEditor:
        editPlanet(map, trip, QStringLiteral("Site"));
        expect(AppJourney::waitFor(
                   [&] {
                       auto editor = presented<HTMLPageViewController>(trip);
                       return editor && editor->searchFieldState() == HTMLPageViewController::StatePageShown;
                   },
                   30.0),
               "the web-link editor showed no page");
        return map;
    case Place::PictureViewer:
        editPlanet(map, trip, QStringLiteral("Beach"));
        expect(AppJourney::waitFor([&] {
                   auto viewer = presented<PictureViewController>(trip);
                   return viewer && viewer->pictureView() && viewer->pictureView()->window();
               }),
               "no picture viewer");
        return map;
    }
    failStep("no such place");
}

// Where the focus is, as Qt, the X server and the window manager each tell it.
QByteArray focusReport()
{
    const QWidget* active = QApplication::activeWindow();
    QString focused;
    QString managerActive;
    XServerInput::run({QStringLiteral("getwindowfocus"), QStringLiteral("getwindowname")}, &focused);
    XServerInput::run({QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}, &managerActive);
    return "Qt: " + (active ? active->windowTitle().toUtf8() : QByteArray("none")) +
           ", X server: " + focused.trimmed().toUtf8() +
           ", window manager: " + managerActive.trimmed().toUtf8() +
           ", popup: " + (QApplication::activePopupWidget() ? "shown" : "none");
}

// Turns away from `place` in `window`; `other` is Corvex's other window.
void turnAway(Way way, MyWindow& other, const QStringList& arguments)
{
    const auto corvexKeepsNoWindowActive = [] {
        return AppJourney::waitFor([] { return QApplication::activeWindow() == nullptr; });
    };
    const std::size_t windowsBefore = AppJourney::windows().size();
    // The X server's focus is where Qt has it (a web page joining its window makes that
    // window's native window anew, and its focus comes back a moment later).
    expect(AppJourney::waitFor([] {
               const QWidget* active = QApplication::activeWindow();
               QString focused;
               return active && XServerInput::run({QStringLiteral("getwindowfocus")}, &focused) &&
                      focused.trimmed().toULongLong() == active->winId();
           }),
           "no window of Corvex had the focus to turn away from");
    switch (way) {
    case Way::OtherCorvexWindow: {
        const auto otherMap =
            std::dynamic_pointer_cast<SolarSystemViewController>(AppJourney::screenOf(other));
        const auto otherHome = std::dynamic_pointer_cast<HomeViewController>(AppJourney::screenOf(other));
        clickWithPointer(other,
                         otherMap ? WhereOnScreen::emptySpace(*otherMap)
                                  : WhereOnScreen::homeEmptySpace(*otherHome),
                         "click on the other window");
        expect(AppJourney::waitFor([&] { return other.isKeyWindow(); }),
               "the other window did not take the keys");
        return;
    }
    case Way::OtherProgram:
        expect(XServerInput::click(kOtherProgramAt + QPoint(40, 40)), "click on the other program");
        expect(corvexKeepsNoWindowActive(), "Corvex kept the focus");
        return;
    case Way::AltTab: {
        const QWidget* before = QApplication::activeWindow();
        // Every window the focus passes through: one that comes back before it is looked at
        // was taken back by Corvex, which must not happen.
        QByteArray passed;
        const QMetaObject::Connection heard =
            QObject::connect(qApp, &QGuiApplication::focusWindowChanged, [&passed](QWindow* focused) {
                passed += (focused ? focused->title().toUtf8() : QByteArray("none")) + " ";
            });
        const auto moved = [before] { return QApplication::activeWindow() != before; };
        expect(XServerInput::key(QStringLiteral("alt+Tab")), "Alt+Tab");
        bool done = AppJourney::waitFor(moved, 5.0);
        // A window manager that never acted on the chord (the focus stayed put throughout) is
        // given it again, as a user presses it again.
        if (!done && passed.isEmpty()) {
            std::fprintf(stderr, "Alt+Tab pressed again: %s\n", focusReport().constData());
            expect(XServerInput::key(QStringLiteral("alt+Tab")), "Alt+Tab again");
            done = AppJourney::waitFor(moved);
        }
        QObject::disconnect(heard);
        expect(done, "Alt+Tab moved the focus nowhere (" + focusReport() + "; passed: " + passed + ")");
        return;
    }
    case Way::CtrlN:
        expect(XServerInput::key(QStringLiteral("ctrl+n")), "Ctrl+N");
        expect(AppJourney::waitFor([&] { return AppJourney::windows().size() == windowsBefore + 1; }),
               "Ctrl+N opened no window");
        return;
    case Way::CorvexFile: {
        QProcess corvex;
        corvex.start(QStringLiteral(CORVEX_APP_BINARY), {arguments.value(2)});
        expect(corvex.waitForStarted(5000) &&
                   AppJourney::waitFor([&] { return corvex.state() == QProcess::NotRunning; }, 20.0) &&
                   corvex.exitStatus() == QProcess::NormalExit && corvex.exitCode() == 0,
               "corvex FILE did not hand the file over");
        expect(MindMapJourney::mindMapOf(QStringLiteral("Other"), QStringLiteral("Other")) != nullptr,
               "the handed file opened no window");
        return;
    }
    case Way::SecondProcess:
        expect(XServerInput::click(kSecondProcessAt + QPoint(200, 120)), "click on the second process");
        expect(corvexKeepsNoWindowActive(), "Corvex kept the focus");
        return;
    }
    failStep("no such way");
}

// Arguments: the place's index, the way's index, the other file's path. The launch file is
// the trip; the iCloud home screen is a second window.
CORVEX_APP_SCRIPT(turn_away_then_save_and_quit)
{
    const auto place = Place(arguments.value(0).toInt());
    const auto way = Way(arguments.value(1).toInt());
    const QString typed = QString::fromLatin1(typedIn(place));
    auto trip = MindMapJourney::mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip"));
    expect(trip != nullptr, "the trip did not show");
    const ShownMenu file = UserInput::chooseMenuBarItem(AppJourney::windowOf(*trip), QStringLiteral("File"),
                                                        QStringLiteral("New iCloud Window"));
    expect(file.chose, "File > New iCloud Window: " + file.why.toUtf8());
    auto home = AppJourney::waitForScreen<HomeViewController>();
    expect(home != nullptr, "the home screen did not show");
    if (place == Place::HomeEditor) {
        expect(UserFiles::addDocumentToLocation(2, text(kGarden)) && AppJourney::waitFor([&] {
                   return WhereOnScreen::homeDocument(*home, kGarden).has_value();
               }),
               "no garden on the grid");
    }
    // Side by side above the other programs' windows.
    MyWindow& map = AppJourney::windowOf(*trip);
    MyWindow& homeWindow = AppJourney::windowOf(*home);
    map.setFrame(kMapFrame);
    homeWindow.setFrame(kHomeFrame);
    expect(AppJourney::waitFor([&] {
               return WhereOnScreen::emptySpace(*trip).has_value() &&
                      WhereOnScreen::homeEmptySpace(*home).has_value();
           }),
           "the windows did not settle");

    MyWindow& window = openPlace(place, *trip, *home);
    if (!typed.isEmpty()) {
        // The keys go where the X server sends them: the editor's field once it has the focus.
        expect(AppJourney::waitFor([] {
                   const QWidget* active = QApplication::activeWindow();
                   return active && active->windowType() == Qt::Tool &&
                          qobject_cast<QLineEdit*>(QApplication::focusWidget());
               }),
               "the editor did not take the keys");
        expect(XServerInput::key(QStringLiteral("ctrl+a")) && XServerInput::type(typed), "typing");
        expect(AppJourney::waitFor([&] { return focusedFieldShows(typed); }),
               "what was typed did not reach the editor");
    }
    turnAway(way, &window == &map ? homeWindow : map, arguments);
    AppChild::tell("turned away");
    // Turned to a window of Corvex, the editor went, with what was typed taken.
    if (way == Way::OtherCorvexWindow || way == Way::CtrlN || way == Way::CorvexFile) {
        expect(AppJourney::waitFor([&] {
                   return place == Place::IdeaEditor   ? trip->rootIdea()->text() == typed
                          : place == Place::HomeEditor ? WhereOnScreen::homeDocument(*home, typed).has_value()
                                                       : true;
               }),
               "what was typed was not taken when the editor went");
    }
    for (const auto& later : AppJourney::windows()) {
        if (later.get() != &map && later.get() != &homeWindow)
            later->setFrame(kLaterFrame);
    }

    // Back in the window, the editor closed by the click (if the turn left it open), and
    // saved.
    const auto backAt =
        place == Place::HomeEditor ? WhereOnScreen::homeEmptySpace(*home) : WhereOnScreen::emptySpace(*trip);
    clickWithPointer(window, backAt, "click back on the window");
    expect(AppJourney::waitFor([&] { return window.isKeyWindow(); }),
           "the window did not take the keys back");
    if (place == Place::IdeaEditor) {
        expect(AppJourney::waitFor([&] { return trip->rootIdea()->text() == typed; }),
               "what was typed is not the idea's");
        expect(XServerInput::key(QStringLiteral("ctrl+s")), "Ctrl+S");
        const QString path = map.docURL().toLocalFile();
        expect(AppJourney::waitFor([&] {
                   const IdeaPtr saved = UserFiles::readDocument(path);
                   return saved && saved->text() == typed;
               }),
               "Ctrl+S did not save what was typed");
    } else if (place == Place::HomeEditor) {
        expect(AppJourney::waitFor([&] { return WhereOnScreen::homeDocument(*home, typed).has_value(); }),
               "the grid does not show what was typed");
    }
    AppChild::tell("quitting");
    expect(XServerInput::key(QStringLiteral("ctrl+q")), "Ctrl+Q");
}

// ---- The test ----

using Cell = std::tuple<int, int>;

// A program of the user's that is not Corvex, with a window: ended with the test.
class OtherProgram
{
public:
    ~OtherProgram()
    {
        if (mProcess.state() == QProcess::NotRunning)
            return;
        mProcess.terminate();
        if (!mProcess.waitForFinished(10000))
            mProcess.kill();
        mProcess.waitForFinished(5000);
    }

    // Started and its window (found by its title, else by the process) moved to `at`; false
    // when it showed none.
    bool start(const QString& program, const QStringList& arguments, QPoint at, const QString& title = {},
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        mProcess.setProcessEnvironment(environment);
        mProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mProcess.start(program, arguments);
        if (!mProcess.waitForStarted(5000))
            return false;
        const auto window = XServerInput::findWindow(
            title.isEmpty()
                ? QStringList{QStringLiteral("--pid"), QString::number(mProcess.processId())}
                : QStringList{QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$')});
        return window && XServerInput::run({QStringLiteral("windowmove"), QString::number(*window),
                                            QString::number(at.x()), QString::number(at.y())});
    }

    // Ends it as the desktop's logout does; whether it ended by itself, cleanly.
    bool endsCleanly()
    {
        mProcess.terminate();
        return mProcess.waitForFinished(20000) && mProcess.exitStatus() == QProcess::NormalExit &&
               mProcess.exitCode() == 0;
    }

private:
    QProcess mProcess;
};

} // namespace switching

class WindowSwitchJourney : public AppJourney, public ::testing::WithParamInterface<switching::Cell>
{
protected:
    switching::Place place() const { return switching::Place(std::get<0>(GetParam())); }
    QString typed() const { return QString::fromLatin1(switching::typedIn(place())); }
    switching::Way way() const { return switching::Way(std::get<1>(GetParam())); }

    // A second Corvex process with folders of its own, as another user of the display has.
    bool startSecondProcess()
    {
        const QString user = mSecondUser.path();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
            const QString folder = user + QLatin1Char('/') + QString::fromLatin1(name);
            if (!QDir().mkpath(folder) ||
                !QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner))
                return false;
            environment.insert(QString::fromLatin1(name), folder);
        }
        return mSecond.start(QStringLiteral(CORVEX_APP_BINARY), {}, switching::kSecondProcessAt, {},
                             environment);
    }

    // The root text of the iCloud location's documents.
    static QStringList cloudDocumentRoots()
    {
        QStringList roots;
        QDirIterator files(FolderCloudAccount::standardFolder(), {QStringLiteral("*.crvx")}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            QFile file(files.next());
            const auto payload = file.open(QIODevice::ReadOnly)
                                     ? IdeaDocumentDataObject::readFromSomeData(file.readAll())
                                     : nullptr;
            if (payload && payload->idea())
                roots << payload->idea()->text();
        }
        return roots;
    }

    LoopbackPageServer mPages;
    switching::OtherProgram mOtherProgram;
    switching::OtherProgram mSecond;
    // Beside the test's folder, not in it: the first process alone must leave that clean.
    QTemporaryDir mSecondUser{testDir() + QStringLiteral("-second-XXXXXX")};
};

} // namespace

TEST_P(WindowSwitchJourney, CorvexKeepsRunningAndWhatWasTypedIsSaved)
{
    ASSERT_TRUE(runOn(Desktop::Openbox)) << "no window manager";
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    mPages.server().Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<!DOCTYPE html><body style='background:#3050c0'></body>", "text/html");
    });
    mPages.start();
    IdeaPtr trip = text(QStringLiteral("Trip"),
                        {noted(QStringLiteral("Tickets"), QStringLiteral("Gate 4")),
                         webLink(QStringLiteral("Site"), QStringLiteral("http://") + mPages.address("/"))});
    IdeaPtr picture = UserFiles::storedPicture(QStringLiteral("Beach"), QColor(40, 120, 200));
    ASSERT_NE(picture, nullptr);
    (void)trip->addIdea(coloured(picture));
    const QString tripPath = UserFiles::writeDocument(QStringLiteral("Trip.corvex"), trip);
    const QString otherPath =
        UserFiles::writeDocument(QStringLiteral("Other.corvex"), text(QStringLiteral("Other")));
    ASSERT_FALSE(tripPath.isEmpty() || otherPath.isEmpty());
    if (way() == switching::Way::OtherProgram) {
        ASSERT_TRUE(mOtherProgram.start(QStringLiteral("xmessage"),
                                        {QStringLiteral("-title"), QStringLiteral("Another program"),
                                         QStringLiteral("-geometry"), QStringLiteral("300x100"),
                                         QStringLiteral("Another program")},
                                        switching::kOtherProgramAt, QStringLiteral("Another program")));
    }
    if (way() == switching::Way::SecondProcess) {
        ASSERT_TRUE(startSecondProcess()) << "the second Corvex showed no window";
    }

    auto child = AppChild::startScript(
        QStringLiteral("turn_away_then_save_and_quit"),
        {QString::number(std::get<0>(GetParam())), QString::number(std::get<1>(GetParam())), otherPath},
        {tripPath}, QStringLiteral("corvex.log"));
    ASSERT_NE(child, nullptr);
    QList<QByteArray> told;
    while (const auto line = child->readLine(90.0)) {
        told << *line;
        if (*line == "quitting" || line->startsWith("failed"))
            break;
    }
    const AppEnding ending = child->waitForEnd(30.0);
    ASSERT_TRUE(told.contains("turned away"))
        << told.join(", ").toStdString() << "; the application " << ending.describe().toStdString();
    EXPECT_EQ(told.back().toStdString(), "quitting");
    EXPECT_TRUE(ending.clean()) << ending.describe().toStdString();
    if (place() == switching::Place::IdeaEditor) {
        const IdeaPtr saved = UserFiles::readDocument(tripPath);
        ASSERT_NE(saved, nullptr);
        EXPECT_EQ(saved->text(), typed());
    } else if (place() == switching::Place::HomeEditor) {
        EXPECT_TRUE(cloudDocumentRoots().contains(typed()))
            << cloudDocumentRoots().join(QLatin1Char(' ')).toStdString();
    }
    if (way() == switching::Way::SecondProcess) {
        EXPECT_TRUE(mSecond.endsCleanly()) << "the second Corvex";
    }
}

INSTANTIATE_TEST_SUITE_P(Cells, WindowSwitchJourney,
                         ::testing::Combine(::testing::Range(0, int(std::size(switching::kPlaces))),
                                            ::testing::Range(0, int(std::size(switching::kWays)))),
                         [](const ::testing::TestParamInfo<switching::Cell>& info) {
                             return std::string(switching::kPlaces[std::get<0>(info.param)]) + "By" +
                                    switching::kWays[std::get<1>(info.param)];
                         });

} // namespace corvex::test
