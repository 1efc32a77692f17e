#include "toolkit/ReadOnlyTextView.h"

#include "platform/gfx/GraphicsContext.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// Taller than any text: the view's bounds clip what is drawn.
constexpr double kReadOnlyUnboundedHeight = 1.0e6;

} // namespace

ReadOnlyTextView::ReadOnlyTextView() : ReadOnlyTextView(Rect()) {}

ReadOnlyTextView::ReadOnlyTextView(const Rect& frame) : View(frame)
{
    mContainerSize.width = std::max(frame.size.width, 0.0);
}

ReadOnlyTextView::~ReadOnlyTextView() = default;

std::shared_ptr<ReadOnlyTextView> ReadOnlyTextView::create(const Rect& frame)
{
    return std::make_shared<ReadOnlyTextView>(frame);
}

QString ReadOnlyTextView::className() const
{
    return QStringLiteral("ReadOnlyTextView");
}

void ReadOnlyTextView::setTextStorage(const AttributedString& text)
{
    mText = text;
    setNeedsDisplay(true);
}

void ReadOnlyTextView::setTextContainerInset(Size inset)
{
    mInset = inset;
    setNeedsDisplay(true);
}

void ReadOnlyTextView::setTextContainerSize(Size size)
{
    mContainerSize = size;
    setNeedsDisplay(true);
}

void ReadOnlyTextView::setFrame(const Rect& frame)
{
    const bool resized = !(frame.size == View::frame().size);
    View::setFrame(frame);
    if (resized) {
        mContainerSize.width = std::max(frame.size.width - 2 * mInset.width, 0.0);
        setNeedsDisplay(true);
    }
}

double ReadOnlyTextView::layoutWidth() const
{
    const double width = mContainerSize.width;
    if (!(width > 0) || !std::isfinite(width) || width >= UnlimitedExtent)
        return 0;
    return width + FitSlack;
}

Rect ReadOnlyTextView::usedRect() const
{
    if (mText.isEmpty())
        return Rect();
    const double width = layoutWidth();
    const double natural = mText.size().width;
    const Rect laidOut = mText.boundingRectWithSize(Size(width, UnlimitedExtent));
    // A text that has to wrap spans the container.
    const bool wraps = width > 0 && natural > width;
    return Rect(0, 0, wraps ? mContainerSize.width : natural, laidOut.height());
}

bool ReadOnlyTextView::isFlipped() const
{
    return true;
}

void ReadOnlyTextView::drawRect(const Rect&, GraphicsContext& context)
{
    if (mText.isEmpty())
        return;
    const double limit = layoutWidth();
    const double width = limit > 0 ? limit : mText.size().width + FitSlack;
    context.saveGState();
    context.clipToRect(bounds());
    mText.drawInRect(context, Rect(mInset.width, mInset.height, width, kReadOnlyUnboundedHeight));
    context.restoreGState();
}

} // namespace corvex
