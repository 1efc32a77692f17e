#include "export/TabItem.h"

#include "model/Globals.h"
#include "platform/gfx/AttributedString.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/TextLabel.h"

namespace corvex {

TabItem::TabItem() = default;
TabItem::~TabItem() = default;

std::shared_ptr<TabItem> TabItem::initWithImage(const QString& imageName, const QString& title, quint64 tag)
{
    auto tab = ButtonView::make<TabItem>();
    tab->mShareType = tag;
    tab->setIsToggleButton(true);
    tab->addParts(imageName, title);
    return tab;
}

void TabItem::addParts(const QString& imageName, const QString& title)
{
    addView(ColoredView::create(Globals::colorWhite()), ButtonPart::ShownAlways);

    // The first tab meets the window's edge; the others leave a white seam on both sides.
    const bool first = mShareType == 0;
    addView(ColoredView::create(Globals::colorGray91()), ButtonPart::ShownWhenNormal,
            [first](View& view, const Rect& bounds) {
                view.setFrame(first ? Rect(0, 0, bounds.size.width - 1, bounds.size.height)
                                    : Rect(1, 0, bounds.size.width - 2, bounds.size.height));
            });

    const PlatformImage image = PlatformImage::imageNamed(imageName);
    mImageView = BaseImageView::createWithImage(image);
    const Size imageSize = image.isNull() ? Size() : image.size();
    addView(mImageView, ButtonPart::ShownAlways, [imageSize](View& view, const Rect& bounds) {
        const double x =
            bounds.size.width >= MinWidthForTitle ? ImageInset : (bounds.size.width - imageSize.width) / 2;
        view.setFrame(
            Rect(x, (bounds.size.height - imageSize.height) / 2, imageSize.width, imageSize.height));
    });

    TextAttributes attributes;
    attributes.font = Globals::fontAvenirBook(20);
    attributes.foregroundColor = Globals::colorGray46();
    attributes.kern = -0.1;
    attributes.paragraphStyle.lineSpacing = 0.01;
    attributes.paragraphStyle.lineHeightMultiple = 1.0;
    attributes.paragraphStyle.maximumLineHeight = 25;
    mTitleLabel = TextLabel::create();
    mTitleLabel->setAttributedText(AttributedString(title, attributes));
    mTitleLabel->sizeToFit();
    std::weak_ptr<BaseImageView> imageView = mImageView;
    addView(mTitleLabel, ButtonPart::ShownAlways, [imageView](View& view, const Rect& bounds) {
        const bool wide = bounds.size.width >= MinWidthForTitle;
        view.setAlphaValue(wide ? 1.0 : 0.0);
        const auto shownImage = imageView.lock();
        const double imageRight = shownImage ? shownImage->frame().maxX() : 0;
        const Size size = view.frame().size;
        view.setFrame(
            Rect(imageRight + TitleGap, (bounds.size.height - size.height) / 2, size.width, size.height));
    });
}

} // namespace corvex
