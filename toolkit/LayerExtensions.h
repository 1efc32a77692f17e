#pragma once

#include "platform/gfx/PlatformImage.h"
#include "platform/gfx/Rect.h"
#include "platform/gfx/Transform3D.h"

#include <QImage>

namespace corvex {

class Layer;

// The vocabulary every layer of the system shares: positions read from and written to the
// frame, scale and move transforms built about the centre of the bounds, pixel alignment,
// opacity as a double, and bitmaps of the layer. No state of its own.
//
// Transforms replace the layer's whole transform. Operations that divide by a scale take
// one that is finite and above 0; any other logs the assertion line and leaves the
// transform unchanged. Main thread only.
class LayerExtensions
{
public:
    LayerExtensions() = delete;

    // ---- Positions (of the frame, in the superlayer's coordinates) ----
    static Point center(const Layer& layer);
    static void setCenter(Layer& layer, Point center);
    // (w/2, h/2) of the bounds size.
    static Point centerPoint(const Layer& layer);
    static Point centerPointRounded(const Layer& layer);
    static Point topLeftCorner(const Layer& layer);
    // Sets the position (not the frame): (p.x + anchor.x * w, p.y + anchor.y * h).
    static void setTopLeftCorner(Layer& layer, Point point);
    static Point topRightCorner(const Layer& layer);
    static void setTopRightCorner(Layer& layer, Point point);
    static Point bottomRightCorner(const Layer& layer);
    static float bottomFrameLine(const Layer& layer);

    // ---- Pixel alignment ----
    // Only with an identity transform: origin rounded to whole points (halves away from
    // zero), width and height rounded up.
    static void ensureIntegralFrame(Layer& layer);

    // ---- Transforms ----
    // Scales by s about the centre of the bounds, whatever the anchor point. A scale that is
    // not finite logs the assertion line and changes nothing.
    static void transformToScale(Layer& layer, double scale);
    // Scaled by finalScale about the bounds centre, that centre moved from the layer's center
    // to `point` (for a layer anchored at its origin). The rotation is accepted and not
    // applied.
    static void transformToPointRotation(Layer& layer, Point point, double rotation, double finalScale);
    static void transformToPoint(Layer& layer, Point point, double finalScale);
    // transformToPointRotation with the layer's own center.
    static void transformToScaleRotation(Layer& layer, double scale, double rotation);
    // Always animates (not animated logs the assertion line first): an explicit "transform"
    // animation under the key "transformToPoint:finalScale:animated" towards the scaled and
    // moved transform; the model transform is not changed.
    static void transformToPointAnimated(Layer& layer, Point point, double finalScale, bool animated);
    // The transform the operations above set (what transformToScale, transformToPointRotation
    // and transformToPointAnimated build).
    static Transform3D scaleTransform(const Layer& layer, double scale);
    static Transform3D pointTransform(const Layer& layer, Point point, double finalScale);
    static Transform3D animatedPointTransform(const Layer& layer, Point point, double finalScale);

    // ---- Opacity ----
    static void setAlphaValue(Layer& layer, double alpha);
    static double alpha(const Layer& layer);

    // ---- Bitmaps ----
    // The layer rendered (model values) into an RGBA premultiplied bitmap of its bounds size
    // truncated to whole pixels, one pixel per point. An empty size logs the assertion line
    // and returns the null image.
    static QImage createBitmap(Layer& layer);
    // createBitmap as an image of the bitmap's size; the null image when there is none.
    static PlatformImage createImage(Layer& layer);
};

} // namespace corvex
