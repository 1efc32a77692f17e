#include "shell/WindowGeometry.h"

#include <algorithm>

namespace corvex::WindowGeometry {

Rect preparedContentRect(const Rect& visible)
{
    const double width = std::max(MinWidth, std::min(MaxWidth, visible.size.width));
    const double height =
        std::max(MinHeight, std::min(MaxHeight, visible.size.height - VisibleHeightReserve));
    return Rect(visible.size.width / 2 - width / 2, visible.size.height / 2 - height / 2 + VerticalOffset,
                width, height);
}

Rect cascadedFrame(const Rect& screen, const Rect& mainFrame, const Rect& newFrame)
{
    const double mainTop = mainFrame.origin.y + mainFrame.size.height;
    if (screen.size.height - mainTop >= CascadeTopDistance)
        return newFrame;
    Rect frame = newFrame;
    frame.origin.x =
        std::min(mainFrame.origin.x + CascadeStep, screen.size.width - newFrame.size.width - CascadeMargin);
    frame.origin.y = std::min(std::max(mainTop - newFrame.size.height - CascadeStep, CascadeMargin),
                              screen.size.height - newFrame.size.height);
    return frame;
}

Rect restoredFrame(const Rect& saved, const Rect& prepared, const std::vector<Rect>& visibleAreas)
{
    if (saved.size.width <= 0 || saved.size.height <= 0)
        return prepared;
    for (const Rect& area : visibleAreas) {
        const double left = std::max(saved.origin.x, area.origin.x);
        const double right = std::min(saved.origin.x + saved.size.width, area.origin.x + area.size.width);
        const double bottom = std::max(saved.origin.y, area.origin.y);
        const double top = std::min(saved.origin.y + saved.size.height, area.origin.y + area.size.height);
        if (right > left && top > bottom)
            return saved;
    }
    return prepared;
}

} // namespace corvex::WindowGeometry
