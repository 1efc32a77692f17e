#include "model/Idea.h"
#include "model/ModelCodables.h"
#include "tests/model/MemoryCoder.h"
#include "tests/support/TestEnvironment.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>
#include <cstdlib>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

QImage bands(int width, int height, bool horizontal)
{
    // Three bands along the longer side: blue, red, green. The centre square is red.
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    const QColor colors[3] = {Qt::blue, Qt::red, Qt::green};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int band = horizontal ? x * 3 / width : y * 3 / height;
            image.setPixelColor(x, y, colors[band]);
        }
    }
    return image;
}

// Red through the colour controls at saturation 0.7: luminance 0.2125, so red 0.76375 and
// green and blue 0.06375.
void expectDesaturatedRed(const QImage& image, int x, int y)
{
    const QColor pixel = image.pixelColor(x, y);
    EXPECT_NEAR(pixel.red(), 195, 2) << "at " << x << "," << y;
    EXPECT_NEAR(pixel.green(), 16, 2) << "at " << x << "," << y;
    EXPECT_NEAR(pixel.blue(), 16, 2) << "at " << x << "," << y;
    EXPECT_EQ(pixel.alpha(), 255);
}

const ObjectID& someAttachment()
{
    static const ObjectID id(QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"),
                             QStringLiteral("png"));
    return id;
}

} // namespace

TEST(IdeaPicture, TheSmallPictureIsTheDesaturatedCentreSquareAt160)
{
    for (const bool wide : {true, false}) {
        const QImage source = wide ? bands(600, 200, true) : bands(200, 600, false);
        const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(source), someAttachment());
        EXPECT_EQ(picture->ideaType(), IdeaTypeImage);
        const QImage small = picture->image().cgImage();
        ASSERT_EQ(small.size(), QSize(160, 160)) << (wide ? "wide" : "tall");
        expectDesaturatedRed(small, 1, 1);
        expectDesaturatedRed(small, 80, 80);
        expectDesaturatedRed(small, 158, 158);
        EXPECT_EQ(picture->att(), someAttachment());
    }
}

TEST(IdeaPicture, AMissingOrEmptyPictureLeavesNoSmallPictureButSetsTheAttachment)
{
    const IdeaPtr none = Idea::initWithImageAttachment(QVImage(), someAttachment());
    EXPECT_FALSE(none->image().hasImage());
    EXPECT_EQ(none->att(), someAttachment());

    const IdeaPtr empty =
        Idea::initWithImageAttachment(QVImage(QImage(0, 0, QImage::Format_RGBA8888)), someAttachment());
    EXPECT_FALSE(empty->image().hasImage());
    EXPECT_EQ(empty->att(), someAttachment());

    // An earlier small picture goes too.
    const IdeaPtr replaced = Idea::initWithImageAttachment(QVImage(bands(30, 30, true)), ObjectID());
    ASSERT_TRUE(replaced->image().hasImage());
    replaced->updateImage(QVImage(), someAttachment());
    EXPECT_FALSE(replaced->image().hasImage());
    EXPECT_EQ(replaced->att(), someAttachment());
}

TEST(IdeaPicture, AnExtremeAspectRatioGivesA160SquareWithoutAHugeBitmap)
{
    QImage thin(1, 10000, QImage::Format_RGBA8888_Premultiplied);
    thin.fill(Qt::red);
    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(thin), someAttachment());
    const QImage small = picture->image().cgImage();
    ASSERT_EQ(small.size(), QSize(160, 160));
    expectDesaturatedRed(small, 80, 80);

    QImage flat(10000, 1, QImage::Format_RGBA8888_Premultiplied);
    flat.fill(Qt::red);
    EXPECT_EQ(Idea::initWithImageAttachment(QVImage(flat), ObjectID())->image().pixelSize(), Size(160, 160));
}

TEST(IdeaPicture, AWebLinkIdeaIsMadeWithOrWithoutItsPagePicture)
{
    const IdeaPtr without = Idea::initWithURL(QStringLiteral("https://example.org/"), QVImage());
    EXPECT_EQ(without->ideaType(), IdeaTypeURL);
    EXPECT_EQ(without->URL(), QStringLiteral("https://example.org/"));
    EXPECT_FALSE(without->image().hasImage());
    EXPECT_TRUE(without->att().isNull());

    const IdeaPtr with =
        Idea::initWithURL(QStringLiteral("https://example.org/"), QVImage(bands(320, 240, true)));
    EXPECT_EQ(with->image().pixelSize(), Size(160, 160));
    EXPECT_TRUE(with->att().isNull());

    const QString out = QDir(test::testOutputDir()).filePath(QStringLiteral("idea-small-picture.png"));
    EXPECT_TRUE(with->image().cgImage().save(out));
}

TEST(IdeaPicture, BigPictureBytesAreDecodedAsJPEGAndDroppedByANewPicture)
{
    QImage photo(64, 48, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(photo.save(&buffer, "JPEG"));
    }
    // Big pictures only come from older stored data.
    auto record = std::make_shared<test::MemoryRecord>();
    record->className = QStringLiteral("Idea");
    record->set(QStringLiteral("identifier"), QStringLiteral("old"));
    record->set(QStringLiteral("ideaType"), 2);
    record->set(QStringLiteral("bigImageData"), jpeg);
    registerModelCodables();
    const IdeaPtr old = std::dynamic_pointer_cast<Idea>(test::MemoryCoder::decode(record));
    ASSERT_TRUE(old);
    EXPECT_EQ(old->bigImageData(), jpeg);
    EXPECT_EQ(old->bigImage().pixelSize(), Size(64, 48));

    old->updateImage(QVImage(photo), someAttachment());
    EXPECT_TRUE(old->bigImageData().isNull());
    EXPECT_FALSE(old->bigImage().hasImage());
    EXPECT_EQ(old->image().pixelSize(), Size(160, 160));
}
