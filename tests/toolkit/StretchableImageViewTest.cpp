// The image views: StretchableImageView's geometry (the image brought to the view's height,
// caps as fractions of its larger side), the nine tiles and their drawing, caps that do not
// fit and images with a zero side (refused rather than drawn with negative tiles), redraw on
// every resize; ExampleView's frame, alignment, scaling and alpha.

#include "toolkit/StretchableImageView.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Window.h"
#include "tests/graphics/ImageTestSupport.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "toolkit/ColoredView.h"
#include "toolkit/ExampleView.h"
#include "toolkit/ViewExtensions.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// A square picture frame: a red border `border` pixels wide around a blue inside.
QImage framedSquare(int side, int border)
{
    QImage image = filledImage(side, side, kBlue);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            if (x < border || y < border || x >= side - border || y >= side - border)
                setPixel(image, x, y, kRed);
        }
    }
    return image;
}

Size sizeOf(const PlatformImage& image)
{
    return image.isNull() ? Size() : image.size();
}

} // namespace

// ---- Geometry and tiles ----

TEST(StretchableImageView, KeepsItsImageAspectRatioAndCapsAndAsksToBeDrawn)
{
    const PlatformImage image(filledImage(200, 100, kBlue));
    auto view = StretchableImageView::create(image, Point(0.1, 0.2), Point(0.3, 0.4));
    EXPECT_DOUBLE_EQ(view->aspectRatio(), 2.0);
    EXPECT_EQ(view->scaleTopLeft(), Point(0.1, 0.2));
    EXPECT_EQ(view->scaleBottomRight(), Point(0.3, 0.4));
    EXPECT_EQ(view->image().size(), Size(200, 100));
    EXPECT_TRUE(view->needsDisplay());
    EXPECT_TRUE(view->isFlipped()) << "a BaseView";
}

TEST(StretchableImageView, AFortyPointViewBringsTheImageToItsHeightAndCutsEightPointCaps)
{
    const PlatformImage image(filledImage(200, 100, kBlue));
    auto view = StretchableImageView::create(image, Point(0.1, 0.1), Point(0.1, 0.1));
    view->setFrame(Rect(0, 0, 120, 40));
    const StretchableImageView::Geometry g = view->geometryForBounds();
    EXPECT_EQ(g.imageSize, Size(80, 40));
    EXPECT_EQ(g.side, 80);
    EXPECT_EQ(g.topLeftCaps, Point(8, 8));
    EXPECT_EQ(g.bottomRightCaps, Point(8, 8));

    PlatformImage sized = image;
    sized.setSize(g.imageSize);
    const auto parts = StretchableImageView::cutNineParts(sized, g.topLeftCaps, g.bottomRightCaps);
    EXPECT_EQ(sizeOf(parts.topLeft), Size(8, 8));
    EXPECT_EQ(sizeOf(parts.topRight), Size(8, 8));
    EXPECT_EQ(sizeOf(parts.bottomLeft), Size(8, 8));
    EXPECT_EQ(sizeOf(parts.bottomRight), Size(8, 8));
    EXPECT_EQ(sizeOf(parts.top), Size(64, 8));
    EXPECT_EQ(sizeOf(parts.bottom), Size(64, 8));
    EXPECT_EQ(sizeOf(parts.left), Size(8, 24));
    EXPECT_EQ(sizeOf(parts.right), Size(8, 24));
    EXPECT_EQ(sizeOf(parts.center), Size(64, 24)) << "the middle tiles are 64 x 24";
    // The tiles keep the source's resolution: 2.5 pixels a point here.
    ASSERT_FALSE(parts.center.isNull());
    EXPECT_EQ(parts.center.representations().front().size(), QSize(160, 60));
}

