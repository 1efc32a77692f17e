// Renderings of the mind-map screen for a person to look at: the mind map with its top bar,
// and the overview double that takes its place.

#include "mindmap/SolarSystem.h"
#include "model/Globals.h"
#include "platform/ui/View.h"
#include "tests/mindmap/MindMapScreenRig.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

QString screenRenderingPath(const char* name)
{
    const QString folder = testOutputDir() + QStringLiteral("/mindmap-screen");
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + QString::fromLatin1(name);
}

TEST(MindMapScreenRender, TheMindMapAndTheOverviewAreDrawnInTheWindow)
{
    MindMapScreenRig rig;
    qint64 token = 0;
    const auto document = rig.createDocument(
        treeFromOutline(
            QStringLiteral("Holiday(Travel(Train Car) Packing(Clothes Books) Budget Friends Weather Food)")),
        token);
    const auto screen = rig.showDocument(document, token);
    rig.finishAnimations();
    View::runUpdateCycle();
    const QImage map = rig.window->renderToImage(1.0);
    ASSERT_FALSE(map.isNull());
    EXPECT_TRUE(map.save(screenRenderingPath("mind-map.png")));
    // The centre planet sits in the middle of the map below the top bar.
    const QPoint middle(map.width() / 2, 40 + (map.height() - 40) / 2);
    EXPECT_NE(map.pixel(middle), qRgb(255, 255, 255)) << "no centre planet drawn";

    screen->pleaseSwitchToMindmapOrSearch(false);
    View::runUpdateCycle();
    const QImage overview = rig.window->renderToImage(1.0);
    EXPECT_TRUE(overview.save(screenRenderingPath("overview.png")));
    EXPECT_EQ(overview.pixel(middle), Globals::colorGray93().toQColor().rgb())
        << "the overview double fills the map";
}

} // namespace
} // namespace corvex::test
