#include "overview/FlatGraph.h"

#include "model/Color.h"
#include "model/IconImage.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "tests/factory/DocumentFactory.h"

#include <gtest/gtest.h>
#include <vector>

namespace corvex::test {

// The mirror keeps what few ideas hold (icons, pictures) and the colours apart from the
// nodes: each node must still answer its own idea's, among many that hold none.
TEST(FlatGraph, EveryNodeAnswersItsOwnIdeasDrawingData)
{
    const auto read =
        IdeaDocumentDataObject::decodeSomeData(makePayloadJson(makeTree(TreeShape::PictureRich, 900)));
    ASSERT_TRUE(read.ok());
    const IdeaPtr root = read.value()->idea();
    FlatGraph graph(root);
    std::vector<IdeaPtr> order;
    for (std::vector<IdeaPtr> stack{root}; !stack.empty();) {
        IdeaPtr idea = stack.back();
        stack.pop_back();
        order.push_back(idea);
        for (auto it = idea->ideas().rbegin(); it != idea->ideas().rend(); ++it)
            stack.push_back(*it);
    }
    ASSERT_EQ(graph.size(), order.size());
    int icons = 0, pictures = 0, coloured = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "node " << i);
        const Idea& idea = *order[i];
        EXPECT_EQ(graph.idea(i), order[i]);
        EXPECT_EQ(graph.identifier(i), idea.identifier());
        EXPECT_EQ(graph.firstWithIdentifier(idea.identifier()), qint64(i));
        EXPECT_EQ(graph.text(i), idea.text());
        EXPECT_EQ(graph.icon(i), idea.iconImage());
        EXPECT_EQ(graph.picture(i).pngData(), idea.image().pngData());
        ASSERT_TRUE(graph.color(i));
        if (idea.color()) {
            EXPECT_EQ(graph.color(i)->name(), idea.color()->name());
            ++coloured;
        }
        icons += idea.iconImage() ? 1 : 0;
        pictures += idea.image().hasImage() ? 1 : 0;
    }
    // The note numbers the layout gave stay with their nodes once its data is let go.
    std::vector<qint32> numbers(graph.size(), 0);
    for (std::size_t i = 0, next = 1; i < graph.size(); ++i)
        if (graph.hasNote(i))
            numbers[i] = graph.noteNumbers()[i] = qint32(next++);
    graph.releaseLayoutData();
    for (std::size_t i = 0; i < graph.size(); ++i)
        EXPECT_EQ(graph.noteNumber(i), numbers[i]) << "node " << i;
    EXPECT_GT(icons, 10);
    EXPECT_GT(pictures, 10);
    EXPECT_GT(coloured, 100);
}

} // namespace corvex::test
