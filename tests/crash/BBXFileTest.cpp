#include "crash/runtime/BBXFile.h"
#include "crash/runtime/BBXFileReader.h"
#include "tests/crash/CrashTestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <climits>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace corvex;
using namespace corvex::test;

namespace {

// Writes through an unbuffered file and answers the file's bytes.
template <typename Writes> QByteArray recordText(Writes writes)
{
    const QByteArray path = crashTestPath("record.bbxrecord");
    BBXFile file;
    EXPECT_TRUE(BBXFileInitWithPathMode(&file, path.constData(), false, false));
    writes(&file);
    EXPECT_TRUE(BBXFileClose(&file));
    return readFile(QFile::decodeName(path));
}

// Byte strings no plain string may break a line with.
const std::vector<std::string>& tortureStrings()
{
    static const std::vector<std::string> strings = {
        "plain",
        "quote\"inside",
        "back\\slash",
        "\"\\\"\\",
        "controls\x01\x02\x1f\n\r\t",
        "caf\xc3\xa9",
        "\xf0\x9f\x98\x80 emoji",
        "bad\xff\xfe bytes",
        "cut \xe2\x82",
        "surrogate \xed\xa0\x80",
        "overlong \xc0\xaf",
        "beyond \xf4\x90\x80\x80",
        "del\x7f",
        "",
        std::string(70, '"') + std::string(70, '\x05') + "\xe2\x82\xac" + std::string(40, '\xff'),
    };
    return strings;
}

void writeTortureLines(BBXFile* file)
{
    for (const std::string& text : tortureStrings()) {
        const char* s = text.c_str();
        BBXFileWriteSectionStart(file, s);
        BBXFileWriteHashStart(file);
        BBXFileWriteHashEntryString(file, "k", s);
        BBXFileWriteHashEntryHexEncodedString(file, "h", s);
        BBXFileWriteHashEntryInt64(file, "i", INT64_MIN);
        BBXFileWriteHashEntryUint64(file, "u", UINT64_MAX);
        BBXFileWriteHashEntryUint64(file, "z", 0);
        BBXFileWriteHashEntryInt64(file, "n", -12);
        BBXFileWriteHashEntryBoolean(file, "b", true);
        BBXFileWriteHashKey(file, "a");
        BBXFileWriteArrayStart(file);
        BBXFileWriteArrayEntryString(file, s);
        BBXFileWriteArrayEntryHexEncodedString(file, s);
        BBXFileWriteArrayEntryUint64(file, 7);
        BBXFileWriteHashStart(file);
        BBXFileWriteHashEnd(file);
        BBXFileWriteArrayEnd(file);
        BBXFileWriteHashEntryNSString(file, "s", s, text.size());
        BBXFileWriteHashEnd(file);
        BBXFileWriteSectionEnd(file);
    }
}

} // namespace

