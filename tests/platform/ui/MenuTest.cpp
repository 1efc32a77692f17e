// The menu model, one showing of a menu through a runner (the action, then the posted close
// notification), the scripted runner, the Qt default driven by keys in its loop, and menus
// shown at a point of a window.

#include "platform/ui/Menu.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/MenuDelegate.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/QtMenuRunner.h"
#include "platform/ui/Runners.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/doubles/ui/ScriptedMenuRunner.h"
#include "tests/platform/ui/ModalTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

QStringList titles(const Menu& menu)
{
    QStringList list;
    for (const auto& item : menu.items())
        list.append(item->isSeparator() ? QStringLiteral("-") : item->title());
    return list;
}

// Records what happens in one showing, in order.
class RecordingDelegate : public MenuDelegate
{
public:
    explicit RecordingDelegate(QStringList& events) : mEvents(events) {}
    void menuWillOpen(Menu& menu) override { mEvents.append(QStringLiteral("open ") + menu.title()); }
    void menuDidClose(Menu& menu) override { mEvents.append(QStringLiteral("close ") + menu.title()); }

private:
    QStringList& mEvents;
};

struct ChoiceMenu
{
    std::shared_ptr<Menu> menu = Menu::create(QStringLiteral("choices"));
    std::shared_ptr<RecordingDelegate> delegate;
    QStringList events;

    ChoiceMenu()
    {
        delegate = std::make_shared<RecordingDelegate>(events);
        menu->setDelegate(delegate);
        for (const char* title : {"Open", "Rename", "Delete"}) {
            const QString name = QString::fromLatin1(title);
            menu->addItem(name, [this, name](MenuItem&) { events.append(QStringLiteral("action ") + name); });
        }
    }
};

} // namespace

TEST(Menu, KeepsItemsInOrderAndFindsThemByTitleAndTag)
{
    auto menu = Menu::create(QStringLiteral("Edit"));
    auto copy = menu->addItem(QStringLiteral("Copy"), {}, QStringLiteral("c"));
    menu->addItem(MenuItem::separator());
    auto paste = MenuItem::create(QStringLiteral("Paste"));
    paste->setTag(7);
    menu->insertItem(paste, 1);
    menu->insertItem(MenuItem::create(QStringLiteral("Cut")), -5);
    menu->insertItem(MenuItem::create(QStringLiteral("Select All")), 99);
    EXPECT_EQ(titles(*menu), (QStringList{"Cut", "Copy", "Paste", "-", "Select All"}));
    EXPECT_EQ(menu->indexOfItem(paste.get()), 2);
    EXPECT_EQ(menu->indexOfItemWithTitle(QStringLiteral("Select All")), 4);
    EXPECT_EQ(menu->indexOfItemWithTitle(QStringLiteral("Undo")), -1);
    EXPECT_EQ(menu->itemWithTag(7), paste);
    EXPECT_EQ(menu->itemAtIndex(5), nullptr);
    EXPECT_EQ(menu->itemAtIndex(-1), nullptr);
    EXPECT_EQ(copy->menu(), menu);
    EXPECT_EQ(copy->keyEquivalent(), QStringLiteral("c"));
    EXPECT_EQ(copy->keyEquivalentModifierMask(), Event::CommandKeyMask);

    // Moving an item inside its menu keeps one copy of it.
    menu->insertItem(copy, 5);
    EXPECT_EQ(titles(*menu), (QStringList{"Cut", "Paste", "-", "Select All", "Copy"}));
    menu->removeItem(paste.get());
    EXPECT_EQ(paste->menu(), nullptr);
    menu->removeItemAtIndex(0);
    EXPECT_EQ(titles(*menu), (QStringList{"-", "Select All", "Copy"}));
    menu->removeAllItems();
    EXPECT_EQ(menu->numberOfItems(), 0);
    EXPECT_EQ(copy->menu(), nullptr);
}

TEST(Menu, AnItemFromAnotherMenuMovesWithAnAssertionLine)
{
    LogCapture log;
    auto first = Menu::create();
    auto second = Menu::create();
    auto item = first->addItem(QStringLiteral("Shared"));
    second->addItem(item);
    EXPECT_EQ(first->numberOfItems(), 0);
    EXPECT_EQ(second->numberOfItems(), 1);
    EXPECT_EQ(item->menu(), second);
    EXPECT_EQ(log.count(QStringLiteral(
                  "ERROR: Assertion failure: Item to be inserted into menu already is in another menu")),
              1);
}

