// The slow-frame trace on a clock the test moves: a frame over 16.7 ms is logged with its
// work by phase and its drawing by layer class, each phase charged only its own time; a
// frame within the budget, work that asked for no frame and anything while the trace is
// off log nothing.

#include "platform/ui/FrameTrace.h"
#include "platform/core/Log.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayerDelegate.h"
#include "platform/ui/WindowCompositor.h"

#include <QAbstractEventDispatcher>
#include <QStringList>
#include <gtest/gtest.h>

namespace corvex::test {
namespace {

class FrameTraceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FrameTrace::setClock([this] { return now; });
        FrameTrace::setOn(true);
        mPreviousSink = Log::setSink([this](LogLevel, const QString& line) {
            if (line.startsWith(QLatin1String("Frame trace:")))
                lines << line;
        });
    }
    void TearDown() override
    {
        Log::setSink(mPreviousSink);
        FrameTrace::setOn(false);
        FrameTrace::setClock(nullptr);
    }
    // Milliseconds pass.
    void spend(double ms) { now += ms / 1000.0; }

    double now = 100;
    QStringList lines;

private:
    Log::Sink mPreviousSink;
};

// Spends its drawing time on the test's clock.
class SlowDrawingDelegate : public LayerDelegate
{
public:
    explicit SlowDrawingDelegate(std::function<void()> draw) : mDraw(std::move(draw)) {}
    void drawLayer(Layer&, GraphicsContext&) override { mDraw(); }

private:
    std::function<void()> mDraw;
};

TEST_F(FrameTraceTest, aSlowFrameIsLoggedWithItsOwnTimeByPhaseAndNothingElseIs)
{
    using Phase = FrameTrace::Phase;
    // Work after which no frame waits is forgotten.
    {
        FrameTrace::Scope idle(Phase::MainQueue);
        spend(40);
    }
    // A task asks for a frame and runs the update cycle, which draws; an event comes in
    // before the paint.
    {
        FrameTrace::Scope task(Phase::MainQueue);
        spend(2);
        FrameTrace::frameRequested();
        FrameTrace::Scope layout(Phase::Layout);
        spend(3);
        {
            FrameTrace::Scope drawing(Phase::Drawing, QStringLiteral("PlanetLayer"));
            spend(6);
        }
        FrameTrace::Scope drawing(Phase::Drawing, QStringLiteral("PlanetLayer"));
        spend(4);
    }
    EXPECT_TRUE(lines.isEmpty()) << "judged only once painted";
    {
        FrameTrace::Scope event(Phase::Events);
        spend(0.5);
    }
    {
        FrameTrace::Scope paint(Phase::Composite);
        spend(1.5);
        {
            FrameTrace::Scope ring(Phase::Drawing, QStringLiteral("SolarSystemLayer"));
            spend(1);
        }
        spend(1);
        FrameTrace::framePainted();
    }
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0], QStringLiteral("Frame trace: a frame took 19.0 ms: main queue 2.0 ms, events 0.5 ms, "
                                       "layout 3.0 ms, drawing 11.0 ms (PlanetLayer 10.0 ms x2, "
                                       "SolarSystemLayer 1.0 ms x1), composite 2.5 ms; 17.0 ms from its "
                                       "request until painted"));

    // Within the budget: nothing.
    {
        FrameTrace::Scope task(Phase::MainQueue);
        FrameTrace::frameRequested();
        spend(10);
    }
    {
        FrameTrace::Scope paint(Phase::Composite);
        spend(6);
        FrameTrace::framePainted();
    }
    EXPECT_EQ(lines.size(), 1);

    // Off: nothing measured, nothing logged.
    FrameTrace::setOn(false);
    {
        FrameTrace::Scope paint(Phase::Composite);
        spend(50);
        FrameTrace::framePainted();
    }
    EXPECT_EQ(lines.size(), 1);
}

TEST_F(FrameTraceTest, aNestedEventLoopsWaitIsNobodysWorkAndItsFramesAreJudgedWhenPainted)
{
    using Phase = FrameTrace::Phase;
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    ASSERT_NE(dispatcher, nullptr);
    // A drag's loop runs inside the press that started it, and frames are painted within.
    FrameTrace::Scope press(Phase::Events);
    spend(1);
    for (double drawing : {3.0, 20.0}) {
        Q_EMIT dispatcher->aboutToBlock();
        spend(500);
        Q_EMIT dispatcher->awake();
        FrameTrace::Scope move(Phase::Events);
        FrameTrace::frameRequested();
        {
            FrameTrace::Scope draw(Phase::Drawing, QStringLiteral("PlanetLayer"));
            spend(drawing);
        }
        FrameTrace::Scope paint(Phase::Composite);
        spend(2);
        FrameTrace::framePainted();
    }
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(
        lines[0].startsWith(QLatin1String("Frame trace: a frame took 22.0 ms: main queue 0.0 ms, events "
                                          "0.0 ms, layout 0.0 ms, drawing 20.0 ms")))
        << lines[0].toStdString();
}

TEST_F(FrameTraceTest, aWindowFrameNamesTheLayersWhoseDrawingMadeItSlow)
{
    WindowCompositor compositor;
    auto root = Layer::createBackingLayer(false);
    root->setFrame(Rect(0, 0, 40, 30));
    auto slow = Layer::create();
    slow->setBounds(Rect(0, 0, 20, 20));
    auto delegate = std::make_shared<SlowDrawingDelegate>([this] { spend(20); });
    slow->setDelegate(delegate);
    root->addSublayer(slow);
    compositor.setRootLayer(root);
    slow->setNeedsDisplay();
    EXPECT_FALSE(compositor.renderFrame(Size(40, 30), 1).isNull());
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].contains(QLatin1String("drawing 20.0 ms (SlowDrawingDelegate 20.0 ms x1)")))
        << lines[0].toStdString();
}

} // namespace
} // namespace corvex::test
