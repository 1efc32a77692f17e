#include "tests/crash/AllocationMarks.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

namespace {

thread_local bool tWatchingAllocations = false;
std::atomic<int> gAllocationMarks{0};
std::atomic<bool> gWatchingAllThreads{false};

[[maybe_unused]] void markAllocation()
{
    if (tWatchingAllocations || gWatchingAllThreads.load(std::memory_order_relaxed))
        gAllocationMarks.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

namespace corvex::test {

void watchAllocationsOnThisThread(bool watching)
{
    tWatchingAllocations = watching;
}

void watchAllocationsOnAllThreads(bool watching)
{
    gWatchingAllThreads.store(watching, std::memory_order_relaxed);
}

void resetAllocationMarks()
{
    gAllocationMarks.store(0);
}

int allocationMarks()
{
    return gAllocationMarks.load();
}

} // namespace corvex::test

#if CORVEX_TEST_OWN_MALLOC
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void __libc_free(void* pointer);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size)
{
    markAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size)
{
    markAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size)
{
    markAllocation();
    return __libc_realloc(pointer, size);
}
void free(void* pointer)
{
    if (pointer != nullptr)
        markAllocation();
    __libc_free(pointer);
}
void* memalign(std::size_t alignment, std::size_t size)
{
    markAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    markAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size)
{
    markAllocation();
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr)
        return ENOMEM;
    *out = pointer;
    return 0;
}
void* valloc(std::size_t size)
{
    markAllocation();
    return __libc_memalign(4096, size);
}
}
#endif
