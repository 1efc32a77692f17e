#pragma once

#include "model/JSONDecoder.h"
#include "platform/core/Coder.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

namespace corvex {

class Idea;
class IdeaDocumentDataObject;
using IdeaDocumentDataObjectPtr = std::shared_ptr<IdeaDocumentDataObject>;

// What a stored document file holds: the root idea with the document's dates, the format
// version and the identifier of the application instance that wrote it. Stored as the JSON
// text of JSONEncoder ({"ideaDocumentDataObject":{...}}), either plain or as one zlib
// stream (which begins 78 9C).
//
// The readers answer a payload or why there is none; they never throw and hold no state, so
// any thread may run them (each on its own bytes). Besides the version check (1 to 4), a
// payload must have a root idea to be read: a document without one is no document. One
// payload's JSON text may hold at most MaxPayloadBytes, inflated or plain. A compressed
// payload is inflated whole and checked before it is decoded; the text's memory goes back to
// the system as the decoding passes it, so that a large document never holds its whole text
// and its whole tree at once. A stream inflating to more than WholeTextRatio times its size
// is measured first by inflating it without keeping anything, then decoded while it is
// inflated a second time, so that a bomb is refused having cost almost no memory. Texts
// are read by PayloadTextReader when it takes them, else by JSONDecoder, with the same
// result.
class IdeaDocumentDataObject : public Codable
{
public:
    static const QString ClassName;            // "IdeaDocumentDataObject"
    static const QString FileFormatVersionKey; // "fileFormatVersion"
    static const QString IdeaKey;              // "idea"
    static const QString DateCreatedKey;       // "dateCreated"
    static const QString DateModifiedKey;      // "dateModified"
    static const QString AppInstanceKey;       // "appInstance"

    static constexpr qint32 CurrentFileFormatVersion = 4;
    static constexpr qint32 OldestReadableVersion = 1;

    IdeaDocumentDataObject() = default;
    static IdeaDocumentDataObjectPtr create();

    // Registers this class and the model's codables (registerModelCodables) with the
    // CodableRegistry; any number of calls from any thread register once. The readers call
    // it themselves.
    static void registerCodables();

    // The most JSON text one payload may hold: a document of millions of ideas, far beyond
    // any made by hand, while a few kilobytes of zlib cannot claim gigabytes.
    static constexpr qint64 MaxPayloadBytes = qint64(512) << 20;
    // A compressed payload whose text is at most this many times the stream's size is
    // inflated whole at once; beyond, it is measured and decoded piece by piece.
    static constexpr qint64 WholeTextRatio = 32;

    // The most ideas one document may hold, and the most children of one idea: a document
    // within both opens and shows in well under 4 GB of memory. Measured by
    // bench_wide_documents: an idea of the tree costs about 1 KB, a child of the idea shown
    // about 14 KB (100,000 children: 1.3 GB), so both bounds at once stay near 2.3 GB and
    // leave room for long texts. The readers count as they read and stop at the first idea
    // past a bound, so a refused document never costs more than an accepted one. The OPML
    // parser keeps the same bounds.
    static constexpr qint64 MaxIdeas = 1000000;
    static constexpr qint64 MaxChildren = 100000;
    struct IdeaBounds
    {
        qint64 ideas = MaxIdeas;
        qint64 children = MaxChildren;
    };
    // The bounds in force: the ones above, unless a test set others. Any thread.
    static IdeaBounds ideaBounds();
    // Tests only: other bounds, so that a document just past them stays small; nothing puts
    // the shipped ones back.
    static void setIdeaBoundsForTesting(std::optional<IdeaBounds> bounds);
    // The error TooManyIdeas: the bound passed (TooManyIdeasBoundKey) and whether it is the
    // one on the children of an idea (TooManyIdeasChildrenKey).
    static Error tooManyIdeas(bool children);
    // The longest note one idea may hold, in UTF-16 units: far beyond any note a user writes
    // (a long book) and what the note view lays out in a moment, while a hostile file cannot
    // make a note of hundreds of megabytes. The readers refuse a document past it; the note
    // view takes no more.
    static constexpr qsizetype MaxNoteLength = 2000000;
    // A refusal of the readers, as an error: `refusal` is one of PayloadTextReader's, not None.
    static Error refused(int refusal);
    static inline const QString TooManyIdeasBoundKey = QStringLiteral("bound");
    static inline const QString TooManyIdeasChildrenKey = QStringLiteral("children");

    static const QString ErrorDomain; // "com.tallowfen.corvex.payload"
    enum ErrorCode
    {
        TooShort = 1,  // fewer than two bytes
        TooLarge = 2,  // plain JSON text beyond MaxPayloadBytes (inflated text fails as Zlib's LimitExceeded)
        NoPayload = 3, // the root object is no payload
        UnreadableVersion = 4, // a file format version other than 1 to 4 (the text names it)
        NoRootIdea = 5,
        NoOutline = 6,    // OPML: no parser installed, or it made no tree
        OPMLFailed = 7,   // OPML: the parser threw
        TooManyIdeas = 8, // more ideas than ideaBounds() allows, in all or below one idea
        NoteTooLong = 9,  // a note longer than MaxNoteLength
    };

    // What the readers make of each idea.
    enum class Parts
    {
        Whole,
        // Its pictures (small and big) and its attachment's name are read past without being
        // decoded, so that the tree holds the ideas' texts, notes and icons, what search looks
        // at, and nothing of their pictures. Everything else is read and checked as for Whole.
        Texts,
    };

