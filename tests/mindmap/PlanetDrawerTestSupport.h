#pragma once

// Shared helpers of the planet tests: drawing a planet into a bitmap the way its layer's
// cache does, the fixed inputs of the reference pictures (tests/data/planets/, written by
// tests/data/gen/make_reference_planets.py) and pixel probes.

#include "graphics/ColorSpaceConverter.h"
#include "mindmap/PlanetDrawer.h"
#include "mindmap/PlanetLayer.h"
#include "model/Color.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformImage.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <memory>

namespace corvex::test {

inline QString planetDataDir()
{
    return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() + QStringLiteral("/../data/planets/");
}

// A picture of tests/data/planets/ as premultiplied RGBA; null when missing.
inline QImage planetDataImage(const QString& name)
{
    QImage image;
    QFile file(planetDataDir() + name + QStringLiteral(".png"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    image.loadFromData(file.readAll(), "PNG");
    return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

// The base colour of the reference planets: RGB (51, 128, 204).
inline ColorPtr planetTestColor()
{
    return Color::withRGB(QStringLiteral("reference blue"), RGBA{51, 128, 204, 1});
}

// The drawer's planet drawn into a new bitmap at `deviceScale` pixels a unit, y-down from
// the top-left corner as the drawer expects; premultiplied RGBA, top row = top of the planet.
inline QImage drawPlanetBitmap(PlanetDrawer& drawer, double deviceScale)
{
    const Size size = drawer.scaledSize();
    auto context = GraphicsContext::createBitmap(size.width * deviceScale, size.height * deviceScale);
    if (!context)
        return {};
    context->translateCTM(0, context->bitmapHeight());
    context->scaleCTM(deviceScale, -deviceScale);
    drawer.drawInCurrentContext(*context);
    return context->makeImage();
}

// The layer's cache drawn anew at a contents scale, as premultiplied RGBA.
inline QImage displayPlanetLayer(PlanetLayer& layer, double contentsScale)
{
    layer.setContentsScale(contentsScale);
    layer.display();
    return layer.contents().convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

inline void savePlanetOutput(const QImage& image, const QString& name)
{
    const QString dir = testOutputDir() + QStringLiteral("/planets");
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// The alpha byte of a pixel (0 outside the image).
inline int planetAlphaAt(const QImage& image, int x, int y)
{
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height())
        return 0;
    return qAlpha(image.pixel(x, y));
}

// The bounding box of the pixels inside `area` whose colour differs from `background` by more
// than `threshold` in any channel (null when none).
inline QRect planetInkBounds(const QImage& image, const QRect& area, QRgb background, int threshold)
{
    QRect box;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            const int d =
                std::max({std::abs(qRed(p) - qRed(background)), std::abs(qGreen(p) - qGreen(background)),
                          std::abs(qBlue(p) - qBlue(background)), std::abs(qAlpha(p) - qAlpha(background))});
            if (d > threshold)
                box = box.united(QRect(x, y, 1, 1));
        }
    return box;
}

} // namespace corvex::test
