// Writing a crash record: a file of N "log" lines (hex message, time) through the record
// writer, buffered as the runtime opens its files, with the kit log unset and with it set,
// against one write(2) of the same bytes (the floor any writer has). The kit log costs
// nothing on a writer's success path; the set case shows it.

#include "bench/BenchSupport.h"
#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXSDKLog.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

using namespace corvex;

QByteArray benchPath(const char* name)
{
    return QFile::encodeName(bench::folder().path()) + '/' + name;
}

// False when the file could not be opened or closed.
bool writeRecord(const char* path, std::int64_t lines, bool buffered)
{
    BBXFile file;
    if (!BBXFileInitWithPathMode(&file, path, false, buffered))
        return false;
    for (std::int64_t i = 0; i < lines; ++i) {
        BBXFileWriteSectionStart(&file, "log");
        BBXFileWriteHashStart(&file);
        BBXFileWriteHashEntryHexEncodedString(&file, "msg", "Opened document \"Plans\" from the index");
        BBXFileWriteHashEntryUint64(&file, "time", 1767000000000 + std::uint64_t(i));
        BBXFileWriteHashEnd(&file);
        BBXFileWriteSectionEnd(&file);
    }
    return BBXFileClose(&file);
}

void recordWriter(benchmark::State& state, bool logSet, bool buffered)
{
    const QByteArray path = benchPath("record.bbxrecord");
    const QByteArray logPath = benchPath("sdk.log");
    BBXSDKLogState log;
    log.path = logSet ? logPath.constData() : nullptr;
    BBXSDKLogInstall(&log);
    for (auto _ : state) {
        if (!writeRecord(path.constData(), state.range(0), buffered)) {
            state.SkipWithError("the record could not be written");
            break;
        }
    }
    BBXSDKLogInstall(nullptr);
    if (log.descriptor.load() >= 0)
        ::close(log.descriptor.load());
    QFile file(QFile::decodeName(path));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * file.size());
}

void writeOnce(benchmark::State& state)
{
    const QByteArray path = benchPath("once.bbxrecord");
    QFile source(QFile::decodeName(path));
    if (!writeRecord(path.constData(), state.range(0), true) || !source.open(QIODevice::ReadOnly)) {
        state.SkipWithError("the record could not be written");
        return;
    }
    const QByteArray bytes = source.readAll();
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const ssize_t written = ::write(fd, bytes.constData(), std::size_t(bytes.size()));
        ::close(fd);
        if (written != ssize_t(bytes.size())) {
            state.SkipWithError("the bytes could not be written");
            break;
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * bytes.size());
}

const corvex::bench::Registration registration([] {
    const struct
    {
        const char* name;
        void (*function)(benchmark::State&);
    } benchmarks[] = {
        {"RecordWriter/buffered/log_unset", [](benchmark::State& s) { recordWriter(s, false, true); }},
        {"RecordWriter/buffered/log_set", [](benchmark::State& s) { recordWriter(s, true, true); }},
        {"RecordWriter/unbuffered/log_unset", [](benchmark::State& s) { recordWriter(s, false, false); }},
        {"write_once", writeOnce},
    };
    for (const auto& entry : benchmarks) {
        auto* benchmark = benchmark::RegisterBenchmark(entry.name, entry.function);
        for (const std::int64_t lines : corvex::bench::sizes({10000}, 10))
            benchmark->Arg(lines);
        benchmark->ArgName("lines")->Unit(benchmark::kMicrosecond);
    }
});

} // namespace
