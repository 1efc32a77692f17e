// The resident memory of a decoded document tree of 100,000 ideas (the factory's mix), in a
// process of its own so that nothing else has touched the heap: VmRSS before decoding and
// after it (once the text and every transient buffer are freed and returned to the system),
// and VmHWM, the peak while decoding (reset just before it through /proc/self/clear_refs,
// so that making the text does not count). The goals: the tree, and the peak above what the
// process held before decoding, each at most three times the size of its JSON text. One run;
// the figures are counters of the single benchmark.

#include "bench/BenchSupport.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"

#include <QFile>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <malloc.h>

namespace {

using corvex::IdeaDocumentDataObject;

void decodedTreeMemory(benchmark::State& state)
{
    const int ideas = int(state.range(0));
    // Lazily made tables (colours, the class registry) are not the tree's.
    IdeaDocumentDataObject::registerCodables();
    (void)IdeaDocumentDataObject::readFromJSONData(
        corvex::test::makePayloadJson(corvex::test::makeDocumentTree(10)));

    QByteArray compressed;
    qsizetype jsonBytes = 0;
    {
        const QByteArray json = corvex::test::makePayloadJson(corvex::test::makeDocumentTree(ideas));
        jsonBytes = json.size();
        compressed = *corvex::Zlib::compress(json);
    }
    ::malloc_trim(0);
    {
        QFile refs(QStringLiteral("/proc/self/clear_refs"));
        if (!refs.open(QIODevice::WriteOnly) || refs.write("5") != 1)
            std::printf("the peak cannot be reset: VmHWM includes making the text\n");
    }

    corvex::IdeaDocumentDataObjectPtr tree;
    double before = 0;
    double after = 0;
    double heapInUse = 0;
    for (auto _ : state) {
        before = corvex::bench::processStatusBytes("VmRSS");
        const auto heapBefore = ::mallinfo2().uordblks;
        tree = IdeaDocumentDataObject::readFromSomeData(compressed);
        ::malloc_trim(0);
        after = corvex::bench::processStatusBytes("VmRSS");
        heapInUse = double(::mallinfo2().uordblks) - double(heapBefore);
    }
    if (!tree || tree->idea()->calculateWholeTreeSize() != ideas)
        state.SkipWithError("decoding failed");
    const double treeBytes = after - before;
    const double peakGrowth = corvex::bench::processStatusBytes("VmHWM") - before;
    state.counters["json_bytes"] = double(jsonBytes);
    state.counters["rss_before"] = before;
    state.counters["rss_after"] = after;
    state.counters["hwm"] = corvex::bench::processStatusBytes("VmHWM");
    state.counters["tree_bytes"] = treeBytes;
    state.counters["heap_bytes"] = heapInUse; // allocated and not freed, whatever the pages
    state.counters["bytes_per_idea"] = treeBytes / ideas;
    state.counters["tree_per_json"] = treeBytes / double(jsonBytes);
    state.counters["peak_growth_per_json"] = peakGrowth / double(jsonBytes);
    std::printf(
        "decoded %d ideas: JSON text %.1f MB, tree %.1f MB resident (%.2f x the text; %.1f MB of heap), "
        "VmRSS %.1f -> %.1f MB, VmHWM %.1f MB (peak %.1f MB above the start, %.2f x the text)\n",
        ideas, double(jsonBytes) / 1e6, treeBytes / 1e6, treeBytes / double(jsonBytes), heapInUse / 1e6,
        before / 1e6, after / 1e6, corvex::bench::processStatusBytes("VmHWM") / 1e6, peakGrowth / 1e6,
        peakGrowth / double(jsonBytes));
}

const corvex::bench::Registration registration([] {
    benchmark::RegisterBenchmark("Memory/decoded_tree", decodedTreeMemory)
        ->Arg(corvex::bench::tiny() ? 100 : 100000)
        ->ArgName("ideas")
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
});

} // namespace
