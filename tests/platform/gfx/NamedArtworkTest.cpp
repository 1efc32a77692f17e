#include "resources/ArtworkResources.h"
#include "tests/platform/gfx/PixelTestSupport.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::pixelAt;

// The compiled-in artwork as tools/artwork/make_artwork.py writes it.

TEST(NamedArtwork, EveryImageComesAtOneAndTwoTimesItsSize)
{
    initArtworkResources();
    const QStringList files = QDir(QStringLiteral(":/images")).entryList(QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty());
    const QRegularExpression twoTimes(QStringLiteral("^(.+)@2x\\.png$"));
    int pairs = 0;
    for (const QString& file : files) {
        ASSERT_TRUE(file.endsWith(QStringLiteral(".png"))) << file.toStdString();
        if (twoTimes.match(file).hasMatch())
            continue;
        const QString base = file.chopped(4);
        const QImage oneX(QStringLiteral(":/images/") + file);
        const QImage twoX(QStringLiteral(":/images/") + base + QStringLiteral("@2x.png"));
        ASSERT_FALSE(oneX.isNull()) << file.toStdString();
        ASSERT_FALSE(twoX.isNull()) << base.toStdString() << " has no @2x variant";
        EXPECT_EQ(twoX.size(), oneX.size() * 2) << base.toStdString();
        EXPECT_TRUE(oneX.hasAlphaChannel()) << base.toStdString();
        ++pairs;
    }
    // Every @2x file has its 1x partner.
    for (const QString& file : files) {
        const auto match = twoTimes.match(file);
        if (match.hasMatch()) {
            EXPECT_TRUE(files.contains(match.captured(1) + QStringLiteral(".png"))) << file.toStdString();
        }
    }
    EXPECT_EQ(pairs * 2, files.size());
}

TEST(NamedArtwork, TheNamesTheInterfaceAsksForExistAtTheirSizes)
{
    initArtworkResources();
    const struct
    {
        const char* name;
        QSize points;
    } expected[] = {
        {"3_dots", {30, 10}},        {"planet_note_indicator", {26, 16}},
        {"web_link_icon", {32, 32}}, {"close", {28, 28}},
        {"home_icon", {24, 24}},     {"plus_on_circle", {32, 32}},
        {"dock", {32, 32}},          {"contextual_cursor", {16, 16}},
        {"test_pattern", {8, 8}},
    };
    for (const auto& e : expected) {
        const QImage image(QStringLiteral(":/images/%1.png").arg(QLatin1String(e.name)));
        ASSERT_FALSE(image.isNull()) << e.name;
        EXPECT_EQ(image.size(), e.points) << e.name;
        // Drawn artwork: some pixels are visible and some are transparent (no opaque boxes),
        // except the test pattern, which is all colour.
        const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
        int visible = 0;
        for (int y = 0; y < rgba.height(); ++y)
            for (int x = 0; x < rgba.width(); ++x)
                visible += rgba.pixelColor(x, y).alpha() > 0 ? 1 : 0;
        EXPECT_GT(visible, 0) << e.name;
        if (QLatin1String(e.name) != QLatin1String("test_pattern")) {
            EXPECT_LT(visible, rgba.width() * rgba.height()) << e.name;
        }
    }
}

TEST(NamedArtwork, TheTestPatternHasFourExactQuadrants)
{
    initArtworkResources();
    for (const char* file : {"test_pattern.png", "test_pattern@2x.png"}) {
        const QImage image(QStringLiteral(":/images/") + QLatin1String(file));
        ASSERT_FALSE(image.isNull()) << file;
        const int w = image.width();
        const int h = image.height();
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool top = y < h / 2;
                const bool left = x < w / 2;
                const auto want = top ? (left ? corvex::test::kRed : corvex::test::kGreen)
                                      : (left ? corvex::test::kBlue : corvex::test::kWhite);
                ASSERT_EQ(pixelAt(image, x, y), want) << file << " at " << x << ", " << y;
            }
        }
    }
}
