#include "storage/Workspace.h"

#include "model/Globals.h"
#include "platform/core/HostInfo.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"
#include "storage/ExecuteBlock.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <utility>

namespace corvex {

namespace {

// The one counter of search requests: shared by the screens' searches and the workspaces'
// own refresh searches, so that "a newer request has a greater identifier" holds across
// both.
std::atomic<qint64> gSearchRequestCounter{0};

} // namespace

std::shared_ptr<Workspace> Workspace::initForLocation(StorageLocation location, PersistenceStatePtr state,
                                                      WorkspaceDelegate* delegate)
{
    auto workspace = std::make_shared<Workspace>(Private(), location, delegate);
    workspace->mCurrentState = std::move(state);
    if (workspace->mCurrentState)
        workspace->mCurrentState->setDelegate(std::weak_ptr<PersistenceStateDelegate>(workspace));
    return workspace;
}

Workspace::Workspace(Private, StorageLocation location, WorkspaceDelegate* delegate)
    : mLocation(location), mQueue(std::make_unique<SerialQueue>(QueueLabel)), mDelegate(delegate)
{}

Workspace::~Workspace()
{
    // Someone else may still hold the back end: it must not report to a workspace that is
    // gone, nor go on working for it.
    if (mCurrentState)
        mCurrentState->leaveState();
}

void Workspace::closeWorkspace()
{
    const auto keepAlive = shared_from_this();
    if (mCurrentState) {
        mCurrentState->leaveState();
        mCurrentState.reset();
    }
    // No list comes any more: what waited for it finds no document, on a later turn.
    for (Completion& ready : std::exchange(mWaitingForList, {}))
        ready();
    // Without a back end the running search could only cache failures.
    mSearchRequestID = 0;
    mRunningIsRefresh = false;
    mPendingRefreshID = 0;
    mSearchRun.reset();
    dropWaitingSearchReads();
}

QString Workspace::description() const
{
    return QStringLiteral("{Workspace(0x%1) location=%2 storage=%3}")
        .arg(quintptr(this), 0, 16)
        .arg(mLocation)
        .arg(mCurrentState ? mCurrentState->description() : QStringLiteral("(null)"));
}

bool Workspace::isCurrent(const PersistenceState* state) const
{
    return state != nullptr && state == mCurrentState.get();
}

qsizetype Workspace::indexOfProxy(const QString& docIdentifier) const
{
    for (std::size_t i = 0; i < mIdeaProxies.size(); ++i) {
        if (mIdeaProxies[i] && mIdeaProxies[i]->docIdentifier() == docIdentifier)
            return qsizetype(i);
    }
    return -1;
}

// ---- Documents

void Workspace::createDocument(const std::shared_ptr<IdeaDocument>& document, qint64 index,
                               TokenCompletion completion)
{
    if (!document || !mCurrentState || indexOfProxy(document->docIdentifier()) >= 0) {
        if (completion)
            completion(qint64(0));
        return;
    }
    std::weak_ptr<Workspace> weakSelf = weak_from_this();
    mCurrentState->createDocument(
        document, [weakSelf, document, index, completion = std::move(completion)](qint64 token) mutable {
            if (const auto self = weakSelf.lock(); self && token > 0) {
                auto proxy = IdeaProxy::initWithDoc(document);
                // The back end may have told of the stored document before answering (its
                // folder shows the file): listed once, at the place the caller asked for.
                const qsizetype listed = self->indexOfProxy(document->docIdentifier());
                if (listed >= 0)
                    self->mIdeaProxies.erase(self->mIdeaProxies.begin() + listed);
                // The back end has stored the document, so it must be listed whatever index the
                // caller had in mind.
                const qint64 at = std::clamp<qint64>(index, 0, qint64(self->mIdeaProxies.size()));
                self->mIdeaProxies.insert(self->mIdeaProxies.begin() + at, proxy);
                // Before the list is complete the index has not been read: the first complete
                // list keeps the document and saves it into the index.
                if (self->mHasCompleteProxyList)
                    self->saveIdeaProxyList();
                else
                    self->mMadeBeforeList.insert(document->docIdentifier());
                // The delegate heard of a document reported into a complete list already.
                if (self->mDelegate && listed >= 0 && self->mHasCompleteProxyList) {
                    if (listed != at)
                        self->mDelegate->documentMoved(proxy, at, *self);
                } else if (self->mDelegate) {
                    self->mDelegate->documentAdded(proxy, at, *self);
                }
            }
            if (completion)
                completion(token);
        });
}

void Workspace::openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion)
{
    if (!document || !mCurrentState) {
        if (completion)
            completion(qint64(0));
        return;
    }
    mCurrentState->openDocument(document, std::move(completion));
}

