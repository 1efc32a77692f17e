#include "platform/ui/MenuItem.h"

#include "platform/core/Log.h"
#include "platform/ui/Menu.h"

namespace corvex {

std::shared_ptr<MenuItem> MenuItem::create(const QString& title, Action action, const QString& keyEquivalent)
{
    std::shared_ptr<MenuItem> item(new MenuItem);
    item->mTitle = title;
    item->mAction = std::move(action);
    item->mKeyEquivalent = keyEquivalent;
    return item;
}

std::shared_ptr<MenuItem> MenuItem::separator()
{
    std::shared_ptr<MenuItem> item(new MenuItem);
    item->mSeparator = true;
    return item;
}

MenuItem::~MenuItem() = default;

void MenuItem::setSubmenu(std::shared_ptr<Menu> submenu)
{
    if (submenu == mSubmenu)
        return;
    if (submenu && submenu->supermenu()) {
        // A menu hangs under one item at most: refuse one that already has a supermenu.
        Log::assertionFailure(QStringLiteral("Menu is already the submenu of another item"));
        return;
    }
    const auto owner = mMenu.lock();
    if (submenu && owner && submenu->isAncestorOf(owner.get())) {
        Log::assertionFailure(QStringLiteral("A menu cannot contain itself"));
        return;
    }
    if (mSubmenu)
        mSubmenu->mSupermenu.reset();
    mSubmenu = std::move(submenu);
    if (mSubmenu)
        mSubmenu->mSupermenu = mMenu;
}

bool MenuItem::performAction()
{
    if (!isEnabled() || !mAction)
        return false;
    // The action may remove the item from its menu: keep it alive while it runs.
    const auto self = shared_from_this();
    const Action action = mAction;
    action(*self);
    return true;
}

} // namespace corvex
