// Every menu of the menu bar and every key on each screen of the assembled application: which
// items are enabled, and what each key does, also after a click into the grid, the orbit or
// the overview, and after coming back from another screen or window.

#include "editor/PictureView.h"
#include "editor/PictureViewController.h"
#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "overview/GraphScrollView.h"
#include "overview/GraphTileFactory.h"
#include "platform/ui/PrintPanelRunner.h"
#include "shell/MyWindow.h"
#include "shell/TopBarView.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "toolkit/BaseScrollView.h"
#include "toolkit/ButtonView.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QUrl>

namespace corvex::test {

namespace {

// A print panel that shows nothing and is cancelled, counting its runs.
class CancelledPrintPanel final : public PrintPanelRunner
{
public:
    bool runPrintPanel(QPrinter&, Window*) override
    {
        ++runs;
        return false;
    }
    int runs = 0;
};

class MenuKeyJourney : public MindMapJourney
{
protected:
    void SetUp() override
    {
        MindMapJourney::SetUp();
        mPreviousPrint = PrintPanelRunner::install(mPrint);
    }
    void TearDown() override
    {
        PrintPanelRunner::install(mPreviousPrint);
        MindMapJourney::TearDown();
    }

    // The items of a menu of the window's menu bar as the user sees them open: "+" enabled,
    // "-" disabled, separators left out.
    static QString menuStates(Window& window, const QString& menu)
    {
        const ShownMenu shown = UserInput::openMenuBarMenu(window, menu);
        QStringList items;
        for (qsizetype i = 0; i < shown.titles.size(); ++i) {
            if (shown.titles[i] != QStringLiteral("-"))
                items << (shown.enabled[std::size_t(i)] ? QStringLiteral("+") : QStringLiteral("-")) +
                             shown.titles[i];
        }
        return items.join(QLatin1Char(' '));
    }

    // The enabled items of every menu but Help (always all enabled), one menu a line.
    static QString menuBarStates(Window& window)
    {
        QStringList menus;
        for (const QString& menu : {QStringLiteral("File"), QStringLiteral("Edit"), QStringLiteral("View"),
                                    QStringLiteral("Window")})
            menus << menu + QStringLiteral(": ") + menuStates(window, menu);
        return menus.join(QLatin1Char('\n'));
    }

    static GraphScrollView& overview(SolarSystemViewController& screen)
    {
        return dynamic_cast<GraphScrollView&>(*screen.graphView());
    }

    static bool searching(SolarSystemViewController& screen)
    {
        return screen.topBar() && screen.topBar()->isEditingSearchText();
    }

    template <class Editor> static std::shared_ptr<Editor> presented(const SolarSystemViewController& screen)
    {
        for (const auto& shown : screen.presentedViewControllers()) {
            if (auto editor = std::dynamic_pointer_cast<Editor>(shown))
                return editor;
        }
        return nullptr;
    }

    // The keys a closed editor leaves to the mind map: Ctrl+F starts a search, Escape ends it.
    bool mindMapTakesKeys(SolarSystemViewController& screen)
    {
        MyWindow& window = windowOf(screen);
        if (!activate(window))
            return false;
        UserInput::pressKey(window, Qt::Key_F, Qt::ControlModifier);
        if (!waitFor([&] { return searching(screen); }, 3.0))
            return false;
        UserInput::pressKey(window, Qt::Key_Escape);
        return waitFor([&] { return !searching(screen) && !screen.screenOccupied(); }, 3.0);
    }

    std::shared_ptr<CancelledPrintPanel> mPrint = std::make_shared<CancelledPrintPanel>();
    std::shared_ptr<PrintPanelRunner> mPreviousPrint;
};

IdeaPtr tripTree()
{
    return text(QStringLiteral("Trip"), {text(QStringLiteral("Pack"), {text(QStringLiteral("Tent"))}),
                                         text(QStringLiteral("Maps")), text(QStringLiteral("Food"))});
}

} // namespace

TEST_F(MenuKeyJourney, HomeScreen)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    ASSERT_TRUE(launch());
    ASSERT_TRUE(UserFiles::addDocumentToLocation(2, text(QStringLiteral("Plans"))));
    auto home = waitForScreen<HomeViewController>([](HomeViewController& shown) {
        return WhereOnScreen::homeDocument(shown, QStringLiteral("Plans")).has_value();
    });
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    ASSERT_TRUE(activate(window));

