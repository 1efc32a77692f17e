#include "overview/FlatGraph.h"

#include "overview/Graph.h"

#include "model/Color.h"
#include "model/DrawnColor.h"

#include <QHashFunctions>
#include <algorithm>
#include <limits>
#include <map>
#include <tuple>
#include <unordered_map>

namespace corvex {

namespace {

const IdeaPtr kNoIdea;
const QString kNoIdentifier;
const QVImage kNoPicture;
const std::shared_ptr<IconImage> kNoIcon;
constexpr std::size_t kLookAhead = 8;

} // namespace

// The palette's index of each colour: the same object is looked up by its address, another
// object of the same name and value shares its entry. Index 0 is no colour.
struct FlatGraph::PaletteMaker
{
    std::vector<std::shared_ptr<Color>>& palette;
    std::unordered_map<const Color*, quint16> byObject;
    std::map<std::tuple<QString, double, double, double, double>, quint16> byValue;

    quint16 indexOf(const std::shared_ptr<Color>& color)
    {
        if (!color)
            return 0;
        if (const auto found = byObject.find(color.get()); found != byObject.end())
            return found->second;
        const RGBA& rgba = color->rgba();
        const auto key = std::make_tuple(color->name(), rgba.red, rgba.green, rgba.blue, rgba.alpha);
        quint16 index = 0;
        if (const auto found = byValue.find(key); found != byValue.end()) {
            index = found->second;
        } else if (palette.size() <= std::numeric_limits<quint16>::max()) {
            // Past 65,535 distinct colours, which no map holds, the rest draw as no colour.
            index = quint16(palette.size());
            palette.push_back(color);
            byValue.emplace(key, index);
        }
        byObject.emplace(color.get(), index);
        return index;
    }
};

FlatGraph::FlatGraph(const IdeaPtr& idea)
{
    if (!idea) {
        append(-1, 0, 0, &kNoIdentifier);
        mIdeas.emplace_back();
        mTexts.emplace_back();
        mPalette.emplace_back();
        mColorIndex.push_back(0);
        finish();
        return;
    }
    // The shape and the ideas first, then every other array made at its final size and
    // filled in order: no array of drawing data grows (and moves) while the ideas are read.
    // The ideas lie anywhere in memory: those about to be read are asked for ahead, so that
    // their loads overlap instead of each waiting for the one before.
    struct Step
    {
        const IdeaPtr* idea;
        qint32 parent;
        qint32 depth;
    };
    std::vector<Step> stack{{&idea, -1, 0}};
    while (!stack.empty()) {
        const Step step = stack.back();
        stack.pop_back();
        const qint32 index = qint32(mIdeas.size());
        mIdeas.push_back(*step.idea);
        mParent.push_back(step.parent);
        mDepth.push_back(step.depth);
        const auto& children = (*step.idea)->ideas();
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            __builtin_prefetch(it->get());
            stack.push_back({&*it, index, step.depth + 1});
        }
    }
    const std::size_t n = mIdeas.size();
    mFlags.reserve(n);
    mIdentifierHashes.reserve(n);
    mTexts.reserve(n);
    mColorIndex.reserve(n);
    mPalette.emplace_back();
    PaletteMaker palette{mPalette, {}, {}};
    // Children come in order after their parent: counting them gives each its place.
    std::vector<qint32> childrenSeen(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (i + kLookAhead < n) {
            const char* ahead = reinterpret_cast<const char*>(mIdeas[i + kLookAhead].get());
            for (std::size_t line = 0; line < sizeof(Idea); line += 64)
                __builtin_prefetch(ahead + line);
        }
        if (i + kLookAhead / 2 < n)
            __builtin_prefetch(mIdeas[i + kLookAhead / 2]->identifier().constData());
        const Idea& current = *mIdeas[i];
        const QString& identifier = current.identifier();
        const quint8 flags = HasIdea | (current.hasNote() ? HasNote : 0) | (current.isLink() ? IsLink : 0) |
                             (current.hasURL() ? HasURL : 0);
        mFlags.push_back(flags);
        mIdentifierHashes.push_back(hashIdentifier(identifier));
        const qint32 parent = mParent[i];
        copyDrawing(i, parent < 0 ? 0 : std::size_t(childrenSeen[std::size_t(parent)]++), palette);
    }
    finish();
}

