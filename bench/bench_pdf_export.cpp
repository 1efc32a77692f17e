// The PDF with note pages of the document factory's 10,000-idea tree (2,000 notes): the
// main thread's share (the copy of the tree, taken when the exporter is made; goal under
// 50 ms) and the whole export to its completion on the main queue. Reported: pages of the
// written file and the process's peak resident set.

#include "bench/BenchSupport.h"
#include "model/IdeaDocumentDataObject.h"
#include "overview/MindMapToPDF.h"
#include "tests/factory/DocumentFactory.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <map>

namespace {

using corvex::IdeaPtr;

IdeaPtr pdfFactoryTree(std::int64_t ideas)
{
    static std::map<std::int64_t, IdeaPtr> trees;
    IdeaPtr& tree = trees[ideas];
    if (!tree)
        tree = corvex::IdeaDocumentDataObject::readFromJSONData(
                   corvex::test::makePayloadJson(corvex::test::makeDocumentTree(int(ideas))))
                   ->idea();
    return tree;
}

qint64 pdfPageCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    const QString text = QString::fromLatin1(file.readAll());
    qint64 count = 0;
    for (auto it = page.globalMatch(text); it.hasNext(); it.next())
        ++count;
    return count;
}

void copyOnMainThread(benchmark::State& state)
{
    const IdeaPtr tree = pdfFactoryTree(state.range(0));
    for (auto _ : state) {
        corvex::MindMapToPDF exporter(tree, QDateTime());
        benchmark::DoNotOptimize(exporter);
    }
}

void wholeExport(benchmark::State& state)
{
    const IdeaPtr tree = pdfFactoryTree(state.range(0));
    const QString path = corvex::bench::folder().filePath(QStringLiteral("map.pdf"));
    double mainThread = 0;
    for (auto _ : state) {
        bool done = false;
        corvex::Status written;
        const auto start = std::chrono::steady_clock::now();
        corvex::MindMapToPDF exporter(tree, QDateTime());
        exporter.setShowNotes(true);
        exporter.writePDFIntoURL(QUrl::fromLocalFile(path), [&](const corvex::Status& result) {
            written = result;
            done = true;
        });
        mainThread += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        corvex::bench::waitFor([&] { return done; });
        if (!written)
            state.SkipWithError(written.error().localizedDescription().toStdString().c_str());
    }
    state.counters["main_thread_ms"] =
        state.iterations() > 0 ? 1000 * mainThread / double(state.iterations()) : 0;
    state.counters["pages"] = double(pdfPageCount(path));
    state.counters["peak_mb"] = corvex::bench::peakResidentMegabytes();
}

const corvex::bench::Registration registration([] {
    const std::int64_t ideas = corvex::bench::sizes({10000}, 100).front();
    benchmark::RegisterBenchmark("PdfExport/copy_on_main_thread", copyOnMainThread)
        ->Arg(ideas)
        ->ArgName("ideas")
        ->Unit(benchmark::kMillisecond);
    // The export runs on a global queue: wall-clock time is what counts.
    benchmark::RegisterBenchmark("PdfExport/with_notes", wholeExport)
        ->Arg(ideas)
        ->ArgName("ideas")
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
});

} // namespace
