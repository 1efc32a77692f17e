#include "platform/core/StaleTemporarySweep.h"
#include "platform/core/Paths.h"
#include "platform/core/SaveFile.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace corvex;

namespace {

QString sweepFile(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    test::writeFile(path, "left");
    return path;
}

} // namespace

TEST(StaleTemporarySweep, RemovesOnlyTheSaveFileTemporariesOfDeadSavesInTheOwnFolders)
{
    const QString own = Paths::applicationSupport() + QStringLiteral("/") + Paths::appFolderName();
    const QString container = own + QStringLiteral("/iCloud");
    const QString outside = test::testDir() + QStringLiteral("/outside");
    const struct
    {
        const char* what;
        QString path;
        bool removed;
    } cases[] = {
        {"a dead save's temporary at the top", own + QStringLiteral("/defaults.json.corvex-tmp-Ab12Cd"),
         true},
        {"one in the temporary location's attachments",
         own + QStringLiteral("/volatile/attachments/0123.png.corvex-tmp-zzzzzz"), true},
        {"one in the cache folder",
         Paths::caches() + QStringLiteral("/") + Paths::appFolderName() +
             QStringLiteral("/x/y/cache.bin.corvex-tmp-000000"),
         true},
        {"the file itself", own + QStringLiteral("/defaults.json"), false},
        {"a download's longer name", own + QStringLiteral("/d.bin.corvex-tmp-3k9x0a8b1c2"), false},
        {"a shorter one", own + QStringLiteral("/d.bin.corvex-tmp-3k9x0"), false},
        {"no name before the mark", own + QStringLiteral("/.corvex-tmp-Ab12Cd"), false},
        {"another letter", own + QStringLiteral("/d.bin.corvex-tmp-Ab12C-"), false},
        {"in the shared container", container + QStringLiteral("/doc.crvx.corvex-tmp-Ab12Cd"), false},
        {"outside the own folders", outside + QStringLiteral("/doc.corvex.corvex-tmp-Ab12Cd"), false},
    };
    for (const auto& c : cases)
        sweepFile(c.path);
    // Reached through a link, the outside folder is not walked.
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(),
                        QFile::encodeName(own + QStringLiteral("/link")).constData()),
              0);
    // A folder named as a temporary is no temporary.
    ASSERT_TRUE(QDir().mkpath(own + QStringLiteral("/folder.corvex-tmp-Ab12Cd")));

    EXPECT_EQ(StaleTemporarySweep::run(StaleTemporarySweep::ownFolders(), {container}), 3);
    for (const auto& c : cases)
        EXPECT_EQ(QFileInfo::exists(c.path), !c.removed) << c.what;
    EXPECT_TRUE(QFileInfo(own + QStringLiteral("/folder.corvex-tmp-Ab12Cd")).isDir());
}

TEST(StaleTemporarySweep, AFolderWithASaveUnderWayIsLeftAsItIs)
{
    const QString own = Paths::config() + QStringLiteral("/") + Paths::appFolderName();
    const QString dead = sweepFile(own + QStringLiteral("/a.json.corvex-tmp-Dead00"));
    test::FaultShim shim;
    // A named temporary from the start, as where O_TMPFILE is missing.
    shim.failOpensWith(O_TMPFILE, EOPNOTSUPP);
    SaveFile live(own + QStringLiteral("/b.json"));
    ASSERT_TRUE(live.open());
    const QStringList during = QDir(own).entryList({QStringLiteral("*.corvex-tmp-*")}, QDir::Files);
    ASSERT_EQ(during.size(), 2) << during.join(QLatin1Char(' ')).toStdString();

    EXPECT_EQ(StaleTemporarySweep::run(StaleTemporarySweep::ownFolders()), 0)
        << "no temporary of the folder can be told dead while a save runs there";
    EXPECT_EQ(QDir(own).entryList({QStringLiteral("*.corvex-tmp-*")}, QDir::Files), during);
    ASSERT_TRUE(live.write(QByteArray("{}")) == 2);
    ASSERT_TRUE(live.commit());
    EXPECT_EQ(StaleTemporarySweep::run(StaleTemporarySweep::ownFolders()), 1);
    EXPECT_FALSE(QFileInfo::exists(dead));
    EXPECT_TRUE(QFileInfo::exists(own + QStringLiteral("/b.json")));
}
