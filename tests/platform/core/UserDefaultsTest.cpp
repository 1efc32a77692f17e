#include "platform/core/UserDefaults.h"
#include "platform/core/NotificationCenter.h"
#include "platform/core/Paths.h"
#include "platform/core/SaveFile.h"
#include "tests/support/FaultShim.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VirtualScheduler.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iostream>
#include <limits>
#include <optional>
#include <random>
#include <thread>

using namespace corvex;
using corvex::test::FaultShim;
using corvex::test::ScopedVirtualTime;

namespace {

QString defaultsFolder()
{
    const QString path = test::testDir() + QStringLiteral("/prefs");
    QDir().mkpath(path);
    return path;
}

QString defaultsPath()
{
    return defaultsFolder() + QStringLiteral("/defaults.json");
}

using corvex::test::folderEntries;
using corvex::test::readFile;
using corvex::test::writeFile;

// Counts the change notifications a UserDefaults posts.
class ChangeCounter
{
public:
    explicit ChangeCounter(const UserDefaults& defaults)
    {
        mToken = NotificationCenter::defaultCenter().addObserver(
            UserDefaults::DidChangeNotification, &defaults, [this](const auto&) { ++mCount; });
    }
    ~ChangeCounter() { NotificationCenter::defaultCenter().removeObserver(mToken); }
    int count() const { return mCount; }

private:
    NotificationCenter::ObserverToken mToken;
    int mCount = 0;
};

} // namespace

TEST(UserDefaultsGetters, ReadNumbersStringsAndBoolsOfTheRightKind)
{
    UserDefaults defaults(defaultsPath());
    defaults.setInteger(QStringLiteral("int"), 42);
    defaults.setDouble(QStringLiteral("double"), 2.75);
    defaults.setBool(QStringLiteral("bool"), true);
    defaults.setString(QStringLiteral("string"), QStringLiteral("text"));

    EXPECT_EQ(defaults.integerForKey(QStringLiteral("int")), 42);
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("int")));
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("int")), 42.0);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("int")), QStringLiteral("42"));

    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("double")), 2.75);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("double")), 2) << "doubles truncate toward zero";
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("double")));
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("double")), QStringLiteral("2.75"));

    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("bool")));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("bool")), 1);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("string")), QStringLiteral("text"));
    EXPECT_EQ(defaults.objectForKey(QStringLiteral("int")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(defaults.objectForKey(QStringLiteral("double")).typeId(), QMetaType::Double);
}

TEST(UserDefaultsGetters, ReadBoolsAndIntegersFromYesNoAndDigitStrings)
{
    UserDefaults defaults(defaultsPath());
    const struct
    {
        const char* text;
        bool asBool;
        qint64 asInteger;
    } cases[] = {{"YES", true, 1}, {"NO", false, 0}, {"yes", true, 1},  {"no", false, 0},
                 {"1", true, 1},   {"0", false, 0},  {"true", true, 1}, {"false", false, 0},
                 {" 7 ", true, 7}, {"-3", true, -3}};
    for (const auto& c : cases) {
        defaults.setString(QStringLiteral("key"), QString::fromLatin1(c.text));
        EXPECT_EQ(defaults.boolForKey(QStringLiteral("key")), c.asBool) << c.text;
        EXPECT_EQ(defaults.integerForKey(QStringLiteral("key")), c.asInteger) << c.text;
        EXPECT_EQ(defaults.doubleForKey(QStringLiteral("key")), double(c.asInteger)) << c.text;
    }
}

TEST(UserDefaultsGetters, WrongTypesReadAsTheRegisteredDefaultAndAbsentKeysAsZero)
{
    UserDefaults defaults(defaultsPath());
    defaults.registerDefaults({{QStringLiteral("flag"), true},
                               {QStringLiteral("count"), 9},
                               {QStringLiteral("ratio"), 0.5},
                               {QStringLiteral("name"), QStringLiteral("registered")},
                               {QStringLiteral("list"), QVariantList{1, 2}},
                               {QStringLiteral("map"), QVariantMap{{QStringLiteral("a"), 1}}}});

    // Registered values stand in for absent ones, and are never persistent.
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("flag")));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("count")), 9);
    EXPECT_EQ(defaults.objectForKey(QStringLiteral("count")), QVariant(qint64(9)));
    EXPECT_FALSE(defaults.containsKey(QStringLiteral("count")));

    defaults.setString(QStringLiteral("flag"), QStringLiteral("maybe"));
    defaults.setObject(QStringLiteral("count"), QVariantList{1});
    defaults.setString(QStringLiteral("ratio"), QStringLiteral("half"));
    defaults.setObject(QStringLiteral("name"), QVariantMap{});
    defaults.setString(QStringLiteral("list"), QStringLiteral("not a list"));
    defaults.setInteger(QStringLiteral("map"), 3);
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("flag")));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("count")), 9);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("ratio")), 0.5);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("name")), QStringLiteral("registered"));
    EXPECT_EQ(defaults.arrayForKey(QStringLiteral("list")), (QVariantList{qint64(1), qint64(2)}));
    EXPECT_EQ(defaults.dictionaryForKey(QStringLiteral("map")).value(QStringLiteral("a")),
              QVariant(qint64(1)));
    // objectForKey returns the stored value whatever its type.
    EXPECT_EQ(defaults.objectForKey(QStringLiteral("flag")), QVariant(QStringLiteral("maybe")));

    // A wrong type with no registered default reads as zero.
    defaults.setObject(QStringLiteral("other"), QVariantList{true});
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("other")));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("other")), 0);
    EXPECT_EQ(defaults.doubleForKey(QStringLiteral("other")), 0.0);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("other")), QString());
    EXPECT_TRUE(defaults.dictionaryForKey(QStringLiteral("other")).isEmpty());

    const QString absent = QStringLiteral("absent");
    EXPECT_FALSE(defaults.objectForKey(absent).isValid());
    EXPECT_FALSE(defaults.boolForKey(absent));
    EXPECT_EQ(defaults.integerForKey(absent), 0);
    EXPECT_EQ(defaults.doubleForKey(absent), 0.0);
    EXPECT_TRUE(defaults.stringForKey(absent).isNull());
    EXPECT_TRUE(defaults.arrayForKey(absent).isEmpty());
    EXPECT_TRUE(defaults.dictionaryForKey(absent).isEmpty());
    EXPECT_FALSE(defaults.containsKey(absent));

    // Removing the stored value brings the registered one back.
    defaults.removeObjectForKey(QStringLiteral("count"));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("count")), 9);
}

