#include "toolkit/RoundProgressView.h"

#include "platform/gfx/GraphicsContext.h"

#include <numbers>

namespace corvex {

RoundProgressView::RoundProgressView(const Rect& frame) : View(frame) {}

RoundProgressView::~RoundProgressView() = default;

std::shared_ptr<RoundProgressView> RoundProgressView::create(const Rect& frame)
{
    return std::make_shared<RoundProgressView>(frame);
}

QString RoundProgressView::className() const
{
    return QStringLiteral("RoundProgressView");
}

void RoundProgressView::setProgress(float progress)
{
    mProgress = progress;
    setNeedsDisplay();
}

void RoundProgressView::setProgressTintColor(const PlatformColor& color)
{
    mProgressTintColor = color;
    setNeedsDisplay();
}

void RoundProgressView::setBackgroundTintColor(const PlatformColor& color)
{
    mBackgroundTintColor = color;
    setNeedsDisplay();
}

void RoundProgressView::setAnnular(bool annular)
{
    mAnnular = annular;
    setNeedsDisplay();
}

void RoundProgressView::drawRect(const Rect&, GraphicsContext& context)
{
    const Rect b = bounds();
    const Point center(b.minX() + b.width() / 2, b.minY() + b.height() / 2);
    const double top = std::numbers::pi / 2;
    const double end = top - 2 * std::numbers::pi * double(mProgress);
    context.saveGState();
    if (mAnnular) {
        const double lineWidth = 5;
        const double radius = (b.width() - lineWidth) / 2;
        context.setLineWidth(lineWidth);
        context.setLineCap(LineCap::Round);
        context.setStrokeColor(mBackgroundTintColor);
        context.beginPath();
        context.addEllipseInRect(Rect(center.x - radius, center.y - radius, 2 * radius, 2 * radius));
        context.strokePath();
        if (mProgress > 0) {
            context.setStrokeColor(mProgressTintColor);
            context.beginPath();
            context.addArc(center, radius, top, end, true);
            context.strokePath();
        }
    } else {
        const Rect circle = b.insetBy(2, 2);
        context.setFillColor(mBackgroundTintColor);
        context.setStrokeColor(mProgressTintColor);
        context.setLineWidth(2);
        context.beginPath();
        context.addEllipseInRect(circle);
        context.drawPath(PathDrawingMode::FillStroke);
        if (mProgress > 0) {
            context.setFillColor(PlatformColor::white());
            context.beginPath();
            context.moveToPoint(center);
            context.addArc(center, (b.width() - 4) / 2, top, end, true);
            context.closePath();
            context.fillPath();
        }
    }
    context.restoreGState();
}

} // namespace corvex
