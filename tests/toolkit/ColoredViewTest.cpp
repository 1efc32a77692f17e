// ColoredView: an opaque BaseView filled with its colour (also a pattern), on every draw the
// whole bounds; and a rendered screen of base views for a person to look at.

#include "toolkit/ColoredView.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Window.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "toolkit/BaseImageView.h"

#include <QColor>
#include <QPainter>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// A 4 x 4 pattern: a red 2 x 2 square at its top left, white elsewhere.
QImage patternTile()
{
    QImage tile(4, 4, QImage::Format_ARGB32);
    tile.fill(Qt::white);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x)
            tile.setPixelColor(x, y, QColor(255, 0, 0));
    }
    return tile;
}

QRgb rgbOf(const PlatformColor& color)
{
    return color.toQColor().rgb();
}

} // namespace

TEST(ColoredView, KeepsItsColourIsOpaqueAndAsksToBeDrawn)
{
    const PlatformColor green = PlatformColor::deviceRGB(0, 0.5, 0);
    auto view = ColoredView::create(green);
    EXPECT_EQ(view->color(), green);
    EXPECT_TRUE(view->isOpaque());
    EXPECT_TRUE(view->needsDisplay());
    EXPECT_TRUE(view->isFlipped());
    EXPECT_EQ(view->frame(), Rect());

    auto log = std::make_shared<QStringList>();
    auto layouter = std::make_shared<RecordingLayouter>(log);
    auto laidOut = ColoredView::createWithLayouter(green, layouter);
    EXPECT_TRUE(laidOut->needsDisplay());
    EXPECT_EQ(laidOut->layouter(), layouter);
    laidOut->setFrameSize(Size(10, 10));
    EXPECT_EQ(layouter->count, 1) << "its Layouter lays it out";
}

TEST(ColoredView, FillsTheWholeBoundsWhateverRectangleIsAsked)
{
    auto view = ColoredView::create(PlatformColor::deviceRGB(0, 0, 1));
    view->setFrame(Rect(0, 0, 20, 10));
    auto context = GraphicsContext::createBitmap(20, 10);
    ASSERT_NE(context, nullptr);
    view->drawRect(Rect(2, 2, 3, 3), *context);
    const QImage pixels = context->makeImage();
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(pixels.pixelColor(x, y), QColor(0, 0, 255)) << x << "," << y;
    }
}

TEST(ColoredView, APatternColourTilesTheBounds)
{
    auto window = Window::create(Size(24, 16));
    auto view = ColoredView::create(PlatformColor::patternImage(patternTile()));
    window->setContentView(view);
    const QImage shown = window->renderToImage(1);
    saveOutput(shown, QStringLiteral("colored_view_pattern"));
    ASSERT_EQ(shown.size(), QSize(24, 16));
    int red = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x) {
            const QColor c = shown.pixelColor(x, y);
            red += c == QColor(255, 0, 0) ? 1 : 0;
            ASSERT_TRUE(c == QColor(255, 0, 0) || c == QColor(255, 255, 255)) << x << "," << y;
            if (x + 4 < 24) {
                ASSERT_EQ(c, shown.pixelColor(x + 4, y))
                    << "repeats every 4 pixels across; " << x << "," << y;
            }
            if (y + 4 < 16) {
                ASSERT_EQ(c, shown.pixelColor(x, y + 4)) << "and down; " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(red, 24 * 16 / 4);
}

TEST(BaseViewRendering, AScreenOfBaseViewsComesOutAsLaidOut)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(120, 80));
    auto background = ColoredView::create(PlatformColor::deviceRGB(0.9, 0.9, 0.9));
    window->setContentView(background);
    // A top bar, a side panel and a picture, placed by layout blocks.
    auto bar = ColoredView::create(PlatformColor::deviceRGB(0.2, 0.3, 0.8));
    auto panel = ColoredView::create(PlatformColor::deviceRGB(0.9, 0.5, 0.1));
    auto picture = BaseImageView::createWithImage(PlatformImage::imageNamed(QStringLiteral("test_pattern")));
    picture->setImageScaling(BaseImageView::ScaleProportionallyUpOrDown);
    background->addHostedView(bar, [](View& v, const Rect& b) { v.setFrame(Rect(0, 0, b.size.width, 20)); });
    background->addHostedView(panel, [](View& v, const Rect& b) {
        v.setFrame(Rect(b.size.width - 30, 20, 30, b.size.height - 20));
    });
    background->addHostedView(picture, [](View& v, const Rect&) { v.setFrame(Rect(10, 30, 40, 40)); });
    time.advance(0);

    const QImage shown = window->renderToImage(2);
    saveOutput(shown, QStringLiteral("base_views_screen"));
    ASSERT_EQ(shown.size(), QSize(240, 160));
    EXPECT_EQ(shown.pixel(10, 10), rgbOf(PlatformColor::deviceRGB(0.2, 0.3, 0.8))) << "the bar is at the top";
    EXPECT_EQ(shown.pixel(230, 150), rgbOf(PlatformColor::deviceRGB(0.9, 0.5, 0.1)))
        << "the panel at the right";
    EXPECT_EQ(shown.pixel(100, 150), rgbOf(PlatformColor::deviceRGB(0.9, 0.9, 0.9)));
    // The picture's quadrants upright: red top left, white bottom right.
    EXPECT_EQ(shown.pixelColor(30, 70), QColor(255, 0, 0));
    EXPECT_EQ(shown.pixelColor(90, 70), QColor(0, 255, 0));
    EXPECT_EQ(shown.pixelColor(30, 130), QColor(0, 0, 255));
    EXPECT_EQ(shown.pixelColor(90, 130), QColor(255, 255, 255));

    // Resizing the window lays the screen out again.
    window->setContentSize(Size(200, 100));
    EXPECT_EQ(bar->frame(), Rect(0, 0, 200, 20));
    EXPECT_EQ(panel->frame(), Rect(170, 20, 30, 80));
    saveOutput(window->renderToImage(1), QStringLiteral("base_views_screen_resized"));
}
