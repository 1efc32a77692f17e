#include "overview/OverviewRegistration.h"
#include "tests/mindmap/MindMapScreenRig.h"
#include "tests/overview/OverviewTestSupport.h"
#include "tests/overview/ScrollViewTestSupport.h"

#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <cmath>
#include <malloc.h>

namespace corvex {
namespace {

// The registered overview in the mind-map screen: a click on a planet at zoom 1 ends, on
// virtual time, with the screen centred on that idea and the overview gone.
TEST(OverviewScreen, AClickOnAPlanetCentresTheMindMapOnIt)
{
    test::MindMapScreenRig rig;
    registerOverviewGraph();
    const auto window = std::make_shared<test::RigWindow>(Size(1600, 1000));
    window->makeKeyAndOrderFront();
    rig.extraWindows.push_back(window);
    qint64 token = 0;
    const IdeaPtr tree = test::documentTree(test::makeDocumentTree(1000, 8, 7));
    ASSERT_TRUE(tree);
    const auto document = rig.createDocument(tree, token);
    const auto screen = rig.showDocument(document, token, QString(), window.get());
    screen->topBarAction(2, Rect());
    rig.finishAnimations();
    ASSERT_EQ(screen->solarSystemState(), SolarSystemViewController::StateOverview);
    ASSERT_TRUE(screen->graphView());
    const auto overview = std::dynamic_pointer_cast<GraphScrollView>(screen->graphView()->view());
    ASSERT_TRUE(overview);
    EXPECT_FALSE(overview->isHidden());
    EXPECT_EQ(overview->bounds().size.width, 1600); // below the top bar

    const auto settled = [&] {
        const auto& shown = overview->graphView();
        return shown && shown->ready() && test::ScrollViewRig::covered(*shown) &&
               !overview->ideaChangePending();
    };
    ASSERT_TRUE(test::pumpUntil(settled, &rig.time));
    overview->zoomInCenter(1.0f / overview->zoomScale());
    const IdeaPtr picked = tree->ideas()[3]->ideas()[5];
    const Point location = overview->tileFactory()->ideaLocation(picked);
    const Point now = overview->dataCenter();
    overview->addSomePan(
        Point((now.x - location.x) * overview->zoomScale(), (now.y - location.y) * overview->zoomScale()));
    ASSERT_TRUE(test::pumpUntil(settled, &rig.time));
    const Size size = overview->bounds().size;
    const Point where = overview->convertPointToView(Point(size.width / 2, size.height / 2), nullptr);
    window->sendEvent(Event::mouseDown(where));
    window->sendEvent(Event::mouseUp(where));
    rig.finishAnimations();
    rig.finishAnimations();
    EXPECT_EQ(screen->solarSystemState(), SolarSystemViewController::StateMindMap);
    EXPECT_EQ(screen->ownIdea(), picked);
    EXPECT_TRUE(overview->isHidden());
    EXPECT_TRUE(overview->dismissed());
}

// A 100,000-idea document with one branch of the model's maximum depth opens in the
// overview; the deepest idea's planet colour shows where the layout puts it.
TEST(OverviewScreen, HundredThousandIdeasWithAMaximumDepthBranch)
{
    const int count = test::heavyScale(100000, 10000);
    std::vector<test::FactoryIdea> ideas = test::makeDocumentTree(count - (Idea::MaxDepth - 8), 8, 3);
    // A chain from the last idea down to the deepest level the model allows.
    int tail = int(ideas.size()) - 1;
    int depth = 0;
    for (int i = tail; i > 0; i = ideas[std::size_t(i)].parent)
        ++depth;
    while (depth < Idea::MaxDepth - 1) {
        test::FactoryIdea next;
        next.identifier = QStringLiteral("deep%1").arg(depth);
        next.text = QStringLiteral("deep");
        next.colorName = QStringLiteral("red%1").arg(depth % 7);
        next.parent = tail;
        ideas.push_back(next);
        ideas[std::size_t(tail)].children.push_back(int(ideas.size()) - 1);
        tail = int(ideas.size()) - 1;
        ++depth;
    }
    const IdeaPtr root = test::documentTree(ideas);
    ASSERT_TRUE(root);
    const IdeaPtr deepest = root->findIdeaInSubTreeWithIdentifier(ideas.back().identifier);
    ASSERT_TRUE(deepest);
    EXPECT_EQ(deepest->level(), Idea::MaxDepth);

    test::ScrollViewRig rig;
    QElapsedTimer timer;
    timer.start();
    const double heapBefore = double(mallinfo2().uordblks);
    rig.view->setCurrentIdea(root, {});
    // The benchmark measures about 39 MB for 100,000 ideas; this tree may take at most 60.
    EXPECT_LT(double(mallinfo2().uordblks) - heapBefore, 60.0 * 1024 * 1024 * count / 100000);
    EXPECT_LT(timer.elapsed(), 8000);
    rig.view->zoomInCenter(1.0f / rig.view->zoomScale());
    rig.centreOn(rig.view->tileFactory()->ideaLocation(deepest));
    ASSERT_TRUE(rig.settle());
    View::runUpdateCycle();
    const QImage shot = rig.window->renderToImage(1);
    const QColor expected = deepest->color()->uiColor().toQColor();
    const QRgb seen = shot.pixel(800, 460);
    EXPECT_LE(std::abs(qRed(seen) - expected.red()), 12);
    EXPECT_LE(std::abs(qGreen(seen) - expected.green()), 12);
    EXPECT_LE(std::abs(qBlue(seen) - expected.blue()), 12);
}

} // namespace
} // namespace corvex
