#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/ui/View.h"

#include <QString>
#include <memory>

namespace corvex {

// One of the progress HUD's two texts: a non-editable text view with a transparent
// background that shows its text in one font and colour, centred across its width from the
// top. Its frame leaves 5 points on either side of the text, the padding of a text view's
// line; text wider than that wraps, and lines that do not fit in the height are left out.
// Clicks pass through it to the HUD. Flipped, as text views are. Main thread only.
class ProgressHUDLabel : public View
{
public:
    // Points left free on either side of the text.
    static constexpr double LinePadding = 5;

    explicit ProgressHUDLabel(const Rect& frame = Rect());
    ~ProgressHUDLabel() override;
    static std::shared_ptr<ProgressHUDLabel> create(const Rect& frame = Rect());

    QString className() const override;

    const QString& text() const { return mText; }
    void setText(const QString& text);
    const PlatformFont& font() const { return mFont; }
    void setFont(const PlatformFont& font);
    const PlatformColor& textColor() const { return mTextColor; }
    void setTextColor(const PlatformColor& color);

    bool isFlipped() const override;
    View* hitTest(Point pointInSuperview) override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    QString mText;
    PlatformFont mFont;
    PlatformColor mTextColor = PlatformColor::black();
};

} // namespace corvex
