// The application's mail hand-over runs "xdg-email --attach <file>": here a stand-in script
// on PATH records its arguments and ends with the status the test chooses.

#include "export/XdgEmailOpener.h"
#include "tests/support/RunUntil.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QFile>
#include <gtest/gtest.h>
#include <optional>

namespace corvex::test {
namespace {

// Installs a stand-in xdg-email answering `status` in a folder that PATH then holds alone.
QString installStandIn(int status)
{
    const QString bin = testDir() + QStringLiteral("/bin");
    const QString script = bin + QStringLiteral("/xdg-email");
    writeFile(script, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"%1/args\"\nexit %2\n")
                          .arg(testDir())
                          .arg(status)
                          .toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", bin.toUtf8() + ":/bin:/usr/bin");
    return testDir() + QStringLiteral("/args");
}

std::optional<bool> handOver(const QString& path)
{
    std::optional<bool> answer;
    bool inside = true;
    bool early = false;
    XdgEmailOpener().openFileInMail(path, [&](bool ok) {
        early = inside;
        answer = ok;
    });
    inside = false;
    runUntil([&] { return answer.has_value(); }, 10);
    EXPECT_FALSE(early) << "answered inside the call";
    return answer;
}

TEST(XdgEmailOpener, PassesTheFileToXdgEmailAndReportsItsStatus)
{
    const QString args = installStandIn(0);
    const QString file = testDir() + QStringLiteral("/a b\u00e9.pdf");
    EXPECT_EQ(handOver(file), std::optional<bool>(true));
    EXPECT_EQ(QString::fromUtf8(readFile(args)), QStringLiteral("--attach\n") + file + QLatin1Char('\n'));

    installStandIn(3); // xdg-email's "no tool found"
    EXPECT_EQ(handOver(file), std::optional<bool>(false));

    qputenv("PATH", (testDir() + QStringLiteral("/nowhere")).toUtf8());
    EXPECT_EQ(handOver(file), std::optional<bool>(false));
}

} // namespace
} // namespace corvex::test
