#include "overview/ScaledGraphView.h"

#include "model/Globals.h"
#include "overview/GraphTileLayer.h"
#include "overview/GraphTileSource.h"
#include "overview/ScaledGraphViewDelegate.h"
#include "platform/core/BackgroundDrawing.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Semaphore.h"
#include "platform/core/SerialQueue.h"
#include "platform/ui/Layer.h"

#include <atomic>
#include <cmath>
#include <mutex>
#include <utility>

namespace corvex {

namespace {

// The view is a 2 x 2 point square kept centred on its owner.
constexpr double kViewSide = 2;

} // namespace

// What the rendering queue shares with the view: it outlives the view while jobs hold it.
struct ScaledGraphView::Shared
{
    std::shared_ptr<const GraphTileSource> source;
    double scale = 1;
    Semaphore semaphore{kImagesInFlight};
    std::atomic<bool> active{true};
    std::atomic<bool> ready{false};
    mutable std::mutex mutex; // guards the portions and the data centre
    GridPortion required;
    GridPortion wanted;
    GridPortion allowed;
    Point dataCenter;

    struct Portions
    {
        GridPortion wanted;
        GridPortion allowed;
        Point dataCenter;
    };
    Portions portions() const
    {
        std::lock_guard lock(mutex);
        return {wanted, allowed, dataCenter};
    }
    bool keeps(const GridCoordinate& coord) const
    {
        std::lock_guard lock(mutex);
        return wanted.contains(coord) || allowed.contains(coord);
    }
    // Whole points, nearest to where the tile shows the data centre on the middle of the
    // 2 x 2 view, which is where the owner maps it (and where a zoom transform, turning about
    // the middle, keeps it): at the fitting zoom of a large map a point spans thousands of
    // content units. The scaled centre is rounded once for every tile, so that neighbours are
    // exactly a tile apart: rounded tile by tile, a centre halfway between two points rounds
    // tiles left of it and right of it apart (halves round away from zero), a seam between.
    Point positionAt(const GridCoordinate& coord, Point center) const
    {
        const double t = tileSize();
        const double x = std::round(center.x * scale);
        const double y = std::round(center.y * scale);
        return Point(coord.col * t + t / 2 - x + kViewSide / 2, coord.row * t + t / 2 - y + kViewSide / 2);
    }

