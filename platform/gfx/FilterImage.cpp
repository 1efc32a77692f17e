#include "platform/gfx/FilterImage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace corvex {

namespace {

// One premultiplied RGBA pixel; the compiler's vector type lets the blur work on the four
// channels at once.
typedef float Pixel __attribute__((vector_size(16)));

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kLargestRadius = 200.0;
constexpr int64_t kLargestSide = 32768;
constexpr int64_t kLargestArea = int64_t(1) << 26;
// Render rectangles beyond this distance from the origin are refused (keeps integer pixel
// arithmetic far from overflow, blur margins included).
constexpr double kLargestCoordinate = 1.0e9;

Pixel splat(float v)
{
    return Pixel{v, v, v, v};
}

// A whole-pixel area of filter space: columns x .. x + width - 1, rows y .. y + height - 1
// counted upwards.
struct Area
{
    int64_t x = 0;
    int64_t y = 0;
    int width = 0;
    int height = 0;
};

// The pixels of an area, rows stored from the top (highest y) down, as images store them.
struct Buffer
{
    Area area;
    std::vector<Pixel> pixels;

    explicit Buffer(const Area& a) : area(a), pixels(size_t(a.width) * size_t(a.height), splat(0)) {}
    Pixel* row(int r) { return pixels.data() + size_t(r) * size_t(area.width); }
    const Pixel* row(int r) const { return pixels.data() + size_t(r) * size_t(area.width); }
    // The filter-space y of a stored row.
    int64_t yOfRow(int r) const { return area.y + area.height - 1 - r; }
};

// An extent as edges; infinite edges are allowed.
struct Bounds
{
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;

    bool isEmpty() const { return !(x0 < x1 && y0 < y1); }
    bool isInfinite() const { return std::isinf(x0) || std::isinf(y0) || std::isinf(x1) || std::isinf(y1); }

