#include "tests/shell/ShellTestSupport.h"

#include "mindmap/DragSupportDelegate.h"
#include "mindmap/ExportAndPrintSeams.h"
#include "model/Globals.h"
#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Menu.h"
#include "platform/ui/MenuItem.h"
#include "shell/ContainerView.h"
#include "shell/MainWindowController.h"
#include "shell/MenuHelper.h"
#include "tests/support/CompletionRecorder.h"
#include "toolkit/ProgressHUD.h"

#include <QAction>
#include <QLineEdit>
#include <gtest/gtest.h>
#include <map>

namespace corvex::test {

namespace {

class KeyListenerDouble final : public MyWindowEventListener
{
public:
    explicit KeyListenerDouble(bool consume) : mConsume(consume) {}
    int asked = 0;
    bool keyDown(const Event&, MyWindow&) override
    {
        ++asked;
        return mConsume;
    }

private:
    bool mConsume;
};

// A screen with its own undo history: the window's undo must not reach it.
class UndoingScreenDouble final : public BaseViewController
{
public:
    int validations = 0;
    bool validateUserInterfaceItem(const MenuItem&) override
    {
        ++validations;
        return true;
    }
};

class DraggingScreenDouble final : public BaseViewController, public DragSupportDelegate
{
public:
    std::vector<DragResult> results;
    bool dragOperationStarted(const DragInfo&) override { return true; }
    DragTarget dragOperationUpdate(const DragInfo&) override { return DragTarget(); }
    void dragOperationExited() override {}
    void dragOperationEndedAcceptingIdea(const DragInfo&, const IdeaPtr&, const QString&,
                                         DropCompletion completion) override
    {
        completion(DragResult::NotAccepted);
    }
    void dragOperationEndedWithResult(const DragInfo&, DragResult result) override
    {
        results.push_back(result);
    }
};

} // namespace

TEST(MyWindowUndo, ServesOnlyTheTextFieldBeingEdited)
{
    ShellRig rig;
    auto window = MyWindow::create(Size(600, 600));
    auto screen = std::make_shared<UndoingScreenDouble>();
    window->switchToViewController(screen, false, {});
    auto undo = MenuItem::create(QStringLiteral("Undo"));
    undo->setActionId(MyWindow::UndoAction);
    EXPECT_TRUE(window->respondsToAction(MyWindow::UndoAction));
    EXPECT_FALSE(window->validateAction(MyWindow::UndoAction, *undo)); // the window is first responder
    EXPECT_EQ(screen->validations, 0);

    auto field = EmbeddedWidgetView::createLineEdit(Rect(10, 10, 200, 22));
    window->containerView()->addSubview(field);
    ASSERT_TRUE(window->makeFirstResponder(field.get()));
    field->lineEdit()->insert(QStringLiteral("ab"));
    field->lineEdit()->insert(QStringLiteral("c"));
    ASSERT_TRUE(window->validateAction(MyWindow::UndoAction, *undo));
    window->performAction(MyWindow::UndoAction, *undo);
    EXPECT_NE(field->lineEdit()->text(), QStringLiteral("abc"));
    auto redo = MenuItem::create(QStringLiteral("Redo"));
    redo->setActionId(MyWindow::RedoAction);
    ASSERT_TRUE(window->validateAction(MyWindow::RedoAction, *redo));
    window->performAction(MyWindow::RedoAction, *redo);
    EXPECT_EQ(field->lineEdit()->text(), QStringLiteral("abc"));

    auto other = MenuItem::create(QStringLiteral("Zoom"));
    other->setActionId(QStringLiteral("qvZoomIn:"));
    EXPECT_TRUE(window->validateAction(QStringLiteral("qvZoomIn:"), *other));
    EXPECT_EQ(screen->validations, 1);
    window->close();
}

TEST(MyWindowKeys, EveryListenerIsAskedAndOneYesConsumes)
{
    ShellRig rig;
    auto window = MyWindow::create(Size(600, 600));
    auto first = std::make_shared<KeyListenerDouble>(true);
    auto second = std::make_shared<KeyListenerDouble>(false);
    window->addListener(first);
    window->addListener(second);
    window->keyDown(Event::keyDown(QStringLiteral("a")));
    EXPECT_EQ(first->asked, 1);
    EXPECT_EQ(second->asked, 1);
    window->removeListener(first.get());
    window->keyDown(Event::keyDown(QStringLiteral("a")));
    EXPECT_EQ(first->asked, 1);
    EXPECT_EQ(second->asked, 2);
}

TEST(MyWindowSwitch, AnimatedFirstSwitchFadesInAndCompletesWhenTheFadeEnds)
{
    ShellRig rig;
    auto window = MyWindow::create(Size(600, 600));
    auto first = std::make_shared<UndoingScreenDouble>();
    CompletionRecorder recorder;
    window->switchToViewController(first, true, recorder.expect<>(QStringLiteral("faded in")));
    EXPECT_EQ(first->view()->layer()->opacity(), 0.0f);
    rig.time.advance(0.1);
    EXPECT_EQ(recorder.callCount(QStringLiteral("faded in")), 0) << "answered before the fade ended";
    rig.time.advance(0.2);
    EXPECT_EQ(first->view()->layer()->opacity(), 1.0f);
    EXPECT_TRUE(recorder.verify());

    auto second = std::make_shared<UndoingScreenDouble>();
    window->switchToViewController(second, true, {});
    EXPECT_NE(first->view()->superview(), nullptr); // the old view stays while the fade runs
    rig.time.advance(0.3);
    EXPECT_EQ(first->view()->superview(), nullptr);
    EXPECT_EQ(window->controllerClassName(), QStringLiteral("UndoingScreenDouble"));
    EXPECT_TRUE(rig.app->stateIsDirty());
}

TEST(MyWindowSwitch, ASwitchWithoutFadeOrWithoutAScreenAnswersOnTheNextTurn)
{
    ShellRig rig;
    auto window = MyWindow::create(Size(600, 600));
    CompletionRecorder recorder;
    window->switchToViewController(std::make_shared<UndoingScreenDouble>(), false,
                                   recorder.expect<>(QStringLiteral("shown")));
    window->switchToViewController(nullptr, true, recorder.expect<>(QStringLiteral("no screen")));
    rig.time.advance(0.01);
    EXPECT_TRUE(recorder.verify());
    EXPECT_EQ(window->controllerClassName(), QStringLiteral("UndoingScreenDouble"));
}

TEST(MyWindowSwitch, TheBecameMainHandlerRunsOnTheNextTurnOnlyWhileTheWindowLives)
{
    ShellRig rig;
    int calls = 0;
    auto window = MyWindow::create(Size(600, 600));
    window->setBecameMainHandler([&calls] { ++calls; });
    window->switchToViewController(std::make_shared<UndoingScreenDouble>(), false, {});
    EXPECT_EQ(calls, 0) << "not inside the switch";
    rig.time.advance(0.01);
    EXPECT_EQ(calls, 1);

    window->switchToViewController(std::make_shared<UndoingScreenDouble>(), false, {});
    window.reset();
    rig.time.advance(0.01);
    EXPECT_EQ(calls, 1) << "a window gone before the next turn runs nothing";
}

TEST(MyWindowNotice, ShowsAfterADelayAndLeavesNothingBehind)
{
    ShellRig rig;
    auto window = MyWindow::create(Size(600, 600));
    const std::size_t before = window->containerView()->subviews().size();
    window->showShortNotificationToUser(QStringLiteral("Copied to clipboard"));
    window->showShortNotificationToUser(QStringLiteral("Error importing contents"));
    EXPECT_TRUE(ProgressHUD::allHUDsForView(*window->containerView()).empty());
    rig.time.advance(MyWindow::NotificationDelay + 0.05);
    const auto shown = ProgressHUD::allHUDsForView(*window->containerView());
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0]->labelText(), QStringLiteral("Copied to clipboard"));
    // Over: their views have left the container.
    rig.time.advance(MyWindow::NotificationDuration + 1.0);
    EXPECT_TRUE(ProgressHUD::allHUDsForView(*window->containerView()).empty());
    EXPECT_EQ(window->containerView()->subviews().size(), before);
}

