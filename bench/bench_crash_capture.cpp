// Capturing every thread of a live process as a crash would, without crashing it: the
// handshake that parks 63 other threads, their registers, each stack unwound and written
// with the process's sections to a record file, the threads let go. With the kit log path
// unset and set (set, the unwinder writes its trace lines). Goal: under 100 ms.

#include "bench/BenchSupport.h"
#include "crash/capture/BBXHandler.h"
#include "crash/capture/BBXThreadCapture.h"
#include "crash/runtime/BBXBinaryImages.h"
#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXSDKLog.h"
#include "platform/core/SerialQueue.h"

#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace corvex;

// 63 threads a few frames deep, waiting; the benchmark's thread is the 64th.
class CaptureBenchThreads
{
public:
    explicit CaptureBenchThreads(int count)
    {
        for (int i = 0; i < count; ++i)
            mThreads.emplace_back([this] { wait(8); });
    }
    ~CaptureBenchThreads()
    {
        {
            std::lock_guard lock(mMutex);
            mStop = true;
        }
        mCondition.notify_all();
        for (std::thread& thread : mThreads)
            thread.join();
    }
    CaptureBenchThreads(const CaptureBenchThreads&) = delete;
    CaptureBenchThreads& operator=(const CaptureBenchThreads&) = delete;

private:
    __attribute__((noinline)) void wait(int depth)
    {
        if (depth > 0) {
            wait(depth - 1);
            return;
        }
        std::unique_lock lock(mMutex);
        mCondition.wait(lock, [this] { return mStop; });
    }

    std::mutex mMutex;
    std::condition_variable mCondition;
    bool mStop = false;
    std::vector<std::thread> mThreads;
};

struct CaptureBenchSetUp
{
    BBXBinaryImageState images;
    std::unique_ptr<BBXThreadCaptureBlock> block = std::make_unique<BBXThreadCaptureBlock>();
    QByteArray imagesPath;
    SerialQueue queue{"com.corvex.bench.capture"};

    CaptureBenchSetUp()
    {
        imagesPath =
            QFile::encodeName(corvex::bench::folder().filePath(QStringLiteral("binary_images.bbxrecord")));
        BBXBinaryImageInit(&images, imagesPath.constData(), &queue);
        BBXThreadCaptureInstall(block.get());
    }
};

void captureBenchmark(benchmark::State& state, bool logSet)
{
    static CaptureBenchSetUp setUp;
    CaptureBenchThreads threads(int(state.range(0)) - 1);
    const QByteArray recordPath =
        QFile::encodeName(corvex::bench::folder().filePath(QStringLiteral("capture.bbxrecord")));
    const QByteArray logPath = QFile::encodeName(corvex::bench::folder().filePath(QStringLiteral("sdk.log")));
    BBXSDKLogState log;
    log.path = logSet ? logPath.constData() : nullptr;
    BBXSDKLogInstall(&log);
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        BBXFile file;
        if (!BBXFileInitWithPathMode(&file, recordPath.constData(), false, false)) {
            state.SkipWithError("the record file could not be opened");
            break;
        }
        BBXHandler(&file, BBXCurrentThreadId(), nullptr);
        if (!BBXFileCloseWithOffset(&file, &bytes) || bytes == 0) {
            state.SkipWithError("no record was written");
            break;
        }
    }
    state.counters["record_bytes"] = double(bytes);
    BBXSDKLogInstall(nullptr);
    if (log.descriptor.load() >= 0)
        ::close(log.descriptor.load());
    QFile::remove(QFile::decodeName(logPath));
}

const corvex::bench::Registration registration([] {
    for (const bool logSet : {false, true}) {
        auto* benchmark =
            benchmark::RegisterBenchmark(logSet ? "CaptureThreads/log_set" : "CaptureThreads/log_unset",
                                         [logSet](benchmark::State& s) { captureBenchmark(s, logSet); });
        for (const std::int64_t threads : corvex::bench::sizes({64}, 8))
            benchmark->Arg(threads);
        benchmark->ArgName("threads")->Unit(benchmark::kMillisecond)->UseRealTime();
    }
});

} // namespace
