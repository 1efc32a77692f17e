#include "overview/GraphTileFactory.h"

#include "graphics/ImageBuilder.h"
#include "mindmap/PlanetDrawer.h"
#include "overview/Graph.h"
#include "overview/TreeCircleLayout.h"
#include "platform/gfx/GraphicsContext.h"

#include <cmath>
#include <utility>

namespace corvex {

namespace {

constexpr quint64 kRootPlanetType = 4;
constexpr quint64 kNodePlanetType = 5;
constexpr double kTitleZoom = double(0.05f);

bool boxesMeet(const Rect& a, double x, double y, double w, double h)
{
    return a.origin.x < x + w && x < a.origin.x + a.size.width && a.origin.y < y + h &&
           y < a.origin.y + a.size.height;
}

} // namespace

struct GraphTileFactory::Planet
{
    const GraphNode* node;
    Point position; // drawn position, content coordinates
    bool root;
};

struct GraphTileFactory::Line
{
    enum class Kind
    {
        Circle,  // around `center`
        Arc,     // a move to `from`, then the arc around `center` from startAngle upward to endAngle
        Segment, // `from` to `to`
    };
    Kind kind;
    Point from;
    Point to;
    Point center;
    double radius = 0;
    float startAngle = 0;
    float endAngle = 0;
    Rect box; // content coordinates, for culling
};

GraphTileFactory::GraphTileFactory(const IdeaPtr& idea, Filter filter, bool centerToRoot)
    : mHasFilter(static_cast<bool>(filter))
{
    Graph graph(idea, true, filter);
    const float r = PlanetDrawer::radiusForPlanetType(kNodePlanetType);
    mExtra = double(r);
    TreeCircleLayout::layout(graph, 2.5f * r, r * 3.0f);
    mContentSize = graph.bounds().size;
    const Rect bounds = graph.bounds();
    const Point shift =
        centerToRoot ? graph.root().center() - Point(mContentSize.width * 0.5, mContentSize.height * 0.5)
                     : bounds.origin;
    graph.traverseNaturally([shift](GraphNode& node, qint64) { node.setCenter(node.center() - shift); });
    mRoot = graph.releaseRoot();
    mNodeSide = PlanetDrawer(kNodePlanetType).size().width;
    mRootSide = PlanetDrawer(kRootPlanetType).size().width;
    prepareTree();
    prepareLines();
}

GraphTileFactory::~GraphTileFactory() = default;

Point GraphTileFactory::drawnPosition(const GraphNode& node) const
{
    const GraphNode* parent = node.parent();
    if (!parent || !parent->parent())
        return node.center();
    const float angle = parent->angle();
    return node.center() + Point(mExtra * double(std::cos(angle)), mExtra * double(std::sin(angle)));
}

void GraphTileFactory::prepareTree()
{
    mRoot->traverseNaturally(
        [this](GraphNode& node, qint64) {
            if (!mFirstByIdentifier.contains(node.identifier()))
                mFirstByIdentifier.insert(node.identifier(), mPreOrder.size());
            mPreOrder.push_back(&node);
            mPositions.push_back(drawnPosition(node));
        },
        0);
    // Post-order (children's subtrees in order, then the node), so that every planet is
    // painted over its descendants.
    mPlanets.reserve(mPreOrder.size());
    struct Step
    {
        const GraphNode* node;
        std::size_t next;
    };
    std::vector<Step> stack{{mRoot.get(), 0}};
    while (!stack.empty()) {
        Step& step = stack.back();
        if (step.next < step.node->children().size()) {
            const GraphNode* child = step.node->children()[step.next++].get();
            stack.push_back({child, 0});
            continue;
        }
        mPlanets.push_back({step.node, drawnPosition(*step.node), step.node->parent() == nullptr});
        stack.pop_back();
    }
}

void GraphTileFactory::prepareLines()
{
    const Point o = mRoot->center();
    const auto circleBox = [](Point c, double radius) {
        return Rect(c.x - radius, c.y - radius, 2 * radius, 2 * radius);
    };
    const auto segmentBox = [](Point a, Point b) {
        return Rect(std::min(a.x, b.x), std::min(a.y, b.y), std::abs(a.x - b.x), std::abs(a.y - b.y));
    };
    for (const GraphNode* node : mPreOrder) {
        const auto& children = node->children();
        if (node == mRoot.get()) {
            const double radius = children.empty()
                                      ? 5.0 * double(PlanetDrawer::radiusForPlanetType(kNodePlanetType))
                                      : double(children.front()->radius());
            Line line{Line::Kind::Circle, {}, {}, o, radius, 0, 0, circleBox(o, radius)};
            mLines.push_back(line);
            continue;
        }
        if (children.empty())
            continue;
        if (children.size() == 1) {
            const Point a = drawnPosition(*node);
            const Point b = children.front()->center();
            mLines.push_back({Line::Kind::Segment, a, b, {}, 0, 0, 0, segmentBox(a, b)});
            continue;
        }
        const float theta = node->angle();
        const float extra = float(mExtra);
        const Point f(double(extra * std::cos(theta)), double(extra * std::sin(theta)));
        const GraphNode& first = *children.front();
        const GraphNode& last = *children.back();
        const Point arcCenter = o + f;
        const double radius = double(first.radius());
        const float a1 = std::atan2(float(first.center().y - o.y), float(first.center().x - o.x));
        const float a2 = std::atan2(float(last.center().y - o.y), float(last.center().x - o.x));
        const Point start = first.center() + f;
        mLines.push_back({Line::Kind::Arc,
                          start,
                          {},
                          arcCenter,
                          radius,
                          a1,
                          a2,
                          circleBox(arcCenter, radius).unionWith(segmentBox(start, start))});
        const Point from = drawnPosition(*node);
        const Point to = o + Point(radius * std::cos(double(theta)), radius * std::sin(double(theta))) + f;
        mLines.push_back({Line::Kind::Segment, from, to, {}, 0, 0, 0, segmentBox(from, to)});
    }
}

void GraphTileFactory::drawTile(const Rect& rect, double zoom, GraphicsContext& context) const
{
    context.saveGState();
    drawLines(rect, zoom, context);
    context.restoreGState();
    drawPlanets(rect, zoom, context, nullptr);
}

void GraphTileFactory::drawLines(const Rect& rect, double zoom, GraphicsContext& context) const
{
    context.setStrokeColor(0.5, 0.5, 0.5, 1.0);
    context.setLineWidth(std::min(2 * zoom, 0.5));
    // Lines that cannot reach the rectangle are left out of the path: what they would add is
    // clipped away anyway. The margin covers the line's width and antialiasing.
    const double margin = zoom > 0 ? 2.0 / zoom : 0;
    const Rect near = rect.insetBy(-margin, -margin);
    context.beginPath();
    for (const Line& line : mLines) {
        if (!boxesMeet(near, line.box.origin.x, line.box.origin.y, line.box.size.width, line.box.size.height))
            continue;
        const Point c(line.center.x * zoom, line.center.y * zoom);
        switch (line.kind) {
        case Line::Kind::Circle:
            context.moveToPoint(Point(c.x + line.radius * zoom, c.y));
            context.addArc(c, line.radius * zoom, 0, M_PI * 2, false);
            break;
        case Line::Kind::Arc:
            context.moveToPoint(Point(line.from.x * zoom, line.from.y * zoom));
            context.addArc(c, line.radius * zoom, double(line.startAngle), double(line.endAngle), false);
            break;
        case Line::Kind::Segment:
            context.moveToPoint(Point(line.from.x * zoom, line.from.y * zoom));
            context.addLineToPoint(Point(line.to.x * zoom, line.to.y * zoom));
            break;
        }
    }
    if (!context.isPathEmpty())
        context.strokePath();
}

bool GraphTileFactory::drawPlanets(const Rect& rect, double zoom, GraphicsContext& context,
                                   const std::atomic<bool>* keepGoing) const
{
    PlanetDrawer drawer(kNodePlanetType);
    std::unique_ptr<PlanetDrawer> rootDrawer;
    const Rect scaled(rect.origin.x * zoom, rect.origin.y * zoom, rect.size.width * zoom,
                      rect.size.height * zoom);
    const quint64 style = noteStyle();
    const bool titles = zoom >= kTitleZoom;
    for (const Planet& planet : mPlanets) {
        const double side = (planet.root ? mRootSide : mNodeSide) * double(float(zoom));
        const double x = planet.position.x * zoom - side * 0.5;
        const double y = planet.position.y * zoom - side * 0.5;
        if (!boxesMeet(scaled, x, y, side, side))
            continue;
        // A retired view's tile is not wanted any more: its owner may be waiting for it.
        if (keepGoing && !keepGoing->load(std::memory_order_relaxed))
            return false;
        if (planet.root && !rootDrawer)
            rootDrawer = std::make_unique<PlanetDrawer>(kRootPlanetType);
        PlanetDrawer& d = planet.root ? *rootDrawer : drawer;
        const GraphNode& node = *planet.node;
        const GraphNodeDrawing& drawing = node.drawing();
        d.setFade(mHasFilter && !drawing.matchesFilter);
        d.setScale(float(zoom));
        qint64 noteMark = 0;
        if (style == 2)
            noteMark = node.noteNumber();
        else if (style == 1)
            noteMark = node.noteNumber() >= 1 ? -1 : 0;
        d.setNoteNumber(noteMark);
        const Size size = d.scaledSize();
        const Point origin(planet.position.x * zoom - size.width * 0.5,
                           planet.position.y * zoom - size.height * 0.5);
        context.saveGState();
        d.setBaseColor(drawing.color);
        d.setImage(drawing.image);
        d.setIsLink(drawing.isLink);
        d.setShowWebLink(drawing.hasURL);
        d.setText(titles ? drawing.text : QString());
        d.setIconImage(titles ? drawing.icon : nullptr);
        context.translateCTM(origin.x, origin.y);
        d.drawInCurrentContext(context);
        context.restoreGState();
    }
    return true;
}

QImage GraphTileFactory::createTile(const Rect& rect, Size pixelSize,
                                    const std::atomic<bool>* keepGoing) const
{
    if (!(rect.size.width > 0) || !(pixelSize.width > 0))
        return {};
    const double zoom = pixelSize.width / rect.size.width;
    ImageBuilder builder;
    GraphicsContext* context = builder.startWithSize(pixelSize.width, pixelSize.height);
    if (!context)
        return {};
    context->clearRect(Rect(0, 0, pixelSize.width, pixelSize.height));
    // Content y grows downward: the tile's top row shows the rectangle's top.
    context->translateCTM(0, pixelSize.height);
    context->scaleCTM(1, -1);
    context->saveGState();
    context->translateCTM(-rect.origin.x * zoom, -rect.origin.y * zoom);
    context->saveGState();
    drawLines(rect, zoom, *context);
    context->restoreGState();
    const bool complete = drawPlanets(rect, zoom, *context, keepGoing);
    context->restoreGState();
    const PlatformImage image = builder.consumeImage();
    if (!complete || image.isNull() || image.representations().empty())
        return {};
    return image.representations().front();
}

const GraphNode* GraphTileFactory::nodeAtPoint(Point point) const
{
    const float rootRadius = PlanetDrawer::radiusForPlanetType(kRootPlanetType);
    const float nodeRadius = PlanetDrawer::radiusForPlanetType(kNodePlanetType);
    // A node is tested before its descendants, the first hit in tree order wins.
    const float reach = std::max(rootRadius, nodeRadius);
    for (std::size_t i = 0; i < mPreOrder.size(); ++i) {
        const Point p = mPositions[i];
        const float dx = float(point.x - p.x);
        const float dy = float(point.y - p.y);
        if (std::abs(dx) > reach || std::abs(dy) > reach)
            continue;
        const float limit = mPreOrder[i]->parent() ? nodeRadius : rootRadius;
        if (std::sqrt(dx * dx + dy * dy) <= limit)
            return mPreOrder[i];
    }
    return nullptr;
}

IdeaPtr GraphTileFactory::ideaAtPoint(Point point) const
{
    const GraphNode* node = nodeAtPoint(point);
    return node ? node->idea() : nullptr;
}

bool GraphTileFactory::noteAtPoint(Point point) const
{
    const GraphNode* node = nodeAtPoint(point);
    return node && noteAtPoint(point, *node);
}

bool GraphTileFactory::noteAtPoint(Point point, const GraphNode& node) const
{
    if (!node.drawing().hasNote)
        return false;
    PlanetDrawer drawer(node.parent() ? kNodePlanetType : kRootPlanetType);
    drawer.setNoteNumber(1);
    return drawer.hitsNote(point - drawnPosition(node));
}

Point GraphTileFactory::ideaLocation(const IdeaPtr& idea) const
{
    return idea ? ideaLocation(idea->identifier()) : Point();
}

Point GraphTileFactory::ideaLocation(const QString& identifier) const
{
    const auto it = mFirstByIdentifier.constFind(identifier);
    if (it == mFirstByIdentifier.cend() || !mPreOrder[*it]->idea())
        return Point();
    return drawnPosition(*mPreOrder[*it]);
}

} // namespace corvex
