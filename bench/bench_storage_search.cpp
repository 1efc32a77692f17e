// Searching the documents of a cloud location: 1,000 documents of 150 ideas each from the
// document factory, and one document of 100,000 ideas (of 1,000,000 too with
// CORVEX_BENCH_LARGE=1), each of today's shape and of the real shape (links, pictures, titles
// in several scripts), stored by the in-process back end in a temporary folder. Arguments:
// documents, ideas (a document's), real (the shape: 0 or 1; 2, the real shape whose links are
// plain ideas, for the first search, its yardstick and the scan; 3, the picture-rich real
// shape, and 4, its twin without pictures).
//
// - Storage/search_first: a new workspace takes the location's list and is searched at once,
//   so the search reads every document before it answers. Timed from the list's arrival to
//   the answer. Beside it, bare_ms: the yardstick below, run right after each search in the
//   same process, and vs_bare, the search's time over it. The goal: at most 1.5 on 1 and on
//   2 cores (taskset -c 0 / -c 0,1) in the release tree.
// - Storage/bare_read_inflate: the yardstick: the same files read and inflated on as many
//   threads as the process has cores, through the kernel and libdeflate directly
//   (BareReadInflate.h).
// - Storage/search_cached/<text>: the same search again, answered from the search cache.
//   Timed from the request to the answer. The goal: within 20 ms on 2 cores
//   (taskset -c 0,1) in the release tree.
// - Storage/scan_texts: the search's scanner alone (PayloadTextScanner::scan) over the same
//   documents' inflated texts on one thread, each text fresh in the cache and the maps kept
//   as a search keeps them. Timed: the scans alone; in bytes of JSON text a second.
//
// Reported beside the time: the matching documents, the cached strings, and the peak
// resident memory of the process so far (peak_rss_mb, from VmHWM).

#include "bench/BareReadInflate.h"
#include "bench/BenchSupport.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Log.h"
#include "platform/core/Zlib.h"
#include "storage/IdeaProxy.h"
#include "storage/PayloadTextScanner.h"
#include "storage/Workspace.h"
#include "storage/WorkspaceDelegate.h"
#include "tests/doubles/storage/TestFolderPersistenceState.h"
#include "tests/factory/DocumentFactory.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace {

using corvex::IdeaProxyPtr;
using corvex::TestFolderPersistenceState;
using corvex::Workspace;
using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

using corvex::bench::peakResidentMegabytes;

// The stored documents of one size: written once, read by every benchmark of that size.
struct StoredLocation
{
    QTemporaryDir folder;
    std::vector<IdeaProxyPtr> proxies;
    std::vector<std::string> paths; // the document files, for the yardstick
};

// The location of the state's arguments: {documents, ideas, shape}.
StoredLocation* storedLocation(const benchmark::State& state)
{
    static std::map<std::vector<std::int64_t>, std::unique_ptr<StoredLocation>> locations;
    const std::int64_t documents = state.range(0);
    const std::vector<std::int64_t> key{documents, state.range(1), state.range(2)};
    auto it = locations.find(key);
    if (it != locations.end())
        return it->second.get();
    auto location = std::make_unique<StoredLocation>();
    const auto writer =
        TestFolderPersistenceState::create(location->folder.path(), corvex::IdeaDocument::DropboxLocation);
    for (std::int64_t i = 0; i < documents; ++i) {
        const auto payload = corvex::IdeaDocumentDataObject::readFromJSONData(corvex::test::makePayloadJson(
            corvex::test::makeTree(corvex::test::TreeShape(key[2]), int(key[1]), 8, quint32(i + 1))));
        if (!payload)
            return nullptr;
        IdeaProxyPtr proxy = writer->writeDocumentFile(
            writer->docIdentifierForFileName(QStringLiteral("bench%1.crvx").arg(i)), payload->idea());
        if (!proxy)
            return nullptr;
        location->paths.push_back(
            QFile::encodeName(writer->documentPath(proxy->docIdentifier())).toStdString());
        location->proxies.push_back(std::move(proxy));
    }
    return locations.emplace(key, std::move(location)).first->second.get();
}

// Keeps what a workspace's searches found.
class SearchReplies final : public corvex::WorkspaceDelegate
{
public:
    void statusChange(corvex::WorkspaceStatus, Workspace&) override {}
    void batchUpdateDoneInWorkspace(Workspace&) override {}
    void documentAppended(const IdeaProxyPtr&, Workspace&) override {}
    void documentAdded(const IdeaProxyPtr&, qint64, Workspace&) override {}
    void documentMoved(const IdeaProxyPtr&, qint64, Workspace&) override {}
    void documentUpdated(const IdeaProxyPtr&, Workspace&) override {}
    void documentDeleted(const QString&, Workspace&) override {}
    void searchIsReady(const std::vector<IdeaProxyPtr>& proxies, qint64 requestIdentifier,
                       Workspace&) override
    {
        replies[requestIdentifier] = proxies.size();
    }

