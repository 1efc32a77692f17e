#include "crash/runtime/BBXSDKLog.h"
#include "tests/crash/CrashTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <climits>

using namespace corvex;
using namespace corvex::test;

TEST(BBXSDKLog, ConvertsWithoutAFormattingLibrary)
{
    ScopedSdkLog log;
    BBXSDKLog(1, "%d|%d|%u|%x|%p|%p|%s|%s\n", -12, INT_MIN, 4000000000u, 255u, std::uint64_t(0),
              std::uint64_t(0xdeadbeef), "text", static_cast<const char*>(nullptr));
    // Conversions it does not know are written as they stand and take no argument.
    BBXSDKLog(4, "%zd %lu %% %q %d end %", 7);
    BBX_LOG_WARN("Signal: %d", 11);
    EXPECT_EQ(log.text(), QByteArray("-12|-2147483648|4000000000|ff|0x0|0xdeadbeef|text|(null)\n"
                                     "%zd %lu %% %q 7 end %WARN  [TestBody:") +
                              QByteArray::number(__LINE__ - 3) + "] Signal: 11\n");
}

TEST(BBXSDKLog, WritesNothingWithoutStatePathOrLevel)
{
    BBXSDKLogInstall(nullptr);
    BBXSDKLog(4, "lost\n");
    ScopedSdkLog log;
    log.state().minimumLevel = 3;
    BBXSDKLog(2, "below the level\n");
    BBXSDKLog(3, "kept\n");
    EXPECT_EQ(log.text(), QByteArray("kept\n"));

    BBXSDKLogState pathless;
    BBXSDKLogInstall(&pathless);
    BBXSDKLog(4, "no path\n");
    EXPECT_EQ(pathless.descriptor.load(), -1);
}

TEST(BBXSDKLog, AFailedOpenIsTriedAgainAtTheNextLine)
{
    const QByteArray folder = crashTestPath("later");
    const QByteArray path = folder + "/sdk.log";
    BBXSDKLogState state;
    state.path = path.constData();
    BBXSDKLogInstall(&state);
    BBXSDKLog(1, "lost\n");
    EXPECT_EQ(state.descriptor.load(), -1);
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(folder)));
    BBXSDKLog(1, "written\n");
    BBXSDKLogInstall(nullptr);
    ASSERT_GE(state.descriptor.load(), 0);
    ::close(state.descriptor.load());
    EXPECT_EQ(readFile(QFile::decodeName(path)), QByteArray("written\n"));
}
