// The zlib streams stored documents are made of: written by ParallelDeflate (the stored-bytes
// function's deflate), read by Zlib::inflate.
#include "platform/core/ParallelDeflate.h"
#include "platform/core/Zlib.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace corvex;

namespace {

QByteArray storedStreamText()
{
    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += "idea " + QByteArray::number(i) + " with some words, ";
    return text;
}

} // namespace

TEST(ZlibStoredStreamDeflate, EmptyDataIsReturnedAsItIs)
{
    const auto deflated = ParallelDeflate::compress(QByteArray());
    ASSERT_TRUE(deflated.ok());
    EXPECT_TRUE(deflated.value().isEmpty());
    const auto inflated = Zlib::inflate(QByteArray());
    ASSERT_TRUE(inflated.ok());
    EXPECT_TRUE(inflated.value().isEmpty());
}

TEST(ZlibStoredStreamDeflate, WritesOneZlibStreamAtTheDefaultLevelThatInflatesBack)
{
    const QByteArray text = storedStreamText();
    const auto deflated = ParallelDeflate::compress(text);
    ASSERT_TRUE(deflated.ok());
    ASSERT_GE(deflated.value().size(), 2);
    EXPECT_EQ(quint8(deflated.value()[0]), 0x78);
    EXPECT_EQ(quint8(deflated.value()[1]), 0x9C);
    EXPECT_LT(deflated.value().size(), text.size() / 4);
    // zlib itself reads it (one complete stream, nothing after it).
    std::vector<char> out(std::size_t(text.size()));
    uLongf outSize = uLongf(out.size());
    ASSERT_EQ(::uncompress(reinterpret_cast<Bytef*>(out.data()), &outSize,
                           reinterpret_cast<const Bytef*>(deflated.value().constData()),
                           uLong(deflated.value().size())),
              Z_OK);
    EXPECT_EQ(QByteArray(out.data(), qsizetype(outSize)), text);
    const auto inflated = Zlib::inflate(deflated.value());
    ASSERT_TRUE(inflated.ok()) << inflated.error().toString().toStdString();
    EXPECT_EQ(inflated.value(), text);
}

TEST(ZlibStoredStreamInflate, AStreamManyTimesItsSizeInflatesToTheFullSize)
{
    QByteArray big(24 * 1024 * 1024, 'a');
    big[1000] = 'b';
    const auto deflated = ParallelDeflate::compress(big);
    ASSERT_TRUE(deflated.ok());
    EXPECT_LT(deflated.value().size(), big.size() / 500) << "a highly repetitive stream";
    const auto inflated = Zlib::inflate(deflated.value());
    ASSERT_TRUE(inflated.ok()) << inflated.error().toString().toStdString();
    EXPECT_EQ(inflated.value().size(), big.size());
    EXPECT_TRUE(inflated.value() == big);
}

TEST(ZlibStoredStreamInflate, OutputBeyondTheBoundFailsInsteadOfGrowingWithoutEnd)
{
    const QByteArray big(8 * 1024 * 1024, 'z');
    const auto deflated = ParallelDeflate::compress(big);
    ASSERT_TRUE(deflated.ok());
    const auto bounded = Zlib::inflate(deflated.value(), 1024 * 1024);
    ASSERT_FALSE(bounded.ok());
    EXPECT_EQ(bounded.error().domain(), Zlib::ErrorDomain);
    EXPECT_EQ(bounded.error().code(), Zlib::LimitExceeded);
    EXPECT_EQ(Zlib::DefaultInflateLimit, qint64(1) << 30) << "the production bound: 1 GiB";
    EXPECT_TRUE(Zlib::inflate(deflated.value(), big.size()).ok()) << "exactly at the bound is fine";
}

TEST(ZlibStoredStreamInflate, AnythingButOneCompleteValidZlibStreamFails)
{
    const QByteArray text = storedStreamText();
    const QByteArray stream = ParallelDeflate::compress(text).value();
    const struct
    {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"truncated", stream.left(stream.size() / 2)},
        {"header only", stream.left(2)},
        {"bad checksum", stream.left(stream.size() - 1) + char(stream.back() ^ 0x5A)},
        {"trailing bytes", stream + QByteArray("more")},
        {"two streams", stream + stream},
        {"not compressed", text},
        {"raw deflate", stream.mid(2, stream.size() - 6)},
        {"78 9C and garbage", QByteArray("\x78\x9c garbage garbage", 18)},
    };
    for (const auto& c : cases) {
        const auto inflated = Zlib::inflate(c.bytes);
        EXPECT_FALSE(inflated.ok()) << c.what;
    }
}

TEST(ZlibStoredStreamInflate, RandomBytesNeverInflate)
{
    QRandomGenerator random(42);
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes(1 + random.bounded(300), Qt::Uninitialized);
        for (char& byte : bytes)
            byte = char(random.bounded(256));
        bytes[0] = char(0x78);
        if (bytes.size() > 1)
            bytes[1] = char(0x9C);
        EXPECT_FALSE(Zlib::inflate(bytes).ok()) << "round " << round;
    }
}
