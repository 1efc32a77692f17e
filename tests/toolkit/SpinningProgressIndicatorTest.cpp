// The spinning indicator: its steps and fading on virtual time, its threaded animation
// (drawing stays on the main thread, stopping joins the thread), and its timer inside a
// nested event loop.

#include "toolkit/SpinningProgressIndicator.h"

#include "platform/core/MainQueue.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Menu.h"
#include "platform/ui/QtMenuRunner.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RunUntil.h"
#include "tests/support/VirtualScheduler.h"
#include "toolkit/QVImageScreenshot.h"
#include "toolkit/SpinnerProgressView.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

using namespace corvex;
using namespace corvex::test;

namespace {

constexpr double kStep = 0.05;

// A spinner in a window, as the animation runs only there.
struct SpinnerInWindow
{
    explicit SpinnerInWindow(std::shared_ptr<SpinningProgressIndicator> indicator =
                                 SpinningProgressIndicator::create(Rect(10, 10, 48, 48)))
        : spinner(std::move(indicator))
    {
        window->setContentView(content);
        content->addSubview(spinner);
    }

    std::shared_ptr<Window> window = Window::create(Size(200, 200));
    std::shared_ptr<View> content = View::create(Rect(0, 0, 200, 200));
    std::shared_ptr<SpinningProgressIndicator> spinner;
};

// Records the thread of every drawRect.
class RecordingSpinner : public SpinningProgressIndicator
{
public:
    using SpinningProgressIndicator::SpinningProgressIndicator;

    void drawRect(const Rect& dirtyRect, GraphicsContext& context) override
    {
        ++draws;
        if (!MainQueue::isMainThread())
            ++offMainDraws;
        SpinningProgressIndicator::drawRect(dirtyRect, context);
    }

    std::atomic<int> draws{0};
    std::atomic<int> offMainDraws{0};
};

// Steps back from `from` to `to` on a ring of 12 fins.
int stepsBetween(int from, int to)
{
    return ((from - to) % SpinningProgressIndicator::NumFins + SpinningProgressIndicator::NumFins) %
           SpinningProgressIndicator::NumFins;
}

} // namespace

TEST(SpinningProgressIndicator, TheLitFinMovesToThePreviousIndexEveryStepAndLitFinsFadeBy085)
{
    ScopedVirtualTime time;
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    const PlatformColor fore = PlatformColor::deviceRGB(0, 0, 1, 0.8);
    spinner.setUsesThreadedAnimation(false);
    spinner.setColor(fore);
    spinner.startAnimation();
    ASSERT_TRUE(spinner.isAnimating());
    ASSERT_TRUE(spinner.hasAnimationTimer()) << "timer animation in a window";
    EXPECT_FALSE(spinner.hasAnimationThread());
    EXPECT_EQ(spinner.position(), 1) << "a start sets the position to 1";

    // Checks fall half a step between the timer's firings.
    time.advance(kStep / 2);
    EXPECT_EQ(spinner.position(), 1) << "no step before 0.05 s";
    time.advance(kStep);
    EXPECT_EQ(spinner.position(), 0) << "the first step lights fin 0";
    EXPECT_EQ(spinner.finColor(0), fore) << "the lit fin has the foreground colour itself";

    int expected = 0;
    for (int step = 0; step < 14; ++step) {
        time.advance(kStep);
        expected = expected == 0 ? SpinningProgressIndicator::NumFins - 1 : expected - 1;
        ASSERT_EQ(spinner.position(), expected) << "step " << step;
        EXPECT_EQ(spinner.finColor(expected), fore);
    }
    // The fin lit five steps ago: 0.85^5 of the foreground colour's alpha, in its colour.
    const int fiveAgo = (expected + 5) % SpinningProgressIndicator::NumFins;
    const PlatformColor faded = spinner.finColor(fiveAgo);
    EXPECT_NEAR(faded.alphaComponent(), 0.8 * std::pow(0.85, 5), 1e-9) << "fin " << fiveAgo;
    EXPECT_DOUBLE_EQ(faded.blueComponent(), 1.0);
    EXPECT_DOUBLE_EQ(faded.redComponent(), 0.0);
    // A fin lit eleven steps ago has decayed to the dim level.
    EXPECT_NEAR(spinner.finColor((expected + 11) % 12).alphaComponent(),
                std::max(0.8 * std::pow(0.85, 11), 0.15), 1e-9);
}

