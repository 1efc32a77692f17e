#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Rect.h"
#include "platform/ui/Cursor.h"
#include "platform/ui/Event.h"
#include "platform/ui/Responder.h"
#include "platform/ui/WindowCompositor.h"

#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget> // QPointer<QWidget>::data() in menuBarWidget needs the complete type
#include <array>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QWidget;

namespace corvex {

class Layer;
class View;
class WindowHost;

// A window: a content view shown in one host QWidget that composites the window's layer
// tree (WindowCompositor) and turns Qt's input into Events (clicks counted, media-clock
// timestamps, Event's modifier flags).
//
// Coordinates. The window's base coordinates are y up with the origin at the bottom left of
// the content area, in points; the content view's frame is (0, 0, contentSize). Qt's widget
// coordinates are y down from the top left; screen coordinates are y up from the bottom of
// the primary screen, Qt's global coordinates y down from its top.
//
// Events (sendEvent). A mouse-down goes to the view the content view's hitTest finds (which
// becomes first responder when it accepts); drags and the mouse-up of that button go to the
// same view wherever the pointer is (an implicit grab); scroll, magnify and tablet events
// go to the view under the pointer; key events to the first responder. Mouse movements go
// through the tracking areas of the window's views: exits first, then entries (with cursor
// updates), then moves; during a drag only areas with EnabledDuringMouseDrag are tracked.
// Every event then travels the responder chain (view, superviews, window).
//
// The host widget is made on first need (show, hostWidget) when there is a QApplication;
// everything else, rendering included, works without it. Main thread only.
class Window : public Responder
{
public:
    explicit Window(Size contentSize = Size(480, 360));
    ~Window() override;
    static std::shared_ptr<Window> create(Size contentSize = Size(480, 360));

    // ---- Content ----
    const std::shared_ptr<View>& contentView() const { return mContentView; }
    // The view leaves its superview and fills the content area; the old content view leaves
    // the window.
    void setContentView(const std::shared_ptr<View>& view);
    Size contentSize() const { return mContentSize; }
    // Resizes the content view (without implicit animation) and the host widget.
    void setContentSize(Size size);
    Rect contentRect() const { return Rect(Point(), mContentSize); }
    // The root of the window's layer tree: the content view's layer is its first sublayer;
    // layers above the content (overlays) may be added after it.
    const std::shared_ptr<Layer>& rootLayer() const { return mRootLayer; }
    const PlatformColor& backgroundColor() const { return mCompositor.backgroundColor(); }
    void setBackgroundColor(const PlatformColor& color) { mCompositor.setBackgroundColor(color); }

    // ---- Responders ----
    // The window itself when no other responder is first.
    Responder* firstResponder() const;
    // Asks the current first responder to resign (refusal: false, nothing changes) and the
    // new one to accept and become (refusal: the window becomes first responder, false).
    // Null means the window. The responder is not owned.
    bool makeFirstResponder(Responder* responder);
    // Whether mouse movements also go to the first responder (tracking areas get them anyway).
    bool acceptsMouseMovedEvents() const { return mAcceptsMouseMoved; }
    void setAcceptsMouseMovedEvents(bool accepts) { mAcceptsMouseMoved = accepts; }

    // ---- Status ----
    // One window of the application is key (takes keys) and one main at a time. The main
    // window is the last key window that can be main: it stays main while no window is key (a
    // menu of its menu bar open, another application active), and when it closes the visible
    // window main before it takes its place.
    bool isKeyWindow() const;
    bool isMainWindow() const;
    static Window* keyWindow();
    static Window* mainWindow();
    // Observers hear of every window that becomes key (a popover closing when the user turns
    // to another window); the handle removes one.
    static int addKeyWindowObserver(std::function<void(Window& key)> observer);
    static void removeKeyWindowObserver(int handle);
    void makeKeyWindow();
    // Nothing for a window that cannot be main.
    void makeMainWindow();
    // True by default; a popover's window is never main (the window it belongs to stays main).
    bool canBecomeMainWindow() const { return mCanBecomeMain; }
    void setCanBecomeMainWindow(bool can);
    // Shows the window, raises it and makes it key and main.
    void makeKeyAndOrderFront();
    // Shows the window (made on first need) and raises it.
    void orderFront();
    void show();
    void orderOut();
    bool isVisible() const { return mVisible; }
    // Asks windowShouldClose, then closes; nothing while a close is under way.
    void performClose();
    // Hides the window (windowWillClose first) and gives up key and main status. Asked for
    // while Qt delivers an event or runs a nested loop (WindowTeardown), the close happens on
    // a later turn: the window is closing until then, and counts as closed for whoever looks
    // for open windows.
    void close();
    bool isClosing() const { return mClosePending; }
    virtual bool windowShouldClose();
    virtual void windowWillClose();
    virtual void becomeKeyWindow();
    virtual void resignKeyWindow();
    virtual void becomeMainWindow();
    virtual void resignMainWindow();

    // A window without a title of its own shows UntitledTitle (the window manager would show
    // the executable's name).
    static inline const QString UntitledTitle = QStringLiteral("Corvex");
    QString title() const { return mTitle; }
    void setTitle(const QString& title);
    // Stored for the window's document.
    QUrl representedURL() const { return mRepresentedURL; }
    void setRepresentedURL(const QUrl& url) { mRepresentedURL = url; }
    // The document-edited mark: "[*]" in the host's title, shown by the window manager.
    bool isDocumentEdited() const { return mDocumentEdited; }
    void setDocumentEdited(bool edited);
    // The window's icon, a named image of the bundle ("cloud"); empty for none.
    QString iconImageName() const { return mIconImageName; }
    void setIconImageName(const QString& name);

