// ImageCache: the key form, one tinted image per image name and colour name, nothing kept for
// a name without an image, the shared instance, and concurrent use from several threads.

#include "toolkit/ImageCache.h"
#include "model/Color.h"
#include "platform/gfx/PlatformImage.h"
#include "tests/graphics/ImageTestSupport.h"
#include "toolkit/ColorImageTinting.h"

#include <QImage>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace corvex;
using namespace corvex::test;

namespace {

const QString kPattern = QStringLiteral("test_pattern");

ColorPtr colour(const QString& name, double r, double g, double b)
{
    return Color::withRGB(name, RGBA{r, g, b, 1});
}

} // namespace

TEST(ImageCache, TheKeyIsTheImageNameTwoUnderscoresAndTheColourName)
{
    EXPECT_EQ(ImageCache::keyFor(QStringLiteral("close"), colour(QStringLiteral("Blue"), 0, 0, 255)),
              QStringLiteral("close__Blue"));
    EXPECT_EQ(ImageCache::keyFor(QStringLiteral("3_dots"), nullptr), QStringLiteral("3_dots__(null)"));
}

TEST(ImageCache, TwoRequestsForTheSameNamesAnswerTheSameImage)
{
    ImageCache cache;
    const ColorPtr orange = colour(QStringLiteral("Orange"), 200, 100, 50);
    const PlatformImage first = cache.imageWithName(kPattern, orange);
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(cache.count(), 1);
    EXPECT_TRUE(cache.contains(QStringLiteral("test_pattern__Orange")));

    // Another colour object of the same name finds the cached image: colours are keyed by name.
    const PlatformImage second = cache.imageWithName(kPattern, colour(QStringLiteral("Orange"), 0, 0, 0));
    EXPECT_EQ(onlyRepresentation(second).cacheKey(), onlyRepresentation(first).cacheKey())
        << "the same image, not a second tinting";
    EXPECT_EQ(cache.count(), 1);
    const PlatformImage device = cache.deviceImageWithName(kPattern, orange);
    EXPECT_EQ(onlyRepresentation(device).cacheKey(), onlyRepresentation(first).cacheKey());

    // The image is the named one's flat tint.
    const PlatformImage expected =
        ColorImageTinting::transformImage(PlatformImage::imageNamed(kPattern), orange);
    EXPECT_EQ(onlyRepresentation(first), onlyRepresentation(expected));
    EXPECT_EQ(first.size(), PlatformImage::imageNamed(kPattern).size());
    EXPECT_EQ(imagePixel(onlyRepresentation(first), 0, 0), (Pixel{200, 100, 50, 255}));

    // Another colour name is another image.
    const PlatformImage green = cache.imageWithName(kPattern, colour(QStringLiteral("Green"), 0, 200, 0));
    EXPECT_EQ(cache.count(), 2);
    EXPECT_EQ(imagePixel(onlyRepresentation(green), 0, 0), (Pixel{0, 200, 0, 255}));
}

TEST(ImageCache, ANameWithoutAnImageAnswersNullAndLeavesTheCacheUnchanged)
{
    ImageCache cache;
    const ColorPtr orange = colour(QStringLiteral("Orange"), 200, 100, 50);
    (void)cache.imageWithName(kPattern, orange);
    EXPECT_TRUE(cache.imageWithName(QStringLiteral("no_such_image"), orange).isNull());
    EXPECT_EQ(cache.count(), 1);
    EXPECT_FALSE(cache.contains(QStringLiteral("no_such_image__Orange")));
}

TEST(ImageCache, TheSharedCacheIsOneInstance)
{
    EXPECT_EQ(&ImageCache::cache(), &ImageCache::cache());
    const ColorPtr c = colour(QStringLiteral("SharedCacheColour"), 1, 2, 3);
    const PlatformImage a = ImageCache::cache().imageWithName(kPattern, c);
    const PlatformImage b = ImageCache::cache().imageWithName(kPattern, c);
    EXPECT_EQ(onlyRepresentation(a).cacheKey(), onlyRepresentation(b).cacheKey());
}

TEST(ImageCache, ThreadsMayAskAtOnceAndAllGetTheRightPixels)
{
    ImageCache cache;
    const int threads = 8;
    const int rounds = 200;
    std::vector<ColorPtr> colours;
    for (int i = 0; i < 4; ++i)
        colours.push_back(colour(QStringLiteral("C%1").arg(i), 40.0 * i, 100, 200 - 30.0 * i));
    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t]() {
            while (!go.load())
                std::this_thread::yield();
            for (int i = 0; i < rounds; ++i) {
                const ColorPtr& c = colours[std::size_t((t + i) % 4)];
                const PlatformImage image = cache.imageWithName(kPattern, c);
                const Pixel p = image.isNull() ? kClear : imagePixel(onlyRepresentation(image), 0, 0);
                if (p != (Pixel{int(c->rgba().red), int(c->rgba().green), int(c->rgba().blue), 255}))
                    ++wrong;
                if (!cache.imageWithName(QStringLiteral("no_such_image"), c).isNull())
                    ++wrong;
            }
        });
    }
    go = true;
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(cache.count(), 4) << "one image per colour name, whoever stored it last";
}
