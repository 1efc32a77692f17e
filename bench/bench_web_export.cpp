// The web export of the document factory's 10,000-idea tree with 500 pictures (about 16 KB
// each): the whole chain (copy of the tree, data.js, picture files, index page, viewer and
// instructions, the archive) against ZipWrapper alone packing the same site folder, the
// yardstick the export should stay within twice of. Reported: site_mb (the files packed),
// archive_mb, and for the export the ratio to the last yardstick run.

#include "bench/BenchSupport.h"
#include "export/WebExporter.h"
#include "formats/ZipWrapper.h"
#include "model/IdeaDocumentDataObject.h"
#include "tests/factory/DocumentFactory.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <map>
#include <utility>

namespace {

using corvex::IdeaPtr;

IdeaPtr factoryTree(std::int64_t ideas, int pictures)
{
    static std::map<std::pair<std::int64_t, int>, IdeaPtr> trees;
    IdeaPtr& tree = trees[{ideas, pictures}];
    if (!tree) {
        auto nodes = corvex::test::makeDocumentTree(int(ideas));
        corvex::test::addPictures(nodes, pictures);
        tree = corvex::IdeaDocumentDataObject::readFromJSONData(corvex::test::makePayloadJson(nodes))->idea();
    }
    return tree;
}

int picturesFor(std::int64_t ideas)
{
    return int(ideas / 20);
}

bool exportOnce(const IdeaPtr& tree, const QString& zip)
{
    bool done = false;
    bool ok = false;
    corvex::WebExporter::saveWebExportFrom(tree, 0, 1, QUrl::fromLocalFile(zip),
                                           [&](const corvex::Status& result) {
                                               ok = result.ok();
                                               done = true;
                                           });
    corvex::bench::waitFor([&] { return done; });
    return ok;
}

double megabytesBelow(const QString& folder)
{
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        bytes += it.fileInfo().size();
    }
    return double(bytes) / 1e6;
}

double& lastZipSeconds()
{
    static double seconds = 0;
    return seconds;
}

void zipAlone(benchmark::State& state)
{
    const IdeaPtr tree = factoryTree(state.range(0), picturesFor(state.range(0)));
    const QString zip = corvex::bench::folder().filePath(QStringLiteral("site.zip"));
    const QString site = corvex::bench::folder().filePath(QStringLiteral("site-%1").arg(state.range(0)));
    if (!QFileInfo::exists(site)) {
        if (!exportOnce(tree, zip) || !corvex::ZipWrapper::unzipFileAtPath(zip, site)) {
            state.SkipWithError("the export failed");
            return;
        }
    }
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!corvex::ZipWrapper::createZipFileAtPathWithContentsOfDirectory(zip, site))
            state.SkipWithError("packing failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    lastZipSeconds() = state.iterations() > 0 ? total / double(state.iterations()) : 0;
    state.counters["site_mb"] = megabytesBelow(site);
    state.counters["archive_mb"] = double(QFileInfo(zip).size()) / 1e6;
}

void webExport(benchmark::State& state)
{
    const IdeaPtr tree = factoryTree(state.range(0), picturesFor(state.range(0)));
    const QString zip = corvex::bench::folder().filePath(QStringLiteral("web.zip"));
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!exportOnce(tree, zip))
            state.SkipWithError("the export failed");
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["archive_mb"] = double(QFileInfo(zip).size()) / 1e6;
    if (lastZipSeconds() > 0 && state.iterations() > 0)
        state.counters["ratio_to_zip"] = total / double(state.iterations()) / lastZipSeconds();
}

const corvex::bench::Registration registration([] {
    using Function = void (*)(benchmark::State&);
    const std::pair<const char*, Function> benchmarks[] = {{"WebExport/zip_alone", zipAlone},
                                                           {"WebExport/export", webExport}};
    for (const auto& [name, function] : benchmarks) {
        benchmark::RegisterBenchmark(name, function)
            ->ArgsProduct({corvex::bench::sizes({10000}, 100)})
            ->ArgNames({"ideas"})
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
});

} // namespace
