#pragma once

#include "platform/gfx/Point.h"

#include <QPointF>
#include <memory>
#include <optional>

namespace corvex {

class Menu;
class MenuItem;
class Window;

// Pops up menus modally and answers the chosen item. The application uses QtMenuRunner;
// tests install a ScriptedMenuRunner through Runners, because a real menu loop under the
// offscreen platform would wait forever. Main thread only.
//
// One showing: the delegate's menuWillOpen, the menu tracked until it closes, the chosen
// item's action (an enabled item only), and then the delegate's menuDidClose, posted to the
// main queue so that it always comes after the action (a cancel step run from it finds the
// choice made). The delegate is held until that notification has run.
class MenuRunner
{
public:
    // One showing as the runner sees it.
    struct Presentation
    {
        std::shared_ptr<Menu> menu;
        // The item put at the location, or null for the menu's top-left corner there.
        std::shared_ptr<MenuItem> positioningItem;
        // The window, and the location in its base coordinates (y-up from the bottom left of
        // the content area); no window for a screen point.
        Window* window = nullptr;
        std::optional<Point> locationInWindow;
        // The location in global screen coordinates (Qt's: y-down), in logical pixels.
        QPointF screenPoint;
    };

    virtual ~MenuRunner();

    // Pops the menu up at a point of the window's base coordinates and returns when it has
    // closed, with the chosen item or null when the menu closed without a choice.
    std::shared_ptr<MenuItem> popUpMenu(const std::shared_ptr<Menu>& menu,
                                        const std::shared_ptr<MenuItem>& positioningItem,
                                        Point locationInWindow, Window* window);
    // The same at a point of the screen.
    std::shared_ptr<MenuItem> popUpMenuAtScreenPoint(const std::shared_ptr<Menu>& menu,
                                                     const std::shared_ptr<MenuItem>& positioningItem,
                                                     QPointF screenPoint);

protected:
    // Shows the menu until it closes; answers the item chosen (in the menu or one of its
    // submenus), or null. Runs no action.
    virtual std::shared_ptr<MenuItem> choose(const Presentation& presentation) = 0;

private:
    std::shared_ptr<MenuItem> run(const Presentation& presentation);
};

} // namespace corvex
