#include "platform/ui/View.h"

#include "platform/core/Log.h"
#include "platform/core/MainQueue.h"
#include "platform/core/Scheduler.h"
#include "platform/ui/Event.h"
#include "platform/ui/FrameTrace.h"
#include "platform/ui/Layer.h"
#include "platform/ui/TrackingArea.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/TypeName.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowViewLink_p.h"

#include <algorithm>
#include <typeinfo>

namespace corvex {

// The once-per-turn pass over marked views: layout top-down, tracking areas, drawing, then
// the commit of the turn's implicit transaction. Views are held weakly while they wait.
class UpdateCycle
{
public:
    static UpdateCycle& instance()
    {
        static UpdateCycle cycle;
        return cycle;
    }

    void addLayout(View& view) { add(mLayout, view); }
    void addDisplay(View& view) { add(mDisplay, view); }
    void addTracking(View& view) { add(mTracking, view); }

    bool isPending() const { return !mLayout.empty() || !mDisplay.empty() || !mTracking.empty(); }

    void run()
    {
        if (mRunning)
            return;
        mRunning = true;
        mTask.reset();
        const FrameTrace::Scope tracing(FrameTrace::Phase::Layout);
        layoutPass();
        trackingPass();
        displayPass();
        Transaction::flush();
        mRunning = false;
        if (isPending())
            ensureScheduled();
    }

private:
    // Layout can mark more views (a superview, a view it adds); they are laid out in the
    // same pass, within a bound that stops a layout that keeps marking itself.
    static constexpr int kMaxLayoutRounds = 100;

    void add(std::vector<std::weak_ptr<View>>& list, View& view)
    {
        std::weak_ptr<View> weak = view.weak_from_this();
        // A view that nobody owns through a shared_ptr yet keeps its mark; it is queued when
        // it enters a tree (View::enqueuePendingWork).
        if (weak.expired())
            return;
        list.push_back(std::move(weak));
        ensureScheduled();
    }

    void ensureScheduled()
    {
        if (mRunning)
            return;
        // A task queued on a scheduler that is gone (a test's virtual time) or no longer
        // installed would never run.
        if (!mTask.expired() && mScheduler == &Scheduler::current())
            return;
        auto token = std::make_shared<int>(0);
        mTask = token;
        mScheduler = &Scheduler::current();
        MainQueue::post([token] { UpdateCycle::instance().run(); });
    }

    void layoutPass()
    {
        int rounds = 0;
        while (!mLayout.empty()) {
            if (++rounds > kMaxLayoutRounds) {
                Log::assertionFailure(QStringLiteral("layout keeps asking for layout"));
                mLayout.clear();
                return;
            }
            std::vector<std::weak_ptr<View>> marked;
            marked.swap(mLayout);
            std::vector<std::shared_ptr<View>> roots;
            for (const auto& weak : marked) {
                const std::shared_ptr<View> view = weak.lock();
                if (!view)
                    continue;
                View* root = view.get();
                while (root->superview())
                    root = root->superview();
                std::shared_ptr<View> strong = root->weak_from_this().lock();
                if (strong && std::find(roots.begin(), roots.end(), strong) == roots.end())
                    roots.push_back(std::move(strong));
            }
            for (const auto& root : roots)
                root->layoutSubtreeIfNeeded();
        }
    }

    void trackingPass()
    {
        std::vector<std::weak_ptr<View>> marked;
        marked.swap(mTracking);
        for (const auto& weak : marked) {
            const std::shared_ptr<View> view = weak.lock();
            if (!view || !view->mTrackingNeedsUpdate)
                continue;
            view->mTrackingNeedsUpdate = false;
            if (view->window())
                view->updateTrackingAreas();
        }
    }

    void displayPass()
    {
        std::vector<std::weak_ptr<View>> marked;
        marked.swap(mDisplay);
        for (const auto& weak : marked) {
            const std::shared_ptr<View> view = weak.lock();
            if (view && view->mNeedsDisplay)
                view->drawNow();
        }
    }

