#pragma once

#include "platform/ui/View.h"

#include <functional>
#include <memory>

namespace corvex {

// A scroll bar of a ScrollView: a track with a knob whose position (doubleValue, 0 at the
// top or left, 1 at the bottom or right) and length (knobProportion, the visible part of
// the document) the scroll view sets. Dragging the knob or clicking the track moves the
// value and tells the owner (the action). Vertical when taller than wide. Scrollers are
// always drawn: legacy ones beside the content with a track, overlay ones over it, knob only.
// Main thread only.
class Scroller : public View
{
public:
    // Scroller styles.
    enum Style
    {
        StyleLegacy = 0,
        StyleOverlay = 1,
    };
    using Action = std::function<void(Scroller&)>;

    explicit Scroller(const Rect& frame = Rect());
    ~Scroller() override;
    static std::shared_ptr<Scroller> create(const Rect& frame = Rect());

    // The style scrollers of this class show in: overlay, the platform's default.
    static int preferredScrollerStyle();
    // The thickness of a scroller of the style.
    static double scrollerWidth(int style);

    // The style set on the scroller, else its class's preferred one.
    int scrollerStyle() const;
    // A negative style goes back to the class's preferred one.
    void setScrollerStyle(int style);

    bool isVertical() const;
    double doubleValue() const { return mValue; }
    // Clamped to 0..1.
    void setDoubleValue(double value);
    double knobProportion() const { return mProportion; }
    // Clamped to 0..1; 1 (everything visible) shows no knob.
    void setKnobProportion(double proportion);
    // Called when the user moved the value.
    void setAction(Action action) { mAction = std::move(action); }

    // The knob in the scroller's coordinates; empty when there is nothing to scroll.
    Rect knobRect() const;

    bool isFlipped() const override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;
    // The knob follows the pointer; a click in the track pages towards it.
    void mouseDown(const Event& event) override;
    void mouseDragged(const Event& event) override;
    void mouseUp(const Event& event) override;

protected:
    // The style of the scroller's class (preferredScrollerStyle of the final class).
    virtual int classScrollerStyle() const;

private:
    double trackLength() const;
    double knobLength() const;
    double along(Point point) const;
    void moveTo(double value);

    Action mAction;
    double mValue = 0;
    double mProportion = 1;
    double mGrabOffset = -1; // where the knob was taken, while dragging
    int mStyle = -1;
};

} // namespace corvex
