// Window-level drag and drop with the real screens: a mind-map window of a location-0
// document and a home window of location 2, fed the calls the Qt adapter makes while the
// scripted drag runs; what lands on disk; files from the file manager through synthetic Qt
// drag events on the home window's host; and ideas dragged out as files.

#include "formats/DocumentFormats.h"
#include "home/HomeViewController.h"
#include "home/IdeaListView.h"
#include "mindmap/DeleteAreaView.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/IdeaView.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarSystem.h"
#include "model/ObjectID.h"
#include "platform/ui/BoundedWait.h"
#include "platform/ui/DragSessionRegistry.h"
#include "platform/ui/QtDragDestinationAdapter.h"
#include "shell/DragOutFilePromise.h"
#include "shell/DragOverlayView.h"
#include "shell/DragSupportWindow.h"
#include "storage/PersistenceController.h"
#include "tests/doubles/ui/ScriptedMenuRunner.h"
#include "tests/home/HomeScreenRig.h"
#include "tests/shell/DragTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "toolkit/Logger.h"
#include "toolkit/ProgressHUD.h"
#include "toolkit/ViewExtensions.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeData>
#include <QProcess>
#include <QWindow>
#include <gtest/gtest.h>

namespace corvex::test {

namespace {

QString dropFile(const char* name)
{
    return QFileInfo(QStringLiteral(__FILE__))
               .absoluteDir()
               .absoluteFilePath(QStringLiteral("../data/drops/")) +
           QString::fromLatin1(name);
}

// A picture stored as a location-0 attachment, and a picture idea showing it.
IdeaPtr storedPictureIdea(MindMapScreenRig& rig, ObjectID& attachment)
{
    QImage image(24, 24, QImage::Format_ARGB32);
    image.fill(qRgb(30, 160, 90));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    attachment = ObjectID::createFromData(png, QStringLiteral("png"));
    bool stored = false;
    PersistenceController::singleton().storeAttachment(attachment, png, 0, [&](bool ok) { stored = ok; });
    rig.settle([&] { return stored; });
    return Idea::initWithImageAttachment(QVImage::initWithPNGData(png), attachment);
}

// A home window of location 2 and a mind-map window of a location-0 document, both the
// application's own windows, with the drag runner scripted.
class DragScene
{
public:
    explicit DragScene(int documents = 4, HomeScreenRig::TreeMaker tree = {}, bool warmSearch = false)
        : rig(documents, std::move(tree), warmSearch)
    {
        registerDocumentFormats();
        home = DragSupportWindow::create(Size(1172, 760));
        home->makeKeyAndOrderFront();
        homeScreen = HomeViewController::initWithLocation(2);
        home->switchToViewController(homeScreen, false, {});
        View::runUpdateCycle();
    }

    ~DragScene()
    {
        if (map)
            map->close();
        home->close();
        Logger::reset();
    }

    // The map window, with `docked` in its dock before its screen appears.
    void showMap(const IdeaPtr& root, const IdeaPtr& docked = nullptr)
    {
        document = rig.base.createDocument(root, token);
        map = DragSupportWindow::create(Size(1000, 800));
        map->setDockedIdea(docked, QString());
        map->makeKeyAndOrderFront();
        mapScreen = SolarSystemViewController::initWithDoc(document, token, QString());
        map->switchToViewController(mapScreen, false, {});
        View::runUpdateCycle();
    }

    IdeaListView& grid() { return *homeScreen->ideaListView(); }
    Point planetInHome(const QString& docIdentifier)
    {
        IdeaView* planet = grid().visibleIdeaViewForDocument(docIdentifier);
        if (!planet || !planet->superview())
            return Point(-1, -1);
        return planet->superview()->convertPointToView(ViewExtensions::center(*planet), nullptr);
    }
    // The notices the window showed (their HUDs appear 0.2 s after the request).
    QStringList notices(DragSupportWindow& window)
    {
        rig.base.time.advance(0.25);
        QStringList texts;
        for (const auto& hud : ProgressHUD::allHUDsForView(*window.containerView()))
            texts.append(hud->labelText());
        return texts;
    }

