#pragma once

#include "cloud/dropbox/DropboxBackoff.h"
#include "cloud/dropbox/DropboxFolderManagerState.h"
#include "cloud/dropbox/DropboxModeServices.h"
#include "platform/core/Completion.h"
#include "platform/core/NotificationCenter.h"
#include "storage/PersistenceState.h"

#include <QSet>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class IndexJSONDocument;

// The back end of the Dropbox location (3): a local mirror of the application's Dropbox
// folder, kept in step by one polling loop on the main queue.
//
// Storage operations work on local copies only: each document or index operation becomes a
// task the loop runs in order once the status file is loaded; open and create answer token
// 1 or 0. Every local copy has a record (DocumentInfo) saying which file is current, which
// Dropbox revision it matches and which change or deletion waits for upload; the records
// live in "corvex.local.status" in the managed folder.
//
// Each turn offers the work to eighteen actions in a fixed order; the first that starts
// work ends the turn. Two flags keep at most one local operation and one Dropbox request
// of the loop in flight. Busy, the loop turns at once; idle, once a second; a listing older
// than 30 s (wall clock) is asked for again. A connection found again lists and downloads
// everything before any upload, whatever found it: the check (after more than 5 s without
// data), an answer arriving while the connection was believed lost, or a new sign-in. A
// listing begun before is not that listing: what it says may be older than the loss. Nor does
// the account client repeat a request after more than 5 s without data (the repeat gate): the
// failure comes back to the loop, which takes that road once the connection is back.
//
// Sound behaviour where the plain rules would lose or wedge: an unreadable status file is
// set aside as "corvex.local.status.<ms>.bak" and the mode starts as on a first start, after
// every document copy was moved out of the clean-up's reach (DropboxSetAside); once listed,
// the newest copy of each document that Dropbox does not hold becomes a conflict copy; a save from an
// open handle whose content a downloaded remote change replaced since keeps that change as a conflict
// copy rather than uploading over it; a status file that
// cannot be written is retried at later turns; a failed write answers NO and changes no record; only
// attachment-shaped names are uploaded or become local files; a save falling due during a write runs once
// more after it, and a pending save is written when the mode leaves or the application quits; queued tasks
// answer failure when the mode leaves; an attachment asked for is waited for at most
// AttachmentWaitLimitSeconds. A task's caller hears its answer once the status file holds
// the task's change, so an answered save survives a kill. The summary of a downloaded copy
// is read beside the loop (the clean-up waits for it), so the next download need not wait.
//
// Nothing runs away and nothing is wedged by a failing service: every request waits out the
// back-off of its step (DropboxBackoff), and a failed listing is asked again as soon as that
// allows. The reachability check runs once a minute while connected and, once the connection
// is lost, when the back-off allows the next request. An access token that is refused (and
// that a refresh could not mend) stops every request and sends status 2 once, until the
// signed-in account changes. A download that keeps failing holds back only its own document; one
// whose content hash never matches is logged once. A document whose path on Dropbox became a
// folder is not fetched again; its local edit, if any, moves to a conflict copy's name, and
// the index names that instead.
// A remote index that cannot be read is replaced by the local one, uploaded over its
// revision; one of a newer format is left alone, and the documents go on without it.
//
// Main thread only; completions and delegate calls on the main queue.
class DropboxFolderManager final : public PersistenceState
{
public:
    static constexpr int AttachmentsFolderAssertionLine = 79;
    static constexpr int UploadFolderAssertionLine = 84;
    static constexpr int StoreAttachmentAssertionLine = 340;
    static constexpr int LoadDocumentAssertionLine = 625;
    static constexpr int StatusReadAssertionLine = 815;
    static constexpr int StatusWriteAssertionLine = 856;
    static constexpr int TaskSaveAssertionLine = 1206;

    static constexpr double IdleTurnSeconds = 1.0;
    static constexpr double ProbeDelaySeconds = 2.0;
    static constexpr double SaveDelaySeconds = 2.0;
    static constexpr double AttachmentRetrySeconds = 0.5;
    static constexpr double AttachmentWaitLimitSeconds = 30.0;
    static constexpr qint64 PollIntervalMillis = 30000;
    static constexpr qint64 ReconnectQuietMillis = 5000;
    // How often the reachability check runs while the connection is believed to work.
    static constexpr double ConnectedProbeSeconds = 60.0;

    static const QString StatusFileName;            // "corvex.local.status"
    static const QString ManagedFolderName;         // "dropbox"
    static const QString WillTerminateNotification; // "NSApplicationWillTerminateNotification"

    // Starts the mode: its first turn runs in a later main-queue turn.
    static std::shared_ptr<DropboxFolderManager>
    create(DropboxModeServices services = DropboxModeServices::standard());
    ~DropboxFolderManager() override;

