#include "model/IdeaDocumentDataObject.h"

#include "model/Globals.h"
#include "model/Idea.h"
#include "model/InflatingSource.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/ModelCodables.h"
#include "model/OPMLParserInterface.h"
#include "model/UrlExtension.h"
#include "platform/core/Log.h"
#include "platform/core/OnceGuard.h"
#include "platform/core/ParallelDeflate.h"
#include "platform/core/Zlib.h"

#include <atomic>
#include <cerrno>
#include <cmath>

namespace corvex {

const QString IdeaDocumentDataObject::ClassName = QStringLiteral("IdeaDocumentDataObject");
const QString IdeaDocumentDataObject::ErrorDomain = QStringLiteral("com.tallowfen.corvex.payload");
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

JSONDecoder::TextOptions payloadDecodingOptions()
{
    IdeaDocumentDataObject::registerCodables();
    JSONDecoder::TextOptions options;
    options.aliases = {{QStringLiteral("idea"), QStringLiteral("Idea")},
                       {QStringLiteral("ideas"), QStringLiteral("Idea")},
                       {QStringLiteral("iconImage"), QStringLiteral("IconImage")}};
    // One broken character must not cost the whole document.
    options.replaceLoneSurrogates = true;
    return options;
}

// The payload the decoder read, or why there is none.
Result<IdeaDocumentDataObjectPtr> payloadOfDecoder(JSONDecoder& decoder)
{
    if (!decoder.isValid())
        return decoder.error(); // the decoder has logged the parse error
    const CodedValue decoded = decoder.decodeObject();
    if (decoder.failed())
        return decoder.error();
    auto payload = decoded.objectAs<IdeaDocumentDataObject>();
    if (!payload)
        return Error(IdeaDocumentDataObject::ErrorDomain, IdeaDocumentDataObject::NoPayload,
                     QStringLiteral("The root object is no document payload"));
    if (payload->fileFormatVersion() < IdeaDocumentDataObject::OldestReadableVersion ||
        payload->fileFormatVersion() > IdeaDocumentDataObject::CurrentFileFormatVersion)
        return Error(IdeaDocumentDataObject::ErrorDomain, IdeaDocumentDataObject::UnreadableVersion,
                     QStringLiteral("The document has file format version %1; versions %2 to %3 are read")
                         .arg(payload->fileFormatVersion())
                         .arg(IdeaDocumentDataObject::OldestReadableVersion)
                         .arg(IdeaDocumentDataObject::CurrentFileFormatVersion));
    if (!payload->idea())
        return Error(IdeaDocumentDataObject::ErrorDomain, IdeaDocumentDataObject::NoRootIdea,
                     QStringLiteral("The document has no root idea"));
    return payload;
}

// The payload, or nullptr with the reason logged.
IdeaDocumentDataObjectPtr payloadOrLogged(const Result<IdeaDocumentDataObjectPtr>& read)
{
    if (read.ok())
        return read.value();
    const Error& error = read.error();
    // Too few bytes and an OPML text without an outline are no damage; a parse error has its
    // own line already; the OPML parser's absence is logged once where it is found.
    const bool quiet =
        (error.domain() == IdeaDocumentDataObject::ErrorDomain &&
         (error.code() == IdeaDocumentDataObject::TooShort ||
          error.code() == IdeaDocumentDataObject::NoOutline)) ||
        (error.domain() == JSONDecoder::ErrorDomain && error.code() == JSONDecoder::ParseFailed);
    if (!quiet)
        Log::warning(QStringLiteral("IdeaDocumentDataObject: unreadable payload: ") + error.toString());
    return nullptr;
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
                                       [](Decoder& coder) -> CodablePtr { return initWithCoder(coder); });
    });
}

Result<IdeaDocumentDataObjectPtr> IdeaDocumentDataObject::decodeUnknownData(const QByteArray& data,
                                                                            const QUrl& urlHint)
{
    if (UrlExtension::potentiallyOPMLDocument(urlHint))
        return decodeOPML(data);
    return decodeSomeData(data);
}

Result<IdeaDocumentDataObjectPtr> IdeaDocumentDataObject::decodeSomeData(const QByteArray& data)
{
    if (data.size() < 2)
        return Error(ErrorDomain, TooShort, QStringLiteral("Fewer than two bytes are no document"));
    // Only the default-level zlib header marks the compressed form.
    if (quint8(data[0]) == 0x78 && quint8(data[1]) == 0x9C)
        return decodeCorvexData(data);
    return decodeJSONData(data);
}