    // ---- Readers: the payload, or why there is none. Zlib and JSON failures are answered
    // with their own errors (Zlib's domain; JSONDecoder's, whose ParseFailed also logs the
    // platform's "NSJSONSerialization: Error" line).

    // OPML when the URL's name says so (".opml", ".xml", any case), else decodeSomeData.
    static Result<IdeaDocumentDataObjectPtr> decodeUnknownData(const QByteArray& data, const QUrl& urlHint);
    // TooShort for fewer than 2 bytes; the compressed form when the bytes begin 78 9C, else
    // plain JSON (other zlib headers then fail as JSON).
    static Result<IdeaDocumentDataObjectPtr> decodeSomeData(const QByteArray& data,
                                                            Parts parts = Parts::Whole);
    // Exactly one complete zlib stream of at most MaxPayloadBytes.
    static Result<IdeaDocumentDataObjectPtr> decodeCorvexData(const QByteArray& data,
                                                              Parts parts = Parts::Whole);
    // A JSONDecoder reading the text with the aliases "idea" and "ideas" to Idea and
    // "iconImage" to IconImage (an escaped lone surrogate reads as U+FFFD); accepted when the
    // result is a payload with a version from 1 to 4 and a root idea.
    static Result<IdeaDocumentDataObjectPtr> decodeJSONData(const QByteArray& data,
                                                            Parts parts = Parts::Whole);
    // The installed OPML parser's tree as a payload of version 0 dated now, without an
    // instance identifier; when the parser stopped early, the payload's incompleteReading()
    // says why. NoOutline when the parser yields no tree or none is installed (which is also
    // logged once per process), with the parser's words for why in the failure reason.
    static Result<IdeaDocumentDataObjectPtr> decodeOPML(const QByteArray& data);

    // The same readers answering the payload or nullptr, for callers that need no reason:
    // the reason is logged ("IdeaDocumentDataObject: unreadable payload: ...") unless it was
    // logged already or is no fault of the bytes (too short, no outline).
    static IdeaDocumentDataObjectPtr readFromUnknownData(const QByteArray& data, const QUrl& urlHint);
    static IdeaDocumentDataObjectPtr readFromSomeData(const QByteArray& data);
    static IdeaDocumentDataObjectPtr readFromCorvexData(const QByteArray& data);
    static IdeaDocumentDataObjectPtr readFromJSONData(const QByteArray& data);
    static IdeaDocumentDataObjectPtr readFromOPML(const QByteArray& data);
    // How payload texts are read: JSONDecoder's options (the aliases above, an escaped lone
    // surrogate as U+FFFD, no class with more objects than ideaBounds().ideas), whose depth
    // and surrogate rules PayloadTextReader keeps too.
    static JSONDecoder::TextOptions textDecodingOptions();

    // ---- Writing

    // A payload of the current version for a document's tree: dateModified is `modified`,
    // or now when that is invalid; dateCreated is `created`, or else that dateModified.
    static IdeaDocumentDataObjectPtr payloadForWriting(const std::shared_ptr<Idea>& root,
                                                       const QDateTime& created, const QDateTime& modified);
    // The plain form (the JSON text). A failure (a circular reference in the tree, a tree too
    // deep) is logged and recorded through Globals::raiseCorvexError, and answered as an
    // error: the caller reports the write as failed and keeps the old file.
    Result<QByteArray> jsonData() const;
    // The compressed form: storedForm(jsonData(), false); failures as there.
    Result<QByteArray> corvexData() const;
    // The bytes a document file holds for the payload's JSON text, the one place they are
    // made: the text itself when `plainJSON`, else one zlib stream at the default level (it
    // begins 78 9C), deflated on several cores (ParallelDeflate). Empty text fails. Any
    // thread: savers encode the text on the tree's thread and call this where they write.
    static Result<QByteArray> storedForm(const QByteArray& json, bool plainJSON);

    // ---- Properties

    qint32 fileFormatVersion() const { return mFileFormatVersion; }
    void setFileFormatVersion(qint32 version) { mFileFormatVersion = version; }
    const std::shared_ptr<Idea>& idea() const { return mIdea; }
    void setIdea(const std::shared_ptr<Idea>& idea) { mIdea = idea; }
    // Invalid when there is none.
    const QDateTime& dateCreated() const { return mDateCreated; }
    void setDateCreated(const QDateTime& date) { mDateCreated = date; }
    const QDateTime& dateModified() const { return mDateModified; }
    void setDateModified(const QDateTime& date) { mDateModified = date; }
    // Null when the payload has none.
    const QString& appInstance() const { return mAppInstance; }
    void setAppInstance(const QString& instance) { mAppInstance = instance; }
    // Why the file was read only in part (the tree holds what was read before the damage),
    // in words for the person who opened it; empty when it was read whole. Never coded.
    const QString& incompleteReading() const { return mIncompleteReading; }
    void setIncompleteReading(const QString& why) { mIncompleteReading = why; }

    // ---- Coding

    // The registered "init with coder".
    static IdeaDocumentDataObjectPtr initWithCoder(Decoder& coder);
    QString className() const override;
    // "appInstance" is always the running instance's (Globals::appInstance), whatever the
    // property holds.
    void encodeWithCoder(Encoder& coder) const override;

private:
    qint32 mFileFormatVersion = 0;
    std::shared_ptr<Idea> mIdea;
    QDateTime mDateCreated;
    QDateTime mDateModified;
    QString mAppInstance;
    QString mIncompleteReading;
};

} // namespace corvex
