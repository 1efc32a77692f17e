// The platform stand-ins the reporting kit reads its facts from: the running executable
// (ELF), host facts, calendar time, the current operation queue and the application icon.

#include "platform/core/ApplicationIconProvider.h"
#include "platform/core/CalendarClock.h"
#include "platform/core/ElfImage.h"
#include "platform/core/HostInfo.h"
#include "platform/core/OperationQueue.h"

#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"
#include "tests/support/VirtualScheduler.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <cstring>
#include <future>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

// A little-endian ELF64 header with one PT_NOTE segment holding `notes`.
QByteArray makeElfWithNotes(const QByteArray& notes, std::uint16_t machine = 62)
{
    QByteArray elf(64 + 56, '\0');
    std::memcpy(elf.data(),
                "\x7F"
                "ELF\x02\x01\x01",
                7);
    auto put = [&elf](int offset, std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            elf[offset + i] = char((value >> (8 * i)) & 0xFF);
    };
    put(18, machine, 2);
    put(32, 64, 8); // e_phoff
    put(54, 56, 2); // e_phentsize
    put(56, 1, 2);  // e_phnum
    put(64, 4, 4);  // PT_NOTE
    put(64 + 8, std::uint64_t(elf.size()), 8);
    put(64 + 32, std::uint64_t(notes.size()), 8);
    return elf + notes;
}

QByteArray elfNote(std::uint32_t type, const QByteArray& name, const QByteArray& desc)
{
    QByteArray note(12, '\0');
    const std::uint32_t fields[3] = {std::uint32_t(name.size()), std::uint32_t(desc.size()), type};
    std::memcpy(note.data(), fields, 12);
    QByteArray paddedName = name;
    paddedName.append(QByteArray((4 - name.size() % 4) % 4, '\0'));
    QByteArray paddedDesc = desc;
    paddedDesc.append(QByteArray((4 - desc.size() % 4) % 4, '\0'));
    return note + paddedName + paddedDesc;
}

} // namespace

TEST(ElfImage, TheRunningExecutableHasA16ByteBuildId)
{
    const auto& current = ElfImage::currentExecutable();
    ASSERT_TRUE(current.ok()) << current.error().toString().toStdString();
    EXPECT_EQ(current->buildId.size(), 16) << "linked without --build-id=md5?";
    EXPECT_EQ(current->uuid, current->buildId);
#if defined(__x86_64__)
    EXPECT_EQ(current->architecture, QStringLiteral("x86_64"));
    EXPECT_TRUE(current->is64Bit);
#endif
    EXPECT_EQ(QFileInfo(current->path).canonicalFilePath(),
              QFileInfo(test::selfExecutable()).canonicalFilePath());
}

TEST(ElfImage, TheBuildIdMatchesWhatReadelfSees)
{
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/readelf")))
        GTEST_SKIP() << "no readelf";
    QProcess readelf;
    readelf.start(QStringLiteral("/usr/bin/readelf"), {QStringLiteral("-n"), test::selfExecutable()});
    ASSERT_TRUE(readelf.waitForFinished(60000));
    const QByteArray notes = readelf.readAllStandardOutput();
    const qsizetype at = notes.indexOf("Build ID: ");
    ASSERT_GE(at, 0) << notes.toStdString();
    const QByteArray hex = notes.mid(at + 10, notes.indexOf('\n', at) - at - 10).trimmed();
    EXPECT_EQ(ElfImage::currentExecutable()->buildId.toHex(), hex);
}

TEST(ElfImage, BytesGiveNoteArchitectureOrTheFilesDigest)
{
    const QByteArray id = QByteArray::fromHex("00112233445566778899aabbccddeeff0102030405");
    const QByteArray notes =
        elfNote(1, QByteArray("GNU\0", 4), QByteArray("abi!")) + elfNote(3, QByteArray("GNU\0", 4), id);
    const QByteArray elf = makeElfWithNotes(notes, 183);
    const auto read = ElfImage::readBytes(elf.constData(), std::size_t(elf.size()));
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(read->architecture, QStringLiteral("arm64"));
    EXPECT_EQ(read->buildId, id);
    EXPECT_EQ(read->uuid, id.left(16)); // a 20-byte SHA-1 id is cut to the UUID's size

    const QByteArray bare = makeElfWithNotes(QByteArray(), 3);
    const auto digest = ElfImage::readBytes(bare.constData(), std::size_t(bare.size()));
    ASSERT_TRUE(digest.ok());
    EXPECT_EQ(digest->architecture, QStringLiteral("i386"));
    EXPECT_TRUE(digest->buildId.isEmpty());
    EXPECT_EQ(digest->uuid.size(), 16);
    EXPECT_EQ(ElfImage::architectureName(9999), QStringLiteral("unknown"));
}