    std::vector<std::weak_ptr<View>> mLayout;
    std::vector<std::weak_ptr<View>> mDisplay;
    std::vector<std::weak_ptr<View>> mTracking;
    std::weak_ptr<void> mTask;
    const Scheduler* mScheduler = nullptr;
    bool mRunning = false;
};

namespace {

View::ContextMenuPresenter& contextMenuPresenter()
{
    static View::ContextMenuPresenter presenter;
    return presenter;
}

// The point-in-rectangle rule: the top edge is inside, the bottom edge is not.
bool pointInRect(Point p, const Rect& rect, bool flipped)
{
    const Rect r = rect.standardized();
    if (!(p.x >= r.minX() && p.x < r.maxX()))
        return false;
    return flipped ? (p.y >= r.minY() && p.y < r.maxY()) : (p.y > r.minY() && p.y <= r.maxY());
}

Rect rectFromCorners(Point a, Point b)
{
    const double x0 = std::min(a.x, b.x);
    const double y0 = std::min(a.y, b.y);
    return Rect(x0, y0, std::max(a.x, b.x) - x0, std::max(a.y, b.y) - y0);
}

// Shares `delta` between the flexible parts of one axis in proportion to their lengths.
void distribute(double delta, double* parts[3], const bool flexible[3])
{
    double total = 0;
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        if (flexible[i]) {
            total += std::max(0.0, *parts[i]);
            ++count;
        }
    }
    if (count == 0)
        return;
    for (int i = 0; i < 3; ++i) {
        if (!flexible[i])
            continue;
        const double share = total > 0 ? std::max(0.0, *parts[i]) / total : 1.0 / count;
        *parts[i] += delta * share;
    }
}

} // namespace

// ---- Construction ----

View::View() = default;

View::View(const Rect& frame) : mFrame(frame) {}

View::~View()
{
    for (const auto& subview : mSubviews)
        subview->mSuperview = nullptr;
}

std::shared_ptr<View> View::create(const Rect& frame)
{
    return std::make_shared<View>(frame);
}

QString View::className() const
{
    return unqualifiedTypeName(typeid(*this));
}

QString View::description() const
{
    return QStringLiteral("<%1: 0x%2>").arg(className(), QString::number(quintptr(this), 16));
}

// ---- Geometry ----

void View::setFrame(const Rect& frame)
{
    if (frame == mFrame)
        return;
    const Size oldSize = mFrame.size;
    mFrame = frame;
    applyLayerGeometry();
    geometryChanged(!(oldSize == frame.size), oldSize);
    const bool wasEmpty = !(oldSize.width > 0 && oldSize.height > 0);
    if (wasEmpty && mNeedsDisplay && frame.size.width > 0 && frame.size.height > 0)
        UpdateCycle::instance().addDisplay(*this);
}

void View::setFrameOrigin(Point origin)
{
    setFrame(Rect(origin, mFrame.size));
}

void View::setFrameSize(Size size)
{
    setFrame(Rect(mFrame.origin, size));
}

void View::setBounds(const Rect& bounds)
{
    setBoundsOrigin(bounds.origin);
    setFrameSize(bounds.size);
}

void View::setBoundsOrigin(Point origin)
{
    if (origin == mBoundsOrigin)
        return;
    mBoundsOrigin = origin;
    applyLayerGeometry();
    geometryChanged(false, mFrame.size);
}

bool View::isFlipped() const
{
    return false;
}

void View::geometryChanged(bool sizeChanged, Size oldSize)
{
    if (sizeChanged) {
        resizeSubviewsWithOldSize(oldSize);
        if (mRedrawPolicy == RedrawDuringViewResize || mRedrawPolicy == RedrawBeforeViewResize ||
            mRedrawPolicy == RedrawCrossfade)
            setNeedsDisplay(true);
    }
    if (!window())
        return;
    // Every view below moved in the window: their areas may follow.
    std::vector<View*> stack{this};
    while (!stack.empty()) {
        View* view = stack.back();
        stack.pop_back();
        if (!view->mTrackingNeedsUpdate) {
            view->mTrackingNeedsUpdate = true;
            UpdateCycle::instance().addTracking(*view);
        }
        for (const auto& subview : view->mSubviews)
            stack.push_back(subview.get());
    }
}

Rect View::visibleRect() const
{
    if (isHiddenOrHasHiddenAncestor())
        return Rect();
    Rect visible = bounds();
    for (const View* ancestor = mSuperview; ancestor; ancestor = ancestor->mSuperview) {
        visible = visible.intersection(convertRectFromView(ancestor->bounds(), ancestor));
        if (visible.isNull())
            return Rect();
    }
    return visible.isNull() ? Rect() : visible;
}

