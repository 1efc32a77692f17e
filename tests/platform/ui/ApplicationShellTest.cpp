// The application shell's platform side: the screen facade and window frames, the menu bar
// and its action dispatch along the responder chain, Open Recent, the application object's
// launch order and its one quit path, the one-instance socket, and the desktop integration.

#include "platform/core/InstanceMessage.h"
#include "platform/core/MainQueue.h"
#include "platform/core/QuitHold.h"
#include "platform/core/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/MenuBar.h"
#include "platform/ui/Popover.h"
#include "platform/ui/ScreenFacade.h"
#include "platform/ui/SingleInstance.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VirtualScheduler.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeDatabase>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>

using namespace corvex;
using namespace corvex::test;

namespace {

const std::vector<ScreenInfo> kShellTestScreen{{Rect(0, 0, 1600, 1000), Rect(0, 0, 1600, 1000), 1}};

// What an action target of these tests handles, which actions validate, and what it ran.
struct ShellActionTable
{
    QString name;
    std::set<QString> handled;
    std::map<QString, bool> valid;
    std::shared_ptr<QStringList> performed = std::make_shared<QStringList>();

    bool responds(const QString& id) const { return handled.count(id) > 0; }
    bool validates(const QString& id) const
    {
        const auto found = valid.find(id);
        return found == valid.end() || found->second;
    }
    void run(const QString& id) { performed->append(name + QLatin1Char(':') + id); }
};

struct ShellActionRecorder : ActionTarget, ShellActionTable
{
    bool respondsToAction(const QString& id) const override { return responds(id); }
    bool validateAction(const QString& id, const MenuItem&) override { return validates(id); }
    void performAction(const QString& id, MenuItem&) override { run(id); }
};

class ShellTestWindow : public Window, public ShellActionRecorder
{
public:
    using Window::Window;
};

class ShellTestView : public View, public ShellActionRecorder
{
public:
    bool acceptsFirstResponder() const override { return true; }
};

class ShellTestHandler : public ApplicationHandler, public ShellActionTable
{
public:
    std::shared_ptr<QStringList> calls = std::make_shared<QStringList>();
    Window* watched = nullptr;
    bool allowTerminate = true;
    QString stateValue = QStringLiteral("saved");

    void applicationWillFinishLaunching() override { calls->append(QStringLiteral("will-finish")); }
    void applicationOpenFile(const QString& path) override { calls->append(QStringLiteral("file ") + path); }
    void applicationOpenUrl(const QUrl& url) override
    {
        calls->append(QStringLiteral("url ") + url.scheme());
    }
    void applicationDidFinishLaunching() override { calls->append(QStringLiteral("did-finish")); }
    bool applicationShouldTerminate() override
    {
        calls->append(QStringLiteral("should-terminate"));
        return allowTerminate;
    }
    void applicationWriteStateBeforeQuit() override
    {
        calls->append(watched && watched->isVisible() ? QStringLiteral("write-state, window open")
                                                      : QStringLiteral("write-state"));
        UserDefaults::standardUserDefaults().setString(QStringLiteral("CurrentState"), stateValue);
    }
    void applicationWillTerminate() override { calls->append(QStringLiteral("will-terminate")); }

    bool respondsToAction(const QString& id) const override { return responds(id); }
    bool validateAction(const QString& id, const MenuItem&) override { return validates(id); }
    void performAction(const QString& id, MenuItem&) override { run(id); }
};

std::shared_ptr<Menu> shellTestMainMenu(const std::vector<std::pair<QString, QString>>& actionsAndKeys)
{
    auto main = Menu::create();
    auto file = Menu::create(QStringLiteral("File"));
    for (const auto& [action, key] : actionsAndKeys) {
        auto item = file->addItem(action, {}, key);
        item->setActionId(action);
    }
    main->addItem(QStringLiteral("File"))->setSubmenu(file);
    return main;
}

} // namespace

