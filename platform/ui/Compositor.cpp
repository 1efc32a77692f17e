#include "platform/ui/Compositor.h"

#include "platform/core/Scheduler.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/CompositorScaler_p.h"
#include "platform/ui/FlipTransform_p.h"
#include "platform/ui/FrameTrace.h"
#include "platform/ui/Layer.h"
#include "platform/ui/RenderingScope.h"

#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

namespace {

constexpr double kMaxImageSide = 16384;
// Larger scaled contents are drawn directly rather than kept at device resolution.
constexpr int kMaxRenditionSide = 4096;
// Pixels in a band of changing scaled contents: 128 KB, well inside a core's cache.
constexpr int kBandPixels = 32768;
// Changing scaled contents at least this many pixels a side blend straight into the target.
constexpr int kDirectBlendSide = 96;
// Contents of at least this many pixels are checked once for being opaque everywhere: a copy
// of them then replaces the pixels beneath, row by row, instead of blending every pixel.
constexpr qint64 kOpaqueCheckPixels = 256 * 256;
// Kept copies of scaled contents made in one frame. Making one costs about twice drawing the
// contents in bands: when a whole orbit comes to rest (the end of a drill) the copies are
// spread over the next frames, which draw the rest in bands as before, rather than all made
// in the one frame that may also build a new view.
constexpr int kRenditionsPerFrame = 6;

bool isVisible(const PlatformColor& color)
{
    return color.isPattern() || color.alphaComponent() > 0;
}

// An opaque colour filled under the tree replaces every pixel of a fresh image: clearing
// the image first (25 MB for a window at scale 2) would be written over at once.
bool coversWithoutClear(const PlatformColor& background)
{
    return !background.isPattern() && background.alphaComponent() >= 1;
}

QPainterPath roundedRect(const QRectF& rect, double radius)
{
    QPainterPath path;
    const double r = std::min(std::max(radius, 0.0), std::min(rect.width(), rect.height()) / 2);
    if (r > 0)
        path.addRoundedRect(rect, r, r);
    else
        path.addRect(rect);
    return path;
}

bool isWhole(double v)
{
    return std::abs(v - std::round(v)) < 1e-6;
}

// Whether `to` maps contents as `from` does but moved by whole device pixels (answered in
// `shift`): each device pixel then samples the contents where the pixel as far back did,
// so a drawing made for `from` is the same pixels, moved. Scrolling and a grid whose items
// change places move layers so.
bool movedByWholePixels(const QTransform& from, const QTransform& to, QPoint& shift)
{
    if (from.type() > QTransform::TxScale || to.type() > QTransform::TxScale)
        return false;
    const double dx = std::round(to.dx() - from.dx());
    const double dy = std::round(to.dy() - from.dy());
    if (std::abs(dx) > kMaxImageSide * 4 || std::abs(dy) > kMaxImageSide * 4)
        return false;
    // Moved back, the same transform (to within rounding): the same scale and the same
    // fraction of a pixel, so that the samples fall in the same places.
    if (!(from * QTransform::fromTranslate(dx, dy) == to))
        return false;
    shift = QPoint(int(dx), int(dy));
    return true;
}

} // namespace

// Paints layers into one painter. The painter's logical coordinates are what the transforms
// map to; `mRatio` device pixels make one logical unit.
class LayerRenderer
{
public:
    LayerRenderer(QPainter& painter, const Compositor::Options& options)
        : mPainter(painter), mOptions(options), mNow(MediaClock::now())
    {
        QPaintDevice* device = painter.device();
        QSize pixels;
        if (device->devType() == QInternal::Image) {
            const auto* image = static_cast<const QImage*>(device);
            mRatio = image->devicePixelRatio();
            pixels = image->size();
        } else {
            mRatio = device->devicePixelRatioF();
            pixels = QSize(qCeil(device->width() * mRatio), qCeil(device->height() * mRatio));
        }
        if (!(mRatio > 0))
            mRatio = 1;
        mArea = QRectF(0, 0, pixels.width() / mRatio, pixels.height() / mRatio);
    }

