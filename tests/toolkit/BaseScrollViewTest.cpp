// BaseScrollView and its scrollers: preparation (flipped, legacy vertical scroller), tiling
// of legacy and overlay scrollers, scrolling by wheel and by the scroll bar, the scrollers'
// values, and a rendered scroll view.

#include "toolkit/BaseScrollView.h"
#include "platform/gfx/GraphicsContext.h"
#include "platform/ui/Event.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Window.h"
#include "tests/toolkit/BaseViewTestSupport.h"
#include "toolkit/BaseLegacyScroller.h"
#include "toolkit/ClipView.h"
#include "toolkit/ColoredView.h"
#include "toolkit/InheritedScoller.h"
#include "toolkit/Scroller.h"

#include <QColor>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// A document of horizontal bands 50 points high, alternating colours, y down or up.
class BandedDocument : public View
{
public:
    BandedDocument(const Rect& frame, bool flipped) : View(frame), mFlipped(flipped)
    {
        setNeedsDisplay(true);
    }
    bool isFlipped() const override { return mFlipped; }
    void drawRect(const Rect&, GraphicsContext& context) override
    {
        const Rect b = bounds();
        for (int band = 0; band * 50 < b.size.height; ++band) {
            context.setFillColor(band % 2 ? PlatformColor::deviceRGB(0.2, 0.6, 0.2)
                                          : PlatformColor::deviceRGB(0.9, 0.9, 0.3));
            context.fillRect(Rect(0, band * 50, b.size.width, 50));
        }
    }

private:
    bool mFlipped;
};

std::shared_ptr<View> document(Size size, bool flipped = true)
{
    return std::make_shared<BandedDocument>(Rect(Point(), size), flipped);
}

std::shared_ptr<BaseScrollView> scrollView(Size size, Size documentSize, bool flippedDocument = true)
{
    auto view = BaseScrollView::create(Rect(Point(), size));
    view->setHasVerticalScroller(true);
    view->setDocumentView(document(documentSize, flippedDocument));
    return view;
}

} // namespace

TEST(BaseScrollView, IsPreparedFlippedWithALegacyVerticalScroller)
{
    auto view = BaseScrollView::create(Rect(0, 0, 200, 100));
    EXPECT_TRUE(view->isFlipped());
    EXPECT_TRUE(view->wantsLayer());
    ASSERT_NE(view->verticalScroller(), nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<BaseLegacyScroller>(view->verticalScroller()), nullptr);
    EXPECT_EQ(view->verticalScroller()->scrollerStyle(), Scroller::StyleLegacy);
    EXPECT_EQ(view->scrollerStyle(), Scroller::StyleLegacy);
    EXPECT_EQ(view->contentView()->superview(), view.get());
    EXPECT_EQ(view->contentView()->frame(), Rect(0, 0, 200, 100));

    EXPECT_EQ(BaseLegacyScroller::preferredScrollerStyle(), 0);
    EXPECT_EQ(InheritedScoller::preferredScrollerStyle(), 0);
    EXPECT_EQ(InheritedScoller::create()->scrollerStyle(), 0);
    EXPECT_EQ(Scroller::preferredScrollerStyle(), 1) << "plain scrollers prefer the overlay style";
    EXPECT_FALSE(ScrollView::create()->isFlipped());
}

TEST(BaseScrollView, LegacyScrollersTakeTheirRoomOverlayScrollersLieOverTheContent)
{
    auto view = scrollView(Size(200, 100), Size(185, 400));
    const auto& scroller = view->verticalScroller();
    EXPECT_TRUE(view->isVerticalScrollerShown());
    EXPECT_EQ(view->contentView()->frame(), Rect(0, 0, 185, 100));
    EXPECT_EQ(scroller->frame(), Rect(185, 0, 15, 100));
    EXPECT_EQ(view->contentSize(), Size(185, 100));

    view->setScrollerStyle(Scroller::StyleOverlay);
    EXPECT_EQ(view->contentView()->frame(), Rect(0, 0, 200, 100));
    EXPECT_EQ(scroller->frame(), Rect(189, 0, 11, 100));
    EXPECT_EQ(view->subviews().back(), scroller) << "over the clip view";

    view->setScrollerStyle(-1);
    view->setBorderType(ScrollView::LineBorder);
    EXPECT_EQ(view->contentView()->frame(), Rect(1, 1, 183, 98)) << "the border takes a point all round";

    view->setFrameSize(Size(300, 50));
    EXPECT_EQ(scroller->frame(), Rect(284, 1, 15, 48)) << "resizing tiles again";
}

