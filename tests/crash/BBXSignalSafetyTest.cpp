// Writing a record from a signal handler allocates nothing: the malloc family of this
// program marks every call the watched thread makes while it is inside the test's handler.
// Only where the malloc family can be replaced (the g++ tree; the sanitizers bring their own).

#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXFileReader.h"
#include "crash/runtime/BBXMemory.h"
#include "crash/runtime/BBXSDKLog.h"
#include "tests/crash/AllocationMarks.h"
#include "tests/crash/CrashTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdlib>

#if CORVEX_TEST_OWN_MALLOC

namespace {

using namespace corvex;

const char* gCrashRecordPath = nullptr;
std::atomic<bool> gCrashRecordWritten{false};

void crashWriteRecordInHandler(int, siginfo_t*, void*)
{
    test::watchAllocationsOnThisThread(true);
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
    test::watchAllocationsOnThisThread(false);
}

} // namespace
#endif

TEST(BBXSignalSafety, WritingARecordInASignalHandlerAllocatesNothing)
{
#if !CORVEX_TEST_OWN_MALLOC
    GTEST_SKIP() << "the sanitizers own the malloc family here";
#else
    using namespace corvex::test;
    ScopedSdkLog log;
    const QByteArray path = crashTestPath("signal.bbxrecord");
    gCrashRecordPath = path.constData();

    // The watch is not blind: an allocation while watching leaves a mark.
    test::resetAllocationMarks();
    test::watchAllocationsOnThisThread(true);
    void* volatile probe = std::malloc(16);
    std::free(probe);
    test::watchAllocationsOnThisThread(false);
    ASSERT_EQ(test::allocationMarks(), 2);

    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_sigaction = crashWriteRecordInHandler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR2, &action, &previous), 0);
    test::resetAllocationMarks();
    ASSERT_EQ(::raise(SIGUSR2), 0);
    ::sigaction(SIGUSR2, &previous, nullptr);

    ASSERT_TRUE(gCrashRecordWritten.load());
    EXPECT_EQ(test::allocationMarks(), 0);
    EXPECT_EQ(BBXFileReadSectionsFromData(readFile(QFile::decodeName(path))).size(), 1000u);
    EXPECT_TRUE(log.text().contains("hold onto your butts -1 0xabc x\n"));
#endif
}
