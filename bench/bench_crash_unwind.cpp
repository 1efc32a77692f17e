// Unwinding a deep stack of this process: our unwinder (the image table, .eh_frame_hdr
// search, CIE and FDE parsing, the rule machine, safe reads of the stack) against libgcc's
// _Unwind_Backtrace on the same stack, with the kit log path unset and set (set, every
// call-frame instruction writes its trace line). Each iteration walks the whole stack from
// a context taken at its bottom; "frames" counts what each walk produced.

#include "bench/BenchSupport.h"
#include "crash/runtime/BBXBinaryImages.h"
#include "crash/runtime/BBXSDKLog.h"
#include "crash/unwind/BBXUnwind.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

namespace {

using namespace corvex;

std::unique_ptr<BBXBinaryImageTable> gUnwindBenchTable;

void installUnwindBenchTable()
{
    if (gUnwindBenchTable)
        return;
    gUnwindBenchTable = std::make_unique<BBXBinaryImageTable>();
    BBXBinaryImageTableClear(gUnwindBenchTable.get());
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            BBXBinaryImageDetails details;
            if (BBXBinaryImageFillInSections(&details, info))
                BBXBinaryImageTableAdd(static_cast<BBXBinaryImageTable*>(data), details.node);
            return 0;
        },
        gUnwindBenchTable.get());
    BBXBinaryImageInstallTable(gUnwindBenchTable.get());
}

enum class UnwindBenchKind
{
    Ours,
    Libgcc,
};

_Unwind_Reason_Code countLibgccFrame(_Unwind_Context* context, void* count)
{
    benchmark::DoNotOptimize(_Unwind_GetIP(context));
    ++*static_cast<std::int64_t*>(count);
    return _URC_NO_REASON;
}

std::int64_t walkOurs()
{
    ucontext_t ucontext;
    getcontext(&ucontext);
    BBXThreadContext registers;
    BBXThreadContextFromUcontext(&ucontext, &registers);
    BBXUnwindContext context;
    BBXUnwindInit(&context, &registers);
    std::int64_t frames = 0;
    while (BBXUnwindNextFrame(&context)) {
        benchmark::DoNotOptimize(BBXUnwindGetPC(&context));
        ++frames;
    }
    return frames;
}

void unwindAtBottom(benchmark::State& state, UnwindBenchKind kind)
{
    std::int64_t frames = 0;
    for (auto _ : state) {
        frames = 0;
        if (kind == UnwindBenchKind::Ours)
            frames = walkOurs();
        else
            _Unwind_Backtrace(countLibgccFrame, &frames);
    }
    // Every level of the recursion is a frame below this one.
    if (frames < state.range(0))
        state.SkipWithError("the walk stopped short of the stack's depth");
    state.counters["frames"] = double(frames);
}

__attribute__((noinline)) void unwindBenchRecurse(benchmark::State& state, UnwindBenchKind kind,
                                                  std::int64_t depth)
{
    if (depth <= 0)
        unwindAtBottom(state, kind);
    else
        unwindBenchRecurse(state, kind, depth - 1);
    benchmark::ClobberMemory(); // no tail call: every level keeps its frame
}

void unwindBenchmark(benchmark::State& state, UnwindBenchKind kind, bool logSet)
{
    installUnwindBenchTable();
    const QByteArray logPath = QFile::encodeName(bench::folder().path()) + "/sdk.log";
    BBXSDKLogState log;
    log.path = logSet ? logPath.constData() : nullptr;
    BBXSDKLogInstall(&log);
    unwindBenchRecurse(state, kind, state.range(0));
    BBXSDKLogInstall(nullptr);
    if (log.descriptor.load() >= 0)
        ::close(log.descriptor.load());
    QFile::remove(QFile::decodeName(logPath));
}

const corvex::bench::Registration registration([] {
    const struct
    {
        const char* name;
        void (*function)(benchmark::State&);
    } benchmarks[] = {
        {"Unwind/ours/log_unset",
         [](benchmark::State& s) { unwindBenchmark(s, UnwindBenchKind::Ours, false); }},
        {"Unwind/libgcc_Unwind_Backtrace",
         [](benchmark::State& s) { unwindBenchmark(s, UnwindBenchKind::Libgcc, false); }},
        {"Unwind/ours/log_set", [](benchmark::State& s) { unwindBenchmark(s, UnwindBenchKind::Ours, true); }},
    };
    for (const auto& entry : benchmarks) {
        auto* benchmark = benchmark::RegisterBenchmark(entry.name, entry.function);
        for (const std::int64_t depth : corvex::bench::sizes({200}, 10))
            benchmark->Arg(depth);
        benchmark->ArgName("depth")->Unit(benchmark::kMicrosecond);
    }
});

} // namespace
