#pragma once

#include "platform/core/Coder.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <memory>

namespace corvex {

class Idea;
class IdeaDocumentDataObject;
using IdeaDocumentDataObjectPtr = std::shared_ptr<IdeaDocumentDataObject>;

// What a stored document file holds: the root idea with the document's dates, the format
// version and the identifier of the application instance that wrote it. Stored as the JSON
// text of JSONEncoder ({"ideaDocumentDataObject":{...}}), either plain or as one zlib
// stream (which begins 78 9C).
//
// The readers answer a payload or nullptr; they never throw and hold no state, so any
// thread may run them (each on its own bytes). Besides the version check (1 to 4), a payload
// must have a root idea to be read: a document without one is no document.
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

    // ---- Readers

    // OPML when the URL's name says so (".opml", ".xml", any case), else readFromSomeData.
    static IdeaDocumentDataObjectPtr readFromUnknownData(const QByteArray& data, const QUrl& urlHint);
    // Nothing for fewer than 2 bytes; the compressed form when the bytes begin 78 9C, else
    // plain JSON (other zlib headers then fail as JSON).
    static IdeaDocumentDataObjectPtr readFromSomeData(const QByteArray& data);
    // One zlib stream (inflated within Zlib::DefaultInflateLimit), then readFromJSONData.
    static IdeaDocumentDataObjectPtr readFromCorvexData(const QByteArray& data);
    // A JSONDecoder with the aliases "idea" and "ideas" to Idea and "iconImage" to IconImage;
    // accepted when the result is a payload with a version from 1 to 4 and a root idea.
    static IdeaDocumentDataObjectPtr readFromJSONData(const QByteArray& data);
    // The installed OPML parser's tree as a payload of version 0 dated now, without an
    // instance identifier; nothing when the parser yields no tree or none is installed
    // (which is logged once per process).
    static IdeaDocumentDataObjectPtr readFromOPML(const QByteArray& data);

    // ---- Writing

    // A payload of the current version for a document's tree: dateModified is `modified`,
    // or now when that is invalid; dateCreated is `created`, or else that dateModified.
    static IdeaDocumentDataObjectPtr payloadForWriting(const std::shared_ptr<Idea>& root,
                                                       const QDateTime& created, const QDateTime& modified);
    // The plain form (the JSON text). A failure (a circular reference in the tree, a tree too
    // deep) is logged and recorded through Globals::raiseCorvexError, and answered as an
    // error: the caller reports the write as failed and keeps the old file.
    Result<QByteArray> jsonData() const;
    // The compressed form: zlibDeflate of jsonData(); failures as there.
    Result<QByteArray> corvexData() const;

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

    // ---- Coding

    // The registered "init with coder".
    static IdeaDocumentDataObjectPtr initWithCoder(Coder& coder);
    QString className() const override;
    // "appInstance" is always the running instance's (Globals::appInstance), whatever the
    // property holds.
    void encodeWithCoder(Coder& coder) const override;

private:
    qint32 mFileFormatVersion = 0;
    std::shared_ptr<Idea> mIdea;
    QDateTime mDateCreated;
    QDateTime mDateModified;
    QString mAppInstance;
};

} // namespace corvex
