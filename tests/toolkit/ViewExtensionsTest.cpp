// The view extensions: positions read from and written to the frame, hierarchy helpers,
// scale and move transforms through the layer, the animated transition, pixel alignment
// (with the mended division by zero), distances, snapshots and the tree dump.

#include "toolkit/ViewExtensions.h"
#include "model/Globals.h"
#include "platform/gfx/PlatformColor.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Window.h"
#include "tests/support/CompletionRecorder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "toolkit/BaseView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/LayerExtensions.h"

#include <QColor>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <numbers>

using namespace corvex;
using namespace corvex::test;

namespace {

class FlippedView : public View
{
public:
    using View::View;
    bool isFlipped() const override { return true; }
};

std::shared_ptr<View> flippedView(const Rect& frame)
{
    return std::make_shared<FlippedView>(frame);
}

} // namespace

// ---- Positions ----

TEST(ViewPositions, TheGettersReadTheFrame)
{
    auto view = flippedView(Rect(10, 20, 100, 50));
    EXPECT_EQ(ViewExtensions::center(*view), Point(60, 45));
    EXPECT_EQ(ViewExtensions::topLeftCorner(*view), Point(10, 20));
    EXPECT_EQ(ViewExtensions::topRightCorner(*view), Point(110, 20));
    EXPECT_EQ(ViewExtensions::bottomRightCorner(*view), Point(110, 70));
    EXPECT_EQ(ViewExtensions::bottomLeftCorner(*view), Point(10, 70));
    EXPECT_EQ(ViewExtensions::middleTopPosition(*view), Point(60, 20));
    EXPECT_EQ(ViewExtensions::middleBottomPosition(*view), Point(60, 70));
    EXPECT_EQ(ViewExtensions::middleLeftPosition(*view), Point(10, 45));
    EXPECT_EQ(ViewExtensions::middleRightPosition(*view), Point(110, 45));
    EXPECT_EQ(ViewExtensions::bottomFrameLine(*view), 70.0f);
    EXPECT_EQ(ViewExtensions::rightFrameLine(*view), 110.0f);

    // The centre point is the bounds size's half; the bounds origin does not count.
    view->setBoundsOrigin(Point(30, 40));
    EXPECT_EQ(ViewExtensions::centerPoint(*view), Point(50, 25));
}

TEST(ViewPositions, EachSetterPutsItsPointThereAndKeepsTheSize)
{
    using Setter = void (*)(View&, Point);
    using Getter = Point (*)(const View&);
    const struct
    {
        const char* name;
        Setter set;
        Getter get;
        Point origin; // the frame origin that putting (0, 0) there gives, for a 100 x 50 view
    } cases[] = {
        {"center", ViewExtensions::setCenter, ViewExtensions::center, Point(-50, -25)},
        {"topLeft", ViewExtensions::setTopLeftCorner, ViewExtensions::topLeftCorner, Point(0, 0)},
        {"topRight", ViewExtensions::setTopRightCorner, ViewExtensions::topRightCorner, Point(-100, 0)},
        {"bottomLeft", ViewExtensions::setBottomLeftCorner, ViewExtensions::bottomLeftCorner, Point(0, -50)},
        {"middleTop", ViewExtensions::setMiddleTopPosition, ViewExtensions::middleTopPosition, Point(-50, 0)},
        {"middleBottom", ViewExtensions::setMiddleBottomPosition, ViewExtensions::middleBottomPosition,
         Point(-50, -50)},
        {"middleLeft", ViewExtensions::setMiddleLeftPosition, ViewExtensions::middleLeftPosition,
         Point(0, -25)},
        {"middleRight", ViewExtensions::setMiddleRightPosition, ViewExtensions::middleRightPosition,
         Point(-100, -25)},
    };
    for (const auto& c : cases) {
        auto view = flippedView(Rect(10, 20, 100, 50));
        c.set(*view, Point(0, 0));
        EXPECT_EQ(view->frame(), Rect(c.origin, Size(100, 50))) << c.name;
        c.set(*view, Point(7, 9));
        EXPECT_EQ(c.get(*view), Point(7, 9)) << c.name;
    }
}

