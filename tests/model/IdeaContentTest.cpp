#include "model/DrawnColor.h"
#include "model/Idea.h"
#include "model/ModelCodables.h"
#include "tests/model/MemoryCoder.h"
#include "tests/model/ModelTestSupport.h"
#include "tests/support/LogCapture.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::child;
using corvex::test::decodeIdea;
using corvex::test::idea;
using corvex::test::MemoryCoder;
using corvex::test::MemoryRecord;

namespace {

QImage solid(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_RGBA8888_Premultiplied);
    image.fill(color);
    return image;
}

// Stored link ideas with chosen identifiers: the only way a file can make cycles.
std::shared_ptr<MemoryRecord> linkRecord(const QString& identifier, const QString& target)
{
    auto record = std::make_shared<MemoryRecord>();
    record->className = QStringLiteral("Idea");
    record->set(QStringLiteral("identifier"), identifier);
    record->set(QStringLiteral("ideaType"), 4);
    record->set(QStringLiteral("linkedIdea"), target);
    return record;
}

std::shared_ptr<MemoryRecord> textRecord(const QString& identifier, const QString& text,
                                         std::vector<std::shared_ptr<MemoryRecord>> children = {})
{
    auto record = std::make_shared<MemoryRecord>();
    record->className = QStringLiteral("Idea");
    record->set(QStringLiteral("identifier"), identifier);
    record->set(QStringLiteral("ideaType"), 1);
    record->set(QStringLiteral("text"), text);
    if (!children.empty())
        record->setList(QStringLiteral("ideas"), std::move(children));
    return record;
}

void expectReadsNothing(const IdeaPtr& broken)
{
    EXPECT_TRUE(broken->text().isNull());
    EXPECT_TRUE(broken->URL().isNull());
    EXPECT_TRUE(broken->note().isNull());
    EXPECT_EQ(broken->color(), nullptr);
    EXPECT_EQ(broken->iconImage(), nullptr);
    EXPECT_FALSE(broken->image().hasImage());
    EXPECT_TRUE(broken->bigImageData().isNull());
    EXPECT_FALSE(broken->bigImage().hasImage());
    EXPECT_EQ(broken->colorTheme(), nullptr);
    EXPECT_FALSE(broken->hasText());
    EXPECT_FALSE(broken->hasNote());
    EXPECT_FALSE(broken->hasColor());
    EXPECT_FALSE(broken->hasIcon());
    EXPECT_FALSE(broken->hasURL());
    EXPECT_EQ(broken->exportTitle(), QStringLiteral(""));
    EXPECT_FALSE(broken->exportTitle().isNull());
    EXPECT_EQ(broken->exportFileNameForType(QStringLiteral("corvex")), QStringLiteral("document.corvex"));
    EXPECT_EQ(broken->exportFileNameForType(QString()), QStringLiteral("document"));
}

} // namespace

// ---- Content and links

TEST(IdeaContent, SettingAnEmptyNoteLeavesNoNote)
{
    const IdeaPtr text = idea("T", "t");
    text->setNote(QStringLiteral("remember"));
    EXPECT_TRUE(text->hasNote());
    text->setNote(QStringLiteral(""));
    EXPECT_TRUE(text->note().isNull());
    EXPECT_FALSE(text->hasNote());
}

TEST(IdeaContent, ALinkReadsItsTargetsContent)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr target = idea("Target", "t");
    target->setNote(QStringLiteral("a note"));
    target->setURL(QStringLiteral("https://example.org/"));
    target->setColor(ColorTheme::colorByName(QStringLiteral("red5")));
    target->setColorThemeType(ColorThemeTypeVaryingColors);
    const IconImagePtr icon = IconImage::initWithName(QStringLiteral("grinning"), QStringLiteral("Smileys"),
                                                      QStringLiteral("\U0001F600"));
    target->setIconImage(icon);
    target->updateImage(QVImage(solid(200, 200, Qt::blue)), ObjectID());
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("t"));
    ASSERT_TRUE(root->addIdea(target));
    ASSERT_TRUE(root->addIdea(linkIdea));

    EXPECT_TRUE(linkIdea->isLink());
    EXPECT_EQ(linkIdea->linkedIdentifier(), QStringLiteral("t"));
    EXPECT_EQ(linkIdea->linkedIdea(), target);
    EXPECT_EQ(linkIdea->text(), QStringLiteral("Target"));
    EXPECT_EQ(linkIdea->note(), QStringLiteral("a note"));
    EXPECT_EQ(linkIdea->URL(), QStringLiteral("https://example.org/"));
    EXPECT_EQ(linkIdea->color(), target->color());
    EXPECT_EQ(linkIdea->iconImage(), icon);
    EXPECT_EQ(linkIdea->image().cgImage().cacheKey(), target->image().cgImage().cacheKey());
    EXPECT_EQ(linkIdea->colorTheme(), target->colorTheme());
    ASSERT_NE(linkIdea->colorTheme(), nullptr);
    EXPECT_EQ(linkIdea->colorTheme()->name(), QStringLiteral("reds"));
    EXPECT_TRUE(linkIdea->hasText());
    EXPECT_TRUE(linkIdea->hasNote());
    EXPECT_EQ(linkIdea->exportTitle(), QStringLiteral("Target"));
    EXPECT_EQ(linkIdea->colorThemeType(), ColorThemeTypeSameColor) << "own value";
}

