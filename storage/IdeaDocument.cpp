#include "storage/IdeaDocument.h"

#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/IdeaTreeCopy.h"
#include "model/UrlExtension.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"
#include "storage/IdeaFilePresenter.h"
#include "storage/StorageQueues.h"

#include <atomic>
#include <mutex>

namespace corvex {

const QString IdeaDocument::TemporaryPrefix = QStringLiteral("temp:/");
const QString IdeaDocument::FilePrefix = QStringLiteral("file://");
const QString IdeaDocument::ICloudPrefix = QStringLiteral("iCloud:/");
const QString IdeaDocument::DropboxPrefix = QStringLiteral("dropbox:/");
const QString IdeaDocument::ChangedNotification = QStringLiteral("IdeaDocumentChangedNotification");

namespace {

// The line the identifier builder's location check has always logged.
constexpr int kUnknownLocationLine = 613;

std::atomic<int> gDocFileNameCounter{0};
std::atomic<qint64> gTokenCounter{0};

std::mutex gFetcherMutex;
IdeaDocument::AttachmentFetcher& fetcherSlot()
{
    static IdeaDocument::AttachmentFetcher* slot = new IdeaDocument::AttachmentFetcher();
    return *slot;
}

// The last component of a path or URL text, trailing slashes ignored.
QString trailingPathComponent(const QString& text)
{
    qsizetype end = text.size();
    while (end > 1 && text.at(end - 1) == QLatin1Char('/'))
        --end;
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'), end - 1);
    return text.mid(slash + 1, end - slash - 1);
}

QString trailingPathComponent(const QUrl& url)
{
    return trailingPathComponent(url.path());
}

// The way dates have always appeared in document descriptions.
QString dateDescription(const QDateTime& date)
{
    if (!date.isValid())
        return QStringLiteral("(null)");
    return date.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000");
}

} // namespace

// ---- Identifiers, names and tokens

StorageLocation IdeaDocument::locationFromIdentifier(const QString& identifier)
{
    if (identifier.startsWith(ICloudPrefix))
        return ICloudLocation;
    if (identifier.startsWith(DropboxPrefix))
        return DropboxLocation;
    if (identifier.startsWith(FilePrefix))
        return LocalFileLocation;
    return TemporaryLocation;
}

QString IdeaDocument::pathFromIdentifier(const QString& identifier)
{
    for (const QString* prefix : {&ICloudPrefix, &DropboxPrefix, &FilePrefix, &TemporaryPrefix}) {
        if (identifier.startsWith(*prefix))
            return identifier.mid(prefix->size());
    }
    return QString();
}

QString IdeaDocument::docIdentifierFromPath(const QString& path, StorageLocation location)
{
    switch (location) {
    case TemporaryLocation:
        return TemporaryPrefix + path;
    case LocalFileLocation:
        return FilePrefix + path;
    case ICloudLocation:
        return ICloudPrefix + path;
    case DropboxLocation:
        return DropboxPrefix + path;
    default:
        Log::assertionFailure(kUnknownLocationLine, "+[IdeaDocument docIdentifierFromPath:inLocation:]");
        return QString();
    }
}

QString IdeaDocument::createNewDocFileName()
{
    const int counter = ++gDocFileNameCounter;
    return QString::asprintf("id%0.0f_%d.crvx", Globals::secondsSince1970(), counter);
}

bool IdeaDocument::fileNamingSchemeMatches(const QString& fileName)
{
    return fileName.endsWith(QLatin1String(".crvx"));
}

qint64 IdeaDocument::nextToken()
{
    return ++gTokenCounter;
}

// ---- Construction

std::shared_ptr<IdeaDocument> IdeaDocument::initWithIdentifier(const QString& identifier)
{
    return std::make_shared<IdeaDocument>(Private(), identifier, locationFromIdentifier(identifier),
                                          pathFromIdentifier(identifier));
}

std::shared_ptr<IdeaDocument> IdeaDocument::initWithFileName(const QString& fileNameOrNull,
                                                             StorageLocation location)
{
    const QString name = fileNameOrNull.isNull() ? createNewDocFileName() : fileNameOrNull;
    auto document =
        std::make_shared<IdeaDocument>(Private(), docIdentifierFromPath(name, location), location, name);
    document->mGeneratedFileName = fileNameOrNull.isNull();
    return document;
}

bool IdeaDocument::takeNextGeneratedFileName()
{
    if (!mGeneratedFileName || mFilePresenter || mPendingPresenter)
        return false;
    const bool urlWasIdentifier = mRepresentativeURL == QUrl(mDocIdentifier);
    mFilePath = createNewDocFileName();
    mDocIdentifier = docIdentifierFromPath(mFilePath, mLocation);
    if (urlWasIdentifier)
        mRepresentativeURL = QUrl(mDocIdentifier);
    return true;
}

IdeaDocument::IdeaDocument(Private, QString identifier, StorageLocation location, QString filePath)
    : mDocIdentifier(std::move(identifier)), mLocation(location), mFilePath(std::move(filePath)),
      mRepresentativeURL(mDocIdentifier)
{}

IdeaDocument::~IdeaDocument()
{
    // Opens and creates under way hold the document, so none can be waiting here.
    if (mFilePresenter)
        mFilePresenter->close();
}

// ---- Properties

bool IdeaDocument::isCloudDocument() const
{
    return mLocation == ICloudLocation || mLocation == DropboxLocation;
}

QString IdeaDocument::description() const
{
    return QStringLiteral("<IdeaDocument file=%1, idea=%2, created=%3, modified=%4")
        .arg(trailingPathComponent(mDocIdentifier), mIdea ? mIdea->description() : QStringLiteral("(null)"),
             dateDescription(mDateCreated), dateDescription(mDateModified));
}

QString IdeaDocument::exportFileName() const
{
    if (mLocation == TemporaryLocation && !mRepresentativeURL.isEmpty())
        return trailingPathComponent(mRepresentativeURL);
    if (!mIdea)
        return QStringLiteral("document.corvex");
    return mIdea->exportFileNameForType(QStringLiteral("corvex"));
}

QString IdeaDocument::documentWindowName() const
{
    if (mLocation == TemporaryLocation) {
        if (!mRepresentativeURL.isEmpty())
            return trailingPathComponent(mRepresentativeURL);
        return mKeptEditsOf.isEmpty() ? QStringLiteral("untitled.corvex")
                                      : QStringLiteral("%1 (unsaved changes)").arg(mKeptEditsOf);
    }
    if (!mIdea)
        return QStringLiteral("document");
    return mIdea->exportFileNameForType(QString());
}

// ---- Opening and saving

bool IdeaDocument::goodToken(qint64 token) const
{
    return token > 0 && mTokens.count(token) > 0;
}

void IdeaDocument::openFromURL(const QUrl& url, TokenCompletion completion)
{
    if (UrlExtension::localPath(url).isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IdeaDocument:openFromURL"));
        completion(qint64(0));
        return;
    }
    if (mPendingPresenter) {
        mWaitingOpens.push_back(std::move(completion));
        return;
    }
    if (mFilePresenter) {
        const qint64 token = nextToken();
        mTokens.insert(token);
        completion(token);
        return;
    }
    auto presenter = IdeaFilePresenter::initWithFileURL(url, weak_from_this());
    mPendingPresenter = presenter;
    mWaitingOpens.push_back(std::move(completion));
    presenter->readWithCompletionHandler([self = shared_from_this(), presenter](bool ok) {
        self->mPendingPresenter.reset();
        if (ok)
            self->mFilePresenter = presenter;
        else
            presenter->close();
        self->finishPending(ok);
    });
}

void IdeaDocument::finishPending(bool ok, TokenCompletion first, qint64 firstToken)
{
    std::vector<TokenCompletion> waiting;
    waiting.swap(mWaitingOpens);
    // Every token exists before any completion runs: a completion that closes with its own
    // token must not close the document under the others.
    std::vector<qint64> tokens;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        const qint64 token = ok ? nextToken() : 0;
        if (ok)
            mTokens.insert(token);
        tokens.push_back(token);
    }
    if (first)
        first(firstToken);
    for (std::size_t i = 0; i < waiting.size(); ++i)
        waiting[i](tokens[i]);
}

