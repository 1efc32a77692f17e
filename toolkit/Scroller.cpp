#include "toolkit/Scroller.h"

#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Path.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/ui/Event.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

constexpr double LegacyWidth = 15;
constexpr double OverlayWidth = 11;
constexpr double MinimumKnob = 18;
constexpr double KnobInset = 3;

double clamp01(double value)
{
    return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
}

} // namespace

Scroller::Scroller(const Rect& frame) : View(frame) {}

Scroller::~Scroller() = default;

std::shared_ptr<Scroller> Scroller::create(const Rect& frame)
{
    return std::make_shared<Scroller>(frame);
}

int Scroller::preferredScrollerStyle()
{
    return StyleOverlay;
}

double Scroller::scrollerWidth(int style)
{
    return style == StyleLegacy ? LegacyWidth : OverlayWidth;
}

int Scroller::classScrollerStyle() const
{
    return preferredScrollerStyle();
}

int Scroller::scrollerStyle() const
{
    return mStyle >= 0 ? mStyle : classScrollerStyle();
}

void Scroller::setScrollerStyle(int style)
{
    mStyle = style < 0 ? -1 : style;
    setNeedsDisplay(true);
}

bool Scroller::isVertical() const
{
    return frame().size.height >= frame().size.width;
}

void Scroller::setDoubleValue(double value)
{
    const double v = clamp01(value);
    if (v == mValue)
        return;
    mValue = v;
    setNeedsDisplay(true);
}

void Scroller::setKnobProportion(double proportion)
{
    const double p = clamp01(proportion);
    if (p == mProportion)
        return;
    mProportion = p;
    setNeedsDisplay(true);
}

double Scroller::trackLength() const
{
    const Size s = bounds().size;
    return std::max(0.0, (isVertical() ? s.height : s.width) - 2 * KnobInset);
}

double Scroller::knobLength() const
{
    return std::min(trackLength(), std::max(MinimumKnob, mProportion * trackLength()));
}

Rect Scroller::knobRect() const
{
    if (mProportion >= 1 || trackLength() <= 0)
        return Rect();
    const Rect b = bounds();
    const double start = KnobInset + mValue * (trackLength() - knobLength());
    const double thickness = std::max(0.0, (isVertical() ? b.size.width : b.size.height) - 2 * KnobInset);
    if (isVertical())
        return Rect(b.origin.x + KnobInset, b.origin.y + start, thickness, knobLength());
    return Rect(b.origin.x + start, b.origin.y + KnobInset, knobLength(), thickness);
}

bool Scroller::isFlipped() const
{
    return true;
}

void Scroller::drawRect(const Rect&, GraphicsContext& context)
{
    const Rect b = bounds();
    context.saveGState();
    if (scrollerStyle() == StyleLegacy) {
        // A permanently visible track with a hairline towards the content.
        context.setFillColor(PlatformColor::deviceWhite(0.98));
        context.fillRect(b);
        context.setFillColor(PlatformColor::deviceWhite(0.88));
        context.fillRect(isVertical() ? Rect(b.minX(), b.minY(), 1, b.size.height)
                                      : Rect(b.minX(), b.minY(), b.size.width, 1));
    }
    const Rect knob = knobRect();
    if (!knob.isEmpty()) {
        const double radius = std::min(knob.size.width, knob.size.height) / 2;
        context.setFillColor(PlatformColor::deviceWhite(0, scrollerStyle() == StyleLegacy ? 0.35 : 0.45));
        Path path;
        path.addRoundedRect(knob, radius, radius);
        context.beginPath();
        context.addPath(path);
        context.fillPath();
    }
    context.restoreGState();
}

double Scroller::along(Point point) const
{
    return isVertical() ? point.y - bounds().origin.y : point.x - bounds().origin.x;
}

void Scroller::moveTo(double value)
{
    const double old = mValue;
    setDoubleValue(value);
    if (mValue != old && mAction)
        mAction(*this);
}

void Scroller::mouseDown(const Event& event)
{
    const Rect knob = knobRect();
    if (knob.isEmpty())
        return;
    const Point p = convertPointFromView(event.locationInWindow(), nullptr);
    const double at = along(p);
    const double knobStart = along(knob.origin);
    const double room = trackLength() - knobLength();
    if (at >= knobStart && at < knobStart + knobLength()) {
        mGrabOffset = at - knobStart;
        return;
    }
    // A page towards the click: the visible part's length, which is knobProportion of the
    // document, against the (1 - knobProportion) the value spans.
    if (room > 0)
        moveTo(mValue + (at < knobStart ? -1 : 1) * mProportion / (1 - mProportion));
}

void Scroller::mouseDragged(const Event& event)
{
    if (mGrabOffset < 0)
        return;
    const double room = trackLength() - knobLength();
    if (room <= 0)
        return;
    const Point p = convertPointFromView(event.locationInWindow(), nullptr);
    moveTo((along(p) - mGrabOffset - KnobInset) / room);
}

void Scroller::mouseUp(const Event&)
{
    mGrabOffset = -1;
}

} // namespace corvex