TEST(IdeaContent, ALinkIgnoresContentWritesButKeepsItsOwnAttachmentAndThemeType)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr target = idea("Target", "t");
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("t"));
    ASSERT_TRUE(root->addIdea(target));
    ASSERT_TRUE(root->addIdea(linkIdea));

    linkIdea->setText(QStringLiteral("changed"));
    linkIdea->setURL(QStringLiteral("https://changed.example/"));
    linkIdea->setNote(QStringLiteral("changed"));
    linkIdea->setColor(ColorTheme::colorByName(QStringLiteral("green1")));
    test::LogCapture log;
    EXPECT_FALSE(linkIdea->addIdea(idea("X", "x")));
    EXPECT_EQ(log.count(QStringLiteral("-[Idea addIdea:]")), 1);

    EXPECT_EQ(target->text(), QStringLiteral("Target"));
    EXPECT_TRUE(target->URL().isNull());
    EXPECT_TRUE(target->note().isNull());
    EXPECT_EQ(target->color(), nullptr);
    EXPECT_EQ(linkIdea->text(), QStringLiteral("Target"));
    EXPECT_TRUE(linkIdea->ideas().empty());

    const ObjectID attachment(QStringLiteral("00112233445566778899aabbccddeeff00112233"),
                              QStringLiteral("png"));
    linkIdea->setAtt(attachment);
    linkIdea->setColorThemeType(ColorThemeTypeLighterColor);
    const IconImagePtr icon =
        IconImage::initWithName(QStringLiteral("n"), QStringLiteral("c"), QStringLiteral("x"));
    linkIdea->setIconImage(icon);
    EXPECT_EQ(linkIdea->att(), attachment);
    EXPECT_TRUE(target->att().isNull());
    EXPECT_EQ(linkIdea->colorThemeType(), ColorThemeTypeLighterColor);
    EXPECT_EQ(target->colorThemeType(), ColorThemeTypeSameColor);
    // The icon is the link's own; reading still shows the target's, which has none.
    EXPECT_EQ(target->iconImage(), nullptr);
    EXPECT_EQ(linkIdea->iconImage(), nullptr);
}

TEST(IdeaContent, ALinkWhoseTargetIsMissingReadsNothing)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("missing"));
    ASSERT_TRUE(root->addIdea(linkIdea));
    EXPECT_EQ(linkIdea->linkedIdea(), nullptr);
    expectReadsNothing(linkIdea);
}

TEST(IdeaContent, AGoneTargetIsLookedUpAgainOnceAnIdeaJoinsTheTree)
{
    const IdeaPtr root = idea("Root", "r");
    IdeaPtr first = idea("First", "t");
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("t"));
    ASSERT_TRUE(root->addIdea(first));
    ASSERT_TRUE(root->addIdea(linkIdea));
    EXPECT_EQ(linkIdea->text(), QStringLiteral("First"));

    root->removeIdea(first, false);
    first.reset();
    ASSERT_TRUE(root->addIdea(idea("Second", "t")));
    EXPECT_EQ(linkIdea->text(), QStringLiteral("Second"));
}

// ---- Link cycles (only stored data can make them)

