// Wide and heavy documents opened as a user opens them: the file read through the importer
// (OPML), stored in the temporary location, shown in the mind-map screen in a 1600 x 1000
// window and its first frame drawn. Reported: time to the first drawn frame and the peak
// resident memory the opening added (VmHWM reset before each). Documents: a root with 1,000,
// 10,000 and 100,000 children, a 1,000,000-outline file under one root, and balanced trees
// (eight children an idea) of 10,000 and 100,000 ideas to compare with. Goals: 100,000
// children at most 3 times the peak of the 100,000-idea balanced tree; the memory an extra
// child costs between 10,000 and 100,000 at most 1 KB above what an extra idea of the
// balanced trees costs (compare `bytes_per_idea` of the wide and balanced rows).

#include "bench/BenchSupport.h"
#include "formats/DocumentFormats.h"
#include "formats/ExportImport.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Idea.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "storage/IdeaDocument.h"
#include "storage/PersistenceController.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <malloc.h>

using namespace corvex;

namespace {

using WideClock = std::chrono::steady_clock;

enum Shape : std::int64_t
{
    Wide = 0,
    Balanced = 1
};

// An OPML file: `ideas` outlines below one root, all its children (wide) or eight an idea,
// breadth first (balanced).
QString writeOutline(Shape shape, std::int64_t ideas)
{
    const QString path =
        QDir(bench::folder().path())
            .filePath(QStringLiteral("%1-%2.opml").arg(shape == Wide ? "wide" : "balanced").arg(ideas));
    if (QFile::exists(path))
        return path;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QByteArray text =
        "<?xml version=\"1.0\"?>\n<opml version=\"2.0\"><head><title>Root</title></head><body>\n";
    // Children of idea k (0 the root) are 8k+1 .. 8k+8 in the balanced tree.
    const std::function<void(std::int64_t)> write = [&](std::int64_t k) {
        const std::int64_t first = shape == Wide ? (k == 0 ? 1 : ideas) : 8 * k + 1;
        const std::int64_t last = shape == Wide ? (k == 0 ? ideas - 1 : 0) : std::min(8 * k + 8, ideas - 1);
        for (std::int64_t c = first; c <= last; ++c) {
            text += "<outline text=\"Idea " + QByteArray::number(c) + "\"";
            if (shape == Balanced && 8 * c + 1 < ideas) {
                text += ">";
                write(c);
                text += "</outline>\n";
            } else {
                text += "/>\n";
            }
            if (text.size() > (1 << 20)) {
                file.write(text);
                text.clear();
            }
        }
    };
    write(0);
    text += "</body></opml>\n";
    file.write(text);
    return path;
}

void BM_OpenAndDraw(benchmark::State& state)
{
    qputenv("XDG_DATA_HOME", bench::folder().path().toUtf8());
    registerDocumentFormats();
    const auto shape = Shape(state.range(0));
    const std::int64_t ideas = state.range(1);
    const QString path = writeOutline(shape, ideas);
    double peakBytes = 0;
    bool drawn = true;
    for (auto _ : state) {
        ::malloc_trim(0);
        corvex::bench::resetPeak();
        const double rssBefore = bench::processStatusBytes("VmRSS");
        const WideClock::time_point start = WideClock::now();
        IdeaDocumentDataObjectPtr payload;
        bool read = false;
        ExportImport::importDocument(QUrl::fromLocalFile(path), {},
                                     [&](const DocumentImporter::Read& result) {
                                         payload = DocumentImporter::payloadOf(result);
                                         read = true;
                                     });
        bench::waitFor([&] { return read; });
        if (!payload) {
            state.SkipWithError("the file was not read");
            return;
        }
        auto document = IdeaDocument::initWithFileName(QString(), 0);
        document->setIdea(payload->idea());
        payload.reset();
        qint64 token = 0;
        bool created = false;
        PersistenceController::singleton().createDocument(document, [&](qint64 made) {
            token = made;
            created = true;
        });
        bench::waitFor([&] { return created; });
        if (token <= 0) {
            state.SkipWithError("the document was not stored");
            return;
        }
        {
            auto window = Window::create(Size(1600, 1000));
            auto screen = SolarSystemViewController::initWithDoc(document, token, QString());
            window->setContentView(screen->view());
            window->makeKeyAndOrderFront();
            screen->viewDidAppear();
            View::runUpdateCycle();
            const QImage frame = window->renderToImage(1);
            const WideClock::time_point shown = WideClock::now();
            drawn = drawn && !frame.isNull();
            state.SetIterationTime(std::chrono::duration<double>(shown - start).count());
            peakBytes = std::max(peakBytes, bench::processStatusBytes("VmHWM") - rssBefore);
            window->close();
        }
        bool released = false;
        PersistenceController::singleton().releaseDocument(document, token, [&] { released = true; });
        bench::waitFor([&] { return released; });
    }
    if (!drawn)
        state.SkipWithError("no frame was drawn");
    state.counters["peak_mb"] = peakBytes / (1024.0 * 1024.0);
    state.counters["bytes_per_idea"] = peakBytes / double(ideas);
    std::printf("%s of %lld ideas: peak %.1f MB above the start, %.0f bytes an idea\n",
                shape == Wide ? "one root's children" : "a balanced tree", static_cast<long long>(ideas),
                peakBytes / (1024.0 * 1024.0), peakBytes / double(ideas));
}

const bench::Registration wideRegistration([] {
    auto* open = benchmark::RegisterBenchmark("WideDocuments/OpenAndDraw", &BM_OpenAndDraw);
    for (std::int64_t n : bench::sizes({1000, 10000, 100000, 1000000}, 1000))
        open->Args({Wide, n});
    for (std::int64_t n : bench::sizes({10000, 100000}, 1000))
        open->Args({Balanced, n});
    open->ArgNames({"balanced", "ideas"})->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
});

} // namespace
