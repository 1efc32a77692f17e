#include "overview/Graph.h"

#include <utility>

namespace corvex {

namespace {

// Copies the shape under `source` onto `target` with new nodes made by `make`, without
// recursion.
template <class Source, class Make> void mirrorTree(const Source& source, GraphNode& target, Make make)
{
    std::vector<std::pair<const Source*, GraphNode*>> stack{{&source, &target}};
    while (!stack.empty()) {
        const auto [from, to] = stack.back();
        stack.pop_back();
        const auto& children = make.childrenOf(*from);
        for (const auto& child : children) {
            GraphNode& made = to->addNode(make.node(child));
            stack.push_back({make.address(child), &made});
        }
    }
}

struct IdeaMirror
{
    const std::vector<IdeaPtr>& childrenOf(const Idea& idea) const { return idea.ideas(); }
    std::unique_ptr<GraphNode> node(const IdeaPtr& idea) const { return std::make_unique<GraphNode>(idea); }
    const Idea* address(const IdeaPtr& idea) const { return idea.get(); }
};

struct NodeMirror
{
    const std::vector<std::unique_ptr<GraphNode>>& childrenOf(const GraphNode& node) const
    {
        return node.children();
    }
    std::unique_ptr<GraphNode> node(const std::unique_ptr<GraphNode>& source) const
    {
        return std::make_unique<GraphNode>(source->idea());
    }
    const GraphNode* address(const std::unique_ptr<GraphNode>& source) const { return source.get(); }
};

const std::vector<GraphNode*> kNoNodes;

} // namespace

Graph::Graph(const IdeaPtr& idea) : mRoot(std::make_unique<GraphNode>(idea))
{
    if (idea)
        mirrorTree(*idea, *mRoot, IdeaMirror{});
    reconstructLevels();
}

Graph::Graph(const Graph& other) : mRoot(std::make_unique<GraphNode>(other.root().idea()))
{
    mirrorTree(other.root(), *mRoot, NodeMirror{});
    reconstructLevels();
}

const std::vector<GraphNode*>& Graph::nodesAtLevel(qint64 level) const
{
    if (level < 0 || level >= levels())
        return kNoNodes;
    return mLevels[std::size_t(level)];
}

void Graph::traverseNaturally(const GraphNode::Visitor& visit)
{
    mRoot->traverseNaturally(visit, 0);
}

GraphNode* Graph::findNodeByIdentifier(const QString& identifier)
{
    GraphNode* found = nullptr;
    traverseNaturally([&](GraphNode& node, qint64) {
        if (node.idea() && node.identifier() == identifier)
            found = &node;
    });
    return found;
}

void Graph::reconstructLevels()
{
    mLevels.clear();
    traverseNaturally([this](GraphNode& node, qint64 depth) {
        while (qint64(mLevels.size()) <= depth)
            mLevels.emplace_back();
        mLevels[std::size_t(depth)].push_back(&node);
    });
}

} // namespace corvex
