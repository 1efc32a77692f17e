#include "graphics/QVImage.h"

#include "platform/gfx/FilterImage.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"
#include "tests/graphics/ImageTestSupport.h"
#include "tests/support/FaultShim.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QtEndian>
#include <cerrno>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <thread>
#include <vector>

using namespace corvex;
using namespace corvex::test;

namespace {

const QString kBitmapAssertion =
    QStringLiteral("ERROR: Assertion failure, line: 220 +[QVImage createBitmapContextForSize:]");

std::unique_ptr<GraphicsContext> yUpBitmap(int size = 4)
{
    auto context = GraphicsContext::createBitmap(size, size);
    EXPECT_NE(context, nullptr);
    return context;
}

// A bitmap whose user space is y-down, as a flipped view's: translate (0, h), scale (1, -1).
std::unique_ptr<GraphicsContext> flippedBitmap(int size = 4)
{
    auto context = GraphicsContext::createBitmap(size, size);
    EXPECT_NE(context, nullptr);
    context->translateCTM(0, size);
    context->scaleCTM(1, -1);
    return context;
}

// Expects the corner image at 1:1 with its top-left pixel at memory (left, top), upright or
// mirrored, and nothing anywhere else.
void expectCornerImageAt(GraphicsContext& context, int left, int top, bool upright, const char* what)
{
    for (int y = 0; y < context.bitmapHeight(); ++y) {
        for (int x = 0; x < context.bitmapWidth(); ++x) {
            const bool inside = x >= left && x < left + 2 && y >= top && y < top + 2;
            const int row = upright ? y - top : 1 - (y - top);
            const Pixel expected = inside ? kCorners[row][x - left] : kClear;
            EXPECT_EQ(bitmapPixel(context, x, y), expected)
                << what << ": memory row " << y << ", column " << x;
        }
    }
}

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes;
}

QString writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = testDir() + QLatin1Char('/') + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

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

QByteArray pngChunk(const char* type, const QByteArray& data)
{
    QByteArray body = QByteArray(type, 4) + data;
    QByteArray chunk(4, '\0');
    qToBigEndian(quint32(data.size()), chunk.data());
    chunk += body;
    QByteArray crc(4, '\0');
    qToBigEndian(crc32(body), crc.data());
    return chunk + crc;
}

// A well-formed PNG that declares width x height RGBA pixels and carries a few bytes of
// pixel data: a decompression bomb's header.
QByteArray pngDeclaring(quint32 width, quint32 height)
{
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data());
    qToBigEndian(height, header.data() + 4);
    header[8] = 8; // bit depth
    header[9] = 6; // RGBA
    // Enough filtered rows for a small image; a bomb carries far fewer than it declares.
    const qint64 rows = width > 64 || height > 64 ? 4096 : qint64(height) * (1 + 4 * qint64(width));
    const QByteArray pixels = qCompress(QByteArray(qsizetype(rows), '\0')).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", pixels) +
           pngChunk("IEND", QByteArray());
}

// A real JPEG whose frame header is changed to declare width x height.
QByteArray jpegDeclaring(quint16 width, quint16 height)
{
    QByteArray bytes = encode(filledImage(16, 16, kRed), "jpeg");
    for (qsizetype i = 0; i + 8 < bytes.size(); ++i) {
        if (uchar(bytes[i]) == 0xFF && (uchar(bytes[i + 1]) == 0xC0 || uchar(bytes[i + 1]) == 0xC2)) {
            qToBigEndian(height, bytes.data() + i + 5);
            qToBigEndian(width, bytes.data() + i + 7);
            return bytes;
        }
    }
    ADD_FAILURE() << "no frame header in the encoded JPEG";
    return bytes;
}

} // namespace

// ---- Drawing: the image drawing rule and the flipped variants --------------------------------

TEST(QVImageDrawing, UnflippedDrawingIsUprightInAYUpBitmap)
{
    const QVImage image(cornerImage());
    auto context = yUpBitmap();
    context->setInterpolationQuality(false);
    image.drawInRect(Rect(0, 0, 4, 4), context.get(), false);
    saveForReview(*context, QStringLiteral("qvimage-yup-unflipped"));
    expectCornerBlocks(*context, true, "y-up, not flipped");
}

TEST(QVImageDrawing, FlippedDrawingIsUprightInAFlippedBitmap)
{
    const QVImage image(cornerImage());
    auto context = flippedBitmap();
    context->setInterpolationQuality(false);
    image.drawInRect(Rect(0, 0, 4, 4), context.get(), true);
    saveForReview(*context, QStringLiteral("qvimage-flipped-flipped"));
    expectCornerBlocks(*context, true, "flipped context, flipped drawing");
}

