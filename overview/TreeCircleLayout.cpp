#include "overview/TreeCircleLayout.h"

#include "graphics/Geometry.h"
#include "overview/Graph.h"

#include <QHash>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace corvex {

namespace {

constexpr double kFullTurn = M_PI * 2;

} // namespace

// The graph flattened in pre-order: index 0 is the root, the children of a node follow their
// parent, and each node's children are listed in order.
struct TreeCircleLayout::Tree
{
    std::vector<GraphNode*> nodes;
    std::vector<int> depth;
    std::vector<int> childStart; // into `children`
    std::vector<int> childCount;
    std::vector<int> children;
    std::vector<float> angle; // the padded tree's angle of each node
    int deepest = 0;

    explicit Tree(Graph& graph)
    {
        // One walk records each node's parent; pre-order lists every node's children in
        // order after it, so the child lists follow from the parents.
        std::vector<int> parent;
        struct Step
        {
            GraphNode* node;
            int parent;
            int depth;
        };
        std::vector<Step> stack{{&graph.root(), -1, 0}};
        while (!stack.empty()) {
            const Step step = stack.back();
            stack.pop_back();
            const int index = int(nodes.size());
            nodes.push_back(step.node);
            parent.push_back(step.parent);
            depth.push_back(step.depth);
            deepest = std::max(deepest, step.depth);
            const auto& list = step.node->children();
            for (auto it = list.rbegin(); it != list.rend(); ++it)
                stack.push_back({it->get(), index, step.depth + 1});
        }
        const std::size_t n = nodes.size();
        childCount.assign(n, 0);
        childStart.assign(n, 0);
        for (std::size_t i = 1; i < n; ++i)
            ++childCount[std::size_t(parent[i])];
        int next = 0;
        for (std::size_t i = 0; i < n; ++i) {
            childStart[i] = next;
            next += childCount[i];
        }
        children.resize(std::size_t(next));
        std::vector<int> filled(n, 0);
        for (std::size_t i = 1; i < n; ++i) {
            const std::size_t p = std::size_t(parent[i]);
            children[std::size_t(childStart[p] + filled[p]++)] = int(i);
        }
        angle.assign(n, 0.0f);
    }

    int firstChild(std::size_t i) const { return children[std::size_t(childStart[i])]; }
    int lastChild(std::size_t i) const { return children[std::size_t(childStart[i] + childCount[i] - 1)]; }
};

void TreeCircleLayout::layout(Graph& graph, float nodeSize, float radiusIncrement)
{
    TreeCircleLayout run(graph, nodeSize, radiusIncrement);
}

