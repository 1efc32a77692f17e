#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return qEnvironmentVariableIntValue("CORVEX_SANITIZED") == 1;
}

int heavyScale(int normal, int sanitized)
{
    return isSanitized() ? sanitized : normal;
}

QString selfExecutable()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

} // namespace corvex::test
