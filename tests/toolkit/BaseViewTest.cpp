// BaseView: preparation, hosted views and their layout, layout transactions, the Layouter,
// removal on every path, the mended faults (layout while the hosted views change, a stray
// endLayout), mouse events that end at the view, and implicit animation along BaseView chains.

#include "toolkit/BaseView.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Window.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VirtualScheduler.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "toolkit/ViewExtensions.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// A plain (not BaseView) view, flipped like the system's views.
class PlainFlippedView : public View
{
public:
    using View::View;
    bool isFlipped() const override { return true; }
};

std::shared_ptr<View> plainView(const Rect& frame = Rect())
{
    return std::make_shared<PlainFlippedView>(frame);
}

} // namespace

// ---- Preparation and initialisers ----

TEST(BaseViewInit, EveryInitialiserPreparesAFlippedLayerBackedView)
{
    auto layouter = std::make_shared<RecordingLayouter>(std::make_shared<QStringList>());
    const std::vector<std::shared_ptr<BaseView>> views{
        BaseView::create(), BaseView::create(Rect(1, 2, 30, 40)), BaseView::createWithLayouter(layouter),
        BaseView::createWithCustomLayer(Layer::create()), countingHost(Rect(0, 0, 5, 5))};
    for (const auto& view : views) {
        EXPECT_TRUE(view->wantsLayer()) << view->className().toStdString();
        EXPECT_EQ(view->layerContentsRedrawPolicy(), View::RedrawOnSetNeedsDisplay)
            << view->className().toStdString();
        EXPECT_TRUE(view->isFlipped());
        EXPECT_FALSE(view->disableAnimations());
        EXPECT_FALSE(view->eatMouseEvents());
        EXPECT_TRUE(view->debugTag().isEmpty());
        EXPECT_EQ(view->layoutTransactionCount(), 0);
    }
    EXPECT_EQ(views[0]->frame(), Rect());
    EXPECT_EQ(views[1]->frame(), Rect(1, 2, 30, 40));
    EXPECT_EQ(views[2]->frame(), Rect());
    EXPECT_EQ(views[2]->layouter(), layouter);
    EXPECT_EQ(views[0]->layouter(), nullptr);
}

TEST(BaseViewInit, ACustomLayerIsHostedWithItsOwnAnchorAndTheViewAsDelegate)
{
    auto layer = Layer::create();
    layer->setAnchorPoint(Point(0.5, 0.5));
    auto view = BaseView::createWithCustomLayer(layer);
    EXPECT_EQ(view->layer(), layer);
    EXPECT_TRUE(view->hostsLayer());
    EXPECT_EQ(layer->delegate(), std::static_pointer_cast<LayerDelegate>(view));
    EXPECT_EQ(layer->anchorPoint(), Point(0.5, 0.5));
    EXPECT_EQ(view->frame(), Rect());

    // The hosted layer follows the frame around its own anchor point.
    view->setFrame(Rect(10, 20, 40, 30));
    EXPECT_EQ(layer->bounds(), Rect(0, 0, 40, 30));
    EXPECT_EQ(layer->position(), Point(30, 35));
}

TEST(BaseViewInit, AViewWithoutCustomLayerGetsABackingLayerAnchoredAtItsOrigin)
{
    auto view = BaseView::create(Rect(10, 20, 40, 30));
    EXPECT_FALSE(view->hostsLayer());
    EXPECT_EQ(view->layer()->anchorPoint(), Point(0, 0));
    EXPECT_EQ(view->layer()->position(), Point(10, 20));
    EXPECT_EQ(view->center(), Point(30, 35)) << "the VisualObject centre is the frame's";
    EXPECT_EQ(static_cast<const VisualObject&>(*view).frame(), Rect(10, 20, 40, 30));
}

// ---- Hosted views and layout ----

TEST(BaseViewHosting, AViewWithoutABlockAlwaysHasTheHostsBounds)
{
    auto host = countingHost(Rect(5, 5, 100, 80));
    auto hosted = plainView(Rect(1, 1, 1, 1));
    host->addHostedView(hosted);
    EXPECT_EQ(hosted->frame(), Rect(0, 0, 100, 80));
    EXPECT_EQ(hosted->superview(), host.get());
    EXPECT_EQ(host->layoutCount, 1) << "hosting forces a layout";

    host->setFrameSize(Size(60, 200));
    EXPECT_EQ(hosted->frame(), Rect(0, 0, 60, 200)) << "a resize lays out";
    EXPECT_EQ(host->layoutCount, 2);

    // The bounds origin (scrolling) counts too: the hosted view fills what is shown.
    host->setBoundsOrigin(Point(0, 15));
    host->forceDirtyLayout();
    EXPECT_EQ(hosted->frame(), Rect(0, 15, 60, 200));

    hosted->setFrame(Rect(3, 3, 3, 3));
    host->setNeedsLayout(true);
    View::runUpdateCycle();
    EXPECT_EQ(hosted->frame(), Rect(0, 15, 60, 200)) << "the update cycle's layout pass lays out";
}

