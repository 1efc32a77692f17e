#pragma once

#include "platform/gfx/AttributedString.h"

#include <QTextLayout>
#include <memory>

namespace corvex {

class GraphicsContext;

// One line of text on a printed page: the first line of a string that fits a width (the rest
// is dropped), or the whole first paragraph unwrapped, drawn with its baseline at a point.
// The page's user space may be y-up or y-down: glyphs always stand upright.
class PageTextLine
{
public:
    // The first line break of the string's first paragraph within `width` points; a width of
    // 0 or less sets the paragraph on one line. An empty string gives no line.
    PageTextLine(const AttributedString& text, double width);
    ~PageTextLine();
    PageTextLine(const PageTextLine&) = delete;
    PageTextLine& operator=(const PageTextLine&) = delete;

    bool isEmpty() const { return !mLayout; }
    // The line's text in the string, from its start.
    qsizetype length() const;
    double width() const;
    double ascent() const;
    double descent() const;

    void drawAtBaseline(GraphicsContext& context, Point origin) const;

    // Sets a layout's fonts to skip shaping where it only makes ligatures (Latin, Greek and
    // Cyrillic text, digits and punctuation); Arabic, Hebrew, Hangul, emoji sequences and any
    // other script that needs its shaping keep it. Qt's PDF output maps ligature glyphs to no
    // text, so a printed "fi" would be lost to search and copy. Call before laying out.
    static void avoidLigatures(QTextLayout& layout);

    // Draws a laid-out line with its baseline starting at `origin`, upright in either
    // direction of user-space y.
    static void drawLine(GraphicsContext& context, const QTextLine& line, Point origin);

private:
    std::unique_ptr<QTextLayout> mLayout;
};

} // namespace corvex
