#pragma once

#include "graphics/QVImage.h"
#include "model/ObjectID.h"
#include "platform/core/Completion.h"
#include "platform/core/FileFingerprint.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace corvex {

class Idea;
class IdeaDocumentDataObject;
class IdeaFilePresenter;

// Where a stored document lives: 0 the temporary location, 1 a local file, 2 the iCloud
// container, 3 the Dropbox folder.
using StorageLocation = unsigned;

// The handle of one stored document: its identifier and location, its root idea with the
// document's dates, and the token-guarded opening, updating and closing of its file through
// an IdeaFilePresenter.
//
// Document identifiers are a location prefix followed by a path:
//   0 "temp:/"   1 "file://"   2 "iCloud:/"   3 "dropbox:/"
//
// File URLs are QUrl values of local files. The "nil" URL of the operations below is any
// URL without a local file path (the empty QUrl among them): it is raised through
// Globals::raiseCorvexURLError and the operation fails.
//
// Tokens: an open document hands out a token to each of its users; the last token handed
// back closes it and releases the tree. Tokens come from one process-wide counter (the first
// is 1) and are never reused; a token below 1 is never valid.
//
// Threads: every member is for the main thread. Completions run once, on the main thread,
// never inside the call: failures found before any work (a nil URL, a bad token, a document
// that is not open) and the second open of an open document answer on the next turn;
// everything that touches the file once that work is done.
//
// Saving: the payload's JSON text is made on the main thread, inside the call (the tree is
// the main thread's and may change right after); deflating, the coordinated write (a
// temporary file, synced, renamed over the old one) and the completion's hand-off run on
// StorageQueues::persistenceQueue(), so the main thread never waits for the disk, and the
// saves of a process are written in the order they were asked for. A failed save answers NO
// and leaves the old file and the open tree as they were. createAtURLOpeningFirst copies the
// tree on the main thread instead and makes the text where it writes.
class IdeaDocument : public std::enable_shared_from_this<IdeaDocument>
{
public:
    using TokenCompletion = corvex::Completion<qint64>;
    using BoolCompletion = corvex::Completion<bool>;
    using Completion = corvex::Completion<>;
    using DataCompletion = corvex::Completion<const QByteArray&>;
    using ImageCompletion = corvex::Completion<const QVImage&>;
    // Gives an attachment's bytes for a location (null bytes when there are none), once for
    // every fetch. The persistence controller installs one; its completion answers on the
    // main thread, on a later turn.
    using AttachmentFetcher =
        std::function<void(const ObjectID& attachment, StorageLocation location, DataCompletion completion)>;

    static constexpr StorageLocation TemporaryLocation = 0;
    static constexpr StorageLocation LocalFileLocation = 1;
    static constexpr StorageLocation ICloudLocation = 2;
    static constexpr StorageLocation DropboxLocation = 3;

    static const QString TemporaryPrefix; // "temp:/"
    static const QString FilePrefix;      // "file://"
    static const QString ICloudPrefix;    // "iCloud:/"
    static const QString DropboxPrefix;   // "dropbox:/"

    // Posted on the main thread, with the document as sender, when another instance of the
    // program changed the open document's file and the new tree has replaced `idea`.
    static const QString ChangedNotification; // "IdeaDocumentChangedNotification"

    // ---- Identifiers, names and tokens (any thread)

    // 2 for "iCloud:/", 3 for "dropbox:/", 1 for "file://" (tested in this order); 0 for
    // anything else, identifiers without a known prefix included.
    static StorageLocation locationFromIdentifier(const QString& identifier);
    // The identifier without its prefix ("iCloud:/", "dropbox:/", "file://", "temp:/" tested
    // in this order); null without a known prefix.
    static QString pathFromIdentifier(const QString& identifier);
    // The location's prefix followed by the path; a location above 3 logs the assertion
    // line and answers null.
    static QString docIdentifierFromPath(const QString& path, StorageLocation location);
    // "id<seconds since 1970, to the nearest second>_<n>.crvx", n from a counter of its own
    // (the first name of a run has 1).
    static QString createNewDocFileName();
    // The name ends with ".crvx" (case-sensitive).
    static bool fileNamingSchemeMatches(const QString& fileName);
    // The next token of the process-wide counter: 1 first, never reused.
    static qint64 nextToken();

    // ---- Construction

    // Location and path from the identifier; representativeURL is the identifier as a URL.
    static std::shared_ptr<IdeaDocument> initWithIdentifier(const QString& identifier);
    // A null name is replaced by createNewDocFileName(); the identifier is
    // docIdentifierFromPath(name, location).
    static std::shared_ptr<IdeaDocument> initWithFileName(const QString& fileNameOrNull,
                                                          StorageLocation location);
    // Whether the file name came from createNewDocFileName() (a null name at construction).
    bool hasGeneratedFileName() const { return mGeneratedFileName; }
    // For a generated name, while no file is open or being made: the next name of
    // createNewDocFileName(), with the identifier (and a representativeURL that was the
    // identifier) following it. Another process may have made a file of the same name in the
    // same second. False, changing nothing, otherwise.
    bool takeNextGeneratedFileName();