TEST(BaseScrollView, AutohidingHidesAScrollerWhileTheDocumentFits)
{
    auto view = scrollView(Size(200, 100), Size(150, 80));
    EXPECT_TRUE(view->isVerticalScrollerShown()) << "shown without autohiding";
    view->setAutohidesScrollers(true);
    EXPECT_FALSE(view->isVerticalScrollerShown());
    EXPECT_EQ(view->contentView()->frame(), Rect(0, 0, 200, 100));
    view->documentView()->setFrameSize(Size(150, 300));
    view->reflectScrolledClipView();
    view->tile();
    EXPECT_TRUE(view->isVerticalScrollerShown());
    EXPECT_EQ(view->contentView()->frame(), Rect(0, 0, 185, 100));
}

TEST(BaseScrollView, TheWheelScrollsWithinTheDocumentAndPassesOnAtTheEnds)
{
    auto log = std::make_shared<QStringList>();
    auto outer = std::make_shared<EventSink>(QStringLiteral("outer"), Rect(0, 0, 300, 300), log);
    auto view = scrollView(Size(200, 100), Size(185, 400));
    outer->addSubview(view);
    const auto& clip = view->contentView();
    const auto& scroller = view->verticalScroller();
    EXPECT_EQ(clip->bounds().origin, Point(0, 0)) << "a flipped document starts at its top";
    EXPECT_DOUBLE_EQ(scroller->knobProportion(), 0.25);
    EXPECT_DOUBLE_EQ(scroller->doubleValue(), 0);

    view->scrollWheel(Event::scrollWheel(Point(), 0, 0, 0, -150, true));
    EXPECT_EQ(clip->bounds().origin, Point(0, 150)) << "a negative delta shows what lies below";
    EXPECT_DOUBLE_EQ(scroller->doubleValue(), 0.5);
    EXPECT_EQ(view->documentVisibleRect(), Rect(0, 150, 185, 100));

    view->scrollWheel(Event::scrollWheel(Point(), 0, -100, 0, 0, false));
    EXPECT_EQ(clip->bounds().origin, Point(0, 300)) << "lines of 10 points, clamped to the end";
    EXPECT_DOUBLE_EQ(scroller->doubleValue(), 1);
    EXPECT_TRUE(log->isEmpty());

    view->scrollWheel(Event::scrollWheel(Point(), 0, -1, 0, -10, true));
    EXPECT_EQ(*log, QStringList{QStringLiteral("outer.scrollWheel")})
        << "nothing to scroll: the event travels on";

    view->scrollWheel(Event::scrollWheel(Point(), 0, 1, 0, 40, true));
    EXPECT_EQ(clip->bounds().origin, Point(0, 260));
}

TEST(BaseScrollView, AnUnflippedDocumentStartsAtItsOriginAtTheBottom)
{
    auto view = scrollView(Size(200, 100), Size(185, 400), false);
    const auto& clip = view->contentView();
    EXPECT_FALSE(clip->isFlipped());
    EXPECT_EQ(clip->bounds().origin, Point(0, 0));
    EXPECT_DOUBLE_EQ(view->verticalScroller()->doubleValue(), 1) << "the knob is at the visual bottom";
    view->scrollWheel(Event::scrollWheel(Point(), 0, 0, 0, 100, true));
    EXPECT_EQ(clip->bounds().origin, Point(0, 100)) << "a positive delta shows what lies above";
    EXPECT_DOUBLE_EQ(view->verticalScroller()->doubleValue(), 2.0 / 3);
}

