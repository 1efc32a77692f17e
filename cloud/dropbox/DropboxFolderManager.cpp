#include "cloud/dropbox/DropboxFolderManager.h"

#include "cloud/dropbox/DropboxContentHash.h"
#include "cloud/dropbox/DropboxFileNames.h"
#include "cloud/dropbox/DropboxFolderManagerTask.h"
#include "cloud/dropbox/DropboxSyncNotices.h"
#include "model/Globals.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/AsyncFutureRunnable.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/LaunchSeams.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Paths.h"
#include "platform/core/SaveFile.h"
#include "platform/core/Scheduler.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/SysCalls.h"
#include "platform/core/WholeFileReader.h"
#include "storage/AttachmentDocument.h"
#include "storage/AttachmentNames.h"
#include "storage/IndexJSONDocument.h"
#include "storage/PersistenceStateDelegate.h"
#include "storage/PersistenceStateFactory.h"
#include "storage/StorageQueues.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace corvex {

const QString DropboxFolderManager::StatusFileName = QStringLiteral("corvex.local.status");
const QString DropboxFolderManager::ManagedFolderName = QStringLiteral("dropbox");
const QString DropboxFolderManager::WillTerminateNotification =
    QStringLiteral("NSApplicationWillTerminateNotification");

namespace {

QString managerLastComponent(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? path : path.mid(slash + 1);
}

} // namespace

std::shared_ptr<DropboxFolderManager> DropboxFolderManager::create(DropboxModeServices services)
{
    auto mode = std::make_shared<DropboxFolderManager>(Private{}, std::move(services));
    mode->initialize();
    return mode;
}

DropboxFolderManager::DropboxFolderManager(Private, DropboxModeServices services)
    : mServices(std::move(services)), mState(std::make_unique<DropboxFolderManagerState>()),
      mLocalManagedFolder(ManagedFolderName)
{}

DropboxFolderManager::~DropboxFolderManager()
{
    leaveState();
}

std::weak_ptr<DropboxFolderManager> DropboxFolderManager::weakSelf()
{
    // Empty while the mode is being destroyed.
    return std::static_pointer_cast<DropboxFolderManager>(weak_from_this().lock());
}

void DropboxFolderManager::initialize()
{
    mLastCommunicatedStatus = 0;
    if (!mServices.client)
        mServices.client = std::make_shared<QVDropboxClient>(std::shared_ptr<DropboxUserClient>());
    mBackoff.useBudget(mServices.client->budget());
    // A request the account client would repeat after the service has been silent longer than
    // a reconnect takes fails instead: the loop hears of the lost connection and, once it is
    // back, lists and downloads before anything goes up. A repeated upload would otherwise land
    // before the listing that may tell of changes made meanwhile.
    mServices.client->setRepeatGate([weak = weakSelf()] {
        const auto self = weak.lock();
        return self && self->connected() &&
               double(Globals::currentTimeMillis()) - self->mTimeOfLastDataReceived <=
                   double(ReconnectQuietMillis);
    });
    if (!Paths::makePath(localAttachmentsFolder()).ok())
        Log::assertionFailure(AttachmentsFolderAssertionLine, "-[DropboxFolderManager initialize:]");
    if (!Paths::makePath(localUploadFolder()).ok())
        Log::assertionFailure(UploadFolderAssertionLine, "-[DropboxFolderManager initialize:]");

    const std::weak_ptr<DropboxFolderManager> weak = weakSelf();
    const void* client = mServices.client.get();
    auto observe = [this, weak, client](const QString& name, void (DropboxFolderManager::*handler)()) {
        mObservers.push_back(NotificationCenter::defaultCenter().addObserver(
            name, nullptr, [weak, client, handler](const NotificationCenter::Notification& note) {
                auto self = weak.lock();
                // Only this mode's own client speaks for its connection: another mode's client
                // (another machine of a test, an old mode still answering) is no news for it.
                if (self && (!note.sender || note.sender == client || note.sender == self.get()))
                    (self.get()->*handler)();
            }));
    };
    observe(DropboxNotifications::InvalidAccessToken, &DropboxFolderManager::observeInvalidAccessToken);
    observe(QVDropboxClient::NoConnectionNotification, &DropboxFolderManager::observeNoConnection);
    observe(QVDropboxClient::GotSomeDataNotification, &DropboxFolderManager::observeGotSomeData);
    observe(DropboxNotifications::SignedIn, &DropboxFolderManager::observeSignedIn);
    observe(WillTerminateNotification, &DropboxFolderManager::flushPendingSave);
    ensureRunnable();
}