TEST(IdeaLinkCycles, ASelfLinkReadsAsABrokenLink)
{
    const IdeaPtr root = decodeIdea(textRecord(QStringLiteral("r"), QStringLiteral("Root"),
                                               {linkRecord(QStringLiteral("self"), QStringLiteral("self"))}));
    ASSERT_TRUE(root);
    const IdeaPtr self = child(root, 0);
    EXPECT_EQ(self->linkedIdea(), self);
    expectReadsNothing(self);
    EXPECT_EQ(root->calculateWholeTreeSize(), 2);
}

TEST(IdeaLinkCycles, TwoLinksToEachOtherReadAsBrokenLinks)
{
    const IdeaPtr root = decodeIdea(textRecord(QStringLiteral("r"), QStringLiteral("Root"),
                                               {linkRecord(QStringLiteral("a"), QStringLiteral("b")),
                                                linkRecord(QStringLiteral("b"), QStringLiteral("a"))}));
    ASSERT_TRUE(root);
    expectReadsNothing(child(root, 0));
    expectReadsNothing(child(root, 1));

    // The cycle survives link consistency (both targets exist) and copies.
    root->ensureLinkConsistencyInSubTree();
    EXPECT_EQ(root->ideas().size(), 2u);
    const IdeaPtr copy = root->deepCopyWithNewIdentifiersNoExternalLinks();
    EXPECT_EQ(child(copy, 0)->linkedIdea(), child(copy, 1));
    EXPECT_EQ(child(copy, 1)->linkedIdea(), child(copy, 0));
    expectReadsNothing(child(copy, 0));

    // Copying one link of the cycle alone, without external links: its target has no content.
    const IdeaPtr single = child(root, 0)->deepCopyWithNewIdentifiersNoExternalLinks();
    EXPECT_EQ(single->ideaType(), IdeaTypeText);
    EXPECT_TRUE(single->text().isNull());
}

TEST(IdeaLinkCycles, AChainOfLinksReadsItsEndUpToTheHopLimit)
{
    // l0 -> l1 -> ... -> l64 -> t: l0 needs 65 hops, l1 exactly 64.
    std::vector<std::shared_ptr<MemoryRecord>> children;
    for (int i = 0; i <= Idea::MaxLinkHops; ++i)
        children.push_back(linkRecord(QStringLiteral("l%1").arg(i), QStringLiteral("l%1").arg(i + 1)));
    children.back() = linkRecord(QStringLiteral("l%1").arg(Idea::MaxLinkHops), QStringLiteral("t"));
    children.push_back(textRecord(QStringLiteral("t"), QStringLiteral("End")));
    const IdeaPtr root = decodeIdea(textRecord(QStringLiteral("r"), QStringLiteral("Root"), children));
    ASSERT_TRUE(root);
    EXPECT_TRUE(child(root, 0)->text().isNull());
    EXPECT_EQ(child(root, 1)->text(), QStringLiteral("End"));
    EXPECT_EQ(child(root, Idea::MaxLinkHops)->text(), QStringLiteral("End"));
}

// ---- Exporter queries

TEST(IdeaQueries, TextIdeasAnswerByTheirContent)
{
    const IdeaPtr full = idea("T", "t");
    full->setNote(QStringLiteral("n"));
    full->setColor(ColorTheme::colorByName(QStringLiteral("blue2")));
    full->setIconImage(
        IconImage::initWithName(QStringLiteral("n"), QStringLiteral("c"), QStringLiteral("s")));
    full->setURL(QStringLiteral("https://example.org/"));
    EXPECT_TRUE(full->hasText());
    EXPECT_TRUE(full->hasNote());
    EXPECT_TRUE(full->hasColor());
    EXPECT_TRUE(full->hasIcon());
    EXPECT_FALSE(full->hasURL()) << "a text idea never has a web link for the exporters";

    const IdeaPtr empty = Idea::initWithText(QString());
    EXPECT_FALSE(empty->hasText());
    EXPECT_FALSE(empty->hasNote());
    EXPECT_FALSE(empty->hasColor());
    EXPECT_FALSE(empty->hasIcon());
    EXPECT_TRUE(Idea::initWithText(QStringLiteral(""))->hasText()) << "an empty text is still a text";
}