TEST(QVImageDrawing, TheOtherTwoCombinationsAreMirrored)
{
    const QVImage image(cornerImage());
    auto yUp = yUpBitmap();
    yUp->setInterpolationQuality(false);
    image.drawInRect(Rect(0, 0, 4, 4), yUp.get(), true);
    saveForReview(*yUp, QStringLiteral("qvimage-yup-flipped"));
    expectCornerBlocks(*yUp, false, "y-up context, flipped drawing");

    auto flipped = flippedBitmap();
    flipped->setInterpolationQuality(false);
    image.drawInRect(Rect(0, 0, 4, 4), flipped.get());
    saveForReview(*flipped, QStringLiteral("qvimage-flipped-unflipped"));
    expectCornerBlocks(*flipped, false, "flipped context, drawing not flipped");
}

TEST(QVImageDrawing, CornersKeepTheirColoursWithSmoothScaling)
{
    const QVImage image(cornerImage());
    auto yUp = yUpBitmap();
    image.drawInRect(Rect(0, 0, 4, 4), yUp.get(), false);
    auto flipped = flippedBitmap();
    image.drawInRect(Rect(0, 0, 4, 4), flipped.get(), true);
    saveForReview(*yUp, QStringLiteral("qvimage-yup-smooth"));
    for (GraphicsContext* context : {yUp.get(), flipped.get()}) {
        EXPECT_EQ(bitmapPixel(*context, 0, 0), kRed);
        EXPECT_EQ(bitmapPixel(*context, 3, 0), kGreen);
        EXPECT_EQ(bitmapPixel(*context, 0, 3), kBlue);
        EXPECT_EQ(bitmapPixel(*context, 3, 3), kHalfOrange);
    }
}

TEST(QVImageDrawing, FlippedDrawingLandsInTheGivenRectangle)
{
    // The placement is the question here, not sampling: pixels are copied as they are.
    const QVImage image(cornerImage());
    // y-up: user y 1..3 is memory rows 1 and 2 (the top row in memory is user y 3..4).
    auto yUp = yUpBitmap();
    yUp->setInterpolationQuality(false);
    image.drawInRect(Rect(1, 1, 2, 2), yUp.get(), false);
    expectCornerImageAt(*yUp, 1, 1, true, "y-up (1, 1, 2, 2)");

    auto yUpLow = yUpBitmap();
    yUpLow->setInterpolationQuality(false);
    image.drawInRect(Rect(2, 0, 2, 2), yUpLow.get(), true);
    expectCornerImageAt(*yUpLow, 2, 2, false, "y-up (2, 0, 2, 2) flipped");

    // Flipped: user y 1..3 is memory rows 1 and 2 from the top; y 0..2 rows 0 and 1.
    auto flipped = flippedBitmap();
    flipped->setInterpolationQuality(false);
    image.drawInRect(Rect(0, 1, 2, 2), flipped.get(), true);
    saveForReview(*flipped, QStringLiteral("qvimage-flipped-offset"));
    expectCornerImageAt(*flipped, 0, 1, true, "flipped (0, 1, 2, 2)");

    auto flippedTop = flippedBitmap();
    flippedTop->setInterpolationQuality(false);
    image.drawInRect(Rect(2, 0, 2, 2), flippedTop.get(), true);
    expectCornerImageAt(*flippedTop, 2, 0, true, "flipped (2, 0, 2, 2)");
}

TEST(QVImageDrawing, BlendModeAndAlphaApplyToThisDrawingOnly)
{
    const QVImage red(filledImage(2, 2, kRed));
    auto context = yUpBitmap(2);
    const AffineTransform ctmBefore = context->ctm();
    red.drawInRect(Rect(0, 0, 2, 2), context.get(), BlendMode::Normal, 0.5, false);
    const Pixel half = bitmapPixel(*context, 0, 0);
    EXPECT_NEAR(half.r, 128, 1) << half;
    EXPECT_EQ(half.g, 0) << half;
    EXPECT_EQ(half.b, 0) << half;
    EXPECT_NEAR(half.a, 128, 1) << half;
    EXPECT_EQ(context->alpha(), 1.0);
    EXPECT_EQ(context->blendMode(), BlendMode::Normal);
    EXPECT_EQ(context->gStateDepth(), 0);
    EXPECT_EQ(context->ctm(), ctmBefore);

    // Copy replaces what is there, even with a half-transparent source.
    context->setFillColor(0, 0, 1, 1);
    context->fillRect(Rect(0, 0, 2, 2));
    const QVImage orange(filledImage(2, 2, kHalfOrange));
    orange.drawInRect(Rect(0, 0, 2, 2), context.get(), BlendMode::Copy, 1.0, true);
    EXPECT_EQ(bitmapPixel(*context, 0, 0), kHalfOrange);
    EXPECT_EQ(bitmapPixel(*context, 1, 1), kHalfOrange);
    EXPECT_EQ(context->blendMode(), BlendMode::Normal);
    EXPECT_EQ(context->ctm(), ctmBefore);
}

