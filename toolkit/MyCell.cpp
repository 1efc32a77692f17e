#include "toolkit/MyCell.h"

#include "model/Globals.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Path.h"

namespace corvex {

namespace {

Path outlinePath(const Rect& frame)
{
    Path path;
    path.addRoundedRect(frame.insetBy(0.5, 0.5), MyCell::CornerRadius, MyCell::CornerRadius);
    return path;
}

void strokeLine(GraphicsContext& context, Point from, Point to)
{
    context.beginPath();
    context.moveToPoint(from);
    context.addLineToPoint(to);
    context.strokePath();
}

void drawMagnifier(GraphicsContext& context, const Rect& button)
{
    const double cx = button.midX();
    const double cy = button.midY();
    context.saveGState();
    context.setStrokeColor(Globals::colorGray58());
    context.setLineWidth(1.5);
    context.strokeEllipseInRect(Rect(cx - 1.5 - 4.5, cy - 1.5 - 4.5, 9.0, 9.0));
    context.setLineWidth(2.0);
    context.setLineCap(LineCap::Round);
    strokeLine(context, Point(cx + 1.7, cy + 1.7), Point(cx + 5.0, cy + 5.0));
    context.restoreGState();
}

void drawClearButton(GraphicsContext& context, const Rect& button)
{
    const double cx = button.midX();
    const double cy = button.midY();
    context.saveGState();
    context.setFillColor(Globals::colorGray58());
    context.fillEllipseInRect(Rect(cx - 6.5, cy - 6.5, 13.0, 13.0));
    context.setStrokeColor(Globals::colorWhite());
    context.setLineWidth(1.5);
    context.setLineCap(LineCap::Round);
    strokeLine(context, Point(cx - 2.8, cy - 2.8), Point(cx + 2.8, cy + 2.8));
    strokeLine(context, Point(cx - 2.8, cy + 2.8), Point(cx + 2.8, cy - 2.8));
    context.restoreGState();
}

} // namespace

Rect MyCell::searchTextRectForBounds(const Rect& bounds)
{
    return Rect(bounds.origin.x + 28.0, bounds.origin.y + 3.0, bounds.size.width - 58.0,
                bounds.size.height - 6.0);
}

Rect MyCell::searchButtonRectForBounds(const Rect& bounds)
{
    return Rect(bounds.origin.x + 4.0, bounds.origin.y, 16.0, bounds.size.height);
}

Rect MyCell::cancelButtonRectForBounds(const Rect& bounds)
{
    return Rect(bounds.size.width - 20.0, bounds.origin.y, 16.0, bounds.size.height);
}

double MyCell::outlineWidth() const
{
    return showsEmptyLook() ? EmptyOutlineWidth : OutlineWidth;
}

PlatformColor MyCell::outlineColor() const
{
    if (showsEmptyLook())
        return Globals::colorWhite();
    return mStyle == 1 ? Globals::colorGray23() : Globals::colorGray58();
}

void MyCell::drawInteriorWithFrame(const Rect& frame, GraphicsContext& context) const
{
    context.saveGState();
    context.setFillColor(Globals::colorWhite());
    context.fillRect(frame);
    drawMagnifier(context, searchButtonRectForBounds(frame));
    if (!mStringValue.isEmpty())
        drawClearButton(context, cancelButtonRectForBounds(frame));
    context.restoreGState();
}

void MyCell::drawWithFrame(const Rect& frame, GraphicsContext& context, const View* view) const
{
    if (view == nullptr || view != mControlView)
        return;
    const Path outline = outlinePath(frame);
    context.saveGState();
    context.beginPath();
    context.addPath(outline);
    context.clip();
    drawInteriorWithFrame(frame, context);
    context.restoreGState();

    if (!mBezeled)
        return;
    context.saveGState();
    context.setStrokeColor(outlineColor());
    context.setLineWidth(outlineWidth());
    context.beginPath();
    context.addPath(outline);
    context.strokePath();
    context.restoreGState();
}

} // namespace corvex
