// The probe children: each sets up the crash context in the report folder it is given,
// prints its load bias ("bias <n>") and crashes the way its name says, inside a probe
// function of its own whose address range the test looks up with nm.

#include "crash/capture/BBXContext.h"
#include "crash/capture/BBXException.h"
#include "crash/capture/BBXProcess.h"
#include "crash/capture/BBXSignal.h"
#include "crash/capture/BBXThreadCapture.h"
#include "crash/capture/BBXUserLogging.h"
#include "crash/runtime/BBXBinaryImages.h"
#include "crash/runtime/BBXWebView.h"
#include "platform/core/Error.h"
#include "platform/core/ExceptionReporter.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/UserDefaults.h"
#include "tests/crash/AllocationMarks.h"
#include "tests/support/HelperProcess.h"

#include <QFile>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
volatile int* gCorvexProbeNull = nullptr;
volatile int gCorvexProbeZero = 0;
volatile int gCorvexProbeSink = 0;
volatile char* gCorvexProbeMapping = nullptr;

void corvex_probe_other_handler(int) {}
void corvex_probe_other_terminate()
{
    std::abort();
}

__attribute__((noinline)) void corvex_probe_segv()
{
    *gCorvexProbeNull = 1;
    gCorvexProbeSink = 2;
}

__attribute__((noinline)) void corvex_probe_bus()
{
    gCorvexProbeMapping[4096] = 1;
    gCorvexProbeSink = 2;
}

__attribute__((noinline)) void corvex_probe_fpe()
{
    gCorvexProbeSink = 7 / gCorvexProbeZero;
    gCorvexProbeSink = 2;
}

__attribute__((noinline)) void corvex_probe_ill()
{
    __builtin_trap();
}

__attribute__((noinline)) void corvex_probe_abrt()
{
    std::abort();
}

__attribute__((noinline)) void corvex_probe_trap()
{
    __asm__ volatile("int3\n\tnop\n\tnop");
    gCorvexProbeSink = 2;
}

__attribute__((noinline)) void corvex_probe_kill()
{
    kill(getpid(), SIGSEGV);
    gCorvexProbeSink = 2;
}

__attribute__((noinline)) void corvex_probe_throw()
{
    throw std::runtime_error("probe's uncaught error");
}

// Recursion without end is the point of this probe.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int corvex_probe_recurse(int depth)
{
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    return corvex_probe_recurse(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop
}

namespace {

int probeBias(dl_phdr_info* info, std::size_t, void* out)
{
    *static_cast<std::uint64_t*>(out) = info->dlpi_addr;
    return 1; // the executable comes first
}

// Core dumps off, the context set up in `directory`, the load bias printed.
void probeSetUp(const QString& directory, corvex::BBXCrashCallback callback = nullptr,
                std::uint32_t maxCustomExceptions = 0)
{
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    static QByteArray path;
    path = QFile::encodeName(directory);
    corvex::BBXContextInitParams params;
    params.reportDirectory = path.constData();
    params.crashCallback = callback;
    params.customExceptionsEnabled = maxCustomExceptions > 0;
    params.maxCustomExceptions = maxCustomExceptions;
    corvex::BBXContextInitialize(&params);
    std::uint64_t bias = 0;
    dl_iterate_phdr(probeBias, &bias);
    std::printf("bias %llu\n", static_cast<unsigned long long>(bias));
    std::fflush(stdout);
}

void probeSmallStack()
{
    rlimit stack{1024 * 1024, 1024 * 1024};
    setrlimit(RLIMIT_STACK, &stack);
}

void probeMapTruncatedFile(const QString& directory)
{
    const QByteArray path = QFile::encodeName(directory + QStringLiteral("/truncated"));
    const int fd = open(path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, 4096) != 0)
        std::_Exit(3);
    void* mapping = mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED)
        std::_Exit(3);
    gCorvexProbeMapping = static_cast<volatile char*>(mapping);
}

// Writes the thread's name from /proc, for the list the test compares with.
QByteArray probeThreadName(const QByteArray& tid)
{
    QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(QString::fromLatin1(tid)));
    if (!comm.open(QIODevice::ReadOnly))
        return QByteArray();
    return comm.readAll().trimmed();
}

