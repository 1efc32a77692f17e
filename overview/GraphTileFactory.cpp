#include "overview/GraphTileFactory.h"

#include "graphics/ImageBuilder.h"
#include "mindmap/PlanetDrawer.h"
#include "model/Color.h"
#include "overview/TreeCircleLayout.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"

#include <QColor>
#include <QImage>
#include <cmath>
#include <malloc.h>
#include <unordered_map>
#include <utility>

namespace corvex {

namespace {

constexpr quint64 kRootPlanetType = 4;
constexpr quint64 kNodePlanetType = 5;
constexpr double kTitleZoom = double(0.05f);
// A planet whose disc would be narrower than this many device pixels is drawn as a dot of
// its colour: a square of as many whole pixels. At the fitting zoom of a large map a planet
// is a fraction of a pixel, and its disc, antialiased or clipped to its square, would leave
// nothing to see.
constexpr int kDotPixels = 2;
// A picture whose disc is narrower than this many device pixels shows as a disc of its mean
// colour: nothing of it can be made out there, and decoding every picture of a large map at
// full size (and keeping it) would cost seconds and gigabytes.
constexpr int kPicturePixels = 8;

// The mean colour of a picture drawn `side` device pixels wide, from the picture at that size.
// A picture not decoded yet is decoded at that size for this call alone: nothing of it is kept.
PlatformColor meanPictureColor(const QVImage& picture, int side)
{
    const QImage full = picture.isDecoded() ? picture.cgImage()
                                            : ImageCodec::decodeFitting(picture.pngData(), QSize(side, side));
    if (full.isNull())
        return PlatformColor::lightGray();
    const QImage drawn = full.scaled(side, side, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    quint64 sums[4] = {0, 0, 0, 0};
    for (int y = 0; y < drawn.height(); ++y) {
        const uchar* row = drawn.constScanLine(y);
        for (int x = 0; x < drawn.width() * 4; ++x)
            sums[x % 4] += row[x];
    }
    if (sums[3] == 0)
        return PlatformColor::lightGray();
    // Premultiplied: the sums of the colour channels over the sum of alpha undo it.
    const double pixels = double(drawn.width()) * double(drawn.height());
    const double alpha = double(sums[3]);
    return PlatformColor::fromQColor(
        QColor::fromRgbF(float(double(sums[0]) / alpha), float(double(sums[1]) / alpha),
                         float(double(sums[2]) / alpha), float(alpha / (255.0 * pixels))));
}

// The box of the arc that the drawing adds from `start` to `end` in the direction of
// increasing angle (the sweep taken as the path takes it), grown by a thousandth of the
// radius for its cubic segments, which stray from the circle by less than that.
Rect arcBox(Point center, double radius, float start, float end)
{
    constexpr double kTurn = M_PI * 2;
    const double from = double(start);
    double sweep = double(end) - from;
    if (sweep < 0) {
        sweep = std::fmod(sweep, kTurn);
        if (sweep < 0)
            sweep += kTurn;
    }
    sweep = std::min(sweep, kTurn);
    const auto at = [&](double angle) {
        return Point(center.x + radius * std::cos(angle), center.y + radius * std::sin(angle));
    };
    const Point a = at(from);
    const Point b = at(from + sweep);
    double minX = std::min(a.x, b.x);
    double maxX = std::max(a.x, b.x);
    double minY = std::min(a.y, b.y);
    double maxY = std::max(a.y, b.y);
    // The extremes of the circle (angles 0, a quarter, a half and three quarters of a turn)
    // that the sweep passes.
    double past = -from; // from the start to the quarter, within one turn
    while (past < 0)
        past += kTurn;
    while (past >= kTurn)
        past -= kTurn;
    const Point extremes[4] = {{center.x + radius, center.y},
                               {center.x, center.y + radius},
                               {center.x - radius, center.y},
                               {center.x, center.y - radius}};
    for (const Point& p : extremes) {
        if (past <= sweep) {
            minX = std::min(minX, p.x);
            maxX = std::max(maxX, p.x);
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
        }
        past += M_PI / 2;
        if (past >= kTurn)
            past -= kTurn;
    }
    const double stray = std::abs(radius) * 1e-3;
    return Rect(minX - stray, minY - stray, maxX - minX + 2 * stray, maxY - minY + 2 * stray);
}

bool boxesMeet(const Rect& a, double x, double y, double w, double h)
{
    return a.origin.x < x + w && x < a.origin.x + a.size.width && a.origin.y < y + h &&
           y < a.origin.y + a.size.height;
}

} // namespace

// A line as stored: what it belongs to and its box; the geometry is made again from the
// layout when it is drawn (Layout::geometry), so that a map of a million ideas keeps a few
// bytes a line.
struct GraphTileFactory::Line
{
    enum class Kind : quint8
    {
        Circle,     // the root's orbit
        Segment,    // from a node to its only child
        Arc,        // through a node's children
        ArcSegment, // from a node to the arc through its children
    };
    qint32 node = 0;
    Kind kind = Kind::Circle;
    // Of an arc: the angles of its first and last child around the root.
    float startAngle = 0;
    float endAngle = 0;
    // The box in content coordinates, widened to whole units: for culling only.
    float boxX = 0, boxY = 0, boxWidth = 0, boxHeight = 0;

