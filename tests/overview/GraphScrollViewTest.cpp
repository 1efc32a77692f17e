#include "mindmap/PlanetDrawer.h"
#include "model/Globals.h"
#include "overview/GraphTileLayer.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Cursor.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/Runners.h"
#include "tests/doubles/ui/ScriptedMenuRunner.h"
#include "tests/overview/OverviewTestSupport.h"
#include "tests/overview/ScrollViewTestSupport.h"
#include "tests/support/RunUntil.h"
#include "toolkit/Animator.h"

#include <cmath>
#include <functional>

namespace corvex {
namespace {

using test::attach;
using test::ScrollViewRig;
using test::textIdea;

IdeaPtr colouredTree(const QString& outlineName, int children, int grandchildren)
{
    const IdeaPtr root = textIdea(outlineName);
    for (int i = 0; i < children; ++i) {
        const IdeaPtr child = textIdea(QStringLiteral("c%1").arg(i));
        attach(root, child);
        for (int j = 0; j < grandchildren; ++j)
            attach(child, textIdea(QStringLiteral("c%1_%2").arg(i).arg(j)));
    }
    root->traverseNaturally(
        [](const IdeaPtr& idea, qint64 depth) {
            idea->setColor(
                ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("blue%1").arg(depth % 7)));
        },
        0);
    return root;
}

TEST(GraphScrollView, ZoomLimitsFollowTheFitAndTheMaximum)
{
    // A lone root fits a large window at 2.0: shown so first, brought down to 1.75 by the next
    // frame change; zooming in goes back to the fit.
    {
        ScrollViewRig rig(Size(2000, 1800));
        rig.show(textIdea(QStringLiteral("alone")));
        const float fit = float(std::min(2000.0 / 896, 1800.0 / 896));
        EXPECT_FLOAT_EQ(rig.view->zoomScale(), fit);
        rig.view->setFrame(rig.view->frame());
        EXPECT_FLOAT_EQ(rig.view->zoomScale(), 1.75f);
        rig.view->qvZoomIn();
        EXPECT_FLOAT_EQ(rig.view->zoomScale(), fit);
    }
    ScrollViewRig rig;
    rig.show(colouredTree(QStringLiteral("root"), 4, 3));
    const float fit = rig.view->zoomScale();
    const Size content = rig.view->tileFactory()->contentSize();
    EXPECT_FLOAT_EQ(fit, float(std::min(1600 / content.width, 1000 / content.height)));
    EXPECT_EQ(rig.view->dataCenter(), Point(content.width / 2, content.height / 2));
    MenuItem& item = *MenuItem::create(QStringLiteral("probe"));
    EXPECT_FALSE(rig.view->validateAction(QStringLiteral("qvActualSize:"), item));
    EXPECT_FALSE(rig.view->validateAction(QStringLiteral("qvZoomOut:"), item));
    for (int i = 0; i < 10; ++i)
        rig.view->qvZoomIn();
    EXPECT_FLOAT_EQ(rig.view->zoomScale(), 1.75f);
    EXPECT_FALSE(rig.view->validateAction(QStringLiteral("qvZoomIn:"), item));
    EXPECT_TRUE(rig.view->validateAction(QStringLiteral("qvActualSize:"), item));

    // Panning stops at the content's edges.
    rig.view->addSomePan(Point(1e7, 1e7));
    EXPECT_EQ(rig.view->dataCenter(), Point(0, 0));
    rig.view->addSomePan(Point(-1e7, -1e7));
    EXPECT_EQ(rig.view->dataCenter(), Point(content.width, content.height));
    rig.view->qvActualSize();
    EXPECT_FLOAT_EQ(rig.view->zoomScale(), fit);
    EXPECT_EQ(rig.view->dataCenter(), Point(content.width / 2, content.height / 2));
}

TEST(GraphScrollView, GlideOnVirtualTime)
{
    ScrollViewRig rig;
    rig.show(colouredTree(QStringLiteral("root"), 12, 6));
    const float z = rig.view->zoomScale();
    const Point start = rig.view->dataCenter();

    // Too slow: no glide.
    rig.view->handlePanDone(Point(0, 0.001));
    EXPECT_FALSE(rig.view->animator());

    // Very fast: capped, it stops after a third of a second having covered 300 / zoom units.
    rig.view->handlePanDone(Point(0, 1e6));
    ASSERT_TRUE(rig.view->animator());
    rig.advance(0.1, 6);
    const double midway = start.y - rig.view->dataCenter().y;
    EXPECT_GT(midway, 0);
    EXPECT_LT(midway, 300.0 / z);
    rig.advance(0.5);
    EXPECT_NEAR(start.y - rig.view->dataCenter().y, 300.0 / double(z), 1.0);
    EXPECT_EQ(rig.view->dataCenter().x, start.x);
    EXPECT_TRUE(rig.settle());
}

TEST(GraphScrollView, WheelPinchAndKeysThroughTheWindow)
{
    ScrollViewRig rig;
    rig.show(colouredTree(QStringLiteral("root"), 30, 10));
    rig.window->makeFirstResponder(rig.view.get());
    const Point at = rig.windowPoint(Point(800, 500));
    const auto zoomAfter = [&](const Event& event) {
        const float before = rig.view->zoomScale();
        rig.window->sendEvent(event);
        return rig.view->zoomScale() / before;
    };
    // One notch (one line, 10 points) with Ctrl, and with Super: a 10 % step.
    EXPECT_NEAR(zoomAfter(Event::scrollWheel(at, 0, 1, 0, 10, false, Event::CommandKeyMask)), 1.1f, 1e-5);
    EXPECT_NEAR(zoomAfter(Event::scrollWheel(at, 0, 1, 0, 10, false, Event::ControlKeyMask)), 1.1f, 1e-5);
    EXPECT_NEAR(zoomAfter(Event::scrollWheel(at, 0, -1, 0, -10, false, Event::CommandKeyMask)), 0.9f, 1e-5);
    // Large deltas are clamped to a factor between 0.5 and 2.
    EXPECT_NEAR(zoomAfter(Event::scrollWheel(at, 0, 30, 0, 300, false, Event::CommandKeyMask)), 2.0f, 1e-5);
    EXPECT_NEAR(zoomAfter(Event::scrollWheel(at, 0, -8, 0, -80, false, Event::CommandKeyMask)), 0.5f, 1e-5);
    EXPECT_NEAR(zoomAfter(Event::magnify(at, 0.5)), 1.5f, 1e-5);
    EXPECT_NEAR(zoomAfter(Event::keyDown(QStringLiteral("="), QStringLiteral("="), Event::KeyCodeUnknown,
                                         Event::CommandKeyMask)),
                1.5f, 1e-5);
    EXPECT_NEAR(zoomAfter(Event::keyDown(QStringLiteral("-"), QStringLiteral("-"), Event::KeyCodeUnknown,
                                         Event::CommandKeyMask)),
                0.75f, 1e-5);

    // Without a modifier the wheel pans by its scrolling deltas.
    const Point before = rig.view->dataCenter();
    const double z = double(rig.view->zoomScale());
    rig.window->sendEvent(Event::scrollWheel(at, 1, 2, 10, 20, false));
    EXPECT_NEAR(rig.view->dataCenter().x, before.x - 10 / z, 1e-9);
    EXPECT_NEAR(rig.view->dataCenter().y, before.y - 20 / z, 1e-9);
}

// The shown view is rendered at one scale and stretched to the zoom; a better one replaces
// it once ready. Each tile layer shows one coordinate.
TEST(GraphScrollView, TiledViewsSwitchWhenReady)
{
    ScrollViewRig rig;
    rig.show(colouredTree(QStringLiteral("root"), 30, 10));
    const double fit = double(rig.view->zoomScale());
    ASSERT_TRUE(rig.view->graphView());
    EXPECT_DOUBLE_EQ(rig.view->graphView()->zoomScale(), fit);
    EXPECT_EQ(rig.view->graphView()->superview(), rig.view.get());

    // 1.4 x: the next view (1.5 x) is prepared but not switched in below its own scale.
    rig.view->zoomInCenter(1.4f);
    ASSERT_TRUE(rig.settle());
    EXPECT_DOUBLE_EQ(rig.view->graphView()->zoomScale(), fit);
    ASSERT_TRUE(rig.view->nextGraphView());
    EXPECT_DOUBLE_EQ(rig.view->nextGraphView()->zoomScale(), double(float(fit) * 1.5f));
    EXPECT_NEAR(rig.view->graphView()->layer()->transform().m11, 1.4, 1e-5);
    const auto old = rig.view->graphView();
    rig.view->qvActualSize();
    rig.view->qvZoomIn();
    ASSERT_TRUE(rig.settle());
    ASSERT_NE(rig.view->graphView(), old);
    EXPECT_FALSE(old->active());
    EXPECT_EQ(old->superview(), nullptr);
    const double k = rig.view->graphView()->zoomScale();
    EXPECT_NEAR(k, fit * 1.5, 1e-6);
    int tiled = 0;
    for (const auto& sub : rig.view->subviews())
        tiled += dynamic_cast<ScaledGraphView*>(sub.get()) ? 1 : 0;
    EXPECT_EQ(tiled, 1);

    // An appearance change renders the whole tree again from the fit scale up.
    NotificationCenter::defaultCenter().post(Globals::AppearanceSettingsChangedNotification);
    EXPECT_TRUE(rig.view->ideaChangePending());
    ASSERT_TRUE(rig.settle());
    EXPECT_FALSE(rig.view->ideaChangePending());
}

// Typing a search: each text is walked off the main thread; what is shown stays until the walk
// of the last text asked for is done, and a text overtaken by the next never shows.
TEST(GraphScrollView, ASearchShowsOnceWalkedAndOnlyTheLastTextAskedFor)
{
    ScrollViewRig rig;
    const IdeaPtr root = colouredTree(QStringLiteral("root"), 30, 10);
    rig.show(root);
    const auto plain = rig.view->tileFactory();
    rig.view->setCurrentIdea(root, QStringLiteral("C1_"));
    EXPECT_TRUE(rig.view->searching());
    EXPECT_EQ(rig.view->tileFactory(), plain) << "the keystroke's turn made no factory of its walk";
    rig.view->setCurrentIdea(root, QStringLiteral("c2_"));
    ASSERT_TRUE(rig.settle());
    const auto searched = rig.view->tileFactory();
    ASSERT_NE(searched, plain);
    EXPECT_TRUE(searched->sharesLayoutWith(*plain)) << "a search of an unchanged tree is not laid out again";
    const FlatGraph& graph = searched->graph();
    int shown = 0;
    for (std::size_t i = 0; i < graph.size(); ++i) {
        EXPECT_EQ(searched->isFaded(i), !graph.text(i).startsWith(QStringLiteral("c2_")))
            << graph.text(i).toStdString();
        shown += searched->isFaded(i) ? 0 : 1;
    }
    EXPECT_EQ(shown, 10);
    for (int turn = 0; turn < 20; ++turn)
        test::processEvents();
    EXPECT_EQ(rig.view->tileFactory(), searched) << "the overtaken search showed late";

    // An emptied search shows every idea at once.
    rig.view->setCurrentIdea(root, QString());
    EXPECT_FALSE(rig.view->searching());
    EXPECT_FALSE(rig.view->tileFactory()->isFaded(1));
}

// A click on a planet picks it after the focus animation; a link jumps; an idea no longer in
// the tree picks nothing; a focus animation stops a running glide.
TEST(GraphScrollView, ClicksPickLinksJumpAndStalePicksDoNothing)
{
    ScrollViewRig rig;
    const IdeaPtr root = colouredTree(QStringLiteral("root"), 6, 3);
    const IdeaPtr target = root->ideas()[2];
    const IdeaPtr link = Idea::initWithLinkToIdea(target->identifier());
    attach(root->ideas()[0], link);
    const IdeaPtr doomed = root->ideas()[4]->ideas()[1];
    rig.show(root);
    const GraphTileFactory& factory = *rig.view->tileFactory();

    // A link with a linked idea: the overview jumps there and stays.
    rig.window->sendEvent(Event::mouseDown(rig.windowPointOfContent(factory.ideaLocation(link))));
    rig.window->sendEvent(Event::mouseUp(rig.windowPointOfContent(factory.ideaLocation(link))));
    EXPECT_EQ(rig.view->dataCenter(), factory.ideaLocation(target));
    rig.advance(0.3);
    EXPECT_TRUE(rig.delegate->selected.empty());

    // An idea removed since the overview was built: nothing is picked.
    root->ideas()[4]->removeIdea(doomed, true);
    rig.view->openOrFocusIdea(doomed);
    rig.advance(0.3);
    EXPECT_TRUE(rig.delegate->selected.empty());
    EXPECT_FALSE(rig.view->dismissed());

    // A glide still running when a click focuses an idea is stopped: the focus ends exactly
    // on the idea.
    rig.view->handlePanDone(Point(300, 300));
    const auto glide = rig.view->animator();
    ASSERT_TRUE(glide);
    rig.advance(1.0 / 60, 1);
    IdeaPtr picked;
    Point where;
    root->traverseNaturally(
        [&](const IdeaPtr& idea, qint64 depth) {
            const Point p = rig.windowPointOfContent(factory.ideaLocation(idea));
            if (!picked && depth == 2 && p.x > 60 && p.x < 1540 && p.y > 60 && p.y < 940) {
                picked = idea;
                where = p;
            }
        },
        0);
    ASSERT_TRUE(picked);
    ASSERT_EQ(factory.ideaAtPoint(rig.view->contentPoint(rig.view->convertPointFromView(where, nullptr))),
              picked);
    rig.window->sendEvent(Event::mouseDown(where));
    rig.window->sendEvent(Event::mouseUp(where));
    EXPECT_NE(rig.view->animator(), glide);
    rig.advance(0.5);
    EXPECT_EQ(rig.view->dataCenter(), factory.ideaLocation(picked));
    ASSERT_EQ(rig.delegate->selected.size(), 1u);
    EXPECT_EQ(rig.delegate->selected.front(), picked);
    EXPECT_TRUE(rig.view->dismissed());
}

TEST(GraphScrollView, ContextMenuThroughTheRunner)
{
    ScrollViewRig rig;
    const auto menus = std::make_shared<ScriptedMenuRunner>();
    Runners::setMenuRunner(menus);
    Runners::installContextMenuPresenter();
    const IdeaPtr root = colouredTree(QStringLiteral("root"), 5, 2);
    const IdeaPtr link = Idea::initWithLinkToIdea(root->ideas()[1]->identifier());
    attach(root->ideas()[3], link);
    rig.show(root);
    const GraphTileFactory& factory = *rig.view->tileFactory();
    const IdeaPtr idea = root->ideas()[2];

    rig.delegate->newWindows = true;
    menus->chooseTitle(QStringLiteral("Open in New Window"));
    rig.window->sendEvent(Event::rightMouseDown(rig.windowPointOfContent(factory.ideaLocation(idea))));
    ASSERT_EQ(menus->presentedCount(), 1);
    EXPECT_EQ(
        menus->presented().back().titles,
        QStringList({QStringLiteral("Open"), QStringLiteral("Open in New Window"), QStringLiteral("-"),
                     QStringLiteral("Zoom In"), QStringLiteral("Zoom Out"), QStringLiteral("Zoom to Fit")}));
    ASSERT_EQ(rig.delegate->inNewWindow.size(), 1u);
    EXPECT_EQ(rig.delegate->inNewWindow.front(), idea);

    rig.delegate->newWindows = false;
    menus->chooseTitle(QStringLiteral("Zoom In"));
    const float before = rig.view->zoomScale();
    rig.window->sendEvent(Event::rightMouseDown(rig.windowPointOfContent(factory.ideaLocation(link))));
    EXPECT_EQ(menus->presented().back().titles,
              QStringList({QStringLiteral("Follow link"), QStringLiteral("-"), QStringLiteral("Zoom In"),
                           QStringLiteral("Zoom Out"), QStringLiteral("Zoom to Fit")}));
    EXPECT_FLOAT_EQ(rig.view->zoomScale(), rig.view->tentativeZoom(1.0f));
    EXPECT_NEAR(rig.view->zoomScale(), before * 1.5f, 1e-5);
    Runners::setMenuRunner(nullptr);
}

TEST(GraphScrollView, CursorAndNoteHover)
{
    ScrollViewRig rig;
    const IdeaPtr root = colouredTree(QStringLiteral("root"), 5, 2);
    const IdeaPtr noted = root->ideas()[1];
    noted->setNote(QStringLiteral("remember"));
    rig.show(root);
    rig.view->zoomInCenter(1.0f / rig.view->zoomScale());
    const GraphTileFactory& factory = *rig.view->tileFactory();
    rig.centreOn(factory.ideaLocation(noted));
    PlanetDrawer drawer(5);
    drawer.setNoteNumber(-1);
    const Rect badge = drawer.noteRect();
    const Point badgeOffset(badge.midX() - drawer.size().width / 2, badge.midY() - drawer.size().height / 2);

    rig.view->mouseMoved(
        Event::mouseMoved(rig.windowPointOfContent(factory.ideaLocation(noted) + badgeOffset)));
    ASSERT_FALSE(rig.hovers.empty());
    EXPECT_EQ(rig.hovers.back().note, std::optional<QString>(QStringLiteral("remember")));
    EXPECT_EQ(Cursor::currentCursor(), Cursor::contextualMenuCursor());

    rig.view->mouseMoved(Event::mouseMoved(rig.windowPointOfContent(factory.ideaLocation(noted))));
    EXPECT_FALSE(rig.hovers.back().note.has_value());
    EXPECT_EQ(Cursor::currentCursor(), Cursor::pointingHandCursor());
    rig.view->mouseMoved(Event::mouseMoved(rig.windowPointOfContent(Point(1, 1))));
    EXPECT_EQ(Cursor::currentCursor(), Cursor::openHandCursor());
}

TEST(GraphScrollView, ANoteMayShowOnlyWhileTheUserWorksOnTheOverview)
{
    // Each way of working elsewhere, from the pointer over the overview of the key window.
    const std::shared_ptr<Window> other = Window::create(Size(100, 100));
    const std::pair<const char*, std::function<void(ScrollViewRig&)>> elsewhere[] = {
        {"the pointer left the window", [](ScrollViewRig& rig) { rig.window->mouseExitedWindow(); }},
        {"another window became key", [&other](ScrollViewRig&) { other->makeKeyWindow(); }},
        {"another screen lies over the overview",
         [](ScrollViewRig& rig) { rig.container->addSubview(BaseView::create(Rect(0, 0, 10, 10))); }},
    };
    for (const auto& [what, act] : elsewhere) {
        ScrollViewRig rig;
        rig.show(colouredTree(QStringLiteral("root"), 3, 2));
        rig.window->sendEvent(Event::mouseMoved(rig.windowPoint(Point(5, 5))));
        EXPECT_TRUE(rig.view->isNoteHoverDisplayAllowed()) << what;
        act(rig);
        EXPECT_FALSE(rig.view->isNoteHoverDisplayAllowed()) << what;
    }
    // The pointer over a covered overview reports nothing to the hover.
    ScrollViewRig rig;
    rig.show(colouredTree(QStringLiteral("root"), 3, 2));
    rig.container->addSubview(BaseView::create(Rect(0, 0, 10, 10)));
    rig.window->sendEvent(Event::mouseMoved(rig.windowPoint(Point(50, 50))));
    EXPECT_TRUE(rig.hovers.empty());
}

} // namespace
} // namespace corvex