TEST(SpinningProgressIndicator, AfterStopTheFinsFadeAndTheAnimationEndsOnItsOwnThenTheViewHides)
{
    ScopedVirtualTime time;
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    spinner.setUsesThreadedAnimation(false);
    spinner.setColor(PlatformColor::black());
    spinner.setDisplayedWhenStopped(false);
    EXPECT_TRUE(spinner.isHidden()) << "not displayed while stopped";
    EXPECT_DOUBLE_EQ(spinner.minimumFinAlpha(), 0.01);
    spinner.startAnimation();
    EXPECT_FALSE(spinner.isHidden()) << "a start shows the view";
    time.advance(kStep / 2);
    for (int i = 0; i < 30; ++i)
        time.advance(kStep);

    spinner.stopAnimation();
    EXPECT_TRUE(spinner.isFadingOut());
    EXPECT_TRUE(spinner.isAnimating()) << "stopping only fades";

    // Every fin decays by 0.85 per step, no fin is lit again, down to the dim level; the step
    // that finds every fin within 0.01 of it ends the animation.
    std::vector<double> alphas;
    for (int i = 0; i < SpinningProgressIndicator::NumFins; ++i)
        alphas.push_back(spinner.finColor(i).alphaComponent());
    int steps = 0;
    while (spinner.isAnimating() && steps < 100) {
        const int before = spinner.position();
        time.advance(kStep);
        ++steps;
        EXPECT_EQ(stepsBetween(before, spinner.position()), 1) << "the position keeps moving while fading";
        bool allDim = true;
        for (int i = 0; i < SpinningProgressIndicator::NumFins; ++i) {
            alphas[std::size_t(i)] = std::max(0.85 * alphas[std::size_t(i)], 0.01);
            allDim = allDim && std::abs(alphas[std::size_t(i)] - 0.01) <= 0.01;
            if (spinner.isAnimating()) {
                ASSERT_NEAR(spinner.finColor(i).alphaComponent(), alphas[std::size_t(i)], 1e-9)
                    << "fin " << i << " after " << steps << " fading steps";
            }
        }
        EXPECT_EQ(spinner.isAnimating(), !allDim) << "after " << steps << " fading steps";
    }
    // The brightest fin (alpha 1) needs 25 steps: 0.85^24 = 0.0201, 0.85^25 = 0.0172.
    EXPECT_EQ(steps, 25);
    EXPECT_FALSE(spinner.isAnimating());
    EXPECT_FALSE(spinner.isFadingOut());
    EXPECT_FALSE(spinner.hasAnimationTimer()) << "the timer is invalidated";
    EXPECT_TRUE(spinner.isHidden()) << "not displayed when stopped";
    const int position = spinner.position();
    time.advance(1.0);
    EXPECT_EQ(spinner.position(), position) << "no step after the end";
}

TEST(SpinningProgressIndicator, DisplayedWhenStoppedStaysVisibleAndFadesToTheHigherDimLevel)
{
    ScopedVirtualTime time;
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    spinner.setUsesThreadedAnimation(false);
    spinner.setColor(PlatformColor::black());
    EXPECT_DOUBLE_EQ(spinner.minimumFinAlpha(), 0.15);
    spinner.startAnimation();
    time.advance(kStep / 2);
    time.advance(3 * kStep);
    spinner.stopAnimation();
    // 0.85^12 = 0.142 < 0.16: twelve steps bring alpha 1 within 0.01 of 0.15.
    time.advance(11 * kStep);
    EXPECT_TRUE(spinner.isAnimating());
    time.advance(kStep);
    EXPECT_FALSE(spinner.isAnimating());
    EXPECT_FALSE(spinner.isHidden());
}

TEST(SpinningProgressIndicator, StartingAgainWhileFadingLightsFinsAgain)
{
    ScopedVirtualTime time;
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    spinner.setUsesThreadedAnimation(false);
    spinner.setColor(PlatformColor::black());
    spinner.startAnimation();
    time.advance(kStep / 2);
    time.advance(3 * kStep);
    spinner.startAnimation();
    EXPECT_EQ(spinner.position(), 10) << "a second start while running changes nothing";
    spinner.stopAnimation();
    spinner.startAnimation();
    EXPECT_FALSE(spinner.isFadingOut());
    EXPECT_EQ(spinner.position(), 1) << "a start while fading out restarts";
    time.advance(1.5 * kStep);
    EXPECT_EQ(spinner.finColor(0), PlatformColor::black());
}

