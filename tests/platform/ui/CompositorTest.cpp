// The compositor's pictures: reference scenes drawn from the layer rules by
// tests/data/gen/make_layer_references.py, snapshots into bitmap contexts, the redraw
// policy and the window's frames while something moves.

#include "platform/ui/Compositor.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"
#include "platform/ui/AnimationDriver.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerDelegate.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/WindowCompositor.h"
#include "tests/platform/ui/LayerTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <numbers>

using namespace corvex;
using namespace corvex::test;

namespace {

struct Rgba
{
    int r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const Rgba&, const Rgba&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Rgba& c)
    {
        return os << '(' << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ')';
    }
};

// Row 0 is the top of the image.
Rgba pixelAt(const QImage& image, int x, int y)
{
    const QColor c = image.pixelColor(x, y);
    return {c.red(), c.green(), c.blue(), c.alpha()};
}

Rgba pixelAt(GraphicsContext& context, int x, int y)
{
    const uchar* p = context.bitmapData() + y * context.bytesPerRow() + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

bool near(const Rgba& a, const Rgba& b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance && std::abs(a.a - b.a) <= tolerance;
}

void saveLayerOutput(const QImage& image, const QString& name)
{
    const QString dir = testOutputDir() + QStringLiteral("/layers");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

QImage reference(const QString& name)
{
    QFile file(QStringLiteral(CORVEX_LAYER_TEST_DATA "/") + name + QStringLiteral(".png"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ImageCodec::decodePNG(file.readAll());
}

// Compares per channel: at most `edgeShare` of the pixels (antialiased edges, where the
// reference's supersampling and QPainter's coverage differ) may be off by more than
// `tolerance`, and none by more than `worstAllowed`.
void expectMatchesReference(const QImage& ours, const QString& name, int tolerance, double edgeShare,
                            int worstAllowed)
{
    saveLayerOutput(ours, name);
    const QImage expected = reference(name);
    ASSERT_FALSE(expected.isNull()) << "missing reference " << name.toStdString();
    ASSERT_EQ(expected.size(), ours.size()) << name.toStdString();
    QImage diff(ours.size(), QImage::Format_RGBA8888);
    diff.fill(Qt::white);
    int outliers = 0;
    int worst = 0;
    QString worstAt;
    for (int y = 0; y < ours.height(); ++y) {
        for (int x = 0; x < ours.width(); ++x) {
            const Rgba a = pixelAt(ours, x, y);
            const Rgba b = pixelAt(expected, x, y);
            const int d = std::max(
                {std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b), std::abs(a.a - b.a)});
            if (d > worst) {
                worst = d;
                worstAt = QStringLiteral("%1, %2").arg(x).arg(y);
            }
            if (d > tolerance) {
                ++outliers;
                diff.setPixelColor(x, y, QColor(255, 0, 0));
            }
        }
    }
    saveLayerOutput(diff, name + QStringLiteral("_diff"));
    const int pixels = ours.width() * ours.height();
    EXPECT_LE(outliers, int(edgeShare * pixels)) << name.toStdString() << ": " << outliers << " of " << pixels
                                                 << " pixels differ by more than " << tolerance;
    EXPECT_LE(worst, worstAllowed) << name.toStdString() << ": largest difference " << worst << " at "
                                   << worstAt.toStdString();
}

// Draws through a function: the delegate path of drawn contents.
class DrawingDelegate : public LayerDelegate
{
public:
    explicit DrawingDelegate(std::function<void(GraphicsContext&)> draw) : mDraw(std::move(draw)) {}
    void drawLayer(Layer&, GraphicsContext& context) override { mDraw(context); }

private:
    std::function<void(GraphicsContext&)> mDraw;
};

// Counts its drawing and notes the context's orientation.
class CountingLayer : public Layer
{
public:
    QString className() const override { return QStringLiteral("CountingLayer"); }
    void drawInContext(GraphicsContext& context) override
    {
        ++draws;
        lastFlipped = context.isFlipped();
        context.setFillColor(PlatformColor::red());
        context.fillRect(Rect(0, 0, 4, 4));
    }
    int draws = 0;
    bool lastFlipped = false;
};

std::shared_ptr<Layer> layerWithFrame(const Rect& frame, const PlatformColor& background = PlatformColor())
{
    auto layer = Layer::createBackingLayer(false);
    layer->setFrame(frame);
    layer->setBackgroundColor(background);
    return layer;
}

void fillRect(GraphicsContext& context, const Rect& rect, const PlatformColor& color)
{
    context.setFillColor(color);
    context.fillRect(rect);
}

// A window of 64 x 64 points at scale 2 over white, as the reference scenes are.
QImage renderWindow(const std::shared_ptr<Layer>& root)
{
    WindowCompositor window;
    window.setRootLayer(root);
    return window.renderFrame(Size(64, 64), 2);
}

// Keeps the delegates of a scene alive (layers hold them weakly).
std::vector<std::shared_ptr<LayerDelegate>> gDelegates;

void drawWith(Layer& layer, std::function<void(GraphicsContext&)> draw)
{
    auto delegate = std::make_shared<DrawingDelegate>(std::move(draw));
    gDelegates.push_back(delegate);
    layer.setDelegate(delegate);
    layer.setContentsScale(2);
    layer.setNeedsDisplay();
}

QImage quadrantImage()
{
    QImage image = reference(QStringLiteral("contents_quadrants"));
    return image;
}

} // namespace

TEST(CompositorReference, RotatedAndScaledSublayer)
{
    auto root = layerWithFrame(Rect(0, 0, 64, 64), PlatformColor::deviceRGB(0.8, 0.8, 0.8, 1));
    auto child = Layer::create();
    child->setBounds(Rect(0, 0, 24, 16));
    child->setPosition(Point(32, 32));
    child->setTransform(Transform3D::identity().rotate(std::numbers::pi / 6, 0, 0, 1).scale(1.5, 1.5, 1));
    drawWith(*child, [](GraphicsContext& c) {
        EXPECT_FALSE(c.isFlipped());
        fillRect(c, Rect(0, 0, 24, 16), PlatformColor::deviceRGB(0, 0, 1, 1));
        fillRect(c, Rect(0, 8, 12, 8), PlatformColor::red());
        fillRect(c, Rect(12, 0, 12, 8), PlatformColor::deviceRGB(0, 1, 0, 1));
    });
    root->addSublayer(child);
    const QImage image = renderWindow(root);
    ASSERT_EQ(image.size(), QSize(128, 128));
    // Differences only along the layer's edges and its colour borders (smoothed contents).
    expectMatchesReference(image, QStringLiteral("layers_rotated_scaled"), 8, 0.02, 64);
    // The middles of the red and green parts: (6, 12) and (18, 4) of the bounds, scaled by
    // 1.5 about the anchor, turned 30 degrees counter-clockwise, placed at (32, 32).
    EXPECT_EQ(pixelAt(image, 42, 62), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(image, 85, 65), (Rgba{0, 255, 0, 255}));
}

TEST(CompositorReference, FlippedParentWithARawSublayerAndAnUprightImage)
{
    auto root = layerWithFrame(Rect(0, 0, 64, 64), PlatformColor::deviceRGB(1, 1, 0.6, 1));
    auto parent = Layer::createBackingLayer(true);
    parent->setFrame(Rect(8, 12, 48, 40));
    parent->setBackgroundColor(PlatformColor::deviceRGB(0.6, 0.8, 1, 1));
    drawWith(*parent, [](GraphicsContext& c) {
        EXPECT_TRUE(c.isFlipped()) << "a flipped layer draws y-down";
        fillRect(c, Rect(0, 0, 8, 8), PlatformColor::deviceRGB(0, 1, 0, 1));
    });
    root->addSublayer(parent);
    auto raw = Layer::create();
    raw->setAnchorPoint(Point(0, 0));
    raw->setFrame(Rect(4, 6, 20, 12));
    drawWith(*raw, [](GraphicsContext& c) {
        EXPECT_TRUE(c.isFlipped()) << "a raw layer in a flipped tree draws y-down";
        fillRect(c, Rect(0, 0, 20, 12), PlatformColor::deviceRGB(0, 0, 1, 1));
        fillRect(c, Rect(0, 0, 10, 6), PlatformColor::red());
    });
    parent->addSublayer(raw);
    auto pictured = Layer::create();
    pictured->setAnchorPoint(Point(0, 0));
    pictured->setFrame(Rect(28, 20, 16, 16));
    pictured->setContents(quadrantImage());
    ASSERT_FALSE(pictured->contents().isNull());
    parent->addSublayer(pictured);

    const QImage image = renderWindow(root);
    // The 8 x 8 image is scaled up smoothly, the reference's blocks are sharp: the two differ
    // along the quadrant borders only.
    expectMatchesReference(image, QStringLiteral("layers_flipped_parent"), 8, 0.025, 160);
    // The raw layer's red corner is its top-left on screen: (8 + 4, 64 - 12 - 40 + 6) points.
    EXPECT_EQ(pixelAt(image, 2 * 13, 2 * 19), (Rgba{255, 0, 0, 255}));
    // The image is upright: red top-left, black bottom-right.
    EXPECT_EQ(pixelAt(image, 2 * 38, 2 * 34), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(image, 2 * 49, 2 * 47), (Rgba{0, 0, 0, 255}));
}

TEST(CompositorReference, OpacityAppliesToTheLayerAndItsSublayersAsOneGroup)
{
    auto root = layerWithFrame(Rect(0, 0, 64, 64));
    auto group = layerWithFrame(Rect(12, 12, 40, 40));
    group->setOpacity(0.5f);
    group->addSublayer(layerWithFrame(Rect(0, 0, 24, 24), PlatformColor::red()));
    group->addSublayer(layerWithFrame(Rect(16, 16, 24, 24), PlatformColor::deviceRGB(0, 0, 1, 1)));
    root->addSublayer(group);
    auto leaf = layerWithFrame(Rect(2, 50, 10, 10), PlatformColor::deviceRGB(0, 1, 0, 1));
    leaf->setOpacity(0.5f);
    root->addSublayer(leaf);
    auto framed = layerWithFrame(Rect(44, 2, 16, 10), PlatformColor::black());
    framed->setBorderWidth(3);
    framed->setBorderColor(PlatformColor::red());
    framed->setOpacity(0.5f);
    root->addSublayer(framed);

    const QImage image = renderWindow(root);
    expectMatchesReference(image, QStringLiteral("layers_group_opacity"), 2, 0.0, 2);
    // Where the squares overlap only the top one shows, at half strength: no purple.
    const Rgba overlap = pixelAt(image, 2 * 32, 128 - 2 * 32);
    EXPECT_TRUE(near(overlap, Rgba{127, 127, 255, 255}, 1)) << overlap;
    const Rgba border = pixelAt(image, 2 * 45, 128 - 2 * 3);
    EXPECT_TRUE(near(border, Rgba{255, 127, 127, 255}, 1)) << "border over the background, once: " << border;
}

TEST(CompositorReference, MasksClipSublayersToRoundedBoundsUnderTheBorder)
{
    auto root = layerWithFrame(Rect(0, 0, 64, 64));
    auto clip = layerWithFrame(Rect(12, 12, 40, 40), PlatformColor::deviceRGB(0, 0.6, 0, 1));
    clip->setMasksToBounds(true);
    clip->setCornerRadius(10);
    clip->setBorderWidth(2);
    clip->addSublayer(layerWithFrame(Rect(20, 20, 40, 40), PlatformColor::red()));
    root->addSublayer(clip);
    auto square = layerWithFrame(Rect(2.25, 2.25, 10, 10), PlatformColor::deviceRGB(1, 1, 0, 1));
    square->setMasksToBounds(true);
    square->addSublayer(layerWithFrame(Rect(5, 5, 20, 20), PlatformColor::deviceRGB(0, 0, 1, 1)));
    root->addSublayer(square);

    const QImage image = renderWindow(root);
    // Along the rounded edge the border, the masked content and the background each cover
    // part of a pixel: coverage antialiasing lets a little of the colours underneath show
    // where the reference's samples do not.
    expectMatchesReference(image, QStringLiteral("layers_masks"), 8, 0.02, 110);
    // The red square is cut at the clip's rounded top-right corner.
    EXPECT_EQ(pixelAt(image, 2 * 51, 128 - 2 * 51), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(pixelAt(image, 2 * 45, 128 - 2 * 45), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(image, 2 * 60, 128 - 2 * 45), (Rgba{255, 255, 255, 255})) << "nothing outside the clip";
}

TEST(Compositor, WindowBaseIsYUpFromTheBottomLeft)
{
    auto root = layerWithFrame(Rect(0, 0, 20, 10));
    root->addSublayer(layerWithFrame(Rect(0, 0, 5, 5), PlatformColor::red()));
    const QImage image = Compositor::renderToImage(*root, Size(20, 10), 1);
    ASSERT_EQ(image.size(), QSize(20, 10));
    EXPECT_EQ(pixelAt(image, 0, 9), (Rgba{255, 0, 0, 255})) << "bottom-left";
    EXPECT_EQ(pixelAt(image, 0, 0), (Rgba{0, 0, 0, 0})) << "top-left stays clear";
    EXPECT_TRUE(Compositor::renderToImage(*root, Size(0, 10), 1).isNull());
}

TEST(Compositor, RenderInContextDrawsASubtreeInTheLayersOwnSpace)
{
    auto layer = layerWithFrame(Rect(300, 200, 40, 30), PlatformColor::red());
    layer->setTransform(Transform3D::makeScale(3, 3, 1)); // the layer's own placement does not apply
    auto corner = layerWithFrame(Rect(0, 0, 10, 10), PlatformColor::deviceRGB(0, 0, 1, 1));
    layer->addSublayer(corner);
    auto hidden = layerWithFrame(Rect(30, 20, 10, 10), PlatformColor::deviceRGB(0, 1, 0, 1));
    hidden->setHidden(true);
    layer->addSublayer(hidden);

    auto context = GraphicsContext::createBitmap(40, 30);
    ASSERT_NE(context, nullptr);
    layer->renderInContext(*context);
    EXPECT_EQ(pixelAt(*context, 0, 29), (Rgba{0, 0, 255, 255}))
        << "(0, 0) is the bottom-left of a y-up context";
    EXPECT_EQ(pixelAt(*context, 0, 0), (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(pixelAt(*context, 39, 0), (Rgba{255, 0, 0, 255})) << "hidden layers are not drawn";
    EXPECT_EQ(context->gStateDepth(), 0);

    // Flipped geometry: the sublayer's (0, 0) is the top-left.
    layer->setGeometryFlipped(true);
    auto flipped = GraphicsContext::createBitmap(40, 30);
    layer->renderInContext(*flipped);
    EXPECT_EQ(pixelAt(*flipped, 0, 0), (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(pixelAt(*flipped, 0, 29), (Rgba{255, 0, 0, 255}));
}

TEST(Compositor, RenderInContextShowsModelValuesAndCurrentContents)
{
    ScopedVirtualTime time;
    auto layer = layerWithFrame(Rect(0, 0, 20, 20));
    auto moving = layerWithFrame(Rect(0, 0, 10, 10), PlatformColor::deviceRGB(0, 0, 1, 1));
    layer->addSublayer(moving);
    time.advance(0);
    moving->setPosition(Point(10, 10));
    ASSERT_TRUE(moving->hasAnimations());
    auto drawn = std::make_shared<CountingLayer>();
    drawn->setAnchorPoint(Point(0, 0));
    drawn->setFrame(Rect(0, 10, 5, 5));
    drawn->setNeedsDisplay();
    layer->addSublayer(drawn);

    auto context = GraphicsContext::createBitmap(20, 20);
    layer->renderInContext(*context);
    EXPECT_EQ(pixelAt(*context, 15, 5), (Rgba{0, 0, 255, 255}))
        << "the model position, not the presented one";
    EXPECT_EQ(pixelAt(*context, 5, 15), (Rgba{0, 0, 0, 0}));
    EXPECT_EQ(drawn->draws, 1) << "marked contents are drawn for the snapshot";
    EXPECT_EQ(pixelAt(*context, 1, 8), (Rgba{255, 0, 0, 255}));
}

TEST(Compositor, ContentsAreRedrawnOnlyWhenMarked)
{
    auto root = layerWithFrame(Rect(0, 0, 200, 200));
    auto layer = std::make_shared<CountingLayer>();
    layer->setBounds(Rect(0, 0, 140, 140));
    layer->setContentsScale(2);
    root->addSublayer(layer);
    Compositor::prepareFrame(*root);
    EXPECT_EQ(layer->draws, 0) << "a new layer draws nothing until marked";
    EXPECT_TRUE(layer->contents().isNull());

    layer->setNeedsDisplay();
    layer->setNeedsDisplay();
    EXPECT_EQ(layer->draws, 0) << "drawing waits for the frame";
    Compositor::prepareFrame(*root);
    EXPECT_EQ(layer->draws, 1);
    EXPECT_FALSE(layer->needsDisplay());
    EXPECT_EQ(layer->contents().size(), QSize(280, 280)) << "bounds times the contents scale";
    EXPECT_FALSE(layer->lastFlipped);

    layer->setPosition(Point(50, 50));
    layer->setOpacity(0.5f);
    layer->setBounds(Rect(0, 0, 100, 100));
    Compositor::prepareFrame(*root);
    Compositor::renderToImage(*root, Size(200, 200), 1);
    EXPECT_EQ(layer->draws, 1) << "moving, fading and resizing reuse the cached contents";

    layer->setNeedsDisplayOnBoundsChange(true);
    layer->setBounds(Rect(0, 0, 120, 120));
    Compositor::prepareFrame(*root);
    EXPECT_EQ(layer->draws, 2) << "asked to redraw on resizing";
    layer->setGeometryFlipped(false);
    root->setGeometryFlipped(true);
    layer->setNeedsDisplay();
    Compositor::prepareFrame(*root);
    EXPECT_EQ(layer->draws, 3);
    EXPECT_TRUE(layer->lastFlipped) << "under a flipped superlayer the context is y-down";
}

TEST(Compositor, ContentsInTheBitmapByteOrderLookTheSameConvertedOrNot)
{
    auto root = layerWithFrame(Rect(0, 0, 32, 32));
    auto layer = Layer::create();
    layer->setBounds(Rect(0, 0, 20, 20));
    layer->setPosition(Point(16.3, 15.7));
    layer->setTransform(Transform3D::makeScale(1.1, 0.9, 1));
    layer->setContents(quadrantImage().convertToFormat(QImage::Format_RGBA8888_Premultiplied));
    layer->setOpacity(0.8f);
    root->addSublayer(layer);
    Compositor::Options converted;
    Compositor::Options stored;
    stored.convertContents = false;
    const QImage a = Compositor::renderToImage(*root, Size(32, 32), 2, converted);
    const QImage b = Compositor::renderToImage(*root, Size(32, 32), 2, stored);
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const Rgba p = pixelAt(a, x, y), q = pixelAt(b, x, y);
            worst = std::max(
                {worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b), std::abs(p.a - q.a)});
        }
    }
    EXPECT_LE(worst, 1);
    EXPECT_EQ(layer->compositingContents(true).format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(layer->contents().format(), QImage::Format_RGBA8888_Premultiplied)
        << "the stored contents stay as set";
}

TEST(WindowCompositor, KeepsAskingForFramesWhileAnythingMoves)
{
    ScopedVirtualTime time;
    WindowCompositor window;
    auto root = layerWithFrame(Rect(0, 0, 100, 100));
    auto moving = layerWithFrame(Rect(0, 0, 10, 10), PlatformColor::red());
    root->addSublayer(moving);
    window.setRootLayer(root);
    time.advance(0);
    window.renderFrame(Size(100, 100), 1);
    EXPECT_FALSE(window.isFramePending());
    const int requestsBefore = window.frameRequestCount();

    moving->setPosition(Point(90, 10));
    EXPECT_TRUE(window.isFramePending());
    int frames = 0;
    for (int i = 0; i < 30; ++i) {
        time.advance(AnimationDriver::FrameInterval);
        if (window.isFramePending()) {
            const QImage frame = window.renderFrame(Size(100, 100), 1);
            ++frames;
            if (i == 7)
                saveLayerOutput(frame, QStringLiteral("window_frame_mid_animation"));
        }
    }
    // The 0.25 s move is painted at every step of the driver (about 15), then nothing more.
    EXPECT_GE(frames, 14);
    EXPECT_LE(frames, 16);
    EXPECT_GE(window.frameRequestCount() - requestsBefore, frames);
    EXPECT_FALSE(window.isFramePending());
    const QImage last = window.renderFrame(Size(100, 100), 1);
    EXPECT_EQ(pixelAt(last, 95, 85), (Rgba{255, 0, 0, 255})) << "at the model position";
    EXPECT_EQ(pixelAt(last, 5, 85), (Rgba{255, 255, 255, 255}));
}

TEST(WindowCompositor, PaintsTheMidpointOfAMove)
{
    ScopedVirtualTime time;
    WindowCompositor window;
    window.setBackgroundColor(PlatformColor::black());
    auto root = layerWithFrame(Rect(0, 0, 100, 20));
    auto moving = layerWithFrame(Rect(0, 0, 10, 10), PlatformColor::deviceRGB(0, 1, 0, 1));
    root->addSublayer(moving);
    window.setRootLayer(root);
    time.advance(0);
    Transaction::begin();
    Transaction::setAnimationDuration(0.2);
    Transaction::setAnimationTimingFunction(TimingFunction::linear());
    moving->setPosition(Point(80, 0));
    Transaction::commit();
    time.advance(0.1);
    const QImage frame = window.renderFrame(Size(100, 20), 1);
    EXPECT_EQ(pixelAt(frame, 45, 15), (Rgba{0, 255, 0, 255})) << "half way: x from 40 to 50";
    EXPECT_EQ(pixelAt(frame, 35, 15), (Rgba{0, 0, 0, 255}));
    EXPECT_EQ(pixelAt(frame, 55, 15), (Rgba{0, 0, 0, 255}));
}

TEST(Compositor, RepeatedFramesOfScaledContentsLookLikeTheFirst)
{
    auto root = layerWithFrame(Rect(0, 0, 40, 40));
    auto layer = Layer::create();
    layer->setBounds(Rect(0, 0, 16, 16));
    layer->setPosition(Point(20.3, 19.6));
    layer->setTransform(Transform3D::makeScale(1.3, 1.7, 1));
    layer->setOpacity(0.8f);
    layer->setContents(quadrantImage());
    root->addSublayer(layer);
    WindowCompositor window;
    window.setRootLayer(root);

    // The first frame scales the contents; later frames of the unchanged layer copy a
    // device-resolution rendition: the pixels must not change.
    const QImage first = window.renderFrame(Size(40, 40), 2);
    for (int frame = 2; frame <= 3; ++frame) {
        const QImage later = window.renderFrame(Size(40, 40), 2);
        int worst = 0;
        for (int y = 0; y < first.height(); ++y) {
            for (int x = 0; x < first.width(); ++x) {
                const Rgba p = pixelAt(first, x, y), q = pixelAt(later, x, y);
                worst = std::max({worst, std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)});
            }
        }
        EXPECT_LE(worst, 1) << "frame " << frame;
    }

    // New contents replace the rendition at once.
    QImage green(8, 8, QImage::Format_ARGB32_Premultiplied);
    green.fill(QColor(0, 255, 0));
    layer->setContents(green);
    const QImage changed = window.renderFrame(Size(40, 40), 2);
    const Rgba centre = pixelAt(changed, 40, 41);
    EXPECT_TRUE(near(centre, Rgba{51, 255, 51, 255}, 1)) << centre;
}

// More scaled layers than a frame makes copies of: those left over are drawn through the
// scaler worked out in an earlier frame, and every frame is the first one's pixels.
TEST(Compositor, ScaledLayersOverAFramesCopiesDrawTheSameFrameAfterFrame)
{
    auto root = layerWithFrame(Rect(0, 0, 200, 40));
    for (int i = 0; i < 12; ++i) {
        auto layer = Layer::create();
        layer->setBounds(Rect(0, 0, 16, 16));
        layer->setPosition(Point(8.3 + 16 * i, 19.6));
        layer->setTransform(Transform3D::makeScale(0.9, 1.3, 1));
        layer->setContents(quadrantImage());
        root->addSublayer(layer);
    }
    WindowCompositor window;
    window.setRootLayer(root);
    const QImage first = window.renderFrame(Size(200, 40), 2);
    for (int frame = 2; frame <= 4; ++frame)
        EXPECT_TRUE(window.renderFrame(Size(200, 40), 2) == first) << "frame " << frame;
}

// A frame over an opaque background is not cleared first: the background must reach every
// pixel, at fractional scales too. The image freed just before (all red) is the one the
// allocator hands out again, so a pixel left out would show red.
TEST(WindowCompositor, AnOpaqueBackgroundCoversEveryPixelOfAFrame)
{
    struct Case
    {
        const char* name;
        Size size;
        double scale;
        bool withRoot;
    };
    const Case cases[] = {
        {"no tree, scale 1", Size(33, 21), 1, false},
        {"no tree, scale 1.5", Size(33, 21), 1.5, false},
        {"empty tree, scale 1.5", Size(33, 21), 1.5, true},
        {"empty tree, scale 2", Size(33, 21), 2, true},
        {"empty tree, scale 1.25", Size(31, 19), 1.25, true},
    };
    for (const Case& c : cases) {
        WindowCompositor red;
        red.setBackgroundColor(PlatformColor::red());
        (void)red.renderFrame(c.size, c.scale);
        WindowCompositor window;
        window.setBackgroundColor(PlatformColor::deviceRGB(0, 0, 1, 1));
        if (c.withRoot)
            window.setRootLayer(layerWithFrame(Rect(0, 0, 4, 4)));
        const QImage frame = window.renderFrame(c.size, c.scale);
        ASSERT_FALSE(frame.isNull()) << c.name;
        int wrong = 0;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                wrong += pixelAt(frame, x, y) == Rgba{0, 0, 255, 255} ? 0 : 1;
        EXPECT_EQ(wrong, 0) << c.name;
    }
}

// A background that is not opaque is what the frame shows where nothing is drawn, never
// what a reused image held before.
TEST(WindowCompositor, ATranslucentOrClearBackgroundIsNotBlendedOverOldPixels)
{
    const struct
    {
        const char* name;
        PlatformColor background;
        Rgba expected;
    } cases[] = {
        {"clear", PlatformColor::clear(), Rgba{0, 0, 0, 0}},
        {"half blue", PlatformColor::deviceRGB(0, 0, 1, 0.5), Rgba{0, 0, 255, 128}},
    };
    for (const auto& c : cases) {
        for (bool withRoot : {false, true}) {
            WindowCompositor red;
            red.setBackgroundColor(PlatformColor::red());
            (void)red.renderFrame(Size(30, 20), 1);
            WindowCompositor window;
            window.setBackgroundColor(c.background);
            if (withRoot)
                window.setRootLayer(layerWithFrame(Rect(0, 0, 4, 4)));
            const QImage frame = window.renderFrame(Size(30, 20), 1);
            ASSERT_FALSE(frame.isNull());
            EXPECT_TRUE(near(pixelAt(frame, 20, 10), c.expected, 1))
                << c.name << (withRoot ? " with a tree" : " without a tree") << ": "
                << pixelAt(frame, 20, 10);
        }
    }
}

// Compositor::renderToImage clears under a background that is not opaque and not under an
// opaque one; either way no pixel holds what the image's memory held.
TEST(Compositor, RenderToImageShowsItsBackgroundEverywhere)
{
    auto root = layerWithFrame(Rect(0, 0, 4, 4));
    for (const auto& [background, expected] :
         {std::pair{PlatformColor::deviceRGB(0, 1, 0, 1), Rgba{0, 255, 0, 255}},
          std::pair{PlatformColor::clear(), Rgba{0, 0, 0, 0}}}) {
        Compositor::Options red;
        red.background = PlatformColor::red();
        (void)Compositor::renderToImage(*root, Size(27, 13), 1.5, red);
        Compositor::Options options;
        options.background = background;
        const QImage image = Compositor::renderToImage(*root, Size(27, 13), 1.5, options);
        ASSERT_FALSE(image.isNull());
        int wrong = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                wrong += pixelAt(image, x, y) == expected ? 0 : 1;
        EXPECT_EQ(wrong, 0) << expected;
    }
}
