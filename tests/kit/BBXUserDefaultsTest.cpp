#include "kit/core/BBXUserDefaults.h"

#include "platform/core/UserDefaults.h"
#include "platform/core/XmlPropertyList.h"
#include "tests/kit/KitTestSupport.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

QString kitDefaultsBase()
{
    return test::testDir() + QStringLiteral("/support");
}

// The application's defaults in a file of the test's own.
struct KitApplicationDefaults
{
    KitApplicationDefaults() : defaults(test::testDir() + QStringLiteral("/app-defaults.json")) {}
    UserDefaults defaults;
};

} // namespace

TEST(BBXUserDefaults, FirstLaunchIsEmptyAndTheFirstSynchronizeMakesTheFile)
{
    BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("com.tallowfen.corvex"), nullptr);
    EXPECT_EQ(store.filePath(),
              kitDefaultsBase() + QStringLiteral("/com.tallowfen.corvex/com.blackbox/BBXUserDefaults.plist"));
    EXPECT_TRUE(store.dictionaryRepresentation().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(store.directoryPath()));
    store.setObject(Value(QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F")),
                    QStringLiteral("com.blackbox.iuuid"));
    ASSERT_TRUE(store.synchronize());
    BBXUserDefaults again(kitDefaultsBase(), QStringLiteral("com.tallowfen.corvex"), nullptr);
    EXPECT_EQ(again.stringForKey(QStringLiteral("com.blackbox.iuuid")),
              QStringLiteral("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
}

TEST(BBXUserDefaults, FolderNamesComeFromTheEscapedIdentifier)
{
    struct Case
    {
        const char* identifier;
        const char* folder;
    };
    const Case cases[] = {{"com.example/app", "/com.example_app/com.blackbox"},
                          {"", "/com.blackbox"},
                          {"..", "/com.blackbox"},
                          {".", "/com.blackbox"},
                          {"a/../b", "/a_.._b/com.blackbox"}};
    for (const Case& c : cases)
        EXPECT_EQ(BBXUserDefaults::generateDirectoryURLForBaseURL(QStringLiteral("/base"),
                                                                  QString::fromUtf8(c.identifier)),
                  QStringLiteral("/base") + QString::fromUtf8(c.folder))
            << c.identifier;
}

TEST(BBXUserDefaults, TypedGettersAndNilRemoval)
{
    BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("id"), nullptr);
    store.setString(QStringLiteral("text"), QStringLiteral("s"));
    store.setBool(true, QStringLiteral("b"));
    store.setObject(Value(5), QStringLiteral("n"));
    EXPECT_FALSE(store.boolForKey(QStringLiteral("s")));
    EXPECT_TRUE(store.boolForKey(QStringLiteral("b")));
    EXPECT_TRUE(store.boolForKey(QStringLiteral("n")));
    EXPECT_TRUE(store.stringForKey(QStringLiteral("n")).isNull());
    EXPECT_EQ(store.stringForKey(QStringLiteral("s")), QStringLiteral("text"));
    store.setObject(Value(), QStringLiteral("s"));
    EXPECT_TRUE(store.objectForKey(QStringLiteral("s")).isNull());
    store.removeObjectForKey(QStringLiteral("b"));
    EXPECT_EQ(store.dictionaryRepresentation().size(), 1);
    store.removeAllObjects();
    EXPECT_TRUE(store.dictionaryRepresentation().isEmpty());
}

TEST(BBXUserDefaults, ReadingWithMigrationMovesTheValueOnceAndWritesFirst)
{
    KitApplicationDefaults app;
    app.defaults.setString(QStringLiteral("com.blackbox.iuuid"), QStringLiteral("OLD-ID"));
    BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("id"), &app.defaults);
    const Value moved = store.objectForKeyByMigratingFromNSUserDefaults(QStringLiteral("com.blackbox.iuuid"));
    EXPECT_EQ(moved.toString(), QStringLiteral("OLD-ID"));
    EXPECT_FALSE(app.defaults.containsKey(QStringLiteral("com.blackbox.iuuid")));
    const auto file = XmlPropertyList::readFile(store.filePath());
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file->value(QStringLiteral("com.blackbox.iuuid")).toString(), QStringLiteral("OLD-ID"));
    EXPECT_EQ(
        store.objectForKeyByMigratingFromNSUserDefaults(QStringLiteral("com.blackbox.iuuid")).toString(),
        QStringLiteral("OLD-ID"));
    EXPECT_TRUE(store.objectForKeyByMigratingFromNSUserDefaults(QString()).isNull());
    EXPECT_TRUE(store.objectForKeyByMigratingFromNSUserDefaults(QStringLiteral("absent")).isNull());
}

