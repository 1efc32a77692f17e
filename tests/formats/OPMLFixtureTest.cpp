// The OPML fixtures of tests/data/opml, written by tests/data/gen/make_opml_fixtures.py from
// the format alone: files shaped like other outliners' files read to their expected trees,
// the writer reproduces the expected files byte for byte, our files pass xmllint, and a tree
// written and read back keeps its titles, notes and shape.

#include "formats/OPMLParser.h"
#include "formats/OPMLWriter.h"
#include "model/Idea.h"
#include "model/IdeaDocumentDataObject.h"
#include "tests/factory/DocumentFactory.h"
#include "tests/formats/OutlineTestSupport.h"
#include "tests/support/FaultShim.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QProcess>
#include <cerrno>
#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::test::outline;

namespace {

QStringList fixtureNames(const QString& folder, const QString& suffix)
{
    QStringList names;
    for (const QString& file : QDir(folder).entryList({QLatin1Char('*') + suffix}, QDir::Files, QDir::Name))
        names << file.chopped(suffix.size());
    return names;
}

// xmllint's verdict on the file: empty when it is well-formed.
QString xmllintComplaints(const QString& path)
{
    QProcess lint;
    lint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), path});
    if (!lint.waitForFinished(60000))
        return QStringLiteral("xmllint did not finish");
    const QString errors = QString::fromUtf8(lint.readAllStandardError());
    if (lint.exitStatus() != QProcess::NormalExit || lint.exitCode() != 0)
        return QStringLiteral("exit %1: %2").arg(lint.exitCode()).arg(errors);
    return errors;
}

QString writeTemporary(const QString& name, const QByteArray& data)
{
    const QString path = test::testDir() + QLatin1Char('/') + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(data);
    return path;
}

// The factory's tree as model ideas (through the stored document format).
IdeaPtr factoryTree(int ideas, int maxChildren = 8)
{
    IdeaDocumentDataObject::registerCodables();
    const auto payload = IdeaDocumentDataObject::readFromJSONData(
        test::makePayloadJson(test::makeDocumentTree(ideas, maxChildren)));
    EXPECT_NE(payload, nullptr);
    return payload ? payload->idea() : nullptr;
}

} // namespace

TEST(OPMLFixtures, FilesShapedLikeOtherOutlinersFilesReadToTheirExpectedTrees)
{
    const QString folder = opmlDataDir() + QStringLiteral("/import");
    const QStringList names = fixtureNames(folder, QStringLiteral(".opml"));
    ASSERT_GE(names.size(), 8) << folder.toStdString();
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        OPMLParser parser;
        const IdeaPtr root = parser.parseIdeaFromOPMLData(
            readBytes(folder + QLatin1Char('/') + name + QStringLiteral(".opml")));
        ASSERT_NE(root, nullptr);
        const QJsonObject expected =
            readJson(folder + QLatin1Char('/') + name + QStringLiteral(".expected.json")).toObject();
        EXPECT_EQ(importDump(root).toStdString(), expectedImportDump(expected).toStdString());
    }
}

TEST(OPMLFixtures, TheWriterReproducesTheExpectedFilesByteForByte)
{
    const QString folder = opmlDataDir() + QStringLiteral("/export");
    const QStringList names = fixtureNames(folder, QStringLiteral(".tree.json"));
    ASSERT_GE(names.size(), 4) << folder.toStdString();
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const IdeaPtr root = ideaTreeFromJson(
            readJson(folder + QLatin1Char('/') + name + QStringLiteral(".tree.json")).toObject());
        const QByteArray expected = readBytes(folder + QLatin1Char('/') + name + QStringLiteral(".opml"));
        EXPECT_EQ(OPMLWriter::ideaAsOPML(root).toUtf8().toStdString(), expected.toStdString());
    }
}

