// One document in several places at once: a window that comes back at the launch, the home
// screen's menu and editor beside it, a window closed while its editor is open. A document a
// window shows is never deleted under it, what one place changes the other keeps, and the
// home grid never loses what the document holds. The first run of each journey is a child
// that quits for real, so that the launch after it restores what it left.

#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "shell/MyWindow.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceController.h"
#include "tests/app/AppChild.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QLineEdit>

namespace corvex::test {

namespace {

const QString kGarden = QStringLiteral("Garden");

std::shared_ptr<HomeViewController> homeShowing(const QString& title, double seconds = 20.0)
{
    return AppJourney::waitForScreen<HomeViewController>(
        [&title](HomeViewController& home) { return WhereOnScreen::homeDocument(home, title).has_value(); },
        seconds);
}

// In the child: the document of the home grid opened in a window of its own ("Open in New
// Window"); its mind map. A step that fails ends the run, telling which.
std::shared_ptr<SolarSystemViewController> openInNewWindow(const QString& title)
{
    auto home = homeShowing(title);
    if (!home)
        AppChild::fail("not opened: no grid entry");
    if (!AppJourney::activate(AppJourney::windowOf(*home)))
        AppChild::fail("not opened: the home window is not active");
    if (!UserInput::rightClick(AppJourney::windowOf(*home),
                               AppJourney::seen(WhereOnScreen::homeDocument(*home, title)),
                               QStringLiteral("Open in New Window"))
             .chose)
        AppChild::fail("not opened: no Open in New Window");
    auto map = MindMapJourney::mindMapOf(title, title);
    if (!map)
        AppChild::fail("not opened: no map window: " +
                       QByteArray::fromStdString(MindMapJourney::whatShows()));
    return map;
}

// The user's garden, in the iCloud location: the first run makes it, as the container would
// bring it from another machine.
IdeaPtr garden()
{
    return text(kGarden, {text(QStringLiteral("Beds")), text(QStringLiteral("Paths"))});
}

// Argument: "quit" or "close with the editor open". The garden added to the iCloud location
// (told as "colour <its root's colour>") and opened in a window of its own beside the home
// window. Then either the application quits by Ctrl+Q, leaving both windows for the next
// launch; or the planet "Beds" is renamed "Raised beds" in its editor and the window closed
// while the editor is still open, the home grid's entry told ("grid: Garden" or "grid:
// missing"), and the application quits.
CORVEX_APP_SCRIPT(garden_in_a_window_then_quit)
{
    const IdeaPtr root = garden();
    if (!UserFiles::addDocumentToLocation(2, root))
        AppChild::fail("no garden");
    AppChild::tell("colour " + root->color()->name().toUtf8());
    const auto map = openInNewWindow(kGarden);
    MyWindow& window = AppJourney::windowOf(*map);
    if (arguments.value(0) == QLatin1String("quit")) {
        AppJourney::activate(window);
        UserInput::pressKey(window, Qt::Key_Q, Qt::ControlModifier);
        return;
    }
    if (!UserInput::rightClick(window, AppJourney::seen(WhereOnScreen::planet(*map, QStringLiteral("Beds"))),
                               QStringLiteral("Edit"))
             .chose ||
        !AppJourney::popoverShows() || !map->ideaEditor() || !Window::keyWindow())
        AppChild::fail("no editor");
    Window& editor = *Window::keyWindow();
    UserInput::pressKey(editor, Qt::Key_A, Qt::ControlModifier);
    UserInput::typeText(editor, QStringLiteral("Raised beds"));
    // The window's close box, as the window manager asks for it, with the editor still open.
    window.hostWidget()->close();
    if (!AppJourney::waitFor([] { return AppJourney::windows().size() == 1; }))
        AppChild::fail("window not closed");
    AppChild::tell(homeShowing(kGarden, 5.0) ? "grid: Garden" : "grid: missing");
    MyWindow& left = *AppJourney::windows().front();
    AppJourney::activate(left);
    UserInput::pressKey(left, Qt::Key_Q, Qt::ControlModifier);
}

class OneDocumentJourney : public MindMapJourney
{
protected:
    void SetUp() override
    {
        MindMapJourney::SetUp();
        UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    }

    // The first run, which must end cleanly and leave its windows for the next launch; what
    // it told.
    QList<QByteArray> firstRun(const QString& mode)
    {
        QList<QByteArray> told;
        auto child = AppChild::startScript(QStringLiteral("garden_in_a_window_then_quit"), {mode});
        if (!child) {
            ADD_FAILURE() << "no first run";
            return told;
        }
        while (const auto line = child->readLine(60.0))
            told.append(*line);
        const AppEnding ending = child->waitForEnd(60.0);
        EXPECT_TRUE(ending.clean()) << ending.describe().toStdString();
        if (!told.isEmpty() && told.front().startsWith("colour "))
            mGardenColour = QString::fromUtf8(told.takeFirst().mid(7));
        else
            ADD_FAILURE() << "the first run made no garden: " << told.join(' ').toStdString();
        return told;
    }

    // The summary the home grid shows of the document, as the location lists it.
    static IdeaProxyPtr gardenOnTheGrid()
    {
        const auto proxies = PersistenceController::singleton().proxyListForLocation(2);
        if (!proxies)
            return nullptr;
        for (const IdeaProxyPtr& proxy : *proxies)
            if (proxy)
                return proxy;
        return nullptr;
    }

