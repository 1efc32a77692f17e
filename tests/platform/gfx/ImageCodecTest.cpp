#include "platform/gfx/ImageCodec.h"
#include "tests/platform/gfx/PixelTestSupport.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

quint32 crc32(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QImage codecSampleImage()
{
    QImage image(3, 2, QImage::Format_RGBA8888_Premultiplied);
    image.setPixelColor(0, 0, QColor(255, 0, 0));
    image.setPixelColor(1, 0, QColor(0, 255, 0));
    image.setPixelColor(2, 0, QColor(0, 0, 255));
    image.setPixelColor(0, 1, QColor(255, 255, 255));
    image.setPixelColor(1, 1, QColor(255, 0, 0, 128)); // premultiplied 128, 0, 0, 128
    image.setPixelColor(2, 1, QColor(0, 0, 0, 0));
    return image;
}

// A valid PNG whose header then claims another size (with a correct checksum), so that only
// the dimensions are wrong.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray png = ImageCodec::encodePNG(codecSampleImage());
    // Signature (8), IHDR length (4), "IHDR" (4), width (4), height (4), 5 more bytes, CRC.
    qToBigEndian(width, png.data() + 16);
    qToBigEndian(height, png.data() + 20);
    qToBigEndian(crc32(png.mid(12, 17)), png.data() + 29);
    return png;
}

} // namespace

TEST(ImageCodecFormat, ComesFromTheSignatureBytes)
{
    EXPECT_EQ(ImageCodec::formatOf(ImageCodec::encodePNG(codecSampleImage())), ImageCodec::Format::PNG);
    EXPECT_EQ(ImageCodec::formatOf(ImageCodec::encodeJPEG(codecSampleImage())), ImageCodec::Format::JPEG);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("\x89PNG", 4)), ImageCodec::Format::Unknown);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("\x89PNG\r\n\x1a", 7)), ImageCodec::Format::Unknown);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("\x89PNG\r\n\x1a\n", 8)), ImageCodec::Format::PNG);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("\xff\xd8", 2)), ImageCodec::Format::Unknown);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("GIF89a")), ImageCodec::Format::GIF);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("GIF87a")), ImageCodec::Format::GIF);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("GIF8")), ImageCodec::Format::Unknown);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("II*\0", 4)), ImageCodec::Format::TIFF);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("MM\0*", 4)), ImageCodec::Format::TIFF);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray("II*", 3)), ImageCodec::Format::Unknown);
    EXPECT_EQ(ImageCodec::formatOf(QByteArray()), ImageCodec::Format::Unknown);
}

TEST(ImageCodecRoundTrip, PngKeepsEveryByte)
{
    const QImage image = codecSampleImage();
    const QByteArray png = ImageCodec::encodePNG(image);
    ASSERT_FALSE(png.isEmpty());
    const QImage back = ImageCodec::decodePNG(png);
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.format(), QImage::Format_RGBA8888_Premultiplied);
    ASSERT_EQ(back.size(), image.size());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(pixelAt(back, x, y), pixelAt(image, x, y)) << x << ", " << y;
    EXPECT_EQ(pixelAt(back, 1, 1), (Rgba{128, 0, 0, 128}));
    EXPECT_EQ(ImageCodec::decode(png), back);
}

TEST(ImageCodecRoundTrip, JpegKeepsSizeAndColoursClosely)
{
    QImage image(32, 16, QImage::Format_RGBA8888_Premultiplied);
    image.fill(QColor(40, 120, 200));
    const QByteArray jpeg = ImageCodec::encodeJPEG(image);
    ASSERT_FALSE(jpeg.isEmpty());
    const QImage back = ImageCodec::decodeJPEG(jpeg);
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.format(), QImage::Format_RGBA8888_Premultiplied);
    EXPECT_EQ(back.size(), QSize(32, 16));
    const Rgba p = pixelAt(back, 10, 5);
    EXPECT_NEAR(p.r, 40, 4) << p;
    EXPECT_NEAR(p.g, 120, 4) << p;
    EXPECT_NEAR(p.b, 200, 4) << p;
    EXPECT_EQ(p.a, 255);
    EXPECT_EQ(ImageCodec::decode(jpeg).size(), QSize(32, 16));

    // A lower quality gives fewer bytes for a busy picture.
    QImage busy(64, 64, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            busy.setPixelColor(x, y, QColor((x * 37) % 256, (y * 53) % 256, ((x ^ y) * 11) % 256));
    EXPECT_LT(ImageCodec::encodeJPEG(busy, 10).size(), ImageCodec::encodeJPEG(busy, 95).size());
}

TEST(ImageCodecRoundTrip, OtherPixelFormatsDecodeToPremultipliedRgba)
{
    QImage grey(4, 4, QImage::Format_Grayscale8);
    grey.fill(100);
    const QImage back = ImageCodec::decode(ImageCodec::encodePNG(grey));
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.format(), QImage::Format_RGBA8888_Premultiplied);
    EXPECT_EQ(pixelAt(back, 2, 2), (Rgba{100, 100, 100, 255}));

    QImage deep(2, 2, QImage::Format_RGBA64);
    deep.fill(QColor(255, 0, 0));
    EXPECT_EQ(pixelAt(ImageCodec::decodePNG(ImageCodec::encodePNG(deep)), 1, 1), kRed);
}

