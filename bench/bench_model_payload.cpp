// Document payloads of 1,000 / 10,000 / 100,000 ideas from the document factory (1,000,000
// with CORVEX_BENCH_LARGE=1), of today's shape and of the real shape (argument real=1: links,
// pictures, titles in several scripts; real=3, 4: the picture-rich real shape and its twin
// without pictures): decoding
// (with the inflate, and from the JSON text alone) and encoding (to the JSON text, and with
// the deflate), beside the yardsticks: zlib's inflate and deflate (at its default level) and
// nlohmann::json's parse and dump of the same bytes, each called directly so that they do
// not move with our own codecs. The stored bytes decoded are zlib's. The goals, measured in
// the same iterations by decode_beside_nlohmann and encode_beside_nlohmann: decoding at most
// 1.0 times the bare parse plus inflate, encoding and compressing at most 0.6 times the bare
// serialisation plus deflate. Every benchmark reports bytes of JSON text, so the output reads
// in MB/s. A decoded tree is freed outside the timed part (a reader keeps it); a parsed
// value inside it (a decoder frees it before it answers).

#include "bench/BenchSupport.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "platform/gfx/ImageCodec.h"
#include "tests/factory/DocumentFactory.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sys/mman.h>
#include <zlib.h>

namespace {

using corvex::IdeaDocumentDataObject;

struct Payload
{
    QByteArray json;
    QByteArray compressed;
};

// zlib's deflate at its default level, as a program without our codecs would call it.
QByteArray zlibDeflate(const QByteArray& text)
{
    uLongf size = compressBound(uLong(text.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(text.constData()), uLong(text.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        return QByteArray();
    out.truncate(qsizetype(size));
    return out;
}

// zlib's inflate of a stream whose text is known to be `size` bytes: the most favourable
// call there is (one output buffer, no growth).
QByteArray zlibInflate(const QByteArray& stream, qsizetype size)
{
    QByteArray out(size, Qt::Uninitialized);
    uLongf produced = uLongf(size);
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &produced,
                   reinterpret_cast<const Bytef*>(stream.constData()), uLong(stream.size())) != Z_OK ||
        produced != uLongf(size))
        return QByteArray();
    return out;
}

nlohmann::json nlohmannParse(const QByteArray& text)
{
    return nlohmann::json::parse(text.constData(), text.constData() + text.size());
}

// The payload of the state's arguments: {ideas, shape}.
const Payload& payload(const benchmark::State& state)
{
    static std::mutex mutex;
    static std::map<std::pair<std::int64_t, std::int64_t>, Payload> cache;
    std::lock_guard lock(mutex);
    const auto key = std::make_pair(state.range(0), state.range(1));
    auto it = cache.find(key);
    if (it == cache.end()) {
        Payload made;
        made.json = corvex::test::makePayloadJson(
            corvex::test::makeTree(corvex::test::TreeShape(key.second), int(key.first)));
        made.compressed = zlibDeflate(made.json);
        it = cache.emplace(key, std::move(made)).first;
    }
    return it->second;
}

// Whether a decoded document holds the whole tree the state asked for.
bool whole(const corvex::IdeaDocumentDataObjectPtr& read, const benchmark::State& state)
{
    return read && read->idea() && read->idea()->calculateWholeTreeSize() == state.range(0);
}

void report(benchmark::State& state, const Payload& bytes)
{
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.json.size()));
    state.counters["json_bytes"] = double(bytes.json.size());
    state.counters["zlib_bytes"] = double(bytes.compressed.size());
}

void decodeCompressed(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    IdeaDocumentDataObject::registerCodables();
    for (auto _ : state) {
        auto read = IdeaDocumentDataObject::readFromSomeData(bytes.compressed);
        if (!whole(read, state)) {
            state.SkipWithError("decoding failed");
            break;
        }
        state.PauseTiming();
        read.reset();
        state.ResumeTiming();
    }
    report(state, bytes);
}

void decodeJson(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    IdeaDocumentDataObject::registerCodables();
    for (auto _ : state) {
        auto read = IdeaDocumentDataObject::readFromJSONData(bytes.json);
        if (!whole(read, state)) {
            state.SkipWithError("decoding failed");
            break;
        }
        state.PauseTiming();
        read.reset();
        state.ResumeTiming();
    }
    report(state, bytes);
}