TEST(UserDefaultsGetters, HugeDoublesClampWhenReadAsIntegers)
{
    UserDefaults defaults(defaultsPath());
    defaults.setDouble(QStringLiteral("big"), 1e300);
    defaults.setDouble(QStringLiteral("small"), -1e300);
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("big")), std::numeric_limits<qint64>::max());
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("small")), std::numeric_limits<qint64>::min());
}

TEST(UserDefaultsFile, ASecondInstanceReadsEveryValueWithItsType)
{
    const QVariantMap nested{
        {QStringLiteral("frame"), QVariantList{10, 20.5, QStringLiteral("x"), false}},
        {QStringLiteral("inner"), QVariantMap{{QStringLiteral("n"), QVariant::fromValue(nullptr)}}}};
    {
        UserDefaults defaults(defaultsPath());
        defaults.setBool(QStringLiteral("bool"), false);
        defaults.setInteger(QStringLiteral("int"), std::numeric_limits<qint64>::min());
        defaults.setInteger(QStringLiteral("whole"), 3);
        defaults.setDouble(QStringLiteral("wholeDouble"), 3.0);
        defaults.setDouble(QStringLiteral("tiny"), 1e-300);
        defaults.setString(QStringLiteral("unicode"), QStringLiteral("caf\u00e9 \u6587\u5b57 \"quoted\"\n"));
        defaults.setObject(QStringLiteral("nested"), nested);
        defaults.setObject(QStringLiteral("null"), QVariant::fromValue(nullptr));
        defaults.setObject(QStringLiteral("strings"), QStringList{QStringLiteral("a"), QStringLiteral("b")});
        EXPECT_TRUE(defaults.lastError().isNull()) << defaults.lastError().toString().toStdString();
    }
    UserDefaults reread(defaultsPath());
    EXPECT_EQ(reread.objectForKey(QStringLiteral("bool")), QVariant(false));
    EXPECT_EQ(reread.objectForKey(QStringLiteral("int")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(reread.integerForKey(QStringLiteral("int")), std::numeric_limits<qint64>::min());
    EXPECT_EQ(reread.objectForKey(QStringLiteral("whole")).typeId(), QMetaType::LongLong);
    EXPECT_EQ(reread.objectForKey(QStringLiteral("wholeDouble")).typeId(), QMetaType::Double);
    EXPECT_EQ(reread.doubleForKey(QStringLiteral("tiny")), 1e-300);
    EXPECT_EQ(reread.stringForKey(QStringLiteral("unicode")),
              QStringLiteral("caf\u00e9 \u6587\u5b57 \"quoted\"\n"));
    const QVariantMap readNested = reread.dictionaryForKey(QStringLiteral("nested"));
    const QVariantList frame = readNested.value(QStringLiteral("frame")).toList();
    ASSERT_EQ(frame.size(), 4);
    EXPECT_EQ(frame[0].typeId(), QMetaType::LongLong);
    EXPECT_EQ(frame[1], QVariant(20.5));
    EXPECT_EQ(frame[2], QVariant(QStringLiteral("x")));
    EXPECT_EQ(frame[3], QVariant(false));
    const QVariant inner = readNested.value(QStringLiteral("inner")).toMap().value(QStringLiteral("n"));
    EXPECT_TRUE(inner.isValid() && inner.isNull()) << inner.typeName();
    EXPECT_TRUE(reread.containsKey(QStringLiteral("null")));
    EXPECT_EQ(reread.arrayForKey(QStringLiteral("strings")),
              (QVariantList{QStringLiteral("a"), QStringLiteral("b")}));
}

TEST(UserDefaultsFile, TheFileIsOwnerOnlyAndItsFolderIsMadeWhenMissing)
{
    const QString path = test::testDir() + QStringLiteral("/deep/er/defaults.json");
    UserDefaults defaults(path);
    defaults.setInteger(QStringLiteral("a"), 1);
    ASSERT_TRUE(defaults.lastError().isNull()) << defaults.lastError().toString().toStdString();
    EXPECT_EQ(QFile::permissions(path),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    EXPECT_EQ(UserDefaults(path).integerForKey(QStringLiteral("a")), 1);
}

TEST(UserDefaultsFile, AWriteThatChangesNothingDoesNotTouchTheFile)
{
    UserDefaults defaults(defaultsPath());
    defaults.setInteger(QStringLiteral("a"), 1);
    defaults.setObject(QStringLiteral("list"), QVariantList{1, QStringLiteral("x")});
    FaultShim shim;
    defaults.setInteger(QStringLiteral("a"), 1);
    defaults.setObject(QStringLiteral("a"), QVariant(int(1)));
    defaults.setObject(QStringLiteral("list"), QVariantList{1, QStringLiteral("x")});
    defaults.removeObjectForKey(QStringLiteral("absent"));
    EXPECT_EQ(shim.callCount(FaultShim::Op::Open), 0);
    EXPECT_EQ(shim.callCount(FaultShim::Op::Rename), 0);
    // A change of type is a change.
    defaults.setDouble(QStringLiteral("a"), 1.0);
    EXPECT_EQ(shim.callCount(FaultShim::Op::Rename), 1);
    EXPECT_EQ(UserDefaults(defaultsPath()).objectForKey(QStringLiteral("a")).typeId(), QMetaType::Double);
}

TEST(UserDefaultsFile, AFailedWriteKeepsTheOldFileAndTheNextWritePersistsTheValue)
{
    UserDefaults defaults(defaultsPath());
    defaults.setInteger(QStringLiteral("a"), 1);
    const QByteArray before = readFile(defaultsPath());
    {
        test::LogCapture log;
        FaultShim shim;
        shim.failAt(FaultShim::Op::Rename, 1, ENOSPC);
        defaults.setInteger(QStringLiteral("a"), 2);
        EXPECT_EQ(defaults.lastError().code(), ENOSPC) << defaults.lastError().toString().toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("Cannot save the user defaults")))
            << log.lines().join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_EQ(readFile(defaultsPath()), before);
    EXPECT_EQ(folderEntries(defaultsFolder()), QStringList{QStringLiteral("defaults.json")});
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("a")), 2) << "the value set stays in memory";
    EXPECT_EQ(UserDefaults(defaultsPath()).integerForKey(QStringLiteral("a")), 1);

    defaults.setInteger(QStringLiteral("b"), 3);
    EXPECT_TRUE(defaults.lastError().isNull());
    UserDefaults reread(defaultsPath());
    EXPECT_EQ(reread.integerForKey(QStringLiteral("a")), 2);
    EXPECT_EQ(reread.integerForKey(QStringLiteral("b")), 3);
}