    // Paints into an offscreen image for `outer`, at its time and resolution.
    LayerRenderer(QPainter& painter, const LayerRenderer& outer, const QRectF& area)
        : mPainter(painter), mOptions(outer.mOptions), mNow(outer.mNow), mRatio(outer.mRatio), mArea(area),
          mRenditionsLeft(outer.mRenditionsLeft)
    {}

    const QRectF& area() const { return mArea; }

    // `parentToPainter` maps the superlayer's own space; `parentFlipped` tells whether that
    // space is y-down relative to the tree's base.
    void paintLayer(Layer& layer, const QTransform& parentToPainter, bool parentFlipped, double opacity)
    {
        if (layer.isHidden())
            return;
        const LayerProperties p = propertiesOf(layer);
        paintLayerAt(layer, p, p.toSuperlayer() * parentToPainter, parentFlipped, opacity);
    }

    // `toPainter` maps the layer's bounds space, `flipped` tells whether that space is y-down.
    void paintLayerAt(Layer& layer, const LayerProperties& p, const QTransform& toPainter, bool flipped,
                      double opacity)
    {
        layer.noteDrawn();
        const double alpha = opacity * std::clamp(double(p.opacity), 0.0, 1.0);
        if (!(alpha > 0))
            return;
        const QRectF bounds = p.bounds.toQRectF();
        const bool sublayers = hasVisibleSublayers(layer);
        const bool rounded = p.cornerRadius > 0;
        // A mask QPainter cannot clip exactly (rounded, rotated or between device pixels) is
        // applied to an offscreen image of the layer.
        const bool contents = !layer.contents().isNull() || layer.drawsDirectly();
        const bool softMask = layer.masksToBounds() && ((rounded && (sublayers || contents)) ||
                                                        (sublayers && !isPixelAligned(toPainter, bounds)));
        const bool group = alpha < 1 && drawsSeveral(layer, p, sublayers);
        const std::optional<Path>& maskPath = layer.maskPath();
        if (!group && !softMask && !maskPath) {
            paintBody(layer, p, toPainter, flipped, alpha, layer.masksToBounds() && sublayers);
            paintBorder(p, toPainter, alpha);
            return;
        }

        // The mask path is in the layer's own space, flipped within the bounds with the geometry.
        const QTransform ownToPainter =
            layer.isGeometryFlipped() ? flipWithin(bounds) * toPainter : toPainter;
        QRectF area = subtreeArea(layer, p, toPainter) & mArea;
        if (maskPath) {
            if (maskPath->isEmpty())
                return;
            area &= ownToPainter.mapRect(maskPath->painterPath().boundingRect());
        }
        if (area.isEmpty())
            return;
        const QRect pixels =
            QRectF(area.x() * mRatio, area.y() * mRatio, area.width() * mRatio, area.height() * mRatio)
                .toAlignedRect();
        if (pixels.width() > kMaxImageSide || pixels.height() > kMaxImageSide)
            return;
        const FrameTrace::Scope tracing(FrameTrace::Phase::Composite, layer);
        QImage image(pixels.size(), QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return;
        image.setDevicePixelRatio(mRatio);
        image.fill(Qt::transparent);
        const QPointF origin(pixels.x() / mRatio, pixels.y() / mRatio);
        const QTransform shifted = toPainter * QTransform::fromTranslate(-origin.x(), -origin.y());
        {
            QPainter painter(&image);
            LayerRenderer inner(painter, *this, QRectF(QPointF(0, 0), QSizeF(image.deviceIndependentSize())));
            if (softMask) {
                // The mask cuts contents and sublayers; the background has its own (rounded)
                // edge and goes underneath afterwards, so that its edge is not cut twice.
                inner.paintContents(layer, p, shifted, flipped, 1.0);
                inner.paintSublayers(layer, p, shifted, flipped, 1.0, false);
                inner.applyMask(roundedRect(bounds, p.cornerRadius), shifted, image.size());
                painter.setCompositionMode(QPainter::CompositionMode_DestinationOver);
                inner.paintBackground(p, shifted, 1.0);
                painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            } else {
                inner.paintBackground(p, shifted, 1.0);
                inner.paintContents(layer, p, shifted, flipped, 1.0);
                inner.paintSublayers(layer, p, shifted, flipped, 1.0, layer.masksToBounds() && sublayers);
            }
            inner.paintBorder(p, shifted, 1.0);
            if (maskPath) {
                const QTransform ownShifted =
                    ownToPainter * QTransform::fromTranslate(-origin.x(), -origin.y());
                inner.applyMask(maskPath->painterPath(), ownShifted, image.size());
            }
        }
        mPainter.save();
        mPainter.resetTransform();
        mPainter.setOpacity(alpha);
        // A copy pixel for pixel: smoothing would take the slow scaling path for nothing.
        mPainter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        mPainter.drawImage(origin, image);
        mPainter.restore();
    }

    // Background, contents and sublayers (the border comes after any mask).
    void paintBody(Layer& layer, const LayerProperties& p, const QTransform& toPainter, bool flipped,
                   double alpha, bool clipSublayers)
    {
        paintBackground(p, toPainter, alpha);
        paintContents(layer, p, toPainter, flipped, alpha);
        paintSublayers(layer, p, toPainter, flipped, alpha, clipSublayers);
    }

    void paintBackground(const LayerProperties& p, const QTransform& toPainter, double alpha)
    {
        const QRectF bounds = p.bounds.toQRectF();
        if (bounds.width() <= 0 || bounds.height() <= 0 || !isVisible(p.backgroundColor))
            return;
        mPainter.setWorldTransform(toPainter);
        mPainter.setOpacity(alpha);
        mPainter.setRenderHint(QPainter::Antialiasing, true);
        const QBrush brush = p.backgroundColor.toBrush();
        if (p.cornerRadius > 0)
            mPainter.fillPath(roundedRect(bounds, p.cornerRadius), brush);
        else
            mPainter.fillRect(bounds, brush);
    }

    void paintContents(Layer& layer, const LayerProperties& p, const QTransform& toPainter, bool flipped,
                       double alpha)
    {
        const QRectF bounds = p.bounds.toQRectF();
        if (bounds.width() <= 0 || bounds.height() <= 0)
            return;
        if (layer.drawsDirectly()) {
            paintDirectly(layer, bounds, toPainter, flipped, alpha);
            return;
        }
        const QImage& contents = layer.compositingContents(mOptions.convertContents);
        // Nothing to do for contents outside the area that can be painted.
        if (contents.isNull() || !toPainter.mapRect(bounds).intersects(mArea))
            return;
        // Upright: the image's top row at the visual top, which is the minimum y of a y-down
        // bounds space and the maximum y of a y-up one.
        const QTransform m = flipped ? toPainter : flipWithin(bounds) * toPainter;
        const QTransform toDevice = QTransform(bounds.width() / contents.width(), 0, 0,
                                               bounds.height() / contents.height(), bounds.x(), bounds.y()) *
                                    m * QTransform::fromScale(mRatio, mRatio);
        const bool exact = isPixelExact(toDevice);
        if (!exact && toDevice.type() <= QTransform::TxScale &&
            drawRendition(layer, contents, toDevice, alpha))
            return;
        if (exact && toDevice.m11() > 0 && toDevice.m22() > 0) {
            // Upright one to one: a plain copy. Drawn through the layer's transform instead, the
            // contents would take QPainter's transformed path, which splits the blend of every
            // image taller than a few rows over its thread pool: on one processor only a wait.
            prepareCopy(alpha);
            // Opaque pixels blended source-over replace what is beneath: copied, the same.
            const bool replaces = alpha >= 1 &&
                                  mPainter.compositionMode() == QPainter::CompositionMode_SourceOver &&
                                  isOpaqueEverywhere(layer, contents);
            if (replaces)
                mPainter.setCompositionMode(QPainter::CompositionMode_Source);
            drawUnscaled(QPointF(std::round(toDevice.dx()) / mRatio, std::round(toDevice.dy()) / mRatio),
                         contents);
            if (replaces)
                mPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
            return;
        }
        mPainter.setWorldTransform(m);
        mPainter.setOpacity(alpha);
        mPainter.setRenderHint(QPainter::SmoothPixmapTransform, !exact);
        // Edges are antialiased where the layer is turned; axis-aligned images keep the much
        // faster unclipped scaling path (their edges move by at most half a device pixel).
        mPainter.setRenderHint(QPainter::Antialiasing,
                               m.type() > QTransform::TxScale && layer.edgeAntialiasingMask() != 0);
        mPainter.drawImage(bounds, contents);
    }

    // The image's pixels one to one on the device, its top left at `at`. Given a pixel ratio
    // of its own, a shared image would be copied whole first: the image is placed by the
    // rectangle its pixels cover instead, which is how the painter draws an image of that
    // ratio.
    void drawUnscaled(QPointF at, const QImage& image)
    {
        if (mRatio > 1 && image.devicePixelRatio() != mRatio) {
            mPainter.drawImage(QRectF(at.x(), at.y(), image.width() / mRatio, image.height() / mRatio), image,
                               QRectF(0, 0, image.width(), image.height()));
            return;
        }
        QImage view = image;
        view.setDevicePixelRatio(mRatio);
        mPainter.drawImage(at, view);
    }

    // A layer that draws directly: its drawing in its own space, cut to the bounds as cached
    // contents would be, with the settings of a layer's display.
    void paintDirectly(Layer& layer, const QRectF& bounds, const QTransform& toPainter, bool flipped,
                       double alpha)
    {
        if (!toPainter.mapRect(bounds).intersects(mArea))
            return;
        const FrameTrace::Scope tracing(FrameTrace::Phase::Drawing, layer);
        mPainter.save();
        mPainter.setWorldTransform(layer.isGeometryFlipped() ? flipWithin(bounds) * toPainter : toPainter);
        mPainter.setOpacity(1);
        mPainter.setClipRect(bounds, Qt::IntersectClip);
        mPainter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform |
                                QPainter::TextAntialiasing);
        {
            GraphicsContext context(&mPainter, flipped != layer.isGeometryFlipped());
            context.setAlpha(alpha);
            GraphicsContext* previous = GraphicsContext::current();
            GraphicsContext::setCurrent(&context);
            layer.drawInContext(context);
            GraphicsContext::setCurrent(previous);
        }
        mPainter.restore();
    }

