#include "toolkit/ColorImageTinting.h"

#include "graphics/ColorSpaceConverter.h"
#include "model/Color.h"
#include "model/Globals.h"

#include <QImage>
#include <algorithm>

namespace corvex {

namespace {

// The image's pixels as RGBA premultiplied bytes, rows of exactly 4 x width bytes: as if
// drawn into a zero-filled buffer of the representation's pixel size.
QImage pixelBuffer(const PlatformImage& image)
{
    if (image.isNull() || !(image.size().width > 0) || !(image.size().height > 0))
        return {};
    const QImage rep = image.bestRepresentation(Rect(Point(0, 0), image.size()), Globals::screenScale());
    if (rep.isNull() || rep.width() <= 0 || rep.height() <= 0)
        return {};
    QImage buffer(rep.size(), QImage::Format_RGBA8888_Premultiplied);
    if (buffer.isNull())
        return {};
    // QImage pads rows to 4 bytes; 4 bytes a pixel needs none, so rows are exactly 4 x width.
    const QImage converted = rep.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < buffer.height(); ++y)
        std::copy_n(converted.constScanLine(y), 4 * buffer.width(), buffer.scanLine(y));
    return buffer;
}

// Un-premultiplied colour (0..255) and alpha (0..1) of a pixel with alpha byte > 0.
RGBA unpremultiplied(const uchar* p)
{
    const double a = p[3];
    return RGBA{p[0] * 255.0 / a, p[1] * 255.0 / a, p[2] * 255.0 / a, a / 255.0};
}

// A byte from a component, truncated toward zero; values outside the byte range (colours
// made with components beyond 0..255, bytes that were not validly premultiplied) are held
// at its ends.
uchar byteOf(double value)
{
    if (!(value > 0))
        return 0;
    return value >= 255 ? uchar(255) : uchar(int(value));
}

} // namespace

PlatformImage ColorImageTinting::transformImage(const PlatformImage& image,
                                                const std::shared_ptr<Color>& color)
{
    QImage buffer = pixelBuffer(image);
    if (buffer.isNull())
        return {};
    const RGBA target = color ? color->rgba() : RGBA{};
    for (int y = 0; y < buffer.height(); ++y) {
        uchar* p = buffer.scanLine(y);
        for (int x = 0; x < buffer.width(); ++x, p += 4) {
            const float f = float(p[3] / 255.0);
            p[0] = byteOf(target.red * f);
            p[1] = byteOf(target.green * f);
            p[2] = byteOf(target.blue * f);
            p[3] = byteOf(f * 255.0);
        }
    }
    return PlatformImage(buffer, image.size());
}

PlatformImage ColorImageTinting::transformImageWithRealTransform(const PlatformImage& image,
                                                                 const std::shared_ptr<Color>& color)
{
    QImage buffer = pixelBuffer(image);
    if (buffer.isNull())
        return {};
    // A transparent centre has no colour: the reference stays all zero.
    HSVA reference;
    const uchar* centre = buffer.constScanLine(buffer.height() / 2) + 4 * (buffer.width() / 2);
    if (centre[3] > 0)
        ColorSpaceConverter::RGBToHSV(unpremultiplied(centre), reference);
    const HSVA target = color ? color->hsva() : HSVA{};

    for (int y = 0; y < buffer.height(); ++y) {
        uchar* p = buffer.scanLine(y);
        for (int x = 0; x < buffer.width(); ++x, p += 4) {
            if (p[3] == 0) {
                p[0] = p[1] = p[2] = 0;
                continue;
            }
            const RGBA result = ColorSpaceConverter::transformPixel(unpremultiplied(p), reference, target);
            p[0] = byteOf(result.red * result.alpha);
            p[1] = byteOf(result.green * result.alpha);
            p[2] = byteOf(result.blue * result.alpha);
            p[3] = byteOf(result.alpha * 255);
        }
    }
    return PlatformImage(buffer, image.size());
}

} // namespace corvex
