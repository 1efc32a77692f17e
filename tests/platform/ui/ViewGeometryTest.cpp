// View geometry: frames in flipped and unflipped superviews, the backing layers that follow
// them, conversions and hit testing that ignore layer transforms, scrolling bounds,
// autoresizing and the visible rectangle.

#include "platform/gfx/AffineTransform.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "tests/platform/ui/ViewTestSupport.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

// Where the view's bounds lie in the base space of its tree, by view geometry.
Rect inBase(const View& view)
{
    return view.convertRectToView(view.bounds(), nullptr);
}

// The same, by the geometry of its layer.
Rect layerInBase(const View& view)
{
    const Layer& layer = *view.layer();
    return layer.convertRectToLayer(layer.bounds(), nullptr);
}

// Hit tests a root with a point given in the root's own coordinates (hitTest takes a point
// in the superview's space, the base space for a root).
View* hitAt(View& root, Point local)
{
    return root.hitTest(root.convertPointToView(local, nullptr));
}

Point layerPointInBase(const View& view, Point p)
{
    return view.layer()->convertPointToLayer(p, nullptr);
}

} // namespace

TEST(ViewFrames, AFrameInAnUnflippedSuperviewIsMeasuredFromItsBottom)
{
    auto root = plainView(Rect(0, 0, 200, 100), false);
    auto child = plainView(Rect(10, 20, 30, 40), false);
    root->addSubview(child);
    EXPECT_EQ(inBase(*child), Rect(10, 20, 30, 40));
    // The child's own origin is its bottom left.
    EXPECT_EQ(child->convertPointToView(Point(0, 0), nullptr), Point(10, 20));
    EXPECT_EQ(layerInBase(*child), Rect(10, 20, 30, 40));
}

TEST(ViewFrames, AFrameInAFlippedSuperviewIsMeasuredFromItsTop)
{
    auto root = plainView(Rect(0, 0, 200, 100), true);
    auto child = plainView(Rect(10, 20, 30, 40), true);
    root->addSubview(child);
    // 20 from the top of a 100-high root, 40 high: 40 from the bottom of the base space.
    EXPECT_EQ(inBase(*child), Rect(10, 40, 30, 40));
    // A flipped view's origin is its top left.
    EXPECT_EQ(child->convertPointToView(Point(0, 0), nullptr), Point(10, 80));
    EXPECT_EQ(child->convertPointToView(Point(0, 0), root.get()), Point(10, 20));
    EXPECT_EQ(layerInBase(*child), Rect(10, 40, 30, 40));
    EXPECT_EQ(layerPointInBase(*child, Point(0, 0)), Point(10, 80));
}

// Every combination of flipped and unflipped views, three levels deep: the view geometry and
// the layer geometry put every view and every corner in the same place.
TEST(ViewFrames, LayersFollowTheViewsThroughEveryMixOfFlippedAndUnflippedLevels)
{
    for (int mask = 0; mask < 8; ++mask) {
        const bool rootFlipped = mask & 1;
        const bool midFlipped = mask & 2;
        const bool leafFlipped = mask & 4;
        SCOPED_TRACE(testing::Message()
                     << "flipped root/mid/leaf " << rootFlipped << midFlipped << leafFlipped);
        auto root = plainView(Rect(5, 7, 300, 200), rootFlipped);
        auto mid = plainView(Rect(20, 30, 150, 100), midFlipped);
        auto leaf = plainView(Rect(11, 13, 40, 25), leafFlipped);
        root->addSubview(mid);
        mid->addSubview(leaf);

        for (const View* view : {static_cast<const View*>(root.get()), static_cast<const View*>(mid.get()),
                                 static_cast<const View*>(leaf.get())}) {
            EXPECT_EQ(inBase(*view), layerInBase(*view)) << view->description().toStdString();
            // A corner that tells the orientation apart.
            const Point corner(1, 2);
            EXPECT_EQ(view->convertPointToView(corner, nullptr), layerPointInBase(*view, corner))
                << view->description().toStdString();
            // A layer draws y down exactly when its view is flipped.
            EXPECT_EQ(view->layer()->contentsAreFlipped(), view->isFlipped())
                << view->description().toStdString();
        }
        // Round trip between two views.
        const Point p(3, 4);
        EXPECT_EQ(leaf->convertPointFromView(leaf->convertPointToView(p, root.get()), root.get()), p);
    }
}

