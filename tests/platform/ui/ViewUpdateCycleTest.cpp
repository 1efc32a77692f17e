// The once-per-turn update cycle: layout top-down, then drawing, then the commit; marks
// coalesce within a turn; drawing goes into the layer's contents in the view's own
// coordinates; resizing redraws by the redraw policy.

#include "platform/ui/Layer.h"
#include "platform/ui/Transaction.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/platform/ui/ViewTestSupport.h"
#include "tests/support/VirtualScheduler.h"

#include <QColor>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

std::shared_ptr<RecordingView> recorder(const QString& name, const Rect& frame, bool flipped,
                                        const std::shared_ptr<QStringList>& log)
{
    return RecordingView::make(name, frame, flipped, log);
}

} // namespace

TEST(ViewUpdateCycle, ManyMarksInOneTurnGiveOneLayoutAndOneDraw)
{
    ScopedVirtualTime time;
    auto log = std::make_shared<QStringList>();
    auto view = recorder(QStringLiteral("v"), Rect(0, 0, 20, 20), true, log);
    for (int i = 0; i < 5; ++i) {
        view->setNeedsLayout(true);
        view->setNeedsDisplay(true);
        view->setNeedsDisplayInRect(Rect(1, 1, 2, 2));
    }
    EXPECT_EQ(view->layoutCount, 0) << "marking only marks";
    EXPECT_EQ(view->drawCount, 0);
    EXPECT_TRUE(View::isUpdateCyclePending());

    time.runDue();
    EXPECT_EQ(view->layoutCount, 1);
    EXPECT_EQ(view->drawCount, 1);
    EXPECT_FALSE(view->needsLayout());
    EXPECT_FALSE(view->needsDisplay());
    EXPECT_FALSE(View::isUpdateCyclePending());
    // The whole bounds are redrawn whatever rectangle was marked.
    EXPECT_EQ(view->lastDirtyRect, Rect(0, 0, 20, 20));

    time.advance(1);
    EXPECT_EQ(view->layoutCount, 1) << "nothing marked, nothing done";
    EXPECT_EQ(view->drawCount, 1);

    view->setNeedsDisplay();
    time.runDue();
    EXPECT_EQ(view->drawCount, 2);
}

TEST(ViewUpdateCycle, LaysOutTopDownThenDraws)
{
    ScopedVirtualTime time;
    auto log = std::make_shared<QStringList>();
    auto root = recorder(QStringLiteral("root"), Rect(0, 0, 100, 100), true, log);
    auto mid = recorder(QStringLiteral("mid"), Rect(0, 0, 50, 50), true, log);
    auto leaf = recorder(QStringLiteral("leaf"), Rect(0, 0, 10, 10), true, log);
    root->addSubview(mid);
    mid->addSubview(leaf);
    time.runDue();
    log->clear();

    leaf->setNeedsDisplay();
    leaf->setNeedsLayout();
    root->setNeedsLayout();
    // A layout may mark more layout below it: it runs in the same pass.
    root->onLayout = [&](RecordingView&) { mid->setNeedsLayout(); };
    time.runDue();
    EXPECT_EQ(*log, (QStringList{QStringLiteral("root.layout"), QStringLiteral("mid.layout"),
                                 QStringLiteral("leaf.layout")}));
    EXPECT_EQ(leaf->drawCount, 1);
}

TEST(ViewUpdateCycle, ALayoutThatMarksItsSuperviewIsLaidOutAgainInTheSameTurn)
{
    ScopedVirtualTime time;
    auto log = std::make_shared<QStringList>();
    auto root = recorder(QStringLiteral("root"), Rect(0, 0, 100, 100), true, log);
    auto child = recorder(QStringLiteral("child"), Rect(0, 0, 50, 50), true, log);
    root->addSubview(child);
    time.runDue();
    log->clear();
    child->onLayout = [&](RecordingView& self) {
        self.onLayout = nullptr;
        root->setNeedsLayout();
    };
    child->setNeedsLayout();
    time.runDue();
    EXPECT_EQ(*log, (QStringList{QStringLiteral("child.layout"), QStringLiteral("root.layout")}));
    EXPECT_FALSE(View::isUpdateCyclePending());
}

TEST(ViewUpdateCycle, TheCycleCommitsTheTurnsTransaction)
{
    ScopedVirtualTime time;
    auto log = std::make_shared<QStringList>();
    auto root = recorder(QStringLiteral("root"), Rect(0, 0, 100, 100), true, log);
    std::shared_ptr<View> added;
    root->onLayout = [&](RecordingView& self) {
        added = View::create(Rect(0, 0, 10, 10));
        self.addSubview(added);
    };
    root->setNeedsLayout();
    const auto committedBefore = Transaction::committedGeneration();
    View::runUpdateCycle();
    EXPECT_GT(Transaction::committedGeneration(), committedBefore);
    ASSERT_TRUE(added);
    EXPECT_TRUE(added->layer()->isCommitted()) << "a layer made during layout is committed by the same cycle";
}

