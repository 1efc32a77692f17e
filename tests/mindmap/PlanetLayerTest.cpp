// The planet layer: forwarding to its drawer, type changes, redraw marks, notes, radius and
// scale, a layer without a drawer, and filling from ideas.

#include "PlanetDrawerTestSupport.h"

#include "model/ColorTheme.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

TEST(PlanetLayer, TypeChangeCarriesThePlanetOver)
{
    auto layer = PlanetLayer::create(0);
    const auto color = test::planetTestColor();
    const auto icon = IconImage::initWithName(QStringLiteral("rocket"), QStringLiteral("travel"),
                                              QString::fromUtf8("\xF0\x9F\x9A\x80"));
    layer->setBaseColor(color);
    layer->setText(QStringLiteral("Carried"));
    layer->setIconImage(icon);
    layer->setNote(QStringLiteral("note"));
    layer->setShowOrbit(true);
    layer->setScale(0.75);
    layer->setFontSize(21);
    layer->setTextColor(PlatformColor::deviceRGB(0.5, 0.25, 0));
    layer->setIsLink(true);
    layer->setShowWebLink(true);
    layer->display();
    const auto oldDrawer = layer->planetDrawer();

    layer->setPlanetType(1);
    EXPECT_NE(layer->planetDrawer(), oldDrawer);
    EXPECT_EQ(layer->planetType(), 1u);
    EXPECT_EQ(layer->planetDrawer()->radius(), 76.0f);
    EXPECT_EQ(layer->baseColor(), color);
    EXPECT_EQ(layer->text(), QStringLiteral("Carried"));
    EXPECT_EQ(layer->iconImage(), icon);
    EXPECT_EQ(layer->planetDrawer()->noteNumber(), -1);
    EXPECT_TRUE(layer->showOrbit());
    EXPECT_EQ(layer->scale(), 0.75);
    EXPECT_EQ(layer->fontSize(), 21.0f);
    EXPECT_EQ(layer->textColor(), PlatformColor::deviceRGB(0.5, 0.25, 0));
    // The link ring and the web-link mark belong to the idea and are not carried.
    EXPECT_FALSE(layer->isLink());
    EXPECT_FALSE(layer->showWebLink());
    EXPECT_TRUE(layer->needsDisplay());

    // A picture is carried too (and keeps the colour away).
    layer->setImage(QVImage(test::planetDataImage(QStringLiteral("picture"))));
    layer->setPlanetType(6);
    EXPECT_FALSE(layer->image().cgImage().isNull());
    EXPECT_EQ(layer->baseColor(), nullptr);
}

TEST(PlanetLayer, SameScaleDoesNotRedraw)
{
    auto layer = PlanetLayer::create(0);
    layer->display();
    ASSERT_FALSE(layer->needsDisplay());
    layer->setScale(1.0);
    EXPECT_FALSE(layer->needsDisplay());
    const Rect frame = layer->frame();
    layer->setScale(0.5);
    EXPECT_TRUE(layer->needsDisplay());
    EXPECT_EQ(layer->frame(), frame); // the frame follows only resizeToScale
    layer->resizeToScale();
    EXPECT_EQ(layer->frame(), Rect(frame.origin, Size(70, 70)));
}

TEST(PlanetLayer, AnyNoteShowsTheMark)
{
    auto withNote = PlanetLayer::create(0);
    auto without = PlanetLayer::create(0);
    for (const std::optional<QString>& note :
         {std::optional<QString>(QStringLiteral("text")), std::optional<QString>(QStringLiteral("")),
          std::optional<QString>(QString())}) {
        withNote->setNote(note);
        EXPECT_TRUE(withNote->showNote());
        EXPECT_EQ(withNote->planetDrawer()->noteNumber(), -1);
        withNote->setNeedsDisplay();
        const QImage marked = test::displayPlanetLayer(*withNote, 2);
        const QImage plain = test::displayPlanetLayer(*without, 2);
        // The mark shows in the note rectangle.
        const Rect n = withNote->planetDrawer()->noteRect();
        const QRect pixels(int(n.origin.x * 2), int(n.origin.y * 2), int(n.size.width * 2),
                           int(n.size.height * 2));
        EXPECT_FALSE(test::planetInkBounds(marked, pixels, qRgba(0, 0, 0, 0), 30).isEmpty());
        EXPECT_TRUE(test::planetInkBounds(plain, pixels, qRgba(0, 0, 0, 0), 30).isEmpty());
    }
    withNote->setNote(std::nullopt);
    EXPECT_FALSE(withNote->showNote());
    EXPECT_EQ(withNote->planetDrawer()->noteNumber(), 0);
}

