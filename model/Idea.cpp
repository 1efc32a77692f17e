#include "model/Idea.h"

#include "model/Globals.h"
#include "model/IdeaStoredMembers.h"
#include "model/StringExtensions.h"
#include "platform/core/Log.h"
#include "platform/gfx/FilterImage.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace corvex {
namespace {

// The assertion lines carry fixed line numbers, as every assertion text of the system does.
constexpr int AddIdeaAssertionLine = 73;
constexpr int DetachIdeaAssertionLine = 101;

std::atomic<quint64>& identifierCounter()
{
    static std::atomic<quint64> counter{0};
    return counter;
}

std::atomic<quint64>& changeCounter()
{
    static std::atomic<quint64> counter{0};
    return counter;
}

std::atomic<quint64>& joinCounter()
{
    static std::atomic<quint64> counter{0};
    return counter;
}

std::atomic<quint64>& identifierWalkCounter()
{
    static std::atomic<quint64> counter{0};
    return counter;
}

// A cheap stand-in for an identifier: its length and its first, middle and last four units,
// mixed. Equal identifiers have equal fingerprints.
quint64 identifierFingerprint(const QString& identifier)
{
    const qsizetype size = identifier.size();
    const QChar* units = identifier.constData();
    quint64 first = 0;
    quint64 middle = 0;
    quint64 last = 0;
    if (size >= 4) {
        std::memcpy(&first, units, 8);
        std::memcpy(&middle, units + (size - 4) / 2, 8);
        std::memcpy(&last, units + size - 4, 8);
    } else {
        std::memcpy(&first, units, std::size_t(size) * sizeof(QChar));
    }
    quint64 mixed = (quint64(size) ^ first) * 0x9E3779B97F4A7C15ull;
    mixed = (mixed ^ (mixed >> 29) ^ middle) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 31) ^ last) * 0x94D049BB133111EBull;
    return mixed ^ (mixed >> 32);
}

// A few fingerprints in an open table, for a first test that most identifiers fail at the
// cost of one look: a miss is certain, a hit only likely.
class FingerprintSet
{
public:
    explicit FingerprintSet(std::size_t count)
        : mSlots(std::bit_ceil(std::max<std::size_t>(16, count * 4)), 0)
    {}

    void insert(quint64 fingerprint)
    {
        const quint64 kept = fingerprint | 1; // 0 marks an empty slot
        for (std::size_t slot = fingerprint & mask(); mSlots[slot] != kept; slot = (slot + 1) & mask()) {
            if (mSlots[slot] == 0) {
                mSlots[slot] = kept;
                return;
            }
        }
    }

    bool mayHold(quint64 fingerprint) const
    {
        const quint64 kept = fingerprint | 1;
        for (std::size_t slot = fingerprint & mask(); mSlots[slot] != 0; slot = (slot + 1) & mask()) {
            if (mSlots[slot] == kept)
                return true;
        }
        return false;
    }

private:
    std::size_t mask() const { return mSlots.size() - 1; }

    std::vector<quint64> mSlots;
};

// How a text that is not set shows in descriptions.
QString orNull(const QString& text)
{
    return text.isNull() ? QStringLiteral("(null)") : text;
}

// A stored empty text is a text: it must not read as one that is not set. The text is taken,
// not shared: a document's every text passes here once.
QString presentString(std::optional<QString>& text)
{
    if (!text)
        return QString();
    if (text->isNull())
        return QStringLiteral("");
    return std::move(*text);
}

QVImage makeSmallPicture(const QVImage& picture)
{
    // Read at a size whose shorter side is twice the small picture's, never whole: the
    // picture a user picks may be far larger than anything drawn from it.
    const Size size = picture.pixelSize();
    const double shorter = std::min(size.width, size.height);
    const double reduce = shorter > 2 * Idea::SmallPictureSize ? 2 * Idea::SmallPictureSize / shorter : 1.0;
    const QImage pixels =
        picture.cgImageFitting(int(std::ceil(std::min(std::max(size.width, size.height) * reduce, 1e6))));
    if (pixels.isNull() || pixels.width() <= 0 || pixels.height() <= 0)
        return QVImage();
    // The centre square first, then the scaling: the same picture as scaling the shorter
    // side to 160 and cropping, without a huge intermediate bitmap for extreme shapes.
    const int width = pixels.width();
    const int height = pixels.height();
    const int side = std::min(width, height);
    const int left = (width - side) / 2;
    // The crop origin is measured from the bottom, as in the filter space.
    const int top = height - side - (height - side) / 2;
    const QVImage square(pixels.copy(left, top, side, side));
    const QVImage scaled = square.scaleToSize(Size(Idea::SmallPictureSize, Idea::SmallPictureSize));
    if (!scaled.hasImage())
        return QVImage();
    const FilterImage desaturated = FilterImage::fromImage(scaled.cgImage()).colorControls(0.7);
    return QVImage::initWithCIImage(desaturated, Rect(0, 0, Idea::SmallPictureSize, Idea::SmallPictureSize));
}

} // namespace

// ---- Creation

Idea::Idea(Private, QString identifier, IdeaType type)
    : mIdentifier(std::move(identifier)), mIdeaType(storedNumber(type))
{}

IdeaPtr Idea::make(const QString& identifier, IdeaType type)
{
    return std::make_shared<Idea>(Private{}, identifier, type);
}

