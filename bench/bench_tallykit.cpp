// Usage analytics: recording one event on the caller's thread (the work the application's
// thread pays), and the whole life of 10,000 event lines (written one open-append-close at a
// time, rotated near 8 KB, compressed and packaged) against a bare append of the same lines.

#include "bench/BenchSupport.h"
#include "kit/core/BBXUserDefaults.h"
#include "kit/core/Loom.h"
#include "platform/core/OperationQueue.h"
#include "tallykit/TLYEvent.h"
#include "tallykit/TLYFileOperations.h"
#include "tallykit/TLYSettings.h"
#include "tallykit/TLYTallyController.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace corvex;

QVariantMap benchInfo()
{
    QVariantMap loom;
    loom.insert(QStringLiteral("APIKey"), QStringLiteral("bench-key"));
    loom.insert(QStringLiteral("Kits"), QVariantList());
    QVariantMap info;
    info.insert(QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.tallowfen.corvex"));
    info.insert(QStringLiteral("Loom"), loom);
    return info;
}

struct BenchRegistry
{
    BBXUserDefaults store{bench::folder().path() + QStringLiteral("/support"),
                          QStringLiteral("com.tallowfen.corvex"), nullptr};
    Loom loom{store, [] { return benchInfo(); }};
};

Value benchAttributes(int index)
{
    ValueDictionary attributes;
    attributes.insert(QStringLiteral("screen"), Value(QStringLiteral("mind map")));
    attributes.insert(QStringLiteral("ideas"), Value(index));
    return Value(std::move(attributes));
}

// The caller's share of recording: building the event and queuing its operations.
void BM_TallyRecordEvent(benchmark::State& state)
{
    BenchRegistry registry;
    const QString root = bench::folder().path() + QStringLiteral("/record");
    std::shared_ptr<TLYTallyController> controller =
        TLYTallyController::create(std::nullopt, registry.loom, root);
    controller->waitUntilIdle();
    int index = 0;
    for (auto _ : state)
        controller->logEvent(
            std::make_shared<TLYCustomEvent>(QStringLiteral("opened"), benchAttributes(index++)));
    // After the timed loop: the queue's own work is not the caller's.
    controller->waitUntilIdle();
    QDir(root).removeRecursively();
    state.SetItemsProcessed(state.iterations());
}

std::vector<std::shared_ptr<TLYEvent>> benchEvents(int count)
{
    std::vector<std::shared_ptr<TLYEvent>> events;
    events.reserve(std::size_t(count));
    for (int index = 0; index < count; ++index)
        events.push_back(std::make_shared<TLYCustomEvent>(QStringLiteral("opened"), benchAttributes(index)));
    return events;
}

// Every stage the controller runs for these events, in its order, on one thread.
void BM_TallyWriteRotateCompressPackage(benchmark::State& state)
{
    const int count = int(state.range(0));
    BenchRegistry registry;
    const auto metadata = std::make_shared<const TLYMetadata>(registry.loom, std::nullopt);
    const std::vector<std::shared_ptr<TLYEvent>> events = benchEvents(count);
    const QString dir = bench::folder().path() + QStringLiteral("/pipeline");
    QDir().mkpath(dir);
    int packages = 0;
    for (auto _ : state) {
        int logNumber = 0;
        QString log = dir + QStringLiteral("/L0.log");
        bool packaged = true;
        auto rotate = [&] {
            const QString gz = TLYCompressLogOperation::compressedURLForUncompressedURL(log);
            TLYCompressLogOperation compress(log, gz);
            compress.main();
            QFile::remove(log);
            const QString boundary = TLYFileUtils::baseName(log);
            const QString multipart = TLYPackageLogOperation::multipartURLForCompressedURL(gz, boundary);
            TLYPackageLogOperation package(gz, multipart, boundary);
            package.main();
            QFile::remove(gz);
            packaged = packaged && QFile::exists(multipart);
            ++packages;
            log = dir + QStringLiteral("/L%1.log").arg(++logNumber);
        };
        for (const std::shared_ptr<TLYEvent>& event : events) {
            const bool full = TLYFileUtils::fileSizeAtURL(log) > 8000;
            TLYWriteEventOperation write(event, metadata, log);
            write.main();
            if (full)
                rotate();
        }
        rotate();
        if (!packaged) {
            state.SkipWithError("a log was not packaged");
            break;
        }
        state.PauseTiming();
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        state.ResumeTiming();
    }
    state.counters["packages"] = double(packages) / double(state.iterations());
    state.SetItemsProcessed(state.iterations() * count);
}

// Only the writes of the pipeline above (the same logs, rotated by name), so that the
// figures show what compressing and packaging add.
void BM_TallyWriteOnly(benchmark::State& state)
{
    const int count = int(state.range(0));
    BenchRegistry registry;
    const auto metadata = std::make_shared<const TLYMetadata>(registry.loom, std::nullopt);
    const std::vector<std::shared_ptr<TLYEvent>> events = benchEvents(count);
    const QString dir = bench::folder().path() + QStringLiteral("/writes");
    QDir().mkpath(dir);
    for (auto _ : state) {
        int logNumber = 0;
        QString log = dir + QStringLiteral("/L0.log");
        for (const std::shared_ptr<TLYEvent>& event : events) {
            const bool full = TLYFileUtils::fileSizeAtURL(log) > 8000;
            TLYWriteEventOperation write(event, metadata, log);
            write.main();
            if (full)
                log = dir + QStringLiteral("/L%1.log").arg(++logNumber);
        }
        if (TLYFileUtils::fileSizeAtURL(log) <= 0) {
            state.SkipWithError("no event was written");
            break;
        }
        state.PauseTiming();
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// The same lines appended to one open file.
void BM_TallyBareAppend(benchmark::State& state)
{
    const int count = int(state.range(0));
    BenchRegistry registry;
    const auto metadata = std::make_shared<const TLYMetadata>(registry.loom, std::nullopt);
    std::vector<QByteArray> lines;
    for (const std::shared_ptr<TLYEvent>& event : benchEvents(count)) {
        TLYWriteEventOperation write(event, metadata, QString());
        lines.push_back(*write.formattedEvent() + '\n');
    }
    const QByteArray path = QFile::encodeName(bench::folder().path() + QStringLiteral("/bare.log"));
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        bool written = fd >= 0;
        for (const QByteArray& line : lines)
            written =
                written && ::write(fd, line.constData(), std::size_t(line.size())) == ssize_t(line.size());
        ::close(fd);
        if (!written) {
            state.SkipWithError("the lines could not be written");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * count);
}

const bench::Registration tallyBenchmarks([] {
    benchmark::RegisterBenchmark("BM_TallyRecordEvent", BM_TallyRecordEvent)
        ->Iterations(bench::tiny() ? 10 : 20000)
        ->Unit(benchmark::kMicrosecond);
    for (std::int64_t count : bench::sizes({10000}, 100)) {
        benchmark::RegisterBenchmark("BM_TallyWriteRotateCompressPackage", BM_TallyWriteRotateCompressPackage)
            ->Arg(count)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_TallyWriteOnly", BM_TallyWriteOnly)
            ->Arg(count)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_TallyBareAppend", BM_TallyBareAppend)
            ->Arg(count)
            ->Unit(benchmark::kMillisecond);
    }
});

} // namespace
