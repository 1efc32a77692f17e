#pragma once

#include "platform/gfx/PlatformImage.h"
#include "toolkit/BaseView.h"

#include <QtGlobal>
#include <memory>

namespace corvex {

class BaseImageView;
class Event;
class Idea;
class IdeaAdderViewDelegate;
class TrackingArea;

// The circular plus control the solar-system view puts into the gaps between planets: a
// click (press and release inside) asks the delegate to add an idea there. While the mind map
// is in docking mode every adder shows a small dock mark that lights up while a dragged idea
// is over it.
//
// States: 1 the plus ("plus_on_circle"), 2 the highlighted plus ("plus_on_circle_hover"),
// 3 the dock mark ("small_dock_active" in focus, else "small_dock"); any other state hides
// the adder and leaves its image alone. In state 1 the pointer over the adder enlarges the
// image to 1.25. Main thread only.
class IdeaAdderView : public BaseView
{
public:
    // Unprepared: use create().
    IdeaAdderView();
    ~IdeaAdderView() override;

    // Frame (0, 0, 40, 40), the plus image centred, state 1.
    static std::shared_ptr<IdeaAdderView> create();

    QString className() const override;

    quint64 adderState() const { return mAdderState; }
    // Applies the state table when the state changes; the same state changes nothing.
    void setAdderState(quint64 state);
    bool inFocus() const { return mInFocus; }
    // Applies the state table when the flag changes.
    void setInFocus(bool inFocus);
    // Shows the state's image, or hides the adder.
    void reactToStateChange();

    // The control action of a click: tells the delegate.
    void handleTap();

    // Held weakly: a delegate that is gone is skipped.
    std::shared_ptr<IdeaAdderViewDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::shared_ptr<IdeaAdderViewDelegate>& delegate) { mDelegate = delegate; }
    // The idea the adder belongs to, set by the owner.
    const std::shared_ptr<Idea>& objectTag() const { return mObjectTag; }
    void setObjectTag(const std::shared_ptr<Idea>& idea) { mObjectTag = idea; }

    // The image view showing the current image, and the tracking area now installed.
    const std::shared_ptr<BaseImageView>& imageView() const { return mImageView; }
    const std::shared_ptr<TrackingArea>& trackingArea() const { return mTrackingArea; }

    // ---- View ----
    // The rectangular test of the view; a point on the image view answers the adder, which
    // takes the click.
    View* hitTest(Point pointInSuperview) override;
    // A new area over the bounds: entered and exited, active in the key window, in the
    // visible rectangle, owned by the adder.
    void updateTrackingAreas() override;
    // In state 1, when the pointer is over the adder, the image grows to 1.25.
    void mouseEntered(const Event& event) override;
    // The image back to 1.0; in state 1 the plus again.
    void mouseExited(const Event& event) override;
    // A press starts a click; the release inside the adder ends it with handleTap. Neither
    // travels further.
    void mouseDown(const Event& event) override;
    void mouseDragged(const Event& event) override;
    void mouseUp(const Event& event) override;

private:
    void prepareIdeaAdderView();

    std::shared_ptr<BaseImageView> mImageView;
    PlatformImage mPlusIcon;
    PlatformImage mPlusIconActive;
    PlatformImage mSmallDockIcon;
    PlatformImage mSmallDockActiveIcon;
    std::shared_ptr<TrackingArea> mTrackingArea;
    bool mInFocus = false;
    bool mPressed = false;
    quint64 mAdderState = 0;
    std::weak_ptr<IdeaAdderViewDelegate> mDelegate;
    std::shared_ptr<Idea> mObjectTag;
};

} // namespace corvex
