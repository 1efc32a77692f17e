#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "model/IdeaTreeCopy.h"
#include "model/JSONDecoder.h"
#include "platform/core/Zlib.h"
#include "tests/model/ModelTestSupport.h"

#include <QByteArray>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

using namespace corvex;
using test::child;
using test::decodedByTheDecoder;
using test::idea;
using test::readByTheTextReader;
using test::written;

namespace {

// The link ideas of a tree in pre-order.
std::vector<IdeaPtr> linksOf(const IdeaPtr& root)
{
    return test::ideasWhere(root, [](const Idea& idea) { return idea.isLink(); });
}

// How many walks looking for identifiers asking every link of the tree for its target and
// its text makes; each target is checked against a search of the tree made afterwards.
quint64 walksToAskEveryLink(const IdeaPtr& root)
{
    const std::vector<IdeaPtr> links = linksOf(root);
    const quint64 before = Idea::identifierWalks();
    std::vector<IdeaPtr> targets;
    for (const IdeaPtr& link : links) {
        targets.push_back(link->linkedIdea());
        (void)link->text();
        (void)link->hasNote();
    }
    const quint64 walks = Idea::identifierWalks() - before;
    for (std::size_t i = 0; i < links.size(); ++i)
        EXPECT_EQ(targets[i], root->findIdeaInSubTreeWithIdentifier(links[i]->linkedIdentifier()))
            << "link " << i;
    return walks;
}

// Root "r" with a target "t" (text "Target"), a link to it, a link to that link, a link
// whose target is nowhere, and a target "u" below "t" that a link before it points to.
IdeaPtr treeWithLinks()
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr toLater = Idea::initWithLinkToIdea(QStringLiteral("u"));
    const IdeaPtr target = idea("Target", "t");
    const IdeaPtr toTarget = Idea::initWithLinkToIdea(QStringLiteral("t"));
    const IdeaPtr toLink = Idea::initWithLinkToIdea(toTarget->identifier());
    const IdeaPtr dangling = Idea::initWithLinkToIdea(QStringLiteral("nowhere"));
    EXPECT_TRUE(root->addIdea(toLater));
    EXPECT_TRUE(root->addIdea(target));
    EXPECT_TRUE(target->addIdea(idea("Under", "u")));
    EXPECT_TRUE(root->addIdea(toTarget));
    EXPECT_TRUE(root->addIdea(toLink));
    EXPECT_TRUE(root->addIdea(dangling));
    return root;
}

} // namespace

TEST(IdeaLinkResolution, ATreeReadByEitherReaderOrCopiedAnswersEveryLinkWithoutAWalk)
{
    const QByteArray json = written(treeWithLinks());
    struct Road
    {
        const char* what;
        std::function<IdeaPtr()> make;
        std::size_t links; // a copy with fresh identifiers makes the dangling link a plain idea
    };
    const Road roads[] = {
        {"the text reader", [&] { return readByTheTextReader(json); }, 4},
        {"the compressed form", [&] { return readByTheTextReader(Zlib::compress(json).value()); }, 4},
        {"the older decoder", [&] { return decodedByTheDecoder(json); }, 4},
        {"a copy keeping identifiers", [&] { return IdeaTreeCopy::copyKeepingIdentifiers(*treeWithLinks()); },
         4},
        {"a copy with fresh identifiers",
         [&] { return treeWithLinks()->deepCopyWithNewIdentifiersNoExternalLinks(); }, 3},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.what);
        const IdeaPtr root = road.make();
        ASSERT_TRUE(root);
        ASSERT_EQ(linksOf(root).size(), road.links);
        EXPECT_EQ(walksToAskEveryLink(root), 0u);
        EXPECT_EQ(walksToAskEveryLink(root), 0u) << "asked again";
        EXPECT_EQ(child(root, 0)->text(), QStringLiteral("Under")) << "a target after its link";
        EXPECT_EQ(child(root, 3)->text(), QStringLiteral("Target")) << "through a chain";
        EXPECT_TRUE(child(root, 4)->text().isNull());
    }
}

