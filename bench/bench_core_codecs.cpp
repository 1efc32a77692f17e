// Codec throughput on stored-document payloads of 1,000 / 10,000 / 100,000 ideas: zlib
// compress and inflate, JsonText parse and serialize, and the bare nlohmann parse and dump
// of the same bytes for comparison. Every benchmark reports bytes of JSON text processed,
// so the output reads in MB/s.
//
// The roads of a stored document's deflate, on the 100,000 ideas and on the same tree with a
// small picture in one idea of fifty: ParallelDeflate as documents are saved, zlib's deflate
// at the default level and the whole-buffer one, each in one pass. Run under taskset with
// one, two and all cores: ParallelDeflate takes the cores the process may use. Each reports
// the stored bytes.

#include "bench/BenchSupport.h"
#include "platform/core/JsonText.h"
#include "platform/core/ParallelDeflate.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"

#include <benchmark/benchmark.h>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <zlib.h>

namespace {

using corvex::JsonText;
using corvex::Zlib;

const QByteArray& payload(std::int64_t ideas)
{
    static std::mutex mutex;
    static std::map<std::int64_t, QByteArray> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(ideas);
    if (it == cache.end())
        it = cache.emplace(ideas, corvex::test::makePayloadJson(corvex::test::makeDocumentTree(int(ideas))))
                 .first;
    return it->second;
}

void reportBytes(benchmark::State& state, qsizetype bytesPerIteration)
{
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytesPerIteration));
    state.counters["json_bytes"] = double(bytesPerIteration);
}

void zlibCompress(benchmark::State& state)
{
    const QByteArray& json = payload(state.range(0));
    for (auto _ : state) {
        auto compressed = Zlib::compress(json);
        benchmark::DoNotOptimize(compressed);
    }
    reportBytes(state, json.size());
    state.counters["ratio"] = double(json.size()) / double(Zlib::compress(json)->size());
}

void zlibInflate(benchmark::State& state)
{
    const QByteArray& json = payload(state.range(0));
    const QByteArray compressed = *Zlib::compress(json);
    for (auto _ : state) {
        auto inflated = Zlib::inflate(compressed);
        if (!inflated.ok())
            state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(inflated);
    }
    reportBytes(state, json.size());
}

void jsonTextParse(benchmark::State& state)
{
    const QByteArray& json = payload(state.range(0));
    for (auto _ : state) {
        auto value = JsonText::parse(json);
        if (!value.ok())
            state.SkipWithError("parse failed");
        benchmark::DoNotOptimize(value);
    }
    reportBytes(state, json.size());
}

void jsonTextSerialize(benchmark::State& state)
{
    const QByteArray& json = payload(state.range(0));
    const corvex::Value value = JsonText::parse(json).valueOr(corvex::Value());
    for (auto _ : state) {
        QByteArray text = JsonText::serialize(value);
        benchmark::DoNotOptimize(text);
    }
    reportBytes(state, json.size());
}

void nlohmannParse(benchmark::State& state)
{
    const QByteArray& json = payload(state.range(0));
    for (auto _ : state) {
        auto document = nlohmann::ordered_json::parse(json.constData(), json.constData() + json.size());
        benchmark::DoNotOptimize(document);
    }
    reportBytes(state, json.size());
}

void nlohmannDump(benchmark::State& state)
{
    const QByteArray& json = payload(state.range(0));
    const auto document = nlohmann::ordered_json::parse(json.constData(), json.constData() + json.size());
    for (auto _ : state) {
        std::string text = document.dump();
        benchmark::DoNotOptimize(text);
    }
    reportBytes(state, json.size());
}

// The document of `ideas` ideas, with or without a small picture in one idea of fifty.
const QByteArray& document(std::int64_t ideas, bool pictures)
{
    if (!pictures)
        return payload(ideas);
    static std::mutex mutex;
    static std::map<std::int64_t, QByteArray> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(ideas);
    if (it == cache.end()) {
        auto tree = corvex::test::makeDocumentTree(int(ideas));
        corvex::test::addPictures(tree, int(ideas / 50));
        it = cache.emplace(ideas, corvex::test::makePayloadJson(tree)).first;
    }
    return it->second;
}

template <class Deflate> void deflateRoad(benchmark::State& state, Deflate deflate)
{
    const QByteArray& json = document(state.range(0), state.range(1) != 0);
    qsizetype stored = 0;
    for (auto _ : state) {
        const QByteArray out = deflate(json);
        if (out.isEmpty())
            state.SkipWithError("deflate failed");
        stored = out.size();
        benchmark::DoNotOptimize(out);
    }
    reportBytes(state, json.size());
    state.counters["stored_bytes"] = double(stored);
}

void parallelDeflate(benchmark::State& state)
{
    deflateRoad(state, [](const QByteArray& json) {
        return corvex::ParallelDeflate::compress(json).valueOr(QByteArray());
    });
}

void zlibLevel6(benchmark::State& state)
{
    deflateRoad(state, [](const QByteArray& json) {
        uLongf size = compressBound(uLong(json.size()));
        QByteArray out(qsizetype(size), Qt::Uninitialized);
        const bool done = compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                                    reinterpret_cast<const Bytef*>(json.constData()), uLong(json.size()),
                                    Z_DEFAULT_COMPRESSION) == Z_OK;
        out.truncate(done ? qsizetype(size) : 0);
        return out;
    });
}

void wholeBuffer(benchmark::State& state)
{
    deflateRoad(state, [](const QByteArray& json) { return Zlib::compress(json).valueOr(QByteArray()); });
}

const corvex::bench::Registration deflateRegistration([] {
    const struct
    {
        const char* name;
        void (*function)(benchmark::State&);
    } roads[] = {
        {"Deflate/parallel", parallelDeflate},
        {"Deflate/zlib_level6", zlibLevel6},
        {"Deflate/whole_buffer", wholeBuffer},
    };
    for (const auto& road : roads) {
        auto* benchmark = benchmark::RegisterBenchmark(road.name, road.function);
        for (const std::int64_t ideas : corvex::bench::sizes({100000}, 100)) {
            benchmark->Args({ideas, 0});
            benchmark->Args({ideas, 1});
        }
        benchmark->ArgNames({"ideas", "pictures"})->Unit(benchmark::kMillisecond);
    }
});

const corvex::bench::Registration registration([] {
    const struct
    {
        const char* name;
        void (*function)(benchmark::State&);
    } benchmarks[] = {
        {"Zlib/compress", zlibCompress},           {"Zlib/inflate", zlibInflate},
        {"JsonText/parse", jsonTextParse},         {"JsonText/serialize", jsonTextSerialize},
        {"nlohmann/ordered_parse", nlohmannParse}, {"nlohmann/ordered_dump", nlohmannDump},
    };
    for (const auto& entry : benchmarks) {
        auto* benchmark = benchmark::RegisterBenchmark(entry.name, entry.function);
        for (const std::int64_t ideas : corvex::bench::sizes({1000, 10000, 100000}, 100))
            benchmark->Arg(ideas);
        benchmark->ArgName("ideas")->Unit(benchmark::kMillisecond);
    }
});

} // namespace
