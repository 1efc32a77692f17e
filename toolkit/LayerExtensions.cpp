#include "toolkit/LayerExtensions.h"

#include "platform/core/Log.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Layer.h"
#include "toolkit/Logger.h"
#include "toolkit/NarrowedRounding_p.h"

#include <cmath>

namespace corvex {

namespace {

constexpr int TransformToScaleTraceLine = 489;
constexpr const char* TransformToScaleMethod = "-[CALayer(MyExtensions) transformToScale:]";
constexpr int NotAnimatedLine = 424;
constexpr const char* AnimatedMethod = "-[CALayer(MyExtensions) transformToPoint:finalScale:animated:]";
constexpr int CreateBitmapLine = 530;
constexpr const char* CreateBitmapMethod = "-[CALayer(MyExtensions) createBitmap]";
// Scales the transforms divide by must be finite and above 0.
constexpr int BadScaleLine = 452;
constexpr const char* TransformToPointMethod =
    "-[CALayer(MyExtensions) transformToPoint:rotation:finalScale:]";
constexpr const char* TransformToScaleBadMethod = "-[CALayer(MyExtensions) transformToScale:]";

bool isUsableDivisor(double scale)
{
    return std::isfinite(scale) && scale > 0;
}

void setFrameOrigin(Layer& layer, Point origin)
{
    layer.setFrame(Rect(origin, layer.frame().size));
}

} // namespace

// ---- Positions ----

Point LayerExtensions::center(const Layer& layer)
{
    const Rect f = layer.frame();
    return Point(f.origin.x + f.size.width * 0.5, f.origin.y + f.size.height * 0.5);
}

void LayerExtensions::setCenter(Layer& layer, Point center)
{
    const Size s = layer.frame().size;
    setFrameOrigin(layer, Point(center.x - s.width * 0.5, center.y - s.height * 0.5));
}

Point LayerExtensions::centerPoint(const Layer& layer)
{
    const Size s = layer.bounds().size;
    return Point(s.width * 0.5, s.height * 0.5);
}

Point LayerExtensions::centerPointRounded(const Layer& layer)
{
    const Point c = centerPoint(layer);
    return Point(roundNarrowed(c.x), roundNarrowed(c.y));
}

Point LayerExtensions::topLeftCorner(const Layer& layer)
{
    return layer.frame().origin;
}

void LayerExtensions::setTopLeftCorner(Layer& layer, Point point)
{
    const Point anchor = layer.anchorPoint();
    const Size s = layer.bounds().size;
    layer.setPosition(Point(point.x + anchor.x * s.width, point.y + anchor.y * s.height));
}

Point LayerExtensions::topRightCorner(const Layer& layer)
{
    const Rect f = layer.frame();
    return Point(f.origin.x + f.size.width, f.origin.y);
}

void LayerExtensions::setTopRightCorner(Layer& layer, Point point)
{
    setFrameOrigin(layer, Point(point.x - layer.frame().size.width, point.y));
}

Point LayerExtensions::bottomRightCorner(const Layer& layer)
{
    const Rect f = layer.frame();
    return Point(f.origin.x + f.size.width, f.origin.y + f.size.height);
}

float LayerExtensions::bottomFrameLine(const Layer& layer)
{
    const Rect f = layer.frame();
    return float(f.origin.y + f.size.height);
}

// ---- Pixel alignment ----

void LayerExtensions::ensureIntegralFrame(Layer& layer)
{
    // A transformed layer's frame is a bounding box; setting it would distort the layer.
    if (!layer.transform().isIdentity())
        return;
    const Rect f = layer.frame();
    layer.setFrame(Rect(roundNarrowed(f.origin.x), roundNarrowed(f.origin.y), ceilNarrowed(f.size.width),
                        ceilNarrowed(f.size.height)));
}

// ---- Transforms ----

Transform3D LayerExtensions::scaleTransform(const Layer& layer, double scale)
{
    const Size s = layer.bounds().size;
    const Point anchor = layer.anchorPoint();
    const double tx = float(s.width * (0.5 - anchor.x));
    const double ty = float(s.height * (0.5 - anchor.y));
    return Transform3D::identity().translate(tx, ty, 0).scale(scale, scale, 1).translate(-tx, -ty, 0);
}

Transform3D LayerExtensions::pointTransform(const Layer& layer, Point point, double finalScale)
{
    const Size s = layer.bounds().size;
    const Point k = center(layer);
    return Transform3D::identity()
        .translate(s.width * 0.5, s.height * 0.5, 0)
        .scale(finalScale, finalScale, 1)
        .translate(s.width * -0.5, s.height * -0.5, 0)
        .translate(-k.x / finalScale, -k.y / finalScale, 0)
        .translate(point.x / finalScale, point.y / finalScale, 0);
}

Transform3D LayerExtensions::animatedPointTransform(const Layer& layer, Point point, double finalScale)
{
    const Point k = center(layer);
    return scaleTransform(layer, finalScale)
        .translate((point.x - k.x) / finalScale, (point.y - k.y) / finalScale, 0);
}

void LayerExtensions::transformToScale(Layer& layer, double scale)
{
    if (!std::isfinite(scale)) {
        Log::assertionFailure(BadScaleLine, TransformToScaleBadMethod);
        return;
    }
    if (Logger::canLog(&layer)) {
        const Point anchor = layer.anchorPoint();
        Logger::writeTrace(TransformToScaleTraceLine, TransformToScaleMethod,
                           QStringLiteral(" %1=%2").arg(QStringLiteral("self.anchorPoint"),
                                                        QString::asprintf("(%g,%g)", anchor.x, anchor.y)));
    }
    layer.setTransform(scaleTransform(layer, scale));
}

void LayerExtensions::transformToPointRotation(Layer& layer, Point point, double, double finalScale)
{
    if (!isUsableDivisor(finalScale)) {
        Log::assertionFailure(BadScaleLine, TransformToPointMethod);
        return;
    }
    layer.setTransform(pointTransform(layer, point, finalScale));
}

void LayerExtensions::transformToPoint(Layer& layer, Point point, double finalScale)
{
    transformToPointRotation(layer, point, 0, finalScale);
}

void LayerExtensions::transformToScaleRotation(Layer& layer, double scale, double rotation)
{
    transformToPointRotation(layer, center(layer), rotation, scale);
}

void LayerExtensions::transformToPointAnimated(Layer& layer, Point point, double finalScale, bool animated)
{
    if (!animated)
        Log::assertionFailure(NotAnimatedLine, AnimatedMethod);
    if (!isUsableDivisor(finalScale)) {
        Log::assertionFailure(BadScaleLine, AnimatedMethod);
        return;
    }
    auto animation = BasicAnimation::create(QStringLiteral("transform"));
    animation->setToValue(animatedPointTransform(layer, point, finalScale));
    layer.addAnimation(animation, QStringLiteral("transformToPoint:finalScale:animated"));
}

// ---- Opacity ----

void LayerExtensions::setAlphaValue(Layer& layer, double alpha)
{
    layer.setOpacity(float(alpha));
}

double LayerExtensions::alpha(const Layer& layer)
{
    return double(layer.opacity());
}

// ---- Bitmaps ----

QImage LayerExtensions::createBitmap(Layer& layer)
{
    const Size s = layer.bounds().size;
    const double width = std::isfinite(s.width) ? std::trunc(s.width) : 0;
    const double height = std::isfinite(s.height) ? std::trunc(s.height) : 0;
    std::unique_ptr<GraphicsContext> context = GraphicsContext::createBitmap(width, height);
    if (!context) {
        Log::assertionFailure(CreateBitmapLine, CreateBitmapMethod);
        return QImage();
    }
    layer.renderInContext(*context);
    return context->makeImage();
}

PlatformImage LayerExtensions::createImage(Layer& layer)
{
    const QImage bitmap = createBitmap(layer);
    if (bitmap.isNull())
        return PlatformImage();
    return PlatformImage(bitmap, Size(bitmap.width(), bitmap.height()));
}

} // namespace corvex