    // Scaled contents are drawn through copies at device resolution (the fractional offset
    // included). A layer drawn the same way as in the last frame keeps its copy, which later
    // frames only blend. Contents the compositor's scaler takes are scaled at a fraction of
    // the cost of QPainter's smooth drawing, the opacity multiplied in: while they change
    // from frame to frame (a zoom, a drill) they are scaled a band of rows at a time into a
    // small buffer shared by all layers and blended from there, which keeps the pixels in
    // the processor's cache and holds no memory per layer; a kept copy has the opacity in it
    // when that held still too, else none (a fade then only blends it). Other contents are
    // drawn directly until they hold still. Returns false when the contents must be drawn
    // directly (other contents that move or scale, or a copy too large to make).
    bool drawRendition(Layer& layer, const QImage& contents, const QTransform& toDevice, double alpha)
    {
        Layer::Rendition& r = layer.extras().rendition;
        const qint64 key = contents.cacheKey();
        const bool scaler = CompositorScaler::supports(contents.format());
        QPoint moved;
        const bool kept = !r.image.isNull() && r.key == key && (r.opacity == alpha || r.opacity == 1) &&
                          movedByWholePixels(r.transform, toDevice, moved);
        if (kept) {
            r.origin += moved;
            r.transform = toDevice;
        } else {
            QPoint seenMoved;
            const bool steady = r.seenKey == key && movedByWholePixels(r.seenTransform, toDevice, seenMoved);
            const bool opacitySteady = r.seenOpacity == alpha;
            if (!steady || !opacitySteady)
                r.scaler.reset();
            else
                r.scalerShift += seenMoved;
            r.seenKey = key;
            r.seenTransform = toDevice;
            r.seenOpacity = alpha;
            r.image = QImage();
            const double baked = scaler && opacitySteady ? alpha : 1.0;
            ScaledRendition made;
            if (scaler) {
                // Over the frame's allowance the contents are drawn in bands and still count as
                // steady, so that a later frame makes their copy.
                if (!steady || *mRenditionsLeft <= 0) {
                    if (!r.scaler) {
                        r.scaler = std::make_shared<const CompositorScaler>(contents, toDevice, alpha,
                                                                            kMaxRenditionSide);
                        r.scalerShift = QPoint();
                    }
                    if (!r.scaler->isValid()) {
                        r.scaler.reset();
                        return false;
                    }
                    drawInBands(*r.scaler, r.scalerShift);
                    return true;
                }
                r.scaler.reset();
                made = CompositorScaler::scale(contents, toDevice, baked, kMaxRenditionSide);
                --*mRenditionsLeft;
            } else {
                if (!steady)
                    return false;
                made = qtRendition(contents, toDevice);
            }
            if (made.image.isNull())
                return false;
            made.image.setDevicePixelRatio(mRatio);
            r.image = std::move(made.image);
            r.origin = made.origin;
            r.key = key;
            r.transform = toDevice;
            r.opacity = baked;
        }
        prepareCopy(alpha / r.opacity);
        mPainter.drawImage(QPointF(r.origin.x() / mRatio, r.origin.y() / mRatio), r.image);
        return true;
    }

