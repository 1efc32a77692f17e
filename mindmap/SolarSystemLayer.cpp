#include "mindmap/SolarSystemLayer.h"

#include "platform/gfx/GraphicsContext.h"
#include <cmath>

namespace corvex {

SolarSystemLayer::SolarSystemLayer()
{
    // The ring changes radius every frame of a drill and covers little of its large square:
    // stroked into the target each frame instead of redrawing and compositing a cache of the
    // whole square (25 MB at scale 2).
    setDrawsDirectly(true);
    setNeedsDisplay();
}

SolarSystemLayer::SolarSystemLayer(const SolarSystemLayer& other) : BaseLayer(other)
{
    setRadius(other.mRadius);
}

SolarSystemLayer::~SolarSystemLayer() = default;

std::shared_ptr<SolarSystemLayer> SolarSystemLayer::create()
{
    return make<SolarSystemLayer>();
}

QString SolarSystemLayer::className() const
{
    return QStringLiteral("SolarSystemLayer");
}

void SolarSystemLayer::setRadius(double radius)
{
    mRadius = radius;
    setNeedsDisplay();
}

void SolarSystemLayer::drawInContext(GraphicsContext& context)
{
    BaseLayer::drawInContext(context);
    if (!std::isfinite(mRadius) || mRadius < 0)
        return;
    const Rect b = bounds();
    context.saveGState();
    context.setStrokeColor(PlatformColor::lightGray());
    context.setLineWidth(double(0.6f));
    context.strokeCircle(Point(b.midX(), b.midY()), mRadius);
    context.restoreGState();
}

} // namespace corvex