void bareInflate(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    for (auto _ : state) {
        QByteArray inflated = zlibInflate(bytes.compressed, bytes.json.size());
        if (inflated.isEmpty()) {
            state.SkipWithError("inflate failed");
            break;
        }
        benchmark::DoNotOptimize(inflated);
    }
    report(state, bytes);
}

void bareParse(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    for (auto _ : state) {
        // Freed inside the timed part, as a decoder frees its parsed value.
        nlohmann::json dom = nlohmannParse(bytes.json);
        benchmark::DoNotOptimize(dom);
    }
    report(state, bytes);
}

void encodeJson(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    const auto read = IdeaDocumentDataObject::readFromJSONData(bytes.json);
    if (!whole(read, state)) {
        state.SkipWithError("decoding failed");
        return;
    }
    for (auto _ : state) {
        auto written = read->jsonData();
        if (!written.ok()) {
            state.SkipWithError("encoding failed");
            break;
        }
        benchmark::DoNotOptimize(written);
    }
    report(state, bytes);
}

void encodeCompressed(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    const auto read = IdeaDocumentDataObject::readFromJSONData(bytes.json);
    if (!whole(read, state)) {
        state.SkipWithError("decoding failed");
        return;
    }
    for (auto _ : state) {
        auto written = read->corvexData();
        if (!written.ok()) {
            state.SkipWithError("encoding failed");
            break;
        }
        benchmark::DoNotOptimize(written);
    }
    report(state, bytes);
}

void bareSerialize(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    const nlohmann::json dom = nlohmannParse(bytes.json);
    for (auto _ : state) {
        std::string text = dom.dump();
        benchmark::DoNotOptimize(text);
    }
    report(state, bytes);
}

void bareDeflate(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    for (auto _ : state) {
        QByteArray compressed = zlibDeflate(bytes.json);
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
    const auto sizes = corvex::bench::sizes({1000, 10000, 100000}, 100, {1000000});
    for (const auto& entry : benchmarks) {
        auto* benchmark = benchmark::RegisterBenchmark(entry.name, entry.function);
        corvex::bench::addShapedSizes(benchmark, sizes, "ideas");
        benchmark->Unit(benchmark::kMillisecond);
    }
});

} // namespace

