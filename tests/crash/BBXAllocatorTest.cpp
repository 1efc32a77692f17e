#include "crash/runtime/BBXAllocator.h"
#include "crash/runtime/BBXMemory.h"
#include "tests/crash/CrashTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace corvex;
using namespace corvex::test;

namespace {

bool insideAllocator(const BBXAllocator* allocator, const void* pointer)
{
    const auto at = reinterpret_cast<std::uintptr_t>(pointer);
    return at >= allocator->base &&
           at < allocator->base + allocator->writable.size + allocator->readOnly.size + 3 * 4096;
}

// Whether the kernel may store into the bytes: read() from a pipe fails with EFAULT where it
// may not, without a signal.
bool kernelCanWrite(void* at)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    const char byte = 'x';
    const bool wrote = ::write(fds[1], &byte, 1) == 1;
    const bool stored = wrote && ::read(fds[0], at, 1) == 1;
    ::close(fds[0]);
    ::close(fds[1]);
    return stored;
}

} // namespace

TEST(BBXAllocator, AllocationsAreAlignedAndGuarded)
{
    BBXAllocator* allocator = BBXAllocatorCreate(100, 100);
    ASSERT_NE(allocator, nullptr);
    EXPECT_EQ(allocator->writable.size, 4096u);
    EXPECT_EQ(allocator->readOnly.size, 4096u);
    void* first = BBXAllocatorSafeAllocate(allocator, 3, BBXAllocationWritable);
    void* second = BBXAllocatorSafeAllocate(allocator, 17, BBXAllocationWritable);
    void* third = BBXAllocatorSafeAllocate(allocator, 1, BBXAllocationReadOnly);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first), allocator->writable.start);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(second), allocator->writable.start + 16);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(third), allocator->readOnly.start + 64);
    EXPECT_EQ(BBXAllocatorSafeAllocate(allocator, 8, 2), nullptr);

    char byte = 0;
    EXPECT_FALSE(BBXReadMemory(allocator->base, &byte, 1)) << "first guard";
    EXPECT_TRUE(BBXReadMemory(allocator->writable.start, &byte, 1));
    EXPECT_FALSE(BBXReadMemory(allocator->writable.start + allocator->writable.size, &byte, 1))
        << "middle guard";
    EXPECT_FALSE(BBXReadMemory(allocator->readOnly.start + allocator->readOnly.size, &byte, 1))
        << "last guard";
    BBXAllocatorDestroy(allocator);
}

TEST(BBXAllocator, FallsBackToMallocWhenFullOrProtected)
{
    ScopedSdkLog log;
    BBXAllocator* allocator = BBXAllocatorCreate(4096, 0);
    ASSERT_NE(allocator, nullptr);
    EXPECT_TRUE(insideAllocator(allocator, BBXAllocatorSafeAllocate(allocator, 8000, BBXAllocationWritable)));
    void* overflow = BBXAllocatorSafeAllocate(allocator, 1000, BBXAllocationWritable);
    EXPECT_FALSE(insideAllocator(allocator, overflow));
    std::free(overflow);
    void* readOnly = BBXAllocatorSafeAllocate(allocator, 32, BBXAllocationReadOnly);
    ASSERT_TRUE(insideAllocator(allocator, readOnly));
    EXPECT_TRUE(kernelCanWrite(readOnly));

    EXPECT_TRUE(BBXAllocatorProtect(allocator));
    EXPECT_FALSE(kernelCanWrite(readOnly));
    EXPECT_TRUE(BBXAllocatorProtect(allocator));
    void* late = BBXAllocatorSafeAllocate(allocator, 8, BBXAllocationWritable);
    EXPECT_FALSE(insideAllocator(allocator, late));
    std::free(late);
    EXPECT_FALSE(BBXAllocatorProtect(nullptr));

    const QByteArray text = log.text();
    EXPECT_TRUE(text.contains("] Unable to allocate sufficient memory, falling back to malloc\n"));
    EXPECT_TRUE(text.contains("] Write protection already enabled\n"));
    EXPECT_TRUE(text.contains("] Allocator already protected, falling back to malloc\n"));
    EXPECT_TRUE(text.contains("ERROR [BBXAllocatorProtect:"));
    EXPECT_TRUE(text.contains("INFO  [BBXAllocatorCreate:"));
    BBXAllocatorDestroy(allocator);
}
