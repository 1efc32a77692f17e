#include "platform/ui/Menu.h"

#include "platform/core/Log.h"
#include "platform/ui/MenuDelegate.h"

#include <algorithm>

namespace corvex {

std::shared_ptr<Menu> Menu::create(const QString& title)
{
    std::shared_ptr<Menu> menu(new Menu);
    menu->mTitle = title;
    return menu;
}

Menu::~Menu()
{
    for (const auto& item : mItems) {
        item->mMenu.reset();
        if (item->mSubmenu)
            item->mSubmenu->mSupermenu.reset();
    }
}

std::shared_ptr<MenuItem> Menu::itemAtIndex(int index) const
{
    if (index < 0 || index >= numberOfItems())
        return nullptr;
    return mItems[std::size_t(index)];
}

void Menu::addItem(const std::shared_ptr<MenuItem>& item)
{
    insertItem(item, numberOfItems());
}

std::shared_ptr<MenuItem> Menu::addItem(const QString& title, MenuItem::Action action,
                                        const QString& keyEquivalent)
{
    auto item = MenuItem::create(title, std::move(action), keyEquivalent);
    addItem(item);
    return item;
}

void Menu::insertItem(const std::shared_ptr<MenuItem>& item, int index)
{
    if (!item)
        return;
    if (item->mSubmenu && item->mSubmenu->isAncestorOf(this)) {
        Log::assertionFailure(QStringLiteral("A menu cannot contain itself"));
        return;
    }
    const auto keep = item;
    if (auto owner = item->menu()) {
        if (owner.get() != this)
            Log::assertionFailure(QStringLiteral("Item to be inserted into menu already is in another menu"));
        else if (indexOfItem(item.get()) < index)
            --index;
        owner->removeItem(item.get());
    }
    index = std::clamp(index, 0, numberOfItems());
    mItems.insert(mItems.begin() + index, item);
    adopt(item);
}

void Menu::adopt(const std::shared_ptr<MenuItem>& item)
{
    item->mMenu = weak_from_this();
    if (item->mSubmenu)
        item->mSubmenu->mSupermenu = weak_from_this();
}

void Menu::removeItem(const MenuItem* item)
{
    removeItemAtIndex(indexOfItem(item));
}

void Menu::removeItemAtIndex(int index)
{
    if (index < 0 || index >= numberOfItems())
        return;
    const auto item = mItems[std::size_t(index)];
    mItems.erase(mItems.begin() + index);
    item->mMenu.reset();
    if (item->mSubmenu)
        item->mSubmenu->mSupermenu.reset();
}

void Menu::removeAllItems()
{
    while (!mItems.empty())
        removeItemAtIndex(numberOfItems() - 1);
}

int Menu::indexOfItem(const MenuItem* item) const
{
    for (std::size_t i = 0; i < mItems.size(); ++i) {
        if (mItems[i].get() == item)
            return int(i);
    }
    return -1;
}

int Menu::indexOfItemWithTitle(const QString& title) const
{
    for (std::size_t i = 0; i < mItems.size(); ++i) {
        if (!mItems[i]->isSeparator() && mItems[i]->title() == title)
            return int(i);
    }
    return -1;
}

int Menu::indexOfItemWithTag(int tag) const
{
    for (std::size_t i = 0; i < mItems.size(); ++i) {
        if (mItems[i]->tag() == tag)
            return int(i);
    }
    return -1;
}

std::shared_ptr<MenuItem> Menu::itemWithTitle(const QString& title) const
{
    return itemAtIndex(indexOfItemWithTitle(title));
}

std::shared_ptr<MenuItem> Menu::itemWithTag(int tag) const
{
    return itemAtIndex(indexOfItemWithTag(tag));
}

std::shared_ptr<MenuItem> Menu::findItemWithTitle(const QString& title) const
{
    if (auto item = itemWithTitle(title))
        return item;
    for (const auto& item : mItems) {
        if (item->mSubmenu) {
            if (auto found = item->mSubmenu->findItemWithTitle(title))
                return found;
        }
    }
    return nullptr;
}

bool Menu::isAncestorOf(const Menu* menu) const
{
    for (auto current = menu ? menu->weak_from_this().lock() : nullptr; current;
         current = current->supermenu()) {
        if (current.get() == this)
            return true;
    }
    return false;
}

bool Menu::performActionForItemAtIndex(int index)
{
    const auto item = itemAtIndex(index);
    return item && item->performAction();
}

} // namespace corvex
