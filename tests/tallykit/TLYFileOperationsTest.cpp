#include "platform/core/SysCalls.h"
#include "tallykit/TLYEvent.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/tallykit/TallyTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace corvex;

namespace {

struct FileOpsFixture
{
    test::TallyRegistry registry;
    std::shared_ptr<TLYMetadata> metadata = std::make_shared<TLYMetadata>(registry.loom, std::nullopt);
    QString dir = tallyEventDirFor();
    static QString tallyEventDirFor()
    {
        QDir().mkpath(test::tallyEventDir());
        return test::tallyEventDir();
    }
    bool write(const std::shared_ptr<TLYEvent>& event, const QString& log)
    {
        TLYWriteEventOperation operation(event, metadata, log);
        operation.main();
        return operation.success();
    }
};

} // namespace

TEST(TLYWriteEventOperation, WritesTheMetadataLineFirstAndCountsUtf8Bytes)
{
    FileOpsFixture f;
    const QString log = f.dir + QStringLiteral("/A.log");
    ValueDictionary attributes;
    attributes.insert(QStringLiteral("word"), Value(QStringLiteral("Grüße")));
    ASSERT_TRUE(f.write(std::make_shared<TLYCustomEvent>(QStringLiteral("first"), Value(attributes)), log));
    ASSERT_TRUE(f.write(TLYLifecycleEvent::appLaunchedEvent(), log));
    const QList<QByteArray> lines = test::tallyRead(log).split('\n');
    ASSERT_EQ(lines.size(), 4); // three lines and the empty rest after the last line feed
    for (int index = 0; index < 3; ++index) {
        const QList<QByteArray> fields = lines[index].split('\t');
        ASSERT_EQ(fields.size(), 4);
        EXPECT_EQ(fields[2].toLongLong(), fields[3].size());
        EXPECT_TRUE(JsonText::parse(fields[3]));
    }
    EXPECT_EQ(lines[0].split('\t')[1], QByteArray("metadata"));
    EXPECT_EQ(lines[1].split('\t')[1], QByteArray("custom"));
    EXPECT_EQ(lines[2].split('\t')[1], QByteArray("app_launched"));
    EXPECT_GT(lines[1].split('\t')[3].size(), QString::fromUtf8(lines[1].split('\t')[3]).size());

    // A folder where the log should be: nothing written.
    QDir().mkpath(f.dir + QStringLiteral("/B.log"));
    EXPECT_FALSE(f.write(TLYLifecycleEvent::appLaunchedEvent(), f.dir + QStringLiteral("/B.log")));
}

TEST(TLYWriteEventOperation, AFailedAppendIsCutBackAndNeverLeavesAHeadlessLog)
{
    FileOpsFixture f;
    struct Case
    {
        const char* what;
        std::size_t writeLimit; // bytes a write call moves at most (0: all)
        bool existing;          // the log already holds a line
        int linesAfter;
    };
    // The second write call fails: after a short first one (a torn line to cut back) or
    // after a whole metadata line.
    const Case cases[] = {
        {"metadata line of a new log", 5, false, 0},
        {"event line of a new log", 0, false, 1},
        {"event line of a log with lines", 5, true, 2},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString log = f.dir + QStringLiteral("/cut%1.log").arg(run++);
        if (c.existing) {
            ASSERT_TRUE(f.write(TLYLifecycleEvent::appLaunchedEvent(), log));
        }
        {
            test::FaultShim shim;
            shim.limitWriteSize(c.writeLimit);
            shim.failAt(test::FaultShim::Op::Write, 2, ENOSPC);
            EXPECT_FALSE(f.write(TLYLifecycleEvent::appLaunchedEvent(), log));
        }
        const QByteArray after = test::tallyRead(log);
        EXPECT_TRUE(after.isEmpty() || after.endsWith('\n'));
        EXPECT_EQ(after.count('\n'), c.linesAfter);
        // The next write of a log cut back to nothing starts with its metadata line again.
        ASSERT_TRUE(f.write(TLYLifecycleEvent::appLaunchedEvent(), log));
        EXPECT_TRUE(test::tallyRead(log).split('\n').front().contains("\tmetadata\t"));
    }
}

TEST(TLYCompressLogOperation, CompressesWholeLinesOnlyAndKeepsTheLogOnFailure)
{
    FileOpsFixture f;
    const QString log = f.dir + QStringLiteral("/C.log");
    const QString gz = f.dir + QStringLiteral("/C.gz");
    test::tallyWrite(log, "1\tmetadata\t2\t{}\n2\tapp_launched\t2\t{}\n3\tapp_lau");
    {
        test::FaultShim shim;
        shim.failFrom(test::FaultShim::Op::Write, 1, ENOSPC);
        TLYCompressLogOperation failing(log, gz);
        failing.main();
        EXPECT_FALSE(failing.success());
    }
    EXPECT_FALSE(QFile::exists(gz));
    EXPECT_TRUE(QFile::exists(log));

    test::LogCapture capture;
    TLYCompressLogOperation compress(log, gz);
    compress.main();
    EXPECT_TRUE(compress.success());
    EXPECT_TRUE(capture.contains(QStringLiteral("torn last line")));
    Result<QByteArray> inflated = Zlib::gunzip(test::tallyRead(gz));
    ASSERT_TRUE(inflated);
    EXPECT_EQ(inflated.value(), QByteArray("1\tmetadata\t2\t{}\n2\tapp_launched\t2\t{}\n"));

    // An existing ".gz" of other content is never taken for this log.
    test::tallyWrite(gz, Zlib::gzipCompress("other\n").value());
    TLYCompressLogOperation again(log, gz);
    again.main();
    EXPECT_FALSE(again.success());
}

