#include "toolkit/RoundedTextButton.h"

#include "model/Globals.h"
#include "platform/core/MainQueue.h"
#include "platform/gfx/AttributedString.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/gfx/Path.h"
#include "toolkit/RoundedTextButtonDelegate.h"
#include "toolkit/TextLabel.h"
#include "toolkit/ViewExtensions.h"

#include <utility>

namespace corvex {

namespace {

constexpr quint64 StyleOutlined = 0;
constexpr quint64 StyleFilledGrey = 1;
constexpr quint64 StyleSmallOutlined = 2;
constexpr quint64 StyleFilledGreen = 3;

} // namespace

RoundedTextButton::RoundedTextButton(std::shared_ptr<RoundedTextButtonDelegate> delegate, quint64 style)
    : mDelegate(std::move(delegate)), mStyle(style)
{}

RoundedTextButton::~RoundedTextButton() = default;

std::shared_ptr<RoundedTextButton>
RoundedTextButton::createWithDelegate(std::shared_ptr<RoundedTextButtonDelegate> delegate, quint64 style)
{
    auto button = BaseView::make<RoundedTextButton>(std::move(delegate), style);
    button->prepareRoundedTextButton();
    return button;
}

void RoundedTextButton::prepareRoundedTextButton()
{
    mUserInteractionEnabled = true;
    mButtonLabel = TextLabel::create();
    addSubview(mButtonLabel);
    updateView();
}

void RoundedTextButton::setButtonTitle(const QString& title)
{
    TextAttributes attributes;
    attributes.font =
        mStyle == StyleFilledGreen ? Globals::fontAvenirHeavy(11.5) : Globals::fontAvenirMedium(11.5);
    // The label keeps the colour updateView gave it.
    attributes.foregroundColor = mButtonLabel->textColor();
    attributes.kern = 1.0;
    mButtonLabel->setAttributedText(AttributedString(title, attributes));
    mButtonLabel->sizeToFit();
    forceDirtyLayout();
}

double RoundedTextButton::preferredHeight() const
{
    return mStyle == StyleSmallOutlined ? 22.0 : 28.0;
}

double RoundedTextButton::cornerRadius() const
{
    return mStyle == StyleSmallOutlined ? 11.0 : 13.0;
}

void RoundedTextButton::sizeToFit()
{
    setFrame(Rect(frame().origin, Size(mButtonLabel->frame().size.width + 20, preferredHeight())));
    applyLayout();
}

void RoundedTextButton::applyLayout()
{
    BaseView::applyLayout();
    ViewExtensions::setCenter(*mButtonLabel, ViewExtensions::centerPoint(*this));
    ViewExtensions::ensureIntegralFrame(*mButtonLabel);
}

void RoundedTextButton::setToggled(bool toggled)
{
    ++mOperationCount;
    if (toggled == mToggled)
        return;
    mToggled = toggled;
    updateView();
}

void RoundedTextButton::updateView()
{
    if (mToggled) {
        mButtonLabel->setTextColor(Globals::colorWhite());
    } else {
        switch (mStyle) {
        case StyleOutlined:
            mButtonLabel->setTextColor(Globals::colorGray23());
            break;
        case StyleFilledGrey:
            mButtonLabel->setTextColor(Globals::colorGray46());
            break;
        case StyleSmallOutlined:
            mButtonLabel->setTextColor(Globals::colorBlack());
            break;
        case StyleFilledGreen:
            mButtonLabel->setTextColor(Globals::colorWhite());
            break;
        default:
            break;
        }
    }
    setNeedsDisplay(true);
}

void RoundedTextButton::drawRect(const Rect&, GraphicsContext& context)
{
    const double radius = cornerRadius();
    Path shape;
    context.saveGState();
    if (mToggled) {
        shape.addRoundedRect(bounds().insetBy(1.0, 1.0), radius, radius);
        context.addPath(shape);
        context.setFillColor(Globals::colorNiceGreen());
        context.fillPath();
    } else if (mStyle <= StyleFilledGreen) {
        const Rect outline = bounds().insetBy(0.5, 0.5);
        if (mStyle == StyleOutlined || mStyle == StyleSmallOutlined) {
            // The outline of width 1 is filled as the ring between its two offsets, which is
            // the area a stroke covers: Qt's stroker flattens the offset arcs coarsely,
            // leaving the outer edge of the corners up to a quarter pixel thin.
            constexpr double halfLine = 0.5;
            shape.addRoundedRect(outline.insetBy(-halfLine, -halfLine), radius + halfLine, radius + halfLine);
            shape.addRoundedRect(outline.insetBy(halfLine, halfLine), radius - halfLine, radius - halfLine);
            context.addPath(shape);
            context.setFillColor(Globals::colorGray23());
            context.drawPath(PathDrawingMode::EvenOddFill);
        } else {
            shape.addRoundedRect(outline, radius, radius);
            context.addPath(shape);
            context.setFillColor(mStyle == StyleFilledGrey ? Globals::colorGray91()
                                                           : Globals::colorDollarGreen());
            context.fillPath();
        }
    }
    context.restoreGState();
}

void RoundedTextButton::mouseDown(const Event&)
{
    if (mUserInteractionEnabled)
        setToggled(true);
}

void RoundedTextButton::mouseUp(const Event&)
{
    if (!mUserInteractionEnabled)
        return;
    const qint64 operation = ++mOperationCount;
    auto self = sharedAs<RoundedTextButton>();
    MainQueue::postAfter(ReleaseReportDelay, [self, operation]() {
        if (self->mOperationCount != operation)
            return;
        if (self->mDelegate)
            self->mDelegate->roundedTextButtonPressed(*self);
        self->setToggled(false);
    });
}

} // namespace corvex
