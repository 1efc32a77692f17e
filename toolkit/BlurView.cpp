#include "toolkit/BlurView.h"

#include "platform/gfx/FilterImage.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/ui/Layer.h"
#include "toolkit/BaseImageView.h"

#include <algorithm>

namespace corvex {

namespace {

constexpr double kSaturation = 1.5;
constexpr double kBlurRadius = 15;
constexpr float kDarkening = 0.1f;
constexpr double kBackgroundWhite = 0.8;
constexpr double kBackgroundAlpha = 0.7;

} // namespace

BlurView::BlurView() = default;

BlurView::~BlurView() = default;

std::shared_ptr<BlurView> BlurView::createWithScreenshot(const QVImage& screenshot)
{
    return makeWithScreenshot<BlurView>(screenshot);
}

void BlurView::initWithScreenshot(const QVImage& screenshot)
{
    setNeedsDisplay(true);
    layer()->setBackgroundColor(PlatformColor::calibratedWhite(kBackgroundWhite, kBackgroundAlpha));
    mImageView = BaseImageView::createWithImage(backdropPicture(screenshot));
    addSubview(mImageView);
}

PlatformImage BlurView::backdropPicture(const QVImage& screenshot)
{
    const FilterImage source = FilterImage::fromImage(screenshot.cgImage());
    const FilterImage saturated = source.colorControls(kSaturation);
    const FilterImage blurred = saturated.gaussianBlur(kBlurRadius);
    const FilterImage tint =
        FilterImage::constantColor(PlatformColor::deviceRGB(0, 0, 0, double(kDarkening)));
    const FilterImage darkened = FilterImage::multiplyBlend(tint, blurred);
    // The blur widens the extent by its margin; the picture keeps the screenshot's size.
    const Size pixels = screenshot.pixelSize();
    const Rect crop(0, 0, pixels.width, pixels.height);
    const QImage picture = darkened.cropped(crop).render(crop);
    if (picture.isNull())
        return PlatformImage();
    return PlatformImage(picture);
}

void BlurView::retakeWhenGrownPast(Size covered, std::function<QVImage()> take)
{
    mCovered = covered;
    mTake = std::move(take);
}

void BlurView::applyLayout()
{
    BaseView::applyLayout();
    const Size size = bounds().size;
    if (mTake && mImageView && (size.width > mCovered.width || size.height > mCovered.height)) {
        mCovered = Size(std::max(size.width, mCovered.width), std::max(size.height, mCovered.height));
        if (const QVImage screenshot = mTake(); screenshot.hasImage())
            mImageView->setImage(backdropPicture(screenshot));
    }
    if (mImageView)
        mImageView->setFrame(bounds());
}

} // namespace corvex
