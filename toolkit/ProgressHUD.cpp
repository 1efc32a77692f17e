#include "toolkit/ProgressHUD.h"

#include "model/Globals.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/MainQueue.h"
#include "platform/core/SerialQueue.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/AnimationContext.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerAnimator.h"
#include "platform/ui/Window.h"
#include "toolkit/BarProgressView.h"
#include "toolkit/ProgressDisplay.h"
#include "toolkit/ProgressHUDDelegate.h"
#include "toolkit/ProgressHUDLabel.h"
#include "toolkit/RoundProgressView.h"
#include "toolkit/SpinningProgressIndicator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvex {
namespace {

constexpr double HiddenAlpha = 0.2; // where an animated hide fades to before the HUD hides
constexpr double DimAlpha = 0.75;
constexpr double LabelPadding = 10; // a text view's line padding on both sides

double scaleOnShow(ProgressHUD::AnimationType type)
{
    return type == ProgressHUD::AnimationShrink ? 1.5 : 0.5;
}

double scaleOnHide(ProgressHUD::AnimationType type)
{
    return type == ProgressHUD::AnimationShrink ? 0.5 : 1.5;
}

bool zooms(ProgressHUD::AnimationType type)
{
    return type == ProgressHUD::AnimationShrink || type == ProgressHUD::AnimationGrow;
}

} // namespace

ProgressHUD::ProgressHUD(const Rect& frame)
    : View(frame), mColor(Globals::colorGray95()), mLabelFont(Globals::fontAvenirMedium(16)),
      mLabelColor(Globals::colorGray26()), mDetailsLabelFont(PlatformFont::boldSystemFont(12))
{
    // Stays centred in a superview that resizes; layout gives it the superview's bounds.
    setAutoresizingMask(MinXMargin | MaxXMargin | MinYMargin | MaxYMargin);
    setAlphaValue(0);
    setupLabels();
}

ProgressHUD::~ProgressHUD()
{
    cancelDelayedHides();
    cancelTimer(mGraceTimer);
    cancelTimer(mMinShowTimer);
    // Only a HUD that no shared_ptr owns can go while a task thread runs (a task holds a
    // shared HUD); the thread must not outlive it.
    for (auto& [id, thread] : mThreads) {
        if (thread.joinable())
            thread.join();
    }
}

std::shared_ptr<ProgressHUD> ProgressHUD::create(const Rect& frame)
{
    return std::make_shared<ProgressHUD>(frame);
}

std::shared_ptr<ProgressHUD> ProgressHUD::createWithView(const View& view)
{
    return create(Rect(Point(), view.frame().size));
}

std::shared_ptr<ProgressHUD> ProgressHUD::createWithWindow(const Window& window)
{
    return create(Rect(Point(), window.contentSize()));
}

QString ProgressHUD::className() const
{
    return QStringLiteral("ProgressHUD");
}

void ProgressHUD::setupLabels()
{
    mLabel = ProgressHUDLabel::create(bounds());
    mLabel->setFont(mLabelFont);
    mLabel->setTextColor(mLabelColor);
    mLabel->setText(mLabelText);
    mDetailsLabel = ProgressHUDLabel::create(bounds());
    mDetailsLabel->setFont(mDetailsLabelFont);
    mDetailsLabel->setTextColor(mDetailsLabelColor);
    mDetailsLabel->setText(mDetailsLabelText);
    addSubview(mLabel);
    addSubview(mDetailsLabel);
}

// ---- For a view ----

std::shared_ptr<ProgressHUD> ProgressHUD::showHUDAddedTo(View& view, bool animated)
{
    auto hud = createWithView(view);
    view.addSubview(hud);
    hud->show(animated);
    return hud;
}

bool ProgressHUD::hideHUDForView(View& view, bool animated)
{
    const std::shared_ptr<ProgressHUD> hud = HUDForView(view);
    if (!hud)
        return false;
    hud->setRemoveFromSuperViewOnHide(true);
    hud->hide(animated);
    return true;
}