TEST(StretchableImageView, TilesCutTheMatchingRegionsOfTheImage)
{
    // Quadrants red, green / blue, white: caps of half the image give one colour a corner.
    QImage quadrants(8, 8, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            setPixel(quadrants, x, y, y < 4 ? (x < 4 ? kRed : kGreen) : (x < 4 ? kBlue : kWhite));
    }
    const auto parts = StretchableImageView::cutNineParts(PlatformImage(quadrants), Point(4, 4), Point(4, 4));
    EXPECT_TRUE(parts.center.isNull()) << "no middle";
    EXPECT_TRUE(parts.top.isNull());
    ASSERT_FALSE(parts.topLeft.isNull());
    EXPECT_EQ(imagePixel(parts.topLeft.representations().front(), 0, 0), kRed)
        << "the top left is the top on screen";
    EXPECT_EQ(imagePixel(parts.topRight.representations().front(), 3, 3), kGreen);
    EXPECT_EQ(imagePixel(parts.bottomLeft.representations().front(), 0, 0), kBlue);
    EXPECT_EQ(imagePixel(parts.bottomRight.representations().front(), 0, 0), kWhite);
}

TEST(StretchableImageView, CapsThatDoNotFitAreCutDownAndNoTileHasANegativeSize)
{
    const PlatformImage image(filledImage(80, 40, kBlue));
    // Left and right 48 each on a width of 80; top 48 on a height of 40; negative and NaN caps.
    const auto parts = StretchableImageView::cutNineParts(image, Point(48, 48), Point(48, -5));
    EXPECT_EQ(sizeOf(parts.topLeft), Size(48, 40)) << "the left and top caps first, each at most the image";
    EXPECT_EQ(sizeOf(parts.topRight), Size(32, 40)) << "the right cap gets what is left";
    EXPECT_TRUE(parts.top.isNull()) << "no middle column";
    EXPECT_TRUE(parts.center.isNull());
    EXPECT_TRUE(parts.left.isNull()) << "no middle row";
    EXPECT_TRUE(parts.bottomLeft.isNull()) << "a negative cap counts as 0";

    const auto odd = StretchableImageView::cutNineParts(image, Point(std::nan(""), 10), Point(10, 10));
    EXPECT_TRUE(odd.topLeft.isNull()) << "a cap that is not a number counts as 0";
    EXPECT_EQ(sizeOf(odd.top), Size(70, 10));
    EXPECT_EQ(sizeOf(odd.center), Size(70, 20));

    // Drawing such caps draws the corners that are left and nothing between them.
    auto context = GraphicsContext::createBitmap(100, 50);
    ASSERT_NE(context, nullptr);
    StretchableImageView::drawScalableImage(*context, image, Point(48, 48), Point(48, 48),
                                            Rect(0, 0, 100, 50));
    EXPECT_EQ(bitmapPixel(*context, 10, 10), kBlue) << "the 48 x 40 top-left corner";
    EXPECT_EQ(bitmapPixel(*context, 90, 10), kBlue) << "the 32 x 40 top-right corner";
    EXPECT_EQ(bitmapPixel(*context, 50, 10), kClear) << "no middle column";
    EXPECT_EQ(bitmapPixel(*context, 10, 45), kClear) << "no bottom row";
}

TEST(StretchableImageView, AnImageWithAZeroSideDrawsNothing)
{
    // A height of 0 would give an infinite aspect ratio.
    PlatformImage flat(filledImage(10, 10, kRed));
    flat.setSize(Size(10, 0));
    auto view = StretchableImageView::create(flat, Point(0.1, 0.1), Point(0.1, 0.1));
    EXPECT_EQ(view->aspectRatio(), 0);
    view->setFrame(Rect(0, 0, 40, 20));
    auto context = GraphicsContext::createBitmap(40, 20);
    ASSERT_NE(context, nullptr);
    view->drawRect(view->bounds(), *context);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(bitmapPixel(*context, x, y), kClear) << x << "," << y;
    }

    PlatformImage thin(filledImage(10, 10, kRed));
    thin.setSize(Size(0, 10));
    const auto parts = StretchableImageView::cutNineParts(thin, Point(0, 0), Point(0, 0));
    EXPECT_TRUE(parts.center.isNull());
    StretchableImageView::drawScalableImage(*context, thin, Point(), Point(), Rect(0, 0, 40, 20));
    StretchableImageView::drawScalableImage(*context, PlatformImage(), Point(), Point(), Rect(0, 0, 40, 20));
    EXPECT_EQ(bitmapPixel(*context, 20, 10), kClear);

    // A view without height has no image size to draw.
    auto empty = StretchableImageView::create(PlatformImage(filledImage(10, 10, kRed)), Point(), Point());
    empty->setFrame(Rect(0, 0, 40, 0));
    EXPECT_EQ(empty->geometryForBounds().imageSize, Size(0, 0));
}

