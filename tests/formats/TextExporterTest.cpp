// The text and HTML outlines: the format's own examples, the outlines of
// tests/data/opml/outlines.json (written by tests/data/gen/make_opml_fixtures.py from the
// format alone) byte for byte, deep trees, and atomic saving.

#include "formats/TextExporter.h"
#include "model/Idea.h"
#include "tests/formats/OutlineTestSupport.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <cerrno>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test::outline;

namespace {

// Trip, with the children Pack (note Socks) and Go.
IdeaPtr tripTree()
{
    const IdeaPtr trip = Idea::initWithText(QStringLiteral("Trip"));
    const IdeaPtr pack = Idea::initWithText(QStringLiteral("Pack"));
    pack->setNote(QStringLiteral("Socks"));
    EXPECT_TRUE(trip->addIdea(pack));
    EXPECT_TRUE(trip->addIdea(Idea::initWithText(QStringLiteral("Go"))));
    return trip;
}

} // namespace

TEST(TextExporterOutline, TheTripExampleWithNotesNumbersTheNoteAndRepeatsItAfterTheOutline)
{
    const QStringList lines = TextExporter::ideaAsTextOutline(tripTree(), true).split(QLatin1Char('\n'));
    EXPECT_EQ(lines.join(QStringLiteral("|")).toStdString(),
              "Trip|\tPack|\t\t(Note 1)|\tGo|||Note 1: Pack||Socks");
    EXPECT_EQ(TextExporter::ideaAsTextOutline(tripTree(), true).toStdString(),
              "Trip\n\tPack\n\t\t(Note 1)\n\tGo\n\n\nNote 1: Pack\n\nSocks");
}

TEST(TextExporterOutline, TheTripExampleWithoutNotesIsTheThreeOutlineLinesOnly)
{
    EXPECT_EQ(TextExporter::ideaAsTextOutline(tripTree(), false).toStdString(), "Trip\n\tPack\n\tGo");
}

TEST(TextExporterOutline, NotesRequestedWhereNoIdeaHasOneGiveTheOutlineWithoutNotes)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("A"));
    ASSERT_TRUE(root->addIdea(Idea::initWithText(QStringLiteral("B"))));
    const IdeaPtr picture = Idea::initWithImageAttachment(QVImage(), ObjectID());
    picture->setNote(QStringLiteral("a picture's note is not counted"));
    ASSERT_TRUE(root->addIdea(picture));
    EXPECT_EQ(TextExporter::ideaAsTextOutline(root, true).toStdString(),
              TextExporter::ideaAsTextOutline(root, false).toStdString());
    EXPECT_EQ(TextExporter::ideaAsTextOutline(root, false).toStdString(), "A\n\tB\n\t(image)");
}

TEST(TextExporterOutline, LeadingWhiteSpaceLeavesTheTextOutlineButStaysInHTML)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral(" \t\n\u00a0\u3000Spaced  "));
    EXPECT_EQ(TextExporter::textExportTitleFor(root).toStdString(), "Spaced  ");
    EXPECT_EQ(TextExporter::ideaAsTextOutline(root, false).toStdString(), "Spaced  ");
    EXPECT_EQ(TextExporter::ideaAsNestedHTMLList(root, false).toStdString(),
              "<!DOCTYPE html><html><head><meta charset=utf-8><title>Corvex document</title></head><body>"
              "<p> \t\n\u00a0\u3000Spaced  </p></body></html>");
    // A vertical tab is not white space to the platform's expressions.
    EXPECT_EQ(TextExporter::textExportTitleFor(Idea::initWithText(QStringLiteral("\vx"))).toStdString(),
              "\vx");
}

TEST(TextExporterOutline, AnEmptyResultStaysEmpty)
{
    EXPECT_TRUE(TextExporter::ideaAsTextOutline(nullptr, true).isEmpty());
    EXPECT_EQ(TextExporter::ideaAsTextOutline(Idea::initWithText(QString()), false).toStdString(), "");
}

TEST(TextExporterOutline, ALinkShowsItsTargetsTitleAndNoteAndTakesANumber)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Root"));
    const IdeaPtr target = Idea::initWithText(QStringLiteral("Target"), QStringLiteral("target-id"));
    target->setNote(QStringLiteral("Target note"));
    ASSERT_TRUE(root->addIdea(target));
    ASSERT_TRUE(root->addIdea(Idea::initWithLinkToIdea(QStringLiteral("target-id"))));
    EXPECT_EQ(TextExporter::ideaAsTextOutline(root, true).toStdString(),
              "Root\n\tTarget\n\t\t(Note 1)\n\tTarget\n\t\t(Note 2)\n\n\n"
              "Note 1: Target\n\nTarget note\n\n"
              "Note 2: Target\n\nTarget note");
}

TEST(TextExporterBlocks, LevelTabsAndTheNotesSectionFollowTheirRules)
{
    QString tabs;
    TextExporter::addLevelTabs(3, tabs);
    TextExporter::addLevelTabs(0, tabs);
    TextExporter::addLevelTabs(-2, tabs);
    EXPECT_EQ(tabs.toStdString(), "\t\t\t");

    QString notes;
    TextExporter::addNotesFrom(tripTree(), 0, nullptr, notes);
    EXPECT_TRUE(notes.isEmpty()) << "nothing without a counter";
    qint64 counter = 7;
    TextExporter::addNotesFrom(tripTree(), 0, &counter, notes);
    EXPECT_EQ(notes.toStdString(), "\nNote 7: Pack\n\nSocks\n");
    EXPECT_EQ(counter, 8);

    QString outline;
    counter = 41;
    TextExporter::outlineIdea(tripTree(), 2, &counter, outline);
    EXPECT_EQ(outline.toStdString(), "\t\tTrip\n\t\t\tPack\n\t\t\t\t(Note 41)\n\t\t\tGo\n");
    EXPECT_EQ(counter, 42);
}

