#include "tests/doubles/storage/TestFolderPersistenceState.h"

#include "model/IdeaDocumentDataObject.h"
#include "model/JSONDecoder.h"
#include "platform/core/JsonText.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "storage/AttachmentNames.h"
#include "storage/IndexDocument.h"
#include "storage/IndexJSONDocument.h"
#include "storage/PersistenceStateDelegate.h"
#include "storage/StorageQueues.h"

#include <QDir>
#include <QFile>
#include <cerrno>

namespace corvex {

const QString TestFolderPersistenceState::RemoteInstance = QStringLiteral("REMOTE_DEVICE");

std::shared_ptr<TestFolderPersistenceState> TestFolderPersistenceState::create(const QString& folder,
                                                                               StorageLocation location)
{
    auto state = std::make_shared<TestFolderPersistenceState>(Private(), folder, location);
    QDir().mkpath(state->documentsFolder());
    QDir().mkpath(state->attachmentsFolder());
    return state;
}

TestFolderPersistenceState::TestFolderPersistenceState(Private, QString folder, StorageLocation location)
    : mFolder(QDir::cleanPath(folder)), mLocation(location)
{}

TestFolderPersistenceState::~TestFolderPersistenceState()
{
    // Reads still held would wait for ever.
    holdSearchReads(false);
    TestFolderPersistenceState::leaveState();
}

QString TestFolderPersistenceState::documentsFolder() const
{
    return mFolder + QStringLiteral("/documents");
}

QString TestFolderPersistenceState::attachmentsFolder() const
{
    return mFolder + QStringLiteral("/attachments");
}

QString TestFolderPersistenceState::indexFilePath() const
{
    return mFolder + QLatin1Char('/') + IndexDocument::standardFileName();
}

QString TestFolderPersistenceState::documentPath(const QString& docIdentifier) const
{
    if (IdeaDocument::locationFromIdentifier(docIdentifier) != mLocation)
        return QString();
    const QString path = IdeaDocument::pathFromIdentifier(docIdentifier);
    if (!AttachmentNames::isSafeFileName(path))
        return QString();
    return documentsFolder() + QLatin1Char('/') + path;
}

QUrl TestFolderPersistenceState::documentURL(const QString& docIdentifier) const
{
    const QString path = documentPath(docIdentifier);
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

QString TestFolderPersistenceState::docIdentifierForFileName(const QString& fileName) const
{
    return IdeaDocument::docIdentifierFromPath(fileName, mLocation);
}

// ---- Scripting the answers

void TestFolderPersistenceState::setDelay(Operation operation, double seconds)
{
    mScripts[std::size_t(operation)].delay = seconds;
}

void TestFolderPersistenceState::setDelayForAll(double seconds)
{
    for (Script& script : mScripts)
        script.delay = seconds;
}

void TestFolderPersistenceState::failNext(Operation operation, int count)
{
    mScripts[std::size_t(operation)].failNext = count;
}

void TestFolderPersistenceState::setFailing(Operation operation, bool failing)
{
    mScripts[std::size_t(operation)].failing = failing;
}

int TestFolderPersistenceState::callCount(Operation operation) const
{
    return mScripts[std::size_t(operation)].calls;
}

void TestFolderPersistenceState::setKeepsConflictingVersions(bool keeps, DocumentVersionPtr version)
{
    mKeepsConflictingVersions = keeps;
    mConflictingVersion = std::move(version);
}

bool TestFolderPersistenceState::takeCall(Operation operation)
{
    Script& script = mScripts[std::size_t(operation)];
    ++script.calls;
    if (script.failing)
        return true;
    if (script.failNext > 0) {
        --script.failNext;
        return true;
    }
    return false;
}

double TestFolderPersistenceState::delayOf(Operation operation) const
{
    return mScripts[std::size_t(operation)].delay;
}

void TestFolderPersistenceState::answer(Operation operation, UniqueFunction<void()> answer, bool now)
{
    const double delay = delayOf(operation);
    if (delay > 0)
        MainQueue::postAfter(delay, std::move(answer));
    else if (now)
        answer();
    else
        MainQueue::post(std::move(answer));
}

// ---- Scripting the events

void TestFolderPersistenceState::post(double delay,
                                      std::function<void(PersistenceStateDelegate&, PersistenceState*)> event)
{
    std::weak_ptr<PersistenceState> weakSelf = weak_from_this();
    auto deliver = [weakSelf, event = std::move(event)] {
        const auto self = weakSelf.lock();
        if (!self || self->isDead())
            return;
        if (const auto delegate = self->delegate())
            event(*delegate, self.get());
    };
    if (delay > 0)
        MainQueue::postAfter(delay, std::move(deliver));
    else
        MainQueue::post(std::move(deliver));
}

void TestFolderPersistenceState::reportStatus(PersistenceStateStatus status, double delay)
{
    post(delay, [status](PersistenceStateDelegate& delegate, PersistenceState* state) {
        delegate.statusChange(status, state);
    });
}

void TestFolderPersistenceState::reportFoundDocument(const QString& docIdentifier, double delay)
{
    post(delay, [docIdentifier](PersistenceStateDelegate& delegate, PersistenceState* state) {
        delegate.foundIdeaDocument(docIdentifier, state);
    });
}

void TestFolderPersistenceState::reportProxyList(const std::vector<IdeaProxyPtr>& proxies, double delay)
{
    post(delay, [proxies](PersistenceStateDelegate& delegate, PersistenceState* state) {
        delegate.observeProxyList(proxies, state);
    });
}

void TestFolderPersistenceState::reportProxy(const IdeaProxyPtr& proxy, double delay)
{
    post(delay, [proxy](PersistenceStateDelegate& delegate, PersistenceState* state) {
        delegate.observeIdeaProxy(proxy, state);
    });
}

void TestFolderPersistenceState::reportDeleted(const QString& docIdentifier, double delay)
{
    post(delay, [docIdentifier](PersistenceStateDelegate& delegate, PersistenceState* state) {
        delegate.ideaDocumentDeleted(docIdentifier, state);
    });
}

void TestFolderPersistenceState::reportConflict(const QString& docIdentifier, double delay)
{
    post(delay, [docIdentifier](PersistenceStateDelegate& delegate, PersistenceState* state) {
        delegate.detectedDocumentConflict(docIdentifier, state);
    });
}

void TestFolderPersistenceState::discover(double delay)
{
    for (const QString& identifier : storedDocuments())
        reportFoundDocument(identifier, delay);
    reportProxyList(readIndexFile(), delay);
}

std::vector<IdeaProxyPtr> TestFolderPersistenceState::readIndexFile() const
{
    QFile file(indexFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    if (mLocation == IdeaDocument::ICloudLocation) {
        // A reader of its own, not registered as a presenter (it has no file).
        const auto reader = IndexDocument::initWithFileURL(QUrl());
        if (!reader->loadFromContents(data, nullptr, false))
            return {};
        return reader->ideaProxyList();
    }
    const auto decoder = IndexJSONDocument::makeDecoder(data);
    return IndexJSONDocument::decodeProxies(*decoder, nullptr).value_or(std::vector<IdeaProxyPtr>());
}

// ---- The location's files

IdeaProxyPtr TestFolderPersistenceState::writeDocumentFile(const QString& docIdentifier, const IdeaPtr& root,
                                                           const QDateTime& created,
                                                           const QDateTime& modified)
{
    const QString path = documentPath(docIdentifier);
    if (path.isEmpty() || !root)
        return nullptr;
    const auto payload = IdeaDocumentDataObject::payloadForWriting(root, created, modified);
    const Result<QByteArray> json = payload->jsonData();
    if (!json.ok())
        return nullptr;
    // The payload names another instance, as a file synced from another device does.
    Result<Value> parsed = JsonText::parse(json.value());
    if (!parsed.ok())
        return nullptr;
    Value tree = std::move(parsed).value();
    if (ValueDictionary* top = tree.editDictionary()) {
        if (Value* inner = top->find(IdeaDocumentDataObject::ClassName.at(0).toLower() +
                                     IdeaDocumentDataObject::ClassName.mid(1))) {
            if (ValueDictionary* fields = inner->editDictionary())
                fields->insert(IdeaDocumentDataObject::AppInstanceKey, Value(RemoteInstance));
        }
    }
    const Result<QByteArray> compressed =
        IdeaDocumentDataObject::storedForm(JsonText::serialize(tree), false);
    if (!compressed.ok() || !SaveFile::writeAtomically(path, compressed.value()).ok())
        return nullptr;

    const auto document = IdeaDocument::initWithIdentifier(docIdentifier);
    document->setIdea(root);
    document->setDateCreated(payload->dateCreated());
    document->setDateModified(payload->dateModified());
    IdeaProxyPtr proxy = IdeaProxy::initWithDoc(document);
    // The handle stays closed and without a tree, as a handle made from the identifier is.
    document->setIdea(nullptr);
    return proxy;
}

IdeaProxyPtr TestFolderPersistenceState::replaceDocumentRemotely(const QString& docIdentifier,
                                                                 const IdeaPtr& root, double delay)
{
    IdeaProxyPtr proxy = writeDocumentFile(docIdentifier, root);
    if (proxy)
        reportProxy(proxy, delay);
    return proxy;
}

void TestFolderPersistenceState::deleteDocumentRemotely(const QString& docIdentifier, double delay)
{
    const QString path = documentPath(docIdentifier);
    if (!path.isEmpty())
        QFile::remove(path);
    reportDeleted(docIdentifier, delay);
}

QStringList TestFolderPersistenceState::storedDocuments() const
{
    QStringList identifiers;
    const QStringList names = QDir(documentsFolder()).entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (IdeaDocument::fileNamingSchemeMatches(name))
            identifiers.append(docIdentifierForFileName(name));
    }
    return identifiers;
}

IdeaPtr TestFolderPersistenceState::storedTree(const QString& docIdentifier) const
{
    QFile file(documentPath(docIdentifier));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const auto payload = IdeaDocumentDataObject::readFromSomeData(file.readAll());
    return payload ? payload->idea() : nullptr;
}

// ---- PersistenceState

void TestFolderPersistenceState::leaveState()
{
    PersistenceState::leaveState();
}

void TestFolderPersistenceState::closeDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                               Completion completion)
{
    ++mScripts[std::size_t(Operation::Close)].calls;
    auto self = std::static_pointer_cast<TestFolderPersistenceState>(shared_from_this());
    auto done = [self, completion = std::move(completion)]() mutable {
        self->answer(
            Operation::Close,
            [completion = std::move(completion)]() mutable {
                if (completion)
                    completion();
            },
            true);
    };
    if (!document) {
        done();
        return;
    }
    document->closeWithToken(token, std::move(done));
}

void TestFolderPersistenceState::createDocument(const std::shared_ptr<IdeaDocument>& document,
                                                TokenCompletion completion)
{
    const bool fail = takeCall(Operation::Create);
    const QUrl url = document ? documentURL(document->docIdentifier()) : QUrl();
    if (fail || url.isEmpty()) {
        answer(
            Operation::Create, [completion = std::move(completion)]() mutable { completion(0); }, false);
        return;
    }
    auto self = std::static_pointer_cast<TestFolderPersistenceState>(shared_from_this());
    document->createAtURL(url, [self, completion = std::move(completion)](qint64 token) mutable {
        self->answer(
            Operation::Create, [completion = std::move(completion), token]() mutable { completion(token); },
            true);
    });
}

void TestFolderPersistenceState::updateDocument(const std::shared_ptr<IdeaDocument>& document, qint64 token,
                                                BoolCompletion completion)
{
    const bool fail = takeCall(Operation::Update);
    if (fail || !document) {
        answer(
            Operation::Update, [completion = std::move(completion)]() mutable { completion(false); }, false);
        return;
    }
    auto self = std::static_pointer_cast<TestFolderPersistenceState>(shared_from_this());
    document->updateWithToken(token, [self, completion = std::move(completion)](bool ok) mutable {
        self->answer(
            Operation::Update, [completion = std::move(completion), ok]() mutable { completion(ok); }, true);
    });
}

void TestFolderPersistenceState::openDocument(const std::shared_ptr<IdeaDocument>& document,
                                              TokenCompletion completion)
{
    const bool fail = takeCall(Operation::Open);
    const QUrl url = document ? documentURL(document->docIdentifier()) : QUrl();
    if (fail || url.isEmpty()) {
        answer(
            Operation::Open, [completion = std::move(completion)]() mutable { completion(0); }, false);
        return;
    }
    auto self = std::static_pointer_cast<TestFolderPersistenceState>(shared_from_this());
    document->openFromURL(url, [self, completion = std::move(completion)](qint64 token) mutable {
        self->answer(
            Operation::Open, [completion = std::move(completion), token]() mutable { completion(token); },
            true);
    });
}

PersistenceState::SearchRead TestFolderPersistenceState::searchRead(const QString& docIdentifier)
{
    if (!mServesSearchReads)
        return {};
    const bool fail = takeCall(Operation::SearchRead);
    const QString path = documentPath(docIdentifier);
    SearchRead read = fail ? SearchRead([path] {
        return Result<QByteArray>(Error::posix(EIO, QStringLiteral("read"), path));
    })
                           : fileSearchRead(path);
    if (!read)
        return {};
    return [gate = mSearchReadGate, read = std::move(read)] {
        Result<QByteArray> bytes = read();
        gate->pass();
        return bytes;
    };
}

void TestFolderPersistenceState::holdSearchReads(bool hold)
{
    {
        std::lock_guard lock(mSearchReadGate->mutex);
        mSearchReadGate->held = hold;
    }
    if (!hold)
        mSearchReadGate->released.notify_all();
}

int TestFolderPersistenceState::heldSearchReads() const
{
    std::lock_guard lock(mSearchReadGate->mutex);
    return mSearchReadGate->waiting;
}

void TestFolderPersistenceState::SearchReadGate::pass()
{
    std::unique_lock lock(mutex);
    ++waiting;
    released.wait(lock, [this] { return !held; });
    --waiting;
}

void TestFolderPersistenceState::deleteDocument(const QString& docIdentifier, BoolCompletion completion)
{
    const bool fail = takeCall(Operation::Delete);
    const QString path = documentPath(docIdentifier);
    if (fail || path.isEmpty()) {
        answer(
            Operation::Delete, [completion = std::move(completion)]() mutable { completion(false); }, false);
        return;
    }
    auto self = std::static_pointer_cast<TestFolderPersistenceState>(shared_from_this());
    StorageQueues::persistenceQueue().async([self, path, completion = std::move(completion)]() mutable {
        const bool removed = QFile::remove(path);
        MainQueue::post([self, removed, completion = std::move(completion)]() mutable {
            self->answer(
                Operation::Delete,
                [completion = std::move(completion), removed]() mutable { completion(removed); }, true);
        });
    });
}

void TestFolderPersistenceState::saveProxyList(const std::vector<IdeaProxyPtr>& proxies)
{
    ++mSavedProxyListCount;
    mLastSavedProxyList.clear();
    for (const IdeaProxyPtr& proxy : proxies)
        mLastSavedProxyList.append(proxy ? proxy->docIdentifier() : QString());
    if (!mWritesIndexFile)
        return;
    const QUrl url = QUrl::fromLocalFile(indexFilePath());
    std::weak_ptr<PersistenceState> weakSelf = weak_from_this();
    auto written = [weakSelf](bool ok) {
        if (const auto self = weakSelf.lock())
            std::static_pointer_cast<TestFolderPersistenceState>(self)->indexWritten(ok);
    };
    if (mLocation == IdeaDocument::ICloudLocation) {
        if (!mIndexDocument)
            mIndexDocument = IndexDocument::initWithFileURL(url);
        mIndexDocument->setIdeaProxyList(proxies);
        mIndexDocument->saveBinaryToURL(url, written);
    } else {
        if (!mIndexJSONDocument)
            mIndexJSONDocument = IndexJSONDocument::initWithFileURL(url);
        mIndexJSONDocument->setIdeaProxyList(proxies);
        mIndexJSONDocument->saveJSONToURL(url, written);
    }
}

void TestFolderPersistenceState::indexWritten(bool ok)
{
    ++mIndexWriteCount;
    mLastIndexWriteSucceeded = ok;
}

void TestFolderPersistenceState::storeAttachment(const ObjectID& attachment, const QByteArray& data,
                                                 StoreCompletion completion)
{
    const bool fail = takeCall(Operation::StoreAttachment);
    if (fail || data.isNull() || !AttachmentNames::isAcceptable(attachment)) {
        answer(
            Operation::StoreAttachment, [completion = std::move(completion)]() mutable { completion(false); },
            false);
        return;
    }
    const QString path = attachmentsFolder() + QLatin1Char('/') + attachment.asString();
    auto self = std::static_pointer_cast<TestFolderPersistenceState>(shared_from_this());
    StorageQueues::persistenceQueue().async([self, path, data, completion = std::move(completion)]() mutable {
        const bool stored = SaveFile::writeAtomically(path, data).ok();
        MainQueue::post([self, stored, completion = std::move(completion)]() mutable {
            self->answer(
                Operation::StoreAttachment,
                [completion = std::move(completion), stored]() mutable { completion(stored); }, true);
        });
    });
}

void TestFolderPersistenceState::provideAttachment(const ObjectID& attachment, ProvideCompletion completion)
{
    const bool fail = takeCall(Operation::ProvideAttachment);
    if (fail || !AttachmentNames::isAcceptable(attachment)) {
        answer(
            Operation::ProvideAttachment,
            [completion = std::move(completion)]() mutable { completion(QByteArray()); }, false);
        return;
    }
    const QString path = attachmentsFolder() + QLatin1Char('/') + attachment.asString();
    auto self = std::static_pointer_cast<TestFolderPersistenceState>(shared_from_this());
    StorageQueues::persistenceQueue().async([self, path, completion = std::move(completion)]() mutable {
        QByteArray data;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            data = file.readAll();
            if (file.error() != QFileDevice::NoError)
                data = QByteArray();
            else if (data.isNull())
                data = QByteArray("", 0); // an attachment stored empty answers empty bytes
        }
        MainQueue::post([self, data, completion = std::move(completion)]() mutable {
            self->answer(
                Operation::ProvideAttachment,
                [completion = std::move(completion), data]() mutable { completion(data); }, true);
        });
    });
}

void TestFolderPersistenceState::setDocumentInConflict(const QString& docIdentifier, bool inConflict)
{
    mDocumentsInConflict.removeAll(docIdentifier);
    if (inConflict)
        mDocumentsInConflict.append(docIdentifier);
}

bool TestFolderPersistenceState::documentInConflict(const QString& docIdentifier) const
{
    return mDocumentsInConflict.contains(docIdentifier);
}

DocumentVersionPtr TestFolderPersistenceState::findConflictingVersion(const IdeaProxyPtr&)
{
    return mKeepsConflictingVersions ? mConflictingVersion : nullptr;
}

void TestFolderPersistenceState::handleConflictForProxy(const IdeaProxyPtr&, BoolCompletion completion)
{
    const bool fail = takeCall(Operation::HandleConflict) || !mKeepsConflictingVersions;
    answer(
        Operation::HandleConflict,
        [completion = std::move(completion), fail]() mutable { completion(!fail); }, false);
}

QString TestFolderPersistenceState::description() const
{
    return QStringLiteral("TestFolderPersistenceState(0x%1) location=%2 folder=%3")
        .arg(quintptr(this), 0, 16)
        .arg(mLocation)
        .arg(mFolder);
}

} // namespace corvex