TEST(BBXUserDefaults, AFailedWriteKeepsTheValueInTheApplicationDefaults)
{
    KitApplicationDefaults app;
    app.defaults.setString(QStringLiteral("com.blackbox.iuuid"), QStringLiteral("KEEP-ME"));
    app.defaults.setString(QStringLiteral("other"), QStringLiteral("x"));
    BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("id"), &app.defaults);
    test::LogCapture log;
    {
        test::FaultShim shim;
        shim.failFrom(test::FaultShim::Op::Rename, 1, ENOSPC);
        shim.failFrom(test::FaultShim::Op::Link, 1, ENOSPC);
        shim.failFrom(test::FaultShim::Op::Write, 1, ENOSPC);
        EXPECT_EQ(
            store.objectForKeyByMigratingFromNSUserDefaults(QStringLiteral("com.blackbox.iuuid")).toString(),
            QStringLiteral("KEEP-ME"));
        store.migrateFromNSUserDefaults({QStringLiteral("other")});
    }
    EXPECT_TRUE(log.contains(QStringLiteral("[Loom:UserDefaults] Unable to open file for writing at path ")));
    EXPECT_EQ(app.defaults.stringForKey(QStringLiteral("com.blackbox.iuuid")), QStringLiteral("KEEP-ME"));
    EXPECT_EQ(app.defaults.stringForKey(QStringLiteral("other")), QStringLiteral("x"));
    EXPECT_FALSE(QFileInfo::exists(store.filePath()));
}

TEST(BBXUserDefaults, MigratingKeysNoneOfWhichExistChangesNothing)
{
    KitApplicationDefaults app;
    app.defaults.setString(QStringLiteral("unrelated"), QStringLiteral("stays"));
    BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("id"), &app.defaults);
    store.migrateFromNSUserDefaults({QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_FALSE(QFileInfo::exists(store.filePath()));
    EXPECT_EQ(app.defaults.stringForKey(QStringLiteral("unrelated")), QStringLiteral("stays"));

    app.defaults.setInteger(QStringLiteral("a"), 3);
    app.defaults.setString(QStringLiteral("b2"), QStringLiteral("listed but absent"));
    store.migrateFromNSUserDefaults({QStringLiteral("a"), QStringLiteral("b")});
    EXPECT_EQ(store.objectForKey(QStringLiteral("a")).toInteger(), 3);
    EXPECT_FALSE(app.defaults.containsKey(QStringLiteral("a")));
    EXPECT_TRUE(app.defaults.containsKey(QStringLiteral("b2")));
}

TEST(BBXUserDefaults, AFolderInTheFilesPlaceIsRemovedAndTheStoreStartsEmpty)
{
    const QString folder =
        BBXUserDefaults::generateDirectoryURLForBaseURL(kitDefaultsBase(), QStringLiteral("id"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/BBXUserDefaults.plist/inner")));
    test::LogCapture log;
    BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("id"), nullptr);
    EXPECT_TRUE(log.contains(QStringLiteral(
        "[Loom:UserDefaults] found directory where file expected. Removing conflicting directory")));
    EXPECT_FALSE(QFileInfo::exists(store.filePath()));
    EXPECT_TRUE(QFileInfo::exists(folder));
    store.setBool(true, QStringLiteral("k"));
    EXPECT_TRUE(store.synchronize());
}

TEST(BBXUserDefaults, ADamagedFileLeavesTheStoreEmptyUntilTheNextWrite)
{
    struct Case
    {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"garbage", QByteArray("not a property list")},
        {"array root", QByteArray("<plist><array><string>a</string></array></plist>")},
        {"entity", QByteArray("<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><dict/></plist>")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder =
            BBXUserDefaults::generateDirectoryURLForBaseURL(kitDefaultsBase(), QStringLiteral("id"));
        ASSERT_TRUE(QDir().mkpath(folder));
        test::writeFile(folder + QStringLiteral("/BBXUserDefaults.plist"), c.bytes);
        test::LogCapture log;
        BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("id"), nullptr);
        EXPECT_TRUE(
            log.contains(QStringLiteral("[Loom:UserDefaults] failed to read existing UserDefaults file")));
        EXPECT_TRUE(store.dictionaryRepresentation().isEmpty());
        // Left as it is until a synchronize replaces it.
        EXPECT_EQ(test::readFile(store.filePath()), c.bytes);
        store.setString(QStringLiteral("v"), QStringLiteral("k"));
        ASSERT_TRUE(store.synchronize());
        EXPECT_TRUE(XmlPropertyList::readFile(store.filePath()).ok());
    }
}

TEST(BBXUserDefaults, AValueWithoutAPropertyListFormKeepsThePreviousFile)
{
    BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("id"), nullptr);
    store.setString(QStringLiteral("good"), QStringLiteral("k"));
    ASSERT_TRUE(store.synchronize());
    const QByteArray before = test::readFile(store.filePath());
    store.setString(QStringLiteral("bad \x01 control"), QStringLiteral("k2"));
    test::LogCapture log;
    EXPECT_FALSE(store.synchronize());
    EXPECT_TRUE(log.contains(QStringLiteral("Unable to open file for writing at path")));
    EXPECT_EQ(test::readFile(store.filePath()), before);
}

