#include "platform/ui/LayerOcclusion.h"

#include "platform/core/Scheduler.h"
#include "platform/ui/FlipTransform_p.h"
#include "platform/ui/Layer.h"

#include <QImage>
#include <optional>
#include <unordered_map>

namespace corvex {

namespace {

bool visible(const PlatformColor& color)
{
    return color.isPattern() || color.alphaComponent() > 0;
}

// Rectangles that only touch do not overlap.
bool overlaps(const QRectF& a, const QRectF& b)
{
    const QRectF common = a & b;
    return common.width() > 1e-9 && common.height() > 1e-9;
}

class CoverWalk
{
public:
    CoverWalk(const Layer& target, const QRectF& area) : mTarget(target), mArea(area), mNow(MediaClock::now())
    {}

    bool covered() const { return mCovered; }

    void visit(const Layer& layer, const QTransform& parentToBase, const QRectF& clip, double opacity)
    {
        // A hidden target (a widget shown live hides its grab) still has its place in the order.
        const bool isTarget = &layer == &mTarget;
        if (isTarget)
            mAfter = true;
        if (mCovered || layer.isHidden())
            return;
        const LayerProperties p = layer.presentationPropertiesAt(mNow);
        const double alpha = opacity * double(p.opacity);
        // The compositor paints nothing of such a layer, its sublayers included.
        if (!(alpha > 0))
            return;
        const QTransform toBase = p.toSuperlayer() * parentToBase;
        const QRectF bounds = p.bounds.toQRectF();
        const QTransform own = layer.isGeometryFlipped() ? flipWithin(p.bounds) * toBase : toBase;
        // A mask path cuts the layer and its sublayers; its bounding box stands for it.
        QRectF clipped = clip;
        if (const std::optional<Path>& mask = layer.maskPath())
            clipped &= own.mapRect(mask->painterPath().boundingRect());
        const QRectF onScreen = toBase.mapRect(bounds) & clipped;

        if (mAfter && !isTarget && paintsBody(layer, p) && overlaps(onScreen, mArea)) {
            mCovered = true;
            return;
        }

        const QRectF inner = layer.masksToBounds() ? clipped & toBase.mapRect(bounds) : clipped;
        for (const Layer* sublayer : layer.sublayersInDrawingOrder())
            visit(*sublayer, own, inner, alpha);

        if (mAfter && !mCovered && borderCovers(p, toBase, clipped))
            mCovered = true;
    }

private:
    static bool paintsBody(const Layer& layer, const LayerProperties& p)
    {
        if (!(p.bounds.size.width > 0) || !(p.bounds.size.height > 0))
            return false;
        if (visible(p.backgroundColor) || layer.needsDisplay())
            return true;
        return !layer.contents().isNull() && !LayerOcclusion::isFullyTransparent(layer.contents());
    }

    // The border is a ring inside the bounds: it covers the area when the area reaches past
    // the ring's inner edge.
    bool borderCovers(const LayerProperties& p, const QTransform& toBase, const QRectF& clip) const
    {
        if (!(p.borderWidth > 0) || !visible(p.borderColor))
            return false;
        const QRectF bounds = p.bounds.toQRectF();
        const QRectF outer = toBase.mapRect(bounds) & clip;
        if (!overlaps(outer, mArea))
            return false;
        const double width = p.borderWidth;
        const QRectF inner = toBase.mapRect(bounds.adjusted(width, width, -width, -width));
        return !inner.contains(outer & mArea);
    }

    const Layer& mTarget;
    QRectF mArea;
    double mNow;
    bool mAfter = false;
    bool mCovered = false;
};

} // namespace

QTransform LayerOcclusion::presentedTransformToBase(const Layer& layer)
{
    const double now = MediaClock::now();
    QTransform toBase;
    for (const Layer* current = &layer; current;) {
        const LayerProperties p = current->presentationPropertiesAt(now);
        if (current->isGeometryFlipped())
            toBase = toBase * flipWithin(p.bounds);
        toBase = toBase * p.toSuperlayer();
        const auto super = current->superlayer();
        current = super.get();
    }
    return toBase;
}

bool LayerOcclusion::isCoveredAfter(const Layer& root, const Layer& target, const QRectF& areaInBase)
{
    if (!(areaInBase.width() > 0) || !(areaInBase.height() > 0))
        return false;
    CoverWalk walk(target, areaInBase);
    // The whole plane: the window host clips to its own rectangle anyway.
    const QRectF everywhere(-1e9, -1e9, 2e9, 2e9);
    walk.visit(root, QTransform(), everywhere, 1.0);
    return walk.covered();
}

bool LayerOcclusion::isUnclipped(const Layer& layer, const QRectF& rectInLayer)
{
    const QRectF rect = presentedTransformToBase(layer).mapRect(rectInLayer);
    for (auto super = layer.superlayer(); super; super = super->superlayer()) {
        if (const std::optional<Path>& mask = super->maskPath()) {
            const QTransform superToBase = presentedTransformToBase(*super);
            bool invertible = false;
            const QTransform baseToSuper = superToBase.inverted(&invertible);
            if (!invertible || !mask->painterPath().contains(baseToSuper.mapRect(rect)))
                return false;
        }
        if (!super->masksToBounds())
            continue;
        const QRectF clip =
            presentedTransformToBase(*super).mapRect(super->presentationProperties().bounds.toQRectF());
        // A hair of tolerance for rounding in the transforms.
        if (!clip.adjusted(-1e-6, -1e-6, 1e-6, 1e-6).contains(rect))
            return false;
    }
    return true;
}

bool LayerOcclusion::isFullyTransparent(const QImage& image)
{
    if (image.isNull())
        return true;
    if (!image.hasAlphaChannel())
        return false;
    // Contents are set rarely and checked every frame: remember the answer per image.
    static std::unordered_map<qint64, bool> cache;
    const qint64 key = image.cacheKey();
    if (const auto it = cache.find(key); it != cache.end())
        return it->second;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    bool transparent = true;
    for (int y = 0; y < argb.height() && transparent; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) != 0) {
                transparent = false;
                break;
            }
        }
    }
    if (cache.size() > 512)
        cache.clear();
    cache.emplace(key, transparent);
    return transparent;
}

} // namespace corvex