    // One tile job, on the queue.
    static void processCoord(const std::shared_ptr<Shared>& self, const std::weak_ptr<ScaledGraphView>& view,
                             GridCoordinate coord);
};

void ScaledGraphView::Shared::processCoord(const std::shared_ptr<Shared>& self,
                                           const std::weak_ptr<ScaledGraphView>& view, GridCoordinate coord)
{
    if (!self->active.load() || !self->portions().wanted.contains(coord))
        return;
    const double t = tileSize();
    const Rect rect(coord.col * t / self->scale, coord.row * t / self->scale, t / self->scale,
                    t / self->scale);
    const double pixels = Globals::screenScale() * t;
    QImage image;
    {
        // Only the drawing: waiting for the main thread below must not hold up the application's end.
        const BackgroundDrawing::Job drawing;
        if (!drawing.admitted())
            return;
        image = self->source ? self->source->createTile(rect, Size(pixels, pixels), &self->active) : QImage();
    }
    const Portions now = self->portions();
    const Point position = self->positionAt(coord, now.dataCenter);
    if (!now.wanted.contains(coord) && !now.allowed.contains(coord))
        image = QImage();
    if (!self->active.load())
        return;
    self->semaphore.wait();
    if (!self->active.load()) {
        // Retired while waiting: pass the wake-up on to any other waiter and stop.
        self->semaphore.signal();
        return;
    }
    MainQueue::post([self, view, image, position, coord] {
        self->semaphore.signal();
        if (const auto owner = view.lock())
            owner->addLayerWithImage(image, position, coord);
    });
}

std::shared_ptr<ScaledGraphView> ScaledGraphView::create(std::shared_ptr<const GraphTileSource> source,
                                                         double zoomScale)
{
    auto view = make<ScaledGraphView>(std::move(source), zoomScale);
    view->setDisableAnimations(true);
    if (const auto& layer = view->layer())
        layer->setMasksToBounds(false);
    return view;
}

ScaledGraphView::ScaledGraphView(std::shared_ptr<const GraphTileSource> source, double zoomScale)
    : BaseView(Rect(0, 0, kViewSide, kViewSide)), mShared(std::make_shared<Shared>()),
      mQueue(std::make_unique<SerialQueue>("ScaledGraphView")), mScale(zoomScale)
{
    mShared->source = std::move(source);
    mShared->scale = zoomScale;
    mShared->wanted = GridPortion{0, -1, 0, -1};
}

ScaledGraphView::~ScaledGraphView()
{
    setActive(false);
    // Joins the queue: jobs of a retired view draw nothing and the tile being drawn stops at
    // its next planet, so this does not wait for drawing.
    mQueue.reset();
}

bool ScaledGraphView::ready() const
{
    return mShared->ready.load();
}

bool ScaledGraphView::active() const
{
    return mShared->active.load();
}

void ScaledGraphView::setActive(bool active)
{
    const bool was = mShared->active.exchange(active);
    // A job waiting for the main thread to take an image must not wait for a view that
    // will never take it.
    if (was && !active)
        mShared->semaphore.signal();
}

Point ScaledGraphView::dataCenter() const
{
    std::lock_guard lock(mShared->mutex);
    return mShared->dataCenter;
}

GridPortion ScaledGraphView::requiredPortion() const
{
    std::lock_guard lock(mShared->mutex);
    return mShared->required;
}

GridPortion ScaledGraphView::wantedPortion() const
{
    std::lock_guard lock(mShared->mutex);
    return mShared->wanted;
}

GridPortion ScaledGraphView::allowedPortion() const
{
    std::lock_guard lock(mShared->mutex);
    return mShared->allowed;
}

GridPortion ScaledGraphView::calculateGridPortionFromDataRect(const Rect& rect) const
{
    const double t = tileSize();
    const auto cell = [&](double v) { return qint32(v * mScale / t); };
    return GridPortion{cell(rect.origin.y), cell(rect.origin.y + rect.size.height - 1), cell(rect.origin.x),
                       cell(rect.origin.x + rect.size.width - 1)};
}

Point ScaledGraphView::layerPositionAt(const GridCoordinate& coord) const
{
    return mShared->positionAt(coord, dataCenter());
}

QString ScaledGraphView::nameForLayerAtRow(int row, int column)
{
    return QStringLiteral("r%1:c%2").arg(row).arg(column);
}

std::vector<std::shared_ptr<GraphTileLayer>> ScaledGraphView::visibleLayers() const
{
    std::vector<std::shared_ptr<GraphTileLayer>> layers;
    layers.reserve(mVisibleLayersByKey.size());
    for (const auto& entry : mVisibleLayersByKey)
        layers.push_back(entry.second);
    return layers;
}

std::size_t ScaledGraphView::reusableLayerCount() const
{
    return mReusableLayers.size();
}

void ScaledGraphView::setDataRect(const Rect& dataRect, Mode mode)
{
    mQueue->suspend();
    doDataRect(dataRect, mode);
    mQueue->resume();
}

void ScaledGraphView::doDataRect(const Rect& dataRect, Mode mode)
{
    const GridPortion required = calculateGridPortionFromDataRect(dataRect);
    const Rect grown(dataRect.origin.x - dataRect.size.width / 2,
                     dataRect.origin.y - dataRect.size.height / 2, dataRect.size.width * 2,
                     dataRect.size.height * 2);
    const GridPortion extended = calculateGridPortionFromDataRect(grown);
    GridPortion previous;
    GridPortion wanted;
    GridPortion allowed;
    {
        std::lock_guard lock(mShared->mutex);
        mShared->dataCenter =
            Point(dataRect.origin.x + dataRect.size.width / 2, dataRect.origin.y + dataRect.size.height / 2);
        mShared->required = required;
        previous = mShared->wanted;
        switch (mode) {
        case Zoom:
            mShared->wanted = required;
            mShared->allowed = required;
            break;
        case Move:
            mShared->wanted = required;
            mShared->allowed = extended;
            break;
        case Idle:
            mShared->wanted = extended;
            mShared->allowed = extended;
            break;
        }
        wanted = mShared->wanted;
        allowed = mShared->allowed;
    }
    for (const auto& layer : visibleLayers()) {
        if (wanted.contains(layer->coord()) || allowed.contains(layer->coord()))
            updateLayerPosition(*layer);
        else
            recycle(layer);
    }
    bool queued = false;
    const std::weak_ptr<ScaledGraphView> weak = sharedAs<ScaledGraphView>();
    for (qint32 row = wanted.firstRow; row <= wanted.lastRow; ++row)
        for (qint32 col = wanted.firstColumn; col <= wanted.lastColumn; ++col) {
            const GridCoordinate coord{row, col};
            if (previous.contains(coord) || mVisibleLayersByKey.count(coord) != 0)
                continue;
            mQueue->async([shared = mShared, weak, coord] { Shared::processCoord(shared, weak, coord); });
            queued = true;
        }
    if (queued)
        queueReadinessMarker();
}

void ScaledGraphView::queueReadinessMarker()
{
    const std::weak_ptr<ScaledGraphView> weak = sharedAs<ScaledGraphView>();
    mQueue->async([weak] {
        MainQueue::post([weak] {
            if (const auto view = weak.lock())
                view->checkIfReady();
        });
    });
}

void ScaledGraphView::checkIfReady()
{
    const GridPortion required = requiredPortion();
    bool ready = true;
    for (qint32 row = required.firstRow; ready && row <= required.lastRow; ++row)
        for (qint32 col = required.firstColumn; ready && col <= required.lastColumn; ++col)
            ready = mVisibleLayersByKey.count(GridCoordinate{row, col}) != 0;
    mShared->ready.store(ready);
    if (ready && active())
        if (const auto delegate = mDelegate.lock())
            delegate->handleScaledGraphViewReady(*this);
}

void ScaledGraphView::addLayerWithImage(const QImage& image, Point position, const GridCoordinate& coord)
{
    if (!MainQueue::isMainThread()) {
        Log::assertionFailure(247, "-[ScaledGraphView addLayerWithImage:atPosition:atCoordinates:]");
        return;
    }
    if (!mShared->keeps(coord))
        return;
    if (image.isNull()) {
        // Dropped while it was out of view and wanted again since: ask for it once more, or
        // the tile would stay empty while counting as shown.
        if (active() && wantedPortion().contains(coord)) {
            const std::weak_ptr<ScaledGraphView> weak = sharedAs<ScaledGraphView>();
            mQueue->async([shared = mShared, weak, coord] { Shared::processCoord(shared, weak, coord); });
            queueReadinessMarker();
        }
        return;
    }
    if (mVisibleLayersByKey.count(coord) != 0)
        return;
    const std::shared_ptr<GraphTileLayer> layer = dequeueReusableLayer();
    layer->setCoord(coord);
    layer->setName(nameForLayerAtRow(coord.row, coord.col));
    layer->setImage(image);
    layer->setEdgeAntialiasingMask(0);
    layer->setPosition(position);
    mVisibleLayersByKey.emplace(coord, layer);
}

std::shared_ptr<GraphTileLayer> ScaledGraphView::dequeueReusableLayer()
{
    if (!mReusableLayers.empty()) {
        std::shared_ptr<GraphTileLayer> layer = std::move(mReusableLayers.back());
        mReusableLayers.pop_back();
        layer->setHidden(false);
        return layer;
    }
    auto layer = GraphTileLayer::create(tileSize());
    if (const auto& host = this->layer())
        host->addSublayer(layer);
    return layer;
}

void ScaledGraphView::recycle(const std::shared_ptr<GraphTileLayer>& layer)
{
    layer->setHidden(true);
    layer->setImage(QImage());
    mVisibleLayersByKey.erase(layer->coord());
    mReusableLayers.push_back(layer);
}

void ScaledGraphView::updateLayerPosition(GraphTileLayer& layer)
{
    layer.setPosition(layerPositionAt(layer.coord()));
}

} // namespace corvex
