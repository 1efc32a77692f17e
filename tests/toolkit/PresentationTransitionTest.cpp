// Presentation transitions on virtual time: the slide-up (presented view from below F to F,
// presenting view hidden at the end, and back) and the partial panel over a blurred backdrop
// (from 370 above to the top edge while the backdrop fades in, the backdrop's clicks handed
// to the presented controller, the panel following the host's width). Rendered frames are
// written under test-output/toolkit.

#include "platform/gfx/PlatformColor.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "tests/toolkit/ControllerTestSupport.h"
#include "toolkit/Animator.h"
#include "toolkit/BaseImageView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/PartialViewTransitionAnimation.h"
#include "toolkit/ScreenProtectorView.h"
#include "toolkit/ScreenProtectorViewDelegate.h"
#include "toolkit/SlideUpViewTransitionAnimation.h"

#include <QColor>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr double kTransitionFrame = 1.0 / 60;

// A coloured screen view that notes the mouse events reaching it.
class ScreenView : public ColoredView
{
public:
    ScreenView(const PlatformColor& color, std::shared_ptr<QStringList> log)
        : ColoredView(color), mLog(std::move(log))
    {}

    void mouseDown(const Event& event) override
    {
        mLog->append(QStringLiteral("screen.mouseDown"));
        ColoredView::mouseDown(event);
    }
    void mouseUp(const Event& event) override
    {
        mLog->append(QStringLiteral("screen.mouseUp"));
        ColoredView::mouseUp(event);
    }

private:
    std::shared_ptr<QStringList> mLog;
};

// The presented controller: told of clicks on the backdrop.
class PanelController : public GivenViewController<ViewController>, public ScreenProtectorViewDelegate
{
public:
    using GivenViewController::GivenViewController;
    void screenProtectorWasClicked() override { ++clicks; }
    int clicks = 0;
};

// A 400 x 600 window whose content view is the host; the presenting screen fills the host.
// The presented panel is blue, the presenting screen red.
struct Stage
{
    explicit Stage(ScopedVirtualTime& time)
    {
        // Drawn at a size (a view drawn while empty keeps no contents to stretch later).
        presentedView->setFrame(Rect(0, 0, 400, 370));
        window->setContentView(host);
        host->addHostedView(presentingView);
        // Something for the backdrop's blur to show, away from the probed pixels.
        auto mark = ColoredView::create(PlatformColor::white());
        mark->setFrame(Rect(40, 430, 80, 80));
        presentingView->addSubview(mark);
        presenting = std::make_shared<GivenViewController<ViewController>>(presentingView);
        presented = std::make_shared<PanelController>(presentedView);
        time.advance(0);
    }

    std::shared_ptr<QStringList> log = std::make_shared<QStringList>();
    std::shared_ptr<Window> window = Window::create(Size(400, 600));
    std::shared_ptr<BaseView> host = BaseView::create(Rect(0, 0, 400, 600));
    std::shared_ptr<ScreenView> presentingView =
        ColoredView::make<ScreenView>(PlatformColor::deviceRGB(1, 0, 0), log);
    std::shared_ptr<ColoredView> presentedView = ColoredView::create(PlatformColor::deviceRGB(0, 0, 1));
    std::shared_ptr<GivenViewController<ViewController>> presenting;
    std::shared_ptr<PanelController> presented;
};

double presentedY(const View& view)
{
    return view.layer()->presentationValue(QStringLiteral("position")).toPoint().y;
}

bool hosts(const BaseView& host, const View* view)
{
    const auto hosted = host.hostedViews();
    return std::any_of(hosted.begin(), hosted.end(),
                       [&](const std::shared_ptr<View>& v) { return v.get() == view; });
}

QColor colorAt(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

} // namespace

// ---- Slide-up ----