    // ---- Frame (screen coordinates, y up from the bottom of the main screen; see
    // ScreenFacade) ----
    // The frame holds the content and the menu bar above it (window decorations are the
    // window manager's and not counted).
    Rect frame() const;
    // Moves and resizes the window so that its frame is `frame` (content size follows,
    // not below the minimum).
    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin);
    Rect frameRectForContentRect(const Rect& contentRect) const;
    Rect contentRectForFrameRect(const Rect& frameRect) const;
    // Centres the frame on the main screen's visible frame, a little above the middle.
    void center();
    Size contentMinSize() const { return mContentMinSize; }
    void setContentMinSize(Size size);

    // A widget shown above the content, across the window (the menu bar); owned by the
    // window's host from then on. Null removes it. Without a host it is deleted.
    void setMenuBarWidget(QWidget* bar);
    QWidget* menuBarWidget() const { return mMenuBar.data(); }
    // The height the menu bar takes above the content (0 without one).
    int menuBarHeight() const { return mMenuBarHeight; }

    // Called when a visible window is about to close and no other window is visible (the
    // application's quit on last window closed); the window is still open during the call.
    static void setLastWindowWillCloseHandler(std::function<void(Window&)> handler);
    // Device pixels per point: the override when set (> 0), else the host widget's device
    // pixel ratio, else 1. A change redraws the views' layers at the new scale.
    double backingScaleFactor() const;
    void setBackingScaleFactorOverride(double scale);

    // ---- Coordinates ----
    Point convertPointFromWidget(QPointF widgetPoint) const;
    QPointF convertPointToWidget(Point basePoint) const;
    QPointF convertPointToGlobal(Point basePoint) const;
    Point convertPointFromGlobal(QPointF globalPoint) const;
    Point convertPointToScreen(Point basePoint) const;
    Point convertPointFromScreen(Point screenPoint) const;
    Rect convertRectToScreen(const Rect& baseRect) const;

    // ---- Events ----
    // Dispatches the event by the rules above; an event without a window gets this one.
    virtual void sendEvent(const Event& event);
    // Monitors see each event sendEvent dispatches before any view does; one answering true
    // has consumed it (a popover closing on a click elsewhere). Returns a handle to remove it.
    using EventMonitor = std::function<bool(const Event& event)>;
    int addEventMonitor(EventMonitor monitor);
    void removeEventMonitor(int handle);
    // The pointer's last known location in base coordinates.
    Point mouseLocationOutsideOfEventStream() const { return mMouseLocation; }
    // The pointer left the window: every tracking area it was in is exited.
    void mouseExitedWindow();
    // The end of the cursor-update chain: the arrow.
    void cursorUpdate(const Event& event) override;
    // Shows the cursor on the host widget.
    void setCursor(const Cursor& cursor);
    const Cursor& cursor() const { return mCursor; }
    // Where Cursor::set shows a cursor: the window dispatching an event, else the key window.
    static Window* cursorWindow();

    // ---- Drawing ----
    // The window's pixels (layout and drawing brought up to date first) at `scale`, or at
    // the backing scale factor when 0: what the screen shows, embedded widgets included.
    QImage renderToImage(double scale = 0);
    WindowCompositor& compositor() { return mCompositor; }
    // The host widget, made on first call; null without a QApplication. Owned by the window.
    QWidget* hostWidget();
    bool hasHostWidget() const { return !mHost.isNull(); }

protected:
    // The host widget was just made (a window that takes drops installs its adapter here).
    virtual void hostWidgetCreated(QWidget&) {}

private:
    // Its views tell it when one leaves (WindowViewLink_p.h).
    friend class ViewToWindowLink;
    friend class WindowHost;

    void viewWillLeaveWindow(View& view);
    void updateTracking(const Event& event, bool dragging, bool outside);
    std::shared_ptr<View> viewAt(Point locationInWindow) const;
    std::shared_ptr<View>& grabFor(Event::Type type);
    void dispatchMouse(const Event& event);
    // From the host widget.
    void hostResized(Size size);
    void hostActivationChanged(bool active);
    // A press of the button that `upType` releases ended without its release reaching the
    // window: the view that took the press is let go, unasked.
    void hostPressLost(Event::Type upType);
    bool hostCloseRequested();
    // Tells of the closing (windowWillClose); false when the window was let go meanwhile.
    bool announceClosing();
    void giveUpKeyAndMain();
    // Puts the host's area at the frame's origin (mFrameOrigin) with the frame's size.
    void placeHost();
    void applyScaleToViews();

    WindowCompositor mCompositor;
    std::shared_ptr<Layer> mRootLayer;
    std::shared_ptr<View> mContentView;
    Size mContentSize;
    Responder::Ref mFirstResponder;
    // The views that took the presses of the left, right and other buttons.
    std::array<std::shared_ptr<View>, 3> mGrabs;
    Point mMouseLocation;
    Cursor mCursor;
    QString mTitle;
    QUrl mRepresentedURL;
    QString mIconImageName;
    QPointer<QWidget> mMenuBar;
    Size mContentMinSize;
    // The frame's origin while there is no host to ask.
    Point mFrameOrigin;
    int mMenuBarHeight = 0;
    bool mDocumentEdited = false;
    double mScaleOverride = 0;
    double mAppliedScale = 1;
    bool mAcceptsMouseMoved = false;
    bool mVisible = false;
    bool mCanBecomeMain = true;
    bool mClosePending = false;
    QPointer<WindowHost> mHost;
    std::vector<std::pair<int, EventMonitor>> mEventMonitors;
    int mNextEventMonitor = 0;
};

} // namespace corvex
