#include "storage/IndexJSONDocument.h"

#include "model/Globals.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/UrlExtension.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/WholeFileReader.h"
#include "storage/IdeaDocument.h"
#include "storage/IndexDocument.h"
#include "storage/StorageQueues.h"

namespace corvex {

namespace {

// The assertion lines these operations have always logged.
constexpr int IndexJSONPlainInitAssertionLine = 26;
constexpr int IndexJSONProxyWithoutIdentifierAssertionLine = 151;

} // namespace

const QString IndexJSONDocument::ClassName = QStringLiteral("IndexJSONDocument");
const QString IndexJSONDocument::FileFormatVersionKey = QStringLiteral("fileFormatVersion");
const QString IndexJSONDocument::AppInstanceKey = QStringLiteral("appInstance");
const QString IndexJSONDocument::ProxiesKey = QStringLiteral("proxies");
const QString IndexJSONDocument::IconImageKey = QStringLiteral("iconImage");

IndexJSONDocument::IndexJSONDocument(Private, QUrl url) : mFileURL(std::move(url)) {}

std::shared_ptr<IndexJSONDocument> IndexJSONDocument::initWithFileURL(const QUrl& url)
{
    return std::make_shared<IndexJSONDocument>(Private(), url);
}

std::shared_ptr<IndexJSONDocument> IndexJSONDocument::init()
{
    Log::assertionFailure(IndexJSONPlainInitAssertionLine, "-[IndexJSONDocument init]");
    return std::make_shared<IndexJSONDocument>(Private(), QUrl());
}

// ---- Writing

void IndexJSONDocument::saveJSONToURL(const QUrl& url, BoolCompletion completion)
{
    writeToLocalFileAt(url, std::move(completion));
}

void IndexJSONDocument::writeToLocalFileAt(const QUrl& url, BoolCompletion completion)
{
    const QString path = UrlExtension::localPath(url);
    if (path.isEmpty()) {
        Globals::raiseCorvexURLError(QStringLiteral("IndexJSONDocument:writeToLocalFileAt"));
        completion(false);
        return;
    }
    // Made here, on the list's own thread: the proxies may change as soon as this returns.
    const Result<QByteArray> contents = contentsAsJSONData();
    if (!contents.ok()) {
        Log::error(
            QStringLiteral("The index %1 cannot be encoded: %2").arg(path, contents.error().toString()));
        completion(false);
        return;
    }
    StorageQueues::persistenceQueue().async([path, data = contents.value(),
                                             completion = std::move(completion)]() mutable {
        const Status written = SaveFile::writeAtomically(path, data);
        if (!written.ok())
            Log::error(
                QStringLiteral("The index %1 cannot be written: %2").arg(path, written.error().toString()));
        completion(written.ok());
    });
}

Result<QByteArray> IndexJSONDocument::contentsAsJSONData() const
{
    IdeaProxy::registerCodable();
    JSONEncoder encoder;
    if (!encoder.encodeTopObject(*this))
        return encoder.error();
    std::optional<QByteArray> data = encoder.data();
    if (!data)
        return encoder.failed() ? encoder.error()
                                : Error(JSONEncoder::ErrorDomain, JSONEncoder::NothingToEncode);
    return std::move(*data);
}

QString IndexJSONDocument::className() const
{
    return ClassName;
}

void IndexJSONDocument::encodeWithCoder(Encoder& coder) const
{
    coder.encodeInt(CurrentFileFormatVersion, FileFormatVersionKey);
    coder.encodeString(Globals::appInstance(), AppInstanceKey);
    coder.encodeObjectList(mIdeaProxyList, ProxiesKey);
}

// ---- Reading

void IndexJSONDocument::readJSONWithCompletionHandler(BoolCompletion completion)
{
    std::weak_ptr<IndexJSONDocument> weakSelf = weak_from_this();
    StorageQueues::persistenceQueue().async([weakSelf, url = mFileURL,
                                             completion = std::move(completion)]() mutable {
        const QString path = UrlExtension::localPath(url);
        if (path.isEmpty()) {
            Globals::raiseCorvexURLError(QStringLiteral("IndexJSONDocument:readJSONWithCompletionHandler"));
            completion(false);
            return;
        }
        const auto data = WholeFileReader::read(path, MaxFileSize);
        Error error;
        std::optional<std::vector<IdeaProxyPtr>> list;
        if (data.ok()) {
            const auto decoder = makeDecoder(data.value());
            list = decodeProxies(*decoder, &error);
            if (!list)
                Log::warning(QStringLiteral("The index %1 cannot be read: %2").arg(path, error.toString()));
        } else {
            error = data.error();
        }
        // The list is taken on the main thread, which owns it.
        MainQueue::post(
            [weakSelf, list = std::move(list), error, completion = std::move(completion)]() mutable {
                if (const auto self = weakSelf.lock()) {
                    self->mLastReadError = list ? Error() : error;
                    if (list)
                        self->mIdeaProxyList = std::move(*list);
                }
                if (completion)
                    completion(list.has_value());
            });
    });
}

std::unique_ptr<JSONDecoder> IndexJSONDocument::makeDecoder(const QByteArray& json)
{
    IdeaProxy::registerCodable();
    auto decoder = std::make_unique<JSONDecoder>(json);
    decoder->addAlias(ProxiesKey, IdeaProxy::ClassName);
    decoder->addAlias(IconImageKey, QStringLiteral("IconImage"));
    return decoder;
}

bool IndexJSONDocument::decodeFromJSON(JSONDecoder& decoder, Error* error)
{
    std::optional<std::vector<IdeaProxyPtr>> list = decodeProxies(decoder, error);
    if (!list)
        return false;
    mIdeaProxyList = std::move(*list);
    return true;
}

std::optional<std::vector<IdeaProxyPtr>> IndexJSONDocument::decodeProxies(JSONDecoder& decoder, Error* error)
{
    if (!decoder.isValid() || decoder.failed()) {
        if (error)
            *error = decoder.error();
        return std::nullopt;
    }
    const qint64 version = decoder.decodeInt64ForKey(FileFormatVersionKey);
    if (version < CurrentFileFormatVersion || version > CurrentFileFormatVersion) {
        if (error)
            *error = Error(IndexDocument::ErrorDomain, version < CurrentFileFormatVersion
                                                           ? IndexDocument::VersionTooOldErrorCode
                                                           : IndexDocument::VersionTooNewErrorCode);
        return std::nullopt;
    }
    std::vector<IdeaProxyPtr> list;
    for (IdeaProxyPtr& proxy : decoder.decodeArrayOfClass<IdeaProxy>(ProxiesKey)) {
        if (proxy->docIdentifier().isEmpty()) {
            Log::assertionFailure(IndexJSONProxyWithoutIdentifierAssertionLine,
                                  "-[IndexJSONDocument decodeFromJSON:error:]");
            continue;
        }
        proxy->changeLocation(IdeaDocument::DropboxLocation);
        list.push_back(std::move(proxy));
    }
    if (decoder.failed()) {
        if (error)
            *error = decoder.error();
        return std::nullopt;
    }
    return list;
}

} // namespace corvex
