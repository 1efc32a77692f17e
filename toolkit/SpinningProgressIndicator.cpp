#include "toolkit/SpinningProgressIndicator.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/RepeatingTimer.h"
#include "platform/gfx/GraphicsContext.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

namespace corvex {
namespace {

constexpr double FadeFactor = 0.85;
constexpr double DimAlphaDisplayed = 0.15;
constexpr double DimAlphaHidden = 0.01;
constexpr double DimTolerance = 0.01;
constexpr double StoppedFinAlpha = 0.15;
constexpr double TimerInterval = 0.05;
// The thread sleeps 600000 / number of fins microseconds per step: 50 ms with 12 fins, the
// timer's pace.
constexpr auto ThreadStep = std::chrono::microseconds(600000 / SpinningProgressIndicator::NumFins);

// Fin geometry in units of the shorter side of the bounds.
constexpr double FinInner = 0.234375;
constexpr double FinOuter = 0.421875;
constexpr double FinWidth = 0.0859375;

std::atomic<int> gRunningThreads{0};

} // namespace

SpinningProgressIndicator::SpinningProgressIndicator(const Rect& frame)
    : View(frame), mFinColors(NumFins, PlatformColor::white())
{}

SpinningProgressIndicator::~SpinningProgressIndicator()
{
    // Destroying a running indicator stops it first: the thread must not outlive the object.
    stopThreadAndJoin();
    if (mTimer)
        mTimer->invalidate();
}

std::shared_ptr<SpinningProgressIndicator> SpinningProgressIndicator::create(const Rect& frame)
{
    return std::make_shared<SpinningProgressIndicator>(frame);
}

QString SpinningProgressIndicator::className() const
{
    return QStringLiteral("SpinningProgressIndicator");
}

// ---- Animation ----

void SpinningProgressIndicator::startAnimation()
{
    if (!mIsIndeterminate)
        return;
    {
        std::lock_guard lock(mMutex);
        if (mIsAnimating && !mIsFadingOut)
            return;
    }
    actuallyStartAnimation();
}

void SpinningProgressIndicator::stopAnimation()
{
    std::lock_guard lock(mMutex);
    mIsFadingOut = true;
}

void SpinningProgressIndicator::actuallyStartAnimation()
{
    actuallyStopAnimation();
    {
        std::lock_guard lock(mMutex);
        mIsAnimating = true;
        mIsFadingOut = false;
        mPosition = 1;
        ++mGeneration;
    }
    if (!mDisplayedWhenStopped)
        setHidden(false);
    if (!window())
        return;
    if (mUsesThreadedAnimation) {
        startThread();
    } else {
        mTimer = std::make_unique<RepeatingTimer>();
        mTimer->start(TimerInterval, [this] { timerStep(); });
    }
}

void SpinningProgressIndicator::actuallyStopAnimation()
{
    {
        std::lock_guard lock(mMutex);
        mIsAnimating = false;
        mIsFadingOut = false;
    }
    if (!mDisplayedWhenStopped)
        setHidden(true);
    stopThreadAndJoin();
    if (mTimer) {
        mTimer->invalidate();
        mTimer.reset();
    }
    setNeedsDisplay();
}

bool SpinningProgressIndicator::advanceStepLocked()
{
    if (mPosition <= 0)
        mPosition = NumFins;
    mPosition -= 1;

    const double dim = minimumFinAlphaLocked();
    for (PlatformColor& fin : mFinColors)
        fin = mForeColor.withAlphaComponent(std::max(FadeFactor * fin.alphaComponent(), dim));

    if (!mIsFadingOut) {
        mFinColors[std::size_t(mPosition)] = mForeColor;
        return false;
    }
    return std::all_of(mFinColors.begin(), mFinColors.end(), [dim](const PlatformColor& fin) {
        return std::abs(fin.alphaComponent() - dim) <= DimTolerance;
    });
}

void SpinningProgressIndicator::timerStep()
{
    bool ended = false;
    {
        std::lock_guard lock(mMutex);
        ended = advanceStepLocked();
    }
    if (ended)
        actuallyStopAnimation();
    else
        setNeedsDisplay();
}

void SpinningProgressIndicator::startThread()
{
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mMutex);
        mCancelThread = false;
        generation = mGeneration;
    }
    // Counted before the thread exists, so that the count covers a thread from its start
    // request until its function returns.
    ++gRunningThreads;
    try {
        mThread = std::thread(&SpinningProgressIndicator::threadMain, this, weak_from_this(), generation);
    } catch (...) {
        --gRunningThreads;
        throw;
    }
}