TEST(OPMLFixtures, TheFormatsExamplesComeOutExactly)
{
    // A root without children: the head, "<body>\n" and at once the end.
    const IdeaPtr alone = Idea::initWithText(QStringLiteral("Alone"));
    alone->setNote(QStringLiteral("not written"));
    EXPECT_EQ(OPMLWriter::ideaAsOPML(alone).toStdString(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml "
              "version=\"1.0\"><head><title>Alone</title></head><body>\n</body></opml>");

    // & and < in a title; a line feed in a note as a character reference (so that reading
    // keeps it), a missing note not written.
    const IdeaPtr root = Idea::initWithText(QStringLiteral("R & D <1>"));
    const IdeaPtr child = Idea::initWithText(QStringLiteral("a & b < c"));
    child->setNote(QStringLiteral("line one\nline two"));
    ASSERT_TRUE(root->addIdea(child));
    ASSERT_TRUE(root->addIdea(Idea::initWithText(QStringLiteral("plain"))));
    const QString written = OPMLWriter::ideaAsOPML(root);
    EXPECT_EQ(written.toStdString(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>R &amp; D "
              "&lt;1&gt;</title></head><body>\n"
              "\t<outline text=\"a &amp; b &lt; c\" _note=\"line one&#10;line two\" />\n"
              "\t<outline text=\"plain\" />\n"
              "</body></opml>");

    OPMLParser parser;
    const IdeaPtr read = parser.parseIdeaFromOPMLData(written.toUtf8());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->text().toStdString(), root->text().toStdString());
    ASSERT_EQ(read->ideas().size(), 2u);
    EXPECT_EQ(read->ideas()[0]->text().toStdString(), child->text().toStdString());
    EXPECT_EQ(read->ideas()[0]->note().toStdString(), "line one\nline two") << "the line break survives";
}

TEST(OPMLFixtures, OurFilesPassXmllint)
{
    const QString folder = opmlDataDir() + QStringLiteral("/export");
    for (const QString& name : fixtureNames(folder, QStringLiteral(".tree.json"))) {
        const IdeaPtr root = ideaTreeFromJson(
            readJson(folder + QLatin1Char('/') + name + QStringLiteral(".tree.json")).toObject());
        const QString path =
            writeTemporary(name + QStringLiteral(".opml"), OPMLWriter::ideaAsOPML(root).toUtf8());
        EXPECT_EQ(xmllintComplaints(path).toStdString(), "") << name.toStdString();
    }

    // Every character from U+0000 to U+FFFF, unpaired surrogates among them, in a title, a
    // note and the root's title.
    QString every;
    for (int c = 0; c <= 0xFFFF; ++c)
        every += QChar(char16_t(c));
    const IdeaPtr root = Idea::initWithText(every);
    const IdeaPtr child = Idea::initWithText(every);
    child->setNote(every + QStringLiteral("\U0001F600"));
    ASSERT_TRUE(root->addIdea(child));
    const QString path = writeTemporary(QStringLiteral("every.opml"), OPMLWriter::ideaAsOPML(root).toUtf8());
    EXPECT_EQ(xmllintComplaints(path).toStdString(), "");

    const IdeaPtr big = factoryTree(2000);
    ASSERT_NE(big, nullptr);
    const QString bigPath =
        writeTemporary(QStringLiteral("factory.opml"), OPMLWriter::ideaAsOPML(big).toUtf8());
    EXPECT_EQ(xmllintComplaints(bigPath).toStdString(), "");
}

TEST(OPMLRoundTrip, ATreeWrittenAndReadBackKeepsItsTitlesNotesAndShape)
{
    const IdeaPtr source = factoryTree(test::heavyScale(5000, 1000));
    ASSERT_NE(source, nullptr);
    OPMLParser parser;
    const IdeaPtr read = parser.parseIdeaFromOPMLData(OPMLWriter::ideaAsOPML(source).toUtf8());
    ASSERT_NE(read, nullptr);
    // The root's note is not part of the format; the dumps leave it out.
    EXPECT_EQ(roundTripDump(read).toStdString(), roundTripDump(source).toStdString());
}

TEST(OPMLRoundTrip, ControlCharactersAndMarkupInTitlesAndNotesSurviveOrAreDropped)
{
    const IdeaPtr source = Idea::initWithText(QStringLiteral(" \tRoot\r\nline <&>\"' \u00e9"));
    const IdeaPtr child = Idea::initWithText(QStringLiteral("\ttab\nlf\rcr \"q\" 'a' <b>&amp;"));
    child->setNote(QStringLiteral("note\r\n\ttabbed\x01\x1f end\U0001F600"));
    ASSERT_TRUE(source->addIdea(child));
    OPMLParser parser;
    const IdeaPtr read = parser.parseIdeaFromOPMLData(OPMLWriter::ideaAsOPML(source).toUtf8());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->text().toStdString(), source->text().toStdString());
    ASSERT_EQ(read->ideas().size(), 1u);
    EXPECT_EQ(read->ideas()[0]->text().toStdString(), child->text().toStdString());
    EXPECT_EQ(read->ideas()[0]->note().toStdString(), "note\r\n\ttabbed end\U0001F600")
        << "only the forbidden characters go";
}