TEST(ViewPositions, TheRoundedCentrePointRoundsHalvesAwayFromZero)
{
    auto view = flippedView(Rect(0, 0, 5, 3));
    EXPECT_EQ(ViewExtensions::centerPoint(*view), Point(2.5, 1.5));
    EXPECT_EQ(ViewExtensions::centerPointRounded(*view), Point(3, 2));
    view->setFrameSize(Size(-5, 4.2));
    EXPECT_EQ(ViewExtensions::centerPointRounded(*view), Point(-3, 2));
}

TEST(ViewPositions, TheScreenCentreIsTheCentreInTheContentViewsCoordinates)
{
    auto window = Window::create(Size(300, 200));
    auto content = flippedView(Rect());
    window->setContentView(content);
    auto middle = flippedView(Rect(20, 30, 200, 100));
    auto view = flippedView(Rect(5, 6, 40, 20));
    content->addSubview(middle);
    middle->addSubview(view);
    EXPECT_EQ(ViewExtensions::screenCenterLocation(*view), Point(45, 46));
}

// ---- Hierarchy ----

TEST(ViewHierarchyHelpers, InsertAboveAndBelowASibling)
{
    auto parent = flippedView(Rect(0, 0, 10, 10));
    auto a = flippedView(Rect());
    auto b = flippedView(Rect());
    auto above = flippedView(Rect());
    auto below = flippedView(Rect());
    parent->addSubview(a);
    parent->addSubview(b);
    ViewExtensions::insertSubviewAbove(*parent, above, a.get());
    ViewExtensions::insertSubviewBelow(*parent, below, a.get());
    const std::vector<std::shared_ptr<View>> expected{below, a, above, b};
    EXPECT_EQ(parent->subviews(), expected);
    const std::vector<std::shared_ptr<Layer>> layers{below->layer(), a->layer(), above->layer(), b->layer()};
    EXPECT_EQ(parent->layer()->sublayers(), layers) << "the layers follow";
}

TEST(ViewHierarchyHelpers, BringToFrontPutsTheSubviewOnTop)
{
    auto parent = flippedView(Rect(0, 0, 10, 10));
    auto a = flippedView(Rect());
    auto b = flippedView(Rect());
    parent->addSubview(a);
    parent->addSubview(b);
    ViewExtensions::bringSubviewToFront(*parent, a);
    EXPECT_EQ(parent->subviews(), (std::vector<std::shared_ptr<View>>{b, a}));
}

// ---- Scale and transforms ----

TEST(ViewScale, IsTheLengthOfTheTransformsFirstRow)
{
    auto view = flippedView(Rect(0, 0, 40, 40));
    EXPECT_DOUBLE_EQ(ViewExtensions::scale(*view), 1);
    view->layer()->setTransform(Transform3D::makeScale(2, 2, 1).rotate(std::numbers::pi / 6, 0, 0, 1));
    EXPECT_NEAR(ViewExtensions::scale(*view), 2, 1e-12) << "scaled by 2 and rotated by 30 degrees";
}

TEST(ViewScale, SetScaleScalesAboutTheCentreOfTheView)
{
    auto parent = BaseView::create(Rect(0, 0, 300, 300));
    auto view = BaseView::create(Rect(10, 20, 100, 50));
    parent->addSubview(view);
    ViewExtensions::setScale(*view, 2);
    EXPECT_DOUBLE_EQ(ViewExtensions::scale(*view), 2);
    const Layer& layer = *view->layer();
    EXPECT_EQ(layer.convertPointToLayer(Point(50, 25), parent->layer().get()), Point(60, 45))
        << "the centre stays";
    EXPECT_EQ(layer.convertPointToLayer(Point(0, 0), parent->layer().get()), Point(-40, -5));
    EXPECT_EQ(view->frame(), Rect(10, 20, 100, 50)) << "the frame ignores the transform";
}