// ---- Places

QString DropboxFolderManager::localManagedFolder() const
{
    return mServices.applicationSupport + QLatin1Char('/') + Paths::appFolderName() +
           QStringLiteral("/dropbox/") + mLocalManagedFolder;
}

QString DropboxFolderManager::localManagedFile(const QString& name) const
{
    return localManagedFolder() + QLatin1Char('/') + name;
}

QString DropboxFolderManager::localAttachmentsFolder() const
{
    return mServices.documents + QStringLiteral("/dropbox/attachments");
}

QString DropboxFolderManager::localUploadFolder() const
{
    return mServices.documents + QStringLiteral("/dropbox/upload");
}

bool DropboxFolderManager::isQuiet() const
{
    const DropboxFolderManagerState& s = *mState;
    if (!s.isLocalStatusFileLoaded || !s.isIndexDocumentAvailable || !s.doWeHaveInitialDropboxFileStatus ||
        s.hasPendingGeneralOperation || s.hasPendingDropboxOperation || s.statusSavePending ||
        mSavesScheduled > 0 || !s.tasksToExecute.empty() || !s.documentsToLoadAsProxies.isEmpty() ||
        !s.filesBeingAccessedByLoad.isEmpty() || mDidSomethingLastTime || s.pollFolderASAP ||
        (s.attachmentSyncState != AttachmentSyncState::Done &&
         s.attachmentSyncState != AttachmentSyncState::Failed))
        return false;
    const auto waits = [](const DocumentInfo::Ref& record) {
        return record && (record->input() || QVFileInfo::hasFile(record->output()) ||
                          QVFileInfo::isDeleted(record->output()));
    };
    for (const auto& entry : s.docs)
        if (waits(entry.second))
            return false;
    // Beside an index of a newer format, a local index change is never uploaded: it waits for
    // nothing.
    if (mNewerFormatIndexRev)
        return s.indexDocumentInfo && !s.indexDocumentInfo->input();
    return !waits(s.indexDocumentInfo);
}

QString DropboxFolderManager::description() const
{
    return QStringLiteral("DropboxFolderManager(%1)").arg(quintptr(this), 0, 16);
}

// ---- Connection status

void DropboxFolderManager::sendStatus(PersistenceStateStatus status)
{
    mLastCommunicatedStatus = status;
    if (auto owner = delegate())
        owner->statusChange(status, this);
}

void DropboxFolderManager::observeInvalidAccessToken()
{
    mState->perhapsDropboxConnection = false;
    // Said once: nothing is asked of Dropbox again until the account changes.
    if (mAuthStopped)
        return;
    mAuthStopped = true;
    sendStatus(PersistenceStateStatusNoAccount);
    DropboxSyncNotices::postAccessLost(this);
}

void DropboxFolderManager::observeSignedIn()
{
    if (!mAuthStopped || !isActive() || !mServices.client->renewAuthorization())
        return;
    mAuthStopped = false;
    mBackoff.useBudget(mServices.client->budget());
    mBackoff.reset();
    reconnected();
    mNextProbeAt = 0;
    ensureRunnable();
}

void DropboxFolderManager::reconnected()
{
    mTimeOfLastDataReceived = double(Globals::currentTimeMillis());
    mState->perhapsDropboxConnection = true;
    mState->doWeHaveInitialDropboxFolderListing = false;
    mState->doWeHaveInitialDropboxFileStatus = false;
    ++mConnection;
}

