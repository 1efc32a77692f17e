// The document grid through the real window: slots and geometry, the rendered planets, the
// reuse pool while scrolling, taps, clicks and the context menu with synthetic events.

#include "home/BigAdderLayer.h"
#include "home/BigAdderView.h"
#include "home/NormalIdeaListItemForIPad.h"
#include "home/SmallDockView.h"
#include "mindmap/DeleteAreaView.h"
#include "mindmap/IdeaView.h"
#include "mindmap/SimpleIdeaView.h"
#include "platform/ui/Cursor.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "shell/ContainerView.h"
#include "shell/TopBarView.h"
#include "tests/home/HomeScreenRig.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/ClipView.h"
#include "toolkit/SearchTextField.h"
#include "toolkit/TextLabel.h"
#include "toolkit/ViewExtensions.h"

#include <QDir>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

namespace corvex::test {
namespace {

// A grid with recording delegate calls, outside any screen.
class GridRecorder : public IdeaListViewDelegate
{
public:
    void onDrillDownTo(const QString& docIdentifier, bool startEditing) override
    {
        opened.append(docIdentifier + (startEditing ? QStringLiteral(" edit") : QString()));
    }
    void pleaseCreateNewIdea() override { ++creations; }
    bool hasShadowModeForDocument(const QString&) override { return false; }
    void startDragForIdea(const QString&, const QString&, const Rect&, const Event*) override {}
    std::shared_ptr<Menu> onRightClickAtDocument(const QString&) override { return nullptr; }