Idea::~Idea()
{
    // Children are released here, one level at a time, so that destroying a deep tree never
    // nests destructors. A child someone else still holds keeps its own subtree.
    std::vector<IdeaPtr> pending = std::move(mIdeas);
    while (!pending.empty()) {
        IdeaPtr idea = std::move(pending.back());
        pending.pop_back();
        if (idea && idea.use_count() == 1) {
            for (IdeaPtr& child : idea->mIdeas)
                pending.push_back(std::move(child));
            idea->mIdeas.clear();
        }
    }
}

quint64 Idea::changeCount()
{
    return changeCounter().load(std::memory_order_relaxed);
}

void Idea::noteChange()
{
    changeCounter().fetch_add(1, std::memory_order_relaxed);
}

quint64 Idea::identifierWalks()
{
    return identifierWalkCounter().load(std::memory_order_relaxed);
}

void Idea::countIdentifierWalk()
{
    identifierWalkCounter().fetch_add(1, std::memory_order_relaxed);
}

void Idea::noteJoin()
{
    root()->extras().joinStamp = joinCounter().fetch_add(1, std::memory_order_relaxed) + 1;
}

void Idea::setResolvedTarget(const Idea* target, const Idea& root)
{
    Extras& more = extras();
    if (target)
        more.linkedIdea = std::const_pointer_cast<Idea>(target->shared_from_this());
    else
        more.linkedIdea.reset();
    more.resolvedAt = root.joinStamp();
}

QString Idea::createIdentifier()
{
    const quint64 counter = identifierCounter().fetch_add(1, std::memory_order_relaxed) + 1;
    // Globals' wall clock, which document names take too: under an injected clock both agree.
    return QString::asprintf("id%0.0f_%d", Globals::secondsSince1970(), int(qint32(quint32(counter))));
}

IdeaPtr Idea::initWithText(const QString& text, const QString& identifier)
{
    IdeaPtr idea = make(identifier, IdeaTypeText);
    idea->mText = text;
    return idea;
}

IdeaPtr Idea::initWithText(const QString& text)
{
    return initWithText(text, createIdentifier());
}

IdeaPtr Idea::initWithImageAttachment(const QVImage& image, const ObjectID& attachment)
{
    IdeaPtr idea = make(createIdentifier(), IdeaTypeImage);
    idea->updateImage(image, attachment);
    return idea;
}

IdeaPtr Idea::initWithURL(const QString& url, const QVImage& image)
{
    IdeaPtr idea = make(createIdentifier(), IdeaTypeURL);
    idea->extras().url = url;
    idea->updateImage(image, ObjectID());
    return idea;
}

IdeaPtr Idea::initWithLinkToIdea(const QString& targetIdentifier)
{
    IdeaPtr idea = make(createIdentifier(), IdeaTypeLink);
    idea->extras().linkedIdentifier = targetIdentifier;
    return idea;
}

Idea::Extras& Idea::extras()
{
    if (!mExtras)
        mExtras = std::make_unique<Extras>();
    return *mExtras;
}

void Idea::updateImage(const QVImage& image, const ObjectID& attachment)
{
    noteChange();
    QVImage small = makeSmallPicture(image);
    if (!mExtras && !small.hasImage() && attachment.isNull())
        return;
    Extras& more = extras();
    more.image = std::move(small);
    more.bigImageData = QByteArray();
    more.att = attachment;
}

// ---- Tree structure

IdeaPtr Idea::root() const
{
    IdeaPtr current = std::const_pointer_cast<Idea>(shared_from_this());
    while (IdeaPtr up = current->mParent.lock())
        current = std::move(up);
    return current;
}

int Idea::level() const
{
    int level = 1;
    for (IdeaPtr up = mParent.lock(); up; up = up->mParent.lock())
        ++level;
    return level;
}

int Idea::subtreeDepth() const
{
    if (mIdeas.empty())
        return 1;
    int deepest = 1;
    std::vector<std::pair<const Idea*, int>> stack{{this, 1}};
    while (!stack.empty()) {
        const auto [idea, depth] = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, depth);
        for (const IdeaPtr& child : idea->mIdeas)
            stack.emplace_back(child.get(), depth + 1);
    }
    return deepest;
}

const char* Idea::insertionRefusal(const IdeaPtr& idea) const
{
    if (!idea)
        return "there is no idea to insert";
    if (isLink())
        return "a link idea takes no children";
    // One walk over the new child's subtree finds both its depth and whether it holds this
    // idea (which would make the tree a cycle).
    const int room = MaxDepth - level();
    // Reused by the thread (decoding a document inserts every one of its ideas), but not
    // kept large after a wide tree.
    thread_local std::vector<std::pair<const Idea*, int>> stack;
    const auto answer = [](const char* refusal) {
        constexpr std::size_t kKept = 4096;
        if (stack.capacity() > kKept)
            std::vector<std::pair<const Idea*, int>>().swap(stack);
        return refusal;
    };
    stack.clear();
    stack.emplace_back(idea.get(), 1);
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        if (node == this)
            return answer("the idea would hold itself");
        if (depth > room)
            return answer("the tree would be deeper than the maximum of 1000 levels");
        for (const IdeaPtr& child : node->mIdeas)
            stack.emplace_back(child.get(), depth + 1);
    }
    return answer(nullptr);
}

bool Idea::canInsertIdea(const IdeaPtr& idea) const
{
    return insertionRefusal(idea) == nullptr;
}