void DropboxFolderManager::observeNoConnection()
{
    if (!isActive())
        return;
    mState->perhapsDropboxConnection = false;
    if (mLastCommunicatedStatus != PersistenceStateStatusError)
        sendStatus(PersistenceStateStatusError);
}

void DropboxFolderManager::observeGotSomeData()
{
    if (!isActive())
        return;
    // An answer while the connection was believed lost (a request still on its way when the
    // check found no way, or the client's own repeat): as a reconnect, so that Dropbox is
    // listed again before an edit made meanwhile goes up.
    if (!mState->perhapsDropboxConnection)
        reconnected();
    mTimeOfLastDataReceived = double(Globals::currentTimeMillis());
    // An answer with data: the token works after all.
    mAuthStopped = false;
    mBackoff.succeeded();
    PersistenceStateStatus next = PersistenceStateStatusDataReceived;
    if (mLastCommunicatedStatus == PersistenceStateStatusDataReceived ||
        mLastCommunicatedStatus == PersistenceStateStatusAllFound)
        next = mLastCommunicatedStatus;
    else if (mLastCommunicatedStatus == PersistenceStateStatusSyncing)
        next = PersistenceStateStatusAllFound;
    if (next != mLastCommunicatedStatus)
        sendStatus(next);
}

void DropboxFolderManager::tellDelegateAboutSync()
{
    if (mLastCommunicatedStatus == PersistenceStateStatusDataReceived ||
        mLastCommunicatedStatus == PersistenceStateStatusAllFound)
        sendStatus(PersistenceStateStatusSyncing);
}

// ---- Life

void DropboxFolderManager::leaveState()
{
    if (mLeft)
        return;
    mLeft = true;
    flushPendingSave();
    // Queued tasks will never run now: their callers hear failure rather than nothing.
    std::vector<DropboxFolderManagerState::QueuedTask> kept;
    for (const auto& queued : mState->tasksToExecute) {
        const auto task = std::static_pointer_cast<Task>(queued);
        if (task->runnable->canExecute()) {
            task->runnable->cancel();
            if (task->fail)
                MainQueue::post(task->fail);
        } else {
            kept.push_back(queued);
        }
    }
    mState->tasksToExecute = std::move(kept);
    for (const auto token : mObservers)
        NotificationCenter::defaultCenter().removeObserver(token);
    mObservers.clear();
    PersistenceState::leaveState();
    setDelegate({});
}

// ---- Storage operations

void DropboxFolderManager::queueTask(std::function<void(const TaskDone& done)> work,
                                     std::function<void()> fail)
{
    auto task = std::make_shared<Task>();
    task->fail = std::move(fail);
    const std::weak_ptr<Task> weakTask = task;
    task->runnable =
        AsyncFutureRunnable::create([work = std::move(work), weakTask](const AsyncFutureRunnable::Ptr&) {
            work([weakTask](std::function<void()> answer) {
                if (const auto strong = weakTask.lock()) {
                    strong->answer = std::move(answer);
                    strong->runnable->postResponse();
                } else if (answer) {
                    answer();
                }
            });
        });
    if (mLeft) {
        if (task->fail)
            MainQueue::post(task->fail);
        return;
    }
    mState->tasksToExecute.push_back(task);
    ensureRunnable();
}

