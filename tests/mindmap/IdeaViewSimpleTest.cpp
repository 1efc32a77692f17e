// SimpleIdeaView: the planet type and size by role, the grey disc of a new view, the hit
// tests of docked and unknown roles, setScale, copyForDragging, updateWithIdea (also without
// an idea), the note badge's hit test, shadow mode and the appearance notification.

#include "mindmap/PlanetDrawer.h"
#include "mindmap/PlanetLayer.h"
#include "mindmap/SimpleIdeaView.h"
#include "model/Color.h"
#include "model/Globals.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "model/ObjectID.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Layer.h"
#include "tests/mindmap/IdeaViewTestSupport.h"
#include "tests/support/LogCapture.h"
#include "toolkit/ViewExtensions.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// An idea with everything a planet can show.
IdeaPtr fullIdea()
{
    IdeaPtr idea = Idea::initWithURL(QStringLiteral("https://example.org"), QVImage());
    idea->setText(QStringLiteral("Full idea"));
    idea->setNote(QStringLiteral("A note"));
    idea->setColor(testColor(QStringLiteral("teal"), 20, 140, 150));
    idea->setIconImage(
        IconImage::initWithName(QStringLiteral("star"), QStringLiteral("symbols"), QStringLiteral("*")));
    return idea;
}

IdeaPtr pictureIdea()
{
    IdeaPtr idea = Idea::initWithImageAttachment(quadrantPicture(), ObjectID());
    idea->setText(QStringLiteral("Picture"));
    return idea;
}

} // namespace

TEST(SimpleIdeaView, ARoleGivesThePlanetTypeAndTheSize)
{
    struct Row
    {
        quint64 role;
        quint64 planetType;
        double side;
    };
    const Row table[] = {{1, 1, 190}, {2, 6, 232.5}, {3, 0, 140}, {0, 0, 140}, {9, 0, 140}};
    for (const Row& row : table) {
        auto view = SimpleIdeaView::create(row.role);
        ASSERT_NE(view->planetLayer(), nullptr);
        EXPECT_EQ(view->layer(), view->planetLayer()) << "the planet layer backs the view";
        EXPECT_EQ(view->planetLayer()->planetType(), row.planetType) << "role " << row.role;
        EXPECT_EQ(view->frame().size, Size(row.side, row.side)) << "role " << row.role;
        EXPECT_EQ(view->planetLayer()->bounds().size, Size(row.side, row.side))
            << "the layer's drawing square is the view";
    }
}

TEST(SimpleIdeaView, ANewViewShowsAGreyDiscUntilAColourOrPictureIsSet)
{
    IdeaViewWindow w(Size(200, 200));
    w.window->setBackgroundColor(PlatformColor::black());
    auto view = SimpleIdeaView::create(QStringLiteral(""), 3);
    w.content->addSubview(view);
    ASSERT_NE(view->baseColor(), nullptr);
    EXPECT_EQ(view->baseColor()->name(), QStringLiteral("grey"));
    EXPECT_TRUE(view->image().hasImage() == false);

    const QImage grey = w.window->renderToImage(1);
    // The view's centre (70, 70) lies at (70, 70) from the window's top left.
    EXPECT_TRUE(pixelNear(grey, 70, 70, QColor(128, 128, 128), 3)) << "a grey disc";
    EXPECT_TRUE(pixelNear(grey, 70, 70 - 40, QColor(128, 128, 128), 3));
    EXPECT_TRUE(pixelNear(grey, 5, 5, QColor(0, 0, 0), 3)) << "outside the circle the window shows";

    view->setBaseColor(testColor(QStringLiteral("red"), 200, 30, 30));
    const QImage red = w.window->renderToImage(1);
    EXPECT_TRUE(pixelNear(red, 70, 70, QColor(200, 30, 30), 3));
}

TEST(SimpleIdeaView, DockedIdeasNeverTakeTheMouseButOtherUnknownRolesDo)
{
    IdeaViewWindow w;
    auto docked = SimpleIdeaView::create(3);
    auto unknown = SimpleIdeaView::create(7);
    unknown->setFrame(Rect(150, 0, 140, 140));
    w.content->addSubview(docked);
    w.content->addSubview(unknown);
    EXPECT_EQ(docked->radius(), unknown->radius()) << "role 7 is sized as role 3";
    EXPECT_EQ(w.hitAt(Point(70, 70)), w.content.get()) << "role 3 never answers";
    EXPECT_EQ(w.hitAt(Point(220, 70)), unknown.get()) << "role 7 answers";
    EXPECT_EQ(w.hitAt(Point(220 + 56, 70)), w.content.get()) << "one radius away is outside";
    EXPECT_EQ(w.hitAt(Point(220 + 55.99, 70)), unknown.get());
}