void Workspace::updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                               BoolCompletion completion)
{
    if (!document || !mCurrentState) {
        if (completion)
            completion(false);
        return;
    }
    document->setDateModified(Globals::currentDate());
    // The summary comes from the tree this save writes: a window that closes while the save
    // runs hands the document back, which lets its tree go before the save answers.
    const IdeaPtr saved = document->idea();
    std::weak_ptr<Workspace> weakSelf = weak_from_this();
    mCurrentState->updateDocument(
        document, token,
        [weakSelf, document, saved = std::move(saved), completion = std::move(completion)](bool ok) mutable {
            if (const auto self = weakSelf.lock(); self && ok)
                self->updateProxyForDocument(document, saved);
            if (completion)
                completion(ok);
        });
}

void Workspace::updateProxyForDocument(const std::shared_ptr<IdeaDocument>& document, const IdeaPtr& saved)
{
    const QString& identifier = document->docIdentifier();
    const qsizetype index = indexOfProxy(identifier);
    if (index < 0)
        return;
    const IdeaProxyPtr proxy = mIdeaProxies[std::size_t(index)];
    proxy->updateWithDoc(document, saved);
    saveIdeaProxyList();
    if (mDelegate)
        mDelegate->documentUpdated(proxy, *this);
    forgetSearchEntry(identifier);
    mSearchCache.addOrUpdate(saved, identifier);
}

void Workspace::closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                              Completion completion)
{
    if (!document || !mCurrentState) {
        if (completion)
            completion();
        return;
    }
    mCurrentState->closeDocument(document, token, std::move(completion));
}

void Workspace::deleteDocument(const QString& docIdentifier, BoolCompletion completion)
{
    if (!mCurrentState) {
        if (completion)
            completion(false);
        return;
    }
    std::weak_ptr<Workspace> weakSelf = weak_from_this();
    mCurrentState->deleteDocument(
        docIdentifier, [weakSelf, docIdentifier, completion = std::move(completion)](bool ok) mutable {
            if (const auto self = weakSelf.lock(); self && ok)
                self->deleteProxyForDocument(docIdentifier);
            if (completion)
                completion(ok);
        });
}

void Workspace::deleteProxyForDocument(const QString& docIdentifier)
{
    forgetSearchEntry(docIdentifier);
    const qsizetype index = indexOfProxy(docIdentifier);
    if (index < 0)
        return;
    mIdeaProxies.erase(mIdeaProxies.begin() + index);
    saveIdeaProxyList();
    if (mDelegate)
        mDelegate->documentDeleted(docIdentifier, *this);
}

void Workspace::fetchRootIdea(const QString& docIdentifier, IdeaCompletion completion)
{
    if (!mCurrentState) {
        if (completion)
            completion(nullptr);
        return;
    }
    const PersistenceStatePtr state = mCurrentState;
    const auto document = IdeaDocument::initWithIdentifier(docIdentifier);
    state->openDocument(
        document, [state, document, completion = std::move(completion)](qint64 token) mutable {
            if (token < 1) {
                if (completion)
                    completion(nullptr);
                return;
            }
            // Taken before the close: the last token handed back releases the handle's tree.
            const IdeaPtr root = document->idea();
            state->closeDocument(document, token, [root, completion = std::move(completion)]() mutable {
                if (completion)
                    completion(root);
            });
        });
}