TEST(UserDefaultsFile, SynchronizeRetriesAFailedWrite)
{
    UserDefaults defaults(defaultsPath());
    {
        FaultShim shim;
        shim.failAt(FaultShim::Op::Fsync, 1, EIO);
        defaults.setString(QStringLiteral("k"), QStringLiteral("v"));
        EXPECT_EQ(defaults.lastError().code(), EIO);
        shim.failAt(FaultShim::Op::Write, shim.callCount(FaultShim::Op::Write) + 1, ENOSPC);
        const Status failed = defaults.synchronize();
        EXPECT_EQ(failed.error().code(), ENOSPC);
    }
    EXPECT_FALSE(QFile::exists(defaultsPath()));
    EXPECT_TRUE(defaults.synchronize().ok());
    EXPECT_TRUE(defaults.lastError().isNull());
    EXPECT_EQ(UserDefaults(defaultsPath()).stringForKey(QStringLiteral("k")), QStringLiteral("v"));
    FaultShim shim;
    EXPECT_TRUE(defaults.synchronize().ok());
    EXPECT_EQ(shim.callCount(FaultShim::Op::Open), 0) << "nothing to write";
}

TEST(UserDefaultsFile, ValuesTheFileCannotHoldAreRefused)
{
    UserDefaults defaults(defaultsPath());
    defaults.setDouble(QStringLiteral("nan"), std::nan(""));
    EXPECT_FALSE(defaults.lastError().isNull());
    defaults.setObject(QStringLiteral("bytes"), QVariant(QByteArray("raw")));
    EXPECT_FALSE(defaults.lastError().isNull());
    defaults.setObject(QStringLiteral("nested"),
                       QVariantMap{{QStringLiteral("inf"), std::numeric_limits<double>::infinity()}});
    EXPECT_FALSE(defaults.containsKey(QStringLiteral("nan")));
    EXPECT_FALSE(defaults.containsKey(QStringLiteral("bytes")));
    EXPECT_FALSE(defaults.containsKey(QStringLiteral("nested")));
    EXPECT_FALSE(QFile::exists(defaultsPath()));
}

