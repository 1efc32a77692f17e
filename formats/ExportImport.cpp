#include "formats/ExportImport.h"

#include "formats/ArchiveImport.h"
#include "formats/ExportProblems.h"
#include "formats/ImportProblems.h"
#include "formats/StepLoop.h"
#include "model/Idea.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/QuitHold.h"
#include "platform/core/RegularFile.h"
#include "platform/core/SaveFile.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/WholeFileReader.h"
#include "storage/AttachmentNames.h"
#include "storage/FileUtil.h"
#include "storage/IdeaDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <deque>
#include <limits>
#include <mutex>

namespace corvex {

const QByteArray ExportImport::Magic = QByteArray::fromHex("9c787801");

namespace {

QString localPath(const QUrl& url)
{
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

// Every payload reaches its caller through the main queue, failures found at once too, so
// that no caller is ever re-entered from inside its own call. (The importer's completion is
// moved, never copied: it is answered once.)
void deliverPayload(ExportImport::PayloadCompletion completion, DocumentImporter::Read read)
{
    MainQueue::post([completion = std::move(completion), read = std::move(read)]() mutable {
        if (completion)
            completion(read);
    });
}

// `hold`, the quit held while the file was written, goes once the caller has heard: it is
// let go by a task posted after the answer, so a quit that waited for the write begins after
// the caller has taken it in.
void deliverStatus(ExportImport::WriteCompletion completion, const Status& written,
                   std::shared_ptr<QuitHold> hold = {})
{
    completion(written);
    if (hold)
        MainQueue::post([hold = std::move(hold)]() mutable { hold.reset(); });
}

// writeDataChunk, with the reason of a chunk too large for its length field in `failure`.
bool writeChunk(const QByteArray& data, SaveFile& file, Error& failure)
{
    if (data.size() > ExportImport::MaxChunkLength)
        failure = ExportProblems::make(
            ExportProblems::TooLarge, file.path(),
            QStringLiteral("%1 bytes are more than one piece of the file may hold.").arg(data.size()));
    return ExportImport::writeDataChunk(data, file);
}

// An exported file, touched only on the writing queue.
struct ExportFile
{
    explicit ExportFile(const QString& path) : file(path, SaveFile::Kind::UserFile) {}

    bool chunk(const QByteArray& data) { return writeChunk(data, file, failure); }

    SaveFile file;
    Error failure; // why, when a step knows better than "the file could not be written"
    bool ok = true;
};

// The user's files are written here, one at a time and off the main thread, so that the
// windows, and a quit, are answered while a large document goes to a slow disk. Never
// destroyed: a write a quit stopped waiting for may still be under way as the process ends.
SerialQueue& fileWrites()
{
    static SerialQueue* const queue = new SerialQueue("corvex.export.write");
    return *queue;
}

// A whole document file read by `decode`, its tree given fresh identifiers; the reason in
// the words of ImportProblems when it cannot be read, is larger than the bound or does not
// decode.
DocumentImporter::Read
readWholeDocument(const QString& path,
                  const std::function<Result<IdeaDocumentDataObjectPtr>(const QByteArray&)>& decode)
{
    const auto data = WholeFileReader::read(path, ExportImport::MaxWholeFileSize);
    if (!data.ok())
        return ImportProblems::fromReaderError(data.error());
    const auto decoded = decode(data.value());
    if (!decoded.ok()) {
        Log::warning(
            QStringLiteral("ExportImport: cannot import %1: %2").arg(path, decoded.error().toString()));
        return ImportProblems::fromReaderError(decoded.error());
    }
    if (auto payload = ArchiveImport::withFreshIdentifiers(decoded.value()))
        return payload;
    return ImportProblems::make(ImportProblems::Damaged, QStringLiteral("The document's data is damaged."));
}

std::mutex& gateMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::function<void()>& readingGate()
{
    static std::function<void()> gate;
    return gate;
}

void passReadingGate()
{
    std::function<void()> gate;
    {
        std::lock_guard lock(gateMutex());
        gate = readingGate();
    }
    if (gate)
        gate();
}

} // namespace

bool ExportImport::hasArchiveMagic(const QByteArray& firstBytes)
{
    return firstBytes.size() == Magic.size() && firstBytes == Magic;
}

bool ExportImport::isArchiveFileName(const QString& fileName)
{
    return fileName.endsWith(QLatin1Char('.') + FileExtension, Qt::CaseInsensitive) &&
           fileName.size() > FileExtension.size() + 1;
}

std::optional<QByteArray> ExportImport::readDataChunk(QIODevice& stream, bool& noMore)
{
    noMore = false;
    char lengthBytes[4];
    const qint64 got = stream.read(lengthBytes, 4);
    if (got == 0) {
        noMore = true;
        return std::nullopt;
    }
    if (got != 4)
        return std::nullopt;
    const qint64 length = qFromBigEndian<quint32>(lengthBytes);
    if (!stream.isSequential()) {
        // A damaged or crafted length never makes us allocate more than the file holds.
        const qint64 remaining = stream.size() - stream.pos();
        if (length > remaining)
            return std::nullopt;
    }
    QByteArray data;
    if (length == 0)
        return QByteArray(""); // empty data, not "no data"
    if (!stream.isSequential())
        data.resize(length);
    qint64 done = 0;
    char piece[ReadPieceSize];
    while (done < length) {
        const qint64 want = std::min<qint64>(length - done, ReadPieceSize);
        if (stream.isSequential()) {
            if (stream.read(piece, want) != want)
                return std::nullopt;
            data.append(piece, want);
        } else if (stream.read(data.data() + done, want) != want) {
            return std::nullopt;
        }
        done += want;
    }
    return data;
}

bool ExportImport::writeDataChunk(const QByteArray& data, SaveFile& handle)
{
    if (data.size() > MaxChunkLength) {
        Log::warning(QStringLiteral("ExportImport: %1 bytes do not fit one chunk").arg(data.size()));
        return false;
    }
    char lengthBytes[4];
    qToBigEndian<quint32>(quint32(data.size()), lengthBytes);
    if (handle.write(lengthBytes, 4) != 4)
        return false;
    return data.isEmpty() || handle.write(data) == data.size();
}

void ExportImport::exportDocument(const std::shared_ptr<IdeaDocument>& document, const QUrl& url,
                                  WriteCompletion completion)
{
    const QString path = localPath(url);
    if (!document || !document->idea() || path.isEmpty()) {
        Log::warning(QStringLiteral("ExportImport: nothing to export, or no file to export to"));
        deliverStatus(std::move(completion),
                      path.isEmpty() ? ExportProblems::notALocalFile(url)
                                     : ExportProblems::make(ExportProblems::NothingToExport, path,
                                                            QStringLiteral("the document has no ideas.")));
        return;
    }
    const auto payload = document->exportAsCorvexData();
    if (!payload.ok()) {
        Log::warning(QStringLiteral("ExportImport: the payload cannot be written: %1")
                         .arg(payload.error().toString()));
        deliverStatus(std::move(completion),
                      ExportProblems::make(ExportProblems::NotMade, path,
                                           payload.error().localizedDescription(), payload.error()));
        return;
    }
    const QSet<ObjectID> attachmentSet = document->idea()->attachments();
    auto pending = std::make_shared<std::deque<ObjectID>>(attachmentSet.begin(), attachmentSet.end());
    std::sort(pending->begin(), pending->end(),
              [](const ObjectID& a, const ObjectID& b) { return a.asString() < b.asString(); });

    // The old file is replaced only at the commit: a failure anywhere leaves it as it was.
    // The attachments are fetched over several turns of the loop and the file is written
    // meanwhile on the writing queue; a quit in between would cut the write off: it waits.
    auto hold = std::make_shared<QuitHold>(QStringLiteral("writing ") + path);
    auto file = std::make_shared<ExportFile>(path);
    fileWrites().async([file, payload = payload.value()] {
        if (!file->file.open()) {
            Log::warning(QStringLiteral("ExportImport: cannot open %1 for writing: %2")
                             .arg(file->file.path(), file->file.errorString()));
            file->ok = false;
            return;
        }
        file->ok = file->file.write(Magic) == Magic.size() && file->chunk(payload);
    });
    // Why the chain stopped on the main thread (an attachment missing).
    auto missing = std::make_shared<Error>();
    StepLoop::run(
        [document, file, path, pending, missing](const StepLoop::Resume& resume) -> std::optional<bool> {
            if (pending->empty())
                return true;
            const ObjectID attachment = pending->front();
            pending->pop_front();
            document->fetchAttachment(attachment, [file, path, resume, attachment,
                                                   missing](const QByteArray& data) {
                auto next = [file, path, resume, attachment, data, missing] {
                    if (data.isNull()) {
                        const QString name = AttachmentNames::printable(attachment.asString());
                        Log::warning(QStringLiteral("ExportImport: the attachment %1 is missing").arg(name));
                        *missing =
                            ExportProblems::make(ExportProblems::MissingAttachment, path,
                                                 QStringLiteral("the attachment %1 is missing.").arg(name));
                        resume(false);
                        return;
                    }
                    // One attachment at a time: a slow disk holds up the fetches rather than
                    // gathering every attachment in memory.
                    fileWrites().async([file, resume, attachment, data] {
                        const bool written =
                            file->ok && file->chunk(attachment.asString().toUtf8()) && file->chunk(data);
                        file->ok = written;
                        MainQueue::post([resume, written] { resume(written); });
                    });
                };
                // The next step asks the document again, which is the main thread's.
                if (MainQueue::isMainThread())
                    next();
                else
                    MainQueue::post(std::move(next));
            });
            return std::nullopt;
        },
        [file, completion = std::make_shared<WriteCompletion>(std::move(completion)), missing,
         hold](bool ok) {
            fileWrites().async([file, completion, missing = *missing, hold, ok]() mutable {
                const QString& path = file->file.path();
                if (ok && file->ok && file->file.commit()) {
                    deliverStatus(std::move(*completion), Status::success(), std::move(hold));
                    return;
                }
                // The file's own failure comes first: it stopped the chain before any
                // attachment it could not find.
                Error failure = missing;
                if (!file->ok || missing.isNull()) {
                    Log::warning(QStringLiteral("ExportImport: cannot %1 %2: %3")
                                     .arg(ok && file->ok ? QStringLiteral("save") : QStringLiteral("write"),
                                          path, file->file.errorString()));
                    failure = file->failure.isNull() ? ExportProblems::notWritten(path, file->file.error())
                                                     : file->failure;
                }
                file->file.cancelWriting();
                deliverStatus(std::move(*completion), failure, std::move(hold));
            });
        });
}

void ExportImport::exportDocument(const std::shared_ptr<IdeaDocument>& document, UrlCompletion completion)
{
    const QUrl folder = FileUtil::temporaryDirectoryForFile();
    if (folder.isEmpty() || !document) {
        completion(QUrl());
        return;
    }
    QString name = document->idea() ? document->idea()->exportFileNameForType(QStringLiteral("corvex"))
                                    : QStringLiteral("document.corvex");
    if (!AttachmentNames::isSafeFileName(name))
        name = QStringLiteral("document.corvex");
    const QUrl url = QUrl::fromLocalFile(QDir(folder.toLocalFile()).filePath(name));
    exportDocument(document, url, [completion = std::move(completion), url](const Status& written) mutable {
        completion(written ? url : QUrl());
    });
}

void ExportImport::importDocument(const QUrl& url, AttachmentHandler attachmentHandler,
                                  PayloadCompletion completion)
{
    const QString path = localPath(url);
    if (path.isEmpty()) {
        Log::assertionFailure(QStringLiteral("ExportImport: no file to import"));
        deliverPayload(std::move(completion),
                       ImportProblems::make(ImportProblems::Unreadable,
                                            QStringLiteral("It is not a file on this computer.")));
        return;
    }
    // Every format is read on a global queue: a large file never holds up the windows, and a
    // quit does not wait for it.
    GlobalQueue::async([path, name = url.fileName().toLower(),
                        attachmentHandler = std::move(attachmentHandler),
                        completion = std::move(completion)]() mutable {
        passReadingGate();
        // A save of the document killed half-way may have left its named temporary beside it
        // (beside the file a symbolic link leads to: saves replace that one).
        if (const QFileInfo file(QFileInfo(path).canonicalFilePath()); !file.filePath().isEmpty())
            SaveFile::removeStaleTemporaries(file.path(), file.fileName());
        if (name.endsWith(QLatin1String(".opml")) || name.endsWith(QLatin1String(".xml")))
            deliverPayload(std::move(completion),
                           readWholeDocument(path, &IdeaDocumentDataObject::decodeOPML));
        else
            importArchiveOrOlderDocument(path, std::move(attachmentHandler), std::move(completion));
    });
}

void ExportImport::importArchiveOrOlderDocument(const QString& path, AttachmentHandler attachmentHandler,
                                                PayloadCompletion completion)
{
    // Opened only as a regular file: a named pipe would hold this worker for good.
    Result<RegularFile> file =
        RegularFile::open(path, std::numeric_limits<qint64>::max(), QStringLiteral("Cannot open"),
                          QStringLiteral("Cannot read"));
    auto stream = std::make_shared<QFile>();
    if (!file.ok() ||
        !stream->open(file.value().descriptor(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        const Error error = file.ok() ? Error::posix(EIO, QStringLiteral("Cannot read"), path) : file.error();
        Log::warning(QStringLiteral("ExportImport: cannot open %1: %2").arg(path, error.toString()));
        deliverPayload(std::move(completion), ImportProblems::fromReaderError(error));
        return;
    }
    // The stream closes the descriptor from now on.
    (void)file.value().release();
    const QByteArray head = stream->read(Magic.size());
    if (head.size() < Magic.size()) {
        Log::warning(QStringLiteral("ExportImport: %1 is too short to be a document").arg(path));
        stream->close();
        deliverPayload(std::move(completion),
                       ImportProblems::make(ImportProblems::NotADocument,
                                            QStringLiteral("The file is too short to be a document.")));
        return;
    }
    if (!hasArchiveMagic(head)) {
        stream->close();
        deliverPayload(std::move(completion), readLegacyCorvexDocument(path));
        return;
    }
    ArchiveImport::run(stream, std::move(attachmentHandler),
                       [completion = std::move(completion)](const DocumentImporter::Read& read) mutable {
                           deliverPayload(std::move(completion), read);
                       });
}

DocumentImporter::Read ExportImport::readLegacyCorvexDocument(const QString& path)
{
    return readWholeDocument(path, [](const QByteArray& data) -> Result<IdeaDocumentDataObjectPtr> {
        // An older document is one zlib stream; anything else is no document of ours (an
        // outline is read by its name).
        if (data.size() < 2 || quint8(data[0]) != 0x78)
            return ImportProblems::make(
                ImportProblems::NotADocument,
                QStringLiteral("The file is neither a Corvex document nor an OPML outline "
                               "(whose names end in .opml)."));
        return IdeaDocumentDataObject::decodeCorvexData(data);
    });
}

void ExportImport::setReadingGate(std::function<void()> gate)
{
    std::lock_guard lock(gateMutex());
    readingGate() = std::move(gate);
}

} // namespace corvex