    // Whether every pixel of large premultiplied contents is opaque, checked once per contents.
    static bool isOpaqueEverywhere(Layer& layer, const QImage& contents)
    {
        if (qint64(contents.width()) * contents.height() < kOpaqueCheckPixels ||
            contents.format() != QImage::Format_ARGB32_Premultiplied)
            return false;
        Layer::Extras& e = layer.extras();
        if (e.opaqueCheckedKey != contents.cacheKey()) {
            e.opaqueCheckedKey = contents.cacheKey();
            e.opaqueContents = true;
            for (int y = 0; y < contents.height() && e.opaqueContents; ++y) {
                const auto* row = reinterpret_cast<const QRgb*>(contents.constScanLine(y));
                e.opaqueContents =
                    std::all_of(row, row + contents.width(), [](QRgb pixel) { return qAlpha(pixel) == 255; });
            }
        }
        return e.opaqueContents;
    }

    // Device pixels copied one to one.
    void prepareCopy(double opacity)
    {
        mPainter.resetTransform();
        mPainter.setOpacity(opacity);
        mPainter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        mPainter.setRenderHint(QPainter::Antialiasing, false);
    }

    // The scaler's drawing, moved by `shift` device pixels, blended a band of rows at a time,
    // the rows outside the area that can be painted skipped.
    void drawInBands(const CompositorScaler& scaling, QPoint shift)
    {
        const QPoint origin = scaling.origin() + shift;
        const QSize size = scaling.size();
        const int rowsPerBand = std::max(1, kBandPixels / size.width());
        const int firstVisible = std::max(0, int(std::floor(mArea.top() * mRatio)) - origin.y());
        const int endVisible = std::min(size.height(), int(std::ceil(mArea.bottom() * mRatio)) - origin.y());
        prepareCopy(1);
        // Small drawings gain nothing from it: their rows are short and the band is few.
        if (size.width() >= kDirectBlendSide && size.height() >= kDirectBlendSide &&
            blendIntoTarget(scaling, origin, firstVisible, endVisible))
            return;
        const std::size_t needed =
            std::size_t(std::min(rowsPerBand, size.height())) * std::size_t(size.width());
        if (mBand.size() < needed)
            mBand.resize(needed);
        for (int row = firstVisible; row < endVisible; row += rowsPerBand) {
            const int rows = std::min(rowsPerBand, endVisible - row);
            auto* bits = reinterpret_cast<uchar*>(mBand.data());
            scaling.scaleRows(row, rows, bits, qsizetype(size.width()) * 4);
            QImage band(bits, size.width(), rows, qsizetype(size.width()) * 4,
                        QImage::Format_ARGB32_Premultiplied);
            band.setDevicePixelRatio(mRatio);
            mPainter.drawImage(QPointF(origin.x() / mRatio, (origin.y() + row) / mRatio), band);
        }
    }

