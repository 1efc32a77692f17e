// Stopping the threads of this live process and letting them go again, in process: parked
// threads hand in their registers, a thread that blocks the signal is left without, and
// everything goes on afterwards. And the measure of the crash handler's stack: it must fit
// the 64 KiB alternate stacks of the queue threads.

#include "crash/capture/BBXHandler.h"
#include "crash/capture/BBXProcess.h"
#include "crash/capture/BBXThreadCapture.h"
#include "crash/runtime/BBXFile.h"
#include "tests/crash/CrashTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sys/mman.h>
#include <thread>
#include <vector>

namespace corvex::test {
namespace {

struct CaptureThreads
{
    std::atomic<bool> stop{false};
    std::atomic<int> ready{0};
    std::atomic<std::int32_t> blockerTid{0};
    std::atomic<long> spins[8] = {};
    std::vector<std::thread> threads;

    explicit CaptureThreads(int count)
    {
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([this, i] {
                if (i == 0) {
                    sigset_t blocked;
                    sigemptyset(&blocked);
                    sigaddset(&blocked, BBXThreadCaptureSignal());
                    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
                    blockerTid.store(BBXCurrentThreadId());
                }
                ready.fetch_add(1);
                while (!stop.load())
                    spins[i].fetch_add(1);
            });
        }
        while (ready.load() < count) {
        }
    }
    ~CaptureThreads()
    {
        stop.store(true);
        for (std::thread& thread : threads)
            thread.join();
    }
};

TEST(ThreadCapture, parkedThreadsHandInTheirRegistersAndGoOnAfterwards)
{
    auto block = std::make_unique<BBXThreadCaptureBlock>();
    ASSERT_TRUE(BBXThreadCaptureInstall(block.get()));
    BBXThreadCaptureSetTimeouts({100, 5000});
    CaptureThreads threads(4);
    BBXProcess process;
    ASSERT_TRUE(BBXProcessInit(&process, BBXCurrentThreadId(), nullptr));
    ASSERT_GE(process.threadCount, 5u);
    EXPECT_FALSE(BBXProcessSuspendThreads(&process)); // the blocking thread does not answer
    int withRegisters = 0;
    for (std::uint32_t i = 0; i < process.threadCount; ++i) {
        BBXThreadContext registers{};
        const std::int32_t tid = process.threads[i];
        if (tid == process.currentThread)
            continue;
        const bool known = BBXThreadCaptureGetRegisters(tid, &registers);
        if (tid == threads.blockerTid.load()) {
            EXPECT_FALSE(known);
        }
        if (known) {
            ++withRegisters;
            EXPECT_NE(registers.rip, 0u);
            EXPECT_NE(registers.rsp, 0u);
        }
    }
    EXPECT_GE(withRegisters, 3);
    // Let go, every thread runs again (a thread left parked would hang this loop).
    EXPECT_TRUE(BBXProcessResumeThreads(&process));
    for (std::atomic<long>& spins : threads.spins) {
        const long before = spins.load();
        if (before == 0)
            continue; // no such thread
        while (spins.load() < before + 1000) {
        }
    }
    BBXThreadCaptureSetTimeouts({});
    BBXThreadCaptureUninstall();
}

// The crash handler run from a signal on a 64 KiB alternate stack filled with a pattern:
// the bytes it changed are its depth.
struct StackProbe
{
    void* stack = nullptr;
    std::size_t size = 64 * 1024;
    QByteArray path;
};
StackProbe gStackProbe;

void stackProbeHandler(int, siginfo_t*, void* userContext)
{
    BBXFile file;
    if (BBXFileInitWithPathMode(&file, gStackProbe.path.constData(), false, false)) {
        BBXHandler(&file, BBXCurrentThreadId(), static_cast<const ucontext_t*>(userContext));
        BBXFileClose(&file);
    }
}

TEST(ThreadCapture, theCrashHandlerFitsTheQueueThreadsAlternateStack)
{
    if (corvex::test::isSanitized())
        GTEST_SKIP() << "the sanitizers' instrumentation deepens every frame: measured in the g++ tree";
    auto block = std::make_unique<BBXThreadCaptureBlock>();
    ASSERT_TRUE(BBXThreadCaptureInstall(block.get()));
    CaptureThreads threads(3);
    gStackProbe.path = crashTestPath("measured.bbxrecord");
    std::size_t used = 0;
    std::thread([&] {
        gStackProbe.stack =
            mmap(nullptr, gStackProbe.size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        std::memset(gStackProbe.stack, 0xA5, gStackProbe.size);
        stack_t alternate{};
        alternate.ss_sp = gStackProbe.stack;
        alternate.ss_size = gStackProbe.size;
        sigaltstack(&alternate, nullptr);
        struct sigaction action
        {};
        action.sa_sigaction = stackProbeHandler;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        struct sigaction previous
        {};
        sigaction(SIGUSR2, &action, &previous);
        raise(SIGUSR2);
        sigaction(SIGUSR2, &previous, nullptr);
        alternate.ss_flags = SS_DISABLE;
        sigaltstack(&alternate, nullptr);
        const auto* bytes = static_cast<const unsigned char*>(gStackProbe.stack);
        std::size_t untouched = 0;
        while (untouched < gStackProbe.size && bytes[untouched] == 0xA5)
            ++untouched;
        used = gStackProbe.size - untouched;
        munmap(gStackProbe.stack, gStackProbe.size);
    }).join();
    BBXThreadCaptureUninstall();
    std::printf("crash handler stack: %zu of %zu bytes\n", used, gStackProbe.size);
    EXPECT_GT(used, 0u);
    EXPECT_LT(used, 48u * 1024u);
    const QList<QByteArray> lines = readFile(QString::fromUtf8(gStackProbe.path)).split('\n');
    ASSERT_GE(lines.size(), 6);
    const QJsonArray recorded =
        QJsonDocument::fromJson(lines.at(0)).object().value(QStringLiteral("threads")).toArray();
    EXPECT_GE(recorded.size(), 5);
}

} // namespace
} // namespace corvex::test