int ProgressHUD::hideAllHUDsForView(View& view, bool animated)
{
    const std::vector<std::shared_ptr<ProgressHUD>> huds = allHUDsForView(view);
    for (const auto& hud : huds) {
        hud->setRemoveFromSuperViewOnHide(true);
        hud->hide(animated);
    }
    return int(huds.size());
}

std::shared_ptr<ProgressHUD> ProgressHUD::HUDForView(const View& view)
{
    const auto& subviews = view.subviews();
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
        if (auto hud = std::dynamic_pointer_cast<ProgressHUD>(*it))
            return hud;
    }
    return nullptr;
}

std::vector<std::shared_ptr<ProgressHUD>> ProgressHUD::allHUDsForView(const View& view)
{
    std::vector<std::shared_ptr<ProgressHUD>> huds;
    for (const auto& subview : view.subviews()) {
        if (auto hud = std::dynamic_pointer_cast<ProgressHUD>(subview))
            huds.push_back(std::move(hud));
    }
    return huds;
}

// ---- Showing and hiding ----

void ProgressHUD::show(bool animated)
{
    updateIndicators();
    mUseAnimation = animated;
    // A HUD shown again can be hidden (and finished) again.
    write(mIsFinished, false);
    const float grace = graceTime();
    if (grace > 0) {
        cancelTimer(mGraceTimer);
        // The timer holds the HUD, as a timer holds its target.
        mGraceTimer =
            MainQueue::postAfter(grace, [this, keep = weak_from_this().lock()] { handleGraceTimer(); });
        return;
    }
    setNeedsDisplay();
    showUsingAnimation(mUseAnimation);
}

void ProgressHUD::handleGraceTimer()
{
    mGraceTimer = 0;
    // Without a running task the HUD never shows: the task ended within the grace time.
    if (!taskInProgress())
        return;
    setNeedsDisplay();
    showUsingAnimation(mUseAnimation);
}

// The zoom scales about the centre of the HUD, where its box is: a view's layer has its
// anchor at the corner, about which a plain scale would move the box away.
Transform3D ProgressHUD::scaleAboutCenter(double scale) const
{
    const Rect b = bounds();
    const double cx = b.width() / 2;
    const double cy = b.height() / 2;
    return Transform3D::makeTranslation(cx, cy, 0).scale(scale, scale, 1).translate(-cx, -cy, 0);
}

void ProgressHUD::showUsingAnimation(bool animated)
{
    ++mAnimationGeneration; // a hide animation still running must not end this showing
    const AnimationType type = animationType();
    const bool zoom = animated && zooms(type);
    const std::shared_ptr<Layer>& backing = layer();
    if (zoom)
        backing->setTransform(scaleAboutCenter(scaleOnShow(type)));
    write(mShowStarted, std::optional<double>(MediaClock::now()));
    setHidden(false);
    if (!animated) {
        setAlphaValue(1.0);
        return;
    }
    AnimationContext::runAnimationGroup(AnimationDuration, std::nullopt, [&] {
        // The layer first, so that the view's setter finds its value already there.
        backing->animator().setOpacity(1.0f);
        setAlphaValue(1.0);
        if (zoom)
            backing->animator().setTransform(Transform3D::identity());
    });
}

void ProgressHUD::hide(bool animated)
{
    mUseAnimation = animated;
    cancelDelayedHides();
    const float minShow = minShowTime();
    const std::optional<double> started = showStarted();
    if (minShow > 0 && started) {
        const double shown = MediaClock::now() - *started;
        if (shown < minShow) {
            cancelTimer(mMinShowTimer);
            mMinShowTimer = MainQueue::postAfter(
                minShow - shown, [this, keep = weak_from_this().lock()] { handleMinShowTimer(); });
            return;
        }
    }
    setNeedsDisplay();
    hideUsingAnimation(mUseAnimation);
}

