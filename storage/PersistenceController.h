#pragma once

#include "graphics/QVImage.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/ObjectID.h"
#include "platform/core/Completion.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Result.h"
#include "storage/DocumentImporter.h"
#include "storage/IdeaDocument.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceState.h"
#include "storage/Workspace.h"
#include "storage/WorkspaceDelegate.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class AttachmentManager;
class DocumentLocation;
class PersistenceControllerListener;
class PersistenceControllerListenerHolder;
class SerialQueue;
class TemporaryLocation;

// The single way in to stored documents for the whole program. Every location is served by
// an object behind one interface (DocumentLocation): the temporary location (0) by its
// TemporaryLocation, through IdeaDocument files in TempLocationManager's folder, and each
// cloud location (2 iCloud, 3 Dropbox) the user has opted in to by that location's Workspace
// and its back end. Location 1 (a local file), a cloud location without a workspace and any
// other number are served by an UnservedLocation: every operation on them fails through its
// completion. An operation picks the location's object once (locationFor, the one place that
// reads a location number) and forwards to it. The location of a document is read from its
// identifier.
//
// Threads: every member is for the main thread, except singleton(), workQueue() and
// nextSearchRequestID(), which any thread may call. No locks guard the lists.
//
// Completions run exactly once, on the main thread, never inside the call that takes them
// (Completion posts every answer). A failure found before any work is done (no workspace for
// the location, a known identifier, a location that is not served, an index out of range)
// answers on the next turn; everything else when the document, workspace or back end doing
// the work answers. Completions may be empty. Failures are told only through the
// completion: token 0, NO, nullptr (or nullptr and a null identifier).
class PersistenceController final : public WorkspaceDelegate,
                                    public std::enable_shared_from_this<PersistenceController>
{
public:
    using TokenCompletion = corvex::Completion<qint64>;
    using BoolCompletion = corvex::Completion<bool>;
    using Completion = corvex::Completion<>;
    using IdeaCompletion = corvex::Completion<const IdeaPtr&>;
    // A read document file: its payload, or why it cannot be opened (DocumentImporter).
    using ImportCompletion = corvex::Completion<const DocumentImporter::Read&>;
    // The stored root idea and the new document's identifier; nullptr and a null identifier
    // on failure.
    using StoredIdeaCompletion = corvex::Completion<const IdeaPtr&, const QString&>;
    // A document file stored as a new document: its root idea and identifier, and what of a
    // file read only in part was left out (the payload's incompleteReading()).
    struct ImportedDocument
    {
        IdeaPtr idea;
        QString docIdentifier;
        QString incompleteReading;
    };
    // The stored document, or why the file could not be read or stored (the error's failure
    // reason says it in words for the person who opened the file).
    using ImportedDocumentCompletion = corvex::Completion<const Result<ImportedDocument>&>;
    using DataCompletion = corvex::Completion<const QByteArray&>;
    // consumeIdea's chain: stores the idea somewhere and calls `next` with the outcome.
    using NextBlock = std::function<void(bool ok)>;
    using ChainBlock = std::function<void(const IdeaPtr& idea, NextBlock next)>;
    // consumeIdea's removal of the source idea once the chain stored it.
    using RemoveBlock =
        std::function<void(const QString& ideaIdentifier, const QString& docIdentifier, BoolCompletion done)>;

    // Posted with no sender whenever a location's state may have changed (a workspace made
    // or closed, a back end's status change); observers ask statusForLocation again.
    static const QString StateChangeNotification; // "PersistenceStateChangeNotification"

    // The line numbers of the assertion lines this class logs ("ERROR: Assertion failure,
    // line: %.3i %s"); fixed texts other tools look for.
    static constexpr int BackEndAssertionLine = 159;    // a back end asked for a location other than 2 and 3
    static constexpr int TempURLAssertionLine = 219;    // a temporary-location URL asked for another location
    static constexpr int SearchAssertionLine = 730;     // a search for a location without a workspace
    static constexpr int RemoveIdeaAssertionLine = 776; // a found idea its parent would not remove

    // ---- Construction and locations

    // The one controller. Made once, on first use: constructed, published as the singleton,
    // then initialised, so that the back ends made during initialisation can reach it
    // again; once published it is answered at once, without waiting. Never destroyed.
    // Initialisation examines locations 2 and 3 (making the workspaces of those the user opted
    // in to, with back ends from PersistenceStateFactory) and then follows every change of
    // the user defaults; call it first on the main thread. Other threads may use only
    // workQueue() of it.
    static PersistenceController& singleton();
    // The serial queue "corvex.persistence" (StorageQueues) for the file work of documents
    // and back ends; the controller itself puts nothing on it.
    SerialQueue& workQueue() const;

    // The location's workspace, or nullptr.
    std::shared_ptr<Workspace> workspaceForLocation(StorageLocation location) const;
    // Stores the workspace for the location; nullptr removes the entry.
    void setWorkspace(const std::shared_ptr<Workspace>& workspace, StorageLocation location);
    // Where the location keeps its attachments: the TempLocationManager for 0, the
    // workspace for 2 and 3 (nullptr without one), nullptr for any other location.
    std::shared_ptr<AttachmentManager> attachmentManagerForLocation(StorageLocation location) const;
    // The file of a temporary-location document; for another location the assertion line
    // 219 and an empty URL. Also empty for a path that is not one plain file name.
    QUrl urlForLocalOrTempFileWithDocIdentifer(const QString& identifier) const;
    // The location's document list once its workspace has a complete one, else nothing.
    std::optional<std::vector<IdeaProxyPtr>> proxyListForLocation(StorageLocation location) const;
    // Location 0 always; otherwise once its list is complete.
    bool isLocationReadyForUse(StorageLocation location) const;
    // The workspace's status (0 unavailable, 1 starting, 2 error, 3 synchronising, 4 in
    // sync); 0 without a workspace.
    WorkspaceStatus statusForLocation(StorageLocation location) const;

    // ---- Documents (identifier: a document identifier, whose prefix gives the location)

    // Stores a new document (root idea and dates set) at the index of its location's list and
    // opens it: a token above 0, or 0. The index is clamped into the list (a negative one to
    // the front, one past the end to the end); location 0 keeps no list and ignores it. A
    // temporary document whose identifier is registered already fails with 0 and leaves the
    // registered handle alone.
    void createDocument(const std::shared_ptr<IdeaDocument>& document, qint64 index,
                        TokenCompletion completion);
    // The same at the front of the list (index 0).
    void createDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion);
    // The same with the token first, for a tree the person should see before it is stored:
    // `opened` answers the token (0 for a refusal) as soon as the document may be shown and
    // edited, `stored` whether its file was made. The temporary location opens before it
    // stores (TemporaryLocation::createDocumentOpeningFirst); the others answer both once
    // stored. A failed store leaves the open tree and its token; its saves then fail.
    void createDocumentOpeningFirst(const std::shared_ptr<IdeaDocument>& document, TokenCompletion opened,
                                    BoolCompletion stored);
    // Opens the document: a token above 0, or 0. A temporary document opened successfully is
    // registered (once more for each open).
    void openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion);
    // Stamps dateModified with now (before anything else, even for a bad token) and writes
    // the open document.
    void saveDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token, BoolCompletion completion);
    // Hands the token back; the completion may be empty. The handle stays registered.
    void releaseDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                         Completion completion = {});
    // Location 0: the copy of a document whose window has closed is removed
    // (TemporaryLocation::removeClosedCopy); other locations keep their documents.
    void removeClosedCopy(const std::shared_ptr<IdeaDocument>& document);
    // Cloud locations: deletes the document through the workspace. Location 0: unregisters
    // every registered handle with the identifier and answers whether there was one; the
    // file stays on disk.
    void deleteDocument(const QString& identifier, BoolCompletion completion);
    // The document's root idea, read without opening (or nullptr).
    void fetchRootIdea(const QString& identifier, IdeaCompletion completion);
    // The newest unresolved conflicting version of the proxy's document (iCloud), or none.
    DocumentVersionPtr findConflictingVersion(const IdeaProxyPtr& proxy) const;
    // Resolves a conflict of the proxy's document through its workspace; NO without one.
    void handleConflictForProxy(const IdeaProxyPtr& proxy, BoolCompletion completion);

    // A registered temporary-location handle has the identifier.
    bool documentKnown(const QString& identifier) const;
    // Locations 2 and 3: the handle of findProxy's summary; others: the first registered
    // handle with the identifier. nullptr when there is none.
    std::shared_ptr<IdeaDocument> findDocument(const QString& identifier) const;
    // findDocument, but outside locations 2 and 3 a new handle for the identifier (not
    // registered) when none is registered.
    std::shared_ptr<IdeaDocument> documentForIdentifier(const QString& identifier) const;
    // The registered temporary-location handles, in the order they were registered (a
    // handle stands there once for every successful create or open).
    const std::vector<std::shared_ptr<IdeaDocument>>& registeredDocuments() const;

    // ---- Listeners

    // Appends a weak holder for the listener; a listener added twice hears everything twice.
    void addListener(const std::shared_ptr<PersistenceControllerListener>& listener);
    // Removes every holder of the listener (identity); one never added changes nothing.
    void removeListener(const PersistenceControllerListener* listener);
    void removeListener(const std::shared_ptr<PersistenceControllerListener>& listener)
    {
        removeListener(listener.get());
    }
    // The holders in the order added; those of listeners that went away stay, empty.
    const std::vector<std::shared_ptr<PersistenceControllerListenerHolder>>& listenerHolders() const
    {
        return mListeners;
    }

    // ---- Search

    // The next search request identifier: Workspace::nextSearchRequestID(), the one
    // process-wide counter (incremented before use, 1 first) that the workspaces' own refresh
    // searches draw from too, so that every request is ordered against every other and a
    // screen's search is never taken for an older one. Any thread.
    static qint64 nextSearchRequestID();
    // Starts a search of the location (a null text: the whole list) under the identifier;
    // the answer reaches the listeners through searchIsReady. A location without a workspace
    // logs the assertion line 730 and never answers.
    void startSearch(const QString& textOrNull, StorageLocation location, qint64 requestIdentifier,
                     bool inLazyMode = false);
    // Forgets the location's running search when it has that identifier: it never answers.
    void killSearch(qint64 requestIdentifier, StorageLocation location);
    // The first summary with the document identifier in its location's complete list;
    // nullptr when the list is not ready or holds none.
    IdeaProxyPtr findProxy(const QString& docIdentifier) const;
    // Runs `ready` once findProxy and findDocument answer for good for the identifier: on the
    // next turn when its location's list is complete or it keeps none, else once the first
    // complete list has reached the listeners; never inside the call. A screen can show a document before
    // then (one made here), and a user's open of it must not come to nothing.
    void whenListComplete(const QString& docIdentifier, Completion ready);

    // ---- Ideas across documents

    // The idea of that identifier in the document's tree (a null identifier: the root), or
    // nullptr when the document cannot be read or the idea is not in it.
    void fetchIdea(const QString& ideaIdentifierOrNull, const QString& docIdentifier,
                   IdeaCompletion completion);
    // Stores a deep copy (fresh identifiers, no links leaving it) of the idea, with its
    // attachments, as a new document at the index of the target location's list.
    void copyIdeaBefore(const IdeaPtr& idea, const QString& docIdentifier, qint64 index,
                        StorageLocation target, BoolCompletion completion);
    // Adds such a copy as the first child of the root of the document at the index of the
    // target cloud location's complete list. NO at once when the location has no complete
    // list or the index is not in it.
    void copyIdeaInside(const IdeaPtr& idea, const QString& docIdentifier, qint64 index,
                        StorageLocation target, BoolCompletion completion);
    // copyIdeaBefore, then, once the copy is stored, the source idea is deleted (a root: the
    // whole document). A failed copy leaves the source as it was.
    void moveIdeaBefore(const QString& ideaIdentifier, const QString& docIdentifier, qint64 index,
                        StorageLocation target, BoolCompletion completion);
    // copyIdeaInside, then the delete as above. Moving a document's root into that same
    // document answers NO without copying or deleting anything.
    void moveIdeaInside(const QString& ideaIdentifier, const QString& docIdentifier, qint64 index,
                        StorageLocation target, BoolCompletion completion);
    // Deletes the idea from its document (saved), or the whole document for a null idea
    // identifier or the root. NO when the idea is not in the tree (the document is closed
    // again).
    void deleteIdea(const QString& ideaIdentifierOrNull, const QString& docIdentifier,
                    BoolCompletion completion);
    // Copy-then-delete: fetches the idea, hands it to the chain, and deletes the source idea
    // only when the chain's next block is called with YES (through `remove` when given, else
    // deleteIdea). NO at once for a null idea identifier, or an iCloud document its list does
    // not know.
    void consumeIdea(const QString& ideaIdentifier, const QString& docIdentifier, ChainBlock chain,
                     BoolCompletion completion, RemoveBlock remove = {});

    // ---- Import

    // Reads a document file through the installed DocumentImporter, storing its attachments
    // in the location; an error when the location keeps no attachments or the read fails.
    void importDocument(const QUrl& url, StorageLocation location, ImportCompletion completion);
    // Imports the file into location 0 as a new stored document.
    void importAndStoreDocument(const QUrl& url, ImportedDocumentCompletion completion);
    // Stores a deep copy of the idea (and its attachments) as a new location-0 document.
    void importAndStoreIdea(const IdeaPtr& idea, const QString& docIdentifier,
                            StoredIdeaCompletion completion);
    // Stores the picture's PNG bytes as a location-0 attachment and a new location-0 document
    // whose root is a picture idea for it.
    void importAndStoreImage(const QVImage& image, StoredIdeaCompletion completion);
    // The same as importAndStoreImage.
    void importIdea(const QVImage& image, StoredIdeaCompletion completion);
    // A new location-0 document with the payload's root idea and dates, created and closed
    // again: (the root idea, the new identifier).
    void doStoreDocumentIntoTemp(const IdeaDocumentDataObjectPtr& payload, StoredIdeaCompletion completion);

    // ---- Attachments

    // Through the location's attachment manager; NO / null bytes without one.
    void storeAttachment(const ObjectID& attachment, const QByteArray& data, StorageLocation location,
                         BoolCompletion completion);
    void fetchAttachment(const ObjectID& attachment, StorageLocation location, DataCompletion completion);
    // Copies the attachments of the idea's subtree from the document's location into the
    // target location: YES at once when they are the same, NO without a manager on either
    // side.
    void copyAttachments(const IdeaPtr& idea, const QString& docIdentifier, StorageLocation target,
                         BoolCompletion completion);
    // Copies the set one attachment at a time; the first failure ends it with NO (those
    // copied stay). An empty set answers YES at once without touching either manager.
    static void copyAttachments(const QSet<ObjectID>& attachments,
                                const std::shared_ptr<AttachmentManager>& from,
                                const std::shared_ptr<AttachmentManager>& into, BoolCompletion completion);
    // The fetcher the controller installs for documents: fetchAttachment of the controller
    // while it lives; once it is gone, null bytes. Either way on a later turn.
    static IdeaDocument::AttachmentFetcher attachmentFetcher(std::weak_ptr<PersistenceController> controller);

    // ---- WorkspaceDelegate: forwarded to the listeners (status changes: the notification)

    void statusChange(WorkspaceStatus status, Workspace& workspace) override;
    void batchUpdateDoneInWorkspace(Workspace& workspace) override;
    void documentAppended(const IdeaProxyPtr& proxy, Workspace& workspace) override;
    void documentAdded(const IdeaProxyPtr& proxy, qint64 index, Workspace& workspace) override;
    void documentMoved(const IdeaProxyPtr& proxy, qint64 index, Workspace& workspace) override;
    void documentUpdated(const IdeaProxyPtr& proxy, Workspace& workspace) override;
    void documentDeleted(const QString& docIdentifier, Workspace& workspace) override;
    void searchIsReady(const std::vector<IdeaProxyPtr>& proxies, qint64 requestIdentifier,
                       Workspace& workspace) override;

    ~PersistenceController() override;
    PersistenceController(const PersistenceController&) = delete;
    PersistenceController& operator=(const PersistenceController&) = delete;

