// The tree's change tracking and its text dump: dirty flags consumed once a frame, frame
// requests once per frame, changes carried along when a layer moves between trees.

#include "platform/ui/Layer.h"
#include "tests/platform/ui/LayerTestSupport.h"

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test;

namespace {

int consume(Layer& root, QStringList* seen = nullptr)
{
    return root.consumeDirtyLayers([&](Layer& layer, Layer::DirtyFlags flags) {
        if (seen)
            seen->append(layer.name() + QLatin1Char(':') + Layer::dirtyToString(flags));
    });
}

} // namespace

TEST(LayerTreeState, DirtyFlagsAreConsumedOncePerFrame)
{
    auto root = Layer::create();
    root->setName(QStringLiteral("root"));
    auto child = Layer::create();
    child->setName(QStringLiteral("child"));
    root->addSublayer(child);
    consume(*root);
    EXPECT_EQ(child->dirtyToString(), QStringLiteral("None"));

    child->setPosition(Point(1, 1));
    child->setPosition(Point(2, 2));
    child->setOpacity(0.5f);
    child->setHidden(true);
    EXPECT_EQ(child->dirtyToString(), QStringLiteral("Position|Opacity|Hidden"));
    QStringList seen;
    EXPECT_EQ(consume(*root, &seen), 1);
    EXPECT_EQ(seen, QStringList{QStringLiteral("child:Position|Opacity|Hidden")}) << "linked once";
    EXPECT_EQ(child->dirtyFlags(), 0u);
    EXPECT_EQ(consume(*root), 0) << "nothing changed since";

    child->setNeedsDisplay();
    auto added = Layer::create();
    added->setName(QStringLiteral("added"));
    added->setBounds(Rect(0, 0, 5, 5));
    child->addSublayer(added);
    seen.clear();
    EXPECT_EQ(consume(*root, &seen), 2);
    EXPECT_EQ(seen, (QStringList{QStringLiteral("child:Contents|Sublayers"), QStringLiteral("added:Bounds")}))
        << seen.join(QLatin1Char(' ')).toStdString();
}

TEST(LayerTreeState, TreeAsksForOneFrameUntilTheFrameIsConsumed)
{
    auto root = Layer::create();
    auto child = Layer::create();
    root->addSublayer(child);
    int requests = 0;
    root->setFrameRequestHandler([&] { ++requests; });
    consume(*root);

    child->setPosition(Point(5, 5));
    root->setOpacity(0.5f);
    child->setCornerRadius(3);
    EXPECT_EQ(requests, 1);
    consume(*root);
    child->setHidden(true);
    EXPECT_EQ(requests, 2);
    root->setFrameRequestHandler(nullptr);
    child->setHidden(false);
    EXPECT_EQ(requests, 2);
}

TEST(LayerTreeState, LayerMovedToAnotherTreeTakesItsChangesAlong)
{
    auto first = Layer::create();
    auto second = Layer::create();
    auto layer = Layer::create();
    layer->setName(QStringLiteral("moved"));
    first->addSublayer(layer);
    consume(*first);
    consume(*second);
    int requests = 0;
    second->setFrameRequestHandler([&] { ++requests; });

    layer->setOpacity(0.25f);
    second->addSublayer(layer);
    QStringList seen;
    EXPECT_EQ(consume(*first, &seen), 1)
        << "only the first root's own change: " << seen.join(QLatin1Char(' ')).toStdString();
    seen.clear();
    EXPECT_EQ(consume(*second, &seen), 2);
    EXPECT_TRUE(seen.contains(QStringLiteral("moved:Opacity"))) << seen.join(QLatin1Char(' ')).toStdString();
    EXPECT_GE(requests, 1);

    // A layer taken out of its tree becomes a root with its own pending changes.
    layer->setCornerRadius(2);
    layer->removeFromSuperlayer();
    seen.clear();
    EXPECT_EQ(consume(*layer, &seen), 1);
    EXPECT_EQ(seen, QStringList{QStringLiteral("moved:CornerRadius")});
}

TEST(LayerTreeState, DirtyToStringNamesEveryFlag)
{
    EXPECT_EQ(Layer::dirtyToString(0), QStringLiteral("None"));
    EXPECT_EQ(Layer::dirtyToString(0x3fff),
              QStringLiteral(
                  "Bounds|Position|AnchorPoint|Transform|Opacity|Hidden|GeometryFlipped|Background|Border|"
                  "CornerRadius|MasksToBounds|Contents|Sublayers|Animations"));
}

TEST(LayerTreeState, DumpTreeIsShortAndStable)
{
    ScopedVirtualTime time;
    auto root = Layer::createBackingLayer(true);
    root->setName(QStringLiteral("window"));
    root->setFrame(Rect(0, 0, 400, 300));
    auto planet = Layer::create();
    planet->setName(QStringLiteral("planet"));
    planet->setBounds(Rect(0, 0, 140, 140));
    planet->setPosition(Point(200, 150));
    planet->setContentsScale(2);
    planet->setNeedsDisplay();
    planet->setTransform(Transform3D::makeScale(0.5, 0.5, 1));
    planet->setOpacity(0.75f);
    auto badge = Layer::create();
    badge->setBounds(Rect(0, 0, 20, 10));
    badge->setBackgroundColor(PlatformColor::red());
    badge->setBorderWidth(1);
    badge->setCornerRadius(4);
    badge->setMasksToBounds(true);
    badge->setHidden(true);
    planet->addSublayer(badge);
    auto line = Layer::create();
    line->setName(QStringLiteral("line"));
    root->addSublayer(planet);
    root->insertSublayerBelow(line, planet.get());

    const QString expected = QStringLiteral(
        "Layer \"window\" bounds={{0, 0}, {400, 300}} position={0, 0} anchor={0, 0} flipped\n"
        "  Layer \"line\" bounds={{0, 0}, {0, 0}} position={0, 0}\n"
        "  Layer \"planet\" bounds={{0, 0}, {140, 140}} position={200, 150} transform=[0.5 0 0 0.5 0 0] "
        "opacity=0.75 contentsScale=2 needsDisplay\n"
        "    Layer bounds={{0, 0}, {20, 10}} position={0, 0} background=rgba(1, 0, 0, 1) border=1 rgba(0, 0, "
        "0, 1) "
        "cornerRadius=4 hidden masksToBounds\n");
    EXPECT_EQ(root->dumpTree(), expected) << root->dumpTree().toStdString();

    // Animations show by key; the dump shows model values.
    time.advance(0);
    planet->setPosition(Point(10, 10));
    EXPECT_TRUE(planet->describe().endsWith(QStringLiteral("animations=[position]")))
        << planet->describe().toStdString();
    EXPECT_TRUE(planet->describe().contains(QStringLiteral("position={10, 10}")));
}
