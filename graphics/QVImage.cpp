#include "graphics/QVImage.h"

#include "platform/core/Log.h"
#include "platform/core/SysCalls.h"
#include "platform/gfx/FilterImage.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex {
namespace {

constexpr QImage::Format kPixelFormat = QImage::Format_RGBA8888_Premultiplied;

// No PNG or JPEG file larger than this can decode within the codec's allocation limit with
// any sensible compression; refusing it up front keeps a dropped huge file out of memory.
constexpr qint64 kMaxFileBytes = qint64(ImageCodec::AllocationLimitMB) * 2 * 1024 * 1024;

std::optional<QByteArray> readWholeFile(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    const QByteArray encoded = path.toLocal8Bit();
    const int fd = SysCalls::open(encoded.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<QByteArray> result;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileBytes) {
        QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
        qsizetype done = 0;
        bool failed = false;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, std::size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // An error, or a file that shrank while we read it.
                failed = n < 0;
                break;
            }
            done += n;
        }
        if (!failed) {
            bytes.truncate(done);
            result = std::move(bytes);
        }
    }
    SysCalls::close(fd);
    return result;
}

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
    : mImage(image.isNull() || image.format() == kPixelFormat ? image : image.convertToFormat(kPixelFormat))
{}

std::optional<QVImage> QVImage::readFromURL(const QUrl& fileUrl)
{
    if (!fileUrl.isLocalFile())
        return std::nullopt;
    return readFromURL(fileUrl.toLocalFile());
}

std::optional<QVImage> QVImage::readFromURL(const QString& path)
{
    const std::optional<QByteArray> bytes = readWholeFile(path);
    if (!bytes)
        return std::nullopt;
    const PlatformImage decoded = PlatformImage::fromData(*bytes);
    if (decoded.isNull())
        return std::nullopt;
    return initWithNSImage(decoded);
}

QVImage QVImage::initWithPNGData(const QByteArray& data)
{
    return QVImage(ImageCodec::decodePNG(data));
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
    return Size(mImage.width(), mImage.height());
}

PlatformImage QVImage::nsImage() const
{
    return PlatformImage(mImage, pixelSize());
}

QByteArray QVImage::pngData() const
{
    return ImageCodec::encodePNG(mImage);
}

QByteArray QVImage::jpegData() const
{
    return ImageCodec::encodeJPEG(mImage);
}

void QVImage::drawInRect(const Rect& rect, GraphicsContext* context, bool flipped) const
{
    if (context == nullptr)
        return;
    if (!flipped) {
        context->drawImage(rect, mImage);
        return;
    }
    context->saveGState();
    context->drawImage(mirrorWithin(*context, rect), mImage);
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
    context->drawImage(target, mImage);
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
    bitmap->drawImage(Rect(Point(), size), mImage);
    return QVImage(bitmap->makeImage());
}

QVImage QVImage::scaleToWidth(double width) const
{
    const Size pixels = pixelSize();
    return scaleToSize(Size(width, pixels.height * (width / pixels.width)));
}

} // namespace corvex
