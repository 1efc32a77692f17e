#include "storage/IndexDocument.h"

#include "model/Globals.h"
#include "model/UrlExtension.h"
#include "platform/core/FileCoordinator.h"
#include "platform/core/KeyedArchiver.h"
#include "platform/core/KeyedUnarchiver.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/WholeFileReader.h"
#include "storage/IdeaDocument.h"

#include <QSet>

namespace corvex {

namespace {

// The assertion lines these operations have always logged.
constexpr int IndexDocumentPlainInitAssertionLine = 113;
constexpr int IndexDocumentProxyWithoutIdentifierAssertionLine = 253;
constexpr int ChangeNoticeOffMainAssertionLine = 49;

} // namespace

const QString IndexDocument::ClassName = QStringLiteral("IndexDocument");
const QString IndexDocument::FileFormatVersionKey = QStringLiteral("fileFormatVersion");
const QString IndexDocument::AppInstanceKey = QStringLiteral("appInstance");
const QString IndexDocument::ProxyListKey = QStringLiteral("proxyList");
const QString IndexDocument::ChangedNotification = QStringLiteral("IndexDocumentChangedNotification");
const QString IndexDocument::ErrorDomain = QStringLiteral("document");

QString IndexDocument::standardFileName()
{
    return QStringLiteral("corvex.index");
}

bool IndexDocument::fileNamingSchemeMatches(const QString& fileName)
{
    return fileName == standardFileName();
}

IndexDocument::IndexDocument(Private, QUrl url)
    : mFileURL(std::move(url)),
      mPresentedItemOperationQueue(std::make_unique<SerialQueue>("com.tallowfen.corvex.indexdocument"))
{}

std::shared_ptr<IndexDocument> IndexDocument::initWithFileURL(const QUrl& url)
{
    auto document = std::make_shared<IndexDocument>(Private(), url);
    if (!UrlExtension::localPath(url).isEmpty())
        FileCoordinator::addFilePresenter(document);
    return document;
}

std::shared_ptr<IndexDocument> IndexDocument::init()
{
    Log::assertionFailure(IndexDocumentPlainInitAssertionLine, "-[IndexDocument init]");
    return std::make_shared<IndexDocument>(Private(), QUrl());
}

IndexDocument::~IndexDocument()
{
    FileCoordinator::removeFilePresenter(this);
}

// ---- Writing

void IndexDocument::saveBinaryToURL(const QUrl& url, BoolCompletion completion)
{
    doSaveToURL(url, std::move(completion));
}

void IndexDocument::doSaveToURL(const QUrl& url, BoolCompletion completion)
{
    const QString path = UrlExtension::localPath(url);
    bool ok = false;
    if (path.isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IndexDocument:doSaveToURL"));
    } else {
        // The archive is made before the file is touched: a list that cannot be archived
        // leaves the old file as it was.
        const Result<QByteArray> contents = contentsAsBinaryData();
        if (!contents.ok()) {
            Log::error(
                QStringLiteral("The index %1 cannot be archived: %2").arg(path, contents.error().toString()));
        } else {
            Error error;
            Status written;
            const bool coordinated = FileCoordinator(this).coordinateWriting(
                path, FileCoordinator::WritingForReplacing,
                [&](const QString& coordinatedPath) {
                    written = SaveFile::writeAtomically(coordinatedPath, contents.value());
                },
                &error);
            ok = coordinated && written.ok();
            if (!coordinated)
                Log::error(QStringLiteral("The index %1 cannot be written: %2").arg(path, error.toString()));
            else if (!written.ok())
                Log::error(QStringLiteral("The index %1 cannot be written: %2")
                               .arg(path, written.error().toString()));
        }
    }
    if (completion)
        completion(ok);
}

Result<QByteArray> IndexDocument::contentsAsBinaryData() const
{
    IdeaProxy::registerCodable();
    KeyedArchiver archiver;
    encodeWithCoder(archiver);
    return archiver.encodedData();
}

Result<QByteArray> IndexDocument::contentsForType(const QString&) const
{
    return contentsAsBinaryData();
}

QString IndexDocument::className() const
{
    return ClassName;
}

void IndexDocument::encodeWithCoder(Encoder& coder) const
{
    coder.encodeInt(CurrentFileFormatVersion, FileFormatVersionKey);
    coder.encodeString(Globals::appInstance(), AppInstanceKey);
    coder.encodeObjectList(mIdeaProxyList, ProxyListKey);
}

// ---- Reading

void IndexDocument::readBinaryWithCompletionHandler(BoolCompletion completion)
{
    readBinaryWithCompletionHandler(std::move(completion), false);
}

void IndexDocument::readBinaryWithCompletionHandler(BoolCompletion completion, bool onlyIfChanged)
{
    const QString path = UrlExtension::localPath(mFileURL);
    if (path.isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IndexDocument:readBinaryWithCompletionHandler"));
        if (completion)
            completion(false);
        return;
    }
    bool read = false;
    QByteArray data;
    Error error;
    const bool coordinated = FileCoordinator(this).coordinateReading(
        path, FileCoordinator::ReadingWithoutChanges,
        [&](const QString& coordinatedPath) {
            auto contents = WholeFileReader::read(coordinatedPath, MaxFileSize);
            read = contents.ok();
            if (read)
                data = std::move(contents).value();
        },
        &error);
    bool ok = false;
    if (!coordinated)
        Log::error(QStringLiteral("The index %1 cannot be read: %2").arg(path, error.toString()));
    else if (read)
        ok = loadFromContents(data, nullptr, onlyIfChanged);
    if (completion)
        completion(ok);
}

bool IndexDocument::loadFromContents(const QByteArray& data, Error* error, bool onlyIfChanged)
{
    IdeaProxy::registerCodable();
    KeyedUnarchiver unarchiver(data);
    if (!unarchiver.isValid()) {
        if (error)
            *error = unarchiver.error();
        return false;
    }
    return decodeFromBinary(unarchiver, error, onlyIfChanged);
}

bool IndexDocument::decodeFromBinary(KeyedUnarchiver& unarchiver, Error* error, bool onlyIfChanged)
{
    const qint64 version = unarchiver.decodeInt64ForKey(FileFormatVersionKey);
    if (version < CurrentFileFormatVersion || version > CurrentFileFormatVersion) {
        if (error)
            *error = Error(ErrorDomain, version < CurrentFileFormatVersion ? VersionTooOldErrorCode
                                                                           : VersionTooNewErrorCode);
        return false;
    }
    if (onlyIfChanged && unarchiver.containsValueForKey(AppInstanceKey) &&
        unarchiver.decodeStringForKey(AppInstanceKey) == Globals::appInstance())
        return false; // this instance wrote the file: the list in memory is as new
    std::vector<IdeaProxyPtr> list;
    // A document has one summary. A list naming one many times (one archived object referred
    // to by every entry costs a byte an entry) would cost every reader of the list, and the
    // home screen, work for each entry: the first one stands.
    QSet<QString> listed;
    int repeated = 0;
    for (IdeaProxyPtr& proxy : unarchiver.decodeArrayOfClass<IdeaProxy>(ProxyListKey)) {
        if (proxy->docIdentifier().isEmpty()) {
            Log::assertionFailure(IndexDocumentProxyWithoutIdentifierAssertionLine,
                                  "-[IndexDocument decodeFromBinary:error:onlyIfChanged:]");
            continue;
        }
        proxy->changeLocation(IdeaDocument::ICloudLocation);
        if (listed.contains(proxy->docIdentifier())) {
            ++repeated;
            continue;
        }
        listed.insert(proxy->docIdentifier());
        list.push_back(std::move(proxy));
    }
    if (repeated > 0)
        Log::warning(QStringLiteral("IndexDocument: %1 summaries of documents already listed were left out")
                         .arg(repeated));
    if (unarchiver.failed()) {
        if (error)
            *error = unarchiver.error();
        return false;
    }
    mIdeaProxyList = std::move(list);
    return true;
}

// ---- Presenting the file

QString IndexDocument::presentedItemPath() const
{
    return UrlExtension::localPath(mFileURL);
}

SerialQueue* IndexDocument::presentedItemQueue()
{
    return mPresentedItemOperationQueue.get();
}

void IndexDocument::relinquishPresentedItemToWriter(RelinquishBlock block)
{
    mFileIsBlocked = true;
    std::weak_ptr<IndexDocument> weakSelf = weak_from_this();
    block([weakSelf] {
        if (const auto self = weakSelf.lock())
            self->mFileIsBlocked = false;
    });
}

void IndexDocument::presentedItemDidChange()
{
    std::weak_ptr<IndexDocument> weakSelf = weak_from_this();
    MainQueue::post([weakSelf] {
        const auto self = weakSelf.lock();
        if (!self)
            return;
        self->readBinaryWithCompletionHandler(
            [weakSelf](bool ok) {
                if (const auto document = weakSelf.lock())
                    document->changeReadFinished(ok);
            },
            true);
    });
}

void IndexDocument::changeReadFinished(bool ok)
{
    if (!MainQueue::isMainThread()) {
        Log::assertionFailure(ChangeNoticeOffMainAssertionLine, "-[IndexDocument presentedItemDidChange]");
        std::weak_ptr<IndexDocument> weakSelf = weak_from_this();
        MainQueue::post([weakSelf, ok] {
            if (const auto self = weakSelf.lock())
                self->changeReadFinished(ok);
        });
        return;
    }
    if (ok)
        NotificationCenter::defaultCenter().post(ChangedNotification, this);
}

} // namespace corvex
