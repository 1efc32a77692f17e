#pragma once

#include "graphics/QVImage.h"
#include "model/Color.h"
#include "model/ColorTheme.h"
#include "model/ColorThemeType.h"
#include "model/IconImage.h"
#include "model/IdeaMembers.h"
#include "model/ObjectID.h"
#include "platform/core/Coder.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace corvex {

class Idea;
using IdeaPtr = std::shared_ptr<Idea>;

// What an idea is. Documents store the number and any value may come back from a file, so
// this is a plain integer with named values; stringFromIdeaType() names them.
using IdeaType = std::uint64_t;
inline constexpr IdeaType IdeaTypeUndefined = 0; // old stored data only; replaced on reading
inline constexpr IdeaType IdeaTypeText = 1;
inline constexpr IdeaType IdeaTypeImage = 2;
inline constexpr IdeaType IdeaTypeURL = 3;
inline constexpr IdeaType IdeaTypeLink = 4; // a link to another idea of the same tree

// One node of a document's tree, and the tree itself: an idea owns its ordered children
// and knows its parent weakly. An idea is a text, a picture, a web link or a link to another
// idea of the same tree; a link idea owns nothing but its identifier and its target's
// identifier, and its content reads come from the target.
//
// Ideas live in shared pointers (the factories make them so); parents, cached link targets
// and copy sources are weak. A null string means "not set": a null text differs from an
// empty one, and documents keep the two apart.
//
// Depth: a tree never has more than MaxDepth levels (the root is level 1). Insertions and
// moves that would go deeper, or would put an idea inside itself, are refused with an
// assertion line and change nothing. Every walk over a tree (searches, counts, copies,
// descriptions, destruction) uses an explicit stack, so a tree of the maximum depth is safe
// on any thread's stack. Coding is the exception: a coder visits one level per nested call,
// and the coders bound the nesting.
//
// Links are resolved by one hashed pass over the tree (resolveLinks), which the readers run
// once a tree is read and a link runs when it first needs it; a link keeps what the pass
// found, its target or that there is none, and a link without one looks again only once an
// idea joined its tree since (each tree's root keeps a stamp of the last idea that joined).
//
// Threads: a tree has no locks and is used by one thread at a time, reads included (reading
// through a link may resolve every link of its tree). Only createIdentifier(), changeCount()
// and identifierWalks() may be called from any thread at any time.
class Idea : public Codable, public std::enable_shared_from_this<Idea>
{
public:
    static constexpr int MaxDepth = 1000;
    // Reading through a chain of more links than this reads as a broken link, as a cycle
    // does.
    static constexpr int MaxLinkHops = 64;
    // indexOfIdeaWithIdentifier's answer when no child has the identifier: the platform's
    // not-found index, the largest signed 64-bit value.
    static constexpr quint64 NotFound = quint64(std::numeric_limits<qint64>::max());
    // The side of the small square picture.
    static constexpr int SmallPictureSize = 160;

    // A fresh identifier "id<seconds since 1970>_<counter>" from one process-wide counter
    // (the first call of a run gives counter 1); the seconds are Globals::secondsSince1970(),
    // the clock document names take. Safe from any thread.
    static QString createIdentifier();
    // A number that every change made to an idea raises (its content, its children, its
    // place): equal numbers at two moments mean that no idea changed in between, so a
    // picture of a tree taken at the first still shows it. Any thread.
    static quint64 changeCount();
    // How many walks over a tree looking for identifiers were made, by this process's every
    // thread: findIdeaInSubTreeWithIdentifier calls and link passes (resolveLinks,
    // ensureLinkConsistencyInSubTree). What a test counts to show that a link read walks
    // nothing. Any thread.
    static quint64 identifierWalks();

    // Creation; every new idea has an empty child list.
    static IdeaPtr initWithText(const QString& text, const QString& identifier);
    static IdeaPtr initWithText(const QString& text);
    // A picture idea with the small picture made from `image` (see updateImage).
    static IdeaPtr initWithImageAttachment(const QVImage& image, const ObjectID& attachment);
    // A web-link idea; the page picture may be missing (the idea is still made, without a
    // small picture).
    static IdeaPtr initWithURL(const QString& url, const QVImage& image);
    static IdeaPtr initWithLinkToIdea(const QString& targetIdentifier);
    // The registered "init with coder": nullptr when the stored children cannot all be
    // taken (a tree deeper than MaxDepth).
    static IdeaPtr initWithCoder(Decoder& coder);

