#include "storage/PersistenceController.h"

#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/UserDefaults.h"
#include "storage/DocumentImporter.h"
#include "storage/PersistenceControllerListener.h"
#include "storage/PersistenceControllerListenerHolder.h"
#include "storage/PersistenceStateFactory.h"
#include "storage/StorageQueues.h"
#include "storage/TemporaryLocation.h"
#include "storage/UnservedLocation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

namespace corvex {

namespace {

constexpr StorageLocation kTemporary = IdeaDocument::TemporaryLocation;
constexpr StorageLocation kICloud = IdeaDocument::ICloudLocation;
constexpr StorageLocation kDropbox = IdeaDocument::DropboxLocation;

// A payload of the idea, made and modified now.
IdeaDocumentDataObjectPtr newPayload(const IdeaPtr& idea)
{
    auto payload = IdeaDocumentDataObject::create();
    payload->setIdea(idea);
    const QDateTime created = Globals::currentDate();
    payload->setDateCreated(created);
    payload->setDateModified(created);
    return payload;
}

// copyAttachments over a set: one attachment at a time, the next once the store of the one
// before has answered (managers answer on a later turn, so the run never nests).
class AttachmentCopyRun : public std::enable_shared_from_this<AttachmentCopyRun>
{
public:
    AttachmentCopyRun(const QSet<ObjectID>& attachments, std::shared_ptr<AttachmentManager> from,
                      std::shared_ptr<AttachmentManager> into,
                      PersistenceController::BoolCompletion completion)
        : mRemaining(attachments.cbegin(), attachments.cend()), mFrom(std::move(from)),
          mInto(std::move(into)), mCompletion(std::move(completion))
    {}

    void step()
    {
        if (mRemaining.empty()) {
            finish(true);
            return;
        }
        // Taken from a list: taking the first entry of a hash again and again would scan its
        // emptied buckets every time.
        const ObjectID attachment = mRemaining.back();
        mRemaining.pop_back();
        auto self = shared_from_this();
        mFrom->provideAttachment(attachment, [self, attachment](const QByteArray& data) {
            if (data.isNull()) {
                self->finish(false);
                return;
            }
            self->mInto->storeAttachment(attachment, data, [self](bool stored) {
                if (!stored) {
                    self->finish(false);
                    return;
                }
                self->step();
            });
        });
    }

private:
    void finish(bool ok)
    {
        auto completion = std::move(mCompletion);
        completion(ok);
    }

