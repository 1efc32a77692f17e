#include "model/Idea.h"
#include "tests/model/ModelTestSupport.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::child;
using corvex::test::idea;

namespace {

QSet<QString> identifiersOf(const IdeaPtr& top)
{
    QSet<QString> identifiers;
    top->traverseNaturally([&](const IdeaPtr& node, qint64) { identifiers.insert(node->identifier()); }, 0);
    return identifiers;
}

// The tree's dump with identifiers left out, for comparing a copy with its source.
QString shape(const IdeaPtr& top)
{
    QString dump;
    top->traverseNaturally(
        [&](const IdeaPtr& node, qint64 depth) {
            dump += QString(int(depth) * 2, QLatin1Char(' ')) + Idea::stringFromIdeaType(node->ideaType()) +
                    QLatin1Char(' ') + node->text() + QLatin1Char('\n');
        },
        0);
    return dump;
}

// Root with A (holding A1) and B; null when the tree cannot be built.
IdeaPtr fourIdeas()
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr a = idea("A", "a");
    const bool built = root->addIdea(a) && a->addIdea(idea("A1", "a1")) && root->addIdea(idea("B", "b"));
    return built ? root : nullptr;
}

} // namespace

TEST(IdeaCopy, ADeepCopyHasFreshIdentifiersAndTheSameContent)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr a = idea("A", "a");
    a->setNote(QStringLiteral("note"));
    a->setColor(ColorTheme::colorByName(QStringLiteral("blue4")));
    a->setColorThemeType(ColorThemeTypeVaryingColors);
    a->setIconImage(IconImage::initWithName(QStringLiteral("n"), QStringLiteral("c"), QStringLiteral("s")));
    a->setURL(QStringLiteral("https://example.org/"));
    const ObjectID attachment(QStringLiteral("00112233445566778899aabbccddeeff00112233"),
                              QStringLiteral("png"));
    QImage pixels(20, 20, QImage::Format_RGBA8888_Premultiplied);
    pixels.fill(Qt::yellow);
    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(pixels), attachment);
    ASSERT_TRUE(root->addIdea(a));
    ASSERT_TRUE(a->addIdea(idea("A1", "a1")));
    ASSERT_TRUE(root->addIdea(picture));

    const IdeaPtr copy = root->deepCopyWithNewIdentifiersNoExternalLinks();
    EXPECT_EQ(shape(copy), shape(root));
    EXPECT_TRUE(identifiersOf(copy).intersect(identifiersOf(root)).isEmpty());
    EXPECT_EQ(copy->parent(), nullptr);
    const IdeaPtr copiedA = child(copy, 0);
    EXPECT_EQ(copiedA->parent(), copy);
    EXPECT_EQ(child(copiedA, 0)->parent(), copiedA);
    EXPECT_EQ(copiedA->note(), QStringLiteral("note"));
    EXPECT_EQ(copiedA->color(), a->color());
    EXPECT_EQ(copiedA->colorThemeType(), ColorThemeTypeVaryingColors);
    EXPECT_EQ(copiedA->iconImage(), a->iconImage());
    EXPECT_EQ(copiedA->URL(), QStringLiteral("https://example.org/"));
    const IdeaPtr copiedPicture = child(copy, 1);
    EXPECT_EQ(copiedPicture->att(), attachment);
    EXPECT_EQ(copiedPicture->image().cgImage().cacheKey(), picture->image().cgImage().cacheKey());
    EXPECT_EQ(copy->attachments(), root->attachments());
}

TEST(IdeaCopy, RenewingInPlaceGivesFreshIdentifiersToATreeWithoutLinksAndLeavesALinkedTreeAlone)
{
    const IdeaPtr root = fourIdeas();
    ASSERT_TRUE(root);
    const QString before = shape(root);
    const QSet<QString> old = identifiersOf(root);

    ASSERT_TRUE(root->renewIdentifiersUnlessLinked());
    EXPECT_EQ(shape(root), before);
    const QSet<QString> renewed = identifiersOf(root);
    EXPECT_EQ(renewed.size(), 4) << "every idea has an identifier of its own";
    EXPECT_TRUE(QSet<QString>(renewed).intersect(old).isEmpty());
    EXPECT_EQ(child(child(root, 0), 0)->parent(), child(root, 0));

    // A link deep down: nothing changes, so the caller's copy can still redirect it.
    ASSERT_TRUE(child(root, 1)->addIdea(Idea::initWithLinkToIdea(child(root, 0)->identifier())));
    EXPECT_FALSE(root->renewIdentifiersUnlessLinked());
    EXPECT_EQ(identifiersOf(root), QSet<QString>(renewed).unite({child(child(root, 1), 0)->identifier()}));
}

