// Document files: a document of the document factory (10,000 and 100,000 ideas), with no
// attachments and with 20 pictures of 256 KiB, written as a document archive and read back.
// Writing covers the payload's JSON, its deflate, the chunks, the attachment fetches and the
// atomic save (sync and rename); reading covers the chunks, the inflate and decode, the copy
// with fresh identifiers and the hand-over of each attachment. Reported: archive_mb (the
// file's size) and MB/s of archive bytes (bytes_per_second), with peak_rss_mb. The payload
// alone (payload_only_*, no attachments) shows what the archive adds to any stored document.

#include "bench/BenchSupport.h"
#include "formats/ArchiveImport.h"
#include "formats/ExportImport.h"
#include "formats/OPMLParser.h"
#include "formats/OPMLWriter.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/MainQueue.h"
#include "storage/DocumentImporter.h"
#include "storage/IdeaDocument.h"
#include "tests/factory/DocumentFactory.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace {

using corvex::ExportImport;
using corvex::IdeaDocument;
using corvex::IdeaDocumentDataObject;
using corvex::IdeaPtr;
using corvex::ObjectID;

constexpr int PictureBytes = 256 * 1024;

using corvex::bench::peakResidentMegabytes;

using corvex::bench::folder;

// Runs the main loop until `done` holds.
void waitFor(const bool& done)
{
    corvex::bench::waitFor([&done] { return done; });
}

// The attachment store the writer fetches from, replying on the main queue as the storage
// layer does.
std::map<QString, QByteArray>& store()
{
    static std::map<QString, QByteArray> data;
    static const bool installed = [] {
        IdeaDocument::setAttachmentFetcher(
            [](const ObjectID& attachment, corvex::StorageLocation, IdeaDocument::DataCompletion completion) {
                const auto it = store().find(attachment.asString());
                const QByteArray bytes = it == store().end() ? QByteArray() : it->second;
                completion(bytes);
            });
        return true;
    }();
    (void)installed;
    return data;
}

// A factory document of `ideas` ideas whose first `pictures` ideas carry a picture
// attachment each.
std::shared_ptr<IdeaDocument> makeDocument(std::int64_t ideas, std::int64_t pictures)
{
    IdeaDocumentDataObject::registerCodables();
    auto payload = IdeaDocumentDataObject::readFromJSONData(
        corvex::test::makePayloadJson(corvex::test::makeDocumentTree(int(ideas))));
    if (!payload)
        return nullptr;
    std::int64_t index = 0;
    payload->idea()->traverseNaturally(
        [&](const IdeaPtr& idea, qint64) {
            if (index < pictures) {
                QByteArray bytes(PictureBytes, Qt::Uninitialized);
                for (int i = 0; i < bytes.size(); ++i)
                    bytes[i] = char((i * 131 + index * 7) ^ (i >> 9));
                const ObjectID attachment = ObjectID::createFromData(bytes, QStringLiteral("png"));
                idea->setAtt(attachment);
                store()[attachment.asString()] = bytes;
            }
            ++index;
        },
        0);
    auto document = IdeaDocument::initWithIdentifier(QStringLiteral("temp:/bench-export.crvx"));
    document->setIdea(payload->idea());
    return document;
}

bool writeArchive(const std::shared_ptr<IdeaDocument>& document, const QString& path)
{
    bool done = false;
    bool written = false;
    ExportImport::exportDocument(document, QUrl::fromLocalFile(path), [&](const corvex::Status& outcome) {
        written = outcome.ok();
        done = true;
    });
    waitFor(done);
    return written;
}

QString archiveFile(std::int64_t ideas, std::int64_t pictures)
{
    return folder().filePath(QStringLiteral("bench-%1-%2.corvex").arg(ideas).arg(pictures));
}

void archiveWrite(benchmark::State& state)
{
    const auto document = makeDocument(state.range(0), state.range(1));
    if (!document) {
        state.SkipWithError("the factory document did not decode");
        return;
    }
    const QString path = archiveFile(state.range(0), state.range(1));
    for (auto _ : state) {
        if (!writeArchive(document, path)) {
            state.SkipWithError("the export failed");
            break;
        }
    }
    const qint64 size = QFileInfo(path).size();
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["archive_mb"] = double(size) / 1e6;
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}

void archiveRead(benchmark::State& state)
{
    const QString path = archiveFile(state.range(0), state.range(1));
    {
        const auto document = makeDocument(state.range(0), state.range(1));
        if (!document || !writeArchive(document, path)) {
            state.SkipWithError("the archive could not be written");
            return;
        }
    }
    qint64 handedOver = 0;
    for (auto _ : state) {
        bool done = false;
        corvex::IdeaDocumentDataObjectPtr result;
        ExportImport::importDocument(
            QUrl::fromLocalFile(path),
            [&](const ObjectID&, const QByteArray& data, corvex::DocumentImporter::AttachmentStored stored) {
                handedOver += data.size();
                stored(true);
            },
            [&](const corvex::DocumentImporter::Read& payloadRead) {
                const corvex::IdeaDocumentDataObjectPtr payload =
                    corvex::DocumentImporter::payloadOf(payloadRead);
                result = payload;
                done = true;
            });
        waitFor(done);
        if (!result) {
            state.SkipWithError("the import failed");
            break;
        }
        state.PauseTiming();
        result.reset(); // the tree is freed outside the timed part
        state.ResumeTiming();
    }
    const qint64 size = QFileInfo(path).size();
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["archive_mb"] = double(size) / 1e6;
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}

