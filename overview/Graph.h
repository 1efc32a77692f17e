#pragma once

#include "overview/GraphNode.h"
#include "platform/gfx/Rect.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

// The overview's light mirror of an idea tree: a GraphNode per idea, in the ideas' order,
// and the nodes of each depth in left-to-right (pre-order) order. Built without recursion,
// so a tree of the model's maximum depth is safe on any thread. Not kept in step with the
// ideas: a new overview builds a new graph.
class Graph
{
public:
    // The mirror of the tree from `idea` (null: a lone node without idea).
    explicit Graph(const IdeaPtr& idea);
    // A structural copy: new nodes for the same ideas (and identifiers), layout results zero.
    explicit Graph(const Graph& other);
    Graph& operator=(const Graph&) = delete;
    std::unique_ptr<Graph> createCopy() const { return std::make_unique<Graph>(*this); }

    GraphNode& root() const { return *mRoot; }

    qint64 levels() const { return qint64(mLevels.size()); }
    // The nodes of a depth, in tree order; empty for an index out of range.
    const std::vector<GraphNode*>& nodesAtLevel(qint64 level) const;

    const Rect& bounds() const { return mBounds; }
    void setBounds(const Rect& bounds) { mBounds = bounds; }

    void traverseNaturally(const GraphNode::Visitor& visit);
    // The node whose idea's identifier equals the string; with duplicates the last in
    // pre-order; nodes without idea never; null when none.
    GraphNode* findNodeByIdentifier(const QString& identifier);
    void reconstructLevels();

    static QString debugDescription() { return QStringLiteral("(omitted)"); }

private:
    std::unique_ptr<GraphNode> mRoot;
    std::vector<std::vector<GraphNode*>> mLevels;
    Rect mBounds;
};

} // namespace corvex