TEST(SpinningProgressIndicator, StartDoesNothingOnADeterminateIndicator)
{
    ScopedVirtualTime time;
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    spinner.setIndeterminate(false);
    spinner.startAnimation();
    EXPECT_FALSE(spinner.isAnimating());
    EXPECT_FALSE(spinner.hasAnimationTimer());
    EXPECT_FALSE(spinner.hasAnimationThread());
    EXPECT_EQ(SpinningProgressIndicator::runningAnimationThreadCount(), 0);
}

TEST(SpinningProgressIndicator, SettingAValueMakesItDeterminateAndDrawsAPieClockwiseFromTwelve)
{
    ScopedVirtualTime time;
    auto spinner = SpinningProgressIndicator::create(Rect(0, 0, 48, 48));
    spinner->setColor(PlatformColor::black());
    ASSERT_TRUE(spinner->isIndeterminate());
    spinner->setDoubleValue(25);
    EXPECT_FALSE(spinner->isIndeterminate());
    EXPECT_DOUBLE_EQ(spinner->maxValue(), 100);

    const QImage shown = QVImageScreenshot::initByCapturingScreenshot(spinner.get()).cgImage();
    ASSERT_EQ(shown.size(), QSize(48, 48));
    const auto alphaAt = [&](int x, int row) { return qAlpha(shown.pixel(x, row)); };
    // Image rows run from the top. The quarter from 12 to 3 o'clock is the top-right one.
    EXPECT_EQ(alphaAt(32, 14), 255) << "inside the quarter pie";
    EXPECT_EQ(alphaAt(16, 14), 0) << "top left: not filled";
    EXPECT_EQ(alphaAt(32, 34), 0) << "bottom right: not filled";
    EXPECT_EQ(alphaAt(16, 34), 0) << "bottom left: not filled";
    EXPECT_GT(alphaAt(24, 2), 100) << "the circle is drawn all round";
}

TEST(SpinningProgressIndicator, TurningIndeterminateOffWhileAnimatingFadesOut)
{
    ScopedVirtualTime time;
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    spinner.setUsesThreadedAnimation(false);
    spinner.startAnimation();
    spinner.setDoubleValue(40);
    EXPECT_TRUE(spinner.isAnimating());
    EXPECT_TRUE(spinner.isFadingOut());
    time.advance(2.0);
    EXPECT_FALSE(spinner.isAnimating());
}

TEST(SpinningProgressIndicator, RunsOnlyInAWindowAndStartsAgainOnEnteringOne)
{
    ScopedVirtualTime time;
    auto spinner = SpinningProgressIndicator::create(Rect(0, 0, 32, 32));
    spinner->setUsesThreadedAnimation(false);
    spinner->startAnimation();
    EXPECT_TRUE(spinner->isAnimating()) << "animating, but with nothing to drive it";
    EXPECT_FALSE(spinner->hasAnimationTimer());
    time.advance(0.5);
    EXPECT_EQ(spinner->position(), 1);

    SpinnerInWindow setup(spinner);
    EXPECT_TRUE(spinner->hasAnimationTimer()) << "entering a window starts the timer";
    time.advance(1.5 * kStep);
    EXPECT_EQ(spinner->position(), 0);

    spinner->removeFromSuperview();
    EXPECT_FALSE(spinner->isAnimating()) << "leaving the window stops at once";
    EXPECT_FALSE(spinner->hasAnimationTimer());
    time.advance(0.5);
    EXPECT_EQ(spinner->position(), 0);
}

TEST(SpinningProgressIndicator, ANewColourKeepsEachFinsAlpha)
{
    ScopedVirtualTime time;
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    spinner.setUsesThreadedAnimation(false);
    spinner.setColor(PlatformColor::black());
    spinner.startAnimation();
    time.advance(3.5 * kStep);
    std::vector<double> before;
    for (int i = 0; i < SpinningProgressIndicator::NumFins; ++i)
        before.push_back(spinner.finColor(i).alphaComponent());
    spinner.setColor(PlatformColor::deviceRGB(1, 0, 0, 1));
    for (int i = 0; i < SpinningProgressIndicator::NumFins; ++i) {
        const PlatformColor fin = spinner.finColor(i);
        EXPECT_DOUBLE_EQ(fin.alphaComponent(), before[std::size_t(i)]) << "fin " << i;
        EXPECT_DOUBLE_EQ(fin.redComponent(), 1.0) << "fin " << i;
    }
}

