// Choice menus: a choice runs only its block; closing without a choice runs only the cancel
// block, once, in a later turn; the pop-up opens at the centre of the rectangle; the
// pending cancel step keeps the controller; the Qt default driven by keys.

#include "toolkit/ModalChoiceController.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "platform/ui/QtMenuRunner.h"
#include "platform/ui/Window.h"
#include "tests/platform/ui/ModalTestSupport.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "tests/toolkit/ControllerTestSupport.h"
#include "toolkit/BaseView.h"

#include <QMenu>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// A controller with "Copy" and "Move" choices and a cancel block, each noting into `ran`.
std::shared_ptr<ModalChoiceController> copyOrMove(QStringList& ran)
{
    auto choices = ModalChoiceController::create();
    choices->addButton(QStringLiteral("Copy"), [&ran] { ran.append(QStringLiteral("copy")); });
    choices->addButton(QStringLiteral("Move"), [&ran] { ran.append(QStringLiteral("move")); });
    choices->addButton(QString(), [&ran] { ran.append(QStringLiteral("cancel")); });
    return choices;
}

// A flipped view at (40, 30) of a 300 x 200 window's flipped content view.
struct ViewInWindow
{
    ViewInWindow()
    {
        window->setContentView(content);
        content->addSubview(view);
    }

    std::shared_ptr<Window> window = Window::create(Size(300, 200));
    std::shared_ptr<BaseView> content = BaseView::create(Rect(0, 0, 300, 200));
    std::shared_ptr<BaseView> view = BaseView::create(Rect(40, 30, 100, 80));
};

} // namespace

TEST(ModalChoiceController, BuildsAnUntitledMenuItDelegatesWithOneItemPerTitledButton)
{
    QStringList ran;
    auto choices = copyOrMove(ran);
    const auto& menu = choices->menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->title().isEmpty());
    EXPECT_EQ(menu->delegate(), choices);
    ASSERT_EQ(menu->numberOfItems(), 2) << "the cancel block adds no item";
    EXPECT_EQ(menu->itemAtIndex(0)->title(), QStringLiteral("Copy"));
    EXPECT_EQ(menu->itemAtIndex(1)->title(), QStringLiteral("Move"));
    EXPECT_TRUE(menu->itemAtIndex(1)->keyEquivalent().isEmpty());
    EXPECT_TRUE(choices->hasCancelBlock());

    // An empty title is still a title.
    choices->addButton(QStringLiteral(""), [] {});
    EXPECT_EQ(menu->numberOfItems(), 3);
}

TEST(ModalChoiceController, AChoiceRunsItsBlockAndNeverTheCancelBlock)
{
    ScopedVirtualTime time;
    ScriptedRunners runners;
    ViewInWindow place;
    QStringList ran;
    auto choices = copyOrMove(ran);
    runners.menus->chooseTitle(QStringLiteral("Move"));
    choices->showModallyFromRect(Rect(0, 0, 20, 20), *place.view);
    EXPECT_EQ(ran, QStringList{QStringLiteral("move")});
    EXPECT_FALSE(choices->hasCancelBlock()) << "dropped by the choice";
    time.advance(1);
    EXPECT_EQ(ran, QStringList{QStringLiteral("move")}) << "the cancel step found nothing to run";
}

TEST(ModalChoiceController, ClosingWithoutAChoiceRunsTheCancelBlockOnceInALaterTurn)
{
    ScopedVirtualTime time;
    ScriptedRunners runners;
    ViewInWindow place;
    QStringList ran;
    auto choices = copyOrMove(ran);
    runners.menus->chooseNothing();
    choices->showModallyFromRect(Rect(0, 0, 20, 20), *place.view);
    EXPECT_TRUE(ran.isEmpty()) << "not inside the showing";
    time.advance(0);
    EXPECT_EQ(ran, QStringList{QStringLiteral("cancel")});
    EXPECT_FALSE(choices->hasCancelBlock());

    // A second close finds the cancel block used up.
    choices->menuDidClose(*choices->menu());
    time.advance(1);
    EXPECT_EQ(ran, QStringList{QStringLiteral("cancel")});
}

TEST(ModalChoiceController, OnlyTheLastUntitledButtonIsTheCancelBlock)
{
    ScopedVirtualTime time;
    ScriptedRunners runners;
    ViewInWindow place;
    QStringList ran;
    auto choices = ModalChoiceController::create();
    choices->addButton(QStringLiteral("Copy"), [&ran] { ran.append(QStringLiteral("copy")); });
    choices->addButton(QString(), [&ran] { ran.append(QStringLiteral("first cancel")); });
    choices->addButton(QString(), [&ran] { ran.append(QStringLiteral("second cancel")); });
    EXPECT_EQ(choices->menu()->numberOfItems(), 1);
    runners.menus->chooseNothing();
    choices->showModallyFromRect(Rect(0, 0, 20, 20), *place.view);
    time.advance(1);
    EXPECT_EQ(ran, QStringList{QStringLiteral("second cancel")});
}