TEST(ScreenFacade, FlipsFramesAndFindsThemOnAScreen)
{
    ScreenFacade::ScopedOverride screens(kShellTestScreen);
    EXPECT_EQ(ScreenFacade::fromQtRect(QRectF(214, 100, 1172, 800)), Rect(214, 100, 1172, 800));
    EXPECT_EQ(ScreenFacade::fromQtRect(QRectF(10, 0, 100, 200)), Rect(10, 800, 100, 200));
    EXPECT_EQ(ScreenFacade::toQtRect(Rect(10, 800, 100, 200)), QRectF(10, 0, 100, 200));
    EXPECT_TRUE(ScreenFacade::intersectsAnyVisibleFrame(Rect(1500, 900, 800, 600)));
    // A saved frame on no screen, or an empty one, is not on screen.
    EXPECT_FALSE(ScreenFacade::intersectsAnyVisibleFrame(Rect(5000, 80, 800, 600)));
    EXPECT_FALSE(ScreenFacade::intersectsAnyVisibleFrame(Rect()));
}

TEST(WindowFrame, HoldsTheMenuBarAboveTheContentAndMapsClicksBelowIt)
{
    ScreenFacade::ScopedOverride screens(kShellTestScreen);
    Window window(Size(400, 300));
    window.setContentMinSize(Size(200, 150));
    window.makeKeyAndOrderFront();
    MenuBar* bar = MenuBar::install(
        window, shellTestMainMenu({{QStringLiteral("qvNewLocalFile:"), QStringLiteral("n")}}));
    ASSERT_NE(bar, nullptr);
    const int barHeight = window.menuBarHeight();
    ASSERT_GT(barHeight, 0);

    window.setFrame(Rect(214, 100, 1172, 800));
    EXPECT_EQ(window.frame(), Rect(214, 100, 1172, 800));
    EXPECT_EQ(window.contentSize(), Size(1172, 800 - barHeight));
    // The host's own area is there; a window manager's decorations lie outside it.
    EXPECT_EQ(window.hostWidget()->geometry().topLeft(), QPoint(214, 100));
    // The content's top edge lies right under the bar.
    EXPECT_EQ(window.convertPointFromWidget(QPointF(0, barHeight)), Point(0, 800 - barHeight));
    // The minimum keeps the top edge in place.
    window.setFrame(Rect(0, 500, 100, 100));
    EXPECT_EQ(window.contentSize(), Size(200, 150));
    EXPECT_EQ(window.frame(), Rect(0, 600 - (150 + barHeight), 200, 150 + barHeight));

    window.setTitle(QStringLiteral("Map"));
    window.setDocumentEdited(true);
    EXPECT_TRUE(window.hostWidget()->isWindowModified());
    EXPECT_EQ(window.hostWidget()->windowTitle(), QStringLiteral("Map[*]"));
    window.setIconImageName(QStringLiteral("cloud"));
    EXPECT_FALSE(window.hostWidget()->windowIcon().isNull());
}

TEST(ActionRouter, TheFirstResponderThatHandlesAnActionTakesIt)
{
    auto performed = std::make_shared<QStringList>();
    ShellTestWindow window(Size(300, 200));
    window.name = QStringLiteral("window");
    window.performed = performed;
    window.handled = {QStringLiteral("qvUndo:"), QStringLiteral("qvClose:")};
    auto view = std::make_shared<ShellTestView>();
    view->name = QStringLiteral("view");
    view->performed = performed;
    view->handled = {QStringLiteral("qvUndo:"), QStringLiteral("qvSaveLocalFile:")};
    view->valid[QStringLiteral("qvSaveLocalFile:")] = false;
    window.setContentView(view);
    ShellTestHandler app;
    app.name = QStringLiteral("app");
    app.performed = performed;
    app.handled = {QStringLiteral("qvClose:"), QStringLiteral("qvNewLocalFile:")};
    ActionRouter::setApplicationTarget(&app);
    ASSERT_TRUE(window.makeFirstResponder(view.get()));

    auto item = [](const QString& id) {
        auto made = MenuItem::create(id);
        made->setActionId(id);
        return made;
    };
    struct RouteCase
    {
        QString action;
        bool enabled;
        QString runBy;
    };
    const RouteCase cases[] = {
        {QStringLiteral("qvUndo:"), true, QStringLiteral("view")},
        {QStringLiteral("qvClose:"), true, QStringLiteral("window")},
        {QStringLiteral("qvNewLocalFile:"), true, QStringLiteral("app")},
        // Handled but not valid: disabled, and the application's target is not asked.
        {QStringLiteral("qvSaveLocalFile:"), false, QString()},
        // Handled by nobody: disabled.
        {QStringLiteral("qvPrintIdea:"), false, QString()},
    };
    for (const RouteCase& c : cases) {
        performed->clear();
        auto menuItem = item(c.action);
        EXPECT_EQ(ActionRouter::validate(&window, *menuItem), c.enabled) << c.action.toStdString();
        EXPECT_EQ(ActionRouter::perform(&window, *menuItem), c.enabled) << c.action.toStdString();
        EXPECT_EQ(performed->join(QLatin1Char(',')),
                  c.enabled ? c.runBy + QLatin1Char(':') + c.action : QString())
            << c.action.toStdString();
    }
    ActionRouter::setApplicationTarget(nullptr);
}

