#pragma once

#include "platform/gfx/PlatformImage.h"
#include "platform/ui/View.h"

#include <memory>
#include <utility>

namespace corvex {

// The base of the system's image views: a view that shows one image, scaled and aligned in
// its bounds, not editable and accepting no drops. Not flipped, as the platform's image view.
// Construction is in two phases (prepareBaseImageView): use the factories, or make<T> for
// subclasses. Main thread only.
class BaseImageView : public View
{
public:
    // Fixed numbers: setImageScaling takes them as plain ints.
    enum ImageScaling
    {
        ScaleProportionallyDown = 0,
        ScaleAxesIndependently = 1,
        ScaleNone = 2,
        ScaleProportionallyUpOrDown = 3,
    };
    enum ImageAlignment
    {
        AlignCenter = 0,
        AlignTop = 1,
        AlignTopLeft = 2,
        AlignTopRight = 3,
        AlignLeft = 4,
        AlignBottom = 5,
        AlignBottomLeft = 6,
        AlignBottomRight = 7,
        AlignRight = 8,
    };

    // Unprepared: use the factories.
    BaseImageView();
    explicit BaseImageView(const Rect& frame);
    ~BaseImageView() override;

    static std::shared_ptr<BaseImageView> create();
    static std::shared_ptr<BaseImageView> create(const Rect& frame);
    // The zero rectangle, showing `image` (the owner sizes the view).
    static std::shared_ptr<BaseImageView> createWithImage(const PlatformImage& image);

    template <class T = BaseImageView, class... Args> static std::shared_ptr<T> make(Args&&... args)
    {
        auto view = std::make_shared<T>(std::forward<Args>(args)...);
        static_cast<BaseImageView&>(*view).prepareBaseImageView();
        return view;
    }

    const PlatformImage& image() const { return mImage; }
    void setImage(const PlatformImage& image);
    // Default: proportionally down, centred.
    int imageScaling() const { return mScaling; }
    void setImageScaling(int scaling);
    int imageAlignment() const { return mAlignment; }
    void setImageAlignment(int alignment);
    bool isEditable() const { return mEditable; }
    void setEditable(bool editable) { mEditable = editable; }

    // Where the image is drawn in the bounds by the scaling and alignment; empty without an
    // image.
    Rect imageRect() const;

    // The image's size.
    Size intrinsicContentSize() const override;
    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override;

protected:
    // Not editable, no drop types.
    void prepareBaseImageView();

private:
    PlatformImage mImage;
    int mScaling = ScaleProportionallyDown;
    int mAlignment = AlignCenter;
    bool mEditable = true;
};

} // namespace corvex
