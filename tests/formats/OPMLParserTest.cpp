// The OPML reader on documents written in the tests: the reading rules (head, title,
// outlines, capitals, files without a head), the colouring of read ideas, and the bounds on
// outside bytes (depth, entities, encodings, damaged files).

#include "formats/OPMLParser.h"
#include "formats/DocumentFormats.h"
#include "model/ColorTheme.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "tests/formats/OutlineTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QUrl>
#include <gtest/gtest.h>

using namespace corvex;
using corvex::test::LogCapture;
using corvex::test::outline::importDump;
using corvex::test::outline::shown;

namespace {

IdeaPtr parse(const QByteArray& data)
{
    OPMLParser parser;
    return parser.parseIdeaFromOPMLData(data);
}

QByteArray document(const QByteArray& body)
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + body;
}

// Outlines nested `levels` deep, each titled by its level, under a head when asked.
QByteArray nested(int levels, bool withHead)
{
    QByteArray data = "<opml version=\"1.0\">";
    if (withHead)
        data += "<head><title>Deep</title></head>";
    data += "<body>";
    for (int i = 1; i <= levels; ++i)
        data += "<outline text=\"" + QByteArray::number(i) + "\">";
    for (int i = 0; i < levels; ++i)
        data += "</outline>";
    data += "<outline text=\"after\"/></body></opml>";
    return document(data);
}

std::string colorName(const IdeaPtr& idea)
{
    return idea->color() ? idea->color()->name().toStdString() : std::string("(none)");
}

} // namespace

