// Codec throughput on stored-document payloads of 1,000 / 10,000 / 100,000 ideas: zlib
// compress and inflate, JsonText parse and serialize, and the bare nlohmann parse and dump
// of the same bytes for comparison. Every benchmark reports bytes of JSON text processed,
// so the output reads in MB/s.

#include "bench/BenchSupport.h"
#include "platform/core/JsonText.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"

#include <benchmark/benchmark.h>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>

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
