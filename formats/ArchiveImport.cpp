#include "formats/ArchiveImport.h"

#include "formats/ExportImport.h"
#include "formats/StepLoop.h"
#include "model/Idea.h"
#include "platform/core/Log.h"
#include "storage/AttachmentNames.h"

#include <QIODevice>

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
    auto copy = payload->idea()->deepCopyWithNewIdentifiersNoExternalLinks();
    if (!copy)
        return nullptr;
    payload->setIdea(copy);
    return payload;
}

void ArchiveImport::run(std::shared_ptr<QIODevice> stream, DocumentImporter::AttachmentHandler handler,
                        Finish finish)
{
    const auto deliver = [stream, finish = std::move(finish)](const IdeaDocumentDataObjectPtr& payload) {
        stream->close();
        if (finish)
            finish(payload);
    };

    bool noMore = false;
    const auto payloadChunk = ExportImport::readDataChunk(*stream, noMore);
    if (!payloadChunk) {
        Log::assertionFailure(QStringLiteral("ExportImport: the archive has no readable payload chunk"));
        deliver(nullptr);
        return;
    }
    auto payload = withFreshIdentifiers(IdeaDocumentDataObject::readFromCorvexData(*payloadChunk));
    if (!payload) {
        Log::assertionFailure(QStringLiteral("ExportImport: the payload of the archive does not decode"));
        deliver(nullptr);
        return;
    }

    StepLoop::run(
        [stream, handler = std::move(handler)](const StepLoop::Resume& resume) -> std::optional<bool> {
            bool end = false;
            const auto identifier = ExportImport::readDataChunk(*stream, end);
            if (!identifier) {
                if (!end)
                    Log::warning(QStringLiteral("ExportImport: damaged attachment identifier chunk"));
                return end; // the normal end of the file, or damage
            }
            bool missing = false;
            auto data = ExportImport::readDataChunk(*stream, missing);
            if (!data) {
                Log::warning(QStringLiteral("ExportImport: an attachment identifier without its data"));
                return false;
            }
            const ObjectID attachment = attachmentFromChunk(*identifier);
            if (attachment.isNull()) {
                Log::warning(QStringLiteral("ExportImport: refused the attachment name \"%1\"")
                                 .arg(AttachmentNames::printable(QString::fromUtf8(identifier->left(300)))));
                return false;
            }
            if (!handler) {
                Log::warning(
                    QStringLiteral("ExportImport: an archive with attachments needs an attachment handler"));
                return false;
            }
            handler(attachment, *data, [resume](bool ok) { resume(ok); });
            return std::nullopt;
        },
        [payload = std::move(payload), deliver](bool ok) { deliver(ok ? payload : nullptr); });
}

} // namespace corvex
