// Ctrl+F on the home screen starts the search, whatever the user clicked before: the grid
// itself, or a document opened and left again. The results are drawn in planets the grid made
// while it rested, the planets of one frame at once on the process's cores, each as it draws
// alone.

#include "home/HomePlanetLayer.h"
#include "home/HomeViewController.h"
#include "home/IdeaListView.h"
#include "home/IdeaViewForIPadListItem.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "shell/MyWindow.h"
#include "shell/TopBarView.h"
#include "storage/PersistenceController.h"
#include "storage/SearchCache.h"
#include "storage/Workspace.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QStandardPaths>

namespace corvex::test {

namespace {

class HomeSearchJourney : public MindMapJourney
{
protected:
    // The home screen shows exactly these documents.
    static bool showsOnly(const HomeViewController& home, const QStringList& documents)
    {
        if (home.ideaListView()->proxies().size() != std::size_t(documents.size()))
            return false;
        for (const QString& document : documents) {
            if (!WhereOnScreen::homeDocument(home, document))
                return false;
        }
        return true;
    }

    // Whether the planet of the document showing `text`, once drawn in a frame, holds the
    // picture it draws alone, on the main thread.
    testing::AssertionResult drawnAsAlone(const HomeViewController& home, const QString& text)
    {
        HomePlanetLayer* planet = nullptr;
        for (const IdeaProxyPtr& proxy : home.ideaListView()->proxies()) {
            const auto* view = dynamic_cast<IdeaViewForIPadListItem*>(
                home.ideaListView()->visibleIdeaViewForDocument(proxy->docIdentifier()));
            if (proxy->text() == text && view)
                planet = view->homePlanetLayer().get();
        }
        if (!planet)
            return testing::AssertionFailure() << "no planet shows " << text.toStdString();
        if (!waitFor([planet] { return !planet->needsDisplay() && !planet->contents().isNull(); }))
            return testing::AssertionFailure() << text.toStdString() << " was never drawn";
        const QImage shown = planet->contents();
        planet->display();
        if (planet->contents() == shown)
            return testing::AssertionSuccess();
        const QString name = testOutputDir() + QStringLiteral("/app-home-planet-") + text;
        shown.save(name + QStringLiteral("-shown.png"));
        planet->contents().save(name + QStringLiteral("-alone.png"));
        return testing::AssertionFailure() << text.toStdString() << " differs from its picture drawn alone";
    }

    // Ctrl+F, then the words: the grid shows what matches.
    bool search(MyWindow& window, HomeViewController& home, const QString& words)
    {
        UserInput::pressKey(window, Qt::Key_F, Qt::ControlModifier);
        if (!waitFor([&home] { return home.topBar()->isEditingSearchText(); }, 3.0))
            return false;
        UserInput::typeText(window, words);
        return waitFor([&home, &words] {
            return home.state() == HomeViewController::StateResults &&
                   home.topBar()->currentSearchText() == words;
        });
    }
};

} // namespace

TEST_F(HomeSearchJourney, CtrlFSearchesAfterClickingTheGridAndAfterComingBackFromADocument)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    ASSERT_TRUE(launch());
    ASSERT_TRUE(UserFiles::addDocumentToLocation(2, text(QStringLiteral("Plans"))));
    ASSERT_TRUE(UserFiles::addDocumentToLocation(2, text(QStringLiteral("Shopping"))));
    auto home = waitForScreen<HomeViewController>([](HomeViewController& shown) {
        return showsOnly(shown, {QStringLiteral("Plans"), QStringLiteral("Shopping")});
    });
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    ASSERT_TRUE(activate(window));

    // A click on the grid, then Ctrl+F and the words: only what matches stays, in a planet the
    // grid made while it rested.
    UserInput::click(window, seen(WhereOnScreen::homeEmptySpace(*home)));
    ASSERT_TRUE(waitFor([&] { return home->ideaListView()->missingSpareItems() == 0; }))
        << "the grid at rest made no spare planets";
    const int made = home->ideaListView()->createdItemCount();
    EXPECT_TRUE(search(window, *home, QStringLiteral("plan")))
        << "Ctrl+F after a click on the grid started no search";
    EXPECT_TRUE(waitFor([&] { return showsOnly(*home, {QStringLiteral("Plans")}); }));
    EXPECT_EQ(home->ideaListView()->createdItemCount(), made) << "the results needed a new planet";
    screenshot(QStringLiteral("home-search"));
    EXPECT_TRUE(drawnAsAlone(*home, QStringLiteral("Plans")));

