#pragma once

#include "platform/ui/MenuRunner.h"

namespace corvex {

// The application's menu runner: the menu converted into a QMenu (submenus, separators,
// disabled and checked items, key equivalents shown with Ctrl for the Command modifier) for
// the time it is shown, and run with QMenu::exec at the screen point, the positioning item
// placed there when one is given.
class QtMenuRunner final : public MenuRunner
{
protected:
    std::shared_ptr<MenuItem> choose(const Presentation& presentation) override;
};

} // namespace corvex
