// IdeaAdderView and DockAreaView driven through a real window: the adder's images by state
// and focus, hover and click; the dock taking ideas in, replacing and handing them over on
// a mouse-down, with interaction on and off.

#include "graphics/ImageExtensions.h"
#include "mindmap/DockAreaView.h"
#include "mindmap/IdeaAdderView.h"
#include "mindmap/SimpleIdeaView.h"
#include "model/Idea.h"
#include "model/ObjectID.h"
#include "platform/gfx/PlatformImage.h"
#include "platform/ui/Layer.h"
#include "platform/ui/TrackingArea.h"
#include "tests/mindmap/IdeaViewTestSupport.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/ViewExtensions.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

QString shownImage(const IdeaAdderView& adder)
{
    return adder.imageView()->image().name();
}

// An adder at (100, 100, 40, 40) in a key window, with a recording delegate; the update
// cycle has installed its tracking area.
struct AdderInWindow
{
    AdderInWindow()
    {
        adder->setFrame(Rect(100, 100, 40, 40));
        w.content->addSubview(adder);
        adder->setDelegate(delegate);
        View::runUpdateCycle();
    }

    Point centre() const { return IdeaViewWindow::inWindow(*adder, Point(20, 20)); }
    Point outside() const { return IdeaViewWindow::inWindow(*adder, Point(-30, 20)); }
    double imageScale() const { return modelScale(*adder->imageView()->layer()); }
    void hover() { w.window->sendEvent(Event::mouseMoved(centre())); }
    void leave() { w.window->sendEvent(Event::mouseMoved(outside())); }

    IdeaViewWindow w;
    std::shared_ptr<IdeaAdderView> adder = IdeaAdderView::create();
    std::shared_ptr<RecordingAdderDelegate> delegate = std::make_shared<RecordingAdderDelegate>();
};

} // namespace

// ---- Adder ----

TEST(IdeaAdderView, ANewAdderIsAFortyPointPlusInStateOne)
{
    auto adder = IdeaAdderView::create();
    EXPECT_EQ(adder->frame(), Rect(0, 0, 40, 40));
    EXPECT_EQ(adder->adderState(), 1u);
    EXPECT_FALSE(adder->inFocus());
    EXPECT_FALSE(adder->isHidden());
    EXPECT_EQ(shownImage(*adder), QStringLiteral("plus_on_circle"));
    const Size plus = PlatformImage::imageNamed(QStringLiteral("plus_on_circle")).size();
    EXPECT_EQ(adder->imageView()->frame(),
              Rect((40 - plus.width) / 2, (40 - plus.height) / 2, plus.width, plus.height))
        << "the plus centred in the adder";
    EXPECT_EQ(adder->imageView()->superview(), adder.get());
    EXPECT_EQ(adder->delegate(), nullptr);
    EXPECT_EQ(adder->objectTag(), nullptr);
}

TEST(IdeaAdderView, EveryImageOfTheAdderIsThereAtOneAndTwoTimes)
{
    for (const char* name : {"plus_on_circle", "plus_on_circle_hover", "small_dock", "small_dock_active"}) {
        const PlatformImage image = PlatformImage::imageNamed(QString::fromLatin1(name));
        ASSERT_FALSE(image.isNull()) << name;
        EXPECT_EQ(image.size(), Size(32, 32)) << name << ": the adder's image view takes the plus's size";
        EXPECT_EQ(image.representations().size(), 2u) << name;
    }
}

TEST(IdeaAdderView, TheStateAndFocusPickTheImageOrHideTheAdder)
{
    struct Row
    {
        quint64 state;
        bool focus;
        bool hidden;
        const char* image;
    };
    // Hidden states keep whatever image was shown before them.
    const Row table[] = {
        {2, false, false, "plus_on_circle_hover"}, {3, false, false, "small_dock"},
        {3, true, false, "small_dock_active"},     {0, true, true, "small_dock_active"},
        {1, true, false, "plus_on_circle"},        {4, false, true, "plus_on_circle"},
        {3, false, false, "small_dock"},           {99, false, true, "small_dock"},
    };
    auto adder = IdeaAdderView::create();
    for (const Row& row : table) {
        adder->setAdderState(row.state);
        adder->setInFocus(row.focus);
        EXPECT_EQ(adder->isHidden(), row.hidden) << "state " << row.state;
        EXPECT_EQ(shownImage(*adder), QString::fromLatin1(row.image))
            << "state " << row.state << " focus " << row.focus;
    }
}

