// The Dropbox status file "corvex.local.status" with 1,000 and 10,000 document records
// (each with a current copy and every third with a pending upload).
//
// - Dropbox/status_save: the state written as the location writes it (encode, SaveFile).
// - Dropbox/status_load: the file read back into a state.
// - Dropbox/bare_save, Dropbox/bare_load: the yardsticks: the same JSON, already built,
//   dumped and written through SaveFile; the file read and parsed, nothing built from it.
// Goal: each within 2x of its yardstick in the release tree on one core (taskset -c 6).

#include "bench/BenchSupport.h"
#include "cloud/dropbox/DropboxFolderManagerState.h"
#include "platform/core/SaveFile.h"
#include "platform/core/WholeFileReader.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

namespace {

using corvex::DocumentInfo;
using corvex::DropboxFolderManagerState;
using corvex::QVFileInfo;

DropboxFolderManagerState dropboxState(std::int64_t records)
{
    DropboxFolderManagerState state;
    for (std::int64_t n = 0; n < records; ++n) {
        const QString rev = QStringLiteral("%1").arg(0x1a2b3c000 + n, 12, 16, QLatin1Char('0'));
        QVFileInfo::Ref output;
        if (n % 3 == 0)
            output = QVFileInfo::make(QStringLiteral("file1765030100000_%1.crvx").arg(n), rev);
        state.docs[QStringLiteral("dropbox:/id1765029000_%1.crvx").arg(n)] = DocumentInfo::make(
            nullptr, QVFileInfo::make(QStringLiteral("file1765030000000_%1.crvx").arg(n), rev), output);
    }
    return state;
}

QString statusPath()
{
    return corvex::bench::folder().path() + QStringLiteral("/corvex.local.status");
}

void statusSave(benchmark::State& bench)
{
    const DropboxFolderManagerState state = dropboxState(bench.range(0));
    for (auto _ : bench)
        if (!state.writeAtomicallyToURL(statusPath()))
            bench.SkipWithError("write failed");
}

void statusLoad(benchmark::State& bench)
{
    if (!dropboxState(bench.range(0)).writeAtomicallyToURL(statusPath()))
        bench.SkipWithError("write failed");
    for (auto _ : bench) {
        auto state = DropboxFolderManagerState::readFrom(statusPath());
        benchmark::DoNotOptimize(state);
    }
}

void bareSave(benchmark::State& bench)
{
    const QByteArray text = dropboxState(bench.range(0)).exportAsData();
    const nlohmann::json json = nlohmann::json::parse(text.constData(), text.constData() + text.size());
    for (auto _ : bench) {
        const std::string dumped = json.dump();
        if (!corvex::SaveFile::writeAtomically(statusPath(),
                                               QByteArray(dumped.data(), qsizetype(dumped.size()))))
            bench.SkipWithError("write failed");
    }
}

void bareLoad(benchmark::State& bench)
{
    if (!dropboxState(bench.range(0)).writeAtomicallyToURL(statusPath()))
        bench.SkipWithError("write failed");
    for (auto _ : bench) {
        const auto bytes = corvex::WholeFileReader::read(statusPath(), qint64(1) << 30);
        nlohmann::json json = nlohmann::json::parse(bytes->constData(), bytes->constData() + bytes->size());
        benchmark::DoNotOptimize(json);
    }
}

const corvex::bench::Registration registration([] {
    const struct
    {
        const char* name;
        void (*function)(benchmark::State&);
    } benchmarks[] = {{"Dropbox/status_save", statusSave},
                      {"Dropbox/bare_save", bareSave},
                      {"Dropbox/status_load", statusLoad},
                      {"Dropbox/bare_load", bareLoad}};
    for (const auto& entry : benchmarks) {
        auto* benchmark = benchmark::RegisterBenchmark(entry.name, entry.function);
        for (const std::int64_t records : corvex::bench::sizes({1000, 10000}, 10))
            benchmark->Arg(records);
        benchmark->ArgName("records")->Unit(benchmark::kMillisecond);
    }
});

} // namespace
