#include "toolkit/BarProgressView.h"

#include "platform/gfx/GraphicsContext.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvex {

BarProgressView::BarProgressView(const Rect& frame) : View(frame) {}

BarProgressView::~BarProgressView() = default;

std::shared_ptr<BarProgressView> BarProgressView::create(const Rect& frame)
{
    return std::make_shared<BarProgressView>(frame);
}

QString BarProgressView::className() const
{
    return QStringLiteral("BarProgressView");
}

void BarProgressView::setProgress(float progress)
{
    mProgress = progress;
    setNeedsDisplay();
}

void BarProgressView::setLineColor(const PlatformColor& color)
{
    mLineColor = color;
    setNeedsDisplay();
}

void BarProgressView::setProgressRemainingColor(const PlatformColor& color)
{
    mProgressRemainingColor = color;
    setNeedsDisplay();
}

void BarProgressView::setProgressColor(const PlatformColor& color)
{
    mProgressColor = color;
    setNeedsDisplay();
}

void BarProgressView::drawRect(const Rect&, GraphicsContext& context)
{
    const Rect b = bounds();
    const double w = b.width();
    const double h = b.height();
    const double pi = std::numbers::pi;
    context.saveGState();
    context.translateCTM(b.minX(), b.minY());

    // The outline: a capsule inset by 2, its ends rounded with radius R.
    const double R = h / 2 - 2;
    context.setLineWidth(2);
    context.setFillColor(mProgressRemainingColor);
    context.setStrokeColor(mLineColor);
    context.beginPath();
    context.moveToPoint(Point(2, h / 2));
    context.addArcToPoint(Point(2, 2), Point(R + 2, 2), R);
    context.addLineToPoint(Point(w - R - 2, 2));
    context.addArcToPoint(Point(w - 2, 2), Point(w - 2, h / 2), R);
    context.addArcToPoint(Point(w - 2, h - 2), Point(w - R - 2, h - 2), R);
    context.addLineToPoint(Point(R + 2, h - 2));
    context.addArcToPoint(Point(2, h - 2), Point(2, h / 2), R);
    context.closePath();
    context.drawPath(PathDrawingMode::FillStroke);

    // The progress: a capsule inset by 4 with end radius r, filled up to x.
    const double r = R - 2;
    const double x = double(mProgress) * w;
    const double leftCenter = r + 4;
    const double rightCenter = w - r - 4;
    const double mid = h / 2;
    if (x > 0 && r > 0) {
        context.setFillColor(mProgressColor);
        context.beginPath();
        // The whole left end: from its top round the left side to its bottom.
        context.moveToPoint(Point(leftCenter, mid + r));
        context.addArc(Point(leftCenter, mid), r, pi / 2, 3 * pi / 2, false);
        if (x >= leftCenter && x <= rightCenter) {
            context.addLineToPoint(Point(x, mid - r));
            context.addLineToPoint(Point(x, mid + r));
        } else if (x > rightCenter) {
            // The right end up to the chord at x: the arc from its bottom to the angle whose
            // cosine puts it at x, down the chord, and on round to its top.
            const double angle = std::acos(std::clamp((x - rightCenter) / r, -1.0, 1.0));
            context.addLineToPoint(Point(rightCenter, mid - r));
            context.addArc(Point(rightCenter, mid), r, -pi / 2, -angle, false);
            context.addLineToPoint(Point(rightCenter + r * std::cos(angle), mid + r * std::sin(angle)));
            context.addArc(Point(rightCenter, mid), r, angle, pi / 2, false);
        }
        context.closePath();
        context.fillPath();
    }
    context.restoreGState();
}

} // namespace corvex
