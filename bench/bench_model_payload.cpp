// Document payloads of 1,000 / 10,000 / 100,000 ideas from the document factory: decoding
// (with the inflate, and from the JSON text alone) and encoding (to the JSON text, and with
// the deflate), beside the bare inflate, JSON parse, JSON serialise and deflate of the same
// bytes. The goals: decoding at most twice the bare inflate plus parse, encoding at most
// twice the bare serialise plus deflate. Every benchmark reports bytes of JSON text, so the
// output reads in MB/s. A decoded tree is freed outside the timed part (a reader keeps it);
// a parsed value inside it (a decoder frees it before it answers).

#include "bench/BenchSupport.h"
#include "model/DataExtension.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/core/JsonText.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"

#include <benchmark/benchmark.h>
#include <map>
#include <mutex>

namespace {

using corvex::DataExtension;
using corvex::IdeaDocumentDataObject;
using corvex::JsonText;

struct Payload
{
    QByteArray json;
    QByteArray compressed;
};

const Payload& payload(std::int64_t ideas)
{
    static std::mutex mutex;
    static std::map<std::int64_t, Payload> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(ideas);
    if (it == cache.end()) {
        Payload made;
        made.json = corvex::test::makePayloadJson(corvex::test::makeDocumentTree(int(ideas)));
        made.compressed = DataExtension::zlibDeflate(made.json).value();
        it = cache.emplace(ideas, std::move(made)).first;
    }
    return it->second;
}

void report(benchmark::State& state, const Payload& bytes)
{
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.json.size()));
    state.counters["json_bytes"] = double(bytes.json.size());
    state.counters["zlib_bytes"] = double(bytes.compressed.size());
}

void decodeCompressed(benchmark::State& state)
{
    const Payload& bytes = payload(state.range(0));
    IdeaDocumentDataObject::registerCodables();
    for (auto _ : state) {
        auto read = IdeaDocumentDataObject::readFromSomeData(bytes.compressed);
        if (!read || read->idea()->calculateWholeTreeSize() != state.range(0))
            state.SkipWithError("decoding failed");
        state.PauseTiming();
        read.reset();
        state.ResumeTiming();
    }
    report(state, bytes);
}

void decodeJson(benchmark::State& state)
{
    const Payload& bytes = payload(state.range(0));
    IdeaDocumentDataObject::registerCodables();
    for (auto _ : state) {
        auto read = IdeaDocumentDataObject::readFromJSONData(bytes.json);
        if (!read)
            state.SkipWithError("decoding failed");
        state.PauseTiming();
        read.reset();
        state.ResumeTiming();
    }
    report(state, bytes);
}

void bareInflate(benchmark::State& state)
{
    const Payload& bytes = payload(state.range(0));
    for (auto _ : state) {
        auto inflated = DataExtension::zlibInflate(bytes.compressed);
        if (!inflated.ok())
            state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(inflated);
    }
    report(state, bytes);
}

void bareParse(benchmark::State& state)
{
    const Payload& bytes = payload(state.range(0));
    for (auto _ : state) {
        // Freed inside the timed part, as a decoder frees its parsed value.
        auto value = JsonText::parse(bytes.json);
        if (!value.ok())
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    report(state, bytes);
}

void encodeJson(benchmark::State& state)
{
    const Payload& bytes = payload(state.range(0));
    const auto read = IdeaDocumentDataObject::readFromJSONData(bytes.json);
    for (auto _ : state) {
        auto written = read->jsonData();
        if (!written.ok())
            state.SkipWithError("encoding failed");
        benchmark::DoNotOptimize(written);
    }
    report(state, bytes);
}

void encodeCompressed(benchmark::State& state)
{
    const Payload& bytes = payload(state.range(0));
    const auto read = IdeaDocumentDataObject::readFromJSONData(bytes.json);
    for (auto _ : state) {
        auto written = read->corvexData();
        if (!written.ok())
            state.SkipWithError("encoding failed");
        benchmark::DoNotOptimize(written);
    }
    report(state, bytes);
}

void bareSerialize(benchmark::State& state)
{
    const Payload& bytes = payload(state.range(0));
    const corvex::Value value = JsonText::parse(bytes.json).valueOr(corvex::Value());
    for (auto _ : state) {
        QByteArray text = JsonText::serialize(value);
        benchmark::DoNotOptimize(text);
    }
    report(state, bytes);
}

void bareDeflate(benchmark::State& state)
{
    const Payload& bytes = payload(state.range(0));
    for (auto _ : state) {
        auto compressed = DataExtension::zlibDeflate(bytes.json);
        benchmark::DoNotOptimize(compressed);
    }
    report(state, bytes);
}

const corvex::bench::Registration registration([] {
    const struct
    {
        const char* name;
        void (*function)(benchmark::State&);
    } benchmarks[] = {
        {"Payload/decode_compressed", decodeCompressed},
        {"Payload/decode_json", decodeJson},
        {"Payload/bare_inflate", bareInflate},
        {"Payload/bare_parse", bareParse},
        {"Payload/encode_json", encodeJson},
        {"Payload/encode_compressed", encodeCompressed},
        {"Payload/bare_serialize", bareSerialize},
        {"Payload/bare_deflate", bareDeflate},
    };
    for (const auto& entry : benchmarks) {
        auto* benchmark = benchmark::RegisterBenchmark(entry.name, entry.function);
        for (const std::int64_t ideas : corvex::bench::sizes({1000, 10000, 100000}, 100))
            benchmark->Arg(ideas);
        benchmark->ArgName("ideas")->Unit(benchmark::kMillisecond);
    }
});

} // namespace
