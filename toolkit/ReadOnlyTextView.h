#pragma once

#include "platform/gfx/AttributedString.h"
#include "platform/ui/View.h"

#include <memory>

namespace corvex {

// The platform's text view in its non-editable, non-selectable form: attributed text (the
// text storage) laid out in one text container and drawn with no background. TextView
// hosts one.
//
// Geometry, as the platform's text view with a line fragment padding of 0: the container
// starts at textContainerInset from the top-left corner; its width follows the frame (frame
// width minus the inset on both sides) whenever the frame's size changes, and may be set
// directly afterwards. A container width of 0 or less, or UnlimitedExtent, lays the text out
// without wrapping. Flipped (y down).
//
// Used rectangle: (0, 0, width, height) of the laid-out text in container coordinates,
// without the inset. A text that has to wrap uses the container's whole width (the platform
// keeps the whitespace at a wrap on its line); otherwise the width is its widest line. A
// line that overshoots the container by no more than FitSlack (single-precision rounding of
// a width measured before) is taken to fit and does not wrap. Main thread only.
class ReadOnlyTextView : public View
{
public:
    // The largest single-precision value: the platform's "no limit" for container sizes.
    static constexpr double UnlimitedExtent = 3.4028234663852886e38;
    static constexpr double FitSlack = 1.0 / 64.0;

    ReadOnlyTextView();
    explicit ReadOnlyTextView(const Rect& frame);
    ~ReadOnlyTextView() override;
    static std::shared_ptr<ReadOnlyTextView> create(const Rect& frame = Rect());

    QString className() const override;

    const AttributedString& textStorage() const { return mText; }
    void setTextStorage(const AttributedString& text);

    Size textContainerInset() const { return mInset; }
    void setTextContainerInset(Size inset);
    Size textContainerSize() const { return mContainerSize; }
    void setTextContainerSize(Size size);

    // Lays the text out in the container; see above.
    Rect usedRect() const;

    // A size change makes the container's width track the frame.
    void setFrame(const Rect& frame) override;
    bool isFlipped() const override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    // The width the text is laid out in; 0 for no limit.
    double layoutWidth() const;

    AttributedString mText;
    Size mInset;
    Size mContainerSize = Size(0, UnlimitedExtent);
};

} // namespace corvex
