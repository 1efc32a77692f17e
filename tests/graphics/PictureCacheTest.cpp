#include "graphics/PictureCache.h"
#include "graphics/QVImage.h"
#include "platform/gfx/ImageCodec.h"

#include <QColor>
#include <gtest/gtest.h>
#include <vector>

namespace corvex::test {
namespace {

// A stored picture of `side` pixels: two bands of colour, PNG bytes that compress small.
QVImage storedPicture(int side, const QColor& top, const QColor& bottom)
{
    QImage pixels(side, side, QImage::Format_RGB32);
    pixels.fill(bottom);
    for (int y = 0; y < side / 2; ++y)
        std::fill_n(reinterpret_cast<QRgb*>(pixels.scanLine(y)), side, top.rgb());
    return QVImage::initWithStoredPNGData(ImageCodec::encodePNG(pixels));
}

} // namespace

TEST(PictureCache, LargePicturesAreHeldAtTheirDrawnSizeWithinTheBudget)
{
    PictureCache& cache = PictureCache::shared();
    cache.clear();
    const qint64 budget = cache.budget();
    cache.setBudget(qint64(3) << 20); // three 512-pixel squares
    std::vector<QVImage> pictures;
    for (int i = 0; i < 8; ++i)
        pictures.push_back(storedPicture(2048, QColor::fromHsv(i * 40, 255, 255), Qt::black));

    const QByteArray stored = pictures[0].pngData();
    struct Case
    {
        const char* name;
        int picture;
        int side;
        QSize drawn;
        bool decodes;
    };
    const Case cases[] = {
        {"drawn small", 0, 100, QSize(128, 128), true},
        {"again at a side of the same power of two", 0, 120, QSize(128, 128), false},
        {"larger: decoded anew", 0, 300, QSize(512, 512), true},
        {"others fill the budget", 1, 500, QSize(512, 512), true},
        {"", 2, 500, QSize(512, 512), true},
        {"", 3, 500, QSize(512, 512), true},
        {"the least recently drawn went", 0, 300, QSize(512, 512), true},
        {"the most recently drawn stayed", 3, 500, QSize(512, 512), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const quint64 before = ImageCodec::decodeCount();
        const QImage drawn = pictures[std::size_t(c.picture)].cgImageFitting(c.side);
        EXPECT_EQ(drawn.size(), c.drawn);
        EXPECT_EQ(ImageCodec::decodeCount() - before, c.decodes ? 1u : 0u);
        EXPECT_EQ(drawn.pixelColor(4, 4).rgb(), QColor::fromHsv(c.picture * 40, 255, 255).rgb());
        EXPECT_LE(cache.bytes(), qint64(3) << 20);
        EXPECT_FALSE(pictures[std::size_t(c.picture)].isDecoded()) << "held at full size";
    }
    // A picture that fits is itself, and what was stored is written back byte for byte.
    EXPECT_EQ(storedPicture(64, Qt::red, Qt::blue).cgImageFitting(300).size(), QSize(64, 64));
    EXPECT_EQ(pictures[0].pngData(), stored);
    // A picture that goes takes its sizes with it.
    pictures.clear();
    EXPECT_EQ(cache.bytes(), 0);
    cache.setBudget(budget);
}

} // namespace corvex::test