// ---- The list

std::optional<std::vector<IdeaProxyPtr>> Workspace::proxyListOrNilIfNotReady() const
{
    if (!mHasCompleteProxyList)
        return std::nullopt;
    return mIdeaProxies;
}

bool Workspace::documentKnown(const QString& docIdentifier) const
{
    return indexOfProxy(docIdentifier) >= 0;
}

IdeaProxyPtr Workspace::findProxy(const QString& docIdentifier) const
{
    const qsizetype index = indexOfProxy(docIdentifier);
    return index < 0 ? nullptr : mIdeaProxies[std::size_t(index)];
}

std::shared_ptr<IdeaDocument> Workspace::findDocument(const QString& docIdentifier) const
{
    const IdeaProxyPtr proxy = findProxy(docIdentifier);
    return proxy ? proxy->doc() : nullptr;
}

std::shared_ptr<IdeaDocument> Workspace::documentForIdentifier(const QString& docIdentifier) const
{
    return findDocument(docIdentifier);
}

IdeaProxyPtr Workspace::listedProxy(const QString& docIdentifier) const
{
    return mHasCompleteProxyList ? findProxy(docIdentifier) : nullptr;
}

void Workspace::whenListComplete(Completion ready)
{
    if (mHasCompleteProxyList || !mCurrentState) {
        ready();
        return;
    }
    mWaitingForList.push_back(std::move(ready));
}

std::shared_ptr<IdeaDocument> Workspace::heldDocument(const QString& docIdentifier) const
{
    const IdeaProxyPtr proxy = listedProxy(docIdentifier);
    return proxy ? proxy->doc() : nullptr;
}

bool Workspace::mayTakeIdeasFrom(const QString& docIdentifier) const
{
    return mLocation != IdeaDocument::ICloudLocation || listedProxy(docIdentifier) != nullptr;
}

std::shared_ptr<AttachmentManager> Workspace::attachmentManager()
{
    return shared_from_this();
}

void Workspace::saveIdeaProxyList()
{
    if (!mCurrentState)
        return;
    // The whole list: any addition waiting for its save is in it.
    mUnsavedAdditions = false;
    mCurrentState->saveProxyList(mIdeaProxies);
}

void Workspace::saveAdditionsLater()
{
    mUnsavedAdditions = true;
    if (mAdditionsSave)
        MainQueue::cancel(*mAdditionsSave);
    std::weak_ptr<Workspace> weakSelf = weak_from_this();
    mAdditionsSave = MainQueue::postAfter(IndexSaveDelaySeconds, [weakSelf] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        self->mAdditionsSave.reset();
        if (self->mUnsavedAdditions && self->mHasCompleteProxyList)
            self->saveIdeaProxyList();
    });
}

// ---- Attachments and conflicts

void Workspace::storeAttachment(const ObjectID& attachment, const QByteArray& data,
                                StoreCompletion completion)
{
    if (!mCurrentState) {
        if (completion)
            completion(false);
        return;
    }
    mCurrentState->storeAttachment(attachment, data, std::move(completion));
}

void Workspace::provideAttachment(const ObjectID& attachment, ProvideCompletion completion)
{
    if (!mCurrentState) {
        if (completion)
            completion(QByteArray());
        return;
    }
    mCurrentState->provideAttachment(attachment, std::move(completion));
}

DocumentVersionPtr Workspace::findConflictingVersion(const IdeaProxyPtr& proxy)
{
    if (!mCurrentState || !mCurrentState->keepsConflictingVersions())
        return nullptr;
    return mCurrentState->findConflictingVersion(proxy);
}

void Workspace::handleConflictForProxy(const IdeaProxyPtr& proxy, BoolCompletion completion)
{
    if (!mCurrentState || !mCurrentState->keepsConflictingVersions()) {
        if (completion)
            completion(false);
        return;
    }
    mCurrentState->handleConflictForProxy(proxy, std::move(completion));
}

// ---- Search

qint64 Workspace::nextSearchRequestID()
{
    return ++gSearchRequestCounter;
}

