// Wide and heavy documents opened as a user opens them: the file read through the importer
// (OPML), stored in the temporary location, shown in the mind-map screen in a 1600 x 1000
// window and its first frame drawn. Reported: time to the first drawn frame and the peak
// resident memory the opening added (VmHWM reset before each). Documents: a root with 1,000,
// 10,000 and 100,000 children, a 1,000,000-outline file under one root (past the readers'
// bound on one idea's children: its refusal is timed and measured instead), and balanced
// trees (eight children an idea) of 10,000, 100,000 and 1,000,000 ideas (the bound on the
// ideas of a document) to compare with; and the largest document the bounds let through (a
// million ideas, 100,000 of them below the root) with one idea more, refused, and with texts
// as long as the largest file read whole allows (an outline) or the largest payload (an
// archive of random letters, which hardly compress). Goals: 100,000 children at most
// 3 times the peak of the 100,000-idea balanced tree; the memory an extra child costs between 10,000 and
// 100,000 at most 1 KB above what an extra idea of the balanced trees costs (compare
// `bytes_per_idea` of the wide and balanced rows).

#include "bench/BenchSupport.h"
#include "formats/DocumentFormats.h"
#include "formats/ExportImport.h"
#include "mindmap/SolarSystemViewController.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Zlib.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "storage/IdeaDocument.h"
#include "storage/PersistenceController.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
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
    Balanced = 1,
    AtBounds = 2,
    // At both bounds, each idea's text as long as the largest file read whole allows.
    LongTexts = 3,
    // The same as an archive, texts of random letters as long as the largest payload allows.
    LongTextsArchive = 4
};

const char* nameOf(Shape shape)
{
    return shape == Wide        ? "wide"
           : shape == Balanced  ? "balanced"
           : shape == AtBounds  ? "at-bounds"
           : shape == LongTexts ? "long-texts"
                                : "long-texts-archive";
}

// The children of idea k (0 the root), first to last (none when first > last), breadth
// first: all `ideas` below the root (wide); eight an idea (balanced); as many as one idea
// may have below the root and the rest shared among those (at both bounds).
std::pair<std::int64_t, std::int64_t> childrenOf(Shape shape, std::int64_t ideas, std::int64_t k)
{
    switch (shape) {
    case Wide:
        return k == 0 ? std::pair{std::int64_t(1), ideas - 1} : std::pair{ideas, std::int64_t(0)};
    case Balanced:
        return {8 * k + 1, std::min(8 * k + 8, ideas - 1)};
    case AtBounds:
    case LongTexts:
    case LongTextsArchive: {
        const std::int64_t wide = std::min<std::int64_t>(IdeaDocumentDataObject::MaxChildren, ideas - 1);
        if (k == 0)
            return {1, wide};
        const std::int64_t each = (ideas - 1 - wide + wide - 1) / wide;
        if (k > wide)
            return {ideas, 0};
        return {wide + 1 + (k - 1) * each, std::min(wide + k * each, ideas - 1)};
    }
    }
    return {ideas, 0};
}