TEST(QVImageDrawing, BlendVariantMirrorsLikeThePlainOne)
{
    const QVImage image(cornerImage());
    for (bool flippedContext : {false, true}) {
        for (bool flippedDrawing : {false, true}) {
            auto context = flippedContext ? flippedBitmap() : yUpBitmap();
            context->setInterpolationQuality(false);
            image.drawInRect(Rect(0, 0, 4, 4), context.get(), BlendMode::Normal, 1.0, flippedDrawing);
            expectCornerBlocks(*context, flippedContext == flippedDrawing,
                               flippedContext ? "blend variant, flipped context"
                                              : "blend variant, y-up context");
            EXPECT_EQ(context->gStateDepth(), 0);
        }
    }
}

TEST(QVImageDrawing, NothingHappensWithoutAContextOrAnImage)
{
    const QVImage image(cornerImage());
    image.drawInRect(Rect(0, 0, 4, 4), nullptr, true);
    image.drawInRect(Rect(0, 0, 4, 4), nullptr, BlendMode::Copy, 1.0, false);
    auto context = yUpBitmap();
    QVImage().drawInRect(Rect(0, 0, 4, 4), context.get(), true);
    QVImage().drawInRect(Rect(0, 0, 4, 4), context.get(), BlendMode::Copy, 1.0, true);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(bitmapPixel(*context, x, y), kClear);
    EXPECT_EQ(context->gStateDepth(), 0);
}

// ---- Decoding ----------------------------------------------------------------------------------

TEST(QVImageDecoding, IsPNGNeedsAFifthByteAfterTheSignature)
{
    EXPECT_FALSE(QVImage::isPNG(QByteArray("\x89PNG", 4)));
    EXPECT_TRUE(QVImage::isPNG(QByteArray("\x89PNG\r", 5)));
    EXPECT_TRUE(QVImage::isPNG(QByteArray("\x89PNGx", 5)));
    EXPECT_FALSE(QVImage::isPNG(QByteArray("\x88PNG\r", 5)));
    EXPECT_FALSE(QVImage::isPNG(QByteArray("\x89PNg\r", 5)));
    EXPECT_FALSE(QVImage::isPNG(QByteArray()));
    EXPECT_FALSE(QVImage::isPNG(QByteArray("\x89PN", 3)));
}

TEST(QVImageDecoding, PNGAndJPEGDataDecodeToRGBAPremultiplied)
{
    const QVImage png = QVImage::initWithSomeData(encode(cornerImage(), "png"));
    ASSERT_TRUE(png.hasImage());
    EXPECT_EQ(png.pixelSize(), Size(2, 2));
    EXPECT_EQ(png.cgImage().format(), QImage::Format_RGBA8888_Premultiplied);
    EXPECT_EQ(imagePixel(png.cgImage(), 0, 0), kRed);
    EXPECT_EQ(imagePixel(png.cgImage(), 1, 0), kGreen);
    EXPECT_EQ(imagePixel(png.cgImage(), 0, 1), kBlue);
    const Pixel orange = imagePixel(png.cgImage(), 1, 1);
    EXPECT_NEAR(orange.r, kHalfOrange.r, 1) << orange;
    EXPECT_NEAR(orange.g, kHalfOrange.g, 1) << orange;
    EXPECT_NEAR(orange.b, kHalfOrange.b, 1) << orange;
    EXPECT_EQ(orange.a, kHalfOrange.a) << orange;

    const QByteArray jpegBytes = encode(filledImage(8, 8, kBlue), "jpeg");
    for (const QVImage& jpeg : {QVImage::initWithSomeData(jpegBytes), QVImage::initWithJPEGData(jpegBytes)}) {
        ASSERT_TRUE(jpeg.hasImage());
        EXPECT_EQ(jpeg.pixelSize(), Size(8, 8));
        const Pixel p = imagePixel(jpeg.cgImage(), 4, 4);
        EXPECT_LE(p.r, 8) << p;
        EXPECT_LE(p.g, 8) << p;
        EXPECT_GE(p.b, 247) << p;
        EXPECT_EQ(p.a, 255) << p;
    }
}

TEST(QVImageDecoding, UndecodableDataGivesAnImageThatHoldsNothing)
{
    const QByteArray png = encode(cornerImage(), "png");
    const QByteArray jpeg = encode(filledImage(8, 8, kBlue), "jpeg");
    struct Case
    {
        const char* what;
        QVImage image;
    } cases[] = {
        {"text through initWithSomeData", QVImage::initWithSomeData(QByteArray("neither PNG nor JPEG"))},
        {"empty data", QVImage::initWithSomeData(QByteArray())},
        {"the PNG signature alone", QVImage::initWithSomeData(QByteArray("\x89PNG\r\n\x1a\n", 8))},
        {"a truncated PNG", QVImage::initWithSomeData(png.left(png.size() / 2))},
        {"a truncated JPEG", QVImage::initWithJPEGData(jpeg.left(40))},
        {"JPEG bytes as PNG", QVImage::initWithPNGData(jpeg)},
        {"PNG bytes as JPEG", QVImage::initWithJPEGData(png)},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.image.hasImage()) << c.what;
        EXPECT_EQ(c.image.pixelSize(), Size(0, 0)) << c.what;
        EXPECT_TRUE(c.image.cgImage().isNull()) << c.what;
        EXPECT_TRUE(c.image.pngData().isEmpty()) << c.what;
        EXPECT_TRUE(c.image.nsImage().isNull()) << c.what;
    }
}