void DropboxFolderManager::queueDocumentWrite(
    const std::shared_ptr<IdeaDocument>& document,
    std::function<DocumentInfo::Ref(const QString& name, const DocumentInfo::Ref& old)> recordAfter,
    BoolCompletion completion)
{
    const QString name = unusedLocalName(&DropboxFileNames::createLocalCRVXFileName);
    ensureRunnable();
    const auto weak = weakSelf();
    const QUrl url = QUrl::fromLocalFile(localManagedFile(name));
    // The task's two roads (done, or failed when the mode leaves first) share the answer.
    auto answer = std::make_shared<BoolCompletion>(std::move(completion));
    queueTask(
        [weak, document, name, url, recordAfter, answer](const TaskDone& done) {
            document->writeToLocalFileAt(url, [weak, document, name, recordAfter, answer, done](bool ok) {
                // A failed write changes no record: nothing half written is ever uploaded.
                if (auto self = weak.lock(); ok && self) {
                    const QString& identifier = document->docIdentifier();
                    self->setRecord(identifier, recordAfter(name, self->record(identifier)));
                }
                done([answer, ok] { (*answer)(ok); });
            });
        },
        [answer] { (*answer)(false); });
}

void DropboxFolderManager::createDocument(const std::shared_ptr<IdeaDocument>& document,
                                          TokenCompletion completion)
{
    const auto weak = weakSelf();
    queueDocumentWrite(
        document,
        [weak, document](const QString& name, const DocumentInfo::Ref&) {
            const auto output = QVFileInfo::make(name, std::nullopt);
            if (auto self = weak.lock())
                self->rememberOpenedVersion(document, output);
            return DocumentInfo::make(nullptr, nullptr, output);
        },
        [completion = std::move(completion)](bool ok) mutable { completion(ok ? 1 : 0); });
}

void DropboxFolderManager::updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 /*token*/,
                                          BoolCompletion completion)
{
    const auto weak = weakSelf();
    queueDocumentWrite(
        document,
        [weak, document](const QString& name, const DocumentInfo::Ref& old) {
            const auto output = QVFileInfo::make(name, localRevFromDocumentInfo(old));
            auto self = weak.lock();
            if (!self || !old)
                return old ? old->withOutput(output) : DocumentInfo::make(nullptr, nullptr, output);
            const bool missedAChange = self->savedOverAnotherVersion(document, old);
            self->rememberOpenedVersion(document, output);
            if (!missedAChange) {
                self->rememberSupersededChange(document->docIdentifier(), old->output());
                return old->withOutput(output);
            }
            // The window's content started from a version a remote change replaced since:
            // as when a download meets a local change, the remote change becomes a conflict
            // copy and the save, based on the remote revision, replaces the remote file. A
            // remote version kept so stays the current copy, so that a later revision of the
            // same content (another program touching the file before the upload) is known as
            // such and not kept as a second copy.
            self->keepAsConflictCopy(document->docIdentifier(),
                                     QVFileInfo::firstNonNull(old->output(), old->current()));
            return DocumentInfo::make(old->input(), old->output() ? nullptr : old->current(), output);
        },
        std::move(completion));
}

void DropboxFolderManager::rememberSupersededChange(const QString& identifier, const QVFileInfo::Ref& change)
{
    if (!QVFileInfo::hasFile(change))
        return;
    if (const auto hash = DropboxContentHash::ofFile(localManagedFile(*change->name())))
        mSupersededChanges[identifier].insert(*hash);
}

void DropboxFolderManager::rememberOpenedVersion(const std::shared_ptr<IdeaDocument>& document,
                                                 const QVFileInfo::Ref& version)
{
    std::erase_if(mOpenedVersions, [](const auto& entry) { return entry.second.handle.expired(); });
    if (!QVFileInfo::hasFile(version)) {
        mOpenedVersions.erase(document.get());
        return;
    }
    mOpenedVersions[document.get()] = OpenedVersion{
        document, version->rev(), DropboxContentHash::ofFile(localManagedFile(*version->name()))};
}

bool DropboxFolderManager::savedOverAnotherVersion(const std::shared_ptr<IdeaDocument>& document,
                                                   const DocumentInfo::Ref& record) const
{
    const auto opened = mOpenedVersions.find(document.get());
    if (opened == mOpenedVersions.end() || opened->second.handle.lock() != document || !record ||
        opened->second.rev == localRevFromDocumentInfo(record))
        return false;
    // The revision moves without the content changing too (an upload, a conflict resolved).
    const QVFileInfo::Ref& newest = QVFileInfo::firstNonNull(record->output(), record->current());
    if (!QVFileInfo::hasFile(newest))
        return false;
    const auto hash = DropboxContentHash::ofFile(localManagedFile(*newest->name()));
    return !hash || hash != opened->second.contentHash;
}

