// ParentIdeaView: its fixed geometry, the tinted planet with the title (colour by contrast
// setting, following the appearance notification), the picture variant clipped to the
// planet's circle (pixel probes on a rendering), and the guards.

#include "mindmap/ParentIdeaView.h"
#include "mindmap/PlanetDrawer.h"
#include "model/Color.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Layer.h"
#include "tests/mindmap/IdeaViewTestSupport.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/TextLabel.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

ColorPtr brightColour()
{
    return Color::withHSV(QStringLiteral("lemon"), 55.0f, 0.45f, 0.98f, 1.0f, true, nullptr);
}

ColorPtr darkColour()
{
    return Color::withHSV(QStringLiteral("navy"), 225.0f, 0.8f, 0.45f, 1.0f, false, nullptr);
}

// A rendering of the parent view alone at the top left of a black window, one pixel a point.
QImage renderParent(const std::shared_ptr<ParentIdeaView>& view)
{
    IdeaViewWindow w(Size(160, 160));
    w.window->setBackgroundColor(PlatformColor::black());
    w.content->addSubview(view);
    return w.window->renderToImage(1);
}

} // namespace

TEST(ParentIdeaView, TheGeometryIsFixed)
{
    EXPECT_EQ(ParentIdeaView::defaultOrigin(), Point(-34, -36));
    EXPECT_EQ(ParentIdeaView::defaultTextFrame(), Rect(11, 6, 95, 36));
    EXPECT_EQ(ParentIdeaView::defaultRadius(), 155.7328643798828f);

    auto view = ParentIdeaView::createWithText(QStringLiteral("Parent"), darkColour());
    EXPECT_EQ(view->frame(), Rect(0, 0, 120, 120));
    ASSERT_NE(view->contentView(), nullptr);
    EXPECT_EQ(view->contentView()->frame(), Rect(0, 0, 120, 120));
    EXPECT_EQ(view->origin(), Point(-34, -36));
    EXPECT_EQ(view->radius(), ParentIdeaView::defaultRadius());
    ASSERT_NE(view->label(), nullptr);
    EXPECT_EQ(view->label()->frame(), ParentIdeaView::defaultTextFrame());
    EXPECT_EQ(view->label()->superview(), view->contentView().get());
}

TEST(ParentIdeaView, TheParentPlanetArtworkIsTheDiscSeenByTheView)
{
    // White inside the circle of the default origin and radius, clear outside, at 1x and 2x.
    const Point o = ParentIdeaView::defaultOrigin();
    const double r = ParentIdeaView::defaultRadius();
    const PlatformImage artwork = PlatformImage::imageNamed(QStringLiteral("parent_planet"));
    ASSERT_FALSE(artwork.isNull());
    EXPECT_EQ(artwork.size(), Size(120, 120));
    int probed = 0;
    for (const QImage& pixels : artwork.representations()) {
        const double k = pixels.width() / 120.0;
        for (double angle = 0.2; angle < 1.4; angle += 0.2) {
            for (const double along : {r - 1.5, r + 1.5}) {
                const double x = o.x + along * std::cos(angle);
                const double y = o.y + along * std::sin(angle);
                if (x < 0 || y < 0 || x >= 120 || y >= 120)
                    continue; // that part of the circle lies outside the view
                ++probed;
                const QColor pixel = pixels.pixelColor(int(x * k), int(y * k));
                if (along < r) {
                    EXPECT_EQ(pixel.alpha(), 255) << "inside at angle " << angle << ", scale " << k;
                    EXPECT_EQ(pixel.red(), 255);
                    EXPECT_EQ(pixel.blue(), 255);
                } else {
                    EXPECT_EQ(pixel.alpha(), 0) << "outside at angle " << angle << ", scale " << k;
                }
            }
        }
    }
    EXPECT_GT(probed, 12) << "the edge crosses the view";
}

TEST(ParentIdeaView, TheTextVariantShowsTheTintedPlanetCornerWithTheTitle)
{
    const ColorPtr colour = darkColour();
    auto view = ParentIdeaView::createWithText(QStringLiteral("Parent idea"), colour);
    EXPECT_EQ(view->label()->text(), QStringLiteral("Parent idea"));
    EXPECT_FLOAT_EQ(float(view->label()->fontSize()), PlanetDrawer::fontSizeForPlanetType(0));
    EXPECT_EQ(view->label()->textColor(), PlatformColor::white());

    const QImage image = renderParent(view);
    const QColor tint = colour->uiColor().toQColor();
    EXPECT_TRUE(pixelNear(image, 8, 110, tint, 6)) << "inside the planet, below the title";
    EXPECT_TRUE(pixelNear(image, 112, 112, QColor(0, 0, 0), 6)) << "the far corner lies outside the planet";
    EXPECT_TRUE(pixelNear(image, 140, 20, QColor(0, 0, 0), 6)) << "nothing outside the view";
    // Some white title pixel inside the title frame.
    bool white = false;
    for (int y = 6; y < 42 && !white; ++y)
        for (int x = 11; x < 106 && !white; ++x)
            white = pixelNear(image, x, y, QColor(255, 255, 255), 40);
    EXPECT_TRUE(white) << "the title is drawn in its frame";
}