TEST(ElfImage, DamagedImagesAreReadWithinTheirBytes)
{
    const QByteArray id = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QByteArray elf = makeElfWithNotes(elfNote(3, QByteArray("GNU\0", 4), id));
    for (qsizetype length = 0; length <= elf.size(); ++length) {
        std::vector<char> exact(elf.constData(), elf.constData() + length);
        const auto read = ElfImage::readBytes(exact.data(), exact.size());
        if (length < 64)
            EXPECT_FALSE(read.ok()) << length;
        else
            EXPECT_TRUE(read.ok() && read->uuid.size() == 16) << length;
    }
    QByteArray hugeCount = elf;
    hugeCount[56] = char(0xFF);
    hugeCount[57] = char(0xFF);
    EXPECT_TRUE(ElfImage::readBytes(hugeCount.constData(), std::size_t(hugeCount.size())).ok());
    EXPECT_FALSE(ElfImage::readBytes("MZ", 2).ok());
    EXPECT_FALSE(ElfImage::readFile(test::testDir()).ok());
}

TEST(HostInfo, OsReleaseVersionsInTheirForms)
{
    struct Case
    {
        const char* text;
        bool found;
        std::int64_t major, minor, patch;
    };
    const Case cases[] = {
        {"NAME=\"Debian\"\nVERSION_ID=\"12\"\n", true, 12, 0, 0},
        {"VERSION_ID=22.04\n", true, 22, 4, 0},
        {"VERSION_ID='3.18.4.9'\n", true, 3, 18, 4},
        {"ID=debian\n", false, 0, 0, 0},
        {"VERSION_ID=\"rolling\"\n", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        HostInfo::OsVersion version;
        EXPECT_EQ(HostInfo::parseOsRelease(QByteArray(c.text), version), c.found) << c.text;
        EXPECT_EQ(version.major, c.major) << c.text;
        EXPECT_EQ(version.minor, c.minor) << c.text;
        EXPECT_EQ(version.patch, c.patch) << c.text;
    }
}

TEST(HostInfo, ModelIsTheFirstFileWithTextTrimmedAndCut)
{
    const QString empty = test::testDir() + QStringLiteral("/empty");
    const QString model = test::testDir() + QStringLiteral("/model");
    test::writeFile(empty, QByteArray(" \n"));
    test::writeFile(model, QByteArray("Raspberry Pi 4 Model B\0", 23) + QByteArray(300, 'x'));
    EXPECT_EQ(HostInfo::firstLine({test::testDir() + QStringLiteral("/missing"), empty, model}),
              QStringLiteral("Raspberry Pi 4 Model B"));
    test::writeFile(model, QByteArray(300, 'y'));
    EXPECT_EQ(HostInfo::firstLine({model}).size(), 127);
    EXPECT_TRUE(HostInfo::firstLine({empty}).isNull());
    EXPECT_GE(HostInfo::processorCount(), 1);
}

TEST(CalendarClock, TiedCalendarTimeMovesWithVirtualTime)
{
    test::ScopedVirtualTime time;
    ASSERT_TRUE(CalendarClock::isTied());
    const QDateTime start = CalendarClock::now();
    EXPECT_EQ(start, QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC));
    time.advance(86400.5);
    EXPECT_EQ(start.msecsTo(CalendarClock::now()), 86400500);
}

TEST(CalendarClock, UntiedCalendarTimeIsRealTime)
{
    ASSERT_FALSE(CalendarClock::isTied());
    const QDateTime now = CalendarClock::now();
    EXPECT_LT(std::abs(now.secsTo(QDateTime::currentDateTimeUtc())), 5);
    EXPECT_EQ(now.timeSpec(), Qt::UTC);
}

TEST(OperationQueueCurrent, AnOperationSeesItsQueueAndOthersSeeNone)
{
    EXPECT_EQ(OperationQueue::currentQueue(), nullptr);
    OperationQueue queue(QStringLiteral("io.tally.EventQueue"));
    std::promise<OperationQueue*> seen;
    queue.addOperationWithBlock([&] { seen.set_value(OperationQueue::currentQueue()); });
    EXPECT_EQ(seen.get_future().get(), &queue);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(OperationQueue::currentQueue(), nullptr);
}

TEST(ApplicationIconProvider, NoIconUntilAProviderIsInstalled)
{
    EXPECT_FALSE(ApplicationIconProvider::applicationIcon().has_value());
    ApplicationIconProvider::install([] { return ApplicationIcon{QByteArray("\x89PNG"), 512, 512}; });
    const auto icon = ApplicationIconProvider::applicationIcon();
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->widthPoints, 512);
    ApplicationIconProvider::install({});
    EXPECT_FALSE(ApplicationIconProvider::applicationIcon().has_value());
}