// An OPML file of `ideas` outlines of the shape below one root.
QString writeOutline(Shape shape, std::int64_t ideas)
{
    const QString path =
        QDir(bench::folder().path()).filePath(QStringLiteral("%1-%2.opml").arg(nameOf(shape)).arg(ideas));
    if (QFile::exists(path))
        return path;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QByteArray text =
        "<?xml version=\"1.0\"?>\n<opml version=\"2.0\"><head><title>Root</title></head><body>\n";
    // About 60 bytes of markup an outline; the rest of the file's share is text.
    const QByteArray filler =
        shape == LongTexts
            ? " " + QByteArray(std::max<qint64>(0, ExportImport::MaxWholeFileSize / ideas - 60), 'w')
            : QByteArray();
    const std::function<void(std::int64_t)> write = [&](std::int64_t k) {
        const auto [first, last] = childrenOf(shape, ideas, k);
        for (std::int64_t c = first; c <= last; ++c) {
            text += "<outline text=\"Idea " + QByteArray::number(c) + filler + "\"";
            if (const auto [below, end] = childrenOf(shape, ideas, c); below <= end) {
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

// The archive of the shape: its payload's JSON text in one chunk, compressed.
QString writeArchive(Shape shape, std::int64_t ideas)
{
    const QString path =
        QDir(bench::folder().path()).filePath(QStringLiteral("%1-%2.corvex").arg(nameOf(shape)).arg(ideas));
    if (QFile::exists(path))
        return path;
    const qint64 letters = std::max<qint64>(0, IdeaDocumentDataObject::MaxPayloadBytes / ideas - 40);
    quint32 seed = 1;
    QByteArray text = R"({"ideaDocumentDataObject":{"fileFormatVersion":4,"idea":{"text":"Root","ideas":[)";
    const std::function<void(std::int64_t)> write = [&](std::int64_t k) {
        const auto [first, last] = childrenOf(shape, ideas, k);
        for (std::int64_t c = first; c <= last; ++c) {
            text += (c == first ? "" : ",") + QByteArray(R"({"text":"Idea )") + QByteArray::number(c) + ' ';
            for (qint64 i = 0; i < letters; ++i) {
                seed = seed * 1664525u + 1013904223u;
                text += char('a' + (seed >> 24) % 26);
            }
            text += '"';
            if (const auto [below, end] = childrenOf(shape, ideas, c); below <= end) {
                text += R"(,"ideas":[)";
                write(c);
                text += "]";
            }
            text += "}";
        }
    };
    write(0);
    text += "]}}}";
    const auto packed = Zlib::compress(text);
    text = QByteArray();
    QFile file(path);
    if (!packed.ok() || !file.open(QIODevice::WriteOnly))
        return QString();
    char length[4];
    qToBigEndian<quint32>(quint32(packed.value().size()), length);
    file.write(ExportImport::Magic);
    file.write(length, 4);
    file.write(packed.value());
    return path;
}

void BM_OpenAndDraw(benchmark::State& state)
{
    qputenv("XDG_DATA_HOME", bench::folder().path().toUtf8());
    registerDocumentFormats();
    const auto shape = Shape(state.range(0));
    const std::int64_t ideas = state.range(1);
    const QString path = shape == LongTextsArchive ? writeArchive(shape, ideas) : writeOutline(shape, ideas);
    double peakBytes = 0;
    bool drawn = true;
    bool refused = false;
    for (auto _ : state) {
        ::malloc_trim(0);
        corvex::bench::resetPeak();
        const double rssBefore = bench::processStatusBytes("VmRSS");
        const WideClock::time_point start = WideClock::now();
        IdeaDocumentDataObjectPtr payload;
        QString refusal;
        bool read = false;
        ExportImport::importDocument(QUrl::fromLocalFile(path), {},
                                     [&](const DocumentImporter::Read& result) {
                                         payload = DocumentImporter::payloadOf(result);
                                         if (!result.ok())
                                             refusal = result.error().localizedFailureReason();
                                         read = true;
                                     });
        bench::waitFor([&] { return read; });
        if (!payload) {
            // A document past the reader's bounds: how long and how much the refusal took.
            const double seconds = std::chrono::duration<double>(WideClock::now() - start).count();
            const double peak = bench::processStatusBytes("VmHWM") - rssBefore;
            state.SetIterationTime(seconds);
            state.counters["peak_mb"] = peak / (1024.0 * 1024.0);
            state.counters["refused"] = 1;
            std::printf("%s of %lld ideas: refused after %.0f ms, peak %.1f MB above the start: %s\n",
                        nameOf(shape), static_cast<long long>(ideas), seconds * 1000.0,
                        peak / (1024.0 * 1024.0), qPrintable(refusal));
            refused = true;
            continue;
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
    if (refused)
        return;
    if (!drawn)
        state.SkipWithError("no frame was drawn");
    state.counters["peak_mb"] = peakBytes / (1024.0 * 1024.0);
    state.counters["bytes_per_idea"] = peakBytes / double(ideas);
    std::printf("%s of %lld ideas: peak %.1f MB above the start, %.0f bytes an idea\n", nameOf(shape),
                static_cast<long long>(ideas), peakBytes / (1024.0 * 1024.0), peakBytes / double(ideas));
}

const bench::Registration wideRegistration([] {
    auto* open = benchmark::RegisterBenchmark("WideDocuments/OpenAndDraw", &BM_OpenAndDraw);
    for (std::int64_t n : bench::sizes({1000, 10000, 100000, 1000000}, 1000))
        open->Args({Wide, n});
    for (std::int64_t n : bench::sizes({10000, 100000, 1000000}, 1000))
        open->Args({Balanced, n});
    // The most the bounds let through: as many ideas and as many children of the root as they
    // allow, and one idea past.
    for (std::int64_t n :
         bench::sizes({IdeaDocumentDataObject::MaxIdeas, IdeaDocumentDataObject::MaxIdeas + 1}, 1000))
        open->Args({AtBounds, n});
    for (std::int64_t n : bench::sizes({IdeaDocumentDataObject::MaxIdeas}, 1000))
        open->Args({LongTexts, n});
    for (std::int64_t n : bench::sizes({IdeaDocumentDataObject::MaxIdeas}, 1000))
        open->Args({LongTextsArchive, n});
    open->ArgNames({"shape", "ideas"})->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
});

} // namespace