TEST(SlideUpViewTransitionAnimation, StartsBelowThePresentingViewAndEndsExactlyOnIt)
{
    ScopedVirtualTime time;
    Stage stage(time);
    const Rect f = stage.presentingView->frame();
    ASSERT_EQ(f, Rect(0, 0, 400, 600));

    stage.presenting->presentViewController(stage.presented,
                                            std::make_shared<SlideUpViewTransitionAnimation>());
    EXPECT_EQ(stage.presentedView->superview(), stage.host.get());
    EXPECT_TRUE(hosts(*stage.host, stage.presentedView.get()));
    EXPECT_DOUBLE_EQ(presentedY(*stage.presentedView), f.origin.y + f.size.height)
        << "its top edge at F.y + H: entirely below F";
    EXPECT_FALSE(stage.presentingView->isHidden());

    // Half the time on the symmetric ease-in-ease-out curve: half the way.
    time.advance(double(SlideUpViewTransitionAnimation::Duration) / 2);
    EXPECT_NEAR(presentedY(*stage.presentedView), 300, 0.5);
    const QImage middle = stage.window->renderToImage(1);
    saveOutput(middle, QStringLiteral("slide_up_middle"));
    EXPECT_EQ(colorAt(middle, 200, 100), QColor(255, 0, 0)) << "the presenting screen above";
    EXPECT_EQ(colorAt(middle, 200, 500), QColor(0, 0, 255)) << "the presented one coming up below";

    time.advance(0.14);
    EXPECT_FALSE(stage.presentingView->isHidden()) << "hidden only at the end";
    time.advance(0.05);
    EXPECT_TRUE(stage.presentingView->isHidden());
    EXPECT_EQ(stage.presentedView->frame(), f) << "exactly F";
    EXPECT_DOUBLE_EQ(presentedY(*stage.presentedView), 0);
    const QImage end = stage.window->renderToImage(1);
    saveOutput(end, QStringLiteral("slide_up_end"));
    EXPECT_EQ(colorAt(end, 200, 10), QColor(0, 0, 255));
}

TEST(SlideUpViewTransitionAnimation, DismissalShowsThePresentingViewAndTakesThePresentedOneAway)
{
    ScopedVirtualTime time;
    Stage stage(time);
    auto animator = std::make_shared<SlideUpViewTransitionAnimation>();
    stage.presenting->presentViewController(stage.presented, animator);
    time.advance(1);
    ASSERT_TRUE(stage.presentingView->isHidden());

    stage.presenting->dismissViewController(stage.presented.get());
    EXPECT_FALSE(stage.presentingView->isHidden()) << "shown again at once";
    EXPECT_EQ(stage.presentedView->frame(), Rect(0, 600, 400, 600)) << "the model at F moved down by H";
    EXPECT_DOUBLE_EQ(presentedY(*stage.presentedView), 0) << "shown from where it was";
    time.advance(double(SlideUpViewTransitionAnimation::Duration) / 2);
    EXPECT_NEAR(presentedY(*stage.presentedView), 300, 0.5);
    EXPECT_TRUE(hosts(*stage.host, stage.presentedView.get())) << "still there while it moves";

    time.advance(0.2);
    EXPECT_EQ(stage.presentedView->superview(), nullptr);
    EXPECT_FALSE(hosts(*stage.host, stage.presentedView.get())) << "the host dropped its record";
    EXPECT_EQ(stage.presentedView->alphaValue(), 0.0);
    EXPECT_EQ(stage.host->hostedViews().size(), 1u);
}

TEST(SlideUpViewTransitionAnimation, ADismissalDuringTheSlideLeavesThePresentingViewShown)
{
    ScopedVirtualTime time;
    Stage stage(time);
    stage.presenting->presentViewController(stage.presented,
                                            std::make_shared<SlideUpViewTransitionAnimation>());
    time.advance(0.1);
    stage.presenting->dismissViewController(stage.presented.get());
    time.advance(1);
    EXPECT_FALSE(stage.presentingView->isHidden()) << "the window is not left without either view";
    EXPECT_EQ(stage.presentedView->superview(), nullptr);
    EXPECT_EQ(stage.host->hostedViews(), std::vector<std::shared_ptr<View>>{stage.presentingView});
}

