#include "graphics/ImageBuilder.h"

#include "platform/gfx/GraphicsContext.h"

namespace corvex {

ImageBuilder::~ImageBuilder()
{
    // The current context must not be left pointing at the bitmap about to be destroyed.
    if (mStarted)
        GraphicsContext::setCurrent(mPrevious);
}

GraphicsContext* ImageBuilder::startWithSize(double width, double height, GraphicsContext::PixelLayout layout)
{
    if (!mStarted) {
        mPrevious = GraphicsContext::current();
        mStarted = true;
    }
    // The new context is current before the old one goes, so the pointer never dangles.
    std::unique_ptr<GraphicsContext> context = GraphicsContext::createBitmap(width, height, layout);
    GraphicsContext::setCurrent(context.get());
    mContext = std::move(context);
    mSize = Size(width, height);
    return mContext.get();
}

PlatformImage ImageBuilder::consumeImage()
{
    if (!mStarted)
        return PlatformImage();
    GraphicsContext::setCurrent(mPrevious);
    mPrevious = nullptr;
    mStarted = false;
    const std::unique_ptr<GraphicsContext> context = std::move(mContext);
    if (!context)
        return PlatformImage();
    return PlatformImage(context->makeImage(), mSize);
}

} // namespace corvex
