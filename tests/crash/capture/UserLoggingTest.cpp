// The user logging stores in process: A/B rotation by entries and by size, key-value pairs
// with removal and compaction (the keys written last kept, also under eight writers), logs
// and errors. Runs in both trees.

#include "crash/capture/BBXUserLogging.h"
#include "crash/runtime/BBXFileReader.h"
#include "platform/core/Error.h"
#include "tests/crash/CrashTestSupport.h"
#include "tests/support/LogCapture.h"

#include <QFile>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace corvex::test {
namespace {

// Stores in the test folder, installed for the scope.
class ScopedUserLogging
{
public:
    explicit ScopedUserLogging(std::uint32_t logBuffer, std::uint32_t maxErrors, std::uint32_t maxKeys)
    {
        for (const char* name : {"log_a", "log_b", "errors_a", "errors_b", "custom_a", "custom_b", "user_inc",
                                 "user_comp", "internal_inc", "internal_comp"})
            mPaths.push_back(crashTestPath(name));
        mStores.logBufferSize = logBuffer;
        mStores.log = {mPaths[0].constData(), mPaths[1].constData(), logBuffer, 0, true, nullptr};
        mStores.errors = {mPaths[2].constData(), mPaths[3].constData(), 0, maxErrors, false,
                          &mState.errorCount};
        mStores.customExceptions = {mPaths[4].constData(),       mPaths[5].constData(), 0, maxErrors, false,
                                    &mState.customExceptionCount};
        mStores.userKV = {mPaths[6].constData(), mPaths[7].constData(), 0, maxKeys};
        mStores.internalKV = {mPaths[8].constData(), mPaths[9].constData(), 0, 32};
        BBXUserLoggingInit(&mStores, &mState);
    }
    ~ScopedUserLogging() { BBXUserLoggingStop(); }
    ScopedUserLogging(const ScopedUserLogging&) = delete;
    ScopedUserLogging& operator=(const ScopedUserLogging&) = delete;

