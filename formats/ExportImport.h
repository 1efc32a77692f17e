#pragma once

#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Completion.h"
#include "platform/core/Result.h"
#include "storage/DocumentImporter.h"

#include <QByteArray>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;

namespace corvex {

class IdeaDocument;
class SaveFile;

// The document archive (".corvex"): the file in which a whole document leaves the program
// and comes back, and the one way in for any importable document file.
//
// Layout, all binary, no padding: the magic bytes 9C 78 78 01, then chunks back to back up
// to the end of the file. A chunk is a length N (unsigned 32-bit, big-endian) and N bytes.
// The first chunk is the document payload (IdeaDocument::exportAsCorvexData: zlib-compressed
// JSON); then, per attachment of the tree, one chunk with the attachment's identifier (the
// UTF-8 of ObjectID::asString) and one with its bytes as stored. No count, end marker or
// checksum: the file ends after the last attachment's bytes. A file whose first four bytes
// are not the magic is an older document: the bare compressed payload.
//
// Every completion is answered once, on its queue, also for failures found at once; the
// importer's on the main queue. Every
// importable file is read on a global queue, never on the caller's thread.
class ExportImport
{
public:
    ExportImport() = delete;

    // Success, or an ExportProblems error naming the file and why it was not written.
    using WriteCompletion = Completion<const Status&>;
    using UrlCompletion = Completion<const QUrl&>;
    using AttachmentHandler = DocumentImporter::AttachmentHandler;
    using PayloadCompletion = DocumentImporter::Completion;

    static const QByteArray Magic; // 9C 78 78 01
    // The largest chunk the 32-bit length can describe; larger data is refused, never cut.
    static constexpr qint64 MaxChunkLength = 0xFFFFFFFFLL;
    // Read size of chunk data: an archive is streamed chunk by chunk.
    static constexpr qint64 ReadPieceSize = 1024;
    // The largest OPML or older file read whole. An outline's texts take twice their bytes
    // once read, beside the file itself: with the bounds on ideas, an outline of this size
    // opens in under 3 GB (bench_wide_documents); a valid older file, whose payload text is
    // at most IdeaDocumentDataObject::MaxPayloadBytes, is far smaller compressed.
    static constexpr qint64 MaxWholeFileSize = qint64(256) << 20;

    // Writes the archive of the document's tree to the file at `url`, replacing it only when
    // everything was written and flushed (the old file stays on any failure). The document
    // gives the tree (idea()), the payload (exportAsCorvexData()) and the attachment bytes
    // (fetchAttachment(), in its storage location); attachments shared by several ideas are
    // written once, in ascending order of their identifiers so that the same document always
    // gives the same bytes. Fails (see WriteCompletion) when there is no tree or no local
    // file, the file cannot be written, an attachment is missing or a chunk would exceed
    // MaxChunkLength; such failures are logged as warnings. The file is written on a queue of
    // its own; from the call until the completion has run, a quit waits for the write
    // (QuitHold). Main thread (a fetch may complete on any thread; the next step moves back to
    // the main thread).
    static void exportDocument(const std::shared_ptr<IdeaDocument>& document, const QUrl& url,
                               WriteCompletion completion);
    // Exports into a new folder of FileUtil::temporaryDirectoryForFile() under the root
    // idea's export file name for "corvex"; the file's URL, or the empty URL on failure.
    static void exportDocument(const std::shared_ptr<IdeaDocument>& document, UrlCompletion completion);

    // Reads an importable document file: OPML when the file name ends in ".opml" or ".xml"
    // (any case; the content is not looked at), an archive when it begins with the magic,
    // else an older document. The payload's tree is replaced by a copy with fresh
    // identifiers (links leaving the tree dropped). Each attachment of an archive goes to
    // the handler (on the reader's thread), which must report through its continuation
    // (YES: go on, NO: abandon) from any thread; the next pair is read on a global queue. No
    // attachment goes to the handler before the whole archive was read and found sound: a
    // damaged or truncated archive, or one naming an attachment that is not acceptable
    // (AttachmentNames), fails with nothing stored. The completion (may be empty) gets the payload, or an
    // ImportProblems error saying why the file cannot be imported; when the handler itself
    // answers NO, what it stored before stays stored (attachments are named by their content
    // and may be shared). An outline read only in part is a payload whose
    // incompleteReading() says why. The file is opened only as a regular file (RegularFile),
    // and the named temporaries a killed save of it left beside it are removed first.
    static void importDocument(const QUrl& url, AttachmentHandler attachmentHandler,
                               PayloadCompletion completion);

    // ---- The chunk format (also for tests, the fuzz target and the benchmark)

    // Reads one chunk. At the end of the stream (no byte left) returns nothing with
    // `noMore` set; a partial length field, a length claiming more bytes than remain or a
    // short read returns nothing with `noMore` cleared.
    static std::optional<QByteArray> readDataChunk(QIODevice& stream, bool& noMore);
    // Writes the length and the data; false when the data is longer than MaxChunkLength or
    // a write fails.
    [[nodiscard]] static bool writeDataChunk(const QByteArray& data, SaveFile& handle);
    // The four bytes are the magic.
    static bool hasArchiveMagic(const QByteArray& firstBytes);
    // The archive's file name extension, "corvex", and whether a file name ends in it (any
    // case): the only files a document is saved into. A file of another format a document
    // was read from (OPML) is never written over with the archive.
    static inline const QString FileExtension = QStringLiteral("corvex");
    static bool isArchiveFileName(const QString& fileName);

    // Tests only: a block every import runs on the reader's thread before it reads the file
    // (a test holds the reader there); nullptr removes it. Any thread.
    static void setReadingGate(std::function<void()> gate);

private:
    // On the reader's thread: an archive (after the magic) or an older document.
    static void importArchiveOrOlderDocument(const QString& path, AttachmentHandler attachmentHandler,
                                             PayloadCompletion completion);
    static DocumentImporter::Read readLegacyCorvexDocument(const QString& path);
};

} // namespace corvex