    EXPECT_EQ(
        menuBarStates(window),
        QStringLiteral("File: +New Mind Map +New iCloud Window -New Dropbox Window +Open... +Open Recent "
                       "+Import... -Save -Save As... -Export... -Print... +Preferences... +Close Window "
                       "+Quit Corvex\n"
                       "Edit: -Undo -Redo -Cut -Copy -Paste -Select All\n"
                       "View: -Toggle Mind Map -Zoom In -Zoom Out -Zoom to Fit -Add New Element\n"
                       "Window: +Minimize"));
    EXPECT_EQ(menuStates(window, QStringLiteral("Help")),
              QStringLiteral("+About Corvex +User Guide +Contact Support"));

    // Ctrl+F starts the search, also after a click into the grid; Escape ends the typing.
    for (const bool clicked : {false, true}) {
        if (clicked)
            UserInput::click(window, seen(WhereOnScreen::homeEmptySpace(*home)));
        UserInput::pressKey(window, Qt::Key_F, Qt::ControlModifier);
        EXPECT_TRUE(waitFor([&] { return home->topBar()->isEditingSearchText(); }, 3.0))
            << "Ctrl+F started no search" << (clicked ? " after a click into the grid" : "");
        if (!clicked) {
            UserInput::typeText(window, QStringLiteral("pl"));
            EXPECT_TRUE(
                waitFor([&] { return home->topBar()->currentSearchText() == QStringLiteral("pl"); }, 3.0));
        }
        UserInput::pressKey(window, Qt::Key_Escape);
        EXPECT_TRUE(waitFor([&] { return !home->topBar()->isEditingSearchText(); }, 3.0));
    }

    // Keys of items the home screen does not handle do nothing.
    for (const auto& [key, modifiers] : std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
             {Qt::Key_S, Qt::ControlModifier},
             {Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier},
             {Qt::Key_P, Qt::ControlModifier},
             {Qt::Key_Plus, Qt::ControlModifier},
             {Qt::Key_9, Qt::ControlModifier},
             {Qt::Key_Space, Qt::NoModifier}})
        UserInput::pressKey(window, key, modifiers);
    EXPECT_FALSE(waitFor(
        [&] {
            return !filePanels().presentedSaves().empty() || mPrint->runs > 0 || !otherTopLevels().empty() ||
                   windows().size() != 1;
        },
        1.0));

    // Ctrl+O asks for a file; Ctrl+N opens a new mind map with its root in the editor; Ctrl+W
    // closes it, and the home window takes keys again.
    filePanels().answerCancel();
    UserInput::pressKey(window, Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return filePanels().presentedCount() == 1; }, 3.0))
        << "Ctrl+O asked for no file";
    UserInput::pressKey(window, Qt::Key_N, Qt::ControlModifier);
    auto fresh = waitForScreen<SolarSystemViewController>();
    ASSERT_NE(fresh, nullptr) << "Ctrl+N opened no mind map";
    EXPECT_TRUE(popoverShows());
    ASSERT_TRUE(closePopovers());
    MyWindow& freshWindow = windowOf(*fresh);
    ASSERT_TRUE(activate(freshWindow));
    UserInput::pressKey(freshWindow, Qt::Key_W, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([] { return windows().size() == 1; })) << "Ctrl+W closed no window";
    ASSERT_TRUE(activate(window));
    UserInput::pressKey(window, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return home->topBar()->isEditingSearchText(); }, 3.0))
        << "Ctrl+F after another window closed";
    UserInput::pressKey(window, Qt::Key_Escape);

    // The Help items open the guide and the support page in the browser; Import asks for a
    // file.
    for (const QString& item : {QStringLiteral("User Guide"), QStringLiteral("Contact Support")})
        EXPECT_TRUE(UserInput::chooseMenuBarItem(window, QStringLiteral("Help"), item).ran())
            << item.toStdString();
    EXPECT_TRUE(waitFor([&] { return browser().opened.size() == 2; }, 3.0))
        << "the Help items opened no page";
    filePanels().answerCancel();
    ASSERT_TRUE(
        UserInput::chooseMenuBarItem(window, QStringLiteral("File"), QStringLiteral("Import...")).ran());
    EXPECT_TRUE(waitFor([&] { return filePanels().presentedCount() == 2; }, 3.0))
        << "Import asked for no file";

    // Ctrl+M minimizes the window.
    UserInput::pressKey(window, Qt::Key_M, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return window.hostWidget()->isMinimized(); }, 3.0))
        << "Ctrl+M minimized nothing";
}