TEST(ViewScale, NotAnimatedIsImmediateAnimatedUsesTheImplicitAnimation)
{
    ScopedVirtualTime time;
    auto view = BaseView::create(Rect(0, 0, 100, 50));
    time.advance(0);
    ViewExtensions::setScaleAnimated(*view, 0.5, false);
    EXPECT_FALSE(view->layer()->hasAnimations());
    EXPECT_DOUBLE_EQ(ViewExtensions::scale(*view), 0.5);

    ViewExtensions::setScaleAnimated(*view, 2, true);
    EXPECT_NE(view->layer()->animationForKey(QStringLiteral("transform")), nullptr);
    EXPECT_DOUBLE_EQ(ViewExtensions::scale(*view), 2);
}

TEST(ViewTransforms, TransformToPointMovesTheCentreThereScaled)
{
    auto parent = BaseView::create(Rect(0, 0, 300, 300));
    auto view = BaseView::create(Rect(10, 20, 100, 50));
    parent->addSubview(view);
    ViewExtensions::transformToPoint(*view, Point(200, 100), 2);
    const Layer& layer = *view->layer();
    EXPECT_EQ(layer.convertPointToLayer(Point(50, 25), parent->layer().get()), Point(200, 100));
    EXPECT_EQ(layer.convertPointToLayer(Point(0, 0), parent->layer().get()), Point(100, 50));
    EXPECT_NEAR(ViewExtensions::scale(*view), 2, 1e-12);

    // The layer's centre is read from its frame, which the transform changes: start afresh.
    const Transform3D moved = layer.transform();
    view->layer()->setTransform(Transform3D::identity());
    ViewExtensions::transformToPointRotation(*view, Point(200, 100), 1.3, 2);
    EXPECT_EQ(layer.transform(), moved) << "the rotation is not applied";
}

TEST(ViewTransforms, ScaleAndRotationIgnoresTheRotation)
{
    auto view = BaseView::create(Rect(10, 20, 100, 50));
    ViewExtensions::transformToScaleRotation(*view, 1.5, 0);
    const Transform3D plain = view->layer()->transform();
    for (const double rotation : {0.3, -2.0, 7.0}) {
        ViewExtensions::transformToScaleRotation(*view, 1.5, rotation);
        EXPECT_EQ(view->layer()->transform(), plain) << rotation;
    }
}

TEST(ViewTransforms, BadFinalScalesLogAndLeaveTheTransform)
{
    LogCapture log;
    auto view = BaseView::create(Rect(10, 20, 100, 50));
    ViewExtensions::setScale(*view, 1.5);
    const Transform3D before = view->layer()->transform();
    const double bad[] = {0, -1, std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity()};
    for (const double scale : bad) {
        ViewExtensions::transformToPoint(*view, Point(1, 2), scale);
        ViewExtensions::transformToScaleRotation(*view, scale, 0);
        EXPECT_EQ(view->layer()->transform(), before) << scale;
    }
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 452 -[CALayer(MyExtensions) "
                                       "transformToPoint:rotation:finalScale:]")),
              8);
}