TEST(ViewFrames, TheBoundsOriginScrollsTheSubviewsAndTheirLayers)
{
    auto root = plainView(Rect(0, 0, 100, 100), true);
    auto document = plainView(Rect(0, 0, 100, 400), true);
    auto item = plainView(Rect(0, 200, 10, 10), true);
    root->addSubview(document);
    document->addSubview(item);
    EXPECT_EQ(inBase(*item), Rect(0, -110, 10, 10));

    document->setBoundsOrigin(Point(0, 200));
    EXPECT_EQ(document->bounds(), Rect(0, 200, 100, 400));
    // The item at y 200 of the document now sits at the top of the root.
    EXPECT_EQ(item->convertPointToView(Point(0, 0), root.get()), Point(0, 0));
    EXPECT_EQ(inBase(*item), Rect(0, 90, 10, 10));
    EXPECT_EQ(layerInBase(*item), Rect(0, 90, 10, 10));
}

TEST(ViewFrames, FrameChangesMoveTheBackingLayerAndSettersGoThroughSetFrame)
{
    struct FrameWatcher : View
    {
        std::vector<Rect> frames;
        void setFrame(const Rect& frame) override
        {
            frames.push_back(frame);
            View::setFrame(frame);
        }
    };
    auto view = std::make_shared<FrameWatcher>();
    view->setFrame(Rect(1, 2, 3, 4));
    view->setFrameOrigin(Point(10, 20));
    view->setFrameSize(Size(30, 40));
    ASSERT_EQ(view->frames.size(), 3u);
    EXPECT_EQ(view->frames[2], Rect(10, 20, 30, 40));
    const Layer& layer = *view->layer();
    EXPECT_EQ(layer.anchorPoint(), Point(0, 0));
    EXPECT_EQ(layer.position(), Point(10, 20));
    EXPECT_EQ(layer.bounds(), Rect(0, 0, 30, 40));
}

TEST(ViewConversion, ConversionsIgnoreLayerTransforms)
{
    auto root = plainView(Rect(0, 0, 200, 200), true);
    auto child = plainView(Rect(50, 50, 40, 40), true);
    auto grandchild = plainView(Rect(10, 10, 10, 10), true);
    root->addSubview(child);
    child->addSubview(grandchild);
    const Point before = grandchild->convertPointToView(Point(1, 1), root.get());
    const Rect frameBefore = inBase(*grandchild);

    child->layer()->setAffineTransform(AffineTransform::makeScale(2, 2).rotated(0.5));
    grandchild->layer()->setAffineTransform(AffineTransform::makeTranslation(30, 30));

    EXPECT_EQ(grandchild->convertPointToView(Point(1, 1), root.get()), before);
    EXPECT_EQ(inBase(*grandchild), frameBefore);
    EXPECT_EQ(child->frame(), Rect(50, 50, 40, 40));
    // The layers do move: only the views' answers ignore it.
    EXPECT_NE(layerInBase(*grandchild), frameBefore);
}

TEST(ViewConversion, RectanglesConvertToTheirStandardForm)
{
    auto root = plainView(Rect(0, 0, 100, 100), false);
    auto flipped = plainView(Rect(10, 10, 50, 50), true);
    root->addSubview(flipped);
    // Top-left 10x20 box of the flipped view, in the unflipped root.
    EXPECT_EQ(flipped->convertRectToView(Rect(0, 0, 10, 20), root.get()), Rect(10, 40, 10, 20));
    EXPECT_EQ(flipped->convertRectFromView(Rect(10, 40, 10, 20), root.get()), Rect(0, 0, 10, 20));
}

TEST(ViewHitTest, FindsTheDeepestVisibleSubviewFrontToBack)
{
    auto root = plainView(Rect(0, 0, 200, 200), true);
    auto back = plainView(Rect(0, 0, 100, 100), true);
    auto front = plainView(Rect(50, 50, 100, 100), true);
    auto inner = plainView(Rect(10, 10, 20, 20), true);
    root->addSubview(back);
    root->addSubview(front);
    front->addSubview(inner);

    EXPECT_EQ(hitAt(*root, Point(20, 20)), back.get());
    // Overlap: the front view wins.
    EXPECT_EQ(hitAt(*root, Point(75, 75)), inner.get());
    EXPECT_EQ(hitAt(*root, Point(55, 55)), front.get());
    EXPECT_EQ(hitAt(*root, Point(180, 10)), root.get());
    EXPECT_EQ(hitAt(*root, Point(250, 10)), nullptr);

    front->setHidden(true);
    EXPECT_EQ(hitAt(*root, Point(75, 75)), back.get()) << "a hidden view and its subviews are skipped";
    root->setHidden(true);
    EXPECT_EQ(hitAt(*root, Point(20, 20)), nullptr);
}

