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
