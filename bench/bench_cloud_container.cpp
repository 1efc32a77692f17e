// Starting the iCloud location over a synced container folder of 1,000 documents (100 ideas
// each, from the document factory, stored as plain JSON as the container keeps them).
//
// - Cloud/start_without_index: a CloudMode starts over a container whose index lists none
//   of the documents (a new machine, an index lost to a sync conflict), so every summary is
//   read from its document file, one at a time. Timed from the mode's creation to status 5.
// - Cloud/start_with_index: the same over a container whose index lists every document:
//   the summaries come from the index and no document is read.
// - Cloud/read_summaries_directly: the yardstick: each document file read, decoded and
//   summarised in a plain loop on one thread. Goal: start_without_index within 1.5x of it
//   on 2 cores (taskset -c 6,7) in the release tree.
//
// Reported beside the time: the documents reported and the peak resident memory so far.

#include "bench/BenchSupport.h"
#include "cloud/container/CloudMode.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Log.h"
#include "platform/core/SaveFile.h"
#include "platform/core/WholeFileReader.h"
#include "storage/IdeaProxy.h"
#include "storage/PersistenceStateDelegate.h"
#include "tests/factory/DocumentFactory.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <map>
#include <memory>

namespace {

using corvex::IdeaDocument;
using corvex::IdeaProxyPtr;
using Clock = std::chrono::steady_clock;

constexpr int CloudIdeasPerDocument = 100;

double cloudSeconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

struct Container
{
    QString folder; // the container
    std::vector<IdeaProxyPtr> proxies;
};

// Two containers of the same documents: one whose index lists them all, one without.
Container* container(std::int64_t documents, bool withIndex)
{
    static std::map<std::pair<std::int64_t, bool>, std::unique_ptr<Container>> made;
    const auto key = std::make_pair(documents, withIndex);
    if (auto it = made.find(key); it != made.end())
        return it->second.get();
    auto result = std::make_unique<Container>();
    result->folder =
        corvex::bench::folder().path() + QStringLiteral("/container-%1-%2").arg(documents).arg(withIndex);
    const QString docs = result->folder + QStringLiteral("/Documents");
    QDir().mkpath(docs + QStringLiteral("/attachments"));
    for (std::int64_t i = 0; i < documents; ++i) {
        const auto payload = corvex::IdeaDocumentDataObject::readFromJSONData(corvex::test::makePayloadJson(
            corvex::test::makeDocumentTree(CloudIdeasPerDocument, 8, quint32(i + 1))));
        if (!payload)
            return nullptr;
        const QString name = QStringLiteral("bench%1.crvx").arg(i, 5, 10, QLatin1Char('0'));
        const auto json = payload->jsonData();
        if (!json.ok() ||
            !corvex::SaveFile::writeAtomically(docs + QLatin1Char('/') + name, json.value()).ok())
            return nullptr;
        const auto document = IdeaDocument::initWithFileName(name, IdeaDocument::ICloudLocation);
        document->setIdea(payload->idea());
        document->setDateCreated(payload->dateCreated());
        document->setDateModified(payload->dateModified());
        result->proxies.push_back(corvex::IdeaProxy::initWithDoc(document));
        document->setIdea(nullptr);
    }
    if (withIndex) {
        const QUrl url = QUrl::fromLocalFile(docs + QStringLiteral("/corvex.index"));
        const auto index = corvex::IndexDocument::initWithFileURL(url);
        index->setIdeaProxyList(result->proxies);
        // The completion is posted, as every completion is: wait for it.
        bool done = false;
        bool saved = false;
        index->saveBinaryToURL(url, [&](bool ok) {
            saved = ok;
            done = true;
        });
        corvex::bench::waitFor([&] { return done; });
        if (!saved)
            return nullptr;
    }
    return made.emplace(key, std::move(result)).first->second.get();
}

// Counts what the mode reports.
class StartWatcher final : public corvex::PersistenceStateDelegate
{
public:
    void statusChange(corvex::PersistenceStateStatus status, corvex::PersistenceState*) override
    {
        if (status == corvex::PersistenceStateStatusAllFound)
            inSync = true;
    }
    void observeIdeaProxy(const IdeaProxyPtr&, corvex::PersistenceState*) override { ++summaries; }
    void observeProxyList(const std::vector<IdeaProxyPtr>& list, corvex::PersistenceState*) override
    {
        summaries += std::int64_t(list.size());
    }
    void ideaDocumentDeleted(const QString&, corvex::PersistenceState*) override {}
    void foundIdeaDocument(const QString&, corvex::PersistenceState*) override { ++found; }
    void detectedDocumentConflict(const QString&, corvex::PersistenceState*) override {}