void ProgressHUD::handleMinShowTimer()
{
    mMinShowTimer = 0;
    hideUsingAnimation(mUseAnimation);
}

void ProgressHUD::hideUsingAnimation(bool animated)
{
    cancelDelayedHides();
    const std::uint64_t generation = ++mAnimationGeneration;
    const bool wasShown = showStarted().has_value();
    write(mShowStarted, std::optional<double>());
    if (!animated || !wasShown) {
        setAlphaValue(0);
        done();
        return;
    }
    const AnimationType type = animationType();
    const std::shared_ptr<Layer>& backing = layer();
    AnimationContext::runAnimationGroup(
        AnimationDuration, std::nullopt,
        [&] {
            backing->animator().setOpacity(float(HiddenAlpha));
            setAlphaValue(HiddenAlpha);
            if (zooms(type))
                backing->animator().setTransform(scaleAboutCenter(scaleOnHide(type)));
        },
        // The animation holds the HUD until it has finished.
        [this, generation, keep = weak_from_this().lock()] {
            if (generation == mAnimationGeneration)
                done();
        });
}

void ProgressHUD::hide(bool animated, double delay)
{
    mDelayedHides.push_back(MainQueue::postAfter(
        delay, [this, animated, keep = weak_from_this().lock()] { hideDelayed(animated); }));
}

void ProgressHUD::hideDelayed(bool animated)
{
    cancelDelayedHides();
    if (const auto d = delegate())
        d->hudWasHiddenAfterDelay(*this);
    hide(animated);
}

void ProgressHUD::cancelDelayedHides()
{
    std::vector<Scheduler::TaskId> pending;
    pending.swap(mDelayedHides);
    for (const Scheduler::TaskId id : pending)
        MainQueue::cancel(id);
}

void ProgressHUD::cancelTimer(Scheduler::TaskId& timer)
{
    if (timer != 0)
        MainQueue::cancel(timer);
    timer = 0;
}

// Acts once per showing: a click that dismissed the HUD while its task ran ends it, and the
// task's own clean-up later finds it finished.
void ProgressHUD::done()
{
    {
        std::lock_guard lock(mMutex);
        if (mIsFinished)
            return;
        mIsFinished = true;
    }
    const std::shared_ptr<View> keep = weak_from_this().lock();
    // A grace timer still pending would show a HUD that is over.
    cancelTimer(mGraceTimer);
    cancelTimer(mMinShowTimer);
    setAlphaValue(0);
    setHidden(true);
    // Back to the plain scale, so that a later showing without zoom is not left zoomed.
    layer()->setTransform(Transform3D::identity());
    if (removeFromSuperViewOnHide())
        removeFromSuperview();
    CompletionBlock completion;
    {
        std::lock_guard lock(mMutex);
        completion = std::move(mCompletionBlock);
        mCompletionBlock = nullptr;
    }
    if (completion)
        completion();
    if (const auto d = delegate())
        d->hudWasHidden(*this);
}

bool ProgressHUD::isFinished() const
{
    return read(mIsFinished);
}

// ---- Tasks ----

void ProgressHUD::cleanUp()
{
    setTaskInProgress(false);
    hide(mUseAnimation);
}

void ProgressHUD::startTask()
{
    if (mRunningTasks++ == 0)
        mTaskHold = std::static_pointer_cast<ProgressHUD>(weak_from_this().lock());
}

void ProgressHUD::taskEnded()
{
    cleanUp();
    if (--mRunningTasks == 0) {
        // May be the last reference: nothing may touch the HUD after this.
        const std::shared_ptr<ProgressHUD> release = std::move(mTaskHold);
    }
}

void ProgressHUD::threadTaskEnded(std::uint64_t id)
{
    const auto it = mThreads.find(id);
    if (it != mThreads.end()) {
        // The thread posted this as its last step: the join only waits for it to return.
        if (it->second.joinable())
            it->second.join();
        mThreads.erase(it);
    }
    taskEnded();
}