TEST(UserDefaultsFile, ACorruptFileIsKeptAsideAndReadsAsEmpty)
{
    const QByteArray samples[] = {"{\"a\": 1,",
                                  "not json at all",
                                  "[1, 2, 3]",
                                  "\"text\"",
                                  "{\"a\": 1} trailing",
                                  "{\"bad\": \"\xff\xfe\"}",
                                  QByteArray("{\"deep\": ") + QByteArray(10000, '[')};
    for (const QByteArray& sample : samples) {
        SCOPED_TRACE(sample.left(40).toStdString());
        QFile::remove(defaultsPath() + QStringLiteral(".corrupt"));
        writeFile(defaultsPath(), sample);
        test::LogCapture log;
        UserDefaults defaults(defaultsPath());
        EXPECT_TRUE(defaults.dictionaryRepresentation().isEmpty());
        EXPECT_TRUE(log.contains(QStringLiteral("damaged")))
            << log.lines().join(QLatin1Char('\n')).toStdString();
        EXPECT_FALSE(QFile::exists(defaultsPath()));
        EXPECT_EQ(readFile(defaultsPath() + QStringLiteral(".corrupt")), sample);

        defaults.setInteger(QStringLiteral("fresh"), 1);
        EXPECT_EQ(UserDefaults(defaultsPath()).integerForKey(QStringLiteral("fresh")), 1);
    }
}

