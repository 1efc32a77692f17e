#include "platform/gfx/PlatformImage.h"

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/ImageCodec.h"
#include "resources/ArtworkResources.h"

#include <QFile>
#include <QHash>
#include <cmath>
#include <mutex>

namespace corvex {

namespace {

QImage loadResource(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ImageCodec::decode(file.readAll());
}

} // namespace

PlatformImage::PlatformImage(const QImage& image)
{
    if (image.isNull())
        return;
    mSize = Size(image.width(), image.height());
    mRepresentations.push_back(image);
}

PlatformImage::PlatformImage(const QImage& image, Size size) : PlatformImage(image)
{
    if (!isNull())
        mSize = size;
}

PlatformImage PlatformImage::imageNamed(const QString& name)
{
    static std::mutex mutex;
    static QHash<QString, PlatformImage> cache;

    QString base = name;
    if (base.endsWith(QLatin1String(".png")))
        base.chop(4);
    if (base.isEmpty() || base.contains(QLatin1Char('/')))
        return {};

    std::lock_guard<std::mutex> lock(mutex);
    const auto found = cache.constFind(base);
    if (found != cache.constEnd())
        return *found;

    initArtworkResources();
    const QString prefix = QStringLiteral(":/images/") + base;
    const QImage one = loadResource(prefix + QLatin1String(".png"));
    const QImage two = loadResource(prefix + QLatin1String("@2x.png"));
    PlatformImage image;
    if (!one.isNull()) {
        image = PlatformImage(one);
        if (!two.isNull())
            image.addRepresentation(two);
    } else if (!two.isNull()) {
        image = PlatformImage(two, Size(two.width() / 2.0, two.height() / 2.0));
    }
    image.mName = image.isNull() ? QString() : base;
    cache.insert(base, image);
    return image;
}

PlatformImage PlatformImage::fromData(const QByteArray& bytes)
{
    return PlatformImage(ImageCodec::decode(bytes));
}

void PlatformImage::addRepresentation(const QImage& image)
{
    if (image.isNull())
        return;
    if (isNull())
        mSize = Size(image.width(), image.height());
    mRepresentations.push_back(image);
}

QImage PlatformImage::bestRepresentation(const Rect& proposedRect, double scale) const
{
    if (isNull())
        return {};
    const Size points = proposedRect.isEmpty() ? mSize : proposedRect.standardized().size;
    if (!(scale > 0) || !std::isfinite(scale))
        scale = 1;
    const double wantW = std::fabs(points.width) * scale;
    const double wantH = std::fabs(points.height) * scale;
    const QImage* best = nullptr;
    const QImage* largest = nullptr;
    for (const QImage& rep : mRepresentations) {
        const qint64 area = qint64(rep.width()) * rep.height();
        if (largest == nullptr || area > qint64(largest->width()) * largest->height())
            largest = &rep;
        // Half a pixel of slack keeps rounding from passing over an exact fit.
        if (rep.width() + 0.5 >= wantW && rep.height() + 0.5 >= wantH &&
            (best == nullptr || area < qint64(best->width()) * best->height()))
            best = &rep;
    }
    return best != nullptr ? *best : *largest;
}

QImage PlatformImage::pixelsFor(const GraphicsContext& context, const Rect& target,
                                const Rect& fromRect) const
{
    const bool whole = fromRect.isEmpty();
    const Rect from = whole ? Rect(Point(), mSize) : fromRect.standardized();
    if (from.isEmpty() || mSize.width <= 0 || mSize.height <= 0)
        return {};
    // The whole image at the size it is drawn at, for picking the representation.
    const Rect proposed(0, 0, target.width() * mSize.width / from.width(),
                        target.height() * mSize.height / from.height());
    const QImage rep = bestRepresentation(proposed, context.userSpaceScale());
    if (whole)
        return rep;
    const double sx = rep.width() / mSize.width;
    const double sy = rep.height() / mSize.height;
    const int x0 = int(std::lround(from.minX() * sx));
    const int x1 = int(std::lround(from.maxX() * sx));
    const int y0 = int(std::lround((mSize.height - from.maxY()) * sy));
    const int y1 = int(std::lround((mSize.height - from.minY()) * sy));
    const QRect pixels = QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1)).intersected(rep.rect());
    if (pixels.isEmpty())
        return {};
    return pixels == rep.rect() ? rep : rep.copy(pixels);
}

void PlatformImage::drawInRect(const Rect& rect, const Rect& fromRect, BlendMode mode, double fraction) const
{
    if (GraphicsContext* context = GraphicsContext::current())
        drawInRect(*context, rect, fromRect, mode, fraction);
}

void PlatformImage::drawInRect(GraphicsContext& context, const Rect& rect, const Rect& fromRect,
                               BlendMode mode, double fraction) const
{
    if (isNull() || rect.isEmpty())
        return;
    const QImage pixels = pixelsFor(context, rect, fromRect);
    if (pixels.isNull())
        return;
    const Rect target = rect.standardized();
    context.saveGState();
    context.setBlendMode(mode);
    context.setAlpha(context.alpha() * fraction);
    if (context.isFlipped()) {
        // Mirrored about the rectangle's middle, so that the drawing rule's top row lands at
        // the top on screen.
        context.translateCTM(0, target.minY() + target.maxY());
        context.scaleCTM(1, -1);
    }
    context.drawImage(target, pixels);
    context.restoreGState();
}

void PlatformImage::drawAtPoint(Point point, const Rect& fromRect, BlendMode mode, double fraction) const
{
    if (GraphicsContext* context = GraphicsContext::current())
        drawAtPoint(*context, point, fromRect, mode, fraction);
}

void PlatformImage::drawAtPoint(GraphicsContext& context, Point point, const Rect& fromRect, BlendMode mode,
                                double fraction) const
{
    if (isNull())
        return;
    const Size size = fromRect.isEmpty() ? mSize : fromRect.standardized().size;
    const Rect target(point, size);
    if (target.isEmpty())
        return;
    const QImage pixels = pixelsFor(context, target, fromRect);
    if (pixels.isNull())
        return;
    context.saveGState();
    context.setBlendMode(mode);
    context.setAlpha(context.alpha() * fraction);
    context.drawImage(target, pixels);
    context.restoreGState();
}

} // namespace corvex