TEST(BaseScrollView, TheScrollBarScrollsByDragAndByPage)
{
    auto window = Window::create(Size(200, 100));
    auto view = scrollView(Size(200, 100), Size(185, 400));
    window->setContentView(view);
    const auto& scroller = view->verticalScroller();
    const auto& clip = view->contentView();
    // The knob: 3 points in from each end, 94 points of track, a quarter of it long.
    const Rect knob = scroller->knobRect();
    EXPECT_EQ(knob, Rect(3, 3, 9, 23.5));

    // Window coordinates are y up from the bottom of the 100 point window.
    const auto at = [](double x, double yDown) { return Point(x, 100 - yDown); };
    window->sendEvent(Event::mouseDown(at(192, 10)));
    window->sendEvent(Event::mouseDragged(at(192, 45.25)));
    window->sendEvent(Event::mouseUp(at(192, 45.25)));
    EXPECT_DOUBLE_EQ(scroller->doubleValue(), 0.5);
    EXPECT_EQ(clip->bounds().origin, Point(0, 150));

    // A click below the knob pages down by the visible part.
    window->sendEvent(Event::mouseDown(at(192, 90)));
    window->sendEvent(Event::mouseUp(at(192, 90)));
    EXPECT_NEAR(clip->bounds().origin.y, 250, 1e-9);
    window->sendEvent(Event::mouseDown(at(192, 5)));
    window->sendEvent(Event::mouseUp(at(192, 5)));
    EXPECT_NEAR(clip->bounds().origin.y, 150, 1e-9) << "and above it pages up";
}

TEST(BaseScrollView, ARenderedScrollViewShowsTheScrolledDocumentAndAClassicScrollBar)
{
    auto window = Window::create(Size(200, 100));
    auto background = ColoredView::create(PlatformColor::white());
    window->setContentView(background);
    auto view = scrollView(Size(200, 100), Size(185, 400));
    background->addHostedView(view);
    view->scrollClipViewToPoint(Point(0, 25));

    const QImage shown = window->renderToImage(1);
    saveOutput(shown, QStringLiteral("base_scroll_view"));
    ASSERT_EQ(shown.size(), QSize(200, 100));
    // The document's bands (50 high) start 25 points above the top.
    EXPECT_EQ(shown.pixelColor(50, 10).rgb(), PlatformColor::deviceRGB(0.9, 0.9, 0.3).toQColor().rgb());
    EXPECT_EQ(shown.pixelColor(50, 40).rgb(), PlatformColor::deviceRGB(0.2, 0.6, 0.2).toQColor().rgb());
    // The track beside it, and the knob darker on it.
    const QColor track = shown.pixelColor(195, 95);
    EXPECT_GT(track.lightness(), 230) << "a light track at the bottom right";
    const double knobTop = 3 + view->verticalScroller()->doubleValue() * (94 - 23.5);
    const QColor knobColour = shown.pixelColor(192, int(knobTop + 10));
    EXPECT_LT(knobColour.lightness(), track.lightness() - 40) << "the knob shows on the track";
}

TEST(BaseScrollView, KeepsNoPictureWhileItDrawsNothing)
{
    // Without a border or a background, the scroll view and its clip view would keep clear
    // pictures of their whole size, blended in every frame for nothing.
    auto window = Window::create(Size(200, 100));
    auto view = scrollView(Size(200, 100), Size(185, 400));
    window->setContentView(view);
    view->setDrawsBackground(false);
    (void)window->renderToImage(2);
    EXPECT_TRUE(view->layer()->contents().isNull());
    EXPECT_TRUE(view->contentView()->layer()->contents().isNull());

    view->setBorderType(ScrollView::LineBorder);
    view->setDrawsBackground(true);
    (void)window->renderToImage(2);
    EXPECT_FALSE(view->layer()->contents().isNull()) << "a border is drawn";
    EXPECT_FALSE(view->contentView()->layer()->contents().isNull()) << "a background is drawn";
}