TEST(Menu, SubmenusKnowTheirSupermenuAndCannotContainThemselves)
{
    LogCapture log;
    auto top = Menu::create(QStringLiteral("top"));
    auto sub = Menu::create(QStringLiteral("sub"));
    auto opener = top->addItem(QStringLiteral("More"));
    opener->setSubmenu(sub);
    EXPECT_EQ(sub->supermenu(), top);
    EXPECT_TRUE(top->isAncestorOf(sub.get()));
    EXPECT_FALSE(sub->isAncestorOf(top.get()));
    auto deep = sub->addItem(QStringLiteral("Uppercase"));
    EXPECT_EQ(top->findItemWithTitle(QStringLiteral("Uppercase")), deep);

    // A loop back to the top is refused, whichever way it is made.
    auto back = sub->addItem(QStringLiteral("Back"));
    back->setSubmenu(top);
    EXPECT_EQ(back->submenu(), nullptr);
    auto holder = MenuItem::create(QStringLiteral("Holder"));
    holder->setSubmenu(top);
    sub->addItem(holder);
    EXPECT_EQ(sub->indexOfItem(holder.get()), -1);
    EXPECT_EQ(log.count(QStringLiteral("A menu cannot contain itself")), 2);
    // A menu hangs under one item only.
    auto other = MenuItem::create(QStringLiteral("Other"));
    other->setSubmenu(sub);
    EXPECT_EQ(other->submenu(), nullptr);
    EXPECT_EQ(log.count(QStringLiteral("Menu is already the submenu of another item")), 1);
}

TEST(Menu, ActionsRunOnlyForEnabledItems)
{
    auto menu = Menu::create();
    int runs = 0;
    auto item = menu->addItem(QStringLiteral("Go"), [&](MenuItem& chosen) {
        ++runs;
        EXPECT_EQ(chosen.title(), QStringLiteral("Go"));
    });
    auto separator = MenuItem::separator();
    separator->setAction([&](MenuItem&) { ++runs; });
    menu->addItem(separator);
    EXPECT_TRUE(menu->performActionForItemAtIndex(0));
    item->setEnabled(false);
    EXPECT_FALSE(menu->performActionForItemAtIndex(0));
    EXPECT_FALSE(menu->performActionForItemAtIndex(1));
    EXPECT_FALSE(separator->isEnabled());
    EXPECT_EQ(runs, 1);
}

TEST(Menu, RepresentedObjectsHoldAnyValueIncludingBlocks)
{
    auto item = MenuItem::create(QStringLiteral("Choice"));
    int ran = 0;
    item->setRepresentedObject(std::function<void()>([&] { ++ran; }));
    const auto* block = std::any_cast<std::function<void()>>(&item->representedObject());
    ASSERT_NE(block, nullptr);
    (*block)();
    EXPECT_EQ(ran, 1);
    item->setRepresentedObject(QStringLiteral("text"));
    EXPECT_EQ(std::any_cast<QString>(item->representedObject()), QStringLiteral("text"));
}

TEST(MenuRunner, RunsTheChosenActionAndPostsTheCloseNotificationAfterIt)
{
    ScopedVirtualTime time;
    ChoiceMenu choices;
    ScriptedMenuRunner runner;
    runner.chooseIndex(1);
    const auto chosen = runner.popUpMenuAtScreenPoint(choices.menu, nullptr, QPointF(40, 50));
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->title(), QStringLiteral("Rename"));
    EXPECT_EQ(choices.events, (QStringList{"open choices", "action Rename"}));
    time.runDue();
    EXPECT_EQ(choices.events, (QStringList{"open choices", "action Rename", "close choices"}));
    ASSERT_EQ(runner.presentedCount(), 1);
    EXPECT_EQ(runner.presented()[0].presentation.screenPoint, QPointF(40, 50));
    EXPECT_FALSE(runner.presented()[0].presentation.locationInWindow.has_value());
    EXPECT_EQ(runner.presented()[0].titles, (QStringList{"Open", "Rename", "Delete"}));
}