Result<IdeaDocumentDataObjectPtr> IdeaDocumentDataObject::decodeCorvexData(const QByteArray& data)
{
    // Measured before anything is decoded: a stream beyond the bound, or broken anywhere, is
    // refused having cost one pass of inflating and no memory. Decoding after a failure of
    // the stream could only fail too, and less clearly.
    const Result<qint64> size = InflatingSource::measure(data, MaxPayloadBytes);
    if (!size.ok())
        return size.error();
    InflatingSource source(data, MaxPayloadBytes);
    JSONDecoder decoder(source, payloadDecodingOptions());
    if (!source.error().isNull())
        return source.error();
    return payloadOfDecoder(decoder);
}

Result<IdeaDocumentDataObjectPtr> IdeaDocumentDataObject::decodeJSONData(const QByteArray& data)
{
    if (data.size() > MaxPayloadBytes)
        return Error(ErrorDomain, TooLarge,
                     QStringLiteral("The document's text of %1 bytes is larger than the limit of %2 bytes")
                         .arg(data.size())
                         .arg(MaxPayloadBytes));
    JSONDecoder decoder(data, payloadDecodingOptions());
    return payloadOfDecoder(decoder);
}

Result<IdeaDocumentDataObjectPtr> IdeaDocumentDataObject::decodeOPML(const QByteArray& data)
{
    auto parser = OPMLParserInterface::make();
    if (!parser) {
        static std::atomic<bool> logged{false};
        if (!logged.exchange(true))
            Log::warning(QStringLiteral(
                "IdeaDocumentDataObject: no OPML parser is installed; OPML files are not read"));
        return Error(ErrorDomain, NoOutline, QStringLiteral("No OPML parser is installed"));
    }
    IdeaPtr root;
    try {
        root = parser->parseIdeaFromOPMLData(data);
    } catch (const std::exception& exception) {
        return Error(ErrorDomain, OPMLFailed,
                     QStringLiteral("The OPML parser failed: ") + QString::fromLocal8Bit(exception.what()));
    }
    if (!root)
        return Error(ErrorDomain, NoOutline, QStringLiteral("The OPML text holds no outline"));
    auto payload = create();
    payload->mIdea = std::move(root);
    payload->mDateCreated = now();
    payload->mDateModified = payload->mDateCreated;
    payload->mFileFormatVersion = 0;
    return payload;
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromUnknownData(const QByteArray& data,
                                                                      const QUrl& urlHint)
{
    return payloadOrLogged(decodeUnknownData(data, urlHint));
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromSomeData(const QByteArray& data)
{
    return payloadOrLogged(decodeSomeData(data));
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromCorvexData(const QByteArray& data)
{
    return payloadOrLogged(decodeCorvexData(data));
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromJSONData(const QByteArray& data)
{
    return payloadOrLogged(decodeJSONData(data));
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::readFromOPML(const QByteArray& data)
{
    return payloadOrLogged(decodeOPML(data));
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

namespace {

// A guess at a document's JSON text: the members an idea writes with short texts, and its
// picture as Base64. Asking for the pictures' bytes costs nothing
// extra: the save writes them anyway, and a picture encodes at most once.
qsizetype expectedJsonSize(const IdeaPtr& root)
{
    if (!root)
        return 0;
    qsizetype bytes = 256;
    root->traverseNaturally(
        [&bytes](const IdeaPtr& idea, qint64) {
            bytes += 320;
            const QVImage picture = idea->image();
            if (picture.hasImage())
                bytes += picture.pngData().size() / 3 * 4 + 8;
        },
        0);
    return bytes;
}

} // namespace

Result<QByteArray> IdeaDocumentDataObject::jsonData() const
{
    JSONEncoder encoder;
    encoder.setExpectedSize(expectedJsonSize(mIdea));
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
    auto compressed = storedForm(json.value(), false);
    if (!compressed.ok())
        return reportWriteFailure(compressed.error());
    return std::move(compressed).value();
}

Result<QByteArray> IdeaDocumentDataObject::storedForm(const QByteArray& json, bool plainJSON)
{
    if (json.isEmpty())
        return Error::posix(EINVAL, QStringLiteral("The document has nothing to save"));
    if (plainJSON)
        return json;
    // A save's longest step after the encoding: spread over the cores.
    return ParallelDeflate::compress(json);
}

IdeaDocumentDataObjectPtr IdeaDocumentDataObject::initWithCoder(Decoder& coder)
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

void IdeaDocumentDataObject::encodeWithCoder(Encoder& coder) const
{
    coder.encodeInt(mFileFormatVersion, FileFormatVersionKey);
    coder.encodeObject(mIdea, IdeaKey);
    coder.encodeDate(mDateCreated, DateCreatedKey);
    coder.encodeDate(mDateModified, DateModifiedKey);
    coder.encodeString(Globals::appInstance(), AppInstanceKey);
}

} // namespace corvex
