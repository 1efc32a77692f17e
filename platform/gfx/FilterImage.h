#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Rect.h"

#include <QImage>
#include <memory>

namespace corvex {

// Image filters in software: an immutable value made of an extent (possibly infinite) and a
// function that renders any part of it. Filters chain lazily; nothing is computed until
// render().
//
// Coordinates: y up, the origin at the bottom left, one unit per pixel. Pixel (x, y) covers
// [x, x + 1) x [y, y + 1). An image made by fromImage(q) covers
// (0, 0, q.width(), q.height()) with q's top row at the top (y from height - 1 to height),
// so rendering its extent gives q back.
//
// Pixels are premultiplied RGBA in single precision between the steps; sRGB values are used
// as they are (no colour management). Values are cheap to copy and may be rendered from any
// thread.
class FilterImage
{
public:
    FilterImage(); // the empty image: no pixels, a null extent

    static FilterImage fromImage(const QImage& image);
    // The colour everywhere (infinite extent).
    static FilterImage constantColor(const PlatformColor& color);
    // source multiplied over background, premultiplied: S*D + S*(1 - Da) + D*(1 - Sa) for the
    // colours, Sa + Da - Sa*Da for alpha. The extent is the union of both.
    static FilterImage multiplyBlend(const FilterImage& source, const FilterImage& background);

    // Per pixel on un-premultiplied colour: c' = lum + saturation * (c - lum) with lum =
    // 0.2125 R + 0.7154 G + 0.0721 B, then + brightness, then (c' - 0.5) * contrast + 0.5,
    // clamped to 0..1. Non-finite arguments read as the neutral values (1, 0, 1).
    FilterImage colorControls(double saturation, double brightness = 0, double contrast = 1) const;
    // A separable Gaussian with sigma = radius, reading transparent outside the input; the
    // extent grows by ceil(3 sigma) on every side. A radius of 0 or less (or not finite) is
    // no blur; radii above 200 count as 200.
    FilterImage gaussianBlur(double radius) const;
    // The part inside the rectangle: the extent is the intersection, pixels whose centre
    // lies outside are transparent.
    FilterImage cropped(const Rect& rect) const;

    // Rect::infinite() for an infinite image, Rect::null() for the empty one.
    Rect extent() const;
    bool isEmpty() const;
    bool isInfinite() const;

    // The pixels of rect.integral() as an image (Format_RGBA8888_Premultiplied): its row 0 is
    // the top row of the rectangle (the row just below its maximum y), its column 0 the
    // minimum x; transparent where the image has no pixels. A null QImage for an empty,
    // infinite or not finite rectangle, or one above 2^26 pixels.
    QImage render(const Rect& rect) const;

private:
    struct Node;
    explicit FilterImage(std::shared_ptr<const Node> node);
    std::shared_ptr<const Node> mNode;
};

} // namespace corvex