    QStringList opened;
    int creations = 0;
};

IdeaProxyPtr gridProxy(int i)
{
    IdeaProxyPtr proxy = IdeaProxy::init();
    proxy->setDocIdentifier(QStringLiteral("iCloud:/g%1.crvx").arg(i));
    proxy->setText(QStringLiteral("g%1").arg(i));
    return proxy;
}

bool nearWhite(QRgb p)
{
    return qRed(p) > 225 && qGreen(p) > 225 && qBlue(p) > 225;
}

// Whether a pixel within one of (x, y) is near white.
bool whiteAround(const QImage& image, double x, double y)
{
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (nearWhite(image.pixel(int(std::lround(x)) + dx, int(std::lround(y)) + dy)))
                return true;
    return false;
}

} // namespace

TEST(HomeGrid, SlotsRowsAndContentHeightFollowTheWidth)
{
    ScopedVirtualTime time;
    auto grid = IdeaListView::create();
    grid->setFrame(Rect(0, 0, 800, 600));
    grid->updateView();
    // Empty and not read-only: the adder alone.
    EXPECT_EQ(grid->contentHeightForWidth(800), 282);
    ASSERT_EQ(grid->visibleItems().size(), 1u);
    EXPECT_TRUE(dynamic_cast<BigAdderView*>(grid->visibleItems().at(IdeaListView::AdderKey).get()));
    EXPECT_EQ(IdeaListView::itemsPerRowForWidth(800), 3);
    EXPECT_EQ(IdeaListView::itemsPerRowForWidth(200), 1);
    for (int i = 0; i < 3; ++i)
        grid->appendProxy(gridProxy(i), true);
    grid->updateView();
    // The adder and two documents in row 0, the third document in row 1.
    const double width = grid->contentSize().width;
    ASSERT_EQ(IdeaListView::itemsPerRowForWidth(width), 3);
    EXPECT_EQ(grid->centerOfSlot(0), Point(141, 131));
    EXPECT_EQ(grid->centerOfSlot(3), Point(141, 349));
    EXPECT_EQ(ViewExtensions::center(*grid->visibleItems().at(QStringLiteral("iCloud:/g2.crvx"))),
              Point(141, 349));
    EXPECT_EQ(grid->contentHeightForWidth(width), 64 + 2 * 218);

    grid->moveProxyAtIndex(0, 3);
    EXPECT_EQ(grid->proxies()[2]->text(), QStringLiteral("g0"));
    grid->moveProxyAtIndex(2, 0);
    EXPECT_EQ(grid->proxies()[0]->text(), QStringLiteral("g0"));

    // Read-only with no documents: the placeholder, gone with the first result.
    grid->removeAllContent();
    grid->setReadOnlyMode(true);
    ASSERT_TRUE(grid->placeHolderView());
    EXPECT_EQ(grid->placeHolderView()->text(), QStringLiteral("No document matches your search."));
    EXPECT_TRUE(grid->visibleItems().empty());
    grid->appendProxy(gridProxy(7), false);
    EXPECT_FALSE(grid->placeHolderView());
}

// Done when: 25 documents in a 1172 x 760 window, each visible disc in its document's colour
// 50 points below its centre; the 19-idea document's arc reaches 190 degrees, not 120.
TEST(HomeGrid, TwentyFiveDocumentsRenderInTheirColoursWithArcsForTheirIdeas)
{
    HomeScreenRig rig(25, [](int i) {
        return homeTree(QStringLiteral("Document %1").arg(i), i == 4 ? 18 : i % 5, homeColor(i));
    });
    rig.show();
    ASSERT_EQ(rig.identifiers().size(), 25);
    const QImage image = rig.render();
    const QString folder = testOutputDir() + QStringLiteral("/home-grid");
    QDir().mkpath(folder);
    ASSERT_TRUE(image.save(folder + QStringLiteral("/grid-25.png")));
    const double height = image.height();
    int checked = 0;
    for (int i = 0; i < 25; ++i) {
        const QString identifier = rig.identifiers()[i];
        const Point centre = rig.planetCentreInWindow(identifier);
        if (centre.x < 0 || centre.y - 50 < 0 || height - centre.y + 50 >= height - 1)
            continue;
        const QRgb sample = image.pixel(int(centre.x), int(height - (centre.y - 50)));
        const RGBA expected = homeColor(i)->rgba();
        EXPECT_NEAR(qRed(sample), expected.red, 2) << i;
        EXPECT_NEAR(qGreen(sample), expected.green, 2) << i;
        EXPECT_NEAR(qBlue(sample), expected.blue, 2) << i;
        ++checked;
    }
    EXPECT_GE(checked, 8);
    const Point c = rig.planetCentreInWindow(rig.identifiers()[4]);
    ASSERT_GT(c.x, 0);
    const auto at = [&](double degrees) {
        const double a = degrees * M_PI / 180;
        return whiteAround(image, c.x + 89 * std::cos(a), height - (c.y + 89 * std::sin(a)));
    };
    EXPECT_TRUE(at(190));
    EXPECT_FALSE(at(120));
}

// Done when: scrolling 1,000 documents row by row to the end and back makes no new item view
// after the second row step, and the last rendering equals the first pixel for pixel.
TEST(HomeGrid, ScrollingAThousandDocumentsReusesItemsAndComesBackToTheSamePicture)
{
    const int count = heavyScale(1000, 300);
    HomeScreenRig rig(count);
    rig.show();
    ASSERT_EQ(rig.identifiers().size(), qsizetype(count)) << "the rig's documents are not listed";
    IdeaListView& grid = rig.grid();
    const QImage first = rig.render();
    const double bottom = grid.hugeView()->frame().size.height - grid.contentView()->bounds().size.height;
    // Row by row down to the end, then back up through the same rows.
    std::vector<double> offsets;
    for (double y = 218; y < bottom; y += 218)
        offsets.push_back(y);
    offsets.push_back(bottom);
    const std::vector<double> down = offsets;
    for (auto y = down.rbegin() + 1; y != down.rend(); ++y)
        offsets.push_back(*y);
    offsets.push_back(0);
    int createdAfterSecondStep = -1;
    for (std::size_t step = 0; step < offsets.size(); ++step) {
        grid.scrollClipViewToPoint(Point(0, offsets[step]));
        View::runUpdateCycle();
        if (step == 1)
            createdAfterSecondStep = grid.createdItemCount();
        if (offsets[step] == bottom) {
            EXPECT_EQ(grid.visibleItems().count(rig.identifiers().back()), 1u);
        }
    }
    ASSERT_GT(offsets.size(), 4u);
    EXPECT_EQ(grid.createdItemCount(), createdAfterSecondStep);
    const QImage last = rig.render();
    EXPECT_TRUE(first == last);
}

TEST(HomeGrid, ClicksOpenAfterTheTapWaitDoubleClicksEditOnceAndMissesDoNothing)
{
    HomeScreenRig rig;
    auto window = std::make_shared<RigWindow>(Size(800, 600));
    auto grid = IdeaListView::create();
    auto recorder = std::make_shared<GridRecorder>();
    grid->setDelegate(recorder);
    grid->setFrame(Rect(0, 0, 800, 600));
    window->container()->addSubview(grid);
    window->makeKeyAndOrderFront();
    for (int i = 0; i < 4; ++i)
        grid->appendProxy(gridProxy(i), true);
    grid->updateView();
    View::runUpdateCycle();
    const auto centreOf = [&](const QString& identifier) {
        IdeaView* planet = grid->visibleIdeaViewForDocument(identifier);
        return planet->superview()->convertPointToView(ViewExtensions::center(*planet), nullptr);
    };
    const Point g0 = centreOf(QStringLiteral("iCloud:/g0.crvx"));
    window->sendEvent(Event::mouseDown(g0));
    window->sendEvent(Event::mouseUp(g0));
    rig.base.time.advance(0.2);
    rig.base.time.runDue();
    EXPECT_TRUE(recorder->opened.isEmpty());
    rig.base.time.advance(0.2);
    rig.base.time.runDue();
    EXPECT_EQ(recorder->opened, QStringList{QStringLiteral("iCloud:/g0.crvx")});

    recorder->opened.clear();
    const Point g1 = centreOf(QStringLiteral("iCloud:/g1.crvx"));
    window->sendEvent(Event::mouseDown(g1));
    window->sendEvent(Event::mouseUp(g1));
    window->sendEvent(Event::mouseDown(g1, 2));
    window->sendEvent(Event::mouseUp(g1, 2));
    rig.base.time.advance(1.0);
    rig.base.time.runDue();
    EXPECT_EQ(recorder->opened, QStringList{QStringLiteral("iCloud:/g1.crvx edit")});

    // The square's corner lies outside the planet's circle.
    recorder->opened.clear();
    const Point corner(g1.x + 100, g1.y + 100);
    window->sendEvent(Event::mouseDown(corner));
    window->sendEvent(Event::mouseUp(corner));
    rig.base.time.advance(1.0);
    rig.base.time.runDue();
    EXPECT_TRUE(recorder->opened.isEmpty());

    // Disabled, a click does nothing; the adder creates only when released over it.
    grid->setUserInteractionEnabled(false);
    window->sendEvent(Event::mouseDown(g0));
    window->sendEvent(Event::mouseUp(g0));
    rig.base.time.advance(1.0);
    rig.base.time.runDue();
    EXPECT_TRUE(recorder->opened.isEmpty());
    grid->setUserInteractionEnabled(true);
    const auto& adder = grid->visibleItems().at(IdeaListView::AdderKey);
    const Point adderCentre = adder->superview()->convertPointToView(ViewExtensions::center(*adder), nullptr);
    window->sendEvent(Event::mouseDown(adderCentre));
    window->sendEvent(Event::mouseUp(Point(adderCentre.x + 150, adderCentre.y)));
    EXPECT_EQ(recorder->creations, 0);
    window->sendEvent(Event::mouseDown(adderCentre));
    window->sendEvent(Event::mouseUp(adderCentre));
    EXPECT_EQ(recorder->creations, 1);
    window->close();
}

TEST(HomeGrid, RightClickOnAPlanetGivesTheDocumentMenuAndElsewhereNone)
{
    HomeScreenRig rig(3);
    rig.show();
    const Point planet = rig.planetCentreInWindow(rig.identifiers()[1]);
    const auto menu = rig.grid().menuForEvent(Event::rightMouseDown(planet));
    ASSERT_TRUE(menu);
    QStringList titles;
    for (const auto& item : menu->items())
        titles.append(item->isSeparator() ? QStringLiteral("-") : item->title());
    EXPECT_EQ(titles, (QStringList{"Open", "Open in New Window", "-", "Edit", "-", "Delete", "-"}));
    EXPECT_FALSE(rig.grid().menuForEvent(Event::rightMouseDown(Point(planet.x + 100, planet.y - 100))));
}

} // namespace corvex::test

