#pragma once

#include "model/Idea.h"
#include "platform/gfx/Point.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <vector>

namespace corvex {

class Color;
class IconImage;

// What a tile needs to draw one idea, copied from the idea on the main thread when the
// overview is built, so that drawing on another thread never reads the live tree.
struct GraphNodeDrawing
{
    QString text;
    std::shared_ptr<Color> color; // immutable once made
    QVImage image;
    std::shared_ptr<IconImage> icon;
    bool isLink = false;
    bool hasURL = false;
};

// One node of the overview's mirror of an idea tree: the idea it stands for (main thread
// only), its identifier, the copy of its drawing data (when its maker took one), and the
// layout's results. Children are owned; the
// parent is a plain back pointer kept by addNode and remove. Destroying a node frees its
// subtree without recursion, so any depth is safe on any thread.
class GraphNode
{
public:
    // A node for the idea (null for a node without one) with its identifier.
    explicit GraphNode(IdeaPtr idea);
    ~GraphNode();
    GraphNode(const GraphNode&) = delete;
    GraphNode& operator=(const GraphNode&) = delete;

    // Called once for each node visited, with its depth.
    using Visitor = std::function<void(GraphNode& node, qint64 depth)>;

    // Pre-order from this node with the given start depth, without recursion. The visitor may
    // add children to the node it is given: they are visited.
    void traverseNaturally(const Visitor& visit, qint64 depth);

    const IdeaPtr& idea() const { return mIdea; }
    GraphNode* parent() const { return mParent; }
    const std::vector<std::unique_ptr<GraphNode>>& children() const { return mChildren; }
    qint64 size() const { return qint64(mChildren.size()); }
    GraphNode* getNode(qint64 index) const;
    GraphNode* firstNodeOrNil() const { return mChildren.empty() ? nullptr : mChildren.front().get(); }
    GraphNode* lastNodeOrNil() const { return mChildren.empty() ? nullptr : mChildren.back().get(); }

    GraphNode& addNode(std::unique_ptr<GraphNode> node);
    GraphNode& addNodeAtIndex(qint64 index, std::unique_ptr<GraphNode> node);
    // Detaches the child (nothing when it is not one) and answers it.
    std::unique_ptr<GraphNode> remove(const GraphNode* node);
    std::unique_ptr<GraphNode> removeNodeAtIndex(qint64 index);
    std::unique_ptr<GraphNode> removeLast();

    float angle() const { return mAngle; }
    void setAngle(float angle) { mAngle = angle; }
    float radius() const { return mRadius; }
    void setRadius(float radius) { mRadius = radius; }
    Point center() const { return mCenter; }
    void setCenter(Point center) { mCenter = center; }
    qint64 noteNumber() const { return mNoteNumber; }
    void setNoteNumber(qint64 number) { mNoteNumber = number; }

    const QString& identifier() const { return mIdentifier; }
    // The drawing data; empty unless set.
    const GraphNodeDrawing& drawing() const { return mDrawing; }
    void setDrawing(GraphNodeDrawing drawing) { mDrawing = std::move(drawing); }

private:
    IdeaPtr mIdea;
    GraphNode* mParent = nullptr;
    std::vector<std::unique_ptr<GraphNode>> mChildren;
    QString mIdentifier;
    GraphNodeDrawing mDrawing;
    Point mCenter;
    float mAngle = 0;
    float mRadius = 0;
    qint64 mNoteNumber = 0;
};

} // namespace corvex