TEST(ViewTransition, MovesAndScalesThenLeavesTheMoveToTheFrame)
{
    ScopedVirtualTime time;
    auto parent = BaseView::create(Rect(0, 0, 400, 400));
    auto view = BaseView::create(Rect(10, 20, 100, 50));
    parent->addSubview(view);
    time.advance(0);

    int completions = 0;
    CompletionRecorder recorder;
    ViewExtensions::animateTransitionToPoint(
        *view, Point(200, 100), 0.5, 1.0,
        recorder.expect<>(QStringLiteral("transition"), [&] { ++completions; }));
    const auto animation = view->layer()->animationForKey(QStringLiteral("transform"));
    ASSERT_NE(animation, nullptr);
    EXPECT_DOUBLE_EQ(animation->duration(), 1.0);
    EXPECT_EQ(animation->timingFunction(), TimingFunction::easeInEaseOut());
    EXPECT_EQ(view->frame(), Rect(10, 20, 100, 50)) << "the transform carries the move while it runs";

    time.advance(0.5);
    EXPECT_EQ(completions, 0);
    time.advance(0.6);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(ViewExtensions::center(*view), Point(200, 100)) << "the frame carries the move";
    EXPECT_EQ(view->layer()->transform(), LayerExtensions::scaleTransform(*view->layer(), 0.5))
        << "the transform keeps only the scale";
    time.advance(2);
    EXPECT_EQ(completions, 1);
}

TEST(ViewTransition, ABadScaleLogsMovesNothingAndStillCompletesOnce)
{
    ScopedVirtualTime time;
    LogCapture log;
    auto view = BaseView::create(Rect(10, 20, 100, 50));
    time.advance(0);
    for (const double bad : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        int completions = 0;
        CompletionRecorder recorder;
        ViewExtensions::animateTransitionToPoint(
            *view, Point(200, 100), bad, 1.0,
            recorder.expect<>(QStringLiteral("transition"), [&] { ++completions; }));
        EXPECT_EQ(completions, 0) << "not from inside the call; " << bad;
        time.advance(2);
        EXPECT_EQ(completions, 1) << bad;
        EXPECT_EQ(view->frame(), Rect(10, 20, 100, 50)) << bad;
        EXPECT_TRUE(view->layer()->transform().isIdentity()) << bad;
        EXPECT_FALSE(view->layer()->hasAnimations()) << bad;
    }
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 204 -[NSView(MyExtensions) "
                                       "animateTransitionToPoint:finalScale:duration:onCompletion:]")),
              3);
}

TEST(ViewAnimations, RemoveAnimationsAlsoFromSubviewsReachesEveryLevel)
{
    ScopedVirtualTime time;
    auto root = BaseView::create(Rect(0, 0, 100, 100));
    auto child = BaseView::create(Rect(0, 0, 50, 50));
    auto grandchild = BaseView::create(Rect(0, 0, 20, 20));
    root->addSubview(child);
    child->addSubview(grandchild);
    time.advance(0);
    for (const auto& v : {root, child, grandchild})
        v->setFrame(Rect(5, 5, 10, 10));
    ASSERT_TRUE(grandchild->layer()->hasAnimations());
    ViewExtensions::removeAnimationsAlsoFromSubviews(*root);
    for (const auto& v : {root, child, grandchild})
        EXPECT_FALSE(v->layer()->hasAnimations());
    EXPECT_EQ(grandchild->layer()->presentationValue(QStringLiteral("position")).toPoint(), Point(5, 5));
}

// ---- Pixel alignment ----

TEST(ViewAlignment, IntegralFrameRoundsTheOriginDownToDevicePixelsAndTheSizeUp)
{
    ScreenScale scale(2);
    auto view = flippedView(Rect(10.3, 4.7, 20.2, 9.0));
    ViewExtensions::ensureIntegralFrame(*view);
    EXPECT_EQ(view->frame(), Rect(10.0, 4.5, 21, 9));

    Globals::setScreenScaleOverride(1);
    view->setFrame(Rect(-0.5, 3.99, 0.1, 2.0001));
    ViewExtensions::ensureIntegralFrame(*view);
    EXPECT_EQ(view->frame(), Rect(-1, 3, 1, 3));
}

TEST(ViewAlignment, HeightAsAMultipleRoundsUpAndKeepsTheRest)
{
    auto view = flippedView(Rect(1, 2, 30, 33));
    ViewExtensions::ensureFrameHeightAsMultipleOf(*view, 16);
    EXPECT_EQ(view->frame(), Rect(1, 2, 30, 48));
    view->setFrameSize(Size(30, 32));
    ViewExtensions::ensureFrameHeightAsMultipleOf(*view, 16);
    EXPECT_EQ(view->frame(), Rect(1, 2, 30, 32));
    view->setFrameSize(Size(30, 0.5));
    ViewExtensions::ensureFrameHeightAsMultipleOf(*view, 0.25);
    EXPECT_EQ(view->frame().size, Size(30, 0.5));
}

