#pragma once

#include "cloud/container/CloudServices.h"
#include "platform/core/Completion.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "storage/IndexDocument.h"
#include "storage/PersistenceState.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class Idea;
class SerialQueue;

// The back end of the iCloud location (2) on Linux: the documents, the index file and the
// attachments live as plain files in a container folder that the user keeps in step
// between machines with any sync tool (Syncthing, Nextcloud, rclone...):
//
//   <container>/Documents/<name>.crvx          the documents ("iCloud:/<name>.crvx")
//   <container>/Documents/corvex.index         the index: a keyed archive of the summaries
//   <container>/Documents/attachments/<name>   the attachments, by ObjectID
//
// The platform's iCloud services stand behind CloudServices: the identity is the container
// folder itself (its device and inode), the metadata queries list the "Documents" folder,
// downloads are never needed, attachments move in without replacing anything, and the
// file versions of a document are the conflict copies a sync tool leaves beside it.
//
// Start: the identity is read (no identity: status 2); the "Documents" folder is found and
// "Documents/attachments" made (status 4, PersistenceStateChangeNotification); the index
// file is found, or made when there is none, and read, again every IndexRetrySeconds until
// it can be; then the documents are listed: each ".crvx" file is reported found, one after
// another in name order, then the index's list, then, one at a time, the summary of each
// found document the index lacks (read from its file); then status 5. An index changed by
// another machine (its presenter tells) is read again and the documents listed again. An
// identity that changes or goes away sends status 1 and starts again from the account
// check, which sends 2 while there is none; until the folder is found again, every document
// operation fails.
//
// Reads, writes and deletions go through the file coordinator (IdeaDocument, IndexDocument,
// coordinated deletion), so another instance of the program and the change watcher see them
// as any presented file's. Deleting answers YES when the file is gone (or was never there)
// and NO while it is still there. A conflict is resolved only when the chosen version is in
// place: a failed replace, or a version that is no document, answers NO and keeps every
// version.
//
// Bad input (an index that is no keyed archive, a document that does not parse, a file
// where the container should be, an identifier that is not one plain file name) is logged;
// the mode goes on and deletes nothing.
//
// Main thread: every member, every completion and every delegate call. The container
// lookup, attachments and the reading of summaries the index lacks run on a global queue
// (those summaries are decoded on a queue of the mode's own, one file behind the reading);
// document construction, deletions and version replacement on
// StorageQueues::persistenceQueue().
class CloudMode final : public PersistenceState
{
public:
    static constexpr double IndexRetrySeconds = 3.0;
    // Files read ahead of their decoding while summaries the index lacks are read.
    static constexpr long SummaryReadAhead = 4;
    static constexpr int QueryIndexFileAssertionLine = 228;
    static constexpr int StoreAttachmentAssertionLine = 249;
    static constexpr int ProvideAttachmentAssertionLine = 273;
    static const QString DocumentsFolderName;   // "Documents"
    static const QString AttachmentsFolderName; // "attachments"
    static const QString StuckErrorText;        // "CloudMode got stuck - we we not able to do anything!)"
    static const QString
        IndexCreationErrorText; // "Error creating INDEX DOCUMENT from iCloud (while we know it exists!)"

    // Starts the mode; its first step runs in a later main-queue turn, after the creator
    // has made itself the delegate.
    static std::shared_ptr<CloudMode> create(CloudServices services = CloudServices::standard());
    ~CloudMode() override;

    // The identity now of the standard account (CloudServices::standard).
    static std::optional<CloudIdentityToken> currentCloudToken();

    // ---- State (for the shell's diagnostics and for tests)

    const CloudServices& services() const { return mServices; }
    const std::optional<CloudIdentityToken>& cloudToken() const { return mCloudToken; }
    // The "Documents" folder once found; empty before and after the identity went.
    const QString& cloudDocumentsFolder() const { return mCloudDocPath; }
    const std::shared_ptr<IndexDocument>& subscribedIndexDocument() const { return mSubscribedIndexDocument; }
    // Reads of the index file so far (failed ones included).
    int indexReadCount() const { return mIndexReadCount; }
    // The file of a document of this location in the found folder; empty without the folder
    // or for an identifier of another location or not naming one plain file name.
    QString documentPath(const QString& docIdentifier) const;
    QUrl createFileURLForFileName(const QString& docIdentifier) const;

    // ---- PersistenceState