private:
    struct Private
    {
        explicit Private() = default;
    };

public:
    // Use singleton(); public only for std::make_shared.
    explicit PersistenceController(Private);

private:
    // The steps of initialisation, in order.
    void initializePersistenceController();
    // Makes or closes the location's workspace to follow the user's choice; posts the
    // notification when it did either. A location the user opted in to but for which no back
    // end is registered (PersistenceStateFactory) gets no workspace and stays unavailable
    // until a later change of the user defaults finds one.
    void ensureWorkspaceStatusForLocation(StorageLocation location);
    void userDefaultsDidChange();
    // The location's back end from the registered factory; the assertion line 159 and
    // nullptr for a location other than 2 and 3.
    std::shared_ptr<PersistenceState> createPersistentStateForLocation(StorageLocation location);

    // The object that serves the location (never null): the one road of every operation.
    std::shared_ptr<DocumentLocation> locationFor(StorageLocation location) const;
    // locationFor the location the identifier names.
    std::shared_ptr<DocumentLocation> locationOfDocument(const QString& identifier) const;

    // Calls `call` on every live listener of a snapshot of the list.
    void forEachListener(const std::function<void(PersistenceControllerListener&)>& call) const;

    const std::shared_ptr<TemporaryLocation> mTemporary;
    std::map<StorageLocation, std::shared_ptr<Workspace>> mWorkspaces;
    // The stand-ins of the locations nothing serves, made on first use.
    mutable std::map<StorageLocation, std::shared_ptr<DocumentLocation>> mUnservedLocations;
    std::vector<std::shared_ptr<PersistenceControllerListenerHolder>> mListeners;
    NotificationCenter::ObserverToken mDefaultsObserver;
    // Locations whose missing back end has been logged once already.
    QSet<StorageLocation> mLoggedMissingBackEnds;
};

} // namespace corvex
