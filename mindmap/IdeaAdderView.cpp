#include "mindmap/IdeaAdderView.h"

#include "graphics/ImageExtensions.h"
#include "mindmap/IdeaAdderViewDelegate.h"
#include "model/Idea.h"
#include "platform/ui/Event.h"
#include "platform/ui/TrackingArea.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

namespace {

constexpr double kAdderSide = 40;
constexpr double kAdderHoverScale = 1.25;

constexpr quint64 kAdderPlusState = 1;
constexpr quint64 kAdderPlusHoverState = 2;
constexpr quint64 kAdderDockState = 3;

} // namespace

IdeaAdderView::IdeaAdderView() : BaseView(Rect(0, 0, kAdderSide, kAdderSide)) {}

IdeaAdderView::~IdeaAdderView() = default;

std::shared_ptr<IdeaAdderView> IdeaAdderView::create()
{
    auto adder = BaseView::make<IdeaAdderView>();
    adder->prepareIdeaAdderView();
    return adder;
}

QString IdeaAdderView::className() const
{
    return QStringLiteral("IdeaAdderView");
}

void IdeaAdderView::prepareIdeaAdderView()
{
    setFrame(Rect(0, 0, kAdderSide, kAdderSide));
    mPlusIcon = PlatformImage::imageNamed(QStringLiteral("plus_on_circle"));
    mPlusIconActive = PlatformImage::imageNamed(QStringLiteral("plus_on_circle_hover"));
    mSmallDockIcon = ImageExtensions::deviceImageNamed(QStringLiteral("small_dock"));
    mSmallDockActiveIcon = ImageExtensions::deviceImageNamed(QStringLiteral("small_dock_active"));
    mImageView = BaseImageView::create(Rect(Point(), mPlusIcon.size()));
    ViewExtensions::setCenter(*mImageView, ViewExtensions::centerPoint(*this));
    ViewExtensions::ensureIntegralFrame(*mImageView);
    addSubview(mImageView);
    mAdderState = kAdderPlusState;
    reactToStateChange();
}

void IdeaAdderView::setAdderState(quint64 state)
{
    if (state == mAdderState)
        return;
    mAdderState = state;
    reactToStateChange();
}

void IdeaAdderView::setInFocus(bool inFocus)
{
    if (inFocus == mInFocus)
        return;
    mInFocus = inFocus;
    reactToStateChange();
}

void IdeaAdderView::reactToStateChange()
{
    switch (mAdderState) {
    case kAdderPlusState:
        mImageView->setImage(mPlusIcon);
        break;
    case kAdderPlusHoverState:
        mImageView->setImage(mPlusIconActive);
        break;
    case kAdderDockState:
        mImageView->setImage(mInFocus ? mSmallDockActiveIcon : mSmallDockIcon);
        break;
    default:
        setHidden(true);
        return;
    }
    setHidden(false);
}

void IdeaAdderView::handleTap()
{
    if (auto delegate = mDelegate.lock())
        delegate->handleTapOnIdeaAdderView(*this);
}

View* IdeaAdderView::hitTest(Point pointInSuperview)
{
    return View::hitTest(pointInSuperview) ? this : nullptr;
}

void IdeaAdderView::updateTrackingAreas()
{
    if (mTrackingArea)
        removeTrackingArea(mTrackingArea.get());
    mTrackingArea = TrackingArea::create(bounds(),
                                         TrackingArea::MouseEnteredAndExited |
                                             TrackingArea::ActiveInKeyWindow | TrackingArea::InVisibleRect,
                                         this);
    addTrackingArea(mTrackingArea);
    BaseView::updateTrackingAreas();
}

void IdeaAdderView::mouseEntered(const Event& event)
{
    if (mAdderState == kAdderPlusState && superview()) {
        const Point inSuperview = superview()->convertPointFromView(event.locationInWindow(), nullptr);
        if (hitTest(inSuperview))
            ViewExtensions::setScale(*mImageView, kAdderHoverScale);
    }
    BaseView::mouseEntered(event);
}

void IdeaAdderView::mouseExited(const Event& event)
{
    ViewExtensions::setScale(*mImageView, 1.0);
    if (mAdderState == kAdderPlusState)
        mImageView->setImage(mPlusIcon);
    BaseView::mouseExited(event);
}

void IdeaAdderView::mouseDown(const Event&)
{
    mPressed = true;
}

void IdeaAdderView::mouseDragged(const Event&) {}

void IdeaAdderView::mouseUp(const Event& event)
{
    if (!mPressed)
        return;
    mPressed = false;
    const Point inSelf = convertPointFromView(event.locationInWindow(), nullptr);
    if (mouseInRect(inSelf, bounds()))
        handleTap();
}

} // namespace corvex