// ---- Hierarchy ----

bool View::isDescendantOf(const View* view) const
{
    for (const View* v = this; v; v = v->mSuperview) {
        if (v == view)
            return true;
    }
    return false;
}

Window* View::window() const
{
    return static_cast<Window*>(mWindow.get());
}

void View::addSubview(const std::shared_ptr<View>& view)
{
    attachSubview(view, Ordering::Above, nullptr);
}

void View::addSubview(const std::shared_ptr<View>& view, Ordering ordering, const View* relativeTo)
{
    attachSubview(view, ordering, relativeTo);
}

void View::attachSubview(const std::shared_ptr<View>& view, Ordering ordering, const View* relativeTo)
{
    if (!view)
        return;
    if (isDescendantOf(view.get())) {
        Log::assertionFailure(QStringLiteral("a view cannot be added to itself or below itself: ") +
                              view->description());
        return;
    }
    const std::shared_ptr<View> keep = view; // the old superview may hold the last reference
    Window* newWindow = window();
    const bool windowChanges = view->window() != newWindow;

    view->viewWillMoveToSuperview(this);
    if (windowChanges)
        view->willMoveToWindowRecursive(newWindow);
    if (View* old = view->mSuperview) {
        old->willRemoveSubview(view.get());
        if (view->mSuperview == old)
            old->detachSubview(view.get());
    }

    // Where the view goes among the subviews that remain.
    const View* anchor =
        relativeTo && relativeTo != view.get() && relativeTo->mSuperview == this ? relativeTo : nullptr;
    auto position = mSubviews.end();
    if (anchor) {
        position = std::find_if(mSubviews.begin(), mSubviews.end(),
                                [&](const std::shared_ptr<View>& v) { return v.get() == anchor; });
        if (ordering == Ordering::Above)
            ++position;
    } else if (ordering == Ordering::Below) {
        position = mSubviews.begin();
    }
    mSubviews.insert(position, view);
    view->mSuperview = this;
    insertLayerOf(*view, ordering, anchor);
    view->applyLayerFlipped();
    view->applyLayerGeometry();

    if (windowChanges) {
        view->setWindowRecursive(newWindow);
        view->didMoveToWindowRecursive();
    }
    view->didMoveToSuperview();
    didAddSubview(view.get());
    view->enqueuePendingWork();
}

void View::detachSubview(View* view)
{
    const auto it = std::find_if(mSubviews.begin(), mSubviews.end(),
                                 [&](const std::shared_ptr<View>& v) { return v.get() == view; });
    if (it == mSubviews.end())
        return;
    const std::shared_ptr<View> keep = *it;
    mSubviews.erase(it);
    view->mSuperview = nullptr;
    if (view->mLayer && mLayer && view->mLayer->superlayer() == mLayer)
        view->mLayer->removeFromSuperlayer();
}

void View::removeFromSuperview()
{
    View* old = mSuperview;
    if (!old)
        return;
    const std::shared_ptr<View> keep = weak_from_this().lock();
    const bool hadWindow = window() != nullptr;
    viewWillMoveToSuperview(nullptr);
    if (hadWindow)
        willMoveToWindowRecursive(nullptr);
    old->willRemoveSubview(this);
    // The hook may have moved the view itself.
    if (mSuperview != old)
        return;
    old->detachSubview(this);
    applyLayerFlipped();
    if (hadWindow) {
        setWindowRecursive(nullptr);
        didMoveToWindowRecursive();
    }
    didMoveToSuperview();
}

void View::replaceSubview(const View* oldView, const std::shared_ptr<View>& replacement)
{
    const auto it = std::find_if(mSubviews.begin(), mSubviews.end(),
                                 [&](const std::shared_ptr<View>& v) { return v.get() == oldView; });
    if (it == mSubviews.end() || !replacement) {
        Log::assertionFailure(QStringLiteral("replaceSubview with a view that is not a subview"));
        return;
    }
    if (replacement.get() == oldView)
        return;
    const std::shared_ptr<View> old = *it;
    // The subview above the old one (other than the replacement) marks the place.
    std::shared_ptr<View> above;
    for (auto next = it + 1; next != mSubviews.end(); ++next) {
        if (*next != replacement) {
            above = *next;
            break;
        }
    }
    old->removeFromSuperview();
    if (above && above->mSuperview == this)
        attachSubview(replacement, Ordering::Below, above.get());
    else
        attachSubview(replacement, Ordering::Above, nullptr);
}

