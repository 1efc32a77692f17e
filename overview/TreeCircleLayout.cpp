#include "overview/TreeCircleLayout.h"

#include "graphics/Geometry.h"
#include "overview/FlatGraph.h"
#include "overview/Graph.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace corvex {

namespace {

constexpr double kFullTurn = M_PI * 2;

} // namespace

void TreeCircleLayout::layout(Graph& graph, float nodeSize, float radiusIncrement)
{
    TreeCircleLayout run(graph, nodeSize, radiusIncrement);
}

void TreeCircleLayout::layout(FlatGraph& graph, float nodeSize, float radiusIncrement)
{
    TreeCircleLayout run(graph, nodeSize, radiusIncrement);
}

TreeCircleLayout::TreeCircleLayout(Graph& graph, float nodeSize, float radiusIncrement)
    : mElemSize(double(nodeSize)), mRadiusInc(double(radiusIncrement))
{
    std::vector<GraphNode*> nodes;
    FlatGraph flat(graph, nodes);
    run(flat);
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        GraphNode& node = *nodes[i];
        node.setAngle(flat.angle(i));
        node.setRadius(flat.radius(i));
        node.setCenter(flat.center(i));
        if (flat.noteNumber(i) != 0)
            node.setNoteNumber(flat.noteNumber(i));
    }
    graph.setBounds(flat.bounds());
}

TreeCircleLayout::TreeCircleLayout(FlatGraph& graph, float nodeSize, float radiusIncrement)
    : mElemSize(double(nodeSize)), mRadiusInc(double(radiusIncrement))
{
    run(graph);
}

void TreeCircleLayout::run(FlatGraph& graph)
{
    calculateAngles(graph);
    calculateLevelRadiuses(graph);
    balanceLevelRadiuses();
    copyResults(graph);
    fineTuneFinalGraph(graph);
    calculatePositions(graph);
}

double TreeCircleLayout::levelRadiusAtLevel(quint64 level) const
{
    return level < mLevelRadiuses.size() ? mLevelRadiuses[std::size_t(level)] : 0.0;
}

double TreeCircleLayout::angleGap(float a, float b)
{
    const float difference = b - a;
    const double turn = double(difference) + kFullTurn;
    // The remainder, without fmod where it is plain: within one turn either way the value
    // itself, in the next turn up the value less one turn (exact, the two being within a
    // factor of two).
    if (turn > -kFullTurn && turn < kFullTurn)
        return turn;
    if (turn >= kFullTurn && turn < 2 * kFullTurn)
        return turn - kFullTurn;
    return std::fmod(turn, kFullTurn);
}

double TreeCircleLayout::findSmallestNonZeroAngleDistance(const std::vector<float>& angles)
{
    double best = kFullTurn;
    for (std::size_t i = 0; i + 1 < angles.size(); ++i) {
        const double gap = angleGap(angles[i], angles[i + 1]);
        if (gap > 0 && gap < best)
            best = gap;
    }
    return best;
}

void TreeCircleLayout::calculateAngles(FlatGraph& graph)
{
    // Every leaf reaches the deepest level through its padding, so the deepest level holds
    // the leaves in tree order; a padded leaf and its chain share one angle.
    const std::size_t n = graph.size();
    std::vector<float>& angle = graph.angles();
    std::size_t leaves = 0;
    for (std::size_t i = 0; i < n; ++i)
        leaves += graph.hasChildren(i) ? 0 : 1;
    std::size_t leaf = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (!graph.hasChildren(i)) {
            angle[i] = float((double(leaf) * M_PI * 2) / double(leaves));
            ++leaf;
        }
    // Children follow their parent in pre-order: walking backwards finds them done.
    for (std::size_t i = n; i-- > 0;) {
        if (!graph.hasChildren(i))
            continue;
        const std::size_t first = i + 1;
        if (graph.end(first) == graph.end(i)) {
            angle[i] = angle[first];
            continue;
        }
        std::size_t last = first;
        while (graph.end(last) < graph.end(i))
            last = std::size_t(graph.end(last));
        const float sum = angle[last] + angle[first];
        angle[i] = sum * 0.5f;
    }
}