TEST(QVImageDecoding, ImagesDeclaringHugeDimensionsAreRefusedBeforeDecoding)
{
    struct Case
    {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"PNG 100000 x 10", pngDeclaring(100000, 10)},
        {"PNG 10000 x 10000", pngDeclaring(10000, 10000)},
        {"PNG 2^31-1 square", pngDeclaring(0x7FFFFFFF, 0x7FFFFFFF)},
        {"JPEG 60000 x 60000", jpegDeclaring(60000, 60000)},
    };
    for (const Case& c : cases) {
        const QVImage image = QVImage::initWithSomeData(c.bytes);
        EXPECT_FALSE(image.hasImage()) << c.what;
        EXPECT_EQ(image.pixelSize(), Size(0, 0)) << c.what;
        EXPECT_FALSE(QVImage::readFromURL(writeFile(QStringLiteral("bomb"), c.bytes)).has_value()) << c.what;
    }
    // The same construction with a plausible size decodes: the refusal is the size's doing.
    const QVImage small = QVImage::initWithSomeData(pngDeclaring(4, 4));
    EXPECT_TRUE(small.hasImage());
    EXPECT_EQ(small.pixelSize(), Size(4, 4));
}

TEST(QVImageDecoding, OnlyReadFromURLGivesNone)
{
    const QString png = writeFile(QStringLiteral("corners.png"), encode(cornerImage(), "png"));
    const QString jpeg = writeFile(QStringLiteral("blue.jpg"), encode(filledImage(8, 6, kBlue), "jpeg"));
    const QString text = writeFile(QStringLiteral("notes.png"), QByteArray("not a picture at all"));
    const QString empty = writeFile(QStringLiteral("empty.png"), QByteArray());

    const std::optional<QVImage> fromPath = QVImage::readFromURL(png);
    ASSERT_TRUE(fromPath.has_value());
    EXPECT_EQ(fromPath->pixelSize(), Size(2, 2));
    EXPECT_EQ(imagePixel(fromPath->cgImage(), 1, 0), kGreen);
    const std::optional<QVImage> fromUrl = QVImage::readFromURL(QUrl::fromLocalFile(jpeg));
    ASSERT_TRUE(fromUrl.has_value());
    EXPECT_EQ(fromUrl->pixelSize(), Size(8, 6));

    EXPECT_FALSE(QVImage::readFromURL(testDir() + QStringLiteral("/missing.png")).has_value());
    EXPECT_FALSE(QVImage::readFromURL(text).has_value());
    EXPECT_FALSE(QVImage::readFromURL(empty).has_value());
    EXPECT_FALSE(QVImage::readFromURL(testDir()).has_value()) << "a folder";
    EXPECT_FALSE(QVImage::readFromURL(QString()).has_value());
    EXPECT_FALSE(QVImage::readFromURL(QUrl(QStringLiteral("https://example.com/corners.png"))).has_value());
    // The data initialisers on the same bytes answer an empty image instead.
    EXPECT_FALSE(QVImage::initWithSomeData(QByteArray("not a picture at all")).hasImage());
}

TEST(QVImageDecoding, AFileThatCannotBeOpenedGivesNone)
{
    const QString png = writeFile(QStringLiteral("corners.png"), encode(cornerImage(), "png"));
    {
        FaultShim shim;
        shim.failAt(FaultShim::Op::Open, 1, EIO);
        EXPECT_FALSE(QVImage::readFromURL(png).has_value());
        EXPECT_EQ(shim.callCount(FaultShim::Op::Open), 1);
    }
    EXPECT_TRUE(QVImage::readFromURL(png).has_value());
}

// ---- Encoding ----------------------------------------------------------------------------------