TEST_F(MenuKeyJourney, MindMap)
{
    auto trip = launchWithDocument(tripTree());
    ASSERT_NE(trip, nullptr);
    MyWindow& window = windowOf(*trip);

    EXPECT_EQ(
        menuBarStates(window),
        QStringLiteral("File: +New Mind Map +New iCloud Window -New Dropbox Window +Open... +Open Recent "
                       "+Import... +Save +Save As... +Export... +Print... +Preferences... +Close Window "
                       "+Quit Corvex\n"
                       "Edit: -Undo -Redo -Cut -Copy -Paste -Select All\n"
                       "View: +Toggle Mind Map -Zoom In -Zoom Out -Zoom to Fit +Add New Element\n"
                       "Window: +Minimize"));

    // The space bar adds an idea after the last planet, also after a click on the orbit's empty
    // space and after coming back from the overview.
    for (int round = 0; round < 3; ++round) {
        if (round == 1)
            UserInput::click(window, seen(WhereOnScreen::emptySpace(*trip)));
        if (round == 2) {
            ASSERT_TRUE(showOverview(*trip));
            UserInput::pressKey(window, Qt::Key_Escape);
            ASSERT_TRUE(waitFor([&] {
                return trip->solarSystemState() == SolarSystemViewController::StateMindMap &&
                       !trip->screenOccupied();
            })) << "Escape in the overview went back to no mind map";
        }
        UserInput::pressKey(window, Qt::Key_Space);
        EXPECT_TRUE(popoverShows()) << "the space bar opened no editor in round " << round;
        ASSERT_TRUE(closePopovers());
        ASSERT_TRUE(waitFor([&] { return !trip->screenOccupied(); }));
    }

    // Ctrl+F starts the search (state 4); Escape clears it and goes back to the mind map.
    UserInput::pressKey(window, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return searching(*trip); }, 3.0)) << "Ctrl+F started no search";
    UserInput::typeText(window, QStringLiteral("pa"));
    ASSERT_TRUE(waitFor(
        [&] {
            return trip->solarSystemState() == SolarSystemViewController::StateMindMapSearch &&
                   !trip->screenOccupied();
        },
        3.0));
    // The first Escape ends the typing, the search stays; the next clears it.
    UserInput::pressKey(window, Qt::Key_Escape);
    ASSERT_TRUE(waitFor([&] { return !searching(*trip); }, 3.0));
    EXPECT_EQ(trip->solarSystemState(), SolarSystemViewController::StateMindMapSearch);
    UserInput::pressKey(window, Qt::Key_Escape);
    EXPECT_TRUE(waitFor(
        [&] {
            return trip->solarSystemState() == SolarSystemViewController::StateMindMap &&
                   trip->topBar()->currentSearchText().isEmpty();
        },
        3.0))
        << "Escape in the search left state " << trip->solarSystemState();

    // Escape drills up from a child, and does nothing on the root.
    ASSERT_NE(mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip")), nullptr);
    UserInput::rightClick(window, seen(WhereOnScreen::planet(*trip, QStringLiteral("Pack"))),
                          QStringLiteral("Open"));
    ASSERT_NE(mindMapOf(QStringLiteral("Trip"), QStringLiteral("Pack")), nullptr);
    UserInput::pressKey(window, Qt::Key_Escape);
    EXPECT_NE(mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip")), nullptr)
        << "Escape did not drill up";
    UserInput::pressKey(window, Qt::Key_Escape);
    EXPECT_FALSE(waitFor([&] { return trip->drillingUpOrDown(); }, 0.5));

    // The mind map has no undo of its own: Undo and Redo stay disabled after a delete.
    ASSERT_TRUE(UserInput::rightClick(window, seen(WhereOnScreen::planet(*trip, QStringLiteral("Maps"))),
                                      QStringLiteral("Delete"))
                    .chose);
    ASSERT_TRUE(waitFor([&] { return !WhereOnScreen::planet(*trip, QStringLiteral("Maps")); }));
    EXPECT_EQ(menuStates(window, QStringLiteral("Edit")),
              QStringLiteral("-Undo -Redo -Cut -Copy -Paste -Select All"));

    // In the idea editor's text field the Edit keys work on the text, the editor holding the
    // keyboard: select all, cut, undo, redo, paste.
    ASSERT_TRUE(UserInput::rightClick(window, seen(WhereOnScreen::planet(*trip, QStringLiteral("Food"))),
                                      QStringLiteral("Edit"))
                    .chose);
    ASSERT_TRUE(popoverShows());
    ASSERT_NE(trip->ideaEditor(), nullptr);
    Window* editor = Window::keyWindow();
    ASSERT_NE(editor, nullptr);
    // The text the user sees in the field being typed into.
    const auto title = [] {
        auto* field = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        return field ? field->text() : QStringLiteral("(no field has the keyboard)");
    };
    ASSERT_TRUE(waitFor([&] { return title() == QStringLiteral("Food"); }, 3.0));
    UserInput::pressKey(*editor, Qt::Key_A, Qt::ControlModifier);
    UserInput::pressKey(*editor, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return title().isEmpty(); }, 3.0)) << "Ctrl+A, Ctrl+X cut nothing";
    UserInput::pressKey(*editor, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return title() == QStringLiteral("Food"); }, 3.0)) << "Ctrl+Z undid nothing";
    UserInput::pressKey(*editor, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(waitFor([&] { return title().isEmpty(); }, 3.0)) << "Ctrl+Shift+Z redid nothing";
    UserInput::pressKey(*editor, Qt::Key_V, Qt::ControlModifier);
    UserInput::pressKey(*editor, Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return title() == QStringLiteral("FoodFood"); }, 3.0))
        << "Ctrl+V pasted nothing";
    UserInput::pressKey(*editor, Qt::Key_A, Qt::ControlModifier);
    UserInput::pressKey(*editor, Qt::Key_C, Qt::ControlModifier);
    UserInput::typeText(*editor, QStringLiteral("Snacks"));
    ASSERT_TRUE(closePopovers());
    EXPECT_TRUE(waitFor([&] { return WhereOnScreen::planet(*trip, QStringLiteral("Snacks")).has_value(); }));

    // Ctrl+S saves into the document's file, Ctrl+Shift+S asks for another, Ctrl+P prints.
    const QString path = QDir::home().filePath(QStringLiteral("Trip.corvex"));
    UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] {
        return ideaWithText(UserFiles::readDocument(path), QStringLiteral("Snacks")) != nullptr;
    })) << "Ctrl+S wrote no file";
    filePanels().answerCancel();
    UserInput::pressKey(window, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(waitFor([&] { return filePanels().presentedSaves().size() == 1; }, 3.0))
        << "Ctrl+Shift+S asked for no file";
    UserInput::pressKey(window, Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return mPrint->runs == 1; }, 5.0)) << "Ctrl+P showed no print panel";
    EXPECT_TRUE(mindMapTakesKeys(*trip)) << "after the print panel";
}

