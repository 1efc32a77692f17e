#pragma once

#include "graphics/QVImage.h"
#include "toolkit/BaseView.h"

#include <QString>
#include <memory>

namespace corvex {

class BaseImageView;
class BlurView;
class TextView;

// What covers a window while files from outside are dragged over it: a blurred copy of the
// window's content, the drop symbol ("drop_here" accepting, "drop_here_no" refusing) in the
// middle and one line of text 28 points under it. The accept decision is made once, when
// the overlay is built. Main thread only.
class DragOverlayView : public BaseView
{
public:
    static constexpr double LabelGap = 28;
    static constexpr double LabelWidth = 400;
    static constexpr double LabelHeight = 40;

    // Unprepared: use initWithScreenshot.
    DragOverlayView();
    ~DragOverlayView() override;
    // Sized to the screenshot's pixels (one pixel per point of the container view).
    static std::shared_ptr<DragOverlayView> initWithScreenshot(const QVImage& screenshot, bool accept);

    bool accepts() const { return mAccept; }
    const std::shared_ptr<BaseImageView>& imageView() const { return mImageView; }
    const std::shared_ptr<TextView>& label() const { return mLabel; }

    void applyLayout() override;
    QString className() const override;

private:
    void build(const QVImage& screenshot, bool accept);

    std::shared_ptr<BlurView> mBlurView;
    std::shared_ptr<BaseImageView> mImageView;
    std::shared_ptr<TextView> mLabel;
    bool mAccept = false;
};

} // namespace corvex
