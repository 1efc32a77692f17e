#include "kit/sys/MachO.h"

#include "tests/kit/KitTestSupport.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

QString machODir()
{
    return test::kitDataDir() + QStringLiteral("/macho");
}

// What the reader finds in one slice, in the script's terms.
QJsonObject describeMachOSlice(BBXMachOSlice slice, std::uintptr_t fileStart)
{
    QJsonObject found;
    found[QStringLiteral("cpuType")] = slice.cpuType;
    found[QStringLiteral("cpuSubtype")] = slice.cpuSubtype;
    found[QStringLiteral("offset")] =
        qint64(reinterpret_cast<std::uintptr_t>(slice.startAddress) - fileStart);
    found[QStringLiteral("arch")] = QString::fromLatin1(LOMMachOSliceArchitectureName(&slice));
    QJsonValue uuid, minOS, sdk, text, dylib;
    bool encrypted = false;
    int commands = 0;
    LOMMachOEnumerateLoadCommands(&slice, [&](std::uint32_t type, std::uint32_t size, const void* command) {
        ++commands;
        if (type == LOMMachOLoadCommandUUID)
            uuid = LOMUUIDStringFromBytes(LOMMachOUUIDBytes(command, size));
        if (type == LOMMachOLoadCommandVersionMinMacOSX) {
            const LOMMachOVersion minimum = LOMMachOMinimumOSVersion(command, size);
            const LOMMachOVersion built = LOMMachOSDKVersion(command, size);
            minOS = LOMVersionTripleString(&minimum);
            sdk = LOMVersionTripleString(&built);
        }
        if (type == LOMMachOLoadCommandEncryptionInfo64)
            encrypted = LOMMachOIsEncrypted(command, size);
        if (type == 0xC)
            dylib = QString::fromUtf8(LOMMachOLoadCommandString(command, size));
    });
    LOMMachOSectionRecord record;
    if (LOMMachOSectionInfo(&slice, "__TEXT", "__text", &record))
        text = QJsonArray{qint64(record.address), qint64(record.size), qint64(record.offset)};
    found[QStringLiteral("uuid")] = uuid.isUndefined() ? QJsonValue() : uuid;
    found[QStringLiteral("minOS")] = minOS.isUndefined() ? QJsonValue() : minOS;
    found[QStringLiteral("sdk")] = sdk.isUndefined() ? QJsonValue() : sdk;
    found[QStringLiteral("text")] = text.isUndefined() ? QJsonValue() : text;
    found[QStringLiteral("dylib")] = dylib.isUndefined() ? QJsonValue() : dylib;
    found[QStringLiteral("encrypted")] = encrypted;
    found[QStringLiteral("commands")] = commands;
    return found;
}

} // namespace

TEST(MachOFixtures, EveryScriptFileGivesItsSlicesOrNothing)
{
    const QJsonObject expected = test::kitJsonFile(machODir() + QStringLiteral("/expected.json")).object();
    ASSERT_GE(expected.size(), 9);
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        LOMMachOMappedFile file;
        ASSERT_TRUE(
            LOMMachOMapFile(&file, QFile::encodeName(machODir() + QLatin1Char('/') + it.key()).constData()));
        QJsonArray found;
        LOMMachOEnumerateSlicesInFile(&file, [&](BBXMachOSlice* slice) {
            found.append(describeMachOSlice(*slice, reinterpret_cast<std::uintptr_t>(file.startAddress)));
        });
        EXPECT_EQ(QJsonDocument(found).toJson().toStdString(),
                  QJsonDocument(it.value().toArray()).toJson().toStdString());
        LOMMachOUnmapFile(&file);
        EXPECT_EQ(file.fileDescriptor, -1);
        EXPECT_EQ(file.startAddress, nullptr);
    }
}