TEST(ImageCodecBounds, HeaderClaimingHugeDimensionsIsRefusedBeforeDecoding)
{
    EXPECT_FALSE(ImageCodec::decodePNG(pngClaiming(3, 2)).isNull())
        << "the patching itself keeps a valid PNG";

    // 10^10 pixels: 40 GB if it were allocated.
    EXPECT_TRUE(ImageCodec::decodePNG(pngClaiming(100000, 100000)).isNull());
    EXPECT_TRUE(ImageCodec::decode(pngClaiming(100000, 100000)).isNull());
    // Over the side cap though tiny in pixels, and under the side cap but over the pixel cap.
    EXPECT_TRUE(ImageCodec::decodePNG(pngClaiming(ImageCodec::MaxDimension + 1, 1)).isNull());
    EXPECT_TRUE(ImageCodec::decodePNG(pngClaiming(9000, 9000)).isNull());
}

TEST(ImageCodecBounds, TruncatedAndForeignDataDecodeToNull)
{
    const QByteArray png = ImageCodec::encodePNG(codecSampleImage());
    EXPECT_TRUE(ImageCodec::decodePNG(png.left(png.size() / 2)).isNull());
    EXPECT_TRUE(ImageCodec::decodePNG(png.left(33)).isNull()) << "signature and header only";
    EXPECT_TRUE(ImageCodec::decodePNG(png.left(8)).isNull());

    const QByteArray jpeg = ImageCodec::encodeJPEG(codecSampleImage());
    EXPECT_TRUE(ImageCodec::decodeJPEG(jpeg.left(20)).isNull());
    EXPECT_TRUE(ImageCodec::decodeJPEG(jpeg.left(3)).isNull());
    // A JPEG cut inside its scan data still has its full size, the rest filled in.
    QImage busy(48, 48, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            busy.setPixelColor(x, y, QColor((x * 37) % 256, (y * 53) % 256, ((x ^ y) * 11) % 256));
    const QByteArray busyJpeg = ImageCodec::encodeJPEG(busy);
    EXPECT_EQ(ImageCodec::decodeJPEG(busyJpeg.left(busyJpeg.size() * 3 / 4)).size(), QSize(48, 48));

    // The format comes from the bytes: each decoder refuses the other's data.
    EXPECT_TRUE(ImageCodec::decodePNG(jpeg).isNull());
    EXPECT_TRUE(ImageCodec::decodeJPEG(png).isNull());
    EXPECT_TRUE(ImageCodec::decode(QByteArray("not an image at all")).isNull());
    EXPECT_TRUE(ImageCodec::decode(QByteArray()).isNull());

    // A corrupt chunk checksum is refused too.
    QByteArray corrupt = png;
    corrupt[30] = char(corrupt[30] ^ 0x55);
    EXPECT_TRUE(ImageCodec::decodePNG(corrupt).isNull());
}

static QByteArray codecFixture(const char* name)
{
    QFile file(QStringLiteral(CORVEX_GFX_TEST_DATA "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Pillow's pictures (tests/data/gen/make_codec_fixtures.py), so that the readers are checked
// against an encoder of their own.
TEST(ImageCodecOtherFormats, GifAndTiffDecodeWithinTheSameLimits)
{
    for (const char* name : {"codec_sample.gif", "codec_sample.tif"}) {
        const QByteArray bytes = codecFixture(name);
        ASSERT_FALSE(bytes.isEmpty()) << name;
        const QImage decoded = ImageCodec::decode(bytes);
        ASSERT_EQ(decoded.size(), QSize(5, 4)) << name;
        EXPECT_EQ(decoded.format(), QImage::Format_RGBA8888_Premultiplied) << name;
        EXPECT_EQ(decoded.pixelColor(0, 0), QColor(200, 10, 30)) << name;
        EXPECT_EQ(decoded.pixelColor(4, 3), QColor(0, 0, 255)) << name;
        EXPECT_TRUE(ImageCodec::decode(bytes.left(bytes.size() / 3)).isNull()) << name << " cut short";
    }
    const QByteArray gif = codecFixture("codec_sample.gif");
    const QByteArray tiff = codecFixture("codec_sample.tif");
    EXPECT_FALSE(ImageCodec::decodeGIF(gif).isNull());
    EXPECT_TRUE(ImageCodec::decodeGIF(tiff).isNull());
    EXPECT_TRUE(ImageCodec::decodeTIFF(gif).isNull());

    // Screen and frame claiming 65535 x 65535: refused before any pixel exists.
    QByteArray huge = gif;
    qToLittleEndian(quint16(65535), huge.data() + 6);
    qToLittleEndian(quint16(65535), huge.data() + 8);
    const int frame = huge.indexOf('\x2c');
    ASSERT_GT(frame, 0);
    qToLittleEndian(quint16(65535), huge.data() + frame + 5);
    qToLittleEndian(quint16(65535), huge.data() + frame + 7);
    EXPECT_TRUE(ImageCodec::decode(huge).isNull());
    // A TIFF whose width is over the side cap.
    QByteArray wide = tiff;
    const int entry = wide.indexOf(QByteArray("\x00\x01\x04\x00\x01\x00\x00\x00", 8));
    ASSERT_GT(entry, 0);
    qToLittleEndian(quint32(ImageCodec::MaxDimension + 1), wide.data() + entry + 8);
    EXPECT_TRUE(ImageCodec::decode(wide).isNull());
}

TEST(ImageCodecEncoding, NullImagesGiveNoBytes)
{
    EXPECT_TRUE(ImageCodec::encodePNG(QImage()).isEmpty());
    EXPECT_TRUE(ImageCodec::encodeJPEG(QImage()).isEmpty());
}
