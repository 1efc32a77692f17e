#include "platform/gfx/RingRasterizer.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace corvex {

namespace {

constexpr int kRingTableSteps = 256;
// QPainter fills a curve as chords, which lie a little inside it: the ring sits as far
// inside so that both look alike (measured against QPainter's strokes of 30 to 1300 pixels).
constexpr double kChordInset = 0.03;
// ...and its strokes come out a little narrower than the pen (about 3 % less ink over any
// radius): the band is narrowed by as much.
constexpr double kPenShare = 0.968;
// Half a pixel's diagonal: a pixel whose centre lies further than this from the stroke's
// band cannot touch it.
constexpr double kPixelReach = 0.7072;

// The radius of a unit circle drawn as four cubic quarters, against the direction looked
// in, given as min(|x|, |y|) / max(|x|, |y|): the quarter is symmetric about its middle, so
// an eighth of the turn describes it all.
struct RingRadiusTable
{
    std::array<double, kRingTableSteps + 1> factor{};
    double largest = 1;

    RingRadiusTable()
    {
        const double k = 4.0 / 3.0 * std::tan(M_PI / 8);
        constexpr int samples = 8192;
        double previousQ = 0;
        double previousR = 1;
        int filled = 0;
        factor[0] = 1;
        for (int i = 1; i <= samples; ++i) {
            // t from 0 to 1/2 runs from (1, 0) to the quarter's middle, where x equals y.
            const double t = 0.5 * i / samples;
            const double u = 1 - t;
            const double x = u * u * u + 3 * u * u * t + 3 * u * t * t * k;
            const double y = 3 * u * u * t * k + 3 * u * t * t + t * t * t;
            const double q = std::min(y / x, 1.0);
            const double r = std::hypot(x, y);
            while (filled < kRingTableSteps && double(filled + 1) / kRingTableSteps <= q) {
                ++filled;
                const double at = double(filled) / kRingTableSteps;
                const double share = q > previousQ ? (at - previousQ) / (q - previousQ) : 1;
                factor[std::size_t(filled)] = previousR + share * (r - previousR);
            }
            previousQ = q;
            previousR = r;
        }
        for (int i = filled + 1; i <= kRingTableSteps; ++i)
            factor[std::size_t(i)] = previousR;
        largest = *std::max_element(factor.begin(), factor.end());
    }