TEST(ModalChoiceController, AMenuClosedWithoutACancelBlockSimplyCloses)
{
    ScopedVirtualTime time;
    ScriptedRunners runners;
    ViewInWindow place;
    QStringList ran;
    auto choices = ModalChoiceController::create();
    choices->addButton(QStringLiteral("Copy"), [&ran] { ran.append(QStringLiteral("copy")); });
    runners.menus->chooseNothing();
    choices->showModallyFromRect(Rect(0, 0, 20, 20), *place.view);
    time.advance(1);
    EXPECT_TRUE(ran.isEmpty());
    EXPECT_EQ(runners.menus->presentedCount(), 1);
}

TEST(ModalChoiceController, PopsUpAtTheCentreOfTheRectangleWithNoItemPlaced)
{
    ScopedVirtualTime time;
    ScriptedRunners runners;
    ViewInWindow place;
    QStringList ran;
    auto choices = copyOrMove(ran);
    runners.menus->chooseNothing();
    choices->showModallyFromRect(Rect(10, 20, 40, 30), *place.view);
    ASSERT_EQ(runners.menus->presentedCount(), 1);
    const MenuRunner::Presentation& shown = runners.menus->presented()[0].presentation;
    EXPECT_EQ(shown.menu, choices->menu());
    EXPECT_EQ(shown.positioningItem, nullptr);
    EXPECT_EQ(shown.window, place.window.get());
    ASSERT_TRUE(shown.locationInWindow.has_value());
    // The centre (30, 35) of the flipped view at (40, 30) is (70, 65) from the top left of the
    // 200 points high content area: (70, 135) in the window's y-up base coordinates.
    EXPECT_EQ(*shown.locationInWindow, Point(70, 135));
    EXPECT_EQ(*shown.locationInWindow, place.view->convertPointToView(Point(30, 35), nullptr));
    EXPECT_EQ(runners.menus->presented()[0].titles,
              (QStringList{QStringLiteral("Copy"), QStringLiteral("Move")}));
}

TEST(ModalChoiceController, ThePendingCancelStepKeepsTheController)
{
    ScopedVirtualTime time;
    ScriptedRunners runners;
    ViewInWindow place;
    QStringList ran;
    auto choices = copyOrMove(ran);
    std::weak_ptr<ModalChoiceController> weak = choices;
    runners.menus->chooseNothing();
    choices->showModallyFromRect(Rect(0, 0, 20, 20), *place.view);
    choices.reset();
    EXPECT_FALSE(weak.expired()) << "held by the pending step";
    time.advance(1);
    EXPECT_EQ(ran, QStringList{QStringLiteral("cancel")});
    EXPECT_TRUE(weak.expired()) << "let go once the step has run";
}

TEST(ModalChoiceController, AChoiceAfterTheControllerWentAwayRunsNothing)
{
    QStringList ran;
    auto choices = copyOrMove(ran);
    const std::shared_ptr<Menu> menu = choices->menu();
    choices.reset();
    EXPECT_FALSE(menu->performActionForItemAtIndex(5));
    menu->performActionForItemAtIndex(0);
    EXPECT_TRUE(ran.isEmpty()) << "the items' target is not kept by the menu";
}

TEST(ModalChoiceControllerOnQt, EscapeRunsTheCancelBlockOnce)
{
    ScopedVirtualTime time;
    ViewInWindow place;
    QStringList ran;
    auto choices = copyOrMove(ran);
    Runners::setMenuRunner(std::make_shared<QtMenuRunner>());
    {
        ModalDriver driver(ModalDriver::Target::PopupWidget, {Qt::Key_Escape}, [](QWidget* widget) {
            auto* qmenu = qobject_cast<QMenu*>(widget);
            ASSERT_NE(qmenu, nullptr);
            ASSERT_EQ(qmenu->actions().size(), 2);
            EXPECT_EQ(qmenu->actions()[0]->text(), QStringLiteral("Copy"));
        });
        choices->showModallyFromRect(Rect(0, 0, 20, 20), *place.view);
        EXPECT_TRUE(driver.sent());
        EXPECT_FALSE(driver.rescued());
    }
    Runners::reset();
    EXPECT_TRUE(ran.isEmpty());
    time.advance(1);
    EXPECT_EQ(ran, QStringList{QStringLiteral("cancel")});
}

TEST(ModalChoiceControllerOnQt, ChoosingAnItemRunsOnlyItsBlock)
{
    ScopedVirtualTime time;
    ViewInWindow place;
    QStringList ran;
    auto choices = copyOrMove(ran);
    Runners::setMenuRunner(std::make_shared<QtMenuRunner>());
    {
        ModalDriver driver(ModalDriver::Target::PopupWidget, {Qt::Key_Down, Qt::Key_Down, Qt::Key_Return});
        choices->showModallyFromRect(Rect(0, 0, 20, 20), *place.view);
        EXPECT_FALSE(driver.rescued());
    }
    Runners::reset();
    time.advance(1);
    EXPECT_EQ(ran, QStringList{QStringLiteral("move")});
}