    std::vector<ObjectID> mRemaining;
    std::shared_ptr<AttachmentManager> mFrom;
    std::shared_ptr<AttachmentManager> mInto;
    PersistenceController::BoolCompletion mCompletion;
};

} // namespace

const QString PersistenceController::StateChangeNotification =
    QStringLiteral("PersistenceStateChangeNotification");

// ---- Construction and locations

PersistenceController::PersistenceController(Private) : mTemporary(std::make_shared<TemporaryLocation>()) {}

PersistenceController::~PersistenceController()
{
    if (mDefaultsObserver)
        NotificationCenter::defaultCenter().removeObserver(mDefaultsObserver);
    for (auto& [location, workspace] : mWorkspaces) {
        workspace->setDelegate(nullptr);
        workspace->closeWorkspace();
    }
}

PersistenceController& PersistenceController::singleton()
{
    // Published before it is initialised, and without a lock held while initialisation runs:
    // a back end made during initialisation calls singleton() again on this thread, which must
    // neither wait for itself nor make a second controller.
    static std::atomic<PersistenceController*> published{nullptr};
    static std::mutex making;
    // Never destroyed: completions and back ends may reach it until the process ends.
    static std::shared_ptr<PersistenceController>* holder = nullptr;
    if (PersistenceController* controller = published.load(std::memory_order_acquire))
        return *controller;
    std::unique_lock lock(making);
    if (PersistenceController* controller = published.load(std::memory_order_acquire))
        return *controller;
    holder = new std::shared_ptr<PersistenceController>(std::make_shared<PersistenceController>(Private()));
    PersistenceController* controller = holder->get();
    published.store(controller, std::memory_order_release);
    lock.unlock();
    controller->initializePersistenceController();
    return *controller;
}

SerialQueue& PersistenceController::workQueue() const
{
    return StorageQueues::persistenceQueue();
}

void PersistenceController::initializePersistenceController()
{
    // The work queue is the process's persistence queue (StorageQueues), there from the
    // start, so a back end may use it before this runs; so is the temporary location.

    // Documents fetch their attachments from their own location through the controller.
    std::weak_ptr<PersistenceController> weakSelf = weak_from_this();
    IdeaDocument::setAttachmentFetcher(attachmentFetcher(weakSelf));

    // A document is in conflict when its location's back end says so.
    IdeaDocument::setConflictQuery([weakSelf](const IdeaDocument& document) {
        auto self = weakSelf.lock();
        const auto workspace = self ? self->workspaceForLocation(document.location()) : nullptr;
        const PersistenceStatePtr state = workspace ? workspace->currentState() : nullptr;
        return state && state->documentInConflict(document.docIdentifier());
    });

    ensureWorkspaceStatusForLocation(kICloud);
    ensureWorkspaceStatusForLocation(kDropbox);

    mDefaultsObserver = NotificationCenter::defaultCenter().addObserver(
        UserDefaults::DidChangeNotification, std::weak_ptr<void>(weakSelf), nullptr,
        [weakSelf](const NotificationCenter::Notification&) {
            if (auto self = weakSelf.lock())
                self->userDefaultsDidChange();
        });
}

IdeaDocument::AttachmentFetcher
PersistenceController::attachmentFetcher(std::weak_ptr<PersistenceController> controller)
{
    return [controller = std::move(controller)](const ObjectID& attachment, StorageLocation location,
                                                IdeaDocument::DataCompletion completion) {
        if (auto self = controller.lock()) {
            self->fetchAttachment(attachment, location, std::move(completion));
            return;
        }
        completion(QByteArray());
    };
}

void PersistenceController::userDefaultsDidChange()
{
    ensureWorkspaceStatusForLocation(kICloud);
    ensureWorkspaceStatusForLocation(kDropbox);
}

void PersistenceController::ensureWorkspaceStatusForLocation(StorageLocation location)
{
    const bool allowed = Globals::userHasAllowedLocation(location);
    const auto existing = workspaceForLocation(location);
    if (!allowed && existing) {
        existing->closeWorkspace();
        setWorkspace(nullptr, location);
        NotificationCenter::defaultCenter().post(StateChangeNotification, nullptr);
        // The user left the location: windows showing it close.
        forEachListener([location](PersistenceControllerListener& listener) {
            listener.pleaseStopUsingLocation(location);
        });
        return;
    }
    if (allowed && !existing) {
        auto state = createPersistentStateForLocation(location);
        if (!state) {
            // Without a back end the location stays unavailable rather than "starting" for
            // ever; a later change of the user defaults tries again.
            if (!mLoggedMissingBackEnds.contains(location)) {
                mLoggedMissingBackEnds.insert(location);
                Log::warning(QStringLiteral("PersistenceController: no storage back end for location %1")
                                 .arg(location));
            }
            return;
        }
        // The back end may have made the workspace itself while it started (it can reach the
        // controller); the first one stays.
        if (workspaceForLocation(location)) {
            state->leaveState();
            return;
        }
        setWorkspace(Workspace::initForLocation(location, state, this), location);
        NotificationCenter::defaultCenter().post(StateChangeNotification, nullptr);
    }
}

std::shared_ptr<PersistenceState>
PersistenceController::createPersistentStateForLocation(StorageLocation location)
{
    if (!locationFor(location)->takesBackEnd()) {
        Log::assertionFailure(BackEndAssertionLine,
                              "-[PersistenceController createPersistentStateForLocation:]");
        return nullptr;
    }
    return PersistenceStateFactory::create(location);
}

std::shared_ptr<Workspace> PersistenceController::workspaceForLocation(StorageLocation location) const
{
    const auto found = mWorkspaces.find(location);
    return found == mWorkspaces.end() ? nullptr : found->second;
}

void PersistenceController::setWorkspace(const std::shared_ptr<Workspace>& workspace,
                                         StorageLocation location)
{
    if (workspace)
        mWorkspaces[location] = workspace;
    else
        mWorkspaces.erase(location);
}

std::shared_ptr<DocumentLocation> PersistenceController::locationFor(StorageLocation location) const
{
    if (location == kTemporary)
        return mTemporary;
    if (auto workspace = workspaceForLocation(location))
        return workspace;
    // One object per number, so that two numbers never pass for the same location.
    auto& unserved = mUnservedLocations[location];
    if (!unserved)
        unserved = std::make_shared<UnservedLocation>(location == kICloud || location == kDropbox);
    return unserved;
}

std::shared_ptr<DocumentLocation> PersistenceController::locationOfDocument(const QString& identifier) const
{
    return locationFor(IdeaDocument::locationFromIdentifier(identifier));
}

std::shared_ptr<AttachmentManager>
PersistenceController::attachmentManagerForLocation(StorageLocation location) const
{
    return locationFor(location)->attachmentManager();
}

QUrl PersistenceController::urlForLocalOrTempFileWithDocIdentifer(const QString& identifier) const
{
    if (locationOfDocument(identifier) != mTemporary) {
        Log::assertionFailure(TempURLAssertionLine,
                              "-[PersistenceController urlForLocalOrTempFileWithDocIdentifer:]");
        return QUrl();
    }
    return TemporaryLocation::documentURL(identifier);
}

std::optional<std::vector<IdeaProxyPtr>>
PersistenceController::proxyListForLocation(StorageLocation location) const
{
    return locationFor(location)->proxyListOrNilIfNotReady();
}

bool PersistenceController::isLocationReadyForUse(StorageLocation location) const
{
    return locationFor(location)->isReadyForUse();
}

WorkspaceStatus PersistenceController::statusForLocation(StorageLocation location) const
{
    return locationFor(location)->status();
}

// ---- Documents

void PersistenceController::createDocument(const std::shared_ptr<IdeaDocument>& document, qint64 index,
                                           TokenCompletion completion)
{
    if (!document) {
        completion(qint64(0));
        return;
    }
    // A location with a list clamps the upper end to it; a negative index means the front.
    locationFor(document->location())
        ->createDocument(document, std::max<qint64>(index, 0), std::move(completion));
}

void PersistenceController::createDocument(const std::shared_ptr<IdeaDocument>& document,
                                           TokenCompletion completion)
{
    createDocument(document, 0, std::move(completion));
}

void PersistenceController::createDocumentOpeningFirst(const std::shared_ptr<IdeaDocument>& document,
                                                       TokenCompletion opened, BoolCompletion stored)
{
    if (!document) {
        opened(qint64(0));
        stored(false);
        return;
    }
    locationFor(document->location())
        ->createDocumentOpeningFirst(document, std::move(opened), std::move(stored));
}

void PersistenceController::openDocument(const std::shared_ptr<IdeaDocument>& document,
                                         TokenCompletion completion)
{
    if (!document) {
        completion(qint64(0));
        return;
    }
    locationFor(document->location())->openDocument(document, std::move(completion));
}

void PersistenceController::saveDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                         BoolCompletion completion)
{
    if (!document) {
        completion(false);
        return;
    }
    document->setDateModified(Globals::currentDate());
    locationFor(document->location())->updateDocument(document, token, std::move(completion));
}