void Idea::insertChecked(const IdeaPtr& idea, quint64 index)
{
    idea->mParent = weak_from_this();
    mIdeas.insert(mIdeas.begin() + qsizetype(index), idea);
    noteJoin();
}

bool Idea::addIdea(const IdeaPtr& idea)
{
    noteChange();
    if (isLink()) {
        Log::assertionFailure(AddIdeaAssertionLine, "-[Idea addIdea:]");
        return false;
    }
    if (const char* refusal = insertionRefusal(idea)) {
        Log::assertionFailure(QStringLiteral("-[Idea addIdea:] refused: ") + QLatin1String(refusal));
        return false;
    }
    insertChecked(idea, mIdeas.size());
    return true;
}

bool Idea::insertIdea(const IdeaPtr& idea, quint64 index)
{
    noteChange();
    if (isLink())
        return false;
    if (const char* refusal = insertionRefusal(idea)) {
        Log::assertionFailure(QStringLiteral("-[Idea insertIdea:atIndex:] refused: ") +
                              QLatin1String(refusal));
        return false;
    }
    if (index > mIdeas.size()) {
        Log::assertionFailure(
            QStringLiteral("-[Idea insertIdea:atIndex:] index %1 beyond %2 children; inserted last")
                .arg(index)
                .arg(mIdeas.size()));
        index = mIdeas.size();
    }
    insertChecked(idea, index);
    return true;
}

bool Idea::moveToParent(const IdeaPtr& newParent, quint64 index)
{
    noteChange();
    if (!newParent) {
        Log::assertionFailure(
            QStringLiteral("-[Idea moveToParent:atIndex:] refused: there is no new parent"));
        return false;
    }
    const IdeaPtr self = shared_from_this();
    if (const char* refusal = newParent->insertionRefusal(self)) {
        Log::assertionFailure(QStringLiteral("-[Idea moveToParent:atIndex:] refused: ") +
                              QLatin1String(refusal));
        return false;
    }
    if (const IdeaPtr oldParent = mParent.lock()) {
        auto& siblings = oldParent->mIdeas;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), self), siblings.end());
    }
    mParent.reset();
    return newParent->insertIdea(self, std::min<quint64>(index, newParent->mIdeas.size()));
}

quint64 Idea::indexOfIdeaWithIdentifier(const QString& identifier) const
{
    for (std::size_t i = 0; i < mIdeas.size(); ++i) {
        if (mIdeas[i]->mIdentifier == identifier && mIdeas[i]->mIdentifier.isNull() == identifier.isNull())
            return i;
    }
    return NotFound;
}

IdeaPtr Idea::detachIdea(const QString& identifier)
{
    noteChange();
    const quint64 index = indexOfIdeaWithIdentifier(identifier);
    if (index == NotFound) {
        Log::assertionFailure(DetachIdeaAssertionLine, "-[Idea detachIdea:]");
        return nullptr;
    }
    IdeaPtr child = mIdeas[index];
    mIdeas.erase(mIdeas.begin() + qsizetype(index));
    child->mParent.reset();
    return child;
}

bool Idea::removeIdea(const QString& identifier)
{
    noteChange();
    const quint64 index = indexOfIdeaWithIdentifier(identifier);
    if (index == NotFound)
        return false;
    const IdeaPtr child = mIdeas[index];
    mIdeas.erase(mIdeas.begin() + qsizetype(index));
    child->mParent.reset();
    root()->ensureLinkConsistencyInSubTree();
    return true;
}

void Idea::removeIdea(const IdeaPtr& idea, bool removeLinks)
{
    noteChange();
    if (!idea || isLink())
        return;
    const auto removed = std::remove(mIdeas.begin(), mIdeas.end(), idea);
    if (removed != mIdeas.end()) {
        mIdeas.erase(removed, mIdeas.end());
        idea->mParent.reset();
    }
    if (removeLinks)
        root()->ensureLinkConsistencyInSubTree();
}

void Idea::ensureLinkConsistencyInSubTree()
{
    noteChange();
    // The link ideas of this subtree in pre-order. Removing a link changes no other part of
    // the walk (links have no children), so collecting them first visits the same links in
    // the same order as a walk that removes as it goes.
    std::vector<IdeaPtr> links;
    {
        std::vector<IdeaPtr> stack{shared_from_this()};
        while (!stack.empty()) {
            IdeaPtr idea = std::move(stack.back());
            stack.pop_back();
            if (idea->isLink()) {
                links.push_back(std::move(idea));
                continue;
            }
            for (auto it = idea->mIdeas.rbegin(); it != idea->mIdeas.rend(); ++it)
                stack.push_back(*it);
        }
    }
    if (links.empty())
        return;

    // Every identifier of the root's tree with its ideas in pre-order: the first is what a
    // pre-order search would find. One index instead of one search per link keeps a tree
    // with many links linear.
    countIdentifierWalk();
    const IdeaPtr top = root();
    QHash<QString, std::vector<Idea*>> byIdentifier;
    {
        std::vector<Idea*> stack{top.get()};
        while (!stack.empty()) {
            Idea* idea = stack.back();
            stack.pop_back();
            if (!idea->mIdentifier.isNull())
                byIdentifier[idea->mIdentifier].push_back(idea);
            for (auto it = idea->mIdeas.rbegin(); it != idea->mIdeas.rend(); ++it)
                stack.push_back(it->get());
        }
    }

    for (const IdeaPtr& link : links) {
        const QString target = link->linkedIdentifier();
        Idea* found = nullptr;
        if (!target.isNull()) {
            const auto it = byIdentifier.constFind(target);
            if (it != byIdentifier.constEnd() && !it->empty())
                found = it->front();
        }
        if (found) {
            link->setResolvedTarget(found, *top);
            continue;
        }
        link->extras().linkedIdea.reset();
        link->extras().resolvedAt = NotResolved;
        if (const IdeaPtr parent = link->mParent.lock()) {
            auto& siblings = parent->mIdeas;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), link), siblings.end());
        }
        link->mParent.reset();
        if (!link->mIdentifier.isNull()) {
            auto& sameIdentifier = byIdentifier[link->mIdentifier];
            sameIdentifier.erase(std::remove(sameIdentifier.begin(), sameIdentifier.end(), link.get()),
                                 sameIdentifier.end());
        }
    }
}