void View::willRemoveSubview(View*) {}

void View::didAddSubview(View*) {}

void View::viewWillMoveToSuperview(View*) {}

void View::didMoveToSuperview() {}

void View::viewWillMoveToWindow(Window*) {}

void View::viewDidMoveToWindow() {}

void View::setWindowForContentView(Window* window)
{
    if (this->window() == window)
        return;
    willMoveToWindowRecursive(window);
    setWindowRecursive(window);
    applyLayerFlipped();
    didMoveToWindowRecursive();
    enqueuePendingWork();
}

void View::willMoveToWindowRecursive(Window* window)
{
    viewWillMoveToWindow(window);
    const std::vector<std::shared_ptr<View>> subviews = mSubviews;
    for (const auto& subview : subviews)
        subview->willMoveToWindowRecursive(window);
}

void View::setWindowRecursive(Window* window)
{
    Window* old = this->window();
    if (old && old != window)
        ViewToWindowLink::viewWillLeave(*old, *this);
    mWindow = window;
    applyContentsScale();
    if (window && !mTrackingNeedsUpdate) {
        mTrackingNeedsUpdate = true;
        UpdateCycle::instance().addTracking(*this);
    }
    for (const auto& subview : mSubviews)
        subview->setWindowRecursive(window);
}

void View::didMoveToWindowRecursive()
{
    viewDidMoveToWindow();
    const std::vector<std::shared_ptr<View>> subviews = mSubviews;
    for (const auto& subview : subviews)
        subview->didMoveToWindowRecursive();
}

void View::enqueuePendingWork()
{
    // The view becomes its layer's delegate as soon as a shared_ptr owns it.
    if (mLayer && !mLayer->delegate()) {
        if (auto self = weak_from_this().lock())
            mLayer->setDelegate(self);
    }
    if (mNeedsLayout || mSubtreeNeedsLayout) {
        markAncestorsForLayout();
        UpdateCycle::instance().addLayout(*this);
    }
    if (mNeedsDisplay)
        UpdateCycle::instance().addDisplay(*this);
    if (mTrackingNeedsUpdate)
        UpdateCycle::instance().addTracking(*this);
}

// ---- Layer ----

Layer& View::ensureLayer() const
{
    if (!mLayer) {
        auto* self = const_cast<View*>(this);
        mLayer = Layer::createBackingLayer(isFlipped() != superviewIsFlipped());
        self->mHostsLayer = false;
        if (auto strong = self->weak_from_this().lock())
            mLayer->setDelegate(strong);
        mLayer->setHidden(mHidden);
        mLayer->setOpacity(float(mAlpha));
        self->applyLayerGeometry();
        self->applyContentsScale();
    }
    return *mLayer;
}

const std::shared_ptr<Layer>& View::layer() const
{
    ensureLayer();
    if (!mLayer->delegate()) {
        if (auto strong = const_cast<View*>(this)->weak_from_this().lock())
            mLayer->setDelegate(strong);
    }
    return mLayer;
}

void View::setLayer(const std::shared_ptr<Layer>& layer)
{
    if (layer && layer == mLayer)
        return;
    const std::shared_ptr<Layer> old = mLayer;
    mLayer = layer;
    mHostsLayer = layer != nullptr;
    if (!mLayer) {
        ensureLayer();
    } else {
        // Before a shared_ptr owns the view (a constructor), the link waits until one does.
        if (auto self = weak_from_this().lock())
            mLayer->setDelegate(self);
        else
            mLayer->setDelegate(nullptr);
        mLayer->setHidden(mHidden);
        mLayer->setOpacity(float(mAlpha));
        applyLayerFlipped();
        applyLayerGeometry();
    }
    if (!old)
        return;
    for (const auto& subview : mSubviews) {
        if (subview->mLayer)
            mLayer->addSublayer(subview->mLayer);
    }
    if (auto parent = old->superlayer())
        parent->replaceSublayer(old.get(), mLayer);
    if (old->delegate().get() == this)
        old->setDelegate(nullptr);
}