    ~IdeaDocument();
    IdeaDocument(const IdeaDocument&) = delete;
    IdeaDocument& operator=(const IdeaDocument&) = delete;

    // ---- Properties

    const QString& docIdentifier() const { return mDocIdentifier; }
    StorageLocation location() const { return mLocation; }
    // The identifier without its prefix.
    const QString& filePath() const { return mFilePath; }
    // Location 2 or 3.
    bool isCloudDocument() const;
    // The root idea: set by a document's creator or by a read; null once the last token is
    // handed back.
    const std::shared_ptr<Idea>& idea() const { return mIdea; }
    void setIdea(const std::shared_ptr<Idea>& idea) { mIdea = idea; }
    // Invalid when there is none.
    const QDateTime& dateCreated() const { return mDateCreated; }
    void setDateCreated(const QDateTime& date) { mDateCreated = date; }
    const QDateTime& dateModified() const { return mDateModified; }
    void setDateModified(const QDateTime& date) { mDateModified = date; }
    const QUrl& representativeURL() const { return mRepresentativeURL; }
    void setRepresentativeURL(const QUrl& url) { mRepresentativeURL = url; }
    bool refersToURL(const QUrl& url) const { return mRepresentativeURL == url; }
    // What the local file of representativeURL held when this document was last in step with
    // it (read from it, or written into it); empty when not known.
    const std::optional<FileFingerprint>& fileInStep() const { return mFileInStep; }
    void setFileInStep(std::optional<FileFingerprint> fingerprint) { mFileInStep = std::move(fingerprint); }
    // The name of the file whose unsaved edits this document keeps apart (that file changed
    // while they waited in it); empty for any other document.
    const QString& keptEditsOf() const { return mKeptEditsOf; }
    void setKeptEditsOf(const QString& fileName) { mKeptEditsOf = fileName; }
    // A text for the user about the last failure. Nothing here sets it: it stays null, and
    // the interface then shows its general message.
    const QString& lastUserFriendlyError() const { return mLastUserFriendlyError; }
    // Why the last save of the open document (updateWithToken) failed, for the user; empty
    // after a success, and when the failure came with no reason.
    const QString& lastSaveError() const { return mLastSaveError; }
    // The instance identifier of the payload last applied (null before any).
    const QString& appInstance() const { return mAppInstance; }
    // Counts the edits made to the tree through IdeaEditingService since the handle was made
    // (saves and reads leave it), so that a screen can tell a tree it drew from a newer one.
    quint64 changeCount() const { return mChangeCount; }
    quint64 raiseChangeCount() { return ++mChangeCount; }

    // Whether the document's back end holds it in conflict, as the installed query answers
    // (the persistence controller installs one that asks the back end); false without one.
    bool inConflict() const;
    using ConflictQuery = std::function<bool(const IdeaDocument& document)>;
    // Installs the query (an empty one removes it) and answers the previous one. Main thread.
    static ConflictQuery setConflictQuery(ConflictQuery query);
    void resolvePotentialConflict() {}

    // "<IdeaDocument file=<last path component of the identifier>, idea=<idea>,
    // created=<date>, modified=<date>" (no closing bracket, as the format has always been).
    QString description() const;
    // Location 0 with a representativeURL: its last path component; otherwise the root
    // idea's export file name for "corvex" ("document.corvex" without a root idea).
    QString exportFileName() const;
    // Location 0: the last path component of representativeURL; without one "<keptEditsOf>
    // (unsaved changes)", or "untitled.corvex" for a document that keeps no file's edits;
    // otherwise the root idea's export file name without an extension
    // ("document" without a root idea).
    QString documentWindowName() const;

    // ---- Opening and saving (main thread)
    //
    // Every completion runs later on the main queue, never inside the call, also when the
    // answer is known at once.

