#include "shell/MyWindow.h"

#include "mindmap/DragSupportDelegate.h"
#include "model/Globals.h"
#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/ui/EmbeddedWidgetView.h"
#include "platform/ui/Layer.h"
#include "platform/ui/TypeName.h"
#include "shell/AppDelegate.h"
#include "shell/ContainerView.h"
#include "shell/DropboxNoticeBoard.h"
#include "shell/MenuHelper.h"
#include "storage/IdeaDocument.h"
#include "storage/PersistenceController.h"
#include "toolkit/Animator.h"
#include "toolkit/BaseViewController.h"
#include "toolkit/ProgressHUD.h"

#include <QLineEdit>
#include <QTextDocument>
#include <QTextEdit>
#include <QWidget>
#include <typeinfo>
#include <utility>

namespace corvex {

namespace {

// The Qt text widget behind the window's first responder, when it is a text field.
QWidget* myWindowTextWidget(const Window& window)
{
    auto* embedded = dynamic_cast<EmbeddedWidgetView*>(window.firstResponder());
    if (embedded && embedded->widget())
        return embedded->widget();
    return nullptr;
}

bool myWindowCanUndo(QWidget* widget, bool redo)
{
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        return redo ? line->isRedoAvailable() : line->isUndoAvailable();
    if (auto* text = qobject_cast<QTextEdit*>(widget))
        return text->document() &&
               (redo ? text->document()->isRedoAvailable() : text->document()->isUndoAvailable());
    return false;
}

void myWindowUndo(QWidget* widget, bool redo)
{
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        redo ? line->redo() : line->undo();
    else if (auto* text = qobject_cast<QTextEdit*>(widget))
        redo ? text->redo() : text->undo();
}

QString cloudIconForStatus(WorkspaceStatus status)
{
    switch (status) {
    case WorkspaceStatus::InSync:
        return QStringLiteral("cloud");
    case WorkspaceStatus::Starting:
    case WorkspaceStatus::Synchronising:
        return QStringLiteral("sync");
    case WorkspaceStatus::Error:
        return QStringLiteral("error");
    case WorkspaceStatus::Unavailable:
        break;
    }
    return QString();
}

} // namespace

MyWindowEventListener::~MyWindowEventListener() = default;

MyWindow::MyWindow(Size contentSize) : Window(contentSize)
{
    setTitle(DefaultTitle);
    setContentMinSize(Size(MinContentSide, MinContentSide));
    setBackgroundColor(PlatformColor::white());
    mContainerView = ContainerView::createWithNamedView(QStringLiteral("example_welcome"));
    setContentView(mContainerView);
}

MyWindow::~MyWindow() = default;

std::shared_ptr<MyWindow> MyWindow::create(Size contentSize)
{
    return std::make_shared<MyWindow>(contentSize);
}

std::shared_ptr<View> MyWindow::containerView() const
{
    return mContainerView;
}

QString MyWindow::classNameOf(const BaseViewController& screen)
{
    return unqualifiedTypeName(typeid(screen));
}

QString MyWindow::controllerClassName() const
{
    return mCurrentController ? classNameOf(*mCurrentController) : QString();
}

MyWindow* MyWindow::forView(const View& view)
{
    return dynamic_cast<MyWindow*>(view.window());
}

void MyWindow::switchToViewController(const std::shared_ptr<BaseViewController>& screen, bool animated,
                                      Completion<> completion)
{
    // The caller hears once the new screen shows: after its fade, or on the next turn. The
    // fade's block may be copied, so it shares the completion.
    auto done = std::make_shared<Completion<>>(std::move(completion));
    const auto answer = [done] {
        if (*done)
            (*done)();
    };
    if (!screen) {
        answer();
        return;
    }
    // The window shows its top-level screen itself, so it runs the screens' appearance hooks
    // (the new view loaded first): the mind-map screen builds its dock and listens to storage
    // only once its view is in a window.
    std::shared_ptr<BaseViewController> previous =
        mCurrentController != screen ? mCurrentController : nullptr;
    const bool appears = mCurrentController != screen;
    if (appears) {
        screen->loadViewIfNeeded();
        if (previous)
            previous->viewWillDisappear();
        screen->viewWillAppear();
    }
    std::shared_ptr<View> oldView = mCurrentController ? mCurrentController->view() : nullptr;
    mCurrentController = screen;
    std::shared_ptr<View> newView = screen->view();
    if (newView == oldView)
        oldView.reset();
    mContainerView->addHostedView(newView);
    mContainerView->setNeedsLayout(true);
    makeFirstResponder(nullptr);
    screen->becameTopLevelController();

    if (!animated) {
        if (oldView)
            mContainerView->removeHostedView(oldView);
    } else {
        newView->layer()->setOpacity(0);
        auto animator = Animator::create(float(FadeDuration), 60);
        std::weak_ptr<ContainerView> container = mContainerView;
        std::weak_ptr<View> weakNew = newView;
        animator->play([container, weakNew, oldView, animator, answer](Animator& running) {
            const double progress = running.updateProgress();
            if (auto view = weakNew.lock())
                view->layer()->setOpacity(float(Animator::cubicEaseOut(progress)));
            if (oldView)
                oldView->layer()->setOpacity(float(1.0 - progress));
            if (progress >= 1.0) {
                if (auto host = container.lock(); host && oldView)
                    host->removeHostedView(oldView);
                running.deactivate();
                answer();
            }
        });
    }

    // The menus follow the new screen on the next turn (H20A's menu bar re-validates on
    // activation; the application hears it through the became-main handler).
    postWhileAlive([](MyWindow& window) {
        if (window.mBecameMain)
            window.mBecameMain();
    });
    Globals::markPersistentAppStateDirty();
    if (appears) {
        screen->viewDidAppear();
        if (previous)
            previous->viewDidDisappear();
    }
    if (!animated)
        answer();
}

void MyWindow::setDocURL(const QUrl& url)
{
    mDocURL = url;
    setRepresentedURL(url);
    if (QWidget* host = hasHostWidget() ? hostWidget() : nullptr)
        host->setWindowFilePath(url.isLocalFile() ? url.toLocalFile() : QString());
}

void MyWindow::setDocumentEdited(bool edited)
{
    Window::setDocumentEdited(edited);
}

void MyWindow::setCloudIconStateForLocation(unsigned location)
{
    QString name;
    if (location == IdeaDocument::ICloudLocation || location == IdeaDocument::DropboxLocation)
        name = cloudIconForStatus(PersistenceController::singleton().statusForLocation(location));
    setIconImageName(name);
    mCloudLocation = location;
    // A notice of the location that waits for a window of it can show now.
    const auto app = AppDelegate::shared();
    if (location == IdeaDocument::DropboxLocation && app)
        app->dropboxNotices().dropboxWindowShown();
}

void MyWindow::showShortNotificationToUser(const QString& text)
{
    std::weak_ptr<ContainerView> container = mContainerView;
    MainQueue::postAfter(NotificationDelay, [container, text] {
        auto host = container.lock();
        if (!host)
            return;
        auto hud = ProgressHUD::showHUDAddedTo(*host, true);
        hud->setMode(ProgressHUD::ModeText);
        hud->setLabelText(text);
        // Gone with the notice: notices of a long session would pile up in the container.
        hud->setRemoveFromSuperViewOnHide(true);
        hud->hide(true, NotificationDuration);
    });
}

void MyWindow::startDragForEvent(const Event& event, View&, const std::shared_ptr<IdeaView>&,
                                 const DragTarget& returnTarget)
{
    auto* screen = dynamic_cast<DragSupportDelegate*>(mCurrentController.get());
    if (!screen)
        return;
    DragInfo info;
    info.location = event.locationInWindow();
    info.source = DragInfo::Source::ThisWindow;
    info.returnTarget = returnTarget;
    info.objectType = DragInfo::ObjectType::IdeaObject;
    screen->dragOperationEndedWithResult(info, DragResult::NotAccepted);
}

void MyWindow::addListener(const std::shared_ptr<MyWindowEventListener>& listener)
{
    if (listener)
        mListeners.push_back(listener);
}

void MyWindow::removeListener(const MyWindowEventListener* listener)
{
    const auto copy = mListeners;
    mListeners.clear();
    for (const auto& holder : copy) {
        auto held = holder.lock();
        if (held.get() != listener)
            mListeners.push_back(holder);
    }
}

bool MyWindow::canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier)
{
    return mCurrentController ? mCurrentController->canWeSafelyDeleteIdea(ideaIdentifier, docIdentifier)
                              : true;
}

