#pragma once

#include "graphics/QVImage.h"
#include "platform/gfx/PlatformImage.h"
#include "toolkit/BaseView.h"

#include <functional>
#include <memory>
#include <utility>

namespace corvex {

class BaseImageView;

// A blurred, darkened copy of a screenshot shown behind a modal surface (the welcome screen,
// a window's drag overlay, the screen protector of a partial presentation). The caller
// captures the screenshot (QVImageScreenshot) and hands it over; the picture is computed at
// creation and stretched with the view afterwards. A view given a way to take the screenshot
// again (retakeWhenGrownPast) takes a new one whenever its bounds grow past what the last
// one covered, so the picture covers the view after every resize. Where the picture is
// transparent, the view's layer background (white 0.8 at alpha 0.7) shows.
//
// Construction is in two phases, as BaseView's: createWithScreenshot, or
// makeWithScreenshot<T> for subclasses. Main thread only.
class BlurView : public BaseView
{
public:
    // Unprepared: use the factories.
    BlurView();
    ~BlurView() override;

    static std::shared_ptr<BlurView> createWithScreenshot(const QVImage& screenshot);
    // T is constructed from `args`, prepared as a BaseView, then set up with the screenshot.
    template <class T = BlurView, class... Args>
    static std::shared_ptr<T> makeWithScreenshot(const QVImage& screenshot, Args&&... args)
    {
        auto view = BaseView::make<T>(std::forward<Args>(args)...);
        static_cast<BlurView&>(*view).initWithScreenshot(screenshot);
        return view;
    }

    // The picture: the screenshot with saturation 1.5, blurred with radius 15 (transparent
    // outside it), darkened by a tenth through a multiply with black at alpha 0.1, cropped to
    // the screenshot's pixel size. A size of that many points. The null image for a
    // screenshot that holds nothing.
    static PlatformImage backdropPicture(const QVImage& screenshot);

    // The view that shows the picture: the only subview, owned.
    const std::shared_ptr<BaseImageView>& imageView() const { return mImageView; }

    // From now on, bounds wider or higher than `covered` (the size the current screenshot
    // shows) have `take` called for a new screenshot, made into the picture; the bounds then
    // count as covered. A null screenshot keeps the picture.
    void retakeWhenGrownPast(Size covered, std::function<QVImage()> take);

    // Gives the image view the bounds, first taking a new picture when they grew past it.
    void applyLayout() override;

protected:
    // What the screenshot initialiser adds to the base one: marks the view for display, sets
    // the layer background, makes the picture and adds the image view showing it.
    void initWithScreenshot(const QVImage& screenshot);

private:
    std::shared_ptr<BaseImageView> mImageView;
    std::function<QVImage()> mTake;
    Size mCovered;
};

} // namespace corvex
