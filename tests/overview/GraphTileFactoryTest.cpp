#include "overview/GraphTileFactory.h"
#include "mindmap/PlanetDrawer.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"
#include "tests/overview/OverviewTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <algorithm>
#include <cmath>

namespace corvex {
namespace {

using test::attach;
using test::textIdea;

// The whole content at exactly `zoom` (the bitmap's whole pixels reach a little beyond it).
QImage renderWhole(const GraphTileFactory& factory, double zoom)
{
    const Size size = factory.contentSize();
    const Size pixels(std::ceil(size.width * zoom), std::ceil(size.height * zoom));
    return factory.createTile(Rect(Point(), Size(pixels.width / zoom, pixels.height / zoom)), pixels);
}

void saveOutput(const QImage& image, const QString& name)
{
    const QString dir = test::testOutputDir() + QStringLiteral("/overview");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Root with a: (a1 a2 a3), b: (b1), c (a leaf): arcs, a single segment and leaves.
IdeaPtr smallTree()
{
    const IdeaPtr root = textIdea(QStringLiteral("root"));
    const IdeaPtr a = textIdea(QStringLiteral("a"));
    const IdeaPtr b = textIdea(QStringLiteral("b"));
    attach(root, a);
    attach(root, b);
    attach(root, textIdea(QStringLiteral("c")));
    for (const char* name : {"a1", "a2", "a3"})
        attach(a, textIdea(QString::fromLatin1(name)));
    attach(b, textIdea(QStringLiteral("b1")));
    a->setNote(QStringLiteral("a note"));
    const char* colours[] = {"green3", "blue3", "red3", "violet3"};
    int n = 0;
    root->traverseNaturally(
        [&](const IdeaPtr& idea, qint64) {
            idea->setColor(
                ColorMatrix::classicColorMatrix().colorWithName(QString::fromLatin1(colours[n++ % 4])));
        },
        0);
    return root;
}

TEST(GraphTileFactory, ContentCoordinatesAndDrawnPositions)
{
    const IdeaPtr root = smallTree();
    GraphTileFactory factory(root, {}, false);
    const Size size = factory.contentSize();
    bool inside = true;
    std::function<void(const GraphNode&)> check = [&](const GraphNode& node) {
        const Point p = factory.drawnPosition(node);
        inside = inside && p.x >= 0 && p.y >= 0 && p.x <= size.width && p.y <= size.height;
        for (const auto& child : node.children())
            check(*child);
    };
    check(factory.root());
    EXPECT_TRUE(inside);

    // Below the first generation a planet sits one planet radius further out along its
    // parent's direction.
    const GraphNode& a = *factory.root().children().front();
    const GraphNode& a1 = *a.children().front();
    const Point offset = factory.drawnPosition(a1) - a1.center();
    EXPECT_NEAR(std::hypot(offset.x, offset.y), 56.0, 1e-4);
    EXPECT_EQ(factory.drawnPosition(a), a.center());

    // Hit tests against the drawn positions: the root's radius is 76, the others' 56.
    const Point rootAt = factory.drawnPosition(factory.root());
    EXPECT_EQ(factory.ideaAtPoint(rootAt + Point(75, 0)), root);
    EXPECT_EQ(factory.ideaAtPoint(factory.drawnPosition(a1) + Point(0, 55)), a1.idea());
    EXPECT_EQ(factory.ideaAtPoint(factory.drawnPosition(a1) + Point(0, 57)) == a1.idea(), false);
    EXPECT_EQ(factory.ideaAtPoint(Point(-1000, -1000)), nullptr);
    EXPECT_EQ(factory.ideaLocation(a1.idea()), factory.drawnPosition(a1));
    EXPECT_EQ(factory.ideaLocation(textIdea(QStringLiteral("elsewhere"))), Point());

    // The note mark: only on an idea with a note, where its badge is drawn.
    PlanetDrawer drawer(5);
    drawer.setNoteNumber(1);
    const Rect badge = drawer.noteRect();
    const Point badgeCentre(badge.midX() - drawer.size().width / 2, badge.midY() - drawer.size().height / 2);
    EXPECT_TRUE(factory.noteAtPoint(factory.drawnPosition(a) + badgeCentre));
    EXPECT_FALSE(factory.noteAtPoint(factory.drawnPosition(a1) + badgeCentre));

    GraphTileFactory centred(root, {}, true);
    const Point c = centred.drawnPosition(centred.root());
    EXPECT_EQ(c, Point(centred.contentSize().width * 0.5, centred.contentSize().height * 0.5));
}

// A tile shows its rectangle upright: the planet drawn at a content point appears at that
// point of the tile; a filter that accepts nothing fades every planet.
TEST(GraphTileFactory, TilesShowTheirRectangleUprightAndFadeFilteredIdeas)
{
    const IdeaPtr root = smallTree();
    GraphTileFactory plain(root, {}, false);
    plain.setNoteStyle(1);
    const QImage whole = renderWhole(plain, 0.5);
    saveOutput(whole, QStringLiteral("small_tree_half"));
    ASSERT_FALSE(whole.isNull());

    const GraphNode& a = *plain.root().children().front();
    const Point at = plain.drawnPosition(a);
    const Rect rect(at.x - 100, at.y - 50, 200, 200);
    const QImage tile = plain.createTile(rect, Size(200, 200));
    ASSERT_EQ(tile.size(), QSize(200, 200));
    // The planet's centre is 100 / 50 pixels from the tile's top left; nothing of it at the
    // far bottom corner.
    EXPECT_GT(qAlpha(tile.pixel(100, 50)), 200);
    EXPECT_EQ(qAlpha(tile.pixel(100, 195)), 0);

    GraphTileFactory filtered(
        root, [](const IdeaPtr&) { return false; }, false);
    const QImage faded = filtered.createTile(rect, Size(200, 200));
    saveOutput(faded, QStringLiteral("small_tree_faded_tile"));
    EXPECT_NE(faded.pixel(100, 50), tile.pixel(100, 50));
}

// A lone root: a root planet inside a circle of radius 280 x zoom.
TEST(GraphTileFactory, LoneRootInItsCircle)
{
    const IdeaPtr root = textIdea(QStringLiteral("alone"));
    root->setColor(ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("green3")));
    GraphTileFactory factory(root, {}, false);
    EXPECT_EQ(factory.contentSize(), Size(896, 896));
    const QImage image = renderWhole(factory, 1);
    saveOutput(image, QStringLiteral("lone_root"));
    const Point c = factory.drawnPosition(factory.root());
    // On the circle (grey line) and well outside it (nothing).
    EXPECT_GT(qAlpha(image.pixel(int(c.x + 280), int(c.y))), 0);
    EXPECT_EQ(qAlpha(image.pixel(int(c.x + 300), int(c.y))), 0);
    EXPECT_GT(qAlpha(image.pixel(int(c.x), int(c.y))), 200);
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

// A damaged tree (identifiers repeated) and a huge picture: drawn and hit-tested without
// trouble, and the picture's planet shows it.
TEST(GraphTileFactory, DuplicateIdentifiersAndHugePictures)
{
    const IdeaPtr root = test::textIdea(QStringLiteral("root"));
    for (int i = 0; i < 6; ++i) {
        const IdeaPtr child = Idea::initWithText(QStringLiteral("twin"), QStringLiteral("same"));
        child->setColor(ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("green2")));
        test::attach(root, child);
        test::attach(child, Idea::initWithText(QStringLiteral("leaf"), QStringLiteral("same")));
    }
    QImage huge(6000, 6000, QImage::Format_ARGB32_Premultiplied);
    huge.fill(qRgba(200, 30, 30, 255));
    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(huge), ObjectID());
    test::attach(root, picture);

