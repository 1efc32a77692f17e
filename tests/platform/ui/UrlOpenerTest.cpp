// The URL opener: only http and https addresses reach the desktop; the process-wide opener
// can be replaced and put back.

#include "platform/ui/UrlOpener.h"
#include "tests/doubles/ui/RecordingUrlOpener.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
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

// A watched start runs the desktop's opener and tells once when it did not bring a browser
// up: an opener that fails (a browser refusing to run as root), no opener at all, an address
// that is not opened; an opener that succeeds tells nothing.
TEST(UrlOpener, AWatchedStartTellsOnceWhenNoBrowserCameUp)
{
    const QString bin = testDir() + QStringLiteral("/bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    const QString marker = testDir() + QStringLiteral("/opened");
    const QByteArray path = qgetenv("PATH");
    const auto useOpener = [&](const QByteArray& script) {
        QFile::remove(bin + QStringLiteral("/xdg-open"));
        if (!script.isEmpty()) {
            QFile opener(bin + QStringLiteral("/xdg-open"));
            ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
            opener.write("#!/bin/sh\necho \"$1\" >'" + marker.toUtf8() + "'\n" + script);
            opener.close();
            opener.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        qputenv("PATH", bin.toUtf8() + (script.isEmpty() ? QByteArray() : ":" + path));
    };
    QtUrlOpener desktop;
    UrlOpener& opener = desktop;
    const QUrl page(QStringLiteral("https://example.org/sign-in?state=a%20b"));
    int failures = 0;
    const auto watch = [&](const QUrl& url) { opener.openWatchingStart(url, [&failures] { ++failures; }); };

    useOpener("echo 'Running as root is not supported' >&2\nexit 1\n");
    watch(page);
    EXPECT_EQ(failures, 0) << "told inside the call";
    EXPECT_TRUE(runUntil([&] { return failures == 1; }, 10.0));
    EXPECT_EQ(readFile(marker).trimmed(), page.toString(QUrl::FullyEncoded).toUtf8());

    useOpener({}); // no xdg-open anywhere on the PATH
    watch(page);
    EXPECT_TRUE(runUntil([&] { return failures == 2; }, 10.0));

    useOpener("exit 0\n");
    QFile::remove(marker);
    watch(page);
    EXPECT_TRUE(runUntil([&] { return QFile::exists(marker); }, 10.0));
    // Its exit is seen within the pumping that follows; nothing is told.
    EXPECT_FALSE(runUntil([&] { return failures != 2; }, 1.0));

    watch(QUrl(QStringLiteral("file:///etc/passwd")));
    EXPECT_TRUE(runUntil([&] { return failures == 3; }, 10.0));
    qputenv("PATH", path);
}
