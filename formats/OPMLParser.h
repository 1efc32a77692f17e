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
// Outside bytes are bounded: no external entity is ever resolved, one entity reference may
// expand to at most EntityExpansionLimit characters, a document whose declared entities
// could add more than EntityExpansionBudget characters in all is refused before any idea is
// made, attribute defaults declared by the document type are not taken, and the tree never
// grows beyond the model's maximum depth.
//
// Failures follow the reading rules of the format: bytes that are not XML, or XML without a
// head or an outline, give no tree; an error after some ideas were made (malformed or
// truncated XML, an outline one level past the maximum depth) stops reading there and gives
// the tree read so far, which is logged so that the damage is not silent.
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
    // Refuses (raises a reader error) a document whose entity declarations could expand
    // beyond the budget.
    void checkEntityDeclarations(QXmlStreamReader& reader, const QByteArray& data);

    std::shared_ptr<Idea> mRoot;
    std::shared_ptr<Idea> mCurrent;
    int mCurrentLevel = 0; // the level of mCurrent (the root is 1); 0 without a root
    QString mElementContent;
    bool mIgnoreRest = false;
    qint64 mIdeaCount = 0;
};

} // namespace corvex
