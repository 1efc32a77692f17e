#pragma once

#include <QImage>
#include <QRectF>
#include <QTransform>

namespace corvex {

class Layer;

// Questions about what a window shows, asked of its layer tree with the presentation values
// at MediaClock::now() (what the compositor paints this frame): where a layer appears, and
// whether anything painted after it covers a rectangle. The embedded widgets use them to
// decide whether a real widget may be shown on top of the composited window.
class LayerOcclusion
{
public:
    // Maps the layer's own space into the tree's base space with presentation values.
    static QTransform presentedTransformToBase(const Layer& layer);

    // Whether something painted after `target` intersects `areaInBase`: the target's own
    // sublayers and border, its later siblings (in drawing order) and those of its
    // superlayers with their subtrees, and the borders of its superlayers (painted over their
    // sublayers), each as clipped by the layers that mask to their bounds (or, by its bounding
    // box, to a mask path). A hidden target keeps its place in the
    // order. A layer counts where it paints a visible background colour, non-transparent
    // contents, a visible border, or contents still to be drawn (needsDisplay); hidden and
    // fully transparent layers and their sublayers do not count. Touching edges do not
    // intersect.
    static bool isCoveredAfter(const Layer& root, const Layer& target, const QRectF& areaInBase);

    // Whether the rectangle (in the layer's own space) shows whole: no superlayer that masks to
    // its bounds or by a path cuts it.
    static bool isUnclipped(const Layer& layer, const QRectF& rectInLayer);

    // Whether the image has no pixel with alpha above 0 (answers are cached per image).
    static bool isFullyTransparent(const QImage& image);
};

} // namespace corvex
