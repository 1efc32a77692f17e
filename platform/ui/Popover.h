#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/Rect.h"

#include <QPointer>

#include <memory>
#include <vector>

class QAction;

namespace corvex {

class Event;
class PopoverDelegate;
class View;
class ViewController;
class Window;

// A popover: a top-level window without the window manager's decorations, showing a view
// controller's view beside a rectangle of a view (the positioning view), on a preferred edge,
// inside a frame of its own (a line of FrameWidth in frameColor() drawn over the content's
// edge). Its window takes the keys when it takes the keyboard, but is never the main window.
//
// Placement. The edge is read in the positioning view's own coordinates, so the maximum-Y
// edge of a flipped view is its lower edge on screen: the popover hangs below the rectangle,
// above it when there is no room below, beside it when there is room neither below nor
// above, and is always moved into the content area of the positioning window (where that is
// on screen), never over its menu bar. It covers the rectangle only when it fits nowhere
// beside it; its edges lie on whole points, the one facing the rectangle rounded away from
// it. A change of the content size resizes and places the popover at once.
//
// Closing. Transient and semi-transient popovers close on a click elsewhere in the
// positioning window (the click is consumed; not the second click of a double click whose
// first click showed the popover), on Escape, in either window, and when another
// window becomes key (the user turned to it; keys typed into the popover keep it open); the
// decision is made in our own window event dispatch, so it holds offscreen too. performClose closes
// programmatically. The delegate hears will show, did show and did close (once per showing).
//
// A popover that takes the keyboard becomes the key window while shown (an editor), and the
// key equivalents of its positioning window's menu bar work in it, for that window; one that
// does not never takes the keyboard (a note display). The popover keeps itself and its content
// controller alive while shown. Main thread only.
class Popover : public std::enable_shared_from_this<Popover>
{
public:
    enum class Behavior
    {
        ApplicationDefined = 0,
        Transient = 1,
        SemiTransient = 2,
    };
    enum class Edge
    {
        MinX = 0,
        MinY = 1,
        MaxX = 2,
        MaxY = 3,
    };

    static constexpr double FrameWidth = 1;
    static PlatformColor frameColor();

    explicit Popover(bool takesKeyboard = true);
    ~Popover();
    static std::shared_ptr<Popover> create(bool takesKeyboard = true);

    std::shared_ptr<ViewController> contentViewController() const { return mContent.lock(); }
    // Held weakly, and strongly while shown.
    void setContentViewController(const std::shared_ptr<ViewController>& controller);
    std::shared_ptr<PopoverDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(std::weak_ptr<PopoverDelegate> delegate) { mDelegate = std::move(delegate); }
    Behavior behavior() const { return mBehavior; }
    void setBehavior(Behavior behavior) { mBehavior = behavior; }
    // Kept for callers that ask; showing and closing are immediate.
    bool animates() const { return mAnimates; }
    void setAnimates(bool animates) { mAnimates = animates; }
    bool takesKeyboard() const { return mTakesKeyboard; }

    Size contentSize() const { return mContentSize; }
    void setContentSize(Size size);

    // Shows the content controller's view beside `rect` (in the positioning view's
    // coordinates). A popover without content or whose view is in no window logs and stays
    // closed.
    void showRelativeToRect(const Rect& rect, View& positioningView, Edge preferredEdge);
    bool isShown() const { return mShown; }
    void performClose();

    // The popover's window while it exists (made at the first showing), and its frame on
    // screen (y up).
    Window* window() const { return mWindow.get(); }
    Rect frame() const;
    // The frame for the content size beside the anchor (screen coordinates, y up), kept inside
    // `visible`.
    static Rect placedFrame(Size content, const Rect& anchorOnScreen, Edge edge, const Rect& visible);

private:
    void place();
    bool positioningEvent(const Event& event);
    bool popoverEvent(const Event& event);
    void detachMonitors();
    // Closes a shown popover; one that took the keyboard gives it back to its window unless
    // the user turned to another window.
    void closeShown(bool keysBack);
    // Makes the popover's window key again, on a later turn.
    void reclaimKeys();
    void shareShortcuts();
    void withdrawShortcuts();

    std::weak_ptr<ViewController> mContent;
    std::shared_ptr<ViewController> mShownContent;
    std::shared_ptr<Popover> mSelfWhileShown;
    std::weak_ptr<PopoverDelegate> mDelegate;
    std::shared_ptr<Window> mWindow;
    std::weak_ptr<const int> mPositioningLife;
    Window* mPositioningWindow = nullptr;
    Rect mAnchorOnScreen;
    // When the popover was last shown, on the media clock, and until when its positioning
    // window taking the keys (from the second click of a double click) gives them back.
    double mShownAt = 0;
    double mReclaimKeysUntil = -1;
    Edge mEdge = Edge::MaxY;
    Size mContentSize{320, 360};
    Behavior mBehavior = Behavior::ApplicationDefined;
    std::vector<QPointer<QAction>> mSharedShortcuts;
    int mPositioningMonitor = 0;
    int mOwnMonitor = 0;
    int mKeyObserver = 0;
    bool mTakesKeyboard = true;
    bool mAnimates = false;
    bool mShown = false;
    // The release of a press the popover took is taken too.
    bool mSwallowingRelease = false;
};

} // namespace corvex
