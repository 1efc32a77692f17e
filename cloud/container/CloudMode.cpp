#include "cloud/container/CloudMode.h"

#include "cloud/container/SyncFileNames.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/core/SaveFile.h"
#include "platform/core/Semaphore.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/SysCalls.h"
#include "platform/core/WholeFileReader.h"
#include "storage/AttachmentDocument.h"
#include "storage/AttachmentNames.h"
#include "storage/FileUtil.h"
#include "storage/PersistenceController.h"
#include "storage/PersistenceStateDelegate.h"
#include "storage/StorageQueues.h"

#include <QFile>
#include <QHash>
#include <cerrno>
#include <sys/stat.h>

namespace corvex {

namespace {

bool cloudPathExists(const QString& path)
{
    struct stat info;
    return SysCalls::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

const QString CloudMode::DocumentsFolderName = QStringLiteral("Documents");
const QString CloudMode::AttachmentsFolderName = QStringLiteral("attachments");
const QString CloudMode::StuckErrorText =
    QStringLiteral("CloudMode got stuck - we we not able to do anything!)");
const QString CloudMode::IndexCreationErrorText =
    QStringLiteral("Error creating INDEX DOCUMENT from iCloud (while we know it exists!)");

// ---- Life

CloudMode::CloudMode(Private, CloudServices services) : mServices(std::move(services)) {}

std::shared_ptr<CloudMode> CloudMode::create(CloudServices services)
{
    auto mode = std::make_shared<CloudMode>(Private(), std::move(services));
    if (!mode->mServices.account)
        mode->mServices.account = std::make_shared<FolderCloudAccount>();
    if (!mode->mServices.makeQuery)
        mode->mServices.makeQuery = [] {
            return CloudMetadataQueryPtr(std::make_unique<FolderMetadataQuery>());
        };
    if (!mode->mServices.mover)
        mode->mServices.mover = std::make_shared<FileUbiquitousMover>();
    if (!mode->mServices.versions)
        mode->mServices.versions = std::make_shared<SyncConflictVersionStore>();

    mode->mServices.account->prepare();
    mode->mCloudToken = mode->mServices.account->currentToken();
    mode->mMonitor = CloudIdentityMonitor::create(mode->mServices.account);
    const std::weak_ptr<CloudMode> weak = mode->weakSelf();
    mode->mIdentityObserver = NotificationCenter::defaultCenter().addObserver(
        CloudAccount::IdentityDidChangeNotification, std::weak_ptr<void>(mode), nullptr,
        [weak](const NotificationCenter::Notification&) {
            if (const auto self = weak.lock())
                self->iCloudAccountAvailabilityChanged();
        });
    // A later turn: the workspace makes itself the delegate in this one.
    MainQueue::post([weak] {
        if (const auto self = weak.lock())
            self->checkIfWeCanProceed();
    });
    return mode;
}

CloudMode::~CloudMode()
{
    CloudMode::leaveState();
}

std::weak_ptr<CloudMode> CloudMode::weakSelf()
{
    return std::static_pointer_cast<CloudMode>(shared_from_this());
}

std::optional<CloudIdentityToken> CloudMode::currentCloudToken()
{
    return FolderCloudAccount().currentToken();
}

void CloudMode::leaveState()
{
    if (isDead())
        return;
    mCloudDocPath.clear();
    mCloudToken.reset();
    stopAllPotentiallyRunningQueries();
    NotificationCenter::defaultCenter().removeObserver(mIdentityObserver);
    NotificationCenter::defaultCenter().removeObserver(mIndexObserver);
    mIdentityObserver = {};
    mIndexObserver = {};
    if (mIndexRetryTask != 0)
        MainQueue::cancel(std::exchange(mIndexRetryTask, 0));
    mMonitor.reset();
    PersistenceState::leaveState();
}

void CloudMode::stopAllPotentiallyRunningQueries()
{
    if (mIndexQuery)
        mIndexQuery->stop();
    mIndexQuery.reset();
    if (mQuery)
        mQuery->stop();
    mQuery.reset();
    ++mQueryGeneration;
    ++mIndexGeneration;
    stopSummaryReader();
}

QString CloudMode::description() const
{
    return QStringLiteral("CloudMode(0x%1) container=%2")
        .arg(quintptr(this), 0, 16)
        .arg(mServices.account ? mServices.account->containerFolder() : QString());
}

void CloudMode::sendStatus(PersistenceStateStatus status)
{
    if (isDead())
        return;
    if (const auto delegate = this->delegate())
        delegate->statusChange(status, this);
}

// ---- Account and folder

void CloudMode::checkIfWeCanProceed()
{
    if (isDead())
        return;
    if (!mCloudToken) {
        sendStatus(PersistenceStateStatusNoAccount);
        return;
    }
    if (!mCloudDocPath.isEmpty() || mLookingUp)
        return;
    mLookingUp = true;
    const unsigned generation = mLookupGeneration;
    const std::weak_ptr<CloudMode> weak = weakSelf();
    fetchCloudDocumentsDirectoryURL([weak, generation](const QString& folder) {
        const auto self = weak.lock();
        if (!self || self->isDead() || generation != self->mLookupGeneration)
            return;
        self->mLookingUp = false;
        self->mCloudDocPath = folder;
        if (folder.isEmpty())
            return; // no folder: nothing until the identity changes again
        self->sendStatus(PersistenceStateStatusSyncing);
        self->queryIndexFile();
        NotificationCenter::defaultCenter().post(PersistenceController::StateChangeNotification, nullptr);
    });
}

void CloudMode::fetchCloudDocumentsDirectoryURL(FolderCompletion completion)
{
    const std::shared_ptr<CloudAccount> account = mServices.account;
    GlobalQueue::async([account, completion = std::move(completion)]() mutable {
        QString documents;
        const QString container = account ? account->containerFolder() : QString();
        if (!container.isEmpty() && CloudAccount::tokenOfFolder(container)) {
            documents = container + QLatin1Char('/') + DocumentsFolderName;
            const QString attachments = documents + QLatin1Char('/') + AttachmentsFolderName;
            if (Status made = Paths::makePath(attachments, 0755); !made)
                Log::warning(QStringLiteral("CloudMode: cannot make %1: %2")
                                 .arg(attachments, made.error().toString()));
            struct stat info;
            if (SysCalls::stat(QFile::encodeName(documents).constData(), &info) != 0 ||
                !S_ISDIR(info.st_mode)) {
                Log::warning(QStringLiteral("CloudMode: %1 is no folder; the documents cannot be found")
                                 .arg(documents));
                documents.clear();
            }
        }
        completion(documents);
    });
}

void CloudMode::iCloudAccountAvailabilityChanged()
{
    if (isDead())
        return;
    const std::optional<CloudIdentityToken> previous = mCloudToken;
    mCloudToken = mServices.account->currentToken();
    if (previous && previous != mCloudToken) {
        mCloudDocPath.clear();
        mLookingUp = false;
        ++mLookupGeneration;
        sendStatus(PersistenceStateStatusError);
    }
    checkIfWeCanProceed();
}

// ---- The index file

void CloudMode::queryIndexFile()
{
    if (mIndexQuery)
        mIndexQuery->stop();
    mIndexQuery = mServices.makeQuery();
    const unsigned generation = ++mIndexGeneration;
    const std::weak_ptr<CloudMode> weak = weakSelf();
    const bool started = mIndexQuery && mIndexQuery->start(mCloudDocPath, IndexDocument::standardFileName(),
                                                           [weak, generation](const Items& results) {
                                                               const auto self = weak.lock();
                                                               if (!self || self->isDead() ||
                                                                   generation != self->mIndexGeneration)
                                                                   return;
                                                               self->mIndexQuery.reset();
                                                               self->handleIndexFileQueryResults(results);
                                                           });
    if (!started) {
        mIndexQuery.reset();
        sendStatus(PersistenceStateStatusError);
        Log::assertionFailure(QueryIndexFileAssertionLine, "-[CloudMode queryIndexFile]");
    }
}

void CloudMode::handleIndexFileQueryResults(const Items& results)
{
    if (isDead())
        return;
    const unsigned generation = mIndexGeneration;
    for (const CloudMetadataQuery::Item& item : results) {
        // Items of a synced folder are always here: no download to start.
        if (IndexDocument::fileNamingSchemeMatches(item.name)) {
            openIndexDocumentUntilSuccess(IndexDocument::initWithFileURL(QUrl::fromLocalFile(item.path)),
                                          generation);
            return;
        }
    }
    if (mCloudDocPath.isEmpty()) {
        Globals::raiseCorvexError(StuckErrorText);
        return;
    }
    const QUrl url =
        QUrl::fromLocalFile(mCloudDocPath + QLatin1Char('/') + IndexDocument::standardFileName());
    const auto index = IndexDocument::initWithFileURL(url);
    const std::weak_ptr<CloudMode> weak = weakSelf();
    index->saveBinaryToURL(url, [weak, index](bool ok) {
        const auto self = weak.lock();
        if (!self || self->isDead())
            return;
        if (!ok) {
            Globals::raiseCorvexError(IndexCreationErrorText);
            return;
        }
        self->subscribeToIndexDocumentChanges(index);
        self->queryCloudDocuments();
    });
}

void CloudMode::openIndexDocumentUntilSuccess(const std::shared_ptr<IndexDocument>& index,
                                              unsigned generation)
{
    if (isDead() || !index || generation != mIndexGeneration)
        return;
    if (mIndexRetryTask != 0)
        MainQueue::cancel(std::exchange(mIndexRetryTask, 0));
    ++mIndexReadCount;
    const std::weak_ptr<CloudMode> weak = weakSelf();
    // The read itself is done inside the call; its answer comes on the main queue.
    index->readBinaryWithCompletionHandler([weak, index, generation](bool read) {
        const auto self = weak.lock();
        if (!self || self->isDead() || generation != self->mIndexGeneration)
            return;
        if (read) {
            self->mIndexFailureLogged = false;
            self->subscribeToIndexDocumentChanges(index);
            self->queryCloudDocuments();
            return;
        }
        // Not a keyed archive of the index (yet): a sync tool may still be writing it. Nothing
        // is changed on disk; it is read again until it can be.
        if (!self->mIndexFailureLogged) {
            self->mIndexFailureLogged = true;
            Log::warning(QStringLiteral("CloudMode: the index %1 cannot be read; it is read again every %2 s")
                             .arg(index->presentedItemURL().toLocalFile())
                             .arg(IndexRetrySeconds));
        }
        self->mIndexRetryTask = MainQueue::postAfter(IndexRetrySeconds, [weak, index, generation] {
            if (const auto later = weak.lock()) {
                later->mIndexRetryTask = 0;
                later->openIndexDocumentUntilSuccess(index, generation);
            }
        });
    });
}

void CloudMode::subscribeToIndexDocumentChanges(const std::shared_ptr<IndexDocument>& index)
{
    if (mIndexObserver)
        NotificationCenter::defaultCenter().removeObserver(mIndexObserver);
    mSubscribedIndexDocument = index;
    index->resolvePotentialConflict();
    const std::weak_ptr<CloudMode> weak = weakSelf();
    mIndexObserver = NotificationCenter::defaultCenter().addObserver(
        IndexDocument::ChangedNotification, std::weak_ptr<void>(shared_from_this()), index.get(),
        [weak](const NotificationCenter::Notification&) {
            if (const auto self = weak.lock())
                self->indexDocumentStateChanged();
        });
}

void CloudMode::indexDocumentStateChanged()
{
    if (isDead() || !mSubscribedIndexDocument)
        return;
    mSubscribedIndexDocument->resolvePotentialConflict();
    openIndexDocumentUntilSuccess(mSubscribedIndexDocument, mIndexGeneration);
}

// ---- The documents

void CloudMode::queryCloudDocuments()
{
    if (mQuery)
        mQuery->stop();
    mFilesFound.clear();
    stopSummaryReader();
    mQuery = mServices.makeQuery();
    const unsigned generation = ++mQueryGeneration;
    const std::weak_ptr<CloudMode> weak = weakSelf();
    const bool started =
        mQuery && mQuery->start(mCloudDocPath, QStringLiteral("*"), [weak, generation](const Items& results) {
            const auto self = weak.lock();
            if (!self || self->isDead() || generation != self->mQueryGeneration)
                return;
            self->startSummaryReader(results, generation);
            self->doHandleQueryResultsFromIndex(0, generation, std::make_shared<const Items>(results));
        });
    if (!started)
        Log::warning(QStringLiteral("CloudMode: the documents of %1 cannot be listed").arg(mCloudDocPath));
}

void CloudMode::doHandleQueryResultsFromIndex(std::size_t index, unsigned generation,
                                              std::shared_ptr<const Items> results)
{
    if (isDead() || generation != mQueryGeneration)
        return;
    if (index >= results->size()) {
        documentsQueryFinished(generation);
        return;
    }
    const QString name = (*results)[index].name;
    const std::weak_ptr<CloudMode> weak = weakSelf();
    if (IdeaDocument::fileNamingSchemeMatches(name) && !mFilesFound.contains(name)) {
        mFilesFound.insert(name);
        StorageQueues::persistenceQueue().async([weak, name, index, generation, results] {
            const auto document = IdeaDocument::initWithFileName(name, IdeaDocument::ICloudLocation);
            MainQueue::post([weak, document, index, generation, results] {
                const auto self = weak.lock();
                if (!self || self->isDead() || generation != self->mQueryGeneration)
                    return;
                if (const auto delegate = self->delegate())
                    delegate->foundIdeaDocument(document->docIdentifier(), self.get());
                self->doHandleQueryResultsFromIndex(index + 1, generation, results);
            });
        });
        return;
    }
    MainQueue::post([weak, index, generation, results] {
        if (const auto self = weak.lock())
            self->doHandleQueryResultsFromIndex(index + 1, generation, results);
    });
}

void CloudMode::documentsQueryFinished(unsigned generation)
{
    mQuery.reset();
    const std::vector<IdeaProxyPtr> list =
        mSubscribedIndexDocument ? mSubscribedIndexDocument->ideaProxyList() : std::vector<IdeaProxyPtr>();
    if (const auto delegate = this->delegate())
        delegate->observeProxyList(list, this);
    if (isDead() || generation != mQueryGeneration || !mSummaryRun)
        return;
    mSummaryRun->listReported = true;
    reportReadSummaries();
}

void CloudMode::stopSummaryReader()
{
    if (mSummaryRun)
        mSummaryRun->stop->store(true);
    mSummaryRun.reset();
}

void CloudMode::startSummaryReader(const Items& results, unsigned generation)
{
    // Documents the index lacks (two machines saved it at once, a document came by another
    // road) would stay unreachable: their summaries are read from their files. The index's
    // list is known already, so the reading starts now, while the documents are still being
    // reported found; the summaries are reported after the list, in order, one at a time.
    stopSummaryReader();
    QSet<QString> listed;
    if (mSubscribedIndexDocument) {
        for (const IdeaProxyPtr& proxy : mSubscribedIndexDocument->ideaProxyList()) {
            if (proxy)
                listed.insert(proxy->docIdentifier());
        }
    }
    auto run = std::make_shared<SummaryRun>();
    run->generation = generation;
    run->stop = std::make_shared<std::atomic<bool>>(false);
    QSet<QString> taken;
    QStringList paths;
    for (const CloudMetadataQuery::Item& item : results) {
        if (!IdeaDocument::fileNamingSchemeMatches(item.name) || taken.contains(item.name))
            continue;
        taken.insert(item.name);
        const QString identifier =
            IdeaDocument::docIdentifierFromPath(item.name, IdeaDocument::ICloudLocation);
        if (listed.contains(identifier))
            continue;
        run->missing.append(identifier);
        paths.append(documentPath(identifier));
    }
    run->read.resize(std::size_t(run->missing.size()));
    mSummaryRun = run;
    if (run->missing.isEmpty())
        return;
    if (!mSummaryQueue)
        mSummaryQueue = std::make_shared<SerialQueue>("com.tallowfen.corvex.cloud.summaries");
    // Two stages, each one document at a time: the files are read in order under
    // coordination, and decoded in order on the summary queue while the next file is read.
    // A few files at most wait between the stages.
    const std::weak_ptr<CloudMode> weak = weakSelf();
    const std::shared_ptr<SerialQueue> decoder = mSummaryQueue;
    const auto slots = std::make_shared<Semaphore>(SummaryReadAhead);
    GlobalQueue::async([weak, identifiers = run->missing, paths, stop = run->stop, generation, decoder,
                        slots] {
        for (qsizetype i = 0; i < paths.size() && !stop->load(); ++i) {
            slots->wait();
            std::optional<QByteArray> bytes = stop->load() ? std::nullopt : readDocumentBytes(paths.at(i));
            decoder->async([weak, i, identifier = identifiers.at(i), bytes = std::move(bytes), stop,
                            generation, slots]() mutable {
                IdeaProxyPtr proxy = bytes && !stop->load() ? summaryFromBytes(identifier, *bytes) : nullptr;
                bytes.reset();
                slots->signal();
                if (stop->load())
                    return;
                MainQueue::post([weak, i, proxy, generation] {
                    const auto self = weak.lock();
                    if (!self || self->isDead() || !self->mSummaryRun ||
                        self->mSummaryRun->generation != generation)
                        return;
                    self->mSummaryRun->read[std::size_t(i)] = proxy;
                    self->reportReadSummaries();
                });
            });
        }
    });
}

void CloudMode::reportReadSummaries()
{
    const std::shared_ptr<SummaryRun> run = mSummaryRun;
    if (isDead() || !run || !run->listReported || run->generation != mQueryGeneration)
        return;
    while (run->next < run->missing.size() && run->read[std::size_t(run->next)]) {
        const IdeaProxyPtr proxy = *run->read[std::size_t(run->next)];
        run->read[std::size_t(run->next)] = IdeaProxyPtr(); // reported: the summary is the workspace's now
        const QString identifier = run->missing.at(run->next++);
        if (!proxy) {
            Log::warning(
                QStringLiteral("CloudMode: %1 cannot be read; it stays out of the list").arg(identifier));
            continue;
        }
        if (const auto delegate = this->delegate())
            delegate->observeIdeaProxy(proxy, this);
        if (isDead() || mSummaryRun != run)
            return;
    }
    if (run->next == run->missing.size() && !run->finished) {
        run->finished = true;
        sendStatus(PersistenceStateStatusAllFound);
    }
}

std::optional<QByteArray> CloudMode::readDocumentBytes(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    std::optional<QByteArray> bytes;
    const bool coordinated = FileCoordinator().coordinateReading(
        path, FileCoordinator::ReadingWithoutChanges, [&](const QString& coordinatedPath) {
            auto contents = WholeFileReader::read(coordinatedPath, AttachmentDocument::MaxFileSize);
            if (contents.ok())
                bytes = std::move(contents).value();
        });
    return coordinated ? bytes : std::nullopt;
}

IdeaProxyPtr CloudMode::summaryFromBytes(const QString& identifier, const QByteArray& bytes)
{
    const auto payload = IdeaDocumentDataObject::readFromSomeData(bytes);
    if (!payload || !payload->idea())
        return nullptr;
    const auto document = IdeaDocument::initWithIdentifier(identifier);
    document->applyDataObject(payload);
    IdeaProxyPtr proxy = IdeaProxy::initWithDoc(document);
    // The summary keeps the handle, not the tree: it is read again when opened.
    document->setIdea(nullptr);
    return proxy;
}

// ---- Documents

QString CloudMode::documentPath(const QString& docIdentifier) const
{
    if (mCloudDocPath.isEmpty())
        return QString();
    if (IdeaDocument::locationFromIdentifier(docIdentifier) != IdeaDocument::ICloudLocation)
        return QString();
    const QString name = IdeaDocument::pathFromIdentifier(docIdentifier);
    if (!SyncFileNames::isPlainFileName(name) || SyncFileNames::isHidden(name)) {
        Log::warning(QStringLiteral("CloudMode: %1 names no file of the container")
                         .arg(AttachmentNames::printable(docIdentifier)));
        return QString();
    }
    return mCloudDocPath + QLatin1Char('/') + name;
}

QUrl CloudMode::createFileURLForFileName(const QString& docIdentifier) const
{
    const QString path = documentPath(docIdentifier);
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

void CloudMode::openDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion)
{
    const QUrl url = document ? createFileURLForFileName(document->docIdentifier()) : QUrl();
    if (url.isEmpty()) {
        if (completion)
            completion(qint64(0));
        return;
    }
    document->openFromURL(url, std::move(completion));
}

PersistenceState::SearchRead CloudMode::searchRead(const QString& docIdentifier)
{
    return fileSearchRead(documentPath(docIdentifier));
}

void CloudMode::createDocument(const std::shared_ptr<IdeaDocument>& document, TokenCompletion completion)
{
    const QUrl url = document ? createFileURLForFileName(document->docIdentifier()) : QUrl();
    if (url.isEmpty()) {
        if (completion)
            completion(qint64(0));
        return;
    }
    document->createAtURL(url, std::move(completion));
}

void CloudMode::updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                               BoolCompletion completion)
{
    if (!document || createFileURLForFileName(document->docIdentifier()).isEmpty()) {
        if (completion)
            completion(false);
        return;
    }
    document->updateWithToken(token, std::move(completion));
}

void CloudMode::closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                              Completion completion)
{
    if (!document) {
        if (completion)
            completion();
        return;
    }
    document->closeWithToken(token, std::move(completion));
}

void CloudMode::deleteDocument(const QString& docIdentifier, BoolCompletion completion)
{
    const QString path = documentPath(docIdentifier);
    if (path.isEmpty()) {
        if (completion)
            completion(false);
        return;
    }
    doDeleteFileAtPath(path, std::move(completion));
}

void CloudMode::doDeleteFileAtPath(const QString& path, BoolCompletion completion)
{
    StorageQueues::persistenceQueue().async([path, completion = std::move(completion)]() mutable {
        Error error;
        int unlinkError = 0;
        const bool coordinated = FileCoordinator().coordinateWriting(
            path, FileCoordinator::WritingForDeleting,
            [&](const QString& coordinatedPath) {
                if (SysCalls::unlink(QFile::encodeName(coordinatedPath).constData()) != 0 && errno != ENOENT)
                    unlinkError = errno;
            },
            &error);
        // The answer is what is on disk now: gone (or never there) is a success, a file still
        // there a failure, whatever each step reported.
        const bool gone = !cloudPathExists(path);
        if (!gone)
            Log::warning(
                QStringLiteral("CloudMode: cannot delete %1: %2")
                    .arg(path, coordinated
                                   ? Error::posix(unlinkError, QStringLiteral("unlink"), path).toString()
                                   : error.toString()));
        completion(gone);
    });
}

void CloudMode::saveProxyList(const std::vector<IdeaProxyPtr>& proxies)
{
    if (mCloudDocPath.isEmpty() || !mSubscribedIndexDocument)
        return;
    mSubscribedIndexDocument->setIdeaProxyList(proxies);
    mSubscribedIndexDocument->saveBinaryToURL(mSubscribedIndexDocument->presentedItemURL(), {});
}

void CloudMode::fetchIdea(const QString& docIdentifier, IdeaCompletion completion)
{
    const QUrl url = createFileURLForFileName(docIdentifier);
    if (url.isEmpty()) {
        if (completion)
            completion(nullptr);
        return;
    }
    const auto document = IdeaDocument::initWithIdentifier(docIdentifier);
    document->readFromURL(url, [document, completion = std::move(completion)](bool ok) mutable {
        completion(ok ? document->idea() : nullptr);
    });
}

// ---- Attachments

void CloudMode::storeAttachment(const ObjectID& attachment, const QByteArray& data,
                                StoreCompletion completion)
{
    auto fail = [&completion](const char* why) {
        Log::assertionFailure(StoreAttachmentAssertionLine,
                              "-[CloudMode storeAttachment:withData:onCompletion:]");
        Log::warning(QString::fromLatin1(why));
        completion(false);
    };
    if (mCloudDocPath.isEmpty())
        return fail("CloudMode: no container folder to store the attachment in");
    if (data.isNull() || !AttachmentNames::isAcceptable(attachment))
        return fail("CloudMode: the attachment has no bytes or no acceptable name");
    const QString name = attachment.asString();
    const QString target = mCloudDocPath + QLatin1Char('/') + AttachmentsFolderName + QLatin1Char('/') + name;
    const std::shared_ptr<UbiquitousMover> mover = mServices.mover;
    GlobalQueue::async([name, target, data, mover, completion = std::move(completion)]() mutable {
        bool stored = false;
        const QString temporary = FileUtil::temporaryURLForFileName(name).toLocalFile();
        if (temporary.isEmpty() || !SaveFile::writeAtomically(temporary, data).ok()) {
            Log::warning(QStringLiteral("CloudMode: cannot write the attachment %1").arg(name));
        } else {
            const Status moved = mover->moveNoReplace(temporary, target);
            const bool there = !moved.ok() && moved.error().domain() == UbiquitousMover::ErrorDomain &&
                               moved.error().code() == UbiquitousMover::FileExistsErrorCode;
            stored = moved.ok() || there;
            if (there)
                SysCalls::unlink(QFile::encodeName(temporary).constData());
            if (!stored)
                Log::warning(QStringLiteral("CloudMode: cannot store the attachment %1: %2")
                                 .arg(name, moved.error().toString()));
        }
        MainQueue::post([completion = std::move(completion), stored]() mutable {
            if (!stored)
                Log::assertionFailure(StoreAttachmentAssertionLine,
                                      "-[CloudMode storeAttachment:withData:onCompletion:]");
            completion(stored);
        });
    });
}

void CloudMode::provideAttachment(const ObjectID& attachment, ProvideCompletion completion)
{
    if (mCloudDocPath.isEmpty() || !AttachmentNames::isAcceptable(attachment)) {
        MainQueue::post([completion = std::move(completion)]() mutable {
            Log::assertionFailure(ProvideAttachmentAssertionLine,
                                  "-[CloudMode provideAttachment:onCompletion:]");
            completion(QByteArray());
        });
        return;
    }
    const QString path =
        mCloudDocPath + QLatin1Char('/') + AttachmentsFolderName + QLatin1Char('/') + attachment.asString();
    if (!cloudPathExists(path)) {
        completion(QByteArray());
        return;
    }
    const auto reader = AttachmentDocument::initWithFileURL(QUrl::fromLocalFile(path));
    reader->readBinaryWithCompletionHandler(
        [reader, completion = std::move(completion)](const QByteArray& data) mutable { completion(data); });
}

// ---- Conflicts

DocumentVersionPtr CloudMode::findConflictingVersion(const IdeaProxyPtr& proxy)
{
    const QString path = proxy ? documentPath(proxy->docIdentifier()) : QString();
    if (path.isEmpty())
        return nullptr;
    CloudFileVersionPtr best;
    for (const CloudFileVersionPtr& version : mServices.versions->unresolvedConflictVersionsOfItem(path)) {
        if (!best || version->modificationDate() > best->modificationDate())
            best = version;
    }
    return best;
}

void CloudMode::handleConflictForProxy(const IdeaProxyPtr& proxy, BoolCompletion completion)
{
    // 1. The newest version.
    const auto version = std::dynamic_pointer_cast<CloudFileVersion>(findConflictingVersion(proxy));
    if (!version) {
        completion(false);
        return;
    }
    // 2. The content in place now.
    const std::weak_ptr<CloudMode> weak = weakSelf();
    fetchIdea(proxy->docIdentifier(), [weak, proxy, version, completion = std::move(completion)](
                                          const std::shared_ptr<Idea>& current) mutable {
        const auto self = weak.lock();
        if (!self || !current) {
            completion(false);
            return;
        }
        self->resolveConflict(proxy, version, current, std::move(completion));
    });
}

void CloudMode::resolveConflict(const IdeaProxyPtr& proxy, const CloudFileVersionPtr& version,
                                const std::shared_ptr<Idea>& current, BoolCompletion completion)
{
    // 3. The content in place now lives on as a new document, with fresh identifiers.
    const auto copy = IdeaDocument::initWithFileName(QString(), IdeaDocument::ICloudLocation);
    copy->setIdea(current->deepCopyWithNewIdentifiersNoExternalLinks());
    const QDateTime now = Globals::currentDate();
    copy->setDateCreated(now);
    copy->setDateModified(now);
    const std::weak_ptr<CloudMode> weak = weakSelf();
    createDocument(copy, [weak, proxy, version, copy,
                          completion = std::move(completion)](qint64 token) mutable {
        const auto self = weak.lock();
        if (!self || token < 1) {
            completion(false);
            return;
        }
        const IdeaProxyPtr keptCopy = IdeaProxy::initWithDoc(copy);
        // 4. Closed at once; the summary keeps the handle only.
        self->closeDocument(copy, token, {});
        // 5. The document's file.
        const QString path = self->documentPath(proxy->docIdentifier());
        if (path.isEmpty()) {
            Globals::raiseCorvexURLError(QStringLiteral("CloudMode:handleConflictForProxy:Step4"));
            completion(false);
            return;
        }
        // 6.-8. The version takes the document's place; only then are the versions let go.
        const std::shared_ptr<ConflictVersionStore> versions = self->mServices.versions;
        StorageQueues::persistenceQueue().async([weak, proxy, keptCopy, version, versions, path,
                                                 completion = std::move(completion)]() mutable {
            // A version that is no document (a sync tool's half-written copy) would put an
            // unreadable file in the document's place: every version is kept instead.
            const std::optional<QByteArray> candidate = readDocumentBytes(version->path());
            const bool readable =
                candidate && IdeaDocumentDataObject::readFromSomeData(*candidate) != nullptr;
            const Status replaced =
                readable
                    ? versions->replaceItem(path, *version)
                    : Status(Error(IndexDocument::ErrorDomain, 0,
                                   QStringLiteral("%1 does not read as a document").arg(version->path())));
            if (replaced.ok()) {
                if (Status removed = versions->removeOtherVersionsOfItem(path); !removed)
                    Log::error(QStringLiteral("Error removing other document versions: %1")
                                   .arg(removed.error().localizedFailureReason()));
                for (const CloudFileVersionPtr& other : versions->unresolvedConflictVersionsOfItem(path)) {
                    if (Status resolved = versions->setResolved(*other); !resolved)
                        Log::warning(QStringLiteral("CloudMode: cannot resolve %1: %2")
                                         .arg(other->path(), resolved.error().toString()));
                }
            } else {
                Log::warning(
                    QStringLiteral("CloudMode: %1 could not take the place of %2; every version is kept: %3")
                        .arg(version->path(), path, replaced.error().toString()));
            }
            MainQueue::post([weak, proxy, keptCopy, path, completion = std::move(completion),
                             ok = replaced.ok()]() mutable {
                const auto self = weak.lock();
                if (!self || !ok) {
                    completion(false);
                    return;
                }
                self->finishResolution(proxy, keptCopy, path, std::move(completion));
            });
        });
    });
}

void CloudMode::finishResolution(const IdeaProxyPtr& proxy, const IdeaProxyPtr& keptCopy, const QString& path,
                                 BoolCompletion completion)
{
    // 9. The version's content into the handle first: a document open in a window would
    // otherwise only gain a token and write its older tree back over the version.
    const auto document = proxy->doc();
    const std::weak_ptr<CloudMode> weak = weakSelf();
    document->readFromURL(QUrl::fromLocalFile(path), [weak, document, proxy, keptCopy,
                                                      completion = std::move(completion)](bool read) mutable {
        const auto self = weak.lock();
        if (!self || !read) {
            completion(false);
            return;
        }
        self->openDocument(document, [weak, document, proxy, keptCopy,
                                      completion = std::move(completion)](qint64 token) mutable {
            const auto self = weak.lock();
            if (!self || token < 1) {
                completion(false);
                return;
            }
            // 10. Written back by this program, then closed.
            self->updateDocument(document, token,
                                 [weak, document, token, proxy, keptCopy,
                                  completion = std::move(completion)](bool ok) mutable {
                                     const auto self = weak.lock();
                                     IdeaProxyPtr updated;
                                     if (ok && document->idea())
                                         updated = IdeaProxy::initWithDoc(document);
                                     if (self)
                                         self->closeDocument(document, token, {});
                                     if (self && ok && !self->isDead()) {
                                         if (const auto delegate = self->delegate()) {
                                             if (updated)
                                                 delegate->observeIdeaProxy(updated, self.get());
                                             delegate->observeIdeaProxy(keptCopy, self.get());
                                         }
                                     }
                                     completion(ok);
                                 });
        });
    });
}

} // namespace corvex
