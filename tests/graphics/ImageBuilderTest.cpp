#include "graphics/ImageBuilder.h"

#include "platform/gfx/GraphicsContext.h"
#include "tests/graphics/ImageTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// Installs a 1 x 1 bitmap as the current context for the test, as a view's drawing would,
// and puts back what was current before.
class SentinelContext
{
public:
    SentinelContext() : mContext(GraphicsContext::createBitmap(1, 1)), mSaved(GraphicsContext::current())
    {
        GraphicsContext::setCurrent(mContext.get());
    }
    ~SentinelContext() { GraphicsContext::setCurrent(mSaved); }
    GraphicsContext* get() const { return mContext.get(); }

private:
    std::unique_ptr<GraphicsContext> mContext;
    GraphicsContext* mSaved;
};

} // namespace

TEST(ImageBuilder, StartAndConsumeBalanceTheCurrentContext)
{
    SentinelContext sentinel;
    ImageBuilder builder;
    GraphicsContext* drawing = builder.startWithSize(8, 6);
    ASSERT_NE(drawing, nullptr);
    EXPECT_NE(drawing, sentinel.get());
    EXPECT_EQ(GraphicsContext::current(), drawing);
    const PlatformImage image = builder.consumeImage();
    EXPECT_EQ(GraphicsContext::current(), sentinel.get());
    EXPECT_FALSE(image.isNull());

    // With nothing current before, nothing is current after.
    GraphicsContext::setCurrent(nullptr);
    ImageBuilder second;
    GraphicsContext* secondDrawing = second.startWithSize(2, 2);
    ASSERT_NE(secondDrawing, nullptr);
    EXPECT_EQ(GraphicsContext::current(), secondDrawing);
    EXPECT_FALSE(second.consumeImage().isNull());
    EXPECT_EQ(GraphicsContext::current(), nullptr);
}

TEST(ImageBuilder, TheBitmapHasTheTruncatedSizeAndTheImageTheRequestedOne)
{
    SentinelContext sentinel;
    ImageBuilder builder;
    GraphicsContext* drawing = builder.startWithSize(10.7, 5.2);
    ASSERT_NE(drawing, nullptr);
    EXPECT_EQ(drawing->bitmapWidth(), 10);
    EXPECT_EQ(drawing->bitmapHeight(), 5);
    EXPECT_EQ(drawing->bytesPerRow(), 40);
    for (int i = 0; i < 5 * 40; ++i)
        ASSERT_EQ(drawing->bitmapData()[i], 0) << "byte " << i << " of a fresh bitmap";
    const PlatformImage image = builder.consumeImage();
    EXPECT_EQ(image.size(), Size(10.7, 5.2));
    ASSERT_EQ(image.representations().size(), 1u);
    EXPECT_EQ(image.representations().front().size(), QSize(10, 5));
}

TEST(ImageBuilder, DrawingIsYUpWithOneUnitAPixel)
{
    SentinelContext sentinel;
    ImageBuilder builder;
    GraphicsContext* drawing = builder.startWithSize(4, 3);
    ASSERT_NE(drawing, nullptr);
    EXPECT_FALSE(drawing->isFlipped());
    drawing->setFillColor(1, 0, 0, 1);
    drawing->fillRect(Rect(0, 0, 4, 1)); // the bottom row
    drawing->setFillColor(0, 0, 1, 1);
    drawing->fillRect(Rect(0, 2, 1, 1)); // the top-left pixel
    const PlatformImage image = builder.consumeImage();
    ASSERT_FALSE(image.isNull());
    const QImage pixels = image.representations().front();
    saveForReview(pixels, QStringLiteral("image-builder-y-up"));
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(imagePixel(pixels, x, 2), kRed) << "bottom row, column " << x;
    EXPECT_EQ(imagePixel(pixels, 0, 0), kBlue);
    EXPECT_EQ(imagePixel(pixels, 1, 0), kClear);
    EXPECT_EQ(imagePixel(pixels, 1, 1), kClear);
}

TEST(ImageBuilder, ConsumingEmptiesTheBuilder)
{
    SentinelContext sentinel;
    ImageBuilder never;
    EXPECT_TRUE(never.consumeImage().isNull());
    EXPECT_EQ(GraphicsContext::current(), sentinel.get());

    ImageBuilder builder;
    ASSERT_NE(builder.startWithSize(3, 3), nullptr);
    EXPECT_FALSE(builder.consumeImage().isNull());
    EXPECT_TRUE(builder.consumeImage().isNull()) << "a second consume has nothing";
    EXPECT_EQ(GraphicsContext::current(), sentinel.get());

    // The builder can be used again.
    ASSERT_NE(builder.startWithSize(2, 2), nullptr);
    EXPECT_EQ(builder.consumeImage().size(), Size(2, 2));
    EXPECT_EQ(GraphicsContext::current(), sentinel.get());
}

TEST(ImageBuilder, AFailedStartGivesNullAndStillRestoresOnConsume)
{
    SentinelContext sentinel;
    ImageBuilder builder;
    EXPECT_EQ(builder.startWithSize(0.5, 10), nullptr);
    EXPECT_EQ(GraphicsContext::current(), nullptr) << "no context to draw into while started";
    EXPECT_TRUE(builder.consumeImage().isNull());
    EXPECT_EQ(GraphicsContext::current(), sentinel.get());
}

TEST(ImageBuilder, RestartingKeepsTheContextSavedFirst)
{
    SentinelContext sentinel;
    ImageBuilder builder;
    ASSERT_NE(builder.startWithSize(2, 2), nullptr);
    GraphicsContext* second = builder.startWithSize(5, 4);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GraphicsContext::current(), second);
    const PlatformImage image = builder.consumeImage();
    EXPECT_EQ(image.size(), Size(5, 4));
    EXPECT_EQ(GraphicsContext::current(), sentinel.get());
}

TEST(ImageBuilder, DestroyingAStartedBuilderRestoresTheCurrentContext)
{
    SentinelContext sentinel;
    {
        ImageBuilder builder;
        ASSERT_NE(builder.startWithSize(4, 4), nullptr);
    }
    EXPECT_EQ(GraphicsContext::current(), sentinel.get());
}
