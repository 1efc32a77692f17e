#pragma once

#include <QPointF>

class QPainter;
class QTextLine;

namespace corvex {

// Colour glyphs for output that keeps only outlines. PDF output (a printer's too) and recorded
// pictures embed glyph outlines, and the colour emoji face holds bitmaps, which would be left
// out: after a line is drawn there, its colour glyphs are drawn again as pictures where the
// text puts them, rasterised at print resolution for the size they end up on the page.
class ColorGlyphPictures
{
public:
    // The resolution, in pixels per inch on the page, of the pictures.
    static constexpr double kPrintDpi = 300;

    // Draws `line`'s colour glyphs as pictures, as QTextLine::draw(painter, offset) would place
    // them, when the painter's output loses them; otherwise does nothing.
    static void drawAfterLine(QPainter& painter, const QTextLine& line, QPointF offset);
};

} // namespace corvex