TEST(QVImageEncoding, PNGDataReadsBackToTheSamePixels)
{
    QImage source = filledImage(3, 2, kClear);
    setPixel(source, 0, 0, kRed);
    setPixel(source, 1, 0, kGreen);
    setPixel(source, 2, 0, kBlue);
    setPixel(source, 0, 1, kWhite);
    const QVImage image(source);
    const QByteArray png = image.pngData();
    ASSERT_TRUE(QVImage::isPNG(png));
    const QVImage back = QVImage::initWithPNGData(png);
    ASSERT_EQ(back.pixelSize(), Size(3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(imagePixel(back.cgImage(), x, y), imagePixel(source, x, y)) << x << ", " << y;
}

TEST(QVImageEncoding, JPEGDataDecodesToTheSameSize)
{
    const QVImage image(filledImage(16, 8, kGreen));
    const QByteArray jpeg = image.jpegData();
    ASSERT_GE(jpeg.size(), 3);
    EXPECT_EQ(uchar(jpeg[0]), 0xFF);
    EXPECT_EQ(uchar(jpeg[1]), 0xD8);
    EXPECT_FALSE(QVImage::isPNG(jpeg));
    const QVImage back = QVImage::initWithSomeData(jpeg);
    ASSERT_EQ(back.pixelSize(), Size(16, 8));
    const Pixel p = imagePixel(back.cgImage(), 8, 4);
    EXPECT_LE(p.r, 8) << p;
    EXPECT_GE(p.g, 247) << p;
    EXPECT_LE(p.b, 8) << p;
    EXPECT_TRUE(QVImage().jpegData().isEmpty());
}

TEST(QVImageDecoding, AFileOverTheBoundIsRefusedUnread)
{
    // A valid PNG stretched (sparsely) one byte past the bound: refused by its size alone.
    const qint64 bound = qint64(ImageCodec::AllocationLimitMB) * 2 * 1024 * 1024;
    const QString png = writeFile(QStringLiteral("stretched.png"), encode(cornerImage(), "png"));
    ASSERT_TRUE(QVImage::readFromURL(png).has_value());
    ASSERT_TRUE(QFile::resize(png, bound + 1));
    FaultShim shim; // counts the calls
    EXPECT_FALSE(QVImage::readFromURL(png).has_value());
    EXPECT_EQ(shim.callCount(FaultShim::Op::Read), 0) << "nothing of it was read";
    EXPECT_EQ(shim.callCount(FaultShim::Op::Close), 1);
}

// ---- The stored PNG ----------------------------------------------------------------------------

namespace {

// The corner image as PNG, deflated harder than the codec's default: other bytes than
// pngData() of the same pixels would make.
QByteArray storedCornerPNG()
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(0); // the strongest compression
    EXPECT_TRUE(writer.write(cornerImage().convertToFormat(QImage::Format_ARGB32)))
        << writer.errorString().toStdString();
    return bytes;
}

} // namespace

TEST(QVImageStoredPNG, APictureDecodedFromPNGAnswersTheBytesItWasReadWith)
{
    const QByteArray stored = storedCornerPNG();
    ASSERT_NE(stored, ImageCodec::encodePNG(cornerImage()))
        << "the test needs bytes an encoding would not make";
    const QVImage image = QVImage::initWithPNGData(stored);
    ASSERT_TRUE(image.hasImage());
    EXPECT_EQ(image.pngData(), stored);
    const QVImage copy = image;
    EXPECT_EQ(copy.pngData().constData(), stored.constData()) << "copies answer the very same bytes";
}

TEST(QVImageStoredPNG, APictureWithoutStoredBytesIsEncodedOnceForAllItsCopies)
{
    const QVImage image(cornerImage());
    const QVImage copy = image;
    const QByteArray first = copy.pngData();
    ASSERT_TRUE(QVImage::isPNG(first));
    EXPECT_EQ(image.pngData().constData(), first.constData()) << "not encoded a second time";
    EXPECT_EQ(copy.pngData().constData(), first.constData());
    const QVImage back = QVImage::initWithPNGData(first);
    // The opaque corners (PNG stores unpremultiplied values: the half-transparent one may
    // round).
    EXPECT_EQ(imagePixel(back.cgImage(), 0, 0), kRed);
    EXPECT_EQ(imagePixel(back.cgImage(), 1, 0), kGreen);
    EXPECT_EQ(imagePixel(back.cgImage(), 0, 1), kBlue);
    // A changed picture is a new value: its own encoding, of its own pixels.
    const QVImage changed = image.scaleToSize(Size(4, 4));
    const QByteArray changedPNG = changed.pngData();
    EXPECT_NE(changedPNG, first);
    EXPECT_EQ(QVImage::initWithPNGData(changedPNG).pixelSize(), Size(4, 4));
    EXPECT_EQ(changed.pngData().constData(), changedPNG.constData());
}

TEST(QVImageStoredPNG, OnlyDecodedPNGBytesAreKept)
{
    const QByteArray jpeg = encode(filledImage(16, 8, kGreen), "jpeg");
    const QByteArray fromJPEG = QVImage::initWithSomeData(jpeg).pngData();
    EXPECT_TRUE(QVImage::isPNG(fromJPEG)) << "a JPEG is stored as PNG, encoded once";
    EXPECT_TRUE(QVImage::initWithPNGData(QByteArray("\x89PNG not really")).pngData().isEmpty());
    EXPECT_TRUE(QVImage().pngData().isEmpty());
}

TEST(QVImageStoredPNG, BytesOverABorrowedBufferAreCopied)
{
    for (const bool decodedLater : {false, true}) {
        QByteArray buffer = storedCornerPNG();
        // A copy of its own: a shared one would keep the lender's bytes alive past fill().
        const QByteArray expected(buffer.constData(), buffer.size());
        QVImage image;
        {
            const QByteArray borrowed = QByteArray::fromRawData(buffer.constData(), buffer.size());
            image =
                decodedLater ? QVImage::initWithStoredPNGData(borrowed) : QVImage::initWithPNGData(borrowed);
        }
        buffer.fill('\0'); // the lender's buffer changes after the picture was made
        EXPECT_EQ(image.pngData(), expected) << "decoded later: " << decodedLater;
        EXPECT_EQ(imagePixel(image.cgImage(), 0, 0), kRed) << "decoded later: " << decodedLater;
    }
}

TEST(QVImageStoredPNG, AStoredPictureIsItsBytesUntilItsPixelsAreFirstAsked)
{
    const QByteArray stored = storedCornerPNG();
    const quint64 before = ImageCodec::decodeCount();
    const QVImage image = QVImage::initWithStoredPNGData(stored);
    const QVImage copy = image;
    EXPECT_TRUE(copy.hasImage());
    EXPECT_EQ(copy.pixelSize(), Size(2, 2));
    EXPECT_EQ(copy.pngData().constData(), image.pngData().constData());
    EXPECT_EQ(copy.pngData(), stored);
    EXPECT_FALSE(image.isDecoded());
    EXPECT_EQ(ImageCodec::decodeCount(), before) << "size and bytes are answered without a decode";

    // Drawing decodes, once for every copy.
    auto context = yUpBitmap();
    copy.drawInRect(Rect(0, 0, 2, 2), context.get(), true);
    EXPECT_TRUE(image.isDecoded());
    EXPECT_EQ(imagePixel(image.cgImage(), 1, 0), kGreen);
    EXPECT_EQ(image.nsImage().size(), Size(2, 2));
    EXPECT_EQ(ImageCodec::decodeCount(), before + 1);
    EXPECT_EQ(image.pngData(), stored) << "a decoded picture still answers the bytes it was read with";
}

TEST(QVImageStoredPNG, AHeaderThatCannotBeAPictureIsRefusedAtOnce)
{
    QByteArray noHeader = storedCornerPNG();
    noHeader.replace(12, 4, "IHDX");
    const struct
    {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"empty data", QByteArray()},
        {"the PNG signature alone", QByteArray("\x89PNG\r\n\x1a\n", 8)},
        {"a JPEG", encode(filledImage(8, 8, kBlue), "jpeg")},
        {"no header chunk first", noHeader},
        {"PNG 0 x 10", pngDeclaring(0, 10)},
        {"PNG 100000 x 10", pngDeclaring(100000, 10)},
        {"PNG 10000 x 10000", pngDeclaring(10000, 10000)},
        {"PNG 2^31-1 square", pngDeclaring(0x7FFFFFFF, 0x7FFFFFFF)},
    };
    const quint64 before = ImageCodec::decodeCount();
    for (const auto& c : cases) {
        const QVImage image = QVImage::initWithStoredPNGData(c.bytes);
        EXPECT_FALSE(image.hasImage()) << c.what;
        EXPECT_EQ(image.pixelSize(), Size(0, 0)) << c.what;
        EXPECT_TRUE(image.pngData().isEmpty()) << c.what;
    }
    EXPECT_EQ(ImageCodec::decodeCount(), before) << "refused from the header, never decoded";
}

