#include "toolkit/ClipView.h"

#include "platform/gfx/AffineTransform.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Layer.h"

#include <algorithm>
#include <cmath>

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
    applyMagnification();
}

Rect ClipView::documentRect() const
{
    return mDocumentView ? mDocumentView->frame().standardized() : bounds();
}

Rect ClipView::documentVisibleRect() const
{
    if (!mDocumentView)
        return bounds();
    return mDocumentView->convertRectFromView(scaledBounds(), this).intersection(mDocumentView->bounds());
}

Point ClipView::constrainScrollPoint(Point point) const
{
    return constrainBoundsRect(Rect(point, scaledBounds().size)).origin;
}

Rect ClipView::constrainBoundsRect(const Rect& proposed) const
{
    const Rect document = documentRect();
    const Size size = proposed.size;
    const double maxX = std::max(document.minX(), document.maxX() - size.width);
    const double maxY = std::max(document.minY(), document.maxY() - size.height);
    return Rect(std::clamp(proposed.origin.x, document.minX(), maxX),
                std::clamp(proposed.origin.y, document.minY(), maxY), size.width, size.height);
}

bool ClipView::scrollToPoint(Point point)
{
    const Point constrained = constrainScrollPoint(point);
    if (constrained == bounds().origin)
        return false;
    setBoundsOrigin(constrained);
    applyMagnification();
    return true;
}

void ClipView::setMagnification(double magnification)
{
    if (!std::isfinite(magnification) || magnification <= 0 || magnification == mMagnification)
        return;
    mMagnification = magnification;
    setBoundsOrigin(constrainScrollPoint(bounds().origin));
    applyMagnification();
    setNeedsDisplay(true);
}

Rect ClipView::scaledBounds() const
{
    const Size size = frame().size;
    return Rect(bounds().origin, Size(size.width / mMagnification, size.height / mMagnification));
}

void ClipView::setFrame(const Rect& frame)
{
    View::setFrame(frame);
    applyMagnification();
}

void ClipView::applyMagnification()
{
    // Unmagnified clip views keep the plain geometry the view gave their layer.
    if (mMagnification == 1 && !mMagnified)
        return;
    mMagnified = true;
    const std::shared_ptr<Layer>& backing = layer();
    if (!backing)
        return;
    // The layer maps p to position + m (p - origin): document units in, window points out.
    backing->setBounds(scaledBounds());
    backing->setAffineTransform(AffineTransform::makeScale(mMagnification, mMagnification));
    backing->setMasksToBounds(true);
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