    ~Idea() override;
    Idea(const Idea&) = delete;
    Idea& operator=(const Idea&) = delete;

    // Replaces the small picture: the centre square of `image`, scaled to 160 x 160 and
    // desaturated (saturation 0.7). A missing or empty picture leaves no small picture. The
    // big picture bytes are dropped and the attachment becomes `attachment` (null allowed).
    void updateImage(const QVImage& image, const ObjectID& attachment);

    // ---- Tree structure

    // The child list itself.
    const std::vector<IdeaPtr>& ideas() const { return mIdeas; }
    IdeaPtr parent() const { return mParent.lock(); }
    // The topmost ancestor, or the idea itself.
    IdeaPtr root() const;
    // Appends the child and becomes its parent; the child is not taken out of a previous
    // parent's list (callers detach it first). Refused (false) on a link idea (with the
    // assertion line of "-[Idea addIdea:]"), for a null child, a child that holds this idea,
    // and beyond MaxDepth.
    [[nodiscard]] bool addIdea(const IdeaPtr& idea);
    // The same at an index; refused silently on a link idea. An index beyond the child count
    // is a caller error: logged, and the child goes last.
    [[nodiscard]] bool insertIdea(const IdeaPtr& idea, quint64 index);
    // Whether addIdea / insertIdea would take the idea (not a link idea, not a child that
    // holds this idea, within MaxDepth). Logs nothing.
    bool canInsertIdea(const IdeaPtr& idea) const;
    // Moves this idea from its parent (if any) into `newParent` at `index` (counted without
    // this idea; beyond the end goes last). Links are untouched, as with detachIdea. Refused,
    // with nothing changed, when insertIdea would refuse it.
    [[nodiscard]] bool moveToParent(const IdeaPtr& newParent, quint64 index);
    // The index of the first child with the identifier, else NotFound.
    quint64 indexOfIdeaWithIdentifier(const QString& identifier) const;
    // Takes the first child with the identifier out of the list (its parent becomes null)
    // without touching links that point into it, and answers it; logs the assertion line of
    // "-[Idea detachIdea:]" and answers nullptr when no child has it.
    IdeaPtr detachIdea(const QString& identifier);
    // Removes the first child with the identifier, then every link idea of the whole tree
    // whose target no longer exists. False when no child has the identifier.
    [[nodiscard]] bool removeIdea(const QString& identifier);
    // Removes the child (every occurrence in the list; its parent is cleared only when it
    // was there) and, when asked, runs ensureLinkConsistencyInSubTree on the root. Nothing
    // for a null child or on a link idea.
    void removeIdea(const IdeaPtr& idea, bool removeLinks);
    // Every link idea of this subtree looks its target up in its root's tree (caching it);
    // a link whose target is not found leaves its parent's list.
    void ensureLinkConsistencyInSubTree();
    // Every link idea of this idea's tree (its root's) takes the first idea in pre-order
    // with its linked identifier, or none: one walk gathers the links and the identifiers in
    // pre-order, and their targets are found in a table, however many links there are. A link
    // without a target stays where it is (that is ensureLinkConsistencyInSubTree's to decide).
    void resolveLinks();

    // ---- Lookup and measures

    const QString& identifier() const { return mIdentifier; }
    // Stored as a 32-bit number, as documents hold it; see colorThemeType().
    IdeaType ideaType() const { return mIdeaType; }
    bool isLink() const { return mIdeaType == IdeaTypeLink; }
    // The target identifier of a link idea; null for other ideas.
    QString linkedIdentifier() const;
    // The target of a link idea: the one its tree's last link pass found while it lives.
    // When that pass found none, or its target is gone, nothing, unless an idea joined the
    // tree since (or the link has not been resolved in this tree yet): then resolveLinks runs
    // again on the root. Null without a linked identifier.
    IdeaPtr linkedIdea() const;
    // Pre-order, children in order, this idea first.
    IdeaPtr findIdeaInSubTreeWithIdentifier(const QString& identifier) const;
    // True when this idea or an ancestor has the identifier.
    bool couldMyChildBeDescendantOfIdeaWithIdentifier(const QString& identifier) const;
    // 1 for a link idea, else 1 plus the children's sizes.
    qint64 calculateWholeTreeSize() const;
    // The block on this idea with `depth`, then pre-order on every child's subtree with
    // depth + 1. A node's children are read after the block has run on it.
    void traverseNaturally(const std::function<void(const IdeaPtr&, qint64)>& block, qint64 depth);
    // The attachments of the subtree.
    QSet<ObjectID> attachments() const;
    // The level of this idea in its tree: 1 for a root.
    int level() const;
    // The levels of this subtree: 1 for an idea without children.
    int subtreeDepth() const;