TEST(MenuRunner, ClosingWithoutAChoiceRunsNoActionAndStillNotifies)
{
    ScopedVirtualTime time;
    ChoiceMenu choices;
    ScriptedMenuRunner runner;
    runner.chooseNothing();
    EXPECT_EQ(runner.popUpMenuAtScreenPoint(choices.menu, nullptr, QPointF()), nullptr);
    // Nothing scripted: the menu closes without a choice too.
    EXPECT_EQ(runner.popUpMenuAtScreenPoint(choices.menu, nullptr, QPointF()), nullptr);
    time.runDue();
    EXPECT_EQ(choices.events,
              (QStringList{"open choices", "open choices", "close choices", "close choices"}));
}

TEST(MenuRunner, ADisabledItemCannotBeChosen)
{
    ScopedVirtualTime time;
    ChoiceMenu choices;
    choices.menu->itemAtIndex(2)->setEnabled(false);
    ScriptedMenuRunner runner;
    runner.chooseTitle(QStringLiteral("Delete"));
    EXPECT_EQ(runner.popUpMenuAtScreenPoint(choices.menu, nullptr, QPointF()), nullptr);
    time.runDue();
    EXPECT_EQ(choices.events, (QStringList{"open choices", "close choices"}));
}

TEST(MenuRunner, ChoosesItemsOfSubmenusByTitle)
{
    ScopedVirtualTime time;
    ChoiceMenu choices;
    auto sub = Menu::create(QStringLiteral("Transformations"));
    sub->addItem(QStringLiteral("Uppercase"),
                 [&](MenuItem&) { choices.events.append(QStringLiteral("upper")); });
    choices.menu->addItem(QStringLiteral("Transformations"))->setSubmenu(sub);
    ScriptedMenuRunner runner;
    runner.chooseTitle(QStringLiteral("Uppercase"));
    const auto chosen = runner.popUpMenuAtScreenPoint(choices.menu, nullptr, QPointF());
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->menu(), sub);
    EXPECT_EQ(choices.events, (QStringList{"open choices", "upper"}));
}

TEST(MenuRunner, TheDelegateHearsOfTheCloseAfterTheCallerLetGoOfIt)
{
    ScopedVirtualTime time;
    QStringList events;
    auto menu = Menu::create(QStringLiteral("m"));
    menu->addItem(QStringLiteral("One"));
    {
        auto delegate = std::make_shared<RecordingDelegate>(events);
        menu->setDelegate(delegate);
        ScriptedMenuRunner runner;
        runner.chooseIndex(0);
        runner.popUpMenuAtScreenPoint(menu, nullptr, QPointF());
    }
    // The posted notification holds the delegate.
    EXPECT_NE(menu->delegate(), nullptr);
    time.runDue();
    EXPECT_EQ(events, (QStringList{"open m", "close m"}));
    EXPECT_EQ(menu->delegate(), nullptr);
}

TEST(QtMenuRunner, EscapeClosesWithoutAChoice)
{
    ScopedVirtualTime time;
    ChoiceMenu choices;
    ModalDriver driver(ModalDriver::Target::PopupWidget, {Qt::Key_Escape});
    QtMenuRunner runner;
    EXPECT_EQ(runner.popUpMenuAtScreenPoint(choices.menu, nullptr, QPointF(100, 100)), nullptr);
    EXPECT_TRUE(driver.sent());
    EXPECT_FALSE(driver.rescued());
    time.runDue();
    EXPECT_EQ(choices.events, (QStringList{"open choices", "close choices"}));
}

TEST(QtMenuRunner, DownAndReturnChooseTheFirstItem)
{
    ScopedVirtualTime time;
    ChoiceMenu choices;
    ModalDriver driver(ModalDriver::Target::PopupWidget, {Qt::Key_Down, Qt::Key_Return});
    QtMenuRunner runner;
    const auto chosen = runner.popUpMenuAtScreenPoint(choices.menu, nullptr, QPointF(100, 100));
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->title(), QStringLiteral("Open"));
    EXPECT_FALSE(driver.rescued());
    time.runDue();
    EXPECT_EQ(choices.events, (QStringList{"open choices", "action Open", "close choices"}));
}