TEST(QVImageStoredPNG, DamagedBytesAreKeptAndDrawNothingWithOneLogLine)
{
    const QByteArray whole = encode(filledImage(16, 16, kRed), "png");
    // The header intact, the pixel data cut short.
    const QByteArray damaged = whole.left(whole.size() - 20);
    LogCapture log;
    const QVImage image = QVImage::initWithStoredPNGData(damaged);
    ASSERT_TRUE(image.hasImage());
    EXPECT_EQ(image.pixelSize(), Size(16, 16));
    auto context = yUpBitmap();
    for (int i = 0; i < 2; ++i) {
        image.drawInRect(Rect(0, 0, 4, 4), context.get(), false);
        EXPECT_TRUE(image.cgImage().isNull());
    }
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(bitmapPixel(*context, x, y), kClear) << x << "," << y;
    EXPECT_TRUE(image.scaleToSize(Size(4, 4)).hasImage()) << "scaled, it is an empty bitmap";
    EXPECT_EQ(image.pngData(), damaged) << "the bytes are written back as they were read";
    EXPECT_EQ(log.count(LogLevel::Warning, QStringLiteral("16 x 16 pixels")), 1);
}

TEST(QVImageStoredPNG, CopiesOnManyThreadsDecodeOnceWhileOthersReadTheBytes)
{
    const QByteArray stored = encode(filledImage(256, 256, kHalfOrange), "png");
    const QVImage image = QVImage::initWithStoredPNGData(stored);
    const quint64 before = ImageCodec::decodeCount();
    std::vector<const uchar*> pixels(8, nullptr);
    std::vector<QByteArray> bytes(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < pixels.size(); ++i)
        threads.emplace_back([copy = image, &pixels, &bytes, i] {
            if (i % 2 == 0)
                pixels[i] = copy.cgImage().constBits();
            else
                bytes[i] = copy.pngData();
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(ImageCodec::decodeCount(), before + 1);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0) {
            EXPECT_NE(pixels[i], nullptr);
            EXPECT_EQ(pixels[i], pixels.front());
        } else {
            EXPECT_EQ(bytes[i].constData(), stored.constData()) << "the stored bytes, not an encoding";
        }
    }
}

