#pragma once

#include "overview/GridCoordinate.h"
#include "platform/ui/Layer.h"

#include <QImage>
#include <memory>

namespace corvex {

// One tile of a tiled overview view: a layer whose contents are the tile's image, shown
// upright in its bounds, without implicit animations of its order, contents, bounds or
// position. Main thread only.
class GraphTileLayer : public Layer
{
public:
    // A 424-point tile layer at the screen's contents scale.
    static std::shared_ptr<GraphTileLayer> create(double side);

    const QImage& image() const { return mImage; }
    // Null drops the image and shows nothing.
    void setImage(const QImage& image);
    const GridCoordinate& coord() const { return mCoord; }
    void setCoord(const GridCoordinate& coord) { mCoord = coord; }
    QString className() const override { return QStringLiteral("GraphTileLayer"); }

private:
    QImage mImage;
    GridCoordinate mCoord;
};

} // namespace corvex
