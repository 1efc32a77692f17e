#include "toolkit/BaseView.h"

#include "platform/core/Log.h"
#include "platform/ui/Layer.h"
#include "toolkit/Layouter.h"
#include "toolkit/ViewExtensions.h"

#include <algorithm>

namespace corvex {

namespace {

// The assertion line of an endLayout without an open transaction.
constexpr int StrayEndLayoutLine = 141;
constexpr const char* StrayEndLayoutMethod = "-[BaseView endLayout]";

// Sets a flag for a scope and restores the value it had.
class FlagScope
{
public:
    explicit FlagScope(bool& flag) : mFlag(flag), mOld(flag) { mFlag = true; }
    ~FlagScope() { mFlag = mOld; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& mFlag;
    bool mOld;
};

} // namespace

// One hosted view. `removed` is set when the record leaves the list, so that a layout walking
// a snapshot skips it.
struct BaseView::ViewPart
{
    std::shared_ptr<View> view;
    LayoutBlock layoutBlock;
    bool removed = false;
};

BaseView::BaseView() = default;

BaseView::BaseView(const Rect& frame) : View(frame) {}

BaseView::~BaseView() = default;

std::shared_ptr<BaseView> BaseView::create()
{
    return make<BaseView>();
}

std::shared_ptr<BaseView> BaseView::create(const Rect& frame)
{
    return make<BaseView>(frame);
}

std::shared_ptr<BaseView> BaseView::createWithLayouter(const std::shared_ptr<Layouter>& layouter)
{
    return makeWithLayouter<BaseView>(layouter);
}

std::shared_ptr<BaseView> BaseView::createWithCustomLayer(const std::shared_ptr<Layer>& layer)
{
    return makeWithCustomLayer<BaseView>(layer);
}

void BaseView::prepareBaseView()
{
    setWantsLayer(true);
    setLayerContentsRedrawPolicy(RedrawOnSetNeedsDisplay);
}

void BaseView::installCustomLayer(const std::shared_ptr<Layer>& layer)
{
    // Installed before the preparation step, so that the view hosts this layer instead of
    // having one made for it; setLayer makes the view its delegate.
    setLayer(layer);
}

// ---- Properties ----

bool BaseView::shouldAllowImplicitAnimations() const
{
    for (const BaseView* view = this;;) {
        if (view->mDisableAnimations)
            return false;
        const auto* above = dynamic_cast<const BaseView*>(view->superview());
        if (!above)
            return true;
        view = above;
    }
}

// ---- Hosted views ----

void BaseView::addHostedView(const std::shared_ptr<View>& view, LayoutBlock layout)
{
    if (!view)
        return;
    auto part = std::make_shared<ViewPart>();
    part->view = view;
    part->layoutBlock = std::move(layout);
    mParts.push_back(part);
    view->setFrame(bounds());
    // Adding a view that is already a subview takes it out first; its records stay, so that
    // hosting a view again gives it a second record.
    const View* previous = mRehosting;
    mRehosting = view.get();
    addSubview(view);
    mRehosting = previous;
    forceDirtyLayout();
}

void BaseView::removeHostedView(const View* view)
{
    if (!view)
        return;
    const std::vector<std::shared_ptr<ViewPart>> snapshot = mParts;
    for (const auto& part : snapshot) {
        if (part->view.get() == view)
            part->view->removeFromSuperview();
    }
}

void BaseView::removeAllHostedViews()
{
    std::vector<std::shared_ptr<ViewPart>> snapshot;
    snapshot.swap(mParts);
    for (const auto& part : snapshot)
        part->removed = true;
    for (const auto& part : snapshot)
        part->view->removeFromSuperview();
}

std::vector<std::shared_ptr<View>> BaseView::hostedViews() const
{
    std::vector<std::shared_ptr<View>> views;
    views.reserve(mParts.size());
    for (const auto& part : mParts)
        views.push_back(part->view);
    return views;
}

void BaseView::willRemoveSubview(View* subview)
{
    if (!subview || subview == mRehosting)
        return;
    const auto leaving = [subview](const std::shared_ptr<ViewPart>& part) {
        return part->view.get() == subview;
    };
    for (const auto& part : mParts) {
        if (leaving(part))
            part->removed = true;
    }
    mParts.erase(std::remove_if(mParts.begin(), mParts.end(), leaving), mParts.end());
}

// ---- Layout ----

void BaseView::applyLayout()
{
    FlagScope laying(mInLayout);
    const std::shared_ptr<View> keep = weak_from_this().lock();
    if (const std::shared_ptr<Layouter> layouter = mLayouter.lock())
        layouter->applyLayout();
    // A snapshot: the Layouter or a block may host or remove views. Views hosted meanwhile
    // are laid out by the next pass (their hosting asked for one).
    const std::vector<std::shared_ptr<ViewPart>> snapshot = mParts;
    for (const auto& part : snapshot) {
        if (part->removed || part->view->superview() != this)
            continue;
        const Rect hostBounds = bounds();
        if (part->layoutBlock)
            part->layoutBlock(*part->view, hostBounds);
        else
            part->view->setFrame(hostBounds);
    }
}

void BaseView::callApplyLayout()
{
    runLayout();
}

void BaseView::runLayout()
{
    if (mInLayout) {
        setNeedsLayout(true);
        return;
    }
    FlagScope laying(mInLayout);
    applyLayout();
}

void BaseView::forceDirtyLayout()
{
    if (mLayoutTransaction != 0)
        return;
    const Rect b = bounds();
    if (b.size.width > 0 && b.size.height > 0)
        callApplyLayout();
}

void BaseView::beginLayout()
{
    ++mLayoutTransaction;
}

void BaseView::endLayout()
{
    if (mLayoutTransaction <= 0) {
        Log::assertionFailure(StrayEndLayoutLine, StrayEndLayoutMethod);
        mLayoutTransaction = 0;
        return;
    }
    if (--mLayoutTransaction == 0)
        runLayout();
}

void BaseView::layout()
{
    View::layout();
    if (mLayoutTransaction == 0)
        runLayout();
}

void BaseView::resizeSubviewsWithOldSize(Size)
{
    if (mLayoutTransaction == 0)
        callApplyLayout();
}

// ---- View ----

bool BaseView::isFlipped() const
{
    return true;
}

LayerAction BaseView::actionForLayer(Layer&, const QString&)
{
    return shouldAllowImplicitAnimations() ? LayerAction::noAnswer() : LayerAction::null();
}

void BaseView::mouseDown(const Event& event)
{
    if (!mEatMouseEvents)
        View::mouseDown(event);
}

void BaseView::mouseUp(const Event& event)
{
    if (!mEatMouseEvents)
        View::mouseUp(event);
}

Point BaseView::center() const
{
    return ViewExtensions::center(*this);
}

} // namespace corvex