    // ---- Content. Reads on a link idea come from its target (nothing when the target is
    // missing or the links run in a cycle); writes of text, URL, note and colour are ignored
    // there.

    QString text() const;
    void setText(const QString& text);
    QString URL() const;
    void setURL(const QString& url);
    QString note() const;
    // An empty note is stored as null.
    void setNote(const QString& note);
    ColorPtr color() const;
    void setColor(const ColorPtr& color);
    // Own value, also on a link idea. Documents store it as a 32-bit number: a value beyond
    // that range is kept as the largest 32-bit one.
    ColorThemeType colorThemeType() const { return mColorThemeType; }
    void setColorThemeType(ColorThemeType type)
    {
        noteChange();
        mColorThemeType = storedNumber(type);
    }
    IconImagePtr iconImage() const;
    // Stored on a link idea too (reads still come from the target).
    void setIconImage(const IconImagePtr& icon)
    {
        noteChange();
        mIconImage = icon;
    }
    // Own value, also on a link idea; null when there is no attachment.
    ObjectID att() const;
    void setAtt(const ObjectID& att);
    // Read-only.
    QVImage image() const;
    QVImage bigImage() const; // the big picture bytes decoded as JPEG
    QByteArray bigImageData() const;

    // No colour: null. Colour-theme type 0: an unnamed theme of the colour alone; otherwise
    // the colour's own theme.
    std::shared_ptr<ColorTheme> colorTheme() const;
    // Child i takes colour i modulo the theme's colour count; every child's colour becomes
    // null when there is no theme or it has no colours.
    void applyColorTheme();

    // ---- Queries of the exporters (a link idea answers its target's)

    bool hasText() const;
    bool hasNote() const;
    bool hasColor() const;
    bool hasIcon() const;
    bool hasURL() const;
    // Text, URL or "(image)" by type; "" when nothing is set.
    QString exportTitle() const;
    // With an extension: "<base>.<extension>", the base being the text made file-name-safe
    // and cut to 10 characters, or "document" when that leaves nothing. With a null
    // extension: the text cut to 30 characters, or "document" when it is empty.
    QString exportFileNameForType(const QString& extension) const;

    static QString stringFromIdeaType(IdeaType type);
    QString description() const;
    // The stable tree dump: "<Idea identifier=[<root id>] " (or "<Idea " for an idea with a
    // parent), one line per idea in pre-order indented two blanks per depth, then ">".
    QString debugDescription() const;

    // ---- Copies (fresh identifiers throughout)

    // Links inside the copied subtree point at the copies; links leaving it keep their
    // target when `preserveExternalLinks`, else become plain ideas with the target's content
    // (a text idea without content when the target is missing).
    IdeaPtr deepCopyWithNewIdentifiersPreservingExternalLinks(bool preserveExternalLinks) const;
    IdeaPtr deepCopyWithNewIdentifiersNoExternalLinks() const;
    // What deepCopyWithNewIdentifiersNoExternalLinks gives, made of this very tree: every
    // idea takes a fresh identifier in place. Only for a tree nothing else holds yet (a
    // decoder's): the copy of a tree of many ideas costs more than its decoding did. A tree
    // with a link is left as it is and false returned, since its links need the copy's pass.
    bool renewIdentifiersUnlessLinked();
    // A copy without external links that keeps the ideas less than `levels` below this one
    // (0 or 1: this idea alone).
    IdeaPtr ideaByRestrictingDepth(qint64 levels) const;
    // A copy cut to whole levels so that it holds fewer than `limit` ideas.
    IdeaPtr ideaByRestrictingElements(qint64 limit) const;

    // ---- Coding