TEST(IdeaQueries, WebLinkIdeasAnswerOnlyTheirURLAndPictureIdeasNothing)
{
    const IdeaPtr web = Idea::initWithURL(QStringLiteral("https://example.org/"), QVImage());
    web->setText(QStringLiteral("title"));
    web->setNote(QStringLiteral("n"));
    web->setColor(ColorTheme::colorByName(QStringLiteral("blue2")));
    web->setIconImage(IconImage::initWithName(QStringLiteral("n"), QStringLiteral("c"), QStringLiteral("s")));
    EXPECT_FALSE(web->hasText());
    EXPECT_FALSE(web->hasNote());
    EXPECT_FALSE(web->hasColor());
    EXPECT_FALSE(web->hasIcon());
    EXPECT_TRUE(web->hasURL());
    EXPECT_EQ(web->exportTitle(), QStringLiteral("https://example.org/"));

    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(solid(10, 10, Qt::red)), ObjectID());
    picture->setText(QStringLiteral("title"));
    picture->setURL(QStringLiteral("https://example.org/"));
    EXPECT_FALSE(picture->hasText());
    EXPECT_FALSE(picture->hasURL());
    EXPECT_EQ(picture->exportTitle(), QStringLiteral("(image)"));
}

TEST(IdeaQueries, ExportTitleIsEmptyWhenNothingIsSet)
{
    EXPECT_EQ(Idea::initWithText(QStringLiteral("Title"))->exportTitle(), QStringLiteral("Title"));
    const QString none = Idea::initWithText(QString())->exportTitle();
    EXPECT_TRUE(none.isEmpty());
    EXPECT_FALSE(none.isNull());
    EXPECT_EQ(Idea::initWithURL(QString(), QVImage())->exportTitle(), QStringLiteral(""));
}

TEST(IdeaQueries, ExportFileNameWithAnExtensionUsesTheCleanedTextOrDocument)
{
    EXPECT_EQ(Idea::initWithText(QStringLiteral("Hello World, again"))
                  ->exportFileNameForType(QStringLiteral("corvex")),
              QStringLiteral("HelloWorld.corvex"));
    EXPECT_EQ(Idea::initWithText(QStringLiteral("a: b/c"))->exportFileNameForType(QStringLiteral("pdf")),
              QStringLiteral("abc.pdf"));
    // Only characters the cleaning removes: blanks, emoji, symbols, ":" and "/".
    EXPECT_EQ(Idea::initWithText(QStringLiteral(" \U0001F600 \u2764 :/ $ \n"))
                  ->exportFileNameForType(QStringLiteral("corvex")),
              QStringLiteral("document.corvex"));
    EXPECT_EQ(Idea::initWithText(QString())->exportFileNameForType(QStringLiteral("corvex")),
              QStringLiteral("document.corvex"));
}

TEST(IdeaQueries, ExportFileNameWithoutAnExtensionIsTheTextCutTo30Characters)
{
    const QString forty = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789ABCD");
    EXPECT_EQ(Idea::initWithText(forty)->exportFileNameForType(QString()), forty.left(30));
    EXPECT_EQ(Idea::initWithText(QStringLiteral("short: name"))->exportFileNameForType(QString()),
              QStringLiteral("short: name"));
    EXPECT_EQ(Idea::initWithText(QStringLiteral(""))->exportFileNameForType(QString()),
              QStringLiteral("document"));
    EXPECT_EQ(Idea::initWithText(QString())->exportFileNameForType(QString()), QStringLiteral("document"));
    // The 30th unit would be half an emoji: the cut keeps whole characters.
    const QString emojiAtCut = QString(29, QLatin1Char('a')) + QStringLiteral("\U0001F600tail");
    EXPECT_EQ(Idea::initWithText(emojiAtCut)->exportFileNameForType(QString()),
              QString(29, QLatin1Char('a')));
}

// ---- Names and descriptions

TEST(IdeaDescription, StringFromIdeaTypeNamesEveryTypeAndFlagsOthers)
{
    EXPECT_EQ(Idea::stringFromIdeaType(0), QStringLiteral("IdeaTypeUndefined"));
    EXPECT_EQ(Idea::stringFromIdeaType(1), QStringLiteral("IdeaTypeText"));
    EXPECT_EQ(Idea::stringFromIdeaType(2), QStringLiteral("IdeaTypeImage"));
    EXPECT_EQ(Idea::stringFromIdeaType(3), QStringLiteral("IdeaTypeURL"));
    EXPECT_EQ(Idea::stringFromIdeaType(4), QStringLiteral("IdeaTypeLink"));
    EXPECT_EQ(Idea::stringFromIdeaType(5), QStringLiteral("WRONG_IDEA_TYPE"));
    EXPECT_EQ(Idea::stringFromIdeaType(~IdeaType(0)), QStringLiteral("WRONG_IDEA_TYPE"));
}