    bool inSync = false;
    std::int64_t found = 0;
    std::int64_t summaries = 0;
};

void startMode(benchmark::State& state, bool withIndex)
{
    const Container* stored = container(state.range(0), withIndex);
    if (!stored) {
        state.SkipWithError("the container could not be written");
        return;
    }
    std::int64_t summaries = 0;
    for (auto _ : state) {
        auto watcher = std::make_shared<StartWatcher>();
        const Clock::time_point start = Clock::now();
        auto mode = corvex::CloudMode::create(corvex::CloudServices::forFolder(stored->folder, false));
        mode->setDelegate(watcher);
        corvex::bench::waitFor([&] { return watcher->inSync; });
        state.SetIterationTime(cloudSeconds(Clock::now() - start));
        summaries = watcher->summaries;
        mode->leaveState();
        if (watcher->found != state.range(0) || summaries != state.range(0)) {
            state.SkipWithError("not every document was found and summarised");
            break;
        }
    }
    state.counters["summaries"] = double(summaries);
    state.counters["peak_rss_mb"] = corvex::bench::peakResidentMegabytes();
}

void readDirectly(benchmark::State& state)
{
    const Container* stored = container(state.range(0), false);
    if (!stored) {
        state.SkipWithError("the container could not be written");
        return;
    }
    const QString docs = stored->folder + QStringLiteral("/Documents");
    std::int64_t summaries = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        summaries = 0;
        const QStringList names = QDir(docs).entryList({QStringLiteral("*.crvx")}, QDir::Files, QDir::Name);
        for (const QString& name : names) {
            auto bytes = corvex::WholeFileReader::read(docs + QLatin1Char('/') + name, qint64(1) << 30);
            const auto payload =
                bytes.ok() ? corvex::IdeaDocumentDataObject::readFromSomeData(bytes.value()) : nullptr;
            if (!payload) {
                state.SkipWithError("a document could not be read");
                return;
            }
            const auto document = IdeaDocument::initWithFileName(name, IdeaDocument::ICloudLocation);
            document->applyDataObject(payload);
            benchmark::DoNotOptimize(corvex::IdeaProxy::initWithDoc(document));
            ++summaries;
        }
        state.SetIterationTime(cloudSeconds(Clock::now() - start));
    }
    state.counters["summaries"] = double(summaries);
    state.counters["peak_rss_mb"] = corvex::bench::peakResidentMegabytes();
}

const corvex::bench::Registration cloudRegistration([] {
    corvex::IdeaDocumentDataObject::registerCodables();
    corvex::IdeaProxy::registerCodable();
    corvex::Log::setSink([](corvex::LogLevel level, const QString& message) {
        if (level >= corvex::LogLevel::Warning)
            std::fprintf(stderr, "%s\n", message.toUtf8().constData());
    });
    const std::vector<std::int64_t> documents = corvex::bench::sizes({1000}, 20);
    const int iterations = corvex::bench::tiny() ? 1 : 5;
    for (const auto& [name, run] :
         {std::pair<const char*, void (*)(benchmark::State&)>{"Cloud/read_summaries_directly", readDirectly},
          {"Cloud/start_without_index", [](benchmark::State& s) { startMode(s, false); }},
          {"Cloud/start_with_index", [](benchmark::State& s) { startMode(s, true); }}}) {
        auto* benchmark = benchmark::RegisterBenchmark(name, run);
        for (const std::int64_t count : documents)
            benchmark->Arg(count);
        benchmark->ArgName("documents")
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(iterations);
    }
});

} // namespace