    void leaveState() override;
    void closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                       Completion completion) override;
    void createDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) override;
    void updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                        BoolCompletion completion) override;
    void openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) override;
    // The document's file in the found folder. Every writer of the container replaces files
    // whole: the program saves through a temporary file renamed over the old one, and sync
    // tools do the same (they take no part in file coordination either way).
    SearchRead searchRead(const QString& docIdentifier) override;
    void deleteDocument(const QString& docIdentifier, BoolCompletion completion) override;
    void saveProxyList(const std::vector<IdeaProxyPtr>& proxies) override;
    void storeAttachment(const ObjectID& attachment, const QByteArray& data,
                         StoreCompletion completion) override;
    void provideAttachment(const ObjectID& attachment, ProvideCompletion completion) override;
    bool keepsConflictingVersions() const override { return true; }
    DocumentVersionPtr findConflictingVersion(const IdeaProxyPtr& proxy) override;
    void handleConflictForProxy(const IdeaProxyPtr& proxy, BoolCompletion completion) override;
    QString description() const override;

    // The document's root idea read from its file (not opened); null on failure.
    using IdeaCompletion = corvex::Completion<const std::shared_ptr<Idea>&>;
    void fetchIdea(const QString& docIdentifier, IdeaCompletion completion);

    // ---- Steps (public for tests that drive them)

    void checkIfWeCanProceed();
    void iCloudAccountAvailabilityChanged();
    // The "Documents" folder (made with "attachments" inside), or empty, on the main queue.
    using FolderCompletion = corvex::Completion<const QString&>;
    void fetchCloudDocumentsDirectoryURL(FolderCompletion completion);

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use create(); public only for std::make_shared.
    CloudMode(Private, CloudServices services);

private:
    using Items = std::vector<CloudMetadataQuery::Item>;

    std::weak_ptr<CloudMode> weakSelf();
    void sendStatus(PersistenceStateStatus status);
    void queryIndexFile();
    void handleIndexFileQueryResults(const Items& results);
    void openIndexDocumentUntilSuccess(const std::shared_ptr<IndexDocument>& index, unsigned generation);
    void subscribeToIndexDocumentChanges(const std::shared_ptr<IndexDocument>& index);
    void indexDocumentStateChanged();
    void queryCloudDocuments();
    void doHandleQueryResultsFromIndex(std::size_t index, unsigned generation,
                                       std::shared_ptr<const Items> results);
    void documentsQueryFinished(unsigned generation);
    // The summaries of found documents the index lacks.
    struct SummaryRun
    {
        unsigned generation = 0;
        QStringList missing;                           // identifiers, in query order
        std::vector<std::optional<IdeaProxyPtr>> read; // set once read (null: unreadable)
        qsizetype next = 0;                            // the next to report
        bool listReported = false;                     // reported only after the list
        bool finished = false;                         // status 5 sent
        std::shared_ptr<std::atomic<bool>> stop;       // set: the reader stops
    };
    void startSummaryReader(const Items& results, unsigned generation);
    void reportReadSummaries();
    void stopSummaryReader();
    // A document's bytes under a coordinated read; nothing when they cannot be had. Any thread.
    static std::optional<QByteArray> readDocumentBytes(const QString& path);
    // The summary of a document's bytes; null when they do not decode. Any thread.
    static IdeaProxyPtr summaryFromBytes(const QString& identifier, const QByteArray& bytes);
    void stopAllPotentiallyRunningQueries();
    void doDeleteFileAtPath(const QString& path, BoolCompletion completion);
    void resolveConflict(const IdeaProxyPtr& proxy, const CloudFileVersionPtr& version,
                         const std::shared_ptr<Idea>& current, BoolCompletion completion);
    void finishResolution(const IdeaProxyPtr& proxy, const IdeaProxyPtr& keptCopy, const QString& path,
                          BoolCompletion completion);

    CloudServices mServices;
    std::shared_ptr<CloudIdentityMonitor> mMonitor;
    std::optional<CloudIdentityToken> mCloudToken;
    QString mCloudDocPath;
    CloudMetadataQueryPtr mIndexQuery;
    CloudMetadataQueryPtr mQuery;
    QSet<QString> mFilesFound;
    std::shared_ptr<IndexDocument> mSubscribedIndexDocument;
    NotificationCenter::ObserverToken mIdentityObserver;
    NotificationCenter::ObserverToken mIndexObserver;
    MainQueue::TaskId mIndexRetryTask = 0;
    unsigned mLookupGeneration = 0; // bumped when the identity changes: older lookups are dropped
    unsigned mIndexGeneration = 0;  // bumped by each index query: older retries stop
    unsigned mQueryGeneration = 0;  // bumped by each documents query: older chains stop
    std::shared_ptr<SummaryRun> mSummaryRun;
    std::shared_ptr<SerialQueue> mSummaryQueue; // decodes the summaries the index lacks
    int mIndexReadCount = 0;
    bool mIndexFailureLogged = false;
    bool mLookingUp = false;
};

} // namespace corvex
