// Transfers over loopback against libcurl on its own, with the server of the network tests
// in this process (HTTP, keep-alive).
//
// - Net/small_gets/session/<n>: n GETs of a 32-byte body one after the other through an
//   HttpSession, each waited for on the main loop as a caller would.
// - Net/small_gets/session_8_in_flight/<n>: the same with up to 8 GETs in flight.
// - Net/small_gets/curl_easy/<n>: the same n GETs through one bare libcurl easy handle in a
//   loop (curl_easy_perform, the connection kept). Goal: the session at most 1.3x this.
// - Net/download_to_file/session/<MiB>: one download of that size to a file, not flushed
//   to the disk (as curl -o does not); ".../session_synced" flushes it as downloads do by
//   default.
// - Net/download_to_file/curl_cli/<MiB>: `curl -s -o <file> <url>` as a child process
//   against the same server. Goal: the session at most 1.2x this.
//
// Figures: the release tree, pinned to one core (taskset -c 4).

#include "bench/BareCurlLoop.h"
#include "bench/BenchSupport.h"
#include "platform/net/HttpSession.h"
#include "tests/support/net/LoopbackServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <functional>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using corvex::HttpRequest;
using corvex::HttpResponse;
using corvex::HttpSession;
using corvex::Result;
using corvex::test::LoopbackConnection;
using corvex::test::LoopbackRequest;
using corvex::test::LoopbackServer;

constexpr qint64 kMiB = 1024 * 1024;

// The server, started once; its blob is the largest size registered.
LoopbackServer& server()
{
    static LoopbackServer* instance = [] {
        auto* made = new LoopbackServer();
        made->route("/small", LoopbackServer::fixed(QByteArray(32, 's')));
        made->route("/blob", [](const LoopbackRequest& request, LoopbackConnection& connection) {
            static const QByteArray block(kMiB, 'd');
            const qint64 mebibytes = request.target.mid(request.target.indexOf('=') + 1).toLongLong();
            QByteArray head =
                "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                QByteArray::number(mebibytes * kMiB) + "\r\n\r\n";
            if (!connection.send(head))
                return;
            for (qint64 i = 0; i < mebibytes; ++i) {
                if (!connection.send(block))
                    return;
            }
        });
        if (!made->start())
            std::abort();
        return made;
    }();
    return *instance;
}

Result<HttpResponse> fetch(HttpSession& session, const HttpRequest& request)
{
    std::optional<Result<HttpResponse>> outcome;
    auto transfer = session.makeTransfer(request);
    transfer->start([&](const Result<HttpResponse>& result) { outcome = result; });
    corvex::bench::waitFor([&] { return outcome.has_value(); });
    return *outcome;
}

void smallGetsSession(benchmark::State& state)
{
    const QUrl url = QUrl::fromEncoded(server().url("/small"));
    auto session = HttpSession::create();
    for (auto _ : state) {
        for (std::int64_t i = 0; i < state.range(0); ++i) {
            const auto result = fetch(*session, HttpRequest::get(url));
            if (!result.ok() || result->body.size() != 32) {
                state.SkipWithError("a GET failed");
                return;
            }
        }
    }
    state.counters["gets_per_s"] =
        benchmark::Counter(double(state.range(0)) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// The same GETs with up to 8 in flight at once, as a caller with several requests would.
void smallGetsSessionParallel(benchmark::State& state)
{
    const QUrl url = QUrl::fromEncoded(server().url("/small"));
    auto session = HttpSession::create();
    constexpr std::int64_t InFlight = 8;
    for (auto _ : state) {
        std::int64_t started = 0;
        std::int64_t finished = 0;
        bool failed = false;
        std::function<void()> startOne = [&] {
            ++started;
            auto transfer = session->makeTransfer(HttpRequest::get(url));
            transfer->start([&](const Result<HttpResponse>& result) {
                ++finished;
                failed = failed || !result.ok() || result->body.size() != 32;
                if (started < state.range(0))
                    startOne();
            });
        };
        for (std::int64_t i = 0; i < std::min(InFlight, state.range(0)); ++i)
            startOne();
        corvex::bench::waitFor([&] { return finished == state.range(0); });
        if (failed) {
            state.SkipWithError("a GET failed");
            return;
        }
    }
    state.counters["gets_per_s"] =
        benchmark::Counter(double(state.range(0)) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void smallGetsCurlEasy(benchmark::State& state)
{
    corvex::bench::bareCurlSmallGets(state, server().url("/small"), 32);
}

QByteArray blobUrl(std::int64_t mebibytes)
{
    return server().url("/blob?mib=" + QByteArray::number(mebibytes));
}

void downloadSession(benchmark::State& state, bool synced)
{
    const QString path = corvex::bench::folder().filePath(QStringLiteral("session-download.bin"));
    auto session = HttpSession::create();
    HttpRequest request = HttpRequest::get(QUrl::fromEncoded(blobUrl(state.range(0))));
    request.downloadFilePath = path;
    request.syncDownload = synced;
    for (auto _ : state) {
        const auto result = fetch(*session, request);
        if (!result.ok() || QFile(path).size() != state.range(0) * kMiB) {
            state.SkipWithError("the download failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * kMiB);
    QFile::remove(path);
}

void downloadCurlCli(benchmark::State& state)
{
    const QByteArray path =
        QFile::encodeName(corvex::bench::folder().filePath(QStringLiteral("cli-download.bin")));
    const QByteArray url = blobUrl(state.range(0));
    const char* argv[] = {"curl", "-s", "--noproxy", "*", "-o", path.constData(), url.constData(), nullptr};
    for (auto _ : state) {
        pid_t child = 0;
        if (posix_spawnp(&child, "curl", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
            state.SkipWithError("the curl command is missing (tools/packages.txt lists it)");
            return;
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
            QFile(QFile::decodeName(path)).size() != state.range(0) * kMiB) {
            state.SkipWithError("curl failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * kMiB);
    QFile::remove(QFile::decodeName(path));
}

const corvex::bench::Registration registration([] {
    for (const std::int64_t gets : corvex::bench::sizes({1000}, 10)) {
        benchmark::RegisterBenchmark("Net/small_gets/session", smallGetsSession)
            ->Arg(gets)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Net/small_gets/session_8_in_flight", smallGetsSessionParallel)
            ->Arg(gets)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Net/small_gets/curl_easy", smallGetsCurlEasy)
            ->Arg(gets)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    for (const std::int64_t mebibytes : corvex::bench::sizes({100}, 1)) {
        benchmark::RegisterBenchmark("Net/download_to_file/session", downloadSession, false)
            ->Arg(mebibytes)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Net/download_to_file/session_synced", downloadSession, true)
            ->Arg(mebibytes)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("Net/download_to_file/curl_cli", downloadCurlCli)
            ->Arg(mebibytes)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
});

} // namespace