    bool answered(qint64 requestIdentifier) const { return replies.count(requestIdentifier) != 0; }

    std::map<qint64, std::size_t> replies;
};

using corvex::bench::waitFor;

struct SearchedWorkspace
{
    SearchReplies replies;
    std::shared_ptr<TestFolderPersistenceState> state;
    std::shared_ptr<Workspace> workspace;
};

// A new workspace over the stored documents; the list arrives and `text` is searched at
// once. Returns the time from the list to the answer.
double firstSearch(SearchedWorkspace& searched, const StoredLocation& location, const QString& text)
{
    searched.state =
        TestFolderPersistenceState::create(location.folder.path(), corvex::IdeaDocument::DropboxLocation);
    searched.workspace =
        Workspace::initForLocation(corvex::IdeaDocument::DropboxLocation, searched.state, &searched.replies);
    // The back end reports what it found, then the index's list.
    for (const IdeaProxyPtr& proxy : location.proxies)
        searched.workspace->foundIdeaDocument(proxy->docIdentifier(), searched.state.get());
    const qint64 request = Workspace::nextSearchRequestID();
    const Clock::time_point start = Clock::now();
    searched.workspace->observeProxyList(location.proxies, searched.state.get());
    searched.workspace->startSearch(text, request);
    waitFor([&] { return searched.replies.answered(request); });
    return seconds(Clock::now() - start);
}

qint64 cachedStrings(const Workspace& workspace, const StoredLocation& location)
{
    qint64 strings = 0;
    for (const IdeaProxyPtr& proxy : location.proxies) {
        if (const auto* map = workspace.searchCache().mapFor(proxy->docIdentifier()))
            strings += map->count();
    }
    return strings;
}

void searchFirst(benchmark::State& state)
{
    const StoredLocation* location = storedLocation(state);
    if (!location) {
        state.SkipWithError("the documents could not be written");
        return;
    }
    std::size_t matches = 0;
    qint64 strings = 0;
    double searchSeconds = 0;
    double bareSeconds = 0;
    for (auto _ : state) {
        SearchedWorkspace searched;
        const double seconds = firstSearch(searched, *location, QStringLiteral("garden"));
        state.SetIterationTime(seconds);
        searchSeconds += seconds;
        bareSeconds += corvex::bench::bareReadAndInflate(location->paths).seconds;
        const auto& replies = searched.replies.replies;
        matches = replies.empty() ? 0 : replies.begin()->second;
        strings = cachedStrings(*searched.workspace, *location);
        if (qsizetype(searched.workspace->searchCache().count()) != qsizetype(location->proxies.size())) {
            state.SkipWithError("the first search did not cache every document");
            break;
        }
        if (matches == 0) { // the word is in the factory's texts
            state.SkipWithError("the first search found nothing");
            break;
        }
        searched.workspace->setDelegate(nullptr);
    }
    state.counters["matches"] = double(matches);
    state.counters["cached_strings"] = double(strings);
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
    state.counters["cores"] = corvex::bench::usableCores();
    if (bareSeconds > 0) {
        state.counters["bare_ms"] =
            benchmark::Counter(bareSeconds * 1000, benchmark::Counter::kAvgIterations);
        state.counters["vs_bare"] = searchSeconds / bareSeconds;
    }
}

void scanTexts(benchmark::State& state)
{
    const StoredLocation* location = storedLocation(state);
    if (!location) {
        state.SkipWithError("the documents could not be written");
        return;
    }
    // The payloads' inflated texts, each at its exact size; read here, not with the documents,
    // so that they weigh on no other benchmark's peak memory.
    std::vector<QByteArray> texts;
    for (const std::string& path : location->paths) {
        QFile file(QFile::decodeName(path.c_str()));
        const corvex::Result<QByteArray> text = file.open(QIODevice::ReadOnly)
                                                    ? corvex::Zlib::inflate(file.readAll())
                                                    : corvex::Result<QByteArray>(QByteArray());
        if (!text.ok() || text.value().isEmpty()) {
            state.SkipWithError("a document could not be read");
            return;
        }
        texts.emplace_back(text.value().constData(), text.value().size());
    }
    std::vector<std::optional<corvex::IdeaTextMap>> maps(texts.size());
    std::vector<char> text;
    qint64 strings = 0;
    std::int64_t bytes = 0;
    for (auto _ : state) {
        Clock::duration scanning{};
        strings = 0;
        for (std::size_t i = 0; i < maps.size(); ++i) {
            // Each text fresh in the cache, as a search scans it right after inflating it.
            text.assign(texts[i].begin(), texts[i].end());
            const Clock::time_point start = Clock::now();
            maps[i] = corvex::PayloadTextScanner::scan(QByteArrayView(text.data(), qsizetype(text.size())));
            scanning += Clock::now() - start;
            // Every text the writer writes is scanned, links and all: a declined one would take
            // the search's slower road, and this figure would not be the search's.
            if (!maps[i]) {
                state.SkipWithError("a text was not scanned");
                return;
            }
            strings += maps[i]->count();
            bytes += std::int64_t(text.size());
        }
        state.SetIterationTime(seconds(scanning));
        for (std::optional<corvex::IdeaTextMap>& map : maps)
            map.reset();
    }
    state.SetBytesProcessed(bytes);
    state.counters["cached_strings"] = double(strings);
}