    HomeScreenRig rig;
    ScopedDragRunner drags;
    std::shared_ptr<DragSupportWindow> home;
    std::shared_ptr<HomeViewController> homeScreen;
    std::shared_ptr<DragSupportWindow> map;
    std::shared_ptr<SolarSystemViewController> mapScreen;
    std::shared_ptr<IdeaDocument> document;
    qint64 token = 0;
};

// Drags planet `index` of the map from the map window into the home window at `at` and drops
// it there; answers what the home window told the platform.
bool dragPlanetIntoHome(DragScene& s, std::int64_t index, Point at, const QString& ideaIdentifier)
{
    bool taken = false;
    s.drags.runner->script = [&](QMimeData&) {
        const Point start = planetInWindow(*s.mapScreen, index);
        s.map->draggingEntered(appDrag(start));
        s.map->draggingExited(appDrag(Point(-5, start.y)));
        s.home->draggingEntered(appDrag(Point(5, 5)));
        s.home->draggingUpdated(appDrag(at));
        taken = s.home->performDragOperation(appDrag(at));
        s.home->draggingEnded(appDrag(at));
        return taken;
    };
    s.mapScreen->startDragForIdea(ideaIdentifier, Rect(0, 0, 10, 10),
                                  Event::mouseDragged(planetInWindow(*s.mapScreen, index)));
    return taken;
}

class DropInsideADocument : public ::testing::TestWithParam<bool>
{};

} // namespace

TEST_P(DropInsideADocument, MovesOrCopiesTheSubtreeWithItsPictureOntoTheDocumentOnDisk)
{
    const bool move = GetParam();
    DragScene s;
    ObjectID attachment;
    const IdeaPtr picture = storedPictureIdea(s.rig.base, attachment);
    const IdeaPtr root = treeFromOutline(QStringLiteral("A(X(a b) c)"));
    const IdeaPtr x = findByText(root, QStringLiteral("X"));
    (void)x->addIdea(picture);
    s.showMap(root);
    const QString d = s.rig.identifiers().at(2);
    LogCapture log;
    ASSERT_TRUE(Logger::addTraceableObject(s.map));

    s.rig.base.menus->chooseTitle(HomeViewController::dropChoiceTitle(
        move ? HomeViewController::DropChoice::MoveInside : HomeViewController::DropChoice::CopyInside));
    EXPECT_TRUE(dragPlanetIntoHome(s, 0, s.planetInHome(d), x->identifier()));
    const QString ended = QStringLiteral("result %1").arg(move ? 1 : 2);
    ASSERT_TRUE(s.rig.settle([&] { return log.count(ended) == 1 && s.mapScreen->savesInFlight() == 0; }))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    s.rig.drain();

    const QStringList offered = s.rig.base.menus->presented().back().titles;
    EXPECT_TRUE(
        offered.contains(HomeViewController::dropChoiceTitle(HomeViewController::DropChoice::MoveInside)));
    const IdeaPtr target = s.rig.state->storedTree(d);
    ASSERT_TRUE(target);
    EXPECT_EQ(outline(target), QStringLiteral("doc 2(X(a b img))"));
    EXPECT_TRUE(
        QFileInfo::exists(s.rig.state->attachmentsFolder() + QLatin1Char('/') + attachment.asString()))
        << "the picture's attachment came along";
    const IdeaPtr source = readStoredTree(storedPath(*s.document));
    ASSERT_TRUE(source);
    EXPECT_EQ(outline(source), move ? QStringLiteral("A(c)") : QStringLiteral("A(X(a b img) c)"));
    EXPECT_EQ(log.count(QStringLiteral("result")), 1) << "the map's screen hears the end once";
    EXPECT_EQ(s.map->dragSourceSessionNumber(), DragSupportWindow::NoSession);
    EXPECT_FALSE(s.home->delayDragEnding());
}

INSTANTIATE_TEST_SUITE_P(MoveAndCopy, DropInsideADocument, ::testing::Bool());

TEST(WindowDragAndDrop, AnIdeaFromTheDockDroppedOnEmptySpaceElsewhereStaysDocked)
{
    DragScene s(1);
    const IdeaPtr docked = treeFromOutline(QStringLiteral("Moon(x)"));
    s.showMap(treeFromOutline(QStringLiteral("A(b c)")), docked);
    // The screen shown by the window has its dock, holding the window's docked idea.
    const std::shared_ptr<DockAreaView> dock = s.mapScreen->dockAreaView();
    ASSERT_TRUE(dock);
    ASSERT_TRUE(dock->ideaView());
    EXPECT_FALSE(dock->isHidden());
    const Point dockPoint = dock->superview()->convertPointToView(ViewExtensions::center(*dock), nullptr);
    LogCapture log;
    Logger::addTraceableObject(s.map);
    Logger::addTraceableObject(s.home);

    // On the top bar, above the grid (whose empty space leads to its nearest marker): no
    // place takes it.
    const Point empty(700, s.grid().convertRectToView(s.grid().bounds(), nullptr).maxY() + 20);
    bool taken = true;
    s.drags.runner->script = [&](QMimeData&) {
        EXPECT_FALSE(dock->ideaView()) << "the dock gave its planet to the drag";
        s.map->draggingEntered(appDrag(dockPoint));
        s.map->draggingExited(appDrag(Point(-5, dockPoint.y)));
        s.home->draggingEntered(appDrag(Point(5, 5)));
        s.home->draggingUpdated(appDrag(empty));
        EXPECT_EQ(s.homeScreen->dragOperationUpdate(*s.home->dragTargetInfo()).object, 0u);
        taken = s.home->performDragOperation(appDrag(empty));
        s.home->draggingEnded(appDrag(empty));
        return taken;
    };
    // Pressed as the user does: the dock hands its planet to the screen, which starts the drag.
    dock->mouseDown(Event::mouseDown(dockPoint));
    s.rig.drain();
    EXPECT_EQ(s.drags.runner->runs, 1);
    EXPECT_FALSE(taken);
    EXPECT_EQ(log.count(QStringLiteral("result 0")), 2) << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(log.count(QStringLiteral("result")), 2);
    EXPECT_EQ(s.map->currentDockedIdea(), docked);
    ASSERT_TRUE(dock->ideaView()) << "the dock shows its idea again";
    EXPECT_EQ(dock->ideaView()->ideaIdentifier(), docked->identifier());
    EXPECT_FALSE(dock->isHidden());
}

// A document the home screen's dock holds, dragged over the grid's empty space: the dragged
// planet shows its title and colour, and the drop lands at the nearest place between documents.
TEST(WindowDragAndDrop, TheHomeDocksDocumentDroppedOnEmptyGridSpaceLandsInTheGridShownAsItLooks)
{
    DragScene s(2);
    const IdeaPtr imported = treeFromOutline(QStringLiteral("Imported(x y)"));
    imported->setColor(homeColor(5));
    s.home->setDockedIdea(imported, QString());
    s.homeScreen->updateStatusDueToPossibleDockingUpdate();
    View::runUpdateCycle();
    const std::shared_ptr<DockAreaView> dock = s.grid().dockAreaView();
    ASSERT_TRUE(dock && dock->ideaView());
    const Point dockPoint = viewCentreInWindow(*dock);
    s.rig.base.menus->chooseTitle(
        HomeViewController::dropChoiceTitle(HomeViewController::DropChoice::CopyHere));
    const Point empty(560, 100);
    QImage shot;
    Rect planet;
    std::uint64_t marker = IdeaListView::NotFound;
    bool taken = false;
    s.drags.runner->script = [&](QMimeData&) {
        s.home->draggingEntered(appDrag(dockPoint));
        s.home->draggingUpdated(appDrag(empty));
        EXPECT_EQ(s.homeScreen->dragOperationUpdate(*s.home->dragTargetInfo()).object,
                  std::uint64_t(HomeViewController::GridTarget));
        marker = s.grid().indexOfIdeaAdderAtFocus();
        if (const auto& copy = s.home->dragTargetIdeaView())
            planet = copy->convertRectToView(copy->bounds(), nullptr);
        View::runUpdateCycle();
        shot = s.home->renderToImage(1.0);
        taken = s.home->performDragOperation(appDrag(empty));
        s.home->draggingEnded(appDrag(empty));
        return taken;
    };
    LogCapture log;
    Logger::addTraceableObject(s.home);
    dock->mouseDown(Event::mouseDown(dockPoint));
    ASSERT_TRUE(s.rig.settle([&] { return s.grid().proxies().size() == 3; }))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    s.rig.drain();
    EXPECT_TRUE(taken);
    QStringList titles;
    for (const auto& proxy : s.grid().proxies())
        titles.append(proxy->text());
    ASSERT_NE(marker, IdeaListView::NotFound);
    QStringList order{"doc 0", "doc 1"};
    order.insert(qsizetype(marker), QStringLiteral("Imported"));
    EXPECT_EQ(titles, order) << "placed at the marker nearest the drop";

    // Drawn as the idea looks: its colour over most of the disc, and its title across it.
    ASSERT_FALSE(shot.isNull());
    ASSERT_GT(planet.width(), 0.0);
    shot.save(testOutputDir() + QStringLiteral("/dragged-docked-planet.png"));
    const QColor wanted = homeColor(5)->uiColor().toQColor();
    int coloured = 0;
    int title = 0;
    // Window points count up from the bottom, the picture's rows down from the top.
    const QRect disc =
        QRect(int(planet.midX()) - 20, shot.height() - int(planet.midY()) - 20, 40, 40) & shot.rect();
    for (int y = disc.top(); y <= disc.bottom(); ++y)
        for (int x = disc.left(); x <= disc.right(); ++x) {
            const QColor seen = shot.pixelColor(x, y);
            const int apart =
                std::max({std::abs(seen.red() - wanted.red()), std::abs(seen.green() - wanted.green()),
                          std::abs(seen.blue() - wanted.blue())});
            coloured += apart <= 12 ? 1 : 0;
            title += std::abs(seen.lightness() - wanted.lightness()) > 80 ? 1 : 0;
        }
    EXPECT_GT(coloured, disc.width() * disc.height() / 3) << "the idea's colour";
    EXPECT_GT(title, 20) << "letters of its title";
    // Nothing of the drag's own picture lies over the window's planet.
    const QImage& cover = s.drags.runner->lastImage;
    int visible = 0;
    for (int y = 0; y < cover.height(); ++y)
        for (int x = 0; x < cover.width(); ++x)
            visible += qAlpha(cover.pixel(x, y)) > 0 ? 1 : 0;
    EXPECT_EQ(visible, 0);
}

TEST(WindowDragAndDrop, PressingTheDockWhileADropIsDecidedStartsNothingAndTheDropStillEnds)
{
    DragScene s(1);
    const IdeaPtr docked = treeFromOutline(QStringLiteral("Moon"));
    s.showMap(treeFromOutline(QStringLiteral("A(b c)")), docked);
    const std::shared_ptr<DockAreaView> dock = s.mapScreen->dockAreaView();
    ASSERT_TRUE(dock && dock->ideaView());

    // The map's screen decides a drop of a cloud document's idea on its dock, as the window
    // asks it to: the idea waits there as a stored copy, which answers later.
    const QString cloud = s.rig.identifiers().at(0);
    const IdeaPtr root = s.rig.state->storedTree(cloud);
    ASSERT_TRUE(root);
    const auto info = ideaDrag(viewCentreInWindow(*dock), DragInfo::Source::OtherWindow, root, cloud);
    DropResults decided;
    ASSERT_TRUE(s.mapScreen->dragOperationStarted(info));
    s.mapScreen->dragOperationEndedAcceptingIdea(info, root, cloud, decided.completion());
    ASSERT_TRUE(decided.codes.empty());

    // The window would refuse a second drag, and its end would end the decision too.
    dock->mouseDown(Event::mouseDown(viewCentreInWindow(*dock)));
    EXPECT_EQ(s.drags.runner->runs, 0) << "no drag starts";
    ASSERT_TRUE(dock->ideaView()) << "the planet is back in the dock at once";
    EXPECT_EQ(dock->ideaView()->ideaIdentifier(), docked->identifier());

    ASSERT_TRUE(s.rig.settle([&] { return !decided.codes.empty(); }));
    EXPECT_EQ(decided.codes, std::vector<DragResult>{DragResult::Copied});
    ASSERT_TRUE(s.map->currentDockedIdea());
    EXPECT_EQ(outline(s.map->currentDockedIdea()), outline(root)) << "the copy is docked";
    ASSERT_TRUE(dock->ideaView());
    EXPECT_EQ(dock->ideaView()->ideaIdentifier(), s.map->currentDockedIdea()->identifier());
}

TEST(WindowDragAndDrop, ADropOnASearchResultLandsInThatDocument)
{
    // 30 documents, three of which match "comet": 4, 17 and 25.
    const auto tree = [](int i) {
        const bool match = i == 4 || i == 17 || i == 25;
        return homeTree(match ? QStringLiteral("comet %1").arg(i) : QStringLiteral("doc %1").arg(i), 0,
                        homeColor(i));
    };
    DragScene s(30, tree, true);
    s.showMap(treeFromOutline(QStringLiteral("A(X c)")));
    auto searching = HomeViewController::initWithLocation(2, QStringLiteral("comet"));
    s.homeScreen = searching;
    s.home->switchToViewController(searching, false, {});
    ASSERT_TRUE(s.rig.settle([&] { return searching->state() == HomeViewController::StateResults; }));
    View::runUpdateCycle();
    ASSERT_EQ(s.grid().proxies().size(), 3u);
    const QString second = s.grid().proxies()[1]->docIdentifier();
    ASSERT_EQ(second, s.rig.identifiers().at(17));

    LogCapture log;
    Logger::addTraceableObject(s.map);
    s.rig.base.menus->chooseTitle(
        HomeViewController::dropChoiceTitle(HomeViewController::DropChoice::CopyInside));
    const IdeaPtr x = findByText(s.document->idea(), QStringLiteral("X"));
    dragPlanetIntoHome(s, 0, s.planetInHome(second), x->identifier());
    ASSERT_TRUE(s.rig.settle([&] { return log.count(QStringLiteral("result 2")) == 1; }))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    s.rig.drain();
    EXPECT_EQ(outline(s.rig.state->storedTree(second)), QStringLiteral("comet 17(X)"));
    EXPECT_EQ(outline(s.rig.state->storedTree(s.rig.identifiers().at(1))), QStringLiteral("doc 1"));
}

TEST(WindowDragAndDrop, TheHomeScreenOffersWhatADropOnTheGridCanMean)
{
    DragScene s(3);
    const QStringList ids = s.rig.identifiers();
    const IdeaPtr root = s.rig.state->storedTree(ids[0]);
    ASSERT_TRUE(root);
    HomeViewController& screen = *s.homeScreen;
    using Choice = HomeViewController::DropChoice;
    const auto title = [](Choice choice) { return HomeViewController::dropChoiceTitle(choice); };

    // Its own document's root dropped back on its planet: nothing asked, answered on a later turn.
    DropResults own;
    auto info = ideaDrag(s.planetInHome(ids[0]), DragInfo::Source::ThisWindow, root, ids[0],
                         HomeViewController::GridItemReturnTarget);
    ASSERT_TRUE(screen.dragOperationStarted(info));
    screen.dragOperationEndedAcceptingIdea(info, root, ids[0], own.completion());
    EXPECT_TRUE(own.codes.empty());
    s.rig.drain();
    EXPECT_EQ(own.codes, std::vector<DragResult>{DragResult::Moved});
    EXPECT_EQ(s.rig.base.menus->presentedCount(), 0);

    // Beside its own place only a copy is offered; cancelling ends with 0.
    bool adder = false;
    DropResults beside;
    s.rig.base.menus->chooseNothing();
    info.location = s.planetInHome(ids[1]);
    screen.dragOperationStarted(info);
    // The small dock after document 0 is the adder at index 1.
    auto* item = s.grid().visibleIdeaViewForDocument(ids[0]);
    ASSERT_TRUE(item);
    info.location = Point(s.planetInHome(ids[0]).x + 109, s.planetInHome(ids[0]).y);
    screen.dragOperationUpdate(info);
    ASSERT_EQ(screen.indexOfDragFocusPoint(adder), 1u);
    ASSERT_TRUE(adder);
    screen.dragOperationEndedAcceptingIdea(info, root, ids[0], beside.completion());
    s.rig.drain();
    EXPECT_EQ(beside.codes, std::vector<DragResult>{DragResult::NotAccepted});
    EXPECT_EQ(s.rig.base.menus->presented().back().titles, QStringList{title(Choice::CopyHere)});
    EXPECT_TRUE(screen.isDocumentNearAdditionPoint(ids[0], 0)) << "the adder before the first document";
    EXPECT_TRUE(screen.isDocumentNearAdditionPoint(ids[0], 1));
    EXPECT_FALSE(screen.isDocumentNearAdditionPoint(ids[0], 2));
    EXPECT_FALSE(screen.isDocumentNearAdditionPoint(ids[0], IdeaListView::NotFound));

    // An idea without a document (a docked file) is offered only the copy.
    DropResults loose;
    s.rig.base.menus->chooseNothing();
    auto fromDock = ideaDrag(s.planetInHome(ids[2]), DragInfo::Source::OtherWindow, root, QString());
    screen.dragOperationStarted(fromDock);
    screen.dragOperationEndedAcceptingIdea(fromDock, root, QString(), loose.completion());
    s.rig.drain();
    EXPECT_EQ(s.rig.base.menus->presented().back().titles, QStringList{title(Choice::CopyInside)});
    EXPECT_TRUE(s.grid().deleteAreaView()->isHidden()) << "a drag from elsewhere never shows the delete area";
}

TEST(WindowDragAndDrop, FilesFromTheFileManagerAreDockedOrRefusedWithAClearAnswer)
{
    DragScene s(2);
    QWidget* host = s.home->hostWidget();
    ASSERT_TRUE(host);
    const QStringList before = s.rig.state->storedDocuments();
    // Delivered to the window as Qt delivers a file manager's drag: an enter and a move at the
    // first position (the move starting with what the enter accepted), another move, then the
    // drop, which a careless source sends even after a refusal. The actions are the answers the
    // source hears.
    const auto sendFiles = [&](const QList<QUrl>& urls,
                               Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
        QWindow* window = host->windowHandle();
        QMimeData data;
        data.setUrls(urls);
        struct Outcome
        {
            bool overlay = false;
            bool accepting = false;
            Qt::DropAction hover = Qt::IgnoreAction;
            Qt::DropAction dropped = Qt::IgnoreAction;
        } outcome;
        const auto hover = [&](QPoint at, Qt::DropAction accepted) {
            QDragMoveEvent move(at, actions, &data, Qt::LeftButton, Qt::NoModifier);
            if (accepted != Qt::IgnoreAction && (actions & accepted)) {
                move.setDropAction(accepted);
                move.accept();
            }
            QCoreApplication::sendEvent(window, &move);
            return move.isAccepted() ? move.dropAction() : Qt::IgnoreAction;
        };
        QDragEnterEvent enter(QPoint(500, 300), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &enter);
        outcome.overlay = static_cast<bool>(s.home->dragTargetOverlay());
        outcome.accepting = outcome.overlay && s.home->dragTargetOverlay()->accepts();
        const Qt::DropAction entered = enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction;
        outcome.hover = hover(QPoint(510, 310), hover(QPoint(500, 300), entered));
        QDropEvent drop(QPointF(510, 310), actions, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &drop);
        outcome.dropped = drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
        s.rig.settle([&] { return !s.home->delayDragEnding(); });
        return outcome;
    };
    const auto file = [](const QString& path) { return QUrl::fromLocalFile(path); };

    const auto plan = sendFiles({file(dropFile("PLAN.OPML"))});
    EXPECT_TRUE(plan.accepting);
    EXPECT_EQ(plan.hover, Qt::CopyAction);
    EXPECT_EQ(plan.dropped, Qt::CopyAction);
    ASSERT_TRUE(s.home->currentDockedIdea());
    EXPECT_EQ(outline(s.home->currentDockedIdea()), QStringLiteral("Plan(Plan(Buy Sell))"))
        << "the title names the root";
    EXPECT_EQ(s.notices(*s.home).last(), QStringLiteral("Copied to clipboard"));
    EXPECT_FALSE(s.grid().dockAreaView()->isHidden()) << "the home screen shows the docked idea";
    const IdeaPtr planDocked = s.home->currentDockedIdea();

    // A line feed in the name is just a name.
    const QString oddName = testDir() + QStringLiteral("/odd\nname.opml");
    ASSERT_TRUE(QFile::copy(dropFile("PLAN.OPML"), oddName));
    EXPECT_EQ(sendFiles({file(oddName)}).dropped, Qt::CopyAction);
    EXPECT_NE(s.home->currentDockedIdea(), planDocked);
    const IdeaPtr docked = s.home->currentDockedIdea();
    s.notices(*s.home);

    // Damaged or hostile files: the error notice, the dock as it was.
    const QString device = testDir() + QStringLiteral("/endless.png");
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), device));
    for (const QString& path :
         {dropFile("truncated.png"), dropFile("truncated.corvex"), dropFile("bomb.opml"), device}) {
        const auto damaged = sendFiles({file(path)});
        EXPECT_TRUE(damaged.accepting) << path.toStdString();
        EXPECT_EQ(s.notices(*s.home).last(), QStringLiteral("Error importing contents"))
            << path.toStdString();
        EXPECT_EQ(s.home->currentDockedIdea(), docked) << path.toStdString();
    }
    EXPECT_EQ(sendFiles({file(dropFile("truncated.png"))}).dropped, Qt::IgnoreAction)
        << "a picture that cannot be read is refused to the source";
    s.notices(*s.home);

    // Refused before anything is read: two files, an unsupported type, only a remote URL.
    // The source hears "ignore" while hovering and for the drop.
    const auto two = sendFiles({file(dropFile("photo.PNG")), file(dropFile("PLAN.OPML"))});
    EXPECT_TRUE(two.overlay && !two.accepting);
    EXPECT_EQ(two.hover, Qt::IgnoreAction);
    EXPECT_EQ(two.dropped, Qt::IgnoreAction);
    const auto text = sendFiles({file(dropFile("notes.txt"))});
    EXPECT_TRUE(text.overlay && !text.accepting);
    EXPECT_EQ(text.hover, Qt::IgnoreAction);
    EXPECT_EQ(text.dropped, Qt::IgnoreAction);
    const auto remote = sendFiles({QUrl(QStringLiteral("http://example.com/photo.png"))});
    EXPECT_FALSE(remote.overlay);
    EXPECT_EQ(remote.dropped, Qt::IgnoreAction);
    // A picture from a program that only offers a link: nothing done, nothing claimed.
    const auto linkOnly = sendFiles({file(dropFile("photo.PNG"))}, Qt::LinkAction);
    EXPECT_TRUE(linkOnly.accepting);
    EXPECT_EQ(linkOnly.hover, Qt::IgnoreAction);
    EXPECT_EQ(linkOnly.dropped, Qt::IgnoreAction);
    EXPECT_EQ(s.home->currentDockedIdea(), docked);

    // A source that allows only a move is refused before anything is read: it never hears a
    // move, which would have it delete the user's file, and the file stays where it was.
    const QString kept = testDir() + QStringLiteral("/kept.png");
    ASSERT_TRUE(QFile::copy(dropFile("photo.PNG"), kept));
    for (const QString& path : {kept, dropFile("truncated.corvex")}) {
        const auto moveOnly = sendFiles({file(path)}, Qt::MoveAction);
        EXPECT_EQ(moveOnly.hover, Qt::IgnoreAction) << path.toStdString();
        EXPECT_EQ(moveOnly.dropped, Qt::IgnoreAction) << path.toStdString();
        EXPECT_EQ(s.home->currentDockedIdea(), docked) << path.toStdString();
    }
    EXPECT_TRUE(QFile::exists(kept));

    // Taken, the import running later: a copy, whether the import then works or not.
    const auto photo = sendFiles({file(dropFile("photo.PNG"))});
    EXPECT_EQ(photo.hover, Qt::CopyAction);
    EXPECT_EQ(photo.dropped, Qt::CopyAction);
    EXPECT_EQ(sendFiles({file(dropFile("truncated.corvex"))}).dropped, Qt::CopyAction);
    s.notices(*s.home);
    EXPECT_EQ(sendFiles({file(dropFile("photo.PNG"))}).dropped, Qt::CopyAction);
    ASSERT_TRUE(s.home->currentDockedIdea());
    EXPECT_EQ(s.home->currentDockedIdea()->ideaType(), IdeaTypeImage);
    EXPECT_EQ(s.rig.state->storedDocuments(), before) << "nothing was written into the cloud location";
    EXPECT_EQ(IdeaDocument::locationFromIdentifier(s.home->currentDockedDocIdentifier()), 0u);
}

