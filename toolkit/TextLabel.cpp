#include "toolkit/TextLabel.h"

#include "platform/gfx/GraphicsContext.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// Taller than any label: the clip to the bounds cuts the text, so that a line only partly
// inside still shows its visible part.
constexpr double kLabelUnboundedHeight = 1.0e6;

// The text with the wrapping modes turned into clipping; truncating modes stay.
AttributedString singleLine(const AttributedString& text)
{
    AttributedString result = text;
    for (const auto& run : text.runs()) {
        const LineBreakMode mode = run.attributes.paragraphStyle.lineBreakMode;
        if (mode != LineBreakMode::WordWrap && mode != LineBreakMode::CharWrap)
            continue;
        ParagraphStyle style = run.attributes.paragraphStyle;
        style.lineBreakMode = LineBreakMode::Clipping;
        result.setParagraphStyle(style, run.start, run.length);
    }
    return result;
}

} // namespace

TextLabel::TextLabel() : TextLabel(Rect()) {}

TextLabel::TextLabel(const Rect& frame) : View(frame), mFont(PlatformFont::systemFont(13.0)) {}

TextLabel::~TextLabel() = default;

std::shared_ptr<TextLabel> TextLabel::create(const Rect& frame)
{
    return std::make_shared<TextLabel>(frame);
}

QString TextLabel::className() const
{
    return QStringLiteral("TextLabel");
}

TextAttributes TextLabel::labelAttributes() const
{
    TextAttributes attributes;
    attributes.font = mFont;
    attributes.foregroundColor = mTextColor;
    attributes.paragraphStyle.alignment = mAlignment;
    return attributes;
}

void TextLabel::textChanged()
{
    setNeedsDisplay(true);
}

void TextLabel::setText(const QString& text)
{
    mText = AttributedString(text, labelAttributes());
    textChanged();
}

void TextLabel::setAttributedText(const AttributedString& text)
{
    mText = text;
    if (!mText.isEmpty()) {
        const TextAttributes& first = mText.attributesAt(0);
        mFont = first.font;
        mTextColor = first.foregroundColor;
        mAlignment = first.paragraphStyle.alignment;
    }
    textChanged();
}

void TextLabel::setFont(const PlatformFont& font)
{
    mFont = font;
    mText.setFont(font, 0, mText.length());
    textChanged();
}

void TextLabel::setFontSize(double size)
{
    setFont(mFont.withSize(size));
}

void TextLabel::setTextColor(const PlatformColor& color)
{
    mTextColor = color;
    mText.setForegroundColor(color, 0, mText.length());
    textChanged();
}

void TextLabel::setAlignment(TextAlignment alignment)
{
    mAlignment = alignment;
    // A copy of the runs: setParagraphStyle below rewrites mText's own.
    const std::vector<AttributedString::Run> runs = mText.runs();
    for (const auto& run : runs) {
        ParagraphStyle style = run.attributes.paragraphStyle;
        style.alignment = alignment;
        mText.setParagraphStyle(style, run.start, run.length);
    }
    textChanged();
}

void TextLabel::setWraps(bool wraps)
{
    mWraps = wraps;
    textChanged();
}

void TextLabel::setDrawsBackground(bool draws)
{
    mDrawsBackground = draws;
    setNeedsDisplay(true);
}

void TextLabel::setBackgroundColor(const PlatformColor& color)
{
    mBackgroundColor = color;
    setNeedsDisplay(true);
}

Size TextLabel::intrinsicContentSize() const
{
    const Size text = mText.isEmpty() ? Size(0, mFont.lineHeight()) : mText.size();
    return Size(std::ceil(text.width + 2 * TextPadding), std::ceil(text.height));
}

void TextLabel::sizeToFit()
{
    setFrameSize(intrinsicContentSize());
}

bool TextLabel::acceptsFirstResponder() const
{
    return false;
}

View* TextLabel::hitTest(Point)
{
    return nullptr;
}

bool TextLabel::isFlipped() const
{
    return true;
}

bool TextLabel::isOpaque() const
{
    return mDrawsBackground && mBackgroundColor.alphaComponent() >= 1.0 && !mBackgroundColor.isPattern();
}

void TextLabel::drawRect(const Rect&, GraphicsContext& context)
{
    const Rect area = bounds();
    context.saveGState();
    if (mDrawsBackground) {
        context.setFillColor(mBackgroundColor);
        context.fillRect(area);
    }
    const double width = area.width() - 2 * TextPadding;
    if (!mText.isEmpty() && width > 0) {
        context.clipToRect(area);
        const AttributedString shown = mWraps ? mText : singleLine(mText);
        shown.drawInRect(context, Rect(area.minX() + TextPadding, area.minY(), width, kLabelUnboundedHeight));
    }
    context.restoreGState();
}

} // namespace corvex