TEST(ViewAlignment, AMultipleOfZeroOrLessLogsAndLeavesTheFrame)
{
    LogCapture log;
    auto view = flippedView(Rect(1, 2, 30, 33));
    for (const double m : {0.0, -16.0, std::numeric_limits<double>::quiet_NaN()}) {
        ViewExtensions::ensureFrameHeightAsMultipleOf(*view, m);
        EXPECT_EQ(view->frame(), Rect(1, 2, 30, 33)) << m;
    }
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 236 "
                                       "-[NSView(MyExtensions) ensureFrameHeightAsMultipleOf:]")),
              3);
}

// ---- Distances ----

TEST(ViewDistances, FromTheCentrePointInTheViewOrAnotherView)
{
    auto parent = flippedView(Rect(0, 0, 300, 300));
    auto view = flippedView(Rect(100, 50, 40, 20));
    parent->addSubview(view);
    EXPECT_FLOAT_EQ(ViewExtensions::calculateDistanceFromCenter(*view, Point(23, 14)), 5.0f);
    // (23, 14) in the view is (123, 64) in the parent.
    EXPECT_FLOAT_EQ(ViewExtensions::calculateDistanceFromCenter(*view, Point(123, 64), parent.get()), 5.0f);
}

// ---- Snapshots and diagnostics ----

TEST(ViewSnapshot, ImageRepresentationIsUprightAndRestoresHiddenness)
{
    auto view = ColoredView::create(PlatformColor::deviceRGB(1, 0, 0));
    view->setFrame(Rect(0, 0, 40, 30));
    auto top = ColoredView::create(PlatformColor::deviceRGB(0, 0, 1));
    view->addHostedView(top, [](View& v, const Rect& b) { v.setFrame(Rect(0, 0, b.size.width, 10)); });
    view->setHidden(true);

    const PlatformImage image = ViewExtensions::imageRepresentation(*view);
    EXPECT_TRUE(view->isHidden()) << "hiddenness is restored";
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), Size(40, 30));
    const QImage pixels = image.representations().front();
    saveOutput(pixels, QStringLiteral("view_image_representation"));
    EXPECT_EQ(pixels.pixelColor(20, 2), QColor(0, 0, 255)) << "the hosted view is at the top";
    EXPECT_EQ(pixels.pixelColor(20, 27), QColor(255, 0, 0));
}

TEST(ViewDescription, TheTreeDumpIndentsSubviewsWithABar)
{
    auto root = flippedView(Rect(0, 0, 100, 50));
    auto child = BaseView::create(Rect(1, 2, 3, 4));
    auto grandchild = flippedView(Rect(5, 6, 7, 8));
    root->addSubview(child);
    child->addSubview(grandchild);
    const QString expected = root->description() + QStringLiteral(" frame={{0, 0}, {100, 50}}\n") +
                             QStringLiteral("|   ") + child->description() +
                             QStringLiteral(" frame={{1, 2}, {3, 4}}\n") + QStringLiteral("|   |   ") +
                             grandchild->description() + QStringLiteral(" frame={{5, 6}, {7, 8}}\n");
    EXPECT_EQ(ViewExtensions::recursiveDescription(*root), expected);
    EXPECT_TRUE(child->description().startsWith(QStringLiteral("<BaseView: 0x")));
    EXPECT_EQ(ViewExtensions::recursiveDescriptionWithPrefix(*grandchild, QStringLiteral("> ")),
              QStringLiteral("> ") + grandchild->description() + QStringLiteral(" frame={{5, 6}, {7, 8}}\n"));
}