    void setBox(const Rect& box)
    {
        boxX = std::floor(float(box.origin.x)) - 1;
        boxY = std::floor(float(box.origin.y)) - 1;
        boxWidth = std::ceil(float(box.size.width)) + 3;
        boxHeight = std::ceil(float(box.size.height)) + 3;
    }
};

// A line's geometry: a move to `from`, then a segment to `to`, or the arc (a whole circle
// for the root's) around `center`.
struct LineGeometry
{
    Point from;
    Point to;
    Point center;
    double radius = 0;
};

// What a factory draws from: the laid-out mirror in content coordinates with the drawn
// positions and the lines. Made once for a tree and a centring
// and never changed; factories of the same unchanged tree share it.
struct GraphTileFactory::Layout
{
    Layout(const IdeaPtr& idea, bool centred, double extraOut);

    // Made for this idea and centring, and no idea has changed since.
    bool mirrors(const IdeaPtr& idea, bool centred) const
    {
        return graph.idea(0) == idea && centred == centerToRoot && changeCount == Idea::changeCount();
    }
    Point drawnPosition(std::size_t node) const;
    // The centre the layout gave a node, from its drawn position (the mirror's own centres
    // are let go once the positions and lines are made).
    Point center(std::size_t node) const;
    // Of a child of the root's subtree: the offset of the drawn positions of its parent's
    // children from their centres.
    Point offsetBelow(std::size_t parent) const;
    LineGeometry geometry(const Line& line) const;
    // The colour of a node's dot: the idea's own, whether it holds a picture or not.
    PlatformColor dotColor(std::size_t node) const;
    // The mean colour of a node's picture, measured once (from any thread) at the side in
    // device pixels it is first drawn at; the mean hardly moves with the size.
    const ColorPtr& pictureColor(std::size_t node, int side) const;
    void preparePlanets();
    void prepareLines();

    quint64 changeCount; // before the ideas were read
    bool centerToRoot;
    double extra;
    FlatGraph graph;
    Size contentSize;
    std::vector<Point> positions; // drawn positions, in pre-order
    std::vector<Line> lines;      // pre-order
    mutable std::mutex pictureColorsMutex;
    mutable std::unordered_map<std::size_t, ColorPtr> pictureColors; // guarded by pictureColorsMutex
};

GraphTileFactory::Layout::Layout(const IdeaPtr& idea, bool centred, double extraOut)
    : changeCount(Idea::changeCount()), centerToRoot(centred), extra(extraOut), graph(idea)
{
    const float r = float(extra);
    TreeCircleLayout::layout(graph, 2.5f * r, r * 3.0f);
    contentSize = graph.bounds().size;
    const Point shift = centerToRoot
                            ? graph.center(0) - Point(contentSize.width * 0.5, contentSize.height * 0.5)
                            : graph.bounds().origin;
    graph.moveCenters(shift);
    preparePlanets();
    prepareLines();
    graph.releaseLayoutData();
    // What only the layout read lies freed among what stays (a few tens of bytes an idea):
    // handed back now, a map of a million ideas keeps tens of megabytes less (2-3 ms).
    malloc_trim(0);
}

namespace {

// The nodes in the planets' drawing order: post-order (children's subtrees in order, then the
// node), so that every planet is painted over its descendants; made as it goes from the
// subtree ends, holding only the open ancestors.
class PostOrder
{
public:
    explicit PostOrder(const FlatGraph& graph) : mGraph(graph) {}

