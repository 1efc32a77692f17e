#include "platform/core/Zlib.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/TestFiles.h"

#include <QFile>
#include <cerrno>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

constexpr qint64 KiB = 1024;
constexpr qint64 MiB = 1024 * KiB;

// Text-like bytes that compress, but not to nothing.
QByteArray sampleData(qsizetype size)
{
    QByteArray data;
    data.reserve(size);
    quint32 state = 12345;
    while (data.size() < size) {
        state = state * 1103515245u + 12345u;
        data.append(char('a' + (state >> 16) % 20));
        if ((state >> 8) % 7 == 0)
            data.append(' ');
    }
    data.truncate(size);
    return data;
}

QByteArray zlibOf(const QByteArray& data)
{
    const auto compressed = Zlib::compress(data);
    EXPECT_TRUE(compressed.ok()) << compressed.error().toString().toStdString();
    return compressed.valueOr(QByteArray());
}

std::string errorText(const Error& error)
{
    return error.toString().toStdString();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

using corvex::test::readFile;

} // namespace

TEST(Zlib, CompressWritesOneZlibStreamAtTheDefaultLevel)
{
    const QByteArray data = sampleData(10000);
    const QByteArray compressed = zlibOf(data);
    ASSERT_GE(compressed.size(), 2);
    EXPECT_EQ(quint8(compressed[0]), 0x78);
    EXPECT_EQ(quint8(compressed[1]), 0x9C);
    EXPECT_LT(compressed.size(), data.size());
    const auto inflated = Zlib::inflate(compressed);
    ASSERT_TRUE(inflated.ok()) << errorText(inflated.error());
    EXPECT_EQ(*inflated, data);
}

TEST(Zlib, EveryFormatRoundTripsEmptyOneByteAndLargeInputs)
{
    for (const qsizetype size : {qsizetype(0), qsizetype(1), qsizetype(5 * MiB + 17)}) {
        const QByteArray data = size == 1 ? QByteArray("x") : sampleData(size);
        const auto zlib = Zlib::compress(data);
        const auto raw = Zlib::rawDeflate(data);
        const auto gzip = Zlib::gzipCompress(data);
        ASSERT_TRUE(zlib && raw && gzip) << size;

        const auto fromZlib = Zlib::inflate(*zlib);
        const auto fromRaw = Zlib::rawInflate(*raw);
        const auto fromGzip = Zlib::gunzip(*gzip);
        ASSERT_TRUE(fromZlib.ok()) << size << ": " << errorText(fromZlib.error());
        ASSERT_TRUE(fromRaw.ok()) << size << ": " << errorText(fromRaw.error());
        ASSERT_TRUE(fromGzip.ok()) << size << ": " << errorText(fromGzip.error());
        EXPECT_EQ(*fromZlib, data) << size;
        EXPECT_EQ(*fromRaw, data) << size;
        EXPECT_EQ(*fromGzip, data) << size;
    }
}

TEST(Zlib, EmptyInputAnswersEmptyButAnEmptyGzipIsStillAGzipMember)
{
    EXPECT_EQ(Zlib::compress(QByteArray()), QByteArray());
    EXPECT_EQ(Zlib::rawDeflate(QByteArray()), QByteArray());
    for (const auto& result :
         {Zlib::inflate(QByteArray()), Zlib::rawInflate(QByteArray()), Zlib::gunzip(QByteArray())}) {
        ASSERT_TRUE(result.ok()) << errorText(result.error());
        EXPECT_TRUE(result->isEmpty());
    }
    const auto gzip = Zlib::gzipCompress(QByteArray());
    ASSERT_TRUE(gzip.ok());
    ASSERT_GE(gzip->size(), 18);
    EXPECT_EQ(quint8((*gzip)[0]), 0x1f);
    EXPECT_EQ(quint8((*gzip)[1]), 0x8b);
}

TEST(Zlib, ABombStopsAtTheBoundWithABoundedBuffer)
{
    const QByteArray zeros(MiB, '\0');
    const QByteArray bomb = zlibOf(zeros);
    EXPECT_LT(bomb.size(), 2 * KiB) << "1 MiB of zeros deflates to about 1 KiB";

    Zlib::InflateStats stats;
    const auto refused = Zlib::inflate(bomb, 64 * KiB, &stats);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().domain(), Zlib::ErrorDomain);
    EXPECT_EQ(refused.error().code(), Zlib::LimitExceeded) << errorText(refused.error());
    EXPECT_TRUE(refused.error().localizedDescription().contains(QStringLiteral("65536")))
        << errorText(refused.error());
    EXPECT_GT(stats.peakBufferBytes, 0);
    EXPECT_LE(stats.peakBufferBytes, 64 * KiB + Zlib::InflateStep);

    const auto accepted = Zlib::inflate(bomb, 2 * MiB, &stats);
    ASSERT_TRUE(accepted.ok()) << errorText(accepted.error());
    EXPECT_EQ(*accepted, zeros);
    EXPECT_LE(stats.peakBufferBytes, 2 * MiB + Zlib::InflateStep);
}