TEST(TextExporterHTML, ASingleIdeaGivesOnlyThePageFrameAroundItsParagraph)
{
    EXPECT_EQ(
        TextExporter::ideaAsNestedHTMLList(Idea::initWithText(QStringLiteral("Solo")), true).toStdString(),
        "<!DOCTYPE html><html><head><meta charset=utf-8><title>Corvex "
        "document</title></head><body><p>Solo</p></body></html>");
}

TEST(TextExporterHTML, NestedListsCarryEscapedTitlesAndNotesWhenAsked)
{
    const IdeaPtr trip = tripTree();
    trip->ideas()[0]->setNote(QStringLiteral("<Socks> & \"boots\""));
    EXPECT_EQ(TextExporter::ideaAsNestedHTMLList(trip, true).toStdString(),
              "<!DOCTYPE html><html><head><meta charset=utf-8><title>Corvex document</title></head><body>"
              "<p>Trip</p>\n<ul>\n<li><p>Pack</p>\n<pre>&lt;Socks&gt; &amp; "
              "&quot;boots&quot;</pre></li>\n<li><p>Go</p></li></ul>"
              "</body></html>");
    EXPECT_EQ(TextExporter::ideaAsNestedHTMLList(trip, false).toStdString(),
              "<!DOCTYPE html><html><head><meta charset=utf-8><title>Corvex document</title></head><body>"
              "<p>Trip</p>\n<ul>\n<li><p>Pack</p></li>\n<li><p>Go</p></li></ul>"
              "</body></html>");
}

TEST(TextExporterFixtures, EveryOutlineOfTheFixturesComesOutByteForByte)
{
    const QJsonArray cases = readJson(opmlDataDir() + QStringLiteral("/outlines.json")).toArray();
    ASSERT_GE(cases.size(), 5);
    for (const QJsonValue& value : cases) {
        const QJsonObject fixture = value.toObject();
        SCOPED_TRACE(fixture.value(QStringLiteral("name")).toString().toStdString());
        const IdeaPtr root = ideaTreeFromJson(fixture.value(QStringLiteral("tree")).toObject());
        EXPECT_EQ(TextExporter::ideaAsTextOutline(root, false).toStdString(),
                  fixture.value(QStringLiteral("text")).toString().toStdString());
        EXPECT_EQ(TextExporter::ideaAsTextOutline(root, true).toStdString(),
                  fixture.value(QStringLiteral("textWithNotes")).toString().toStdString());
        EXPECT_EQ(TextExporter::ideaAsNestedHTMLList(root, false).toStdString(),
                  fixture.value(QStringLiteral("html")).toString().toStdString());
        EXPECT_EQ(TextExporter::ideaAsNestedHTMLList(root, true).toStdString(),
                  fixture.value(QStringLiteral("htmlWithNotes")).toString().toStdString());
    }
}

TEST(TextExporterDepth, ATreeOfTheMaximumDepthIsExportedWithEveryLevel)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("1"));
    IdeaPtr last = root;
    for (int level = 2; level <= Idea::MaxDepth; ++level) {
        IdeaPtr next = Idea::initWithText(QString::number(level));
        next->setNote(QStringLiteral("n"));
        ASSERT_TRUE(last->addIdea(next));
        last = next;
    }
    const QString text = TextExporter::ideaAsTextOutline(root, true);
    EXPECT_TRUE(text.contains(QString(Idea::MaxDepth - 1, QLatin1Char('\t')) + QStringLiteral("1000\n")))
        << text.size();
    EXPECT_TRUE(text.endsWith(QStringLiteral("Note 999: 1000\n\nn")));
    const QString html = TextExporter::ideaAsNestedHTMLList(root, false);
    EXPECT_EQ(html.count(QStringLiteral("<ul>")), Idea::MaxDepth - 1);
    EXPECT_EQ(html.count(QStringLiteral("</ul>")), Idea::MaxDepth - 1);
    EXPECT_EQ(html.count(QStringLiteral("</li>")), Idea::MaxDepth - 1);
    EXPECT_TRUE(html.endsWith(QStringLiteral("<p>1000</p>") +
                              QString(QStringLiteral("</li></ul>")).repeated(Idea::MaxDepth - 1) +
                              QStringLiteral("</body></html>")));
}

TEST(TextExporterSaving, WritingReplacesTheFileAndAFailureLeavesTheOldOne)
{
    const QString path = test::testDir() + QStringLiteral("/outline.txt");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("previous outline");
    }
    {
        test::FaultShim shim;
        shim.failFrom(test::FaultShim::Op::Fsync, 1, EIO);
        const Status failed = TextExporter::writeToFile(QStringLiteral("new"), path);
        EXPECT_FALSE(failed.ok());
    }
    EXPECT_EQ(readBytes(path).toStdString(), "previous outline");

    const QString outline =
        TextExporter::ideaAsTextOutline(tripTree(), true) + QStringLiteral(" \u00e9\U0001F600");
    const Status status = TextExporter::writeToFile(outline, path);
    ASSERT_TRUE(status.ok()) << status.error().toString().toStdString();
    EXPECT_EQ(readBytes(path), outline.toUtf8());
}