// ---- Drawing ----

TEST(StretchableImageView, AllCapsZeroStretchTheWholeImageOverTheBounds)
{
    QImage quadrants(8, 8, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x)
            setPixel(quadrants, x, y, y < 4 ? (x < 4 ? kRed : kGreen) : (x < 4 ? kBlue : kWhite));
    }
    auto view = StretchableImageView::create(PlatformImage(quadrants), Point(0, 0), Point(0, 0));
    view->setFrame(Rect(0, 0, 80, 20));
    const QImage shown = ViewExtensions::imageRepresentation(*view).representations().front();
    saveOutput(shown, QStringLiteral("stretchable_caps_zero"));
    ASSERT_EQ(shown.size(), QSize(80, 20));
    EXPECT_EQ(imagePixel(shown, 10, 3), kRed) << "the top left quarter of the bounds";
    EXPECT_EQ(imagePixel(shown, 70, 3), kGreen);
    EXPECT_EQ(imagePixel(shown, 10, 16), kBlue);
    EXPECT_EQ(imagePixel(shown, 70, 16), kWhite);
}

TEST(StretchableImageView, CornersKeepTheirSizeWhileEdgesAndCentreStretch)
{
    // 20 x 20 pixels with a 4-pixel border: in a 40-point-high view the image is 40 x 40
    // points, the caps 0.2 x 40 = 8 points, exactly the border.
    auto view =
        StretchableImageView::create(PlatformImage(framedSquare(20, 4)), Point(0.2, 0.2), Point(0.2, 0.2));
    view->setFrame(Rect(0, 0, 120, 40));
    ScopedVirtualTime time;
    auto window = Window::create(Size(140, 60));
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    background->addSubview(view);
    view->setFrameOrigin(Point(10, 10));
    const QImage shown = window->renderToImage(2);
    saveOutput(shown, QStringLiteral("stretchable_frame"));
    ASSERT_EQ(shown.size(), QSize(280, 120));
    // Device pixels: the view spans x 20..260, y 20..100; the border is 16 pixels wide.
    EXPECT_EQ(imagePixel(shown, 10, 10), kWhite) << "outside";
    EXPECT_EQ(imagePixel(shown, 28, 28), kRed) << "the top-left corner";
    EXPECT_EQ(imagePixel(shown, 140, 28), kRed) << "the top edge keeps its thickness";
    EXPECT_EQ(imagePixel(shown, 140, 37), kBlue) << "just inside the top edge";
    EXPECT_EQ(imagePixel(shown, 251, 60), kRed) << "the right edge";
    EXPECT_EQ(imagePixel(shown, 242, 60), kBlue) << "just inside the right edge";
    EXPECT_EQ(imagePixel(shown, 140, 60), kBlue) << "the stretched centre";
    EXPECT_EQ(imagePixel(shown, 140, 92), kRed) << "the bottom edge";
    EXPECT_EQ(imagePixel(shown, 20, 99), kRed);
    EXPECT_EQ(imagePixel(shown, 259, 99), kRed);
}

TEST(StretchableImageView, TheClassMethodDrawsIntoTheCurrentContext)
{
    auto context = GraphicsContext::createBitmap(30, 30);
    ASSERT_NE(context, nullptr);
    const PlatformImage image(framedSquare(10, 2));
    StretchableImageView::drawScalableImage(image, Point(2, 2), Point(2, 2), Rect(0, 0, 30, 30));
    EXPECT_EQ(bitmapPixel(*context, 15, 15), kClear) << "no current context: nothing drawn";

    GraphicsContext::setCurrent(context.get());
    StretchableImageView::drawScalableImage(image, Point(2, 2), Point(2, 2), Rect(0, 0, 30, 30));
    GraphicsContext::setCurrent(nullptr);
    EXPECT_EQ(bitmapPixel(*context, 15, 15), kBlue);
    EXPECT_EQ(bitmapPixel(*context, 1, 15), kRed) << "the 2-point left edge";
    EXPECT_EQ(bitmapPixel(*context, 3, 15), kBlue);
}

