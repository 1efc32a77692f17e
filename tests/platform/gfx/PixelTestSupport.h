#pragma once

// Pixel reading for the drawing tests: bytes straight from a bitmap context, printed as
// "(r, g, b, a)" in assertion messages, and a copy of each rendered image for a person to
// look at under the build folder's test-output.

#include "platform/gfx/GraphicsContext.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <memory>
#include <ostream>

namespace corvex::test {

struct Rgba
{
    int r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const Rgba&, const Rgba&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Rgba& c)
    {
        return os << '(' << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ')';
    }
};

// The pixel at column x, row y (row 0 is the first row in memory, the top of the image).
inline Rgba pixelAt(GraphicsContext& context, int x, int y)
{
    const uchar* p = context.bitmapData() + y * context.bytesPerRow() + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

inline Rgba pixelAt(const QImage& image, int x, int y)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const uchar* p = rgba.constScanLine(y) + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

// Writes the image as test-output/<group>/<name>.png.
inline void saveForReview(const QImage& image, const QString& group, const QString& name)
{
    const QString dir = testOutputDir() + QLatin1Char('/') + group;
    QDir().mkpath(dir);
    image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

inline void saveForReview(GraphicsContext& context, const QString& group, const QString& name)
{
    saveForReview(context.makeImage(), group, name);
}

constexpr Rgba kClear{0, 0, 0, 0};
constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kGreen{0, 255, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};
constexpr Rgba kWhite{255, 255, 255, 255};

// A y-down context over a QImage (as a flipped view draws), with the image it paints.
struct FlippedCanvas
{
    QImage image;
    std::unique_ptr<QPainter> painter;
    std::unique_ptr<GraphicsContext> context;

    FlippedCanvas(int width, int height) : image(width, height, QImage::Format_RGBA8888_Premultiplied)
    {
        image.fill(Qt::transparent);
        painter = std::make_unique<QPainter>(&image);
        context = std::make_unique<GraphicsContext>(painter.get(), true);
    }
    QImage finish()
    {
        context.reset();
        painter.reset();
        return image;
    }
};

// A 2 x 2 image: red top left, green top right, blue bottom left, white bottom right.
inline QImage cornerImage()
{
    QImage image(2, 2, QImage::Format_RGBA8888_Premultiplied);
    image.setPixelColor(0, 0, QColor(255, 0, 0));
    image.setPixelColor(1, 0, QColor(0, 255, 0));
    image.setPixelColor(0, 1, QColor(0, 0, 255));
    image.setPixelColor(1, 1, QColor(255, 255, 255));
    return image;
}

} // namespace corvex::test
