#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <gtest/gtest.h>

namespace corvex::test {

QString testDir()
{
    return qEnvironmentVariable("CORVEX_TEST_DIR");
}

QString testOutputDir()
{
    QString dir = qEnvironmentVariable("CORVEX_TEST_OUTPUT");
    if (dir.isEmpty())
        dir = QDir::currentPath() + QStringLiteral("/test-output");
    QDir().mkpath(dir);
    return dir;
}

bool isSanitized()
{
#ifdef CORVEX_SANITIZED
    return true;
#else
    return false;
#endif
}

int heavyScale(int normal, int sanitized)
{
    return isSanitized() ? sanitized : normal;
}

bool isSoak()
{
    return qEnvironmentVariableIntValue("CORVEX_SOAK") == 1;
}

int soakRuns(int full, int ci, int sanitized)
{
    return isSoak() ? full : heavyScale(ci, sanitized);
}

void reportSoak(const QString& figures)
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString line = (info ? QString::fromUtf8(info->test_suite_name()) + QLatin1Char('.') +
                                     QString::fromUtf8(info->name())
                               : QStringLiteral("(no test)")) +
                         QStringLiteral(": ") + figures + QLatin1Char('\n');
    std::fputs(line.toUtf8().constData(), stdout);
    std::fflush(stdout);
    const QString report = qEnvironmentVariable("CORVEX_SOAK_REPORT");
    if (report.isEmpty())
        return;
    QFile file(report);
    if (file.open(QIODevice::Append | QIODevice::WriteOnly))
        file.write(line.toUtf8());
}

QString selfExecutable()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

} // namespace corvex::test
