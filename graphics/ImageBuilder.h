#pragma once

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformImage.h"

#include <memory>

namespace corvex {

// An offscreen picture maker: start it with a size, draw into the context it answers, then
// consume the image. Between the two calls the builder's context is the thread's current
// graphics context, so start and consume belong on one thread, with no other builder
// interleaved there.
//
// The bitmap is RGBA with premultiplied alpha, the one format every bitmap here shares;
// nothing reads its bytes directly. A caller that only draws the image again may ask for
// the layout QPainter fills fastest.
class ImageBuilder
{
public:
    ImageBuilder() = default;
    // A builder destroyed while started restores the current context it saved.
    ~ImageBuilder();
    ImageBuilder(const ImageBuilder&) = delete;
    ImageBuilder& operator=(const ImageBuilder&) = delete;

    // A bitmap of width x height pixels (truncated), zero-filled, whose context becomes the
    // current one and is answered for drawing: origin at the bottom left, y up, one unit a
    // pixel. Owned by the builder until consumeImage. A size below one pixel (or not finite,
    // or too large) answers null and leaves no current context until consumeImage. Starting
    // again before consuming drops the first bitmap; consumeImage still restores the context
    // that was current before the first start.
    GraphicsContext* startWithSize(double width, double height,
                                   GraphicsContext::PixelLayout layout = GraphicsContext::PixelLayout::Rgba);
    // Restores the current context saved by startWithSize and answers the drawing as an image
    // of the requested size in points; the builder is then empty. Without a bitmap (never
    // started, already consumed, or the start failed) the null image.
    PlatformImage consumeImage();

private:
    std::unique_ptr<GraphicsContext> mContext;
    GraphicsContext* mPrevious = nullptr;
    Size mSize;
    bool mStarted = false;
};

} // namespace corvex