void ProgressHUD::showWhileExecuting(Task task, bool animated)
{
    setTaskInProgress(true);
    startTask();
    const std::uint64_t id = ++mNextThreadId;
    // The thread never touches the HUD; its message to the main thread carries a weak
    // reference, which the task's hold keeps alive.
    mThreads.emplace(id, std::thread([weak = weak_from_this(), id, task = std::move(task)]() mutable {
                         if (task)
                             task();
                         // The task goes with the message, so that what it holds is let go on
                         // the main thread, in the clean-up.
                         MainQueue::post([weak, id, finished = std::move(task)] {
                             if (const auto strong = weak.lock())
                                 static_cast<ProgressHUD&>(*strong).threadTaskEnded(id);
                         });
                     }));
    show(animated);
}

void ProgressHUD::dispatchBlock(bool animated, Task block, CompletionBlock completion,
                                const Dispatcher& dispatch)
{
    setTaskInProgress(true);
    setCompletionBlock(std::move(completion));
    startTask();
    dispatch([weak = weak_from_this(), block = std::move(block)] {
        if (block)
            block();
        MainQueue::post([weak] {
            if (const auto strong = weak.lock())
                static_cast<ProgressHUD&>(*strong).taskEnded();
        });
    });
    show(animated);
}

void ProgressHUD::showAnimatedWhileExecutingBlock(bool animated, Task block, CompletionBlock completion)
{
    dispatchBlock(animated, std::move(block), std::move(completion),
                  [](Task work) { GlobalQueue::async(std::move(work), GlobalQueue::Priority::Default); });
}

void ProgressHUD::showAnimatedWhileExecutingBlock(bool animated, Task block, SerialQueue& queue,
                                                  CompletionBlock completion)
{
    dispatchBlock(animated, std::move(block), std::move(completion),
                  [&queue](Task work) { queue.async(std::move(work)); });
}

// ---- Clicks ----

void ProgressHUD::mouseDown(const Event& event)
{
    if (isFinished()) {
        View::mouseDown(event);
        return;
    }
    if (!dismissible())
        return;
    const std::shared_ptr<View> keep = weak_from_this().lock();
    cleanUp();
    if (const auto d = delegate())
        d->hudWasTapped(*this);
}

// ---- Property changes ----

void ProgressHUD::propertyChanged(Key key)
{
    if (MainQueue::isMainThread()) {
        updateUIForKey(key);
        return;
    }
    MainQueue::post([weak = weak_from_this(), key] {
        if (const auto strong = weak.lock())
            static_cast<ProgressHUD&>(*strong).updateUIForKey(key);
    });
}

void ProgressHUD::updateUIForKey(Key key)
{
    switch (key) {
    case Key::Mode:
    case Key::CustomView:
        updateIndicators();
        break;
    case Key::LabelText:
        mLabel->setText(labelText());
        break;
    case Key::LabelFont:
        mLabel->setFont(labelFont());
        break;
    case Key::LabelColor:
        mLabel->setTextColor(labelColor());
        break;
    case Key::DetailsLabelText:
        mDetailsLabel->setText(detailsLabelText());
        break;
    case Key::DetailsLabelFont:
        mDetailsLabel->setFont(detailsLabelFont());
        break;
    case Key::DetailsLabelColor:
        mDetailsLabel->setTextColor(detailsLabelColor());
        break;
    case Key::Progress:
        // The indicator alone: the box keeps its layout.
        if (auto* display = dynamic_cast<ProgressDisplay*>(mIndicator.get()))
            display->setProgress(progress());
        return;
    }
    setNeedsLayout(true);
    setNeedsDisplay(true);
}

// ---- Indicators and layout ----

void ProgressHUD::removeIndicator()
{
    if (!mIndicator)
        return;
    mIndicator->removeFromSuperview();
    mIndicator.reset();
}