TEST(UserDefaultsFile, AnEmptyOrMissingFileReadsAsEmpty)
{
    {
        UserDefaults missing(defaultsPath());
        EXPECT_TRUE(missing.dictionaryRepresentation().isEmpty());
        EXPECT_TRUE(missing.lastError().isNull());
    }
    writeFile(defaultsPath(), QByteArray());
    UserDefaults empty(defaultsPath());
    EXPECT_TRUE(empty.dictionaryRepresentation().isEmpty());
    EXPECT_FALSE(QFile::exists(defaultsPath() + QStringLiteral(".corrupt")));
}

TEST(UserDefaultsFile, LoadingRemovesStaleTemporaries)
{
    writeFile(defaultsPath(), "{\"a\": 5}");
    writeFile(defaultsPath() + QStringLiteral(".corvex-tmp-AbCdEf"), "{\"a\": 6}");
    UserDefaults defaults(defaultsPath());
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("a")), 5);
    EXPECT_EQ(folderEntries(defaultsFolder()), QStringList{QStringLiteral("defaults.json")});
}

TEST(UserDefaultsFile, ConcurrentWritersLoseNoValue)
{
    UserDefaults defaults(defaultsPath());
    const int threads = 4;
    const int perThread = test::heavyScale(40, 10);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                defaults.setInteger(QStringLiteral("t%1.%2").arg(t).arg(i), i);
                (void)defaults.integerForKey(QStringLiteral("t0.0"));
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    EXPECT_TRUE(defaults.lastError().isNull());
    const QVariantMap reread = UserDefaults(defaultsPath()).dictionaryRepresentation();
    EXPECT_EQ(reread.size(), threads * perThread);
    EXPECT_EQ(reread, defaults.dictionaryRepresentation());
}