// The payload alone, without chunks, files or attachments: what any stored document costs,
// so that the archive's own share shows.
void payloadWrite(benchmark::State& state)
{
    const auto document = makeDocument(state.range(0), 0);
    qint64 size = 0;
    for (auto _ : state) {
        const auto data = document->exportAsCorvexData();
        if (!data.ok()) {
            state.SkipWithError("the payload did not write");
            break;
        }
        size = data.value().size();
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["payload_mb"] = double(size) / 1e6;
}

void payloadRead(benchmark::State& state)
{
    const QByteArray data = makeDocument(state.range(0), 0)->exportAsCorvexData().value();
    for (auto _ : state) {
        auto payload =
            corvex::ArchiveImport::withFreshIdentifiers(IdeaDocumentDataObject::readFromCorvexData(data));
        if (!payload) {
            state.SkipWithError("the payload did not read");
            break;
        }
        state.PauseTiming();
        payload.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * data.size());
    state.counters["payload_mb"] = double(data.size()) / 1e6;
}

// OPML: the same factory documents written as OPML (the text built, encoded as UTF-8 and
// saved atomically) and read back from the file (titles and notes into a coloured tree).
// Reported: opml_mb (the file's size) and MB/s of OPML bytes.

QString opmlFile(std::int64_t ideas)
{
    return folder().filePath(QStringLiteral("bench-%1.opml").arg(ideas));
}

void opmlWrite(benchmark::State& state)
{
    const auto document = makeDocument(state.range(0), 0);
    if (!document) {
        state.SkipWithError("the factory document did not decode");
        return;
    }
    const QString path = opmlFile(state.range(0));
    for (auto _ : state) {
        const corvex::Status saved = corvex::OPMLWriter::saveToFile(document->idea(), path);
        if (!saved.ok()) {
            state.SkipWithError("the OPML export failed");
            break;
        }
    }
    const qint64 size = QFileInfo(path).size();
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["opml_mb"] = double(size) / 1e6;
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}

void opmlRead(benchmark::State& state)
{
    const QString path = opmlFile(state.range(0));
    {
        const auto document = makeDocument(state.range(0), 0);
        if (!document || !corvex::OPMLWriter::saveToFile(document->idea(), path).ok()) {
            state.SkipWithError("the OPML file could not be written");
            return;
        }
    }
    for (auto _ : state) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            state.SkipWithError("the OPML file did not open");
            break;
        }
        corvex::OPMLParser parser;
        IdeaPtr root = parser.parseIdeaFromOPMLData(file.readAll());
        if (!root || root->calculateWholeTreeSize() != state.range(0)) {
            state.SkipWithError("the OPML file did not read to the whole tree");
            break;
        }
        state.PauseTiming();
        root.reset(); // the tree is freed outside the timed part
        state.ResumeTiming();
    }
    const qint64 size = QFileInfo(path).size();
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["opml_mb"] = double(size) / 1e6;
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}

const corvex::bench::Registration opmlRegistration([] {
    using Function = void (*)(benchmark::State&);
    const std::pair<const char*, Function> benchmarks[] = {{"OPML/write", opmlWrite},
                                                           {"OPML/read", opmlRead}};
    for (const auto& [name, function] : benchmarks) {
        benchmark::RegisterBenchmark(name, function)
            ->ArgsProduct({corvex::bench::sizes({10000, 100000}, 100)})
            ->ArgNames({"ideas"})
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
});

const corvex::bench::Registration registration([] {
    const struct
    {
        const char* name;
        void (*function)(benchmark::State&);
    } benchmarks[] = {
        {"Archive/write", archiveWrite},
        {"Archive/read", archiveRead},
        {"Archive/payload_only_write", payloadWrite},
        {"Archive/payload_only_read", payloadRead},
    };
    for (const auto& entry : benchmarks) {
        auto* benchmark = benchmark::RegisterBenchmark(entry.name, entry.function);
        const bool withPictures = entry.function == archiveWrite || entry.function == archiveRead;
        for (const std::int64_t ideas : corvex::bench::sizes({10000, 100000}, 100)) {
            for (const std::int64_t pictures : {0, 20}) {
                if (pictures == 0 || withPictures)
                    benchmark->Args({ideas, corvex::bench::tiny() ? pictures / 10 : pictures});
            }
        }
        benchmark->ArgNames({"ideas", "pictures"})->Unit(benchmark::kMillisecond)->UseRealTime();
    }
});

} // namespace
