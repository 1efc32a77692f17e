#include "platform/core/ParallelDeflate.h"
#include "platform/core/Zlib.h"
#include "tests/factory/DocumentFactory.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace corvex;

namespace {

// Document text with stretches of noise: both what compresses well and what does not.
QByteArray sampleData(qsizetype size, quint32 seed)
{
    QByteArray json = test::makePayloadJson(test::makeDocumentTree(2000, 8, seed));
    QRandomGenerator random(seed);
    QByteArray data;
    data.reserve(size);
    while (data.size() < size) {
        data.append(json.left(std::min(json.size(), size - data.size())));
        for (int i = 0; i < 4096 && data.size() < size; ++i)
            data.append(char(random.bounded(256)));
    }
    return data;
}

} // namespace

TEST(ParallelDeflate, PiecesJoinIntoOneDefaultLevelStreamOfTheWholeData)
{
    const qsizetype piece = ParallelDeflate::PieceSize;
    for (const qsizetype size : {2 * piece, 2 * piece + 1, 3 * piece - 1, 5 * piece + 12345}) {
        SCOPED_TRACE(size);
        const QByteArray data = sampleData(size, quint32(size));
        auto compressed = ParallelDeflate::compress(data);
        ASSERT_TRUE(compressed.ok());
        ASSERT_GT(compressed.value().size(), 6);
        EXPECT_EQ(quint8(compressed.value()[0]), 0x78);
        EXPECT_EQ(quint8(compressed.value()[1]), 0x9C);
        // Strict: one complete stream, checksum right, nothing after it.
        auto inflated = Zlib::inflate(compressed.value());
        ASSERT_TRUE(inflated.ok()) << inflated.error().toString().toStdString();
        EXPECT_TRUE(inflated.value() == data);
    }
}

TEST(ParallelDeflate, TheResultDependsOnTheDataAloneAndCompressesLikeOnePass)
{
    const QByteArray data = test::makePayloadJson(test::makeDocumentTree(20000));
    ASSERT_GT(data.size(), 4 * ParallelDeflate::PieceSize);
    auto alone = ParallelDeflate::compress(data, 1);
    auto pair = ParallelDeflate::compress(data, 2);
    auto shared = ParallelDeflate::compress(data, 8);
    ASSERT_TRUE(alone.ok() && pair.ok() && shared.ok());
    EXPECT_TRUE(pair.value() == shared.value()) << "however many threads took part";
    EXPECT_TRUE(alone.value() == Zlib::compress(data).valueOr(QByteArray())) << "one thread: one pass";

    const auto onePass = Zlib::compress(data);
    ASSERT_TRUE(bool(onePass));
    EXPECT_LT(double(shared.value().size()), double(onePass->size()) * 1.01)
        << "primed pieces lose next to nothing: " << shared.value().size() << " against " << onePass->size();

    // The stored documents' reader is strict: one complete 78 9C stream of exactly the text.
    auto inflated = Zlib::inflate(shared.value());
    ASSERT_TRUE(inflated.ok()) << inflated.error().toString().toStdString();
    EXPECT_TRUE(inflated.value() == data);
}

TEST(ParallelDeflate, SmallDataIsOnePassAndEmptyDataStaysEmpty)
{
    const QByteArray data = sampleData(2 * ParallelDeflate::PieceSize - 1, 7);
    auto compressed = ParallelDeflate::compress(data);
    ASSERT_TRUE(compressed.ok());
    // zlib's own one pass at the default level, byte for byte.
    uLongf size = compressBound(uLong(data.size()));
    QByteArray onePass(qsizetype(size), Qt::Uninitialized);
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(onePass.data()), &size,
                        reinterpret_cast<const Bytef*>(data.constData()), uLong(data.size()),
                        Z_DEFAULT_COMPRESSION),
              Z_OK);
    onePass.truncate(qsizetype(size));
    EXPECT_TRUE(compressed.value() == onePass);

    auto empty = ParallelDeflate::compress(QByteArray());
    ASSERT_TRUE(empty.ok());
    EXPECT_TRUE(empty.value().isEmpty());
}