void TreeCircleLayout::calculateLevelRadiuses(FlatGraph& graph)
{
    // The padded tree's level d, in order, is every node of depth d and every leaf above d:
    // the frontier. Going one level down replaces each node of the level above that has
    // children by its children. Two neighbouring leaves stay neighbours on every deeper
    // level, so the smallest gap of a level is the smallest gap between leaves that met
    // above it, or a gap touching a node of the level itself: each level costs its own nodes.
    const std::size_t n = graph.size();
    const std::size_t levels = std::size_t(graph.levels());
    const std::vector<float>& angle = graph.angles();
    // Each node's neighbours on the level being made, side by side in memory.
    struct Neighbours
    {
        qint32 prev = -1;
        qint32 next = -1;
    };
    std::vector<Neighbours> link(n);
    // The nodes of each depth in tree order, one array sorted by depth.
    std::vector<qint32> levelStart(levels + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        ++levelStart[std::size_t(graph.depth(i)) + 1];
    for (std::size_t l = 0; l < levels; ++l)
        levelStart[l + 1] += levelStart[l];
    std::vector<qint32> byDepth(n);
    {
        std::vector<qint32> fill(levelStart.begin(), levelStart.end() - 1);
        for (std::size_t i = 0; i < n; ++i)
            byDepth[std::size_t(fill[std::size_t(graph.depth(i))]++)] = qint32(i);
    }
    const auto gapOf = [&](qint32 a, qint32 b) {
        return angleGap(angle[std::size_t(a)], angle[std::size_t(b)]);
    };
    const auto isLeaf = [&](qint32 i) { return !graph.hasChildren(std::size_t(i)); };

    double settledLeaves = kFullTurn; // smallest positive gap between neighbouring leaves so far
    mLevelRadiuses.assign(levels, 0.0);
    for (std::size_t level = 1; level < levels; ++level) {
        for (qint32 k = levelStart[level - 1]; k < levelStart[level]; ++k) {
            const qint32 u = byDepth[std::size_t(k)];
            const std::size_t ui = std::size_t(u);
            if (!graph.hasChildren(ui))
                continue;
            const qint32 p = link[ui].prev;
            const qint32 q = link[ui].next;
            qint32 last = p;
            for (qint32 c = u + 1; c < graph.end(ui); c = graph.end(std::size_t(c))) {
                link[std::size_t(c)].prev = last;
                if (last >= 0)
                    link[std::size_t(last)].next = c;
                last = c;
            }
            link[std::size_t(last)].next = q;
            if (q >= 0)
                link[std::size_t(q)].prev = last;
        }
        double smallest = settledLeaves;
        for (qint32 k = levelStart[level]; k < levelStart[level + 1]; ++k) {
            const qint32 u = byDepth[std::size_t(k)];
            const Neighbours around = link[std::size_t(u)];
            for (const auto& [a, b] : {std::pair{around.prev, u}, std::pair{u, around.next}}) {
                if (a < 0 || b < 0)
                    continue;
                const double gap = gapOf(a, b);
                if (!(gap > 0))
                    continue;
                smallest = std::min(smallest, gap);
                if (isLeaf(a) && isLeaf(b))
                    settledLeaves = std::min(settledLeaves, gap);
            }
        }
        mLevelRadiuses[level] = std::max(mLevelRadiuses[level - 1] + mRadiusInc, mElemSize / smallest);
    }
}

void TreeCircleLayout::balanceLevelRadiuses()
{
    if (mLevelRadiuses.size() < 3)
        return;
    const double weight = double(0.3f);
    for (std::size_t level = mLevelRadiuses.size() - 1; level >= 2; --level) {
        const double t =
            Geometry::interpolateLinearlyFromDouble(mLevelRadiuses[level - 2], mLevelRadiuses[level], weight);
        if (t > mLevelRadiuses[level - 1])
            mLevelRadiuses[level - 1] = t;
    }
}

void TreeCircleLayout::copyResults(FlatGraph& graph) const
{
    // The padded tree holds the same idea nodes in the same order; a node takes the results
    // of the last node of its identifier, as a search by identifier would find. Nearly every
    // identifier is unique: two small bit sets keyed by the identifiers' hashes (a few bits a
    // node, so they stay in the cache however large the tree) set aside the few nodes whose
    // hashes might be shared, and only those go through a table of the last node of each
    // identifier, strings compared where hashes meet.
    const std::size_t n = graph.size();
    std::vector<float>& angle = graph.angles();
    std::vector<float>& radius = graph.radii();
    std::size_t bits = 1024;
    while (bits < 8 * n)
        bits *= 2;
    const std::size_t bitMask = bits - 1;
    std::vector<quint64> seen(bits / 64, 0);
    std::vector<quint64> seenTwice(bits / 64, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (!graph.hasIdea(i)) {
            angle[i] = 0;
            radius[i] = 0;
            continue;
        }
        radius[i] = float(mLevelRadiuses[std::size_t(graph.depth(i))]);
        const std::size_t bit = graph.identifierHash(i) & bitMask;
        const quint64 flag = quint64(1) << (bit % 64);
        seenTwice[bit / 64] |= seen[bit / 64] & flag;
        seen[bit / 64] |= flag;
    }
    std::vector<qint32> shared;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t bit = graph.identifierHash(i) & bitMask;
        if (graph.hasIdea(i) && (seenTwice[bit / 64] >> (bit % 64)) & 1)
            shared.push_back(qint32(i));
    }

    // Open addressing by the hash's high bits (the low ones brought these nodes together).
    std::size_t capacity = 16;
    while (capacity < 2 * shared.size())
        capacity *= 2;
    const std::size_t mask = capacity - 1;
    const auto slotOf = [mask](quint32 hash) {
        return std::size_t(quint64(hash) * 0x9E3779B97F4A7C15ull >> 32) & mask;
    };
    std::vector<qint32> table(capacity, -1);
    std::vector<std::pair<std::size_t, std::size_t>> replaced; // node, slot
    for (const qint32 node : shared) {
        const std::size_t i = std::size_t(node);
        const quint32 hash = graph.identifierHash(i);
        std::size_t slot = slotOf(hash);
        for (;;) {
            const qint32 held = table[slot];
            if (held < 0)
                break;
            if (graph.identifierHash(std::size_t(held)) == hash &&
                graph.identifier(std::size_t(held)) == graph.identifier(i)) {
                replaced.emplace_back(std::size_t(held), slot);
                break;
            }
            slot = (slot + 1) & mask;
        }
        table[slot] = node;
    }
    // The last node of an identifier is never replaced: it keeps its own padded angle.
    for (const auto& [node, slot] : replaced) {
        const std::size_t last = std::size_t(table[slot]);
        angle[node] = angle[last];
        radius[node] = float(mLevelRadiuses[std::size_t(graph.depth(last))]);
    }
}