void IdeaDocument::createAtURL(const QUrl& url, TokenCompletion completion)
{
    if (UrlExtension::localPath(url).isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IdeaDocument:createAtURL"));
        completion(qint64(0));
        return;
    }
    if (mFilePresenter || mPendingPresenter) {
        completion(qint64(0));
        return;
    }
    const qint64 token = nextToken();
    auto presenter = IdeaFilePresenter::initWithFileURL(url, weak_from_this());
    mPendingPresenter = presenter;
    presenter->createWithBytes(
        storedBytesJob(IdeaFilePresenter::writesPlainJSON(url, mLocation)),
        [self = shared_from_this(), presenter, token, completion = std::move(completion)](bool ok) mutable {
            self->mPendingPresenter.reset();
            if (ok) {
                self->mFilePresenter = presenter;
                self->mTokens.insert(token);
            } else {
                // Back to closed: no handle may answer tokens for a file that was never made.
                presenter->close();
            }
            self->finishPending(ok, std::move(completion), ok ? token : 0);
        });
}

void IdeaDocument::createAtURLOpeningFirst(const QUrl& url, TokenCompletion opened, BoolCompletion stored)
{
    auto refuse = [&] {
        opened(qint64(0));
        stored(false);
    };
    if (UrlExtension::localPath(url).isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IdeaDocument:createAtURL"));
        refuse();
        return;
    }
    if (mFilePresenter || mPendingPresenter || !mIdea) {
        refuse();
        return;
    }
    const qint64 token = nextToken();
    auto presenter = IdeaFilePresenter::initWithFileURL(url, weak_from_this());
    mFilePresenter = presenter;
    mTokens.insert(token);
    opened(token);
    presenter->createWithBytes(
        copiedTreeBytesJob(IdeaFilePresenter::writesPlainJSON(url, mLocation)),
        [weak = weak_from_this(), presenter, url, stored = std::move(stored)](bool ok) mutable {
            const auto self = weak.lock();
            if (!ok && self) {
                self->mLastSaveError = presenter->lastWriteError();
                // The saves asked for meanwhile fail; the next one makes the file (see
                // makeUnmadeFile), never writing over one that someone else made meanwhile.
                if (self->mFilePresenter == presenter) {
                    presenter->close();
                    self->mFilePresenter.reset();
                    self->mUnmadeURL = url;
                }
            }
            stored(ok);
        });
}

