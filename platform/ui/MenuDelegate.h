#pragma once

namespace corvex {

class Menu;

// What a menu tells its delegate. Both methods have empty defaults. Menus hold their
// delegate weakly; the notifications come on the main thread.
class MenuDelegate
{
public:
    virtual ~MenuDelegate();

    // Right before the menu is shown.
    virtual void menuWillOpen(Menu& menu);
    // After the menu has closed, chosen or not. A menu runner posts this to the main queue,
    // so it arrives after the chosen item's action has run (holding the delegate until then).
    virtual void menuDidClose(Menu& menu);
};

} // namespace corvex
