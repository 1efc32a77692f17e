#pragma once

#include "platform/gfx/PlatformColor.h"
#include "platform/ui/View.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvex {

class RepeatingTimer;

// The classic activity indicator: a ring of fins around the centre of which one is lit
// and the others fade, or, when determinate, a pie that fills clockwise from 12 o'clock
// for doubleValue / maxValue. A plain (y-up) view.
//
// Animation. startAnimation lights fins one after the other, stepping every 0.05 s (with 12
// fins): the lit fin moves to the previous index and every fin's alpha decays by 0.85 down
// to the dim level (0.15, or 0.01 while the view is not displayed when stopped).
// stopAnimation only fades: the fins go on decaying, and the step that finds them all dim
// stops the animation. The steps run on a repeating timer of the current scheduler, or with
// usesThreadedAnimation on a thread of the indicator's own. That thread only advances the
// step (under the indicator's lock) and asks the main thread to redraw: drawing happens on
// the main thread alone. Stopping cancels the thread and joins it before it returns, and
// so does destroying the indicator. The animation runs only while the view is in a
// window: leaving it stops at once, entering one while animating starts again.
//
// Views are main-thread objects; only the animation thread works beside the main thread,
// on the state the lock guards.
class SpinningProgressIndicator : public View
{
public:
    static constexpr int NumFins = 12;

    explicit SpinningProgressIndicator(const Rect& frame = Rect());
    ~SpinningProgressIndicator() override;
    static std::shared_ptr<SpinningProgressIndicator> create(const Rect& frame = Rect());

    QString className() const override;

    // Indeterminate only: starts the animation unless it is running and not fading out.
    void startAnimation();
    // Marks the animation as fading out; it ends by itself once every fin is dim.
    void stopAnimation();

    // The fins' and the pie's colour (clear at first). A different colour is given to every
    // fin with the fin's current alpha.
    PlatformColor color() const;
    void setColor(const PlatformColor& color);
    // White at first; filled over the bounds when drawsBackground is set.
    const PlatformColor& backgroundColor() const { return mBackColor; }
    void setBackgroundColor(const PlatformColor& color);
    bool drawsBackground() const { return mDrawsBackground; }
    void setDrawsBackground(bool draws);
    // True at first. While not animating the view is shown for true and hidden for false.
    bool isDisplayedWhenStopped() const { return mDisplayedWhenStopped; }
    void setDisplayedWhenStopped(bool displayed);
    // True at first. A change while animating restarts the animation the new way.
    bool usesThreadedAnimation() const { return mUsesThreadedAnimation; }
    void setUsesThreadedAnimation(bool threaded);
    // True at first; turning it off while animating fades the animation out.
    bool isIndeterminate() const { return mIsIndeterminate; }
    void setIndeterminate(bool indeterminate);
    // Setting a value makes the indicator determinate.
    double doubleValue() const { return mCurrentValue; }
    void setDoubleValue(double value);
    // 100 at first.
    double maxValue() const { return mMaxValue; }
    void setMaxValue(double value);

    // Gives every fin the foreground colour with the fin's current alpha.
    void generateFinColorsStartAtPosition(int position);

    // ---- State (any thread) ----
    bool isAnimating() const;
    bool isFadingOut() const;
    // The fin lit at the last step (1 right after a start, as the first step lights fin 0).
    int position() const;
    PlatformColor finColor(int index) const;
    // The alpha the fins decay to: 0.15 while displayed when stopped, else 0.01.
    double minimumFinAlpha() const;
    // Whether an animation thread exists that has not been joined, or a timer runs.
    bool hasAnimationThread() const { return mThread.joinable(); }
    bool hasAnimationTimer() const;
    // Animation threads of all indicators, from their start until their function returns.
    static int runningAnimationThreadCount();

    // ---- View ----
    // In a window and animating: starts again; out of any window: stops at once.
    void viewDidMoveToWindow() override;
    // Main thread only: a call from another thread logs an assertion line and draws nothing.
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

private:
    // Advances one step under the lock; returns whether the fade-out has ended.
    bool advanceStepLocked();
    void timerStep();
    void actuallyStartAnimation();
    void actuallyStopAnimation();
    void startThread();
    void stopThreadAndJoin();
    void threadMain(std::weak_ptr<View> self, std::uint64_t generation);
    void threadFadedOut(std::uint64_t generation);
    double minimumFinAlphaLocked() const;

    // Guards what the animation thread shares with the main thread.
    mutable std::mutex mMutex;
    std::condition_variable mWake;
    int mPosition = 0;
    std::vector<PlatformColor> mFinColors;
    bool mIsAnimating = false;
    bool mIsFadingOut = false;
    PlatformColor mForeColor;
    bool mDisplayedWhenStopped = true; // written on the main thread under the lock
    bool mCancelThread = false;
    // Counts starts, so that a late message of an earlier run changes nothing.
    std::uint64_t mGeneration = 0;

    std::thread mThread;
    std::unique_ptr<RepeatingTimer> mTimer;
    std::atomic<bool> mRedrawPosted{false};

    PlatformColor mBackColor = PlatformColor::white();
    bool mDrawsBackground = false;
    bool mUsesThreadedAnimation = true;
    bool mIsIndeterminate = true;
    double mCurrentValue = 0;
    double mMaxValue = 100;
};

} // namespace corvex