void Idea::resolveLinks()
{
    const IdeaPtr top = root();
    // One walk in pre-order gathers the links and every identifier with its fingerprint, in
    // the order a search meets them: the targets are then found in that list, not the tree.
    std::vector<std::pair<Idea*, quint64>> identified;
    std::vector<Idea*> links;
    {
        std::vector<Idea*> stack{top.get()};
        while (!stack.empty()) {
            Idea* idea = stack.back();
            stack.pop_back();
            if (!idea->mIdentifier.isNull())
                identified.emplace_back(idea, identifierFingerprint(idea->mIdentifier));
            // A link without a target identifier has nothing to resolve.
            if (idea->isLink() && idea->mExtras && !idea->mExtras->linkedIdentifier.isNull())
                links.push_back(idea);
            for (auto it = idea->mIdeas.rbegin(); it != idea->mIdeas.rend(); ++it)
                stack.push_back(it->get());
        }
    }
    if (links.empty())
        return;
    countIdentifierWalk();
    // Only the identifiers the links ask for are kept: a small table, whatever the tree's
    // size. Each takes the first idea in pre-order, as findIdeaInSubTreeWithIdentifier does.
    QHash<QString, Idea*> targets;
    targets.reserve(qsizetype(links.size()));
    FingerprintSet fingerprints(links.size());
    for (Idea* link : links) {
        targets.insert(link->mExtras->linkedIdentifier, nullptr);
        fingerprints.insert(identifierFingerprint(link->mExtras->linkedIdentifier));
    }
    qsizetype unfound = targets.size();
    for (const auto& [idea, fingerprint] : identified) {
        if (!fingerprints.mayHold(fingerprint))
            continue;
        const auto it = targets.find(idea->mIdentifier);
        if (it != targets.end() && it.value() == nullptr) {
            it.value() = idea;
            if (--unfound == 0)
                break;
        }
    }
    for (Idea* link : links)
        link->setResolvedTarget(targets.value(link->mExtras->linkedIdentifier), *top);
}

// ---- Lookup and measures

QString Idea::linkedIdentifier() const
{
    return mExtras ? mExtras->linkedIdentifier : QString();
}

IdeaPtr Idea::linkedIdea() const
{
    if (!mExtras)
        return nullptr;
    if (mExtras->linkedIdentifier.isNull()) {
        mExtras->linkedIdea.reset();
        return nullptr;
    }
    if (IdeaPtr cached = mExtras->linkedIdea.lock())
        return cached;
    // Nothing new can be found in a tree no idea joined since the last pass.
    const IdeaPtr top = root();
    if (mExtras->resolvedAt == top->joinStamp())
        return nullptr;
    top->resolveLinks();
    return mExtras->linkedIdea.lock();
}

IdeaPtr Idea::findIdeaInSubTreeWithIdentifier(const QString& identifier) const
{
    if (identifier.isNull())
        return nullptr;
    countIdentifierWalk();
    std::vector<const Idea*> stack{this};
    while (!stack.empty()) {
        const Idea* idea = stack.back();
        stack.pop_back();
        if (idea->mIdentifier == identifier && !idea->mIdentifier.isNull())
            return std::const_pointer_cast<Idea>(idea->shared_from_this());
        for (auto it = idea->mIdeas.rbegin(); it != idea->mIdeas.rend(); ++it)
            stack.push_back(it->get());
    }
    return nullptr;
}

bool Idea::couldMyChildBeDescendantOfIdeaWithIdentifier(const QString& identifier) const
{
    if (identifier.isNull())
        return false;
    if (mIdentifier == identifier && !mIdentifier.isNull())
        return true;
    for (IdeaPtr up = mParent.lock(); up; up = up->mParent.lock()) {
        if (up->mIdentifier == identifier && !up->mIdentifier.isNull())
            return true;
    }
    return false;
}

qint64 Idea::calculateWholeTreeSize() const
{
    qint64 size = 0;
    std::vector<const Idea*> stack{this};
    while (!stack.empty()) {
        const Idea* idea = stack.back();
        stack.pop_back();
        ++size;
        if (idea->isLink())
            continue;
        for (const IdeaPtr& child : idea->mIdeas)
            stack.push_back(child.get());
    }
    return size;
}

void Idea::traverseNaturally(const std::function<void(const IdeaPtr&, qint64)>& block, qint64 depth)
{
    std::vector<std::pair<IdeaPtr, qint64>> stack{{shared_from_this(), depth}};
    while (!stack.empty()) {
        auto [idea, ideaDepth] = std::move(stack.back());
        stack.pop_back();
        block(idea, ideaDepth);
        for (auto it = idea->mIdeas.rbegin(); it != idea->mIdeas.rend(); ++it)
            stack.emplace_back(*it, ideaDepth + 1);
    }
}