void PersistenceController::releaseDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                            Completion completion)
{
    if (!document) {
        completion();
        return;
    }
    locationFor(document->location())->closeDocument(document, token, std::move(completion));
}

void PersistenceController::removeClosedCopy(const std::shared_ptr<IdeaDocument>& document)
{
    // Only the temporary location's documents are copies of what a window shows.
    if (document && locationFor(document->location()) == mTemporary)
        mTemporary->removeClosedCopy(document);
}

void PersistenceController::deleteDocument(const QString& identifier, BoolCompletion completion)
{
    locationOfDocument(identifier)->deleteDocument(identifier, std::move(completion));
}

void PersistenceController::fetchRootIdea(const QString& identifier, IdeaCompletion completion)
{
    locationOfDocument(identifier)->fetchRootIdea(identifier, std::move(completion));
}

DocumentVersionPtr PersistenceController::findConflictingVersion(const IdeaProxyPtr& proxy) const
{
    if (!proxy)
        return nullptr;
    return locationFor(proxy->location())->findConflictingVersion(proxy);
}

void PersistenceController::handleConflictForProxy(const IdeaProxyPtr& proxy, BoolCompletion completion)
{
    if (!proxy) {
        completion(false);
        return;
    }
    locationFor(proxy->location())->handleConflictForProxy(proxy, std::move(completion));
}

