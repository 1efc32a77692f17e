// DeleteAreaView: a 40 x 40 picture of the black hole at the origin until its owner places it.

#include "mindmap/DeleteAreaView.h"
#include "platform/gfx/PlatformImage.h"
#include "tests/mindmap/IdeaViewTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

TEST(DeleteAreaView, ANewDeleteAreaIsFortyPointsAtTheOriginShowingTheBlackHole)
{
    auto area = DeleteAreaView::create();
    EXPECT_EQ(area->frame(), Rect(0, 0, 40, 40));
    EXPECT_EQ(area->image().name(), QStringLiteral("blackhole"));
    EXPECT_EQ(area->image().size(), Size(40, 40));
}

TEST(DeleteAreaView, ItDrawsADarkHoleInsideALighterHalo)
{
    IdeaViewWindow w(Size(60, 60));
    w.window->setBackgroundColor(PlatformColor::white());
    auto area = DeleteAreaView::create();
    area->setFrame(Rect(10, 10, 40, 40));
    w.content->addSubview(area);
    const QImage image = w.window->renderToImage(2);
    EXPECT_TRUE(pixelNear(image, 60, 60, QColor(12, 12, 16), 12)) << "the core is near black";
    EXPECT_TRUE(pixelNear(image, 4, 4, QColor(255, 255, 255), 3)) << "outside the area";
    const QColor halo = image.pixelColor(60, 60 - 36);
    EXPECT_GT(halo.lightness(), 100) << "the halo is lighter than the core";
    EXPECT_LT(halo.lightness(), 255) << "but it is drawn";
}
