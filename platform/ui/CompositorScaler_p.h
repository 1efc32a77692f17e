#pragma once

// The compositor's scaler: contents drawn with a scale and a translation (no rotation) into
// a device-resolution image, the opacity multiplied in. It samples as QPainter's smooth
// image drawing does (bilinear between pixel centres, edge pixels repeated, the pixels
// whose centres lie in the scaled rectangle) at a fraction of its cost, so that a layer
// whose scale changes every frame (a zoom, a drill into a planet) is scaled afresh each
// frame and then only copied.

#include <QImage>
#include <QPoint>
#include <QTransform>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace corvex {

// Per source row, the columns [first, end) that are not clear.
using ScalerRowSpans = std::vector<std::pair<int, int>>;

struct ScaledRendition
{
    QImage image;  // ARGB32 premultiplied; transparent outside the scaled contents
    QPoint origin; // device pixel of the image's top-left corner
};

// One drawing of contents: where each device pixel samples them is worked out once, then
// any band of rows can be made (a band at a time into a small buffer, or the whole image).
class CompositorScaler
{
public:
    // Whether contents in `format` can be scaled here: the 32-bit premultiplied (or opaque)
    // formats, which interpolate channel by channel whatever their byte order.
    static bool supports(QImage::Format format);
    // `source` mapped by `toDevice` (contents pixels to device pixels: a scale, possibly
    // mirrored, and a translation) with `opacity` (0 to 1) applied. A null rendition when
    // the transform is not such a one, the source format is not supported, or the result
    // would exceed `maxSide` pixels a side.
    static ScaledRendition scale(const QImage& source, const QTransform& toDevice, double opacity,
                                 int maxSide);

    // The same set up for bands of rows; invalid in the cases scale() answers null. The
    // source is shared, not copied.
    CompositorScaler(const QImage& source, const QTransform& toDevice, double opacity, int maxSide);
    ~CompositorScaler();
    CompositorScaler(const CompositorScaler&) = delete;
    CompositorScaler& operator=(const CompositorScaler&) = delete;

    bool isValid() const { return mPlan != nullptr; }
    // The device pixel of the drawing's top-left corner, and its size in pixels.
    QPoint origin() const;
    QSize size() const;
    // Rows [first, first + count) of the drawing, ARGB32 premultiplied, into `out` (rows
    // `bytesPerLine` apart, each at least size().width() pixels). Nothing outside the size.
    void scaleRows(int first, int count, uchar* out, qsizetype bytesPerLine) const;
    // The same rows blended source-over, exactly as QPainter blends premultiplied pixels, into
    // ARGB32-premultiplied or RGB32 pixels, columns [fromColumn, toColumn) of the drawing
    // only: `out` is where column fromColumn of row `first` lands, rows `bytesPerLine` apart.
    // No band of rows is kept in between, and clear pixels leave the target as it was.
    void blendRows(int first, int count, int fromColumn, int toColumn, uchar* out,
                   qsizetype bytesPerLine) const;

private:
    // Row y's covered columns that are not clear into `line` (the rest untouched); answers
    // them as [first, end). `mixed` holds the vertical mix.
    std::pair<int, int> scaleRow(int y, std::uint32_t* line, std::vector<std::uint32_t>& mixed) const;

    struct Plan;
    std::unique_ptr<Plan> mPlan;
};

} // namespace corvex
