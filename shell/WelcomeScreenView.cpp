#include "shell/WelcomeScreenView.h"

#include "model/Globals.h"
#include "platform/core/Bundle.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Cursor.h"
#include "platform/ui/Layer.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/BlurView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/RoundedTextButton.h"
#include "toolkit/TextView.h"

namespace corvex {

WelcomeScreenView::WelcomeScreenView() = default;
WelcomeScreenView::~WelcomeScreenView() = default;

std::shared_ptr<WelcomeScreenView> WelcomeScreenView::initWithScreenshot(const QVImage& screenshot)
{
    auto view = BaseView::make<WelcomeScreenView>();
    view->build(screenshot);
    return view;
}

QString WelcomeScreenView::className() const
{
    return QStringLiteral("WelcomeScreenView");
}

std::shared_ptr<TextView> WelcomeScreenView::addLabel(const QString& text, double width,
                                                      const PlatformColor& colour)
{
    auto label = TextView::create();
    label->setFrame(Rect(0, 0, width, 18));
    label->setTextColor(colour);
    label->setFont(Globals::fontAvenirLight(13));
    label->setKern(-0.1);
    label->setTextAlignment(0);
    label->setText(text);
    addSubview(label);
    return label;
}

std::shared_ptr<TextView> WelcomeScreenView::addPrimaryLabel(const QString& text)
{
    return addLabel(text, 300, Globals::colorBlack());
}

std::shared_ptr<TextView> WelcomeScreenView::addSecondaryLabel(const QString& text)
{
    return addLabel(text, 310, Globals::colorGray46());
}

void WelcomeScreenView::build(const QVImage& screenshot)
{
    const Size pixels = screenshot.pixelSize();
    setFrame(Rect(0, 0, pixels.width, pixels.height));

    mBlurView = BlurView::createWithScreenshot(screenshot);
    addSubview(mBlurView);

    mColoredView = ColoredView::create(Globals::colorGray95());
    mColoredView->layer()->setCornerRadius(2);
    mColoredView->layer()->setBorderWidth(1);
    mColoredView->layer()->setBorderColor(Globals::colorGray58());
    addSubview(mColoredView);

    const PlatformImage logo = PlatformImage::imageNamed(QStringLiteral("about_logo"));
    mLogoView = BaseImageView::createWithImage(logo);
    mLogoView->setFrame(Rect(Point(), logo.size()));
    addSubview(mLogoView);

    mVersionLabel = addPrimaryLabel(QStringLiteral("Corvex version ") + Bundle::mainBundle().shortVersion());
    mVersionLabel->setTextAlignment(1);
    mVersionLabel->update();
    mWelcomeLabel = addPrimaryLabel(Headline);
    mListTitleLabel = addSecondaryLabel(QStringLiteral("Other changes:"));
    mItemLabels.push_back(addSecondaryLabel(QStringLiteral("- Optimizations for larger files")));
    mItemLabels.push_back(addSecondaryLabel(QStringLiteral("- Fixed few minor issues")));
    mBottomLabel = addSecondaryLabel(QString());

    mCloseButtonView = RoundedTextButton::createWithDelegate(
        std::static_pointer_cast<WelcomeScreenView>(shared_from_this()), 0);
    mCloseButtonView->setButtonTitle(CloseTitle);
    mCloseButtonView->setFrame(Rect(0, 0, 120, mCloseButtonView->preferredHeight()));
    addSubview(mCloseButtonView);
    setNeedsDisplay(true);
    forceDirtyLayout();
}

void WelcomeScreenView::roundedTextButtonPressed(RoundedTextButton&)
{
    removeFromSuperview();
}

void WelcomeScreenView::cursorUpdate(const Event&)
{
    Cursor::arrowCursor().set();
}

void WelcomeScreenView::applyLayout()
{
    BaseView::applyLayout();
    // Layout can run while the parts are being made (the first setFrame).
    if (!mBlurView || !mColoredView || !mLogoView || !mVersionLabel || !mWelcomeLabel || !mListTitleLabel ||
        !mCloseButtonView)
        return;
    const Rect b = bounds();
    if (mBlurView)
        mBlurView->setFrame(frame().size.width > 0 ? Rect(Point(), frame().size) : b);
    // Frame-line values are single precision before the additions, as the card was drawn.
    auto f = [](double value) { return double(float(value)); };
    const double left = b.size.width / 2 - 150;
    const double top = b.size.height / 2 - 195;

    const Size logo = mLogoView->frame().size;
    mLogoView->setFrame(Rect(left + 150 - logo.width / 2, top + 36, logo.width, logo.height));
    double y = f(mLogoView->frame().maxY()) + 24;
    const Size version = mVersionLabel->frame().size;
    mVersionLabel->setFrame(
        Rect(f(mLogoView->frame().maxX()) - version.width, y, version.width, version.height));
    y = f(mVersionLabel->frame().maxY()) + 38;
    mWelcomeLabel->setFrameOrigin(Point(left, y));
    y = f(mWelcomeLabel->frame().maxY()) + 20;
    mListTitleLabel->setFrameOrigin(Point(left, y));
    y = f(mListTitleLabel->frame().maxY()) + 20;
    for (const auto& item : mItemLabels) {
        item->setFrameOrigin(Point(left, y));
        y = f(item->frame().maxY()) + 2;
    }
    y -= 2;
    if (mBottomLabel) {
        y += 16;
        mBottomLabel->setFrameOrigin(Point(left, y));
        y = f(mBottomLabel->frame().maxY());
    }
    y += 26;
    const Size button = mCloseButtonView->frame().size;
    mCloseButtonView->setFrame(Rect(left + 300 - button.width, y, button.width, button.height));
    mColoredView->setFrame(Rect(left - 26, top, CardWidth, f(mCloseButtonView->frame().maxY()) + 36 - top));
}

} // namespace corvex
