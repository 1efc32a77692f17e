#include "formats/ArchiveImport.h"

#include "formats/ExportImport.h"
#include "formats/ImportProblems.h"
#include "formats/StepLoop.h"
#include "model/Idea.h"
#include "platform/core/Completion.h"
#include "platform/core/Log.h"
#include "storage/AttachmentNames.h"

#include <QIODevice>
#include <QLocale>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <deque>
#include <optional>
#include <vector>

namespace corvex {

ObjectID ArchiveImport::attachmentFromChunk(const QByteArray& chunk)
{
    const QString text = QString::fromUtf8(chunk);
    // Invalid UTF-8 would come back with replacement characters: the round trip tells.
    if (text.toUtf8() != chunk || !AttachmentNames::isAcceptableAttachmentName(text))
        return ObjectID();
    // The parser keeps only the first two components; "<hex>.png.x" must not become
    // "<hex>.png" silently.
    const ObjectID attachment = ObjectID::parseFromString(text);
    if (attachment.isNull() || attachment.asString() != text)
        return ObjectID();
    return attachment;
}

IdeaDocumentDataObjectPtr ArchiveImport::withFreshIdentifiers(IdeaDocumentDataObjectPtr payload)
{
    if (!payload || !payload->idea())
        return nullptr;
    if (payload->idea()->renewIdentifiersUnlessLinked())
        return payload;
    auto copy = payload->idea()->deepCopyWithNewIdentifiersNoExternalLinks();
    if (!copy)
        return nullptr;
    payload->setIdea(copy);
    return payload;
}

namespace {

// One attachment pair found by the first reading: its name and where its bytes lie.
struct ArchivePair
{
    ObjectID attachment;
    qint64 offset = 0;
    qint64 length = 0;
};

Error cutOffAtAnAttachment()
{
    return ImportProblems::make(ImportProblems::CutOff,
                                QStringLiteral("The file ends in the middle of a picture it holds, as if it "
                                               "were cut off."));
}

Error picturesNotStored()
{
    return ImportProblems::make(ImportProblems::NotStored,
                                QStringLiteral("The file was read, but its pictures could not be stored."));
}

// Reads every pair after the payload to the end of the stream, data included, checking the
// chunks and the names; the pairs in file order, or why not (logged) when the archive is
// damaged or names an attachment that is not acceptable.
Result<std::vector<ArchivePair>> readPairs(QIODevice& stream)
{
    std::vector<ArchivePair> pairs;
    char piece[ExportImport::ReadPieceSize * 16];
    for (;;) {
        bool end = false;
        const auto identifier = ExportImport::readDataChunk(stream, end);
        if (!identifier) {
            if (end)
                return pairs;
            Log::warning(QStringLiteral("ExportImport: damaged attachment identifier chunk"));
            return cutOffAtAnAttachment();
        }
        const ObjectID attachment = ArchiveImport::attachmentFromChunk(*identifier);
        if (attachment.isNull()) {
            const QString name = AttachmentNames::printable(QString::fromUtf8(identifier->left(300)));
            Log::warning(QStringLiteral("ExportImport: refused the attachment name \"%1\"").arg(name));
            return ImportProblems::make(
                ImportProblems::UnsafeAttachmentName,
                QStringLiteral("The file names a picture it holds \u201c%1\u201d, which is "
                               "not a name Corvex stores files under.")
                    .arg(name.left(80)));
        }
        char lengthBytes[4];
        if (stream.read(lengthBytes, 4) != 4) {
            Log::warning(QStringLiteral("ExportImport: an attachment identifier without its data"));
            return cutOffAtAnAttachment();
        }
        ArchivePair pair{attachment, stream.pos(), qint64(qFromBigEndian<quint32>(lengthBytes))};
        if (pair.length > stream.size() - pair.offset) {
            Log::warning(QStringLiteral("ExportImport: the data of %1 claims more bytes than the file holds")
                             .arg(attachment.asString()));
            return cutOffAtAnAttachment();
        }
        if (pair.length > ArchiveImport::MaxAttachmentLength) {
            Log::warning(QStringLiteral("ExportImport: the attachment %1 has %2 bytes")
                             .arg(attachment.asString())
                             .arg(pair.length));
            return ImportProblems::make(
                ImportProblems::TooLarge,
                QStringLiteral("The file holds a picture larger than %1, more than Corvex opens.")
                    .arg(QLocale(QLocale::English)
                             .formattedDataSize(ArchiveImport::MaxAttachmentLength, 0,
                                                QLocale::DataSizeIecFormat)));
        }
        // Read, not skipped: a file that cannot be read to its end fails here, before any
        // attachment was stored.
        for (qint64 left = pair.length; left > 0;) {
            const qint64 got = stream.read(piece, std::min<qint64>(left, qint64(sizeof piece)));
            if (got <= 0) {
                Log::warning(QStringLiteral("ExportImport: the data of %1 cannot be read: %2")
                                 .arg(attachment.asString(), stream.errorString()));
                return ImportProblems::make(ImportProblems::Unreadable,
                                            QStringLiteral("The file cannot be read to its end."));
            }
            left -= got;
        }
        pairs.push_back(pair);
    }
}

} // namespace

void ArchiveImport::run(std::shared_ptr<QIODevice> stream, DocumentImporter::AttachmentHandler handler,
                        Finish finish)
{
    // Every road of the chain may end it; the one answer is shared between them.
    const auto deliver =
        [stream, finish = std::make_shared<Finish>(std::move(finish))](const DocumentImporter::Read& read) {
            stream->close();
            (*finish)(read);
        };

    if (stream->isSequential()) {
        Log::assertionFailure(
            QStringLiteral("ExportImport: an archive is read from a file, never from a pipe"));
        deliver(ImportProblems::make(ImportProblems::Unreadable,
                                     QStringLiteral("It is not a file Corvex can read (a pipe).")));
        return;
    }
    // A payload longer than any the readers take is refused before it is read.
    // (A claim beyond the end of the file is a cut-off file, as readDataChunk finds.)
    if (const QByteArray length = stream->peek(4);
        length.size() == 4 && qFromBigEndian<quint32>(length.constData()) > MaxPayloadChunkLength &&
        qFromBigEndian<quint32>(length.constData()) <= stream->size() - stream->pos() - 4) {
        Log::warning(QStringLiteral("ExportImport: the payload chunk of the archive has %1 bytes")
                         .arg(qFromBigEndian<quint32>(length.constData())));
        deliver(ImportProblems::fromReaderError(Error(IdeaDocumentDataObject::ErrorDomain,
                                                      IdeaDocumentDataObject::TooLarge,
                                                      QStringLiteral("The payload chunk is too long"))));
        return;
    }
    bool noMore = false;
    const auto payloadChunk = ExportImport::readDataChunk(*stream, noMore);
    if (!payloadChunk) {
        Log::warning(QStringLiteral("ExportImport: the archive has no readable payload chunk"));
        deliver(ImportProblems::make(ImportProblems::CutOff,
                                     QStringLiteral("The file ends before its document does, as if it were "
                                                    "cut off.")));
        return;
    }
    const auto decoded = IdeaDocumentDataObject::decodeCorvexData(*payloadChunk);
    auto payload = decoded.ok() ? withFreshIdentifiers(decoded.value()) : nullptr;
    if (!payload) {
        Log::warning(QStringLiteral("ExportImport: the payload of the archive does not decode: %1")
                         .arg(decoded.error().toString()));
        deliver(ImportProblems::fromReaderError(decoded.ok() ? Error() : decoded.error()));
        return;
    }

    // The whole archive is read and checked before the handler sees its first attachment:
    // a damaged or hostile file leaves nothing stored behind.
    auto pairs = readPairs(*stream);
    if (!pairs) {
        deliver(pairs.error());
        return;
    }
    // Only what the tree names is stored: pictures nobody uses would fill the disk for nothing.
    const QSet<ObjectID> named = payload->idea()->attachments();
    std::deque<ArchivePair> used;
    qint64 unusedCount = 0;
    qint64 unusedBytes = 0;
    for (const ArchivePair& pair : pairs.value()) {
        if (named.contains(pair.attachment)) {
            used.push_back(pair);
        } else {
            ++unusedCount;
            unusedBytes += pair.length;
        }
    }
    if (unusedCount > 0)
        Log::info(QStringLiteral("ExportImport: left out %1 attachments that no idea names (%2 bytes)")
                      .arg(unusedCount)
                      .arg(unusedBytes));
    if (!used.empty() && !handler) {
        Log::warning(QStringLiteral("ExportImport: an archive with attachments needs an attachment handler"));
        deliver(picturesNotStored());
        return;
    }

    auto pending = std::make_shared<std::deque<ArchivePair>>(std::move(used));
    auto changed = std::make_shared<bool>(false);
    StepLoop::run(
        [stream, pending, changed,
         handler = std::move(handler)](const StepLoop::Resume& resume) -> std::optional<bool> {
            if (pending->empty())
                return true;
            const ArchivePair pair = pending->front();
            pending->pop_front();
            // Read again at the place the first reading found; a file changed in between
            // ends the import.
            QByteArray data;
            data.resize(pair.length);
            if (!stream->seek(pair.offset) ||
                (pair.length > 0 && stream->read(data.data(), pair.length) != pair.length)) {
                Log::warning(QStringLiteral("ExportImport: the data of %1 changed while it was imported")
                                 .arg(pair.attachment.asString()));
                *changed = true;
                return false;
            }
            if (data.isNull())
                data = QByteArray(""); // empty data, not "no data"
            // The next pair, which may be hundreds of megabytes, is read on a global queue,
            // never on the thread of whoever stored this one.
            handler(pair.attachment, data,
                    DocumentImporter::AttachmentStored(CompletionQueue::global(),
                                                       [resume](bool ok) { resume(ok); }));
            return std::nullopt;
        },
        [payload = std::move(payload), deliver, changed](bool ok) {
            if (ok)
                deliver(payload);
            else if (*changed)
                deliver(ImportProblems::make(ImportProblems::Changed,
                                             QStringLiteral("The file changed while it was being opened.")));
            else
                deliver(picturesNotStored());
        });
}

} // namespace corvex
