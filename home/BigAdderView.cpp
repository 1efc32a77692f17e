#include "home/BigAdderView.h"

#include "home/BigAdderLayer.h"
#include "platform/core/MainQueue.h"
#include "platform/gfx/Transform3D.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/TrackingArea.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

BigAdderView::BigAdderView() = default;

BigAdderView::~BigAdderView() = default;

std::shared_ptr<BigAdderView> BigAdderView::create()
{
    auto layer = BigAdderLayer::create();
    auto view = BaseView::makeWithCustomLayer<BigAdderView>(layer);
    view->mLayer = layer;
    view->setFrame(Rect(0, 0, 186, 186));
    view->setNeedsDisplay();
    return view;
}

QString BigAdderView::className() const
{
    return QStringLiteral("BigAdderView");
}

void BigAdderView::setDockMode(bool dockMode)
{
    if (dockMode == mDockMode)
        return;
    mDockMode = dockMode;
    ViewExtensions::setScale(*this, dockMode ? 0.75 : 1.0);
}

bool BigAdderView::eventHitsAdder(const Event& event)
{
    View* parent = superview();
    if (!parent)
        return false;
    return hitTest(parent->convertPointFromView(event.locationInWindow(), nullptr)) == this;
}

void BigAdderView::mouseDown(const Event& event)
{
    mPressedHere = false;
    if (!mUserInteractionEnabled) {
        BaseView::mouseDown(event);
        return;
    }
    mPressedHere = true;
    mLayer->setPressed(true);
}

void BigAdderView::mouseEntered(const Event& event)
{
    if (mUserInteractionEnabled && eventHitsAdder(event)) {
        mLayer->setTransform(Transform3D::makeScale(1.02, 1.02, 1));
        mLayer->setPressed(false);
    }
    BaseView::mouseEntered(event);
}

void BigAdderView::mouseExited(const Event& event)
{
    mLayer->setTransform(Transform3D::makeScale(mDockMode ? 0.75 : 1.0, mDockMode ? 0.75 : 1.0, 1));
    mLayer->setPressed(false);
    BaseView::mouseExited(event);
}

void BigAdderView::mouseUp(const Event& event)
{
    if (!mUserInteractionEnabled || !mPressedHere) {
        BaseView::mouseUp(event);
        return;
    }
    mPressedHere = false;
    const qint64 operation = ++mOperationCount;
    std::weak_ptr<BigAdderView> weak = sharedAs<BigAdderView>();
    MainQueue::postAfter(0.1, [weak, operation] {
        auto self = weak.lock();
        if (self && self->mOperationCount == operation)
            self->mLayer->setPressed(false);
    });
    // A release away from the adder creates nothing: the press was taken back.
    if (!eventHitsAdder(event))
        return;
    if (auto delegate = mDelegate.lock())
        delegate->pleaseCreateNewIdea();
}

void BigAdderView::updateTrackingAreas()
{
    if (mTrackingArea)
        removeTrackingArea(mTrackingArea.get());
    mTrackingArea = TrackingArea::create(
        visibleRect(), TrackingArea::MouseEnteredAndExited | TrackingArea::ActiveInKeyWindow, this);
    addTrackingArea(mTrackingArea);
    BaseView::updateTrackingAreas();
}

} // namespace corvex