const std::vector<std::shared_ptr<IdeaDocument>>& PersistenceController::registeredDocuments() const
{
    return mTemporary->registeredDocuments();
}

bool PersistenceController::documentKnown(const QString& identifier) const
{
    return mTemporary->documentKnown(identifier);
}

std::shared_ptr<IdeaDocument> PersistenceController::findDocument(const QString& identifier) const
{
    return locationOfDocument(identifier)->heldDocument(identifier);
}

std::shared_ptr<IdeaDocument> PersistenceController::documentForIdentifier(const QString& identifier) const
{
    const auto location = locationOfDocument(identifier);
    // A cloud location's documents come from its list only; elsewhere any identifier gets a
    // handle of its own.
    auto document = location->heldDocument(identifier);
    if (document || location->takesBackEnd())
        return document;
    return IdeaDocument::initWithIdentifier(identifier);
}

// ---- Listeners

void PersistenceController::addListener(const std::shared_ptr<PersistenceControllerListener>& listener)
{
    if (!listener)
        return;
    mListeners.push_back(std::make_shared<PersistenceControllerListenerHolder>(listener));
}

void PersistenceController::removeListener(const PersistenceControllerListener* listener)
{
    if (!listener)
        return;
    std::erase_if(mListeners, [listener](const auto& holder) { return holder->holds(listener); });
}

void PersistenceController::forEachListener(
    const std::function<void(PersistenceControllerListener&)>& call) const
{
    // A snapshot: listeners added or removed by a callback do not disturb this walk.
    const auto holders = mListeners;
    for (const auto& holder : holders) {
        if (const auto listener = holder->value())
            call(*listener);
    }
}

void PersistenceController::statusChange(WorkspaceStatus, Workspace&)
{
    NotificationCenter::defaultCenter().post(StateChangeNotification, nullptr);
}

void PersistenceController::batchUpdateDoneInWorkspace(Workspace& workspace)
{
    const StorageLocation location = workspace.location();
    forEachListener([location](PersistenceControllerListener& listener) {
        listener.batchUpdateDoneInLocation(location);
    });
}

void PersistenceController::documentAppended(const IdeaProxyPtr& proxy, Workspace&)
{
    forEachListener([&proxy](PersistenceControllerListener& listener) { listener.documentAppended(proxy); });
}

void PersistenceController::documentAdded(const IdeaProxyPtr& proxy, qint64 index, Workspace&)
{
    forEachListener(
        [&proxy, index](PersistenceControllerListener& listener) { listener.documentAdded(proxy, index); });
}

void PersistenceController::documentMoved(const IdeaProxyPtr& proxy, qint64 index, Workspace&)
{
    forEachListener(
        [&proxy, index](PersistenceControllerListener& listener) { listener.documentMoved(proxy, index); });
}

void PersistenceController::documentUpdated(const IdeaProxyPtr& proxy, Workspace&)
{
    forEachListener([&proxy](PersistenceControllerListener& listener) { listener.documentUpdated(proxy); });
}

void PersistenceController::documentDeleted(const QString& docIdentifier, Workspace&)
{
    forEachListener([&docIdentifier](PersistenceControllerListener& listener) {
        listener.documentDeleted(docIdentifier);
    });
}