void View::insertLayerOf(View& view, Ordering ordering, const View* relativeTo)
{
    Layer& mine = ensureLayer();
    view.ensureLayer();
    const std::shared_ptr<Layer>& theirs = view.mLayer;
    const Layer* sibling = relativeTo && relativeTo->mLayer && relativeTo->mLayer->superlayer().get() == &mine
                               ? relativeTo->mLayer.get()
                               : nullptr;
    if (ordering == Ordering::Above) {
        if (sibling)
            mine.insertSublayerAbove(theirs, sibling);
        else
            mine.addSublayer(theirs);
    } else {
        if (sibling)
            mine.insertSublayerBelow(theirs, sibling);
        else
            mine.insertSublayer(theirs, 0);
    }
}

void View::applyLayerGeometry()
{
    if (!mLayer)
        return;
    mLayer->setBounds(bounds());
    const Point anchor = mLayer->anchorPoint();
    mLayer->setPosition(Point(mFrame.origin.x + anchor.x * mFrame.size.width,
                              mFrame.origin.y + anchor.y * mFrame.size.height));
}

void View::applyLayerFlipped()
{
    if (mLayer)
        mLayer->setGeometryFlipped(isFlipped() != superviewIsFlipped());
}

void View::applyContentsScale()
{
    Window* w = window();
    if (!mLayer || mHostsLayer || !w)
        return;
    const double scale = w->backingScaleFactor();
    if (mLayer->contentsScale() == scale)
        return;
    mLayer->setContentsScale(scale);
    if (!mDrawsNothing && !mLayer->contents().isNull())
        setNeedsDisplay(true);
}

void View::updateLayerGeometry()
{
    applyLayerFlipped();
    applyLayerGeometry();
}

void View::setAlphaValue(double alpha)
{
    mAlpha = alpha;
    if (mLayer)
        mLayer->setOpacity(float(alpha));
}

void View::setHidden(bool hidden)
{
    if (hidden == mHidden)
        return;
    mHidden = hidden;
    if (mLayer)
        mLayer->setHidden(hidden);
    geometryChanged(false, mFrame.size);
}

bool View::isHiddenOrHasHiddenAncestor() const
{
    for (const View* v = this; v; v = v->mSuperview) {
        if (v->mHidden)
            return true;
    }
    return false;
}

LayerAction View::actionForLayer(Layer&, const QString&)
{
    return LayerAction::null();
}

bool View::displayLayer(Layer& layer)
{
    if (&layer != mLayer.get() || mHostsLayer || !(mDrawsNothing || drawsNothingNow()))
        return false;
    if (!layer.contents().isNull())
        layer.setContents(QImage());
    return true;
}

void View::drawLayer(Layer& layer, GraphicsContext& context)
{
    if (&layer == mLayer.get())
        drawRect(bounds(), context);
}

bool View::superviewIsFlipped() const
{
    return mSuperview && mSuperview->isFlipped();
}

// ---- Layout ----

void View::setNeedsLayout(bool needs)
{
    if (!needs) {
        mNeedsLayout = false;
        return;
    }
    if (mNeedsLayout)
        return;
    mNeedsLayout = true;
    markAncestorsForLayout();
    UpdateCycle::instance().addLayout(*this);
}

void View::markAncestorsForLayout()
{
    for (View* v = mSuperview; v && !v->mSubtreeNeedsLayout; v = v->mSuperview)
        v->mSubtreeNeedsLayout = true;
}

void View::layout() {}

void View::layoutSubtreeIfNeeded()
{
    const std::shared_ptr<View> keep = weak_from_this().lock();
    if (mNeedsLayout) {
        mNeedsLayout = false;
        layout();
    }
    if (!mSubtreeNeedsLayout)
        return;
    mSubtreeNeedsLayout = false;
    const std::vector<std::shared_ptr<View>> subviews = mSubviews;
    for (const auto& subview : subviews) {
        if (subview->mSuperview == this)
            subview->layoutSubtreeIfNeeded();
    }
}

void View::resizeSubviewsWithOldSize(Size oldSize)
{
    if (!mAutoresizesSubviews)
        return;
    const std::vector<std::shared_ptr<View>> subviews = mSubviews;
    for (const auto& subview : subviews)
        subview->resizeWithOldSuperviewSize(oldSize);
}