TEST(SlideUpViewTransitionAnimation, WorksWhenCalledDirectly)
{
    ScopedVirtualTime time;
    Stage stage(time);
    SlideUpViewTransitionAnimation animator;
    animator.animatePresentationOfViewController(*stage.presented, *stage.presenting);
    time.advance(1);
    EXPECT_TRUE(stage.presentingView->isHidden());
    EXPECT_EQ(stage.presentedView->frame(), Rect(0, 0, 400, 600));
    animator.animateDismissalOfViewController(*stage.presented, *stage.presenting);
    time.advance(1);
    EXPECT_FALSE(stage.presentingView->isHidden());
    EXPECT_EQ(stage.presentedView->superview(), nullptr);
}

TEST(SlideUpViewTransitionAnimation, LaterLayoutsOfTheHostFillItWithThePresentedView)
{
    ScopedVirtualTime time;
    Stage stage(time);
    stage.presenting->presentViewController(stage.presented,
                                            std::make_shared<SlideUpViewTransitionAnimation>());
    time.advance(1);
    stage.window->setContentSize(Size(500, 640));
    EXPECT_EQ(stage.presentedView->frame(), Rect(0, 0, 500, 640));
}

TEST(SlideUpViewTransitionAnimation, APresentingViewOutsideABaseViewIsLoggedAndNothingMoves)
{
    ScopedVirtualTime time;
    LogCapture log;
    auto plain = View::create(Rect(0, 0, 300, 300));
    auto presentingView = BaseView::create(Rect(0, 0, 300, 300));
    plain->addSubview(presentingView);
    auto presenting = std::make_shared<GivenViewController<ViewController>>(presentingView);
    auto presentedView = BaseView::create(Rect(0, 0, 10, 10));
    auto presented = std::make_shared<GivenViewController<ViewController>>(presentedView);
    presenting->presentViewController(presented, std::make_shared<SlideUpViewTransitionAnimation>());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Assertion failure: SlideUpViewTransitionAnimation")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(presentedView->superview(), nullptr);
    time.advance(1);
    EXPECT_FALSE(presentingView->isHidden());
}

// ---- Partial ----

TEST(PartialViewTransitionAnimation, LowersThePanelFromAboveTheTopEdgeWhileTheBackdropFadesIn)
{
    ScopedVirtualTime time;
    Stage stage(time);
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    stage.presenting->presentViewController(stage.presented, animator);

    const auto& protector = animator->protector();
    ASSERT_NE(protector, nullptr);
    EXPECT_EQ(stage.presentedView->frame(), Rect(0, -370, 400, 370)) << "starts just above the top edge";
    EXPECT_EQ(protector->layer()->opacity(), 0.0f);
    EXPECT_EQ(protector->frame(), stage.host->bounds()) << "the backdrop covers the host";
    EXPECT_EQ(stage.host->hostedViews(),
              (std::vector<std::shared_ptr<View>>{stage.presentingView, protector, stage.presentedView}))
        << "backdrop above the presenting screen, panel above the backdrop";
    EXPECT_FALSE(stage.presentingView->isHidden());
    EXPECT_EQ(protector->delegate(), stage.presented);

    // Every frame: the panel's y and the backdrop's opacity come from the same eased progress.
    double lastY = -370;
    int frames = 0;
    while (protector->layer()->opacity() < 1.0f && frames < 100) {
        time.advance(kTransitionFrame);
        ++frames;
        const double y = stage.presentedView->frame().origin.y;
        const float opacity = protector->layer()->opacity();
        EXPECT_GE(y, lastY) << "frame " << frames;
        EXPECT_NEAR(y, -370.0 * (1.0 - opacity), 1e-3) << "frame " << frames;
        EXPECT_EQ(stage.presentedView->frame().origin.x, 0);
        lastY = y;
    }
    EXPECT_GE(frames, 23);
    EXPECT_LE(frames, 26) << "0.4 s at 60 frames a second";
    EXPECT_EQ(stage.presentedView->frame(), Rect(0, 0, 400, 370)) << "ends at the top with the host's width";
    EXPECT_EQ(protector->layer()->opacity(), 1.0f);
    EXPECT_FALSE(stage.presentingView->isHidden()) << "the presenting screen stays beneath";

    time.advance(1);
    const QImage shown = stage.window->renderToImage(1);
    saveOutput(shown, QStringLiteral("partial_presented"));
    EXPECT_EQ(colorAt(shown, 200, 100), QColor(0, 0, 255)) << "the panel at the top";
    const QColor backdrop = colorAt(shown, 200, 480);
    EXPECT_NEAR(backdrop.red(), 230, 4) << "the red screen, blurred and darkened by a tenth";
    EXPECT_LE(backdrop.green(), 6);
    EXPECT_LE(backdrop.blue(), 6);
}

