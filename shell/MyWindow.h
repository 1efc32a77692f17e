#pragma once

#include "mindmap/DocumentWindowServices.h"
#include "platform/ui/MenuBar.h"
#include "platform/ui/Window.h"
#include "storage/IdeaDocument.h"
#include "toolkit/BaseViewController.h"

#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

class AppDelegate;
class BaseViewController;
class ContainerView;
class MenuItem;
class MyWindow;

// Offered every key press of a main window before the window handles it.
class MyWindowEventListener
{
public:
    virtual ~MyWindowEventListener();
    // True when the listener consumed the key.
    virtual bool keyDown(const Event& event, MyWindow& window) = 0;
};

// A main window: one top-level screen at a time in its container view, the document's file
// and edited flag, the cloud status icon, short notices, key listeners
// and the undo and redo of a text field being edited. Main thread only.
class MyWindow : public Window, public DocumentWindowServices, public ActionTarget
{
public:
    static constexpr double MinContentSide = 520;
    static constexpr double FadeDuration = 0.2;
    static constexpr double NotificationDelay = 0.2;
    static constexpr double NotificationDuration = 1.1;
    static inline const QString DefaultTitle = QStringLiteral("Corvex Desktop");
    static inline const QString UndoAction = QStringLiteral("qvUndo:");
    static inline const QString RedoAction = QStringLiteral("qvRedo:");

    explicit MyWindow(Size contentSize);
    ~MyWindow() override;
    static std::shared_ptr<MyWindow> create(Size contentSize);

    // ---- DocumentWindowServices ----
    std::shared_ptr<View> containerView() const override;
    void switchToViewController(const std::shared_ptr<BaseViewController>& screen, bool animated,
                                Completion<> completion) override;
    void setDocURL(const QUrl& url) override;
    void setDocumentEdited(bool edited) override;
    bool isDocumentEdited() const override { return Window::isDocumentEdited(); }
    void setCloudIconStateForLocation(unsigned location) override;
    void showShortNotificationToUser(const QString& text) override;
    // A plain main window takes part in no drag: the screen hears at once that nothing was
    // taken (DragResult::NotAccepted). DragSupportWindow carries drags and the dock.
    void startDragForEvent(const Event& event, View& fromView,
                           const std::shared_ptr<IdeaView>& exampleIdeaView,
                           const DragTarget& returnTarget) override;

    // ---- The window's own ----
    const std::shared_ptr<ContainerView>& container() const { return mContainerView; }
    const std::shared_ptr<BaseViewController>& controller() const { return mCurrentController; }
    // The class name of the current screen ("SolarSystemViewController", ...); empty without.
    QString controllerClassName() const;
    QUrl docURL() const { return mDocURL; }
    // The named image the cloud status shows ("cloud", "sync", "error"; empty for none): the
    // window's icon, as the title bar has no document button here.
    QString cloudIconName() const { return iconImageName(); }
    // The location the screen last set the cloud icon for (0 until then).
    unsigned cloudLocation() const { return mCloudLocation; }

    void addListener(const std::shared_ptr<MyWindowEventListener>& listener);
    void removeListener(const MyWindowEventListener* listener);

    bool canWeSafelyDeleteIdea(const QString& ideaIdentifier, const QString& docIdentifier);
    // The current screen's changes that could not be written; none without a screen.
    std::optional<BaseViewController::UnsavedChanges> unsavedChanges() const;

    // ---- ActionTarget ----
    // Undo and redo of the text field being edited (only that: a screen's own history is not
    // reached through them), and what the current screen handles, validated by the screen
    // (a window without a screen disables them).
    bool respondsToAction(const QString& actionId) const override;
    bool validateAction(const QString& actionId, const MenuItem& item) override;
    void performAction(const QString& actionId, MenuItem& item) override;

    // Runs when the window is about to close (the controller leaves the window list).
    void setWillCloseHandler(std::function<void()> handler) { mWillClose = std::move(handler); }
    // Runs after the screen was told it is top-level again, when the window becomes main.
    void setBecameMainHandler(std::function<void()> handler) { mBecameMain = std::move(handler); }

    // The class name of a screen, as stored in "controllerClass".
    static QString classNameOf(const BaseViewController& screen);
    // The window that `view` is in, when it is a main window.
    static MyWindow* forView(const View& view);

    // ---- Window ----
    void keyDown(const Event& event) override;
    void becomeMainWindow() override;
    bool windowShouldClose() override;
    void windowWillClose() override;

private:
    // Runs `block` with this window on a later turn of the main queue, unless the window is
    // gone by then.
    void postWhileAlive(std::function<void(MyWindow& window)> block);

    std::shared_ptr<ContainerView> mContainerView;
    std::shared_ptr<BaseViewController> mCurrentController;
    std::vector<std::weak_ptr<MyWindowEventListener>> mListeners;
    QUrl mDocURL;
    StorageLocation mCloudLocation = IdeaDocument::TemporaryLocation;
    std::function<void()> mWillClose;
    std::function<void()> mBecameMain;
};

} // namespace corvex