std::optional<QString> DropboxFolderManager::localRevFromDocumentInfo(const DocumentInfo::Ref& record)
{
    if (!record)
        return std::nullopt;
    if (record->current())
        return record->current()->rev();
    if (record->output())
        return record->output()->rev();
    return std::nullopt;
}

void DropboxFolderManager::deleteDocument(const QString& docIdentifier, BoolCompletion completion)
{
    const auto weak = weakSelf();
    auto answer = std::make_shared<BoolCompletion>(std::move(completion));
    queueTask(
        [weak, docIdentifier, answer](const TaskDone& done) {
            if (auto self = weak.lock()) {
                if (const DocumentInfo::Ref old = self->record(docIdentifier)) {
                    const QVFileInfo::Ref& newest = QVFileInfo::firstNonNull(old->output(), old->current());
                    const QVFileInfo::Ref deletion = newest && newest->rev()
                                                         ? QVFileInfo::make(std::nullopt, newest->rev())
                                                         : QVFileInfo::EMPTY();
                    self->setRecord(docIdentifier, old->withOutput(deletion));
                }
            }
            done([answer] { (*answer)(true); });
        },
        [answer] { (*answer)(false); });
}

void DropboxFolderManager::fetchDocument(const QString& docIdentifier, DocumentCompletion completion)
{
    readDocument(docIdentifier, nullptr, std::move(completion));
}

QVFileInfo::Ref DropboxFolderManager::newestReadableVersion(const DocumentInfo::Ref& record) const
{
    if (!record)
        return nullptr;
    const QVFileInfo::Ref newest = QVFileInfo::firstNonNull(record->output(), record->current());
    // A change whose file went is dropped at the next upload turn; until then the document
    // shows the version it started from, not nothing.
    if (QVFileInfo::hasFile(newest) && newest != record->current() &&
        !QFileInfo(localManagedFile(*newest->name())).isFile() && QVFileInfo::hasFile(record->current()))
        return record->current();
    return newest;
}

void DropboxFolderManager::readDocument(const QString& docIdentifier,
                                        const std::shared_ptr<IdeaDocument>& opening,
                                        DocumentCompletion completion)
{
    if (docIdentifier.isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("DropboxFolderManager:fetchDocument"));
        completion(nullptr);
        return;
    }
    const auto weak = weakSelf();
    auto answer = std::make_shared<DocumentCompletion>(std::move(completion));
    queueTask(
        [weak, docIdentifier, opening, answer](const TaskDone& done) {
            auto self = weak.lock();
            const DocumentInfo::Ref old = self ? self->record(docIdentifier) : nullptr;
            const QVFileInfo::Ref newest = self ? self->newestReadableVersion(old) : nullptr;
            if (!self || !QVFileInfo::hasFile(newest)) {
                done([answer] { (*answer)(nullptr); });
                return;
            }
            const QString name = *newest->name();
            self->mState->filesBeingAccessedByLoad.append(name);
            self->loadDocument(
                docIdentifier, self->localManagedFile(name),
                [weak, opening, newest, name, answer, done](const std::shared_ptr<IdeaDocument>& document) {
                    if (auto again = weak.lock()) {
                        if (opening && document)
                            again->rememberOpenedVersion(opening, newest);
                        again->mState->filesBeingAccessedByLoad.removeOne(name);
                    }
                    done([answer, document] { (*answer)(document); });
                });
        },
        [answer] { (*answer)(nullptr); });
}