TEST(UserDefaultsNotifications, OneNotificationPerBurstOfChangesAndNoneWithoutAChange)
{
    ScopedVirtualTime time;
    UserDefaults defaults(defaultsPath());
    const void* sender = nullptr;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        UserDefaults::DidChangeNotification, nullptr,
        [&](const NotificationCenter::Notification& note) { sender = note.sender; });
    ChangeCounter changes(defaults);

    defaults.setInteger(QStringLiteral("a"), 1);
    defaults.setString(QStringLiteral("b"), QStringLiteral("x"));
    defaults.removeObjectForKey(QStringLiteral("a"));
    EXPECT_EQ(changes.count(), 0) << "posted on the main queue, never inside the setter";
    time.advance(0);
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(sender, &defaults);
    time.advance(1);
    EXPECT_EQ(changes.count(), 1);

    defaults.setString(QStringLiteral("b"), QStringLiteral("x"));
    defaults.removeObjectForKey(QStringLiteral("absent"));
    time.advance(0);
    EXPECT_EQ(changes.count(), 1) << "a write that changes nothing posts nothing";

    defaults.setString(QStringLiteral("b"), QStringLiteral("y"));
    time.advance(0);
    EXPECT_EQ(changes.count(), 2);
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(UserDefaultsNotifications, AChangeMadeByAnObserverStartsTheNextBurst)
{
    ScopedVirtualTime time;
    UserDefaults defaults(defaultsPath());
    ChangeCounter changes(defaults);
    const auto token = NotificationCenter::defaultCenter().addObserver(
        UserDefaults::DidChangeNotification, &defaults,
        [&](const auto&) { defaults.setBool(QStringLiteral("seen"), true); });
    defaults.setInteger(QStringLiteral("a"), 1);
    time.advance(0);
    EXPECT_EQ(changes.count(), 2);
    time.advance(0);
    EXPECT_EQ(changes.count(), 2) << "the observer's second write changes nothing";
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(UserDefaultsNotifications, NothingIsPostedForADestroyedInstance)
{
    ScopedVirtualTime time;
    int posted = 0;
    const auto token = NotificationCenter::defaultCenter().addObserver(
        UserDefaults::DidChangeNotification, nullptr, [&](const auto&) { ++posted; });
    {
        UserDefaults defaults(defaultsPath());
        defaults.setInteger(QStringLiteral("a"), 1);
    }
    time.advance(0);
    EXPECT_EQ(posted, 0);
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(UserDefaultsStandard, FollowsTheEnvironmentAtFirstUseAndStartsAfreshAfterAReset)
{
    const QString first = test::testDir() + QStringLiteral("/first");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(first));
    UserDefaults::resetStandardUserDefaultsForTesting();
    UserDefaults& standard = UserDefaults::standardUserDefaults();
    EXPECT_EQ(standard.filePath(), first + QStringLiteral("/com.tallowfen.corvex/defaults.json"));
    EXPECT_EQ(&UserDefaults::standardUserDefaults(), &standard);
    standard.setString(QStringLiteral("where"), QStringLiteral("first"));

    const QString second = test::testDir() + QStringLiteral("/second");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(second));
    EXPECT_EQ(UserDefaults::standardUserDefaults().filePath(), standard.filePath()) << "fixed at first use";
    UserDefaults::resetStandardUserDefaultsForTesting();
    EXPECT_EQ(UserDefaults::standardUserDefaults().filePath(),
              second + QStringLiteral("/com.tallowfen.corvex/defaults.json"));
    EXPECT_FALSE(UserDefaults::standardUserDefaults().containsKey(QStringLiteral("where")));
    UserDefaults::resetStandardUserDefaultsForTesting();
    EXPECT_EQ(UserDefaults(first + QStringLiteral("/com.tallowfen.corvex/defaults.json"))
                  .stringForKey(QStringLiteral("where")),
              QStringLiteral("first"));
}

// --- Crash safety -------------------------------------------------------------------------

namespace {

constexpr int kPayloadSize = 1 << 20;

QString payloadFor(qint64 generation)
{
    return QString(kPayloadSize, generation % 2 == 0 ? QLatin1Char('A') : QLatin1Char('B'));
}

qint64 generationOfLine(const QByteArray& line)
{
    if (!line.startsWith("write "))
        return -1;
    return line.mid(6).toLongLong();
}

} // namespace

// Rewrites the defaults at args[0] for ever, alternating two ~1 MB contents; announces each
// write on stdout before it starts. With "named" as args[1], saves go through named
// temporary files, as on a file system without O_TMPFILE.
CORVEX_TEST_HELPER(defaultsRewriter)
{
    std::optional<FaultShim> shim;
    if (args.value(1) == QStringLiteral("named")) {
        shim.emplace();
        shim->failOpensWith(O_TMPFILE, EOPNOTSUPP);
    }
    UserDefaults defaults(args.value(0));
    qint64 generation =
        defaults.dictionaryForKey(QStringLiteral("state")).value(QStringLiteral("generation")).toLongLong();
    while (true) {
        ++generation;
        std::printf("write %lld\n", static_cast<long long>(generation));
        std::fflush(stdout);
        defaults.setObject(QStringLiteral("state"),
                           QVariantMap{{QStringLiteral("generation"), generation},
                                       {QStringLiteral("payload"), payloadFor(generation)}});
        if (!defaults.lastError().isNull()) {
            std::fprintf(stderr, "rewriter: %s\n", qPrintable(defaults.lastError().toString()));
            return 1;
        }
    }
}