void ProgressHUD::updateIndicators()
{
    const Mode currentMode = mode();
    const double edge = spinsize();
    switch (currentMode) {
    case ModeSpinner:
        if (!dynamic_cast<SpinningProgressIndicator*>(mIndicator.get())) {
            removeIndicator();
            auto spinner = SpinningProgressIndicator::create(Rect(20, 20, edge, edge));
            spinner->setColor(PlatformColor::white());
            spinner->setUsesThreadedAnimation(false);
            spinner->startAnimation();
            mIndicator = spinner;
            addSubview(spinner);
        }
        break;
    case ModeRoundProgress:
    case ModeAnnularProgress:
        if (!dynamic_cast<RoundProgressView*>(mIndicator.get())) {
            removeIndicator();
            auto round = RoundProgressView::create(Rect(0, 0, edge, edge));
            mIndicator = round;
            addSubview(round);
        }
        if (currentMode == ModeAnnularProgress)
            static_cast<RoundProgressView&>(*mIndicator).setAnnular(true);
        break;
    case ModeBarProgress: {
        removeIndicator();
        auto bar = BarProgressView::create();
        mIndicator = bar;
        addSubview(bar);
        break;
    }
    case ModeCustomView: {
        const std::shared_ptr<View> custom = customView();
        if (custom != mIndicator) {
            removeIndicator();
            mIndicator = custom;
            if (custom)
                addSubview(custom);
        }
        break;
    }
    case ModeText:
        removeIndicator();
        break;
    }
}

void ProgressHUD::layoutSubviews()
{
    if (View* parent = superview())
        setFrame(parent->bounds());
    const Rect b = bounds();
    const double W = b.width();
    const double H = b.height();
    const double boxMargin = margin();
    // A HUD narrower than four margins has no room for items at all (never a negative width).
    const double maxWidth = std::max(0.0, W - 4 * boxMargin);

    Size indicatorSize = mIndicator ? mIndicator->bounds().size : Size();
    indicatorSize.width = std::min(indicatorSize.width, maxWidth);
    const auto textSize = [maxWidth](const QString& text, const PlatformFont& font) {
        if (text.isEmpty())
            return Size();
        Size s = AttributedString(text, font, PlatformColor::black()).size();
        if (s.width > 0)
            s.width = std::min(s.width + LabelPadding, maxWidth);
        return s;
    };
    const Size labelSize = textSize(labelText(), labelFont());
    const Size detailsSize = textSize(detailsLabelText(), detailsLabelFont());

    double boxWidth = std::max({indicatorSize.width, labelSize.width, detailsSize.width}) + 2 * boxMargin;
    double boxHeight = indicatorSize.height + labelSize.height + detailsSize.height + 2 * boxMargin;

    // Stacked from the bottom (y grows upwards): details, label, indicator, without gaps.
    const double dx = xOffset();
    double y = std::round((H - boxHeight) / 2) + boxMargin - yOffset();
    const auto place = [&](View* view, Size size) {
        if (view)
            view->setFrame(Rect(b.minX() + std::round((W - size.width) / 2) + dx, b.minY() + y, size.width,
                                size.height));
        y += size.height;
    };
    place(mDetailsLabel.get(), detailsSize);
    place(mLabel.get(), labelSize);
    place(mIndicator.get(), indicatorSize);

    if (isSquare()) {
        const double side = std::max(boxWidth, boxHeight);
        if (side <= W - 2 * boxMargin)
            boxWidth = side;
        if (side <= H - 2 * boxMargin)
            boxHeight = side;
    }
    const Size least = minSize();
    boxWidth = std::max(boxWidth, least.width);
    boxHeight = std::max(boxHeight, least.height);
    write(mSize, Size(boxWidth, boxHeight));
}

void ProgressHUD::layout()
{
    layoutSubviews();
}

void ProgressHUD::resizeWithOldSuperviewSize(Size oldSize)
{
    View::resizeWithOldSuperviewSize(oldSize);
    setNeedsLayout(true);
    setNeedsDisplay(true);
}