TEST(IdeaCopy, LinksInsideTheCopiedSubtreePointAtTheCopiesWhateverTheirOrder)
{
    // One link before its target in pre-order, one after it.
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr early = Idea::initWithLinkToIdea(QStringLiteral("t"));
    const IdeaPtr target = idea("Target", "t");
    const IdeaPtr late = Idea::initWithLinkToIdea(QStringLiteral("t"));
    ASSERT_TRUE(root->addIdea(early));
    ASSERT_TRUE(root->addIdea(target));
    ASSERT_TRUE(target->addIdea(idea("Below", "b")));
    ASSERT_TRUE(root->addIdea(late));

    for (const bool preserve : {true, false}) {
        const IdeaPtr copy = root->deepCopyWithNewIdentifiersPreservingExternalLinks(preserve);
        const IdeaPtr copiedTarget = child(copy, 1);
        for (const int index : {0, 2}) {
            const IdeaPtr copiedLink = child(copy, index);
            EXPECT_TRUE(copiedLink->isLink());
            EXPECT_EQ(copiedLink->linkedIdentifier(), copiedTarget->identifier()) << "link " << index;
            EXPECT_EQ(copiedLink->linkedIdea(), copiedTarget);
            EXPECT_EQ(copiedLink->text(), QStringLiteral("Target"));
        }
        EXPECT_EQ(early->linkedIdea(), target) << "the source stays as it was";
    }
}

TEST(IdeaCopy, ALinkLeavingTheSubtreeKeepsItsTargetWhenPreserved)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr outside = idea("Outside", "o");
    const IdeaPtr branch = idea("Branch", "b");
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("o"));
    ASSERT_TRUE(root->addIdea(outside));
    ASSERT_TRUE(root->addIdea(branch));
    ASSERT_TRUE(branch->addIdea(linkIdea));

    const IdeaPtr copy = branch->deepCopyWithNewIdentifiersPreservingExternalLinks(true);
    const IdeaPtr copiedLink = child(copy, 0);
    EXPECT_TRUE(copiedLink->isLink());
    EXPECT_EQ(copiedLink->linkedIdentifier(), QStringLiteral("o"));
    // Inserted into the same tree, it reads the outside target again.
    ASSERT_TRUE(root->addIdea(copy));
    EXPECT_EQ(copiedLink->linkedIdea(), outside);
}

TEST(IdeaCopy, ALinkLeavingTheSubtreeBecomesAPlainIdeaWithItsTargetsContentWhenDropped)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr outside = Idea::initWithURL(QStringLiteral("https://example.org/"), QVImage());
    outside->setText(QStringLiteral("Outside"));
    outside->setNote(QStringLiteral("its note"));
    outside->setColor(ColorTheme::colorByName(QStringLiteral("green6")));
    outside->setColorThemeType(ColorThemeTypeLighterColor);
    outside->setAtt(
        ObjectID(QStringLiteral("00112233445566778899aabbccddeeff00112233"), QStringLiteral("png")));
    ASSERT_TRUE(outside->addIdea(idea("Child of outside", "oc")));
    const IdeaPtr branch = idea("Branch", "b");
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(outside->identifier());
    linkIdea->setAtt(
        ObjectID(QStringLiteral("ffeeddccbbaa99887766554433221100ffeeddcc"), QStringLiteral("png")));
    ASSERT_TRUE(root->addIdea(outside));
    ASSERT_TRUE(root->addIdea(branch));
    ASSERT_TRUE(branch->addIdea(linkIdea));

    const IdeaPtr copy = branch->deepCopyWithNewIdentifiersNoExternalLinks();
    const IdeaPtr plain = child(copy, 0);
    EXPECT_FALSE(plain->isLink());
    EXPECT_EQ(plain->ideaType(), IdeaTypeURL);
    EXPECT_TRUE(plain->linkedIdentifier().isNull());
    EXPECT_EQ(plain->text(), QStringLiteral("Outside"));
    EXPECT_EQ(plain->URL(), QStringLiteral("https://example.org/"));
    EXPECT_EQ(plain->note(), QStringLiteral("its note"));
    EXPECT_EQ(plain->color(), outside->color());
    EXPECT_EQ(plain->colorThemeType(), ColorThemeTypeLighterColor);
    EXPECT_TRUE(plain->att().isNull()) << "the attachment stays empty";
    EXPECT_TRUE(plain->ideas().empty()) << "the children stay empty";
    EXPECT_NE(plain->identifier(), linkIdea->identifier());
    EXPECT_NE(plain->identifier(), outside->identifier());
}

