#pragma once

#include "platform/core/Completion.h"
#include "platform/core/Scheduler.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/gfx/PlatformFont.h"
#include "platform/gfx/Size.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/View.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace corvex {

class ProgressHUDDelegate;
class ProgressHUDLabel;
class SerialQueue;
class Window;

// A translucent rounded box over the whole of its superview, showing an indicator (a
// spinner, a pie, a bar, a ring or a custom view), a label and a details label below it.
// It can dim what lies under it, wait a grace time before it appears when a task is
// running, stay up for a minimum time once shown, and stay up while a task runs on a
// thread or a queue. A plain (y-up) view.
//
// Showing and hiding. show lays out the indicator and appears at once (faded in over
// 0.3 s when animated, zoomed as animationType says), or after graceTime when it is set,
// and then only if a task is still running. hide disappears at once or, within minShowTime
// of appearing, when that time has passed; an animated hide fades to 0.2 over 0.3 s first.
// Once hidden the HUD is finished: its completion block runs once and is cleared, the
// delegate hears hudWasHidden once, and with removeFromSuperViewOnHide it leaves its
// superview. A finished HUD hidden again does nothing; a HUD shown again may be hidden
// again. Timers and delays run on the current scheduler.
//
// Tasks. showWhileExecuting runs a function on a new thread (joined when it has ended),
// showAnimatedWhileExecutingBlock a block on a queue; when the task ends the HUD cleans up
// on the main thread (taskInProgress off, then hide). A running task keeps the HUD alive
// until that clean-up has run, so a HUD dismissed by a click and released meanwhile is
// neither touched after its destruction nor finished twice.
//
// Threads. Views belong to the main thread, and so do show, hide, layout and drawing. The
// published properties may be read and set from any thread; a change of mode, customView,
// the texts, fonts and colours, or progress made off the main thread reaches the views
// through the main queue. Own the HUD through a std::shared_ptr (the factories do).
class ProgressHUD : public View
{
public:
    enum Mode : int
    {
        ModeSpinner = 0,
        ModeRoundProgress = 1, // a pie
        ModeBarProgress = 2,
        ModeAnnularProgress = 3, // a ring
        ModeCustomView = 4,
        ModeText = 5,
    };
    enum AnimationType : int
    {
        AnimationFade = 0,
        AnimationShrink = 1, // appears shrinking from 1.5 to 1, disappears shrinking to 0.5
        AnimationGrow = 2,   // appears growing from 0.5 to 1, disappears growing to 1.5
    };
    using Task = std::function<void()>;
    using CompletionBlock = Completion<>;

    static constexpr double AnimationDuration = 0.3;

    // Transparent and hidden (alpha 0), with its labels made; use the factories.
    explicit ProgressHUD(const Rect& frame);
    ~ProgressHUD() override;
    static std::shared_ptr<ProgressHUD> create(const Rect& frame);
    // The frame (0, 0, the view's frame size).
    static std::shared_ptr<ProgressHUD> createWithView(const View& view);
    // The frame (0, 0, the window's content size).
    static std::shared_ptr<ProgressHUD> createWithWindow(const Window& window);

    QString className() const override;

    // ---- For a view ----
    // A new HUD for the view, added on top of its subviews and shown.
    static std::shared_ptr<ProgressHUD> showHUDAddedTo(View& view, bool animated);
    // Hides the topmost HUD of the view, removing it from the view when hidden; false (and
    // nothing changes) when the view has none.
    static bool hideHUDForView(View& view, bool animated);
    // The same for every HUD of the view; returns their count.
    static int hideAllHUDsForView(View& view, bool animated);
    // The last subview that is a HUD, or null.
    static std::shared_ptr<ProgressHUD> HUDForView(const View& view);
    // Every subview that is a HUD, in subview order.
    static std::vector<std::shared_ptr<ProgressHUD>> allHUDsForView(const View& view);

