#pragma once

#include "platform/gfx/Rect.h"

#include <vector>

namespace corvex {

// The arithmetic of main-window placement, in screen coordinates with the origin at the
// bottom left (as the saved "windowFrame" strings are). Pure functions, so that the rules are
// tested without a display.
namespace WindowGeometry {

inline constexpr double MinWidth = 640;
inline constexpr double MaxWidth = 1172;
inline constexpr double MinHeight = 520;
inline constexpr double MaxHeight = 760;
inline constexpr double VerticalOffset = 26;
inline constexpr double VisibleHeightReserve = 60;
inline constexpr double MinContentSide = 520;
// A new window cascades only when the main window's top edge is nearer the screen's top.
inline constexpr double CascadeTopDistance = 300;
inline constexpr double CascadeStep = 30;
inline constexpr double CascadeMargin = 5;

// The content rectangle of a new main window on a screen whose visible frame is `visible`
// (zero without a screen): centred on the visible size, its origin not added.
Rect preparedContentRect(const Rect& visible);

// Where a new window of frame `newFrame` goes when the main window has frame `mainFrame` on
// a screen of full frame `screen`: 30 right and 30 down from the main window, held 5 inside
// the right and bottom edges and below the top, when the main window's top edge is less than
// 300 below the screen's top; otherwise `newFrame` unchanged.
Rect cascadedFrame(const Rect& screen, const Rect& mainFrame, const Rect& newFrame);

// The frame a restored window takes: the saved one, unless it is empty or meets none of the
// screens' visible areas (a monitor gone, a smaller screen), when the prepared frame stays.
Rect restoredFrame(const Rect& saved, const Rect& prepared, const std::vector<Rect>& visibleAreas);

} // namespace WindowGeometry

} // namespace corvex