    QElapsedTimer timer;
    timer.start();
    GraphTileFactory factory(root, {}, false);
    const QImage whole = renderWhole(factory, 0.5);
    EXPECT_LT(timer.elapsed(), 5000);
    saveOutput(whole, QStringLiteral("duplicates_and_huge_picture"));
    const Point at = factory.ideaLocation(picture);
    EXPECT_EQ(factory.ideaAtPoint(at), picture);
    const QRgb centre = whole.pixel(int(at.x * 0.5), int(at.y * 0.5));
    EXPECT_GT(qRed(centre), 150);
    EXPECT_LT(qGreen(centre), 80);
    // The twins all take the place of the last of them; the first is hit and located there.
    const GraphNode& first = *factory.root().children().front();
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(factory.drawnPosition(*factory.root().children()[i]), factory.drawnPosition(first));
    EXPECT_EQ(factory.nodeAtPoint(factory.drawnPosition(first)), &first);
    EXPECT_EQ(factory.ideaLocation(root->ideas().front()),
              factory.drawnPosition(*factory.root().children().front()));
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

// Tiles draw from the copies taken when the factory was built: later edits of the ideas and
// the filter are never read by the drawing.
TEST(GraphTileFactory, TilesDrawFromTheCopiesTakenAtConstruction)
{
    const IdeaPtr root = test::textIdea(QStringLiteral("root"));
    const IdeaPtr child = test::textIdea(QStringLiteral("child"));
    test::attach(root, child);
    child->setColor(ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("red3")));
    int filterCalls = 0;
    GraphTileFactory factory(
        root,
        [&filterCalls](const IdeaPtr&) {
            ++filterCalls;
            return true;
        },
        false);
    EXPECT_EQ(filterCalls, 2);
    const Point at = factory.ideaLocation(child);
    const Rect rect(at.x - 50, at.y - 50, 100, 100);
    const QImage before = factory.createTile(rect, Size(100, 100));
    EXPECT_GT(qRed(before.pixel(50, 20)), 2 * qBlue(before.pixel(50, 20)));
    child->setColor(ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("blue3")));
    child->setText(QStringLiteral("changed meanwhile"));
    const QImage after = factory.createTile(rect, Size(100, 100));
    EXPECT_EQ(before, after);
    EXPECT_EQ(filterCalls, 2);
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

// A tile leaves out the lines and planets that cannot reach it. A root with a leaf and a
// branch of four sub-branches (their arc sweeps most of a turn, across the half turn where
// angles wrap) and a few thousand ideas more: at a far zoom (planets below a pixel) and at a
// near one, every tile of 128 pixels shows what the drawing of the whole content shows there.
TEST(GraphTileFactory, TilesShowWhatTheWholeDrawingShows)
{
    const IdeaPtr root = textIdea(QStringLiteral("root"));
    const IdeaPtr branch = textIdea(QStringLiteral("branch"));
    attach(root, textIdea(QStringLiteral("leaf")));
    attach(root, branch);
    for (int i = 0; i < 4; ++i) {
        const IdeaPtr sub = textIdea(QStringLiteral("sub%1").arg(i));
        attach(branch, sub);
        for (int j = 0; j < 6; ++j)
            attach(sub, textIdea(QStringLiteral("sub%1_%2").arg(i).arg(j)));
    }
    const std::vector<IdeaPtr> more = test::ideasFromFactory(test::makeDocumentTree(3000, 6, 9));
    attach(root, more.front());
    GraphTileFactory factory(root, {}, false);
    const Size content = factory.contentSize();
    for (const double side : {768.0, 3000.0}) {
        const double zoom = side / std::max(content.width, content.height);
        SCOPED_TRACE(zoom);
        const QImage whole = renderWhole(factory, zoom);
        ASSERT_FALSE(whole.isNull());
        int checked = 0;
        for (int top = 0; top + 128 <= whole.height(); top += 128 * (side > 1000 ? 5 : 1))
            for (int left = 0; left + 128 <= whole.width(); left += 128 * (side > 1000 ? 5 : 1)) {
                const QImage tile =
                    factory.createTile(Rect(left / zoom, top / zoom, 128 / zoom, 128 / zoom), Size(128, 128));
                int differing = 0;
                // The outermost pixels are left out: a line cut at the tile's edge may cover them
                // a little differently.
                for (int y = 1; y < 127; ++y)
                    for (int x = 1; x < 127; ++x) {
                        const QRgb a = tile.pixel(x, y);
                        const QRgb b = whole.pixel(left + x, top + y);
                        differing +=
                            std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                      std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))}) > 8
                                ? 1
                                : 0;
                    }
                EXPECT_EQ(differing, 0) << "tile at " << left << ", " << top;
                ++checked;
            }
        EXPECT_GT(checked, 20);
    }
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