    // Opens the document: reads the file (a closed document) or only adds a token (an open
    // one, answered without reading). While a read or a create of the file is under way, further
    // opens wait for it and then each get their own token without reading again (0 for all
    // on failure). Token 0 on failure; a nil URL raises "IdeaDocument:openFromURL".
    void openFromURL(const QUrl& url, TokenCompletion completion);
    // Writes the document as a new file and opens it. Token 0, without writing, when the document is
    // open or being opened; token 0 when the file exists already (it is never replaced) or
    // the write fails, and the document is then closed again, so that a later create may
    // retry.
    void createAtURL(const QUrl& url, TokenCompletion completion);
    // Opens the document at once and then writes it as a new file, for a tree the person
    // should see before it is stored: `opened` gets the token on the next turn of the main
    // queue; the tree is copied inside the call and the copy is encoded, deflated and written
    // on the persistence queue, and `stored` answers whether the file was made. Saves asked
    // for meanwhile are written after it; when it fails they fail too, the open tree is kept
    // and the tokens stay good until they are handed back, and each later save tries to make
    // the file again (a disk that was full may have room by then), never over a file that
    // someone else made meanwhile. Refused as createAtURL refuses
    // (token 0 and NO, nothing written), also for a document without a tree.
    void createAtURLOpeningFirst(const QUrl& url, TokenCompletion opened, BoolCompletion stored);
    // Writes the open document back. NO, without writing, for a token that is
    // not good or a document that is not open.
    void updateWithToken(qint64 token, BoolCompletion completion);
    // Hands the token back; the last one closes the document and releases the tree. The
    // completion (may be empty) runs also for a token that is not good, which changes
    // nothing.
    void closeWithToken(qint64 token, Completion completion = {});
    // The token was handed out by this document and not yet given back.
    bool goodToken(qint64 token) const;
    // Reads a file into the document (tree and dates) without opening it. A nil URL raises
    // "IdeaDocument:readFromURL" and answers NO.
    void readFromURL(const QUrl& url, BoolCompletion completion);
    // Writes the compressed form to any file, outside file coordination, atomically (an
    // existing file is replaced only once the new one is complete). A nil URL raises
    // "IdeaDocument:writeToLocalFileAt"; it and every failure answer NO.
    void writeToLocalFileAt(const QUrl& url, BoolCompletion completion);

    // ---- Payload

    // Takes the tree and the dates of the payload and remembers its instance identifier.
    void applyDataObject(const std::shared_ptr<IdeaDocumentDataObject>& payload);
    // The payload of the document (format 4, this instance's identifier; dateModified the
    // document's or now, dateCreated the document's or that dateModified) as JSON text.
    // Fails, logged and raised through Globals::raiseCorvexError, when the tree cannot be
    // written (a circular reference) or there is no root idea.
    Result<QByteArray> exportAsPureJSONData() const;
    // The same deflated into one zlib stream (IdeaDocumentDataObject::storedForm).
    Result<QByteArray> exportAsCorvexData() const;

    // ---- Attachments (main thread)

    // Asks the installed fetcher for the attachment in this document's location. Without a
    // fetcher, null bytes through the main queue.
    void fetchAttachment(const ObjectID& attachment, DataCompletion completion) const;
    // The idea's big picture when it has one; else its attachment fetched and read as PNG
    // (no image when no bytes came); with neither, no image. Always replies later, on the main queue.
    void fetchImageForIdea(const std::shared_ptr<Idea>& idea, ImageCompletion completion) const;
    // Installs the fetcher (an empty one removes it) and answers the previous one. Any
    // thread.
    static AttachmentFetcher setAttachmentFetcher(AttachmentFetcher fetcher);

    // The presenter of the open document (null while closed); for tests and the persistence
    // controller's diagnostics.
    const std::shared_ptr<IdeaFilePresenter>& filePresenter() const { return mFilePresenter; }
    // True while a read or create of the file is under way for openFromURL/createAtURL.
    bool isOpening() const { return mPendingPresenter != nullptr; }

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use the factories; public only for std::make_shared.
    IdeaDocument(Private, QString identifier, StorageLocation location, QString filePath);

private:
    // A save's bytes as a job for the queue that writes them: the payload's text is made now,
    // on the main thread, and the job turns it into the stored form
    // (IdeaDocumentDataObject::storedForm: plain JSON when `plainJSON`, else zlib) where it
    // runs, once. A tree that cannot be written makes a job that fails.
    std::function<Result<QByteArray>()> storedBytesJob(bool plainJSON) const;
    // The same for a copy of the tree taken now, whose text is made where the job runs: the
    // main thread pays for the copy only.
    std::function<Result<QByteArray>()> copiedTreeBytesJob(bool plainJSON) const;
    // Ends the open or create under way: `first` (the creator) gets `firstToken`, then every
    // waiting open a token of its own (0 on failure).
    void finishPending(bool ok, TokenCompletion first = {}, qint64 firstToken = 0);
    // A save of a document whose create failed: makes its file now.
    void makeUnmadeFile(BoolCompletion completion);

    QString mDocIdentifier;
    StorageLocation mLocation = TemporaryLocation;
    QString mFilePath;
    bool mGeneratedFileName = false;
    std::set<qint64> mTokens;
    std::shared_ptr<IdeaFilePresenter> mFilePresenter;
    // The file a create opening first could not make: the next save makes it.
    QUrl mUnmadeURL;
    // The presenter of an open or create under way, and the opens that wait for it.
    std::shared_ptr<IdeaFilePresenter> mPendingPresenter;
    std::vector<TokenCompletion> mWaitingOpens;
    QString mAppInstance;
    quint64 mChangeCount = 0;
    std::shared_ptr<Idea> mIdea;
    QDateTime mDateCreated;
    QDateTime mDateModified;
    QUrl mRepresentativeURL;
    std::optional<FileFingerprint> mFileInStep;
    QString mKeptEditsOf;
    QString mLastUserFriendlyError;
    QString mLastSaveError;
};

} // namespace corvex
