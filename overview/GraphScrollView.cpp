#include "overview/GraphScrollView.h"

#include "graphics/Geometry.h"
#include "mindmap/NoteHoverUtility.h"
#include "model/Globals.h"
#include "overview/GraphSearch.h"
#include "overview/GraphTileFactory.h"
#include "platform/core/GlobalQueue.h"
#include "platform/core/MainQueue.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/Layer.h"
#include "toolkit/Animator.h"
#include "toolkit/TapPanSwipeDetector.h"
#include "toolkit/ViewExtensions.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

constexpr float kMinimumFit = 0.0001f;
constexpr float kGlideSpeedCap = 1800.0f;
constexpr float kGlideThreshold = 0.01f;
constexpr float kFramesPerSecond = 60.0f;
constexpr float kFocusDuration = 0.1f;

} // namespace

std::shared_ptr<GraphScrollView> GraphScrollView::create()
{
    auto view = make<GraphScrollView>();
    view->prepare();
    return view;
}

GraphScrollView::GraphScrollView() : BaseView(Rect(0, 0, 1, 1)) {}

GraphScrollView::~GraphScrollView()
{
    if (mAppearanceObserver)
        NotificationCenter::defaultCenter().removeObserver(mAppearanceObserver);
    if (mAnimator)
        mAnimator->deactivate();
    retire(mNextGraphView);
    retire(mGraphView);
}

void GraphScrollView::prepare()
{
    setDisableAnimations(true);
    const auto self = sharedAs<GraphScrollView>();
    mTapPanSwipeDetector = TapPanSwipeDetector::create();
    mTapPanSwipeDetector->setDelegate(self);
    mNoteHoverUtility = NoteHoverUtility::create(std::weak_ptr<NoteHoverUtilityDelegate>(self));
    std::weak_ptr<GraphScrollView> weak = self;
    mAppearanceObserver = NotificationCenter::defaultCenter().addObserver(
        Globals::AppearanceSettingsChangedNotification, nullptr,
        [weak](const NotificationCenter::Notification&) {
            if (const auto view = weak.lock())
                view->appearanceSettingsChanged();
        });
}

std::shared_ptr<View> GraphScrollView::view() const
{
    return std::const_pointer_cast<View>(View::shared_from_this());
}

// ---- Coordinates and limits

Rect GraphScrollView::dataRectAtScale(double scale) const
{
    const Size size = bounds().size;
    return Rect(mDataCenter.x - size.width / (2 * scale), mDataCenter.y - size.height / (2 * scale),
                size.width / scale, size.height / scale);
}

Point GraphScrollView::contentPoint(Point viewPoint) const
{
    const Rect b = bounds();
    const Point middle(b.origin.x + b.size.width / 2, b.origin.y + b.size.height / 2);
    return Point(mDataCenter.x + (viewPoint.x - middle.x) / double(mZoomScale),
                 mDataCenter.y + (viewPoint.y - middle.y) / double(mZoomScale));
}

float GraphScrollView::tentativeZoom(float factor) const
{
    return std::max(std::min(mZoomScale * factor, mMaxZoomScale), mMinZoomScale);
}

void GraphScrollView::updateScaling()
{
    if (!mGraphTileFactory)
        return;
    const Size content = mGraphTileFactory->contentSize();
    const Size size = bounds().size;
    const float fit = float(std::min(size.width / content.width, size.height / content.height));
    mMinZoomScale = std::max(fit, kMinimumFit);
    mMaxZoomScale = kMaxZoomScale;
    mZoomScale = std::min(std::max(mZoomScale, mMinZoomScale), mMaxZoomScale);
}

Point GraphScrollView::clampedToContent(Point center) const
{
    if (!mGraphTileFactory)
        return center;
    const Size content = mGraphTileFactory->contentSize();
    return Point(std::clamp(center.x, 0.0, content.width), std::clamp(center.y, 0.0, content.height));
}

void GraphScrollView::centerTiledView(ScaledGraphView& view) const
{
    const Size size = bounds().size;
    ViewExtensions::setCenter(view, Point(size.width / 2, size.height / 2));
    ViewExtensions::ensureIntegralFrame(view);
}

// ---- Showing a tree