void Workspace::startSearch(const QString& text, qint64 requestIdentifier)
{
    startSearch(text, requestIdentifier, false);
}

void Workspace::startSearch(const QString& text, qint64 requestIdentifier, bool inLazyMode)
{
    if (requestIdentifier <= 0)
        return;
    if (mSearchRequestID != 0 && !mRunningIsRefresh && requestIdentifier <= mSearchRequestID)
        return;
    // A refresh under way is not dropped for a screen's search: it is answered after it.
    if (mSearchRequestID != 0 && mRunningIsRefresh)
        mPendingRefreshID = mSearchRequestID;
    runSearch(text, requestIdentifier, inLazyMode, false);
}

void Workspace::startRefreshSearch()
{
    const qint64 requestIdentifier = nextSearchRequestID();
    if (mSearchRequestID != 0 && !mRunningIsRefresh) {
        mPendingRefreshID = requestIdentifier;
        return;
    }
    // A newer refresh answers the newer list; an older one waiting is no longer wanted.
    mPendingRefreshID = 0;
    runSearch(QString(), requestIdentifier, false, true);
}

void Workspace::runSearch(const QString& text, qint64 requestIdentifier, bool inLazyMode, bool refresh)
{
    mSearchRequestID = requestIdentifier;
    mRunningIsRefresh = refresh;
    const auto run = ExecuteBlock::create();
    mSearchRun = run;
    mSearchRunLazy = inLazyMode;
    // The reads look for this run's text as they go, so that its answer need not scan their
    // maps again.
    searchReadQueue().beginSearch(text.isNull() ? QByteArray() : IdeaTextMap::searchKey(text));
    std::weak_ptr<Workspace> weakSelf = weak_from_this();
    // The run holds its block; the block holds the run only weakly (a queued round keeps
    // it alive, and the workspace while it is the running search), so a run that is dropped
    // leaves no cycle behind.
    std::weak_ptr<ExecuteBlock> weakRun = run;
    run->executeBlock([weakSelf, weakRun, text, requestIdentifier, inLazyMode] {
        const auto current = weakRun.lock();
        if (!current)
            return;
        const auto self = weakSelf.lock();
        if (!self) {
            current->markDone();
            return;
        }
        self->searchStep(current, text, requestIdentifier, inLazyMode);
    });
}

void Workspace::searchStep(const std::shared_ptr<ExecuteBlock>& run, const QString& text,
                           qint64 requestIdentifier, bool inLazyMode)
{
    if (mSearchRequestID != requestIdentifier) {
        if (mSearchRun == run)
            mSearchRun.reset();
        run->markDone();
        return;
    }
    if (!mHasCompleteProxyList) {
        run->repeatAsyncAfterDelay(SearchWaitSeconds);
        return;
    }
    // The reads under way answer first; their answers take the next step.
    if (!mSearchReads.isEmpty())
        return;
    const QStringList missing = mSearchCache.docIdentifiersThatAreMissing(mIdeaProxies);
    if (!missing.isEmpty()) {
        if (inLazyMode && !Globals::isUserIdle()) {
            run->repeatAsyncAfterDelay(SearchWaitSeconds);
            return;
        }
        startSearchReads(inLazyMode ? missing.mid(0, 1) : missing, inLazyMode);
        return;
    }
    const auto keepAlive = shared_from_this();
    const std::vector<IdeaProxyPtr> result = findMatchingProxies(text);
    mSearchRequestID = 0;
    mRunningIsRefresh = false;
    mSearchRun.reset();
    run->markDone();
    const qint64 refresh = std::exchange(mPendingRefreshID, 0);
    searchIsReady(result, requestIdentifier);
    // Every listed document is cached now: the refresh that waited has nothing left to read.
    if (refresh != 0)
        searchIsReady(findMatchingProxies(QString()), refresh);
}

