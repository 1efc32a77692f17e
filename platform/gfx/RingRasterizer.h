#pragma once

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QRgb>

namespace corvex {

// Strokes a circle straight into 32-bit pixels: each pixel gets the exact share of its area
// that the stroke covers, blended source-over. The circle follows the four cubic quarters
// that Path::addEllipseInRect draws, so a ring drawn here and one QPainter strokes differ
// only in the rounding of edge pixels, at a small part of the cost (QPainter flattens,
// outlines and scan-converts the whole ring, and hands blends of many spans to its thread
// pool; a large orbit ring redrawn every animation frame made up a third of the frame).
class RingRasterizer
{
public:
    // The pixel formats written here: 32-bit premultiplied or opaque, either byte order.
    static bool supports(QImage::Format format);

    // Whether a stroke of `width` around `radius` (device pixels) is drawn here: wider than
    // one pixel (thinner pens draw as hairlines), a hole inside, finite sizes.
    static bool canStroke(double radius, double width);

    // `centre`, `radius` and `width` (the stroke's full width) in device pixels, the colour
    // premultiplied. Only pixels inside `clip` and the image change. Does nothing when
    // supports() or canStroke() would answer no.
    static void strokeCircle(QImage& image, const QRect& clip, QPointF centre, double radius, double width,
                             QRgb premultiplied);
};

} // namespace corvex