QSet<ObjectID> Idea::attachments() const
{
    QSet<ObjectID> result;
    std::vector<const Idea*> stack{this};
    while (!stack.empty()) {
        const Idea* idea = stack.back();
        stack.pop_back();
        if (idea->mExtras && !idea->mExtras->att.isNull())
            result.insert(idea->mExtras->att);
        for (const IdeaPtr& child : idea->mIdeas)
            stack.push_back(child.get());
    }
    return result;
}

// ---- Content

const Idea* Idea::contentIdea(IdeaPtr& keepAlive) const
{
    if (!isLink())
        return this; // nearly every idea: no chain to walk
    const Idea* current = this;
    std::array<const Idea*, MaxLinkHops> visited; // only the first `hops` are read
    int hops = 0;
    while (current->isLink()) {
        if (hops == MaxLinkHops ||
            std::find(visited.begin(), visited.begin() + hops, current) != visited.begin() + hops)
            return nullptr;
        visited[std::size_t(hops++)] = current;
        keepAlive = current->linkedIdea();
        if (!keepAlive)
            return nullptr;
        current = keepAlive.get();
    }
    return current;
}

QString Idea::text() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content ? content->mText : QString();
}

void Idea::setText(const QString& text)
{
    noteChange();
    if (!isLink())
        mText = text;
}

QString Idea::URL() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content && content->mExtras ? content->mExtras->url : QString();
}

void Idea::setURL(const QString& url)
{
    noteChange();
    if (isLink() || (url.isNull() && !mExtras))
        return;
    extras().url = url;
}

QString Idea::note() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content ? content->mNote : QString();
}

void Idea::setNote(const QString& note)
{
    noteChange();
    if (!isLink())
        mNote = note.isEmpty() ? QString() : note;
}

ColorPtr Idea::color() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content ? content->mColor : nullptr;
}

void Idea::setColor(const ColorPtr& color)
{
    noteChange();
    if (!isLink())
        mColor = color;
}

IconImagePtr Idea::iconImage() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content ? content->mIconImage : nullptr;
}

ObjectID Idea::att() const
{
    return mExtras ? mExtras->att : ObjectID();
}

void Idea::setAtt(const ObjectID& att)
{
    noteChange();
    if (att.isNull() && !mExtras)
        return;
    extras().att = att;
}

QVImage Idea::image() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content && content->mExtras ? content->mExtras->image : QVImage();
}

QByteArray Idea::bigImageData() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content && content->mExtras ? content->mExtras->bigImageData : QByteArray();
}

QVImage Idea::bigImage() const
{
    const QByteArray data = bigImageData();
    return data.isEmpty() ? QVImage() : QVImage::initWithJPEGData(data);
}

std::shared_ptr<ColorTheme> Idea::colorTheme() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content ? ColorTheme::themeForColor(content->mColor, content->mColorThemeType) : nullptr;
}

void Idea::applyColorTheme()
{
    const std::shared_ptr<ColorTheme> theme = colorTheme();
    for (std::size_t i = 0; i < mIdeas.size(); ++i)
        mIdeas[i]->setColor(theme ? theme->colorForPlace(i) : nullptr);
}

// ---- Queries

bool Idea::hasText() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content && content->mIdeaType == IdeaTypeText && !content->mText.isNull();
}

bool Idea::hasNote() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content && content->mIdeaType == IdeaTypeText && !content->mNote.isEmpty();
}

bool Idea::hasColor() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content && content->mIdeaType == IdeaTypeText && content->mColor != nullptr;
}

bool Idea::hasIcon() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content && content->mIdeaType == IdeaTypeText && content->mIconImage != nullptr;
}

bool Idea::hasURL() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    return content && content->mIdeaType == IdeaTypeURL && content->mExtras &&
           !content->mExtras->url.isNull();
}

QString Idea::exportTitle() const
{
    IdeaPtr keep;
    const Idea* content = contentIdea(keep);
    if (!content)
        return QStringLiteral("");
    QString title;
    switch (content->mIdeaType) {
    case IdeaTypeText:
        title = content->mText;
        break;
    case IdeaTypeURL:
        title = content->mExtras ? content->mExtras->url : QString();
        break;
    case IdeaTypeImage:
        title = QStringLiteral("(image)");
        break;
    default:
        break;
    }
    return title.isNull() ? QStringLiteral("") : title;
}

QString Idea::exportFileNameForType(const QString& extension) const
{
    const QString title = text();
    if (!extension.isNull()) {
        QString base = StringExtensions::createProperFileNameWithMaxLenght(title, 10);
        if (base.isEmpty())
            base = QStringLiteral("document");
        return base + QLatin1Char('.') + extension;
    }
    if (title.isEmpty())
        return QStringLiteral("document");
    qsizetype cut = std::min<qsizetype>(title.size(), 30);
    // A window name is no place for half a surrogate pair.
    if (cut < title.size() && cut > 0 && title.at(cut).isLowSurrogate() &&
        title.at(cut - 1).isHighSurrogate())
        --cut;
    return title.left(cut);
}

