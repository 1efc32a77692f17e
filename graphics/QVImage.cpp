#include "graphics/QVImage.h"

#include "platform/core/Log.h"
#include "platform/core/WholeFileReader.h"
#include "platform/gfx/FilterImage.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"

#include <cmath>

namespace corvex {
namespace {

constexpr QImage::Format kPixelFormat = QImage::Format_RGBA8888_Premultiplied;

// No PNG or JPEG file larger than this can decode within the codec's allocation limit with
// any sensible compression; refusing it up front keeps a dropped huge file out of memory.
constexpr qint64 kMaxFileBytes = qint64(ImageCodec::AllocationLimitMB) * 2 * 1024 * 1024;

// The vertical mirror within `rect` of the flipped drawing variants: after it, drawing into
// the returned rectangle covers `rect` with the image upside down relative to unflipped
// drawing.
Rect mirrorWithin(GraphicsContext& context, const Rect& rect)
{
    context.translateCTM(0, rect.size.height);
    context.scaleCTM(1, -1);
    return Rect(rect.origin.x, -rect.origin.y, rect.size.width, rect.size.height);
}

} // namespace

QVImage::QVImage(const QImage& image)
    : mPicture(image.isNull()
                   ? nullptr
                   : SharedPicture::withPixels(
                         image.format() == kPixelFormat ? image : image.convertToFormat(kPixelFormat),
                         QByteArray()))
{}

std::optional<QVImage> QVImage::readFromURL(const QUrl& fileUrl)
{
    if (!fileUrl.isLocalFile())
        return std::nullopt;
    return readFromURL(fileUrl.toLocalFile());
}

std::optional<QVImage> QVImage::readFromURL(const QString& path)
{
    const auto bytes = WholeFileReader::read(path, kMaxFileBytes);
    if (!bytes.ok())
        return std::nullopt;
    const PlatformImage decoded = PlatformImage::fromData(bytes.value());
    if (decoded.isNull())
        return std::nullopt;
    return initWithNSImage(decoded);
}

QVImage QVImage::initWithPNGData(const QByteArray& data)
{
    const QImage pixels = ImageCodec::decodePNG(data);
    QVImage image;
    if (!pixels.isNull())
        image.mPicture = SharedPicture::withPixels(pixels, data);
    return image;
}

QVImage QVImage::initWithStoredPNGData(const QByteArray& data)
{
    QVImage image;
    image.mPicture = SharedPicture::withStoredPNG(data);
    return image;
}

QVImage QVImage::initWithJPEGData(const QByteArray& data)
{
    return QVImage(ImageCodec::decodeJPEG(data));
}

QVImage QVImage::initWithSomeData(const QByteArray& data)
{
    return isPNG(data) ? initWithPNGData(data) : initWithJPEGData(data);
}

bool QVImage::isPNG(const QByteArray& data)
{
    return data.size() >= 5 && uchar(data[0]) == 0x89 && data[1] == 'P' && data[2] == 'N' && data[3] == 'G';
}

QVImage QVImage::initWithCGImage(const QImage& image)
{
    return QVImage(image);
}

QVImage QVImage::initWithNSImage(const PlatformImage& image)
{
    const GraphicsContext* current = GraphicsContext::current();
    const double scale = current != nullptr ? current->userSpaceScale() : 1.0;
    return QVImage(image.bestRepresentation(Rect(Point(), image.size()), scale));
}

QVImage QVImage::initWithCIImage(const FilterImage& image, const Rect& fromRect)
{
    const Size size = fromRect.size;
    std::unique_ptr<GraphicsContext> bitmap = createBitmapContextForSize(size);
    if (!bitmap)
        return QVImage();
    const Rect from = fromRect.standardized();
    // The filter renders whole pixels; place them so that `from` maps onto the bitmap.
    const Rect rendered = from.integral();
    const QImage pixels = image.render(rendered);
    if (!pixels.isNull() && !from.isEmpty()) {
        const double sx = std::fabs(size.width) / from.width();
        const double sy = std::fabs(size.height) / from.height();
        bitmap->drawImage(Rect((rendered.minX() - from.minX()) * sx, (rendered.minY() - from.minY()) * sy,
                               rendered.width() * sx, rendered.height() * sy),
                          pixels);
    }
    return QVImage(bitmap->makeImage());
}

Size QVImage::pixelSize() const
{
    const QSize size = mPicture ? mPicture->size() : QSize(0, 0);
    return Size(size.width(), size.height());
}

const QImage& QVImage::cgImage() const
{
    static const QImage none;
    return mPicture ? mPicture->pixels() : none;
}

QImage QVImage::cgImageFitting(int side) const
{
    return mPicture ? mPicture->pixelsFitting(side) : QImage();
}

QImage QVImage::pixelsDrawnIn(const Rect& rect, const GraphicsContext& context) const
{
    const double side = std::max(std::fabs(rect.size.width), std::fabs(rect.size.height));
    return cgImageFitting(int(std::ceil(std::min(side * context.imagePixelScale(), 1e6))));
}

PlatformImage QVImage::nsImage() const
{
    return PlatformImage(cgImage(), pixelSize());
}

PlatformImage QVImage::nsImageFitting(int side) const
{
    return PlatformImage(cgImageFitting(side), pixelSize());
}

QByteArray QVImage::pngData() const
{
    return mPicture ? mPicture->pngData() : QByteArray();
}

QByteArray QVImage::jpegData() const
{
    return ImageCodec::encodeJPEG(cgImage());
}

void QVImage::drawInRect(const Rect& rect, GraphicsContext* context, bool flipped) const
{
    if (context == nullptr)
        return;
    if (!flipped) {
        context->drawImage(rect, pixelsDrawnIn(rect, *context));
        return;
    }
    context->saveGState();
    context->drawImage(mirrorWithin(*context, rect), pixelsDrawnIn(rect, *context));
    context->restoreGState();
}

void QVImage::drawInRect(const Rect& rect, GraphicsContext* context) const
{
    drawInRect(rect, context, false);
}

void QVImage::drawInRect(const Rect& rect, GraphicsContext* context, BlendMode mode, double alpha,
                         bool flipped) const
{
    if (context == nullptr)
        return;
    context->saveGState();
    const Rect target = flipped ? mirrorWithin(*context, rect) : rect;
    context->setBlendMode(mode);
    context->setAlpha(alpha);
    context->drawImage(target, pixelsDrawnIn(rect, *context));
    context->restoreGState();
}

std::unique_ptr<GraphicsContext> QVImage::createBitmapContextForSize(Size size)
{
    std::unique_ptr<GraphicsContext> context = GraphicsContext::createBitmap(size.width, size.height);
    if (!context)
        Log::assertionFailure(220, "+[QVImage createBitmapContextForSize:]");
    return context;
}

QVImage QVImage::scaleToSize(Size size) const
{
    std::unique_ptr<GraphicsContext> bitmap = createBitmapContextForSize(size);
    if (!bitmap)
        return QVImage();
    bitmap->drawImage(Rect(Point(), size), cgImage());
    return QVImage(bitmap->makeImage());
}

QVImage QVImage::scaleToWidth(double width) const
{
    const Size pixels = pixelSize();
    return scaleToSize(Size(width, pixels.height * (width / pixels.width)));
}

} // namespace corvex