void Workspace::startSearchReads(const QStringList& docIdentifiers, bool inLazyMode)
{
    const PersistenceStatePtr state = mCurrentState;
    SearchReadQueue& queue = searchReadQueue();
    queue.setMaxReads(inLazyMode ? 1 : searchReaders());
    // Every answer becomes an entry: room for all of them at once, not rehash after rehash.
    mSearchReads.reserve(mSearchReads.size() + docIdentifiers.size());
    mSearchCache.reserve(mSearchCache.count() + docIdentifiers.size());
    bool fetching = false;
    for (const QString& identifier : docIdentifiers) {
        const quint64 generation = mEntryGenerations.value(identifier);
        if (PersistenceState::SearchRead read = state ? state->searchRead(identifier) : nullptr) {
            mSearchReads.insert(identifier, generation);
            queue.add(identifier, generation, std::move(read));
            continue;
        }
        // A back end without search reads opens its documents, one at a time.
        if (std::exchange(fetching, true))
            continue;
        mSearchReads.insert(identifier, generation);
        std::weak_ptr<Workspace> weakSelf = weak_from_this();
        fetchRootIdea(identifier, [weakSelf, identifier, generation](const IdeaPtr& root) {
            const auto self = weakSelf.lock();
            if (!self)
                return;
            // A null root (the read failed) leaves an empty entry, so that the document is
            // not read again.
            if (self->takeSearchRead(identifier, generation))
                self->mSearchCache.addOrUpdate(root, identifier);
            self->wakeSearchRun();
        });
    }
}

int Workspace::searchReaders()
{
    // A read waits at times (on the file system, on memory the kernel maps in for the map it
    // makes): on two cores or more, one reader more than the cores keeps every core reading
    // meanwhile. On one core a second reader only takes turns with the first, and is slower.
    const int cores = HostInfo::usableCores();
    return cores > 1 ? cores + 1 : 1;
}

SearchReadQueue& Workspace::searchReadQueue()
{
    if (!mSearchReadQueue) {
        std::weak_ptr<Workspace> weakSelf = weak_from_this();
        mSearchReadQueue = SearchReadQueue::create([weakSelf](std::vector<SearchReadQueue::Answer>& answers) {
            if (const auto self = weakSelf.lock())
                self->searchReadsAnswered(answers);
        });
    }
    return *mSearchReadQueue;
}

bool Workspace::takeSearchRead(const QString& docIdentifier, quint64 generation)
{
    const auto it = mSearchReads.constFind(docIdentifier);
    if (it == mSearchReads.cend() || it.value() != generation)
        return false;
    mSearchReads.erase(it);
    // No search wants it any more, or the document changed while it was read: then it is
    // read afresh by the next search that finds it missing.
    return mSearchRequestID != 0 && mEntryGenerations.value(docIdentifier) == generation;
}

void Workspace::searchReadsAnswered(std::vector<SearchReadQueue::Answer>& answers)
{
    const auto keepAlive = shared_from_this();
    for (SearchReadQueue::Answer& answer : answers) {
        if (!takeSearchRead(answer.docIdentifier, answer.generation))
            continue;
        if (!answer.map.ok()) {
            Log::warning(QStringLiteral("Workspace: cannot read %1 for searching: %2")
                             .arg(answer.docIdentifier, answer.map.error().toString()));
            // An empty entry, so that the document is not read again.
            mSearchCache.addOrUpdate(IdeaTextMap(), answer.docIdentifier);
            continue;
        }
        mSearchCache.addOrUpdate(std::move(answer.map).value(), answer.docIdentifier);
    }
    wakeSearchRun();
}

void Workspace::wakeSearchRun()
{
    const auto run = mSearchRun;
    // The step waits for every read under way anyway.
    if (!run || mSearchRequestID == 0 || !mSearchReads.isEmpty())
        return;
    if (mSearchRunLazy)
        run->repeatAsyncAfterDelay(LazyReadSeconds);
    else
        run->repeatAsync();
}

void Workspace::dropWaitingSearchReads()
{
    if (!mSearchReadQueue)
        return;
    for (const QString& identifier : mSearchReadQueue->dropWaiting())
        mSearchReads.remove(identifier);
}