TEST(QVImageStoredPNG, CopiesOnManyThreadsEncodeOnceAndAgree)
{
    const QVImage image(filledImage(64, 64, kHalfOrange));
    std::vector<QByteArray> answers(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < answers.size(); ++i)
        threads.emplace_back([copy = image, &answers, i] { answers[i] = copy.pngData(); });
    for (auto& thread : threads)
        thread.join();
    for (const QByteArray& answer : answers)
        EXPECT_EQ(answer.constData(), answers.front().constData());
}

// ---- Bitmaps and scaling -----------------------------------------------------------------------

TEST(QVImageScaling, BitmapContextsTruncateTheSizeAndAreYUp)
{
    LogCapture log;
    auto context = QVImage::createBitmapContextForSize(Size(3.7, 2.2));
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->bitmapWidth(), 3);
    EXPECT_EQ(context->bitmapHeight(), 2);
    EXPECT_EQ(context->bytesPerRow(), 12);
    for (int i = 0; i < 24; ++i)
        ASSERT_EQ(context->bitmapData()[i], 0) << "byte " << i;
    context->setFillColor(1, 0, 0, 1);
    context->fillRect(Rect(0, 0, 3, 1));
    EXPECT_EQ(bitmapPixel(*context, 0, 1), kRed) << "user y 0..1 is the bottom memory row";
    EXPECT_EQ(bitmapPixel(*context, 0, 0), kClear);
    EXPECT_EQ(log.count(kBitmapAssertion), 0);
}

TEST(QVImageScaling, ABitmapThatCannotBeMadeLogsTheAssertionLine)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (Size size : {Size(0, 0), Size(0.5, 3), Size(3, 0.99), Size(-4, 4), Size(nan, 4), Size(4, INFINITY),
                      Size(1e7, 1e7)}) {
        LogCapture log;
        EXPECT_EQ(QVImage::createBitmapContextForSize(size), nullptr) << size.width << " x " << size.height;
        EXPECT_EQ(log.count(kBitmapAssertion), 1)
            << size.width << " x " << size.height << ": " << log.lines().join(QLatin1Char('|')).toStdString();
    }
}

TEST(QVImageScaling, ScaledSizesAreTruncatedAndKeepTheAspectRatio)
{
    const QVImage image(filledImage(200, 100, kBlue));
    const QVImage narrow = image.scaleToWidth(50);
    EXPECT_EQ(narrow.pixelSize(), Size(50, 25));
    EXPECT_EQ(imagePixel(narrow.cgImage(), 25, 12), kBlue);
    const QVImage odd = image.scaleToSize(Size(10.9, 5.5));
    EXPECT_EQ(odd.pixelSize(), Size(10, 5));
    EXPECT_EQ(odd.cgImage().format(), QImage::Format_RGBA8888_Premultiplied);
    // The source stays as it was.
    EXPECT_EQ(image.pixelSize(), Size(200, 100));
}

TEST(QVImageScaling, ScaledImagesStayUpright)
{
    // Top half red, bottom half blue.
    QImage source = filledImage(2, 4, kBlue);
    for (int x = 0; x < 2; ++x) {
        setPixel(source, x, 0, kRed);
        setPixel(source, x, 1, kRed);
    }
    const QVImage scaled = QVImage(source).scaleToSize(Size(4, 8));
    saveForReview(scaled.cgImage(), QStringLiteral("qvimage-scaled-upright"));
    ASSERT_EQ(scaled.pixelSize(), Size(4, 8));
    EXPECT_EQ(imagePixel(scaled.cgImage(), 0, 0), kRed);
    EXPECT_EQ(imagePixel(scaled.cgImage(), 3, 2), kRed);
    EXPECT_EQ(imagePixel(scaled.cgImage(), 0, 7), kBlue);
    EXPECT_EQ(imagePixel(scaled.cgImage(), 3, 5), kBlue);
}

TEST(QVImageScaling, FailedScalingGivesAnEmptyImageAfterTheAssertionLine)
{
    LogCapture log;
    const QVImage image(filledImage(4, 4, kRed));
    EXPECT_FALSE(image.scaleToSize(Size(0.5, 3)).hasImage());
    EXPECT_EQ(log.count(kBitmapAssertion), 1);
    // An empty image has no aspect ratio: 0 x (50 / 0) is not a size.
    EXPECT_FALSE(QVImage().scaleToWidth(50).hasImage());
    EXPECT_EQ(log.count(kBitmapAssertion), 2);
    // Scaling nothing to a real size gives a transparent bitmap of that size.
    const QVImage blank = QVImage().scaleToSize(Size(3, 2));
    ASSERT_EQ(blank.pixelSize(), Size(3, 2));
    EXPECT_EQ(imagePixel(blank.cgImage(), 1, 1), kClear);
}