void View::resizeWithOldSuperviewSize(Size oldSize)
{
    if (mAutoresizingMask == NotSizable || !mSuperview)
        return;
    const Rect superBounds = mSuperview->bounds();
    const Size newSize = superBounds.size;

    double left = mFrame.origin.x - superBounds.origin.x;
    double width = mFrame.size.width;
    double right = oldSize.width - left - width;
    double* xParts[3] = {&left, &width, &right};
    const bool xFlexible[3] = {(mAutoresizingMask & MinXMargin) != 0, (mAutoresizingMask & WidthSizable) != 0,
                               (mAutoresizingMask & MaxXMargin) != 0};
    distribute(newSize.width - oldSize.width, xParts, xFlexible);

    double low = mFrame.origin.y - superBounds.origin.y;
    double height = mFrame.size.height;
    double high = oldSize.height - low - height;
    double* yParts[3] = {&low, &height, &high};
    const bool yFlexible[3] = {(mAutoresizingMask & MinYMargin) != 0,
                               (mAutoresizingMask & HeightSizable) != 0,
                               (mAutoresizingMask & MaxYMargin) != 0};
    distribute(newSize.height - oldSize.height, yParts, yFlexible);

    setFrame(Rect(superBounds.origin.x + left, superBounds.origin.y + low, std::max(0.0, width),
                  std::max(0.0, height)));
}

Size View::intrinsicContentSize() const
{
    return Size(NoIntrinsicMetric, NoIntrinsicMetric);
}

void View::sizeToFit() {}

// ---- Drawing ----

void View::setNeedsDisplay(bool needs)
{
    if (!needs) {
        mNeedsDisplay = false;
        return;
    }
    if (mNeedsDisplay)
        return;
    mNeedsDisplay = true;
    UpdateCycle::instance().addDisplay(*this);
}

void View::setNeedsDisplayInRect(const Rect&)
{
    setNeedsDisplay(true);
}

void View::drawNow()
{
    // A view without area has nothing to draw yet: the request stays pending until the view
    // gets a size (setFrame queues it again), so a view made at the zero rectangle and sized
    // later is still drawn once, whatever its redraw policy.
    if (!(mFrame.size.width > 0 && mFrame.size.height > 0)) {
        mNeedsDisplay = true;
        return;
    }
    mNeedsDisplay = false;
    Layer& target = *layer();
    target.display();
    // The default drawRect ran: keep no (blank) contents for a view that draws nothing.
    if (mDrawsNothing && !mHostsLayer && !target.contents().isNull())
        target.setContents(QImage());
}

void View::display()
{
    const std::shared_ptr<View> keep = weak_from_this().lock();
    drawNow();
    const std::vector<std::shared_ptr<View>> subviews = mSubviews;
    for (const auto& subview : subviews)
        subview->display();
}

void View::displayIfNeeded()
{
    const std::shared_ptr<View> keep = weak_from_this().lock();
    if (mNeedsDisplay)
        drawNow();
    const std::vector<std::shared_ptr<View>> subviews = mSubviews;
    for (const auto& subview : subviews)
        subview->displayIfNeeded();
}

void View::drawRect(const Rect&, GraphicsContext&)
{
    mDrawsNothing = true;
}

bool View::isOpaque() const
{
    return false;
}

// ---- Hit testing and conversion ----

View* View::hitTest(Point pointInSuperview)
{
    if (mHidden || !pointInRect(pointInSuperview, mFrame, superviewIsFlipped()))
        return nullptr;
    const Point local = convertFromSuperview(pointInSuperview);
    for (std::size_t i = mSubviews.size(); i-- > 0;) {
        if (i >= mSubviews.size())
            continue;
        if (View* hit = mSubviews[i]->hitTest(local))
            return hit;
    }
    return this;
}

bool View::mouseInRect(Point point, const Rect& rect) const
{
    return pointInRect(point, rect, isFlipped());
}

Point View::convertToSuperview(Point p) const
{
    const double x = mFrame.origin.x + (p.x - mBoundsOrigin.x);
    if (isFlipped() == superviewIsFlipped())
        return Point(x, mFrame.origin.y + (p.y - mBoundsOrigin.y));
    return Point(x, mFrame.origin.y + (mBoundsOrigin.y + mFrame.size.height - p.y));
}

Point View::convertFromSuperview(Point p) const
{
    const double x = p.x - mFrame.origin.x + mBoundsOrigin.x;
    if (isFlipped() == superviewIsFlipped())
        return Point(x, p.y - mFrame.origin.y + mBoundsOrigin.y);
    return Point(x, mBoundsOrigin.y + mFrame.size.height - (p.y - mFrame.origin.y));
}