    // The next node; -1 after the last.
    qint64 take()
    {
        for (;;) {
            if (!mOpen.empty() &&
                (mNext >= mGraph.size() || std::size_t(mGraph.end(mOpen.back())) <= mNext)) {
                const qint64 node = mOpen.back();
                mOpen.pop_back();
                return node;
            }
            if (mNext >= mGraph.size())
                return -1;
            mOpen.push_back(mNext++);
        }
    }

private:
    const FlatGraph& mGraph;
    std::vector<std::size_t> mOpen;
    std::size_t mNext = 0;
};

} // namespace

Point GraphTileFactory::Layout::offsetBelow(std::size_t parent) const
{
    if (parent == 0)
        return Point();
    const float angle = graph.angle(parent);
    return Point(extra * double(std::cos(angle)), extra * double(std::sin(angle)));
}

Point GraphTileFactory::Layout::drawnPosition(std::size_t node) const
{
    const qint32 parent = graph.parent(node);
    return parent < 0 ? graph.center(node) : graph.center(node) + offsetBelow(std::size_t(parent));
}

Point GraphTileFactory::Layout::center(std::size_t node) const
{
    const qint32 parent = graph.parent(node);
    return parent < 0 ? positions[node] : positions[node] - offsetBelow(std::size_t(parent));
}

PlatformColor GraphTileFactory::Layout::dotColor(std::size_t node) const
{
    const ColorPtr& color = graph.color(node);
    return color ? color->uiColor() : PlatformColor::lightGray();
}

const ColorPtr& GraphTileFactory::Layout::pictureColor(std::size_t node, int side) const
{
    {
        std::lock_guard lock(pictureColorsMutex);
        const auto found = pictureColors.find(node);
        if (found != pictureColors.end())
            return found->second;
    }
    // Measured outside the lock: tiles of other threads go on meanwhile. Two threads may
    // measure the same picture at once; the first answer stays.
    ColorPtr measured = Color::withPlatformColor(QString(), meanPictureColor(graph.picture(node), side));
    std::lock_guard lock(pictureColorsMutex);
    return pictureColors.try_emplace(node, std::move(measured)).first->second;
}

void GraphTileFactory::Layout::preparePlanets()
{
    const std::size_t n = graph.size();
    positions.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        positions[i] = drawnPosition(i);
}

void GraphTileFactory::Layout::prepareLines()
{
    const Point o = graph.center(0);
    // The root's circle, then a segment for a node with one child, an arc and a segment for
    // one with more.
    std::size_t count = 1;
    for (std::size_t node = 1; node < graph.size(); ++node)
        if (graph.hasChildren(node))
            count += graph.end(node + 1) == graph.end(node) ? 1 : 2;
    lines.reserve(count);
    const auto add = [this](Line line) {
        const LineGeometry g = geometry(line);
        switch (line.kind) {
        case Line::Kind::Circle:
            line.setBox(Rect(g.center.x - g.radius, g.center.y - g.radius, 2 * g.radius, 2 * g.radius));
            break;
        case Line::Kind::Arc:
            line.setBox(arcBox(g.center, g.radius, line.startAngle, line.endAngle)
                            .unionWith(Rect(g.from.x, g.from.y, 0, 0)));
            break;
        case Line::Kind::Segment:
        case Line::Kind::ArcSegment:
            line.setBox(Rect(std::min(g.from.x, g.to.x), std::min(g.from.y, g.to.y),
                             std::abs(g.from.x - g.to.x), std::abs(g.from.y - g.to.y)));
            break;
        }
        lines.push_back(line);
    };
    for (std::size_t node = 0; node < graph.size(); ++node) {
        const std::size_t end = std::size_t(graph.end(node));
        const std::size_t first = node + 1;
        if (node == 0) {
            add({qint32(node), Line::Kind::Circle});
            continue;
        }
        if (first >= end)
            continue;
        if (std::size_t(graph.end(first)) == end) {
            add({qint32(node), Line::Kind::Segment});
            continue;
        }
        std::size_t last = first;
        while (std::size_t(graph.end(last)) < end)
            last = std::size_t(graph.end(last));
        const Point firstCenter = graph.center(first);
        const Point lastCenter = graph.center(last);
        const float a1 = std::atan2(float(firstCenter.y - o.y), float(firstCenter.x - o.x));
        const float a2 = std::atan2(float(lastCenter.y - o.y), float(lastCenter.x - o.x));
        add({qint32(node), Line::Kind::Arc, a1, a2});
        add({qint32(node), Line::Kind::ArcSegment});
    }
}

LineGeometry GraphTileFactory::Layout::geometry(const Line& line) const
{
    const std::size_t node = std::size_t(line.node);
    const std::size_t first = node + 1;
    const Point o = positions[0];
    LineGeometry g;
    switch (line.kind) {
    case Line::Kind::Circle:
        g.center = o;
        g.radius = first < std::size_t(graph.end(node))
                       ? double(graph.radius(first))
                       : 5.0 * double(PlanetDrawer::radiusForPlanetType(kNodePlanetType));
        break;
    case Line::Kind::Segment:
        g.from = positions[node];
        g.to = center(first);
        break;
    case Line::Kind::Arc:
    case Line::Kind::ArcSegment: {
        const float theta = graph.angle(node);
        const float out = float(extra);
        const Point f(double(out * std::cos(theta)), double(out * std::sin(theta)));
        g.center = o + f;
        g.radius = double(graph.radius(first));
        if (line.kind == Line::Kind::Arc) {
            g.from = center(first) + f;
        } else {
            g.from = positions[node];
            g.to = o + Point(g.radius * std::cos(double(theta)), g.radius * std::sin(double(theta))) + f;
        }
        break;
    }
    }
    return g;
}

GraphTileFactory::GraphTileFactory(const IdeaPtr& idea, Filter filter, bool centerToRoot)
    : GraphTileFactory(idea, std::move(filter), centerToRoot, nullptr)
{}

GraphTileFactory::GraphTileFactory(const IdeaPtr& idea, Filter filter, bool centerToRoot,
                                   const GraphTileFactory* previous)
    : mExtra(double(PlanetDrawer::radiusForPlanetType(kNodePlanetType))),
      mNodeSide(PlanetDrawer::sizeForPlanetType(kNodePlanetType).width),
      mRootSide(PlanetDrawer::sizeForPlanetType(kRootPlanetType).width)
{
    if (previous && previous->mLayout->mirrors(idea, centerToRoot))
        mLayout = previous->mLayout;
    else
        mLayout = std::make_shared<const Layout>(idea, centerToRoot, mExtra);
    const FlatGraph& graph = mLayout->graph;
    if (filter) {
        mFaded.resize(graph.size(), 0);
        for (std::size_t i = 0; i < graph.size(); ++i)
            mFaded[i] = graph.idea(i) && !filter(graph.idea(i)) ? 1 : 0;
    }
}

GraphTileFactory::GraphTileFactory(SharedLayout, const GraphTileFactory& base, std::vector<quint8> faded)
    : mExtra(base.mExtra), mNodeSide(base.mNodeSide), mRootSide(base.mRootSide), mLayout(base.mLayout),
      mFaded(faded.size() == base.graph().size() ? std::move(faded) : std::vector<quint8>())
{
    mNoteStyle.store(base.noteStyle());
}

std::shared_ptr<GraphTileFactory> GraphTileFactory::withFaded(const GraphTileFactory& base,
                                                              std::vector<quint8> faded)
{
    return std::make_shared<GraphTileFactory>(SharedLayout(), base, std::move(faded));
}

GraphTileFactory::~GraphTileFactory() = default;

Size GraphTileFactory::contentSize() const
{
    return mLayout->contentSize;
}

const FlatGraph& GraphTileFactory::graph() const
{
    return mLayout->graph;
}

Point GraphTileFactory::drawnPosition(const GraphNode& node) const
{
    const GraphNode* parent = node.parent();
    if (!parent || !parent->parent())
        return node.center();
    const float angle = parent->angle();
    return node.center() + Point(mExtra * double(std::cos(angle)), mExtra * double(std::sin(angle)));
}

Point GraphTileFactory::drawnPosition(std::size_t node) const
{
    return mLayout->positions[node];
}

const GraphNode& GraphTileFactory::root() const
{
    std::call_once(mRootMade, [this] {
        const FlatGraph& graph = mLayout->graph;
        mNodes.resize(graph.size());
        for (std::size_t i = 0; i < graph.size(); ++i) {
            auto node = std::make_unique<GraphNode>(graph.idea(i));
            node->setAngle(graph.angle(i));
            node->setRadius(graph.radius(i));
            node->setCenter(mLayout->center(i));
            node->setNoteNumber(graph.noteNumber(i));
            node->setDrawing(graph.drawing(i));
            mNodes[i] = node.get();
            if (i == 0)
                mRoot = std::move(node);
            else
                mNodes[std::size_t(graph.parent(i))]->addNode(std::move(node));
        }
    });
    return *mRoot;
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
    for (const Line& line : mLayout->lines) {
        if (!boxesMeet(near, line.boxX, line.boxY, line.boxWidth, line.boxHeight))
            continue;
        const LineGeometry g = mLayout->geometry(line);
        const Point c(g.center.x * zoom, g.center.y * zoom);
        switch (line.kind) {
        case Line::Kind::Circle:
            context.moveToPoint(Point(c.x + g.radius * zoom, c.y));
            context.addArc(c, g.radius * zoom, 0, M_PI * 2, false);
            break;
        case Line::Kind::Arc:
            context.moveToPoint(Point(g.from.x * zoom, g.from.y * zoom));
            context.addArc(c, g.radius * zoom, double(line.startAngle), double(line.endAngle), false);
            break;
        case Line::Kind::Segment:
        case Line::Kind::ArcSegment:
            context.moveToPoint(Point(g.from.x * zoom, g.from.y * zoom));
            context.addLineToPoint(Point(g.to.x * zoom, g.to.y * zoom));
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
    const FlatGraph& graph = mLayout->graph;
    const std::vector<Point>& positions = mLayout->positions;
    // Device pixels a user unit spans; the sides below are in user units.
    const double pixelsPerUnit = std::max(context.userSpaceScale(), 1e-9);
    const double dotSide = kDotPixels / pixelsPerUnit;
    const double pictureSide = kPicturePixels / pixelsPerUnit;
    // Dots are filled together, before the next planet (only the root can be a planet among
    // dots) and at the end, keeping the drawing order.
    std::vector<GraphicsContext::PixelMark> dots;
    PostOrder order(graph);
    for (qint64 index = order.take(); index >= 0; index = order.take()) {
        const std::size_t node = std::size_t(index);
        const bool root = node == 0;
        const Point position = positions[node];
        const double side = (root ? mRootSide : mNodeSide) * double(float(zoom));
        const double disc = side / 2.5 * 2;
        const bool dot = disc < dotSide;
        // A dot snaps to whole pixels: up to one more on each side.
        const double extent = dot ? 2 * dotSide : side;
        const double x = position.x * zoom - extent * 0.5;
        const double y = position.y * zoom - extent * 0.5;
        if (!boxesMeet(scaled, x, y, extent, extent))
            continue;
        // A planet draws inside a clip to its square: one that rounds to no pixel would draw
        // nothing (a dot takes its place long before).
        if (!dot && context.clipToRectLeavesNoPixels(Rect(x, y, side, side)))
            continue;
        // A retired view's tile is not wanted any more: its owner may be waiting for it.
        if (keepGoing && !keepGoing->load(std::memory_order_relaxed))
            return false;
        if (dot) {
            const PlatformColor color =
                !mFaded.empty() && mFaded[node] != 0 ? PlatformColor::lightGray() : mLayout->dotColor(node);
            dots.push_back({Point(position.x * zoom, position.y * zoom), color.toQColor().rgba()});
            continue;
        }
        context.fillDevicePixelSquares(dots, kDotPixels);
        dots.clear();
        if (root && !rootDrawer)
            rootDrawer = std::make_unique<PlanetDrawer>(kRootPlanetType);
        PlanetDrawer& d = root ? *rootDrawer : drawer;

        d.setFade(!mFaded.empty() && mFaded[node] != 0);
        d.setScale(float(zoom));
        const qint64 number = graph.noteNumber(node);
        qint64 noteMark = 0;
        if (style == 2)
            noteMark = number;
        else if (style == 1)
            noteMark = number >= 1 ? -1 : 0;
        d.setNoteNumber(noteMark);
        const Size size = d.scaledSize();
        const Point origin(position.x * zoom - size.width * 0.5, position.y * zoom - size.height * 0.5);
        context.saveGState();
        const QVImage& picture = graph.picture(node);
        if (picture.hasImage() && disc < pictureSide) {
            // A disc of the picture's colour, with nothing more than a picture's planet shows.
            d.setBaseColor(mLayout->pictureColor(node, std::max(1, int(std::ceil(disc * pixelsPerUnit)))));
            d.setImage(QVImage());
            d.setNoteNumber(0);
            d.setText(QString());
            d.setIconImage(nullptr);
        } else {
            d.setBaseColor(graph.color(node));
            d.setImage(picture);
            d.setText(titles ? graph.text(node) : QString());
            d.setIconImage(titles ? graph.icon(node) : nullptr);
        }
        d.setIsLink(graph.isLink(node));
        d.setShowWebLink(graph.hasURL(node));
        context.translateCTM(origin.x, origin.y);
        d.drawInCurrentContext(context);
        context.restoreGState();
    }
    context.fillDevicePixelSquares(dots, kDotPixels);
    return true;
}

QImage GraphTileFactory::createTile(const Rect& rect, Size pixelSize,
                                    const std::atomic<bool>* keepGoing) const
{
    if (!(rect.size.width > 0) || !(pixelSize.width > 0))
        return {};
    const double zoom = pixelSize.width / rect.size.width;
    ImageBuilder builder;
    // Tiles are only drawn again: the layout QPainter fills fastest.
    GraphicsContext* context =
        builder.startWithSize(pixelSize.width, pixelSize.height, GraphicsContext::PixelLayout::Word);
    if (!context)
        return {};
    context->clearRect(Rect(0, 0, pixelSize.width, pixelSize.height));
    // Content y grows downward: the tile's top row shows the rectangle's top.
    context->translateCTM(0, pixelSize.height);
    context->scaleCTM(1, -1);
    context->saveGState();
    context->translateCTM(-rect.origin.x * zoom, -rect.origin.y * zoom);
    // A retired view's tile is not wanted any more: its owner may be waiting for it.
    if (keepGoing && !keepGoing->load(std::memory_order_relaxed))
        return {};
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

qint64 GraphTileFactory::nodeIndexAtPoint(Point point) const
{
    const float rootRadius = PlanetDrawer::radiusForPlanetType(kRootPlanetType);
    const float nodeRadius = PlanetDrawer::radiusForPlanetType(kNodePlanetType);
    // A node is tested before its descendants, the first hit in tree order wins.
    const float reach = std::max(rootRadius, nodeRadius);
    const std::vector<Point>& positions = mLayout->positions;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const Point p = positions[i];
        const float dx = float(point.x - p.x);
        const float dy = float(point.y - p.y);
        if (std::abs(dx) > reach || std::abs(dy) > reach)
            continue;
        const float limit = i > 0 ? nodeRadius : rootRadius;
        if (std::sqrt(dx * dx + dy * dy) <= limit)
            return qint64(i);
    }
    return -1;
}

const GraphNode* GraphTileFactory::nodeAtPoint(Point point) const
{
    const qint64 node = nodeIndexAtPoint(point);
    if (node < 0)
        return nullptr;
    root();
    return mNodes[std::size_t(node)];
}

IdeaPtr GraphTileFactory::ideaAtPoint(Point point) const
{
    const qint64 node = nodeIndexAtPoint(point);
    return node >= 0 ? graph().idea(std::size_t(node)) : nullptr;
}

bool GraphTileFactory::noteAtPoint(Point point) const
{
    const qint64 node = nodeIndexAtPoint(point);
    return node >= 0 && noteAtPoint(point, node);
}

bool GraphTileFactory::noteAtPoint(Point point, qint64 node) const
{
    if (node < 0 || std::size_t(node) >= graph().size() || !graph().hasNote(std::size_t(node)))
        return false;
    PlanetDrawer drawer(node > 0 ? kNodePlanetType : kRootPlanetType);
    drawer.setNoteNumber(1);
    return drawer.hitsNote(point - mLayout->positions[std::size_t(node)]);
}

Point GraphTileFactory::ideaLocation(const IdeaPtr& idea) const
{
    return idea ? ideaLocation(idea->identifier()) : Point();
}

Point GraphTileFactory::ideaLocation(const QString& identifier) const
{
    const qint64 node = graph().firstWithIdentifier(identifier);
    return node >= 0 ? mLayout->positions[std::size_t(node)] : Point();
}

} // namespace corvex