void DropboxFolderManager::openDocument(const std::shared_ptr<IdeaDocument>& document,
                                        TokenCompletion completion)
{
    readDocument(
        document->docIdentifier(), document,
        [document, completion = std::move(completion)](const std::shared_ptr<IdeaDocument>& read) mutable {
            if (read) {
                document->setIdea(read->idea());
                document->setDateCreated(read->dateCreated());
                document->setDateModified(read->dateModified());
            }
            completion(read ? 1 : 0);
        });
}

void DropboxFolderManager::closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 /*token*/,
                                         Completion completion)
{
    if (document)
        mOpenedVersions.erase(document.get());
    completion();
}

void DropboxFolderManager::saveProxyList(const std::vector<IdeaProxyPtr>& proxies)
{
    const QString name = unusedLocalName(&DropboxFileNames::createLocalIndexFileName);
    const QUrl url = QUrl::fromLocalFile(localManagedFile(name));
    if (!url.isLocalFile()) {
        Globals::raiseCorvexURLError(QStringLiteral("DropboxFolderManager:saveProxyList"));
        return;
    }
    // The list is copied now: the workspace goes on changing its summaries.
    std::vector<IdeaProxyPtr> copies;
    copies.reserve(proxies.size());
    for (const IdeaProxyPtr& proxy : proxies)
        if (proxy)
            copies.push_back(IdeaProxy::initWithProxy(*proxy));
    auto index = IndexJSONDocument::initWithFileURL(url);
    index->setIdeaProxyList(std::move(copies));
    ensureRunnable();
    const auto weak = weakSelf();
    queueTask(
        [weak, index, name, url](const TaskDone& done) {
            index->saveJSONToURL(url, [weak, name, done](bool ok) {
                if (auto self = weak.lock(); self && ok) {
                    DocumentInfo::Ref& indexRecord = self->mState->indexDocumentInfo;
                    indexRecord = indexRecord->withOutput(
                        QVFileInfo::make(name, localRevFromDocumentInfo(indexRecord)));
                }
                done({});
            });
        },
        {});
}

void DropboxFolderManager::setRecord(const QString& identifier, const DocumentInfo::Ref& record)
{
    mState->docs[identifier] = record;
    if (!record || !QVFileInfo::hasFile(record->output()))
        mSupersededChanges.erase(identifier);
}

DocumentInfo::Ref DropboxFolderManager::record(const QString& identifier) const
{
    const auto found = mState->docs.find(identifier);
    return found == mState->docs.end() ? nullptr : found->second;
}

void DropboxFolderManager::loadDocument(const QString& identifier, const QString& sourcePath, Loaded loaded)
{
    // The managed folder is this mode's own and its copies are never rewritten in place (every
    // version gets a new name), so a plain read serves: no presenter, no coordination.
    StorageQueues::persistenceQueue().async([identifier, sourcePath, loaded = std::move(loaded)]() mutable {
        Result<QByteArray> bytes = WholeFileReader::read(sourcePath, AttachmentDocument::MaxFileSize);
        auto payload = bytes.ok() ? IdeaDocumentDataObject::readFromSomeData(bytes.value()) : nullptr;
        MainQueue::post([identifier, payload, loaded = std::move(loaded)]() mutable {
            std::shared_ptr<IdeaDocument> document;
            if (payload && payload->idea()) {
                document = IdeaDocument::initWithFileName(managerLastComponent(identifier),
                                                          IdeaDocument::DropboxLocation);
                document->applyDataObject(payload);
            }
            loaded(document);
        });
    });
}

void DropboxFolderManager::loadDocumentAndNotifyProxy(const QString& identifier, const QVFileInfo::Ref& info)
{
    if (mState->hasPendingGeneralOperation || !QVFileInfo::hasFile(info)) {
        Log::assertionFailure(LoadDocumentAssertionLine,
                              "-[DropboxFolderManager loadDocumentAndNofifyProxy:fileInfo:onCompletion:]");
        return;
    }
    mState->hasPendingGeneralOperation = true;
    const auto weak = weakSelf();
    loadDocument(identifier, localManagedFile(*info->name()),
                 [weak](const std::shared_ptr<IdeaDocument>& document) {
                     auto self = weak.lock();
                     if (self) {
                         self->mState->hasPendingGeneralOperation = false;
                         if (document && self->isActive()) {
                             IdeaProxyPtr proxy = IdeaProxy::init();
                             proxy->updateWithDoc(document);
                             self->delegate()->observeIdeaProxy(proxy, self.get());
                         }
                         self->ensureRunnable();
                     }
                 });
}

