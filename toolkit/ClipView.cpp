#include "toolkit/ClipView.h"

#include "platform/gfx/GraphicsContext.h"

#include <algorithm>

namespace corvex {

ClipView::ClipView(const Rect& frame) : View(frame)
{
    setNeedsDisplay(true);
}

ClipView::~ClipView() = default;

std::shared_ptr<ClipView> ClipView::create(const Rect& frame)
{
    return std::make_shared<ClipView>(frame);
}

void ClipView::setDocumentView(const std::shared_ptr<View>& view)
{
    if (view == mDocumentView)
        return;
    if (mDocumentView)
        mDocumentView->removeFromSuperview();
    mDocumentView = view;
    // The clip view's flippedness follows the new document.
    updateLayerGeometry();
    if (view) {
        addSubview(view);
        view->updateLayerGeometry();
    }
    setBoundsOrigin(constrainScrollPoint(documentRect().origin));
}

Rect ClipView::documentRect() const
{
    return mDocumentView ? mDocumentView->frame().standardized() : bounds();
}

Rect ClipView::documentVisibleRect() const
{
    if (!mDocumentView)
        return bounds();
    return mDocumentView->convertRectFromView(bounds(), this).intersection(mDocumentView->bounds());
}

Point ClipView::constrainScrollPoint(Point point) const
{
    const Rect document = documentRect();
    const Size size = bounds().size;
    const double maxX = std::max(document.minX(), document.maxX() - size.width);
    const double maxY = std::max(document.minY(), document.maxY() - size.height);
    return Point(std::clamp(point.x, document.minX(), maxX), std::clamp(point.y, document.minY(), maxY));
}

bool ClipView::scrollToPoint(Point point)
{
    const Point constrained = constrainScrollPoint(point);
    if (constrained == bounds().origin)
        return false;
    setBoundsOrigin(constrained);
    return true;
}

void ClipView::setDrawsBackground(bool draws)
{
    mDrawsBackground = draws;
    setNeedsDisplay(true);
}

void ClipView::setBackgroundColor(const PlatformColor& color)
{
    mBackgroundColor = color;
    setNeedsDisplay(true);
}

bool ClipView::isFlipped() const
{
    return mDocumentView && mDocumentView->isFlipped();
}

bool ClipView::isOpaque() const
{
    return mDrawsBackground && !mBackgroundColor.isPattern() && mBackgroundColor.alphaComponent() >= 1;
}

void ClipView::drawRect(const Rect&, GraphicsContext& context)
{
    if (!mDrawsBackground)
        return;
    context.saveGState();
    context.setFillColor(mBackgroundColor);
    context.fillRect(bounds());
    context.restoreGState();
}

void ClipView::willRemoveSubview(View* subview)
{
    if (mDocumentView && subview == mDocumentView.get()) {
        mDocumentView.reset();
        updateLayerGeometry();
    }
}

} // namespace corvex