Point View::convertToBase(Point p) const
{
    for (const View* v = this; v; v = v->mSuperview)
        p = v->convertToSuperview(p);
    return p;
}

Point View::convertFromBase(Point p) const
{
    std::vector<const View*> chain;
    for (const View* v = this; v; v = v->mSuperview)
        chain.push_back(v);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        p = (*it)->convertFromSuperview(p);
    return p;
}

Point View::convertPointFromView(Point point, const View* view) const
{
    if (view == this)
        return point;
    Point base = view ? view->convertToBase(point) : point;
    Window* theirs = view ? view->window() : nullptr;
    Window* mine = window();
    if (theirs && mine && theirs != mine)
        base = mine->convertPointFromScreen(theirs->convertPointToScreen(base));
    return convertFromBase(base);
}

Point View::convertPointToView(Point point, const View* view) const
{
    if (view == this)
        return point;
    Point base = convertToBase(point);
    Window* mine = window();
    Window* theirs = view ? view->window() : nullptr;
    if (theirs && mine && theirs != mine)
        base = theirs->convertPointFromScreen(mine->convertPointToScreen(base));
    return view ? view->convertFromBase(base) : base;
}

Rect View::convertRectFromView(const Rect& rect, const View* view) const
{
    const Rect r = rect.standardized();
    return rectFromCorners(convertPointFromView(Point(r.minX(), r.minY()), view),
                           convertPointFromView(Point(r.maxX(), r.maxY()), view));
}

Rect View::convertRectToView(const Rect& rect, const View* view) const
{
    const Rect r = rect.standardized();
    return rectFromCorners(convertPointToView(Point(r.minX(), r.minY()), view),
                           convertPointToView(Point(r.maxX(), r.maxY()), view));
}

// ---- Responder ----

Responder* View::nextResponder() const
{
    if (Responder* set = Responder::nextResponder())
        return set;
    return defaultNextResponder();
}

Responder* View::defaultNextResponder() const
{
    if (mSuperview)
        return mSuperview;
    return window();
}

void View::rightMouseDown(const Event& event)
{
    const std::shared_ptr<Menu> menu = menuForEvent(event);
    if (!menu) {
        Responder::rightMouseDown(event);
        return;
    }
    if (const ContextMenuPresenter& presenter = contextMenuPresenter())
        presenter(menu, event, *this);
    else
        Log::warning(
            QStringLiteral("No context menu presenter: the menu of %1 is not shown").arg(description()));
}

std::shared_ptr<Menu> View::menuForEvent(const Event&)
{
    return nullptr;
}

void View::setContextMenuPresenter(ContextMenuPresenter presenter)
{
    contextMenuPresenter() = std::move(presenter);
}

bool View::hasContextMenuPresenter()
{
    return static_cast<bool>(contextMenuPresenter());
}

// ---- Tracking areas ----

void View::addTrackingArea(const std::shared_ptr<TrackingArea>& area)
{
    if (area && std::find(mTrackingAreas.begin(), mTrackingAreas.end(), area) == mTrackingAreas.end())
        mTrackingAreas.push_back(area);
}

void View::removeTrackingArea(const TrackingArea* area)
{
    mTrackingAreas.erase(
        std::remove_if(mTrackingAreas.begin(), mTrackingAreas.end(),
                       [&](const std::shared_ptr<TrackingArea>& a) { return a.get() == area; }),
        mTrackingAreas.end());
}

void View::updateTrackingAreas() {}

// ---- Dragging ----

void View::registerForDraggedTypes(const QStringList& types)
{
    for (const QString& type : types) {
        if (!mDraggedTypes.contains(type))
            mDraggedTypes.append(type);
    }
}

void View::unregisterDraggedTypes()
{
    mDraggedTypes.clear();
}

// ---- Update cycle ----

void View::runUpdateCycle()
{
    UpdateCycle::instance().run();
}

bool View::isUpdateCyclePending()
{
    return UpdateCycle::instance().isPending();
}

// ---- The window's calls ----

void WindowToViewLink::setContentViewWindow(View& view, Window* window)
{
    view.setWindowForContentView(window);
}

void WindowToViewLink::backingScaleChanged(View& view)
{
    view.applyContentsScale();
}

} // namespace corvex