    QString className() const override;
    void encodeWithCoder(Encoder& coder) const override;
    // description().
    QString codingDescription() const override;

private:
    // The identifier-keeping copy works on the fields the copy functions here use.
    friend class IdeaTreeCopy;
    // The payload's text reader makes ideas from the members it reads and hands each its
    // children, as initWithCoder does; its writer writes the members encodeWithCoder writes.
    friend class PayloadTextReader;
    friend class PayloadTextWriter;
    // The table of members reads and writes each member's field.
    friend class IdeaMembers;
    friend class IdeaStoredMembers;
    // Only the class can make one: the explicit constructor refuses a bare "{}".
    struct Private
    {
        explicit Private() = default;
    };
    static constexpr quint64 NotResolved = std::numeric_limits<quint64>::max();
    // The fields most ideas never use, allocated on first need: this keeps a plain text idea
    // small, which matters for trees of a hundred thousand ideas.
    struct Extras
    {
        QString linkedIdentifier;
        std::weak_ptr<Idea> linkedIdea; // the resolved target
        // A link: the join stamp of the root it was resolved in (NotResolved: never).
        quint64 resolvedAt = NotResolved;
        // A root: raised to a fresh value of one process-wide count whenever an idea joins its
        // tree, so that no two roots share a stamp but trees no idea ever joined (0).
        quint64 joinStamp = 0;
        QString url;
        QVImage image;
        QByteArray bigImageData;
        ObjectID att;
        IdeaKeptValues kept; // the members without a field of their own
    };

public:
    // Use the factories; public only for std::make_shared.
    Idea(Private, QString identifier, IdeaType type);

private:
    // An idea's own members as a document stores them, before they are taken: what
    // readOwnFields reads through a coder (a link reads only its identifiers and type), and
    // what PayloadTextReader reads from the text itself.
    using StoredFields = IdeaStoredValues;

    static IdeaPtr make(const QString& identifier, IdeaType type);
    static void noteChange();
    // An idea joined this idea's tree: its root takes a fresh join stamp.
    void noteJoin();
    quint64 joinStamp() const { return mExtras ? mExtras->joinStamp : 0; }
    // The link's target is `target` (may be null) as found in the tree of `root`.
    void setResolvedTarget(const Idea* target, const Idea& root);
    static void countIdentifierWalk();
    // The idea the stored members make (its children apart): stored values taken as they
    // are where the setters would refuse nothing, a missing type inferred.
    static IdeaPtr fromStoredFields(StoredFields fields);
    // initWithCoder without the children; never inlined, so that its many locals are not on
    // the stack while the children decode.
    [[gnu::noinline]] static IdeaPtr readOwnFields(Decoder& coder);
    // encodeWithCoder without the children, likewise.
    [[gnu::noinline]] void encodeOwnFields(Encoder& coder) const;
    // Appends a decoded child; false when it is an idea that cannot be taken. Values of
    // other kinds are skipped.
    bool adoptDecodedChild(const CodedValue& child);
    static quint32 storedNumber(quint64 value)
    {
        return value > std::numeric_limits<quint32>::max() ? std::numeric_limits<quint32>::max()
                                                           : quint32(value);
    }

    Extras& extras();
    // A member of the general store (IdeaMemberRow::own false); missing when not kept.
    IdeaMemberValue keptValue(IdeaMember member) const;
    void setKeptValue(IdeaMember member, const IdeaMemberValue& value);
    // The general store's members of `from` a copy takes.
    void copyKeptValues(const Idea& from);
    // The idea whose own fields a read shows: this idea, or the end of its link chain;
    // nullptr for a broken link. `keepAlive` holds it while the caller reads.
    const Idea* contentIdea(IdeaPtr& keepAlive) const;
    // Why an insertion is refused; nullptr when it is allowed.
    const char* insertionRefusal(const IdeaPtr& idea) const;
    void insertChecked(const IdeaPtr& idea, quint64 index);
    // A copy of this one idea (no children) with a fresh identifier.
    IdeaPtr copyOfOne() const;
    // Copies of the subtree's ideas in its shape (links as they are), each listed in
    // pre-order with its source in `copies`; fresh identifiers unless `keepIdentifiers`.
    IdeaPtr copySubtree(bool keepIdentifiers, std::vector<std::pair<Idea*, const Idea*>>& copies) const;
    // Turns a copied link idea into a plain idea with the content of `content`.
    void becomePlainCopyOf(const Idea* content);

    std::vector<IdeaPtr> mIdeas;
    QString mIdentifier;
    std::weak_ptr<Idea> mParent;
    // The two numbers share one word: a tree of a hundred thousand ideas feels every word.
    quint32 mIdeaType = quint32(IdeaTypeUndefined);
    quint32 mColorThemeType = quint32(ColorThemeTypeSameColor);
    QString mText;
    QString mNote;
    ColorPtr mColor;
    IconImagePtr mIconImage;
    mutable std::unique_ptr<Extras> mExtras;
};

} // namespace corvex