TEST(PartialViewTransitionAnimation, TheBackdropIsAPictureOfThePresentingViewAtItsPixelSize)
{
    ScopedVirtualTime time;
    Stage stage(time);
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    stage.presenting->presentViewController(stage.presented, animator);
    const auto& protector = animator->protector();
    ASSERT_NE(protector, nullptr);
    ASSERT_NE(protector->imageView(), nullptr);
    EXPECT_EQ(protector->imageView()->image().size(), Size(400, 600));
    EXPECT_TRUE(protector->acceptsFirstResponder());
}

// The backdrop covers the window after every resize: grown past its picture, it takes a new
// one of the presenting view at the new size; shrunk, it keeps the one it has.
TEST(PartialViewTransitionAnimation, TheBackdropCoversTheWindowAfterItGrows)
{
    ScopedVirtualTime time;
    Stage stage(time);
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    stage.presenting->presentViewController(stage.presented, animator);
    time.advance(1);
    const auto& protector = animator->protector();
    ASSERT_NE(protector, nullptr);
    const struct
    {
        Size size;
        Size picture;
    } steps[] = {{Size(700, 900), Size(700, 900)},
                 {Size(500, 700), Size(700, 900)},
                 {Size(800, 1000), Size(800, 1000)}};
    for (const auto& [size, picture] : steps) {
        SCOPED_TRACE(size.width);
        stage.window->setContentSize(size);
        time.advance(0.1);
        ASSERT_EQ(protector->frame(), stage.host->bounds());
        const QImage shown = stage.window->renderToImage(1);
        saveOutput(shown, QStringLiteral("partial_grown_%1").arg(size.width));
        EXPECT_EQ(protector->imageView()->image().size(), picture);
        // Below the panel, away from the white mark and the blur's fading edge: the red
        // screen, blurred.
        for (const QPoint at : {QPoint(int(size.width) - 60, int(size.height) - 60),
                                QPoint(int(size.width) / 2, 500), QPoint(200, int(size.height) - 60)}) {
            const QColor backdrop = colorAt(shown, at.x(), at.y());
            EXPECT_NEAR(backdrop.red(), 230, 12) << at.x() << ", " << at.y();
            EXPECT_LE(backdrop.green(), 12) << at.x() << ", " << at.y();
        }
    }
}

TEST(PartialViewTransitionAnimation, DismissalLiftsThePanelAndBothLeaveTheHostAtTheLastFrame)
{
    ScopedVirtualTime time;
    Stage stage(time);
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    stage.presenting->presentViewController(stage.presented, animator);
    time.advance(1);
    const std::shared_ptr<ScreenProtectorView> protector = animator->protector();
    ASSERT_NE(protector, nullptr);

    stage.presenting->dismissViewController(stage.presented.get());
    EXPECT_EQ(animator->protector(), protector) << "the animator keeps its backdrop until it goes away";
    int frames = 0;
    double lastY = 0;
    while (stage.presentedView->superview() && frames < 100) {
        const double y = stage.presentedView->frame().origin.y;
        EXPECT_TRUE(hosts(*stage.host, protector.get())) << "the backdrop stays while the panel does";
        EXPECT_LE(y, lastY);
        EXPECT_NEAR(protector->layer()->opacity(), 1.0 + y / 370.0, 1e-3) << "frame " << frames;
        lastY = y;
        time.advance(kTransitionFrame);
        ++frames;
    }
    EXPECT_GE(frames, 23);
    EXPECT_LE(frames, 26);
    EXPECT_EQ(stage.presentedView->superview(), nullptr);
    EXPECT_EQ(protector->superview(), nullptr) << "both leave in the same frame";
    EXPECT_EQ(stage.presentedView->frame().origin, Point(0, -370)) << "one panel height above the top";
    EXPECT_EQ(stage.presentedView->alphaValue(), 0.0);
    EXPECT_EQ(protector->alphaValue(), 0.0);
    EXPECT_EQ(stage.host->hostedViews(), std::vector<std::shared_ptr<View>>{stage.presentingView});
    EXPECT_FALSE(stage.presentingView->isHidden());

    time.advance(1);
    const QImage after = stage.window->renderToImage(1);
    saveOutput(after, QStringLiteral("partial_dismissed"));
    EXPECT_EQ(colorAt(after, 200, 100), QColor(255, 0, 0));
    EXPECT_EQ(colorAt(after, 200, 480), QColor(255, 0, 0));
}