TEST(WindowDragAndDrop, AnIdeaDraggedOutBecomesAnArchiveNamedAfterItOrNothingAtAll)
{
    DragScene s(1);
    const IdeaPtr root = treeFromOutline(QStringLiteral("A(b c)"));
    const IdeaPtr titled = Idea::initWithText(QStringLiteral("Planetarie\u0301s"));
    (void)titled->addIdea(Idea::initWithText(QStringLiteral("inner")));
    (void)root->addIdea(titled);
    (void)root->addIdea(Idea::initWithText(QStringLiteral("....")));
    s.showMap(root);
    // The wait moves virtual time on, and lets the storage threads answer in real time.
    BoundedWait::setPump([&] {
        runUntil([] { return false; }, 0.005);
        s.rig.base.time.advance(0.01);
    });
    // The archive is the user's to hand on: readable by others under the usual umask.
    ScopedUmask mask(022);
    LogCapture log;
    Logger::addTraceableObject(s.map);

    // Out of the window and taken by the file manager, which asks for the file.
    const auto dragOut = [&](std::int64_t index, const QString& ideaIdentifier,
                             const std::function<void()>& before) {
        QList<QUrl> urls;
        s.drags.runner->script = [&](QMimeData& data) {
            const Point start = planetInWindow(*s.mapScreen, index);
            s.map->draggingEntered(appDrag(start));
            if (before)
                before();
            s.map->draggingExited(appDrag(Point(-5, start.y)));
            urls = data.urls();
            return !urls.isEmpty();
        };
        s.mapScreen->startDragForIdea(ideaIdentifier, Rect(0, 0, 10, 10),
                                      Event::mouseDragged(planetInWindow(*s.mapScreen, index)));
        s.rig.drain();
        return urls;
    };
    const auto readArchive = [](const QString& path) {
        QProcess reader;
        reader.start(QStringLiteral("/usr/bin/python3"),
                     {QFileInfo(QStringLiteral(__FILE__))
                          .absoluteDir()
                          .absoluteFilePath(QStringLiteral("read_corvex_archive.py")),
                      path});
        reader.waitForFinished(30000);
        return QString::fromUtf8(reader.readAll()).trimmed().split(QLatin1Char('\n'));
    };

    const QList<QUrl> first = dragOut(2, titled->identifier(), {});
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first[0].fileName(), QStringLiteral("Planetari.corvex"));
    EXPECT_EQ(filePermissions(first[0].toLocalFile()), mode_t(0644));
    EXPECT_EQ(readArchive(first[0].toLocalFile()),
              (QStringList{QStringLiteral("Planetarie\u0301s"), "inner"}));
    EXPECT_EQ(log.count(QStringLiteral("result 2")), 1);

    const IdeaPtr dots = findByText(s.document->idea(), QStringLiteral("...."));
    const QList<QUrl> second = dragOut(3, dots->identifier(), {});
    ASSERT_EQ(second.size(), 1);
    EXPECT_EQ(second[0].fileName(), QStringLiteral("document.corvex"));
    EXPECT_EQ(readArchive(second[0].toLocalFile()), QStringList{QStringLiteral("....")});

    // Deleted before the drag leaves the window: no URL, and the drag ends with nothing taken.
    log.clear();
    const IdeaPtr b = findByText(s.document->idea(), QStringLiteral("b"));
    const QList<QUrl> none = dragOut(0, b->identifier(), [&] {
        ASSERT_TRUE(s.mapScreen->deleteIdeaWithIdentifier(b->identifier()));
        s.rig.base.settle(*s.mapScreen);
    });
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(log.count(QStringLiteral("result 0")), 1) << log.lines().join(QLatin1Char('\n')).toStdString();
    BoundedWait::setPump({});
}