// A factory for the same unchanged tree shares the laid-out mirror of the one before and
// answers only the new filter; any change to an idea, another tree or another centring
// makes the mirror anew, showing the change.
TEST(GraphTileFactory, AnotherFilterOfAnUnchangedTreeSharesTheLayout)
{
    const IdeaPtr root = smallTree();
    const IdeaPtr a = root->ideas().front();
    const GraphTileFactory plain(root, {}, false);
    const Point at = plain.ideaLocation(a);
    const Rect rect(at.x - 50, at.y - 50, 100, 100);
    const QImage shown = plain.createTile(rect, Size(100, 100));

    const GraphTileFactory searched(
        root, [](const IdeaPtr&) { return false; }, false, &plain);
    EXPECT_TRUE(searched.sharesLayoutWith(plain));
    EXPECT_NE(searched.createTile(rect, Size(100, 100)), shown) << "faded by the new filter";
    const GraphTileFactory again(root, {}, false, &searched);
    EXPECT_TRUE(again.sharesLayoutWith(plain));
    EXPECT_EQ(again.createTile(rect, Size(100, 100)), shown);
    EXPECT_FALSE(GraphTileFactory(root, {}, true, &plain).sharesLayoutWith(plain));
    EXPECT_FALSE(GraphTileFactory(a, {}, false, &plain).sharesLayoutWith(plain));

    a->setColor(ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("red3")));
    const GraphTileFactory edited(root, {}, false, &again);
    EXPECT_FALSE(edited.sharesLayoutWith(plain));
    const QRgb before = shown.pixel(50, 20);
    const QRgb after = edited.createTile(rect, Size(100, 100)).pixel(50, 20);
    EXPECT_GT(qRed(after), qRed(before) + 100) << "the new colour shows";

    test::attach(a, textIdea(QStringLiteral("a4")));
    const GraphTileFactory grown(root, {}, false, &edited);
    EXPECT_FALSE(grown.sharesLayoutWith(edited));
    EXPECT_EQ(grown.nodeCount(), edited.nodeCount() + 1);
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

