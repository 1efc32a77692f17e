// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/capture/BBXThreadCapture.h"

#include "crash/capture/BBXThreadStacks.h"
#include "crash/runtime/BBXCrashTime.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace corvex {

namespace {

std::atomic<BBXThreadCaptureBlock*> gBBXCaptureBlock{nullptr};
std::atomic<std::uint32_t> gBBXCaptureAnswerMs{300};
std::atomic<std::uint32_t> gBBXCaptureHoldMs{10000};
std::atomic<BBXThreadCaptureHoldObserver> gBBXCaptureObserver{nullptr};

void captureTellObserver(bool held)
{
    if (BBXThreadCaptureHoldObserver observer = gBBXCaptureObserver.load(std::memory_order_acquire))
        observer(held);
}

std::uint64_t captureNowMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::uint64_t(now.tv_sec) * 1000u + std::uint64_t(now.tv_nsec) / 1000000u;
}

void captureFutexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, long nanoseconds)
{
    timespec timeout{0, nanoseconds};
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, &timeout,
            nullptr, 0);
}

void captureFutexWakeAll(std::atomic<std::uint32_t>* word)
{
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE_PRIVATE, 0x7fffffff, nullptr,
            nullptr, 0);
}

void capturePause()
{
    timespec pause{0, 200000};
    nanosleep(&pause, nullptr);
}

BBXThreadSlot* captureSlotFor(BBXThreadCaptureBlock* block, std::int32_t tid)
{
    const std::uint32_t count = block->slotCount.load(std::memory_order_acquire);
    for (std::uint32_t i = 0; i < count && i < BBXThreadCaptureMaxThreads; ++i) {
        if (block->threadSlots[i].tid.load(std::memory_order_acquire) == tid)
            return &block->threadSlots[i];
    }
    return nullptr;
}

// Runs on the thread asked to park (or to take an alternate stack, at set-up), on its
// alternate stack when it has one.
void BBXThreadCaptureHandler(int, siginfo_t*, void* userContext)
{
    const int savedErrno = errno;
    BBXThreadCaptureBlock* block = gBBXCaptureBlock.load(std::memory_order_acquire);
    const std::uint32_t epoch = block ? block->epoch.load(std::memory_order_acquire) : 0;
    BBXThreadSlot* slot = (epoch & 1u) ? captureSlotFor(block, BBXCurrentThreadId()) : nullptr;
    std::uint32_t requested = BBXThreadSlotRequested;
    if (slot == nullptr)
        BBXThreadStacksAnswer(BBXCurrentThreadId(), userContext);
    if (slot != nullptr && BBXIsValidPointer(userContext)) {
        BBXThreadContextFromUcontext(static_cast<const ucontext_t*>(userContext), &slot->registers);
        if (slot->state.compare_exchange_strong(requested, BBXThreadSlotParked, std::memory_order_acq_rel)) {
            const std::uint64_t deadline =
                captureNowMilliseconds() + gBBXCaptureHoldMs.load(std::memory_order_relaxed);
            while (block->epoch.load(std::memory_order_acquire) == epoch &&
                   captureNowMilliseconds() < deadline)
                captureFutexWait(&block->epoch, epoch, 20000000);
            slot->state.store(BBXThreadSlotIdle, std::memory_order_release);
        }
    }
    errno = savedErrno;
}

} // namespace

std::int32_t BBXCurrentThreadId()
{
    return static_cast<std::int32_t>(syscall(SYS_gettid));
}

int BBXThreadCaptureSignal()
{
    return SIGRTMIN + 7;
}

bool BBXThreadCaptureInstall(BBXThreadCaptureBlock* block)
{
    if (!BBXIsValidPointer(block))
        return false;
    struct sigaction action
    {};
    action.sa_sigaction = BBXThreadCaptureHandler;
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    if (sigaction(BBXThreadCaptureSignal(), &action, nullptr) != 0)
        return false;
    gBBXCaptureBlock.store(block, std::memory_order_release);
    return true;
}

void BBXThreadCaptureUninstall()
{
    gBBXCaptureBlock.store(nullptr, std::memory_order_release);
}

void BBXThreadCaptureSetTimeouts(BBXThreadCaptureTimeouts timeouts)
{
    gBBXCaptureAnswerMs.store(timeouts.answerMilliseconds, std::memory_order_relaxed);
    gBBXCaptureHoldMs.store(timeouts.holdMilliseconds, std::memory_order_relaxed);
}