TEST(UserDefaultsCrashSoak, AKilledWriterAlwaysLeavesACompleteOldOrNewFile)
{
    std::uint32_t seed = std::random_device{}();
    if (qEnvironmentVariableIsSet("CORVEX_CRASH_SEED"))
        seed = std::uint32_t(qEnvironmentVariable("CORVEX_CRASH_SEED").toULong());
    RecordProperty("seed", std::to_string(seed));
    std::cout << "crash schedule seed " << seed << " (set CORVEX_CRASH_SEED to repeat)" << std::endl;
    std::mt19937 random(seed);

    const QString path = defaultsPath();
    {
        UserDefaults initial(path);
        initial.setObject(QStringLiteral("state"), QVariantMap{{QStringLiteral("generation"), 0},
                                                               {QStringLiteral("payload"), payloadFor(0)}});
        ASSERT_TRUE(initial.lastError().isNull());
    }

    const int kills = test::soakRuns(50, 20, 10);
    const auto began = std::chrono::steady_clock::now();
    int leftovers = 0;
    qint64 newest = 0;
    for (int round = 0; round < kills; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round << ", seed " << seed);
        // Half the writers save through named temporaries, which a kill can leave behind.
        const bool named = round % 2 == 1;
        auto writer =
            test::HelperProcess::start(QStringLiteral("defaultsRewriter"),
                                       {path, named ? QStringLiteral("named") : QStringLiteral("unnamed")});
        ASSERT_TRUE(writer);

        // The kill lands anywhere in a write cycle: after a random number of started writes,
        // a random part of the time one cycle took (measured on the wall clock, since the
        // cycle is the real process's, from building the content to the rename).
        qint64 started = -1;
        const int linesToWait = std::uniform_int_distribution<int>(2, 4)(random);
        auto lastLineAt = std::chrono::steady_clock::now();
        std::chrono::microseconds cycle{0};
        for (int i = 0; i < linesToWait; ++i) {
            const auto line = writer->readLine(60);
            ASSERT_TRUE(line.has_value()) << "the writer stopped early: exit " << writer->wait();
            started = std::max(started, generationOfLine(*line));
            const auto now = std::chrono::steady_clock::now();
            cycle = std::chrono::duration_cast<std::chrono::microseconds>(now - lastLineAt);
            lastLineAt = now;
        }
        const auto delay = std::chrono::microseconds(
            std::uniform_int_distribution<std::int64_t>(0, std::max<std::int64_t>(1, cycle.count()))(random));
        std::this_thread::sleep_until(lastLineAt + delay);
        writer->kill(SIGKILL);
        EXPECT_EQ(writer->wait(), -SIGKILL) << "the writer ended on its own";
        for (const QByteArray& line : writer->readAll().split('\n'))
            started = std::max(started, generationOfLine(line));
        ASSERT_GT(started, newest) << "each writer starts after what is on the disk";

        // The file as it is on the disk: complete JSON for the write under way or the one before.
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(readFile(path), &parseError);
        ASSERT_TRUE(document.isObject()) << parseError.errorString().toStdString();
        const QJsonObject state = document.object().value(QStringLiteral("state")).toObject();
        const qint64 onDisk = state.value(QStringLiteral("generation")).toInteger(-1);
        EXPECT_TRUE(onDisk == started || onDisk == started - 1)
            << "on disk " << onDisk << ", last started " << started;
        EXPECT_TRUE(state.value(QStringLiteral("payload")).toString() == payloadFor(onDisk))
            << "payload of " << onDisk;
        newest = onDisk;

        for (const QString& name : folderEntries(defaultsFolder())) {
            if (name.startsWith(SaveFile::temporaryPrefix(QStringLiteral("defaults.json"))))
                ++leftovers;
        }
        // And as the next launch would read it.
        UserDefaults fresh(path);
        const QVariantMap freshState = fresh.dictionaryForKey(QStringLiteral("state"));
        EXPECT_EQ(freshState.value(QStringLiteral("generation")).toLongLong(), onDisk);
        EXPECT_TRUE(freshState.value(QStringLiteral("payload")).toString() == payloadFor(onDisk));
        if (HasFatalFailure())
            return;
    }
    test::reportSoak(
        QStringLiteral("%1 kills in %2 s, last generation %3, named temporaries left by kills: %4")
            .arg(kills)
            .arg(std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), 0, 'f', 1)
            .arg(newest)
            .arg(leftovers));
    UserDefaults fresh(path);
    EXPECT_EQ(folderEntries(defaultsFolder()), QStringList{QStringLiteral("defaults.json")});
}
