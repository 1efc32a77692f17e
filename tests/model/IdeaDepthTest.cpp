#include "model/Idea.h"
#include "tests/support/LogCapture.h"

#include <QThread>
#include <gtest/gtest.h>

using namespace corvex;

namespace {

// A chain of `levels` ideas; answers the root and stores the deepest idea.
IdeaPtr makeChain(int levels, IdeaPtr* deepest = nullptr, const QString& prefix = QStringLiteral("n"))
{
    IdeaPtr root = Idea::initWithText(prefix + QStringLiteral("0"), prefix + QStringLiteral("0"));
    IdeaPtr last = root;
    for (int i = 1; i < levels; ++i) {
        IdeaPtr next = Idea::initWithText(prefix + QString::number(i), prefix + QString::number(i));
        if (!last->addIdea(next)) {
            ADD_FAILURE() << "level " << i + 1 << " was refused";
            break;
        }
        last = next;
    }
    if (deepest)
        *deepest = last;
    return root;
}

QString depthRefusal()
{
    return QStringLiteral("the tree would be deeper than the maximum of 1000 levels");
}

} // namespace

TEST(IdeaDepth, AChainOfTheMaximumDepthIsBuiltAndALevelBeyondIsRefused)
{
    IdeaPtr deepest;
    const IdeaPtr root = makeChain(Idea::MaxDepth, &deepest);
    EXPECT_EQ(deepest->level(), 1000);
    EXPECT_EQ(root->subtreeDepth(), 1000);

    test::LogCapture log;
    const IdeaPtr extra = Idea::initWithText(QStringLiteral("extra"));
    EXPECT_FALSE(deepest->canInsertIdea(extra));
    EXPECT_FALSE(deepest->addIdea(extra));
    EXPECT_FALSE(deepest->insertIdea(extra, 0));
    EXPECT_EQ(log.count(QStringLiteral("-[Idea addIdea:] refused: ") + depthRefusal()), 1);
    EXPECT_EQ(log.count(QStringLiteral("-[Idea insertIdea:atIndex:] refused: ") + depthRefusal()), 1);
    EXPECT_TRUE(deepest->ideas().empty());
    EXPECT_EQ(extra->parent(), nullptr);
    EXPECT_EQ(root->calculateWholeTreeSize(), 1000);
}

TEST(IdeaDepth, InsertingASubtreeCountsTheSubtreesOwnLevels)
{
    IdeaPtr at500;
    const IdeaPtr root = makeChain(500, &at500);
    const IdeaPtr fits = makeChain(500, nullptr, QStringLiteral("f"));
    const IdeaPtr tooDeep = makeChain(501, nullptr, QStringLiteral("t"));

    test::LogCapture log;
    EXPECT_FALSE(at500->insertIdea(tooDeep, 0));
    EXPECT_EQ(log.count(depthRefusal()), 1);
    EXPECT_TRUE(at500->ideas().empty());

    EXPECT_TRUE(at500->insertIdea(fits, 0));
    EXPECT_EQ(root->subtreeDepth(), 1000);
}

TEST(IdeaDepth, AMoveBeyondTheMaximumIsRefusedAndChangesNothing)
{
    IdeaPtr deepest;
    const IdeaPtr root = makeChain(999, &deepest);
    // Two levels hang from the root: moved under the deepest idea they would reach 1001.
    const IdeaPtr branch = Idea::initWithText(QStringLiteral("branch"), QStringLiteral("branch"));
    EXPECT_TRUE(branch->addIdea(Idea::initWithText(QStringLiteral("leaf"), QStringLiteral("leaf"))));
    EXPECT_TRUE(root->addIdea(branch));

    test::LogCapture log;
    EXPECT_FALSE(branch->moveToParent(deepest, 0));
    EXPECT_EQ(log.count(QStringLiteral("-[Idea moveToParent:atIndex:] refused: ") + depthRefusal()), 1);
    EXPECT_EQ(branch->parent(), root);
    EXPECT_EQ(root->ideas().back(), branch);
    EXPECT_TRUE(deepest->ideas().empty());

    // The leaf alone fits exactly.
    const IdeaPtr leaf = branch->ideas().front();
    EXPECT_TRUE(leaf->moveToParent(deepest, 0));
    EXPECT_EQ(leaf->level(), 1000);
    EXPECT_TRUE(branch->ideas().empty());

    // The same move as detach and insert: the insertion refuses.
    const IdeaPtr detached = root->detachIdea(QStringLiteral("branch"));
    EXPECT_TRUE(detached->addIdea(Idea::initWithText(QStringLiteral("again"))));
    EXPECT_FALSE(leaf->parent()->insertIdea(detached, 0));
}

