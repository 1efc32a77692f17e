// A test-only library the crash soak preloads (LD_PRELOAD) into the real `corvex`; nothing of
// the product links it. It makes the running application crash in the way CORVEX_FAULT
// names, on the thread that way needs, once the test sends SIGUSR2; the prompt modes answer
// or watch the crash report prompt first ("prompt-send" then crashes as "null-main"). It calls into the
// application through the symbols the executable exports (the reporter's state, the global queue) and stands
// in front of libcurl's curl_multi_poll, which only the HTTP session's transfer thread calls.
//
// It tells the test on stdout: "faults: ready" once the reporter is set up and the main loop
// has turned after the launch marker went, "faults: prompt <buttons>" when the crash report
// prompt shows, "faults: firing <mode>" right before the crash.

#include "crash/capture/BBXContext.h"
#include "platform/core/GlobalQueue.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <curl/curl.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

extern "C" {
volatile int* gCorvexFaultNull = nullptr;
volatile int gCorvexFaultZero = 0;
volatile int gCorvexFaultSink = 0;

// Each way of crashing in a function of its own, so that the report's frames name it.
__attribute__((noinline)) void corvex_fault_null()
{
    *gCorvexFaultNull = 1;
    gCorvexFaultSink = 2;
}

__attribute__((noinline)) void corvex_fault_abort()
{
    std::abort();
}

__attribute__((noinline)) void corvex_fault_fpe()
{
    gCorvexFaultSink = 7 / gCorvexFaultZero;
    gCorvexFaultSink = 2;
}

__attribute__((noinline)) void corvex_fault_ill()
{
    __builtin_trap();
}

__attribute__((noinline)) void corvex_fault_trap()
{
    __asm__ volatile("int3\n\tnop\n\tnop");
    gCorvexFaultSink = 2;
}

// A write into a page mapped read-only.
__attribute__((noinline)) void corvex_fault_segv()
{
    void* page = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    static_cast<volatile char*>(page)[16] = 1;
    gCorvexFaultSink = 2;
}

// A write past the end of a file mapped beyond its size.
__attribute__((noinline)) void corvex_fault_bus()
{
    const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                             "/corvex-fault-bus-" + std::to_string(getpid());
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    unlink(path.c_str());
    if (fd < 0 || ftruncate(fd, 4096) != 0)
        std::_Exit(97);
    void* mapping = mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED)
        std::_Exit(97);
    static_cast<volatile char*>(mapping)[4096] = 1;
    gCorvexFaultSink = 2;
}

// A system call a seccomp filter of this thread traps, as a sandbox would.
__attribute__((noinline)) void corvex_fault_sys()
{
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_uselib, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
        std::_Exit(97);
    syscall(SYS_uselib, nullptr);
    gCorvexFaultSink = 2;
}

__attribute__((noinline)) void corvex_fault_throw()
{
    throw std::runtime_error("the crash soak's uncaught exception");
}

// Recursion without end is the point.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int corvex_fault_recurse(int depth)
{
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    return corvex_fault_recurse(depth + 1) + frame[0];
}
#pragma GCC diagnostic pop
}

namespace {

int gWakePipe[2] = {-1, -1};
std::atomic<bool> gHttpArmed{false};

void say(const std::string& line)
{
    const std::string text = "faults: " + line + "\n";
    [[maybe_unused]] const ssize_t written = write(1, text.data(), text.size());
}

void onFireSignal(int)
{
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = write(gWakePipe[1], "f", 1);
    errno = saved;
}

void onMainThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(qApp, std::move(work), Qt::QueuedConnection);
}

bool launchMarkerGone()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache == nullptr)
        return false;
    struct stat info
    {};
    const std::string marker = std::string(cache) + "/com.blackbox.data/com.tallowfen.corvex/v3/launchmarker";
    return stat(marker.c_str(), &info) != 0 && errno == ENOENT;
}