TEST(TLYCleanupFilesOperation, SortsLeftoversAndKeepsOnlyTheLatestCompleteStage)
{
    FileOpsFixture f;
    for (const char* name :
         {"L.log", "L.gz", "G.gz", "P.multipartmime", "P.gz", "P.log", "stray.txt", "noext", ".hidden"})
        test::tallyWrite(f.dir + u'/' + QString::fromLatin1(name), "x");
    QStringList logs, compressed, packages;
    TLYCleanupFilesOperation cleanup(f.dir, 100);
    cleanup.setSuccessBlock([&](const QStringList& l, const QStringList& c, const QStringList& p) {
        logs = l;
        compressed = c;
        packages = p;
    });
    test::LogCapture capture;
    cleanup.main();
    auto names = [](const QStringList& paths) {
        QStringList result;
        for (const QString& path : paths)
            result.append(QFileInfo(path).fileName());
        return result;
    };
    EXPECT_EQ(names(logs), QStringList{QStringLiteral("L.log")});
    EXPECT_EQ(names(compressed), QStringList{QStringLiteral("G.gz")});
    EXPECT_EQ(names(packages), QStringList{QStringLiteral("P.multipartmime")});
    EXPECT_EQ(test::tallyFiles(), (QStringList{QStringLiteral("G.gz"), QStringLiteral("L.log"),
                                               QStringLiteral("P.multipartmime")}));
    EXPECT_TRUE(capture.contains(QStringLiteral("stray")));

    // 101 packages and a maximum of 100: the oldest goes.
    for (int index = 0; index < 101; ++index) {
        const QString path = f.dir + QStringLiteral("/K%1.multipartmime").arg(index, 3, 10, QLatin1Char('0'));
        test::tallyWrite(path, "x");
        const QDateTime when = QDateTime::fromSecsSinceEpoch(1600000000 + index, Qt::UTC);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setFileTime(when, QFileDevice::FileModificationTime);
    }
    QStringList packaged = TLYFileUtils::filesWithExtension(QStringLiteral("multipartmime"), f.dir);
    packaged.removeAll(f.dir + QStringLiteral("/P.multipartmime"));
    const QStringList kept = TLYCleanupFilesOperation::URLsByRemovingOldFiles(packaged, 100);
    EXPECT_EQ(kept.size(), 100);
    // Made first and modified earliest: the oldest by birth or by modification time.
    EXPECT_FALSE(QFile::exists(f.dir + QStringLiteral("/K000.multipartmime")));
}

TEST(TLYCrashMetadata, RotationReplacesTheFileAtomicallyAndSurvivesBadInput)
{
    FileOpsFixture f;
    const QString path = test::tallyRoot() + QStringLiteral("/crash_metadata");
    struct Case
    {
        const char* what;
        std::optional<QByteArray> stored;
        bool failWrite;
        qsizetype previousEntries; // of the crash metadata handed over
    };
    const Case cases[] = {
        {"first run", std::nullopt, false, 0},
        {"no JSON", QByteArray("{not json"), false, 0},
        {"an array", QByteArray("[1,2]"), false, 0},
        {"a stored record", QByteArray(R"({"session_id":"S","started_at":5})"), false, 2},
        {"a failing write keeps the old file", QByteArray(R"({"session_id":"S"})"), true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path);
        if (c.stored)
            test::tallyWrite(path, *c.stored);
        TLYRotateCrashMetadataOperation rotate(path, *f.metadata);
        test::LogCapture capture;
        {
            std::optional<test::FaultShim> shim;
            if (c.failWrite) {
                shim.emplace();
                shim->failFrom(test::FaultShim::Op::Write, 1, EIO);
            }
            rotate.main();
        }
        ASSERT_TRUE(rotate.crashMetadata());
        EXPECT_EQ(rotate.crashMetadata()->rawMetadataDictionary().size(), c.previousEntries);
        const QByteArray now = test::tallyRead(path);
        if (c.failWrite) {
            EXPECT_EQ(now, *c.stored);
        } else {
            Result<Value> parsed = JsonText::parse(now);
            ASSERT_TRUE(parsed);
            EXPECT_EQ(parsed.value().value(QStringLiteral("api_key")).toString(),
                      QStringLiteral("tally-test-key"));
        }
    }
}