void ProgressHUD::drawRect(const Rect&, GraphicsContext& context)
{
    layoutSubviews();
    const Rect b = bounds();
    const double W = b.width();
    const double H = b.height();
    context.saveGState();

    if (dimBackground()) {
        const Point center(b.minX() + W / 2, b.minY() + H / 2);
        context.drawRadialGradient(
            {{0.0, PlatformColor::deviceRGB(0, 0, 0, 0)}, {1.0, PlatformColor::deviceRGB(0, 0, 0, DimAlpha)}},
            center, 0, center, std::min(W, H), true, true);
    }

    const std::optional<PlatformColor> fill = color();
    context.setFillColor(fill ? *fill : PlatformColor::deviceWhite(0, opacity()));

    const Size box = size();
    const double x = b.minX() + std::round((W - box.width) / 2) + xOffset();
    const double y = b.minY() + std::round((H - box.height) / 2) - yOffset();
    const double r = cornerRadius();
    const double pi = std::numbers::pi;
    // A rounded rectangle of four corner arcs, joined by the lines between them.
    context.beginPath();
    context.moveToPoint(Point(x + r, y));
    context.addArc(Point(x + box.width - r, y + r), r, 3 * pi / 2, 2 * pi, false);
    context.addArc(Point(x + box.width - r, y + box.height - r), r, 0, pi / 2, false);
    context.addArc(Point(x + r, y + box.height - r), r, pi / 2, pi, false);
    context.addArc(Point(x + r, y + r), r, pi, 3 * pi / 2, false);
    context.closePath();
    context.fillPath();

    context.restoreGState();
}

// ---- Published properties ----

ProgressHUD::Mode ProgressHUD::mode() const
{
    return read(mMode);
}

void ProgressHUD::setMode(Mode mode)
{
    write(mMode, mode);
    propertyChanged(Key::Mode);
}

ProgressHUD::AnimationType ProgressHUD::animationType() const
{
    return read(mAnimationType);
}

void ProgressHUD::setAnimationType(AnimationType type)
{
    write(mAnimationType, type);
}

QString ProgressHUD::labelText() const
{
    return read(mLabelText);
}

void ProgressHUD::setLabelText(const QString& text)
{
    write(mLabelText, text);
    propertyChanged(Key::LabelText);
}

QString ProgressHUD::detailsLabelText() const
{
    return read(mDetailsLabelText);
}

void ProgressHUD::setDetailsLabelText(const QString& text)
{
    write(mDetailsLabelText, text);
    propertyChanged(Key::DetailsLabelText);
}

float ProgressHUD::opacity() const
{
    return read(mOpacity);
}

void ProgressHUD::setOpacity(float opacity)
{
    write(mOpacity, opacity);
}

std::optional<PlatformColor> ProgressHUD::color() const
{
    return read(mColor);
}

void ProgressHUD::setColor(std::optional<PlatformColor> color)
{
    write(mColor, std::move(color));
}

PlatformFont ProgressHUD::labelFont() const
{
    return read(mLabelFont);
}

void ProgressHUD::setLabelFont(const PlatformFont& font)
{
    write(mLabelFont, font);
    propertyChanged(Key::LabelFont);
}

PlatformColor ProgressHUD::labelColor() const
{
    return read(mLabelColor);
}

void ProgressHUD::setLabelColor(const PlatformColor& color)
{
    write(mLabelColor, color);
    propertyChanged(Key::LabelColor);
}

PlatformFont ProgressHUD::detailsLabelFont() const
{
    return read(mDetailsLabelFont);
}

void ProgressHUD::setDetailsLabelFont(const PlatformFont& font)
{
    write(mDetailsLabelFont, font);
    propertyChanged(Key::DetailsLabelFont);
}

PlatformColor ProgressHUD::detailsLabelColor() const
{
    return read(mDetailsLabelColor);
}

