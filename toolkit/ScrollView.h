#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/ui/View.h"

#include <memory>
#include <utility>

namespace corvex {

class ClipView;
class Scroller;

// A view that shows part of a larger document view through a ClipView and scrolls it with
// the wheel and with its scroll bars. Legacy scrollers take their room beside the content;
// overlay ones lie over it; either is always drawn while shown. The scroll view is the
// scrollers' owner: it sets their values from the clip view (reflectScrolledClipView) and
// scrolls when the user moves them.
//
// Magnification scales what the clip view shows (ClipView::setMagnification) within the
// limits, 0.25 to 4.0 unless set; a change keeps the middle of the visible part in place.
//
// Layout (tile) runs on every size change and layout pass; a document view that changes
// its size tells the scroll view with reflectScrolledClipView (or setNeedsLayout). A wheel
// event that scrolls nothing travels on up the responder chain. Main thread only.
class ScrollView : public View
{
public:
    // Border types, fixed numbers: setBorderType takes them as plain ints.
    enum BorderType
    {
        NoBorder = 0,
        LineBorder = 1,
        BezelBorder = 2,
        GrooveBorder = 3,
    };

    // Without its clip view until installParts: use the factories.
    explicit ScrollView(const Rect& frame = Rect());
    ~ScrollView() override;
    static std::shared_ptr<ScrollView> create(const Rect& frame = Rect());
    // T constructed from `args`, then its parts installed.
    template <class T = ScrollView, class... Args> static std::shared_ptr<T> make(Args&&... args)
    {
        auto view = std::make_shared<T>(std::forward<Args>(args)...);
        static_cast<ScrollView&>(*view).installParts();
        return view;
    }

    // ---- Parts ----
    const std::shared_ptr<ClipView>& contentView() const { return mClipView; }
    // Replaces the clip view; the document view moves into the new one.
    void setContentView(const std::shared_ptr<ClipView>& clipView);
    std::shared_ptr<View> documentView() const;
    void setDocumentView(const std::shared_ptr<View>& view);
    const std::shared_ptr<Scroller>& verticalScroller() const { return mVerticalScroller; }
    void setVerticalScroller(const std::shared_ptr<Scroller>& scroller);
    const std::shared_ptr<Scroller>& horizontalScroller() const { return mHorizontalScroller; }
    void setHorizontalScroller(const std::shared_ptr<Scroller>& scroller);

    // ---- Settings ----
    bool hasVerticalScroller() const { return mHasVertical; }
    void setHasVerticalScroller(bool has);
    bool hasHorizontalScroller() const { return mHasHorizontal; }
    void setHasHorizontalScroller(bool has);
    // Hides a scroller while the document fits along its direction.
    bool autohidesScrollers() const { return mAutohides; }
    void setAutohidesScrollers(bool autohides);
    // The style set on the scroll view, else the vertical scroller's.
    int scrollerStyle() const;
    void setScrollerStyle(int style);
    int borderType() const { return mBorderType; }
    void setBorderType(int type);
    // The clip view's background.
    bool drawsBackground() const;
    void setDrawsBackground(bool draws);
    PlatformColor backgroundColor() const;
    void setBackgroundColor(const PlatformColor& color);
    // Points per line of a wheel without precise deltas.
    double lineScroll() const { return mLineScroll; }
    void setLineScroll(double points) { mLineScroll = points; }

    // ---- Magnification ----
    static constexpr double DefaultMinMagnification = 0.25;
    static constexpr double DefaultMaxMagnification = 4.0;
    bool allowsMagnification() const { return mAllowsMagnification; }
    void setAllowsMagnification(bool allows) { mAllowsMagnification = allows; }
    double magnification() const;
    // Clamped to the limits; a value that is not finite and above 0 is ignored.
    void setMagnification(double magnification);
    double minMagnification() const { return mMinMagnification; }
    double maxMagnification() const { return mMaxMagnification; }
    // Each ignored unless finite and above 0; the other limit follows when they would cross.
    // The current magnification is clamped into the new range.
    void setMinMagnification(double minimum);
    void setMaxMagnification(double maximum);

    // ---- Geometry ----
    // The clip view's size.
    Size contentSize() const;
    Rect documentVisibleRect() const;
    bool isVerticalScrollerShown() const;
    bool isHorizontalScrollerShown() const;
    // Places the clip view and the scrollers.
    virtual void tile();
    // Sets the scrollers from the clip view's position and the document's size.
    virtual void reflectScrolledClipView();
    // Scrolls the clip view (constrained to the document) and updates the scrollers.
    void scrollClipViewToPoint(Point point);

    // ---- View ----
    void layout() override;
    void resizeSubviewsWithOldSize(Size oldSize) override;
    void scrollWheel(const Event& event) override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;
    bool drawsNothingNow() const override;

protected:
    // Adds the clip view (after construction, so that the final class's flippedness counts).
    void installParts();

private:
    void installScroller(std::shared_ptr<Scroller>& slot, const std::shared_ptr<Scroller>& scroller);
    void scrollerMoved(Scroller& scroller);
    bool documentFits(bool vertical) const;

    std::shared_ptr<ClipView> mClipView;
    std::shared_ptr<Scroller> mVerticalScroller;
    std::shared_ptr<Scroller> mHorizontalScroller;
    double mLineScroll = 10;
    int mStyle = -1;
    int mBorderType = NoBorder;
    bool mHasVertical = false;
    bool mHasHorizontal = false;
    bool mAutohides = false;
    bool mTiling = false;
    bool mAllowsMagnification = false;
    double mMinMagnification = DefaultMinMagnification;
    double mMaxMagnification = DefaultMaxMagnification;
};

} // namespace corvex
