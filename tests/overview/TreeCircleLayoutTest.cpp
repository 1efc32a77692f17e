#include "overview/TreeCircleLayout.h"
#include "overview/Graph.h"
#include "tests/overview/OverviewTestSupport.h"

#include <QElapsedTimer>
#include <cmath>

namespace corvex {
namespace {

// Our layout equals the reference implementation (a padded tree, searched by identifier)
// exactly, node by node, on every fixture tree.
TEST(TreeCircleLayout, EqualsTheReferenceLayoutOfEveryFixtureTree)
{
    const QJsonObject fixture = test::overviewLayoutFixture();
    const QJsonArray trees = fixture.value(QStringLiteral("trees")).toArray();
    ASSERT_EQ(trees.size(), 12);
    for (const auto& value : trees) {
        const QJsonObject tree = value.toObject();
        SCOPED_TRACE(tree.value(QStringLiteral("name")).toString().toStdString());
        const std::vector<IdeaPtr> ideas =
            test::ideasFromFixture(tree.value(QStringLiteral("ideas")).toArray());
        Graph graph(ideas.front());
        TreeCircleLayout::layout(graph, float(fixture.value(QStringLiteral("nodeSize")).toDouble()),
                                 float(fixture.value(QStringLiteral("radiusIncrement")).toDouble()));
        const QJsonArray expected = tree.value(QStringLiteral("expected")).toArray();
        std::vector<const GraphNode*> nodes;
        graph.traverseNaturally([&](GraphNode& node, qint64) { nodes.push_back(&node); });
        ASSERT_EQ(qsizetype(nodes.size()), expected.size());
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const QJsonObject e = expected[qsizetype(i)].toObject();
            SCOPED_TRACE(i);
            EXPECT_EQ(nodes[i]->angle(), float(e.value(QStringLiteral("angle")).toDouble()));
            EXPECT_EQ(nodes[i]->radius(), float(e.value(QStringLiteral("radius")).toDouble()));
            EXPECT_EQ(nodes[i]->center().x, e.value(QStringLiteral("x")).toDouble());
            EXPECT_EQ(nodes[i]->center().y, e.value(QStringLiteral("y")).toDouble());
            EXPECT_EQ(nodes[i]->noteNumber(), e.value(QStringLiteral("noteNumber")).toInteger());
        }
        const QJsonArray b = tree.value(QStringLiteral("bounds")).toArray();
        EXPECT_EQ(graph.bounds(), Rect(b[0].toDouble(), b[1].toDouble(), b[2].toDouble(), b[3].toDouble()));
    }
}

TEST(TreeCircleLayout, GapsIgnoreZerosAndTheWrapAround)
{
    EXPECT_EQ(TreeCircleLayout::findSmallestNonZeroAngleDistance({1.0f}), M_PI * 2);
    EXPECT_EQ(TreeCircleLayout::findSmallestNonZeroAngleDistance({1.0f, 1.0f, 1.0f}), M_PI * 2);
    // Last to first (6.0 to 0.5) would be the smallest gap but is not a neighbour pair.
    EXPECT_NEAR(TreeCircleLayout::findSmallestNonZeroAngleDistance({0.5f, 2.0f, 6.0f}), 1.5, 1e-6);
}

// A tree of 2,000 ideas with a branch at the model's maximum depth: the padding the layout
// stands for would hold about two million nodes; it is laid out quickly and iteratively, and
// the deepest idea lies on the outermost circle.
TEST(TreeCircleLayout, MaximumDepthBranchStaysLinear)
{
    const IdeaPtr root = test::textIdea(QStringLiteral("root"));
    IdeaPtr tail = root;
    for (int i = 1; i < Idea::MaxDepth; ++i) {
        const IdeaPtr next = test::textIdea(QStringLiteral("deep%1").arg(i));
        test::attach(tail, next);
        tail = next;
    }
    for (int i = 0; i < 1000; ++i)
        test::attach(root, test::textIdea(QStringLiteral("leaf%1").arg(i)));
    QElapsedTimer timer;
    timer.start();
    Graph graph(root);
    TreeCircleLayout layout(graph, 140, 168);
    EXPECT_LT(timer.elapsed(), 5000);
    ASSERT_EQ(graph.levels(), Idea::MaxDepth);
    const GraphNode* deepest = graph.nodesAtLevel(Idea::MaxDepth - 1).front();
    EXPECT_EQ(deepest->radius(), float(layout.levelRadiusAtLevel(Idea::MaxDepth - 1)));
    const double r = double(deepest->radius());
    EXPECT_NEAR(std::hypot(deepest->center().x, deepest->center().y), r, 2.0);
    EXPECT_GT(std::max(graph.bounds().size.width, graph.bounds().size.height), r);
}

} // namespace
} // namespace corvex