QString Idea::stringFromIdeaType(IdeaType type)
{
    switch (type) {
    case IdeaTypeUndefined:
        return QStringLiteral("IdeaTypeUndefined");
    case IdeaTypeText:
        return QStringLiteral("IdeaTypeText");
    case IdeaTypeImage:
        return QStringLiteral("IdeaTypeImage");
    case IdeaTypeURL:
        return QStringLiteral("IdeaTypeURL");
    case IdeaTypeLink:
        return QStringLiteral("IdeaTypeLink");
    default:
        return QStringLiteral("WRONG_IDEA_TYPE");
    }
}

QString Idea::description() const
{
    if (mIdeaType == IdeaTypeText) {
        return QStringLiteral("<Idea text=[%1] identifier=[%2] 0x%3>")
            .arg(orNull(mText), orNull(mIdentifier), QString::number(quintptr(this), 16));
    }
    return QStringLiteral("<Idea type=[%1] identifier=[%2]>")
        .arg(stringFromIdeaType(mIdeaType), orNull(mIdentifier));
}

QString Idea::debugDescription() const
{
    QString dump;
    if (mParent.expired())
        dump = QStringLiteral("<Idea identifier=[") + orNull(root()->mIdentifier) + QStringLiteral("] ");
    else
        dump = QStringLiteral("<Idea ");
    std::vector<std::pair<const Idea*, int>> stack{{this, 0}};
    while (!stack.empty()) {
        const auto [idea, depth] = stack.back();
        stack.pop_back();
        dump += QString(2 * depth, QLatin1Char(' '));
        if (idea->mIdeaType == IdeaTypeText) {
            dump += QStringLiteral("text: [") + orNull(idea->mText) + QStringLiteral("] i=") +
                    orNull(idea->mIdentifier);
        } else {
            dump += stringFromIdeaType(idea->mIdeaType) + QStringLiteral(" i=") + orNull(idea->mIdentifier);
        }
        dump += QStringLiteral(" \n");
        for (auto it = idea->mIdeas.rbegin(); it != idea->mIdeas.rend(); ++it)
            stack.emplace_back(it->get(), depth + 1);
    }
    dump += QLatin1Char('>');
    return dump;
}

// ---- Copies

IdeaPtr Idea::copyOfOne() const
{
    if (isLink()) {
        IdeaPtr copy = initWithLinkToIdea(linkedIdentifier());
        copy->copyKeptValues(*this);
        return copy;
    }
    IdeaPtr copy = initWithText(mText);
    copy->mIdeaType = mIdeaType;
    copy->mNote = mNote;
    copy->mColor = mColor;
    copy->mIconImage = mIconImage;
    copy->mColorThemeType = mColorThemeType;
    if (mExtras) {
        Extras& more = copy->extras();
        more.att = mExtras->att;
        more.image = mExtras->image;
        more.bigImageData = mExtras->bigImageData;
        more.url = mExtras->url;
    }
    copy->copyKeptValues(*this);
    return copy;
}

void Idea::becomePlainCopyOf(const Idea* content)
{
    // A link whose target is gone becomes a text idea, as old data without a type reads.
    mIdeaType = content ? content->mIdeaType : quint32(IdeaTypeText);
    Extras& more = extras();
    more.linkedIdentifier = QString();
    more.linkedIdea.reset();
    more.att = ObjectID();
    more.kept.clear();
    if (!content)
        return;
    copyKeptValues(*content);
    mText = content->mText;
    mNote = content->mNote;
    mColor = content->mColor;
    mIconImage = content->mIconImage;
    mColorThemeType = content->mColorThemeType;
    if (content->mExtras) {
        more.image = content->mExtras->image;
        more.bigImageData = content->mExtras->bigImageData;
        more.url = content->mExtras->url;
    }
}

IdeaPtr Idea::copySubtree(bool keepIdentifiers, std::vector<std::pair<Idea*, const Idea*>>& copies) const
{
    // Pre-order. Each copy's source is kept in the caller's table for its link pass rather
    // than in a field of the copy: nothing outlives the copy operation.
    struct Pending
    {
        const Idea* source;
        Idea* parentCopy;
    };
    IdeaPtr top;
    std::vector<Pending> stack{{this, nullptr}};
    while (!stack.empty()) {
        const Pending pending = stack.back();
        stack.pop_back();
        IdeaPtr copy = pending.source->copyOfOne();
        if (keepIdentifiers)
            copy->mIdentifier = pending.source->mIdentifier;
        copies.emplace_back(copy.get(), pending.source);
        if (pending.parentCopy) {
            copy->mParent = pending.parentCopy->weak_from_this();
            pending.parentCopy->mIdeas.push_back(copy);
        } else {
            top = copy;
        }
        for (auto it = pending.source->mIdeas.rbegin(); it != pending.source->mIdeas.rend(); ++it)
            stack.push_back({it->get(), copy.get()});
    }
    return top;
}

IdeaPtr Idea::deepCopyWithNewIdentifiersPreservingExternalLinks(bool preserveExternalLinks) const
{
    std::vector<std::pair<Idea*, const Idea*>> copies;
    const IdeaPtr top = copySubtree(false, copies);

    // Link pass: a link whose target was copied points at the copy. The first copy in
    // pre-order whose source has the identifier is the one a pre-order search would find.
    QHash<QString, const Idea*> copyBySourceIdentifier;
    bool anyLink = false;
    for (const auto& [copy, source] : copies) {
        anyLink = anyLink || copy->isLink();
        if (!source->mIdentifier.isNull() && !copyBySourceIdentifier.contains(source->mIdentifier))
            copyBySourceIdentifier.insert(source->mIdentifier, copy);
    }
    if (!anyLink)
        return top;
    for (const auto& [copy, source] : copies) {
        if (!copy->isLink())
            continue;
        const QString target = copy->linkedIdentifier();
        const auto found =
            target.isNull() ? copyBySourceIdentifier.constEnd() : copyBySourceIdentifier.constFind(target);
        if (found != copyBySourceIdentifier.constEnd()) {
            // The copies' identifiers are fresh, so the one found is the target a pass would
            // find; a link leaving the copy is resolved where the copy goes.
            copy->extras().linkedIdentifier = found.value()->mIdentifier;
            copy->setResolvedTarget(found.value(), *top);
            continue;
        }
        if (preserveExternalLinks)
            continue;
        IdeaPtr keep;
        copy->becomePlainCopyOf(source->contentIdea(keep));
    }
    return top;
}

