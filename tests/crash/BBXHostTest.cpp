#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXFileReader.h"
#include "crash/runtime/BBXHostSetup.h"
#include "tests/crash/CrashTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <sys/utsname.h>

using namespace corvex;
using namespace corvex::test;

namespace {

ValueDictionary crashHostLine(const char* section, const BBXHostContext& host)
{
    const QByteArray path = crashTestPath("host.bbxrecord");
    BBXFile file;
    EXPECT_TRUE(BBXFileInitWithPathMode(&file, path.constData(), false, false));
    if (std::strcmp(section, "host") == 0)
        EXPECT_TRUE(BBXHostRecordInfo(&file, &host));
    else
        BBXHostRecordDiskSpace(&file, &host);
    EXPECT_TRUE(BBXFileClose(&file));
    const ValueArray lines = BBXFileReadSectionsFromData(readFile(QFile::decodeName(path)));
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? ValueDictionary()
                         : lines[0].toDictionary().value(QLatin1String(section)).toDictionary();
}

// Sets an environment variable for the scope.
class ScopedCrashEnv
{
public:
    ScopedCrashEnv(const char* name, const QByteArray& value)
        : mName(name), mOld(qgetenv(name)), mHad(qEnvironmentVariableIsSet(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedCrashEnv()
    {
        if (mHad)
            qputenv(mName, mOld);
        else
            qunsetenv(mName);
    }

private:
    const char* mName;
    QByteArray mOld;
    bool mHad;
};

} // namespace

TEST(BBXHost, FactsGatheredAtSetUpMakeTheHostAndStorageLines)
{
    ASSERT_TRUE(QDir().mkpath(QDir::homePath() + QStringLiteral("/Documents")));
    BBXHostContext host;
    ASSERT_TRUE(BBXHostSetup(&host));
    EXPECT_EQ(host.pageSize, 4096u);
    EXPECT_EQ(QByteArray(host.documentsDirectory), QFile::encodeName(QDir::homePath()) + "/Documents");

    const ValueDictionary line = crashHostLine("host", host);
    EXPECT_EQ(line.keys(),
              (QStringList{QStringLiteral("model"), QStringLiteral("machine"), QStringLiteral("cpu"),
                           QStringLiteral("os_build_version"), QStringLiteral("os_display_version"),
                           QStringLiteral("platform"), QStringLiteral("locale")}));
    struct utsname names;
    ASSERT_EQ(::uname(&names), 0);
    EXPECT_EQ(line.value(QStringLiteral("machine")).toString(), QString::fromUtf8(names.machine));
    EXPECT_EQ(line.value(QStringLiteral("os_build_version")).toString(), QString::fromUtf8(names.release));
    EXPECT_EQ(line.value(QStringLiteral("platform")).toString(), QStringLiteral("mac"));
    EXPECT_EQ(line.value(QStringLiteral("locale")).toString(), QStringLiteral("en_US"));
    EXPECT_FALSE(line.value(QStringLiteral("cpu")).toString().isEmpty());

    const ValueDictionary storage = crashHostLine("storage", host);
    EXPECT_GT(storage.value(QStringLiteral("total")).toInteger(), 0);
    EXPECT_LE(storage.value(QStringLiteral("free")).toInteger(),
              storage.value(QStringLiteral("total")).toInteger());

    std::strcpy(host.documentsDirectory, "/nonexistent/Documents");
    EXPECT_TRUE(crashHostLine("storage", host).isEmpty()) << "unmeasurable volume: an empty hash";
}

TEST(BBXHost, DocumentsFolderFollowsUserDirsAndFallsBackToHome)
{
    const QByteArray home = QFile::encodeName(QDir::homePath());
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    ASSERT_FALSE(config.isEmpty());
    writeFile(config + QStringLiteral("/user-dirs.dirs"), "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
    EXPECT_EQ(BBXHostDocumentsDirectory(), home) << "the named folder does not exist";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(home + "/Papers")));
    EXPECT_EQ(BBXHostDocumentsDirectory(), home + "/Papers");
}

// The crash handler reads only the block set up beforehand: the locale is in it, taken from
// the variables in the C library's order, whether or not that locale is installed.
TEST(BBXHost, LocaleIdentifierFromTheEnvironmentIsInTheSetUpBlock)
{
    const struct
    {
        QByteArray all, messages, lang, expected;
    } cases[] = {
        {{}, {}, "de_DE.UTF-8", "de_DE"},
        {"C", "fr_FR@euro", "de_DE", "en_US_POSIX"},
        {{}, "fr_FR.ISO-8859-15@euro", "de_DE", "fr_FR"},
        {"pt_BR", "fr_FR", "de_DE", "pt_BR"},
        {{}, {}, {}, "en_US_POSIX"},
        {"POSIX", {}, "de_DE", "en_US_POSIX"},
        {{}, {}, "C.UTF-8", "en_US_POSIX"},
        {{}, {}, "de_DE\r\nX-Injected: 1", "en_US_POSIX"},
    };
    for (const auto& c : cases) {
        ScopedCrashEnv all("LC_ALL", c.all);
        ScopedCrashEnv messages("LC_MESSAGES", c.messages);
        ScopedCrashEnv lang("LANG", c.lang);
        BBXHostContext host;
        ASSERT_TRUE(BBXHostSetup(&host));
        EXPECT_EQ(QByteArray(host.locale), c.expected) << c.all.constData() << "|" << c.lang.constData();
    }
}

TEST(BBXHost, OSCodeOnlyForTenSixToTenEleven)
{
    const struct
    {
        std::int64_t major, minor;
        std::uint32_t code;
    } cases[] = {{10, 5, 0},       {10, 6, 1060}, {10, 9, 1090}, {10, 10, 101000},
                 {10, 11, 101100}, {10, 12, 0},   {12, 6, 0}};
    for (const auto& c : cases)
        EXPECT_EQ(BBXHostOSCodeForVersion(c.major, c.minor), c.code) << c.major << "." << c.minor;
    EXPECT_EQ(BBXHostGetOSCode(), 0u);
}