    double at(double q) const
    {
        const double position = q * kRingTableSteps;
        const int index = std::min(int(position), kRingTableSteps - 1);
        const double share = position - index;
        return factor[std::size_t(index)] +
               share * (factor[std::size_t(index) + 1] - factor[std::size_t(index)]);
    }
};

const RingRadiusTable& ringRadiusTable()
{
    static const RingRadiusTable table;
    return table;
}

// The share of a pixel (a unit square around its centre) on the inner side of a straight
// edge at signed distance `s` from the centre, the edge's normal having the components
// a >= b >= 0: the distribution of the square projected on the normal is the sum of two
// uniform ones, a trapezoid.
inline double pixelShareInside(double s, double a, double b)
{
    const double h = (a + b) / 2;
    if (s <= -h)
        return 0;
    if (s >= h)
        return 1;
    if (b < 1e-4)
        return std::clamp(0.5 + s / a, 0.0, 1.0);
    const double m = (a - b) / 2;
    if (s < -m) {
        const double q = s + h;
        return q * q / (2 * a * b);
    }
    if (s > m) {
        const double q = h - s;
        return 1 - q * q / (2 * a * b);
    }
    return 0.5 + s / a;
}

// x * a / 255 on each byte, rounded as the rest of the drawing rounds.
inline quint32 ringByteMul(quint32 x, quint32 a)
{
    quint32 t = (x & 0xff00ff) * a;
    t = (t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8;
    t &= 0xff00ff;
    x = ((x >> 8) & 0xff00ff) * a;
    x = x + ((x >> 8) & 0xff00ff) + 0x800080;
    x &= 0xff00ff00;
    return x | t;
}

bool isRgbaByteOrder(QImage::Format format)
{
    return format == QImage::Format_RGBA8888_Premultiplied || format == QImage::Format_RGBX8888;
}

} // namespace

bool RingRasterizer::supports(QImage::Format format)
{
    switch (format) {
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGB32:
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBX8888:
        return true;
    default:
        return false;
    }
}

bool RingRasterizer::canStroke(double radius, double width)
{
    return std::isfinite(radius) && std::isfinite(width) && width > 1 && radius > width && radius < 1e6;
}

void RingRasterizer::strokeCircle(QImage& image, const QRect& clip, QPointF centre, double radius,
                                  double width, QRgb premultiplied)
{
    if (!supports(image.format()) || !canStroke(radius, width) || !std::isfinite(centre.x()) ||
        !std::isfinite(centre.y()) || qAlpha(premultiplied) == 0)
        return;
    const QRect area = clip.intersected(image.rect());
    if (area.isEmpty())
        return;
    quint32 colour = premultiplied;
    if (isRgbaByteOrder(image.format()))
        colour = (colour & 0xff00ff00) | ((colour >> 16) & 0xff) | ((colour & 0xff) << 16);

    const RingRadiusTable& table = ringRadiusTable();
    const double half = width * kPenShare / 2;
    const double cx = centre.x();
    const double cy = centre.y();
    const double outerReach = radius * table.largest - kChordInset + half + kPixelReach;
    const double innerReach = radius - kChordInset - half - kPixelReach;

    const int top = std::max(area.top(), int(std::floor(cy - outerReach)));
    const int bottom = std::min(area.bottom(), int(std::ceil(cy + outerReach)));
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();

    auto drawSpan = [&](quint32* row, double dy, int from, int to) {
        from = std::max(from, area.left());
        to = std::min(to, area.right());
        const double ay = std::fabs(dy);
        for (int x = from; x <= to; ++x) {
            const double ax = std::fabs(x + 0.5 - cx);
            const double larger = std::max(ax, ay);
            const double smaller = std::min(ax, ay);
            const double d = std::sqrt(ax * ax + ay * ay);
            if (d < 1e-9)
                continue;
            const double onCurve = radius * table.at(smaller / larger) - kChordInset;
            const double a = larger / d;
            const double b = smaller / d;
            const double share =
                pixelShareInside(onCurve + half - d, a, b) - pixelShareInside(onCurve - half - d, a, b);
            const int coverage = std::min(255, int(share * 255 + 0.5));
            if (coverage <= 0)
                continue;
            const quint32 source = coverage == 255 ? colour : ringByteMul(colour, quint32(coverage));
            const quint32 sourceAlpha = source >> 24;
            row[x] = sourceAlpha == 255 ? source : source + ringByteMul(row[x], 255 - sourceAlpha);
        }
    };

    for (int y = top; y <= bottom; ++y) {
        const double dy = y + 0.5 - cy;
        const double outerSquared = outerReach * outerReach - dy * dy;
        if (outerSquared < 0)
            continue;
        const double xo = std::sqrt(outerSquared);
        auto* row = reinterpret_cast<quint32*>(bits + y * stride);
        const double innerSquared = innerReach > 0 ? innerReach * innerReach - dy * dy : -1;
        if (innerSquared <= 0) {
            drawSpan(row, dy, int(std::ceil(cx - xo - 0.5)), int(std::floor(cx + xo - 0.5)));
            continue;
        }
        const double xi = std::sqrt(innerSquared);
        drawSpan(row, dy, int(std::ceil(cx - xo - 0.5)), int(std::floor(cx - xi - 0.5)));
        drawSpan(row, dy, int(std::ceil(cx + xi - 0.5)), int(std::floor(cx + xo - 0.5)));
    }
}

} // namespace corvex