TEST(OPMLRoundTrip, ATreeOfTheMaximumDepthIsWrittenAndReadBack)
{
    const IdeaPtr root = Idea::initWithText(QStringLiteral("level 1"));
    IdeaPtr last = root;
    for (int level = 2; level <= Idea::MaxDepth; ++level) {
        IdeaPtr next = Idea::initWithText(QStringLiteral("level %1").arg(level));
        next->setNote(QStringLiteral("note %1").arg(level));
        ASSERT_TRUE(last->addIdea(next));
        last = next;
    }
    const QString written = OPMLWriter::ideaAsOPML(root);
    EXPECT_TRUE(written.contains(QString(Idea::MaxDepth - 1, QLatin1Char('\t')) +
                                 QStringLiteral("<outline text=\"level 1000\" _note=\"note 1000\" />\n")));
    OPMLParser parser;
    const IdeaPtr read = parser.parseIdeaFromOPMLData(written.toUtf8());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->subtreeDepth(), Idea::MaxDepth);
    EXPECT_EQ(roundTripDump(read).toStdString(), roundTripDump(root).toStdString());
}

TEST(OPMLSaving, SavingReplacesTheFileWithTheDocumentInUTF8)
{
    const QString path = writeTemporary(QStringLiteral("saved.opml"), "old content");
    const IdeaPtr root = Idea::initWithText(QStringLiteral("Gr\u00fc\u00dfe"));
    ASSERT_TRUE(root->addIdea(Idea::initWithText(QStringLiteral("\u65e5\u672c"))));
    const Status status = OPMLWriter::saveToFile(root, path);
    ASSERT_TRUE(status.ok()) << status.error().toString().toStdString();
    EXPECT_EQ(readBytes(path).toStdString(), OPMLWriter::ideaAsOPML(root).toUtf8().toStdString());
}

TEST(OPMLSaving, AFailedSaveLeavesTheOldFileAndReportsTheFailure)
{
    const QString path = writeTemporary(QStringLiteral("kept.opml"), "the user's previous file");
    const IdeaPtr root = factoryTree(200);
    ASSERT_NE(root, nullptr);
    for (const auto op : {test::FaultShim::Op::Write, test::FaultShim::Op::Fsync, test::FaultShim::Op::Rename,
                          test::FaultShim::Op::Open}) {
        SCOPED_TRACE(int(op));
        Status status;
        {
            test::FaultShim shim;
            shim.failFrom(op, 1, ENOSPC);
            if (op == test::FaultShim::Op::Rename)
                shim.failFrom(test::FaultShim::Op::Link, 1, ENOSPC);
            status = OPMLWriter::saveToFile(root, path);
        }
        EXPECT_FALSE(status.ok());
        EXPECT_FALSE(status.error().isNull());
        EXPECT_EQ(readBytes(path).toStdString(), "the user's previous file");
        EXPECT_EQ(QDir(test::testDir()).entryList(QDir::Files | QDir::Hidden).size(), 1)
            << "no temporary file is left";
    }
    EXPECT_FALSE(OPMLWriter::saveToFile(nullptr, path).ok());
    EXPECT_EQ(readBytes(path).toStdString(), "the user's previous file");
}

TEST(OPMLFixtures, EveryFuzzCorpusInputReadsWithinTheBounds)
{
    const QDir corpus(opmlCorpusDir());
    const QStringList files = corpus.entryList(QDir::Files, QDir::Name);
    ASSERT_GE(files.size(), 30) << corpus.path().toStdString();
    for (const QString& file : files) {
        OPMLParser parser;
        const IdeaPtr root = parser.parseIdeaFromOPMLData(readBytes(corpus.filePath(file)));
        if (!root)
            continue;
        EXPECT_LE(root->subtreeDepth(), Idea::MaxDepth) << file.toStdString();
        qint64 characters = 0;
        root->traverseNaturally(
            [&](const IdeaPtr& idea, qint64) { characters += idea->text().size() + idea->note().size(); }, 0);
        EXPECT_LE(characters,
                  OPMLParser::EntityExpansionBudget + corpus.entryInfoList({file}).value(0).size())
            << file.toStdString();
    }
}
