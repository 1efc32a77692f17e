// Saving stored documents of 10,000 and 100,000 ideas from the document factory (1,000,000
// with CORVEX_BENCH_LARGE=1), of today's shape, of the real shape (real=1) and of the
// picture-rich real shape and its twin without pictures (real=3, 4): a document is opened,
// one idea is edited, and it is saved. Reported per save: the time on the main thread
// (encoding the payload and handing it to the work queue; main_thread_ms, printed too,
// beside main_thread_cpu_ms, that thread's own processor time; the goal is one frame, 16 ms,
// for 10,000 ideas) and the total until the completion, which includes the deflate, the
// write, the sync and the rename (the benchmark's own time). Beside it the bare work: the
// deflate of the same payload plus writing and syncing a file of the compressed size, with
// the deflate in one pass (the goal's measure) and spread over the cores as the save does
// it. The goal: a save at most 1.3 times the bare work with the one-pass deflate. Every
// benchmark reports the peak resident memory of the process so far (peak_rss_mb, from
// VmHWM); the opening is measured too.

#include "bench/BenchSupport.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/ParallelDeflate.h"
#include "platform/core/Zlib.h"
#include "storage/IdeaDocument.h"
#include "tests/factory/DocumentFactory.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using corvex::IdeaDocument;
using corvex::IdeaDocumentDataObject;
using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// The calling thread's own processor time in seconds: on one core the main thread's wall
// time also holds whatever the woken work queue ran before the main thread had it back.
double threadCpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The calling thread's context switches so far: voluntary (it waited) and involuntary (the
// scheduler gave its core to another thread), to tell where a gap between the main thread's
// wall time and its processor time comes from.
std::pair<long, long> threadSwitches()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return {usage.ru_nvcsw, usage.ru_nivcsw};
}

using corvex::bench::peakResidentMegabytes;

using corvex::bench::folder;

// The stored file of the factory document of the state's arguments ({ideas, shape}), written
// once.
QString documentFile(const benchmark::State& state)
{
    static std::map<std::pair<std::int64_t, std::int64_t>, QString> files;
    const auto key = std::make_pair(state.range(0), state.range(1));
    auto it = files.find(key);
    if (it == files.end()) {
        const QByteArray json = corvex::test::makePayloadJson(
            corvex::test::makeTree(corvex::test::TreeShape(key.second), int(key.first)));
        const QString path =
            folder().filePath(QStringLiteral("bench%1-%2.crvx").arg(key.first).arg(key.second));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(corvex::IdeaDocumentDataObject::storedForm(json, false).value()) < 0)
            return QString();
        it = files.emplace(key, path).first;
    }
    return it->second;
}

// Runs the main loop until `done` holds.
void waitFor(const bool& done)
{
    corvex::bench::waitFor([&done] { return done; });
}

struct OpenDocument
{
    std::shared_ptr<IdeaDocument> document;
    qint64 token = 0;
};

OpenDocument open(const QString& path)
{
    OpenDocument opened;
    opened.document = IdeaDocument::initWithFileName(QStringLiteral("bench.crvx"), 1);
    bool done = false;
    opened.document->openFromURL(QUrl::fromLocalFile(path), [&](qint64 token) {
        opened.token = token;
        done = true;
    });
    waitFor(done);
    return opened;
}

void close(OpenDocument& opened)
{
    opened.document->closeWithToken(opened.token);
    opened.document.reset();
}

void openDocument(benchmark::State& state)
{
    const QString path = documentFile(state);
    IdeaDocumentDataObject::registerCodables();
    for (auto _ : state) {
        OpenDocument opened = open(path);
        if (opened.token <= 0 || opened.document->idea()->calculateWholeTreeSize() != state.range(0)) {
            state.SkipWithError("the document did not open");
            break;
        }
        state.PauseTiming();
        close(opened); // the tree is freed outside the timed part
        state.ResumeTiming();
    }
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}

