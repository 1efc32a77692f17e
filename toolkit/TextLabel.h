#pragma once

#include "platform/gfx/AttributedString.h"
#include "platform/gfx/ParagraphStyle.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/View.h"

#include <QString>
#include <memory>

namespace corvex {

// A label: text drawn in the view that never takes events. It never becomes first
// responder and its hit test finds nothing, so a click on a label inside a button reaches
// the button. Not bezeled, not bordered, not editable, not selectable, no background unless
// asked for.
//
// The text is an attributed string. The label's font, text colour and alignment are the
// attributes setText gives a plain string; setFont, setFontSize, setTextColor and
// setAlignment also apply to the whole current text, attributed or not. setAttributedText
// keeps the string's own attributes and takes the label's font, colour and alignment from
// its first character, as the platform's text field does.
//
// Drawing: the text starts TextPadding points from the left edge (the platform field cell's
// inset) at the top of the bounds, one line per paragraph unless wrapping is on, clipped to
// the bounds; the line break modes that truncate are kept. Flipped (y down). Main thread only.
class TextLabel : public View
{
public:
    // Left and right of the text.
    static constexpr double TextPadding = 2.0;

    TextLabel();
    explicit TextLabel(const Rect& frame);
    ~TextLabel() override;
    static std::shared_ptr<TextLabel> create(const Rect& frame = Rect());

    QString className() const override;

    // ---- Text ----
    // The plain string.
    QString text() const { return mText.string(); }
    // The string with the label's font, text colour and alignment.
    void setText(const QString& text);
    const AttributedString& attributedText() const { return mText; }
    void setAttributedText(const AttributedString& text);
    // The platform text field's names for attributedText / setAttributedText.
    const AttributedString& attributedStringValue() const { return mText; }
    void setAttributedStringValue(const AttributedString& text) { setAttributedText(text); }

    // ---- Attributes ----
    // The system font of 13 points until set.
    const PlatformFont& font() const { return mFont; }
    void setFont(const PlatformFont& font);
    double fontSize() const { return mFont.pointSize(); }
    // The same face at the new size.
    void setFontSize(double size);
    // Black until set.
    const PlatformColor& textColor() const { return mTextColor; }
    void setTextColor(const PlatformColor& color);
    // Natural until set.
    TextAlignment alignment() const { return mAlignment; }
    void setAlignment(TextAlignment alignment);
    // Off: each paragraph is one line, cut at the edge. On: lines wrap at the text's width.
    bool wraps() const { return mWraps; }
    void setWraps(bool wraps);
    bool drawsBackground() const { return mDrawsBackground; }
    void setDrawsBackground(bool draws);
    // Clear until set; used only while drawsBackground is on.
    const PlatformColor& backgroundColor() const { return mBackgroundColor; }
    void setBackgroundColor(const PlatformColor& color);

    // ---- Size ----
    // The text's unwrapped size plus the padding on both sides, rounded up to whole points;
    // an empty label is one line of its font high.
    Size intrinsicContentSize() const override;
    // Keeps the origin; the frame size becomes intrinsicContentSize.
    void sizeToFit() override;

    // ---- Events ----
    bool acceptsFirstResponder() const override;
    // Nothing, wherever the point is.
    View* hitTest(Point pointInSuperview) override;

    bool isFlipped() const override;
    bool isOpaque() const override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    // The label's attributes for text given as a plain string.
    TextAttributes labelAttributes() const;
    void textChanged();

    AttributedString mText;
    PlatformFont mFont;
    PlatformColor mTextColor = PlatformColor::black();
    PlatformColor mBackgroundColor = PlatformColor::clear();
    TextAlignment mAlignment = TextAlignment::Natural;
    bool mWraps = false;
    bool mDrawsBackground = false;
};

} // namespace corvex
