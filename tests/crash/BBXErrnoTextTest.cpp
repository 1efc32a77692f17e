#include "crash/runtime/BBXErrnoText.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

// Every value the table knows reads as the C library words it (checked here, outside any
// handler); the common ones are among them.
TEST(BBXErrnoText, TheTableSpeaksTheCLibrarysWords)
{
    for (const int known : {ENOENT, EACCES, EBADF, ENOSPC, EINTR, ENOMEM})
        EXPECT_STREQ(BBXErrnoText(known).text(), ::strerrordesc_np(known)) << known;
    int fixed = 0;
    for (int value = 1; value < 256; ++value) {
        const BBXErrnoText text(value);
        if (std::strncmp(text.text(), "Unknown error ", 14) == 0)
            continue;
        ++fixed;
        EXPECT_STREQ(text.text(), ::strerrordesc_np(value)) << value;
    }
    EXPECT_GE(fixed, 40);
}

TEST(BBXErrnoText, AnyOtherValueIsWrittenAsItsNumber)
{
    EXPECT_STREQ(BBXErrnoText(0).text(), "Unknown error 0");
    EXPECT_STREQ(BBXErrnoText(4242).text(), "Unknown error 4242");
    EXPECT_STREQ(BBXErrnoText(-7).text(), "Unknown error -7");
    EXPECT_STREQ(BBXErrnoText(INT_MIN).text(), "Unknown error -2147483648");
}

} // namespace
} // namespace corvex::test
