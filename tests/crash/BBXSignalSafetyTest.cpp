// Writing a record from a signal handler allocates nothing: the malloc family of this
// program marks every call the watched thread makes while it is inside the test's handler.
// Only where the malloc family can be replaced (the g++ tree; the sanitizers bring their own).

#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXFileReader.h"
#include "crash/runtime/BBXMemory.h"
#include "crash/runtime/BBXSDKLog.h"
#include "tests/crash/CrashTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVEX_CRASH_OWN_MALLOC 0
#endif
#endif
#if !defined(CORVEX_CRASH_OWN_MALLOC) && !defined(__SANITIZE_ADDRESS__)
#define CORVEX_CRASH_OWN_MALLOC 1
#endif

#if CORVEX_CRASH_OWN_MALLOC
namespace {

thread_local bool tCrashWatchingAllocations = false;
std::atomic<int> gCrashAllocationMarks{0};

void crashMarkAllocation()
{
    if (tCrashWatchingAllocations)
        gCrashAllocationMarks.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void __libc_free(void* pointer);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size)
{
    crashMarkAllocation();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size)
{
    crashMarkAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size)
{
    crashMarkAllocation();
    return __libc_realloc(pointer, size);
}
void free(void* pointer)
{
    if (pointer != nullptr)
        crashMarkAllocation();
    __libc_free(pointer);
}
void* memalign(std::size_t alignment, std::size_t size)
{
    crashMarkAllocation();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size)
{
    crashMarkAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size)
{
    crashMarkAllocation();
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr)
        return ENOMEM;
    *out = pointer;
    return 0;
}
void* valloc(std::size_t size)
{
    crashMarkAllocation();
    return __libc_memalign(4096, size);
}
}

namespace {

using namespace corvex;

const char* gCrashRecordPath = nullptr;
std::atomic<bool> gCrashRecordWritten{false};

void crashWriteRecordInHandler(int, siginfo_t*, void*)
{
    tCrashWatchingAllocations = true;
    char buffer[BBXFileBufferSize];
    BBXFile file;
    if (BBXFileInitWithPathModeAndBuffer(&file, gCrashRecordPath, false, buffer)) {
        for (std::uint64_t i = 0; i < 1000; ++i) {
            BBXFileWriteSectionStart(&file, i % 2 == 0 ? "threads" : "thread \"names\"");
            BBXFileWriteHashStart(&file);
            BBXFileWriteHashEntryUint64(&file, "pc", 0x7f0000000000 + i);
            BBXFileWriteHashEntryInt64(&file, "min", INT64_MIN);
            BBXFileWriteHashEntryString(&file, "name", "worker \xff\x01\\");
            BBXFileWriteHashEntryHexEncodedString(&file, "reason", "caf\xc3\xa9");
            BBXFileWriteHashKey(&file, "stacktrace");
            BBXFileWriteArrayStart(&file);
            BBXFileWriteArrayEntryUint64(&file, i);
            BBXFileWriteArrayEntryString(&file, nullptr);
            BBXFileWriteArrayEnd(&file);
            BBXFileWriteHashEnd(&file);
            BBXFileWriteSectionEnd(&file);
        }
        std::uint64_t word = 0;
        BBXReadMemory(reinterpret_cast<std::uint64_t>(&file), &word, sizeof word);
        BBXReadMemory(8, &word, sizeof word);
        BBX_LOG_WARN("Performing syncrhonous crash callback - hold onto your butts %d %p %s", -1,
                     std::uint64_t(0xabc), "x");
        BBXFileClose(&file);
        gCrashRecordWritten.store(true);
    }
    tCrashWatchingAllocations = false;
}

} // namespace
#endif

TEST(BBXSignalSafety, WritingARecordInASignalHandlerAllocatesNothing)
{
#if !CORVEX_CRASH_OWN_MALLOC
    GTEST_SKIP() << "the sanitizers own the malloc family here";
#else
    using namespace corvex::test;
    ScopedSdkLog log;
    const QByteArray path = crashTestPath("signal.bbxrecord");
    gCrashRecordPath = path.constData();

    // The watch is not blind: an allocation while watching leaves a mark.
    gCrashAllocationMarks.store(0);
    tCrashWatchingAllocations = true;
    void* volatile probe = std::malloc(16);
    std::free(probe);
    tCrashWatchingAllocations = false;
    ASSERT_EQ(gCrashAllocationMarks.load(), 2);

    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_sigaction = crashWriteRecordInHandler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
    gCrashAllocationMarks.store(0);
    ASSERT_EQ(::raise(SIGUSR2), 0);
    ::sigaction(SIGUSR2, &previous, nullptr);

    ASSERT_TRUE(gCrashRecordWritten.load());
    EXPECT_EQ(gCrashAllocationMarks.load(), 0);
    EXPECT_EQ(BBXFileReadSectionsFromData(readFile(QFile::decodeName(path))).size(), 1000u);
    EXPECT_TRUE(log.text().contains("hold onto your butts -1 0xabc x\n"));
#endif
}
