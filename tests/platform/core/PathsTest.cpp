#include "platform/core/Paths.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvex;

namespace {

void setEnv(const char* name, const QString& value)
{
    qputenv(name, QFile::encodeName(value));
}

// The permission bits of the entry itself: a symbolic link is not followed.
mode_t linkModeOf(const QString& path)
{
    struct stat info
    {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

QString expectedTemporary()
{
    return Paths::caches() + QStringLiteral("/com.tallowfen.corvex/tmp");
}

} // namespace

TEST(Paths, FollowTheXdgVariablesAtEachCall)
{
    const QString root = test::testDir();
    setEnv("XDG_DATA_HOME", root + QStringLiteral("/d1"));
    setEnv("XDG_CACHE_HOME", root + QStringLiteral("/c1"));
    setEnv("XDG_CONFIG_HOME", root + QStringLiteral("/f1"));
    setEnv("XDG_RUNTIME_DIR", root + QStringLiteral("/r1"));
    EXPECT_EQ(Paths::applicationSupport(), root + QStringLiteral("/d1"));
    EXPECT_EQ(Paths::caches(), root + QStringLiteral("/c1"));
    EXPECT_EQ(Paths::config(), root + QStringLiteral("/f1"));
    EXPECT_EQ(Paths::runtime(), root + QStringLiteral("/r1"));

    setEnv("XDG_CONFIG_HOME", root + QStringLiteral("/f2"));
    EXPECT_EQ(Paths::config(), root + QStringLiteral("/f2"));
    EXPECT_EQ(Paths::appFolderName(), QStringLiteral("com.tallowfen.corvex"));
}

TEST(Paths, FallBackToHomeWhenTheVariablesAreUnsetOrRelative)
{
    const QString home = test::testDir() + QStringLiteral("/home");
    setEnv("HOME", home);
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_RUNTIME_DIR");
    setEnv("XDG_CONFIG_HOME", QStringLiteral("relative/config"));
    EXPECT_EQ(Paths::applicationSupport(), home + QStringLiteral("/.local/share"));
    EXPECT_EQ(Paths::caches(), home + QStringLiteral("/.cache"));
    EXPECT_EQ(Paths::config(), home + QStringLiteral("/.config"));
    EXPECT_EQ(Paths::runtime(), home + QStringLiteral("/.cache"));

    setEnv("HOME", test::testDir() + QStringLiteral("/other"));
    EXPECT_EQ(Paths::caches(), test::testDir() + QStringLiteral("/other/.cache"));
}

TEST(PathsPrivateTemporaryDirectory, IsMadeWithMode0700)
{
    const Result<QString> folder = Paths::privateTemporaryDirectory();
    ASSERT_TRUE(folder.ok()) << folder.error().toString().toStdString();
    EXPECT_EQ(*folder, expectedTemporary());
    EXPECT_TRUE(QFileInfo(*folder).isDir());
    EXPECT_EQ(linkModeOf(*folder), mode_t(0700));
    // A second call finds it in order.
    EXPECT_EQ(Paths::privateTemporaryDirectory().valueOr(QString()), expectedTemporary());
}

TEST(PathsPrivateTemporaryDirectory, FollowsAChangedCacheFolder)
{
    setEnv("XDG_CACHE_HOME", test::testDir() + QStringLiteral("/new cache/nested"));
    const Result<QString> folder = Paths::privateTemporaryDirectory();
    ASSERT_TRUE(folder.ok()) << folder.error().toString().toStdString();
    EXPECT_EQ(*folder, test::testDir() + QStringLiteral("/new cache/nested/com.tallowfen.corvex/tmp"));
    EXPECT_TRUE(QFileInfo(*folder).isDir());
}

TEST(PathsPrivateTemporaryDirectory, RefusesASymbolicLinkInItsPlace)
{
    const QString elsewhere = test::testDir() + QStringLiteral("/elsewhere");
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_EQ(::chmod(QFile::encodeName(elsewhere).constData(), 0755), 0);
    ASSERT_TRUE(QDir().mkpath(Paths::caches() + QStringLiteral("/com.tallowfen.corvex")));
    ASSERT_TRUE(QFile::link(elsewhere, expectedTemporary()));

    const Result<QString> folder = Paths::privateTemporaryDirectory();
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error().code(), ELOOP);
    EXPECT_TRUE(folder.error().localizedDescription().contains(QStringLiteral("symbolic link")))
        << folder.error().toString().toStdString();
    EXPECT_EQ(linkModeOf(elsewhere), mode_t(0755)) << "the link's target must not be touched";
    EXPECT_TRUE(QFileInfo(expectedTemporary()).isSymLink());
}

TEST(PathsPrivateTemporaryDirectory, RefusesADanglingSymbolicLink)
{
    ASSERT_TRUE(QDir().mkpath(Paths::caches() + QStringLiteral("/com.tallowfen.corvex")));
    ASSERT_TRUE(QFile::link(test::testDir() + QStringLiteral("/nowhere"), expectedTemporary()));
    const Result<QString> folder = Paths::privateTemporaryDirectory();
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error().code(), ELOOP);
    EXPECT_FALSE(QFileInfo::exists(test::testDir() + QStringLiteral("/nowhere")));
}

TEST(PathsPrivateTemporaryDirectory, RefusesAFileInItsPlace)
{
    ASSERT_TRUE(QDir().mkpath(Paths::caches() + QStringLiteral("/com.tallowfen.corvex")));
    QFile file(expectedTemporary());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const Result<QString> folder = Paths::privateTemporaryDirectory();
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error().code(), ENOTDIR) << folder.error().toString().toStdString();
}

TEST(PathsPrivateTemporaryDirectory, NarrowsAWiderMode)
{
    ASSERT_TRUE(QDir().mkpath(expectedTemporary()));
    ASSERT_EQ(::chmod(QFile::encodeName(expectedTemporary()).constData(), 0777), 0);
    test::LogCapture log;
    const Result<QString> folder = Paths::privateTemporaryDirectory();
    ASSERT_TRUE(folder.ok()) << folder.error().toString().toStdString();
    EXPECT_EQ(linkModeOf(*folder), mode_t(0700));
    EXPECT_TRUE(log.contains(QStringLiteral("narrowed")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(PathsPrivateTemporaryDirectory, RefusesAFolderOwnedByAnotherUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving a folder away needs root";
    ASSERT_TRUE(QDir().mkpath(expectedTemporary()));
    ASSERT_EQ(::chown(QFile::encodeName(expectedTemporary()).constData(), 4242, 4242), 0);
    const Result<QString> folder = Paths::privateTemporaryDirectory();
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error().code(), EPERM);
    EXPECT_TRUE(folder.error().localizedDescription().contains(QStringLiteral("another user")));
}
