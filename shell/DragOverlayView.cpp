#include "shell/DragOverlayView.h"

#include "model/Globals.h"
#include "platform/gfx/PlatformImage.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/BlurView.h"
#include "toolkit/TextView.h"
#include "toolkit/ViewExtensions.h"

namespace corvex {

DragOverlayView::DragOverlayView() = default;
DragOverlayView::~DragOverlayView() = default;

std::shared_ptr<DragOverlayView> DragOverlayView::initWithScreenshot(const QVImage& screenshot, bool accept)
{
    auto view = BaseView::make<DragOverlayView>();
    view->build(screenshot, accept);
    return view;
}

QString DragOverlayView::className() const
{
    return QStringLiteral("DragOverlayView");
}

void DragOverlayView::build(const QVImage& screenshot, bool accept)
{
    mAccept = accept;
    const Size pixels = screenshot.pixelSize();
    setFrame(Rect(0, 0, pixels.width, pixels.height));

    mBlurView = BlurView::createWithScreenshot(screenshot);
    addSubview(mBlurView);

    const PlatformImage symbol =
        PlatformImage::imageNamed(accept ? QStringLiteral("drop_here") : QStringLiteral("drop_here_no"));
    mImageView = BaseImageView::createWithImage(symbol);
    mImageView->setFrame(Rect(Point(), symbol.size()));
    addSubview(mImageView);

    mLabel = TextView::create();
    mLabel->setTextAlignment(2);
    mLabel->setTextColor(Globals::colorGray26());
    mLabel->setFont(Globals::fontAvenirLight(32));
    mLabel->setFrame(Rect(0, 0, LabelWidth, LabelHeight));
    mLabel->setText(Globals::normalLocalizedStringForKey(
        QString(), accept ? QStringLiteral("Drop files here") : QStringLiteral("File type not supported")));
    addSubview(mLabel);
    setNeedsLayout();
    setNeedsDisplay(true);
}

void DragOverlayView::applyLayout()
{
    BaseView::applyLayout();
    const Rect own = bounds();
    if (mBlurView)
        mBlurView->setFrame(own);
    if (!mImageView || !mLabel)
        return;
    ViewExtensions::setCenter(*mImageView, Point(own.midX(), own.midY()));
    const Point symbolBottom = ViewExtensions::middleBottomPosition(*mImageView);
    ViewExtensions::setMiddleTopPosition(*mLabel, Point(symbolBottom.x, symbolBottom.y + LabelGap));
}

} // namespace corvex