TEST(MyWindowIcon, OnlyCloudLocationsWithAStatusShowOne)
{
    ShellRig rig;
    auto window = MyWindow::create(Size(600, 600));
    window->setCloudIconStateForLocation(3); // no Dropbox back end: status 0
    EXPECT_TRUE(window->cloudIconName().isEmpty());
    window->setCloudIconStateForLocation(0);
    EXPECT_TRUE(window->cloudIconName().isEmpty());
}

TEST(MyWindowDrag, ADragStartEndsAtOnceWithNothingTaken)
{
    ShellRig rig;
    auto window = MyWindow::create(Size(600, 600));
    auto screen = std::make_shared<DraggingScreenDouble>();
    window->switchToViewController(screen, false, {});
    window->startDragForEvent(Event::mouseDragged(Point(40, 50)), *window->containerView(), nullptr,
                              DragTarget());
    EXPECT_EQ(screen->results, (std::vector<DragResult>{DragResult::NotAccepted}));
}

TEST(MyWindowClose, ClosingLeavesTheWindowList)
{
    ShellRig rig;
    ASSERT_TRUE(rig.app->windowControllers().empty());
    auto controller = MainWindowController::initForRestoration();
    // Closing it takes it out of the application's list.
    rig.app->addAndShowNewWindowController(controller);
    ASSERT_EQ(rig.windowCount(), 1u);
    controller->myWindow()->close();
    EXPECT_EQ(rig.windowCount(), 0u);
}

} // namespace corvex::test