    // Emptied, the search ends and every document is back.
    UserInput::pressKey(window, Qt::Key_A, Qt::ControlModifier);
    UserInput::pressKey(window, Qt::Key_Backspace);
    ASSERT_TRUE(waitFor([&] {
        return showsOnly(*home, {QStringLiteral("Plans"), QStringLiteral("Shopping")});
    }));

    // A document opened and left by the home button: Ctrl+F searches again.
    ASSERT_TRUE(UserInput::rightClick(window,
                                      seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Shopping"))),
                                      QStringLiteral("Open"))
                    .chose);
    auto shopping = mindMapOf(QStringLiteral("Shopping"), QStringLiteral("Shopping"));
    ASSERT_NE(shopping, nullptr);
    UserInput::click(window, seen(WhereOnScreen::homeButton(*shopping)));
    auto back = waitForScreen<HomeViewController>([](HomeViewController& shown) {
        return showsOnly(shown, {QStringLiteral("Plans"), QStringLiteral("Shopping")}) &&
               !shown.screenOccupied();
    });
    ASSERT_NE(back, nullptr) << "the home button did not bring the home screen back";
    ASSERT_EQ(&windowOf(*back), &window);
    EXPECT_TRUE(drawnAsAlone(*back, QStringLiteral("Plans")));
    EXPECT_TRUE(drawnAsAlone(*back, QStringLiteral("Shopping")));
    EXPECT_TRUE(search(window, *back, QStringLiteral("shop")))
        << "Ctrl+F after coming back started no search";
    EXPECT_TRUE(waitFor([&] { return showsOnly(*back, {QStringLiteral("Shopping")}); }));
}

// A search cleared while one of its reads waits on the disk: once the read comes back, the
// next search is answered (a cleared search left its location's search stalled for good).
TEST_F(HomeSearchJourney, ASearchClearedWhileAReadWaitsLeavesTheNextOneAnswered)
{
    UserFiles::setDefault(Globals::CloudStorageChoiceKey, true);
    ASSERT_TRUE(launch());
    const QStringList titles = {QStringLiteral("Plans"), QStringLiteral("Shopping"), QStringLiteral("Garden"),
                                QStringLiteral("Recipes"), QStringLiteral("Books")};
    for (const QString& title : titles)
        ASSERT_TRUE(UserFiles::addDocumentToLocation(2, text(title)));
    auto home = waitForScreen<HomeViewController>(
        [&](HomeViewController& shown) { return showsOnly(shown, titles); });
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    ASSERT_TRUE(activate(window));

    // Cold, as after a start: every document is read again for the next search, and the read
    // of "Plans" waits on the disk.
    QString plans;
    for (const IdeaProxyPtr& proxy : home->ideaListView()->proxies()) {
        if (proxy->text() == QStringLiteral("Plans"))
            plans =
                UserFiles::findBelow(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                                     IdeaDocument::pathFromIdentifier(proxy->docIdentifier()));
    }
    ASSERT_FALSE(plans.isEmpty()) << "no file of Plans";
    FaultShim shim;
    shim.holdReadsOf(QFile::encodeName(plans).toStdString());
    PersistenceController::singleton()
        .workspaceForLocation(IdeaDocument::ICloudLocation)
        ->searchCache()
        .invalidate();

    UserInput::pressKey(window, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return home->topBar()->isEditingSearchText(); }, 3.0));
    UserInput::typeText(window, QStringLiteral("plan"));
    ASSERT_TRUE(shim.waitForHeldRead(10)) << "the search read no file";
    UserInput::pressKey(window, Qt::Key_A, Qt::ControlModifier);
    UserInput::pressKey(window, Qt::Key_Backspace);
    ASSERT_TRUE(waitFor([&] { return showsOnly(*home, titles); })) << "the emptied search did not end";
    shim.releaseReads();

    UserInput::typeText(window, QStringLiteral("shop"));
    EXPECT_TRUE(waitFor([&] { return showsOnly(*home, {QStringLiteral("Shopping")}); }))
        << "the next search was never answered";
    screenshot(QStringLiteral("home-search-after-a-cleared-one"));
}

} // namespace corvex::test