TEST(PartialViewTransitionAnimation, ADismissalDuringThePresentationTakesOver)
{
    ScopedVirtualTime time;
    Stage stage(time);
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    stage.presenting->presentViewController(stage.presented, animator);
    time.advance(0.2);
    const auto protector = animator->protector();
    ASSERT_LT(stage.presentedView->frame().origin.y, -100) << "half way down";
    stage.presenting->dismissViewController(stage.presented.get());
    // The dismissal lifts the panel from the top edge (its first frame puts it there); the
    // presentation no longer pulls it down or fades the backdrop in.
    int frames = 0;
    while (stage.presentedView->frame().origin.y < -100 && frames < 5) {
        time.advance(kTransitionFrame);
        ++frames;
    }
    double lastY = stage.presentedView->frame().origin.y;
    float lastOpacity = protector->layer()->opacity();
    EXPECT_GT(lastY, -10) << "the dismissal starts at the top edge";
    while (stage.presentedView->superview() && frames < 100) {
        time.advance(kTransitionFrame);
        ++frames;
        EXPECT_LE(stage.presentedView->frame().origin.y, lastY) << "only going up, frame " << frames;
        EXPECT_LE(protector->layer()->opacity(), lastOpacity) << "only fading out, frame " << frames;
        lastY = stage.presentedView->frame().origin.y;
        lastOpacity = protector->layer()->opacity();
    }
    EXPECT_LE(frames, 26);
    EXPECT_EQ(stage.presentedView->superview(), nullptr);
    EXPECT_EQ(protector->superview(), nullptr);
    time.advance(1);
    EXPECT_EQ(stage.presentedView->frame().origin, Point(0, -370));
}

TEST(PartialViewTransitionAnimation, WorksWhenCalledDirectly)
{
    ScopedVirtualTime time;
    Stage stage(time);
    PartialViewTransitionAnimation animator;
    animator.animatePresentationOfViewController(*stage.presented, *stage.presenting);
    time.advance(1);
    EXPECT_EQ(stage.presentedView->frame(), Rect(0, 0, 400, 370));
    EXPECT_EQ(animator.protector()->layer()->opacity(), 1.0f);
    animator.animateDismissalOfViewController(*stage.presented, *stage.presenting);
    time.advance(1);
    EXPECT_EQ(stage.presentedView->superview(), nullptr);
    EXPECT_EQ(animator.protector()->superview(), nullptr);
}

TEST(PartialViewTransitionAnimation, ClicksOnTheBackdropReachOnlyThePresentedController)
{
    ScopedVirtualTime time;
    Stage stage(time);
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    stage.presenting->presentViewController(stage.presented, animator);
    time.advance(1);
    const Rect panelFrame = stage.presentedView->frame();
    const auto hostedBefore = stage.host->hostedViews();

    // (200, 100) in the y-up base space: 500 points from the top, below the panel.
    for (int i = 0; i < 2; ++i) {
        stage.window->sendEvent(Event::mouseDown(Point(200, 100)));
        stage.window->sendEvent(Event::mouseUp(Point(200, 100)));
    }
    EXPECT_EQ(stage.presented->clicks, 2) << "once per mouse-down";
    EXPECT_TRUE(stage.log->isEmpty())
        << "the screen beneath heard nothing: " << stage.log->join(QLatin1Char(' ')).toStdString();

    // A click on the panel is the panel's.
    stage.window->sendEvent(Event::mouseDown(Point(200, 500)));
    stage.window->sendEvent(Event::mouseUp(Point(200, 500)));
    EXPECT_EQ(stage.presented->clicks, 2);

    time.advance(1);
    EXPECT_EQ(stage.presentedView->frame(), panelFrame) << "nothing else changed";
    EXPECT_EQ(stage.host->hostedViews(), hostedBefore);
    EXPECT_EQ(animator->protector()->layer()->opacity(), 1.0f);
    EXPECT_FALSE(stage.presentingView->isHidden());
}