TEST(Zlib, RawAndGzipInflatingAreBoundedTheSameWay)
{
    const QByteArray zeros(MiB, '\0');
    Zlib::InflateStats stats;
    const auto raw = Zlib::rawInflate(*Zlib::rawDeflate(zeros), 100 * KiB, &stats);
    ASSERT_FALSE(raw.ok());
    EXPECT_EQ(raw.error().code(), Zlib::LimitExceeded);
    EXPECT_LE(stats.peakBufferBytes, 100 * KiB + Zlib::InflateStep);

    const auto gzip = Zlib::gunzip(*Zlib::gzipCompress(zeros), 10, &stats);
    ASSERT_FALSE(gzip.ok());
    EXPECT_EQ(gzip.error().code(), Zlib::LimitExceeded);
    EXPECT_LE(stats.peakBufferBytes, 10 + Zlib::InflateStep);
}

TEST(Zlib, OutputExactlyAtTheBoundPassesAndOneByteMoreFails)
{
    const QByteArray data = sampleData(300 * KiB);
    const QByteArray compressed = zlibOf(data);
    const auto exact = Zlib::inflate(compressed, data.size());
    ASSERT_TRUE(exact.ok()) << errorText(exact.error());
    EXPECT_EQ(*exact, data);
    const auto over = Zlib::inflate(compressed, data.size() - 1);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().code(), Zlib::LimitExceeded);
    const auto nothing = Zlib::inflate(zlibOf(QByteArray("x")), 0);
    EXPECT_FALSE(nothing.ok()) << "a zero bound refuses any output";
}

TEST(Zlib, EveryTruncationOfAStreamFails)
{
    const QByteArray compressed = zlibOf(sampleData(2000));
    for (qsizetype length = 1; length < compressed.size(); ++length) {
        const auto result = Zlib::inflate(compressed.left(length));
        ASSERT_FALSE(result.ok()) << "prefix of " << length << " of " << compressed.size();
        EXPECT_TRUE(result.error().code() == Zlib::TruncatedData ||
                    result.error().code() == Zlib::CorruptData)
            << length << ": " << errorText(result.error());
    }
    EXPECT_EQ(Zlib::inflate(compressed.left(compressed.size() - 1)).error().code(), Zlib::TruncatedData)
        << "a missing checksum byte is a truncation";
    const QByteArray gzip = *Zlib::gzipCompress(sampleData(2000));
    EXPECT_EQ(Zlib::gunzip(gzip.left(gzip.size() - 3)).error().code(), Zlib::TruncatedData);
}

TEST(Zlib, BytesAfterTheEndOfTheStreamFail)
{
    const QByteArray compressed = zlibOf(sampleData(2000));
    for (const QByteArray& tail : {QByteArray(1, '\0'), QByteArray("garbage"), compressed}) {
        const auto result = Zlib::inflate(compressed + tail);
        ASSERT_FALSE(result.ok()) << tail.size();
        EXPECT_EQ(result.error().code(), Zlib::TrailingData) << errorText(result.error());
    }
    const QByteArray raw = *Zlib::rawDeflate(sampleData(100));
    EXPECT_EQ(Zlib::rawInflate(raw + "x").error().code(), Zlib::TrailingData);
}

TEST(Zlib, ABadChecksumFails)
{
    QByteArray compressed = zlibOf(sampleData(2000));
    compressed[compressed.size() - 1] = char(compressed[compressed.size() - 1] ^ 0x01);
    const auto result = Zlib::inflate(compressed);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), Zlib::CorruptData);
    EXPECT_TRUE(result.error().localizedDescription().contains(QStringLiteral("incorrect data check")))
        << errorText(result.error());

    QByteArray gzip = *Zlib::gzipCompress(sampleData(2000));
    gzip[gzip.size() - 6] = char(gzip[gzip.size() - 6] ^ 0x40); // inside the CRC-32
    EXPECT_EQ(Zlib::gunzip(gzip).error().code(), Zlib::CorruptData);
}