    // ---- Places
    QString localManagedFolder() const;
    QString localManagedFile(const QString& name) const;
    QString localAttachmentsFolder() const;
    QString localUploadFolder() const;

    // ---- State (diagnostics and tests)
    bool isActive() const { return delegate() != nullptr; }
    const DropboxFolderManagerState& state() const { return *mState; }
    PersistenceStateStatus lastCommunicatedStatus() const { return mLastCommunicatedStatus; }
    // Requests stopped after an access token was refused, until the account changes.
    bool isStoppedForAuthorization() const { return mAuthStopped; }
    const DropboxBackoff& backoff() const { return mBackoff; }
    bool didSomethingLastTime() const { return mDidSomethingLastTime; }
    // Nothing in flight, no task queued, no listing owed, nothing waiting for upload or
    // download, the last turn found no work.
    bool isQuiet() const;

    // ---- PersistenceState
    void leaveState() override;
    void closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                       Completion completion) override;
    void createDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) override;
    void updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                        BoolCompletion completion) override;
    void openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) override;
    void deleteDocument(const QString& docIdentifier, BoolCompletion completion) override;
    void saveProxyList(const std::vector<IdeaProxyPtr>& proxies) override;
    void storeAttachment(const ObjectID& attachment, const QByteArray& data,
                         StoreCompletion completion) override;
    void provideAttachment(const ObjectID& attachment, ProvideCompletion completion) override;
    QString description() const override;

    using DocumentCompletion = corvex::Completion<const std::shared_ptr<IdeaDocument>&>;
    void fetchDocument(const QString& docIdentifier, DocumentCompletion completion);

    // ---- The loop (public for tests that drive it)
    void ensureRunnable();
    void run();
    // The newest local version's rev a local change is based on.
    static std::optional<QString> localRevFromDocumentInfo(const DocumentInfo::Ref& record);
    static bool fileInfoMatchesRev(const QVFileInfo::Ref& info, const QString& rev);
    // The record after a listing entry was seen.
    static DocumentInfo::Ref markForLoadingIfNeeded(const FileMetadata& entry,
                                                    const DocumentInfo::Ref& record);
    static DocumentInfo::Ref updatedDocInfoAfterUploadResponse(const QVFileInfo::Ref& uploaded,
                                                               const UploadResponse& response,
                                                               const DocumentInfo::Ref& record);
    static QVFileInfo::Ref updatedOutputAfterSuccessfulUpload(const QVFileInfo::Ref& uploaded,
                                                              const QString& rev,
                                                              const QVFileInfo::Ref& output);
    static QVFileInfo::Ref updatedOutputAfterUploadFoundsFileDeleted(const QVFileInfo::Ref& output);
    static DocumentInfo::Ref updatedDocInfoAfterDeleteResponse(const DeleteResponse& response,
                                                               const DocumentInfo::Ref& record);
    static DocumentInfo::Ref resolveIndexDocumentState(const DocumentInfo::Ref& record);
    static DropboxFolderManagerState::DocumentMap
    filterOutDeletedDocuments(const DropboxFolderManagerState::DocumentMap& docs);
    static bool shouldFileBeKept(const QString& fileName, const DropboxFolderManagerState& state);

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use create(); public only for std::make_shared.
    DropboxFolderManager(Private, DropboxModeServices services);

