#include "mindmap/PlanetDrawer.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"
#include "tests/overview/OverviewTestSupport.h"
#include "tests/overview/ScrollViewTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <cmath>
#include <random>

namespace corvex {
namespace {

using test::ScrollViewRig;

// The node's planet drawn alone, as the tiles draw it, at a zoom; y-down, top row first.
QImage planetAlone(const GraphNode& node, float zoom)
{
    PlanetDrawer drawer(node.parent() ? 5 : 4);
    const GraphNodeDrawing& drawing = node.drawing();
    drawer.setScale(zoom);
    drawer.setNoteNumber(node.noteNumber() >= 1 ? -1 : 0);
    drawer.setBaseColor(drawing.color);
    drawer.setImage(drawing.image);
    drawer.setIsLink(drawing.isLink);
    drawer.setShowWebLink(drawing.hasURL);
    drawer.setText(drawing.text);
    drawer.setIconImage(drawing.icon);
    const Size size = drawer.scaledSize();
    auto context = GraphicsContext::createBitmap(std::ceil(size.width), std::ceil(size.height));
    context->translateCTM(0, context->bitmapHeight());
    context->scaleCTM(1, -1);
    drawer.drawInCurrentContext(*context);
    return context->makeImage();
}

int channelDistance(QRgb a, QRgb b)
{
    return std::max(
        {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

void saveRendering(const QImage& image, const QString& name)
{
    const QString dir = test::testOutputDir() + QStringLiteral("/overview");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// The overview of a 1,000-idea document at zoom 1, centred in turn on 10 seeded ideas: once
// the tiles are ready, the pixel 40 points above the middle is that pixel of the idea's
// planet drawn alone.
TEST(OverviewRendering, TilesShowEachPlanetWhereTheLayoutPutsIt)
{
    ScrollViewRig rig;
    const IdeaPtr root = test::documentTree(test::makeDocumentTree(1000, 8, 26));
    ASSERT_TRUE(root);
    rig.show(root);
    saveRendering(rig.window->renderToImage(1), QStringLiteral("document_1000_fit"));
    rig.view->zoomInCenter(1.0f / rig.view->zoomScale());
    const float zoom = rig.view->zoomScale();
    EXPECT_NEAR(zoom, 1.0f, 1e-5);
    const GraphTileFactory& factory = *rig.view->tileFactory();

    // Ideas with a plain disc whose probe point no other planet covers.
    std::vector<const GraphNode*> nodes;
    std::vector<const GraphNode*> stack{&factory.root()};
    while (!stack.empty()) {
        const GraphNode* node = stack.back();
        stack.pop_back();
        nodes.push_back(node);
        for (const auto& child : node->children())
            stack.push_back(child.get());
    }
    std::vector<const GraphNode*> candidates;
    for (const GraphNode* node : nodes) {
        if (node->drawing().icon || node->drawing().image.hasImage() || !node->drawing().color)
            continue;
        const Point probe = factory.drawnPosition(*node) - Point(0, 40);
        bool covered = false;
        for (const GraphNode* other : nodes) {
            const Point d = factory.drawnPosition(*other) - probe;
            if (other != node && std::hypot(d.x, d.y) < 80)
                covered = true;
        }
        if (!covered)
            candidates.push_back(node);
    }
    ASSERT_GE(candidates.size(), 10u);
    std::mt19937 random(26);
    std::shuffle(candidates.begin(), candidates.end(), random);
    for (int i = 0; i < 10; ++i) {
        const GraphNode& node = *candidates[std::size_t(i)];
        SCOPED_TRACE(node.identifier().toStdString());
        rig.centreOn(factory.drawnPosition(node));
        ASSERT_TRUE(rig.settle());
        View::runUpdateCycle();
        const QImage shot = rig.window->renderToImage(1);
        if (i < 2)
            saveRendering(shot, QStringLiteral("document_1000_zoom1_%1").arg(i));
        const QImage alone = planetAlone(node, zoom);
        const QRgb expected = alone.pixel(alone.width() / 2, int(alone.height() / 2 - 40 * zoom));
        const QRgb seen = shot.pixel(800, 460);
        EXPECT_LE(channelDistance(seen, expected), 24)
            << std::hex << seen << " vs " << expected << " at zoom " << zoom << " of a view at "
            << rig.view->graphView()->zoomScale();
    }
}

// The share of ideas whose planet's laid-out place (its drawn position, where the overview maps
// it on the window) shows something else than the background.
double shareShown(const ScrollViewRig& rig, const QImage& shot)
{
    const GraphTileFactory& factory = *rig.view->tileFactory();
    const FlatGraph& graph = factory.graph();
    const QRgb background = shot.pixel(0, 0);
    std::size_t shown = 0;
    for (std::size_t i = 0; i < graph.size(); ++i) {
        const Point window = rig.windowPointOfContent(factory.drawnPosition(i));
        const int x = int(std::floor(window.x));
        const int y = int(std::floor(shot.height() - window.y));
        if (x >= 0 && y >= 0 && x < shot.width() && y < shot.height() && shot.pixel(x, y) != background)
            ++shown;
    }
    return double(shown) / double(graph.size());
}

// Large maps at the fitting zoom of a 1600 x 1200 overview: a planet is then a pixel or a
// fraction of one (at 100,000 ideas a pixel spans thousands of content units), and every idea
// still shows as a dot of its colour where the layout put it.
TEST(LargeOverviewDrawing, EveryIdeaShowsAtTheFittingZoom)
{
    for (const int count : {5000, 20000, 100000}) {
        SCOPED_TRACE(count);
        const std::vector<IdeaPtr> ideas = test::ideasFromFactory(test::makeDocumentTree(count, 8, 54));
        ScrollViewRig rig(Size(1600, 1200));
        rig.show(ideas.front());
        const QImage shot = rig.window->renderToImage(1);
        saveRendering(shot, QStringLiteral("fit_%1").arg(count));
        const double share = shareShown(rig, shot);
        EXPECT_GE(share, 0.95) << "zoom " << rig.view->zoomScale();
    }
}

// A map kept with many pictures (one idea in 56, 160 x 160, stored bytes) in a 1600 x 1200
// overview: at the fitting zoom every idea shows as a dot of its own colour and no picture is
// decoded; zoomed in until pictures show as small discs and then to 1, only the pictures of
// planets drawn are decoded, and the planets at 1 show their pictures.
TEST(LargeOverviewDrawing, PicturesAreDecodedOnlyWhereTheyShow)
{
    const IdeaPtr root = test::documentTree(test::makeTree(test::TreeShape::PictureRich, 20000, 8, 54));
    ASSERT_TRUE(root);
    ScrollViewRig rig(Size(1600, 1200));
    // The same map without pictures first: the planets' own artwork is decoded then.
    rig.show(test::documentTree(test::makeTree(test::TreeShape::PictureRichWithoutPictures, 20000, 8, 54)));
    const quint64 before = ImageCodec::decodeCount();
    rig.show(root);
    const QImage fit = rig.window->renderToImage(1);
    saveRendering(fit, QStringLiteral("picture_rich_fit"));
    EXPECT_EQ(ImageCodec::decodeCount(), before);
    EXPECT_GE(shareShown(rig, fit), 0.95) << "zoom " << rig.view->zoomScale();

    const FlatGraph& graph = rig.view->tileFactory()->graph();
    std::size_t pictures = 0;
    std::size_t firstPicture = 0;
    for (std::size_t i = graph.size(); i-- > 1;) {
        if (graph.picture(i).hasImage()) {
            ++pictures;
            firstPicture = i;
        }
    }
    // Link ideas show their targets' pictures too.
    ASSERT_GE(pictures, (20000u + 55) / 56);
    const Point pictured = rig.view->tileFactory()->drawnPosition(firstPicture);
    // First with the pictures' discs about 5 pixels across (112 content units at zoom 1).
    for (const float zoom : {0.045f, 1.0f}) {
        SCOPED_TRACE(zoom);
        rig.view->zoomInCenter(zoom / rig.view->zoomScale());
        rig.centreOn(pictured);
        ASSERT_TRUE(rig.settle());
        View::runUpdateCycle();
        const QImage shot = rig.window->renderToImage(1);
        saveRendering(shot, QStringLiteral("picture_rich_zoom_%1").arg(double(zoom)));
        std::size_t held = 0;
        for (std::size_t i = 1; i < graph.size(); ++i)
            held += graph.picture(i).holdsPixels() ? 1 : 0;
        const quint64 decodes = ImageCodec::decodeCount() - before;
        EXPECT_GT(decodes, 0u);
        EXPECT_GE(decodes, held);
        // Small discs keep a colour alone; planets at 1 hold the pictures they show.
        if (zoom < 1) {
            EXPECT_EQ(held, 0u);
        } else {
            EXPECT_GT(held, 0u);
            EXPECT_LT(held, pictures / 10);
        }
    }
    // The picture in the middle: not the background, not one flat colour.
    const QImage middle = rig.window->renderToImage(1).copy(790, 590, 20, 20);
    EXPECT_NE(middle.pixel(0, 0), middle.pixel(19, 19));
}

} // namespace
} // namespace corvex
