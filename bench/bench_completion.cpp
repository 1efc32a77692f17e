// The cost of answering a request on a later turn: a batch of answers posted to the main queue
// and run by its event loop, each carrying a title and a shared idea as the storage layer's do.
// Reports the time and the heap allocations of one answer (posting and running it).
//
// The same file builds on a tree whose completions are plain std::function posted by hand, so
// that the two roads are compared by alternating runs of each tree's binary.

#include "bench/BenchSupport.h"
#include "platform/core/MainQueue.h"

#include <QString>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>
#include <new>

#if __has_include("platform/core/Completion.h")
#include "platform/core/Completion.h"
#define CORVEX_BENCH_COMPLETION_TYPE 1
#endif

namespace {

std::atomic<std::int64_t> gAllocations{0};

struct Idea
{
    QString title;
};

#if CORVEX_BENCH_COMPLETION_TYPE
using Answer = corvex::Completion<const std::shared_ptr<Idea>&, const QString&>;
void answer(Answer completion, const std::shared_ptr<Idea>& idea, const QString& title)
{
    completion(idea, title);
}
#else
using Answer = std::function<void(const std::shared_ptr<Idea>&, const QString&)>;
void answer(Answer completion, const std::shared_ptr<Idea>& idea, const QString& title)
{
    corvex::MainQueue::post([completion = std::move(completion), idea, title] { completion(idea, title); });
}
#endif

void BM_AnswerOnALaterTurn(benchmark::State& state)
{
    const int batch = int(state.range(0));
    auto idea = std::make_shared<Idea>(Idea{QStringLiteral("An idea of a real map")});
    const QString title = QStringLiteral("Answered title");
    std::int64_t heard = 0;
    std::int64_t allocations = 0;
    for (auto _ : state) {
        const std::int64_t before = gAllocations.load(std::memory_order_relaxed);
        int left = batch;
        for (int i = 0; i < batch; ++i) {
            // What a caller captures: itself, a count, the idea it waits for.
            answer(
                [&heard, &left, idea](const std::shared_ptr<Idea>& answered, const QString& text) {
                    heard += answered == idea && !text.isEmpty();
                    --left;
                },
                idea, title);
        }
        corvex::bench::waitFor([&] { return left == 0; });
        allocations += gAllocations.load(std::memory_order_relaxed) - before;
    }
    if (heard != std::int64_t(state.iterations()) * batch)
        state.SkipWithError("an answer was lost or wrong");
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["allocations_per_answer"] = double(allocations) / double(state.iterations() * batch);
}

const corvex::bench::Registration completionBenchmarks([] {
    benchmark::RegisterBenchmark("BM_AnswerOnALaterTurn", BM_AnswerOnALaterTurn)
        ->Arg(corvex::bench::tiny() ? 10 : 10000)
        ->Unit(benchmark::kMillisecond);
});

} // namespace

void* operator new(std::size_t size)
{
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