void Workspace::killSearch(qint64 requestIdentifier)
{
    if (requestIdentifier == 0)
        return;
    if (requestIdentifier == mPendingRefreshID) {
        mPendingRefreshID = 0;
        return;
    }
    if (requestIdentifier != mSearchRequestID)
        return;
    mSearchRequestID = 0;
    mRunningIsRefresh = false;
    if (const qint64 refresh = std::exchange(mPendingRefreshID, 0)) {
        runSearch(QString(), refresh, false, true);
        return;
    }
    mSearchRun.reset();
    dropWaitingSearchReads();
}

std::vector<IdeaProxyPtr> Workspace::findMatchingProxies(const QString& text) const
{
    if (text.isNull())
        return mIdeaProxies;
    std::vector<IdeaProxyPtr> result;
    const std::vector<SearchResult> matches = mSearchCache.search(text);
    if (matches.empty())
        return result;
    // Each identifier's first place in the list, and for each place the next with the same
    // identifier (a list may name a document twice): one table entry per document and no
    // allocation per entry.
    QHash<QString, std::size_t> first;
    first.reserve(qsizetype(mIdeaProxies.size()));
    constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> nextSame(mIdeaProxies.size(), none);
    for (std::size_t i = mIdeaProxies.size(); i-- > 0;) {
        if (!mIdeaProxies[i])
            continue;
        const QString& identifier = mIdeaProxies[i]->docIdentifier();
        const auto it = first.find(identifier);
        if (it == first.end())
            first.insert(identifier, i);
        else
            nextSame[i] = std::exchange(it.value(), i);
    }
    result.reserve(matches.size());
    for (const SearchResult& match : matches) {
        const auto it = first.constFind(match.docIdentifier());
        if (it == first.cend())
            continue;
        for (std::size_t index = it.value(); index != none; index = nextSame[index]) {
            IdeaProxyPtr copy = IdeaProxy::initWithProxy(*mIdeaProxies[index]);
            copy->setItemCount(match.occurrences());
            result.push_back(std::move(copy));
        }
    }
    return result;
}

void Workspace::searchIsReady(const std::vector<IdeaProxyPtr>& proxies, qint64 requestIdentifier)
{
    if (mDelegate)
        mDelegate->searchIsReady(proxies, requestIdentifier, *this);
}

void Workspace::forgetSearchEntry(const QString& docIdentifier)
{
    mSearchCache.invalidate(docIdentifier);
    ++mEntryGenerations[docIdentifier];
}

// ---- Back-end events

std::optional<WorkspaceStatus> Workspace::workspaceStatusForCode(PersistenceStateStatus status,
                                                                 StorageLocation location)
{
    switch (status) {
    case PersistenceStateStatusInitial:
        return WorkspaceStatus::Starting;
    case PersistenceStateStatusError:
        return WorkspaceStatus::Error;
    case PersistenceStateStatusNoAccount:
        return location == IdeaDocument::DropboxLocation ? WorkspaceStatus::Error
                                                         : WorkspaceStatus::Unavailable;
    case PersistenceStateStatusDataReceived:
        return WorkspaceStatus::InSync;
    case PersistenceStateStatusSyncing:
        return WorkspaceStatus::Synchronising;
    case PersistenceStateStatusAllFound:
        return WorkspaceStatus::InSync;
    default:
        return std::nullopt;
    }
}

void Workspace::statusChange(PersistenceStateStatus status, PersistenceState* state)
{
    if (!isCurrent(state))
        return;
    const std::optional<WorkspaceStatus> mapped = workspaceStatusForCode(status, mLocation);
    if (!mapped)
        return;
    const auto keepAlive = shared_from_this();
    mStatus = *mapped;
    if (mDelegate)
        mDelegate->statusChange(mStatus, *this);
}

void Workspace::foundIdeaDocument(const QString& docIdentifier, PersistenceState* state)
{
    if (isCurrent(state))
        mKnownDocuments.append(docIdentifier);
}