namespace corvex::test {

TEST(ShellMenus, CloudWindowItemFollowsTheStorageChoiceAndSubmenusAreValidatedToo)
{
    ShellRig rig;
    const auto menu = rig.app->mainMenu();
    ASSERT_NE(menu, nullptr);
    std::shared_ptr<MenuItem> newCloud;
    std::shared_ptr<MenuItem> newLocal;
    for (const auto& top : menu->items()) {
        if (!top->submenu())
            continue;
        for (const auto& item : top->submenu()->items()) {
            if (item->actionId() == QLatin1String("qvNewCloudWindow:"))
                newCloud = item;
            if (item->actionId() == QLatin1String("qvNewLocalFile:"))
                newLocal = item;
        }
    }
    ASSERT_TRUE(newCloud && newLocal);
    EXPECT_EQ(newLocal->keyEquivalent(), QStringLiteral("n"));
    auto window = MyWindow::create(Size(600, 600));
    MenuBar* bar = MenuBar::install(*window, menu);
    ASSERT_NE(bar, nullptr);
    Globals::optForICloud(false);
    MenuHelper::updateMenuRecursively(menu.get(), window.get());
    EXPECT_FALSE(bar->actionFor(newCloud.get())->isEnabled());
    EXPECT_TRUE(bar->actionFor(newLocal.get())->isEnabled());
    Globals::optForICloud(true);
    MenuHelper::updateMenuRecursively(menu.get(), window.get());
    EXPECT_TRUE(bar->actionFor(newCloud.get())->isEnabled());
    Globals::optForICloud(false);
    window->close();
}

TEST(ShellMenus, TheDocumentScreenAnswersItsFileItemsThroughTheWindow)
{
    ShellRig rig;
    int printed = 0;
    MapPrinter::setFactory([&](const IdeaPtr& root, const QDateTime&) -> std::shared_ptr<MapPrinter> {
        struct CountingPrinter final : MapPrinter
        {
            explicit CountingPrinter(int& count) : mCount(count) {}
            void runPrintOperation(Window*) override { ++mCount; }
            int& mCount;
        };
        return root ? std::make_shared<CountingPrinter>(printed) : nullptr;
    });
    rig.app->createNewLocalFileWithInitialAction(MainWindowController::InitialActionNone);
    ASSERT_TRUE(rig.settle([&] { return !rig.app->windowControllers().empty(); }));
    MyWindow* window = rig.app->windowControllers().front()->myWindow().get();
    const auto menu = rig.app->mainMenu();
    std::map<QString, std::shared_ptr<MenuItem>> items;
    for (const auto& top : menu->items())
        if (top->submenu())
            for (const auto& item : top->submenu()->items())
                items[item->actionId()] = item;
    // A new document lives in the temporary location: it can be saved, exported and printed.
    for (const char* action : {"qvSaveLocalFile:", "qvSaveLocalFileAs:", "qvExport:", "qvPrintIdea:"}) {
        ASSERT_TRUE(items.count(QString::fromLatin1(action))) << action;
        EXPECT_TRUE(ActionRouter::validate(window, *items[QString::fromLatin1(action)])) << action;
    }
    EXPECT_TRUE(ActionRouter::perform(window, *items[QStringLiteral("qvPrintIdea:")]));
    EXPECT_EQ(printed, 1);
    MapPrinter::setFactory({});
}

} // namespace corvex::test
