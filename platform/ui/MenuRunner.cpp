#include "platform/ui/MenuRunner.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuDelegate.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowTeardown.h"

namespace corvex {

namespace {

bool belongsTo(const MenuItem& item, const Menu& menu)
{
    const auto owner = item.menu();
    return owner && menu.isAncestorOf(owner.get());
}

} // namespace

MenuRunner::~MenuRunner() = default;

std::shared_ptr<MenuItem> MenuRunner::popUpMenu(const std::shared_ptr<Menu>& menu,
                                                const std::shared_ptr<MenuItem>& positioningItem,
                                                Point locationInWindow, Window* window)
{
    Presentation presentation;
    presentation.menu = menu;
    presentation.positioningItem = positioningItem;
    presentation.window = window;
    presentation.locationInWindow = locationInWindow;
    presentation.screenPoint =
        window ? window->convertPointToGlobal(locationInWindow) : locationInWindow.toQPointF();
    return run(presentation);
}

std::shared_ptr<MenuItem> MenuRunner::popUpMenuAtScreenPoint(const std::shared_ptr<Menu>& menu,
                                                             const std::shared_ptr<MenuItem>& positioningItem,
                                                             QPointF screenPoint)
{
    Presentation presentation;
    presentation.menu = menu;
    presentation.positioningItem = positioningItem;
    presentation.screenPoint = screenPoint;
    return run(presentation);
}

std::shared_ptr<MenuItem> MenuRunner::run(const Presentation& presentation)
{
    if (!presentation.menu)
        return nullptr;
    const std::shared_ptr<Menu> menu = presentation.menu;
    if (auto delegate = menu->delegate())
        delegate->menuWillOpen(*menu);

    std::shared_ptr<MenuItem> chosen;
    {
        // The menu, parented to the window's host, runs its own loop: the window stays until it ends.
        const WindowTeardown::ModalLoop loop;
        chosen = choose(presentation);
    }
    if (chosen && !belongsTo(*chosen, *menu)) {
        Log::assertionFailure(QStringLiteral("Menu runner chose an item of another menu"));
        chosen = nullptr;
    }
    if (chosen && !chosen->isEnabled())
        chosen = nullptr;

    // Taken now: the notification must reach the delegate that saw the menu open, even when
    // the caller lets go of it right after this call.
    if (auto delegate = menu->delegate())
        MainQueue::post([menu, delegate] { delegate->menuDidClose(*menu); });
    if (chosen)
        chosen->performAction();
    return chosen;
}

} // namespace corvex
