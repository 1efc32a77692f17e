#include "platform/core/QueueLabels.h"

#include <atomic>
#include <cstring>
#include <sys/syscall.h> // SYS_gettid
#include <unistd.h>      // syscall

namespace corvex {
namespace {

// One slot per live thread that ever ran a labelled queue. `sequence` is a seqlock: odd
// while the owner writes, so a reader in a signal handler retries or gives up rather than
// reading a torn label.
struct Slot
{
    std::atomic<int> tid{0};
    std::atomic<unsigned> sequence{0};
    char label[QueueLabels::MaxLabelLength + 1];
};

Slot gSlots[QueueLabels::MaxThreads];

// Index of the calling thread's slot, +1 (0: none yet). A trivially initialised
// thread-local in the executable: reading it needs no allocation.
thread_local unsigned tSlotIndexPlusOne = 0;

int currentTid()
{
    return int(::syscall(SYS_gettid));
}

Slot* ownSlot(bool create)
{
    if (tSlotIndexPlusOne != 0)
        return &gSlots[tSlotIndexPlusOne - 1];
    if (!create)
        return nullptr;
    const int tid = currentTid();
    for (std::size_t i = 0; i < QueueLabels::MaxThreads; ++i) {
        int expected = 0;
        if (gSlots[i].tid.compare_exchange_strong(expected, tid, std::memory_order_acq_rel)) {
            tSlotIndexPlusOne = unsigned(i + 1);
            return &gSlots[i];
        }
    }
    return nullptr; // table full: the label is simply not recorded
}

std::size_t copyStable(const Slot& slot, char* out, std::size_t capacity)
{
    if (capacity == 0)
        return 0;
    for (int attempt = 0; attempt < 64; ++attempt) {
        const unsigned before = slot.sequence.load(std::memory_order_acquire);
        if (before & 1u)
            continue;
        std::size_t n = 0;
        while (n + 1 < capacity && n < QueueLabels::MaxLabelLength) {
            const char c = reinterpret_cast<const volatile char*>(slot.label)[n];
            if (c == '\0')
                break;
            out[n++] = c;
        }
        out[n] = '\0';
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.sequence.load(std::memory_order_relaxed) == before)
            return n;
    }
    out[0] = '\0';
    return 0;
}

} // namespace

void QueueLabels::setCurrent(const char* label)
{
    const bool clearing = label == nullptr || label[0] == '\0';
    Slot* slot = ownSlot(!clearing);
    if (slot == nullptr)
        return;
    slot->sequence.fetch_add(1, std::memory_order_acq_rel);
    std::size_t n = 0;
    if (!clearing) {
        for (; n < MaxLabelLength && label[n] != '\0'; ++n)
            slot->label[n] = label[n];
    }
    slot->label[n] = '\0';
    slot->sequence.fetch_add(1, std::memory_order_release);
}

std::size_t QueueLabels::read(int tid, char* out, std::size_t capacity)
{
    if (capacity > 0)
        out[0] = '\0';
    if (tid == 0)
        return 0;
    for (std::size_t i = 0; i < MaxThreads; ++i) {
        if (gSlots[i].tid.load(std::memory_order_acquire) == tid)
            return copyStable(gSlots[i], out, capacity);
    }
    return 0;
}

std::size_t QueueLabels::readCurrent(char* out, std::size_t capacity)
{
    if (capacity > 0)
        out[0] = '\0';
    const Slot* slot = ownSlot(false);
    return slot ? copyStable(*slot, out, capacity) : 0;
}

void QueueLabels::releaseCurrentThread()
{
    Slot* slot = ownSlot(false);
    if (slot == nullptr)
        return;
    setCurrent(nullptr);
    slot->tid.store(0, std::memory_order_release);
    tSlotIndexPlusOne = 0;
}

QueueLabels::Scope::Scope(const char* label)
{
    readCurrent(mPrevious, sizeof mPrevious);
    setCurrent(label);
}

QueueLabels::Scope::~Scope()
{
    setCurrent(mPrevious);
}

} // namespace corvex
