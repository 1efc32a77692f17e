#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Rect.h"

#include <QString>
#include <QtGlobal>

namespace corvex {

class GraphicsContext;
class View;

// The cell of the SearchTextField: the rounded search field's geometry and drawing. The
// text itself is the field's line edit, placed in the text rectangle; the cell draws what
// lies around and behind it.
//
// Geometry, for bounds (x, y, w, h):
//   text rectangle           (x + 28, y + 3, w - 58, h - 6)
//   search button rectangle  (x + 4, y, 16, h)
//   cancel button rectangle  (w - 20, y, 16, h)
//
// Drawing (drawWithFrame), in the control view's flipped coordinates (y down):
//  1. Clipped to the frame inset by 0.5 as a rounded rectangle of corner radius 11 (the
//     radius is limited to half the shorter side), the field's own face (drawInterior):
//     - a white fill;
//     - the magnifier, centred in the search button rectangle at (cx, cy): a circle of
//       radius 4.5 around (cx - 1.5, cy - 1.5) stroked 1.5 wide, and a handle from
//       (cx + 1.7, cy + 1.7) to (cx + 5, cy + 5) stroked 2 wide with round caps, both in
//       colorGray58;
//     - the clear button, only while the text is not empty, centred in the cancel button
//       rectangle at (cx, cy): a disc of radius 6.5 in colorGray58 with a white cross, the
//       two diagonals from (cx - 2.8, cy - 2.8) to (cx + 2.8, cy + 2.8) and from
//       (cx - 2.8, cy + 2.8) to (cx + 2.8, cy - 2.8), stroked 1.5 wide with round caps.
//  2. When bezeled, the outline of the same rounded rectangle: 2 wide in white while the
//     field neither shows first-responder status nor holds text; otherwise 1 wide in
//     colorGray23 (style 1) or colorGray58 (any other style).
// A cell asked to draw in a view other than its control view draws nothing.
//
// The control view keeps the string value and the first-responder status up to date.
// Main thread only.
class MyCell
{
public:
    static constexpr double CornerRadius = 11.0;
    static constexpr double EmptyOutlineWidth = 2.0;
    static constexpr double OutlineWidth = 1.0;

    MyCell() = default;

    // 0 or 1 (1 draws the darker outline).
    quint64 style() const { return mStyle; }
    void setStyle(quint64 style) { mStyle = style; }
    // On by default, as for a search field.
    bool isBezeled() const { return mBezeled; }
    void setBezeled(bool bezeled) { mBezeled = bezeled; }
    bool showsFirstResponder() const { return mShowsFirstResponder; }
    void setShowsFirstResponder(bool shows) { mShowsFirstResponder = shows; }
    const QString& stringValue() const { return mStringValue; }
    void setStringValue(const QString& value) { mStringValue = value; }
    // Not owned.
    const View* controlView() const { return mControlView; }
    void setControlView(const View* view) { mControlView = view; }

    static Rect searchTextRectForBounds(const Rect& bounds);
    static Rect searchButtonRectForBounds(const Rect& bounds);
    static Rect cancelButtonRectForBounds(const Rect& bounds);

    // The outline the cell draws now: its width and colour.
    double outlineWidth() const;
    PlatformColor outlineColor() const;

    void drawWithFrame(const Rect& frame, GraphicsContext& context, const View* view) const;
    // Step 1's face, without the clip.
    void drawInteriorWithFrame(const Rect& frame, GraphicsContext& context) const;

private:
    bool showsEmptyLook() const { return !mShowsFirstResponder && mStringValue.isEmpty(); }

    QString mStringValue;
    const View* mControlView = nullptr;
    quint64 mStyle = 0;
    bool mBezeled = true;
    bool mShowsFirstResponder = false;
};

} // namespace corvex
