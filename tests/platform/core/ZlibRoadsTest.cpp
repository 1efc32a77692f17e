// The whole-buffer codecs (libdeflate) against zlib itself: what we write, zlib reads; what
// zlib writes at its levels, we read; and the streams whose reading the two could part on.
#include "platform/core/ParallelDeflate.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <zlib.h>

using namespace corvex;

namespace {

// Document text, then bytes that do not compress: both kinds of block.
QByteArray mixedData(qsizetype size)
{
    QByteArray data = test::makePayloadJson(test::makeDocumentTree(int(size / 300) + 1)).left(size / 2);
    quint32 state = 7;
    while (data.size() < size) {
        state = state * 1664525u + 1013904223u;
        data.append(char(state >> 24));
    }
    return data;
}

// zlib's reading of a whole stream of the format `windowBits` names; null when it refuses.
QByteArray zlibInflate(const QByteArray& stream, int windowBits, qsizetype expected)
{
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK)
        return QByteArray();
    QByteArray out(expected + 1, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.constData()));
    z.avail_in = uInt(stream.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = ::inflate(&z, Z_FINISH);
    const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
    out.truncate(qsizetype(z.total_out));
    inflateEnd(&z);
    return whole ? out : QByteArray();
}

QByteArray zlibDeflate(const QByteArray& data, int level, int windowBits)
{
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(qsizetype(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = ::deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    return rc == Z_STREAM_END ? out : QByteArray();
}

constexpr qsizetype kSizes[] = {
    1, 100, 64 * 1024 - 1, 64 * 1024 + 1, 2 * ParallelDeflate::PieceSize + 3, 1200 * 1024 + 17};

} // namespace

TEST(ZlibRoads, ZlibReadsWhatWeWriteAtEverySizeInEveryFormat)
{
    for (const qsizetype size : kSizes) {
        SCOPED_TRACE(size);
        const QByteArray data = mixedData(size);
        const QByteArray stream = Zlib::compress(data).valueOr(QByteArray());
        ASSERT_GE(stream.size(), 2);
        EXPECT_EQ(quint8(stream[0]), 0x78);
        EXPECT_EQ(quint8(stream[1]), 0x9C) << "the default level's header, which marks a stored document";
        EXPECT_EQ(zlibInflate(stream, MAX_WBITS, size), data);
        EXPECT_EQ(zlibInflate(Zlib::rawDeflate(data).valueOr(QByteArray()), -MAX_WBITS, size), data);
        EXPECT_EQ(zlibInflate(Zlib::gzipCompress(data).valueOr(QByteArray()), MAX_WBITS + 16, size), data);
        for (const int threads : {1, 2, 0}) {
            const QByteArray stored = ParallelDeflate::compress(data, threads).valueOr(QByteArray());
            EXPECT_EQ(zlibInflate(stored, MAX_WBITS, size), data) << threads << " threads";
        }
    }
}

TEST(ZlibRoads, WeReadWhatZlibWritesAtLevelsOneSixAndNine)
{
    for (const qsizetype size : kSizes) {
        const QByteArray data = mixedData(size);
        for (const int level : {1, 6, 9}) {
            SCOPED_TRACE(testing::Message() << size << " bytes at level " << level);
            const QByteArray stream = zlibDeflate(data, level, MAX_WBITS);
            const QByteArray raw = zlibDeflate(data, level, -MAX_WBITS);
            const QByteArray gzip = zlibDeflate(data, level, MAX_WBITS + 16);
            ASSERT_FALSE(stream.isEmpty() || raw.isEmpty() || gzip.isEmpty());
            EXPECT_EQ(Zlib::inflate(stream).valueOr(QByteArray()), data);
            EXPECT_EQ(Zlib::rawInflate(raw).valueOr(QByteArray()), data);
            EXPECT_EQ(Zlib::gunzip(gzip).valueOr(QByteArray()), data);
            // Exactly at its size the bound passes; one byte below, the stream is refused.
            EXPECT_TRUE(Zlib::inflate(stream, size).ok());
            EXPECT_EQ(Zlib::inflate(stream, size - 1).error().code(), Zlib::LimitExceeded);
        }
    }
}

TEST(ZlibRoads, StreamsLibdeflateReadsOtherwiseAreLeftToZlib)
{
    const QByteArray text = mixedData(40000).left(20000).repeated(3);
    // A header declaring a 1 KiB window over a stream that reaches back further: zlib's window
    // rules apply (its answer, whatever it is, is ours).
    QByteArray smallWindow = zlibDeflate(text, 6, MAX_WBITS);
    smallWindow[0] = char(0x28);
    smallWindow[1] = char(0x15); // (0x28 * 256 + 0x15) % 31 == 0
    EXPECT_EQ(Zlib::inflate(smallWindow).valueOr(QByteArray()),
              zlibInflate(smallWindow, MAX_WBITS, text.size()));

    // A gzip header with a checksum: zlib checks it, so a wrong one is refused.
    const QByteArray member = zlibDeflate(text, 6, MAX_WBITS + 16);
    QByteArray checked = member.left(10);
    checked[3] = char(0x02);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(checked.constData()), 10);
    QByteArray good = checked + char(crc & 0xFF) + char((crc >> 8) & 0xFF) + member.mid(10);
    QByteArray bad = checked + char(~crc & 0xFF) + char((crc >> 8) & 0xFF) + member.mid(10);
    EXPECT_EQ(Zlib::gunzip(good).valueOr(QByteArray()), text);
    ASSERT_FALSE(Zlib::gunzip(bad).ok());
    EXPECT_EQ(Zlib::gunzip(bad).error().code(), Zlib::CorruptData);
    EXPECT_TRUE(Zlib::gunzip(bad).error().localizedDescription().contains(QStringLiteral("header crc")))
        << Zlib::gunzip(bad).error().toString().toStdString();
}