void saveDocument(benchmark::State& state)
{
    const QString path = documentFile(state);
    OpenDocument opened = open(path);
    if (opened.token <= 0 || opened.document->idea()->calculateWholeTreeSize() != state.range(0)) {
        state.SkipWithError("the document did not open");
        return;
    }
    const corvex::IdeaPtr edited = opened.document->idea()->ideas().front();
    double mainThread = 0;
    double mainThreadCpu = 0;
    long waited = 0;
    long preempted = 0;
    int round = 0;
    for (auto _ : state) {
        // The previous save's tail (its threads freeing their buffers, the change watcher
        // seeing the rename) runs before this save starts, as between real saves seconds
        // apart: on one core it would otherwise land inside the main thread's part.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        edited->setText(QStringLiteral("edited %1").arg(++round));
        bool done = false;
        bool saved = false;
        const Clock::time_point start = Clock::now();
        const double cpuStart = threadCpuSeconds();
        const auto switchesAtStart = threadSwitches();
        opened.document->updateWithToken(opened.token, [&](bool ok) {
            saved = ok;
            done = true;
        });
        const double cpuHandedOff = threadCpuSeconds();
        const auto switchesAtHandOff = threadSwitches();
        const Clock::time_point handedOff = Clock::now();
        waitFor(done);
        const Clock::time_point finished = Clock::now();
        if (!saved) {
            state.SkipWithError("the save failed");
            break;
        }
        mainThread += seconds(handedOff - start);
        mainThreadCpu += cpuHandedOff - cpuStart;
        waited += switchesAtHandOff.first - switchesAtStart.first;
        preempted += switchesAtHandOff.second - switchesAtStart.second;
        state.SetIterationTime(seconds(finished - start));
    }
    state.counters["main_thread_ms"] =
        benchmark::Counter(mainThread * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["main_thread_cpu_ms"] =
        benchmark::Counter(mainThreadCpu * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["main_thread_waits"] =
        benchmark::Counter(double(waited), benchmark::Counter::kAvgIterations);
    state.counters["main_thread_preemptions"] =
        benchmark::Counter(double(preempted), benchmark::Counter::kAvgIterations);
    if (state.iterations() > 0)
        std::printf(
            "save of %lld ideas: main thread's part %.1f ms (its own processor time %.1f ms; per save "
            "%.1f waits, %.1f preemptions)%s\n",
            static_cast<long long>(state.range(0)), mainThread * 1e3 / double(state.iterations()),
            mainThreadCpu * 1e3 / double(state.iterations()), double(waited) / double(state.iterations()),
            double(preempted) / double(state.iterations()), state.range(0) == 10000 ? "; goal 16 ms" : "");
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
    close(opened);
}

// The least a save can do: deflate the payload, write the bytes, sync them; the deflate in
// one pass (the goal's measure) or spread over the cores as the save does it.
void bareWork(benchmark::State& state, bool parallel)
{
    const QString path = documentFile(state);
    OpenDocument opened = open(path);
    if (opened.token <= 0) {
        state.SkipWithError("the document did not open");
        return;
    }
    const auto exported = opened.document->exportAsPureJSONData();
    close(opened);
    if (!exported.ok()) {
        state.SkipWithError("the document's text could not be made");
        return;
    }
    const QByteArray& json = exported.value();
    const QByteArray target = QFile::encodeName(folder().filePath(QStringLiteral("bare.bin")));
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const QByteArray compressed = parallel ? corvex::ParallelDeflate::compress(json).value()
                                               : QByteArray(*corvex::Zlib::compress(json));
        const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        bool ok = fd >= 0;
        qsizetype written = 0;
        while (ok && written < compressed.size()) {
            const ssize_t n =
                ::write(fd, compressed.constData() + written, std::size_t(compressed.size() - written));
            ok = n > 0;
            written += ok ? n : 0;
        }
        ok = ok && ::fsync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!ok) {
            state.SkipWithError("the bare write failed");
            break;
        }
        state.SetIterationTime(seconds(Clock::now() - start));
    }
    state.counters["json_mb"] = double(json.size()) / 1e6;
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}

void bareDeflateAndSync(benchmark::State& state)
{
    bareWork(state, false);
}

void bareParallelDeflateAndSync(benchmark::State& state)
{
    bareWork(state, true);
}

const corvex::bench::Registration registration([] {
    const struct
    {
        const char* name;
        void (*function)(benchmark::State&);
        bool manualTime;
    } benchmarks[] = {
        {"Storage/open", openDocument, false},
        {"Storage/save", saveDocument, true},
        {"Storage/bare_deflate_and_sync", bareDeflateAndSync, true},
        {"Storage/bare_parallel_deflate_and_sync", bareParallelDeflateAndSync, true},
    };
    const auto sizes = corvex::bench::sizes({10000, 100000}, 100, {1000000});
    for (const auto& entry : benchmarks) {
        auto* benchmark = benchmark::RegisterBenchmark(entry.name, entry.function);
        corvex::bench::addShapedSizes(benchmark, sizes, "ideas")->Unit(benchmark::kMillisecond);
        if (entry.manualTime)
            benchmark->UseManualTime();
        else
            benchmark->UseRealTime(); // the reading runs on a worker thread
    }
});

} // namespace
