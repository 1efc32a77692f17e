// Renderings of the mind-map screen for a person to look at: the mind map with its top bar,
// and the overview double that takes its place.

#include "mindmap/ParentIdeaView.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SimpleIdeaView.h"
#include "mindmap/SolarSystem.h"
#include "model/ColorTheme.h"
#include "model/Globals.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
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

Point middleOf(const Rect& r)
{
    return Point(r.midX(), r.midY());
}

// The pixel of a rendering at a point of a view (y-down image, window base coordinates y-up).
QColor pixelOfView(const QImage& image, const View& view, Point point)
{
    const Point window = view.convertPointToView(point, nullptr);
    return image.pixelColor(int(window.x), image.height() - 1 - int(window.y));
}

int colourDistance(const QColor& a, const QColor& b)
{
    return std::max(
        {std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

// Ideas without a colour, shown in the middle of a map: the centre, its planets and its
// parent are drawn with the colours their places give them (the root's first standard colour,
// its varying theme's second for the middle idea, whose lighter theme colours its children
// in turn), and the document keeps no colour.
TEST(MindMapScreenRender, ColourlessIdeasShowTheColourTheirPlaceGivesThem)
{
    MindMapScreenRig rig;
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Root"), QStringLiteral("root"));
    root->setColorThemeType(ColorThemeTypeVaryingColors);
    const IdeaPtr middle = Idea::initWithText(QString(), QStringLiteral("middle"));
    middle->setColorThemeType(ColorThemeTypeLighterColor);
    ASSERT_TRUE(root->addIdea(Idea::initWithText(QString(), QStringLiteral("other"))));
    ASSERT_TRUE(root->addIdea(middle));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(middle->addIdea(Idea::initWithText(QString(), QStringLiteral("k%1").arg(i))));
    qint64 token = 0;
    const auto document = rig.createDocument(root, token);
    const auto screen = rig.showDocument(document, token, QStringLiteral("middle"));
    rig.finishAnimations();
    View::runUpdateCycle();
    const QImage map = rig.window->renderToImage(1.0);
    ASSERT_FALSE(map.isNull());
    EXPECT_TRUE(map.save(screenRenderingPath("colourless.png")));

    const auto& greens = ColorTheme::standardThemes().front()->colors();
    const auto& solar = screen->solarSystemView();
    ASSERT_TRUE(solar && solar->centralView() && solar->parentView());
    const auto& centre = *solar->centralView();
    EXPECT_LE(
        colourDistance(pixelOfView(map, *solar, middleOf(centre.frame())), greens[1]->uiColor().toQColor()),
        8);
    ASSERT_EQ(solar->ideaViewCount(), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QColor seen = pixelOfView(map, *solar, middleOf(solar->ideaViewAtIndex(i)->frame()));
        EXPECT_LE(colourDistance(seen, greens[std::size_t(i)]->uiColor().toQColor()), 8)
            << qPrintable(seen.name());
    }
    // The parent planet is the tinted artwork: the root's colour, not black.
    EXPECT_EQ(solar->parentView()->color(), greens[0]);
    const QColor parent = pixelOfView(map, *solar->parentView(), Point(30, 30));
    EXPECT_LE(colourDistance(parent, greens[0]->uiColor().toQColor()), 40) << qPrintable(parent.name());

    for (const IdeaPtr& idea : {root, middle, middle->ideas()[2]})
        EXPECT_EQ(idea->color(), nullptr) << idea->identifier().toStdString();
}

// A map of ideas read from their stored form, as an opened document's are: drawing it decodes
// the pictures of the planets it shows, and none of the ideas it does not show.
TEST(MindMapScreenRender, OnlyThePicturesOfTheShownPlanetsAreDecoded)
{
    MindMapScreenRig rig;
    const IdeaPtr made = treeFromOutline(QStringLiteral("Root(Other(Hidden) Middle(Shown(Below) Plain))"));
    QImage pixels(40, 40, QImage::Format_RGBA8888_Premultiplied);
    pixels.fill(QColor(200, 40, 40));
    for (const char* text : {"Other", "Hidden", "Shown", "Below"})
        findByText(made, QString::fromLatin1(text))->updateImage(QVImage(pixels), ObjectID());
    const auto payload = IdeaDocumentDataObject::decodeSomeData(
        IdeaDocumentDataObject::payloadForWriting(made, QDateTime(), QDateTime())->jsonData().value());
    ASSERT_TRUE(payload.ok());
    const IdeaPtr root = payload.value()->idea();

    qint64 token = 0;
    const auto document = rig.createDocument(root, token);
    const auto screen =
        rig.showDocument(document, token, findByText(root, QStringLiteral("Middle"))->identifier());
    rig.finishAnimations();
    View::runUpdateCycle();
    const QImage map = rig.window->renderToImage(1.0);
    ASSERT_FALSE(map.isNull());
    EXPECT_TRUE(map.save(screenRenderingPath("stored-pictures.png")));

    const IdeaPtr shown = findByText(root, QStringLiteral("Shown"));
    EXPECT_TRUE(shown->image().holdsPixels());
    for (const char* text : {"Other", "Hidden", "Below"})
        EXPECT_FALSE(findByText(root, QString::fromLatin1(text))->image().holdsPixels()) << text;
    // The picture is what the planet shows: the desaturated red, not a colour of the theme.
    const auto& solar = screen->solarSystemView();
    ASSERT_TRUE(solar && solar->ideaViewCount() == 2);
    const QColor seen = pixelOfView(map, *solar, middleOf(solar->ideaViewAtIndex(0)->frame()));
    EXPECT_GT(seen.red(), 150) << qPrintable(seen.name());
    EXPECT_LT(seen.green(), 80) << qPrintable(seen.name());
}

} // namespace
} // namespace corvex::test