void sleepMilliseconds(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void fire(const std::string& mode)
{
    say("firing " + mode);
    if (mode == "null-worker")
        return corvex::GlobalQueue::async([] { corvex_fault_null(); });
    if (mode == "overflow-queue")
        return corvex::GlobalQueue::async([] { corvex_fault_recurse(0); });
    if (mode == "overflow-thread")
        return std::thread([] { corvex_fault_recurse(0); }).detach();
    if (mode == "overflow-qthread")
        return QThread::create([] { corvex_fault_recurse(0); })->start();
    if (mode == "overflow-pool")
        return QThreadPool::globalInstance()->start([] { corvex_fault_recurse(0); });
    if (mode == "overflow-http")
        return gHttpArmed.store(true);
    if (mode == "exception")
        return std::thread([] { corvex_fault_throw(); }).detach();
    // The rest on the main thread, inside an event of its loop.
    onMainThread([mode] {
        if (mode == "abrt")
            corvex_fault_abort();
        else if (mode == "bus")
            corvex_fault_bus();
        else if (mode == "fpe")
            corvex_fault_fpe();
        else if (mode == "ill")
            corvex_fault_ill();
        else if (mode == "segv")
            corvex_fault_segv();
        else if (mode == "sys")
            corvex_fault_sys();
        else if (mode == "trap")
            corvex_fault_trap();
        else if (mode == "null-main")
            corvex_fault_null();
        else if (mode == "overflow-main")
            corvex_fault_recurse(0);
        else
            say("unknown mode " + mode);
    });
}

// On the main thread (a modal loop runs queued calls too): the crash report prompt, if it
// shows; "send" presses Return on it, as the user would.
bool lookForPrompt(bool send)
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr)
        return false;
    if (box->text() != QStringLiteral("Send Crash Report?")) {
        static QString told;
        if (told != box->text())
            say("another alert: " + box->text().toStdString());
        told = box->text();
        return false;
    }
    QStringList titles;
    for (QAbstractButton* button : box->buttons())
        titles.append(button->text());
    say("prompt " + titles.join(QLatin1Char('|')).toStdString());
    if (send) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &release);
    }
    return true;
}

void watch(std::string mode)
{
    while (!corvex::BBXContextIsInitialized() || !launchMarkerGone() || qApp == nullptr)
        sleepMilliseconds(20);
    std::atomic<bool> turned{false};
    onMainThread([&turned] { turned.store(true); });
    while (!turned.load())
        sleepMilliseconds(10);
    say("ready");
    if (mode == "prompt-quit" || mode == "prompt-send") {
        const bool send = mode == "prompt-send";
        std::atomic<bool> seen{false};
        while (!seen.load()) {
            onMainThread([&seen, send] {
                if (!seen.load() && lookForPrompt(send))
                    seen.store(true);
            });
            sleepMilliseconds(50);
        }
        if (!send)
            return;         // the test quits the application
        mode = "null-main"; // after Send, the next crash
    }
    char byte = 0;
    while (read(gWakePipe[0], &byte, 1) != 1) {
    }
    fire(mode);
}

__attribute__((constructor)) void corvexFaultsStart()
{
    // Only the application itself: whatever it starts runs without this library.
    unsetenv("LD_PRELOAD");
    const char* mode = std::getenv("CORVEX_FAULT");
    if (mode == nullptr)
        return;
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    if (pipe2(gWakePipe, O_CLOEXEC) != 0)
        return;
    struct sigaction action
    {};
    action.sa_handler = onFireSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR2, &action, nullptr);
    std::thread(watch, std::string(mode)).detach();
}

} // namespace

// The HTTP session's transfer thread waits here between transfers (at most a second).
extern "C" CURLMcode curl_multi_poll(CURLM* multi, curl_waitfd extra[], unsigned int extraCount,
                                     int timeoutMs, int* ready)
{
    using Poll = CURLMcode (*)(CURLM*, curl_waitfd[], unsigned int, int, int*);
    static const auto next = reinterpret_cast<Poll>(dlsym(RTLD_NEXT, "curl_multi_poll"));
    if (gHttpArmed.exchange(false))
        corvex_fault_recurse(0);
    return next(multi, extra, extraCount, timeoutMs, ready);
}
