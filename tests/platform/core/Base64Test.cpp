#include "platform/core/Base64.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(Base64, EncodesTheStandardVectorsWithPaddingAndNoLineBreaks)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors)
        EXPECT_EQ(Base64::encode(QByteArray(plain)), QString::fromLatin1(encoded)) << plain;
    const QString long64 = Base64::encode(QByteArray(1000, 'x'));
    EXPECT_FALSE(long64.contains(QLatin1Char('\n')));
    EXPECT_EQ(long64.size(), 1336);
}

TEST(Base64, RoundTripsEveryByteValueAtEveryPaddingLength)
{
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    for (int length = 0; length <= 256; ++length) {
        const QByteArray data = all.left(length);
        EXPECT_EQ(Base64::decode(Base64::encode(data)), data) << "length " << length;
    }
}

TEST(Base64, DecodingSkipsLineBreaksSpacesAndJunk)
{
    EXPECT_EQ(Base64::decode(u"Zm9v\nYmFy\r\n"), QByteArray("foobar"));
    EXPECT_EQ(Base64::decode(u"  Zm 9v*Y!mF\ty"), QByteArray("foobar"));
    EXPECT_EQ(Base64::decode(u"Zm9v\u00e9YmFy\u2028"), QByteArray("foobar"))
        << "non-ASCII characters are skipped";
    EXPECT_EQ(Base64::decode(u"-_Zm9v"), QByteArray("foo")) << "the URL alphabet is not Base64";
}

TEST(Base64, DecodingStopsAtPaddingAndToleratesItsAbsence)
{
    EXPECT_EQ(Base64::decode(u"Zm9vYg=="), QByteArray("foob"));
    EXPECT_EQ(Base64::decode(u"Zm9vYg"), QByteArray("foob"));
    EXPECT_EQ(Base64::decode(u"Zm9vYmE"), QByteArray("fooba"));
    EXPECT_EQ(Base64::decode(u"Zg==Zm9v"), QByteArray("f")) << "nothing after the padding is read";
    EXPECT_EQ(Base64::decode(u"Zm9vY"), QByteArray("foo")) << "a lone last character cannot make a byte";
    EXPECT_TRUE(Base64::decode(u"").isEmpty());
    EXPECT_TRUE(Base64::decode(u"====").isEmpty());
}

// The writer used for pictures must give Qt's text at every length remainder, around the
// boundaries of its six- and twelve-byte steps, for every byte value.
TEST(Base64, EncodeIntoWritesQtsTextAtEveryLengthAndOnlyInsideItsSize)
{
    QByteArray source;
    for (int i = 0; i < 600; ++i)
        source.append(char((i * 167 + 13) & 0xFF)); // every byte value, in no simple order
    const qsizetype lengths[] = {0,  1,  2,  3,  4,  5,  6,  7,   8,   11,  12,  13,  14,  15,  16,
                                 17, 23, 24, 25, 26, 27, 28, 255, 256, 257, 299, 300, 301, 599, 600};
    for (const qsizetype length : lengths) {
        const QByteArray data = source.left(length);
        const qsizetype size = Base64::encodedSize(length);
        QByteArray out(size + 2, '#'); // a guard byte on each side
        char* end = Base64::encodeInto(out.data() + 1, data.constData(), length);
        EXPECT_EQ(end - (out.constData() + 1), size) << "length " << length;
        EXPECT_EQ(out.mid(1, size), data.toBase64()) << "length " << length;
        EXPECT_EQ(out.front(), '#') << "length " << length;
        EXPECT_EQ(out.back(), '#') << "length " << length;
    }
}