void SpinningProgressIndicator::stopThreadAndJoin()
{
    if (!mThread.joinable())
        return;
    {
        std::lock_guard lock(mMutex);
        mCancelThread = true;
    }
    mWake.notify_all();
    mThread.join();
    std::lock_guard lock(mMutex);
    mCancelThread = false;
}

// The animation thread. It never draws and never touches the view tree: it advances the
// step under the lock and asks the main thread to redraw (painting a view from another
// thread would race with the main thread and is not allowed by the toolkit). It holds no
// strong reference to the indicator, whose stop or destruction joins it; messages to the
// main thread carry a weak one.
void SpinningProgressIndicator::threadMain(std::weak_ptr<View> self, std::uint64_t generation)
{
    std::unique_lock lock(mMutex);
    while (!mCancelThread) {
        const bool ended = advanceStepLocked();
        lock.unlock();
        if (ended) {
            MainQueue::post([self, generation] {
                if (const auto strong = self.lock())
                    static_cast<SpinningProgressIndicator&>(*strong).threadFadedOut(generation);
            });
            lock.lock();
            break;
        }
        if (!mRedrawPosted.exchange(true)) {
            MainQueue::post([self] {
                if (const auto strong = self.lock()) {
                    auto& indicator = static_cast<SpinningProgressIndicator&>(*strong);
                    indicator.mRedrawPosted = false;
                    indicator.setNeedsDisplay();
                }
            });
        }
        lock.lock();
        mWake.wait_for(lock, ThreadStep, [this] { return mCancelThread; });
    }
    lock.unlock();
    --gRunningThreads;
}

void SpinningProgressIndicator::threadFadedOut(std::uint64_t generation)
{
    {
        std::lock_guard lock(mMutex);
        if (generation != mGeneration || !mIsAnimating)
            return; // a later start owns the animation now
    }
    actuallyStopAnimation();
}

int SpinningProgressIndicator::runningAnimationThreadCount()
{
    return gRunningThreads.load();
}

// ---- Properties ----

PlatformColor SpinningProgressIndicator::color() const
{
    std::lock_guard lock(mMutex);
    return mForeColor;
}

void SpinningProgressIndicator::setColor(const PlatformColor& color)
{
    {
        std::lock_guard lock(mMutex);
        if (color == mForeColor)
            return;
        mForeColor = color;
        for (PlatformColor& fin : mFinColors)
            fin = color.withAlphaComponent(fin.alphaComponent());
    }
    setNeedsDisplay();
}

void SpinningProgressIndicator::generateFinColorsStartAtPosition(int)
{
    {
        std::lock_guard lock(mMutex);
        for (PlatformColor& fin : mFinColors)
            fin = mForeColor.withAlphaComponent(fin.alphaComponent());
    }
    setNeedsDisplay();
}

void SpinningProgressIndicator::setBackgroundColor(const PlatformColor& color)
{
    if (color == mBackColor)
        return;
    mBackColor = color;
    setNeedsDisplay();
}

void SpinningProgressIndicator::setDrawsBackground(bool draws)
{
    mDrawsBackground = draws;
    setNeedsDisplay();
}

void SpinningProgressIndicator::setDisplayedWhenStopped(bool displayed)
{
    {
        std::lock_guard lock(mMutex);
        mDisplayedWhenStopped = displayed;
    }
    if (!isAnimating())
        setHidden(!displayed);
}

void SpinningProgressIndicator::setUsesThreadedAnimation(bool threaded)
{
    if (threaded == mUsesThreadedAnimation)
        return;
    mUsesThreadedAnimation = threaded;
    if (isAnimating()) {
        stopAnimation();
        startAnimation();
    }
}

void SpinningProgressIndicator::setIndeterminate(bool indeterminate)
{
    mIsIndeterminate = indeterminate;
    if (!indeterminate && isAnimating())
        stopAnimation();
    setNeedsDisplay();
}

