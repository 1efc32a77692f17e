#pragma once

#include "platform/ui/Menu.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace corvex {

class Window;

// An object that answers menu actions by their id (MenuItem::actionId, "qvSaveLocalFile:").
// A responder (view, view controller, window) that is also an ActionTarget takes part in
// action dispatch; so does the application's target (ActionRouter::setApplicationTarget).
class ActionTarget
{
public:
    virtual ~ActionTarget();
    // Whether this object handles the action at all; only a target that does is asked to
    // validate or perform it.
    virtual bool respondsToAction(const QString& actionId) const = 0;
    // Whether the item may be chosen now. Default true.
    virtual bool validateAction(const QString& actionId, const MenuItem& item);
    virtual void performAction(const QString& actionId, MenuItem& item) = 0;
};

// Action dispatch along the responder chain of a window: the focused text widget (a Qt
// line or text edit inside the window: "qvUndo:", "qvRedo:", "cut:", "copy:", "paste:",
// "selectAll:"), then the window's first responder and its next responders that are
// ActionTargets, then the window itself, then the application's target. The first that
// responds is the handler; an item is enabled only when there is one and it validates the
// item. Main thread only.
class ActionRouter
{
public:
    // Not owned; null removes it.
    static void setApplicationTarget(ActionTarget* target);
    static ActionTarget* applicationTarget();

    // The handler of the action for a window (null: the application's target only), or
    // null when nobody responds.
    static ActionTarget* targetFor(Window* window, const QString& actionId);
    // Handled and validated.
    static bool validate(Window* window, const MenuItem& item);
    // Validates again and performs; answers whether the action ran. An item with no action
    // id runs its own callback when enabled.
    static bool perform(Window* window, MenuItem& item);
};

// One menu model shown as a QMenuBar in a window, above its content (the bar is part of
// the window's frame). Each top-level item with a submenu is one menu of the bar. Items
// are validated when their menu opens, when the window becomes key, on refresh(), and
// again right before a chosen item or its shortcut runs: a disabled item's shortcut runs
// nothing. Key equivalents with Command become Ctrl shortcuts. The model may change: call
// rebuild() after adding or removing items (the Open Recent submenu rebuilds itself).
class MenuBar : public QObject
{
public:
    // Installs a bar built from `mainMenu` into the window (a window holds one bar; a
    // second install replaces the first). Null without a QApplication.
    static MenuBar* install(Window& window, std::shared_ptr<Menu> mainMenu);
    // The bar of a window; null when it has none.
    static MenuBar* of(const Window& window);

    ~MenuBar() override;

    const std::shared_ptr<Menu>& mainMenu() const { return mMainMenu; }
    QMenuBar* widget() const;
    // The QAction shown for an item (null when hidden, a separator or not in the model).
    QAction* actionFor(const MenuItem* item) const;

    // Validation again for every item.
    void refresh();
    // The QMenus again from the model.
    void rebuild();

    // Every installed bar: refresh() for each (after a screen switch, a change of state).
    static void refreshAll();

private:
    MenuBar(Window& window, std::shared_ptr<Menu> mainMenu, QMenuBar* bar);
    void fillMenu(QMenu* qmenu, const std::shared_ptr<Menu>& menu);
    void validateMenu(QMenu* qmenu);
    void trigger(QAction* action);
    bool holdsSharedShortcuts(const QWidget& window) const;
    bool eventFilter(QObject* watched, QEvent* event) override;

    Window* mWindow;
    std::shared_ptr<Menu> mMainMenu;
    QPointer<QMenuBar> mBar;
};

// Open Recent: at most `capacity` local paths, newest first, shown as the items of a
// submenu (with "Clear Menu" last); choosing one calls the open callback with its path.
class RecentDocumentsMenu
{
public:
    using Open = std::function<void(const QString& path)>;

    explicit RecentDocumentsMenu(int capacity = 10);

    // The submenu this object fills; put it under an item of the main menu.
    const std::shared_ptr<Menu>& menu() const { return mMenu; }
    void setOpenCallback(Open open) { mOpen = std::move(open); }
    // Called after the list changed (the shell stores it, bars rebuild).
    void setChangedCallback(std::function<void()> changed) { mChanged = std::move(changed); }

    // Puts the path first (moving it when present) and drops the oldest beyond capacity.
    void noteNewRecentDocument(const QString& path);
    // Replaces the list (newest first); duplicates and entries beyond capacity are dropped.
    void setPaths(const QStringList& newestFirst);
    void clear();
    const QStringList& paths() const { return mPaths; }

private:
    void refill();

    std::shared_ptr<Menu> mMenu;
    QStringList mPaths;
    Open mOpen;
    std::function<void()> mChanged;
    int mCapacity;
};

} // namespace corvex