TEST(MenuBar, TheShortcutsOfAWindowRunWhileAPopoverOfItHasTheKeyboard)
{
    ScreenFacade::ScopedOverride screens(kShellTestScreen);
    ShellTestWindow window(Size(400, 300));
    window.name = QStringLiteral("window");
    window.handled = {QStringLiteral("qvSaveLocalFile:")};
    window.setContentView(View::create());
    window.makeKeyAndOrderFront();
    ShellTestHandler app;
    app.name = QStringLiteral("app");
    app.performed = window.performed;
    app.handled = {QStringLiteral("terminate:")};
    ActionRouter::setApplicationTarget(&app);
    ASSERT_NE(
        MenuBar::install(window, shellTestMainMenu({{QStringLiteral("qvSaveLocalFile:"), QStringLiteral("s")},
                                                    {QStringLiteral("terminate:"), QStringLiteral("q")}})),
        nullptr);

    // An editor's popover over the window takes the keyboard.
    auto content = ViewController::create();
    content->setView(View::create(Rect(0, 0, 200, 100)));
    auto popover = Popover::create(true);
    popover->setContentViewController(content);
    popover->showRelativeToRect(Rect(50, 50, 40, 40), *window.contentView(), Popover::Edge::MaxY);
    ASSERT_TRUE(popover->isShown());
    QWidget* popoverHost = popover->window()->hostWidget();
    popoverHost->activateWindow();
    ASSERT_TRUE(runUntil([&] { return QApplication::activeWindow() == popoverHost; }, 5));

    QTest::keyClick(popoverHost, Qt::Key_Q, Qt::ControlModifier);
    QTest::keyClick(popoverHost, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(*window.performed,
              (QStringList{QStringLiteral("app:terminate:"), QStringLiteral("window:qvSaveLocalFile:")}));
    // Validated for the window at the moment of the key, as in the window itself.
    window.performed->clear();
    window.valid[QStringLiteral("qvSaveLocalFile:")] = false;
    QTest::keyClick(popoverHost, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(window.performed->isEmpty());

    popover->performClose();
    EXPECT_TRUE(popoverHost->actions().isEmpty()) << "the popover kept the window's shortcuts";
    ActionRouter::setApplicationTarget(nullptr);
}

TEST(MenuBar, AShortcutRunsOnlyWhenItsItemValidatesAtThatMoment)
{
    auto performed = std::make_shared<QStringList>();
    ShellTestWindow window(Size(300, 200));
    window.name = QStringLiteral("window");
    window.performed = performed;
    window.handled = {QStringLiteral("qvSaveLocalFile:"), QStringLiteral("qvUndo:")};
    window.makeKeyAndOrderFront();
    MenuBar* bar =
        MenuBar::install(window, shellTestMainMenu({{QStringLiteral("qvSaveLocalFile:"), QStringLiteral("s")},
                                                    {QStringLiteral("qvUndo:"), QStringLiteral("z")}}));
    ASSERT_NE(bar, nullptr);
    QWidget* host = window.hostWidget();
    host->activateWindow();
    ASSERT_TRUE(runUntil([&] { return QApplication::activeWindow() == host; }, 5));
    host->setFocus();
    auto saveItem = bar->mainMenu()->findItemWithTitle(QStringLiteral("qvSaveLocalFile:"));
    ASSERT_TRUE(saveItem);
    EXPECT_EQ(bar->actionFor(saveItem.get())->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));

    QTest::keyClick(host, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(performed->join(QLatin1Char(',')), QStringLiteral("window:qvSaveLocalFile:"));

    // Disabled now: its shortcut runs nothing.
    performed->clear();
    window.valid[QStringLiteral("qvSaveLocalFile:")] = false;
    QTest::keyClick(host, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(performed->isEmpty());
    EXPECT_FALSE(bar->actionFor(saveItem.get())->isEnabled());
    // An action left enabled by an old validation is validated again before it runs.
    bar->actionFor(saveItem.get())->setEnabled(true);
    bar->actionFor(saveItem.get())->trigger();
    EXPECT_TRUE(performed->isEmpty());

    // In a focused line edit Ctrl+Z undoes one step of the field, once; the window's undo
    // does not run.
    auto* field = new QLineEdit(host);
    field->show();
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("ab"));
    QTest::keyClick(field, Qt::Key_Space);
    QTest::keyClicks(field, QStringLiteral("cd"));
    const QString before = field->text();
    QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_NE(field->text(), before);
    EXPECT_TRUE(before.startsWith(field->text()));
    EXPECT_FALSE(field->text().isEmpty() && before.size() > 3 && field->isUndoAvailable());
    EXPECT_TRUE(performed->isEmpty());
    // The menu's undo goes to the field too while it has the focus.
    auto undoItem = bar->mainMenu()->findItemWithTitle(QStringLiteral("qvUndo:"));
    EXPECT_EQ(ActionRouter::validate(&window, *undoItem), field->isUndoAvailable());
}

TEST(RecentDocumentsMenu, KeepsTenNewestFirstAndOpensTheChosenOne)
{
    RecentDocumentsMenu recent;
    QStringList opened;
    recent.setOpenCallback([&opened](const QString& path) { opened.append(path); });
    for (int i = 0; i < 12; ++i)
        recent.noteNewRecentDocument(QStringLiteral("/d/%1.corvex").arg(i));
    recent.noteNewRecentDocument(QStringLiteral("/d/5.corvex"));
    ASSERT_EQ(recent.paths().size(), 10);
    EXPECT_EQ(recent.paths().front(), QStringLiteral("/d/5.corvex"));
    EXPECT_EQ(recent.paths().at(1), QStringLiteral("/d/11.corvex"));
    EXPECT_EQ(recent.paths().back(), QStringLiteral("/d/2.corvex"));
    // Items, a separator and "Clear Menu".
    ASSERT_EQ(recent.menu()->numberOfItems(), 12);
    EXPECT_EQ(recent.menu()->itemAtIndex(0)->title(), QStringLiteral("5.corvex"));
    EXPECT_TRUE(recent.menu()->performActionForItemAtIndex(1));
    EXPECT_EQ(opened, QStringList{QStringLiteral("/d/11.corvex")});
    EXPECT_TRUE(recent.menu()->performActionForItemAtIndex(11));
    EXPECT_TRUE(recent.paths().isEmpty());
    EXPECT_FALSE(recent.menu()->itemWithTitle(QStringLiteral("Clear Menu"))->isEnabled());
}

TEST(Application, LaunchesInOrderAndDeliversOnlyAcceptedArguments)
{
    int argc = 1;
    char name[] = "corvex";
    char* argv[] = {name, nullptr};
    Application app(argc, argv, {false, false, false});
    ShellTestHandler handler;
    app.setHandler(&handler);
    app.setLaunchArguments({QStringLiteral("B.opml"), QStringLiteral("https://example.invalid/"),
                            QStringLiteral("db-k3rt9wq0zvm5lhx://1/connect?state=x")});
    LogCapture log;
    app.launch();
    EXPECT_EQ(handler.calls->join(QLatin1Char(',')),
              QStringLiteral("will-finish,file ") + QDir::currentPath() +
                  QStringLiteral("/B.opml,url db-k3rt9wq0zvm5lhx,did-finish"));
    EXPECT_TRUE(log.contains(QStringLiteral("scheme not accepted")));
}

TEST(Application, EveryQuitWritesTheStateWhileTheWindowIsOpenAndFlushesTheDefaults)
{
    int argc = 1;
    char name[] = "corvex";
    char* argv[] = {name, nullptr};
    for (const char* how : {"menu refused", "signal", "last window"}) {
        Application app(argc, argv, {false, true, true});
        ShellTestHandler handler;
        Window window(Size(200, 100));
        handler.watched = &window;
        handler.allowTerminate = QByteArray(how) != "menu refused";
        handler.stateValue = QString::fromLatin1(how);
        app.setHandler(&handler);
        app.setLaunchArguments({});
        app.launch();
        window.makeKeyAndOrderFront();
        handler.calls->clear();
        const QString defaultsFile = UserDefaults::standardFilePath();
        QFile::remove(defaultsFile);

        if (QByteArray(how) == "menu refused") {
            EXPECT_FALSE(app.quit(Application::QuitReason::Menu));
            EXPECT_EQ(handler.calls->join(QLatin1Char(',')), QStringLiteral("should-terminate"));
            EXPECT_FALSE(app.isQuitting());
            continue;
        }
        if (QByteArray(how) == "signal") {
            std::raise(SIGTERM);
            ASSERT_TRUE(runUntil([&] { return app.isQuitting(); }, 5)) << how;
        } else {
            window.performClose();
        }
        EXPECT_EQ(handler.calls->join(QLatin1Char(',')),
                  QStringLiteral("write-state, window open,will-terminate"))
            << how;
        EXPECT_TRUE(QFile(defaultsFile).exists()) << how;
        QFile file(defaultsFile);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll().contains(how)) << how;
        // A second quit does nothing.
        EXPECT_FALSE(app.quit());
    }
}

TEST(Application, AQuitWaitsWithTheLoopRunningForAWriteUnderWayAtMostItsBound)
{
    int argc = 1;
    char name[] = "corvex";
    char* argv[] = {name, nullptr};
    for (const bool released : {true, false}) {
        SCOPED_TRACE(released ? "released" : "never released");
        ScopedVirtualTime time;
        Application app(argc, argv, {false, true, false});
        ShellTestHandler handler;
        app.setHandler(&handler);
        app.setLaunchArguments({});
        app.launch();
        handler.calls->clear();
        auto write = std::make_unique<QuitHold>(QStringLiteral("writing Trip.corvex"));

        std::raise(SIGTERM);
        ASSERT_TRUE(runUntil([&] { return app.isQuitting(); }, 5));
        EXPECT_FALSE(app.quit()) << "a second quit while the first waits";
        // The loop runs on: the write's steps still come.
        bool stepRan = false;
        MainQueue::post([&stepRan] { stepRan = true; });
        time.advance(Application::QuitHoldSeconds - 0.5);
        EXPECT_TRUE(stepRan);
        EXPECT_TRUE(handler.calls->isEmpty()) << "the quit began before the write ended";

        if (released)
            write.reset();
        time.advance(released ? 0.0 : 0.5);
        EXPECT_EQ(handler.calls->join(QLatin1Char(',')), QStringLiteral("write-state,will-terminate"));
        write.reset();
    }
}

TEST(SingleInstance, ASecondLaunchHandsItsArgumentsToTheFirst)
{
    const QString folder = testDir() + QStringLiteral("/instance");
    // A socket file left by a crashed instance.
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
    QFile stale(folder + QStringLiteral("/instance.socket"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();

    SingleInstance first({QStringLiteral("db-k3rt9wq0zvm5lhx")}, folder);
    ASSERT_EQ(first.claim(), SingleInstance::Role::Primary);
    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    std::vector<InstanceMessage> received;
    first.setMessageHandler([&received](const InstanceMessage& m) { received.push_back(m); });

    SingleInstance second({QStringLiteral("db-k3rt9wq0zvm5lhx")}, folder);
    ASSERT_EQ(second.claim(), SingleInstance::Role::Secondary);
    LogCapture log;
    ASSERT_TRUE(second.send("/docs/B.opml\nrelative.opml\nfile:///docs/C.corvex\n"));
    ASSERT_TRUE(runUntil([&] { return received.size() == 2; }, 5));
    EXPECT_EQ(received[0].path, QStringLiteral("/docs/B.opml"));
    EXPECT_EQ(received[1].path, QStringLiteral("/docs/C.corvex"));
    EXPECT_TRUE(runUntil([&] { return log.contains(QStringLiteral("relative path")); }, 5));
}

// Per-user runtime folders can lie deeper than a socket's path may reach: the socket then
// lies in a private folder of its own, and a second launch still finds the first.
TEST(SingleInstance, AFolderTooDeepForASocketPathStillHandsOver)
{
    QString folder = testDir() + QStringLiteral("/instance");
    while (folder.size() < 140)
        folder += QStringLiteral("/deeper-and-deeper");
    SingleInstance first({}, folder);
    ASSERT_EQ(first.claim(), SingleInstance::Role::Primary);
    EXPECT_NE(first.socketFolder(), folder);
    EXPECT_LE(QFile::encodeName(first.socketPath()).size(), 107);
    struct stat info = {};
    ASSERT_EQ(::lstat(QFile::encodeName(first.socketFolder()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, ::geteuid());
    std::vector<InstanceMessage> received;
    first.setMessageHandler([&received](const InstanceMessage& m) { received.push_back(m); });

    SingleInstance second({}, folder);
    ASSERT_EQ(second.claim(), SingleInstance::Role::Secondary);
    ASSERT_TRUE(second.send("/docs/B.opml\n"));
    ASSERT_TRUE(runUntil([&] { return received.size() == 1; }, 5));
    EXPECT_EQ(received[0].path, QStringLiteral("/docs/B.opml"));
}

TEST(DesktopIntegration, InstallsTheEntryTypesAndAssociations)
{
    const QString script = QStringLiteral(CORVEX_SOURCE_ROOT "/tools/install-desktop-integration");
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/update-mime-database")))
        GTEST_SKIP() << "shared-mime-info is not installed (tools/install-packages)";
    // The command goes into the folder named (as root the default would be /usr/local/bin,
    // which a test must not touch; for other users ~/.local/bin).
    const QString binDir = testDir() + QStringLiteral("/bin");
    const auto installTo = [&](const QString& binary) {
        QProcess install;
        install.start(script, {QStringLiteral("--binary"), binary, QStringLiteral("--bin-dir"), binDir});
        EXPECT_TRUE(install.waitForFinished(60000));
        EXPECT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();
        return QString::fromUtf8(install.readAllStandardOutput() + install.readAllStandardError());
    };
    installTo(QStringLiteral("/bin/false"));
    const QString output = installTo(QStringLiteral("/bin/true"));
    EXPECT_EQ(QFileInfo(binDir + QStringLiteral("/corvex")).symLinkTarget(), QStringLiteral("/bin/true"))
        << "a second run replaces the link";
    EXPECT_TRUE(output.contains(QStringLiteral("is not on PATH yet"))) << output.toStdString();
    QFile::remove(binDir + QStringLiteral("/corvex"));
    writeFile(binDir + QStringLiteral("/corvex"), "#!/bin/sh\n");
    EXPECT_TRUE(installTo(QStringLiteral("/bin/true")).contains(QStringLiteral("is not a link")));
    EXPECT_EQ(readFile(binDir + QStringLiteral("/corvex")), QByteArray("#!/bin/sh\n"))
        << "someone else's file stays";

    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    QFile entry(dataHome + QStringLiteral("/applications/com.tallowfen.corvex.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.contains("Exec=/bin/true %U\n"));
    EXPECT_TRUE(text.contains("x-scheme-handler/db-k3rt9wq0zvm5lhx;"));
    if (QFileInfo::exists(QStringLiteral("/usr/bin/desktop-file-validate"))) {
        EXPECT_EQ(QProcess::execute(QStringLiteral("/usr/bin/desktop-file-validate"), {entry.fileName()}), 0);
    }
    QFile associations(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/mimeapps.list"));
    ASSERT_TRUE(associations.open(QIODevice::ReadOnly));
    const QByteArray list = associations.readAll();
    for (const char* type : {"application/vnd.tallowfen.corvex=", "application/vnd.tallowfen.crvx=",
                             "text/x-opml+xml=", "x-scheme-handler/db-k3rt9wq0zvm5lhx="})
        EXPECT_TRUE(list.contains(QByteArray(type) + "com.tallowfen.corvex.desktop")) << type;

    // Qt reads the user's MIME database: both types by name, in any case.
    QMimeDatabase mime;
    EXPECT_EQ(mime.mimeTypeForFile(QStringLiteral("MAP.CORVEX"), QMimeDatabase::MatchExtension).name(),
              QStringLiteral("application/vnd.tallowfen.corvex"));
    EXPECT_EQ(mime.mimeTypeForFile(QStringLiteral("a.crvx"), QMimeDatabase::MatchExtension).name(),
              QStringLiteral("application/vnd.tallowfen.crvx"));
}
