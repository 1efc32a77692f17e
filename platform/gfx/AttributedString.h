#pragma once

#include "platform/gfx/ParagraphStyle.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/gfx/Rect.h"

#include <QString>
#include <memory>
#include <vector>

class QTextLayout;

namespace corvex {

class GraphicsContext;

// The attributes of one run of attributed text. Text without attributes of its own uses
// these defaults: Helvetica 12, black, the default paragraph style, no kern.
struct TextAttributes
{
    PlatformFont font;
    PlatformColor foregroundColor = PlatformColor::black();
    ParagraphStyle paragraphStyle;
    double kern = 0; // points added after every character

    friend bool operator==(const TextAttributes&, const TextAttributes&) = default;
};

// Text with attribute runs, measured and drawn by the rules below. Positions and lengths
// are in UTF-16 units (QString indices); ranges are clamped to the text.
//
// Layout: paragraphs end at line feed, carriage return (CR LF counts once) and the
// paragraph separator; U+2028 breaks a line inside a paragraph. A terminator at the very
// end starts no further paragraph. A line is ascent + descent + leading of its fonts high,
// then the paragraph style's multiple and limits apply (the extra height goes above the
// baseline). Sizes are fractional points, not rounded.
//
// Drawing is upright on the device: drawInRect and drawAtPoint look at the direction the
// context's current transform gives to user-space y. In a y-up space the rectangle's maximum
// y is the top of the text; in a flipped (y-down) one its minimum y is.
class AttributedString
{
public:
    // Options of boundingRectWithSize, bits with fixed values.
    static constexpr unsigned UsesLineFragmentOrigin = 1u << 0;
    static constexpr unsigned UsesFontLeading = 1u << 1;

    struct Run
    {
        qsizetype start = 0;
        qsizetype length = 0;
        TextAttributes attributes;
    };

    AttributedString() = default;
    explicit AttributedString(const QString& text, const TextAttributes& attributes = TextAttributes());
    // One font and one colour over the whole text.
    AttributedString(const QString& text, const PlatformFont& font, const PlatformColor& color);

    const QString& string() const { return mText; }
    qsizetype length() const { return mText.size(); }
    bool isEmpty() const { return mText.isEmpty(); }

    void append(const QString& text, const TextAttributes& attributes);
    void append(const AttributedString& other);

    // Attribute changes over [start, start + length). setAttributes replaces all attributes;
    // the others change one and keep the rest.
    void setAttributes(const TextAttributes& attributes, qsizetype start, qsizetype length);
    void setFont(const PlatformFont& font, qsizetype start, qsizetype length);
    void setForegroundColor(const PlatformColor& color, qsizetype start, qsizetype length);
    void setParagraphStyle(const ParagraphStyle& style, qsizetype start, qsizetype length);
    void setKern(double kern, qsizetype start, qsizetype length);

    // The attributes at a position (clamped to the text; the defaults for an empty text),
    // and optionally the range of the run that holds it.
    const TextAttributes& attributesAt(qsizetype index, qsizetype* runStart = nullptr,
                                       qsizetype* runLength = nullptr) const;
    // Maximal runs in text order, covering the text without gaps.
    const std::vector<Run>& runs() const { return mRuns; }

    // The size of the text laid out without a width limit: the widest line by the height of
    // all lines. An empty text is (0, 0).
    Size size() const;
    // With UsesLineFragmentOrigin: the rectangle (0, 0, used width, used height) of the text
    // wrapped to size.width (no limit when it is 0 or less); the height is never cut to
    // size.height. Without it: the first line only, relative to its baseline with y up
    // (origin.y = -descent). UsesFontLeading counts the fonts' leading in line heights
    // (drawing always does).
    Rect boundingRectWithSize(Size size, unsigned options = UsesLineFragmentOrigin | UsesFontLeading) const;

    // Unwrapped, in the box (point, size()): its top left in a flipped space, its bottom left
    // in a y-up one.
    void drawAtPoint(GraphicsContext& context, Point point) const;
    // Wrapped to the rectangle's width and clipped to it; lines that do not fit in its
    // height whole are left out.
    void drawInRect(GraphicsContext& context, const Rect& rect) const;

    // A QTextLayout over [start, end) (one paragraph: pass no terminators) carrying the runs'
    // fonts, kern and colours, measured in points. For typesetting of one's own (text in a
    // shape): the caller sets the options and breaks the lines.
    std::unique_ptr<QTextLayout> createTextLayout(qsizetype start, qsizetype end) const;

    friend bool operator==(const AttributedString& a, const AttributedString& b);

private:
    template <class Change> void changeRange(qsizetype start, qsizetype length, Change change);
    void mergeRuns();

    QString mText;
    std::vector<Run> mRuns;
};

} // namespace corvex
