#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/ui/View.h"

#include <memory>

namespace corvex {

// The view of a ScrollView that shows part of the document view: its bounds origin is the
// scroll position in the document's coordinates. Flipped when the document is, so that the
// scroll position counts from the document's own origin. Optionally fills its background.
// Subclasses may constrain scrolling further (constrainBoundsRect).
//
// Magnification: at m the clip view shows frame size / m of the document (scaledBounds,
// in document units) drawn m times larger; its layer carries the scale and masks to its
// bounds. View conversions and hit testing below it stay unscaled, as for every layer
// transform. Main thread only.
class ClipView : public View
{
public:
    explicit ClipView(const Rect& frame = Rect());
    ~ClipView() override;
    static std::shared_ptr<ClipView> create(const Rect& frame = Rect());

    const std::shared_ptr<View>& documentView() const { return mDocumentView; }
    // Replaces the document view (null: none) and scrolls to the document's origin.
    void setDocumentView(const std::shared_ptr<View>& view);
    // The document view's frame; the clip view's bounds when there is none.
    Rect documentRect() const;
    // The visible part of the document, in its coordinates.
    Rect documentVisibleRect() const;

    // The nearest scroll position that keeps the view inside the document (at its origin when
    // the document is smaller): constrainBoundsRect's origin for the scaled bounds' size.
    virtual Point constrainScrollPoint(Point point) const;
    // The proposed visible rectangle (document units) moved inside the document.
    virtual Rect constrainBoundsRect(const Rect& proposed) const;

    // ---- Magnification ----
    double magnification() const { return mMagnification; }
    // A value that is not finite and above 0 is ignored.
    void setMagnification(double magnification);
    // The visible rectangle in document units: the bounds origin, frame size / magnification.
    Rect scaledBounds() const;
    // Scrolls to the constrained point; returns whether the position changed.
    bool scrollToPoint(Point point);

    bool drawsBackground() const { return mDrawsBackground; }
    void setDrawsBackground(bool draws);
    const PlatformColor& backgroundColor() const { return mBackgroundColor; }
    void setBackgroundColor(const PlatformColor& color);

    void setFrame(const Rect& frame) override;
    bool isFlipped() const override;
    bool isOpaque() const override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;
    bool drawsNothingNow() const override { return !mDrawsBackground; }
    void willRemoveSubview(View* subview) override;

private:
    // The scale and the scaled bounds on the layer, after every geometry change.
    void applyMagnification();

    std::shared_ptr<View> mDocumentView;
    double mMagnification = 1;
    bool mMagnified = false;
    PlatformColor mBackgroundColor = PlatformColor::white();
    bool mDrawsBackground = true;
};

} // namespace corvex