    // ---- Showing and hiding (main thread) ----
    void show(bool animated);
    void hide(bool animated);
    // After `delay` seconds: tells the delegate hudWasHiddenAfterDelay, then hide(animated).
    // Any hide cancels delayed hides not yet due.
    void hide(bool animated, double delay);
    // Runs `task` on a new thread, then show(animated); hides when the task has ended.
    void showWhileExecuting(Task task, bool animated);
    // Runs `block` on the global queue (default priority) or on `queue`, then
    // show(animated); hides when the block has ended and then calls `completion` once.
    void showAnimatedWhileExecutingBlock(bool animated, Task block, CompletionBlock completion = {});
    void showAnimatedWhileExecutingBlock(bool animated, Task block, SerialQueue& queue,
                                         CompletionBlock completion = {});
    // Whether the HUD has been hidden since it was last shown.
    bool isFinished() const;

    // ---- Published properties (any thread) ----
    Mode mode() const;
    void setMode(Mode mode);
    AnimationType animationType() const;
    void setAnimationType(AnimationType type);
    QString labelText() const;
    void setLabelText(const QString& text);
    QString detailsLabelText() const;
    void setDetailsLabelText(const QString& text);
    // Alpha of the black fill when no colour is set: 0.8.
    float opacity() const;
    void setOpacity(float opacity);
    // The box's fill: Globals::colorGray95. Unset (nullopt): black at `opacity`.
    std::optional<PlatformColor> color() const;
    void setColor(std::optional<PlatformColor> color);
    PlatformFont labelFont() const; // Globals::fontAvenirMedium(16)
    void setLabelFont(const PlatformFont& font);
    PlatformColor labelColor() const; // Globals::colorGray26
    void setLabelColor(const PlatformColor& color);
    PlatformFont detailsLabelFont() const; // bold system font of 12
    void setDetailsLabelFont(const PlatformFont& font);
    PlatformColor detailsLabelColor() const; // white
    void setDetailsLabelColor(const PlatformColor& color);
    // Displacement of the box from the centre; a positive y moves it down.
    float xOffset() const;
    void setXOffset(float offset);
    float yOffset() const;
    void setYOffset(float offset);
    // Draws a radial gradient that darkens towards the edges.
    bool dimBackground() const;
    void setDimBackground(bool dim);
    // A click on the unfinished HUD ends it (and tells the delegate hudWasTapped).
    bool dismissible() const;
    void setDismissible(bool dismissible);
    // Edge of the spinner and of the round indicator: 60.
    float spinsize() const;
    void setSpinsize(float size);
    float margin() const; // 20
    void setMargin(float margin);
    float cornerRadius() const; // 10
    void setCornerRadius(float radius);
    // Seconds before a HUD with a running task appears: 0.
    float graceTime() const;
    void setGraceTime(float seconds);
    // Least seconds on screen once shown: 0.
    float minShowTime() const;
    void setMinShowTime(float seconds);
    bool removeFromSuperViewOnHide() const;
    void setRemoveFromSuperViewOnHide(bool remove);
    Size minSize() const;
    void setMinSize(Size size);
    // Forces a square box where it fits.
    bool isSquare() const;
    void setSquare(bool square);
    // Handed to the progress indicator.
    float progress() const;
    void setProgress(float progress);
    // The indicator in ModeCustomView.
    std::shared_ptr<View> customView() const;
    void setCustomView(const std::shared_ptr<View>& view);
    // Whether a completion block still waits for the HUD to be hidden.
    bool completionBlock() const;
    void setCompletionBlock(CompletionBlock block);
    bool taskInProgress() const;
    void setTaskInProgress(bool inProgress);
    // Media time at which the HUD last appeared; none while hidden.
    std::optional<double> showStarted() const;
    // The box size the last layout computed.
    Size size() const;
    // Held weakly.
    std::shared_ptr<ProgressHUDDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<ProgressHUDDelegate>& delegate);

    // ---- Views and timers (main thread) ----
    std::shared_ptr<View> indicator() const { return mIndicator; }
    const std::shared_ptr<ProgressHUDLabel>& label() const { return mLabel; }
    const std::shared_ptr<ProgressHUDLabel>& detailsLabel() const { return mDetailsLabel; }
    bool hasGraceTimer() const { return mGraceTimer != 0; }
    bool hasMinShowTimer() const { return mMinShowTimer != 0; }

    // Makes the indicator the mode asks for, keeping the current one where it fits.
    void updateIndicators();
    // Places the indicator and the labels and computes the box size (layout and drawing run
    // it).
    void layoutSubviews();

    // ---- View ----
    void layout() override;
    void resizeWithOldSuperviewSize(Size oldSize) override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;
    // Unfinished: dismissible ends the HUD, otherwise the click is swallowed. Finished: the
    // click goes on up the responder chain.
    void mouseDown(const Event& event) override;

