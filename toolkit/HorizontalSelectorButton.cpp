#include "toolkit/HorizontalSelectorButton.h"

#include "model/Globals.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Path.h"
#include "toolkit/HorizontalSelectorButtonDelegate.h"
#include "toolkit/TextLabel.h"
#include "toolkit/ViewExtensions.h"

#include <utility>

namespace corvex {

HorizontalSelectorButton::HorizontalSelectorButton(std::shared_ptr<HorizontalSelectorButtonDelegate> delegate)
    : mDelegate(std::move(delegate))
{}

HorizontalSelectorButton::~HorizontalSelectorButton() = default;

std::shared_ptr<HorizontalSelectorButton>
HorizontalSelectorButton::createWithDelegate(std::shared_ptr<HorizontalSelectorButtonDelegate> delegate)
{
    auto button = BaseView::make<HorizontalSelectorButton>(std::move(delegate));
    button->prepareHorizontalSelectorButton();
    return button;
}

void HorizontalSelectorButton::prepareHorizontalSelectorButton()
{
    mUserInteractionEnabled = true;
    mButtonLabel = TextLabel::create();
    addSubview(mButtonLabel);
    updateView();
}

void HorizontalSelectorButton::setButtonTitle(const QString& title)
{
    TextAttributes attributes;
    attributes.font = Globals::fontAvenirMedium(10.0);
    // The label keeps the colour updateView gave it.
    attributes.foregroundColor = mButtonLabel->textColor();
    mButtonLabel->setAttributedText(AttributedString(title, attributes));
    mButtonLabel->sizeToFit();
    forceDirtyLayout();
}

void HorizontalSelectorButton::sizeToFit()
{
    setFrame(Rect(frame().origin, Size(mButtonLabel->frame().size.width + 20, PreferredHeight)));
    applyLayout();
}

void HorizontalSelectorButton::applyLayout()
{
    BaseView::applyLayout();
    ViewExtensions::setCenter(*mButtonLabel, ViewExtensions::centerPoint(*this));
    ViewExtensions::ensureIntegralFrame(*mButtonLabel);
}

void HorizontalSelectorButton::setToggled(bool toggled)
{
    if (toggled == mToggled)
        return;
    mToggled = toggled;
    updateView();
}

void HorizontalSelectorButton::updateView()
{
    mButtonLabel->setTextColor(mToggled ? Globals::colorWhite() : Globals::colorGray58());
    setNeedsDisplay(true);
}

void HorizontalSelectorButton::drawRect(const Rect&, GraphicsContext& context)
{
    Path shape;
    shape.addRoundedRect(bounds().insetBy(2.0, 2.0), 13.0, 13.0);
    context.saveGState();
    context.addPath(shape);
    context.setFillColor(mToggled ? Globals::colorNiceGreen() : Globals::colorGray91());
    context.fillPath();
    context.restoreGState();
}

void HorizontalSelectorButton::mouseDown(const Event&)
{
    if (!mUserInteractionEnabled)
        return;
    setToggled(!mToggled);
    // The delegate may change the state again (the selector does); keep the button alive
    // while it is told.
    auto self = sharedAs<HorizontalSelectorButton>();
    if (mDelegate)
        mDelegate->selectorButtonPressed(*self);
}

void HorizontalSelectorButton::mouseUp(const Event&) {}

} // namespace corvex