TEST(OPMLParserReading, AUsualFileGivesTheHeadRootTitledByTitleWithTheBodyOutlinesAsChildren)
{
    const IdeaPtr root = parse(
        document("<opml version=\"2.0\"><head><title>Plans</title><ownerName>me</ownerName></head>"
                 "<body><outline text=\"One\" _note=\"first\" type=\"x\"><outline text=\"One.a\"/></outline>"
                 "<outline text=\"Two\"/></body></opml>"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(importDump(root).toStdString(), "text=[Plans] note=(null) color=green0\n"
                                              "  text=[One] note=[first] color=blue0\n"
                                              "    text=[One.a] note=(null) color=blue1\n"
                                              "  text=[Two] note=(null) color=red0\n");
    root->traverseNaturally(
        [](const IdeaPtr& idea, qint64) {
            EXPECT_EQ(idea->ideaType(), IdeaTypeText) << idea->description().toStdString();
            EXPECT_EQ(idea->colorThemeType(), ColorThemeTypeVaryingColors)
                << idea->description().toStdString();
        },
        0);
}

TEST(OPMLParserReading, ElementNamesInCapitalsAreReadButAttributeNamesMustMatchExactly)
{
    const IdeaPtr root =
        parse(document("<OPML><HEAD><TITLE>Loud</TITLE></HEAD><BODY>"
                       "<OUTLINE TEXT=\"ignored\" _note=\"kept\"/><Outline text=\"mixed\" _NOTE=\"ignored\"/>"
                       "</BODY></OPML>"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(importDump(root).toStdString(), "text=[Loud] note=(null) color=green0\n"
                                              "  text=(null) note=[kept] color=blue0\n"
                                              "  text=[mixed] note=(null) color=red0\n");
}

TEST(OPMLParserReading, WithoutAHeadTheFirstOutlineIsTheRootAndNothingAfterItsEndIsRead)
{
    const IdeaPtr root =
        parse(document("<opml><body><outline text=\"First\" _note=\"n\"><outline text=\"Child\"/></outline>"
                       "<outline text=\"Second\"/></body></opml>"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(importDump(root).toStdString(), "text=[First] note=[n] color=green0\n"
                                              "  text=[Child] note=(null) color=blue0\n");
}

TEST(OPMLParserReading, AHeadWithoutTitleGivesARootWithoutTextAndATitleOutsideTheRootIsIgnored)
{
    const IdeaPtr untitled = parse(
        document("<opml><head><dateCreated>x</dateCreated></head><body><outline text=\"c\"/></body></opml>"));
    ASSERT_NE(untitled, nullptr);
    EXPECT_TRUE(untitled->text().isNull()) << shown(untitled->text()).toStdString();
    ASSERT_EQ(untitled->ideas().size(), 1u);

    // A title met while an outline is current does not rename the root.
    const IdeaPtr inner = parse(document("<opml><head><title>Root</title></head><body><outline "
                                         "text=\"c\"><title>x</title></outline></body></opml>"));
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->text().toStdString(), "Root");
    EXPECT_EQ(inner->ideas().at(0)->text().toStdString(), "c");
}

TEST(OPMLParserReading, TheTitleTakesTheCharactersSinceTheLastElementStartIncludingCdataAndReferences)
{
    const IdeaPtr root =
        parse(document("<opml><head><title>A &amp; B &#x263A; <![CDATA[<raw>]]></title></head></opml>"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text().toStdString(), "A & B \u263A <raw>");

    // An element start inside the title empties what was collected; its end does not.
    const IdeaPtr split = parse(document("<opml><head><title>before<b>bold</b>after</title></head></opml>"));
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(split->text().toStdString(), "boldafter");
}

TEST(OPMLParserReading, RawLineBreaksInAttributesReadAsSpacesAndCharacterReferencesAsTheCharacters)
{
    const IdeaPtr root = parse(
        document("<opml><head><title>t</title></head><body>"
                 "<outline text=\"raw\nline\ttab\" _note=\"ref&#10;line&#9;tab&#13;cr\"/></body></opml>"));
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->ideas().size(), 1u);
    EXPECT_EQ(root->ideas()[0]->text().toStdString(), "raw line tab");
    EXPECT_EQ(root->ideas()[0]->note().toStdString(), "ref\nline\ttab\rcr");
}

TEST(OPMLParserReading, AnEmptyNoteAttributeGivesNoNote)
{
    const IdeaPtr root = parse(document("<opml><head/><body><outline text=\"\" _note=\"\"/></body></opml>"));
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->ideas().size(), 1u);
    EXPECT_EQ(root->ideas()[0]->text().toStdString(), "");
    EXPECT_FALSE(root->ideas()[0]->text().isNull());
    EXPECT_TRUE(root->ideas()[0]->note().isNull());
}

TEST(OPMLParserReading, AParserCanBeUsedAgainAndStartsClean)
{
    OPMLParser parser;
    const IdeaPtr first = parser.parseIdeaFromOPMLData(
        document("<opml><head><title>One</title></head><body><outline text=\"a\"/></body></opml>"));
    const IdeaPtr broken = parser.parseIdeaFromOPMLData("not xml");
    const IdeaPtr second =
        parser.parseIdeaFromOPMLData(document("<opml><body><outline text=\"Two\"/></body></opml>"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(broken, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(importDump(second).toStdString(), "text=[Two] note=(null) color=green0\n");
    EXPECT_EQ(first->ideas().size(), 1u) << "the first tree is the caller's and stays as it was";
}

TEST(OPMLParserColouring, TopLevelOutlinesTakeColourZeroOfTheStandardThemesInTurn)
{
    QByteArray body = "<opml><head><title>t</title></head><body>";
    for (int i = 1; i <= 9; ++i)
        body += "<outline text=\"" + QByteArray::number(i) + "\"/>";
    const IdeaPtr root = parse(document(body + "</body></opml>"));
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->ideas().size(), 9u);
    const auto& themes = ColorTheme::standardThemes();
    ASSERT_EQ(themes.size(), 4u);
    for (std::size_t i = 0; i < 9; ++i) {
        const std::size_t k = i + 1;
        EXPECT_EQ(root->ideas()[i]->color(), themes[k % themes.size()]->colors()[0])
            << "child " << k << " has " << colorName(root->ideas()[i]);
    }
    EXPECT_EQ(root->color(), themes[0]->colors()[0]);
}

TEST(OPMLParserColouring, DeeperOutlinesTakeTheColoursOfTheirParentsThemeWrappingAtItsSize)
{
    QByteArray body = "<opml><head><title>t</title></head><body><outline text=\"p\">";
    for (int i = 1; i <= 16; ++i)
        body += "<outline text=\"" + QByteArray::number(i) + "\"><outline text=\"g\"/></outline>";
    const IdeaPtr root = parse(document(body + "</outline></body></opml>"));
    ASSERT_NE(root, nullptr);
    const IdeaPtr parent = root->ideas().at(0);
    const auto theme = ColorTheme::standardThemes()[1];
    ASSERT_EQ(parent->color(), theme->colors()[0]);
    ASSERT_EQ(parent->ideas().size(), 16u);
    for (std::size_t i = 0; i < parent->ideas().size(); ++i) {
        const IdeaPtr& child = parent->ideas()[i];
        EXPECT_EQ(child->color(), theme->colors()[(i + 1) % theme->colors().size()])
            << "child " << i + 1 << " has " << colorName(child);
        // A grandchild is the first child of its parent, coloured from the parent's theme.
        ASSERT_EQ(child->ideas().size(), 1u);
        EXPECT_EQ(child->ideas()[0]->color(), theme->colors()[1]) << colorName(child->ideas()[0]);
    }
}

TEST(OPMLParserDepth, AppendingBeyondTheMaximumDepthIsRefusedWithNothingMade)
{
    OPMLParser parser;
    LogCapture log;
    for (int level = 1; level <= Idea::MaxDepth; ++level)
        ASSERT_TRUE(parser.appendNewIdeaAsCurrent(QString::number(level))) << "level " << level;
    EXPECT_FALSE(parser.appendNewIdeaAsCurrent(QStringLiteral("too deep")));
    EXPECT_FALSE(log.contains(QStringLiteral("Assertion failure")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    // The next parse starts clean.
    const IdeaPtr root =
        parser.parseIdeaFromOPMLData(document("<opml><body><outline text=\"r\"/></body></opml>"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->calculateWholeTreeSize(), 1);
}

TEST(OPMLParserFailures, BytesThatAreNotXmlOrHoldNoHeadOrOutlineGiveNothing)
{
    EXPECT_EQ(parse(QByteArray()), nullptr);
    EXPECT_EQ(parse("plain text, not XML"), nullptr);
    EXPECT_EQ(parse(document("<opml version=\"1.0\"><body/></opml>")), nullptr);
    EXPECT_EQ(parse(document("<other><title>x</title></other>")), nullptr);
}

TEST(OPMLParserFailures, ATruncatedFileKeepsTheIdeasReadBeforeTheCutAndLogsTheStop)
{
    const QByteArray whole =
        document("<opml><head><title>Cut</title></head><body><outline text=\"Kept\"><outline text=\"Inner\"/>"
                 "<outline text=\"Lost\"/></outline></body></opml>");
    const QByteArray cut = whole.left(whole.indexOf("<outline text=\"Lost\"") + 12);
    LogCapture log;
    const IdeaPtr root = parse(cut);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(importDump(root).toStdString(), "text=[Cut] note=(null) color=green0\n"
                                              "  text=[Kept] note=(null) color=blue0\n"
                                              "    text=[Inner] note=(null) color=blue1\n");
    EXPECT_TRUE(log.contains(QStringLiteral("OPMLParser: reading stopped at")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("the 3 ideas read before it are kept")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
}

TEST(OPMLParserFailures, MalformedXmlAfterSomeIdeasKeepsThemAndIgnoresTheRest)
{
    const IdeaPtr root =
        parse(document("<opml><head><title>t</title></head><body><outline text=\"a\"/>"
                       "<outline text=\"b\" text=\"twice\"/><outline text=\"c\"/></body></opml>"));
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->ideas().size(), 1u);
    EXPECT_EQ(root->ideas()[0]->text().toStdString(), "a");
}

TEST(OPMLParserFailures, RawControlCharactersStopReadingWhereTheyStand)
{
    const IdeaPtr root = parse(document("<opml><head><title>t</title></head><body><outline text=\"a\"/>"
                                        "<outline text=\"b\x01\"/></body></opml>"));
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->ideas().size(), 1u);
    EXPECT_EQ(root->ideas()[0]->text().toStdString(), "a");
}

TEST(OPMLParserDepth, OutlinesToTheModelsMaximumDepthAreReadCompletely)
{
    // With a head the root is level 1, so 999 nested outlines reach level 1000.
    const IdeaPtr withHead = parse(nested(Idea::MaxDepth - 1, true));
    ASSERT_NE(withHead, nullptr);
    EXPECT_EQ(withHead->subtreeDepth(), Idea::MaxDepth);
    EXPECT_EQ(withHead->calculateWholeTreeSize(), Idea::MaxDepth + 1)
        << "the outline after the deep one is read too";
    EXPECT_EQ(withHead->ideas().back()->text().toStdString(), "after");

    // Without a head the first outline is level 1.
    const IdeaPtr bare = parse(nested(Idea::MaxDepth, false));
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->subtreeDepth(), Idea::MaxDepth);
    EXPECT_EQ(bare->calculateWholeTreeSize(), Idea::MaxDepth);
}

TEST(OPMLParserDepth, AnOutlineOneLevelPastTheMaximumStopsReadingThereAndKeepsTheTreeRead)
{
    LogCapture log;
    const IdeaPtr withHead = parse(nested(Idea::MaxDepth, true));
    ASSERT_NE(withHead, nullptr);
    EXPECT_EQ(withHead->subtreeDepth(), Idea::MaxDepth);
    // The root and 999 outlines; the too deep outline and everything after it are not read.
    EXPECT_EQ(withHead->calculateWholeTreeSize(), Idea::MaxDepth);
    EXPECT_TRUE(log.contains(QStringLiteral("the outline is deeper than 1000 levels")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Assertion failure")))
        << "the parser checks the depth before the model refuses";

    const IdeaPtr bare = parse(nested(Idea::MaxDepth + 1, false));
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(bare->subtreeDepth(), Idea::MaxDepth);
    EXPECT_EQ(bare->calculateWholeTreeSize(), Idea::MaxDepth);
}

TEST(OPMLParserDepth, FarDeeperNestingStaysBoundedAndQuick)
{
    QElapsedTimer timer;
    timer.start();
    const IdeaPtr root = parse(nested(test::heavyScale(100000, 20000), true));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->subtreeDepth(), Idea::MaxDepth);
    EXPECT_LT(timer.elapsed(), 20000);
}

TEST(OPMLParserEntities, TheBillionLaughsDocumentIsRefusedWithoutExpanding)
{
    QByteArray dtd = "<!DOCTYPE opml [<!ENTITY lol \"lol\">";
    QByteArray previous = "lol";
    for (int i = 1; i <= 9; ++i) {
        const QByteArray name = "lol" + QByteArray::number(i);
        dtd += "<!ENTITY " + name + " \"" + QByteArray("&" + previous + ";").repeated(10) + "\">";
        previous = name;
    }
    dtd += "]>";
    QElapsedTimer timer;
    timer.start();
    LogCapture log;
    const IdeaPtr root = parse(document(
        dtd + "<opml><head><title>&lol9;</title></head><body><outline text=\"&lol9;\"/></body></opml>"));
    // Refused as a whole at its declarations, before the head could make an empty,
    // untitled root that would import as a document.
    EXPECT_EQ(root, nullptr);
    EXPECT_TRUE(log.contains(QStringLiteral("the document is refused")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(
        log.contains(QStringLiteral("could expand to more than 4096 characters, the entity expansion limit")))
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST(OPMLParserEntities, ManyReferencesToALargeEntityAreRefusedBeforeAnyIdea)
{
    const QByteArray dtd = "<!DOCTYPE opml [<!ENTITY a \"" + QByteArray(4000, 'a') + "\">]>";
    // 400 MB of text from 300 kB, in an attribute and in text.
    const QByteArray attribute = document(dtd + "<opml><head><title>t</title></head><body><outline text=\"" +
                                          QByteArray("&a;").repeated(100000) + "\"/></body></opml>");
    const QByteArray text =
        document(dtd + "<opml><head><title>" + QByteArray("&a;").repeated(100000) + "</title></head></opml>");
    QElapsedTimer timer;
    timer.start();
    LogCapture log;
    EXPECT_EQ(parse(attribute), nullptr);
    EXPECT_EQ(parse(text), nullptr);
    EXPECT_EQ(log.count(QStringLiteral("the declared entities could expand beyond")), 2)
        << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_LT(timer.elapsed(), 5000);
}

TEST(OPMLParserEntities, EntitiesTheReaderWouldStopHalfwayRefuseTheWholeDocumentBeforeAnyIdea)
{
    // Each entity is referenced only after two outlines were read. The reader's own limit
    // counts the values it walks through as they are kept ("&amp;" as five characters, a
    // character above U+FFFF as two), so each of these would stop it at the reference and
    // leave a partial tree that imports as if it were whole.
    struct Case
    {
        const char* label;
        QByteArray declarations;
        QByteArray entity;
    };
    const std::vector<Case> cases = {
        {"predefined references", "<!ENTITY e \"" + QByteArray("&amp;").repeated(1000) + "\">", "e"},
        {"characters beyond the BMP", "<!ENTITY e \"" + QByteArray("&#x1F600;").repeated(3000) + "\">", "e"},
        {"three references to 2000", "<!ENTITY a \"" + QByteArray(2000, 'a') + "\"><!ENTITY e \"&a;&a;&a;\">",
         "e"},
        {"one value past the limit", "<!ENTITY e \"" + QByteArray(4100, 'x') + "\">", "e"},
        {"a cycle", "<!ENTITY e \"&f;\"><!ENTITY f \"&e;\">", "e"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        LogCapture log;
        const IdeaPtr root =
            parse(document("<!DOCTYPE opml [" + c.declarations +
                           "]><opml><head><title>t</title></head><body><outline text=\"one\"/>"
                           "<outline text=\"two\"/><outline text=\"&" +
                           c.entity + ";\"/></body></opml>"));
        EXPECT_EQ(root, nullptr) << root->ideas().size() << " ideas were kept";
        EXPECT_EQ(log.count(QStringLiteral("OPMLParser: the document is refused")), 1)
            << log.lines().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(log.contains(QStringLiteral("the entity expansion limit")))
            << log.lines().join(QLatin1Char('\n')).toStdString();
    }
}

TEST(OPMLParserEntities, EntitiesJustWithinTheLimitAreExpanded)
{
    struct Case
    {
        const char* label;
        QByteArray declarations;
        qsizetype length;
    };
    const std::vector<Case> cases = {
        {"two references to 2000", "<!ENTITY a \"" + QByteArray(2000, 'a') + "\"><!ENTITY e \"&a;&a;\">",
         4000},
        {"a value of the limit", "<!ENTITY e \"" + QByteArray(4096, 'x') + "\">", 4096},
        {"character references", "<!ENTITY e \"" + QByteArray("&#65;").repeated(1000) + "\">", 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const IdeaPtr root = parse(document("<!DOCTYPE opml [" + c.declarations +
                                            "]><opml><head><title>t</title></head><body><outline "
                                            "text=\"&e;\"/></body></opml>"));
        ASSERT_NE(root, nullptr);
        ASSERT_EQ(root->ideas().size(), 1u);
        EXPECT_EQ(root->ideas()[0]->text().size(), c.length);
    }
}

TEST(OPMLParserEntities, SmallDeclaredEntitiesAreExpanded)
{
    const IdeaPtr root =
        parse(document("<!DOCTYPE opml [<!ENTITY co \"Company &amp; Sons\"><!ENTITY two \"&co;, &co;\">]>"
                       "<opml><head><title>&co;</title></head><body><outline text=\"&two;\" _note=\"by "
                       "&co;\"/></body></opml>"));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text().toStdString(), "Company & Sons");
    ASSERT_EQ(root->ideas().size(), 1u);
    EXPECT_EQ(root->ideas()[0]->text().toStdString(), "Company & Sons, Company & Sons");
    EXPECT_EQ(root->ideas()[0]->note().toStdString(), "by Company & Sons");
}

TEST(OPMLParserEntities, AttributeDefaultsOfTheDocumentTypeAreNotTaken)
{
    // A few bytes of declaration would otherwise give every outline a long text.
    const QByteArray dtd =
        "<!DOCTYPE opml [<!ATTLIST outline text CDATA \"" + QByteArray(4000, 'a') + "\" _note CDATA \"n\">]>";
    const IdeaPtr root =
        parse(document(dtd + "<opml><head><title>t</title></head><body>" +
                       QByteArray("<outline/>").repeated(1000) + "<outline text=\"own\"/></body></opml>"));
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->ideas().size(), 1001u);
    EXPECT_TRUE(root->ideas().front()->text().isNull()) << root->ideas().front()->text().size();
    EXPECT_TRUE(root->ideas().front()->note().isNull());
    EXPECT_EQ(root->ideas().back()->text().toStdString(), "own");
}

TEST(OPMLParserEntities, ExternalEntitiesAreNeverRead)
{
    const QString secretPath = test::testDir() + QStringLiteral("/secret.txt");
    {
        QFile secret(secretPath);
        ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
        secret.write("SECRET-CONTENT");
    }
    const QByteArray url = QUrl::fromLocalFile(secretPath).toEncoded();
    const QByteArray inText =
        document("<!DOCTYPE opml [<!ENTITY secret SYSTEM \"" + url +
                 "\">]>"
                 "<opml><head><title>x&secret;y</title></head><body><outline text=\"plain\"/></body></opml>");
    const QByteArray inAttribute =
        document("<!DOCTYPE opml [<!ENTITY secret SYSTEM \"" + url +
                 "\">]>"
                 "<opml><head><title>t</title></head><body><outline text=\"a&secret;\"/></body></opml>");
    const QByteArray externalSubset =
        document("<!DOCTYPE opml SYSTEM \"" + url + "\"><opml><head><title>t</title></head></opml>");
    for (const QByteArray& data : {inText, inAttribute, externalSubset}) {
        const IdeaPtr root = parse(data);
        if (!root)
            continue;
        root->traverseNaturally(
            [&](const IdeaPtr& idea, qint64) {
                EXPECT_FALSE(idea->text().contains(QStringLiteral("SECRET"))) << data.toStdString();
                EXPECT_FALSE(idea->note().contains(QStringLiteral("SECRET"))) << data.toStdString();
            },
            0);
    }
    const IdeaPtr root = parse(inText);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text().toStdString(), "xy");
}

TEST(OPMLParserEncodings, DeclaredEncodingsAreHonouredAndUndecodableBytesGiveNothing)
{
    const QString title = QStringLiteral("Caf\u00e9 \u20ac");
    QByteArray windows = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<opml><head><title>Caf\xe9 "
                         "\x80</title></head></opml>";
    const IdeaPtr fromWindows = parse(windows);
    ASSERT_NE(fromWindows, nullptr);
    EXPECT_EQ(fromWindows->text().toStdString(), title.toStdString());

    EXPECT_EQ(parse("<?xml version=\"1.0\" "
                    "encoding=\"x-no-such-encoding\"?>\n<opml><head><title>t</title></head></opml>"),
              nullptr);
    EXPECT_EQ(
        parse(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml><head><title>a\xff\xfe</title></head></opml>"),
        nullptr);
}

TEST(OPMLParserInstallation, RegisteringTheFormatsMakesThePayloadReadOPMLFiles)
{
    registerDocumentFormats();
    const QByteArray data = document(
        "<opml><head><title>Installed</title></head><body><outline text=\"x\" _note=\"y\"/></body></opml>");
    const auto payload = IdeaDocumentDataObject::readFromUnknownData(
        data, QUrl::fromLocalFile(QStringLiteral("/tmp/some.OPML")));
    ASSERT_NE(payload, nullptr);
    EXPECT_EQ(payload->fileFormatVersion(), 0);
    ASSERT_NE(payload->idea(), nullptr);
    EXPECT_EQ(importDump(payload->idea()).toStdString(), "text=[Installed] note=(null) color=green0\n"
                                                         "  text=[x] note=[y] color=blue0\n");
    EXPECT_EQ(IdeaDocumentDataObject::readFromOPML("not xml"), nullptr);
}
