#include "model/IdeaTreeCopy.h"
#include "tests/model/ModelTestSupport.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::child;
using corvex::test::idea;

namespace {

QSet<const Idea*> nodesOf(const IdeaPtr& top)
{
    QSet<const Idea*> nodes;
    top->traverseNaturally([&](const IdeaPtr& node, qint64) { nodes.insert(node.get()); }, 0);
    return nodes;
}

} // namespace

TEST(IdeaTreeCopy, KeepsIdentifiersAndContentAndSharesNoIdeaWithTheSource)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr a = idea("A", "a");
    a->setNote(QStringLiteral("note"));
    a->setColor(ColorTheme::colorByName(QStringLiteral("blue4")));
    a->setIconImage(
        IconImage::initWithName(QStringLiteral("rocket"), QStringLiteral("c"), QStringLiteral("s")));
    QImage pixels(20, 20, QImage::Format_RGBA8888_Premultiplied);
    pixels.fill(Qt::yellow);
    const ObjectID attachment(QStringLiteral("00112233445566778899aabbccddeeff00112233"),
                              QStringLiteral("png"));
    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(pixels), attachment);
    const IdeaPtr web = Idea::initWithURL(QStringLiteral("https://example.org/"), QVImage());
    const IdeaPtr linkToA = Idea::initWithLinkToIdea(QStringLiteral("a"));
    ASSERT_TRUE(root->addIdea(a) && a->addIdea(idea("A1", "a1")) && root->addIdea(picture) &&
                root->addIdea(web) && root->addIdea(linkToA));

    const IdeaPtr copy = IdeaTreeCopy::copyKeepingIdentifiers(*root);
    EXPECT_EQ(copy->debugDescription(), root->debugDescription());
    EXPECT_TRUE(nodesOf(copy).intersect(nodesOf(root)).isEmpty());
    EXPECT_EQ(copy->parent(), nullptr);
    const IdeaPtr copiedA = child(copy, 0);
    EXPECT_EQ(child(copiedA, 0)->parent(), copiedA);
    EXPECT_EQ(copiedA->note(), QStringLiteral("note"));
    EXPECT_EQ(copiedA->color()->name(), QStringLiteral("blue4"));
    EXPECT_EQ(copiedA->iconImage()->name(), QStringLiteral("rocket"));
    EXPECT_EQ(child(copy, 1)->att(), attachment);
    EXPECT_EQ(child(copy, 1)->image().pngData(), picture->image().pngData());
    EXPECT_EQ(child(copy, 2)->URL(), QStringLiteral("https://example.org/"));
    // The link resolves inside the copy, never to the live tree.
    EXPECT_EQ(child(copy, 3)->linkedIdea(), copiedA);

    // Editing the live tree afterwards leaves the copy as it was.
    a->setText(QStringLiteral("edited"));
    ASSERT_TRUE(root->removeIdea(QStringLiteral("a")));
    EXPECT_EQ(copiedA->text(), QStringLiteral("A"));
    EXPECT_EQ(child(copy, 3)->text(), QStringLiteral("A"));
}

TEST(IdeaTreeCopy, ALinkLeavingTheSubtreeTakesItsTargetsContentAndABrokenLinkStaysUnresolved)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr outside = idea("Outside", "o");
    outside->setNote(QStringLiteral("far"));
    const IdeaPtr branch = idea("Branch", "b");
    const IdeaPtr leaving = Idea::initWithLinkToIdea(QStringLiteral("o"));
    const IdeaPtr broken = Idea::initWithLinkToIdea(QStringLiteral("nowhere"));
    ASSERT_TRUE(root->addIdea(outside) && root->addIdea(branch) && branch->addIdea(leaving) &&
                branch->addIdea(broken));

    const IdeaPtr copy = IdeaTreeCopy::copyKeepingIdentifiers(*branch);
    const IdeaPtr copiedLeaving = child(copy, 0);
    EXPECT_EQ(copiedLeaving->identifier(), leaving->identifier());
    EXPECT_FALSE(copiedLeaving->isLink());
    EXPECT_EQ(copiedLeaving->text(), QStringLiteral("Outside"));
    EXPECT_EQ(copiedLeaving->note(), QStringLiteral("far"));
    const IdeaPtr copiedBroken = child(copy, 1);
    EXPECT_TRUE(copiedBroken->isLink());
    EXPECT_EQ(copiedBroken->linkedIdentifier(), QStringLiteral("nowhere"));
    EXPECT_EQ(copiedBroken->linkedIdea(), nullptr);
}

TEST(IdeaTreeCopy, ACopyOfTheDeepestTreeIsSafe)
{
    const IdeaPtr root = idea("0", "d0");
    IdeaPtr last = root;
    for (int level = 1; level < Idea::MaxDepth; ++level) {
        IdeaPtr next = Idea::initWithText(QString::number(level), QStringLiteral("d%1").arg(level));
        ASSERT_TRUE(last->addIdea(next));
        last = next;
    }
    const IdeaPtr copy = IdeaTreeCopy::copyKeepingIdentifiers(*root);
    EXPECT_EQ(copy->subtreeDepth(), Idea::MaxDepth);
    EXPECT_EQ(copy->findIdeaInSubTreeWithIdentifier(last->identifier())->text(), last->text());
}
