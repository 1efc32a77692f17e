// BaseImageView: preparation (not editable, no drops), the image placed by its scaling and
// alignment, and drawn upright.

#include "toolkit/BaseImageView.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Window.h"
#include "tests/toolkit/BaseViewTestSupport.h"

#include <QColor>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

PlatformImage solidImage(Size size)
{
    QImage pixels(int(size.width), int(size.height), QImage::Format_ARGB32);
    pixels.fill(Qt::black);
    return PlatformImage(pixels);
}

class FlippedImageView : public BaseImageView
{
public:
    using BaseImageView::BaseImageView;
    bool isFlipped() const override { return true; }
};

} // namespace

TEST(BaseImageView, EveryInitialiserGivesANonEditableViewThatTakesNoDrops)
{
    const PlatformImage image = PlatformImage::imageNamed(QStringLiteral("test_pattern"));
    ASSERT_FALSE(image.isNull());
    const std::vector<std::shared_ptr<BaseImageView>> views{BaseImageView::create(),
                                                            BaseImageView::create(Rect(0, 0, 5, 5)),
                                                            BaseImageView::createWithImage(image)};
    for (const auto& view : views) {
        EXPECT_FALSE(view->isEditable());
        EXPECT_TRUE(view->registeredDraggedTypes().isEmpty());
        EXPECT_FALSE(view->isFlipped());
    }
    EXPECT_EQ(views[2]->frame(), Rect()) << "the owner sizes the view";
    EXPECT_EQ(views[2]->image().size(), Size(8, 8));
    EXPECT_EQ(views[2]->intrinsicContentSize(), Size(8, 8));
    EXPECT_TRUE(views[0]->image().isNull());
    EXPECT_EQ(views[0]->imageRect(), Rect());
}

TEST(BaseImageView, ScalingAndAlignmentPlaceTheImage)
{
    auto view = BaseImageView::createWithImage(solidImage(Size(20, 10)));
    view->setFrame(Rect(0, 0, 100, 50));
    EXPECT_EQ(view->imageRect(), Rect(40, 20, 20, 10)) << "a smaller image keeps its size, centred";
    view->setImageScaling(BaseImageView::ScaleProportionallyUpOrDown);
    EXPECT_EQ(view->imageRect(), Rect(0, 0, 100, 50));
    view->setFrameSize(Size(40, 40));
    EXPECT_EQ(view->imageRect(), Rect(0, 10, 40, 20));
    view->setImageScaling(BaseImageView::ScaleAxesIndependently);
    EXPECT_EQ(view->imageRect(), Rect(0, 0, 40, 40));

    view->setImageScaling(BaseImageView::ScaleProportionallyDown);
    view->setFrameSize(Size(10, 40));
    EXPECT_EQ(view->imageRect(), Rect(0, 17.5, 10, 5)) << "a larger image shrinks";

    view->setImageScaling(BaseImageView::ScaleNone);
    view->setFrameSize(Size(100, 50));
    view->setImageAlignment(BaseImageView::AlignTopLeft);
    EXPECT_EQ(view->imageRect(), Rect(0, 40, 20, 10)) << "the top is the largest y of an unflipped view";
    view->setImageAlignment(BaseImageView::AlignBottomRight);
    EXPECT_EQ(view->imageRect(), Rect(80, 0, 20, 10));
    view->setImageAlignment(BaseImageView::AlignRight);
    EXPECT_EQ(view->imageRect(), Rect(80, 20, 20, 10));

    auto flipped = BaseImageView::make<FlippedImageView>(Rect(0, 0, 100, 50));
    flipped->setImage(solidImage(Size(20, 10)));
    flipped->setImageAlignment(BaseImageView::AlignTopLeft);
    EXPECT_EQ(flipped->imageRect(), Rect(0, 0, 20, 10)) << "and the smallest y of a flipped one";
}

TEST(BaseImageView, DrawsTheImageUpright)
{
    for (const bool flipped : {false, true}) {
        auto window = Window::create(Size(16, 16));
        std::shared_ptr<BaseImageView> view =
            flipped ? BaseImageView::make<FlippedImageView>() : BaseImageView::make<BaseImageView>();
        view->setImage(PlatformImage::imageNamed(QStringLiteral("test_pattern")));
        view->setImageScaling(BaseImageView::ScaleAxesIndependently);
        window->setContentView(view);
        const QImage shown = window->renderToImage(1);
        saveOutput(shown, flipped ? QStringLiteral("image_view_flipped") : QStringLiteral("image_view"));
        EXPECT_EQ(shown.pixelColor(3, 3), QColor(255, 0, 0)) << "flipped " << flipped;
        EXPECT_EQ(shown.pixelColor(12, 3), QColor(0, 255, 0)) << "flipped " << flipped;
        EXPECT_EQ(shown.pixelColor(3, 12), QColor(0, 0, 255)) << "flipped " << flipped;
        EXPECT_EQ(shown.pixelColor(12, 12), QColor(255, 255, 255)) << "flipped " << flipped;
    }
}