TEST(IdeaCopy, CopyingOnlyALinkWithoutExternalLinksGivesAPlainIdeaWithTheTargetsContent)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr target = idea("Target", "t");
    target->setNote(QStringLiteral("n"));
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("t"));
    ASSERT_TRUE(root->addIdea(target));
    ASSERT_TRUE(root->addIdea(linkIdea));

    const IdeaPtr copy = linkIdea->deepCopyWithNewIdentifiersNoExternalLinks();
    EXPECT_EQ(copy->ideaType(), IdeaTypeText);
    EXPECT_EQ(copy->text(), QStringLiteral("Target"));
    EXPECT_EQ(copy->note(), QStringLiteral("n"));

    const IdeaPtr kept = linkIdea->deepCopyWithNewIdentifiersPreservingExternalLinks(true);
    EXPECT_TRUE(kept->isLink());
    EXPECT_EQ(kept->linkedIdentifier(), QStringLiteral("t"));
}

TEST(IdeaCopy, CopyingADanglingLinkWithoutExternalLinksGivesAnEmptyTextIdea)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr dangling = Idea::initWithLinkToIdea(QStringLiteral("gone"));
    ASSERT_TRUE(root->addIdea(dangling));
    const IdeaPtr copy = root->deepCopyWithNewIdentifiersNoExternalLinks();
    const IdeaPtr plain = child(copy, 0);
    EXPECT_EQ(plain->ideaType(), IdeaTypeText);
    EXPECT_FALSE(plain->isLink());
    EXPECT_TRUE(plain->text().isNull());
    EXPECT_EQ(plain->debugDescription(),
              QStringLiteral("<Idea text: [(null)] i=%1 \n>").arg(plain->identifier()));
}

TEST(IdeaCopy, RestrictingDepthKeepsTheLevelsAboveTheCount)
{
    const IdeaPtr root = fourIdeas();
    ASSERT_TRUE(root);

    for (const qint64 levels : {qint64(-3), qint64(0), qint64(1)}) {
        const IdeaPtr alone = root->ideaByRestrictingDepth(levels);
        EXPECT_EQ(alone->calculateWholeTreeSize(), 1) << levels;
        EXPECT_EQ(alone->text(), QStringLiteral("Root"));
    }
    const IdeaPtr two = root->ideaByRestrictingDepth(2);
    EXPECT_EQ(two->calculateWholeTreeSize(), 3);
    EXPECT_TRUE(child(two, 0)->ideas().empty());
    EXPECT_EQ(root->ideaByRestrictingDepth(3)->calculateWholeTreeSize(), 4);
    EXPECT_EQ(root->calculateWholeTreeSize(), 4) << "the source keeps everything";
}

TEST(IdeaCopy, RestrictingElementsCutsWholeLevelsBelowTheLimit)
{
    const IdeaPtr root = idea("Root", "r");
    for (int i = 0; i < 3; ++i) {
        const IdeaPtr c = Idea::initWithText(QString::number(i));
        ASSERT_TRUE(root->addIdea(c));
        for (int j = 0; j < 3; ++j)
            ASSERT_TRUE(c->addIdea(Idea::initWithText(QString::number(j))));
    }
    // 1 + 3 + 9 = 13 ideas.
    EXPECT_EQ(root->ideaByRestrictingElements(75)->calculateWholeTreeSize(), 13)
        << "fewer than the limit: all";
    EXPECT_EQ(root->ideaByRestrictingElements(14)->calculateWholeTreeSize(), 13);
    EXPECT_EQ(root->ideaByRestrictingElements(13)->calculateWholeTreeSize(), 4) << "13 is not below 13";
    EXPECT_EQ(root->ideaByRestrictingElements(5)->calculateWholeTreeSize(), 4);
    EXPECT_EQ(root->ideaByRestrictingElements(4)->calculateWholeTreeSize(), 1);
    EXPECT_EQ(root->ideaByRestrictingElements(1)->calculateWholeTreeSize(), 1);
    EXPECT_EQ(root->ideaByRestrictingElements(0)->calculateWholeTreeSize(), 1);
    EXPECT_EQ(root->ideaByRestrictingElements(-5)->calculateWholeTreeSize(), 1);
}

TEST(IdeaCopy, APreviewOf75KeepsTheRootAloneWhenItHas74Children)
{
    const IdeaPtr root = idea("Root", "r");
    for (int i = 0; i < 73; ++i)
        ASSERT_TRUE(root->addIdea(Idea::initWithText(QString::number(i))));
    EXPECT_EQ(root->ideaByRestrictingElements(75)->calculateWholeTreeSize(), 74);
    ASSERT_TRUE(root->addIdea(Idea::initWithText(QStringLiteral("74th"))));
    EXPECT_EQ(root->ideaByRestrictingElements(75)->calculateWholeTreeSize(), 1);
}