// A picture is decoded only where it shows. Forty-one green ideas around a root, the last of
// them holding a red picture, read as a stored document (bytes not yet decoded): as a dot it takes
// its idea's own colour and nothing is decoded; as a small disc it takes the picture's mean
// colour, decoded once at that size and not kept; large, the planet shows the picture.
TEST(GraphTileFactory, PicturesAreDecodedOnlyWhereTheyShow)
{
    const ColorPtr green = ColorMatrix::classicColorMatrix().colorWithName(QStringLiteral("green3"));
    QImage red(160, 160, QImage::Format_ARGB32);
    red.fill(qRgb(200, 30, 30));
    std::vector<test::FactoryIdea> tree(42);
    for (int i = 0; i < 42; ++i) {
        tree[std::size_t(i)].identifier = QStringLiteral("id%1").arg(i);
        tree[std::size_t(i)].text = QStringLiteral("idea %1").arg(i);
        if (i == 0)
            continue;
        tree[std::size_t(i)].colorName = QStringLiteral("green3");
        tree[std::size_t(i)].parent = 0;
        tree[0].children.push_back(i);
    }
    tree.back().picture = ImageCodec::encodePNG(red);
    const IdeaPtr root = test::documentTree(tree);
    ASSERT_TRUE(root);
    const IdeaPtr pictured = root->ideas().back();
    ASSERT_TRUE(pictured->image().hasImage());
    ASSERT_FALSE(pictured->image().isDecoded());
    GraphTileFactory factory(root, {}, false);
    const Point at = factory.ideaLocation(pictured);
    // The planets' own artwork is decoded on their first drawing.
    renderWhole(GraphTileFactory(textIdea(QStringLiteral("alone")), {}, false), 0.5);

    const QRgb own = green->uiColor().toQColor().rgb();
    const QRgb picture = qRgb(200, 30, 30);
    const struct
    {
        const char* name;
        double zoom; // the planet's disc: 112 content units across
        QRgb colour;
        int decodes;     // on the first drawing; none on the next
        bool keptPixels; // the picture's pixels held after the drawing
    } cases[] = {
        {"dot", 0.008, own, 0, false},
        {"small_disc", 0.045, picture, 1, false},
        {"planet", 0.5, picture, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const int drawing : {0, 1}) {
            const quint64 before = ImageCodec::decodeCount();
            const QImage whole = renderWhole(factory, c.zoom);
            EXPECT_EQ(ImageCodec::decodeCount() - before, quint64(drawing == 0 ? c.decodes : 0));
            if (drawing == 0)
                saveOutput(whole, QStringLiteral("picture_%1").arg(QString::fromLatin1(c.name)));
            const QRgb seen = whole.pixel(int(at.x * c.zoom), int(at.y * c.zoom));
            EXPECT_LE(
                std::max({std::abs(qRed(seen) - qRed(c.colour)), std::abs(qGreen(seen) - qGreen(c.colour)),
                          std::abs(qBlue(seen) - qBlue(c.colour))}),
                12)
                << std::hex << seen << " vs " << c.colour;
            EXPECT_EQ(pictured->image().holdsPixels(), c.keptPixels);
        }
    }
}

} // namespace
} // namespace corvex