TEST(PlanetLayer, NoteHitsAreInTheLayersOwnCoordinates)
{
    auto layer = PlanetLayer::create(0);
    const Rect n = layer->planetDrawer()->noteRect();
    const Point badge(n.midX(), n.midY());
    EXPECT_FALSE(layer->hitsNote(badge));
    layer->setNote(QStringLiteral("note"));
    EXPECT_TRUE(layer->hitsNote(badge));
    EXPECT_FALSE(layer->hitsNote(Point(70, 70)));
    // A note number set on the drawer alone does not count: the layer asks its own note.
    layer->setNote(std::nullopt);
    layer->planetDrawer()->setNoteNumber(3);
    EXPECT_FALSE(layer->hitsNote(badge));
}

TEST(PlanetLayer, RadiusSetsScaleAndFrame)
{
    for (quint64 type : {0, 1, 2, 3, 6}) {
        auto layer = PlanetLayer::create(type);
        const float r = PlanetLayer::radiusForPlanetType(type);
        layer->setFrame(Rect(10, 20, 5, 5));
        layer->setRadius(r);
        EXPECT_EQ(layer->scale(), 1.0) << type;
        EXPECT_EQ(layer->frame(), Rect(0, 0, double(2.5f * r), double(2.5f * r))) << type;
        layer->setRadius(r / 2);
        EXPECT_EQ(layer->scale(), 0.5) << type;
        EXPECT_EQ(layer->radius(), r / 2) << type;
        EXPECT_EQ(layer->frame().size, Size(double(1.25f * r), double(1.25f * r))) << type;
    }
}

TEST(PlanetLayer, ShadowModeHalvesOpacity)
{
    auto layer = PlanetLayer::create(0);
    layer->setShadowMode(true);
    EXPECT_EQ(layer->opacity(), 0.5f);
    layer->setOpacity(0.8f);
    layer->setShadowMode(true); // unchanged: nothing happens
    EXPECT_EQ(layer->opacity(), 0.8f);
    layer->setShadowMode(false);
    EXPECT_EQ(layer->opacity(), 1.0f);
    // A presentation copy shares the drawer and takes the shadow mode.
    layer->setShadowMode(true);
    PlanetLayer copy(*layer);
    EXPECT_EQ(copy.planetDrawer(), layer->planetDrawer());
    EXPECT_TRUE(copy.shadowMode());
    EXPECT_EQ(copy.opacity(), 0.5f);
}

