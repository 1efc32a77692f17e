#pragma once

#include "overview/FlatGraph.h"
#include "overview/GraphNode.h"
#include "overview/GraphTileSource.h"
#include "platform/gfx/Rect.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvex {

class GraphicsContext;
class PlanetDrawer;

// An idea tree as a drawable overview: builds the flat mirror of the tree (copying every
// idea's drawing data and the filter's answers on the main thread), lays it out, moves it
// into content coordinates (y downward, (0, 0) to contentSize), and then draws any rectangle
// of the content at any zoom: the connecting circle, arcs and segments, then every planet
// over its descendants. Tells which idea or note mark lies under a content point and where
// an idea is drawn.
//
// Threads: built on the main thread; afterwards drawTile and createTile run on any thread
// (each call makes its own planet drawers) and read only the copies, never an idea, the
// filter or interface state; the hit tests run on the main thread. Nothing changes after
// construction except noteStyle, which its owner sets before the first drawing. Usable
// without a window (printing and image export draw the whole content once).
class GraphTileFactory : public GraphTileSource
{
public:
    using Filter = std::function<bool(const IdeaPtr&)>;

    // `centerToRoot`: the root lands in the middle of the content (parts may then lie outside
    // it); otherwise the laid-out bounds map exactly onto the content.
    GraphTileFactory(const IdeaPtr& idea, Filter filter, bool centerToRoot);
    // The same, sharing the laid-out mirror of `previous` (may be null) when that was made
    // for the same idea and centring and no idea has changed since: then only the filter's
    // answers are taken anew.
    GraphTileFactory(const IdeaPtr& idea, Filter filter, bool centerToRoot, const GraphTileFactory* previous);
    // The factory of `base`'s laid-out mirror with the nodes `faded` flags (one a node, 1 for
    // a node the search left out; GraphSearch) drawn faded. Any thread.
    static std::shared_ptr<GraphTileFactory> withFaded(const GraphTileFactory& base,
                                                       std::vector<quint8> faded);
    ~GraphTileFactory() override;
    GraphTileFactory(const GraphTileFactory&) = delete;
    GraphTileFactory& operator=(const GraphTileFactory&) = delete;

    Size contentSize() const;
    // 0 no note marks, 1 the note mark on ideas with a note, 2 their note numbers.
    quint64 noteStyle() const { return mNoteStyle.load(); }
    void setNoteStyle(quint64 style) { mNoteStyle.store(style); }

    // Draws what falls into the content rectangle; the context's user space must be the
    // content space (y downward) scaled by `zoom`.
    void drawTile(const Rect& rect, double zoom, GraphicsContext& context) const;
    // A new bitmap of `pixelSize` showing the rectangle, its top row at the rectangle's top;
    // stops early (answering null) once `keepGoing` (when given) turns false.
    QImage createTile(const Rect& rect, Size pixelSize,
                      const std::atomic<bool>* keepGoing = nullptr) const override;

    // Main thread. The idea under a content point (its planet's circle), null for none.
    IdeaPtr ideaAtPoint(Point point) const;
    // The node under a content point (its index in graph()), -1 for none.
    qint64 nodeIndexAtPoint(Point point) const;
    // The same node of root()'s tree, null for none.
    const GraphNode* nodeAtPoint(Point point) const;
    // Whether the point lies on the note badge of the idea under it.
    bool noteAtPoint(Point point) const;
    // The same for a node already found under the point.
    bool noteAtPoint(Point point, qint64 node) const;
    // The drawn position of the idea with that idea's identifier; (0, 0) when not there.
    Point ideaLocation(const IdeaPtr& idea) const;
    Point ideaLocation(const QString& identifier) const;
    // The drawn position: the centre, one planet radius further out along the parent's
    // direction below the first generation.
    Point drawnPosition(const GraphNode& node) const;
    // The same for node i of graph().
    Point drawnPosition(std::size_t node) const;

    // Whether node i of graph() is drawn faded (the filter or the search left it out).
    bool isFaded(std::size_t i) const { return !mFaded.empty() && mFaded[i] != 0; }
    // The laid-out mirror, centres in content coordinates.
    const FlatGraph& graph() const;
    qint64 nodeCount() const { return qint64(graph().size()); }
    // Whether this factory shares its laid-out mirror with `other`.
    bool sharesLayoutWith(const GraphTileFactory& other) const { return mLayout == other.mLayout; }
    // The laid-out tree as nodes, for callers that walk it; made on the first call (main
    // thread), so that the overview itself never pays for it.
    const GraphNode& root() const;

private:
    struct Line;
    struct Layout;
    struct SharedLayout
    {
        explicit SharedLayout() = default;
    };

public:
    // Use withFaded; public only for std::make_shared.
    GraphTileFactory(SharedLayout, const GraphTileFactory& base, std::vector<quint8> faded);

private:
    void drawLines(const Rect& rect, double zoom, GraphicsContext& context) const;
    // False when stopped by `keepGoing`.
    bool drawPlanets(const Rect& rect, double zoom, GraphicsContext& context,
                     const std::atomic<bool>* keepGoing) const;

    double mExtra = 56;
    double mNodeSide = 140; // the planets' drawing squares at scale 1
    double mRootSide = 190;
    std::shared_ptr<const Layout> mLayout; // never changed once made; shared by factories
    std::vector<quint8> mFaded;            // the filter refused the node's idea
    std::atomic<quint64> mNoteStyle{0};
    mutable std::once_flag mRootMade;
    mutable std::unique_ptr<GraphNode> mRoot;
    mutable std::vector<GraphNode*> mNodes; // of mRoot's tree, in pre-order
};

} // namespace corvex
