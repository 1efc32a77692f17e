#pragma once

// The yardstick of the network benchmarks: small GETs one after another through a bare
// libcurl easy handle, kept between requests as any plain client would.

#include <QByteArray>
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <string>

namespace corvex::bench {

inline size_t bareCurlCollect(char* data, size_t size, size_t count, void* user)
{
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// state.range(0) GETs of `url` per iteration, each answered with `bodySize` bytes.
inline void bareCurlSmallGets(benchmark::State& state, const QByteArray& url, std::size_t bodySize)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CURL* easy = curl_easy_init();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, bareCurlCollect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        for (std::int64_t i = 0; i < state.range(0); ++i) {
            body.clear();
            if (curl_easy_perform(easy) != CURLE_OK || body.size() != bodySize) {
                state.SkipWithError("a GET failed");
                curl_easy_cleanup(easy);
                return;
            }
        }
    }
    curl_easy_cleanup(easy);
    state.counters["gets_per_s"] =
        benchmark::Counter(double(state.range(0)) * double(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace corvex::bench