TEST(ViewHitTest, PointsOutsideTheSuperviewReachNoSubviewThatStickOut)
{
    auto root = plainView(Rect(0, 0, 200, 200), true);
    auto box = plainView(Rect(0, 0, 50, 50), true);
    auto sticking = plainView(Rect(40, 40, 50, 50), true);
    root->addSubview(box);
    box->addSubview(sticking);
    EXPECT_EQ(hitAt(*root, Point(45, 45)), sticking.get());
    EXPECT_EQ(hitAt(*root, Point(70, 70)), root.get())
        << "inside the subview's frame but outside its superview";
}

TEST(ViewHitTest, UsesTheViewFramesWhateverTheLayersShow)
{
    auto root = plainView(Rect(0, 0, 200, 200), true);
    auto scaled = plainView(Rect(0, 0, 50, 50), true);
    root->addSubview(scaled);
    scaled->layer()->setAffineTransform(AffineTransform::makeScale(3, 3));
    EXPECT_EQ(hitAt(*root, Point(100, 100)), root.get())
        << "shown there through the layer, not there as a view";
    EXPECT_EQ(hitAt(*root, Point(10, 10)), scaled.get());
}

TEST(ViewHitTest, TheTopEdgeIsInsideAndTheBottomEdgeIsNot)
{
    // Flipped superview: the top edge is the frame's minimum y.
    auto flippedRoot = plainView(Rect(0, 0, 100, 100), true);
    auto a = plainView(Rect(10, 10, 10, 10), true);
    flippedRoot->addSubview(a);
    EXPECT_EQ(hitAt(*flippedRoot, Point(10, 10)), a.get());
    EXPECT_EQ(hitAt(*flippedRoot, Point(10, 20)), flippedRoot.get());
    // Unflipped superview: the top edge is the maximum y.
    auto root = plainView(Rect(0, 0, 100, 100), false);
    auto b = plainView(Rect(10, 10, 10, 10), false);
    root->addSubview(b);
    EXPECT_EQ(hitAt(*root, Point(10, 20)), b.get());
    EXPECT_EQ(hitAt(*root, Point(10, 10)), root.get());
    EXPECT_EQ(hitAt(*root, Point(20, 15)), root.get()) << "the right edge is outside";
}

TEST(ViewAutoresizing, SharesTheChangeBetweenTheFlexibleParts)
{
    auto root = plainView(Rect(0, 0, 100, 100), false);
    auto fill = plainView(Rect(10, 10, 80, 80), false);
    fill->setAutoresizingMask(View::WidthSizable | View::HeightSizable);
    auto pinnedTopRight = plainView(Rect(70, 70, 20, 20), false);
    pinnedTopRight->setAutoresizingMask(View::MinXMargin | View::MinYMargin);
    auto centred = plainView(Rect(40, 0, 20, 10), false);
    centred->setAutoresizingMask(View::MinXMargin | View::MaxXMargin);
    auto fixed = plainView(Rect(5, 5, 10, 10), false);
    root->addSubview(fill);
    root->addSubview(pinnedTopRight);
    root->addSubview(centred);
    root->addSubview(fixed);

    root->setFrameSize(Size(200, 150));
    EXPECT_EQ(fill->frame(), Rect(10, 10, 180, 130));
    EXPECT_EQ(pinnedTopRight->frame(), Rect(170, 120, 20, 20));
    EXPECT_EQ(centred->frame(), Rect(90, 0, 20, 10));
    EXPECT_EQ(fixed->frame(), Rect(5, 5, 10, 10));

    root->setAutoresizesSubviews(false);
    root->setFrameSize(Size(100, 100));
    EXPECT_EQ(fill->frame(), Rect(10, 10, 180, 130)) << "autoresizesSubviews off";
}

TEST(ViewVisibleRect, IsTheBoundsClippedByEverySuperview)
{
    auto root = plainView(Rect(0, 0, 100, 100), true);
    auto clip = plainView(Rect(10, 10, 50, 50), true);
    auto big = plainView(Rect(-20, 30, 200, 200), true);
    root->addSubview(clip);
    clip->addSubview(big);
    EXPECT_EQ(big->visibleRect(), Rect(20, 0, 50, 20));
    clip->setHidden(true);
    EXPECT_TRUE(big->visibleRect().isEmpty());
}

TEST(ViewDescription, NamesTheClassAndAddress)
{
    auto view = std::make_shared<RecordingView>(QStringLiteral("v"), Rect());
    const QString text = view->description();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^<RecordingView: 0x[0-9a-f]+>$")).match(text).hasMatch())
        << text.toStdString();
    EXPECT_EQ(View::create()->description().left(7), QStringLiteral("<View: "));
}