void IdeaDocument::updateWithToken(qint64 token, BoolCompletion completion)
{
    if (goodToken(token) && !mFilePresenter && !mUnmadeURL.isEmpty())
        return makeUnmadeFile(std::move(completion));
    if (!goodToken(token) || !mFilePresenter) {
        completion(false);
        return;
    }
    const std::shared_ptr<IdeaFilePresenter> presenter = mFilePresenter;
    presenter->updateWithBytes(
        storedBytesJob(IdeaFilePresenter::writesPlainJSON(presenter->presentedItemURL(), mLocation)),
        [weak = weak_from_this(), presenter, completion = std::move(completion)](bool ok) mutable {
            if (const auto self = weak.lock())
                self->mLastSaveError = ok ? QString() : presenter->lastWriteError();
            completion(ok);
        });
}

void IdeaDocument::makeUnmadeFile(BoolCompletion completion)
{
    const QUrl url = mUnmadeURL;
    auto presenter = IdeaFilePresenter::initWithFileURL(url, weak_from_this());
    // Saves asked for meanwhile are written after this one, or fail with it.
    mFilePresenter = presenter;
    presenter->createWithBytes(
        storedBytesJob(IdeaFilePresenter::writesPlainJSON(url, mLocation)),
        [weak = weak_from_this(), presenter, url, completion = std::move(completion)](bool ok) mutable {
            if (const auto self = weak.lock()) {
                self->mLastSaveError = ok ? QString() : presenter->lastWriteError();
                if (ok && self->mUnmadeURL == url) {
                    self->mUnmadeURL.clear();
                } else if (!ok && self->mFilePresenter == presenter) {
                    presenter->close();
                    self->mFilePresenter.reset();
                }
            }
            completion(ok);
        });
}

void IdeaDocument::closeWithToken(qint64 token, Completion completion)
{
    if (goodToken(token)) {
        const std::size_t held = mTokens.size();
        mTokens.erase(token);
        if (held == 1) {
            if (mFilePresenter)
                mFilePresenter->close();
            mFilePresenter.reset();
            mUnmadeURL.clear();
            mIdea.reset();
        }
    }
    completion();
}

void IdeaDocument::readFromURL(const QUrl& url, BoolCompletion completion)
{
    if (UrlExtension::localPath(url).isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IdeaDocument:readFromURL"));
        completion(false);
        return;
    }
    auto presenter = IdeaFilePresenter::initWithFileURL(url, weak_from_this());
    presenter->readWithCompletionHandler(
        [self = shared_from_this(), presenter, completion = std::move(completion)](bool ok) mutable {
            presenter->close();
            completion(ok);
        });
}

void IdeaDocument::writeToLocalFileAt(const QUrl& url, BoolCompletion completion)
{
    if (UrlExtension::localPath(url).isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IdeaDocument:writeToLocalFileAt"));
        completion(false);
        return;
    }
    StorageQueues::persistenceQueue().async(
        [url, bytes = storedBytesJob(false), completion = std::move(completion)]() mutable {
            Error error;
            auto stored = bytes();
            bytes = nullptr;
            const bool written =
                stored.ok() && IdeaFilePresenter::doWriteToURL(url, stored.value(),
                                                               IdeaFilePresenter::WriteMode::Replace, &error);
            if (!written)
                Log::warning(QStringLiteral("IdeaDocument: cannot write %1: %2")
                                 .arg(url.toLocalFile(), (stored.ok() ? error : stored.error()).toString()));
            completion(written);
        });
}