std::uint32_t BBXThreadCaptureListThreads(std::int32_t* tids, std::uint32_t capacity)
{
    if (!BBXIsValidPointer(tids))
        return 0;
    const int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    alignas(8) char buffer[4096];
    std::uint32_t count = 0;
    while (count < capacity) {
        const long length = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (long offset = 0; offset < length && count < capacity;) {
            // linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
            std::uint16_t recordLength = 0;
            std::memcpy(&recordLength, buffer + offset + 16, sizeof recordLength);
            if (recordLength == 0)
                break;
            const char* name = buffer + offset + 19;
            std::int64_t tid = 0;
            bool digits = *name != '\0';
            for (const char* c = name; *c != '\0' && digits; ++c) {
                digits = *c >= '0' && *c <= '9';
                tid = tid * 10 + (*c - '0');
            }
            if (digits && tid > 0 && tid <= 0x7fffffff)
                tids[count++] = static_cast<std::int32_t>(tid);
            offset += recordLength;
        }
    }
    close(fd);
    return count;
}

std::uint32_t BBXThreadCaptureSuspend(const std::int32_t* tids, std::uint32_t count)
{
    BBXThreadCaptureBlock* block = gBBXCaptureBlock.load(std::memory_order_acquire);
    if (block == nullptr || !BBXIsValidPointer(tids))
        return 0;
    const std::int32_t self = BBXCurrentThreadId();
    std::uint32_t slots = 0;
    for (std::uint32_t i = 0; i < count && slots < BBXThreadCaptureMaxThreads; ++i) {
        if (tids[i] == self)
            continue;
        BBXThreadSlot& slot = block->threadSlots[slots++];
        std::memset(&slot.registers, 0, sizeof slot.registers);
        slot.state.store(BBXThreadSlotRequested, std::memory_order_relaxed);
        slot.tid.store(tids[i], std::memory_order_relaxed);
    }
    block->slotCount.store(slots, std::memory_order_release);
    const std::uint32_t epoch = block->epoch.load(std::memory_order_acquire);
    block->epoch.store((epoch | 1u) + ((epoch & 1u) ? 2u : 0u), std::memory_order_release);

    const pid_t pid = getpid();
    for (std::uint32_t i = 0; i < slots; ++i) {
        if (syscall(SYS_tgkill, pid, block->threadSlots[i].tid.load(std::memory_order_relaxed),
                    BBXThreadCaptureSignal()) != 0)
            block->threadSlots[i].state.store(BBXThreadSlotIdle, std::memory_order_release); // gone meanwhile
    }
    const std::uint64_t deadline =
        captureNowMilliseconds() + gBBXCaptureAnswerMs.load(std::memory_order_relaxed);
    std::uint32_t parked = 0;
    while (true) {
        std::uint32_t waiting = 0;
        parked = 0;
        for (std::uint32_t i = 0; i < slots; ++i) {
            const std::uint32_t state = block->threadSlots[i].state.load(std::memory_order_acquire);
            waiting += state == BBXThreadSlotRequested;
            parked += state == BBXThreadSlotParked;
        }
        if (waiting == 0 || captureNowMilliseconds() >= deadline)
            break;
        capturePause();
    }
    captureTellObserver(true);
    return parked;
}

bool BBXThreadCaptureGetRegisters(std::int32_t tid, BBXThreadContext* out)
{
    BBXThreadCaptureBlock* block = gBBXCaptureBlock.load(std::memory_order_acquire);
    if (block == nullptr || !BBXIsValidPointer(out))
        return false;
    BBXThreadSlot* slot = captureSlotFor(block, tid);
    if (slot == nullptr || slot->state.load(std::memory_order_acquire) != BBXThreadSlotParked)
        return false;
    std::memcpy(out, &slot->registers, sizeof *out);
    return true;
}

void BBXThreadCaptureResume()
{
    BBXThreadCaptureBlock* block = gBBXCaptureBlock.load(std::memory_order_acquire);
    if (block == nullptr)
        return;
    const std::uint32_t epoch = block->epoch.load(std::memory_order_acquire);
    if ((epoch & 1u) == 0)
        return;
    captureTellObserver(false);
    // Slots still "requested" are withdrawn first, so that a late answer does not park.
    const std::uint32_t slots = block->slotCount.load(std::memory_order_acquire);
    for (std::uint32_t i = 0; i < slots; ++i) {
        std::uint32_t requested = BBXThreadSlotRequested;
        block->threadSlots[i].state.compare_exchange_strong(requested, BBXThreadSlotIdle,
                                                            std::memory_order_acq_rel);
    }
    block->epoch.store(epoch + 1u, std::memory_order_release);
    captureFutexWakeAll(&block->epoch);
    const std::uint64_t deadline =
        captureNowMilliseconds() + gBBXCaptureAnswerMs.load(std::memory_order_relaxed);
    while (captureNowMilliseconds() < deadline) {
        std::uint32_t parked = 0;
        for (std::uint32_t i = 0; i < slots; ++i)
            parked += block->threadSlots[i].state.load(std::memory_order_acquire) == BBXThreadSlotParked;
        if (parked == 0)
            break;
        capturePause();
    }
}

void BBXThreadCaptureSetHoldObserver(BBXThreadCaptureHoldObserver observer)
{
    gBBXCaptureObserver.store(observer, std::memory_order_release);
}

} // namespace corvex
