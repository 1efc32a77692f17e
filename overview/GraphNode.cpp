#include "overview/GraphNode.h"

#include "model/Color.h"
#include "model/IconImage.h"

#include <algorithm>
#include <utility>

namespace corvex {

GraphNode::GraphNode(IdeaPtr idea) : mIdea(std::move(idea))
{
    if (mIdea)
        mIdentifier = mIdea->identifier();
}

GraphNode::~GraphNode()
{
    // Free the subtree from a list instead of nested destructors: a chain as deep as the
    // model allows must not need that much stack.
    std::vector<std::unique_ptr<GraphNode>> pending = std::move(mChildren);
    while (!pending.empty()) {
        std::unique_ptr<GraphNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->mChildren)
            pending.push_back(std::move(child));
        node->mChildren.clear();
    }
}

void GraphNode::traverseNaturally(const Visitor& visit, qint64 depth)
{
    struct Step
    {
        GraphNode* node;
        qint64 depth;
    };
    std::vector<Step> stack{{this, depth}};
    while (!stack.empty()) {
        const Step step = stack.back();
        stack.pop_back();
        visit(*step.node, step.depth);
        const auto& children = step.node->mChildren;
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back({it->get(), step.depth + 1});
    }
}

GraphNode* GraphNode::getNode(qint64 index) const
{
    if (index < 0 || index >= size())
        return nullptr;
    return mChildren[std::size_t(index)].get();
}

GraphNode& GraphNode::addNode(std::unique_ptr<GraphNode> node)
{
    return addNodeAtIndex(size(), std::move(node));
}

GraphNode& GraphNode::addNodeAtIndex(qint64 index, std::unique_ptr<GraphNode> node)
{
    node->mParent = this;
    const qint64 at = std::clamp<qint64>(index, 0, size());
    auto it = mChildren.insert(mChildren.begin() + at, std::move(node));
    return **it;
}

std::unique_ptr<GraphNode> GraphNode::remove(const GraphNode* node)
{
    for (qint64 i = 0; i < size(); ++i)
        if (mChildren[std::size_t(i)].get() == node)
            return removeNodeAtIndex(i);
    return nullptr;
}

std::unique_ptr<GraphNode> GraphNode::removeNodeAtIndex(qint64 index)
{
    if (index < 0 || index >= size())
        return nullptr;
    std::unique_ptr<GraphNode> node = std::move(mChildren[std::size_t(index)]);
    mChildren.erase(mChildren.begin() + index);
    node->mParent = nullptr;
    return node;
}

std::unique_ptr<GraphNode> GraphNode::removeLast()
{
    return removeNodeAtIndex(size() - 1);
}

} // namespace corvex