TEST(BBXUserDefaultsInterop, PlistlibFilesReadToTheScriptsValues)
{
    const Value expected = test::kitValueFromTagged(
        test::kitJsonFile(test::kitDataDir() + QStringLiteral("/plist/expected.json")).object());
    ASSERT_TRUE(expected.isDictionary());
    const QString folder =
        BBXUserDefaults::generateDirectoryURLForBaseURL(kitDefaultsBase(), QStringLiteral("id"));
    ASSERT_TRUE(QDir().mkpath(folder));
    test::writeFile(folder + QStringLiteral("/BBXUserDefaults.plist"),
                    test::readFile(test::kitDataDir() + QStringLiteral("/plist/all_types.plist")));
    BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("id"), nullptr);
    const Value read(store.dictionaryRepresentation());
    EXPECT_EQ(read, expected);
    EXPECT_EQ(store.objectForKey(QStringLiteral("鍵")).toString(), QStringLiteral("値"));
}

TEST(BBXUserDefaultsInterop, TheFileWeWriteLoadsInPlistlibAndPassesXmllint)
{
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ||
        !QFileInfo::exists(QStringLiteral("/usr/bin/xmllint")))
        GTEST_SKIP() << "python3 or xmllint missing";
    const Value expected = test::kitValueFromTagged(
        test::kitJsonFile(test::kitDataDir() + QStringLiteral("/plist/expected.json")).object());
    BBXUserDefaults store(kitDefaultsBase(), QStringLiteral("id"), nullptr);
    for (const auto& entry : expected.toDictionary())
        store.setObject(entry.second, entry.first);
    ASSERT_TRUE(store.synchronize());
    const QString script = test::kitScriptDir() + QStringLiteral("/make_kit_plist_fixtures.py");
    const auto checked = test::runProgramToEnd(QStringLiteral("/usr/bin/python3"),
                                               {script, QStringLiteral("--check"), store.filePath()});
    ASSERT_TRUE(checked.ran);
    EXPECT_EQ(checked.exitCode, 0) << checked.output.toStdString();
    const auto linted = test::runProgramToEnd(QStringLiteral("/usr/bin/xmllint"),
                                              {QStringLiteral("--noout"), store.filePath()});
    ASSERT_TRUE(linted.ran);
    EXPECT_EQ(linted.exitCode, 0) << linted.output.toStdString();

    // The check is not blind: one changed value fails it.
    store.setObject(Value(43), QStringLiteral("integer"));
    ASSERT_TRUE(store.synchronize());
    const auto changed = test::runProgramToEnd(QStringLiteral("/usr/bin/python3"),
                                               {script, QStringLiteral("--check"), store.filePath()});
    EXPECT_EQ(changed.exitCode, 1);
}