// Saving a document with pictures: 100,000 ideas, one in fifty with a small picture (2,000),
// read from its stored text like any opened document. Its save (the payload's JSON text, the
// main thread's part) against the save of the same tree without pictures and one copy of
// the picture bytes: pictures keep the bytes they were read with, so a save writes them
// without encoding them again. The goal: within 1.3 times that sum, measured in the same
// iterations by save_pictures_against_goal, which also copies into freshly mapped memory
// (the save's text always is; a reused buffer is already mapped). reencode_pictures is what
// each save spent on encoding the pictures as PNG before they kept their bytes.
namespace {

struct PictureDocument
{
    corvex::IdeaDocumentDataObjectPtr withPictures;
    corvex::IdeaDocumentDataObjectPtr withoutPictures;
    std::vector<corvex::IdeaPtr> pictureIdeas;
    qint64 pictureBytes = 0;
};

const PictureDocument& pictureDocument(std::int64_t ideas)
{
    static std::mutex mutex;
    static std::map<std::int64_t, PictureDocument> cache;
    std::lock_guard lock(mutex);
    auto it = cache.find(ideas);
    if (it == cache.end()) {
        IdeaDocumentDataObject::registerCodables();
        PictureDocument made;
        auto tree = corvex::test::makeDocumentTree(int(ideas));
        made.withoutPictures = IdeaDocumentDataObject::readFromJSONData(corvex::test::makePayloadJson(tree));
        corvex::test::addPictures(tree, int(ideas / 50));
        for (const auto& idea : tree)
            made.pictureBytes += idea.picture.size();
        made.withPictures = IdeaDocumentDataObject::readFromJSONData(corvex::test::makePayloadJson(tree));
        if (made.withPictures && made.withPictures->idea()) {
            made.withPictures->idea()->traverseNaturally(
                [&made](const corvex::IdeaPtr& idea, qint64) {
                    if (idea->image().hasImage())
                        made.pictureIdeas.push_back(idea);
                },
                0);
        }
        it = cache.emplace(ideas, std::move(made)).first;
    }
    return it->second;
}

void reportPictures(benchmark::State& state, const PictureDocument& document)
{
    if (document.pictureIdeas.empty())
        state.SkipWithError("the document holds no pictures");
    state.counters["pictures"] = double(document.pictureIdeas.size());
    state.counters["picture_bytes"] = double(document.pictureBytes);
}

void savePayload(benchmark::State& state, const corvex::IdeaDocumentDataObjectPtr& payload)
{
    if (!payload) {
        state.SkipWithError("the document did not decode");
        return;
    }
    qsizetype written = 0;
    for (auto _ : state) {
        auto json = payload->jsonData();
        if (!json.ok()) {
            state.SkipWithError("encoding failed");
            break;
        }
        written = json.ok() ? json.value().size() : 0;
        benchmark::DoNotOptimize(json);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(written));
    state.counters["json_bytes"] = double(written);
}

void savePictures(benchmark::State& state)
{
    const PictureDocument& document = pictureDocument(state.range(0));
    savePayload(state, document.withPictures);
    reportPictures(state, document);
}

void saveWithoutPictures(benchmark::State& state)
{
    const PictureDocument& document = pictureDocument(state.range(0));
    savePayload(state, document.withoutPictures);
    reportPictures(state, document);
}

void copyPictureBytes(benchmark::State& state)
{
    const PictureDocument& document = pictureDocument(state.range(0));
    std::vector<QByteArray> stored;
    for (const auto& idea : document.pictureIdeas)
        stored.push_back(idea->image().pngData());
    for (auto _ : state) {
        QByteArray copy(document.pictureBytes, Qt::Uninitialized);
        char* out = copy.data();
        for (const QByteArray& bytes : stored) {
            std::memcpy(out, bytes.constData(), std::size_t(bytes.size()));
            out += bytes.size();
        }
        benchmark::DoNotOptimize(copy);
    }
    reportPictures(state, document);
}

void reencodePictures(benchmark::State& state)
{
    const PictureDocument& document = pictureDocument(state.range(0));
    for (auto _ : state) {
        for (const auto& idea : document.pictureIdeas) {
            QByteArray png = corvex::ImageCodec::encodePNG(idea->image().cgImage());
            if (png.isEmpty()) {
                state.SkipWithError("a picture could not be encoded");
                return;
            }
            benchmark::DoNotOptimize(png);
        }
    }
    reportPictures(state, document);
}

// The three measures of the goal in the same iterations, so that the ratio compares like
// with like: the save with pictures against the save without them plus one copy of the
// picture bytes.
void savePicturesAgainstGoal(benchmark::State& state)
{
    using GoalClock = std::chrono::steady_clock;
    const PictureDocument& document = pictureDocument(state.range(0));
    if (!document.withPictures || !document.withoutPictures) {
        state.SkipWithError("the document did not decode");
        return;
    }
    std::vector<QByteArray> stored;
    for (const auto& idea : document.pictureIdeas)
        stored.push_back(idea->image().pngData());
    const auto milliseconds = [](GoalClock::time_point start) {
        return std::chrono::duration<double, std::milli>(GoalClock::now() - start).count();
    };
    double withPictures = 0;
    double withoutPictures = 0;
    double copying = 0;
    double freshCopying = 0;
    for (auto _ : state) {
        GoalClock::time_point start = GoalClock::now();
        auto json = document.withPictures->jsonData();
        const double saved = milliseconds(start);
        if (!json.ok()) {
            state.SkipWithError("encoding failed");
            break;
        }
        benchmark::DoNotOptimize(json);

        start = GoalClock::now();
        auto plain = document.withoutPictures->jsonData();
        withoutPictures += milliseconds(start);
        benchmark::DoNotOptimize(plain);

        start = GoalClock::now();
        QByteArray copy(document.pictureBytes, Qt::Uninitialized);
        char* out = copy.data();
        for (const QByteArray& bytes : stored) {
            std::memcpy(out, bytes.constData(), std::size_t(bytes.size()));
            out += bytes.size();
        }
        benchmark::DoNotOptimize(copy);
        copying += milliseconds(start);

        // The same copy into memory never touched before, as the save's text is (a buffer
        // of this size would otherwise come back from the allocator already mapped).
        start = GoalClock::now();
        void* fresh = ::mmap(nullptr, std::size_t(document.pictureBytes), PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (fresh == MAP_FAILED) {
            state.SkipWithError("no memory for the copy");
            break;
        }
        char* into = static_cast<char*>(fresh);
        for (const QByteArray& bytes : stored) {
            std::memcpy(into, bytes.constData(), std::size_t(bytes.size()));
            into += bytes.size();
        }
        benchmark::DoNotOptimize(into);
        freshCopying += milliseconds(start);
        ::munmap(fresh, std::size_t(document.pictureBytes));

        withPictures += saved;
        state.SetIterationTime(saved / 1e3);
    }
    const double iterations = double(std::max<benchmark::IterationCount>(1, state.iterations()));
    const double goal = withoutPictures + copying;
    state.counters["pictures_ms"] = withPictures / iterations;
    state.counters["without_pictures_ms"] = withoutPictures / iterations;
    state.counters["copy_ms"] = copying / iterations;
    const double freshGoal = withoutPictures + freshCopying;
    state.counters["fresh_copy_ms"] = freshCopying / iterations;
    state.counters["ratio"] = goal > 0 ? withPictures / goal : 0;
    state.counters["ratio_fresh"] = freshGoal > 0 ? withPictures / freshGoal : 0;
    std::printf("saving %lld ideas with %zu pictures: %.1f ms; without pictures %.1f ms + one copy of the "
                "picture bytes %.1f ms (into fresh memory %.1f ms); ratio %.2f (fresh %.2f; goal 1.3)\n",
                static_cast<long long>(state.range(0)), document.pictureIdeas.size(),
                withPictures / iterations, withoutPictures / iterations, copying / iterations,
                freshCopying / iterations, goal > 0 ? withPictures / goal : 0.0,
                freshGoal > 0 ? withPictures / freshGoal : 0.0);
    reportPictures(state, document);
}

const corvex::bench::Registration pictureRegistration([] {
    const struct
    {
        const char* name;
        void (*function)(benchmark::State&);
    } benchmarks[] = {
        {"Payload/save_pictures", savePictures},
        {"Payload/save_without_pictures", saveWithoutPictures},
        {"Payload/copy_picture_bytes", copyPictureBytes},
        {"Payload/reencode_pictures", reencodePictures},
    };
    for (const auto& entry : benchmarks) {
        auto* benchmark = benchmark::RegisterBenchmark(entry.name, entry.function);
        for (const std::int64_t ideas : corvex::bench::sizes({100000}, 100))
            benchmark->Arg(ideas);
        benchmark->ArgName("ideas")->Unit(benchmark::kMillisecond);
    }
    for (const std::int64_t ideas : corvex::bench::sizes({100000}, 100))
        benchmark::RegisterBenchmark("Payload/save_pictures_against_goal", savePicturesAgainstGoal)
            ->Arg(ideas)
            ->ArgName("ideas")
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
});

} // namespace

// Decoding beside its anchor: a bare nlohmann::json parse (a DOM of the text) plus zlib's
// inflate of the same bytes, both measured in the same iterations so that the ratio compares
// like with like; the tree, like the parsed DOM, is freed outside both measures. The goal:
// decoding within 1.0 times the anchor. Encoding beside its anchor likewise: the stored
// bytes of a document (its JSON text and deflate) against nlohmann::json's dump of the DOM
// of the same text plus zlib's deflate of that dump; the goal: within 0.6 times the anchor.
namespace {

using DecodeClock = std::chrono::steady_clock;

double elapsedMilliseconds(DecodeClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(DecodeClock::now() - start).count();
}

void bareNlohmannParseAndInflate(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    for (auto _ : state) {
        const QByteArray inflated = zlibInflate(bytes.compressed, bytes.json.size());
        if (inflated.isEmpty()) {
            state.SkipWithError("inflate failed");
            break;
        }
        auto dom = nlohmannParse(inflated);
        state.PauseTiming();
        dom = nlohmann::json();
        state.ResumeTiming();
    }
    report(state, bytes);
}

// The allocator's own work for what was just freed, done now: glibc sets many small freed
// blocks aside and merges them all at the next request of a kilobyte or more, which would
// otherwise charge the freeing of one side's result to whichever measure comes next.
void settleFreedMemory()
{
    const std::unique_ptr<char[]> block(new char[4096]);
    benchmark::DoNotOptimize(block.get());
}

// Runs `ours` and `anchor` once each per iteration, each answering its milliseconds (a
// negative number when it failed), and reports both and their ratio; `line` names them.
template <class Ours, class Anchor>
void runBeside(benchmark::State& state, const Payload& bytes, const char* line, Ours ours, Anchor anchor)
{
    double oursTotal = 0;
    double anchorTotal = 0;
    for (auto _ : state) {
        const double oursTime = ours();
        if (oursTime < 0) {
            state.SkipWithError("our side failed");
            break;
        }
        settleFreedMemory();
        anchorTotal += anchor();
        settleFreedMemory();
        oursTotal += oursTime;
        state.SetIterationTime(oursTime / 1e3);
    }
    const double iterations = double(std::max<benchmark::IterationCount>(1, state.iterations()));
    const double ratio = anchorTotal > 0 ? oursTotal / anchorTotal : 0;
    if (state.range(1) != 0)
        std::printf("real shape: ");
    state.counters["ours_ms"] = oursTotal / iterations;
    state.counters["anchor_ms"] = anchorTotal / iterations;
    state.counters["ratio"] = ratio;
    std::printf(line, static_cast<long long>(state.range(0)), oursTotal / iterations,
                anchorTotal / iterations, ratio);
    report(state, bytes);
}

void decodeBesideNlohmann(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    IdeaDocumentDataObject::registerCodables();
    runBeside(
        state, bytes,
        "decoding %lld ideas: %.1f ms; bare nlohmann::json parse + zlib inflate: %.1f ms; ratio %.2f (goal "
        "1.0)\n",
        [&] {
            const DecodeClock::time_point start = DecodeClock::now();
            const auto read = IdeaDocumentDataObject::decodeSomeData(bytes.compressed);
            const double decoded = elapsedMilliseconds(start);
            const bool whole = read.ok() && read.value()->idea()->calculateWholeTreeSize() == state.range(0);
            return whole ? decoded : -1.0; // the tree is freed here, outside both measures
        },
        [&] {
            const DecodeClock::time_point start = DecodeClock::now();
            auto dom = nlohmannParse(zlibInflate(bytes.compressed, bytes.json.size()));
            const double parsed = elapsedMilliseconds(start);
            benchmark::DoNotOptimize(dom);
            return parsed;
        });
}

void encodeBesideNlohmann(benchmark::State& state)
{
    const Payload& bytes = payload(state);
    const auto read = IdeaDocumentDataObject::readFromJSONData(bytes.json);
    const nlohmann::json dom = nlohmannParse(bytes.json);
    if (!read) {
        state.SkipWithError("decoding failed");
        return;
    }
    qsizetype stored = 0;
    runBeside(
        state, bytes,
        "encoding and compressing %lld ideas: %.1f ms; bare nlohmann::json dump + zlib deflate: %.1f ms; "
        "ratio %.2f (goal 0.6)\n",
        [&] {
            const DecodeClock::time_point start = DecodeClock::now();
            auto written = read->corvexData();
            const double encoded = elapsedMilliseconds(start);
            stored = written.ok() ? written.value().size() : 0;
            benchmark::DoNotOptimize(written);
            return written.ok() ? encoded : -1.0;
        },
        [&] {
            const DecodeClock::time_point start = DecodeClock::now();
            std::string text = dom.dump();
            QByteArray deflated = zlibDeflate(bytes.json);
            const double dumped = elapsedMilliseconds(start);
            benchmark::DoNotOptimize(text);
            benchmark::DoNotOptimize(deflated);
            return dumped;
        });
    state.counters["stored_bytes"] = double(stored);
}

const corvex::bench::Registration decodingAnchorRegistration([] {
    const auto sizes = corvex::bench::sizes({1000, 10000, 100000}, 100, {1000000});
    corvex::bench::addShapedSizes(
        benchmark::RegisterBenchmark("Payload/bare_nlohmann_parse_and_inflate", bareNlohmannParseAndInflate),
        sizes, "ideas")
        ->Unit(benchmark::kMillisecond);
    using Function = void (*)(benchmark::State&);
    for (const auto& [name, function] :
         {std::pair<const char*, Function>{"Payload/decode_beside_nlohmann", decodeBesideNlohmann},
          std::pair<const char*, Function>{"Payload/encode_beside_nlohmann", encodeBesideNlohmann}})
        corvex::bench::addShapedSizes(benchmark::RegisterBenchmark(name, function), sizes, "ideas")
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
});

} // namespace
