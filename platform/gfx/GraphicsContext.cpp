#include "platform/gfx/GraphicsContext.h"

#include "platform/gfx/RingRasterizer.h"

#include <QLinearGradient>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace corvex {

namespace {

// The largest bitmap context: 16384 x 16384 pixels, 1 GiB of memory.
constexpr qint64 kMaxBitmapPixels = qint64(16384) * 16384;
constexpr double kMaxBitmapSide = 1 << 20;

thread_local GraphicsContext* tCurrent = nullptr;

struct FreeDeleter
{
    void operator()(uchar* p) const { std::free(p); }
};

struct GState
{
    AffineTransform ctm;
    PlatformColor fill = PlatformColor::black();
    PlatformColor stroke = PlatformColor::black();
    double lineWidth = 1;
    LineCap cap = LineCap::Butt;
    LineJoin join = LineJoin::Miter;
    double miterLimit = 10;
    double dashPhase = 0;
    std::vector<double> dashes;
    double alpha = 1;
    BlendMode blend = BlendMode::Normal;
    bool antialias = true;
    bool smooth = true;
    // Coverage in device pixels (alpha channel) of the mask clips; null when there is none.
    QImage mask;
    // The painter's clip is made of rectangles only, or none (as far as this context knows).
    bool rectangleClips = true;
};

// Whether both ends of a span in device pixels round to one pixel boundary, with a margin
// for rounding in the arithmetic, and the span is under half a pixel: however QPainter
// rounds a rectangle clip's edges or size, it keeps no pixel of the span.
bool roundsToNoPixel(double a, double b)
{
    constexpr double kMargin = 1e-6;
    const double low = std::min(a, b);
    const double high = std::max(a, b);
    if (!std::isfinite(low) || !std::isfinite(high) || high - low >= 0.5 - kMargin)
        return false;
    return std::floor(low - kMargin + 0.5) == std::floor(high + kMargin + 0.5);
}

// Maps image pixels into user space by the image drawing rule: the top row at r's maximum y.
QTransform imageToUser(const Rect& r, const QSize& pixels)
{
    return QTransform(r.width() / pixels.width(), 0, 0, -r.height() / pixels.height(), r.minX(), r.maxY());
}

Qt::PenCapStyle qtCap(LineCap cap)
{
    switch (cap) {
    case LineCap::Round:
        return Qt::RoundCap;
    case LineCap::Square:
        return Qt::SquareCap;
    case LineCap::Butt:
        break;
    }
    return Qt::FlatCap;
}

Qt::PenJoinStyle qtJoin(LineJoin join)
{
    switch (join) {
    case LineJoin::Round:
        return Qt::RoundJoin;
    case LineJoin::Bevel:
        return Qt::BevelJoin;
    case LineJoin::Miter:
        break;
    }
    return Qt::MiterJoin;
}

QGradientStops gradientStops(const std::vector<std::pair<double, PlatformColor>>& stops)
{
    QGradientStops result;
    for (const auto& [location, color] : stops) {
        const double at = std::isnan(location) ? 0.0 : std::clamp(location, 0.0, 1.0);
        result.append({at, color.toQColor()});
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const QGradientStop& a, const QGradientStop& b) { return a.first < b.first; });
    return result;
}

// A mask image as coverage: its alpha, or the grey level of an image without alpha.
QImage coverageOf(const QImage& mask)
{
    if (mask.hasAlphaChannel())
        return mask.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage gray = mask.convertToFormat(QImage::Format_Grayscale8);
    QImage coverage(gray.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* in = gray.constScanLine(y);
        auto* out = reinterpret_cast<QRgb*>(coverage.scanLine(y));
        for (int x = 0; x < gray.width(); ++x)
            out[x] = qRgba(0, 0, 0, in[x]);
    }
    return coverage;
}

} // namespace

struct GraphicsContext::Private
{
    // Bitmap contexts own their memory, the image over it and the painter on it.
    std::unique_ptr<uchar, FreeDeleter> buffer;
    QImage image;
    std::unique_ptr<QPainter> ownedPainter;

    QPainter* painter = nullptr;
    QTransform base;
    bool flipped = false;
    GState state;
    std::vector<GState> stack;
    Path path; // with the CTM of the time each element was added applied

    ~Private()
    {
        if (!ownedPainter)
            return;
        for (std::size_t i = 0; i < stack.size(); ++i)
            ownedPainter->restore();
        ownedPainter->end();
    }

