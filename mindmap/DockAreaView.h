#pragma once

#include "toolkit/BaseImageView.h"
#include "toolkit/UserInteractionProtocol.h"

#include <QString>
#include <memory>

namespace corvex {

class DockAreaViewDelegate;
class Event;
class Idea;
class SimpleIdeaView;

// The dock: a 40 x 40 drop area showing the "dock" artwork that holds at most one idea,
// shown as a role-3 idea view scaled down into it. Pressing the mouse on a docked idea takes
// it out of the dock and hands it to the delegate to be dragged; what happens to it then is
// the delegate's business. Main thread only.
class DockAreaView : public BaseImageView, public UserInteractionProtocol
{
public:
    // Unprepared: use create().
    DockAreaView();
    ~DockAreaView() override;

    // Frame (0, 0, 40, 40), the dock artwork, interaction enabled, empty.
    static std::shared_ptr<DockAreaView> create();

    QString className() const override;

    // With an idea, a role-3 view of it taken in (replacing the docked one); with null, the
    // dock is emptied.
    void takeIdeaInside(const Idea* idea, const QString& docIdentifier);
    // The docked view leaves; a new one is added on top, centred, at z position 1, scaled by
    // scaleForView about its centre.
    void takeIdeaViewInside(const std::shared_ptr<SimpleIdeaView>& ideaView);
    // The dock's height over the view's frame height, times 1.2 (single precision).
    float scaleForView(const View& view) const;
    // The docked view, or null.
    const std::shared_ptr<SimpleIdeaView>& ideaView() const { return mIdeaView; }

    // Held weakly: a delegate that is gone is skipped.
    std::shared_ptr<DockAreaViewDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::shared_ptr<DockAreaViewDelegate>& delegate) { mDelegate = delegate; }

    // ---- UserInteractionProtocol ----
    bool userInteractionEnabled() const override { return mUserInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) override { mUserInteractionEnabled = enabled; }

    // ---- Events ----
    // Enabled with an idea docked: the idea view leaves the dock and goes to the delegate.
    // Enabled and empty: nothing, and the event goes no further. Disabled: passed on.
    void mouseDown(const Event& event) override;
    // Taken and dropped.
    void mouseDragged(const Event& event) override;
    void mouseUp(const Event& event) override;

private:
    void prepareDockAreaView();

    std::shared_ptr<SimpleIdeaView> mIdeaView;
    bool mUserInteractionEnabled = true;
    std::weak_ptr<DockAreaViewDelegate> mDelegate;
};

} // namespace corvex