TEST(SimpleIdeaView, SetScaleGrowsTheFrameAroundTheSameCentreAndKeepsTheRadius)
{
    auto view = SimpleIdeaView::create(0);
    view->setFrame(Rect(100, 40, 140, 140));
    const Point centre = ViewExtensions::center(*view);
    view->setScale(1.1);
    EXPECT_NEAR(view->frame().size.width, 154, 1e-9);
    EXPECT_NEAR(view->frame().size.height, 154, 1e-9);
    EXPECT_NEAR(ViewExtensions::center(*view).x, centre.x, 1e-9);
    EXPECT_NEAR(ViewExtensions::center(*view).y, centre.y, 1e-9);
    EXPECT_EQ(view->radius(), 56.0f);
    EXPECT_NEAR(view->scale(), 1.1, 1e-6);
    EXPECT_TRUE(view->layer()->transform().isIdentity()) << "drawn larger, not transformed";
}

TEST(SimpleIdeaView, UpdateWithIdeaFillsTheViewAndLeavesDotsAndLinkAlone)
{
    auto view = SimpleIdeaView::create(1);
    view->setShowOrbit(true);
    view->setIsLink(true);
    const IdeaPtr idea = fullIdea();
    view->updateWithIdea(idea.get(), QStringLiteral("temp:/doc"));
    EXPECT_EQ(view->text(), QStringLiteral("Full idea"));
    EXPECT_EQ(view->note(), std::optional<QString>(QStringLiteral("A note")));
    EXPECT_TRUE(view->hasNote());
    EXPECT_TRUE(view->hasWebLink());
    EXPECT_EQ(view->iconImage(), idea->iconImage());
    EXPECT_EQ(view->baseColor(), idea->color());
    EXPECT_FALSE(view->image().hasImage());
    EXPECT_EQ(view->ideaIdentifier(), idea->identifier());
    EXPECT_EQ(view->docIdentifier(), QStringLiteral("temp:/doc"));
    EXPECT_EQ(view->representativeTitle(), QStringLiteral("Full idea"));
    EXPECT_TRUE(view->showOrbit()) << "dots are the solar system's business";
    EXPECT_TRUE(view->isLink());

    const IdeaPtr picture = pictureIdea();
    view->updateWithIdea(picture.get(), QStringLiteral("temp:/doc"));
    EXPECT_TRUE(view->image().hasImage());
    EXPECT_EQ(view->baseColor(), nullptr) << "a picture idea ends with its picture and no colour";
    EXPECT_FALSE(view->hasNote());
    EXPECT_FALSE(view->hasWebLink());
    EXPECT_EQ(view->iconImage(), nullptr);
}