void DropboxFolderManager::notifySummaryOfDownload(const QString& identifier, const QVFileInfo::Ref& info,
                                                   std::function<void(const IdeaProxyPtr&)> then)
{
    if (!QVFileInfo::hasFile(info))
        return;
    // Read beside the loop rather than as its general operation, so the next download need
    // not wait for it; the clean-up waits while the file is listed as being read.
    const QString name = *info->name();
    mState->filesBeingAccessedByLoad.append(name);
    const auto weak = weakSelf();
    loadDocument(identifier, localManagedFile(name),
                 [weak, name, then](const std::shared_ptr<IdeaDocument>& document) {
                     auto self = weak.lock();
                     if (!self)
                         return;
                     self->mState->filesBeingAccessedByLoad.removeOne(name);
                     if (document && self->isActive()) {
                         IdeaProxyPtr proxy = IdeaProxy::init();
                         proxy->updateWithDoc(document);
                         self->delegate()->observeIdeaProxy(proxy, self.get());
                         if (then)
                             then(proxy);
                     }
                     self->ensureRunnable();
                 });
}

bool DropboxFolderManager::noteDamagedDownload(const QString& remotePath)
{
    if (mDamagedDownloads.contains(remotePath))
        return false;
    mDamagedDownloads.insert(remotePath);
    Log::warning(QStringLiteral("Dropbox: the download of %1 does not match its content hash; it is "
                                "tried again as the back-off allows")
                     .arg(AttachmentNames::printable(remotePath)));
    return true;
}

void DropboxFolderManager::tellDocumentNotSynced(const QString& identifier, bool folderAtPath,
                                                 const QString& copyDocument, const QVFileInfo::Ref& copy)
{
    DropboxSyncNotices::DocumentNotSynced notice;
    notice.reason = folderAtPath ? DropboxSyncNotices::DocumentNotSynced::Reason::FolderAtPath
                                 : DropboxSyncNotices::DocumentNotSynced::Reason::DamagedContent;
    notice.document = identifier;
    notice.remotePath = DropboxFileNames::dropboxPathFromFileURL(identifier);
    notice.copyDocument = copyDocument;
    if (QVFileInfo::hasFile(copy))
        notice.copyFile = localManagedFile(*copy->name());
    DropboxSyncNotices::postDocumentNotSynced(this, notice);
}

// ---- Files

QString DropboxFolderManager::unusedLocalName(QString (*make)()) const
{
    QString name = make();
    while (QFileInfo::exists(localManagedFile(name)))
        name = make();
    return name;
}

bool DropboxFolderManager::ensureLocalManagedFolder() const
{
    const QFileInfo folder(localManagedFolder());
    if (folder.exists())
        return folder.isDir();
    return Paths::makePath(localManagedFolder()).ok();
}

QStringList DropboxFolderManager::listFilePathsInFolder(const QString& folder) const
{
    QStringList paths;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot))
        if (name.contains(QLatin1Char('.')))
            paths.append(dir.filePath(name));
    return paths;
}

void DropboxFolderManager::removeFilesAsync(const QStringList& paths)
{
    StorageQueues::persistenceQueue().async([paths] {
        for (const QString& path : paths)
            SysCalls::unlink(QFile::encodeName(path).constData());
    });
}

// ---- Registration

void registerDropboxLocation()
{
    PersistenceStateFactory::registerMaker(
        IdeaDocument::DropboxLocation, [] { return PersistenceStatePtr(DropboxFolderManager::create()); });
}

} // namespace corvex