void Workspace::observeProxyList(const std::vector<IdeaProxyPtr>& proxies, PersistenceState* state)
{
    if (!isCurrent(state))
        return;
    const auto keepAlive = shared_from_this();
    QHash<QString, IdeaProxyPtr> current;
    current.reserve(qsizetype(mIdeaProxies.size()));
    for (const IdeaProxyPtr& proxy : mIdeaProxies) {
        if (proxy && !current.contains(proxy->docIdentifier()))
            current.insert(proxy->docIdentifier(), proxy);
    }
    const QSet<QString> known(mKnownDocuments.cbegin(), mKnownDocuments.cend());

    std::vector<IdeaProxyPtr> list;
    list.reserve(proxies.size());
    QSet<QString> taken;
    taken.reserve(qsizetype(proxies.size()));
    for (const IdeaProxyPtr& proxy : proxies) {
        if (!proxy)
            continue;
        const QString& identifier = proxy->docIdentifier();
        if (taken.contains(identifier))
            continue;
        const auto previous = current.constFind(identifier);
        if (previous == current.cend() && !known.contains(identifier))
            continue;
        taken.insert(identifier);
        list.push_back(proxy);
        // A document whose summary changed was changed elsewhere: its cached text is
        // stale and is read again by the search below.
        if (previous != current.cend() && (previous.value()->dateModified() != proxy->dateModified() ||
                                           previous.value()->itemCount() != proxy->itemCount()))
            forgetSearchEntry(identifier);
    }
    // A document made here before this list was stored by the back end, whatever an index
    // read before it says: it stays, at the front, as made.
    std::vector<IdeaProxyPtr> made;
    for (const IdeaProxyPtr& proxy : mIdeaProxies)
        if (proxy && mMadeBeforeList.contains(proxy->docIdentifier()) &&
            !taken.contains(proxy->docIdentifier())) {
            taken.insert(proxy->docIdentifier());
            made.push_back(proxy);
        }
    list.insert(list.begin(), made.begin(), made.end());
    mMadeBeforeList.clear();
    mIdeaProxies = std::move(list);
    mHasCompleteProxyList = true;
    mKnownDocuments.clear();
    if (mDelegate)
        mDelegate->batchUpdateDoneInWorkspace(*this);
    // What waited runs on a later turn, not inside the back end's report.
    for (Completion& ready : std::exchange(mWaitingForList, {}))
        ready();
    if (!made.empty())
        saveAdditionsLater();
    startRefreshSearch();
}

void Workspace::observeIdeaProxy(const IdeaProxyPtr& proxy, PersistenceState* state)
{
    if (!isCurrent(state) || !proxy)
        return;
    const auto keepAlive = shared_from_this();
    const QString identifier = proxy->docIdentifier();
    // The document changed elsewhere: the next search reads it again.
    forgetSearchEntry(identifier);
    const qsizetype index = indexOfProxy(identifier);
    if (index >= 0) {
        mIdeaProxies[std::size_t(index)] = proxy;
        if (mHasCompleteProxyList && mDelegate)
            mDelegate->documentUpdated(IdeaProxy::initWithProxy(*proxy), *this);
    } else {
        mIdeaProxies.push_back(proxy);
        if (!mHasCompleteProxyList)
            return;
        if (mDelegate)
            mDelegate->documentAppended(IdeaProxy::initWithProxy(*proxy), *this);
        // Before the list is complete the index has not been read: a save then would write
        // an index without the documents it lists.
        saveAdditionsLater();
    }
}

void Workspace::ideaDocumentDeleted(const QString& docIdentifier, PersistenceState* state)
{
    if (!isCurrent(state))
        return;
    const auto keepAlive = shared_from_this();
    forgetSearchEntry(docIdentifier);
    const qsizetype index = indexOfProxy(docIdentifier);
    if (index < 0)
        return;
    mIdeaProxies.erase(mIdeaProxies.begin() + index);
    if (mHasCompleteProxyList && mDelegate)
        mDelegate->documentDeleted(docIdentifier, *this);
}

void Workspace::detectedDocumentConflict(const QString&, PersistenceState*) {}

} // namespace corvex