TEST(IdeaAdderView, SettingTheSameStateOrFocusDoesNotReapplyTheImage)
{
    auto adder = IdeaAdderView::create();
    adder->setAdderState(2);
    const PlatformImage marker = PlatformImage::imageNamed(QStringLiteral("close"));
    adder->imageView()->setImage(marker);
    adder->setAdderState(2);
    EXPECT_EQ(shownImage(*adder), QStringLiteral("close")) << "the same state changes nothing";
    adder->setInFocus(false);
    EXPECT_EQ(shownImage(*adder), QStringLiteral("close")) << "the same focus changes nothing";
    adder->setInFocus(true);
    EXPECT_EQ(shownImage(*adder), QStringLiteral("plus_on_circle_hover")) << "a change reapplies";
}

TEST(IdeaAdderView, TheTrackingAreaCoversTheBoundsInTheKeyWindow)
{
    AdderInWindow a;
    ASSERT_NE(a.adder->trackingArea(), nullptr);
    EXPECT_EQ(a.adder->trackingArea()->options(), 0x221u);
    EXPECT_EQ(a.adder->trackingArea()->owner(), a.adder.get());
    EXPECT_EQ(a.adder->trackingArea()->rect(), Rect(0, 0, 40, 40));
    EXPECT_FALSE(a.adder->trackingArea()->userInfo().isValid());
    ASSERT_EQ(a.adder->trackingAreas().size(), 1u);

    const auto first = a.adder->trackingArea();
    a.adder->setFrame(Rect(150, 150, 40, 40));
    View::runUpdateCycle();
    ASSERT_EQ(a.adder->trackingAreas().size(), 1u) << "the old area is replaced, not kept";
    EXPECT_NE(a.adder->trackingArea(), first);
}

TEST(IdeaAdderView, HoverInStateOneEnlargesThePlusAndLeavingShrinksIt)
{
    AdderInWindow a;
    a.hover();
    EXPECT_DOUBLE_EQ(a.imageScale(), 1.25);
    EXPECT_EQ(shownImage(*a.adder), QStringLiteral("plus_on_circle"));
    a.leave();
    EXPECT_DOUBLE_EQ(a.imageScale(), 1.0);
    EXPECT_EQ(shownImage(*a.adder), QStringLiteral("plus_on_circle"));

    // Leaving in state 1 shows the plus again, whatever was shown.
    a.hover();
    a.adder->imageView()->setImage(PlatformImage::imageNamed(QStringLiteral("close")));
    a.leave();
    EXPECT_EQ(shownImage(*a.adder), QStringLiteral("plus_on_circle"));
}

TEST(IdeaAdderView, HoverOutsideTheKeyWindowDoesNothing)
{
    AdderInWindow a;
    IdeaViewWindow other(Size(10, 10)); // becomes the key window
    a.hover();
    EXPECT_DOUBLE_EQ(a.imageScale(), 1.0);
}

TEST(IdeaAdderView, InDockingModeHoverDoesNotEnlargeAndLeavingKeepsTheDockImage)
{
    AdderInWindow a;
    a.adder->setAdderState(3);
    a.hover();
    EXPECT_DOUBLE_EQ(a.imageScale(), 1.0);
    a.adder->setInFocus(true);
    a.leave();
    EXPECT_DOUBLE_EQ(a.imageScale(), 1.0);
    EXPECT_EQ(shownImage(*a.adder), QStringLiteral("small_dock_active"));
    a.adder->setInFocus(false);
    a.hover();
    a.leave();
    EXPECT_EQ(shownImage(*a.adder), QStringLiteral("small_dock"));
}

TEST(IdeaAdderView, AClickReachesTheDelegateOnceAndGoesNoFurther)
{
    AdderInWindow a;
    a.w.click(a.centre());
    ASSERT_EQ(a.delegate->taps.size(), 1u);
    EXPECT_EQ(a.delegate->taps[0], a.adder.get());
    EXPECT_EQ(a.w.content->mouseDowns, 0);
    EXPECT_EQ(a.w.content->mouseUps, 0);

    // Near the corner, off the plus image: the adder still takes it.
    a.w.click(IdeaViewWindow::inWindow(*a.adder, Point(2, 2)));
    EXPECT_EQ(a.delegate->taps.size(), 2u);
}