TEST(IdeaLinkResolution, ADanglingLinkSurvivesReadingSavingAndReadingAgain)
{
    IdeaPtr root = readByTheTextReader(written(treeWithLinks()));
    ASSERT_TRUE(root);
    for (int round = 0; round < 2; ++round) {
        root = round == 0 ? readByTheTextReader(written(root)) : decodedByTheDecoder(written(root));
        ASSERT_TRUE(root);
        ASSERT_EQ(root->ideas().size(), 5u) << "round " << round;
        const IdeaPtr dangling = child(root, 4);
        EXPECT_TRUE(dangling->isLink());
        EXPECT_EQ(dangling->linkedIdentifier(), QStringLiteral("nowhere"));
        EXPECT_TRUE(dangling->text().isNull());
    }
}

TEST(IdeaLinkResolution, AMissingTargetIsLookedForAgainOnlyOnceAnIdeaJoinedTheTree)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr other = idea("Other", "o");
    const IdeaPtr link = Idea::initWithLinkToIdea(QStringLiteral("later"));
    const IdeaPtr secondLink = Idea::initWithLinkToIdea(QStringLiteral("later"));
    ASSERT_TRUE(root->addIdea(other));
    ASSERT_TRUE(root->addIdea(link));
    ASSERT_TRUE(other->addIdea(secondLink));

    // A link added by an edit: one pass, for every link of the tree at once.
    EXPECT_EQ(walksToAskEveryLink(root), 1u);
    EXPECT_EQ(walksToAskEveryLink(root), 0u) << "found missing, and nothing joined since";
    other->setText(QStringLiteral("changed"));
    EXPECT_EQ(walksToAskEveryLink(root), 0u) << "a change that adds no idea";

    ASSERT_TRUE(root->addIdea(idea("Unrelated", "x")));
    EXPECT_EQ(walksToAskEveryLink(root), 1u) << "an idea joined: one more pass";
    EXPECT_EQ(link->linkedIdea(), nullptr);

    const IdeaPtr target = idea("Later", "later");
    ASSERT_TRUE(other->insertIdea(target, 0));
    EXPECT_EQ(walksToAskEveryLink(root), 1u);
    EXPECT_EQ(link->linkedIdea(), target);
    EXPECT_EQ(secondLink->text(), QStringLiteral("Later"));

    // The target removed: the links go with it, as before.
    EXPECT_TRUE(other->removeIdea(QStringLiteral("later")));
    EXPECT_EQ(link->parent(), nullptr);
    EXPECT_EQ(secondLink->parent(), nullptr);
    EXPECT_TRUE(linksOf(root).empty());
}

TEST(IdeaLinkResolution, ALinkThatGoesToAnotherTreeLooksForItsTargetThere)
{
    const IdeaPtr first = idea("First", "f");
    const IdeaPtr link = Idea::initWithLinkToIdea(QStringLiteral("t"));
    ASSERT_TRUE(first->addIdea(link));
    EXPECT_EQ(link->linkedIdea(), nullptr);

    const IdeaPtr second = idea("Second", "s");
    ASSERT_TRUE(second->addIdea(idea("There", "t")));
    ASSERT_TRUE(link->moveToParent(second, 0));
    EXPECT_EQ(link->text(), QStringLiteral("There"));

    // Taken out alone, its tree is the link: nothing there, and nothing asked twice.
    ASSERT_NE(second->detachIdea(link->identifier()), nullptr);
    first->removeIdea(link, false);
    const IdeaPtr alone = Idea::initWithLinkToIdea(QStringLiteral("t"));
    EXPECT_EQ(alone->linkedIdea(), nullptr);
    const quint64 before = Idea::identifierWalks();
    EXPECT_EQ(alone->linkedIdea(), nullptr);
    EXPECT_EQ(Idea::identifierWalks(), before);
}
