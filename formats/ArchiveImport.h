#pragma once

#include "model/IdeaDocumentDataObject.h"
#include "model/ObjectID.h"
#include "platform/core/UniqueFunction.h"
#include "storage/DocumentImporter.h"

#include <QByteArray>
#include <functional>
#include <memory>

class QIODevice;

namespace corvex {

// The reading half of the document archive (see ExportImport): the payload chunk and then
// the attachment pairs of an open stream that stands just after the magic bytes. The whole
// stream is read and checked (every chunk, every name) before the first attachment goes to
// the handler, so a damaged or hostile archive stores nothing; the pairs are then read
// again, one at a time; only those an idea of the payload names are handed over (the rest
// are checked, counted in one log line and left out). Runs on the calling thread until the handler hands its
// continuation on; each later pair is read on a global queue, never on the thread that stored the last.
// `finish` runs exactly once, where the chain ends (the caller decides where the payload is
// delivered), after the stream was closed.
class ArchiveImport
{
public:
    ArchiveImport() = delete;

    // A step of the import, run inline where the chain ends; it may carry the caller's completion.
    using Finish = UniqueFunction<void(const DocumentImporter::Read& read)>;

    // The longest payload chunk read: the compressed form of the longest payload text
    // (IdeaDocumentDataObject::MaxPayloadBytes) with zlib's most overhead, so that a chunk
    // claiming more is refused before it is read into memory.
    static constexpr qint64 MaxPayloadChunkLength =
        IdeaDocumentDataObject::MaxPayloadBytes + IdeaDocumentDataObject::MaxPayloadBytes / 1024 + 1024;
    // The largest attachment (a picture) read; each is read whole when it is stored.
    static constexpr qint64 MaxAttachmentLength = qint64(512) << 20;

    // The payload (its tree a copy with fresh identifiers) on success; an ImportProblems
    // error when the stream cannot be read twice (a pipe), the payload chunk is missing, too
    // long or does not decode, a pair is damaged, incomplete or too long, an identifier is not acceptable,
    // the handler is missing for an attachment, a continuation reports NO or the file changes between the two
    // readings. Only the last two can come after an attachment was handed over.
    static void run(std::shared_ptr<QIODevice> stream, DocumentImporter::AttachmentHandler handler,
                    Finish finish);

    // The attachment an identifier chunk names: valid UTF-8 that ObjectID::parseFromString
    // takes whole and AttachmentNames accepts; the null ObjectID for anything else.
    static ObjectID attachmentFromChunk(const QByteArray& chunk);

    // The payload with fresh identifiers throughout its tree and links that stay inside it
    // (every import does this): renewed in place when the tree has no link, else replaced by
    // a copy. The payload must be the decoder's own. nullptr for no payload or no tree.
    static IdeaDocumentDataObjectPtr withFreshIdentifiers(IdeaDocumentDataObjectPtr payload);
};

} // namespace corvex