TEST(IdeaDepth, ADeepCopyOfAMaximumChainIsWholeAndCannotGoOneLevelDeeper)
{
    const IdeaPtr chain = makeChain(Idea::MaxDepth);
    const IdeaPtr copy = chain->deepCopyWithNewIdentifiersNoExternalLinks();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->subtreeDepth(), 1000);
    EXPECT_EQ(copy->calculateWholeTreeSize(), 1000);
    EXPECT_NE(copy->identifier(), chain->identifier());

    test::LogCapture log;
    const IdeaPtr holder = Idea::initWithText(QStringLiteral("holder"));
    EXPECT_FALSE(holder->addIdea(copy));
    EXPECT_EQ(copy->parent(), nullptr);

    // A copy of 999 levels fits under a root.
    const IdeaPtr shorter = chain->ideas().front()->deepCopyWithNewIdentifiersPreservingExternalLinks(true);
    EXPECT_EQ(shorter->subtreeDepth(), 999);
    EXPECT_TRUE(holder->addIdea(shorter));
    EXPECT_EQ(holder->subtreeDepth(), 1000);
}

TEST(IdeaDepth, AMaximumChainIsBuiltCopiedWalkedDescribedAndDestroyedOnASmallWorkerStack)
{
    // 256 KiB is far less than a recursion over 1000 levels needs under the sanitizers: every
    // walk must use its own stack.
    bool finished = false;
    QThread* worker = QThread::create([&] {
        IdeaPtr deepest;
        IdeaPtr root = makeChain(Idea::MaxDepth - 1, &deepest);
        // A link to the root as the 1000th level, so that the copy's link pass runs too.
        EXPECT_TRUE(deepest->addIdea(Idea::initWithLinkToIdea(QStringLiteral("n0"))));
        EXPECT_EQ(root->calculateWholeTreeSize(), 1000);
        EXPECT_EQ(root->subtreeDepth(), 1000);
        IdeaPtr copy = root->deepCopyWithNewIdentifiersNoExternalLinks();
        qint64 visited = 0;
        qint64 maxDepth = 0;
        copy->traverseNaturally(
            [&](const IdeaPtr&, qint64 depth) {
                ++visited;
                maxDepth = std::max(maxDepth, depth);
            },
            0);
        EXPECT_EQ(visited, root->calculateWholeTreeSize());
        EXPECT_EQ(maxDepth, 999);
        IdeaPtr copiedLink = copy;
        while (!copiedLink->ideas().empty())
            copiedLink = copiedLink->ideas().front();
        EXPECT_EQ(copiedLink->linkedIdea(), copy) << "the link follows the copy";
        EXPECT_EQ(copiedLink->text(), QStringLiteral("n0"));
        const QString dump = copy->debugDescription();
        EXPECT_EQ(dump.count(QLatin1Char('\n')), visited);
        EXPECT_TRUE(copy->findIdeaInSubTreeWithIdentifier(copy->identifier()));
        EXPECT_EQ(root->ideaByRestrictingDepth(1000)->calculateWholeTreeSize(), 1000);
        EXPECT_EQ(root->ideaByRestrictingElements(100000)->subtreeDepth(), root->subtreeDepth());
        root->ensureLinkConsistencyInSubTree();
        EXPECT_EQ(root->attachments().size(), 0);
        // Whole chains go at once: nothing else holds any of their ideas.
        deepest.reset();
        copiedLink.reset();
        root.reset();
        copy.reset();
        finished = true;
    });
    worker->setStackSize(256 * 1024);
    worker->start();
    ASSERT_TRUE(worker->wait(120000));
    delete worker;
    EXPECT_TRUE(finished);
}
