// Layer geometry by the platform's rules: frames of transformed layers, conversions through
// flipped superlayers, the backing-layer set-up, tree edits and hit testing.

#include "platform/ui/Layer.h"
#include "tests/platform/ui/LayerTestSupport.h"
#include "tests/support/LogCapture.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace corvex;
using namespace corvex::test;

namespace {

void expectPointNear(Point actual, Point expected, const char* what)
{
    EXPECT_NEAR(actual.x, expected.x, 1e-9) << what << ": " << actual << ", expected " << expected;
    EXPECT_NEAR(actual.y, expected.y, 1e-9) << what << ": " << actual << ", expected " << expected;
}

void expectRectNear(const Rect& actual, const Rect& expected, const char* what)
{
    EXPECT_NEAR(actual.origin.x, expected.origin.x, 1e-9)
        << what << ": " << actual << ", expected " << expected;
    EXPECT_NEAR(actual.origin.y, expected.origin.y, 1e-9)
        << what << ": " << actual << ", expected " << expected;
    EXPECT_NEAR(actual.size.width, expected.size.width, 1e-9)
        << what << ": " << actual << ", expected " << expected;
    EXPECT_NEAR(actual.size.height, expected.size.height, 1e-9)
        << what << ": " << actual << ", expected " << expected;
}

QStringList namesOf(const Layer& layer)
{
    QStringList names;
    for (const auto& sublayer : layer.sublayers())
        names.append(sublayer->name());
    return names;
}

std::shared_ptr<Layer> named(const QString& name)
{
    auto layer = Layer::create();
    layer->setName(name);
    return layer;
}

} // namespace

TEST(LayerGeometry, RotatedLayerHasTheBoundingFrameAndConvertsItsOriginIntoTheSuperlayer)
{
    auto parent = Layer::create();
    parent->setBounds(Rect(0, 0, 400, 300));
    auto layer = Layer::create();
    parent->addSublayer(layer);
    layer->setBounds(Rect(0, 0, 100, 50));
    layer->setPosition(Point(200, 100));
    layer->setTransform(Transform3D::identity().rotate(std::numbers::pi / 2, 0, 0, 1));

    EXPECT_EQ(layer->anchorPoint(), Point(0.5, 0.5));
    expectRectNear(layer->frame(), Rect(175, 50, 50, 100), "frame");
    expectPointNear(layer->convertPointToLayer(Point(0, 0), parent.get()), Point(225, 50),
                    "(0, 0) in the superlayer");
    expectPointNear(parent->convertPointToLayer(Point(225, 50), layer.get()), Point(0, 0), "and back");
    expectPointNear(layer->convertPointFromLayer(Point(225, 50), parent.get()), Point(0, 0),
                    "from the superlayer");
}

TEST(LayerGeometry, TransformStepsArePreMultipliedAndActAboutTheAnchor)
{
    auto layer = Layer::create();
    layer->setBounds(Rect(0, 0, 20, 20));
    layer->setPosition(Point(50, 50));
    // translate(10, 0) then scale(2): the scale is the newer step, so it acts first.
    layer->setTransform(Transform3D::identity().translate(10, 0, 0).scale(2, 2, 1));
    // (20, 20) is (10, 10) from the anchor: scaled to (20, 20), moved by (10, 0), placed at (50, 50).
    expectPointNear(layer->convertPointToLayer(Point(20, 20), nullptr), Point(80, 70), "corner");
    // The anchor itself only moves by the translation.
    expectPointNear(layer->convertPointToLayer(Point(10, 10), nullptr), Point(60, 50), "anchor");
    expectRectNear(layer->frame(), Rect(40, 30, 40, 40), "frame");
}

TEST(LayerGeometry, BackingLayerHasItsAnchorAtTheOriginAndFlippedGeometry)
{
    auto backing = Layer::createBackingLayer(true);
    EXPECT_EQ(backing->anchorPoint(), Point(0, 0));
    EXPECT_TRUE(backing->isGeometryFlipped());
    backing->setFrame(Rect(10, 20, 100, 50));
    EXPECT_EQ(backing->position(), Point(10, 20)) << "the frame's origin is the position";
    EXPECT_EQ(backing->bounds(), Rect(0, 0, 100, 50));
    expectRectNear(backing->frame(), Rect(10, 20, 100, 50), "frame");

    auto plain = Layer::createBackingLayer(false);
    EXPECT_EQ(plain->anchorPoint(), Point(0, 0));
    EXPECT_FALSE(plain->isGeometryFlipped());
}

TEST(LayerGeometry, PreparingABackingLayerRunsNoAction)
{
    ScopedVirtualTime time;
    auto layer = committedLayer(time);
    layer->prepareAsBackingLayer(true);
    EXPECT_FALSE(layer->hasAnimations()) << layer->dumpTree().toStdString();
    EXPECT_EQ(layer->anchorPoint(), Point(0, 0));
}