    // The scaler's drawing blended row by row straight into the painter's pixels, when they
    // are a raster image in a format the blend writes and nothing but the painted area and
    // one system rectangle clips (a copy being drawn in device pixels, the painter then
    // maps points to pixels by the ratio and a whole offset). The pixels come out as
    // QPainter's blend of the bands would leave them, without the bands' round trip through
    // memory. `origin` is the device pixel of the drawing's top-left corner. Returns false
    // when it cannot, and the bands are drawn.
    bool blendIntoTarget(const CompositorScaler& scaling, QPoint origin, int firstRow, int endRow)
    {
        QPaintEngine* engine = mPainter.paintEngine();
        if (!engine || engine->type() != QPaintEngine::Raster || mPainter.hasClipping() ||
            mPainter.compositionMode() != QPainter::CompositionMode_SourceOver)
            return false;
        QPaintDevice* device = engine->paintDevice();
        if (!device || device->devType() != QInternal::Image)
            return false;
        const auto* image = static_cast<const QImage*>(device);
        if (image->format() != QImage::Format_ARGB32_Premultiplied && image->format() != QImage::Format_RGB32)
            return false;
        const QTransform toDevice = mPainter.deviceTransform();
        if (toDevice.type() > QTransform::TxScale || std::abs(toDevice.m11() - mRatio) > 1e-9 ||
            std::abs(toDevice.m22() - mRatio) > 1e-9 || !isWhole(toDevice.dx()) || !isWhole(toDevice.dy()))
            return false;
        QRect target = image->rect();
        const QRegion system = engine->systemClip();
        if (!system.isEmpty()) {
            if (system.rectCount() != 1)
                return false;
            target &= system.boundingRect();
        }
        // The drawing's own pixel coordinates.
        const QPoint placed = origin + QPoint(int(std::round(toDevice.dx())), int(std::round(toDevice.dy())));
        target.translate(-placed);
        const int firstColumn =
            std::max({0, target.left(), int(std::floor(mArea.left() * mRatio)) - origin.x()});
        const int endColumn = std::min({scaling.size().width(), target.right() + 1,
                                        int(std::ceil(mArea.right() * mRatio)) - origin.x()});
        firstRow = std::max(firstRow, target.top());
        endRow = std::min(endRow, target.bottom() + 1);
        if (firstColumn >= endColumn || firstRow >= endRow)
            return true;
        // The raster engine writes these pixels itself: they are not shared while it paints.
        uchar* bits = const_cast<uchar*>(image->constBits());
        const qsizetype stride = image->bytesPerLine();
        scaling.blendRows(firstRow, endRow - firstRow, firstColumn, endColumn,
                          bits + qsizetype(firstRow + placed.y()) * stride +
                              qsizetype(firstColumn + placed.x()) * 4,
                          stride);
        return true;
    }