private:
    enum class Key
    {
        Mode,
        CustomView,
        LabelText,
        LabelFont,
        LabelColor,
        DetailsLabelText,
        DetailsLabelFont,
        DetailsLabelColor,
        Progress,
    };

    template <class T> T read(const T& field) const
    {
        std::lock_guard lock(mMutex);
        return field;
    }
    template <class T, class V> void write(T& field, V&& value)
    {
        std::lock_guard lock(mMutex);
        field = std::forward<V>(value);
    }

    void setupLabels();
    // Brings a change to the views: at once on the main thread, else through the main queue.
    void propertyChanged(Key key);
    void updateUIForKey(Key key);
    void removeIndicator();
    Transform3D scaleAboutCenter(double scale) const;

    void handleGraceTimer();
    void handleMinShowTimer();
    void showUsingAnimation(bool animated);
    void hideUsingAnimation(bool animated);
    void hideDelayed(bool animated);
    void cancelDelayedHides();
    void cancelTimer(Scheduler::TaskId& timer);
    void done();
    void cleanUp();
    void startTask();
    void taskEnded();
    void threadTaskEnded(std::uint64_t id);
    // Where a block task runs: hands the work to a queue.
    using Dispatcher = std::function<void(Task work)>;
    void dispatchBlock(bool animated, Task block, CompletionBlock completion, const Dispatcher& dispatch);

    // Guards the published properties.
    mutable std::mutex mMutex;
    Mode mMode = ModeSpinner;
    AnimationType mAnimationType = AnimationFade;
    QString mLabelText;
    QString mDetailsLabelText;
    float mOpacity = 0.8f;
    std::optional<PlatformColor> mColor;
    PlatformFont mLabelFont;
    PlatformColor mLabelColor;
    PlatformFont mDetailsLabelFont;
    PlatformColor mDetailsLabelColor = PlatformColor::white();
    float mXOffset = 0;
    float mYOffset = 0;
    bool mDimBackground = false;
    bool mDismissible = false;
    float mSpinsize = 60;
    float mMargin = 20;
    float mCornerRadius = 10;
    float mGraceTime = 0;
    float mMinShowTime = 0;
    bool mRemoveFromSuperViewOnHide = false;
    Size mMinSize;
    bool mSquare = false;
    float mProgress = 0;
    std::shared_ptr<View> mCustomView;
    CompletionBlock mCompletionBlock;
    bool mTaskInProgress = false;
    std::optional<double> mShowStarted;
    Size mSize;
    std::weak_ptr<ProgressHUDDelegate> mDelegate;
    bool mIsFinished = false;

    // Main thread only from here on.
    std::shared_ptr<ProgressHUDLabel> mLabel;
    std::shared_ptr<ProgressHUDLabel> mDetailsLabel;
    std::shared_ptr<View> mIndicator;
    bool mUseAnimation = false;
    Scheduler::TaskId mGraceTimer = 0;
    Scheduler::TaskId mMinShowTimer = 0;
    std::vector<Scheduler::TaskId> mDelayedHides;
    // Counts showings and hidings, so that the end of an outdated hide animation does nothing.
    std::uint64_t mAnimationGeneration = 0;
    // Running tasks, and the reference that keeps the HUD alive while there are any.
    int mRunningTasks = 0;
    std::shared_ptr<ProgressHUD> mTaskHold;
    std::map<std::uint64_t, std::thread> mThreads;
    std::uint64_t mNextThreadId = 0;
};

} // namespace corvex