TEST(SimpleIdeaView, UpdateWithoutAnIdeaLogsAndLeavesNothingShown)
{
    auto view = SimpleIdeaView::create(3);
    const IdeaPtr idea = fullIdea();
    view->updateWithIdea(idea.get(), QStringLiteral("temp:/doc"));
    LogCapture log;
    view->updateWithIdea(nullptr, QStringLiteral("temp:/other"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("ERROR: Assertion failure, line: 187 -[SimpleIdeaView updateWithIdea:inDocument:]")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(view->text().isEmpty());
    EXPECT_FALSE(view->hasNote());
    EXPECT_EQ(view->iconImage(), nullptr);
    EXPECT_EQ(view->baseColor(), nullptr);
    EXPECT_FALSE(view->image().hasImage());
    EXPECT_FALSE(view->hasWebLink());
    EXPECT_TRUE(view->ideaIdentifier().isEmpty());
    EXPECT_EQ(view->docIdentifier(), QStringLiteral("temp:/other"));

    // And it still draws: an empty planet, no crash.
    IdeaViewWindow w(Size(140, 140));
    w.content->addSubview(view);
    const QImage image = w.window->renderToImage(2);
    EXPECT_FALSE(image.isNull());
}

TEST(SimpleIdeaView, CopyForDraggingOfAPictureIdeaIsARoleThreeTwinOnTop)
{
    auto view = SimpleIdeaView::create(1);
    const IdeaPtr picture = pictureIdea();
    view->updateWithIdea(picture.get(), QStringLiteral("temp:/doc"));
    view->setNote(QStringLiteral("n"));
    view->setHasWebLink(true);
    view->setShowOrbit(true);
    view->setIsLink(true);

    auto copy = std::dynamic_pointer_cast<SimpleIdeaView>(view->copyForDragging());
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, view);
    EXPECT_EQ(copy->role(), 3u);
    EXPECT_EQ(copy->frame().size, Size(140, 140));
    EXPECT_TRUE(copy->image().hasImage());
    EXPECT_EQ(copy->baseColor(), nullptr) << "a picture and no colour, not the grey of a new view";
    EXPECT_EQ(copy->layer()->zPosition(), 1.0);
    EXPECT_EQ(copy->text(), QStringLiteral("Picture"));
    EXPECT_EQ(copy->ideaIdentifier(), picture->identifier());
    EXPECT_EQ(copy->docIdentifier(), QStringLiteral("temp:/doc"));
    EXPECT_TRUE(copy->hasNote());
    EXPECT_TRUE(copy->hasWebLink());
    EXPECT_TRUE(copy->showOrbit());
    EXPECT_TRUE(copy->isLink());

    auto coloured = SimpleIdeaView::create(1);
    const IdeaPtr idea = fullIdea();
    coloured->updateWithIdea(idea.get(), QStringLiteral("temp:/doc"));
    auto colouredCopy = std::dynamic_pointer_cast<SimpleIdeaView>(coloured->copyForDragging());
    ASSERT_NE(colouredCopy, nullptr);
    EXPECT_EQ(colouredCopy->baseColor(), idea->color());
    EXPECT_FALSE(colouredCopy->image().hasImage());
    EXPECT_EQ(colouredCopy->iconImage(), idea->iconImage());
}

TEST(SimpleIdeaView, TheNoteBadgeIsHitOnlyWhenANoteIsShown)
{
    auto view = SimpleIdeaView::create(3);
    const Rect badge = view->planetLayer()->planetDrawer()->noteRect();
    const Point onBadge(badge.origin.x + badge.size.width / 2, badge.origin.y + badge.size.height / 2);
    EXPECT_FALSE(view->hitsNote(onBadge)) << "no note";
    view->setNote(QString());
    EXPECT_TRUE(view->hasNote()) << "an empty note is a note";
    EXPECT_TRUE(view->hitsNote(onBadge));
    EXPECT_FALSE(view->hitsNote(Point(70, 30))) << "the planet's upper half is not the badge";
    view->setNote(std::nullopt);
    EXPECT_FALSE(view->hitsNote(onBadge));
}

TEST(SimpleIdeaView, ShadowModeHalvesTheOpacityOnlyOnChange)
{
    auto view = SimpleIdeaView::create(3);
    view->setShadowMode(true);
    EXPECT_TRUE(view->shadowMode());
    EXPECT_FLOAT_EQ(view->layer()->opacity(), 0.5f);
    view->layer()->setOpacity(0.8f);
    view->setShadowMode(true);
    EXPECT_FLOAT_EQ(view->layer()->opacity(), 0.8f) << "the same mode changes nothing";
    view->setShadowMode(false);
    EXPECT_FLOAT_EQ(view->layer()->opacity(), 1.0f);
}

TEST(SimpleIdeaView, TheAppearanceNotificationRestylesTheTitleUntilTheViewIsGone)
{
    Globals::changeFontSizeFactor(3);
    auto view = SimpleIdeaView::create(QStringLiteral("Title"), 1);
    EXPECT_FLOAT_EQ(view->planetLayer()->fontSize(), PlanetDrawer::fontSizeForPlanetType(1, 3));
    Globals::changeFontSizeFactor(7);
    EXPECT_FLOAT_EQ(view->planetLayer()->fontSize(), PlanetDrawer::fontSizeForPlanetType(1, 7));

    const std::size_t observers = NotificationCenter::defaultCenter().observerCount();
    view.reset();
    EXPECT_EQ(NotificationCenter::defaultCenter().observerCount(), observers - 1) << "stops observing";
    Globals::changeFontSizeFactor(4); // nobody left to restyle: no crash
}
