#pragma once

#include "platform/core/Scheduler.h"
#include "storage/AttachmentManager.h"
#include "storage/DocumentLocation.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceState.h"
#include "storage/PersistenceStateDelegate.h"
#include "storage/SearchCache.h"
#include "storage/SearchReadQueue.h"
#include "storage/WorkspaceDelegate.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class ExecuteBlock;
class SerialQueue;

// The document set of one cloud location (2 iCloud, 3 Dropbox): it owns the location's
// storage back end, keeps the IdeaProxy summaries of the location's documents in display
// order, turns the back end's status codes into the location's WorkspaceStatus, keeps the
// location's search cache, and reports every change of the list to its delegate (the
// persistence controller).
//
// The list becomes complete with the back end's first complete list (observeProxyList);
// before that, single proxies change it silently, searches wait for it, and so does what
// asks whenListComplete (a user's open of a document shown before it). A document created
// before then stays in that list whatever the index read before it says, and is saved into
// the index with it. Events from a back end that is not the current one (after
// closeWorkspace) change nothing.
//
// The index file lists every document the back end found: a document it reports that the
// complete list lacked (observeIdeaProxy adds it) is saved into the index too, in one save
// for a whole run of such additions, IndexSaveDelaySeconds after the last one (a back end
// reports one document a turn). Else a document another machine lacks in its index, or that
// was lost from an index two machines wrote at once, would stay out of the index file for
// good. A summary the back end replaces or a document it reports deleted is not saved for
// itself: the next save of the list carries it. A save of the whole list meanwhile (a create,
// an update, a delete) holds the additions, and no other is made.
//
// Search: one search runs at a time. A screen's request whose identifier is not greater
// than that of the screen's search still running is ignored and never answered; a greater
// one takes over, and the older run ends at its next step without an answer. Missing
// documents are cached as lower-cased texts (SearchCache), read in list order: where the
// back end hands out search reads (PersistenceState::searchRead), on the global queues, as
// many at a time as the process has cores, each decoded only as far as its strings
// (SearchTextReader), the cache filled on the main thread as the answers come; where it
// does not, through fetchRootIdea, one at a time. Lazy mode reads one document at a time
// either way. Reads under way belong to the workspace, not to a run: a newer run takes
// their answers, and they are dropped once no search runs (killed, workspace closed).
// Request identifiers come from nextSearchRequestID(): ONE process-wide counter for every
// search, the workspace's own and the screens' alike.
//
// Refresh searches: each complete list starts a search with no text of the workspace's own,
// which fills the cache and answers the whole list. A refresh never drops a screen's
// search: while a screen's search runs, the refresh waits and is answered right after it
// (that run has read every missing document by then). A screen's request takes over from a
// running refresh whatever its identifier, and the refresh is answered the same way after
// it, so a screen never waits for an answer that a refresh took away, and neither kind goes
// unanswered except a refresh replaced by a newer refresh.
//
// Cache upkeep: a save through the workspace enters the document's new tree, a delete drops
// the entry. A document that the back end replaces (observeIdeaProxy), reports deleted, or
// lists in a complete list with another modification date or size than before loses its
// entry too, so that the next search reads it again instead of answering from its earlier
// text. A read under way when any of these happens (a save included) is not cached: it may
// hold the text from before.
//
// Completions: exactly once each, on the main queue and never inside the call that takes
// them. Failures found before any work (no back end, a document already listed, conflict
// operations on a back end without versions) answer on the next turn; everything else when
// the back end does.
// Failures of the back end pass through unchanged, and the list changes only after a
// success.
//
// Threads: main thread only, but for the search reads above. The queue "corvex.workspace"
// exists, as the workspace always had one, but no work goes to it.
class Workspace final : public PersistenceStateDelegate,
                        public AttachmentManager,
                        public DocumentLocation,
                        public std::enable_shared_from_this<Workspace>
{
public:
    using TokenCompletion = DocumentLocation::TokenCompletion;
    using BoolCompletion = DocumentLocation::BoolCompletion;
    using Completion = DocumentLocation::Completion;
    using IdeaCompletion = DocumentLocation::IdeaCompletion;

    static constexpr const char* QueueLabel = "corvex.workspace";
    // Before the list is complete, a search looks again after this many seconds.
    static constexpr double SearchWaitSeconds = 0.5;
    // A lazy search reads the next document this many seconds after the last one.
    static constexpr double LazyReadSeconds = 0.2;
    // Documents the back end adds to the complete list are saved into the index this many
    // seconds after the last of them.
    static constexpr double IndexSaveDelaySeconds = 1.0;

    // Location, status 1 (starting), the back end and the delegate; makes itself the back
    // end's delegate. The delegate is not owned: it outlives the workspace or is cleared
    // with setDelegate(nullptr) first.
    static std::shared_ptr<Workspace> initForLocation(StorageLocation location, PersistenceStatePtr state,
                                                      WorkspaceDelegate* delegate);
    ~Workspace() override;
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    StorageLocation location() const { return mLocation; }
    WorkspaceStatus status() const override { return mStatus; }
    // The back end; null after closeWorkspace.
    const PersistenceStatePtr& currentState() const { return mCurrentState; }
    WorkspaceDelegate* delegate() const { return mDelegate; }
    void setDelegate(WorkspaceDelegate* delegate) { mDelegate = delegate; }
    SerialQueue& queue() const { return *mQueue; }

    // The back end leaves its state and is dropped; its events are ignored from now on, and
    // the running search ends without an answer. Operations afterwards fail at once.
    void closeWorkspace();
    // "{Workspace(<address>) location=<n> storage=<back end's description>}".
    QString description() const;

    // ---- Documents

    // A document already listed: 0 at once, the back end not asked. Otherwise the back end
    // creates it; on success its proxy goes into the list at the index (clamped to the
    // list's length: callers pass indexes of a grid that may have changed), the list is
    // saved and the delegate hears documentAdded with the index used.
    void createDocument(const std::shared_ptr<IdeaDocument>& document, qint64 index,
                        TokenCompletion completion) override;
    // Straight to the back end.
    void openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion) override;
    // Stamps dateModified with now, then the back end writes it; on success the proxy is
    // refreshed, the list saved, the delegate hears documentUpdated, and the search cache
    // holds the document's new tree.
    void updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                        BoolCompletion completion) override;
    // Straight to the back end.
    void closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                       Completion completion) override;
    // The back end removes it; on success the proxy leaves the list, the list is saved, the
    // delegate hears documentDeleted and the cache entry goes.
    void deleteDocument(const QString& docIdentifier, BoolCompletion completion) override;
    // Opens a new handle for the identifier, takes its root idea and closes it again; null
    // when the document cannot be opened.
    void fetchRootIdea(const QString& docIdentifier, IdeaCompletion completion) override;
    // The handle of the document's summary in the complete list; null before the list is
    // complete.
    std::shared_ptr<IdeaDocument> heldDocument(const QString& docIdentifier) const override;
    // An iCloud document must be in the complete list: a move out of one that is not (yet)
    // listed is refused at once. Dropbox documents need not be.
    bool mayTakeIdeasFrom(const QString& docIdentifier) const override;

    // ---- The list

    // The list once complete; nothing before.
    std::optional<std::vector<IdeaProxyPtr>> proxyListOrNilIfNotReady() const override;
    bool hasCompleteProxyList() const { return mHasCompleteProxyList; }
    // The location is ready for the screens once its list is complete.
    bool isReadyForUse() const override { return mHasCompleteProxyList; }
    // findProxy in the complete list; null before the list is complete.
    IdeaProxyPtr listedProxy(const QString& docIdentifier) const override;
    // On the next turn when the list is complete (or the workspace closed); else on the turn
    // after the delegate has heard of the first complete list, or after closeWorkspace.
    void whenListComplete(Completion ready) override;
    // The list as it is now, complete or not.
    const std::vector<IdeaProxyPtr>& ideaProxies() const { return mIdeaProxies; }
    // Identifiers found since the last complete list.
    const QStringList& knownDocuments() const { return mKnownDocuments; }
    bool documentKnown(const QString& docIdentifier) const;
    // The first proxy with the identifier, or null.
    IdeaProxyPtr findProxy(const QString& docIdentifier) const;
    // That proxy's document handle, or null.
    std::shared_ptr<IdeaDocument> findDocument(const QString& docIdentifier) const;
    std::shared_ptr<IdeaDocument> documentForIdentifier(const QString& docIdentifier) const;
    // The back end writes the index file with the whole list.
    void saveIdeaProxyList();
    // Whether documents added by the back end wait for their index save.
    bool hasUnsavedAdditions() const { return mUnsavedAdditions; }

    // ---- Attachments and conflicts: handed to the back end unchanged

    void storeAttachment(const ObjectID& attachment, const QByteArray& data,
                         StoreCompletion completion) override;
    void provideAttachment(const ObjectID& attachment, ProvideCompletion completion) override;
    // This workspace itself.
    std::shared_ptr<AttachmentManager> attachmentManager() override;
    // Only for a back end that keeps versions; otherwise null, and NO at once.
    DocumentVersionPtr findConflictingVersion(const IdeaProxyPtr& proxy) override;
    void handleConflictForProxy(const IdeaProxyPtr& proxy, BoolCompletion completion) override;
    // A workspace is what a back end serves.
    bool takesBackEnd() const override { return true; }

    // ---- Search. A null text is "no text": it matches every document and answers the
    // whole list; any other text is lower-cased and looked for in the texts, notes and icon
    // symbols (an empty text occurs nowhere).

    // The next request identifier of the one process-wide counter (the first is 1). Any
    // thread.
    static qint64 nextSearchRequestID();
    // How many search reads run at a time outside lazy mode: one more than the usable cores,
    // or one on a single core.
    static int searchReaders();
    void startSearch(const QString& text, qint64 requestIdentifier);
    // A screen's search. Lazy mode reads missing documents only while Globals::isUserIdle(),
    // one every LazyReadSeconds. Identifiers below 1 are ignored.
    void startSearch(const QString& text, qint64 requestIdentifier, bool inLazyMode) override;
    bool answersSearches() const override { return true; }
    // Ends the running search without an answer when it has this identifier (a refresh
    // waiting behind it then runs); forgets a waiting refresh of that identifier.
    void killSearch(qint64 requestIdentifier) override;
    // The running search's identifier; 0 when none runs.
    qint64 searchRequestID() const { return mSearchRequestID; }
    // The identifier of the refresh that waits for the running search; 0 when none.
    qint64 pendingRefreshSearchID() const { return mPendingRefreshID; }
    // Documents being read for the search cache, their answers not taken yet.
    qsizetype searchReadsUnderWay() const { return mSearchReads.size(); }
    // Null text: the proxies of the list themselves, in list order. Otherwise a copy of each
    // listed proxy of each cached document that matches, best first (SearchCache::search),
    // its itemCount the number of matching strings.
    std::vector<IdeaProxyPtr> findMatchingProxies(const QString& text) const;
    // Tells the delegate searchIsReady.
    void searchIsReady(const std::vector<IdeaProxyPtr>& proxies, qint64 requestIdentifier);
    SearchCache& searchCache() { return mSearchCache; }
    const SearchCache& searchCache() const { return mSearchCache; }

    // ---- PersistenceStateDelegate (ignored unless `state` is the current back end)

    // Codes 0..5 become 1, 2, 0, 4, 3, 4 and the delegate hears statusChange; others nothing.
    void statusChange(PersistenceStateStatus status, PersistenceState* state) override;
    void observeIdeaProxy(const IdeaProxyPtr& proxy, PersistenceState* state) override;
    void observeProxyList(const std::vector<IdeaProxyPtr>& proxies, PersistenceState* state) override;
    void ideaDocumentDeleted(const QString& docIdentifier, PersistenceState* state) override;
    void foundIdeaDocument(const QString& docIdentifier, PersistenceState* state) override;
    void detectedDocumentConflict(const QString& docIdentifier, PersistenceState* state) override;

    // The WorkspaceStatus of a back end's code; nothing for codes above 5.
    // A refused token of the Dropbox location is an error the user must act on (connect
    // again), not a location without an account: the code means Error there.
    static std::optional<WorkspaceStatus> workspaceStatusForCode(PersistenceStateStatus status,
                                                                 StorageLocation location);

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use initForLocation; public only for std::make_shared.
    Workspace(Private, StorageLocation location, WorkspaceDelegate* delegate);

