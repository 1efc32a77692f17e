#include "model/Idea.h"
#include "tests/model/ModelTestSupport.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::idea;

namespace {

QStringList childIdentifiers(const IdeaPtr& parent)
{
    QStringList identifiers;
    for (const IdeaPtr& child : parent->ideas())
        identifiers.append(child->identifier());
    return identifiers;
}

// root(r) -> a -> a1, a2 ; b ; c
struct SmallTree
{
    IdeaPtr root = idea("Root", "r");
    IdeaPtr a = idea("A", "a");
    IdeaPtr a1 = idea("A1", "a1");
    IdeaPtr a2 = idea("A2", "a2");
    IdeaPtr b = idea("B", "b");
    IdeaPtr c = idea("C", "c");

    SmallTree()
    {
        EXPECT_TRUE(root->addIdea(a));
        EXPECT_TRUE(a->addIdea(a1));
        EXPECT_TRUE(a->addIdea(a2));
        EXPECT_TRUE(root->addIdea(b));
        EXPECT_TRUE(root->addIdea(c));
    }
};

} // namespace

TEST(IdeaTree, AddIdeaAppendsTheChildAndBecomesItsParent)
{
    SmallTree tree;
    EXPECT_EQ(childIdentifiers(tree.root), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(tree.a->parent(), tree.root);
    EXPECT_EQ(tree.a1->parent(), tree.a);
    EXPECT_EQ(tree.a1->root(), tree.root);
    EXPECT_EQ(tree.root->root(), tree.root);
    EXPECT_EQ(tree.root->parent(), nullptr);
    EXPECT_EQ(tree.a1->level(), 3);
    EXPECT_EQ(tree.root->subtreeDepth(), 3);
}

TEST(IdeaTree, AddIdeaLeavesTheChildInItsPreviousParentsList)
{
    SmallTree tree;
    // Callers detach first; the tree operation itself does not.
    EXPECT_TRUE(tree.b->addIdea(tree.a1));
    EXPECT_EQ(childIdentifiers(tree.a), (QStringList{"a1", "a2"}));
    EXPECT_EQ(childIdentifiers(tree.b), (QStringList{"a1"}));
    EXPECT_EQ(tree.a1->parent(), tree.b);
}

TEST(IdeaTree, InsertIdeaPlacesTheChildAtTheIndex)
{
    SmallTree tree;
    EXPECT_TRUE(tree.root->insertIdea(idea("X", "x"), 0));
    EXPECT_TRUE(tree.root->insertIdea(idea("Y", "y"), 2));
    EXPECT_TRUE(tree.root->insertIdea(idea("Z", "z"), 5));
    EXPECT_EQ(childIdentifiers(tree.root), (QStringList{"x", "a", "y", "b", "c", "z"}));
    EXPECT_EQ(tree.root->ideas()[2]->parent(), tree.root);
}

TEST(IdeaTree, InsertIdeaBeyondTheChildCountLogsAndInsertsLast)
{
    SmallTree tree;
    test::LogCapture log;
    EXPECT_TRUE(tree.root->insertIdea(idea("Z", "z"), 17));
    EXPECT_EQ(childIdentifiers(tree.root), (QStringList{"a", "b", "c", "z"}));
    EXPECT_EQ(log.count(QStringLiteral("ERROR: Assertion failure: -[Idea insertIdea:atIndex:] index 17")), 1)
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(IdeaTree, ALinkIdeaTakesNoChildren)
{
    IdeaPtr root = idea("Root", "r");
    IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("r"));
    EXPECT_TRUE(root->addIdea(linkIdea));
    {
        test::LogCapture log;
        EXPECT_FALSE(linkIdea->addIdea(idea("X", "x")));
        EXPECT_EQ(log.lines(),
                  QStringList{QStringLiteral("ERROR: Assertion failure, line: 073 -[Idea addIdea:]")});
    }
    {
        test::LogCapture log;
        EXPECT_FALSE(linkIdea->insertIdea(idea("Y", "y"), 0));
        EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_TRUE(linkIdea->ideas().empty());
    EXPECT_FALSE(root->canInsertIdea(nullptr));
    EXPECT_FALSE(linkIdea->canInsertIdea(idea("Z", "z")));
}

TEST(IdeaTree, AnIdeaIsNeverInsertedIntoItsOwnSubtree)
{
    SmallTree tree;
    test::LogCapture log;
    EXPECT_FALSE(tree.a->addIdea(tree.a));
    EXPECT_FALSE(tree.a1->addIdea(tree.root));
    EXPECT_FALSE(tree.a2->insertIdea(tree.a, 0));
    // Even through the list of a former parent: a1 is still listed under a after joining b.
    EXPECT_TRUE(tree.b->addIdea(tree.a1));
    EXPECT_FALSE(tree.a1->addIdea(tree.a));
    EXPECT_EQ(log.count(QStringLiteral("the idea would hold itself")), 4)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(tree.a1->ideas().empty());
    EXPECT_TRUE(tree.a2->ideas().empty());
    EXPECT_EQ(tree.root->calculateWholeTreeSize(), 7); // a1 listed twice
}

TEST(IdeaTree, IndexOfIdeaWithIdentifierAnswersTheFirstMatchOrTheLargestSignedValue)
{
    SmallTree tree;
    EXPECT_EQ(tree.root->indexOfIdeaWithIdentifier(QStringLiteral("b")), 1u);
    EXPECT_EQ(tree.root->indexOfIdeaWithIdentifier(QStringLiteral("a1")), Idea::NotFound); // not a child
    EXPECT_EQ(Idea::NotFound, 9223372036854775807ull);
}

TEST(IdeaTree, DetachIdeaTakesTheChildOutAndLeavesLinksIntoIt)
{
    SmallTree tree;
    IdeaPtr toA1 = Idea::initWithLinkToIdea(QStringLiteral("a1"));
    EXPECT_TRUE(tree.c->addIdea(toA1));
    EXPECT_EQ(toA1->linkedIdea(), tree.a1);

    const IdeaPtr detached = tree.root->detachIdea(QStringLiteral("a"));
    EXPECT_EQ(detached, tree.a);
    EXPECT_EQ(detached->parent(), nullptr);
    EXPECT_EQ(childIdentifiers(tree.root), (QStringList{"b", "c"}));
    EXPECT_EQ(childIdentifiers(tree.c), (QStringList{toA1->identifier()}));

    // A move within the tree: the link works again from its new place.
    EXPECT_TRUE(tree.b->insertIdea(detached, 0));
    EXPECT_EQ(toA1->linkedIdea(), tree.a1);
    EXPECT_EQ(toA1->text(), QStringLiteral("A1"));
}

TEST(IdeaTree, DetachIdeaOfAnUnknownIdentifierLogsAndChangesNothing)
{
    SmallTree tree;
    test::LogCapture log;
    EXPECT_EQ(tree.root->detachIdea(QStringLiteral("nope")), nullptr);
    EXPECT_EQ(log.lines(),
              QStringList{QStringLiteral("ERROR: Assertion failure, line: 101 -[Idea detachIdea:]")});
    EXPECT_EQ(childIdentifiers(tree.root), (QStringList{"a", "b", "c"}));
}

TEST(IdeaTree, RemoveIdeaRemovesLinksElsewhereThatPointedIntoTheRemovedSubtree)
{
    SmallTree tree;
    IdeaPtr toA2 = Idea::initWithLinkToIdea(QStringLiteral("a2"));
    IdeaPtr toB = Idea::initWithLinkToIdea(QStringLiteral("b"));
    IdeaPtr toA = Idea::initWithLinkToIdea(QStringLiteral("a"));
    EXPECT_TRUE(tree.c->addIdea(toA2));
    EXPECT_TRUE(tree.c->addIdea(toB));
    EXPECT_TRUE(tree.root->addIdea(toA));

    EXPECT_TRUE(tree.root->removeIdea(QStringLiteral("a")));
    EXPECT_EQ(childIdentifiers(tree.root), (QStringList{"b", "c"}));
    EXPECT_EQ(childIdentifiers(tree.c), (QStringList{toB->identifier()}));
    EXPECT_EQ(tree.a->parent(), nullptr);
    EXPECT_EQ(toA2->parent(), nullptr);
    EXPECT_EQ(toB->linkedIdea(), tree.b);
    EXPECT_EQ(tree.root->calculateWholeTreeSize(), 4);
}

TEST(IdeaTree, RemoveIdeaOfAnIdentifierNoChildHasAnswersNoAndChangesNothing)
{
    SmallTree tree;
    EXPECT_FALSE(tree.root->removeIdea(QStringLiteral("a1"))); // a grandchild, not a child
    EXPECT_EQ(tree.root->calculateWholeTreeSize(), 6);
}

TEST(IdeaTree, RemoveIdeaObjectClearsTheParentOnlyOfAChildThatWasInTheList)
{
    SmallTree tree;
    tree.root->removeIdea(tree.a1, false); // a1 belongs to a
    EXPECT_EQ(tree.a1->parent(), tree.a);
    EXPECT_EQ(childIdentifiers(tree.a), (QStringList{"a1", "a2"}));

    tree.a->removeIdea(tree.a1, false);
    EXPECT_EQ(tree.a1->parent(), nullptr);
    EXPECT_EQ(childIdentifiers(tree.a), (QStringList{"a2"}));

    tree.a->removeIdea(nullptr, true); // nothing, no crash
    EXPECT_EQ(childIdentifiers(tree.a), (QStringList{"a2"}));
}

TEST(IdeaTree, RemoveIdeaObjectRemovesDanglingLinksOnlyWhenAsked)
{
    SmallTree tree;
    IdeaPtr toA1 = Idea::initWithLinkToIdea(QStringLiteral("a1"));
    EXPECT_TRUE(tree.b->addIdea(toA1));

    tree.a->removeIdea(tree.a1, false);
    EXPECT_EQ(childIdentifiers(tree.b), (QStringList{toA1->identifier()}));
    EXPECT_TRUE(toA1->text().isNull()) << "a dangling link reads nothing";

    tree.a->removeIdea(tree.a2, true);
    EXPECT_TRUE(tree.b->ideas().empty());
    EXPECT_EQ(toA1->parent(), nullptr);
}

TEST(IdeaTree, EnsureLinkConsistencyKeepsLinksWithTargetsAndVisitsLinksInPreOrder)
{
    SmallTree tree;
    // A link to a link: the first link is examined while its target still stands, the
    // dangling second one goes afterwards (the order of a pre-order walk).
    IdeaPtr danglingLink = Idea::initWithLinkToIdea(QStringLiteral("gone"));
    IdeaPtr toC = Idea::initWithLinkToIdea(QStringLiteral("c"));
    EXPECT_TRUE(tree.b->addIdea(toC));
    IdeaPtr firstLink = Idea::initWithLinkToIdea(danglingLink->identifier());
    EXPECT_TRUE(tree.a2->addIdea(firstLink));
    EXPECT_TRUE(tree.c->addIdea(danglingLink));

    tree.root->ensureLinkConsistencyInSubTree();
    EXPECT_EQ(firstLink->parent(), tree.a2) << "its target existed when it was examined";
    EXPECT_EQ(danglingLink->parent(), nullptr);
    EXPECT_TRUE(tree.c->ideas().empty());
    EXPECT_EQ(toC->parent(), tree.b);
    EXPECT_EQ(toC->linkedIdea(), tree.c);
}

TEST(IdeaTree, FindIdeaInSubTreeIsPreOrderWithTheIdeaItselfFirst)
{
    SmallTree tree;
    // Two ideas share an identifier: the one met first in pre-order wins.
    IdeaPtr deep = idea("Deep", "dup");
    IdeaPtr shallow = idea("Shallow", "dup");
    EXPECT_TRUE(tree.a2->addIdea(deep));
    EXPECT_TRUE(tree.c->addIdea(shallow));
    EXPECT_EQ(tree.root->findIdeaInSubTreeWithIdentifier(QStringLiteral("dup")), deep);
    EXPECT_EQ(tree.c->findIdeaInSubTreeWithIdentifier(QStringLiteral("dup")), shallow);
    EXPECT_EQ(tree.a->findIdeaInSubTreeWithIdentifier(QStringLiteral("a")), tree.a);
    EXPECT_EQ(tree.a->findIdeaInSubTreeWithIdentifier(QStringLiteral("b")), nullptr);
    EXPECT_EQ(tree.root->findIdeaInSubTreeWithIdentifier(QString()), nullptr);
}

TEST(IdeaTree, CouldMyChildBeDescendantLooksAtTheIdeaAndItsAncestors)
{
    SmallTree tree;
    EXPECT_TRUE(tree.a1->couldMyChildBeDescendantOfIdeaWithIdentifier(QStringLiteral("a1")));
    EXPECT_TRUE(tree.a1->couldMyChildBeDescendantOfIdeaWithIdentifier(QStringLiteral("a")));
    EXPECT_TRUE(tree.a1->couldMyChildBeDescendantOfIdeaWithIdentifier(QStringLiteral("r")));
    EXPECT_FALSE(tree.a1->couldMyChildBeDescendantOfIdeaWithIdentifier(QStringLiteral("a2")));
    EXPECT_FALSE(tree.a->couldMyChildBeDescendantOfIdeaWithIdentifier(QStringLiteral("a1")));
}

TEST(IdeaTree, CalculateWholeTreeSizeCountsALinkAsOneWhateverItsTargetHolds)
{
    SmallTree tree;
    IdeaPtr toA = Idea::initWithLinkToIdea(QStringLiteral("a"));
    EXPECT_EQ(toA->calculateWholeTreeSize(), 1);
    EXPECT_TRUE(tree.c->addIdea(toA));
    EXPECT_EQ(toA->calculateWholeTreeSize(), 1);
    EXPECT_EQ(tree.a->calculateWholeTreeSize(), 3);
    EXPECT_EQ(tree.root->calculateWholeTreeSize(), 7);
}

TEST(IdeaTree, TraverseNaturallyIsPreOrderWithDepthsAndSeesChildrenTheBlockAdds)
{
    SmallTree tree;
    QStringList visits;
    tree.root->traverseNaturally(
        [&](const IdeaPtr& node, qint64 depth) {
            visits.append(node->identifier() + QLatin1Char('@') + QString::number(depth));
            if (node->identifier() == QStringLiteral("b")) {
                EXPECT_TRUE(node->addIdea(idea("B1", "b1")));
            }
        },
        10);
    EXPECT_EQ(visits, (QStringList{"r@10", "a@11", "a1@12", "a2@12", "b@11", "b1@12", "c@11"}));
}

TEST(IdeaTree, AttachmentsAreTheSubtreesAttachmentIdentifiers)
{
    SmallTree tree;
    const ObjectID first(QStringLiteral("0123456789abcdef0123456789abcdef01234567"), QStringLiteral("png"));
    const ObjectID second(QStringLiteral("89abcdef0123456789abcdef0123456789abcdef"), QStringLiteral("png"));
    tree.a1->setAtt(first);
    tree.a2->setAtt(first);
    tree.c->setAtt(second);
    EXPECT_EQ(tree.root->attachments(), (QSet<ObjectID>{first, second}));
    EXPECT_EQ(tree.a->attachments(), (QSet<ObjectID>{first}));
    EXPECT_TRUE(tree.b->attachments().isEmpty());
}

TEST(IdeaTree, MoveToParentMovesTheSubtreeAndKeepsLinksWorking)
{
    SmallTree tree;
    IdeaPtr toA1 = Idea::initWithLinkToIdea(QStringLiteral("a1"));
    EXPECT_TRUE(tree.root->addIdea(toA1));
    EXPECT_TRUE(tree.a->moveToParent(tree.c, 0));
    EXPECT_EQ(childIdentifiers(tree.root), (QStringList{"b", "c", toA1->identifier()}));
    EXPECT_EQ(childIdentifiers(tree.c), (QStringList{"a"}));
    EXPECT_EQ(tree.a->parent(), tree.c);
    EXPECT_EQ(toA1->text(), QStringLiteral("A1"));

    // Within one parent the index counts without the moved idea.
    EXPECT_TRUE(tree.b->moveToParent(tree.root, 1));
    EXPECT_EQ(childIdentifiers(tree.root), (QStringList{"c", "b", toA1->identifier()}));

    test::LogCapture log;
    EXPECT_FALSE(tree.c->moveToParent(tree.a1, 0)) << "into its own subtree";
    EXPECT_FALSE(tree.b->moveToParent(toA1, 0)) << "into a link idea";
    EXPECT_EQ(childIdentifiers(tree.root), (QStringList{"c", "b", toA1->identifier()}));
    EXPECT_EQ(log.count(QStringLiteral("-[Idea moveToParent:atIndex:] refused")), 2);
}

TEST(IdeaTree, AChildStillHeldElsewhereOutlivesItsTreeWithoutAParent)
{
    IdeaPtr kept;
    {
        SmallTree tree;
        kept = tree.a;
    }
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->parent(), nullptr);
    EXPECT_EQ(kept->calculateWholeTreeSize(), 3);
    EXPECT_EQ(kept->ideas()[0]->parent(), kept);
}

// Every way an idea changes raises the change count, so that a picture of a tree can tell it
// is still current; reading an idea or its tree leaves the count alone.
TEST(IdeaTree, EveryChangeRaisesTheChangeCountAndReadingLeavesIt)
{
    SmallTree tree;
    const IdeaPtr link = Idea::initWithLinkToIdea(QStringLiteral("a1"));
    EXPECT_TRUE(tree.b->addIdea(link));
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"setText", [&] { tree.a->setText(QStringLiteral("new")); }},
        {"setNote", [&] { tree.a->setNote(QStringLiteral("note")); }},
        {"setURL", [&] { tree.a->setURL(QStringLiteral("https://example.org")); }},
        {"setColor", [&] { tree.a->setColor(nullptr); }},
        {"setColorThemeType", [&] { tree.a->setColorThemeType(ColorThemeTypeSameColor); }},
        {"setIconImage", [&] { tree.a->setIconImage(nullptr); }},
        {"setAtt", [&] { tree.a->setAtt(ObjectID()); }},
        {"updateImage", [&] { tree.c->updateImage(QVImage(), ObjectID()); }},
        {"addIdea", [&] { EXPECT_TRUE(tree.c->addIdea(idea("C1", "c1"))); }},
        {"insertIdea", [&] { EXPECT_TRUE(tree.c->insertIdea(idea("C0", "c0"), 0)); }},
        {"moveToParent", [&] { EXPECT_TRUE(tree.a2->moveToParent(tree.b, 0)); }},
        {"detachIdea", [&] { EXPECT_TRUE(tree.c->detachIdea(QStringLiteral("c0"))); }},
        {"removeIdea by identifier", [&] { EXPECT_TRUE(tree.c->removeIdea(QStringLiteral("c1"))); }},
        {"removeIdea", [&] { tree.a->removeIdea(tree.a1, true); }},
        {"ensureLinkConsistencyInSubTree", [&] { tree.root->ensureLinkConsistencyInSubTree(); }},
    };
    for (const auto& [name, change] : changes) {
        const quint64 before = Idea::changeCount();
        change();
        EXPECT_GT(Idea::changeCount(), before) << name;
    }
    const quint64 before = Idea::changeCount();
    tree.root->traverseNaturally(
        [](const IdeaPtr& each, qint64) {
            (void)each->text();
            (void)each->hasNote();
            (void)each->color();
            (void)each->linkedIdea();
        },
        0);
    (void)tree.root->calculateWholeTreeSize();
    (void)tree.root->deepCopyWithNewIdentifiersNoExternalLinks();
    EXPECT_EQ(Idea::changeCount(), before);
}
