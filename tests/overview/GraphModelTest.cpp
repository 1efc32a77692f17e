#include "overview/Graph.h"
#include "tests/overview/OverviewTestSupport.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

using test::attach;
using test::textIdea;

TEST(GraphModel, MirrorsTheTreeWithLevelsInTreeOrderAndCopiesWithoutResults)
{
    const IdeaPtr root = textIdea(QStringLiteral("root"));
    const IdeaPtr a = textIdea(QStringLiteral("A"));
    const IdeaPtr b = textIdea(QStringLiteral("B"));
    attach(root, a);
    attach(root, b);
    attach(a, textIdea(QStringLiteral("A1")));
    attach(b, textIdea(QStringLiteral("B1")));

    Graph graph(root);
    ASSERT_EQ(graph.levels(), 3);
    ASSERT_EQ(graph.nodesAtLevel(2).size(), 2u);
    EXPECT_EQ(graph.nodesAtLevel(2)[0]->identifier(), QStringLiteral("A1"));
    EXPECT_EQ(graph.nodesAtLevel(2)[1]->identifier(), QStringLiteral("B1"));
    EXPECT_TRUE(graph.nodesAtLevel(3).empty());
    EXPECT_EQ(graph.nodesAtLevel(1)[0]->parent(), &graph.root());

    graph.root().setAngle(1.5f);
    graph.setBounds(Rect(1, 2, 3, 4));
    const auto copy = graph.createCopy();
    EXPECT_EQ(copy->levels(), 3);
    EXPECT_EQ(copy->root().idea(), root);
    EXPECT_EQ(copy->root().angle(), 0.0f);
    EXPECT_EQ(copy->bounds(), Rect());
    EXPECT_EQ(Graph::debugDescription(), QStringLiteral("(omitted)"));

    // Structure changes show in the levels only once they are rebuilt.
    graph.nodesAtLevel(2)[0]->addNode(std::make_unique<GraphNode>(nullptr));
    EXPECT_EQ(graph.levels(), 3);
    graph.reconstructLevels();
    EXPECT_EQ(graph.levels(), 4);
}

TEST(GraphModel, FindsTheLastNodeOfAnIdentifierAndNeverAFiller)
{
    const IdeaPtr root = textIdea(QStringLiteral("root"));
    const IdeaPtr first = textIdea(QStringLiteral("same"));
    const IdeaPtr second = textIdea(QStringLiteral("same"));
    attach(root, first);
    attach(root, second);
    Graph graph(root);
    graph.root().addNode(std::make_unique<GraphNode>(nullptr));
    EXPECT_EQ(graph.findNodeByIdentifier(QStringLiteral("same"))->idea(), second);
    EXPECT_EQ(graph.findNodeByIdentifier(QStringLiteral("absent")), nullptr);
    EXPECT_EQ(graph.findNodeByIdentifier(QString()), nullptr);

    Graph lone(textIdea(QStringLiteral("alone")));
    EXPECT_EQ(lone.levels(), 1);
    EXPECT_EQ(lone.nodesAtLevel(0).size(), 1u);
}

TEST(GraphModel, NodeEditingKeepsParentsInStep)
{
    GraphNode node(nullptr);
    GraphNode& x = node.addNode(std::make_unique<GraphNode>(nullptr));
    GraphNode& y = node.addNodeAtIndex(0, std::make_unique<GraphNode>(nullptr));
    EXPECT_EQ(node.firstNodeOrNil(), &y);
    EXPECT_EQ(node.lastNodeOrNil(), &x);
    EXPECT_EQ(node.getNode(5), nullptr);
    auto removed = node.remove(&y);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->parent(), nullptr);
    auto last = node.removeLast();
    EXPECT_EQ(last.get(), &x);
    EXPECT_EQ(node.size(), 0);
    EXPECT_EQ(node.removeLast(), nullptr);
}

} // namespace
} // namespace corvex