    QTransform userToDevice() const { return state.ctm.toQTransform() * base; }

    // The device's size in pixels and its pixel ratio.
    QSize devicePixels() const
    {
        QPaintDevice* device = painter->device();
        if (device->devType() == QInternal::Image)
            return static_cast<QImage*>(device)->size();
        const qreal ratio = device->devicePixelRatioF();
        return QSize(qCeil(device->width() * ratio), qCeil(device->height() * ratio));
    }

    qreal deviceRatio() const
    {
        QPaintDevice* device = painter->device();
        if (device->devType() == QInternal::Image)
            return static_cast<QImage*>(device)->devicePixelRatio();
        return device->devicePixelRatioF();
    }

    // The device's area in the current user space (for unbounded fills).
    QRectF deviceInUserSpace() const
    {
        bool invertible = false;
        const QTransform inverse = userToDevice().inverted(&invertible);
        if (!invertible)
            return {};
        const qreal ratio = deviceRatio();
        const QSize pixels = devicePixels();
        return inverse.mapRect(QRectF(0, 0, pixels.width() / ratio, pixels.height() / ratio));
    }

    void setHints(QPainter& p) const
    {
        p.setRenderHint(QPainter::Antialiasing, state.antialias);
        p.setRenderHint(QPainter::TextAntialiasing, state.antialias);
        p.setRenderHint(QPainter::SmoothPixmapTransform, state.smooth);
    }

    // A brush for `color` in the current user space: pattern tiles are anchored at the
    // origin and upright on the device. With `foldAlpha`, a solid colour carries the global
    // alpha itself (rounded as colours are, so half of 255 is 128); see opacityFor.
    QBrush brushFor(const PlatformColor& color, bool foldAlpha = true) const
    {
        QBrush brush = foldAlpha && !color.isPattern()
                           ? color.withAlphaComponent(color.alphaComponent() * state.alpha).toBrush()
                           : color.toBrush();
        if (color.isPattern() && userToDevice().determinant() < 0) {
            // Row 0 of the tile goes to the top of a tile that ends at the origin.
            brush.setTransform(QTransform(1, 0, 0, -1, 0, 0));
        }
        return brush;
    }

    // The painter opacity that goes with brushFor(color).
    double opacityFor(const PlatformColor& color) const { return color.isPattern() ? state.alpha : 1.0; }

    QPen strokePen(bool foldAlpha = true) const
    {
        QPen pen(brushFor(state.stroke, foldAlpha), state.lineWidth, Qt::SolidLine, qtCap(state.cap),
                 qtJoin(state.join));
        pen.setMiterLimit(state.miterLimit);
        // QPen measures dashes in pen widths, our callers in user units.
        const double unit = state.lineWidth > 0 ? state.lineWidth : 1.0;
        QList<qreal> pattern;
        double total = 0;
        for (double length : state.dashes) {
            const double l = std::isfinite(length) ? std::max(length, 0.0) : 0.0;
            pattern.append(l / unit);
            total += l;
        }
        if (total > 0) {
            if (pattern.size() % 2 == 1)
                pattern.append(pattern); // an odd list repeats with on and off swapped
            pen.setDashPattern(pattern);
            pen.setDashOffset((std::isfinite(state.dashPhase) ? state.dashPhase : 0.0) / unit);
        }
        return pen;
    }

    // The current path in the current user space; empty when the CTM cannot be inverted.
    QPainterPath userPath(bool evenOdd) const
    {
        bool invertible = false;
        const QTransform inverse = state.ctm.toQTransform().inverted(&invertible);
        if (!invertible)
            return {};
        QPainterPath p = inverse.map(path.painterPath());
        p.setFillRule(evenOdd ? Qt::OddEvenFill : Qt::WindingFill);
        return p;
    }