TEST(BBXFile, WritesTheRecordFormatExactly)
{
    const struct
    {
        const char* name;
        void (*writes)(BBXFile*);
        const char* expected;
    } cases[] = {
        {"hashes in an array: one comma between",
         [](BBXFile* f) {
             BBXFileWriteSectionStart(f, "threads");
             BBXFileWriteArrayStart(f);
             for (std::uint64_t pc : {1, 2}) {
                 BBXFileWriteHashStart(f);
                 BBXFileWriteHashEntryUint64(f, "pc", pc);
                 BBXFileWriteHashKey(f, "stack");
                 BBXFileWriteArrayStart(f);
                 BBXFileWriteArrayEntryUint64(f, pc);
                 BBXFileWriteArrayEntryUint64(f, pc + 1);
                 BBXFileWriteArrayEnd(f);
                 BBXFileWriteHashEntryBoolean(f, "crashed", pc == 1);
                 BBXFileWriteHashEnd(f);
             }
             BBXFileWriteArrayEnd(f);
             BBXFileWriteSectionEnd(f);
             BBXFileWriteSectionStart(f, "runtime");
             BBXFileWriteHashStart(f);
             BBXFileWriteHashEnd(f);
             BBXFileWriteSectionEnd(f);
         },
         "{\"threads\":[{\"pc\":1,\"stack\":[1,2],\"crashed\":true},{\"pc\":2,\"stack\":[2,3],\"crashed\":"
         "false}]}\n"
         "{\"runtime\":{}}\n"},
        {"numbers at their limits",
         [](BBXFile* f) {
             BBXFileWriteSectionStart(f, "n");
             BBXFileWriteHashStart(f);
             BBXFileWriteHashEntryUint64(f, "zero", 0);
             BBXFileWriteHashEntryUint64(f, "max", UINT64_MAX);
             BBXFileWriteHashEntryInt64(f, "min", INT64_MIN);
             BBXFileWriteHashEntryInt64(f, "neg", -12);
             BBXFileWriteHashEntryInt64(f, "pos", INT64_MAX);
             BBXFileWriteHashEnd(f);
             BBXFileWriteSectionEnd(f);
         },
         "{\"n\":{\"zero\":0,\"max\":18446744073709551615,\"min\":-9223372036854775808,\"neg\":-12,"
         "\"pos\":9223372036854775807}}\n"},
        {"absent texts, empty texts and hex",
         [](BBXFile* f) {
             BBXFileWriteSectionStart(f, "t");
             BBXFileWriteHashStart(f);
             BBXFileWriteHashEntryString(f, "none", nullptr);
             BBXFileWriteHashEntryNSString(f, "nsnone", nullptr, 0);
             BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(f, "skipped", "", 0);
             BBXFileWriteHashEntryNSStringUnlessNilOrEmpty(f, "kept", "ab", 2);
             BBXFileWriteHashEntryHexEncodedString(f, "hex", "A\"\xff");
             BBXFileWriteHashEntryHexEncodedString(f, "hexnone", nullptr);
             BBXFileWriteHashKey(f, "list");
             BBXFileWriteArrayStart(f);
             BBXFileWriteArrayEntryString(f, nullptr);
             BBXFileWriteArrayEntryString(f, "x");
             BBXFileWriteArrayEnd(f);
             BBXFileWriteHashEnd(f);
             BBXFileWriteSectionEnd(f);
         },
         "{\"t\":{\"none\":null,\"nsnone\":null,\"kept\":\"ab\",\"hex\":\"4122ff\",\"hexnone\":null,"
         "\"list\":[null,\"x\"]}}\n"},
        {"escapes, and U+FFFD for each ill-formed unit",
         [](BBXFile* f) {
             BBXFileWriteSectionStart(f, "k\"\\");
             BBXFileWriteArrayStart(f);
             BBXFileWriteArrayEntryString(f, "a\"b\\c\x01\n");
             BBXFileWriteArrayEntryString(f, "\xe2\x82\xac\xe2\x82|\xff\xc3");
             BBXFileWriteArrayEnd(f);
             BBXFileWriteSectionEnd(f);
         },
         "{\"k\\\"\\\\\":[\"a\\\"b\\\\c\\u0001\\u000a\",\"\xe2\x82\xac\xef\xbf\xbd|"
         "\xef\xbf\xbd\xef\xbf\xbd\"]}\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(recordText(c.writes), QByteArray(c.expected)) << c.name;
}

TEST(BBXFile, TortureLinesReadInPythonAsOneMemberObjectsWithTheirBytes)
{
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/python3")))
        GTEST_SKIP() << "no /usr/bin/python3";
    const QByteArray unbuffered = recordText(writeTortureLines);

    // The buffered writer makes the same bytes.
    const QByteArray bufferedPath = crashTestPath("buffered.bbxrecord");
    BBXFile file;
    ASSERT_TRUE(BBXFileInitWithPathMode(&file, bufferedPath.constData(), false, true));
    writeTortureLines(&file);
    std::uint64_t written = 0;
    ASSERT_TRUE(BBXFileCloseWithOffset(&file, &written));
    const QByteArray buffered = readFile(QFile::decodeName(bufferedPath));
    EXPECT_EQ(buffered, unbuffered);
    EXPECT_EQ(written, std::uint64_t(buffered.size()));

    QByteArray expected;
    for (const std::string& text : tortureStrings())
        expected += QByteArray::fromStdString(text).toHex() + '\n';
    const QString expectedPath = QFile::decodeName(crashTestPath("expected.txt"));
    writeFile(expectedPath, expected);
    const auto checked = runProgramToEnd(QStringLiteral("/usr/bin/python3"),
                                         {QStringLiteral(CORVEX_CRASH_TEST_DIR "/check_records.py"),
                                          QFile::decodeName(bufferedPath), expectedPath});
    ASSERT_TRUE(checked.ran);
    EXPECT_EQ(checked.exitCode, 0) << checked.output.toStdString();

    // The check is not blind: a raw quote in a line fails it.
    QByteArray broken = unbuffered;
    broken.replace("quote\\\"inside", "quote\"inside");
    writeFile(QFile::decodeName(bufferedPath), broken);
    const auto failed = runProgramToEnd(QStringLiteral("/usr/bin/python3"),
                                        {QStringLiteral(CORVEX_CRASH_TEST_DIR "/check_records.py"),
                                         QFile::decodeName(bufferedPath), expectedPath});
    EXPECT_EQ(failed.exitCode, 1);
}

TEST(BBXFile, TortureFilesCutAtEveryByteReadBackEveryCompleteLine)
{
    const QByteArray whole = recordText(writeTortureLines);
    ASSERT_EQ(BBXFileReadSectionsFromData(whole).size(), tortureStrings().size());
    // Every byte; under the sanitizers every fifth and those around each line feed.
    const qsizetype stride = heavyScale(1, 5);
    for (qsizetype cut = 0; cut <= whole.size(); ++cut) {
        const bool nearLineFeed =
            (cut > 0 && whole[cut - 1] == '\n') || (cut < whole.size() && whole[cut] == '\n');
        if (cut % stride != 0 && !nearLineFeed)
            continue;
        const QByteArray prefix = whole.left(cut);
        // A line cut just before its line feed is whole all the same.
        const qsizetype complete = prefix.count('\n') + (cut < whole.size() && whole[cut] == '\n' ? 1 : 0);
        ASSERT_EQ(qsizetype(BBXFileReadSectionsFromData(prefix).size()), complete) << "cut at " << cut;
    }
}

TEST(BBXFile, BufferHoldsAtMost999BytesAndFlushesWhenFull)
{
    const QByteArray path = crashTestPath("buffer.bbxrecord");
    BBXFile file;
    ASSERT_TRUE(BBXFileInitWithPathMode(&file, path.constData(), false, true));
    const std::string head(10, 'a');
    const std::string rest(BBXFileBufferSize - head.size(), 'b');
    ASSERT_TRUE(BBXFileWriteBytes(&file, head.data(), head.size()));
    EXPECT_EQ(file.bytesWritten, 0u);
    ASSERT_TRUE(BBXFileWriteBytes(&file, rest.data(), rest.size()));
    EXPECT_EQ(file.bytesWritten, 999u);
    EXPECT_EQ(file.bufferFill, 1u);
    EXPECT_EQ(file.buffer[1], 0);
    ASSERT_TRUE(BBXFileClose(&file));
    EXPECT_EQ(readFile(QFile::decodeName(path)), QByteArray::fromStdString(head + rest));
}

TEST(BBXFile, AppendStartsAtTheFileSizeAndTruncateAtZero)
{
    const QByteArray path = crashTestPath("append.bbxrecord");
    writeFile(QFile::decodeName(path), "12345");
    BBXFile file;
    ASSERT_TRUE(BBXFileInitWithPath(&file, path.constData(), false));
    EXPECT_EQ(file.bytesWritten, 5u);
    ASSERT_TRUE(BBXFileClose(&file));
    ASSERT_TRUE(BBXFileInitWithPathMode(&file, path.constData(), false, false));
    EXPECT_EQ(file.bytesWritten, 0u);
    ASSERT_TRUE(BBXFileClose(&file));
    EXPECT_TRUE(readFile(QFile::decodeName(path)).isEmpty());
    EXPECT_FALSE(BBXFileInitWithPath(&file, crashTestPath("missing/x").constData(), false));
    EXPECT_FALSE(BBXFileIsOpen(&file));
}

TEST(BBXFile, WriteLoopGivesUpAfter50CallsOrOnNonsense)
{
    ScopedSdkLog log;
    const auto oneByte = [](void*, const void*, std::size_t) -> ssize_t { return 1; };
    const auto tooMuch = [](void*, const void*, std::size_t length) -> ssize_t {
        return ssize_t(length) + 1;
    };
    const auto nothing = [](void*, const void*, std::size_t) -> ssize_t { return 0; };
    const std::string text(51, 'x');
    EXPECT_TRUE(BBXFileLoopWithWriteBlock(text.data(), 50, oneByte, nullptr));
    EXPECT_FALSE(BBXFileLoopWithWriteBlock(text.data(), 51, oneByte, nullptr));
    EXPECT_FALSE(BBXFileLoopWithWriteBlock(text.data(), 5, tooMuch, nullptr));
    EXPECT_FALSE(BBXFileLoopWithWriteBlock(text.data(), 5, nothing, nullptr));
    EXPECT_FALSE(BBXFileLoopWithWriteBlock(text.data(), 0, oneByte, nullptr));
    const QByteArray lines = log.text();
    EXPECT_EQ(lines.count("ERROR [BBXFileLoopWithWriteBlock:"), 4);
    EXPECT_EQ(lines.count("Error: exited write loop without success\n"), 3);
    EXPECT_EQ(lines.count("Error: length doesn't make sense (%zd, %zu)\n"), 1);
}

TEST(BBXFile, FailedCloseForgetsItsBuffer)
{
    ScopedSdkLog log;
    BBXFile file;
    ASSERT_TRUE(BBXFileInitWithPathMode(&file, crashTestPath("close.bbxrecord").constData(), false, true));
    BBXFileWriteBytes(&file, "abc", 3);
    // A descriptor number nothing holds (the log may reuse the closed one): close fails.
    ::close(file.fd);
    file.fd = 1 << 20;
    EXPECT_FALSE(BBXFileClose(&file));
    EXPECT_EQ(file.buffer, nullptr);
    EXPECT_FALSE(file.buffered);
    EXPECT_GE(file.fd, 0);
    // A second close neither frees nor writes the buffer again (the sanitizers would see it).
    EXPECT_FALSE(BBXFileClose(&file));
    EXPECT_TRUE(log.text().contains("WARN  [BBXFileCloseWithOffset:"));
    EXPECT_TRUE(log.text().contains("Error: Unable to close file Bad file descriptor\n"));
}

TEST(BBXFileReader, ABadLineCostsOnlyItself)
{
    const QByteArray bytes = "{\"a\":1}\n{\"b\":\n{\"c\":\"\xff\"}\n\n[2]\n{\"d\":{\"e\":[1,2]}}";
    const ValueArray sections = BBXFileReadSectionsFromData(bytes);
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(sections[0].toDictionary().value(QStringLiteral("a")).toInteger(), 1);
    EXPECT_TRUE(sections[1].isArray());
    EXPECT_TRUE(sections[2].toDictionary().contains(QStringLiteral("d")));

    const ValueArray kept =
        BBXFileReadSectionsFromData(bytes, [](const Value& section) -> std::optional<Value> {
            if (!section.isDictionary())
                return std::nullopt;
            return Value(section.toDictionary().keys().front());
        });
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[1].toString(), QStringLiteral("d"));
}

TEST(BBXFileReader, AnUnreadableFileAnswersNothingAndIsRemovedWhenAsked)
{
    ScopedSdkLog log;
    const QByteArray fifo = crashTestPath("not-a-file");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    EXPECT_FALSE(BBXFileReadSections(QFile::decodeName(fifo), false).has_value());
    EXPECT_TRUE(QFileInfo::exists(QFile::decodeName(fifo)));
    EXPECT_FALSE(BBXFileReadSections(QFile::decodeName(fifo), true).has_value());
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(fifo)));
    EXPECT_TRUE(log.text().contains("Unable to read file " + fifo + "\n"));
    EXPECT_FALSE(BBXFileReadSections(QString(), true).has_value());

    const QByteArray good = crashTestPath("good.bbxrecord");
    writeFile(QFile::decodeName(good), "{\"log\":{\"msg\":\"6869\"}}\n{\"log\":");
    const auto sections = BBXFileReadSections(QFile::decodeName(good), true);
    ASSERT_TRUE(sections.has_value());
    ASSERT_EQ(sections->size(), 1u);
}

TEST(BBXFileReader, HexDecodingStopsAtTheFirstBadPair)
{
    const struct
    {
        const char* hex;
        QByteArray bytes;
    } cases[] = {
        {"48656c6C6f", "Hello"},           {"4a4G41", "J"}, {"414", "A"}, {"", ""}, {"a", ""},
        {"00ff", QByteArray("\0\xff", 2)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BBXFileHexDecodeBytes(c.hex), c.bytes) << c.hex;
    EXPECT_EQ(BBXFileHexDecodeString(QStringLiteral("636166c3a9")), QStringLiteral("café"));
    EXPECT_EQ(BBXFileHexDecodeString(QStringLiteral("41ff")), QStringLiteral("A\uFFFD"));
}
