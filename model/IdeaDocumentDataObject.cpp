#include "model/IdeaDocumentDataObject.h"

#include "model/DataExtension.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/ModelCodables.h"
#include "model/OPMLParserInterface.h"
#include "model/UrlExtension.h"
#include "platform/core/Log.h"
#include "platform/core/OnceGuard.h"

#include <atomic>
#include <cmath>

namespace corvex {

const QString IdeaDocumentDataObject::ClassName = QStringLiteral("IdeaDocumentDataObject");
const QString IdeaDocumentDataObject::FileFormatVersionKey = QStringLiteral("fileFormatVersion");
const QString IdeaDocumentDataObject::IdeaKey = QStringLiteral("idea");
const QString IdeaDocumentDataObject::DateCreatedKey = QStringLiteral("dateCreated");
const QString IdeaDocumentDataObject::DateModifiedKey = QStringLiteral("dateModified");
const QString IdeaDocumentDataObject::AppInstanceKey = QStringLiteral("appInstance");

namespace {

QDateTime now()
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::floor(Globals::secondsSince1970() * 1000.0)), Qt::UTC);
}

// Unreadable documents are an ordinary outcome (damaged or foreign files); one line says why.
void logUnreadable(const QString& reason)
{
    Log::warning(QStringLiteral("IdeaDocumentDataObject: unreadable payload: ") + reason);
}

// A payload that cannot be written is a bug in the tree: logged and recorded as a
// non-fatal error, so that the save fails visibly instead of crashing or writing nothing.
Error reportWriteFailure(const Error& error)
{
    const QString text = QStringLiteral("IdeaDocumentDataObject: the payload cannot be written: ") +
                         error.localizedDescription();
    Log::error(text);
    Globals::raiseCorvexError(text);
    return error;
}

} // namespace

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::create()
{
    return std::make_shared<IdeaDocumentDataObject>();
}

void IdeaDocumentDataObject::registerCodables()
{
    static OnceGuard once;
    once.run([] {
        registerModelCodables();
        CodableRegistry::registerClass(ClassName,
                                       [](Coder& coder) -> CodablePtr { return initWithCoder(coder); });
    });
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromUnknownData(const QByteArray& data,
                                                                      const QUrl& urlHint)
{
    if (UrlExtension::potentiallyOPMLDocument(urlHint))
        return readFromOPML(data);
    return readFromSomeData(data);
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromSomeData(const QByteArray& data)
{
    if (data.size() < 2)
        return nullptr;
    // Only the default-level zlib header marks the compressed form.
    if (quint8(data[0]) == 0x78 && quint8(data[1]) == 0x9C)
        return readFromCorvexData(data);
    return readFromJSONData(data);
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromCorvexData(const QByteArray& data)
{
    auto inflated = DataExtension::zlibInflate(data);
    if (!inflated.ok()) {
        logUnreadable(inflated.error().toString());
        return nullptr;
    }
    return readFromJSONData(inflated.value());
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromJSONData(const QByteArray& data)
{
    registerCodables();
    JSONDecoder decoder(data);
    if (!decoder.isValid())
        return nullptr; // the decoder has logged the parse error
    decoder.addAlias(QStringLiteral("idea"), QStringLiteral("Idea"));
    decoder.addAlias(QStringLiteral("ideas"), QStringLiteral("Idea"));
    decoder.addAlias(QStringLiteral("iconImage"), QStringLiteral("IconImage"));
    const CodedValue decoded = decoder.decodeObject();
    if (decoder.failed()) {
        logUnreadable(decoder.error().toString());
        return nullptr;
    }
    auto payload = decoded.objectAs<IdeaDocumentDataObject>();
    if (!payload) {
        logUnreadable(QStringLiteral("the root object is no document payload"));
        return nullptr;
    }
    if (payload->mFileFormatVersion < OldestReadableVersion ||
        payload->mFileFormatVersion > CurrentFileFormatVersion) {
        logUnreadable(QStringLiteral("file format version %1").arg(payload->mFileFormatVersion));
        return nullptr;
    }
    if (!payload->mIdea) {
        logUnreadable(QStringLiteral("no root idea"));
        return nullptr;
    }
    return payload;
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromOPML(const QByteArray& data)
{
    auto parser = OPMLParserInterface::make();
    if (!parser) {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true))
            Log::warning(QStringLiteral(
                "IdeaDocumentDataObject: no OPML parser is installed; OPML files are not read"));
        return nullptr;
    }
    IdeaPtr root;
    try {
        root = parser->parseIdeaFromOPMLData(data);
    } catch (const std::exception& exception) {
        logUnreadable(QStringLiteral("the OPML parser failed: ") + QString::fromLocal8Bit(exception.what()));
        return nullptr;
    }
    if (!root)
        return nullptr;
    auto payload = create();
    payload->mIdea = std::move(root);
    payload->mDateCreated = now();
    payload->mDateModified = payload->mDateCreated;
    payload->mFileFormatVersion = 0;
    return payload;
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::payloadForWriting(const std::shared_ptr<Idea>& root,
                                                                    const QDateTime& created,
                                                                    const QDateTime& modified)
{
    auto payload = create();
    payload->mFileFormatVersion = CurrentFileFormatVersion;
    payload->mIdea = root;
    payload->mDateModified = modified.isValid() ? modified : now();
    payload->mDateCreated = created.isValid() ? created : payload->mDateModified;
    return payload;
}

Result<QByteArray> IdeaDocumentDataObject::jsonData() const
{
    JSONEncoder encoder;
    if (!encoder.encodeObject(*this))
        return reportWriteFailure(encoder.error());
    auto bytes = encoder.data();
    if (!bytes)
        return reportWriteFailure(Error(JSONEncoder::ErrorDomain, JSONEncoder::EncodingFailed,
                                        QStringLiteral("The JSON text could not be written")));
    return std::move(*bytes);
}

Result<QByteArray> IdeaDocumentDataObject::corvexData() const
{
    auto json = jsonData();
    if (!json.ok())
        return json.error(); // already reported
    auto compressed = DataExtension::zlibDeflate(json.value());
    if (!compressed.ok())
        return reportWriteFailure(compressed.error());
    return std::move(compressed).value();
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::initWithCoder(Coder& coder)
{
    auto payload = create();
    payload->mFileFormatVersion = coder.decodeIntForKey(FileFormatVersionKey);
    payload->mIdea = coder.decodeObjectOfClass<Idea>(IdeaKey);
    payload->mDateCreated = coder.decodeDateForKey(DateCreatedKey).value_or(QDateTime());
    payload->mDateModified = coder.decodeDateForKey(DateModifiedKey).value_or(QDateTime());
    if (auto instance = coder.decodeStringForKey(AppInstanceKey))
        payload->mAppInstance = *instance;
    return payload;
}

QString IdeaDocumentDataObject::className() const
{
    return ClassName;
}

void IdeaDocumentDataObject::encodeWithCoder(Coder& coder) const
{
    coder.encodeInt(mFileFormatVersion, FileFormatVersionKey);
    coder.encodeObject(mIdea, IdeaKey);
    coder.encodeDate(mDateCreated, DateCreatedKey);
    coder.encodeDate(mDateModified, DateModifiedKey);
    coder.encodeString(Globals::appInstance(), AppInstanceKey);
}

} // namespace corvex