void PersistenceController::searchIsReady(const std::vector<IdeaProxyPtr>& proxies, qint64 requestIdentifier,
                                          Workspace& workspace)
{
    const StorageLocation location = workspace.location();
    forEachListener([&proxies, location, requestIdentifier](PersistenceControllerListener& listener) {
        listener.searchIsReady(proxies, location, requestIdentifier);
    });
}

// ---- Search

qint64 PersistenceController::nextSearchRequestID()
{
    return Workspace::nextSearchRequestID();
}

void PersistenceController::startSearch(const QString& textOrNull, StorageLocation location,
                                        qint64 requestIdentifier, bool inLazyMode)
{
    const auto searched = locationFor(location);
    if (!searched->answersSearches()) {
        Log::assertionFailure(
            SearchAssertionLine,
            "-[PersistenceController startSearch:inLocation:requestIdentifier:inLazyMode:]");
        return;
    }
    searched->startSearch(textOrNull, requestIdentifier, inLazyMode);
}

void PersistenceController::killSearch(qint64 requestIdentifier, StorageLocation location)
{
    locationFor(location)->killSearch(requestIdentifier);
}

IdeaProxyPtr PersistenceController::findProxy(const QString& docIdentifier) const
{
    return locationOfDocument(docIdentifier)->listedProxy(docIdentifier);
}

void PersistenceController::whenListComplete(const QString& docIdentifier, Completion ready)
{
    locationOfDocument(docIdentifier)->whenListComplete(std::move(ready));
}

// ---- Ideas across documents

void PersistenceController::fetchIdea(const QString& ideaIdentifierOrNull, const QString& docIdentifier,
                                      IdeaCompletion completion)
{
    fetchRootIdea(docIdentifier,
                  [ideaIdentifierOrNull, completion = std::move(completion)](const IdeaPtr& root) mutable {
                      if (!root || ideaIdentifierOrNull.isNull()) {
                          completion(root);
                          return;
                      }
                      completion(root->findIdeaInSubTreeWithIdentifier(ideaIdentifierOrNull));
                      // An idea holds its parent weakly: the tree stays until the answer, posted
                      // just before, has been heard.
                      MainQueue::post([root] {});
                  });
}

void PersistenceController::copyIdeaBefore(const IdeaPtr& idea, const QString& docIdentifier, qint64 index,
                                           StorageLocation target, BoolCompletion completion)
{
    if (!idea) {
        completion(false);
        return;
    }
    const IdeaPtr copy = idea->deepCopyWithNewIdentifiersNoExternalLinks();
    auto self = shared_from_this();
    copyAttachments(copy, docIdentifier, target,
                    [self, copy, index, target, completion = std::move(completion)](bool copied) mutable {
                        if (!copied) {
                            completion(false);
                            return;
                        }
                        auto document = IdeaDocument::initWithFileName(QString(), target);
                        document->setIdea(copy);
                        const QDateTime created = Globals::currentDate();
                        document->setDateCreated(created);
                        document->setDateModified(created);
                        self->createDocument(
                            document, index,
                            [self, document, completion = std::move(completion)](qint64 token) mutable {
                                if (token < 1) {
                                    completion(false);
                                    return;
                                }
                                self->releaseDocument(document, token);
                                completion(true);
                            });
                    });
}

void PersistenceController::copyIdeaInside(const IdeaPtr& idea, const QString& docIdentifier, qint64 index,
                                           StorageLocation target, BoolCompletion completion)
{
    const auto list = locationFor(target)->proxyListOrNilIfNotReady();
    // The index is the caller's (a grid position): checked against the list as it is now.
    if (!idea || !list || index < 0 || index >= qint64(list->size())) {
        completion(false);
        return;
    }
    const IdeaProxyPtr targetProxy = (*list)[std::size_t(index)];
    const IdeaPtr copy = idea->deepCopyWithNewIdentifiersNoExternalLinks();
    auto self = shared_from_this();
    copyAttachments(copy, docIdentifier, target,
                    [self, targetProxy, copy, completion = std::move(completion)](bool copied) mutable {
                        if (!copied) {
                            completion(false);
                            return;
                        }
                        auto document = targetProxy->doc();
                        self->openDocument(
                            document,
                            [self, document, copy, completion = std::move(completion)](qint64 token) mutable {
                                if (token < 1) {
                                    completion(false);
                                    return;
                                }
                                const IdeaPtr root = document->idea();
                                if (!root || !root->insertIdea(copy, 0)) {
                                    self->releaseDocument(document, token);
                                    completion(false);
                                    return;
                                }
                                self->saveDocument(document, token,
                                                   [self, document, token, root, copy,
                                                    completion = std::move(completion)](bool saved) mutable {
                                                       // A failed save takes the copy out of the open tree
                                                       // again, so that a later save by another holder of the
                                                       // document does not store it after all.
                                                       if (!saved)
                                                           root->removeIdea(copy, false);
                                                       self->releaseDocument(document, token);
                                                       completion(saved);
                                                   });
                            });
                    });
}

