#include "model/IdeaDocumentDataObject.h"

#include "model/Globals.h"
#include "model/Idea.h"
#include "model/InflatedTextSource.h"
#include "model/InflatingSource.h"
#include "model/JSONDecoder.h"
#include "model/JSONEncoder.h"
#include "model/ModelCodables.h"
#include "model/OPMLParserInterface.h"
#include "model/PayloadTextReader.h"
#include "model/PayloadTextWriter.h"
#include "model/UrlExtension.h"
#include "platform/core/Log.h"
#include "platform/core/OnceGuard.h"
#include "platform/core/ParallelDeflate.h"
#include "platform/core/Zlib.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <vector>

namespace corvex {

const QString IdeaDocumentDataObject::ClassName = QStringLiteral("IdeaDocumentDataObject");
const QString IdeaDocumentDataObject::ErrorDomain = QStringLiteral("com.tallowfen.corvex.payload");
const QString IdeaDocumentDataObject::FileFormatVersionKey = QStringLiteral("fileFormatVersion");
const QString IdeaDocumentDataObject::IdeaKey = QStringLiteral("idea");
const QString IdeaDocumentDataObject::DateCreatedKey = QStringLiteral("dateCreated");
const QString IdeaDocumentDataObject::DateModifiedKey = QStringLiteral("dateModified");
const QString IdeaDocumentDataObject::AppInstanceKey = QStringLiteral("appInstance");

namespace {

std::atomic<qint64> boundOfIdeas{IdeaDocumentDataObject::MaxIdeas};
std::atomic<qint64> boundOfChildren{IdeaDocumentDataObject::MaxChildren};

// Why a tree the decoder or the OPML parser made passes a bound the text reader keeps as it
// reads (more children than allowed below one idea, a note too long); None when none. Their
// trees are looked at only once made.
PayloadTextReader::Refusal boundPassedBy(const Idea& root, qint64 children)
{
    std::vector<const Idea*> pending{&root};
    while (!pending.empty()) {
        const Idea* idea = pending.back();
        pending.pop_back();
        if (qint64(idea->ideas().size()) > children)
            return PayloadTextReader::Refusal::TooManyChildren;
        if (idea->note().size() > IdeaDocumentDataObject::MaxNoteLength)
            return PayloadTextReader::Refusal::NoteTooLong;
        for (const IdeaPtr& child : idea->ideas())
            pending.push_back(child.get());
    }
    return PayloadTextReader::Refusal::None;
}

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

// A payload read, when it is one that may be opened.
Result<IdeaDocumentDataObjectPtr> checkedPayload(const IdeaDocumentDataObjectPtr& payload)
{
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

// The payload the decoder read, or why there is none.
Result<IdeaDocumentDataObjectPtr> payloadOfDecoder(JSONDecoder& decoder)
{
    // More objects of a class than ideas allowed: the reading stopped there, valid or not.
    const auto answered = [&decoder]() -> Error {
        if (decoder.error().code() == JSONDecoder::TooManyObjects)
            return IdeaDocumentDataObject::tooManyIdeas(false);
        return decoder.error();
    };
    if (!decoder.isValid())
        return answered(); // the decoder has logged a parse error
    const CodedValue decoded = decoder.decodeObject();
    if (decoder.failed())
        return answered();
    auto payload = checkedPayload(decoded.objectAs<IdeaDocumentDataObject>());
    if (!payload.ok())
        return payload;
    if (const auto refusal =
            boundPassedBy(*payload.value()->idea(), IdeaDocumentDataObject::ideaBounds().children);
        refusal != PayloadTextReader::Refusal::None)
        return IdeaDocumentDataObject::refused(int(refusal));
    return payload;
}

// The payload of a text in pieces: read straight from the text when PayloadTextReader takes
// it, else by JSONDecoder from the start again. A failure of the source is the answer.
template <class Source>
Result<IdeaDocumentDataObjectPtr> decodeSource(Source& source, IdeaDocumentDataObject::Parts parts)
{
    const JSONDecoder::TextOptions options = IdeaDocumentDataObject::textDecodingOptions();
    PayloadTextReader::Refusal refusal = PayloadTextReader::Refusal::None;
    if (auto payload = PayloadTextReader::read(source, options.readOptions(), parts, &refusal);
        payload && source.error().isNull())
        return checkedPayload(payload);
    if (refusal != PayloadTextReader::Refusal::None)
        return IdeaDocumentDataObject::refused(int(refusal));
    if (!source.rewind())
        return source.error();
    JSONDecoder decoder(source, options);
    if (!source.error().isNull())
        return source.error();
    return payloadOfDecoder(decoder);
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

IdeaDocumentDataObject::IdeaBounds IdeaDocumentDataObject::ideaBounds()
{
    return IdeaBounds{boundOfIdeas.load(), boundOfChildren.load()};
}

void IdeaDocumentDataObject::setIdeaBoundsForTesting(std::optional<IdeaBounds> bounds)
{
    const IdeaBounds set = bounds.value_or(IdeaBounds());
    boundOfIdeas.store(set.ideas);
    boundOfChildren.store(set.children);
}

Error IdeaDocumentDataObject::refused(int refusal)
{
    switch (PayloadTextReader::Refusal(refusal)) {
    case PayloadTextReader::Refusal::NoteTooLong:
        return Error(ErrorDomain, NoteTooLong,
                     QStringLiteral("An idea's note is longer than %1 characters").arg(MaxNoteLength));
    case PayloadTextReader::Refusal::TooManyChildren:
        return tooManyIdeas(true);
    case PayloadTextReader::Refusal::TooManyIdeas:
    case PayloadTextReader::Refusal::None:
        break;
    }
    return tooManyIdeas(false);
}

Error IdeaDocumentDataObject::tooManyIdeas(bool children)
{
    const IdeaBounds bounds = ideaBounds();
    const qint64 bound = children ? bounds.children : bounds.ideas;
    return Error(ErrorDomain, TooManyIdeas,
                 children ? QStringLiteral("An idea has more than %1 children").arg(bound)
                          : QStringLiteral("The document has more than %1 ideas").arg(bound),
                 {{TooManyIdeasBoundKey, bound}, {TooManyIdeasChildrenKey, children}});
}

JSONDecoder::TextOptions IdeaDocumentDataObject::textDecodingOptions()
{
    registerCodables();
    JSONDecoder::TextOptions options;
    // No class makes more objects than the document may hold ideas (an idea has at most one
    // icon): the decoder stops at the first one past.
    options.maxObjectsOfAClass = ideaBounds().ideas;
    options.aliases = {{QStringLiteral("idea"), QStringLiteral("Idea")},
                       {QStringLiteral("ideas"), QStringLiteral("Idea")},
                       {QStringLiteral("iconImage"), QStringLiteral("IconImage")}};
    // One broken character must not cost the whole document.
    options.replaceLoneSurrogates = true;
    return options;
}

Result<IdeaDocumentDataObjectPtr> IdeaDocumentDataObject::decodeUnknownData(const QByteArray& data,
                                                                            const QUrl& urlHint)
{
    if (UrlExtension::potentiallyOPMLDocument(urlHint))
        return decodeOPML(data);
    return decodeSomeData(data);
}

Result<IdeaDocumentDataObjectPtr> IdeaDocumentDataObject::decodeSomeData(const QByteArray& data, Parts parts)
{
    if (data.size() < 2)
        return Error(ErrorDomain, TooShort, QStringLiteral("Fewer than two bytes are no document"));
    // Only the default-level zlib header marks the compressed form.
    if (quint8(data[0]) == 0x78 && quint8(data[1]) == 0x9C)
        return decodeCorvexData(data, parts);
    return decodeJSONData(data, parts);
}

Result<IdeaDocumentDataObjectPtr> IdeaDocumentDataObject::decodeCorvexData(const QByteArray& data,
                                                                           Parts parts)
{
    // The whole stream is inflated and checked before anything is decoded, in one fast pass
    // when its text is at most WholeTextRatio times its size. A stream that inflates further
    // (only a bomb or a text of endless repeats does) is measured piece by piece instead, so
    // that one beyond the bound is refused having cost no memory, and then decoded while it
    // inflates a second time. Decoding after a failure of the stream could only fail too, and
    // less clearly.
    const qint64 wholeBound = std::min(MaxPayloadBytes, qint64(data.size()) * WholeTextRatio);
    Result<QByteArray> text = Zlib::inflate(data, wholeBound);
    if (text.ok()) {
        InflatedTextSource source(std::move(text).value(), data, wholeBound);
        return decodeSource(source, parts);
    }
    const Error& error = text.error();
    if (wholeBound == MaxPayloadBytes || error.domain() != Zlib::ErrorDomain ||
        error.code() != Zlib::LimitExceeded)
        return error;
    const Result<qint64> size = InflatingSource::measure(data, MaxPayloadBytes);
    if (!size.ok())
        return size.error();
    InflatingSource source(data, MaxPayloadBytes);
    return decodeSource(source, parts);
}

Result<IdeaDocumentDataObjectPtr> IdeaDocumentDataObject::decodeJSONData(const QByteArray& data, Parts parts)
{
    if (data.size() > MaxPayloadBytes)
        return Error(ErrorDomain, TooLarge,
                     QStringLiteral("The document's text of %1 bytes is larger than the limit of %2 bytes")
                         .arg(data.size())
                         .arg(MaxPayloadBytes));
    const JSONDecoder::TextOptions options = IdeaDocumentDataObject::textDecodingOptions();
    PayloadTextReader::Refusal refusal = PayloadTextReader::Refusal::None;
    if (auto payload = PayloadTextReader::read(data, options.readOptions(), parts, &refusal))
        return checkedPayload(payload);
    if (refusal != PayloadTextReader::Refusal::None)
        return refused(int(refusal));
    JSONDecoder decoder(data, options);
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
    QString problem;
    try {
        root = parser->parseIdeaFromOPMLData(data);
        problem = parser->lastProblem();
    } catch (const std::exception& exception) {
        return Error(ErrorDomain, OPMLFailed,
                     QStringLiteral("The OPML parser failed: ") + QString::fromLocal8Bit(exception.what()));
    }
    if (const auto bound = parser->passedBound(); bound != OPMLParserInterface::PassedBound::None)
        return tooManyIdeas(bound == OPMLParserInterface::PassedBound::Children);
    if (root && boundPassedBy(*root, ideaBounds().children) == PayloadTextReader::Refusal::NoteTooLong)
        return refused(int(PayloadTextReader::Refusal::NoteTooLong));
    if (!root)
        return Error(ErrorDomain, NoOutline, QStringLiteral("The OPML text holds no outline"),
                     problem.isEmpty() ? QVariantMap() : QVariantMap{{Error::FailureReasonKey, problem}});
    auto payload = create();
    payload->mIncompleteReading = problem;
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
    if (std::optional<QByteArray> text = PayloadTextWriter::write(*this))
        return std::move(*text);
    // What the writer declines, the coder refuses with its reason.
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
    // Once the whole tree is there, one pass finds every link's target.
    if (payload->mIdea)
        payload->mIdea->resolveLinks();
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