TEST(LayerGeometry, SetFrameWithTheDefaultAnchorCentresThePositionAndKeepsTheBoundsOrigin)
{
    auto layer = Layer::create();
    layer->setBounds(Rect(5, 7, 1, 1));
    layer->setFrame(Rect(10, 20, 100, 50));
    EXPECT_EQ(layer->position(), Point(60, 45));
    EXPECT_EQ(layer->bounds(), Rect(5, 7, 100, 50));
    expectRectNear(layer->frame(), Rect(10, 20, 100, 50), "frame");
}

TEST(LayerGeometry, FlippedSuperlayerMeasuresItsSublayersFromTheTop)
{
    auto parent = Layer::createBackingLayer(true);
    parent->setFrame(Rect(0, 0, 100, 80));
    auto child = Layer::create();
    child->setAnchorPoint(Point(0, 0));
    child->setFrame(Rect(5, 5, 10, 10));
    parent->addSublayer(child);

    // In the y-up base space the child's origin is 5 below the parent's top.
    expectPointNear(child->convertPointToLayer(Point(0, 0), nullptr), Point(5, 75),
                    "child origin in the base");
    expectPointNear(child->convertPointToLayer(Point(0, 0), parent.get()), Point(5, 5),
                    "in the parent's own space");
    // The parent's own space is y-down: its (0, 0) is its top-left corner.
    expectPointNear(parent->convertPointToLayer(Point(0, 0), nullptr), Point(0, 80),
                    "parent origin in the base");

    auto grandchild = Layer::create();
    child->addSublayer(grandchild);
    EXPECT_TRUE(parent->contentsAreFlipped());
    EXPECT_TRUE(child->contentsAreFlipped()) << "inherited from the flipped superlayer";
    grandchild->setGeometryFlipped(true);
    EXPECT_FALSE(grandchild->contentsAreFlipped()) << "two flips cancel";
}

TEST(LayerGeometry, RectanglesConvertBetweenSiblingsAsBoundingBoxes)
{
    auto root = Layer::createBackingLayer(false);
    root->setFrame(Rect(0, 0, 200, 200));
    auto a = Layer::create();
    a->setAnchorPoint(Point(0, 0));
    a->setFrame(Rect(10, 10, 50, 50));
    auto b = Layer::create();
    b->setAnchorPoint(Point(0, 0));
    b->setFrame(Rect(100, 40, 50, 50));
    b->setTransform(Transform3D::makeScale(2, 2, 1));
    root->addSublayer(a);
    root->addSublayer(b);

    expectRectNear(a->convertRectToLayer(Rect(0, 0, 10, 10), b.get()), Rect(-45, -15, 5, 5), "a to b");
    expectRectNear(b->convertRectFromLayer(Rect(0, 0, 10, 10), a.get()), Rect(-45, -15, 5, 5), "b from a");
    expectRectNear(a->convertRectToLayer(Rect(0, 0, 10, 10), nullptr), Rect(10, 10, 10, 10), "a to the base");
    expectRectNear(a->convertRectFromLayer(Rect(10, 10, 10, 10), nullptr), Rect(0, 0, 10, 10),
                   "a from the base");
}

TEST(LayerGeometry, SublayerInsertionKeepsTheRequestedOrder)
{
    auto root = Layer::create();
    auto a = named(QStringLiteral("a")), b = named(QStringLiteral("b")), c = named(QStringLiteral("c"));
    root->addSublayer(a);
    root->addSublayer(c);
    root->insertSublayerBelow(b, c.get());
    EXPECT_EQ(namesOf(*root), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));

    auto d = named(QStringLiteral("d"));
    root->insertSublayerAbove(d, a.get());
    root->insertSublayer(named(QStringLiteral("e")), 0);
    EXPECT_EQ(namesOf(*root), (QStringList{QStringLiteral("e"), QStringLiteral("a"), QStringLiteral("d"),
                                           QStringLiteral("b"), QStringLiteral("c")}));

    // Re-adding a sublayer moves it to the top.
    root->addSublayer(a);
    EXPECT_EQ(namesOf(*root), (QStringList{QStringLiteral("e"), QStringLiteral("d"), QStringLiteral("b"),
                                           QStringLiteral("c"), QStringLiteral("a")}));

    auto f = named(QStringLiteral("f"));
    root->replaceSublayer(b.get(), f);
    EXPECT_EQ(namesOf(*root), (QStringList{QStringLiteral("e"), QStringLiteral("d"), QStringLiteral("f"),
                                           QStringLiteral("c"), QStringLiteral("a")}));
    EXPECT_EQ(b->superlayer(), nullptr);
    EXPECT_EQ(f->superlayer(), root);
}