IdeaPtr Idea::deepCopyWithNewIdentifiersNoExternalLinks() const
{
    return deepCopyWithNewIdentifiersPreservingExternalLinks(false);
}

bool Idea::renewIdentifiersUnlessLinked()
{
    std::vector<Idea*> ideas{this};
    for (std::size_t i = 0; i < ideas.size(); ++i) {
        if (ideas[i]->isLink())
            return false;
        for (const IdeaPtr& child : ideas[i]->mIdeas)
            ideas.push_back(child.get());
    }
    for (Idea* idea : ideas)
        idea->mIdentifier = createIdentifier();
    noteChange();
    return true;
}

IdeaPtr Idea::ideaByRestrictingDepth(qint64 levels) const
{
    IdeaPtr copy = deepCopyWithNewIdentifiersNoExternalLinks();
    // Ideas at depth `levels` and below go, with their subtrees; the copied idea itself stays.
    const qint64 lastKept = std::max<qint64>(levels, 1) - 1;
    std::vector<std::pair<Idea*, qint64>> stack{{copy.get(), 0}};
    while (!stack.empty()) {
        const auto [idea, depth] = stack.back();
        stack.pop_back();
        if (depth == lastKept) {
            for (const IdeaPtr& child : idea->mIdeas)
                child->mParent.reset();
            idea->mIdeas.clear();
            continue;
        }
        for (const IdeaPtr& child : idea->mIdeas)
            stack.emplace_back(child.get(), depth + 1);
    }
    return copy;
}

IdeaPtr Idea::ideaByRestrictingElements(qint64 limit) const
{
    std::vector<qint64> countByDepth;
    std::vector<std::pair<const Idea*, std::size_t>> stack{{this, 0}};
    while (!stack.empty()) {
        const auto [idea, depth] = stack.back();
        stack.pop_back();
        if (countByDepth.size() <= depth)
            countByDepth.resize(depth + 1, 0);
        ++countByDepth[depth];
        for (const IdeaPtr& child : idea->mIdeas)
            stack.emplace_back(child.get(), depth + 1);
    }
    qint64 levels = 0;
    qint64 runningSum = 0;
    for (const qint64 count : countByDepth) {
        runningSum += count;
        if (runningSum >= limit)
            break;
        ++levels;
    }
    return ideaByRestrictingDepth(levels);
}

// ---- Coding

QString Idea::className() const
{
    return QStringLiteral("Idea");
}

void Idea::encodeWithCoder(Encoder& coder) const
{
    // As in initWithCoder: only the children's part is on the stack once per level.
    static const QString ideasKey = QStringLiteral("ideas");
    encodeOwnFields(coder);
    if (!isLink() && !mIdeas.empty())
        coder.encodeObjectList(mIdeas, ideasKey);
}

void Idea::encodeOwnFields(Encoder& coder) const
{
    // The table's members in its order, each when the idea stores it.
    IdeaStoredMembers::forEach(*this, [&](const IdeaMemberRow& row, const auto& value) {
        using Value = std::decay_t<decltype(value)>;
        const QString& key = IdeaMembers::codingKey(row.member);
        if constexpr (std::is_same_v<Value, QString>)
            coder.encodeString(value, key);
        else if constexpr (std::is_same_v<Value, qint64>)
            coder.encodeInt(qint32(value), key);
        else if constexpr (std::is_same_v<Value, QByteArray>)
            coder.encodeData(value, key);
        else if constexpr (std::is_same_v<Value, ColorPtr>)
            coder.encodeString(value->name(), key);
        else
            coder.encodeObject(value, key);
    });
}

QString Idea::codingDescription() const
{
    return description();
}

IdeaPtr Idea::initWithCoder(Decoder& coder)
{
    // Children are decoded from inside this call, so this frame is on the stack once per
    // level of a stored tree: everything else is read in a separate call, and the key is a
    // shared string rather than a temporary.
    static const QString ideasKey = QStringLiteral("ideas");
    IdeaPtr idea = readOwnFields(coder);
    if (idea->isLink())
        return idea;
    const CodedValue children = coder.decodeObjectForKey(ideasKey);
    // A child that cannot be taken (the stored tree is deeper than the maximum) makes the
    // stored idea unusable as a whole: a silently shortened tree would be saved back.
    if (children.isObject())
        return idea->adoptDecodedChild(children) ? idea : nullptr;
    idea->mIdeas.reserve(children.list().size());
    for (const CodedValue& child : children.list()) {
        if (!idea->adoptDecodedChild(child))
            return nullptr;
    }
    return idea;
}