void SpinningProgressIndicator::setDoubleValue(double value)
{
    if (mIsIndeterminate)
        setIndeterminate(false);
    mCurrentValue = value;
    setNeedsDisplay();
}

void SpinningProgressIndicator::setMaxValue(double value)
{
    mMaxValue = value;
    setNeedsDisplay();
}

// ---- State ----

bool SpinningProgressIndicator::isAnimating() const
{
    std::lock_guard lock(mMutex);
    return mIsAnimating;
}

bool SpinningProgressIndicator::isFadingOut() const
{
    std::lock_guard lock(mMutex);
    return mIsFadingOut;
}

int SpinningProgressIndicator::position() const
{
    std::lock_guard lock(mMutex);
    return mPosition;
}

PlatformColor SpinningProgressIndicator::finColor(int index) const
{
    std::lock_guard lock(mMutex);
    if (index < 0 || index >= NumFins)
        return PlatformColor();
    return mFinColors[std::size_t(index)];
}

double SpinningProgressIndicator::minimumFinAlpha() const
{
    std::lock_guard lock(mMutex);
    return minimumFinAlphaLocked();
}

double SpinningProgressIndicator::minimumFinAlphaLocked() const
{
    return mDisplayedWhenStopped ? DimAlphaDisplayed : DimAlphaHidden;
}

bool SpinningProgressIndicator::hasAnimationTimer() const
{
    return mTimer && mTimer->isValid();
}

// ---- View ----

void SpinningProgressIndicator::viewDidMoveToWindow()
{
    View::viewDidMoveToWindow();
    if (window()) {
        if (isAnimating())
            actuallyStartAnimation();
    } else {
        actuallyStopAnimation();
    }
}

void SpinningProgressIndicator::drawRect(const Rect&, GraphicsContext& context)
{
    if (!MainQueue::isMainThread()) {
        Log::assertionFailure(QStringLiteral("SpinningProgressIndicator drawn off the main thread"));
        return;
    }
    const Rect b = bounds();
    const double s = std::min(b.width(), b.height());

    if (mDrawsBackground) {
        context.setFillColor(mBackColor);
        context.fillRect(b);
    }

    context.saveGState();
    context.translateCTM(b.minX() + b.width() / 2, b.minY() + b.height() / 2);

    if (mIsIndeterminate) {
        std::vector<PlatformColor> fins;
        PlatformColor fore;
        bool animating = false;
        {
            std::lock_guard lock(mMutex);
            fins = mFinColors;
            fore = mForeColor;
            animating = mIsAnimating;
        }
        context.setLineWidth(FinWidth * s);
        context.setLineCap(LineCap::Round);
        // A whole turn shared by the fins. (A constant of 6.282185 for 2 pi was once used
        // here; the difference is far below a pixel, so the exact value is taken.)
        const double step = 2 * std::numbers::pi / NumFins;
        for (int i = 0; i < NumFins; ++i) {
            context.setStrokeColor(animating ? fins[std::size_t(i)]
                                             : fore.withAlphaComponent(StoppedFinAlpha));
            context.beginPath();
            context.moveToPoint(Point(0, FinInner * s));
            context.addLineToPoint(Point(0, FinOuter * s));
            context.strokePath();
            context.rotateCTM(step);
        }
    } else {
        const PlatformColor fore = color();
        const double lineWidth = 1 + 0.01 * s;
        const double radius = (s - lineWidth) / 2.1;
        context.setStrokeColor(fore);
        context.setFillColor(fore);
        context.setLineWidth(lineWidth);
        context.beginPath();
        context.addEllipseInRect(Rect(-radius, -radius, 2 * radius, 2 * radius));
        context.strokePath();
        // A maximum of 0 or less has no share to show; values beyond it fill the pie.
        const double share = mMaxValue > 0 && std::isfinite(mCurrentValue / mMaxValue)
                                 ? std::clamp(mCurrentValue / mMaxValue, 0.0, 1.0)
                                 : 0.0;
        if (share > 0) {
            const double start = std::numbers::pi / 2;
            context.beginPath();
            context.moveToPoint(Point(0, 0));
            context.addArc(Point(0, 0), radius, start, start - 2 * std::numbers::pi * share, true);
            context.closePath();
            context.fillPath();
        }
    }
    context.restoreGState();
}

} // namespace corvex