    QString mGardenColour;
};

} // namespace

TEST_F(OneDocumentJourney, ARestoredWindowKeepsItsDocumentFromBeingDeletedOnTheHomeScreen)
{
    ASSERT_EQ(firstRun(QStringLiteral("quit")), QList<QByteArray>());
    ASSERT_TRUE(launch());
    auto garden = mindMapOf(kGarden, kGarden);
    ASSERT_NE(garden, nullptr) << "the document's window did not come back";
    auto home = homeShowing(kGarden);
    ASSERT_NE(home, nullptr);
    MyWindow& homeWindow = windowOf(*home);
    ASSERT_TRUE(activate(homeWindow));

    // "Are you sure?" (the garden has ideas in it): Delete. Then the refusal.
    alerts().answerIndex(0);
    ASSERT_TRUE(UserInput::rightClick(homeWindow, seen(WhereOnScreen::homeDocument(*home, kGarden)),
                                      QStringLiteral("Delete"))
                    .chose);
    ASSERT_TRUE(waitFor([this] { return alerts().presentedCount() == 2; }))
        << "asked " << alerts().presentedCount() << " time(s)";
    EXPECT_EQ(alerts().presented().back().informativeText,
              QStringLiteral(
                  "Document is open in other window. Please close the window before deleting document."));
    EXPECT_FALSE(waitFor([&] { return !WhereOnScreen::homeDocument(*home, kGarden).has_value(); }, 1.0))
        << "the document was deleted under its window";
    EXPECT_EQ(windows().size(), 2u) << "the restored window closed";
    EXPECT_NE(gardenOnTheGrid(), nullptr);
}

TEST_F(OneDocumentJourney, ARenameOnTheHomeScreenAndAnEditInTheRestoredWindowAreBothKept)
{
    ASSERT_EQ(firstRun(QStringLiteral("quit")), QList<QByteArray>());
    ASSERT_TRUE(launch());
    auto garden = mindMapOf(kGarden, kGarden);
    ASSERT_NE(garden, nullptr);
    auto home = homeShowing(kGarden);
    ASSERT_NE(home, nullptr);

    // The root renamed in the home screen's editor.
    MyWindow& homeWindow = windowOf(*home);
    ASSERT_TRUE(activate(homeWindow));
    ASSERT_TRUE(UserInput::rightClick(homeWindow, seen(WhereOnScreen::homeDocument(*home, kGarden)),
                                      QStringLiteral("Edit"))
                    .chose);
    ASSERT_TRUE(popoverShows());
    Window* editor = Window::keyWindow();
    ASSERT_NE(editor, nullptr);
    UserInput::pressKey(*editor, Qt::Key_A, Qt::ControlModifier);
    UserInput::typeText(*editor, QStringLiteral("Allotment"));
    ASSERT_TRUE(closePopovers());
    ASSERT_TRUE(homeShowing(QStringLiteral("Allotment"), 10.0)) << "the grid shows no rename";

    // Then an idea added in the restored window.
    MyWindow& gardenWindow = windowOf(*garden);
    ASSERT_TRUE(activate(gardenWindow));
    UserInput::pressKey(gardenWindow, Qt::Key_Space);
    ASSERT_TRUE(popoverShows()) << "the space bar opened no editor";
    editor = Window::keyWindow();
    ASSERT_NE(editor, nullptr);
    UserInput::typeText(*editor, QStringLiteral("Shed"));
    ASSERT_TRUE(closePopovers());
    ASSERT_TRUE(waitFor([&] { return WhereOnScreen::planet(*garden, QStringLiteral("Shed")).has_value(); }));

    // Both are in the stored document, and on the grid.
    EXPECT_TRUE(waitFor([&] {
        const IdeaProxyPtr listed = gardenOnTheGrid();
        return listed && listed->text() == QStringLiteral("Allotment") && listed->itemCount() == 4;
    })) << "the window's save undid the rename";
    IdeaPtr stored;
    PersistenceController::singleton().fetchRootIdea(garden->document()->docIdentifier(),
                                                     [&stored](const IdeaPtr& root) { stored = root; });
    ASSERT_TRUE(waitFor([&] { return stored != nullptr; }));
    EXPECT_EQ(stored->text(), QStringLiteral("Allotment"));
    EXPECT_NE(ideaWithText(stored, QStringLiteral("Shed")), nullptr);
    EXPECT_TRUE(homeShowing(QStringLiteral("Allotment"), 2.0));
}

TEST_F(OneDocumentJourney, ClosingAWindowWithItsEditorOpenLeavesTheDocumentWholeOnTheGrid)
{
    ASSERT_EQ(firstRun(QStringLiteral("close with the editor open")), QList<QByteArray>{"grid: Garden"});
    // After the restart, the grid reads the index the first run left.
    ASSERT_TRUE(launch());
    auto home = homeShowing(kGarden);
    ASSERT_NE(home, nullptr) << "the grid lost the document's title";
    const IdeaProxyPtr listed = gardenOnTheGrid();
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->text(), kGarden);
    EXPECT_EQ(listed->itemCount(), 3);
    ASSERT_NE(listed->color(), nullptr);
    EXPECT_EQ(listed->color()->name(), mGardenColour) << "the grid lost the colour";
    // The edit itself is stored.
    IdeaPtr stored;
    PersistenceController::singleton().fetchRootIdea(listed->docIdentifier(),
                                                     [&stored](const IdeaPtr& root) { stored = root; });
    ASSERT_TRUE(waitFor([&] { return stored != nullptr; }));
    EXPECT_NE(ideaWithText(stored, QStringLiteral("Raised beds")), nullptr);
}

} // namespace corvex::test