    // Contents in formats the scaler does not take, scaled by QPainter.
    static ScaledRendition qtRendition(const QImage& contents, const QTransform& toDevice)
    {
        const QRectF area = toDevice.mapRect(QRectF(0, 0, contents.width(), contents.height()));
        const QPoint origin(int(std::floor(area.left())), int(std::floor(area.top())));
        const QSize size(int(std::ceil(area.right())) - origin.x(),
                         int(std::ceil(area.bottom())) - origin.y());
        if (size.isEmpty() || size.width() > kMaxRenditionSide || size.height() > kMaxRenditionSide)
            return {};
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        if (image.isNull())
            return {};
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.setWorldTransform(toDevice * QTransform::fromTranslate(-origin.x(), -origin.y()));
            painter.drawImage(QPointF(0, 0), contents);
        }
        return {std::move(image), origin};
    }

    void paintSublayers(Layer& layer, const LayerProperties& p, const QTransform& toPainter, bool flipped,
                        double alpha, bool clip)
    {
        if (layer.sublayers().empty())
            return;
        const QRectF bounds = p.bounds.toQRectF();
        const bool ownFlipped = flipped != layer.isGeometryFlipped();
        const QTransform own = layer.isGeometryFlipped() ? flipWithin(bounds) * toPainter : toPainter;
        const QRectF savedArea = mArea;
        if (clip) {
            const QRectF deviceClip = toPainter.mapRect(bounds);
            mPainter.save();
            mPainter.resetTransform();
            mPainter.setClipRect(deviceClip, Qt::IntersectClip);
            mArea &= deviceClip;
        }
        for (Layer* sublayer : layer.sublayersInDrawingOrder())
            paintLayer(*sublayer, own, ownFlipped, alpha);
        if (clip) {
            mPainter.restore();
            mArea = savedArea;
        }
    }

    void paintBorder(const LayerProperties& p, const QTransform& toPainter, double alpha)
    {
        const QRectF bounds = p.bounds.toQRectF();
        if (!(p.borderWidth > 0) || !isVisible(p.borderColor) || bounds.width() <= 0 || bounds.height() <= 0)
            return;
        const double width = std::min(p.borderWidth, std::min(bounds.width(), bounds.height()) / 2);
        QPainterPath path = roundedRect(bounds, p.cornerRadius);
        const QRectF inner = bounds.adjusted(width, width, -width, -width);
        if (inner.width() > 0 && inner.height() > 0)
            path.addPath(roundedRect(inner, std::max(p.cornerRadius - width, 0.0)));
        path.setFillRule(Qt::OddEvenFill);
        mPainter.setWorldTransform(toPainter);
        mPainter.setOpacity(alpha);
        mPainter.setRenderHint(QPainter::Antialiasing, true);
        mPainter.fillPath(path, p.borderColor.toBrush());
    }

    // Keeps what lies inside the shape (antialiased) and clears the rest of the image.
    void applyMask(const QPainterPath& shape, const QTransform& toPainter, const QSize& pixels)
    {
        QImage mask(pixels, QImage::Format_ARGB32_Premultiplied);
        mask.setDevicePixelRatio(mRatio);
        mask.fill(Qt::transparent);
        {
            QPainter painter(&mask);
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setWorldTransform(toPainter);
            painter.fillPath(shape, Qt::black);
        }
        mPainter.resetTransform();
        mPainter.setOpacity(1);
        mPainter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        mPainter.drawImage(QPointF(0, 0), mask);
        mPainter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }

private:
    LayerProperties propertiesOf(Layer& layer) const
    {
        return mOptions.presentation ? layer.presentationPropertiesAt(mNow) : layer.modelProperties();
    }

    static bool hasVisibleSublayers(const Layer& layer)
    {
        return std::any_of(layer.sublayers().begin(), layer.sublayers().end(),
                           [](const std::shared_ptr<Layer>& sublayer) { return !sublayer->isHidden(); });
    }

    // More than one thing to draw: opacity must then apply to them as one image.
    static bool drawsSeveral(const Layer& layer, const LayerProperties& p, bool sublayers)
    {
        if (sublayers)
            return true;
        const QRectF bounds = p.bounds.toQRectF();
        if (bounds.width() <= 0 || bounds.height() <= 0)
            return false;
        const bool contents = !layer.contents().isNull() || layer.drawsDirectly();
        const int count = (isVisible(p.backgroundColor) ? 1 : 0) + (contents ? 1 : 0) +
                          (p.borderWidth > 0 && isVisible(p.borderColor) ? 1 : 0);
        return count > 1;
    }

    // The painter area the layer and its visible sublayers can touch.
    QRectF subtreeArea(Layer& layer, const LayerProperties& p, const QTransform& toPainter) const
    {
        const QRectF bounds = p.bounds.toQRectF();
        QRectF area = toPainter.mapRect(bounds);
        if (layer.masksToBounds())
            return area;
        const QTransform own = layer.isGeometryFlipped() ? flipWithin(bounds) * toPainter : toPainter;
        for (const auto& sublayer : layer.sublayers()) {
            if (sublayer->isHidden())
                continue;
            const LayerProperties sp = propertiesOf(*sublayer);
            area |= subtreeArea(*sublayer, sp, sp.toSuperlayer() * own);
        }
        return area;
    }

    // Whether the rectangle lands on device pixel edges without rotation (a clip QPainter
    // then applies exactly).
    bool isPixelAligned(const QTransform& toPainter, const QRectF& rect) const
    {
        if (toPainter.type() > QTransform::TxScale)
            return false;
        const QRectF device = toPainter.mapRect(rect);
        return isWhole(device.left() * mRatio) && isWhole(device.top() * mRatio) &&
               isWhole(device.right() * mRatio) && isWhole(device.bottom() * mRatio);
    }

    // Whether image pixels land one to one on device pixels (a plain copy, possibly mirrored):
    // smoothing would only blur them.
    static bool isPixelExact(const QTransform& toDevice)
    {
        return toDevice.type() <= QTransform::TxScale && std::abs(std::abs(toDevice.m11()) - 1) < 1e-9 &&
               std::abs(std::abs(toDevice.m22()) - 1) < 1e-9 && isWhole(toDevice.dx()) &&
               isWhole(toDevice.dy());
    }

    QPainter& mPainter;
    const Compositor::Options& mOptions;
    double mNow; // the frame's media time: every layer is presented as of it
    double mRatio = 1;
    QRectF mArea;
    std::vector<std::uint32_t> mBand; // drawInBands' buffer, shared by the frame's layers
    int mOwnRenditionsLeft = kRenditionsPerFrame;
    int* mRenditionsLeft = &mOwnRenditionsLeft; // the outermost renderer's: one allowance a frame
};

