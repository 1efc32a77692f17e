#pragma once

namespace corvex {

// Text alignment with fixed numbers (2 centres).
enum class TextAlignment : int
{
    Left = 0,
    Right = 1,
    Center = 2,
    Justified = 3,
    Natural = 4, // left, or right for a right-to-left paragraph
};

// Line break modes with fixed numbers. The truncating modes set each paragraph on one line
// and replace what does not fit with an ellipsis.
enum class LineBreakMode : int
{
    WordWrap = 0, // at word boundaries; a word longer than the line breaks anywhere
    CharWrap = 1,
    Clipping = 2, // no wrapping: what passes the edge is cut off
    TruncatingHead = 3,
    TruncatingTail = 4,
    TruncatingMiddle = 5,
};

// The paragraph attributes of attributed text. The style of a paragraph is the one at its
// first character. Lengths are in points.
struct ParagraphStyle
{
    TextAlignment alignment = TextAlignment::Natural;
    LineBreakMode lineBreakMode = LineBreakMode::WordWrap;
    double lineSpacing = 0;        // added between one line and the next
    double paragraphSpacing = 0;   // added after a paragraph that another follows
    double lineHeightMultiple = 0; // multiplies the natural line height; 0 leaves it
    double minimumLineHeight = 0;  // 0: no minimum
    double maximumLineHeight = 0;  // 0: no maximum

    friend bool operator==(const ParagraphStyle&, const ParagraphStyle&) = default;
};

} // namespace corvex