    static Bounds infinite() { return {-kInfinity, -kInfinity, kInfinity, kInfinity}; }
    static Bounds ofRect(const Rect& r)
    {
        if (r.isNull())
            return {};
        if (r.isInfinite())
            return infinite();
        return {r.minX(), r.minY(), r.maxX(), r.maxY()};
    }
    Bounds intersected(const Bounds& o) const
    {
        const Bounds b{std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
        return b.isEmpty() ? Bounds{} : b;
    }
    Bounds united(const Bounds& o) const
    {
        if (isEmpty())
            return o;
        if (o.isEmpty())
            return *this;
        return {std::min(x0, o.x0), std::min(y0, o.y0), std::max(x1, o.x1), std::max(y1, o.y1)};
    }
    Bounds grown(double margin) const
    {
        return isEmpty() ? Bounds{} : Bounds{x0 - margin, y0 - margin, x1 + margin, y1 + margin};
    }
};

using RenderFunction = std::function<Buffer(const Area&)>;

float clamp01(float v)
{
    // NaN reads as 0.
    return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

uchar toByte(float v)
{
    return uchar(std::lround(clamp01(v) * 255.0f));
}

std::vector<float> gaussianKernel(double sigma, int margin)
{
    // Taps 0 .. margin of the symmetric kernel, normalised over all 2 * margin + 1 taps.
    std::vector<double> weights(size_t(margin) + 1);
    double sum = 0;
    for (int k = 0; k <= margin; ++k) {
        weights[size_t(k)] = std::exp(-double(k) * double(k) / (2.0 * sigma * sigma));
        sum += k == 0 ? weights[0] : 2.0 * weights[size_t(k)];
    }
    std::vector<float> kernel(weights.size());
    for (size_t k = 0; k < weights.size(); ++k)
        kernel[k] = float(weights[k] / sum);
    return kernel;
}

Buffer blur(const RenderFunction& input, const std::vector<float>& kernel, const Area& area)
{
    const int margin = int(kernel.size()) - 1;
    const int width = area.width;
    const Area inputArea{area.x - margin, area.y - margin, width + 2 * margin, area.height + 2 * margin};
    const Buffer source = input(inputArea);

    // Horizontal pass: every input row, the output's columns.
    std::vector<Pixel> rows(size_t(width) * size_t(inputArea.height));
    const Pixel centreWeight = splat(kernel[0]);
    for (int r = 0; r < inputArea.height; ++r) {
        const Pixel* in = source.row(r) + margin; // in[x] lies above output column x
        Pixel* out = rows.data() + size_t(r) * size_t(width);
        for (int x = 0; x < width; ++x) {
            Pixel sum = centreWeight * in[x];
            for (int k = 1; k <= margin; ++k)
                sum += splat(kernel[size_t(k)]) * (in[x - k] + in[x + k]);
            out[x] = sum;
        }
    }

    // Vertical pass, a whole row at a time so that memory is read in order.
    Buffer result(area);
    for (int r = 0; r < area.height; ++r) {
        Pixel* out = result.row(r);
        const Pixel* centre = rows.data() + size_t(r + margin) * size_t(width);
        for (int x = 0; x < width; ++x)
            out[x] = centreWeight * centre[x];
        for (int k = 1; k <= margin; ++k) {
            const Pixel weight = splat(kernel[size_t(k)]);
            const Pixel* above = centre - size_t(k) * size_t(width);
            const Pixel* below = centre + size_t(k) * size_t(width);
            for (int x = 0; x < width; ++x)
                out[x] += weight * (above[x] + below[x]);
        }
    }
    return result;
}

} // namespace

struct FilterImage::Node
{
    Bounds bounds;
    RenderFunction render;
};

FilterImage::FilterImage()
    : mNode(std::make_shared<Node>(Node{Bounds{}, [](const Area& area) { return Buffer(area); }}))
{}

FilterImage::FilterImage(std::shared_ptr<const Node> node) : mNode(std::move(node)) {}

FilterImage FilterImage::fromImage(const QImage& image)
{
    if (image.isNull())
        return FilterImage();
    const QImage pixels = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    const int width = pixels.width();
    const int height = pixels.height();
    auto render = [pixels, width, height](const Area& area) {
        Buffer buffer(area);
        const int64_t firstX = std::max<int64_t>(area.x, 0);
        const int64_t endX = std::min<int64_t>(area.x + area.width, width);
        constexpr float scale = 1.0f / 255.0f;
        for (int r = 0; r < area.height && firstX < endX; ++r) {
            const int64_t y = buffer.yOfRow(r);
            if (y < 0 || y >= height)
                continue;
            const uchar* line = pixels.constScanLine(int(height - 1 - y));
            Pixel* out = buffer.row(r);
            for (int64_t x = firstX; x < endX; ++x) {
                const uchar* p = line + 4 * x;
                out[x - area.x] = Pixel{p[0] * scale, p[1] * scale, p[2] * scale, p[3] * scale};
            }
        }
        return buffer;
    };
    return FilterImage(
        std::make_shared<Node>(Node{Bounds{0, 0, double(width), double(height)}, std::move(render)}));
}

FilterImage FilterImage::constantColor(const PlatformColor& color)
{
    const float a = clamp01(float(color.alphaComponent()));
    const Pixel value{clamp01(float(color.redComponent())) * a, clamp01(float(color.greenComponent())) * a,
                      clamp01(float(color.blueComponent())) * a, a};
    auto render = [value](const Area& area) {
        Buffer buffer(area);
        std::fill(buffer.pixels.begin(), buffer.pixels.end(), value);
        return buffer;
    };
    return FilterImage(std::make_shared<Node>(Node{Bounds::infinite(), std::move(render)}));
}

FilterImage FilterImage::multiplyBlend(const FilterImage& source, const FilterImage& background)
{
    auto render = [s = source.mNode, d = background.mNode](const Area& area) {
        Buffer top = s->render(area);
        const Buffer bottom = d->render(area);
        const Pixel one = splat(1.0f);
        for (size_t i = 0; i < top.pixels.size(); ++i) {
            const Pixel S = top.pixels[i];
            const Pixel D = bottom.pixels[i];
            Pixel out = S * D + S * (one - splat(D[3])) + D * (one - splat(S[3]));
            out[3] = S[3] + D[3] - S[3] * D[3];
            top.pixels[i] = out;
        }
        return top;
    };
    return FilterImage(std::make_shared<Node>(
        Node{source.mNode->bounds.united(background.mNode->bounds), std::move(render)}));
}

FilterImage FilterImage::colorControls(double saturation, double brightness, double contrast) const
{
    const float s = std::isfinite(saturation) ? float(saturation) : 1.0f;
    const float b = std::isfinite(brightness) ? float(brightness) : 0.0f;
    const float c = std::isfinite(contrast) ? float(contrast) : 1.0f;
    auto render = [input = mNode, s, b, c](const Area& area) {
        Buffer buffer = input->render(area);
        for (Pixel& p : buffer.pixels) {
            const float alpha = clamp01(p[3]);
            if (alpha <= 0.0f) {
                p = splat(0);
                continue;
            }
            const float red = p[0] / alpha;
            const float green = p[1] / alpha;
            const float blue = p[2] / alpha;
            const float lum = 0.2125f * red + 0.7154f * green + 0.0721f * blue;
            auto adjust = [&](float channel) {
                const float saturated = lum + s * (channel - lum) + b;
                return clamp01((saturated - 0.5f) * c + 0.5f) * alpha;
            };
            p = Pixel{adjust(red), adjust(green), adjust(blue), alpha};
        }
        return buffer;
    };
    return FilterImage(std::make_shared<Node>(Node{mNode->bounds, std::move(render)}));
}

FilterImage FilterImage::gaussianBlur(double radius) const
{
    if (!(radius > 0) || !std::isfinite(radius) || isEmpty())
        return *this;
    const double sigma = std::min(radius, kLargestRadius);
    const int margin = int(std::ceil(3.0 * sigma));
    auto render = [input = mNode, kernel = gaussianKernel(sigma, margin)](const Area& area) {
        return blur(input->render, kernel, area);
    };
    return FilterImage(std::make_shared<Node>(Node{mNode->bounds.grown(margin), std::move(render)}));
}

FilterImage FilterImage::cropped(const Rect& rect) const
{
    const Bounds crop = Bounds::ofRect(rect);
    const Bounds bounds = mNode->bounds.intersected(crop);
    if (bounds.isEmpty())
        return FilterImage();
    auto render = [input = mNode, crop](const Area& area) {
        Buffer buffer = input->render(area);
        for (int r = 0; r < area.height; ++r) {
            const double cy = double(buffer.yOfRow(r)) + 0.5;
            Pixel* row = buffer.row(r);
            const bool rowInside = cy >= crop.y0 && cy < crop.y1;
            for (int i = 0; i < area.width; ++i) {
                const double cx = double(area.x + i) + 0.5;
                if (!rowInside || cx < crop.x0 || cx >= crop.x1)
                    row[i] = splat(0);
            }
        }
        return buffer;
    };
    return FilterImage(std::make_shared<Node>(Node{bounds, std::move(render)}));
}

Rect FilterImage::extent() const
{
    const Bounds& b = mNode->bounds;
    if (b.isEmpty())
        return Rect::null();
    if (b.isInfinite())
        return Rect::infinite();
    return {b.x0, b.y0, b.x1 - b.x0, b.y1 - b.y0};
}

bool FilterImage::isEmpty() const
{
    return mNode->bounds.isEmpty();
}

bool FilterImage::isInfinite() const
{
    return !isEmpty() && mNode->bounds.isInfinite();
}

QImage FilterImage::render(const Rect& rect) const
{
    if (rect.isNull() || rect.isInfinite())
        return QImage();
    const double x0 = std::floor(rect.minX());
    const double y0 = std::floor(rect.minY());
    const double x1 = std::ceil(rect.maxX());
    const double y1 = std::ceil(rect.maxY());
    const bool finite = std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1);
    if (!finite ||
        std::max({std::fabs(x0), std::fabs(y0), std::fabs(x1), std::fabs(y1)}) > kLargestCoordinate)
        return QImage();
    const int64_t width = int64_t(x1 - x0);
    const int64_t height = int64_t(y1 - y0);
    if (width <= 0 || height <= 0 || width > kLargestSide || height > kLargestSide ||
        width * height > kLargestArea)
        return QImage();

    const Area area{int64_t(x0), int64_t(y0), int(width), int(height)};
    const Buffer buffer = mNode->render(area);
    QImage image(area.width, area.height, QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull())
        return image;
    for (int r = 0; r < area.height; ++r) {
        const Pixel* in = buffer.row(r);
        uchar* out = image.scanLine(r);
        for (int x = 0; x < area.width; ++x) {
            // Colour never above alpha: the bytes stay a valid premultiplied pixel.
            const float alpha = clamp01(in[x][3]);
            out[4 * x + 0] = toByte(std::min(in[x][0], alpha));
            out[4 * x + 1] = toByte(std::min(in[x][1], alpha));
            out[4 * x + 2] = toByte(std::min(in[x][2], alpha));
            out[4 * x + 3] = toByte(alpha);
        }
    }
    return image;
}

} // namespace corvex