TEST(ParentIdeaView, HighContrastOnABrightParentGreysTheTitleUntilTheNextNotification)
{
    Globals::setHighContrastText(true);
    auto bright = ParentIdeaView::createWithText(QStringLiteral("Bright"), brightColour());
    auto dark = ParentIdeaView::createWithText(QStringLiteral("Dark"), darkColour());
    EXPECT_EQ(bright->label()->textColor(), PlatformColor::deviceWhite(double(0.33f), 1.0));
    EXPECT_EQ(dark->label()->textColor(), PlatformColor::white()) << "a dark colour keeps white text";

    Globals::setHighContrastText(false); // posts the appearance notification
    EXPECT_EQ(bright->label()->textColor(), PlatformColor::white());
    EXPECT_EQ(bright->label()->text(), QStringLiteral("Bright"));

    Globals::changeFontSizeFactor(7);
    EXPECT_FLOAT_EQ(float(bright->label()->fontSize()), PlanetDrawer::fontSizeForPlanetType(0, 7));
}

TEST(ParentIdeaView, ThePictureVariantShowsOnlyThePartInsideTheCircle)
{
    auto view = ParentIdeaView::createWithImage(quadrantPicture(64, 64));
    EXPECT_EQ(view->label(), nullptr);
    view->updateLabel(); // no label: nothing happens
    ASSERT_NE(view->imageView(), nullptr);
    const double r = ParentIdeaView::defaultRadius();
    EXPECT_EQ(view->imageView()->frame(), Rect(-34 - r, -36 - r, 2 * r, 2 * r));

    const QImage image = renderParent(view);
    // The view shows the lower right of the picture's centre: its yellow quadrant.
    const QColor yellow(240, 200, 30);
    EXPECT_TRUE(pixelNear(image, 8, 110, yellow, 30)) << "inside the circle the picture shows";
    EXPECT_TRUE(pixelNear(image, 100, 8, yellow, 30));
    EXPECT_TRUE(pixelNear(image, 112, 112, QColor(0, 0, 0), 6))
        << "the picture's square reaches the corner, the circle does not: masked";
    EXPECT_TRUE(pixelNear(image, 119, 119, QColor(0, 0, 0), 6));
}

TEST(ParentIdeaView, PlacedAnywhereItShowsOnlyItsOwnSquare)
{
    IdeaViewWindow w(Size(300, 300));
    w.window->setBackgroundColor(PlatformColor::black());
    auto picture = ParentIdeaView::createWithImage(quadrantPicture(64, 64));
    picture->setFrame(Rect(150, 150, 120, 120));
    w.content->addSubview(picture);
    const QImage image = w.window->renderToImage(1);
    EXPECT_TRUE(pixelNear(image, 158, 260, QColor(240, 200, 30), 30));
    EXPECT_TRUE(pixelNear(image, 140, 200, QColor(0, 0, 0), 6))
        << "the circle goes on left of the view, unseen";
    EXPECT_TRUE(pixelNear(image, 200, 140, QColor(0, 0, 0), 6)) << "and above it";
}

TEST(ParentIdeaView, AMissingPictureDrawsNothing)
{
    auto view = ParentIdeaView::createWithImage(QVImage());
    EXPECT_TRUE(view->image().isNull());
    const QImage image = renderParent(view);
    EXPECT_TRUE(pixelNear(image, 8, 110, QColor(0, 0, 0), 3));
    EXPECT_TRUE(pixelNear(image, 60, 60, QColor(0, 0, 0), 3));
}

TEST(ParentIdeaView, OddPicturesStayInsideTheView)
{
    for (const QSize size : {QSize(1, 1), QSize(8000, 10), QSize(10, 3000)}) {
        auto view = ParentIdeaView::createWithImage(QVImage(quadrantImage(size.width(), size.height())));
        const QImage image = renderParent(view);
        for (int y = 0; y < 160; y += 2)
            for (int x = 0; x < 160; x += 2)
                if (x >= 120 || y >= 120) {
                    ASSERT_TRUE(pixelNear(image, x, y, QColor(0, 0, 0), 3))
                        << size.width() << "x" << size.height() << " at " << x << ", " << y;
                }
    }
}

TEST(ParentIdeaView, TheDelegateIsHeldWeaklyAndTheTagStrongly)
{
    auto view = ParentIdeaView::createWithText(QStringLiteral("P"), darkColour());
    auto delegate = std::make_shared<RecordingParentDelegate>();
    view->setDelegate(delegate);
    EXPECT_EQ(view->delegate(), delegate);
    delegate.reset();
    EXPECT_EQ(view->delegate(), nullptr);

    IdeaPtr idea = Idea::initWithText(QStringLiteral("P"));
    std::weak_ptr<Idea> weakIdea = idea;
    view->setObjectTag(idea);
    idea.reset();
    EXPECT_FALSE(weakIdea.expired());
    EXPECT_EQ(view->objectTag()->text(), QStringLiteral("P"));
}