bool Idea::adoptDecodedChild(const CodedValue& child)
{
    // Elements of other kinds are skipped, as decodeArrayOfClass does.
    const IdeaPtr idea = child.objectAs<Idea>();
    return !idea || addIdea(idea);
}

IdeaPtr Idea::readOwnFields(Decoder& coder)
{
    StoredFields fields;
    // The type first: a link reads only the members links store.
    fields.integer(IdeaMember::IdeaType) =
        coder.decodeInt64ForKey(IdeaMembers::codingKey(IdeaMember::IdeaType));
    const bool link = IdeaType(fields.integer(IdeaMember::IdeaType)) == IdeaTypeLink;
    for (const IdeaMemberRow& row : kIdeaMemberRows) {
        if (!row.decoded || row.member == IdeaMember::IdeaType || !IdeaMembers::storedBy(row, link))
            continue;
        const QString& key = IdeaMembers::codingKey(row.member);
        const std::size_t at = IdeaMembers::slot(row.member);
        switch (IdeaMembers::storage(row.type)) {
        case IdeaMemberStorage::Text:
            fields.texts[at] = coder.decodeStringForKey(key);
            break;
        case IdeaMemberStorage::Integer:
            fields.integers[at] = coder.decodeInt64ForKey(key);
            break;
        case IdeaMemberStorage::Data:
            fields.data[at] = coder.decodeDataForKey(key);
            break;
        case IdeaMemberStorage::Icon:
            fields.icons[at] = coder.decodeObjectOfClass<IconImage>(key);
            break;
        }
    }
    return fromStoredFields(std::move(fields));
}

IdeaPtr Idea::fromStoredFields(StoredFields fields)
{
    IdeaPtr idea = std::make_shared<Idea>(Private{}, presentString(fields.text(IdeaMember::Identifier)),
                                          IdeaType(fields.integer(IdeaMember::IdeaType)));

    // The members without a field of their own, into the general store.
    for (const IdeaMemberRow& row : kIdeaMemberRows) {
        if (row.own || !row.decoded || !IdeaMembers::storedBy(row, idea->isLink()))
            continue;
        if (IdeaMemberValue value = fields.value(row); !std::holds_alternative<std::monostate>(value))
            idea->setKeptValue(row.member, value);
    }

    if (idea->isLink()) {
        QString target = presentString(fields.text(IdeaMember::LinkedIdea));
        if (!target.isNull())
            idea->extras().linkedIdentifier = std::move(target);
        return idea;
    }

    bool pictureRead = false;
    if (const QByteArray& image = fields.bytes(IdeaMember::Image); !image.isEmpty()) {
        pictureRead = true;
        // Kept as read and decoded when first drawn: opening a document decodes no picture.
        const QVImage picture = QVImage::initWithStoredPNGData(image);
        if (picture.hasImage())
            idea->extras().image = picture;
    }
    if (QByteArray& big = fields.bytes(IdeaMember::BigImageData); !big.isEmpty())
        idea->extras().bigImageData = std::move(big);
    // The members are set as the setters would set them on an idea no one has seen yet, with
    // one change noted for them all.
    noteChange();
    idea->mText = presentString(fields.text(IdeaMember::Text));
    if (QString note = presentString(fields.text(IdeaMember::Note)); !note.isEmpty())
        idea->mNote = std::move(note);
    if (const std::optional<QString>& color = fields.text(IdeaMember::Color))
        idea->mColor = ColorTheme::colorByName(*color);
    idea->mColorThemeType = storedNumber(ColorThemeType(fields.integer(IdeaMember::ColorThemeType)));
    idea->mIconImage = std::move(fields.icon(IdeaMember::IconImage));
    if (QString url = presentString(fields.text(IdeaMember::Url)); !url.isNull())
        idea->extras().url = std::move(url);
    if (const std::optional<QString>& att = fields.text(IdeaMember::Att))
        idea->setAtt(ObjectID::parseFromString(*att));

    if (idea->mIdeaType == IdeaTypeUndefined) {
        if (!idea->URL().isNull())
            idea->mIdeaType = quint32(IdeaTypeURL);
        else if (pictureRead)
            idea->mIdeaType = quint32(IdeaTypeImage);
        else
            idea->mIdeaType = quint32(IdeaTypeText);
    }
    return idea;
}

IdeaMemberValue Idea::keptValue(IdeaMember member) const
{
    if (mExtras) {
        for (const auto& [kept, value] : mExtras->kept) {
            if (kept == member)
                return value;
        }
    }
    // Numbers are always stored, as the idea's own are.
    if (IdeaMembers::row(member).type == IdeaMemberType::Integer)
        return qint64(0);
    return {};
}

void Idea::setKeptValue(IdeaMember member, const IdeaMemberValue& value)
{
    noteChange();
    const bool missing = std::holds_alternative<std::monostate>(value);
    if (missing && !mExtras)
        return;
    IdeaKeptValues& kept = extras().kept;
    for (auto it = kept.begin(); it != kept.end(); ++it) {
        if (it->first != member)
            continue;
        if (missing)
            kept.erase(it);
        else
            it->second = value;
        return;
    }
    if (!missing)
        kept.emplace_back(member, value);
}

void Idea::copyKeptValues(const Idea& from)
{
    if (!from.mExtras)
        return;
    for (const auto& [member, value] : from.mExtras->kept) {
        const IdeaMemberRow& row = IdeaMembers::row(member);
        if (row.copied && IdeaMembers::storedBy(row, isLink()))
            setKeptValue(member, value);
    }
}

} // namespace corvex