namespace corvex::test {

TEST(HomeGrid, DragsFocusPlanetsAndMarkersNeverHiddenAreasAndScrollNearTheEdges)
{
    HomeScreenRig rig(40);
    rig.show();
    IdeaListView& grid = rig.grid();
    EXPECT_EQ(grid.trackFocusAt(Point(100, 100), &grid), std::numeric_limits<float>::max());
    EXPECT_FALSE(grid.dockingMode());

    const auto planetInGrid = [&](int index) {
        IdeaView* planet = grid.visibleIdeaViewForDocument(rig.identifiers()[index]);
        return grid.convertPointFromView(ViewExtensions::center(*planet), planet->superview());
    };
    grid.startTrackingFocusAt(planetInGrid(1), &grid);
    grid.startTrackingFocusAt(planetInGrid(1), &grid);
    ASSERT_TRUE(grid.dockingMode());
    EXPECT_EQ(grid.indexOfIdeaAtFocus(), 1u);
    EXPECT_EQ(grid.viewAtFocus(), grid.visibleIdeaViewForDocument(rig.identifiers()[1]));
    // The end marker's slot lies below the rows in view.
    EXPECT_EQ(grid.visibleItems().count(IdeaListView::EndMarkerKey), 0u);

    // Half a column to the left of a planet lies its insertion marker.
    const Point marker(planetInGrid(1).x - 109, planetInGrid(1).y);
    grid.trackFocusAt(marker, &grid);
    EXPECT_EQ(grid.indexOfIdeaAdderAtFocus(), 1u);
    EXPECT_EQ(grid.indexOfIdeaAtFocus(), IdeaListView::NotFound);

    // A movement that changes neither the adder nor any marker draws none of them again.
    auto adder = std::dynamic_pointer_cast<BigAdderView>(grid.visibleItems().at(IdeaListView::AdderKey));
    ASSERT_TRUE(adder);
    adder->adderLayer()->displayIfNeeded();
    View::runUpdateCycle();
    grid.trackFocusAt(Point(marker.x + 2, marker.y + 1), &grid);
    EXPECT_EQ(grid.indexOfIdeaAdderAtFocus(), 1u);
    EXPECT_FALSE(adder->adderLayer()->needsDisplay());
    for (const auto& [key, item] : grid.visibleItems()) {
        if (const auto* document = dynamic_cast<NormalIdeaListItemForIPad*>(item.get())) {
            EXPECT_FALSE(document->smallDock()->needsDisplay()) << key.toStdString();
        }
    }

    // The hidden delete area takes no focus (the nearest marker takes it, as anywhere on the
    // grid's empty space); shown, it does.
    const auto& area = grid.deleteAreaView();
    const Point onArea = grid.convertPointFromView(ViewExtensions::center(*area), area->superview());
    area->setHidden(true);
    grid.trackFocusAt(onArea, &grid);
    EXPECT_NE(grid.viewAtFocus(), static_cast<View*>(area.get()));
    EXPECT_NE(grid.indexOfIdeaAdderAtFocus(), IdeaListView::NotFound);
    EXPECT_EQ(grid.indexOfIdeaAtFocus(), IdeaListView::NotFound);
    area->setHidden(false);
    grid.trackFocusAt(onArea, &grid);
    EXPECT_EQ(grid.viewAtFocus(), static_cast<View*>(area.get()));

    grid.stopTrackingFocus();
    EXPECT_FALSE(grid.dockingMode());
    EXPECT_EQ(grid.visibleItems().count(IdeaListView::EndMarkerKey), 0u);

    // Auto-scroll: 45 points up every 0.05 s with the pointer at the top, none in the strip
    // at the right, and none once stopped.
    grid.scrollClipViewToPoint(Point(0, 300));
    grid.trackMouseAt(Point(100, 0), &grid);
    EXPECT_EQ(grid.autoScrollPixelSpeed(), -45);
    rig.base.time.advance(0.01);
    EXPECT_EQ(grid.contentView()->bounds().origin.y, 255);
    rig.base.time.advance(0.03);
    EXPECT_EQ(grid.contentView()->bounds().origin.y, 255);
    rig.base.time.advance(0.03);
    EXPECT_EQ(grid.contentView()->bounds().origin.y, 210);
    grid.trackMouseAt(Point(grid.contentSize().width - 50, 0), &grid);
    EXPECT_EQ(grid.autoScrollPixelSpeed(), 0);
    const double height = grid.frame().size.height;
    grid.trackMouseAt(Point(100, height - 1), &grid);
    EXPECT_EQ(grid.autoScrollPixelSpeed(), 43);
    grid.trackMouseAt(Point(100, height - 29.5), &grid);
    EXPECT_EQ(grid.autoScrollPixelSpeed(), 0);
    grid.trackMouseAt(Point(100, 0), &grid);
    grid.stopTrackingMouse();
    rig.base.time.advance(0.2);
    EXPECT_EQ(grid.contentView()->bounds().origin.y, 210);
}

TEST(HomeGrid, TheAddersPressedPictureClearsATenthOfASecondAfterTheLastRelease)
{
    HomeScreenRig rig;
    auto screen = rig.show();
    auto adder =
        std::dynamic_pointer_cast<BigAdderView>(rig.grid().visibleItems().at(IdeaListView::AdderKey));
    ASSERT_TRUE(adder);
    // Interaction off keeps the press from creating anything here.
    screen->occupyScreen(QStringLiteral("test"));
    adder->setUserInteractionEnabled(true);
    const Point at = adder->superview()->convertPointToView(ViewExtensions::center(*adder), nullptr);
    rig.window->sendEvent(Event::mouseDown(at));
    EXPECT_TRUE(adder->adderLayer()->pressed());
    rig.window->sendEvent(Event::mouseUp(at));
    rig.base.time.advance(0.06);
    rig.window->sendEvent(Event::mouseDown(at));
    rig.window->sendEvent(Event::mouseUp(at));
    rig.base.time.advance(0.06);
    EXPECT_TRUE(adder->adderLayer()->pressed());
    rig.base.time.advance(0.05);
    EXPECT_FALSE(adder->adderLayer()->pressed());
    // Both clicks asked for a document; the occupied screen made none.
    EXPECT_EQ(rig.state->callCount(TestFolderPersistenceState::Operation::Create), 0);
}

} // namespace corvex::test