TEST(IdeaAdderView, AReleaseOutsideIsNoClick)
{
    AdderInWindow a;
    a.w.window->sendEvent(Event::mouseDown(a.centre()));
    a.w.window->sendEvent(Event::mouseDragged(a.outside()));
    a.w.window->sendEvent(Event::mouseUp(a.outside()));
    EXPECT_TRUE(a.delegate->taps.empty());
    EXPECT_EQ(a.w.content->mouseUps, 0) << "the adder holds the press to its end";
}

TEST(IdeaAdderView, AHiddenAdderTakesNoClickAndAGoneDelegateIsSkipped)
{
    AdderInWindow a;
    a.adder->setAdderState(0);
    a.w.click(a.centre());
    EXPECT_TRUE(a.delegate->taps.empty());
    EXPECT_EQ(a.w.content->mouseDowns, 1) << "the click falls through to what lies below";

    a.adder->setAdderState(1);
    a.delegate.reset();
    a.w.click(a.centre()); // no delegate: nothing, no crash
    EXPECT_EQ(a.adder->delegate(), nullptr);
}

// ---- Dock ----

namespace {

// A dock at (80, 80, 40, 40) in a key window, with a recording delegate.
struct DockInWindow
{
    DockInWindow()
    {
        dock->setFrame(Rect(80, 80, 40, 40));
        w.content->addSubview(dock);
        dock->setDelegate(delegate);
    }

    Point centre() const { return IdeaViewWindow::inWindow(*dock, Point(20, 20)); }

    IdeaViewWindow w;
    std::shared_ptr<DockAreaView> dock = DockAreaView::create();
    std::shared_ptr<RecordingDockDelegate> delegate = std::make_shared<RecordingDockDelegate>();
};

} // namespace

TEST(DockAreaView, ANewDockIsAnEmptyFortyPointSquareTakingInteraction)
{
    auto dock = DockAreaView::create();
    EXPECT_EQ(dock->frame(), Rect(0, 0, 40, 40));
    EXPECT_EQ(dock->image().size(), Size(40, 40)) << "the dock artwork resized to the dock";
    EXPECT_FALSE(dock->image().isNull());
    EXPECT_TRUE(dock->userInteractionEnabled());
    EXPECT_EQ(dock->ideaView(), nullptr);
    EXPECT_TRUE(dock->subviews().empty());
}

TEST(DockAreaView, ADockedIdeaIsARoleThreeViewScaledIntoTheDockOnTop)
{
    auto dock = DockAreaView::create();
    const IdeaPtr idea = Idea::initWithText(QStringLiteral("Docked"));
    dock->takeIdeaInside(idea.get(), QStringLiteral("temp:/doc"));
    const auto view = dock->ideaView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->role(), 3u);
    EXPECT_EQ(view->text(), QStringLiteral("Docked"));
    EXPECT_EQ(view->ideaIdentifier(), idea->identifier());
    EXPECT_EQ(view->docIdentifier(), QStringLiteral("temp:/doc"));
    EXPECT_EQ(view->superview(), dock.get());
    EXPECT_EQ(ViewExtensions::center(*view), Point(20, 20));
    EXPECT_EQ(view->layer()->zPosition(), 1.0);
    EXPECT_FLOAT_EQ(dock->scaleForView(*view), 40.0f / 140.0f * 1.2f);
    EXPECT_NEAR(modelScale(*view->layer()), 40.0 / 140.0 * 1.2, 1e-6) << "0.343";
}

TEST(DockAreaView, TheDockedPlanetIsDrawnInsideTheDock)
{
    DockInWindow d;
    d.w.window->setBackgroundColor(PlatformColor::black());
    const IdeaPtr idea = Idea::initWithText(QString());
    idea->setColor(testColor(QStringLiteral("red"), 210, 30, 30));
    d.dock->takeIdeaInside(idea.get(), QStringLiteral("temp:/doc"));
    const QImage image = d.w.window->renderToImage(1);
    // The dock spans (80, 80) to (120, 120) from the window's top left; the planet's radius
    // is 56 x 0.343 = 19.2 around its centre (100, 100).
    const QColor red(210, 30, 30);
    EXPECT_TRUE(pixelNear(image, 100, 100, red, 8)) << "the planet's centre is the dock's";
    EXPECT_TRUE(pixelNear(image, 100, 84, red, 8));
    EXPECT_TRUE(pixelNear(image, 116, 100, red, 8));
    EXPECT_FALSE(pixelNear(image, 100, 78, red, 40)) << "nothing of it above the dock";
    EXPECT_FALSE(pixelNear(image, 122, 100, red, 40)) << "nor to its right";
}

