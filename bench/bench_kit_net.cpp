// The reporting kit's HTTP client and multipart encoder against their bare equivalents.
//
// - Kit/small_gets/client/<n>: n GETs of a 32-byte body one after the other through
//   LOMNetworkClient (work-alike session, response classification, no retries), each started
//   from the completion of the one before, as the kit's operations chain their requests.
// - Kit/small_gets/curl_easy/<n>: the same n GETs through one bare libcurl easy handle in a
//   loop (the connection kept). Goal: the client at most 1.5x this.
// - Kit/multipart/encode_file/<MiB>: a file of that size encoded as one file part of a
//   multipart body written to a file (read whole, as the encoder's file parts are).
// - Kit/multipart/plain_copy/<MiB>: the same file read whole and written to another file.
//   Goal: the encoding at most 1.3x this.
//
// Figures: the release tree, pinned (taskset -c 4,5).

#include "bench/BareCurlLoop.h"
#include "bench/BenchSupport.h"
#include "kit/net/LOMMultipartMimeStreamEncoder.h"
#include "kit/net/LOMNetworkClient.h"
#include "platform/core/MainQueue.h"
#include "tests/support/net/LoopbackServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <benchmark/benchmark.h>
#include <curl/curl.h>

namespace {

using corvex::test::LoopbackServer;

constexpr qint64 kKitMiB = 1024 * 1024;

LoopbackServer& kitServer()
{
    static LoopbackServer* instance = [] {
        auto* made = new LoopbackServer();
        made->route("/small", LoopbackServer::fixed(QByteArray(32, 's')));
        if (!made->start())
            std::abort();
        return made;
    }();
    return *instance;
}

void smallGetsClient(benchmark::State& state)
{
    const corvex::HttpRequest request =
        corvex::HttpRequest::get(QUrl::fromEncoded(kitServer().url("/small")));
    auto client = corvex::LOMNetworkClient::create();
    for (auto _ : state) {
        // Each completion starts the next GET from a worker thread, as the kit's
        // operations chain their requests; the main loop only runs the transfers' completions.
        std::atomic<std::int64_t> finished{0};
        std::atomic<bool> failed{false};
        std::function<void()> next = [&] {
            client->startDataTask(
                request, 0,
                corvex::LOMNetworkClient::DataCompletion(
                    corvex::CompletionQueue::global(),
                    [&](const std::optional<QByteArray>& data, const std::optional<corvex::HttpResponse>&,
                        const corvex::Error& error) {
                        if (!error.isNull() || !data || data->size() != 32)
                            failed.store(true);
                        if (finished.fetch_add(1) + 1 < state.range(0) && !failed.load())
                            next();
                        else
                            corvex::MainQueue::post([] {}); // wakes the waiting main loop
                    }));
        };
        next();
        corvex::bench::waitFor([&] { return finished.load() == state.range(0) || failed.load(); });
        if (failed.load()) {
            state.SkipWithError("a GET failed");
            return;
        }
    }
    state.counters["gets_per_s"] =
        benchmark::Counter(double(state.range(0)) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void smallGetsKitCurlEasy(benchmark::State& state)
{
    corvex::bench::bareCurlSmallGets(state, kitServer().url("/small"), 32);
}

QString kitInputFile(std::int64_t mebibytes)
{
    const QString path =
        corvex::bench::folder().filePath(QStringLiteral("multipart-input-%1.bin").arg(mebibytes));
    if (!QFile::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            QByteArray block(kKitMiB, '\0');
            for (qsizetype i = 0; i < block.size(); ++i)
                block[i] = char((i * 131) & 0xFF);
            for (std::int64_t i = 0; i < mebibytes; ++i)
                file.write(block);
        }
    }
    return path;
}

void multipartEncodeFile(benchmark::State& state)
{
    const QString input = kitInputFile(state.range(0));
    const QString output = corvex::bench::folder().filePath(QStringLiteral("multipart-body.bin"));
    for (auto _ : state) {
        auto stream = std::make_shared<corvex::LOMFileOutputStream>(output);
        corvex::LOMMultipartMimeStreamEncoder encoder(stream);
        const bool ok = encoder.encode([&](corvex::LOMMultipartMimeStreamEncoder& e) {
            e.addFile(input, QStringLiteral("report.gz"), QStringLiteral("application/octet-stream"),
                      QStringLiteral("file"));
        });
        if (!ok || encoder.length() < quint64(state.range(0) * kKitMiB)) {
            state.SkipWithError("the encoding failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * kKitMiB);
}

void multipartPlainCopy(benchmark::State& state)
{
    const QString input = kitInputFile(state.range(0));
    const QString output = corvex::bench::folder().filePath(QStringLiteral("plain-copy.bin"));
    for (auto _ : state) {
        QFile in(input);
        QFile out(output);
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            state.SkipWithError("the copy failed");
            return;
        }
        const QByteArray bytes = in.readAll();
        if (out.write(bytes) != bytes.size()) {
            state.SkipWithError("the copy failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * kKitMiB);
}

const corvex::bench::Registration kitRegistration([] {
    for (const std::int64_t gets : corvex::bench::sizes({1000}, 10)) {
        benchmark::RegisterBenchmark("Kit/small_gets/client", smallGetsClient)
            ->Arg(gets)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Kit/small_gets/curl_easy", smallGetsKitCurlEasy)
            ->Arg(gets)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (const std::int64_t mebibytes : corvex::bench::sizes({10}, 1)) {
        benchmark::RegisterBenchmark("Kit/multipart/encode_file", multipartEncodeFile)
            ->Arg(mebibytes)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Kit/multipart/plain_copy", multipartPlainCopy)
            ->Arg(mebibytes)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
});

} // namespace
