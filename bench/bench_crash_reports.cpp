// Processing and packaging a crash report of 50 threads by 100 frames (names for every frame
// from dladdr and the file's own symbol table, demangling, the ".symbolicated" record, gzip
// of every file and the multipart package), against the floor: a bare dladdr loop over the
// same 5,000 addresses plus gzip of the same files (those the package holds). Goal: at most
// twice the floor.

#include "bench/BenchSupport.h"
#include "crash/BBXFileManager.h"
#include "crash/BBXInternalReport.h"
#include "crash/processing/BBXPackageReportOperation.h"
#include "crash/processing/BBXProcessReportOperation.h"
#include "crash/processing/BBXSymbolResolver.h"
#include "platform/core/ElfImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <vector>
#include <zlib.h>

namespace {

using namespace corvex;

struct TextRange
{
    std::uint64_t base = 0; // the ELF header in memory
    std::uint64_t size = 0;
    std::uint64_t textStart = 0;
    std::uint64_t textEnd = 0;
};

int findExecutable(dl_phdr_info* info, std::size_t, void* out)
{
    auto* range = static_cast<TextRange*>(out);
    std::uint64_t lowest = ~std::uint64_t(0);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type != PT_LOAD)
            continue;
        lowest = std::min<std::uint64_t>(lowest, header.p_vaddr);
        if (header.p_flags & PF_X) {
            range->textStart = info->dlpi_addr + header.p_vaddr;
            range->textEnd = range->textStart + header.p_memsz;
        }
    }
    range->base = info->dlpi_addr + lowest;
    range->size = range->textEnd - range->base;
    return 1; // the executable comes first
}

const TextRange& executable()
{
    static const TextRange range = [] {
        TextRange found;
        dl_iterate_phdr(findExecutable, &found);
        return found;
    }();
    return range;
}

std::vector<std::uint64_t> frameAddresses()
{
    std::vector<std::uint64_t> addresses;
    const TextRange& text = executable();
    const std::uint64_t step = (text.textEnd - text.textStart) / 5001;
    for (int i = 1; i <= 5000; ++i)
        addresses.push_back(text.textStart + std::uint64_t(i) * step);
    return addresses;
}

// The report as a crashed run of this very program would leave it.
QString templateReport()
{
    static const QString path = [] {
        const QString directory = bench::folder().path() + QStringLiteral("/template");
        QDir().mkpath(directory);
        const TextRange& text = executable();
        const QByteArray uuid = ElfImage::currentExecutable().value().uuid.toHex();
        const QByteArray exe =
            QFile::encodeName(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
        QFile images(directory + QStringLiteral("/binary_images.bbxrecord"));
        images.open(QIODevice::WriteOnly);
        images.write("{\"load\":{\"path\":\"" + exe + "\",\"uuid\":\"" + uuid + "\",\"base\":" +
                     QByteArray::number(text.base) + ",\"size\":" + QByteArray::number(text.size) + "}}\n");
        QFile metadata(directory + QStringLiteral("/metadata.bbxrecord"));
        metadata.open(QIODevice::WriteOnly);
        metadata.write(
            "{\"identity\":{\"api_key\":\"k\",\"started_at\":1767000000,\"session_id\":\"bench\"}}\n");
        const std::vector<std::uint64_t> addresses = frameAddresses();
        QByteArray threads = "{\"signal\":{\"number\":11,\"time\":1}}\n{\"threads\":[";
        for (int t = 0; t < 50; ++t) {
            threads += t == 0 ? "{\"stacktrace\":[" : ",{\"stacktrace\":[";
            for (int f = 0; f < 100; ++f)
                threads += (f == 0 ? "" : ",") + QByteArray::number(addresses[std::size_t(t * 100 + f)]);
            threads += t == 0 ? "],\"crashed\":true}" : "]}";
        }
        threads += "]}\n";
        QFile signal(directory + QStringLiteral("/signal.bbxrecord"));
        signal.open(QIODevice::WriteOnly);
        signal.write(threads);
        return directory;
    }();
    return path;
}

void copyTemplate(const QString& to)
{
    QDir().mkpath(to);
    for (const QString& name : QDir(templateReport()).entryList(QDir::Files))
        QFile::copy(templateReport() + QLatin1Char('/') + name, to + QLatin1Char('/') + name);
}

// A fresh copy of the report processed each iteration, and packaged when `package` is set.
void processReports(benchmark::State& state, const QString& treeName, bool package)
{
    auto tree = std::make_shared<BBXFileManager>(bench::folder().path() + QLatin1Char('/') + treeName);
    tree->prepareForNewLaunch();
    const QString directory = tree->processingPath() + QStringLiteral("/bench");
    for (auto _ : state) {
        state.PauseTiming();
        tree->removeContentsOfAllPaths();
        copyTemplate(directory);
        auto report = BBXInternalReport::reportWithPath(directory);
        state.ResumeTiming();
        std::make_shared<BBXProcessReportOperation>(report, std::make_shared<BBXSymbolResolver>())->start();
        if (!QFile::exists(directory + QStringLiteral("/signal.bbxrecord.symbolicated"))) {
            state.SkipWithError("the report was not symbolicated");
            break;
        }
        if (!package)
            continue;
        auto packaging = std::make_shared<BBXPackageReportOperation>(report, tree);
        packaging->start();
        if (!packaging->finalPath()) {
            state.SkipWithError("the report was not packaged");
            break;
        }
    }
}

void BM_ProcessAndPackageReport(benchmark::State& state)
{
    processReports(state, QStringLiteral("tree"), true);
}

// The files a package holds: the report after processing (with its ".symbolicated" record).
QString processedReport()
{
    static const QString path = [] {
        const QString directory = bench::folder().path() + QStringLiteral("/processed");
        copyTemplate(directory);
        std::make_shared<BBXProcessReportOperation>(BBXInternalReport::reportWithPath(directory),
                                                    std::make_shared<BBXSymbolResolver>())
            ->start();
        return directory;
    }();
    return path;
}

void BM_BareDladdrAndGzip(benchmark::State& state)
{
    const std::vector<std::uint64_t> addresses = frameAddresses();
    const QString scratch = bench::folder().path() + QStringLiteral("/floor");
    const QStringList names = QDir(processedReport()).entryList(QDir::Files);
    for (auto _ : state) {
        state.PauseTiming();
        QDir(scratch).removeRecursively();
        QDir().mkpath(scratch);
        state.ResumeTiming();
        for (std::uint64_t address : addresses) {
            Dl_info info{};
            benchmark::DoNotOptimize(dladdr(reinterpret_cast<void*>(address), &info));
        }
        // Each file gzipped beside a copy of itself, as a package's parts are.
        for (const QString& name : names) {
            QFile file(processedReport() + QLatin1Char('/') + name);
            const bool read = file.open(QIODevice::ReadOnly);
            const QByteArray bytes = file.readAll();
            gzFile gz = gzopen(
                QFile::encodeName(scratch + QLatin1Char('/') + name + QStringLiteral(".gz")).constData(),
                "w");
            const bool written =
                gz != nullptr && gzwrite(gz, bytes.constData(), unsigned(bytes.size())) == int(bytes.size());
            if (gz == nullptr || gzclose(gz) != Z_OK || !read || !written) {
                state.SkipWithError("a file could not be gzipped");
                return;
            }
        }
    }
}

void BM_ProcessOnly(benchmark::State& state)
{
    processReports(state, QStringLiteral("tree2"), false);
}
BENCHMARK(BM_ProcessOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessAndPackageReport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareDladdrAndGzip)->Unit(benchmark::kMillisecond);

} // namespace
