// The choice a restored local file's window makes between the file and its kept copy, and the
// record as the saved state carries it.

#include "mindmap/KeptCopyRecord.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

FileFingerprint fingerprint(qint64 size, qint64 modifiedMs, char digit)
{
    return FileFingerprint{size, modifiedMs, QString(40, QLatin1Char(digit))};
}

} // namespace

TEST(KeptCopyRecord, ChoosesWhatLosesNeitherTheFileNorTheEdits)
{
    using Choice = KeptCopyRecord::Choice;
    const FileFingerprint inStep = fingerprint(120, 1000, 'a');
    const Result<FileFingerprint> same = inStep;
    const Result<FileFingerprint> touched = fingerprint(120, 9000, 'a');
    const Result<FileFingerprint> replaced = fingerprint(120, 1000, 'b');
    const Result<FileFingerprint> gone = Error::posix(ENOENT, QStringLiteral("Cannot open the file"));
    struct Row
    {
        const char* what;
        bool holdsEdits;
        bool behind;
        const Result<FileFingerprint>& fileNow;
        Choice chosen;
    };
    const Row rows[] = {
        {"file as it was, no edits", false, false, same, Choice::KeptCopy},
        {"file as it was, edits", true, false, same, Choice::KeptCopy},
        {"file only touched: the same file", true, false, touched, Choice::KeptCopy},
        {"kept copy behind a save into the file", false, true, same, Choice::File},
        {"kept copy behind, with edits of its own", true, true, same, Choice::KeptCopy},
        {"file replaced, no edits", false, false, replaced, Choice::File},
        {"file replaced, kept copy behind", false, true, replaced, Choice::File},
        {"file replaced, edits", true, false, replaced, Choice::FileAndKeptEdits},
        {"file gone: all there is", true, false, gone, Choice::KeptCopy},
        {"file gone, kept copy behind", false, true, gone, Choice::KeptCopy},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(KeptCopyRecord(inStep, row.holdsEdits, row.behind).choose(row.fileNow), row.chosen);
    }
}

TEST(KeptCopyRecord, TravelsInTheSavedStateAndADamagedOneIsNone)
{
    ValueDictionary state;
    KeptCopyRecord(fingerprint(7, 1234567890123, 'c'), true, false).writeInto(state);
    const std::optional<KeptCopyRecord> read = KeptCopyRecord::readFrom(state);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->fileInStep(), fingerprint(7, 1234567890123, 'c'));
    EXPECT_TRUE(read->holdsEdits());
    EXPECT_FALSE(read->behind());

    const std::pair<const char*, Value> damages[] = {
        {"fileSHA1", Value(QStringLiteral("not a digest"))},
        {"fileSize", Value(-1)},
        {"fileModified", Value(QStringLiteral("yesterday"))},
    };
    for (const auto& [key, value] : damages) {
        SCOPED_TRACE(key);
        ValueDictionary damaged = state;
        damaged.insert(QLatin1String(key), value);
        EXPECT_FALSE(KeptCopyRecord::readFrom(damaged).has_value());
    }
    EXPECT_FALSE(KeptCopyRecord::readFrom(ValueDictionary()).has_value());
}

} // namespace corvex::test