// The soft-light variant fills its dirty rectangle white and lays the fins over it in soft
// light, which leaves white as it is: the fins that show on a plain indicator over white
// vanish.
TEST(SpinningProgressIndicator, TheSoftLightVariantDrawsItsFinsInSoftLightOverWhite)
{
    auto plain = SpinningProgressIndicator::create(Rect(0, 0, 32, 32));
    plain->setColor(PlatformColor::black());
    plain->setDrawsBackground(true);
    const QImage plainPixels = QVImageScreenshot::initByCapturingScreenshot(plain.get()).cgImage();
    auto soft = SpinnerProgressView::create(Rect(0, 0, 32, 32));
    soft->setColor(PlatformColor::black());
    EXPECT_EQ(soft->controlTint(), 6);
    const QImage softPixels = QVImageScreenshot::initByCapturingScreenshot(soft.get()).cgImage();
    ASSERT_EQ(softPixels.size(), QSize(32, 32));

    int plainFinPixels = 0;
    int softNotWhite = 0;
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            plainFinPixels += qRed(plainPixels.pixel(x, y)) < 240;
            const QRgb p = softPixels.pixel(x, y);
            softNotWhite += qAlpha(p) != 255 || qRed(p) < 254 || qGreen(p) < 254 || qBlue(p) < 254;
        }
    }
    EXPECT_GT(plainFinPixels, 20) << "the plain indicator shows its dim fins";
    EXPECT_EQ(softNotWhite, 0) << "soft light over white stays white";
}

// ---- Threaded animation ----

TEST(SpinningProgressIndicator, ThreadedAnimationStepsOnItsThreadButDrawsOnlyOnTheMainThread)
{
    auto recording = std::make_shared<RecordingSpinner>(Rect(0, 0, 48, 48));
    SpinnerInWindow setup(recording);
    recording->setColor(PlatformColor::black());
    ASSERT_TRUE(recording->usesThreadedAnimation()) << "the default";
    recording->startAnimation();
    ASSERT_TRUE(recording->hasAnimationThread());
    EXPECT_EQ(SpinningProgressIndicator::runningAnimationThreadCount(), 1);

    // Steps come from the thread; redraws reach the main thread's update cycle.
    int lastPosition = recording->position();
    int moves = 0;
    ASSERT_TRUE(runUntil([&] {
        const int now = recording->position();
        if (now != lastPosition) {
            ++moves;
            lastPosition = now;
        }
        return moves >= 4 && recording->draws >= 4;
    })) << "moves "
        << moves << ", draws " << recording->draws;
    EXPECT_EQ(recording->offMainDraws, 0) << "every draw ran on the main thread";
}

TEST(SpinningProgressIndicator, DrawingOffTheMainThreadIsRefusedWithAnAssertionLine)
{
    auto spinner = SpinningProgressIndicator::create(Rect(0, 0, 32, 32));
    spinner->setColor(PlatformColor::black());
    spinner->setDrawsBackground(true);
    auto context = GraphicsContext::createBitmap(32, 32);
    ASSERT_NE(context, nullptr);
    LogCapture log;
    std::thread painter([&] { spinner->drawRect(spinner->bounds(), *context); });
    painter.join();
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Assertion failure")))
        << log.lines().join(u'\n').toStdString();
    const QImage pixels = context->makeImage();
    int painted = 0;
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x)
            painted += qAlpha(pixels.pixel(x, y)) != 0;
    EXPECT_EQ(painted, 0) << "nothing was drawn";

    // The subclass that fills its background white first refuses as well.
    auto soft = SpinnerProgressView::create(Rect(0, 0, 32, 32));
    std::thread softPainter([&] { soft->drawRect(soft->bounds(), *context); });
    softPainter.join();
    EXPECT_EQ(qAlpha(context->makeImage().pixel(16, 16)), 0);
    EXPECT_EQ(log.count(QStringLiteral("Assertion failure")), 2);
}