// ---- Payload

void IdeaDocument::applyDataObject(const std::shared_ptr<IdeaDocumentDataObject>& payload)
{
    if (!payload)
        return;
    mIdea = payload->idea();
    mDateCreated = payload->dateCreated();
    mDateModified = payload->dateModified();
    mAppInstance = payload->appInstance();
}

Result<QByteArray> IdeaDocument::exportAsPureJSONData() const
{
    if (!mIdea) {
        const QString text = QStringLiteral("IdeaDocument: %1 has no root idea to save").arg(mDocIdentifier);
        Log::warning(text);
        return Error(Globals::ErrorDomain, Globals::MessageErrorCode, text);
    }
    // The payload writer logs and raises its own failures (a circular reference).
    return IdeaDocumentDataObject::payloadForWriting(mIdea, mDateCreated, mDateModified)->jsonData();
}

Result<QByteArray> IdeaDocument::exportAsCorvexData() const
{
    auto json = exportAsPureJSONData();
    if (!json.ok())
        return json.error();
    return IdeaDocumentDataObject::storedForm(json.value(), false);
}

std::function<Result<QByteArray>()> IdeaDocument::storedBytesJob(bool plainJSON) const
{
    // Encoded here, on the tree's thread (it may change right after); the job carries bytes
    // only. A tree that cannot be written leaves no text, which the stored form refuses.
    auto encoded = exportAsPureJSONData();
    QByteArray json = encoded.ok() ? std::move(encoded).value() : QByteArray();
    return [json = std::move(json), plainJSON]() mutable {
        const QByteArray text = std::move(json);
        json = QByteArray(); // a large text is not kept beyond the one run
        return IdeaDocumentDataObject::storedForm(text, plainJSON);
    };
}

std::function<Result<QByteArray>()> IdeaDocument::copiedTreeBytesJob(bool plainJSON) const
{
    // Only the copy leaves this thread: the live tree may be edited while the job runs.
    auto payload = IdeaDocumentDataObject::payloadForWriting(IdeaTreeCopy::copyKeepingIdentifiers(*mIdea),
                                                             mDateCreated, mDateModified);
    return [payload = std::move(payload), plainJSON]() mutable -> Result<QByteArray> {
        const auto json = payload->jsonData();
        payload.reset(); // the copy goes before the deflate
        if (!json.ok())
            return json.error();
        return IdeaDocumentDataObject::storedForm(json.value(), plainJSON);
    };
}

// ---- Conflicts

namespace {
IdeaDocument::ConflictQuery& conflictQuerySlot()
{
    static IdeaDocument::ConflictQuery* slot = new IdeaDocument::ConflictQuery();
    return *slot;
}
} // namespace

bool IdeaDocument::inConflict() const
{
    const ConflictQuery& query = conflictQuerySlot();
    return query && query(*this);
}

IdeaDocument::ConflictQuery IdeaDocument::setConflictQuery(ConflictQuery query)
{
    ConflictQuery previous = std::move(conflictQuerySlot());
    conflictQuerySlot() = std::move(query);
    return previous;
}

// ---- Attachments

IdeaDocument::AttachmentFetcher IdeaDocument::setAttachmentFetcher(AttachmentFetcher fetcher)
{
    std::lock_guard lock(gFetcherMutex);
    AttachmentFetcher previous = std::move(fetcherSlot());
    fetcherSlot() = std::move(fetcher);
    return previous;
}

void IdeaDocument::fetchAttachment(const ObjectID& attachment, DataCompletion completion) const
{
    AttachmentFetcher fetcher;
    {
        std::lock_guard lock(gFetcherMutex);
        fetcher = fetcherSlot();
    }
    if (!fetcher) {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true))
            Log::warning(QStringLiteral(
                "IdeaDocument: no attachment fetcher is installed; attachments read as empty"));
        completion(QByteArray());
        return;
    }
    fetcher(attachment, mLocation, std::move(completion));
}

void IdeaDocument::fetchImageForIdea(const std::shared_ptr<Idea>& idea, ImageCompletion completion) const
{
    if (!idea) {
        completion(QVImage());
        return;
    }
    if (!idea->bigImageData().isEmpty()) {
        const QVImage big = idea->bigImage();
        if (big.hasImage()) {
            completion(big);
            return;
        }
    }
    const ObjectID attachment = idea->att();
    if (attachment.isNull()) {
        completion(QVImage());
        return;
    }
    fetchAttachment(attachment, [completion = std::move(completion)](const QByteArray& data) mutable {
        completion(data.isEmpty() ? QVImage() : QVImage::initWithPNGData(data));
    });
}

} // namespace corvex