TEST(QtMenuRunner, ShowsTheModelAsAQMenuAndSkipsDisabledItems)
{
    ScopedVirtualTime time;
    ChoiceMenu choices;
    choices.menu->itemAtIndex(0)->setEnabled(false);
    choices.menu->insertItem(MenuItem::separator(), 1);
    choices.menu->itemAtIndex(2)->setState(MenuItem::State::On);
    choices.menu->itemAtIndex(2)->setKeyEquivalent(QStringLiteral("r"));
    choices.menu->itemAtIndex(3)->setHidden(true);
    auto sub = Menu::create();
    sub->addItem(QStringLiteral("Uppercase"));
    choices.menu->addItem(QStringLiteral("Transformations"))->setSubmenu(sub);
    ModalDriver driver(ModalDriver::Target::PopupWidget, {Qt::Key_Down, Qt::Key_Return}, [](QWidget* widget) {
        auto* qmenu = qobject_cast<QMenu*>(widget);
        ASSERT_NE(qmenu, nullptr);
        const QList<QAction*> actions = qmenu->actions();
        ASSERT_EQ(actions.size(), 4);
        EXPECT_EQ(actions[0]->text(), QStringLiteral("Open"));
        EXPECT_FALSE(actions[0]->isEnabled());
        EXPECT_TRUE(actions[1]->isSeparator());
        EXPECT_EQ(actions[2]->text(), QStringLiteral("Rename"));
        EXPECT_TRUE(actions[2]->isChecked());
        EXPECT_EQ(actions[2]->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
        ASSERT_NE(actions[3]->menu(), nullptr);
        EXPECT_EQ(actions[3]->menu()->actions().size(), 1);
    });
    QtMenuRunner runner;
    const auto chosen = runner.popUpMenuAtScreenPoint(choices.menu, nullptr, QPointF(100, 100));
    // Down skips the disabled first item and the separator.
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->title(), QStringLiteral("Rename"));
}

TEST(MenuRunner, APointOfAWindowIsShownAtItsPlaceOnTheScreen)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(300, 200));
    window->orderFront();
    ChoiceMenu choices;
    ScriptedMenuRunner runner;
    runner.popUpMenu(choices.menu, choices.menu->itemAtIndex(1), Point(30, 50), window.get());
    ASSERT_EQ(runner.presentedCount(), 1);
    const MenuRunner::Presentation& shown = runner.presented()[0].presentation;
    EXPECT_EQ(shown.window, window.get());
    ASSERT_TRUE(shown.locationInWindow.has_value());
    EXPECT_EQ(*shown.locationInWindow, Point(30, 50));
    // y up in the window, y down on Qt's screen: 50 from the bottom is 150 from the top.
    const QPointF origin = window->hostWidget()->mapToGlobal(QPointF(0, 0));
    EXPECT_EQ(shown.screenPoint, origin + QPointF(30, 150));
    EXPECT_EQ(shown.positioningItem, choices.menu->itemAtIndex(1));
    window->close();
}

TEST(MenuRunner, TheContextMenuPresenterShowsAViewsMenuThroughTheRunnerInUse)
{
    ScopedVirtualTime time;
    class MenuView : public View
    {
    public:
        using View::View;
        std::shared_ptr<Menu> menuForEvent(const Event&) override { return menu; }
        std::shared_ptr<Menu> menu;
    };
    auto window = Window::create(Size(300, 200));
    auto view = std::make_shared<MenuView>(Rect(0, 0, 300, 200));
    ChoiceMenu choices;
    view->menu = choices.menu;
    window->setContentView(view);
    auto runner = std::make_shared<ScriptedMenuRunner>();
    runner->chooseTitle(QStringLiteral("Delete"));
    Runners::setMenuRunner(runner);
    Runners::installContextMenuPresenter();
    window->sendEvent(Event::rightMouseDown(Point(40, 60)));
    ASSERT_EQ(runner->presentedCount(), 1);
    EXPECT_EQ(*runner->presented()[0].presentation.locationInWindow, Point(40, 60));
    EXPECT_EQ(runner->presented()[0].presentation.window, window.get());
    EXPECT_EQ(choices.events, (QStringList{"open choices", "action Delete"}));
}