TEST(MachOFixtures, FindsTheLastSliceOfANameAndZerosForNone)
{
    LOMMachOMappedFile file;
    ASSERT_TRUE(
        LOMMachOMapFile(&file, QFile::encodeName(machODir() + QStringLiteral("/fat2.macho")).constData()));
    const BBXMachOSlice arm = LOMMachOFindSliceNamed(&file, "arm64");
    EXPECT_EQ(static_cast<const char*>(arm.startAddress) - static_cast<const char*>(file.startAddress),
              0x2000);
    const BBXMachOSlice none = LOMMachOFindSliceNamed(&file, "ppc");
    EXPECT_EQ(none.startAddress, nullptr);
    EXPECT_EQ(none.cpuType, 0);
    LOMMachOUnmapFile(&file);
}

TEST(MachOFixtures, SectionAddressIsTheSliceStartPlusTheFileOffset)
{
    const QByteArray bytes = test::readFile(machODir() + QStringLiteral("/thin64.macho"));
    BBXMachOSlice slice = LOMMachOSliceFromHeader(bytes.constData(), std::size_t(bytes.size()));
    std::uintptr_t address = 1;
    ASSERT_TRUE(LOMMachOSectionAddress(&slice, "__TEXT", "__unwind_info", &address));
    EXPECT_EQ(address, reinterpret_cast<std::uintptr_t>(bytes.constData()) + 0x180);
    EXPECT_FALSE(LOMMachOSectionAddress(&slice, "__DATA", "__data", &address));
    EXPECT_EQ(address, 0u);
}

TEST(MachOMapping, SmallFilesFoldersAndNullsAreNotMapped)
{
    const QString small = test::testDir() + QStringLiteral("/small");
    test::writeFile(small, QByteArray(15, 'x'));
    LOMMachOMappedFile file;
    EXPECT_FALSE(LOMMachOMapFile(&file, QFile::encodeName(small).constData()));
    EXPECT_EQ(file.fileDescriptor, -1);
    EXPECT_FALSE(LOMMachOMapFile(&file, QFile::encodeName(test::testDir()).constData()));
    EXPECT_FALSE(LOMMachOMapFile(&file, nullptr));
    EXPECT_FALSE(LOMMachOMapFile(nullptr, "/bin/sh"));
    test::writeFile(small, QByteArray(16, 'x'));
    ASSERT_TRUE(LOMMachOMapFile(&file, QFile::encodeName(small).constData()));
    EXPECT_EQ(file.size, 16);
    LOMMachOUnmapFile(&file);
    LOMMachOUnmapFile(nullptr);
}

TEST(MachOCommands, VersionFieldsDecodeAsMajorMinorPatch)
{
    const std::uint32_t command[4] = {LOMMachOLoadCommandVersionMinMacOSX, 16, (10u << 16) | (11u << 8) | 1u,
                                      (12u << 16) | (3u << 8)};
    const LOMMachOVersion minimum = LOMMachOMinimumOSVersion(command, 16);
    EXPECT_EQ(minimum.major, 10u);
    EXPECT_EQ(minimum.minor, 11u);
    EXPECT_EQ(minimum.patch, 1u);
    const LOMMachOVersion sdk = LOMMachOSDKVersion(command, 16);
    EXPECT_EQ(LOMVersionTripleString(&sdk), QStringLiteral("12.3.0"));
    EXPECT_TRUE(LOMVersionTripleString(nullptr).isNull());
    // A command too short for the field gives zeros, not a read past it.
    EXPECT_EQ(LOMMachOSDKVersion(command, 12).major, 0u);
}

TEST(MachOCommands, SegmentInfoOfAnythingButASegmentIsZero)
{
    std::uint32_t uuid[6] = {LOMMachOLoadCommandUUID, 24, 1, 2, 3, 4};
    const LOMMachOSegmentRecord record = LOMMachOSegmentInfo(uuid, 24);
    EXPECT_EQ(record.vmaddr, 0u);
    EXPECT_EQ(record.vmsize, 0u);
    EXPECT_EQ(record.segname[0], '\0');
    EXPECT_EQ(LOMMachOSegmentInfo(nullptr, 0).vmaddr, 0u);
}

