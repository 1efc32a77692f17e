#include "toolkit/BaseImageView.h"

#include "platform/gfx/GraphicsContext.h"

#include <algorithm>

namespace corvex {

BaseImageView::BaseImageView() = default;

BaseImageView::BaseImageView(const Rect& frame) : View(frame) {}

BaseImageView::~BaseImageView() = default;

std::shared_ptr<BaseImageView> BaseImageView::create()
{
    return make<BaseImageView>();
}

std::shared_ptr<BaseImageView> BaseImageView::create(const Rect& frame)
{
    return make<BaseImageView>(frame);
}

std::shared_ptr<BaseImageView> BaseImageView::createWithImage(const PlatformImage& image)
{
    auto view = std::make_shared<BaseImageView>();
    view->setImage(image);
    view->prepareBaseImageView();
    return view;
}

void BaseImageView::prepareBaseImageView()
{
    setEditable(false);
    unregisterDraggedTypes();
}

void BaseImageView::setImage(const PlatformImage& image)
{
    mImage = image;
    setNeedsDisplay(true);
}

void BaseImageView::setImageScaling(int scaling)
{
    if (scaling == mScaling)
        return;
    mScaling = scaling;
    setNeedsDisplay(true);
}

void BaseImageView::setImageAlignment(int alignment)
{
    if (alignment == mAlignment)
        return;
    mAlignment = alignment;
    setNeedsDisplay(true);
}

Rect BaseImageView::imageRect() const
{
    if (mImage.isNull())
        return Rect();
    const Rect b = bounds();
    const Size natural = mImage.size();
    if (natural.width <= 0 || natural.height <= 0 || b.size.width <= 0 || b.size.height <= 0)
        return Rect();
    if (mScaling == ScaleAxesIndependently)
        return b;

    Size drawn = natural;
    const double fit = std::min(b.size.width / natural.width, b.size.height / natural.height);
    if (mScaling == ScaleProportionallyUpOrDown || (mScaling == ScaleProportionallyDown && fit < 1))
        drawn = Size(natural.width * fit, natural.height * fit);

    // Horizontal: -1 left, 0 centre, 1 right; vertical: 1 top, 0 middle, -1 bottom (on screen).
    int horizontal = 0;
    int vertical = 0;
    switch (mAlignment) {
    case AlignTop:
        vertical = 1;
        break;
    case AlignTopLeft:
        vertical = 1;
        horizontal = -1;
        break;
    case AlignTopRight:
        vertical = 1;
        horizontal = 1;
        break;
    case AlignLeft:
        horizontal = -1;
        break;
    case AlignBottom:
        vertical = -1;
        break;
    case AlignBottomLeft:
        vertical = -1;
        horizontal = -1;
        break;
    case AlignBottomRight:
        vertical = -1;
        horizontal = 1;
        break;
    case AlignRight:
        horizontal = 1;
        break;
    default:
        break;
    }
    const double x = horizontal < 0   ? b.minX()
                     : horizontal > 0 ? b.maxX() - drawn.width
                                      : b.minX() + (b.size.width - drawn.width) / 2;
    // The screen's top is the smallest y in a flipped view, the largest otherwise.
    const int up = isFlipped() ? -vertical : vertical;
    const double y = up > 0   ? b.maxY() - drawn.height
                     : up < 0 ? b.minY()
                              : b.minY() + (b.size.height - drawn.height) / 2;
    return Rect(x, y, drawn.width, drawn.height);
}

Size BaseImageView::intrinsicContentSize() const
{
    return mImage.isNull() ? View::intrinsicContentSize() : mImage.size();
}

void BaseImageView::drawRect(const Rect&, GraphicsContext& context)
{
    const Rect target = imageRect();
    if (!target.isEmpty())
        mImage.drawInRect(context, target);
}

} // namespace corvex