TEST(DockAreaView, ASecondIdeaReplacesTheFirstAndNullEmptiesTheDock)
{
    auto dock = DockAreaView::create();
    const IdeaPtr first = Idea::initWithText(QStringLiteral("First"));
    const IdeaPtr second = Idea::initWithImageAttachment(quadrantPicture(), ObjectID());
    dock->takeIdeaInside(first.get(), QStringLiteral("temp:/doc"));
    const auto firstView = dock->ideaView();
    dock->takeIdeaInside(second.get(), QStringLiteral("temp:/doc"));
    EXPECT_EQ(firstView->superview(), nullptr) << "the first view left the dock";
    ASSERT_EQ(dock->subviews().size(), 1u);
    EXPECT_EQ(dock->subviews()[0], dock->ideaView());
    EXPECT_TRUE(dock->ideaView()->image().hasImage());

    const auto secondView = dock->ideaView();
    dock->takeIdeaInside(nullptr, QString());
    EXPECT_EQ(dock->ideaView(), nullptr);
    EXPECT_EQ(secondView->superview(), nullptr);
    EXPECT_TRUE(dock->subviews().empty());
}

TEST(DockAreaView, AMouseDownHandsTheDockedIdeaOverOnceAndTheNextGoesNowhere)
{
    DockInWindow d;
    const IdeaPtr idea = Idea::initWithText(QStringLiteral("Drag me"));
    d.dock->takeIdeaInside(idea.get(), QStringLiteral("temp:/doc"));
    const auto docked = d.dock->ideaView();

    d.w.window->sendEvent(Event::mouseDown(d.centre()));
    ASSERT_EQ(d.delegate->views.size(), 1u);
    EXPECT_EQ(d.delegate->views[0], docked);
    EXPECT_EQ(d.delegate->views[0]->role(), 3u);
    EXPECT_EQ(d.delegate->events[0].type(), Event::Type::LeftMouseDown);
    EXPECT_EQ(d.delegate->events[0].locationInWindow(), d.centre());
    EXPECT_EQ(d.dock->ideaView(), nullptr) << "the dock is empty";
    EXPECT_EQ(docked->superview(), nullptr) << "the view left the dock";
    d.w.window->sendEvent(Event::mouseDragged(d.centre() + Point(5, 5)));
    d.w.window->sendEvent(Event::mouseUp(d.centre() + Point(5, 5)));
    EXPECT_EQ(d.w.content->mouseDowns, 0);
    EXPECT_EQ(d.w.content->mouseUps, 0) << "the dock consumes the rest of the press";

    d.w.click(d.centre());
    EXPECT_EQ(d.delegate->views.size(), 1u) << "nothing docked: the delegate hears nothing";
    EXPECT_EQ(d.w.content->mouseDowns, 0) << "and the superview neither";
}

TEST(DockAreaView, WithInteractionOffAMouseDownPassesOnAndTheIdeaStays)
{
    DockInWindow d;
    const IdeaPtr idea = Idea::initWithText(QStringLiteral("Stay"));
    d.dock->takeIdeaInside(idea.get(), QStringLiteral("temp:/doc"));
    d.dock->setUserInteractionEnabled(false);
    d.w.window->sendEvent(Event::mouseDown(d.centre()));
    EXPECT_TRUE(d.delegate->views.empty());
    EXPECT_NE(d.dock->ideaView(), nullptr);
    EXPECT_EQ(d.w.content->mouseDowns, 1) << "the platform's handling passes it on";
}

TEST(DockAreaView, AGoneDelegateStillLeavesTheDockEmpty)
{
    DockInWindow d;
    const IdeaPtr idea = Idea::initWithText(QStringLiteral("Lost"));
    d.dock->takeIdeaInside(idea.get(), QStringLiteral("temp:/doc"));
    d.delegate.reset();
    d.w.window->sendEvent(Event::mouseDown(d.centre()));
    EXPECT_EQ(d.dock->ideaView(), nullptr);
    EXPECT_EQ(d.w.content->mouseDowns, 0);
}

TEST(DockAreaView, ScaleForAViewIsTheHeightRatioEnlargedByAFifth)
{
    auto dock = DockAreaView::create();
    auto central = SimpleIdeaView::create(1); // 190 high
    EXPECT_FLOAT_EQ(dock->scaleForView(*central), float(40.0 / 190.0) * 1.2f);
    auto empty = BaseView::create(Rect(0, 0, 10, 0));
    EXPECT_EQ(dock->scaleForView(*empty), 0.0f) << "a view without height gives no scale, not infinity";
}