TEST(ViewUpdateCycle, DrawingUsesTheViewsCoordinatesAndLandsUpright)
{
    ScopedVirtualTime time;
    for (const bool flipped : {true, false}) {
        SCOPED_TRACE(flipped ? "flipped" : "unflipped");
        auto log = std::make_shared<QStringList>();
        auto view = recorder(QStringLiteral("v"), Rect(0, 0, 40, 20), flipped, log);
        // A red square at the view's origin: top left when flipped, bottom left otherwise.
        view->onDraw = [](GraphicsContext& context, RecordingView&) {
            context.setFillColor(PlatformColor::red());
            context.fillRect(Rect(0, 0, 10, 10));
        };
        view->setNeedsDisplay();
        time.runDue();
        EXPECT_EQ(view->lastDrawFlipped, flipped);
        const QImage contents = view->layer()->contents();
        ASSERT_EQ(contents.size(), QSize(40, 20));
        // Row 0 of the contents is the layer's top.
        const QColor top = contents.pixelColor(2, 2);
        const QColor bottom = contents.pixelColor(2, 17);
        EXPECT_EQ(top.red() > 200 && top.alpha() == 255, flipped) << top.name(QColor::HexArgb).toStdString();
        EXPECT_EQ(bottom.red() > 200 && bottom.alpha() == 255, !flipped)
            << bottom.name(QColor::HexArgb).toStdString();
    }
}

TEST(ViewUpdateCycle, AViewThatDrawsNothingKeepsNoContents)
{
    ScopedVirtualTime time;
    auto view = View::create(Rect(0, 0, 300, 300));
    view->setNeedsDisplay();
    time.runDue();
    EXPECT_TRUE(view->layer()->contents().isNull());
    view->setFrameSize(Size(400, 400));
    time.runDue();
    EXPECT_TRUE(view->layer()->contents().isNull());
}

TEST(ViewUpdateCycle, ResizingRedrawsByThePolicy)
{
    ScopedVirtualTime time;
    auto log = std::make_shared<QStringList>();
    auto duringResize = recorder(QStringLiteral("a"), Rect(0, 0, 10, 10), true, log);
    auto onSetNeedsDisplay = recorder(QStringLiteral("b"), Rect(0, 0, 10, 10), true, log);
    onSetNeedsDisplay->setLayerContentsRedrawPolicy(View::RedrawOnSetNeedsDisplay);
    EXPECT_EQ(duringResize->layerContentsRedrawPolicy(), View::RedrawDuringViewResize) << "the default";
    duringResize->setNeedsDisplay();
    onSetNeedsDisplay->setNeedsDisplay();
    time.runDue();

    duringResize->setFrameSize(Size(20, 20));
    onSetNeedsDisplay->setFrameSize(Size(20, 20));
    onSetNeedsDisplay->setFrameOrigin(Point(5, 5));
    time.runDue();
    EXPECT_EQ(duringResize->drawCount, 2);
    EXPECT_EQ(onSetNeedsDisplay->drawCount, 1) << "stretched until asked to redraw";
    EXPECT_EQ(onSetNeedsDisplay->layer()->contents().size(), QSize(10, 10));
}

TEST(ViewUpdateCycle, AViewMarkedBeforeItIsOwnedIsDrawnOnceItJoinsATree)
{
    ScopedVirtualTime time;
    // FilledView marks itself in its constructor, before any shared_ptr owns it.
    auto root = View::create(Rect(0, 0, 50, 50));
    auto filled = std::make_shared<FilledView>(Rect(0, 0, 10, 10), PlatformColor::red(), true);
    EXPECT_TRUE(filled->needsDisplay());
    root->addSubview(filled);
    time.runDue();
    EXPECT_FALSE(filled->needsDisplay());
    EXPECT_FALSE(filled->layer()->contents().isNull());
}

TEST(ViewUpdateCycle, SurvivesTheSchedulerItWasQueuedOnGoingAway)
{
    auto log = std::make_shared<QStringList>();
    auto view = recorder(QStringLiteral("v"), Rect(0, 0, 10, 10), true, log);
    {
        ScopedVirtualTime first;
        view->setNeedsLayout();
        // Dropped with its pending task.
    }
    ScopedVirtualTime second;
    view->setNeedsDisplay();
    second.runDue();
    EXPECT_EQ(view->layoutCount, 1);
    EXPECT_EQ(view->drawCount, 1);
}

TEST(ViewUpdateCycle, DisplayDrawsTheSubtreeNowAndDisplayIfNeededOnlyTheMarked)
{
    ScopedVirtualTime time;
    auto log = std::make_shared<QStringList>();
    auto root = recorder(QStringLiteral("root"), Rect(0, 0, 50, 50), true, log);
    auto child = recorder(QStringLiteral("child"), Rect(0, 0, 10, 10), true, log);
    root->addSubview(child);
    root->display();
    EXPECT_EQ(root->drawCount, 1);
    EXPECT_EQ(child->drawCount, 1);
    child->setNeedsDisplay();
    root->displayIfNeeded();
    EXPECT_EQ(root->drawCount, 1);
    EXPECT_EQ(child->drawCount, 2);
}

TEST(ViewUpdateCycle, BackingLayersDrawAtTheWindowsScale)
{
    ScopedVirtualTime time;
    Window window(Size(100, 100));
    window.setBackingScaleFactorOverride(2);
    auto log = std::make_shared<QStringList>();
    auto view = recorder(QStringLiteral("v"), Rect(0, 0, 30, 20), true, log);
    view->onDraw = [](GraphicsContext& context, RecordingView& self) {
        context.setFillColor(PlatformColor::red());
        context.fillRect(self.bounds());
    };
    window.setContentView(view);
    view->setNeedsDisplay();
    time.runDue();
    EXPECT_EQ(view->layer()->contentsScale(), 2);
    EXPECT_EQ(view->layer()->contents().size(), QSize(200, 200));

    window.setBackingScaleFactorOverride(1);
    EXPECT_TRUE(view->needsDisplay()) << "drawn contents are redrawn at the new scale";
    time.runDue();
    EXPECT_EQ(view->layer()->contents().size(), QSize(100, 100));
}