TEST(StretchableImageView, EveryResizeRedrawsAtOnce)
{
    auto view =
        StretchableImageView::create(PlatformImage(framedSquare(20, 4)), Point(0.2, 0.2), Point(0.2, 0.2));
    view->setFrame(Rect(0, 0, 60, 20));
    view->display();
    EXPECT_FALSE(view->needsDisplay());
    view->setFrame(Rect(0, 0, 90, 30));
    EXPECT_TRUE(view->needsDisplay()) << "a new size";
    view->display();
    view->setFrameOrigin(Point(5, 5));
    EXPECT_TRUE(view->needsDisplay()) << "every frame change, a move too";
    view->display();
    view->setFrameSize(Size(40, 40));
    EXPECT_TRUE(view->needsDisplay());
}

// ---- ExampleView ----

TEST(ExampleView, ShowsItsNamedImageAtNaturalSizeHalfTransparentFromTheTopLeft)
{
    // example_welcome is drawn 300 x 200 points by the artwork generator.
    auto view = ExampleView::createWithNamedImage(QStringLiteral("example_welcome"));
    ASSERT_FALSE(view->image().isNull()) << "the artwork holds the image";
    EXPECT_EQ(view->image().size(), Size(300, 200));
    EXPECT_EQ(view->frame(), Rect(0, 0, 300, 200));
    EXPECT_EQ(view->alphaValue(), 0.5);
    EXPECT_EQ(view->imageAlignment(), BaseImageView::AlignTopLeft);
    EXPECT_EQ(view->imageScaling(), BaseImageView::ScaleNone);
    EXPECT_FALSE(view->isFlipped()) << "the platform's image view is not flipped";

    auto about = ExampleView::createWithNamedImage(QStringLiteral("example_about"));
    ASSERT_FALSE(about->image().isNull());
    EXPECT_EQ(about->frame(), Rect(Point(0, 0), about->image().size()));

    // Anchored at the top left and not scaled in a larger frame.
    about->setFrame(Rect(0, 0, about->image().size().width + 40, about->image().size().height + 30));
    EXPECT_EQ(about->imageRect(), Rect(0, 30, about->image().size().width, about->image().size().height))
        << "y up: the top of a frame 30 points taller is 30 above the image";

    auto missing = ExampleView::createWithNamedImage(QStringLiteral("no_such_example"));
    EXPECT_TRUE(missing->image().isNull());
    EXPECT_EQ(missing->frame(), Rect());
}

TEST(ExampleView, RendersHalfTransparentOverTheScreen)
{
    ScopedVirtualTime time;
    auto example = ExampleView::createWithNamedImage(QStringLiteral("example_welcome"));
    auto window = Window::create(Size(300, 200));
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    background->addSubview(example);
    const QImage shown = window->renderToImage(1);
    saveOutput(shown, QStringLiteral("example_view"));
    const QImage image = example->image().bestRepresentation(Rect(0, 0, 300, 200), 1.0);
    ASSERT_EQ(image.size(), QSize(300, 200));
    // Every pixel is the picture at half its opacity over white.
    int checked = 0;
    for (int y = 0; y < 200; y += 7) {
        for (int x = 0; x < 300; x += 7) {
            const Pixel p = imagePixel(image, x, y);
            const Pixel s = imagePixel(shown, x, y);
            const auto mix = [&](int c) { return c / 2.0 + 255.0 * (1 - p.a / 255.0 / 2.0); };
            ASSERT_NEAR(s.r, mix(p.r), 2.0) << x << "," << y;
            ASSERT_NEAR(s.g, mix(p.g), 2.0) << x << "," << y;
            ASSERT_NEAR(s.b, mix(p.b), 2.0) << x << "," << y;
            ++checked;
        }
    }
    EXPECT_GT(checked, 1000);
}