void TreeCircleLayout::fineTuneFinalGraph(FlatGraph& graph) const
{
    std::vector<float>& angle = graph.angles();
    std::vector<qint32>& noteNumber = graph.noteNumbers();
    qint32 noteCounter = 1; // at most one a node, and nodes are counted in 32 bits
    for (std::size_t i = 0; i < graph.size(); ++i) {
        if (graph.hasIdea(i) && graph.hasNote(i))
            noteNumber[i] = noteCounter++;
        if (graph.depth(i) < 1 || !graph.hasChildren(i))
            continue;
        const qint32 end = graph.end(i);
        std::size_t count = 0;
        bool grandchildren = false;
        for (qint32 c = qint32(i) + 1; c < end && !grandchildren; c = graph.end(std::size_t(c))) {
            grandchildren = graph.hasChildren(std::size_t(c));
            ++count;
        }
        if (grandchildren)
            continue;
        const float n = float(count);
        std::size_t k = 0;
        for (qint32 c = qint32(i) + 1; c < end; c = graph.end(std::size_t(c)), ++k) {
            const float term = float(k) - (n * 0.5f - 0.5f);
            const std::size_t child = std::size_t(c);
            angle[child] = float(double(angle[i]) + double(term) * (mElemSize / double(graph.radius(child))));
        }
    }
}

void TreeCircleLayout::calculatePositions(FlatGraph& graph) const
{
    qint64 minX = std::numeric_limits<qint32>::max();
    qint64 minY = std::numeric_limits<qint32>::max();
    qint64 maxX = std::numeric_limits<qint32>::min();
    qint64 maxY = std::numeric_limits<qint32>::min();
    const auto awayFromZero = [](double v) { return v > 0 ? std::ceil(v) : std::floor(v); };
    std::vector<Point>& centers = graph.centers();
    for (std::size_t i = 0; i < graph.size(); ++i) {
        const double angle = double(graph.angle(i));
        const double radius = double(graph.radius(i));
        const double x = awayFromZero(std::cos(angle) * radius);
        const double y = awayFromZero(std::sin(angle) * radius);
        centers[i] = Point(x, y);
        if (x < double(minX))
            minX = qint32(x);
        if (x > double(maxX))
            maxX = qint32(x);
        if (y < double(minY))
            minY = qint32(y);
        if (y > double(maxY))
            maxY = qint32(y);
    }
    minX = qint64(std::min(double(minX), -mRadiusInc));
    minY = qint64(std::min(double(minY), -mRadiusInc));
    maxX = qint64(std::max(double(maxX), mRadiusInc));
    maxY = qint64(std::max(double(maxY), mRadiusInc));
    minX = qint64(double(minX) - mElemSize);
    minY = qint64(double(minY) - mElemSize);
    maxX = qint64(double(maxX) + mElemSize);
    maxY = qint64(double(maxY) + mElemSize);
    graph.setBounds(Rect(double(minX) - mElemSize, double(minY) - mElemSize,
                         double(maxX - minX) + 2 * mElemSize, double(maxY - minY) + 2 * mElemSize));
}

} // namespace corvex