void ProgressHUD::setDetailsLabelColor(const PlatformColor& color)
{
    write(mDetailsLabelColor, color);
    propertyChanged(Key::DetailsLabelColor);
}

float ProgressHUD::xOffset() const
{
    return read(mXOffset);
}

void ProgressHUD::setXOffset(float offset)
{
    write(mXOffset, offset);
}

float ProgressHUD::yOffset() const
{
    return read(mYOffset);
}

void ProgressHUD::setYOffset(float offset)
{
    write(mYOffset, offset);
}

bool ProgressHUD::dimBackground() const
{
    return read(mDimBackground);
}

void ProgressHUD::setDimBackground(bool dim)
{
    write(mDimBackground, dim);
}

bool ProgressHUD::dismissible() const
{
    return read(mDismissible);
}

void ProgressHUD::setDismissible(bool dismissible)
{
    write(mDismissible, dismissible);
}

float ProgressHUD::spinsize() const
{
    return read(mSpinsize);
}

void ProgressHUD::setSpinsize(float size)
{
    write(mSpinsize, size);
}

float ProgressHUD::margin() const
{
    return read(mMargin);
}

void ProgressHUD::setMargin(float margin)
{
    write(mMargin, margin);
}

float ProgressHUD::cornerRadius() const
{
    return read(mCornerRadius);
}

void ProgressHUD::setCornerRadius(float radius)
{
    write(mCornerRadius, radius);
}

float ProgressHUD::graceTime() const
{
    return read(mGraceTime);
}

void ProgressHUD::setGraceTime(float seconds)
{
    write(mGraceTime, seconds);
}

float ProgressHUD::minShowTime() const
{
    return read(mMinShowTime);
}

void ProgressHUD::setMinShowTime(float seconds)
{
    write(mMinShowTime, seconds);
}

bool ProgressHUD::removeFromSuperViewOnHide() const
{
    return read(mRemoveFromSuperViewOnHide);
}

void ProgressHUD::setRemoveFromSuperViewOnHide(bool remove)
{
    write(mRemoveFromSuperViewOnHide, remove);
}

Size ProgressHUD::minSize() const
{
    return read(mMinSize);
}

void ProgressHUD::setMinSize(Size size)
{
    write(mMinSize, size);
}

bool ProgressHUD::isSquare() const
{
    return read(mSquare);
}

void ProgressHUD::setSquare(bool square)
{
    write(mSquare, square);
}

float ProgressHUD::progress() const
{
    return read(mProgress);
}

void ProgressHUD::setProgress(float progress)
{
    write(mProgress, progress);
    propertyChanged(Key::Progress);
}

std::shared_ptr<View> ProgressHUD::customView() const
{
    return read(mCustomView);
}

void ProgressHUD::setCustomView(const std::shared_ptr<View>& view)
{
    write(mCustomView, view);
    propertyChanged(Key::CustomView);
}

bool ProgressHUD::completionBlock() const
{
    std::lock_guard lock(mMutex);
    return static_cast<bool>(mCompletionBlock);
}

void ProgressHUD::setCompletionBlock(CompletionBlock block)
{
    write(mCompletionBlock, std::move(block));
}

bool ProgressHUD::taskInProgress() const
{
    return read(mTaskInProgress);
}

void ProgressHUD::setTaskInProgress(bool inProgress)
{
    write(mTaskInProgress, inProgress);
}

std::optional<double> ProgressHUD::showStarted() const
{
    return read(mShowStarted);
}

Size ProgressHUD::size() const
{
    return read(mSize);
}

std::shared_ptr<ProgressHUDDelegate> ProgressHUD::delegate() const
{
    std::lock_guard lock(mMutex);
    return mDelegate.lock();
}

void ProgressHUD::setDelegate(const std::shared_ptr<ProgressHUDDelegate>& delegate)
{
    write(mDelegate, delegate);
}

} // namespace corvex
