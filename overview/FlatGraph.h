#pragma once

#include "overview/GraphNode.h"
#include "platform/gfx/Point.h"
#include "platform/gfx/Rect.h"

#include <QString>
#include <QtGlobal>
#include <vector>

namespace corvex {

class Graph;

// The overview's mirror of an idea tree as arrays in visiting order (depth-first pre-order,
// index 0 the root): the shape, each node's identity and drawing data, and the layout's
// results. The children of node i are i + 1, end(i + 1), end(end(i + 1)), ... up to end(i).
// Laying out, drawing and hit testing then read memory in order instead of chasing nodes
// spread over the heap; a tree of any size costs a few allocations. Made without recursion,
// so any depth is safe on any thread.
class FlatGraph
{
public:
    // The mirror of the tree from `idea` (null: a lone node without idea), with a copy of
    // every idea's drawing data. Main thread: it reads the ideas.
    explicit FlatGraph(const IdeaPtr& idea);
    // The shape and identities of a graph's nodes, without drawing data; `nodes` receives the
    // graph's nodes in this mirror's order.
    FlatGraph(Graph& graph, std::vector<GraphNode*>& nodes);

    std::size_t size() const { return mParent.size(); }
    // The parent's index, -1 for the root.
    qint32 parent(std::size_t i) const { return mParent[i]; }
    qint32 depth(std::size_t i) const { return mDepth[i]; }
    // One past the last node of the subtree of i.
    qint32 end(std::size_t i) const { return mEnd[i]; }
    bool hasChildren(std::size_t i) const { return std::size_t(mEnd[i]) > i + 1; }
    // The number of depths (the deepest depth + 1).
    qint32 levels() const { return mLevels; }

    // The idea of a node; null for a node without one, and in a mirror of a graph.
    const IdeaPtr& idea(std::size_t i) const;
    bool hasIdea(std::size_t i) const { return (mFlags[i] & HasIdea) != 0; }
    bool hasNote(std::size_t i) const { return (mFlags[i] & HasNote) != 0; }
    // The identifier, read where the idea (or the graph's node) keeps it: an idea's
    // identifier never changes, and the mirror holds the idea. Main thread.
    const QString& identifier(std::size_t i) const;
    quint32 identifierHash(std::size_t i) const { return mIdentifierHashes[i]; }
    // The first node in pre-order whose idea has the identifier; -1 when none has. Linear,
    // as such a search is; used for single look-ups.
    qint64 firstWithIdentifier(const QString& identifier) const;

    // ---- The copy of the drawing data (not kept in a mirror of a graph), any thread
    const QString& text(std::size_t i) const { return mTexts[i]; }
    // The colour the planet is drawn with (DrawnColor's: a colourless idea's place gives one).
    const std::shared_ptr<Color>& color(std::size_t i) const { return mPalette[mColorIndex[i]]; }
    // The idea's picture; one holding no image for most ideas.
    const QVImage& picture(std::size_t i) const;
    const std::shared_ptr<IconImage>& icon(std::size_t i) const;
    bool isLink(std::size_t i) const { return (mFlags[i] & IsLink) != 0; }
    // What the map window's search reads of a node: the text and symbol of its idea, or of a
    // link's linked idea; none (false) for an idea that holds no text or a link whose idea is
    // gone.
    bool isSearched(std::size_t i) const { return (mFlags[i] & Searched) != 0; }
    const QString& searchedText(std::size_t i) const;
    const std::shared_ptr<IconImage>& searchedIcon(std::size_t i) const;
    bool hasURL(std::size_t i) const { return (mFlags[i] & HasURL) != 0; }
    GraphNodeDrawing drawing(std::size_t i) const;

    // ---- The layout's results
    float angle(std::size_t i) const { return mAngle[i]; }
    float radius(std::size_t i) const { return mRadius[i]; }
    Point center(std::size_t i) const { return mCenter[i]; }
    qint64 noteNumber(std::size_t i) const;
    const Rect& bounds() const { return mBounds; }
    std::vector<float>& angles() { return mAngle; }
    std::vector<float>& radii() { return mRadius; }
    std::vector<Point>& centers() { return mCenter; }
    std::vector<qint32>& noteNumbers() { return mNoteNumber; }
    void setBounds(const Rect& bounds) { mBounds = bounds; }
    // Moves every centre by minus `shift`.
    void moveCenters(Point shift);
    // Lets go of what only the layout reads (the centres, depths and identifier hashes), for
    // an owner that keeps the positions it drew them at: center(), depth() and
    // identifierHash() are not to be asked afterwards, nor noteNumbers() (noteNumber() is
    // kept for the nodes with a note).
    void releaseLayoutData();

    static quint32 hashIdentifier(const QString& identifier);

private:
    enum Flag : quint8
    {
        HasIdea = 1,
        HasNote = 2,
        IsLink = 4,
        HasURL = 8,
        Searched = 16,
        HasIcon = 32,
        HasPicture = 64,
    };
    // What few nodes hold, kept for those only, in pre-order: a node's entry found by a
    // binary search.
    template <class Value> struct Sparse
    {
        qint32 node;
        Value value;
    };
    template <class Value>
    static const Value* sparseOf(const std::vector<Sparse<Value>>& entries, std::size_t i);
    // A link's linked idea as the search reads it.
    struct LinkedContent
    {
        qint32 node;
        QString text;
        std::shared_ptr<IconImage> icon;
    };
    const LinkedContent* linkedContent(std::size_t i) const;

    // Appends a node below `parent` and answers its index.
    std::size_t append(qint32 parent, qint32 depth, quint8 flags, const QString* identifier);
    struct PaletteMaker;
    // Copies the drawing data of node i's idea, the `place`-th child of its parent (its
    // parent's copied first). Main thread.
    void copyDrawing(std::size_t i, std::size_t place, PaletteMaker& palette);
    // Fills the subtree ends and the level count from the parents; sizes the results.
    void finish();

    std::vector<qint32> mParent;
    std::vector<qint32> mDepth;
    std::vector<qint32> mEnd;
    std::vector<quint8> mFlags;
    // Read through the idea where there is one: only a mirror of a graph keeps them.
    std::vector<const QString*> mIdentifiers;
    std::vector<quint32> mIdentifierHashes;
    std::vector<IdeaPtr> mIdeas;
    std::vector<QString> mTexts;
    // A map holds few distinct colours: each node names one of the palette's.
    std::vector<quint16> mColorIndex;
    std::vector<std::shared_ptr<Color>> mPalette;
    std::vector<Sparse<std::shared_ptr<IconImage>>> mIcons;
    std::vector<Sparse<QVImage>> mPictures;
    std::vector<LinkedContent> mLinked; // in pre-order: few maps hold many links
    qint32 mLevels = 0;

    std::vector<float> mAngle;
    std::vector<float> mRadius;
    std::vector<Point> mCenter;
    std::vector<qint32> mNoteNumber;
    std::vector<Sparse<qint32>> mNoteNumbers; // once the layout's data is let go
    Rect mBounds;
};

} // namespace corvex