void FlatGraph::copyDrawing(std::size_t i, std::size_t place, PaletteMaker& palette)
{
    const Idea& idea = *mIdeas[i];
    mTexts.push_back(idea.text());
    // A parent's colour is copied before its children's.
    const qint32 parent = mParent[i];
    mColorIndex.push_back(palette.indexOf(parent < 0
                                              ? DrawnColor::ofIdea(idea)
                                              : DrawnColor::ofChild(idea, mIdeas[std::size_t(parent)].get(),
                                                                    color(std::size_t(parent)), place)));
    if (auto icon = idea.iconImage()) {
        mFlags[i] |= HasIcon;
        mIcons.push_back({qint32(i), std::move(icon)});
    }
    if (idea.isLink()) {
        const IdeaPtr linked = idea.linkedIdea();
        if (linked && linked->ideaType() == IdeaTypeText) {
            mFlags[i] |= Searched;
            mLinked.push_back(LinkedContent{qint32(i), linked->text(), linked->iconImage()});
        }
    } else if (idea.ideaType() == IdeaTypeText) {
        mFlags[i] |= Searched;
    }
    QVImage picture = idea.image();
    if (picture.hasImage()) {
        mFlags[i] |= HasPicture;
        mPictures.push_back({qint32(i), std::move(picture)});
    }
}

template <class Value>
const Value* FlatGraph::sparseOf(const std::vector<Sparse<Value>>& entries, std::size_t i)
{
    const auto it =
        std::lower_bound(entries.begin(), entries.end(), qint32(i),
                         [](const Sparse<Value>& entry, qint32 node) { return entry.node < node; });
    return it != entries.end() && it->node == qint32(i) ? &it->value : nullptr;
}

const QString& FlatGraph::identifier(std::size_t i) const
{
    if (!mIdentifiers.empty())
        return *mIdentifiers[i];
    return mIdeas[i] ? mIdeas[i]->identifier() : kNoIdentifier;
}

const std::shared_ptr<IconImage>& FlatGraph::icon(std::size_t i) const
{
    if (i >= mFlags.size() || (mFlags[i] & HasIcon) == 0)
        return kNoIcon;
    const auto* icon = sparseOf(mIcons, i);
    return icon ? *icon : kNoIcon;
}

FlatGraph::FlatGraph(Graph& graph, std::vector<GraphNode*>& nodes)
{
    nodes.clear();
    graph.traverseNaturally([&](GraphNode& node, qint64 depth) {
        nodes.push_back(&node);
        const quint8 flags = node.idea() ? HasIdea | (node.idea()->hasNote() ? HasNote : 0) : 0;
        append(-1, qint32(depth), flags, &node.identifier());
    });
    // The walk gives each node's depth; a parent is the nearest earlier node one level up.
    std::vector<qint32> lastAtDepth;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const std::size_t d = std::size_t(mDepth[i]);
        lastAtDepth.resize(std::max(lastAtDepth.size(), d + 1));
        mParent[i] = d == 0 ? -1 : lastAtDepth[d - 1];
        lastAtDepth[d] = qint32(i);
    }
    finish();
}

const FlatGraph::LinkedContent* FlatGraph::linkedContent(std::size_t i) const
{
    const auto it =
        std::lower_bound(mLinked.begin(), mLinked.end(), qint32(i),
                         [](const LinkedContent& content, qint32 node) { return content.node < node; });
    return it != mLinked.end() && it->node == qint32(i) ? &*it : nullptr;
}

