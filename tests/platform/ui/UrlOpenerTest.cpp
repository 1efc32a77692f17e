// The URL opener: only http and https addresses reach the desktop; the process-wide opener
// can be replaced and put back.

#include "platform/ui/UrlOpener.h"
#include "tests/doubles/ui/RecordingUrlOpener.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

struct UrlOpenerCase
{
    const char* name;
    const char* url;
    bool opens;
};

class UrlOpenerSchemes : public ::testing::TestWithParam<UrlOpenerCase>
{};

} // namespace

TEST_P(UrlOpenerSchemes, OnlyHttpAndHttpsReachTheDesktop)
{
    LogCapture log;
    auto recorder = std::make_shared<RecordingUrlOpener>();
    UrlOpener::setCurrent(recorder);
    const QUrl url(QString::fromUtf8(GetParam().url));
    EXPECT_EQ(UrlOpener::current()->open(url), GetParam().opens);
    EXPECT_EQ(recorder->opened.size(), GetParam().opens ? 1 : 0);
    if (!GetParam().opens) {
        EXPECT_TRUE(log.contains(QStringLiteral("Refused to open the address")));
    }
    UrlOpener::setCurrent(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, UrlOpenerSchemes,
                         ::testing::Values(UrlOpenerCase{"Http", "http://example.org/a?b=c", true},
                                           UrlOpenerCase{"UpperCaseHttps", "HTTPS://Example.org/", true},
                                           UrlOpenerCase{"File", "file:///etc/passwd", false},
                                           UrlOpenerCase{"Smb", "smb://server/share", false},
                                           UrlOpenerCase{"Javascript", "javascript:alert(1)", false},
                                           UrlOpenerCase{"HttpWithoutHost", "http:///no-host", false},
                                           UrlOpenerCase{"Empty", "", false}),
                         [](const ::testing::TestParamInfo<UrlOpenerCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(UrlOpener, ARefusalOfTheDesktopAnswersFalseAndTheDefaultComesBack)
{
    auto recorder = std::make_shared<RecordingUrlOpener>();
    recorder->answer = false;
    EXPECT_EQ(UrlOpener::setCurrent(recorder), nullptr);
    EXPECT_FALSE(UrlOpener::current()->open(QUrl(QStringLiteral("https://example.org"))));
    EXPECT_EQ(UrlOpener::setCurrent(nullptr), recorder);
    EXPECT_NE(dynamic_cast<QtUrlOpener*>(UrlOpener::current().get()), nullptr);
}