void probeWriteThreadList(const QString& path)
{
    std::int32_t tids[corvex::BBXThreadCaptureMaxThreads];
    const std::uint32_t count = corvex::BBXThreadCaptureListThreads(tids, corvex::BBXThreadCaptureMaxThreads);
    QByteArray text;
    for (std::uint32_t i = 0; i < count; ++i) {
        const QByteArray tid = QByteArray::number(tids[i]);
        text += tid + '\t' + probeThreadName(tid) + '\n';
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
        std::_Exit(3);
}

std::atomic<int> gProbeReady{0};
std::atomic<bool> gProbeGo{false};

void probeWaitForever()
{
    while (true)
        pause();
}

void probeMarksCallback(void*)
{
    // After the other threads were let go: the count, written without the malloc family.
    char line[32] = "marks ";
    int marks = corvex::test::allocationMarks();
    char digits[12];
    int length = 0;
    do {
        digits[length++] = static_cast<char>('0' + marks % 10);
        marks /= 10;
    } while (marks > 0);
    int at = 6;
    while (length > 0)
        line[at++] = digits[--length];
    line[at++] = '\n';
    [[maybe_unused]] const ssize_t written = write(1, line, static_cast<std::size_t>(at));
}

// A thread made by the C library's own pthread_create, as a library that passes the
// thread-start hook by would; it recurses once told to.
std::atomic<bool> gProbeEarlyGo{false};

void* probeEarlyThread(void*)
{
    while (!gProbeEarlyGo.load(std::memory_order_acquire)) {
        timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
    corvex_probe_recurse(0);
    return nullptr;
}

void probeStartEarlyThread()
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    pthread_t thread;
    if (create == nullptr || create(&thread, nullptr, probeEarlyThread, nullptr) != 0)
        std::_Exit(3);
}

// Overflows on a thread of the kind named, none of which platform/core made.
void probeOverflowOnThread(const QString& kind)
{
    if (kind == QStringLiteral("thread-overflow")) {
        std::thread([] { corvex_probe_recurse(0); }).detach();
    } else if (kind == QStringLiteral("qthread-overflow")) {
        QThread::create([] { corvex_probe_recurse(0); })->start();
    } else if (kind == QStringLiteral("pool-overflow")) {
        QThreadPool::globalInstance()->start([] { corvex_probe_recurse(0); });
    } else if (kind == QStringLiteral("early-thread-overflow")) {
        gProbeEarlyGo.store(true, std::memory_order_release);
    } else {
        return;
    }
    probeWaitForever();
}

void probeHoldObserver(bool held)
{
    corvex::test::watchAllocationsOnAllThreads(held);
}

} // namespace

CORVEX_TEST_HELPER(crash_probe)
{
    const QString kind = args.value(0);
    const QString directory = args.value(1);
    if (kind == QStringLiteral("early-thread-overflow"))
        probeStartEarlyThread(); // there when the reporter starts
    probeSetUp(directory);
    probeOverflowOnThread(kind);
    if (kind == QStringLiteral("segv"))
        corvex_probe_segv();
    else if (kind == QStringLiteral("bus")) {
        probeMapTruncatedFile(directory);
        corvex_probe_bus();
    } else if (kind == QStringLiteral("fpe"))
        corvex_probe_fpe();
    else if (kind == QStringLiteral("ill"))
        corvex_probe_ill();
    else if (kind == QStringLiteral("abrt"))
        corvex_probe_abrt();
    else if (kind == QStringLiteral("trap"))
        corvex_probe_trap();
    else if (kind == QStringLiteral("kill"))
        corvex_probe_kill();
    else if (kind == QStringLiteral("throw"))
        corvex_probe_throw();
    else if (kind == QStringLiteral("overflow")) {
        probeSmallStack();
        corvex_probe_recurse(0);
    } else if (kind == QStringLiteral("queue-overflow")) {
        probeSmallStack();
        static corvex::SerialQueue queue("com.corvex.probe.overflow");
        queue.async([] { corvex_probe_recurse(0); });
        probeWaitForever();
    }
    return 2; // still alive: the crash did not happen
}

CORVEX_TEST_HELPER(crash_pair)
{
    probeSetUp(args.value(0));
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
        threads.emplace_back([] {
            gProbeReady.fetch_add(1);
            while (!gProbeGo.load(std::memory_order_acquire)) {
            }
            corvex_probe_segv();
        });
    }
    while (gProbeReady.load() < 2) {
    }
    gProbeGo.store(true, std::memory_order_release);
    for (std::thread& thread : threads)
        thread.join();
    return 2;
}

CORVEX_TEST_HELPER(crash_malloc)
{
    probeSetUp(args.value(0), probeMarksCallback);
    corvex::BBXThreadCaptureSetHoldObserver(probeHoldObserver);
    for (int i = 0; i < 8; ++i) {
        std::thread([] {
            gProbeReady.fetch_add(1);
            while (true) {
                void* volatile block = std::malloc(64 + std::size_t(gCorvexProbeSink));
                std::free(block);
            }
        }).detach();
    }
    while (gProbeReady.load() < 8) {
    }
    corvex::test::watchAllocationsOnThisThread(true);
    corvex_probe_segv();
    return 2;
}

