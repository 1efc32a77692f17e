#pragma once

#include "overview/GridCoordinate.h"
#include "toolkit/BaseView.h"
#include "toolkit/UserInteractionProtocol.h"

#include <QImage>
#include <QString>
#include <memory>
#include <unordered_map>
#include <vector>

namespace corvex {

class GraphTileLayer;
class SerialQueue;
class GraphTileSource;
class ScaledGraphViewDelegate;

// The overview content at one fixed zoom scale, as a grid of square tile layers around what
// is visible, rendered by a tile source on the view's own serial queue "ScaledGraphView".
// The view itself is 2 x 2 points and clips nothing; its owner keeps its centre on the visible
// centre, and the tiles sit on whole points nearest to where the content point `dataCenter`
// (scaled) falls on the view's middle, where the owner maps it. At most 10 rendered images
// wait for the main thread at a time.
//
// Modes of an update: Idle renders the visible tiles and half a screen around them, Zoom only
// the visible tiles (everything else is recycled), Move the visible tiles while keeping those
// half a screen around.
//
// Lifetime: retiring (setActive(false)) frees a job waiting for the main thread, makes queued
// jobs render nothing and stops the tile being drawn; deliveries hold the view weakly, so
// destroying a view (which joins its queue) never waits for drawing. Main thread only,
// except what the queue reads.
class ScaledGraphView : public BaseView, public UserInteractionProtocol
{
public:
    enum Mode : int
    {
        Idle = 0,
        Zoom = 1,
        Move = 2,
    };

    static constexpr double tileSize() { return 424; }
    static constexpr long kImagesInFlight = 10;

    static std::shared_ptr<ScaledGraphView> create(std::shared_ptr<const GraphTileSource> source,
                                                   double zoomScale);
    // Unprepared: use create.
    ScaledGraphView(std::shared_ptr<const GraphTileSource> source, double zoomScale);
    ~ScaledGraphView() override;

    // Updates the portions and layers for the visible content rectangle and asks for the
    // missing tiles. Main thread.
    void setDataRect(const Rect& dataRect, Mode mode);

    double zoomScale() const { return mScale; }
    bool ready() const;
    bool active() const;
    void setActive(bool active);
    std::shared_ptr<ScaledGraphViewDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(std::weak_ptr<ScaledGraphViewDelegate> delegate) { mDelegate = std::move(delegate); }
    Point dataCenter() const;
    GridPortion requiredPortion() const;
    GridPortion wantedPortion() const;
    GridPortion allowedPortion() const;

    // The portion of tiles covering a content rectangle at this view's scale.
    GridPortion calculateGridPortionFromDataRect(const Rect& rect) const;
    // Where the centre of a tile's layer goes in the view layer's coordinates.
    Point layerPositionAt(const GridCoordinate& coord) const;
    static QString nameForLayerAtRow(int row, int column);

    // The tile layers that show an image now, by coordinate.
    std::vector<std::shared_ptr<GraphTileLayer>> visibleLayers() const;
    std::size_t reusableLayerCount() const;

    // ---- UserInteractionProtocol: always enabled ----
    bool userInteractionEnabled() const override { return true; }
    void setUserInteractionEnabled(bool) override {}
    // Events go to the view below; the tiles are only a picture.
    View* hitTest(Point) override { return nullptr; }

private:
    struct Shared;

    void doDataRect(const Rect& dataRect, Mode mode);
    void queueReadinessMarker();
    void addLayerWithImage(const QImage& image, Point position, const GridCoordinate& coord);
    std::shared_ptr<GraphTileLayer> dequeueReusableLayer();
    void recycle(const std::shared_ptr<GraphTileLayer>& layer);
    void updateLayerPosition(GraphTileLayer& layer);
    void checkIfReady();

    std::shared_ptr<Shared> mShared;
    std::unique_ptr<SerialQueue> mQueue;
    double mScale;
    std::unordered_map<GridCoordinate, std::shared_ptr<GraphTileLayer>, GridCoordinateHash>
        mVisibleLayersByKey;
    std::vector<std::shared_ptr<GraphTileLayer>> mReusableLayers;
    std::weak_ptr<ScaledGraphViewDelegate> mDelegate;
};

} // namespace corvex