TEST_F(MenuKeyJourney, Overview)
{
    auto trip = launchWithDocument(tripTree());
    ASSERT_NE(trip, nullptr);
    MyWindow& window = windowOf(*trip);
    ASSERT_TRUE(showOverview(*trip));
    GraphScrollView& graph = overview(*trip);
    const float fit = graph.zoomScale();

    EXPECT_EQ(menuStates(window, QStringLiteral("View")),
              QStringLiteral("+Toggle Mind Map +Zoom In -Zoom Out -Zoom to Fit -Add New Element"));

    // The zoom keys, also after a click on a node.
    for (const bool clicked : {false, true}) {
        if (clicked) {
            UserInput::click(window, seen(WhereOnScreen::overviewNode(*trip, QStringLiteral("Trip"))));
            waitFor([&] { return !trip->screenOccupied(); }, 1.0);
        }
        UserInput::pressKey(window, Qt::Key_Plus, Qt::ControlModifier);
        EXPECT_TRUE(waitFor([&] { return graph.zoomScale() > fit * 1.4f; }, 3.0)) << "Ctrl++ zoomed not in";
        EXPECT_EQ(menuStates(window, QStringLiteral("View")),
                  QStringLiteral("+Toggle Mind Map +Zoom In +Zoom Out +Zoom to Fit -Add New Element"));
        UserInput::pressKey(window, Qt::Key_Minus, Qt::ControlModifier);
        EXPECT_TRUE(waitFor([&] { return graph.zoomScale() < fit * 1.4f && graph.zoomScale() > fit; }, 3.0))
            << "Ctrl+- zoomed not out";
        UserInput::pressKey(window, Qt::Key_9, Qt::ControlModifier);
        EXPECT_TRUE(waitFor([&] { return graph.zoomScale() == fit; }, 3.0)) << "Ctrl+9 did not fit";
    }

    // Escape goes back to the mind map; Ctrl+F starts a search in the overview (state 3), and
    // Escape there clears it.
    UserInput::pressKey(window, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return searching(*trip); }, 3.0)) << "Ctrl+F started no search in the overview";
    UserInput::typeText(window, QStringLiteral("ma"));
    ASSERT_TRUE(waitFor(
        [&] { return trip->solarSystemState() == SolarSystemViewController::StateOverviewSearch; }, 3.0));
    // The ideas the search does not find are drawn faded once its walk is done.
    const auto fadedText = [&](const QString& text) {
        const auto factory = graph.tileFactory();
        const FlatGraph& mirror = factory->graph();
        for (std::size_t i = 0; i < mirror.size(); ++i)
            if (mirror.text(i) == text)
                return factory->isFaded(i);
        return false;
    };
    EXPECT_TRUE(waitFor(
        [&] {
            return !graph.searching() && fadedText(QStringLiteral("Trip")) &&
                   !fadedText(QStringLiteral("Maps"));
        },
        3.0))
        << "the overview did not show the search";
    screenshot(QStringLiteral("overview-search"));
    UserInput::click(window, seen(WhereOnScreen::overviewNode(*trip, QStringLiteral("Maps"))));
    waitFor([&] { return !searching(*trip); }, 1.0);
    UserInput::pressKey(window, Qt::Key_Escape);
    EXPECT_TRUE(waitFor(
        [&] {
            return trip->solarSystemState() == SolarSystemViewController::StateOverview &&
                   trip->topBar()->currentSearchText().isEmpty();
        },
        3.0))
        << "Escape in the overview's search left state " << trip->solarSystemState();
    UserInput::pressKey(window, Qt::Key_Escape);
    EXPECT_TRUE(
        waitFor([&] { return trip->solarSystemState() == SolarSystemViewController::StateMindMap; }, 3.0))
        << "Escape left the overview shown";
}

