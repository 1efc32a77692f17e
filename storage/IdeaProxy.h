#pragma once

#include "graphics/QVImage.h"
#include "model/Color.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "platform/core/Coder.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

namespace corvex {

class IdeaDocument;
class IdeaProxy;
using IdeaProxyPtr = std::shared_ptr<IdeaProxy>;

// The light summary of one stored document that lists, the home screen's grid and the index
// files hold instead of the whole tree: which document it is, the root idea's text, colour,
// picture, icon and type, whether the root has a note or a web link, the document's dates and
// its number of ideas.
//
// It travels inside the index files, JSON-coded (Dropbox) and keyed-archived (iCloud), with
// these keys: "filename" (only the last path component of the document identifier),
// "identifier", "text", "color" (the colour's name), "image" (JSON: the picture's PNG bytes)
// or "image2" (any other coder: a PortableImage holding them), "dateCreated", "dateModified",
// "itemCount", "iconImage", "hasNote", "hasWebLink", "ideaType". A proxy read back has the
// file name as its docIdentifier until changeLocation() gives it a location again.
//
// Dates that are missing (invalid) stay missing in memory; writing and reading fill them as
// the keys' rules say. No lock: one thread at a time (the main thread in practice).
class IdeaProxy final : public Codable
{
public:
    static const QString ClassName; // "IdeaProxy"

    // Coding keys.
    static const QString FileNameKey;     // "filename"
    static const QString IdentifierKey;   // "identifier"
    static const QString TextKey;         // "text"
    static const QString ColorKey;        // "color"
    static const QString ImageKey;        // "image"
    static const QString Image2Key;       // "image2"
    static const QString DateCreatedKey;  // "dateCreated"
    static const QString DateModifiedKey; // "dateModified"
    static const QString ItemCountKey;    // "itemCount"
    static const QString IconImageKey;    // "iconImage"
    static const QString HasNoteKey;      // "hasNote"
    static const QString HasWebLinkKey;   // "hasWebLink"
    static const QString IdeaTypeKey;     // "ideaType"

    // Registers "IdeaProxy" (and the model's codable classes it holds) with the
    // CodableRegistry. Any number of calls, from any thread, registers once.
    static void registerCodable();

    // An empty summary: no document, no dates, no content.
    static IdeaProxyPtr init();
    // A summary filled from an opened document by updateWithDoc.
    static IdeaProxyPtr initWithDoc(const std::shared_ptr<IdeaDocument>& doc);
    // A copy of every field; the copy shares the other's document handle (made on the other
    // first when it has none).
    static IdeaProxyPtr initWithProxy(IdeaProxy& other);
    // The registered "init with coder" (see the keys above).
    static IdeaProxyPtr initWithCoder(Decoder& coder);

    // Keeps the document as the handle, takes the root's identifier, the document identifier
    // and the tree's size; when the summary differs from the document (dates, count, note and
    // link flags, type, icon name, text, colour name; a missing date on the proxy counts as
    // different) copies everything over. True when it changed.
    bool updateWithDoc(const std::shared_ptr<IdeaDocument>& doc);
    // The same from a tree given apart from the document's own (a save's tree, which the
    // document may have let go of since).
    bool updateWithDoc(const std::shared_ptr<IdeaDocument>& doc, const IdeaPtr& root);

    // The document handle; without one, a new IdeaDocument for docIdentifier, kept.
    std::shared_ptr<IdeaDocument> doc();
    bool hasDoc() const { return static_cast<bool>(mDoc); }
    // The storage location of docIdentifier.
    unsigned location() const;
    // docIdentifier (the Dropbox back end lists documents by it).
    const QString& fileURL() const { return mDocIdentifier; }
    // docIdentifier becomes the identifier of its file name in `location`. With a document
    // handle this logs the assertion line and goes on.
    void changeLocation(unsigned location);

    // The text after the first ":/" (else all of it), then its last path component.
    static QString fileNameFromURLLikeString(const QString& text);
    // Both null, or both texts and equal.
    static bool stringEquality(const QString& a, const QString& b);
    // The first proxy whose docIdentifier equals `docIdentifier`; nullptr when none.
    static IdeaProxyPtr findProxyInArray(const std::vector<IdeaProxyPtr>& proxies,
                                         const QString& docIdentifier);

    // "<IdeaProxy id=<docIdentifier> desc=(<text>)>", "(type=<type name>)" without a text,
    // and "<IdeaProxy (NO DOC) ..." without a document handle.
    QString description() const;

    // ---- Properties
    const QString& ideaIdentifier() const { return mIdeaIdentifier; }
    void setIdeaIdentifier(const QString& identifier) { mIdeaIdentifier = identifier; }
    bool hasNote() const { return mHasNote; }
    void setHasNote(bool hasNote) { mHasNote = hasNote; }
    bool hasWebLink() const { return mHasWebLink; }
    void setHasWebLink(bool hasWebLink) { mHasWebLink = hasWebLink; }
    IdeaType ideaType() const { return mIdeaType; }
    void setIdeaType(IdeaType type) { mIdeaType = type; }
    const QString& text() const { return mText; }
    void setText(const QString& text) { mText = text; }
    // Invalid when missing.
    const QDateTime& dateCreated() const { return mDateCreated; }
    void setDateCreated(const QDateTime& date) { mDateCreated = date; }
    const QDateTime& dateModified() const { return mDateModified; }
    void setDateModified(const QDateTime& date) { mDateModified = date; }
    qint64 itemCount() const { return mItemCount; }
    void setItemCount(qint64 count) { mItemCount = count; }
    const QString& docIdentifier() const { return mDocIdentifier; }
    void setDocIdentifier(const QString& identifier) { mDocIdentifier = identifier; }
    const ColorPtr& color() const { return mColor; }
    void setColor(const ColorPtr& color) { mColor = color; }
    const QVImage& image() const { return mImage; }
    void setImage(const QVImage& image) { mImage = image; }
    const IconImagePtr& iconImage() const { return mIconImage; }
    void setIconImage(const IconImagePtr& icon) { mIconImage = icon; }

    // ---- Coding
    QString className() const override;
    void encodeWithCoder(Encoder& coder) const override;
    QString codingDescription() const override;

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use the factories; public only for std::make_shared.
    explicit IdeaProxy(Private) {}

private:
    QString mIdeaIdentifier;
    std::shared_ptr<IdeaDocument> mDoc;
    bool mHasNote = false;
    bool mHasWebLink = false;
    IdeaType mIdeaType = IdeaTypeUndefined;
    QString mText;
    QDateTime mDateCreated;
    QDateTime mDateModified;
    qint64 mItemCount = 0;
    QString mDocIdentifier;
    ColorPtr mColor;
    QVImage mImage;
    IconImagePtr mIconImage;
};

} // namespace corvex