void PersistenceController::moveIdeaBefore(const QString& ideaIdentifier, const QString& docIdentifier,
                                           qint64 index, StorageLocation target, BoolCompletion completion)
{
    auto self = shared_from_this();
    consumeIdea(
        ideaIdentifier, docIdentifier,
        [self, docIdentifier, index, target](const IdeaPtr& idea, NextBlock next) {
            self->copyIdeaBefore(idea, docIdentifier, index, target, std::move(next));
        },
        std::move(completion));
}

void PersistenceController::moveIdeaInside(const QString& ideaIdentifier, const QString& docIdentifier,
                                           qint64 index, StorageLocation target, BoolCompletion completion)
{
    auto self = shared_from_this();
    consumeIdea(
        ideaIdentifier, docIdentifier,
        [self, docIdentifier, index, target](const IdeaPtr& idea, NextBlock next) {
            // A root moved into its own document would be copied there and then deleted with
            // the whole document, copy included: refused before anything is copied.
            const auto list = self->locationFor(target)->proxyListOrNilIfNotReady();
            if (!idea->parent() && list && index >= 0 && index < qint64(list->size()) &&
                (*list)[std::size_t(index)]->docIdentifier() == docIdentifier) {
                Log::warning(
                    QStringLiteral("PersistenceController: refused to move the root of %1 into itself")
                        .arg(docIdentifier));
                next(false);
                return;
            }
            self->copyIdeaInside(idea, docIdentifier, index, target, std::move(next));
        },
        std::move(completion));
}

void PersistenceController::deleteIdea(const QString& ideaIdentifierOrNull, const QString& docIdentifier,
                                       BoolCompletion completion)
{
    if (ideaIdentifierOrNull.isNull()) {
        deleteDocument(docIdentifier, std::move(completion));
        return;
    }
    auto document = documentForIdentifier(docIdentifier);
    if (!document) {
        completion(false);
        return;
    }
    auto self = shared_from_this();
    openDocument(document, [self, document, docIdentifier, ideaIdentifierOrNull,
                            completion = std::move(completion)](qint64 token) mutable {
        if (token < 1) {
            completion(false);
            return;
        }
        const IdeaPtr root = document->idea();
        if (root && root->identifier() == ideaIdentifierOrNull) {
            self->releaseDocument(document, token,
                                  [self, docIdentifier, completion = std::move(completion)]() mutable {
                                      self->deleteDocument(docIdentifier, std::move(completion));
                                  });
            return;
        }
        const IdeaPtr found = root ? root->findIdeaInSubTreeWithIdentifier(ideaIdentifierOrNull) : nullptr;
        if (!found) {
            self->releaseDocument(document, token,
                                  [completion = std::move(completion)]() mutable { completion(false); });
            return;
        }
        const IdeaPtr parent = found->parent();
        if (!parent || !parent->removeIdea(ideaIdentifierOrNull))
            Log::assertionFailure(RemoveIdeaAssertionLine,
                                  "-[PersistenceController deleteIdea:fromDocument:onCompletion:]");
        self->saveDocument(document, token,
                           [self, document, token, completion = std::move(completion)](bool saved) mutable {
                               self->releaseDocument(document, token);
                               completion(saved);
                           });
    });
}

