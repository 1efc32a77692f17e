#pragma once

#include "platform/ui/Event.h"

#include <QString>
#include <any>
#include <functional>
#include <memory>

namespace corvex {

class Menu;

// One entry of a Menu: a choice with a title, a key equivalent, an action and a represented
// object, a separator, or the entry that opens a submenu. Plain data until a menu runner shows
// it; items live in std::shared_ptr and belong to at most one menu at a time. Main thread only.
class MenuItem : public std::enable_shared_from_this<MenuItem>
{
public:
    using Action = std::function<void(MenuItem&)>;

    // The check mark states.
    enum class State
    {
        Mixed = -1,
        Off = 0,
        On = 1,
    };

    static std::shared_ptr<MenuItem> create(const QString& title, Action action = {},
                                            const QString& keyEquivalent = QString());
    static std::shared_ptr<MenuItem> separator();

    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;
    ~MenuItem();

    QString title() const { return mTitle; }
    void setTitle(const QString& title) { mTitle = title; }
    bool isSeparator() const { return mSeparator; }

    // A single character ("c"; an upper-case letter implies Shift), shown beside the title;
    // empty for none.
    QString keyEquivalent() const { return mKeyEquivalent; }
    void setKeyEquivalent(const QString& key) { mKeyEquivalent = key; }
    // Event's modifier flag bits; Command (shown as Ctrl) unless set otherwise.
    unsigned keyEquivalentModifierMask() const { return mKeyModifiers; }
    void setKeyEquivalentModifierMask(unsigned mask) { mKeyModifiers = mask; }

    // The action's name for validation and the shell's menus ("copy:"); the callback is what
    // runs when the item is chosen. Either may be empty.
    QString actionId() const { return mActionId; }
    void setActionId(const QString& id) { mActionId = id; }
    const Action& action() const { return mAction; }
    void setAction(Action action) { mAction = std::move(action); }

    const std::any& representedObject() const { return mRepresentedObject; }
    void setRepresentedObject(std::any object) { mRepresentedObject = std::move(object); }

    int tag() const { return mTag; }
    void setTag(int tag) { mTag = tag; }
    State state() const { return mState; }
    void setState(State state) { mState = state; }
    // Disabled items are shown but cannot be chosen; separators are never enabled.
    bool isEnabled() const { return mEnabled && !mSeparator; }
    void setEnabled(bool enabled) { mEnabled = enabled; }
    // Hidden items are left out when the menu is shown.
    bool isHidden() const { return mHidden; }
    void setHidden(bool hidden) { mHidden = hidden; }

    std::shared_ptr<Menu> submenu() const { return mSubmenu; }
    // The submenu's supermenu becomes this item's menu. A menu is the submenu of one item only.
    void setSubmenu(std::shared_ptr<Menu> submenu);
    bool hasSubmenu() const { return mSubmenu != nullptr; }

    // The menu holding the item (null when it is in none).
    std::shared_ptr<Menu> menu() const { return mMenu.lock(); }

    // Runs the action when the item is enabled and has one; answers whether it ran.
    bool performAction();

private:
    friend class Menu;
    MenuItem() = default;

    QString mTitle;
    QString mKeyEquivalent;
    QString mActionId;
    Action mAction;
    std::any mRepresentedObject;
    std::shared_ptr<Menu> mSubmenu;
    std::weak_ptr<Menu> mMenu;
    unsigned mKeyModifiers = Event::CommandKeyMask;
    int mTag = 0;
    State mState = State::Off;
    bool mSeparator = false;
    bool mEnabled = true;
    bool mHidden = false;
};

} // namespace corvex
