#include "platform/core/Sha1.h"

#include <gtest/gtest.h>

using namespace corvex;

TEST(Sha1, HexMatchesTheKnownDigests)
{
    EXPECT_EQ(Sha1::hex(QByteArray()), QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
    EXPECT_EQ(Sha1::hex(QByteArray("abc")), QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d"));
    EXPECT_EQ(Sha1::hex(QByteArray("The quick brown fox jumps over the lazy dog")),
              QStringLiteral("2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"));
    EXPECT_EQ(Sha1::hex(QByteArray(1000000, 'a')),
              QStringLiteral("34aa973cd4c4daa4f61eeb2bdbad27316534016f"));
}

TEST(Sha1, IncrementalUpdatesEqualTheOneShotDigestAtEverySplit)
{
    QByteArray data;
    for (int i = 0; i < 300; ++i)
        data.append(char(i * 7));
    const QString expected = Sha1::hex(data);
    for (int split = 0; split <= data.size(); ++split) {
        Sha1 hash;
        hash.update(data.left(split));
        hash.update(data.mid(split));
        EXPECT_EQ(hash.hexDigest(), expected) << "split at " << split;
    }
}

TEST(Sha1, DataFollowedByAnExtensionHashesAsTheirConcatenation)
{
    const QByteArray image("\x89PNG\r\n\x1a\n some image bytes", 26);
    Sha1 hash;
    hash.update(image);
    const QString halfway = hash.hexDigest();
    hash.update(QStringLiteral("png").toUtf8());
    EXPECT_EQ(halfway, Sha1::hex(image)) << "reading the digest does not end the hash";
    EXPECT_EQ(hash.hexDigest(), Sha1::hex(image + "png"));
    EXPECT_EQ(hash.digest().size(), 20);

    Sha1 moved = std::move(hash);
    EXPECT_EQ(moved.hexDigest(), Sha1::hex(image + "png"));
}
