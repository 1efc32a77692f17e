#include "toolkit/ProgressHUDLabel.h"

#include "platform/gfx/AttributedString.h"
#include "platform/gfx/GraphicsContext.h"

namespace corvex {

ProgressHUDLabel::ProgressHUDLabel(const Rect& frame) : View(frame) {}

ProgressHUDLabel::~ProgressHUDLabel() = default;

std::shared_ptr<ProgressHUDLabel> ProgressHUDLabel::create(const Rect& frame)
{
    return std::make_shared<ProgressHUDLabel>(frame);
}

QString ProgressHUDLabel::className() const
{
    return QStringLiteral("ProgressHUDLabel");
}

void ProgressHUDLabel::setText(const QString& text)
{
    mText = text;
    setNeedsDisplay();
}

void ProgressHUDLabel::setFont(const PlatformFont& font)
{
    mFont = font;
    setNeedsDisplay();
}

void ProgressHUDLabel::setTextColor(const PlatformColor& color)
{
    mTextColor = color;
    setNeedsDisplay();
}

bool ProgressHUDLabel::isFlipped() const
{
    return true;
}

View* ProgressHUDLabel::hitTest(Point)
{
    return nullptr;
}

void ProgressHUDLabel::drawRect(const Rect&, GraphicsContext& context)
{
    if (mText.isEmpty())
        return;
    TextAttributes attributes;
    attributes.font = mFont;
    attributes.foregroundColor = mTextColor;
    attributes.paragraphStyle.alignment = TextAlignment::Center;
    const AttributedString string(mText, attributes);
    const Rect b = bounds();
    const Size size = string.size();
    // One line that fits is set unwrapped in the middle, so that rounding never breaks a
    // text whose frame was made from its own width.
    if (size.width <= b.width() - 2 * LinePadding + 0.5) {
        string.drawAtPoint(context, Point(b.minX() + (b.width() - size.width) / 2, b.minY()));
        return;
    }
    string.drawInRect(context,
                      Rect(b.minX() + LinePadding, b.minY(), b.width() - 2 * LinePadding, b.height()));
}

} // namespace corvex
