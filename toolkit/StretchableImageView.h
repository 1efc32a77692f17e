#pragma once

#include "platform/gfx/PlatformImage.h"
#include "platform/gfx/Rect.h"
#include "toolkit/BaseView.h"

#include <memory>

namespace corvex {

class GraphicsContext;

// Fills its bounds with an image whose corners keep their size while the edges and the
// centre stretch (nine-part drawing). The image is first brought to the view's height, keeping
// its aspect ratio, and the caps are fractions of the image's larger side at that size. Every
// frame change redraws the view.
//
// Caps that do not fit the image are cut down to it (the left and top caps first), and an
// image with a side of zero draws nothing. Main thread only.
class StretchableImageView : public BaseView
{
public:
    // The nine tiles cut from an image, each an image of its own size in points; a tile of
    // zero width or height is null.
    struct NineParts
    {
        PlatformImage topLeft, top, topRight;
        PlatformImage left, center, right;
        PlatformImage bottomLeft, bottom, bottomRight;
    };

    // What drawRect draws with for the current bounds.
    struct Geometry
    {
        Size imageSize;        // the image brought to the bounds height
        double side = 0;       // its larger side, truncated to a whole number
        Point topLeftCaps;     // (left, top) in points
        Point bottomRightCaps; // (right, bottom) in points
    };

    // Unprepared: use create. The caps: x left and y top, x right and y bottom, each a
    // fraction of the image's larger side.
    StretchableImageView(const PlatformImage& image, Point scaleTopLeft, Point scaleBottomRight);
    ~StretchableImageView() override;

    static std::shared_ptr<StretchableImageView> create(const PlatformImage& image, Point scaleTopLeft,
                                                        Point scaleBottomRight);

    const PlatformImage& image() const { return mImage; }
    // Width over height at creation; 0 for an image without a height.
    double aspectRatio() const { return mAspectRatio; }
    Point scaleTopLeft() const { return mTopLeft; }
    Point scaleBottomRight() const { return mBottomRight; }
    Geometry geometryForBounds() const;

    // The frame change, then a redraw.
    void setFrame(const Rect& frame) override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

    // Draws the image into the frame as nine parts: corners at their size, edges and centre
    // stretched. The caps are in points: (left, top) and (right, bottom). Into the given
    // context, or the thread's current one (nothing without one).
    static void drawScalableImage(GraphicsContext& context, const PlatformImage& image, Point topLeftCaps,
                                  Point bottomRightCaps, const Rect& frame);
    static void drawScalableImage(const PlatformImage& image, Point topLeftCaps, Point bottomRightCaps,
                                  const Rect& frame);
    // The tiles of an image of W x H points for caps in points, cut from the representation
    // that best fits `scale` device pixels per point. Caps are cut down so that the left and
    // right fit W and the top and bottom fit H; all tiles are null for an image with a zero
    // side.
    static NineParts cutNineParts(const PlatformImage& image, Point topLeftCaps, Point bottomRightCaps,
                                  double scale = 1.0);

private:
    PlatformImage mImage;
    double mAspectRatio = 0;
    Point mTopLeft;
    Point mBottomRight;
};

} // namespace corvex