void GraphScrollView::setCurrentIdea(const IdeaPtr& root, const QString& searchText)
{
    if (mSearchWalk)
        mSearchWalk->store(false);
    mSearchWalk.reset();
    mDismissed = false;
    mRootIdea = root;
    // Another search of an unchanged tree shares its laid-out mirror: only the walk is new.
    auto factory =
        std::make_shared<GraphTileFactory>(root, GraphTileFactory::Filter(), false, mGraphTileFactory.get());
    factory->setNoteStyle(1);
    const QString lowerText = searchText.toLower();
    if (lowerText.isEmpty()) {
        showFactory(std::move(factory));
        return;
    }
    auto keepGoing = std::make_shared<std::atomic<bool>>(true);
    mSearchWalk = keepGoing;
    std::weak_ptr<GraphScrollView> weak = sharedAs<GraphScrollView>();
    GlobalQueue::async([weak, factory, lowerText, keepGoing] {
        std::optional<std::vector<quint8>> faded =
            GraphSearch::fadedNodes(factory->graph(), lowerText, keepGoing.get());
        if (!faded)
            return;
        auto found = GraphTileFactory::withFaded(*factory, std::move(*faded));
        MainQueue::post([weak, found = std::move(found), keepGoing]() mutable {
            const auto self = weak.lock();
            if (!self || self->mSearchWalk != keepGoing)
                return;
            self->mSearchWalk.reset();
            self->showFactory(std::move(found));
        });
    });
}

void GraphScrollView::showFactory(std::shared_ptr<GraphTileFactory> factory)
{
    mIdeaChangePending = true;
    mGraphTileFactory = std::move(factory);
    updateScaling();
    const Size content = mGraphTileFactory->contentSize();
    mDataCenter = Point(content.width / 2, content.height / 2);
    mZoomScale = mMinZoomScale;
    retire(mNextGraphView);
    updateAtMode(ScaledGraphView::Zoom);
}

void GraphScrollView::setFrame(const Rect& frame)
{
    BaseView::setFrame(frame);
    if (mDismissed || !mGraphTileFactory)
        return;
    updateScaling();
    if (mGraphView) {
        centerTiledView(*mGraphView);
        mGraphView->setDataRect(dataRectAtScale(mZoomScale), ScaledGraphView::Idle);
    }
    if (mNextGraphView) {
        centerTiledView(*mNextGraphView);
        mNextGraphView->setDataRect(dataRectAtScale(mNextGraphView->zoomScale()), ScaledGraphView::Zoom);
    }
}

void GraphScrollView::retire(std::shared_ptr<ScaledGraphView>& view)
{
    if (!view)
        return;
    view->removeFromSuperview();
    view->setDelegate({});
    view->setActive(false);
    view.reset();
}

// ---- Update

void GraphScrollView::updateAtMode(ScaledGraphView::Mode mode)
{
    if (!mGraphTileFactory)
        return;
    const double z = double(mZoomScale);
    if (mNextGraphView && !mIdeaChangePending) {
        const double k = mGraphView ? mGraphView->zoomScale() : double(mMinZoomScale);
        const double s = mNextGraphView->zoomScale();
        const bool worthless = s == k || (z > k && s < k) || (z < k && s > z);
        if (worthless)
            retire(mNextGraphView);
    }
    makeNextViewIfNeeded();
    if (mNextGraphView && mNextGraphView->ready() && !mDismissed) {
        const double k = mGraphView ? mGraphView->zoomScale() : 0.0;
        const double s = mNextGraphView->zoomScale();
        if (mIdeaChangePending || !mGraphView || (z >= s && (z < k || s >= k))) {
            mIdeaChangePending = false;
            addSubview(mNextGraphView);
            ViewExtensions::ensureIntegralFrame(*mNextGraphView);
            std::shared_ptr<ScaledGraphView> old = std::move(mGraphView);
            mGraphView = std::move(mNextGraphView);
            retire(old);
            makeNextViewIfNeeded();
        }
    }
    if (mGraphView) {
        const double k = mGraphView->zoomScale();
        mGraphView->setDataRect(dataRectAtScale(k), mode);
        if (const auto& layer = mGraphView->layer())
            layer->setTransform(Transform3D::makeScale(z / k, z / k, 1));
    }
}

void GraphScrollView::makeNextViewIfNeeded()
{
    if (mNextGraphView || !mGraphTileFactory)
        return;
    // Scales are stepped in single precision, as the zoom is: a zoom of 1.5 x the shown scale
    // then equals the next scale exactly and switches it in.
    const float z = mZoomScale;
    const float k = mGraphView ? float(mGraphView->zoomScale()) : mMinZoomScale;
    float s = k;
    if (mIdeaChangePending || !mGraphView) {
        s = mMinZoomScale;
    } else if (z > k) {
        s = k * 1.5f;
        while (z >= 1.5f * s)
            s *= 1.5f;
    } else {
        while (s > z)
            s *= 0.75f;
    }
    s = std::clamp(s, mMinZoomScale, mMaxZoomScale);
    if (s == k && !mIdeaChangePending && mGraphView)
        return;
    mNextGraphView = ScaledGraphView::create(mGraphTileFactory, double(s));
    centerTiledView(*mNextGraphView);
    mNextGraphView->setDelegate(std::weak_ptr<ScaledGraphViewDelegate>(sharedAs<GraphScrollView>()));
    mNextGraphView->setDataRect(dataRectAtScale(double(s)), ScaledGraphView::Zoom);
}

