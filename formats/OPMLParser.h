#pragma once

#include "model/OPMLParserInterface.h"

#include <QByteArray>
#include <QString>
#include <memory>

class QXmlStreamReader;

namespace corvex {

class Idea;

// Builds an idea tree from OPML, the outline format other outliners exchange: titles and
// notes only. A head element makes the root (titled by head/title) and the body's outlines
// its children; without a head, the first outline is the root and nothing after its end is
// read. Every idea read is a text idea with child colour-theme type "varying colours",
// coloured from the standard themes (appendNewIdeaAsCurrent).
//
// Outside bytes are bounded: no external entity is ever resolved, attribute defaults
// declared by the document type are not taken, and the tree never grows beyond the model's
// maximum depth. A document is refused as a whole at its first idea past
// IdeaDocumentDataObject::ideaBounds() (in all, or below one idea): passedBound() says which.
// A document is refused as a whole, before any idea is made, when one of its
// declared entities could expand to more than EntityExpansionLimit characters (nested
// references counted, as in the billion-laughs file) or when its declared entities could add
// more than EntityExpansionBudget characters in all; the refusal is logged as an error with
// its reason. So the reader's own expansion limit never stops a document halfway.
//
// Failures follow the reading rules of the format: bytes that are not XML, or XML without a
// head or an outline, give no tree; an error after some ideas were made (malformed or
// truncated XML, an outline one level past the maximum depth) stops reading there and gives
// the tree read so far. Either is logged, and lastProblem() says it in words for the person
// who opened the file, so that the damage is not silent.
//
// One thread at a time; the object may be used again, each parse starts from a clean state.
class OPMLParser : public OPMLParserInterface
{
public:
    // Characters one entity reference may expand to.
    static constexpr qint64 EntityExpansionLimit = 4096;
    // Characters that the references to declared entities may add to a whole document, at
    // worst (every "&" of the input counted as a reference to the longest entity).
    static constexpr qint64 EntityExpansionBudget = qint64(1) << 22;

    OPMLParser();
    ~OPMLParser() override;

    // The root of the tree built, or nullptr when the data yields no idea.
    std::shared_ptr<Idea> parseIdeaFromOPMLData(const QByteArray& data) override;
    QString lastProblem() const override { return mProblem; }
    PassedBound passedBound() const override { return mPassedBound; }

    // Makes the next idea, with `text` (null: no text), and makes it current: the root when
    // there is none yet (colour 0 of standard theme 0); else the last child of the current
    // idea, coloured by its position k (its earlier siblings plus one): colour 0 of standard
    // theme k mod the theme count under the root, deeper colour k mod C of the current
    // idea's theme of C colours; no colour when there is no theme or it has no colours.
    // False, with nothing made, when the new idea would lie beyond Idea::MaxDepth.
    [[nodiscard]] bool appendNewIdeaAsCurrent(const QString& text);

private:
    void reset();
    void didStartElement(QXmlStreamReader& reader);
    void didEndElement(const QString& name);
    void foundCharacters(QStringView text);
    // Refuses a document whose entity declarations could expand beyond the limit of one
    // reference or the budget of the document.
    void checkEntityDeclarations(QXmlStreamReader& reader, const QByteArray& data);
    // Stops the reader, and the document gives no tree.
    void refuse(QXmlStreamReader& reader, const QString& reason);
    // Stops the reader at an outline one level past the maximum depth.
    void stopAtMaximumDepth(QXmlStreamReader& reader);
    // Refuses the document at an idea past the bound on ideas or on one idea's children;
    // false when the next idea is within both.
    bool refusedPastBounds(QXmlStreamReader& reader);
    // lastProblem() for a reading that stopped at the reader's error.
    QString problemOfReader(const QXmlStreamReader& reader) const;

    std::shared_ptr<Idea> mRoot;
    std::shared_ptr<Idea> mCurrent;
    int mCurrentLevel = 0; // the level of mCurrent (the root is 1); 0 without a root
    QString mElementContent;
    bool mIgnoreRest = false;
    qint64 mIdeaCount = 0;
    QString mRefusal; // why the document is refused, with where; empty when it is not
    bool mTooDeep = false;
    QString mProblem;                             // lastProblem(), kept past the reset at the end of a parse
    PassedBound mPassedBound = PassedBound::None; // passedBound(), kept like mProblem
    qint64 mMaxIdeas = 0;                         // IdeaDocumentDataObject::ideaBounds() of the parse
    qint64 mMaxChildren = 0;                      //
};

} // namespace corvex