    QString path(int index) const { return QString::fromUtf8(mPaths[std::size_t(index)]); }
    BBXUserLoggingStores& stores() { return mStores; }
    BBXUserLoggingState& state() { return mState; }
    // Lets the queued checks and compactions run.
    void settle()
    {
        BBXUserLoggingSync([] {});
    }

private:
    std::vector<QByteArray> mPaths;
    BBXUserLoggingStores mStores;
    BBXUserLoggingState mState;
};

int lineCount(const QString& path)
{
    return QFile::exists(path) ? int(readFile(path).count('\n')) : 0;
}

TEST(UserLogging, theTenthErrorSwapsThePairAndTheEleventhGoesIntoTheEmptiedFile)
{
    ScopedSdkLog log;
    ScopedUserLogging logging(64, 10, 8);
    const Error error(QStringLiteral("com.corvex.test"), -7, QString(),
                      {{QStringLiteral("Reason"), QStringLiteral("\"quoted\"")}});
    for (int i = 0; i < 10; ++i)
        BBXUserLoggingRecordError(error, {});
    logging.settle();
    EXPECT_EQ(lineCount(logging.path(2)), 10);
    EXPECT_EQ(logging.state().currentErrors.load(), logging.stores().errors.pathB);
    BBXUserLoggingRecordError(error, {{QStringLiteral("extra"), 3}});
    logging.settle();
    EXPECT_EQ(lineCount(logging.path(3)), 1);
    const std::optional<ValueArray> lines = BBXFileReadSections(logging.path(3), false);
    ASSERT_TRUE(lines && lines->size() == 1);
    const Value& line = lines->front().value(QStringLiteral("error"));
    EXPECT_EQ(BBXFileHexDecodeString(line.value(QStringLiteral("domain")).toString()),
              QStringLiteral("com.corvex.test"));
    EXPECT_EQ(line.value(QStringLiteral("code")).toInteger(), -7);
    EXPECT_GT(line.value(QStringLiteral("stacktrace")).toArray().size(), 2u);
    const Value& info = line.value(QStringLiteral("info")).at(0);
    EXPECT_EQ(BBXFileHexDecodeString(info.at(1).toString()), QStringLiteral("\"quoted\""));
    EXPECT_EQ(BBXFileHexDecodeString(line.value(QStringLiteral("extra_info")).at(0).at(1).toString()),
              QStringLiteral("3"));

    // Another ten fill B and swap back to A, which was emptied first.
    for (int i = 0; i < 9; ++i)
        BBXUserLoggingRecordError(error, {});
    logging.settle();
    EXPECT_EQ(logging.state().currentErrors.load(), logging.stores().errors.pathA);
    EXPECT_FALSE(QFile::exists(logging.path(2)));
}

TEST(UserLogging, aZeroLimitRecordsNothingAndLongMessagesAreCut)
{
    ScopedUserLogging disabled(0, 0, 8);
    BBXUserLoggingRecordError(Error(QStringLiteral("d"), 1), {});
    BBXLogRecordMessage(QStringLiteral("nothing"));
    disabled.settle();
    EXPECT_FALSE(QFile::exists(disabled.path(0)));
    EXPECT_FALSE(QFile::exists(disabled.path(2)));
}

TEST(UserLogging, aLogLinePassingTheBufferSwapsThePairAfterItIsWritten)
{
    ScopedUserLogging logging(64, 10, 8);
    LogCapture capture;
    BBXLogRecordMessage(QString(100, QLatin1Char('x')));
    logging.settle();
    EXPECT_TRUE(capture.contains(QStringLiteral("Attempted to write 100 bytes, but 64 is the maximum size")))
        << capture.lines().join(QLatin1Char(10)).toStdString();
    const std::optional<ValueArray> lines = BBXFileReadSections(logging.path(0), false);
    ASSERT_TRUE(lines && lines->size() == 1);
    EXPECT_EQ(BBXFileHexDecodeString(
                  lines->front().value(QStringLiteral("log")).value(QStringLiteral("msg")).toString()),
              QString(64, QLatin1Char('x')));
    // 64 characters as hex make the file larger than 64 bytes: the next line goes to B.
    EXPECT_EQ(logging.state().currentLog.load(), logging.stores().log.pathB);
    BBXLogRecordMessage(QStringLiteral("next"));
    logging.settle();
    EXPECT_EQ(lineCount(logging.path(1)), 1);
    EXPECT_EQ(lineCount(logging.path(0)), 1);
}

TEST(UserLogging, aRemovedKeyIsAbsentAndTheSixtyFourthWriteCompacts)
{
    ScopedSdkLog log;
    ScopedUserLogging logging(64, 10, 8);
    BBXUserLoggingRecordUserKeyValue(QStringLiteral("gone"), QStringLiteral("soon"));
    BBXUserLoggingRecordUserKeyValue(QStringLiteral("gone"), QVariant());
    EXPECT_TRUE(readFile(logging.path(6)).contains("\"value\":null"));
    BBXUserLoggingRecordUserKeyValue(QString(), QStringLiteral("refused"));
    for (int i = 0; i < 61; ++i)
        BBXUserLoggingRecordUserKeyValue(QStringLiteral("key-%1").arg(i % 4), i);
    EXPECT_EQ(lineCount(logging.path(6)), 63);
    BBXUserLoggingRecordUserKeyValue(QStringLiteral("last"), QStringLiteral("value"));
    logging.settle();
    EXPECT_FALSE(QFile::exists(logging.path(6)));
    EXPECT_EQ(lineCount(logging.path(7)), 5);
    const BBXKeyValuePairs pairs = BBXUserLoggingGetCompactedKVEntries(&logging.stores().userKV, true);
    ASSERT_EQ(pairs.size(), 5u);
    EXPECT_EQ(pairs.back(), std::make_pair(QByteArray("last"), QByteArray("value")));
    EXPECT_EQ(pairs.front(), std::make_pair(QByteArray("key-1"), QByteArray("57")));
    EXPECT_TRUE(log.text().contains("User provided bad key"));
}

TEST(UserLogging, compactionUnderEightWritersKeepsTheKeysWrittenLast)
{
    ScopedUserLogging logging(64, 10, 16);
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                BBXUserLoggingRecordUserKeyValue(QStringLiteral("writer-%1-%2").arg(t).arg(i % 20), i);
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    for (int i = 0; i < 16; ++i)
        BBXUserLoggingRecordUserKeyValue(QStringLiteral("final-%1").arg(i), i);
    logging.settle();
    BBXUserLoggingSync([&] { BBXUserLoggingCompactKVEntries(&logging.stores().userKV); });
    const BBXKeyValuePairs pairs = BBXUserLoggingGetCompactedKVEntries(&logging.stores().userKV, true);
    ASSERT_EQ(pairs.size(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(pairs[std::size_t(i)],
                  std::make_pair("final-" + QByteArray::number(i), QByteArray::number(i)));
    // 416 writes, every 64th compacted: nothing torn, every line of both files reads.
    EXPECT_EQ(lineCount(logging.path(7)), 16);
}

} // namespace
} // namespace corvex::test
