#pragma once

#include "platform/gfx/PlatformColor.h"
#include "toolkit/ButtonView.h"

#include <QString>
#include <memory>

namespace corvex {

class View;

// What the rows of the icon tab share: their background pattern, their full-size button
// with an arrow or cross image 26 by 26 at one edge, and the press report of a row to its
// table (the row's centre in the table's coordinates).
class CellPattern
{
public:
    CellPattern() = delete;
    // "row_background_pattern_ipad" as a pattern colour.
    static PlatformColor rowBackground();
    // A button whose parts are the image (normal) and the active image, each 26 by 26 at
    // the left or right edge, centred vertically.
    static std::shared_ptr<ButtonView> rowButton(const QString& image, const QString& activeImage,
                                                 bool atRight);
    // The row's centre converted from its superview into `table`.
    static Point centreIn(const View& row, const View& table);
};

} // namespace corvex
