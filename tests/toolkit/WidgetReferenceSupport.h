#pragma once

// Comparison of widget renderings with the reference pictures the scripts under
// tests/data/gen/ write into tests/data/widgets/.

#include "platform/gfx/Rect.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRect>
#include <QString>
#include <cstdlib>
#include <ostream>
#include <vector>

namespace corvex::test {

inline QString widgetDataDir()
{
    return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() + QStringLiteral("/../data/widgets/");
}

// The image as premultiplied RGBA bytes, the form every comparison here reads.
inline QImage premultiplied(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

// A reference picture as premultiplied RGBA bytes; null when missing.
inline QImage widgetReference(const QString& name)
{
    QImage image;
    QFile file(widgetDataDir() + name + QStringLiteral(".png"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    image.loadFromData(file.readAll(), "PNG");
    return image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

// The largest difference of any premultiplied byte outside the excluded pixel rectangles,
// with where it is, and how many bytes differ by more than the tolerance.
struct ImageDifference
{
    int largest = 0;
    int x = -1;
    int y = -1;
    int beyondTolerance = 0;
    int compared = 0;
};

inline ImageDifference compareImages(const QImage& actual, const QImage& expected, int tolerance,
                                     const std::vector<QRect>& excluded = {})
{
    ImageDifference d;
    const QImage a = actual.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const QImage e = expected.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (a.size() != e.size()) {
        d.largest = 256;
        d.beyondTolerance = 1;
        return d;
    }
    for (int y = 0; y < a.height(); ++y) {
        const uchar* pa = a.constScanLine(y);
        const uchar* pe = e.constScanLine(y);
        for (int x = 0; x < a.width(); ++x) {
            bool skip = false;
            for (const QRect& r : excluded)
                skip = skip || r.contains(x, y);
            if (skip)
                continue;
            ++d.compared;
            for (int c = 0; c < 4; ++c) {
                const int diff = std::abs(int(pa[4 * x + c]) - int(pe[4 * x + c]));
                if (diff > tolerance)
                    ++d.beyondTolerance;
                if (diff > d.largest) {
                    d.largest = diff;
                    d.x = x;
                    d.y = y;
                }
            }
        }
    }
    return d;
}

inline std::ostream& operator<<(std::ostream& os, const ImageDifference& d)
{
    return os << "largest difference " << d.largest << " at (" << d.x << ", " << d.y << "), "
              << d.beyondTolerance << " bytes beyond the tolerance, " << d.compared << " pixels compared";
}

// A rectangle of points (flipped view coordinates of a window's content) as device pixels,
// grown by `margin` pixels on every side.
inline QRect pixelRect(const Rect& points, double scale, int margin)
{
    const QRectF r(points.origin.x * scale, points.origin.y * scale, points.size.width * scale,
                   points.size.height * scale);
    return r.toAlignedRect().adjusted(-margin, -margin, margin, margin);
}

} // namespace corvex::test
