#pragma once

// Crash-time file. Rules: no Qt; no allocation after installation; no locks; no stdio; only
// async-signal-safe calls; a pointer below 4096 is invalid.
//
// The guarded allocator the runtime takes its crash-time memory from: one mapping of a
// writable and a read-only region between no-access guard pages, advanced lock-free. Once
// set-up is over the read-only region is made read-only, so that a corrupted process cannot
// overwrite the paths and saved handlers the crash handlers rely on.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corvex {

struct BBXAllocatorRegion
{
    std::size_t size = 0;
    std::uintptr_t start = 0;
    std::atomic<std::uintptr_t> next{0};
};

// Lives in the first 64 bytes of its own read-only region.
struct BBXAllocator
{
    std::uintptr_t base = 0;
    std::atomic<bool> isProtected{false};
    BBXAllocatorRegion writable;
    BBXAllocatorRegion readOnly;
};

enum BBXAllocationKind : int
{
    BBXAllocationReadOnly = 0,
    BBXAllocationWritable = 1,
};

// Every allocation is rounded up to this, so that atomics placed in the regions are aligned.
constexpr std::size_t BBXAllocatorAlignment = 16;

BBXAllocator* BBXAllocatorCreate(std::size_t writableSize, std::size_t readOnlySize);
// From the region of `kind`; a request the region cannot hold, any request once protected,
// or one without an allocator falls back to malloc with a warning. Another kind: nullptr.
void* BBXAllocatorSafeAllocate(BBXAllocator* allocator, std::size_t size, int kind);
bool BBXAllocatorProtect(BBXAllocator* allocator);
// Unmaps the whole allocator (never at crash time; for tests and a stopped runtime).
void BBXAllocatorDestroy(BBXAllocator* allocator);

} // namespace corvex