TEST(LayerGeometry, AddingALayerToAnotherSuperlayerTakesItOutOfTheFirst)
{
    auto first = Layer::create();
    auto second = Layer::create();
    auto layer = Layer::create();
    first->addSublayer(layer);
    second->addSublayer(layer);
    EXPECT_TRUE(first->sublayers().empty());
    ASSERT_EQ(second->sublayers().size(), 1u);
    EXPECT_EQ(layer->superlayer(), second);
    EXPECT_EQ(layer->rootLayer(), second.get());
}

TEST(LayerGeometry, CyclesAreRefusedWithAnAssertionLine)
{
    LogCapture log;
    auto root = Layer::create();
    auto child = Layer::create();
    root->addSublayer(child);
    child->addSublayer(root);
    root->addSublayer(root);
    EXPECT_EQ(root->superlayer(), nullptr);
    EXPECT_TRUE(child->sublayers().empty());
    EXPECT_EQ(root->sublayers().size(), 1u);
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure")), 2)
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(LayerGeometry, RemovedLayerOutlivesItsSuperlayerOnlyWhileSomeoneHoldsIt)
{
    auto root = Layer::create();
    std::weak_ptr<Layer> weak;
    {
        auto child = Layer::create();
        weak = child;
        root->addSublayer(child);
    }
    ASSERT_FALSE(weak.expired()) << "the superlayer owns its sublayers";
    weak.lock()->removeFromSuperlayer();
    EXPECT_TRUE(weak.expired());

    auto kept = Layer::create();
    root->addSublayer(kept);
    root.reset();
    EXPECT_EQ(kept->superlayer(), nullptr) << "a destroyed superlayer leaves its sublayers as roots";
}

TEST(LayerGeometry, HitTestFindsTheFrontmostVisibleLayer)
{
    auto root = Layer::createBackingLayer(false);
    root->setFrame(Rect(0, 0, 100, 100));
    auto back = Layer::createBackingLayer(false);
    back->setFrame(Rect(10, 10, 50, 50));
    auto front = Layer::createBackingLayer(false);
    front->setFrame(Rect(30, 30, 50, 50));
    root->addSublayer(back);
    root->addSublayer(front);

    EXPECT_EQ(root->hitTest(Point(40, 40)), front);
    EXPECT_EQ(root->hitTest(Point(15, 15)), back);
    EXPECT_EQ(root->hitTest(Point(95, 5)), root);
    EXPECT_EQ(root->hitTest(Point(150, 5)), nullptr);
    front->setHidden(true);
    EXPECT_EQ(root->hitTest(Point(40, 40)), back);

    // A sublayer sticking out of a masking superlayer is hit only inside it.
    auto outside = Layer::createBackingLayer(false);
    outside->setFrame(Rect(90, 90, 40, 40));
    root->addSublayer(outside);
    EXPECT_EQ(root->hitTest(Point(120, 120)), outside);
    root->setMasksToBounds(true);
    EXPECT_EQ(root->hitTest(Point(120, 120)), nullptr);
}

namespace {

// A subclass with a value of its own, copied by its copy initialiser.
class TaggedLayer : public Layer
{
public:
    TaggedLayer() = default;
    TaggedLayer(const TaggedLayer& other) : Layer(other), tag(other.tag) {}
    QString className() const override { return QStringLiteral("TaggedLayer"); }
    int tag = 0;
};

} // namespace

TEST(LayerGeometry, CopyInitialiserCopiesTheLayersOwnValuesButNotItsTree)
{
    ScopedVirtualTime time;
    auto parent = Layer::create();
    auto original = std::make_shared<TaggedLayer>();
    original->tag = 7;
    original->setName(QStringLiteral("planet"));
    original->setFrame(Rect(10, 20, 30, 40));
    original->setTransform(Transform3D::makeScale(2, 2, 1));
    original->setOpacity(0.5f);
    original->setGeometryFlipped(true);
    original->setContentsScale(2);
    original->setAction(QStringLiteral("opacity"), LayerAction::null());
    original->addSublayer(Layer::create());
    parent->addSublayer(original);
    time.advance(0);
    original->setPosition(Point(0, 0)); // an implicit animation

    const auto copy = std::make_shared<TaggedLayer>(*original);
    EXPECT_EQ(copy->tag, 7);
    EXPECT_EQ(copy->modelProperties(), original->modelProperties());
    EXPECT_EQ(copy->name(), QStringLiteral("planet"));
    EXPECT_TRUE(copy->isGeometryFlipped());
    EXPECT_EQ(copy->contentsScale(), 2);
    EXPECT_TRUE(copy->actionForKey(QStringLiteral("opacity")).isNull()) << "the actions table comes along";
    EXPECT_TRUE(copy->sublayers().empty());
    EXPECT_EQ(copy->superlayer(), nullptr);
    EXPECT_FALSE(copy->hasAnimations());
    EXPECT_FALSE(copy->isCommitted()) << "a new layer";
    EXPECT_TRUE(copy->describe().startsWith(QStringLiteral("TaggedLayer \"planet\"")))
        << copy->describe().toStdString();
}
