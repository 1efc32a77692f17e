// IdeaView, the base of the idea views: sizes by role, the circular hit test through the
// window, press feedback on virtual time read from presented values, and the identifiers.

#include "mindmap/IdeaView.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "tests/mindmap/IdeaViewTestSupport.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/ViewExtensions.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

struct RoleSize
{
    quint64 role;
    double side;
    float radius;
};

} // namespace

TEST(IdeaView, ARoleFixesTheSquareAndTheRadius)
{
    // Role 1 the central idea, 2 a home-grid item, 3 a docked idea; any other is sized as 3.
    const RoleSize table[] = {{1, 190, 76}, {2, 232.5, 93}, {3, 140, 56},
                              {0, 140, 56}, {7, 140, 56},   {1000, 140, 56}};
    for (const RoleSize& row : table) {
        auto view = IdeaView::create(row.role, Layer::create());
        EXPECT_EQ(view->frame(), Rect(0, 0, row.side, row.side)) << "role " << row.role;
        EXPECT_EQ(view->radius(), row.radius) << "role " << row.role;
        EXPECT_EQ(view->role(), row.role);
        EXPECT_DOUBLE_EQ(IdeaView::sideLengthForRole(row.role), row.side);
    }
}

TEST(IdeaView, HostsTheGivenLayerAndAnswersNothingOfItsOwn)
{
    auto layer = Layer::create();
    auto view = IdeaView::create(2, layer);
    EXPECT_EQ(view->layer(), layer);
    EXPECT_TRUE(view->hostsLayer());
    EXPECT_TRUE(view->representativeTitle().isNull());
    EXPECT_EQ(view->copyForDragging(), nullptr);
    EXPECT_TRUE(view->docIdentifier().isNull());
    EXPECT_TRUE(view->ideaIdentifier().isNull());
    EXPECT_FALSE(view->shadowMode());
    view->setDocIdentifier(QStringLiteral("temp:/a"));
    view->setIdeaIdentifier(QStringLiteral("idea-1"));
    view->setShadowMode(true);
    EXPECT_EQ(view->docIdentifier(), QStringLiteral("temp:/a"));
    EXPECT_EQ(view->ideaIdentifier(), QStringLiteral("idea-1"));
    EXPECT_TRUE(view->shadowMode());
}

TEST(IdeaView, AClickHitsOnlyInsideTheCircle)
{
    IdeaViewWindow w(Size(400, 400));
    auto view = IdeaView::create(2, Layer::create()); // radius 93, side 232.5
    view->setFrame(Rect(50, 60, 232.5, 232.5));
    w.content->addSubview(view);
    const Point centre = ViewExtensions::center(*view);

    struct Probe
    {
        Point offset;
        bool hits;
    };
    const Probe probes[] = {
        {Point(0, 0), true},       {Point(92.99, 0), true}, // just inside
        {Point(93, 0), false},                              // exactly one radius away
        {Point(0, -93), false},                             // the same above
        {Point(65.7, 65.7), true},                          // the diagonal, 92.9 away
        {Point(66, 66), false},    // 93.3 away: inside the square, outside the circle
        {Point(-110, -110), false} // the square's corner
    };
    for (const Probe& probe : probes) {
        const Point p = centre + probe.offset;
        EXPECT_EQ(w.hitAt(p) == view.get(), probe.hits)
            << "offset " << probe.offset.x << ", " << probe.offset.y;
    }
}

TEST(IdeaView, SubviewsAreNeverAnswered)
{
    IdeaViewWindow w;
    auto view = IdeaView::create(3, Layer::create());
    w.content->addSubview(view);
    auto badge = BaseView::create(Rect(60, 60, 20, 20));
    view->addSubview(badge);
    EXPECT_EQ(w.hitAt(Point(70, 70)), view.get()) << "the view itself, not its subview";
}

TEST(IdeaView, AHiddenViewTakesNoClick)
{
    IdeaViewWindow w;
    auto view = IdeaView::create(3, Layer::create());
    w.content->addSubview(view);
    view->setHidden(true);
    EXPECT_EQ(w.hitAt(Point(70, 70)), w.content.get());
}

// ---- Press feedback ----

namespace {

// A home-grid item as the home grid uses it: role 2 over a plain layer, in a window, with
// the layer committed so that it animates.
struct PressedGridItem
{
    explicit PressedGridItem(ScopedVirtualTime& time) : time(time)
    {
        view = IdeaView::create(2, Layer::create());
        w.content->addSubview(view);
        time.advance(0); // the turn's transaction commits the layer
    }

    double scale() const { return presentedScale(*view->layer()); }
    // Moves the clock to `seconds` after the press.
    void at(double seconds) { time.advance(pressed + seconds - time.now()); }

    ScopedVirtualTime& time;
    IdeaViewWindow w;
    std::shared_ptr<IdeaView> view;
    double pressed = 0;
};

} // namespace

TEST(IdeaViewPress, ThePressShrinksTo095OverAFifthOfASecondEasedAtBothEnds)
{
    ScopedVirtualTime time;
    PressedGridItem item(time);
    item.pressed = time.now();
    item.view->startTapAnimation();
    EXPECT_NEAR(modelScale(*item.view->layer()), 0.95, 1e-6) << "the model takes the end value at once";
    EXPECT_DOUBLE_EQ(item.scale(), 1.0) << "the presentation starts from the old value";

    item.at(0.05);
    const double quarter = item.scale();
    EXPECT_GT(quarter, 0.9875) << "eased in: less than a quarter of the way after a quarter of the time";
    item.at(0.1);
    EXPECT_NEAR(item.scale(), 0.975, 1e-4) << "halfway at half time";
    item.at(0.2);
    EXPECT_NEAR(item.scale(), 0.95, 1e-6);
    item.at(0.4);
    EXPECT_NEAR(item.scale(), 0.95, 1e-6) << "held while pressed";
}

TEST(IdeaViewPress, TheReleaseSettlesBackSlowlyAndIsExactlyOneFromTwoAndAHalfSeconds)
{
    ScopedVirtualTime time;
    PressedGridItem item(time);
    item.pressed = time.now();
    item.view->startTapAnimation();
    item.at(0.5);
    item.view->stopTapAnimation();
    EXPECT_TRUE(item.view->layer()->transform().isIdentity());

    item.at(0.7);
    EXPECT_LT(item.scale(), 1.0) << "a release over two seconds is far from done after 0.2 s";
    EXPECT_GE(item.scale(), 0.95);
    item.at(0.8); // the second step runs now and finds the identity in place
    const double afterSecondStep = item.scale();
    EXPECT_LT(afterSecondStep, 1.0);
    item.at(1.5);
    EXPECT_GT(item.scale(), afterSecondStep) << "still growing";
    item.at(2.5);
    EXPECT_EQ(item.scale(), 1.0);
    item.at(4.0);
    EXPECT_EQ(item.scale(), 1.0);
    EXPECT_FALSE(item.view->layer()->hasAnimations());
}

TEST(IdeaViewPress, TheSecondStepKeepsADroppedViewAliveUntilItHasRun)
{
    ScopedVirtualTime time;
    std::weak_ptr<IdeaView> weak;
    {
        PressedGridItem item(time);
        item.view->startTapAnimation();
        item.view->stopTapAnimation();
        weak = item.view;
        item.view->removeFromSuperview();
    }
    EXPECT_FALSE(weak.expired()) << "the pending step holds the view";
    time.advance(0.31);
    time.advance(0);
    EXPECT_TRUE(weak.expired()) << "and lets it go once it has run";
}