private:
    bool isCurrent(const PersistenceState* state) const;
    // The index of the first proxy with the identifier, or -1.
    qsizetype indexOfProxy(const QString& docIdentifier) const;
    void updateProxyForDocument(const std::shared_ptr<IdeaDocument>& document, const IdeaPtr& saved);
    void deleteProxyForDocument(const QString& docIdentifier);
    // The back end added a document to the complete list: the index is saved
    // IndexSaveDelaySeconds after the last such addition.
    void saveAdditionsLater();
    // Drops the document's cache entry; a search read of it under way is then not cached.
    void forgetSearchEntry(const QString& docIdentifier);
    // The refresh search a complete list starts (see above).
    void startRefreshSearch();
    // Makes the run current and takes its first step.
    void runSearch(const QString& text, qint64 requestIdentifier, bool inLazyMode, bool refresh);
    // One step of the search run `requestIdentifier` (see startSearch).
    void searchStep(const std::shared_ptr<ExecuteBlock>& run, const QString& text, qint64 requestIdentifier,
                    bool inLazyMode);
    // Reads the documents for the cache: through the back end's search reads, at most
    // searchReaders() at a time (one in lazy mode), or, where it has none, by fetchRootIdea,
    // one at a time.
    void startSearchReads(const QStringList& docIdentifiers, bool inLazyMode);
    SearchReadQueue& searchReadQueue();
    // Takes a read off the list under way; true when its answer is to be cached.
    bool takeSearchRead(const QString& docIdentifier, quint64 generation);
    void searchReadsAnswered(std::vector<SearchReadQueue::Answer>& answers);
    // The running search takes its next step: at once, or after LazyReadSeconds in lazy mode.
    void wakeSearchRun();
    // Reads not started yet are not wanted any more.
    void dropWaitingSearchReads();

    StorageLocation mLocation;
    WorkspaceStatus mStatus = WorkspaceStatus::Starting;
    PersistenceStatePtr mCurrentState;
    std::vector<IdeaProxyPtr> mIdeaProxies;
    std::unique_ptr<SerialQueue> mQueue;
    QStringList mKnownDocuments;
    bool mHasCompleteProxyList = false;
    // What waits for the first complete list (a user's open of a document the grid shows
    // before it, say), in the order asked.
    std::vector<Completion> mWaitingForList;
    // Documents made here while the list was not complete yet.
    QSet<QString> mMadeBeforeList;
    WorkspaceDelegate* mDelegate;
    SearchCache mSearchCache;
    qint64 mSearchRequestID = 0;
    bool mRunningIsRefresh = false;
    qint64 mPendingRefreshID = 0;
    // Per document, how often its cache entry was dropped: a search read that started
    // before a drop is not cached (it may hold the text from before the change).
    QHash<QString, quint64> mEntryGenerations;
    // The search reads under way: each document with its entry's generation when asked for.
    QHash<QString, quint64> mSearchReads;
    std::shared_ptr<SearchReadQueue> mSearchReadQueue; // made with the first search
    // The running search's rounds, which the reads' answers move on (nothing else holds
    // them while reads are under way); null when none runs.
    std::shared_ptr<ExecuteBlock> mSearchRun;
    bool mSearchRunLazy = false;
    // Documents the back end added that no save of the list holds yet, and the save that
    // will write them.
    bool mUnsavedAdditions = false;
    std::optional<Scheduler::TaskId> mAdditionsSave;
};

using WorkspacePtr = std::shared_ptr<Workspace>;

} // namespace corvex
