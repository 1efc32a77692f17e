#pragma once

// Pixels for the image tests: bytes read straight from a bitmap context or an image (in the
// order R, G, B, A as they lie in memory), small images with distinct corners, and copies of
// rendered bitmaps under the build folder's test-output for a person to look at.

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/PlatformImage.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QImage>
#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace corvex::test {

struct Pixel
{
    int r = 0, g = 0, b = 0, a = 0;
    friend bool operator==(const Pixel&, const Pixel&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Pixel& p)
    {
        return os << '(' << p.r << ", " << p.g << ", " << p.b << ", " << p.a << ')';
    }
};

// Column x of memory row y (row 0 is the top of the image made from the bitmap).
inline Pixel bitmapPixel(GraphicsContext& context, int x, int y)
{
    const uchar* p = context.bitmapData() + y * context.bytesPerRow() + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

inline Pixel imagePixel(const QImage& image, int x, int y)
{
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const uchar* p = rgba.constScanLine(y) + x * 4;
    return {p[0], p[1], p[2], p[3]};
}

// The one bitmap of an image that has a single representation.
inline const QImage& onlyRepresentation(const PlatformImage& image)
{
    return image.representations().front();
}

inline void setPixel(QImage& image, int x, int y, Pixel p)
{
    uchar* d = image.scanLine(y) + x * 4;
    d[0] = uchar(p.r);
    d[1] = uchar(p.g);
    d[2] = uchar(p.b);
    d[3] = uchar(p.a);
}

constexpr Pixel kClear{0, 0, 0, 0};
constexpr Pixel kRed{255, 0, 0, 255};
constexpr Pixel kGreen{0, 255, 0, 255};
constexpr Pixel kBlue{0, 0, 255, 255};
constexpr Pixel kWhite{255, 255, 255, 255};
// Premultiplied (200, 100, 50) at alpha 128: every byte differs from the others, so a swap
// of any two channels shows.
constexpr Pixel kHalfOrange{100, 50, 25, 128};

// Top left red, top right green, bottom left blue, bottom right half-transparent orange;
// RGBA premultiplied, row 0 on top.
inline QImage cornerImage()
{
    QImage image(2, 2, QImage::Format_RGBA8888_Premultiplied);
    setPixel(image, 0, 0, kRed);
    setPixel(image, 1, 0, kGreen);
    setPixel(image, 0, 1, kBlue);
    setPixel(image, 1, 1, kHalfOrange);
    return image;
}

// The corner image's pixels by [row][column], row 0 on top.
inline constexpr Pixel kCorners[2][2] = {{kRed, kGreen}, {kBlue, kHalfOrange}};

// Expects the corner image, each pixel a 2 x 2 block, over the whole 4 x 4 bitmap: upright
// has the image's top row in memory rows 0-1 (the top of the picture made from the bitmap).
inline void expectCornerBlocks(GraphicsContext& context, bool upright, const std::string& what)
{
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            const int row = upright ? y / 2 : 1 - y / 2;
            EXPECT_EQ(bitmapPixel(context, x, y), kCorners[row][x / 2])
                << what << ": memory row " << y << ", column " << x
                << (upright ? " (upright)" : " (mirrored)");
        }
    }
}

inline QImage filledImage(int width, int height, Pixel p)
{
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            setPixel(image, x, y, p);
    return image;
}

// test-output/toolkit-graphics/<name>.png, enlarged without smoothing so that single pixels
// can be seen.
inline void saveForReview(const QImage& image, const QString& name)
{
    if (image.isNull())
        return;
    const QString dir = testOutputDir() + QStringLiteral("/toolkit-graphics");
    QDir().mkpath(dir);
    const int factor = std::max(1, 64 / std::max(image.width(), image.height()));
    image.scaled(image.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
}

inline void saveForReview(GraphicsContext& context, const QString& name)
{
    saveForReview(context.makeImage(), name);
}

} // namespace corvex::test