TreeCircleLayout::TreeCircleLayout(Graph& graph, float nodeSize, float radiusIncrement)
    : mElemSize(double(nodeSize)), mRadiusInc(double(radiusIncrement))
{
    Tree tree(graph);
    calculateAngles(tree);
    calculateLevelRadiuses(tree);
    balanceLevelRadiuses();
    copyResults(tree);
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
    return std::fmod(double(difference) + kFullTurn, kFullTurn);
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

void TreeCircleLayout::calculateAngles(Tree& tree) const
{
    // Every leaf reaches the deepest level through its padding, so the deepest level holds
    // the leaves in tree order; a padded leaf and its chain share one angle.
    const std::size_t n = tree.nodes.size();
    std::size_t leaves = 0;
    for (std::size_t i = 0; i < n; ++i)
        leaves += tree.childCount[i] == 0 ? 1 : 0;
    std::size_t leaf = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (tree.childCount[i] == 0) {
            tree.angle[i] = float((double(leaf) * M_PI * 2) / double(leaves));
            ++leaf;
        }
    // Children follow their parent in pre-order: walking backwards finds them done.
    for (std::size_t i = n; i-- > 0;) {
        if (tree.childCount[i] == 1) {
            tree.angle[i] = tree.angle[std::size_t(tree.firstChild(i))];
        } else if (tree.childCount[i] > 1) {
            const float sum =
                tree.angle[std::size_t(tree.lastChild(i))] + tree.angle[std::size_t(tree.firstChild(i))];
            tree.angle[i] = sum * 0.5f;
        }
    }
}

void TreeCircleLayout::calculateLevelRadiuses(const Tree& tree)
{
    // The padded tree's level d, in order, is every node of depth d and every leaf above d:
    // the frontier. Going one level down replaces each node of the level above that has
    // children by its children. Two neighbouring leaves stay neighbours on every deeper
    // level, so the smallest gap of a level is the smallest gap between leaves that met
    // above it, or a gap touching a node of the level itself: each level costs its own nodes.
    const std::size_t n = tree.nodes.size();
    std::vector<int> prev(n, -1);
    std::vector<int> next(n, -1);
    std::vector<std::vector<int>> byDepth(std::size_t(tree.deepest) + 1);
    for (std::size_t i = 0; i < n; ++i)
        byDepth[std::size_t(tree.depth[i])].push_back(int(i));
    const auto gapOf = [&](int a, int b) {
        return angleGap(tree.angle[std::size_t(a)], tree.angle[std::size_t(b)]);
    };
    const auto isLeaf = [&](int i) { return tree.childCount[std::size_t(i)] == 0; };

    double settledLeaves = kFullTurn; // smallest positive gap between neighbouring leaves so far
    mLevelRadiuses.assign(std::size_t(tree.deepest) + 1, 0.0);
    for (int level = 1; level <= tree.deepest; ++level) {
        for (const int u : byDepth[std::size_t(level - 1)]) {
            const std::size_t ui = std::size_t(u);
            const int count = tree.childCount[ui];
            if (count == 0)
                continue;
            const int p = prev[ui];
            const int q = next[ui];
            int last = p;
            for (int k = 0; k < count; ++k) {
                const int c = tree.children[std::size_t(tree.childStart[ui] + k)];
                prev[std::size_t(c)] = last;
                if (last >= 0)
                    next[std::size_t(last)] = c;
                last = c;
            }
            next[std::size_t(last)] = q;
            if (q >= 0)
                prev[std::size_t(q)] = last;
        }
        double smallest = settledLeaves;
        for (const int u : byDepth[std::size_t(level)]) {
            for (const auto& [a, b] :
                 {std::pair{prev[std::size_t(u)], u}, std::pair{u, next[std::size_t(u)]}}) {
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
        const std::size_t l = std::size_t(level);
        mLevelRadiuses[l] = std::max(mLevelRadiuses[l - 1] + mRadiusInc, mElemSize / smallest);
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

void TreeCircleLayout::copyResults(Tree& tree) const
{
    // The padded tree holds the same idea nodes in the same order; a node takes the results
    // of the last node of its identifier, as a search by identifier would find.
    const std::size_t n = tree.nodes.size();
    QHash<QString, std::size_t> lastByIdentifier;
    lastByIdentifier.reserve(qsizetype(n));
    for (std::size_t i = 0; i < n; ++i)
        if (tree.nodes[i]->idea())
            lastByIdentifier.insert(tree.nodes[i]->identifier(), i);
    for (std::size_t i = 0; i < n; ++i) {
        GraphNode& node = *tree.nodes[i];
        const auto it = node.idea() ? lastByIdentifier.constFind(node.identifier()) : lastByIdentifier.cend();
        if (it == lastByIdentifier.cend()) {
            node.setAngle(0);
            node.setRadius(0);
            continue;
        }
        node.setAngle(tree.angle[*it]);
        node.setRadius(float(mLevelRadiuses[std::size_t(tree.depth[*it])]));
    }
}

void TreeCircleLayout::fineTuneFinalGraph(Graph& graph) const
{
    qint64 noteCounter = 1;
    graph.traverseNaturally([&](GraphNode& node, qint64 depth) {
        if (node.idea() && node.idea()->hasNote())
            node.setNoteNumber(noteCounter++);
        const auto& children = node.children();
        if (depth < 1 || children.empty())
            return;
        for (const auto& child : children)
            if (!child->children().empty())
                return;
        const float n = float(children.size());
        for (std::size_t i = 0; i < children.size(); ++i) {
            GraphNode& child = *children[i];
            const float term = float(i) - (n * 0.5f - 0.5f);
            child.setAngle(float(double(node.angle()) + double(term) * (mElemSize / double(child.radius()))));
        }
    });
}

void TreeCircleLayout::calculatePositions(Graph& graph) const
{
    qint64 minX = std::numeric_limits<qint32>::max();
    qint64 minY = std::numeric_limits<qint32>::max();
    qint64 maxX = std::numeric_limits<qint32>::min();
    qint64 maxY = std::numeric_limits<qint32>::min();
    const auto awayFromZero = [](double v) { return v > 0 ? std::ceil(v) : std::floor(v); };
    graph.traverseNaturally([&](GraphNode& node, qint64) {
        const double x = awayFromZero(std::cos(double(node.angle())) * double(node.radius()));
        const double y = awayFromZero(std::sin(double(node.angle())) * double(node.radius()));
        node.setCenter(Point(x, y));
        if (x < double(minX))
            minX = qint32(x);
        if (x > double(maxX))
            maxX = qint32(x);
        if (y < double(minY))
            minY = qint32(y);
        if (y > double(maxY))
            maxY = qint32(y);
    });
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