    // Runs one drawing operation with the state's composition, alpha and mask. `draw` sets the
    // painter's transform itself.
    template <class Draw> void paint(Draw&& draw, double opacity, bool clearing = false)
    {
        const QPainter::CompositionMode mode =
            clearing ? QPainter::CompositionMode_Clear : compositionModeFor(state.blend);
        if (clearing)
            opacity = 1;
        if (state.mask.isNull()) {
            painter->setCompositionMode(mode);
            painter->setOpacity(opacity);
            setHints(*painter);
            draw(*painter);
            return;
        }
        // With a mask: draw into a transparent layer, keep the masked share, composite.
        QImage layer(state.mask.size(), QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(state.mask.devicePixelRatio());
        layer.fill(Qt::transparent);
        {
            QPainter lp(&layer);
            setHints(lp);
            draw(lp);
            lp.resetTransform();
            lp.setOpacity(1);
            lp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            lp.drawImage(QPointF(0, 0), state.mask);
        }
        painter->setWorldTransform(QTransform());
        painter->setCompositionMode(clearing ? QPainter::CompositionMode_DestinationOut : mode);
        painter->setOpacity(opacity);
        painter->drawImage(QPointF(0, 0), layer);
    }

    void fill(bool evenOdd)
    {
        const QPainterPath p = userPath(evenOdd);
        if (p.isEmpty())
            return;
        const QTransform t = userToDevice();
        const QBrush brush = brushFor(state.fill);
        paint(
            [&](QPainter& painter) {
                painter.setWorldTransform(t);
                painter.fillPath(p, brush);
            },
            opacityFor(state.fill));
    }

    void stroke()
    {
        const QPainterPath p = userPath(false);
        if (p.isEmpty())
            return;
        const QTransform t = userToDevice();
        const QPen pen = strokePen();
        paint(
            [&](QPainter& painter) {
                painter.setWorldTransform(t);
                painter.strokePath(p, pen);
            },
            opacityFor(state.stroke));
    }

    // The painter's clip in device pixels: the image when there is none; nothing when it is
    // not one upright rectangle (the caller then leaves the drawing to QPainter). QPainter
    // clips to such a rectangle with each edge rounded to the nearest pixel boundary.
    std::optional<QRect> deviceClip(const QTransform& toDevice, const QImage& image) const
    {
        if (!painter->hasClipping())
            return image.rect();
        const QPolygonF outline = toDevice.map(painter->clipPath()).toFillPolygon();
        const QRectF box = outline.boundingRect();
        auto near = [](double a, double b) { return std::fabs(a - b) < 1e-6; };
        if (outline.size() < 4 || outline.size() > 5)
            return std::nullopt;
        for (const QPointF& corner : outline) {
            const bool onX = near(corner.x(), box.left()) || near(corner.x(), box.right());
            const bool onY = near(corner.y(), box.top()) || near(corner.y(), box.bottom());
            if (!onX || !onY)
                return std::nullopt;
        }
        // The clip path comes back already on whole pixels, but not always the ones QPainter
        // clips to; the bounding rectangle is the one asked for, which QPainter rounds.
        const QRectF asked = toDevice.mapRect(painter->clipBoundingRect());
        const int left = qRound(asked.left());
        const int top = qRound(asked.top());
        return QRect(left, top, qRound(asked.right()) - left, qRound(asked.bottom()) - top);
    }

    bool strokeRing(Point centre, double radius)
    {
        if (!state.mask.isNull() || state.blend != BlendMode::Normal || !state.antialias ||
            state.stroke.isPattern() || painter->device() == nullptr ||
            painter->device()->devType() != QInternal::Image)
            return false;
        for (double length : state.dashes) {
            if (length > 0)
                return false;
        }
        auto* image = static_cast<QImage*>(painter->device());
        // A shared image would be copied by writing to it, away from the painter's pixels.
        if (!RingRasterizer::supports(image->format()) || !image->isDetached())
            return false;
        painter->setWorldTransform(userToDevice());
        const QTransform toDevice = painter->deviceTransform();
        const double scale = std::fabs(toDevice.m11());
        if (toDevice.type() > QTransform::TxScale ||
            std::fabs(std::fabs(toDevice.m22()) - scale) > 1e-9 * scale)
            return false;
        const double width = state.lineWidth * scale;
        if (!RingRasterizer::canStroke(radius * scale, width))
            return false;
        const std::optional<QRect> clip = deviceClip(toDevice, *image);
        if (!clip)
            return false;
        // As stroke(): the global alpha is in the colour, the painter's opacity plays no part.
        RingRasterizer::strokeCircle(*image, *clip, toDevice.map(centre.toQPointF()), radius * scale, width,
                                     qPremultiply(brushFor(state.stroke).color().rgba()));
        return true;
    }

    void fillUserPath(const QPainterPath& p, const QBrush& brush, double opacity)
    {
        const QTransform t = userToDevice();
        paint(
            [&](QPainter& painter) {
                painter.setWorldTransform(t);
                painter.fillPath(p, brush);
            },
            opacity);
    }
};

std::unique_ptr<GraphicsContext> GraphicsContext::createBitmap(double width, double height,
                                                               PixelLayout layout)
{
    if (!std::isfinite(width) || !std::isfinite(height) || width < 1 || height < 1 ||
        width > kMaxBitmapSide || height > kMaxBitmapSide)
        return nullptr;
    const int w = int(width);
    const int h = int(height);
    if (qint64(w) * h > kMaxBitmapPixels)
        return nullptr;
    const std::size_t bytes = std::size_t(w) * std::size_t(h) * 4;
    std::unique_ptr<uchar, FreeDeleter> buffer(static_cast<uchar*>(std::calloc(bytes, 1)));
    if (!buffer)
        return nullptr;
    auto d = std::make_unique<Private>();
    // Rows of exactly 4 x width bytes: the image is made over our own memory.
    d->image = QImage(buffer.get(), w, h, w * 4,
                      layout == PixelLayout::Word ? QImage::Format_ARGB32_Premultiplied
                                                  : QImage::Format_RGBA8888_Premultiplied);
    if (d->image.isNull() || d->image.bytesPerLine() != w * 4)
        return nullptr;
    d->buffer = std::move(buffer);
    d->ownedPainter = std::make_unique<QPainter>();
    // The painter keeps the address of the image: it begins on the one in Private.
    if (!d->ownedPainter->begin(&d->image))
        return nullptr;
    d->painter = d->ownedPainter.get();
    // y-up user space: the base transform puts user y = h at the top row.
    d->base = QTransform(1, 0, 0, -1, 0, h);
    return std::unique_ptr<GraphicsContext>(new GraphicsContext(std::move(d)));
}

GraphicsContext::GraphicsContext(std::unique_ptr<Private> data) : d(std::move(data)) {}

GraphicsContext::GraphicsContext(QPainter* painter, bool flipped) : d(std::make_unique<Private>())
{
    d->painter = painter;
    d->flipped = flipped;
    // Whatever clip the painter came with is not known here.
    d->state.rectangleClips = false;
    d->painter->save();
    d->base = painter->worldTransform();
}

GraphicsContext::~GraphicsContext()
{
    if (tCurrent == this)
        tCurrent = nullptr;
    if (!d->ownedPainter && d->painter->isActive()) {
        for (std::size_t i = 0; i < d->stack.size(); ++i)
            d->painter->restore();
        d->painter->restore();
    }
}

uchar* GraphicsContext::bitmapData()
{
    return d->buffer.get();
}

int GraphicsContext::bitmapWidth() const
{
    return d->buffer ? d->image.width() : 0;
}

int GraphicsContext::bitmapHeight() const
{
    return d->buffer ? d->image.height() : 0;
}

int GraphicsContext::bytesPerRow() const
{
    return d->buffer ? d->image.width() * 4 : 0;
}

QImage GraphicsContext::makeImage()
{
    if (!d->buffer)
        return {};
    return d->image.copy();
}

bool GraphicsContext::isFlipped() const
{
    return d->flipped;
}

double GraphicsContext::userSpaceScale() const
{
    return std::sqrt(std::fabs(d->userToDevice().determinant())) * d->deviceRatio();
}

double GraphicsContext::imagePixelScale() const
{
    const double scale = userSpaceScale();
    const QPaintEngine* engine = d->painter->paintEngine();
    const QPaintDevice* device = d->painter->device();
    if (!engine || engine->type() != QPaintEngine::Pdf || device->logicalDpiX() <= 0)
        return scale;
    return scale * PrintImageDotsPerInch / device->logicalDpiX();
}

void GraphicsContext::saveGState()
{
    d->stack.push_back(d->state);
    d->painter->save();
}

void GraphicsContext::restoreGState()
{
    if (d->stack.empty())
        return;
    d->state = std::move(d->stack.back());
    d->stack.pop_back();
    d->painter->restore();
}

void GraphicsContext::translateCTM(double tx, double ty)
{
    d->state.ctm = d->state.ctm.translated(tx, ty);
}

void GraphicsContext::scaleCTM(double sx, double sy)
{
    d->state.ctm = d->state.ctm.scaled(sx, sy);
}

void GraphicsContext::rotateCTM(double radians)
{
    d->state.ctm = d->state.ctm.rotated(radians);
}

void GraphicsContext::concatCTM(const AffineTransform& transform)
{
    d->state.ctm = transform.concat(d->state.ctm);
}

AffineTransform GraphicsContext::ctm() const
{
    return d->state.ctm;
}

QTransform GraphicsContext::userToDevice() const
{
    return d->userToDevice();
}

void GraphicsContext::beginPath()
{
    d->path = Path();
}

void GraphicsContext::moveToPoint(Point p)
{
    d->path.moveTo(d->state.ctm.apply(p));
}

void GraphicsContext::addLineToPoint(Point p)
{
    d->path.lineTo(d->state.ctm.apply(p));
}

void GraphicsContext::addCurveToPoint(Point c1, Point c2, Point end)
{
    const AffineTransform& t = d->state.ctm;
    d->path.curveTo(t.apply(c1), t.apply(c2), t.apply(end));
}

void GraphicsContext::addQuadCurveToPoint(Point c, Point end)
{
    d->path.quadCurveTo(d->state.ctm.apply(c), d->state.ctm.apply(end));
}

void GraphicsContext::addArc(Point center, double radius, double startAngle, double endAngle, bool clockwise)
{
    Path arc;
    arc.addArc(center, radius, startAngle, endAngle, clockwise);
    d->path.connectPath(arc, d->state.ctm);
}

void GraphicsContext::addArcToPoint(Point p1, Point p2, double radius)
{
    if (!d->path.hasCurrentPoint())
        return;
    const AffineTransform& t = d->state.ctm;
    const double det = t.a * t.d - t.b * t.c;
    if (det == 0 || !std::isfinite(det))
        return; // no current point in a degenerate user space
    const AffineTransform inverse = t.inverted();
    Path arc;
    arc.moveTo(inverse.apply(d->path.currentPoint()));
    arc.addArcToPoint(p1, p2, radius);
    d->path.connectPath(arc, t);
}

void GraphicsContext::addRect(const Rect& r)
{
    Path p;
    p.addRect(r);
    d->path.addPath(p, d->state.ctm);
}

void GraphicsContext::addEllipseInRect(const Rect& r)
{
    Path p;
    p.addEllipseInRect(r);
    d->path.addPath(p, d->state.ctm);
}

void GraphicsContext::addPath(const Path& path)
{
    d->path.addPath(path, d->state.ctm);
}

void GraphicsContext::closePath()
{
    d->path.closeSubpath();
}

bool GraphicsContext::isPathEmpty() const
{
    return d->path.isEmpty();
}

Path GraphicsContext::currentPath() const
{
    Path p;
    p.addPath(d->path, d->state.ctm.inverted());
    return p;
}

void GraphicsContext::fillPath()
{
    d->fill(false);
    beginPath();
}

void GraphicsContext::eoFillPath()
{
    d->fill(true);
    beginPath();
}

void GraphicsContext::strokePath()
{
    d->stroke();
    beginPath();
}

void GraphicsContext::drawPath(PathDrawingMode mode)
{
    switch (mode) {
    case PathDrawingMode::Fill:
        d->fill(false);
        break;
    case PathDrawingMode::EvenOddFill:
        d->fill(true);
        break;
    case PathDrawingMode::Stroke:
        d->stroke();
        break;
    case PathDrawingMode::FillStroke:
        d->fill(false);
        d->stroke();
        break;
    case PathDrawingMode::EvenOddFillStroke:
        d->fill(true);
        d->stroke();
        break;
    }
    beginPath();
}

void GraphicsContext::fillRect(const Rect& r)
{
    if (r.isNull())
        return;
    QPainterPath p;
    p.addRect(r.toQRectF());
    d->fillUserPath(p, d->brushFor(d->state.fill), d->opacityFor(d->state.fill));
}

void GraphicsContext::strokeRect(const Rect& r)
{
    beginPath();
    addRect(r);
    strokePath();
}

void GraphicsContext::strokeRectWithWidth(const Rect& r, double width)
{
    const double saved = d->state.lineWidth;
    d->state.lineWidth = width;
    strokeRect(r);
    d->state.lineWidth = saved;
}

void GraphicsContext::clearRect(const Rect& r)
{
    if (r.isNull())
        return;
    const QRectF rect = r.toQRectF();
    const QTransform t = d->userToDevice();
    d->paint(
        [&](QPainter& painter) {
            painter.setWorldTransform(t);
            painter.fillRect(rect, Qt::black);
        },
        1.0, true);
}

void GraphicsContext::fillEllipseInRect(const Rect& r)
{
    beginPath();
    addEllipseInRect(r);
    fillPath();
}

void GraphicsContext::strokeEllipseInRect(const Rect& r)
{
    beginPath();
    addEllipseInRect(r);
    strokePath();
}

void GraphicsContext::strokeCircle(Point centre, double radius)
{
    if (!d->strokeRing(centre, radius))
        strokeEllipseInRect(Rect(centre.x - radius, centre.y - radius, 2 * radius, 2 * radius));
    beginPath();
}

void GraphicsContext::strokeLineSegments(const Point* points, int count)
{
    beginPath();
    for (int i = 0; points != nullptr && i + 1 < count; i += 2) {
        moveToPoint(points[i]);
        addLineToPoint(points[i + 1]);
    }
    strokePath();
}

void GraphicsContext::clip()
{
    d->state.rectangleClips = false;
    const QPainterPath p = d->userPath(false);
    d->painter->setWorldTransform(d->userToDevice());
    d->setHints(*d->painter);
    d->painter->setClipPath(p, Qt::IntersectClip);
    beginPath();
}

void GraphicsContext::eoClip()
{
    d->state.rectangleClips = false;
    const QPainterPath p = d->userPath(true);
    d->painter->setWorldTransform(d->userToDevice());
    d->setHints(*d->painter);
    d->painter->setClipPath(p, Qt::IntersectClip);
    beginPath();
}

void GraphicsContext::clipToRect(const Rect& r)
{
    d->painter->setWorldTransform(d->userToDevice());
    d->setHints(*d->painter);
    if (r.isNull()) {
        d->painter->setClipRect(QRectF(), Qt::IntersectClip);
        return;
    }
    d->painter->setClipRect(r.toQRectF(), Qt::IntersectClip);
}

bool GraphicsContext::clipToRectLeavesNoPixels(const Rect& r) const
{
    const QPaintEngine* engine = d->painter->paintEngine();
    if (!d->state.rectangleClips || !d->state.mask.isNull() || !engine ||
        engine->type() != QPaintEngine::Raster)
        return false;
    const qreal ratio = d->deviceRatio();
    const QTransform toDevice = d->userToDevice() * QTransform::fromScale(ratio, ratio);
    if (toDevice.type() > QTransform::TxScale)
        return false;
    const QPointF a = toDevice.map(QPointF(r.minX(), r.minY()));
    const QPointF b = toDevice.map(QPointF(r.maxX(), r.maxY()));
    return roundsToNoPixel(a.x(), b.x()) || roundsToNoPixel(a.y(), b.y());
}

Rect GraphicsContext::devicePixelSquare(Point center, int pixels) const
{
    const qreal ratio = d->deviceRatio();
    const QTransform toDevice = d->userToDevice() * QTransform::fromScale(ratio, ratio);
    bool invertible = false;
    const QTransform toUser = toDevice.inverted(&invertible);
    const double half = pixels / 2.0;
    if (!invertible || toDevice.type() > QTransform::TxScale) {
        const double side = pixels / std::max(userSpaceScale(), 1e-12);
        return Rect(center.x - side / 2, center.y - side / 2, side, side);
    }
    const QPointF c = toDevice.map(center.toQPointF());
    return Rect::fromQRectF(
        toUser.mapRect(QRectF(std::round(c.x() - half), std::round(c.y() - half), pixels, pixels)));
}

void GraphicsContext::fillDevicePixelSquares(const std::vector<PixelMark>& marks, int pixels)
{
    if (marks.empty())
        return;
    const qreal ratio = d->deviceRatio();
    const QTransform toDevice = d->userToDevice() * QTransform::fromScale(ratio, ratio);
    if (toDevice.type() > QTransform::TxScale) {
        saveGState();
        for (const PixelMark& mark : marks) {
            setFillColor(PlatformColor::fromQColor(QColor::fromRgba(mark.color)));
            fillRect(devicePixelSquare(mark.center, pixels));
        }
        restoreGState();
        return;
    }
    const double half = pixels / 2.0;
    d->paint(
        [&](QPainter& painter) {
            // Whole pixels: no antialiasing to blend the squares' edges.
            painter.setWorldTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
            painter.setRenderHint(QPainter::Antialiasing, false);
            for (const PixelMark& mark : marks) {
                const QPointF c = toDevice.map(mark.center.toQPointF());
                painter.fillRect(QRectF(std::round(c.x() - half), std::round(c.y() - half), pixels, pixels),
                                 QColor::fromRgba(mark.color));
            }
        },
        d->state.alpha);
}

void GraphicsContext::clipToMask(const Rect& r, const QImage& mask)
{
    const QSize pixels = d->devicePixels();
    QImage coverage(pixels, QImage::Format_ARGB32_Premultiplied);
    coverage.setDevicePixelRatio(d->deviceRatio());
    coverage.fill(Qt::transparent);
    if (!mask.isNull() && !r.isEmpty()) {
        QPainter p(&coverage);
        d->setHints(p);
        p.setWorldTransform(imageToUser(r, mask.size()) * d->userToDevice());
        const QImage source = coverageOf(mask);
        p.drawImage(QRectF(0, 0, source.width(), source.height()), source, QRectF(source.rect()));
        if (!d->state.mask.isNull()) {
            p.resetTransform();
            p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            p.drawImage(QPointF(0, 0), d->state.mask);
        }
    }
    d->state.mask = coverage;
}

void GraphicsContext::setFillColor(const PlatformColor& color)
{
    d->state.fill = color;
}

void GraphicsContext::setStrokeColor(const PlatformColor& color)
{
    d->state.stroke = color;
}

void GraphicsContext::setLineWidth(double width)
{
    d->state.lineWidth = std::isfinite(width) ? std::max(width, 0.0) : 1.0;
}

void GraphicsContext::setLineCap(LineCap cap)
{
    d->state.cap = cap;
}

void GraphicsContext::setLineJoin(LineJoin join)
{
    d->state.join = join;
}

void GraphicsContext::setMiterLimit(double limit)
{
    d->state.miterLimit = limit;
}

void GraphicsContext::setLineDash(double phase, const std::vector<double>& lengths)
{
    d->state.dashPhase = phase;
    d->state.dashes = lengths;
}

void GraphicsContext::setAlpha(double alpha)
{
    d->state.alpha = std::isnan(alpha) ? 0.0 : std::clamp(alpha, 0.0, 1.0);
}

void GraphicsContext::setBlendMode(BlendMode mode)
{
    d->state.blend = mode;
}

void GraphicsContext::setShouldAntialias(bool on)
{
    d->state.antialias = on;
}

void GraphicsContext::setInterpolationQuality(bool smooth)
{
    d->state.smooth = smooth;
}

PlatformColor GraphicsContext::fillColor() const
{
    return d->state.fill;
}

PlatformColor GraphicsContext::strokeColor() const
{
    return d->state.stroke;
}

double GraphicsContext::lineWidth() const
{
    return d->state.lineWidth;
}

double GraphicsContext::alpha() const
{
    return d->state.alpha;
}

BlendMode GraphicsContext::blendMode() const
{
    return d->state.blend;
}

bool GraphicsContext::shouldAntialias() const
{
    return d->state.antialias;
}

int GraphicsContext::gStateDepth() const
{
    return int(d->stack.size());
}

void GraphicsContext::drawImage(const Rect& r, const QImage& image)
{
    if (image.isNull() || r.isEmpty())
        return;
    const QTransform t = imageToUser(r, image.size()) * d->userToDevice();
    const QRectF all(0, 0, image.width(), image.height());
    // A draw that maps pixels one to one (a whole-pixel move, possibly mirrored) copies them
    // exactly, as the platform does; smoothing would blend neighbours at the mirror.
    const auto whole = [](qreal v) { return std::abs(v - std::round(v)) < 1e-9; };
    const bool oneToOne = t.type() <= QTransform::TxScale && std::abs(std::abs(t.m11()) - 1) < 1e-9 &&
                          std::abs(std::abs(t.m22()) - 1) < 1e-9 && whole(t.dx()) && whole(t.dy());
    d->paint(
        [&](QPainter& painter) {
            painter.setWorldTransform(t);
            if (oneToOne)
                painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            painter.drawImage(all, image, all);
        },
        d->state.alpha);
}

void GraphicsContext::drawTiledImage(const Rect& r, const QImage& image)
{
    if (image.isNull() || r.isEmpty())
        return;
    const QRectF area = d->deviceInUserSpace();
    if (area.isEmpty())
        return;
    QBrush brush(image);
    brush.setTransform(imageToUser(r, image.size()));
    QPainterPath p;
    p.addRect(area);
    d->fillUserPath(p, brush, d->state.alpha);
}

void GraphicsContext::drawLinearGradient(const std::vector<std::pair<double, PlatformColor>>& stops,
                                         Point start, Point end, bool drawsBeforeStart, bool drawsAfterEnd)
{
    const double length = std::hypot(end.x - start.x, end.y - start.y);
    const QRectF area = d->deviceInUserSpace();
    if (stops.empty() || !(length > 0) || area.isEmpty())
        return;
    QLinearGradient gradient(start.toQPointF(), end.toQPointF());
    gradient.setStops(gradientStops(stops));
    gradient.setSpread(QGradient::PadSpread);
    // The band the gradient paints, in gradient-aligned terms: along u from t0 to t1, across
    // it as far as the device reaches.
    const double ux = (end.x - start.x) / length, uy = (end.y - start.y) / length;
    double reach = length;
    for (const QPointF& corner : {area.topLeft(), area.topRight(), area.bottomLeft(), area.bottomRight()})
        reach = std::max(reach, std::hypot(corner.x() - start.x, corner.y() - start.y) + length);
    const double t0 = drawsBeforeStart ? -reach : 0;
    const double t1 = drawsAfterEnd ? reach : length;
    auto at = [&](double along, double across) {
        return QPointF(start.x + ux * along - uy * across, start.y + uy * along + ux * across);
    };
    QPainterPath band;
    band.moveTo(at(t0, -reach));
    band.lineTo(at(t1, -reach));
    band.lineTo(at(t1, reach));
    band.lineTo(at(t0, reach));
    band.closeSubpath();
    d->fillUserPath(band, QBrush(gradient), d->state.alpha);
}

void GraphicsContext::drawRadialGradient(const std::vector<std::pair<double, PlatformColor>>& stops,
                                         Point startCenter, double startRadius, Point endCenter,
                                         double endRadius, bool drawsBeforeStart, bool drawsAfterEnd)
{
    const QRectF area = d->deviceInUserSpace();
    if (stops.empty() || area.isEmpty() || !std::isfinite(startRadius) || !std::isfinite(endRadius))
        return;
    startRadius = std::max(startRadius, 0.0);
    endRadius = std::max(endRadius, 0.0);
    // Qt's extended radial gradient runs from the focal circle (t = 0) to the centre circle.
    QRadialGradient gradient(endCenter.toQPointF(), endRadius, startCenter.toQPointF(), startRadius);
    gradient.setStops(gradientStops(stops));
    gradient.setSpread(QGradient::PadSpread);
    QPainterPath region;
    region.addRect(area);
    if (!drawsAfterEnd) {
        // The circles for t in 0..1 sweep out the hull of the two end circles; sampled.
        QPainterPath swept;
        constexpr int kSteps = 16;
        for (int i = 0; i <= kSteps; ++i) {
            const double t = double(i) / kSteps;
            const QPointF c(startCenter.x + (endCenter.x - startCenter.x) * t,
                            startCenter.y + (endCenter.y - startCenter.y) * t);
            const double radius = startRadius + (endRadius - startRadius) * t;
            swept.addEllipse(c, radius, radius);
        }
        swept.setFillRule(Qt::WindingFill);
        region = region.intersected(swept.simplified());
    }
    if (!drawsBeforeStart && startRadius > 0) {
        // For nested circles (the usual case) t < 0 is the inside of the start circle.
        QPainterPath inner;
        inner.addEllipse(startCenter.toQPointF(), startRadius, startRadius);
        region = region.subtracted(inner);
    }
    d->fillUserPath(region, QBrush(gradient), d->state.alpha);
}

QPainter* GraphicsContext::painter()
{
    // Its holder may clip it any way.
    d->state.rectangleClips = false;
    QPainter* p = d->painter;
    p->setWorldTransform(d->userToDevice());
    p->setPen(d->strokePen(false));
    p->setBrush(d->brushFor(d->state.fill, false));
    p->setOpacity(d->state.alpha);
    p->setCompositionMode(compositionModeFor(d->state.blend));
    d->setHints(*p);
    return p;
}

GraphicsContext* GraphicsContext::current()
{
    return tCurrent;
}

void GraphicsContext::setCurrent(GraphicsContext* context)
{
    tCurrent = context;
}

} // namespace corvex
