// Right-click menus as a user meets them: on the home screen's documents, on the mind map's
// planets, centre, parent and empty space, and on the overview's nodes; each item doing its
// work.

#include "cloud/container/CloudAccount.h"
#include "home/HomeViewController.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Globals.h"
#include "shell/MyWindow.h"
#include "storage/IdeaDocument.h"
#include "storage/IndexDocument.h"
#include "storage/PersistenceController.h"
#include "tests/app/JourneyTrees.h"
#include "tests/app/MindMapJourney.h"
#include "tests/app/UserFiles.h"
#include "tests/app/UserInput.h"
#include "tests/app/WhereOnScreen.h"

#include <QDir>
#include <QFile>
#include <QUrl>
#include <optional>

namespace corvex::test {

namespace {

const QString kOpenElsewhere =
    QStringLiteral("Document is open in other window. Please close the window before deleting document.");

class ContextMenuJourney : public MindMapJourney
{
protected:
    // The iCloud location opted for, so that the launch's own first window is its home screen.
    void optForICloud() { UserFiles::setDefault(Globals::CloudStorageChoiceKey, true); }

    std::shared_ptr<HomeViewController> homeShowing(const QStringList& documents)
    {
        return waitForScreen<HomeViewController>([&documents](HomeViewController& home) {
            for (const QString& text : documents) {
                if (!WhereOnScreen::homeDocument(home, text))
                    return false;
            }
            return true;
        });
    }
};

} // namespace

TEST_F(ContextMenuJourney, HomeDocumentMenuOpensEditsAndDeletesAfterItsConfirmation)
{
    optForICloud();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(UserFiles::addDocumentToLocation(
        2, text(QStringLiteral("Plans"), {text(QStringLiteral("A")), text(QStringLiteral("B"))})));
    ASSERT_TRUE(
        UserFiles::addDocumentToLocation(2, noted(QStringLiteral("Letters"), QStringLiteral("Dear"))));
    ASSERT_TRUE(UserFiles::addDocumentToLocation(2, text(QStringLiteral("Shopping"))));
    auto home = homeShowing({QStringLiteral("Plans"), QStringLiteral("Letters"), QStringLiteral("Shopping")});
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    screenshot(QStringLiteral("home-grid"));

    // The menu of a document, in the order of the home screen.
    ShownMenu menu =
        UserInput::rightClick(window, seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Plans"))));
    ASSERT_TRUE(menu.opened) << "no menu opened on a right click on a document";
    EXPECT_EQ(menu.titles, (QStringList{QStringLiteral("Open"), QStringLiteral("Open in New Window"),
                                        QStringLiteral("-"), QStringLiteral("Edit"), QStringLiteral("-"),
                                        QStringLiteral("Delete"), QStringLiteral("-")}));
    // Empty space has none.
    EXPECT_FALSE(UserInput::rightClick(window, seen(WhereOnScreen::homeEmptySpace(*home))).opened);

    // Delete asks first, counting the root with what lies below it: Cancel keeps the
    // document, Delete removes it.
    alerts().answerTitle(QStringLiteral("Cancel"));
    ASSERT_TRUE(UserInput::rightClick(window,
                                      seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Plans"))),
                                      QStringLiteral("Delete"))
                    .chose);
    ASSERT_TRUE(waitFor([this] { return alerts().presentedCount() == 1; }));
    EXPECT_EQ(alerts().presented().back().messageText, QStringLiteral("Delete"));
    EXPECT_EQ(alerts().presented().back().informativeText,
              QStringLiteral("Element contains 3 sub-elements. Are you sure?"));
    alerts().answerTitle(QStringLiteral("Delete"));
    ASSERT_TRUE(UserInput::rightClick(window,
                                      seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Plans"))),
                                      QStringLiteral("Delete"))
                    .chose);
    EXPECT_TRUE(waitFor([&] { return !WhereOnScreen::homeDocument(*home, QStringLiteral("Plans")); }))
        << "the confirmed document is still in the grid";

    // Edit: the idea editor on the document's root, in place.
    ASSERT_TRUE(UserInput::rightClick(window,
                                      seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Shopping"))),
                                      QStringLiteral("Edit"))
                    .chose);
    EXPECT_TRUE(popoverShows()) << "Edit showed no editor";
    screenshot(QStringLiteral("home-edit"));
    closePopovers();
    ASSERT_TRUE(waitFor([&] { return !home->editorOpen() && !home->screenOccupied(); }));

    // Open in New Window: a second window shows the document's mind map.
    ASSERT_TRUE(UserInput::rightClick(window,
                                      seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Letters"))),
                                      QStringLiteral("Open in New Window"))
                    .chose);
    auto letters = mindMapOf(QStringLiteral("Letters"), QStringLiteral("Letters"));
    ASSERT_NE(letters, nullptr) << "Open in New Window opened no mind map";
    EXPECT_NE(&windowOf(*letters), &window);
    EXPECT_EQ(windows().size(), 2u);

    // A document another window shows is not deleted, and the user is told why.
    const int before = alerts().presentedCount();
    alerts().answerTitle(QStringLiteral("Delete"));
    ASSERT_TRUE(activate(window));
    ASSERT_TRUE(UserInput::rightClick(window,
                                      seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Letters"))),
                                      QStringLiteral("Delete"))
                    .chose);
    ASSERT_TRUE(waitFor([&] { return alerts().presentedCount() == before + 2; }));
    EXPECT_EQ(alerts().presented()[std::size_t(before)].informativeText,
              QStringLiteral("Element contains a note. Are you sure?"));
    EXPECT_EQ(alerts().presented().back().informativeText, kOpenElsewhere);
    EXPECT_TRUE(WhereOnScreen::homeDocument(*home, QStringLiteral("Letters")).has_value());

    // Open: this window switches to the mind map.
    ASSERT_TRUE(UserInput::rightClick(window,
                                      seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Shopping"))),
                                      QStringLiteral("Open"))
                    .chose);
    EXPECT_TRUE(waitFor([&] {
        auto shown = std::dynamic_pointer_cast<SolarSystemViewController>(screenOf(window));
        return shown && shown->rootIdea() && shown->rootIdea()->text() == QStringLiteral("Shopping");
    })) << "Open did not show the mind map in this window";
}

TEST_F(ContextMenuJourney, MindMapMenusOnPlanetCentreParentAndEmptySpace)
{
    auto trip = launchWithDocument(text(
        QStringLiteral("Trip"), {text(QStringLiteral("Pack"), {text(QStringLiteral("Socks"))}),
                                 noted(QStringLiteral("Tickets"), QStringLiteral("Gate 4")),
                                 webLink(QStringLiteral("Hotel"), QStringLiteral("http://127.0.0.1:9/hotel")),
                                 text(QStringLiteral("Map"))}));
    ASSERT_NE(trip, nullptr);
    MyWindow& window = windowOf(*trip);
    screenshot(QStringLiteral("mindmap"));

    // A planet of a local document: no "Open in New Window".
    ShownMenu menu = UserInput::rightClick(window, seen(WhereOnScreen::planet(*trip, QStringLiteral("Map"))));
    ASSERT_TRUE(menu.opened) << "no menu opened on a right click on a planet";
    EXPECT_EQ(menu.titles, (QStringList{QStringLiteral("Open"), QStringLiteral("-"), QStringLiteral("Edit"),
                                        QStringLiteral("-"), QStringLiteral("Delete"), QStringLiteral("-")}));
    // A web link adds "Open in Browser", which hands its address to the browser.
    menu = UserInput::rightClick(window, seen(WhereOnScreen::planet(*trip, QStringLiteral("Hotel"))),
                                 QStringLiteral("Open in Browser"));
    EXPECT_EQ(menu.items().last(), QStringLiteral("Open in Browser"));
    EXPECT_TRUE(menu.chose);
    ASSERT_TRUE(waitFor([this] { return !browser().opened.isEmpty(); }));
    EXPECT_EQ(browser().opened.front(), QUrl(QStringLiteral("http://127.0.0.1:9/hotel")));

    // The centre: only Edit, which opens the idea editor.
    menu = UserInput::rightClick(window, seen(WhereOnScreen::centre(*trip)), QStringLiteral("Edit"));
    EXPECT_EQ(menu.titles, (QStringList{QStringLiteral("Edit"), QStringLiteral("-")}));
    EXPECT_TRUE(popoverShows()) << "Edit on the centre showed no editor";
    closePopovers();
    ASSERT_TRUE(waitFor([&] { return !trip->editorOpen() && !trip->screenOccupied(); }));

    // Empty space: no menu.
    EXPECT_FALSE(UserInput::rightClick(window, seen(WhereOnScreen::emptySpace(*trip))).opened);

    // Open drills down; the parent then offers only Open, which drills up again.
    ASSERT_TRUE(UserInput::rightClick(window, seen(WhereOnScreen::planet(*trip, QStringLiteral("Pack"))),
                                      QStringLiteral("Open"))
                    .chose);
    ASSERT_NE(mindMapOf(QStringLiteral("Trip"), QStringLiteral("Pack")), nullptr)
        << "Open did not drill down";
    menu = UserInput::rightClick(window, seen(WhereOnScreen::parent(*trip)), QStringLiteral("Open"));
    EXPECT_EQ(menu.titles, (QStringList{QStringLiteral("Open"), QStringLiteral("-")}));
    ASSERT_NE(mindMapOf(QStringLiteral("Trip"), QStringLiteral("Trip")), nullptr)
        << "Open on the parent did not drill up";

    // Delete asks for a noted idea; Delete removes the planet.
    alerts().answerTitle(QStringLiteral("Delete"));
    ASSERT_TRUE(UserInput::rightClick(window, seen(WhereOnScreen::planet(*trip, QStringLiteral("Tickets"))),
                                      QStringLiteral("Delete"))
                    .chose);
    ASSERT_TRUE(waitFor([this] { return alerts().presentedCount() == 1; }));
    EXPECT_EQ(alerts().presented().back().informativeText,
              QStringLiteral("Element contains a note. Are you sure?"));
    EXPECT_TRUE(waitFor([&] { return !WhereOnScreen::planet(*trip, QStringLiteral("Tickets")); }));
    EXPECT_EQ(trip->realIdea()->ideas().size(), 3u);

    // Edit on a planet opens the editor on it.
    ASSERT_TRUE(UserInput::rightClick(window, seen(WhereOnScreen::planet(*trip, QStringLiteral("Map"))),
                                      QStringLiteral("Edit"))
                    .chose);
    EXPECT_TRUE(popoverShows()) << "Edit on a planet showed no editor";
    closePopovers();
}

TEST_F(ContextMenuJourney, CloudMindMapOpensAnIdeaInANewWindowAndRefusesToDeleteIt)
{
    optForICloud();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(UserFiles::addDocumentToLocation(
        2, text(QStringLiteral("Garden"), {text(QStringLiteral("Beds"), {text(QStringLiteral("Roses"))}),
                                           text(QStringLiteral("Tools"))})));
    auto home = homeShowing({QStringLiteral("Garden")});
    ASSERT_NE(home, nullptr);
    MyWindow& window = windowOf(*home);
    ASSERT_TRUE(UserInput::rightClick(window,
                                      seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Garden"))),
                                      QStringLiteral("Open"))
                    .chose);
    auto garden = mindMapOf(QStringLiteral("Garden"), QStringLiteral("Garden"));
    ASSERT_NE(garden, nullptr) << whatShows();

    // A cloud document's planet offers Open in New Window.
    ShownMenu menu =
        UserInput::rightClick(window, seen(WhereOnScreen::planet(*garden, QStringLiteral("Beds"))),
                              QStringLiteral("Open in New Window"));
    ASSERT_TRUE(menu.opened);
    EXPECT_EQ(menu.titles, (QStringList{QStringLiteral("Open"), QStringLiteral("Open in New Window"),
                                        QStringLiteral("-"), QStringLiteral("Edit"), QStringLiteral("-"),
                                        QStringLiteral("Delete"), QStringLiteral("-")}));
    auto beds = mindMapOf(QStringLiteral("Garden"), QStringLiteral("Beds"));
    ASSERT_NE(beds, nullptr) << "Open in New Window showed no window with the idea: " << whatShows();
    EXPECT_NE(&windowOf(*beds), &window);
    screenshot(QStringLiteral("cloud-two-windows"));

    // The idea the other window shows is not deleted: confirmed, then refused with a reason.
    ASSERT_TRUE(activate(window));
    alerts().answerTitle(QStringLiteral("Delete"));
    ASSERT_TRUE(UserInput::rightClick(window, seen(WhereOnScreen::planet(*garden, QStringLiteral("Beds"))),
                                      QStringLiteral("Delete"))
                    .chose);
    ASSERT_TRUE(waitFor([this] { return alerts().presentedCount() == 2; }));
    EXPECT_EQ(alerts().presented()[0].informativeText,
              QStringLiteral("Element contains 1 sub-elements. Are you sure?"));
    EXPECT_EQ(alerts().presented()[1].informativeText, kOpenElsewhere);
    EXPECT_TRUE(WhereOnScreen::planet(*garden, QStringLiteral("Beds")).has_value());
}

// A sync tool still writing the container's index holds the location's first complete list
// back. A document made meanwhile is on the grid at once; the user's Open, or Open in New
// Window, of it waits, and opens it once the index can be read.
class IndexStillComingJourney : public ContextMenuJourney, public ::testing::WithParamInterface<const char*>
{};

TEST_P(IndexStillComingJourney, AnOpenChosenBeforeTheFirstCompleteListOpensTheDocumentOnceItComes)
{
    optForICloud();
    const QString documents = FolderCloudAccount::standardFolder() + QStringLiteral("/Documents");
    ASSERT_TRUE(QDir().mkpath(documents));
    const QString indexPath = documents + QLatin1Char('/') + IndexDocument::standardFileName();
    QFile half(indexPath);
    ASSERT_TRUE(half.open(QIODevice::WriteOnly) && half.write("bplist00 half written") > 0);
    half.close();
    ASSERT_TRUE(launch());
    ASSERT_TRUE(
        UserFiles::addDocumentToLocation(2, text(QStringLiteral("Garden"), {text(QStringLiteral("Beds"))})));
    auto home = homeShowing({QStringLiteral("Garden")});
    ASSERT_NE(home, nullptr);
    ASSERT_FALSE(PersistenceController::singleton().isLocationReadyForUse(2)) << "the list came too early";
    MyWindow& window = windowOf(*home);
    const QString item = QString::fromLatin1(GetParam());
    ASSERT_TRUE(UserInput::rightClick(
                    window, seen(WhereOnScreen::homeDocument(*home, QStringLiteral("Garden"))), item)
                    .chose);
    EXPECT_EQ(findScreen<SolarSystemViewController>(), nullptr) << "opened before the list came";

    // The sync tool has written the index whole.
    const QUrl indexUrl = QUrl::fromLocalFile(indexPath);
    std::optional<bool> written;
    IndexDocument::initWithFileURL(indexUrl)->saveBinaryToURL(indexUrl,
                                                              [&written](bool ok) { written = ok; });
    ASSERT_TRUE(waitFor([&written] { return written.has_value(); }));
    ASSERT_TRUE(*written);
    auto garden = mindMapOf(QStringLiteral("Garden"), QStringLiteral("Garden"));
    ASSERT_NE(garden, nullptr) << item.toStdString() << " came to nothing: " << whatShows();
    EXPECT_EQ(alerts().presentedCount(), 0);
    if (item == QLatin1String("Open")) {
        EXPECT_EQ(&windowOf(*garden), &window);
    } else {
        EXPECT_NE(&windowOf(*garden), &window);
        EXPECT_NE(homeShowing({QStringLiteral("Garden")}), nullptr) << "the grid lost the document";
    }
}

INSTANTIATE_TEST_SUITE_P(Items, IndexStillComingJourney, ::testing::Values("Open", "Open in New Window"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return info.index == 0 ? std::string("Open") : std::string("OpenInNewWindow");
                         });

TEST_F(ContextMenuJourney, OverviewNodeMenuOpensTheIdeaAndZooms)
{
    auto farm = launchWithDocument(
        text(QStringLiteral("Farm"),
             {text(QStringLiteral("Barn"), {text(QStringLiteral("Hay"))}), text(QStringLiteral("Field"))}));
    ASSERT_NE(farm, nullptr);
    MyWindow& window = windowOf(*farm);
    ASSERT_TRUE(showOverview(*farm)) << "no overview shown";
    screenshot(QStringLiteral("overview"));

    ShownMenu menu = UserInput::rightClick(
        window, seen(WhereOnScreen::overviewNode(*farm, QStringLiteral("Hay"))), QStringLiteral("Open"));
    ASSERT_TRUE(menu.opened) << "no menu opened on a right click on an overview node";
    EXPECT_EQ(menu.items(), (QStringList{QStringLiteral("Open"), QStringLiteral("Zoom In"),
                                         QStringLiteral("Zoom Out"), QStringLiteral("Zoom to Fit")}));
    // Open shows the idea in the mind map.
    EXPECT_TRUE(menu.chose);
    EXPECT_NE(mindMapOf(QStringLiteral("Farm"), QStringLiteral("Hay")), nullptr)
        << "Open on a node showed no mind map of it";
}

} // namespace corvex::test