CORVEX_TEST_HELPER(crash_threads)
{
    const QString directory = args.value(0);
    probeSetUp(directory);
    std::vector<std::unique_ptr<corvex::SerialQueue>> queues;
    for (int i = 0; i < 5; ++i) {
        queues.push_back(
            std::make_unique<corvex::SerialQueue>(QStringLiteral("com.corvex.probe.q%1").arg(i)));
        queues.back()->async([i] {
            pthread_setname_np(pthread_self(), QStringLiteral("probe-q%1").arg(i).toLatin1().constData());
            gProbeReady.fetch_add(1);
            probeWaitForever();
        });
    }
    for (int i = 0; i < 15; ++i) {
        std::thread([i] {
            const bool blocking = i == 14;
            if (blocking) {
                sigset_t all;
                sigfillset(&all);
                pthread_sigmask(SIG_SETMASK, &all, nullptr);
            }
            const QByteArray name = blocking ? QByteArray("probe-blocked") : "probe-" + QByteArray::number(i);
            pthread_setname_np(pthread_self(), name.constData());
            gProbeReady.fetch_add(1);
            probeWaitForever();
        }).detach();
    }
    while (gProbeReady.load() < 20) {
    }
    probeWriteThreadList(directory + QStringLiteral("/threads.txt"));
    corvex_probe_segv();
    return 2;
}

CORVEX_TEST_HELPER(report_exception)
{
    corvex::UserDefaults::standardUserDefaults().setBool(corvex::ExceptionReporter::crashOnExceptionsKey(),
                                                         true);
    probeSetUp(args.value(0));
    corvex::ExceptionReporter::report(
        corvex::Exception(QStringLiteral("ProbeException"), QStringLiteral("reported")));
    return corvex::ExceptionReporter::current() == corvex::BBXApplicationReportExceptionHook ? 0 : 4;
}

CORVEX_TEST_HELPER(context_without_path)
{
    corvex::BBXContextInitParams params;
    const bool initialized = corvex::BBXContextInitialize(&params);
    struct sigaction current
    {};
    sigaction(SIGSEGV, nullptr, &current);
    const bool installed =
        (current.sa_flags & SA_SIGINFO) && current.sa_sigaction == corvex::BBXSignalHandler;
    return !initialized && !installed && !corvex::BBXContextIsInitialized() ? 0 : 5;
}

CORVEX_TEST_HELPER(context_protected)
{
    probeSetUp(args.value(0));
    const corvex::BBXReadOnlyContext* context = corvex::BBXContextReadOnly();
    std::printf("%s\n", context->signal.path);
    std::fflush(stdout);
    // Set-up is over: the read-only part no longer takes writes.
    const_cast<corvex::BBXReadOnlyContext*>(context)->firstInstall = true;
    return 2;
}

CORVEX_TEST_HELPER(script_exception)
{
    probeSetUp(args.value(0), nullptr, 10);
    QVariantMap body;
    body.insert(QStringLiteral("msg"), QStringLiteral("script failed"));
    const bool recorded = corvex::BBXWKWebViewRecordScriptMessage(body);
    corvex::BBXUserLoggingSync([] {});
    return recorded ? 0 : 6;
}

CORVEX_TEST_HELPER(context_traced)
{
    std::printf("ready\n");
    std::fflush(stdout);
    // Set up only once the test has attached as a tracer, as a debugger would be.
    for (int waited = 0; waited < 5000 && !corvex::BBXProcessDebuggerAttached(); ++waited)
        usleep(1000);
    probeSetUp(args.value(0));
    struct sigaction current
    {};
    sigaction(SIGSEGV, nullptr, &current);
    const bool installed =
        (current.sa_flags & SA_SIGINFO) && current.sa_sigaction == corvex::BBXSignalHandler;
    // The checks a launch makes after set-up: handlers the kit chose not to install are no news.
    dup2(1, 2);
    corvex::BBXSignalCheckHandlers();
    corvex::BBXExceptionCheckHandlers();
    std::fflush(stderr);
    corvex::BBXBinaryImageStop(); // its lines are written on its queue
    return corvex::BBXProcessDebuggerAttached() && !installed && corvex::BBXContextIsInitialized() ? 0 : 7;
}

CORVEX_TEST_HELPER(check_handlers)
{
    probeSetUp(args.value(0));
    // Another library takes SIGBUS and the terminate handler after set-up.
    signal(SIGBUS, corvex_probe_other_handler);
    std::set_terminate(corvex_probe_other_terminate);
    dup2(1, 2); // the checks write to stderr; the test reads stdout
    corvex::BBXSignalCheckHandlers();
    corvex::BBXExceptionCheckHandlers();
    std::fflush(stderr);
    return 0;
}