TEST(IdeaDescription, DescriptionShowsTextAndAddressForTextIdeasAndTheTypeOtherwise)
{
    const IdeaPtr text = idea("Hello", "id1");
    const QRegularExpression textForm(
        QStringLiteral("^<Idea text=\\[Hello\\] identifier=\\[id1\\] 0x([0-9a-f]+)>$"));
    const QRegularExpressionMatch match = textForm.match(text->description());
    ASSERT_TRUE(match.hasMatch()) << text->description().toStdString();
    EXPECT_EQ(match.captured(1).toULongLong(nullptr, 16), quintptr(text.get()));

    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("id1"));
    EXPECT_EQ(linkIdea->description(),
              QStringLiteral("<Idea type=[IdeaTypeLink] identifier=[%1]>").arg(linkIdea->identifier()));
    EXPECT_EQ(Idea::initWithText(QString(), QStringLiteral("n"))->description().left(30),
              QStringLiteral("<Idea text=[(null)] identifier"));
}

TEST(IdeaDescription, DebugDescriptionIsTheStableTreeDump)
{
    const IdeaPtr root = idea("Root", "r");
    const IdeaPtr a = idea("A", "a");
    const IdeaPtr linkIdea = Idea::initWithLinkToIdea(QStringLiteral("r"));
    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(), ObjectID());
    ASSERT_TRUE(root->addIdea(a));
    ASSERT_TRUE(a->addIdea(linkIdea));
    ASSERT_TRUE(root->addIdea(picture));
    EXPECT_EQ(root->debugDescription(), QStringLiteral("<Idea identifier=[r] text: [Root] i=r \n"
                                                       "  text: [A] i=a \n"
                                                       "    IdeaTypeLink i=%1 \n"
                                                       "  IdeaTypeImage i=%2 \n"
                                                       ">")
                                            .arg(linkIdea->identifier(), picture->identifier()));
    EXPECT_EQ(a->debugDescription(),
              QStringLiteral("<Idea text: [A] i=a \n  IdeaTypeLink i=%1 \n>").arg(linkIdea->identifier()));
}

// ---- Colour

TEST(IdeaColour, ColorThemeFollowsTheThemeType)
{
    const IdeaPtr text = idea("T", "t");
    EXPECT_EQ(text->colorTheme(), nullptr) << "no colour, no theme";

    const ColorPtr red5 = ColorTheme::colorByName(QStringLiteral("red5"));
    ASSERT_TRUE(red5);
    text->setColor(red5);
    const auto single = text->colorTheme();
    ASSERT_TRUE(single);
    ASSERT_EQ(single->colors().size(), 1u);
    EXPECT_EQ(single->colors()[0], red5);
    EXPECT_NE(single, red5->theme());

    text->setColorThemeType(ColorThemeTypeVaryingColors);
    EXPECT_EQ(text->colorTheme(), red5->theme());
    text->setColorThemeType(ColorThemeTypeLighterColor);
    EXPECT_EQ(text->colorTheme(), red5->theme());

    // A colour made outside the table belongs to no theme.
    text->setColor(Color::withRGB(QStringLiteral("custom"), RGBA{10, 20, 30, 1}));
    EXPECT_EQ(text->colorTheme(), nullptr);
}

TEST(IdeaColour, ApplyColorThemeGivesChildIItsThemesColourIModuloTheCount)
{
    const IdeaPtr parent = idea("P", "p");
    for (int i = 0; i < 9; ++i)
        ASSERT_TRUE(parent->addIdea(Idea::initWithText(QString::number(i))));
    const ColorPtr green3 = ColorTheme::colorByName(QStringLiteral("green3"));
    ASSERT_TRUE(green3);
    parent->setColor(green3);
    parent->setColorThemeType(ColorThemeTypeVaryingColors);
    parent->applyColorTheme();
    const auto& colors = green3->theme()->colors();
    ASSERT_EQ(colors.size(), 7u);
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_EQ(parent->ideas()[i]->color(), colors[i % 7]) << "child " << i;

    parent->setColorThemeType(ColorThemeTypeSameColor);
    parent->applyColorTheme();
    for (const IdeaPtr& c : parent->ideas())
        EXPECT_EQ(c->color(), green3);
}