// The yardstick alone.
void bareReadInflate(benchmark::State& state)
{
    const StoredLocation* location = storedLocation(state);
    if (!location) {
        state.SkipWithError("the documents could not be written");
        return;
    }
    corvex::bench::BareReadInflateResult result;
    for (auto _ : state) {
        result = corvex::bench::bareReadAndInflate(location->paths);
        state.SetIterationTime(result.seconds);
    }
    if (result.files != qint64(location->paths.size()))
        state.SkipWithError("a file could not be read or inflated");
    state.counters["cores"] = corvex::bench::usableCores();
    state.counters["inflated_mb"] = double(result.inflatedBytes) / (1024.0 * 1024.0);
    state.counters["compressed_mb"] = double(result.compressedBytes) / (1024.0 * 1024.0);
}

void searchCached(benchmark::State& state, const QString& text)
{
    const StoredLocation* location = storedLocation(state);
    if (!location) {
        state.SkipWithError("the documents could not be written");
        return;
    }
    SearchedWorkspace searched;
    firstSearch(searched, *location, QStringLiteral("warm up"));
    // The list's own refresh search answers after the first one; let it finish.
    waitFor([&] {
        return searched.workspace->searchRequestID() == 0 &&
               searched.workspace->pendingRefreshSearchID() == 0;
    });
    if (qsizetype(searched.workspace->searchCache().count()) != qsizetype(location->proxies.size())) {
        state.SkipWithError("the first search did not cache every document");
        return;
    }
    std::size_t matches = 0;
    for (auto _ : state) {
        const qint64 request = Workspace::nextSearchRequestID();
        const Clock::time_point start = Clock::now();
        searched.workspace->startSearch(text, request);
        waitFor([&] { return searched.replies.answered(request); });
        state.SetIterationTime(seconds(Clock::now() - start));
        matches = searched.replies.replies[request];
    }
    if (text.isEmpty() && matches != location->proxies.size())
        state.SkipWithError("the search without a text did not answer the whole list");
    state.counters["matches"] = double(matches);
    state.counters["cached_strings"] = double(cachedStrings(*searched.workspace, *location));
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
    searched.workspace->setDelegate(nullptr);
}

const corvex::bench::Registration registration([] {
    corvex::IdeaDocumentDataObject::registerCodables();
    corvex::IdeaProxy::registerCodable();
    // {documents, ideas a document}: many small documents and one large one, each on both
    // shapes.
    std::vector<std::pair<std::int64_t, std::int64_t>> locations{{1000, 150}, {1, 100000}};
    if (corvex::bench::tiny())
        locations = {{20, 150}};
    else if (corvex::bench::large())
        locations.emplace_back(1, 1000000);
    // withoutLinks: also on the real shape whose links are plain ideas (real=2), the yardstick
    // of what links cost a search's read.
    const auto addLocations = [&](benchmark::internal::Benchmark* benchmark, bool withoutLinks = false) {
        for (const auto& [documents, ideas] : locations) {
            for (const std::int64_t shape : corvex::bench::shapes(withoutLinks, ideas))
                benchmark->Args({documents, ideas, shape});
        }
        return benchmark->ArgNames({"documents", "ideas", "real"})
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
    };

    addLocations(benchmark::RegisterBenchmark("Storage/search_first", searchFirst), true)
        ->Iterations(corvex::bench::tiny() ? 1 : 3);
    addLocations(benchmark::RegisterBenchmark("Storage/bare_read_inflate", bareReadInflate), true);

    const struct
    {
        const char* label;
        QString text;
    } texts[] = {
        {"word", QStringLiteral("garden")},           // a word of the factory's texts
        {"accented", QStringLiteral("Zürich")},       // upper case and an accent
        {"letter", QStringLiteral("e")},              // in nearly every string
        {"icon", QStringLiteral("\U0001F680")},       // an icon's symbol
        {"absent", QStringLiteral("no such phrase")}, // in no string
        {"no_text", QString()},                       // the whole list
    };
    for (const auto& entry : texts) {
        const QString text = entry.text;
        addLocations(
            benchmark::RegisterBenchmark((std::string("Storage/search_cached/") + entry.label).c_str(),
                                         [text](benchmark::State& state) { searchCached(state, text); }));
    }

    // Last: its texts held whole would count in the peak memory of the benchmarks after it.
    addLocations(benchmark::RegisterBenchmark("Storage/scan_texts", scanTexts), true);
});

} // namespace
