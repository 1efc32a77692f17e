// The document archive reader (ArchiveImport, behind ExportImport::importDocument) on
// arbitrary bytes: chunk lengths, truncation, attachment names, the payload. An input with
// the magic runs the archive chain with a handler that replies at once; one without it is
// read as an older bare payload, as the importer does. Whatever is accepted must be a tree
// with fresh identifiers, every attachment handed over must carry an acceptable name, and
// the chain must finish exactly once, inside the call.

#include "formats/ArchiveImport.h"
#include "formats/ExportImport.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Log.h"
#include "storage/AttachmentNames.h"
#include "storage/DocumentImporter.h"

#include <QBuffer>
#include <QSet>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

using corvex::IdeaDocumentDataObjectPtr;
using corvex::IdeaPtr;

[[noreturn]] void fail(const char* what, const QString& detail = QString())
{
    std::fprintf(stderr, "fuzz_archive: %s %s\n", what, detail.left(400).toUtf8().constData());
    std::abort();
}

void checkTree(const IdeaDocumentDataObjectPtr& payload)
{
    if (!payload->idea())
        fail("a payload without a tree was accepted");
    QSet<QString> identifiers;
    qint64 visited = 0;
    payload->idea()->traverseNaturally(
        [&](const IdeaPtr& idea, qint64) {
            ++visited;
            if (idea->identifier().isEmpty())
                fail("an imported idea without an identifier");
            identifiers.insert(idea->identifier());
            (void)idea->text();
            (void)idea->linkedIdea();
        },
        0);
    if (identifiers.size() != visited)
        fail("imported identifiers are not unique");
    if (visited != payload->idea()->calculateWholeTreeSize())
        fail("the walk and the size disagree");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    corvex::Log::setSink([](corvex::LogLevel, const QString&) {});
    corvex::IdeaDocumentDataObject::registerCodables();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!corvex::ExportImport::hasArchiveMagic(input.left(corvex::ExportImport::Magic.size()))) {
        const auto payload = corvex::ArchiveImport::withFreshIdentifiers(
            corvex::IdeaDocumentDataObject::readFromCorvexData(input));
        if (payload)
            checkTree(payload);
        return 0;
    }

    auto stream = std::make_shared<QBuffer>();
    stream->setData(input.mid(corvex::ExportImport::Magic.size()));
    if (!stream->open(QIODevice::ReadOnly))
        fail("cannot open the buffer");
    std::atomic<int> handed{0};
    std::atomic<int> finishes{0};
    IdeaDocumentDataObjectPtr result;
    corvex::ArchiveImport::run(
        stream,
        [&](const corvex::ObjectID& attachment, const QByteArray& bytes,
            corvex::DocumentImporter::AttachmentStored stored) {
            ++handed;
            if (!corvex::AttachmentNames::isAcceptable(attachment))
                fail("an unacceptable attachment name reached the handler:", attachment.asString());
            if (bytes.size() > qsizetype(size))
                fail("an attachment larger than the input");
            // Now and then the store refuses, so that the failure path runs too.
            stored(!(bytes.size() % 7 == 3));
        },
        [&](const corvex::DocumentImporter::Read& payloadRead) {
            const corvex::IdeaDocumentDataObjectPtr payload =
                corvex::DocumentImporter::payloadOf(payloadRead);
            result = payload;
            ++finishes;
        });
    // A stored attachment's answer goes on with the next pair on a global queue, later.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (finishes.load() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    if (finishes.load() != 1)
        fail("the chain did not finish exactly once");
    if (stream->isOpen())
        fail("the stream was left open");
    if (result)
        checkTree(result);
    return 0;
}