std::optional<BaseViewController::UnsavedChanges> MyWindow::unsavedChanges() const
{
    return mCurrentController ? mCurrentController->unsavedChanges() : std::nullopt;
}

bool MyWindow::respondsToAction(const QString& actionId) const
{
    if (actionId == UndoAction || actionId == RedoAction || actionId == MenuHelper::CloseAction ||
        actionId == MenuHelper::MinimizeAction)
        return true;
    auto* target = dynamic_cast<ActionTarget*>(mCurrentController.get());
    return target && target->respondsToAction(actionId);
}

bool MyWindow::validateAction(const QString& actionId, const MenuItem& item)
{
    if (actionId == UndoAction || actionId == RedoAction)
        return myWindowCanUndo(myWindowTextWidget(*this), actionId == RedoAction);
    if (actionId == MenuHelper::CloseAction || actionId == MenuHelper::MinimizeAction)
        return true;
    // The screen decides the rest (its validateUserInterfaceItem); no screen, nothing enabled.
    return mCurrentController && mCurrentController->validateAction(actionId, item);
}

void MyWindow::performAction(const QString& actionId, MenuItem& item)
{
    if (actionId == UndoAction || actionId == RedoAction) {
        QWidget* widget = myWindowTextWidget(*this);
        const bool redo = actionId == RedoAction;
        if (myWindowCanUndo(widget, redo))
            myWindowUndo(widget, redo);
        return;
    }
    if (actionId == MenuHelper::CloseAction) {
        performClose();
        return;
    }
    if (actionId == MenuHelper::MinimizeAction) {
        if (QWidget* host = hasHostWidget() ? hostWidget() : nullptr)
            host->showMinimized();
        return;
    }
    if (auto* target = dynamic_cast<ActionTarget*>(mCurrentController.get()))
        target->performAction(actionId, item);
}

void MyWindow::keyDown(const Event& event)
{
    bool consumed = false;
    const auto copy = mListeners;
    for (const auto& holder : copy) {
        if (auto listener = holder.lock())
            consumed = listener->keyDown(event, *this) || consumed;
    }
    if (!consumed)
        Window::keyDown(event);
}

void MyWindow::becomeMainWindow()
{
    Window::becomeMainWindow();
    postWhileAlive([](MyWindow& window) {
        if (window.mCurrentController)
            window.mCurrentController->becameTopLevelController();
        if (window.mBecameMain)
            window.mBecameMain();
    });
}

void MyWindow::postWhileAlive(std::function<void(MyWindow& window)> block)
{
    // The responder's own weak reference: it answers null once the window is destroyed.
    const Responder::Ref self(this);
    MainQueue::post([self, block = std::move(block)] {
        if (Responder* alive = self.get())
            block(static_cast<MyWindow&>(*alive));
    });
}

bool MyWindow::windowShouldClose()
{
    return mCurrentController ? mCurrentController->startClosingCanCloseNow() : true;
}

void MyWindow::windowWillClose()
{
    Window::windowWillClose();
    if (mWillClose) {
        auto handler = mWillClose;
        handler();
    }
}

} // namespace corvex
