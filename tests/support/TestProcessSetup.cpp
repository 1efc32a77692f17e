#include "tests/support/TestProcessSetup.h"

#include <QDir>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

namespace corvex::test {

namespace {

// Central European time, spelled as a POSIX rule so that it needs no tz database.
constexpr const char* kTimeZone = "CET-1CEST,M3.5.0,M10.5.0/3";

void setEnv(const char* name, const QString& value)
{
    ::setenv(name, value.toLocal8Bit().constData(), 1);
}

} // namespace

void fixTestProcessEnvironment(const char* qtPlatform)
{
    ::setenv("QT_QPA_PLATFORM", qtPlatform, 1);
    ::setenv("TZ", kTimeZone, 1);
    ::tzset();
    ::setenv("LANG", "en_US.UTF-8", 1);
    ::setenv("LANGUAGE", "en_US", 1);
    for (const char* name :
         {"LC_ALL", "LC_CTYPE", "LC_NUMERIC", "LC_TIME", "LC_COLLATE", "LC_MONETARY", "LC_MESSAGES"})
        ::unsetenv(name);
    // No accessibility bus, no session bus: keeps start-up quiet and fast.
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "0", 1);
    ::setenv("NO_AT_BRIDGE", "1", 1);
    // Tests reach only servers they start on 127.0.0.1; platform/net fails any other host.
    ::setenv("CORVEX_NET_LOOPBACK_ONLY", "1", 1);
}

void makeTestFolders(const QString& dir)
{
    QDir().mkpath(dir);
    const struct
    {
        const char* variable;
        const char* folder;
    } folders[] = {{"XDG_DATA_HOME", "data"},
                   {"XDG_CONFIG_HOME", "config"},
                   {"XDG_CACHE_HOME", "cache"},
                   {"XDG_RUNTIME_DIR", "run"},
                   {"HOME", "home"},
                   {"TMPDIR", "tmp"}};
    for (const auto& folder : folders) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(folder.folder);
        QDir().mkpath(path);
        ::chmod(path.toLocal8Bit().constData(), 0700);
        setEnv(folder.variable, path);
    }
    setEnv("CORVEX_TEST_DIR", dir);
}

} // namespace corvex::test