TEST(Zlib, EachReaderRefusesTheOtherFormats)
{
    const QByteArray data = sampleData(5000);
    const QByteArray zlib = zlibOf(data);
    const QByteArray raw = *Zlib::rawDeflate(data);
    const QByteArray gzip = *Zlib::gzipCompress(data);

    const auto gzipAsZlib = Zlib::inflate(gzip);
    ASSERT_FALSE(gzipAsZlib.ok());
    EXPECT_EQ(gzipAsZlib.error().code(), Zlib::CorruptData);
    EXPECT_TRUE(gzipAsZlib.error().localizedDescription().contains(QStringLiteral("header")))
        << errorText(gzipAsZlib.error());
    EXPECT_FALSE(Zlib::inflate(raw).ok());
    EXPECT_FALSE(Zlib::gunzip(zlib).ok());
    EXPECT_FALSE(Zlib::gunzip(raw).ok());
    EXPECT_FALSE(Zlib::rawInflate(gzip).ok());
    EXPECT_FALSE(Zlib::inflate(QByteArray("not compressed at all")).ok());
}

TEST(Zlib, GunzipReadsConcatenatedMembers)
{
    const QByteArray first = sampleData(1000);
    const QByteArray second = sampleData(333);
    const auto result = Zlib::gunzip(*Zlib::gzipCompress(first) + *Zlib::gzipCompress(second));
    ASSERT_TRUE(result.ok()) << errorText(result.error());
    EXPECT_EQ(*result, first + second);
    EXPECT_EQ(Zlib::gunzip(*Zlib::gzipCompress(first) + "\x1f").error().code(), Zlib::TrailingData);
}

TEST(Zlib, GzipFilesRoundTripThroughTheGzLayer)
{
    const QString path = test::testDir() + QStringLiteral("/log.gz");
    const QByteArray data = sampleData(700 * KiB);
    const Status written = Zlib::writeGzipFile(path, data);
    ASSERT_TRUE(written.ok()) << errorText(written.error());

    const QByteArray bytes = readFile(path);
    ASSERT_GE(bytes.size(), 2);
    EXPECT_EQ(quint8(bytes[0]), 0x1f);
    EXPECT_EQ(Zlib::gunzip(bytes).valueOr(QByteArray()), data)
        << "the in-memory reader reads what the gz layer wrote";

    const auto read = Zlib::readGzipFile(path);
    ASSERT_TRUE(read.ok()) << errorText(read.error());
    EXPECT_EQ(*read, data);

    const QString memoryWritten = test::testDir() + QStringLiteral("/memory.gz");
    ASSERT_TRUE(writeBytes(memoryWritten, *Zlib::gzipCompress(data)));
    EXPECT_EQ(Zlib::readGzipFile(memoryWritten).valueOr(QByteArray()), data);
}

TEST(Zlib, ReadingAGzipFileIsBounded)
{
    const QString path = test::testDir() + QStringLiteral("/bomb.gz");
    ASSERT_TRUE(Zlib::writeGzipFile(path, QByteArray(4 * MiB, '\0')).ok());
    const auto result = Zlib::readGzipFile(path, 256 * KiB);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), Zlib::LimitExceeded);
    EXPECT_TRUE(Zlib::readGzipFile(path, 4 * MiB).ok());
}

TEST(Zlib, ReadingGzipFilesFailsForPlainTruncatedAndMissingFiles)
{
    const QString dir = test::testDir();
    ASSERT_TRUE(writeBytes(dir + QStringLiteral("/plain.gz"), "just text, not gzip"));
    const auto plain = Zlib::readGzipFile(dir + QStringLiteral("/plain.gz"));
    ASSERT_FALSE(plain.ok());
    EXPECT_EQ(plain.error().code(), Zlib::NotGzip);

    ASSERT_TRUE(writeBytes(dir + QStringLiteral("/empty.gz"), QByteArray()));
    const auto empty = Zlib::readGzipFile(dir + QStringLiteral("/empty.gz"));
    ASSERT_TRUE(empty.ok()) << errorText(empty.error());
    EXPECT_TRUE(empty->isEmpty());

    const QByteArray gzip = *Zlib::gzipCompress(sampleData(50 * KiB));
    ASSERT_TRUE(writeBytes(dir + QStringLiteral("/cut.gz"), gzip.left(gzip.size() / 2)));
    const auto cut = Zlib::readGzipFile(dir + QStringLiteral("/cut.gz"));
    ASSERT_FALSE(cut.ok());
    EXPECT_EQ(cut.error().code(), Zlib::TruncatedData) << errorText(cut.error());

    const auto missing = Zlib::readGzipFile(dir + QStringLiteral("/missing.gz"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain(), Error::PosixDomain);
    EXPECT_EQ(missing.error().code(), ENOENT);
}

TEST(Zlib, WritingAGzipFileIntoAMissingFolderFailsWithTheErrno)
{
    const QString path = test::testDir() + QStringLiteral("/no/such/folder/out.gz");
    const Status status = Zlib::writeGzipFile(path, QByteArray("data"));
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().domain(), Error::PosixDomain);
    EXPECT_EQ(status.error().code(), ENOENT);
    EXPECT_TRUE(status.error().localizedDescription().contains(path)) << errorText(status.error());
    EXPECT_FALSE(QFile::exists(path));
}
