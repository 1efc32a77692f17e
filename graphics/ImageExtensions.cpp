#include "graphics/ImageExtensions.h"

#include "graphics/QVImage.h"
#include "platform/gfx/GraphicsContext.h"

namespace corvex {

PlatformImage ImageExtensions::deviceImageNamed(const QString& name)
{
    return PlatformImage::imageNamed(name);
}

PlatformImage ImageExtensions::longImageNamed(const QString& name)
{
    return PlatformImage::imageNamed(name);
}

void ImageExtensions::drawInRect(const PlatformImage& image, const Rect& rect, GraphicsContext* context,
                                 bool flipped)
{
    if (context == nullptr || image.isNull())
        return;
    // The proposed rectangle differs between the two cases only by its origin, which does not
    // change the representation chosen.
    const Rect proposed = flipped ? Rect(Point(), rect.size) : rect;
    QVImage(image.bestRepresentation(proposed)).drawInRect(rect, context, flipped);
}

void ImageExtensions::drawInRect(const PlatformImage& image, const Rect& rect, GraphicsContext* context)
{
    drawInRect(image, rect, context, false);
}

void ImageExtensions::drawInRect(const PlatformImage& image, const Rect& rect, GraphicsContext* context,
                                 BlendMode mode, double alpha, bool flipped)
{
    if (context == nullptr || image.isNull())
        return;
    const QImage pixels = image.bestRepresentation(rect);
    context->saveGState();
    Rect target = rect;
    if (flipped) {
        context->translateCTM(rect.origin.x, rect.origin.y + rect.size.height);
        context->scaleCTM(1, -1);
        target = Rect(Point(), rect.size);
    }
    context->setBlendMode(mode);
    context->setAlpha(alpha);
    context->drawImage(target, pixels);
    context->restoreGState();
}

void ImageExtensions::drawInRect(const PlatformImage& image, const Rect& rect, BlendMode, double)
{
    image.drawInRect(rect);
}

void ImageExtensions::drawAtPoint(const PlatformImage& image, Point point, BlendMode, double)
{
    image.drawAtPoint(point, Rect(), BlendMode::Copy, 1.0);
}

PlatformImage ImageExtensions::scaleToSize(const PlatformImage& image, Size size)
{
    // Our bitmaps are RGBA with premultiplied alpha; nothing reads the bytes of this image
    // directly.
    std::unique_ptr<GraphicsContext> bitmap = GraphicsContext::createBitmap(size.width, size.height);
    if (!bitmap)
        return PlatformImage();
    GraphicsContext* previous = GraphicsContext::current();
    GraphicsContext::setCurrent(bitmap.get());
    image.drawInRect(Rect(Point(), size));
    GraphicsContext::setCurrent(previous);
    return PlatformImage(bitmap->makeImage(), size);
}

} // namespace corvex