TEST(WindowDragAndDrop, RendersTheOverlaysAndThePlanetCopyOverTheHomeGrid)
{
    DragScene s(5);
    s.showMap(treeFromOutline(QStringLiteral("A(Saturn c)")));
    const QString dir = testOutputDir() + QStringLiteral("/drag");
    QDir().mkpath(dir);
    const auto png = QStringList{dropFile("photo.PNG")};
    const auto render = [&](const char* name) {
        View::runUpdateCycle();
        const QImage image = s.home->renderToImage(1.0);
        EXPECT_TRUE(image.save(dir + QLatin1Char('/') + QLatin1String(name))) << name;
        return image;
    };
    for (const bool accept : {true, false}) {
        const qint64 number = DragSessionRegistry::nextSequenceNumber();
        const auto files = accept ? png : QStringList{png.front(), dropFile("PLAN.OPML")};
        s.home->draggingEntered(fileDrag(number, Point(500, 300), files));
        ASSERT_TRUE(s.home->dragTargetOverlay());
        const QImage image = render(accept ? "overlay-accept.png" : "overlay-reject.png");
        // The symbol sits in the middle, where the grid's first row showed planets before.
        const QColor middle = image.pixelColor(image.width() / 2, image.height() / 2 - 2);
        EXPECT_GT(middle.alpha(), 0);
        s.home->draggingExited(fileDrag(number, Point(-5, 300), files));
        EXPECT_FALSE(s.home->dragTargetOverlay());
    }

    // An idea from the map over the grid, near the third document's planet.
    const QString third = s.rig.identifiers().at(2);
    const IdeaPtr saturn = findByText(s.document->idea(), QStringLiteral("Saturn"));
    s.drags.runner->script = [&](QMimeData&) {
        const Point near = s.planetInHome(third) + Point(30, -20);
        s.home->draggingEntered(appDrag(Point(5, 5)));
        s.home->draggingUpdated(appDrag(near));
        EXPECT_TRUE(s.home->dragTargetIdeaView());
        render("planet-copy.png");
        s.home->draggingExited(appDrag(Point(-5, 5)));
        return false;
    };
    s.mapScreen->startDragForIdea(saturn->identifier(), Rect(0, 0, 10, 10),
                                  Event::mouseDragged(planetInWindow(*s.mapScreen, 0)));
    s.rig.drain();
}

TEST(WindowDragAndDrop, QtActionsBecomeTheOperationMasks)
{
    using Adapter = QtDragDestinationAdapter;
    EXPECT_EQ(Adapter::operationMaskFromQt(Qt::CopyAction), DragOperation::Copy | DragOperation::Generic);
    EXPECT_EQ(Adapter::operationMaskFromQt(Qt::MoveAction), DragOperation::Move);
    EXPECT_EQ(Adapter::operationMaskFromQt(Qt::LinkAction), DragOperation::Link);
    EXPECT_EQ(Adapter::operationMaskFromQt(Qt::IgnoreAction), DragOperation::None);
    EXPECT_EQ(Adapter::operationMaskFromQt(Qt::CopyAction | Qt::MoveAction), DragOperation(1 | 4 | 16));
    // Files from another program: copied or refused, never moved.
    for (const auto& [action, heard] : {std::pair{Qt::CopyAction, Qt::CopyAction},
                                        {Qt::MoveAction, Qt::IgnoreAction},
                                        {Qt::LinkAction, Qt::IgnoreAction},
                                        {Qt::IgnoreAction, Qt::IgnoreAction}})
        EXPECT_EQ(Adapter::forFilesFromOutside(action), heard) << action;
}

} // namespace corvex::test
