#include "toolkit/ButtonView.h"

#include "platform/core/MainQueue.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/ButtonViewDelegate.h"

namespace corvex {

ButtonView::ButtonView() = default;

ButtonView::~ButtonView() = default;

std::shared_ptr<ButtonView> ButtonView::create()
{
    return make<ButtonView>();
}

std::shared_ptr<ButtonView> ButtonView::createWithImage(const PlatformImage& image,
                                                        const PlatformImage& activeImage)
{
    auto button = make<ButtonView>();
    // The normal image goes in last so that it lies above the active one.
    if (!activeImage.isNull())
        button->addImage(activeImage, ButtonPart::ShownWhenActive);
    if (!image.isNull())
        button->addImage(image, ButtonPart::ShownWhenNormal);
    button->setFrame(Rect(Point(0, 0), image.isNull() ? Size() : image.size()));
    return button;
}

void ButtonView::prepareButtonView()
{
    mParts.clear();
    mUserInteractionEnabled = true;
    setNeedsDisplay(true);
}

void ButtonView::addView(const std::shared_ptr<View>& view, quint64 mask, ButtonPart::LayoutBlock layout)
{
    if (!view)
        return;
    auto part = std::make_shared<ButtonPart>(view, mask, std::move(layout));
    mParts.push_back(part);
    updateViewStateForPart(*part);
    addSubview(view);
    forceDirtyLayout();
}

void ButtonView::addImage(const PlatformImage& image, quint64 mask)
{
    addView(BaseImageView::createWithImage(image), mask);
}

void ButtonView::updateViewStateForPart(ButtonPart& part, bool state)
{
    if (part.view())
        part.view()->setHidden(!part.isShownInState(state));
}

void ButtonView::updateViewStateForPart(ButtonPart& part)
{
    updateViewStateForPart(part, mToggled);
}

void ButtonView::showState(bool active)
{
    // A copy: a part's view may run code that adds parts while it is shown or hidden.
    const auto parts = mParts;
    for (const auto& part : parts)
        updateViewStateForPart(*part, active);
}

void ButtonView::setToggled(bool toggled)
{
    ++mOperationCount;
    if (toggled == mToggled)
        return;
    mToggled = toggled;
    showState(mToggled);
}

void ButtonView::applyLayout()
{
    BaseView::applyLayout();
    const Rect b = bounds();
    const auto parts = mParts;
    for (const auto& part : parts) {
        if (!part->view())
            continue;
        if (part->layoutBlock())
            part->layoutBlock()(*part->view(), b);
        else
            part->view()->setFrame(b);
    }
}

View* ButtonView::hitTest(Point pointInSuperview)
{
    if (isHidden())
        return nullptr;
    return frame().contains(pointInSuperview) ? this : nullptr;
}

void ButtonView::mouseDown(const Event& event)
{
    mMouseDownSeen = true;
    if (!mUserInteractionEnabled)
        return;
    showState(mIsToggleButton ? !mToggled : true);
    if (!mIsToggleButton)
        return;
    mLastEvent = event;
    // The delegate normally answers with setToggled.
    if (auto delegate = mDelegate.lock())
        delegate->buttonPressed(*this);
}

void ButtonView::mouseUp(const Event& event)
{
    if (!mUserInteractionEnabled || !mMouseDownSeen)
        return;
    mMouseDownSeen = false;
    const qint64 operation = ++mOperationCount;
    // The pending report keeps the button alive until it has run: a button dropped by its
    // owner right after a click still reports that click.
    auto self = sharedAs<ButtonView>();
    MainQueue::postAfter(ReleaseReportDelay, [self, operation, event]() {
        if (self->mOperationCount != operation)
            return;
        self->showState(self->mIsToggleButton ? self->mToggled : false);
        if (self->mIsToggleButton)
            return;
        self->mLastEvent = event;
        if (auto delegate = self->mDelegate.lock())
            delegate->buttonPressed(*self);
    });
}

} // namespace corvex