int Compositor::prepareFrame(Layer& root)
{
    root.displayDirtyLayersConcurrently();
    return root.consumeDirtyLayers([](Layer& layer, Layer::DirtyFlags) { layer.displayIfNeeded(); });
}

void Compositor::paint(QPainter& painter, Layer& root, const QTransform& baseToPainter,
                       const Options& options)
{
    painter.save();
    LayerRenderer renderer(painter, options);
    if (isVisible(options.background)) {
        painter.resetTransform();
        painter.setOpacity(1);
        // A background that is not opaque replaces what was there (source-over would not).
        const bool opaque = !options.background.isPattern() && options.background.alphaComponent() >= 1;
        painter.setCompositionMode(opaque ? QPainter::CompositionMode_SourceOver
                                          : QPainter::CompositionMode_Source);
        painter.fillRect(renderer.area(), options.background.toBrush());
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    // The base space is y-up by definition: flippedness is counted from it.
    renderer.paintLayer(root, baseToPainter, false, 1.0);
    painter.restore();
}

QImage Compositor::renderToImage(Layer& root, Size windowSize, double scale, const Options& options)
{
    if (!std::isfinite(scale) || !(scale > 0) || !std::isfinite(windowSize.width) ||
        !std::isfinite(windowSize.height))
        return {};
    const double wide = std::ceil(windowSize.width * scale - 1e-6);
    const double high = std::ceil(windowSize.height * scale - 1e-6);
    if (!(wide >= 1) || !(high >= 1) || wide > kMaxImageSide || high > kMaxImageSide)
        return {};
    QImage image(int(wide), int(high), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.setDevicePixelRatio(scale);
    if (!coversWithoutClear(options.background))
        image.fill(Qt::transparent);
    const RenderingScope rendering(root);
    QPainter painter(&image);
    paint(painter, root, windowBase(windowSize.height), options);
    return image;
}

QImage Compositor::renderToImage(Layer& root, Size windowSize, double scale)
{
    return renderToImage(root, windowSize, scale, Options());
}

void Compositor::renderInContext(Layer& layer, GraphicsContext& context)
{
    if (layer.isHidden())
        return;
    const RenderingScope rendering(layer);
    // The snapshot shows current contents: what is marked is drawn first.
    std::vector<Layer*> pending{&layer};
    while (!pending.empty()) {
        Layer* next = pending.back();
        pending.pop_back();
        next->displayIfNeeded();
        for (const auto& sublayer : next->sublayers())
            pending.push_back(sublayer.get());
    }

    QPainter* painter = context.painter();
    if (!painter || !painter->isActive())
        return;
    Options options;
    options.presentation = false;
    painter->save();
    // The context's user space is the layer's bounds space. Contents keep the orientation the
    // layer has in its tree (upright relative to the tree's base space).
    const bool boundsFlipped = layer.contentsAreFlipped() != layer.isGeometryFlipped();
    LayerRenderer renderer(*painter, options);
    // A copy: drawing the layer's own contents changes the painter's transform, and the
    // sublayers must be placed with the one the layer started from.
    const QTransform toPainter = painter->worldTransform();
    renderer.paintLayerAt(layer, layer.modelProperties(), toPainter, boundsFlipped, context.alpha());
    painter->restore();
}

QTransform Compositor::windowBase(double height)
{
    return QTransform(1, 0, 0, -1, 0, height);
}

} // namespace corvex