TEST(SpinningProgressIndicator, TheAnimationThreadIsJoinedWhenTheFadeEnds)
{
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    spinner.setColor(PlatformColor::black());
    spinner.startAnimation();
    ASSERT_TRUE(runUntil([&] { return spinner.position() != 1; }));
    spinner.stopAnimation();
    ASSERT_TRUE(runUntil([&] { return !spinner.isAnimating(); }, 20.0));
    EXPECT_FALSE(spinner.hasAnimationThread()) << "joined, not dropped";
    EXPECT_EQ(SpinningProgressIndicator::runningAnimationThreadCount(), 0)
        << "the thread's function returned";
}

TEST(SpinningProgressIndicator, StoppingAtOnceJoinsTheThreadBeforeItReturns)
{
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    spinner.startAnimation();
    ASSERT_TRUE(runUntil([&] { return spinner.position() != 1; }));

    // Leaving the window stops at once.
    setup.spinner->removeFromSuperview();
    EXPECT_FALSE(spinner.isAnimating());
    EXPECT_FALSE(spinner.hasAnimationThread());
    EXPECT_EQ(SpinningProgressIndicator::runningAnimationThreadCount(), 0);

    // Switching to the timer while animating replaces the thread by the timer.
    setup.content->addSubview(setup.spinner);
    spinner.startAnimation();
    ASSERT_TRUE(spinner.hasAnimationThread());
    spinner.setUsesThreadedAnimation(false);
    EXPECT_EQ(SpinningProgressIndicator::runningAnimationThreadCount(), 0);
    EXPECT_FALSE(spinner.hasAnimationThread());
    EXPECT_TRUE(spinner.hasAnimationTimer());
    EXPECT_TRUE(spinner.isAnimating());
    spinner.setUsesThreadedAnimation(true);
    EXPECT_TRUE(spinner.hasAnimationThread());
    EXPECT_FALSE(spinner.hasAnimationTimer());
}

TEST(SpinningProgressIndicator, DestroyingTheWindowOfARunningIndicatorJoinsItsThread)
{
    auto window = Window::create(Size(100, 100));
    auto content = View::create(Rect(0, 0, 100, 100));
    window->setContentView(content);
    std::weak_ptr<SpinningProgressIndicator> weak;
    {
        auto spinner = SpinningProgressIndicator::create(Rect(0, 0, 32, 32));
        weak = spinner;
        content->addSubview(spinner);
        spinner->startAnimation();
        ASSERT_EQ(SpinningProgressIndicator::runningAnimationThreadCount(), 1);
        ASSERT_TRUE(runUntil([&] { return spinner->position() != 1; }));
    }
    window.reset();
    EXPECT_EQ(SpinningProgressIndicator::runningAnimationThreadCount(), 0);
    content.reset();
    EXPECT_TRUE(weak.expired());
    // Redraw requests the thread posted find the indicator gone.
    processEvents();
}

// ---- The timer in nested loops ----

// The timer runs on the scheduler's real timer, which Qt also fires inside the nested loop
// of a tracked menu (as it does during a window resize): the spinner keeps stepping while
// the menu is open.
TEST(SpinningProgressIndicator, TheTimerKeepsFiringWhileAMenuIsTracked)
{
    SpinnerInWindow setup;
    auto& spinner = *setup.spinner;
    spinner.setUsesThreadedAnimation(false);
    spinner.startAnimation();
    ASSERT_TRUE(spinner.hasAnimationTimer());

    auto menu = Menu::create(QStringLiteral("m"));
    menu->addItem(QStringLiteral("One"));
    int positionAtOpen = -1;
    int stepsInMenu = 0;
    bool rescued = false;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup)
            return;
        if (positionAtOpen < 0)
            positionAtOpen = spinner.position();
        stepsInMenu = stepsBetween(positionAtOpen, spinner.position());
        if (stepsInMenu >= 3)
            QTest::keyClick(popup, Qt::Key_Escape);
    });
    poll.start();
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        rescued = true;
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
    watchdog.start(10000);
    QtMenuRunner runner;
    const auto chosen = runner.popUpMenuAtScreenPoint(menu, nullptr, QPointF(50, 50));
    poll.stop();
    watchdog.stop();
    EXPECT_EQ(chosen, nullptr);
    EXPECT_FALSE(rescued) << "the spinner stepped " << stepsInMenu << " times inside the menu loop";
    EXPECT_GE(stepsInMenu, 3);
}
