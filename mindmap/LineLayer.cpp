#include "mindmap/LineLayer.h"

#include "graphics/Geometry.h"
#include "model/Globals.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/Transaction.h"

namespace corvex {

LineLayer::LineLayer(Point from, Point to, bool usesDash)
    : mAngle(Geometry::angleFrom(from, to)), mLineLen(kLineLength), mUsesDash(usesDash)
{
    setBounds(Rect(0, 0, double(mLineLen), 4));
    setAnchorPoint(Point(0, 0.5));
    setPosition(Point(0, 0));
    transformToLineFrom(from, to);
    setContentsScale(Globals::screenScale());
    setNeedsDisplay();
}

LineLayer::LineLayer(const LineLayer& other)
    : Layer(other), mAngle(other.mAngle), mLineLen(other.mLineLen), mUsesDash(other.mUsesDash)
{}

LineLayer::~LineLayer() = default;

std::shared_ptr<LineLayer> LineLayer::create(Point from, Point to, bool usesDash)
{
    return std::make_shared<LineLayer>(from, to, usesDash);
}

QString LineLayer::className() const
{
    return QStringLiteral("LineLayer");
}

void LineLayer::transformToLineFrom(Point from, Point to)
{
    const float s = Geometry::distanceFrom(from, to) / mLineLen;
    const float a = Geometry::angleFrom(from, to);
    // Each step applies before the ones already there: scale, then turn, then move.
    setTransform(Transform3D::identity()
                     .translate(from.x, from.y, 0)
                     .rotate(double(a), 0, 0, 1)
                     .scale(double(s), double(s), double(s)));
}

void LineLayer::animateToLineFrom(Point from, Point to, bool immediate)
{
    Q_UNUSED(immediate);
    Transaction::begin();
    Transaction::setDisableActions(true);
    transformToLineFrom(from, to);
    Transaction::commit();
}

void LineLayer::drawInContext(GraphicsContext& context)
{
    Layer::drawInContext(context);
    context.saveGState();
    if (mUsesDash)
        context.setLineDash(0, {2, 2});
    // Flat caps: the dashes and the ends are exactly as long as given.
    context.setLineCap(LineCap::Butt);
    context.setLineWidth(1.0);
    context.setStrokeColor(PlatformColor::lightGray());
    const Point points[2] = {Point(10, 2), Point(double(mLineLen) - 10, 2)};
    context.strokeLineSegments(points, 2);
    context.restoreGState();
}

} // namespace corvex
