#pragma once

#include "platform/gfx/AttributedString.h"
#include "platform/gfx/Path.h"
#include "platform/gfx/Rect.h"

#include <QtGlobal>
#include <memory>
#include <vector>

class QTextLayout;

namespace corvex {

class GraphicsContext;

// One line placed by TextFrame::typeset. All values in the frame's line-origin space: y up,
// origin at the bottom-left corner of the shape's bounding box.
struct TextFrameLine
{
    Point origin;     // start of the baseline (x already centred in the line's chord)
    double width = 0; // typographic width of the line's glyphs
    double ascent = 0;
    double descent = 0;  // positive, below the baseline
    qsizetype start = 0; // range of the source string the line shows
    qsizetype length = 0;
};

// Text set inside a closed shape.
//
// Lines are broken by the text layout's own rules (at word boundaries, anywhere inside a word
// wider than the line). Paragraphs end at line feed, carriage return (CR LF counts once) and
// U+2029; U+2028 breaks a line inside a paragraph. A line's range includes the break that ends
// it, so the placed ranges follow one another from the start of the text.
//
// Vertical placement: the first line's ascent touches the top of the shape's bounding box.
// Each line box is its natural height (ascent + descent + leading) under the paragraph style's
// multiple and limits, with the baseline its descent above the box's bottom (extra height, or
// the part cut off by a maximum, is taken above the baseline, as AttributedString does); the
// next box starts the style's line spacing below. The band of a line is [baseline - descent,
// baseline + ascent]; its room is the part of the band's width that the shape covers at every
// sampled height of the band (for a convex shape, the narrowest chord). A line whose first
// grapheme does not fit its room moves down one box without taking text; the first band that
// leaves the shape's bounding box ends the frame.
//
// Cost: text beyond what the shape can hold is never shaped, whatever the string's length.
class TextFrame
{
public:
    // Lays `text` into the closed `shape` (given in y-up coordinates) line by line from the
    // top: each line as high and as far apart as the paragraph style gives (minimum/maximum
    // line height and line spacing), as wide as the shape's narrowest horizontal chord across
    // the line's band, centred in it. Lines that do not fit are dropped (no ellipsis, no
    // smaller font). Safe on any thread (one frame per thread).
    static TextFrame typeset(const AttributedString& text, const Path& shape);

    TextFrame();
    ~TextFrame();
    TextFrame(TextFrame&&) noexcept;
    TextFrame& operator=(TextFrame&&) noexcept;
    TextFrame(const TextFrame&) = delete;
    TextFrame& operator=(const TextFrame&) = delete;

    const std::vector<TextFrameLine>& lines() const;
    Rect shapeBounds() const; // the shape's bounding box, y-up
    // Draws the placed lines into a y-up context (the caller has flipped it), glyphs upright,
    // each line at shapeBounds().origin + line.origin, in the string's colours and fonts.
    void draw(GraphicsContext& context) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The vertical centring rule of a typeset block (positive moves up): moves the block toward
// `desiredCenter`, never away from it, never past `lowerBound`/`upperBound`. 0 for no lines.
double textFrameCentringOffset(const TextFrame& frame, double desiredCenter, double lowerBound,
                               double upperBound);

} // namespace corvex