namespace corvex::test {

TEST(HomeGrid, ThePointerIsAHandOverItemsAndADraggedDocumentShowsOrbitDotsFromTwoIdeas)
{
    HomeScreenRig rig(3, [](int i) { return homeTree(QStringLiteral("doc %1").arg(i), i, homeColor(i)); });
    rig.show();
    const Point planet = rig.planetCentreInWindow(rig.identifiers()[0]);
    rig.window->sendEvent(Event::mouseMoved(planet));
    EXPECT_EQ(Cursor::currentCursor(), Cursor::pointingHandCursor());
    rig.window->sendEvent(Event::mouseMoved(Point(planet.x, planet.y - 150)));
    EXPECT_EQ(Cursor::currentCursor(), Cursor::arrowCursor());

    const auto copyOf = [&](int index) {
        auto copy = rig.grid().visibleIdeaViewForDocument(rig.identifiers()[index])->copyForDragging();
        return std::dynamic_pointer_cast<SimpleIdeaView>(copy);
    };
    ASSERT_TRUE(copyOf(0) && copyOf(1));
    EXPECT_FALSE(copyOf(0)->showOrbit());
    EXPECT_TRUE(copyOf(1)->showOrbit());
    EXPECT_EQ(copyOf(1)->docIdentifier(), rig.identifiers()[1]);
    EXPECT_TRUE(copyOf(1)->ideaIdentifier().isEmpty());
}

// A word typed into the search field and corrected: planets that stay in view keep their
// pictures (only moved, with the compositor's copies of them), and every keystroke's frame,
// drawn at scale 2 from what was kept, is the picture of the same grid drawn afresh.
TEST(HomeGrid, SearchKeystrokesKeepThePicturesOfPlanetsThatStayAndMatchAFreshDrawing)
{
    HomeScreenRig rig(30, {}, true);
    rig.show();
    const auto pictureOf = [&](const QString& key) {
        IdeaView* planet = rig.grid().visibleIdeaViewForDocument(key);
        return planet ? planet->layer()->contents().cacheKey() : qint64(0);
    };
    std::map<QString, qint64> before;
    int kept = 0;
    for (const QString& text : {QStringLiteral("doc"), QStringLiteral("doc 1"), QStringLiteral("doc 12"),
                                QStringLiteral("doc 1"), QStringLiteral("doc 1x"), QStringLiteral("doc 1"),
                                QStringLiteral("doc 2"), QStringLiteral("doc")}) {
        rig.screen->topBar()->searchField()->setText(text);
        rig.screen->topBar()->searchTextDidChange();
        rig.base.time.runDue();
        ASSERT_TRUE(rig.settle([&] { return rig.screen->state() == HomeViewController::StateResults; }));
        const QImage shown = rig.window->renderToImage(2.0);
        for (const auto& [key, picture] : before) {
            if (rig.grid().visibleIdeaViewForDocument(key)) {
                EXPECT_EQ(pictureOf(key), picture) << "redrawn after \"" << text.toStdString() << "\"";
                ++kept;
            }
        }
        before.clear();
        for (const auto& [key, item] : rig.grid().visibleItems()) {
            if (IdeaView* planet = rig.grid().visibleIdeaViewForDocument(key))
                planet->setNeedsDisplay();
        }
        const QImage fresh = rig.window->renderToImage(2.0);
        EXPECT_TRUE(shown == fresh) << "after \"" << text.toStdString() << "\"";
        // Frames that follow make the compositor's copies, which the next keystroke moves.
        for (int frame = 0; frame < 4; ++frame)
            (void)rig.window->renderToImage(2.0);
        for (const auto& [key, item] : rig.grid().visibleItems())
            before[key] = pictureOf(key);
    }
    EXPECT_GT(kept, 10);
}

// A grid at rest makes ahead the planets a search may take, their pictures' memory with them,
// and not while it keeps changing. The first search's results take those planets: no item is
// made, and the browsing pictures stay for the documents' return.
TEST(HomeGrid, AGridAtRestMakesSparePlanetsAheadAndTheFirstSearchTakesThem)
{
    HomeScreenRig rig(60, {}, true);
    rig.show();
    IdeaListView& grid = rig.grid();
    const int shown = grid.createdItemCount();
    ASSERT_GT(grid.missingSpareItems(), 0);
    for (int step = 0; step < 6; ++step) {
        grid.scrollClipViewToPoint(Point(0, step % 2 == 0 ? 20 : 0));
        View::runUpdateCycle();
        rig.base.time.advance(IdeaListView::SpareItemsRest / 2);
        rig.base.time.runDue();
    }
    EXPECT_EQ(grid.createdItemCount(), shown) << "made while the grid scrolled";
    ASSERT_TRUE(rig.settle([&] { return grid.missingSpareItems() == 0; }));
    const int withSpares = grid.createdItemCount();
    EXPECT_GT(withSpares, shown);

    const auto pictures = [&] {
        std::map<QString, qint64> keys;
        for (const auto& [key, item] : grid.visibleItems())
            if (IdeaView* planet = grid.visibleIdeaViewForDocument(key))
                keys[key] = planet->layer()->contents().cacheKey();
        return keys;
    };
    (void)rig.window->renderToImage(1.0);
    const std::map<QString, qint64> browsing = pictures();
    // "doc 5" finds doc 5 and doc 50 to doc 59, which are out of view: pasted, one search.
    rig.screen->topBar()->searchField()->setText(QStringLiteral("doc 5"));
    rig.screen->topBar()->searchTextDidChange();
    rig.base.time.runDue();
    ASSERT_TRUE(rig.settle([&] {
        return rig.screen->state() == HomeViewController::StateResults && grid.proxies().size() == 11;
    }));
    EXPECT_EQ(grid.createdItemCount(), withSpares) << "a planet made for the results";
    EXPECT_EQ(grid.visibleIdeaViewForDocument(rig.identifiers()[0]), nullptr);
    (void)rig.window->renderToImage(1.0);

    rig.screen->topBar()->searchField()->setText(QString());
    rig.screen->topBar()->searchTextDidChange();
    rig.base.time.runDue();
    ASSERT_TRUE(rig.settle([&] { return !rig.screen->isSearching() && grid.proxies().size() == 60; }));
    View::runUpdateCycle();
    EXPECT_EQ(pictures(), browsing) << "a browsing planet was redrawn";
}

} // namespace corvex::test