void GraphScrollView::handleScaledGraphViewReady(ScaledGraphView& view)
{
    if (&view == mNextGraphView.get())
        updateAtMode(ScaledGraphView::Zoom);
}

void GraphScrollView::appearanceSettingsChanged()
{
    if (!mGraphTileFactory)
        return;
    mIdeaChangePending = true;
    retire(mNextGraphView);
    updateAtMode(ScaledGraphView::Zoom);
}

// ---- Panning, gliding, zooming

void GraphScrollView::stopAnimation()
{
    if (mAnimator)
        mAnimator->deactivate();
    mAnimator.reset();
}

void GraphScrollView::addSomePan(Point vector)
{
    const double z = double(mZoomScale);
    mDataCenter = clampedToContent(Point(mDataCenter.x - vector.x / z, mDataCenter.y - vector.y / z));
    updateAtMode(ScaledGraphView::Move);
}

void GraphScrollView::handlePanDone(Point swipe)
{
    Point v(-swipe.x / double(mZoomScale), -swipe.y / double(mZoomScale));
    float length = float(std::hypot(v.x, v.y));
    const float cap = kGlideSpeedCap / mZoomScale;
    if (length > cap) {
        v = Point(v.x * double(cap) / double(length), v.y * double(cap) / double(length));
        length = cap;
    }
    if (length < kGlideThreshold)
        return;
    const float duration = length / (3 * length);
    const Point start = mDataCenter;
    stopAnimation();
    mAnimator = Animator::create(duration, kFramesPerSecond);
    std::weak_ptr<GraphScrollView> weak = sharedAs<GraphScrollView>();
    mAnimator->play([weak, v, length, duration, start](Animator& animator) {
        const auto self = weak.lock();
        if (!self)
            return;
        const float p = animator.updateProgress();
        const double t = double(duration) * double(p);
        const double d = double(length) * t - 1.5 * double(length) * t * t;
        self->mDataCenter = self->clampedToContent(
            Point(start.x + v.x * d / double(length), start.y + v.y * d / double(length)));
        self->updateAtMode(p < 1 ? ScaledGraphView::Move : ScaledGraphView::Idle);
    });
}

void GraphScrollView::zoomInCenter(float factor)
{
    closeNoteHover();
    stopAnimation();
    mZoomScale = tentativeZoom(factor);
    updateAtMode(ScaledGraphView::Zoom);
}

void GraphScrollView::qvZoomIn()
{
    zoomInCenter(1.5f);
}

void GraphScrollView::qvZoomOut()
{
    zoomInCenter(0.75f);
}

void GraphScrollView::qvActualSize()
{
    zoomInCenter(-10000.0f);
    if (!mGraphTileFactory)
        return;
    const Size content = mGraphTileFactory->contentSize();
    mDataCenter = Point(content.width / 2, content.height / 2);
    updateAtMode(ScaledGraphView::Zoom);
}

// ---- Picking

void GraphScrollView::openOrFocusIdea(const IdeaPtr& idea)
{
    closeNoteHover();
    if (!idea || !mGraphTileFactory)
        return;
    if (idea->isLink()) {
        if (const IdeaPtr linked = idea->linkedIdea()) {
            mDataCenter = mGraphTileFactory->ideaLocation(linked);
            updateAtMode(ScaledGraphView::Zoom);
        }
        return;
    }
    // A running glide is stopped first: two animations would fight over the centre.
    stopAnimation();
    const Point start = mDataCenter;
    const Point target = mGraphTileFactory->ideaLocation(idea);
    const QString identifier = idea->identifier();
    mAnimator = Animator::create(kFocusDuration, kFramesPerSecond);
    std::weak_ptr<GraphScrollView> weak = sharedAs<GraphScrollView>();
    mAnimator->play([weak, start, target, identifier](Animator& animator) {
        if (const auto self = weak.lock())
            self->focusFrame(animator, start, target, identifier);
    });
}

void GraphScrollView::focusFrame(Animator& animator, Point start, Point target, const QString& identifier)
{
    const float p = animator.updateProgress();
    const double eased = Animator::cubicEaseIn(double(p));
    mDataCenter = Point(start.x + (target.x - start.x) * eased, start.y + (target.y - start.y) * eased);
    updateAtMode(ScaledGraphView::Move);
    if (p < 1)
        return;
    // The overview may be older than the tree: the idea is the one that bears the identifier
    // now; when none does, nothing is picked.
    const IdeaPtr current = mRootIdea ? mRootIdea->findIdeaInSubTreeWithIdentifier(identifier) : nullptr;
    if (!current)
        return;
    mDismissed = true;
    if (const auto delegate = mDelegate.lock())
        delegate->onIdeaSelected(current);
}

} // namespace corvex