void PersistenceController::consumeIdea(const QString& ideaIdentifier, const QString& docIdentifier,
                                        ChainBlock chain, BoolCompletion completion, RemoveBlock remove)
{
    auto self = shared_from_this();
    if (!remove)
        remove = [self](const QString& idea, const QString& document, BoolCompletion done) {
            self->deleteIdea(idea, document, std::move(done));
        };
    if (ideaIdentifier.isNull() || !chain) {
        completion(false);
        return;
    }
    if (!locationOfDocument(docIdentifier)->mayTakeIdeasFrom(docIdentifier)) {
        completion(false);
        return;
    }
    fetchIdea(ideaIdentifier, docIdentifier,
              [ideaIdentifier, docIdentifier, chain, completion = std::move(completion),
               remove](const IdeaPtr& idea) mutable {
                  if (!idea) {
                      completion(false);
                      return;
                  }
                  // The source is deleted only once the chain has stored the copy. The chain is
                  // the caller's and its answer a plain callable: one that answers twice is
                  // heard once, and the second answer logged.
                  auto answer = std::make_shared<BoolCompletion>(std::move(completion));
                  auto answered = std::make_shared<bool>(false);
                  chain(idea, [ideaIdentifier, docIdentifier, answer, answered, remove](bool stored) {
                      if (std::exchange(*answered, true)) {
                          Log::assertionFailure(
                              QStringLiteral("PersistenceController: a move's copy answered twice"));
                          return;
                      }
                      BoolCompletion completion = std::move(*answer);
                      if (!stored) {
                          completion(false);
                          return;
                      }
                      remove(ideaIdentifier, docIdentifier, std::move(completion));
                  });
              });
}

// ---- Import

void PersistenceController::importDocument(const QUrl& url, StorageLocation location,
                                           ImportCompletion completion)
{
    const auto manager = attachmentManagerForLocation(location);
    if (!manager) {
        const Error refused(DocumentImporter::ErrorDomain, -1,
                            QStringLiteral("The location keeps no attachments"),
                            {{Error::FailureReasonKey,
                              QStringLiteral("Documents cannot be opened into this storage location.")}});
        completion(refused);
        return;
    }
    // Importers may work on other threads; attachment managers are the main thread's. Each
    // store's answer is a completion for the main queue, heard once and on a later turn.
    auto handler = [manager](const ObjectID& attachment, const QByteArray& data,
                             DocumentImporter::AttachmentStored stored) {
        auto store = [manager, attachment, data, stored = std::move(stored)]() mutable {
            manager->storeAttachment(attachment, data, std::move(stored));
        };
        if (MainQueue::isMainThread())
            store();
        else
            MainQueue::post(std::move(store));
    };
    // The importer is a plug-in that may answer inside its call: the answer goes through the
    // completion, which hears it on a later turn of the main queue, once.
    auto answer = std::make_shared<ImportCompletion>(std::move(completion));
    DocumentImporter::import(url, std::move(handler),
                             [answer](const DocumentImporter::Read& read) { (*answer)(read); });
}

void PersistenceController::importAndStoreDocument(const QUrl& url, ImportedDocumentCompletion completion)
{
    auto self = shared_from_this();
    importDocument(
        url, kTemporary,
        [self, completion = std::move(completion)](const DocumentImporter::Read& read) mutable {
            if (!read.ok()) {
                completion(read.error());
                return;
            }
            const QString incomplete = read.value()->incompleteReading();
            self->doStoreDocumentIntoTemp(
                read.value(), [completion = std::move(completion),
                               incomplete](const IdeaPtr& idea, const QString& docIdentifier) mutable {
                    if (!idea || docIdentifier.isEmpty()) {
                        completion(
                            Error(DocumentImporter::ErrorDomain, -1,
                                  QStringLiteral("The imported document could not be stored"),
                                  {{Error::FailureReasonKey,
                                    QStringLiteral("The document was read, but it could not be stored.")}}));
                        return;
                    }
                    completion(ImportedDocument{idea, docIdentifier, incomplete});
                });
        });
}