private:
    // A queued storage operation and the failure answer it gives when the mode leaves first.
    struct Task;
    // Ends a task: the answer for its caller runs after the status file was written.
    using TaskDone = std::function<void(std::function<void()> answer)>;
    using Action = bool (DropboxFolderManager::*)();

    void initialize();
    std::weak_ptr<DropboxFolderManager> weakSelf();
    void queueTask(std::function<void(const TaskDone& done)> work, std::function<void()> fail);
    // Writes the document to a new local copy in a task; on success the record becomes
    // `recordAfter` of the copy's name and the old record.
    void queueDocumentWrite(
        const std::shared_ptr<IdeaDocument>& document,
        std::function<DocumentInfo::Ref(const QString& name, const DocumentInfo::Ref& old)> recordAfter,
        BoolCompletion completion);
    void sendStatus(PersistenceStateStatus status);
    void observeInvalidAccessToken();
    void observeNoConnection();
    void observeGotSomeData();
    void observeSignedIn();
    // The connection is back, by whichever road: the folder is listed again and every remote
    // change fetched before any upload.
    void reconnected();
    void tellDelegateAboutSync();

    bool idle() const;
    // Believed connected and signed in.
    bool connected() const;
    bool loadedAndConnected() const;
    // Whether the loop may send a request for `step` now (connected, and its back-off over);
    // asking() marks it sent, answered() counts how it ended.
    bool mayAsk(const QString& step) const;
    void asking(const QString& step);
    void answered(const QString& step, bool ok);

    // Loop actions, in the order of the turn.
    bool action_ensureDropboxConnectionStatus();
    bool action_uploadDropboxChanges();
    bool action_downloadDropboxFiles();
    bool action_resolveDocumentStates();
    bool action_loadMissingProxies();
    bool action_resolveIndexFileState();
    bool action_downloadIndexFileFromDropbox();
    bool action_uploadIndexFileToDropbox();
    bool action_listDropboxContents();
    bool action_adoptSetAsideCopies();
    bool action_realFileCleanup();
    bool action_ensureIndexDocumentAvailability();
    bool action_initializeFolderStatus();
    bool action_performUserTask();
    bool action_ensureAttachmentFolder();
    bool action_listDropboxAttachments();
    bool action_downloadDropboxAttachments();
    bool action_uploadDropboxAttachments();

    void answerReachability(bool reachable);

    // Status file.
    void saveStatusLater();
    // `then` runs in the turn the write is known, right after the loop was asked to run again:
    // the steps that wait for the status file go on before the loop's next turn.
    using AfterStatusSave = std::function<void(bool ok)>;
    void saveOrCreateLocalStatus(AfterStatusSave then);
    void writeDelayedSave();
    void flushPendingSave();
    void finishStatusLoad(std::optional<DropboxFolderManagerState> read, bool existed);
    void startAsOnFirstRun();
    // The status file could not be read: its copies are set aside before it is.
    void setAsideAndStartAfresh(bool existed);
    // A set-aside copy whose content Dropbox or a record holds already is dropped; any other
    // becomes a new document, uploaded as a conflict copy.
    void adoptSetAsideCopy(const QString& path);
    QSet<QString> localContentHashes() const;

    // Documents.
    void markMissingDropboxDocumentsForDownload(const std::vector<FileMetadata>& entries);
    void markMissingLocalDocumentsForCheck(const std::vector<FileMetadata>& entries);
    void handleDownloadAnswer(const QString& identifier, const QString& localName,
                              const DownloadResponse& response);
    DocumentInfo::Ref resolveLoadAndNotifyState(const QString& identifier, const DocumentInfo::Ref& record);
    void doUploadToDropbox(const QString& identifier, const DocumentInfo::Ref& record);
    // Whether the last listing showed that content under another document's path, in a
    // revision that no change of ours has replaced or is about to replace or delete.
    bool isKeptOnDropboxElsewhere(const QString& identifier, const QString& contentHash) const;
    void doDeleteFromDropbox(const QString& identifier, const DocumentInfo::Ref& record);
    // A read's document (null on failure), handed on in the turn the main thread makes it: a
    // step of the loop's own, which other steps wait for, not an answer to a caller.
    using Loaded = std::function<void(const std::shared_ptr<IdeaDocument>& document)>;
    void loadDocument(const QString& identifier, const QString& sourcePath, Loaded loaded);
    // The newest local version whose file is there: a pending change whose file went gives
    // way to the current copy.
    QVFileInfo::Ref newestReadableVersion(const DocumentInfo::Ref& record) const;
    // Reads the newest local version; for a handle being opened, remembers which one it was.
    void readDocument(const QString& identifier, const std::shared_ptr<IdeaDocument>& opening,
                      DocumentCompletion completion);
    // The remote version that met a local change becomes a new document, a conflict copy.
    void keepAsConflictCopy(const QString& identifier, const QVFileInfo::Ref& version);
    // Writes the status file ahead of any upload while a conflict copy is named only in memory;
    // false while a failed write waits to be tried again.
    bool saveConflictCopiesBeforeUploads();
    void rememberOpenedVersion(const std::shared_ptr<IdeaDocument>& document, const QVFileInfo::Ref& version);
    // A pending change that a newer save of the same document replaces before it was known to
    // have landed: its content may yet come back from Dropbox as a version of our own.
    void rememberSupersededChange(const QString& identifier, const QVFileInfo::Ref& change);
    // Whether the newest local version is another content than the one the open handle's
    // content came from (a remote change was taken in meanwhile).
    bool savedOverAnotherVersion(const std::shared_ptr<IdeaDocument>& document,
                                 const DocumentInfo::Ref& record) const;
    void loadDocumentAndNotifyProxy(const QString& identifier, const QVFileInfo::Ref& info);
    // The summary of a resolved download, read while the loop goes on; `then` gets the summary
    // after the delegate did.
    void notifySummaryOfDownload(const QString& identifier, const QVFileInfo::Ref& info,
                                 std::function<void(const IdeaProxyPtr&)> then = {});
    // A download that did not match its content hash: said once per path.
    // True the first time a path is noted, until a whole download of it clears the note.
    bool noteDamagedDownload(const QString& remotePath);
    // DropboxSyncNotices' notice of a document that cannot be synced, its copy kept as
    // `copyDocument` in the local file of `copy` (if any).
    void tellDocumentNotSynced(const QString& identifier, bool folderAtPath, const QString& copyDocument,
                               const QVFileInfo::Ref& copy);

    // A folder at a document's path (DropboxFolderManagerFolders.cpp).
    // The document's local edit moves away under a conflict copy's name; without one, the
    // local copy stays as it is and the path is not asked about again while the mode runs.
    void folderTookThePlaceOf(QString identifier, DocumentInfo::Ref record);
    void moveOffFolder(QString identifier, DocumentInfo::Ref record);
    // A new local index in which `proxy` takes the place of `from`, queued as a task.
    void pointIndexAt(const QString& from, const IdeaProxyPtr& proxy);
    void setRecord(const QString& identifier, const DocumentInfo::Ref& record);
    DocumentInfo::Ref record(const QString& identifier) const;

    // Index.
    void indexDocumentAvailable(const std::shared_ptr<IndexJSONDocument>& index);
    // The remote index that became current could not be read.
    void remoteIndexUnreadable(const DocumentInfo::Ref& before, const DocumentInfo::Ref& resolved,
                               const IndexJSONDocument& index);
    void ensureNewLocalDocumentsToBeLoadedAsProxies(const std::vector<IdeaProxyPtr>& proxies);

    // Attachments.
    void fetchLocalAttachment(const QString& name, ProvideCompletion completion);
    void downloadAttachment(const QString& name, ProvideCompletion completion);
    QSet<QString> listFilenamesInFolder(const QString& folder) const;

    // Files.
    // A new name from `make` that no file in the managed folder has yet: a restart within
    // the same second must not write over a copy a record names.
    QString unusedLocalName(QString (*make)()) const;
    bool ensureLocalManagedFolder() const;
    QStringList listFilePathsInFolder(const QString& folder) const;
    void removeFilesAsync(const QStringList& paths);

    DropboxModeServices mServices;
    std::unique_ptr<DropboxFolderManagerState> mState;
    std::vector<NotificationCenter::ObserverToken> mObservers;
    PersistenceStateStatus mLastCommunicatedStatus = 0;
    QString mLocalManagedFolder;
    bool mDidSomethingLastTime = false;
    int mRunnablesPosted = 0;
    double mTimeOfLastDataReceived = 0;
    double mTimeOfLastPoll = 0;
    // Delayed saves scheduled and not yet due, and a save that fell due during a write.
    int mSavesScheduled = 0;
    bool mSaveAgain = false;
    bool mLeft = false;
    DropboxBackoff mBackoff;
    bool mAuthStopped = false;
    // Counts the reconnects: a listing answers for the connection it began in.
    quint64 mConnection = 0;
    // When the next reachability check may start while connected (scheduler time).
    double mNextProbeAt = 0;
    // The revision of a remote index of a newer format: never replaced, never fetched again.
    std::optional<QString> mNewerFormatIndexRev;
    // A conflict copy that no status write begun after it has landed yet: no upload goes out
    // until one has. And when a failed write of it is tried again (scheduler time).
    bool mConflictCopyUnsaved = false;
    double mConflictCopySaveRetryAt = 0;
    // Set-aside copies may wait for adoption (checked once the status file is loaded).
    bool mSetAsideWaiting = false;
    // The content hashes of the documents of the last listing, and each document's revision
    // and content hash.
    QSet<QString> mListedContentHashes;
    std::map<QString, std::pair<QString, QString>> mListedVersions;
    // Documents whose path on Dropbox a folder holds: never fetched while it stays.
    QSet<QString> mFolderPaths;
    // Remote paths whose damaged download was logged.
    QSet<QString> mDamagedDownloads;
    // The version each open handle's content was read from or last saved as: its revision and
    // content hash. Per handle, since the workspace opens and closes a document of its own to
    // read a summary while a window holds it. Kept in memory only: handles do not outlive the
    // mode.
    struct OpenedVersion
    {
        std::weak_ptr<IdeaDocument> handle;
        std::optional<QString> rev;
        std::optional<QString> contentHash;
    };
    std::map<const IdeaDocument*, OpenedVersion> mOpenedVersions;
    // Per document, the content hashes of pending changes a later save replaced while the
    // document still waits for upload (in memory: they matter only until that upload lands).
    std::map<QString, QSet<QString>> mSupersededChanges;
};

// Plugs the Dropbox mode into the storage facade for location 3 (PersistenceStateFactory).
// Called once at start-up by the application shell; again changes nothing.
void registerDropboxLocation();

} // namespace corvex