// ---- Conversions -------------------------------------------------------------------------------

TEST(QVImageConversion, NSImageHasThePixelSizeInPoints)
{
    const QVImage image(filledImage(300, 200, kGreen));
    const PlatformImage ns = image.nsImage();
    EXPECT_FALSE(ns.isNull());
    EXPECT_EQ(ns.size(), Size(300, 200));
    ASSERT_EQ(ns.representations().size(), 1u);
    EXPECT_EQ(ns.representations().front().size(), QSize(300, 200));

    const QVImage back = QVImage::initWithNSImage(ns);
    EXPECT_EQ(back.pixelSize(), Size(300, 200));
    EXPECT_EQ(imagePixel(back.cgImage(), 150, 100), kGreen);
    EXPECT_FALSE(QVImage::initWithNSImage(PlatformImage()).hasImage());
}

TEST(QVImageConversion, InitWithNSImagePicksTheRepresentationForTheCurrentContext)
{
    PlatformImage twoScales(filledImage(2, 2, kRed));
    twoScales.addRepresentation(filledImage(4, 4, kBlue));
    ASSERT_EQ(twoScales.size(), Size(2, 2));

    GraphicsContext* saved = GraphicsContext::current();
    GraphicsContext::setCurrent(nullptr);
    EXPECT_EQ(QVImage::initWithNSImage(twoScales).pixelSize(), Size(2, 2));

    auto retina = GraphicsContext::createBitmap(8, 8);
    retina->scaleCTM(2, 2);
    GraphicsContext::setCurrent(retina.get());
    const QVImage sharp = QVImage::initWithNSImage(twoScales);
    GraphicsContext::setCurrent(saved);
    EXPECT_EQ(sharp.pixelSize(), Size(4, 4));
    EXPECT_EQ(imagePixel(sharp.cgImage(), 0, 0), kBlue);
}

TEST(QVImageConversion, InitWithCGImageConvertsToTheOneFormat)
{
    QImage argb(2, 1, QImage::Format_ARGB32);
    argb.setPixel(0, 0, qRgba(200, 100, 50, 255));
    argb.setPixel(1, 0, qRgba(0, 0, 0, 0));
    const QVImage image = QVImage::initWithCGImage(argb);
    EXPECT_EQ(image.cgImage().format(), QImage::Format_RGBA8888_Premultiplied);
    const uchar* bytes = image.cgImage().constScanLine(0);
    EXPECT_EQ(Pixel({bytes[0], bytes[1], bytes[2], bytes[3]}), Pixel({200, 100, 50, 255}));
    EXPECT_EQ(Pixel({bytes[4], bytes[5], bytes[6], bytes[7]}), kClear);
    EXPECT_FALSE(QVImage::initWithCGImage(QImage()).hasImage());
}

TEST(QVImageConversion, InitWithCIImageRendersTheRectangleUpright)
{
    const QVImage constant = QVImage::initWithCIImage(
        FilterImage::constantColor(PlatformColor::deviceRGB(1, 0, 0, 1)), Rect(5, -7, 3, 2));
    ASSERT_EQ(constant.pixelSize(), Size(3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(imagePixel(constant.cgImage(), x, y), kRed) << x << ", " << y;

    // Rows red, green, blue, white from the top. Filter space is y-up, so the rectangle
    // (0, 0, 2, 2) is the bottom half: blue above white.
    QImage rows = filledImage(2, 4, kWhite);
    for (int x = 0; x < 2; ++x) {
        setPixel(rows, x, 0, kRed);
        setPixel(rows, x, 1, kGreen);
        setPixel(rows, x, 2, kBlue);
    }
    const FilterImage filter = FilterImage::fromImage(rows);
    const QVImage bottom = QVImage::initWithCIImage(filter, Rect(0, 0, 2, 2));
    saveForReview(bottom.cgImage(), QStringLiteral("qvimage-filter-bottom-half"));
    ASSERT_EQ(bottom.pixelSize(), Size(2, 2));
    EXPECT_EQ(imagePixel(bottom.cgImage(), 0, 0), kBlue);
    EXPECT_EQ(imagePixel(bottom.cgImage(), 1, 1), kWhite);
    const QVImage whole = QVImage::initWithCIImage(filter, Rect(0, 0, 2, 4));
    ASSERT_EQ(whole.pixelSize(), Size(2, 4));
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(imagePixel(whole.cgImage(), 1, y), imagePixel(rows, 1, y)) << "row " << y;

    LogCapture log;
    EXPECT_FALSE(QVImage::initWithCIImage(filter, Rect(0, 0, 0, 4)).hasImage());
    EXPECT_EQ(log.count(kBitmapAssertion), 1);
}
