#pragma once

#include "platform/gfx/PlatformImage.h"
#include "platform/ui/MenuBar.h"
#include "toolkit/BaseView.h"

#include <memory>

namespace corvex {

class BaseImageView;
class BaseScrollView;
class MenuItem;

// A picture inside a magnifying scroll view: it opens fitted to the view (no scrollers), zooms
// by 1.5 and 0.75 around the middle (scrollers shown) and fits again. The magnification
// limits are the scroll view's, the minimum lowered to the fitting zoom when a picture needs
// less, so that every picture can be shown whole. A picture that holds nothing (null, or no
// area) is refused with an assertion line and changes nothing. Main thread only.
class PictureView : public BaseView, public ActionTarget
{
public:
    static constexpr double ZoomInFactor = 1.5;
    static constexpr double ZoomOutFactor = 0.75;

    static std::shared_ptr<PictureView> create();

    const PlatformImage& image() const { return mImage; }
    void setImage(const PlatformImage& image);

    // The smaller of the two ratios of `size` to the picture's size.
    double fittingZoom(Size size) const;
    // A negative factor: the fitting zoom of the bounds; else factor x the current
    // magnification; either clamped to the scroll view's limits.
    double tentativeZoom(double factor) const;
    void fitZoomToContent();
    void zoomInCenter(double factor);
    bool isFittingExactly() const { return mIsFittingExactly; }

    // ---- Actions and their tests ----
    void zoomIn() { zoomInCenter(ZoomInFactor); }
    void zoomOut() { zoomInCenter(ZoomOutFactor); }
    void actualSize() { fitZoomToContent(); }
    bool canZoomIn() const;
    bool canZoomOut() const;
    bool canZoomToActualSize() const;
    // The matching test for "qvZoomIn:", "qvZoomOut:" and "qvActualSize:"; true otherwise.
    bool validateUserInterfaceItem(const MenuItem& item) const;

    // ---- ActionTarget: the menu bar's zoom items, while the picture has the keys ----
    bool respondsToAction(const QString& actionId) const override;
    bool validateAction(const QString& actionId, const MenuItem& item) override;
    void performAction(const QString& actionId, MenuItem& item) override;

    const std::shared_ptr<BaseScrollView>& scrollView() const { return mScrollView; }
    const std::shared_ptr<View>& contentView() const { return mContentView; }
    const std::shared_ptr<BaseImageView>& imageView() const { return mImageView; }

    // ---- View ----
    void applyLayout() override;
    bool acceptsFirstResponder() const override { return true; }
    // With the Command key: "+" (or "=") zooms in, "-" out, "9" fits.
    void keyDown(const Event& event) override;
    std::shared_ptr<Menu> menuForEvent(const Event& event) override;

private:
    double currentMagnification() const;
    // The scroll view's minimum: the default, or the fitting zoom when that is smaller.
    void updateMagnificationLimits();

    PlatformImage mImage;
    std::shared_ptr<BaseScrollView> mScrollView;
    std::shared_ptr<View> mContentView;
    std::shared_ptr<BaseImageView> mImageView;
    Size mContentSize;
    bool mIsFittingExactly = false;
};

} // namespace corvex
