#include "tests/app/WhereOnScreen.h"

#include "home/HomeViewController.h"
#include "home/IdeaListView.h"
#include "mindmap/IdeaAdderView.h"
#include "mindmap/IdeaView.h"
#include "mindmap/ParentIdeaView.h"
#include "mindmap/PlanetDrawer.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarSystem.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Idea.h"
#include "overview/GraphScrollView.h"
#include "overview/GraphTileFactory.h"
#include "shell/TopBarView.h"
#include "storage/IdeaProxy.h"
#include "tests/app/JourneyTrees.h"
#include "toolkit/ButtonView.h"

#include <functional>

namespace corvex::test {

namespace {

Point middleOf(const Rect& rect)
{
    return Point(rect.origin.x + rect.size.width / 2, rect.origin.y + rect.size.height / 2);
}

// A shown view's middle, in its window.
std::optional<Point> middleInWindow(const View* view)
{
    if (!view || view->isHiddenOrHasHiddenAncestor() || !view->window())
        return std::nullopt;
    return view->convertPointToView(middleOf(view->bounds()), nullptr);
}

std::shared_ptr<PlanetLayer> planetLayer(const SolarSystemViewController& screen, const QString& text)
{
    const std::shared_ptr<SolarSystem>& solar = screen.solarSystemView();
    const IdeaPtr& real = screen.realIdea();
    if (!solar || !real)
        return nullptr;
    for (std::int64_t i = 0; i < solar->ideaViewCount(); ++i) {
        std::shared_ptr<PlanetLayer> layer = solar->ideaViewAtIndex(i);
        if (!layer)
            continue;
        for (const IdeaPtr& child : real->ideas()) {
            if (child->identifier() == layer->ideaIdentifier() && child->text() == text)
                return layer;
        }
    }
    return nullptr;
}

GraphScrollView* overview(const SolarSystemViewController& screen)
{
    auto* graph = dynamic_cast<GraphScrollView*>(screen.graphView().get());
    if (!graph || !graph->tileFactory() || graph->isHiddenOrHasHiddenAncestor() || !graph->window())
        return nullptr;
    return graph;
}

// The inverse of GraphScrollView::contentPoint, then into the window.
Point overviewWindowPoint(const GraphScrollView& graph, Point content)
{
    const Point middle = middleOf(graph.bounds());
    const double zoom = graph.zoomScale();
    const Point inView(middle.x + (content.x - graph.dataCenter().x) * zoom,
                       middle.y + (content.y - graph.dataCenter().y) * zoom);
    return graph.convertPointToView(inView, nullptr);
}

} // namespace

std::optional<Point> WhereOnScreen::middle(const View& view)
{
    return middleInWindow(&view);
}

std::optional<Point> WhereOnScreen::homeDocument(const HomeViewController& home, const QString& text)
{
    const std::shared_ptr<IdeaListView>& grid = home.ideaListView();
    if (!grid)
        return std::nullopt;
    for (const IdeaProxyPtr& proxy : grid->proxies()) {
        if (proxy && proxy->text() == text)
            return middleInWindow(grid->visibleIdeaViewForDocument(proxy->docIdentifier()));
    }
    return std::nullopt;
}

std::optional<Point> WhereOnScreen::homeEmptySpace(const HomeViewController& home)
{
    const std::shared_ptr<IdeaListView>& grid = home.ideaListView();
    if (!grid || !grid->window())
        return std::nullopt;
    // The grid's lower right corner: the grid fills rows from the top left.
    const Rect b = grid->bounds();
    const Point corner(b.maxX() - 30, grid->isFlipped() ? b.maxY() - 30 : b.origin.y + 30);
    return grid->convertPointToView(corner, nullptr);
}

std::optional<Point> WhereOnScreen::planet(const SolarSystemViewController& screen, const QString& text)
{
    const std::shared_ptr<PlanetLayer> layer = planetLayer(screen, text);
    if (!layer)
        return std::nullopt;
    return screen.solarSystemView()->convertPointToView(middleOf(layer->frame()), nullptr);
}

std::optional<Rect> WhereOnScreen::planetArea(const SolarSystemViewController& screen, const QString& text)
{
    const std::shared_ptr<PlanetLayer> layer = planetLayer(screen, text);
    if (!layer)
        return std::nullopt;
    return screen.solarSystemView()->convertRectToView(layer->frame(), nullptr);
}

std::optional<Point> WhereOnScreen::planetNoteMark(const SolarSystemViewController& screen,
                                                   const QString& text)
{
    const std::shared_ptr<PlanetLayer> layer = planetLayer(screen, text);
    if (!layer || !layer->planetDrawer())
        return std::nullopt;
    const SolarSystem& solar = *screen.solarSystemView();
    // The drawing's space is y-down from the top left of the layer's bounds; in a y-up tree
    // the layer shows it upright, that is mirrored.
    const Point mark = middleOf(layer->planetDrawer()->noteRect());
    const Rect b = layer->bounds();
    const Point inLayer = solar.isFlipped() ? Point(b.origin.x + mark.x, b.origin.y + mark.y)
                                            : Point(b.origin.x + mark.x, b.maxY() - mark.y);
    const Point inView(layer->frame().origin.x + inLayer.x - b.origin.x,
                       layer->frame().origin.y + inLayer.y - b.origin.y);
    return solar.convertPointToView(inView, nullptr);
}

std::optional<Point> WhereOnScreen::adder(const SolarSystemViewController& screen, std::int64_t index)
{
    const std::shared_ptr<SolarSystem>& solar = screen.solarSystemView();
    return solar ? middleInWindow(solar->ideaAdderViewAtIndex(index).get()) : std::nullopt;
}

std::optional<Point> WhereOnScreen::centre(const SolarSystemViewController& screen)
{
    const auto& solar = screen.solarSystemView();
    return solar ? middleInWindow(solar->centralView().get()) : std::nullopt;
}

std::optional<Point> WhereOnScreen::parent(const SolarSystemViewController& screen)
{
    const auto& solar = screen.solarSystemView();
    return solar ? middleInWindow(solar->parentView().get()) : std::nullopt;
}

std::optional<Point> WhereOnScreen::emptySpace(const SolarSystemViewController& screen)
{
    const auto& solar = screen.solarSystemView();
    if (!solar || !solar->window())
        return std::nullopt;
    // A corner of the mind map: the solar system sits in its middle.
    const Rect b = solar->bounds();
    return solar->convertPointToView(Point(b.maxX() - 20, b.origin.y + b.size.height / 2), nullptr);
}

std::optional<Point> WhereOnScreen::homeButton(const SolarSystemViewController& screen)
{
    const auto bar =
        screen.topBar() ? std::dynamic_pointer_cast<TopBarView>(screen.topBar()->view()) : nullptr;
    return bar ? middleInWindow(bar->homeButton().get()) : std::nullopt;
}

std::optional<Point> WhereOnScreen::overviewNode(const SolarSystemViewController& screen, const QString& text)
{
    GraphScrollView* graph = overview(screen);
    const IdeaPtr idea = ideaWithText(screen.rootIdea(), text);
    if (!graph || !idea)
        return std::nullopt;
    return overviewWindowPoint(*graph, graph->tileFactory()->ideaLocation(idea));
}

std::optional<Point> WhereOnScreen::overviewNoteMark(const SolarSystemViewController& screen,
                                                     const QString& text)
{
    GraphScrollView* graph = overview(screen);
    const IdeaPtr idea = ideaWithText(screen.rootIdea(), text);
    if (!graph || !idea)
        return std::nullopt;
    // The mark is part of the node's drawing; the factory says where the drawing puts it.
    // Its middle: a point on its edge would slip off once rounded to a pixel.
    const GraphTileFactory& factory = *graph->tileFactory();
    const Point node = factory.ideaLocation(idea);
    Point sum;
    int hits = 0;
    for (double dy = -80; dy <= 80; dy += 1) {
        for (double dx = -80; dx <= 80; dx += 1) {
            const Point content(node.x + dx, node.y + dy);
            const IdeaPtr under = factory.ideaAtPoint(content);
            if (under && under->identifier() == idea->identifier() && factory.noteAtPoint(content)) {
                sum = Point(sum.x + content.x, sum.y + content.y);
                ++hits;
            }
        }
    }
    if (hits == 0)
        return std::nullopt;
    return overviewWindowPoint(*graph, Point(sum.x / hits, sum.y / hits));
}

} // namespace corvex::test