const QString& FlatGraph::searchedText(std::size_t i) const
{
    const LinkedContent* linked = isLink(i) ? linkedContent(i) : nullptr;
    return linked ? linked->text : mTexts[i];
}

const std::shared_ptr<IconImage>& FlatGraph::searchedIcon(std::size_t i) const
{
    const LinkedContent* linked = isLink(i) ? linkedContent(i) : nullptr;
    return linked ? linked->icon : icon(i);
}

std::size_t FlatGraph::append(qint32 parent, qint32 depth, quint8 flags, const QString* identifier)
{
    mParent.push_back(parent);
    mDepth.push_back(depth);
    mFlags.push_back(flags);
    mIdentifiers.push_back(identifier);
    mIdentifierHashes.push_back((flags & HasIdea) != 0 ? hashIdentifier(*identifier) : 0);
    return mParent.size() - 1;
}

void FlatGraph::finish()
{
    const std::size_t n = size();
    // Subtree sizes gathered from the leaves up (a child comes after its parent), then turned
    // into ends.
    mEnd.assign(n, 1);
    for (std::size_t i = n; i-- > 1;)
        mEnd[std::size_t(mParent[i])] += mEnd[i];
    qint32 deepest = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mEnd[i] += qint32(i);
        deepest = std::max(deepest, mDepth[i]);
    }
    mLevels = n == 0 ? 0 : deepest + 1;
    mAngle.assign(n, 0.0f);
    mRadius.assign(n, 0.0f);
    mCenter.assign(n, Point());
    mNoteNumber.assign(n, 0);
}

const IdeaPtr& FlatGraph::idea(std::size_t i) const
{
    return i < mIdeas.size() ? mIdeas[i] : kNoIdea;
}

const QVImage& FlatGraph::picture(std::size_t i) const
{
    if (i >= mFlags.size() || (mFlags[i] & HasPicture) == 0)
        return kNoPicture;
    const QVImage* picture = sparseOf(mPictures, i);
    return picture ? *picture : kNoPicture;
}

GraphNodeDrawing FlatGraph::drawing(std::size_t i) const
{
    if (i >= mTexts.size())
        return {};
    return {mTexts[i], color(i), picture(i), icon(i), isLink(i), hasURL(i)};
}

quint32 FlatGraph::hashIdentifier(const QString& identifier)
{
    return quint32(qHash(QStringView(identifier)));
}

qint64 FlatGraph::firstWithIdentifier(const QString& identifier) const
{
    // Once the hashes are let go, the texts are compared.
    const quint32 hash = hashIdentifier(identifier);
    const bool hashed = mIdentifierHashes.size() == size();
    for (std::size_t i = 0; i < size(); ++i)
        if ((!hashed || mIdentifierHashes[i] == hash) && hasIdea(i) && this->identifier(i) == identifier)
            return qint64(i);
    return -1;
}

qint64 FlatGraph::noteNumber(std::size_t i) const
{
    if (!mNoteNumber.empty())
        return mNoteNumber[i];
    const qint32* number = hasNote(i) ? sparseOf(mNoteNumbers, i) : nullptr;
    return number ? *number : 0;
}

void FlatGraph::releaseLayoutData()
{
    for (std::size_t i = 0; i < mNoteNumber.size(); ++i)
        if (mNoteNumber[i] != 0 && hasNote(i))
            mNoteNumbers.push_back({qint32(i), mNoteNumber[i]});
    if (mNoteNumbers.size() == std::size_t(std::count_if(mNoteNumber.begin(), mNoteNumber.end(),
                                                         [](qint32 number) { return number != 0; })))
        std::vector<qint32>().swap(mNoteNumber);
    else
        mNoteNumbers.clear(); // a number on a node without a note: kept whole
    std::vector<Point>().swap(mCenter);
    std::vector<qint32>().swap(mDepth);
    std::vector<quint32>().swap(mIdentifierHashes);
}

void FlatGraph::moveCenters(Point shift)
{
    for (Point& center : mCenter)
        center = center - shift;
}

} // namespace corvex