TEST(MachOCommands, StringsMustEndInsideTheirCommand)
{
    unsigned char command[16] = {0x0C, 0, 0, 0, 16, 0, 0, 0, 12, 0, 0, 0, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(LOMMachOLoadCommandString(command, 16), nullptr);
    command[15] = '\0';
    EXPECT_STREQ(LOMMachOLoadCommandString(command, 16), "abc");
    command[8] = 200; // offset past the command
    EXPECT_EQ(LOMMachOLoadCommandString(command, 16), nullptr);
}

TEST(MachONames, ArchitectureTable)
{
    struct Case
    {
        std::int32_t type;
        std::int32_t subtype;
        const char* name;
    };
    const Case cases[] = {{7, 3, "i386"},           {0x01000007, 3, "x86_64"}, {0x01000007, 8, "x86_64h"},
                          {12, 9, "armv7"},         {12, 11, "armv7s"},        {12, 12, "armv7k"},
                          {0x0100000C, 0, "arm64"}, {0x0100000C, 2, "arm64e"}, {18, 0, "ppc"},
                          {0x01000012, 0, "ppc64"}, {99, 1, "unknown"},        {0, 0, "unknown"}};
    for (const Case& c : cases) {
        BBXMachOSlice slice;
        slice.cpuType = c.type;
        slice.cpuSubtype = c.subtype;
        EXPECT_STREQ(LOMMachOSliceArchitectureName(&slice), c.name) << c.type << "/" << c.subtype;
    }
    EXPECT_STREQ(LOMMachOSliceArchitectureName(nullptr), "unknown");
    BBXMachOSlice arm64;
    arm64.cpuType = 0x0100000C;
    EXPECT_TRUE(LOMMachOSliceIs64Bit(&arm64));
    arm64.cpuType = 12;
    EXPECT_FALSE(LOMMachOSliceIs64Bit(&arm64));
}

TEST(MachOCurrent, TheRunningExecutableIsELFAndHasNoMachOCommands)
{
    BBXMachOSlice slice = LOMMachOCurrentSlice();
    ASSERT_NE(slice.startAddress, nullptr);
    EXPECT_EQ(std::memcmp(slice.startAddress,
                          "\x7F"
                          "ELF",
                          4),
              0);
#if defined(__x86_64__)
    EXPECT_STREQ(LOMMachOSliceArchitectureName(&slice), "x86_64");
#endif
    int commands = 0;
    LOMMachOEnumerateLoadCommands(&slice, [&](std::uint32_t, std::uint32_t, const void*) { ++commands; });
    EXPECT_EQ(commands, 0);
    EXPECT_NE(LOMMachOSlicePath(&slice), nullptr);
    LOMMachOMappedFile file;
    ASSERT_TRUE(LOMMachOMapCurrentExecutable(&file));
    EXPECT_GT(file.size, 64);
    LOMMachOUnmapFile(&file);
    std::uintptr_t ehFrame = 7, unwind = 9;
    LOMMachOUnwindSections(&slice, &ehFrame, &unwind);
    EXPECT_EQ(ehFrame, 7u);
    EXPECT_EQ(unwind, 9u);
}

TEST(MachOBounds, EveryPrefixOfEveryFixtureIsReadWithinItsBytes)
{
    // The sanitizers watch the reads: each prefix lives in a buffer of exactly its size.
    for (const QString& name : QDir(machODir()).entryList({QStringLiteral("*.macho")})) {
        const QByteArray bytes = test::readFile(machODir() + QLatin1Char('/') + name);
        for (qsizetype length = 0; length <= bytes.size(); length += (length < 128 ? 1 : 61)) {
            std::vector<char> exact(bytes.constData(), bytes.constData() + length);
            LOMMachOEnumerateSlices(exact.data(), exact.size(), [](BBXMachOSlice* slice) {
                LOMMachOEnumerateLoadCommands(
                    slice, [](std::uint32_t type, std::uint32_t size, const void* command) {
                        (void)LOMMachOUUIDBytes(command, size);
                        (void)LOMMachOLoadCommandString(command, size);
                        (void)LOMMachOSegmentInfo(command, size);
                        (void)type;
                    });
                LOMMachOSectionRecord record;
                (void)LOMMachOSectionInfo(slice, "__TEXT", "__text", &record);
            });
        }
    }
}
