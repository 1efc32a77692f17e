#pragma once

#include "platform/ui/MenuItem.h"

#include <QString>
#include <memory>
#include <vector>

namespace corvex {

class MenuDelegate;

// The menu model: a title and an ordered list of items, with a delegate told when the menu
// opens and closes. It is converted into a QMenu only while a menu runner shows it, so it can
// be built, inspected and driven in tests without a display. Menus live in std::shared_ptr;
// a menu owns its items and their submenus. Main thread only.
class Menu : public std::enable_shared_from_this<Menu>
{
public:
    static std::shared_ptr<Menu> create(const QString& title = QString());

    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;
    ~Menu();

    QString title() const { return mTitle; }
    void setTitle(const QString& title) { mTitle = title; }

    const std::vector<std::shared_ptr<MenuItem>>& items() const { return mItems; }
    int numberOfItems() const { return int(mItems.size()); }
    // Null for an index out of range.
    std::shared_ptr<MenuItem> itemAtIndex(int index) const;

    // An item already in another menu is taken out of it first (with an assertion line: that
    // is a caller's mistake); one already in this menu moves. An item whose submenu is this
    // menu or one above it is refused with an assertion line (a menu cannot contain itself).
    void addItem(const std::shared_ptr<MenuItem>& item);
    // Appends a new item and answers it.
    std::shared_ptr<MenuItem> addItem(const QString& title, MenuItem::Action action = {},
                                      const QString& keyEquivalent = QString());
    // The index is clamped to 0..numberOfItems().
    void insertItem(const std::shared_ptr<MenuItem>& item, int index);
    void removeItem(const MenuItem* item);
    void removeItemAtIndex(int index);
    void removeAllItems();

    // -1 when absent.
    int indexOfItem(const MenuItem* item) const;
    int indexOfItemWithTitle(const QString& title) const;
    int indexOfItemWithTag(int tag) const;
    std::shared_ptr<MenuItem> itemWithTitle(const QString& title) const;
    std::shared_ptr<MenuItem> itemWithTag(int tag) const;
    // The first item with this title in this menu or, depth first, its submenus.
    std::shared_ptr<MenuItem> findItemWithTitle(const QString& title) const;

    // Held weakly.
    std::shared_ptr<MenuDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::shared_ptr<MenuDelegate>& delegate) { mDelegate = delegate; }

    // The menu whose item opens this one, null for a top-level menu.
    std::shared_ptr<Menu> supermenu() const { return mSupermenu.lock(); }
    // Whether this menu is `menu` or lies above it on its supermenu chain.
    bool isAncestorOf(const Menu* menu) const;

    // Runs the action of the item at the index when it is enabled; answers whether it ran.
    bool performActionForItemAtIndex(int index);

private:
    friend class MenuItem;
    Menu() = default;
    void adopt(const std::shared_ptr<MenuItem>& item);

    QString mTitle;
    std::vector<std::shared_ptr<MenuItem>> mItems;
    std::weak_ptr<MenuDelegate> mDelegate;
    std::weak_ptr<Menu> mSupermenu;
};

} // namespace corvex