TEST(ZlibRoads, AStoredBlockCrossingTheBoundIsRefusedLikeAnyOtherOutput)
{
    // Zeros deflated, then one stored block of 65,535 bytes: the bound falls inside it.
    const qsizetype zeros = 1000000;
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    const QByteArray head(zeros, '\0');
    QByteArray stream(qsizetype(deflateBound(&z, uLong(zeros))) + 70000, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(head.constData()));
    z.avail_in = uInt(head.size());
    z.next_out = reinterpret_cast<Bytef*>(stream.data());
    z.avail_out = uInt(stream.size());
    ASSERT_EQ(::deflate(&z, Z_FULL_FLUSH), Z_OK);
    ASSERT_EQ(deflateParams(&z, 0, Z_DEFAULT_STRATEGY), Z_OK);
    const QByteArray tail(65535, 's');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(tail.constData()));
    z.avail_in = uInt(tail.size());
    ASSERT_EQ(::deflate(&z, Z_FINISH), Z_STREAM_END);
    stream.truncate(qsizetype(z.total_out));
    deflateEnd(&z);

    const qsizetype whole = zeros + tail.size();
    Zlib::InflateStats stats;
    EXPECT_EQ(Zlib::inflate(stream, whole, &stats).valueOr(QByteArray()), head + tail);
    for (const qsizetype bound : {whole - 1, zeros + 10, zeros - 10}) {
        const auto refused = Zlib::inflate(stream, bound, &stats);
        ASSERT_FALSE(refused.ok()) << bound;
        EXPECT_EQ(refused.error().code(), Zlib::LimitExceeded) << bound;
        EXPECT_LE(stats.peakBufferBytes, bound + Zlib::InflateStep) << bound;
    }
}

// Streams whose dynamic block gives the end-of-block symbol no code: zlib stops there ("missing
// end-of-block") after some 900 KB of output, libdeflate reads on into the bound. Damaged data
// is damaged whatever the bound, never "larger than the limit".
TEST(ZlibRoads, AStreamZlibFindsDamagedIsDamagedOnEveryRoadAndUnderEveryBound)
{
    const QDir corpus(QFileInfo(QStringLiteral(__FILE__))
                          .absoluteDir()
                          .absoluteFilePath(QStringLiteral("../../../fuzz/corpus/fuzz_inflate_roads")));
    for (const char* name : {"zlib_missing_end_of_block_1.zlib", "zlib_missing_end_of_block_2.zlib"}) {
        SCOPED_TRACE(name);
        const QByteArray stream = test::readFile(corpus.filePath(QLatin1String(name)));
        ASSERT_FALSE(stream.isEmpty());
        for (const qint64 bound : {qint64(1024 * 1024), Zlib::DefaultInflateLimit}) {
            Zlib::InflateStats stats;
            const auto read = Zlib::inflate(stream, bound, &stats);
            ASSERT_FALSE(read.ok()) << bound;
            EXPECT_EQ(read.error().code(), Zlib::CorruptData) << read.error().toString().toStdString();
            EXPECT_TRUE(read.error().localizedDescription().contains(QStringLiteral("missing end-of-block")))
                << read.error().toString().toStdString();
            EXPECT_LE(stats.peakBufferBytes, bound + Zlib::InflateStep) << bound;
        }
        // Under a bound the fault lies beyond, the bound is what is passed first.
        const auto early = Zlib::inflate(stream, 600 * 1024);
        ASSERT_FALSE(early.ok());
        EXPECT_EQ(early.error().code(), Zlib::LimitExceeded);
    }
}