TEST(PlanetLayer, WithoutDrawerAnswersNothingAndDrawsNothing)
{
    auto layer = PlanetLayer::create();
    EXPECT_EQ(layer->planetDrawer(), nullptr);
    layer->setBaseColor(test::planetTestColor());
    layer->setImage(QVImage(test::planetDataImage(QStringLiteral("picture"))));
    layer->setIconImage(
        IconImage::initWithName(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")));
    layer->setText(QStringLiteral("text"));
    layer->setFontSize(12);
    layer->setTextColor(PlatformColor::white());
    layer->setShowOrbit(true);
    layer->setShowWebLink(true);
    layer->setIsLink(true);
    layer->setApproximateRendering(true);
    layer->setNote(QStringLiteral("note"));
    layer->setScale(2);
    layer->setRadius(40);
    layer->resizeToScale();
    layer->updateAppearance();
    EXPECT_EQ(layer->baseColor(), nullptr);
    EXPECT_TRUE(layer->image().cgImage().isNull());
    EXPECT_EQ(layer->iconImage(), nullptr);
    EXPECT_TRUE(layer->text().isNull());
    EXPECT_EQ(layer->fontSize(), 0.0f);
    EXPECT_FALSE(layer->showOrbit());
    EXPECT_FALSE(layer->showWebLink());
    EXPECT_FALSE(layer->isLink());
    EXPECT_FALSE(layer->approximateRendering());
    EXPECT_EQ(layer->scale(), 0.0);
    EXPECT_EQ(layer->radius(), 0.0f);
    EXPECT_FALSE(layer->hitsNote(Point(0, 0)));
    layer->setBounds(Rect(0, 0, 50, 50));
    const QImage image = test::displayPlanetLayer(*layer, 1);
    EXPECT_TRUE(test::planetInkBounds(image, image.rect(), qRgba(0, 0, 0, 0), 0).isEmpty());

    // Once a type is set it is a planet like any other.
    layer->setPlanetType(0);
    layer->setBaseColor(test::planetTestColor());
    EXPECT_EQ(layer->fontSize(), PlanetDrawer::fontSizeForPlanetType(0));
    EXPECT_NE(layer->baseColor(), nullptr);
}

TEST(PlanetLayer, FillsFromAnIdea)
{
    auto parent = Idea::initWithText(QStringLiteral("Parent"));
    auto child = Idea::initWithText(QStringLiteral("Child"));
    ASSERT_TRUE(parent->addIdea(child));
    parent->setNote(QStringLiteral("a note"));
    auto layer = PlanetLayer::create(0);
    layer->updateWithIdea(parent.get(), QStringLiteral("doc-1"));
    EXPECT_EQ(layer->text(), QStringLiteral("Parent"));
    // A root without a colour of its own is drawn with the first standard colour.
    EXPECT_EQ(parent->color(), nullptr);
    EXPECT_EQ(layer->baseColor(), ColorTheme::standardThemes().front()->colors().front());
    EXPECT_TRUE(layer->showNote());
    EXPECT_FALSE(layer->showWebLink());
    EXPECT_TRUE(layer->showOrbit());
    EXPECT_FALSE(layer->isLink());
    EXPECT_EQ(layer->ideaIdentifier(), parent->identifier());
    EXPECT_EQ(layer->docIdentifier(), QStringLiteral("doc-1"));

    layer->updateWithIdea(child.get(), QStringLiteral("doc-1"));
    EXPECT_FALSE(layer->showNote());
    EXPECT_FALSE(layer->showWebLink());
    EXPECT_FALSE(layer->showOrbit());

    // A picture idea ends with its picture and no colour.
    QImage pixels(4, 4, QImage::Format_ARGB32);
    pixels.fill(Qt::green);
    auto pictureIdea = Idea::initWithURL(QStringLiteral("https://example.org/p"), QVImage(pixels));
    layer->updateWithIdea(pictureIdea.get(), QStringLiteral("doc-2"));
    EXPECT_TRUE(layer->showWebLink());
    if (!pictureIdea->image().cgImage().isNull()) {
        EXPECT_FALSE(layer->image().cgImage().isNull());
        EXPECT_EQ(layer->baseColor(), nullptr);
    }

    // No idea: logged, nothing changes.
    test::LogCapture log;
    layer->updateWithIdea(nullptr, QStringLiteral("doc-3"));
    EXPECT_EQ(layer->docIdentifier(), QStringLiteral("doc-2"));
    EXPECT_TRUE(log.contains(QStringLiteral("updateWithIdea")));
}

TEST(PlanetLayer, DrawsUprightInEitherTree)
{
    auto flippedParent = Layer::create();
    flippedParent->setGeometryFlipped(true);
    auto inFlipped = PlanetLayer::create(0);
    auto plain = PlanetLayer::create(0);
    for (auto& layer : {inFlipped, plain}) {
        layer->setBaseColor(test::planetTestColor());
        layer->setShowOrbit(true);
        layer->setNote(QStringLiteral("n"));
    }
    flippedParent->addSublayer(inFlipped);
    EXPECT_EQ(test::displayPlanetLayer(*inFlipped, 2), test::displayPlanetLayer(*plain, 2));
}

} // namespace
} // namespace corvex
