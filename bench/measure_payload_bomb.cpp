// What a payload that inflates beyond the bound costs before it is refused: a zlib stream
// of about a megabyte (or two) whose text would be 900 MB or 2.2 GB, read as a stored
// document's bytes (IdeaDocumentDataObject::decodeSomeData, what opening and a synced
// folder's change notice run) and as the first chunk of a document archive (".corvex",
// through ExportImport::importDocument). The goal: refused quickly, with the peak resident
// memory under 1 GiB. Each measure resets the peak first (/proc/self/clear_refs), so that
// peak_growth_mb is that measure's own: the peak above what the process held before it.
// One run; the figures are counters of the single benchmarks.

#include "bench/BenchSupport.h"
#include "formats/ExportImport.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Zlib.h"
#include "storage/DocumentImporter.h"
#include "tests/model/PayloadBomb.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <malloc.h>

namespace {

using corvex::IdeaDocumentDataObject;
using BombClock = std::chrono::steady_clock;

// Starts the peak anew at the present resident size; false when the kernel does not allow it.
bool resetPeak()
{
    ::malloc_trim(0);
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

struct Outcome
{
    bool refused = false;
    QString reason;
};

void report(benchmark::State& state, const char* path, qint64 inflated, qint64 stored, double before,
            double seconds, const Outcome& outcome)
{
    const double peak = corvex::bench::processStatusBytes("VmHWM");
    state.counters["inflated_mb"] = double(inflated) / 1e6;
    state.counters["stored_kb"] = double(stored) / 1e3;
    state.counters["refused"] = outcome.refused ? 1 : 0;
    state.counters["refusal_ms"] = seconds * 1e3;
    state.counters["peak_mb"] = peak / 1e6;
    state.counters["peak_growth_mb"] = (peak - before) / 1e6;
    std::printf("%s: %.1f KB inflating to %.0f MB: %s in %.0f ms; peak %.1f MB (%.1f MB above the "
                "%.1f MB before)%s%s\n",
                path, double(stored) / 1e3, double(inflated) / 1e6, outcome.refused ? "refused" : "ACCEPTED",
                seconds * 1e3, peak / 1e6, (peak - before) / 1e6, before / 1e6,
                outcome.reason.isEmpty() ? "" : ": ", qPrintable(outcome.reason));
    if (!outcome.refused)
        state.SkipWithError("the payload was not refused");
}

qint64 inflatedSize(const benchmark::State& state)
{
    return state.range(0) * 1000 * 1000;
}

void storedDocumentBomb(benchmark::State& state)
{
    IdeaDocumentDataObject::registerCodables();
    const QByteArray bomb = corvex::test::paddedPayload(inflatedSize(state));
    if (bomb.isEmpty() || !resetPeak()) {
        state.SkipWithError("no bomb, or the peak cannot be reset");
        return;
    }
    const double before = corvex::bench::processStatusBytes("VmRSS");
    Outcome outcome;
    double seconds = 0;
    for (auto _ : state) {
        const BombClock::time_point start = BombClock::now();
        const auto read = IdeaDocumentDataObject::decodeSomeData(bomb);
        seconds = std::chrono::duration<double>(BombClock::now() - start).count();
        outcome = {!read.ok(), read.ok() ? QString() : read.error().toString()};
    }
    report(state, "stored document", inflatedSize(state), bomb.size(), before, seconds, outcome);
}

void archiveBomb(benchmark::State& state)
{
    IdeaDocumentDataObject::registerCodables();
    const QString path = corvex::bench::folder().filePath(QStringLiteral("bomb.corvex"));
    qint64 stored = 0;
    {
        const QByteArray bomb = corvex::test::paddedPayload(inflatedSize(state));
        QByteArray archive = corvex::ExportImport::Magic;
        for (const int shift : {24, 16, 8, 0})
            archive += char((quint32(bomb.size()) >> shift) & 0xFF);
        archive += bomb;
        QFile file(path);
        if (bomb.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(archive) != archive.size()) {
            state.SkipWithError("the archive could not be written");
            return;
        }
        stored = archive.size();
    }
    if (!resetPeak()) {
        state.SkipWithError("the peak cannot be reset");
        return;
    }
    const double before = corvex::bench::processStatusBytes("VmRSS");
    Outcome outcome;
    double seconds = 0;
    for (auto _ : state) {
        bool done = false;
        corvex::IdeaDocumentDataObjectPtr payload;
        const BombClock::time_point start = BombClock::now();
        corvex::ExportImport::importDocument(
            QUrl::fromLocalFile(path),
            [](const corvex::ObjectID&, const QByteArray&,
               corvex::DocumentImporter::AttachmentStored stored) { stored(true); },
            [&](const corvex::DocumentImporter::Read& answerRead) {
                const corvex::IdeaDocumentDataObjectPtr answer =
                    corvex::DocumentImporter::payloadOf(answerRead);
                payload = answer;
                done = true;
            });
        corvex::bench::waitFor([&done] { return done; });
        seconds = std::chrono::duration<double>(BombClock::now() - start).count();
        outcome = {payload == nullptr, QString()};
    }
    report(state, "document archive", inflatedSize(state), stored, before, seconds, outcome);
}

const corvex::bench::Registration registration([] {
    // Megabytes of text the payload would inflate to: the two files acceptance testing found.
    for (const std::int64_t megabytes : corvex::bench::sizes({900, 2200}, 900)) {
        benchmark::RegisterBenchmark("Bomb/stored_document", storedDocumentBomb)
            ->Arg(megabytes)
            ->ArgName("inflated_mb")
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Bomb/archive", archiveBomb)
            ->Arg(megabytes)
            ->ArgName("inflated_mb")
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
});

} // namespace