void PersistenceController::importAndStoreIdea(const IdeaPtr& idea, const QString& docIdentifier,
                                               StoredIdeaCompletion completion)
{
    if (!idea) {
        completion(nullptr, QString());
        return;
    }
    const IdeaPtr copy = idea->deepCopyWithNewIdentifiersNoExternalLinks();
    auto self = shared_from_this();
    copyAttachments(copy, docIdentifier, kTemporary,
                    [self, copy, completion = std::move(completion)](bool copied) mutable {
                        if (!copied) {
                            completion(nullptr, QString());
                            return;
                        }
                        self->doStoreDocumentIntoTemp(newPayload(copy), std::move(completion));
                    });
}

void PersistenceController::importAndStoreImage(const QVImage& image, StoredIdeaCompletion completion)
{
    const QByteArray png = image.hasImage() ? image.pngData() : QByteArray();
    if (png.isEmpty()) {
        completion(nullptr, QString());
        return;
    }
    const ObjectID attachment = ObjectID::createFromData(png, QStringLiteral("png"));
    auto self = shared_from_this();
    storeAttachment(attachment, png, kTemporary,
                    [self, image, attachment, completion = std::move(completion)](bool stored) mutable {
                        if (!stored) {
                            completion(nullptr, QString());
                            return;
                        }
                        self->doStoreDocumentIntoTemp(
                            newPayload(Idea::initWithImageAttachment(image, attachment)),
                            std::move(completion));
                    });
}

void PersistenceController::importIdea(const QVImage& image, StoredIdeaCompletion completion)
{
    importAndStoreImage(image, std::move(completion));
}

void PersistenceController::doStoreDocumentIntoTemp(const IdeaDocumentDataObjectPtr& payload,
                                                    StoredIdeaCompletion completion)
{
    if (!payload || !payload->idea()) {
        completion(nullptr, QString());
        return;
    }
    auto document = IdeaDocument::initWithFileName(QString(), kTemporary);
    const IdeaPtr root = payload->idea();
    document->setIdea(root);
    document->setDateCreated(payload->dateCreated());
    document->setDateModified(payload->dateModified());
    auto self = shared_from_this();
    createDocument(document,
                   [self, document, root, completion = std::move(completion)](qint64 token) mutable {
                       if (token < 1) {
                           completion(nullptr, QString());
                           return;
                       }
                       self->releaseDocument(document, token);
                       completion(root, document->docIdentifier());
                   });
}

// ---- Attachments

void PersistenceController::storeAttachment(const ObjectID& attachment, const QByteArray& data,
                                            StorageLocation location, BoolCompletion completion)
{
    const auto manager = attachmentManagerForLocation(location);
    if (!manager) {
        completion(false);
        return;
    }
    manager->storeAttachment(attachment, data, std::move(completion));
}

void PersistenceController::fetchAttachment(const ObjectID& attachment, StorageLocation location,
                                            DataCompletion completion)
{
    const auto manager = attachmentManagerForLocation(location);
    if (!manager) {
        completion(QByteArray());
        return;
    }
    manager->provideAttachment(attachment, std::move(completion));
}

void PersistenceController::copyAttachments(const IdeaPtr& idea, const QString& docIdentifier,
                                            StorageLocation target, BoolCompletion completion)
{
    const auto source = locationOfDocument(docIdentifier);
    const auto destination = locationFor(target);
    if (source == destination) {
        completion(true);
        return;
    }
    const auto from = source->attachmentManager();
    const auto into = destination->attachmentManager();
    if (!from || !into) {
        completion(false);
        return;
    }
    copyAttachments(idea ? idea->attachments() : QSet<ObjectID>(), from, into, std::move(completion));
}

void PersistenceController::copyAttachments(const QSet<ObjectID>& attachments,
                                            const std::shared_ptr<AttachmentManager>& from,
                                            const std::shared_ptr<AttachmentManager>& into,
                                            BoolCompletion completion)
{
    if (attachments.isEmpty()) {
        completion(true);
        return;
    }
    if (!from || !into) {
        completion(false);
        return;
    }
    std::make_shared<AttachmentCopyRun>(attachments, from, into, std::move(completion))->step();
}

} // namespace corvex
