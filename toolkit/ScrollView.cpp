#include "toolkit/ScrollView.h"

#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Event.h"
#include "toolkit/ClipView.h"
#include "toolkit/Scroller.h"

#include <algorithm>
#include <cmath>

namespace corvex {

ScrollView::ScrollView(const Rect& frame) : View(frame), mClipView(ClipView::create()) {}

ScrollView::~ScrollView() = default;

std::shared_ptr<ScrollView> ScrollView::create(const Rect& frame)
{
    return make<ScrollView>(frame);
}

void ScrollView::installParts()
{
    setContentView(mClipView);
}

// ---- Parts ----

void ScrollView::setContentView(const std::shared_ptr<ClipView>& clipView)
{
    if (!clipView)
        return;
    const std::shared_ptr<View> document = documentView();
    if (mClipView && mClipView != clipView) {
        mClipView->setDocumentView(nullptr);
        mClipView->removeFromSuperview();
    }
    mClipView = clipView;
    // Below the scrollers, which may lie over it.
    addSubview(mClipView, Ordering::Below, nullptr);
    if (document)
        mClipView->setDocumentView(document);
    tile();
}

std::shared_ptr<View> ScrollView::documentView() const
{
    return mClipView ? mClipView->documentView() : nullptr;
}

void ScrollView::setDocumentView(const std::shared_ptr<View>& view)
{
    if (mClipView->superview() != this)
        setContentView(mClipView);
    mClipView->setDocumentView(view);
    tile();
}

void ScrollView::installScroller(std::shared_ptr<Scroller>& slot, const std::shared_ptr<Scroller>& scroller)
{
    if (slot == scroller)
        return;
    if (slot) {
        slot->setAction({});
        slot->removeFromSuperview();
    }
    slot = scroller;
    if (slot) {
        // The scroller may outlive the scroll view (someone keeps it): ask for it each time.
        std::weak_ptr<View> weak = weak_from_this();
        slot->setAction([weak](Scroller& s) {
            if (const auto self = std::static_pointer_cast<ScrollView>(weak.lock()))
                self->scrollerMoved(s);
        });
        slot->setHidden(true); // tile shows it where wanted
    }
    tile();
}

void ScrollView::setVerticalScroller(const std::shared_ptr<Scroller>& scroller)
{
    installScroller(mVerticalScroller, scroller);
}

void ScrollView::setHorizontalScroller(const std::shared_ptr<Scroller>& scroller)
{
    installScroller(mHorizontalScroller, scroller);
}

// ---- Settings ----

void ScrollView::setHasVerticalScroller(bool has)
{
    mHasVertical = has;
    if (has && !mVerticalScroller)
        setVerticalScroller(
            Scroller::create(Rect(0, 0, Scroller::scrollerWidth(Scroller::StyleLegacy), 100)));
    tile();
}

void ScrollView::setHasHorizontalScroller(bool has)
{
    mHasHorizontal = has;
    if (has && !mHorizontalScroller)
        setHorizontalScroller(
            Scroller::create(Rect(0, 0, 100, Scroller::scrollerWidth(Scroller::StyleLegacy))));
    tile();
}

void ScrollView::setAutohidesScrollers(bool autohides)
{
    mAutohides = autohides;
    tile();
}

int ScrollView::scrollerStyle() const
{
    if (mStyle >= 0)
        return mStyle;
    if (mVerticalScroller)
        return mVerticalScroller->scrollerStyle();
    return Scroller::preferredScrollerStyle();
}

void ScrollView::setScrollerStyle(int style)
{
    mStyle = style < 0 ? -1 : style;
    for (const auto& scroller : {mVerticalScroller, mHorizontalScroller}) {
        if (scroller)
            scroller->setScrollerStyle(mStyle);
    }
    tile();
}

void ScrollView::setBorderType(int type)
{
    mBorderType = type;
    setNeedsDisplay(true);
    tile();
}

bool ScrollView::drawsBackground() const
{
    return mClipView->drawsBackground();
}

void ScrollView::setDrawsBackground(bool draws)
{
    mClipView->setDrawsBackground(draws);
}

PlatformColor ScrollView::backgroundColor() const
{
    return mClipView->backgroundColor();
}

void ScrollView::setBackgroundColor(const PlatformColor& color)
{
    mClipView->setBackgroundColor(color);
}

// ---- Magnification ----

double ScrollView::magnification() const
{
    return mClipView->magnification();
}

void ScrollView::setMagnification(double magnification)
{
    if (!std::isfinite(magnification) || magnification <= 0)
        return;
    const double clamped = std::clamp(magnification, mMinMagnification, mMaxMagnification);
    const Rect before = mClipView->scaledBounds();
    const Point middle(before.midX(), before.midY());
    mClipView->setMagnification(clamped);
    tile();
    const Size after = mClipView->scaledBounds().size;
    scrollClipViewToPoint(Point(middle.x - after.width / 2, middle.y - after.height / 2));
}

void ScrollView::setMinMagnification(double minimum)
{
    if (!std::isfinite(minimum) || minimum <= 0)
        return;
    mMinMagnification = minimum;
    mMaxMagnification = std::max(mMaxMagnification, minimum);
    setMagnification(magnification());
}

void ScrollView::setMaxMagnification(double maximum)
{
    if (!std::isfinite(maximum) || maximum <= 0)
        return;
    mMaxMagnification = maximum;
    mMinMagnification = std::min(mMinMagnification, maximum);
    setMagnification(magnification());
}

// ---- Geometry ----

Size ScrollView::contentSize() const
{
    return mClipView->frame().size;
}

Rect ScrollView::documentVisibleRect() const
{
    return mClipView->documentVisibleRect();
}

bool ScrollView::isVerticalScrollerShown() const
{
    return mVerticalScroller && mVerticalScroller->superview() == this && !mVerticalScroller->isHidden();
}

bool ScrollView::isHorizontalScrollerShown() const
{
    return mHorizontalScroller && mHorizontalScroller->superview() == this &&
           !mHorizontalScroller->isHidden();
}

bool ScrollView::documentFits(bool vertical) const
{
    const Rect document = mClipView->documentRect();
    const Size visible = mClipView->scaledBounds().size;
    return vertical ? document.size.height <= visible.height : document.size.width <= visible.width;
}

void ScrollView::tile()
{
    if (mTiling || !mClipView)
        return;
    mTiling = true;
    const Rect b = bounds();
    const double border = mBorderType == NoBorder ? 0 : 1;
    const Rect inner(b.origin.x + border, b.origin.y + border, std::max(0.0, b.size.width - 2 * border),
                     std::max(0.0, b.size.height - 2 * border));
    const bool legacy = scrollerStyle() == Scroller::StyleLegacy;
    const double width = Scroller::scrollerWidth(scrollerStyle());

    // Whether each scroller shows: autohiding looks at the room left by the other one.
    bool showVertical = mHasVertical && mVerticalScroller;
    bool showHorizontal = mHasHorizontal && mHorizontalScroller;
    if (mAutohides) {
        mClipView->setFrame(inner);
        showVertical = showVertical && !documentFits(true);
        if (legacy && showVertical)
            mClipView->setFrameSize(Size(std::max(0.0, inner.size.width - width), inner.size.height));
        showHorizontal = showHorizontal && !documentFits(false);
        if (legacy && showHorizontal && !showVertical) {
            mClipView->setFrameSize(Size(inner.size.width, std::max(0.0, inner.size.height - width)));
            showVertical = mHasVertical && mVerticalScroller && !documentFits(true);
        }
    }
    const double rightRoom = legacy && showVertical ? width : 0;
    const double bottomRoom = legacy && showHorizontal ? width : 0;
    const double clipWidth = std::max(0.0, inner.size.width - rightRoom);
    const double clipHeight = std::max(0.0, inner.size.height - bottomRoom);
    // The horizontal scroller lies along the visual bottom: the largest y of a flipped view.
    const double clipY = isFlipped() ? inner.origin.y : inner.origin.y + bottomRoom;
    mClipView->setFrame(Rect(inner.origin.x, clipY, clipWidth, clipHeight));

    const double verticalLength =
        legacy ? clipHeight : std::max(0.0, inner.size.height - (showHorizontal ? width : 0));
    if (mVerticalScroller) {
        mVerticalScroller->setHidden(!showVertical);
        if (showVertical) {
            if (mVerticalScroller->superview() != this)
                addSubview(mVerticalScroller);
            const double y = isFlipped() ? inner.origin.y : inner.maxY() - verticalLength;
            mVerticalScroller->setFrame(Rect(inner.maxX() - width, y, width, verticalLength));
        }
    }
    if (mHorizontalScroller) {
        mHorizontalScroller->setHidden(!showHorizontal);
        if (showHorizontal) {
            if (mHorizontalScroller->superview() != this)
                addSubview(mHorizontalScroller);
            const double length =
                legacy ? clipWidth : std::max(0.0, inner.size.width - (showVertical ? width : 0));
            const double y = isFlipped() ? inner.maxY() - width : inner.origin.y;
            mHorizontalScroller->setFrame(Rect(inner.origin.x, y, length, width));
        }
    }
    // A resize may leave the position outside the document.
    mClipView->scrollToPoint(mClipView->bounds().origin);
    mTiling = false;
    reflectScrolledClipView();
}

void ScrollView::reflectScrolledClipView()
{
    const Rect document = mClipView->documentRect();
    const Rect visible = mClipView->scaledBounds();
    const auto reflect = [](Scroller* scroller, double docStart, double docLength, double visStart,
                            double visLength, bool fromEnd) {
        if (!scroller)
            return;
        const double range = docLength - visLength;
        scroller->setKnobProportion(docLength > 0 ? visLength / docLength : 1);
        double value = range > 0 ? (visStart - docStart) / range : 0;
        if (fromEnd)
            value = 1 - value;
        scroller->setDoubleValue(value);
    };
    // The scroller's value counts from the visual top: the document's end when it is not
    // flipped (its origin at the bottom).
    const bool documentUp = !mClipView->isFlipped();
    reflect(mVerticalScroller.get(), document.minY(), document.size.height, visible.origin.y,
            visible.size.height, documentUp);
    reflect(mHorizontalScroller.get(), document.minX(), document.size.width, visible.origin.x,
            visible.size.width, false);
}

void ScrollView::scrollClipViewToPoint(Point point)
{
    mClipView->scrollToPoint(point);
    reflectScrolledClipView();
}

void ScrollView::scrollerMoved(Scroller& scroller)
{
    const Rect document = mClipView->documentRect();
    const Rect visible = mClipView->scaledBounds();
    Point target = visible.origin;
    if (&scroller == mVerticalScroller.get()) {
        const double range = std::max(0.0, document.size.height - visible.size.height);
        const double value = mClipView->isFlipped() ? scroller.doubleValue() : 1 - scroller.doubleValue();
        target.y = document.minY() + value * range;
    } else {
        const double range = std::max(0.0, document.size.width - visible.size.width);
        target.x = document.minX() + scroller.doubleValue() * range;
    }
    mClipView->scrollToPoint(target);
    reflectScrolledClipView();
}

// ---- View ----

void ScrollView::layout()
{
    View::layout();
    tile();
}

void ScrollView::resizeSubviewsWithOldSize(Size)
{
    tile();
}

void ScrollView::scrollWheel(const Event& event)
{
    const double dx =
        event.hasPreciseScrollingDeltas() ? event.scrollingDeltaX() : event.deltaX() * mLineScroll;
    const double dy =
        event.hasPreciseScrollingDeltas() ? event.scrollingDeltaY() : event.deltaY() * mLineScroll;
    // A positive y delta shows what lies above: towards the document's origin when it is
    // flipped, away from it otherwise; a positive x delta shows what lies to the left.
    // Deltas are in window points: fewer document units when magnified.
    const double m = mClipView->magnification();
    const Point origin = mClipView->bounds().origin;
    const Point target(origin.x - dx / m, mClipView->isFlipped() ? origin.y - dy / m : origin.y + dy / m);
    if (!mClipView->scrollToPoint(target)) {
        View::scrollWheel(event);
        return;
    }
    reflectScrolledClipView();
}

bool ScrollView::drawsNothingNow() const
{
    return mBorderType == NoBorder;
}

void ScrollView::drawRect(const Rect&, GraphicsContext& context)
{
    if (mBorderType == NoBorder)
        return;
    context.saveGState();
    context.setStrokeColor(PlatformColor::deviceWhite(mBorderType == LineBorder ? 0 : 0.6));
    context.strokeRectWithWidth(bounds().insetBy(0.5, 0.5), 1);
    context.restoreGState();
}

} // namespace corvex