TEST(BaseViewHosting, ABlockGetsTheHostedViewAndTheCurrentBounds)
{
    auto host = countingHost(Rect(0, 0, 100, 80));
    auto hosted = plainView();
    std::vector<Rect> seen;
    host->addHostedView(hosted, [&](View& view, const Rect& bounds) {
        EXPECT_EQ(&view, hosted.get());
        seen.push_back(bounds);
        view.setFrame(Rect(bounds.size.width - 20, 0, 20, bounds.size.height));
    });
    EXPECT_EQ(hosted->frame(), Rect(80, 0, 20, 80));
    host->setFrameSize(Size(50, 10));
    EXPECT_EQ(hosted->frame(), Rect(30, 0, 20, 10));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], Rect(0, 0, 50, 10));
}

TEST(BaseViewHosting, HostedViewsAreAddedOnTopAndLaidOutInTheOrderTheyWereHosted)
{
    auto host = countingHost(Rect(0, 0, 10, 10));
    auto below = plainView(Rect(0, 0, 1, 1));
    host->addSubview(below);
    QStringList order;
    auto a = plainView();
    auto b = plainView();
    host->addHostedView(a, [&](View&, const Rect&) { order << QStringLiteral("a"); });
    host->addHostedView(b, [&](View&, const Rect&) { order << QStringLiteral("b"); });
    ASSERT_EQ(host->subviews().size(), 3u);
    EXPECT_EQ(host->subviews()[1], a);
    EXPECT_EQ(host->subviews()[2], b);
    order.clear();
    host->forceDirtyLayout();
    EXPECT_EQ(order, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

TEST(BaseViewHosting, InAnEmptyHostTheViewGetsTheEmptyBoundsAndNoLayoutRunsUntilTheFirstRealSize)
{
    for (const Size empty : {Size(0, 50), Size(50, 0), Size(0, 0)}) {
        auto host = countingHost(Rect(3, 4, empty.width, empty.height));
        int blockCalls = 0;
        auto hosted = plainView(Rect(1, 2, 3, 4));
        host->addHostedView(hosted, [&](View& view, const Rect& bounds) {
            ++blockCalls;
            view.setFrame(bounds.insetBy(1, 1));
        });
        EXPECT_EQ(hosted->frame(), Rect(0, 0, empty.width, empty.height));
        EXPECT_EQ(host->layoutCount, 0) << toString(empty).toStdString();
        EXPECT_EQ(blockCalls, 0);

        host->setFrameSize(Size(20, 30));
        EXPECT_EQ(host->layoutCount, 1);
        EXPECT_EQ(blockCalls, 1);
        EXPECT_EQ(hosted->frame(), Rect(1, 1, 18, 28));
    }
}

TEST(BaseViewHosting, TheLayouterRunsBeforeEveryBlockOfTheSamePass)
{
    auto log = std::make_shared<QStringList>();
    auto layouter = std::make_shared<RecordingLayouter>(log);
    auto host = BaseView::createWithLayouter(layouter);
    host->setFrame(Rect(0, 0, 10, 10));
    host->addHostedView(plainView(), [&](View&, const Rect&) { log->append(QStringLiteral("block1")); });
    host->addHostedView(plainView(), [&](View&, const Rect&) { log->append(QStringLiteral("block2")); });
    log->clear();
    host->setFrameSize(Size(20, 20));
    EXPECT_EQ(*log, (QStringList{QStringLiteral("layouter.applyLayout"), QStringLiteral("block1"),
                                 QStringLiteral("block2")}));
}

TEST(BaseViewHosting, AGoneLayouterIsSkipped)
{
    auto log = std::make_shared<QStringList>();
    auto layouter = std::make_shared<RecordingLayouter>(log);
    auto host = BaseView::createWithLayouter(layouter);
    host->setFrame(Rect(0, 0, 10, 10));
    EXPECT_EQ(layouter->count, 1) << "a size change lays out";
    layouter.reset();
    auto hosted = plainView();
    host->addHostedView(hosted);
    EXPECT_EQ(hosted->frame(), Rect(0, 0, 10, 10));
    EXPECT_EQ(host->layouter(), nullptr);
    EXPECT_EQ(log->size(), 1);
}

TEST(BaseViewHosting, ResizingDoesNotAutoresizeSubviews)
{
    auto host = countingHost(Rect(0, 0, 100, 100));
    auto loose = plainView(Rect(10, 10, 20, 20));
    loose->setAutoresizingMask(View::WidthSizable | View::HeightSizable);
    host->addSubview(loose);
    host->setFrameSize(Size(200, 300));
    EXPECT_EQ(loose->frame(), Rect(10, 10, 20, 20)) << "a BaseView lays out instead of autoresizing";
    EXPECT_EQ(host->layoutCount, 1);
}

TEST(BaseViewHosting, HostingAViewAgainAddsASecondRecord)
{
    auto host = countingHost(Rect(0, 0, 40, 40));
    auto hosted = plainView();
    QStringList calls;
    host->addHostedView(hosted, [&](View& v, const Rect&) {
        calls << QStringLiteral("first");
        v.setFrame(Rect(0, 0, 1, 1));
    });
    host->addHostedView(hosted, [&](View& v, const Rect&) {
        calls << QStringLiteral("second");
        v.setFrame(Rect(0, 0, 2, 2));
    });
    EXPECT_EQ(host->hostedViews().size(), 2u);
    EXPECT_EQ(host->subviews().size(), 1u);
    calls.clear();
    host->forceDirtyLayout();
    EXPECT_EQ(calls, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    EXPECT_EQ(hosted->frame(), Rect(0, 0, 2, 2)) << "the last record wins";

    host->removeHostedView(hosted);
    EXPECT_TRUE(host->hostedViews().empty()) << "both records go";
    EXPECT_EQ(hosted->superview(), nullptr);
}

// ---- Removal ----

TEST(BaseViewRemoval, EveryWayOutOfTheHostDropsTheRecord)
{
    enum class Way
    {
        RemoveHostedView,
        RemoveFromSuperview,
        MoveToAnotherSuperview,
        BringToFront,
        ReplaceSubview
    };
    for (const Way way : {Way::RemoveHostedView, Way::RemoveFromSuperview, Way::MoveToAnotherSuperview,
                          Way::BringToFront, Way::ReplaceSubview}) {
        auto host = countingHost(Rect(0, 0, 50, 50));
        auto other = plainView(Rect(0, 0, 5, 5));
        auto keep = plainView();
        auto leaving = plainView();
        int leavingBlockCalls = 0;
        host->addHostedView(keep);
        host->addHostedView(leaving, [&](View& v, const Rect& b) {
            ++leavingBlockCalls;
            v.setFrame(b);
        });
        switch (way) {
        case Way::RemoveHostedView:
            host->removeHostedView(leaving);
            break;
        case Way::RemoveFromSuperview:
            leaving->removeFromSuperview();
            break;
        case Way::MoveToAnotherSuperview:
            other->addSubview(leaving);
            break;
        case Way::BringToFront:
            ViewExtensions::bringSubviewToFront(*host, leaving);
            break;
        case Way::ReplaceSubview:
            host->replaceSubview(leaving.get(), plainView());
            break;
        }
        const int way_ = int(way);
        ASSERT_EQ(host->hostedViews().size(), 1u) << "way " << way_;
        EXPECT_EQ(host->hostedViews()[0], keep) << "way " << way_;

        leaving->setFrame(Rect(7, 7, 7, 7));
        leavingBlockCalls = 0;
        host->setFrameSize(Size(80, 80));
        EXPECT_EQ(leavingBlockCalls, 0) << "way " << way_;
        EXPECT_EQ(leaving->frame(), Rect(7, 7, 7, 7)) << "a later layout does not touch it; way " << way_;
        EXPECT_EQ(keep->frame(), Rect(0, 0, 80, 80)) << "way " << way_;
    }
}

TEST(BaseViewRemoval, RemoveAllHostedViewsTakesEveryHostedViewOutAndLeavesOtherSubviews)
{
    auto host = countingHost(Rect(0, 0, 50, 50));
    auto loose = plainView();
    host->addSubview(loose);
    auto a = plainView();
    auto b = plainView();
    host->addHostedView(a);
    host->addHostedView(b);
    host->removeAllHostedViews();
    EXPECT_TRUE(host->hostedViews().empty());
    EXPECT_EQ(a->superview(), nullptr);
    EXPECT_EQ(b->superview(), nullptr);
    EXPECT_EQ(loose->superview(), host.get());
}

TEST(BaseViewRemoval, RemovingAViewThatIsNotHostedLeavesItAlone)
{
    auto host = countingHost(Rect(0, 0, 50, 50));
    auto loose = plainView();
    host->addSubview(loose);
    host->removeHostedView(loose);
    host->removeHostedView(nullptr);
    EXPECT_EQ(loose->superview(), host.get());
}

// ---- Layout transactions ----

TEST(BaseViewTransactions, NestedTransactionsLayOutOnceAtTheLastEnd)
{
    auto host = countingHost(Rect(0, 0, 50, 50));
    host->beginLayout();
    host->beginLayout();
    host->setFrameSize(Size(70, 70));
    auto hosted = plainView();
    host->addHostedView(hosted);
    host->forceDirtyLayout();
    host->setNeedsLayout(true);
    View::runUpdateCycle();
    EXPECT_EQ(host->layoutCount, 0) << "nothing lays out while a transaction is open";
    EXPECT_EQ(hosted->frame(), Rect(0, 0, 70, 70)) << "hosting still gives the view the bounds";

    host->endLayout();
    EXPECT_EQ(host->layoutCount, 0) << "an inner end does not lay out";
    EXPECT_EQ(host->layoutTransactionCount(), 1);
    host->setFrameSize(Size(90, 40));
    host->endLayout();
    EXPECT_EQ(host->layoutCount, 1);
    EXPECT_EQ(hosted->frame(), Rect(0, 0, 90, 40));

    // The outermost end always lays out, even when nothing asked for it.
    host->beginLayout();
    host->endLayout();
    EXPECT_EQ(host->layoutCount, 2);
}

TEST(BaseViewTransactions, AStrayEndLayoutLogsAndLayoutGoesOn)
{
    LogCapture log;
    auto host = countingHost(Rect(0, 0, 50, 50));
    host->endLayout();
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure, line: 141 -[BaseView endLayout]")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(host->layoutTransactionCount(), 0) << "the count stays at 0";
    EXPECT_EQ(host->layoutCount, 0) << "a stray end does not lay out";

    auto hosted = plainView();
    host->addHostedView(hosted);
    EXPECT_EQ(host->layoutCount, 1) << "layout is not suspended";
    host->setFrameSize(Size(10, 20));
    EXPECT_EQ(hosted->frame(), Rect(0, 0, 10, 20));

    host->beginLayout();
    host->endLayout();
    EXPECT_EQ(host->layoutCount, 3) << "a transaction still lays out at its end";
    EXPECT_EQ(log.count(QStringLiteral("Assertion failure")), 1);
}

// ---- Changing the hosted views during layout ----

TEST(BaseViewLayoutChanges, ABlockThatRemovesAnotherHostedViewSkipsIt)
{
    auto host = countingHost(Rect(0, 0, 50, 50));
    auto a = plainView();
    auto b = plainView();
    int bCalls = 0;
    bool removeB = false;
    host->addHostedView(a, [&](View& v, const Rect& bounds) {
        v.setFrame(bounds);
        if (removeB)
            host->removeHostedView(b);
    });
    host->addHostedView(b, [&](View& v, const Rect& bounds) {
        ++bCalls;
        v.setFrame(bounds);
    });
    bCalls = 0;
    removeB = true;
    b->setFrame(Rect(1, 1, 1, 1));
    host->setFrameSize(Size(60, 60));
    EXPECT_EQ(bCalls, 0) << "the removed view is skipped";
    EXPECT_EQ(b->frame(), Rect(1, 1, 1, 1));
    EXPECT_EQ(b->superview(), nullptr);
    EXPECT_EQ(host->hostedViews(), std::vector<std::shared_ptr<View>>{a});
}

TEST(BaseViewLayoutChanges, ALayouterThatSwapsTheContentSkipsTheOldViewsAndPlacesTheNewOne)
{
    ScopedVirtualTime time;
    auto log = std::make_shared<QStringList>();
    auto layouter = std::make_shared<RecordingLayouter>(log);
    auto host = BaseView::createWithLayouter(layouter);
    host->setFrame(Rect(0, 0, 40, 30));
    auto old1 = plainView();
    auto old2 = plainView();
    int oldCalls = 0;
    host->addHostedView(old1, [&](View&, const Rect&) { ++oldCalls; });
    host->addHostedView(old2, [&](View&, const Rect&) { ++oldCalls; });
    time.runDue();

    auto fresh = plainView();
    int freshCalls = 0;
    bool swapped = false;
    layouter->action = [&] {
        if (swapped)
            return;
        swapped = true;
        host->removeAllHostedViews();
        host->addHostedView(fresh, [&](View& v, const Rect& bounds) {
            ++freshCalls;
            v.setFrame(bounds.insetBy(5, 5));
        });
    };
    oldCalls = 0;
    host->setFrameSize(Size(50, 50));
    EXPECT_EQ(oldCalls, 0) << "the removed records are not laid out";
    EXPECT_EQ(old1->superview(), nullptr);
    EXPECT_EQ(host->hostedViews(), std::vector<std::shared_ptr<View>>{fresh});
    // The walk over the records starts after the Layouter, so its new view is placed at once.
    EXPECT_EQ(freshCalls, 1);
    EXPECT_EQ(fresh->frame(), Rect(5, 5, 40, 40));

    // The layout its hosting asked for comes with the next layout pass.
    time.runDue();
    EXPECT_EQ(freshCalls, 2);
    EXPECT_EQ(fresh->frame(), Rect(5, 5, 40, 40));
    time.runDue();
    EXPECT_EQ(freshCalls, 2) << "and then layout settles";
}

TEST(BaseViewLayoutChanges, ABlockThatHostsAViewDoesNotLayOutInsideItself)
{
    ScopedVirtualTime time;
    auto host = countingHost(Rect(0, 0, 20, 20));
    auto extra = plainView();
    bool added = false;
    host->addHostedView(plainView(), [&](View&, const Rect&) {
        if (!added) {
            added = true;
            host->addHostedView(extra);
        }
    });
    EXPECT_EQ(host->layoutCount, 1) << "no nested layout";
    EXPECT_EQ(host->hostedViews().size(), 2u);
    time.runDue();
    EXPECT_EQ(host->layoutCount, 2) << "the next pass lays out the new view";
    EXPECT_EQ(extra->frame(), Rect(0, 0, 20, 20));
}

// ---- Events ----

TEST(BaseViewEvents, EatenClicksEndAtTheViewOtherEventsTravelOn)
{
    auto log = std::make_shared<QStringList>();
    auto window = Window::create(Size(200, 200));
    auto sink = std::make_shared<EventSink>(QStringLiteral("super"), Rect(0, 0, 200, 200), log);
    window->setContentView(sink);
    auto view = BaseView::create(Rect(10, 10, 50, 50));
    sink->addSubview(view);

    const Point inside(30, 170); // window base coordinates: y up from the bottom
    const auto sendAll = [&] {
        window->sendEvent(Event::mouseDown(inside));
        window->sendEvent(Event::mouseDragged(inside));
        window->sendEvent(Event::mouseUp(inside));
        window->sendEvent(Event::rightMouseDown(inside));
        window->sendEvent(Event::rightMouseUp(inside));
        window->sendEvent(Event::otherMouseDown(inside));
        window->sendEvent(Event::scrollWheel(inside, 0, 1, 0, 10, true));
        window->sendEvent(Event::tabletPoint(inside, 0.5));
        view->keyDown(Event::keyDown(QStringLiteral("a"), Event::KeyCodeA));
        view->keyUp(Event::keyUp(QStringLiteral("a"), Event::KeyCodeA));
    };

    sendAll();
    EXPECT_EQ(*log, (QStringList{QStringLiteral("super.mouseDown"), QStringLiteral("super.mouseDragged"),
                                 QStringLiteral("super.mouseUp"), QStringLiteral("super.rightMouseDown"),
                                 QStringLiteral("super.rightMouseUp"), QStringLiteral("super.otherMouseDown"),
                                 QStringLiteral("super.scrollWheel"), QStringLiteral("super.tabletPoint"),
                                 QStringLiteral("super.keyDown"), QStringLiteral("super.keyUp")}));

    log->clear();
    view->setEatMouseEvents(true);
    sendAll();
    EXPECT_EQ(*log, (QStringList{QStringLiteral("super.mouseDragged"), QStringLiteral("super.rightMouseDown"),
                                 QStringLiteral("super.rightMouseUp"), QStringLiteral("super.otherMouseDown"),
                                 QStringLiteral("super.scrollWheel"), QStringLiteral("super.tabletPoint"),
                                 QStringLiteral("super.keyDown"), QStringLiteral("super.keyUp")}))
        << "only mouse-down and mouse-up end at the view";
}

// ---- Implicit animation ----

namespace {

bool animatesFrame(const View& view)
{
    const auto& layer = view.layer();
    return layer->animationForKey(QStringLiteral("position")) != nullptr ||
           layer->animationForKey(QStringLiteral("bounds")) != nullptr;
}

} // namespace

TEST(BaseViewAnimation, AFrameChangeAnimatesForAQuarterSecondOnceCommitted)
{
    ScopedVirtualTime time;
    auto view = BaseView::create(Rect(0, 0, 40, 40));
    view->setFrame(Rect(10, 0, 40, 40));
    EXPECT_FALSE(animatesFrame(*view)) << "no animation before the first commit";
    EXPECT_EQ(view->layer()->presentationValue(QStringLiteral("position")).toPoint(), Point(10, 0));

    time.advance(0); // the turn's transaction commits the layer
    view->setFrame(Rect(110, 0, 40, 40));
    const auto animation = view->layer()->animationForKey(QStringLiteral("position"));
    ASSERT_NE(animation, nullptr);
    EXPECT_DOUBLE_EQ(animation->duration(), 0.25);
    EXPECT_EQ(view->layer()->position(), Point(110, 0)) << "the model value changes at once";

    time.advance(0.125);
    const double halfway = view->layer()->presentationValue(QStringLiteral("position")).toPoint().x;
    EXPECT_GT(halfway, 10);
    EXPECT_LT(halfway, 110);
    time.advance(0.2);
    EXPECT_FALSE(view->layer()->hasAnimations());
    EXPECT_EQ(view->layer()->presentationValue(QStringLiteral("position")).toPoint(), Point(110, 0));
}

TEST(BaseViewAnimation, DisablingOnAContainerStopsItThroughAChainOfBaseViews)
{
    ScopedVirtualTime time;
    auto container = BaseView::create(Rect(0, 0, 300, 300));
    auto level1 = BaseView::create(Rect(0, 0, 200, 200));
    auto level2 = BaseView::create(Rect(0, 0, 100, 100));
    auto level3 = BaseView::create(Rect(0, 0, 50, 50));
    container->addSubview(level1);
    level1->addSubview(level2);
    level2->addSubview(level3);
    container->setDisableAnimations(true);
    time.advance(0);

    EXPECT_FALSE(level3->shouldAllowImplicitAnimations());
    EXPECT_TRUE(level3->actionForLayer(*level3->layer(), QStringLiteral("position")).isNull());
    level3->setFrame(Rect(5, 5, 50, 50));
    EXPECT_FALSE(animatesFrame(*level3)) << "three levels below the container";

    container->setDisableAnimations(false);
    EXPECT_TRUE(level3->shouldAllowImplicitAnimations());
    EXPECT_TRUE(level3->actionForLayer(*level3->layer(), QStringLiteral("position")).isNoAnswer());
    level3->setFrame(Rect(15, 5, 50, 50));
    EXPECT_TRUE(animatesFrame(*level3));
}

TEST(BaseViewAnimation, APlainViewInBetweenEndsTheChain)
{
    ScopedVirtualTime time;
    auto container = BaseView::create(Rect(0, 0, 300, 300));
    auto plain = plainView(Rect(0, 0, 200, 200));
    auto inner = BaseView::create(Rect(0, 0, 100, 100));
    auto leaf = BaseView::create(Rect(0, 0, 50, 50));
    container->addSubview(plain);
    plain->addSubview(inner);
    inner->addSubview(leaf);
    container->setDisableAnimations(true);
    time.advance(0);

    EXPECT_TRUE(leaf->shouldAllowImplicitAnimations());
    leaf->setFrame(Rect(5, 5, 50, 50));
    EXPECT_TRUE(animatesFrame(*leaf)) << "the plain view ends the chain";

    plain->setFrame(Rect(1, 1, 200, 200));
    EXPECT_FALSE(animatesFrame(*plain)) << "plain views do not animate implicitly";

    inner->setDisableAnimations(true);
    time.advance(1);
    ASSERT_FALSE(leaf->layer()->hasAnimations());
    leaf->setFrame(Rect(25, 5, 50, 50));
    EXPECT_FALSE(animatesFrame(*leaf)) << "disabled on its BaseView superview";
}