// A colourless idea is drawn with what applyColorTheme would give its place, through
// colourless ancestors too, and the ideas keep no colour.
TEST(IdeaColour, ColourlessIdeasAreDrawnWithTheColourTheirPlaceWouldTake)
{
    const auto& themes = ColorTheme::standardThemes();
    ASSERT_FALSE(themes.empty());
    const ColorPtr firstStandard = themes.front()->colors().front();
    const ColorPtr blue2 = ColorTheme::colorByName(QStringLiteral("blue2"));
    ASSERT_TRUE(blue2);

    // root (no colour, varying) > a, b, c (no colour; c lighter) > c0 .. c8 (no colour)
    const IdeaPtr root = idea("R", "r");
    root->setColorThemeType(ColorThemeTypeVaryingColors);
    for (const char* name : {"a", "b", "c"})
        ASSERT_TRUE(root->addIdea(idea(name, name)));
    const IdeaPtr c = root->ideas()[2];
    c->setColorThemeType(ColorThemeTypeLighterColor);
    for (int i = 0; i < 9; ++i)
        ASSERT_TRUE(c->addIdea(Idea::initWithText(QString::number(i))));
    EXPECT_EQ(DrawnColor::ofIdea(*root), firstStandard);

    // The same colours as applying the themes top-down to a copy would store.
    const IdeaPtr applied = root->deepCopyWithNewIdentifiersNoExternalLinks();
    applied->setColor(firstStandard);
    applied->applyColorTheme();
    applied->ideas()[2]->applyColorTheme();
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(DrawnColor::ofIdea(*root->ideas()[i]), applied->ideas()[i]->color()) << i;
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_EQ(DrawnColor::ofIdea(*c->ideas()[i]), applied->ideas()[2]->ideas()[i]->color()) << i;
    // Child 8 of the third idea: colour 8 modulo 7 of the theme of the root's first colour.
    EXPECT_EQ(DrawnColor::ofIdea(*c->ideas()[8]), firstStandard->theme()->colors()[1]);

    // An ancestor's own colour is where the places start; a child's own colour wins.
    c->setColor(blue2);
    EXPECT_EQ(DrawnColor::ofIdea(*c->ideas()[3]), blue2->theme()->colors()[3]);
    c->setColorThemeType(ColorThemeTypeSameColor);
    EXPECT_EQ(DrawnColor::ofIdea(*c->ideas()[3]), blue2);
    c->ideas()[3]->setColor(firstStandard);
    EXPECT_EQ(DrawnColor::ofIdea(*c->ideas()[3]), firstStandard);

    // Drawing stores nothing.
    EXPECT_EQ(root->color(), nullptr);
    EXPECT_EQ(root->ideas()[0]->color(), nullptr);
    EXPECT_EQ(c->ideas()[4]->color(), nullptr);

    // A parent colour outside the table has no theme: its children are drawn in it.
    c->setColor(Color::withRGB(QStringLiteral("custom"), RGBA{10, 20, 30, 1}));
    EXPECT_EQ(DrawnColor::ofIdea(*c->ideas()[5]), c->color());
}

TEST(IdeaColour, ApplyColorThemeWithoutATheme_ClearsEveryChildsColour)
{
    const IdeaPtr parent = idea("P", "p");
    for (int i = 0; i < 3; ++i) {
        const IdeaPtr c = Idea::initWithText(QString::number(i));
        c->setColor(ColorTheme::colorByName(QStringLiteral("violet1")));
        ASSERT_TRUE(parent->addIdea(c));
    }
    parent->applyColorTheme(); // no colour
    for (const IdeaPtr& c : parent->ideas())
        EXPECT_EQ(c->color(), nullptr);

    for (const IdeaPtr& c : parent->ideas())
        c->setColor(ColorTheme::colorByName(QStringLiteral("violet1")));
    parent->setColor(Color::withRGB(QStringLiteral("custom"), RGBA{10, 20, 30, 1}));
    parent->setColorThemeType(ColorThemeTypeVaryingColors);
    parent->applyColorTheme(); // a colour without theme
    for (const IdeaPtr& c : parent->ideas())
        EXPECT_EQ(c->color(), nullptr);
}
