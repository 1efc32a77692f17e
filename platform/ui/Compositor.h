#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Size.h"

#include <QImage>
#include <QTransform>

class QPainter;

namespace corvex {

class GraphicsContext;
class Layer;

// Paints layer trees with QPainter by the layer rules: each layer's background (rounded by
// cornerRadius), its contents stretched into the bounds and upright, its sublayers in drawing
// order (ascending zPosition, ties in sublayer order; clipped to the bounds, rounded, when
// masksToBounds), then its border inside the bounds, all of it cut by the mask path if any;
// flippedness passed down the tree; opacity as group opacity (a layer with several things
// to draw is composited as one image). Drawing is at the painter's device resolution, so a
// window at scale 2 gets twice the pixels each way.
class Compositor
{
public:
    struct Options
    {
        // Presentation values at MediaClock::now() (what a window shows) or model values.
        bool presentation = true;
        // Contents converted once to ARGB32 premultiplied (the fastest format to composite),
        // or drawn in the format they are stored in.
        bool convertContents = true;
        // Filled under the tree; clear leaves the painter's pixels as they are.
        PlatformColor background;
    };

    // The display pass of a frame, called on a root: redraws the contents of the layers of
    // the tree that are marked as needing display (those that draw asynchronously at once,
    // Layer::displayDirtyLayersConcurrently) and consumes the tree's dirty flags.
    // Returns the number of layers consumed.
    static int prepareFrame(Layer& root);
    // Paints the tree of `root`. `baseToPainter` maps the tree's base space (the root's
    // superlayer space) to the painter's logical coordinates; the painter's own transform is
    // replaced.
    static void paint(QPainter& painter, Layer& root, const QTransform& baseToPainter,
                      const Options& options);
    // The tree in a new ARGB32-premultiplied image of windowSize x scale pixels (device pixel
    // ratio `scale`), the base space being a window's: y up from the bottom left, in points.
    // A null image for an empty or oversized window. Painted in a RenderingScope.
    static QImage renderToImage(Layer& root, Size windowSize, double scale, const Options& options);
    static QImage renderToImage(Layer& root, Size windowSize, double scale);
    // Layer::renderInContext: the layer and its sublayers with model values, the context's
    // user space being the layer's bounds space, in a RenderingScope.
    static void renderInContext(Layer& layer, GraphicsContext& context);
    // The base-to-painter transform of a window `height` points high: y up from the bottom.
    static QTransform windowBase(double height);
};

} // namespace corvex
