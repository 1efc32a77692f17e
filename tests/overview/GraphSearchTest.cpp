#include "overview/GraphSearch.h"

#include "model/IconImage.h"
#include "overview/FlatGraph.h"
#include "tests/overview/OverviewTestSupport.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

using test::attach;
using test::textIdea;

// The map window's search over the mirror, one text against a tree of every kind of idea.
TEST(GraphSearch, FindsTextsSymbolsAndLinkedIdeasNeverTheRest)
{
    const IdeaPtr root = textIdea(QStringLiteral("Trip"));
    const IdeaPtr packing = textIdea(QStringLiteral("Packing LIST"));
    const IdeaPtr flag = textIdea(QStringLiteral("Flag"));
    flag->setIconImage(
        IconImage::initWithName(QStringLiteral("icon"), QStringLiteral("Symbols"), QStringLiteral("list")));
    const IdeaPtr link = Idea::initWithLinkToIdea(packing->identifier());
    const IdeaPtr gone = Idea::initWithLinkToIdea(QStringLiteral("nowhere"));
    const IdeaPtr site = Idea::initWithURL(QStringLiteral("https://list.example"), QVImage());
    for (const IdeaPtr& idea : {packing, flag, link, gone, site})
        attach(root, idea);
    const FlatGraph graph(root);
    ASSERT_EQ(graph.size(), 6u);

    struct Case
    {
        QString text;
        std::vector<quint8> faded; // Trip, Packing LIST, Flag, link, dangling link, URL
    };
    const Case cases[] = {
        {QStringLiteral("list"), {1, 0, 0, 0, 1, 1}}, // by text (any case), symbol and the linked idea
        {QStringLiteral("trip"), {0, 1, 1, 1, 1, 1}},
        {QStringLiteral("packing list"), {1, 0, 1, 0, 1, 1}},
        {QStringLiteral("example"), {1, 1, 1, 1, 1, 1}}, // a URL idea holds no text to find
        {QString(), {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const std::optional<std::vector<quint8>> faded = GraphSearch::fadedNodes(graph, c.text);
        ASSERT_TRUE(faded.has_value());
        EXPECT_EQ(*faded, c.faded) << c.text.toStdString();
    }
    const std::atomic<bool> stopped(false);
    EXPECT_FALSE(GraphSearch::fadedNodes(graph, QStringLiteral("list"), &stopped).has_value())
        << "a walk given up answers nothing";
}

} // namespace
} // namespace corvex
