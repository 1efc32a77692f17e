#pragma once

#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Event.h"
#include "toolkit/BaseView.h"
#include "toolkit/ButtonPart.h"
#include "toolkit/UserInteractionProtocol.h"

#include <QtGlobal>
#include <any>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace corvex {

class ButtonViewDelegate;

// A button built from stacked parts (images, coloured views, labels), each shown or hidden
// by the button's state: a plain push button or a toggle button. The button takes the mouse
// events itself (its parts never do) and ends them there.
//
// Press cycle. A press shows the parts of the state the button would change to (active for a
// plain button, the opposite of the toggle state for a toggle button) without changing the
// toggle state; a toggle button reports the press at once (lastEvent the mouse-down). A
// release, 100 ms later, shows the parts of the state the button is in again, and a plain
// button then reports (lastEvent the mouse-up), wherever the pointer is. Pending release
// work carries the value of an operation counter and does nothing when the counter has
// moved on: setToggled moves it, so a toggle decided meanwhile drops a plain button's report.
// The toggle state changes only through setToggled, which the delegate normally calls.
//
// Construction is in two phases (prepareButtonView): use the factories, or make<T> for
// subclasses. Main thread only.
class ButtonView : public BaseView, public UserInteractionProtocol
{
public:
    // How long after a release its report comes, in seconds.
    static constexpr double ReleaseReportDelay = 0.1;

    // Unprepared: use the factories.
    ButtonView();
    ~ButtonView() override;

    // No parts, interaction enabled, the zero rectangle.
    static std::shared_ptr<ButtonView> create();
    // The active image (mask 2) under the normal image (mask 1), each only when not null;
    // the frame is (0, 0) with the normal image's size (zero without one).
    static std::shared_ptr<ButtonView> createWithImage(const PlatformImage& image,
                                                       const PlatformImage& activeImage);

    template <class T = ButtonView, class... Args> static std::shared_ptr<T> make(Args&&... args)
    {
        auto view = BaseView::make<T>(std::forward<Args>(args)...);
        static_cast<ButtonView&>(*view).prepareButtonView();
        return view;
    }

    // ---- Parts ----
    // Appends a part on top of the others, shown or hidden for the current toggle state,
    // and lays the button out.
    void addView(const std::shared_ptr<View>& view, quint64 mask, ButtonPart::LayoutBlock layout = {});
    // A BaseImageView showing the image, filling the bounds.
    void addImage(const PlatformImage& image, quint64 mask);
    // In stacking order (the last on top).
    const std::vector<std::shared_ptr<ButtonPart>>& parts() const { return mParts; }
    // Shows or hides the part's view for a state (true: active), or the current toggle state.
    void updateViewStateForPart(ButtonPart& part, bool state);
    void updateViewStateForPart(ButtonPart& part);

    // ---- State ----
    bool toggled() const { return mToggled; }
    // Moves the operation counter in every case; a new value is stored and shown.
    void setToggled(bool toggled);
    bool isToggleButton() const { return mIsToggleButton; }
    void setIsToggleButton(bool isToggleButton) { mIsToggleButton = isToggleButton; }
    bool userInteractionEnabled() const override { return mUserInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) override { mUserInteractionEnabled = enabled; }
    // The mouse event of the last report.
    const std::optional<Event>& lastEvent() const { return mLastEvent; }
    void setLastEvent(std::optional<Event> event) { mLastEvent = std::move(event); }
    // Anything the owner attaches; the button keeps it and never reads it.
    const std::any& associatedObject() const { return mAssociatedObject; }
    void setAssociatedObject(std::any object) { mAssociatedObject = std::move(object); }
    // Held weakly.
    std::shared_ptr<ButtonViewDelegate> delegate() const { return mDelegate.lock(); }
    void setDelegate(const std::shared_ptr<ButtonViewDelegate>& delegate) { mDelegate = delegate; }
    // The counter that pending release work compares against.
    qint64 operationCount() const { return mOperationCount; }
    // A press came and its release has not been handled.
    bool mouseDownSeen() const { return mMouseDownSeen; }

    // ---- View ----
    // The base layout, then each part: its block with the part's view and the bounds, or
    // without a block the bounds as the view's frame.
    void applyLayout() override;
    // The button itself when the point (in the superview's coordinates) lies in its frame and
    // it is not hidden; never one of its parts.
    View* hitTest(Point pointInSuperview) override;
    // The press cycle above; the events end at the button.
    void mouseDown(const Event& event) override;
    void mouseUp(const Event& event) override;

protected:
    // No parts, interaction enabled, display marked as needed.
    void prepareButtonView();

private:
    void showState(bool active);

    std::vector<std::shared_ptr<ButtonPart>> mParts;
    std::weak_ptr<ButtonViewDelegate> mDelegate;
    std::optional<Event> mLastEvent;
    std::any mAssociatedObject;
    qint64 mOperationCount = 0;
    bool mUserInteractionEnabled = false;
    bool mToggled = false;
    bool mMouseDownSeen = false;
    bool mIsToggleButton = false;
};

} // namespace corvex