TEST(PartialViewTransitionAnimation, ClicksThroughTheWindowHostReachTheDelegateDuringThePresentation)
{
    ScopedVirtualTime time;
    Stage stage(time);
    stage.window->orderFront();
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    stage.presenting->presentViewController(stage.presented, animator);
    time.advance(0.1); // still moving
    QWidget* widget = stage.window->hostWidget();
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(200, 550));
    EXPECT_EQ(stage.presented->clicks, 1);
    EXPECT_TRUE(stage.log->isEmpty()) << stage.log->join(QLatin1Char(' ')).toStdString();
    time.advance(1);
    EXPECT_EQ(stage.presentedView->frame(), Rect(0, 0, 400, 370)) << "the presentation went on";
}

TEST(PartialViewTransitionAnimation, AControllerThatIsNoDelegateHearsNoClicks)
{
    ScopedVirtualTime time;
    Stage stage(time);
    auto plain = std::make_shared<GivenViewController<ViewController>>(BaseView::create());
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    stage.presenting->presentViewController(plain, animator);
    time.advance(1);
    EXPECT_EQ(animator->protector()->delegate(), nullptr);
    stage.window->sendEvent(Event::mouseDown(Point(200, 100)));
    EXPECT_TRUE(stage.log->isEmpty()) << "still swallowed";
}

TEST(PartialViewTransitionAnimation, ThePanelFollowsTheHostsWidthAndKeepsItsHeight)
{
    ScopedVirtualTime time;
    Stage stage(time);
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    stage.presenting->presentViewController(stage.presented, animator);
    time.advance(0.2);
    stage.window->setContentSize(Size(640, 500));
    EXPECT_EQ(stage.presentedView->frame().size, Size(640, 370)) << "also while it moves";
    time.advance(1);
    EXPECT_EQ(stage.presentedView->frame(), Rect(0, 0, 640, 370));
    EXPECT_EQ(animator->protector()->frame(), Rect(0, 0, 640, 500));

    stage.window->setContentSize(Size(320, 800));
    EXPECT_EQ(stage.presentedView->frame(), Rect(0, 0, 320, 370));
    EXPECT_EQ(animator->protector()->frame(), Rect(0, 0, 320, 800));
    time.advance(1);
    saveOutput(stage.window->renderToImage(1), QStringLiteral("partial_resized"));
}

TEST(PartialViewTransitionAnimation, APresentingViewLowerDownStartsThePanelThatFarAboveIt)
{
    ScopedVirtualTime time;
    auto window = Window::create(Size(400, 600));
    auto host = BaseView::create(Rect(0, 0, 400, 600));
    window->setContentView(host);
    auto presentingView = ColoredView::create(PlatformColor::deviceRGB(0, 1, 0));
    host->addHostedView(presentingView, [](View& view, const Rect& bounds) {
        view.setFrame(Rect(0, 100, bounds.size.width, bounds.size.height - 100));
    });
    auto presenting = std::make_shared<GivenViewController<ViewController>>(presentingView);
    auto presented =
        std::make_shared<PanelController>(ColoredView::create(PlatformColor::deviceRGB(0, 0, 1)));
    time.advance(0);
    auto animator = std::make_shared<PartialViewTransitionAnimation>();
    presenting->presentViewController(presented, animator);
    EXPECT_EQ(presented->view()->frame(), Rect(0, -270, 400, 370)) << "y0 = F.y - 370";
    time.advance(1);
    EXPECT_EQ(presented->view()->frame(), Rect(0, 0, 400, 370));
    EXPECT_EQ(animator->protector()->imageView()->image().size(), Size(400, 500));
}