TEST_F(MenuKeyJourney, PictureViewer)
{
    IdeaPtr tree = text(QStringLiteral("Album"), {text(QStringLiteral("Notes"))});
    IdeaPtr picture = UserFiles::storedPicture(QStringLiteral("Beach"), QColor(40, 120, 200));
    ASSERT_NE(picture, nullptr);
    (void)tree->addIdea(coloured(picture));
    auto album = launchWithDocument(tree);
    ASSERT_NE(album, nullptr);
    MyWindow& window = windowOf(*album);

    enum class Close
    {
        Button,
        Escape
    };
    for (const Close close : {Close::Button, Close::Escape}) {
        ASSERT_TRUE(UserInput::rightClick(window,
                                          seen(WhereOnScreen::planet(*album, QStringLiteral("Beach"))),
                                          QStringLiteral("Edit"))
                        .chose);
        std::shared_ptr<PictureViewController> viewer;
        ASSERT_TRUE(waitFor([&] {
            viewer = presented<PictureViewController>(*album);
            return viewer && viewer->pictureView() && viewer->pictureView()->window();
        })) << "Edit opened no picture viewer";
        waitFor([] { return false; }, 0.5);
        PictureView& picture = *viewer->pictureView();
        // As a user waits out the loading spinner: it covers the viewer, its buttons included,
        // until the picture is there (on a busy machine, for seconds).
        ASSERT_TRUE(waitFor([&] {
            const Point close = seen(WhereOnScreen::middle(*viewer->closeButton()));
            return !picture.image().isNull() &&
                   window.contentView()->hitTest(close) == viewer->closeButton().get();
        })) << "the picture did not show";
        BaseScrollView& scroll = *picture.scrollView();
        const double fit = scroll.magnification();
        EXPECT_EQ(menuStates(window, QStringLiteral("View")),
                  QStringLiteral("-Toggle Mind Map +Zoom In +Zoom Out -Zoom to Fit -Add New Element"));
        UserInput::pressKey(window, Qt::Key_Plus, Qt::ControlModifier);
        EXPECT_TRUE(waitFor([&] { return scroll.magnification() > fit * 1.4; }, 3.0))
            << "Ctrl++ zoomed not in";
        UserInput::pressKey(window, Qt::Key_Minus, Qt::ControlModifier);
        EXPECT_TRUE(waitFor([&] { return scroll.magnification() < fit * 1.4; }, 3.0))
            << "Ctrl+- zoomed not out";
        UserInput::pressKey(window, Qt::Key_9, Qt::ControlModifier);
        EXPECT_TRUE(waitFor([&] { return picture.isFittingExactly(); }, 3.0)) << "Ctrl+9 did not fit";
        if (close == Close::Button)
            UserInput::click(window, seen(WhereOnScreen::middle(*viewer->closeButton())));
        else
            UserInput::pressKey(window, Qt::Key_Escape);
        EXPECT_TRUE(waitFor([&] {
            return !presented<PictureViewController>(*album) && !album->screenOccupied();
        })) << "the picture viewer stayed";
        EXPECT_TRUE(mindMapTakesKeys(*album)) << "after the picture viewer";
    }
}

} // namespace corvex::test
