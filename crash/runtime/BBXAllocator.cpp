// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.

#include "crash/runtime/BBXAllocator.h"

#include "crash/runtime/BBXCrashTime.h"
#include "crash/runtime/BBXErrnoText.h"
#include "crash/runtime/BBXHost.h"
#include "crash/runtime/BBXSDKLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace corvex {

namespace {

constexpr std::size_t BBXAllocatorRecordSize = 64;
static_assert(sizeof(BBXAllocator) <= BBXAllocatorRecordSize);

bool bbxAllocatorRoundUp(std::size_t size, std::size_t* rounded)
{
    if (size > SIZE_MAX - (BBXAllocatorAlignment - 1))
        return false;
    *rounded = (size + BBXAllocatorAlignment - 1) & ~(BBXAllocatorAlignment - 1);
    return true;
}

void* bbxAllocatorTakeFromRegion(BBXAllocatorRegion* region, std::size_t size)
{
    std::size_t rounded = 0;
    const bool fits = bbxAllocatorRoundUp(size, &rounded);
    std::uintptr_t next = region->next.load(std::memory_order_acquire);
    while (true) {
        if (!fits || rounded > region->size || next - region->start > region->size - rounded) {
            BBX_LOG_WARN("Unable to allocate sufficient memory, falling back to malloc");
            return std::malloc(size);
        }
        if (region->next.compare_exchange_weak(next, next + rounded, std::memory_order_seq_cst))
            return reinterpret_cast<void*>(next);
    }
}

} // namespace

BBXAllocator* BBXAllocatorCreate(std::size_t writableSize, std::size_t readOnlySize)
{
    const std::size_t page = BBXHostGetPageSize();
    const std::size_t writable = writableSize != 0 ? (writableSize / page + 1) * page : 0;
    // A whole spare page even when the size is already a multiple of the page.
    const std::size_t readOnly = ((readOnlySize + BBXAllocatorRecordSize) / page + 1) * page;
    const std::size_t total = writable + readOnly + 3 * page;
    void* mapping = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) {
        BBX_LOG_ERROR("Mapping failed %s", BBXErrnoText(errno).text());
        return nullptr;
    }
    const auto base = reinterpret_cast<std::uintptr_t>(mapping);
    const std::uintptr_t writableStart = base + page;
    const std::uintptr_t readOnlyStart = base + 2 * page + writable;
    BBX_LOG_INFO("Mapping: %p %p %p, total: %zu K", std::uint64_t(base), std::uint64_t(writableStart),
                 std::uint64_t(readOnlyStart), total / 1024);
    const struct
    {
        std::uintptr_t at;
        const char* failure;
    } guards[] = {
        {base, "ERROR [%s:%d] First guard protection failed %s\n"},
        {base + page + writable, "ERROR [%s:%d] Middle guard protection failed %s\n"},
        {readOnlyStart + readOnly, "ERROR [%s:%d] Last guard protection failed %s\n"},
    };
    for (const auto& guard : guards) {
        if (::mprotect(reinterpret_cast<void*>(guard.at), page, PROT_NONE) != 0) {
            BBXSDKLog(BBXSDKLogLevelError, guard.failure, __func__, __LINE__, BBXErrnoText(errno).text());
            ::munmap(mapping, total);
            return nullptr;
        }
    }
    auto* allocator = new (reinterpret_cast<void*>(readOnlyStart)) BBXAllocator();
    allocator->base = base;
    allocator->writable.size = writable;
    allocator->writable.start = writableStart;
    allocator->writable.next.store(writableStart);
    allocator->readOnly.size = readOnly;
    allocator->readOnly.start = readOnlyStart;
    allocator->readOnly.next.store(readOnlyStart + BBXAllocatorRecordSize);
    BBX_LOG_DEBUG("Allocator successfully created %p", std::uint64_t(readOnlyStart));
    return allocator;
}

void* BBXAllocatorSafeAllocate(BBXAllocator* allocator, std::size_t size, int kind)
{
    if (!BBXIsValidPointer(allocator)) {
        BBX_LOG_WARN("Allocator invalid, falling back to malloc");
        return std::malloc(size);
    }
    if (allocator->isProtected.load(std::memory_order_acquire)) {
        BBX_LOG_WARN("Allocator already protected, falling back to malloc");
        return std::malloc(size);
    }
    switch (kind) {
    case BBXAllocationWritable:
        return bbxAllocatorTakeFromRegion(&allocator->writable, size);
    case BBXAllocationReadOnly:
        return bbxAllocatorTakeFromRegion(&allocator->readOnly, size);
    default:
        return nullptr;
    }
}

bool BBXAllocatorProtect(BBXAllocator* allocator)
{
    if (!BBXIsValidPointer(allocator)) {
        BBX_LOG_ERROR("Invalid allocator");
        return false;
    }
    if (allocator->isProtected.load(std::memory_order_acquire)) {
        BBX_LOG_WARN("Write protection already enabled");
        return true;
    }
    // The flag lies in the region about to become read-only: set it first.
    allocator->isProtected.store(true, std::memory_order_seq_cst);
    return ::mprotect(reinterpret_cast<void*>(allocator->readOnly.start), allocator->readOnly.size,
                      PROT_READ) == 0;
}

void BBXAllocatorDestroy(BBXAllocator* allocator)
{
    if (!BBXIsValidPointer(allocator))
        return;
    const std::size_t page = BBXHostGetPageSize();
    const std::size_t total = allocator->writable.size + allocator->readOnly.size + 3 * page;
    ::munmap(reinterpret_cast<void*>(allocator->base), total);
}

} // namespace corvex
