// Names of crashed frames, compared with gdb: the symbol probe (symbolprobe/) crashes from its
// stripped copy, its frames are named by that copy and by the unstripped program, and
// check_symbols_with_gdb.py holds every name against gdb's backtrace of the same crash.

#include "tests/support/HelperProcess.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

class SymbolNames : public ::testing::TestWithParam<const char*>
{};

TEST_P(SymbolNames, EveryNameAgreesWithGdbAndNoFrameIsNamedByANeighbour)
{
    if (test::isSanitized())
        GTEST_SKIP() << "the sanitizers' own signal handlers take the probe's crashes";
    const test::ProgramRun check = test::runProgramToEnd(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(CORVEX_CRASH_REPORTS_TEST_DIR "/check_symbols_with_gdb.py"),
         QStringLiteral(CORVEX_CRASH_SYMBOL_PROBE), QStringLiteral(CORVEX_CRASH_SYMBOL_LIBRARY),
         QString::fromLatin1(GetParam()), test::testDir() + QStringLiteral("/symbols")},
        120000);
    EXPECT_TRUE(check.ran);
    EXPECT_TRUE(check.output.startsWith("ok")) << check.output.toStdString();
}

// A static function called from an exported one; a thread's body down to the C library's
// thread start; abort through the C library; a library opened with dlopen that the naming
// run never loads.
INSTANTIATE_TEST_SUITE_P(Crashes, SymbolNames, ::testing::Values("static", "thread", "abort", "library"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return info.param; });

} // namespace
} // namespace corvex
