#include "overview/ScaledGraphView.h"
#include "model/Globals.h"
#include "overview/GraphTileLayer.h"
#include "overview/ScaledGraphViewDelegate.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/Window.h"
#include "tests/overview/TiledViewTestSupport.h"
#include "tests/support/TestEnvironment.h"
#include "toolkit/BaseView.h"
#include "toolkit/ViewExtensions.h"

#include <QDir>
#include <gtest/gtest.h>
#include <set>

namespace corvex {
namespace {

using test::FakeTileSource;
using test::pumpUntil;

class ReadyRecorder : public ScaledGraphViewDelegate
{
public:
    void handleScaledGraphViewReady(ScaledGraphView&) override { ++readies; }
    int readies = 0;
};

constexpr double T = ScaledGraphView::tileSize();

TEST(ScaledGraphView, PortionsFollowTheMode)
{
    auto source = std::make_shared<FakeTileSource>();
    source->close();
    const auto view = ScaledGraphView::create(source, 0.5);
    EXPECT_EQ(view->frame(), Rect(0, 0, 2, 2));
    EXPECT_TRUE(view->active());
    EXPECT_TRUE(view->wantedPortion().isEmpty());

    // 1600 x 1000 points at scale 0.5 shows 3200 x 2000 content units from (1000, 1000).
    const Rect visible(1000, 1000, 3200, 2000);
    view->setDataRect(visible, ScaledGraphView::Zoom);
    const GridPortion required{1, 3, 1, 4}; // rows 500/424..1499.5/424, columns 500/424..2099.5/424
    EXPECT_EQ(view->requiredPortion(), required);
    EXPECT_EQ(view->wantedPortion(), required);
    EXPECT_EQ(view->allowedPortion(), required);
    EXPECT_EQ(view->dataCenter(), Point(2600, 2000));

    view->setDataRect(visible, ScaledGraphView::Move);
    const GridPortion extended{0, 4, 0, 6}; // from (-600, 0): truncation toward zero
    EXPECT_EQ(view->wantedPortion(), required);
    EXPECT_EQ(view->allowedPortion(), extended);
    view->setDataRect(visible, ScaledGraphView::Idle);
    EXPECT_EQ(view->wantedPortion(), extended);

    // A rectangle starting just above -T / s still starts at row and column 0.
    const GridPortion edge = view->calculateGridPortionFromDataRect(Rect(-T * 2 + 1, -T * 2 + 1, 10, 10));
    EXPECT_EQ(edge.firstRow, 0);
    EXPECT_EQ(edge.firstColumn, 0);
    // Whole points, the data centre on the middle (1, 1) of the 2 x 2 view.
    EXPECT_EQ(view->layerPositionAt(GridCoordinate{1, 2}),
              Point(std::round(2 * T + T / 2 - 2600 * 0.5) + 1, std::round(1 * T + T / 2 - 2000 * 0.5) + 1));
    EXPECT_EQ(ScaledGraphView::nameForLayerAtRow(3, 7), QStringLiteral("r3:c7"));
    view->setActive(false);
    source->open();
}

// Every wanted tile arrives once, on a layer of its own at its place; the delegate hears of
// readiness; tiles moved out of every portion are recycled, and a tile asked for twice shows
// once.
TEST(ScaledGraphView, OneLayerPerCoordinateAndReadiness)
{
    auto source = std::make_shared<FakeTileSource>();
    const auto delegate = std::make_shared<ReadyRecorder>();
    const auto view = ScaledGraphView::create(source, 1.0);
    view->setDelegate(delegate);

    const Rect visible(0, 0, 1600, 1000);
    source->close();
    view->setDataRect(visible, ScaledGraphView::Idle); // rows -1..3, columns -1..5 wanted
    view->setDataRect(visible, ScaledGraphView::Zoom);
    view->setDataRect(visible, ScaledGraphView::Idle); // asks for the margin tiles again
    source->open();
    ASSERT_TRUE(pumpUntil([&] { return delegate->readies > 0 && view->ready(); }));
    pumpUntil([&] { return view->visibleLayers().size() == 35; }, nullptr, 2);
    std::set<std::pair<int, int>> seen;
    for (const auto& layer : view->visibleLayers()) {
        EXPECT_TRUE(seen.insert({layer->coord().row, layer->coord().col}).second);
        EXPECT_EQ(layer->name(), ScaledGraphView::nameForLayerAtRow(layer->coord().row, layer->coord().col));
        EXPECT_EQ(layer->position(), view->layerPositionAt(layer->coord()));
        EXPECT_FALSE(layer->image().isNull());
        EXPECT_EQ(layer->superlayer(), view->layer());
    }
    EXPECT_EQ(seen.size(), 35u);
    // Each tile rendered at the screen's pixels for its content square.
    for (const Rect& rect : source->rects())
        EXPECT_EQ(rect.size, Size(T, T));

    // An update that queues nothing keeps readiness as it was and reports nothing.
    pumpUntil([] { return false; }, nullptr, 0.1);
    const int before = delegate->readies;
    view->setDataRect(visible, ScaledGraphView::Idle);
    pumpUntil([] { return false; }, nullptr, 0.05);
    EXPECT_EQ(delegate->readies, before);
    EXPECT_TRUE(view->ready());

    // Far away in Zoom mode: everything is recycled and the new tiles come on reused layers.
    view->setDataRect(Rect(10 * T, 10 * T, 1000, 500), ScaledGraphView::Zoom);
    EXPECT_TRUE(view->visibleLayers().empty());
    EXPECT_EQ(view->reusableLayerCount(), 35u);
    ASSERT_TRUE(pumpUntil([&] { return view->visibleLayers().size() == 6u; })); // rows 10..11, columns 10..12
    EXPECT_TRUE(pumpUntil([&] { return view->ready(); }));
    EXPECT_EQ(view->layer()->sublayers().size(), 35u);
}

// At most 10 finished images wait for the main thread; retiring and destroying the view
// returns at once, its worker ends, and no image reaches the destroyed view.
TEST(ScaledGraphView, BoundedImagesInFlightAndSafeRetirement)
{
    auto source = std::make_shared<FakeTileSource>();
    std::weak_ptr<ScaledGraphView> weak;
    const int threads = test::threadCount();
    {
        auto view = ScaledGraphView::create(source, 1.0);
        weak = view;
        // 30 tiles wanted: 6 rows of 5 columns, nothing taken by the main thread meanwhile.
        view->setDataRect(Rect(0, 0, 5 * T, 6 * T), ScaledGraphView::Zoom);
        ASSERT_TRUE(source->waitForCalls(11, 10));
        // The 11th image waits for a free place; no 12th tile is drawn.
        EXPECT_FALSE(source->waitForCalls(12, 0.3));
        view->setActive(false);
        view.reset(); // joins the queue: the waiting job was freed, the rest draw nothing
    }
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(test::threadCount(), threads); // the queue's worker has ended
    EXPECT_LE(source->calls(), 12);
    const int calls = source->calls();
    pumpUntil([] { return false; }, nullptr, 0.1); // the posted deliveries find no view
    EXPECT_EQ(source->calls(), calls);
}

// Jobs queued for a view retired before they run draw nothing, and its readiness is never
// reported; destroying a view whose tile is still being drawn does not wait for the drawing.
TEST(ScaledGraphView, RetiredViewDrawsNothingMore)
{
    {
        auto source = std::make_shared<FakeTileSource>();
        source->close();
        auto view = ScaledGraphView::create(source, 1.0);
        view->setDataRect(Rect(0, 0, 2 * T, 2 * T), ScaledGraphView::Zoom);
        ASSERT_TRUE(source->waitForCalls(1, 10));
        view->setActive(false);
        view.reset(); // the gate is still closed: the drawing gave up
        EXPECT_EQ(source->calls(), 1);
    }
    auto source = std::make_shared<FakeTileSource>();
    const auto delegate = std::make_shared<ReadyRecorder>();
    const auto view = ScaledGraphView::create(source, 1.0);
    view->setDelegate(delegate);
    source->close();
    view->setDataRect(Rect(0, 0, 5 * T, 6 * T), ScaledGraphView::Zoom);
    ASSERT_TRUE(source->waitForCalls(1, 10));
    view->setActive(false);
    source->open();
    pumpUntil([] { return false; }, nullptr, 0.2);
    EXPECT_EQ(source->calls(), 1);
    EXPECT_EQ(delegate->readies, 0);
    EXPECT_LE(view->visibleLayers().size(), 1u);
}

// Tiles of one colour fill a window, at whole and fractional screen scales (at 1.1 a tile is
// no whole number of pixels wide), shown at the
// maximum zoom of 1.75 and stretched as the overview stretches a view while the next one
// renders (a zoom step in or out, the last step up to the maximum), the data centre where the
// scaled centre falls on a whole point and where it falls halfway between two: a pixel of
// another colour is a seam.
TEST(ScaledGraphView, TilesMeetWithoutSeamsAtEveryScale)
{
    const QRgb colour = qRgb(40, 90, 160);
    const Size size(900, 700);
    const double scale = 1.75;
    for (const double screen : {1.0, 1.1, 1.25, 1.5, 1.75, 2.0})
        for (const double stretch : {1.0, 1.5, 0.75, 1.75 / 1.51875})
            for (const Point centre : {Point(6286, 6286), Point(1000.3, 777.6), Point(4000, 4000)}) {
                SCOPED_TRACE(testing::Message() << "screen scale " << screen << ", stretched " << stretch
                                                << ", centre " << centre.x << ", " << centre.y);
                Globals::setScreenScaleOverride(screen);
                auto source = std::make_shared<FakeTileSource>();
                const auto window = std::make_shared<Window>(size);
                const auto container = BaseView::create(Rect(Point(), size));
                window->setContentView(container);
                const auto view = ScaledGraphView::create(source, scale);
                container->addSubview(view);
                ViewExtensions::setCenter(*view, Point(size.width / 2, size.height / 2));
                ViewExtensions::ensureIntegralFrame(*view);
                const Size seen(size.width / stretch / scale, size.height / stretch / scale);
                view->setDataRect(Rect(Point(centre.x - seen.width / 2, centre.y - seen.height / 2), seen),
                                  ScaledGraphView::Zoom);
                view->layer()->setTransform(Transform3D::makeScale(stretch, stretch, 1));
                ASSERT_TRUE(pumpUntil([&] { return view->ready(); }));
                const QImage shot = window->renderToImage(screen).convertToFormat(QImage::Format_RGB32);
                int seams = 0;
                for (int y = 0; y < shot.height(); ++y)
                    for (int x = 0; x < shot.width(); ++x)
                        seams += shot.pixel(x, y) != colour ? 1 : 0;
                EXPECT_EQ(seams, 0);
                if (seams != 0) {
                    const QString dir = test::testOutputDir() + QStringLiteral("/overview");
                    QDir().mkpath(dir);
                    shot.save(dir +
                              QStringLiteral("/seam_%1_%2_%3.png").arg(screen).arg(stretch).arg(centre.x));
                }
                view->setActive(false);
                window->close();
            }
    Globals::setScreenScaleOverride(0);
}

} // namespace
} // namespace corvex
